// Site and server protocols of the sample organisation: value maps,
// authentication orders, referral and newsfeed rows, servers that follow
// their site, credentials and the containers' failures.
#include <algorithm>

#include "ConfigKit.h"

using namespace config_test;

namespace {

const std::string kLakeProtocols = kLake + "/cn=Configuration/cn=Protocols";
const std::string kEx1Protocols = kLake + "/cn=Configuration/cn=Servers/cn=EX1/cn=Protocols";

class Protocols : public SampleTest {
 protected:
  std::string Collect(bool server, const std::string& name, const std::string& user = "",
                      const std::string& password = "") {
    return kit_.Run(server ? &_Exch55Info::GetServerProtocolsInfo : &_Exch55Info::GetProtocolInfo, name, user,
                    password);
  }
  std::vector<Cells> Of(const std::string& table, const std::string& protocol) {
    return kit_.RowsWhere(table, "Directory Name", protocol);
  }
  // Columns from..to of every row of a protocol.
  std::vector<Texts> Cols(const std::string& table, const std::string& protocol, size_t from, long to = -1) {
    std::vector<Texts> out;
    for (const auto& r : Of(table, protocol)) out.push_back(Slice(r, from, to));
    return out;
  }
};

}  // namespace

TEST_F(Protocols, SiteLevelGeneralRows) {
  EXPECT_EQ(Collect(false, "EX1"), "_____");
  auto rows = kit_.Rows("ProtocolGeneral");
  ASSERT_EQ(rows.size(), 5u);
  for (const auto& r : rows) EXPECT_EQ(Slice(r, 0, 3), (Texts{"EX1", "Site", kLakeProtocols}));
  EXPECT_EQ(Slice(Of("ProtocolGeneral", "HTTP")[0], 3),
            (Texts{"HTTP (Web) Site Settings", "HTTP", "", "True", "Outlook Web Access", "True", "True", "50", "", "",
                   "", "True", "", "", ""}));
  EXPECT_EQ(Slice(Of("ProtocolGeneral", "IMAP4")[0], 5),
            (Texts{"", "True", "", "", "", "", "True", "", "", "False", "IMAP-Guest", "", "600"}));
  EXPECT_EQ(Slice(Of("ProtocolGeneral", "LDAP")[0], 13), (Texts{"389", "True", "", "", "Do not close idle connections"}));
  // POP3 has no anonymous access at all, not even "False".
  EXPECT_EQ(Slice(Of("ProtocolGeneral", "POP3")[0], 6), (Texts{"False", "", "", "", "", "", "", "", "", "", "", "600"}));
  for (const auto& name : {"HTTP", "IMAP4", "LDAP", "NNTP", "POP3"})
    EXPECT_EQ(Cols("ProtocolPerm", name, 0, 3).at(0), (Texts{"EX1", "Site", kLakeProtocols})) << name;

  // Hilltop's HTTP has no address book limit.
  Collect(false, "EX10");
  EXPECT_EQ(kit_.Rows("ProtocolGeneral", "[ServerName] = 'EX10' and [Directory Name] = 'HTTP'")[0][10].Text(),
            "No limit");
}

TEST_F(Protocols, AuthenticationRowsKeepTheListOrderAndMapFormats) {
  Collect(false, "EX1");
  // 1§XYZ, 1§NTLM, 1§CLEARTEXT, 0§CLEARTEXTSSL: the unknown package keeps
  // its place as an empty row.
  EXPECT_EQ(Cols("ProtocolAuthFormat", "LDAP", 6, 8), (std::vector<Texts>{{"", ""},
                                                                           {"Windows NT Challenge/Response", "Yes"},
                                                                           {"Basic (Clear Text)", "Yes"},
                                                                           {"Basic (Clear Text) using SSL", "No"}}));
  EXPECT_EQ(Cols("ProtocolAuthFormat", "NNTP", 6, 8),
            (std::vector<Texts>{{"Windows NT Challenge/Response", "Yes"}, {"MCIS Membership System", "Yes"}}));
  // HTTP reads no packages: one row, everything empty.
  EXPECT_EQ(Cols("ProtocolAuthFormat", "HTTP", 6), (std::vector<Texts>{{"", "", "", "", "", ""}}));
  // Formats on every row; Content-Type 7 has no text; LDAP has no MIME.
  EXPECT_EQ(Cols("ProtocolAuthFormat", "IMAP4", 8).back(),
            (Texts{"MIME - Provide message body as plain text", "ISO-8859-1", "False", ""}));
  EXPECT_EQ(Cols("ProtocolAuthFormat", "NNTP", 8).back(), (Texts{"UUENCODE Default", "", "", "False"}));
  EXPECT_EQ(Cols("ProtocolAuthFormat", "POP3", 8), std::vector<Texts>(3, Texts{"", "UTF-8", "True", ""}));
  EXPECT_EQ(Cols("ProtocolAuthFormat", "LDAP", 8).back(), (Texts{"", "", "", ""}));
}

