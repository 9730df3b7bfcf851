#include "core/registrar_script.h"

#include <string>

#include "gtest/gtest.h"
#include "platform/registry.h"

namespace wendrel {
namespace {

std::string ErrorOf(const std::string& text) {
  RegistrationScript script;
  std::string error;
  EXPECT_FALSE(ParseRegistrationScript(text, &script, &error)) << text;
  EXPECT_TRUE(script.keys.empty());
  return error;
}

// A key as text: name{value=type:hex bytes;...subkeys}.
std::string Dump(const ScriptKey& key) {
  std::string text = key.name + "{";
  for (const ScriptValue& value : key.values) {
    text += value.name + "=" + std::to_string(value.type) + ":";
    for (uint8_t b : value.data) {
      text += "0123456789abcdef"[b >> 4];
      text += "0123456789abcdef"[b & 15];
    }
    text += ";";
  }
  for (const ScriptKey& subkey : key.subkeys) text += Dump(subkey);
  return text + "}";
}

TEST(RegistrarScriptTest, ParsesNestedKeysQuotedNamesAndTheThreeTypes) {
  const std::string text =
      "HKEY_LOCAL_MACHINE\r\n{\r\n  Software\r\n  {\r\n    'Two Words'\r\n    {\r\n"
      "      val Plain = s 'it''s 100%% done'\r\n"
      "      val 'Quoted Name' = d '32769'\r\n"
      "      VAL Hex = D 0xFFFFFFFF\r\n"
      "      val Bytes = b '00a0FF'\r\n"
      "    }\r\n    Empty\r\n  }\r\n}\r\nhklm { Second }";
  RegistrationScript script;
  std::string error;
  ASSERT_TRUE(ParseRegistrationScript(text, &script, &error)) << error;
  std::string keys;
  for (const ScriptKey& key : script.keys) keys += Dump(key);
  // "it's 100% done" with its zero; 32769 and 0xFFFFFFFF as little-endian.
  EXPECT_EQ("Software{Two Words{Plain=1:69742773203130302520646f6e6500;Quoted Name=4:01800000;"
            "Hex=4:ffffffff;Bytes=3:00a0ff;}Empty{}}Second{}",
            keys);
}

TEST(RegistrarScriptTest, RefusesWhatItDoesNotUnderstandWithTheLine) {
  EXPECT_EQ("line 1: root key HKCR is not supported: only HKLM (HKEY_LOCAL_MACHINE) is",
            ErrorOf("HKCR { A }"));
  EXPECT_EQ("line 1: expected a root key (HKLM), found 'Software'", ErrorOf("Software { }"));
  EXPECT_EQ("line 2: the marker NoRemove is not supported", ErrorOf("HKLM {\n noremove A }"));
  EXPECT_EQ("line 1: the marker ForceRemove is not supported", ErrorOf("HKLM { ForceRemove A }"));
  EXPECT_EQ("line 1: the marker Delete is not supported", ErrorOf("HKLM { Delete A }"));
  EXPECT_EQ("line 1: a key's default value is not supported (key 'A')",
            ErrorOf("HKLM { A = s 'x' }"));
  EXPECT_EQ("line 3: value type 'm' is not supported (s, d and b are) after value name 'V'",
            ErrorOf("HKLM {\r\nA {\r\nval V = m 'x' } }"));
  EXPECT_EQ("line 1: replacement variables are not supported (write a percent sign as %%): "
            "%MODULE%",
            ErrorOf("HKLM { A { val V = s '%MODULE%' } }"));
  EXPECT_EQ("line 1: values cannot be set directly under HKLM",
            ErrorOf("HKLM { val V = s 'x' }"));
  EXPECT_EQ("line 1: key name 'A\\B' contains a backslash: nest the keys in braces instead",
            ErrorOf("HKLM { 'A\\B' }"));
  EXPECT_EQ("line 1: a key name is empty", ErrorOf("HKLM { '' }"));
}

TEST(RegistrarScriptTest, RefusesBadDataAndCutScripts) {
  for (const char* bad : {"'4294967296'", "'-1'", "'12a'", "''", "'0x'", "'0x1G'"}) {
    EXPECT_NE(std::string::npos,
              ErrorOf(std::string("HKLM { A { val V = d ") + bad + " } }")
                  .find("is not a 32-bit number"))
        << bad;
  }
  EXPECT_EQ("line 1: binary data 'ABC' has an odd number of digits",
            ErrorOf("HKLM { A { val V = b 'ABC' } }"));
  EXPECT_EQ("line 1: binary data 'zz' is not hexadecimal digit pairs",
            ErrorOf("HKLM { A { val V = b zz } }"));
  EXPECT_EQ("line 2: a quoted text is not closed", ErrorOf("HKLM {\n A { val V = s 'open } }"));
  EXPECT_EQ("line 1: expected '}' before the end of the script", ErrorOf("HKLM { A { } "));
  EXPECT_EQ("line 1: expected '{' after HKLM before the end of the script", ErrorOf("HKLM"));
  EXPECT_EQ("line 1: expected '=' after value name 'V', found 's'",
            ErrorOf("HKLM { A { val V s 'x' } }"));
  EXPECT_EQ("line 1: expected the data of value 'V', found '}'",
            ErrorOf("HKLM { A { val V = s } }"));
  EXPECT_EQ("line 1: a block must follow a key name", ErrorOf("HKLM { { } }"));

  // Nesting is bounded, so hostile input cannot exhaust the stack.
  std::string deep = "HKLM ";
  for (int i = 0; i < 100000; ++i) deep += "{ K ";
  EXPECT_NE(std::string::npos, ErrorOf(deep).find("nested deeper than 32"));
  EXPECT_NE(std::string::npos, ErrorOf("HKLM { " + std::string(256, 'k') + " }")
                                   .find("longer than 255"));

  // An empty script names nothing and is no error.
  RegistrationScript script;
  std::string error;
  EXPECT_TRUE(ParseRegistrationScript(" \r\n\t", &script, &error));
  EXPECT_TRUE(script.keys.empty());
}

}  // namespace
}  // namespace wendrel
