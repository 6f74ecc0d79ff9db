// The custom report's statements, built without a database: the worked
// HTTP example with its joins, the server objects, the single-table form,
// nothing to run, the entries of both row forms and the recipient blocks.
#include <gtest/gtest.h>

#include "CustomReportQuery.h"
#include "modExch.h"

namespace {

ReportContext Node(const std::string& type, const std::string& text, const std::string& key,
                   const std::string& parent, const std::string& image, bool tabs = false,
                   const std::string& caption = "") {
  ReportContext c;
  c.strType = type;
  c.server = "SRV1";
  c.protocolsNode = text == "Protocols";
  c.node.valid = true;
  c.node.text = text;
  c.node.key = key;
  c.node.index = 2;
  c.node.parentText = parent;
  c.nodeImage = image;
  c.tabVisible = tabs;
  c.tabCaption = caption;
  return c;
}

std::string Table(const std::string& tab) { return GetTableNameFor(tab, ""); }

}  // namespace

TEST(CustomReportStatement, JoinsEachFurtherTableToTheFirstObjectByObject) {
  struct Case {
    const char* what;
    ReportContext context;
    std::vector<ReportDefinitionRow> rows;
    bool builtIn;
    std::string sql;
    std::vector<std::string> captions;
  };
  const Case cases[] = {
      {"the HTTP example",
       Node("HTTP", "Protocols", "o=O/ou=S/cn=Configuration/cn=Protocols", "Configuration", "Protocols", true, "HTTP"),
       {{"HTTPGeneral", "Display Name,Enable protocol"},
        {"HTTPPermissions", "Windows NT Accounts With Permissions,Roles"}},
       false,
       "select distinct T0.[Display Name],T0.[Enable protocol],T1.[Windows NT Accounts With Permissions],T1.[Roles] "
       "from ProtocolGeneral T0 left join ProtocolPerm T1 on T1.[Object Path]=T0.[Object Path] and "
       "T1.[Directory Name]=T0.[Directory Name] and T1.ServerName = 'SRV1' and T1.Level='Site' and "
       "T1.[Directory Name] like 'HTTP%' where T0.ServerName='SRV1' and T0.Level='Site' and T0.[Directory Name] "
       "like 'HTTP%'",
       {"Display Name", "Enable protocol", "Windows NT Accounts With Permissions", "Roles"}},
      {"a server's MTA, by its key",
       Node("Message Transfer Agent", "Message Transfer Agent", "o=O/ou=S/cn=Configuration/cn=Servers/cn=EX1/cn=Microsoft MTA",
            "EX1", "MTA"),
       {{"Message Transfer AgentGeneral", ";Display Name,Local MTA name"},
        {"Message Transfer AgentDiagnostics Logging", ";Display Name,Category"}},
       true,
       "select distinct T0.[Display Name],T0.[Local MTA name],T1.[Category] from ServerObjectsInfo T0 left join "
       "DiagLogging T1 on T1.[Object Path]=T0.[Object Path] and T1.[Directory Name]=T0.[Directory Name] and "
       "T1.ServerName = 'SRV1' where T0.ServerName='SRV1' and T0.[Object Path]='o=O/ou=S/cn=Configuration/"
       "cn=Servers/cn=EX1/cn=Microsoft MTA'",
       {"Display Name", "Local MTA name", "Category"}},
      {"a container's summary, names quoted",
       Node("Container2", "O'Neil's", "o=O/ou=S/cn=O'Neil's", "Recipients", "Recipients", true, "Summary"),
       {{"Container2General", ";Display Name,Created"}, {"Container2Permissions", ";Display Name, Roles"}},
       true,
       "select distinct T0.[Display Name],T0.[Created],T1.[Roles] from ContainerInfo T0 left join ServerObjectsPerm "
       "T1 on T1.[Object Path]=T0.[Object Path] and T1.[Directory Name]=T0.[Directory Name] and T1.ServerName = "
       "'SRV1' where T0.ServerName='SRV1' and T0.[Object Path]='o=O/ou=S/cn=O''Neil''s'",
       {"Display Name", "Created", "Roles"}},
      {"a container without tabs, pinned by its path alone",
       Node("Container1", "Lakeside", "o=O/ou=Lakeside", "O", "Site"),
       {{"Container1General", ";Display Name,Created"}},
       true,
       "select distinct T0.[Display Name],T0.[Created] from ContainerInfo T0 where T0.ServerName='SRV1' and "
       "T0.[Object Path]='o=O/ou=Lakeside'",
       {"Display Name", "Created"}},
      {"no usable row: the type's own table",
       Node("Mailboxes", "Server Recipients", "k", "EX1", "Recipients"),
       {{"MailboxesGeneral", ""}},
       false,
       "select distinct T0.[Display Name] from MailboxGeneral T0 where T0.ServerName = 'SRV1' and T0.[Directory "
       "Name] like 'Server Recipients%'",
       {"Display Name"}},
      {"a store without a table", Node("Connections", "Connections", "k", "Configuration", "Connections"), {}, true,
       "", {"Display Name"}},
      {"no type word", Node("", "Somewhere", "k", "x", "x"), {{"Container2General", ";Display Name,Created"}}, true,
       "", {"Display Name"}},
  };
  for (const auto& c : cases) {
    const auto s = BuildCustomReportStatement(c.context, c.rows, c.builtIn, Table);
    EXPECT_EQ(s.sql, c.sql) << c.what;
    EXPECT_EQ(s.captions, c.captions) << c.what;
  }
}

TEST(CustomReportStatement, EntriesAndRecipientBlocks) {
  EXPECT_EQ(ReportRowEntries(";Display Name,Alias Name", true), (std::vector<std::string>{"Display Name", "Alias Name"}));
  EXPECT_EQ(ReportRowEntries("Alias Name,Created", false), (std::vector<std::string>{"Alias Name", "Created"}));
  EXPECT_TRUE(ReportRowEntries("Alias Name", true).empty());  // no ";" in the built-in form
  EXPECT_TRUE(ReportRowEntries("", false).empty());

  // Every row keeps its own table, even with one entry; Summary rows are
  // not shown recipient by recipient.
  const auto blocks = BuildRecipientBlocks({{"MailboxesSummary", "Alias Name"},
                                            {"MailboxesE-Mail Addresses", "Email Address"},
                                            {"MailboxesPermissions", "Display Name"},
                                            {"MailboxesGeneral", " Alias Name ,Created"}},
                                           false, Table);
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[0].table, "MailboxDLEMailAddr");
  EXPECT_EQ(blocks[0].columns, (std::vector<std::string>{"Display Name", "Email Address"}));
  EXPECT_EQ(blocks[1].table, "MailboxPerm");
  EXPECT_EQ(blocks[1].columns, std::vector<std::string>{"Display Name"});
  EXPECT_EQ(blocks[2].columns, (std::vector<std::string>{"Display Name", "Alias Name", "Created"}));

  ReportContext server = Node("Mailboxes", "Server Recipients", "k", "EX1", "Recipients");
  EXPECT_EQ(RecipientCondition(server), " and [Home Server]='SRV1'");
  EXPECT_EQ(RecipientTabName(server), "MailboxesGeneral");
  ReportContext container = Node("Public Folders", "O'Neil", "o=O/cn=O'Neil", "Recipients", "Recipients", true,
                                 "Public Folders");
  EXPECT_EQ(RecipientCondition(container), " and [Object Path]='o=O/cn=O''Neil'");
  EXPECT_EQ(RecipientTabName(container), "Public FoldersGeneral");
}
