// Distribution lists and public folders of the sample organisation: the six
// list tables and the five folder tables, client permissions through the
// mail session and the ACL object, and the logon outcomes.
#include <filesystem>
#include <fstream>

#include "SampleKit.h"

using namespace collector_test;

namespace {

const std::string kJsmithDn = "cn=John Smith," + kLakeDn;

class Lists : public SampleTest {
 protected:
  std::string Collect(int16_t page, const std::string& path = kLakeRecipients) {
    auto c = kit_.NewCollector();
    std::string err = "not touched";
    c->GetDLInfo(page, "EX1", "", "", path, &err);
    return err;
  }
};

class Folders : public SampleTest {
 protected:
  std::string ByProfile(int16_t page, const std::string& profile, const std::string& path = kLakeRecipients,
                        const std::string& server = "EX1") {
    auto c = kit_.NewCollector();
    std::string err = "not touched";
    c->GetPublicFolderInfoUsingProfile(page, server, "", "", profile, path, &err);
    return err;
  }
  std::string Interactive(int16_t page, long window) {
    auto c = kit_.NewCollector();
    std::string err = "not touched";
    c->GetPublicFolderInfo(page, "EX1", "", "", window, kLakeRecipients, &err);
    return err;
  }
  // Display name and client permission of every PFGeneral row.
  std::vector<std::string> Permissions() {
    std::vector<std::string> out;
    for (const auto& r : kit_.Rows("PFGeneral")) out.push_back(r[3].Text() + ": " + r[6].Text());
    return out;
  }
  std::vector<std::string> Contexts() {
    std::vector<std::string> out;
    for (const auto& l : kit_.LogLines()) out.push_back(Kit::Context(l));
    return out;
  }
  // A providers folder like the sample's, with one file replaced.
  std::filesystem::path ProvidersWith(const std::string& relative, const std::string& text) {
    auto dir = kit_.home().dir() / "providers";
    std::filesystem::copy(SampleProviders(), dir, std::filesystem::copy_options::recursive);
    std::ofstream(dir / relative, std::ios::trunc) << text;
    SetEnv("VELMORCAST_PROVIDERS", dir.string());
    return dir;
  }
};

const std::vector<std::string> kNoPermissions = {"Marketing: ", "Support: ", "Sales/Europe: ", "FAQ: "};

}  // namespace

TEST_F(Lists, GeneralOneRowPerMemberWithOwnerAndExpansionServer) {
  EXPECT_EQ(Collect(0), "");
  auto all = RowsOf("DLGeneral", "All Staff");
  ASSERT_EQ(all.size(), 8u);
  EXPECT_EQ(Column(all, 11), (std::vector<std::string>{"Administrator", "John Smith", "Sean O'Neil", "Peter Parker",
                                                       "Maria Müller", "Åse Ødegård", "Hanna Hill", "Rob Stone"}));
  EXPECT_EQ(Column(all, 10), (std::vector<std::string>{"admin", "jsmith", "soneil", "pparker", "mmuller", "aodegard",
                                                       "hhill", "rstone"}));
  EXPECT_EQ(all[1][9].Text(), kJsmithDn);
  EXPECT_EQ(Slice(all[0], 0, 9),
            (std::vector<std::string>{"EX1", kLakeRecipients, "All Staff", "AllStaff", kJsmithDn, "jsmith", "John Smith",
                                      "EX1", "Everyone in Velmor"}));
  auto team = RowsOf("DLGeneral", "Sales Team");
  ASSERT_EQ(team.size(), 3u);
  EXPECT_EQ(team[0][6].Text(), "Maria Müller");
  EXPECT_EQ(team[0][7].Text(), "Any Server In Site");
  auto empty = RowsOf("DLGeneral", "Empty List");
  ASSERT_EQ(empty.size(), 1u);
  EXPECT_EQ(Slice(empty[0], 4, 12), (std::vector<std::string>{"", "", "", "Any Server In Site", "", "", "", ""}));
}

TEST_F(Lists, AdvancedFiveOptionRowsPerList) {
  EXPECT_EQ(Collect(5), "");
  auto all = RowsOf("DLAdvanced", "All Staff");
  ASSERT_EQ(all.size(), 5u);
  EXPECT_EQ(Column(all, 9), (std::vector<std::string>{"Report To Distribution List Owner", "Report To Message Originator",
                                                      "Allow Out of Office Messages to Originator",
                                                      "Hide From Address Book", "Hide Membership From Address Book"}));
  EXPECT_EQ(Column(all, 10), (std::vector<std::string>{"Yes", "No", "Yes", "No", "No"}));
  EXPECT_EQ(Slice(all[0], 4, 9), (std::vector<std::string>{"All Staff", "AllStaff", "20", "1024", "Recipients"}));
  EXPECT_EQ(all[4][11].Text(), "Company-wide list");
  auto team = RowsOf("DLAdvanced", "Sales Team");
  EXPECT_EQ(Column(team, 10), (std::vector<std::string>{"No", "Yes", "No", "No", "Yes"}));
  EXPECT_EQ(team[0][7].Text(), "No limit");
}

