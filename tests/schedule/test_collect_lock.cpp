// Two programs collecting one server into one database take turns: the
// collection lock of the export library, and the browse window, Export Plus
// and the scheduled run (VLMRSchedule, started as a program of its own)
// around it.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <limits>
#include <map>
#include <set>
#include <memory>
#include <string>
#include <vector>

#include "CollectionLock.h"
#include "ComFactory.h"
#include "DatabaseMaintenance.h"
#include "FlexGrid.h"
#include "Directory.h"
#include "IExch55Info.h"
#include "InstanceLock.h"
#include "LdapProxy.h"
#include "MainWindowKit.h"
#include "OtherUser.h"
#include "AppSchema.h"
#include "SanitizerOptions.h"
#include "SmallFileSystem.h"
#include "ServerDataClear.h"
#include "SqliteRows.h"
#include "UserInput.h"
#include "WindowShots.h"
#include "WriteJournal.h"
#include "frmAutoFormat.h"
#include "frmCustomReport.h"
#include "frmFilterWizard.h"
#include "frmCustomize.h"
#include "frmExch.h"
#include "frmExportPlus.h"
#include "modStartup.h"
#include "modExch.h"
#include "modExchTree.h"
#include "modGlobals.h"

extern char** environ;

using velmo::exporting::CollectionLock;
using velmo::exporting::CollectionWait;
using Outcome = CollectionLock::Outcome;
using velmo::test::OtherUser;
namespace fs = std::filesystem;
namespace db = velmo::db;

namespace {

using Clock = std::chrono::steady_clock;
double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

const std::string kLakeRecipients = "o=Velmor/ou=Lakeside/cn=Recipients";
const std::string kBulk = kLakeRecipients + "/cn=Bulk";
constexpr long kBulkMailboxes = 1500;
const std::string kRunWaits = "     GetAllInfo : Waiting for another program collecting server -'EX1'.";

// ------------------------------------------------------------ other programs

// Starts a program with this environment plus the given NAME=value pairs
// (which replace variables of the same name); its input from stdinFd.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extra, int stdinFd = -1,
            bool quiet = false) {
  std::map<std::string, std::string> vars;
  for (char** e = environ; *e; ++e) {
    const std::string v = *e;
    vars[v.substr(0, v.find('='))] = v;
  }
  for (const auto& v : extra) vars[v.substr(0, v.find('='))] = v;
  std::vector<std::string> env;
  for (auto& [name, v] : vars) env.push_back(v);
  std::vector<char*> a, e;
  for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
  a.push_back(nullptr);
  for (const auto& s : env) e.push_back(const_cast<char*>(s.c_str()));
  e.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (stdinFd >= 0) ::dup2(stdinFd, 0);
    if (quiet) {
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      ::dup2(null, 2);
    }
    ::execve(a[0], a.data(), e.data());
    ::_exit(127);
  }
  return pid;
}

// Waits for the program's end, letting this program's events run; its exit
// status, or -1 (after killing it) when it did not end in time.
int WaitChild(pid_t pid, double seconds) {
  const auto start = Clock::now();
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (Since(start) > velmo::test::HangBound(seconds)) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    QCoreApplication::processEvents();
    ::usleep(10000);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The command line running the user's copy of a program as that user.
std::vector<std::string> AsNobody(const OtherUser& user) {
  std::vector<std::string> argv = {OtherUser::Setpriv()};
  for (const auto& a : user.Arguments()) argv.push_back(a);
  return argv;
}

// Another program taking the collection lock of a server: this test
// program run again for its holder test alone. It keeps what it took until
// the object goes.
class OtherProgram {
 public:
  // As another user when given one (a copy of this program).
  OtherProgram(const std::string& database, const std::string& server, const OtherUser* as = nullptr) {
    ready_ = fs::temp_directory_path() / ("velmo-holder-" + std::to_string(::getpid()) + "-" + std::to_string(++n_));
    fs::remove(ready_);
    int p[2];
    if (::pipe2(p, O_CLOEXEC) != 0) throw std::runtime_error("no pipe");
    std::vector<std::string> argv = as ? AsNobody(*as) : std::vector<std::string>{"/proc/self/exe"};
    argv.push_back("--gtest_filter=CollectionLockHolder.*");
    std::vector<std::string> env = {"VELMO_HOLD_DB=" + database, "VELMO_HOLD_SERVER=" + server,
                                    "VELMO_HOLD_READY=" + ready_.string()};
    if (as) env.push_back("LD_LIBRARY_PATH=" + as->dir().string());
    pid_ = Spawn(argv, env, p[0], true);
    ::close(p[0]);
    input_ = p[1];
    const auto start = Clock::now();
    while (!fs::exists(ready_) && Since(start) < velmo::test::HangBound(20)) ::usleep(2000);
    std::ifstream(ready_) >> outcome_;
  }
  ~OtherProgram() {
    ::close(input_);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    fs::remove(ready_);
  }
  OtherProgram(const OtherProgram&) = delete;
  OtherProgram& operator=(const OtherProgram&) = delete;
  Outcome outcome() const { return static_cast<Outcome>(outcome_); }

 private:
  static inline int n_ = 0;
  fs::path ready_;
  pid_t pid_ = -1;
  int input_ = -1;
  int outcome_ = -1;
};

bool HasLine(const fs::path& file, const std::string& text) {
  return velmo::test::TestHome::Slurp(file).find(text) != std::string::npos;
}
long LinesWith(const fs::path& file, const std::string& text) {
  std::ifstream in(file, std::ios::binary);
  long n = 0;
  for (std::string line; std::getline(in, line);) n += line.find(text) != std::string::npos;
  return n;
}
// Log lines that tell of a failure.
std::vector<std::string> FailureLines(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);)
    if (line.find("Fail") != std::string::npos || line.find("Message :") != std::string::npos) out.push_back(line);
  return out;
}

// Settings with the header, the task line and these server lines.
void WriteSettings(const fs::path& home, const std::vector<std::string>& servers, const fs::path& out,
                   const std::string& format = "CSV") {
  fs::create_directories(home / "Schedule");
  fs::create_directories(out);
  std::ofstream file(home / "Schedule" / "SchedConfig.cfg", std::ios::binary);
  file << "Scheduled Servers\r\nVelmorcastTask.job@@@CORP\\Administrator@@@1@@@02:00@@@1@@@@@@0@@@0@@@"
          "12/09/2026@@@@@@0@@@0@@@0@@@\r\n";
  // A server given with its fields is written as given.
  for (const auto& s : servers)
    if (s.find("@@@") != std::string::npos)
      file << s << "\r\n";
    else
      file << s << "@@@Default@@@@@@Export@@@@@@" << format << "@@@" << out.string() << "@@@12_09_2026_02_00_00\r\n";
}

// Each table of the databases written into a folder, with its rows.
std::map<std::string, long> TablesIn(const fs::path& folder) {
  std::map<std::string, long> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) {
    if (e.path().extension() != ".mdb") continue;
    sqlite3* h = nullptr;
    sqlite3_open_v2(e.path().c_str(), &h, SQLITE_OPEN_READONLY, nullptr);
    for (const auto& name : velmo::test::SqliteRows(h, "select name from sqlite_master where type='table'"))
      out[name] = std::stol(velmo::test::SqliteRows(h, "select count(*) from [" + name + "]").at(0));
    sqlite3_close(h);
  }
  return out;
}
std::string Counted(const std::map<std::string, long>& tables) {
  long rows = 0;
  for (const auto& [name, n] : tables) rows += n;
  return std::to_string(tables.size()) + " tables, " + std::to_string(rows) + " rows";
}

long Scalar(const std::string& sql, const std::vector<db::Value>& params = {}) {
  db::Recordset rs;
  rs.Open(sql, *gConn, params, db::adOpenKeyset, db::adLockOptimistic);
  const long n = rs.Eof() ? 0 : std::stol(rs[0L].Val().Text());
  rs.Close();
  return n;
}

// Runs each tick every 20 ms while the action runs (the waits inside it let
// events run).
void WithTicks(const std::function<void()>& tick, const std::function<void()>& action) {
  QTimer timer;
  timer.setInterval(20);
  QObject::connect(&timer, &QTimer::timeout, tick);
  timer.start();
  action();
  timer.stop();
}

}  // namespace

// The other program of these tests (skipped when run as a test itself).
TEST(CollectionLockHolder, TakesTheLockAndHoldsItUntilItsInputEnds) {
  const char* database = std::getenv("VELMO_HOLD_DB");
  if (!database) GTEST_SKIP() << "started by the other tests as another program";
  CollectionLock lock;
  const Outcome taken = lock.Take(database, std::getenv("VELMO_HOLD_SERVER"), nullptr);
  const std::string ready = std::getenv("VELMO_HOLD_READY");
  std::ofstream(ready + ".part") << static_cast<int>(taken);
  fs::rename(ready + ".part", ready);
  char c;
  while (::read(0, &c, 1) > 0) {
  }
}

// One holder per database file and server across programs: the file by its
// real path, the server without regard to case, on a companion file; nested
// takes within a program; the wait's calls, bound and giving up; a lock
// file that cannot be made.
TEST(CollectionLock, OneHolderPerDatabaseFileAndServerAcrossPrograms) {
  velmo::test::TestHome home(false);
  const std::string database = (home / "velmo.mdb").string();
  std::ofstream(database) << "";
  fs::create_directory_symlink(home.dir(), home / "link");
  fs::create_directories(home / "other");
  {
    OtherProgram other(database, "EX1");
    ASSERT_EQ(other.outcome(), Outcome::Taken);
    struct Case {
      const char* what;
      std::string path, server;
      Outcome expected;
    };
    const std::vector<Case> cases = {
        {"the same server in other case", database, "ex1", Outcome::Busy},
        {"the same file by a link", (home / "link" / "velmo.mdb").string(), "Ex1", Outcome::Busy},
        {"the same file written with backslashes", home.dir().string() + "\\velmo.mdb", "EX1", Outcome::Busy},
        {"another server", database, "EX10", Outcome::Taken},
        {"another database file", (home / "other" / "velmo.mdb").string(), "EX1", Outcome::Taken},
    };
    for (const Case& c : cases) {
      CollectionLock lock;
      EXPECT_EQ(lock.Take(c.path, c.server, nullptr), c.expected) << c.what;
      EXPECT_EQ(lock.Held(), c.expected == Outcome::Taken) << c.what;
    }
    // The database itself is never locked; its companion file is.
    EXPECT_TRUE(fs::exists(home / "velmo.mdb.collect.lock"));
    const int fd = ::open(database.c_str(), O_RDWR);
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    ASSERT_EQ(::fcntl(fd, F_OFD_GETLK, &probe), 0);
    EXPECT_EQ(probe.l_type, F_UNLCK);
    ::close(fd);

    // A wait: told once, the caller's calls never more than 50 ms apart,
    // ended by the bound or by the caller.
    int started = 0, calls = 0;
    double longestGap = 0;
    auto last = Clock::now();
    CollectionWait wait;
    wait.started = [&] {
      ++started;
      last = Clock::now();
    };
    wait.keepWaiting = [&] {
      longestGap = std::max(longestGap, Since(last));
      last = Clock::now();
      ++calls;
      return true;
    };
    wait.limit = std::chrono::milliseconds(300);
    CollectionLock lock;
    const auto t0 = Clock::now();
    EXPECT_EQ(lock.Take(database, "EX1", &wait), Outcome::TimedOut);
    EXPECT_GE(Since(t0), 0.3);
    EXPECT_LT(Since(t0), 2.0);
    EXPECT_EQ(started, 1);
    EXPECT_GE(calls, 5);
    EXPECT_LT(longestGap, 0.05);
    wait.keepWaiting = [&] { return ++calls < 3; };
    calls = 0;
    EXPECT_EQ(lock.Take(database, "EX1", &wait), Outcome::GivenUp);
    EXPECT_FALSE(lock.Held());
  }
  // Within one program the lock is re-entrant; the outermost release gives
  // it back.
  {
    CollectionLock outer, inner;
    ASSERT_EQ(outer.Take(database, "EX1", nullptr), Outcome::Taken);
    ASSERT_EQ(inner.Take(database, "ex1", nullptr), Outcome::Taken);
    inner.Release();
    EXPECT_EQ(OtherProgram(database, "EX1").outcome(), Outcome::Busy);
    outer.Release();
    EXPECT_EQ(OtherProgram(database, "EX1").outcome(), Outcome::Taken);
  }
  // A waiting take gets the lock when its holder ends.
  {
    auto other = std::make_unique<OtherProgram>(database, "EX1");
    ASSERT_EQ(other->outcome(), Outcome::Taken);
    const auto t0 = Clock::now();
    CollectionWait wait;
    wait.keepWaiting = [&] {
      if (Since(t0) > 0.2) other.reset();
      return true;
    };
    CollectionLock lock;
    EXPECT_EQ(lock.Take(database, "EX1", &wait), Outcome::Taken);
  }
  // No lock file can be made: the caller goes on without, told once.
  {
    const std::string nowhere = (home / "missing" / "velmo.mdb").string();
    std::string why;
    bool firstTime = false;
    CollectionLock lock;
    EXPECT_EQ(lock.Take(nowhere, "EX1", nullptr, &why, &firstTime), Outcome::Unguarded);
    EXPECT_TRUE(firstTime);
    EXPECT_NE(why, "");
    EXPECT_EQ(lock.Take(nowhere, "EX2", nullptr, &why, &firstTime), Outcome::Unguarded);
    EXPECT_FALSE(firstTime);
  }
}

