// A collection that cannot finish: the server lost part-way through a large
// container (killed, or stopped so that it never answers) and a database
// that refuses the rows. The call hands the failure back as its error item,
// logs it, and takes back exactly the rows it wrote, so the page is not
// taken as collected and the next visit collects it whole; the browse
// window shows the failure. And the write journal that makes the taking
// back exact.
#include <QTabBar>
#include <QTreeWidget>

#include <chrono>
#include <functional>
#include <future>
#include <iostream>
#include <map>
#include <set>
#include <stdexcept>
#include <thread>

#include "Directory.h"
#include "FlexGrid.h"
#include "LdapProxy.h"
#include "Mdifrm.h"
#include "QtTestApp.h"
#include "SampleKit.h"
#include "WriteJournal.h"
#include "frmExch.h"
#include "modExch.h"
#include "modExchTree.h"
#include "modGlobals.h"

using namespace collector_test;
using velmo::test::LdapProxy;
namespace db = velmo::db;

namespace {

const std::string kBulk = kLakeRecipients + "/cn=Bulk";
constexpr long kBulkMailboxes = 1500;
const std::string kLost = "Recipients Container@@ -2147016646  @@   The server is not operational.";
constexpr int kRequestSeconds = 3;

double Since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

long CountRows(const std::filesystem::path& dir, const std::string& table, const std::string& where) {
  db::Connection conn;
  conn.Open((dir / "velmo.mdb").string());
  db::Recordset rs;
  rs.Open("select * from " + table + " where " + where, conn, db::adOpenKeyset, db::adLockReadOnly);
  const long n = rs.RecordCount();
  rs.Close();
  conn.Close();
  return n;
}

// An empty inventory in place of the one there.
void FreshInventory(const std::filesystem::path& dir) {
  for (const char* name : {"velmo.mdb", "velmo.mdb-wal", "velmo.mdb-shm"}) std::filesystem::remove(dir / name);
  velmo::test::CreateInventory(dir);
}

// Rows another window or process wrote before: they must outlive any
// taking back.
void WriteEarlierRows(const std::filesystem::path& dir, const std::string& table, const std::string& path) {
  db::Connection conn;
  conn.Open((dir / "velmo.mdb").string());
  for (const char* name : {"Earlier One", "Earlier Two"})
    conn.Execute("insert into " + table + " (ServerName, [Object Path], [Display Name]) values (?, ?, ?)",
                 {db::Value("EX1"), db::Value(path), db::Value(name)});
  conn.Close();
}

long LinesWith(const std::vector<std::string>& lines, const std::string& text) {
  long n = 0;
  for (const auto& l : lines) n += l.find(text) != std::string::npos;
  return n;
}

// One slapd with the large sample for the whole program, behind a proxy
// that loses it on cue.
class LargeServer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    slapd_ = new velmo::test::PrivateSlapd("--large " + std::to_string(kBulkMailboxes));
    proxy_ = new LdapProxy(slapd_->port());
  }
  static void TearDownTestSuite() {
    delete proxy_;
    delete slapd_;
    proxy_ = nullptr;
    slapd_ = nullptr;
  }
  void SetUp() override {
    SetEnv("VELMORCAST_PROVIDERS", SampleProviders());
    hosts_ = std::make_unique<velmo::test::UseSampleDirectory>(proxy_->WriteHostsFile(kit_.home().dir()));
    velmo::ads::ResetSessions();
    velmo::ads::SetPageSize(250);
    velmo::ads::SetTimeouts(2, kRequestSeconds);
  }
  void TearDown() override {
    proxy_->Heal();
    velmo::ads::ResetSessions();
    velmo::ads::SetPageSize(1000);
    velmo::ads::SetTimeouts(10, 120);
    ::unsetenv("VELMORCAST_PROVIDERS");
  }
  void Heal() {
    proxy_->Heal();
    velmo::ads::ResetSessions();
  }
  const std::filesystem::path& dir() { return kit_.home().dir(); }

  // The main window (no start-up connect) with a browse window on EX1 of
  // the Lakeside site; the browse window is null when no slot was free.
  std::pair<Mdifrm*, frmExch*> OpenEX1Window() {
    velmo::test::TestApp("test_collector_lost_server");
    gbContextMenuNoExec = true;
    auto* main = new Mdifrm();
    main->iConnectCount = 1;
    main->show();
    velmo::test::PumpEvents();
    auto* w = new frmExch();
    if (OpenExchWindowSlot(w) <= 0) return {main, nullptr};
    w->strServerName = "EX1";
    w->strOrganizationName = "Velmor";
    w->strSiteName = "Lakeside";
    w->Window()->show();
    velmo::test::PumpEvents();
    return {main, w};
  }
  static void CloseWindows(Mdifrm* main, frmExch* w) {
    w->Window()->close();
    velmo::test::PumpEvents();
    main->close();
    delete main;
    velmo::test::PumpEvents();
    gConn.reset();
  }

  static velmo::test::PrivateSlapd* slapd_;
  static LdapProxy* proxy_;
  Kit kit_;
  std::unique_ptr<velmo::test::UseSampleDirectory> hosts_;
};
velmo::test::PrivateSlapd* LargeServer::slapd_ = nullptr;
LdapProxy* LargeServer::proxy_ = nullptr;

}  // namespace

