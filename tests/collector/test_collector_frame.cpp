// The collector's frame without a directory: set-up failures, the trace
// and failure lines, the log file's place, the bind-failure message through
// the UI seam, an exception that reaches a method, and the site-match rule.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>

#include "CollectorKit.h"
#include "Directory.h"
#include "SiteMatch.h"

using namespace collector_test;

namespace {

// A server name that the host map sends to a port where nothing listens.
class Unreachable : public ::testing::Test {
 protected:
  void SetUp() override {
    hosts_ = kit_.home().dir() / "hosts.conf";
    std::ofstream(hosts_) << "NOWHERE ldap://127.0.0.1:1\n";
    SetEnv("VELMORCAST_LDAP_HOSTS", hosts_.string());
  }
  void TearDown() override { ::unsetenv("VELMORCAST_LDAP_HOSTS"); }
  Kit kit_;
  std::filesystem::path hosts_;
};

std::vector<std::string> Contexts(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const auto& l : lines) out.push_back(Kit::Context(l));
  return out;
}

}  // namespace

TEST_F(Unreachable, FailedSetUpLogsTracesAndTellsTheUserOnce) {
  auto c = kit_.NewCollector();
  std::string err = "left over";
  c->GetDLInfo(0, "NOWHERE", "dc=CORP,cn=jsmith", "pw-secret", "o=Velmor/ou=Lakeside/cn=Recipients", &err);
  EXPECT_EQ(err, "");

  auto lines = kit_.LogLines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(Contexts(lines),
            (std::vector<std::string>{"GetDLInfo Start", "InitializeVariables Start",
                                      "InitializeVariables - Binding to the Server 'LDAP://NOWHERE' using "
                                      "credential 'dc=CORP,cn=jsmith'",
                                      "InitializeVariables End", "GetDLInfo", "GetDLInfo End"}));
  auto start = Kit::Fields(lines[0]);
  EXPECT_EQ(start[1], "Parameters");
  EXPECT_EQ(start[2], "0-NOWHERE-dc=CORP,cn=jsmith-");
  EXPECT_EQ(Kit::Fields(lines[1])[2], "NOWHERE-dc=CORP,cn=jsmith-");
  auto failure = Kit::Fields(lines[2]);
  EXPECT_EQ(failure[1], "-2147016646");  // 0x8007203A, server not operational
  auto falseLine = Kit::Fields(lines[4]);
  EXPECT_EQ(falseLine[1], "FALSE");
  EXPECT_EQ(falseLine[2], "InitializeVariables Function Call Failure");
  // The user name was never extended: the set-up failed before the binds.
  EXPECT_EQ(Kit::Fields(lines[5])[2], "0-NOWHERE-dc=CORP,cn=jsmith-");
  for (const auto& l : lines) EXPECT_EQ(l.find("pw-secret"), std::string::npos) << l;

  auto shown = kit_.ui().shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, "MsgBox");
  EXPECT_EQ(shown[0].title, "Velmorine for Exchange Server (Velmorcast)");
  EXPECT_EQ(shown[0].buttons, velmo::ui::vbInformation);
  EXPECT_EQ(shown[0].prompt, "Error occured while binding to the server 'NOWHERE' : \r\n-2147016646\r\n" + failure[2] +
                                 "\r\n\r\nPlease ensure LDAP protocol is enabled at the Site/Server level or the "
                                 "server is operational.");
  EXPECT_TRUE(kit_.Rows("DLGeneral").empty());
}

