// The scheduled report's output: files per format, printing, the failure
// entries, unique labels and what a second run leaves.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>

#include "AppFolder.h"
#include "ExportWriters.h"
#include "PrintStatusWatch.h"
#include "Printers.h"
#include "SchedConfig.h"
#include "TaskCredentials.h"
#include "RecordingPrinter.h"
#include "SanitizerOptions.h"
#include "ScheduleKit.h"
#include "SmallFileSystem.h"
#include "Ui.h"

using namespace velmo;
using namespace velmo::test;
namespace sr = velmo::schedule;
namespace fs = std::filesystem;

// Every folder this program syncs: fsync as the libraries call it.
static std::mutex gSyncedMu;
static std::vector<fs::path> gSyncedFolders;
extern "C" int fsync(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    std::error_code ec;
    const fs::path folder = fs::read_symlink("/proc/self/fd/" + std::to_string(fd), ec);
    std::lock_guard lock(gSyncedMu);
    gSyncedFolders.push_back(folder);
  }
  return static_cast<int>(::syscall(SYS_fsync, fd));
}

namespace {

// While it lives, this thread meets file modes as a user other than root
// does: its rights past them (reading and writing any file, entering any
// folder) are out of its effective set, and come back at the end.
class ModesApply {
 public:
  ModesApply() {
    ok_ = ::syscall(SYS_capget, &header_, saved_) == 0;
    __user_cap_data_struct dropped[2] = {saved_[0], saved_[1]};
    for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) dropped[cap / 32].effective &= ~(1u << (cap % 32));
    ok_ = ok_ && ::syscall(SYS_capset, &header_, dropped) == 0;
  }
  ~ModesApply() {
    if (ok_) ::syscall(SYS_capset, &header_, saved_);
  }
  bool ok() const { return ok_; }

 private:
  __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct saved_[2]{};
  bool ok_ = false;
};

const std::string kStamp = "12_09_2026_02_00_00";
const std::string R = "o=V/ou=L/cn=Recipients";

class ScheduleOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp("test_schedule_output");
    CreateInventory(home.dir());
    // Started as the second writer of another test: its folder.
    const char* other = std::getenv("VELMO_TEST_WRITER_OUT");
    out = other ? fs::path(other) : home / "out";
    fs::create_directories(out);
    sr::gstrDBPath = AppFolderText() + "\\velmo.mdb";
    sr::gConn = std::make_unique<db::Connection>();
    sr::gConn->Open(sr::gstrDBPath);
    window = std::make_unique<sr::StatusWindow>();
    sr::frmStatus = window.get();
    auto& c = *sr::gConn;
    c.Execute("insert into VELMORCCustomReports values('MailboxesGeneral','R','Alias Name')");
    c.Execute("insert into VELMORCCustomReports values('MailboxesPhone/Notes','R','Notes')");
    c.Execute("insert into VELMORCCustomReports values('Nothing Known','R','Alias Name')");
    for (auto [path, name, alias] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {R, "Ann O'Hara", "ann"}, {R + "/cn=Sales", "Bob", "bob"}, {"o=V/ou=L/cn=Sales", "Cy", "cy"}})
      c.Execute("insert into MailboxGeneral (ServerName,[Object Path],[Display Name],[Alias Name],[Home Server]) "
                "values('EX1',?,?,?,'EX1')",
                {db::Value(path), db::Value(name), db::Value(alias)});
    c.Execute("insert into MailboxOrgnPhoneNotes (ServerName,[Object Path],[Display Name],Notes) "
              "values('EX1',?,'Ann O''Hara','Line, \"quoted\"')",
              {db::Value(R)});
    // Two containers named Sales at different depths.
    sr::ResetContainerList("EX1", "V", "L");
    for (const std::string p : {R, R + "/cn=Sales", std::string("o=V/ou=L/cn=Sales")}) {
      sr::gstrContainerPaths.push_back(p);
      sr::gstrContainerNames.push_back(p.substr(p.rfind("cn=") + 3));
    }
    InstallRecordingPrinter();
  }
  void TearDown() override {
    UninstallRecordingPrinter();
    sr::gConn.reset();
    sr::frmStatus = nullptr;
  }
  std::set<std::string> Files() const {
    std::set<std::string> names;
    // (The test's own reading of a database file leaves its lock file.)
    for (const auto& e : fs::directory_iterator(out))
      if (e.path().extension() != ".lock") names.insert(e.path().filename().string());
    return names;
  }
  bool Run(const std::string& operation, const std::string& printer, const std::string& format,
           const std::string& folder = "") {
    fs::remove_all(home / "Schedule");
    RecordingPrinter::calls.clear();
    return sr::DisplayInfo("EX1", "V", "L", "R", operation, printer, format, folder.empty() ? out.string() : folder, kStamp);
  }
  std::vector<std::string> Prints(bool titles = false) const {
    std::vector<std::string> p;
    for (const auto& c : RecordingPrinter::calls)
      if (c.rfind("PrintReport=", 0) == 0 || (titles && c.rfind("Title2(", 0) == 0)) p.push_back(c);
    return p;
  }
  TestHome home;
  fs::path out;
  std::unique_ptr<sr::StatusWindow> window;
};

