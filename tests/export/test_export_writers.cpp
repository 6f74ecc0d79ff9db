// The grid writers, read back by readers that are not ours: comma-separated
// files by the sqlite3 shell's CSV import, HTML pages by libxml2's HTML
// parser, database tables by the stock sqlite3 shell.
#include <gtest/gtest.h>
#include <libxml/HTMLparser.h>
#include <libxml/xmlerror.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <utility>

#include "Database.h"
#include "ExportKit.h"
#include "ExportWriters.h"
#include "InstanceLock.h"
#include "QtTestApp.h"
#include "SmallFileSystem.h"
#include "TestHome.h"
#include "TextParts.h"

namespace fs = std::filesystem;
using namespace velmo::exporting;
using velmo::test::FillGrid;
using velmo::test::HexRows;
const auto Slurp = [](const std::filesystem::path& p) { return velmo::test::TestHome::Slurp(p); };
using velmo::test::Sqlite3;

namespace {

const std::vector<std::string> kCaptions = {"Display Name", "Notes (long)", "E-mail", "Zip Code"};

// Cells as the grid holds them and as every reader must get them back
// (trimmed of blanks; a Null shows as one blank and reads back empty).
struct CellCase {
  std::string inGrid, expected;
};
const std::vector<std::vector<CellCase>> kRows = {
    {{"Sean O'Neil", "Sean O'Neil"}, {"said \"hi\", left", "said \"hi\", left"}, {"a<b&c>d", "a<b&c>d"},
     {"  leading", "leading"}},
    {{"Maria Müller", "Maria Müller"}, {"line1\r\nline2", "line1\r\nline2"}, {" ", ""}, {"x'y\"z", "x'y\"z"}},
    {{"Åse Ødegård", "Åse Ødegård"}, {std::string(300, 'n'), std::string(300, 'n')}, {"it's  ", "it's"},
     {"O'Neil, Sean", "O'Neil, Sean"}},
    {{"John Smith", "John Smith"}, {"", ""}, {"<script>", "<script>"}, {"&amp;", "&amp;"}},
};
const std::string kTitle = "Mailboxes General - 'EX1', \"All\"";
const std::string kDate = "3/7/2024 4:05:09 PM";

void FillCases(velmo::FlexGrid& grid) {
  std::vector<std::vector<std::string>> rows{kCaptions};
  for (const auto& r : kRows) {
    std::vector<std::string> line;
    for (const auto& c : r) line.push_back(c.inGrid);
    rows.push_back(line);
  }
  FillGrid(grid, rows);
}

std::vector<std::vector<std::string>> Expected() {
  std::vector<std::vector<std::string>> out;
  for (const auto& r : kRows) {
    std::vector<std::string> line;
    for (const auto& c : r) line.push_back(c.expected);
    out.push_back(line);
  }
  return out;
}

std::vector<std::string> SplitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t e = text.find("\r\n", at);
    if (e == std::string::npos) e = text.size();
    lines.push_back(text.substr(at, e - at));
    at = e + 2;
  }
  return lines;
}

