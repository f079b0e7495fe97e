// A picture of a window, as a PNG file: what --screenshot writes, the same
// format on every window system.
#pragma once

#include <windows.h>

#include <string>

namespace kelvarn {

// Copies the window (frame included) from the screen, where it must be
// uncovered, and writes it as an uncompressed 24-bit PNG; false when it cannot
// be copied or the file not written.
bool SaveWindowPicture(HWND window, const std::string& path);

}  // namespace kelvarn
