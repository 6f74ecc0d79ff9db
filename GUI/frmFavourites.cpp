// The favourite servers dialog.
#include "frmFavourites.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>

#include <memory>

#include "ComError.h"
#include "Database.h"
#include "Directory.h"
#include "Mdifrm.h"
#include "TextPartsUnicode.h"
#include "DialogControls.h"
#include "Ui.h"
#include "WaitCursor.h"
#include "frmChooseComputers.h"
#include "frmExch.h"
#include "modExch.h"
#include "modExchTree.h"
#include "modGlobals.h"

namespace db = velmo::db;
using velmo::ui::Ui;

namespace {

void SetMainStatus(const std::string& text) {
  if (!gMdifrm) return;
  if (QLabel* panel = gMdifrm->Panel(1)) {
    panel->setText(QString::fromStdString(text));
    panel->repaint();
  }
}

using velmo::text::UpperUnicode;

// A connection of its own to the inventory database, made from the shared
// connection's connection string.
std::unique_ptr<db::Connection> OwnConnection() {
  if (!gConn) throw velmo::ComError(db::kDbClosed, "The connection to the database is not open.");
  auto conn = std::make_unique<db::Connection>();
  conn->Open(gConn->ConnectionString());
  return conn;
}

// A top-level node of a browse window's favourites tree.
void AddFavouriteNode(QTreeWidget& tree, const std::string& text, const std::string& image) {
  auto* node = new QTreeWidgetItem();
  node->setText(0, QString::fromStdString(text));
  node->setData(0, kNodeImageRole, QString::fromStdString(image));
  if (gMdifrm) node->setIcon(0, gMdifrm->ImgListTvw.Item(image));
  tree.addTopLevelItem(node);
}

}  // namespace

std::vector<std::string> ReadFavouriteServers() {
  std::vector<std::string> servers;
  auto conn = OwnConnection();
  db::Recordset rs;
  rs.Open("select * from VELMORCFavourites where IsFavouriteSrv='Yes'", *conn, db::adOpenKeyset,
          db::adLockOptimistic);
  if (rs.RecordCount() != 0)
    for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext()) {
      const std::string name = rs[0L].Text();
      if (!name.empty()) servers.push_back(name);
    }
  rs.Close();
  return servers;
}

void SaveFavouriteServers(const std::vector<std::string>& servers) {
  auto conn = OwnConnection();
  auto listed = [&](const std::string& name) {
    for (const auto& s : servers)
      if (s == name) return true;
    return false;
  };

  db::Transaction transaction(*conn);
  std::vector<std::string> haveRow;  // servers that keep or get a favourite row
  {
    db::Recordset rs;
    rs.Open("select * from VELMORCFavourites", *conn, db::adOpenKeyset, db::adLockOptimistic);
    if (rs.RecordCount() > 0)
      for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext()) {
        const std::string name = rs["ServerName"].Text();
        const bool favourite = rs["IsFavouriteSrv"].Text() == "Yes";
        const bool isDefault = rs["IsDefaultSrv"].Text() == "Yes";
        if (favourite && !listed(name)) {
          // Taken off the list: the default server keeps its row.
          if (isDefault) {
            rs["IsFavouriteSrv"] = db::Value("No");
            rs.Update();
          } else {
            rs.Delete();
          }
        } else if (favourite) {
          haveRow.push_back(name);
        }
      }
    rs.Close();
  }

  for (const std::string& server : servers) {
    bool done = false;
    for (const auto& h : haveRow) done = done || h == server;
    if (done) continue;
    db::Recordset rs;
    rs.Open("select * from VELMORCFavourites where ServerName=?", *conn, {server}, db::adOpenKeyset,
            db::adLockOptimistic);
    bool flagged = false;
    if (rs.RecordCount() > 0)
      for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext())
        if (rs["ServerName"].Text() == server) {
          rs["IsFavouriteSrv"] = db::Value("Yes");
          rs.Update();
          flagged = true;
          break;
        }
    if (!flagged) {
      rs.AddNew({server, "No", "Yes"});
      rs.Update();
    }
    rs.Close();
    haveRow.push_back(server);
  }
  transaction.Commit();
}

