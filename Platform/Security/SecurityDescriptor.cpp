#include "SecurityDescriptor.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace velmo::sec {

namespace {

uint16_t U16(Bytes b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
uint32_t U32(Bytes b, size_t at) {
  return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
         (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
void Put16(std::vector<uint8_t>& v, size_t at, uint16_t x) {
  v[at] = static_cast<uint8_t>(x);
  v[at + 1] = static_cast<uint8_t>(x >> 8);
}
void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}
void Append32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

// The part of an ACL span that entries may occupy: up to the declared size,
// never beyond the span.
size_t AclLimit(Bytes acl) { return std::min<size_t>(acl.size(), U16(acl, 2)); }

bool IsObjectAceType(uint8_t type) { return type >= ACCESS_ALLOWED_OBJECT_ACE_TYPE && type <= SYSTEM_ALARM_OBJECT_ACE_TYPE; }

}  // namespace

bool GetSecurityDescriptorDacl(Bytes sd, bool& daclPresent, Bytes& dacl, bool& daclDefaulted) {
  daclPresent = false;
  daclDefaulted = false;
  dacl = {};
  if (sd.size() < kDescriptorHeaderSize) return false;
  if (sd[0] != SECURITY_DESCRIPTOR_REVISION) return false;
  const uint16_t control = U16(sd, 2);
  if (!(control & SE_SELF_RELATIVE)) return false;
  if (!(control & SE_DACL_PRESENT)) return true;

  const uint32_t offset = U32(sd, 16);
  if (offset != 0) {
    if (offset > sd.size() || sd.size() - offset < kAclHeaderSize) return false;
    Bytes rest = sd.subspan(offset);
    const uint16_t declared = U16(rest, 2);
    if (declared < kAclHeaderSize) return false;
    dacl = rest.first(std::min<size_t>(declared, rest.size()));
  }
  daclPresent = true;
  daclDefaulted = (control & SE_DACL_DEFAULTED) != 0;
  return true;
}

bool GetAclInformation(Bytes acl, AclSizeInformation& info) {
  if (acl.size() < kAclHeaderSize) return false;
  const uint16_t declared = U16(acl, 2);
  if (declared < kAclHeaderSize) return false;
  const uint32_t count = U16(acl, 4);
  const size_t limit = AclLimit(acl);
  size_t pos = kAclHeaderSize;
  for (uint32_t i = 0; i < count; ++i) {
    if (limit - pos < 4) break;
    const uint16_t size = U16(acl, pos + 2);
    if (size < 4 || limit - pos < size) break;
    pos += size;
  }
  info.AceCount = count;
  info.AclBytesInUse = static_cast<uint32_t>(pos);
  info.AclBytesFree = declared - static_cast<uint32_t>(pos);
  return true;
}

bool GetAce(Bytes acl, uint32_t index, Ace& ace) {
  if (acl.size() < kAclHeaderSize) return false;
  if (index >= U16(acl, 4)) return false;
  const size_t limit = AclLimit(acl);
  size_t pos = kAclHeaderSize;
  for (uint32_t i = 0;; ++i) {
    if (pos > limit || limit - pos < 4) return false;
    const uint16_t size = U16(acl, pos + 2);
    if (size < 4 || limit - pos < size) return false;
    if (i == index) {
      ace.type = acl[pos];
      ace.flags = acl[pos + 1];
      ace.size = size;
      ace.bytes = acl.subspan(pos, size);
      return true;
    }
    pos += size;
  }
}

bool AceAccessMask(const Ace& ace, uint32_t& mask) {
  if (ace.bytes.size() < 8) return false;
  mask = U32(ace.bytes, 4);
  return true;
}

bool AceSid(const Ace& ace, Bytes& sid) {
  size_t at = 8;
  if (IsObjectAceType(ace.type)) {
    if (ace.bytes.size() < 12) return false;
    const uint32_t objectFlags = U32(ace.bytes, 8);
    at = 12;
    if (objectFlags & ACE_OBJECT_TYPE_PRESENT) at += 16;
    if (objectFlags & ACE_INHERITED_OBJECT_TYPE_PRESENT) at += 16;
  }
  if (ace.bytes.size() < at) return false;
  Bytes rest = ace.bytes.subspan(at);
  const size_t length = SidLength(rest);
  if (length == 0) return false;
  sid = rest.first(length);
  return true;
}

size_t SidLength(Bytes sid) {
  if (sid.size() < 8 || sid[0] != 1 || sid[1] > 15) return 0;
  const size_t length = 8 + 4 * static_cast<size_t>(sid[1]);
  return length <= sid.size() ? length : 0;
}

bool IsValidSid(Bytes sid) { return SidLength(sid) != 0; }

std::string SidToString(Bytes sid) {
  const size_t length = SidLength(sid);
  if (length == 0) return {};
  uint64_t authority = 0;
  for (int i = 2; i < 8; ++i) authority = (authority << 8) | sid[i];
  std::string out = "S-1-";
  if (authority >= (uint64_t(1) << 32)) {
    char buf[20];
    auto r = std::to_chars(buf, buf + sizeof buf, authority, 16);
    std::string hex(buf, r.ptr);
    for (auto& c : hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    out += "0x" + std::string(12 - std::min<size_t>(12, hex.size()), '0') + hex;
  } else {
    out += std::to_string(authority);
  }
  for (size_t i = 0; i < sid[1]; ++i) out += "-" + std::to_string(U32(sid, 8 + 4 * i));
  return out;
}

std::optional<std::vector<uint8_t>> SidFromString(std::string_view text) {
  if (text.size() < 4 || (text[0] != 'S' && text[0] != 's') || text[1] != '-') return std::nullopt;
  std::vector<std::string_view> parts;
  size_t start = 2;
  while (true) {
    size_t dash = text.find('-', start);
    parts.push_back(text.substr(start, dash == std::string_view::npos ? std::string_view::npos : dash - start));
    if (dash == std::string_view::npos) break;
    start = dash + 1;
  }
  // revision, authority, up to 15 sub-authorities
  if (parts.size() < 2 || parts.size() > 17 || parts[0] != "1") return std::nullopt;
  auto number = [](std::string_view p, uint64_t max, uint64_t& v) {
    int base = 10;
    if (p.size() > 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
      p.remove_prefix(2);
      base = 16;
    }
    if (p.empty()) return false;
    auto r = std::from_chars(p.data(), p.data() + p.size(), v, base);
    return r.ec == std::errc() && r.ptr == p.data() + p.size() && v <= max;
  };
  uint64_t authority = 0;
  if (!number(parts[1], (uint64_t(1) << 48) - 1, authority)) return std::nullopt;
  std::vector<uint8_t> sid(8, 0);
  sid[0] = 1;
  sid[1] = static_cast<uint8_t>(parts.size() - 2);
  for (int i = 0; i < 6; ++i) sid[2 + i] = static_cast<uint8_t>(authority >> (8 * (5 - i)));
  for (size_t i = 2; i < parts.size(); ++i) {
    uint64_t sub = 0;
    if (!number(parts[i], 0xFFFFFFFFu, sub)) return std::nullopt;
    Append32(sid, static_cast<uint32_t>(sub));
  }
  return sid;
}

std::vector<uint8_t> BuildAce(uint8_t type, uint8_t flags, uint32_t mask, Bytes sid) {
  std::vector<uint8_t> ace(4, 0);
  ace[0] = type;
  ace[1] = flags;
  Append32(ace, mask);
  ace.insert(ace.end(), sid.begin(), sid.end());
  Put16(ace, 2, static_cast<uint16_t>(ace.size()));
  return ace;
}

std::vector<uint8_t> BuildObjectAce(uint8_t type, uint8_t flags, uint32_t mask,
                                    const std::optional<std::array<uint8_t, 16>>& objectType,
                                    const std::optional<std::array<uint8_t, 16>>& inheritedObjectType, Bytes sid) {
  std::vector<uint8_t> ace(4, 0);
  ace[0] = type;
  ace[1] = flags;
  Append32(ace, mask);
  Append32(ace, (objectType ? ACE_OBJECT_TYPE_PRESENT : 0) | (inheritedObjectType ? ACE_INHERITED_OBJECT_TYPE_PRESENT : 0));
  if (objectType) ace.insert(ace.end(), objectType->begin(), objectType->end());
  if (inheritedObjectType) ace.insert(ace.end(), inheritedObjectType->begin(), inheritedObjectType->end());
  ace.insert(ace.end(), sid.begin(), sid.end());
  Put16(ace, 2, static_cast<uint16_t>(ace.size()));
  return ace;
}

std::vector<uint8_t> BuildAcl(const std::vector<std::vector<uint8_t>>& aces, uint8_t revision) {
  std::vector<uint8_t> acl(kAclHeaderSize, 0);
  acl[0] = revision;
  for (const auto& a : aces) acl.insert(acl.end(), a.begin(), a.end());
  Put16(acl, 2, static_cast<uint16_t>(acl.size()));
  Put16(acl, 4, static_cast<uint16_t>(aces.size()));
  return acl;
}

std::vector<uint8_t> BuildSelfRelativeDescriptor(Bytes owner, Bytes group, const std::optional<Bytes>& dacl,
                                                 uint16_t extraControl) {
  std::vector<uint8_t> sd(kDescriptorHeaderSize, 0);
  sd[0] = SECURITY_DESCRIPTOR_REVISION;
  uint16_t control = SE_SELF_RELATIVE | extraControl;
  auto place = [&](Bytes part, size_t field) {
    if (part.empty()) return;
    Put32(sd, field, static_cast<uint32_t>(sd.size()));
    sd.insert(sd.end(), part.begin(), part.end());
  };
  place(owner, 4);
  place(group, 8);
  if (dacl) {
    control |= SE_DACL_PRESENT;
    place(*dacl, 16);
  }
  Put16(sd, 2, control);
  return sd;
}

}  // namespace velmo::sec
