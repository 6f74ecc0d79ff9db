// The schedule window: what it lists when it opens, the servers added
// against the sample directory with their options, the ticks, and the
// settings file its wizard button writes.
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QRadioButton>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Mdifrm.h"
#include "OtherUser.h"
#include "SampleDirectory.h"
#include "ScheduleKit.h"
#include "frmSchedule.h"
#include "frmScheduleInput.h"

using namespace sched_test;

namespace {

std::vector<std::string> Items(const QComboBox* box) {
  std::vector<std::string> out;
  for (int i = 0; i < box->count(); ++i) out.push_back(box->itemText(i).toStdString());
  return out;
}

// The server nodes as "name:image".
std::vector<std::string> Nodes(const frmSchedule& w) {
  std::vector<std::string> out;
  for (int i = 0; i < w.objRootNode->childCount(); ++i)
    out.push_back(w.objRootNode->child(i)->text(0).toStdString() + ":" + frmSchedule::NodeImage(w.objRootNode->child(i)));
  return out;
}

QTreeWidgetItem* Node(const frmSchedule& w, const std::string& name) {
  for (int i = 0; i < w.objRootNode->childCount(); ++i)
    if (w.objRootNode->child(i)->text(0).toStdString() == name) return w.objRootNode->child(i);
  return nullptr;
}

// A click of the mouse on a node, as a user clicks it.
void ClickNode(QTreeWidget* tree, QTreeWidgetItem* node) {
  tree->scrollToItem(node);
  const QPoint at = tree->visualItemRect(node).center();
  QMouseEvent press(QEvent::MouseButtonPress, at, tree->viewport()->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QCoreApplication::sendEvent(tree->viewport(), &press);
  QMouseEvent release(QEvent::MouseButtonRelease, at, tree->viewport()->mapToGlobal(at), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(tree->viewport(), &release);
  Pump();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2)
    out.push_back(text.substr(start, at - start));
  if (start < text.size()) out.push_back(text.substr(start) + "<no line end>");
  return out;
}

// A server line without its run stamp.
std::string Unstamped(const std::string& line) { return line.substr(0, line.rfind("@@@")); }

// What stands at a path, seen without opening it for reading unless it is
// a regular file: kind, inode, a link's target, a file's mode and bytes.
std::string Standing(const std::filesystem::path& p) {
  struct stat st {};
  if (::lstat(p.c_str(), &st) != 0) return "nothing";
  std::string s = std::to_string(st.st_mode) + " " + std::to_string(st.st_ino);
  if (S_ISLNK(st.st_mode)) s += " -> " + std::filesystem::read_symlink(p).string();
  if (S_ISREG(st.st_mode)) {
    ::chmod(p.c_str(), 0600);
    s += " " + velmo::test::TestHome::Slurp(p);
    ::chmod(p.c_str(), st.st_mode & 07777);
  }
  return s;
}

}  // namespace

// Opening: the lists, the header-only file made when none exists, the
// servers of an existing file (whole lines, commas and LF ends included)
// ticked and its damaged lines left out, their options shown when selected,
// and the profile warning.
TEST_F(ScheduleTest, WindowOpensWithListsAndSavedServers) {
  {
    frmSchedule w;
    w.Form_Load();
    EXPECT_EQ(Config(), "Scheduled Servers\r\n") << "a missing file is made with its header only";
    EXPECT_NE(ErrorLog().find("Schedule Form_Load Config File Open Failure"), std::string::npos);
    EXPECT_EQ(Items(w.cboReportName), (std::vector<std::string>{"Default", "Mine"}));
    EXPECT_EQ(Items(w.cboServerName), (std::vector<std::string>{"EX2", "EX1"}));
    EXPECT_EQ(w.cboServerName->currentText(), "");
    ASSERT_GT(w.cboPrinterName->count(), 0);
    EXPECT_EQ(w.cboPrinterName->itemText(w.cboPrinterName->count() - 1), "Velmorcast PDF");
    EXPECT_EQ(Items(w.cboProfileName), (std::vector<std::string>{"EX1 Profile", "EX2 Profile", "EX10 Profile"}));
    EXPECT_TRUE(w.picWar->isHidden());
    EXPECT_TRUE(w.picInfo->isHidden());
    EXPECT_EQ(w.lblProfileStatus->text().toStdString(),
              "Choose any profile to retrieve Mailbox Resources/Public Folder Resources information for the selected "
              "server.");
    EXPECT_EQ(w.txtPath->text().toStdString(), (home->dir() / "Export").string());
    EXPECT_TRUE(w.chkExport->isChecked());
    EXPECT_FALSE(w.chkPrint->isChecked());
    EXPECT_TRUE(w.optFormat[0]->isChecked());
    EXPECT_FALSE(w.cmdAddServer->isEnabled());
    EXPECT_FALSE(w.cmdRemove->isEnabled());
    EXPECT_EQ(frmSchedule::NodeImage(w.objRootNode), "Servers");
    EXPECT_EQ(w.objRootNode->text(0), "Scheduled Servers");
    EXPECT_TRUE(Nodes(w).empty());
    EXPECT_EQ(w.cmdOperation[1]->text(), "&Proceed");
    // Only the root: the wizard button refuses in both of its states.
    w.cmdOperation[1]->click();
    EXPECT_EQ(Prompts(), std::vector<std::string>{"Please select atleast one server to schedule."});
    Shot(&w, "frmSchedule-empty");
  }
  {
    frmSchedule w;  // the header-only file it left: no server, no new log line
    const std::string log = ErrorLog();
    w.Form_Load();
    EXPECT_TRUE(Nodes(w).empty());
    EXPECT_EQ(w.lbHidden->count(), 0);
    EXPECT_EQ(ErrorLog(), log);
    EXPECT_EQ(Config(), "Scheduled Servers\r\n");
  }

  std::string damaged;  // a name in another code page, 30 times
  for (int i = 0; i < 30; ++i) damaged += "EX\xE9\n";
  WriteConfig(
      damaged +
      "Scheduled Servers\n"
      "VelmorcastTask.job@@@CORP\\alice@@@1@@@09:05@@@1@@@@@@0@@@0@@@03/01/2024@@@@@@0@@@0@@@0@@@\n"
      "EX1@@@Mine@@@EX2 Profile@@@Print@@@Velmorcast PDF@@@CSV@@@/srv/Reports, 2024@@@01_02_2024_03_04_05\n"
      "EX10@@@Default@@@EX1 Profile@@@Export@@@@@@HTML@@@/srv/out@@@01_02_2024_03_04_05\n"
      "EX2@@@Mine\n");
  ::setenv("VELMORCAST_PROVIDERS", home->dir().c_str(), 1);  // no profiles here
  frmSchedule w;
  w.Form_Load();
  EXPECT_EQ(Nodes(w), (std::vector<std::string>{"EX1:Check", "EX10:Check", "EX2:Check"}));
  EXPECT_EQ(w.lbHidden->count(), 3);
  // The damaged lines are left out: the first ones named in the error log,
  // the rest counted.
  const std::string log = ErrorLog();
  size_t named = 0;
  for (size_t at = log.find(" : line "); at != std::string::npos; at = log.find(" : line ", at + 1)) ++named;
  EXPECT_EQ(named, 20u) << log;
  EXPECT_NE(log.find(" : 10 more lines skipped"), std::string::npos) << log;
  EXPECT_FALSE(w.picWar->isHidden());
  EXPECT_EQ(w.cboProfileName->count(), 0);
  EXPECT_EQ(w.lblProfileStatus->text().toStdString(),
            "Unable to retrieve profile information. Install Outlook 97+/Exchange 5.5+ to retrieve Mailbox/Public "
            "Folder Resources information.");
  Shot(&w, "frmSchedule-saved");

  // Selecting a node shows its entry; clicking toggles its tick.
  ClickNode(w.tvwSchedServers, Node(w, "EX1"));
  EXPECT_EQ(Nodes(w)[0], "EX1:Uncheck");
  EXPECT_EQ(w.strCurrentServer, "EX1");
  EXPECT_TRUE(w.chkPrint->isChecked());
  EXPECT_FALSE(w.chkExport->isChecked());
  EXPECT_EQ(w.cboReportName->currentText(), "Mine");
  EXPECT_EQ(w.cboPrinterName->currentText(), "Velmorcast PDF");
  EXPECT_EQ(w.txtPath->text().toStdString(), "/srv/Reports, 2024");
  ClickNode(w.tvwSchedServers, Node(w, "EX10"));
  EXPECT_TRUE(w.chkExport->isChecked());
  EXPECT_FALSE(w.chkPrint->isChecked());
  EXPECT_TRUE(w.optFormat[2]->isChecked());
  EXPECT_EQ(w.txtPath->text(), "/srv/out");
  EXPECT_EQ(Nodes(w), (std::vector<std::string>{"EX1:Uncheck", "EX10:Uncheck", "EX2:Check"}));
  // The root neither toggles nor is removed.
  ClickNode(w.tvwSchedServers, w.objRootNode);
  EXPECT_EQ(frmSchedule::NodeImage(w.objRootNode), "Servers");
  w.cmdRemove_Click();
  EXPECT_EQ(w.objRootNode->childCount(), 3);
}

// Add probes the server's root DSE in the sample directory; the options
// of the server shown before are kept; duplicates and servers that do not
// answer add nothing; "&OK" writes header, task line and each ticked
// server once, EX1 beside EX10 with its own line, and refuses a field the
// file cannot carry.
TEST_F(ScheduleTest, AddedServersAreWrittenOnceWithTheirOptions) {
  if (!velmo::test::UseSampleDirectory::Available()) GTEST_SKIP() << "the sample directory is not running";
  velmo::test::UseSampleDirectory directory;
  WriteConfig("Scheduled Servers\r\nVelmorcastTask.job@@@CORP\\alice@@@1@@@09:05@@@1@@@@@@0@@@0@@@03/01/2024@@@@@@0@@@0@@@0@@@\r\n");
  frmSchedule w;
  w.Form_Load();
  w.show();

  Retype(w.cboServerName, "ex1");
  EXPECT_EQ(w.cboServerName->currentText(), "EX1");
  EXPECT_TRUE(w.cmdAddServer->isEnabled());
  EXPECT_TRUE(w.cmdRemove->isEnabled());
  w.cmdAddServer->click();
  EXPECT_EQ(Nodes(w), std::vector<std::string>{"EX1:Check"});
  EXPECT_EQ(w.cboServerName->currentText(), "");
  EXPECT_EQ(w.strCurrentServer, "EX1");
  EXPECT_EQ(w.tvwSchedServers->currentItem(), Node(w, "EX1"));

  // EX1's own choices, then a second server.
  w.cboReportName->setCurrentIndex(1);
  w.cboProfileName->setCurrentIndex(2);
  w.chkPrint->click();
  w.optFormat[1]->click();
  Retype(w.txtPath, "/srv/Reports, 2024");
  Retype(w.cboServerName, "ex10");
  w.cmdAddServer->click();
  EXPECT_EQ(Nodes(w), (std::vector<std::string>{"EX1:Check", "EX10:Check"}));
  EXPECT_EQ(w.cboReportName->currentText(), "Default") << "the new server starts from the defaults";
  EXPECT_TRUE(w.optFormat[0]->isChecked());
  EXPECT_TRUE(w.chkPrint->isChecked()) << "Print keeps its state";
  ASSERT_EQ(w.Entries().size(), 2u);
  EXPECT_EQ(Unstamped(w.Entries()[0]), "EX1@@@Mine@@@EX10 Profile@@@Both@@@" + w.cboPrinterName->itemText(0).toStdString() +
                                           "@@@CSV@@@/srv/Reports, 2024");

  // A duplicate does nothing at all; a server that does not answer is
  // refused with the four-part message and stays in the box.
  Retype(w.cboServerName, "ex1");
  w.cmdAddServer->click();
  Retype(w.cboServerName, "nosuch");
  w.cmdAddServer->click();
  ASSERT_EQ(Prompts().size(), 1u);
  EXPECT_EQ(Prompts()[0].rfind("Unable to connect to 'NOSUCH'.\r\n", 0), 0u) << Prompts()[0];
  EXPECT_NE(Prompts()[0].find("\r\n\r\nPlease enter valid server."), std::string::npos);
  EXPECT_EQ(ui->shown()[0].title, kProductTitle);
  EXPECT_EQ(w.cboServerName->currentText(), "NOSUCH");
  EXPECT_EQ(w.objRootNode->childCount(), 2);
  ui->clear();

  // EX10 only exports, as HTML; the tick of EX10 goes off and on again.
  w.chkPrint->click();
  w.optFormat[2]->click();
  ClickNode(w.tvwSchedServers, Node(w, "EX10"));
  ClickNode(w.tvwSchedServers, Node(w, "EX10"));
  EXPECT_EQ(Nodes(w), (std::vector<std::string>{"EX1:Check", "EX10:Check"}));
  Shot(&w, "frmSchedule-added");

  // Proceed, the input window left with Esc, a field the file cannot
  // carry refused, then "&OK".
  WhenModal<frmScheduleInput>([](frmScheduleInput& input) {
    ASSERT_TRUE(velmo::test::FocusControl(input.txtRunas));
    velmo::test::PressKey(Qt::Key_Escape);
  });
  w.cmdOperation[1]->click();
  EXPECT_EQ(w.cmdOperation[1]->text(), "&OK");
  EXPECT_FALSE(w.blnIsCancelClicked);
  const std::string before = Config();
  // "@@@", an "@" at the end (read back shifted into the next field), and
  // a control character (pasted) are each refused.
  for (const std::string bad : {"/srv/a@@@b", "/srv/out@", "/srv/a\x1b[2Jb"}) {
    SCOPED_TRACE(bad);
    ui->clear();
    if (bad.find('\x1b') != std::string::npos)
      w.txtPath->setText(QString::fromStdString(bad));
    else
      Retype(w.txtPath, bad);
    w.cmdOperation[1]->click();
    EXPECT_EQ(Prompts(), std::vector<std::string>{
                             "The folder of server EX10 cannot contain @@@ or a line break, or end with @."});
    EXPECT_EQ(Config(), before);
    EXPECT_TRUE(w.isVisible());
  }
  Retype(w.txtPath, "/srv/out");
  w.cmdOperation[1]->click();
  EXPECT_FALSE(w.isVisible());
  const auto lines = Lines(Config());
  ASSERT_EQ(lines.size(), 4u) << Config();
  EXPECT_EQ(lines[0], "Scheduled Servers");
  EXPECT_EQ(lines[1].rfind("VelmorcastTask.job@@@CORP\\alice@@@1@@@09:05@@@", 0), 0u) << "the task line is kept";
  EXPECT_EQ(Unstamped(lines[2]), Unstamped(w.Entries()[0]));
  EXPECT_EQ(Unstamped(lines[3]), "EX10@@@Default@@@EX1 Profile@@@Export@@@" + w.cboPrinterName->itemText(0).toStdString() +
                                     "@@@HTML@@@/srv/out");
  EXPECT_EQ(lines[3].substr(lines[3].rfind("@@@") + 3).size(), 19u) << "MM_DD_YYYY_HH_MM_SS";
}

// Several lines of one server (one report each) are entries of their own:
// saved unchanged, or each shown (an empty field empty) and ticked again,
// they are written back as they were read, in their order; a field the
// user retypes is the only one that changes in its line.
TEST_F(ScheduleTest, LinesOfOneServerAreWrittenBackAsRead) {
  const std::vector<std::string> servers = {
      "EX1@@@Default@@@EX1 Profile@@@Both@@@Velmorcast PDF@@@MDB@@@/srv/a@@@01_02_2024_03_04_05",
      "EX1@@@Mine@@@EX2 Profile@@@Both@@@Velmorcast PDF@@@CSV@@@/srv/b@@@02_02_2024_03_04_05",
      "EX10@@@Mine@@@EX1 Profile@@@Both@@@Velmorcast PDF@@@HTML@@@/srv/c@@@03_02_2024_03_04_05",
      "EX1@@@Default@@@EX10 Profile@@@Both@@@Velmorcast PDF@@@HTML@@@/srv/d@@@04_02_2024_03_04_05",
      "EX1@@@Mine@@@EX1 Profile@@@Both@@@Velmorcast PDF@@@MDB@@@/srv/e@@@05_02_2024_03_04_05",
      "EX1@@@R@@@@@@Export@@@@@@CSV@@@/srv/b@@@06_02_2024_03_04_05",
      "EX10@@@R@@@@@@Print@@@Velmorcast PDF@@@@@@@@@07_02_2024_03_04_05",
      "EX1@@@Default@@@@@@Export@@@@@@HTML@@@/srv/d@@@08_02_2024_03_04_05",
      "EX1@@@P@@@@@@Print@@@Velmorcast PDF@@@@@@@@@09_02_2024_03_04_05",
      "EX1@@@Mine@@@@@@@@@@@@MDB@@@/srv/f@@@10_02_2024_03_04_05"};
  enum Way { Unseen, Shown, FolderRetyped };
  for (const Way way : {Unseen, Shown, FolderRetyped}) {
    SCOPED_TRACE(way);
    std::string text = "Scheduled Servers\r\n";
    for (const auto& line : servers) text += line + "\r\n";
    WriteConfig(text);
    frmSchedule w;
    w.Form_Load();
    w.show();
    for (int i = 0; way != Unseen && i < w.objRootNode->childCount(); ++i) {
      SCOPED_TRACE(servers[i]);
      QTreeWidgetItem* node = w.objRootNode->child(i);
      ClickNode(w.tvwSchedServers, node);
      const auto f = velmo::SplitSchedFields(servers[i]);
      EXPECT_EQ(w.cboProfileName->currentText().toStdString(), f[2]);
      EXPECT_EQ((w.chkExport->isChecked() ? "E" : "") + std::string(w.chkPrint->isChecked() ? "P" : ""),
                f[3] == "Both" ? "EP" : f[3].substr(0, 1));
      EXPECT_EQ(w.cboPrinterName->currentText().toStdString(), f[4]);
      EXPECT_EQ(f[5].empty(), std::none_of(w.optFormat.begin(), w.optFormat.end(),
                                           [](const QRadioButton* b) { return b->isChecked(); }));
      EXPECT_EQ(w.txtPath->text().toStdString(), f[6]);
      if (i == 6) Shot(&w, "frmSchedule-empty-fields");
      ClickNode(w.tvwSchedServers, node);
    }
    std::vector<std::string> expected = servers;
    if (way == FolderRetyped) {
      for (int click = 0; click < 2; ++click) ClickNode(w.tvwSchedServers, w.objRootNode->child(5));
      Retype(w.txtPath, "/srv/x");
      expected[5] = "EX1@@@R@@@@@@Export@@@@@@CSV@@@/srv/x";
    }
    WhenModal<frmScheduleInput>([](frmScheduleInput& input) { input.cmdCancel->click(); });
    for (int press = 0; press < 2; ++press) {
      ASSERT_TRUE(velmo::test::FocusControl(w.cmdOperation[1]));
      velmo::test::PressKey(Qt::Key_Space, Qt::NoModifier, " ");
    }
    EXPECT_FALSE(w.isVisible());
    std::vector<std::string> written;
    for (const auto& line : Lines(Config()))
      if (line.rfind("EX1", 0) == 0)
        written.push_back(way == FolderRetyped && written.size() == 5 ? Unstamped(line) : line);
    EXPECT_EQ(written, expected);
  }
}

// A settings file that is there but cannot be read (another account's,
// or not a regular file) is neither replaced when the window opens nor
// written over by "&OK", whose default task is then not registered either;
// the file and the reason are shown and logged. Run as root, the case of
// another account's file runs again as another user.
TEST_F(ScheduleTest, AnUnreadableSettingsFileIsLeftAsItIs) {
  namespace fs = std::filesystem;
  const std::string kept = "Scheduled Servers\r\nEX1@@@Mine@@@@@@Export@@@@@@MDB@@@/srv@@@01_02_2024_03_04_05\r\n";
  struct Row {
    std::string name;
    std::function<void(const fs::path&)> make;
    std::string reason;
  };
  std::vector<Row> rows = {
      {"named pipe", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); }, "The file is not a regular file."},
      {"folder", [](const fs::path& p) { fs::create_directories(p / "inside"); }, "The file is not a regular file."},
      {"link to nothing", [](const fs::path& p) { fs::create_symlink("gone.cfg", p); },
       "The file could not be opened: No such file or directory"}};
  if (::geteuid() != 0)
    rows.push_back({"file of mode 000",
                    [&](const fs::path& p) {
                      std::ofstream(p, std::ios::binary) << kept;
                      ::chmod(p.c_str(), 0);
                    },
                    "The file could not be opened: Permission denied"});
  const std::string path = ConfigFile().string();
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    fs::remove_all(ConfigFile());
    fs::create_directories(ConfigFile().parent_path());
    r.make(ConfigFile());
    const std::string standing = Standing(ConfigFile());
    ui->clear();
    {
      frmSchedule w;
      w.Form_Load();
      EXPECT_EQ(Prompts(), std::vector<std::string>{"The schedule settings file cannot be read and is left as it "
                                                    "is.\r\n" + path + ": " + r.reason});
      EXPECT_TRUE(Nodes(w).empty());
      // (Run as another user, the build's folder cannot be written.)
      if (r.name == "named pipe" && ::access(VELMO_BINARY_DIR, W_OK) == 0)
        Shot(&w, "frmSchedule-unreadable-settings");
    }
    EXPECT_EQ(Standing(ConfigFile()), standing);
    EXPECT_NE(ErrorLog().find(path + ": " + r.reason + "      Schedule Form_Load Config File Open Failure"),
              std::string::npos) << ErrorLog();

    // Readable when the window opened, unreadable by its "&OK".
    fs::remove_all(ConfigFile());
    WriteConfig(kept);
    frmSchedule w;
    w.Form_Load();
    w.show();
    fs::remove(ConfigFile());
    r.make(ConfigFile());
    const std::string again = Standing(ConfigFile());
    ui->clear();
    w.blnIsCancelClicked = true;
    w.cmdOperation[1]->setText("&OK");
    w.cmdOperation[1]->click();
    EXPECT_EQ(Prompts(), std::vector<std::string>{"The schedule settings could not be saved.\r\n" + path + ": " + r.reason});
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(Standing(ConfigFile()), again);
    EXPECT_FALSE(fs::exists(home->CrontabFile())) << "no task registered";
  }
  if (::geteuid() != 0 || !velmo::test::OtherUser::CannotRun().empty()) return;
  // This very test, run as nobody from a copy that user can reach.
  const velmo::test::OtherUser nobody(fs::read_symlink("/proc/self/exe"));
  const auto [status, out] = velmo::test::OtherUser::Run(
      nobody.Command() + " --gtest_filter=ScheduleTest.AnUnreadableSettingsFileIsLeftAsItIs 2>&1");
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
}