TEST_F(Lists, EmailAddressesAndUnknownPage) {
  EXPECT_EQ(Collect(2), "");
  auto team = RowsOf("DLDLEmailAddr", "Sales Team");
  ASSERT_EQ(team.size(), 2u);
  EXPECT_EQ(Slice(team[0], 4), (std::vector<std::string>{"All Staff", "cn=All Staff," + kLakeDn, "AllStaff", "SMTP",
                                                         "sales@velmor.example"}));
  EXPECT_EQ(Slice(team[1], 4), (std::vector<std::string>{"", "", "", "X.400", "c=US;a= ;p=Velmor;o=Lakeside;s=SalesTeam;"}));

  // A page outside 0 to 5 writes nothing but still logs its frame.
  EXPECT_EQ(Collect(6), "");
  auto lines = kit_.LogLines();
  EXPECT_EQ(Kit::Context(lines[lines.size() - 4]), "GetDLInfo Start");
  EXPECT_EQ(Kit::Context(lines.back()), "GetDLInfo End");
}

TEST_F(Lists, AMissingContainerGivesExactlyOneItem) {
  EXPECT_EQ(Collect(0, "o=Velmor/ou=Lakeside/cn=Nowhere"),
            "Recipients container@@ -2147016656  @@   There is no such object on the server.");
  auto lines = kit_.LogLines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(Kit::Context(lines[3]),
            "'Binding to the Recipients Container 'LDAP://EX1/o=Velmor/ou=Lakeside/cn=Nowhere'' using credential ''");
  EXPECT_TRUE(kit_.Rows("DLGeneral").empty());
}

TEST_F(Folders, GeneralClientPermissionsOfTheTopLevelFolder) {
  EXPECT_EQ(ByProfile(0, "EX1 Profile"), "");
  EXPECT_EQ(Permissions(),
            (std::vector<std::string>{"Marketing: Default - Reviewer", "Marketing: Anonymous user - None",
                                      "Marketing: John Smith - Owner", "Support: Default - Author",
                                      "Support: Anonymous user - None", "Support: Sean O'Neil - Editor",
                                      "Support: Maria Müller - Publishing Author", "Sales/Europe: Default - Custom",
                                      "Sales/Europe: Unknown - Owner", "FAQ: Default - Author",
                                      "FAQ: Anonymous user - None", "FAQ: Sean O'Neil - Editor",
                                      "FAQ: Maria Müller - Publishing Author"}));
  auto rows = kit_.Rows("PFGeneral");
  EXPECT_EQ(Slice(rows[0], 0, 6),
            (std::vector<std::string>{"EX1", kLakeRecipients, "Marketing", "Marketing", "Marketing", ""}));
  EXPECT_EQ(Slice(rows[0], 7, 10), (std::vector<std::string>{"", "Folder Marketing", "\\Marketing"}));
  EXPECT_EQ(Slice(rows[9], 2, 3), (std::vector<std::string>{"Support"}));  // FAQ lies in Support
  EXPECT_EQ(rows[9][9].Text(), "\\Support\\FAQ");
  EXPECT_EQ(rows[7][2].Text(), "Sales/Europe");
  EXPECT_TRUE(kit_.ui().shown().empty());
}

TEST_F(Folders, AFolderWithoutPermissionEntriesKeepsItsRow) {
  // EX1's public store lists no entries for Projects; EX10's does.
  EXPECT_EQ(ByProfile(0, "EX1 Profile", kHillRecipients, "EX10"), "");
  EXPECT_EQ(Permissions(), (std::vector<std::string>{"Projects: "}));
  EXPECT_EQ(ByProfile(0, "EX10 Profile", kHillRecipients, "EX10"), "");
  EXPECT_EQ(Permissions(), (std::vector<std::string>{"Projects: ", "Projects: Default - Publishing Editor",
                                                     "Projects: Hanna Hill - Owner", "Projects: Rob Stone - Author"}));
}

TEST_F(Folders, AFolderWhosePermissionsCannotBeReadKeepsItsRow) {
  ProvidersWith("publicacl/EX1.txt", "Marketing\tID_ACL_DEFAULT\tplenty\nSupport\tID_ACL_DEFAULT\t1025\n");
  EXPECT_EQ(ByProfile(0, "EX1 Profile"), "");
  EXPECT_EQ(Permissions(), (std::vector<std::string>{"Marketing: ", "Support: Default - Reviewer",
                                                     "Sales/Europe: ", "FAQ: Default - Reviewer"}));
}

