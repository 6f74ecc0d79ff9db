#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QtGlobal>

#include <chrono>
#include <ctime>
#include <fstream>
#include <functional>
#include <future>
#include <thread>

#include "AppFolder.h"
#include "ComFactory.h"
#include "DateText.h"
#include "DisplayProbe.h"
#include "DisplayStandIns.h"
#include "InstanceLock.h"
#include "QtNotices.h"
#include "TestHome.h"
#include "TextFile.h"
#include "TextParts.h"
#include "TextPartsUnicode.h"
#include "ScriptedUi.h"
#include "Ui.h"

using namespace velmo;

TEST(AppFolder, HomeVariableAndBackslashPaths) {
  test::TestHome home(false);
  EXPECT_EQ(AppFolder(), home.dir());
  EXPECT_EQ(AppPath("\\velmo.mdb"), home.dir() / "velmo.mdb");
  EXPECT_EQ(AppPath("Schedule\\SchedConfig.cfg"), home.dir() / "Schedule" / "SchedConfig.cfg");
  EXPECT_EQ(AppPath("\\Export"), home.dir() / "Export");
  EXPECT_EQ(WinPath("/base", "/abs/file"), std::filesystem::path("/abs/file"));
  EXPECT_EQ(NativePath("/opt/v\\velmo.mdb"), std::filesystem::path("/opt/v/velmo.mdb"));
  EXPECT_EQ(AppFolderText(), home.dir().string());
}

TEST(DateText, GeneralShortAndTimeForms) {
  std::tm t{};
  t.tm_year = 2024 - 1900;
  t.tm_mon = 2;
  t.tm_mday = 7;
  t.tm_hour = 16;
  t.tm_min = 5;
  t.tm_sec = 9;
  EXPECT_EQ(GeneralDate(t), "3/7/2024 4:05:09 PM");
  EXPECT_EQ(ShortDate(t), "3/7/2024");
  EXPECT_EQ(TimeText(t), "4:05:09 PM");
  t.tm_hour = 0;
  EXPECT_EQ(TimeText(t), "12:05:09 AM");
  t.tm_hour = 12;
  EXPECT_EQ(TimeText(t), "12:05:09 PM");
  t.tm_mon = 11;
  t.tm_mday = 31;
  t.tm_hour = 23;
  EXPECT_EQ(GeneralDate(t), "12/31/2024 11:05:09 PM");
}

// Names the engine compares with NOCASE keep every letter beyond A to Z as
// it is; names a person types fold by Unicode's rules.
TEST(TextCase, AsciiRulesTouchOnlyAToZAndUnicodeRulesFoldEveryLetter) {
  struct Row {
    const char* text;
    const char* lowerAscii;
    const char* upperAscii;
    const char* foldUnicode;
    const char* upperUnicode;
  };
  for (const Row& r : {Row{"Ex1-a_Z", "ex1-a_z", "EX1-A_Z", "ex1-a_z", "EX1-A_Z"},
                       Row{"Émile", "Émile", "ÉMILE", "émile", "ÉMILE"},
                       Row{"Straße", "straße", "STRAßE", "straße", "STRASSE"}}) {
    EXPECT_EQ(text::LowerAscii(r.text), r.lowerAscii) << r.text;
    EXPECT_EQ(text::UpperAscii(r.text), r.upperAscii) << r.text;
    EXPECT_EQ(text::FoldUnicode(r.text), r.foldUnicode) << r.text;
    EXPECT_EQ(text::UpperUnicode(r.text), r.upperUnicode) << r.text;
  }
  EXPECT_TRUE(text::EqualNoCase("ServerName", "SERVERNAME"));
  EXPECT_FALSE(text::EqualNoCase("Émile", "émile"));
  EXPECT_FALSE(text::EqualNoCase("cn=EX1", "cn=EX10"));
  EXPECT_TRUE(text::StartsWithNoCase("CN=EX1", "cn="));
  EXPECT_FALSE(text::StartsWithNoCase("cn", "cn="));
}

TEST(TextFile, AppendCreatesAndKeepsCrLf) {
  test::TestHome home(false);
  auto f = home / "log.txt";
  EXPECT_TRUE(AppendLine(f, "one"));
  EXPECT_TRUE(AppendLine(f, ""));
  EXPECT_EQ(test::TestHome::Slurp(f), "one\r\n\r\n");
  std::vector<std::string> lines;
  ASSERT_TRUE(ReadLines(f, lines));
  EXPECT_EQ(lines, (std::vector<std::string>{"one", ""}));
  EXPECT_FALSE(AppendLine(home / "no" / "such" / "folder.txt", "x"));
}