std::string Joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const auto& l : lines) all += l + "\n";
  return all;
}

std::string Csv(const std::string& label) { return "EX1_" + label + "_" + kStamp + ".csv"; }
const std::string kFailure = "     ProcessReportOutput : Nothing Known : ";

TEST_F(ScheduleOutput, OperationByFormat) {
  const std::set<std::string> csv = {Csv("Recipients MailboxesGeneral"), Csv("Sales MailboxesGeneral"),
                                     Csv("Sales MailboxesGeneral_2"), Csv("Server Recipients MailboxesGeneral"),
                                     Csv("Recipients MailboxesPhone_Notes")};
  std::set<std::string> html;
  for (auto name : csv) html.insert(name.replace(name.size() - 4, 4, ".html"));
  struct Case {
    std::string operation, printer, format;
    std::set<std::string> files;
    int prints;
  } cases[] = {
      {"Export", "", "CSV", csv, 0},
      {"Export", "Velmorcast PDF", "HTML", html, 0},
      {"Both", "", "CSV", csv, 0},  // no printer: exported only
      {"Both", "Velmorcast PDF", "MDB", {"EX1_" + kStamp + ".mdb"}, 5},
      {"Print", "Velmorcast PDF", "MDB", {}, 5},  // nothing on disk
      {"Export", "", "mdb", {}, 0},               // formats compare exactly
      {"export", "Velmorcast PDF", "CSV", {}, 0},
  };
  for (const Case& c : cases) {
    fs::remove_all(out);
    fs::create_directories(out);
    Run(c.operation, c.printer, c.format);
    EXPECT_EQ(Files(), c.files) << c.operation << " " << c.format;
    const auto prints = Prints(true);
    EXPECT_EQ(prints.size(), 2u * c.prints) << c.operation << " " << c.format;
    if (c.prints) {
      EXPECT_EQ(prints[0], "Title2(Recipients MailboxesGeneral - 'EX1',1,,0)");
      EXPECT_EQ(prints[1], "PrintReport=Velmorcast PDF");
    }
    // The one section whose statement fails (a page with no table) is
    // logged; nothing else is.
    const auto messages = LogMessages(home.dir());
    ASSERT_EQ(messages.size(), 1u) << c.operation << " " << c.format << ": " << Joined(messages);
    EXPECT_EQ(messages[0].rfind(kFailure, 0), 0u) << messages[0];
    EXPECT_EQ(sr::gstrReportTitle, "");
  }
  // The CSV file: its title, a quoted field, the apostrophe kept.
  Run("Export", "", "CSV");
  const std::string text = TestHome::Slurp(out / Csv("Recipients MailboxesPhone_Notes"));
  EXPECT_NE(text.find("Recipients MailboxesPhone/Notes - 'EX1'\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Ann O'Hara,\"Line, \"\"quoted\"\"\"\r\n"), std::string::npos) << text;
  // The MDB file: one table per section with rows, names made unique.
  fs::remove_all(out);
  fs::create_directories(out);
  Run("Export", "", "MDB");
  const fs::path mdb = out / ("EX1_" + kStamp + ".mdb");
  for (const char* t : {"RecipientsMailboxesGeneral", "SalesMailboxesGeneral", "SalesMailboxesGeneral_2",
                        "ServerRecipientsMailboxesGeneral", "RecipientsMailboxesPhoneNotes"})
    EXPECT_TRUE(exporting::DatabaseHasTable(mdb, t)) << t;
}