TEST_F(Unreachable, EveryRecipientMethodStopsAfterAFailedSetUp) {
  auto c = kit_.NewCollector();
  std::string err;
  c->GetCustomRecipInfo(7, "NOWHERE", "", "", "o=Velmor/ou=Lakeside/cn=Recipients", &err);
  c->GetPublicFolderInfoUsingProfile(0, "NOWHERE", "", "", "EX1 Profile", "o=Velmor/ou=Lakeside/cn=Recipients",
                                     &err);
  c->GetMailboxInfo(0, "NOWHERE", "", "", "o=Velmor/ou=Lakeside/Server Recipients", &err);
  EXPECT_EQ(err, "");
  // Each call: its own start, set-up, failure and end; the public-folder
  // call never reaches the mail logon and the site walk never starts.
  EXPECT_EQ(Contexts(kit_.LogLines()),
            (std::vector<std::string>{
                "GetMailboxCustomRecipInfo Start", "InitializeVariables Start", Kit::Context(kit_.LogLines()[2]),
                "InitializeVariables End", "GetMailboxCustomRecipInfo", "GetMailboxCustomRecipInfo End",
                "GetPublicFolderInfo Start", "InitializeVariables Start", Kit::Context(kit_.LogLines()[8]),
                "InitializeVariables End", "GetPublicFolderInfo", "GetPublicFolderInfo End",
                "InitializeVariables Start", Kit::Context(kit_.LogLines()[13]), "InitializeVariables End"}));
  EXPECT_EQ(kit_.ui().shown().size(), 3u);
}

TEST_F(Unreachable, AnUnattendedRunIsNeverHeldByTheBindMessage) {
  std::vector<std::string> sunk;
  auto previous = velmo::ui::SetUi(std::make_shared<velmo::ui::UnattendedUi>(
      [&](const std::string& what) { sunk.push_back(what); }));
  auto c = kit_.NewCollector("Schedule\\VelmorcastSchedLog.log");
  std::filesystem::create_directories(kit_.home().dir() / "Schedule");
  c->GetMailboxInfo(0, "NOWHERE", "", "", "o=Velmor/ou=Lakeside/cn=Recipients");
  velmo::ui::SetUi(previous);
  ASSERT_EQ(sunk.size(), 1u);
  EXPECT_EQ(sunk[0].rfind("Error occured while binding to the server 'NOWHERE' : ", 0), 0u);
  EXPECT_FALSE(kit_.LogLines("Schedule\\VelmorcastSchedLog.log").empty());
  EXPECT_FALSE(std::filesystem::exists(kit_.home().dir() / "VelmorcastErrorLog.log"));
}

TEST_F(Unreachable, LogFileNameDefaultsAndScheduleFolderRule) {
  // Never set, or set empty: the error log of the application folder.
  auto c = kit_.NewCollector();
  c->GetMailboxInfo(0, "NOWHERE", "", "", "x");
  EXPECT_EQ(c->ErrorLogFileName(), "VelmorcastErrorLog.log");
  c->ErrorLogFileName("");
  c->GetMailboxInfo(0, "NOWHERE", "", "", "x");
  EXPECT_EQ(c->ErrorLogFileName(), "VelmorcastErrorLog.log");
  EXPECT_EQ(kit_.LogLines().size(), 12u);
  // Every line has its three six-blank separators even with empty fields.
  for (const auto& l : kit_.LogLines()) EXPECT_EQ(Kit::Fields(l).size(), 4u) << l;

  // The schedule log lies in a folder of its own; while that folder is
  // missing its lines are lost and nothing else is written instead.
  auto s = kit_.NewCollector("Schedule\\VelmorcastSchedLog.log");
  s->GetMailboxInfo(0, "NOWHERE", "", "", "x");
  EXPECT_FALSE(std::filesystem::exists(kit_.home().dir() / "Schedule"));
  EXPECT_EQ(kit_.LogLines().size(), 12u);
  std::filesystem::create_directories(kit_.home().dir() / "Schedule");
  s->GetMailboxInfo(0, "NOWHERE", "", "", "x");
  EXPECT_EQ(kit_.LogLines("Schedule\\VelmorcastSchedLog.log").size(), 6u);
}

