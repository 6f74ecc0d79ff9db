// GetPermissions: DACL entries into permission rows.
#include "NativeTestSupport.h"
#include "ScriptedUi.h"
#include "Ui.h"

using namespace native_test;

namespace {

class Permissions : public NativeTest {
 protected:
  void SetUp() override {
    NativeTest::SetUp();
    WriteProvider("accounts.txt", kAccounts);
  }
  int32_t Write(const std::string& table, const std::vector<std::vector<uint8_t>>& aces,
                std::optional<int32_t> count = std::nullopt, std::vector<uint8_t>* aclOut = nullptr) {
    auto acl = velmo::sec::BuildAcl(aces);
    if (aclOut) acl = *aclOut;
    return exch_->GetPermissions("EX1", "Site", "Object", "alias", db_, table,
                                 count.value_or(static_cast<int32_t>(aces.size())), acl, "EX1",
                                 "o=Velmor/ou=Lakeside/cn=Recipients");
  }
  static std::vector<std::string> Accounts(const std::vector<Row>& rows) {
    std::vector<std::string> out;
    for (auto& r : rows) out.push_back(r.at("Windows NT Accounts With Permissions") + "|" + r.at("Roles"));
    return out;
  }
};

}  // namespace

TEST_F(Permissions, NoEntriesGiveTheOnePlaceholderRow) {
  ASSERT_EQ(exch_->GetPermissions("EX1", "", "John Smith", "jsmith", db_, "MailboxPerm", 0, {}, "EX1",
                                  "o=Velmor/ou=Lakeside/cn=Recipients"),
            0);
  auto rows = Rows("MailboxPerm");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].at("ServerName"), "EX1");
  EXPECT_EQ(rows[0].at("Object Path"), "o=Velmor/ou=Lakeside/cn=Recipients");
  EXPECT_EQ(rows[0].at("Display Name"), "John Smith");
  EXPECT_EQ(rows[0].at("Alias Name"), "jsmith");
  EXPECT_EQ(rows[0].at("Home Server"), "EX1");
  EXPECT_EQ(rows[0].at("Windows NT Accounts With Permissions"), "");
  EXPECT_EQ(rows[0].at("Roles"), "");
}

TEST_F(Permissions, RolesAccountsAndUnresolvableEntries) {
  ASSERT_EQ(Write("DLPerm", {Ace(0x8, DomainSid(1105)), Ace(0x1A, DomainSid(1999)), Ace(0x1A, DomainSid(1106)),
                             Ace(0x100, "S-1-1-0"), Ace(0x10027, "S-1-5-18"), Ace(0x100A7, "S-1-5-32-544"),
                             Ace(0x1B, DomainSid(1107), velmo::sec::ACCESS_DENIED_ACE_TYPE)}),
            0);
  EXPECT_EQ(Accounts(Rows("DLPerm")),
            (std::vector<std::string>{"CORP\\svc-exchange|Send As", "CORP\\jsmith|User", "Everyone|Search",
                                      "NT AUTHORITY\\SYSTEM|Admin.", "BUILTIN\\Administrators|Permissions Admin.",
                                      "CORP\\soneil|Custom"}));
}

TEST_F(Permissions, ObjectEntriesNameTheirOwnAccount) {
  std::array<uint8_t, 16> sendAs{};
  sendAs.fill(0x10);
  auto who = Sid(DomainSid(1105));
  ASSERT_EQ(Write("PFPerm", {velmo::sec::BuildObjectAce(velmo::sec::ACCESS_ALLOWED_OBJECT_ACE_TYPE, 0, 0x8, sendAs,
                                                        std::nullopt, who),
                             velmo::sec::BuildObjectAce(velmo::sec::ACCESS_DENIED_OBJECT_ACE_TYPE, 0, 0x1A, sendAs,
                                                        sendAs, Sid(DomainSid(1106)))}),
            0);
  EXPECT_EQ(Accounts(Rows("PFPerm")), (std::vector<std::string>{"CORP\\svc-exchange|Send As", "CORP\\jsmith|User"}));
}

TEST_F(Permissions, EachTableGetsItsOwnColumns) {
  auto aces = std::vector<std::vector<uint8_t>>{Ace(0x1A, DomainSid(1106))};
  for (const char* t : {"ConnectorPerm", "ServerObjectsPerm", "protocolperm", "MailboxPerm", "DLPerm", "CRPerm",
                        "ServerPrivateISPerm", "ServerPublicISPerm"})
    ASSERT_EQ(Write(t, aces), 0) << t;

  auto connector = Rows("ConnectorPerm").at(0);
  EXPECT_EQ(connector.at("Directory Name"), "alias");
  auto objects = Rows("ServerObjectsPerm").at(0);
  EXPECT_EQ(objects.at("Level"), "Site");
  EXPECT_EQ(objects.at("Directory Name"), "alias");
  auto protocol = Rows("ProtocolPerm").at(0);
  EXPECT_EQ(protocol.at("Level"), "Site");
  EXPECT_EQ(protocol.at("Directory Name"), "alias");
  auto mailbox = Rows("MailboxPerm").at(0);
  EXPECT_EQ(mailbox.at("Alias Name"), "alias");
  EXPECT_EQ(mailbox.at("Home Server"), "EX1");
  auto dl = Rows("DLPerm").at(0);
  EXPECT_EQ(dl.at("Alias Name"), "alias");
  EXPECT_EQ(dl.at("Windows NT Accounts With Permissions"), "CORP\\jsmith");
  EXPECT_EQ(Rows("ServerPublicISPerm").at(0).at("Directory Name"), "alias");
}

