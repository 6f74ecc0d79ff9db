// The "Server Recipients" walk over a site's recipient containers, the site
// of each server, Connect As credentials, and the trace lines.
#include <algorithm>
#include <fstream>

#include "SampleKit.h"

using namespace collector_test;

namespace {

class Walk : public SampleTest {
 protected:
  std::string WalkSite(const std::string& server, const std::string& user = "", const std::string& password = "") {
    auto c = kit_.NewCollector();
    std::string err = "untouched";
    c->GetMailboxInfo(0, server, user, password, "o=Velmor/ou=Any/Server Recipients", &err);
    return err;
  }
  long Count(const std::string& context) {
    auto lines = kit_.LogLines();
    return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return Kit::Context(l) == context; });
  }
};

}  // namespace

TEST_F(Walk, EveryRecipientContainerOfTheServersOwnSite) {
  EXPECT_EQ(WalkSite("EX1"), "untouched");
  auto rows = kit_.Rows("MailboxGeneral");
  EXPECT_EQ(Column(rows, 2), (std::vector<std::string>{"Administrator", "John Smith", "Sean O'Neil", "Peter Parker",
                                                       "Maria Müller", "Åse Ødegård"}));
  // Parents before children; the site's configuration is never entered.
  EXPECT_EQ(Column(rows, 1), (std::vector<std::string>{kLakeRecipients, kLakeRecipients, kLakeRecipients,
                                                       kLakeRecipients, kLakeRecipients + "/cn=Sales",
                                                       kLakeRecipients + "/cn=Sales/cn=Europe"}));
  EXPECT_EQ(Count("GetMailboxCustomRecipInfo Start"), 3);
}

TEST_F(Walk, EX10IsNotTakenForEX1AndNamesMatchWithoutCase) {
  // EX10's site is listed first; EX1 must still find its own.
  EXPECT_EQ(WalkSite("EX10"), "untouched");
  auto rows = kit_.Rows("MailboxGeneral");
  EXPECT_EQ(Column(rows, 2), (std::vector<std::string>{"Hanna Hill", "Rob Stone", "Unassigned Mailbox"}));
  // A configuration container that is not the site's own is walked too.
  EXPECT_EQ(Count("GetMailboxCustomRecipInfo Start"), 3);

  EXPECT_EQ(WalkSite("ex1"), "untouched");
  auto lower = kit_.Rows("MailboxGeneral", "ServerName = 'ex1'");
  ASSERT_EQ(lower.size(), 6u);
  EXPECT_EQ(lower[0][1].Text(), kLakeRecipients);
}

TEST_F(Walk, CredentialsReachWhatAnonymousUsersCannotRead) {
  const std::string restricted = kLakeRecipients + "/cn=Restricted";
  auto c = kit_.NewCollector();
  std::string err;
  c->GetCustomRecipInfo(0, "EX1", "", "", restricted, &err);
  EXPECT_EQ(err.rfind("Recipients Container@@ ", 0), 0u) << err;
  EXPECT_EQ(err.find('_'), std::string::npos);
  EXPECT_TRUE(kit_.Rows("CRGeneral").empty());

  c->GetCustomRecipInfo(0, "EX1", "dc=CORP,cn=jsmith", "jsmith-pw", restricted, &err);
  EXPECT_EQ(err, "");
  auto rows = kit_.Rows("CRGeneral");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(Slice(rows[0], 1, 5),
            (std::vector<std::string>{restricted, "Board Advisor", "advisor", "SMTP:advisor@board.example"}));

  // The trace shows the user as given at the start and as bound at the end;
  // the password never.
  auto lines = kit_.LogLines();
  std::vector<std::string> traced;
  for (const auto& l : lines) {
    EXPECT_EQ(l.find("jsmith-pw"), std::string::npos) << l;
    auto f = Kit::Fields(l);
    if (f[1] == "Parameters") traced.push_back(f[3] + " | " + f[2]);
  }
  std::vector<std::string> last(traced.end() - 4, traced.end());
  EXPECT_EQ(last, (std::vector<std::string>{"GetMailboxCustomRecipInfo Start | CR-0-EX1-dc=CORP,cn=jsmith-",
                                            "InitializeVariables Start | EX1-dc=CORP,cn=jsmith-",
                                            "InitializeVariables End | EX1-dc=CORP,cn=jsmith-",
                                            "GetMailboxCustomRecipInfo End | CR-0-EX1-dc=CORP,cn=jsmith,cn=admin-"}));
}

