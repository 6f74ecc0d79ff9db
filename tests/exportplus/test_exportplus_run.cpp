// The Export Plus run end to end against the sample directory: the
// server's rows deleted and collected again, one output per ticked page in
// each format (read back by the stock sqlite3 shell or a plain CSV
// reader), unique output names, Server Recipients by home server, the
// public-folder profile, failures listed, cancel in each phase, and Print
// Plus through a recording print component and through the real one on the
// PDF device, on full and read-only folders, stopped by Esc.
#include <QMessageBox>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <iostream>
#include <regex>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <utility>

#include "Directory.h"
#include "ExportPlusKit.h"
#include "FlexGrid.h"
#include "LdapProxy.h"
#include "QtUi.h"
#include "PrintStatusWatch.h"
#include "RecordingPrinter.h"
#include "SanitizerOptions.h"
#include "SmallFileSystem.h"
#include "frmAutoFormat.h"

using namespace exportplus_test;
namespace fs = std::filesystem;

namespace {

// The records of a comma-separated file (RFC 4180), from line `skip` on.
std::vector<std::vector<std::string>> ReadCsv(const fs::path& file, size_t skip) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  const std::string s = all.str();
  std::vector<std::vector<std::string>> records;
  std::vector<std::string> record;
  std::string field;
  bool quoted = false;
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (quoted) {
      if (c == '"' && i + 1 < s.size() && s[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      record.push_back(field);
      field.clear();
    } else if (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n') {
      record.push_back(field);
      field.clear();
      records.push_back(record);
      record.clear();
      ++i;
    } else {
      field += c;
    }
  }
  if (!field.empty() || !record.empty()) {
    record.push_back(field);
    records.push_back(record);
  }
  if (records.size() <= skip) return {};
  return {records.begin() + static_cast<long>(skip), records.end()};
}

// What the stock sqlite3 shell prints for a statement on a file.
std::string Shell(const fs::path& file, const std::string& sql) {
  const std::string command = "sqlite3 -batch -separator '|' '" + file.string() + "' \"" + sql + "\" 2>&1";
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    std::array<char, 4096> buf{};
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
    ::pclose(p);
  }
  return out;
}

// The files of a folder whose names start with prefix.
std::vector<fs::path> FilesStarting(const fs::path& folder, const std::string& prefix) {
  std::vector<fs::path> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec))
    if (e.path().filename().string().rfind(prefix, 0) == 0) out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

class ExportPlusRunTest : public ExportPlusTest {
 protected:
  fs::path out;

  void SetUp() override {
    ExportPlusTest::SetUp();
    if (IsSkipped()) return;
    out = home / "Out";
  }

  // Connects to the server, picks a format and the folder, and runs the
  // command, answering every box with its default.
  void Run(const std::string& server, int format) {
    Open(0);
    Connect(server);
    ASSERT_TRUE(window->cmdExport->isEnabled());
    window->optFormat[format]->click();
    window->txtPath->setText(QString::fromStdString(out.string()));
    ui->clear();
    window->cmdExport->click();
    Pump();
  }

  // The rows of a statement, cells joined by "|", in the order given.
  std::vector<std::string> Rows(const std::string& sql, const std::vector<db::Value>& params) {
    std::vector<std::string> rows;
    db::Recordset rs;
    rs.Open(sql, *gConn, params, db::adOpenKeyset, db::adLockOptimistic);
    for (; !rs.Eof(); rs.MoveNext()) {
      std::string row;
      for (long i = 0; i < rs.GetFields().Count(); ++i) {
        const auto& v = rs[i].Val();
        std::string t = v.IsNull() ? " " : v.Text();
        const auto a = t.find_first_not_of(' ');
        t = a == std::string::npos ? (v.IsNull() ? " " : "") : t.substr(a, t.find_last_not_of(' ') - a + 1);
        row += (i ? "|" : "") + t;
      }
      rows.push_back(row);
    }
    rs.Close();
    return rows;
  }
};