TEST_F(Permissions, DamagedDaclsGiveTheRowsBeforeTheDamage) {
  auto acl = velmo::sec::BuildAcl({Ace(0x1A, DomainSid(1106)), Ace(0x8, DomainSid(1105)), Ace(0x100, "S-1-1-0")});
  // Cut inside the second entry: the span ends there.
  std::vector<uint8_t> cut(acl.begin(), acl.end() - 30);
  ASSERT_EQ(exch_->GetPermissions("EX1", "", "d", "a", db_, "CRPerm", 3, cut, "", ""), 0);
  EXPECT_EQ(Accounts(Rows("CRPerm")), (std::vector<std::string>{"CORP\\jsmith|User"}));

  // A caller count far beyond the entries present.
  ASSERT_EQ(exch_->GetPermissions("EX1", "", "d", "a", db_, "DLPerm", 1000000, acl, "", ""), 0);
  EXPECT_EQ(Rows("DLPerm").size(), 3u);

  // Nothing readable at all: no rows (a present DACL is not the placeholder).
  std::vector<uint8_t> garbage = {2, 0, 0xFF, 0xFF, 3, 0};
  ASSERT_EQ(exch_->GetPermissions("EX1", "", "d", "a", db_, "PFPerm", 3, garbage, "", ""), 0);
  EXPECT_TRUE(Rows("PFPerm").empty());
}

TEST_F(Permissions, DatabaseFailureIsLoggedAndReturnedWithoutABox) {
  auto ui = std::make_shared<velmo::ui::ScriptedUi>();
  auto previous = velmo::ui::SetUi(ui);
  auto aces = std::vector<std::vector<uint8_t>>{Ace(0x1A, DomainSid(1106))};

  int32_t hr = Write("NoSuchPerm", aces);
  EXPECT_LT(hr, 0);
  EXPECT_EQ(hr, velmo::db::kDbNoSuchTable);
  EXPECT_FALSE(exch_->GetErrorInfo().description.empty());
  EXPECT_EQ(exch_->GetErrorInfo().source, "VELMORCCom.Exch55.1");

  // Text that would change the statement is refused before it reaches it.
  hr = Write("DLPerm where 1=0; drop table CRPerm", aces);
  EXPECT_LT(hr, 0);
  EXPECT_NO_THROW(Rows("CRPerm"));

  auto lines = LogLines(home_.dir());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(" GetPermissions Database Error: 80040e37 NoSuchPerm"), std::string::npos) << lines[0];
  EXPECT_TRUE(ui->shown().empty());
  velmo::ui::SetUi(previous);

  // A later good call clears the error information.
  EXPECT_EQ(Write("DLPerm", aces), 0);
  EXPECT_TRUE(exch_->GetErrorInfo().description.empty());
}

TEST(NativeClass, CreatedByEitherProgIdAndAnswersErrorInfoSupport) {
  velmo::test::TestHome home;
  for (const char* progId : {"VELMORCCom.Exch55", "VELMORCCom.Exch55.1", "velmorccom.EXCH55"}) {
    auto exch = velmo::com::CreateObject<IExch55>(progId);
    ASSERT_TRUE(exch) << progId;
    EXPECT_EQ(exch->InterfaceSupportsErrorInfo("IExch55"), 0);
    EXPECT_EQ(exch->InterfaceSupportsErrorInfo("IDispatch"), 1);
  }
}

// The account names file and the kept connection serve call after call
// without going stale: each call sees the file as it is then (rewritten in
// place within the same instant, grown, shrunk, gone), and other writers
// write between calls.
TEST_F(Permissions, EachCallSeesTheAccountsFileAsItIsAndOthersWriteBetweenCalls) {
  const std::string line1106 = "S-1-5-21-1004336348-1177238915-682003330-1106\tCORP\t";
  struct Step {
    const char* what;
    std::optional<std::string> accounts;  // nullopt: the file is removed
    const char* expected;                  // the one row the call writes
  };
  const Step steps[] = {
      {"as written", line1106 + "jsmith\n", "CORP\\jsmith|User"},
      {"same size, same instant", line1106 + "jsmitx\n", "CORP\\jsmitx|User"},
      {"longer", line1106 + "john.smith\n", "CORP\\john.smith|User"},
      {"gone", std::nullopt, ""},
      {"back", line1106 + "jsmith\n", "CORP\\jsmith|User"},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    if (step.accounts)
      WriteProvider("accounts.txt", *step.accounts);
    else
      std::filesystem::remove(providers_ / "accounts.txt");
    velmo::db::Connection conn;
    conn.Open(db_);
    conn.Execute("delete from MailboxPerm");
    ASSERT_EQ(Write("MailboxPerm", {Ace(0x1A, DomainSid(1106))}), 0);
    // Another connection writes at once: the call holds no transaction.
    conn.Execute("insert into MailboxPerm (ServerName) values ('other')");
    conn.Close();
    auto rows = Rows("MailboxPerm");
    std::vector<std::string> written;
    for (auto& r : rows)
      if (r.at("ServerName") == "EX1") written.push_back(r.at("Windows NT Accounts With Permissions") + "|" + r.at("Roles"));
    EXPECT_EQ(written, (*step.expected ? std::vector<std::string>{step.expected} : std::vector<std::string>{}));
    EXPECT_EQ(rows.size(), written.size() + 1);
  }
}