// A server that takes connections and never answers, and a wait hook that
// throws while the bind waits: every method's body throws, and each call
// ends with one log line (method, server, the exception's text) and one
// item in its error text.
TEST(Guard, AnExceptionEndsEveryMethodWithOneLogLineAndOneItem) {
  Kit kit;
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t len = sizeof a;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), len), 0);
  ASSERT_EQ(::listen(listener, 32), 0);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  std::ofstream(kit.home().dir() / "hosts") << "SILENT ldap://127.0.0.1:" << ntohs(a.sin_port) << "\n";
  SetEnv("VELMORCAST_LDAP_HOSTS", (kit.home().dir() / "hosts").string());
  velmo::ads::SetWaitHook([]() -> bool { throw std::runtime_error("The wait was broken off."); });

  auto c = kit.NewCollector();
  const char* s = "SILENT";
  const std::string p = "o=Velmor/ou=Lakeside/cn=Recipients";
  using E = std::string*;
  const std::function<void(E)> calls[] = {
      [&](E e) { c->GetMailboxInfo(0, s, "", "", p, e); },
      [&](E e) { c->GetCustomRecipInfo(0, s, "", "", p, e); },
      [&](E e) { c->GetDLInfo(0, s, "", "", p, e); },
      [&](E e) { c->GetPublicFolderInfo(0, s, "", "", 0, p, e); },
      [&](E e) { c->GetPublicFolderInfoUsingProfile(0, s, "", "", "P", p, e); },
      [&](E e) { c->GetProtocolInfo(s, "", "", e); },
      [&](E e) { c->GetServerProtocolsInfo(s, "", "", e); },
      [&](E e) { c->GetPrivateISInfo(s, "", "", e); },
      [&](E e) { c->GetPublicISInfo(s, "", "", e); },
      [&](E e) { c->GetServerInfo(s, "", "", e); },
      [&](E e) { c->GetConnectorInfo(s, "", "", e); },
      [&](E e) { c->GetObjectsInContainer(s, "", ""); },  // no error text
  };
  const std::string text = "The wait was broken off.";
  const std::string line = "      -2147467259      " + text + "      ";
  const std::string context = " - Stopped by an Error on the Server 'SILENT'";
  std::vector<std::string> stopped;  // the context of each line
  for (const auto& call : calls) {
    std::string err;
    call(&err);
    EXPECT_TRUE(&call == &calls[11] ? err.empty() : err.find(" -2147467259  @@ ") != std::string::npos &&
                                                         err.ends_with(" " + text))
        << err;
    stopped.clear();
    for (const auto& l : kit.LogLines())
      if (l.find(line) != std::string::npos && l.ends_with(context)) stopped.push_back(Kit::Context(l));
    EXPECT_EQ(stopped.size(), static_cast<size_t>(&call - calls + 1));
  }
  EXPECT_EQ(stopped.front(), "GetMailboxInfo" + context);
  EXPECT_EQ(stopped.back(), "GetObjectsInContainer" + context);
  velmo::ads::SetWaitHook(nullptr);
  ::unsetenv("VELMORCAST_LDAP_HOSTS");
  ::close(listener);
}

TEST(SiteMatch, ComputerNameMustBeTheServerExactly) {
  EXPECT_TRUE(velmo::ComputerIsServer("cn=EX1", "EX1"));
  EXPECT_TRUE(velmo::ComputerIsServer("cn=EX1", "ex1"));
  EXPECT_TRUE(velmo::ComputerIsServer("CN=ex1", "Ex1"));
  EXPECT_FALSE(velmo::ComputerIsServer("cn=EX10", "EX1"));
  EXPECT_FALSE(velmo::ComputerIsServer("cn=EX1", "EX10"));
  EXPECT_FALSE(velmo::ComputerIsServer("cn=XEX1", "EX1"));
  EXPECT_FALSE(velmo::ComputerIsServer("EX1", "EX1"));
  EXPECT_FALSE(velmo::ComputerIsServer("cn=", ""));

  // Whichever order the directory lists them in, EX1 finds cn=EX1 only.
  for (auto order : {std::vector<std::string>{"cn=EX10", "cn=EX1"}, std::vector<std::string>{"cn=EX1", "cn=EX10"}}) {
    auto hit = std::find_if(order.begin(), order.end(), [](const std::string& n) {
      return velmo::ComputerIsServer(n, "EX1");
    });
    ASSERT_NE(hit, order.end());
    EXPECT_EQ(*hit, "cn=EX1");
  }
}
