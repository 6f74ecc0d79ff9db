// Site and server protocols of the sample organisation, cell by cell for
// chosen protocols: value maps, authentication orders, referral and
// newsfeed rows, servers that follow their site, credentials and the
// container failures.
#include <algorithm>

#include "ConfigKit.h"

using namespace config_test;

namespace {

const std::string kLakeProtocols = kLake + "/cn=Configuration/cn=Protocols";
const std::string kEx1Protocols = kLake + "/cn=Configuration/cn=Servers/cn=EX1/cn=Protocols";

class Protocols : public SampleTest {
 protected:
  std::string Site(const std::string& server, const std::string& user = "", const std::string& password = "") {
    std::string err = "not touched";
    kit_.NewCollector()->GetProtocolInfo(server, user, password, &err);
    return err;
  }
  std::string Server(const std::string& server, const std::string& user = "", const std::string& password = "") {
    std::string err = "not touched";
    kit_.NewCollector()->GetServerProtocolsInfo(server, user, password, &err);
    return err;
  }
  std::vector<Cells> Of(const std::string& table, const std::string& directoryName) {
    return kit_.RowsWhere(table, "Directory Name", directoryName);
  }
};

}  // namespace

TEST_F(Protocols, SiteLevelWritesOneGeneralRowPerProtocol) {
  EXPECT_EQ(Site("EX1"), "_____");
  auto rows = kit_.Rows("ProtocolGeneral");
  ASSERT_EQ(rows.size(), 5u);
  auto names = Column(rows, 4);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (Texts{"HTTP", "IMAP4", "LDAP", "NNTP", "POP3"}));
  for (const auto& r : rows) {
    EXPECT_EQ(Slice(r, 0, 3), (Texts{"EX1", "Site", kLakeProtocols}));
    EXPECT_EQ(r[5].Text(), "");  // site defaults have no "use site defaults"
  }
  EXPECT_EQ(TextsOf(Of("ProtocolGeneral", "HTTP")[0]),
            (Texts{"EX1", "Site", kLakeProtocols, "HTTP (Web) Site Settings", "HTTP", "", "True",
                   "Outlook Web Access", "True", "True", "50", "", "", "", "True", "", "", ""}));
  EXPECT_EQ(TextsOf(Of("ProtocolGeneral", "IMAP4")[0]),
            (Texts{"EX1", "Site", kLakeProtocols, "IMAP4 (Mail) Site Defaults", "IMAP4", "", "True", "", "", "", "",
                   "True", "", "", "False", "IMAP-Guest", "", "600"}));
  EXPECT_EQ(Slice(Of("ProtocolGeneral", "LDAP")[0], 6), (Texts{"True", "", "", "", "", "", "", "389", "True", "", "",
                                                               "Do not close idle connections"}));
  EXPECT_EQ(Slice(Of("ProtocolGeneral", "NNTP")[0], 6),
            (Texts{"True", "", "", "", "", "", "", "", "False", "", "True", "10"}));
  // POP3 has no anonymous access at all, not even "False".
  EXPECT_EQ(Slice(Of("ProtocolGeneral", "POP3")[0], 6),
            (Texts{"False", "", "", "", "", "", "", "", "", "", "", "600"}));

  // Every protocol object has its permission rows, with the level and the
  // container's path.
  for (const auto& name : {"HTTP", "IMAP4", "LDAP", "NNTP", "POP3"}) {
    auto perm = Of("ProtocolPerm", name);
    ASSERT_FALSE(perm.empty()) << name;
    for (const auto& r : perm) EXPECT_EQ(Slice(r, 0, 3), (Texts{"EX1", "Site", kLakeProtocols})) << name;
  }
}

