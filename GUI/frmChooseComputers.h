#pragma once
// The network picker: a tree of the network's domains ("WinNT:") whose
// Exchange servers are listed on a domain's first expansion through the
// native access class; ticked servers are added to the favourites list
// being edited.
#include <QDialog>

#include <string>

class QTreeWidget;
class QTreeWidgetItem;
class QPushButton;
class frmFavourites;

class frmChooseComputers : public QDialog {
  Q_OBJECT

 public:
  // favourites: the dialog whose list receives the ticked servers.
  explicit frmChooseComputers(frmFavourites* favourites, QWidget* parent = nullptr);
  ~frmChooseComputers() override;

  QTreeWidget* tvwEnterprise = nullptr;
  QPushButton* cmdOk = nullptr;
  QPushButton* cmdCancel = nullptr;

  void Form_Load();
  void tvwEnterprise_Expand(QTreeWidgetItem* node);
  void tvwEnterprise_NodeClick(QTreeWidgetItem* node);
  void AddTickedServers();
  void cmdCancel_Click();

  // The image key of a node ("Net", "Domain", "CompSearch", "CheckBox",
  // "CBWithTick").
  static std::string ImageKey(const QTreeWidgetItem* node);

  // Shows the picker modally.
  void ShowModal();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void reject() override;

 private:
  void SetImage(QTreeWidgetItem* node, const std::string& key);

  frmFavourites* favourites_;
  bool filling_ = false;
};
