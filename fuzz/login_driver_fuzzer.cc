// The login driver, LoginExtCallback, over any start-info record (text
// buffers of 0 to 300 bytes or none, filled without a terminator or not; any
// provider and calling module; tagged lists with tags 17, 87 and others) and
// any events with any arguments. Every buffer has exactly its size, so any
// access past one is caught. The configuration, written afresh per input,
// has one server on a loopback port that refuses connections, so every path
// ends quickly. Event 102, which waits up to 35 s for a server, is sent only
// where the driver leaves before that wait; elsewhere as 1296, the same path
// without it.
//
// Checked after every event: the chained handler got the seven arguments and
// its result came back; the record's sizes and pointers are untouched; a
// changed buffer holds a terminator; the calling module is unchanged or
// 577775; only notification 100 is sent; every box is a stop box or the
// continue question.

#include <fuzzer/FuzzedDataProvider.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "config/registry_paths.h"
#include "core/login_driver.h"
#include "core/login_host.h"
#include "core/wendrel_app.h"
#include "fuzz/support/fuzz_store.h"
#include "platform/icmp.h"
#include "platform/ui.h"
#include "results/user_data.h"

namespace wendrel {
namespace {

using fuzzing::Check;

struct ChainCall {
  bool called = false;
  void* host;
  uint32_t event, a, b;
  void* record;
  uintptr_t c;
  uint32_t d;
};
ChainCall g_chain;
std::vector<uint32_t> g_notifications;
std::vector<uint32_t> g_box_styles;

int32_t ChainedHandler(void* host, uint32_t event, uint32_t a, uint32_t b, void* record,
                       uintptr_t c, uint32_t d) {
  g_chain = {true, host, event, a, b, record, c, d};
  return static_cast<int32_t>(event ^ a ^ 0x5A5A);
}

int32_t Notify(void* host, uint32_t code, uint32_t a, uint32_t b, uintptr_t d) {
  g_notifications.push_back(code);
  return 0;
}

unsigned char g_host_table[kHostServiceTableSize];

int32_t HostInit(void** table, const LoginExtVersion* version, uintptr_t* out, uintptr_t,
                 uintptr_t) {
  StoreEventHandler(g_host_table, &ChainedHandler);
  *table = g_host_table;
  *out = 0;
  return 0;
}

class RecordingBoxes : public platform::MessageBoxPresenter {
 public:
  int Show(const std::string&, const std::string&, uint32_t style) override {
    g_box_styles.push_back(style);
    return (style & 0xF) == platform::kMbYesNo ? platform::kIdNo : platform::kIdOk;
  }
};

// A loopback port that refuses every connection: bound, never listening,
// kept for the process's lifetime so no one else takes it.
int ClosedPort() {
  static int port = [] {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      fuzzing::Fail("no loopback port to refuse connections");
    }
    return static_cast<int>(ntohs(address.sin_port));
  }();
  return port;
}

struct Config {
  bool options_key, contextless, treeless, cached, wildcards, local_login, cache_entry, trees;
};

void WriteConfig(const Config& config, FuzzedDataProvider& input) {
  fuzzing::FuzzStore& store = fuzzing::SharedStore();
  store.Reset();
  if (config.options_key) {
    store.SetDword(kOptionsKeyPath, "Contextless Login Enabled", config.contextless);
    store.SetDword(kOptionsKeyPath, "Treeless Login Enabled", config.treeless);
    store.SetDword(kOptionsKeyPath, "UseCachedResults", config.cached);
    store.SetDword(kOptionsKeyPath, "Allow Wildcards", config.wildcards);
    store.SetDword(kOptionsKeyPath, "User Search Failure", input.ConsumeIntegralInRange(0, 2));
  }
  if (config.local_login) store.SetDword(kLoginKeyPath, kLocalLoginValueName, 1);
  if (config.trees) store.SetString(kTreesKeyPath, "0", "ACME");
  store.SetString(kServersKeyPath, "0", "127.0.0.1");
  const std::string settings = kServerSettingsKeyPath;
  store.SetDword(settings, "Port 0", static_cast<uint32_t>(ClosedPort()));
  store.SetDword(settings, "ConnectionTimeout 0", 1);
  store.SetDword(settings, "Search Timeout 0", 1);
  if (config.cache_entry) {
    const std::string user = input.ConsumeRandomLengthString(300);
    const std::string context = input.ConsumeRandomLengthString(300);
    for (const char* tree : {"ACME", "+.TreeLess"}) {
      const std::string key = std::string(kCachedResultsKeyPath) + "\\" + tree + "\\JSMITH";
      store.SetString(key, "UserTree", "ACME");
      store.SetString(key, "UserServer", "127.0.0.1");
      store.SetString(key, "User", user);
      store.SetString(key, "UserContext", context);
      store.SetString(key, "UserFDN", "cn=" + user);
      store.SetString(key, "UserContextFDN", "o=" + context);
    }
  }
}

// Owns a start-info record and everything it points to, each block at
// exactly its size.
class Record {
 public:
  explicit Record(FuzzedDataProvider& input) {
    record_ = Block(kStartInfoSize);
    std::memset(record_, 0, kStartInfoSize);
    for (const StartInfoTextField& field :
         {kStartInfoField24, kStartInfoTree, kStartInfoUser, kStartInfoContext}) {
      AddText(field, input);
    }
    SanitizeTree();
    StoreCallingModule(record(), input.ConsumeBool() ? kCallingModuleUnset
                                                     : input.ConsumeIntegral<uint32_t>());
    AddProvider(input);
    AddList(input);
  }

