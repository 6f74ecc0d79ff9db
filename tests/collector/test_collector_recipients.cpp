// Mailboxes and custom recipients of the sample organisation, page by page,
// checked cell by cell for chosen recipients.
#include <regex>

#include "Directory.h"

#include "SampleKit.h"

using namespace collector_test;

namespace {

class Mailboxes : public SampleTest {
 protected:
  void Collect(int16_t page, const std::string& path = kLakeRecipients, const std::string& server = "EX1") {
    auto c = kit_.NewCollector();
    std::string err = "not touched";
    c->GetMailboxInfo(page, server, "", "", path, &err);
    EXPECT_EQ(err, "") << "page " << page;
  }
  void CollectCR(int16_t page, const std::string& path = kLakeRecipients) {
    auto c = kit_.NewCollector();
    std::string err;
    c->GetCustomRecipInfo(page, "EX1", "", "", path, &err);
    EXPECT_EQ(err, "");
  }
};

const std::string kJsmithDn = "cn=John Smith," + kLakeDn;
const std::string kSoneilDn = "cn=Sean O'Neil," + kLakeDn;
const std::string kMullerDn = "cn=Maria Müller,cn=Sales," + kLakeDn;
const std::string kParkerDn = "cn=Peter Parker," + kLakeDn;

}  // namespace

TEST_F(Mailboxes, GeneralRowsAreTheContainersMailboxesOnly) {
  Collect(0);
  auto rows = kit_.Rows("MailboxGeneral");
  // Mailboxes only: no custom recipients, no mailbox agents, nothing from
  // the sub-containers.
  EXPECT_EQ(Column(rows, 2), (std::vector<std::string>{"Administrator", "John Smith", "Sean O'Neil", "Peter Parker"}));
  auto john = Texts(rows[1]);
  ASSERT_EQ(john.size(), 21u);
  EXPECT_EQ(std::vector<std::string>(john.begin(), john.begin() + 19),
            (std::vector<std::string>{"EX1", kLakeRecipients, "John Smith", "jsmith", "CORP\\jsmith", "John", "J",
                                      "Smith", "1 Harbour Road", "Lakeside", "LK", "1001", "Norway",
                                      "Head of Sales", "Velmor Ltd", "Sales", "A-101", "Peter Parker",
                                      "  +47 555 0101  "}));
  EXPECT_TRUE(std::regex_match(john[19], std::regex(R"(\d{1,2}/\d{1,2}/1999 \d{1,2}:\d\d:\d\d (AM|PM))"))) << john[19];
  EXPECT_EQ(john[20], "EX1");
  EXPECT_EQ(rows[3][20].Text(), "EX2");
  EXPECT_EQ(rows[0][4].Text(), "CORP\\Administrator");
}

TEST_F(Mailboxes, EveryPageWritesTheSameRowsWhenTheDirectoryHandsOneEntryPerPage) {
  // The walk visits the container page by page: a page boundary after
  // every recipient must change no row of any page.
  struct PageSize {
    ~PageSize() { velmo::ads::SetPageSize(1000); }
  } restore;
  for (int16_t page = 0; page < 8; ++page) {
    const std::string table = std::string("Mailbox") + (const char*[]){"General",    "OrgnPhoneNotes", "Perm",
                                                                       "DLEmailAddr", "DelivRestr",    "Protocols",
                                                                       "CustomAttr",  "Advanced"}[page];
    velmo::ads::SetPageSize(1000);
    Collect(page);
    const auto whole = kit_.Rows(table);
    ASSERT_FALSE(whole.empty()) << table;
    velmo::ads::SetPageSize(1);
    const auto pagesBefore = velmo::ads::Stats().pages;
    Collect(page);
    EXPECT_GE(velmo::ads::Stats().pages - pagesBefore, 4) << table;
    const auto both = kit_.Rows(table);
    ASSERT_EQ(both.size(), 2 * whole.size()) << table;
    for (size_t i = 0; i < whole.size(); ++i) {
      EXPECT_EQ(Texts(both[whole.size() + i]), Texts(whole[i])) << table << " row " << i;
    }
  }
}