TEST_F(ScheduleOutput, FailureEntries) {
  struct Case {
    std::string operation, printer, format, folder;
    std::string entry;  // after the section label
    int count;          // entries of that kind
  } cases[] = {
      {"Print", "No Such Printer", "", "", " : Printer Not Found : No Such Printer", 5},
      {"Export", "", "CSV", "/nonexistent/folder", " : File Not Written : /nonexistent/folder/EX1_", 5},
      {"Export", "", "HTML", "/nonexistent/folder", " : File Not Written : /nonexistent/folder/EX1_", 5},
      {"Export", "", "MDB", "/nonexistent/folder", "     ExportToMDBFormat : Create Table Failure : -2147467259:", 5},
      // A folder not named in full is refused, never taken from "/" or the
      // current folder; the MDB file too. The entry names it as given.
      {"Export", "", "CSV", "<empty>", " : File Not Written : Export Folder Not A Full Path : ''", 5},
      {"Export", "", "HTML", "<empty>", " : File Not Written : Export Folder Not A Full Path : ''", 5},
      {"Export", "", "MDB", "<empty>", " : File Not Written : Export Folder Not A Full Path : ''", 5},
      {"Export", "", "CSV", "Export", " : File Not Written : Export Folder Not A Full Path : 'Export'", 5},
      {"Both", "", "MDB", "Export\\Out", " : File Not Written : Export Folder Not A Full Path : 'Export\\Out'", 5},
      {"Print", "Velmorcast PDF", "", "", " : -2147221164:Class not registered", 5},
  };
  const fs::path cwd = fs::current_path();
  fs::current_path(home.dir());
  fs::create_directories(home / "Export" / "Out");
  for (const Case& c : cases) {
    if (c.entry.find("Class not registered") != std::string::npos) {
      UninstallRecordingPrinter();
      std::ofstream(home / "VelmorcastClasses.reg", std::ios::trunc) << "# none\n";
    }
    if (c.folder == "<empty>") {
      fs::remove_all(home / "Schedule");
      RecordingPrinter::calls.clear();
      sr::DisplayInfo("EX1", "V", "L", "R", c.operation, c.printer, c.format, "", kStamp);
    } else {
      Run(c.operation, c.printer, c.format, c.folder);
    }
    int n = 0;
    for (const auto& m : LogMessages(home.dir()))
      if ((m.rfind("     ProcessReportOutput : ", 0) == 0 || m.rfind("     ExportToMDBFormat", 0) == 0) &&
          m.find(c.entry) != std::string::npos)
        ++n;
    EXPECT_EQ(n, c.count) << c.entry;
    EXPECT_TRUE(Prints().empty());
    // Nothing was written outside a folder named in full.
    for (const fs::path& folder : {fs::path("/"), home / "Export", home / "Export" / "Out"})
      for (const auto& e : fs::directory_iterator(folder))
        if (e.path().filename().string().rfind("EX1_", 0) == 0) {
          ADD_FAILURE() << "written: " << e.path();
          fs::remove(e.path());
        }
  }
  fs::current_path(cwd);
}

// On a full or read-only folder, and printing to a read-only Print
// folder, each section that fails leaves one entry naming it, its file and
// the reason, and nothing else (no entry for a box the job would show).
TEST_F(ScheduleOutput, EachFailedSectionIsOneEntryWithItsReason) {
  const struct {
    std::string operation, format, kind, reason;  // reason "": the component's or the engine's
    bool full;
  } cases[] = {{"Export", "CSV", " : File Not Written : ", "No space left on device", true},
               {"Export", "HTML", " : File Not Written : ", "Read-only file system", false},
               {"Export", "MDB", "     ExportToMDBFormat : Create Table Failure : ", "", false},
               {"Print", "", " : Not Printed : ", "", false}};
  sr::InstallUnattendedUi();
  UninstallRecordingPrinter();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.operation + " " + c.format);
    const fs::path folder = c.operation == "Print" ? home / "Print" : out;
    velmo::test::SmallFileSystem disk(folder);
    if (!disk.Mounted()) GTEST_SKIP() << "no small file system can be mounted here: " << disk.Why();
    ASSERT_TRUE(c.full ? (disk.Fill(), true) : disk.MakeReadOnly());
    Run(c.operation, "Velmorcast PDF", c.format);
    const auto messages = LogMessages(home.dir());
    // With the statement that fails, and the database file's own entry.
    EXPECT_EQ(messages.size(), c.format == "MDB" ? 7u : 6u) << Joined(messages);
    for (const std::string label : {"Recipients MailboxesGeneral", "Sales MailboxesGeneral", "Sales MailboxesGeneral_2",
                                    "Server Recipients MailboxesGeneral", "Recipients MailboxesPhone/Notes"}) {
      int entries = 0;
      for (const auto& m : messages) {
        if (m.find(" : " + label + " : ") == std::string::npos) continue;
        ++entries;
        EXPECT_NE(m.find(c.kind), std::string::npos) << m;
        EXPECT_NE(m.find(" : " + folder.string() + "/"), std::string::npos) << m;
        if (!c.reason.empty()) EXPECT_TRUE(m.ends_with(" : " + c.reason)) << m;
      }
      EXPECT_EQ(entries, 1) << label << " in\n" << Joined(messages);
    }
  }
  InstallRecordingPrinter();
  velmo::ui::SetUi(nullptr);
}

