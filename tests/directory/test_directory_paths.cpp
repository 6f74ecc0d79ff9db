// Paths, names, the host map and the WinNT hook of the directory layer:
// everything that is decided before a server is asked.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <ldap.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <vector>

#include "DirPath.h"
#include "Directory.h"
#include "SampleDirectory.h"
#include "TestHome.h"
#include "TextFile.h"

using namespace velmo;
using namespace velmo::ads;
using velmo::ads::detail::ParsedPath;
using velmo::ads::detail::ParsePath;

namespace {

void ExpectBadPath(const std::string& path) {
  try {
    ParsePath(path);
    ADD_FAILURE() << "parsed: " << path;
  } catch (const ComError& e) {
    EXPECT_EQ(e.Number(), Hr(0x80005000)) << path;
    EXPECT_EQ(e.Description(), "An invalid directory pathname was passed.");
  }
}

// libldap's ldap_set_option as this program sees it: the option named by
// gRefusedOption fails, every other call goes on to libldap.
std::atomic<int> gRefusedOption{0};

}  // namespace

extern "C" int ldap_set_option(LDAP* ld, int option, const void* value) {
  using SetOption = int (*)(LDAP*, int, const void*);
  static const auto real = reinterpret_cast<SetOption>(dlsym(RTLD_NEXT, "ldap_set_option"));
  if (option == gRefusedOption.load()) return LDAP_OPT_ERROR;
  return real(ld, option, value);
}

TEST(DirectoryPaths, EveryFormTheCollectorWrites) {
  auto root = ParsePath("LDAP://EX1/RootDSE");
  EXPECT_EQ(root.kind, ParsedPath::Kind::RootDSE);
  EXPECT_EQ(root.server, "EX1");

  auto org = ParsePath("LDAP://EX1");
  EXPECT_EQ(org.kind, ParsedPath::Kind::Organisation);
  EXPECT_EQ(ParsePath("LDAP://ex1/").kind, ParsedPath::Kind::Organisation);

  // Slash paths are written top-down and turned into DNs bottom-up.
  auto slash = ParsePath("LDAP://EX1/o=Org/ou=Site/cn=Configuration/cn=Servers/cn=EX1");
  EXPECT_EQ(slash.kind, ParsedPath::Kind::Entry);
  EXPECT_EQ(slash.dn, "cn=EX1,cn=Servers,cn=Configuration,ou=Site,o=Org");

  // Comma DNs are sent as written; the server is kept as the caller wrote it.
  auto comma = ParsePath("LDAP://ex1/CN=Protocols,CN=Configuration,ou=Site,o=Org");
  EXPECT_EQ(comma.server, "ex1");
  EXPECT_EQ(comma.dn, "CN=Protocols,CN=Configuration,ou=Site,o=Org");

  // A server with a port, and a single RDN.
  auto port = ParsePath("LDAP://127.0.0.1:3890/o=Velmor");
  EXPECT_EQ(port.server, "127.0.0.1:3890");
  EXPECT_EQ(port.dn, "o=Velmor");
}

TEST(DirectoryPaths, SlashesInsideNames) {
  // "\/" is a slash inside a value, in slash paths and in comma DNs alike.
  EXPECT_EQ(ParsePath("LDAP://EX1/o=Velmor/ou=Lakeside/cn=Recipients/cn=Sales\\/Europe").dn,
            "cn=Sales/Europe,cn=Recipients,ou=Lakeside,o=Velmor");
  EXPECT_EQ(ParsePath("LDAP://EX1/cn=Sales\\/Europe,cn=Recipients,ou=Lakeside,o=Velmor").dn,
            "cn=Sales/Europe,cn=Recipients,ou=Lakeside,o=Velmor");
  // A DN read from an attribute holds the slash unescaped.
  EXPECT_EQ(ParsePath("LDAP://EX1/cn=Sales/Europe,cn=Recipients,ou=Lakeside,o=Velmor").dn,
            "cn=Sales/Europe,cn=Recipients,ou=Lakeside,o=Velmor");
  // A piece without "=" in a slash path continues the value before it.
  EXPECT_EQ(ParsePath("LDAP://EX1/o=Velmor/ou=Lakeside/cn=Recipients/cn=Sales/Europe").dn,
            "cn=Sales/Europe,cn=Recipients,ou=Lakeside,o=Velmor");
  // Nested containers stay two RDNs.
  EXPECT_EQ(ParsePath("LDAP://EX1/o=Velmor/ou=Lakeside/cn=Recipients/cn=Sales/cn=Europe").dn,
            "cn=Europe,cn=Sales,cn=Recipients,ou=Lakeside,o=Velmor");
  // Escaped commas, apostrophes and non-ASCII letters pass unchanged.
  EXPECT_EQ(ParsePath("LDAP://EX1/o=Velmor/cn=Smith\\, John").dn, "cn=Smith\\, John,o=Velmor");
  EXPECT_EQ(ParsePath("LDAP://EX1/o=Velmor/cn=Sean O'Neil/cn=Åse Ødegård").dn,
            "cn=Åse Ødegård,cn=Sean O'Neil,o=Velmor");
}

