// The scheduled run in process: its log, its settings, the lookup and the
// container walk against the sample directory, the collector calls, the
// report's sections and their output.
#include <gtest/gtest.h>
#include <link.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdlib>

#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "AppFolder.h"

#include "Directory.h"
#include "InstanceLock.h"
#include "RecordingPrinter.h"
#include "StopSignals.h"
#include "ScheduleKit.h"

using namespace velmo;
using namespace velmo::test;
namespace sr = velmo::schedule;
namespace fs = std::filesystem;

namespace {

class ScheduleRun : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp("test_schedule_run");
    CreateInventory(home.dir());
    SeedDefaultReport(home.dir());
    ads::SetCurrentLogon("", "");
    ads::ResetSessions();
  }
  void TearDown() override { ads::SetCurrentLogon("", ""); }
  // Opens the run's connection and status window as Schedule_Main does,
  // for tests that call one step.
  void OpenRun() {
    sr::gstrDBPath = AppFolderText() + "\\velmo.mdb";
    sr::gConn = std::make_unique<db::Connection>();
    sr::gConn->Open(sr::gstrDBPath);
    window = std::make_unique<sr::StatusWindow>();
    sr::frmStatus = window.get();
  }
  void CloseRun() {
    sr::gConn.reset();
    sr::frmStatus = nullptr;
    window.reset();
  }
  void WriteCredentials(const std::string& account, const std::string& password, mode_t mode = 0600) {
    const fs::path file = home / "VelmorcastTask.cred";
    WriteFile(file, account + "\n" + password + "\n");
    ::chmod(file.c_str(), mode);
  }
  // Removes ProgIDs from the folder's class registry.
  void Unregister(const std::string& progIdStart) {
    const fs::path reg = home / "VelmorcastClasses.reg";
    std::string text = TestHome::Slurp(reg), out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
      if (line.rfind(progIdStart, 0) != 0) out += line + "\n";
    WriteFile(reg, out);
  }
  TestHome home;
  std::unique_ptr<sr::StatusWindow> window;
};

const std::string kHyphens(71, '-');

// ------------------------------------------------------------------- log

TEST_F(ScheduleRun, HeaderEntriesAndSecondInstance) {
  ASSERT_FALSE(fs::exists(home / "Schedule"));
  // No settings file: its entry, the database closed again.
  sr::Schedule_Main();
  auto lines = LogLines(home.dir());
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1], "Velmorine for Exchange Server");
  EXPECT_EQ(lines[2], "Copyright (C) 2003-2024 Velmorcast. All rights reserved.");
  EXPECT_EQ(lines[3], "Velmorcast Schedule Error Log.");
  EXPECT_EQ(lines[4].rfind("Date   : ", 0), 0u);
  EXPECT_EQ(lines[5], kHyphens);
  EXPECT_EQ(lines[6], "Date  Function Name   Description     Error Number    Error Description");
  EXPECT_EQ(lines[7], kHyphens);
  // An entry: the general date and time, then the message.
  EXPECT_TRUE(std::regex_match(lines[8], std::regex(R"(\d{1,2}/\d{1,2}/\d{4} \d{1,2}:\d\d:\d\d [AP]M     Schedule_Main\.\.\. : Config File Open Failure : 53:.+)")))
      << lines[8];
  EXPECT_EQ(sr::gConn, nullptr);
  EXPECT_EQ(sr::frmStatus, nullptr);

  // Another run holds the lock: a full header and one entry.
  FileLock other;
  ASSERT_TRUE(other.TryLock(home / "Schedule" / "VLMRSchedule.lock", FileLock::Mode::Exclusive));
  sr::Schedule_Main();
  lines = LogLines(home.dir());
  ASSERT_EQ(lines.size(), 18u);
  EXPECT_EQ(lines[10], "Velmorine for Exchange Server");
  EXPECT_NE(lines[17].find("     Schedule_Main... : Application is already running :"), std::string::npos);

  // A link to nothing is never followed: the run says why and ends.
  other.Unlock();
  const fs::path lockFile = home / "Schedule" / "VLMRSchedule.lock";
  fs::remove(lockFile);
  fs::create_symlink(home / "gone", lockFile);
  sr::Schedule_Main();
  lines = LogLines(home.dir());
  ASSERT_EQ(lines.size(), 27u);
  EXPECT_NE(lines[26].find("     Schedule_Main... : Lock File Failure : " + lockFile.string() + " : No such file or directory"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(home / "gone"));
}

