// wendrel.dll as a file the loader maps: its export table holds the two
// registration entries and nothing else, and its resources are the string
// table, the selection dialog (DIALOG 9001) and the registration script
// (REGISTRY 9002), each in language 1033 only. The image is mapped without
// running its start-up code, so nothing of the extension runs here.

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "core/version_number.h"
#include "gtest/gtest.h"

namespace wendrel {
namespace {

constexpr WORD kLanguage = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);  // 1033

// The DLL mapped as an image whose imports are not resolved and whose entry
// point is never called.
class MappedImage {
 public:
  explicit MappedImage(DWORD flags)
      : module_(LoadLibraryExA(WENDREL_EXTENSION_PATH, nullptr, flags)) {}
  ~MappedImage() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  MappedImage(const MappedImage&) = delete;
  MappedImage& operator=(const MappedImage&) = delete;

  HMODULE module() const { return module_; }
  const uint8_t* base() const { return reinterpret_cast<const uint8_t*>(module_); }
  template <typename T>
  const T* At(DWORD rva) const {
    return reinterpret_cast<const T*>(base() + rva);
  }

 private:
  HMODULE module_;
};

TEST(ExtensionImageTest, ExportsOnlyTheTwoRegistrationEntries) {
  MappedImage image(DONT_RESOLVE_DLL_REFERENCES);
  ASSERT_NE(nullptr, image.module()) << GetLastError();
  const auto* dos = image.At<IMAGE_DOS_HEADER>(0);
  ASSERT_EQ(IMAGE_DOS_SIGNATURE, dos->e_magic);
  const auto* nt = image.At<IMAGE_NT_HEADERS64>(static_cast<DWORD>(dos->e_lfanew));
  ASSERT_EQ(IMAGE_NT_SIGNATURE, nt->Signature);
  EXPECT_EQ(IMAGE_FILE_MACHINE_AMD64, nt->FileHeader.Machine);
  EXPECT_NE(0, nt->FileHeader.Characteristics & IMAGE_FILE_DLL);
  ASSERT_EQ(IMAGE_NT_OPTIONAL_HDR64_MAGIC, nt->OptionalHeader.Magic);

  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  ASSERT_NE(0u, dir.VirtualAddress);
  const auto* exports = image.At<IMAGE_EXPORT_DIRECTORY>(dir.VirtualAddress);
  EXPECT_STRCASEEQ("wendrel.dll", image.At<char>(exports->Name));
  // Two functions, both by name: no entry is exported by ordinal alone.
  ASSERT_EQ(2u, exports->NumberOfFunctions);
  ASSERT_EQ(2u, exports->NumberOfNames);
  const auto* names = image.At<DWORD>(exports->AddressOfNames);
  const auto* ordinals = image.At<WORD>(exports->AddressOfNameOrdinals);
  const auto* functions = image.At<DWORD>(exports->AddressOfFunctions);
  const char* expected[] = {"DllRegisterServer", "DllUnregisterServer"};
  std::set<WORD> ordinals_seen;
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    EXPECT_STREQ(expected[i], image.At<char>(names[i]));
    ASSERT_LT(ordinals[i], exports->NumberOfFunctions);
    ordinals_seen.insert(ordinals[i]);
    // Code of the DLL itself, not a forwarder (whose address would point
    // into the export directory).
    const DWORD rva = functions[ordinals[i]];
    EXPECT_TRUE(rva < dir.VirtualAddress || rva >= dir.VirtualAddress + dir.Size) << rva;
    EXPECT_LT(rva, nt->OptionalHeader.SizeOfImage);
  }
  EXPECT_EQ(2u, ordinals_seen.size());
}

// Every resource of the DLL, as "TYPE/NAME/LANGUAGE" with "#n" for ordinals.
std::set<std::string> ResourceInventory(HMODULE module) {
  auto id = [](LPCSTR name) {
    return IS_INTRESOURCE(name) ? "#" + std::to_string(reinterpret_cast<uintptr_t>(name))
                                : std::string(name);
  };
  struct Walk {
    HMODULE module;
    std::set<std::string> seen;
    decltype(id)* to_text;
  } walk{module, {}, &id};
  EnumResourceTypesA(
      module,
      [](HMODULE m, LPSTR type, LONG_PTR w) -> BOOL {
        EnumResourceNamesA(
            m, type,
            [](HMODULE m, LPCSTR type, LPSTR name, LONG_PTR w) -> BOOL {
              EnumResourceLanguagesA(
                  m, type, name,
                  [](HMODULE, LPCSTR type, LPCSTR name, WORD language, LONG_PTR w) -> BOOL {
                    auto* walk = reinterpret_cast<Walk*>(w);
                    walk->seen.insert((*walk->to_text)(type) + "/" + (*walk->to_text)(name) + "/" +
                                      std::to_string(language));
                    return TRUE;
                  },
                  w);
              return TRUE;
            },
            w);
        return TRUE;
      },
      reinterpret_cast<LONG_PTR>(&walk));
  return walk.seen;
}

