// bench_scheduled_run [MAILBOXES] [ROUNDS]: the scheduled run against the
// sample directory with a bulk container of MAILBOXES (default 20,000).
//  (a) VLMRSchedule started as a child with an empty environment, as cron
//      starts it, in an application folder laid out as installed, with a
//      report that has no rows;
//  (b) the same lookup, container walk, clearing and collector calls, in
//      order, in this process.
// (a) and (b) alternate, best of ROUNDS (default 3) each; the ratio a/b must
// stay at or under 1.2 (exit 1 otherwise). Then the peak memory of (a) (the
// child's own maximum resident set, from wait4) at a quarter, half and all
// of the mailboxes with the growth per mailbox, and "Default" as CSV at the
// full size: its time and peak.
//
// bench_scheduled_run --clearing [MAILBOXES] [ROUNDS] [--cold]: how long
// the scheduled run's clearing of a server holds the database's write
// lock, at MAILBOXES (default 100,000): the server collected once, then
// ROUNDS (default 3) times its rows cleared (timed: the clearing is one
// transaction) and collected again. With --cold every other clearing
// begins with the database out of the page cache (needs root; said when
// it cannot). Prints each hold, their range and what is left of a 5 s
// busy timeout, the common one of other SQLite programs.
//
// The flags may stand anywhere among the numbers; a word it cannot read
// gets the usage text and exit status 2.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "AppSchema.h"
#include "Database.h"
#include "DefaultColumnSets.h"
#include "Directory.h"
#include "ScheduleRun.h"

namespace fs = std::filesystem;
namespace sr = velmo::schedule;

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::string Script() { return std::string(VELMO_SOURCE_DIR) + "/scripts/sample-slapd.sh"; }

bool StartDirectory(const fs::path& dir, long mailboxes) {
  const std::string cmd = "bash '" + Script() + "' start '" + dir.string() + "' --large " + std::to_string(mailboxes) +
                          " > /dev/null";
  return std::system(cmd.c_str()) == 0;
}
void StopDirectory(const fs::path& dir) {
  const std::string cmd = "bash '" + Script() + "' stop '" + dir.string() + "' > /dev/null 2>&1";
  std::system(cmd.c_str());
}

// The installed layout: the program and the libraries copied, the class
// registry, the providers, the host map and an inventory database.
void Install(const fs::path& app, const fs::path& hosts) {
  // Copied once: this process loads the collector from the folder, and a
  // library rewritten under it would break it.
  const bool first = !fs::exists(app / "VLMRSchedule");
  fs::create_directories(app);
  for (const auto& e : fs::directory_iterator(VELMO_APP_DIR)) {
    const std::string name = e.path().filename().string();
    if (name == "VLMRSchedule" || name == "VelmorcastClasses.reg" ||
        (name.rfind("lib", 0) == 0 && e.path().extension() == ".so"))
      if (first) fs::copy_file(e.path(), app / name, fs::copy_options::overwrite_existing);
  }
  if (first) fs::copy(fs::path(VELMO_SOURCE_DIR) / "sample" / "providers", app / "providers",
           fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  fs::copy_file(hosts, app / "ldaphosts.conf", fs::copy_options::overwrite_existing);
  if (!fs::exists(app / "velmo.mdb")) {
    velmo::db::CreateDatabaseFile(app / "velmo.mdb");
    velmo::db::Connection conn;
    conn.Open((app / "velmo.mdb").string());
    CreateAppTables(&conn);
    WriteCustomFieldNamesToDB(&conn);
    conn.Close();
  }
}

void WriteSettings(const fs::path& app, const std::string& report, const std::string& format) {
  fs::create_directories(app / "Schedule");
  fs::create_directories(app / "out");
  std::ofstream(app / "Schedule" / "SchedConfig.cfg", std::ios::binary)
      << "Scheduled Servers\r\n"
      << "EX1@@@" << report << "@@@@@@Export@@@@@@" << format << "@@@" << (app / "out").string()
      << "@@@12_09_2026_02_00_00\r\n";
}

// (a): seconds, and the child's peak resident set in KiB. A run whose
// report is not in the database ends with status 1 (its line's work not
// done), one with the "Default" report with 0.
double RunProgram(const fs::path& app, long& peakKib, int expected = 1) {
  const auto t = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const std::string program = (app / "VLMRSchedule").string();
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    char* envp[] = {nullptr};
    ::execve(argv[0], argv, envp);
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  const double s = Seconds(t);
  peakKib = usage.ru_maxrss;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != expected)
    std::cerr << "VLMRSchedule failed (status " << status << ", not " << expected << ")\n";
  return s;
}

