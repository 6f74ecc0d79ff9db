// The main program's windows: start-up, the main window's life cycle, its
// menus, toolbar and commands, and the Readme/License/About window. Runs
// offscreen with scripted answers to every message box.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QScrollBar>
#include <QStyle>
#include <QToolBar>
#include <QTreeWidget>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <thread>

#include <stdlib.h>
#include <unistd.h>

#include "AppFolder.h"
#include "Database.h"
#include "DateText.h"
#include "FlexGrid.h"
#include "InstanceLock.h"
#include "Mdifrm.h"
#include "OtherUser.h"
#include "QtTestApp.h"
#include "RecordingPrinter.h"
#include "SampleDirectory.h"
#include "SanitizerOptions.h"
#include "TestHome.h"
#include "ScriptedUi.h"
#include "Ui.h"
#include "WindowShots.h"
#include "frmExch.h"
#include "frmReadme.h"
#include "modExch.h"
#include "modGlobals.h"
#include "modStartup.h"

namespace fs = std::filesystem;
namespace db = velmo::db;
using velmo::test::HangBound;
using velmo::test::TestHome;
using velmo::ui::ScriptedUi;

namespace {

QApplication& App() { return velmo::test::TestApp("test_mainwindow"); }
void Pump() { velmo::test::PumpEvents(); }

long Count(db::Connection& c, const std::string& sql) {
  db::Recordset rs;
  rs.Open(sql, c, db::adOpenKeyset, db::adLockOptimistic);
  long n = rs.RecordCount();
  rs.Close();
  return n;
}

std::unique_ptr<db::Connection> OpenDb(const fs::path& file) {
  auto c = std::make_unique<db::Connection>();
  c->Open(file.string());
  return c;
}

bool Shown(const ScriptedUi& ui, const std::string& prompt) {
  for (const auto& s : ui.shown())
    if (s.prompt == prompt) return true;
  return false;
}

// A browse window as far as the main window's commands look at one.
class FakeExchWindow : public ExchWindow {
 public:
  explicit FakeExchWindow(std::string server) {
    strServerName = server;
    widget = new QWidget();
    widget->setWindowTitle(QString::fromStdString(server));
    sub = gMdiArea->addSubWindow(widget);
    node.valid = true;
    node.text = server;
    node.parentText = "Servers";
    node.index = 4;
  }
  QWidget* Window() override { return widget; }
  velmo::FlexGrid* Grd1() override { return nullptr; }
  TreeNodeInfo SelectedNode() override { return node; }
  bool TypeTabVisible() override { return false; }
  std::string TypeTabCaption() override { return ""; }
  std::string PropTabKey() override { return "MailboxesGeneral"; }
  std::string PropTabCaption() override { return "General"; }
  void GetAllInfo(int mode) override { getAllInfo.push_back(mode); }
  void DisplayInfo(const std::string&) override {}

  QWidget* widget;
  QMdiSubWindow* sub;
  TreeNodeInfo node;
  std::vector<int> getAllInfo;
};

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    ui = std::make_shared<ScriptedUi>();
    previousUi = velmo::ui::SetUi(ui);
    Mdifrm::Seams() = MdifrmSeams{};
    gbConnected = false;
    gbShowConnectDialog = false;
  }
  void TearDown() override {
    CloseWindow();
    Mdifrm::Seams() = MdifrmSeams{};
    velmo::ui::SetUi(previousUi);
    gConn.reset();
  }

  // Start-up as the program runs it, with a short splash.
  Mdifrm* Start(int splashMs = 0) {
    StartUpResult r = StartUp(lock, splashMs);
    EXPECT_EQ(r.kind, StartUpResult::Started);
    window = r.window;
    Pump();  // the first activation
    return window;
  }
  void CloseWindow() {
    for (auto& f : fakes) {
      CloseExchWindowSlot(f.get());
      delete f->sub;
    }
    fakes.clear();
    if (window) {
      window->close();
      window = nullptr;
      Pump();
    }
    lock.Unlock();
  }
  FakeExchWindow* OpenFake(const std::string& server) {
    fakes.push_back(std::make_unique<FakeExchWindow>(server));
    FakeExchWindow* f = fakes.back().get();
    EXPECT_GT(OpenExchWindowSlot(f), 0);
    f->widget->show();
    gMdiArea->setActiveSubWindow(f->sub);
    return f;
  }
  std::string ErrorLog() const { return TestHome::Slurp(home / "VelmorcastErrorLog.log"); }

  TestHome home;
  std::shared_ptr<ScriptedUi> ui;
  std::shared_ptr<velmo::ui::UiSeam> previousUi;
  velmo::FileLock lock;
  Mdifrm* window = nullptr;
  std::vector<std::unique_ptr<FakeExchWindow>> fakes;
};

// ----------------------------------------------------------------- start-up

TEST_F(MainWindowTest, FirstStartInEmptyFolderCreatesEverything) {
  int connectDialogs = 0;
  Mdifrm::Seams().showConnectDialog = [&] { ++connectDialogs; };
  Mdifrm* w = Start(1000);
  ASSERT_NE(w, nullptr);

  EXPECT_EQ(w->windowTitle().toStdString(), "Velmorine for Exchange Server (Velmorcast) v1.4.2");
  EXPECT_EQ(gstrDBPath, (home / "velmo.mdb").string());
  EXPECT_TRUE(fs::is_directory(home / "Export"));
  ASSERT_TRUE(gConn);
  EXPECT_EQ(gConn->State(), db::adStateOpen);
  EXPECT_EQ(gMdifrm, w);
  EXPECT_EQ(gMainWindow, w);
  EXPECT_EQ(gMdiArea, w->MdiArea());

  db::Catalog cat;
  cat.SetActiveConnection(gstrDBPath);
  EXPECT_EQ(cat.TableNames().size(), 50u);
  cat.ReleaseConnection();
  EXPECT_EQ(Count(*gConn, "select * from VELMORCCustomReports where CustomReportName='Default'"), 141);

  // No default server: the first activation opens the connect dialog once,
  // and later activations do nothing.
  EXPECT_EQ(connectDialogs, 1);
  EXPECT_EQ(w->iConnectCount, 1);
  w->MDIForm_Activate();
  EXPECT_EQ(connectDialogs, 1);
}

