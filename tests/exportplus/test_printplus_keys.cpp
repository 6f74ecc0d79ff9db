// Esc typed on a real X display stops a Print Plus run wherever it lands:
// a private Xvfb display without a window manager, one `xdotool key Escape`
// at a random moment of the printing per run. Skipped where Xvfb or xdotool
// is missing. Also a click on the progress window's Cancel during a page's
// commit, which waits until the commit is done. VELMO_ESC_PRESSES=N runs
// N presses instead of 3;
// VELMO_X_WM=<program> runs that window manager on the display.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <random>
#include <thread>

#include "Directory.h"
#include "ExportPlusKit.h"
#include "PrintStatusWatch.h"
#include "frmAutoFormat.h"

using namespace exportplus_test;
namespace fs = std::filesystem;

namespace {

bool Installed(const char* program) {
  return std::system(("command -v " + std::string(program) + " > /dev/null 2>&1").c_str()) == 0;
}

// A child running a shell command line.
pid_t Spawn(const std::string& command) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

// The program's display: an Xvfb of its own, made before the application
// object and stopped when the program ends.
struct XvfbDisplay {
  pid_t server = -1, manager = -1;
  XvfbDisplay() {
    const std::string number = std::to_string(200 + ::getpid() % 700);
    server = Spawn("exec Xvfb :" + number + " -screen 0 1280x1024x24 -nolisten tcp > /dev/null 2>&1");
    for (int i = 0; i < 100 && !fs::exists("/tmp/.X11-unix/X" + number); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ::setenv("DISPLAY", (":" + number).c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    if (const char* wm = std::getenv("VELMO_X_WM")) {
      manager = Spawn(std::string("exec ") + wm + " > /dev/null 2>&1");
      std::this_thread::sleep_for(std::chrono::seconds(1));
    }
  }
  ~XvfbDisplay() {
    if (manager > 0 && ::kill(manager, SIGTERM) == 0) ::waitpid(manager, nullptr, 0);
    ::kill(server, SIGTERM);
    ::waitpid(server, nullptr, 0);
  }
};

}  // namespace

class PrintPlusKeysTest : public ExportPlusTest {
 protected:
  void SetUp() override {
    if (!Installed("Xvfb") || !Installed("xdotool")) GTEST_SKIP() << "Xvfb or xdotool is not installed";
    static XvfbDisplay display;
    ExportPlusTest::SetUp();
  }
};

TEST_F(PrintPlusKeysTest, OneEscFromTheDisplayStopsTheRun) {
  Open(1);
  // The window system gives the window the keyboard in its own time.
  window->activateWindow();
  for (int i = 0; i < 300 && QApplication::activeWindow() != window; ++i) {
    Pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  Connect("EX1");
  window->cboPrinterName->setCurrentText("Velmorcast PDF");
  const char* asked = std::getenv("VELMO_ESC_PRESSES");
  const int presses = asked ? std::atoi(asked) : 3;
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> moment(0, 1500);  // ms after the first job's window shows
  int stopped = 0;
  for (int i = 0, tries = 0; i < presses && tries < 3 * presses; ++tries) {
    fs::remove_all(home / "Print");
    if (!window->isVisible()) {  // an Esc that came after a run closed it
      std::cout << "the window was closed; opened again\n";
      delete window;
      Open(1);
      Connect("EX1");
      window->cboPrinterName->setCurrentText("Velmorcast PDF");
    }
    const int delay = moment(random);
    const fs::path where = home / "focus.txt";
    pid_t press = -1;
    velmo::test::PrintStatusWatch watch;
    watch.onShow = [&](QWidget*) {
      if (press < 0)
        press = Spawn("sleep " + std::to_string(delay / 1000.0) + "; xdotool getwindowfocus getwindowname > '" +
                      where.string() + "' 2>&1; touch '" + where.string() + ".sent'; xdotool key Escape");
    };
    ui->clear();
    window->cmdExport->click();
    Pump();
    const bool sentInRun = fs::exists(where.string() + ".sent");
    if (press > 0) ::waitpid(press, nullptr, 0);
    fs::remove(where.string() + ".sent");
    if (!sentInRun) {  // the run ended before the press
      std::cout << "a press at " << delay << " ms came after the run\n";
      continue;
    }
    ++i;
    const bool stop = !Prompts().empty() &&
                      Prompts().back() == "Information Print process for ExportPlus canceled in the middle.";
    stopped += stop;
    const std::string focus = velmo::test::TestHome::Slurp(where).substr(0, 40);
    std::cout << "press " << i << " at " << delay << " ms, keyboard at '" << focus
              << "': " << (stop ? "stopped" : "not stopped") << std::endl;
  }
  std::cout << stopped << " of " << presses << " presses stopped the run (seed " << seed << ")\n";
  EXPECT_EQ(stopped, presses);
}

// A click on the progress window's Cancel while a page's rows are being
// written (the work paces the wait hook) is answered only after the
// commit: no question opens inside the page's write transaction. The X
// server holds the click meanwhile; the next directory wait takes it.
TEST_F(PrintPlusKeysTest, ACancelClickDuringACommitIsAnsweredAfterIt) {
  struct AskingUi : velmo::ui::ScriptedUi {
    std::vector<bool> duringCommit;  // per question: asked inside the commit
    int MsgBox(const std::string& prompt, int buttons, const std::string& title) override {
      duringCommit.push_back(velmo::ads::PacingWork());
      return ScriptedUi::MsgBox(prompt, buttons, title);
    }
  };
  auto asking = std::make_shared<AskingUi>();
  ui = asking;
  velmo::ui::SetUi(asking);
  velmo::ads::SetWaitHook(DirectoryWaitHook);
  frmAutoFormat progress(main);
  progress.iEPInfo = 1;
  progress.setWindowModality(Qt::ApplicationModal);
  progress.show();
  gfrmAutoFormat = &progress;
  for (int i = 0; i < 300 && !progress.isActiveWindow(); ++i) {
    Pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const QPoint at = progress.cmdCancel->mapToGlobal(progress.cmdCancel->rect().center());
  ASSERT_EQ(std::system(("xdotool mousemove " + std::to_string(at.x()) + " " + std::to_string(at.y()) + " click 1")
                            .c_str()),
            0);
  for (int i = 0; i < 100; ++i) {  // a commit going on for a second after the click
    EXPECT_TRUE(velmo::ads::PaceWaitHook());
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(asking->duringCommit, std::vector<bool>{});
  for (int i = 0; i < 300 && asking->duringCommit.empty(); ++i) {
    DirectoryWaitHook();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(asking->duringCommit, std::vector<bool>{false});
  gfrmAutoFormat = nullptr;
  velmo::ads::SetWaitHook(nullptr);
}
