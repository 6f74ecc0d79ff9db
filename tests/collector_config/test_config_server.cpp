// One server's objects and its site's containers: the System Attendant's
// address rows, the MTA's row and diagnostics, the containers in their
// levels and order with the recipient containers, credentials, and the
// items of each bind failure.
#include "ConfigKit.h"

using namespace config_test;

namespace {

std::string ServerPath(const std::string& site, const std::string& server) {
  return "o=Velmor/ou=" + site + "/cn=Configuration/cn=Servers/cn=" + server;
}

class ServerInfo : public SampleTest {
 protected:
  std::string Collect(const std::string& server, const std::string& user = "", const std::string& password = "") {
    return kit_.Run(&_Exch55Info::GetServerInfo, server, user, password);
  }
  // Columns of the rows of a table for one server.
  std::vector<Texts> Cols(const std::string& table, const std::string& server, size_t from, long to = -1) {
    return kit_.SlicesWhere(table, "ServerName", server, from, to);
  }
  Texts Paths(const std::string& server) {
    Texts out;
    for (const auto& r : Cols("ContainerInfo", server, 1, 2)) out.push_back(r[0]);
    return out;
  }
};

}  // namespace

TEST_F(ServerInfo, SystemAttendantRowPerAddressThenTheMta) {
  EXPECT_EQ(Collect("EX1"), "___");
  const std::string sa = ServerPath("Lakeside", "EX1") + "/cn=Microsoft System Attendant";
  auto rows = kit_.Rows("ServerObjectsInfo");
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(Slice(rows[0], 0, 11), (Texts{"EX1", sa, "System Attendant", "Microsoft System Attendant", "EX1-SA", "",
                                          "", "", "", "", "System Attendant of EX1"}));
  std::vector<Texts> addresses;
  for (size_t i = 0; i < 4; ++i) addresses.push_back(Slice(rows[i], 12));
  EXPECT_EQ(addresses, (std::vector<Texts>{
                           {"Remove log files older than 7 days", "SMTP", "EX1-SA@velmor.example"},
                           {"Remove log files older than 7 days", "X.400", "c=US;a= ;p=Velmor;o=Lakeside;s=EX1-SA;"},
                           {"Remove log files older than 7 days", "CCMAIL", "EX1-SA at Lakeside"},
                           {"Remove log files older than 7 days", "MS", "VELMOR/LAKESIDE/EX1SA"}}));
  auto mta = Slice(rows[4], 0);
  mta[11] = "";  // created
  EXPECT_EQ(mta, (Texts{"EX1", ServerPath("Lakeside", "EX1") + "/cn=Microsoft MTA", "Message Transfer Agent",
                        "Microsoft MTA", "Microsoft MTA", "EX1", "4096", "True", "", "", "MTA of EX1", "", "", "", ""}));
  EXPECT_FALSE(kit_.RowsWhere("ServerObjectsPerm", "Object Path", sa).empty());
  EXPECT_FALSE(
      kit_.RowsWhere("ServerObjectsPerm", "Object Path", ServerPath("Lakeside", "EX1") + "/cn=Microsoft MTA").empty());

  // The MTA's diagnostics, the only ones of this call.
  auto diag = kit_.Rows("DiagLogging");
  ASSERT_EQ(diag.size(), 14u);
  EXPECT_EQ(Slice(diag[3], 1), (Texts{ServerPath("Lakeside", "EX1") + "/cn=Microsoft MTA", "Message Transfer Agent",
                                      "Microsoft MTA", "MSExchangeMTA", "Field Engineering", "Maximum"}));
  EXPECT_EQ(Slice(diag[4], 5), (Texts{"MTA Administration", ""}));
  EXPECT_EQ(Slice(diag[13], 5), (Texts{"Security", "Medium"}));  // a name without a number stays whole
}

TEST_F(ServerInfo, MissingValuesTakeTheirDefaults) {
  Collect("EX2");
  Collect("EX10");
  // EX2's System Attendant has no other addresses: its SMTP and X.400
  // rows are written all the same; its registry keeps old logs. Its MTA
  // has no size limit and a false flag.
  EXPECT_EQ(Cols("ServerObjectsInfo", "EX2", 4, 8),
            (std::vector<Texts>{{"EX2-SA", "", "", ""}, {"EX2-SA", "", "", ""}, {"Microsoft MTA", "EX2", "No limit", "False"}}));
  EXPECT_EQ(Cols("ServerObjectsInfo", "EX2", 12, 14)[1], (Texts{"Do not remove old log files", "X.400"}));
  // EX10's MTA has no flag at all: nothing is shown; its registry has no
  // cleaning interval.
  auto ex10 = Cols("ServerObjectsInfo", "EX10", 5, 13);
  ASSERT_EQ(ex10.size(), 5u);
  EXPECT_EQ(ex10[0].back(), "Do not remove old log files");
  EXPECT_EQ(Texts(ex10[4].begin(), ex10[4].begin() + 3), (Texts{"EX10", "No limit", ""}));
  // A server without a location; a server Protocols container following
  // the site.
  EXPECT_EQ(Cols("ContainerInfo", "EX2", 7).at(9), (Texts{"", "", "<None>", "Version 5.5 (Build 2653.23: Service Pack 4)"}));
  EXPECT_EQ(Cols("ContainerInfo", "EX2", 7).at(10), (Texts{"Yes", "ex2.owa", "", ""}));
}

