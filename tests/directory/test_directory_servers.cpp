// The directory layer against servers that behave differently from the
// shared sample: each test starts its own slapd (or a socket that never
// answers) and checks the failure the layer reports.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

#include "Directory.h"
#include "LdapProxy.h"
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

namespace {

// BER: where the contents of the element at `at` begin, and where it ends.
size_t Contents(const std::vector<uint8_t>& m, size_t at) { return at + 2 + (m[at + 1] < 0x80 ? 0 : m[at + 1] & 0x7f); }
size_t Next(const std::vector<uint8_t>& m, size_t at) {
  size_t len = m[at + 1] < 0x80 ? m[at + 1] : 0;
  for (size_t i = 2; i < Contents(m, at) - at; ++i) len = (len << 8) | m[at + i];
  return Contents(m, at) + len;
}
// The element at `at` given a length past the end of the message.
void Overlong(std::vector<uint8_t>& m, size_t at) {
  for (size_t i = at + 1; i < Contents(m, at); ++i) m[i] = m[at + 1] < 0x80 ? 0x84 : 0xff;
}

}  // namespace

// A page control or an entry that does not decode fails a listing instead
// of ending it short; the server's own text of a failure follows the
// description (a cookie it refuses, a name that is no DN).
TEST_F(Servers, DamagedAnswersFailAndTheServersTextFollowsTheDescription) {
  test::PrivateSlapd slapd;
  test::LdapProxy proxy(slapd.port());
  test::TestHome home(false);
  test::UseSampleDirectory use(proxy.WriteHostsFile(home.dir()));
  SetPageSize(2);
  const std::string oid = "1.2.840.113556.1.4.319";  // paged results
  auto pageControl = [&](std::vector<uint8_t>& m) {  // its value's contents, past the criticality
    size_t at = std::search(m.begin(), m.end(), oid.begin(), oid.end()) - m.begin() + oid.size();
    return Contents(m, m[at] == 0x01 ? Next(m, at) : at);
  };
  struct Case {
    uint8_t op;  // the first message of this kind is damaged
    std::function<void(std::vector<uint8_t>&)> damage;
    std::string error;
  } const cases[] = {
      {0x65, [&](auto& m) { Overlong(m, pageControl(m)); }, "0x80004005 Decoding error"},
      // The first attribute of an entry, past the message id and the name.
      {0x64, [](auto& m) { Overlong(m, Contents(m, Next(m, Contents(m, Next(m, Contents(m, 0)))))); },
       "0x80004005 Decoding error"},
      {0x65, [](auto& m) { m.back() ^= 0xff; },  // the cookie's last byte
       "0x8007003A The specified server cannot perform the requested operation. (paged results cookie is invalid)"},
  };
  for (const auto& c : cases) {
    ResetSessions();
    auto recipients = GetObject(kRecipients);
    ASSERT_GT(recipients->Children().size(), 2u);  // the root DSE is read by now
    bool done = false;
    proxy.Alter([&](uint8_t op, std::vector<uint8_t>& m) {
      if (op == c.op && !std::exchange(done, true)) c.damage(m);
    });
    std::string error = "a list came back";
    try {
      recipients->Children();
    } catch (const ComError& e) {
      error = HexText(e.Number()) + " " + e.Description();
    }
    EXPECT_EQ(error, c.error);
    proxy.Alter(nullptr);
  }
  std::string read = "bound";
  try {
    GetObject("LDAP://EX1/o=Velmor/nosuchtype=x");
  } catch (const ComError& e) {
    read = e.Description();
  }
  EXPECT_EQ(read, "An invalid directory pathname was passed. (invalid DN)");
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

namespace {

// A local server that accepts every connection and never answers, or,
// with `answerBinds`, answers each bind with success and then nothing
// else (a server that hangs on requests).
class SilentServer {
 public:
  explicit SilentServer(bool answerBinds) : answerBinds_(answerBinds) {
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listen_, 16);
    socklen_t len = sizeof addr;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    if (::pipe(stop_) != 0) throw std::runtime_error("pipe");
    thread_ = std::thread([this] { Serve(); });
  }
  ~SilentServer() {
    ::write(stop_[1], "x", 1);
    thread_.join();
    for (int fd : clients_) ::close(fd);
    ::close(listen_);
    ::close(stop_[0]);
    ::close(stop_[1]);
  }
  int port() const { return port_; }

 private:
  void Serve() {
    for (;;) {
      std::vector<pollfd> fds{{stop_[0], POLLIN, 0}, {listen_, POLLIN, 0}};
      for (int fd : clients_) fds.push_back({fd, POLLIN, 0});
      ::poll(fds.data(), fds.size(), -1);
      if (fds[0].revents) return;
      if (fds[1].revents) clients_.push_back(::accept(listen_, nullptr, nullptr));
      for (size_t i = 2; i < fds.size(); ++i) {
        if (!(fds[i].revents & POLLIN)) continue;
        unsigned char in[512];
        const ssize_t n = ::read(fds[i].fd, in, sizeof in);
        if (n <= 0 || !answerBinds_) continue;
        // SEQUENCE { messageID, [APPLICATION 0] bind request }: answer
        // SEQUENCE { messageID, [APPLICATION 1] { success, "", "" } }.
        size_t at = in[1] < 0x80 ? 2 : 2 + (in[1] & 0x7f);
        if (at + 3 >= static_cast<size_t>(n) || in[at] != 0x02 || in[at + 1] != 1 || in[at + 3] != 0x60) continue;
        const unsigned char reply[] = {0x30, 0x0c, 0x02, 0x01, in[at + 2], 0x61, 0x07,
                                       0x0a, 0x01, 0x00, 0x04, 0x00, 0x04, 0x00};
        ::write(fds[i].fd, reply, sizeof reply);
      }
    }
  }

  bool answerBinds_;
  int listen_ = -1;
  int port_ = 0;
  int stop_[2] = {-1, -1};
  std::vector<int> clients_;
  std::thread thread_;
};

size_t ThreadCount() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task")) ++n;
  return n;
}

