// The provider files of the sample organisation agree with its sheet and
// with the security descriptors of the sample directory.
#include <set>

#include "AccountNames.h"
#include "NativeTestSupport.h"

using namespace native_test;

namespace {

class Samples : public NativeTest {
 protected:
  void SetUp() override {
    NativeTest::SetUp();
    ::setenv("VELMORCAST_PROVIDERS", (velmo::test::TestHome::SourceDir() / "sample" / "providers").c_str(), 1);
    exch_->ApplicationPath(home_.dir().string());
  }
  std::set<std::string> Column(const std::string& table, const std::string& column, const std::string& server) {
    std::set<std::string> out;
    for (auto& r : Rows(table))
      if (r.at("ServerName") == server) out.insert(r.at(column));
    return out;
  }
};

std::vector<uint8_t> Base64(const std::string& text) {
  std::vector<uint8_t> out;
  uint32_t acc = 0;
  int bits = 0;
  for (char c : text) {
    int v = c >= 'A' && c <= 'Z' ? c - 'A' : c >= 'a' && c <= 'z' ? c - 'a' + 26 : c >= '0' && c <= '9' ? c - '0' + 52
            : c == '+' ? 62 : c == '/' ? 63 : -1;
    if (v < 0) continue;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<uint8_t>(acc >> bits));
    }
  }
  return out;
}

}  // namespace

TEST_F(Samples, ServersStoresAndProfiles) {
  int32_t count = 0;
  std::vector<std::string> servers;
  ASSERT_EQ(exch_->GetExchangeServers("CORP", count, servers), 0);
  EXPECT_EQ(servers, (std::vector<std::string>{"EX1", "EX2", "EX10"}));

  for (const char* s : {"EX1", "EX2", "EX10"}) {
    const std::string site = std::string(s) == "EX10" ? "Hilltop" : "Lakeside";
    ASSERT_EQ(exch_->GetISResourcesUsingProfile(0, s, "Velmor", site, db_, std::string(s) + " Profile"), 0) << s;
  }
  EXPECT_EQ(Column("ServerPrivateISResources", "Display Name", "EX1"),
            (std::set<std::string>{"Administrator", "John Smith", "Sean O'Neil", "Maria Müller"}));
  EXPECT_EQ(Column("ServerPrivateISResources", "Windows NT Account", "EX2"),
            (std::set<std::string>{"CORP\\aodegard", "CORP\\pparker"}));
  EXPECT_EQ(Column("ServerPrivateISResources", "Display Name", "EX10"),
            (std::set<std::string>{"Hanna Hill", "Rob Stone"}));

  ASSERT_EQ(exch_->GetISResourcesUsingProfile(1, "EX1", "Velmor", "Lakeside", db_, "EX1 Profile"), 0);
  ASSERT_EQ(exch_->GetISResourcesUsingProfile(1, "EX10", "Velmor", "Hilltop", db_, "EX10 Profile"), 0);
  for (const char* s : {"EX1", "EX10"}) {
    auto folders = Column("ServerPublicISResources", "Display Name", s);
    for (const char* f : {"Marketing", "Support", "Sales/Europe", "Projects"}) EXPECT_TRUE(folders.count(f)) << s << f;
  }
  EXPECT_EQ(static_cast<uint32_t>(
                exch_->GetISResourcesUsingProfile(1, "EX2", "Velmor", "Lakeside", db_, "EX2 Profile")),
            0x800F0001u);
}

TEST_F(Samples, EveryAccountOfTheDirectoryDescriptorsResolvesButTheUnresolvableOne) {
  std::vector<std::string> lines;
  ASSERT_TRUE(velmo::ReadLines(velmo::test::TestHome::SourceDir() / "sample" / "directory" / "velmor.ldif", lines));
  const std::string key = "NT-Security-Descriptor:: ";
  std::set<std::string> unresolved, resolved;
  int descriptors = 0;
  for (const auto& line : lines) {
    if (line.rfind(key, 0) != 0) continue;
    auto sd = Base64(line.substr(key.size()));
    bool present = false, defaulted = false;
    velmo::sec::Bytes dacl;
    if (!velmo::sec::GetSecurityDescriptorDacl(sd, present, dacl, defaulted) || !present) continue;
    ++descriptors;
    velmo::sec::Ace ace;
    for (uint32_t i = 0; velmo::sec::GetAce(dacl, i, ace); ++i) {
      velmo::sec::Bytes sid;
      ASSERT_TRUE(velmo::sec::AceSid(ace, sid));
      velmo::accounts::AccountName name;
      (velmo::accounts::LookupAccountSid(sid, name) == 0 ? resolved : unresolved).insert(velmo::sec::SidToString(sid));
    }
  }
  EXPECT_GT(descriptors, 0);
  EXPECT_TRUE(resolved.count("S-1-1-0"));
  EXPECT_TRUE(resolved.count(DomainSid(1105)));
  for (const auto& s : unresolved) EXPECT_EQ(s, DomainSid(1999));

  velmo::accounts::AccountName name;
  for (int rid : {500, 512, 1105, 1106, 1107, 1108, 1109, 1110, 1111, 1112})
    EXPECT_EQ(velmo::accounts::LookupAccountSidText(DomainSid(rid), name), 0u) << rid;
  EXPECT_EQ(velmo::accounts::LookupAccountSidText(DomainSid(1999), name), velmo::accounts::ERROR_NONE_MAPPED);
}
