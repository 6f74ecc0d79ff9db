// The directory layer against the sample organisation on the shared slapd.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <map>

#include "DateText.h"
#include "Directory.h"
#include "SampleDirectory.h"
#include "TestHome.h"

using namespace velmo;
using namespace velmo::ads;

namespace {

const std::string kLake = "ou=Lakeside,o=Velmor";
const std::string kRecipients = "cn=Recipients,ou=Lakeside,o=Velmor";
const std::string kAdmin = "dc=CORP,cn=Administrator";
const std::string kAdminSuffixed = "dc=CORP,cn=Administrator,cn=admin";

class Directory : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(test::UseSampleDirectory::Available()) << "the sample_ldap fixture did not run";
    ResetSessions();
    SetPageSize(1000);
  }
  void TearDown() override { SetPageSize(1000); }

  test::UseSampleDirectory use_;
};

// Runs `f`, expects a ComError with `number`, and returns its description.
template <class F>
std::string ExpectError(int32_t number, F&& f) {
  try {
    f();
    ADD_FAILURE() << "no error, expected " << HexText(number);
  } catch (const ComError& e) {
    EXPECT_EQ(HexText(e.Number()), HexText(number)) << e.Description();
    EXPECT_EQ(e.Description().find('_'), std::string::npos);
    EXPECT_EQ(e.Description().find("@@"), std::string::npos);
    return e.Description();
  }
  return {};
}

std::vector<std::string> Names(const std::vector<DirObjectPtr>& objects) {
  std::vector<std::string> out;
  for (const auto& o : objects) out.push_back(o->Name());
  return out;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

// The general date of a GeneralizedTime in UTC, as the layer must show it.
std::string LocalText(int y, int mo, int d, int h, int mi, int s) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  return GeneralDate(Clock::from_time_t(timegm(&tm)));
}

std::string SidText(const std::vector<uint8_t>& b, size_t at = 0) {
  std::string s = "S-" + std::to_string(b[at]) + "-";
  uint64_t authority = 0;
  for (int i = 0; i < 6; ++i) authority = authority * 256 + b[at + 2 + i];
  s += std::to_string(authority);
  for (int i = 0; i < b[at + 1]; ++i) {
    size_t p = at + 8 + 4 * i;
    uint32_t v = b[p] | b[p + 1] << 8 | b[p + 2] << 16 | static_cast<uint32_t>(b[p + 3]) << 24;
    s += "-" + std::to_string(v);
  }
  return s;
}

uint32_t U32(const std::vector<uint8_t>& b, size_t p) {
  return b[p] | b[p + 1] << 8 | b[p + 2] << 16 | static_cast<uint32_t>(b[p + 3]) << 24;
}
uint16_t U16(const std::vector<uint8_t>& b, size_t p) { return static_cast<uint16_t>(b[p] | b[p + 1] << 8); }

}  // namespace

// ---------------------------------------------------------------------------
// Paths, names, parents and classes

TEST_F(Directory, RootDseAndOrganisation) {
  auto root = GetObject("LDAP://EX1/RootDSE");
  auto contexts = root->GetEx("namingContexts").Texts();
  EXPECT_NE(std::find(contexts.begin(), contexts.end(), "o=Velmor"), contexts.end());

  // "LDAP://server" alone is the organisation, whatever other naming
  // contexts the server holds.
  auto org = GetObject("LDAP://EX1");
  EXPECT_EQ(org->Name(), "o=Velmor");
  EXPECT_EQ(org->Class(), "organization");
  org->GetInfoEx({"o"}, 0);
  EXPECT_EQ(org->Get("o").Text(), "Velmor");
  EXPECT_EQ(org->ADsPath(), "LDAP://EX1/o=Velmor");
}

