#include "platform/win32/registry_query_win32.h"

#include <winternl.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
// ntdll; documented for drivers (ZwQueryValueKey, RtlUnicodeToMultiByteN).
NTSTATUS NTAPI NtQueryValueKey(HANDLE key, PUNICODE_STRING name, int information_class,
                               PVOID information, ULONG length, PULONG result_length);
NTSTATUS NTAPI RtlUnicodeToMultiByteN(PCHAR multi_byte, ULONG multi_byte_size,
                                      PULONG result_size, PCWCH unicode, ULONG unicode_size);
}

namespace wendrel {
namespace platform {
namespace {

constexpr int kKeyValuePartialInformation = 2;
constexpr NTSTATUS kStatusBufferOverflow = static_cast<NTSTATUS>(0x80000005);
constexpr NTSTATUS kStatusBufferTooSmall = static_cast<NTSTATUS>(0xC0000023);
// Callers offer at most a few hundred bytes; a larger offer goes the usual way.
constexpr DWORD kLargestOffer = 4096;
// The buffer advapi32 asks with first.
constexpr ULONG kAdvapiFirstTry = 256;

// KEY_VALUE_PARTIAL_INFORMATION.
struct PartialValue {
  ULONG title_index;
  ULONG type;
  ULONG data_length;
  UCHAR data[1];
};
constexpr size_t kHeaderSize = offsetof(PartialValue, data);

bool IsString(ULONG type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

bool IsTooSmall(NTSTATUS status) {
  return status == kStatusBufferOverflow || status == kStatusBufferTooSmall;
}

LONG QueryAsAdvapi(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size) {
  return RegQueryValueExA(key, name, nullptr, type, data, size);
}

}  // namespace

LONG QueryValueOnce(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size) {
  // Size-only questions, unusual offers and the predefined root keys (their
  // handles are advapi32's pseudo-handles, not kernel handles) keep
  // advapi32's own path.
  const ULONG_PTR bits = reinterpret_cast<ULONG_PTR>(key);
  const bool predefined = bits >= 0x80000000u && bits <= 0x800000FFu;
  if (data == nullptr || size == nullptr || *size > kLargestOffer || predefined) {
    return QueryAsAdvapi(key, name, type, data, size);
  }
  const int name_length = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
  if (name_length <= 0 || name_length > 16384) return QueryAsAdvapi(key, name, type, data, size);
  std::wstring wide(static_cast<size_t>(name_length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, name, -1, &wide[0], name_length);
  UNICODE_STRING unicode_name;
  unicode_name.Buffer = &wide[0];
  unicode_name.Length = static_cast<USHORT>((name_length - 1) * sizeof(wchar_t));
  unicode_name.MaximumLength = static_cast<USHORT>(name_length * sizeof(wchar_t));

  // A string that fits *size ANSI bytes has at most *size UTF-16 units; and
  // never less room than advapi32's first try, so that no value costs more
  // requests than it did there.
  const DWORD offered = *size;
  ULONG room = static_cast<ULONG>(kHeaderSize + 2 * offered + 2);
  if (room < kAdvapiFirstTry) room = kAdvapiFirstTry;
  std::vector<ULONGLONG> buffer;
  NTSTATUS status = kStatusBufferOverflow;
  // A value larger than that is asked for again at its size, which a
  // concurrent write may change in between: a few tries, then advapi32.
  for (int tries = 0; tries < 4 && IsTooSmall(status); ++tries) {
    buffer.assign((room + 7) / 8, 0);
    ULONG returned = 0;
    status = NtQueryValueKey(key, &unicode_name, kKeyValuePartialInformation, buffer.data(),
                             static_cast<ULONG>(buffer.size() * 8), &returned);
    room = returned;
  }
  if (IsTooSmall(status)) return QueryAsAdvapi(key, name, type, data, size);
  if (status != 0) return static_cast<LONG>(RtlNtStatusToDosError(status));

  const auto* value = reinterpret_cast<const PartialValue*>(buffer.data());
  ULONG length = value->data_length;
  LONG result = ERROR_SUCCESS;
  if (IsString(value->type)) {
    auto* text = reinterpret_cast<PWCH>(const_cast<UCHAR*>(value->data));
    ULONG ansi = 0;
    RtlUnicodeToMultiByteSize(&ansi, text, length);
    if (ansi > 0) {
      if (ansi > offered) {
        result = ERROR_MORE_DATA;
      } else {
        RtlUnicodeToMultiByteN(reinterpret_cast<PCHAR>(data), ansi, nullptr, text, length);
        // As advapi32 does: a string without its terminator gets one when
        // the buffer has room.
        if (ansi < offered && data[ansi - 1] != 0) data[ansi] = 0;
      }
    }
    length = ansi;
  } else if (length > offered) {
    result = ERROR_MORE_DATA;
  } else {
    std::memcpy(data, value->data, length);
  }
  if (type != nullptr) *type = value->type;
  *size = length;
  return result;
}

}  // namespace platform
}  // namespace wendrel
