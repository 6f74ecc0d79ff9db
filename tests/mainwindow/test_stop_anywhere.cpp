// A real SIGTERM at any moment ends the main program with 128 + the
// signal, within the bound and without a crash: from its very start
// through the splash to the main window (the program itself), during a
// custom report's detail report, and while the profile chooser is open
// under a browse window's collection. The last two run this test again as
// the main program: the stop watch installed, the event loop left to end
// the process, the signal raised at a moment the program's progress gives.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTabBar>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <thread>

#include "Directory.h"
#include "QtUi.h"
#include "ReportsKit.h"
#include "SanitizerOptions.h"
#include "WindowShots.h"
#include "frmAutoFormat.h"
#include "frmConnect.h"
#include "frmCustomReport.h"
#include "modStartup.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using velmo::test::HangBound;
using velmo::test::TestHome;

namespace {

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// Starts a program with extra environment entries; its standard error
// stream goes to `said`.
pid_t Start(const std::vector<std::string>& argv, const std::vector<std::string>& env, const fs::path& said) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(::open(said.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
    for (const auto& e : env) ::putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  return child;
}

// Waits for the child's end (killed past the bound); its status as a shell
// gives it, and the seconds it took.
std::pair<int, double> EndOf(pid_t child, double bound) {
  const auto t0 = Clock::now();
  int status = 0;
  while (::waitpid(child, &status, WNOHANG) == 0) {
    if (Since(t0) > bound) ::kill(child, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), Since(t0)};
}

// Waits until `ready` holds; false when the child ended first or the
// bound passed, the child then killed and reaped.
bool WaitFor(pid_t child, const std::function<bool()>& ready) {
  const auto t0 = Clock::now();
  while (!ready()) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != 0 ||
        Since(t0) > HangBound(120.0)) {
      ::kill(child, SIGKILL);
      ::waitpid(child, nullptr, 0);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// The moments of the program's own start, each read from what it has made.
struct StartMoment {
  const char* what;
  const char* made;  // a file or folder of the application folder; "" at once
};
const StartMoment kStartMoments[] = {
    {"at once", ""},
    {"splash shown (instance lock taken)", "VELMORC.lock"},
    {"database made", "velmo.mdb"},
    {"main window loaded", "Export"},
};

}  // namespace

TEST(StopAnywhere, AStopFromTheStartOnEndsTheProgram) {
  for (const StartMoment& m : kStartMoments) {
    SCOPED_TRACE(m.what);
    TestHome home(false);
    std::vector<std::string> env = {"VELMORCAST_HOME=" + home.dir().string(), "QT_QPA_PLATFORM=offscreen"};
    for (const auto& o : velmo::test::SanitizerOptions()) env.push_back(o);
    const pid_t child = Start({(TestHome::BuildAppDir() / "VELMORC").string()}, env, home / "said.txt");
    ASSERT_TRUE(WaitFor(child, [&] { return !*m.made || fs::exists(home / m.made); })) << "never made " << m.made;
    ASSERT_EQ(::kill(child, SIGTERM), 0);
    const auto [status, took] = EndOf(child, HangBound(5.0));
    EXPECT_EQ(status, 143) << TestHome::Slurp(home / "said.txt");
    EXPECT_LT(took, HangBound(5.0));
    std::cout << m.what << ": ended " << took << " s after the signal\n";
  }
}

namespace {

using namespace reports_test;

// What the child is stopped during; the signal is raised once `ready`
// holds (read by a timer the program's event processing runs).
enum class Work { DetailReport, PublicFolders, MailboxResources };

class StopDuring : public ReportsTest {
 protected:
  // The child's part: drives the work from the main loop, raises SIGTERM
  // at the moment, writes what it saw then into `marker` and ends with the
  // loop's status.
  [[noreturn]] void RunAsMainProgram(Work work, long pages, const fs::path& marker) {
    WatchStopSignals();
    velmo::ads::SetWaitHook(DirectoryWaitHook);
    if (work != Work::DetailReport) velmo::ui::SetUi(std::make_shared<velmo::QtUi>());
    long whole = 0;        // statements of a whole detail report
    bool raised = false;
    frmExch* browse = nullptr;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
      QWidget* modal = QApplication::activeModalWidget();
      bool now = false;
      if (auto* dialog = qobject_cast<frmConnect*>(modal); dialog && dialog->cboServerName->currentText() != "EX1") {
        dialog->cboServerName->setEditText("EX1");
        // Outside this timer's call, so that it goes on ticking.
        QTimer::singleShot(0, dialog->cmdOk, &QPushButton::click);
      } else if (auto* report = qobject_cast<frmCustomReport*>(modal); report && whole == 0) {
        whole = -1;
        QTimer::singleShot(0, report, [report, &whole] {
          report->tvwServers->setCurrentItem(FindTreeNode(*report->tvwServers, kLakeRecipients));
          report->ClickTypeTab(1);
          whole = report->lastStatementCount;
          report->ClickTypeTab(0);
          report->ClickTypeTab(1);
        });
      } else if (report && whole > 0) {
        now = report->lastEngine == "detail" && report->lastStatementCount >= pages + 1;
        if (now) std::ofstream(marker) << report->lastStatementCount << " of " << whole << "\n";
      } else if (modal && modal->objectName() == "frmChooseProfile") {
        velmo::test::SaveShot(modal, "choose_profile_under_a_collection");
        now = true;
        std::ofstream(marker) << "chooser open\n";
      }
      if (now && !raised) {
        raised = true;
        ::raise(SIGTERM);
      }
    });
    driver.start(5);
    QTimer::singleShot(0, main, [&] {
      if (work == Work::DetailReport) return main->mnuCustomReport->trigger();
      browse = Open("EX1", "Lakeside");
      if (work == Work::PublicFolders) {
        Click(browse, kLakeRecipients);
        for (int i = 0; i < browse->tabType->count(); ++i)
          if (browse->tabType->tabText(i) == "Public Folders") browse->ClickTypeTab(i);
      } else {
        Click(browse, kEX1 + "/cn=Microsoft Private MDB");
        for (int i = 0; i < browse->tabProp->count(); ++i)
          if (browse->tabProp->tabText(i) == "Mailbox Resources") browse->ClickPropTab(i);
      }
    });
    const int status = QApplication::exec();
    std::fflush(nullptr);
    std::exit(status);
  }

  // 20,000 mailboxes of the Lakeside recipients with a row on every page.
  void WriteManyMailboxes() {
    for (const char* table : {"MailboxGeneral", "MailboxOrgnPhoneNotes", "MailboxCustomAttr", "MailboxDLEmailAddr",
                              "MailboxPerm", "MailboxDelivRestr", "MailboxAdvanced", "MailboxProtocols"})
      gConn->Execute(std::string("with recursive n(i) as (select 1 union all select i + 1 from n where i < 20000) ") +
                     "insert into " + table + " (ServerName, [Object Path], [Display Name], [Alias Name]) " +
                     "select 'EX1', '" + kLakeRecipients + "', 'Many ' || i, 'many' || i from n");
  }
};

}  // namespace

