#pragma once
// The favourite servers dialog: edits the servers whose VELMORCFavourites
// row carries IsFavouriteSrv "Yes". A typed server is added once its
// directory answers; the network picker adds ticked servers; OK stores the
// list and rebuilds the favourites tree of the active browse window when
// that window shows it.
#include <QDialog>

#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

class frmFavourites : public QDialog {
  Q_OBJECT

 public:
  explicit frmFavourites(QWidget* parent = nullptr);
  ~frmFavourites() override;

  QLabel* lblComputerName = nullptr;
  QLineEdit* txtComputerName = nullptr;
  QPushButton* cmdAdd = nullptr;
  QPushButton* cmdAddFT = nullptr;
  QLabel* lblFavorites = nullptr;
  QListWidget* lbFavorites = nullptr;
  QPushButton* cmdRemove = nullptr;
  QPushButton* cmdOk = nullptr;
  QPushButton* cmdCancel = nullptr;

  void Form_Load();
  void txtComputerName_Change();
  void lbFavorites_Click();
  void cmdAdd_Click();
  void cmdAddFT_Click();
  void cmdRemove_Click();
  void cmdOk_Click();
  void cmdCancel_Click();
  // Enter (13) runs Add; Escape (27) closes without storing.
  void HandleFavouritesKey(int KeyCode);

  // The entries of lbFavorites, top to bottom.
  std::vector<std::string> Entries() const;
  // Inserts a server at the top of the list.
  void InsertEntry(const std::string& server);

  // Shows the dialog modally; it unloads itself.
  void ShowModal();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void reject() override;
};

// Stores a favourites list: a server taken off the list loses its
// favourite row (only the flag becomes "No" on a row that also carries the
// default flag), a server added gets IsFavouriteSrv "Yes" on its own row or
// a new row (name, "No", "Yes"); IsDefaultSrv is never written. Throws
// velmo::ComError when the database refuses.
void SaveFavouriteServers(const std::vector<std::string>& servers);

// The servers whose row carries IsFavouriteSrv "Yes", in table order,
// rows with an empty name left out.
std::vector<std::string> ReadFavouriteServers();

// Shows the favourites dialog modally (the main window's Add/Remove
// Favorites command).
void ShowFavouritesDialog();