  void* record() { return record_; }

  // The sizes and pointers of the record, compared before and after events.
  std::vector<unsigned char> Shape() const {
    std::vector<unsigned char> shape(record_, record_ + kStartInfoSize);
    std::memset(shape.data() + kStartInfoCallingModule, 0, 4);
    return shape;
  }

  // Each text buffer as it is now.
  std::vector<std::string> Buffers() const {
    std::vector<std::string> out;
    for (const auto& [buffer, size] : texts_) out.emplace_back(buffer, size);
    return out;
  }

 private:
  char* Block(size_t size) {
    blocks_.emplace_back(new char[size]);
    return blocks_.back().get();
  }

  void AddText(StartInfoTextField field, FuzzedDataProvider& input) {
    const uint8_t how = input.ConsumeIntegral<uint8_t>();
    if (how % 8 == 0) {  // no buffer, any size
      StoreText(record(), field, {input.ConsumeIntegral<int32_t>(), nullptr});
      return;
    }
    const size_t size = input.ConsumeIntegralInRange<size_t>(0, 300);
    char* buffer = Block(size);
    std::memset(buffer, 0, size);
    // Texts may fill the whole buffer: unterminated.
    const std::string text = input.ConsumeRandomLengthString(size);
    std::memcpy(buffer, text.data(), text.size());
    StoreText(record(), field, {static_cast<int32_t>(size), buffer});
    texts_.emplace_back(buffer, size);
    if (field.size_offset == kStartInfoTree.size_offset) tree_ = {buffer, size};
  }

  // Tree discovery asks the server at a dotted address for its tree name;
  // only loopback addresses are left, which refuse at once.
  void SanitizeTree() {
    if (tree_.first == nullptr) return;
    std::string text(tree_.first, strnlen(tree_.first, tree_.second));
    uint32_t address = 0;
    for (const std::string& candidate : {text, TrimWhiteSpace(text)}) {
      if (platform::ParseIpv4Address(candidate.c_str(), &address) && (address & 0xFF) != 127) {
        for (size_t i = 0; i < tree_.second; ++i) {
          if (tree_.first[i] >= '0' && tree_.first[i] <= '9') tree_.first[i] = 'x';
        }
        return;
      }
    }
  }

  void AddProvider(FuzzedDataProvider& input) {
    const uint8_t how = input.ConsumeIntegral<uint8_t>();
    std::string provider;
    if (how % 4 == 0) return;  // none
    provider = how % 4 == 1 ? "zelnetprovider" : how % 4 == 2 ? "ZelNetProvider"
                                                              : input.ConsumeRandomLengthString(40);
    char* buffer = Block(provider.size() + 1);
    std::memcpy(buffer, provider.c_str(), provider.size() + 1);
    StorePointer(record(), kStartInfoProviderName, buffer);
  }

  void AddList(FuzzedDataProvider& input) {
    const size_t nodes = input.ConsumeIntegralInRange<size_t>(0, 6);
    size_t next_offset = kStartInfoListHead;
    char* previous = record_;
    for (size_t i = 0; i < nodes; ++i) {
      char* node = Block(kListNodeSize);
      std::memset(node, 0, kListNodeSize);
      const uint8_t how = input.ConsumeIntegral<uint8_t>();
      const uint32_t tag = how % 3 == 0   ? kTagStartUI
                           : how % 3 == 1 ? kTagTabData
                                          : input.ConsumeIntegral<uint32_t>();
      StoreU32(node, kListNodeTag, tag);
      if (input.ConsumeIntegral<uint8_t>() % 5 != 0) {  // one in five without data
        // The records the driver reads have at least the contract's size;
        // records of other tags, which it never reads, any size.
        const size_t least = tag == kTagStartUI   ? kStartUISize
                             : tag == kTagTabData ? kTabDataSize
                                                  : 0;
        const size_t size = least + input.ConsumeIntegralInRange<size_t>(0, 32);
        char* data = Block(size);
        const std::string bytes = input.ConsumeBytesAsString(size);
        std::memset(data, 0, size);
        std::memcpy(data, bytes.data(), bytes.size());
        if (tag == kTagStartUI && input.ConsumeBool()) data[kStartUIByte] = kStartUIPrelogin;
        if (tag == kTagTabData && input.ConsumeBool()) StoreU32(data, kTabDataRunEap, 1);
        StorePointer(node, kListNodeData, data);
      }
      StorePointer(previous, next_offset, node);
      previous = node;
      next_offset = kListNodeNext;
    }
  }

