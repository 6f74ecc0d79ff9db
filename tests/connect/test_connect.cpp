// The connect step through the connect dialog and the progress window,
// against the sample organisation: sites, credentials, failures and their
// messages, favourite and default rows, the window limit, the other
// connect targets and the main window's start-up connect.
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include <regex>

#include "ConnectKit.h"
#include "frmAutoFormat.h"
#include "frmExch.h"
#include "modExchTree.h"

using namespace connect_test;

namespace {

const char* const kLogonHint = "   - The supplied password is correct if you have used the Connect As option.";
const char* const kServerHint = "   - The server is operational.";

frmExch* Newest() { return dynamic_cast<frmExch*>(LastConnectedExchWindow()); }

// A custom report window as the connect step sees it.
class FakeCustomReport : public CustomReportConnectTarget {
 public:
  velmo::FlexGrid* grd1() override { return nullptr; }
  TreeNodeInfo SelectedNode() override { return {}; }
  bool TypeTabVisible() override { return false; }
  std::string TypeTabCaption() override { return ""; }
  std::vector<std::string> ServerNodeTexts() override { return nodes; }
  void ClearServerNodes() override { nodes.clear(); }
  void ShowModal() override { ++shown; }
  std::vector<std::string> nodes;
  int shown = 0;
};

// The Export Plus window as the connect step and the progress window see
// it. Its operations wait for Cancel like the real ones: they poll
// iCancelClicked and let events run between steps.
class FakeExportPlus : public ExportPlusWindow {
 public:
  velmo::FlexGrid* Grd1() override { return nullptr; }
  std::string strPrinterName() override { return printer; }
  void SetPrinterName(const std::string& name) override { printer = name; }
  std::string cmdExportCaption() override { return caption; }
  bool optFormatValue(int i) override { return i == format; }
  std::string optFormatCaption(int i) override { return formats[i]; }
  std::string txtPathText() override { return "/tmp/out"; }
  std::string cboPrinterNameText() override { return "Laser 2"; }
  QWidget* tvwObjects() override { return nullptr; }
  void GetAllInfo(const std::string& s, const std::string& u, const std::string& p, const std::string& o,
                  const std::string& site) override {
    calls.push_back("GetAllInfo " + s + "|" + u + "|" + p + "|" + o + "|" + site);
    Wait();
  }
  void DisplayInfo(const std::string& s, const std::string& o, const std::string& site, const std::string& report,
                   const std::string& option, const std::string& fmt, const std::string& path,
                   const std::string& stamp) override {
    calls.push_back("DisplayInfo " + s + "|" + o + "|" + site + "|" + report + "|" + option + "|" + fmt + "|" + path);
    lastStamp = stamp;
    Wait();
  }
  void Wait() {
    for (int step = 0; step < steps && iCancelClicked == 0; ++step) {
      QCoreApplication::processEvents();
      QThread::msleep(2);
      ++stepsRun;
    }
  }
  std::string caption = "&Export";
  int format = 1;
  std::string formats[3] = {"Access", "HTML", "CSV"};
  std::string printer;
  std::vector<std::string> calls;
  std::string lastStamp;
  int steps = 0;
  int stepsRun = 0;
};

}  // namespace

