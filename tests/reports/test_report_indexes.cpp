// The keyed reads of the reports find their indexes, in a new file and in
// one made before them, and still match without regard to case.
#include <gtest/gtest.h>

#include "AppSchema.h"
#include "ReportsKit.h"

using namespace reports_test;

namespace {

class ReportIndexTest : public ReportsTest {
 protected:
  long Indexes(const std::string& like) {
    return Count("select name from sqlite_master where type='index' and name like ?", {db::Value(like)});
  }
  // The plan of a statement, as one text.
  std::string Plan(const std::string& sql) {
    db::Recordset rs;
    rs.Open("explain query plan " + sql, *gConn, db::adOpenForwardOnly, db::adLockReadOnly);
    std::string plan;
    for (; !rs.Eof(); rs.MoveNext()) plan += rs[3L].Text() + ";";
    return plan;
  }
};

}  // namespace

TEST_F(ReportIndexTest, RecipientAndPathReadsUseTheirIndexes) {
  long recipientTables = 0, pathTables = 0;
  for (const auto& t : AppTables()) {
    bool server = false, alias = false, path = false;
    for (const auto& c : t.columns) {
      server |= c.name == "ServerName";
      alias |= c.name == "Alias Name";
      path |= c.name == "Object Path";
    }
    if (t.name.rfind("VELMORC", 0) == 0 || !server) continue;
    recipientTables += alias;
    pathTables += path && !alias;
  }
  EXPECT_GE(recipientTables, 20);
  EXPECT_EQ(Indexes("IX_%_Alias"), recipientTables);
  EXPECT_EQ(Indexes("IX_%_Path"), pathTables);

  // A file made before the indexes gets them at the next start.
  gConn->Execute("drop index IX_MailboxPerm_Alias");
  EXPECT_EQ(Indexes("IX_%_Alias"), recipientTables - 1);
  CreateAppTables(gConn.get());
  EXPECT_EQ(Indexes("IX_%_Alias"), recipientTables);

  EXPECT_NE(Plan("select * from MailboxPerm where ServerName='EX1' and [Alias Name]='soneil'").find("IX_MailboxPerm_Alias"),
            std::string::npos);
  EXPECT_NE(Plan("select * from ContainerInfo where ServerName='EX1' and [Object Path]='o=x'").find("IX_ContainerInfo_Path"),
            std::string::npos);
  AddMailbox("Sean O'Neil", "soneil");
  EXPECT_EQ(Count("select * from MailboxGeneral where ServerName='ex1' and [Alias Name]='SONEIL'"), 1);
}