// On a lock file made when missing, a folder, and a link (the file it names
// is locked); a link to nothing is never followed.
TEST(FileLock, SharedAndExclusive) {
  namespace fs = std::filesystem;
  test::TestHome home(false);
  fs::create_directory(home / "folder");
  std::ofstream(home / "file").put('x');
  fs::create_symlink(home / "file", home / "link");
  for (const auto& [f, same] : {std::pair{home / "x.lock", home / "x.lock"}, {home / "folder", home / "folder"},
                                {home / "link", home / "file"}}) {
    FileLock a, b, c;
    ASSERT_TRUE(a.TryLock(f, FileLock::Mode::Shared)) << f;
    EXPECT_TRUE(b.TryLock(same, FileLock::Mode::Shared));
    EXPECT_FALSE(c.TryLock(same, FileLock::Mode::Exclusive));
    a.Unlock();
    b.Unlock();
    EXPECT_TRUE(c.TryLock(f, FileLock::Mode::Exclusive));
    EXPECT_FALSE(a.TryLock(same, FileLock::Mode::Shared));
  }
  fs::create_symlink(home / "gone", home / "dangling");
  FileLock lock;
  std::error_code error;
  EXPECT_EQ(lock.Try(home / "dangling", FileLock::Mode::Exclusive, error), FileLock::Outcome::Failed);
  EXPECT_EQ(error, std::errc::no_such_file_or_directory);
  EXPECT_FALSE(fs::exists(home / "gone"));
}

// A display is used only when its own set-up answers in time and Qt has
// its plugin; otherwise windows draw off screen, and each display named says
// why it is not used.
TEST(DisplayProbe, ADisplayIsUsedOnlyWhenItsSetUpAnswers) {
  using test::DisplayStandIn;
  using Answer = DisplayStandIn::Answer;
  test::TestHome home(false);
  test::DisplayVariables restore;
  const std::string cookie = "0123456789abcdef";
  const DisplayStandIn granting(Answer::XSetUp, false, cookie);
  const DisplayStandIn refusing(Answer::XSetUp, false);
  const DisplayStandIn silentPort(Answer::Silent, true);
  const DisplayStandIn half(Answer::XHalfSetUp, false), anyone(Answer::XSetUp, true, "*");
  ::mkfifo((home / "fifo").c_str(), 0600);
  std::filesystem::create_directories(home / "run");
  const DisplayStandIn compositor(home / "run" / "wayland-1", Answer::WaylandRoundTrip);
  const DisplayStandIn silentCompositor(home / "run" / "wayland-2", Answer::Silent);
  ASSERT_FALSE(granting.name.empty() || refusing.name.empty() || silentPort.name.empty());
  std::filesystem::create_directories(home / "platforms");
  for (const char* plugin : {"libqxcb.so", "libqwayland-generic.so"}) std::ofstream(home / "platforms" / plugin);
  test::WriteXauthority(home / "Xauthority", granting.number, cookie);
  test::DisplayVariables::Set("XDG_RUNTIME_DIR", (home / "run").c_str());
  test::DisplayVariables::Set("HOME", nullptr);

  const std::string refused = "the X server refused the connection: Authorization required, but no authorization";
  const std::string silentX = "DISPLAY '" + silentPort.name + "' : the X server did not answer within 0.3 s";
  const std::string silentW = "WAYLAND_DISPLAY 'wayland-2' : the compositor did not answer within 0.3 s";
  struct Case {
    std::string display, wayland;
    int cookieFile;  // 1: the file, 2: a named pipe in its place
    bool plugins;
    std::string platform, why;  // why: how it begins
  };
  const Case cases[] = {
      {granting.name, "", true, true, "xcb", ""},
      {granting.name, "", false, true, "offscreen", "DISPLAY '" + granting.name + "' : " + refused},
      {refusing.name, "", true, true, "offscreen", "DISPLAY '" + refusing.name + "' : " + refused},
      {silentPort.name, "", true, true, "offscreen", silentX},
      {half.name, "", true, true, "offscreen", "DISPLAY '" + half.name + "' : the X server's set-up answer stopped "
                                               "short: the X server did not answer within 0.3 s"},
      {anyone.name, "", false, true, "xcb", ""},
      {anyone.name, "", 2, true, "offscreen", "DISPLAY '" + anyone.name + "' : the authorisation file '" +
                                               (home / "fifo").string() + "' is not a regular file"},
      {"no-display", "", true, true, "offscreen", "DISPLAY 'no-display' : not a display name"},
      {granting.name, "", true, false, "offscreen", "DISPLAY '" + granting.name + "' : Qt has no X11 (xcb) platform plugin"},
      {"", "wayland-1", false, true, "wayland", ""},
      {"", compositor.name, false, true, "wayland", ""},
      {"", "wayland-2", false, true, "offscreen", silentW},
      {"", "wayland-1", false, false, "offscreen", "WAYLAND_DISPLAY 'wayland-1' : Qt has no Wayland platform plugin"},
      {silentPort.name, "wayland-1", false, true, "wayland", ""},
      {silentPort.name, "wayland-2", false, true, "offscreen", silentX + "; " + silentW},
      {"", "", true, true, "offscreen", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.display + " " + c.wayland + (c.cookieFile ? " cookie" : "") + (c.plugins ? " plugins" : ""));
    test::DisplayVariables::Set("DISPLAY", c.display.c_str());
    test::DisplayVariables::Set("WAYLAND_DISPLAY", c.wayland.c_str());
    test::DisplayVariables::Set("XAUTHORITY", c.cookieFile == 2 ? (home / "fifo").c_str()
                                              : c.cookieFile ? (home / "Xauthority").c_str() : nullptr);
    // Silent displays are given a short bound, the others the program's.
    const bool silent = c.why.find("did not answer") != std::string::npos;
    const auto start = std::chrono::steady_clock::now();
    const DisplayChoice choice = ChooseDisplay({home / (c.plugins ? "platforms" : "none")},
                                               silent ? std::chrono::milliseconds(300) : kDisplayBound);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(choice.platform, c.platform);
    if (c.why.empty()) EXPECT_EQ(choice.why, "");
    else EXPECT_EQ(choice.why.rfind(c.why, 0), 0u) << choice.why;
  }
}