TEST_F(Directory, SlashAndCommaPathsNameTheSameObject) {
  auto bySlash = GetObject("LDAP://EX1/o=Velmor/ou=Lakeside/cn=Configuration/cn=Servers/cn=EX1");
  EXPECT_EQ(bySlash->Name(), "cn=EX1");
  EXPECT_EQ(bySlash->Class(), "Computer");
  EXPECT_EQ(bySlash->Parent(), "LDAP://EX1/cn=Servers,cn=Configuration,ou=Lakeside,o=Velmor");
  EXPECT_EQ(bySlash->ADsPath(), "LDAP://EX1/cn=EX1,cn=Servers,cn=Configuration,ou=Lakeside,o=Velmor");

  // Upper-case types as the collector writes them; the name shows the
  // type in lower case and the parent as the server returns it.
  auto byComma = GetObject("LDAP://ex1/CN=Protocols,CN=EX1,CN=Servers,CN=Configuration,ou=Lakeside,o=Velmor");
  EXPECT_EQ(byComma->Name(), "cn=Protocols");
  EXPECT_EQ(byComma->Parent(), "LDAP://ex1/cn=EX1,cn=Servers,cn=Configuration,ou=Lakeside,o=Velmor");

  // The parent test of the container walker: the site's own configuration.
  auto config = GetObject("LDAP://EX1/o=Velmor/ou=Lakeside/cn=Configuration");
  EXPECT_EQ(config->Parent(), "LDAP://EX1/ou=Lakeside,o=Velmor");

  // A DN read from an attribute, appended to "LDAP://server/".
  auto jsmith = GetObject("LDAP://EX1/o=Velmor/ou=Lakeside/cn=Recipients/cn=John Smith");
  for (const auto& report : jsmith->GetEx("reports").Texts()) {
    auto r = GetObject("LDAP://EX1/" + report);
    EXPECT_EQ(r->Class(), "organizationalPerson") << report;
  }
}

TEST_F(Directory, NamesWithApostrophesSlashesAndOtherLetters) {
  auto sean = GetObject("LDAP://EX1/o=Velmor/ou=Lakeside/cn=Recipients/cn=Sean O'Neil");
  EXPECT_EQ(sean->Get("cn").Text(), "Sean O'Neil");
  auto ase = GetObject("LDAP://EX1/o=Velmor/ou=Lakeside/cn=Recipients/cn=Sales/cn=Europe/cn=Åse Ødegård");
  EXPECT_EQ(ase->Name(), "cn=Åse Ødegård");
  EXPECT_EQ(ase->Get("l").Text(), "Tromsø");

  // A public folder named "Sales/Europe": its name escapes the slash so
  // that appending it to the container's slash path binds it again.
  auto recipients = GetObject("LDAP://EX1/o=Velmor/ou=Lakeside/cn=Recipients");
  recipients->SetFilter({"public-folder"});
  auto folders = recipients->Children();
  auto names = Names(folders);
  ASSERT_NE(std::find(names.begin(), names.end(), "cn=Sales\\/Europe"), names.end());
  for (const auto& name : names) {
    auto folder = GetObject("LDAP://EX1/o=Velmor/ou=Lakeside/cn=Recipients/" + name);
    EXPECT_EQ(folder->Name(), name);
    EXPECT_EQ(folder->Class(), "public-folder");
  }
  auto salesEurope = GetObject("LDAP://EX1/cn=Sales\\/Europe," + kRecipients);
  EXPECT_EQ(salesEurope->Get("Folder-Pathname").Text(), "\\Sales/Europe");
  EXPECT_EQ(salesEurope->ADsPath(), "LDAP://EX1/cn=Sales\\/Europe," + kRecipients);
  EXPECT_EQ(GetObject(salesEurope->ADsPath())->Name(), "cn=Sales\\/Europe");
}

// ---------------------------------------------------------------------------
// Children and filters

TEST_F(Directory, SiteWalkInTheDirectoryOrder) {
  auto org = GetObject("LDAP://EX1");
  org->SetFilter({"organizationalUnit"});
  auto sites = org->Children();
  ASSERT_EQ(Names(sites), (std::vector<std::string>{"ou=Hilltop", "ou=Lakeside"}));
  for (const auto& s : sites) EXPECT_EQ(s->Class(), "organizationalUnit");

  // Walking by the children's names, as the set-up step does: Hilltop's
  // EX10 is met before Lakeside's EX1.
  std::vector<std::string> computers;
  for (const auto& site : sites) {
    auto config = GetObject("LDAP://EX1/o=Velmor/" + site->Name() + "/cn=Configuration/cn=Servers");
    config->SetFilter({"Computer"});
    for (const auto& c : config->Children()) computers.push_back(c->Name());
  }
  EXPECT_EQ(computers, (std::vector<std::string>{"cn=EX10", "cn=EX1", "cn=EX2"}));
}

