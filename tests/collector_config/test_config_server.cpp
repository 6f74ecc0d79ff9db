// One server's objects and its site's containers: the System Attendant's
// address rows, the MTA's row and diagnostics, the containers in their
// levels and order with the recipient containers, credentials, and the
// items of each bind failure.
#include <regex>

#include "ConfigKit.h"

using namespace config_test;

namespace {

std::string ServerPath(const std::string& site, const std::string& server) {
  return "o=Velmor/ou=" + site + "/cn=Configuration/cn=Servers/cn=" + server;
}

class ServerInfo : public SampleTest {
 protected:
  std::string Collect(const std::string& server, const std::string& user = "", const std::string& password = "") {
    std::string err = "not touched";
    kit_.NewCollector()->GetServerInfo(server, user, password, &err);
    return err;
  }
  // Object path, level text and directory name of every ContainerInfo row.
  std::vector<Texts> Containers() {
    std::vector<Texts> out;
    for (const auto& r : kit_.Rows("ContainerInfo")) out.push_back({r[1].Text(), r[2].Text(), r[4].Text()});
    return out;
  }
};

bool IsDate(const std::string& text) {
  return std::regex_match(text, std::regex(R"(\d{1,2}/\d{1,2}/1999 \d{1,2}:\d\d:\d\d (AM|PM))"));
}

}  // namespace

TEST_F(ServerInfo, SystemAttendantRowPerAddressThenTheMta) {
  EXPECT_EQ(Collect("EX1"), "___");
  auto rows = kit_.Rows("ServerObjectsInfo");
  ASSERT_EQ(rows.size(), 5u);
  const std::string sa = ServerPath("Lakeside", "EX1") + "/cn=Microsoft System Attendant";
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(Slice(rows[i], 0, 11), (Texts{"EX1", sa, "System Attendant", "Microsoft System Attendant", "EX1-SA", "",
                                            "", "", "", "", "System Attendant of EX1"}));
    EXPECT_TRUE(IsDate(rows[i][11].Text()));
    EXPECT_EQ(rows[i][12].Text(), "Remove log files older than 7 days");
  }
  EXPECT_EQ(Column(std::vector<Cells>(rows.begin(), rows.begin() + 4), 13), (Texts{"SMTP", "X.400", "CCMAIL", "MS"}));
  EXPECT_EQ(Column(std::vector<Cells>(rows.begin(), rows.begin() + 4), 14),
            (Texts{"EX1-SA@velmor.example", "c=US;a= ;p=Velmor;o=Lakeside;s=EX1-SA;", "EX1-SA at Lakeside",
                   "VELMOR/LAKESIDE/EX1SA"}));
  auto mta = TextsOf(rows[4]);
  EXPECT_EQ(Slice(rows[4], 0, 11),
            (Texts{"EX1", ServerPath("Lakeside", "EX1") + "/cn=Microsoft MTA", "Message Transfer Agent",
                   "Microsoft MTA", "Microsoft MTA", "EX1", "4096", "True", "", "", "MTA of EX1"}));
  EXPECT_EQ(Slice(rows[4], 12), (Texts{"", "", ""}));

  // Both objects have their permission rows.
  EXPECT_FALSE(kit_.RowsWhere("ServerObjectsPerm", "Object Path", sa).empty());
  EXPECT_FALSE(
      kit_.RowsWhere("ServerObjectsPerm", "Object Path", ServerPath("Lakeside", "EX1") + "/cn=Microsoft MTA").empty());
}

