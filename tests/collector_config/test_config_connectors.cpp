// The connectors of the sample sites, one kind after the other: the
// dispatch by name, the Internet Mail Connector with its senders, the MS
// Mail connector with its registry settings (also when the registry cannot
// be reached), the Site Connector's address spaces and bridgeheads, the
// newsfeeds, credentials and the Connections container's failure.
#include <regex>

#include "ConfigKit.h"

using namespace config_test;

namespace {

const std::string kImc = "Internet Mail Connector (EX1)";
const std::string kMsMail = "MS Mail Connector (EX1)";
const std::string kSite = "Site Connector (Hilltop)";
const std::string kUsenet = "Newsfeed (usenet.example.com)";
const std::string kBoardAdvisor = "cn=Board Advisor,cn=Restricted,cn=Recipients,ou=Lakeside,o=Velmor";
const std::string kLakeConnectionsDn = "cn=Connections,cn=Configuration,ou=Lakeside,o=Velmor";

bool IsDate(const std::string& text) {
  return std::regex_match(text, std::regex(R"(\d{1,2}/\d{1,2}/1999 \d{1,2}:\d\d:\d\d (AM|PM))"));
}

class Connectors : public SampleTest {
 protected:
  std::string Collect(const std::string& server, const std::string& user = "", const std::string& password = "") {
    std::string err = "not touched";
    kit_.NewCollector()->GetConnectorInfo(server, user, password, &err);
    return err;
  }
  std::vector<Cells> Of(const std::string& table, const std::string& directoryName) {
    return kit_.RowsWhere(table, "Directory Name", directoryName);
  }
  // Category and level of the DiagLogging rows of one connector.
  std::vector<Texts> Diagnostics(const std::string& directoryName, const std::string& services) {
    std::vector<Texts> out;
    for (const auto& r : Of("DiagLogging", directoryName)) {
      EXPECT_EQ(Slice(r, 0, 5), (Texts{r[0].Text(), kLakeConnections, directoryName, directoryName, services}));
      out.push_back(Slice(r, 5));
    }
    return out;
  }
};

}  // namespace

TEST_F(Connectors, DispatchByKindLeavesOutCcMail) {
  // Internet Mail, MS Mail, cc:Mail (skipped), Site Connector, Newsfeed.
  EXPECT_EQ(Collect("EX1"), "____");
  EXPECT_EQ(Column(kit_.Rows("ConnectorGeneral"), 3), (Texts{kImc, kMsMail, kSite}));
  EXPECT_EQ(Column(kit_.Rows("ConnectorNewsfeed"), 3), (Texts{kUsenet, kUsenet, kUsenet}));
  for (const auto& table : {"ConnectorGeneral", "ConnectorMiscInfo", "ConnectorPerm", "ConnectorNewsfeed"})
    for (const auto& r : kit_.Rows(table)) EXPECT_EQ(Slice(r, 0, 2), (Texts{"EX1", kLakeConnections})) << table;
  EXPECT_TRUE(Of("ConnectorMiscInfo", "Connector for cc:Mail (EX1)").empty());
  // Permission rows for the Internet Mail and Site Connectors, none for
  // the MS Mail connector; delivery restrictions for the Internet Mail
  // Connector only.
  EXPECT_FALSE(Of("ConnectorPerm", kImc).empty());
  EXPECT_FALSE(Of("ConnectorPerm", kSite).empty());
  EXPECT_TRUE(Of("ConnectorPerm", kMsMail).empty());
  EXPECT_EQ(Column(kit_.Rows("ConnectorDelivRestr"), 3), (Texts{kImc, kImc, kImc}));
}