// Typing a server in the dialog and pressing Enter opens a browse window
// for the server typed, upper-cased as typed, never for a listed server
// that merely starts with it ("EX1" with "EX10" listed), and records no
// favourite rows.
TEST_F(ConnectTest, TypedServerOpensItsSiteInANewWindow) {
  AddFavouriteRow({"EX10", "No", "Yes"});
  AddFavouriteRow({"EX1", "No", "Yes"});
  AddFavouriteRow({"EX2", "No", "Yes"});
  struct Case {
    const char* typed;
    const char* server;
    const char* site;
  };
  for (const Case& c : {Case{"ex1", "EX1", "Lakeside"}, Case{"EX10", "EX10", "Hilltop"}, Case{"Ex2", "EX2", "Lakeside"},
                        Case{"EX1", "EX1", "Lakeside"}}) {
    SCOPED_TRACE(c.typed);
    frmConnect& dialog = ConnectDialog();
    ASSERT_EQ(dialog.cboServerName->count(), 3);
    EXPECT_FALSE(dialog.cmdOk->isEnabled());
    Retype(dialog.cboServerName, c.typed);
    EXPECT_EQ(dialog.cboServerName->currentText().toStdString(), c.server);
    ASSERT_TRUE(dialog.cmdOk->isEnabled());
    velmo::test::PressKey(Qt::Key_Return);  // the default button
    Pump();
    EXPECT_TRUE(gbConnected);
    EXPECT_EQ(gfrmConnect, nullptr) << "a successful connect closes the dialog";
    frmExch* w = Newest();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->strServerName, c.server);
    EXPECT_EQ(w->strOrganizationName, "Velmor");
    EXPECT_EQ(w->strSiteName, c.site);
    EXPECT_EQ(w->strUserName, "");
    EXPECT_FALSE(w->isHidden()) << "shown";
    EXPECT_EQ(gfrmExchWindows[w->iFrmID], w);
    const std::string serverKey = std::string("o=Velmor/ou=") + c.site + "/cn=Configuration/cn=Servers/cn=" + c.server;
    QTreeWidgetItem* serverNode = FindTreeNode(*w->tvwServers, serverKey);
    ASSERT_NE(serverNode, nullptr) << "the tree is the server's site";
    EXPECT_FALSE(serverNode->icon(0).isNull()) << "the connect step's tree shows the main window's images";
  }
  EXPECT_EQ(glngWindowCount, 4);
  EXPECT_EQ(Favourites().size(), 3u);
  EXPECT_TRUE(ui->shown().empty()) << LastPrompt();
}

// Only the letters a to z become capitals, wherever the keys go in: the
// box itself or its inner line edit. Keys held with Ctrl, digits and
// punctuation pass unchanged, and pasted text keeps its case.
TEST_F(ConnectTest, ServerBoxCapitalisesTypedLettersOnly) {
  frmConnect& dialog = ConnectDialog();
  QComboBox* box = dialog.cboServerName;
  Retype(box, "ex-1.corp_b\\z9");
  EXPECT_EQ(box->currentText().toStdString(), "EX-1.CORP_B\\Z9");

  // Letters outside a to z are left alone.
  velmo::test::PressKey(0, Qt::NoModifier, QString::fromUtf8("\xc3\xa9"));
  EXPECT_EQ(box->currentText(), QString::fromUtf8("EX-1.CORP_B\\Z9\xc3\xa9"));

  // A key that reaches the inner line edit directly is capitalised too.
  QKeyEvent inner(QEvent::KeyPress, Qt::Key_Q, Qt::NoModifier, "q");
  QCoreApplication::sendEvent(box->lineEdit(), &inner);
  EXPECT_TRUE(box->currentText().endsWith("Q")) << box->currentText().toStdString();

  Retype(box, "");
  QApplication::clipboard()->setText("pasted");
  velmo::test::PressKey(Qt::Key_V, Qt::ControlModifier, QString(QChar(22)));
  EXPECT_EQ(box->currentText().toStdString(), "pasted");

  // Escape in the box closes the dialog unconfirmed.
  main->blnClickedOK = true;
  velmo::test::PressKey(Qt::Key_Escape);
  EXPECT_EQ(gfrmConnect, nullptr);
  EXPECT_FALSE(main->blnClickedOK);
  Pump();
}

