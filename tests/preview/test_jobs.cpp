// Print jobs on the PDF device: what the file holds, the status window's
// texts, Esc, and a PDF that cannot be written.
#include <QLabel>
#include <QProgressBar>
#include <chrono>
#include <csignal>
#include <regex>
#include <set>

#include <sys/resource.h>

#include "DateText.h"
#include "PreviewTestSupport.h"

using namespace previewtest;
using vlmrpreview::PrintControlVariables;
using vlmrpreview::StateOf;

namespace {

// Prints with the callers' settings, recording the status texts.
struct Printed {
  std::vector<std::string> status;
};
Printed PrintWithStatus(IVLMRPrinter& p, std::function<void(QWidget*, const std::string&)> onStatus = {}) {
  Printed out;
  QTimer poll;
  poll.setInterval(1);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* w = Window("frmPrintStatus");
    if (!w) return;
    const std::string text = w->findChild<QLabel*>("lblStatus")->text().toStdString();
    if (out.status.empty() || out.status.back() != text) {
      out.status.push_back(text);
      if (onStatus) onStatus(w, text);
    }
  });
  poll.start();
  p.PrintReport();
  return out;
}


std::string Label(int row, int col) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "R%05dC%02d", row, col);
  return buf;
}

}  // namespace

TEST_F(PreviewTest, PdfPagesHoldTitlesCaptionsTheirRowsAndPageNumbers) {
  auto grid = ReportGrid(120, 4);
  auto p = NewPrinter();
  CallerSettings(*p, grid.get());
  const Printed printed = PrintWithStatus(*p, [](QWidget* w, const std::string& text) {
    if (text == "Page  2 of  3") w->grab().save(VELMO_BINARY_DIR "/tests/print_status.png");
  });
  const PrintControlVariables& v = *StateOf(p.get());
  ASSERT_EQ(v.PageCount, 3);
  EXPECT_EQ(v.PageLayoutMode, 1);
  EXPECT_TRUE(Messages().empty());
  const std::vector<std::string> status = {"Loading Please Wait ....", "Page  1 of  3", "Page  2 of  3",
                                           "Page  3 of  3"};
  EXPECT_EQ(printed.status, status);

  const auto files = PrintFolder();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(std::regex_match(files[0].filename().string(),
                               std::regex(R"(Velmorcast_\d\d_\d\d_\d{4}_\d\d_\d\d_\d\d Mailboxes General - 'SRV1'\.pdf)")))
      << files[0];
  ASSERT_EQ(PdfPages(files[0]), v.PageCount);
  std::set<int> seen;
  for (int page = 1; page <= v.PageCount; ++page) {
    SCOPED_TRACE(page);
    const std::string text = PdfPageText(files[0], page);
    const auto& r = v.PageTable[static_cast<size_t>(page)];
    EXPECT_EQ(Count(text, "Velmorine for Exchange Server v1.4.2"), 1);
    EXPECT_EQ(Count(text, "Mailboxes General - 'SRV1'"), 1);
    EXPECT_EQ(Count(text, "12/9/2026 11:00:00 AM"), 1);
    EXPECT_EQ(Count(text, "Cap01"), 1);
    EXPECT_EQ(Count(text, "Cap04"), 1);
    EXPECT_EQ(Count(text, "Page " + std::to_string(page) + " of 3"), 1);
    for (int row = 1; row <= 120; ++row) {
      const int n = Count(text, Label(row, 1));
      EXPECT_EQ(n, row >= r.RowFrom && row <= r.RowTo ? 1 : 0) << row;
      if (n) EXPECT_TRUE(seen.insert(row).second) << "row " << row << " printed twice";
    }
  }
  EXPECT_EQ(seen.size(), 120u);

  // A second job on the same object writes a second file beside it.
  PrintWithStatus(*p);
  EXPECT_EQ(PrintFolder().size(), 2u);
}

