// bench_print_plus: printing many reports to the "Velmorcast PDF" device
// against the sample directory (a private slapd).
//  (a) Print Plus of EX1 with the window's default ticks, in this process
//      through the real print component: wall time, sections (PDF files)
//      per second, the CPU time of this process and of the directory
//      server beside it, and a CSV Export Plus run of the same ticks.
//      Target: wall time at most 1.5 times the CPU time, and at most 15 s.
//  (b) The scheduled run of EX1 with the "Default" report, VLMRSchedule
//      started as a child: printed to "Velmorcast PDF" beside exported as
//      CSV. Target: the printing run's wall time at most the CSV run's plus
//      1.5 times the CPU time that printing adds.
// Exit status 1 when a target is missed.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Mdifrm.h"
#include "QtTestApp.h"
#include "TestHome.h"
#include "ScriptedUi.h"
#include "Ui.h"
#include "UserInput.h"
#include "frmExportPlus.h"
#include "modGlobals.h"

namespace fs = std::filesystem;

namespace {

using Steady = std::chrono::steady_clock;
double Seconds(Steady::time_point since) { return std::chrono::duration<double>(Steady::now() - since).count(); }

double SelfCpu() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU seconds used so far by a process (utime + stime of /proc/PID/stat).
double ProcessCpu(long pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto close = all.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream rest(all.substr(close + 2));
  std::string field;
  double utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::atof(field.c_str());
    if (i == 15) stime = std::atof(field.c_str());
  }
  return (utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

size_t FileCount(const fs::path& dir, const std::string& ext) {
  size_t n = 0;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) n += e.path().extension() == ext;
  return n;
}

std::string Script() { return std::string(VELMO_SOURCE_DIR) + "/scripts/sample-slapd.sh"; }

struct Run {
  double wall = 0, cpu = 0, server = 0;
  size_t files = 0;
  std::string ending;
};

// One Export Plus (mode 0, CSV) or Print Plus (mode 1) run of EX1 with the
// default ticks.
Run ExportPlus(Mdifrm* main, short mode, const fs::path& out, const fs::path& counted, const std::string& ext,
               long slapd, velmo::ui::ScriptedUi& ui) {
  fs::remove_all(counted);
  main->iFromExportPlusPrintPlus = mode;
  auto* window = new frmExportPlus(main);
  window->Form_Load();
  window->show();
  velmo::test::PumpEvents();
  velmo::test::FocusControl(window->cboServerName);
  window->cboServerName->lineEdit()->setText("EX1");
  velmo::test::PressKey(Qt::Key_Return);
  velmo::test::PumpEvents();
  if (mode == 0) {
    window->optFormat[1]->click();
    window->txtPath->setText(QString::fromStdString(out.string()));
  } else {
    window->cboPrinterName->setCurrentText("Velmorcast PDF");
  }
  ui.clear();
  Run r;
  const double cpu0 = SelfCpu(), server0 = ProcessCpu(slapd);
  const auto t0 = Steady::now();
  window->cmdExport->click();
  r.wall = Seconds(t0);
  r.cpu = SelfCpu() - cpu0;
  r.server = ProcessCpu(slapd) - server0;
  r.files = FileCount(counted, ext);
  for (const auto& s : ui.shown())
    if (s.kind == "MsgBox") r.ending = s.prompt;
  delete window;
  velmo::test::PumpEvents();
  return r;
}

// VLMRSchedule as a child on the application folder: wall time and the
// child's CPU time.
Run Scheduled(const fs::path& home, const std::string& operation, const std::string& printer, long slapd) {
  fs::create_directories(home / "Schedule");
  fs::remove_all(home / "out");
  fs::remove_all(home / "Print");
  fs::create_directories(home / "out");
  std::ofstream(home / "Schedule" / "SchedConfig.cfg", std::ios::binary)
      << "Scheduled Servers\r\n"
      << "EX1@@@Default@@@@@@" << operation << "@@@" << printer << "@@@CSV@@@" << (home / "out").string()
      << "@@@12_09_2026_02_00_00\r\n";
  Run r;
  const double server0 = ProcessCpu(slapd);
  const auto t0 = Steady::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const std::string program = std::string(VELMO_APP_DIR) + "/VLMRSchedule";
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    ::execv(argv[0], argv);
    ::_exit(127);
  }
  int status = 0;
  rusage u{};
  ::wait4(pid, &status, 0, &u);
  r.wall = Seconds(t0);
  r.cpu = double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
  r.server = ProcessCpu(slapd) - server0;
  r.files = operation == "Print" ? FileCount(home / "Print", ".pdf") : FileCount(home / "out", ".csv");
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "VLMRSchedule failed (%d)\n", status);
  return r;
}

}  // namespace