TEST_F(ExportPlusRunTest, CsvRunWritesEachPageOnceWithUniqueNames) {
  // Old rows of EX1 go; another server's stay.
  Insert("MailboxGeneral", {"ServerName", "Display Name", "Object Path"},
         {db::Value(std::string("ex1")), db::Value(std::string("Stale")), db::Value(kRecipients)});
  Insert("MailboxGeneral", {"ServerName", "Display Name"}, {db::Value(std::string("EX2")), db::Value(std::string("Other"))});
  Run("EX1", 1);
  const auto prompts = Prompts();
  ASSERT_FALSE(prompts.empty());
  EXPECT_EQ(prompts.back(), "Exported successfully.");
  EXPECT_EQ(Count("select * from MailboxGeneral where [Display Name]='Stale'"), 0);
  EXPECT_EQ(Count("select * from MailboxGeneral where [Display Name]='Other'"), 1);

  // The container's mailbox page, parsed back, equals its rows.
  const auto general = FilesStarting(out, "EX1_Recipients MailboxesGeneral_");
  ASSERT_EQ(general.size(), 1u);
  const auto records = ReadCsv(general[0], 6);
  ASSERT_GT(records.size(), 1u);
  std::vector<std::string> fromFile;
  for (size_t r = 1; r < records.size(); ++r) {
    std::string row;
    for (size_t i = 0; i < records[r].size(); ++i) row += (i ? "|" : "") + records[r][i];
    fromFile.push_back(row);
  }
  std::string list;
  for (const auto& caption : records[0]) list += (list.empty() ? "[" : ",[") + caption + "]";
  const auto fromDb = Rows("select distinct " + list + " from MailboxGeneral where ServerName=? and [Object Path]=?",
                           {db::Value(std::string("EX1")), db::Value(kRecipients)});
  EXPECT_EQ(fromFile, fromDb);
  const std::string text = velmo::test::TestHome::Slurp(general[0]);
  EXPECT_NE(text.find("Sean O'Neil"), std::string::npos);
  EXPECT_NE(FilesStarting(out, "EX1_Recipients MailboxesPhone_Notes_").size(), 0u);

  // Two pages labelled alike both get out.
  EXPECT_EQ(FilesStarting(out, "EX1_Protocols General_").size(), 2u);
  EXPECT_EQ(FilesStarting(out, "EX1_Protocols General_2_").size(), 1u);
  EXPECT_EQ(FilesStarting(out, "EX1_Protocols Permissions_2_").size(), 1u);
  // No page without rows or without a column set writes a file.
  EXPECT_TRUE(FilesStarting(out, "EX1_Recipients Custom RecipientsDelivery Options").empty());
  // Every file of the run carries the same stamp.
  std::set<std::string> stamps;
  for (const auto& e : fs::directory_iterator(out)) {
    const std::string name = e.path().stem().string();
    ASSERT_GE(name.size(), 19u);
    stamps.insert(name.substr(name.size() - 19));
  }
  EXPECT_EQ(stamps.size(), 1u);
}

TEST_F(ExportPlusRunTest, DatabaseRunHoldsOneTableAPageAndServerRecipientsByHomeServer) {
  Run("EX1", 0);
  ASSERT_FALSE(Prompts().empty());
  EXPECT_EQ(Prompts().back(), "Exported successfully.");
  const auto files = FilesStarting(out, "EX1_");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].extension(), ".mdb");
  EXPECT_TRUE(FilesStarting(out, "EX1_").size() == 1u);  // nothing left beside it
  const std::string tables = Shell(files[0], "select name from sqlite_master where type='table' order by name");
  for (const char* t : {"RecipientsMailboxesGeneral", "ProtocolsGeneral", "ProtocolsGeneral_2",
                        "ServerRecipientsMailboxesGeneral", "VelmorGeneral"})
    EXPECT_NE(tables.find(std::string(t) + "\n"), std::string::npos) << t << " in\n" << tables;

  // The shell filters and sorts the text columns.
  const std::string names =
      Shell(files[0], "select DisplayName from RecipientsMailboxesGeneral where DisplayName like '%o%' order by DisplayName");
  const auto fromDb = Rows(
      "select distinct [Display Name] from MailboxGeneral where ServerName=? and [Object Path]=? and [Display Name] like "
      "'%o%' order by [Display Name]",
      {db::Value(std::string("EX1")), db::Value(kRecipients)});
  std::string expected;
  for (const auto& r : fromDb) expected += r + "\n";
  EXPECT_EQ(names, expected);
  EXPECT_NE(names.find("Sean O'Neil"), std::string::npos);

  // Server Recipients: the mailboxes homed on the server, each once.
  const std::string homed =
      Shell(files[0], "select count(*), count(distinct DisplayName) from ServerRecipientsMailboxesGeneral");
  const long onServer = static_cast<long>(
      Rows("select distinct [Display Name] from MailboxGeneral where ServerName=? and [Home Server]=?",
           {db::Value(std::string("EX1")), db::Value(std::string("EX1"))})
          .size());
  ASSERT_GT(onServer, 0);
  EXPECT_EQ(homed, std::to_string(onServer) + "|" + std::to_string(onServer) + "\n");
  // Only the site-wide walk of Server Recipients reaches the nested
  // containers, which the tree never expanded; it wrote each container's
  // mailboxes once.
  EXPECT_GT(Count("select * from MailboxGeneral where ServerName='EX1' and [Object Path]=?",
                  {db::Value(kRecipients + "/cn=Sales")}),
            0);
  EXPECT_EQ(Count("select * from MailboxGeneral where ServerName='EX1' and [Object Path]=? and [Display Name]='Sean "
                  "O''Neil'",
                  {db::Value(kRecipients)}),
            1);
}

// A container whose name the directory writes with escapes: its node,
// its pages' files and tables carry the name a person reads ("\" written
// "_" in file names).
TEST_F(ExportPlusRunTest, EscapedContainerNamesItsFilesAndTablesDecoded) {
  using velmo::test::kOddName;
  velmo::test::PrivateSlapd odd(velmo::test::OddNamesOption());
  velmo::test::UseSampleDirectory useOdd(odd.hostsFile());
  Run("EX1", 1);
  EXPECT_EQ(NodeText(Node(kLakeside + "/" + velmo::test::kOddRdn)), kOddName);
  EXPECT_EQ(Prompts().back(), "Exported successfully.");
  EXPECT_EQ(FilesStarting(out, "EX1_Odd \"Names\", <\u00c5l> _x Custom RecipientsGeneral_").size(), 1u);
  fs::remove_all(out);
  Run("EX1", 0);
  const auto files = FilesStarting(out, "EX1_");
  ASSERT_EQ(files.size(), 1u);
  const std::string tables = Shell(files[0], "select name from sqlite_master where type='table'");
  EXPECT_NE(tables.find("Odd\"Names\",<\u00c5l>\\x"), std::string::npos) << tables;
}