// Every module of the run, the libraries of the classes it creates by ProgID
// included, has its thread-local storage in place when a thread starts:
// none is allocated from the heap on a thread's first use, a block whose
// bounds the sanitizer build's leak checker misreads, crashing at the end.
TEST_F(ScheduleRun, EveryModulesThreadLocalsAreThereFromAThreadsStart) {
  std::set<std::string> libraries;
  for (const auto& r : com::ReadRegistry(com::RegistryFile())) {
    try {
      com::CreateObjectRaw(r.progId);
    } catch (const ComError&) {  // a stand-in without its backend: loaded all the same
    }
    libraries.insert(fs::path(r.library).filename());
  }
  struct {
    std::set<std::string> loaded;
    std::vector<std::string> late;  // thread-local storage not there yet
  } seen;
  std::thread([&] {
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
          auto& s = *static_cast<decltype(seen)*>(data);
          const std::string name = fs::path(info->dlpi_name).filename();
          s.loaded.insert(name);
          if (info->dlpi_tls_modid && !info->dlpi_tls_data) s.late.push_back(name);
          return 0;
        },
        &seen);
  }).join();
  for (const std::string& library : libraries) EXPECT_TRUE(seen.loaded.count(library)) << library;
  EXPECT_EQ(seen.late, std::vector<std::string>{});
}

// The wait for another program's collection: ten minutes unless set, at
// most a day.
TEST(ScheduleCollect, WaitBoundIsClampedToADay) {
  const long long day = 86400000, tenMinutes = 600000;
  for (const auto& [text, limit] : {std::pair{"", tenMinutes}, {"0.25", 250LL}, {"86400", day}, {"inf", day},
                                    {"1e30", day}, {"-1", tenMinutes}, {"x", tenMinutes}}) {
    ::setenv("VELMORCAST_COLLECT_WAIT_SECONDS", text, 1);
    EXPECT_EQ(sr::CollectionWaitLimit().count(), limit) << text;
  }
  ::unsetenv("VELMORCAST_COLLECT_WAIT_SECONDS");
}