// The Schedule command opens a new schedule window each time.
TEST_F(ScheduleTest, ScheduleCommandOpensTheWindow) {
  ASSERT_TRUE(Mdifrm::Seams().showSchedule);
  ASSERT_TRUE(Mdifrm::Seams().showReportDesigner);
  for (int i = 0; i < 2; ++i) {
    frmSchedule* seen = nullptr;
    WhenModal<frmSchedule>([&](frmSchedule& w) {
      seen = &w;
      EXPECT_EQ(w.cmdOperation[1]->text(), "&Proceed");
      EXPECT_FALSE(w.blnIsCancelClicked);
      w.cmdOperation[2]->click();
    });
    Mdifrm::Seams().showSchedule();
    EXPECT_NE(seen, nullptr);
  }
}

// New report lists what the designer saved and keeps the report chosen;
// the folder picker fills the path; a settings file that cannot be
// written is reported and logged, and the window stays open.
TEST_F(ScheduleTest, NewReportBrowseAndWriteFailure) {
  WriteConfig("Scheduled Servers\r\nEX1@@@Mine@@@@@@Export@@@@@@MDB@@@/srv@@@01_02_2024_03_04_05\r\n");
  frmSchedule w;
  w.Form_Load();
  w.show();
  w.cboReportName->setCurrentIndex(1);
  bool flagSeen = false;
  auto saved = Mdifrm::Seams().showReportDesigner;
  Mdifrm::Seams().showReportDesigner = [&] {
    flagSeen = gbCustomReport;
    gConn->Execute("insert into VELMORCCustomReports values ('MailboxesGeneral', 'Audit', ';x')", {});
  };
  w.cmdNewReport->click();
  Mdifrm::Seams().showReportDesigner = saved;
  EXPECT_TRUE(flagSeen);
  EXPECT_FALSE(gbCustomReport);
  EXPECT_EQ(Items(w.cboReportName), (std::vector<std::string>{"Default", "Mine", "Audit"}));
  EXPECT_EQ(w.cboReportName->currentText(), "Mine");

  ui->QueueFolder("/srv/picked");
  w.cmdBrowse->click();
  EXPECT_EQ(w.txtPath->text(), "/srv/picked");
  ui->QueueFolder("");
  w.cmdBrowse->click();
  EXPECT_EQ(w.txtPath->text(), "/srv/picked") << "a cancelled picker changes nothing";

  // The settings file is replaced by a folder of that name: nothing can
  // be written there.
  std::filesystem::remove(ConfigFile());
  std::filesystem::create_directories(ConfigFile() / "blocked");
  ui->clear();
  w.cmdOperation[1]->setText("&OK");
  w.cmdOperation[1]->click();
  ASSERT_EQ(Prompts().size(), 1u);
  EXPECT_EQ(Prompts()[0].rfind("The schedule settings could not be saved.\r\n", 0), 0u) << Prompts()[0];
  EXPECT_NE(ErrorLog().find("Schedule cmdOperation Config File Write Failure"), std::string::npos);
  EXPECT_TRUE(w.isVisible());
}