// A folder as the lock file is locked whole: within the holding program
// any server is granted, another program gets none. Another user's lock
// file that may only be read is locked whole by a program of that user
// ("nobody"): it and a holder of a server's byte exclude each other
// whatever their servers.
TEST(CollectionLock, TheWholeFilesHolderAndAServersHolderExcludeEachOther) {
  velmo::test::TestHome home(false);
  const std::string database = (home / "velmo.mdb").string();
  fs::create_directory(database + ".collect.lock");
  {
    CollectionLock one, two;
    ASSERT_EQ(one.Take(database, "EX1", nullptr), Outcome::Taken);
    EXPECT_EQ(two.Take(database, "EX2", nullptr), Outcome::Taken);
    EXPECT_EQ(OtherProgram(database, "EX3").outcome(), Outcome::Busy);
  }
  fs::remove(database + ".collect.lock");
  if (const std::string why = OtherUser::CannotRun(); !why.empty()) GTEST_SKIP() << why;
  const OtherUser nobody(fs::read_symlink("/proc/self/exe"));
  std::ofstream(database + ".collect.lock").put('\n');
  fs::permissions(database + ".collect.lock", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  {
    OtherProgram whole(database, "EX1", &nobody);
    ASSERT_EQ(whole.outcome(), Outcome::Taken);
    EXPECT_EQ(CollectionLock().Take(database, "EX2", nullptr), Outcome::Busy);
  }
  CollectionLock byte;
  ASSERT_EQ(byte.Take(database, "EX1", nullptr), Outcome::Taken);
  EXPECT_EQ(OtherProgram(database, "EX2", &nobody).outcome(), Outcome::Busy);
  byte.Release();
  EXPECT_EQ(OtherProgram(database, "EX2", &nobody).outcome(), Outcome::Taken);
}

namespace {

// The main window open on its own inventory, the scheduled run started
// beside it on the same application folder.
class CollectLockTest : public velmo::test::MainWindowTest {
 protected:
  void SetUp() override {
    velmo::test::TestApp("test_collect_lock");
    gbContextMenuNoExec = true;
    MainWindowTest::SetUp();
    velmo::ads::SetWaitHook(DirectoryWaitHook);
  }
  void TearDown() override {
    velmo::ads::SetWaitHook(nullptr);
    if (main) {
      for (int i = 1; i <= kMaxExchWindows; ++i)
        if (gfrmExchWindows[i]) gfrmExchWindows[i]->Window()->close();
      velmo::test::PumpEvents();
    }
    MainWindowTest::TearDown();
  }

  fs::path SchedLog() const { return home / "Schedule" / "VelmorcastSchedLog.log"; }
  fs::path ErrorLogFile() const { return home / "VelmorcastErrorLog.log"; }
  QString StatusText() const { return main->Panel(1)->text(); }

  pid_t StartScheduledRun(const std::vector<std::string>& extra = {}) {
    return Spawn({(velmo::test::TestHome::BuildAppDir() / "VLMRSchedule").string()}, extra);
  }

  // Export Plus connected to EX1 (its pages as ticked at first), writing
  // into out.
  std::unique_ptr<frmExportPlus> OpenExportPlus(const fs::path& out) {
    main->iFromExportPlusPrintPlus = 0;
    auto w = std::make_unique<frmExportPlus>(main);
    w->Form_Load();
    w->show();
    velmo::test::PumpEvents();
    EXPECT_TRUE(velmo::test::FocusControl(w->cboServerName));
    w->cboServerName->lineEdit()->selectAll();
    velmo::test::PressKey(Qt::Key_Delete);
    velmo::test::TypeText("EX1");
    velmo::test::PressKey(Qt::Key_Return);
    velmo::test::PumpEvents();
    EXPECT_TRUE(w->cmdExport->isEnabled());
    w->txtPath->setText(QString::fromStdString(out.string()));
    return w;
  }

  frmExch* OpenBrowse() {
    auto* w = new frmExch();
    EXPECT_GT(OpenExchWindowSlot(w), 0);
    w->strServerName = "EX1";
    w->strOrganizationName = "Velmor";
    w->strSiteName = "Lakeside";
    w->Window()->show();
    velmo::test::PumpEvents();
    return w;
  }
};

// A slapd with a container of 1,500 mailboxes, behind a proxy that holds a
// call's answers on cue.
class CollectLockRace : public CollectLockTest {
 protected:
  static void SetUpTestSuite() {
    slapd_ = new velmo::test::PrivateSlapd("--large " + std::to_string(kBulkMailboxes));
    proxy_ = new velmo::test::LdapProxy(slapd_->port());
  }
  static void TearDownTestSuite() {
    delete proxy_;
    delete slapd_;
  }
  void SetUp() override {
    CollectLockTest::SetUp();
    if (IsSkipped()) return;
    hosts_ = std::make_unique<velmo::test::UseSampleDirectory>(proxy_->WriteHostsFile(home.dir()));
    velmo::ads::ResetSessions();
  }
  void TearDown() override {
    proxy_->Resume();
    CollectLockTest::TearDown();
    hosts_.reset();
    velmo::ads::ResetSessions();
  }
  static inline velmo::test::PrivateSlapd* slapd_ = nullptr;
  static inline velmo::test::LdapProxy* proxy_ = nullptr;
  std::unique_ptr<velmo::test::UseSampleDirectory> hosts_;
};

}  // namespace

// The main program's browse window and a scheduled run of EX1 reach the
// permissions page of cn=Bulk at once, each way round; the first one's
// collector call is held until the other shows or logs its wait. The other
// then waits its turn: afterwards the page holds the rows of one
// collection, and neither log tells of a failure. The waiting browse
// window's status text is drawn.
TEST_F(CollectLockRace, TwoProgramsCollectingOneServerTakeTurnsAndLeaveTheRowsOfOneCollection) {
  const std::string waitText =
      "Another program is collecting 'EX1'. Waiting for it to finish; Esc stops waiting.";
  struct Case {
    const char* what;
    bool browseFirst;
  };
  std::vector<long> permissions;
  for (const Case& c : {Case{"the browse window first", true}, Case{"the scheduled run first", false}}) {
    SCOPED_TRACE(c.what);
    velmo::exporting::ClearServerRows(*gConn, "EX1");
    fs::remove(SchedLog());
    fs::remove(ErrorLogFile());
    WriteSettings(home.dir(), {"EX1"}, home / "out");

    // The window on cn=Bulk's Mailboxes tab (its summary collected alone).
    frmExch* w = OpenBrowse();
    FindTreeNode(*w->tvwServers, kLakeRecipients)->setExpanded(true);
    QTreeWidgetItem* bulk = FindTreeNode(*w->tvwServers, kBulk);
    ASSERT_NE(bulk, nullptr);
    w->tvwServers_NodeClick(bulk);
    w->ClickTypeTab(1);
    ASSERT_EQ(Scalar("select count(*) from MailboxGeneral where [Object Path]=?", {db::Value(kBulk)}),
              kBulkMailboxes);

    pid_t run = -1;
    bool released = false;
    QString seenStatus;
    const auto t0 = Clock::now();
    // Past this the held call goes on anyway, so that a test that fails
    // still ends.
    auto giveUp = [&] {
      if (!released && Since(t0) > velmo::test::HangBound(60)) {
        released = true;
        proxy_->Resume();
      }
    };
    const long collectorCallsBefore = LinesWith(ErrorLogFile(), "GetMailboxInfo");
    if (c.browseFirst) {
      proxy_->Hold();  // the window's session: its collector call waits
      run = StartScheduledRun();
      WithTicks(
          [&] {
            if (!released && HasLine(SchedLog(), kRunWaits)) {
              released = true;
              proxy_->Resume();
            }
            giveUp();
          },
          [&] { w->ClickPropTab(4); });
      EXPECT_EQ(LinesWith(SchedLog(), kRunWaits), 1);
    } else {
      run = StartScheduledRun();
      // Once the run holds the lock its collection is held.
      bool held = false;
      while (!held && Since(t0) < velmo::test::HangBound(60)) {
        if (HasLine(SchedLog(), "Getting information for server -'EX1' start.")) {
          CollectionLock probe;
          held = probe.Take(gstrDBPath, "EX1", nullptr) == Outcome::Busy;
        }
        if (!held) ::usleep(2000);
      }
      EXPECT_TRUE(held);
      proxy_->Hold();
      WithTicks(
          [&] {
            if (!released && StatusText().toStdString() == waitText) {
              seenStatus = StatusText();
              velmo::test::SaveShot(main, "browse_window_waits_for_another_collection");
              released = true;
              proxy_->Resume();
            }
            giveUp();
          },
          [&] { w->ClickPropTab(4); });
      EXPECT_EQ(seenStatus.toStdString(), waitText);
      EXPECT_EQ(StatusText(), "");
      // After the wait the look-up found the run's rows: no collection.
      EXPECT_EQ(LinesWith(ErrorLogFile(), "GetMailboxInfo"), collectorCallsBefore);
    }
    EXPECT_EQ(w->PropTabKey(), "MailboxesPermissions");
    EXPECT_EQ(WaitChild(run, 300), 0);
    EXPECT_TRUE(HasLine(SchedLog(), "Getting information for server -'EX1' end.")) << c.what;
    EXPECT_EQ(FailureLines(SchedLog()), std::vector<std::string>{});
    EXPECT_EQ(FailureLines(ErrorLogFile()), std::vector<std::string>{});
    EXPECT_EQ(Scalar("select count(*) from MailboxGeneral where [Object Path]=?", {db::Value(kBulk)}),
              kBulkMailboxes);
    permissions.push_back(
        Scalar("select count(*) from MailboxPerm where [Object Path]=?", {db::Value(kBulk)}));
    w->Window()->close();
    velmo::test::PumpEvents();
  }

  // One collection of the page alone.
  gConn->Execute("delete from MailboxPerm where [Object Path]=?", {db::Value(kBulk)});
  auto collector = velmo::com::CreateObject<_Exch55Info>("VELMO.Exch55Info");
  std::string msg;
  collector->GetMailboxInfo(2, "EX1", "", "", kBulk, &msg);
  EXPECT_EQ(msg, "");
  const long solo = Scalar("select count(*) from MailboxPerm where [Object Path]=?", {db::Value(kBulk)});
  EXPECT_GE(solo, kBulkMailboxes);
  EXPECT_EQ(permissions, (std::vector<long>{solo, solo}));
  std::cout << "MailboxPerm rows of cn=Bulk: solo " << solo << ", after the races " << permissions[0] << " and "
            << permissions[1] << "\n";
}

// Two programs clear, collect and write out EX1 of one database at once: a
// scheduled run beside Export Plus, each way round, and two scheduled runs
// of two application folders on one database file. The first one's calls
// are held until the second waits for it, then the second one's until the
// first has ended: the second clears EX1 while the first writes out unless
// the lock is held through the outputs. Every program's output (the tables
// of its database and their rows) equals the one it writes alone.
TEST_F(CollectLockTest, OutputsWrittenBesideAnotherCollectionEqualThoseOfARunAlone) {
  int port = 0;
  std::ifstream(velmo::test::SampleLdapDir() / "port") >> port;
  velmo::test::LdapProxy proxy(port);
  velmo::test::UseSampleDirectory hosts(proxy.WriteHostsFile(home.dir()));
  velmo::ads::ResetSessions();
  const fs::path second = home / "second";
  fs::create_directories(second);
  fs::copy_file(home / "VelmorcastClasses.reg", second / "VelmorcastClasses.reg");
  fs::create_symlink(gstrDBPath, second / "velmo.mdb");

  struct Program {
    const char* name;
    fs::path folder, out;  // application folder (a scheduled run's) and output folder
    bool exportPlus;
    std::map<std::string, long> alone;
    pid_t pid = -1;
    int exit = -1;
    long first = 0, last = 0;  // its connections, in the proxy's count
  };
  Program run{"scheduled run", home.dir(), home / "run-out", false};
  Program other{"scheduled run of another folder", second, second / "run-out", false};
  Program exportPlus{"Export Plus", {}, home / "exportplus-out", true};
  std::unique_ptr<frmExportPlus> window;
  auto start = [&](Program& p) {
    p.first = proxy.Accepted();
    p.last = std::numeric_limits<long>::max();
    p.pid = Spawn({(velmo::test::TestHome::BuildAppDir() / "VLMRSchedule").string()},
                  {"VELMORCAST_HOME=" + p.folder.string()});
  };
  auto ended = [&](Program& p) {
    int status = 0;
    if (p.pid > 0 && ::waitpid(p.pid, &status, WNOHANG) == p.pid) {
      p.exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
      p.pid = -1;
    }
    return p.pid < 0;
  };
  auto holdsTheLock = [&](const Program& p) {
    CollectionLock probe;
    return p.exportPlus ? gfrmAutoFormat && gfrmAutoFormat->iEPInfo == 1
                        : probe.Take(gstrDBPath, "EX1", nullptr) == Outcome::Busy;
  };
  auto waits = [&](const Program& p) {
    return p.exportPlus ? gfrmAutoFormat && gfrmAutoFormat->lblStatus->text().endsWith("Cancel stops waiting.")
                        : HasLine(p.folder / "Schedule" / "VelmorcastSchedLog.log", kRunWaits);
  };
  auto prepare = [&](Program& p) {
    fs::remove_all(p.out);
    if (!p.exportPlus) {
      fs::remove(p.folder / "Schedule" / "VelmorcastSchedLog.log");
      return WriteSettings(p.folder, {"EX1"}, p.out, "MDB");
    }
    velmo::ads::ResetSessions();
    p.first = proxy.Accepted();
    window = OpenExportPlus(p.out);
    p.last = proxy.Accepted();
  };
  // Export Plus's Export clicked, or events let run, until every program
  // has ended; the tick steers them meanwhile.
  auto toTheEnd = [&](const std::function<void()>& tick, const std::vector<Program*>& programs) {
    const auto t0 = Clock::now();
    WithTicks(
        [&] {
          tick();
          if (Since(t0) > velmo::test::HangBound(120)) proxy.Resume();  // a failing test still ends
        },
        [&] {
          if (window) {
            window->cmdExport->click();
            proxy.Resume();  // Export Plus has ended
          }
          for (Program* p : programs)
            while (!ended(*p) && Since(t0) < velmo::test::HangBound(300)) {
              QCoreApplication::processEvents();
              ::usleep(10000);
            }
        });
  };
  for (Program* p : {&run, &exportPlus}) {
    prepare(*p);
    if (!p->exportPlus) start(*p);
    toTheEnd([] {}, {p});
    p->alone = TablesIn(p->out);
    EXPECT_FALSE(p->alone.empty()) << p->name;
  }
  other.alone = run.alone;

  const std::vector<std::pair<Program*, Program*>> orders = {{&run, &exportPlus}, {&exportPlus, &run}, {&run, &other}};
  for (const auto& order : orders) {
    Program* first = order.first;
    Program* then = order.second;
    const std::string what = std::string(first->name) + " first, then " + then->name;
    SCOPED_TRACE(what);
    window.reset();
    prepare(*first);
    prepare(*then);
    int step = 0;
    auto holdFirstStartThen = [&] {
      if (!first->exportPlus) first->last = proxy.Accepted();
      proxy.HoldRange(first->first, first->last);
      if (!then->exportPlus) start(*then);
      step = 1;
    };
    if (!first->exportPlus) {
      start(*first);
      for (const auto t0 = Clock::now(); !holdsTheLock(*first) && Since(t0) < velmo::test::HangBound(60);) ::usleep(2000);
      holdFirstStartThen();
    }
    toTheEnd(
        [&] {
          if (step == 0 && holdsTheLock(*first)) holdFirstStartThen();
          if (step == 1 && waits(*then)) {
            proxy.Resume();
            proxy.HoldRange(then->first, then->last);
            step = 2;
          } else if (step == 2 && !first->exportPlus && ended(*first)) {
            proxy.Resume();
            step = 3;
          }
        },
        {first, then});
    EXPECT_EQ(step, first->exportPlus ? 2 : 3);
    std::cout << what << ":";
    for (Program* p : {first, then}) {
      if (!p->exportPlus) EXPECT_EQ(p->exit, 0) << p->name;
      const auto tables = TablesIn(p->out);
      EXPECT_EQ(tables, p->alone) << p->name;
      std::cout << " " << p->name << " " << Counted(tables) << " (alone " << Counted(p->alone) << ");";
    }
    std::cout << "\n";
  }
}

// A window waiting for another program's collection says so, keeps
// painting, and ends its wait without collecting (or deleting) anything on
// Escape (browse window, the main window's Refresh) or Cancel (Export
// Plus's progress window), saying that it stopped waiting.
TEST_F(CollectLockTest, AWaitingWindowSaysWhyAndStopsWaitingOnEscapeOrCancel) {
  Insert("MailboxGeneral", {"ServerName", "Object Path", "Display Name"},
         {db::Value("EX1"), db::Value(kLakeRecipients), db::Value("Kept Row")});
  auto other = std::make_unique<OtherProgram>(gstrDBPath, "ex1");
  ASSERT_EQ(other->outcome(), Outcome::Taken);

  struct Case {
    const char* what;
    std::string waitText;
    std::function<QString()> status;  // the waiting window's status text
    std::function<void()> stop;       // the user's way out
    std::function<void()> start;      // the command that waits
    std::string shot;
    std::string statusAfter = kStoppedWaitingText;
    std::vector<std::string> prompts = {};
  };
  frmExch* browse = nullptr;
  std::unique_ptr<frmExportPlus> exportPlus;
  const std::vector<Case> cases = {
      {"browse window, Escape",
       "Another program is collecting 'EX1'. Waiting for it to finish; Esc stops waiting.",
       [&] { return StatusText(); }, [] { velmo::test::PressKey(Qt::Key_Escape); },
       [&] {
         browse = OpenBrowse();
         ASSERT_TRUE(velmo::test::FocusControl(browse->tvwServers));
         browse->tvwServers_NodeClick(FindTreeNode(*browse->tvwServers, kLakeRecipients));
       },
       ""},
      {"Refresh, Escape", "Another program is collecting 'EX1'. Waiting for it to finish; Esc stops waiting.",
       [&] { return StatusText(); }, [] { velmo::test::PressKey(Qt::Key_Escape); }, [] { RefreshServer("EX1"); },
       ""},
      {"Export Plus, Cancel",
       "Another program is collecting 'EX1'. Waiting for it to finish; Cancel stops waiting.",
       [] { return gfrmAutoFormat ? gfrmAutoFormat->lblStatus->text() : QString(); },
       [] { gfrmAutoFormat->cmdCancel->click(); },
       [&] {
         exportPlus = OpenExportPlus(home / "out");
         exportPlus->cmdExport->click();
       },
       "exportplus_waits_for_another_collection", "", {kStoppedWaitingText}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ui->clear();
    main->Panel(1)->clear();
    QString seen;
    int waitingTicks = 0;
    double stoppedAt = -1;
    const auto t0 = Clock::now();
    // The user stops the wait once it has been shown for five ticks (the
    // wait lets events run); past 30 s the other program ends instead.
    WithTicks(
        [&] {
          if (stoppedAt >= 0) return;
          if (c.status().toStdString() == c.waitText && ++waitingTicks == 5) {
            seen = c.status();
            if (!c.shot.empty()) velmo::test::SaveShot(gfrmAutoFormat, c.shot);
            stoppedAt = Since(t0);
            c.stop();
          } else if (Since(t0) > velmo::test::HangBound(30)) {
            stoppedAt = Since(t0);
            other.reset();
          }
        },
        c.start);
    ASSERT_TRUE(other) << "the wait did not end";
    EXPECT_EQ(seen.toStdString(), c.waitText);
    EXPECT_LT(Since(t0) - stoppedAt, 2.0);  // the wait ended at once
    // Nothing collected, nothing deleted, and the user is told so.
    EXPECT_EQ(StatusText().toStdString(), c.statusAfter);
    if (!c.statusAfter.empty()) velmo::test::SaveShot(main, "main_window_after_a_wait_given_up");
    EXPECT_EQ(Prompts(), c.prompts);
    EXPECT_EQ(LinesWith(ErrorLogFile(), "Start"), 0) << velmo::test::TestHome::Slurp(ErrorLogFile());
    EXPECT_EQ(Scalar("select count(*) from MailboxGeneral where ServerName='EX1'"), 1);
    EXPECT_EQ(Scalar("select count(*) from ContainerInfo where ServerName='EX1'"), 0);
  }
  exportPlus.reset();
}

// The scheduled run waits a bounded time for another program's collection
// of a server (the bound shortened here), logs once that it waits, then
// skips that server, keeping its rows and making no report of it, and goes
// on with the next. A lock file it can lock no byte of (a folder; a file of
// root's it may only read, the run as "nobody") is locked whole and the run
// collects as it would alone. Where no lock can be taken at all (a link to
// nothing, never followed) it skips every server, saying why.
TEST_F(CollectLockTest, TheScheduledRunSkipsAServerCollectedPastTheBoundOrWithoutAnyLock) {
  enum class LockFile { Missing, Folder, RootsReadOnly, LinkToNothing };
  struct Case {
    const char* what;
    LockFile lockFile;
    bool asNobody, holdEX1;
    std::vector<std::string> entries;  // the run's own entries, in order
  };
  const fs::path lockFile = home / "velmo.mdb.collect.lock", outside = home.dir().string() + "-elsewhere";
  const auto entry = [](const char* server, const std::string& what) {
    return "     GetAllInfo : Getting information for server -'" + std::string(server) + "' " + what;
  };
  const std::string noLock = "skipped : Collection Lock File Failure : " + lockFile.string() + " : No such file or directory";
  const std::vector<std::string> bothCollected = {entry("EX1", "start."), entry("EX1", "end."), entry("EX2", "start."),
                                                  entry("EX2", "end.")};
  const std::vector<Case> cases = {
      {"EX1 collected by another program past the bound", LockFile::Missing, false, true,
       {entry("EX1", "start."), kRunWaits, entry("EX1", "skipped : another program is collecting it."),
        entry("EX2", "start."), entry("EX2", "end.")}},
      {"a folder as the lock file", LockFile::Folder, true, false, bothCollected},
      {"a lock file of root's, read only", LockFile::RootsReadOnly, true, false, bothCollected},
      {"a link to nothing", LockFile::LinkToNothing, false, false,
       {entry("EX1", "start."), entry("EX1", noLock), entry("EX2", "start."), entry("EX2", noLock)}},
  };
  const std::string noNobody = OtherUser::CannotRun();
  std::unique_ptr<OtherUser> nobody;
  if (noNobody.empty()) nobody = std::make_unique<OtherUser>(velmo::test::TestHome::BuildAppDir() / "VLMRSchedule");
  fs::create_directory(outside);
  const auto rows = [&](const char* server) {
    long n = 0;
    for (const char* table : {"MailboxGeneral", "MailboxPerm", "DLGeneral", "ContainerInfo", "ProtocolGeneral"})
      n += Scalar(std::string("select count(*) from ") + table + " where ServerName=?", {db::Value(server)});
    return n;
  };
  std::map<std::string, long> solo;  // the rows of a collection alone
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.asNobody && !nobody) {
      std::cout << "not tried: " << noNobody << "\n";
      continue;
    }
    for (const char* s : {"EX1", "EX2"}) velmo::exporting::ClearServerRows(*gConn, s);
    Insert("MailboxGeneral", {"ServerName", "Object Path", "Display Name"},
           {db::Value("EX1"), db::Value(kLakeRecipients), db::Value("Kept Row")});
    fs::remove(SchedLog());
    fs::remove_all(home / "out");
    fs::remove_all(lockFile);
    WriteSettings(home.dir(), {"EX1", "EX2"}, home / "out");
    std::vector<std::string> program = {(velmo::test::TestHome::BuildAppDir() / "VLMRSchedule").string()};
    std::vector<std::string> env = {"VELMORCAST_COLLECT_WAIT_SECONDS=1"};
    if (c.asNobody) {
      // What the run reads from the build and the sources, which another
      // user cannot enter when they lie in a private folder, it reads from
      // copies in its own folder.
      nobody->PlaceComponents(home / "VelmorcastClasses.reg");
      for (const char* name : {"VELMORCAST_LDAP_HOSTS", "VELMORCAST_PROVIDERS"}) {
        const char* from = std::getenv(name);
        ASSERT_NE(from, nullptr) << name;
        const fs::path copy = home / (std::string(name) + ".copy");
        fs::remove_all(copy);
        fs::copy(from, copy, fs::copy_options::recursive);
        env.push_back(std::string(name) + "=" + copy.string());
      }
      for (const auto& e : fs::recursive_directory_iterator(home.dir()))
        ASSERT_EQ(::lchown(e.path().c_str(), OtherUser::kId, OtherUser::kId), 0) << e.path();
      ASSERT_EQ(::chown(home.dir().c_str(), OtherUser::kId, OtherUser::kId), 0);
      program = AsNobody(*nobody);
      env.insert(env.end(), {"LD_LIBRARY_PATH=" + nobody->dir().string(), "HOME=" + home.dir().string()});
    }
    if (c.lockFile == LockFile::Folder) fs::create_directory(lockFile);
    if (c.lockFile == LockFile::RootsReadOnly) {
      std::ofstream(lockFile).put('\n');
      fs::permissions(lockFile, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    }
    if (c.lockFile == LockFile::LinkToNothing) fs::create_symlink(outside / "velmo.mdb.collect.lock", lockFile);

    CollectionLock held;
    if (c.holdEX1) ASSERT_EQ(held.Take(gstrDBPath, "EX1", nullptr), Outcome::Taken);
    const auto t0 = Clock::now();
    // A server skipped is work not done: the run ends with 1.
    const bool skipped = std::any_of(c.entries.begin(), c.entries.end(),
                                     [](const std::string& e) { return e.find("' skipped : ") != std::string::npos; });
    EXPECT_EQ(WaitChild(Spawn(program, env), 120), skipped ? 1 : 0);
    EXPECT_LT(Since(t0), 60);
    held.Release();

    std::vector<std::string> own;
    std::ifstream in(SchedLog(), std::ios::binary);
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const auto at = line.find("     GetAllInfo");
      if (at != std::string::npos && at > 0) own.push_back(line.substr(at));
    }
    EXPECT_EQ(own, c.entries);
    EXPECT_TRUE(fs::is_empty(outside));
    // A server collected has the rows of a collection alone and its
    // report; one skipped keeps its rows (EX1 its one row) and has none.
    for (const char* server : {"EX1", "EX2"}) {
      const bool collected = std::find(own.begin(), own.end(), entry(server, "end.")) != own.end();
      if (!collected) EXPECT_EQ(rows(server), std::string(server) == "EX1" ? 1 : 0) << server;
      if (collected && solo.count(server)) EXPECT_EQ(rows(server), solo[server]) << server;
      if (collected) solo.emplace(server, rows(server));
      bool report = false;
      for (const auto& e : fs::directory_iterator(home / "out"))
        report |= e.path().filename().string().rfind(std::string(server) + "_", 0) == 0;
      EXPECT_EQ(report, collected) << server;
    }
  }
  if (nobody) EXPECT_GT(solo["EX1"], 1);
  fs::remove_all(outside);
}