TEST_F(MainWindowTest, SecondStartCompactsAndKeepsRows) {
  Start();
  gConn->Execute("insert into VELMORCFavourites values ('EX2', 'No', 'Yes')");
  CloseWindow();
  EXPECT_FALSE(gConn);

  // A copy left behind by an interrupted compaction does not block it.
  { std::ofstream(home / "COMPVELMO.mdb") << "stale"; }
  Start();
  EXPECT_FALSE(fs::exists(home / "COMPVELMO.mdb"));
  EXPECT_EQ(ErrorLog().find("CompactDB"), std::string::npos) << ErrorLog();
  EXPECT_EQ(Count(*gConn, "select * from VELMORCCustomReports"), 141);
  EXPECT_EQ(Count(*gConn, "select * from VELMORCFavourites where ServerName='ex2'"), 1);
}

TEST_F(MainWindowTest, DatabaseThatCannotBeCreatedIsReportedAndTheWindowStillOpens) {
  // The application folder lies under a plain file, so nothing can be
  // created in it.
  { std::ofstream(home / "plain") << "x"; }
  ::setenv("VELMORCAST_HOME", (home / "plain" / "app").c_str(), 1);
  auto* w = new Mdifrm();
  ::setenv("VELMORCAST_HOME", home.dir().c_str(), 1);
  window = w;
  EXPECT_FALSE(gConn);
  EXPECT_EQ(w->windowTitle().toStdString(), "Velmorine for Exchange Server (Velmorcast) v1.4.2");
  ASSERT_FALSE(ui->shown().empty());
  const auto box = ui->shown()[0];
  EXPECT_EQ(box.prompt.rfind("Error occured while creating database : \r\n-", 0), 0u) << box.prompt;
  EXPECT_EQ(std::count(box.prompt.begin(), box.prompt.end(), '\n'), 2);
  EXPECT_EQ(box.buttons, velmo::ui::vbInformation);
  EXPECT_EQ(box.title, "Velmorine for Exchange Server (Velmorcast)");
}

TEST_F(MainWindowTest, DefaultServerConnectsThroughTheProgressWindow) {
  Start();
  gConn->Execute("insert into VELMORCFavourites values ('EX1', 'Yes', 'Yes')");
  CloseWindow();

  std::vector<std::string> calls;
  Mdifrm::Seams().connectInProgressWindow = [&] {
    calls.push_back("connect " + gMdifrm->strFavoriteORDefaultServer + " " +
                    std::to_string(gMdifrm->iFavoriteORDefaultServer) + " " +
                    std::to_string(gMdifrm->iConnectCount));
    gbConnected = false;
    gbShowConnectDialog = true;  // the user asked for another server
  };
  Mdifrm::Seams().showConnectedWindow = [&] { calls.push_back("connected window"); };
  Mdifrm::Seams().showConnectDialog = [&] { calls.push_back("connect dialog"); };
  Start();
  EXPECT_EQ(calls, (std::vector<std::string>{"connect EX1 0 1", "connect dialog"}));
  CloseWindow();

  calls.clear();
  Mdifrm::Seams().connectInProgressWindow = [&] {
    calls.push_back("connect");
    gbConnected = true;
    gbShowConnectDialog = false;
  };
  Start();
  EXPECT_EQ(calls, (std::vector<std::string>{"connect", "connected window"}));
}

TEST_F(MainWindowTest, OneInstancePerApplicationFolder) {
  ASSERT_TRUE(TakeInstanceLock(lock));
  EXPECT_EQ(InstanceLockFile(), home / "VELMORC.lock");

  // A second start in the same folder is refused before anything is made.
  velmo::FileLock second;
  StartUpResult r = StartUp(second, 0);
  EXPECT_EQ(r.kind, StartUpResult::AlreadyRunning);
  EXPECT_EQ(r.window, nullptr);
  ASSERT_EQ(ui->shown().size(), 1u);
  EXPECT_EQ(ui->shown()[0].prompt, "Application is already opened.");
  EXPECT_EQ(ui->shown()[0].buttons, velmo::ui::vbCritical);
  EXPECT_EQ(ui->shown()[0].title, "");
  EXPECT_FALSE(fs::exists(home / "velmo.mdb"));

  // The program itself, started in the same folder, ends at once.
  const QString program = QString::fromStdString((TestHome::BuildAppDir() / "VELMORC").string());
  QProcess refused;
  auto env = QProcessEnvironment::systemEnvironment();
  env.insert("VELMORCAST_HOME", QString::fromStdString(home.dir().string()));
  env.insert("QT_QPA_PLATFORM", "offscreen");
  refused.setProcessEnvironment(env);
  refused.start(program, {});
  ASSERT_TRUE(refused.waitForFinished(HangBound(20000)));
  EXPECT_EQ(refused.exitCode(), 0);
  EXPECT_NE(refused.readAllStandardError().toStdString().find("Application is already opened."),
            std::string::npos);

  // In another folder it starts and makes its own database.
  TestHome other(false);
  velmo::FileLock otherLock;
  EXPECT_TRUE(TakeInstanceLock(otherLock));
  otherLock.Unlock();
  QProcess started;
  env.insert("VELMORCAST_HOME", QString::fromStdString(other.dir().string()));
  started.setProcessEnvironment(env);
  started.start(program, {});
  ASSERT_TRUE(started.waitForStarted(HangBound(10000)));
  auto deadline = std::chrono::steady_clock::now() + HangBound(std::chrono::seconds(30));
  while (!fs::is_directory(other / "Export") && std::chrono::steady_clock::now() < deadline &&
         started.state() == QProcess::Running)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(fs::is_directory(other / "Export"));
  EXPECT_TRUE(fs::exists(other / "velmo.mdb"));
  EXPECT_EQ(started.state(), QProcess::Running);
  started.kill();
  started.waitForFinished(HangBound(10000));
}