TEST_F(ExportPlusRunTest, ProfilePagesAreCollectedOnlyWithTheirProfile) {
  Open(0);
  Connect("EX1");
  window->txtPath->setText(QString::fromStdString(out.string()));
  window->optFormat[1]->click();
  ui->clear();
  window->cmdExport->click();
  EXPECT_EQ(Count("select * from PFGeneral where ServerName='EX1'"), 0);
  EXPECT_GT(Count("select * from PFPerm where ServerName='EX1'"), 0);

  ClickNode(window->tvwObjects_, Node(kRecipients));
  window->tvwFields->expandAll();
  Pump();
  ui->QueueInput("EX1 Profile");
  ClickNode(window->tvwFields, Field(window->tvwFields, "Public Folders", "General *"));
  ASSERT_EQ(window->strPFGeneralProfile, "EX1 Profile");
  EXPECT_EQ(Count("select * from ServerPrivateISResources where ServerName='EX1'"), 0);
  ClickNode(window->tvwObjects_, Node(kEX1 + "/cn=Microsoft Private MDB"));
  ui->QueueInput("EX1 Profile");
  ClickNode(window->tvwFields, Field(window->tvwFields, "", "Mailbox Resources *"));
  ASSERT_EQ(window->strMailboxResourcesProfile, "EX1 Profile");
  ui->clear();
  window->cmdExport->click();
  EXPECT_EQ(Prompts().back(), "Exported successfully.");
  EXPECT_GT(Count("select * from PFGeneral where ServerName='EX1'"), 0);
  EXPECT_EQ(FilesStarting(out, "EX1_Recipients Public FoldersGeneral_").size(), 1u);
  EXPECT_GT(Count("select * from ServerPrivateISResources where ServerName='EX1'"), 0);
  EXPECT_EQ(FilesStarting(out, "EX1_Private Information Store Private Information StoreMailbox Resources_").size(),
            1u);
}

TEST_F(ExportPlusRunTest, OtherServersRunToTheEndWithoutTheStoreReader) {
  // Without the store reader the run goes on after one box and a log line.
  velmo::com::RegisterBuiltin("VELMORCCOM.Exch55", []() -> velmo::com::ComObject* { return nullptr; });
  struct Unregister {
    ~Unregister() { velmo::com::UnregisterBuiltin("VELMORCCOM.Exch55"); }
  } unregister;
  // EX2 has no public store: its collection says so.
  const std::pair<std::string, std::string> cases[] = {
      {"EX2", "Public Information Store object@@  -2147016656  @@ There is no such object on the server.\r\n"},
      {"EX10", ""}};
  for (const auto& [server, bindErrors] : cases) {
    SCOPED_TRACE(server);
    Run(server, 1);
    std::vector<std::string> expected{"not created"};
    if (!bindErrors.empty())
      expected.push_back("Error occured while binding to the following item(s) : \r\n\r\n" + bindErrors);
    expected.push_back("Exported successfully.");
    EXPECT_EQ(Prompts(), expected);
    EXPECT_EQ(ui->shown()[0].title, "Velmorine for Exchange Server (Velmorcast)");
    EXPECT_FALSE(FilesStarting(out, server + "_Recipients MailboxesGeneral_").empty());
    EXPECT_FALSE(FilesStarting(out, server + "_Private Information Store ").empty());
    delete window;
    window = nullptr;
  }
  EXPECT_TRUE(FilesStarting(out, "EX2_Public Information Store ").empty());
  EXPECT_FALSE(FilesStarting(out, "EX10_Public Information Store ").empty());
  EXPECT_NE(ErrorLog().find("frmExportPlus GetAllInfo Create Object ResourceCom Failed "), std::string::npos);
}

TEST_F(ExportPlusRunTest, OutputsThatCannotBeWrittenAreListed) {
  Open(0);
  Connect("EX1");
  window->optFormat[2]->click();
  window->txtPath->setText(QString::fromStdString(out.string()));
  // The organisation's page cannot be written: its file name is taken by
  // a folder for every stamp the run may use.
  fs::create_directories(out);
  const auto now = std::chrono::system_clock::now();
  for (int s = 0; s < 120; ++s)
    fs::create_directory(out / ("EX1_Velmor General_" + RunStamp(now + std::chrono::seconds(s)) + ".html"));
  ui->clear();
  window->cmdExport->click();
  ASSERT_FALSE(Prompts().empty());
  const std::string last = Prompts().back();
  EXPECT_EQ(last.rfind("Exported with errors. These outputs could not be written:\r\n", 0), 0u) << last;
  EXPECT_NE(last.find("EX1_Velmor General_"), std::string::npos) << last;
  EXPECT_EQ(last.find("Recipients MailboxesGeneral"), std::string::npos) << last;
  EXPECT_EQ(FilesStarting(out, "EX1_Recipients MailboxesGeneral_").size(), 1u);
  EXPECT_NE(ErrorLog().find("frmExportPlus FillGridAndExport Export Failed "), std::string::npos);
}