namespace {
// Rows of a server by data table and object path (a table without paths
// as one page).
std::map<std::string, long> Pages(const std::string& server) {
  std::map<std::string, long> out;
  for (const auto& t : AppTables()) {
    if (t.columns.empty() || t.columns[0].name != "ServerName" || t.name.rfind("VELMORC", 0) == 0) continue;
    const bool paths = std::any_of(t.columns.begin(), t.columns.end(), [](auto& c) { return c.name == "Object Path"; });
    db::Recordset rs;
    rs.Open("select " + std::string(paths ? "[Object Path]" : "''") + ", count(*) from [" + t.name +
                "] where ServerName=? group by 1",
            *gConn, {db::Value(server)}, db::adOpenKeyset, db::adLockReadOnly);
    for (; !rs.Eof(); rs.MoveNext()) out[t.name + " | " + rs[0L].Text()] = std::stol(rs[1L].Val().Text());
    rs.Close();
  }
  return out;
}
// Checks that every page of `server` holds all the rows it holds in
// `whole` or none; the count of empty ones.
long EmptyPagesOfWholeOnes(const std::string& server, const std::map<std::string, long>& whole) {
  long empty = 0;
  const auto pages = Pages(server);
  for (const auto& [page, rows] : whole) {
    const long now = pages.count(page) ? pages.at(page) : 0;
    EXPECT_TRUE(now == rows || now == 0) << page << ": " << now << " of " << rows;
    empty += now == 0;
  }
  return empty;
}
std::map<std::string, long> LinesOfFiles(const fs::path& folder) {
  std::map<std::string, long> out;
  // The writer's lock file beside a database output stays: it is no output.
  for (const auto& e : fs::directory_iterator(folder))
    if (e.path().extension() != ".lock") out[e.path().filename().string()] = LinesWith(e.path(), "");
  return out;
}
}  // namespace

