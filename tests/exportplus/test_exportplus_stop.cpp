// The main program given a real SIGTERM while Export Plus or Print Plus
// runs, while Export Plus waits for another program's collection of the
// server, and while it checks a server that stopped answering: it ends
// within the bound with 128 + the signal, begins no output after the
// signal (the one under way finishes whole or is dropped, no temporary
// file stays), and its error log gets one entry saying how many outputs
// were written. The program is this test run again as the main program runs:
// the stop watch installed, the main window deleted when it closes, Export
// Plus opened from the menu (its window on the menu command's stack) and
// the event loop left to end the process.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "AppFolder.h"
#include "CollectionLock.h"
#include "Directory.h"
#include "ExportPlusKit.h"
#include "LdapProxy.h"
#include "QtUi.h"
#include "SanitizerOptions.h"
#include "frmAutoFormat.h"
#include "modStartup.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using velmo::test::TestHome;

namespace {

enum class Moment { FirstOutput, FifthOutput, Collecting, WaitingForOther, CheckingServer, ClosingBox };

struct Case {
  const char* what;
  short mode;      // 0 Export Plus, 1 Print Plus
  int format;      // Export Plus's format button: 0 database, 1 CSV
  Moment moment;   // when the signal is sent
};

const Case kCases[] = {
    {"CSV, first output written", 0, 1, Moment::FirstOutput},
    {"CSV, fifth output written", 0, 1, Moment::FifthOutput},
    {"CSV, collecting", 0, 1, Moment::Collecting},
    {"database, first table written", 0, 0, Moment::FirstOutput},
    {"database, fifth table written", 0, 0, Moment::FifthOutput},
    {"Print Plus, first PDF written", 1, 1, Moment::FirstOutput},
    {"Print Plus, fifth PDF written", 1, 1, Moment::FifthOutput},
    {"waiting for another program's collection", 0, 1, Moment::WaitingForOther},
    {"checking a server that stopped answering", 0, 1, Moment::CheckingServer},
    {"its closing message on screen", 0, 1, Moment::ClosingBox},
};

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// The main program's part: runs Export Plus or Print Plus from the menu
// into `out`, leaving marks of where it is in `marks`, and ends as the
// program does (the event loop's status).
[[noreturn]] void RunAsMainProgram(const Case& c, const fs::path& out, const fs::path& marks) {
  exportplus_test::App();
  // Boxes wait for an answer as on a screen in the last case.
  if (c.moment == Moment::ClosingBox)
    velmo::ui::SetUi(std::make_shared<velmo::QtUi>());
  else
    velmo::ui::SetUi(std::make_shared<velmo::ui::UnattendedUi>([](const std::string& what) {
      std::fprintf(stderr, "%s\n", what.c_str());
    }));
  velmo::ads::SetWaitHook(DirectoryWaitHook);
  WatchStopSignals();
  // The server stops answering once connected, before Export is pressed.
  std::unique_ptr<velmo::test::LdapProxy> proxy;
  if (c.moment == Moment::CheckingServer) {
    proxy = std::make_unique<velmo::test::LdapProxy>(velmo::test::SamplePort("EX1"));
    ::setenv("VELMORCAST_LDAP_HOSTS", proxy->WriteHostsFile(marks).c_str(), 1);
  }
  auto* main = new Mdifrm();
  main->setAttribute(Qt::WA_DeleteOnClose);
  main->iConnectCount = 1;  // no start-up connect
  main->show();
  bool clicked = false;
  QTimer driver;
  QObject::connect(&driver, &QTimer::timeout, [&] {
    // Marks for the test: a box on screen, the progress window collecting
    // or waiting for another collection.
    if (qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) std::ofstream(marks / "box");
    if (const frmAutoFormat* f = gfrmAutoFormat; f && f->isVisible() && (f->iEPInfo == 1 || f->iEPInfo == 3))
      std::ofstream(marks / (f->iEPInfo == 1 ? "collecting" : "waiting"));
    auto* w = qobject_cast<frmExportPlus*>(QApplication::activeModalWidget());
    if (w && w->lblStatus->text().startsWith("Checking that")) std::ofstream(marks / "checking");
    if (clicked || !w || !w->isVisible()) return;
    clicked = true;
    velmo::test::FocusControl(w->cboServerName);
    velmo::test::TypeText("EX1");
    velmo::test::PressKey(Qt::Key_Return);
    if (proxy) proxy->Lose(velmo::test::LdapProxy::Loss::Stop);
    if (c.mode == 0) {
      w->optFormat[c.format]->click();
      w->txtPath->setText(QString::fromStdString(out.string()));
    } else {
      w->cboPrinterName->setCurrentText("Velmorcast PDF");
    }
    // Run outside this timer's call, so that it goes on ticking.
    QTimer::singleShot(0, w->cmdExport, &QPushButton::click);
  });
  driver.start(20);
  QTimer::singleShot(0, main, [main, c] { c.mode == 0 ? main->mnuExportPlus_Click() : main->mnuPrintPlus_Click(); });
  const int status = QApplication::exec();
  std::fflush(nullptr);
  std::exit(status);
}

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) names.insert(e.path().filename().string());
  return names;
}

