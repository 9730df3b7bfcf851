// The binary contract between the login host and a login extension: the
// handshake, the service table, the event handler and the start-info record.
//
// The host's records are packed on 4-byte boundaries, so on x86-64 a pointer
// field (8 bytes) may sit at an offset that is not a multiple of 8. Fields are
// therefore never read through a struct with natural alignment: every
// accessor below copies the bytes at the field's offset with memcpy. Both
// sides of the contract (the extension and the host stand-in) use this header.

#ifndef WENDREL_CORE_LOGIN_HOST_H_
#define WENDREL_CORE_LOGIN_HOST_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace wendrel {

// ---- Host module and its exports ------------------------------------------

// The host module's names on Windows (NT family and 9x family).
constexpr const char kHostModuleNt[] = "LGQZNT32.DLL";
constexpr const char kHostModule9x[] = "LGQZ9532.DLL";
constexpr const char kHostInitExport[] = "QZLoginExtInit";
constexpr const char kHostInitialConnExport[] = "_QZLGGetInitialConn";

// The version record handed to QZLoginExtInit: a 16-bit little-endian 5,
// then two zero bytes.
struct LoginExtVersion {
  unsigned char bytes[4];
};
static_assert(sizeof(LoginExtVersion) == 4, "LoginExtVersion is 4 bytes");
constexpr uint16_t kLoginExtVersionNumber = 5;

inline LoginExtVersion MakeLoginExtVersion() {
  LoginExtVersion v = {{static_cast<unsigned char>(kLoginExtVersionNumber & 0xFF),
                        static_cast<unsigned char>(kLoginExtVersionNumber >> 8), 0, 0}};
  return v;
}

inline uint16_t LoginExtVersionNumber(const LoginExtVersion& v) {
  return static_cast<uint16_t>(v.bytes[0] | (v.bytes[1] << 8));
}

// QZLoginExtInit(out table pointer, version, out pointer-sized value, 0, 0):
// 0 for success, after which *table points to the host's service table. The
// second out-value is not read by the extension.
using QZLoginExtInitFn = int32_t (*)(void** table, const LoginExtVersion* version,
                                     uintptr_t* out_value, uintptr_t reserved1,
                                     uintptr_t reserved2);

// _QZLGGetInitialConn(host handle); the result is ignored.
using QZLGGetInitialConnFn = int32_t (*)(void* host);

// ---- Service table and host handle ----------------------------------------

// The event handler in entry 2 of the service table: (host handle, event,
// a, b, record, c, d) -> 32-bit result.
using HostEventHandler = int32_t (*)(void* host, uint32_t event, uint32_t a, uint32_t b,
                                     void* record, uintptr_t c, uint32_t d);

// Entry 4 of the table the host handle points to: notify(host handle, code,
// 0, 0, 0); the result is ignored.
using HostNotifyFn = int32_t (*)(void* host, uint32_t code, uint32_t a, uint32_t b,
                                 uintptr_t d);

static_assert(sizeof(HostEventHandler) == sizeof(void*), "entries are pointer-sized");
static_assert(sizeof(HostNotifyFn) == sizeof(void*), "entries are pointer-sized");

constexpr size_t kHostServiceTableEntries = 6;
constexpr size_t kHostServiceTableSize = 48;
static_assert(kHostServiceTableSize == kHostServiceTableEntries * 8,
              "the 48-byte table holds six 8-byte entries on x86-64");
constexpr size_t kHostEventHandlerEntry = 2;
// Entries of the table the host handle points to.
constexpr size_t kHostHandleEntries = 6;
constexpr size_t kHostHandleNotifyEntry = 4;

// ---- Event codes ------------------------------------------------------------

constexpr uint32_t kEventStart = 0;
constexpr uint32_t kEventTerminate = 18;  // QZLG_TERMINATE
constexpr uint32_t kEventPrelogin = 98;
constexpr uint32_t kEventSearch = 102;  // search after a connectivity wait
constexpr uint32_t kEventTabData = 1296;
// Sent to the host through notify once the record has been resolved.
constexpr uint32_t kNotifyResolved = 100;

// ---- Start-info record --------------------------------------------------------

constexpr size_t kStartInfoListHead = 4;  // pointer to the first tagged node

// A text field: a 32-bit buffer size and a pointer to the buffer.
struct StartInfoTextField {
  size_t size_offset;
  size_t buffer_offset;
};
// The text field before the tree, cleared by treeless login.
constexpr StartInfoTextField kStartInfoField24 = {24, 28};
constexpr StartInfoTextField kStartInfoTree = {36, 40};
constexpr StartInfoTextField kStartInfoUser = {48, 52};  // ANSI code page
constexpr StartInfoTextField kStartInfoContext = {108, 112};

constexpr size_t kStartInfoCallingModule = 216;  // u32
constexpr size_t kStartInfoProviderName = 220;   // pointer to a NUL-terminated text
// The bytes a start-info record must have for every field above.
constexpr size_t kStartInfoSize = kStartInfoProviderName + sizeof(void*);