TEST_F(Connectors, InternetMailConnectorRows) {
  Collect("EX1");
  auto general = Of("ConnectorGeneral", kImc);
  ASSERT_EQ(general.size(), 1u);
  EXPECT_EQ(Slice(general[0], 0, 14), (Texts{"EX1", kLakeConnections, kImc, kImc, "EX1", "10240", "", "", "", "", "",
                                             "", "", "Outbound SMTP"}));
  EXPECT_TRUE(IsDate(general[0][14].Text()));
  auto misc = Of("ConnectorMiscInfo", kImc);
  ASSERT_EQ(misc.size(), 1u);
  EXPECT_EQ(Slice(misc[0], 4), (Texts{"", "", "", "", "SMTP", "*", "1", "Organization", "", "", "", "", ""}));
  // Three accepted senders, the last of which no longer exists; no
  // rejected list at all.
  std::vector<Texts> restrictions;
  for (const auto& r : Of("ConnectorDelivRestr", kImc)) restrictions.push_back(Slice(r, 4));
  EXPECT_EQ(restrictions, (std::vector<Texts>{{"John Smith", "None"}, {"Sean O'Neil", ""}, {"", ""}}));
  // The connector service's diagnostics, written while the connector's
  // own recordset still holds its rows.
  EXPECT_EQ(Diagnostics(kImc, "MSExchangeIMC"),
            (std::vector<Texts>{{"Initialization/Termination", "None"},
                                {"Addressing", "Minimum"},
                                {"Message Archival", "Medium"},
                                {"Message Transfer", "Maximum"},
                                {"SMTP Interface Events", ""},
                                {"Internal Processing", "None"},
                                {"SMTP Protocol Log", "None"},
                                {"MIME Types", ""}}));
  for (const auto& r : Of("ConnectorPerm", kImc)) EXPECT_EQ(Slice(r, 0, 4), (Texts{"EX1", kLakeConnections, kImc, kImc}));
}

TEST_F(Connectors, MsMailConnectorReadsItsServiceSettings) {
  Collect("EX1");
  auto general = Of("ConnectorGeneral", kMsMail);
  ASSERT_EQ(general.size(), 1u);
  EXPECT_EQ(Slice(general[0], 0, 14), (Texts{"EX1", kLakeConnections, kMsMail, kMsMail, "EX1", "", "", "", "",
                                             "Administrator", "English", "Yes", "No", ""}));
  std::vector<Texts> spaces;
  for (const auto& r : Of("ConnectorMiscInfo", kMsMail)) spaces.push_back(Slice(r, 8, 12));
  EXPECT_EQ(spaces, (std::vector<Texts>{{"MS", "VELMOR/LEGACY/*", "1", "Organization"},
                                        {"MS", "VELMOR/OLDPO/*", "2", "Organization"}}));
  EXPECT_EQ(Diagnostics(kMsMail, "MSExchangeMSMI").size(), 6u);
  EXPECT_TRUE(Of("ConnectorDelivRestr", kMsMail).empty());

  // Other settings in other servers' registries.
  std::ofstream(kit_.registryFile("EX1"), std::ios::trunc)
      << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\MSExchangeMSMI\\Parameters]\r\n"
         "\"AdminAccount\"=\"Postmaster Mailbox 01\"\r\n\"ClientLanguage\"=dword:00000003\r\n"
         "\"EnableMessageTracking\"=dword:00000001\r\n";
  std::ofstream(kit_.registryFile("EX2"), std::ios::trunc)
      << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\MSExchangeMSMI\\Parameters]\r\n"
         "\"ClientLanguage\"=dword:00000005\r\n\"Max 3.X Compatibility\"=dword:00000000\r\n";
  Collect("EX1");
  Collect("EX2");
  // A 21-character account whole; language 3 is Spanish, 5 has no
  // language; missing flags are "No".
  auto rows = Of("ConnectorGeneral", kMsMail);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(Slice(rows[1], 9, 13), (Texts{"Postmaster Mailbox 01", "Spanish", "No", "Yes"}));
  EXPECT_EQ(Slice(rows[2], 9, 13), (Texts{"", "", "No", "No"}));
}