// Which lines are collected, and how the run ends. A line the run cannot
// carry out (an operation, export format or printer it does not have) is
// skipped before its server is looked up or cleared: EX2's rows stay. A
// line with no operation is collected and writes no report.
TEST_F(ScheduleRun, SettingsLines) {
  UseSampleDirectory sample;
  UseRecordingCollector collector;
  const std::string skipped = "     Schedule_Main... : Config File Line Skipped : " +
                              (home / "Schedule" / "SchedConfig.cfg").string() + " : line 3 : ";
  const std::string format = skipped + "Export Format Not MDB, CSV Or HTML : ";
  const std::string noPrinter = skipped + "Printer Name Empty : ";
  auto line = [](const std::string& operation, const std::string& printer, const std::string& format) {
    return ServerLine("EX2", "None", "", operation, printer, format, "/x");
  };
  struct Case {
    std::vector<std::string> lines;
    std::vector<std::string> expectedStarts;  // entries other than GetAllInfo's own
    int collections;
    int reports;  // of the collections, those with an output (their report not found)
    int status;
  } cases[] = {
      {{}, {}, 0, 0, 0},
      {{"", line("Export", "", "CSV")}, {}, 1, 1, 1},
      {{line("Export", "", "CSV"), line("Export", "", "CSV")}, {}, 2, 2, 1},
      // Only the exact marker is the task line: another case is a server
      // line, skipped when the run cannot carry it out (here one cut short
      // and one without a format); with an operation and all it needs, it
      // is looked up, and the lookup fails.
      {{"velmorcasttask.job@@@CORP\\Administrator@@@1", "velmorcasttask.job@@@None@@@@@@Export",
        "velmorcasttask.job@@@None@@@@@@Export@@@@@@CSV@@@/x@@@s"},
       {skipped + "Operation Not Export, Print Or Both : velmorcasttask.job@@@CORP",
        "     Schedule_Main... : Config File Line Skipped : ",
        "     ConnectToExchangeServer : Binding to server 'VELMORCASTTASK.JOB' to get Organization/Site Name Failure : "},
       0, 0, 1},
      // Cut before its stamp, a line without an operation is no collect-only
      // line.
      {{"EX2@@@None@@@@@@"}, {skipped + "Operation Not Export, Print Or Both : EX2@@@None@@@@@@"}, 0, 0, 1},
      {{"EX2@@@None@@@@@@@@@@@@@@@/x"}, {skipped + "Operation Not Export, Print Or Both : "}, 0, 0, 1},
      // Neither export nor print: collected, nothing more to do.
      {{line("", "", "")}, {}, 1, 0, 0},
      {{line("", "Velmorcast PDF", "MDB")}, {}, 1, 0, 0},
      {{"EX2@@@None@@@@@@Export@@@@@@MD"}, {format + "'MD' : EX2@@@None@@@@@@Export@@@@@@MD"}, 0, 0, 1},
      {{line("Both", "Velmorcast PDF", "XYZ")}, {format + "'XYZ' : " + line("Both", "Velmorcast PDF", "XYZ")}, 0, 0, 1},
      {{line("Export", "", "")}, {format + "'' : " + line("Export", "", "")}, 0, 0, 1},
      {{line("Export", "", "csv")}, {format + "'csv' : "}, 0, 0, 1},
      {{line("Print", "", "MDB")}, {noPrinter + line("Print", "", "MDB")}, 0, 0, 1},
      {{line("Both", "", "CSV")}, {noPrinter + line("Both", "", "CSV")}, 0, 0, 1},
      {{"EX2@@@None@@@@@@Expor"}, {skipped + "Operation Not Export, Print Or Both : EX2@@@None@@@@@@Expor"}, 0, 0, 1},
      // No server; an output line cut before its stamp (its files would be
      // named without one); an export into a folder not named in full
      // (a printout needs no folder).
      {{"@@@None@@@@@@Export@@@@@@CSV@@@/x@@@s"}, {skipped + "Server Name Empty : @@@None@@@"}, 0, 0, 1},
      {{"EX2@@@None@@@@@@Export@@@@@@CSV@@@/x"},
       {skipped + "Operation Not Export, Print Or Both : EX2@@@None@@@@@@Export@@@@@@CSV@@@/x"}, 0, 0, 1},
      {{ServerLine("EX2", "None", "", "Export", "", "CSV", "out")},
       {skipped + "Export Folder Not A Full Path : 'out' : EX2@@@"}, 0, 0, 1},
      {{ServerLine("EX2", "None", "", "Both", "Velmorcast PDF", "HTML", "")},
       {skipped + "Export Folder Not A Full Path : '' : EX2@@@"}, 0, 0, 1},
      {{ServerLine("EX2", "None", "", "Export", "", "MDB", "Export\\Out")},
       {skipped + "Export Folder Not A Full Path : 'Export\\Out' : EX2@@@"}, 0, 0, 1},
      {{ServerLine("EX2", "None", "", "Print", "Velmorcast PDF", "MDB", "out")}, {}, 1, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines.empty() ? "no line" : c.lines.back());
    fs::remove_all(home / "Schedule");
    WriteSettings(home.dir(), c.lines);
    {
      db::Connection conn;
      conn.Open((home / "velmo.mdb").string());
      conn.Execute("delete from MailboxGeneral where ServerName='EX2'");
      conn.Execute("insert into MailboxGeneral (ServerName, [Object Path]) values ('EX2', 'cn=Kept')");
    }
    RecordingCollector::calls.clear();
    EXPECT_EQ(sr::Schedule_Main(), c.status);
    std::vector<std::string> entries;
    int starts = 0, reportsNotFound = 0;
    for (const auto& m : LogMessages(home.dir())) {
      if (m.find("GetAllInfo : Getting information for server -'EX2' start.") != std::string::npos) ++starts;
      else if (m == "     DisplayInfo : Custom Report Not Found : 'None'") ++reportsNotFound;
      else if (m.rfind("     GetAllInfo", 0) != 0) entries.push_back(m);
    }
    EXPECT_EQ(starts, c.collections) << c.lines.size();
    EXPECT_EQ(reportsNotFound, c.reports);
    EXPECT_EQ(entries.size(), c.expectedStarts.size()) << (entries.empty() ? "" : entries[0]);
    for (size_t i = 0; i < std::min(entries.size(), c.expectedStarts.size()); ++i)
      EXPECT_EQ(entries[i].rfind(c.expectedStarts[i], 0), 0u) << entries[i];
    // Each collection: its start and end entries and the missing mail
    // client's (no information-store files here); each output the missing
    // report's.
    EXPECT_EQ(LogLines(home.dir()).size(), 8u + entries.size() + 3u * c.collections + c.reports);
    const long serverCalls = std::count(RecordingCollector::calls.begin(), RecordingCollector::calls.end(),
                                        std::string("Server(EX2,,)"));
    EXPECT_EQ(serverCalls, c.collections);
    EXPECT_EQ(InventoryRows(home.dir(), "MailboxGeneral", "ServerName='EX2'").size(), c.collections ? 0u : 1u)
        << "cleared only when collected";
  }
}