TEST_F(ExportPlusRunTest, CancelStopsEachPhase) {
  struct Case {
    short mode;
    const char* at;  // status text at which Cancel is confirmed
    const char* message;
    bool anyOutput;
  };
  InstallRecordingPrinter();
  const Case cases[] = {
      {0, "Retrieving Protocols Information", "Information Retrival process for ExportPlus canceled in the middle.",
       false},
      {0, "Exporting ", "Information Export process for ExportPlus canceled in the middle.",
       true},
      {1, "Printing ", "Information Print process for ExportPlus canceled in the middle.",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    fs::remove_all(out);
    RecordingPrinter::calls.clear();
    Open(c.mode);
    Connect("EX1");
    window->optFormat[1]->click();
    window->txtPath->setText(QString::fromStdString(out.string()));
    ui->clear();
    ui->QueueMsgBox(velmo::ui::vbYes);
    bool cancelled = false;
    QTimer watch;
    watch.setInterval(0);
    QObject::connect(&watch, &QTimer::timeout, [&] {
      if (!cancelled && gfrmAutoFormat && gfrmAutoFormat->lblStatus->text().startsWith(c.at)) {
        cancelled = true;
        gfrmAutoFormat->cmdCancel->click();
      }
    });
    watch.start();
    window->cmdExport->click();
    watch.stop();
    EXPECT_TRUE(cancelled);
    const auto prompts = Prompts();
    ASSERT_GE(prompts.size(), 2u);
    EXPECT_EQ(prompts[prompts.size() - 2], c.mode ? "Cancel Printing ?" : (c.anyOutput ? "Cancel Exporting ?" : "Cancel Retrieving ?"));
    EXPECT_EQ(prompts.back(), c.message);
    const size_t outputs = c.mode ? static_cast<size_t>(std::count_if(RecordingPrinter::calls.begin(),
                                                                     RecordingPrinter::calls.end(),
                                                                     [](const std::string& s) {
                                                                       return s.rfind("PrintReport", 0) == 0;
                                                                     }))
                                  : FilesStarting(out, "EX1_").size();
    // The page being written when Cancel came finishes; nothing follows it.
    EXPECT_EQ(outputs, c.anyOutput ? 1u : 0u);
    EXPECT_EQ(window->iCancelClicked, 0);
    delete window;
    window = nullptr;
  }
  UninstallRecordingPrinter();
}

TEST_F(ExportPlusRunTest, PrintPlusPrintsEachPageOnTheChosenPrinter) {
  InstallRecordingPrinter();
  Open(1);
  Connect("EX1");
  ui->clear();
  window->cmdExport->click();
  UninstallRecordingPrinter();
  ASSERT_FALSE(Prompts().empty());
  EXPECT_EQ(Prompts().back(), "Exported successfully.");
  std::vector<std::string> titles;
  size_t prints = 0;
  for (const auto& c : RecordingPrinter::calls) {
    if (c.rfind("Title2(", 0) == 0) titles.push_back(c);
    if (c.rfind("PrintReport=", 0) == 0) {
      ++prints;
      EXPECT_EQ(c, "PrintReport=" + window->cboPrinterName->currentText().toStdString());
    }
  }
  EXPECT_EQ(prints, titles.size());
  EXPECT_GT(prints, 3u);
  EXPECT_NE(std::find(titles.begin(), titles.end(), "Title2(Recipients MailboxesGeneral - 'EX1',1,Times New Roman,12)"), titles.end());
  EXPECT_EQ(gstrReportTitle, "");
  EXPECT_TRUE(FilesStarting(home / "Export", "EX1_").empty());
}

TEST_F(ExportPlusRunTest, BindFailuresOfSeveralCallsAreListedItemByItem) {
  Open(0);
  Connect("EX1");
  window->optFormat[1]->click();
  window->txtPath->setText(QString::fromStdString(out.string()));
  // Every object of the tree binds: no placeholder goes to the collector.
  ui->clear();
  window->cmdExport->click();
  EXPECT_EQ(Prompts(), std::vector<std::string>{"Exported successfully."});

  // A container the current logon may not read (as listed to another
  // user).
  Node(kRecipients)->setExpanded(true);
  Pump();
  QTreeWidgetItem* gone =
      AddTreeNode(*window->tvwObjects_, Node(kRecipients), kRecipients + "/cn=Restricted", "Restricted", "Recipients");
  ClickNode(window->tvwObjects_, gone);
  // A node without entries shows its pages unticked; the user ticks three.
  window->tvwFields->expandAll();
  Pump();
  for (const auto& [group, page] : {std::pair{"Mailboxes", "General"}, std::pair{"Mailboxes", "Permissions"},
                                    std::pair{"Distribution Lists", "General"}})
    ClickNode(window->tvwFields, Field(window->tvwFields, group, page));
  ClickNode(window->tvwObjects_, Node(kOrg));
  ui->clear();
  window->cmdExport->click();
  const auto prompts = Prompts();
  ASSERT_EQ(prompts.size(), 2u);
  EXPECT_EQ(prompts[1], "Exported successfully.");
  const std::string head = "Error occured while binding to the following item(s) : \r\n\r\n";
  ASSERT_EQ(prompts[0].rfind(head, 0), 0u);
  // One line per failed bind, each a whole item of its own call.
  std::vector<std::string> lines;
  const std::string body = prompts[0].substr(head.size());
  for (size_t at = 0, next; at < body.size(); at = next + 2) {
    next = body.find("\r\n", at);
    ASSERT_NE(next, std::string::npos) << "every item ends its line";
    lines.push_back(body.substr(at, next - at));
  }
  // At least one failure per call that binds the container.
  EXPECT_GE(lines.size(), 3u);
  for (const auto& line : lines) {
    size_t separators = 0;
    for (size_t at = line.find("@@"); at != std::string::npos; at = line.find("@@", at + 2)) ++separators;
    EXPECT_EQ(separators, 2u) << line;
    EXPECT_EQ(line.rfind("Recipients ", 0), 0u) << line;
    EXPECT_NE(line.find("@@   Access is denied."), std::string::npos) << line;
  }
}

// Print Plus through the real print component on the PDF device: one file
// per page of output, named with the page's title, each a readable PDF,
// and no idle second per file. Then Esc in the third job's status window:
// the first two files stay, nothing after them is printed, and the run
// ends as a cancel does.
TEST_F(ExportPlusRunTest, PrintPlusToPdfNamesEachFileAndStopsOnEsc) {
  Run("EX1", 1);
  ASSERT_EQ(Prompts().back(), "Exported successfully.");
  // The labels of the CSV run, without the stamp and the "_N" of a label
  // met twice.
  const std::regex csvName(R"(EX1_(.*?)(_\d+)?_\d\d_\d\d_\d{4}_\d\d_\d\d_\d\d\.csv)");
  std::vector<std::string> expected;
  for (const auto& f : FilesStarting(out, "EX1_")) {
    std::smatch m;
    const std::string name = f.filename().string();
    ASSERT_TRUE(std::regex_match(name, m, csvName)) << name;
    expected.push_back(m[1].str() + " - 'EX1'");
  }
  std::sort(expected.begin(), expected.end());
  ASSERT_GT(expected.size(), 10u);
  delete window;
  window = nullptr;

  const fs::path printed = home / "Print";
  const std::regex pdfName(R"(Velmorcast_\d\d_\d\d_\d{4}_\d\d_\d\d_\d\d (.*?)(_\d+)?\.pdf)");
  auto printRun = [&] {
    Open(1);
    Connect("EX1");
    window->cboPrinterName->setCurrentText("Velmorcast PDF");
    EXPECT_EQ(window->cboPrinterName->currentText().toStdString(), "Velmorcast PDF");
    ui->clear();
    window->cmdExport->click();
    Pump();
  };
  auto titles = [&] {
    std::vector<std::string> out;
    for (const auto& f : FilesStarting(printed, "")) {
      std::smatch m;
      const std::string name = f.filename().string();
      EXPECT_TRUE(std::regex_match(name, m, pdfName)) << name;  // no temporary file left
      out.push_back(m[1].str());
    }
    std::sort(out.begin(), out.end());
    return out;
  };

  {
    velmo::test::PrintStatusWatch jobs;
    printRun();
    // Every job of the batch starts at once, without a single job's second
    // of grace.
    EXPECT_EQ(jobs.delays, std::vector<int>(expected.size(), 0));
  }
  ASSERT_FALSE(Prompts().empty());
  EXPECT_EQ(Prompts().back(), "Exported successfully.");
  EXPECT_EQ(titles(), expected);
  for (const auto& f : FilesStarting(printed, "Velmorcast_")) {
    std::string quoted = "'";
    for (const char c : f.string()) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    FILE* p = ::popen(("pdfinfo " + quoted + "' 2>&1").c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string text;
    std::array<char, 4096> buf{};
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) text.append(buf.data(), n);
    EXPECT_EQ(::pclose(p), 0) << f << "\n" << text;
    EXPECT_NE(text.find("Pages:"), std::string::npos) << f;
  }
  // The main window says where the last file went.
  const std::string panel = main->Panel(1)->text().toStdString();
  ASSERT_EQ(panel.rfind("Printed to " + printed.string() + "/Velmorcast_", 0), 0u) << panel;
  EXPECT_TRUE(fs::exists(panel.substr(std::string("Printed to ").size()))) << panel;
  velmo::test::SaveShot(main, "main_printed_to");
  delete window;
  window = nullptr;

  // Esc as the third status window shows.
  fs::remove_all(printed);
  int shown = 0;
  velmo::test::PrintStatusWatch watch;
  watch.onShow = [&](QWidget* w) {
    if (++shown != 3) return;
    // Once its job prints: Esc arrives at the modal window (it has no
    // control that takes the focus, so the key goes to the window).
    auto* poll = new QTimer(w);
    poll->setInterval(0);
    QObject::connect(poll, &QTimer::timeout, w, [w, poll] {
      if (w->findChild<QLabel*>("lblStatus")->text() == "Loading Please Wait ....") return;
      poll->stop();
      QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
      QCoreApplication::sendEvent(w, &press);
    });
    poll->start();
  };
  printRun();
  EXPECT_EQ(shown, 3);
  ASSERT_FALSE(Prompts().empty());
  EXPECT_EQ(Prompts().back(), "Information Print process for ExportPlus canceled in the middle.");
  const auto prompts = Prompts();
  EXPECT_EQ(std::count(prompts.begin(), prompts.end(), "Exported successfully."), 0);
  const auto kept = titles();
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(window->iCancelClicked, 0);
}

namespace {

// Hands every event of the application's objects to a function.
struct EventWatch : QObject {
  std::function<void(QObject*, QEvent::Type)> on;
  bool eventFilter(QObject* o, QEvent* e) override {
    on(o, e->type());
    return false;
  }
};

// The box the windowed seam shows for a text, saved as a picture: its
// height and its screen's, in pixels.
std::pair<int, int> ShownBoxHeight(const std::string& text, const std::string& shot) {
  std::pair<int, int> heights{-1, -1};
  QTimer poll;
  const auto start = std::chrono::steady_clock::now();
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box && std::chrono::steady_clock::now() - start < velmo::test::HangBound(std::chrono::seconds(5))) return;  // else a hang
    poll.stop();
    if (!box) return;
    heights = {box->frameGeometry().height(), box->screen()->availableGeometry().height()};
    velmo::test::SaveShot(box, shot);
    box->button(QMessageBox::Ok)->click();
  });
  poll.start(0);
  velmo::QtUi().MsgBox(text, velmo::ui::vbInformation, "Velmorine for Exchange Server (Velmorcast)");
  std::cout << shot << ": " << heights.first << " px high on a " << heights.second << " px screen\n";
  return heights;
}

}  // namespace