TEST_F(ServerInfo, MissingValuesTakeTheirDefaults) {
  Collect("EX2");
  Collect("EX10");
  // EX2's System Attendant has no other addresses: its SMTP and X.400 rows
  // are written all the same. Its registry keeps old logs.
  auto ex2 = kit_.RowsWhere("ServerObjectsInfo", "ServerName", "EX2");
  ASSERT_EQ(ex2.size(), 3u);
  EXPECT_EQ(Slice(ex2[0], 12), (Texts{"Do not remove old log files", "SMTP", "EX2-SA@velmor.example"}));
  EXPECT_EQ(Slice(ex2[1], 12),
            (Texts{"Do not remove old log files", "X.400", "c=US;a= ;p=Velmor;o=Lakeside;s=EX2-SA;"}));
  // No message size is no limit; a flag that is false reads "False".
  EXPECT_EQ(Slice(ex2[2], 4, 8), (Texts{"Microsoft MTA", "EX2", "No limit", "False"}));
  // EX10's MTA has no flag at all: nothing is shown. Its registry has no
  // cleaning interval: old logs are kept.
  auto ex10 = kit_.RowsWhere("ServerObjectsInfo", "ServerName", "EX10");
  ASSERT_EQ(ex10.size(), 5u);
  EXPECT_EQ(ex10[0][12].Text(), "Do not remove old log files");
  EXPECT_EQ(Slice(ex10[4], 5, 8), (Texts{"EX10", "No limit", ""}));
}

TEST_F(ServerInfo, MtaDiagnosticsFromTheRegistry) {
  Collect("EX1");
  auto rows = kit_.RowsWhere("DiagLogging", "Object Path", ServerPath("Lakeside", "EX1") + "/cn=Microsoft MTA");
  ASSERT_EQ(rows.size(), 14u);
  for (const auto& r : rows)
    EXPECT_EQ(Slice(r, 2, 5), (Texts{"Message Transfer Agent", "Microsoft MTA", "MSExchangeMTA"}));
  EXPECT_EQ(Slice(rows[0], 5), (Texts{"Interface", "None"}));
  EXPECT_EQ(Slice(rows[3], 5), (Texts{"Field Engineering", "Maximum"}));
  EXPECT_EQ(Slice(rows[4], 5), (Texts{"MTA Administration", ""}));
  EXPECT_TRUE(rows[10][6].IsNull());  // "11 APDU" at 7
  // A value named without a number keeps its whole name.
  EXPECT_EQ(Slice(rows[13], 5), (Texts{"Security", "Medium"}));
  // Only the MTA asked for diagnostics rows.
  EXPECT_EQ(kit_.Rows("DiagLogging").size(), 14u);
}

TEST_F(ServerInfo, ContainersFromTheOrganisationDownToTheServersProtocols) {
  Collect("EX1");
  const std::string site = kLake;
  EXPECT_EQ(Containers(), (std::vector<Texts>{{kOrg, "", "Velmor"},
                                              {site, "", "Lakeside"},
                                              {site + "/cn=Configuration", "", "Configuration"},
                                              {site + "/cn=Recipients", "", "Recipients"},
                                              {site + "/cn=Recipients/cn=Sales", "", "Sales"},
                                              {site + "/cn=Recipients/cn=Sales/cn=Europe", "", "Europe"},
                                              {site + "/cn=Configuration/cn=Connections", "", "Connections"},
                                              {site + "/cn=Configuration/cn=Servers", "", "Servers"},
                                              {site + "/cn=Configuration/cn=Protocols", "Site", "Protocols"},
                                              {ServerPath("Lakeside", "EX1"), "", "EX1"},
                                              {ServerPath("Lakeside", "EX1") + "/cn=Protocols", "Server", "Protocols"}}));
  auto rows = kit_.Rows("ContainerInfo");
  // The organisation and the site show no note even when they have one.
  EXPECT_EQ(Slice(rows[0], 0, 6), (Texts{"EX1", kOrg, "", "Velmor", "Velmor", ""}));
  EXPECT_EQ(Slice(rows[1], 5), (Texts{"", rows[1][6].Text(), "", "", "", ""}));
  EXPECT_TRUE(IsDate(rows[1][6].Text()));
  EXPECT_EQ(Slice(rows[7], 5, 6), (Texts{"Servers of Lakeside"}));
  EXPECT_EQ(Slice(rows[8], 7), (Texts{"", "owa.lakeside", "", ""}));
  EXPECT_EQ(Slice(rows[9], 5, 6), (Texts{"Exchange server EX1"}));
  EXPECT_EQ(Slice(rows[9], 7), (Texts{"", "", "Building A", "Version 5.5 (Build 2653.23: Service Pack 4)"}));
  EXPECT_EQ(Slice(rows[10], 5, 6), (Texts{"Protocols of EX1"}));
  EXPECT_EQ(Slice(rows[10], 7), (Texts{"No", "ex1.owa", "", ""}));

  // Permission rows of each container, the site's once, with the level
  // of the two Protocols containers.
  auto perm = [&](const std::string& path) { return kit_.RowsWhere("ServerObjectsPerm", "Object Path", path); };
  auto sitePerm = perm(site);
  ASSERT_FALSE(sitePerm.empty());
  EXPECT_EQ(sitePerm.size(), perm(kOrg).size());  // one descriptor written once each
  EXPECT_EQ(sitePerm[0][2].Text(), "");
  EXPECT_EQ(perm(site + "/cn=Configuration/cn=Protocols")[0][2].Text(), "Site");
  EXPECT_EQ(perm(ServerPath("Lakeside", "EX1") + "/cn=Protocols")[0][2].Text(), "Server");
  EXPECT_FALSE(perm(site + "/cn=Recipients/cn=Sales/cn=Europe").empty());
}