// The server lost during the General and Permissions pages of a container of
// 1,500 mailboxes, during a "Server Recipients" walk, and during the
// custom-recipient and list pages, killed or stopped.
TEST_F(LargeServer, AServerLostPartWayLeavesNoRowOfTheCallAndTheNextCallCollectsThePageWhole) {
  struct Case {
    const char* what;
    std::string kind;  // the method: Mailbox, CR, DL or PF
    int16_t page;
    const char* table;
    std::string path;  // what the call is given
    LdapProxy::Loss loss;
    long entries;  // search entries that pass before the loss; below 0: that many before the call's last
    const char* probe;  // an object of the container ("": the rows of a whole call are counted instead)
    long objects;       // objects of the container the page has rows for
  };
  const Case cases[] = {
      {"General, killed", "Mailbox", 0, "MailboxGeneral", kBulk, LdapProxy::Loss::Kill, 1300, "Bulk User 01000",
       kBulkMailboxes},
      {"General, stopped", "Mailbox", 0, "MailboxGeneral", kBulk, LdapProxy::Loss::Stop, 1300, "Bulk User 01000",
       kBulkMailboxes},
      {"Permissions, killed", "Mailbox", 2, "MailboxPerm", kBulk, LdapProxy::Loss::Kill, 700, "Bulk User 01000",
       kBulkMailboxes},
      {"Permissions, stopped", "Mailbox", 2, "MailboxPerm", kBulk, LdapProxy::Loss::Stop, 700, "Bulk User 01000",
       kBulkMailboxes},
      {"Server Recipients, killed", "Mailbox", 0, "MailboxGeneral", "Server Recipients", LdapProxy::Loss::Kill, 1300,
       "Bulk User 01000", kBulkMailboxes},
      {"custom recipients, killed", "CR", 0, "CRGeneral", kBulk, LdapProxy::Loss::Kill, -30, "Bulk Contact 01000",
       kBulkMailboxes / 20},
      {"custom recipients' permissions, stopped", "CR", 2, "CRPerm", kBulk, LdapProxy::Loss::Stop, -30,
       "Bulk Contact 01000", kBulkMailboxes / 20},
      {"lists, killed", "DL", 0, "DLGeneral", kBulk, LdapProxy::Loss::Kill, -3, "Bulk List 01000",
       kBulkMailboxes / 200},
      {"folders' permissions, killed", "PF", 1, "PFPerm", kLakeRecipients, LdapProxy::Loss::Kill, -2, "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // A fresh database each time, with two rows of the same server written
    // earlier by someone else (in the Bulk container).
    FreshInventory(dir());
    WriteEarlierRows(dir(), c.table, kBulk);
    const std::string ours = "ServerName = 'EX1' and [Display Name] not like 'Earlier%'";
    const auto linesBefore = kit_.LogLines().size();

    auto collector = kit_.NewCollector();
    auto collect = [&](std::string& err) {
      if (c.kind == "CR")
        collector->GetCustomRecipInfo(c.page, "EX1", "", "", c.path, &err);
      else if (c.kind == "DL")
        collector->GetDLInfo(c.page, "EX1", "", "", c.path, &err);
      else if (c.kind == "PF")
        collector->GetPublicFolderInfo(c.page, "EX1", "", "", 0, c.path, &err);
      else
        collector->GetMailboxInfo(c.page, "EX1", "", "", c.path, &err);
    };
    long entries = c.entries;
    long wholeRows = 0;
    if (entries < 0) {
      // Counted back from the end of a whole call of the same page.
      std::string dry;
      proxy_->Arm(1L << 40, c.loss);
      collect(dry);
      entries += proxy_->Passed();
      wholeRows = CountRows(dir(), c.table, ours);
      FreshInventory(dir());
      WriteEarlierRows(dir(), c.table, kBulk);
    }
    std::string err = "stale";
    proxy_->Arm(entries, c.loss);
    auto call = std::async(std::launch::async, [&] { collect(err); });
    ASSERT_TRUE(proxy_->WaitLost(120));
    const auto lostAt = std::chrono::steady_clock::now();
    if (c.loss == LdapProxy::Loss::Stop && c.entries > 0) {
      // While the call waits for a server that never answers, no row of
      // the page it has half read is in the file.
      long seen = 0;
      while (call.wait_for(std::chrono::milliseconds(20)) == std::future_status::timeout)
        seen = std::max(seen, CountRows(dir(), c.table, ours));
      EXPECT_EQ(seen, 0) << "rows seen while the call still waits";
    }
    call.get();
    const double afterLoss = Since(lostAt);

    // The item a failed bind of the container gives (the list method spells
    // its kind in lower case).
    EXPECT_EQ(err, c.kind == "DL" || c.kind == "PF" ? "Recipients container" + kLost.substr(20) : kLost);
    EXPECT_EQ(CountRows(dir(), c.table, ours), 0);
    EXPECT_EQ(CountRows(dir(), c.table, "[Display Name] like 'Earlier%'"), 2);
    const auto lines = kit_.LogLines();
    std::vector<std::string> added(lines.begin() + static_cast<long>(linesBefore), lines.end());
    EXPECT_EQ(LinesWith(added, "      -2147016646      The server is not operational.      Collecting the "), 1);
    EXPECT_EQ(LinesWith(added, "Removing the rows"), 0);
    // A stopped server costs the one request that waits for it; a killed
    // one nothing. (The bound is short here: SetUp lowers it; the margin is
    // for a machine busy with other tests.)
    EXPECT_LT(afterLoss, c.loss == LdapProxy::Loss::Stop ? kRequestSeconds + 2.0 : 2.0);
    std::cerr << c.what << ": returned " << afterLoss << " s after the loss\n";
    // A later call of the same collection asks nothing of the lost server
    // and logs nothing: it hands the same failure back.
    velmo::ads::ResetStats();
    std::string later;
    collect(later);
    EXPECT_EQ(later, err);
    EXPECT_EQ(velmo::ads::Stats().connects + velmo::ads::Stats().searches, 0);
    EXPECT_EQ(kit_.LogLines().size(), lines.size());

    // The next visit (a collector of its own), with the server back,
    // collects the page whole.
    Heal();
    collector = kit_.NewCollector();
    err.clear();
    collect(err);
    EXPECT_EQ(err, "");
    if (!*c.probe) {
      EXPECT_GT(wholeRows, 0);
      EXPECT_EQ(CountRows(dir(), c.table, ours), wholeRows);
      continue;
    }
    const long perObject = CountRows(dir(), c.table, "[Display Name] = " + db::SqlQuote(c.probe));
    EXPECT_GE(perObject, 1);
    EXPECT_EQ(CountRows(dir(), c.table, "[Object Path] = " + db::SqlQuote(kBulk) + " and " + ours),
              c.objects * perObject);
    if (c.path == "Server Recipients")
      EXPECT_GT(CountRows(dir(), c.table, ours), (kBulkMailboxes + kBulkMailboxes / 5) * perObject);
    // The whole walk takes the place of what single containers' pages of
    // the server wrote into the table before it; any other call leaves them.
    EXPECT_EQ(CountRows(dir(), c.table, "[Display Name] like 'Earlier%'"), c.path == "Server Recipients" ? 0 : 2);
  }
}

// The server lost at points spread over a server call (System Attendant,
// MTA, the containers and the walk below the site): wherever it happens, the
// call reports it and none of the four tables it fills keeps a row of it.
TEST_F(LargeServer, AServerCallLostAnywhereLeavesNoRowOfItsFourTables) {
  const char* const tables[] = {"ContainerInfo", "ServerObjectsInfo", "ServerObjectsPerm", "DiagLogging"};
  const std::string ours = "ServerName = 'EX1' and ifnull([Display Name], '') not like 'Earlier%'";
  auto counts = [&] {
    std::vector<long> n;
    for (const char* t : tables) n.push_back(CountRows(dir(), t, ours));
    return n;
  };
  auto prepare = [&] {
    FreshInventory(dir());
    WriteEarlierRows(dir(), "ContainerInfo", kBulk);
    WriteEarlierRows(dir(), "ServerObjectsPerm", kBulk);
  };

  // Whole calls first: the entries the set-up reads, those of the whole
  // call, and the rows it writes.
  prepare();
  auto collector = kit_.NewCollector();
  proxy_->Arm(1L << 40, LdapProxy::Loss::Kill);
  collector->GetObjectsInContainer("EX1", "", "");
  const long setUp = proxy_->Passed();
  std::string err;
  proxy_->Arm(1L << 40, LdapProxy::Loss::Kill);
  collector->GetServerInfo("EX1", "", "", &err);
  const long whole = proxy_->Passed();
  const std::vector<long> wholeRows = counts();
  ASSERT_EQ(err, "___");
  ASSERT_GT(whole, setUp + 10);
  for (long n : wholeRows) ASSERT_GT(n, 0);

  struct Point {
    long entries;
    LdapProxy::Loss loss;
  };
  // Every entry around the end of the set-up (the server's own objects are
  // read there), then points spread over the rest.
  std::vector<Point> points;
  for (long k = setUp - 3; k <= setUp + 2; ++k) points.push_back({k, LdapProxy::Loss::Kill});
  for (int i = 1; i < 5; ++i) points.push_back({setUp + 2 + (whole - setUp) * i / 5, LdapProxy::Loss::Kill});
  points.push_back({whole - 1, LdapProxy::Loss::Kill});
  points.push_back({(setUp + whole) / 2, LdapProxy::Loss::Stop});
  std::set<std::string> kinds;  // the objects whose reading met the loss
  for (const auto& p : points) {
    SCOPED_TRACE("lost after " + std::to_string(p.entries) + " of " + std::to_string(whole) + " entries" +
                 (p.loss == LdapProxy::Loss::Stop ? ", stopped" : ", killed"));
    prepare();
    Heal();
    proxy_->Arm(p.entries, p.loss);
    const auto start = std::chrono::steady_clock::now();
    err = "stale";
    collector = kit_.NewCollector();
    collector->GetServerInfo("EX1", "", "", &err);
    EXPECT_LT(Since(start), 2 * kRequestSeconds + 2.5);
    const size_t at = err.find("@@    -2147016646  @@   The server is not operational.");
    if (at != std::string::npos) {
      kinds.insert(err.substr(err.find_first_not_of('_'), at - err.find_first_not_of('_')));
    } else {
      // Lost while the call looked for the server's site: the set-up fails
      // as it does for a server it cannot find, before anything is written.
      EXPECT_EQ(err, "");
      EXPECT_NE(kit_.LogLines().back().find("GetServerInfo End"), std::string::npos);
    }
    EXPECT_EQ(counts(), std::vector<long>(4, 0));
    EXPECT_EQ(CountRows(dir(), "ContainerInfo", "[Display Name] like 'Earlier%'"), 2);
    EXPECT_EQ(CountRows(dir(), "ServerObjectsPerm", "[Display Name] like 'Earlier%'"), 2);

    Heal();
    kit_.NewCollector()->GetServerInfo("EX1", "", "", &err);
    EXPECT_EQ(err, "___");
    EXPECT_EQ(counts(), wholeRows);
  }
  for (const char* kind : {"Microsoft System Attendant object", "Message Transfer Agent object", "Site container"})
    EXPECT_EQ(kinds.count(kind), 1u) << kind;
}

// A database that refuses the rows part-way (as a full disk does): the call
// stops writing at the first refusal, logs one line, hands the failure back
// and takes back the rows that did reach the file.
TEST_F(LargeServer, ARefusedWriteEndsTheCallsWritingAndTakesBackWhatItWrote) {
  using Call = std::function<void(_Exch55Info&, std::string&)>;
  struct Case {
    const char* what;
    Call call;
    const char* refusing;  // the table that refuses
    long acceptRows;       // rows of the call it takes before it refuses
    std::vector<std::string> tables;  // every table the call fills
    std::string item;                 // how the error item begins
    const char* end;                  // the end trace of the method
    long rowsLeft = 0;  // rows the taking back cannot delete (deletes refused too); -1: those of the
                        // pages written before the refusal
  };
  auto page = [](int16_t p) {
    return [p](_Exch55Info& c, std::string& err) { c.GetMailboxInfo(p, "EX1", "", "", kBulk, &err); };
  };
  const Case cases[] = {
      // The page is refused at its end, after its 1,000th row (General) or
      // 500th (Permissions, rows of the native class): none of it stays.
      {"General", page(0), "MailboxGeneral", 1000, {"MailboxGeneral"}, "Recipients Container@@ ",
       "GetMailboxCustomRecipInfo End"},
      {"Permissions", page(2), "MailboxPerm", 500, {"MailboxPerm"}, "Recipients Container@@ ",
       "GetMailboxCustomRecipInfo End"},
      // A walk over the site's containers whose later page is refused, in a
      // file that refuses the deletes as well: the earlier pages stay, and
      // the log says how many rows.
      {"Server Recipients, deletes refused too",
       [](_Exch55Info& c, std::string& err) { c.GetMailboxInfo(0, "EX1", "", "", "Server Recipients", &err); },
       "MailboxGeneral", 1000, {"MailboxGeneral"}, "Recipients Container@@ ", "GetMailboxCustomRecipInfo End", -1},
      // The configuration readers: a later protocol's or connector's
      // permission rows refused, the earlier ones' rows of every table go.
      {"site protocols", [](_Exch55Info& c, std::string& err) { c.GetProtocolInfo("EX1", "", "", &err); },
       "ProtocolPerm", 3, {"ProtocolGeneral", "ProtocolAuthFormat", "ProtocolMiscInfo", "ProtocolPerm"},
       "_Protocols container@@  ", "GetProtocolInfo End"},
      {"connectors", [](_Exch55Info& c, std::string& err) { c.GetConnectorInfo("EX1", "", "", &err); },
       "ConnectorPerm", 2, {"ConnectorGeneral", "ConnectorMiscInfo", "ConnectorPerm"}, "_Connections container@@    ",
       "GetConnectorInfo End"},
  };
  const std::string ours = "ServerName = 'EX1' and ifnull([Display Name], '') not like 'Earlier%'";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FreshInventory(dir());
    WriteEarlierRows(dir(), c.refusing, kBulk);
    {
      db::Connection conn;
      conn.Open((dir() / "velmo.mdb").string());
      conn.Execute(std::string("create trigger full_disk before insert on ") + c.refusing +
                   " when (select count(*) from " + c.refusing + ") >= " + std::to_string(c.acceptRows + 2) +
                   " begin select raise(rollback, 'database or disk is full'); end");
      if (c.rowsLeft)
        conn.Execute(std::string("create trigger no_delete before delete on ") + c.refusing +
                     " begin select raise(abort, 'disk I/O error'); end");
      conn.Close();
    }
    const auto linesBefore = kit_.LogLines().size();
    auto collector = kit_.NewCollector();
    std::string err;
    c.call(*collector, err);

    const size_t at = err.find(c.item);
    EXPECT_NE(at, std::string::npos) << err;
    EXPECT_NE(err.find("database or disk is full", at), std::string::npos) << err;
    const long rowsLeft = c.rowsLeft < 0 ? CountRows(dir(), c.refusing, ours) : c.rowsLeft;
    if (c.rowsLeft < 0) EXPECT_TRUE(rowsLeft > 0 && rowsLeft < c.acceptRows) << rowsLeft;
    for (const auto& t : c.tables) EXPECT_EQ(CountRows(dir(), t, ours), t == c.refusing ? rowsLeft : 0) << t;
    EXPECT_EQ(CountRows(dir(), c.refusing, "[Display Name] like 'Earlier%'"), 2);
    const auto lines = kit_.LogLines();
    std::vector<std::string> added(lines.begin() + static_cast<long>(linesBefore), lines.end());
    // One line tells the refusal; nothing was written after it (the native
    // class logs each refused call of its own).
    EXPECT_EQ(LinesWith(added, "database or disk is full"), 1);
    EXPECT_LE(LinesWith(added, "GetPermissions Database Error"), 1);
    EXPECT_GE(LinesWith(added, c.end), 1);
    EXPECT_EQ(LinesWith(added, "disk I/O error      Removing the rows of an unfinished collection from '" +
                                   std::string(c.refusing) + "' (" + std::to_string(rowsLeft) + " rows left)"),
              c.rowsLeft ? 1 : 0);
    // The refused page cuts the collection as a lost server does: the
    // object says so, and a later call of it writes and logs nothing.
    int32_t number = 0;
    std::string why;
    auto outcome = std::dynamic_pointer_cast<_Exch55InfoOutcome>(collector);
    EXPECT_TRUE(outcome && outcome->CollectionCut(number, why));
    EXPECT_NE(why.find("database or disk is full"), std::string::npos) << why;
    std::string later;
    c.call(*collector, later);
    EXPECT_NE(err.find(later), std::string::npos) << later;
    EXPECT_EQ(kit_.LogLines().size(), lines.size());
    if (c.rowsLeft) continue;
    collector = kit_.NewCollector();

    {
      db::Connection conn;
      conn.Open((dir() / "velmo.mdb").string());
      conn.Execute("drop trigger full_disk");
      conn.Close();
    }
    std::vector<long> whole;
    c.call(*collector, err);
    EXPECT_EQ(err.find("@@"), std::string::npos) << err;
    for (const auto& t : c.tables) whole.push_back(CountRows(dir(), t, ours));
    if (c.tables.size() == 1) {
      const long perMailbox = CountRows(dir(), c.refusing, "[Display Name] = 'Bulk User 01000'");
      EXPECT_EQ(whole[0], kBulkMailboxes * perMailbox);
    }
    // More rows than the refusing table took before.
    EXPECT_GT(whole.back(), c.acceptRows);
  }
}

