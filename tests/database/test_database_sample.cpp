// The inventory database after collecting the sample organisation, read by
// the stock sqlite3 shell as an administrator would query it.
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "SampleKit.h"

using namespace collector_test;

namespace {

std::string Shell(const std::filesystem::path& db, const std::string& sql) {
  std::string out;
  if (FILE* p = ::popen(("sqlite3 -batch '" + db.string() + "' \"" + sql + "\" 2>&1").c_str(), "r")) {
    char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

class CollectedSample : public SampleTest {};

}  // namespace

TEST_F(CollectedSample, TheStockShellQueriesTextColumnsOfSeveralTables) {
  if (std::system("command -v sqlite3 >/dev/null 2>&1") != 0) GTEST_SKIP() << "the sqlite3 shell is not installed";
  for (int16_t page : {0, 2, 3})
    kit_.NewCollector()->GetMailboxInfo(page, "EX1", "", "", "o=Velmor/ou=Any/Server Recipients");
  kit_.NewCollector()->GetDLInfo(0, "EX1", "", "", kLakeRecipients);
  kit_.NewCollector()->GetProtocolInfo("EX1", "", "");
  kit_.NewCollector()->GetServerInfo("EX1", "", "");
  ASSERT_FALSE(kit_.Rows("MailboxPerm").empty());
  const auto db = kit_.home().dir() / "velmo.mdb";

  struct Case {
    const char* sql;
    const char* expected;
  };
  const Case cases[] = {
      {"SELECT [Display Name] FROM MailboxGeneral WHERE [Alias Name]='JSMITH';", "John Smith\n"},
      {"SELECT count(*) FROM MailboxGeneral WHERE ServerName='ex1' AND [Display Name]='maria müller';", "1\n"},
      {"SELECT [Display Name] FROM MailboxGeneral ORDER BY [Display Name] LIMIT 2;", "Administrator\nJohn Smith\n"},
      {"SELECT DISTINCT ServerName FROM MailboxPerm;", "EX1\n"},
      {"SELECT count(*) > 0 FROM (SELECT [Windows NT Accounts With Permissions], count(*) FROM MailboxPerm "
       "GROUP BY [Windows NT Accounts With Permissions]);",
       "1\n"},
      {"SELECT count(DISTINCT Roles) > 0 FROM MailboxPerm WHERE Roles <> '';", "1\n"},
      {"SELECT count(*) > 0 FROM MailboxDLEmailAddr WHERE ServerName='EX1';", "1\n"},
      {"SELECT count(*) > 0 FROM DLGeneral WHERE [Object Path]='O=VELMOR/OU=LAKESIDE/CN=RECIPIENTS';", "1\n"},
      {"SELECT count(*) FROM (SELECT DISTINCT [Object Path] FROM ProtocolGeneral ORDER BY 1);",
       nullptr},  // runs, whatever the count
      {"SELECT count(*) > 0 FROM ContainerInfo WHERE [Level]='site' GROUP BY ServerName;", "1\n"},
      {"PRAGMA integrity_check;", "ok\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    const std::string out = Shell(db, c.sql);
    EXPECT_EQ(out.find("Error"), std::string::npos) << out;
    EXPECT_EQ(out.find("collation"), std::string::npos) << out;
    if (c.expected) EXPECT_EQ(out, c.expected);
  }
}