TEST_F(ServerInfo, ServerWithoutLocationAndAForeignConfigurationContainer) {
  Collect("EX2");
  Collect("EX10");
  auto ex2 = kit_.RowsWhere("ContainerInfo", "Object Path", ServerPath("Lakeside", "EX2"));
  ASSERT_EQ(ex2.size(), 1u);
  EXPECT_EQ(ex2[0][9].Text(), "<None>");
  EXPECT_EQ(kit_.RowsWhere("ContainerInfo", "Object Path", ServerPath("Lakeside", "EX2") + "/cn=Protocols")[0][7].Text(),
            "Yes");
  // In Hilltop a "cn=Configuration" below the recipients is an ordinary
  // container: it is walked into. The site's own one is not.
  Texts hilltop;
  for (const auto& r : kit_.RowsWhere("ContainerInfo", "ServerName", "EX10")) hilltop.push_back(r[1].Text());
  EXPECT_EQ(hilltop, (Texts{kOrg, kHill, kHill + "/cn=Configuration", kHill + "/cn=Recipients",
                            kHill + "/cn=Recipients/cn=Configuration", kHill + "/cn=Recipients/cn=Configuration/cn=Archive",
                            kHill + "/cn=Configuration/cn=Connections", kHill + "/cn=Configuration/cn=Servers",
                            kHill + "/cn=Configuration/cn=Protocols", ServerPath("Hilltop", "EX10"),
                            ServerPath("Hilltop", "EX10") + "/cn=Protocols"}));
}

TEST_F(ServerInfo, CredentialsReachTheWorkersAndTheContainerWalk) {
  EXPECT_EQ(Collect("EX1", kAdmin, kAdminPassword), "___");
  EXPECT_EQ(kit_.LinesOf("GetServerInfo Start")[0][2], "EX1-" + kAdmin + "-");
  EXPECT_EQ(kit_.LinesOf("GetServerInfo End")[0][2], "EX1-" + kAdmin + ",cn=admin-");
  EXPECT_EQ(kit_.LinesOf("GetMTAInfo Start")[0][2], "EX1-" + kAdmin + ",cn=admin-");
  // The restricted recipients container is visible to the Connect As user.
  EXPECT_EQ(kit_.RowsWhere("ContainerInfo", "Object Path", kLake + "/cn=Recipients/cn=Restricted").size(), 1u);
  for (const auto& l : kit_.LogLines()) EXPECT_EQ(l.find(kAdminPassword), std::string::npos) << l;
}