// EX1 and EX10 find their own sites whichever site the directory lists
// first; a lower-case name finds the same computer.
TEST_F(ConnectTest, SiteWalkMatchesTheComputerNotASubstring) {
  velmo::test::PrivateSlapd reversed;
  {
    // The same organisation with Lakeside (EX1) stored before Hilltop (EX10).
    const std::string ldif = velmo::test::TestHome::Slurp(velmo::test::TestHome::SourceDir() / "sample" /
                                                          "directory" / "velmor.ldif");
    std::vector<std::string> org, lake, hill;
    size_t start = 0;
    while (start < ldif.size()) {
      size_t end = ldif.find("\n\n", start);
      std::string entry = ldif.substr(start, end == std::string::npos ? std::string::npos : end - start + 1);
      start = end == std::string::npos ? ldif.size() : end + 2;
      if (entry.find("dn:") == std::string::npos) continue;
      const std::string dn = entry.substr(entry.find("dn:"), entry.find('\n', entry.find("dn:")) - entry.find("dn:"));
      (dn.find("ou=Lakeside") != std::string::npos ? lake : dn.find("ou=Hilltop") != std::string::npos ? hill : org)
          .push_back(entry);
    }
    std::ofstream out(reversed.dir() / "reversed.ldif");
    for (auto* group : {&org, &lake, &hill})
      for (const auto& e : *group) out << e << "\n";
    out.close();
    reversed.Stop();
    std::filesystem::remove_all(reversed.dir() / "db" / "org");
    std::filesystem::create_directories(reversed.dir() / "db" / "org");
    const std::string cmd = "/usr/sbin/slapadd -q -f '" + (reversed.dir() / "slapd.conf").string() +
                            "' -b o=Velmor -l '" + (reversed.dir() / "reversed.ldif").string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    reversed.Restart();
  }

  for (bool reversedOrder : {false, true}) {
    if (reversedOrder) {
      ::setenv("VELMORCAST_LDAP_HOSTS", reversed.hostsFile().c_str(), 1);
      velmo::ads::ResetSessions();
    }
    for (auto [server, site] : {std::pair{"EX1", "Lakeside"}, std::pair{"EX10", "Hilltop"}, std::pair{"ex1", "Lakeside"}}) {
      SCOPED_TRACE(std::string(server) + (reversedOrder ? " Lakeside first" : " Hilltop first"));
      ASSERT_TRUE(ConnectToExchangeServer(2, server, "", ""));
      EXPECT_EQ(Newest()->strSiteName, site);
      EXPECT_EQ(Newest()->tvwServers->topLevelItem(0)->child(0)->text(0).toStdString(), site);
    }
  }
}

// Connect As: the dialog's user becomes dc=DOMAIN,cn=NAME with the typed
// password; a wrong password names the server, the description and the
// logon hint and keeps the dialog open; a user without a domain is refused
// before anything is bound.
TEST_F(ConnectTest, ConnectAsCredentials) {
  frmConnect& dialog = ConnectDialog();
  EXPECT_EQ(dialog.txtPassword->text(), "") << "the password never starts as a placeholder";
  Retype(dialog.cboServerName, "ex1");
  dialog.cmdOptions->click();
  dialog.chkConnectAs->click();
  EXPECT_TRUE(dialog.txtUserName->isEnabled());

  // Credentials keep the case they are typed in.
  Retype(dialog.txtUserName, "CORP\\Administrator");
  Retype(dialog.txtPassword, "wrong");
  EXPECT_EQ(dialog.txtPassword->text(), "wrong");
  velmo::test::PressKey(Qt::Key_Return);
  EXPECT_FALSE(gbConnected);
  ASSERT_EQ(ui->shown().size(), 1u);
  const std::string message = LastPrompt();
  EXPECT_EQ(message.rfind("Unable to connect to 'EX1'.\r\n", 0), 0u) << message;
  EXPECT_NE(message.find(kLogonHint), std::string::npos) << message;
  EXPECT_EQ(gfrmConnect, &dialog) << "the dialog stays for another attempt";
  EXPECT_NE(ErrorLog().find("ConnectToExchangeServer - Unable to connect to 'EX1'."), std::string::npos);
  EXPECT_EQ(glngWindowCount, 0);

  ui->clear();
  Retype(dialog.txtUserName, "Administrator");
  Retype(dialog.txtPassword, "secret");
  velmo::test::PressKey(Qt::Key_Return);
  EXPECT_EQ(Prompts(), std::vector<std::string>{kConnectAsFormatMessage});
  EXPECT_EQ(glngWindowCount, 0);

  ui->clear();
  Retype(dialog.txtUserName, "CORP\\Administrator");
  velmo::test::PressKey(Qt::Key_Return);
  ASSERT_TRUE(gbConnected) << LastPrompt();
  frmExch* w = Newest();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->strUserName, "dc=CORP,cn=Administrator");
  EXPECT_EQ(w->strPassword, "secret");
  EXPECT_EQ(w->strSiteName, "Lakeside");
}