// A scheduled run given SIGTERM, by this test or by vjobrun at the end of
// the task's window, while a collector call is held and while it writes
// its outputs: exit 143 soon after the signal, one entry saying so as its
// last, every page either whole or empty, the outputs finished kept whole
// and the database being built dropped with the last one kept.
TEST_F(CollectLockRace, ARunStoppedBySignalLeavesWholePagesAndFinishedOutputs) {
  const std::string stopped = "     GetAllInfo : Getting information for server -'EX1' stopped : signal SIGTERM";
  const fs::path out = home / "out", mdb = out / "EX1_12_09_2026_02_00_00.mdb";
  const fs::path app = velmo::test::TestHome::BuildAppDir();
  // A run alone: its pages and its report.
  velmo::exporting::ClearServerRows(*gConn, "EX1");
  WriteSettings(home.dir(), {"EX1"}, out);
  ASSERT_EQ(WaitChild(StartScheduledRun(), 300), 0);
  const std::map<std::string, long> whole = Pages("EX1"), report = LinesOfFiles(out);
  ASSERT_GT(report.size(), 20u);

  struct Case {
    const char* what;
    bool collecting, byVjobrun;
    const char* format;
  };
  for (const Case& c : {Case{"collecting", true, false, "CSV"}, Case{"collecting, window end", true, true, "CSV"},
                        Case{"writing its database", false, false, "MDB"},
                        Case{"writing files, vjobrun stopped", false, true, "CSV"}}) {
    SCOPED_TRACE(c.what);
    velmo::exporting::ClearServerRows(*gConn, "EX1");
    fs::remove(SchedLog());
    fs::remove_all(out);
    WriteSettings(home.dir(), {"EX1"}, out, c.format);
    if (c.format == std::string("MDB")) std::ofstream(mdb) << "the last complete database";
    const long first = proxy_->Accepted();
    // vjobrun's window (02:00, two minutes) ends 120 s after its clock's
    // start: room for a slow machine's run to write its first rows first.
    // (A directory held from the run's first request would not do: its
    // bind gives up long before the window ends.)
    const pid_t pid = c.byVjobrun ? Spawn({(app / "vjobrun").string(), "--task", "T", "--kind", "1", "--at", "02:00",
                                           "--duration", "2", "--stop", "--", (app / "VLMRSchedule").string()},
                                          {"VELMORCAST_CLOCK=2026-01-01 02:00:00"})
                                  : StartScheduledRun();
    const auto t0 = Clock::now();
    // Held in a collector call once rows were written, or stopped once an
    // output is being written.
    bool reached = false;
    while (!reached && Since(t0) < velmo::test::HangBound(35)) {
      reached = c.collecting ? Scalar("select count(*) from MailboxGeneral where ServerName='EX1'") > 0
                : c.format == std::string("MDB") ? fs::exists(mdb.string() + ".new")
                                                 : !fs::is_empty(out);
      if (!reached) ::usleep(1000);
    }
    ASSERT_TRUE(reached) << (c.byVjobrun && c.collecting ? "no rows before the window's end" : "");
    if (c.collecting) proxy_->HoldRange(first, std::numeric_limits<long>::max());
    auto sent = Clock::now();
    if (c.byVjobrun && c.collecting)
      sent = t0 + std::chrono::seconds(120);
    else
      ::kill(pid, SIGTERM);
    const int status = WaitChild(pid, 160);
    proxy_->Resume();
    EXPECT_EQ(status, 143);
    EXPECT_LT(Since(sent), velmo::test::HangBound(5));
    EXPECT_EQ(FailureLines(SchedLog()), std::vector<std::string>{});
    EXPECT_EQ(LinesWith(SchedLog(), "stopped"), 1);
    const std::string log = velmo::test::TestHome::Slurp(SchedLog());
    EXPECT_EQ(log.substr(log.rfind("     ")), stopped + "\r\n");  // the last entry
    EXPECT_EQ(HasLine(SchedLog(), "' end."), !c.collecting);
    const long empty = EmptyPagesOfWholeOnes("EX1", whole);
    if (c.collecting) EXPECT_GT(empty, 0);
    std::cout << c.what << ": status " << status << ", " << Since(sent) << " s after the signal, " << empty << " of "
              << whole.size() << " pages empty, " << LinesOfFiles(out).size() << " of " << report.size()
              << " files\n";
    // What was written before the signal stays whole; the database being
    // built goes, the last complete one stays.
    if (c.format == std::string("MDB")) {
      EXPECT_EQ(velmo::test::TestHome::Slurp(mdb), "the last complete database");
      fs::remove(mdb);
    }
    const auto files = LinesOfFiles(out);
    for (const auto& [name, lines] : files) EXPECT_EQ(lines, report.count(name) ? report.at(name) : -1) << name;
    EXPECT_LT(files.size(), report.size());
  }
}

// A scheduled run killed outright (SIGKILL: vjobrun's last resort, the
// out-of-memory killer, a shutdown) while it collects: once cn=Bulk's
// General or permission rows show, and half way through its pages (its
// mailboxes' protocol rows shown, its last page, of custom recipients, not
// yet). Every page is whole or empty against a run alone, the file is
// sound, and nothing the run held its rows in stays beside the database.
TEST_F(CollectLockRace, ARunKilledOutrightLeavesEveryPageWholeOrEmpty) {
  velmo::exporting::ClearServerRows(*gConn, "EX1");
  WriteSettings(home.dir(), {"EX1"}, home / "out");
  ASSERT_EQ(WaitChild(StartScheduledRun(), 300), 0);
  const std::map<std::string, long> whole = Pages("EX1");
  auto names = [&] {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(home.dir())) out.insert(e.path().filename().string());
    out.erase("out");  // the export folder, made by the run when it gets there
    return out;
  };
  const std::set<std::string> folder = names();
  auto bulkRows = [&](const char* table) {
    return Scalar(std::string("select count(*) from ") + table + " where ServerName='EX1' and [Object Path]=?",
                  {db::Value(kBulk)});
  };
  struct Moment {
    const char* what;
    const char* shown;   // killed once cn=Bulk's rows of it show,
    const char* notYet;  // while its rows of this later page do not
  };
  for (const Moment& m : {Moment{"General rows shown", "MailboxGeneral", nullptr},
                          Moment{"permission rows shown", "MailboxPerm", nullptr},
                          Moment{"half way", "MailboxProtocols", "CRAdvanced"}}) {
    SCOPED_TRACE(m.what);
    velmo::exporting::ClearServerRows(*gConn, "EX1");
    fs::remove_all(home / "out");
    const pid_t pid = StartScheduledRun();
    const auto start = Clock::now();
    while (bulkRows(m.shown) == 0) {
      ASSERT_LT(Since(start), velmo::test::HangBound(60));
      ASSERT_TRUE(!m.notYet || bulkRows(m.notYet) == 0) << m.notYet << " shown before " << m.shown;
      ::usleep(500);
    }
    ::kill(pid, SIGKILL);
    EXPECT_EQ(WaitChild(pid, 60), 128 + SIGKILL);
    const long empty = EmptyPagesOfWholeOnes("EX1", whole);
    EXPECT_GT(empty, 0);
    sqlite3* h = nullptr;
    sqlite3_open_v2(db::PathFromConnectionString(gstrDBPath).c_str(), &h, SQLITE_OPEN_READONLY, nullptr);
    EXPECT_EQ(velmo::test::SqliteRows(h, "pragma integrity_check"), std::vector<std::string>{"ok"});
    sqlite3_close(h);
    EXPECT_EQ(names(), folder);
    std::cout << m.what << ": killed " << Since(start) << " s in, " << empty << " of " << whole.size()
              << " pages empty\n";
  }
}

// The main program given SIGTERM (the session ending) while a browse
// window collects the permissions page of cn=Bulk, the server answering no
// more part way: none of the call's rows stay and the main window closes.
// Run in a program of its own, which the signal leaves stopping.
TEST_F(CollectLockRace, TheMainProgramStoppedBySignalLeavesNoPartlyFilledPage) {
  if (!std::getenv("VELMO_STOP_CHILD")) {
    const pid_t child = Spawn({"/proc/self/exe", "--gtest_filter=CollectLockRace.TheMainProgramStopped*"},
                              {"VELMO_STOP_CHILD=1", home.ChildTmpdir()});
    EXPECT_EQ(WaitChild(child, 300), 0);
    return;
  }
  WatchStopSignals();
  velmo::exporting::ClearServerRows(*gConn, "EX1");
  frmExch* w = OpenBrowse();
  FindTreeNode(*w->tvwServers, kLakeRecipients)->setExpanded(true);
  w->tvwServers_NodeClick(FindTreeNode(*w->tvwServers, kBulk));
  w->ClickTypeTab(1);
  proxy_->Arm(700, velmo::test::LdapProxy::Loss::Stop);
  bool raised = false;
  WithTicks(
      [&] {
        if (!raised && proxy_->Lost()) ::raise(SIGTERM);
        raised = raised || proxy_->Lost();
      },
      [&] { w->ClickPropTab(4); });
  proxy_->Heal();
  ASSERT_TRUE(raised);
  const auto t0 = Clock::now();
  while (main->isVisible() && Since(t0) < 30) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_FALSE(main->isVisible());
  db::Connection conn;
  conn.Open(gstrDBPath);
  db::Recordset rs;
  rs.Open("select count(*) from MailboxPerm where [Object Path]=?", conn, {db::Value(kBulk)}, db::adOpenKeyset,
          db::adLockReadOnly);
  EXPECT_EQ(rs[0L].Text(), "0");
}