TEST(DirectoryPaths, UnparsablePathsAreRefusedBeforeAnyServer) {
  for (const char* p : {"", "LDAP:", "LDAP:/EX1", "ldap://EX1/o=Velmor", "GC://EX1", "LDAP:///o=Velmor",
                        "LDAP://EX 1/o=Velmor", "LDAP://EX1/o=Velmor/", "LDAP://EX1/o=Velmor//ou=x",
                        "LDAP://EX1/Velmor", "LDAP://EX1/o=Velmor,nonsense", "LDAP://EX1/o=Velmor\\",
                        "WINNT:"})
    ExpectBadPath(p);
  // Binding one goes through the same check.
  try {
    GetObject("LDAP://EX1/not a path");
    ADD_FAILURE();
  } catch (const ComError& e) {
    EXPECT_EQ(e.Number(), Hr(0x80005000));
  }
}

TEST(DirectoryPaths, NamesAndCacheKeys) {
  using namespace velmo::ads::detail;
  EXPECT_EQ(DisplayRdn("CN=Protocols"), "cn=Protocols");
  EXPECT_EQ(DisplayRdn("cn=Sales/Europe"), "cn=Sales\\/Europe");
  EXPECT_EQ(DisplayRdn("cn=Smith\\, John"), "cn=Smith\\, John");
  EXPECT_EQ(FirstRdn("cn=Smith\\, John,cn=Recipients,o=X"), "cn=Smith\\, John");
  EXPECT_EQ(ParentDn("cn=Smith\\, John,cn=Recipients,o=X"), "cn=Recipients,o=X");
  EXPECT_EQ(ParentDn("o=X"), "");
  EXPECT_EQ(EscapeSlash("cn=A/B,o=X"), "cn=A\\/B,o=X");
  // The same entry however the DN is spelled.
  EXPECT_EQ(NormalizeDn("CN=Protocols, CN=Configuration,OU=Lakeside,o=Velmor"),
            NormalizeDn("cn=protocols,cn=configuration,ou=lakeside,o=velmor"));
  EXPECT_EQ(NormalizeDn("cn=Smith\\2C John,o=X"), NormalizeDn("cn=Smith\\, John,o=X"));
  EXPECT_NE(NormalizeDn("cn=EX1,o=X"), NormalizeDn("cn=EX10,o=X"));
}

// A name as a person reads it: the server's escapes decoded, unless the
// result is not UTF-8 or holds a control character.
TEST(DirectoryPaths, NamesShownWithEscapesDecoded) {
  const std::pair<std::string, std::string> cases[] = {
      {"Odd Names \\22&\\3Cx\\3E", "Odd Names \"&<x>"},
      {"Smith\\2C John", "Smith, John"},
      {"Smith\\, John", "Smith, John"},
      {"Sales\\/Europe \\5C \\5c", "Sales/Europe \\ \\"},
      {"\\C3\\85l \\e2\\82\\ac \u00c5", "\u00c5l \u20ac \u00c5"},  // UTF-8 in hex pairs and as is
      {"Plain", "Plain"},
      {"Cut \\C3", "Cut \\C3"},            // not UTF-8: as written
      {"Line\\0ABreak", "Line\\0ABreak"},  // a control character
      {"Del\\7F", "Del\\7F"},
      {"C1 \\C2\\85", "C1 \\C2\\85"},
      {"Dangling\\", "Dangling\\"},
  };
  for (const auto& [written, shown] : cases) EXPECT_EQ(NameShown(written), shown) << written;
}