TEST_F(PreviewTest, PdfOfRowAndColumnBandsAndOfOnePage) {
  auto wide = ReportGrid(60, 12);
  auto p = NewPrinter();
  CallerSettings(*p, wide.get());
  PrintWithStatus(*p);
  const PrintControlVariables& v = *StateOf(p.get());
  ASSERT_EQ(v.PageLayoutMode, 4);
  ASSERT_EQ(v.ColPageCount, 3);
  ASSERT_EQ(v.PageCount, 6);
  const auto files = PrintFolder();
  ASSERT_EQ(files.size(), 1u);
  ASSERT_EQ(PdfPages(files[0]), 6);
  for (int page = 1; page <= 6; ++page) {
    SCOPED_TRACE(page);
    const std::string text = PdfPageText(files[0], page);
    const auto& r = v.PageTable[static_cast<size_t>(page)];
    for (int c = 1; c <= 12; ++c) {
      char cap[16];
      std::snprintf(cap, sizeof cap, "Cap%02d", c);
      const bool inBand = c >= r.ColFrom && c <= r.ColTo;
      EXPECT_EQ(Count(text, cap), inBand ? 1 : 0) << cap;
      EXPECT_EQ(Count(text, Label(r.RowFrom, c)), inBand ? 1 : 0);
      EXPECT_EQ(Count(text, Label(r.RowTo, c)), inBand ? 1 : 0);
    }
  }

  // One page: its own status text.
  std::filesystem::remove_all(home_ / "Print");
  auto small = ReportGrid(3, 2);
  auto q = NewPrinter();
  CallerSettings(*q, small.get());
  const Printed one = PrintWithStatus(*q);
  EXPECT_EQ(one.status.back(), "Page 1 of 1 is Printing");
  const auto single = PrintFolder();
  ASSERT_EQ(single.size(), 1u);
  EXPECT_EQ(PdfPages(single[0]), 1);
  const std::string text = PdfPageText(single[0], 1);
  EXPECT_EQ(Count(text, "Page 1 of 1"), 1);
  EXPECT_EQ(Count(text, Label(3, 2)), 1);
}

TEST_F(PreviewTest, EscAndAnUnwritableFolderLeaveNoFile) {
  auto grid = ReportGrid(120, 4);
  // Esc before the job starts: nothing printed.
  {
    auto p = NewPrinter();
    CallerSettings(*p, grid.get());
    WhenShown("frmPrintStatus", [](QWidget* w) {
      w->activateWindow();
      w->setFocus();
      Type(Qt::Key_Escape);
    });
    const Printed printed = PrintWithStatus(*p);
    EXPECT_EQ(printed.status, std::vector<std::string>{"Loading Please Wait ...."});
    EXPECT_TRUE(PrintFolder().empty());
  }
  // Esc after the first page of three: the job ends there, no file stays.
  {
    auto p = NewPrinter();
    CallerSettings(*p, grid.get());
    const Printed printed = PrintWithStatus(*p, [](QWidget* w, const std::string& text) {
      if (text != "Page  1 of  3") return;
      w->activateWindow();
      w->setFocus();
      Type(Qt::Key_Escape);
    });
    EXPECT_EQ(printed.status.back(), "Page  1 of  3");
    EXPECT_TRUE(PrintFolder().empty());
    EXPECT_TRUE(Messages().empty());
  }
  // A "Print" that is no folder: the printer-problem message, no file.
  {
    std::filesystem::remove_all(home_ / "Print");
    std::ofstream(home_ / "Print") << "not a folder";
    auto p = NewPrinter();
    CallerSettings(*p, grid.get());
    PrintWithStatus(*p);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0], StateOf(p.get())->PrinterProblemMessage + "Cannot write \"" + p->LastJobFile() +
                                 "\": Not a directory");
    EXPECT_EQ(p->LastJobError(), "Not a directory");
    EXPECT_EQ(ui_->shown()[0].title, "Velmorine for Exchange Server (Velmorcast)");
    for (const auto& e : std::filesystem::recursive_directory_iterator(home_.dir()))
      EXPECT_NE(e.path().extension(), ".pdf") << e.path();
  }
}