TEST_F(ServerInfo, EveryBindFailureHasItsItem) {
  const std::string ex1 = "cn=EX1,cn=Servers,cn=Configuration,ou=Lakeside,o=Velmor";
  ChangedDirectory changed(
      DeleteSubtrees({"cn=Microsoft System Attendant,cn=EX2,cn=Servers,cn=Configuration,ou=Lakeside,o=Velmor",
                      "cn=Microsoft MTA,cn=EX10,cn=Servers,cn=Configuration,ou=Hilltop,o=Velmor",
                      "cn=Protocols,cn=Configuration,ou=Hilltop,o=Velmor"}),
      // EX1's computer entry for the account that finds the site, not for
      // the account the object binds use.
      "access to dn.base=\"" + ex1 + "\" by dn.exact=\"" + kAdmin + "\" read by * none");

  // The server object: one item, no worker, no rows.
  EXPECT_EQ(Collect("EX1", kAdmin, kAdminPassword), "Server object@@    " + kNoSuchObject);
  EXPECT_TRUE(kit_.Rows("ServerObjectsInfo").empty());
  EXPECT_TRUE(kit_.Rows("ContainerInfo").empty());
  EXPECT_EQ(kit_.LinesOf("Binding to the Server object  'LDAP://EX1/cn=EX1,CN=Servers,CN=Configuration,"
                         "ou=Lakeside,o=Velmor'' using credential '" + kAdmin + ",cn=admin'")
                .size(),
            1u);

  // The System Attendant: its item between the joins; the MTA and the
  // containers are still written.
  EXPECT_EQ(Collect("EX2"), "_Microsoft System Attendant object@@    " + kNoSuchObject + "__");
  EXPECT_EQ(kit_.RowsWhere("ServerObjectsInfo", "ServerName", "EX2").size(), 1u);
  EXPECT_EQ(kit_.RowsWhere("ContainerInfo", "ServerName", "EX2").size(), 11u);
  EXPECT_EQ(kit_.LinesOf("Binding to the Microsoft System Attendant object 'LDAP://EX2/" + ServerPath("Lakeside", "EX2") +
                         "/cn=Microsoft System Attendant' using credential ''")
                .size(),
            1u);

  // The MTA and the site's Protocols container: the walk down stops there.
  EXPECT_EQ(Collect("EX10"), "__Message Transfer Agent object@@    " + kNoSuchObject +
                                 "__Protocols container@@    " + kNoSuchObject);
  Texts hilltop;
  for (const auto& r : kit_.RowsWhere("ContainerInfo", "ServerName", "EX10")) hilltop.push_back(r[1].Text());
  EXPECT_EQ(hilltop, (Texts{kOrg, kHill, kHill + "/cn=Configuration", kHill + "/cn=Recipients",
                            kHill + "/cn=Recipients/cn=Configuration", kHill + "/cn=Recipients/cn=Configuration/cn=Archive",
                            kHill + "/cn=Configuration/cn=Connections", kHill + "/cn=Configuration/cn=Servers"}));
  EXPECT_EQ(kit_.LinesOf("Binding to the Message Transfer Agent object  'LDAP://EX10/" + ServerPath("Hilltop", "EX10") +
                         "/cn=Microsoft MTA' using credential ''")
                .size(),
            1u);
  EXPECT_EQ(kit_.LinesOf("Binding to the Protocols 'LDAP://EX10/" + kHill +
                         "/cn=Configuration/cn=Protocols' using credential ''")
                .size(),
            1u);
  // The container worker ends at the failure, without its end line.
  EXPECT_EQ(kit_.LinesOf("GetContainerObjectsInfo Start").size(), 2u);
  EXPECT_EQ(kit_.LinesOf("GetContainerObjectsInfo End").size(), 1u);
  EXPECT_TRUE(kit_.RowsWhere("DiagLogging", "ServerName", "EX10").empty());
}
