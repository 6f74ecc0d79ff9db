// The report query builder: column sets, node conditions, saved filters.
#include "ShellTestSupport.h"

namespace shelltest {
namespace {

class Query : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    OpenDatabase();
    WriteCustomFieldNamesToDB(gConn.get());
    w_.strServerName = "S";
    w_.propKey = "MailboxesSummary";
    w_.SelectNode("Recipients", "K");
    OpenExchWindowSlot(&w_);
  }
  void SaveFilter(const std::string& value, const std::string& server = "S",
                  const std::string& tab = "MailboxesGeneral") {
    gConn->Execute("insert into VELMORCFilterCustomize values(?,?,'0',?,'')",
                   {velmo::db::Value(server), velmo::db::Value(tab), velmo::db::Value(value)});
  }
  void SaveChoice(const std::string& value, const std::string& tab = "MailboxesGeneral") {
    gConn->Execute("insert into VELMORCFilterCustomize values('S',?,'1','',?)",
                   {velmo::db::Value(tab), velmo::db::Value(value)});
  }
  void AddMailbox(const std::string& server, const std::string& path, const std::string& name,
                  const std::string& country = "", const std::string& title = "") {
    gConn->Execute(
        "insert into MailboxGeneral (ServerName, [Object Path], [Display Name], Country, Title) values "
        "(?,?,?,?,?)",
        {velmo::db::Value(server), velmo::db::Value(path), velmo::db::Value(name), velmo::db::Value(country),
         velmo::db::Value(title)});
  }
  FakeExchWindow w_;
};