TEST(DirectoryHostMap, NamesMapWithoutRegardToCase) {
  test::TestHome home(false);
  std::filesystem::path hosts = home / "hosts.conf";
  {
    std::ofstream out(hosts);
    out << "# sample servers\n\nEX1 ldap://127.0.0.1:3890/\nex10   ldaps://mail.example:636\nBAD http://x\n"
        << "ONLYNAME\nEX3 ldap://127.0.0.1:3893 extra words\n";
  }
  test::UseSampleDirectory use(hosts);
  EXPECT_EQ(ServerUrl("EX1"), "ldap://127.0.0.1:3890");
  EXPECT_EQ(ServerUrl("ex1"), "ldap://127.0.0.1:3890");
  EXPECT_EQ(ServerUrl("EX10"), "ldaps://mail.example:636");
  EXPECT_EQ(ServerUrl("EX2"), "ldap://EX2:389");
  EXPECT_EQ(ServerUrl("BAD"), "ldap://BAD:389");
  EXPECT_EQ(ServerUrl("ONLYNAME"), "ldap://ONLYNAME:389");
  EXPECT_EQ(ServerUrl("EX2:1389"), "ldap://EX2:1389");
  EXPECT_EQ(ServerUrl("EX3"), "ldap://127.0.0.1:3893");  // still used, and logged

  // The lines that map nothing are logged, once for this version of the
  // file; so is a file that cannot be read.
  std::filesystem::create_directory(home / "folder.conf");
  {
    test::UseSampleDirectory folder(home / "folder.conf");
    EXPECT_EQ(ServerUrl("EX1"), "ldap://EX1:389");
  }
  std::vector<std::string> log;
  ReadLines(home / "VelmorcastErrorLog.log", log);
  const std::string context = "      Directory servers";
  const std::string bad = "' cannot be read: it is not a server name and an ldap:// or ldaps:// URL" + context;
  ASSERT_EQ(log.size(), 4u);
  EXPECT_TRUE(log[0].ends_with("      13      Line 5 of '" + hosts.string() + bad)) << log[0];
  EXPECT_TRUE(log[1].ends_with("Line 6 of '" + hosts.string() + bad)) << log[1];
  EXPECT_TRUE(log[2].ends_with("Line 7 of '" + hosts.string() +
                               "' cannot be read: it holds more than a server name and an ldap:// or ldaps:// "
                               "URL: 'extra'" + context)) << log[2];
  EXPECT_TRUE(log[3].ends_with((home / "folder.conf").string() + "' cannot be read: Is a directory" + context))
      << log[3];

  // A changed file is read again.
  {
    std::ofstream out(hosts);
    out << "EX2 ldap://127.0.0.1:4000\n";
  }
  EXPECT_EQ(ServerUrl("EX2"), "ldap://127.0.0.1:4000");
  EXPECT_EQ(ServerUrl("EX1"), "ldap://EX1:389");
}

// An option the connection relies on that cannot be set fails the connect,
// before any server is asked.
TEST(DirectoryConnect, AnOptionThatCannotBeSetFailsTheConnect) {
  ResetSessions();
  gRefusedOption = LDAP_OPT_NETWORK_TIMEOUT;
  std::string error = "bound";
  try {
    GetObject("LDAP://127.0.0.1:1/RootDSE");
  } catch (const ComError& e) {
    error = HexText(e.Number()) + " " + e.Description();
  }
  gRefusedOption = 0;
  EXPECT_EQ(error, "0x80004005 Local error (the connection option 'network timeout' could not be set)");
}

TEST(DirectoryHostMap, ApplicationFolderWhenNoVariable) {
  test::TestHome home(false);
  const char* old = std::getenv("VELMORCAST_LDAP_HOSTS");
  std::string saved = old ? old : "";
  ::unsetenv("VELMORCAST_LDAP_HOSTS");
  {
    std::ofstream out(home / "ldaphosts.conf");
    out << "EX1 ldap://127.0.0.1:5555\n";
  }
  EXPECT_EQ(ServerUrl("EX1"), "ldap://127.0.0.1:5555");
  if (old) ::setenv("VELMORCAST_LDAP_HOSTS", saved.c_str(), 1);
}

