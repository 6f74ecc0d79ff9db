// libFuzzer target: any bytes, read as a security descriptor, as an ACL, as
// a SID, and as SID text. Beyond not crashing, what the reader hands out
// must lie inside what it was given.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "SecurityDescriptor.h"

using namespace velmo::sec;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool Inside(Bytes inner, Bytes outer) {
  return inner.empty() || (inner.data() >= outer.data() && inner.data() + inner.size() <= outer.data() + outer.size());
}

void ReadAcl(Bytes acl) {
  AclSizeInformation info;
  if (GetAclInformation(acl, info)) {
    Check(info.AclBytesInUse >= kAclHeaderSize);
    Check(info.AclBytesInUse <= acl.size());
  }
  Ace ace;
  for (uint32_t i = 0; GetAce(acl, i, ace); ++i) {
    Check(Inside(ace.bytes, acl));
    Check(ace.bytes.size() == ace.size && ace.size >= 4);
    uint32_t mask;
    if (AceAccessMask(ace, mask)) Check(ace.bytes.size() >= 8);
    Bytes sid;
    if (AceSid(ace, sid)) {
      Check(Inside(sid, ace.bytes));
      Check(IsValidSid(sid));
      auto again = SidFromString(SidToString(sid));
      Check(again && *again == std::vector<uint8_t>(sid.begin(), sid.end()));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bytes input(data, size);

  bool present = false, defaulted = false;
  Bytes dacl;
  if (GetSecurityDescriptorDacl(input, present, dacl, defaulted)) {
    Check(Inside(dacl, input));
    if (present && !dacl.empty()) ReadAcl(dacl);
  }
  ReadAcl(input);

  if (SidLength(input) != 0) {
    auto text = SidToString(input);
    Check(!text.empty());
    auto back = SidFromString(text);
    Check(back && back->size() == SidLength(input) && std::equal(back->begin(), back->end(), input.begin()));
  }

  std::string text(reinterpret_cast<const char*>(data), size);
  if (auto sid = SidFromString(text)) {
    Check(IsValidSid(*sid));
    auto again = SidFromString(SidToString(*sid));
    Check(again && *again == *sid);
  }
  return 0;
}