TEST_F(Protocols, AuthenticationRowsKeepTheListOrderAndMapFormats) {
  Site("EX1");
  auto methods = [&](const std::string& name) {
    std::vector<Texts> out;
    for (const auto& r : Of("ProtocolAuthFormat", name)) out.push_back(Slice(r, 6, 8));
    return out;
  };
  // 1§XYZ, 1§NTLM, 1§CLEARTEXT, 0§CLEARTEXTSSL: the unknown package keeps
  // its place as an empty row.
  EXPECT_EQ(methods("LDAP"), (std::vector<Texts>{{"", ""},
                                                 {"Windows NT Challenge/Response", "Yes"},
                                                 {"Basic (Clear Text)", "Yes"},
                                                 {"Basic (Clear Text) using SSL", "No"}}));
  EXPECT_EQ(methods("IMAP4"),
            (std::vector<Texts>{{"Windows NT Challenge/Response", "Yes"}, {"Basic (Clear Text)", "No"}}));
  EXPECT_EQ(methods("NNTP"),
            (std::vector<Texts>{{"Windows NT Challenge/Response", "Yes"}, {"MCIS Membership System", "Yes"}}));
  EXPECT_EQ(methods("POP3"), (std::vector<Texts>{{"Windows NT Challenge/Response", "Yes"},
                                                 {"Basic (Clear Text)", "Yes"},
                                                 {"Windows NT Challenge/Response using SSL", "No"}}));
  // HTTP reads no packages: one row, everything empty.
  EXPECT_EQ(methods("HTTP"), (std::vector<Texts>{{"", ""}}));

  // Formats, repeated on every row of a protocol.
  auto formats = [&](const std::string& name) { return Slice(Of("ProtocolAuthFormat", name).back(), 8); };
  EXPECT_EQ(formats("IMAP4"), (Texts{"MIME - Provide message body as plain text", "ISO-8859-1", "False", ""}));
  EXPECT_EQ(formats("NNTP"), (Texts{"UUENCODE Default", "", "", "False"}));
  EXPECT_EQ(formats("POP3"), (Texts{"", "UTF-8", "True", ""}));  // Content-Type 7 has no text
  EXPECT_EQ(formats("LDAP"), (Texts{"", "", "", ""}));           // LDAP and HTTP have no MIME encoding
  EXPECT_EQ(formats("HTTP"), (Texts{"", "", "", ""}));
  for (const auto& r : Of("ProtocolAuthFormat", "LDAP"))
    EXPECT_EQ(Slice(r, 0, 6), (Texts{"EX1", "Site", kLakeProtocols, "LDAP (Directory) Site Defaults", "LDAP", ""}));
}

TEST_F(Protocols, ReferralsAndNewsfeedsGiveOneMiscRowEach) {
  Site("EX1");
  auto ldap = Of("ProtocolMiscInfo", "LDAP");
  ASSERT_EQ(ldap.size(), 3u);
  EXPECT_EQ(Column(ldap, 9), (Texts{"ldap://ex1.velmor.example", "ldap://ex2.velmor.example",
                                    "ldap://ex10.velmor.example"}));
  for (const auto& r : ldap)
    EXPECT_EQ(Slice(r, 6), (Texts{"", "Allow only initial substring searches (fast)", "100",
                                  r[9].Text(), "", ""}));
  auto nntp = Of("ProtocolMiscInfo", "NNTP");
  ASSERT_EQ(nntp.size(), 2u);
  EXPECT_EQ(Column(nntp, 10), (Texts{"Newsfeed (usenet.example.com)", "Newsfeed (dialup)"}));
  EXPECT_EQ(Column(nntp, 7), (Texts{"", ""}));
  for (const auto& name : {"HTTP", "IMAP4", "POP3"}) {
    auto rows = Of("ProtocolMiscInfo", name);
    ASSERT_EQ(rows.size(), 1u) << name;
    EXPECT_EQ(Slice(rows[0], 6), (Texts{"", "", "", "", "", ""})) << name;
  }
}

TEST_F(Protocols, HilltopDefaultsWithoutLimitAndReferrals) {
  EXPECT_EQ(Site("EX10"), "_____");
  EXPECT_EQ(Of("ProtocolGeneral", "HTTP")[0][10].Text(), "No limit");
  // No referrals: one row that still carries the search settings.
  auto ldap = Of("ProtocolMiscInfo", "LDAP");
  ASSERT_EQ(ldap.size(), 1u);
  EXPECT_EQ(Slice(ldap[0], 6), (Texts{"", "Allow only initial substring searches (fast)", "100", "", "", ""}));
  EXPECT_EQ(ldap[0][2].Text(), kHill + "/cn=Configuration/cn=Protocols");
}

