// The directory layer against servers that behave differently from the
// shared sample: each test starts its own slapd (or a socket that never
// answers) and checks the failure the layer reports.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>

#include "Directory.h"
#include "SampleDirectory.h"
#include "TestHome.h"

using namespace velmo;
using namespace velmo::ads;

namespace {

const std::string kRecipients = "LDAP://EX1/o=Velmor/ou=Lakeside/cn=Recipients";
const std::string kAdmin = "dc=CORP,cn=Administrator,cn=admin";

template <class F>
int32_t ErrorOf(F&& f) {
  try {
    f();
  } catch (const ComError& e) {
    return e.Number();
  }
  return 0;
}

class Servers : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSessions();
    SetPageSize(1000);
    SetTimeouts(10, 120);
  }
  void TearDown() override {
    ResetSessions();
    SetPageSize(1000);
    SetTimeouts(10, 120);
  }
};

}  // namespace

TEST_F(Servers, AnonymousRefusedButConnectAsWorks) {
  test::PrivateSlapd slapd("--no-anonymous");
  test::UseSampleDirectory use(slapd.hostsFile());
  EXPECT_EQ(HexText(ErrorOf([] { GetObject("LDAP://EX1/RootDSE"); })), "0x80072029");
  EXPECT_EQ(HexText(ErrorOf([] { OpenDSObject("LDAP://EX1", "", "ignored", 0); })), "0x80072029");
  auto org = OpenDSObject("LDAP://EX1", "dc=CORP,cn=jsmith", "jsmith-pw", 0);
  EXPECT_EQ(org->Get("o").Text(), "Velmor");
  EXPECT_EQ(HexText(ErrorOf([] { OpenDSObject("LDAP://EX1", "dc=CORP,cn=jsmith", "nope", 0); })), "0x8007052E");
}

TEST_F(Servers, SizeLimitIsAnErrorNeverAShortList) {
  test::PrivateSlapd slapd("--sizelimit 5");
  test::UseSampleDirectory use(slapd.hostsFile());
  auto recipients = GetObject(kRecipients);  // one entry: within the limit
  EXPECT_EQ(HexText(ErrorOf([&] { recipients->Children(); })), "0x80072023");
  // Small pages do not get around the limit either.
  SetPageSize(2);
  try {
    recipients->Children();
    ADD_FAILURE() << "a list of some children came back";
  } catch (const ComError& e) {
    EXPECT_EQ(HexText(e.Number()), "0x80072023");
    EXPECT_EQ(e.Description(), "The size limit for this request was exceeded.");
  }
  // Streamed, the pages within the limit are visited, then the error comes.
  size_t visited = 0;
  EXPECT_EQ(HexText(ErrorOf([&] {
              recipients->ForEachChild([&](DirObjectPtr) {
                ++visited;
                return true;
              });
            })),
            "0x80072023");
  EXPECT_LE(visited, 5u);
  // A filter that stays within the limit is answered.
  recipients->SetFilter({"groupOfNames"});
  EXPECT_EQ(recipients->Children().size(), 3u);
}

TEST_F(Servers, DroppedConnectionIsReconnectedOnce) {
  test::PrivateSlapd slapd;
  test::UseSampleDirectory use(slapd.hostsFile());
  auto recipients = OpenDSObject(kRecipients, kAdmin, "secret", 0);
  recipients->Get("cn");
  ResetStats();

  slapd.Restart();  // the server drops every connection
  recipients->SetFilter({"organizationalPerson"});
  EXPECT_EQ(recipients->Children().size(), 4u);
  EXPECT_EQ(Stats().connects, 1);
  EXPECT_EQ(OpenDSObject(kRecipients + "/cn=Sales", kAdmin, "secret", 0)->Get("cn").Text(), "Sales");
  EXPECT_EQ(Stats().connects, 1);

  // A server that stays away: the reconnect fails once, with the number
  // for a server that is not operational, and nothing hangs.
  slapd.Stop();
  EXPECT_EQ(HexText(ErrorOf([] { OpenDSObject(kRecipients + "/cn=Sales/cn=Europe", kAdmin, "secret", 0); })),
            "0x8007203A");
  EXPECT_EQ(HexText(ErrorOf([&] { recipients->Children(); })), "0x8007203A");
  EXPECT_EQ(HexText(ErrorOf([] { GetObject("LDAP://EX1/RootDSE"); })), "0x8007203A");
}

TEST_F(Servers, ServerThatNeverAnswersTimesOut) {
  // A listening socket that accepts connections (through the backlog) and
  // never replies.
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(fd, 4), 0);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);

  test::TestHome home(false);
  {
    std::ofstream out(home / "hosts.conf");
    out << "SILENT ldap://127.0.0.1:" << ntohs(addr.sin_port) << "\n";
  }
  test::UseSampleDirectory use(home / "hosts.conf");
  SetTimeouts(1, 1);
  EXPECT_EQ(HexText(ErrorOf([] { GetObject("LDAP://SILENT/RootDSE"); })), "0x8007203A");
  ::close(fd);
}
