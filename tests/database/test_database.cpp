// The database layer against what its callers rely on: Jet's SQL and
// errors, case-insensitive text, recordsets that can be changed while they
// are walked, buffered appends shared by several connections, transactions,
// and compaction that never runs under another user of the file.
#include <fcntl.h>
#include <spawn.h>
#include <sqlite3.h>
#include <strings.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <future>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "SqliteRows.h"
#include "Database.h"
#include "OtherUser.h"
#include "PageWrite.h"
#include "SmallFileSystem.h"
#include "TestHome.h"
#include "WriteJournal.h"

extern char** environ;

using namespace velmo::db;
using velmo::ComError;

namespace {

template <class F>
ComError ErrorOf(F&& f) {
  try {
    f();
  } catch (const ComError& e) {
    return e;
  }
  ADD_FAILURE() << "no error was thrown";
  return ComError(0, "");
}

class Db : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateDatabaseFile(file);
    conn.Open(Cs());
    conn.Execute("create table Items(Source char(20), Num text(10))");
  }

  std::string Cs() const { return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + file.string(); }

  // Number of rows a statement returns, read through a connection of its own.
  long CountOf(const std::string& sql) {
    Connection c;
    c.Open(Cs());
    Recordset rs;
    rs.Open(sql, c);
    return rs.RecordCount();
  }

  void AddItems(Connection& c, const std::string& source, int n) {
    Recordset rs;
    rs.Open("select * from Items", c, adOpenKeyset, adLockOptimistic);
    for (int i = 0; i < n; ++i) rs.AddNew({Value(source), Value(i)});
    rs.Close();
  }

  velmo::test::TestHome home{false};
  std::filesystem::path file = home / "velmo.mdb";
  Connection conn;
};

}  // namespace

TEST_F(Db, OpensByEveryFormOfConnectionText) {
  std::string back = file.string();
  for (auto& c : back)
    if (c == '/') c = '\\';
  for (const std::string& text :
       {Cs(), "Provider = Microsoft.Jet.OLEDB.4.0;Data Source =" + file.string(), file.string(), back}) {
    Connection c;
    c.Open(text);
    EXPECT_EQ(c.State(), adStateOpen) << text;
    EXPECT_EQ(c.FilePath(), file) << text;
    // The connection text it reports opens the same file again.
    Connection again;
    again.Open(c.ConnectionString());
    EXPECT_EQ(again.FilePath(), file);
  }
  EXPECT_EQ(PathFromConnectionString("Provider = Microsoft.Jet.OLEDB.4.0;Data Source =/x/a b\\velmo.mdb"),
            std::filesystem::path("/x/a b/velmo.mdb"));

  Connection missing;
  auto e = ErrorOf([&] { missing.Open(Cs() + ".none"); });
  EXPECT_EQ(e.Number(), kDbCannotOpen);
  EXPECT_EQ(missing.State(), adStateClosed);
  EXPECT_FALSE(std::filesystem::exists(file.string() + ".none"));

  std::ofstream(home / "notes.mdb") << "not a database, only some text that is long enough to be read";
  EXPECT_EQ(ErrorOf([&] { missing.Open((home / "notes.mdb").string()); }).Number(), kDbCannotOpen);
  EXPECT_EQ(missing.State(), adStateClosed);

  EXPECT_EQ(ErrorOf([&] { conn.Open(Cs()); }).Number(), kDbAlreadyOpen);
}

// A lock file that cannot be used fails the open at once with its own
// reason; nothing is made where a link to nothing points.
TEST_F(Db, AnUnusableLockFileSaysWhyAndNothingIsMadeThroughALink) {
  const auto other = home / "other.mdb", lock = home / "other.mdb.lock", nowhere = home / "nowhere.lock";
  CreateDatabaseFile(other);
  const std::pair<std::filesystem::path, std::string> cases[] = {
      {nowhere, "No such file or directory"}, {lock, "Too many levels of symbolic links"}};
  for (const auto& [target, reason] : cases) {
    std::filesystem::remove(lock);
    std::filesystem::create_symlink(target, lock);
    Connection c;
    const ComError e = ErrorOf([&] { c.Open(other.string()); });
    EXPECT_EQ(e.Number(), kDbCannotOpen);
    EXPECT_EQ(e.Description(), "Could not use '" + other.string() + "'; its lock file '" + lock.string() +
                                   "' cannot be used: " + reason + ".");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(nowhere)));
  }
}

TEST_F(Db, TakesJetTypeWordsDeleteStarAndBrackets) {
  conn.Execute(
      "create table MailboxGeneral(ServerName char(255),[Object Path] Memo,[Display Name] CHAR(3),"
      "[Zip Code] Text(40), Notes memo)");
  Catalog cat;
  cat.SetActiveConnection(Cs());
  EXPECT_EQ(cat.ColumnNames("mailboxgeneral"),
            (std::vector<std::string>{"ServerName", "Object Path", "Display Name", "Zip Code", "Notes"}));

  // Widths are kept as metadata and never cut a value.
  std::string longName(300, 'x');
  {
    Recordset rs;
    rs.Open("select * from MailboxGeneral", conn, adOpenKeyset, adLockOptimistic);
    EXPECT_EQ(rs["ServerName"].DefinedSize(), 255);
    EXPECT_EQ(rs["Display Name"].DefinedSize(), 3);
    EXPECT_EQ(rs["Zip Code"].DefinedSize(), 40);
    EXPECT_EQ(rs["Object Path"].DefinedSize(), 0);
    rs.AddNew();
    rs[0] = "EX1";
    rs[1] = "o=Org/ou=Site";
    rs[2] = longName;
    rs["zip code"] = "0123";
    rs.Update();
    rs.AddNew({"EX2", "o=Org/ou=Site", "Ann", "9"});
    rs.Close();
  }
  Recordset rs;
  rs.Open("select [Display Name], [Zip Code] from MailboxGeneral where ServerName='EX1'", conn);
  ASSERT_FALSE(rs.Eof());
  EXPECT_EQ(rs[0].Text(), longName);
  EXPECT_EQ(rs[1].Text(), "0123");  // text stays text: no leading zero lost
  rs.Close();

  EXPECT_EQ(conn.Execute("delete * from MailboxGeneral where ServerName='ex2'"), 1);
  EXPECT_EQ(CountOf("select * from MailboxGeneral"), 1);
  conn.Execute("alter table MailboxGeneral add column [Home Server] char(50)");
  rs.Open("select [Home Server] from MailboxGeneral", conn);
  EXPECT_EQ(rs[0].DefinedSize(), 50);
}

TEST_F(Db, ReportsJetErrorNumbersAndTexts) {
  conn.Execute("create table VELMORCFavourites(ServerName text(255),IsDefaultSrv char(3),IsFavouriteSrv char(3))");
  auto exists = ErrorOf([&] { conn.Execute("create table VELMORCFavourites(ServerName text(255))"); });
  EXPECT_EQ(exists.Number(), kDbSyntaxOrExists);
  EXPECT_EQ(exists.Description(), "Table 'VELMORCFavourites' already exists.");
  conn.Execute("create table [Odd Name](a text(5))");
  EXPECT_EQ(ErrorOf([&] { conn.Execute("create table [odd name](a text(5))"); }).Description(),
            "Table 'odd name' already exists.");

  const std::string missing =
      "The database engine cannot find the input table or query 'NoSuch'. Make sure it exists and that its name is "
      "spelled correctly.";
  auto e1 = ErrorOf([&] { conn.Execute("delete from NoSuch where ServerName='A'"); });
  EXPECT_EQ(e1.Number(), kDbNoSuchTable);
  EXPECT_EQ(e1.Description(), missing);
  Recordset rs;
  auto e2 = ErrorOf([&] { rs.Open("select * from NoSuch", conn); });
  EXPECT_EQ(e2.Number(), kDbNoSuchTable);
  EXPECT_EQ(e2.Description(), missing);
  EXPECT_EQ(rs.State(), adStateClosed);

  EXPECT_EQ(ErrorOf([&] { conn.Execute("selec * from Items"); }).Number(), kDbSyntaxOrExists);
  EXPECT_EQ(ErrorOf([&] { conn.Execute("select Nope from Items"); }).Number(), kDbNoValueGiven);
  EXPECT_EQ(ErrorOf([&] { conn.CommitTrans(); }).Number(), kDbNoTransaction);
  EXPECT_EQ(ErrorOf([&] { conn.RollbackTrans(); }).Number(), kDbNoTransaction);
}