TEST_F(Directory, FilterKeepsExactClassesOnly) {
  auto recipients = GetObject("LDAP://EX1/" + kRecipients);

  // The Mailbox-Agent derives from organizationalPerson without listing it:
  // the server would match it, the Filter must not.
  recipients->SetFilter({"organizationalPerson"});
  EXPECT_EQ(Sorted(Names(recipients->Children())),
            Sorted({"cn=Administrator", "cn=John Smith", "cn=Sean O'Neil", "cn=Peter Parker"}));
  EXPECT_EQ(recipients->Filter(), std::vector<std::string>{"organizationalPerson"});

  recipients->SetFilter({"REMOTE-ADDRESS"});  // class names compare without regard to case
  EXPECT_EQ(Sorted(Names(recipients->Children())), Sorted({"cn=Partner Contact", "cn=Legacy Contact"}));

  recipients->SetFilter({"Mailbox-Agent"});
  auto agents = recipients->Children();
  ASSERT_EQ(Names(agents), std::vector<std::string>{"cn=Directory Agent"});
  EXPECT_EQ(agents[0]->Class(), "Mailbox-Agent");

  recipients->SetFilter({"groupOfNames", "Container"});
  EXPECT_EQ(Sorted(Names(recipients->Children())), Sorted({"cn=All Staff", "cn=Sales Team", "cn=Empty List",
                                                           "cn=Sales"}));

  recipients->SetFilter({"No-Such-Class"});
  EXPECT_TRUE(recipients->Children().empty());

  // No filter: every child, the same order every time.
  recipients->SetFilter({});
  auto all = Names(recipients->Children());
  EXPECT_EQ(all.size(), 15u);  // the restricted container is hidden from anonymous users
  EXPECT_EQ(Names(recipients->Children()), all);
}

TEST_F(Directory, PagedEnumerationGetsEveryEntry) {
  auto recipients = GetObject("LDAP://EX1/" + kRecipients);
  auto inOnePage = Names(recipients->Children());

  SetPageSize(3);
  ResetStats();
  auto paged = Names(recipients->Children());
  EXPECT_EQ(paged, inOnePage);
  EXPECT_EQ(Stats().searches, 1);
  EXPECT_GE(Stats().pages, static_cast<long long>(inOnePage.size() / 3));
}

// ---------------------------------------------------------------------------
// Values

TEST_F(Directory, TextsAndLists) {
  auto jsmith = GetObject("LDAP://EX1/o=Velmor/ou=Lakeside/cn=Recipients/cn=John Smith");
  jsmith->GetInfoEx({"cn", "uid", "Home-MDB"}, 0);
  EXPECT_EQ(jsmith->Get("cn").Text(), "John Smith");
  EXPECT_TRUE(jsmith->Get("cn").IsText());
  EXPECT_EQ(jsmith->Get("UID").Text(), "jsmith");  // names compare without regard to case
  EXPECT_EQ(jsmith->Get("Home-MDB").Text(),
            "cn=Microsoft Private MDB,cn=EX1,cn=Servers,cn=Configuration,ou=Lakeside,o=Velmor");
  // Values keep their blanks; long values their length.
  EXPECT_EQ(jsmith->Get("telephoneNumber").Text(), "  +47 555 0101  ");
  EXPECT_GT(jsmith->Get("info").Text().size(), 255u);
  auto recipients = GetObject("LDAP://EX1/" + kRecipients);
  EXPECT_GT(recipients->Get("Admin-Description").Text().size(), 255u);

  // Several values come as a list; GetEx gives a list for one value too.
  DirValue reports = jsmith->Get("reports");
  ASSERT_TRUE(reports.IsList());
  EXPECT_EQ(reports.Count(), 3u);
  EXPECT_EQ(reports.Texts()[1], "cn=Maria Müller,cn=Sales," + kRecipients);
  DirValue cn = jsmith->GetEx("cn");
  ASSERT_TRUE(cn.IsList());
  EXPECT_EQ(cn.Texts(), std::vector<std::string>{"John Smith"});

  // "§"-separated values, in the directory's order.
  auto imap = GetObject("LDAP://EX1/CN=IMAP4,CN=Protocols,CN=Configuration," + kLake);
  EXPECT_EQ(imap->GetEx("Enabled-Authorization-Packages").Texts(),
            (std::vector<std::string>{"1§NTLM", "0§CLEARTEXT"}));
  // A multi-valued attribute holding one value reads as that value.
  auto imc = GetObject("LDAP://EX1/o=Velmor/ou=Lakeside/cn=Configuration/cn=Connections/"
                       "cn=Internet Mail Connector (EX1)");
  EXPECT_TRUE(imc->Get("Routing-List").IsText());
  EXPECT_EQ(imc->Get("Routing-List").Text(), "SMTP:*;1");
}

