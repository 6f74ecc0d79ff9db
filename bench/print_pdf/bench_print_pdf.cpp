// Lays out and prints report grids of 10,000, 50,000 and 100,000 rows by
// 20 columns (default widths and heights) to PDF on A4, and opens the
// preview on each: prints the layout and job times, pages per second, the
// peak memory the job adds beyond the grid, and the times of the first
// preview page and of the last page (">|").
#include <QApplication>
#include <QPushButton>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "FlexGrid.h"
#include "PrintGeneralFucntions.h"
#include "PrintPage.h"
#include "PrintWindows.h"
#include "Printers.h"
#include "QtNotices.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// VmHWM or VmRSS of this process, in KiB.
long Memory(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::string(key).size());
  return -1;
}
// Starts a new peak at the current resident size.
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  char home[] = "/tmp/bench_print_pdf_XXXXXX";
  if (!::mkdtemp(home)) return 1;
  setenv("VELMORCAST_HOME", home, 1);
  velmo::DropPlatformPluginWarnings();
  QApplication app(argc, argv);
  velmo::ui::PrinterSettings pdf;
  pdf.device = velmo::printers::kPdfDevice;
  velmo::printers::SetCurrent(pdf);
  const auto page = velmo::printers::GeometryOf(pdf);
  constexpr int kCols = 20;

  std::printf("%8s %6s %9s %8s %9s %12s %13s %10s\n", "rows", "pages", "layout_s", "job_s", "pages/s",
              "peak_MiB", "first_page_s", "last_s");
  // Row counts may be given on the command line instead.
  std::vector<int> sizes = {10000, 50000, 100000};
  if (argc > 1) sizes.clear();
  for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
  for (int rows : sizes) {
    velmo::FlexGrid grid;
    {
      std::vector<std::vector<std::string>> data(static_cast<size_t>(rows + 1), std::vector<std::string>(kCols + 1));
      for (int c = 1; c <= kCols; ++c) data[0][static_cast<size_t>(c)] = "Column " + std::to_string(c);
      for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= kCols; ++c)
          data[static_cast<size_t>(r)][static_cast<size_t>(c)] = "R" + std::to_string(r) + " C" + std::to_string(c);
      grid.SetData(std::move(data));
    }
    grid.ColWidth(0, 0);

    vlmrpreview::PrintControlVariables v;
    v.SourceGrid = &grid;
    v.ProductName = "Velmorcast";
    v.Title1Text = "Velmorine for Exchange Server v1.4.2";
    v.Title2Text = "Mailboxes General - 'SRV1'";
    v.Title2Alignment = 1;
    v.Title3Text = "12/9/2026 11:00:00 AM";
    v.Title3FontName = "Times New Roman";
    v.Title3FontSize = 12;
    v.Title3Alignment = 1;
    v.TitleSeprator = true;
    v.FixedRowShade = true;
    v.PageNumberPosition = "Bottom Right";

    const long before = Memory("VmRSS:");
    ResetPeak();
    auto t0 = std::chrono::steady_clock::now();
    vlmrpreview::LoadGridMetrics(v);
    vlmrpreview::BuildPageTable(v, page.ScaleWidth, page.ScaleHeight);
    const double layout = Seconds(t0);

    t0 = std::chrono::steady_clock::now();
    velmo::printers::Job job(pdf);
    auto scratch = vlmrpreview::NewPageGrid();
    std::string failure;
    bool ok = job.Begin("bench") && vlmrpreview::PrintAllPages(job, v, *scratch, {}, &failure);
    const double seconds = Seconds(t0);
    const double peak = (Memory("VmHWM:") - before) / 1024.0;
    if (!ok) std::printf("job failed: %s\n", failure.c_str());

    v.PreviewMode = true;
    t0 = std::chrono::steady_clock::now();
    double first = 0, last = 0;
    {
      vlmrpreview::frmPreview preview(v, nullptr);
      first = Seconds(t0);
      for (QPushButton* b : preview.findChildren<QPushButton*>("cmdMove"))
        if (b->property("Index").toInt() == 3) {
          t0 = std::chrono::steady_clock::now();
          b->click();
          last = Seconds(t0);
        }
    }
    std::printf("%8d %6d %9.3f %8.2f %9.1f %12.1f %13.3f %10.3f\n", rows, v.PageCount, layout, seconds,
                v.PageCount / seconds, peak, first, last);
    std::fflush(stdout);
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(home) / "Print", ec);
  }
  std::error_code ec;
  std::filesystem::remove_all(home, ec);
  return 0;
}