TEST_F(Protocols, ReferralsAndNewsfeedsGiveOneMiscRowEach) {
  Collect(false, "EX1");
  Collect(false, "EX10");
  EXPECT_EQ(Cols("ProtocolMiscInfo", "LDAP", 6),
            (std::vector<Texts>{{"", "Allow only initial substring searches (fast)", "100", "ldap://ex1.velmor.example", "", ""},
                                {"", "Allow only initial substring searches (fast)", "100", "ldap://ex2.velmor.example", "", ""},
                                {"", "Allow only initial substring searches (fast)", "100", "ldap://ex10.velmor.example", "", ""},
                                // Hilltop: no referrals, one row with the settings
                                {"", "Allow only initial substring searches (fast)", "100", "", "", ""}}));
  EXPECT_EQ(Cols("ProtocolMiscInfo", "NNTP", 9, 11).front(), (Texts{"", "Newsfeed (usenet.example.com)"}));
  EXPECT_EQ(Cols("ProtocolMiscInfo", "NNTP", 9, 11)[1], (Texts{"", "Newsfeed (dialup)"}));
  EXPECT_EQ(Cols("ProtocolMiscInfo", "POP3", 6), std::vector<Texts>(2, Texts(6, "")));
}

TEST_F(Protocols, ServerLevelFollowsTheSiteOrKeepsItsOwnSettings) {
  EXPECT_EQ(Collect(true, "EX1"), "_____");
  for (const auto& r : kit_.Rows("ProtocolGeneral")) EXPECT_EQ(Slice(r, 0, 3), (Texts{"EX1", "Server", kEx1Protocols}));
  // IMAP4 overrides the site: its own settings.
  EXPECT_EQ(Slice(Of("ProtocolGeneral", "IMAP4")[0], 5),
            (Texts{"No", "True", "Server settings", "", "", "", "False", "", "", "False", "IMAP-Guest", "", "1200"}));
  EXPECT_EQ(Cols("ProtocolAuthFormat", "IMAP4", 6, 9),
            (std::vector<Texts>{{"Windows NT Challenge/Response using SSL", "Yes", "MIME - Provide message body as HTML"},
                                {"Basic (Clear Text) using SSL", "Yes", "MIME - Provide message body as HTML"}}));
  // The others follow the site: names, note and permissions only, one
  // empty row in each of the other tables.
  for (const auto& name : {"HTTP", "LDAP", "NNTP", "POP3"}) {
    EXPECT_EQ(Cols("ProtocolGeneral", name, 5), (std::vector<Texts>{{"Yes", "", "Server settings", "", "", "", "",
                                                                      "", "", "", "", "", ""}}))
        << name;
    EXPECT_EQ(Cols("ProtocolAuthFormat", name, 5), (std::vector<Texts>{{"Yes", "", "", "", "", "", ""}})) << name;
    EXPECT_EQ(Cols("ProtocolMiscInfo", name, 5), (std::vector<Texts>{{"Yes", "", "", "", "", "", ""}})) << name;
    EXPECT_EQ(Cols("ProtocolPerm", name, 1, 2).at(0), Texts{"Server"}) << name;
  }
}

TEST_F(Protocols, CredentialsReachEveryProtocolAndNeverThePassword) {
  EXPECT_EQ(Collect(true, "EX2", kAdmin, kAdminPassword), "_____");
  EXPECT_EQ(kit_.LinesOf("GetServerProtocolsInfo Start")[0][2], "EX2-" + kAdmin + "-");
  EXPECT_EQ(kit_.LinesOf("GetServerProtocolsInfo End")[0][2], "EX2-" + kAdmin + ",cn=admin-");
  EXPECT_EQ(kit_.LinesOf("GetProtocolProp Start")[0][2], "Server-cn=HTTP-EX2-" + kAdmin + ",cn=admin-");
  // Each protocol object runs the set-up again.
  EXPECT_EQ(kit_.LinesOf("InitializeVariables Start").size(), 6u);
  for (const auto& l : kit_.LogLines()) EXPECT_EQ(l.find(kAdminPassword), std::string::npos) << l;
}

TEST_F(Protocols, MissingContainersGiveOneItemAndNoRows) {
  ChangedDirectory changed(DeleteSubtrees({"cn=Protocols,cn=Configuration,ou=Lakeside,o=Velmor",
                                           "cn=Protocols,cn=EX1,cn=Servers,cn=Configuration,ou=Lakeside,o=Velmor"}));
  EXPECT_EQ(Collect(false, "EX1"), "Protocols container@@  " + kNoSuchObject);
  EXPECT_EQ(Collect(true, "EX1"), "Servers-Protocols container@@  " + kNoSuchObject);
  EXPECT_TRUE(kit_.Rows("ProtocolGeneral").empty());
  EXPECT_EQ(kit_.LinesOf("Listing objects under Protocols Container 'LDAP://EX1/CN=Protocols,CN=Configuration,"
                         "ou=Lakeside,o=Velmor' using credential ''")
                .size(),
            1u);
  auto line = kit_.LinesOf("Listing objects under Servers-Protocols Container 'LDAP://EX1/CN=Protocols,CN=EX1,"
                           "CN=Servers,CN=Configuration,ou=Lakeside,o=Velmor' using credential ''");
  ASSERT_EQ(line.size(), 1u);
  EXPECT_EQ(line[0][1], "-2147016656");
}