TEST_F(Query, PlainViewUsesTheDefaultSetAndNoSavedRows) {
  EXPECT_EQ(GetQuery(0),
            "select distinct [Display Name],[Alias Name],[Primary Windows NT Account Name],[Created] from "
            "MailboxGeneral where ServerName = 'S' and [Object Path]='K'");
  w_.propKey = "MailboxesGeneral";
  SaveChoice("Alias Name");
  SaveFilter("Title = 'A'");
  const std::string plain = GetQuery(0);
  EXPECT_EQ(plain.find("[Title] ="), std::string::npos);
  EXPECT_NE(plain.find("[First Name],[Initials]"), std::string::npos);
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(Query, SavedChoiceAndFilterAreTheSameInModesOneAndTwo) {
  w_.propKey = "MailboxesGeneral";
  SaveFilter("Title = 'A'| OR Title = 'B'");
  const std::string withDefaults = GetQuery(1);
  EXPECT_TRUE(
      withDefaults.ends_with("where ServerName = 'S' and [Object Path]='K' and ( [Title] = 'A' OR [Title] = 'B')"))
      << withDefaults;
  EXPECT_NE(withDefaults.find("select distinct [Display Name],[Alias Name],[Primary Windows NT"),
            std::string::npos);

  SaveChoice("Display Name,Alias Name,Created");
  EXPECT_EQ(GetQuery(2),
            "select distinct [Display Name],[Display Name],[Alias Name],[Created] from MailboxGeneral where "
            "ServerName = 'S' and [Object Path]='K' and ( [Title] = 'A' OR [Title] = 'B')");
  EXPECT_EQ(GetQuery(1), GetQuery(2));

  // Another server's rows do not count.
  w_.strServerName = "T";
  EXPECT_EQ(GetQuery(1).find("[Title] ="), std::string::npos);
}

TEST_F(Query, NodeConditionsFollowTheSelectedNode) {
  w_.propKey = "HTTPGeneral";
  w_.typeCaption = "HTTP";
  w_.SelectNode("Protocols", "o=Velmor/ou=Lakeside/cn=Configuration/cn=Protocols", 4, "Configuration");
  EXPECT_TRUE(GetQuery(0).ends_with(
      " from ProtocolGeneral where ServerName = 'S' and [Directory Name] like 'HTTP%' and Level='Site' and "
      "[Object Path]='o=Velmor/ou=Lakeside/cn=Configuration/cn=Protocols'"));
  w_.SelectNode("Protocols", "o=Velmor/ou=Lakeside/cn=Configuration/cn=Servers/cn=EX1/cn=Protocols", 9, "EX1");
  EXPECT_NE(GetQuery(0).find("like 'HTTP%' and Level='Server' and [Object Path]="), std::string::npos);

  w_.propKey = "ProtocolsGeneral";
  w_.typeCaption = "Summary";
  w_.SelectNode("Protocols", "P", 1, "");  // the first node of the tree gets no level
  EXPECT_TRUE(GetQuery(0).ends_with("[Directory Name] like 'Protocols%' and [Object Path]='P'"));

  w_.propKey = "MailboxesSummary";
  w_.SelectNode("Server Recipients", "ignored", 8, "EX1");
  EXPECT_TRUE(GetQuery(0).ends_with("where ServerName = 'S' and [Home Server]='S'"));

  // A page without a default set shows Display Name alone.
  w_.propKey = "Connector for cc:MailPost Office";
  w_.SelectNode("cc", "K");
  EXPECT_EQ(GetQuery(0),
            "select distinct [Display Name] from Connector where ServerName = 'S' and [Object Path]='K'");
}

TEST_F(Query, ApostrophesInServerKeyAndValuesAreQuotedAndTheStatementRuns) {
  w_.strServerName = "O'Neil";
  w_.propKey = "MailboxesGeneral";
  w_.SelectNode("Recipients", "o=Velmor/ou=O'Brien's");
  AddMailbox("O'Neil", "o=Velmor/ou=O'Brien's", "Sean O'Neil", "IRELAND", "Mgr");
  AddMailbox("O'Neil", "o=Velmor/ou=O'Brien's", "John Smith", "ENGLAND", "Dev");
  AddMailbox("Other", "o=Velmor/ou=O'Brien's", "Nobody", "ENGLAND", "Dev");
  const std::string plain = GetQuery(0);
  EXPECT_TRUE(plain.ends_with("where ServerName = 'O''Neil' and [Object Path]='o=Velmor/ou=O''Brien''s'"))
      << plain;
  EXPECT_EQ(Column(plain).size(), 2u);

  SaveFilter("Display Name = 'Sean O'Neil'", "O'Neil");
  const std::string filtered = GetQuery(2);
  EXPECT_TRUE(filtered.ends_with(" and ( [Display Name] = 'Sean O''Neil')")) << filtered;
  EXPECT_EQ(Column(filtered), std::vector<std::string>{"Sean O'Neil"});
}

TEST_F(Query, FilterValuesKeepTheWordsAndOrAndParenthesesStayAsTyped) {
  w_.propKey = "MailboxesGeneral";
  AddMailbox("S", "K", "John Smith", "ENGLAND", "OR Manager");
  AddMailbox("S", "K", "Maria Müller", "GERMANY", "Dev");
  AddMailbox("S", "K", "Hanna Hill", "ENGLAND", "Dev");
  SaveFilter("(Country = 'ENGLAND'| AND Title <> 'Dev')| OR Country = 'GERMANY'");
  const std::string sql = GetQuery(2);
  EXPECT_TRUE(sql.ends_with(" and ( ([Country] = 'ENGLAND' AND [Title] <> 'Dev') OR [Country] = 'GERMANY')"))
      << sql;
  auto names = Column(sql);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"John Smith", "Maria Müller"}));

  // Values that hold "AND", "OR", "=" or "<>" are not cut.
  gConn->Execute("delete from VELMORCFilterCustomize");
  SaveFilter("Title = 'OR Manager'| OR Country <> 'A=B<>C AND D'");
  EXPECT_TRUE(GetQuery(2).ends_with(" and ( [Title] = 'OR Manager' OR [Country] <> 'A=B<>C AND D')"));
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(Query, AnUnknownFieldIsDroppedAndLoggedAndTheRestStillRuns) {
  w_.propKey = "MailboxesGeneral";
  AddMailbox("S", "K", "John Smith", "ENGLAND", "Dev");
  AddMailbox("S", "K", "Hanna Hill", "IRELAND", "Dev");
  SaveFilter("(Shoe Size = '9'| OR country = 'ENGLAND')| AND Title = 'Dev'");
  const std::string sql = GetQuery(1);
  EXPECT_TRUE(sql.ends_with(" and ( ([country] = 'ENGLAND') AND [Title] = 'Dev')")) << sql;
  EXPECT_EQ(Column(sql), std::vector<std::string>{"John Smith"});
  EXPECT_TRUE(LogHas("GetQuery FilterField Failed"));

  // A filter whose every item is dropped adds nothing; nor does an empty one.
  gConn->Execute("delete from VELMORCFilterCustomize");
  SaveFilter("Shoe Size = '9'");
  SaveFilter("");
  EXPECT_EQ(GetQuery(1).find(" and ("), std::string::npos);
  // An item that is not field, operator and quoted value is dropped too.
  gConn->Execute("delete from VELMORCFilterCustomize");
  SaveFilter("Title 'Dev'| OR Country = 'IRELAND'");
  const std::string rest = GetQuery(1);
  EXPECT_TRUE(rest.ends_with(" and ( [Country] = 'IRELAND')")) << rest;
  EXPECT_EQ(Column(rest), std::vector<std::string>{"Hanna Hill"});
}

TEST_F(Query, NoBrowseWindowGivesNoStatement) {
  CloseExchWindowSlot(&w_);
  EXPECT_EQ(GetQuery(0), "");
  EXPECT_EQ(gfrmCurrent, nullptr);
}

TEST_F(Query, UnreadableColumnSetFallsBackToDisplayName) {
  gConn->Execute("drop table VELMORCCustomReports");
  EXPECT_EQ(GetQuery(0),
            "select distinct [Display Name] from MailboxGeneral where ServerName = 'S' and [Object Path]='K'");
  EXPECT_TRUE(LogHas("GetQuery RecordsetObjectOpen Failed"));
  gConn->Execute("drop table VELMORCFilterCustomize");
  EXPECT_TRUE(GetQuery(1).rfind("select distinct [Display Name] from", 0) == 0);
}

}  // namespace
}  // namespace shelltest