TEST_F(ServerInfo, ContainersFromTheOrganisationDownToTheServersProtocols) {
  Collect("EX1");
  Collect("EX10");
  const std::string site = kLake;
  EXPECT_EQ(Cols("ContainerInfo", "EX1", 1, 5),
            (std::vector<Texts>{{kOrg, "", "Velmor", "Velmor"},
                                {site, "", "Lakeside", "Lakeside"},
                                {site + "/cn=Configuration", "", "Configuration", "Configuration"},
                                {site + "/cn=Recipients", "", "Recipients", "Recipients"},
                                {site + "/cn=Recipients/cn=Sales", "", "Sales", "Sales"},
                                {site + "/cn=Recipients/cn=Sales/cn=Europe", "", "Europe", "Europe"},
                                {site + "/cn=Configuration/cn=Connections", "", "Connections", "Connections"},
                                {site + "/cn=Configuration/cn=Servers", "", "Servers", "Servers"},
                                {site + "/cn=Configuration/cn=Protocols", "Site", "Protocols", "Protocols"},
                                {ServerPath("Lakeside", "EX1"), "", "EX1", "EX1"},
                                {ServerPath("Lakeside", "EX1") + "/cn=Protocols", "Server", "Protocols", "Protocols"}}));
  auto rows = Cols("ContainerInfo", "EX1", 5);
  // The site shows no note even though it has one; the other levels'
  // own columns.
  EXPECT_EQ(rows[1][0], "");
  EXPECT_FALSE(rows[1][1].empty());
  EXPECT_EQ(rows[7][0], "Servers of Lakeside");
  EXPECT_EQ(Texts(rows[8].begin() + 2, rows[8].end()), (Texts{"", "owa.lakeside", "", ""}));
  EXPECT_EQ(Texts(rows[9].begin() + 2, rows[9].end()),
            (Texts{"", "", "Building A", "Version 5.5 (Build 2653.23: Service Pack 4)"}));
  EXPECT_EQ(Texts(rows[10].begin() + 2, rows[10].end()), (Texts{"No", "ex1.owa", "", ""}));

  // Permission rows of each container, with the level of the two
  // Protocols containers.
  auto perm = [&](const std::string& path) { return kit_.RowsWhere("ServerObjectsPerm", "Object Path", path); };
  EXPECT_FALSE(perm(site).empty());
  EXPECT_EQ(perm(site + "/cn=Configuration/cn=Protocols").at(0)[2].Text(), "Site");
  EXPECT_EQ(perm(ServerPath("Lakeside", "EX1") + "/cn=Protocols").at(0)[2].Text(), "Server");
  EXPECT_FALSE(perm(site + "/cn=Recipients/cn=Sales/cn=Europe").empty());

  // In Hilltop a "cn=Configuration" below the recipients is an ordinary
  // container and is walked into; the site's own one is not.
  const auto hilltop = Paths("EX10");
  ASSERT_EQ(hilltop.size(), 11u);
  EXPECT_EQ(Texts(hilltop.begin() + 2, hilltop.begin() + 6),
            (Texts{kHill + "/cn=Configuration", kHill + "/cn=Recipients", kHill + "/cn=Recipients/cn=Configuration",
                   kHill + "/cn=Recipients/cn=Configuration/cn=Archive"}));
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
  EXPECT_EQ(Cols("ServerObjectsInfo", "EX2", 3, 4), (std::vector<Texts>{{"Microsoft MTA"}}));
  EXPECT_EQ(Paths("EX2").size(), 11u);
  EXPECT_EQ(kit_.LinesOf("Binding to the Microsoft System Attendant object 'LDAP://EX2/" + ServerPath("Lakeside", "EX2") +
                         "/cn=Microsoft System Attendant' using credential ''")
                .size(),
            1u);

  // The MTA, and the site's Protocols container, below which the walk
  // stops; the container worker ends there without its end line.
  EXPECT_EQ(Collect("EX10"),
            "__Message Transfer Agent object@@    " + kNoSuchObject + "__Protocols container@@    " + kNoSuchObject);
  EXPECT_EQ(Paths("EX10").size(), 8u);
  EXPECT_EQ(Paths("EX10").back(), kHill + "/cn=Configuration/cn=Servers");
  EXPECT_EQ(kit_.LinesOf("Binding to the Message Transfer Agent object  'LDAP://EX10/" + ServerPath("Hilltop", "EX10") +
                         "/cn=Microsoft MTA' using credential ''")
                .size(),
            1u);
  EXPECT_EQ(
      kit_.LinesOf("Binding to the Protocols 'LDAP://EX10/" + kHill + "/cn=Configuration/cn=Protocols' using credential ''")
          .size(),
      1u);
  EXPECT_EQ(kit_.LinesOf("GetContainerObjectsInfo Start").size(), 2u);
  EXPECT_EQ(kit_.LinesOf("GetContainerObjectsInfo End").size(), 1u);
}
