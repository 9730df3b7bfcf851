// The reachability check against a strict ICMP.DLL (strict_icmp.cc) that
// enforces Windows' reply-buffer rule, which Wine's own does not. This
// program lives in the stand-in's folder and runs with icmp=n,b, so every
// LoadLibrary("ICMP.DLL") of the process gets the stand-in.

#include <windows.h>
#include <ipexport.h>

#include <cstring>
#include <string>

#include "directory/reachability.h"
#include "gtest/gtest.h"
#include "tests/integration/support/directory_fixture.h"
#include "tests/unit/support/registry_fixture.h"

namespace wendrel {
namespace testing {
namespace {

using CreateFileFn = HANDLE(WINAPI*)();
using CloseHandleFn = BOOL(WINAPI*)(HANDLE);
using SendEchoFn = DWORD(WINAPI*)(HANDLE, IPAddr, LPVOID, WORD, PIP_OPTION_INFORMATION, LPVOID,
                                  DWORD, DWORD);

std::string Folder(HMODULE module) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(module, path, sizeof path);
  std::string text(path);
  return text.substr(0, text.find_last_of('\\'));
}

constexpr IPAddr kLoopback = 0x0100007F;  // 127.0.0.1 in network byte order

// Proves the test's premise: the ICMP.DLL this process loads is the strict
// stand-in beside the program, which refuses the buffer of one bare reply
// record and answers when the 8 bytes are there.
TEST(StrictIcmpTest, TheLoadedIcmpLibraryIsTheStrictStandIn) {
  HMODULE icmp = LoadLibraryA("ICMP.DLL");
  ASSERT_NE(icmp, nullptr);
  EXPECT_EQ(Folder(icmp), Folder(nullptr)) << "not the stand-in: check WINEDLLOVERRIDES";
  auto entry = [icmp](const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(icmp, name));
  };
  auto create = reinterpret_cast<CreateFileFn>(entry("IcmpCreateFile"));
  auto close = reinterpret_cast<CloseHandleFn>(entry("IcmpCloseHandle"));
  auto send = reinterpret_cast<SendEchoFn>(entry("IcmpSendEcho"));
  ASSERT_TRUE(create != nullptr && close != nullptr && send != nullptr);
  HANDLE handle = create();
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);

  alignas(ICMP_ECHO_REPLY) unsigned char buffer[sizeof(ICMP_ECHO_REPLY) + 8];
  std::memset(buffer, 0xEE, sizeof buffer);
  SetLastError(0);
  EXPECT_EQ(send(handle, kLoopback, nullptr, 0, nullptr, buffer, sizeof(ICMP_ECHO_REPLY), 2000),
            0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(buffer[0], 0xEE);  // nothing written

  std::memset(buffer, 0, sizeof buffer);
  EXPECT_EQ(send(handle, kLoopback, nullptr, 0, nullptr, buffer, sizeof buffer, 2000), 1u);
  EXPECT_EQ(reinterpret_cast<ICMP_ECHO_REPLY*>(buffer)->Status, 0u);
  close(handle);
  FreeLibrary(icmp);
}

class StrictPingTest : public RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    InitPing();
  }
  void TearDown() override {
    ClosePing();
    RegistryTest::TearDown();
  }
};

// 127.0.0.1 is the address whose reverse lookup succeeds without DNS, so the
// ping's outcome is the echo's alone.
TEST_F(StrictPingTest, LoopbackAnswersAndAServerAddressGivesItsTree) {
  ASSERT_TRUE(PingAvailable());
  EXPECT_EQ(Ping("127.0.0.1", 2), 0u);

  DirectoryFixture dir;
  ASSERT_TRUE(dir.Start({"Strict_Tree:host=127.0.0.1"})) << dir.error();
  SetString("Software\\Tarvos\\LDAP\\Servers", "0", "127.0.0.1");
  SetDword("Software\\Tarvos\\LDAP\\Servers\\settings", "Port 0",
           static_cast<uint32_t>(dir.server(0).port));
  std::string name = "127.0.0.1";
  char tree[33];
  std::memset(tree, '#', sizeof tree);
  ASSERT_EQ(GetTree(name, tree, sizeof tree, 2), 0u);
  EXPECT_STREQ(tree, "Strict_Tree");
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