std::vector<std::string> FolderNames(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class ExportWriters : public ::testing::Test {
 protected:
  void SetUp() override {
    velmo::test::TestApp("test_export");
    if (std::system("command -v sqlite3 >/dev/null 2>&1") != 0) GTEST_SKIP() << "the sqlite3 shell is not installed";
    dir_ = home_.dir() / "out";
    fs::create_directories(dir_);
  }
  bool app_ = (velmo::test::TestApp("test_export"), true);
  velmo::test::TestHome home_{false};
  fs::path dir_;
  velmo::FlexGrid grid_;
};

TEST_F(ExportWriters, CsvIsReadBackWholeBySqliteImport) {
  FillCases(grid_);
  std::string reason;
  const fs::path file = dir_ / "EX1_Mailboxes General_1.csv";
  ASSERT_TRUE(WriteGridCsv(grid_, kTitle, file, reason, kDate)) << reason;
  const std::string text = Slurp(file);
  ASSERT_FALSE(text.starts_with("\xEF\xBB\xBF"));
  // Every line ends in CR LF (the cell holding CR LF is one of them).
  size_t lf = 0, crlf = 0;
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] == '\n') ++lf, crlf += (i > 0 && text[i - 1] == '\r');
  EXPECT_EQ(lf, crlf);
  ASSERT_TRUE(text.ends_with("\r\n"));
  const auto lines = SplitCrLf(text);
  ASSERT_GE(lines.size(), 7u);
  EXPECT_EQ(lines[0], kHeadingText);
  EXPECT_EQ(lines[1], kCopyrightText);
  EXPECT_EQ(lines[2], std::string(49, '_'));
  EXPECT_EQ(lines[3], "\"Mailboxes General - 'EX1', \"\"All\"\"\"");
  EXPECT_EQ(lines[4], "Date : " + kDate);
  EXPECT_EQ(lines[5], std::string(50, '_'));
  EXPECT_EQ(lines[6], "Display Name,Notes (long),E-mail,Zip Code");

  const fs::path db = dir_ / "import.db";
  const std::string out = Sqlite3(db, ".import --csv --skip 6 '" + file.string() +
                                          "' t\n"
                                          "select hex(\"Display Name\"),hex(\"Notes (long)\"),hex(\"E-mail\"),"
                                          "hex(\"Zip Code\") from t order by rowid;\n");
  EXPECT_EQ(HexRows(out), Expected()) << out;
}

// The table the report rows are in: texts and ROWSPANs of each row.
struct HtmlCell {
  std::string text;
  int rowspan = 0;
};
struct ParsedPage {
  int errors = 0;
  std::vector<std::vector<std::vector<HtmlCell>>> tables;  // table, row, cell
};

void CountError(void* count, xmlErrorPtr) { ++*static_cast<int*>(count); }

void Collect(xmlNode* node, ParsedPage& page) {
  for (xmlNode* n = node; n; n = n->next) {
    if (n->type == XML_ELEMENT_NODE && xmlStrcasecmp(n->name, BAD_CAST "table") == 0) {
      page.tables.emplace_back();
      for (xmlNode* tr = n->children; tr; tr = tr->next) {
        if (tr->type != XML_ELEMENT_NODE) continue;
        // The parser may put an implied TBODY between.
        std::vector<xmlNode*> trs;
        if (xmlStrcasecmp(tr->name, BAD_CAST "tbody") == 0) {
          for (xmlNode* t = tr->children; t; t = t->next)
            if (t->type == XML_ELEMENT_NODE) trs.push_back(t);
        } else {
          trs.push_back(tr);
        }
        for (xmlNode* row : trs) {
          std::vector<HtmlCell> cells;
          for (xmlNode* td = row->children; td; td = td->next) {
            if (td->type != XML_ELEMENT_NODE) continue;
            HtmlCell cell;
            xmlChar* content = xmlNodeGetContent(td);
            cell.text = content ? reinterpret_cast<const char*>(content) : "";
            xmlFree(content);
            if (xmlChar* span = xmlGetProp(td, BAD_CAST "rowspan")) {
              cell.rowspan = std::atoi(reinterpret_cast<const char*>(span));
              xmlFree(span);
            }
            cells.push_back(cell);
          }
          page.tables.back().push_back(cells);
        }
      }
      continue;
    }
    Collect(n->children, page);
  }
}

ParsedPage ParseHtml(const fs::path& file) {
  ParsedPage page;
  const std::string text = Slurp(file);
  xmlSetStructuredErrorFunc(&page.errors, CountError);
  // No encoding given: the page itself must say what it is.
  htmlDocPtr doc = htmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr, HTML_PARSE_NONET);
  xmlSetStructuredErrorFunc(nullptr, nullptr);
  if (!doc) {
    ++page.errors;
    return page;
  }
  Collect(xmlDocGetRootElement(doc), page);
  xmlFreeDoc(doc);
  return page;
}

std::string DropLeadingBlank(const std::string& s) { return s.starts_with(" ") ? s.substr(1) : s; }