frmFavourites::frmFavourites(QWidget* parent) : QDialog(parent) {
  setObjectName("frmFavourites");
  setWindowTitle("Velmorcast Favorites");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(4860 / 15, 3630 / 15);

  lblComputerName = new QLabel("Enter Computer Name", this);
  lblComputerName->setObjectName("lblComputerName");
  lblComputerName->setGeometry(Twips(120, 120, 1815, 255));
  txtComputerName = new QLineEdit(this);
  txtComputerName->setObjectName("txtComputerName");
  txtComputerName->setMaxLength(23);
  txtComputerName->setGeometry(Twips(120, 360, 2055, 375));
  cmdAdd = new QPushButton("&Add", this);
  cmdAdd->setObjectName("cmdAdd");
  cmdAdd->setGeometry(Twips(120, 960, 2055, 375));
  cmdAdd->setAutoDefault(false);
  cmdAddFT = new QPushButton("Add From &Tree..", this);
  cmdAddFT->setObjectName("cmdAddFT");
  cmdAddFT->setGeometry(Twips(120, 1560, 2055, 375));
  cmdAddFT->setAutoDefault(false);
  lblFavorites = new QLabel("Favorites", this);
  lblFavorites->setObjectName("lblFavorites");
  lblFavorites->setGeometry(Twips(2280, 120, 1455, 255));
  lbFavorites = new QListWidget(this);
  lbFavorites->setObjectName("lbFavorites");
  lbFavorites->setGeometry(Twips(2280, 360, 2415, 2205));
  cmdRemove = new QPushButton("&Remove", this);
  cmdRemove->setObjectName("cmdRemove");
  cmdRemove->setGeometry(Twips(2280, 2640, 2410, 375));
  cmdRemove->setAutoDefault(false);
  cmdOk = new QPushButton("OK", this);
  cmdOk->setObjectName("cmdOk");
  cmdOk->setGeometry(Twips(2280, 3120, 1120, 375));
  cmdOk->setDefault(true);
  cmdCancel = new QPushButton("&Cancel", this);
  cmdCancel->setObjectName("cmdCancel");
  cmdCancel->setGeometry(Twips(3600, 3120, 1120, 375));
  cmdCancel->setAutoDefault(false);

  // The captions keep their whole text at the dialog's font.
  FitCaption(lblComputerName);
  FitCaption(lblFavorites);

  setTabOrder(txtComputerName, cmdAdd);
  setTabOrder(cmdAdd, cmdAddFT);
  setTabOrder(cmdAddFT, cmdOk);
  setTabOrder(cmdOk, cmdCancel);
  setTabOrder(cmdCancel, lbFavorites);
  setTabOrder(lbFavorites, cmdRemove);

  connect(txtComputerName, &QLineEdit::textChanged, this, [this] { txtComputerName_Change(); });
  connect(lbFavorites, &QListWidget::itemSelectionChanged, this, [this] { lbFavorites_Click(); });
  connect(cmdAdd, &QPushButton::clicked, this, [this] { cmdAdd_Click(); });
  connect(cmdAddFT, &QPushButton::clicked, this, [this] { cmdAddFT_Click(); });
  connect(cmdRemove, &QPushButton::clicked, this, [this] { cmdRemove_Click(); });
  connect(cmdOk, &QPushButton::clicked, this, [this] { cmdOk_Click(); });
  connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
  txtComputerName->installEventFilter(this);
  UpperCaseTypedLetters(txtComputerName);
  lbFavorites->installEventFilter(this);
}

frmFavourites::~frmFavourites() = default;

void frmFavourites::Form_Load() {
  try {
    for (const std::string& server : ReadFavouriteServers()) InsertEntry(server);
  } catch (const velmo::ComError& e) {
    LogFailure("Favorites_Form_Load RecordsetObjectOpen Failed", e);
  }
  cmdAdd->setEnabled(false);
  cmdRemove->setEnabled(false);
}

std::vector<std::string> frmFavourites::Entries() const {
  std::vector<std::string> entries;
  for (int i = 0; i < lbFavorites->count(); ++i) entries.push_back(lbFavorites->item(i)->text().toStdString());
  return entries;
}

