#include "platform/security_descriptor.h"

#include <cstdio>
#include <cstdlib>

namespace wendrel {
namespace platform {

namespace {

constexpr size_t kHeaderSize = 20;     // revision, sbz1, control, four offsets
constexpr size_t kAclHeaderSize = 8;   // revision, sbz1, size, count, sbz2
constexpr size_t kAceHeaderSize = 8;   // type, flags, size, mask
constexpr uint8_t kAclRevision = 2;
constexpr size_t kMaxSubAuthorities = 15;

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t Read32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void Put16(std::vector<uint8_t>* out, uint16_t v) {
  out->push_back(static_cast<uint8_t>(v));
  out->push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Parses an unsigned decimal number of at most `max`; false on anything else.
bool ParseNumber(const std::string& text, uint64_t max, uint64_t* value) {
  if (text.empty() || text.size() > 20) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    uint64_t next = v * 10 + static_cast<uint64_t>(c - '0');
    if (next / 10 != v || next > max) return false;
    v = next;
  }
  *value = v;
  return true;
}

struct Alias {
  const char* sid;
  const char* alias;
};

constexpr Alias kSidAliases[] = {
    {"S-1-1-0", "WD"},       {"S-1-3-0", "CO"},       {"S-1-3-1", "CG"},
    {"S-1-5-4", "IU"},       {"S-1-5-6", "SU"},       {"S-1-5-7", "AN"},
    {"S-1-5-9", "ED"},       {"S-1-5-10", "PS"},      {"S-1-5-11", "AU"},
    {"S-1-5-12", "RC"},      {"S-1-5-18", "SY"},      {"S-1-5-19", "LS"},
    {"S-1-5-20", "NS"},      {"S-1-5-32-544", "BA"},  {"S-1-5-32-545", "BU"},
    {"S-1-5-32-546", "BG"},  {"S-1-5-32-547", "PU"},  {"S-1-5-32-548", "AO"},
    {"S-1-5-32-549", "SO"},  {"S-1-5-32-550", "PO"},  {"S-1-5-32-551", "BO"},
    {"S-1-5-32-555", "RD"},  {"S-1-15-2-1", "AC"},
};

struct Right {
  uint32_t mask;
  const char* letters;
};

// Whole masks that SDDL names with letters; anything else is written in hex.
constexpr Right kRights[] = {
    {0xF003F, "KA"},     {0x20019, "KR"},     {0x20006, "KW"},     {0x1F01FF, "FA"},
    {0x120089, "FR"},    {0x120116, "FW"},    {0x1200A0, "FX"},    {0x10000000, "GA"},
    {0x80000000, "GR"},  {0x40000000, "GW"},  {0x20000000, "GX"},
};

std::string SidText(const std::string& sid) {
  for (const Alias& a : kSidAliases) {
    if (sid == a.sid) return a.alias;
  }
  return sid;
}

std::string RightsText(uint32_t mask) {
  for (const Right& r : kRights) {
    if (mask == r.mask) return r.letters;
  }
  char buffer[16];
  std::snprintf(buffer, sizeof(buffer), "0x%x", static_cast<unsigned>(mask));
  return buffer;
}

std::string AceTypeText(uint8_t type) {
  if (type == kAccessAllowedAce) return "A";
  if (type == kAccessDeniedAce) return "D";
  char buffer[8];
  std::snprintf(buffer, sizeof(buffer), "0x%x", type);
  return buffer;
}

std::string AceFlagsText(uint8_t flags) {
  static const struct {
    uint8_t bit;
    const char* letters;
  } kFlags[] = {{0x01, "OI"}, {0x02, "CI"}, {0x04, "NP"}, {0x08, "IO"}, {0x10, "ID"},
                {0x40, "SA"}, {0x80, "FA"}};
  std::string text;
  uint8_t rest = flags;
  for (const auto& f : kFlags) {
    if (flags & f.bit) {
      text += f.letters;
      rest = static_cast<uint8_t>(rest & ~f.bit);
    }
  }
  if (rest != 0) {
    char buffer[8];
    std::snprintf(buffer, sizeof(buffer), "0x%x", rest);
    text += buffer;
  }
  return text;
}

// Reads the SID at `offset` (0: absent) of the descriptor.
bool SidAt(const std::vector<uint8_t>& d, uint32_t offset, std::string* text) {
  text->clear();
  if (offset == 0) return true;
  if (offset >= d.size()) return false;
  return SidToString(d.data() + offset, d.size() - offset, text, nullptr);
}

}  // namespace

bool SidFromString(const std::string& text, std::vector<uint8_t>* sid) {
  if (text.size() < 4 || (text.compare(0, 2, "S-") != 0 && text.compare(0, 2, "s-") != 0)) {
    return false;
  }
  std::vector<std::string> parts;
  size_t start = 2;
  for (;;) {
    size_t dash = text.find('-', start);
    parts.push_back(text.substr(start, dash == std::string::npos ? dash : dash - start));
    if (dash == std::string::npos) break;
    start = dash + 1;
  }
  // revision, authority, then the sub-authorities
  if (parts.size() < 3 || parts.size() - 2 > kMaxSubAuthorities) return false;
  uint64_t revision = 0;
  uint64_t authority = 0;
  if (!ParseNumber(parts[0], 255, &revision) || revision != 1) return false;
  if (!ParseNumber(parts[1], (uint64_t{1} << 48) - 1, &authority)) return false;
  std::vector<uint8_t> out;
  out.push_back(static_cast<uint8_t>(revision));
  out.push_back(static_cast<uint8_t>(parts.size() - 2));
  for (int shift = 40; shift >= 0; shift -= 8) {
    out.push_back(static_cast<uint8_t>(authority >> shift));  // big-endian
  }
  for (size_t i = 2; i < parts.size(); ++i) {
    uint64_t sub = 0;
    if (!ParseNumber(parts[i], 0xFFFFFFFFu, &sub)) return false;
    Put32(&out, static_cast<uint32_t>(sub));
  }
  sid->swap(out);
  return true;
}

bool SidToString(const uint8_t* data, size_t size, std::string* text, size_t* length) {
  if (size < 8 || data[0] != 1 || data[1] > kMaxSubAuthorities) return false;
  size_t needed = 8 + 4 * static_cast<size_t>(data[1]);
  if (size < needed) return false;
  uint64_t authority = 0;
  for (int i = 2; i < 8; ++i) authority = (authority << 8) | data[i];
  std::string out = "S-1-" + std::to_string(authority);
  for (size_t i = 0; i < data[1]; ++i) out += "-" + std::to_string(Read32(data + 8 + 4 * i));
  *text = out;
  if (length != nullptr) *length = needed;
  return true;
}

bool BuildSecurityDescriptor(const std::vector<KeyAccessEntry>& entries,
                             std::vector<uint8_t>* descriptor) {
  std::vector<uint8_t> aces;
  for (const KeyAccessEntry& entry : entries) {
    std::vector<uint8_t> sid;
    if (!SidFromString(entry.sid, &sid)) return false;
    aces.push_back(kAccessAllowedAce);
    aces.push_back(0);  // no inheritance
    Put16(&aces, static_cast<uint16_t>(kAceHeaderSize + sid.size()));
    Put32(&aces, entry.rights);
    aces.insert(aces.end(), sid.begin(), sid.end());
  }
  std::vector<uint8_t> out;
  out.push_back(1);  // revision
  out.push_back(0);
  Put16(&out, kSeDaclPresent | kSeSelfRelative);
  Put32(&out, 0);  // owner
  Put32(&out, 0);  // group
  Put32(&out, 0);  // SACL
  Put32(&out, static_cast<uint32_t>(kHeaderSize));
  out.push_back(kAclRevision);
  out.push_back(0);
  Put16(&out, static_cast<uint16_t>(kAclHeaderSize + aces.size()));
  Put16(&out, static_cast<uint16_t>(entries.size()));
  Put16(&out, 0);
  out.insert(out.end(), aces.begin(), aces.end());
  descriptor->swap(out);
  return true;
}

bool ParseSecurityDescriptor(const std::vector<uint8_t>& d, SecurityDescriptorInfo* info) {
  SecurityDescriptorInfo out;
  if (d.size() < kHeaderSize || d[0] != 1) return false;
  out.control = Read16(&d[2]);
  if (!(out.control & kSeSelfRelative)) return false;
  if (!SidAt(d, Read32(&d[4]), &out.owner) || !SidAt(d, Read32(&d[8]), &out.group)) {
    return false;
  }
  out.dacl_present = (out.control & kSeDaclPresent) != 0;
  uint32_t dacl = Read32(&d[16]);
  if (out.dacl_present && dacl == 0) out.dacl_null = true;
  if (out.dacl_present && dacl != 0) {
    if (dacl > d.size() || d.size() - dacl < kAclHeaderSize) return false;
    size_t acl_size = Read16(&d[dacl + 2]);
    size_t count = Read16(&d[dacl + 4]);
    if (acl_size < kAclHeaderSize || acl_size > d.size() - dacl) return false;
    size_t pos = dacl + kAclHeaderSize;
    size_t end = dacl + acl_size;
    for (size_t i = 0; i < count; ++i) {
      if (end - pos < kAceHeaderSize) return false;
      size_t ace_size = Read16(&d[pos + 2]);
      if (ace_size < kAceHeaderSize || ace_size > end - pos) return false;
      AceInfo ace;
      ace.type = d[pos];
      ace.flags = d[pos + 1];
      ace.mask = Read32(&d[pos + 4]);
      // Allowed and denied ACEs end in a SID; other kinds are kept without.
      if ((ace.type == kAccessAllowedAce || ace.type == kAccessDeniedAce) &&
          !SidToString(&d[pos + kAceHeaderSize], ace_size - kAceHeaderSize, &ace.sid,
                       nullptr)) {
        return false;
      }
      out.dacl.push_back(ace);
      pos += ace_size;
    }
  }
  *info = out;
  return true;
}

std::string SecurityDescriptorToSddl(const std::vector<uint8_t>& descriptor) {
  SecurityDescriptorInfo info;
  if (!ParseSecurityDescriptor(descriptor, &info)) return std::string();
  std::string text;
  if (!info.owner.empty()) text += "O:" + SidText(info.owner);
  if (!info.group.empty()) text += "G:" + SidText(info.group);
  if (info.dacl_present) {
    text += "D:";
    if (info.control & kSeDaclProtected) text += "P";
    if (info.control & kSeDaclAutoInherited) text += "AI";
    if (info.dacl_null) text += "NO_ACCESS_CONTROL";
    for (const AceInfo& ace : info.dacl) {
      text += "(" + AceTypeText(ace.type) + ";" + AceFlagsText(ace.flags) + ";" +
              RightsText(ace.mask) + ";;;" + SidText(ace.sid) + ")";
    }
  }
  return text;
}

}  // namespace platform
}  // namespace wendrel