// A folder where the lock file cannot be made is not a running copy: the
// user is told which folder and why, and the program starts. Root ignores
// permission bits, so the folder lies under a plain file.
TEST_F(MainWindowTest, ApplicationFolderThatCannotHoldTheLockIsNamed) {
  { std::ofstream(home / "plain") << "x"; }
  const fs::path folder = home / "plain" / "app";

  velmo::FileLock probe;
  std::error_code error;
  EXPECT_EQ(probe.Try(folder / "VELMORC.lock", velmo::FileLock::Mode::Exclusive, error),
            velmo::FileLock::Outcome::Failed);
  EXPECT_EQ(error, std::errc::not_a_directory);
  EXPECT_EQ(probe.Try(home / "x.lock", velmo::FileLock::Mode::Exclusive, error), velmo::FileLock::Outcome::Taken);
  velmo::FileLock other;
  EXPECT_EQ(other.Try(home / "x.lock", velmo::FileLock::Mode::Shared, error), velmo::FileLock::Outcome::Held);
  EXPECT_FALSE(error);

  ::setenv("VELMORCAST_HOME", folder.c_str(), 1);
  const std::string message = InstanceLockFailureMessage("Not a directory");
  StartUpResult r = StartUp(lock, 0);
  ::setenv("VELMORCAST_HOME", home.dir().c_str(), 1);
  window = r.window;
  EXPECT_EQ(r.kind, StartUpResult::Started);
  ASSERT_GE(ui->shown().size(), 1u);
  const auto box = ui->shown()[0];
  EXPECT_EQ(box.prompt, message);
  EXPECT_NE(box.prompt.find("\"" + folder.string() + "\""), std::string::npos) << box.prompt;
  EXPECT_EQ(box.title, "Velmorine for Exchange Server (Velmorcast)");
  EXPECT_FALSE(Shown(*ui, "Application is already opened."));
  ASSERT_GE(ui->shown().size(), 2u);
  EXPECT_EQ(ui->shown()[1].prompt.rfind("Error occured while creating database", 0), 0u)
      << "the database is the next thing that cannot be made";
  CloseWindow();

  // The program itself says the same on its error stream and keeps running.
  QProcess started;
  auto env = QProcessEnvironment::systemEnvironment();
  env.insert("VELMORCAST_HOME", QString::fromStdString(folder.string()));
  env.insert("QT_QPA_PLATFORM", "offscreen");
  started.setProcessEnvironment(env);
  started.start(QString::fromStdString((TestHome::BuildAppDir() / "VELMORC").string()), {});
  ASSERT_TRUE(started.waitForStarted(HangBound(10000)));
  std::string err;
  auto deadline = std::chrono::steady_clock::now() + HangBound(std::chrono::seconds(30));
  while (err.find("Error occured while creating database") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline && started.state() == QProcess::Running) {
    started.waitForReadyRead(200);
    err += started.readAllStandardError().toStdString();
  }
  EXPECT_NE(err.find(message), std::string::npos) << err;
  EXPECT_EQ(err.find("Application is already opened."), std::string::npos) << err;
  EXPECT_EQ(started.state(), QProcess::Running);
  started.kill();
  started.waitForFinished(HangBound(10000));
}

