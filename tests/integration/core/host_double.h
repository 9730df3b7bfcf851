// The login host as the driver's in-process tests play it: a host handler
// that the extension replaces and must chain to, a notify entry that records
// what it is told, the handshake export, and a start-info record built byte
// by byte at the contract's offsets with text buffers of its own; and the
// test base whose driver serves that host.

#ifndef WENDREL_TESTS_INTEGRATION_CORE_HOST_DOUBLE_H_
#define WENDREL_TESTS_INTEGRATION_CORE_HOST_DOUBLE_H_

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "core/login_driver.h"
#include "core/login_host.h"
#include "core/wendrel_app.h"
#include "tests/integration/search/search_fixture.h"

namespace wendrel {
namespace testing {

struct ChainedCall {
  void* host;
  uint32_t event, a, b;
  void* record;
  uintptr_t c;
  uint32_t d;
};

inline std::vector<ChainedCall> g_chained;
inline std::vector<uint32_t> g_notified;
inline unsigned char g_host_service_table[kHostServiceTableSize];

inline int32_t HostHandler(void* host, uint32_t event, uint32_t a, uint32_t b, void* record,
                    uintptr_t c, uint32_t d) {
  g_chained.push_back({host, event, a, b, record, c, d});
  return 42;
}

inline int32_t HostNotify(void* host, uint32_t code, uint32_t a, uint32_t b, uintptr_t d) {
  g_notified.push_back(code);
  return 0;
}

inline int32_t HostInit(void** table, const LoginExtVersion* version, uintptr_t* out, uintptr_t r1,
                 uintptr_t r2) {
  if (LoginExtVersionNumber(*version) != 5) return 1;
  std::memset(g_host_service_table, 0, sizeof g_host_service_table);
  StoreEventHandler(g_host_service_table, &HostHandler);
  *table = g_host_service_table;
  return 0;
}

// A start-info record with its own text buffers, laid out at the offsets
// of the contract.
class HostRecord {
 public:
  HostRecord(const std::string& user, const std::string& tree, int32_t size = 256)
      : bytes_(kStartInfoSize, 0), tree_(size), user_(size), context_(size), field24_(size) {
    Attach(kStartInfoTree, &tree_, tree);
    Attach(kStartInfoUser, &user_, user);
    Attach(kStartInfoContext, &context_, "");
    Attach(kStartInfoField24, &field24_, "PRESET");
    StoreCallingModule(data(), kCallingModuleUnset);
    StorePointer(data(), kStartInfoProviderName, provider_.c_str());
  }

  void* data() { return bytes_.data(); }

  // Adds a tagged record to the list: tag 17 with the start-UI byte, or tag
  // 87 with runEap.
  void AddStartUI(unsigned char byte) {
    start_ui_[kStartUIByte] = byte;
    Link(kTagStartUI, start_ui_);
  }
  void AddTabData(uint32_t run_eap) {
    StoreU32(tab_data_, kTabDataRunEap, run_eap);
    Link(kTagTabData, tab_data_);
  }
  void SetProvider(const std::string& provider) {
    provider_ = provider;
    StorePointer(data(), kStartInfoProviderName, provider_.c_str());
  }
  std::string Text(StartInfoTextField field) const { return ReadHostText(bytes_.data(), field); }
  uint32_t calling_module() const { return LoadCallingModule(bytes_.data()); }
  const std::vector<char>& field24() const { return field24_; }
  const std::vector<char>& user_buffer() const { return user_; }

 private:
  void Attach(StartInfoTextField field, std::vector<char>* buffer, const std::string& text) {
    std::memcpy(buffer->data(), text.data(), std::min(text.size(), buffer->size() - 1));
    StoreText(data(), field, HostText{static_cast<int32_t>(buffer->size()), buffer->data()});
  }

  void Link(uint32_t tag, unsigned char* record) {
    unsigned char* node = nodes_[node_count_++];
    StoreU32(node, kListNodeTag, tag);
    StorePointer(node, kListNodeNext, LoadPointer(data(), kStartInfoListHead));
    StorePointer(node, kListNodeData, record);
    StorePointer(data(), kStartInfoListHead, node);
  }