TEST_F(ExportWriters, HtmlIsParsedByLibxml2WithItsTextsAndRowspans) {
  FillCases(grid_);
  std::string reason;
  const fs::path file = dir_ / "page.html";
  ASSERT_TRUE(WriteGridHtml(grid_, kTitle, file, reason, kDate)) << reason;
  const std::string text = Slurp(file);
  const auto lines = SplitCrLf(text);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "<HTML>");
  EXPECT_EQ(lines[1], "<META charset=\"utf-8\">");
  EXPECT_EQ(lines[2], "<TABLE border=0 WIDTH=100%>");
  EXPECT_EQ(lines.back(), "</TABLE>");
  EXPECT_EQ(text.find("<script>"), std::string::npos);

  const ParsedPage page = ParseHtml(file);
  EXPECT_EQ(page.errors, 0);
  ASSERT_EQ(page.tables.size(), 3u);
  ASSERT_EQ(page.tables[0].size(), 1u);
  EXPECT_EQ(page.tables[0][0][0].text, kHeadingText);
  EXPECT_EQ(page.tables[0][0][1].text, "Date: " + kDate);
  EXPECT_EQ(page.tables[1][0][0].text, " " + kTitle);
  const auto& rows = page.tables[2];
  ASSERT_EQ(rows.size(), kRows.size() + 1);
  for (size_t c = 0; c < kCaptions.size(); ++c) EXPECT_EQ(rows[0][c].text, " " + kCaptions[c]);
  const auto expected = Expected();
  for (size_t r = 0; r < expected.size(); ++r) {
    ASSERT_EQ(rows[r + 1].size(), kCaptions.size());
    EXPECT_EQ(rows[r + 1][0].rowspan, 1);
    EXPECT_EQ(rows[r + 1][0].text, expected[r][0]);
    for (size_t c = 1; c < kCaptions.size(); ++c)
      EXPECT_EQ(DropLeadingBlank(rows[r + 1][c].text), expected[r][c]) << r << "," << c;
  }
}

TEST_F(ExportWriters, ColumnOneRunsMergeExactlyEqualNeighbours) {
  struct RunCase {
    std::vector<std::string> column1;
    std::vector<int> spans;  // per row: its ROWSPAN, 0 inside a run
  };
  const RunCase cases[] = {
      {{"A", "A", "B", "A"}, {2, 0, 1, 1}},
      {{"Abc", "abc"}, {1, 1}},
      {{"x", " x ", "x"}, {3, 0, 0}},  // blanks are trimmed before comparing
      {{"Sales/Europe"}, {1}},
      {{"", "", "z"}, {2, 0, 1}},
  };
  for (const auto& rc : cases) {
    std::vector<std::vector<std::string>> rows{{"Container", "Name"}};
    for (size_t i = 0; i < rc.column1.size(); ++i) rows.push_back({rc.column1[i], "n" + std::to_string(i)});
    FillGrid(grid_, rows);
    for (size_t i = 0; i < rc.column1.size(); ++i)
      if (rc.spans[i])
        EXPECT_EQ(GetRowSpan(grid_, static_cast<int>(i) + 1, velmo::text::Trim(rc.column1[i])), rc.spans[i]);
    std::string reason;
    ASSERT_TRUE(WriteGridHtml(grid_, "t", dir_ / "runs.html", reason)) << reason;
    const ParsedPage page = ParseHtml(dir_ / "runs.html");
    EXPECT_EQ(page.errors, 0);
    ASSERT_EQ(page.tables.size(), 3u);
    const auto& trs = page.tables[2];
    ASSERT_EQ(trs.size(), rc.column1.size() + 1);
    for (size_t i = 0; i < rc.column1.size(); ++i) {
      const auto& cells = trs[i + 1];
      ASSERT_EQ(cells.size(), rc.spans[i] ? 2u : 1u) << rc.column1[0] << " row " << i;
      if (rc.spans[i]) EXPECT_EQ(cells[0].rowspan, rc.spans[i]);
      EXPECT_EQ(DropLeadingBlank(cells.back().text), "n" + std::to_string(i));
    }
  }
}

