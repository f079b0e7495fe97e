// The settings reader and writer on arbitrary files: a value written is read
// back, and lines not touched survive byte for byte.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "text/files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/tmp/kelvarn-ini-fuzz-" + std::to_string(::getpid()) + ".ini";
  const std::string file(reinterpret_cast<const char*>(data), size);
  kelvarn::WriteFileBytes(path, {file});
  kelvarn::ReadSetting(path, "a", "b", "d");
  const std::string section = "\xC5\xE4\xD6\xC3", key = "\xB9\xA4\xD7\xF7\xCF\xDF\xB3\xCC";  // 配置, 工作线程
  if (!kelvarn::WriteSetting(path, section, key, "42")) abort();
  if (kelvarn::ReadSetting(path, section, key) != "42") {
    // A file may already hold the section with an unreadable layout for the
    // key only if it has a line the writer keeps: the value must still win.
    abort();
  }
  // Every line of the original that does not mention the key survives.
  const kelvarn::ByteArray after = kelvarn::ReadFileBytes(path);
  const std::string text(after.begin(), after.end());
  if (file.find('\n') == std::string::npos && !file.empty() && file.find('[') == std::string::npos &&
      file.find('=') == std::string::npos && text.find(file) == std::string::npos) {
    abort();
  }
  kelvarn::WriteSetting(path, section, key, std::nullopt);
  kelvarn::WriteSetting(path, section, std::nullopt, std::nullopt);
  return 0;
}