// An exception part-way through a page (here the wait hook's, thrown while
// the call waits for a stopped server) ends the call as a lost server does:
// none of its rows is left.
TEST_F(LargeServer, AnExceptionPartWayTakesBackTheRowsOfTheCall) {
  FreshInventory(dir());
  WriteEarlierRows(dir(), "MailboxGeneral", kBulk);
  velmo::ads::SetWaitHook([] {
    if (proxy_->Lost()) throw std::runtime_error("The wait was broken off.");
    return true;
  });
  std::string err;
  proxy_->Arm(700, LdapProxy::Loss::Stop);
  kit_.NewCollector()->GetMailboxInfo(0, "EX1", "", "", kBulk, &err);
  velmo::ads::SetWaitHook(nullptr);
  EXPECT_EQ(err, "Recipients Container@@ -2147467259  @@   The wait was broken off.");
  EXPECT_EQ(CountRows(dir(), "MailboxGeneral", "[Display Name] not like 'Earlier%'"), 0);
  EXPECT_EQ(CountRows(dir(), "MailboxGeneral", "[Display Name] like 'Earlier%'"), 2);
}

// The browse window shows the lost server as it shows bind errors, shows no
// partial page, and collects the page whole on the next visit.
TEST_F(LargeServer, TheBrowseWindowShowsTheLostServerAndCollectsThePageOnTheNextVisit) {
  auto [main, w] = OpenEX1Window();
  ASSERT_NE(w, nullptr);
  FindTreeNode(*w->tvwServers, kLakeRecipients)->setExpanded(true);
  QTreeWidgetItem* bulk = FindTreeNode(*w->tvwServers, kBulk);
  ASSERT_NE(bulk, nullptr);
  w->tvwServers_NodeClick(bulk);
  kit_.ui().clear();

  // The Mailboxes tab opens on its summary, read from the General table.
  proxy_->Arm(1300, LdapProxy::Loss::Kill);
  w->ClickTypeTab(1);
  EXPECT_EQ(w->PropTabKey(), "MailboxesSummary");
  EXPECT_EQ(GetTableNameFor(w->PropTabKey(), "Bulk"), "MailboxGeneral");
  auto shown = kit_.ui().shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].prompt.rfind("Error occured while binding to the following item(s) : \r\n\r\n" + kLost +
                                      "\r\n\r\nPlease ensure ",
                                  0),
            0u)
      << shown[0].prompt;
  EXPECT_EQ(w->Grd1()->Rows(), 1);  // no partial page

  // The General page, with the server back: collected whole.
  Heal();
  kit_.ui().clear();
  w->ClickPropTab(1);
  EXPECT_EQ(w->PropTabKey(), "MailboxesGeneral");
  EXPECT_TRUE(kit_.ui().shown().empty());
  EXPECT_EQ(w->Grd1()->Rows() - 1, kBulkMailboxes);

  CloseWindows(main, w);
}