// (b): the same steps in this process.
double RunInProcess(const fs::path& app) {
  const auto t = std::chrono::steady_clock::now();
  velmo::ads::ResetSessions();
  sr::gstrDBPath = app.string() + "\\velmo.mdb";
  sr::gConn = std::make_unique<velmo::db::Connection>();
  sr::gConn->Open(sr::gstrDBPath);
  std::string org, site;
  if (sr::ConnectToExchangeServer("EX1", "", "", org, site)) {
    sr::ResetContainerList("EX1", org, site);
    sr::GetChildContainerInfo("LDAP://EX1/o=" + org + "/ou=" + site, "EX1", org, site, "", "");
    sr::GetAllInfo("EX1", "", "", org, site, "");
  } else {
    std::cerr << "lookup failed\n";
  }
  sr::gConn.reset();
  return Seconds(t);
}

// Writes the dirty pages out and drops the page cache; false when this
// process may not.
bool DropPageCache() {
  ::sync();
  std::ofstream out("/proc/sys/vm/drop_caches");
  out << "3\n";
  out.flush();
  return out.good();
}

int ClearingHolds(const fs::path& root, const fs::path& app, long mailboxes, int rounds, bool cold) {
  const fs::path dir = root / "ldap-clearing";
  std::cout << "Sample directory with " << mailboxes << " bulk mailboxes...\n" << std::flush;
  if (!StartDirectory(dir, mailboxes)) {
    std::cerr << "the sample directory did not start\n";
    return 2;
  }
  Install(app, dir / "ldaphosts.conf");
  RunInProcess(app);  // the server's rows, as a first collection leaves them
  std::error_code ec;
  std::cout << "  velmo.mdb: " << fs::file_size(app / "velmo.mdb", ec) / (1024 * 1024) << " MiB\n";
  double least = 1e9, most = 0;
  int rc = 0;
  for (int r = 0; r < rounds && rc == 0; ++r) {
    const bool dropped = cold && r % 2 == 1 && DropPageCache();
    if (cold && r % 2 == 1 && !dropped) std::cout << "  (the page cache could not be dropped)\n";
    sr::gConn = std::make_unique<velmo::db::Connection>();
    sr::gConn->Open(app.string() + "\\velmo.mdb");
    const auto t = std::chrono::steady_clock::now();
    if (!sr::DeleteExistingRecords("EX1")) rc = 1;
    const double held = Seconds(t);
    sr::gConn.reset();
    least = std::min(least, held);
    most = std::max(most, held);
    std::cout << "  clearing " << r + 1 << (dropped ? " (database out of the page cache)" : "") << ": " << held
              << " s\n" << std::flush;
    if (r + 1 < rounds) RunInProcess(app);
  }
  std::cout << "Clearing holds " << least << " to " << most << " s; a writer with a 5 s busy timeout "
            << (most < 5.0 ? "keeps " + std::to_string(5.0 - most) + " s of it\n"
                           : "gives up " + std::to_string(most - 5.0) + " s before the longest ends\n");
  StopDirectory(dir);
  return rc;
}

// The command line: the flags wherever they stand, the numbers in their
// order (MAILBOXES, then ROUNDS). "" when it reads them all, else why not:
// an unknown word, a number that is not a whole number of at least 1, a
// third number, or --cold without --clearing.
struct Words {
  bool clearing = false;
  bool cold = false;
  std::vector<long> numbers;
};