TEST_F(Directory, BooleansNumbersAndTimes) {
  auto jsmith = GetObject("LDAP://EX1/cn=John Smith," + kRecipients);
  jsmith->GetInfoEx({"Hide-From-Address-Book", "MAPI-Recipient", "deliv-Cont-Length", "createTimestamp"}, 0);
  EXPECT_EQ(jsmith->Get("Hide-From-Address-Book").Text(), "False");
  EXPECT_EQ(jsmith->Get("MAPI-Recipient").Text(), "True");
  EXPECT_EQ(jsmith->Get("deliv-Cont-Length").Text(), "2048");
  EXPECT_EQ(jsmith->Get("Garbage-Coll-Period").Text(), "604800");

  // createTimestamp: the sample's first entry was made at 09:00:01 UTC on
  // 15 March 1999; it reads as local time in the general date form.
  auto org = GetObject("LDAP://EX1");
  EXPECT_EQ(org->Get("createTimestamp").Text(), LocalText(1999, 3, 15, 9, 0, 1));

  // An operational attribute outside the usual set is read on demand.
  auto recipients = GetObject("LDAP://EX1/" + kRecipients);
  EXPECT_EQ(recipients->Get("hasSubordinates").Text(), "True");
}

TEST_F(Directory, SecurityDescriptorsAndSidsAreBytes) {
  auto jsmith = GetObject("LDAP://EX1/cn=John Smith," + kRecipients);
  jsmith->GetInfoEx({"NT-Security-Descriptor;binary"}, 0);
  DirValue sdValue = jsmith->Get("NT-Security-Descriptor");
  ASSERT_TRUE(sdValue.IsBytes());
  std::vector<uint8_t> sd = sdValue.Bytes();
  ASSERT_GE(sd.size(), 20u);
  EXPECT_EQ(sd[0], 1);                       // revision
  EXPECT_EQ(U16(sd, 2) & 0x8004, 0x8004);    // self-relative, DACL present
  EXPECT_EQ(SidText(sd, U32(sd, 4)), "S-1-5-32-544");
  size_t dacl = U32(sd, 16);
  ASSERT_LT(dacl + 8, sd.size());
  uint16_t aces = U16(sd, dacl + 4);
  EXPECT_GE(aces, 5);
  bool objectAce = false;
  size_t p = dacl + 8;
  for (int i = 0; i < aces; ++i) {
    if (sd[p] == 5) objectAce = true;
    p += U16(sd, p + 2);
  }
  EXPECT_TRUE(objectAce);
  EXPECT_EQ(p, dacl + U16(sd, dacl + 2));
  // The first entry grants the mailbox's own account the "User" mask.
  EXPECT_EQ(U32(sd, dacl + 12), 0x1Au);
  EXPECT_EQ(SidText(sd, dacl + 16), "S-1-5-21-1004336348-1177238915-682003330-1106");

  DirValue sid = jsmith->Get("Assoc-NT-Account");
  ASSERT_TRUE(sid.IsBytes());
  EXPECT_EQ(SidText(sid.Bytes()), "S-1-5-21-1004336348-1177238915-682003330-1106");

  // ";binary" also turns a text attribute into bytes.
  DirValue cnBytes = jsmith->Get("cn;binary");
  ASSERT_TRUE(cnBytes.IsBytes());
  EXPECT_EQ(cnBytes.Text(), "John Smith");
}

