// Damaged and hostile provider files: every reader refuses a file that is
// not a regular file without waiting on it, reads past the lines it cannot
// read, and logs each such line once per version of the file, naming the
// file and the line.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>

#include "AccountNames.h"
#include "Cdo.h"
#include "NativeTestSupport.h"
#include "NetServers.h"
#include "ProviderFolder.h"
#include "Profiles.h"
#include "RemoteRegistry.h"
#include "SanitizerOptions.h"

using namespace native_test;

namespace {

const char* kGoodStore =
    "[Server]\nOrganization=Velmor\nSite=Lakeside\n"
    "[Private]\nGood\tCORP\\good\t2048\t1\t\t\t/dn/good\t1\t0\n"
    "[Public]\nMarketing\t10240\t7\t\t\t1\t2\t\\Marketing\t0\n";

class ProviderFiles : public NativeTest {
 public:
  void SetUp() override {
    NativeTest::SetUp();
    velmo::cdo::RegisterCdo();
    exch_->ApplicationPath(home_.dir().string());
    WriteProvider("profiles.txt", "EX1 Profile\tEX1\n");
    WriteProvider("stores/EX1.txt", kGoodStore);
  }

  // What each reader makes of its file, in a few words.
  std::string Network() {
    std::vector<velmo::net::SERVER_INFO_101> entries;
    uint32_t rc = velmo::net::NetServerEnum("", velmo::net::SV_TYPE_DOMAIN_ENUM, "", entries);
    std::string out = std::to_string(rc) + ":";
    for (auto& e : entries) out += " " + e.sv101_name;
    return out;
  }
  std::string Accounts() {
    std::string out;
    for (int rid : {1106, 1107}) {
      velmo::accounts::AccountName a;
      out += velmo::accounts::LookupAccountSidText(DomainSid(rid), a) == 0 ? a.domain + "\\" + a.name + " " : "? ";
    }
    return out;
  }
  std::string Profiles() {
    std::string out;
    for (auto& p : velmo::mapi::ReadProfiles()) out += p.name + "@" + p.homeServer + " ";
    return out;
  }
  std::string Stores() {
    std::string out;
    for (int mode : {0, 1}) {
      const char* table = mode ? "ServerPublicISResources" : "ServerPrivateISResources";
      velmo::db::Connection conn;
      conn.Open(db_);
      conn.Execute(std::string("delete from ") + table);
      conn.Close();
      int32_t rc = exch_->GetISResourcesUsingProfile(mode, "EX1", "Velmor", "Lakeside", db_, "EX1 Profile");
      out += std::to_string(rc) + "/";
      for (auto& r : Rows(table)) out += r.at("Display Name") + ",";
      out += " ";
    }
    return out;
  }
  std::string Acl() {
    using namespace velmo::cdo;
    auto session = velmo::com::CreateObject<ISession>("MAPI.Session");
    session->Logon(std::string("EX1 Profile"), std::nullopt, false, std::nullopt, std::nullopt);
    auto root = session->GetFolder(session->GetInfoStores()->Item(1)->Fields(PR_IPM_PUBLIC_FOLDERS_ENTRYID), "");
    auto acl = velmo::com::CreateObject<IAclObject>("MSExchange.aclobject");
    acl->CDOItem(root->GetFolders()->Item("Marketing"));
    auto aces = acl->GetACEs();
    std::string out;
    for (long i = 1; i <= aces->Count(); ++i) out += aces->Item(i)->ID() + "=" + std::to_string(aces->Item(i)->Rights()) + " ";
    session->Logoff();
    return out;
  }
  std::string Registry() {
    velmo::reg::HKEY h = nullptr;
    auto rc = velmo::reg::RegConnectRegistryA("EX1", velmo::reg::HKEY_LOCAL_MACHINE, &h);
    if (h) velmo::reg::RegCloseKey(h);
    return std::to_string(rc);
  }

  // The provider log lines: those that name a file of the providers folder.
  std::vector<std::string> ProviderLog() {
    std::vector<std::string> out;
    for (auto& l : LogLines(home_.dir()))
      if (l.find(" cannot be read") != std::string::npos) out.push_back(l);
    return out;
  }
};

using Read = std::string (ProviderFiles::*)();

// The description and context of a provider log line.
std::pair<std::string, std::string> Parts(const std::string& line) {
  const std::string sep(6, ' ');
  size_t b = line.find(sep + "13" + sep);
  size_t e = line.rfind(sep);
  if (b == std::string::npos || e == std::string::npos || e < b + 14) return {};
  b += 14;
  return {line.substr(b, e - b), line.substr(e + 6)};
}

}  // namespace