constexpr uint32_t kCallingModuleUnset = 0xFFFFFFFFu;
constexpr uint32_t kCallingModuleMark = 577775;  // 0x8D0EF
constexpr const char kZelnetProvider[] = "zelnetprovider";

// ---- Tagged record list -------------------------------------------------------

constexpr size_t kListNodeTag = 0;   // u32
constexpr size_t kListNodeNext = 4;  // pointer to the next node
constexpr size_t kListNodeData = 12;  // pointer to the record
constexpr size_t kListNodeSize = kListNodeData + sizeof(void*);

constexpr uint32_t kTagStartUI = 17;
constexpr size_t kStartUIByte = 116;  // the one byte read of the start-UI record
constexpr size_t kStartUISize = kStartUIByte + 1;
constexpr unsigned char kStartUIPrelogin = 5;  // start-UI byte that runs prelogin at start

constexpr uint32_t kTagTabData = 87;
constexpr size_t kTabDataRunEap = 12;  // u32
constexpr size_t kTabDataSize = kTabDataRunEap + 4;

// ---- Accessors over raw bytes ------------------------------------------------

inline uint32_t LoadU32(const void* base, size_t offset) {
  uint32_t v;
  std::memcpy(&v, static_cast<const unsigned char*>(base) + offset, sizeof v);
  return v;
}

inline void StoreU32(void* base, size_t offset, uint32_t v) {
  std::memcpy(static_cast<unsigned char*>(base) + offset, &v, sizeof v);
}

inline int32_t LoadI32(const void* base, size_t offset) {
  int32_t v;
  std::memcpy(&v, static_cast<const unsigned char*>(base) + offset, sizeof v);
  return v;
}

inline void StoreI32(void* base, size_t offset, int32_t v) {
  std::memcpy(static_cast<unsigned char*>(base) + offset, &v, sizeof v);
}

inline void* LoadPointer(const void* base, size_t offset) {
  void* p;
  std::memcpy(&p, static_cast<const unsigned char*>(base) + offset, sizeof p);
  return p;
}

inline void StorePointer(void* base, size_t offset, const void* p) {
  std::memcpy(static_cast<unsigned char*>(base) + offset, &p, sizeof p);
}

// Entry `index` of a table of pointer-sized entries, as a function pointer of
// type Fn (null when the entry is null).
template <typename Fn>
inline Fn LoadEntry(const void* table, size_t index) {
  static_assert(sizeof(Fn) == sizeof(void*), "entries are pointer-sized");
  Fn fn;
  std::memcpy(&fn, static_cast<const unsigned char*>(table) + index * sizeof(void*), sizeof fn);
  return fn;
}

template <typename Fn>
inline void StoreEntry(void* table, size_t index, Fn fn) {
  static_assert(sizeof(Fn) == sizeof(void*), "entries are pointer-sized");
  std::memcpy(static_cast<unsigned char*>(table) + index * sizeof(void*), &fn, sizeof fn);
}

inline HostEventHandler LoadEventHandler(const void* table) {
  return LoadEntry<HostEventHandler>(table, kHostEventHandlerEntry);
}

inline void StoreEventHandler(void* table, HostEventHandler handler) {
  StoreEntry(table, kHostEventHandlerEntry, handler);
}

// The notify routine of a host handle (entry 4 of the table it points to).
inline HostNotifyFn LoadNotify(const void* host) {
  return LoadEntry<HostNotifyFn>(host, kHostHandleNotifyEntry);
}

// A text field of the start-info record: its buffer and the buffer's size.
struct HostText {
  int32_t size;
  char* buffer;
};

inline HostText LoadText(const void* record, StartInfoTextField field) {
  HostText t;
  t.size = LoadI32(record, field.size_offset);
  t.buffer = static_cast<char*>(LoadPointer(record, field.buffer_offset));
  return t;
}

inline void StoreText(void* record, StartInfoTextField field, HostText t) {
  StoreI32(record, field.size_offset, t.size);
  StorePointer(record, field.buffer_offset, t.buffer);
}

inline uint32_t LoadCallingModule(const void* record) {
  return LoadU32(record, kStartInfoCallingModule);
}

inline void StoreCallingModule(void* record, uint32_t value) {
  StoreU32(record, kStartInfoCallingModule, value);
}

inline const char* LoadProviderName(const void* record) {
  return static_cast<const char*>(LoadPointer(record, kStartInfoProviderName));
}

// The first node of the record's tagged list with `tag`, or null. The list
// ends at a null next pointer.
inline const void* FindTaggedNode(const void* record, uint32_t tag) {
  if (record == nullptr) return nullptr;
  for (const void* node = LoadPointer(record, kStartInfoListHead); node != nullptr;
       node = LoadPointer(node, kListNodeNext)) {
    if (LoadU32(node, kListNodeTag) == tag) return node;
  }
  return nullptr;
}

inline void* LoadNodeData(const void* node) { return LoadPointer(node, kListNodeData); }

}  // namespace wendrel

#endif  // WENDREL_CORE_LOGIN_HOST_H_