// An error no step handles ends the run with one entry giving its text,
// status 1; once a stop signal came, with the stop entry and 128 + the
// signal (run in a program of its own, which the signal leaves stopping).
TEST_F(ScheduleRun, AnErrorEndingTheRunIsLogged) {
  const bool stopped = std::getenv("VELMO_STOP_CHILD") != nullptr;
  if (!stopped) {
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const int status = std::system(("VELMO_STOP_CHILD=1 '" + self +
                                    "' --gtest_filter=ScheduleRun.AnErrorEndingTheRunIsLogged >/dev/null 2>&1")
                                       .c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the stopped run's test failed";
  } else {
    InstallStopSignals();
  }
  UseSampleDirectory sample;
  struct OutOfMemory : RecordingCollector {
    void GetServerInfo(const std::string&, const std::string&, const std::string&, std::string*) override {
      if (std::getenv("VELMO_STOP_CHILD")) ::raise(SIGTERM);
      throw std::bad_alloc();
    }
  };
  com::RegisterBuiltin("VELMO.Exch55Info", [] { return new OutOfMemory; });
  WriteSettings(home.dir(), {ServerLine("EX2", "None", "", "Export", "", "CSV", "/x")});
  EXPECT_EQ(sr::Schedule_Main(), stopped ? 128 + SIGTERM : 1);
  com::UnregisterBuiltin("VELMO.Exch55Info");
  const auto messages = LogMessages(home.dir());
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back(), stopped ? "     Schedule_Main... : Run stopped : signal SIGTERM"
                                     : "     Schedule_Main... : Run Ended By An Error : -2147467259:std::bad_alloc");
  EXPECT_EQ(sr::frmStatus, nullptr);
}

// A file of the program's own that the run cannot read is told in the
// run's log, not the main program's: the host map a folder.
TEST_F(ScheduleRun, AnOwnFileThatCannotBeReadIsInTheRunsLog) {
  const fs::path folder = home / "hosts-folder";
  fs::create_directories(folder);
  UseSampleDirectory hosts(folder);
  WriteSettings(home.dir(), {ServerLine("EX1", "Default", "", "Export", "", "CSV", (home / "out").string())});
  EXPECT_EQ(sr::Schedule_Main(), 1);
  EXPECT_TRUE(AnyStartsWith(LogMessages(home.dir()), "     VLMRSchedule : Directory servers : '" + folder.string() +
                                                         "' cannot be read: Is a directory"));
  EXPECT_FALSE(fs::exists(home / "VelmorcastErrorLog.log")) << TestHome::Slurp(home / "VelmorcastErrorLog.log");
}

// ----------------------------------------------------- lookup and walk

TEST_F(ScheduleRun, LookupAndContainerWalk) {
  // EX3 answers on the sample server but is no computer of any site.
  const fs::path hosts = home / "hosts.conf";
  std::string map = TestHome::Slurp(SampleHostsFile());
  const auto url = map.substr(map.find("EX1 ") + 4, map.find('\n', map.find("EX1 ")) - map.find("EX1 ") - 4);
  WriteFile(hosts, map + "\nEX3 " + url + "\n");
  UseSampleDirectory sample(hosts);
  OpenRun();
  const std::string L = "o=Velmor/ou=Lakeside", H = "o=Velmor/ou=Hilltop";
  struct Case {
    std::string server, account, site;
    std::vector<std::string> found;  // paths after the eight fixed entries
  } cases[] = {
      {"EX1", "", "Lakeside", {L + "/cn=Recipients", L + "/cn=Recipients/cn=Sales", L + "/cn=Recipients/cn=Sales/cn=Europe"}},
      {"EX1",
       "CORP\\Administrator",
       "Lakeside",
       {L + "/cn=Recipients", L + "/cn=Recipients/cn=Sales", L + "/cn=Recipients/cn=Sales/cn=Europe",
        L + "/cn=Recipients/cn=Restricted"}},
      {"ex1", "", "Lakeside", {L + "/cn=Recipients", L + "/cn=Recipients/cn=Sales", L + "/cn=Recipients/cn=Sales/cn=Europe"}},
      // A configuration container that is not the site's own is walked.
      {"EX10", "", "Hilltop", {H + "/cn=Recipients", H + "/cn=Recipients/cn=Configuration", H + "/cn=Recipients/cn=Configuration/cn=Archive"}},
      {"EX3", "", "", {}},
  };
  for (const Case& c : cases) {
    std::string dn;
    ads::SetCurrentLogon("", "");
    if (!c.account.empty() && ads::AccountBindName(c.account, dn)) ads::SetCurrentLogon(dn, "secret");
    fs::remove_all(home / "Schedule");
    std::string org, site;
    const bool ok = sr::ConnectToExchangeServer(c.server, "", "", org, site);
    EXPECT_EQ(ok, !c.site.empty()) << c.server;
    EXPECT_EQ(site, c.site);
    EXPECT_EQ(window->lblStatus->text().toStdString(), "");
    if (!ok) {
      EXPECT_EQ(LogMessages(home.dir()),
                std::vector<std::string>{"     ConnectToExchangeServer : Assigning Exchange Site Name Failure for 'EX3' : 0:"});
      continue;
    }
    EXPECT_EQ(org, "Velmor");
    sr::ResetContainerList(c.server, org, site);
    sr::GetChildContainerInfo("LDAP://" + c.server + "/o=" + org + "/ou=" + site, c.server, org, site, "", "");
    const std::string S = "o=Velmor/ou=" + site, srv = S + "/cn=Configuration/cn=Servers/cn=" + c.server;
    std::vector<std::string> paths = {"o=Velmor", S, S + "/cn=Configuration", S + "/cn=Configuration/cn=Connections",
                                      S + "/cn=Configuration/cn=Servers", S + "/cn=Configuration/cn=Protocols", srv,
                                      srv + "/cn=Protocols"};
    paths.insert(paths.end(), c.found.begin(), c.found.end());
    EXPECT_EQ(sr::gstrContainerPaths, paths) << c.server << " " << c.account;
    ASSERT_EQ(sr::gstrContainerNames.size(), paths.size());
    EXPECT_EQ(sr::gstrContainerNames[6], c.server);
    EXPECT_EQ(sr::gstrContainerNames[7], "Server Protocols");
    for (size_t i = 8; i < paths.size(); ++i)
      EXPECT_EQ(sr::gstrContainerNames[i], paths[i].substr(paths[i].rfind("cn=") + 3));
    EXPECT_TRUE(LogMessages(home.dir()).empty()) << LogMessages(home.dir())[0];
  }
  CloseRun();
}