TEST_F(ProviderFiles, ANamedPipeAsAnyProviderFileIsRefusedWithoutWaiting) {
  struct Case {
    const char* file;
    Read read;
    const char* outcome;
    const char* context;
  };
  const Case cases[] = {
      {"network.txt", &ProviderFiles::Network, "6118:", "Network servers"},
      {"accounts.txt", &ProviderFiles::Accounts, "? ? ", "Account names"},
      {"profiles.txt", &ProviderFiles::Profiles, "", "Mail profiles"},
      {"stores/EX1.txt", &ProviderFiles::Stores, "STORES", "Information store"},
      {"publicacl/EX1.txt", &ProviderFiles::Acl, "", "Public folder permissions"},
      {"registry/EX1.reg", &ProviderFiles::Registry, "5", "Registry"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const auto path = providers_ / c.file;
    std::filesystem::create_directories(path.parent_path());
    std::filesystem::remove(path);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    const size_t before = ProviderLog().size();
    for (int round = 0; round < 2; ++round) {
      auto result = std::async(std::launch::async, [&] { return (this->*c.read)(); });
      if (result.wait_for(velmo::test::HangBound(std::chrono::seconds(10))) != std::future_status::ready) {
        // A reader waits on the pipe: a writer lets it go, so the test ends.
        int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
        ADD_FAILURE() << "the reader waited on a named pipe";
      }
      std::string outcome = result.get();
      if (std::string(c.outcome) != "STORES")
        EXPECT_EQ(outcome, c.outcome);
      else
        EXPECT_EQ(outcome.find("0/"), std::string::npos) << outcome;  // neither store read
    }
    auto log = ProviderLog();
    ASSERT_EQ(log.size(), before + 1);
    EXPECT_EQ(Parts(log.back()), std::make_pair("'" + path.string() + "' cannot be read: Access is denied.",
                                                std::string(c.context)));
    std::filesystem::remove(path);
    // Back to a regular file, it is read again.
    if (c.read == &ProviderFiles::Profiles) {
      WriteProvider(c.file, "EX1 Profile\tEX1\n");
      EXPECT_EQ(Profiles(), "EX1 Profile@EX1 ");
    } else if (c.read == &ProviderFiles::Stores) {
      WriteProvider(c.file, kGoodStore);
      EXPECT_EQ(Stores(), "0/Good, 0/Marketing, ");
    }
  }
}

TEST_F(ProviderFiles, DamagedFilesAreReadPastTheirBadLinesEachLoggedOnce) {
  const std::string s1106 = DomainSid(1106), s1107 = DomainSid(1107);
  struct Case {
    const char* file;
    std::string text;
    Read read;
    std::string outcome;
    const char* context;
    std::vector<std::string> bad;  // "line: why"
  };
  const std::vector<Case> cases = {
      {"accounts.txt",
       s1106 + "\tCORP\tjsmith\n" + std::string("\x00\x01\x02\xff\xfe\x80garbage\n", 14) + "not-a-sid\tCORP\tx\n" +
           DomainSid(1108) + "\tCORP\n" + s1107 + "\tCORP\tsoneil\n",
       &ProviderFiles::Accounts, "CORP\\jsmith CORP\\soneil ", "Account names",
       {"2: it holds control characters (not a text line)", "3: 'not-a-sid' is not a SID",
        "4: a line holds a SID, a domain and an account name, separated by TAB"}},
      {"network.txt",
       "\x7f" "ELF\x02\x01\x01\ndomain\tCORP\nserver\tCORP\tEX1\tfast\tMSExchangeSA\nrouter\tX\n\xc3\x28\n"
       "server\tCORP\tEX2\t0x1013\tMSExchangeSA\tmaybe\nerror\tservers\tCORP\nerror\tmail\t5\ndomain\tLAB\n",
       &ProviderFiles::Network, "0: CORP LAB", "Network servers",
       {"1: it holds control characters (not a text line)", "3: the server type 'fast' is not a number",
        "4: 'router' is not a kind of line (domain, server, local or error)", "5: it is not UTF-8 text",
        "6: the access 'maybe' is neither ok, denied, unreachable nor an error number",
        "7: an error line for servers names a domain and an error number",
        "8: an error line is for 'domains' or 'servers'"}},
      {"profiles.txt", "EX1 Profile\tEX1\nLonely\n\tEX2\nThree\tEX1\textra\n", &ProviderFiles::Profiles,
       "EX1 Profile@EX1 ", "Mail profiles",
       {"2: a line holds a profile name and its home server, separated by TAB",
        "3: a line holds a profile name and its home server, separated by TAB",
        "4: a line holds a profile name and its home server, separated by TAB"}},
      // A bad mailbox line is skipped alone: the public store after it is read.
      {"stores/EX1.txt",
       "stray\n[Server]\nOrganization=Velmor\nSite=Lakeside\nColour=blue\n[Private]\nBad\tCORP\\bad\tlots\n"
       "Good\tCORP\\good\t2048\t1\t\t\t/dn/good\t1\t0\nLate\t\t\t\t2024-13-01 00:00:00\nWide\t\t\t\t\t\t\t\t\t\tx\n"
       "Small\t\t\t99999999999\n[Public]\nMarketing\t10240\t7\t\t\t1\t2\t\\Marketing\t0\n[Extra]\nx\n",
       &ProviderFiles::Stores, "0/Good, 0/Marketing, ", "Information store",
       {"1: a line before the first section", "5: [Server] holds Organization=... and Site=... lines",
        "7: field 3 'lots' is not a size in bytes",
        "9: field 5 '2024-13-01 00:00:00' is not a time yyyy-mm-dd hh:mm:ss",
        "10: a line has 9 fields, this one 11", "11: field 4 '99999999999' is not a 32-bit number",
        "15: a line in the unknown section [Extra]"}},
      // A bad permission line is skipped alone: the folder keeps its other permissions.
      {"publicacl/EX1.txt",
       "Marketing\tID_ACL_DEFAULT\tplenty\nMarketing\tID_ACL_ANONYMOUS\t0\nMarketing\t\t1025\n"
       "Marketing\t/dn/good\t0x400\nSupport\tID_ACL_DEFAULT\n",
       &ProviderFiles::Acl, "ID_ACL_ANONYMOUS=0 /dn/good=1024 ", "Public folder permissions",
       {"1: the rights 'plenty' are not a number",
        "3: a line holds a folder name, a member and the rights, separated by TAB",
        "5: a line holds a folder name, a member and the rights, separated by TAB"}},
      {"registry/EX1.reg", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=dword:zz\n", &ProviderFiles::Registry, "1009",
       "Registry", {"3: dword value is not 1 to 8 hex digits"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const auto path = providers_ / c.file;
    auto expectLogged = [&](size_t from) {
      auto log = ProviderLog();
      ASSERT_EQ(log.size(), from + c.bad.size());
      for (size_t i = 0; i < c.bad.size(); ++i) {
        const auto colon = c.bad[i].find(": ");
        EXPECT_EQ(Parts(log[from + i]),
                  std::make_pair("Line " + c.bad[i].substr(0, colon) + " of '" + path.string() +
                                     "' cannot be read: " + c.bad[i].substr(colon + 2),
                                 std::string(c.context)));
      }
    };
    WriteProvider(c.file, c.text);
    size_t before = ProviderLog().size();
    EXPECT_EQ((this->*c.read)(), c.outcome);
    EXPECT_EQ((this->*c.read)(), c.outcome);  // the same version is not logged again
    expectLogged(before);
    // Another version of the file: its bad lines are logged again.
    before = ProviderLog().size();
    WriteProvider(c.file, c.text + "\n");
    EXPECT_EQ((this->*c.read)(), c.outcome);
    expectLogged(before);
  }

  // A file of nothing but bad lines logs a bounded number of them.
  size_t before = ProviderLog().size();
  std::string ones;
  for (int i = 0; i < 100; ++i) ones += "\x01\n";
  WriteProvider("accounts.txt", ones);
  EXPECT_EQ(Accounts(), "? ? ");
  auto log = ProviderLog();
  ASSERT_EQ(log.size(), before + velmo::providers::kMaxLoggedLines + 1);
  EXPECT_EQ(Parts(log.back()).first,
            "'" + (providers_ / "accounts.txt").string() + "' has more lines that cannot be read; they are not logged");
}

// A lookup round looks at each file once: lookups inside it keep the
// version (or the absence) they met first, and the next round, or a lookup
// outside any round, sees the file as it is then. Rounds nest.
TEST_F(ProviderFiles, ALookupRoundLooksAtEachFileOnceAndTheNextRoundSeesChanges) {
  const std::string sid = DomainSid(1106);
  auto write = [&](const char* name) {
    if (name)
      WriteProvider("accounts.txt", sid + "\tCORP\t" + name + "\n");
    else
      std::filesystem::remove(providers_ / "accounts.txt");
  };
  auto who = [&] {
    velmo::accounts::AccountName a;
    return velmo::accounts::LookupAccountSidText(sid, a) == 0 ? a.domain + "\\" + a.name : std::string("?");
  };
  write("first");
  {
    velmo::providers::LookupRound round;
    EXPECT_EQ(who(), "CORP\\first");
    write("second");
    {
      velmo::providers::LookupRound inner;
      EXPECT_EQ(who(), "CORP\\first");
    }
    EXPECT_EQ(who(), "CORP\\first");
  }
  EXPECT_EQ(who(), "CORP\\second");
  write(nullptr);
  {
    velmo::providers::LookupRound round;
    EXPECT_EQ(who(), "?");
    write("third");
    EXPECT_EQ(who(), "?");
  }
  EXPECT_EQ(who(), "CORP\\third");
  write("fourth");
  EXPECT_EQ(who(), "CORP\\fourth");
}