using Ms = std::chrono::duration<double, std::milli>;

}  // namespace

// A server that never answers, at each stage: the TCP connect completes
// but "ldaps://" never gets through its handshake, "ldap://" never gets
// its bind answered, and a server that answers the bind never answers a
// request. Each wait ends with its bound (connect and request bounds set
// to 1 s here), calls the hook at least every 50 ms or so meanwhile (a
// directory call the hook makes runs without nesting it), and ends as soon
// as the hook asks to give up, leaving no thread behind.
TEST_F(Servers, ServerThatNeverAnswersTimesOutAndCanBeCancelled) {
  struct Case {
    const char* what;
    const char* scheme;
    bool answerBinds;
  };
  for (const Case& c : {Case{"handshake", "ldaps", false}, Case{"bind", "ldap", false},
                        Case{"request", "ldap", true}}) {
    SCOPED_TRACE(c.what);
    SilentServer server(c.answerBinds);
    test::TestHome home(false);
    {
      std::ofstream out(home / "hosts.conf");
      out << "SILENT " << c.scheme << "://127.0.0.1:" << server.port() << "\nDOWN ldap://127.0.0.1:1\n";
    }
    test::UseSampleDirectory use(home / "hosts.conf");
    SetTimeouts(1, 1);
    const size_t threadsBefore = ThreadCount();

    using Clock = std::chrono::steady_clock;
    for (bool cancel : {false, true}) {
      SCOPED_TRACE(cancel ? "cancelled" : "bound");
      ResetSessions();
      std::vector<Clock::time_point> calls;
      int depth = 0, deepest = 0;
      int32_t nested = 0;
      int callsAfterGivingUp = 0;
      bool gaveUp = false;
      const auto start = Clock::now();
      SetWaitHook([&] {
        deepest = std::max(deepest, ++depth);
        calls.push_back(Clock::now());
        if (gaveUp) ++callsAfterGivingUp;
        if (calls.size() == 1) nested = ErrorOf([] { GetObject("LDAP://DOWN/RootDSE"); });
        --depth;
        if (cancel && Clock::now() - start > std::chrono::milliseconds(150)) gaveUp = true;
        return !gaveUp;
      });
      int32_t number = 0;
      std::string description;
      try {
        GetObject("LDAP://SILENT/RootDSE");
      } catch (const ComError& e) {
        number = e.Number();
        description = e.Description();
      }
      const auto end = Clock::now();
      SetWaitHook(nullptr);

      const double took = Ms(end - start).count();
      if (cancel) {
        EXPECT_EQ(HexText(number), "0x800704C7");
        EXPECT_EQ(description, "The operation was canceled by the user.");
        EXPECT_TRUE(gaveUp);
        EXPECT_EQ(callsAfterGivingUp, 0) << "the wait ends at the hook's first refusal";
      } else {
        EXPECT_EQ(HexText(number), "0x8007203A");
        EXPECT_EQ(description, "The server is not operational.");
        EXPECT_GT(took, 900);
        EXPECT_LT(took, 3000);
      }
      EXPECT_EQ(HexText(nested), "0x8007203A") << "a directory call made by the hook";
      EXPECT_EQ(deepest, 1) << "the hook is not called from inside itself";
      ASSERT_FALSE(calls.empty());
      double widest = Ms(calls.front() - start).count();
      for (size_t i = 1; i < calls.size(); ++i) widest = std::max(widest, Ms(calls[i] - calls[i - 1]).count());
      widest = std::max(widest, Ms(end - calls.back()).count());
      // The hook's own first call includes the nested connect above. Slices
      // are 40 ms; the bound leaves room for a machine busy with other tests
      // and still fails a wait that lets the hook rest for a bound's length.
      EXPECT_LT(widest, 250) << calls.size() << " calls in " << took << " ms";

      // The connect thread of an abandoned connect is woken and gone.
      const auto giveUp = Clock::now() + std::chrono::milliseconds(2000);
      while (ThreadCount() > threadsBefore && Clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      EXPECT_EQ(ThreadCount(), threadsBefore);
    }
  }
}
