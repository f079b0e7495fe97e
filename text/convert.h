// The character-set conversions behind text.h's GbkToUtf8 and Utf8ToGbk and
// encoding.h's ToGbk, one implementation per operating system (posix/: glibc
// iconv; win32/: code page 936 and GB18030's own tables). Internal to text/.
#pragma once

#include <string_view>

#include "text/text.h"

namespace kelvarn::detail {

// UTF-16 bytes without a byte-order mark, in the order given, as GB18030.
// Each unit that is not part of a character (a lone surrogate, an odd last
// byte) becomes "?", and the rest stays in line: the input steps by two bytes.
Text Utf16ToGbk(std::string_view bytes, bool bigEndian);

}  // namespace kelvarn::detail