// Outputs that cannot be written (a full or read-only folder, a read-only
// Print folder): one error-log line each with section, file and reason,
// and one closing box that counts the reason, names the folder and lists
// 15 files (the run's database file and 15 of its tables), within the
// screen. A failed print job shows no box of its own.
TEST_F(ExportPlusRunTest, FailedOutputsAreCountedByReasonInABoxThatFitsTheScreen) {
  const struct {
    const char* name;
    short mode;
    fs::path folder;
    bool full;           // else read-only: from the start, or once Export Plus checked it
    std::string reason;  // "" for the print component's own
    int format = 1;      // CSV; 0 a database
  } cases[] = {{"csv_full_folder", 0, out, true, "No space left on device"},
               {"csv_read_only_folder", 0, out, false, "Read-only file system"},
               {"mdb_read_only_folder", 0, out, false, "", 0},
               {"print_read_only_folder", 1, home / "Print", false, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    velmo::test::SmallFileSystem disk(c.folder);
    if (!disk.Mounted()) GTEST_SKIP() << "no small file system can be mounted here: " << disk.Why();
    if (c.full) disk.Fill();
    if (!c.full && c.mode == 1) ASSERT_TRUE(disk.MakeReadOnly());
    EventWatch output;
    output.on = [&](QObject* o, QEvent::Type type) {
      if (type == QEvent::Show && o == gfrmAutoFormat && gfrmAutoFormat->iEPInfo == 2 && !c.full && c.mode == 0)
        EXPECT_TRUE(disk.MakeReadOnly());
    };
    qApp->installEventFilter(&output);
    Open(c.mode);
    Connect("EX1");
    window->optFormat[c.format]->click();
    window->txtPath->setText(QString::fromStdString(out.string()));
    window->cboPrinterName->setCurrentText("Velmorcast PDF");
    const size_t logged = ErrorLog().size();
    ui->clear();
    window->cmdExport->click();
    qApp->removeEventFilter(&output);
    ASSERT_EQ(Prompts().size(), 1u);
    const auto [height, screen] = ShownBoxHeight(Prompts()[0], std::string("exportplus_failed_") + c.name);
    EXPECT_LE(height, screen);
    EXPECT_EQ(FilesStarting(c.folder, "").size(), c.full ? 1u : 0u);  // the filler only

    [&] {
      const std::regex entry("      -?\\d+      (.+) : (.+) : (.+)      frmExportPlus FillGridAndExport " +
                             std::string(c.mode ? "Print" : "Export") + " Failed \r?$");
      std::vector<fs::path> files;
      std::vector<std::string> sections;
      std::set<std::string> reasons;
      std::istringstream log(ErrorLog().substr(logged));
      for (std::string line; std::getline(log, line);) {
        std::smatch m;
        if (!std::regex_search(line, m, entry)) continue;
        files.emplace_back(m[2].str());
        sections.push_back(m[1].str());
        std::string section = m[1].str();
        std::replace(section.begin(), section.end(), '/', '_');
        EXPECT_EQ(files.back().parent_path(), c.folder) << line;
        if (c.format == 0) EXPECT_EQ(files.back(), files.front()) << line;
        if (c.format != 0) EXPECT_NE(files.back().filename().string().find(section), std::string::npos) << line;
        reasons.insert(m[3].str());
      }
      const size_t n = files.size();
      ASSERT_GT(n, 15u);
      ASSERT_EQ(reasons.size(), 1u);
      const std::string reason = *reasons.begin();
      if (!c.reason.empty()) EXPECT_EQ(reason, c.reason);
      const QStringList lines = QString::fromStdString(Prompts()[0]).split("\r\n");
      ASSERT_EQ(lines.size(), 20) << Prompts()[0];
      EXPECT_EQ(lines[0], "Exported with errors. These outputs could not be written:");
      EXPECT_TRUE(lines[1].startsWith(QString::fromStdString(reason.substr(0, 40)))) << Prompts()[0];
      EXPECT_TRUE(lines[1].endsWith(QString(" (%1 outputs)").arg(n))) << Prompts()[0];
      if (c.format == 0) {
        EXPECT_EQ(lines[3].toStdString(), "File: " + files[0].string());
        for (int i = 0; i < 15; ++i) EXPECT_EQ(lines[4 + i].toStdString(), sections[i]);
      } else {
        EXPECT_EQ(lines[3].toStdString(), "Folder: " + c.folder.string());
        for (int i = 0; i < 15; ++i) EXPECT_EQ(lines[4 + i].toStdString(), files[i].filename().string());
      }
      EXPECT_EQ(lines[19], QString("... and %1 more (see VelmorcastErrorLog.log)").arg(n - 15));
    }();
    delete window;
    window = nullptr;
  }
}

// A failed job's reason as Print Plus and the scheduled run count it: the
// cause a job gives on the last line of its message, without the file it
// names, else the printer-problem text's first line.
TEST(PrintJobFailure, ReasonIsTheCauseWithoutItsFile) {
  const std::string problem = "P cannot print.\r\nTry one or more of the following:\r\n\r\n*Reinstall.\r\n";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{problem}, "P cannot print."},
      {{problem + "Cannot write \"/a/V 1 \"x\".pdf\": No space left on device"}, "No space left on device"},
      {{"Please assign the source grid"}, "Please assign the source grid"},
      {{}, "The print job failed without a message."}};
  for (const auto& [shown, reason] : cases) EXPECT_EQ(velmo::exporting::PrintJobFailureReason(shown), reason);
}

