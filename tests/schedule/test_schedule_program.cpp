// VLMRSchedule as cron starts it: the task registered through the job
// scheduler with its run-as account, the crontab line run by /bin/sh with an
// empty environment in an application folder laid out as installed.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "ComFactory.h"
#include "DisplayStandIns.h"
#include "IExch55Info.h"
#include "IJobScheduler.h"
#include "SanitizerOptions.h"
#include "ScheduleKit.h"
#include "TextParts.h"

using namespace velmo;
using namespace velmo::test;
namespace fs = std::filesystem;

namespace {

// Runs argv, standard output and error collected apart; the exit status.
int RunChild(const std::vector<std::string>& argv, std::string& out, std::string& err) {
  int po[2], pe[2];
  if (::pipe(po) != 0 || ::pipe(pe) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(po[1], 1);
    ::dup2(pe[1], 2);
    ::close(po[0]);
    ::close(pe[0]);
    std::vector<char*> a;
    for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    ::execv(a[0], a.data());
    ::_exit(127);
  }
  ::close(po[1]);
  ::close(pe[1]);
  auto drain = [](int fd, std::string& to) {
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) to.append(buf, static_cast<size_t>(n));
    ::close(fd);
  };
  drain(po[0], out);
  drain(pe[0], err);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A child started with argv that may still run: its end (status, time,
// peak memory) once over, within `limit` seconds (a hang bound, given the
// sanitizer build's room).
struct Timed {
  pid_t pid = -1;
  bool ended = false;
  int status = -1;     // exit code, or 128 + signal
  double seconds = 0;
  long peakKb = 0;     // largest resident size
  std::string printed;  // what it wrote to standard output or error
};

Timed RunTimed(const std::vector<std::string>& argv, double limit) {
  Timed t;
  int pe[2];
  if (::pipe(pe) != 0) return t;
  const auto start = std::chrono::steady_clock::now();
  t.pid = ::fork();
  if (t.pid == 0) {
    ::setpgid(0, 0);
    ::dup2(pe[1], 1);
    ::dup2(pe[1], 2);
    ::close(pe[0]);
    std::vector<char*> a;
    for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    ::execv(a[0], a.data());
    ::_exit(127);
  }
  ::close(pe[1]);
  ::fcntl(pe[0], F_SETFL, O_NONBLOCK);
  for (;;) {
    char buf[4096];
    ssize_t n;
    while ((n = ::read(pe[0], buf, sizeof buf)) > 0) t.printed.append(buf, static_cast<size_t>(n));
    int status = 0;
    rusage usage{};
    if (::wait4(t.pid, &status, WNOHANG, &usage) == t.pid) {
      t.ended = true;
      t.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      t.peakKb = usage.ru_maxrss;
      break;
    }
    t.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (t.seconds > HangBound(limit)) break;
    ::usleep(10000);
  }
  t.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ::close(pe[0]);
  return t;
}

// Ends a child still running, with what it started (vjobrun passes the
// signal on to the program's own group).
void Reap(Timed& t) {
  if (t.ended || t.pid <= 0) return;
  ::kill(-t.pid, SIGTERM);
  ::waitpid(t.pid, nullptr, 0);
  t.ended = true;
}

// The installed layout: programs and libraries copied (the folder is the
// executable's real one), class registry, providers, host map, database.
void Install(const fs::path& dir) {
  const fs::path app = TestHome::BuildAppDir();
  for (const auto& e : fs::directory_iterator(app)) {
    const std::string name = e.path().filename().string();
    if (name == "VLMRSchedule" || name == "vjobrun" || name == "VelmorcastClasses.reg" ||
        (name.rfind("lib", 0) == 0 && e.path().extension() == ".so"))
      fs::copy_file(e.path(), dir / name, fs::copy_options::overwrite_existing);
  }
  fs::copy(TestHome::SourceDir() / "sample" / "providers", dir / "providers", fs::copy_options::recursive);
  fs::copy_file(SampleHostsFile(), dir / "ldaphosts.conf");
  CreateInventory(dir);
  SeedDefaultReport(dir);
}

TEST(ScheduleProgram, RunsAsCronStartsIt) {
  ASSERT_TRUE(UseSampleDirectory::Available());
  TestHome home(false);
  Install(home.dir());
  const fs::path out = home / "out";
  fs::create_directories(out);
  const std::string stamp = "12_09_2026_02_00_00";
  WriteSettings(home.dir(), {ServerLine("EX1", "Default", "EX1 Profile", "Export", "", "CSV", out.string(), stamp),
                             ServerLine("EX10", "Default", "EX10 Profile", "Export", "", "CSV", out.string(), stamp)});

  // Registration, as the schedule editor makes it: daily at 02:00 from the
  // ninth of December, run as CORP\Administrator.
  {
    auto js = com::CreateObject<scheduler::IJobScheduler>(scheduler::kJobSchedulerProgId);
    int16_t kind = 1, repeat = 0;
    js->AddTaskToScheduler("VelmorcastTask", (home / "VLMRSchedule").string(), "", "CORP\\Administrator", "secret",
                           kind, repeat);
    auto job = js->Job("VelmorcastTask");
    job->SetDaysInterval(1);
    job->StartTime("02:00");
    job->StartDate("12/09/2026");
    js->SaveTask();
  }
  std::string command;
  {
    std::istringstream table(TestHome::Slurp(home.CrontabFile()));
    for (std::string line; std::getline(table, line);)
      if (line.find("vjobrun") != std::string::npos && line[0] != '#') {
        // Five time fields, then the command; cron turns "\%" into "%".
        size_t at = 0;
        for (int f = 0; f < 5; ++f) at = line.find_first_not_of(' ', line.find(' ', at));
        command = line.substr(at);
        for (size_t p; (p = command.find("\\%")) != std::string::npos;) command.erase(p, 1);
      }
  }
  ASSERT_FALSE(command.empty()) << TestHome::Slurp(home.CrontabFile());

  // The displays the run meets (stand-ins): none, an X server that accepts
  // and stays silent, one that refuses the connection set-up, a Wayland
  // socket that stays silent, an X server sending half its answer, one
  // granting anyone with a named pipe as the authorisation file (Qt would
  // wait on either for ever). Each run returns with its outputs, draws off
  // screen and says why in one entry when a display was named.
  using Answer = DisplayStandIn::Answer;
  const DisplayStandIn silentX(Answer::Silent, false);
  const DisplayStandIn refusingX(Answer::XSetUp, true);
  const DisplayStandIn halfX(Answer::XHalfSetUp, false), anyoneX(Answer::XSetUp, true, "*");
  const fs::path fifo = home / "xauthority-pipe";
  ::mkfifo(fifo.c_str(), 0600);
  fs::create_directories(home / "run");
  const DisplayStandIn silentWayland(home / "run" / "wayland-5", Answer::Silent);
  struct Case {
    std::vector<std::string> env;
    std::string why;  // how the entry's reason begins
  };
  const std::string notUsed = "     VLMRSchedule : Display Not Used : ";
  const Case cases[] = {
      {{}, ""},
      {{"DISPLAY=" + silentX.name}, "DISPLAY '" + silentX.name + "' : the X server did not answer within 2 s"},
      {{"DISPLAY=" + refusingX.name}, "DISPLAY '" + refusingX.name + "' : the X server refused the connection: "},
      {{"XDG_RUNTIME_DIR=" + (home / "run").string(), "WAYLAND_DISPLAY=wayland-5"}, "WAYLAND_DISPLAY 'wayland-5' : "},
      {{"DISPLAY=" + halfX.name}, "DISPLAY '" + halfX.name + "' : the X server's set-up answer stopped short: "},
      {{"XAUTHORITY=" + fifo.string(), "DISPLAY=" + anyoneX.name},
       "DISPLAY '" + anyoneX.name + "' : the authorisation file '" + fifo.string() + "' is not a regular file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.env.empty() ? "no display" : c.env.back());
    fs::remove_all(out);
    fs::create_directories(out);
    fs::remove(home / "Schedule" / "VelmorcastSchedLog.log");
    std::vector<std::string> cron = {"/usr/bin/env", "-i", "VELMORCAST_CLOCK=2026-12-09 02:00"};
    for (const auto& option : SanitizerOptions()) cron.push_back(option);
    cron.insert(cron.end(), c.env.begin(), c.env.end());
    for (const char* arg : {"/bin/sh", "-c"}) cron.push_back(arg);
    cron.push_back(command);
    Timed run = RunTimed(cron, 60);
    Reap(run);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.printed, "");

    // Every entry of this program is a collection's start or end, or the
    // display's: no failure, no message box, none of Qt's warnings.
    const auto lines = LogLines(home.dir());
    EXPECT_GE(lines.size(), 8u);
    EXPECT_EQ(lines.size() > 1 ? lines[1] : "", "Velmorine for Exchange Server");  // the header comes first
    const auto messages = LogMessages(home.dir());
    for (const auto& m : messages) {
      const bool own = m.rfind("     GetAllInfo", 0) == 0 || m.rfind("     ConnectToExchangeServer", 0) == 0 ||
                       m.rfind("     Schedule_Main", 0) == 0 || m.rfind("     GetChildContainerInfo", 0) == 0 ||
                       m.rfind("     ProcessReportOutput", 0) == 0 || m.rfind("     DisplayInfo", 0) == 0 ||
                       m.rfind("     ExportToMDBFormat", 0) == 0 || m.rfind("     DeleteExistingRecords", 0) == 0 ||
                       m.rfind("     VLMRSchedule", 0) == 0;
      if (own && m.rfind(notUsed, 0) != 0) EXPECT_NE(m.find("Getting information for server -'"), std::string::npos) << m;
    }
    EXPECT_EQ(std::count_if(messages.begin(), messages.end(), [&](const std::string& m) { return m.rfind(notUsed, 0) == 0; }),
              c.why.empty() ? 0 : 1);
    if (!c.why.empty()) EXPECT_TRUE(AnyStartsWith(messages, notUsed + c.why)) << c.why;
    // Both servers' rows, EX1's restricted container read as the run-as
    // account.
    EXPECT_FALSE(InventoryRows(home.dir(), "MailboxGeneral", "ServerName='EX1'").empty());
    EXPECT_FALSE(InventoryRows(home.dir(), "MailboxGeneral", "ServerName='EX10'").empty());
    EXPECT_FALSE(InventoryRows(home.dir(), "CRGeneral", "[Object Path] like '%cn=Restricted'").empty());
    EXPECT_FALSE(InventoryRows(home.dir(), "ServerPrivateISResources", "ServerName='EX1'").empty());
    // The expected files, among them.
    std::set<std::string> files;
    for (const auto& e : fs::directory_iterator(out)) files.insert(e.path().filename().string());
    for (const std::string f :
         {"EX1_Recipients MailboxesGeneral_", "EX1_Server Recipients MailboxesGeneral_",
          "EX1_Restricted Custom RecipientsGeneral_", "EX1_Recipients MailboxesPhone_Notes_", "EX1_Velmor General_",
          "EX1_Message Transfer Agent General_", "EX10_Recipients MailboxesGeneral_", "EX10_Archive General_",
          // The site's configuration and Hilltop's other one.
          "EX10_Configuration General_2_"})
      EXPECT_TRUE(std::any_of(files.begin(), files.end(), [&](const std::string& n) { return n.rfind(f, 0) == 0; }))
          << f;
    const std::string csv = TestHome::Slurp(out / ("EX1_Server Recipients MailboxesGeneral_" + stamp + ".csv"));
    EXPECT_NE(csv.find("Server Recipients MailboxesGeneral - 'EX1'"), std::string::npos);
    EXPECT_NE(csv.find("Sean O'Neil"), std::string::npos);
  }
}

// The settings file as cron's run meets it, damaged or odd, and the display
// the environment names: each run ends within seconds, stays small, says
// what it met, and leaves the next run free to start.
TEST(ScheduleProgram, SettingsFilesAndDisplaysTheRunMeets) {
  TestHome home(false);
  Install(home.dir());
  {
    // A server whose directory refuses connections: its line, once read,
    // fails at once in the lookup.
    std::ofstream(home / "ldaphosts.conf", std::ios::app) << "\nDOWN ldap://127.0.0.1:1\n";
  }
  const fs::path file = home / "Schedule" / "SchedConfig.cfg";
  const std::string down = ServerLine("DOWN", "Default", "", "Export", "", "CSV", (home / "out").string());
  const std::string task = "VelmorcastTask.job@@@CORP\\Administrator@@@1@@@02:00@@@1@@@@@@0@@@0@@@12/09/2026@@@@@@0@@@0@@@0@@@";
  const std::string openFailure = "     Schedule_Main... : Config File Open Failure : 75:The file is not a regular file.";
  const std::string lookup = "     ConnectToExchangeServer : Binding to server 'DOWN'";
  const std::string skippedEntry = "     Schedule_Main... : Config File Line Skipped : " + file.string() + " : line ";
  const std::string longName(60000, 'N');
  std::string manyDamaged;
  for (int i = 0; i < 100000; ++i) manyDamaged += "\x01\r\n";
  const DisplayStandIn granting(DisplayStandIn::Answer::XSetUp, false, "0123456789abcdef");
  WriteXauthority(home / "Xauthority", granting.number, "0123456789abcdef");
  std::mt19937 random(23);
  std::string binary(4096, '\0');
  for (char& c : binary) c = static_cast<char>(random() & 0xFF);
  struct Case {
    std::string name;
    std::function<void()> make;
    std::vector<std::string> env;          // besides an empty environment
    std::vector<std::string> entries;      // each starts one entry of the run
    std::vector<std::string> notEntries;   // no entry starts so
    int skipped = 0;                       // "Config File Line Skipped" entries
    int status = 1;                        // each run meets a failure: its work is not done
  };
  auto put = [&](const std::string& text) {
    return [&, text] { std::ofstream(file, std::ios::binary) << "Scheduled Servers\r\n" << text; };
  };
  const std::vector<Case> cases = {
      {"named pipe", [&] { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); }, {}, {openFailure}, {lookup}},
      {"folder", [&] { fs::create_directories(file); }, {}, {openFailure}, {lookup}},
      {"random bytes", [&] { std::ofstream(file, std::ios::binary) << binary; }, {}, {}, {lookup, openFailure}, 14},
      {"100 MB line",
       [&] {
         std::ofstream out(file, std::ios::binary);
         out << "Scheduled Servers\r\n";
         const std::string block(1 << 20, 'x');
         for (int i = 0; i < 100; ++i) out << block;
         out << "\r\n" << down << "\r\n";
       },
       {}, {skippedEntry + "2 : Line Too Long : xxxx", lookup}, {openFailure}, 1},
      {"100,000 damaged lines", put(manyDamaged + down + "\r\n"), {},
       {skippedEntry + "2 : Control Characters : \\x01", skippedEntry + "21 : ",
        skippedEntry.substr(0, skippedEntry.size() - 5) + "99980 more lines skipped", lookup},
       {openFailure, skippedEntry + "22 : "}, 20},
      {"a line not UTF-8", put("EX\xE9@@@Default@@@@@@Export@@@@@@CSV@@@/tmp\r\n" + down + "\r\n"), {},
       {skippedEntry + "2 : Not UTF-8 Text : EX\\xE9@@@Default@@@", lookup},
       {openFailure, "     ConnectToExchangeServer : Binding to server 'EX"}, 1},
      // Cut inside its operation field: damaged, not looked up or cleared.
      {"a line cut in its operation", put("DOWN@@@Default@@@@@@Export@\r\n"), {},
       {skippedEntry + "2 : Operation Not Export, Print Or Both : DOWN@@@Default@@@@@@Export@"}, {openFailure, lookup}, 1},
      {"a server name of 60,000 characters", put(longName + "@@@Default@@@@@@Export@@@@@@CSV@@@/tmp@@@s\r\n"), {},
       {"     ConnectToExchangeServer : Binding to server '" + longName.substr(0, 200) + "...' to get"}, {openFailure}},
      {"CR LF", put(task + "\r\n" + down + "\r\n"), {}, {lookup}, {openFailure}},
      {"LF", put(task + "\n" + down + "\n"), {}, {lookup}, {openFailure}},
      {"DISPLAY empty", put(down + "\r\n"), {"DISPLAY="}, {lookup}, {}},
      {"DISPLAY naming no display", put(down + "\r\n"), {"DISPLAY=:93"}, {lookup}, {}},
      {"WAYLAND_DISPLAY empty", put(down + "\r\n"), {"WAYLAND_DISPLAY="}, {lookup}, {}},
      // Qt gives up on a platform named in the environment: its last words
      // follow a run header before the program ends.
      {"platform Qt does not have",
       put(down + "\r\n"),
       {"DISPLAY=" + granting.name, "XAUTHORITY=" + (home / "Xauthority").string(), "QT_QPA_PLATFORM=none"},
       {"     VLMRSchedule : Qt : This application failed to start"},
       {lookup},
       0,
       128 + SIGABRT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(home / "Schedule");
    fs::create_directories(home / "Schedule");
    c.make();
    std::vector<std::string> argv = {"/usr/bin/env", "-i"};
    argv.insert(argv.end(), c.env.begin(), c.env.end());
    argv.push_back((home / "VLMRSchedule").string());
    Timed first = RunTimed(argv, 15);
    // Started after the first was given its time: it runs, not refused.
    Timed second = RunTimed(argv, 15);
    Reap(first);
    Reap(second);
    EXPECT_EQ(first.status, c.status);
    EXPECT_EQ(first.printed, "");
    EXPECT_LT(first.seconds, HangBound(10));
    EXPECT_LT(first.peakKb, 100 * 1024 * velmo::test::kMemoryRoom);
    EXPECT_EQ(second.status, c.status);
    const auto lines = LogLines(home.dir());
    EXPECT_EQ(lines.size() > 1 ? lines[1] : "", "Velmorine for Exchange Server");
    std::printf("%s: %.2f s, peak %.1f MB\n", c.name.c_str(), first.seconds, first.peakKb / 1024.0);
    const auto messages = LogMessages(home.dir());
    EXPECT_FALSE(AnyStartsWith(messages, "     Schedule_Main... : Application is already running"));
    // Two runs: every entry twice.
    for (const auto& e : c.entries)
      EXPECT_EQ(std::count_if(messages.begin(), messages.end(), [&](const std::string& m) { return m.rfind(e, 0) == 0; }),
                2)
          << e;
    for (const auto& e : c.notEntries) EXPECT_FALSE(AnyStartsWith(messages, e)) << e;
    const auto skipped = std::count_if(messages.begin(), messages.end(), [&](const std::string& m) {
      return m.rfind(skippedEntry, 0) == 0;
    });
    EXPECT_EQ(skipped, 2 * c.skipped);
    // The log stays small and UTF-8, no raw control byte reaches it, and a
    // skipped line shows at most 200 characters of its text.
    const std::string log = TestHome::Slurp(home / "Schedule" / "VelmorcastSchedLog.log");
    EXPECT_LT(log.size(), 64u * 1024);
    EXPECT_TRUE(text::IsUtf8(log));
    for (size_t i = 0; i < log.size(); ++i) {
      const unsigned char b = static_cast<unsigned char>(log[i]);
      if ((b < 0x20 && b != '\r' && b != '\n') || b == 0x7F) {
        ADD_FAILURE() << "control byte " << int(b) << " at " << i;
        break;
      }
    }
    for (const auto& m : messages)
      if (m.rfind(skippedEntry, 0) == 0) {
        const size_t why = m.find(" : ", skippedEntry.size());
        const size_t shown = m.find(" : ", why + 3);
        ASSERT_NE(shown, std::string::npos) << m;
        const std::string text = m.substr(shown + 3);
        const auto characters = std::count_if(text.begin(), text.end(), [](char ch) {
          return (static_cast<unsigned char>(ch) & 0xC0) != 0x80;
        });
        EXPECT_LE(characters, 203) << m;
      }
  }
}

// A run killed while it builds its database file leaves the last complete
// file as it was, byte for byte: the new one is built under a temporary
// name and takes the real name only when the line's report is done.
TEST(ScheduleProgram, ARunKilledWhileItWritesItsDatabaseLeavesTheLastOne) {
  ASSERT_TRUE(UseSampleDirectory::Available());
  TestHome home(false);
  Install(home.dir());
  const fs::path out = home / "out";
  fs::create_directories(out);
  const std::string stamp = "12_09_2026_02_00_00";
  WriteSettings(home.dir(), {ServerLine("EX1", "Default", "", "Export", "", "MDB", out.string(), stamp)});
  const fs::path mdb = out / ("EX1_" + stamp + ".mdb");
  fs::path building = mdb;
  building += ".new";
  const std::vector<std::string> argv = {"/usr/bin/env", "-i", (home / "VLMRSchedule").string()};
  Timed complete = RunTimed(argv, 300);
  ASSERT_EQ(complete.status, 0);
  ASSERT_TRUE(fs::exists(mdb));
  EXPECT_FALSE(fs::exists(building));
  const std::string last = TestHome::Slurp(mdb);
  const auto tables = [&] {
    db::Connection c;
    c.Open(mdb.string());
    db::Recordset rs;
    rs.Open("select count(*) from sqlite_master where type='table'", c, db::adOpenKeyset, db::adLockReadOnly);
    return rs[0L].Text();
  };
  const std::string tablesBefore = tables();

  // The next run, killed while it writes a table into its temporary
  // database (its journal is there), leaving the engine's journal of that
  // write behind: the run after it must not roll its own new file back
  // with it.
  const pid_t child = ::fork();
  if (child == 0) {
    char* envp[] = {nullptr};
    const std::string program = (home / "VLMRSchedule").string();
    char* a[] = {const_cast<char*>(program.c_str()), nullptr};
    ::execve(a[0], a, envp);
    ::_exit(127);
  }
  fs::path journal = building;
  journal += "-journal";
  bool seen = false;
  int status = 0;
  while (!seen) {
    if (::waitpid(child, &status, WNOHANG) == child) break;
    seen = fs::exists(journal);
    if (!seen) ::sched_yield();
  }
  if (seen) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
  }
  ASSERT_TRUE(seen) << "no write into the temporary database was seen";
  ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it was killed";
  EXPECT_EQ(TestHome::Slurp(mdb), last) << "the last complete file changed";
  EXPECT_EQ(tables(), tablesBefore);

  // The run after it starts afresh and replaces the file whole, writing
  // every table of its own.
  const fs::path schedLog = home / "Schedule" / "VelmorcastSchedLog.log";
  const size_t logBefore = TestHome::Slurp(schedLog).size();
  Timed again = RunTimed(argv, 300);
  EXPECT_EQ(again.status, 0);
  EXPECT_FALSE(fs::exists(building));
  EXPECT_FALSE(fs::exists(journal));
  EXPECT_EQ(TestHome::Slurp(schedLog).substr(logBefore).find("Failure"), std::string::npos);
  EXPECT_EQ(tables(), tablesBefore);
}

// The rows of every data table for one server, by table.
std::map<std::string, size_t> ServerRows(const fs::path& dir, const std::string& server) {
  std::map<std::string, size_t> out;
  for (const auto& t : AppTables())
    if (!t.columns.empty() && t.columns[0].name == "ServerName" && t.name.rfind("VELMORC", 0) != 0)
      out[t.name] = InventoryRows(dir, t.name, "ServerName='" + server + "'").size();
  return out;
}

void CollectEX2() {
  auto c = com::CreateObject<_Exch55Info>("VELMO.Exch55Info");
  c->GetServerInfo("EX2", "", "");
  for (int16_t t = 0; t < 8; ++t) c->GetMailboxInfo(t, "EX2", "", "", "o=Velmor/ou=Lakeside/cn=Recipients");
  c->GetProtocolInfo("EX2", "", "");
  c->GetServerProtocolsInfo("EX2", "", "");
}

// Two runs of an HTML line as cron starts them, with cn=Sales renamed
// "Sales EMEA" (modrdn) and cn=Europe deleted between them: the folder
// then holds only the second run's files of the line, the entry counts the
// first run's files removed, and a file of another stamp stays.
TEST(ScheduleProgram, ASecondRunLeavesNoFileOfAContainerGoneSince) {
  PrivateSlapd slapd;
  TestHome home(false);
  Install(home.dir());
  fs::copy_file(slapd.hostsFile(), home / "ldaphosts.conf", fs::copy_options::overwrite_existing);
  const fs::path out = home / "out";
  const std::string stamp = "12_09_2026_02_00_00";
  WriteSettings(home.dir(), {ServerLine("EX2", "Default", "", "Export", "", "HTML", out.string(), stamp)});
  std::vector<std::string> argv = {"/usr/bin/env", "-i"};
  for (const auto& option : SanitizerOptions()) argv.push_back(option);
  argv.push_back((home / "VLMRSchedule").string());
  const auto listing = [&] {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(out)) names.insert(e.path().filename().string());
    return names;
  };
  const auto gone = [](const std::string& name) {
    return (name.starts_with("EX2_Sales ") && !name.starts_with("EX2_Sales EMEA ")) || name.starts_with("EX2_Europe ");
  };
  Timed first = RunTimed(argv, 300);
  Reap(first);
  ASSERT_EQ(first.status, 0) << TestHome::Slurp(home / "Schedule" / "VelmorcastSchedLog.log");
  const auto before = listing();
  const long old = std::count_if(before.begin(), before.end(), gone);
  ASSERT_TRUE(before.count("EX2_Sales General_" + stamp + ".html") && before.count("EX2_Europe General_" + stamp + ".html"));
  const std::string other = "EX2_Sales General_01_01_2020_00_00_00.html";
  std::ofstream(out / other) << "another stamp";

