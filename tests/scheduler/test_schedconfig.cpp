// The schedule settings file: round trips, damaged files, atomic rewrites.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "SchedConfig.h"
#include "TestHome.h"

using velmo::ScheduledServerEntry;
using velmo::ScheduleTaskEntry;
using velmo::SchedConfigContents;
using velmo::test::TestHome;
using namespace std::string_literals;

namespace {

void Put(const std::filesystem::path& p, const std::string& text) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}

ScheduleTaskEntry Task(int kind) {
  ScheduleTaskEntry t;
  t.account = "CORP\\ops";
  t.triggerKind = kind;
  t.startTime = "00:30";
  switch (kind) {
    case 0: t.count = "5"; t.startDate = "12/31/2026"; break;
    case 1: t.count = "3"; t.startDate = "01/02/2026"; t.endDate = "02/28/2026";
            t.repeatFlag = 1; t.repeatInterval = 120; t.repeatDuration = 300; t.stopAtEnd = "1"; break;
    case 2: t.count = "2"; t.dayList = "|TUESDAY|FRIDAY"; t.startDate = "03/01/2026"; break;
    case 3: t.count = "31"; t.dayList = "JANUARY|MARCH"; t.startDate = "03/01/2026";
            t.repeatFlag = 1; t.repeatInterval = 7; t.repeatDuration = 60; t.stopAtEnd = "0"; break;
    case 4: t.dayList = "JANUARY|FEBRUARY|MARCH|APRIL|MAY|JUNE|JULY|AUGUST|SEPTEMBER|OCTOBER|NOVEMBER|DECEMBER";
            t.weekIndex = 1; t.weekdayIndex = 4; t.startDate = "03/01/2026"; break;
    case 5: t.count = "32767"; break;
    case 6: t.repeatFlag = 1; break;
    case 7: t.account = "CORP\\Ünïcode user"; break;
  }
  return t;
}

std::vector<ScheduledServerEntry> Servers() {
  return {{"EX1", "Default", "Ops", "", "Velmorcast PDF", "CSV", "/srv/out", "01_02_2026_03_04_05"},
          {"EX10", "Weekly", "Ops", "Export", "", "MDB", "/srv/Reports, 2024", "01_02_2026_03_04_06"},
          {"EX2", "Default", "", "Print", "Laser 5", "HTML", "", "01_02_2026_03_04_07"},
          {"EX3", "Default", "Ops", "Both", "Laser 5", "HTML", "/home/a b/%x'y", "01_02_2026_03_04_08"}};
}

}  // namespace

TEST(SchedConfig, EveryKindAndServerLineRoundTripsThroughTheFile) {
  TestHome home;
  const auto file = velmo::SchedConfigPath();
  EXPECT_EQ(file, home.dir() / "Schedule" / "SchedConfig.cfg");
  std::filesystem::create_directories(file.parent_path());
  for (int kind = 0; kind <= 7; ++kind) {
    SCOPED_TRACE(kind);
    auto task = Task(kind);
    ASSERT_TRUE(velmo::WriteSchedConfig(file, &task, Servers()));
    SchedConfigContents c;
    ASSERT_TRUE(velmo::ReadSchedConfig(file, c));
    EXPECT_TRUE(c.hasTask);
    EXPECT_EQ(c.task, task);
    EXPECT_EQ(c.servers, Servers());
  }
  // The bytes: header, task line, server lines, each ended by CR LF.
  auto task = Task(1);
  ASSERT_TRUE(velmo::WriteSchedConfig(file, &task, {Servers()[1]}));
  EXPECT_EQ(TestHome::Slurp(file),
            "Scheduled Servers\r\n"
            "VelmorcastTask.job@@@CORP\\ops@@@1@@@00:30@@@3@@@@@@0@@@0@@@01/02/2026@@@02/28/2026@@@1@@@120@@@300@@@1\r\n"
            "EX10@@@Weekly@@@Ops@@@Export@@@@@@MDB@@@/srv/Reports, 2024@@@01_02_2026_03_04_06\r\n");
}