TEST_F(Db, ComparesTextAsEveryToolOfTheEngineDoes) {
  conn.Execute("create table People(Name char(50), Proto text(20), Note memo)");
  for (const char* name : {"Müller", "MÜLLER", "müller", "Mueller", "ÄB", "äa", "Øster"})
    conn.Execute("insert into People values(?, 'x', 'n')", {Value(name)});
  for (const char* p : {"HTTP Server", "http (site)", "Https", "IMAP4", "xhttp"})
    conn.Execute("insert into People values('p', ?, 'n')", {Value(p)});

  // Text columns are declared with the engine's own NOCASE.
  Recordset decl;
  decl.Open("select sql from sqlite_master where name='People'", conn);
  EXPECT_EQ(decl[0].Text(),
            "CREATE TABLE People(Name TEXT(50) COLLATE NOCASE, Proto TEXT(20) COLLATE NOCASE, Note TEXT COLLATE "
            "NOCASE)");
  decl.Close();

  // "=" folds A-Z only: non-ASCII letters that differ in case differ.
  EXPECT_EQ(CountOf("select * from People where Name='MÜLLER'"), 1);
  EXPECT_EQ(CountOf("select * from People where Name='müller'"), 2);  // Müller, müller
  EXPECT_EQ(CountOf("select * from People where Name='øSTER'"), 0);
  EXPECT_EQ(CountOf("select * from People where Name='ØSTER'"), 1);
  EXPECT_EQ(CountOf("select * from People where Name in ('MUELLER')"), 1);
  EXPECT_EQ(CountOf("select * from People where Proto='https'"), 1);
  EXPECT_EQ(CountOf("select distinct Proto from People where Proto like 'http%'"), 3);
  EXPECT_EQ(CountOf("select Name from People group by Name"), 7);  // p, and six names (Müller = müller)
  // NOCASE is the engine's, not redefined: "ÄB" sorts before "äa" by its
  // bytes, where Unicode folding would put "äa" first.
  Recordset order;
  order.Open("select Name from People where Name <> 'p' order by Name, _rowid_", conn);
  std::vector<std::string> names;
  for (; !order.Eof(); order.MoveNext()) names.push_back(order[0].Text());
  EXPECT_EQ(names, (std::vector<std::string>{"Mueller", "MÜLLER", "Müller", "müller", "ÄB", "Øster", "äa"}));

  // LIKE keeps ignoring case with Unicode folding.
  EXPECT_EQ(CountOf("select * from People where Proto like 'HTTP%'"), 3);
  EXPECT_EQ(CountOf("select * from People where Name like 'MÜ%'"), 3);
  EXPECT_EQ(CountOf("select * from People where Name like 'm_ller'"), 3);
  EXPECT_EQ(CountOf("select * from People where Name like 'øster'"), 1);
  EXPECT_EQ(CountOf("select * from People where Proto like '%(SITE)'"), 1);
  EXPECT_EQ(CountOf("select * from People where Proto like 'HTTP'"), 0);
  EXPECT_EQ(CountOf("select * from People where Proto like 'http!%%' escape '!'"), 0);
  EXPECT_EQ(CountOf("select distinct Name from People where Name like '%ller'"), 3);
}

TEST_F(Db, FieldsByNameInAnyCaseAndByPosition) {
  conn.Execute("insert into Items values('A', null)");
  Recordset rs;
  rs.Open("select * from Items", conn);
  EXPECT_EQ(rs.GetFields().Count(), 2);
  EXPECT_EQ(&rs["source"], &rs["SOURCE"]);
  EXPECT_EQ(&rs["Source"], &rs[0]);
  EXPECT_EQ(rs[0].Name(), "Source");
  EXPECT_EQ(rs["sOuRcE"].Text(), "A");
  EXPECT_TRUE(rs["num"].IsNull());
  EXPECT_EQ(rs["num"].Text(), "");
  EXPECT_EQ(ErrorOf([&] { rs["Nope"]; }).Number(), kDbItemNotFound);
  EXPECT_EQ(ErrorOf([&] { rs[2]; }).Number(), kDbItemNotFound);
  EXPECT_EQ(ErrorOf([&] { rs[-1]; }).Number(), kDbItemNotFound);

  // Joined tables read with aliases; names are the columns'.
  conn.Execute("create table Other(Source char(20), Extra char(20))");
  conn.Execute("insert into Other values('a', 'E')");
  Recordset j;
  j.Open("select distinct T0.Source, T1.[Extra] from Items T0,Other T1 where T0.Source = T1.Source", conn);
  ASSERT_EQ(j.RecordCount(), 1);
  EXPECT_EQ(j["extra"].Text(), "E");
}

TEST_F(Db, MisuseThrowsInsteadOfCrashing) {
  AddItems(conn, "A", 2);
  Recordset rs;
  EXPECT_EQ(ErrorOf([&] { rs.Eof(); }).Number(), kDbClosed);
  EXPECT_EQ(ErrorOf([&] { rs.MoveNext(); }).Number(), kDbClosed);
  EXPECT_EQ(ErrorOf([&] { rs.GetFields(); }).Number(), kDbClosed);
  EXPECT_EQ(ErrorOf([&] { rs.Close(); }).Number(), kDbClosed);
  EXPECT_EQ(ErrorOf([&] { rs.RecordCount(); }).Number(), kDbClosed);

  rs.Open("select * from Items where Source='none'", conn);
  EXPECT_TRUE(rs.Eof());
  EXPECT_TRUE(rs.Bof());
  EXPECT_EQ(ErrorOf([&] { rs[0].Text(); }).Number(), kDbNoCurrentRecord);
  EXPECT_EQ(ErrorOf([&] { rs.MoveNext(); }).Number(), kDbNoCurrentRecord);
  EXPECT_EQ(ErrorOf([&] { rs.Open("select * from Items", conn); }).Number(), kDbAlreadyOpen);
  rs.Close();

  // Read-only recordsets and statements over several tables refuse changes.
  rs.Open("select * from Items", conn);
  EXPECT_EQ(ErrorOf([&] { rs.AddNew(); }).Number(), kDbNotUpdatable);
  EXPECT_EQ(ErrorOf([&] { rs[0] = "x"; }).Number(), kDbNotUpdatable);
  rs.Close();
  rs.Open("select distinct Source from Items", conn, adOpenKeyset, adLockOptimistic);
  EXPECT_EQ(ErrorOf([&] { rs.Delete(); }).Number(), kDbNotUpdatable);
  rs.Close();
  rs.Open("select count(*) from Items", conn, adOpenKeyset, adLockOptimistic);
  EXPECT_EQ(rs.RecordCount(), 1);
  EXPECT_EQ(rs[0].Val().Long(), 2);
  EXPECT_EQ(ErrorOf([&] { rs.AddNew(); }).Number(), kDbNotUpdatable);
  rs.Close();
  rs.Open("select Source, Num || 'x' as Expr from Items", conn, adOpenKeyset, adLockOptimistic);
  EXPECT_EQ(ErrorOf([&] { rs["Expr"] = "1"; }).Number(), kDbNotUpdatable);
  rs.Close();

  // A connection that goes away first closes its recordsets, keeping their rows.
  auto c = std::make_unique<Connection>();
  c->Open(Cs());
  Recordset orphan;
  orphan.Open("select * from Items", *c, adOpenKeyset, adLockOptimistic);
  orphan.AddNew({"orphan", "1"});
  c.reset();
  EXPECT_EQ(orphan.State(), adStateClosed);
  EXPECT_EQ(orphan.ActiveConnection(), nullptr);
  EXPECT_EQ(ErrorOf([&] { orphan.MoveFirst(); }).Number(), kDbClosed);
  EXPECT_EQ(CountOf("select * from Items where Source='orphan'"), 1);
}