// cn=Bulk's Mailboxes page first, then EX1's Server Recipients page: a
// walk cut by the server lost part-way shows none of the mailboxes (not
// those cn=Bulk's page wrote either); with the server back, the page holds
// every mailbox homed on EX1 in every container of the site, the file each
// mailbox once per container, and cn=Bulk's page what it held.
TEST_F(LargeServer, TheServerRecipientsPageAfterALargeContainersPageHoldsEveryMailboxOfTheServer) {
  // Homed on EX1: every second mailbox of cn=Bulk and of its two tenth-size
  // neighbours, and the four of the small sample.
  constexpr long kHomedOnEX1 = kBulkMailboxes / 2 + 2 * (kBulkMailboxes / 10 / 2) + 4;
  constexpr long kSiteMailboxes = kBulkMailboxes + 2 * (kBulkMailboxes / 10) + 6;
  const std::string serverRecipients = "o=Velmor/ou=Lakeside/cn=Configuration/cn=Servers/cn=EX1/cn=Server Recipients";
  auto [main, w] = OpenEX1Window();
  ASSERT_NE(w, nullptr);
  FindTreeNode(*w->tvwServers, kLakeRecipients)->setExpanded(true);
  ASSERT_NE(FindTreeNode(*w->tvwServers, kBulk), nullptr);
  w->tvwServers_NodeClick(FindTreeNode(*w->tvwServers, kBulk));
  w->ClickTypeTab(1);
  ASSERT_EQ(w->PropTabKey(), "MailboxesSummary");
  EXPECT_EQ(w->Grd1()->Rows() - 1, kBulkMailboxes);

  QTreeWidgetItem* node = FindTreeNode(*w->tvwServers, serverRecipients);
  ASSERT_NE(node, nullptr);
  kit_.ui().clear();
  proxy_->Arm(1300, LdapProxy::Loss::Kill);
  w->tvwServers_NodeClick(node);
  EXPECT_EQ(kit_.ui().shown().size(), 1u);
  EXPECT_EQ(w->Grd1()->Rows() - 1, 0) << "mailboxes shown after a cut walk";
  Heal();
  kit_.ui().clear();

  const auto t0 = std::chrono::steady_clock::now();
  w->tvwServers_NodeClick(node);
  const long shown = w->Grd1()->Rows() - 1;
  EXPECT_EQ(shown, kHomedOnEX1);
  EXPECT_EQ(CountRows(dir(), "MailboxGeneral", "ServerName = 'EX1' and [Home Server] = 'EX1'"), kHomedOnEX1);
  EXPECT_EQ(CountRows(dir(), "MailboxGeneral", "ServerName = 'EX1'"), kSiteMailboxes);
  EXPECT_EQ(CountRows(dir(), "(select distinct [Object Path], [Display Name] from MailboxGeneral)", "1"),
            kSiteMailboxes);
  EXPECT_TRUE(kit_.ui().shown().empty());
  std::cerr << "the Server Recipients page after cn=Bulk's: " << shown << " of " << kHomedOnEX1 << " shown, "
            << Since(t0) << " s\n";

  w->tvwServers_NodeClick(FindTreeNode(*w->tvwServers, kBulk));
  w->ClickTypeTab(1);
  EXPECT_EQ(w->Grd1()->Rows() - 1, kBulkMailboxes);

  CloseWindows(main, w);
}