// A missing export folder is made, the folder alone, before the first
// file; one that cannot be made (its parent missing, a file of its name)
// is one entry with the reason, then each section's own, and the line's
// output is not done.
TEST_F(ScheduleOutput, MissingExportFolderIsMadeOneLevelOnly) {
  const std::string entry = "     DisplayInfo : Export Folder Not Made : ";
  std::ofstream(out / "file") << "a file";
  sr::gConn->Execute("delete from VELMORCCustomReports where TabName='Nothing Known'");  // a section that fails
  struct Case {
    fs::path folder;
    std::string reason;  // "" when it is made
  };
  for (const Case& c : {Case{out / "new", ""}, Case{out / "gone" / "new", "No such file or directory"},
                        Case{out / "file", "Not a directory"}}) {
    fs::remove_all(home / "Schedule");
    const bool done = sr::DisplayInfo("EX1", "V", "L", "R", "Export", "", "CSV", c.folder.string(), kStamp);
    const auto messages = LogMessages(home.dir());
    const bool made = c.reason.empty();
    EXPECT_EQ(done, made);
    EXPECT_EQ(fs::is_directory(c.folder) ? std::distance(fs::directory_iterator(c.folder), {}) : 0, made ? 5 : 0);
    EXPECT_EQ(std::count_if(messages.begin(), messages.end(), [&](auto& m) { return m.starts_with(entry); }),
              made ? 0 : 1) << Joined(messages);
    if (!made) EXPECT_TRUE(AnyStartsWith(messages, entry + c.folder.string() + " : " + c.reason)) << Joined(messages);
  }
}

TEST_F(ScheduleOutput, SecondRunReplacesEveryOutput) {
  for (const std::string format : {"CSV", "HTML", "MDB"}) {
    fs::remove_all(out);
    fs::create_directories(out);
    Run("Export", "", format);
    const auto first = Files();
    ASSERT_FALSE(first.empty());
    // Bob leaves the nested Sales container; Cy's rows change.
    sr::gConn->Execute("delete from MailboxGeneral where [Alias Name]='bob'");
    sr::gConn->Execute("update MailboxGeneral set [Display Name]='Cy Two' where [Alias Name]='cy'");
    Run("Export", "", format);
    const auto messages = LogMessages(home.dir());
    EXPECT_EQ(messages.size(), 1u) << format << ": " << Joined(messages);  // the failing statement's
    if (format == "MDB") {
      const fs::path mdb = out / ("EX1_" + kStamp + ".mdb");
      EXPECT_FALSE(exporting::DatabaseHasTable(mdb, "SalesMailboxesGeneral"));
      db::Connection c;
      c.Open(mdb.string());
      db::Recordset rs;
      rs.Open("select DisplayName from SalesMailboxesGeneral_2", c, db::adOpenKeyset, db::adLockReadOnly);
      ASSERT_FALSE(rs.Eof());
      EXPECT_EQ(rs[0L].Text(), "Cy Two");
      EXPECT_EQ(Files(), first);
    } else {
      // The emptied section's file of the first run is gone; the rest hold
      // the second run's rows.
      const std::string ext = format == "CSV" ? ".csv" : ".html";
      auto expected = first;
      expected.erase("EX1_Sales MailboxesGeneral_" + kStamp + ext);
      EXPECT_EQ(Files(), expected) << format;
      const std::string text = TestHome::Slurp(out / ("EX1_Sales MailboxesGeneral_2_" + kStamp + ext));
      EXPECT_NE(text.find("Cy Two"), std::string::npos) << text;
    }
    sr::gConn->Execute("insert into MailboxGeneral (ServerName,[Object Path],[Display Name],[Alias Name],[Home Server]) "
                       "values('EX1','" + R + "/cn=Sales','Bob','bob','EX1')");
    sr::gConn->Execute("update MailboxGeneral set [Display Name]='Cy' where [Alias Name]='cy'");
  }
  // The database was built under a temporary name; nothing of it is left
  // but lock files.
  for (const auto& e : fs::directory_iterator(out))
    if (e.path().extension() != ".lock") EXPECT_EQ(e.path().string().find(".new"), std::string::npos) << e.path();
  // A report without rows leaves no database of an earlier run behind.
  sr::gConn->Execute("delete from MailboxGeneral");
  sr::gConn->Execute("delete from MailboxOrgnPhoneNotes");
  Run("Export", "", "MDB");
  EXPECT_TRUE(Files().empty());
}

