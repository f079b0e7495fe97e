#include "text/encoding.h"

#include <uchardet.h>  // the .pc file names its own directory: Debian and the cross build agree

#include <memory>
#include <string>

#include "text/convert.h"

namespace kelvarn {
namespace {

// The multi-byte characters of strict UTF-8 (no overlong forms, surrogates or
// values past U+10FFFF), or -1 at the first invalid sequence. A sequence cut
// off by the end of the bytes counts: they may be a file's first part.
long Utf8Characters(std::string_view bytes) {
  long characters = 0;
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  for (std::size_t i = 0; i < bytes.size();) {
    const unsigned char lead = at(i);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return -1;
    }
    for (std::size_t k = 1; k < length && i + k < bytes.size(); ++k) {
      const unsigned char b = at(i + k);
      if (k == 1 ? (b < low || b > high) : (b < 0x80 || b > 0xBF)) return -1;
    }
    ++characters;
    i += length;
  }
  return characters;
}

LineEnds FindLineEnds(std::string_view bytes) {
  bool crLf = false, lf = false;
  for (std::size_t p = bytes.find('\n'); p != std::string_view::npos; p = bytes.find('\n', p + 1)) {
    (p > 0 && bytes[p - 1] == '\r' ? crLf : lf) = true;
  }
  return crLf && lf ? LineEnds::kMixed : crLf ? LineEnds::kCrLf : lf ? LineEnds::kLf : LineEnds::kNone;
}

// Asked of the first 64 KiB only: its answer is settled long before, and a
// whole keyword file may be hundreds of megabytes.
bool UchardetSaysUtf8(std::string_view bytes) {
  const std::unique_ptr<uchardet, decltype(&uchardet_delete)> detector(uchardet_new(), uchardet_delete);
  if (!detector) return false;
  bytes = bytes.substr(0, std::size_t{64} << 10);
  uchardet_handle_data(detector.get(), bytes.data(), bytes.size());
  uchardet_data_end(detector.get());
  const char* charset = uchardet_get_charset(detector.get());
  return charset && std::string_view(charset) == "UTF-8";
}

bool StartsWith(std::string_view bytes, std::string_view prefix) { return bytes.substr(0, prefix.size()) == prefix; }

}  // namespace

Detection DetectEncoding(std::string_view bytes) {
  Detection d;
  if (StartsWith(bytes, "\xFF\xFE")) return {Encoding::kUtf16Le, 2, LineEnds::kNone, false};
  if (StartsWith(bytes, "\xFE\xFF")) return {Encoding::kUtf16Be, 2, LineEnds::kNone, false};
  d.lineEnds = FindLineEnds(bytes);
  if (StartsWith(bytes, "\xEF\xBB\xBF")) {
    d.encoding = Encoding::kUtf8;
    d.bomBytes = 3;
    d.clearlyUtf8 = true;
    return d;
  }
  const long characters = Utf8Characters(bytes);
  if (characters < 0) {
    d.encoding = Encoding::kGb18030;
  } else if (characters > 0) {
    d.encoding = Encoding::kUtf8;
    d.clearlyUtf8 = d.lineEnds == LineEnds::kLf || (characters >= kClearUtf8Characters && UchardetSaysUtf8(bytes));
  }
  return d;
}

Text ToGbk(std::string_view bytes, Encoding from) {
  switch (from) {
    case Encoding::kUtf8:
      if (StartsWith(bytes, "\xEF\xBB\xBF")) bytes.remove_prefix(3);
      return Utf8ToGbk(bytes);
    case Encoding::kUtf16Le:
      if (StartsWith(bytes, "\xFF\xFE")) bytes.remove_prefix(2);
      return detail::Utf16ToGbk(bytes, false);
    case Encoding::kUtf16Be:
      if (StartsWith(bytes, "\xFE\xFF")) bytes.remove_prefix(2);
      return detail::Utf16ToGbk(bytes, true);
    case Encoding::kAscii:
    case Encoding::kGb18030:
      break;
  }
  return Text(bytes);
}

bool LocaleIsUtf8(const char* lcAll, const char* lcCtype, const char* lang) {
  std::string_view locale;
  for (const char* value : {lcAll, lcCtype, lang}) {
    if (value && *value) {
      locale = value;
      break;
    }
  }
  const std::size_t dot = locale.find('.');
  if (dot == std::string_view::npos) return false;
  std::string codeset(locale.substr(dot + 1, locale.find('@', dot) - dot - 1));
  for (char& c : codeset) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
  return codeset == "utf-8" || codeset == "utf8";
}

}  // namespace kelvarn