TEST_F(Directory, AbsentAttributes) {
  auto admin = GetObject("LDAP://EX1/cn=Administrator," + kRecipients);
  admin->GetInfoEx({"manager", "Alt-Recipient", "No-Such-Attribute"}, 0);  // absent: no error here
  EXPECT_EQ(ExpectError(Hr(0x8000500D), [&] { admin->Get("manager"); }),
            "The directory property cannot be found in the cache.");
  ExpectError(Hr(0x8000500D), [&] { admin->GetEx("Alt-Recipient"); });
  ExpectError(Hr(0x8000500D), [&] { admin->Get("No-Such-Attribute"); });
  // The sample leaves out what the collector has defaults for.
  auto emptyList = GetObject("LDAP://EX1/cn=Empty List," + kRecipients);
  ExpectError(Hr(0x8000500D), [&] { emptyList->Get("member"); });
  ExpectError(Hr(0x8000500D), [&] { emptyList->Get("NT-Security-Descriptor"); });
}

TEST_F(Directory, TryGetAnswersWhatGetWouldWithoutThrowing) {
  auto admin = GetObject("LDAP://EX1/cn=Administrator," + kRecipients);
  DirValue out = DirValue::FromText("untouched");
  // Absent: false, the value left as it was, whether or not the name was
  // loaded first, and whatever the case of the name.
  EXPECT_FALSE(admin->TryGet("manager", out));
  admin->GetInfoEx({"Alt-Recipient"}, 0);
  EXPECT_FALSE(admin->TryGetEx("ALT-RECIPIENT", out));
  EXPECT_FALSE(admin->Has("No-Such-Attribute"));
  EXPECT_EQ(out.Text(), "untouched");

  // Present: the same value Get and GetEx give, conversions included.
  for (const char* name : {"cn", "uid", "objectClass", "createTimestamp", "NT-Security-Descriptor"}) {
    DirValue one, all;
    ASSERT_TRUE(admin->TryGet(name, one)) << name;
    ASSERT_TRUE(admin->TryGetEx(name, all)) << name;
    EXPECT_EQ(one.kind(), admin->Get(name).kind()) << name;
    EXPECT_EQ(one.Texts(), admin->Get(name).Texts()) << name;
    EXPECT_EQ(one.Bytes(), admin->Get(name).Bytes()) << name;
    EXPECT_TRUE(all.IsList()) << name;
    EXPECT_EQ(all.Texts(), admin->GetEx(name).Texts()) << name;
  }
  // A name the first read did not cover is fetched, as Get would.
  EXPECT_TRUE(admin->Has("entryUUID"));
}

TEST_F(Directory, ForEachChildVisitsEveryPageInOrder) {
  auto recipients = GetObject("LDAP://EX1/" + kRecipients);
  auto listed = Names(recipients->Children());

  SetPageSize(3);
  ResetStats();
  std::vector<std::string> visited;
  recipients->ForEachChild([&](DirObjectPtr child) {
    visited.push_back(child->Name());
    EXPECT_FALSE(child->Get("objectClass").Texts().empty());  // arrives with its attributes
    return true;
  });
  EXPECT_EQ(visited, listed);
  EXPECT_EQ(Stats().searches, 1);
  EXPECT_GE(Stats().pages, static_cast<long long>(listed.size() / 3));

  // The filter is honoured exactly, as by Children.
  recipients->SetFilter({"organizationalPerson"});
  visited.clear();
  recipients->ForEachChild([&](DirObjectPtr child) {
    visited.push_back(child->Name());
    return true;
  });
  EXPECT_EQ(visited, Names(recipients->Children()));
  EXPECT_EQ(visited.size(), 4u);

  // Stopping early asks for nothing beyond the page asked for ahead, and
  // abandons that one: the session's next walk and read are undisturbed.
  recipients->SetFilter({});
  ResetStats();
  visited.clear();
  recipients->ForEachChild([&](DirObjectPtr child) {
    visited.push_back(child->Name());
    return visited.size() < 2;
  });
  EXPECT_EQ(visited, std::vector<std::string>(listed.begin(), listed.begin() + 2));
  EXPECT_EQ(Stats().pages, 2);
  visited.clear();
  recipients->ForEachChild([&](DirObjectPtr child) {
    visited.push_back(child->Name());
    // A read on the session while the page after this one is on its way.
    EXPECT_TRUE(GetObject("LDAP://EX1/cn=Administrator," + kRecipients)->Has("entryUUID"));
    return true;
  });
  EXPECT_EQ(visited, listed);

  // An error of the visitor leaves the walk and reaches the caller.
  EXPECT_THROW(recipients->ForEachChild([](DirObjectPtr) -> bool { throw ComError(Hr(0x80004005), "x"); }),
               ComError);
}