TEST_F(Mailboxes, AccountsDoNotCarryOverAndMissingHomeIsNone) {
  // Hilltop: the last mailbox has neither account nor Home-MDB and follows
  // one that has both.
  Collect(0, kHillRecipients, "EX10");
  auto rows = kit_.Rows("MailboxGeneral");
  ASSERT_EQ(Column(rows, 2), (std::vector<std::string>{"Hanna Hill", "Rob Stone", "Unassigned Mailbox"}));
  EXPECT_EQ(Column(rows, 4), (std::vector<std::string>{"CORP\\hhill", "CORP\\rstone", ""}));
  EXPECT_EQ(Column(rows, 20), (std::vector<std::string>{"EX10", "EX10", "[None]"}));
  // The same "[None]" wherever the home server is written.
  Collect(7, kHillRecipients, "EX10");
  Collect(6, kHillRecipients, "EX10");
  EXPECT_EQ(RowsOf("MailboxAdvanced", "Unassigned Mailbox").at(0)[16].Text(), "[None]");
  EXPECT_EQ(RowsOf("MailboxCustomAttr", "Unassigned Mailbox").at(0)[14].Text(), "[None]");
}

TEST_F(Mailboxes, OrgnPhoneNotesOneRowPerDirectReport) {
  Collect(1);
  auto john = RowsOf("MailboxOrgnPhoneNotes", "John Smith");
  ASSERT_EQ(john.size(), 3u);
  EXPECT_EQ(Column(john, 5), (std::vector<std::string>{kSoneilDn, kMullerDn, kParkerDn}));
  EXPECT_EQ(Column(john, 6), (std::vector<std::string>{"soneil", "mmuller", "pparker"}));
  EXPECT_EQ(Column(john, 7), (std::vector<std::string>{"Sean O'Neil", "Maria Müller", "Peter Parker"}));
  for (const auto& r : john) {
    auto t = Texts(r);
    ASSERT_EQ(t.size(), 18u);
    EXPECT_EQ(t[4], "");  // no manager
    // Telephone numbers and notes trimmed, the same on every row.
    EXPECT_EQ(std::vector<std::string>(t.begin() + 8, t.begin() + 16),
              (std::vector<std::string>{"+47 555 0101", "+47 555 0102", "+47 555 0109", "+47 555 0110",
                                        "+47 555 0111", "+47 555 0112", "+47 955 0101", "0101"}));
    EXPECT_EQ(t[16].substr(0, 18), "Notes about John. ");
    EXPECT_NE(t[16].back(), ' ');
    EXPECT_EQ(t[17], "EX1");
  }
  // A recipient with a manager and no reports: one row, report columns "".
  auto sean = RowsOf("MailboxOrgnPhoneNotes", "Sean O'Neil");
  ASSERT_EQ(sean.size(), 1u);
  EXPECT_EQ(Slice(sean[0], 4, 8),
            (std::vector<std::string>{"jsmith", "", "", ""}));
}

TEST_F(Mailboxes, ADirectReportThatCannotBeBoundKeepsItsDn) {
  Collect(1, kHillRecipients, "EX10");
  auto hanna = RowsOf("MailboxOrgnPhoneNotes", "Hanna Hill");
  ASSERT_EQ(hanna.size(), 2u);
  EXPECT_EQ(Column(hanna, 5), (std::vector<std::string>{"cn=Rob Stone," + kHillDn, "cn=Former Employee," + kHillDn}));
  EXPECT_EQ(Column(hanna, 6), (std::vector<std::string>{"rstone", ""}));
  EXPECT_EQ(Column(hanna, 7), (std::vector<std::string>{"Rob Stone", ""}));
}

