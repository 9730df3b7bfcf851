// qzlogin's command line: what the login prompt it plays holds, which events
// it sends, how the host module's own handler behaves and how the boxes and
// the selection dialog are answered.

#ifndef WENDREL_HOST_QZLOGIN_OPTIONS_H_
#define WENDREL_HOST_QZLOGIN_OPTIONS_H_

#include <cstdint>
#include <string>
#include <vector>

namespace wendrel {
namespace qzlogin {

enum class DialogScript { kNone, kSelect, kDoubleClick, kSelectNone, kCancel };
enum class AnswerScript { kNone, kYes, kNo };

struct Options {
  std::string extension;  // empty: the extension library beside qzlogin
  std::string user;       // UTF-8
  std::string tree;       // UTF-8
  std::vector<uint32_t> events = {1296};
  std::string provider = "zelnetprovider";
  uint32_t calling_module = 0xFFFFFFFFu;
  uint8_t start_ui = 0;
  bool has_run_eap = false;
  uint32_t run_eap = 0;
  std::string field24 = "PRESET";
  uint32_t buffer_size = 256;
  DialogScript dialog = DialogScript::kNone;
  int dialog_row = -1;  // for kSelect and kDoubleClick
  AnswerScript answer = AnswerScript::kNone;
  bool chain = true;
  int32_t chain_result = 0;
  bool json = false;
};

// The largest --buffer-size accepted: far beyond any text of a login, small
// enough that four buffers of it are no burden.
constexpr uint32_t kMaxBufferSize = 1u << 20;

// Parses the arguments after the program name (UTF-8). False with `error`
// set for an unknown option, a missing or malformed value, or conflicting
// dialog scripts.
bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error);

// "decimal or 0x hex", the whole text, within [min, max].
bool ParseNumber(const std::string& text, int64_t min, int64_t max, int64_t* value);

const char* UsageText();

}  // namespace qzlogin
}  // namespace wendrel

#endif  // WENDREL_HOST_QZLOGIN_OPTIONS_H_