// The same as a user who may not write the folder (root honours no
// permission bits, so the program runs as "nobody"): an empty read-only
// folder is named with "Permission denied"; a read-only folder that
// already holds a lock file still keeps a second copy out.
TEST_F(MainWindowTest, ReadOnlyApplicationFolderForAnotherUser) {
  if (const std::string why = velmo::test::OtherUser::CannotRun(); !why.empty()) GTEST_SKIP() << why;
  const velmo::test::OtherUser nobody(TestHome::BuildAppDir() / "VELMORC");
  QStringList arguments;
  for (const auto& a : nobody.Arguments()) arguments << QString::fromStdString(a);
  struct Folder {
    fs::path path;
    explicit Folder(bool withLockFile) {
      char pattern[] = "/tmp/velmo-readonly-XXXXXX";
      path = ::mkdtemp(pattern);
      if (withLockFile) {
        std::ofstream(path / "VELMORC.lock").put('\n');
        fs::permissions(path / "VELMORC.lock", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
      }
      fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
    }
    ~Folder() { fs::remove_all(path); }
  };
  const auto start = [&](QProcess& p, const fs::path& folder) {
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("VELMORCAST_HOME", QString::fromStdString(folder.string()));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("HOME", QString::fromStdString(folder.string()));
    env.insert("LD_LIBRARY_PATH", QString::fromStdString(nobody.dir().string()));
    p.setProcessEnvironment(env);
    p.start(QString::fromStdString(velmo::test::OtherUser::Setpriv()), arguments);
    return p.waitForStarted(HangBound(10000));
  };
  // Reads the error stream until the text shows up, the program ends or
  // time runs out.
  const auto readUntil = [](QProcess& p, const std::string& text) {
    std::string err;
    const auto deadline = std::chrono::steady_clock::now() + HangBound(std::chrono::seconds(30));
    while (err.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      if (p.state() != QProcess::Running && !p.bytesAvailable()) break;
      p.waitForReadyRead(200);
      err += p.readAllStandardError().toStdString();
    }
    return err;
  };

  Folder empty(false);
  QProcess first;
  ASSERT_TRUE(start(first, empty.path));
  std::string err = readUntil(first, "Error occured while creating database");
  EXPECT_NE(err.find("The application folder \"" + empty.path.string() + "\" cannot hold the lock"), std::string::npos)
      << err;
  EXPECT_NE(err.find("Permission denied"), std::string::npos) << err;
  EXPECT_EQ(err.find("Application is already opened."), std::string::npos) << err;
  EXPECT_EQ(first.state(), QProcess::Running);
  first.kill();
  first.waitForFinished(HangBound(10000));

  Folder locked(true);
  QProcess running, second;
  ASSERT_TRUE(start(running, locked.path));
  err = readUntil(running, "Error occured while creating database");
  EXPECT_EQ(err.find("cannot hold the lock"), std::string::npos) << "a read-only lock file still locks: " << err;
  ASSERT_TRUE(start(second, locked.path));
  EXPECT_TRUE(second.waitForFinished(HangBound(20000)));
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_NE(second.readAllStandardError().toStdString().find("Application is already opened."), std::string::npos);
  EXPECT_EQ(running.state(), QProcess::Running);
  for (QProcess* p : {&running, &second}) {
    p->kill();
    p->waitForFinished(HangBound(10000));
  }
}

TEST_F(MainWindowTest, UnloadEmptiesFilterRowsAndClosesTheConnection) {
  Start();
  gConn->Execute("insert into VELMORCFilterCustomize values ('EX1', 'MailboxesGeneral', '0', 'x', '')");
  gConn->Execute("insert into VELMORCFilterCustomize values ('EX2', 'DLGeneral', '1', '', 'Alias')");
  gConn->Execute("insert into VELMORCFavourites values ('EX1', 'No', 'Yes')");
  window->mnuExit->trigger();
  window = nullptr;
  Pump();
  EXPECT_FALSE(gConn);
  EXPECT_EQ(gMdifrm, nullptr);

  auto c = OpenDb(home / "velmo.mdb");
  EXPECT_EQ(Count(*c, "select * from VELMORCFilterCustomize"), 0);
  EXPECT_EQ(Count(*c, "select * from VELMORCFavourites"), 1);
  EXPECT_EQ(ErrorLog(), "");
}

// ------------------------------------------------------------ menus, toolbar

struct ExpectedItem {
  const char* name;
  const char* caption;
  const char* shortcut;
  bool visible;
};

TEST_F(MainWindowTest, MenusAndPopupHaveTheirNamesCaptionsAndStartStates) {
  Mdifrm* w = Start();

  const std::map<std::string, std::string> menus = {{"mnuReport", "&Report"}, {"mnuTools", "&Tools"},
                                                    {"mnuView", "&View"},     {"mnuWindow", "&Window"},
                                                    {"mnuHelp", "&Help"},     {"popmnuRefresh", "Refresh&Menu"}};
  for (const auto& [name, caption] : menus) {
    auto* m = w->findChild<QMenu*>(QString::fromStdString(name));
    ASSERT_NE(m, nullptr) << name;
    EXPECT_EQ(m->title().toStdString(), caption) << name;
  }
  // The pop-up menu is not on the menu bar.
  for (QAction* a : w->menuBar()->actions()) EXPECT_NE(a->menu(), w->popmnuRefresh);

  const ExpectedItem items[] = {
      {"mnuNewReport", "&New Report...", "Ctrl+N", false},
      {"mnuSep1", "", "", false},
      {"mnuFilter", "&Filter...", "Ctrl+L", true},
      {"mnuCustomize", "C&ustomize", "Ctrl+U", true},
      {"mnuExport", "&Export...", "Ctrl+E", true},
      {"mnuSep2", "", "", true},
      {"mnuPreview", "Pre&view", "Ctrl+V", true},
      {"mnuPrint", "&Print...", "Ctrl+P", true},
      {"mnuSep3", "", "", true},
      {"mnuExit", "E&xit", "Ctrl+Q", true},
      {"mnuConnectToServer", "&Connect to Exchange Server", "", true},
      {"mnuListAllServers", "&List Exchange Servers", "", false},
      {"mnuSep4", "", "", false},
      {"mnuSep5", "", "", true},
      {"mnuAddRemoveFav", "Add/Remove &Favorites", "", true},
      {"mnuFavSep", "", "", true},
      {"mnuCustomReport", "Custom &Report...", "", true},
      {"mnuSep6", "", "", true},
      {"mnuSchedule", "&Schedule", "", true},
      {"mnuPlusSep", "", "", true},
      {"mnuExportPlus", "&ExportPlus", "", true},
      {"mnuPrintPlusSep", "", "", true},
      {"mnuPrintPlus", "&PrintPlus", "", true},
      {"mnuSep7", "", "", false},
      {"mnuContents", "&Contents...", "", true},
      {"mnuSep8", "", "", true},
      {"mnuReadme", "&Readme...", "", true},
      {"mnuSep9", "", "", true},
      {"mnuLicense", "&License...", "", true},
      {"mnuSep10", "", "", true},
      {"mnuAbout", "&About Velmorine for Exchange Server", "", true},
      {"popmnuRefreshServer", "Refres&h ", "", true},
      {"popmnuSep1", "", "", true},
      {"popmnuConnect", "&Connect to Exchange Server", "", true},
      {"popmnuSep2", "", "", true},
      {"popmnuFavExchServer", "My Favorite Exchange &Servers", "", false},
      {"popmnuAddRemoveFav", "Add/Remove &Favorites", "", true},
      {"popmnuSep3", "", "", true},
      {"popmnuCustomReport", "Custom &Report", "", true},
      {"popmnuSep4", "", "", true},
      {"popmnuSchedule", "&Schedule", "", true},
      {"popmnuSep5", "", "", true},
      {"popmnuFilter", "Fi&lter", "", true},
      {"popmnuCustomize", "C&ustomize", "", true},
      {"popmnuExport", "&Export", "", true},
      {"popmnuSep6", "", "", true},
      {"popmnuPreview", "Pre&view", "", true},
      {"popmnuPrint", "&Print", "", true},
      {"popmnuSep7", "", "", true},
      {"popmnuExportPlus", "E&xportPlus", "", true},
      {"popmnuPrintPlus", "P&rintPlus", "", true},
      {"popmnuSep8", "", "", true},
      {"popmnuExit", "E&xit", "", true},
  };
  for (const ExpectedItem& s : items) {
    auto found = w->findChildren<QAction*>(s.name);
    ASSERT_EQ(found.size(), 1) << s.name;
    QAction* a = found[0];
    const bool separator = std::string(s.name).find("Sep") != std::string::npos;
    EXPECT_EQ(a->isSeparator(), separator) << s.name;
    if (!separator) EXPECT_EQ(a->text().toStdString(), s.caption) << s.name;
    EXPECT_EQ(a->shortcut().toString().toStdString(), s.shortcut) << s.name;
    EXPECT_EQ(a->isVisible(), s.visible) << s.name;
  }

  // Control arrays: one name, told apart by Index.
  const std::map<std::string, std::vector<std::string>> arrays = {
      {"mnuViewAll", {"Show &ToolBar", "&Show Tree"}},
      {"mnuSubWindow", {"&Cascade", "Tile &Horizontally", "Tile &Vertically"}},
      {"mnuAll", {"Minimize All", "Maximize All", "Close All"}}};
  for (const auto& [name, captions] : arrays) {
    auto found = w->findChildren<QAction*>(QString::fromStdString(name));
    ASSERT_EQ(found.size(), static_cast<qsizetype>(captions.size())) << name;
    for (QAction* a : found) {
      int i = a->property("Index").toInt();
      EXPECT_EQ(a->text().toStdString(), captions[static_cast<size_t>(i)]) << name << i;
      EXPECT_EQ(a->isVisible(), name != "mnuAll") << name << i;
      if (name == "mnuViewAll") EXPECT_TRUE(a->isChecked());
    }
  }

  // After the first activation the five report commands are greyed out on
  // the menu and the toolbar; the browse window turns them on again.
  for (QAction* a : {w->mnuFilter, w->mnuCustomize, w->mnuExport, w->mnuPreview, w->mnuPrint})
    EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
  for (int i = 1; i <= 13; ++i) EXPECT_EQ(w->Button(i)->isEnabled(), i < 2 || i > 6) << i;
  w->SetReportCommandsEnabled(true);
  for (QAction* a : {w->mnuFilter, w->mnuCustomize, w->mnuExport, w->mnuPreview, w->mnuPrint})
    EXPECT_TRUE(a->isEnabled());
  for (int i = 1; i <= 13; ++i) EXPECT_TRUE(w->Button(i)->isEnabled()) << i;
}

TEST_F(MainWindowTest, ToolbarStatusBarAndImageLists) {
  Mdifrm* w = Start();
  auto* tb = w->findChild<QToolBar*>("tbVELMORC");
  ASSERT_EQ(tb, w->tbVELMORC);
  ASSERT_EQ(tb->actions().size(), 13);
  const char* keys[13] = {"Connect",   "Filter",       "Customize", "Export",   "Preview", "Print", "ExportPlus",
                          "PrintPlus", "Favorites",    "List Servers", "Schedule", "Help", "Exit"};
  const char* tips[13] = {"Connect to Exchange Server", "Filter report", "Customize report", "Export report",
                          "Preview report ", "Print report ", "Export All Tabs", "Print All Tabs",
                          "Add/Remove Favorites", "List Exchange Servers", "Schedule", "Help", "Exit"};
  for (int i = 0; i < 13; ++i) {
    QAction* b = tb->actions()[i];
    EXPECT_EQ(b, w->Button(i + 1));
    EXPECT_EQ(b, w->Button(keys[i]));
    EXPECT_EQ(b->property("Index").toInt(), i + 1);
    EXPECT_EQ(b->property("Key").toString().toStdString(), keys[i]);
    EXPECT_EQ(b->toolTip().toStdString(), tips[i]);
    EXPECT_EQ(b->icon().isNull(), i == 9) << keys[i];
  }

  auto* sb = w->findChild<QStatusBar*>("sbVELMORC");
  ASSERT_EQ(sb, w->sbVELMORC);
  EXPECT_NE(w->findChild<QProgressBar*>("progBar"), nullptr);
  for (int i = 1; i <= 5; ++i) ASSERT_NE(w->Panel(i), nullptr) << i;
  EXPECT_EQ(w->Panel(6), nullptr);
  EXPECT_EQ(w->Panel(4)->text().toStdString(), velmo::ShortDate(velmo::Clock::now()));
  EXPECT_NE(w->Panel(5)->text().toStdString().find(":"), std::string::npos);

  const std::vector<std::string> tvw = {"SiteConnector", "Uncheck",  "Check",         "Favorites",   "PrivateIS",
                                        "PublicIS",      "SA",       "MTA",           "Organization", "Connections",
                                        "Connector",     "CR",       "DL",            "MB",          "Newsfeed",
                                        "PF",            "Protocols", "Recipients",   "Server",      "Servers",
                                        "Site",          "Configuration"};
  EXPECT_EQ(w->ImgListTvw.Keys(), tvw);
  std::vector<std::string> tab;
  for (const auto& k : tvw)
    if (k != "Uncheck" && k != "Check" && k != "Favorites") tab.push_back(k);
  EXPECT_EQ(w->ImgListTab.Keys(), tab);
  for (const char* k : {"Connect", "Filter", "Customize", "Export", "Preview", "Print", "Export+", "Print+",
                        "Favourites", "Schedule", "Help", "Exit", "Servers", "Check", "Uncheck"})
    EXPECT_FALSE(w->ImgListVLMR.Item(k).isNull()) << k;
  for (const auto& k : tvw) EXPECT_FALSE(w->ImgListTvw.Item(k).pixmap(16, 16).isNull()) << k;
  EXPECT_TRUE(w->ImgListTab.Item("Check").isNull());
}

namespace {
// A print component whose job ends as the test says.
struct EndingPrinter : RecordingPrinter {
  static inline PrintJobOutcome outcome;
  static inline std::string file;
  PrintJobOutcome LastJobOutcome() const override { return outcome; }
  std::string LastJobFile() const override { return file; }
};
struct PrintSource : ExportPlusPrintSource {
  velmo::FlexGrid grid;
  velmo::FlexGrid* Grd1() override { return &grid; }
  std::string strPrinterName() override { return velmo::printers::kPdfDevice; }
};
}  // namespace

// "Printed to" and a long path: elided in the middle with the whole text as
// its tooltip, the window as wide as before; a job that was cancelled or
// failed empties the first panel, one that never ran leaves it.
TEST_F(MainWindowTest, PrintedToFitsTheStatusBarAndGoesAfterAJobThatDidNotPrint) {
  Mdifrm* w = Start();
  w->resize(900, 600);
  Pump();
  velmo::com::RegisterBuiltin("VLMRPreview.IVLMRPrinter", [] { return new EndingPrinter; });
  PrintSource source;
  gfrmExportPlusPrint = &source;
  EndingPrinter::file = home.dir().string() + "/Print/" + std::string(300, 'T') + " - 'EX1'.pdf";
  const std::string printed = "Printed to " + EndingPrinter::file;
  using O = PrintJobOutcome;
  for (const auto& [outcome, text] : std::vector<std::pair<O, std::string>>{
           {O::Printed, printed}, {O::None, printed}, {O::Cancelled, ""}, {O::Printed, printed}, {O::Failed, ""},
           {O::Printed, printed}}) {
    EndingPrinter::outcome = outcome;
    PrintGridReport(1, 2);
    Pump();
    EXPECT_EQ(w->Panel(1)->text().toStdString(), text) << static_cast<int>(outcome);
    EXPECT_EQ(w->width(), 900);
  }
  QLabel* panel = w->Panel(1);
  EXPECT_LT(panel->width(), panel->fontMetrics().horizontalAdvance(panel->text())) << "shown elided";
  QHelpEvent tip(QEvent::ToolTip, QPoint(4, 4), panel->mapToGlobal(QPoint(4, 4)));
  QApplication::sendEvent(panel, &tip);
  EXPECT_EQ(panel->toolTip().toStdString(), printed);
  velmo::test::SaveShot(w, "main_printed_to_long_path");
  gfrmExportPlusPrint = nullptr;
  velmo::com::UnregisterBuiltin("VLMRPreview.IVLMRPrinter");
}

// ---------------------------------------------------------------- commands

TEST_F(MainWindowTest, ViewToggles) {
  Mdifrm* w = Start();
  w->show();
  QAction* toolbarItem = w->mnuViewAll[0];
  QAction* treeItem = w->mnuViewAll[1];

  toolbarItem->trigger();
  EXPECT_TRUE(w->tbVELMORC->isHidden());
  EXPECT_FALSE(toolbarItem->isChecked());
  toolbarItem->trigger();
  EXPECT_FALSE(w->tbVELMORC->isHidden());
  EXPECT_TRUE(toolbarItem->isChecked());

  // With no child window Show Tree changes nothing, check mark included.
  treeItem->trigger();
  EXPECT_TRUE(treeItem->isChecked());

  // A child with the panes of a browse window: the tree pane goes and the
  // other panes take the whole width; a second click brings it back.
  auto* child = new QWidget();
  child->resize(600, 400);
  auto* pbTreeview = new QWidget(child);
  pbTreeview->setObjectName("pbTreeview");
  pbTreeview->setGeometry(0, 0, 150, 400);
  auto* pbSep = new QWidget(child);
  pbSep->setObjectName("pbSep");
  pbSep->setGeometry(150, 0, 5, 400);
  std::vector<QWidget*> panes;
  for (const char* name : {"tabType", "tabProp", "pbGrd"}) {
    auto* pane = new QWidget(child);
    pane->setObjectName(name);
    pane->setGeometry(155, static_cast<int>(panes.size()) * 100, 445, 100);
    panes.push_back(pane);
  }
  QMdiSubWindow* sub = w->MdiArea()->addSubWindow(child);
  sub->show();
  w->MdiArea()->setActiveSubWindow(sub);
  ASSERT_EQ(w->MdiArea()->activeSubWindow(), sub);

  treeItem->trigger();
  EXPECT_FALSE(treeItem->isChecked());
  EXPECT_TRUE(pbTreeview->isHidden());
  EXPECT_TRUE(pbSep->isHidden());
  for (QWidget* pane : panes) {
    EXPECT_EQ(pane->x(), 0) << pane->objectName().toStdString();
    EXPECT_EQ(pane->width(), child->width());
  }
  treeItem->trigger();
  EXPECT_TRUE(treeItem->isChecked());
  EXPECT_FALSE(pbTreeview->isHidden());
  for (QWidget* pane : panes) EXPECT_EQ(pane->x(), 155);
  delete sub;
}

TEST_F(MainWindowTest, FailingCommandIsReportedAndTheProgramCarriesOn) {
  Mdifrm* w = Start();
  ui->clear();
  int calls = 0;
  Mdifrm::Seams().showFavourites = [&] {
    ++calls;
    throw velmo::ComError(velmo::Hr(0x80040E37), "Table 'VELMORCFavourites' does not exist.");
  };
  Mdifrm::Seams().showSchedule = [] { throw std::runtime_error("schedule broke"); };

  w->mnuAddRemoveFav->trigger();
  w->Button(11)->trigger();
  w->popmnuAddRemoveFav->trigger();
  EXPECT_EQ(calls, 2);

  auto shown = ui->shown();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_NE(shown[0].prompt.find("-2147217865"), std::string::npos) << shown[0].prompt;
  EXPECT_NE(shown[0].prompt.find("Table 'VELMORCFavourites' does not exist."), std::string::npos);
  EXPECT_NE(shown[1].prompt.find("schedule broke"), std::string::npos);
  const std::string log = ErrorLog();
  EXPECT_NE(log.find("      -2147217865      Table 'VELMORCFavourites' does not exist.      "
                     "mnuAddRemoveFav_Click Failed\r\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("schedule broke      tbVELMORC_ButtonClick Failed"), std::string::npos) << log;

  // The window is still there and still works.
  EXPECT_EQ(gMdifrm, w);
  Mdifrm::Seams().showFavourites = [&] { ++calls; };
  w->mnuAddRemoveFav->trigger();
  EXPECT_EQ(calls, 3);

  // A flag set for a dialog is put back even when the dialog fails.
  Mdifrm::Seams().showConnectDialog = [&] {
    EXPECT_TRUE(gbCustomReport);
    EXPECT_EQ(gMdifrm->iFromCustomReport, 1);
    throw std::runtime_error("connect broke");
  };
  w->mnuCustomReport->trigger();
  EXPECT_FALSE(gbCustomReport);
}

TEST_F(MainWindowTest, ReportCommandsNeedABrowseWindow) {
  Mdifrm* w = Start();
  ui->clear();
  int filters = 0;
  std::vector<QWidget*> choosers;
  Mdifrm::Seams().showFilterWizard = [&] { ++filters; };
  Mdifrm::Seams().newCustomize = [&](ExchWindow&) {
    choosers.push_back(new QWidget(gMdifrm));
    return choosers.back();
  };
  // With no browse window open nothing happens and nothing is shown.
  w->mnuFilter->trigger();
  w->tbVELMORC_ButtonClick(3);
  w->tbVELMORC_ButtonClick(5);
  w->tbVELMORC_ButtonClick(10);
  EXPECT_EQ(filters, 0);
  EXPECT_TRUE(choosers.empty());
  EXPECT_TRUE(ui->shown().empty());

  // Each browse window keeps its own column chooser.
  FakeExchWindow* a = OpenFake("EX1");
  w->tbVELMORC_ButtonClick(2);
  EXPECT_EQ(filters, 1);
  w->mnuCustomize_Click();
  w->mnuCustomize_Click();
  ASSERT_EQ(choosers.size(), 1u);
  EXPECT_EQ(a->frmCustom, choosers[0]);
  FakeExchWindow* b = OpenFake("EX2");
  w->popmnuCustomize->trigger();
  ASSERT_EQ(choosers.size(), 2u);
  EXPECT_EQ(b->frmCustom, choosers[1]);
  EXPECT_EQ(a->frmCustom, choosers[0]);
}

TEST_F(MainWindowTest, RefreshClearsTheServerOnlyAfterOk) {
  // Refresh deletes only the rows of a server that answers.
  if (!velmo::test::UseSampleDirectory::Available()) GTEST_SKIP() << "the sample directory is not running";
  velmo::test::UseSampleDirectory directory;
  Mdifrm* w = Start();
  FakeExchWindow* ex1 = OpenFake("EX1");
  gConn->Execute("insert into MailboxGeneral (ServerName) values ('EX1')");
  gConn->Execute("insert into MailboxGeneral (ServerName) values ('EX2')");

  bool answer = false;
  std::vector<bool> refreshFlag;
  Mdifrm::Seams().showConnectDialog = [&] {
    refreshFlag.push_back(gMdifrm->blnFromRefresh);
    gMdifrm->blnClickedOK = answer;
  };
  w->popmnuRefreshServer->trigger();
  EXPECT_EQ(Count(*gConn, "select * from MailboxGeneral"), 2);
  EXPECT_TRUE(ex1->getAllInfo.empty());

  answer = true;
  w->popmnuRefreshServer->trigger();
  EXPECT_EQ(refreshFlag, (std::vector<bool>{true, true}));
  EXPECT_FALSE(w->blnFromRefresh);
  EXPECT_EQ(Count(*gConn, "select * from MailboxGeneral where ServerName='EX1'"), 0);
  EXPECT_EQ(Count(*gConn, "select * from MailboxGeneral where ServerName='EX2'"), 1);
  EXPECT_EQ(ex1->getAllInfo, (std::vector<int>{0}));

  // The shared pop-up procedure finds this window's pop-up items by name.
  gbContextMenuNoExec = true;
  ShowContextMenu();
  gbContextMenuNoExec = false;
  EXPECT_EQ(w->popmnuRefreshServer->text().toStdString(), "Refresh 'EX1'");
  EXPECT_TRUE(w->popmnuRefreshServer->isEnabled());
  EXPECT_FALSE(w->popmnuFilter->isEnabled());
}

TEST_F(MainWindowTest, WindowCommandsAndHelp) {
  Mdifrm* w = Start();
  w->show();
  std::vector<QMdiSubWindow*> subs;
  for (int i = 0; i < 3; ++i) {
    auto* child = new QWidget();
    child->setWindowTitle(QString("child %1").arg(i));
    subs.push_back(w->MdiArea()->addSubWindow(child));
    subs.back()->show();
  }
  w->mnuSubWindow[2]->trigger();  // side by side
  EXPECT_LT(subs[0]->x(), subs[1]->x());
  EXPECT_EQ(subs[0]->y(), subs[1]->y());
  w->mnuSubWindow[1]->trigger();  // one above the other
  EXPECT_LT(subs[0]->y(), subs[1]->y());
  EXPECT_EQ(subs[0]->x(), subs[1]->x());
  w->mnuAll[0]->trigger();
  for (auto* s : subs) EXPECT_TRUE(s->isMinimized());
  w->mnuAll[1]->trigger();
  for (auto* s : subs) EXPECT_FALSE(s->isMinimized());
  w->mnuAll[2]->trigger();
  for (auto* s : subs) EXPECT_TRUE(s->isHidden());

  ui->clear();
  w->Button(12)->trigger();
  ASSERT_EQ(ui->shown().size(), 1u);
  EXPECT_NE(ui->shown()[0].prompt.find("velmorc.chm"), std::string::npos);
  EXPECT_NE(ui->shown()[0].prompt.find("not found"), std::string::npos);
}

// Browse windows open wholly inside the client area at the size they
// open at, each one title bar down and right from the one before; Cascade,
// Tile and the cascade after a close never make one smaller than its
// minimum; each carries the program's icon; the site tree shows whole
// node texts and scrolls sideways when its pane is narrow.
TEST_F(MainWindowTest, BrowseWindowsOpenInsideTheClientAreaAndKeepAUsableSize) {
  Mdifrm* w = Start();
  w->resize(1400, 1000);
  w->show();
  Pump();
  QMdiArea* area = w->MdiArea();
  const auto room = [&] { return area->viewport()->rect(); };
  std::vector<frmExch*> windows;
  const auto sub = [](frmExch* e) { return qobject_cast<QMdiSubWindow*>(e->Window()); };
  const auto open = [&](int n) {
    for (int i = 0; i < n; ++i) {
      auto* e = new frmExch();
      EXPECT_GT(OpenExchWindowSlot(e), 0);
      e->strServerName = "EX" + std::to_string(windows.size() + 1);
      e->strOrganizationName = "Velmor";
      // A tree of its own: the window reads no directory.
      auto* node = new QTreeWidgetItem(QStringList{"Velmor"});
      e->tvwServers->addTopLevelItem(node);
      node->addChild(new QTreeWidgetItem(QStringList{"Private Information Store"}));
      node->setExpanded(true);
      e->Window()->show();
      Pump();
      windows.push_back(e);
    }
  };
  const auto usable = [&](const char* when) {
    for (frmExch* e : windows) {
      if (!e->isVisible()) continue;
      SCOPED_TRACE(std::string(when) + " " + e->strServerName);
      EXPECT_GE(e->width(), e->minimumWidth());
      EXPECT_GE(e->height(), e->minimumHeight());
      if (room().width() >= sub(e)->minimumSizeHint().width() && room().height() >= sub(e)->minimumSizeHint().height())
        EXPECT_TRUE(room().contains(sub(e)->geometry()))
            << "inside the client area: " << sub(e)->x() << "," << sub(e)->y() << " " << sub(e)->width() << "x"
            << sub(e)->height() << " in " << room().width() << "x" << room().height();
    }
  };

  open(1);
  ASSERT_NE(sub(windows[0]), nullptr);
  EXPECT_EQ(windows[0]->size(), windows[0]->sizeHint()) << "the size it opens at";
  EXPECT_GE(windows[0]->minimumWidth(), 400);
  EXPECT_GE(windows[0]->minimumHeight(), 250);
  EXPECT_EQ(sub(windows[0])->pos(), QPoint(0, 0));
  open(7);
  const QPoint step = sub(windows[1])->pos() - sub(windows[0])->pos();
  EXPECT_GE(step.x(), 16);
  EXPECT_EQ(step.x(), step.y());
  for (size_t i = 1; i < windows.size(); ++i) {
    EXPECT_EQ(windows[i]->size(), windows[i]->sizeHint());
    const QPoint at = sub(windows[i])->pos();
    EXPECT_TRUE(at == sub(windows[i - 1])->pos() + step || at == QPoint(0, 0)) << i << ": cascaded or back at the top";
  }
  usable("opened");

  // The program's icon, not the toolkit's.
  const QImage programIcon = ProgramIcon().pixmap(16, 16).toImage();
  const QImage toolkitIcon = w->style()->standardIcon(QStyle::SP_TitleBarMenuButton).pixmap(16, 16).toImage();
  EXPECT_EQ(w->windowIcon().pixmap(16, 16).toImage(), programIcon);
  for (frmExch* e : windows) {
    EXPECT_EQ(sub(e)->windowIcon().pixmap(16, 16).toImage(), programIcon);
    EXPECT_NE(sub(e)->windowIcon().pixmap(16, 16).toImage(), toolkitIcon);
  }

  // Whole node texts, and a sideways scroll bar in a narrow pane.
  frmExch* first = windows[0];
  QTreeWidgetItem* store = first->tvwServers->topLevelItem(0)->child(0);
  const int textWidth = first->tvwServers->fontMetrics().horizontalAdvance("Private Information Store");
  EXPECT_GE(first->tvwServers->visualItemRect(store).width(), textWidth);
  first->SplitterDropped(first->tvwServers, 90);
  Pump();
  EXPECT_LT(first->tvwServers->viewport()->width(), textWidth);
  EXPECT_GE(first->tvwServers->visualItemRect(store).width(), textWidth) << "not cut short";
  EXPECT_TRUE(first->tvwServers->horizontalScrollBar()->isVisible());
  EXPECT_GT(first->tvwServers->horizontalScrollBar()->maximum(), 0);

  // Cascade, the two tilings and the cascade after a close, in a roomy and
  // in a cramped main window.
  QMdiSubWindow* active = area->activeSubWindow();
  w->mnuSubWindow[0]->trigger();
  usable("cascade");
  for (frmExch* e : windows) EXPECT_EQ(e->size(), e->sizeHint()) << "cascade gives the size it opens at when there is room";
  EXPECT_EQ(area->activeSubWindow(), active);
  EXPECT_EQ(area->subWindowList(QMdiArea::StackingOrder).back(), active) << "the active window stays on top";
  for (int arrangement : {1, 2}) {
    w->mnuSubWindow[arrangement]->trigger();
    usable(arrangement == 1 ? "tile horizontally" : "tile vertically");
    // Eight windows fit this client area without overlapping.
    for (size_t i = 0; i < windows.size(); ++i)
      for (size_t j = i + 1; j < windows.size(); ++j)
        EXPECT_FALSE(sub(windows[i])->geometry().intersects(sub(windows[j])->geometry())) << i << " " << j;
  }
  windows[3]->Window()->close();
  Pump();
  windows.erase(windows.begin() + 3);
  usable("after a close");
  for (frmExch* e : windows) EXPECT_EQ(e->size(), e->sizeHint());

  w->resize(640, 480);
  Pump();
  for (int arrangement : {0, 1, 2}) {
    w->mnuSubWindow[arrangement]->trigger();
    usable("cramped");
  }
  for (frmExch* e : windows) e->Window()->close();
  Pump();
}

// ------------------------------------------------------- Readme, License, About

TEST_F(MainWindowTest, ReadmeLicenseAndAboutModes) {
  App();
  { std::ofstream(home / "Readme.txt", std::ios::binary) << "first\r\nsecond\r\nlast without end"; }
  { std::ofstream(home / "License.txt", std::ios::binary) << "L\xe9gal\n"; }

  frmReadme readme;
  readme.iReadmeORLicenseORAbout = 0;
  readme.Form_Load();
  EXPECT_EQ(readme.windowTitle().toStdString(), "Velmorine for Exchange Server (Velmorcast) v1.4.2 Readme");
  EXPECT_EQ(readme.txtReadme->toPlainText().toStdString(), "first\nsecond\nlast without end\n");
  EXPECT_TRUE(readme.txtReadme->isReadOnly());
  EXPECT_TRUE(readme.Frame1->isHidden());
  EXPECT_TRUE(readme.Label1->isHidden());
  EXPECT_FALSE(readme.txtReadme->isHidden());
  EXPECT_LE(readme.txtReadme->geometry().bottom(), readme.cmdClose->y());

  frmReadme license;
  license.iReadmeORLicenseORAbout = 1;
  license.Form_Load();
  EXPECT_EQ(license.windowTitle().toStdString(), "Velmorine for Exchange Server (Velmorcast) License");
  EXPECT_EQ(license.txtReadme->toPlainText(), QString::fromUtf8("L\xc3\xa9gal\n"));

  fs::remove(home / "Readme.txt");
  frmReadme missing;
  missing.iReadmeORLicenseORAbout = 0;
  missing.Form_Load();
  EXPECT_EQ(missing.txtReadme->toPlainText().toStdString(), "");

  frmReadme about;
  about.iReadmeORLicenseORAbout = 2;
  about.Form_Load();
  EXPECT_EQ(about.windowTitle().toStdString(), "About Velmorine for Exchange Server (Velmorcast)");
  EXPECT_TRUE(about.txtReadme->isHidden());
  EXPECT_EQ(about.lblReadme->text().toStdString(), "Velmorine for Exchange Server");
  EXPECT_EQ(about.Label1->text().toStdString(), " Version 1.4.2");
  EXPECT_EQ(about.Label3->text().toStdString(), "(Velmorcast)");
  EXPECT_EQ(about.Label4->text().count('\n'), 1);
  for (const char* name : {"txtReadme", "cmdClose", "lblReadme", "Label1", "Label2", "Label3", "Label4",
                           "Picture1", "Frame1"})
    EXPECT_NE(about.findChild<QWidget*>(name), nullptr) << name;

  // Enter and Escape close the window wherever the keyboard is.
  for (int key : {Qt::Key_Escape, Qt::Key_Return}) {
    for (QWidget* target : {static_cast<QWidget*>(readme.txtReadme), static_cast<QWidget*>(readme.cmdClose)}) {
      readme.show();
      ASSERT_TRUE(readme.isVisible());
      QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
      QApplication::sendEvent(target, &press);
      EXPECT_FALSE(readme.isVisible()) << key;
    }
  }
}

TEST_F(MainWindowTest, ShippedTextsAreInTheApplicationFolder) {
  for (const char* name : {"Readme.txt", "License.txt"}) {
    const std::string text = TestHome::Slurp(TestHome::BuildAppDir() / name);
    EXPECT_GT(text.size(), 200u) << name;
  }
}

}  // namespace
