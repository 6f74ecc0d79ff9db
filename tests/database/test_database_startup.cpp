// The inventory database as the main program meets it at start-up: a file
// damaged in several ways, a file of an earlier build, and a file another
// program has open.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>

#include "SqliteRows.h"
#include "Database.h"
#include "InstanceLock.h"
#include "Mdifrm.h"
#include "OtherUser.h"
#include "QtTestApp.h"
#include "SanitizerOptions.h"
#include "TestHome.h"
#include "ScriptedUi.h"
#include "Ui.h"
#include "modGlobals.h"
#include "modStartup.h"

namespace fs = std::filesystem;
namespace db = velmo::db;
using velmo::test::TestHome;

namespace {

class StartUpDb : public ::testing::Test {
 protected:
  void SetUp() override {
    velmo::test::TestApp("test_database_startup");
    ui = std::make_shared<velmo::ui::ScriptedUi>();
    previousUi = velmo::ui::SetUi(ui);
    Mdifrm::Seams() = MdifrmSeams{};
    Mdifrm::Seams().showConnectDialog = [] {};
  }
  void TearDown() override {
    Stop();
    Mdifrm::Seams() = MdifrmSeams{};
    velmo::ui::SetUi(previousUi);
  }
  void Start() {
    StartUpResult r = StartUp(lock, 0);
    ASSERT_EQ(r.kind, StartUpResult::Started);
    window = r.window;
    velmo::test::PumpEvents();
  }
  void Stop() {
    if (window) window->close();
    window = nullptr;
    velmo::test::PumpEvents();
    gConn.reset();
    lock.Unlock();
  }
  std::string Log() const { return TestHome::Slurp(home / "VelmorcastErrorLog.log"); }

  TestHome home;
  std::shared_ptr<velmo::ui::ScriptedUi> ui;
  std::shared_ptr<velmo::ui::UiSeam> previousUi;
  velmo::FileLock lock;
  Mdifrm* window = nullptr;
};

// Every row of a query on a file, as "a|b|c" lines, through a raw handle
// that knows the collation of earlier builds.
std::vector<std::string> RawRows(const fs::path& file, const std::string& sql) {
  sqlite3* h = nullptr;
  sqlite3_open(file.c_str(), &h);
  sqlite3_create_collation(h, "UNICODE_NOCASE", SQLITE_UTF8, nullptr,
                           [](void*, int n1, const void* a, int n2, const void* b) {
                             int r = std::memcmp(a, b, static_cast<size_t>(std::min(n1, n2)));
                             return r != 0 ? r : n1 - n2;
                           });
  std::vector<std::string> out;
  if (sql.rfind("EXEC ", 0) == 0) {
    char* err = nullptr;
    if (sqlite3_exec(h, sql.c_str() + 5, nullptr, nullptr, &err) != SQLITE_OK) out.push_back(err ? err : "error");
    sqlite3_free(err);
  } else {
    out = velmo::test::SqliteRows(h, sql);
  }
  sqlite3_close(h);
  return out;
}

}  // namespace

