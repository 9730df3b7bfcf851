#include "host/qzlogin_options.h"

#include <cstdlib>

namespace wendrel {
namespace qzlogin {

bool ParseNumber(const std::string& text, int64_t min, int64_t max, int64_t* value) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && text[i] == '-') {
    negative = true;
    ++i;
  }
  int base = 10;
  if (text.size() - i > 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == text.size()) return false;
  // Accumulated with a bound check at each digit: no overflow for any input.
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    v = v * base + digit;
    if (v > (int64_t{1} << 33)) return false;
  }
  if (negative) v = -v;
  if (v < min || v > max) return false;
  *value = v;
  return true;
}

namespace {

bool ParseEvents(const std::string& list, std::vector<uint32_t>* events) {
  events->clear();
  if (list.empty()) return true;  // only 0 and 18
  size_t start = 0;
  for (;;) {
    size_t comma = list.find(',', start);
    std::string item = list.substr(start, comma == std::string::npos ? std::string::npos
                                                                     : comma - start);
    int64_t code;
    if (!ParseNumber(item, 0, 0xFFFFFFFF, &code)) return false;
    events->push_back(static_cast<uint32_t>(code));
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error) {
  int dialog_scripts = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    // The value of an option that takes one.
    auto value = [&](std::string* out) {
      if (i + 1 >= args.size()) {
        *error = arg + " needs a value";
        return false;
      }
      *out = args[++i];
      return true;
    };
    auto number = [&](int64_t min, int64_t max, int64_t* out) {
      std::string text;
      if (!value(&text)) return false;
      if (!ParseNumber(text, min, max, out)) {
        *error = arg + ": not a number in range: \"" + text + "\"";
        return false;
      }
      return true;
    };
    int64_t n;
    std::string text;
    if (arg == "--extension") {
      if (!value(&options->extension)) return false;
      if (options->extension.empty()) {
        *error = "--extension: empty path";
        return false;
      }
    } else if (arg == "--user") {
      if (!value(&options->user)) return false;
    } else if (arg == "--tree") {
      if (!value(&options->tree)) return false;
    } else if (arg == "--events") {
      if (!value(&text)) return false;
      if (!ParseEvents(text, &options->events)) {
        *error = "--events: not a comma-separated list of event codes: \"" + text + "\"";
        return false;
      }
    } else if (arg == "--provider") {
      if (!value(&options->provider)) return false;
    } else if (arg == "--calling-module") {
      if (!number(0, 0xFFFFFFFF, &n)) return false;
      options->calling_module = static_cast<uint32_t>(n);
    } else if (arg == "--start-ui") {
      if (!number(0, 255, &n)) return false;
      options->start_ui = static_cast<uint8_t>(n);
    } else if (arg == "--run-eap") {
      if (!number(0, 0xFFFFFFFF, &n)) return false;
      options->has_run_eap = true;
      options->run_eap = static_cast<uint32_t>(n);
    } else if (arg == "--field24") {
      if (!value(&options->field24)) return false;
    } else if (arg == "--buffer-size") {
      if (!number(1, kMaxBufferSize, &n)) return false;
      options->buffer_size = static_cast<uint32_t>(n);
    } else if (arg == "--select" || arg == "--dblclick") {
      if (!number(0, 0x7FFFFFFF, &n)) return false;
      options->dialog = arg == "--select" ? DialogScript::kSelect : DialogScript::kDoubleClick;
      options->dialog_row = static_cast<int>(n);
      ++dialog_scripts;
    } else if (arg == "--select-none") {
      options->dialog = DialogScript::kSelectNone;
      ++dialog_scripts;
    } else if (arg == "--cancel") {
      options->dialog = DialogScript::kCancel;
      ++dialog_scripts;
    } else if (arg == "--answer") {
      if (!value(&text)) return false;
      if (text == "yes") {
        options->answer = AnswerScript::kYes;
      } else if (text == "no") {
        options->answer = AnswerScript::kNo;
      } else {
        *error = "--answer: yes or no, not \"" + text + "\"";
        return false;
      }
    } else if (arg == "--no-chain") {
      options->chain = false;
    } else if (arg == "--chain-result") {
      if (!number(INT32_MIN, INT32_MAX, &n)) return false;
      options->chain_result = static_cast<int32_t>(n);
    } else if (arg == "--json") {
      options->json = true;
    } else {
      *error = "unknown option \"" + arg + "\"";
      return false;
    }
  }
  if (dialog_scripts > 1) {
    *error = "--select, --dblclick, --select-none and --cancel exclude each other";
    return false;
  }
  if (!options->chain && options->chain_result != 0) {
    *error = "--no-chain and --chain-result exclude each other";
    return false;
  }
  return true;
}

const char* UsageText() {
  return "usage: qzlogin [--extension PATH] [--user TEXT] [--tree TEXT] [--events LIST]\n"
         "               [--provider TEXT] [--calling-module N] [--start-ui N] [--run-eap N]\n"
         "               [--field24 TEXT] [--buffer-size N]\n"
         "               [--select N | --dblclick N | --select-none | --cancel]\n"
         "               [--answer yes|no] [--no-chain | --chain-result N] [--json]\n"
         "Loads the login host module and the extension, sends event 0, the --events codes\n"
         "(default 1296) and 18 with a start-info record, and reports what the host saw.\n";
}

}  // namespace qzlogin
}  // namespace wendrel
