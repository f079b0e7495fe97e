#include "text/convert.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <string>

namespace kelvarn {
namespace {

// Converts with iconv, replacing each unit of `step` bytes that does not
// convert by `replacement` and going on after it: UTF-16 steps by two, so
// one bad unit does not shift the rest out of line.
std::string Convert(const char* to, const char* from, std::string_view in, std::string_view replacement,
                    std::size_t step = 1) {
  iconv_t cd = iconv_open(to, from);
  // NOLINTNEXTLINE(performance-no-int-to-ptr): (iconv_t)-1 is how iconv_open fails
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
  std::string out;
  out.reserve(in.size() * 2 + 8);
  char* src = const_cast<char*>(in.data());
  std::size_t srcLeft = in.size();
  char buffer[4096];
  while (srcLeft > 0) {
    char* dst = buffer;
    std::size_t dstLeft = sizeof buffer;
    const std::size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.append(buffer, static_cast<std::size_t>(dst - buffer));
    if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
      out.append(replacement);  // EILSEQ or a cut character at the end (EINVAL)
      const std::size_t skip = std::min(step, srcLeft);
      src += skip;
      srcLeft -= skip;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}

}  // namespace

std::string GbkToUtf8(std::string_view gbk) { return Convert("UTF-8", "GB18030", gbk, "\xEF\xBF\xBD"); }

Text Utf8ToGbk(std::string_view utf8) { return Convert("GB18030", "UTF-8", utf8, "?"); }

Text detail::Utf16ToGbk(std::string_view bytes, bool bigEndian) {
  return Convert("GB18030", bigEndian ? "UTF-16BE" : "UTF-16LE", bytes, "?", 2);
}

}  // namespace kelvarn
