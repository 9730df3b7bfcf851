// The Group Policy templates (packaging/policy) against the configuration
// readers: well-formed, no dangling reference or duplicate id, and every value
// they write is read with its type: a REG_DWORD probe shows in what the
// readers return (the doctor's configuration report, and "Local Login") as
// that number or a flipped switch, a REG_SZ probe as that very text. Two
// backgrounds, every number missing and every number 0, since some values are
// read only when others say so ("SSL Port n" needs "Clear Text n" = 0). And
// everything the readers return is moved by some value of the templates.

#include <expat.h>

#include <cctype>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "config/registry_paths.h"
#include "config/registry_value.h"
#include "config_report.h"
#include "gtest/gtest.h"
#include "platform/registry.h"
#include "tests/unit/support/registry_fixture.h"

namespace wendrel {
namespace {

struct Node {
  std::string space, name;  // namespace and local name
  std::map<std::string, std::string> attributes;
  std::string text;
  std::vector<std::unique_ptr<Node>> children;
  Node* parent = nullptr;

  std::string Attribute(const std::string& key) const {
    auto it = attributes.find(key);
    return it == attributes.end() ? std::string() : it->second;
  }
  bool Has(const std::string& key) const { return attributes.count(key) != 0; }
  const Node* Child(const std::string& child_name) const {
    for (const auto& child : children) {
      if (child->name == child_name) return child.get();
    }
    return nullptr;
  }
};

void OnStart(void* data, const XML_Char* name, const XML_Char** attributes) {
  Node*& current = *static_cast<Node**>(data);
  current->children.push_back(std::make_unique<Node>());
  Node* node = current->children.back().get();
  const std::string full(name);
  const size_t separator = full.find('|');  // namespace|local name
  node->space = separator == std::string::npos ? "" : full.substr(0, separator);
  node->name = full.substr(separator + 1);
  for (int i = 0; attributes[i] != nullptr; i += 2) {
    node->attributes[attributes[i]] = attributes[i + 1];
  }
  node->parent = current;
  current = node;
}

// The document (its one child the root element); fails the test and returns
// null when it is not well-formed XML in the policy-definitions namespace.
std::unique_ptr<Node> ParseFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  EXPECT_TRUE(file) << path;
  const std::string content((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
  auto document = std::make_unique<Node>();
  Node* current = document.get();
  std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> parser(
      XML_ParserCreateNS(nullptr, '|'), XML_ParserFree);
  XML_SetUserData(parser.get(), &current);
  XML_SetElementHandler(parser.get(), OnStart, [](void* data, const XML_Char*) {
    Node*& current = *static_cast<Node**>(data);
    current = current->parent;
  });
  XML_SetCharacterDataHandler(parser.get(), [](void* data, const XML_Char* text, int length) {
    (*static_cast<Node**>(data))->text.append(text, size_t(length));
  });
  if (XML_Parse(parser.get(), content.data(), static_cast<int>(content.size()), 1) !=
      XML_STATUS_OK) {
    ADD_FAILURE() << path << ": line " << XML_GetCurrentLineNumber(parser.get()) << ": "
                  << XML_ErrorString(XML_GetErrorCode(parser.get()));
    return nullptr;
  }
  EXPECT_EQ("http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions",
            document->children.at(0)->space) << path;
  return document;
}

// Every element named `name` ("": every element), in document order.
std::vector<const Node*> All(const Node& node, const std::string& name) {
  std::vector<const Node*> out;
  if (name.empty() || node.name == name) out.push_back(&node);
  for (const auto& child : node.children) {
    for (const Node* found : All(*child, name)) out.push_back(found);
  }
  return out;
}

// "$(string.X)" → "X" when `text` is such a reference of `kind`.
bool Reference(const std::string& text, const std::string& kind, std::string* id) {
  const std::string prefix = "$(" + kind + ".";
  if (text.compare(0, prefix.size(), prefix) != 0 || text.empty() || text.back() != ')') {
    return false;
  }
  *id = text.substr(prefix.size(), text.size() - prefix.size() - 1);
  return true;
}

// What the templates write.
struct Write {
  std::string key;
  std::string name;
  uint32_t type;
  std::string policy;
};

uint32_t ValueType(const Node& value_holder) {
  // <enabledValue>, <trueValue>, <value>: a <decimal> or a <string> inside.
  if (value_holder.Child("decimal") != nullptr) return platform::kRegDword;
  if (value_holder.Child("string") != nullptr) return platform::kRegSz;
  ADD_FAILURE() << "no decimal or string in <" << value_holder.name << ">";
  return platform::kRegNone;
}

std::vector<Write> Writes(const Node& admx) {
  std::vector<Write> writes;
  for (const Node* policy : All(admx, "policy")) {
    const std::string name = policy->Attribute("name");
    const std::string key = policy->Attribute("key");
    if (policy->Has("valueName")) {
      const Node* enabled = policy->Child("enabledValue");
      EXPECT_NE(nullptr, enabled) << name << ": a policy value without enabledValue";
      if (enabled != nullptr) {
        writes.push_back({key, policy->Attribute("valueName"), ValueType(*enabled), name});
      }
    }
    const Node* elements = policy->Child("elements");
    if (elements == nullptr) continue;
    for (const auto& element : elements->children) {
      const std::string element_key = element->Has("key") ? element->Attribute("key") : key;
      const std::string value_name = element->Attribute("valueName");
      uint32_t type = platform::kRegNone;
      if (element->name == "decimal") {
        type = element->Attribute("storeAsText") == "true" ? platform::kRegSz : platform::kRegDword;
        // Group Policy caps an undeclared maximum at 9999: every number says its range.
        EXPECT_TRUE(element->Has("minValue") && element->Has("maxValue"))
            << name << "/" << value_name << ": a number without its limits";
      } else if (element->name == "text") {
        type = element->Attribute("expandable") == "true" ? platform::kRegExpandSz
                                                            : platform::kRegSz;
        EXPECT_EQ("260", element->Attribute("maxLength")) << name << "/" << value_name;
      } else if (element->name == "boolean") {
        const Node* on = element->Child("trueValue");
        const Node* off = element->Child("falseValue");
        EXPECT_TRUE(on != nullptr && off != nullptr) << name << "/" << value_name;
        if (on != nullptr) type = ValueType(*on);
      } else if (element->name == "enum") {
        for (const auto& item : element->children) {
          const Node* value = item->Child("value");
          EXPECT_NE(nullptr, value) << name << "/" << value_name;
          if (value != nullptr) type = ValueType(*value);
        }
      } else {
        // A <list> would number its values from 1, the readers from 0.
        ADD_FAILURE() << name << ": element <" << element->name << "> is not expected";
        continue;
      }
      writes.push_back({element_key, value_name, type, name});
    }
  }
  return writes;
}

// What the readers return, by field: "n<number>", "s<0 or 1>" for a switch,
// "t<text>".
using Sweep = std::map<std::string, std::string>;

std::string N(int64_t number) { return "n" + std::to_string(number); }
std::string S(bool on) { return on ? "s1" : "s0"; }

Sweep ReadEverything() {
  Sweep sweep;
  doctor::ConfigReport report = doctor::ReadConfigReport();
  for (const doctor::OptionEntry& option : report.options) {
    sweep["options." + std::string(option.getter)] =
        option.is_int ? N(option.value) : S(option.value != 0);
  }
  for (const doctor::ServerEntry& s : report.servers) {
    const std::string at = "servers[" + std::to_string(s.index) + "].";
    sweep[at + "name"] = "t" + s.name;
    sweep[at + "useSSL"] = S(s.use_ssl);
    sweep[at + "port"] = N(s.port);
    sweep[at + "connectionTimeout"] = N(s.connection_timeout);
    sweep[at + "searchTimeout"] = N(s.search_timeout);
    sweep[at + "proxyUsername"] = "t" + s.proxy_username;
    sweep[at + "certificate"] = "t" + s.certificate;
  }
  for (const doctor::TreeEntry& t : report.trees) {
    sweep["trees[" + std::to_string(t.index) + "].name"] = "t" + t.name;
  }
  for (const doctor::ContextsEntry& c : report.contexts) {
    const std::string at = "contexts[" + std::to_string(c.tree_index) + "]";
    sweep[at + ".subtree"] = S(c.subtree);
    for (size_t i = 0; i < c.contexts.size(); ++i) {
      sweep[at + "[" + std::to_string(i) + "]"] = "t" + c.contexts[i];
    }
  }
  platform::RegKey login;  // as the login driver reads it
  login.Open(platform::RegKey::LocalMachine(), kLoginKeyPath, platform::kKeyRead);
  sweep["localLogin"] = N(ReadRegistryNumber(login, kLoginKeyPath, kLocalLoginValueName, 0));
  return sweep;
}

class PolicyTemplatesTest : public testing::RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    admx_ = ParseFile(WENDREL_SOURCE_DIR "/packaging/policy/wendrel.admx");
    adml_ = ParseFile(WENDREL_SOURCE_DIR "/packaging/policy/en-US/wendrel.adml");
    ASSERT_TRUE(admx_ && adml_);
    writes_ = Writes(*admx_);
  }

