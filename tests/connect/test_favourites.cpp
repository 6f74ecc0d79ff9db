// The favourite servers dialog and the network picker: the list they edit,
// the rows a save leaves in VELMORCFavourites, and the servers the picker
// finds in the sample network.
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>

#include "ConnectKit.h"
#include "frmChooseComputers.h"
#include "frmExch.h"
#include "frmFavourites.h"
#include "modExchTree.h"

using namespace connect_test;

namespace {

std::vector<std::string> TopLevelTexts(const QTreeWidget& tree) {
  std::vector<std::string> out;
  for (int i = 0; i < tree.topLevelItemCount(); ++i) out.push_back(tree.topLevelItem(i)->text(0).toStdString());
  return out;
}

std::vector<std::string> ChildTexts(const QTreeWidgetItem* node) {
  std::vector<std::string> out;
  for (int i = 0; i < node->childCount(); ++i) out.push_back(node->child(i)->text(0).toStdString());
  return out;
}

}  // namespace

// Load shows the favourite rows newest first (the connect dialog lists
// them in table order); Add probes the server and refuses duplicates and
// servers that do not answer; Remove moves the selection as it should.
TEST_F(ConnectTest, FavouritesListEditing) {
  AddFavouriteRow({"EX1", "Yes", "Yes"});
  AddFavouriteRow({"", "No", "Yes"});
  AddFavouriteRow({"EX2", "No", "No"});
  AddFavouriteRow({"EX10", "No", "Yes"});
  MapHosts({{"DEAD", "ldap://127.0.0.1:1"}});

  {
    frmConnect& connect = ConnectDialog();
    ASSERT_EQ(connect.cboServerName->count(), 2);
    EXPECT_EQ(connect.cboServerName->itemText(0), "EX1");
    EXPECT_EQ(connect.cboServerName->itemText(1), "EX10");
    EXPECT_EQ(connect.cboServerName->currentText(), "") << "the box starts empty";
    UnloadConnectDialog();
  }

  frmFavourites dialog(main);
  dialog.Form_Load();
  EXPECT_EQ(dialog.Entries(), (std::vector<std::string>{"EX10", "EX1"}));
  EXPECT_FALSE(dialog.cmdAdd->isEnabled());
  EXPECT_FALSE(dialog.cmdRemove->isEnabled());
  EXPECT_FALSE(dialog.cmdAddFT->isHidden()) << "the network picker can be reached";

  // Typed as a user types: letters become capitals, Enter adds.
  Retype(dialog.txtComputerName, "ex2");
  EXPECT_EQ(dialog.txtComputerName->text(), "EX2");
  EXPECT_TRUE(dialog.cmdAdd->isEnabled());
  velmo::test::PressKey(Qt::Key_Return);
  EXPECT_EQ(dialog.Entries(), (std::vector<std::string>{"EX2", "EX10", "EX1"}));
  EXPECT_EQ(dialog.txtComputerName->text(), "");
  EXPECT_EQ(QApplication::focusWidget(), dialog.txtComputerName) << "the focus goes back to the box";

  Retype(dialog.txtComputerName, "Ex1");
  velmo::test::PressKey(Qt::Key_Enter);
  EXPECT_EQ(Prompts(), std::vector<std::string>{"Computer already a favourite"});

  // Pasted text keeps its case; a server that does not answer is refused
  // and stays in the box.
  ui->clear();
  Retype(dialog.txtComputerName, "");
  QApplication::clipboard()->setText("dead");
  velmo::test::PressKey(Qt::Key_V, Qt::ControlModifier, QString(QChar(22)));
  EXPECT_EQ(dialog.txtComputerName->text(), "dead");
  velmo::test::PressKey(Qt::Key_Return);
  ASSERT_EQ(ui->shown().size(), 1u);
  EXPECT_EQ(LastPrompt().rfind("Unable to connect to 'DEAD'.\r\n", 0), 0u);
  EXPECT_NE(LastPrompt().find("\r\n\r\nPlease enter valid server."), std::string::npos);
  EXPECT_EQ(dialog.Entries().size(), 3u);
  EXPECT_EQ(dialog.txtComputerName->text(), "dead");

  // At most 23 characters, however many are typed.
  Retype(dialog.txtComputerName, "abcdefghijklmnopqrstuvwxyz");
  EXPECT_EQ(dialog.txtComputerName->text(), "ABCDEFGHIJKLMNOPQRSTUVW");

  dialog.lbFavorites->setCurrentRow(2);
  EXPECT_TRUE(dialog.cmdRemove->isEnabled());
  dialog.cmdRemove_Click();
  EXPECT_EQ(dialog.Entries(), (std::vector<std::string>{"EX2", "EX10"}));
  EXPECT_EQ(dialog.lbFavorites->currentRow(), 1) << "the new last entry";
  dialog.cmdRemove_Click();
  dialog.cmdRemove_Click();
  EXPECT_TRUE(dialog.Entries().empty());
  EXPECT_FALSE(dialog.cmdRemove->isEnabled());

  dialog.cmdCancel_Click();
  EXPECT_EQ(Favourites().size(), 4u) << "Cancel stores nothing";
}

