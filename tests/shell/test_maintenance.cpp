// Compaction at start-up and clearing of one server's rows.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "DatabaseMaintenance.h"
#include "SampleDirectory.h"
#include "ServerDataClear.h"
#include "ShellTestSupport.h"

extern char** environ;

namespace shelltest {
namespace {

// A second process that keeps the database open until Release().
class DatabaseHolder {
 public:
  DatabaseHolder(const std::string& dbPath, const std::string& server) {
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addclose(&fa, in[1]);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    std::string exe = SHELL_DB_HOLDER, table = "MailboxGeneral";
    std::string db = dbPath, srv = server;
    char* argv[] = {exe.data(), db.data(), table.data(), srv.data(), nullptr};
    if (posix_spawn(&pid_, exe.c_str(), &fa, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    ::close(in[0]);
    ::close(out[1]);
    toChild_ = in[1];
    char buf[128] = {};
    const ssize_t n = ::read(out[0], buf, sizeof buf - 1);
    ::close(out[0]);
    said_ = n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
  }
  ~DatabaseHolder() { Release(); }
  bool Ready() const { return said_.rfind("ready", 0) == 0; }
  const std::string& Said() const { return said_; }
  // Closes the child's input: it closes its connection and ends.
  void Release() {
    if (toChild_ >= 0) ::close(toChild_);
    toChild_ = -1;
    if (pid_ > 0) {
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int toChild_ = -1;
  std::string said_;
};

class Maintenance : public ShellTest {
 protected:
  // A database with rows, then closed, as it is before start-up.
  void MakeDatabaseWithRows(int rows) {
    OpenDatabase();
    WriteCustomFieldNamesToDB(gConn.get());
    gConn->BeginTrans();
    for (int i = 0; i < rows; ++i)
      gConn->Execute("insert into MailboxGeneral (ServerName, [Display Name]) values ('EX1', ?)",
                     {velmo::db::Value("Mailbox " + std::to_string(i))});
    gConn->CommitTrans();
    gConn->Execute("delete from MailboxGeneral where [Display Name] like 'Mailbox 1%'");
    gConn->Close();
    gConn.reset();
  }
  long RowsAfterReopen(const std::string& table) {
    gConn = std::make_unique<velmo::db::Connection>();
    gConn->Open(gstrDBPath);
    const long n = Count("select * from " + table);
    gConn->Close();
    gConn.reset();
    return n;
  }
  std::filesystem::path Comp() const { return home_ / "COMPVELMO.mdb"; }
  std::filesystem::path Db() const { return home_ / "velmo.mdb"; }
};

TEST_F(Maintenance, CompactionKeepsEveryRowAndRemovesAStaleCopy) {
  MakeDatabaseWithRows(2000);
  std::ofstream(Comp()) << "left behind by an earlier run";
  CompactDB();
  EXPECT_FALSE(std::filesystem::exists(Comp()));
  EXPECT_TRUE(std::filesystem::exists(Db()));
  EXPECT_TRUE(LogLines().empty());
  EXPECT_EQ(RowsAfterReopen("MailboxGeneral"), 2000 - 1111);
  EXPECT_EQ(RowsAfterReopen("VELMORCCustomReports"), 141);
  // Again, on the compacted file.
  CompactDB();
  EXPECT_TRUE(LogLines().empty());
  EXPECT_EQ(RowsAfterReopen("MailboxGeneral"), 889);
}

TEST_F(Maintenance, CompactionWaitsForNoOtherProcessAndLosesNoRow) {
  MakeDatabaseWithRows(300);
  std::ofstream(Comp()) << "stale";
  {
    DatabaseHolder holder(velmo::NativePath(gstrDBPath).string(), "EX2");
    ASSERT_TRUE(holder.Ready()) << holder.Said();
    const auto before = std::filesystem::last_write_time(Db());
    CompactDB();
    EXPECT_TRUE(LogHas("CompactDB CompactDatabase Failed"));
    EXPECT_EQ(LogLines().size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(Comp()));
    EXPECT_EQ(std::filesystem::last_write_time(Db()), before);
    holder.Release();
  }
  // The holder's own row is there too, and compaction now goes through.
  CompactDB();
  EXPECT_EQ(LogLines().size(), 1u);
  EXPECT_EQ(RowsAfterReopen("MailboxGeneral"), 300 - 111 + 1);
}

// The servers answer from the sample directory: Refresh deletes nothing of
// a server it cannot bind.
class Refresh : public Maintenance {
 protected:
  void SetUp() override {
    if (!velmo::test::UseSampleDirectory::Available()) GTEST_SKIP() << "the sample directory is not running";
    Maintenance::SetUp();
    std::string port;
    std::ifstream(velmo::test::SampleLdapDir() / "port") >> port;
    std::ofstream hosts(home_ / "ldaphosts.conf");
    hosts << "A ldap://127.0.0.1:" << port << "\n";
    hosts.close();
    directory_ = std::make_unique<velmo::test::UseSampleDirectory>(home_ / "ldaphosts.conf");
    OpenDatabase();
    WriteCustomFieldNamesToDB(gConn.get());
    for (const char* server : {"A", "B", "O'Neil"}) {
      for (const char* table : {"MailboxGeneral", "DLPerm", "ProtocolGeneral", "DiagLogging", "ConnectorNewsfeed"})
        gConn->Execute(std::string("insert into ") + table + " (ServerName) values (?)",
                       {velmo::db::Value(server)});
      gConn->Execute("insert into VELMORCFavourites values(?,'No','Yes')", {velmo::db::Value(server)});
      gConn->Execute("insert into VELMORCFilterCustomize values(?,'MailboxesGeneral','0','Title = ''x''','')",
                     {velmo::db::Value(server)});
    }
    gConn->Execute("insert into VELMORCCustomReports values('MailboxesGeneral','A','A')");
    gConn->Execute("create table Notes(Body text(50))");
    gConn->Execute("insert into Notes values('A')");
  }
  std::unique_ptr<velmo::test::UseSampleDirectory> directory_;
  long Rows(const std::string& table, const std::string& server) {
    velmo::db::Recordset rs;
    rs.Open("select * from " + table + " where ServerName=?", *gConn, {velmo::db::Value(server)});
    return rs.RecordCount();
  }
};

TEST_F(Refresh, ClearsOneServerEverywhereButTheKeptTables) {
  FakeExchWindow w("A");
  OpenExchWindowSlot(&w);
  RefreshServer("A");
  for (const char* table : {"MailboxGeneral", "DLPerm", "ProtocolGeneral", "DiagLogging", "ConnectorNewsfeed",
                            "VELMORCFilterCustomize"}) {
    EXPECT_EQ(Rows(table, "A"), 0) << table;
    EXPECT_EQ(Rows(table, "B"), 1) << table;
    EXPECT_EQ(Rows(table, "O'Neil"), 1) << table;
  }
  EXPECT_EQ(Rows("VELMORCFavourites", "A"), 1);
  EXPECT_EQ(Count("select * from VELMORCCustomReports"), 142);
  EXPECT_EQ(Count("select * from Notes"), 1);  // no ServerName column: passed over
  EXPECT_EQ(w.getAllInfoCalls, std::vector<int>{0});
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(Refresh, AServerNameIsAValueNotSql) {
  // No server of that name can be bound: Refresh deletes nothing of it.
  RefreshServer("O'Neil");
  EXPECT_EQ(Rows("MailboxGeneral", "O'Neil"), 1);
  // The clearing it uses takes the name as a value.
  velmo::exporting::ClearServerRows(*gConn, "O'Neil");
  EXPECT_EQ(Rows("MailboxGeneral", "O'Neil"), 0);
  EXPECT_EQ(Rows("MailboxGeneral", "A"), 1);
  velmo::exporting::ClearServerRows(*gConn, "x' or '1'='1");
  EXPECT_EQ(Rows("MailboxGeneral", "A"), 1);
  EXPECT_EQ(Rows("MailboxGeneral", "B"), 1);
}

}  // namespace
}  // namespace shelltest
