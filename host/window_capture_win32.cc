// The window is copied from its own window DC rather than printed with
// PrintWindow: the copy is what the display shows, whereas WM_PRINT draws a
// second time and relies on the window and every control answering
// WM_PRINT/WM_PRINTCLIENT completely.

#include "host/window_capture_win32.h"

#include <cstdint>
#include <fstream>
#include <vector>

namespace wendrel {
namespace qzlogin {
namespace {

// The window DC, given back to its window.
class WindowDc {
 public:
  explicit WindowDc(HWND window) : window_(window), dc_(GetWindowDC(window)) {}
  ~WindowDc() {
    if (dc_ != nullptr) ReleaseDC(window_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// A memory DC with a DIB section selected into it; the previous bitmap is
// selected back before both are deleted.
class DibCanvas {
 public:
  DibCanvas(HDC compatible_with, int width, int height) {
    dc_ = CreateCompatibleDC(compatible_with);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up, as a BMP file stores it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    if (dc_ != nullptr) {
      bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
    }
    if (bitmap_ != nullptr) previous_ = SelectObject(dc_, bitmap_);
  }
  ~DibCanvas() {
    if (previous_ != nullptr) SelectObject(dc_, previous_);
    if (bitmap_ != nullptr) DeleteObject(bitmap_);
    if (dc_ != nullptr) DeleteDC(dc_);
  }
  DibCanvas(const DibCanvas&) = delete;
  DibCanvas& operator=(const DibCanvas&) = delete;

  bool ok() const { return previous_ != nullptr && bits_ != nullptr; }
  HDC dc() const { return dc_; }
  const uint8_t* bits() const { return static_cast<const uint8_t*>(bits_); }

 private:
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ previous_ = nullptr;
  void* bits_ = nullptr;
};

template <typename T>
void Append(std::vector<uint8_t>* out, const T& value) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&value);
  out->insert(out->end(), bytes, bytes + sizeof value);
}

}  // namespace

bool CaptureWindowToBmp(HWND window, const std::string& path, std::string* error) {
  RECT rect = {};
  if (!IsWindow(window) || !GetWindowRect(window, &rect)) {
    *error = "no such window";
    return false;
  }
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) {
    *error = "the window has no size";
    return false;
  }
  WindowDc source(window);
  if (source.get() == nullptr) {
    *error = "no window DC";
    return false;
  }
  DibCanvas canvas(source.get(), width, height);
  if (!canvas.ok()) {
    *error = "cannot create the bitmap";
    return false;
  }
  if (!BitBlt(canvas.dc(), 0, 0, width, height, source.get(), 0, 0, SRCCOPY)) {
    *error = "BitBlt failed with error " + std::to_string(GetLastError());
    return false;
  }
  GdiFlush();

  // Rows of 24-bit pixels are padded to whole DWORDs.
  const uint32_t stride = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
  const uint32_t pixel_bytes = stride * static_cast<uint32_t>(height);
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  header.biSizeImage = pixel_bytes;
  BITMAPFILEHEADER file_header = {};
  file_header.bfType = 0x4D42;  // "BM"
  file_header.bfOffBits = sizeof file_header + sizeof header;
  file_header.bfSize = file_header.bfOffBits + pixel_bytes;

  std::vector<uint8_t> bytes;
  bytes.reserve(file_header.bfSize);
  Append(&bytes, file_header);
  Append(&bytes, header);
  bytes.insert(bytes.end(), canvas.bits(), canvas.bits() + pixel_bytes);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace qzlogin
}  // namespace wendrel