  // The directory changed as its administrator changes it.
  slapd.Stop();
  {
    const fs::path conf = slapd.dir() / "slapd.conf";
    std::string text = TestHome::Slurp(conf);
    const std::string suffix = "suffix \"o=Velmor\"\n";
    text.replace(text.find(suffix), suffix.size(), suffix + "rootdn \"cn=Manager,o=Velmor\"\nrootpw secret\n");
    std::ofstream(conf, std::ios::trunc) << text;
  }
  slapd.Restart();
  const std::string bind = " -x -H " + slapd.url() + " -D cn=Manager,o=Velmor -w secret ";
  ASSERT_EQ(std::system(("ldapmodrdn" + bind + "-r 'cn=Sales,cn=Recipients,ou=Lakeside,o=Velmor' 'cn=Sales EMEA' >/dev/null")
                            .c_str()),
            0);
  ASSERT_EQ(std::system(("ldapdelete" + bind + "-r 'cn=Europe,cn=Sales EMEA,cn=Recipients,ou=Lakeside,o=Velmor'").c_str()),
            0);

  fs::remove(home / "Schedule" / "VelmorcastSchedLog.log");
  Timed second = RunTimed(argv, 300);
  Reap(second);
  EXPECT_EQ(second.status, 0);
  const auto after = listing();
  EXPECT_EQ(std::count_if(after.begin(), after.end(), gone), 1) << "only the other stamp's";
  EXPECT_TRUE(after.count(other));
  EXPECT_TRUE(after.count("EX2_Sales EMEA General_" + stamp + ".html"));
  EXPECT_TRUE(after.count("EX2_Sales EMEA Permissions_" + stamp + ".html"));
  EXPECT_TRUE(AnyStartsWith(LogMessages(home.dir()), "     DisplayInfo : Earlier Outputs Removed : " + out.string() +
                                                         " : " + std::to_string(old) + " files of server -'EX2' "))
      << TestHome::Slurp(home / "Schedule" / "VelmorcastSchedLog.log");
}

