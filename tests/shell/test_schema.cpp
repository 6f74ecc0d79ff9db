// The inventory database's tables and the built-in column sets.
#include <algorithm>
#include <cctype>
#include <regex>
#include <set>

#include "ShellTestSupport.h"

namespace shelltest {
namespace {

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t at; (at = s.find(sep, start)) != std::string::npos; start = at + 1)
    parts.push_back(s.substr(start, at - start));
  parts.push_back(s.substr(start));
  return parts;
}

int WidthOf(const std::string& type) {
  std::smatch m;
  static const std::regex width(R"(\((\d+)\))");
  return std::regex_search(type, m, width) ? std::stoi(m[1]) : 0;
}

using Schema = ShellTest;

TEST_F(Schema, StatementsAreTheFiftyInOrder) {
  const auto& st = AppTableStatements();
  ASSERT_EQ(st.size(), 50u);
  EXPECT_EQ(st[0],
            "create table VELMORCFavourites(ServerName text(255),IsDefaultSrv char(3),IsFavouriteSrv char(3))");
  EXPECT_EQ(st[1],
            "create table VELMORCCustomReports(TabName text(255), CustomReportName char(255), CustomReportValue "
            "char(255))");
  EXPECT_EQ(st[2],
            "create table VELMORCFilterCustomize(ServerName char(255), TabName text(50), QueryType char(1), "
            "FilterValue memo, CustomizeValue memo)");
  // Data tables: every Object Path typed "Memo", 26 columns typed "Char";
  // bare plain names, bracketed others and Level and Roles.
  int memo = 0, upperChar = 0;
  for (size_t i = 3; i < st.size(); ++i) {
    EXPECT_EQ(st[i].rfind("create table " + AppTables()[i].name + "(ServerName char(255),", 0), 0u) << st[i];
    memo += st[i].find("[Object Path] Memo") != std::string::npos;
    for (size_t at = 0; (at = st[i].find(" Char(", at)) != std::string::npos; ++at) ++upperChar;
    for (const auto& c : AppTables()[i].columns)
      if (c.name == "Level" || c.name == "Roles")
        EXPECT_NE(st[i].find("[" + c.name + "] char("), std::string::npos);
  }
  EXPECT_EQ(memo, 47);
  EXPECT_EQ(upperChar, 26);
  EXPECT_NE(st[11].find(",OwnerDN char(255),OwnerRDN char(50),Owner char(50),[Expansion Server] char(100),"),
            std::string::npos);
  EXPECT_NE(st[30].find("(ServerName char(255),[Level] char(6),[Object Path] Memo,"), std::string::npos);
  ASSERT_NE(FindAppTable("mailboxdlemailaddr"), nullptr);  // found without regard to case
}