// A directory that stops answering mid-collection (SIGSTOP: no request is
// ever answered) does not hold the user for the request bound: Escape in
// the collecting browse window, or Cancel and Yes in Export Plus's
// progress window, gives the wait up at once. The call's rows are taken
// back, and the user is told why without a bind-error box.
TEST_F(CollectLockRace, EscapeOrCancelEndsAWaitOnAHungServerAtOnce) {
  velmo::ads::SetTimeouts(10, 30);
  frmExch* browse = nullptr;
  std::unique_ptr<frmExportPlus> exportPlus;
  struct Case {
    const char* what;
    std::function<void()> start;  // the command that collects, the server lost in it
    std::function<void()> stop;   // the user's way out
    std::string status;
    std::vector<std::string> prompts;
  };
  const std::vector<Case> cases = {
      {"browse window, Escape",
       [&] {
         browse = OpenBrowse();
         FindTreeNode(*browse->tvwServers, kLakeRecipients)->setExpanded(true);
         browse->tvwServers_NodeClick(FindTreeNode(*browse->tvwServers, kBulk));
         browse->ClickTypeTab(1);
         ASSERT_TRUE(velmo::test::FocusControl(browse->tvwServers));
         proxy_->Arm(700, velmo::test::LdapProxy::Loss::Stop);
         browse->ClickPropTab(4);
       },
       [] { velmo::test::PressKey(Qt::Key_Escape); }, kStoppedCollectingText, {}},
      {"Export Plus, Cancel and Yes",
       [&] {
         exportPlus = OpenExportPlus(home / "out");
         proxy_->Arm(700, velmo::test::LdapProxy::Loss::Stop);
         exportPlus->cmdExport->click();
       },
       [&] {
         ui->QueueMsgBox(velmo::ui::vbYes);
         gfrmAutoFormat->cmdCancel->click();
       },
       "", {"Cancel Retrieving ?", "Information Retrival process for ExportPlus canceled in the middle."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    velmo::exporting::ClearServerRows(*gConn, "EX1");
    ui->clear();
    main->Panel(1)->clear();
    int ticksLost = 0;
    auto stoppedAt = Clock::time_point::max();
    // The user gives up once the server has not answered for five ticks.
    WithTicks(
        [&] {
          if (proxy_->Lost() && ++ticksLost == 5) {
            stoppedAt = Clock::now();
            c.stop();
          }
        },
        c.start);
    ASSERT_NE(stoppedAt, Clock::time_point::max()) << "the server was not lost";
    EXPECT_LT(Since(stoppedAt), velmo::test::HangBound(1.0));
    EXPECT_EQ(StatusText().toStdString(), c.status);
    if (!c.status.empty()) velmo::test::SaveShot(main, "main_window_after_esc_gave_a_collection_up");
    EXPECT_EQ(Prompts(), c.prompts);
    EXPECT_EQ(Scalar("select count(*) from MailboxPerm where [Object Path]=?", {db::Value(kBulk)}), 0);
    proxy_->Heal();
    velmo::ads::ResetSessions();
  }
  exportPlus.reset();
  velmo::ads::SetTimeouts(10, 120);
}

// A server that cannot be collected again keeps what it has: Refresh, the
// scheduled run and Export Plus of EX1 with the directory stopped, with the
// collector's library unusable (a text file) and with a clearing that
// fails (a trigger refusing the delete) leave every row and the outputs of
// an earlier run as they were, and say why in one message or entry.
TEST_F(CollectLockTest, AServerThatCannotBeCollectedAgainKeepsItsRowsAndOutputs) {
  const fs::path out = home / "out", registry = home / "VelmorcastClasses.reg", text = home / "libVELMO.so";
  WriteSettings(home.dir(), {"EX1"}, out);
  ASSERT_EQ(WaitChild(StartScheduledRun(), 300), 0);
  frmExch* browse = OpenBrowse();
  std::unique_ptr<frmExportPlus> exportPlus = OpenExportPlus(out);
  const auto rows = [&] {
    std::map<std::string, long> n;
    db::Recordset rs;
    rs.Open("select name from sqlite_master where type='table'", *gConn);
    for (; !rs.Eof(); rs.MoveNext()) n[rs[0L].Text()] = 0;
    rs.Close();
    for (auto& [table, count] : n) count = Scalar("select count(*) from [" + table + "]");
    return n;
  };
  const auto files = [&] {
    std::map<std::string, std::string> n;
    for (const auto& e : fs::directory_iterator(out))
      n[e.path().filename().string()] = velmo::test::TestHome::Slurp(e.path());
    return n;
  };
  const auto collected = rows();
  const std::string classes = velmo::test::TestHome::Slurp(registry);
  std::ofstream(home / "stopped-ldaphosts.conf") << "EX1 ldap://127.0.0.1:1\n";
  std::ofstream(text) << "not a library\n";
  enum Fault { Stopped, Unusable, Undeletable };
  struct Case {
    const char* what;
    Fault fault;
    std::function<void()> run;
    std::vector<std::string> said;  // in the message or the log
  };
  const auto refresh = [] { RefreshServer("EX1"); };
  // The scheduled run did not do its work: it ends with 1.
  const auto scheduled = [&] { EXPECT_EQ(WaitChild(StartScheduledRun(), 300), 1); };
  const auto exportClick = [&] { exportPlus->cmdExport->click(); };
  const std::string notRegistered = "Class not registered: " + text.string(), kept = "MailboxGeneral is kept";
  const std::string notDeleted = "The earlier information of 'EX1' could not be deleted.\r\nMailboxGeneral: ";
  const std::vector<Case> cases = {
      {"Refresh, directory stopped", Stopped, refresh,
       {"Error occured while binding to the server 'EX1' : \r\n-2147016646\r\n",
        "\r\n\r\nPlease ensure LDAP protocol is enabled at the Site/Server level or the server is operational."}},
      {"Refresh, library unusable", Unusable, refresh, {notRegistered}},
      {"Refresh, clearing fails", Undeletable, refresh, {notDeleted, kept}},
      {"scheduled run, directory stopped", Stopped, scheduled,
       {"ConnectToExchangeServer : Binding to server 'EX1' to get Organization/Site Name Failure : -2147016646"}},
      {"scheduled run, library unusable", Unusable, scheduled,
       {"     GetAllInfo : Getting information for server -'EX1' skipped : Collector Object Creation Failure : "
        "-2147221164:" + notRegistered}},
      {"scheduled run, clearing fails", Undeletable, scheduled,
       {"     DeleteExistingRecords : Delete Failure : MailboxGeneral : ", kept}},
      {"Export Plus, directory stopped", Stopped, exportClick, {"Unable to connect to 'EX1'.\r\n"}},
      {"Export Plus, library unusable", Unusable, exportClick, {notRegistered}},
      {"Export Plus, clearing fails", Undeletable, exportClick, {notDeleted, kept}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (rows() != collected) ASSERT_EQ(WaitChild(StartScheduledRun(), 300), 0);  // lost in an earlier case
    std::unique_ptr<velmo::test::UseSampleDirectory> stopped;
    if (c.fault == Stopped)
      stopped = std::make_unique<velmo::test::UseSampleDirectory>(home / "stopped-ldaphosts.conf");
    velmo::ads::ResetSessions();
    if (c.fault == Unusable) {
      std::string changed = classes;
      ASSERT_NE(changed.find("VELMO.Exch55Info\t"), std::string::npos);
      const auto at = changed.find("VELMO.Exch55Info\t") + 17;
      changed.replace(at, changed.find('\t', at) - at, text.string());
      std::ofstream(registry) << changed;
    }
    if (c.fault == Undeletable)
      gConn->Execute("create trigger KeepEX1 before delete on MailboxGeneral begin select raise(abort, '" + kept +
                     "'); end");
    ui->clear();
    fs::remove(SchedLog());
    const auto rowsBefore = rows();
    const auto filesBefore = files();
    const long logBefore = LinesWith(ErrorLogFile(), "");
    c.run();
    EXPECT_EQ(rows(), rowsBefore);
    EXPECT_EQ(files(), filesBefore);
    std::string said = velmo::test::TestHome::Slurp(SchedLog());
    for (const auto& p : Prompts()) said += p;
    for (const auto& s : c.said) EXPECT_NE(said.find(s), std::string::npos) << s << " in\n" << said;
    if (std::string(c.what).rfind("scheduled", 0) != 0) {  // a window: one message, one log line
      EXPECT_EQ(Prompts().size(), 1u);
      EXPECT_EQ(LinesWith(ErrorLogFile(), "") - logBefore, 1) << velmo::test::TestHome::Slurp(ErrorLogFile());
    }
    std::ofstream(registry) << classes;
    if (c.fault == Undeletable) gConn->Execute("drop trigger KeepEX1");
  }
  exportPlus.reset();
  browse->Window()->close();
}

namespace {

// A scheduled run of EX1 then EX2 (EX2 not behind the proxy) writes a
// line's outputs only from a whole collection and its status says whether
// every line did all its work: with EX1's directory killed or stopped
// part-way or before the collector's first bind, a page of EX1 the
// database refuses (the write lock held by another program, the disk full
// while the page is held), the collector not made, the clearing refused or
// EX1's database output on a nearly full disk, EX1's outputs of the last run stay byte for byte, one entry says
// why, the failure is logged once, the next line is written soon after and
// the run ends with 1. A listing refused to the run's account (the first
// page of cn=Bulk answered "insufficient access") is no lost server: the
// outputs are written and the run ends with 0. Export Plus with the
// directory killed part-way says in its one box that its export is
// incomplete.
//
// Rows wait out the program's own bounds (a stopped directory's request
// bound, a held write lock's minute): each test below runs the rows of the
// faults it names, after a whole run of its own, so that they run beside
// each other.
class LineOutputsTest : public CollectLockRace {
 protected:
  enum Fault { Refused, Killed, Unusable, Undeletable, Locked, DiskFull, Stopped, MdbFull, PageRefused,
               StoppedBeforeBind, KilledBeforeBind };
  void RunRows(const std::vector<Fault>& only);
};

}  // namespace

TEST_F(LineOutputsTest, ALinesOutputsComeOnlyFromAWholeCollection_DirectoryStoppedPartWay) { RunRows({Stopped}); }

TEST_F(LineOutputsTest, ALinesOutputsComeOnlyFromAWholeCollection_DirectoryStoppedBeforeTheFirstBind) {
  RunRows({StoppedBeforeBind});
}

TEST_F(LineOutputsTest, ALinesOutputsComeOnlyFromAWholeCollection_DatabaseRefusesAPage) {
  RunRows({Locked, DiskFull});
}

TEST_F(LineOutputsTest, ALinesOutputsComeOnlyFromAWholeCollection_DirectoryKilledOrAListingRefused) {
  RunRows({Refused, Killed, KilledBeforeBind});
}

TEST_F(LineOutputsTest, ALinesOutputsComeOnlyFromAWholeCollection_CollectorOrOutputFails) {
  RunRows({Unusable, Undeletable, MdbFull, PageRefused});
}

void LineOutputsTest::RunRows(const std::vector<Fault>& only) {
  const fs::path out = home / "out", registry = home / "VelmorcastClasses.reg", text = home / "libVELMO.so";
  const fs::path hosts = home / "split-ldaphosts.conf", small = home / "small", mdbOut = home / "mdb-out";
  std::ofstream(hosts) << "EX1 ldap://127.0.0.1:" << proxy_->port() << "\nEX2 " << slapd_->url() << "\n";
  velmo::test::UseSampleDirectory split(hosts);
  WriteSettings(home.dir(), {"EX1", "EX2"}, out);
  const auto files = [&](const std::string& server, const fs::path& folder) {
    std::map<std::string, std::string> n;
    for (const auto& e : fs::directory_iterator(folder))
      if (e.path().filename().string().rfind(server + "_", 0) == 0)
        n[e.path().filename().string()] = velmo::test::TestHome::Slurp(e.path());
    return n;
  };
  std::ofstream(text) << "not a library\n";
  const std::string classes = velmo::test::TestHome::Slurp(registry);
  // The result code of the first listing done after a page of 1,000
  // entries becomes "insufficient access" (50).
  long entries = 0;
  bool refused = false;
  const auto refuse = [&](uint8_t op, std::vector<uint8_t>& m) {
    auto contents = [&](size_t at) { return at + 2 + ((m[at + 1] & 0x80) ? (m[at + 1] & 0x7f) : 0); };
    const size_t done = op == 0x65 ? contents(contents(0) + 2 + m[contents(0) + 1]) : 0;  // past the message id
    if (done && entries >= 1000 && m[done] == 0x0a && !std::exchange(refused, true)) m[done + 2] = 50;
    entries = op == 0x64 ? entries + 1 : op == 0x65 ? 0 : entries;
  };
  struct Case {
    const char* what;
    Fault fault;
    bool exportPlus;
    int status;        // of the scheduled run
    std::string said;  // in the log or a message
    std::string why = "";  // the failure, logged once beside the entry that keeps the outputs
  };
  const std::string lost = "-2147016646:The server is not operational.";
  const std::string kept = "     DisplayInfo : Outputs of server -'EX1' kept : the collection did not finish : ";
  const Case cases[] = {
      {"a listing refused to the account", Refused, false, 0, "      -2147024891      Access is denied.      "},
      {"directory killed part-way", Killed, false, 1, kept + lost, "The server is not operational."},
      {"collector not made", Unusable, false, 1,
       "     GetAllInfo : Getting information for server -'EX1' skipped : Collector Object Creation Failure : "},
      {"clearing refused", Undeletable, false, 1, "     DeleteExistingRecords : Delete Failure : MailboxGeneral : "},
      {"Export Plus, directory killed part-way", Killed, true, 0,
       "Exported with errors. The export is incomplete: the collection of 'EX1' did not finish.\r\n" + lost},
      {"write lock held through a page's commit", Locked, false, 1, kept, "Could not update; currently locked."},
      {"disk full while a page is held", DiskFull, false, 1, kept, "Not enough space on disk."},
      {"directory stopped part-way", Stopped, false, 1, kept + lost, "The server is not operational."},
      {"directory stopped before the collector's first bind", StoppedBeforeBind, false, 1, kept + lost,
       "The server is not operational."},
      {"directory killed before the collector's first bind", KilledBeforeBind, false, 1, kept + lost,
       "The server is not operational."},
      {"database output on a nearly full disk", MdbFull, false, 1, "Not enough space on disk."},
      {"Export Plus, a page refused", PageRefused, true, 0,
       "Exported with errors. The export is incomplete: the collection of 'EX1' did not finish.\r\n-2147217873:"
       "database or disk is full "},
  };
  ASSERT_EQ(WaitChild(StartScheduledRun(), velmo::test::HangBound(300)), 0) << velmo::test::TestHome::Slurp(SchedLog());
  std::vector<std::string> skipped;
  for (const Case& c : cases) {
    if (std::find(only.begin(), only.end(), c.fault) == only.end()) continue;
    SCOPED_TRACE(c.what);
    if (c.fault == Unusable) {
      std::string changed = classes;
      const auto at = changed.find("VELMO.Exch55Info\t") + 17;
      changed.replace(at, changed.find('\t', at) - at, text.string());
      std::ofstream(registry) << changed;
    }
    if (c.fault == Undeletable)
      gConn->Execute("create trigger KeepEX1 before delete on MailboxGeneral begin select raise(abort, 'kept'); end");
    if (c.fault == PageRefused)
      gConn->Execute("create trigger FullEX1 before insert on MailboxGeneral begin "
                     "select raise(rollback, 'database or disk is full'); end");
    if (c.fault == Killed) proxy_->Arm(200, velmo::test::LdapProxy::Loss::Kill);
    if (c.fault == Stopped) proxy_->Arm(200, velmo::test::LdapProxy::Loss::Stop);
    if (c.fault == Refused) proxy_->Alter(refuse);
    // EX1's rows of cn=Bulk show again only once the run has cleared and
    // collected them.
    if (c.fault == Locked || c.fault == DiskFull) velmo::exporting::ClearServerRows(*gConn, "EX1");
    std::unique_ptr<velmo::test::SmallFileSystem> disk;
    std::vector<std::string> env;
    // The database faults hold EX2's line at its first directory request
    // until they end, through a proxy of its own.
    std::unique_ptr<velmo::test::LdapProxy> ex2Proxy;
    if (c.fault == Locked || c.fault == DiskFull) {
      ex2Proxy = std::make_unique<velmo::test::LdapProxy>(slapd_->port());
      ex2Proxy->HoldRange(0, std::numeric_limits<long>::max());
      std::ofstream(home / "held-ldaphosts.conf")
          << "EX1 ldap://127.0.0.1:" << proxy_->port() << "\nEX2 ldap://127.0.0.1:" << ex2Proxy->port() << "\n";
      env.push_back("VELMORCAST_LDAP_HOSTS=" + (home / "held-ldaphosts.conf").string());
    }
    if (c.fault == DiskFull || c.fault == MdbFull) {
      const fs::path copy = home / "copy.mdb";
      if (c.fault == DiskFull) gConn->Execute("vacuum into '" + copy.string() + "'");
      const std::string size = std::to_string(c.fault == DiskFull ? fs::file_size(copy) * 3 / 1000 + 64000 : 64000);
      disk = std::make_unique<velmo::test::SmallFileSystem>(c.fault == DiskFull ? small : mdbOut, (size + "k").c_str());
      // Only this row needs the mount: the others still run.
      if (!disk->Mounted()) {
        std::cout << "row skipped: " << c.what << ": no small file system can be mounted here: " << disk->Why()
                  << "\n";
        skipped.push_back(c.what);
        continue;
      }
    }
    // The disk-full run's application folder is a small file system of its
    // own, holding a copy of the inventory; its settings and log are the
    // others'.
    if (c.fault == DiskFull) {
      for (const auto& e : fs::directory_iterator(home.dir()))
        if (e.is_regular_file() && e.path().filename().string().rfind("velmo.mdb", 0) != 0)
          fs::copy_file(e.path(), small / e.path().filename());
      fs::rename(small / "copy.mdb", small / "velmo.mdb");
      fs::remove(home / "copy.mdb");
      fs::create_directory_symlink(home / "Schedule", small / "Schedule");
      env.push_back("VELMORCAST_HOME=" + small.string());
    }
    if (c.fault == MdbFull) {
      // EX1's line writes a database into the small disk: a whole one
      // first, then the disk is filled to half its size.
      WriteSettings(home.dir(), {"EX1@@@Default@@@@@@Export@@@@@@MDB@@@" + mdbOut.string() + "@@@12_09_2026_02_00_00",
                                 "EX2"},
                    out);
      ASSERT_EQ(WaitChild(StartScheduledRun(), velmo::test::HangBound(300)), 0);
      disk->Fill(fs::file_size(mdbOut / "EX1_12_09_2026_02_00_00.mdb") / 2);
    }
    const fs::path ex1Folder = c.fault == MdbFull ? mdbOut : out;
    ui->clear();
    fs::remove(SchedLog());
    const auto before = files("EX1", ex1Folder), before2 = files("EX2", out);
    std::string said;
    if (c.exportPlus) {
      OpenExportPlus(home / "export-plus")->cmdExport->click();
      EXPECT_EQ(Prompts().size(), 1u);
    } else {
      ::sleep(1);  // a file written again differs by its time stamp
      // The database faults come once cn=Bulk's General rows are in (the
      // run held meanwhile at the directory) and last until the run says
      // EX1's outputs are kept or goes past EX1.
      const std::string ex2 = "     GetAllInfo : Getting information for server -'EX2' start.";
      const fs::path inventory = c.fault == DiskFull ? small / "velmo.mdb" : home / "velmo.mdb";
      sqlite3* holder = nullptr;
      bool faulted = c.fault != Locked && c.fault != DiskFull, released = false;
      auto faultAt = Clock::now(), nextAt = Clock::time_point{};
      // The directory lost before the collector's first bind: the clearing
      // waits for this write lock until the run says it begins EX1 (after
      // its own look-up); then the directory goes, and the lock.
      const bool beforeBind = c.fault == StoppedBeforeBind || c.fault == KilledBeforeBind;
      if (beforeBind) {
        sqlite3_open(inventory.c_str(), &holder);
        EXPECT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
      }
      const long first = proxy_->Accepted();
      const pid_t pid = StartScheduledRun(env);
      int status = -1, ended = 0;
      while ((ended = ::waitpid(pid, &status, WNOHANG)) == 0 && Since(faultAt) < velmo::test::HangBound(300)) {
        ::usleep(20000);
        if (!faulted) {
          sqlite3* h = nullptr;
          sqlite3_open_v2(inventory.c_str(), &h, SQLITE_OPEN_READONLY, nullptr);
          const auto rows = velmo::test::SqliteRows(
              h, "select count(*) from MailboxGeneral where ServerName='EX1' and [Object Path]='" + kBulk + "'");
          sqlite3_close(h);
          if (rows.empty() || rows[0] == "0") continue;
          proxy_->HoldRange(first, std::numeric_limits<long>::max());
          if (c.fault == Locked) {
            sqlite3_open(inventory.c_str(), &holder);
            sqlite3_busy_timeout(holder, 60000);
            EXPECT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
          } else {
            disk->Fill();
          }
          proxy_->Resume();
          faulted = true;
          faultAt = Clock::now();
        }
        if ((c.fault == Killed || c.fault == Stopped) && nextAt == Clock::time_point{} && !proxy_->Lost())
          faultAt = Clock::now();
        const std::string log = velmo::test::TestHome::Slurp(SchedLog());
        if (beforeBind && holder && log.find("     GetAllInfo : Getting information for server -'EX1' start.") !=
                                        std::string::npos) {
          proxy_->Lose(c.fault == KilledBeforeBind ? velmo::test::LdapProxy::Loss::Kill
                                                   : velmo::test::LdapProxy::Loss::Stop);
          faultAt = Clock::now();
          sqlite3_close_v2(holder);  // its transaction rolled back
          holder = nullptr;
        }
        if (!released && (log.find(kept) != std::string::npos || log.find(ex2) != std::string::npos ||
                          log.find("-'EX1' end.") != std::string::npos)) {
          sqlite3_close_v2(holder);  // its transaction rolled back
          holder = nullptr;
          if (c.fault == DiskFull) fs::remove(small / "filler");
          if (ex2Proxy) ex2Proxy->Resume();
          released = true;
        }
        if (nextAt == Clock::time_point{} && log.find(ex2) != std::string::npos) nextAt = Clock::now();
      }
      if (ended == 0) ::kill(pid, SIGKILL), ::waitpid(pid, &status, 0);
      EXPECT_EQ(ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1, c.status);
      if (holder) sqlite3_close(holder);
      EXPECT_EQ(files("EX1", ex1Folder) == before, c.fault != Refused);
      said = velmo::test::TestHome::Slurp(SchedLog());
      if (c.fault >= Locked || c.fault == Killed) {
        // The next line goes on soon after the fault (a stopped directory
        // costs the one request bound, 120 s) and EX2 is written again.
        EXPECT_NE(files("EX2", out), before2);
        EXPECT_NE(nextAt, Clock::time_point{});
        EXPECT_LT(std::chrono::duration<double>(nextAt - faultAt).count(), velmo::test::HangBound(120 + 15));
        std::cout << c.what << ": EX2 began " << std::chrono::duration<double>(nextAt - faultAt).count()
                  << " s after the fault, " << LinesWith(SchedLog(), c.why.empty() ? c.said : c.why)
                  << " lines tell the failure\n";
      }
      if (!c.why.empty()) {
        EXPECT_EQ(LinesWith(SchedLog(), "' kept : "), 1);
        EXPECT_EQ(LinesWith(SchedLog(), c.why) - LinesWith(SchedLog(), "' kept : "), 1);
      }
    }
    for (const auto& p : Prompts()) said += p + "\n";
    EXPECT_NE(said.find(c.said), std::string::npos) << said.substr(0, 20000);
    EXPECT_EQ(said.find("Exported successfully."), std::string::npos);
    proxy_->Heal();
    proxy_->Alter(nullptr);
    std::ofstream(registry) << classes;
    if (c.fault == Undeletable) gConn->Execute("drop trigger KeepEX1");
    if (c.fault == PageRefused) gConn->Execute("drop trigger FullEX1");
    if (c.fault == MdbFull) WriteSettings(home.dir(), {"EX1", "EX2"}, out);
  }
  std::string rows;
  for (const std::string& what : skipped) rows += (rows.empty() ? "" : "; ") + what;
  if (!rows.empty()) RecordProperty("skipped rows", rows);
}

namespace {

// A database output whose section queries fail keeps the last whole file,
// as one whose tables the file refuses does; the CSV line of the same run
// keeps the file of each failed section. Lines of report R (MailboxesGeneral
// and MailboxesPermissions) as MDB and as CSV, a whole run first. A CSV
// refused by a nearly full disk says why.
//
// The temporary folder's row collects a larger server of its own: it runs
// as a test of its own, beside the other rows.
class DatabaseOutputTest : public CollectLockRace {
 protected:
  enum Fault { TemporaryFull, NoSuchColumn, Damaged, CsvDiskFull };
  void RunRows(const std::vector<Fault>& only);
};

}  // namespace

TEST_F(DatabaseOutputTest, ADatabaseOutputWhoseQueriesFailKeepsTheLastWholeFile_TemporaryFolderFull) {
  RunRows({TemporaryFull});
}

TEST_F(DatabaseOutputTest, ADatabaseOutputWhoseQueriesFailKeepsTheLastWholeFile_QueryOrFileFails) {
  RunRows({NoSuchColumn, Damaged, CsvDiskFull});
}

void DatabaseOutputTest::RunRows(const std::vector<Fault>& only) {
  const fs::path out = home / "out", tmp = home / "tmp", damaged = home / "damaged", full = home / "full";
  const std::string mdbLine = "EX1@@@R@@@@@@Export@@@@@@MDB@@@" + out.string() + "@@@s";
  const std::string csvLine = "EX1@@@R@@@@@@Export@@@@@@CSV@@@" + out.string() + "@@@s";
  const fs::path mdb = out / "EX1_s.mdb";
  const auto setReport = [&](const std::string& general, const std::string& permissions) {
    gConn->Execute("delete from VELMORCCustomReports where CustomReportName='R'");
    gConn->Execute("insert into VELMORCCustomReports values('MailboxesGeneral','R',?)", {db::Value(general)});
    gConn->Execute("insert into VELMORCCustomReports values('MailboxesPermissions','R',?)", {db::Value(permissions)});
  };
  setReport("Alias Name,City,Department", "Windows NT Accounts With Permissions,Roles");
  WriteSettings(home.dir(), {mdbLine, csvLine}, out);
  ASSERT_EQ(WaitChild(StartScheduledRun(), velmo::test::HangBound(300)), 0) << velmo::test::TestHome::Slurp(SchedLog());
  const auto whole = TablesIn(out);
  std::cout << "whole run: " << mdb.filename().string() << " " << fs::file_size(mdb) << " bytes, " << Counted(whole)
            << "\n";
  const auto contents = [&](const fs::path& folder) {
    std::map<std::string, std::string> n;
    // A file kept is byte-equal and was not written again.
    for (const auto& e : fs::directory_iterator(folder))
      n[e.path().filename().string()] = std::to_string(fs::last_write_time(e.path()).time_since_epoch().count()) +
                                        "\n" + velmo::test::TestHome::Slurp(e.path());
    return n;
  };
  struct Case {
    const char* what;
    Fault fault;
    std::string said;  // an entry of the failure
  };
  const std::string notReplaced = "     ExportToMDBFormat : Database Not Replaced : " + mdb.string() + " : ";
  const Case cases[] = {
      {"temporary folder full", TemporaryFull,
       "Not enough space on disk. The temporary folder '" + tmp.string() + "' is full."},
      {"a report column the table lacks", NoSuchColumn, "-2147217904:No value given for one or more required parameters."},
      {"velmo.mdb damaged as the output phase begins", Damaged, "     ProcessReportOutput : "},
      {"CSV output on a nearly full disk", CsvDiskFull, " : File Not Written : " + full.string()},
  };
  for (const Case& c : cases) {
    if (std::find(only.begin(), only.end(), c.fault) == only.end()) continue;
    SCOPED_TRACE(c.what);
    std::unique_ptr<velmo::test::SmallFileSystem> disk;
    if (c.fault == TemporaryFull || c.fault == CsvDiskFull) {
      disk = std::make_unique<velmo::test::SmallFileSystem>(c.fault == TemporaryFull ? tmp : full,
                                                            c.fault == TemporaryFull ? "1m" : "512k");
      if (!disk->Mounted()) {
        std::cout << "row skipped: " << c.what << ": no small file system can be mounted here: " << disk->Why() << "\n";
        continue;
      }
      disk->Fill(c.fault == CsvDiskFull ? 96 * 1024 : 0);
    }
    std::vector<std::string> env;
    // The permissions sections spill their "distinct" to the temporary
    // folder from about 40,000 rows on: this row's server is a larger one,
    // written whole first.
    std::unique_ptr<velmo::test::PrivateSlapd> larger;
    std::unique_ptr<velmo::test::UseSampleDirectory> largerHosts;
    if (c.fault == TemporaryFull) {
      larger = std::make_unique<velmo::test::PrivateSlapd>("--large 10000");
      std::ofstream(home / "larger-ldaphosts.conf") << "EX1 " << larger->url() << "\n";
      largerHosts = std::make_unique<velmo::test::UseSampleDirectory>(home / "larger-ldaphosts.conf");
      WriteSettings(home.dir(), {mdbLine, csvLine}, out);
      ASSERT_EQ(WaitChild(StartScheduledRun(), velmo::test::HangBound(300)), 0);
      std::cout << c.what << ": whole run " << fs::file_size(mdb) << " bytes, " << Counted(TablesIn(out)) << "\n";
      env = {"TMPDIR=" + tmp.string(), "SQLITE_TMPDIR=" + tmp.string()};
    }
    if (c.fault == NoSuchColumn) setReport("Alias Name,No Such Column", "Roles,No Such Column");
    WriteSettings(home.dir(), {c.fault == CsvDiskFull ? "EX1@@@R@@@@@@Export@@@@@@CSV@@@" + full.string() + "@@@s" : mdbLine,
                               csvLine},
                  out);
    // The damaged run has an application folder of its own, holding a copy
    // of the inventory; its settings and log are the others'.
    velmo::FileLock writer;
    if (c.fault == Damaged) {
      fs::create_directories(damaged);
      for (const auto& e : fs::directory_iterator(home.dir()))
        if (e.is_regular_file() && e.path().filename().string().rfind("velmo.mdb", 0) != 0)
          fs::copy_file(e.path(), damaged / e.path().filename(), fs::copy_options::overwrite_existing);
      fs::remove(damaged / "velmo.mdb");
      gConn->Execute("vacuum into '" + (damaged / "velmo.mdb").string() + "'");
      if (!fs::exists(damaged / "Schedule")) fs::create_directory_symlink(home / "Schedule", damaged / "Schedule");
      env.push_back("VELMORCAST_HOME=" + damaged.string());
      // The output phase is held at the database's writer lock until the
      // inventory is damaged.
      ASSERT_TRUE(writer.TryLock(out / "EX1_s.mdb.writer.lock", velmo::FileLock::Mode::Exclusive));
    }
    fs::remove(SchedLog());
    const auto before = contents(out);
    ::sleep(1);  // a file written again differs by its time stamp
    const pid_t pid = StartScheduledRun(env);
    int status = -1, ended = 0;
    const auto start = Clock::now();
    while ((ended = ::waitpid(pid, &status, WNOHANG)) == 0 && Since(start) < velmo::test::HangBound(300)) {
      ::usleep(20000);
      if (c.fault == Damaged && writer.Held() &&
          velmo::test::TestHome::Slurp(SchedLog()).find("     GetAllInfo : Getting information for server -'EX1' end.") !=
              std::string::npos) {
        EXPECT_EQ(::truncate((damaged / "velmo.mdb").c_str(), 8192), 0);
        writer.Unlock();
      }
    }
    if (ended == 0) ::kill(pid, SIGKILL), ::waitpid(pid, &status, 0);
    const std::string log = velmo::test::TestHome::Slurp(SchedLog());
    EXPECT_EQ(ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1) << log.substr(0, 20000);
    EXPECT_NE(log.find(c.said), std::string::npos) << log.substr(0, 20000);
    const auto after = contents(out);
    // The file of every section that failed is the last run's.
    long failed = 0;
    std::ifstream in(SchedLog(), std::ios::binary);
    for (std::string line; std::getline(in, line);) {
      const auto at = line.find("     ProcessReportOutput : ");
      if (at == std::string::npos) continue;
      const std::string label = line.substr(at + 27, line.find(" : ", at + 27) - at - 27);
      std::string name = "EX1_" + label + "_s.csv";
      for (char& ch : name)
        if (ch == '/') ch = '_';
      if (++failed <= 2) std::cout << c.what << ": " << line.substr(at) << "\n";
      if (c.fault != CsvDiskFull) EXPECT_TRUE(before.count(name) && after.count(name) && after.at(name) == before.at(name)) << name;
    }
    EXPECT_GT(failed, 0);
    if (c.fault == CsvDiskFull) {
      EXPECT_NE(log.find(" : No space left on device"), std::string::npos) << log.substr(0, 20000);
      EXPECT_EQ(log.find("The file could not be written."), std::string::npos) << log.substr(0, 20000);
    } else {
      EXPECT_TRUE(after.count(mdb.filename().string()) && after.at(mdb.filename().string()) == before.at(mdb.filename().string()))
          << "the last whole database was replaced or removed: " << Counted(TablesIn(out));
      EXPECT_NE(log.find(notReplaced), std::string::npos) << log.substr(0, 20000);
      EXPECT_EQ(LinesWith(SchedLog(), ": the last complete database is kept"), 1);
    }
    std::cout << c.what << ": exit " << (WIFEXITED(status) ? WEXITSTATUS(status) : -1) << ", " << failed
              << " sections failed, " << mdb.filename().string() << " "
              << (after.count(mdb.filename().string()) ? (after.at(mdb.filename().string()) == before.at(mdb.filename().string()) ? "kept" : "changed") : "removed")
              << ", " << Counted(TablesIn(out)) << "\n";
    if (c.fault == NoSuchColumn) setReport("Alias Name,City,Department", "Windows NT Accounts With Permissions,Roles");
    if (c.fault == Damaged) fs::remove_all(damaged);
  }
}

// A scheduled Print line stopped while a large section (the permissions of
// cn=Bulk) is being printed: that section is dropped (no PDF of it, no
// hidden ".part" left), the sections printed before it stay, and the run
// ends within the bound with its one stop entry.
TEST_F(CollectLockRace, AStopDuringAPrintSectionDropsThatSection) {
  const fs::path printed = home / "Print";
  fs::create_directories(home / "Schedule");
  std::ofstream(home / "Schedule" / "SchedConfig.cfg", std::ios::binary)
      << "Scheduled Servers\r\nVelmorcastTask.job@@@CORP\\Administrator@@@1@@@02:00@@@1@@@@@@0@@@0@@@"
         "12/09/2026@@@@@@0@@@0@@@0@@@\r\n"
      << "EX1@@@Default@@@@@@Print@@@Velmorcast PDF@@@CSV@@@" << (home / "out").string()
      << "@@@12_09_2026_02_00_00\r\n";
  const auto names = [&] {
    std::set<std::string> n;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(printed, ec)) n.insert(e.path().filename().string());
    return n;
  };
  const auto bulkPart = [&] {
    for (const auto& n : names())
      if (n[0] == '.' && n.find(" Bulk MailboxesPermissions ") != std::string::npos) return true;
    return false;
  };
  const pid_t pid = StartScheduledRun();
  const auto t0 = Clock::now();
  while (!bulkPart() && Since(t0) < velmo::test::HangBound(120.0)) ::usleep(1000);
  ASSERT_TRUE(bulkPart());
  ::kill(pid, SIGTERM);
  const auto sent = Clock::now();
  const std::set<std::string> before = names();
  const int status = WaitChild(pid, 60);
  const double took = Since(sent);
  EXPECT_EQ(status, 143);
  EXPECT_LT(took, velmo::test::HangBound(5.0));
  std::set<std::string> finished;
  for (const auto& n : before)
    if (n[0] != '.') finished.insert(n);
  EXPECT_TRUE(names() == finished) << "the section under way was put in place, or its \".part\" left";
  EXPECT_EQ(LinesWith(SchedLog(), "stopped : signal SIGTERM"), 1);
  std::cout << "stopped printing: status " << status << ", " << took << " s after the signal, " << finished.size()
            << " PDF files kept\n";
}

// An exception that ends a browse window's collection (here from the box
// saying why the collector cannot be made) leaves the window free: its next
// collection runs, and a stop is not held off by a window left busy.
TEST_F(CollectLockTest, AnExceptionEndingACollectionLeavesTheWindowFree) {
  struct ThrowingUi : velmo::ui::ScriptedUi {
    int MsgBox(const std::string&, int, const std::string&) override { throw std::runtime_error("no box"); }
  };
  const fs::path registry = home / "VelmorcastClasses.reg", text = home / "libVELMO.so";
  const std::string classes = velmo::test::TestHome::Slurp(registry);
  std::string changed = classes;
  const auto at = changed.find("VELMO.Exch55Info\t") + 17;
  changed.replace(at, changed.find('\t', at) - at, text.string());
  std::ofstream(text) << "not a library\n";
  std::ofstream(registry) << changed;
  velmo::exporting::ClearServerRows(*gConn, "EX1");
  frmExch* w = OpenBrowse();
  w->tvwServers->setCurrentItem(FindTreeNode(*w->tvwServers, kLakeRecipients));
  const auto previous = velmo::ui::SetUi(std::make_shared<ThrowingUi>());
  EXPECT_THROW(w->GetAllInfo(0), std::runtime_error);
  velmo::ui::SetUi(previous);
  EXPECT_FALSE(w->Busy());
  std::ofstream(registry) << classes;
  w->GetAllInfo(0);
  EXPECT_GT(Scalar("select count(*) from ContainerInfo where ServerName='EX1'"), 0);
  w->Window()->close();
}

// The browse window's and Refresh's wait for another program's collection
// of the server gives up on a stop signal: the main window closes within
// the bound, nothing collected. Each case runs in a program of its own,
// which the signal leaves stopping.
TEST_F(CollectLockTest, TheWaitForAnotherCollectionEndsOnAStopSignal) {
  const char* which = std::getenv("VELMO_STOP_WAIT");
  if (!which) {
    for (const char* c : {"browse", "refresh"}) {
      SCOPED_TRACE(c);
      const pid_t child = Spawn({"/proc/self/exe", "--gtest_filter=CollectLockTest.TheWaitForAnotherCollection*"},
                                {std::string("VELMO_STOP_WAIT=") + c, home.ChildTmpdir()});
      EXPECT_EQ(WaitChild(child, 120), 0);
    }
    return;
  }
  WatchStopSignals();
  velmo::exporting::ClearServerRows(*gConn, "EX1");
  auto other = std::make_unique<OtherProgram>(gstrDBPath, "EX1");
  ASSERT_EQ(other->outcome(), Outcome::Taken);
  frmExch* w = OpenBrowse();
  w->tvwServers->setCurrentItem(FindTreeNode(*w->tvwServers, kLakeRecipients));
  double raisedAt = -1;
  const auto t0 = Clock::now();
  WithTicks(
      [&] {
        if (raisedAt < 0 && StatusText().startsWith("Another program is collecting 'EX1'")) {
          raisedAt = Since(t0);
          ::raise(SIGTERM);
        } else if (Since(t0) > velmo::test::HangBound(30.0)) {
          other.reset();  // the wait would have gone on
        }
      },
      [&] { std::string(which) == "browse" ? w->GetAllInfo(0) : RefreshServer("EX1"); });
  ASSERT_GE(raisedAt, 0);
  EXPECT_TRUE(other) << "the wait went on until the other program ended";
  EXPECT_LT(Since(t0) - raisedAt, velmo::test::HangBound(2.0));
  while (main->isVisible() && Since(t0) < raisedAt + velmo::test::HangBound(5.0))
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_FALSE(main->isVisible());
  db::Connection conn;  // the main window's went with it
  conn.Open(gstrDBPath);
  db::Recordset rs;
  rs.Open("select count(*) from ContainerInfo where ServerName='EX1'", conn, db::adOpenKeyset, db::adLockReadOnly);
  EXPECT_EQ(rs[0L].Text(), "0");
}

// The other program of the kill test below: the collector alone, collecting
// the Server Recipients of EX1 (skipped when run as a test itself).
TEST(CollectorProgram, CollectsTheServerRecipientsOfEX1) {
  const char* path = std::getenv("VELMO_COLLECT_RECIPIENTS");
  if (!path) GTEST_SKIP() << "started by the other tests as another program";
  std::string msg;
  velmo::com::CreateObject<_Exch55Info>("VELMO.Exch55Info")->GetMailboxInfo(0, "EX1", "", "", path, &msg);
}

namespace {

const std::string kServerRecipients = "o=Velmor/ou=Lakeside/cn=Configuration/cn=Servers/cn=EX1/cn=Server Recipients";
const std::string kRowsOfEX1 = "select count(*) from MailboxGeneral where ServerName='EX1'";

// The Server Recipients page of EX1, with the program's own lock-wait hook.
class ServerRecipientsTest : public CollectLockRace {
 protected:
  void SetUp() override {
    CollectLockRace::SetUp();
    if (IsSkipped()) return;
    velmo::db::SetLockWaitHook(DatabaseLockWaitHook);
    // The whole page, collected alone.
    velmo::exporting::ClearServerRows(*gConn, "EX1");
    std::string msg;
    velmo::com::CreateObject<_Exch55Info>("VELMO.Exch55Info")->GetMailboxInfo(0, "EX1", "", "", kServerRecipients, &msg);
    whole = Scalar(kRowsOfEX1);
    wholeShown = ClickServerRecipients();
    velmo::exporting::ClearServerRows(*gConn, "EX1");
    ui->clear();
  }
  void TearDown() override {
    velmo::db::SetLockWaitHook(nullptr);
    CollectLockRace::TearDown();
  }
  long InDatabase(const std::string& sql) {
    sqlite3* h = nullptr;
    sqlite3_open_v2((home / "velmo.mdb").c_str(), &h, SQLITE_OPEN_READONLY, nullptr);
    const auto rows = velmo::test::SqliteRows(h, sql);
    sqlite3_close(h);
    return rows.empty() ? -1 : std::stol(rows[0]);
  }
  // Clicks Server Recipients in a new browse window; the rows its grid shows.
  long ClickServerRecipients(const std::function<void()>& tick = [] {}) {
    frmExch* w = OpenBrowse();
    QTreeWidgetItem* node = FindTreeNode(*w->tvwServers, kServerRecipients);
    EXPECT_NE(node, nullptr);
    if (!node) return -1;
    w->tvwServers->setCurrentItem(node);
    WithTicks(tick, [&] { w->tvwServers_NodeClick(node); });
    const long shown = w->Grd1()->Rows() - 1;
    w->Window()->close();
    velmo::test::PumpEvents();
    return shown;
  }
  // The custom report window of EX1, as the connect fills it, its Server
  // Recipients node clicked: the rows its grid lists; the window stays
  // open for as long as the report runs, Escape or not.
  long ReportServerRecipients(const std::function<void()>& tick = [] {}) {
    auto* w = new frmCustomReport(main);
    w->strCRServerName = "EX1";
    w->strCROrganizationName = "Velmor";
    w->strCRSiteName = "Lakeside";
    w->Form_Load();
    EXPECT_TRUE(velmo::test::FocusControl(w->tvwServers));
    QTreeWidgetItem* node = FindTreeNode(*w->tvwServers, kServerRecipients);
    EXPECT_NE(node, nullptr);
    if (!node) return -1;
    WithTicks(tick, [&] { w->tvwServers->setCurrentItem(node); });
    EXPECT_TRUE(w->isVisible());
    const long listed = w->grd1()->Rows() - 1;
    w->Form_Unload();
    delete w;
    velmo::test::PumpEvents();
    return listed;
  }
  // The main window's status text whenever a box opens, and its picture at
  // the first box.
  struct StatusAtBoxUi : velmo::ui::ScriptedUi {
    Mdifrm* main = nullptr;
    std::vector<std::string> status;
    int MsgBox(const std::string& prompt, int buttons, const std::string& title) override {
      status.push_back(main->Panel(1)->text().toStdString());
      if (status.size() == 1) velmo::test::SaveShot(main, "main_window_at_the_box_of_a_refused_take_back");
      return ScriptedUi::MsgBox(prompt, buttons, title);
    }
  };
  void Restart() {
    main->close();
    delete main;
    velmo::test::PumpEvents();
    gConn.reset();
    main = new Mdifrm();
    main->iConnectCount = 1;
    main->show();
    velmo::test::PumpEvents();
  }
  long whole = 0;       // rows of the whole page
  long wholeShown = 0;  // mailboxes its grid shows
};

}  // namespace

// A program killed between two pages of a Server Recipients collection
// (the collector alone, cn=Bulk's page held off by another program's write
// lock) leaves the pages committed before; no browse window takes them for
// the server's page: they are gone at the next start of the main program
// or before the next click, which collects the whole page.
TEST_F(ServerRecipientsTest, AProgramKilledBetweenTwoOfItsPagesLeavesNothingShown) {
  ASSERT_GT(whole, kBulkMailboxes);
  ASSERT_GT(wholeShown, 0);
  for (const bool restart : {false, true}) {
    SCOPED_TRACE(restart ? "the next start" : "the next click");
    velmo::exporting::ClearServerRows(*gConn, "EX1");
    const long first = proxy_->Accepted();
    const pid_t pid = Spawn({"/proc/self/exe", "--gtest_filter=CollectorProgram.*"},
                            {"VELMO_COLLECT_RECIPIENTS=" + kServerRecipients}, -1, true);
    sqlite3* holder = nullptr;
    const auto t0 = Clock::now();
    while (!holder && Since(t0) < velmo::test::HangBound(60) && ::waitpid(pid, nullptr, WNOHANG) == 0) {
      if (InDatabase(kRowsOfEX1) <= 0) {
        ::usleep(2000);
        continue;
      }
      proxy_->HoldRange(first, std::numeric_limits<long>::max());
      sqlite3_open((home / "velmo.mdb").c_str(), &holder);
      sqlite3_busy_timeout(holder, 60000);  // a commit under way ends first
      EXPECT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
      ::kill(pid, SIGKILL);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    sqlite3_close_v2(holder);
    proxy_->Resume();
    ASSERT_NE(holder, nullptr) << "no page was committed before the program ended";
    const long left = Scalar(kRowsOfEX1);
    ASSERT_GT(left, 0);
    ASSERT_LT(left, whole);
    if (restart) {
      Restart();
      EXPECT_EQ(Scalar(kRowsOfEX1), 0);
    }
    const long shown = ClickServerRecipients();
    EXPECT_EQ(shown, wholeShown);
    EXPECT_EQ(Scalar(kRowsOfEX1), whole);
    EXPECT_EQ(Prompts(), std::vector<std::string>{});
    std::cout << (restart ? "next start" : "next click") << ": " << left << " of " << whole
              << " rows left by the kill; the click then shows " << shown << " of " << wholeShown
              << " mailboxes, the database holds "
              << Scalar(kRowsOfEX1) << " rows\n";
    ui->clear();
  }
}

// Another program takes the write lock once the first container's rows of
// a Server Recipients collection are in, and holds it past the wait of the
// next page's commit and that of the take-back: one box says that the
// collection did not finish, and the grid shows nothing. Once the lock is
// gone the next click removes what the take-back left and collects the
// whole page.
TEST_F(ServerRecipientsTest, RowsATakeBackCouldNotRemoveAreNeverShownAsACollectedPage) {
  ASSERT_GT(whole, kBulkMailboxes);
  auto boxes = std::make_shared<StatusAtBoxUi>();
  boxes->main = main;
  ui = boxes;
  velmo::ui::SetUi(ui);
  sqlite3* holder = nullptr;
  const auto t0 = Clock::now();
  const long shownWhileLocked = ClickServerRecipients([&] {
    // Not inside a commit of the collection: it would wait for this one.
    if (holder || velmo::ads::PacingWork() || InDatabase(kRowsOfEX1) <= 0) return;
    sqlite3_open((home / "velmo.mdb").c_str(), &holder);
    EXPECT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  });
  const double lockedFor = Since(t0);
  const long left = Scalar(kRowsOfEX1);
  // Nothing waits once the box is up: the status bar says no more that the
  // database is locked.
  ASSERT_EQ(boxes->status.size(), 1u);
  EXPECT_NE(boxes->status[0], kLockWaitText);
  EXPECT_EQ(boxes->status[0].rfind("Retrieving ", 0), 0u) << boxes->status[0];

  // The custom report window, the lock still held: its wait for the lock
  // ends at Escape, and it lists none of the rows, saying why.
  bool escaped = false;
  const long listedWhileLocked = ReportServerRecipients([&] {
    if (escaped || StatusText() != kLockWaitText) return;
    escaped = true;
    velmo::test::PressKey(Qt::Key_Escape);
  });
  EXPECT_TRUE(escaped) << "the custom report did not wait for the lock";
  EXPECT_EQ(listedWhileLocked, 0);
  EXPECT_EQ(StatusText().toStdString(),
            "The rows of an unfinished collection of 'EX1' could not be removed, so nothing of it is shown: The "
            "operation was canceled by the user.");
  velmo::test::SaveShot(main, "main_window_after_a_report_kept_the_rows_of_an_unfinished_collection_back");
  EXPECT_NE(ErrorLog().find("ShowRecipientDetailReport RemoveUnfinishedRows Failed"), std::string::npos);
  EXPECT_EQ(Scalar(kRowsOfEX1), left);
  sqlite3_close_v2(holder);
  ASSERT_NE(holder, nullptr) << "no page was committed";
  // The lock gone, the report removes them before it reads the server.
  const long listedAfter = ReportServerRecipients();
  EXPECT_EQ(listedAfter, 0);
  EXPECT_EQ(StatusText().toStdString(), "");
  EXPECT_EQ(Scalar(kRowsOfEX1), 0);
  EXPECT_EQ(InDatabase("select count(*) from VELMORCUnfinishedRows"), 0);
  EXPECT_NE(ErrorLog().find("Removing the rows of an unfinished collection from 'MailboxGeneral'"), std::string::npos);
  EXPECT_GT(left, 0);
  EXPECT_EQ(shownWhileLocked, 0);
  ASSERT_EQ(Prompts().size(), 1u);
  EXPECT_NE(Prompts()[0].find("Could not update; currently locked."), std::string::npos) << Prompts()[0];
  EXPECT_NE(Prompts()[0].find("The collection did not finish"), std::string::npos) << Prompts()[0];
  ui->clear();

  const long shown = ClickServerRecipients();
  EXPECT_EQ(shown, wholeShown);
  EXPECT_EQ(Scalar(kRowsOfEX1), whole);
  EXPECT_EQ(InDatabase("select count(*) from VELMORCUnfinishedRows"), 0);
  EXPECT_EQ(Prompts(), std::vector<std::string>{});
  std::cout << "locked " << lockedFor << " s: " << left << " of " << whole << " rows left, " << shownWhileLocked
            << " shown; the custom report lists " << listedWhileLocked << " while locked, " << listedAfter
            << " after; the next click shows " << shown << " of " << wholeShown << " mailboxes, the database holds " << Scalar(kRowsOfEX1)
            << " rows\n";
}

// Every other reader of the inventory in the main program meets rows of an
// unfinished collection of EX1: the Lakeside recipients' mailboxes, whose
// page commit was recorded under a record never finished, as a take-back
// refused or a program ended between two pages leaves them. With the lock
// free it removes them before it reads the server, and shows none; while
// another program holds the write lock it waits until Escape, shows none
// and says why. (The outputs of Export Plus and Print Plus are read as
// after the run's own collection: its clearing removes any earlier rows.)
TEST_F(ServerRecipientsTest, EveryReaderRemovesTheRowsOfAnUnfinishedCollectionOrShowsNone) {
  const std::string mailboxes =
      "select count(*) from MailboxGeneral where ServerName='EX1' and [Object Path]='" + kLakeRecipients + "'";
  const fs::path out = home / "out";
  frmExch* browse = nullptr;
  std::unique_ptr<frmExportPlus> exportPlus;
  const auto leaveUnfinished = [&] {
    velmo::exporting::ClearServerRows(*gConn, "EX1");
    if (!browse) {
      browse = OpenBrowse();
      QTreeWidgetItem* node = FindTreeNode(*browse->tvwServers, kLakeRecipients);
      ASSERT_NE(node, nullptr);
      browse->tvwServers->setCurrentItem(node);
      browse->tvwServers_NodeClick(node);
    }
    velmo::db::UnfinishedRows record(gstrDBPath, "EX1");
    browse->ClickTypeTab(1);
    browse->ClickPropTab(1);
    ASSERT_EQ(browse->PropTabKey(), "MailboxesGeneral");
    ASSERT_TRUE(record.InFile());
    ASSERT_GT(Scalar(mailboxes), 0);
  };
  const std::string stamp = "12_11_2026_10_00_00";
  // The lines after the first of the run's files of that page (each run
  // of the same window numbers its names on), which are removed.
  const auto outputRows = [&] {
    long lines = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(out, ec)) {
      if (e.path().filename().string().rfind("EX1_Recipients MailboxesGeneral", 0) == 0) {
        std::ifstream in(e.path());
        long n = -1;
        for (std::string line; std::getline(in, line);) ++n;
        lines += std::max(n, 0L);
      }
      fs::remove(e.path());
    }
    return lines;
  };
  // The prints of that page tried since `from` failures (the printer is
  // not there, so each one tried is a failure).
  const auto printed = [&](size_t from) {
    long n = 0;
    const auto& failures = exportPlus->OutputFailures();
    for (size_t i = from; i < failures.size(); ++i)
      n += failures[i].section.rfind("Recipients MailboxesGeneral", 0) == 0 &&
           failures[i].reason.find("is not installed") != std::string::npos;
    return n;
  };
  struct Reader {
    const char* what;
    std::function<long()> shows;  // what it shows or gives of those rows
    // Whether it is tried under the lock too (the chooser's OK writes its
    // choice first, which waits for the lock on its own).
    bool underLock = true;
  };
  const std::vector<Reader> readers = {
      {"the custom report window",
       [&] {
         frmCustomReport w(main);
         w.strCRServerName = "EX1";
         w.strCROrganizationName = "Velmor";
         w.strCRSiteName = "Lakeside";
         w.Form_Load();
         w.show();
         w.tvwServers->setCurrentItem(FindTreeNode(*w.tvwServers, kLakeRecipients));
         w.ClickTypeTab(1);
         const long rows = w.grd1()->Rows() - 1;
         w.Form_Unload();
         return rows;
       }},
      {"the column chooser's OK",
       [&] {
         gMdiArea->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(browse->Window()));
         frmCustomize c(main);
         c.Form_Load();
         c.show();
         c.cmdOk->click();
         return static_cast<long>(browse->Grd1()->Rows() - 1);
       },
       false},
      {"the filter wizard's values",
       [&] {
         gMdiArea->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(browse->Window()));
         frmFilterWizard wiz(main);
         wiz.Form_Load();
         wiz.show();
         const int at = wiz.cbField->findText("Display Name");
         wiz.cbField->setCurrentIndex(at);
         emit wiz.cbField->activated(at);
         return static_cast<long>(wiz.cbData->count());
       }},
      {"the Export Plus outputs",
       [&] {
         exportPlus->DisplayInfo("EX1", "Velmor", "Lakeside", "Default", "Export", "CSV", out.string(), stamp);
         return outputRows();
       }},
      {"the Print Plus outputs",
       [&] {
         exportPlus->SetPrinterName("No Such Printer");
         const size_t from = exportPlus->OutputFailures().size();
         exportPlus->DisplayInfo("EX1", "Velmor", "Lakeside", "Default", "Print", "", "", stamp);
         return printed(from);
       }},
  };
  exportPlus = OpenExportPlus(out);
  for (const Reader& r : readers) {
    for (const bool locked : {true, false}) {
      if (locked && !r.underLock) continue;
      SCOPED_TRACE(std::string(r.what) + (locked ? ", the lock held" : ", the lock free"));
      leaveUnfinished();
      const long before = Scalar(mailboxes);
      sqlite3* holder = nullptr;
      if (locked) {
        sqlite3_open((home / "velmo.mdb").c_str(), &holder);
        ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
      }
      // Escape at every wait the reader shows (a report runs once for the
      // node and once for its tab).
      long escapes = 0;
      long shown = -1;
      const auto t0 = Clock::now();
      WithTicks(
          [&] {
            if (StatusText() != kLockWaitText) return;
            ++escapes;
            // At the focus, or at the main window when no window has it.
            QWidget* at = QApplication::focusWidget() ? QApplication::focusWidget() : main;
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::sendEvent(at, &press);
          },
          [&] { shown = r.shows(); });
      sqlite3_close_v2(holder);
      EXPECT_EQ(shown, 0);
      EXPECT_EQ(escapes > 0, locked);
      EXPECT_LT(Since(t0), velmo::test::HangBound(30.0)) << "a wait went on after Escape";
      EXPECT_EQ(Scalar(mailboxes), locked ? before : 0);
      if (locked)
        EXPECT_EQ(StatusText().toStdString().rfind("The rows of an unfinished collection of 'EX1' could not be "
                                                   "removed, so nothing of it is shown: ", 0),
                  0u)
            << StatusText().toStdString();
      else
        EXPECT_EQ(InDatabase("select count(*) from VELMORCUnfinishedRows"), 0);
      std::cout << r.what << (locked ? ", locked: " : ", free: ") << shown << " of " << before << " rows shown, "
                << Since(t0) << " s\n";
    }
  }
  EXPECT_EQ(Prompts(), std::vector<std::string>{});
}