TEST_F(ScheduleRun, RunAsAccountFromCredentialsFile) {
  UseSampleDirectory sample;
  UseRecordingCollector collector;
  struct Case {
    std::string account;
    mode_t mode;
    bool restricted;      // the restricted container was listed
    std::string entry;    // the credentials entry, if any
  } cases[] = {
      {"CORP\\Administrator", 0600, true, ""},
      {"CORP\\Administrator", 0644, false, "     Schedule_Main... : Credentials File Not Private : "},
      {"\\", 0600, false, "     Schedule_Main... : Run-As Account Has No Bind Name : \\"},
      {"", 0, false, ""},  // no file: anonymous
  };
  for (const Case& c : cases) {
    fs::remove_all(home / "Schedule");
    fs::remove(home / "VelmorcastTask.cred");
    if (!c.account.empty()) WriteCredentials(c.account, "secret", c.mode);
    WriteSettings(home.dir(), {ServerLine("EX1", "None", "", "Export", "", "CSV", "/x")});
    RecordingCollector::calls.clear();
    sr::Schedule_Main();
    const bool listed = std::find(RecordingCollector::calls.begin(), RecordingCollector::calls.end(),
                                  "Mailbox0(EX1,,,o=Velmor/ou=Lakeside/cn=Recipients/cn=Restricted)") !=
                        RecordingCollector::calls.end();
    EXPECT_EQ(listed, c.restricted) << c.account << " " << c.mode;
    const auto messages = LogMessages(home.dir());
    if (c.entry.empty()) {
      EXPECT_FALSE(AnyStartsWith(messages, "     Schedule_Main")) << messages[0];
    } else {
      EXPECT_TRUE(AnyStartsWith(messages, c.entry)) << c.account;
      if (c.mode == 0644) EXPECT_TRUE(AnyStartsWith(messages, c.entry + (home / "VelmorcastTask.cred").string()));
    }
  }
}

TEST_F(ScheduleRun, ServerRefusingAnonymousBinds) {
  PrivateSlapd slapd("--no-anonymous");
  UseSampleDirectory sample(slapd.hostsFile());
  UseRecordingCollector collector;
  for (bool withFile : {false, true}) {
    fs::remove_all(home / "Schedule");
    WriteSettings(home.dir(), {ServerLine("EX1", "None", "", "Export", "", "CSV", "/x")});
    if (withFile) WriteCredentials("CORP\\Administrator", "secret");
    RecordingCollector::calls.clear();
    ads::ResetSessions();
    sr::Schedule_Main();
    const auto messages = LogMessages(home.dir());
    if (!withFile) {
      ASSERT_EQ(messages.size(), 1u);
      EXPECT_EQ(messages[0],
                "     ConnectToExchangeServer : Binding to server 'EX1' to get Organization/Site Name Failure : "
                "-2147016663:Inappropriate authentication. (anonymous bind disallowed)");
      EXPECT_TRUE(RecordingCollector::calls.empty());
    } else {
      EXPECT_FALSE(AnyStartsWith(messages, "     ConnectToExchangeServer")) << messages[0];
      EXPECT_NE(std::find(RecordingCollector::calls.begin(), RecordingCollector::calls.end(),
                          "Mailbox0(EX1,,,o=Velmor/ou=Lakeside/cn=Recipients/cn=Restricted)"),
                RecordingCollector::calls.end());
    }
  }
}