// Calls made one collection: a server that does not answer cuts it at the
// first call, which logs one line and shows no box (its caller tells the
// cut); a later call logs nothing and hands the failure back, and a second
// collector tries the server again. A refused account is no lost server:
// each call asks again and tells it.
TEST_F(Walk, AServerNotReachedCutsACollectionAndARefusedAccountDoesNot) {
  const auto hosts = kit_.home().dir() / "hosts.conf";
  std::ofstream(hosts) << velmo::test::TestHome::Slurp(velmo::test::SampleHostsFile())
                       << "NOWHERE ldap://127.0.0.1:1\n";
  velmo::test::UseSampleDirectory use(hosts);
  struct Case {
    const char *server, *user, *password;
    bool cut;
    long lines;  // besides the trace lines
    size_t boxes;
    std::string second;  // what the second call hands back
  } cases[] = {{"NOWHERE", "", "", true, 1, 0, "Recipients Container@@ -2147016646  @@   The server is not operational."},
               {"EX1", "dc=CORP,cn=jsmith", "wrong", false, 4, 2, ""}};
  for (const Case& c : cases) {
    for (int object = 1; object <= 2; ++object) {
      SCOPED_TRACE(std::string(c.server) + ", collector " + std::to_string(object));
      const auto before = kit_.LogLines().size();
      kit_.ui().clear();
      auto collector = kit_.NewCollector();
      auto outcome = std::dynamic_pointer_cast<_Exch55InfoOutcome>(collector);
      ASSERT_TRUE(outcome);
      outcome->BeginCollection();
      std::string first = "untouched", second = "untouched";
      collector->GetServerInfo(c.server, c.user, c.password, &first);
      collector->GetMailboxInfo(0, c.server, c.user, c.password, kLakeRecipients, &second);
      const auto lines = kit_.LogLines();
      EXPECT_EQ(std::count_if(lines.begin() + static_cast<long>(before), lines.end(),
                              [](const std::string& l) { return Kit::Fields(l)[1] != "Parameters"; }),
                c.lines);
      EXPECT_EQ(kit_.ui().shown().size(), c.boxes);
      EXPECT_EQ(first, "");
      EXPECT_EQ(second, c.second);
      int32_t number = 0;
      std::string why;
      EXPECT_EQ(outcome->CollectionCut(number, why), c.cut);
    }
  }
}

TEST_F(Walk, AWrongPasswordIsExplainedOnce) {
  auto c = kit_.NewCollector();
  std::string err;
  c->GetMailboxInfo(0, "EX1", "dc=CORP,cn=jsmith", "wrong", kLakeRecipients, &err);
  EXPECT_EQ(err, "");
  auto shown = kit_.ui().shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].prompt.rfind("Error occured while binding to the server 'EX1' : \r\n-2147023570\r\n", 0), 0u)
      << shown[0].prompt;
  const std::string hint =
      "\r\n\r\nPlease ensure Anonymous Access is enabled or the currently logged on user/supplied credential is "
      "visible in that exchange server.";
  EXPECT_EQ(shown[0].prompt.substr(shown[0].prompt.size() - hint.size()), hint);
  EXPECT_TRUE(kit_.Rows("MailboxGeneral").empty());
}

TEST_F(Walk, DatabaseFailuresAreToldThroughTheSeamAndNeverHoldAnUnattendedRun) {
  std::filesystem::remove(kit_.home().dir() / "velmo.mdb");
  auto c = kit_.NewCollector();
  std::string err;
  c->GetMailboxInfo(0, "EX1", "", "", kLakeRecipients, &err);
  EXPECT_EQ(err, "");
  auto shown = kit_.ui().shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].prompt.rfind("Error occured while opening database : \r\n", 0), 0u) << shown[0].prompt;
  EXPECT_EQ(shown[1].prompt.rfind("Error occured while opening table : \r\n", 0), 0u) << shown[1].prompt;
  EXPECT_EQ(shown[0].buttons, velmo::ui::vbInformation);
  EXPECT_EQ(Count("OpenDBConnection"), 1);
  EXPECT_EQ(Count("OpenRecordset"), 1);

  std::vector<std::string> sunk;
  auto previous = velmo::ui::SetUi(
      std::make_shared<velmo::ui::UnattendedUi>([&](const std::string& what) { sunk.push_back(what); }));
  c->GetMailboxInfo(0, "EX1", "", "", kLakeRecipients, &err);
  velmo::ui::SetUi(previous);
  EXPECT_EQ(sunk.size(), 2u);
  EXPECT_EQ(Count("GetMailboxCustomRecipInfo End"), 2);
}

TEST_F(Walk, AMissingContainerGivesOneItemAndOneLine) {
  auto c = kit_.NewCollector();
  std::string err;
  c->GetMailboxInfo(0, "EX1", "", "", "o=Velmor/ou=Lakeside/cn=Nowhere", &err);
  EXPECT_EQ(err, "Recipients Container@@ -2147016656  @@   There is no such object on the server.");
  auto lines = kit_.LogLines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(Kit::Context(lines[3]),
            "Binding to Recipients Container 'LDAP://EX1/o=Velmor/ou=Lakeside/cn=Nowhere' using credential ''");
  EXPECT_EQ(Kit::Fields(lines[3])[1], "-2147016656");
}