  void Put(const Write& w, const std::string& text, uint32_t number) {
    if (w.type == platform::kRegDword) {
      SetDword(w.key, w.name, number);
    } else {
      SetString(w.key, w.name, text);
    }
  }

  // Value i as background `which` has it: every text written, and every
  // number missing (background 0) or 0 (background 1).
  void Restore(size_t i, int which) {
    const Write& w = writes_[i];
    if (w.type == platform::kRegDword && which == 0) {
      DeleteValue(w.key, w.name);
    } else {
      Put(w, "background text " + std::to_string(i), 0);
    }
  }

  void Background(int which) {
    DeleteTree("Software\\Tarvos");
    // Every key, even one that holds numbers only: a reader whose key is
    // missing returns nothing at all.
    for (size_t i = 0; i < writes_.size(); ++i) {
      CreateKey(writes_[i].key);
      if (writes_[i].type != platform::kRegDword || which == 1) Restore(i, which);
    }
  }

  std::unique_ptr<Node> admx_;
  std::unique_ptr<Node> adml_;
  std::vector<Write> writes_;
};

TEST_F(PolicyTemplatesTest, ReferencesResolveAndIdsAreUnique) {
  std::set<std::string> strings, presentations, categories;
  for (const Node* s : All(*adml_, "string")) {
    EXPECT_TRUE(strings.insert(s->Attribute("id")).second) << "string " << s->Attribute("id");
    EXPECT_FALSE(s->text.empty()) << "string " << s->Attribute("id");
  }
  std::map<std::string, const Node*> presentation_of;
  for (const Node* p : All(*adml_, "presentation")) {
    EXPECT_TRUE(presentations.insert(p->Attribute("id")).second) << p->Attribute("id");
    presentation_of[p->Attribute("id")] = p;
  }
  for (const Node* c : All(*admx_, "category")) {
    EXPECT_TRUE(categories.insert(c->Attribute("name")).second) << c->Attribute("name");
  }
  EXPECT_EQ(1u, categories.size()) << "one category for the extension";

  // Every $(string.X) of the ADMX, wherever it stands.
  std::set<std::string> used_strings;
  for (const Node* node : All(*admx_, "")) {
    for (const auto& attribute : node->attributes) {
      std::string id;
      if (Reference(attribute.second, "string", &id)) {
        EXPECT_EQ(1u, strings.count(id)) << "$(string." << id << ") in <" << node->name << ">";
        used_strings.insert(id);
      }
    }
  }
  for (const std::string& id : strings) {
    EXPECT_EQ(1u, used_strings.count(id)) << "unused string " << id;
  }

  std::set<std::string> policies, used_presentations;
  const std::string supported = All(*admx_, "definition").at(0)->Attribute("name");
  for (const Node* policy : All(*admx_, "policy")) {
    const std::string name = policy->Attribute("name");
    SCOPED_TRACE(name);
    EXPECT_TRUE(policies.insert(name).second) << "duplicate policy";
    EXPECT_EQ("Machine", policy->Attribute("class"));
    EXPECT_EQ(0u, policy->Attribute("key").rfind("Software\\Tarvos\\", 0));
    ASSERT_NE(nullptr, policy->Child("parentCategory"));
    EXPECT_EQ(1u, categories.count(policy->Child("parentCategory")->Attribute("ref")));
    ASSERT_NE(nullptr, policy->Child("supportedOn"));
    EXPECT_EQ(supported, policy->Child("supportedOn")->Attribute("ref"));

    // Elements and their presentation: the same ids both ways.
    std::set<std::string> element_ids, shown_ids;
    if (const Node* elements = policy->Child("elements")) {
      for (const auto& element : elements->children) {
        const std::string id = element->Attribute("id");
        EXPECT_TRUE(element_ids.insert(id).second) << id;
      }
    }
    std::string presentation;
    if (!policy->Has("presentation")) {
      EXPECT_TRUE(element_ids.empty()) << "elements without a presentation";
      continue;
    }
    ASSERT_TRUE(Reference(policy->Attribute("presentation"), "presentation", &presentation));
    ASSERT_EQ(1u, presentation_of.count(presentation)) << presentation;
    used_presentations.insert(presentation);
    for (const auto& control : presentation_of[presentation]->children) {
      if (control->Has("refId")) {
        const std::string id = control->Attribute("refId");
        EXPECT_TRUE(shown_ids.insert(id).second) << id;
      }
    }
    EXPECT_EQ(element_ids, shown_ids);
  }
  EXPECT_EQ(presentations, used_presentations) << "every presentation belongs to a policy";
}

TEST_F(PolicyTemplatesTest, EveryValueWrittenIsReadWithItsTypeAndEveryReadValueIsWritten) {
  std::set<std::string> written;  // "key|name", case-insensitive as the registry is
  for (const Write& w : writes_) {
    std::string id = w.key + "|" + w.name;
    for (char& c : id) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_TRUE(written.insert(id).second) << "written twice: " << w.key << " " << w.name;
    EXPECT_EQ(std::string::npos, w.name.find("Proxy Password"))
        << "a policy would publish the proxy password to every domain user";
  }

  std::set<std::string> moved;       // sweep fields some value moved
  std::vector<bool> read(writes_.size(), false);
  for (int background = 0; background < 2; ++background) {
    Background(background);
    const Sweep before = ReadEverything();
    for (size_t i = 0; i < writes_.size(); ++i) {
      const Write& w = writes_[i];
      const std::string probe = "probe text " + std::to_string(i) + " of the templates";
      for (uint32_t number : {0u, 4242u}) {
        if (w.type != platform::kRegDword && number != 0) break;
        Put(w, probe, number);
        for (const auto& [field, value] : ReadEverything()) {
          auto was = before.find(field);
          if (was != before.end() && was->second == value) continue;
          moved.insert(field);
          // A number shows as itself or a switch it turns, not as text made of its bytes.
          read[i] = read[i] || (w.type == platform::kRegDword
                                    ? value[0] == 's' || value == N(number)
                                    : value == "t" + probe);
        }
        Restore(i, background);
      }
    }
  }
  for (size_t i = 0; i < writes_.size(); ++i) {
    const Write& w = writes_[i];
    EXPECT_TRUE(read[i]) << w.policy << ": " << w.key << " \"" << w.name
                         << "\" is written by the templates, but no reader reads it as "
                         << (w.type == platform::kRegDword ? "REG_DWORD" : "REG_SZ");
  }

  // Every value the readers read, for servers and trees 0 to 7: each field
  // they return was moved by a value of the templates.
  Background(0);
  for (const auto& field : ReadEverything()) {
    EXPECT_EQ(1u, moved.count(field.first))
        << field.first << ": read by the readers, but no template value sets it";
  }
  EXPECT_EQ(1u, ReadEverything().count("servers[7].name"));
  EXPECT_EQ(1u, ReadEverything().count("contexts[7][7]"));
}

}  // namespace
}  // namespace wendrel
