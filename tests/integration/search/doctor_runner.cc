#include "tests/integration/search/doctor_runner.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "tests/integration/support/directory_fixture.h"

namespace wendrel {
namespace testing {

std::string RunDoctor(const std::string& args, int* status) {
  std::random_device random;
  const std::string out = HostPath("/tmp/wendrel-doctor-" + std::to_string(random()) + ".out");
  std::string command =
      "\"" + HostPath(WENDREL_DOCTOR_PATH) + "\" " + args + " > \"" + out + "\"";
#ifdef _WIN32
  // cmd.exe drops the first and the last quote of a line that holds more
  // than two: one more pair keeps the ones that matter.
  command = "\"" + command + "\"";
#endif
  const int result = std::system(command.c_str());
  if (status != nullptr) *status = result;
  std::ifstream in(out, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  in.close();
  std::remove(out.c_str());
  std::string report;
  for (char c : text.str()) {
    if (c != '\r') report += c;
  }
  return report;
}

}  // namespace testing
}  // namespace wendrel
