// Reading descriptors, ACLs, ACEs and SIDs from bytes that may lie.
#include <gtest/gtest.h>

#include "SecurityDescriptor.h"

using namespace velmo::sec;

namespace {

std::vector<uint8_t> S(const char* text) { return *SidFromString(text); }

std::vector<uint8_t> SampleDescriptor(std::vector<uint8_t>* aclOut = nullptr) {
  auto a = BuildAce(ACCESS_ALLOWED_ACE_TYPE, 0, 0x1A, S("S-1-5-21-1-2-3-1106"));
  auto b = BuildAce(ACCESS_DENIED_ACE_TYPE, 0, 0x8, S("S-1-1-0"));
  auto acl = BuildAcl({a, b});
  if (aclOut) *aclOut = acl;
  auto owner = S("S-1-5-32-544");
  return BuildSelfRelativeDescriptor(owner, owner, Bytes(acl));
}

void PutU16(std::vector<uint8_t>& v, size_t at, uint16_t x) {
  v[at] = static_cast<uint8_t>(x);
  v[at + 1] = static_cast<uint8_t>(x >> 8);
}
void PutU32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}
uint32_t DaclOffset(const std::vector<uint8_t>& sd) { return sd[16] | sd[17] << 8 | sd[18] << 16 | sd[19] << 24; }

}  // namespace

TEST(SecurityDescriptor, FindsTheDaclAndWalksItsEntries) {
  std::vector<uint8_t> acl;
  auto sd = SampleDescriptor(&acl);
  bool present = false, defaulted = true;
  Bytes dacl;
  ASSERT_TRUE(GetSecurityDescriptorDacl(sd, present, dacl, defaulted));
  EXPECT_TRUE(present);
  EXPECT_FALSE(defaulted);
  EXPECT_TRUE(std::equal(dacl.begin(), dacl.end(), acl.begin(), acl.end()));

  AclSizeInformation info;
  ASSERT_TRUE(GetAclInformation(dacl, info));
  EXPECT_EQ(info.AceCount, 2u);
  EXPECT_EQ(info.AclBytesInUse, acl.size());
  EXPECT_EQ(info.AclBytesFree, 0u);

  Ace ace;
  uint32_t mask = 0;
  Bytes sid;
  ASSERT_TRUE(GetAce(dacl, 1, ace));
  EXPECT_EQ(ace.type, ACCESS_DENIED_ACE_TYPE);
  ASSERT_TRUE(AceAccessMask(ace, mask));
  EXPECT_EQ(mask, 0x8u);
  ASSERT_TRUE(AceSid(ace, sid));
  EXPECT_EQ(SidToString(sid), "S-1-1-0");
  EXPECT_FALSE(GetAce(dacl, 2, ace));
}

TEST(SecurityDescriptor, AbsentNullAndUnreadableDacls) {
  auto owner = S("S-1-5-18");
  bool present = true, defaulted = true;
  Bytes dacl;

  auto none = BuildSelfRelativeDescriptor(owner, {}, std::nullopt);
  ASSERT_TRUE(GetSecurityDescriptorDacl(none, present, dacl, defaulted));
  EXPECT_FALSE(present);

  auto null = BuildSelfRelativeDescriptor(owner, {}, Bytes{});
  ASSERT_TRUE(GetSecurityDescriptorDacl(null, present, dacl, defaulted));
  EXPECT_TRUE(present);
  EXPECT_TRUE(dacl.empty());

  auto sd = SampleDescriptor();
  // Short header, wrong revision, absolute form.
  EXPECT_FALSE(GetSecurityDescriptorDacl(Bytes(sd).first(19), present, dacl, defaulted));
  auto bad = sd;
  bad[0] = 2;
  EXPECT_FALSE(GetSecurityDescriptorDacl(bad, present, dacl, defaulted));
  bad = sd;
  PutU16(bad, 2, SE_DACL_PRESENT);
  EXPECT_FALSE(GetSecurityDescriptorDacl(bad, present, dacl, defaulted));
  EXPECT_FALSE(present);
  // DACL offset past the end, or leaving no room for the ACL header.
  bad = sd;
  PutU32(bad, 16, 0xFFFFFFF0u);
  EXPECT_FALSE(GetSecurityDescriptorDacl(bad, present, dacl, defaulted));
  bad = sd;
  PutU32(bad, 16, static_cast<uint32_t>(sd.size() - 4));
  EXPECT_FALSE(GetSecurityDescriptorDacl(bad, present, dacl, defaulted));
  // An ACL that declares a size smaller than its header.
  bad = sd;
  PutU16(bad, DaclOffset(sd) + 2, 4);
  EXPECT_FALSE(GetSecurityDescriptorDacl(bad, present, dacl, defaulted));
}

