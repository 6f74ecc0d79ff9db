#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <fstream>
#include <functional>
#include <thread>

#include "AppFolder.h"
#include "ComFactory.h"
#include "DateText.h"
#include "InstanceLock.h"
#include "TestHome.h"
#include "TextFile.h"
#include "TextParts.h"
#include "TextPartsUnicode.h"
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

TEST(FileLock, SharedAndExclusive) {
  test::TestHome home(false);
  auto f = home / "x.lock";
  FileLock a, b, c;
  ASSERT_TRUE(a.TryLock(f, FileLock::Mode::Shared));
  EXPECT_TRUE(b.TryLock(f, FileLock::Mode::Shared));
  EXPECT_FALSE(c.TryLock(f, FileLock::Mode::Exclusive));
  a.Unlock();
  b.Unlock();
  EXPECT_TRUE(c.TryLock(f, FileLock::Mode::Exclusive));
  EXPECT_FALSE(a.TryLock(f, FileLock::Mode::Shared));
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