TEST_F(Db, UpdatesAndDeletesWhileIterating) {
  AddItems(conn, "A", 10);
  Recordset rs;
  rs.Open("select * from Items order by Num", conn, adOpenKeyset, adLockOptimistic);
  ASSERT_EQ(rs.RecordCount(), 10);
  std::vector<std::string> seen;
  while (!rs.Eof()) {
    std::string num = rs["Num"].Text();
    seen.push_back(num);
    if (std::stoi(num) % 2 == 0) {
      rs.Delete();
      EXPECT_EQ(ErrorOf([&] { rs["Num"].Text(); }).Number(), kDbRowDeleted);
    } else {
      rs["Source"] = "changed";
      rs.Update();
      EXPECT_EQ(rs["Source"].Text(), "changed");
    }
    // Another statement on the file meanwhile does not disturb the walk.
    conn.Execute("update Items set Num = Num where Source = 'none'");
    rs.MoveNext();
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"}));
  EXPECT_EQ(rs.RecordCount(), 5);
  EXPECT_EQ(CountOf("select * from Items"), 5);
  EXPECT_EQ(CountOf("select * from Items where Source='changed'"), 5);

  // Going back over the walk skips the deleted rows.
  rs.MoveLast();
  EXPECT_EQ(rs["Num"].Text(), "9");
  rs.MovePrevious();
  EXPECT_EQ(rs["Num"].Text(), "7");

  // Changes assigned and then left by a move are written; a row removed by
  // someone else cannot be updated.
  rs["Num"] = "77";
  rs.MoveFirst();
  EXPECT_EQ(CountOf("select * from Items where Num='77'"), 1);
  conn.Execute("delete from Items where Num='1'");
  rs["Source"] = "late";
  EXPECT_EQ(ErrorOf([&] { rs.Update(); }).Number(), kDbRowNotFound);
  EXPECT_NO_THROW(rs.MoveNext());  // the failed change is not retried on every move
  EXPECT_EQ(CountOf("select * from Items where Source='late'"), 0);
}

TEST_F(Db, RecordCountIsExactAndCountsOwnAdditions) {
  Recordset rs;
  rs.Open("select * from Items where Source='A'", conn, adOpenKeyset, adLockOptimistic);
  EXPECT_EQ(rs.RecordCount(), 0);
  EXPECT_TRUE(rs.Eof());
  rs.AddNew({"A", "1"});
  rs.AddNew({"A", "2"});
  rs.AddNew({"B", "3"});  // not selected by the condition, but added here
  EXPECT_EQ(rs.RecordCount(), 3);
  rs.MoveFirst();
  std::vector<std::string> nums;
  for (; !rs.Eof(); rs.MoveNext()) nums.push_back(rs["Num"].Text());
  EXPECT_EQ(nums, (std::vector<std::string>{"1", "2", "3"}));
  rs.Requery();
  EXPECT_EQ(rs.RecordCount(), 2);
  rs.Close();

  // Rows added before the first read belong to the recordset as well.
  rs.Open("select * from Items where Source='C'", conn, adOpenKeyset, adLockOptimistic);
  for (int i = 0; i < 2500; ++i) rs.AddNew({i == 2499 ? "D" : "C", std::to_string(i)});
  EXPECT_EQ(rs["Num"].Text(), "2499");  // the row just added is the current one
  EXPECT_EQ(rs.RecordCount(), 2500);
  EXPECT_EQ(rs["Source"].Text(), "D");
  EXPECT_EQ(CountOf("select * from Items"), 2503);

  // Adding, then assigning the new row, writes the change to that row.
  rs.AddNew();
  rs["Source"] = "E";
  rs.Update();
  rs["Num"] = "last";
  rs.Update();
  rs.Close();
  EXPECT_EQ(CountOf("select * from Items where Source='E' and Num='last'"), 1);
}

TEST_F(Db, AppendsAreBufferedAndStatementsSeeThemFirst) {
  Recordset rs;
  rs.Open("select * from Items", conn, adOpenKeyset, adLockOptimistic);
  for (int i = 0; i < 999; ++i) rs.AddNew({"A", std::to_string(i)});
  EXPECT_EQ(CountOf("select * from Items"), 0);  // buffered, and no write transaction is held
  rs.AddNew({"A", "999"});
  EXPECT_EQ(CountOf("select * from Items"), 1000);
  rs.AddNew();
  rs["Source"] = "B";
  rs["Num"] = "x";
  rs.Update();
  EXPECT_EQ(CountOf("select * from Items"), 1000);

  // A statement on the same connection acts after the rows added before it.
  EXPECT_EQ(conn.Execute("update Items set Num='y' where Source='b'"), 1);
  rs.AddNew({"C", "1"});
  rs.AddNew({"C", "2"});
  EXPECT_EQ(conn.Execute("delete * from Items where Source='C'"), 2);
  rs.AddNew({"C", "3"});
  rs.Close();
  EXPECT_EQ(CountOf("select * from Items"), 1002);
  EXPECT_EQ(CountOf("select * from Items where Source='B' and Num='y'"), 1);
}

TEST_F(Db, TwoConnectionsOfOneThreadAppendAtOnce) {
  Connection other;
  other.Open(Cs());
  Recordset collector, native;
  collector.Open("select * from Items", conn, adOpenKeyset, adLockOptimistic);
  native.Open("select * from Items", other, adOpenKeyset, adLockOptimistic);
  for (int i = 0; i < 2500; ++i) {
    collector.AddNew();
    collector[0] = "collector";
    collector[1] = std::to_string(i);
    collector.Update();
    native.AddNew({"Source", "Num"}, {Value("native"), Value(i)});
    if (i % 700 == 0) {
      // Another short-lived writer in between, as the native class does per call.
      Recordset perm;
      perm.Open("select * from Items", Cs(), adOpenKeyset, adLockOptimistic);
      perm.AddNew({"perm", std::to_string(i)});
      perm.Close();
    }
  }
  collector.Close();
  native.Close();
  EXPECT_EQ(CountOf("select * from Items where Source='collector'"), 2500);
  EXPECT_EQ(CountOf("select * from Items where Source='native'"), 2500);
  EXPECT_EQ(CountOf("select * from Items where Source='perm'"), 4);
  EXPECT_EQ(CountOf("select distinct Num from Items where Source='native'"), 2500);
}

TEST_F(Db, ReaderDuringAWrite) {
  AddItems(conn, "committed", 3);
  conn.BeginTrans();
  conn.Execute("insert into Items values('open', '1')");
  Recordset writing;
  writing.Open("select * from Items", conn, adOpenKeyset, adLockOptimistic);
  writing.AddNew({"open", "2"});
  writing.Close();

  // Another connection reads the committed rows while the write is open.
  Connection reader;
  reader.Open(Cs());
  Recordset rs;
  rs.Open("select * from Items", reader);
  EXPECT_EQ(rs.RecordCount(), 3);
  // The writer's own connection sees its uncommitted rows.
  Recordset own;
  own.Open("select * from Items", conn);
  EXPECT_EQ(own.RecordCount(), 5);
  own.Close();
  conn.CommitTrans();
  EXPECT_EQ(rs.RecordCount(), 3);  // rows as read
  rs.Requery();
  EXPECT_EQ(rs.RecordCount(), 5);

  // A reader that has read its rows holds nothing that stops a writer.
  AddItems(conn, "after", 2);
  EXPECT_EQ(CountOf("select * from Items"), 7);
}

TEST_F(Db, TransactionsTakeInTheBufferedRows) {
  Connection watcher;
  watcher.Open(Cs());
  auto watched = [&] {
    Recordset rs;
    rs.Open("select * from Items", watcher);
    return rs.RecordCount();
  };

  conn.BeginTrans();
  EXPECT_TRUE(conn.InTransaction());
  AddItems(conn, "rolled", 10);
  EXPECT_EQ(watched(), 0);
  conn.RollbackTrans();
  EXPECT_FALSE(conn.InTransaction());
  EXPECT_EQ(CountOf("select * from Items"), 0);

  // Rows still buffered when the transaction rolls back go with it.
  Recordset rs;
  rs.Open("select * from Items", conn, adOpenKeyset, adLockOptimistic);
  rs.AddNew({"before", "0"});
  conn.BeginTrans();  // writes what was added before it
  rs.AddNew({"inside", "1"});
  rs.AddNew({"inside", "2"});
  conn.RollbackTrans();
  rs.Close();
  EXPECT_EQ(CountOf("select * from Items"), 1);

  // A recordset that read its rows forgets those the rollback took away.
  rs.Open("select * from Items", conn, adOpenKeyset, adLockOptimistic);
  EXPECT_EQ(rs.RecordCount(), 1);
  conn.BeginTrans();
  rs.AddNew({"inside", "3"});
  EXPECT_EQ(rs.RecordCount(), 2);
  conn.RollbackTrans();
  EXPECT_EQ(rs.RecordCount(), 1);
  rs.Close();

  conn.BeginTrans();
  AddItems(conn, "kept", 4);
  conn.BeginTrans();
  conn.Execute("insert into Items values('nested', '1')");
  conn.RollbackTrans();
  conn.CommitTrans();
  EXPECT_EQ(watched(), 5);
  EXPECT_EQ(CountOf("select * from Items where Source='nested'"), 0);
}

// A scope's transaction is kept only by Commit() and rolls back its own
// level when left otherwise; a rollback that fails after a failed Commit()
// leaves the caller with the Commit()'s error.
TEST_F(Db, ScopedTransactionKeepsOnlyWhatItCommits) {
  conn.BeginTrans();
  {
    Transaction kept(conn);
    conn.Execute("insert into Items values('kept', '1')");
    kept.Commit();
  }
  ErrorOf([&] {
    Transaction dropped(conn);
    conn.Execute("insert into Items values('dropped', '2')");
    conn.Execute("insert into NoSuchTable values(1)");
  });
  EXPECT_TRUE(conn.InTransaction());
  conn.CommitTrans();
  EXPECT_EQ(CountOf("select * from Items where Source='kept'"), 1);
  EXPECT_EQ(CountOf("select * from Items where Source='dropped'"), 0);

  EXPECT_EQ(ErrorOf([&] {
              Transaction t(conn);
              conn.Close();
              t.Commit();
            }).Number(),
            kDbClosed);
}

TEST_F(Db, ValuesAreBoundOrQuoted) {
  EXPECT_EQ(SqlQuote("O'Neil"), "'O''Neil'");
  EXPECT_EQ(SqlQuote("''"), "''''''");
  conn.Execute("insert into Items values(?, ?)", {Value("O'Neil"), Value()});
  conn.Execute("insert into Items values(" + SqlQuote("ENGLAND") + ", " + SqlQuote("'; drop table Items; --") + ")");
  EXPECT_EQ(CountOf("select * from Items where Source=" + SqlQuote("o'neil") + " and Num is null"), 1);
  EXPECT_EQ(CountOf("select * from Items where Num=" + SqlQuote("'; drop table Items; --")), 1);
  Recordset rs;
  rs.Open("select * from Items where Source = ?", conn, {Value("england")});
  EXPECT_EQ(rs.RecordCount(), 1);
  EXPECT_EQ(ErrorOf([&] { conn.Execute("insert into Items values(?, ?)", {Value("one")}); }).Number(),
            kDbNoValueGiven);
}

TEST(Catalog, CreatesFilesAtOnceAndListsOnlyUserTables) {
  velmo::test::TestHome home(false);
  auto file = home / "new.mdb";
  std::string cs = "Provider = Microsoft.Jet.OLEDB.4.0;Data Source =" + file.string();
  Catalog cat;
  cat.Create(cs);
  EXPECT_GT(std::filesystem::file_size(file), 0u);
  auto again = ErrorOf([&] { Catalog().Create(cs); });
  EXPECT_EQ(again.Number(), kDbFileExists);
  EXPECT_EQ(again.Description(), "Database already exists.");
  cat.ReleaseConnection();

  Connection c;
  c.Open(cs);
  c.Execute("create table Zeta(a text(5))");
  c.Execute("create table Alpha(id integer primary key autoincrement, b memo)");
  c.Execute("create index ZetaA on Zeta(a)");
  c.Execute("insert into Alpha(b) values('x')");
  c.Execute("analyze");
  cat.SetActiveConnection(cs);
  EXPECT_EQ(cat.TableNames(), (std::vector<std::string>{"Zeta", "Alpha"}));
  EXPECT_EQ(ErrorOf([&] { cat.ColumnNames("Missing"); }).Number(), kDbNoSuchTable);

  // The inventory database logs ahead; an export file is one self-contained file.
  Recordset rs;
  rs.Open("pragma journal_mode", c);
  EXPECT_EQ(rs[0].Text(), "wal");
  auto exportFile = home / "export.mdb";
  CreateDatabaseFile(exportFile, Journal::Rollback);
  EXPECT_GT(std::filesystem::file_size(exportFile), 0u);
  EXPECT_EQ(ErrorOf([&] { CreateDatabaseFile(exportFile, Journal::Rollback); }).Number(), kDbFileExists);
  Connection ex;
  ex.Open(exportFile.string());
  ex.Execute("create table Report(a text(255))");
  ex.Execute("insert into Report values('r')");
  Recordset jr;
  jr.Open("pragma journal_mode", ex);
  EXPECT_EQ(jr[0].Text(), "delete");
  EXPECT_FALSE(std::filesystem::exists(exportFile.string() + "-wal"));
}

namespace {

// A second process with the database open (db_holder).
class Holder {
 public:
  Holder(const std::string& cs, const std::filesystem::path& ready, int rows) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[0], 0);
    posix_spawn_file_actions_addclose(&fa, fds[1]);
    std::string rowsText = std::to_string(rows);
    std::string readyText = ready.string();
    char* argv[] = {const_cast<char*>(DB_HOLDER), const_cast<char*>(cs.c_str()), readyText.data(), rowsText.data(),
                    nullptr};
    if (posix_spawn(&pid_, DB_HOLDER, &fa, nullptr, argv, environ) != 0) throw std::runtime_error("spawn");
    posix_spawn_file_actions_destroy(&fa);
    ::close(fds[0]);
    in_ = fds[1];
    for (int i = 0; i < 500 && !std::filesystem::exists(ready); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // Lets the holder close the database and end; its exit status.
  int Finish() {
    if (in_ >= 0) ::close(in_);
    in_ = -1;
    int status = -1;
    if (pid_ > 0) ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }
  ~Holder() { Finish(); }

 private:
  pid_t pid_ = -1;
  int in_ = -1;
};

}  // namespace

TEST_F(Db, CompactsOnlyWhenNobodyHoldsTheFileAndLosesNoRow) {
  AddItems(conn, "main", 1500);
  conn.Execute("delete from Items where Num < '5'");  // leaves free pages to reclaim
  long before = CountOf("select * from Items");
  auto copy = home / "COMPVELMO.mdb";
  std::string copyCs = "Provider = Microsoft.Jet.OLEDB.4.0;Data Source =" + copy.string();
  std::string srcCs = "Provider = Microsoft.Jet.OLEDB.4.0;Data Source =" + file.string();

  // This process's own connection holds the file.
  JetEngine engine;
  EXPECT_EQ(ErrorOf([&] { engine.CompactDatabase(srcCs, copyCs); }).Number(), kDbCannotOpen);
  conn.Close();

  // Another process holds it, and adds rows of its own.
  auto ready = home / "ready";
  {
    Holder holder(Cs(), ready, 40);
    ASSERT_TRUE(std::filesystem::exists(ready));
    auto busy = ErrorOf([&] { engine.CompactDatabase(srcCs, copyCs); });
    EXPECT_EQ(busy.Number(), kDbCannotOpen);
    EXPECT_EQ(busy.Description(), "The database is in use by another process.");
    EXPECT_FALSE(std::filesystem::exists(copy));
    EXPECT_EQ(CountOf("select * from Items"), before + 40);  // still usable meanwhile
    EXPECT_EQ(holder.Finish(), 0);
  }

  // A stale copy blocks compaction until the caller removes it.
  std::ofstream(copy) << "stale";
  EXPECT_EQ(ErrorOf([&] { engine.CompactDatabase(srcCs, copyCs); }).Number(), kDbFileExists);
  EXPECT_EQ(CountOf("select * from Items"), before + 40);  // refused compaction holds no lock
  std::filesystem::remove(copy);

  engine.CompactDatabase(srcCs, copyCs);
  EXPECT_TRUE(std::filesystem::exists(copy));
  // Until released, opening waits; the move happens in that window.
  std::atomic<bool> opening{false};
  std::thread mover([&] {
    while (!opening) std::this_thread::yield();
    std::ofstream(file.string() + "-shm") << "stale index";
    int32_t number = 0;
    std::string text;
    EXPECT_TRUE(MoveDatabaseFile(copy, file, number, text)) << text;
    engine.Release();
  });
  Connection reopened;
  opening = true;
  reopened.Open(Cs());
  mover.join();
  EXPECT_FALSE(std::filesystem::exists(copy));
  Recordset rs;
  rs.Open("select * from Items", reopened);
  EXPECT_EQ(rs.RecordCount(), before + 40);
  rs.Close();
  Recordset jm;
  jm.Open("pragma journal_mode", reopened);
  EXPECT_EQ(jm[0].Text(), "wal");

  int32_t number = 0;
  std::string text;
  EXPECT_FALSE(MoveDatabaseFile(home / "none.mdb", home / "x.mdb", number, text));
  EXPECT_EQ(number, ENOENT);
  EXPECT_FALSE(text.empty());
}

// ---- Files other tools read, files of earlier builds, failing writes -------

namespace {

// What the stock sqlite3 shell prints for a statement (errors included);
// nullopt when the shell is not installed.
std::optional<std::string> Shell(const std::filesystem::path& db, const std::string& sql) {
  if (std::system("command -v sqlite3 >/dev/null 2>&1") != 0) return std::nullopt;
  std::string cmd = "sqlite3 -batch '" + db.string() + "' \"" + sql + "\" 2>&1";
  std::string out;
  if (FILE* p = ::popen(cmd.c_str(), "r")) {
    char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

int AsciiNoCase(void*, int n1, const void* a, int n2, const void* b) {
  int r = ::strncasecmp(static_cast<const char*>(a), static_cast<const char*>(b), std::min(n1, n2));
  return r != 0 ? r : n1 - n2;
}

// A raw handle on a file, with the collation of earlier builds defined.
struct RawDb {
  explicit RawDb(const std::filesystem::path& f) {
    sqlite3_open(f.c_str(), &h);
    sqlite3_create_collation(h, "UNICODE_NOCASE", SQLITE_UTF8, nullptr, &AsciiNoCase);
  }
  ~RawDb() { sqlite3_close(h); }
  void Exec(const std::string& sql) { ASSERT_EQ(sqlite3_exec(h, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(h); }
  // Every row of a query as "a|b|c" lines.
  std::vector<std::string> Rows(const std::string& sql) { return velmo::test::SqliteRows(h, sql); }
  sqlite3* h = nullptr;
};

// A file as an earlier build wrote it: text columns with its own collation,
// an index, row ids with gaps.
void WriteOldFormFile(const std::filesystem::path& file) {
  RawDb raw(file);
  raw.Exec("PRAGMA journal_mode=WAL");
  raw.Exec("CREATE TABLE MailboxGeneral(ServerName TEXT(255) COLLATE UNICODE_NOCASE,[Object Path] TEXT COLLATE "
           "UNICODE_NOCASE,[Display Name] TEXT(255) COLLATE UNICODE_NOCASE)");
  raw.Exec("CREATE TABLE VELMORCFavourites(ServerName TEXT(255) COLLATE UNICODE_NOCASE,IsDefaultSrv TEXT(3) COLLATE "
           "UNICODE_NOCASE,IsFavouriteSrv TEXT(3) COLLATE UNICODE_NOCASE)");
  raw.Exec("CREATE TABLE Counter(n INTEGER)");
  raw.Exec("CREATE INDEX ByName ON MailboxGeneral([Display Name])");
  raw.Exec("WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM c WHERE i<3000) INSERT INTO MailboxGeneral "
           "SELECT CASE WHEN i%2 THEN 'EX1' ELSE 'ex2' END, 'o=Velmor/ou=Lakeside/cn=Recipients', 'Mailbox '||i "
           "FROM c");
  raw.Exec("INSERT INTO MailboxGeneral VALUES('EX1', 'o=Velmor', 'Maria Müller')");
  raw.Exec("DELETE FROM MailboxGeneral WHERE _rowid_ % 7 = 0");
  raw.Exec("INSERT INTO VELMORCFavourites VALUES('EX1','Yes','Yes'),('ex2','No','Yes')");
}

}  // namespace

TEST(Files, OldFormFileConvertsOnceKeepingEveryRowAndRowIdAndOtherToolsReadIt) {
  velmo::test::TestHome home(false);
  auto file = home / "velmo.mdb";
  WriteOldFormFile(file);
  const std::string rowsSql = "SELECT _rowid_, * FROM MailboxGeneral ORDER BY _rowid_";
  std::vector<std::string> before, favouritesBefore;
  {
    RawDb raw(file);
    before = raw.Rows(rowsSql);
    favouritesBefore = raw.Rows("SELECT _rowid_, * FROM VELMORCFavourites ORDER BY _rowid_");
  }
  ASSERT_EQ(before.size(), 2573u);
  auto shellBefore = Shell(file, "SELECT count(*) FROM MailboxGeneral WHERE [Display Name]='x';");
  if (shellBefore) EXPECT_NE(shellBefore->find("no such collation sequence: UNICODE_NOCASE"), std::string::npos);

  // A failure leaves the file as it was (here a table in the way of the
  // conversion's own).
  {
    RawDb raw(file);
    raw.Exec("CREATE TABLE velmo_converting_VELMORCFavourites(x)");
  }
  Connection conn;
  conn.Open(file.string());  // the old collation is still defined
  EXPECT_EQ(ErrorOf([&] { ConvertOldTextColumns(conn); }).Number(), kDbSyntaxOrExists);
  {
    RawDb raw(file);
    EXPECT_EQ(raw.Rows(rowsSql), before);
    EXPECT_EQ(raw.Rows("SELECT count(*) FROM sqlite_master WHERE sql LIKE '%UNICODE_NOCASE%'"),
              std::vector<std::string>{"2"});
    raw.Exec("DROP TABLE velmo_converting_VELMORCFavourites");
  }

  // A writer holding the file is waited for: the conversion does not end
  // while the writer's transaction is open, and ends once it commits.
  std::atomic<bool> writing{false};
  std::promise<void> commit;
  std::thread writer([&, committing = commit.get_future()] {
    Connection w;
    w.Open(file.string());
    w.BeginTrans();
    w.Execute("insert into Counter values(1)");
    writing = true;
    committing.wait();
    w.CommitTrans();
  });
  while (!writing) std::this_thread::yield();
  auto converting = std::async(std::launch::async, [&] { return ConvertOldTextColumns(conn); });
  EXPECT_EQ(converting.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout)
      << "the conversion waits for the writer";
  commit.set_value();
  EXPECT_EQ(converting.get(), 2);
  writer.join();
  EXPECT_EQ(ConvertOldTextColumns(conn), 0);  // once
  {
    RawDb raw(file);
    EXPECT_EQ(raw.Rows(rowsSql), before);
    EXPECT_EQ(raw.Rows("SELECT _rowid_, * FROM VELMORCFavourites ORDER BY _rowid_"), favouritesBefore);
    EXPECT_EQ(raw.Rows("SELECT count(*) FROM sqlite_master WHERE sql LIKE '%UNICODE_NOCASE%'"),
              std::vector<std::string>{"0"});
    EXPECT_EQ(raw.Rows("SELECT name FROM sqlite_master WHERE type='index'"), std::vector<std::string>{"ByName"});
    EXPECT_EQ(raw.Rows("SELECT n FROM Counter"), std::vector<std::string>{"1"});
  }

  // The program writes on; the stock shell queries text columns of several
  // tables, and finds the file sound.
  {
    Recordset rs;
    rs.Open("select * from MailboxGeneral", conn, adOpenKeyset, adLockOptimistic);
    rs.AddNew({Value("EX1"), Value("o=Velmor"), Value("MAILBOX 7")});
    rs.Close();
  }
  conn.Close();
  auto shell = [&](const std::string& sql) { return Shell(file, sql).value_or("<no shell>"); };
  if (!Shell(file, "SELECT 1;")) GTEST_SKIP() << "the sqlite3 shell is not installed";
  EXPECT_EQ(shell("SELECT count(*) FROM MailboxGeneral WHERE ServerName='EX1' AND [Display Name]='mailbox 1';"), "1\n");
  EXPECT_EQ(shell("SELECT count(*) FROM MailboxGeneral WHERE [Display Name]='MARIA MüLLER';"), "1\n");
  EXPECT_EQ(shell("SELECT DISTINCT ServerName FROM MailboxGeneral ORDER BY ServerName;"), "EX1\nex2\n");
  EXPECT_EQ(shell("SELECT ServerName, count(*) FROM MailboxGeneral GROUP BY ServerName ORDER BY 1;"),
            "EX1|1288\nex2|1286\n");
  EXPECT_EQ(shell("SELECT [Display Name] FROM MailboxGeneral WHERE [Display Name] IN ('mailbox 7','MAILBOX 8') "
                  "ORDER BY [Display Name], _rowid_;"),
            "MAILBOX 7\nMailbox 8\n");
  EXPECT_EQ(shell("SELECT ServerName FROM VELMORCFavourites WHERE IsDefaultSrv='yes' ORDER BY IsFavouriteSrv;"),
            "EX1\n");
  EXPECT_EQ(shell("CREATE INDEX ByServer ON MailboxGeneral(ServerName); PRAGMA integrity_check;"), "ok\n");
  // A write by another tool leaves the file sound for the program too.
  EXPECT_EQ(shell("INSERT INTO MailboxGeneral VALUES('EX3','o','Zed'); SELECT count(*) FROM MailboxGeneral "
                  "WHERE ServerName='ex3';"),
            "1\n");
  Connection again;
  again.Open(file.string());
  Recordset check;
  check.Open("pragma integrity_check", again);
  EXPECT_EQ(check[0].Text(), "ok");
}

TEST_F(Db, TheFirstFailedFlushEndsTheRecordsetsWritingAndCountsWhatWasLost) {
  // The file may grow by a few pages only: the first flush fits, the
  // second finds the disk full.
  Recordset pages;
  pages.Open("pragma page_count", conn);
  const long start = pages[0].Val().Long();
  pages.Close();
  conn.Execute("pragma max_page_count = " + std::to_string(start + 60));
  const std::string text(150, 'x');

  Recordset rs;
  rs.Open("select * from Items", conn, adOpenKeyset, adLockOptimistic);
  std::vector<std::string> errors;
  for (int i = 0; i < 5000; ++i) {
    try {
      rs.AddNew({Value(text), Value(i)});
    } catch (const ComError& e) {
      errors.push_back(std::to_string(i) + " " + e.Description());
    }
    // Room again after the failure: nothing is tried any more all the same.
    if (i == 2500) conn.Execute("pragma max_page_count = 1000000");
  }
  ASSERT_EQ(errors.size(), 3001u);  // the failing flush's row, then every later one at once
  EXPECT_EQ(errors.front(), "1999 Not enough space on disk.");
  EXPECT_EQ(errors.back(), "4999 Not enough space on disk.");
  EXPECT_EQ(rs.RowsNotWritten(), 4000);
  auto closed = ErrorOf([&] { rs.Close(); });
  EXPECT_EQ(closed.Number(), kDbCannotOpen);
  EXPECT_EQ(closed.Description(), "Not enough space on disk. 4000 added rows were not written.");
  EXPECT_EQ(rs.RowsNotWritten(), 4000);
  EXPECT_EQ(CountOf("select * from Items"), 1000);

  // No transaction is left behind: other connections and new recordsets
  // write at once.
  Connection other;
  other.Open(Cs());
  EXPECT_EQ(other.Execute("insert into Items values('other', '1')"), 1);
  AddItems(conn, "again", 10);
  EXPECT_EQ(CountOf("select * from Items"), 1011);
  rs.Open("select * from Items", conn, adOpenKeyset, adLockOptimistic);
  EXPECT_EQ(rs.RowsNotWritten(), 0);
}

// A page's rows, appended by recordsets of two connections of the thread,
// reach the file only with its commit, in the order they reach it without
// a page, or not at all; the write lock is free meanwhile. A page larger
// than its buffer goes through the temporary file. The commit calls back
// while it writes, and a call back saying no gives it up.
TEST_F(Db, APageIsWrittenWholeAtItsCommitOrNotAtAll) {
  const std::string text(60, 'p');
  auto fill = [&](int rows) {
    Recordset a, b;
    a.Open("select * from Items", conn, adOpenKeyset, adLockOptimistic);
    b.Open("select * from Items", file.string(), adOpenKeyset, adLockOptimistic);
    for (int i = 0; i < rows; ++i) {
      Recordset& rs = i % 3 ? a : b;
      rs.AddNew({Value(i % 3 ? "a" : "b"), i % 7 ? Value(text + std::to_string(i)) : Value::Null()});
      if (i % 500 == 499) b.Close(), b.Open("select * from Items", file.string(), adOpenKeyset, adLockOptimistic);
    }
  };
  auto rows = [&] {
    Recordset all;
    all.Open("select Source, ifnull(Num, 'NULL') from Items order by _rowid_", conn);
    std::vector<std::string> got;
    for (; !all.Eof(); all.MoveNext()) got.push_back(all[0L].Text() + all[1L].Text());
    conn.Execute("delete from Items");
    return got;
  };
  enum End { Commit, Discard, ScopeEnd, Refused, GivenUp };
  struct Case {
    const char* what;
    int rows;
    End end;
  };
  for (const Case& c : {Case{"small, committed", 3, Commit}, Case{"beyond the buffer, committed", 30000, Commit},
                        Case{"beyond the buffer, dropped", 30000, Discard}, Case{"left", 5, ScopeEnd},
                        Case{"refused at the commit", 30000, Refused}, Case{"given up", 30000, GivenUp}}) {
    SCOPED_TRACE(c.what);
    fill(c.rows);
    const std::vector<std::string> unheld = rows();
    if (c.end == Refused)
      conn.Execute("create trigger refuse before insert on Items when (select count(*) from Items) >= 20000 "
                   "begin select raise(abort, 'database or disk is full'); end");
    WriteJournal journal;
    {
      PageWrite page(Cs());
      fill(c.rows);
      EXPECT_EQ(CountOf("select * from Items"), 0);
      EXPECT_EQ(page.Count(), static_cast<size_t>(c.rows));
      Connection other;
      other.Open(Cs());
      EXPECT_EQ(other.Execute("insert into Items values ('other', 'free')"), 1);  // no lock held
      other.Execute("delete from Items");
      int calls = 0;
      if (c.end == Commit) page.Commit([&] { return ++calls > 0; });
      if (c.end == Commit) EXPECT_EQ(calls, c.rows / 64);
      if (c.end == GivenUp)
        EXPECT_EQ(ErrorOf([&] { page.Commit([&] { return ++calls < 10; }); }).Description(),
                  "The operation was canceled by the user. 30000 added rows were not written.");
      if (c.end == Discard) page.Discard();
      if (c.end == Refused)
        EXPECT_EQ(ErrorOf([&] { page.Commit(); }).Description(),
                  "database or disk is full 30000 added rows were not written.");
      if (c.end != ScopeEnd) EXPECT_EQ(page.Count(), 0u);
    }
    if (c.end == Refused) conn.Execute("drop trigger refuse");
    // The journal knows the rows once they are in the file.
    EXPECT_EQ(journal.Count(), c.end == Commit ? static_cast<size_t>(c.rows) : 0u);
    EXPECT_EQ(rows(), c.end == Commit ? unheld : std::vector<std::string>{});
  }
}

// Rows held past the buffer go to the system's temporary folder when the
// database's folder takes no file; a write there that fails names that
// folder.
TEST_F(Db, AHoldThatFailsNamesTheFolderOfItsTemporaryFile) {
  const auto spare = home / "spare";
  std::filesystem::create_directory(spare);
  const char* tmp = std::getenv("TMPDIR");
  const std::string previous = tmp ? tmp : "";
  ::setenv("TMPDIR", spare.c_str(), 1);
  rlimit limit{};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  const rlimit small{3 << 19, limit.rlim_max};  // 1.5 MiB: the second spill fails
  auto* xfsz = ::signal(SIGXFSZ, SIG_IGN);
  ::setrlimit(RLIMIT_FSIZE, &small);
  const std::string gone = (home / "gone" / "velmo.mdb").string();
  const std::vector<std::vector<Value>> rows(1000, {Value("held"), Value(std::string(100, 'n'))});
  PageWrite page(gone);
  const ComError why = ErrorOf([&] {
    for (int i = 0; i < 100; ++i) HoldRows(gone, "Items", {"Source", "Num"}, rows);
  });
  ::setrlimit(RLIMIT_FSIZE, &limit);
  ::signal(SIGXFSZ, xfsz);
  previous.empty() ? ::unsetenv("TMPDIR") : ::setenv("TMPDIR", previous.c_str(), 1);
  EXPECT_EQ(why.Description(),
            "Could not hold the rows in a temporary file in '" + spare.string() + "': File too large.");
}

// Rows held in the system's temporary folder (the database's folder takes
// no file) when that folder is full: the failure names it.
TEST_F(Db, AHoldInAFullTemporaryFolderNamesIt) {
  const auto spare = home / "spare";
  velmo::test::SmallFileSystem disk(spare, "256k");
  if (!disk.Mounted()) GTEST_SKIP() << "no small file system can be mounted here: " << disk.Why();
  disk.Fill();
  const char* tmp = std::getenv("TMPDIR");
  const std::string previous = tmp ? tmp : "";
  ::setenv("TMPDIR", spare.c_str(), 1);
  const std::string gone = (home / "gone" / "velmo.mdb").string();
  const std::vector<std::vector<Value>> rows(1000, {Value("held"), Value(std::string(100, 'n'))});
  PageWrite page(gone);
  const ComError why = ErrorOf([&] {
    for (int i = 0; i < 100; ++i) HoldRows(gone, "Items", {"Source", "Num"}, rows);
  });
  previous.empty() ? ::unsetenv("TMPDIR") : ::setenv("TMPDIR", previous.c_str(), 1);
  EXPECT_EQ(why.Description(), "Not enough space on disk. The temporary folder '" + spare.string() + "' is full.");
}

TEST_F(Db, ThreadConnectionIsKeptPerFileAndThreadUntilTheFileIsReplaced) {
  conn.Close();
  auto add = [&](Connection& c, const std::string& source) {
    Recordset rs;
    rs.Open("select * from Items", c, adOpenKeyset, adLockOptimistic);
    rs.AddNew({Value(source), Value(1)});
    rs.Close();
  };
  Connection& first = ThreadConnection(Cs());
  add(first, "call 1");
  // Between calls nothing is held: another process writes at once.
  {
    Holder holder(Cs(), home / "ready", 3);
    EXPECT_EQ(holder.Finish(), 0);
  }
  Connection& second = ThreadConnection(file.string());  // any form of the name
  EXPECT_EQ(&first, &second);
  add(second, "call 2");
  EXPECT_EQ(CountOf("select * from Items"), 5);

  Connection* elsewhere = nullptr;
  std::thread([&] { elsewhere = &ThreadConnection(Cs()); }).join();
  EXPECT_NE(elsewhere, &first);

  // Compaction on this thread lets go of the kept connection; the file
  // moved over the old one is opened afresh.
  auto copy = home / "COMPVELMO.mdb";
  JetEngine engine;
  engine.CompactDatabase(Cs(), copy.string());
  int32_t number = 0;
  std::string text;
  ASSERT_TRUE(MoveDatabaseFile(copy, file, number, text)) << text;
  engine.Release();
  Connection& third = ThreadConnection(Cs());
  add(third, "call 3");
  EXPECT_EQ(CountOf("select * from Items"), 6);

  // A file put in its place by other means is noticed too.
  auto other = home / "other.mdb";
  CreateDatabaseFile(other);
  {
    Connection c;
    c.Open(other.string());
    c.Execute("create table Items(Source char(20), Num text(10))");
  }
  ASSERT_TRUE(MoveDatabaseFile(other, file, number, text)) << text;
  add(ThreadConnection(Cs()), "new file");
  EXPECT_EQ(CountOf("select * from Items"), 1);

  // The connection to a file that is gone is let go with the next open.
  auto openFilesNamed = [](const std::string& name) {
    int n = 0;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
      std::error_code ec;
      if (std::filesystem::read_symlink(fd.path(), ec).string().find(name) != std::string::npos) ++n;
    }
    return n;
  };
  auto gone = home / "gone.mdb";
  CreateDatabaseFile(gone);
  ThreadConnection(gone.string());
  EXPECT_GT(openFilesNamed("gone.mdb"), 0);
  std::filesystem::remove(gone);
  CreateDatabaseFile(other);
  ThreadConnection(other.string());
  EXPECT_EQ(openFilesNamed("gone.mdb"), 0);
  ReleaseThreadConnections();
  EXPECT_EQ(openFilesNamed("other.mdb"), 0);
}

namespace {

// Runs the helper's compaction, as another user when given a copy of the
// helper made for that user; its output and exit status.
velmo::test::OtherUser::Result CompactAs(const velmo::test::OtherUser* user, const std::filesystem::path& src,
                                         const std::filesystem::path& dst) {
  std::string cmd = user ? user->Command() : "'" + std::string(DB_HOLDER) + "'";
  cmd += " --compact '" + src.string() + "' '" + dst.string() + "' 2>&1";
  return velmo::test::OtherUser::Run(cmd);
}

std::vector<std::string> FilesIn(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST_F(Db, CompactionKeepsPermissionsLeavesReadOnlyFilesAloneAndNoCompanionAfterAFullDisk) {
  if (const std::string why = velmo::test::OtherUser::CannotRun(); !why.empty()) GTEST_SKIP() << why;
  AddItems(conn, "main", 300);
  conn.Close();
  auto copy = home / "COMPVELMO.mdb";

  // The copy takes the original's mode and owner.
  ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
  ASSERT_EQ(::chown(file.c_str(), 65534, 65534), 0);
  auto [ok, okText] = CompactAs(nullptr, file, copy);
  ASSERT_EQ(ok, 0) << okText;
  struct stat st {};
  ASSERT_EQ(::stat(copy.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(st.st_uid, 65534u);
  std::filesystem::remove(copy);

  // A file its user may not write, in a folder the user may write, is left
  // as it is (root writes any file: the case runs as nobody).
  const auto folder = home / "nobody";
  std::filesystem::create_directory(folder);
  const auto mine = folder / "velmo.mdb";
  std::filesystem::copy_file(file, mine);
  ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
  ASSERT_EQ(::chown(mine.c_str(), 65534, 65534), 0);
  ASSERT_EQ(::chmod(mine.c_str(), 0444), 0);
  struct stat before {};
  ::stat(mine.c_str(), &before);
  {
    const velmo::test::OtherUser nobody(DB_HOLDER);
    auto [ro, roText] = CompactAs(&nobody, mine, folder / "COMPVELMO.mdb");
    EXPECT_EQ(ro, 1);
    EXPECT_NE(roText.find("cannot be written"), std::string::npos) << roText;
    EXPECT_NE(roText.find(mine.string()), std::string::npos) << roText;
    struct stat after {};
    ::stat(mine.c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 07777, 0444u);
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"velmo.mdb"});
  }

  // A full disk: on a small file system of its own, where one can be
  // mounted.
  const auto small = home / "small";
  std::filesystem::create_directory(small);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=4m") != 0)
    GTEST_SKIP() << "no small file system can be mounted here: " << std::strerror(errno);
  struct Unmount {
    std::filesystem::path at;
    ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
  } unmount{small};
  const auto full = small / "velmo.mdb";
  CreateDatabaseFile(full);
  {
    Connection c;
    c.Open(full.string());
    c.Execute("create table Items(Source char(20), Num memo)");
    Recordset rs;
    rs.Open("select * from Items", c, adOpenKeyset, adLockOptimistic);
    for (int i = 0; i < 1200; ++i) rs.AddNew({Value("big"), Value(std::string(1000, 'a' + i % 26))});
    rs.Close();
  }
  // Another file takes all but 350 KB: too little for a copy of the
  // database, enough for one flush of the rows below but not two.
  {
    struct statvfs fs {};
    ASSERT_EQ(::statvfs(small.c_str(), &fs), 0);
    const long long free = static_cast<long long>(fs.f_bavail) * fs.f_frsize;
    std::ofstream filler(small / "filler", std::ios::binary);
    const std::string block(4096, 'f');
    for (long long left = free - 350 * 1024; left > 0; left -= 4096) filler.write(block.data(), 4096);
  }
  auto [fullStatus, fullText] = CompactAs(nullptr, full, small / "COMPVELMO.mdb");
  EXPECT_EQ(fullStatus, 1);
  EXPECT_EQ(fullText, "Not enough space on disk.\n");
  EXPECT_EQ(FilesIn(small), (std::vector<std::string>{"filler", "velmo.mdb", "velmo.mdb.lock"}));

  // Writing on the full disk: the first failed flush ends it.
  Connection c;
  c.Open(full.string());
  Recordset rs;
  rs.Open("select * from Items", c, adOpenKeyset, adLockOptimistic);
  long failures = 0;
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < 5000; ++i) {
    try {
      rs.AddNew({Value("more"), Value(std::string(200, 'z'))});
    } catch (const ComError&) {
      ++failures;
    }
  }
  const long notWritten = rs.RowsNotWritten();
  EXPECT_GT(failures, 0);
  EXPECT_EQ(ErrorOf([&] { rs.Close(); }).Description(),
            "Not enough space on disk. " + std::to_string(notWritten) + " added rows were not written.");
  Recordset count;
  count.Open("select count(*) from Items where Source='more'", c);
  EXPECT_EQ(count[0].Val().Long(), 5000 - notWritten);
  EXPECT_EQ(5000 - notWritten, 1000);  // the first flush, whole
  count.Close();
  std::printf("full disk: %ld of 5000 rows not written, %ld failed adds, %.3f s\n", notWritten, failures,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
}

TEST_F(Db, CompactionInPlaceCutWrittenMeanwhileOrOnAFullDiskLeavesTheFileAsItWasAndKeepsRowIds) {
  // Pages to reclaim, as a cleared collection leaves them.
  conn.Execute("create table Pad(Num text(10), Body memo)");
  conn.Execute("with recursive n(i) as (select 1 union all select i + 1 from n where i < 6000) "
               "insert into Pad select i, printf('%01000d', i) from n");
  conn.Execute("delete from Pad where _rowid_ <= 3000");
  conn.Close();
  const std::string bytes = velmo::test::TestHome::Slurp(file);
  auto freePages = [&] {
    Connection c;
    c.Open(Cs());
    Recordset rs;
    rs.Open("pragma freelist_count", c);
    return rs[0].Val().Long();
  };
  ASSERT_GT(freePages(), 100);

  // Cut by the lock-wait hook (as by a stop): undone whole.
  int calls = 0;
  SetLockWaitHook([&] { return ++calls < 0; });
  const std::string copy = (home / "COMPVELMO.mdb").string();
  const ComError cut = ErrorOf([&] { JetEngine().CompactInPlace(Cs(), copy); });
  SetLockWaitHook(nullptr);
  EXPECT_EQ(cut.Description(), "The operation was canceled by the user.");
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(velmo::test::TestHome::Slurp(file), bytes);

  // Another program commits while the copy is made: given up, its row kept.
  {
    RawDb other(file);
    SetLockWaitHook([&] {
      if (calls++ == 1) other.Exec("INSERT INTO Pad VALUES ('other', 'committed during the copy')");
      return true;
    });
    const ComError written = ErrorOf([&] { JetEngine().CompactInPlace(Cs(), copy); });
    SetLockWaitHook(nullptr);
    EXPECT_EQ(written.Description(), "The database '" + file.string() +
                                         "' was written by another program while it was compacted; it is used as "
                                         "it is, uncompacted.");
    EXPECT_EQ(other.Rows("SELECT count(*) FROM Pad WHERE Num = 'other'"), std::vector<std::string>{"1"});
    EXPECT_GT(freePages(), 100);
    EXPECT_FALSE(std::filesystem::exists(copy));
  }

  // Too little room beside the file for the copy, or for the log the copy
  // is written back through: the reason, the file as it was, no copy left.
  const unsigned long long leave[] = {1 << 20, 4608 << 10};  // the copy takes 3 MB
  for (const unsigned long long left : leave) {
    SCOPED_TRACE(left);
    const auto small = home / ("small-" + std::to_string(left));
    velmo::test::SmallFileSystem fs(small, "16m");
    if (!fs.Mounted()) {
      std::printf("%llu bytes left: skipped, no small file system can be mounted here: %s\n", left, fs.Why().c_str());
      continue;
    }
    const auto db = small / "velmo.mdb";
    std::filesystem::copy_file(file, db);
    const std::string was = velmo::test::TestHome::Slurp(db);
    fs.Fill(left);
    const ComError full = ErrorOf([&] { JetEngine().CompactInPlace(db.string(), db.string() + ".copy"); });
    EXPECT_EQ(full.Description(), "Not enough space on disk. Compacting needs room for a compacted copy of the "
                                  "database (up to 6 MB) and for its log (as much again) beside '" + db.string() +
                                      "'; the database is left as it was.");
    EXPECT_EQ(velmo::test::TestHome::Slurp(db), was);
    EXPECT_FALSE(std::filesystem::exists(db.string() + ".copy"));
    EXPECT_TRUE(!std::filesystem::exists(db.string() + "-wal") || std::filesystem::file_size(db.string() + "-wal") == 0);
  }

  // With room, the same file compacts, every row kept with its row id.
  JetEngine().CompactInPlace(Cs(), copy);
  EXPECT_EQ(freePages(), 0);
  EXPECT_EQ(RawDb(file).Rows("select count(*), min(_rowid_), max(_rowid_) from Pad"),
            std::vector<std::string>{"3001|3001|6001"});
  EXPECT_FALSE(std::filesystem::exists(copy));
}

TEST_F(Db, StatementsReusedAcrossOpensFollowTableChanges) {
  auto columns = [&](Connection& c) {
    Recordset rs;
    rs.Open("select * from Items", c, adOpenKeyset, adLockOptimistic);
    std::vector<std::string> names;
    for (long i = 0; i < rs.GetFields().Count(); ++i) names.push_back(rs[i].Name());
    rs.AddNew(std::vector<Value>(names.size(), Value("v")));
    rs.Close();
    return names;
  };
  EXPECT_EQ(columns(conn), (std::vector<std::string>{"Source", "Num"}));
  EXPECT_EQ(columns(conn), (std::vector<std::string>{"Source", "Num"}));
  // Changed by this connection, and by another one.
  conn.Execute("drop table Items");
  conn.Execute("create table Items(A text(5), B text(5), C memo)");
  EXPECT_EQ(columns(conn), (std::vector<std::string>{"A", "B", "C"}));
  {
    Connection other;
    other.Open(Cs());
    other.Execute("drop table Items");
    other.Execute("create table Items(Only text(5))");
  }
  EXPECT_EQ(columns(conn), std::vector<std::string>{"Only"});
  EXPECT_EQ(CountOf("select * from Items where Only='v'"), 1);
}
