// The settings reader and writer on arbitrary files: a value written is read
// back, and lines not touched survive byte for byte.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "text/encoding.h"
#include "text/files.h"

namespace {

// A key taken from the input when it is one a file can hold: no control
// bytes or "=", not starting a section or a comment, not only spaces.
// Otherwise 工作线程.
std::string KeyFrom(const std::uint8_t* data, std::size_t size) {
  std::string fixed = "\xB9\xA4\xD7\xF7\xCF\xDF\xB3\xCC";  // 工作线程
  if (size == 0) return fixed;
  std::string key(reinterpret_cast<const char*>(data) + 1, std::min<std::size_t>(data[0] % 17, size - 1));
  const std::size_t first = key.find_first_not_of(' ');
  if (first == std::string::npos || key[first] == '[' || key[first] == ';') return fixed;
  for (const char c : key) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == '=') return fixed;
  }
  return key;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // In memory where there is a place for it: every write is synced to disk.
  static const std::string path = std::string(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                                  "/kelvarn-ini-fuzz-" + std::to_string(::getpid()) + ".ini";
  const std::string file(reinterpret_cast<const char*>(data), size);
  kelvarn::WriteFileBytes(path, {file});
  kelvarn::ReadSetting(path, "a", "b", "d");
  const std::string section = "\xC5\xE4\xD6\xC3", key = KeyFrom(data, size);  // 配置
  if (!kelvarn::WriteSetting(path, section, key, "42")) abort();
  // Whatever the file held, the value written is the one read back.
  if (kelvarn::ReadSetting(path, section, key) != "42") abort();
  if (!kelvarn::WriteSetting(path, section, key, " 43 ") || kelvarn::ReadSetting(path, section, key) != "43") abort();
  // Every line of the original that does not mention the key survives,
  // unless the file was UTF-8 or UTF-16, which a save rewrites in GBK.
  const kelvarn::ByteArray after = kelvarn::ReadFileBytes(path);
  const std::string text(after.begin(), after.end());
  const kelvarn::Encoding encoding = kelvarn::DetectEncoding(file).encoding;
  const bool converted = encoding == kelvarn::Encoding::kUtf8 || encoding == kelvarn::Encoding::kUtf16Le ||
                         encoding == kelvarn::Encoding::kUtf16Be;
  if (!converted && file.find('\n') == std::string::npos && !file.empty() && file.find('[') == std::string::npos &&
      file.find('=') == std::string::npos && text.find(file) == std::string::npos) {
    abort();
  }
  kelvarn::WriteSetting(path, section, key, std::nullopt);
  kelvarn::WriteSetting(path, section, std::nullopt, std::nullopt);
  return 0;
}