TEST_F(Protocols, ServerLevelFollowsTheSiteOrKeepsItsOwnSettings) {
  EXPECT_EQ(Server("EX1"), "_____");
  auto rows = kit_.Rows("ProtocolGeneral");
  ASSERT_EQ(rows.size(), 5u);
  for (const auto& r : rows) EXPECT_EQ(Slice(r, 0, 3), (Texts{"EX1", "Server", kEx1Protocols}));

  // IMAP4 overrides the site: its own settings are read.
  EXPECT_EQ(Slice(Of("ProtocolGeneral", "IMAP4")[0], 3),
            (Texts{"IMAP4 (EX1)", "IMAP4", "No", "True", "Server settings", "", "", "", "False", "", "", "False",
                   "IMAP-Guest", "", "1200"}));
  auto imapAuth = Of("ProtocolAuthFormat", "IMAP4");
  ASSERT_EQ(imapAuth.size(), 2u);
  EXPECT_EQ(Slice(imapAuth[0], 5), (Texts{"No", "Windows NT Challenge/Response using SSL", "Yes",
                                          "MIME - Provide message body as HTML", "UTF-8", "True", ""}));
  EXPECT_EQ(Slice(imapAuth[1], 6, 8), (Texts{"Basic (Clear Text) using SSL", "Yes"}));

  // The others follow the site: names and note only, one empty row in
  // each of the other tables, and their permissions all the same.
  for (const auto& name : {"HTTP", "LDAP", "NNTP", "POP3"}) {
    auto general = Of("ProtocolGeneral", name);
    ASSERT_EQ(general.size(), 1u) << name;
    EXPECT_EQ(Slice(general[0], 4), (Texts{name, "Yes", "", "Server settings", "", "", "", "", "", "", "", "", "",
                                           ""}))
        << name;
    auto auth = Of("ProtocolAuthFormat", name);
    ASSERT_EQ(auth.size(), 1u) << name;
    EXPECT_EQ(Slice(auth[0], 5), (Texts{"Yes", "", "", "", "", "", ""})) << name;
    auto misc = Of("ProtocolMiscInfo", name);
    ASSERT_EQ(misc.size(), 1u) << name;
    EXPECT_EQ(Slice(misc[0], 5), (Texts{"Yes", "", "", "", "", "", ""})) << name;
    ASSERT_FALSE(Of("ProtocolPerm", name).empty()) << name;
    EXPECT_EQ(Of("ProtocolPerm", name)[0][1].Text(), "Server") << name;
  }
}

TEST_F(Protocols, CredentialsReachEveryProtocolAndNeverThePassword) {
  EXPECT_EQ(Server("EX2", kAdmin, kAdminPassword), "_____");
  EXPECT_EQ(kit_.Rows("ProtocolGeneral").size(), 5u);
  auto start = kit_.LinesOf("GetServerProtocolsInfo Start");
  ASSERT_EQ(start.size(), 1u);
  EXPECT_EQ(start[0][1], "Parameters");
  EXPECT_EQ(start[0][2], "EX2-" + kAdmin + "-");
  EXPECT_EQ(kit_.LinesOf("GetServerProtocolsInfo End")[0][2], "EX2-" + kAdmin + ",cn=admin-");
  auto props = kit_.LinesOf("GetProtocolProp Start");
  ASSERT_EQ(props.size(), 5u);
  EXPECT_EQ(props[0][2], "Server-cn=HTTP-EX2-" + kAdmin + ",cn=admin-");
  // Each protocol object runs the set-up again.
  EXPECT_EQ(kit_.LinesOf("InitializeVariables Start").size(), 6u);
  for (const auto& l : kit_.LogLines()) EXPECT_EQ(l.find(kAdminPassword), std::string::npos) << l;
}

TEST_F(Protocols, MissingContainersGiveOneItemAndNoRows) {
  ChangedDirectory changed(DeleteSubtrees({"cn=Protocols,cn=Configuration,ou=Lakeside,o=Velmor",
                                           "cn=Protocols,cn=EX1,cn=Servers,cn=Configuration,ou=Lakeside,o=Velmor"}));
  EXPECT_EQ(Site("EX1"), "Protocols container@@  " + kNoSuchObject);
  EXPECT_EQ(Server("EX1"), "Servers-Protocols container@@  " + kNoSuchObject);
  EXPECT_TRUE(kit_.Rows("ProtocolGeneral").empty());
  EXPECT_TRUE(kit_.Rows("ProtocolPerm").empty());
  EXPECT_EQ(kit_.LinesOf("Listing objects under Protocols Container 'LDAP://EX1/CN=Protocols,CN=Configuration,"
                         "ou=Lakeside,o=Velmor' using credential ''")
                .size(),
            1u);
  auto server_line = kit_.LinesOf("Listing objects under Servers-Protocols Container 'LDAP://EX1/CN=Protocols,"
                                  "CN=EX1,CN=Servers,CN=Configuration,ou=Lakeside,o=Velmor' using credential ''");
  ASSERT_EQ(server_line.size(), 1u);
  EXPECT_EQ(server_line[0][1], "-2147016656");
  EXPECT_EQ(kit_.LinesOf("GetProtocolInfo End").size(), 1u);
  EXPECT_EQ(kit_.LinesOf("GetServerProtocolsInfo End").size(), 1u);
}
