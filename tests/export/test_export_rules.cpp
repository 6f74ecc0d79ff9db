// Category query rules over the whole vocabulary, output names, and the
// clearing of one server's rows.
#include <gtest/gtest.h>

#include "AppSchema.h"
#include "CategoryRules.h"
#include "Database.h"
#include "DefaultColumnSets.h"
#include "OutputNames.h"
#include "ServerDataClear.h"
#include "TestHome.h"

using namespace velmo::exporting;

namespace {

TEST(OutputNames, LaterOutputsOfOneNameAreNumberedWithoutRegardToCase) {
  struct Case {
    std::vector<std::string> names, expected;
  };
  const Case cases[] = {
      {{"A", "A", "B", "A"}, {"A", "A_2", "B", "A_3"}},
      {{"Abc", "abc", "ABC"}, {"Abc", "abc_2", "ABC_3"}},
      {{"ProtocolsGeneral", "ProtocolsPermissions", "ProtocolsGeneral", "ProtocolsPermissions"},
       {"ProtocolsGeneral", "ProtocolsPermissions", "ProtocolsGeneral_2", "ProtocolsPermissions_2"}},
      // A name that looks numbered already is not taken twice.
      {{"X_2", "X", "X"}, {"X_2", "X", "X_3"}},
      {{"Müller", "MÜLLER"}, {"Müller", "MÜLLER_2"}},
  };
  for (const auto& c : cases) {
    OutputNames names;
    std::vector<std::string> got;
    for (const auto& n : c.names) got.push_back(names.Unique(n));
    EXPECT_EQ(got, c.expected);
  }
}

TEST(CategoryRules, TabNamesMapToTheirTables) {
  const std::pair<const char*, const char*> cases[] = {
      {"MailboxesGeneral", "MailboxGeneral"}, {"MailboxesSummary", "MailboxGeneral"},
      {"MailboxesOrganization", "MailboxOrgnPhoneNotes"}, {"MailboxesPhone/Notes", "MailboxOrgnPhoneNotes"},
      {"MailboxesPermissions", "MailboxPerm"}, {"MailboxesDistribution Lists", "MailboxDLEMailAddr"},
      {"MailboxesE-Mail Addresses", "MailboxDLEMailAddr"}, {"MailboxesDelivery Restrictions", "MailboxDelivRestr"},
      {"MailboxesDelivery Options", "MailboxDelivRestr"}, {"MailboxesProtocols", "MailboxProtocols"},
      {"MailboxesCustom Attributes", "MailboxCustomAttr"}, {"MailboxesLimits", "MailboxAdvanced"},
      {"MailboxesAdvanced", "MailboxAdvanced"}, {"Distribution ListsDistribution Lists", "DLDLEMailAddr"},
      {"Distribution ListsAdvanced", "DLAdvanced"}, {"Public FoldersDistribution Lists", "PFDLEMailAddr"},
      {"Public FoldersLimits", "PFAdvanced"}, {"Custom RecipientsDistribution Lists", "CRDLEMailAddr"},
      {"Custom RecipientsGeneral", "CRGeneral"}, {"HTTPAdvanced", "ProtocolGeneral"},
      {"HTTPFolder Shortcuts", "ProtocolMiscInfo"}, {"ServerIMAP4Idle Time-out", "ProtocolGeneral"},
      {"IMAP4Anonymous", "ProtocolGeneral"}, {"LDAPSearch", "ProtocolMiscInfo"}, {"LDAPReferrals", "ProtocolMiscInfo"},
      {"NNTPNewsfeeds", "ProtocolMiscInfo"}, {"POP3Message Format", "ProtocolAuthFormat"},
      {"ServerPOP3Authentication", "ProtocolAuthFormat"}, {"ProtocolsGeneral", "ContainerInfo"},
      {"ServerProtocolsPermissions", "ServerObjectsPerm"}, {"Container1General", "ContainerInfo"},
      {"Container2Permissions", "ServerObjectsPerm"}, {"ServerGeneral", "ContainerInfo"},
      {"ServerPermissions", "ServerObjectsPerm"}, {"ServerDiagnostics Logging", "DiagLogging"},
      {"Private Information StoreGeneral", "ServerPrivateISGeneral"},
      {"Private Information StoreMailbox Resources", "ServerPrivateISResources"},
      {"Private Information StoreDiagnostics Logging", "DiagLogging"},
      {"Public Information StoreInstances", "ServerPublicISMiscInfo"},
      {"Public Information StoreE-Mail Addresses", "ServerPublicISMiscInfo"},
      {"Public Information StoreAdvanced", "ServerPublicISMiscInfo"},
      {"Public Information StoreAge Limits", "ServerPublicISMiscInfo"},
      {"Public Information StorePublic Folder Resources", "ServerPublicISResources"},
      {"Message Transfer AgentGeneral", "ServerObjectsInfo"}, {"Message Transfer AgentPermissions", "ServerObjectsPerm"},
      {"Message Transfer AgentDiagnostics Logging", "DiagLogging"}, {"System AttendantE-Mail Addresses", "ServerObjectsInfo"},
      {"Internet Mail ConnectorConnected Sites", "ConnectorMiscInfo"},
      {"Internet Mail ConnectorDelivery Restrictions", "ConnectorDelivRestr"},
      {"MS Mail ConnectorInterchange", "ConnectorGeneral"}, {"Site ConnectorOverride", "ConnectorMiscInfo"},
      {"Site ConnectorTarget Servers", "ConnectorMiscInfo"}, {"NewsfeedHosts", "ConnectorNewsfeed"},
      {"NewsfeedSecurity", "ConnectorNewsfeed"}, {"mailboxesgeneral", "MailboxGeneral"}, {"Nothing", ""},
  };
  for (const auto& [tab, table] : cases) EXPECT_EQ(CategoryTableName(tab), table) << tab;
}

TEST(CategoryRules, EveryDefaultColumnSetGivesAStatementThatRuns) {
  velmo::test::TestHome home(false);
  const auto file = home / "velmo.mdb";
  velmo::db::CreateDatabaseFile(file);
  velmo::db::Connection conn;
  conn.Open(file.string());
  CreateAppTables(&conn);
  conn.Execute("insert into DiagLogging(ServerName,[Directory Name]) values('EX1','Microsoft MTA x')");
  int checked = 0;
  for (const auto& set : DefaultColumnSets()) {
    const std::string table = CategoryTableName(set.tabName);
    ASSERT_NE(FindAppTable(table), nullptr) << set.tabName << " -> " << table;
    std::string sql = CategoryBaseStatement(CategoryColumnList(set.value, "Default"), table, "O'Brien's EX1");
    sql += CategoryRestriction(table, set.tabName);
    if (TableStartsWith(table, "DiagLogging")) sql += DiagnosticsTerm(DiagnosticsPrefix(set.tabName, "EX_1%"));
    velmo::db::Recordset rs;
    EXPECT_NO_THROW(rs.Open(sql, conn)) << sql;
    ++checked;
  }
  EXPECT_EQ(checked, 141);
  // The diagnostics term takes the prefix literally.
  velmo::db::Recordset rs;
  rs.Open("select count(*) from DiagLogging where ServerName='ex1'" + DiagnosticsTerm("Microsoft MTA"), conn);
  EXPECT_EQ(rs[0L].Text(), "1");
  rs.Close();
  rs.Open("select count(*) from DiagLogging where 1=1" + DiagnosticsTerm("Microsoft_MTA"), conn);
  EXPECT_EQ(rs[0L].Text(), "0");
  rs.Close();
  // A column the table lacks fails the statement instead of reading as text.
  EXPECT_ANY_THROW(rs.Open(CategoryBaseStatement(CategoryColumnList("No Such Column", "Mine"), "MailboxGeneral", "EX1"),
                           conn));
}

TEST(CategoryRules, ColumnListsRestrictionsAndDiagnosticsPrefixes) {
  EXPECT_EQ(CategoryColumnList(" ;Display Name,Alias Name,Owner ", "Default"),
            "`Display Name`,`Alias Name`,`Owner`");
  EXPECT_EQ(CategoryColumnList("Alias Name,Home Server", "Mine"), "`Display Name`,`Alias Name`,`Home Server`");
  EXPECT_EQ(CategoryColumnList("", "Mine"), "`Display Name`");
  EXPECT_EQ(CategoryColumnList("no semicolon", "Default"), "");
  EXPECT_EQ(CategoryColumnList(";Odd]Name`s", "Default"), "`Odd]Name``s`");
  EXPECT_EQ(CategoryBaseStatement("`A`", "MailboxGeneral", "O'Neil"),
            "select distinct `A` from `MailboxGeneral` where ServerName='O''Neil'");

  const std::tuple<const char*, const char*, const char*> restrictions[] = {
      {"ProtocolGeneral", "ServerIMAP4General", " and Level='Server' and [Directory Name] like 'IMAP4%'"},
      {"ProtocolGeneral", "IMAP4General", " and Level='Site' and [Directory Name] like 'IMAP4%'"},
      {"ProtocolMiscInfo", "HTTPFolder Shortcuts", " and Level='Site' and [Directory Name] like 'HTTP%'"},
      {"protocolperm", "ServerPOP3Permissions", " and Level='Server' and [Directory Name] like 'POP3%'"},
      {"ConnectorGeneral", "MS Mail ConnectorGeneral", " and [Directory Name] like 'MS Mail Connector%'"},
      {"ConnectorMiscInfo", "Internet Mail ConnectorAddress Space",
       " and [Directory Name] like 'Internet Mail Connector%'"},
      {"ConnectorNewsfeed", "NewsfeedHosts", " and [Directory Name] like 'Newsfeed%'"},
      {"ConnectorGeneral", "Site ConnectorGeneral", " and [Directory Name] like 'Site Connector%'"},
      {"MailboxGeneral", "MailboxesGeneral", ""},
      {"DiagLogging", "ServerDiagnostics Logging", ""},
  };
  for (const auto& [table, tab, want] : restrictions) EXPECT_EQ(CategoryRestriction(table, tab), want) << tab;

  const std::tuple<const char*, const char*, const char*> prefixes[] = {
      {"ServerDiagnostics Logging", "EX1", "EX1"},
      {"Message Transfer AgentDiagnostics Logging", "EX1", "Microsoft MTA"},
      {"Private Information StoreDiagnostics Logging", "EX1", "Microsoft Private MDB"},
      {"Public Information StoreDiagnostics Logging", "EX1", "Microsoft Public MDB"},
      {"Internet Mail ConnectorDiagnostics Logging", "EX1", "Internet Mail Connector"},
  };
  for (const auto& [tab, server, want] : prefixes) EXPECT_EQ(DiagnosticsPrefix(tab, server), want) << tab;
  EXPECT_EQ(DiagnosticsTerm("EX_1%"), " and [Directory Name] like 'EX\\_1\\%%' escape '\\'");
  EXPECT_EQ(DiagnosticsTerm("O'Neil"), " and [Directory Name] like 'O''Neil%' escape '\\'");
}

TEST(ServerDataClear, OnlyTheServersRowsGoFromEveryTableWithAServerColumn) {
  velmo::test::TestHome home(false);
  const auto file = home / "velmo.mdb";
  velmo::db::CreateDatabaseFile(file);
  velmo::db::Connection conn;
  conn.Open(file.string());
  CreateAppTables(&conn);
  for (const char* server : {"EX1", "EX10", "ex1"}) {
    const velmo::db::Value s(server);
    conn.Execute("insert into MailboxGeneral(ServerName,[Display Name]) values(?,'x')", {s});
    conn.Execute("insert into DiagLogging(ServerName) values(?)", {s});
    conn.Execute("insert into VELMORCFilterCustomize(ServerName,TabName,QueryType) values(?,'MailboxesGeneral','F')",
                 {s});
    conn.Execute("insert into VELMORCFavourites values(?,'No','Yes')", {s});
    conn.Execute("insert into VELMORCCustomReports values('MailboxesGeneral',?,';Display Name')", {s});
  }
  // A table of another tool: without a ServerName column it is passed over;
  // with one it is cleared like the rest.
  conn.Execute("create table Notes(Whatever text(20))");
  conn.Execute("insert into Notes values('EX1')");
  conn.Execute("create table \"Odd \"\"Name\"(ServerName text(20))");
  conn.Execute("insert into \"Odd \"\"Name\" values('EX1')");

  const ClearResult result = ClearServerRows(conn, "Ex1");
  EXPECT_TRUE(result.ok) << result.failedStep << ": " << result.description;
  auto count = [&](const std::string& sql) {
    velmo::db::Recordset rs;
    rs.Open(sql, conn);
    std::string n = rs[0L].Text();
    rs.Close();
    return n;
  };
  for (const char* table : {"MailboxGeneral", "DiagLogging", "VELMORCFilterCustomize"}) {
    EXPECT_EQ(count(std::string("select count(*) from ") + table + " where ServerName='EX1'"), "0") << table;
    EXPECT_EQ(count(std::string("select count(*) from ") + table + " where ServerName='EX10'"), "1") << table;
  }
  EXPECT_EQ(count("select count(*) from VELMORCFavourites"), "3");
  EXPECT_EQ(count("select count(*) from VELMORCCustomReports"), "3");
  EXPECT_EQ(count("select count(*) from Notes"), "1");
  EXPECT_EQ(count("select count(*) from \"Odd \"\"Name\""), "0");

  // A delete that fails (the file read-only to this connection) deletes
  // nothing and says where.
  conn.Execute("insert into MailboxGeneral(ServerName) values('EX2')");
  conn.Execute("create trigger stop before delete on DiagLogging begin select raise(abort, 'refused'); end");
  conn.Execute("insert into DiagLogging(ServerName) values('EX2')");
  const ClearResult failed = ClearServerRows(conn, "EX2");
  EXPECT_FALSE(failed.ok);
  EXPECT_EQ(failed.failedStep, "DiagLogging");
  EXPECT_NE(failed.description.find("refused"), std::string::npos) << failed.description;
  EXPECT_EQ(count("select count(*) from MailboxGeneral where ServerName='EX2'"), "1");
  EXPECT_FALSE(conn.InTransaction());
}

}  // namespace