TEST(SecurityDescriptor, EntriesOutsideTheSpanOrTheAclAreRefused) {
  std::vector<uint8_t> acl;
  auto sd = SampleDescriptor(&acl);
  const size_t firstAceSize = acl[8 + 2];
  Ace ace;

  // The descriptor cut in the middle of the second entry: the DACL span is
  // cut too, the first entry still reads.
  std::vector<uint8_t> cut(sd.begin(), sd.end() - 6);
  bool present, defaulted;
  Bytes dacl;
  ASSERT_TRUE(GetSecurityDescriptorDacl(cut, present, dacl, defaulted));
  EXPECT_TRUE(GetAce(dacl, 0, ace));
  EXPECT_FALSE(GetAce(dacl, 1, ace));

  // The ACL's declared size ends inside the second entry.
  auto shrunk = acl;
  PutU16(shrunk, 2, static_cast<uint16_t>(8 + firstAceSize + 4));
  EXPECT_TRUE(GetAce(shrunk, 0, ace));
  EXPECT_FALSE(GetAce(shrunk, 1, ace));

  // A count larger than the entries present.
  auto counted = acl;
  PutU16(counted, 4, 500);
  AclSizeInformation info;
  ASSERT_TRUE(GetAclInformation(counted, info));
  EXPECT_EQ(info.AceCount, 500u);
  EXPECT_EQ(info.AclBytesInUse, acl.size());
  EXPECT_TRUE(GetAce(counted, 1, ace));
  EXPECT_FALSE(GetAce(counted, 2, ace));
  EXPECT_FALSE(GetAce(counted, 499, ace));

  // An entry declaring a size below its own header cannot be stepped over.
  auto zero = acl;
  PutU16(zero, 8 + 2, 0);
  EXPECT_FALSE(GetAce(zero, 0, ace));
  EXPECT_FALSE(GetAce(zero, 1, ace));

  // An entry too short for its mask or its SID.
  auto tiny = BuildAcl({{0, 0, 4, 0}});
  ASSERT_TRUE(GetAce(tiny, 0, ace));
  uint32_t mask;
  Bytes sid;
  EXPECT_FALSE(AceAccessMask(ace, mask));
  EXPECT_FALSE(AceSid(ace, sid));
  auto clipped = BuildAce(0, 0, 0x1A, S("S-1-5-21-1-2-3-4"));
  clipped[9] = 15;  // claims 15 sub-authorities
  auto withClipped = BuildAcl({clipped});
  ASSERT_TRUE(GetAce(withClipped, 0, ace));
  EXPECT_FALSE(AceSid(ace, sid));
}

TEST(SecurityDescriptor, ObjectEntriesCarryTheirSidAfterFlagsAndGuids) {
  std::array<uint8_t, 16> g1{}, g2{};
  g1.fill(0xAB);
  g2.fill(0xCD);
  auto who = S("S-1-5-21-1004336348-1177238915-682003330-1105");
  struct Case {
    std::optional<std::array<uint8_t, 16>> object, inherited;
  } cases[] = {{std::nullopt, std::nullopt}, {g1, std::nullopt}, {std::nullopt, g2}, {g1, g2}};
  for (uint8_t type = ACCESS_ALLOWED_OBJECT_ACE_TYPE; type <= SYSTEM_ALARM_OBJECT_ACE_TYPE; ++type) {
    for (const auto& c : cases) {
      auto acl = BuildAcl({BuildObjectAce(type, 0, 0x100, c.object, c.inherited, who)});
      Ace ace;
      Bytes sid;
      uint32_t mask = 0;
      ASSERT_TRUE(GetAce(acl, 0, ace));
      ASSERT_TRUE(AceAccessMask(ace, mask));
      EXPECT_EQ(mask, 0x100u);
      ASSERT_TRUE(AceSid(ace, sid)) << int(type);
      EXPECT_EQ(SidToString(sid), "S-1-5-21-1004336348-1177238915-682003330-1105");
    }
  }
  // An object entry cut before its GUID ends has no SID.
  auto acl = BuildAcl({BuildObjectAce(ACCESS_ALLOWED_OBJECT_ACE_TYPE, 0, 0x100, g1, std::nullopt, {})});
  Ace ace;
  Bytes sid;
  ASSERT_TRUE(GetAce(acl, 0, ace));
  EXPECT_FALSE(AceSid(ace, sid));
}

TEST(SecurityDescriptor, SidTexts) {
  for (const char* text : {"S-1-1-0", "S-1-5-18", "S-1-5-32-544", "S-1-5-21-1004336348-1177238915-682003330-1999",
                           "S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15"}) {
    auto sid = SidFromString(text);
    ASSERT_TRUE(sid) << text;
    EXPECT_EQ(SidToString(*sid), text);
  }
  EXPECT_EQ(SidToString(*SidFromString("s-1-0x5-18")), "S-1-5-18");
  EXPECT_EQ(SidToString(*SidFromString("S-1-0x112233445566-1")), "S-1-0x112233445566-1");
  for (const char* bad : {"", "S-1", "S-2-5-18", "S-1-5-", "S-1-5-x", "S-1-5-4294967296",
                          "S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16", "X-1-5-18"})
    EXPECT_FALSE(SidFromString(bad)) << bad;
  std::vector<uint8_t> shortSid = {1, 2, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
  EXPECT_EQ(SidToString(shortSid), "");
}