TEST_F(StartUpDb, AnotherProgramsConnectionKeepsTheFileAndALockItHoldsIsNotWaitedFor) {
  Start();
  Stop();
  const fs::path file = home / "velmo.mdb";
  const char* add = "INSERT INTO MailboxGeneral (ServerName, [Display Name]) VALUES ('OTHER', ";
  struct Case {
    const char* name;
    std::string hold, commit;       // by the other program: before the start, once the window is shown
    std::vector<std::string> rows;  // the other program's rows after
    bool busy;                      // the write lock held through the start
    bool records;                   // rows of an unfinished collection are recorded in the file
  } const cases[] = {
      {"busy: the write lock held", "BEGIN IMMEDIATE; " + std::string(add) + "'during')",
       add + std::string("'after'); COMMIT"), {"after", "during"}, true, false},
      {"busy, with records of unfinished rows", "BEGIN IMMEDIATE; " + std::string(add) + "'during')",
       add + std::string("'after'); COMMIT"), {"after", "during"}, true, true},
      {"idle: open, no lock", "SELECT count(*) FROM sqlite_master", add + std::string("'after')"), {"after"}, false,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool busy = c.busy;
    // The table of the records, as any collection of a server's recipients
    // leaves it: empty once the collection is whole.
    RawRows(file, std::string("EXEC CREATE TABLE IF NOT EXISTS VELMORCUnfinishedRows (ServerName TEXT, TableName "
                              "TEXT, FirstRow INTEGER, LastRow INTEGER, Collection TEXT); DELETE FROM "
                              "VELMORCUnfinishedRows; ") +
                      (c.records ? "INSERT INTO VELMORCUnfinishedRows VALUES ('EX9', 'MailboxGeneral', 1, 0, 'x')"
                                 : ""));
    // Pages to reclaim, as a cleared collection leaves them.
    RawRows(file, "EXEC DELETE FROM MailboxGeneral; WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                  "WHERE i < 3000) INSERT INTO MailboxGeneral (ServerName, [Display Name]) SELECT 'EX1', "
                  "printf('%0400d', i) FROM n; DELETE FROM MailboxGeneral");
    ASSERT_NE(RawRows(file, "PRAGMA freelist_count"), std::vector<std::string>{"0"});
    fs::remove(home / "VelmorcastErrorLog.log");
    struct stat before {};
    ::stat(file.c_str(), &before);

    // Another program's connection, as a stock SQLite tool keeps one (no
    // lock file of the system's, a 5 s busy timeout).
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &other), SQLITE_OK);
    sqlite3_busy_timeout(other, 5000);
    ASSERT_EQ(sqlite3_exec(other, c.hold.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(other);
    const auto t0 = std::chrono::steady_clock::now();
    Start();
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    // The window came while the lock was still held.
    EXPECT_EQ(sqlite3_get_autocommit(other) == 0, busy);
    EXPECT_LT(took, velmo::test::HangBound(10.0));
    std::cout << c.name << ": main window shown " << took << " s after the start\n";
    EXPECT_EQ(sqlite3_exec(other, c.commit.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(other);
    sqlite3_close(other);
    const std::string log = Log();
    EXPECT_EQ(log.find("CompactDB CompactDatabase Failed") != std::string::npos, busy) << log;
    EXPECT_EQ(log.find("is locked by another program; it is used as it is, uncompacted.") != std::string::npos, busy);
    // The records are only looked for while the lock is held: only records
    // found make the start try to take the lock for their rows.
    EXPECT_EQ(log.find("MDIForm_Initialize RemoveUnfinishedRows Failed") != std::string::npos, c.records) << log;
    // What the other program committed is in the file under that name, and
    // the file is the same one, compacted unless it was busy.
    EXPECT_EQ(RawRows(file, "SELECT [Display Name] FROM MailboxGeneral WHERE ServerName = 'OTHER' ORDER BY 1"), c.rows);
    struct stat after {};
    ::stat(file.c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(RawRows(file, "PRAGMA freelist_count") != std::vector<std::string>{"0"}, busy);
    Stop();
  }
  EXPECT_EQ(RawRows(file, "PRAGMA integrity_check"), std::vector<std::string>{"ok"});
}

TEST_F(StartUpDb, DamagedDatabaseIsReportedOnceLeftAsItIsAndNamedInLaterFailures) {
  // A sound file to damage.
  Start();
  gConn->Execute("insert into MailboxGeneral (ServerName, [Display Name]) values ('EX1', 'Kept')");
  Stop();
  const fs::path file = home / "velmo.mdb";
  const std::string sound = TestHome::Slurp(file);
  ASSERT_GT(sound.size(), 8192u);

  struct Case {
    const char* name;
    std::function<void()> damage;
    const char* reason;
  };
  const Case cases[] = {
      {"not a database", [&] { std::ofstream(file, std::ios::binary | std::ios::trunc) << "just some text\n"; },
       "Unrecognized database format"},
      {"truncated", [&] { fs::resize_file(file, sound.size() / 2); }, "Unrecognized database format"},
      {"a folder", [&] {
         fs::remove(file);
         fs::create_directory(file);
       },
       "it is not a file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(file);
    for (const char* s : {"-wal", "-shm"}) fs::remove(file.string() + s);
    std::ofstream(file, std::ios::binary) << sound;
    c.damage();
    const bool folder = fs::is_directory(file);
    const std::string damaged = folder ? "" : TestHome::Slurp(file);
    fs::remove(home / "VelmorcastErrorLog.log");
    ui->clear();

    Start();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle().toStdString(), "Velmorine for Exchange Server (Velmorcast) v1.4.2");
    ASSERT_EQ(ui->shown().size(), 1u);
    const auto box = ui->shown()[0];
    EXPECT_EQ(box.prompt.rfind("Error occured while opening database : \r\n-", 0), 0u) << box.prompt;
    EXPECT_NE(box.prompt.find("'" + file.string() + "'"), std::string::npos) << box.prompt;
    EXPECT_NE(box.prompt.find(c.reason), std::string::npos) << box.prompt;
    EXPECT_EQ(box.buttons, velmo::ui::vbInformation);
    EXPECT_EQ(box.title, "Velmorine for Exchange Server (Velmorcast)");

    // Later uses name the file, not ''.
    ASSERT_TRUE(gConn);
    EXPECT_EQ(gConn->State(), db::adStateClosed);
    try {
      db::Recordset rs;
      rs.Open("select * from MailboxGeneral", gConn->ConnectionString());
      ADD_FAILURE() << "opened";
    } catch (const velmo::ComError& e) {
      EXPECT_NE(e.Description().find(file.string()), std::string::npos) << e.Description();
    }
    Stop();
    const std::string log = Log();
    EXPECT_NE(log.find("MDIForm_Initialize OpenConnection Failed"), std::string::npos) << log;
    EXPECT_EQ(log.find("''"), std::string::npos) << log;
    EXPECT_EQ(ui->shown().size(), 1u);

    // Left as it was, with no copy beside it.
    if (folder)
      EXPECT_TRUE(fs::is_directory(file));
    else
      EXPECT_EQ(TestHome::Slurp(file), damaged);
    EXPECT_FALSE(fs::exists(home / "COMPVELMO.mdb"));
    EXPECT_FALSE(fs::exists(home / "COMPVELMO.mdb-journal"));
  }
}

TEST_F(StartUpDb, DatabaseOfAnEarlierBuildIsConvertedOnceAndAFailureLeavesItAsItWas) {
  // The tables as an earlier build declared them, with rows whose ids
  // have gaps.
  Start();
  Stop();
  const fs::path file = home / "velmo.mdb";
  std::vector<std::string> statements = RawRows(file, "SELECT sql FROM sqlite_master WHERE type='table'");
  std::vector<std::string> names = RawRows(file, "SELECT name FROM sqlite_master WHERE type='table'");
  std::string script = "EXEC ";
  for (size_t i = 0; i < names.size(); ++i) {
    std::string old = statements[i];
    for (size_t at; (at = old.find("COLLATE NOCASE")) != std::string::npos;)
      old.replace(at, 14, "COLLATE UNICODE_NOCASE");
    script += "ALTER TABLE \"" + names[i] + "\" RENAME TO \"was_" + names[i] + "\";" + old + ";INSERT INTO \"" +
              names[i] + "\" SELECT * FROM \"was_" + names[i] + "\";DROP TABLE \"was_" + names[i] + "\";";
  }
  script += "INSERT INTO MailboxGeneral (_rowid_, ServerName, [Display Name]) VALUES (5, 'EX1', 'Five'), (9, 'ex1', "
            "'Nine'), (12, 'EX2', 'Twelve');"
            "CREATE TABLE velmo_converting_VELMORCFavourites(x);";
  ASSERT_EQ(RawRows(file, script), std::vector<std::string>{});
  const std::string rowsSql = "SELECT _rowid_, ServerName, [Display Name] FROM MailboxGeneral ORDER BY _rowid_";
  const std::vector<std::string> rows = RawRows(file, rowsSql);
  ASSERT_EQ(rows, (std::vector<std::string>{"5|EX1|Five", "9|ex1|Nine", "12|EX2|Twelve"}));
  const std::string oldForm = "SELECT count(*) FROM sqlite_master WHERE sql LIKE '%UNICODE_NOCASE%'";
  ASSERT_EQ(RawRows(file, oldForm), std::vector<std::string>{"50"});

  // A conversion that fails is logged; the program runs on with the file
  // as it was.
  Start();
  EXPECT_TRUE(ui->shown().empty());
  EXPECT_NE(Log().find("ConvertOldDatabase ConvertTables Failed"), std::string::npos) << Log();
  ASSERT_TRUE(gConn);
  EXPECT_EQ(gConn->State(), db::adStateOpen);
  Stop();
  EXPECT_EQ(RawRows(file, rowsSql), rows);
  EXPECT_EQ(RawRows(file, oldForm), std::vector<std::string>{"50"});

  // Once the way is clear it converts, keeping every row and row id.
  RawRows(file, "EXEC DROP TABLE velmo_converting_VELMORCFavourites");
  fs::remove(home / "VelmorcastErrorLog.log");
  Start();
  EXPECT_EQ(Log().find("ConvertOldDatabase"), std::string::npos) << Log();
  db::Recordset rs;
  rs.Open("select [Display Name] from MailboxGeneral where ServerName = 'EX1' order by _rowid_", *gConn);
  EXPECT_EQ(rs.RecordCount(), 2);
  rs.Close();
  Stop();
  EXPECT_EQ(RawRows(file, rowsSql), rows);
  EXPECT_EQ(RawRows(file, oldForm), std::vector<std::string>{"0"});
  EXPECT_EQ(RawRows(file, "SELECT count(*) FROM sqlite_master WHERE type='table'"), std::vector<std::string>{"50"});
  EXPECT_EQ(RawRows(file, "SELECT count(*) FROM VELMORCCustomReports"), std::vector<std::string>{"141"});
  EXPECT_EQ(RawRows(file, "PRAGMA integrity_check"), std::vector<std::string>{"ok"});
}

// Run by the test below as another user (root may write any file).
TEST_F(StartUpDb, DISABLED_ReadOnlyDatabaseAsItsUserMeetsIt) {
  const char* folder = std::getenv("VELMO_READ_ONLY_HOME");
  ASSERT_NE(folder, nullptr);
  ::setenv("VELMORCAST_HOME", folder, 1);
  Start();
  EXPECT_TRUE(ui->shown().empty());
  ASSERT_TRUE(gConn);
  ASSERT_EQ(gConn->State(), db::adStateOpen);
  db::Recordset rs;
  rs.Open("select * from VELMORCCustomReports", *gConn);
  EXPECT_EQ(rs.RecordCount(), 141);
  rs.Close();
  Stop();
  const std::string log = TestHome::Slurp(fs::path(folder) / "VelmorcastErrorLog.log");
  EXPECT_NE(log.find("cannot be written"), std::string::npos) << log;
  EXPECT_NE(log.find("CompactDB CompactDatabase Failed"), std::string::npos) << log;
  ::setenv("VELMORCAST_HOME", home.dir().c_str(), 1);
}

TEST_F(StartUpDb, ReadOnlyDatabaseIsNeitherCompactedNorReplacedAndStillRead) {
  if (const std::string why = velmo::test::OtherUser::CannotRun(); !why.empty()) GTEST_SKIP() << why;
  Start();
  Stop();
  const fs::path file = home / "velmo.mdb";
  for (const auto& e : fs::recursive_directory_iterator(home.dir())) ASSERT_EQ(::chown(e.path().c_str(), 65534, 65534), 0);
  ASSERT_EQ(::chown(home.dir().c_str(), 65534, 65534), 0);
  ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
  struct stat before {};
  ::stat(file.c_str(), &before);
  const std::string bytes = TestHome::Slurp(file);

  // This very test program, run as nobody from a copy that user can reach.
  const velmo::test::OtherUser nobody(fs::read_symlink("/proc/self/exe"));
  const auto [status, out] = velmo::test::OtherUser::Run(
      "VELMO_READ_ONLY_HOME='" + home.dir().string() + "' " + nobody.Command() +
      " --gtest_also_run_disabled_tests --gtest_filter=StartUpDb.DISABLED_ReadOnlyDatabaseAsItsUserMeetsIt 2>&1");
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;

  // The same file, as it was, with nothing beside it.
  struct stat after {};
  ::stat(file.c_str(), &after);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode & 07777, 0444u);
  EXPECT_EQ(after.st_uid, 65534u);
  EXPECT_EQ(TestHome::Slurp(file), bytes);
  EXPECT_FALSE(fs::exists(home / "COMPVELMO.mdb"));
  EXPECT_FALSE(fs::exists(home / "COMPVELMO.mdb-journal"));
}