// Failures: an empty name, a server nobody answers for, and a directory
// that answers but holds no such server. Each is logged and shown once
// with the hint its number calls for.
TEST_F(ConnectTest, FailuresAreShownWithTheirHint) {
  MapHosts({{"DEAD", "ldap://127.0.0.1:1"}, {"EX3", SampleUrl()}});

  EXPECT_FALSE(ConnectToExchangeServer(2, "", "", ""));
  EXPECT_EQ(Prompts(), std::vector<std::string>{"Please enter the server name."});

  ui->clear();
  EXPECT_FALSE(ConnectToExchangeServer(2, "dead", "", ""));
  ASSERT_EQ(ui->shown().size(), 1u);
  EXPECT_EQ(LastPrompt().rfind("Unable to connect to 'DEAD'.\r\n", 0), 0u) << LastPrompt();
  EXPECT_NE(LastPrompt().find(kServerHint), std::string::npos) << LastPrompt();

  // Kind 1 names the favourite.
  ui->clear();
  EXPECT_FALSE(ConnectToExchangeServer(1, "DEAD", "", ""));
  EXPECT_EQ(LastPrompt().rfind("Unable to connect to Favorite Server 'DEAD'.\r\n", 0), 0u) << LastPrompt();

  // The organisation answers but no computer is EX3: number 0, no hint.
  ui->clear();
  EXPECT_FALSE(ConnectToExchangeServer(5, "EX3", "", ""));
  EXPECT_EQ(Prompts(), std::vector<std::string>{"Unable to connect to 'EX3'.\r\n"});
  EXPECT_NE(ErrorLog().find("      0            ConnectToExchangeServer - Assigning Site Name for 'EX3' failed."),
            std::string::npos)
      << ErrorLog();
  EXPECT_TRUE(Favourites().empty()) << "a failed connect records nothing";
  EXPECT_EQ(glngWindowCount, 0);
}

// Kinds 3 to 5 keep VELMORCFavourites: one favourite row per server, one
// default server, a default-only row left beside a new favourite row.
TEST_F(ConnectTest, FavouriteAndDefaultRows) {
  AddFavouriteRow({"EX2", "Yes", "No"});
  ASSERT_TRUE(ConnectToExchangeServer(3, "EX1", "", ""));
  ASSERT_TRUE(ConnectToExchangeServer(3, "EX1", "", ""));
  EXPECT_EQ(Favourites(), (std::vector<FavouriteRow>{{"EX2", "Yes", "No"}, {"EX1", "No", "Yes"}}));

  ASSERT_TRUE(ConnectToExchangeServer(3, "EX2", "", ""));
  ASSERT_TRUE(ConnectToExchangeServer(4, "EX1", "", ""));
  EXPECT_EQ(Favourites(), (std::vector<FavouriteRow>{
                              {"EX2", "No", "No"}, {"EX1", "Yes", "Yes"}, {"EX2", "No", "Yes"}}));

  ASSERT_TRUE(ConnectToExchangeServer(5, "EX10", "", ""));
  EXPECT_EQ(Favourites(), (std::vector<FavouriteRow>{{"EX2", "No", "No"},
                                                     {"EX1", "No", "Yes"},
                                                     {"EX2", "No", "Yes"},
                                                     {"EX10", "Yes", "Yes"}}));

  // The dialog's two boxes make kind 5.
  frmConnect& dialog = ConnectDialog();
  Retype(dialog.cboServerName, "ex2");
  dialog.cmdOptions->click();
  dialog.chkDefault->click();
  dialog.chkFavorites->click();
  ASSERT_TRUE(velmo::test::FocusControl(dialog.cboServerName));
  velmo::test::PressKey(Qt::Key_Return);
  EXPECT_TRUE(gbConnected);
  EXPECT_EQ(main->iFavoriteORDefaultServer, 5);
  EXPECT_EQ(Favourites()[0], (FavouriteRow{"EX2", "Yes", "No"}));
  EXPECT_EQ(Favourites()[3], (FavouriteRow{"EX10", "No", "Yes"}));
}

