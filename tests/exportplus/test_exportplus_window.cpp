// The Export Plus window: its catalogue, both modes, the server box, the
// connect with its initial pass, the ticks kept per object, the profile
// question, expansion, favourites and the checks made before anything is
// deleted.
#include <QImage>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTimer>
#include <QRadioButton>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "Directory.h"
#include "ExportPlusCatalogue.h"
#include "ExportPlusKit.h"
#include "ExportPlusWorkList.h"
#include "LdapProxy.h"
#include "SanitizerOptions.h"
#include "SmallFileSystem.h"
#include "WindowShots.h"
#include "frmAutoFormat.h"
#include "frmExch.h"
#include "modExch.h"

using namespace exportplus_test;

namespace {

bool Has(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

TEST(ExportPlusCatalogue, EveryKindsPagesKeysAndTicks) {
  struct Case {
    int kind;
    size_t nodes;
    size_t groups;
    std::vector<std::string> unticked;  // profile categories
    std::string firstKey;               // key of the first category node
    std::string lastKey;
  };
  const Case cases[] = {
      {0, 47, 5, {"General *"}, "", "Custom RecipientsAdvanced"},
      {1, 37, 6, {}, "ProtocolsGeneral", "POP3Idle Time-out"},
      {3, 27, 5, {}, "Container2General", "NewsfeedSecurity"},
      {4, 4, 0, {"Mailbox Resources *"}, "Private Information StoreGeneral",
       "Private Information StoreDiagnostics Logging"},
      {5, 32, 5, {}, "ServerProtocolsGeneral", "ServerPOP3Idle Time-out"},
      {6, 6, 0, {"Public Folder Resources *"}, "Public Information StoreGeneral",
       "Public Information StorePublic Folder Resources"},
      {7, 13, 0, {}, "MailboxesSummary", "MailboxesAdvanced"},
      {8, 3, 0, {}, "Message Transfer AgentGeneral", "Message Transfer AgentDiagnostics Logging"},
      {9, 3, 0, {}, "System AttendantGeneral", "System AttendantE-Mail Addresses"},
      {10, 2, 0, {}, "Container1General", "Container1Permissions"},
      {11, 2, 0, {}, "Container2General", "Container2Permissions"},
      {12, 2, 0, {}, "ServerGeneral", "ServerPermissions"},
      {2, 0, 0, {}, "", ""},
      {-1, 0, 0, {}, "", ""},
      {13, 0, 0, {}, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("kind " + std::to_string(c.kind));
    const auto nodes = CatalogueFor(c.kind);
    ASSERT_EQ(nodes.size(), c.nodes);
    EXPECT_EQ(CatalogueNeedsProfile(c.kind), c.kind == 0 || c.kind == 4 || c.kind == 6);
    if (nodes.empty()) continue;
    size_t groups = 0;
    std::set<std::string> keys;
    std::vector<std::string> unticked;
    std::vector<std::string> categoryKeys;
    for (size_t i = 0; i < nodes.size(); ++i) {
      const auto& n = nodes[i];
      if (n.group) {
        ++groups;
        EXPECT_TRUE(n.key.empty());
        EXPECT_NE(n.image, "Check");
        EXPECT_NE(n.image, "Uncheck");
        continue;
      }
      categoryKeys.push_back(n.key);
      // A category follows its group (or sits at top level in a flat kind).
      if (c.groups) {
        ASSERT_GE(n.parent, 0);
        EXPECT_TRUE(nodes[static_cast<size_t>(n.parent)].group);
      } else {
        EXPECT_EQ(n.parent, -1);
      }
      if (n.image == "Uncheck") unticked.push_back(n.text);
      EXPECT_EQ(n.image == "Uncheck", n.text.find('*') != std::string::npos) << n.text;
      EXPECT_EQ(n.key.find('*'), std::string::npos);
      if (!n.key.empty()) EXPECT_TRUE(keys.insert(n.key).second) << "duplicate key " << n.key;
    }
    EXPECT_EQ(groups, c.groups);
    EXPECT_EQ(unticked, c.unticked);
    EXPECT_EQ(categoryKeys.front(), c.firstKey);
    EXPECT_EQ(categoryKeys.back(), c.lastKey);
  }
  // Kind 0: the Summary pages have no key; the profile page keeps its key
  // without the marker; kind 1's Summary group has the Protocols picture
  // when selected.
  const auto k0 = CatalogueFor(0);
  EXPECT_EQ(k0[0].text, "Summary");
  EXPECT_EQ(k0[1].text + "|" + k0[1].key + "|" + k0[2].text + "|" + k0[2].key, "General||Permissions|");
  const auto pf = std::find_if(k0.begin(), k0.end(), [](const CatalogueNode& n) { return n.text == "General *"; });
  ASSERT_NE(pf, k0.end());
  EXPECT_EQ(pf->key, "Public FoldersGeneral");
  EXPECT_EQ(k0[static_cast<size_t>(pf->parent)].text, "Public Folders");
  EXPECT_EQ(CatalogueFor(1)[0].selectedImage, "Protocols");
}

TEST(ExportPlusWorkList, ItemsSplitAndTicksRoundTrip) {
  EXPECT_EQ(SplitWorkItem("a@@b@@c@@d@@e"), (std::vector<std::string>{"a", "b", "c", "d", "e"}));
  EXPECT_EQ(SplitWorkItem("a@@@@c"), (std::vector<std::string>{"a", "", "c", "", ""}));
  EXPECT_EQ(JoinWorkItem("k", "", "Container1General", "Velmor", "General"), "k@@@@Container1General@@Velmor@@General");

  App();
  QTreeWidget objects;
  QTreeWidget fields;
  QLabel hint;
  objects.resize(200, 300);
  hint.resize(200, 30);
  FillFieldTree(fields, objects, hint, 0, nullptr);
  EXPECT_TRUE(!hint.isHidden());
  EXPECT_EQ(fields.height(), 300 - 30 - 100 / 15);
  std::vector<std::string> list{"other@@Mailboxes@@MailboxesGeneral@@Other@@General"};
  SaveFieldTicks(list, fields, "c1", "C1");
  // Every default tick but the profile page; the keyless Summary pages
  // share one entry.
  EXPECT_EQ(list.size(), 1u + 47 - 5 - 1 - 1);
  EXPECT_TRUE(Has(list, "c1@@Summary@@@@C1@@Permissions"));
  EXPECT_FALSE(Has(list, "c1@@Summary@@@@C1@@General"));
  // Untick one page, save again: only that entry goes.
  SetFieldImage(Field(&fields, "Mailboxes", "General"), "Uncheck", nullptr);
  SaveFieldTicks(list, fields, "c1", "C1");
  EXPECT_EQ(list.size(), 1u + 47 - 5 - 2 - 1);
  EXPECT_FALSE(Has(list, "c1@@Mailboxes@@MailboxesGeneral@@C1@@General"));
  EXPECT_TRUE(Has(list, "other@@Mailboxes@@MailboxesGeneral@@Other@@General"));
  // A fresh catalogue shows the list's ticks for the object.
  FillFieldTree(fields, objects, hint, 0, nullptr);
  RestoreFieldTicks(list, fields, "c1", nullptr);
  EXPECT_EQ(FieldImage(Field(&fields, "Mailboxes", "General")), "Uncheck");
  EXPECT_EQ(FieldImage(Field(&fields, "Custom Recipients", "General")), "Check");
  EXPECT_EQ(FieldImage(Field(&fields, "Public Folders", "General *")), "Uncheck");
  // An object without entries shows nothing ticked; an empty list keeps
  // the defaults.
  RestoreFieldTicks(list, fields, "c2", nullptr);
  EXPECT_EQ(FieldImage(Field(&fields, "Distribution Lists", "General")), "Uncheck");
  FillFieldTree(fields, objects, hint, 10, nullptr);
  EXPECT_TRUE(hint.isHidden());
  EXPECT_EQ(fields.height(), 300);
  RestoreFieldTicks({}, fields, "c2", nullptr);
  EXPECT_EQ(FieldImage(Field(&fields, "", "General")), "Check");
  FillFieldTree(fields, objects, hint, 99, nullptr);
  EXPECT_EQ(fields.topLevelItemCount(), 0);
}

TEST_F(ExportPlusTest, LoadsInEitherModeWithTheFavourites) {
  Insert("VELMORCFavourites", {"ServerName", "IsDefaultSrv", "IsFavouriteSrv"},
         {db::Value(std::string("EX2")), db::Value(std::string("No")), db::Value(std::string("Yes"))});
  Insert("VELMORCFavourites", {"ServerName", "IsDefaultSrv", "IsFavouriteSrv"},
         {db::Value(std::string("EX9")), db::Value(std::string("Yes")), db::Value(std::string("No"))});
  Insert("VELMORCFavourites", {"ServerName", "IsDefaultSrv", "IsFavouriteSrv"},
         {db::Value(std::string("EX10")), db::Value(std::string("No")), db::Value(std::string("Yes"))});
  struct Case {
    short mode;
    const char* title;
    const char* button;
    const char* format;
    bool exportControls;
  };
  for (const Case& c : {Case{0, "Velmorcast ExportPlus", "&Export", "File Format  : ", true},
                        Case{1, "Velmorcast PrintPlus", "&Print", "Printer Name: ", false},
                        Case{7, "Velmorcast PrintPlus", "&Print", "Printer Name: ", false}}) {
    SCOPED_TRACE(c.title);
    Open(c.mode);
    EXPECT_EQ(window->windowTitle().toStdString(), c.title);
    EXPECT_EQ(window->cmdExport->text().toStdString(), c.button);
    EXPECT_EQ(window->lblFileFormat->text().toStdString(), c.format);
    EXPECT_EQ(window->lblInfo->text().startsWith(c.exportControls ? "ExportPlus tool" : "PrintPlus tool"), true);
    for (QWidget* w : std::initializer_list<QWidget*>{window->optFormat[0], window->optFormat[1], window->optFormat[2],
                                                      window->lblPath, window->txtPath, window->cmdBrowse})
      EXPECT_EQ(w->isVisible(), c.exportControls) << w->objectName().toStdString();
    EXPECT_EQ(window->cboPrinterName->isVisible(), !c.exportControls);
    EXPECT_TRUE(window->optFormat[0]->isChecked());
    EXPECT_EQ(window->optFormat[1]->text().toStdString() + window->optFormat[2]->text().toStdString(), "CSVHTML");
    EXPECT_FALSE(window->cmdAddtoFav->isEnabled());
    EXPECT_FALSE(window->cmdExport->isEnabled());
    EXPECT_FALSE(window->lblProfileInfo->isVisible());
    EXPECT_EQ(window->txtPath->text().toStdString(), (home / "Export").string());
    EXPECT_EQ(window->tvwObjects_->topLevelItemCount(), 0);  // no browse window: unconnected
    ASSERT_EQ(window->cboServerName->count(), 2);
    EXPECT_EQ(window->cboServerName->itemText(0).toStdString() + "," + window->cboServerName->itemText(1).toStdString(),
              "EX2,EX10");
    if (!c.exportControls) {
      ASSERT_GT(window->cboPrinterName->count(), 0);
      EXPECT_EQ(window->cboPrinterName->currentIndex(), 0);
    }
    if (c.mode < 2) ShotAtProgramFont("frmExportPlus-mode" + std::to_string(c.mode));
    delete window;
    window = nullptr;
  }
  EXPECT_TRUE(Prompts().empty());
}

TEST_F(ExportPlusTest, TypedNameConnectsAndTheInitialPassListsEveryDefaultTick) {
  Open(0);
  ASSERT_TRUE(velmo::test::FocusControl(window->cboServerName));
  velmo::test::TypeText("ex1");
  EXPECT_EQ(window->cboServerName->currentText().toStdString(), "EX1");
  velmo::test::PressKey(Qt::Key_Return);
  Pump();
  EXPECT_TRUE(Prompts().empty()) << Prompts().front();
  EXPECT_EQ(window->strEPServerName, "EX1");
  EXPECT_EQ(window->strEPOrganizationName + "/" + window->strEPSiteName, "Velmor/Lakeside");
  EXPECT_TRUE(window->cmdExport->isEnabled());
  EXPECT_TRUE(window->cmdAddtoFav->isEnabled());
  ASSERT_NE(Node(kRecipients), nullptr);
  ASSERT_NE(Node(kEX1 + "/cn=Microsoft Private MDB"), nullptr);

  const auto& list = window->WorkList();
  EXPECT_EQ(window->List1->count(), static_cast<int>(list.size()));
  for (const char* item :
       {"o=Velmor@@@@Container1General@@Velmor@@General", "o=Velmor@@@@Container1Permissions@@Velmor@@Permissions",
        "o=Velmor/ou=Lakeside/cn=Recipients@@Mailboxes@@MailboxesGeneral@@Recipients@@General",
        "o=Velmor/ou=Lakeside/cn=Configuration@@@@Container2General@@Configuration@@General",
        "o=Velmor/ou=Lakeside/cn=Configuration/cn=Protocols@@IMAP4@@IMAP4Idle Time-out@@Protocols@@Idle Time-out",
        "o=Velmor/ou=Lakeside/cn=Configuration/cn=Servers/cn=EX1/cn=Protocols@@IMAP4@@ServerIMAP4General@@"
        "Protocols@@General",
        "o=Velmor/ou=Lakeside/cn=Configuration/cn=Servers/cn=EX1/cn=Server Recipients@@@@MailboxesAdvanced@@"
        "Server Recipients@@Advanced",
        "o=Velmor/ou=Lakeside/cn=Configuration/cn=Servers/cn=EX1/cn=Microsoft MTA@@@@Message Transfer "
        "AgentDiagnostics Logging@@Message Transfer Agent@@Diagnostics Logging",
        "o=Velmor/ou=Lakeside/cn=Configuration/cn=Servers/cn=EX1@@@@ServerPermissions@@EX1@@Permissions",
        "o=Velmor/ou=Lakeside/cn=Configuration/cn=Connections@@Newsfeed@@NewsfeedHosts@@Connections@@Hosts"})
    EXPECT_TRUE(Has(list, item)) << item;
  // Placeholders stand for no object: no entry is made under their keys.
  EXPECT_FALSE(std::any_of(list.begin(), list.end(),
                           [](const std::string& s) { return s.find("Childnodetext") != std::string::npos; }));
  for (const auto& item : list) {
    EXPECT_EQ(item.find('*'), std::string::npos) << item;  // no profile page is ticked at first
    EXPECT_NE(FindTreeNode(*window->tvwObjects_, SplitWorkItem(item)[0]), nullptr) << item;
  }
  // Each node's default ticks, once: the sum over the tree.
  std::map<std::string, int> perObject;
  for (const auto& item : list) ++perObject[SplitWorkItem(item)[0]];
  EXPECT_EQ(perObject["o=Velmor"], 2);
  EXPECT_EQ(perObject[kRecipients], 47 - 5 - 1 - 1);
  EXPECT_EQ(perObject[kEX1 + "/cn=Microsoft Private MDB"], 3);
  EXPECT_EQ(perObject[kEX1 + "/cn=Microsoft Public MDB"], 5);
  EXPECT_EQ(perObject[kEX1 + "/cn=Server Recipients"], 13);
  // The field tree shows the organisation's pages with their ticks.
  EXPECT_EQ(FieldTexts(window->tvwFields), (std::vector<std::string>{"General", "Permissions"}));
  EXPECT_EQ(window->strEPObjectKey, "o=Velmor");
  EXPECT_EQ(window->iInitialPass, 0);
  ShotAtProgramFont("frmExportPlus-connected");
}

TEST_F(ExportPlusTest, AFailedConnectLeavesNothingOfTheEarlierServer) {
  Open(0);
  Connect("EX1");
  ASSERT_TRUE(window->cmdExport->isEnabled());
  ASSERT_FALSE(window->WorkList().empty());
  ui->clear();
  Connect("NOSUCH");
  ASSERT_EQ(Prompts().size(), 1u);
  EXPECT_NE(Prompts()[0].find("NOSUCH"), std::string::npos) << Prompts()[0];
  EXPECT_FALSE(window->cmdExport->isEnabled());
  EXPECT_FALSE(window->cmdAddtoFav->isEnabled());
  EXPECT_EQ(window->tvwObjects_->topLevelItemCount(), 0);
  EXPECT_EQ(window->tvwFields->topLevelItemCount(), 0);
  EXPECT_TRUE(window->WorkList().empty());
  EXPECT_EQ(window->List1->count(), 0);
  EXPECT_EQ(window->strEPObjectKey + window->strEPObjectText, "");

  ui->clear();
  Connect("");
  EXPECT_EQ(Prompts(), (std::vector<std::string>{"Please enter the server name."}));
  EXPECT_FALSE(window->cmdExport->isEnabled());

  // A second server's connect replaces the first server's entries.
  Connect("EX10");
  ASSERT_TRUE(window->cmdExport->isEnabled());
  for (const auto& item : window->WorkList()) EXPECT_EQ(item.find("Lakeside"), std::string::npos) << item;
  EXPECT_EQ(window->strEPSiteName, "Hilltop");
}

TEST_F(ExportPlusTest, TicksFollowEachObjectAndProfilePagesAskForAProfile) {
  Open(0);
  Connect("EX1");
  ClickNode(window->tvwObjects_, Node(kRecipients));
  EXPECT_EQ(window->strEPObjectKey, kRecipients);
  EXPECT_TRUE(window->lblProfileInfo->isVisible());
  EXPECT_EQ(window->lblProfileInfo->text().toStdString(), kProfileHint);
  EXPECT_LT(window->tvwFields->height(), window->tvwObjects_->height());
  window->tvwFields->expandAll();
  Pump();
  QTreeWidgetItem* general = Field(window->tvwFields, "Mailboxes", "General");
  ASSERT_EQ(FieldImage(general), "Check");
  ClickNode(window->tvwFields, general);
  EXPECT_EQ(FieldImage(general), "Uncheck");
  // Clicking a group node changes nothing.
  ClickNode(window->tvwFields, window->tvwFields->topLevelItem(1));
  EXPECT_EQ(FieldImage(window->tvwFields->topLevelItem(1)), "MB");

  // Another object takes the ticks in.
  const std::string entry = kRecipients + "@@Mailboxes@@MailboxesGeneral@@Recipients@@General";
  ASSERT_TRUE(Has(window->WorkList(), entry));
  ClickNode(window->tvwObjects_, Node(kLakeside));
  EXPECT_FALSE(Has(window->WorkList(), entry));
  EXPECT_TRUE(Has(window->WorkList(), kRecipients + "@@Mailboxes@@MailboxesPhone/Notes@@Recipients@@Phone/Notes"));
  EXPECT_FALSE(window->lblProfileInfo->isVisible());
  EXPECT_EQ(window->tvwFields->height(), window->tvwObjects_->height());
  ClickNode(window->tvwObjects_, Node(kRecipients));
  window->tvwFields->expandAll();
  Pump();
  EXPECT_EQ(FieldImage(Field(window->tvwFields, "Mailboxes", "General")), "Uncheck");
  EXPECT_EQ(FieldImage(Field(window->tvwFields, "Mailboxes", "Phone/Notes")), "Check");

  // The profile page asks; nothing typed leaves it unticked.
  QTreeWidgetItem* pf = Field(window->tvwFields, "Public Folders", "General *");
  ASSERT_EQ(FieldImage(pf), "Uncheck");
  ui->clear();
  ui->QueueInput("");
  ClickNode(window->tvwFields, pf);
  EXPECT_EQ(FieldImage(pf), "Uncheck");
  ui->QueueInput("EX1 Profile");
  ClickNode(window->tvwFields, pf);
  EXPECT_EQ(FieldImage(pf), "Check");
  EXPECT_EQ(window->strPFGeneralProfile, "EX1 Profile");
  const auto shown = ui->shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].kind, "InputBox");
  EXPECT_EQ(shown[0].prompt, "Enter any valid profile name to retrieve General information.");
  EXPECT_EQ(shown[0].title, "Velmorine for Exchange Server (Velmorcast)");
  ClickNode(window->tvwFields, pf);
  EXPECT_EQ(FieldImage(pf), "Uncheck");
  EXPECT_EQ(window->strPFGeneralProfile, "EX1 Profile");
  // The store pages name their own profile.
  ClickNode(window->tvwObjects_, Node(kEX1 + "/cn=Microsoft Public MDB"));
  ui->QueueInput("EX1 Profile");
  ClickNode(window->tvwFields, Field(window->tvwFields, "", "Public Folder Resources *"));
  EXPECT_EQ(window->strPFResourcesProfile, "EX1 Profile");
  EXPECT_EQ(ui->shown().back().prompt, "Enter any valid profile name to retrieve Public Folder Resources information.");
  EXPECT_EQ(window->strMailboxResourcesProfile, "");
}

TEST_F(ExportPlusTest, NodeKindsChooseTheirCatalogue) {
  Open(0);
  Connect("EX1");
  const std::string site = kLakeside + "/cn=Configuration";
  const std::pair<std::string, size_t> cases[] = {
      {kOrg, 2},
      {kLakeside, 2},
      {site, 2},
      {site + "/cn=Connections", 27},
      {site + "/cn=Protocols", 37},
      {site + "/cn=Servers", 2},
      {kEX1, 2},
      {kEX1 + "/cn=Microsoft Private MDB", 4},
      {kEX1 + "/cn=Protocols", 32},
      {kEX1 + "/cn=Microsoft Public MDB", 6},
      {kEX1 + "/cn=Server Recipients", 13},
      {kEX1 + "/cn=Microsoft MTA", 3},
      {kEX1 + "/cn=Microsoft System Attendant", 3},
      {kRecipients, 47},
  };
  for (const auto& [key, count] : cases) {
    ClickNode(window->tvwObjects_, Node(key));
    EXPECT_EQ(FieldTexts(window->tvwFields).size(), count) << key;
  }
  ClickNode(window->tvwObjects_, Node(site + "/cn=Servers"));
  EXPECT_EQ(NodeKey(window->tvwFields->topLevelItem(0)), "Container2General");
  ClickNode(window->tvwObjects_, Node(kEX1));
  EXPECT_EQ(NodeKey(window->tvwFields->topLevelItem(1)), "ServerPermissions");
}

TEST_F(ExportPlusTest, ARecipientsContainerIsReadOnceWhenExpanded) {
  Open(0);
  Connect("EX1");
  QTreeWidgetItem* recipients = Node(kRecipients);
  ASSERT_EQ(recipients->childCount(), 1);
  EXPECT_EQ(NodeText(recipients->child(0)), "Childnodetext");
  recipients->setExpanded(true);
  Pump();
  std::vector<std::string> texts;
  for (int i = 0; i < recipients->childCount(); ++i) texts.push_back(NodeText(recipients->child(i)));
  EXPECT_TRUE(Has(texts, "Sales"));
  EXPECT_FALSE(Has(texts, "Childnodetext"));
  QTreeWidgetItem* sales = Node(kRecipients + "/cn=Sales");
  ASSERT_NE(sales, nullptr);
  EXPECT_EQ(sales->childCount(), 0);  // one level only
  EXPECT_EQ(NodeImage(sales), "Recipients");
  const int count = recipients->childCount();
  recipients->setExpanded(false);
  recipients->setExpanded(true);
  Pump();
  EXPECT_EQ(recipients->childCount(), count);
  // A container added by expansion is a recipients container.
  ClickNode(window->tvwObjects_, sales);
  EXPECT_EQ(FieldTexts(window->tvwFields).size(), 47u);
}

TEST_F(ExportPlusTest, FavouritesButtonAddsTheConnectedServerOnce) {
  Open(0);
  Connect("EX1");
  ASSERT_TRUE(window->cmdAddtoFav->isEnabled());
  window->cmdAddtoFav->click();
  EXPECT_FALSE(window->cmdAddtoFav->isEnabled());
  EXPECT_EQ(Count("select * from VELMORCFavourites where ServerName='EX1' and IsFavouriteSrv='Yes'"), 1);
  EXPECT_EQ(window->cboServerName->findText("EX1"), 0);
  window->cmdAddtoFav->setEnabled(true);
  window->cmdAddtoFav->click();
  EXPECT_EQ(Count("select * from VELMORCFavourites where ServerName='EX1'"), 1);
  EXPECT_EQ(Count("select * from VELMORCFavourites where IsDefaultSrv='No'"), 1);
}

TEST_F(ExportPlusTest, NothingIsDeletedUnlessTheRunCanGoAhead) {
  Insert("MailboxGeneral", {"ServerName", "Display Name"}, {db::Value(std::string("EX1")), db::Value(std::string("Kept"))});
  auto rowsKept = [&] { return Count("select * from MailboxGeneral where ServerName='EX1'") == 1; };
  Open(0);
  Connect("EX1");
  const std::filesystem::path regular = home / "regular.txt";
  std::ofstream(regular) << "x";
  // A refused folder is named with the system's reason, in the box and
  // the error log.
  velmo::test::SmallFileSystem readOnly(home / "ro");
  const bool mounted = readOnly.Mounted() && readOnly.MakeReadOnly();
  const std::string valid = "Please specify valid path to store the report.";
  struct Case {
    std::string path;
    std::string message;
    std::string reason;
  };
  const Case cases[] = {
      {"", "Please specify the path to store the report.", ""},
      {"Reports", valid, "not a full path (one starts with \"/\")"},
      {"C:\\Reports", valid, "not a full path (one starts with \"/\")"},
      {(regular / "Export").string(), valid, "Not a directory"},
      {(home / "missing" / "deeper").string(), valid, "No such file or directory"},
      {(home / "missing" / "deeper").string() + "/", valid, "No such file or directory"},
      {mounted ? (home / "ro").string() : "", mounted ? valid : "", "Read-only file system"},
      {mounted ? (home / "ro" / "new").string() : "", mounted ? valid : "", "Read-only file system"},
      // Accepted (trailing separators name the same folder): the run goes
      // on to make the collector, which is missing here.
      {(home / "new").string() + "/", "", ""},
      {(home / "newer").string() + "//", "", ""},
      {(home / "Export").string() + "/", "", ""},
  };
  // With no collector an accepted path ends at the collector's message.
  velmo::com::RegisterBuiltin("VELMO.Exch55Info", []() -> velmo::com::ComObject* { return nullptr; });
  for (const Case& c : cases) {
    if (c.path.empty() && c.message.empty()) continue;  // no read-only folder here
    SCOPED_TRACE(c.path);
    ASSERT_TRUE(velmo::test::FocusControl(window->txtPath));
    window->txtPath->selectAll();
    velmo::test::PressKey(Qt::Key_Delete);
    velmo::test::TypeText(c.path);
    EXPECT_EQ(window->txtPath->text().toStdString(), c.path);
    ui->clear();
    const std::string logged = ErrorLog();
    window->cmdExport->click();
    const auto prompts = Prompts();
    ASSERT_EQ(prompts.size(), 1u);
    const std::string named = c.path + " : " + c.reason;
    if (c.message.empty())
      EXPECT_EQ(prompts[0].find("path to store the report"), std::string::npos) << prompts[0];
    else
      EXPECT_EQ(prompts[0], c.message + (c.reason.empty() ? "" : "\r\n" + named));
    if (!c.reason.empty()) EXPECT_NE(ErrorLog().find(named, logged.size()), std::string::npos) << ErrorLog();
    EXPECT_TRUE(rowsKept());
  }
  velmo::com::UnregisterBuiltin("VELMO.Exch55Info");
  // The folder button: a chosen folder replaces the path, Cancel keeps it.
  ui->QueueFolder((home / "Export").string());
  window->cmdBrowse->click();
  EXPECT_EQ(window->txtPath->text().toStdString(), (home / "Export").string());
  ui->QueueFolder("");
  window->cmdBrowse->click();
  EXPECT_EQ(window->txtPath->text().toStdString(), (home / "Export").string());
  EXPECT_EQ(Prompts("BrowseForFolder").size(), 2u);

  // A collector that cannot be made.
  velmo::com::RegisterBuiltin("VELMO.Exch55Info", []() -> velmo::com::ComObject* { return nullptr; });
  ui->clear();
  window->cmdExport->click();
  velmo::com::UnregisterBuiltin("VELMO.Exch55Info");
  EXPECT_EQ(Prompts().size(), 1u);
  EXPECT_TRUE(rowsKept());

  // A server that does not answer.
  window->strEPServerName = "NOSUCH";
  ui->clear();
  window->cmdExport->click();
  ASSERT_EQ(Prompts().size(), 1u);
  EXPECT_NE(Prompts()[0].find("NOSUCH"), std::string::npos);
  EXPECT_TRUE(rowsKept());

  // Print Plus without the print component.
  delete window;
  window = nullptr;
  Open(1);
  Connect("EX1");
  velmo::com::RegisterBuiltin("VLMRPreview.IVLMRPrinter", []() -> velmo::com::ComObject* { return nullptr; });
  ui->clear();
  window->cmdExport->click();
  velmo::com::UnregisterBuiltin("VLMRPreview.IVLMRPrinter");
  EXPECT_EQ(Prompts(), std::vector<std::string>{"The print component is not installed. Preview and Print are not available."});
  EXPECT_TRUE(rowsKept());
}

// The check that the server answers, made before anything is deleted,
// against a directory that stopped answering after the connect (it accepts
// and never replies): the window stays painted and says that it waits; Esc
// gives the check up at once, long before the request bound (120 s), with
// a status text that says so and the window open; a click on Close gives
// it up and closes the window. No box, nothing deleted, one log line.
TEST_F(ExportPlusTest, ACheckOfAServerThatStoppedAnsweringEndsAtEscOrClose) {
  using Clock = std::chrono::steady_clock;
  const int port = velmo::test::SamplePort("EX1");
  ASSERT_GT(port, 0);
  velmo::ads::SetWaitHook(DirectoryWaitHook);  // as the program does
  Insert("MailboxGeneral", {"ServerName", "Display Name"}, {db::Value(std::string("EX1")), db::Value(std::string("Kept"))});
  for (const bool byClose : {false, true}) {
    SCOPED_TRACE(byClose ? "Close" : "Esc");
    velmo::test::LdapProxy proxy(port);
    velmo::test::UseSampleDirectory hosts(proxy.WriteHostsFile(home.dir()));
    velmo::ads::ResetSessions();
    Open(0);
    Connect("EX1");
    ASSERT_TRUE(window->cmdExport->isEnabled());
    window->txtPath->setText(QString::fromStdString((home / "Out").string()));
    proxy.Lose(velmo::test::LdapProxy::Loss::Stop);
    auto* status = window->findChild<QLabel*>("lblStatus");
    auto* close = window->findChild<QPushButton*>("cmdClose");
    ASSERT_NE(close, nullptr);
    // The moment: the first time events run while the command waits.
    bool clicked = false, stopped = false;
    std::string waiting;
    int ink = -1;
    Clock::time_point stoppedAt{};
    QTimer moments;
    moments.setInterval(10);
    QObject::connect(&moments, &QTimer::timeout, [&] {
      if (!clicked || stopped) return;
      stopped = true;
      if (status) {
        waiting = status->text().toStdString();
        const QImage grab = window->grab().toImage();
        grab.save(QString::fromStdString((velmo::test::ShotFolder() / "exportplus-check-waiting.png").string()));
        const QRgb background = grab.pixel(status->geometry().topLeft());
        ink = 0;
        const QRect area = status->geometry();
        for (int y = area.top(); y <= area.bottom(); ++y)
          for (int x = area.left(); x <= area.right(); ++x) ink += grab.pixel(x, y) != background;
      }
      stoppedAt = Clock::now();
      if (byClose)
        QTest::mouseClick(close, Qt::LeftButton);
      else
        QTest::keyClick(window, Qt::Key_Escape);
    });
    ui->clear();
    const size_t logged = ErrorLog().size();
    moments.start();
    clicked = true;
    window->cmdExport->click();
    moments.stop();
    ASSERT_TRUE(stopped) << "events ran while the check waited";
    const double took = std::chrono::duration<double>(Clock::now() - stoppedAt).count();
    EXPECT_LT(took, velmo::test::HangBound(2.0)) << "the request bound was waited for";
    EXPECT_EQ(waiting, "Checking that 'EX1' answers; Esc stops waiting.");
    EXPECT_GT(ink, 50) << "the status text is drawn";
    EXPECT_TRUE(Prompts().empty()) << Prompts().front();
    EXPECT_EQ(Count("select * from MailboxGeneral where ServerName='EX1'"), 1);
    const std::string log = ErrorLog().substr(logged);
    EXPECT_NE(log.find("frmExportPlus cmdExport Checking 'EX1' stopped."), std::string::npos) << log;
    EXPECT_EQ(log.find("Bind Failed"), std::string::npos) << log;
    EXPECT_EQ(gfrmAutoFormat, nullptr);
    if (byClose) {
      EXPECT_FALSE(window->isVisible());
    } else {
      EXPECT_TRUE(window->isVisible());
      ASSERT_NE(status, nullptr);
      EXPECT_EQ(status->text().toStdString(), "Stopped checking that 'EX1' answers; nothing was deleted.");
      EXPECT_EQ(velmo::test::ClippedCaptions(window), std::vector<std::string>{});
      velmo::test::SaveShot(window, "exportplus-check-stopped");
    }
    delete window;
    window = nullptr;
    velmo::ads::ResetSessions();
  }
  velmo::ads::SetWaitHook(nullptr);
}

TEST_F(ExportPlusTest, EscapeInTheServerBoxClosesTheWindow) {
  Open(0);
  ASSERT_TRUE(velmo::test::FocusControl(window->cboServerName));
  velmo::test::TypeText("ex2");
  velmo::test::PressKey(Qt::Key_Escape);
  Pump();
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(window->tvwObjects_->topLevelItemCount(), 0);  // nothing connected
}

TEST_F(ExportPlusTest, OverABrowseWindowTheWindowConnectsToItsServerAtOnce) {
  auto* browse = new frmExch();
  ASSERT_GT(OpenExchWindowSlot(browse), 0);
  browse->strServerName = "EX10";
  browse->Window()->show();
  if (auto* sub = qobject_cast<QMdiSubWindow*>(browse->Window())) gMdiArea->setActiveSubWindow(sub);
  Pump();
  Open(1);
  EXPECT_EQ(window->cboServerName->currentText().toStdString(), "EX10");
  EXPECT_EQ(window->strEPSiteName, "Hilltop");
  EXPECT_TRUE(window->cmdExport->isEnabled());
  EXPECT_FALSE(window->WorkList().empty());
  delete window;
  window = nullptr;
  browse->Window()->close();
  Pump();
}

TEST_F(ExportPlusTest, TheMainWindowsCommandsOpenTheWindowModallyInTheirMode) {
  struct Case {
    QAction* command;
    const char* title;
  };
  for (const Case& c : {Case{main->mnuExportPlus, "Velmorcast ExportPlus"}, Case{main->popmnuPrintPlus, "Velmorcast PrintPlus"}}) {
    std::string seen;
    bool modal = false;
    QTimer::singleShot(0, [&] {
      auto* shown = qobject_cast<frmExportPlus*>(QApplication::activeModalWidget());
      if (!shown) return;
      seen = shown->windowTitle().toStdString();
      modal = gfrmExportPlus == shown && gfrmExportPlusPrint == shown;
      shown->cmdClose->click();
    });
    c.command->trigger();
    EXPECT_EQ(seen, c.title);
    EXPECT_TRUE(modal);
    EXPECT_EQ(gfrmExportPlus, nullptr);
    EXPECT_EQ(gfrmExportPlusPrint, nullptr);
  }
  EXPECT_TRUE(Prompts().empty());
}

TEST_F(ExportPlusTest, AClearingThatFailsStopsTheRun) {
  gConn->Execute("create table Blocker (ServerName text)");
  gConn->Execute("insert into Blocker (ServerName) values ('EX1')");
  gConn->Execute("create trigger BlockerKeep before delete on Blocker begin select raise(abort, 'kept'); end");
  Insert("MailboxGeneral", {"ServerName", "Display Name"}, {db::Value(std::string("EX1")), db::Value(std::string("Kept"))});
  Open(0);
  Connect("EX1");
  ui->clear();
  window->cmdExport->click();
  ASSERT_EQ(Prompts().size(), 1u);
  EXPECT_EQ(Prompts()[0].rfind("The earlier information of 'EX1' could not be deleted.\r\n", 0), 0u) << Prompts()[0];
  EXPECT_EQ(Count("select * from MailboxGeneral where ServerName='EX1'"), 1);
  EXPECT_EQ(gfrmAutoFormat, nullptr);
}