std::string ReadWords(int argc, char** argv, Words& words) {
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--clearing") {
      words.clearing = true;
    } else if (word == "--cold") {
      words.cold = true;
    } else {
      char* end = nullptr;
      errno = 0;
      const long n = std::strtol(word.c_str(), &end, 10);
      if (word.empty() || !std::isdigit(static_cast<unsigned char>(word[0])) || *end != '\0' || errno != 0 ||
          n < 1 || words.numbers.size() == 2)
        return "cannot read '" + word + "'";
      words.numbers.push_back(n);
    }
  }
  if (words.cold && !words.clearing) return "--cold is a flag of --clearing";
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  Words words;
  if (const std::string why = ReadWords(argc, argv, words); !why.empty()) {
    std::cerr << "bench_scheduled_run: " << why << "\n"
              << "usage: bench_scheduled_run [MAILBOXES] [ROUNDS]\n"
              << "       bench_scheduled_run --clearing [--cold] [MAILBOXES] [ROUNDS]\n"
              << "MAILBOXES and ROUNDS are whole numbers of at least 1; the flags may stand anywhere.\n";
    return 2;
  }
  const bool clearing = words.clearing;
  const long mailboxes = words.numbers.size() > 0 ? words.numbers[0] : clearing ? 100000 : 20000;
  const int rounds = words.numbers.size() > 1 ? static_cast<int>(words.numbers[1]) : 3;
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication qapp(argc, argv);
  const fs::path root = fs::temp_directory_path() / ("velmo-bench-sched-" + std::to_string(::getpid()));
  const fs::path app = root / "app";
  setenv("VELMORCAST_HOME", app.c_str(), 1);
  setenv("VELMORCAST_PROVIDERS", (app / "providers").c_str(), 1);
  unsetenv("VELMORCAST_LDAP_HOSTS");
  sr::StatusWindow window;
  sr::frmStatus = &window;
  if (clearing) {
    const int rc = ClearingHolds(root, app, mailboxes, rounds, words.cold);
    sr::frmStatus = nullptr;
    std::error_code ec;
    fs::remove_all(root, ec);
    return rc;
  }
  int rc = 0;

  const long sizes[] = {mailboxes / 4, mailboxes / 2, mailboxes};
  long peaks[3] = {0, 0, 0};
  for (int i = 0; i < 3; ++i) {
    const fs::path dir = root / ("ldap-" + std::to_string(sizes[i]));
    std::cout << "Sample directory with " << sizes[i] << " bulk mailboxes...\n" << std::flush;
    if (!StartDirectory(dir, sizes[i])) {
      std::cerr << "the sample directory did not start\n";
      return 2;
    }
    Install(app, dir / "ldaphosts.conf");
    WriteSettings(app, "No Such Report", "CSV");
    RunInProcess(app);  // an earlier collection of EX1 in the database
    if (i == 2) {
      double bestA = 1e9, bestB = 1e9;
      for (int r = 0; r < rounds; ++r) {
        long kib = 0;
        bestA = std::min(bestA, RunProgram(app, kib));
        peaks[i] = std::max(peaks[i], kib);
        bestB = std::min(bestB, RunInProcess(app));
      }
      const double ratio = bestA / bestB;
      std::cout << "  (a) VLMRSchedule as cron starts it: " << bestA << " s\n"
                << "  (b) the same steps in one process:  " << bestB << " s\n"
                << "  ratio a/b: " << ratio << " (target at most 1.2)\n";
      if (ratio > 1.2) rc = 1;
      WriteSettings(app, "Default", "CSV");
      long kib = 0;
      const double s = RunProgram(app, kib, 0);
      std::cout << "  \"Default\" as CSV: " << s << " s, peak " << kib << " KiB\n";
    } else {
      RunProgram(app, peaks[i]);
    }
    std::cout << "  peak of (a): " << peaks[i] << " KiB\n";
    StopDirectory(dir);
  }
  const double perMailbox = 1024.0 * double(peaks[2] - peaks[0]) / double(sizes[2] - sizes[0]);
  std::cout << "Growth of the peak per mailbox: " << perMailbox << " bytes (target under 1024)\n";
  if (perMailbox >= 1024.0) rc = 1;
  sr::frmStatus = nullptr;
  std::error_code ec;
  fs::remove_all(root, ec);
  return rc;
}
