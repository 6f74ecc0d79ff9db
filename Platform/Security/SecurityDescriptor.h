#pragma once
// Self-relative security descriptors, ACLs, ACEs and SIDs in their Windows
// binary layout, read from byte spans: the stand-in for
// GetSecurityDescriptorDacl, GetAclInformation and GetAce, plus SID texts
// and builders for writing descriptors.
//
// Nothing here trusts a length or offset read from the bytes: every one is
// checked against the span it came from and, inside an ACL, against the
// ACL's own size. What does not fit is refused, never read.
//
// Layouts (all numbers little-endian):
//  descriptor: revision(1)=1, sbz1(1), control(2), owner offset(4),
//              group offset(4), SACL offset(4), DACL offset(4); offsets from
//              the descriptor's start, 0 = absent. Only the self-relative
//              form (control bit 0x8000) can be read from bytes.
//  ACL:        revision(1), sbz1(1), ACL size(2), ACE count(2), sbz2(2),
//              then the ACEs back to back.
//  ACE:        type(1), flags(1), size(2), access mask(4), then
//              - object ACEs (types 5 to 8): object flags(4), the object
//                type GUID(16) when flag 1 is set, the inherited object
//                type GUID(16) when flag 2 is set, then the SID;
//              - every other type: the SID right after the mask.
//  SID:        revision(1)=1, sub-authority count(1) <= 15, identifier
//              authority(6, big-endian), sub-authorities(4 each).
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velmo::sec {

using Bytes = std::span<const uint8_t>;

// Descriptor control bits.
inline constexpr uint16_t SE_OWNER_DEFAULTED = 0x0001;
inline constexpr uint16_t SE_GROUP_DEFAULTED = 0x0002;
inline constexpr uint16_t SE_DACL_PRESENT = 0x0004;
inline constexpr uint16_t SE_DACL_DEFAULTED = 0x0008;
inline constexpr uint16_t SE_SACL_PRESENT = 0x0010;
inline constexpr uint16_t SE_SELF_RELATIVE = 0x8000;

inline constexpr uint8_t SECURITY_DESCRIPTOR_REVISION = 1;
inline constexpr uint8_t ACL_REVISION = 2;
inline constexpr uint8_t ACL_REVISION_DS = 4;
inline constexpr size_t kDescriptorHeaderSize = 20;
inline constexpr size_t kAclHeaderSize = 8;

// ACE types.
inline constexpr uint8_t ACCESS_ALLOWED_ACE_TYPE = 0;
inline constexpr uint8_t ACCESS_DENIED_ACE_TYPE = 1;
inline constexpr uint8_t SYSTEM_AUDIT_ACE_TYPE = 2;
inline constexpr uint8_t SYSTEM_ALARM_ACE_TYPE = 3;
inline constexpr uint8_t ACCESS_ALLOWED_OBJECT_ACE_TYPE = 5;
inline constexpr uint8_t ACCESS_DENIED_OBJECT_ACE_TYPE = 6;
inline constexpr uint8_t SYSTEM_AUDIT_OBJECT_ACE_TYPE = 7;
inline constexpr uint8_t SYSTEM_ALARM_OBJECT_ACE_TYPE = 8;
// Object ACE flags.
inline constexpr uint32_t ACE_OBJECT_TYPE_PRESENT = 0x1;
inline constexpr uint32_t ACE_INHERITED_OBJECT_TYPE_PRESENT = 0x2;

// GetSecurityDescriptorDacl over a self-relative descriptor.
// True when the descriptor's header can be read: daclPresent and
// daclDefaulted then come from its control bits, and dacl is the DACL's
// bytes (empty for a present but null DACL, or when none is present). The
// DACL span runs from its offset for the ACL's declared size, cut at the end
// of the descriptor when the size reaches beyond it.
// False (outputs cleared) when the header is short, its revision is not 1,
// the descriptor is not self-relative, or a present DACL's offset leaves no
// room for an ACL header or declares a size below 8: such a descriptor
// counts as having no DACL.
bool GetSecurityDescriptorDacl(Bytes descriptor, bool& daclPresent, Bytes& dacl, bool& daclDefaulted);

// GetAclInformation with the size class: the ACE count from the header,
// the bytes used by the header and the ACEs that can be walked (as far as
// the span and the declared size allow), and the declared size less that.
struct AclSizeInformation {
  uint32_t AceCount = 0;
  uint32_t AclBytesInUse = 0;
  uint32_t AclBytesFree = 0;
};
bool GetAclInformation(Bytes acl, AclSizeInformation& info);

// One entry as GetAce finds it. bytes covers the whole entry (size bytes).
struct Ace {
  uint8_t type = 0;
  uint8_t flags = 0;
  uint16_t size = 0;
  Bytes bytes;
};

// GetAce: entry `index` (from 0). False when the index is not below the
// header's count, or when that entry or one before it does not lie wholly
// inside both the span and the ACL's declared size (or declares a size
// below 4).
bool GetAce(Bytes acl, uint32_t index, Ace& ace);

// The entry's access mask; false when the entry is shorter than 8 bytes.
bool AceAccessMask(const Ace& ace, uint32_t& mask);
// The entry's SID, found after the object flags and GUIDs for object ACEs
// (types 5 to 8) and right after the mask for every other type. False
// when the SID is not a valid SID lying inside the entry.
bool AceSid(const Ace& ace, Bytes& sid);

// A SID at the start of the span: valid when its revision is 1, it has at
// most 15 sub-authorities and they all lie inside the span.
bool IsValidSid(Bytes sid);
// Its length in bytes (8 + 4 per sub-authority), 0 when not valid.
size_t SidLength(Bytes sid);
// "S-1-5-21-1004336348-1177238915-682003330-500"; "" when not valid.
std::string SidToString(Bytes sid);
// The binary SID of such a text; nullopt when the text is not one.
std::optional<std::vector<uint8_t>> SidFromString(std::string_view text);

// Builders, for writing descriptors (sample data, tests).
std::vector<uint8_t> BuildAce(uint8_t type, uint8_t flags, uint32_t mask, Bytes sid);
std::vector<uint8_t> BuildObjectAce(uint8_t type, uint8_t flags, uint32_t mask,
                                    const std::optional<std::array<uint8_t, 16>>& objectType,
                                    const std::optional<std::array<uint8_t, 16>>& inheritedObjectType, Bytes sid);
// An ACL holding the entries in order, its size and count set to match.
std::vector<uint8_t> BuildAcl(const std::vector<std::vector<uint8_t>>& aces, uint8_t revision = ACL_REVISION);
// A self-relative descriptor with owner, group (empty spans: none) and,
// when given, a DACL (SE_DACL_PRESENT set; an empty ACL span gives a null
// DACL).
std::vector<uint8_t> BuildSelfRelativeDescriptor(Bytes owner, Bytes group, const std::optional<Bytes>& dacl,
                                                 uint16_t extraControl = 0);

}  // namespace velmo::sec
