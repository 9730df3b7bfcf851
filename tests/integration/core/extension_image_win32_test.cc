// wendrel.dll mapped without running its start-up code: its exports, its
// resources, and its events as the Event Viewer shows them.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "gtest/gtest.h"
#include "platform/codepage.h"
#include "platform/event_log.h"
#include "resources/version_number.h"

namespace wendrel {
namespace {

// The DLL mapped with these flags, its entry point never called.
struct FreeModule {
  void operator()(HMODULE module) const { FreeLibrary(module); }
};
using MappedImage = std::unique_ptr<std::remove_pointer_t<HMODULE>, FreeModule>;
MappedImage Map(DWORD flags) {
  return MappedImage(LoadLibraryExA(WENDREL_EXTENSION_PATH, nullptr, flags));
}
template <typename T>
const T* At(const MappedImage& image, DWORD rva) {
  return reinterpret_cast<const T*>(reinterpret_cast<const uint8_t*>(image.get()) + rva);
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

TEST(ExtensionImageTest, ExportsOnlyTheTwoRegistrationEntries) {
  const MappedImage image = Map(DONT_RESOLVE_DLL_REFERENCES);
  ASSERT_NE(nullptr, image) << GetLastError();
  const auto* dos = At<IMAGE_DOS_HEADER>(image, 0);
  ASSERT_EQ(IMAGE_DOS_SIGNATURE, dos->e_magic);
  const auto* nt = At<IMAGE_NT_HEADERS64>(image, static_cast<DWORD>(dos->e_lfanew));
  ASSERT_EQ(std::make_tuple(DWORD{IMAGE_NT_SIGNATURE}, WORD{IMAGE_NT_OPTIONAL_HDR64_MAGIC}),
            std::make_tuple(nt->Signature, nt->OptionalHeader.Magic));
  EXPECT_EQ(std::make_tuple(WORD{IMAGE_FILE_MACHINE_AMD64}, true),
            std::make_tuple(nt->FileHeader.Machine,
                            (nt->FileHeader.Characteristics & IMAGE_FILE_DLL) != 0));

  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  ASSERT_NE(0u, dir.VirtualAddress);
  const auto* exports = At<IMAGE_EXPORT_DIRECTORY>(image, dir.VirtualAddress);
  // Two functions, both by name: no entry is exported by ordinal alone.
  ASSERT_EQ(std::make_tuple(std::string("wendrel.dll"), DWORD{2}, DWORD{2}),
            std::make_tuple(Lower(At<char>(image, exports->Name)), exports->NumberOfFunctions,
                            exports->NumberOfNames));
  const auto* names = At<DWORD>(image, exports->AddressOfNames);
  const auto* ordinals = At<WORD>(image, exports->AddressOfNameOrdinals);
  const auto* functions = At<DWORD>(image, exports->AddressOfFunctions);
  std::vector<std::string> seen;
  std::set<WORD> ordinals_seen;
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    ASSERT_LT(ordinals[i], exports->NumberOfFunctions);
    ordinals_seen.insert(ordinals[i]);
    // Code of the DLL itself, not a forwarder (an address in the export directory).
    const DWORD rva = functions[ordinals[i]];
    const bool code = (rva < dir.VirtualAddress || rva >= dir.VirtualAddress + dir.Size) &&
                      rva < nt->OptionalHeader.SizeOfImage;
    seen.push_back(std::string(At<char>(image, names[i])) + (code ? " code" : " elsewhere"));
  }
  EXPECT_EQ(std::vector<std::string>({"DllRegisterServer code", "DllUnregisterServer code"}),
            seen);
  EXPECT_EQ(2u, ordinals_seen.size());
}

// Every resource of the DLL, as "TYPE/NAME/LANGUAGE" with "#n" for ordinals.
std::string Id(LPCSTR name) {
  return IS_INTRESOURCE(name) ? "#" + std::to_string(reinterpret_cast<uintptr_t>(name))
                              : std::string(name);
}
BOOL CALLBACK AddLanguage(HMODULE, LPCSTR type, LPCSTR name, WORD language, LONG_PTR seen) {
  reinterpret_cast<std::set<std::string>*>(seen)->insert(Id(type) + "/" + Id(name) + "/" +
                                                         std::to_string(language));
  return TRUE;
}
BOOL CALLBACK AddName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR seen) {
  return EnumResourceLanguagesA(module, type, name, AddLanguage, seen) || TRUE;
}
BOOL CALLBACK AddType(HMODULE module, LPSTR type, LONG_PTR seen) {
  return EnumResourceNamesA(module, type, AddName, seen) || TRUE;
}

// The bytes of one resource in language 1033, through FindResourceExA.
std::vector<uint8_t> Resource(HMODULE module, LPCSTR type, LPCSTR name) {
  HRSRC found = FindResourceExA(module, type, name, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  const auto* data =
      found != nullptr ? static_cast<const uint8_t*>(LockResource(LoadResource(module, found)))
                       : nullptr;
  if (data == nullptr) return {};
  return std::vector<uint8_t>(data, data + SizeofResource(module, found));
}

struct StringEntry {
  int id;
  const char* text;
};
constexpr StringEntry kStrings[] = {
#define WENDREL_STRING(id, text) {id, text},
#include "resources/string_table.def"
#undef WENDREL_STRING
};

TEST(ExtensionImageTest, CarriesItsResourcesInLanguage1033Only) {
  const MappedImage image = Map(LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(nullptr, image) << GetLastError();
  // String table block n holds the ids 16(n-1) to 16n-1.
  std::set<std::string> expected = {"#5/#9001/1033", "REGISTRY/#9002/1033", "#16/#1/1033",
                                     "#11/#1/1033"};
  for (const StringEntry& s : kStrings) {
    expected.insert("#6/#" + std::to_string(s.id / 16 + 1) + "/1033");
  }
  std::set<std::string> inventory;
  EnumResourceTypesA(image.get(), AddType, reinterpret_cast<LONG_PTR>(&inventory));
  EXPECT_EQ(expected, inventory);

  // Each text, whole, under its id.
  for (const StringEntry& s : kStrings) {
    char text[1024] = {};
    const int n = LoadStringA(image.get(), static_cast<UINT>(s.id), text, sizeof text);
    EXPECT_EQ(std::string(s.text), std::string(text, n > 0 ? static_cast<size_t>(n) : 0))
        << "string " << s.id;
  }

  // The registration script, byte for byte as its source (CR LF kept).
  std::ifstream file(WENDREL_SOURCE_DIR "/resources/wendrel.rgs", std::ios::binary);
  ASSERT_TRUE(file);
  const std::vector<uint8_t> script((std::istreambuf_iterator<char>(file)),
                                    std::istreambuf_iterator<char>());
  EXPECT_EQ(script, Resource(image.get(), "REGISTRY", MAKEINTRESOURCEA(9002)));
}

// Windows Installer replaces an installed wendrel.dll by comparing file
// versions, read as it reads them (GetFileVersionInfo, VerQueryValue).
TEST(ExtensionImageTest, VersionResourceCarriesTheProjectVersion) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(WENDREL_EXTENSION_PATH, &ignored);
  ASSERT_NE(0u, size) << GetLastError();
  std::vector<uint8_t> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(WENDREL_EXTENSION_PATH, 0, size, info.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), length);
  const DWORD high = MAKELONG(WENDREL_VERSION_MINOR, WENDREL_VERSION_MAJOR);
  const DWORD low = MAKELONG(0, WENDREL_VERSION_PATCH);
  EXPECT_EQ(std::make_tuple(DWORD{VS_FFI_SIGNATURE}, high, low, high, low, DWORD{VFT_DLL}),
            std::make_tuple(fixed->dwSignature, fixed->dwFileVersionMS, fixed->dwFileVersionLS,
                            fixed->dwProductVersionMS, fixed->dwProductVersionLS,
                            fixed->dwFileType));

  std::vector<std::string> texts;
  for (const char* name : {"FileVersion", "ProductVersion", "OriginalFilename"}) {
    char* text = nullptr;
    const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
    const bool found =
        VerQueryValueA(info.data(), path.c_str(), reinterpret_cast<void**>(&text), &length);
    texts.push_back(found && text != nullptr ? text : std::string("(none)"));
  }
  EXPECT_EQ(std::vector<std::string>({WENDREL_VERSION_TEXT, WENDREL_VERSION_TEXT, "wendrel.dll"}),
            texts);
}

// The template as the dialog manager reads it (DLGTEMPLATE or DLGTEMPLATEEX):
// a line for the dialog and one per control, of styles, rectangle, id, class
// and text; classes stored by ordinal read as their names.
std::vector<std::string> DescribeDialogTemplate(const std::vector<uint8_t>& bytes) {
  size_t at = 0;
  bool ok = true;
  auto word = [&] {
    uint16_t value = 0;
    ok = ok && at + 2 <= bytes.size();
    if (ok) std::memcpy(&value, &bytes[at], 2);
    at += 2;
    return value;
  };
  auto dword = [&] {
    const uint32_t low = word();
    return low | (static_cast<uint32_t>(word()) << 16);
  };
  auto hex = [](uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", value);
    return std::string(text);
  };
  auto rectangle = [&] {  // x, y, cx and cy as "x,y cxxcy"
    std::string text;
    for (const char* separator : {",", " ", "x", ""}) {
      text += std::to_string(static_cast<int16_t>(word())) + separator;
    }
    return text;
  };
  auto sz_or_ordinal = [&] {  // a UTF-16 string (ASCII here), or "#n" for an ordinal
    const uint16_t first = word();
    if (first == 0xFFFF) return "#" + std::to_string(word());
    std::string text;
    for (uint16_t c = first; ok && c != 0; c = word()) text.push_back(static_cast<char>(c));
    return text;
  };
  const uint16_t version = word();
  const uint16_t signature = word();
  const bool extended = version == 1 && signature == 0xFFFF;
  uint32_t style = version | (static_cast<uint32_t>(signature) << 16), ex_style;
  if (extended) {
    dword();  // help id
    ex_style = dword();
    style = dword();
  } else {
    ex_style = dword();
  }
  const uint16_t count = word();
  std::string dialog = hex(style) + " " + hex(ex_style) + " " + rectangle();
  for (int i = 0; i < 3; ++i) dialog += " '" + sz_or_ordinal() + "'";  // menu, class, caption
  if (style & DS_SETFONT) {
    dialog += " " + std::to_string(word());
    if (extended) at += 4;  // weight, italic, character set
    dialog += " " + sz_or_ordinal();
  }
  std::vector<std::string> lines = {dialog};
  for (int i = 0; i < count && ok; ++i) {
    at = (at + 3) & ~static_cast<size_t>(3);  // DWORD-aligned
    if (extended) dword();  // help id
    const uint32_t first = dword(), second = dword();
    std::string item = extended ? hex(second) + " " + hex(first) : hex(first) + " " + hex(second);
    item += " " + rectangle();
    item += " " + std::to_string(extended ? dword() : word());
    std::string window_class = Lower(sz_or_ordinal());
    if (window_class == "#128") window_class = "button";
    if (window_class == "#130") window_class = "static";
    item += " " + window_class + " '" + sz_or_ordinal() + "'";
    at += word();  // creation data
    lines.push_back(item);
  }
  if (!ok || at != bytes.size()) lines.push_back("(malformed)");
  return lines;
}

TEST(ExtensionImageTest, Dialog9001IsTheSelectionDialog) {
  const MappedImage image = Map(LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(nullptr, image) << GetLastError();
  // The standard dialog class: no class name.
  EXPECT_EQ(std::vector<std::string>({
                "80C800C0 00000000 0,0 314x151 '' '' 'Select' 8 MS Sans Serif",
                "50010001 00000000 105,129 50x14 1 button 'OK'",
                "50010000 00000000 159,129 50x14 2 button 'Cancel'",
                "50000000 00000000 7,7 234x8 9003 static 'Which user do you wish?'",
                "50810015 00000000 7,20 300x100 9001 syslistview32 'List1'",
            }),
            DescribeDialogTemplate(Resource(image.get(), RT_DIALOG, MAKEINTRESOURCEA(9001))));
}

// Every event rendered from the message table with FormatMessageW, against
// the code's text and the guide's table, by id as "<level>: <text>". Insertion
// string n is "<n>": a text that swaps two shows it.
using platform::EventId;
using platform::EventLevel;
using Rendered = std::map<unsigned, std::string>;

constexpr EventId kIds[] = {
#define WENDREL_EVENT(id, level, name, text) EventId::k##name,
#include "resources/event_messages.def"
#undef WENDREL_EVENT
};
const std::vector<std::string> kInserts = {"<1>", "<2>", "<3>", "<4>", "<5>",
                                           "<6>", "<7>", "<8>", "<9>"};

Rendered FromMessageTable() {
  Rendered rendered;
  const MappedImage dll = Map(LOAD_LIBRARY_AS_DATAFILE);
  std::vector<std::u16string> wide;
  for (const std::string& s : kInserts) wide.push_back(platform::AnsiToUtf16(s));
  std::vector<DWORD_PTR> arguments;
  for (const std::u16string& w : wide) arguments.push_back(reinterpret_cast<DWORD_PTR>(w.data()));
  for (EventId id : kIds) {
    // The message id carries the level in its top two bits.
    const EventLevel level = platform::LevelOf(id);
    const DWORD severity = level == EventLevel::kError ? 3 : level == EventLevel::kWarning ? 2 : 1;
    wchar_t text[2048];
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                   dll.get(), (severity << 30) | static_cast<DWORD>(id),
                                   MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, 2048,
                                   reinterpret_cast<va_list*>(arguments.data()));
    rendered[static_cast<unsigned>(id)] =
        std::string(platform::LevelName(level)) + ": " +
        (n == 0 ? "(not found, error " + std::to_string(GetLastError()) + ")"
                : platform::Utf16ToUtf8(std::u16string(reinterpret_cast<char16_t*>(text), n)));
  }
  return rendered;
}

TEST(EventMessagesTest, MessageTableRendersEveryEventAsTheCodeDoes) {
  Rendered rendered;
  for (EventId id : kIds) {
    rendered[static_cast<unsigned>(id)] = std::string(platform::LevelName(platform::LevelOf(id))) +
                                          ": " + platform::RenderEvent(id, kInserts);
  }
  EXPECT_EQ(rendered, FromMessageTable());
}

// The guide's rows "| id | level | text | ...", id and text maybe in backquotes.
TEST(EventMessagesTest, GuideTableMatchesTheMessageTable) {
  const std::regex row("^\\|\\s*`?(\\d{4})`?\\s*\\|\\s*(\\w+)\\s*\\|\\s*`?([^|`]*?)`?\\s*\\|.*");
  Rendered rendered;
  std::ifstream guide(WENDREL_SOURCE_DIR "/docs/administration.md");
  std::smatch cells;
  for (std::string line; std::getline(guide, line);) {
    if (!std::regex_match(line, cells, row)) continue;
    rendered[std::stoul(cells[1])] =
        cells[2].str() + ": " + std::regex_replace(cells[3].str(), std::regex("%([1-9])"), "<$1>");
  }
  EXPECT_EQ(FromMessageTable(), rendered);
}

}  // namespace
}  // namespace wendrel