// A disk filling up part-way through the line's database: the new file
// is dropped, the last complete one stays byte for byte, and the entries
// say which tables failed and that the file was kept.
TEST_F(ScheduleOutput, ADatabaseThatPartlyFailedKeepsTheLastCompleteOne) {
  velmo::test::SmallFileSystem disk(out);
  if (!disk.Mounted()) GTEST_SKIP() << "no small file system can be mounted here: " << disk.Why();
  // One large section (Server Recipients): the others fit where it does not.
  for (int i = 0; i < 400; ++i)
    sr::gConn->Execute("insert into MailboxGeneral (ServerName,[Object Path],[Display Name],[Alias Name],[Home Server]) "
                       "values('EX1','o=V/ou=L/cn=Elsewhere',?,?,'EX1')",
                       {db::Value("M" + std::to_string(i)), db::Value(std::string(200, 'a') + std::to_string(i))});
  Run("Export", "", "MDB");
  const fs::path mdb = out / ("EX1_" + kStamp + ".mdb");
  const std::string whole = TestHome::Slurp(mdb);
  ASSERT_TRUE(exporting::DatabaseHasTable(mdb, "ServerRecipientsMailboxesGeneral"));
  disk.Fill(static_cast<off_t>(whole.size() / 2));
  EXPECT_FALSE(Run("Export", "", "MDB"));
  EXPECT_TRUE(TestHome::Slurp(mdb) == whole);
  EXPECT_EQ(Files(), (std::set<std::string>{mdb.filename().string(), "filler"}));
  const auto messages = LogMessages(home.dir());
  const auto failed = std::count_if(messages.begin(), messages.end(), [](const std::string& m) {
    return m.starts_with("     ExportToMDBFormat : Create Table Failure : ");
  });
  ASSERT_TRUE(failed > 0 && failed < 5) << Joined(messages);  // some tables were written
  EXPECT_TRUE(AnyStartsWith(messages, "     ExportToMDBFormat : Database Not Replaced : " + mdb.string() + " : " +
                                          std::to_string(failed) + " of 5 tables not written : the last complete "
                                          "database is kept"))
      << Joined(messages);
}

// A report the database does not hold is one entry, one whose every page
// names no data table has nothing to write: the line's earlier outputs
// stay, and the database's entry says why.
TEST_F(ScheduleOutput, AReportNotFoundKeepsTheLinesOutputs) {
  sr::gConn->Execute("insert into VELMORCCustomReports values('Nothing Known','N','Alias Name')");
  const fs::path mdb = out / ("EX1_" + kStamp + ".mdb");
  const std::string why = "     ExportToMDBFormat : Database Not Replaced : " + mdb.string() +
                          " : the report names no data table : the last complete database is kept";
  for (const std::string format : {"CSV", "MDB"}) {
    Run("Export", "", format);
    const auto before = Files();
    ASSERT_FALSE(before.empty());
    for (const std::string report : {"Gone", "N"}) {
      SCOPED_TRACE(format + " " + report);
      fs::remove_all(home / "Schedule");
      EXPECT_FALSE(sr::DisplayInfo("EX1", "V", "L", report, "Export", "", format, out.string(), kStamp));
      EXPECT_EQ(Files(), before);
      std::vector<std::string> expected = {"     DisplayInfo : Custom Report Not Found : 'Gone'"};
      if (report == "N") expected = {kFailure, format == "MDB" ? why : kFailure};
      const auto messages = LogMessages(home.dir());
      ASSERT_EQ(messages.size(), format == "MDB" || report == "Gone" ? expected.size() : 1u) << Joined(messages);
      for (size_t i = 0; i < messages.size(); ++i) EXPECT_EQ(messages[i].rfind(expected[i], 0), 0u) << messages[i];
    }
  }
  // Nor is a database made where there was none.
  fs::remove(mdb);
  fs::remove_all(home / "Schedule");
  EXPECT_FALSE(sr::DisplayInfo("EX1", "V", "L", "N", "Export", "", "MDB", out.string(), kStamp));
  EXPECT_FALSE(fs::exists(mdb));
  EXPECT_TRUE(AnyStartsWith(LogMessages(home.dir()), "     ExportToMDBFormat : Database Not Written : " + mdb.string() +
                                                         " : the report names no data table"));
}