namespace {

// A click of the mouse on a button, as a user clicks it.
void ClickButton(QAbstractButton* button) {
  const QPoint at = button->rect().center();
  for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
    QMouseEvent event(type, at, button->mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(button, &event);
  }
  Pump();
}

// The scheduled run started on this application folder; its exit status.
int RunScheduled() {
  const std::string program = (velmo::test::TestHome::BuildAppDir() / "VLMRSchedule").string();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

// What the window saves, the scheduled run carries out. A printout given
// an export by ticking "Export Data" is saved with MDB and the Export
// folder, and the run exports and prints it; a server added with "Export
// Data" unticked is saved with no operation, and the run collects it and
// writes nothing. Each run exits 0. An export given a printout by ticking
// "Print" is saved with the list's first printer.
TEST_F(ScheduleTest, WhatTheWindowSavesTheRunCarriesOut) {
  if (!velmo::test::UseSampleDirectory::Available()) GTEST_SKIP() << "the sample directory is not running";
  velmo::test::UseSampleDirectory directory;
  gConn->Execute("insert into VELMORCCustomReports values ('MailboxesGeneral', 'R', 'Alias Name')", {});
  const std::string exportFolder = (home->dir() / "Export").string();
  struct Row {
    std::string name, read, server;
    std::function<void(frmSchedule&)> edit;
    std::string written;  // unstamped, "<printer>" for the list's first
    bool exported;
    bool run = true;  // (not on a printer of this machine's own)
  };
  const std::vector<Row> rows = {
      {"printout with export ticked", "EX10@@@R@@@@@@Print@@@Velmorcast PDF@@@@@@@@@07_02_2024_03_04_05", "EX10",
       [](frmSchedule& w) {
         for (int click = 0; click < 2; ++click) ClickNode(w.tvwSchedServers, Node(w, "EX10"));
         ASSERT_FALSE(w.optFormat[0]->isChecked() || w.optFormat[1]->isChecked() || w.optFormat[2]->isChecked());
         ClickButton(w.chkExport);
         EXPECT_TRUE(w.optFormat[0]->isChecked()) << "MDB is chosen as the box is ticked";
         Shot(&w, "frmSchedule-export-ticked");
       },
       "EX10@@@R@@@@@@Both@@@Velmorcast PDF@@@MDB@@@" + exportFolder, true},
      {"collect only", "", "EX1",
       [](frmSchedule& w) {
         Retype(w.cboServerName, "ex1");
         ClickButton(w.cmdAddServer);
         ClickButton(w.chkExport);
         EXPECT_FALSE(w.chkExport->isChecked());
       },
       "EX1@@@Default@@@EX1 Profile@@@@@@<printer>@@@MDB@@@" + exportFolder, false},
      {"export with print ticked", "EX1@@@R@@@@@@Export@@@@@@CSV@@@/srv/b@@@06_02_2024_03_04_05", "EX1",
       [](frmSchedule& w) {
         for (int click = 0; click < 2; ++click) ClickNode(w.tvwSchedServers, Node(w, "EX1"));
         ClickButton(w.chkPrint);
         EXPECT_EQ(w.cboPrinterName->currentIndex(), 0) << "the first printer is chosen as the box is ticked";
       },
       "EX1@@@R@@@@@@Both@@@<printer>@@@CSV@@@/srv/b", false, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    for (const char* folder : {"Export", "Print"}) std::filesystem::remove_all(home->dir() / folder);
    WriteConfig("Scheduled Servers\r\n" + (r.read.empty() ? "" : r.read + "\r\n"));
    frmSchedule w;
    w.Form_Load();
    w.show();
    r.edit(w);
    WhenModal<frmScheduleInput>([](frmScheduleInput& input) { input.cmdCancel->click(); });
    for (int press = 0; press < 2; ++press) {
      ASSERT_TRUE(velmo::test::FocusControl(w.cmdOperation[1]));
      velmo::test::PressKey(Qt::Key_Space, Qt::NoModifier, " ");
    }
    ASSERT_FALSE(w.isVisible());
    std::string expected = r.written;
    if (const size_t at = expected.find("<printer>"); at != std::string::npos)
      expected.replace(at, 9, w.cboPrinterName->itemText(0).toStdString());
    const auto lines = Lines(Config());
    ASSERT_EQ(lines.size(), 3u) << Config();
    EXPECT_EQ(Unstamped(lines[2]), expected);
    if (!r.run) continue;

    EXPECT_EQ(RunScheduled(), 0) << velmo::test::TestHome::Slurp(home->dir() / "Schedule" / "VelmorcastSchedLog.log");
    EXPECT_FALSE(velmo::test::InventoryRows(home->dir(), "MailboxGeneral", "ServerName='" + r.server + "'").empty());
    const std::string stamp = lines[2].substr(lines[2].rfind("@@@") + 3);
    EXPECT_EQ(std::filesystem::exists(home->dir() / "Export" / (r.server + "_" + stamp + ".mdb")), r.exported);
    std::error_code none;
    EXPECT_EQ(!std::filesystem::is_empty(home->dir() / "Print", none) && !none, r.exported) << "printed too";
  }
}

namespace {

// Proceed, the input window left with Esc (no task written) or Cancel (the
// default task written), then "&OK" pressed as a user presses it.
void ProceedThenOK(frmSchedule& w, bool cancel) {
  WhenModal<frmScheduleInput>([cancel](frmScheduleInput& input) {
    if (cancel) {
      input.cmdCancel->click();
      return;
    }
    ASSERT_TRUE(velmo::test::FocusControl(input.txtRunas));
    velmo::test::PressKey(Qt::Key_Escape);
  });
  for (int press = 0; press < 2; ++press) {
    ASSERT_TRUE(velmo::test::FocusControl(w.cmdOperation[1]));
    velmo::test::PressKey(Qt::Key_Space, Qt::NoModifier, " ");
  }
}

std::string SchedLog(const std::filesystem::path& home) {
  return velmo::test::TestHome::Slurp(home / "Schedule" / "VelmorcastSchedLog.log");
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

// Lines the user did not change go back into the file byte for byte,
// whether the input window wrote its task or not: lines cut short (LF
// ends, fewer than eight fields), one with a format the run does not know
// and a field too many, shown and left as it was, and the lines the window
// cannot show (not UTF-8, a CR inside, over 64 KiB), of which it tells
// once. The run then still skips every one of them, exit 1, and clears no
// server.
TEST_F(ScheduleTest, LinesTheUserDidNotChangeAreWrittenBackByteForByte) {
  if (!velmo::test::UseSampleDirectory::Available()) GTEST_SKIP() << "the sample directory is not running";
  velmo::test::UseSampleDirectory directory;
  const std::string folder = (home->dir() / "Out").string();
  const std::string servers =
      "EX1@@@Default@@@@@@\r\n"
      "EX1\n"
      "EX2@@@Default@@@@@@@@@@@@@@@" + folder + "\r\n"
      "EX10@@@Default@@@@@@Export@@@@@@csv@@@" + folder + "@@@01_02_2024_03_04_05@@@more\n";
  const std::string unreadable = "EX10@@@Caf\xe9 Report@@@@@@Export@@@@@@CSV@@@" + folder + "@@@x\r\n"
                                 "EX2@@@Default\r@@@@@@Export@@@@@@CSV@@@" + folder + "@@@x\r\n" +
                                 "EX1@@@" + std::string(70 * 1024, 'R') + "\r\n";
  const std::string task =
      "VelmorcastTask.job@@@CORP\\alice@@@1@@@09:05@@@1@@@@@@0@@@0@@@03/01/2024@@@@@@0@@@0@@@0@@@\r\n";
  for (const bool cancel : {false, true}) {
    SCOPED_TRACE(cancel ? "input window cancelled" : "input window left with Esc");
    const std::string text = "Scheduled Servers\n" + task + servers + unreadable;
    WriteConfig(text);
    ui->clear();
    frmSchedule w;
    w.Form_Load();
    w.show();
    ASSERT_EQ(Prompts().size(), 1u);
    EXPECT_EQ(Prompts()[0], "The schedule settings file holds 3 lines that cannot be shown here (damaged, or not UTF-8 "
                            "text). They are kept in the file as they are; the error log names them.\r\n" +
                                ConfigFile().string());
    EXPECT_EQ(Nodes(w), (std::vector<std::string>{"EX1:Check", "EX1:Check", "EX2:Check", "EX10:Check"}));
    // The unknown format is shown as none, and saved as read.
    for (int click = 0; click < 2; ++click) ClickNode(w.tvwSchedServers, Node(w, "EX10"));
    EXPECT_FALSE(w.optFormat[0]->isChecked() || w.optFormat[1]->isChecked() || w.optFormat[2]->isChecked());
    ProceedThenOK(w, cancel);
    ASSERT_FALSE(w.isVisible());
    EXPECT_EQ(Prompts().size(), 1u) << "told once";
    if (!cancel) {
      EXPECT_EQ(Config(), text);
      continue;
    }
    const std::string written = Config();
    const size_t kept = written.find("\r\n", written.find("\r\n") + 2) + 2;
    EXPECT_EQ(written.substr(0, 40), "Scheduled Servers\r\nVelmorcastTask.job@@@");
    EXPECT_EQ(written.substr(kept), servers + unreadable) << "after the new task line";
  }

  const int status = RunScheduled();
  const std::string log = SchedLog(home->dir());
  EXPECT_EQ(status, 1) << log;
  EXPECT_EQ(Count(log, "Operation Not Export, Print Or Both"), 3u) << log;
  EXPECT_EQ(Count(log, "Export Format Not MDB, CSV Or HTML : 'csv'"), 1u) << log;
  for (const char* why : {"Not UTF-8 Text", "Control Characters", "Line Too Long"})
    EXPECT_EQ(Count(log, why), 1u) << why << "\n" << log;
  EXPECT_TRUE(velmo::test::InventoryRows(home->dir(), "MailboxGeneral").empty()) << "no server collected";
}

// What the window shows of an entry is what it saves, and the run does it:
// after Remove the entry highlighted is shown, and a choice made then is
// saved into it; a printer or report this computer does not list is shown
// marked, and kept; an export folder that is not a full path is refused,
// with the entry shown and the file untouched.
TEST_F(ScheduleTest, WhatTheWindowShowsIsWhatItSaves) {
  if (!velmo::test::UseSampleDirectory::Available()) GTEST_SKIP() << "the sample directory is not running";
  velmo::test::UseSampleDirectory directory;
  gConn->Execute("insert into VELMORCCustomReports values ('MailboxesGeneral', 'R', 'Alias Name')", {});
  const std::string a = (home->dir() / "A").string(), b = (home->dir() / "B").string();
  {
    SCOPED_TRACE("Remove");
    WriteConfig("Scheduled Servers\r\nEX1@@@R@@@@@@Export@@@@@@CSV@@@" + a +
                "@@@01_02_2024_03_04_05\r\nEX2@@@R@@@@@@Export@@@@@@HTML@@@" + b + "@@@02_02_2024_03_04_05\r\n");
    frmSchedule w;
    w.Form_Load();
    w.show();
    for (int click = 0; click < 2; ++click) ClickNode(w.tvwSchedServers, Node(w, "EX2"));
    ClickButton(w.cmdRemove);
    ASSERT_EQ(w.tvwSchedServers->currentItem(), Node(w, "EX1"));
    EXPECT_TRUE(w.optFormat[1]->isChecked()) << "EX1's own CSV";
    EXPECT_EQ(w.txtPath->text().toStdString(), a);
    Shot(&w, "frmSchedule-after-remove");
    ClickButton(w.optFormat[0]);
    // A folder that is not a full path is refused, the entry shown.
    Retype(w.txtPath, "Export");
    const std::string before = Config();
    ui->clear();
    ProceedThenOK(w, false);
    ASSERT_TRUE(w.isVisible());
    EXPECT_EQ(Prompts(), std::vector<std::string>{"The folder of server EX1 is not a full path: 'Export'. Give the "
                                                  "whole path, such as " + (home->dir() / "Export").string() + "."});
    EXPECT_EQ(Config(), before);
    Retype(w.txtPath, a);
    ClickButton(w.cmdOperation[1]);
    ASSERT_FALSE(w.isVisible());
    const auto lines = Lines(Config());
    ASSERT_EQ(lines.size(), 2u) << Config();
    EXPECT_EQ(Unstamped(lines[1]), "EX1@@@R@@@@@@Export@@@@@@MDB@@@" + a);
    EXPECT_EQ(RunScheduled(), 0) << SchedLog(home->dir());
    EXPECT_TRUE(std::filesystem::exists(a + "/EX1_" + lines[1].substr(lines[1].rfind("@@@") + 3) + ".mdb"));
  }
  {
    SCOPED_TRACE("not on this computer");
    const std::string printout = "EX1@@@R@@@@@@Print@@@HR-Laser@@@@@@@@@02_02_2024_03_04_05";
    WriteConfig("Scheduled Servers\r\nEX2@@@R@@@@@@Export@@@@@@CSV@@@" + a + "@@@01_02_2024_03_04_05\r\n" + printout +
                "\r\nEX10@@@Weekly@@@@@@Export@@@@@@CSV@@@" + a + "@@@03_02_2024_03_04_05\r\n");
    frmSchedule w;
    w.Form_Load();
    w.show();
    ClickNode(w.tvwSchedServers, Node(w, "EX2"));  // no printer: unticked, not written
    EXPECT_EQ(w.cboPrinterName->currentIndex(), -1);
    for (int click = 0; click < 2; ++click) ClickNode(w.tvwSchedServers, Node(w, "EX1"));
    EXPECT_EQ(w.cboPrinterName->currentText(), "HR-Laser (not installed)");
    Shot(&w, "frmSchedule-printer-not-installed");
    ClickNode(w.tvwSchedServers, Node(w, "EX10"));
    EXPECT_EQ(w.cboReportName->currentText(), "Weekly (no such report)");
    EXPECT_EQ(w.cboPrinterName->findText("HR-Laser (not installed)"), -1) << "marked for its own entry only";
    Shot(&w, "frmSchedule-report-missing");
    Retype(w.txtPath, b);
    ClickNode(w.tvwSchedServers, Node(w, "EX1"));  // EX10 saved, unticked
    EXPECT_EQ(Unstamped(w.Entries().back()), "EX10@@@Weekly@@@@@@Export@@@@@@CSV@@@" + b);
    ClickNode(w.tvwSchedServers, Node(w, "EX1"));
    ProceedThenOK(w, false);
    ASSERT_FALSE(w.isVisible());
    EXPECT_EQ(Config(), "Scheduled Servers\r\n" + printout + "\r\n");
    const int status = RunScheduled();
    EXPECT_EQ(status, 1) << SchedLog(home->dir());
    EXPECT_NE(SchedLog(home->dir()).find("Printer Not Found : HR-Laser"), std::string::npos) << SchedLog(home->dir());
  }
}
