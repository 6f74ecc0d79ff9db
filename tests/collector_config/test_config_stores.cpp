// The private and public information stores of the sample servers: their
// General rows, permission rows, addresses and the store service's
// diagnostics-logging rows, the missing public store of EX2, the public
// folder server named by distinguished name, and an unreachable registry.
#include <regex>
#include <set>

#include "ConfigKit.h"

using namespace config_test;

namespace {

std::string StorePath(const std::string& site, const std::string& server, const std::string& store) {
  return "o=Velmor/ou=" + site + "/cn=Configuration/cn=Servers/cn=" + server + "/cn=Microsoft " + store + " MDB";
}
const std::string kEx1PublicDn = "cn=Microsoft Public MDB,cn=EX1,cn=Servers,cn=Configuration,ou=Lakeside,o=Velmor";

bool IsDate(const std::string& text) {
  return std::regex_match(text, std::regex(R"(\d{1,2}/\d{1,2}/1999 \d{1,2}:\d\d:\d\d (AM|PM))"));
}

class Stores : public SampleTest {
 protected:
  std::string Private(const std::string& server, const std::string& user = "", const std::string& password = "") {
    std::string err = "not touched";
    kit_.NewCollector()->GetPrivateISInfo(server, user, password, &err);
    return err;
  }
  std::string Public(const std::string& server) {
    std::string err = "not touched";
    kit_.NewCollector()->GetPublicISInfo(server, "", "", &err);
    return err;
  }
  // The DiagLogging rows of one store's call: services and category.
  std::vector<Texts> Diagnostics(const std::string& objectPath) {
    std::vector<Texts> out;
    for (const auto& r : kit_.RowsWhere("DiagLogging", "Object Path", objectPath)) out.push_back(Slice(r, 4));
    return out;
  }
};

}  // namespace

TEST_F(Stores, PrivateStoreGeneralRowPerServer) {
  for (const auto& server : {"EX1", "EX2", "EX10"}) EXPECT_EQ(Private(server), "") << server;
  auto rows = kit_.Rows("ServerPrivateISGeneral");
  ASSERT_EQ(rows.size(), 3u);
  // Thirty days, the public store of EX1 named by its distinguished name
  // (it has no alias), warning, send and receive limits.
  EXPECT_EQ(Slice(rows[0], 0, 10),
            (Texts{"EX1", StorePath("Lakeside", "EX1", "Private"), "Private Information Store",
                   "Microsoft Private MDB", "30", "Yes", "50000", "75000", "100000", kEx1PublicDn}));
  EXPECT_TRUE(IsDate(rows[0][10].Text())) << rows[0][10].Text();
  // Twelve hours of retention are half a day; DXA-Flags 0 is "No".
  EXPECT_EQ(Slice(rows[1], 4, 10), (Texts{"0.5", "No", "50000", "75000", "100000", kEx1PublicDn}));
  // EX10 names a public store that does not exist: no public folder
  // server; the limits it lacks stay empty.
  EXPECT_EQ(Slice(rows[2], 1, 10), (Texts{StorePath("Hilltop", "EX10", "Private"), "Private Information Store",
                                          "Microsoft Private MDB", "7", "Yes", "50000", "", "", ""}));
}

TEST_F(Stores, PublicStoreGeneralAndAddressRows) {
  EXPECT_EQ(Public("EX1"), "");
  auto general = kit_.Rows("ServerPublicISGeneral");
  ASSERT_EQ(general.size(), 1u);
  EXPECT_EQ(Slice(general[0], 0, 7), (Texts{"EX1", StorePath("Lakeside", "EX1", "Public"), "Public Information Store",
                                            "Microsoft Public MDB", "7", "No", "100000"}));
  EXPECT_TRUE(IsDate(general[0][7].Text()));

  auto misc = kit_.Rows("ServerPublicISMiscInfo");
  ASSERT_EQ(misc.size(), 4u);
  EXPECT_EQ(Column(misc, 6), (Texts{"SMTP", "X.400", "CCMAIL", "MS"}));
  EXPECT_EQ(Column(misc, 7), (Texts{"EX1-PUB@velmor.example", "c=US;a= ;p=Velmor;o=Lakeside;s=EX1-PUB;",
                                    "EX1 Public at Lakeside", "VELMOR/LAKESIDE/EX1PUB"}));
  for (const auto& r : misc) {
    EXPECT_EQ(Slice(r, 0, 6), (Texts{"EX1", StorePath("Lakeside", "EX1", "Public"), "Public Information Store",
                                     "Microsoft Public MDB", "", ""}));
    EXPECT_EQ(Slice(r, 8), (Texts{"", ""}));
  }
}