TEST_F(Connectors, MsMailConnectorWithoutItsRegistryStillWritesItsRows) {
  // EX2's registry has no MS Mail service; EX1's cannot be reached.
  EXPECT_EQ(Collect("EX2"), "____");
  fs::remove(kit_.registryFile("EX1"));
  EXPECT_EQ(Collect("EX1"), "____");
  auto general = Of("ConnectorGeneral", kMsMail);
  ASSERT_EQ(general.size(), 2u);
  for (const auto& r : general) EXPECT_EQ(Slice(r, 4, 13), (Texts{"EX1", "", "", "", "", "", "", "", ""}));
  EXPECT_EQ(Of("ConnectorMiscInfo", kMsMail).size(), 4u);
  auto open = kit_.LinesOf("RegOpenKeyEx Error in GetMSMailInfo");
  ASSERT_EQ(open.size(), 1u);
  EXPECT_EQ(open[0][1], "2");
  auto connect = kit_.LinesOf("RegConnectRegistry Error in GetMSMailInfo");
  ASSERT_EQ(connect.size(), 1u);
  EXPECT_EQ(connect[0][1], "53");
  // The worker ends normally and the connectors after it are collected.
  EXPECT_EQ(kit_.LinesOf("GetMSMailInfo End").size(), 2u);
  EXPECT_EQ(Of("ConnectorGeneral", kSite).size(), 2u);
  EXPECT_EQ(Of("ConnectorNewsfeed", kUsenet).size(), 6u);
  EXPECT_TRUE(Of("DiagLogging", kMsMail).empty());
  // EX2's Internet Mail Connector diagnostics come from EX2's registry.
  EXPECT_EQ(Of("DiagLogging", kImc).size(), 8u);
}

TEST_F(Connectors, SiteConnectorPairsAddressSpacesWithBridgeheads) {
  EXPECT_EQ(Collect("EX10"), "__");
  Collect("EX1");
  auto general = Of("ConnectorGeneral", kSite);
  ASSERT_EQ(general.size(), 1u);
  EXPECT_EQ(Slice(general[0], 2, 14),
            (Texts{kSite, kSite, "", "", "", "1", "", "", "", "", "", "To Hilltop"}));
  std::vector<Texts> misc;
  for (const auto& r : Of("ConnectorMiscInfo", kSite)) misc.push_back(Slice(r, 4));
  EXPECT_EQ(misc, (std::vector<Texts>{
                      {"", "", "", "", "X400", "c=US;a= ;p=Velmor;o=Hilltop", "1", "Organization", "", "EX10", "100",
                       "svc-exchange", "CORP"},
                      {"", "", "", "", "SMTP", "*", "1", "Site", "", "", "", "svc-exchange", "CORP"},
                      {"", "", "", "", "MS", "VELMOR/HILL/*", "3", "Location", "", "", "", "svc-exchange", "CORP"}}));
  EXPECT_TRUE(Of("DiagLogging", kSite).empty());
  EXPECT_TRUE(Of("ConnectorDelivRestr", kSite).empty());

  // Hilltop's connector has neither list nor account: one bare row.
  auto bare = Of("ConnectorMiscInfo", "Site Connector (Lakeside)");
  ASSERT_EQ(bare.size(), 1u);
  EXPECT_EQ(Slice(bare[0], 0, 4), (Texts{"EX10", kHillConnections, "Site Connector (Lakeside)",
                                         "Site Connector (Lakeside)"}));
  EXPECT_EQ(Slice(bare[0], 4), Texts(13, ""));
}

TEST_F(Connectors, NewsfeedRowPerInboundHost) {
  Collect("EX1");
  Collect("EX10");
  auto usenet = Of("ConnectorNewsfeed", kUsenet);
  ASSERT_EQ(usenet.size(), 3u);
  EXPECT_EQ(Column(usenet, 13), (Texts{"news1.example.com", "news2.example.com", "news3.example.com"}));
  auto first = TextsOf(usenet[0]);
  EXPECT_TRUE(IsDate(first[8]));
  first[8] = "";
  // A LAN connection leaves the dial-up values out; the administrator is
  // named by common name; an inbound account that no longer exists is
  // empty; no incoming size is "0".
  EXPECT_EQ(first, (Texts{"EX1", kLakeConnections, kUsenet, kUsenet, "Inbound and Outbound", "True", "John Smith",
                          "Public news", "", "1000", "0", "usenet.example.com", "news.example.com",
                          "news1.example.com", "Connect using my Local Area Network (LAN)", "", "", "No", "newsuser",
                          ""}));
  for (const auto& r : usenet) EXPECT_EQ(Slice(r, 14), Slice(usenet[0], 14));

  auto dialup = Of("ConnectorNewsfeed", "Newsfeed (dialup)");
  ASSERT_EQ(dialup.size(), 1u);
  auto d = TextsOf(dialup[0]);
  d[8] = "";
  EXPECT_EQ(d, (Texts{"EX10", kHillConnections, "Newsfeed (dialup)", "Newsfeed (dialup)", "7", "False", "", "", "",
                      "0", "2048", "dialup.example.net", "news.dialup.example.net", "news.dialup.example.net",
                      "Connect using Dial-up Networking", "Provider", "newsdial", "Yes", "", ""}));
}

