// What files.cc needs of the operating system, implemented in posix/ and
// win32/. Internal to text/.
#pragma once

#include <string>
#include <string_view>

namespace kelvarn::detail {

// The separator the system's own paths end directories with: "/" or "\".
char PathSeparator();

// Where a per-user configuration lives below the home directory, ending in
// the separator: ".config/", or "AppData\Roaming\" on Windows.
std::string_view ConfigBelowHome();

// Whether `path` names a place without regard to the working directory.
bool IsAbsolutePath(std::string_view path);

// Whether the process may make files in `dir` (ending in a separator).
bool DirectoryIsWritable(const std::string& dir);

// Makes `dir` (ending in a separator) and every missing parent, for the user
// alone where the system has such modes; failures are left for the first
// write there to report.
void MakeDirectories(const std::string& dir);

}  // namespace kelvarn::detail
