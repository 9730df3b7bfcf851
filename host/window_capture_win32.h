// A picture of a window as it is on screen, frame and caption included,
// written as a BMP file: how qzlogin.exe keeps a record of the real selection
// dialog for people who want to see it (and for the tests that check it is
// really drawn).

#ifndef WENDREL_HOST_WINDOW_CAPTURE_WIN32_H_
#define WENDREL_HOST_WINDOW_CAPTURE_WIN32_H_

#include <windows.h>

#include <string>

namespace wendrel {
namespace qzlogin {

// Copies the window's pixels (GetWindowDC and BitBlt into a 24-bit DIB
// section) and writes them to `path` (ANSI code page) as a bottom-up BMP.
// False with the reason in *error when any step fails.
bool CaptureWindowToBmp(HWND window, const std::string& path, std::string* error);

}  // namespace qzlogin
}  // namespace wendrel

#endif  // WENDREL_HOST_WINDOW_CAPTURE_WIN32_H_