TEST(ScheduleBindName, AccountForms) {
  const std::pair<std::string, std::string> cases[] = {
      {"CORP\\Administrator", "dc=CORP,cn=Administrator"},
      {"CORP\\jsmith\\extra", "dc=CORP,cn=jsmith"},
      {"\\", ""},
      {"CORP\\", ""},
      {"\\name", ""},
      {" \\name", ""},
      {"Administrator", ""},
  };
  for (const auto& [account, expected] : cases) {
    std::string dn = "untouched";
    EXPECT_EQ(ads::AccountBindName(account, dn), !expected.empty()) << account;
    EXPECT_EQ(dn, expected.empty() ? "untouched" : expected) << account;
  }
}

// ------------------------------------------------------------ collection

TEST_F(ScheduleRun, CollectorCallsInOrderWithTheirTexts) {
  UseRecordingCollector collector;
  OpenRun();
  sr::ResetContainerList("EX1", "Velmor", "Lakeside");
  sr::gstrContainerPaths.push_back("o=Velmor/ou=Lakeside/cn=Recipients");
  sr::gstrContainerNames.push_back("Recipients");
  for (const std::string profile : {"", "EX1 Profile"}) {
    for (bool mapi : {true, false}) {
      // The mail client is there when the information-store files are.
      if (mapi)
        ::setenv("VELMORCAST_PROVIDERS", (TestHome::SourceDir() / "sample" / "providers").c_str(), 1);
      else
        ::unsetenv("VELMORCAST_PROVIDERS");
      fs::remove_all(home / "Schedule");
      RecordingCollector::calls.clear();
      RecordingCollector::statuses.clear();
      RecordingCollector::captions.clear();
      sr::GetAllInfo("EX1", "", "", "Velmor", "Lakeside", profile);
      const std::string P = "o=Velmor/ou=Lakeside/cn=Recipients";
      std::vector<std::string> expected = {"ErrorLogFileName=Schedule\\VelmorcastSchedLog.log", "Server(EX1,,)"};
      std::vector<std::string> status = {"Retrieving Container Information from 'EX1'"};
      std::vector<std::string> caption = {""};
      const char* recip[] = {"General", "Organization/Phone/Notes", "Permissions",
                             "Distribution Lists/E-Mail Addresses", "Delivery Restrictions/Delivery Options",
                             "Protocols", "Custom Attributes", "Limits/Advanced"};
      for (int t = 0; t < 8; ++t) {
        expected.push_back("Mailbox" + std::to_string(t) + "(EX1,,," + P + ")");
        status.push_back(std::string("Retrieving ") + recip[t] + " Information from 'EX1'");
        caption.push_back("Retrieving Mailboxes Information from 'EX1'");
      }
      const char* dl[] = {"Distribution Lists General", "Permissions", "Distribution Lists/E-Mail Addresses",
                          "Delivery Restrictions/Delivery Options", "Custom Attributes", "Limits/Advanced"};
      for (int t = 0; t < 6; ++t) {
        expected.push_back("DL" + std::to_string(t) + "(EX1,,," + P + ")");
        status.push_back(std::string("Retrieving ") + dl[t] + " Information from 'EX1'");
        caption.push_back("Retrieving Distribution Lists Information from 'EX1'");
      }
      const char* pf[] = {"General", "Permissions", "Distribution Lists/E-Mail Addresses", "Custom Attributes",
                          "Limits/Advanced"};
      for (int t = profile.empty() ? 1 : 0; t < 5; ++t) {
        expected.push_back("PF" + std::to_string(t) + "(EX1,,," + profile + "," + P + ")");
        status.push_back(std::string("Retrieving ") + pf[t] + " Information from 'EX1'");
        caption.push_back("Retrieving Public Folders Information from 'EX1'");
      }
      for (int t = 0; t < 8; ++t) {
        expected.push_back("CR" + std::to_string(t) + "(EX1,,," + P + ")");
        status.push_back(std::string("Retrieving ") + recip[t] + " Information from 'EX1'");
        caption.push_back("Retrieving Custom Recipients Information from 'EX1'");
      }
      for (auto [call, text] : std::vector<std::pair<std::string, std::string>>{
               {"Protocol(EX1,,)", "Protocols"},
               {"PrivateIS(EX1,,)", "Server Private IS"},
               {"PublicIS(EX1,,)", "Server Public IS Resources"},
               {"ServerProtocols(EX1,,)", "Server Protocols"},
               {"Connector(EX1,,)", "Connections"}}) {
        expected.push_back(call);
        status.push_back("Retrieving " + text + " Information from 'EX1'");
        caption.push_back("Retrieving Information from 'EX1'");
      }
      EXPECT_EQ(RecordingCollector::calls, expected) << profile;
      EXPECT_EQ(RecordingCollector::statuses, status) << profile;
      std::vector<std::string> seenCaptions = RecordingCollector::captions;
      seenCaptions[0] = "";  // the caption before the first group is the caller's
      EXPECT_EQ(seenCaptions, caption) << profile;
      EXPECT_EQ(window->windowTitle().toStdString(), "Velmorcast  [Schedule]");
      EXPECT_EQ(window->lblStatus->text().toStdString(), "Schedule Process is completed.");
      const auto messages = LogMessages(home.dir());
      ASSERT_GE(messages.size(), 2u);
      EXPECT_EQ(messages.front(), "     GetAllInfo : Getting information for server -'EX1' start.");
      EXPECT_EQ(messages.back(), "     GetAllInfo : Getting information for server -'EX1' end.");
      EXPECT_EQ(AnyStartsWith(messages, "     GetAllInfo : Outlook 97 or above/Exchange 5.5 or 2000 not installed in 'EX1'."),
                !mapi);
    }
  }
  ::unsetenv("VELMORCAST_PROVIDERS");
  CloseRun();
}