TEST_F(Stores, PermissionAndDiagnosticsRowsLandNextToThePendingGeneralRow) {
  Private("EX1");
  Public("EX1");
  const auto privatePath = StorePath("Lakeside", "EX1", "Private");
  const auto publicPath = StorePath("Lakeside", "EX1", "Public");
  for (const auto& [table, path] : {std::pair{"ServerPrivateISPerm", privatePath}, {"ServerPublicISPerm", publicPath}}) {
    auto perm = kit_.Rows(table);
    ASSERT_FALSE(perm.empty()) << table;
    for (const auto& r : perm) EXPECT_EQ(Slice(r, 0, 2), (Texts{"EX1", path})) << table;
    EXPECT_FALSE(Column(perm, 4)[0].empty()) << table;  // accounts resolved from the descriptor
  }
  // The General rows are there too.
  EXPECT_EQ(kit_.Rows("ServerPrivateISGeneral").size(), 1u);
  EXPECT_EQ(kit_.Rows("ServerPublicISGeneral").size(), 1u);

  // Both stores hand every category of the store service to the writer:
  // the same rows, told apart by path.
  auto privateRows = Diagnostics(privatePath);
  auto publicRows = Diagnostics(publicPath);
  ASSERT_FALSE(privateRows.empty());
  EXPECT_EQ(privateRows, publicRows);
  for (const auto& r : kit_.RowsWhere("DiagLogging", "Object Path", privatePath))
    EXPECT_EQ(Slice(r, 0, 4), (Texts{"EX1", privatePath, "Private Information Store", "Microsoft Private MDB"}));
}

TEST_F(Stores, StoreDiagnosticsWalkEveryCategoryAndLevel) {
  Private("EX1");
  auto rows = Diagnostics(StorePath("Lakeside", "EX1", "Private"));
  std::vector<std::string> services;
  for (const auto& r : rows)
    if (services.empty() || services.back() != r[0]) services.push_back(r[0]);
  // The protocols' key is replaced by its protocols; the category with a
  // name over 31 characters and the one after it are not lost.
  EXPECT_EQ(services, (Texts{"MSExchangeIS - Private", "MSExchangeIS - Public", "MSExchangeIS - System",
                             "MSExchangeIS - Internet Protocols - IMAP4", "MSExchangeIS - Internet Protocols - POP3",
                             "MSExchangeIS - Internet Protocols - NNTP",
                             "MSExchangeIS - Directory Synchronization Agents", "MSExchangeIS - Views"}));
  auto category = [&](const std::string& service) {
    std::vector<Texts> out;
    for (const auto& r : rows)
      if (r[0] == service) out.push_back({r[1], r[2]});
    return out;
  };
  // 5 Maximum, 0 None, 7 nothing, 1 Minimum, 3 Medium.
  auto priv = category("MSExchangeIS - Private");
  ASSERT_EQ(priv.size(), 12u);
  EXPECT_EQ(priv[0], (Texts{"Transfer Into Gateway", "Maximum"}));
  EXPECT_EQ(priv[1], (Texts{"Transfer Out Of Gateway", "None"}));
  EXPECT_EQ(priv[2], (Texts{"MTA Connections", ""}));
  EXPECT_EQ(priv[3], (Texts{"Logons", "Minimum"}));
  EXPECT_EQ(priv[5], (Texts{"Send On Behalf Of", "Medium"}));
  // A text value among the numbers gets its row without a level, and the
  // values after it are still read, each with its own level.
  EXPECT_EQ(category("MSExchangeIS - System"),
            (std::vector<Texts>{{"Recovery", "Medium"},
                                {"General", "Maximum"},
                                {"Connections", ""},
                                {"Table Cache", "None"},
                                {"Comment", ""},
                                {"Content Engine", "None"},
                                {"Performance Monitor", ""},
                                {"Move Mailbox", "Maximum"},
                                {"Download", "None"}}));
  EXPECT_EQ(category("MSExchangeIS - Directory Synchronization Agents"),
            (std::vector<Texts>{{"Incoming", ""}, {"Outgoing", "Maximum"}}));
  EXPECT_EQ(category("MSExchangeIS - Internet Protocols - IMAP4").size(), 4u);
  // Levels without text are Null, not an empty text.
  auto raw = kit_.Rows("DiagLogging", "[Category] = 'MTA Connections' and [Services] = 'MSExchangeIS - Private'");
  ASSERT_EQ(raw.size(), 1u);
  EXPECT_TRUE(raw[0][6].IsNull());
}