// Save keeps one default server: a default server taken off the list only
// loses its favourite flag, others lose their row; an added server gets
// the flag on its own row or a row of its own; IsDefaultSrv is left alone
// whatever server was connected last.
TEST_F(ConnectTest, FavouritesSaveRoundTrip) {
  AddFavouriteRow({"EX1", "Yes", "Yes"});
  AddFavouriteRow({"EX2", "No", "Yes"});
  AddFavouriteRow({"EX10", "No", "No"});
  main->strFavoriteORDefaultServer = "EX10";

  {
    frmFavourites dialog(main);
    dialog.Form_Load();
    dialog.lbFavorites->clear();
    dialog.InsertEntry("NEWSRV");
    dialog.InsertEntry("EX10");
    dialog.cmdOk_Click();
  }
  EXPECT_EQ(Favourites(), (std::vector<FavouriteRow>{
                              {"EX1", "Yes", "No"}, {"EX10", "No", "Yes"}, {"NEWSRV", "No", "Yes"}}));

  {
    frmFavourites dialog(main);
    dialog.Form_Load();
    EXPECT_EQ(dialog.Entries(), (std::vector<std::string>{"NEWSRV", "EX10"}));
    dialog.InsertEntry("EX1");
    dialog.cmdOk_Click();
  }
  EXPECT_EQ(Favourites(), (std::vector<FavouriteRow>{
                              {"EX1", "Yes", "Yes"}, {"EX10", "No", "Yes"}, {"NEWSRV", "No", "Yes"}}));

  {
    frmFavourites dialog(main);
    dialog.Form_Load();
    dialog.lbFavorites->clear();
    dialog.cmdOk_Click();
  }
  EXPECT_EQ(Favourites(), (std::vector<FavouriteRow>{{"EX1", "Yes", "No"}}));
}

// OK rebuilds the favourites tree of the active browse window while it
// shows that tab: the entries in list order, or "No Favorite Servers".
TEST_F(ConnectTest, FavouritesTreeOfTheActiveWindowFollows) {
  main->show();
  Pump();
  ASSERT_TRUE(ConnectToExchangeServer(2, "EX1", "", ""));
  gbConnected = true;
  ShowConnectedWindow();
  Pump();
  auto* window = dynamic_cast<frmExch*>(LastConnectedExchWindow());
  ASSERT_NE(window, nullptr);
  ASSERT_EQ(ActiveExchWindowOfMdi(), window);
  window->sstabObject->setCurrentIndex(1);
  Pump();

  {
    frmFavourites dialog(main);
    dialog.Form_Load();
    dialog.InsertEntry("EX2");
    dialog.InsertEntry("EX10");
    dialog.cmdOk_Click();
  }
  EXPECT_EQ(TopLevelTexts(*window->tvwFavorites), (std::vector<std::string>{"EX10", "EX2"}));
  EXPECT_EQ(NodeImage(window->tvwFavorites->topLevelItem(0)), "Server");

  {
    frmFavourites dialog(main);
    dialog.Form_Load();
    dialog.lbFavorites->clear();
    dialog.cmdOk_Click();
  }
  EXPECT_EQ(TopLevelTexts(*window->tvwFavorites), std::vector<std::string>{"No Favorite Servers"});
  EXPECT_EQ(NodeImage(window->tvwFavorites->topLevelItem(0)), "Favorites");
  main->hide();
}

// The picker lists the sample network's domain, its Exchange servers on
// the first expansion only, toggles ticks on servers alone, and adds the
// ticked servers that the list lacks, each at the top.
TEST_F(ConnectTest, NetworkPickerAddsTickedServers) {
  frmFavourites favourites(main);
  favourites.Form_Load();
  favourites.InsertEntry("EX10");

  frmChooseComputers picker(&favourites, &favourites);
  picker.Form_Load();
  ASSERT_EQ(picker.tvwEnterprise->topLevelItemCount(), 1);
  QTreeWidgetItem* root = picker.tvwEnterprise->topLevelItem(0);
  EXPECT_EQ(root->text(0), "Enterprise");
  EXPECT_TRUE(root->isExpanded());
  ASSERT_EQ(ChildTexts(root), std::vector<std::string>{"CORP"});
  QTreeWidgetItem* corp = root->child(0);
  EXPECT_EQ(ChildTexts(corp), std::vector<std::string>{"Finding Exchange servers..."});

  picker.tvwEnterprise->expandItem(corp);
  EXPECT_EQ(ChildTexts(corp), (std::vector<std::string>{"EX1", "EX2", "EX10"}));
  picker.tvwEnterprise->collapseItem(corp);
  picker.tvwEnterprise->expandItem(corp);
  EXPECT_EQ(corp->childCount(), 3) << "listed once";
  for (int i = 0; i < 3; ++i) EXPECT_EQ(frmChooseComputers::ImageKey(corp->child(i)), "CheckBox");

  picker.tvwEnterprise_NodeClick(corp);
  picker.tvwEnterprise_NodeClick(root);
  EXPECT_EQ(frmChooseComputers::ImageKey(corp), "Domain");
  picker.tvwEnterprise_NodeClick(corp->child(1));
  picker.tvwEnterprise_NodeClick(corp->child(1));
  EXPECT_EQ(frmChooseComputers::ImageKey(corp->child(1)), "CheckBox") << "two clicks untick";
  for (int i = 0; i < 3; ++i) picker.tvwEnterprise_NodeClick(corp->child(i));

  picker.AddTickedServers();
  EXPECT_FALSE(picker.isVisible());
  EXPECT_EQ(favourites.Entries(), (std::vector<std::string>{"EX2", "EX1", "EX10"}));
  EXPECT_TRUE(Favourites().empty()) << "nothing is stored before OK";
}
