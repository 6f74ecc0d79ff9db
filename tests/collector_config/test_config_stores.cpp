// The private and public information stores of the sample servers: their
// General rows, permission rows, addresses and the store service's
// diagnostics-logging rows, the missing public store of EX2, and the public
// folder server named by distinguished name.
#include "ConfigKit.h"

using namespace config_test;

namespace {

std::string StorePath(const std::string& site, const std::string& server, const std::string& store) {
  return "o=Velmor/ou=" + site + "/cn=Configuration/cn=Servers/cn=" + server + "/cn=Microsoft " + store + " MDB";
}
const std::string kEx1PublicDn = "cn=Microsoft Public MDB,cn=EX1,cn=Servers,cn=Configuration,ou=Lakeside,o=Velmor";

class Stores : public SampleTest {
 protected:
  std::string Collect(bool publicStore, const std::string& server, const std::string& user = "",
                      const std::string& password = "") {
    return kit_.Run(publicStore ? &_Exch55Info::GetPublicISInfo : &_Exch55Info::GetPrivateISInfo, server, user,
                    password);
  }
  // Services, category and level of the DiagLogging rows of one store.
  std::vector<Texts> Diagnostics(const std::string& objectPath) {
    std::vector<Texts> out;
    for (const auto& r : kit_.RowsWhere("DiagLogging", "Object Path", objectPath)) out.push_back(Slice(r, 4));
    return out;
  }
};

}  // namespace

TEST_F(Stores, GeneralRowsOfBothStores) {
  for (const auto& server : {"EX1", "EX2", "EX10"}) EXPECT_EQ(Collect(false, server), "") << server;
  auto rows = kit_.Rows("ServerPrivateISGeneral");
  ASSERT_EQ(rows.size(), 3u);
  // Thirty days; the public store named by its distinguished name, as it
  // has no alias.
  EXPECT_EQ(Slice(rows[0], 0, 10),
            (Texts{"EX1", StorePath("Lakeside", "EX1", "Private"), "Private Information Store",
                   "Microsoft Private MDB", "30", "Yes", "50000", "75000", "100000", kEx1PublicDn}));
  EXPECT_FALSE(rows[0][10].Text().empty());
  // Twelve hours are half a day; DXA-Flags 0 is "No".
  EXPECT_EQ(Slice(rows[1], 4, 6), (Texts{"0.5", "No"}));
  // A public store that does not exist gives no public folder server.
  EXPECT_EQ(Slice(rows[2], 4, 10), (Texts{"7", "Yes", "50000", "", "", ""}));

  EXPECT_EQ(Collect(true, "EX1"), "");
  EXPECT_EQ(Slice(kit_.Rows("ServerPublicISGeneral").at(0), 0, 7),
            (Texts{"EX1", StorePath("Lakeside", "EX1", "Public"), "Public Information Store", "Microsoft Public MDB",
                   "7", "No", "100000"}));
  std::vector<Texts> addresses;
  for (const auto& r : kit_.Rows("ServerPublicISMiscInfo")) addresses.push_back(Slice(r, 4));
  EXPECT_EQ(addresses, (std::vector<Texts>{{"", "", "SMTP", "EX1-PUB@velmor.example", "", ""},
                                           {"", "", "X.400", "c=US;a= ;p=Velmor;o=Lakeside;s=EX1-PUB;", "", ""},
                                           {"", "", "CCMAIL", "EX1 Public at Lakeside", "", ""},
                                           {"", "", "MS", "VELMOR/LAKESIDE/EX1PUB", "", ""}}));
}

TEST_F(Stores, PermissionAndDiagnosticsRowsLandNextToThePendingGeneralRow) {
  Collect(false, "EX1");
  Collect(true, "EX1");
  const auto privatePath = StorePath("Lakeside", "EX1", "Private");
  const auto publicPath = StorePath("Lakeside", "EX1", "Public");
  for (const auto& [table, path] : {std::pair{"ServerPrivateISPerm", privatePath}, {"ServerPublicISPerm", publicPath}}) {
    auto perm = kit_.Rows(table);
    ASSERT_FALSE(perm.empty()) << table;
    EXPECT_EQ(Slice(perm[0], 0, 2), (Texts{"EX1", path})) << table;
    EXPECT_NE(perm[0][4].Text(), "") << table;  // accounts resolved from the descriptor
  }
  // Both stores hand every category of the store service to the writer.
  auto privateRows = Diagnostics(privatePath);
  ASSERT_EQ(privateRows.size(), 55u);
  EXPECT_EQ(privateRows, Diagnostics(publicPath));
  EXPECT_EQ(Slice(kit_.RowsWhere("DiagLogging", "Object Path", privatePath)[0], 0, 4),
            (Texts{"EX1", privatePath, "Private Information Store", "Microsoft Private MDB"}));
}