// With 25 windows open a further connect is refused before it binds or
// writes a row; closing one frees its slot for the next connect.
TEST_F(ConnectTest, TwentySixthWindowIsRefused) {
  for (int i = 0; i < kMaxExchWindows; ++i) ASSERT_TRUE(ConnectToExchangeServer(2, i % 2 ? "EX1" : "EX10", "", ""));
  EXPECT_EQ(glngWindowCount, 25);
  ui->clear();
  EXPECT_FALSE(ConnectToExchangeServer(5, "EX2", "", ""));
  EXPECT_EQ(Prompts(), std::vector<std::string>{"At most 25 server windows can be open at once. Close one and try again."});
  EXPECT_TRUE(Favourites().empty());

  ExchWindow* seventh = gfrmExchWindows[7];
  seventh->Window()->close();
  Pump();
  ASSERT_TRUE(ConnectToExchangeServer(2, "EX2", "", ""));
  EXPECT_EQ(Newest()->iFrmID, 7) << "the first free slot";
  gbConnected = true;
  main->iFavoriteORDefaultServer = 1;
  ShowConnectedWindow();
  EXPECT_FALSE(Newest()->isHidden()) << "shown";
  EXPECT_EQ(Newest()->strServerName, "EX2");
}

// The custom report and Export Plus targets get their fields and no
// browse window; a failed Export Plus connect leaves its names empty.
TEST_F(ConnectTest, OtherTargets) {
  FakeCustomReport report;
  report.nodes = {"EX10"};
  gCustomReportForConnect = [&] { return &report; };
  main->iFromCustomReport = 2;
  EXPECT_FALSE(ConnectToExchangeServer(2, "EX10", "", "")) << "already in the report";
  EXPECT_EQ(report.strCROrganizationName, "");
  ASSERT_TRUE(ConnectToExchangeServer(2, "EX1", "dc=CORP,cn=jsmith", "jsmith-pw"));
  EXPECT_EQ(report.strCRServerName, "EX1");
  EXPECT_EQ(report.strCRSiteName, "Lakeside");
  EXPECT_EQ(report.strCRUserName, "dc=CORP,cn=jsmith");
  EXPECT_EQ(report.strCRPassword, "jsmith-pw");
  EXPECT_TRUE(report.nodes.empty());
  main->iFromCustomReport = 1;
  gbConnected = true;
  ShowConnectedWindow();
  EXPECT_EQ(report.shown, 1);

  FakeExportPlus ep;
  gfrmExportPlus = &ep;
  main->iFromCustomReport = 3;
  ASSERT_TRUE(ConnectToExchangeServer(6, "EX10", "", ""));
  EXPECT_EQ(ep.strEPOrganizationName, "Velmor");
  EXPECT_EQ(ep.strEPSiteName, "Hilltop");
  MapHosts({{"DEAD", "ldap://127.0.0.1:1"}});
  EXPECT_FALSE(ConnectToExchangeServer(6, "DEAD", "", ""));
  EXPECT_EQ(ep.strEPOrganizationName, "");
  EXPECT_EQ(ep.strEPSiteName, "");
  EXPECT_EQ(glngWindowCount, 0);
  EXPECT_TRUE(Favourites().empty());
}