TEST_F(Connectors, CredentialsNamesAndTheConnectionsContainer) {
  const std::string added =
      // A sender and an administrator only logged-on users can see.
      "dn: cn=" + kImc + "," + kLakeConnectionsDn + "\nchangetype: modify\nadd: UnAuth-Orig\nUnAuth-Orig: " +
      kBoardAdvisor + "\n-\n\n" + "dn: cn=" + kUsenet + "," + kLakeConnectionsDn +
      "\nchangetype: modify\nreplace: INSAdmin\nINSAdmin: " + kBoardAdvisor + "\n-\n\n" +
      // Names the dispatch tells apart by their texts.
      "dn: cn=Internet Mail Connector over Site Connector," + kLakeConnectionsDn +
      "\nchangetype: add\nobjectClass: Mail-Gateway\ncn: Internet Mail Connector over Site Connector\n"
      "rdn: Internet Mail Connector over Site Connector\n\n" +
      "dn: cn=internet mail connector (lower case)," + kLakeConnectionsDn +
      "\nchangetype: add\nobjectClass: Mail-Gateway\ncn: internet mail connector (lower case)\n\n" +
      "dn: cn=cc:Mail Connector (EX2)," + kLakeConnectionsDn +
      "\nchangetype: add\nobjectClass: Mail-Gateway\ncn: cc:Mail Connector (EX2)\nrdn: cc:Mail Connector (EX2)\n\n" +
      DeleteSubtrees({"cn=Connections,cn=Configuration,ou=Hilltop,o=Velmor"});
  ChangedDirectory changed(added);

  // Five known kinds (cc:Mail and the lower-case name are passed over);
  // the name with two kinds is an Internet Mail Connector.
  EXPECT_EQ(Collect("EX1", kAdmin, kAdminPassword), "_____");
  EXPECT_EQ(Column(kit_.Rows("ConnectorGeneral"), 3),
            (Texts{kImc, kMsMail, kSite, "Internet Mail Connector over Site Connector"}));
  std::vector<Texts> restrictions;
  for (const auto& r : Of("ConnectorDelivRestr", kImc)) restrictions.push_back(Slice(r, 4));
  EXPECT_EQ(restrictions, (std::vector<Texts>{{"John Smith", "Board Advisor"}, {"Sean O'Neil", ""}, {"", ""}}));
  EXPECT_EQ(Of("ConnectorNewsfeed", kUsenet)[0][6].Text(), "Board Advisor");
  EXPECT_EQ(kit_.LinesOf("GetConnectorInfo Start")[0][2], "EX1-" + kAdmin + "-");
  EXPECT_EQ(kit_.LinesOf("GetConnectorInfo End")[0][2], "EX1-" + kAdmin + ",cn=admin-");
  EXPECT_EQ(kit_.LinesOf("GetIMCInfo Start")[0][2], "cn=" + kImc + "-EX1-" + kAdmin + ",cn=admin-");

  // Anonymously those names cannot be found.
  Collect("EX1");
  auto anonymous = Of("ConnectorDelivRestr", kImc);
  ASSERT_EQ(anonymous.size(), 6u);
  EXPECT_EQ(anonymous[3][5].Text(), "");
  EXPECT_EQ(Of("ConnectorNewsfeed", kUsenet)[3][6].Text(), "");

  // Hilltop lost its Connections container.
  EXPECT_EQ(Collect("EX10"), "Connections container@@    " + kNoSuchObject);
  EXPECT_TRUE(kit_.RowsWhere("ConnectorGeneral", "ServerName", "EX10").empty());
  EXPECT_EQ(kit_.LinesOf("Listing objects under Connections Container 'LDAP://EX10/CN=Connections,CN=Configuration,"
                         "ou=Hilltop,o=Velmor' using credential ''")
                .size(),
            1u);
  for (const auto& l : kit_.LogLines()) EXPECT_EQ(l.find(kAdminPassword), std::string::npos) << l;
}