TEST_F(ExportWriters, CaptionOnlyGridWritesHeadingsAndAnEmptyTable) {
  FillGrid(grid_, {kCaptions});
  std::string reason;
  ASSERT_TRUE(WriteGridCsv(grid_, "t", dir_ / "c.csv", reason)) << reason;
  EXPECT_EQ(SplitCrLf(Slurp(dir_ / "c.csv")).size(), 7u);
  ASSERT_TRUE(WriteGridHtml(grid_, "t", dir_ / "c.html", reason)) << reason;
  const ParsedPage page = ParseHtml(dir_ / "c.html");
  ASSERT_EQ(page.tables.size(), 3u);
  EXPECT_EQ(page.tables[2].size(), 1u);
  ASSERT_EQ(WriteGridTable(grid_, dir_ / "c.mdb", "Empty", ColumnRule::Interactive, false, reason),
            TableWrite::Written)
      << reason;
  EXPECT_EQ(Sqlite3(dir_ / "c.mdb", "select count(*) from Empty;\n"), "0\n");
}

TEST_F(ExportWriters, DatabaseTablesAreReadByTheStockShellWithWhereAndOrderBy) {
  FillCases(grid_);
  const fs::path file = dir_ / "EX1_12_09_2026_10_00_00.mdb";
  std::string reason;
  // An interactive table and an Export Plus table in one new file.
  ASSERT_EQ(WriteGridTable(grid_, file, "Report 1", ColumnRule::Interactive, false, reason), TableWrite::Written)
      << reason;
  const std::string plusTable = ExportPlusTableName("MailboxesPhone/Notes - x");
  EXPECT_EQ(plusTable, "MailboxesPhoneNotesx");
  ASSERT_EQ(WriteGridTable(grid_, file, plusTable, ColumnRule::ExportPlus, false, reason), TableWrite::Written)
      << reason;
  // Nothing beside the file: no journal, lock or temporary file.
  EXPECT_EQ(FolderNames(dir_), std::vector<std::string>{file.filename().string()});

  EXPECT_EQ(Sqlite3(file, "select name from pragma_table_info('Report 1');\n"),
            "DisplayName\nNoteslong\nE-mail\nZipCode\n");
  EXPECT_EQ(Sqlite3(file, "select name from pragma_table_info('MailboxesPhoneNotesx');\n"),
            "DisplayName\nNoteslong\nEmail\nZipCode\n");
  EXPECT_EQ(Sqlite3(file, "pragma journal_mode;\n"), "delete\n");

  auto expected = Expected();
  std::sort(expected.begin(), expected.end());
  for (const auto& [table, mail] : {std::pair{"Report 1", "\"E-mail\""}, {"MailboxesPhoneNotesx", "Email"}}) {
    const std::string all = Sqlite3(file, std::string("select hex(DisplayName),hex(Noteslong),hex(") + mail +
                                              "),hex(ZipCode) from \"" + table + "\" order by DisplayName;\n");
    EXPECT_EQ(HexRows(all), expected) << all;
    // The shell filters the text columns itself, without the program.
    EXPECT_EQ(Sqlite3(file, std::string("select ZipCode from \"") + table +
                                "\" where DisplayName = 'sean o''neil' and length(Noteslong) > 0;\n"),
              "leading\n");
    EXPECT_EQ(Sqlite3(file, std::string("select length(Noteslong) from \"") + table +
                                "\" where DisplayName like 'Åse%';\n"),
              "300\n");
  }
  EXPECT_EQ(Sqlite3(file, "create index i on \"Report 1\"(DisplayName); pragma integrity_check;\n"), "ok\n");
}

TEST_F(ExportWriters, ExistingTablesAreKeptUnlessReplacingIsAsked) {
  FillCases(grid_);
  const fs::path file = dir_ / "r.mdb";
  std::string reason;
  ASSERT_EQ(WriteGridTable(grid_, file, "Report", ColumnRule::Interactive, false, reason), TableWrite::Written);
  FillGrid(grid_, {{"Display Name"}, {"only"}});
  // The name as the engine compares it: "REPORT" is the same table.
  for (const char* name : {"Report", "REPORT"}) {
    EXPECT_EQ(WriteGridTable(grid_, file, name, ColumnRule::Interactive, false, reason), TableWrite::TableExists);
    EXPECT_EQ(reason, std::string("Table '") + name + "' already exists.");
    EXPECT_TRUE(DatabaseHasTable(file, name));
  }
  EXPECT_EQ(Sqlite3(file, "select count(*) from Report;\n"), "4\n");
  ASSERT_EQ(WriteGridTable(grid_, file, "report", ColumnRule::Interactive, true, reason), TableWrite::Written)
      << reason;
  EXPECT_EQ(Sqlite3(file, "select DisplayName from Report;\n"), "only\n");
  // Another name extends the file.
  ASSERT_EQ(WriteGridTable(grid_, file, "Other \"quoted\" name", ColumnRule::Interactive, false, reason),
            TableWrite::Written);
  EXPECT_EQ(Sqlite3(file, "select count(*) from sqlite_master where type='table';\n"), "2\n");
}