void frmFavourites::InsertEntry(const std::string& server) {
  lbFavorites->insertItem(0, QString::fromStdString(server));
}

void frmFavourites::txtComputerName_Change() { cmdAdd->setEnabled(!txtComputerName->text().isEmpty()); }

void frmFavourites::lbFavorites_Click() {
  cmdRemove->setEnabled(lbFavorites->count() > 0 && lbFavorites->currentRow() >= 0 &&
                        !lbFavorites->selectedItems().isEmpty());
}

void frmFavourites::cmdAdd_Click() {
  const std::string name = txtComputerName->text().toStdString();
  if (name.empty()) {
    txtComputerName->setFocus();
    return;
  }
  for (const std::string& entry : Entries())
    if (entry == name) {
      Ui().MsgBox("Computer already a favourite", velmo::ui::vbInformation, kProductTitle);
      txtComputerName->setFocus();
      return;
    }

  velmo::ui::WaitCursor hourglass;
  SetMainStatus("Connecting to server '" + name + "'");
  try {
    velmo::ads::GetObject("LDAP://" + name + "/RootDSE");
    InsertEntry(name);
    txtComputerName->clear();
  } catch (const velmo::ComError& e) {
    // The message is answered with the ordinary pointer.
    hourglass.Release();
    Ui().MsgBox("Unable to connect to '" + UpperUnicode(name) + "'.\r\n" + e.Description() + "\r\n\r\n" +
                    "Please enter valid server.",
                velmo::ui::vbInformation, kProductTitle);
  }
  SetMainStatus("Done");
  hourglass.Release();
  txtComputerName->setFocus();
}

void frmFavourites::cmdAddFT_Click() {
  {
    frmChooseComputers picker(this, this);
    picker.Form_Load();
    picker.ShowModal();
  }
  cmdOk->setFocus();
}

void frmFavourites::cmdRemove_Click() {
  const int p = lbFavorites->currentRow();
  if (p < 0 || lbFavorites->selectedItems().isEmpty()) return;
  delete lbFavorites->takeItem(p);
  const int count = lbFavorites->count();
  if (count > 0) {
    const int next = p == count ? p - 1 : p;
    lbFavorites->setCurrentRow(next);
    lbFavorites->item(next)->setSelected(true);
  }
  lbFavorites_Click();
}

void frmFavourites::cmdOk_Click() {
  hide();
  const std::vector<std::string> entries = Entries();

  // The active browse window's favourites tree follows when it is shown.
  if (auto* window = dynamic_cast<frmExch*>(ActiveExchWindowOfMdi())) {
    if (window->sstabObject && window->tvwFavorites &&
        window->sstabObject->tabText(window->sstabObject->currentIndex()) == "Favorite Servers") {
      SetCurrentExchWindow();
      QTreeWidget& tree = *window->tvwFavorites;
      tree.clear();
      for (const std::string& entry : entries) AddFavouriteNode(tree, entry, "Server");
      if (entries.empty()) AddFavouriteNode(tree, "No Favorite Servers", "Favorites");
    }
  }

  try {
    SaveFavouriteServers(entries);
  } catch (const velmo::ComError& e) {
    LogFailure("Favorites_cmdOk_Click RecordsetObjectOpen Failed", e);
  }
  done(QDialog::Accepted);
}

void frmFavourites::cmdCancel_Click() { done(QDialog::Rejected); }

void frmFavourites::HandleFavouritesKey(int KeyCode) {
  if (KeyCode == 13)
    cmdAdd_Click();
  else if (KeyCode == 27)
    done(QDialog::Rejected);
}

void frmFavourites::reject() { HandleFavouritesKey(27); }

void frmFavourites::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    HandleFavouritesKey(27);
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

bool frmFavourites::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && (watched == txtComputerName || watched == lbFavorites)) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      HandleFavouritesKey(13);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void frmFavourites::ShowModal() {
  setWindowModality(Qt::ApplicationModal);
  exec();
}

void ShowFavouritesDialog() {
  frmFavourites dialog(gMdifrm);
  dialog.Form_Load();
  dialog.ShowModal();
}