  std::vector<std::unique_ptr<char[]>> blocks_;
  char* record_ = nullptr;
  std::vector<std::pair<char*, size_t>> texts_;
  std::pair<char*, size_t> tree_ = {nullptr, 0};
};

}  // namespace
}  // namespace wendrel

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  using namespace wendrel;
  // Nothing may wait for a person at a terminal.
  if (std::freopen("/dev/null", "r", stdin) == nullptr) fuzzing::Fail("no /dev/null");
  static RecordingBoxes boxes;
  platform::SetMessageBoxPresenter(&boxes);
  fuzzing::SharedStore();
  ClosedPort();
  Check(PerformHandshake(&HostInit) == 0, "the handshake with the stand-in host");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  using namespace wendrel;
  FuzzedDataProvider input(bytes, size);
  const uint8_t mode = input.ConsumeIntegral<uint8_t>();
  const Config config = {(mode & 1) == 0, (mode & 2) != 0,  (mode & 4) != 0,  (mode & 8) != 0,
                         (mode & 16) != 0, (mode & 32) != 0, (mode & 64) != 0, (mode & 128) == 0};
  WriteConfig(config, input);
  // Where the search path leaves before the connectivity wait.
  const bool wait_skipped = !config.options_key || config.local_login ||
                            (config.contextless && !config.treeless && !config.trees);

  Record record(input);
  void* host_table[kHostHandleEntries] = {};
  StoreEntry(host_table, kHostHandleNotifyEntry, &Notify);
  ResetLoginDriverForTesting();

  const size_t events = input.ConsumeIntegralInRange<size_t>(1, 6);
  for (size_t i = 0; i < events; ++i) {
    static const uint32_t kCodes[] = {kEventStart, kEventTabData, kEventPrelogin, kEventSearch,
                                      kEventTerminate};
    const uint8_t pick = i == 0 ? 0 : input.ConsumeIntegral<uint8_t>();
    uint32_t event = pick < 5 * 40 ? kCodes[pick % 5] : input.ConsumeIntegral<uint32_t>();
    if (event == kEventSearch && !wait_skipped) event = kEventTabData;
    void* host = input.ConsumeIntegral<uint8_t>() % 8 == 0 ? nullptr : host_table;
    void* argument_record = input.ConsumeIntegral<uint8_t>() % 8 == 0 ? nullptr : record.record();
    const uint32_t a = input.ConsumeIntegral<uint32_t>();
    const uint32_t b = input.ConsumeIntegral<uint32_t>();
    const uintptr_t c = input.ConsumeIntegral<uintptr_t>();
    const uint32_t d = input.ConsumeIntegral<uint32_t>();

    const std::vector<unsigned char> shape = record.Shape();
    const std::vector<std::string> before = record.Buffers();
    const uint32_t calling_module = LoadCallingModule(record.record());
    g_chain = ChainCall();
    g_notifications.clear();
    g_box_styles.clear();

    const int32_t result = LoginExtCallback(host, event, a, b, argument_record, c, d);

    Check(g_chain.called && g_chain.host == host && g_chain.event == event && g_chain.a == a &&
              g_chain.b == b && g_chain.record == argument_record && g_chain.c == c &&
              g_chain.d == d,
          "the chained handler gets the seven arguments unchanged");
    Check(result == static_cast<int32_t>(event ^ a ^ 0x5A5A), "the chained result comes back");
    Check(record.Shape() == shape, "the record's sizes and pointers are untouched");
    const std::vector<std::string> after = record.Buffers();
    for (size_t t = 0; t < after.size(); ++t) {
      if (after[t] != before[t]) {
        Check(after[t].find('\0') != std::string::npos, "a changed buffer holds a terminator");
      }
    }
    const uint32_t now = LoadCallingModule(record.record());
    Check(now == calling_module || now == kCallingModuleMark, "calling module unchanged or marked");
    for (uint32_t code : g_notifications) Check(code == kNotifyResolved, "only notification 100");
    Check(host != nullptr || g_notifications.empty(), "no notification without a host");
    for (uint32_t style : g_box_styles) {
      Check(style == platform::kMbIconHand ||
                style == (platform::kMbYesNo | platform::kMbIconHand),
            "a stop box or the continue question");
    }
  }
  // What event 0 kept points into this input's record: forget it.
  ResetLoginDriverForTesting();
  return 0;
}