// Esc stops a Print Plus run whichever window holds the keyboard: the
// progress window between two jobs, or while the second job's status
// window shows (that window does not take the keyboard); a job's status
// window the moment it holds it; that window as its job ends, before it is
// gone. The first job's file stays, the second job's does not, and no job
// starts after.
TEST_F(ExportPlusRunTest, EscStopsPrintPlusWhereverItIsPressed) {
  enum At { BetweenJobs, ProgressWindowDuringJob, StatusWindowShown, StatusWindowClosing };
  for (const At at : {BetweenJobs, ProgressWindowDuringJob, StatusWindowShown, StatusWindowClosing}) {
    SCOPED_TRACE(at);
    fs::remove_all(home / "Print");
    int shown = 0, ended = 0;
    bool pressed = false;
    QWidget* second = nullptr;  // the second job's status window while it shows
    auto escAt = [&](QWidget* w) {
      pressed = true;
      if (w) {  // a key the window system sends to the window it was pressed in
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(w, &press);
      } else {
        velmo::test::PressKey(Qt::Key_Escape);
      }
    };
    EventWatch status;
    status.on = [&](QObject* o, QEvent::Type type) {
      if (o->objectName() != "frmPrintStatus" || !o->isWidgetType()) return;
      auto* w = static_cast<QWidget*>(o);
      if (type == QEvent::Show && ++shown == 2) {
        second = w;
        QWidget* progress = gfrmAutoFormat->focusWidget() ? gfrmAutoFormat->focusWidget() : gfrmAutoFormat;
        if (at == ProgressWindowDuringJob)
          QMetaObject::invokeMethod(w, [&, progress] { escAt(progress); }, Qt::QueuedConnection);
      }
      if (type != QEvent::Hide) return;
      ++ended;
      if (w != second) return;
      second = nullptr;
      if (at == StatusWindowClosing) QMetaObject::invokeMethod(w, [&, w] { escAt(w); }, Qt::QueuedConnection);
    };
    const auto activated = QObject::connect(qApp, &QGuiApplication::focusWindowChanged, [&](QWindow* focus) {
      if (at == StatusWindowShown && !pressed && second && focus == second->windowHandle()) escAt(nullptr);
    });
    QTimer between;
    QObject::connect(&between, &QTimer::timeout, [&] {
      if (at != BetweenJobs || pressed || ended < 1 || QApplication::activeModalWidget() != gfrmAutoFormat) return;
      ASSERT_TRUE(velmo::test::FocusControl(gfrmAutoFormat->cmdCancel));
      escAt(nullptr);
    });
    qApp->installEventFilter(&status);
    between.start(0);
    Open(1);
    Connect("EX1");
    window->cboPrinterName->setCurrentText("Velmorcast PDF");
    ui->clear();
    window->cmdExport->click();
    between.stop();
    QObject::disconnect(activated);
    qApp->removeEventFilter(&status);
    EXPECT_TRUE(pressed);
    EXPECT_EQ(shown, at == BetweenJobs ? 1 : 2);
    EXPECT_EQ(Prompts(), std::vector<std::string>{"Information Print process for ExportPlus canceled in the middle."});
    EXPECT_EQ(FilesStarting(home / "Print", "").size(), 1u);
    delete window;
    window = nullptr;
  }
}