TEST(Ui, DefaultsScriptAndUnattendedAnswers) {
  EXPECT_EQ(ui::DefaultAnswer(ui::vbYesNo), ui::vbYes);
  EXPECT_EQ(ui::DefaultAnswer(ui::vbYesNo + ui::vbDefaultButton2), ui::vbNo);
  std::vector<std::string> logged;
  ui::UnattendedUi un([&](const std::string& s) { logged.push_back(s); });
  EXPECT_EQ(un.MsgBox("Connect again?", ui::vbYesNo + ui::vbQuestion, "T"), ui::vbNo);
  EXPECT_EQ(un.MsgBox("Failed", ui::vbInformation, "T"), ui::vbOK);
  EXPECT_EQ(logged.size(), 2u);

  auto scripted = std::make_shared<ui::ScriptedUi>();
  scripted->QueueMsgBox(ui::vbNo);
  scripted->QueueProfile("MS Exchange Settings");
  auto previous = ui::SetUi(scripted);
  EXPECT_EQ(ui::Ui().MsgBox("Q", ui::vbYesNo, "T"), ui::vbNo);
  std::string chosen;
  EXPECT_TRUE(ui::Ui().ChooseProfile({"MS Exchange Settings"}, 0, chosen));
  EXPECT_EQ(chosen, "MS Exchange Settings");
  EXPECT_FALSE(ui::Ui().ChooseProfile({"x"}, 0, chosen));  // nothing queued: Cancel
  ASSERT_EQ(scripted->shown().size(), 3u);
  EXPECT_EQ(scripted->shown()[0].prompt, "Q");
  ui::SetUi(previous);

  int w = 0;
  long id = ui::RegisterWindow(&w);
  EXPECT_EQ(ui::WindowFromId(id), &w);
  ui::UnregisterWindow(id);
  EXPECT_EQ(ui::WindowFromId(id), nullptr);
}