// The bytes of one resource in language 1033, through FindResourceExA.
std::vector<uint8_t> Resource(HMODULE module, LPCSTR type, LPCSTR name) {
  HRSRC found = FindResourceExA(module, type, name, kLanguage);
  if (found == nullptr) return {};
  HGLOBAL loaded = LoadResource(module, found);
  const auto* data = static_cast<const uint8_t*>(LockResource(loaded));
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

TEST(ExtensionImageTest, CarriesTheStringTableDialogScriptAndVersionInLanguage1033Only) {
  MappedImage image(LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(nullptr, image.module()) << GetLastError();

  // The string table's blocks hold sixteen ids each: block n holds 16(n-1)
  // to 16n-1.
  std::set<std::string> expected = {"#5/#9001/1033", "REGISTRY/#9002/1033", "#16/#1/1033"};
  for (const StringEntry& s : kStrings) {
    expected.insert("#6/#" + std::to_string(s.id / 16 + 1) + "/1033");
  }
  EXPECT_EQ(expected, ResourceInventory(image.module()));

  // Each text, whole, under its id.
  for (const StringEntry& s : kStrings) {
    char text[1024] = {};
    const int n = LoadStringA(image.module(), static_cast<UINT>(s.id), text, sizeof text);
    EXPECT_EQ(std::string(s.text), std::string(text, n > 0 ? static_cast<size_t>(n) : 0))
        << "string " << s.id;
  }

  // The registration script, byte for byte as its source (CR LF kept).
  std::ifstream file(WENDREL_SOURCE_DIR "/resources/wendrel.rgs", std::ios::binary);
  ASSERT_TRUE(file);
  const std::vector<uint8_t> script((std::istreambuf_iterator<char>(file)),
                                    std::istreambuf_iterator<char>());
  EXPECT_EQ(script, Resource(image.module(), "REGISTRY", MAKEINTRESOURCEA(9002)));
}

// Windows Installer replaces an installed wendrel.dll by comparing file
// versions, so the version resource must carry the project's version, read
// back the way the installer does (GetFileVersionInfo, VerQueryValue).
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
  EXPECT_EQ(VS_FFI_SIGNATURE, fixed->dwSignature);
  const DWORD high = MAKELONG(WENDREL_VERSION_MINOR, WENDREL_VERSION_MAJOR);
  const DWORD low = MAKELONG(0, WENDREL_VERSION_PATCH);
  EXPECT_EQ(high, fixed->dwFileVersionMS);
  EXPECT_EQ(low, fixed->dwFileVersionLS);
  EXPECT_EQ(high, fixed->dwProductVersionMS);
  EXPECT_EQ(low, fixed->dwProductVersionLS);
  EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);

  for (const char* name : {"FileVersion", "ProductVersion"}) {
    char* text = nullptr;
    const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
    ASSERT_TRUE(VerQueryValueA(info.data(), path.c_str(), reinterpret_cast<void**>(&text),
                               &length))
        << name;
    EXPECT_STREQ(WENDREL_VERSION_TEXT, text) << name;
  }
  char* original = nullptr;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904B0\\OriginalFilename",
                             reinterpret_cast<void**>(&original), &length));
  EXPECT_STREQ("wendrel.dll", original);
}

// Reads a dialog template as the dialog manager does: DLGTEMPLATE or, when
// the second word is 0xFFFF, DLGTEMPLATEEX.
class TemplateReader {
 public:
  explicit TemplateReader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}

  uint16_t Word() {
    if (at_ + 2 > bytes_.size()) {
      ok_ = false;
      return 0;
    }
    uint16_t value;
    std::memcpy(&value, &bytes_[at_], 2);
    at_ += 2;
    return value;
  }
  uint32_t Dword() {
    const uint32_t low = Word();
    return low | (static_cast<uint32_t>(Word()) << 16);
  }
  int Short() { return static_cast<int16_t>(Word()); }
  // A UTF-16 string (ASCII here), or "#n" for an ordinal.
  std::string SzOrOrdinal() {
    const uint16_t first = Word();
    if (first == 0xFFFF) return "#" + std::to_string(Word());
    std::string text;
    for (uint16_t c = first; ok_ && c != 0; c = Word()) text.push_back(static_cast<char>(c));
    return text;
  }
  void AlignDword() { at_ = (at_ + 3) & ~static_cast<size_t>(3); }
  void Skip(size_t n) {
    at_ += n;
    ok_ = ok_ && at_ <= bytes_.size();
  }
  bool ok() const { return ok_; }
  bool at_end() const { return at_ == bytes_.size(); }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t at_ = 0;
  bool ok_ = true;
};