TEST_F(Directory, ForEachChildServesBindsOfThePageBeingVisited) {
  const std::string container = "LDAP://EX1/o=Velmor/ou=Lakeside/cn=Recipients";
  auto recipients = OpenDSObject(container, kAdminSuffixed, "secret", 0);
  recipients->SetFilter({"organizationalPerson"});
  recipients->Get("cn");  // the first read of a server also learns its schema
  auto site = OpenDSObject("LDAP://EX1/o=Velmor/ou=Lakeside", kAdminSuffixed, "secret", 0);
  site->Children();
  SetPageSize(2);
  ResetStats();
  int visits = 0;
  recipients->ForEachChild([&](DirObjectPtr child) {
    ++visits;
    const auto pages = Stats().pages;
    auto bound = OpenDSObject(container + "/" + child->Name(), kAdminSuffixed, "secret", 0);
    bound->GetInfoEx({"cn", "uid", "Home-MDB"}, 0);
    EXPECT_EQ(bound->Get("uid").Text(), child->Get("uid").Text());
    // A nested listing of another container does not push the page out.
    if (visits == 1) site->Children();
    auto again = OpenDSObject(container + "/" + child->Name(), kAdminSuffixed, "secret", 0);
    EXPECT_EQ(again->Name(), child->Name());
    EXPECT_EQ(Stats().pages, pages + (visits == 1 ? 1 : 0));
    return true;
  });
  EXPECT_EQ(visits, 4);
  EXPECT_EQ(Stats().cacheHits, 8);

  // Finished pages are not kept: binding a child afterwards reads it.
  ResetStats();
  OpenDSObject(container + "/cn=John Smith", kAdminSuffixed, "secret", 0);
  EXPECT_EQ(Stats().cacheHits, 0);
  EXPECT_EQ(Stats().pages, 1);
}

// ---------------------------------------------------------------------------
// Binds and errors

TEST_F(Directory, ConnectAsInBothForms) {
  const std::string restricted = "LDAP://EX1/o=Velmor/ou=Lakeside/cn=Recipients/cn=Restricted";
  for (const std::string& user : {kAdmin, kAdminSuffixed}) {
    auto c = OpenDSObject(restricted, user, "secret", 0);
    EXPECT_EQ(c->Get("cn").Text(), "Restricted") << user;
    EXPECT_EQ(Names(c->Children()), std::vector<std::string>{"cn=Board Advisor"});
  }
  auto j = OpenDSObject("LDAP://EX1/RootDSE", "dc=CORP,cn=jsmith", "jsmith-pw", 0);
  EXPECT_FALSE(j->GetEx("namingContexts").Texts().empty());

  // Anonymous users are refused the restricted container and do not see
  // it among the site's containers.
  EXPECT_EQ(ExpectError(Hr(0x80070005), [&] { GetObject(restricted); }), "Access is denied.");
  auto recipients = GetObject("LDAP://EX1/" + kRecipients);
  recipients->SetFilter({"Container"});
  EXPECT_EQ(Names(recipients->Children()), std::vector<std::string>{"cn=Sales"});
  auto asAdmin = OpenDSObject("LDAP://EX1/" + kRecipients, kAdminSuffixed, "secret", 0);
  asAdmin->SetFilter({"Container"});
  EXPECT_EQ(Sorted(Names(asAdmin->Children())), Sorted({"cn=Sales", "cn=Restricted"}));

  // An empty user is the current logon, whatever password comes with it.
  EXPECT_THROW(OpenDSObject(restricted, "", "secret", 0), ComError);
}

