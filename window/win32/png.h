// A picture of a window, as a PNG file: what --screenshot writes, the same
// format on every window system.
#pragma once

#include <windows.h>

#include <string>

namespace kelvarn {

// Draws the window (client area and frame) into a bitmap and writes it as an
// uncompressed 24-bit PNG; false when the window cannot be drawn or the file
// not written.
bool SaveWindowPicture(HWND window, const std::string& path);

}  // namespace kelvarn