TEST_F(ScheduleRun, RealCollectorRowsEqualDirectCallsOthersUntouched) {
  UseSampleDirectory sample;
  auto countRows = [](const fs::path& dir) {
    std::map<std::string, size_t> out;
    for (const auto& t : AppTables())
      if (!t.columns.empty() && t.columns[0].name == "ServerName")
        out[t.name] = InventoryRows(dir, t.name, "ServerName='EX1'").size();
    return out;
  };
  // Rows that must survive: another server's, favourites, reports.
  {
    db::Connection c;
    c.Open((home / "velmo.mdb").string());
    c.Execute("insert into VELMORCFavourites values('EX1','Yes','Yes')");
    c.Execute("insert into MailboxGeneral (ServerName,[Display Name]) values('EX2','Keep Me')");
    c.Execute("insert into MailboxGeneral (ServerName,[Display Name]) values('EX1','Stale Row')");
  }
  const size_t reports = InventoryRows(home.dir(), "VELMORCCustomReports").size();
  WriteSettings(home.dir(), {ServerLine("EX1", "None", "", "Export", "", "CSV", "/x")});
  sr::Schedule_Main();
  const auto scheduled = countRows(home.dir());
  EXPECT_EQ(InventoryRows(home.dir(), "MailboxGeneral", "[Display Name]='Stale Row'").size(), 0u);
  EXPECT_EQ(InventoryRows(home.dir(), "MailboxGeneral", "ServerName='EX2'").size(), 1u);
  EXPECT_EQ(InventoryRows(home.dir(), "VELMORCFavourites").size(), 1u);
  EXPECT_EQ(InventoryRows(home.dir(), "VELMORCCustomReports").size(), reports);
  EXPECT_GT(scheduled.at("MailboxGeneral"), 0u);
  EXPECT_GT(scheduled.at("ContainerInfo"), 0u);

  // The same calls made directly in a fresh folder.
  TestHome direct;
  CreateInventory(direct.dir());
  {
    auto c = com::CreateObject<_Exch55Info>("VELMO.Exch55Info");
    c->GetServerInfo("EX1", "", "");
    const std::string L = "o=Velmor/ou=Lakeside/cn=Recipients";
    for (const std::string p : {L, L + "/cn=Sales", L + "/cn=Sales/cn=Europe"}) {
      for (int16_t t = 0; t < 8; ++t) c->GetMailboxInfo(t, "EX1", "", "", p);
      for (int16_t t = 0; t < 6; ++t) c->GetDLInfo(t, "EX1", "", "", p);
      for (int16_t t = 1; t < 5; ++t) c->GetPublicFolderInfoUsingProfile(t, "EX1", "", "", "", p);
      for (int16_t t = 0; t < 8; ++t) c->GetCustomRecipInfo(t, "EX1", "", "", p);
    }
    c->GetProtocolInfo("EX1", "", "");
    c->GetPrivateISInfo("EX1", "", "");
    c->GetPublicISInfo("EX1", "", "");
    c->GetServerProtocolsInfo("EX1", "", "");
    c->GetConnectorInfo("EX1", "", "");
  }
  const auto directRows = countRows(direct.dir());
  for (const auto& [table, n] : directRows)
    if (table != "VELMORCFavourites") EXPECT_EQ(scheduled.at(table), n) << table;
}

// A container whose name the directory writes with escapes: its section
// is found by the path as written, and exported and printed under the name
// a person reads ("\" written "_" in the file name), into a folder the
// run makes.
TEST_F(ScheduleRun, EscapedContainerSectionsAreWrittenUnderTheDecodedName) {
  PrivateSlapd odd(OddNamesOption());
  UseSampleDirectory sample(odd.hostsFile());
  db::Connection c;
  c.Open((home / "velmo.mdb").string());
  c.Execute("insert into VELMORCCustomReports values('Container2General','Odd','Directory Name')");
  c.Close();
  const fs::path out = home / "out";
  WriteSettings(home.dir(), {ServerLine("EX1", "Odd", "", "Both", "Velmorcast PDF", "CSV", out.string())});
  sr::Schedule_Main();
  EXPECT_FALSE(AnyStartsWith(LogMessages(home.dir()), "     ProcessReportOutput"));
  const std::string csv = TestHome::Slurp(out / "EX1_Odd \"Names\", <\u00c5l> _x General_12_09_2026_02_00_00.csv");
  EXPECT_NE(csv.find("\"Odd \"\"Names\"\", <\u00c5l> \\x General - 'EX1'\"\r\n"), std::string::npos) << csv;
  int pdfs = 0;
  for (const auto& e : fs::directory_iterator(home / "Print"))
    pdfs += e.path().filename().string().ends_with(" " + kOddName + " General - 'EX1'.pdf");
  EXPECT_EQ(pdfs, 1);
}