int main() {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  velmo::test::TestApp("bench_print_plus");
  const fs::path ldap = fs::temp_directory_path() / ("velmo-bench-printplus-" + std::to_string(::getpid()));
  if (std::system(("bash '" + Script() + "' start '" + ldap.string() + "' > /dev/null").c_str()) != 0) {
    std::fprintf(stderr, "the sample directory did not start\n");
    return 2;
  }
  long slapd = 0;
  std::ifstream(ldap / "slapd.pid") >> slapd;
  ::setenv("VELMORCAST_LDAP_HOSTS", (ldap / "ldaphosts.conf").c_str(), 1);
  ::setenv("VELMORCAST_PROVIDERS", (fs::path(VELMO_SOURCE_DIR) / "sample" / "providers").c_str(), 1);
  int rc = 0;
  {
    velmo::test::TestHome home;
    auto ui = std::make_shared<velmo::ui::ScriptedUi>();
    auto previous = velmo::ui::SetUi(ui);
    auto* main = new Mdifrm();
    main->iConnectCount = 1;
    main->show();
    velmo::test::PumpEvents();

    const Run csv = ExportPlus(main, 0, home / "Out", home / "Out", ".csv", slapd, *ui);
    const Run pdf = ExportPlus(main, 1, home / "Out", home / "Print", ".pdf", slapd, *ui);
    std::printf("Print Plus of EX1, default ticks, to \"Velmorcast PDF\":\n");
    std::printf("  %-22s %8s %9s %10s %9s %10s  %s\n", "run", "wall_s", "files", "files/s", "cpu_s", "slapd_s",
                "ending");
    for (const auto& [name, r] : {std::pair{"CSV Export Plus", csv}, std::pair{"Print Plus (PDF)", pdf}})
      std::printf("  %-22s %8.2f %9zu %10.1f %9.2f %10.2f  %s\n", name, r.wall, r.files,
                  r.wall > 0 ? double(r.files) / r.wall : 0.0, r.cpu, r.server, r.ending.c_str());
    const double ratio = pdf.wall / (pdf.cpu + pdf.server);
    std::printf("  Print Plus wall / CPU (this process + slapd): %.2f (target at most 1.5); wall %.2f s "
                "(target at most 15)\n",
                ratio, pdf.wall);
    if (ratio > 1.5 || pdf.wall > 15 || pdf.files != csv.files) rc = 1;
    main->close();
    delete main;
    velmo::test::PumpEvents();
    gConn.reset();
    velmo::ui::SetUi(previous);

    // The main window made the inventory database; the scheduled run uses
    // the same folder.
    const Run sCsv = Scheduled(home.dir(), "Export", "", slapd);
    const Run sPdf = Scheduled(home.dir(), "Print", "Velmorcast PDF", slapd);
    std::printf("Scheduled run of EX1, report \"Default\":\n");
    std::printf("  %-22s %8s %9s %10s %9s %10s\n", "run", "wall_s", "files", "files/s", "cpu_s", "slapd_s");
    for (const auto& [name, r] : {std::pair{"Export CSV", sCsv}, std::pair{"Print (PDF)", sPdf}})
      std::printf("  %-22s %8.2f %9zu %10.1f %9.2f %10.2f\n", name, r.wall, r.files,
                  r.wall > 0 ? double(r.files) / r.wall : 0.0, r.cpu, r.server);
    const double added = std::max(0.0, sPdf.cpu - sCsv.cpu);
    const double limit = sCsv.wall + 1.5 * added;
    std::printf("  printing adds %.2f s CPU; Print wall %.2f s against CSV wall + 1.5 x added = %.2f s (%s)\n", added,
                sPdf.wall, limit, sPdf.wall <= limit ? "met" : "missed");
    if (sPdf.wall > limit) rc = 1;
  }
  std::system(("bash '" + Script() + "' stop '" + ldap.string() + "' > /dev/null 2>&1").c_str());
  std::error_code ec;
  fs::remove_all(ldap, ec);
  return rc;
}
