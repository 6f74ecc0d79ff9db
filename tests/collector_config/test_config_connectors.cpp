// The connectors of the sample sites: the dispatch by name, the Internet
// Mail Connector with its senders, the MS Mail connector with its registry
// settings (also when the registry cannot be reached), the Site
// Connector's address spaces and bridgeheads, the newsfeeds, credentials
// and the Connections container's failure.
#include "ConfigKit.h"

using namespace config_test;

namespace {

const std::string kImc = "Internet Mail Connector (EX1)";
const std::string kMsMail = "MS Mail Connector (EX1)";
const std::string kSite = "Site Connector (Hilltop)";
const std::string kUsenet = "Newsfeed (usenet.example.com)";
const std::string kBoardAdvisor = "cn=Board Advisor,cn=Restricted,cn=Recipients,ou=Lakeside,o=Velmor";
const std::string kLakeConnectionsDn = "cn=Connections,cn=Configuration,ou=Lakeside,o=Velmor";

class Connectors : public SampleTest {
 protected:
  std::string Collect(const std::string& server, const std::string& user = "", const std::string& password = "") {
    return kit_.Run(&_Exch55Info::GetConnectorInfo, server, user, password);
  }
  // Columns of the rows of one connector.
  std::vector<Texts> Cols(const std::string& table, const std::string& connector, size_t from, long to = -1) {
    return kit_.SlicesWhere(table, "Directory Name", connector, from, to);
  }
  void Registry(const std::string& server, const std::string& parameters) {
    std::ofstream(kit_.registryFile(server), std::ios::trunc)
        << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\MSExchangeMSMI\\Parameters]\r\n"
        << parameters;
  }
};

}  // namespace

TEST_F(Connectors, DispatchByKindAndTheRowsEachKindWrites) {
  // Internet Mail, MS Mail, cc:Mail (passed over), Site Connector, Newsfeed.
  EXPECT_EQ(Collect("EX1"), "____");
  EXPECT_EQ(Column(kit_.Rows("ConnectorGeneral"), 3), (Texts{kImc, kMsMail, kSite}));
  EXPECT_EQ(Column(kit_.Rows("ConnectorNewsfeed"), 3), (Texts{kUsenet, kUsenet, kUsenet}));
  EXPECT_EQ(Column(kit_.Rows("ConnectorDelivRestr"), 3), (Texts{kImc, kImc, kImc}));
  for (const auto& table : {"ConnectorGeneral", "ConnectorMiscInfo", "ConnectorPerm", "ConnectorNewsfeed"})
    for (const auto& r : kit_.Rows(table)) EXPECT_EQ(Slice(r, 0, 2), (Texts{"EX1", kLakeConnections})) << table;
  // Permission rows land next to the pending General rows of the Internet
  // Mail and Site Connectors; the MS Mail connector has none.
  EXPECT_FALSE(Cols("ConnectorPerm", kImc, 0).empty());
  EXPECT_FALSE(Cols("ConnectorPerm", kSite, 0).empty());
  EXPECT_TRUE(Cols("ConnectorPerm", kMsMail, 0).empty());
  // Diagnostics come from the Internet Mail and MS Mail services only.
  EXPECT_EQ(Column(kit_.Rows("DiagLogging"), 4), (Texts(8, "MSExchangeIMC") + Texts(6, "MSExchangeMSMI")));
}

TEST_F(Connectors, InternetMailConnectorRows) {
  Collect("EX1");
  EXPECT_EQ(Cols("ConnectorGeneral", kImc, 2, 14).at(0),
            (Texts{kImc, kImc, "EX1", "10240", "", "", "", "", "", "", "", "Outbound SMTP"}));
  EXPECT_EQ(Cols("ConnectorMiscInfo", kImc, 4),
            (std::vector<Texts>{{"", "", "", "", "SMTP", "*", "1", "Organization", "", "", "", "", ""}}));
  // Three accepted senders, the last of which no longer exists; no
  // rejected list.
  EXPECT_EQ(Cols("ConnectorDelivRestr", kImc, 4),
            (std::vector<Texts>{{"John Smith", "None"}, {"Sean O'Neil", ""}, {"", ""}}));
  EXPECT_EQ(Cols("DiagLogging", kImc, 2, 7).at(3),
            (Texts{kImc, kImc, "MSExchangeIMC", "Message Transfer", "Maximum"}));
  EXPECT_EQ(Cols("DiagLogging", kImc, 5, 7).at(4), (Texts{"SMTP Interface Events", ""}));
}