// Escape in a browse window whose page waits for another program's write
// lock gives the wait up at once: nothing is collected, no box opens, and
// the status text says that the database was locked.
TEST_F(ServerRecipientsTest, EscapeEndsAWaitForAnotherProgramsWriteLockAtOnce) {
  const std::string waiting = "Another program has the database locked. Waiting for it; Esc stops waiting.";
  sqlite3* holder = nullptr;
  sqlite3_open((home / "velmo.mdb").c_str(), &holder);
  ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  frmExch* w = OpenBrowse();
  ASSERT_TRUE(velmo::test::FocusControl(w->tvwServers));
  auto pressedAt = Clock::time_point::max();
  WithTicks(
      [&] {
        if (pressedAt == Clock::time_point::max() && StatusText().toStdString() == waiting) {
          EXPECT_EQ(velmo::test::JoinedLines(velmo::test::ClippedCaptions(main)), "");
          velmo::test::SaveShot(main, "main_window_waits_for_a_database_lock");
          pressedAt = Clock::now();
          velmo::test::PressKey(Qt::Key_Escape);
        }
      },
      [&] { w->tvwServers_NodeClick(FindTreeNode(*w->tvwServers, kLakeRecipients)); });
  sqlite3_close_v2(holder);
  ASSERT_NE(pressedAt, Clock::time_point::max()) << "the wait was not shown";
  EXPECT_LT(Since(pressedAt), velmo::test::HangBound(1.0));
  EXPECT_EQ(StatusText().toStdString(),
            "Stopped waiting for another program's database lock; nothing was collected.");
  EXPECT_EQ(velmo::test::JoinedLines(velmo::test::ClippedCaptions(main)), "");
  velmo::test::SaveShot(main, "main_window_after_a_database_lock_wait_given_up");
  EXPECT_EQ(Prompts(), std::vector<std::string>{});
  EXPECT_EQ(Scalar(kRowsOfEX1), 0);
  std::cout << "Escape ended the wait in " << Since(pressedAt) << " s\n";
  // Later work takes the text of the wait given up down as it begins: a
  // click on Export Plus's Export (here refused at once for its path).
  const auto exportPlus = OpenExportPlus(home / "out");
  exportPlus->txtPath->clear();
  exportPlus->cmdExport->click();
  EXPECT_EQ(Prompts(), std::vector<std::string>{"Please specify the path to store the report."});
  EXPECT_EQ(StatusText().toStdString(), "");
  velmo::test::SaveShot(main, "main_window_once_export_plus_began_after_a_lock_wait_given_up");
}