// After a whole CSV or HTML run the line's folder holds only that run's
// files of the line: the sections of a container renamed or deleted since
// leave no file of an earlier run passing for this one's, and one entry
// counts them. A run cut short (a section whose query fails) keeps every
// earlier file. Files of other names stay either way: another stamp,
// server or extension, a name no label gives, a folder, a link, another
// user's file.
TEST_F(ScheduleOutput, AWholeRunLeavesOnlyItsOwnFilesOfTheLine) {
  sr::gConn->Execute("delete from VELMORCCustomReports where TabName='Nothing Known'");
  const std::string renamed = "o=V/ou=L/cn=Sales EMEA";
  // The nested Sales deleted (with Bob), the top-level one renamed, or
  // back as the fixture made them.
  const auto change = [&](bool changed) {
    sr::ResetContainerList("EX1", "V", "L");
    for (const std::string p : changed ? std::vector<std::string>{R, renamed}
                                       : std::vector<std::string>{R, R + "/cn=Sales", "o=V/ou=L/cn=Sales"}) {
      sr::gstrContainerPaths.push_back(p);
      sr::gstrContainerNames.push_back(p.substr(p.rfind("cn=") + 3));
    }
    sr::gConn->Execute(changed ? "update MailboxGeneral set [Object Path]='" + renamed + "' where [Alias Name]='cy'"
                               : "update MailboxGeneral set [Object Path]='o=V/ou=L/cn=Sales' where [Alias Name]='cy'");
    if (changed)
      sr::gConn->Execute("delete from MailboxGeneral where [Alias Name]='bob'");
    else
      sr::gConn->Execute("insert into MailboxGeneral (ServerName,[Object Path],[Display Name],[Alias Name],[Home Server]) "
                         "values('EX1','" + R + "/cn=Sales','Bob','bob','EX1')");
  };
  const std::string gone = "     DisplayInfo : Earlier Outputs Removed : ";
  for (const std::string format : {"CSV", "HTML"}) {
    SCOPED_TRACE(format);
    const std::string ext = format == "CSV" ? ".csv" : ".html", other = format == "CSV" ? ".html" : ".csv";
    fs::remove_all(out);
    fs::create_directories(out);
    ASSERT_TRUE(Run("Export", "", format));
    auto files = Files();
    ASSERT_EQ(files.size(), 5u);
    const std::vector<std::string> foreign = {
        "EX1_Recipients MailboxesGeneral_01_01_2020_00_00_00" + ext, "EX10_Recipients MailboxesGeneral_" + kStamp + ext,
        "ex1_Sales MailboxesGeneral_" + kStamp + ext, "EX1_Sales MailboxesGeneral_" + kStamp + other,
        "EX1_Sales MailboxesGeneral_" + kStamp + (format == "CSV" ? ".CSV" : ".HTML"),
        "EX1_Sales MailboxesGeneral_" + kStamp + ext + ".bak", "EX1_a\\b_" + kStamp + ext,
        "EX1_Not\xff Text_" + kStamp + ext, "EX1_Theirs_" + kStamp + ext};
    for (const auto& name : foreign) std::ofstream(out / name) << "kept";
    ASSERT_EQ(::chown((out / foreign.back()).c_str(), 65534, 65534), 0);
    fs::create_directory(out / ("EX1_Folder_" + kStamp + ext));
    fs::create_symlink(out / foreign[0], out / ("EX1_Link_" + kStamp + ext));
    files.insert(foreign.begin(), foreign.end());
    files.insert({"EX1_Folder_" + kStamp + ext, "EX1_Link_" + kStamp + ext});
    change(true);
    const std::string emea = "EX1_Sales EMEA MailboxesGeneral_" + kStamp + ext;
    // Cut short: every earlier file stays beside the new one.
    sr::gConn->Execute("insert into VELMORCCustomReports values('Nothing Known','R','Alias Name')");
    EXPECT_FALSE(Run("Export", "", format));
    files.insert(emea);
    EXPECT_EQ(Files(), files);
    EXPECT_FALSE(AnyStartsWith(LogMessages(home.dir()), gone));
    sr::gConn->Execute("delete from VELMORCCustomReports where TabName='Nothing Known'");
    // Whole: the two Sales files of the first run go, nothing else.
    EXPECT_TRUE(Run("Export", "", format));
    files.erase("EX1_Sales MailboxesGeneral_" + kStamp + ext);
    files.erase("EX1_Sales MailboxesGeneral_2_" + kStamp + ext);
    EXPECT_EQ(Files(), files);
    EXPECT_EQ(LogMessages(home.dir()),
              std::vector<std::string>{gone + out.string() + " : 2 files of server -'EX1' that no section of this run wrote"});
    EXPECT_EQ(TestHome::Slurp(out / foreign[0]), "kept");
    change(false);
  }
}

