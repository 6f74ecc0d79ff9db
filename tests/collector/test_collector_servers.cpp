// The collector against server variants started by the test itself: a
// server that refuses anonymous binds, and the sample with its sites listed
// in the other order.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Directory.h"
#include "SampleKit.h"

using namespace collector_test;

namespace {

const std::string kUser = "dc=CORP,cn=jsmith";
const std::string kPassword = "jsmith-pw";

class NoAnonymous : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { slapd_ = new velmo::test::PrivateSlapd("--no-anonymous"); }
  static void TearDownTestSuite() {
    delete slapd_;
    slapd_ = nullptr;
  }
  void SetUp() override { SetEnv("VELMORCAST_PROVIDERS", SampleProviders()); }
  void TearDown() override { ::unsetenv("VELMORCAST_PROVIDERS"); }

  static velmo::test::PrivateSlapd* slapd_;
  velmo::test::UseSampleDirectory directory_{slapd_->hostsFile()};
  Kit kit_;
};
velmo::test::PrivateSlapd* NoAnonymous::slapd_ = nullptr;

std::vector<Cells> Of(const std::vector<Cells>& rows, const std::string& displayName, size_t column = 2) {
  std::vector<Cells> out;
  for (const auto& r : rows)
    if (r[column].Text() == displayName) out.push_back(r);
  return out;
}

}  // namespace

TEST_F(NoAnonymous, WithoutCredentialsTheServerBindIsRefusedWithItsHint) {
  auto c = kit_.NewCollector();
  c->GetMailboxInfo(0, "EX1", "", "", kLakeRecipients);
  auto shown = kit_.ui().shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(shown[0].prompt.find("\r\n-2147016663\r\n"), std::string::npos) << shown[0].prompt;
  EXPECT_NE(shown[0].prompt.find("\r\n\r\nPlease ensure Basic (Clear Text) is enabled at the Site/Server level."),
            std::string::npos);
}

TEST_F(NoAnonymous, NamesReadFromAttributesAreResolvedWithTheCallsCredentials) {
  auto c = kit_.NewCollector();
  std::string err;
  for (int16_t page : {1, 3, 4, 7}) {
    c->GetMailboxInfo(page, "EX1", kUser, kPassword, kLakeRecipients, &err);
    EXPECT_EQ(err, "");
  }
  // Direct reports and manager.
  auto john = Of(kit_.Rows("MailboxOrgnPhoneNotes"), "John Smith");
  EXPECT_EQ(Column(john, 7), (std::vector<std::string>{"Sean O'Neil", "Maria Müller", "Peter Parker"}));
  EXPECT_EQ(Of(kit_.Rows("MailboxOrgnPhoneNotes"), "Sean O'Neil").at(0)[4].Text(), "jsmith");
  // Memberships.
  EXPECT_EQ(Column(Of(kit_.Rows("MailboxDLEmailAddr"), "John Smith"), 4),
            (std::vector<std::string>{"All Staff", "Sales Team", "", "", ""}));
  // Accepted senders, delegates and the alternate recipient.
  auto restr = Of(kit_.Rows("MailboxDelivRestr"), "John Smith");
  EXPECT_EQ(Column(restr, 4), (std::vector<std::string>{"Sean O'Neil", "Maria Müller", "Administrator"}));
  EXPECT_EQ(Column(restr, 6), (std::vector<std::string>{"Peter Parker", "Sean O'Neil", ""}));
  EXPECT_EQ(restr[0][7].Text(), "Sean O'Neil");
  // The view container.
  EXPECT_EQ(Of(kit_.Rows("MailboxAdvanced"), "John Smith").at(0)[20].Text(), "Recipients");

  c->GetDLInfo(0, "EX1", kUser, kPassword, kLakeRecipients, &err);
  auto all = Of(kit_.Rows("DLGeneral"), "All Staff");
  ASSERT_EQ(all.size(), 8u);
  EXPECT_EQ(Slice(all[0], 5, 7), (std::vector<std::string>{"jsmith", "John Smith"}));
  EXPECT_EQ(all[7][11].Text(), "Rob Stone");
  c->GetDLInfo(5, "EX1", kUser, kPassword, kLakeRecipients, &err);
  EXPECT_EQ(Of(kit_.Rows("DLAdvanced"), "All Staff").at(0)[8].Text(), "Recipients");

  c->GetPublicFolderInfoUsingProfile(4, "EX1", kUser, kPassword, "", kLakeRecipients, &err);
  EXPECT_EQ(Of(kit_.Rows("PFAdvanced"), "Marketing").at(0)[13].Text(), "Recipients");
}