TEST_F(Mailboxes, PermissionRowsWrittenByTheNativeClassWhileThePageIsOpen) {
  Collect(2);
  auto john = RowsOf("MailboxPerm", "John Smith");
  std::vector<std::string> entries;
  for (const auto& r : john) {
    auto t = Texts(r);
    ASSERT_EQ(t.size(), 7u);
    EXPECT_EQ(t[0], "EX1");
    EXPECT_EQ(t[1], kLakeRecipients);
    EXPECT_EQ(t[3], "jsmith");
    EXPECT_EQ(t[6], "EX1");  // the home server reaches its column
    entries.push_back(t[4] + " / " + t[5]);
  }
  // The unresolvable account of the descriptor gives no row.
  EXPECT_EQ(entries, (std::vector<std::string>{"CORP\\jsmith / User", "CORP\\Administrator / Permissions Admin.",
                                               "CORP\\Domain Admins / Admin.", "NT AUTHORITY\\SYSTEM / Admin.",
                                               "Everyone / Search", "CORP\\svc-exchange / Send As"}));
  EXPECT_EQ(RowsOf("MailboxPerm", "Peter Parker")[0][6].Text(), "EX2");
}

TEST_F(Mailboxes, EmailAddressRowsInOrderWithMemberships) {
  Collect(3);
  auto john = RowsOf("MailboxDLEmailAddr", "John Smith");
  ASSERT_EQ(john.size(), 5u);  // two lists, five addresses
  EXPECT_EQ(Column(john, 4), (std::vector<std::string>{"All Staff", "Sales Team", "", "", ""}));
  EXPECT_EQ(Column(john, 5), (std::vector<std::string>{"cn=All Staff," + kLakeDn, "cn=Sales Team," + kLakeDn, "", "", ""}));
  EXPECT_EQ(Column(john, 6), (std::vector<std::string>{"AllStaff", "SalesTeam", "", "", ""}));
  EXPECT_EQ(Column(john, 7), (std::vector<std::string>{"SMTP", "X.400", "CCMAIL", "MS", "Other"}));
  EXPECT_EQ(Column(john, 8),
            (std::vector<std::string>{"jsmith@velmor.example", "c=US;a= ;p=Velmor;o=Lakeside;s=Smith;g=John;",
                                      "Smith, John at Lakeside", "VELMOR/LAKESIDE/JSMITH", "/o=Velmor/cn=jsmith"}));
  EXPECT_EQ(Column(john, 9), std::vector<std::string>(5, "EX1"));
  // One list, two addresses: two rows, the second without a list.
  auto admin = RowsOf("MailboxDLEmailAddr", "Administrator");
  ASSERT_EQ(admin.size(), 2u);
  EXPECT_EQ(Column(admin, 4), (std::vector<std::string>{"All Staff", ""}));
}

TEST_F(Mailboxes, DeliveryRestrictionsLongestListDecidesTheRows) {
  Collect(4);
  auto john = RowsOf("MailboxDelivRestr", "John Smith");
  ASSERT_EQ(john.size(), 3u);
  EXPECT_EQ(Column(john, 4), (std::vector<std::string>{"Sean O'Neil", "Maria Müller", "Administrator"}));
  EXPECT_EQ(Column(john, 5), (std::vector<std::string>{"Peter Parker", "", ""}));
  EXPECT_EQ(Column(john, 6), (std::vector<std::string>{"Peter Parker", "Sean O'Neil", ""}));
  for (const auto& r : john)
    EXPECT_EQ(Slice(r, 7),
              (std::vector<std::string>{"Sean O'Neil", kSoneilDn, "soneil", "True", "EX1"}));
  // No restrictions, an alternate recipient that cannot be bound.
  auto sean = RowsOf("MailboxDelivRestr", "Sean O'Neil");
  ASSERT_EQ(sean.size(), 1u);
  EXPECT_EQ(Slice(sean[0], 4),
            (std::vector<std::string>{"All", "None", "", "", "cn=Former Employee," + kLakeDn, "", "", "EX1"}));
  // No alternate recipient at all.
  auto admin = RowsOf("MailboxDelivRestr", "Administrator");
  ASSERT_EQ(admin.size(), 1u);
  EXPECT_EQ(Slice(admin[0], 4),
            (std::vector<std::string>{"All", "None", "", "None", "None", "None", "", "EX1"}));
}

