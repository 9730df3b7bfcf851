// Security descriptors in the Windows binary layout, without the Windows API:
// the native registry store keeps the descriptor of a key created with an
// access list in this form, and tools show a key's security on both systems
// through the SDDL rendering.

#ifndef WENDREL_PLATFORM_SECURITY_DESCRIPTOR_H_
#define WENDREL_PLATFORM_SECURITY_DESCRIPTOR_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace wendrel {
namespace platform {

// Control bits of a descriptor (SE_*).
constexpr uint16_t kSeDaclPresent = 0x0004;
constexpr uint16_t kSeDaclAutoInherited = 0x0400;
constexpr uint16_t kSeDaclProtected = 0x1000;
constexpr uint16_t kSeSelfRelative = 0x8000;

// ACE types.
constexpr uint8_t kAccessAllowedAce = 0;
constexpr uint8_t kAccessDeniedAce = 1;

// A string SID ("S-1-5-32-544") in binary form; false when the text is not
// a SID (at most 15 sub-authorities, authority below 2^48).
bool SidFromString(const std::string& text, std::vector<uint8_t>* sid);

// The text form of the binary SID at data[0..size); false when it is cut
// short or malformed. *length (optional) receives the SID's size in bytes.
bool SidToString(const uint8_t* data, size_t size, std::string* text, size_t* length);

// A self-relative descriptor (revision 1, SE_DACL_PRESENT | SE_SELF_RELATIVE,
// no owner, group or SACL) whose DACL holds one ACCESS_ALLOWED ACE per entry,
// in order, without inheritance flags. False when a SID is malformed.
bool BuildSecurityDescriptor(const std::vector<KeyAccessEntry>& entries,
                             std::vector<uint8_t>* descriptor);

struct AceInfo {
  uint8_t type = 0;
  uint8_t flags = 0;
  uint32_t mask = 0;
  std::string sid;  // text form
};

struct SecurityDescriptorInfo {
  uint16_t control = 0;
  std::string owner;  // text SIDs, empty when absent
  std::string group;
  bool dacl_present = false;
  bool dacl_null = false;  // present without an ACL: everyone has access
  std::vector<AceInfo> dacl;
};

// Reads a self-relative descriptor; false when it is not one or any offset or
// length points outside the data.
bool ParseSecurityDescriptor(const std::vector<uint8_t>& descriptor,
                             SecurityDescriptorInfo* info);

// The SDDL text of a self-relative descriptor, e.g.
// "D:(A;;KA;;;WD)(A;;KA;;;BA)": owner "O:", group "G:" when present, the DACL
// with its flags; well-known SIDs by alias, key rights by their letters, other
// masks as 0x hex. Empty when the descriptor cannot be parsed.
std::string SecurityDescriptorToSddl(const std::vector<uint8_t>& descriptor);

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_SECURITY_DESCRIPTOR_H_