// The journal: what it notes, nesting, and taking back by row id only.
TEST(WriteJournal, NotesTheRowsOfEveryConnectionOnItsThreadAndTakesBackOnlyThose) {
  velmo::test::TestHome home;
  const std::string file = (home.dir() / "j.mdb").string();
  db::CreateDatabaseFile(file);
  db::Connection a, b;
  a.Open(file);
  b.Open(file);
  a.Execute("create table T (Name text(50))");
  a.Execute("create table U (Name text(50))");
  auto add = [](db::Connection& conn, const std::string& table, const std::string& prefix, int n) {
    db::Recordset rs;
    rs.Open("select * from " + table, conn, db::adOpenKeyset, db::adLockOptimistic);
    for (int i = 0; i < n; ++i) rs.AddNew({db::Value(prefix + std::to_string(i))});
    rs.Close();
  };
  auto names = [&](const std::string& table) {
    db::Recordset rs;
    rs.Open("select Name from " + table + " order by Name", a, db::adOpenKeyset, db::adLockReadOnly);
    std::map<std::string, int> byPrefix;
    while (!rs.Eof()) {
      std::string n = rs[0L].Text();
      ++byPrefix[n.substr(0, n.find_first_of("0123456789"))];
      rs.MoveNext();
    }
    rs.Close();
    return byPrefix;
  };

  add(b, "T", "before", 3);
  {
    db::WriteJournal outer;
    add(a, "T", "outer", 1200);  // two flushes
    std::thread([&] {
      db::Connection c;
      c.Open(file);
      add(c, "T", "thread", 4);  // another thread: not noted
    }).join();
    {
      db::WriteJournal inner;
      add(b, "T", "inner", 5);  // the highest row ids  // another connection of the thread
      {
        db::Recordset own;  // a connection of the recordset's own
        own.Open("select * from U", file, db::adOpenKeyset, db::adLockOptimistic);
        own.AddNew({db::Value("inner")});
        own.Close();
      }
      EXPECT_EQ(inner.Count(), 6u);
      EXPECT_EQ(outer.Count(), 1206u);
      EXPECT_TRUE(inner.Undo());
      EXPECT_EQ(inner.Count(), 0u);
      EXPECT_EQ(outer.Count(), 1200u);  // the enclosing journal forgets them
    }
    // Rows another writer adds after the inner taking back get the freed
    // row ids again; the outer journal must not take them.
    std::thread([&] {
      db::Connection c;
      c.Open(file);
      add(c, "T", "after", 5);
    }).join();
    std::vector<db::WriteJournal::UndoFailure> failures;
    EXPECT_TRUE(outer.Undo(&failures));
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(outer.Count(), 0u);
  }
  EXPECT_EQ(names("T"), (std::map<std::string, int>{{"after", 5}, {"before", 3}, {"thread", 4}}));
  EXPECT_TRUE(names("U").empty());

  // A table that cannot be reached keeps its rows noted and tells why.
  {
    db::WriteJournal j;
    add(a, "U", "gone", 3);
    a.Execute("drop table U");
    std::vector<db::WriteJournal::UndoFailure> failures;
    EXPECT_FALSE(j.Undo(&failures));
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].table, "U");
    EXPECT_EQ(failures[0].rowsLeft, 3u);
    EXPECT_NE(failures[0].description.find("U"), std::string::npos) << failures[0].description;
    EXPECT_EQ(j.Count(), 3u);
  }
  a.Close();
  b.Close();
}