TEST(SchedConfig, DamagedFilesReadAsFarAsTheyCarry) {
  const std::string task = "VelmorcastTask.job@@@D\\u@@@2@@@09:05@@@1@@@MONDAY@@@0@@@0@@@01/01/2026@@@@@@0@@@0@@@0@@@";
  struct Case {
    const char* name;
    std::string text;  // nullopt-like: "<none>" means no file and no folder
    bool opens;
    bool hasTask;
    std::vector<std::vector<std::string>> servers;  // expected fields 0, 6, 7
    std::vector<int> skipped = {};                  // line numbers left out and named
    size_t more = 0;                                // left out beyond those
  };
  const std::string longLine(velmo::kSchedMaxLine + 1, 'L');
  const std::string longestLine(velmo::kSchedMaxLine, 'M');
  std::string manyDamaged = "Scheduled Servers\r\n";
  for (int i = 0; i < 100000; ++i) manyDamaged += "\x01\r\n";
  std::vector<int> firstDamaged;
  for (int i = 2; i < 2 + velmo::kMaxLoggedLines; ++i) firstDamaged.push_back(i);
  const std::vector<Case> cases = {
      {"no folder", "<none>", false, false, {}},
      {"empty file", "", true, false, {}},
      {"header only", "Scheduled Servers\r\n", true, false, {}},
      {"no task line", "Scheduled Servers\r\nEX1@@@R@@@P@@@Export@@@L@@@CSV@@@/o@@@S1\r\n", true, false,
       {{"EX1", "/o", "S1"}}},
      {"task line", "Scheduled Servers\r\n" + task + "\r\n", true, true, {}},
      {"task line cut short", "Scheduled Servers\r\nVelmorcastTask.job@@@D\\u@@@1@@@09:05\r\nEX1@@@R\r\n", true, false,
       {{"EX1", "", ""}}},
      {"task kind 8", "VelmorcastTask.job@@@D\\u@@@8@@@09:05@@@1@@@@@@0@@@0@@@@@@@@@0@@@0@@@0@@@\r\n", true, false, {}},
      {"task kind not a number",
       "VelmorcastTask.job@@@D\\u@@@x@@@09:05@@@1@@@@@@0@@@0@@@@@@@@@0@@@0@@@0@@@\r\n", true, false, {}},
      {"server line under 8 fields", "EX2@@@R@@@P\r\n", true, false, {{"EX2", "", ""}}},
      {"LF ends", "Scheduled Servers\n" + task + "\nEX1@@@R@@@P@@@Print@@@L@@@CSV@@@/o@@@S1\nEX2\n", true, true,
       {{"EX1", "/o", "S1"}, {"EX2", "", ""}}},
      {"last line without end", task + "\r\nEX1@@@R@@@P@@@Print@@@L@@@CSV@@@/o@@@S1", true, true,
       {{"EX1", "/o", "S1"}}},
      {"comma in a folder", "EX1@@@R@@@P@@@Export@@@L@@@CSV@@@/srv/Reports, 2024@@@S1\r\n", true, false,
       {{"EX1", "/srv/Reports, 2024", "S1"}}},
      {"blank lines and a byte-order mark", "\xEF\xBB\xBFScheduled Servers\r\n\r\nEX1\r\n\r\n", true, false,
       {{"EX1", "", ""}}},
      {"job name in another case is a server", "velmorcasttask.job@@@x\r\n", true, false,
       {{"velmorcasttask.job", "", ""}}},
      // Damaged lines are left out and named; the good ones around them stay.
      {"control characters", "Scheduled Servers\r\nE\x1b[2JX@@@R\r\nEX1@@@\0x\r\nEX2\rEX3\r\nEX4\t@@@R\r\nEX5\r\n"s, true,
       false, {{"EX5", "", ""}}, {2, 3, 4, 5}},
      {"a line over the bound", "Scheduled Servers\r\n" + longLine + "\r\n" + longestLine + "\r\nEX1@@@R\n" + longLine,
       true, false, {{longestLine, "", ""}, {"EX1", "", ""}}, {2, 5}},
      // Latin-1, overlong, surrogate, cut and stray bytes are not UTF-8.
      {"not UTF-8", "Caf\xE9@@@R\r\nX\xC0\x80\r\n\xED\xA0\x80\r\nX\xE2\x82\r\n\x80\r\nCaf\xC3\xA9\xF0\x9F\x93\x8A\r\n", true,
       false, {{"Caf\xC3\xA9\xF0\x9F\x93\x8A", "", ""}}, {1, 2, 3, 4, 5}},
      {"100,000 damaged lines", manyDamaged + "EX1@@@R\r\n", true, false, {{"EX1", "", ""}}, firstDamaged,
       100000 - firstDamaged.size()},
      {"a named pipe", "<fifo>", false, false, {}},
      {"a folder", "<folder>", false, false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestHome home;
    const auto file = velmo::SchedConfigPath();
    if (c.text == "<fifo>") {
      std::filesystem::create_directories(file.parent_path());
      ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    } else if (c.text == "<folder>") {
      std::filesystem::create_directories(file);
    } else if (c.text != "<none>") {
      Put(file, c.text);
    }
    SchedConfigContents got;
    got.servers.push_back({});  // a failed read leaves the output alone
    std::string error;
    ASSERT_EQ(velmo::ReadSchedConfig(file, got, &error), c.opens);
    if (!c.opens) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    EXPECT_EQ(got.hasTask, c.hasTask);
    std::vector<int> skipped;
    for (const auto& k : got.skipped) skipped.push_back(k.line);
    EXPECT_EQ(skipped, c.skipped);
    EXPECT_EQ(got.skipped.More(), c.more);
    if (c.hasTask) EXPECT_EQ(got.task.dayList, "MONDAY");
    ASSERT_EQ(got.servers.size(), c.servers.size());
    for (size_t i = 0; i < c.servers.size(); ++i) {
      EXPECT_EQ(got.servers[i].serverName, c.servers[i][0]);
      EXPECT_EQ(got.servers[i].outputFolder, c.servers[i][1]);
      EXPECT_EQ(got.servers[i].runStamp, c.servers[i][2]);
    }
  }
}

TEST(SchedConfig, RewritingTheTaskKeepsServerLinesAndRefusalsWriteNothing) {
  TestHome home;
  const auto file = velmo::SchedConfigPath();
  // A missing folder fails and says why.
  auto task = Task(2);
  std::string error;
  EXPECT_FALSE(velmo::WriteSchedTaskKeepingServers(file, task, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(std::filesystem::exists(file));

  // A missing file gets header and task line.
  std::filesystem::create_directories(file.parent_path());
  ASSERT_TRUE(velmo::WriteSchedTaskKeepingServers(file, task));
  EXPECT_EQ(TestHome::Slurp(file), "Scheduled Servers\r\n" + velmo::FormatTaskLine(task) + "\r\n");

  // Server lines stay as they stand (a short one too), the old task line goes,
  // even when it sat after them or was damaged.
  Put(file, "Scheduled Servers\nEX1@@@R@@@P@@@Export@@@L@@@CSV@@@/o, p@@@S1\r\nEX2@@@R\r\n" +
                velmo::FormatTaskLine(Task(1)) + "\r\nVelmorcastTask.job@@@broken\r\n");
  ASSERT_TRUE(velmo::WriteSchedTaskKeepingServers(file, task));
  EXPECT_EQ(TestHome::Slurp(file), "Scheduled Servers\r\n" + velmo::FormatTaskLine(task) +
                                       "\r\nEX1@@@R@@@P@@@Export@@@L@@@CSV@@@/o, p@@@S1\r\nEX2@@@R\r\n");
  // Server lines and lines the readers leave out stay byte for byte (LF
  // ends, a last line without one given CR LF); so does what the window
  // writes keep the header and task lines as they stand.
  const std::string kept = "EX1@@@R\nCaf\xE9\r\nEX2@@@R\r@@@x\n" + std::string(velmo::kSchedMaxLine + 1, 'L');
  Put(file, "Scheduled Servers\n" + velmo::FormatTaskLine(Task(1)) + "\n" + kept);
  ASSERT_TRUE(velmo::WriteSchedTaskKeepingServers(file, task));
  EXPECT_EQ(TestHome::Slurp(file), "Scheduled Servers\r\n" + velmo::FormatTaskLine(task) + "\r\n" + kept + "\r\n");
  Put(file, "Scheduled Servers\n" + velmo::FormatTaskLine(Task(1)) + "\nVelmorcastTask.job@@@broken\n" + kept);
  ASSERT_TRUE(velmo::WriteSchedServersKeepingLines(file, {"EX3@@@R\r\n"}));
  EXPECT_EQ(TestHome::Slurp(file), "Scheduled Servers\n" + velmo::FormatTaskLine(Task(1)) +
                                       "\nVelmorcastTask.job@@@broken\nEX3@@@R\r\nCaf\xE9\r\nEX2@@@R\r@@@x\n" +
                                       std::string(velmo::kSchedMaxLine + 1, 'L') + "\r\n");
  ASSERT_TRUE(velmo::WriteSchedTaskKeepingServers(file, task));
  const std::string before = TestHome::Slurp(file);

  // Values a line cannot carry are refused and the file stays as it was.
  for (std::string bad : std::vector<std::string>{"a@@@b", "a\nb", "a\rb", "Costs@", "@", "a\tb", std::string("a\0b", 3), "a\x1b", "a\x7f", "Caf\xE9"}) {
    SCOPED_TRACE(bad);
    auto t = task;
    t.account = bad;
    EXPECT_FALSE(velmo::WriteSchedTaskKeepingServers(file, t, &error));
    EXPECT_FALSE(velmo::WriteSchedConfig(file, &t, {}, &error));
    auto s = Servers();
    s[2].outputFolder = bad;
    EXPECT_FALSE(velmo::WriteSchedConfig(file, &task, s, &error));
    EXPECT_FALSE(velmo::SchedFieldCarries(bad));
    EXPECT_EQ(TestHome::Slurp(file), before);
  }
  EXPECT_TRUE(velmo::SchedFieldCarries("@a@@b, c"));
  EXPECT_TRUE(velmo::SchedFieldCarries("Ünïcode"));
  // A server named as the job would come back as a task line.
  auto named = Servers();
  named[0].serverName = "VelmorcastTask.job";
  EXPECT_FALSE(velmo::WriteSchedConfig(file, &task, named, &error));
  EXPECT_EQ(TestHome::Slurp(file), before);

  // A value ending with "@" was read back shifted; the refusal keeps it out,
  // and a leading "@" round-trips.
  auto costs = Servers();
  costs[0].reportName = "@Costs";
  costs[0].profileName = "@EX1 Profile";
  ASSERT_TRUE(velmo::WriteSchedConfig(file, &task, costs));
  SchedConfigContents back;
  ASSERT_TRUE(velmo::ReadSchedConfig(file, back));
  EXPECT_EQ(back.servers, costs);

  // Header only; no temporary files are left behind.
  ASSERT_TRUE(velmo::WriteSchedConfig(file, nullptr, {}));
  EXPECT_EQ(TestHome::Slurp(file), "Scheduled Servers\r\n");
  int entries = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(file.parent_path())) ++entries;
  EXPECT_EQ(entries, 1);
}

TEST(SchedConfig, AReaderDuringRewritesSeesTheOldOrTheNewFile) {
  TestHome home;
  const auto file = velmo::SchedConfigPath();
  std::filesystem::create_directories(file.parent_path());
  auto a = Task(1), b = Task(2);
  auto servers = Servers();
  ASSERT_TRUE(velmo::WriteSchedConfig(file, &a, servers));
  std::atomic<bool> done{false};
  std::atomic<int> reads{0}, bad{0};
  std::thread reader([&] {
    while (!done) {
      SchedConfigContents c;
      if (!velmo::ReadSchedConfig(file, c) || !c.hasTask || !(c.task == a || c.task == b) || c.servers != servers)
        ++bad;
      ++reads;
    }
  });
  for (int i = 0; i < 1000; ++i) {
    if (i % 2) ASSERT_TRUE(velmo::WriteSchedConfig(file, i % 4 == 1 ? &a : &b, servers));
    else ASSERT_TRUE(velmo::WriteSchedTaskKeepingServers(file, i % 4 == 0 ? a : b));
  }
  done = true;
  reader.join();
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(bad.load(), 0);
}

TEST(SchedConfig, DatesTimesAndStampsTakeTheirFixedForms) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 2;
  t.tm_mday = 7;
  t.tm_hour = 0;
  t.tm_min = 5;
  t.tm_sec = 9;
  EXPECT_EQ(velmo::SchedDateText(t), "03/07/2026");
  EXPECT_EQ(velmo::SchedTimeText(t), "00:05");
  EXPECT_EQ(velmo::RunStampText(t), "03_07_2026_00_05_09");
  t.tm_hour = 23;
  t.tm_mon = 11;
  t.tm_mday = 31;
  EXPECT_EQ(velmo::SchedTimeText(t), "23:05");
  EXPECT_EQ(velmo::SchedDateText(t), "12/31/2026");
}