TEST_F(Directory, BindFailuresCarryTheirNumbers) {
  EXPECT_EQ(ExpectError(Hr(0x8007052E), [] { OpenDSObject("LDAP://EX1", kAdmin, "wrong", 0); }),
            "Logon failure: unknown user name or bad password.");
  ExpectError(Hr(0x8007052E), [] { OpenDSObject("LDAP://EX1", "dc=CORP,cn=nobody", "x", 0); });
  // The server's own text follows the description.
  EXPECT_EQ(ExpectError(Hr(0x80070056), [] { OpenDSObject("LDAP://EX1", kAdmin, "", 0); }),
            "The specified network password is not correct. (unauthenticated bind (DN with no password) "
            "disallowed)");
  EXPECT_EQ(ExpectError(Hr(0x80072030), [] { GetObject("LDAP://EX1/cn=Nobody," + kRecipients); }),
            "There is no such object on the server.");
  ExpectError(Hr(0x80072030), [] { GetObject("LDAP://EX1/o=Elsewhere"); });
  // A wrong password is not cached as a session: the right one still works.
  EXPECT_NO_THROW(OpenDSObject("LDAP://EX1", kAdmin, "secret", 0));
}

TEST_F(Directory, UnreachableServers) {
  test::TestHome home(false);
  std::filesystem::path hosts = home / "hosts.conf";
  {
    std::ifstream in(test::SampleHostsFile());
    std::ofstream out(hosts);
    out << in.rdbuf() << "DOWN ldap://127.0.0.1:1\n";
  }
  test::UseSampleDirectory use(hosts);
  EXPECT_EQ(ExpectError(Hr(0x8007203A), [] { GetObject("LDAP://DOWN/RootDSE"); }), "The server is not operational.");
  ExpectError(Hr(0x8007203A), [] { OpenDSObject("LDAP://DOWN", kAdmin, "secret", 0); });
  ExpectError(Hr(0x8007203A), [] { GetObject("LDAP://nosuchhost.invalid/RootDSE"); });
  // The mapped servers still answer.
  EXPECT_EQ(GetObject("LDAP://EX10")->Name(), "o=Velmor");
}

// ---------------------------------------------------------------------------
// Sessions and the entries of the latest enumeration

TEST_F(Directory, ChildrenBoundByPathCostNoRoundTrip) {
  const std::string container = "LDAP://EX1/o=Velmor/ou=Lakeside/cn=Recipients";
  auto recipients = OpenDSObject(container, kAdminSuffixed, "secret", 0);
  recipients->SetFilter({"organizationalPerson"});
  recipients->Get("cn");  // the first read of a server also learns its schema
  recipients->Children();
  GetObject(container);
  ResetStats();
  auto children = recipients->Children();
  ASSERT_EQ(children.size(), 4u);
  EXPECT_EQ(Stats().pages, 1);

  for (const auto& child : children) {
    auto bound = OpenDSObject(container + "/" + child->Name(), kAdminSuffixed, "secret", 0);
    bound->GetInfoEx({"cn", "uid", "Home-MDB"}, 0);
    EXPECT_EQ(bound->Get("uid").Text(), child->Get("uid").Text());
    EXPECT_EQ(bound->Name(), child->Name());
  }
  EXPECT_EQ(Stats().pages, 1);
  EXPECT_EQ(Stats().cacheHits, 4);
  EXPECT_EQ(Stats().connects, 0);

  // Other credentials are another session, with its own reads.
  auto anon = GetObject(container + "/cn=John Smith");
  EXPECT_EQ(anon->Get("cn").Text(), "John Smith");
  EXPECT_EQ(Stats().cacheHits, 4);
  EXPECT_EQ(Stats().connects, 0);

  // An object not among the children costs one base read.
  ResetStats();
  auto sales = OpenDSObject(container + "/cn=Sales", kAdminSuffixed, "secret", 0);
  sales->GetInfoEx({"cn", "Admin-Display-Name"}, 0);
  sales->Get("cn");
  EXPECT_EQ(Stats().pages, 1);
  EXPECT_EQ(Stats().cacheHits, 0);
}