namespace {

class FakeDomain : public DirObject {
 public:
  explicit FakeDomain(std::string name) : name_(std::move(name)) {}
  std::string Name() const override { return name_; }
  std::string Class() const override { return "Domain"; }
  std::string Parent() const override { return "WinNT:"; }
  std::string ADsPath() const override { return "WinNT://" + name_; }
  void GetInfoEx(const std::vector<std::string>&, long) override {}
  void GetInfo() override {}
  DirValue Get(const std::string&) override { return {}; }
  DirValue GetEx(const std::string&) override { return {}; }
  void SetFilter(std::vector<std::string>) override {}
  std::vector<std::string> Filter() const override { return {}; }
  std::vector<DirObjectPtr> Children() override { return {}; }

 private:
  std::string name_;
};

}  // namespace

TEST(DirectoryWinNT, HookReceivesPathAndCredentials) {
  SetWinNTProvider({});
  try {
    GetObject("WinNT:");
    ADD_FAILURE();
  } catch (const ComError& e) {
    EXPECT_EQ(e.Number(), Hr(0x80005000));
  }

  std::string seenPath, seenUser, seenPassword;
  SetWinNTProvider([&](const std::string& path, const std::string& user, const std::string& password, long) {
    seenPath = path;
    seenUser = user;
    seenPassword = password;
    return std::make_shared<FakeDomain>("CORP");
  });
  EXPECT_EQ(GetObject("WinNT:")->Name(), "CORP");
  EXPECT_EQ(seenPath, "WinNT:");
  EXPECT_EQ(seenUser, "");
  OpenDSObject("WinNT://CORP", "CORP\\jsmith", "pw", 0);
  EXPECT_EQ(seenPath, "WinNT://CORP");
  EXPECT_EQ(seenUser, "CORP\\jsmith");
  EXPECT_EQ(seenPassword, "pw");
  SetWinNTProvider({});
}

namespace {

// An object of another provider: only Get, GetEx and Children.
class FakeList : public FakeDomain {
 public:
  FakeList() : FakeDomain("LIST") {}
  DirValue Get(const std::string& name) override {
    if (name == "there") return DirValue::FromText("yes");
    if (name == "broken") throw ComError(Hr(0x8007203A), "The server is not operational.");
    throw ComError(E_ADS_PROPERTY_NOT_FOUND, "The directory property cannot be found in the cache.");
  }
  DirValue GetEx(const std::string& name) override { return DirValue::FromList({Get(name)}); }
  std::vector<DirObjectPtr> Children() override {
    return {std::make_shared<FakeDomain>("A"), std::make_shared<FakeDomain>("B"), std::make_shared<FakeDomain>("C")};
  }
};

}  // namespace

TEST(DirectoryBase, TryGetAndForEachChildOfOtherProviders) {
  FakeList obj;
  DirValue v = DirValue::FromText("kept");
  EXPECT_FALSE(obj.TryGet("absent", v));
  EXPECT_FALSE(obj.Has("absent"));
  EXPECT_EQ(v.Text(), "kept");
  EXPECT_TRUE(obj.TryGet("there", v));
  EXPECT_EQ(v.Text(), "yes");
  EXPECT_TRUE(obj.TryGetEx("there", v));
  EXPECT_TRUE(v.IsList());
  // Only a missing attribute is "false"; other failures still throw.
  EXPECT_THROW(obj.TryGet("broken", v), ComError);
  EXPECT_THROW(obj.TryGetEx("broken", v), ComError);

  std::vector<std::string> names;
  obj.ForEachChild([&](DirObjectPtr child) {
    names.push_back(child->Name());
    return names.size() < 2;
  });
  EXPECT_EQ(names, (std::vector<std::string>{"A", "B"}));
}

TEST(DirectoryValue, SingleValuesReadAsListsOfOne) {
  DirValue text = DirValue::FromText("x");
  EXPECT_EQ(text.Texts(), std::vector<std::string>{"x"});
  EXPECT_EQ(text.Items().size(), 1u);
  DirValue list = DirValue::FromList({DirValue::FromText("a"), DirValue::FromBytes({0x01, 0x00})});
  EXPECT_EQ(list.Text(), "a");
  EXPECT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.Items()[1].Bytes(), (std::vector<uint8_t>{0x01, 0x00}));
  EXPECT_TRUE(DirValue().Texts().empty());
}