TEST_F(Schema, FreshDatabaseGetsAllTablesWithExactColumns) {
  OpenDatabase();
  velmo::db::Catalog cat;
  cat.SetActiveConnection(gstrDBPath);
  std::vector<std::string> names;
  for (const auto& t : AppTables()) names.push_back(t.name);
  EXPECT_EQ(cat.TableNames(), names);
  for (const auto& t : AppTables()) {
    std::vector<std::string> want;
    for (const auto& c : t.columns) want.push_back(c.name);
    EXPECT_EQ(cat.ColumnNames(t.name), want) << t.name;
    // Declared widths are kept.
    velmo::db::Recordset rs;
    rs.Open("select * from [" + t.name + "]", *gConn);
    for (size_t i = 0; i < t.columns.size(); ++i)
      EXPECT_EQ(rs[static_cast<long>(i)].DefinedSize(), WidthOf(t.columns[i].type))
          << t.name << "." << t.columns[i].name;
    rs.Close();
  }
  cat.ReleaseConnection();
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(Schema, SecondRunChangesNothingAndADroppedTableComesBack) {
  OpenDatabase();
  gConn->Execute("insert into MailboxGeneral (ServerName, [Display Name]) values ('EX1', 'John Smith')");
  gConn->Execute("insert into DLGeneral (ServerName, [Display Name]) values ('EX1', 'Sales')");
  CreateAppTables(gConn.get());
  EXPECT_EQ(Count("select * from MailboxGeneral"), 1);
  EXPECT_TRUE(LogLines().empty());

  gConn->Execute("drop table MailboxGeneral");
  CreateAppTables(gConn.get());
  EXPECT_EQ(Count("select * from MailboxGeneral"), 0);
  EXPECT_EQ(Count("select * from DLGeneral"), 1);
  velmo::db::Catalog cat;
  cat.SetActiveConnection(gstrDBPath);
  EXPECT_EQ(cat.TableNames().size(), 50u);
  EXPECT_EQ(cat.ColumnNames("MailboxGeneral").size(), 21u);
}

TEST_F(Schema, ClosedConnectionLogsOneLineAndCreatesNothing) {
  OpenDatabase(false);
  gConn->Close();
  CreateAppTables(gConn.get());
  CreateAppTables(nullptr);
  WriteCustomFieldNamesToDB(gConn.get());
  const auto lines = LogLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(LogHas("CreateAppTables ConnectionObject not opened"));
  EXPECT_TRUE(lines[2].ends_with("      WriteCustomFieldNamesToDB ConnectionObject not opened"));
  velmo::db::Catalog cat;
  cat.SetActiveConnection(gstrDBPath);
  EXPECT_TRUE(cat.TableNames().empty());
}

TEST_F(Schema, SeedingWritesThe141DefaultRowsInOrder) {
  OpenDatabase();
  WriteCustomFieldNamesToDB(gConn.get());
  const auto tabs = Column("select * from VELMORCCustomReports", 0);
  const auto reports = Column("select * from VELMORCCustomReports", 1);
  const auto values = Column("select * from VELMORCCustomReports", 2);
  ASSERT_EQ(tabs.size(), 141u);
  std::set<std::string> distinct(tabs.begin(), tabs.end());
  EXPECT_EQ(distinct.size(), 141u);
  for (size_t i = 0; i < tabs.size(); ++i) {
    EXPECT_EQ(tabs[i], DefaultColumnSets()[i].tabName);
    EXPECT_EQ(reports[i], "Default");
    EXPECT_EQ(values[i], DefaultColumnSets()[i].value);
    EXPECT_EQ(values[i].rfind(";Display Name", 0), 0u) << tabs[i];
    EXPECT_EQ(values[i].find('\''), std::string::npos);
  }
  EXPECT_EQ(tabs.front(), "MailboxesSummary");
  EXPECT_EQ(values.front(), ";Display Name,Alias Name,Primary Windows NT Account Name,Created");
  EXPECT_EQ(tabs[41], "HTTPAdvanced");
  EXPECT_EQ(values[41], ";Display Name,Directory Name,Number of address book entries");
  EXPECT_EQ(tabs[89], "Public Information StorePublic Folder Resources");
  EXPECT_EQ(tabs.back(), "NewsfeedSecurity");
  EXPECT_EQ(distinct.count("Connector for cc:MailGeneral"), 0u);
  EXPECT_EQ(distinct.count("Custom RecipientsDelivery Options"), 0u);
}

// Every caption of a built-in set names a column of the table its TabName
// maps to, under the node the view uses; so every default view's query runs.
TEST_F(Schema, EveryDefaultCaptionNamesAColumnAndEveryDefaultViewRuns) {
  for (const auto& row : DefaultColumnSets()) {
    const std::string node = row.tabName == "HTTPAdvanced" ? "Protocols" : "Recipients";
    const std::string table = GetTableNameFor(row.tabName, node);
    const AppTable* t = FindAppTable(table);
    ASSERT_NE(t, nullptr) << row.tabName << " -> " << table;
    std::set<std::string> columns;
    for (const auto& c : t->columns) columns.insert(Lower(c.name));
    const auto captions = Split(row.value.substr(1), ',');
    for (const auto& caption : captions)
      EXPECT_EQ(columns.count(Lower(caption)), 1u) << row.tabName << ": " << caption;
  }

  OpenDatabase();
  WriteCustomFieldNamesToDB(gConn.get());
  FakeExchWindow w("EX1");
  OpenExchWindowSlot(&w);
  for (const auto& row : DefaultColumnSets()) {
    w.propKey = row.tabName;
    if (row.tabName == "HTTPAdvanced")
      w.SelectNode("Protocols", "o=Velmor/ou=Lakeside/cn=Configuration/cn=Protocols", 4, "Configuration");
    else
      w.SelectNode("Recipients", "o=Velmor/ou=Lakeside/cn=Recipients");
    const std::string sql = GetQuery(0);
    const auto captions = Split(row.value.substr(1), ',');
    EXPECT_EQ(sql.rfind("select distinct [" + captions[0] + "]", 0), 0u) << sql;
    velmo::db::Recordset rs;
    EXPECT_NO_THROW(rs.Open(sql, *gConn)) << sql;
    if (rs.State()) EXPECT_EQ(rs.GetFields().Count(), static_cast<long>(captions.size())) << sql;
  }
  EXPECT_TRUE(LogLines().empty());
}

}  // namespace
}  // namespace shelltest