TEST_F(Directory, OneSessionPerServerAndCredentials) {
  ResetStats();
  GetObject("LDAP://EX1/RootDSE");
  GetObject("LDAP://EX1/" + kRecipients);
  GetObject("LDAP://ex1/" + kLake);  // the host map takes names without regard to case
  GetObject("LDAP://EX10");          // the sample maps every server to one URL
  EXPECT_EQ(Stats().connects, 1);
  OpenDSObject("LDAP://EX1", kAdmin, "secret", 0);
  OpenDSObject("LDAP://EX2", kAdmin, "secret", 0);
  EXPECT_EQ(Stats().connects, 2);

  // The host map is looked at by the first bind of an operation (nothing
  // bound is alive), not by the binds made while it holds objects.
  EXPECT_EQ(Stats().hostMapChecks, 6);
  ResetStats();
  auto held = GetObject("LDAP://EX1/" + kRecipients);
  for (const char* child : {"cn=Sales", "cn=John Smith", "cn=Sales/cn=Europe"})
    OpenDSObject("LDAP://EX1/o=Velmor/ou=Lakeside/cn=Recipients/" + std::string(child), kAdmin, "secret", 0);
  EXPECT_EQ(Stats().hostMapChecks, 1);
}

// ---------------------------------------------------------------------------
// The sample agrees with sample/ORGANISATION.md

namespace {

struct Found {
  std::string display, home, account;
};

void CollectMailboxes(const std::string& path, std::map<std::string, Found>& out) {
  auto container = OpenDSObject(path, kAdminSuffixed, "secret", 0);
  container->SetFilter({"organizationalPerson"});
  for (const auto& m : container->Children()) {
    Found f;
    f.display = m->Get("cn").Text();
    try {
      std::string home = m->Get("Home-MDB").Text();  // cn=Microsoft Private MDB,cn=EXn,...
      f.home = home.substr(home.find(",cn=") + 4);
      f.home = f.home.substr(0, f.home.find(','));
    } catch (const ComError&) {
    }
    try {
      std::string sid = SidText(m->Get("Assoc-NT-Account").Bytes());
      f.account = sid.substr(sid.rfind('-') + 1);
    } catch (const ComError&) {
    }
    out[m->Get("uid").Text()] = f;
  }
  container->SetFilter({"Container"});
  for (const auto& c : container->Children()) CollectMailboxes(path + "/" + c->Name(), out);
}

}  // namespace

TEST_F(Directory, SampleAgreesWithTheSheet) {
  std::map<std::string, Found> mailboxes;
  CollectMailboxes("LDAP://EX1/o=Velmor/ou=Lakeside", mailboxes);
  CollectMailboxes("LDAP://EX1/o=Velmor/ou=Hilltop", mailboxes);
  const std::map<std::string, Found> sheet = {
      {"admin", {"Administrator", "EX1", "500"}},     {"jsmith", {"John Smith", "EX1", "1106"}},
      {"soneil", {"Sean O'Neil", "EX1", "1107"}},     {"mmuller", {"Maria Müller", "EX1", "1108"}},
      {"aodegard", {"Åse Ødegård", "EX2", "1109"}},   {"pparker", {"Peter Parker", "EX2", "1110"}},
      {"hhill", {"Hanna Hill", "EX10", "1111"}},      {"rstone", {"Rob Stone", "EX10", "1112"}},
      {"unassigned", {"Unassigned Mailbox", "", ""}},
  };
  ASSERT_EQ(mailboxes.size(), sheet.size());
  for (const auto& [alias, want] : sheet) {
    ASSERT_TRUE(mailboxes.count(alias)) << alias;
    const Found& got = mailboxes[alias];
    EXPECT_EQ(got.display, want.display) << alias;
    EXPECT_EQ(got.home, want.home) << alias;
    EXPECT_EQ(got.account, want.account) << alias;
  }

  // Public folders, and the stores: EX2 has no public store.
  std::vector<std::string> folders;
  for (const std::string site : {"ou=Lakeside", "ou=Hilltop"}) {
    auto r = GetObject("LDAP://EX1/o=Velmor/" + site + "/cn=Recipients");
    r->SetFilter({"public-folder"});
    for (const auto& f : r->Children()) folders.push_back(f->Get("Folder-Pathname").Text());
  }
  EXPECT_EQ(Sorted(folders), Sorted({"\\Marketing", "\\Support", "\\Sales/Europe", "\\Support\\FAQ", "\\Projects"}));
  for (const std::string server : {"EX1", "EX2"}) {
    auto s = GetObject("LDAP://EX1/o=Velmor/ou=Lakeside/cn=Configuration/cn=Servers/cn=" + server);
    EXPECT_EQ(Names(s->Children()).size(), server == "EX1" ? 5u : 4u) << server;
  }
}