TEST_F(ExportWriters, FailedWritesLeaveNoFileOrTheOlderOneIntact) {
  FillCases(grid_);
  std::string reason;
  // A path under a regular file cannot be written, as root neither.
  const fs::path regular = dir_ / "plain";
  std::ofstream(regular) << "x";
  for (const char* name : {"a.csv", "a.html", "a.mdb"}) {
    const fs::path target = regular / name;
    reason.clear();
    bool ok = true;
    if (target.extension() == ".csv") ok = WriteGridCsv(grid_, "t", target, reason);
    if (target.extension() == ".html") ok = WriteGridHtml(grid_, "t", target, reason);
    if (target.extension() == ".mdb")
      ok = WriteGridTable(grid_, target, "T", ColumnRule::Interactive, false, reason) == TableWrite::Written;
    EXPECT_FALSE(ok) << name;
    EXPECT_FALSE(reason.empty()) << name;
  }
  EXPECT_EQ(FolderNames(dir_), std::vector<std::string>{"plain"});

  // A file that is no database is not touched.
  const fs::path notDb = dir_ / "notes.mdb";
  std::ofstream(notDb) << "just some text, long enough to be read as a header by the engine....................";
  const std::string before = Slurp(notDb);
  EXPECT_EQ(WriteGridTable(grid_, notDb, "T", ColumnRule::Interactive, false, reason), TableWrite::Failed);
  EXPECT_FALSE(reason.empty());
  EXPECT_EQ(Slurp(notDb), before);

  // More columns than the engine takes: the create fails; a new file is
  // not left behind, an existing one keeps what it had.
  std::vector<std::string> tooWide;
  for (int i = 1; i <= 2001; ++i) tooWide.push_back("C" + std::to_string(i));
  FillGrid(grid_, {tooWide, tooWide});
  EXPECT_EQ(WriteGridTable(grid_, dir_ / "new.mdb", "T", ColumnRule::Interactive, false, reason), TableWrite::Failed);
  EXPECT_FALSE(fs::exists(dir_ / "new.mdb"));
  FillGrid(grid_, {{"A"}, {"1"}});
  ASSERT_EQ(WriteGridTable(grid_, dir_ / "old.mdb", "Kept", ColumnRule::Interactive, false, reason),
            TableWrite::Written);
  FillGrid(grid_, {tooWide, tooWide});
  EXPECT_EQ(WriteGridTable(grid_, dir_ / "old.mdb", "Kept", ColumnRule::Interactive, true, reason),
            TableWrite::Failed);
  EXPECT_EQ(Sqlite3(dir_ / "old.mdb", "select A from Kept;\n"), "1\n");

  // A text write cut short (the file size limit) keeps the older file.
  const fs::path older = dir_ / "older.csv";
  std::ofstream(older) << "older";
  std::vector<std::vector<std::string>> big{{"Name"}};
  for (int i = 0; i < 5000; ++i) big.push_back({std::string(100, 'y') + std::to_string(i)});
  FillGrid(grid_, big);
  ::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 64 * 1024;
  ::setrlimit(RLIMIT_FSIZE, &small);
  const bool csv = WriteGridCsv(grid_, "t", older, reason);
  const bool html = WriteGridHtml(grid_, "t", dir_ / "older.html", reason);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_FALSE(csv);
  EXPECT_FALSE(html);
  EXPECT_EQ(Slurp(older), "older");
  EXPECT_FALSE(fs::exists(dir_ / "older.html"));
  auto names = FolderNames(dir_);
  EXPECT_EQ(names, (std::vector<std::string>{"notes.mdb", "old.mdb", "older.csv", "plain"}));
}