// A call whose wait the caller's hook gives up three quarters of the way
// (the server answering no more, the program stopping) ends as a lost
// server's call does: none of its rows stay, the earlier ones do, its error
// text says so, and it logs nothing but its traces (the caller says why it
// stopped).
TEST_F(LargeServer, ACallGivenUpByTheWaitHookLeavesNoRowOfIt) {
  using Call = std::function<void(_Exch55Info&, std::string&)>;
  const std::pair<const char*, Call> cases[] = {
      {"MailboxDLEmailAddr", [](_Exch55Info& c, std::string& e) { c.GetMailboxInfo(3, "EX1", "", "", kBulk, &e); }},
      {"ServerObjectsPerm", [](_Exch55Info& c, std::string& e) { c.GetServerInfo("EX1", "", "", &e); }},
      {"DLGeneral", [](_Exch55Info& c, std::string& e) { c.GetDLInfo(0, "EX1", "", "", kBulk, &e); }},
  };
  const std::string ours = "ServerName = 'EX1' and ifnull([Display Name], '') not like 'Earlier%'";
  for (const auto& [table, call] : cases) {
    SCOPED_TRACE(table);
    long whole = 0;
    for (bool givenUp : {false, true}) {
      FreshInventory(dir());
      WriteEarlierRows(dir(), table, kBulk);
      const auto linesBefore = kit_.LogLines().size();
      Heal();
      proxy_->Arm(givenUp ? whole * 3 / 4 : 1L << 40, LdapProxy::Loss::Stop);
      velmo::ads::SetWaitHook([&] { return !proxy_->Lost(); });
      std::string err;
      call(*kit_.NewCollector(), err);
      velmo::ads::SetWaitHook(nullptr);
      if (!givenUp) whole = proxy_->Passed();
      EXPECT_EQ(CountRows(dir(), table, ours) == 0, givenUp);
      EXPECT_EQ(CountRows(dir(), table, "[Display Name] like 'Earlier%'"), 2);
      EXPECT_EQ(err.find("-2147023673") != std::string::npos, givenUp) << err;
      const auto lines = kit_.LogLines();
      for (auto l = lines.begin() + static_cast<long>(linesBefore); l != lines.end(); ++l)
        EXPECT_NE(l->find("Parameters"), std::string::npos) << *l;  // traces only
    }
  }
  Heal();
}