namespace {
struct IThing {
  static constexpr const char* IID = "IThing";
  virtual int Answer() = 0;
};
struct Thing : com::ComObject, IThing {
  void* QueryInterface(std::string_view iid) override { return iid == IID ? static_cast<IThing*>(this) : nullptr; }
  int Answer() override { return 42; }
};
}  // namespace

TEST(ComFactory, BuiltinsVersionedProgIdsAndUnknownClasses) {
  test::TestHome home(false);
  com::RegisterBuiltin("Test.Thing", [] { return new Thing; });
  EXPECT_EQ(com::CreateObject<IThing>("test.thing")->Answer(), 42);
  EXPECT_EQ(com::CreateObject<IThing>("Test.Thing.1")->Answer(), 42);
  com::UnregisterBuiltin("Test.Thing");
  try {
    com::CreateObject<IThing>("Test.Thing");
    FAIL();
  } catch (const ComError& e) {
    EXPECT_EQ(e.Number(), Hr(0x80040154));
    EXPECT_EQ(e.Description(), "Class not registered");
  }
}

TEST(ComFactory, RegistryFileEntries) {
  test::TestHome home(false);
  ASSERT_TRUE(com::RegisterClasses(home / "libA.so", {{"A.One", "One"}, {"A.Two", "Two"}}));
  ASSERT_TRUE(com::RegisterClasses("/elsewhere/libB.so", {{"B.One", "One"}}));
  auto regs = com::ReadRegistry(com::RegistryFile());
  ASSERT_EQ(regs.size(), 3u);
  EXPECT_EQ(regs[0].library, "libA.so");
  EXPECT_EQ(regs[2].library, "/elsewhere/libB.so");
  ASSERT_TRUE(com::UnregisterLibrary(home / "libA.so"));
  regs = com::ReadRegistry(com::RegistryFile());
  ASSERT_EQ(regs.size(), 1u);
  // A registered class whose library is missing is "not registered".
  EXPECT_THROW(com::CreateObjectRaw("B.One"), ComError);
}

// The factory keeps the registry file as last read while it is unchanged;
// every change to it (in place with the same size and its old modification
// time put back, moved over it, removed) is seen by the next creation. A
// file changed moments ago is read afresh, so "settled" steps wait that out
// before the creation that keeps it.
TEST(ComFactory, EveryChangeToTheRegistryFileIsSeenByTheNextCreation) {
  test::TestHome home;
  const auto file = com::RegistryFile();
  std::string original;
  {
    std::ifstream in(file);
    original.assign(std::istreambuf_iterator<char>(in), {});
  }
  ASSERT_NE(original.find("VELMORCCom.Exch55\t"), std::string::npos);
  // Every entry of the class (versioned too) renamed, at the same size.
  std::string without = original;
  for (size_t at; (at = without.find("VELMORCCom.Exch55")) != std::string::npos;)
    without.replace(at, 10, "VELMORCXXX");
  auto created = [] {
    try {
      return com::CreateObjectRaw("VELMORCCom.Exch55") != nullptr;
    } catch (const ComError&) {
      return false;
    }
  };
  auto inPlace = [&](const std::string& text) {
    const auto before = std::filesystem::last_write_time(file);
    std::ofstream(file, std::ios::trunc) << text;
    std::filesystem::last_write_time(file, before);
  };
  auto movedOver = [&](const std::string& text) {
    std::ofstream(file.string() + ".new") << text;
    std::filesystem::rename(file.string() + ".new", file);
  };
  struct Step {
    const char* what;
    std::function<void()> change;
    bool settle;
    bool expected;
  };
  const Step steps[] = {
      {"as copied, kept", [] {}, true, true},
      {"class renamed in place, same size, same time", [&] { inPlace(without); }, false, false},
      {"restored, kept", [&] { inPlace(original); }, true, true},
      {"moved over without the class", [&] { movedOver(without); }, false, false},
      {"moved over with it, kept", [&] { movedOver(original); }, true, true},
      {"removed", [&] { std::filesystem::remove(file); }, false, false},
      {"written again", [&] { std::ofstream(file) << original; }, false, true},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    step.change();
    if (step.settle) std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    EXPECT_EQ(created(), step.expected);
    EXPECT_EQ(created(), step.expected);  // the second from what was kept
  }
}