TEST_F(ExportWriters, LongWritesLetTheProgramRunItsEventsBetweenRows) {
  std::vector<std::vector<std::string>> rows{{"Name", "Value"}};
  for (int i = 0; i < 10 * kRowsPerPump; ++i) rows.push_back({"n" + std::to_string(i), "v"});
  FillGrid(grid_, rows);
  int calls = 0;
  SetRowPump([&] { return ++calls > 0; });
  std::string reason;
  EXPECT_TRUE(WriteGridCsv(grid_, "t", dir_ / "p.csv", reason));
  const int csvCalls = std::exchange(calls, 0);
  EXPECT_TRUE(WriteGridHtml(grid_, "t", dir_ / "p.html", reason));
  const int htmlCalls = std::exchange(calls, 0);
  EXPECT_EQ(WriteGridTable(grid_, dir_ / "p.mdb", "T", ColumnRule::Interactive, false, reason), TableWrite::Written);
  const int tableCalls = std::exchange(calls, 0);
  SetRowPump({});
  EXPECT_EQ(csvCalls, 10);
  EXPECT_EQ(htmlCalls, 10);
  EXPECT_EQ(tableCalls, 10);
}

// A pump that gives the write up part way (the main program on a stop
// request) leaves nothing of it: no new file, no temporary one, an
// existing database without the table.
TEST_F(ExportWriters, AWriteGivenUpByThePumpLeavesNothingOfIt) {
  std::vector<std::vector<std::string>> rows{{"Name", "Value"}};
  for (int i = 0; i < 10 * kRowsPerPump; ++i) rows.push_back({"n" + std::to_string(i), "v"});
  FillGrid(grid_, rows);
  std::string reason;
  ASSERT_EQ(WriteGridTable(grid_, dir_ / "old.mdb", "Kept", ColumnRule::Interactive, false, reason),
            TableWrite::Written);
  const std::string old = Slurp(dir_ / "old.mdb");
  int calls = 0;
  SetRowPump([&] { return ++calls < 3; });
  const std::vector<std::pair<std::string, std::function<bool()>>> writes = {
      {"csv", [&] { return WriteGridCsv(grid_, "t", dir_ / "p.csv", reason); }},
      {"html", [&] { return WriteGridHtml(grid_, "t", dir_ / "p.html", reason); }},
      {"new database",
       [&] {
         return WriteGridTable(grid_, dir_ / "p.mdb", "T", ColumnRule::Interactive, false, reason) ==
                TableWrite::Written;
       }},
      {"database extended",
       [&] {
         return WriteGridTable(grid_, dir_ / "old.mdb", "T", ColumnRule::Interactive, false, reason) ==
                TableWrite::Written;
       }},
  };
  for (const auto& [what, write] : writes) {
    SCOPED_TRACE(what);
    calls = 0;
    reason.clear();
    EXPECT_FALSE(write());
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(reason, kWriteGivenUp);
  }
  SetRowPump({});
  EXPECT_EQ(FolderNames(dir_), (std::vector<std::string>{"old.mdb"}));
  EXPECT_TRUE(Slurp(dir_ / "old.mdb") == old) << "the database holding the earlier table changed";
}

}  // namespace