// The tables of a database file. One that is being written is read past
// its lock (as it is on the disk), since its writer may keep a reader
// waiting on the lock out until the file is done.
long Tables(const fs::path& file, bool beingWritten) {
  std::string out;
  const std::string command =
      "sqlite3 -batch -readonly " + std::string(beingWritten ? "'file:" : "-cmd '.timeout 5000' '") + file.string() +
      (beingWritten ? "?immutable=1'" : "'") + " 'select count(*) from sqlite_master' 2>&1";
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buf[256];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    ::pclose(p);
  }
  return std::atol(out.c_str());
}

}  // namespace

TEST(ExportPlusStop, AStopSignalEndsTheRunAndNoOutputIsBegunAfterIt) {
  if (const char* index = std::getenv("VELMO_STOP_CASE")) {
    const fs::path home = std::getenv("VELMORCAST_HOME");
    RunAsMainProgram(kCases[std::atoi(index)], home / "Out", home);
  }
  if (!velmo::test::UseSampleDirectory::Available()) GTEST_SKIP() << "the sample directory is not running";
  for (size_t i = 0; i < std::size(kCases); ++i) {
    const Case& c = kCases[i];
    SCOPED_TRACE(c.what);
    TestHome home;
    velmo::test::UseSampleDirectory directory;
    ::setenv("VELMORCAST_PROVIDERS", (TestHome::SourceDir() / "sample" / "providers").c_str(), 1);
    const fs::path folder = c.mode == 0 ? home / "Out" : home / "Print";
    velmo::exporting::CollectionLock other;
    if (c.moment == Moment::WaitingForOther)
      ASSERT_EQ(other.Take(velmo::AppPath("\\velmo.mdb").string(), "EX1", nullptr),
                velmo::exporting::CollectionLock::Outcome::Taken);
    const pid_t child = ::fork();
    if (child == 0) {  // what it says on its standard error stream is kept
      ::dup2(::open((home / "said.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
      ::setenv("VELMO_STOP_CASE", std::to_string(i).c_str(), 1);
      ::execl("/proc/self/exe", "/proc/self/exe", "--gtest_filter=ExportPlusStop.*", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // The outputs finished: CSV and PDF files, a database's tables.
    const auto outputs = [&](bool running = false) {
      long n = 0;
      for (const auto& name : Names(folder)) {
        const std::string end = name.size() > 4 && name[0] != '.' ? name.substr(name.size() - 4) : "";
        n += end == ".mdb" ? std::max(0L, Tables(folder / name, running)) : end == ".csv" || end == ".pdf";
      }
      return n;
    };
    const auto t0 = Clock::now();
    const auto ready = [&] {
      if (c.moment == Moment::FirstOutput || c.moment == Moment::FifthOutput)
        return outputs(true) >= (c.moment == Moment::FirstOutput ? 1 : 5);
      return fs::exists(home / (c.moment == Moment::ClosingBox       ? "box"
                                : c.moment == Moment::Collecting     ? "collecting"
                                : c.moment == Moment::CheckingServer ? "checking"
                                                                     : "waiting"));
    };
    while (!ready() && Since(t0) < velmo::test::HangBound(120.0) && ::waitpid(child, nullptr, WNOHANG) == 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(::kill(child, SIGTERM), 0);
    const auto signalled = Clock::now();
    const long atSignal = outputs();
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0)
      if (Since(signalled) < velmo::test::HangBound(5.0)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      } else {
        ::kill(child, SIGKILL);
      }
    const double took = Since(signalled);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), 143);
    EXPECT_LT(took, velmo::test::HangBound(5.0));
    // The output under way at the signal may still be put in place whole;
    // none is begun after it, none is left half made.
    const long atEnd = outputs();
    EXPECT_LE(atEnd, atSignal + 1);
    for (const auto& name : Names(folder))
      EXPECT_TRUE(name[0] != '.' && name.find("-journal") == std::string::npos) << name << " left";
    const std::string log = TestHome::Slurp(home / "VelmorcastErrorLog.log");
    const std::regex entry(R"(signal SIGTERM : (\d+) outputs? written\s+frmExportPlus cmdExport Run Stopped)");
    std::vector<long> written;
    for (auto it = std::sregex_iterator(log.begin(), log.end(), entry); it != std::sregex_iterator(); ++it)
      written.push_back(std::stol((*it)[1].str()));
    // A run that had ended is no stopped run.
    EXPECT_EQ(written, c.moment == Moment::ClosingBox ? std::vector<long>{} : std::vector<long>{atEnd});
    EXPECT_EQ(log.find("Failed"), std::string::npos);
    if (c.moment == Moment::WaitingForOther || c.moment == Moment::CheckingServer) EXPECT_EQ(atEnd, 0);
    // The calls the stop gave up are no failed binds.
    EXPECT_EQ(TestHome::Slurp(home / "said.txt").find("Error occured while binding"), std::string::npos);
    std::cout << c.what << ": " << took << " s after the signal, " << atSignal << " outputs at the signal, " << atEnd
              << " at the end\n";
    ::unsetenv("VELMORCAST_PROVIDERS");
  }
}