// A mouse click on the progress window's Cancel while a job prints asks
// "Cancel Printing ?" (the job's own messages are kept for the closing
// message, that question is not): No lets the run go on to its end, Yes
// stops it once the job under way has printed.
TEST_F(ExportPlusRunTest, CancelClickedWhileAJobPrintsAsksItsQuestion) {
  for (const auto& [answer, closing] : {std::pair<int, std::string>{velmo::ui::vbNo, "Exported successfully."},
                                        {velmo::ui::vbYes, "Information Print process for ExportPlus canceled in the middle."}}) {
    fs::remove_all(home / "Print");
    bool clicked = false;
    velmo::test::PrintStatusWatch watch;
    watch.onShow = [&](QWidget* w) {
      if (watch.delays.size() != 2) return;
      auto* poll = new QTimer(w);
      QObject::connect(poll, &QTimer::timeout, w, [&, w, poll] {
        if (w->findChild<QLabel*>("lblStatus")->text() == "Loading Please Wait ....") return;
        poll->stop();
        clicked = true;
        QTest::mouseClick(gfrmAutoFormat->cmdCancel, Qt::LeftButton);
      });
      poll->start(0);
    };
    Open(1);
    Connect("EX1");
    window->cboPrinterName->setCurrentText("Velmorcast PDF");
    ui->clear();
    ui->QueueMsgBox(answer);
    window->cmdExport->click();
    EXPECT_TRUE(clicked);
    EXPECT_EQ(Prompts(), (std::vector<std::string>{"Cancel Printing ?", closing}));
    const size_t printed = FilesStarting(home / "Print", "").size();
    if (answer == velmo::ui::vbYes) EXPECT_EQ(printed, 2u);
    else EXPECT_GT(printed, 2u);
    delete window;
    window = nullptr;
  }
}