TEST_F(Stores, UnicodeExportIsReadLikeTheOthers) {
  Private("EX10");
  auto rows = Diagnostics(StorePath("Hilltop", "EX10", "Private"));
  ASSERT_EQ(rows.size(), 55u);
  EXPECT_EQ(rows[0], (Texts{"MSExchangeIS - Private", "Transfer Into Gateway", "Medium"}));
  EXPECT_EQ(rows.back(), (Texts{"MSExchangeIS - Views", "Restrictions", ""}));
}

TEST_F(Stores, MissingPublicStoreGivesOneItemAndNoRows) {
  EXPECT_EQ(Public("EX2"), "Public Information Store object@@  -2147016656  @@ There is no such object on the server.");
  for (const auto& table : {"ServerPublicISGeneral", "ServerPublicISPerm", "ServerPublicISMiscInfo", "DiagLogging"})
    EXPECT_TRUE(kit_.Rows(table).empty()) << table;
  const std::string path = "LDAP://EX2/" + StorePath("Lakeside", "EX2", "Public");
  auto line = kit_.LinesOf("Binding to the Public Information Store object  '" + path + "'' using credential ''");
  ASSERT_EQ(line.size(), 1u);
  EXPECT_EQ(line[0][1], "-2147016656");
  EXPECT_EQ(kit_.LinesOf("GetPublicISInfo End").size(), 1u);
}

TEST_F(Stores, PublicFolderServerResolvesWithTheCallsCredentials) {
  // EX1's public store gets an alias that only logged-on users may read.
  ChangedDirectory changed("dn: " + kEx1PublicDn + "\nchangetype: modify\nadd: uid\nuid: EX1-PUB\n-\n\n",
                           "access to dn.base=\"" + kEx1PublicDn + "\" by users read by * none");
  EXPECT_EQ(Private("EX1", kAdmin, kAdminPassword), "");
  EXPECT_EQ(Private("EX1"), "");
  auto rows = kit_.Rows("ServerPrivateISGeneral");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][9].Text(), "EX1-PUB");  // as the Connect As user
  EXPECT_EQ(rows[1][9].Text(), "");         // anonymously the store cannot be found
  EXPECT_EQ(kit_.LinesOf("GetPrivateISInfo End")[0][2], "EX1-" + kAdmin + ",cn=admin-");
}

TEST_F(Stores, UnreachableRegistryStillWritesTheStore) {
  fs::remove(kit_.registryFile("EX1"));
  EXPECT_EQ(Private("EX1"), "");
  EXPECT_EQ(kit_.Rows("ServerPrivateISGeneral").size(), 1u);
  EXPECT_FALSE(kit_.Rows("ServerPrivateISPerm").empty());
  EXPECT_TRUE(kit_.Rows("DiagLogging").empty());
  auto line = kit_.LinesOf("RegConnectRegistry Error in GetDataFromRegistry");
  ASSERT_EQ(line.size(), 1u);
  EXPECT_EQ(line[0][1], "53");
  EXPECT_EQ(line[0][2], "The network path was not found.");
}