// A file renamed into place is followed by a sync of its folder; a folder
// this user may write but not read (a drop box, mode 0333) cannot be
// synced, and the file is written all the same, without a failure. The
// temporary file of a PDF printed to a named file is never made through a
// link.
TEST_F(ScheduleOutput, RenamedFilesAreFollowedByASyncOfTheirFolder) {
  fs::create_directories(home / "Schedule");
  fs::create_symlink(out / "victim", out / ".named.pdf.part");
  struct Case {
    fs::path folder;
    std::function<bool()> write;
  } cases[] = {
      {out, [&] { return Run("Export", "", "MDB"), true; }},
      {home / "Schedule", [&] { return WriteSchedConfig(home / "Schedule" / "SchedConfig.cfg", nullptr, {}); }},
      {home.dir(), [] { return scheduler::WriteTaskCredentials("VelmorcastTask", "CORP\\Admin", "secret"); }},
      {out, [&] {
         const ui::PrinterSettings pdf{printers::kPdfDevice, (out / "named.pdf").string()};
         printers::Job job(pdf);
         return job.Begin("named") && job.Finish();
       }},
  };
  for (const bool dropBox : {false, true})
    for (const Case& c : cases) {
      SCOPED_TRACE(c.folder.string() + (dropBox ? " as a drop box" : ""));
      gSyncedFolders.clear();
      const fs::perms mode = fs::status(c.folder).permissions();
      bool written = false;
      if (dropBox) {
        fs::permissions(c.folder, fs::perms(0333));
        ModesApply modes;
        ASSERT_TRUE(modes.ok());
        written = c.write();
      } else {
        written = c.write();
      }
      fs::permissions(c.folder, mode);
      EXPECT_TRUE(written);
      std::lock_guard lock(gSyncedMu);
      EXPECT_EQ(std::find(gSyncedFolders.begin(), gSyncedFolders.end(), fs::canonical(c.folder)) !=
                    gSyncedFolders.end(),
                !dropBox);
    }
  EXPECT_EQ(Joined(LogMessages(home.dir())).find("Failure"), std::string::npos) << Joined(LogMessages(home.dir()));
  EXPECT_TRUE(fs::exists(out / ("EX1_" + kStamp + ".mdb")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(out / "victim")));
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out / "named.pdf")));
}

// Run as a program of its own by the next test: the same line's database
// output, from another application folder, into that test's folder.
TEST_F(ScheduleOutput, SecondWriterOfOneDatabaseName) {
  const char* log = std::getenv("VELMO_TEST_WRITER_LOG");
  if (!log) GTEST_SKIP() << "started by another test as a program of its own";
  Run("Export", "", "MDB");
  std::ofstream(log) << Joined(LogMessages(home.dir()));
}