// ---------------------------------------------------------------- report

TEST_F(ScheduleRun, ReportSections) {
  OpenRun();
  sr::ResetContainerList("EX1", "Velmor", "Lakeside");
  for (const char* c : {"Recipients", "Sales", "Europe"}) {
    sr::gstrContainerPaths.push_back(std::string("o=Velmor/ou=Lakeside/cn=") + c);
    sr::gstrContainerNames.push_back(c);
  }
  const std::string srv = "o=Velmor/ou=Lakeside/cn=Configuration/cn=Servers/cn=EX1";
  struct Case {
    std::string tab;
    std::vector<std::string> labels;
    std::vector<std::string> terms;  // one text each statement must end with
  } cases[] = {
      {"MailboxesGeneral",
       {"Recipients MailboxesGeneral", "Sales MailboxesGeneral", "Europe MailboxesGeneral",
        "Server Recipients MailboxesGeneral"},
       {" and [Object Path] = 'o=Velmor/ou=Lakeside/cn=Recipients'", " and [Object Path] = 'o=Velmor/ou=Lakeside/cn=Sales'",
        " and [Object Path] = 'o=Velmor/ou=Lakeside/cn=Europe'", " and [Home Server]='EX1'"}},
      {"Container2Permissions",
       {"Configuration Permissions", "Connections Permissions", "Servers Permissions", "Recipients Permissions",
        "Sales Permissions", "Europe Permissions"},
       {"/cn=Configuration'", "/cn=Connections'", "/cn=Servers'", "/cn=Recipients'", "/cn=Sales'", "/cn=Europe'"}},
      {"Container1General", {"Velmor General", "Lakeside General"}, {"= 'o=Velmor'", "= 'o=Velmor/ou=Lakeside'"}},
      {"ServerGeneral", {"EX1 General"}, {"= '" + srv + "'"}},
      {"ServerProtocolsPermissions", {"Server Protocols Permissions"}, {"= '" + srv + "/cn=Protocols'"}},
      {"ProtocolsGeneral", {"Protocols General"}, {"/cn=Configuration/cn=Protocols'"}},
      {"Message Transfer AgentGeneral", {"Message Transfer Agent General"}, {"= '" + srv + "/cn=Microsoft MTA'"}},
      {"System AttendantE-Mail Addresses", {"System Attendant E-Mail Addresses"},
       {"= '" + srv + "/cn=Microsoft System Attendant'"}},
      {"ServerDiagnostics Logging", {"ServerDiagnostics Logging"}, {"like 'EX1%' escape '\\'"}},
      {"Private Information StoreGeneral", {"Private Information Store Private Information StoreGeneral"},
       {"= '" + srv + "/cn=Microsoft Private MDB'"}},
      {"ServerIMAP4General", {"ServerIMAP4General"}, {"Level='Server'"}},
  };
  for (const Case& c : cases) {
    const auto sections = sr::SectionsOf(c.tab, ";Display Name", "Default", "EX1", "Velmor", "Lakeside");
    std::vector<std::string> labels;
    for (const auto& s : sections) labels.push_back(s.label);
    EXPECT_EQ(labels, c.labels) << c.tab;
    for (size_t i = 0; i < sections.size() && i < c.terms.size(); ++i) {
      const auto& st = sections[i].statement;
      EXPECT_NE(st.find(c.terms[i]), std::string::npos) << c.tab << ": " << st;
      EXPECT_EQ(st.rfind("select distinct `Display Name` from ", 0), 0u) << st;
    }
  }
  // A server name with an apostrophe is quoted wherever it stands.
  sr::ResetContainerList("O'Brien", "Vel'mor", "Lake");
  for (const auto& s : sr::SectionsOf("ServerGeneral", ";Display Name", "Default", "O'Brien", "Vel'mor", "Lake"))
    EXPECT_NE(s.statement.find("ServerName='O''Brien' and [Object Path] = 'o=Vel''mor/ou=Lake/cn=Configuration/cn=Servers/cn=O''Brien'"),
              std::string::npos)
        << s.statement;
  CloseRun();
}

}  // namespace