TEST_F(Connectors, MsMailConnectorReadsItsServiceSettings) {
  Collect("EX1");
  Registry("EX1", "\"AdminAccount\"=\"Postmaster Mailbox 01\"\r\n\"ClientLanguage\"=dword:00000003\r\n"
                  "\"EnableMessageTracking\"=dword:00000001\r\n");
  Registry("EX2", "\"ClientLanguage\"=dword:00000005\r\n\"Max 3.X Compatibility\"=dword:00000000\r\n");
  Collect("EX1");
  Collect("EX2");
  // A 21-character account whole; language 0 is English, 3 Spanish, 5 has
  // no text; missing flags are "No".
  EXPECT_EQ(Cols("ConnectorGeneral", kMsMail, 4, 13),
            (std::vector<Texts>{{"EX1", "", "", "", "", "Administrator", "English", "Yes", "No"},
                                {"EX1", "", "", "", "", "Postmaster Mailbox 01", "Spanish", "No", "Yes"},
                                {"EX1", "", "", "", "", "", "", "No", "No"}}));
  EXPECT_EQ(Cols("ConnectorMiscInfo", kMsMail, 8, 12).at(1), (Texts{"MS", "VELMOR/OLDPO/*", "2", "Organization"}));
}

TEST_F(Connectors, MsMailConnectorWithoutItsRegistryStillWritesItsRows) {
  // EX2's registry has no MS Mail service; EX1's cannot be reached.
  EXPECT_EQ(Collect("EX2"), "____");
  fs::remove(kit_.registryFile("EX1"));
  EXPECT_EQ(Collect("EX1"), "____");
  EXPECT_EQ(Cols("ConnectorGeneral", kMsMail, 9, 13), std::vector<Texts>(2, Texts(4, "")));
  EXPECT_EQ(Cols("ConnectorMiscInfo", kMsMail, 0).size(), 4u);
  auto open = kit_.LinesOf("RegOpenKeyEx Error in GetMSMailInfo");
  ASSERT_EQ(open.size(), 1u);
  EXPECT_EQ(open[0][1], "2");
  auto connect = kit_.LinesOf("RegConnectRegistry Error in GetMSMailInfo");
  ASSERT_EQ(connect.size(), 1u);
  EXPECT_EQ(connect[0][1], "53");
  // The worker ends normally and the connectors after it are collected.
  EXPECT_EQ(kit_.LinesOf("GetMSMailInfo End").size(), 2u);
  EXPECT_EQ(Cols("ConnectorGeneral", kSite, 0).size(), 2u);
  EXPECT_EQ(Cols("ConnectorNewsfeed", kUsenet, 0).size(), 6u);
  // EX2's Internet Mail Connector diagnostics come from EX2's registry.
  EXPECT_EQ(Column(kit_.Rows("DiagLogging"), 0), Texts(8, "EX2"));
}

TEST_F(Connectors, SiteConnectorPairsAddressSpacesWithBridgeheads) {
  Collect("EX1");
  EXPECT_EQ(Collect("EX10"), "__");
  EXPECT_EQ(Cols("ConnectorGeneral", kSite, 4, 14).at(0), (Texts{"", "", "", "1", "", "", "", "", "", "To Hilltop"}));
  EXPECT_EQ(Cols("ConnectorMiscInfo", kSite, 8),
            (std::vector<Texts>{
                {"X400", "c=US;a= ;p=Velmor;o=Hilltop", "1", "Organization", "", "EX10", "100", "svc-exchange", "CORP"},
                {"SMTP", "*", "1", "Site", "", "", "", "svc-exchange", "CORP"},
                {"MS", "VELMOR/HILL/*", "3", "Location", "", "", "", "svc-exchange", "CORP"}}));
  // Hilltop's connector has neither list nor account: one bare row.
  EXPECT_EQ(Cols("ConnectorMiscInfo", "Site Connector (Lakeside)", 0),
            (std::vector<Texts>{Texts{"EX10", kHillConnections, "Site Connector (Lakeside)", "Site Connector (Lakeside)"} +
                                Texts(13, "")}));
}