TEST_F(Stores, StoreDiagnosticsWalkEveryCategoryAndLevel) {
  Collect(false, "EX1");
  Collect(false, "EX10");  // an export in UTF-16 reads the same way
  for (const auto& [path, first] :
       {std::pair{StorePath("Lakeside", "EX1", "Private"), "Maximum"}, {StorePath("Hilltop", "EX10", "Private"), "Medium"}}) {
    auto rows = Diagnostics(path);
    ASSERT_EQ(rows.size(), 55u) << path;
    EXPECT_EQ(rows[0], (Texts{"MSExchangeIS - Private", "Transfer Into Gateway", first}));
  }
  auto rows = Diagnostics(StorePath("Lakeside", "EX1", "Private"));
  Texts services;
  for (const auto& r : rows)
    if (services.empty() || services.back() != r[0]) services.push_back(r[0]);
  // The protocols' key is replaced by its protocols; the category with a
  // name over 31 characters and the one after it are not lost.
  EXPECT_EQ(services, (Texts{"MSExchangeIS - Private", "MSExchangeIS - Public", "MSExchangeIS - System",
                             "MSExchangeIS - Internet Protocols - IMAP4", "MSExchangeIS - Internet Protocols - POP3",
                             "MSExchangeIS - Internet Protocols - NNTP",
                             "MSExchangeIS - Directory Synchronization Agents", "MSExchangeIS - Views"}));
  // 5, 0, 7, 1 in the Private category.
  EXPECT_EQ(Texts({rows[0][2], rows[1][2], rows[2][2], rows[3][2]}), (Texts{"Maximum", "None", "", "Minimum"}));
  // A text value among the numbers gets its row without a level, and the
  // values after it are still read.
  std::vector<Texts> system;
  for (const auto& r : rows)
    if (r[0] == "MSExchangeIS - System") system.push_back({r[1], r[2]});
  EXPECT_EQ(system, (std::vector<Texts>{{"Recovery", "Medium"},
                                        {"General", "Maximum"},
                                        {"Connections", ""},
                                        {"Table Cache", "None"},
                                        {"Comment", ""},
                                        {"Content Engine", "None"},
                                        {"Performance Monitor", ""},
                                        {"Move Mailbox", "Maximum"},
                                        {"Download", "None"}}));
  // Levels without a text are Null.
  EXPECT_TRUE(kit_.Rows("DiagLogging", "[Category] = 'MTA Connections'")[0][6].IsNull());
}

TEST_F(Stores, MissingPublicStoreGivesOneItemAndNoRows) {
  EXPECT_EQ(Collect(true, "EX2"),
            "Public Information Store object@@  -2147016656  @@ There is no such object on the server.");
  for (const auto& table : {"ServerPublicISGeneral", "ServerPublicISPerm", "ServerPublicISMiscInfo", "DiagLogging"})
    EXPECT_TRUE(kit_.Rows(table).empty()) << table;
  EXPECT_EQ(kit_.LinesOf("Binding to the Public Information Store object  'LDAP://EX2/" +
                         StorePath("Lakeside", "EX2", "Public") + "'' using credential ''")
                .size(),
            1u);
}

TEST_F(Stores, PublicFolderServerResolvesWithTheCallsCredentials) {
  // EX1's public store gets an alias that only logged-on users may read.
  ChangedDirectory changed("dn: " + kEx1PublicDn + "\nchangetype: modify\nadd: uid\nuid: EX1-PUB\n-\n\n",
                           "access to dn.base=\"" + kEx1PublicDn + "\" by users read by * none");
  EXPECT_EQ(Collect(false, "EX1", kAdmin, kAdminPassword), "");
  EXPECT_EQ(Collect(false, "EX1"), "");
  auto rows = kit_.Rows("ServerPrivateISGeneral");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][9].Text(), "EX1-PUB");  // as the Connect As user
  EXPECT_EQ(rows[1][9].Text(), "");         // anonymously the store cannot be found
  EXPECT_EQ(kit_.LinesOf("GetPrivateISInfo End")[0][2], "EX1-" + kAdmin + ",cn=admin-");
}
