#include "host/start_info.h"

#include <algorithm>
#include <cstring>

#include "platform/codepage.h"

namespace wendrel {
namespace qzlogin {
namespace {

constexpr size_t kRecordSize = 512;
static_assert(kRecordSize >= kStartInfoSize, "the record holds every field");

std::string Utf8ToAnsi(const std::string& utf8) {
  return platform::Utf16ToAnsi(platform::Utf8ToUtf16(utf8));
}

}  // namespace

StartInfo::StartInfo(const Options& options)
    : record_(kRecordSize, 0),
      provider_(Utf8ToAnsi(options.provider)),
      start_ui_node_(kListNodeSize, 0),
      start_ui_(std::max<size_t>(kStartUISize, 128), 0) {
  for (std::vector<char>& buffer : buffers_) buffer.assign(options.buffer_size, '\0');
  SetText(kStartInfoField24, options.field24);
  SetText(kStartInfoTree, options.tree);
  SetText(kStartInfoUser, options.user);
  SetText(kStartInfoContext, "");
  StoreCallingModule(record_.data(), options.calling_module);
  StorePointer(record_.data(), kStartInfoProviderName, provider_.c_str());

  start_ui_[kStartUIByte] = options.start_ui;
  StoreU32(start_ui_node_.data(), kListNodeTag, kTagStartUI);
  StorePointer(start_ui_node_.data(), kListNodeData, start_ui_.data());
  StorePointer(start_ui_node_.data(), kListNodeNext, nullptr);
  StorePointer(record_.data(), kStartInfoListHead, start_ui_node_.data());

  if (options.has_run_eap) {
    tab_data_node_.assign(kListNodeSize, 0);
    tab_data_.assign(std::max<size_t>(kTabDataSize, 64), 0);
    StoreU32(tab_data_.data(), kTabDataRunEap, options.run_eap);
    StoreU32(tab_data_node_.data(), kListNodeTag, kTagTabData);
    StorePointer(tab_data_node_.data(), kListNodeData, tab_data_.data());
    StorePointer(tab_data_node_.data(), kListNodeNext, nullptr);
    StorePointer(start_ui_node_.data(), kListNodeNext, tab_data_node_.data());
  }
}

size_t StartInfo::BufferIndex(StartInfoTextField field) {
  if (field.size_offset == kStartInfoField24.size_offset) return 0;
  if (field.size_offset == kStartInfoTree.size_offset) return 1;
  if (field.size_offset == kStartInfoUser.size_offset) return 2;
  return 3;
}

// What the login prompt holds: the text cut to leave room for a terminator,
// as a prompt's edit field would never hold more than its buffer.
void StartInfo::SetText(StartInfoTextField field, const std::string& utf8) {
  std::vector<char>* buffer = &buffers_[BufferIndex(field)];
  std::string ansi = Utf8ToAnsi(utf8);
  size_t n = std::min(ansi.size(), buffer->size() - 1);
  std::fill(buffer->begin(), buffer->end(), '\0');
  std::memcpy(buffer->data(), ansi.data(), n);
  StoreText(record_.data(), field, HostText{static_cast<int32_t>(buffer->size()),
                                            buffer->data()});
}

std::string StartInfo::Text(StartInfoTextField field) const {
  // The buffer qzlogin owns, with the size it allocated: never the size or
  // pointer fields of the record, which the extension could have changed.
  const std::vector<char>* buffer = &buffers_[BufferIndex(field)];
  size_t n = 0;
  while (n < buffer->size() && (*buffer)[n] != '\0') ++n;
  return std::string(buffer->data(), n);
}

}  // namespace qzlogin
}  // namespace wendrel