// Two Print Plus runs from one window, nothing changed between them, lay
// out every output alike: each output's grid has the same column widths
// in both runs (an earlier output's widths do not carry over), and so the
// same pages.
TEST_F(ExportPlusRunTest, PrintPlusRunsOfOneWindowLayOutTheSamePages) {
  InstallRecordingPrinter();
  Open(1);
  Connect("EX1");
  std::map<std::string, std::vector<int>> widths;
  RecordingPrinter::onOutput = [&](const std::string&) {
    std::vector<int>& w = widths[gstrReportTitle];
    for (int c = 0; c < RecordingPrinter::grid->Cols(); ++c) w.push_back(RecordingPrinter::grid->ColWidth(c));
  };
  window->cmdExport->click();
  const auto first = std::exchange(widths, {});
  window->cmdExport->click();
  UninstallRecordingPrinter();
  ASSERT_GT(first.size(), 100u);
  EXPECT_EQ(widths, first);
}

// The directory lost (stopped or killed) after the run's connect and its
// clearing, as its collection window shows, before the collector's first
// call: the run asks it once, logs the failure once and says so in its one
// closing box, whichever way the directory went.
TEST_F(ExportPlusRunTest, ADirectoryLostBeforeTheFirstCallIsToldInOneBox) {
  const int port = velmo::test::SamplePort("EX1");
  ASSERT_GT(port, 0);
  const std::string failure = "      -2147016646      The server is not operational.      ";
  for (const auto loss : {velmo::test::LdapProxy::Loss::Stop, velmo::test::LdapProxy::Loss::Kill}) {
    SCOPED_TRACE(loss == velmo::test::LdapProxy::Loss::Stop ? "stopped" : "killed");
    velmo::test::LdapProxy proxy(port);
    velmo::test::UseSampleDirectory hosts(proxy.WriteHostsFile(home.dir()));
    velmo::ads::ResetSessions();
    velmo::ads::SetTimeouts(2, 3);
    Open(0);
    Connect("EX1");
    window->optFormat[1]->click();
    window->txtPath->setText(QString::fromStdString(out.string()));
    EventWatch collecting;
    collecting.on = [&](QObject* o, QEvent::Type type) {
      if (type == QEvent::Show && o == gfrmAutoFormat && gfrmAutoFormat->iEPInfo == 1) proxy.Lose(loss);
    };
    qApp->installEventFilter(&collecting);
    const size_t logged = ErrorLog().size();
    ui->clear();
    window->cmdExport->click();
    qApp->removeEventFilter(&collecting);
    velmo::ads::SetTimeouts(10, 120);
    const auto prompts = Prompts();
    EXPECT_EQ(prompts.size(), 1u);
    EXPECT_EQ(prompts.empty() ? "" : prompts.back(),
              "Exported with errors. The export is incomplete: the collection of 'EX1' did not finish.\r\n"
              "-2147016646:The server is not operational.");
    const std::string log = ErrorLog().substr(logged);
    size_t lines = 0;
    for (size_t at = log.find(failure); at != std::string::npos; at = log.find(failure, at + 1)) ++lines;
    EXPECT_EQ(lines, 1u);
    delete window;
    window = nullptr;
    velmo::ads::ResetSessions();
  }
}
