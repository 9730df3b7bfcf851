// The login host as the driver's in-process tests play it: a host handler the
// extension must chain to, a notify entry that records what it is told, the
// handshake export, and start-info records with text buffers of their own.

#ifndef WENDREL_TESTS_INTEGRATION_CORE_HOST_DOUBLE_H_
#define WENDREL_TESTS_INTEGRATION_CORE_HOST_DOUBLE_H_

#include <algorithm>
#include <cstring>
#include <string>
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

inline int32_t HostNotify(void*, uint32_t code, uint32_t, uint32_t, uintptr_t) {
  g_notified.push_back(code);
  return 0;
}

inline int32_t HostInit(void** table, const LoginExtVersion* version, uintptr_t*, uintptr_t,
                        uintptr_t) {
  if (LoginExtVersionNumber(*version) != 5) return 1;
  std::memset(g_host_service_table, 0, sizeof g_host_service_table);
  StoreEventHandler(g_host_service_table, &HostHandler);
  *table = g_host_service_table;
  return 0;
}

class HostRecord {
 public:
  HostRecord(const std::string& user, const std::string& tree)
      : bytes_(kStartInfoSize, 0), texts_(4, std::vector<char>(256, 0)) {
    const StartInfoTextField fields[] = {kStartInfoTree, kStartInfoUser, kStartInfoContext,
                                         kStartInfoField24};
    const std::string values[] = {tree, user, "", "PRESET"};
    for (size_t i = 0; i < 4; ++i) {
      std::copy(values[i].begin(), values[i].end(), texts_[i].begin());
      StoreText(data(), fields[i], HostText{256, texts_[i].data()});
    }
    StoreCallingModule(data(), kCallingModuleUnset);
    StorePointer(data(), kStartInfoProviderName, "zelnetprovider");
  }

  void* data() { return bytes_.data(); }
  std::string Text(StartInfoTextField field) const { return ReadHostText(bytes_.data(), field); }
  const std::vector<char>& field24_buffer() const { return texts_[3]; }

 private:
  std::vector<unsigned char> bytes_;
  std::vector<std::vector<char>> texts_;
};

// What a login left, compared whole: the record's texts and mark, the codes
// notified, and every box shown as "style text".
inline std::string Outcome(const std::string& tree, const std::string& user,
                           const std::string& context, const std::string& field24,
                           uint32_t calling_module, const std::vector<uint32_t>& notified,
                           const std::vector<std::string>& boxes) {
  std::string text = tree + "|" + user + "|" + context + "|" + field24 + "|" +
                     std::to_string(calling_module) + "|notified";
  for (uint32_t code : notified) text += " " + std::to_string(code);
  for (const std::string& box : boxes) text += "|box " + box;
  return text;
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

  // The servers behind the tree list "A" with contextless login enabled.
  void ConfigureTreeA(const std::vector<ServerConfig>& servers,
                      std::vector<std::pair<std::string, uint32_t>> options = {}) {
    SetServers(servers);
    SetTrees({"A"});
    options.emplace_back("Contextless Login Enabled", 1);
    SetOptions(options);
  }

  std::string Observe(HostRecord& record) const {
    std::vector<std::string> boxes;
    for (const ShownBox& box : presenter_.boxes) {
      boxes.push_back(std::to_string(box.style) + " " + box.text);
    }
    return Outcome(record.Text(kStartInfoTree), record.Text(kStartInfoUser),
                   record.Text(kStartInfoContext), record.Text(kStartInfoField24),
                   LoadCallingModule(record.data()), g_notified, boxes);
  }

  // The start and tab-data events of one login; what they left.
  std::string Login(HostRecord& record) {
    presenter_.boxes.clear();
    g_notified.clear();
    Send(kEventStart, record);
    Send(kEventTabData, record);
    return Observe(record);
  }

  // A login in tree A resolved, or not with stop boxes of these texts.
  static std::string Resolved(const std::string& user, const std::string& context) {
    return Outcome("A", user, context, "PRESET", kCallingModuleMark, {kNotifyResolved}, {});
  }
  static std::string Unresolved(const std::string& user, std::vector<std::string> stop_boxes = {}) {
    for (std::string& box : stop_boxes) box = std::to_string(platform::kMbIconHand) + " " + box;
    return Outcome("A", user, "", "PRESET", kCallingModuleUnset, {}, stop_boxes);
  }

  unsigned char host_[kHostHandleEntries * sizeof(void*)] = {};
};

}  // namespace testing
}  // namespace wendrel

#endif  // WENDREL_TESTS_INTEGRATION_CORE_HOST_DOUBLE_H_