// The detail report stopped after its first, third and fifth page, and
// each road to the profile chooser with the chooser open: the program
// ends with 143 within the bound, the report assembling nothing of the
// pages it did not read; the child's own test home goes with this one.
TEST_F(StopDuring, AStopDuringWorkEndsTheProgram) {
  struct Case {
    const char* what;
    Work work;
    long pages;  // detail report pages read before the signal
  };
  const Case cases[] = {
      {"detail report, 1 page read", Work::DetailReport, 1},
      {"detail report, 3 pages read", Work::DetailReport, 3},
      {"detail report, 5 pages read", Work::DetailReport, 5},
      {"profile chooser of the Public Folders tab", Work::PublicFolders, 0},
      {"profile chooser of the Mailbox Resources page", Work::MailboxResources, 0},
  };
  if (const char* index = std::getenv("VELMO_STOP_DURING")) {
    const Case& c = cases[std::atoi(index)];
    if (c.work == Work::DetailReport) WriteManyMailboxes();
    RunAsMainProgram(c.work, c.pages, std::getenv("VELMO_STOP_MARKER"));
  }
  const fs::path marker = home / "stopped-at";
  const fs::path said = home / "said.txt";
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].what);
    fs::remove(marker);
    const std::vector<std::string> env = {"VELMO_STOP_DURING=" + std::to_string(i), "VELMO_STOP_MARKER=" + marker.string(),
                                          home.ChildTmpdir()};
    const pid_t child = Start({"/proc/self/exe", "--gtest_filter=StopDuring.*"}, env, said);
    ASSERT_TRUE(WaitFor(child, [&] { return fs::exists(marker); })) << TestHome::Slurp(said);
    const auto [status, took] = EndOf(child, HangBound(5.0));
    EXPECT_EQ(status, 143) << TestHome::Slurp(said);
    EXPECT_LT(took, HangBound(5.0));
    EXPECT_EQ(TestHome::HomesLeftBy(child), std::vector<fs::path>{});
    const std::string at = TestHome::Slurp(marker);
    if (cases[i].work == Work::DetailReport) {
      const long read = std::atol(at.c_str()), whole = std::atol(at.substr(at.find(" of ") + 4).c_str());
      EXPECT_LT(read, whole) << "the signal came after the last page";
    }
    std::cout << cases[i].what << ": " << at.substr(0, at.size() - 1) << ", ended " << took << " s after\n";
  }
}