TEST_F(Connectors, NewsfeedRowPerInboundHost) {
  Collect("EX1");
  Collect("EX10");
  // A LAN connection leaves the dial-up values out; the administrator is
  // named by common name; an inbound account that no longer exists is
  // empty; no incoming size is "0".
  auto usenet = Cols("ConnectorNewsfeed", kUsenet, 4);
  ASSERT_EQ(usenet.size(), 3u);
  usenet[0][4] = "";  // created
  EXPECT_EQ(usenet[0], (Texts{"Inbound and Outbound", "True", "John Smith", "Public news", "", "1000", "0",
                              "usenet.example.com", "news.example.com", "news1.example.com",
                              "Connect using my Local Area Network (LAN)", "", "", "No", "newsuser", ""}));
  EXPECT_EQ(Column(kit_.RowsWhere("ConnectorNewsfeed", "Directory Name", kUsenet), 13),
            (Texts{"news1.example.com", "news2.example.com", "news3.example.com"}));
  auto dialup = Cols("ConnectorNewsfeed", "Newsfeed (dialup)", 0);
  ASSERT_EQ(dialup.size(), 1u);
  dialup[0][8] = "";
  EXPECT_EQ(dialup[0], (Texts{"EX10", kHillConnections, "Newsfeed (dialup)", "Newsfeed (dialup)", "7", "False", "", "",
                              "", "0", "2048", "dialup.example.net", "news.dialup.example.net",
                              "news.dialup.example.net", "Connect using Dial-up Networking", "Provider", "newsdial",
                              "Yes", "", ""}));
}

TEST_F(Connectors, CredentialsNamesAndTheConnectionsContainer) {
  const std::string changes =
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
      "\nchangetype: add\nobjectClass: Mail-Gateway\ncn: cc:Mail Connector (EX2)\n\n" +
      DeleteSubtrees({"cn=Connections,cn=Configuration,ou=Hilltop,o=Velmor"});
  ChangedDirectory changed(changes);

  // The name with two kinds is an Internet Mail Connector; cc:Mail and the
  // lower-case name are passed over.
  EXPECT_EQ(Collect("EX1", kAdmin, kAdminPassword), "_____");
  EXPECT_EQ(Column(kit_.Rows("ConnectorGeneral"), 3),
            (Texts{kImc, kMsMail, kSite, "Internet Mail Connector over Site Connector"}));
  EXPECT_EQ(Cols("ConnectorDelivRestr", kImc, 4).at(0), (Texts{"John Smith", "Board Advisor"}));
  EXPECT_EQ(Cols("ConnectorNewsfeed", kUsenet, 6, 7).at(0), Texts{"Board Advisor"});
  EXPECT_EQ(kit_.LinesOf("GetConnectorInfo End")[0][2], "EX1-" + kAdmin + ",cn=admin-");
  EXPECT_EQ(kit_.LinesOf("GetIMCInfo Start")[0][2], "cn=" + kImc + "-EX1-" + kAdmin + ",cn=admin-");
  // Anonymously those names cannot be found.
  Collect("EX1");
  EXPECT_EQ(Cols("ConnectorDelivRestr", kImc, 5, 6).at(3), Texts{""});
  EXPECT_EQ(Cols("ConnectorNewsfeed", kUsenet, 6, 7).at(3), Texts{""});

  // Hilltop lost its Connections container.
  EXPECT_EQ(Collect("EX10"), "Connections container@@    " + kNoSuchObject);
  EXPECT_TRUE(kit_.RowsWhere("ConnectorGeneral", "ServerName", "EX10").empty());
  EXPECT_EQ(kit_.LinesOf("Listing objects under Connections Container 'LDAP://EX10/CN=Connections,CN=Configuration,"
                         "ou=Hilltop,o=Velmor' using credential ''")
                .size(),
            1u);
  for (const auto& l : kit_.LogLines()) EXPECT_EQ(l.find(kAdminPassword), std::string::npos) << l;
}
