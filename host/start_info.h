// The start-info record qzlogin hands to the extension with every event, with
// the buffers, provider name and tagged list it points to. One object owns
// all of it; the record's pointers stay valid for the object's lifetime.

#ifndef WENDREL_HOST_START_INFO_H_
#define WENDREL_HOST_START_INFO_H_

#include <cstdint>
#include <string>
#include <vector>

#include "core/login_host.h"
#include "host/qzlogin_options.h"

namespace wendrel {
namespace qzlogin {

class StartInfo {
 public:
  // Texts of `options` are UTF-8 and go into the record in the ANSI code page.
  explicit StartInfo(const Options& options);

  StartInfo(const StartInfo&) = delete;
  StartInfo& operator=(const StartInfo&) = delete;

  void* record() { return record_.data(); }

  // A text field as the extension left it, in the ANSI code page: up to its
  // terminator, or the whole buffer when there is none.
  std::string Text(StartInfoTextField field) const;
  uint32_t calling_module() const { return LoadCallingModule(record_.data()); }

 private:
  // Index into buffers_ of one of the four text fields.
  static size_t BufferIndex(StartInfoTextField field);
  void SetText(StartInfoTextField field, const std::string& utf8);

  // Larger than the fields the contract names: a host record has more.
  std::vector<unsigned char> record_;
  std::vector<char> buffers_[4];  // field 24/28, tree, user, context
  std::string provider_;
  std::vector<unsigned char> start_ui_node_, start_ui_;
  std::vector<unsigned char> tab_data_node_, tab_data_;
};

}  // namespace qzlogin
}  // namespace wendrel

#endif  // WENDREL_HOST_START_INFO_H_