// The progress window's Export Plus operations: titles, arguments, the run
// stamp, and Cancel that asks first and stops the operation on Yes.
TEST_F(ConnectTest, ProgressWindowRunsExportPlusWithCancel) {
  FakeExportPlus ep;
  ep.strEPServerName = "EX1";
  ep.strEPOrganizationName = "Velmor";
  ep.strEPSiteName = "Lakeside";
  ep.steps = 400;
  gfrmExportPlus = &ep;

  frmAutoFormat retrieve(main);
  retrieve.iEPInfo = 1;
  bool answeredNo = false;
  bool visibleAfterNo = false;
  QTimer clicker;
  clicker.setInterval(10);
  QObject::connect(&clicker, &QTimer::timeout, [&] {
    if (!answeredNo) {
      ui->QueueMsgBox(velmo::ui::vbNo);
      retrieve.cmdCancel->click();
      answeredNo = true;
      visibleAfterNo = retrieve.isVisible() && ep.iCancelClicked == 0;
    } else {
      ui->QueueMsgBox(velmo::ui::vbYes);
      retrieve.cmdCancel->click();
      clicker.stop();
    }
  });
  clicker.start();
  retrieve.ShowModal();
  EXPECT_TRUE(visibleAfterNo);
  EXPECT_EQ(ep.iCancelClicked, 1);
  EXPECT_LT(ep.stepsRun, ep.steps) << "Cancel stopped the operation";
  EXPECT_FALSE(retrieve.isVisible());
  EXPECT_EQ(retrieve.windowTitle().toStdString(), "Retrieving Information from 'EX1'");
  EXPECT_EQ(ep.calls, std::vector<std::string>{"GetAllInfo EX1|||Velmor|Lakeside"});
  ASSERT_EQ(ui->shown().size(), 2u);
  EXPECT_EQ(ui->shown()[0].prompt, "Cancel Retrieving ?");
  EXPECT_EQ(ui->shown()[0].buttons, velmo::ui::vbYesNo + velmo::ui::vbQuestion);

  ep.steps = 0;
  ep.calls.clear();
  for (const char* caption : {"&Export", "&Print", "E&xport"}) {
    ep.caption = caption;
    frmAutoFormat output(main);
    output.iEPInfo = 2;
    output.ShowModal();
    if (std::string(caption) == "&Print") EXPECT_EQ(output.CancelQuestion(), "Cancel Printing ?");
  }
  EXPECT_EQ(ep.calls, (std::vector<std::string>{"DisplayInfo EX1|Velmor|Lakeside|Default|Export|HTML|/tmp/out",
                                                "DisplayInfo EX1|Velmor|Lakeside|Default|Print||/tmp/out"}));
  EXPECT_EQ(ep.printer, "Laser 2");
  EXPECT_TRUE(std::regex_match(ep.lastStamp, std::regex(R"(\d\d_\d\d_\d{4}_\d\d_\d\d_\d\d)"))) << ep.lastStamp;
}

// The main window's first activation: the default server is connected in
// the progress window and shown; when it fails and the user wants another
// server, the connect dialog opens.
TEST_F(ConnectTest, StartUpConnectsToTheDefaultServer) {
  AddFavouriteRow({"EX10", "Yes", "No"});
  main->iConnectCount = 0;
  main->MDIForm_Activate();
  Pump();
  ASSERT_TRUE(gbConnected) << LastPrompt();
  ASSERT_NE(Newest(), nullptr);
  EXPECT_EQ(Newest()->strSiteName, "Hilltop");
  EXPECT_FALSE(Newest()->isHidden()) << "shown";
  EXPECT_TRUE(ui->shown().empty());

  // A default server that does not answer, answered Yes: the dialog opens
  // for a typed server (closed here by its Cancel).
  gConn->Execute("update VELMORCFavourites set ServerName='DEAD'");
  MapHosts({{"DEAD", "ldap://127.0.0.1:1"}});
  main->iConnectCount = 0;
  ui->QueueMsgBox(velmo::ui::vbYes);
  bool dialogShown = false;
  QTimer closer;
  closer.setInterval(5);
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (!gfrmConnect || !gfrmConnect->isVisible()) return;
    dialogShown = true;
    gfrmConnect->cmdCancel_Click();
    closer.stop();
  });
  closer.start();
  main->MDIForm_Activate();
  Pump();
  EXPECT_FALSE(gbConnected);
  EXPECT_TRUE(gbShowConnectDialog);
  EXPECT_TRUE(dialogShown);
  EXPECT_EQ(main->iFavoriteORDefaultServer, 2);
  EXPECT_EQ(gfrmConnect, nullptr) << "the opener unloads the dialog";
  ASSERT_FALSE(ui->shown().empty());
  EXPECT_EQ(ui->shown()[0].prompt.rfind("Unable to connect to Default Server 'DEAD'.\r\n", 0), 0u);
  EXPECT_NE(ui->shown()[0].prompt.find("\r\rDo you want to connect to another server?"), std::string::npos);
}