// A writer killed while it makes a new database leaves its temporary file
// and journal beside the target; the next writer of that name removes them,
// but not the temporary of a writer still running (its process alive, or
// its lock held: a writer on another machine), nor those of another name.
TEST_F(ExportWriters, AKilledWritersLeftoversAreRemovedByTheNextWriterOfThatName) {
  std::vector<std::vector<std::string>> rows{{"Name"}};
  for (int i = 0; i < 2 * kRowsPerPump; ++i) rows.push_back({"n" + std::to_string(i)});
  FillGrid(grid_, rows);
  const fs::path target = dir_ / "p.mdb";
  const pid_t killed = ::fork();
  if (killed == 0) {
    SetRowPump([] { return ::raise(SIGKILL) == 0; });
    std::string why;
    WriteGridTable(grid_, target, "T", ColumnRule::ExportPlus, false, why);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(killed, &status, 0), killed);
  ASSERT_TRUE(WIFSIGNALED(status));
  const auto leftovers = FolderNames(dir_);
  ASSERT_EQ(leftovers.size(), 2u);
  const std::string& left = leftovers[0];
  EXPECT_EQ(left.rfind(".p.mdb.new-" + std::to_string(killed) + "-", 0), 0u) << left;
  EXPECT_EQ(leftovers[1], left + "-journal");
  // Kept: a running process's (pid 1 always runs), one whose lock is held,
  // one of another name.
  const std::string running = ".p.mdb.new-1-1", locked = ".p.mdb.new-" + std::to_string(killed) + "-7",
                    other = ".q.mdb.new-" + std::to_string(killed) + "-1";
  for (const auto& name : {running, locked, other}) std::ofstream(dir_ / name) << "x";
  velmo::FileLock lock;
  ASSERT_TRUE(lock.TryLock(dir_ / locked, velmo::FileLock::Mode::Exclusive));
  std::string reason;
  ASSERT_EQ(WriteGridTable(grid_, target, "T", ColumnRule::ExportPlus, false, reason), TableWrite::Written) << reason;
  EXPECT_EQ(FolderNames(dir_), (std::vector<std::string>{running, locked, other, "p.mdb"}));
  EXPECT_EQ(Sqlite3(target, "select count(*) from T;\n"), std::to_string(2 * kRowsPerPump) + "\n");
}

// A text file that the disk takes only in part fails with the system's
// reason, and nothing of it is left.
TEST_F(ExportWriters, AFileTheDiskRefusesSaysWhy) {
  velmo::test::SmallFileSystem disk(dir_ / "small", "512k");
  if (!disk.Mounted()) GTEST_SKIP() << "no small file system can be mounted here: " << disk.Why();
  disk.Fill(96 * 1024);
  std::vector<std::vector<std::string>> big{{"Name"}};
  for (int i = 0; i < 12000; ++i) big.push_back({std::string(100, 'y') + std::to_string(i)});
  FillGrid(grid_, big);
  for (const char* name : {"a.csv", "a.html"}) {
    SCOPED_TRACE(name);
    std::string reason;
    const fs::path file = dir_ / "small" / name;
    EXPECT_FALSE(fs::path(name).extension() == ".csv" ? WriteGridCsv(grid_, "t", file, reason)
                                                      : WriteGridHtml(grid_, "t", file, reason));
    EXPECT_EQ(reason, "No space left on device");
    EXPECT_EQ(FolderNames(dir_ / "small"), std::vector<std::string>{"filler"});
  }
}

TEST_F(ExportWriters, EveryTableColumnGetsANameOfItsOwn) {
  struct Case {
    std::vector<std::string> captions;
    ColumnRule rule;
    std::string names;
  };
  const Case cases[] = {
      {{"Display Name", "Display Name", "display name", "( )", "", "Column5"},
       ColumnRule::Interactive,
       "DisplayName\nDisplayName_2\ndisplayname_3\nColumn4\nColumn5\nColumn5_2\n"},
      {{"E-mail", "Email", "E/mail", "Roles"}, ColumnRule::ExportPlus, "Email\nEmail_2\nEmail_3\nRoles\n"},
      {{"E-mail", "Email"}, ColumnRule::Interactive, "E-mail\nEmail\n"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.names);
    std::vector<std::string> values;
    for (size_t i = 0; i < c.captions.size(); ++i) values.push_back("v" + std::to_string(i + 1));
    FillGrid(grid_, {c.captions, values});
    const fs::path file = dir_ / ("names" + std::to_string(++n) + ".mdb");
    std::string reason;
    ASSERT_EQ(WriteGridTable(grid_, file, "T", c.rule, false, reason), TableWrite::Written) << reason;
    EXPECT_EQ(Sqlite3(file, "select name from pragma_table_info('T');\n"), c.names);
    std::string row;
    for (const auto& v : values) row += (row.empty() ? "" : "|") + v;
    EXPECT_EQ(Sqlite3(file, "select * from T;\n"), row + "\n");
  }
}
