// fuzz_seeds DIR: writes starting inputs for the descriptor fuzz target:
// descriptors with plain and object entries, and damaged variants.
#include <cstdio>
#include <fstream>
#include <string>

#include "SecurityDescriptor.h"

using namespace velmo::sec;

namespace {

void Write(const std::string& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
  std::ofstream(dir + "/seed-" + name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                               static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: fuzz_seeds DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  auto user = *SidFromString("S-1-5-21-1004336348-1177238915-682003330-1106");
  auto everyone = *SidFromString("S-1-1-0");
  auto admins = *SidFromString("S-1-5-32-544");
  std::array<uint8_t, 16> guid{};
  guid.fill(0x5A);
  auto acl = BuildAcl({BuildAce(ACCESS_ALLOWED_ACE_TYPE, 0, 0x1A, user), BuildAce(ACCESS_DENIED_ACE_TYPE, 2, 0x8, everyone),
                       BuildObjectAce(ACCESS_ALLOWED_OBJECT_ACE_TYPE, 0, 0x100, guid, guid, admins)},
                      ACL_REVISION_DS);
  auto sd = BuildSelfRelativeDescriptor(admins, user, Bytes(acl));
  Write(dir, "descriptor", sd);
  Write(dir, "acl", acl);
  Write(dir, "sid", user);
  Write(dir, "nodacl", BuildSelfRelativeDescriptor(admins, {}, std::nullopt));
  Write(dir, "nulldacl", BuildSelfRelativeDescriptor(admins, {}, Bytes{}));
  Write(dir, "cut", std::vector<uint8_t>(sd.begin(), sd.end() - 7));
  auto counted = sd;
  counted[sd.size() - acl.size() + 4] = 0xFF;
  Write(dir, "count", counted);
  const std::string text = "S-1-5-21-1004336348-1177238915-682003330-1999";
  Write(dir, "text", std::vector<uint8_t>(text.begin(), text.end()));
  return 0;
}