// The dated name of a PDF carries the job's second title: "/" and control
// characters as "_", the stem cut to 180 bytes between characters; an
// empty title gives the name without it.
TEST_F(PreviewTest, PdfNamesCarryTheSecondTitle) {
  const std::string stamp = "Velmorcast_12_09_2026_18_34_45";  // 30 bytes, then the blank
  const std::string x148(148, 'x');
  const struct {
    std::string title, stem;
  } cases[] = {
      {"", stamp},
      {"Site ConnectorGeneral - 'EX1'", stamp + " Site ConnectorGeneral - 'EX1'"},
      {"Recipients MailboxesPhone/Notes - 'EX1'", stamp + " Recipients MailboxesPhone_Notes - 'EX1'"},
      {"a\tb\nc\x7f" "d\x01", stamp + " a_b_c_d_"},
      {"\xC3\x98" "deg\xC3\xA5" "rd - 'EX1'", stamp + " \xC3\x98" "deg\xC3\xA5" "rd - 'EX1'"},
      {x148 + "\xC3\xA9 tail", stamp + " " + x148},              // the two-byte letter would end at byte 181
      {x148 + "x\xC3\xA9", stamp + " " + x148 + "x"},             // exactly 180 bytes
      {x148.substr(1) + "\xE2\x82\xAC\xE2\x82\xAC", stamp + " " + x148.substr(1)},  // a three-byte letter
  };
  for (const auto& c : cases) {
    const std::string stem = velmo::printers::PdfStem(stamp, c.title);
    EXPECT_EQ(stem, c.stem) << c.title;
    EXPECT_LE(stem.size(), velmo::printers::kPdfStemBytes);
  }

  // Through the component: the title in the name; another program's
  // temporary file for this title and second sends the job to "_2".
  auto grid = ReportGrid(3, 2);
  auto p = NewPrinter();
  CallerSettings(*p, grid.get());
  const std::string title = "Site ConnectorGeneral - 'EX1'";
  p->Title2(title, ALIGNLEFT);
  std::filesystem::create_directories(home_ / "Print");
  const auto now = std::chrono::system_clock::now();
  for (int s = -1; s < 4; ++s) {
    const std::tm t = velmo::LocalTime(now + std::chrono::seconds(s));
    char st[64];
    std::snprintf(st, sizeof st, "Velmorcast_%02d_%02d_%04d_%02d_%02d_%02d", t.tm_mon + 1, t.tm_mday,
                  t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    std::ofstream(home_ / "Print" / ("." + velmo::printers::PdfStem(st, title) + ".pdf.part")) << "busy";
  }
  PrintWithStatus(*p);
  std::vector<std::filesystem::path> pdfs;
  for (const auto& f : PrintFolder())
    if (f.extension() == ".pdf") pdfs.push_back(f);
  ASSERT_EQ(pdfs.size(), 1u);
  EXPECT_TRUE(std::regex_match(pdfs[0].filename().string(),
                               std::regex(R"(Velmorcast_\d\d_\d\d_\d{4}_\d\d_\d\d_\d\d Site ConnectorGeneral - 'EX1'_2\.pdf)")))
      << pdfs[0];
  EXPECT_EQ(PdfPages(pdfs[0]), 1);
  EXPECT_EQ(p->LastJobOutcome(), PrintJobOutcome::Printed);
  EXPECT_EQ(p->LastJobFile(), pdfs[0].string());

  // A file named in the set-up dialog is written as named.
  velmo::ui::PrinterSettings named = velmo::printers::Current();
  named.file = (home_ / "my report.pdf").string();
  velmo::printers::SetCurrent(named);
  PrintWithStatus(*p);
  EXPECT_EQ(PdfPages(home_ / "my report.pdf"), 1);
  EXPECT_EQ(p->LastJobFile(), named.file);
}

// Esc while the only page of a job is drawn ends the job: no file stays.
TEST_F(PreviewTest, EscDuringAOnePageJobLeavesNoFile) {
  auto grid = ReportGrid(3, 2);
  auto p = NewPrinter();
  CallerSettings(*p, grid.get());
  bool pressed = false;
  WhenShown("frmPrintStatus", [&](QWidget* w) {
    auto* bar = w->findChild<QProgressBar*>("ProgBar");
    QObject::connect(bar, &QProgressBar::valueChanged, w, [&pressed, bar, w](int value) {
      if (pressed || value != bar->maximum() / 2) return;
      pressed = true;
      // Arrives as a key press does: queued, seen when the job lets
      // events run.
      QCoreApplication::postEvent(w, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    });
  });
  const Printed printed = PrintWithStatus(*p);
  EXPECT_TRUE(pressed);
  EXPECT_TRUE(PrintFolder().empty());
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(p->LastJobOutcome(), PrintJobOutcome::Cancelled);
}

// A disk that fills during the job, made by a file size limit around it
// (writes fail at the limit with EFBIG): cut at once, midway or at its last
// byte, the job fails, leaves no file, and its message ends with the file
// and the reason.
TEST_F(PreviewTest, AFullDiskFailsTheJobWithItsReasonAndLeavesNoFile) {
  auto grid = ReportGrid(120, 4);
  auto p = NewPrinter();
  CallerSettings(*p, grid.get());
  p->BatchMode(true);
  PrintWithStatus(*p);
  const auto whole = static_cast<rlim_t>(std::filesystem::file_size(PrintFolder().at(0)));
  std::filesystem::remove_all(home_ / "Print");
  for (const rlim_t limit : {rlim_t{0}, rlim_t{12288}, whole / 2, whole - 1}) {
    SCOPED_TRACE(limit);
    ui_->clear();
    rlimit before{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    const rlimit cut{limit, before.rlim_max};
    const auto signalBefore = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &cut);
    PrintWithStatus(*p);
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, signalBefore);
    EXPECT_EQ(p->LastJobOutcome(), PrintJobOutcome::Failed);
    EXPECT_EQ(p->LastJobError(), "File too large");
    EXPECT_TRUE(PrintFolder().empty());
    EXPECT_EQ(Messages(), std::vector<std::string>{StateOf(p.get())->PrinterProblemMessage + "Cannot write \"" +
                                                   p->LastJobFile() + "\": File too large"});
  }
}