  std::vector<unsigned char> bytes_;
  std::vector<char> tree_, user_, context_, field24_;
  unsigned char nodes_[2][kListNodeSize] = {};
  size_t node_count_ = 0;
  unsigned char start_ui_[kStartUISize] = {};
  unsigned char tab_data_[kTabDataSize] = {};
  std::string provider_ = "zelnetprovider";
};

// What a login left: the record's texts and mark, the codes the host was
// notified of, and every box shown, as "style text".
struct Outcome {
  std::string tree, user, context, field24;
  uint32_t calling_module;
  std::vector<uint32_t> notified;
  std::vector<std::string> boxes;

  bool operator==(const Outcome& o) const {
    return std::tie(tree, user, context, field24, calling_module, notified, boxes) ==
           std::tie(o.tree, o.user, o.context, o.field24, o.calling_module, o.notified, o.boxes);
  }
};
inline std::ostream& operator<<(std::ostream& out, const Outcome& o) {
  out << "{tree '" << o.tree << "', user '" << o.user << "', context '" << o.context
      << "', field24 '" << o.field24 << "', calling module " << o.calling_module << ", notified";
  for (uint32_t code : o.notified) out << " " << code;
  for (const std::string& box : o.boxes) out << ", box " << box;
  return out << "}";
}

// A test whose driver serves this host: the handshake done, nothing chained
// or notified yet; Send delivers an event as the host does.
class HostedLoginTest : public SearchTest {
 protected:
  void SetUp() override {
    SearchTest::SetUp();
    g_chained.clear();
    g_notified.clear();
    ResetLoginDriverForTesting();
    ResetKeptHostTableForTesting();
    StoreEntry(host_, kHostHandleNotifyEntry, &HostNotify);
    ASSERT_EQ(PerformHandshake(&HostInit), 0);
  }

  int32_t Send(uint32_t event, HostRecord& record) {
    return LoginExtCallback(host_, event, 0, 0, record.data(), 0, 0);
  }

  // Server i behind the tree list "A" with contextless login enabled.
  void ConfigureTreeA(const std::vector<ServerConfig>& servers,
                      std::vector<std::pair<std::string, uint32_t>> options = {}) {
    SetServers(servers);
    SetTrees({"A"});
    options.emplace_back("Contextless Login Enabled", 1);
    SetOptions(options);
  }

  Outcome Observe(const HostRecord& record) const {
    Outcome outcome{record.Text(kStartInfoTree),    record.Text(kStartInfoUser),
                    record.Text(kStartInfoContext), record.Text(kStartInfoField24),
                    record.calling_module(),        g_notified,
                    {}};
    for (const ShownBox& box : presenter_.boxes) {
      outcome.boxes.push_back(std::to_string(box.style) + " " + box.text);
    }
    return outcome;
  }

  // The start and tab-data events of one login, with nothing notified or
  // shown before them; what they left.
  Outcome Login(HostRecord& record) {
    presenter_.boxes.clear();
    g_notified.clear();
    Send(kEventStart, record);
    Send(kEventTabData, record);
    return Observe(record);
  }

  // A login of `user` in tree A that resolved to `context`, or that wrote
  // nothing and showed these boxes.
  static Outcome Resolved(const std::string& user, const std::string& context) {
    return {"A", user, context, "PRESET", kCallingModuleMark, {kNotifyResolved}, {}};
  }
  static Outcome Unresolved(const std::string& user, std::vector<std::string> boxes = {}) {
    return {"A", user, "", "PRESET", kCallingModuleUnset, {}, std::move(boxes)};
  }
  // A stop box with this text, as Observe lists it.
  static std::string StopBox(const std::string& text) {
    return std::to_string(platform::kMbIconHand) + " " + text;
  }

  unsigned char host_[kHostHandleEntries * sizeof(void*)] = {};
};

}  // namespace testing
}  // namespace wendrel

#endif  // WENDREL_TESTS_INTEGRATION_CORE_HOST_DOUBLE_H_