// A registered class whose library cannot be used: still "Class not
// registered", followed by the loader's reason.
TEST(ComFactory, ALibraryThatCannotBeUsedSaysWhy) {
  test::TestHome home(false);
  std::ofstream(home / "libText.so") << std::string(200, 'x');
  const std::string jobs = (test::TestHome::BuildAppDir() / "libKORVSchedule.so").string();
  const struct {
    std::string line, why;  // library and class; the end of the description
  } cases[] = {
      {(home / "libNone.so\tOne").string(), "libNone.so: cannot open shared object file: No such file or directory"},
      {(home / "libText.so\tOne").string(), "libText.so: invalid ELF header"},
      {com::LibraryOf(reinterpret_cast<const void*>(&com::RegistryFile)).string() + "\tOne",
       ": undefined symbol: VelmoCreateInstance"},
      {jobs + "\tNope", jobs + " has no class \"Nope\""},
  };
  for (const auto& c : cases) {
    std::ofstream(com::RegistryFile(), std::ios::trunc) << "X.Thing\t" << c.line << "\n";
    try {
      com::CreateObjectRaw("X.Thing");
      ADD_FAILURE() << c.line;
    } catch (const ComError& e) {
      EXPECT_EQ(e.Number(), com::kClassNotRegistered);
      EXPECT_TRUE(e.Description().starts_with("Class not registered: ") && e.Description().ends_with(c.why))
          << e.Description();
    }
  }
}

// Writers of the class registry need its lock: when another writer holds it
// past the 10 s wait, or its file cannot be used (a link to nothing, which
// is never followed to create a file), registering, unregistering
// and vregsvr (exiting non-zero) change nothing and say why.
TEST(ComFactory, RegistryWritesWithoutTheLockFailAndSayWhy) {
  test::TestHome home(false);
  ASSERT_TRUE(com::RegisterClasses(home / "libA.so", {{"A.One", "One"}}));
  const std::string before = test::TestHome::Slurp(com::RegistryFile());
  const std::filesystem::path lockFile = com::RegistryFile().string() + ".lock";
  const std::string vregsvr = (test::TestHome::BuildAppDir() / "vregsvr").string() + " " +
                              (test::TestHome::BuildAppDir() / "libKORVSchedule.so").string() + " 2>&1";
  for (const bool held : {true, false}) {
    const std::string why = held ? "stayed locked by another program" : "No such file or directory";
    FileLock other;
    std::filesystem::remove_all(lockFile);
    if (held)
      ASSERT_TRUE(other.TryLock(lockFile, FileLock::Mode::Exclusive));
    else
      std::filesystem::create_symlink(home / "nowhere", lockFile);  // never created through
    // The three wait out the lock side by side.
    auto attempt = [](std::function<bool()> write) {
      return std::async(std::launch::async, [write] { return write() ? "written" : com::LastRegistryFailure(); });
    };
    auto registering = attempt([&] { return com::RegisterClasses(home / "libB.so", {{"B.One", "One"}}); });
    auto unregistering = attempt([&] { return com::UnregisterLibrary(home / "libA.so"); });
    FILE* tool = ::popen(vregsvr.c_str(), "r");
    std::string output(4096, '\0');
    output.resize(std::fread(output.data(), 1, output.size(), tool));
    EXPECT_NE(::pclose(tool), 0);
    for (const std::string& said : {output, registering.get(), unregistering.get()})
      EXPECT_NE(said.find(why), std::string::npos) << said;
    EXPECT_EQ(test::TestHome::Slurp(com::RegistryFile()), before);
  }
}

// The platform plugins' warnings about what they cannot do for a window are
// dropped; every other message, a critical one of the same text too, reaches
// the handler installed before, once even when dropping is installed twice.
TEST(QtNotices, PlatformPluginWarningsAreDroppedAndTheRestPassedOn) {
  static std::vector<std::string> seen;
  qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
    seen.push_back(text.toStdString());
  });
  velmo::DropPlatformPluginWarnings();
  velmo::DropPlatformPluginWarnings();
  qWarning("This plugin does not support propagateSizeHints()");
  qWarning("QStandardPaths: XDG_RUNTIME_DIR not set, defaulting to '/tmp/runtime-root'");
  qWarning("A warning of the program");
  qCritical("This plugin does not support propagateSizeHints()");
  qInstallMessageHandler(nullptr);
  EXPECT_EQ(seen, (std::vector<std::string>{"A warning of the program",
                                            "This plugin does not support propagateSizeHints()"}));
}