// The sample with the Lakeside site before Hilltop: EX1's computer is now
// met before EX10's, and each server still finds its own site.
TEST(SiteOrder, EachServerFindsItsSiteInEitherOrder) {
  velmo::test::PrivateSlapd slapd;
  slapd.Stop();
  const auto dir = slapd.dir();
  std::filesystem::remove_all(dir / "db" / "org");
  std::filesystem::create_directories(dir / "db" / "org");

  std::ifstream in(velmo::test::TestHome::SourceDir() / "sample" / "directory" / "velmor.ldif");
  std::stringstream all;
  all << in.rdbuf();
  std::vector<std::string> blocks;
  std::string text = all.str();
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find("\n\n", start);
    if (end == std::string::npos) end = text.size();
    blocks.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  auto dnEnds = [](const std::string& block, const std::string& suffix) {
    if (block.rfind("dn: ", 0) != 0) return false;
    std::string dn = block.substr(4, block.find('\n') - 4);
    return dn.size() >= suffix.size() && dn.compare(dn.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  size_t lake = 0;
  while (lake < blocks.size() && blocks[lake].rfind("dn: ou=Lakeside,o=Velmor\n", 0) != 0) ++lake;
  ASSERT_LT(lake, blocks.size());
  size_t lakeEnd = lake + 1;
  while (lakeEnd < blocks.size() && !dnEnds(blocks[lakeEnd], "ou=Hilltop,o=Velmor")) ++lakeEnd;
  std::vector<std::string> reordered{blocks[0]};
  reordered.insert(reordered.end(), blocks.begin() + lake, blocks.begin() + lakeEnd);
  reordered.insert(reordered.end(), blocks.begin() + 1, blocks.begin() + lake);
  reordered.insert(reordered.end(), blocks.begin() + lakeEnd, blocks.end());
  {
    std::ofstream out(dir / "reordered.ldif");
    for (const auto& b : reordered) out << b << "\n\n";
  }
  const std::string load = "/usr/sbin/slapadd -q -f '" + (dir / "slapd.conf").string() + "' -b o=Velmor -l '" +
                           (dir / "reordered.ldif").string() + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(load.c_str()), 0);
  slapd.Restart();

  velmo::test::UseSampleDirectory directory(slapd.hostsFile());
  auto org = velmo::ads::GetObject("LDAP://EX1");
  org->SetFilter({"organizationalUnit"});
  ASSERT_EQ(org->Children().at(0)->Name(), "ou=Lakeside");  // the order this test is about
  SetEnv("VELMORCAST_PROVIDERS", SampleProviders());
  Kit kit;
  auto c = kit.NewCollector();
  c->GetMailboxInfo(0, "EX10", "", "", "Server Recipients");
  c->GetMailboxInfo(0, "EX1", "", "", "Server Recipients");
  ::unsetenv("VELMORCAST_PROVIDERS");
  auto rows = kit.Rows("MailboxGeneral");
  for (const auto& r : rows) {
    const std::string site = r[0].Text() == "EX1" ? "o=Velmor/ou=Lakeside/" : "o=Velmor/ou=Hilltop/";
    EXPECT_EQ(r[1].Text().rfind(site, 0), 0u) << r[0].Text() << " " << r[1].Text();
  }
  EXPECT_EQ(Column(kit.Rows("MailboxGeneral", "ServerName = 'EX10'"), 2),
            (std::vector<std::string>{"Hanna Hill", "Rob Stone", "Unassigned Mailbox"}));
  EXPECT_EQ(kit.Rows("MailboxGeneral", "ServerName = 'EX1'").size(), 6u);
}