TEST_F(Mailboxes, ProtocolRowsPerSetting) {
  Collect(5);
  auto admin = RowsOf("MailboxProtocols", "Administrator");
  ASSERT_EQ(admin.size(), 3u);
  std::vector<std::vector<std::string>> got;
  for (const auto& r : admin) got.push_back(Slice(r, 4));
  EXPECT_EQ(got, (std::vector<std::vector<std::string>>{{"HTTP", "Yes", "Yes", "(none)", "EX1"},
                                                        {"IMAP4", "Yes", "Yes", "custom", "EX1"},
                                                        {"POP3", "No", "Yes", "defaults", "EX1"}}));
  auto sean = RowsOf("MailboxProtocols", "Sean O'Neil");
  ASSERT_EQ(sean.size(), 1u);
  EXPECT_EQ(Texts(sean[0])[7], "(none)");  // LDAP
  // No settings: one row with empty protocol columns.
  auto peter = RowsOf("MailboxProtocols", "Peter Parker");
  ASSERT_EQ(peter.size(), 1u);
  EXPECT_EQ(Slice(peter[0], 4),
            (std::vector<std::string>{"", "", "", "", "EX2"}));
}

TEST_F(Mailboxes, CustomAttributesOneRowEach) {
  Collect(6);
  auto john = Texts(RowsOf("MailboxCustomAttr", "John Smith").at(0));
  EXPECT_EQ(std::vector<std::string>(john.begin() + 4, john.end()),
            (std::vector<std::string>{"Custom value 1", "Custom value 2", "", "", "Custom value 5", "", "", "", "",
                                      "Custom value 10", "EX1"}));
  EXPECT_EQ(RowsOf("MailboxCustomAttr", "Sean O'Neil").at(0)[6].Text(), "O'Neil's value");
}

TEST_F(Mailboxes, AdvancedLimitsFlagsAndDefaults) {
  Collect(7);
  auto john = Texts(RowsOf("MailboxAdvanced", "John Smith").at(0));
  ASSERT_EQ(john.size(), 22u);
  EXPECT_EQ(std::vector<std::string>(john.begin() + 4, john.end()),
            (std::vector<std::string>{"7", "Yes", "30000", "40000", "50000", "1024", "2048", "John Smith", "jsmith",
                                      "20", "ils.velmor.example", "jsmith", "EX1", "No", "EX1", "", "Recipients",
                                      "Sales lead"}));
  // DXA-Flags 0 and store defaults; no size limits.
  auto admin = Texts(RowsOf("MailboxAdvanced", "Administrator").at(0));
  EXPECT_EQ(std::vector<std::string>(admin.begin() + 4, admin.begin() + 11),
            (std::vector<std::string>{"Use Information Store Defaults", "Use Information Store Defaults",
                                      "Use information store default", "Use information store default",
                                      "Use information store default", "No limit", "No limit"}));
  // DXA-Flags 5 with half a day of retention.
  auto sean = Texts(RowsOf("MailboxAdvanced", "Sean O'Neil").at(0));
  EXPECT_EQ(sean[4], "0.5");
  EXPECT_EQ(sean[5], "No");
  auto peter = Texts(RowsOf("MailboxAdvanced", "Peter Parker").at(0));
  EXPECT_EQ(peter[17], "Yes");  // hidden from the address book
  EXPECT_EQ(peter[18], "EX2");
  EXPECT_EQ(peter[19], "");
}

