// GBK bytes to and from Qt strings: only at the screen.
#pragma once

#include <QString>
#include <string_view>

#include "text/text.h"

namespace kelvarn {

QString FromGbk(std::string_view gbk);
Text ToGbk(const QString& text);

}  // namespace kelvarn