TEST_F(Folders, InteractiveLogonThroughTheProfileChooser) {
  kit_.ui().QueueProfile("EX10 Profile");
  EXPECT_EQ(Interactive(0, 7), "");
  auto shown = kit_.ui().shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, "ChooseProfile");
  EXPECT_EQ(shown[0].prompt, "EX1 Profile\nEX2 Profile\nEX10 Profile");
  EXPECT_EQ(Permissions(), (std::vector<std::string>{"Marketing: Default - Reviewer", "Marketing: Anonymous user - None",
                                                     "Support: Default - Contributor",
                                                     "Sales/Europe: Default - Nonediting Author",
                                                     "FAQ: Default - Contributor"}));
}

TEST_F(Folders, CancelledChooserIsQuietAndEveryFolderStillGetsARow) {
  kit_.ui().QueueProfile("", false);
  EXPECT_EQ(Interactive(0, 7), "");
  auto shown = kit_.ui().shown();
  ASSERT_EQ(shown.size(), 1u);  // the chooser only, no message
  EXPECT_EQ(Permissions(), kNoPermissions);
  auto lines = kit_.LogLines();
  int logon = 0;
  for (const auto& l : lines)
    if (Kit::Context(l) == "GetPublicFolderInfo - Session Logon Failure ") {
      ++logon;
      EXPECT_EQ(Kit::Fields(l)[1], "-2147221229");
    }
  EXPECT_EQ(logon, 1);
}

TEST_F(Folders, FailedProfileLogonGivesItsItemAndOneMessage) {
  std::string err = ByProfile(0, "No Such Profile");
  EXPECT_EQ(err.rfind("_Profile Logon  @@   -2147221231  @@   ", 0), 0u) << err;
  auto shown = kit_.ui().shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, "MsgBox");
  EXPECT_EQ(shown[0].prompt, err);
  EXPECT_EQ(shown[0].title, "VELMO");
  EXPECT_EQ(shown[0].buttons, velmo::ui::vbOKOnly);
  EXPECT_EQ(Permissions(), kNoPermissions);
}

TEST_F(Folders, WithoutAMailClientTheRowsAreStillWritten) {
  auto empty = kit_.home().dir() / "no-providers";
  std::filesystem::create_directories(empty);
  SetEnv("VELMORCAST_PROVIDERS", empty.string());
  EXPECT_EQ(ByProfile(0, "EX1 Profile"), "");
  EXPECT_EQ(Permissions(), kNoPermissions);
  bool logged = false;
  for (const auto& l : kit_.LogLines())
    if (Kit::Context(l) == "GetPublicFolderInfo - Session Object Creation Failure ") {
      logged = true;
      EXPECT_EQ(Kit::Fields(l)[1], "-2147221164");
    }
  EXPECT_TRUE(logged);
}

TEST_F(Folders, OtherPagesNeverLogOn) {
  for (int16_t page = 1; page <= 5; ++page) EXPECT_EQ(Interactive(page, 7), "");
  EXPECT_TRUE(kit_.ui().shown().empty());
  EXPECT_TRUE(kit_.Rows("PFGeneral").empty());

  auto adv = kit_.Rows("PFAdvanced");
  EXPECT_EQ(Column(adv, 2), (std::vector<std::string>{"Marketing", "Support", "Sales/Europe", "FAQ"}));
  EXPECT_EQ(Slice(adv[0], 4),
            (std::vector<std::string>{"7", "Use information store defaults", "", "Marketing", "Marketing", "10", "",
                                      "EX1", "No", "Recipients", ""}));
  EXPECT_EQ(Slice(adv[1], 4, 6), (std::vector<std::string>{"Use information store defaults", "5000"}));
  EXPECT_EQ(adv[3][12].Text(), "Yes");

  auto addr = RowsOf("PFDLEmailAddr", "Marketing");
  ASSERT_EQ(addr.size(), 2u);
  EXPECT_EQ(Column(addr, 8), (std::vector<std::string>{"marketing@velmor.example",
                                                       "c=US;a= ;p=Velmor;o=Lakeside;s=Marketing;"}));
  auto attrs = Texts(RowsOf("PFCustomAttr", "Marketing").at(0));
  ASSERT_EQ(attrs.size(), 14u);
  EXPECT_EQ(attrs[4], "Folder Marketing");
  auto perm = RowsOf("PFPerm", "Marketing");
  EXPECT_EQ(Column(perm, 5), (std::vector<std::string>{"Permissions Admin.", "Admin.", "Admin.", "Search", "Custom"}));
}

TEST_F(Folders, AMissingContainerOpensNoSession) {
  auto c = kit_.NewCollector();
  std::string err;
  c->GetPublicFolderInfo(0, "EX1", "", "", 7, "o=Velmor/ou=Lakeside/cn=Nowhere", &err);
  EXPECT_EQ(err, "Recipients container@@ -2147016656  @@   There is no such object on the server.");
  EXPECT_TRUE(kit_.ui().shown().empty());
}
