// What the frame asks of the operating system: the end of the process,
// standard error, the working directory, the executable's read-only data and
// shared libraries. frame/posix and frame/win32 implement it; the rest of the
// frame is the same on both. Internal to frame/.
//
// Thread safety: every function may be called from any thread.
#pragma once

#include <string>
#include <string_view>

namespace kelvarn::system {

// Flushes the C standard streams and ends the process with `exitCode` at once:
// no static destructors run beside threads that were cut off. On Windows the
// shell sees the code's low byte (-1 arrives as 255), as on POSIX.
[[noreturn]] void EndProcess(int exitCode);

// Blocks the calling thread until the process ends (another thread ends it).
[[noreturn]] void WaitForTheEnd();

// Writes bytes to standard error as they are, all of them unless it fails.
void WriteStandardError(std::string_view bytes);

// Writes a GBK text to standard error in the encoding its reader expects:
// UTF-8 on POSIX; on Windows the console's own characters, or the ANSI code
// page's bytes when standard error is a file or a pipe.
void WriteGbkToStandardError(std::string_view gbkText);

// Makes `directory` the working directory; false when it cannot.
bool ChangeDirectory(const std::string& directory);

// Shared libraries, as outside functions are bound from them. A handle is
// null when the library cannot be loaded.
void* OpenLibrary(const std::string& path);
void CloseLibrary(void* library);
// The export `name` of the library, or null. On Windows "#N" names the export
// with ordinal N (its low 16 bits); elsewhere ordinals mean nothing.
void* FindExport(void* library, const std::string& name);
// Whether a library name says where the file is (a path, not a bare name), so
// that it is loaded from there only: a drive ("C:") on Windows, a "/" on POSIX.
bool NamesALocation(std::string_view library);
// The libraries an empty library name searches, in order, ending with null.
extern const char* const kSystemLibraries[];

}  // namespace kelvarn::system