TEST(ScheduleProgram, BesideTheMainProgram) {
  ASSERT_TRUE(UseSampleDirectory::Available());
  TestHome home(false);
  Install(home.dir());
  UseSampleDirectory sample(home / "ldaphosts.conf");
  const fs::path out = home / "out";
  fs::create_directories(out);
  WriteSettings(home.dir(), {ServerLine("EX1", "Default", "", "Export", "", "CSV", out.string())});

  const std::string program = (home / "VLMRSchedule").string();
  const std::vector<std::string> options = SanitizerOptions();
  std::vector<char*> envp;
  for (const auto& option : options) envp.push_back(const_cast<char*>(option.c_str()));
  envp.push_back(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    ::execve(argv[0], argv, envp.data());
    ::_exit(127);
  }
  // A main program starting while the run has the database open cannot
  // compact it, and the file stays as it is.
  const fs::path schedLog = home / "Schedule" / "VelmorcastSchedLog.log";
  for (int i = 0; i < 2000 && TestHome::Slurp(schedLog).find("GetAllInfo : Getting information") == std::string::npos;
       ++i)
    ::usleep(5000);
  {
    db::JetEngine engine;
    const std::string source = "Provider = Microsoft.Jet.OLEDB.4.0;Data Source =" + (home / "velmo.mdb").string();
    const std::string copy = "Provider = Microsoft.Jet.OLEDB.4.0;Data Source =" + (home / "COMPVELMO.mdb").string();
    try {
      engine.CompactDatabase(source, copy);
      ADD_FAILURE() << "compacted under the run";
    } catch (const ComError& e) {
      EXPECT_EQ(e.Number(), db::kDbCannotOpen) << e.Description();
    }
    engine.Release();
    EXPECT_FALSE(fs::exists(home / "COMPVELMO.mdb"));
  }

  // The main program's side: its connection open throughout, EX2
  // collected, EX1's tables read in a loop, favourites written.
  db::Connection mainConn;
  mainConn.Open((home / "velmo.mdb").string());
  CollectEX2();
  int status = 0, reads = 0, favourites = 0;
  while (::waitpid(child, &status, WNOHANG) == 0) {
    db::Recordset rs;
    rs.Open("select count(*) from MailboxGeneral where ServerName='EX1'", mainConn, db::adOpenKeyset,
            db::adLockReadOnly);
    rs.Close();
    mainConn.Execute("insert into VELMORCFavourites values(?,'No','Yes')", {db::Value("S" + std::to_string(favourites++))});
    ++reads;
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_GT(reads, 0);
  EXPECT_EQ(InventoryRows(home.dir(), "VELMORCFavourites").size(), static_cast<size_t>(favourites));
  const auto ex1 = ServerRows(home.dir(), "EX1"), ex2 = ServerRows(home.dir(), "EX2");
  const std::string log = TestHome::Slurp(home / "Schedule" / "VelmorcastSchedLog.log") +
                          TestHome::Slurp(home / "VelmorcastErrorLog.log");
  EXPECT_EQ(log.find("database is locked"), std::string::npos) << log;
  EXPECT_EQ(log.find("Open Failure"), std::string::npos) << log;
  EXPECT_FALSE(fs::is_empty(out));

  // Solo runs give the same rows.
  mainConn.Execute("delete from MailboxGeneral where ServerName='EX2'");
  for (const auto& [table, n] : ex2)
    if (n) mainConn.Execute("delete from " + table + " where ServerName='EX2'");
  CollectEX2();
  mainConn.Close();
  std::string o, e;
  EXPECT_EQ(RunChild({(home / "VLMRSchedule").string()}, o, e), 0);
  EXPECT_EQ(ServerRows(home.dir(), "EX1"), ex1);
  EXPECT_EQ(ServerRows(home.dir(), "EX2"), ex2);
  EXPECT_GT(ex1.at("MailboxGeneral"), 0u);
  EXPECT_GT(ex2.at("MailboxGeneral"), 0u);
}

}  // namespace