// Two programs writing one database name, the second started while the
// first is in the middle of its file: the file ends whole, and a writer
// that gave up waiting says so.
TEST_F(ScheduleOutput, TwoWritersOfOneDatabaseNameLeaveOneWholeFile) {
  const fs::path mdb = out / ("EX1_" + kStamp + ".mdb"), log = home / "second.log";
  fs::path building = mdb;
  building += ".new";
  for (const std::string waitSeconds : {"120", "0.2"}) {
    fs::remove_all(out);
    fs::create_directories(out);
    fs::remove(log);
    std::vector<std::string> vars = {"VELMO_TEST_WRITER_OUT=" + out.string(), "VELMO_TEST_WRITER_LOG=" + log.string(),
                                     "VELMORCAST_COLLECT_WAIT_SECONDS=" + waitSeconds,
                                     "--gtest_filter=ScheduleOutput.SecondWriterOfOneDatabaseName"};
    std::vector<char*> argv = {const_cast<char*>("/proc/self/exe"), vars.back().data(), nullptr}, env;
    for (char** e = environ; *e; ++e) env.push_back(*e);
    for (int i = 0; i < 3; ++i) env.push_back(vars[i].data());
    env.push_back(nullptr);
    pid_t second = -1;
    int status = 0;
    // After the first table of this run: the second writer starts. One
    // that gives up waiting runs until it ended; one that waits for this
    // run, a few seconds.
    const bool givesUp = waitSeconds == "0.2";
    QTimer middle;
    QObject::connect(&middle, &QTimer::timeout, [&] {
      if (second >= 0 || !fs::exists(building)) return;
      if ((second = ::fork()) == 0) {
        ::dup2(::open("/dev/null", O_WRONLY), 1);
        ::execve(argv[0], argv.data(), env.data());
        ::_exit(127);
      }
      for (int i = 0; i < HangBound(givesUp ? 6000 : 500) && ::waitpid(second, &status, WNOHANG) == 0; ++i)
        ::usleep(10000);
    });
    middle.start(0);
    Run("Export", "", "MDB");
    middle.stop();
    ASSERT_GT(second, 0);
    for (int i = 0; i < HangBound(12000) && ::waitpid(second, &status, WNOHANG) == 0; ++i) ::usleep(10000);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << waitSeconds;
    for (const char* t : {"RecipientsMailboxesGeneral", "SalesMailboxesGeneral", "SalesMailboxesGeneral_2",
                          "ServerRecipientsMailboxesGeneral", "RecipientsMailboxesPhoneNotes"})
      EXPECT_TRUE(exporting::DatabaseHasTable(mdb, t)) << waitSeconds << " " << t;
    const std::string gaveUp = "ExportToMDBFormat : File Not Written : " + mdb.string() +
                               " : another program is writing the file";
    EXPECT_EQ(TestHome::Slurp(log).find(gaveUp) != std::string::npos, givesUp)
        << TestHome::Slurp(log);
    EXPECT_EQ(Joined(LogMessages(home.dir())).find("ExportToMDBFormat"), std::string::npos);
  }
}

}  // namespace

// Printing to the PDF device through the real print component: one file a
// section, named with the section's title, without an idle second before
// each section.
TEST_F(ScheduleOutput, PrintsOneNamedPdfASectionWithoutIdleSeconds) {
  UninstallRecordingPrinter();
  std::vector<int> delays;
  {
    velmo::test::PrintStatusWatch jobs;
    Run("Print", "Velmorcast PDF", "MDB");
    delays = jobs.delays;
  }
  InstallRecordingPrinter();
  std::multiset<std::string> titles;
  const std::regex pdfName(R"(Velmorcast_\d\d_\d\d_\d{4}_\d\d_\d\d_\d\d (.*?)(_\d+)?\.pdf)");
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(home / "Print", ec)) {
    std::smatch m;
    const std::string name = e.path().filename().string();
    ASSERT_TRUE(std::regex_match(name, m, pdfName)) << name;
    titles.insert(m[1].str());
  }
  const std::multiset<std::string> expected = {
      "Recipients MailboxesGeneral - 'EX1'", "Sales MailboxesGeneral - 'EX1'", "Sales MailboxesGeneral - 'EX1'",
      "Server Recipients MailboxesGeneral - 'EX1'", "Recipients MailboxesPhone_Notes - 'EX1'"};
  EXPECT_EQ(titles, expected);
  // Five jobs, each started at once, without a single job's second of grace.
  EXPECT_EQ(delays, std::vector<int>(5, 0));
  EXPECT_TRUE(Files().empty());
}