struct DialogItem {
  uint32_t style = 0;
  uint32_t ex_style = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  uint32_t id = 0;
  std::string window_class;
  std::string text;
};

struct DialogTemplate {
  bool extended = false;
  uint32_t style = 0;
  uint32_t ex_style = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  std::string menu, window_class, caption;
  int points = 0;
  std::string face;
  std::vector<DialogItem> items;
};

bool ParseDialogTemplate(const std::vector<uint8_t>& bytes, DialogTemplate* out) {
  TemplateReader r(bytes);
  const uint16_t version = r.Word();
  const uint16_t signature = r.Word();
  out->extended = version == 1 && signature == 0xFFFF;
  if (out->extended) {
    r.Dword();  // help id
    out->ex_style = r.Dword();
    out->style = r.Dword();
  } else {
    out->style = version | (static_cast<uint32_t>(signature) << 16);
    out->ex_style = r.Dword();
  }
  const uint16_t count = r.Word();
  out->x = r.Short();
  out->y = r.Short();
  out->cx = r.Short();
  out->cy = r.Short();
  out->menu = r.SzOrOrdinal();
  out->window_class = r.SzOrOrdinal();
  out->caption = r.SzOrOrdinal();
  if (out->style & DS_SETFONT) {
    out->points = r.Word();
    if (out->extended) r.Skip(4);  // weight, italic, character set
    out->face = r.SzOrOrdinal();
  }
  for (int i = 0; i < count && r.ok(); ++i) {
    r.AlignDword();
    DialogItem item;
    if (out->extended) {
      r.Dword();  // help id
      item.ex_style = r.Dword();
      item.style = r.Dword();
    } else {
      item.style = r.Dword();
      item.ex_style = r.Dword();
    }
    item.x = r.Short();
    item.y = r.Short();
    item.cx = r.Short();
    item.cy = r.Short();
    item.id = out->extended ? r.Dword() : r.Word();
    item.window_class = r.SzOrOrdinal();
    item.text = r.SzOrOrdinal();
    const uint16_t extra = r.Word();  // creation data
    r.Skip(extra);
    out->items.push_back(item);
  }
  return r.ok() && r.at_end();
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

void ExpectItem(const DialogItem& item, uint32_t style, int x, int y, int cx, int cy, uint32_t id,
                const std::set<std::string>& classes, const std::string& text) {
  SCOPED_TRACE(text);
  EXPECT_EQ(style, item.style);
  EXPECT_EQ(0u, item.ex_style);
  EXPECT_EQ(x, item.x);
  EXPECT_EQ(y, item.y);
  EXPECT_EQ(cx, item.cx);
  EXPECT_EQ(cy, item.cy);
  EXPECT_EQ(id, item.id);
  EXPECT_EQ(1u, classes.count(Lower(item.window_class))) << item.window_class;
  EXPECT_EQ(text, item.text);
}

TEST(ExtensionImageTest, Dialog9001IsTheSelectionDialog) {
  MappedImage image(LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(nullptr, image.module()) << GetLastError();
  const std::vector<uint8_t> bytes = Resource(image.module(), RT_DIALOG, MAKEINTRESOURCEA(9001));
  ASSERT_FALSE(bytes.empty());
  DialogTemplate dialog;
  ASSERT_TRUE(ParseDialogTemplate(bytes, &dialog));
  EXPECT_EQ(0x80C800C0u, dialog.style);
  EXPECT_EQ(0u, dialog.ex_style);
  EXPECT_EQ(0, dialog.x);
  EXPECT_EQ(0, dialog.y);
  EXPECT_EQ(314, dialog.cx);
  EXPECT_EQ(151, dialog.cy);
  EXPECT_EQ("", dialog.menu);
  EXPECT_EQ("", dialog.window_class);  // the standard dialog class
  EXPECT_EQ("Select", dialog.caption);
  EXPECT_EQ(8, dialog.points);
  EXPECT_EQ("MS Sans Serif", dialog.face);

  ASSERT_EQ(4u, dialog.items.size());
  // Buttons and statics may be stored by name or by their ordinals.
  ExpectItem(dialog.items[0], 0x50010001u, 105, 129, 50, 14, IDOK, {"button", "#128"}, "OK");
  ExpectItem(dialog.items[1], 0x50010000u, 159, 129, 50, 14, IDCANCEL, {"button", "#128"},
             "Cancel");
  ExpectItem(dialog.items[2], 0x50000000u, 7, 7, 234, 8, 9003, {"static", "#130"},
             "Which user do you wish?");
  ExpectItem(dialog.items[3], 0x50810015u, 7, 20, 300, 100, 9001, {"syslistview32"}, "List1");
}

}  // namespace
}  // namespace wendrel