TEST_F(Mailboxes, CustomRecipientTablesHaveNoHomeServer) {
  CollectCR(0);
  auto rows = kit_.Rows("CRGeneral");
  EXPECT_EQ(Column(rows, 2), (std::vector<std::string>{"Partner Contact", "Legacy Contact"}));
  auto partner = Texts(rows[0]);
  ASSERT_EQ(partner.size(), 20u);
  EXPECT_EQ(std::vector<std::string>(partner.begin(), partner.begin() + 8),
            (std::vector<std::string>{"EX1", kLakeRecipients, "Partner Contact", "partner",
                                      "SMTP:contact@partner.example", "Pat", "", "Partner"}));
  EXPECT_EQ(partner[14], "Partner AS");

  CollectCR(7);
  auto adv = Texts(RowsOf("CRAdvanced", "Partner Contact").at(0));
  ASSERT_EQ(adv.size(), 15u);
  EXPECT_EQ(std::vector<std::string>(adv.begin() + 4, adv.end()),
            (std::vector<std::string>{"Partner Contact", "partner", "", "ils.partner.example", "", "Recipients", "Yes",
                                      "No", "No limit", "CORP\\svc-exchange", ""}));
  auto legacy = Texts(RowsOf("CRAdvanced", "Legacy Contact").at(0));
  EXPECT_EQ(legacy[10], "No");
  EXPECT_EQ(legacy[13], "");  // no account, and not the previous recipient's

  CollectCR(4);
  auto restr = Texts(RowsOf("CRDelivRestr", "Partner Contact").at(0));
  EXPECT_EQ(restr, (std::vector<std::string>{"EX1", kLakeRecipients, "Partner Contact", "partner", "All", "None"}));
  CollectCR(3);
  auto addr = RowsOf("CRDLEmailAddr", "Partner Contact");
  ASSERT_EQ(addr.size(), 2u);
  EXPECT_EQ(Column(addr, 8), (std::vector<std::string>{"contact@partner.example", ""}));
}

TEST_F(Mailboxes, DescriptorOutcomesOfThePermissionsBridge) {
  CollectCR(2);
  // Partner Contact: an empty DACL; Legacy Contact: no DACL. Neither
  // gives a row.
  EXPECT_TRUE(kit_.Rows("CRPerm").empty());
  // A list without any descriptor gets its one placeholder row.
  auto c = kit_.NewCollector();
  c->GetDLInfo(1, "EX1", "", "", kLakeRecipients);
  auto empty = RowsOf("DLPerm", "Empty List");
  ASSERT_EQ(empty.size(), 1u);
  EXPECT_EQ(Texts(empty[0]), (std::vector<std::string>{"EX1", kLakeRecipients, "Empty List", "EmptyList", "", ""}));
  EXPECT_FALSE(RowsOf("DLPerm", "All Staff").empty());
}

TEST_F(Mailboxes, NamesWithQuotesAndAccentsSurviveUnchanged) {
  Collect(0, kLakeRecipients + "/cn=Sales");
  auto rows = kit_.Rows("MailboxGeneral", "[Alias Name] = 'mmuller'");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][2].Text(), "Maria Müller");
  EXPECT_EQ(rows[0][9].Text(), "München");
  EXPECT_EQ(rows[0][1].Text(), kLakeRecipients + "/cn=Sales");
  // "=" ignores the case of A-Z only, as in every tool of the engine.
  EXPECT_EQ(kit_.Rows("MailboxGeneral", "[Display Name] = " + velmo::db::SqlQuote("MARIA MüLLER")).size(), 1u);
  EXPECT_EQ(kit_.Rows("MailboxGeneral", "[Display Name] = " + velmo::db::SqlQuote("MARIA MÜLLER")).size(), 0u);
  Collect(0);
  EXPECT_EQ(kit_.Rows("MailboxGeneral", "[Last Name] = " + velmo::db::SqlQuote("O'Neil")).size(), 1u);
}
