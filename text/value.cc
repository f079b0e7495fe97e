#include "text/value.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <type_traits>

namespace kelvarn {
namespace {

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

// Full-width digits, signs and letters become ASCII so that numbers typed
// with a Chinese input method still read as numbers.
Text FoldFullWidth(std::string_view text) {
  Text out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80 || i + 1 >= text.size()) {
      out.push_back(text[i]);
      continue;
    }
    const auto trail = static_cast<unsigned char>(text[i + 1]);
    ++i;
    if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE) {
      out.push_back(static_cast<char>(trail - 0x80));
    } else if (lead == 0xA1 && trail == 0xA1) {
      out.push_back(' ');
    } else if (lead == 0xA1 && trail == 0xAB) {
      out.push_back('~');
    } else if (lead == 0xA1 && (trail == 0xEE || trail == 0xEF)) {
      out.push_back('*');
    } else {
      out.push_back(static_cast<char>(lead));
      out.push_back(static_cast<char>(trail));
    }
  }
  return out;
}

// The low 32 bits of the 64-bit accumulation are the 32-bit one's.
std::int32_t ParseInteger(std::string_view raw) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(ParseDecimal(FoldFullWidth(raw))));
}

std::int32_t Truncate(double v) {
  if (!(v > -2147483649.0 && v < 2147483648.0)) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(v);
}

Text Format(const char* format, auto... args) {
  char buffer[64];
  const int n = std::snprintf(buffer, sizeof buffer, format, args...);
  return Text(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
}

// Day counts since 1970-01-01 to and from the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

// "年", "月", "日", "时", "分", "秒" in GBK.
constexpr const char* kYear = "\xC4\xEA";
constexpr const char* kMonth = "\xD4\xC2";
constexpr const char* kDay = "\xC8\xD5";
constexpr const char* kHour = "\xCA\xB1";
constexpr const char* kMinute = "\xB7\xD6";
constexpr const char* kSecond = "\xC3\xEB";

Text DateText(DateTime date) {
  const CalendarFields f = ToCalendar(date);
  Text out = Format("%d", f.year) + kYear + Format("%d", f.month) + kMonth + Format("%d", f.day) + kDay;
  if (f.second != 0) {
    return out + Format("%d", f.hour) + kHour + Format("%d", f.minute) + kMinute + Format("%d", f.second) + kSecond;
  }
  if (f.minute != 0) return out + Format("%d", f.hour) + kHour + Format("%d", f.minute) + kMinute;
  if (f.hour != 0) return out + Format("%d", f.hour) + kHour;
  return out;
}

template <class T>
void AppendLittleEndian(ByteArray& out, T v) {
  const std::size_t old = out.size();
  out.resize(old + sizeof(T));
  std::memcpy(out.data() + old, &v, sizeof(T));  // this port runs on little-endian machines only
}

template <class T>
ByteArray ArrayBytes(const ArrayOf<T>& array) {
  ByteArray out;
  out.reserve(array.items.size() * sizeof(T));
  for (T v : array.items) AppendLittleEndian(out, v);
  return out;
}

Text UpToZero(const ByteArray& bytes) {
  if (bytes.empty()) return {};
  const auto* begin = reinterpret_cast<const char*>(bytes.data());
  const void* zero = std::memchr(begin, 0, bytes.size());
  return Text(begin, zero ? static_cast<const char*>(zero) - begin : bytes.size());
}

constexpr std::int64_t kOleEpoch = -25569;  // 1899-12-30 in days since 1970-01-01

}  // namespace

CalendarFields ToCalendar(DateTime date) {
  double days = std::isnan(date.days) ? 0 : std::clamp(date.days, -657434.0, 2958465.0);
  double whole = std::trunc(days);
  auto seconds = static_cast<std::int64_t>(std::llround(std::fabs(days - whole) * 86400.0));
  if (seconds >= 86400) {  // rounded up to the next midnight
    seconds -= 86400;
    whole += 1;
  }
  const auto day = static_cast<std::int64_t>(whole) + kOleEpoch;
  CalendarFields f;
  CivilFromDays(day, f.year, f.month, f.day);
  f.dayOfWeek = static_cast<int>(((day % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  f.hour = static_cast<int>(seconds / 3600);
  f.minute = static_cast<int>(seconds / 60 % 60);
  f.second = static_cast<int>(seconds % 60);
  f.millisecond = 0;
  return f;
}

DateTime FromCalendar(const CalendarFields& f) {
  // Normalise the month first so that DaysFromCivil sees 1..12.
  std::int64_t months = std::int64_t{f.year} * 12 + (f.month - 1);
  const std::int64_t year = months >= 0 ? months / 12 : (months - 11) / 12;
  const auto month = static_cast<unsigned>(months - year * 12 + 1);
  const std::int64_t day = DaysFromCivil(year, month, 1) + (f.day - 1) - kOleEpoch;
  const double fraction = (f.hour * 3600.0 + f.minute * 60.0 + f.second + f.millisecond / 1000.0) / 86400.0;
  const double value = static_cast<double>(day) + fraction;
  // Before 1899-12-30 the whole part counts back while the fraction still
  // counts forward from midnight.
  if (day < 0 && fraction > 0) {
    const double whole = std::floor(value);
    return {whole - (value - whole)};
  }
  return {value};
}

std::int64_t ParseDecimal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::uint64_t value = 0;  // unsigned: the accumulation wraps by design
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) value = value * 10u + (text[i] - '0');
  return static_cast<std::int64_t>(negative ? 0u - value : value);
}

std::int32_t ToInteger(const Value& value) {
  return std::visit(Overloaded{
                        [](const Text& t) { return ParseInteger(t); },
                        [](bool b) -> std::int32_t { return b ? 1 : 0; },
                        [](std::uint8_t v) -> std::int32_t { return v; },
                        [](std::int16_t v) -> std::int32_t { return v; },
                        [](std::int32_t v) { return v; },
                        [](std::int64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v)); },
                        [](float v) { return Truncate(v); },
                        [](double v) { return Truncate(v); },
                        [](const auto&) -> std::int32_t { return 0; },
                    },
                    value);
}

Text ToText(const Value& value) {
  return std::visit(Overloaded{
                        [](const Text& t) { return t; },
                        [](bool b) { return Text(b ? "\xD5\xE6" : "\xBC\xD9"); },  // 真, 假
                        [](std::uint8_t v) { return Format("%u", unsigned{v}); },
                        [](std::int16_t v) { return Format("%d", int{v}); },
                        [](std::int32_t v) { return Format("%d", v); },
                        [](std::int64_t v) { return Format("%lld", static_cast<long long>(v)); },
                        [](float v) { return Format("%.6g", static_cast<double>(v)); },
                        [](double v) { return Format("%.13g", v); },
                        [](DateTime d) { return DateText(d); },
                        [](const ByteArray& b) { return UpToZero(b); },
                        []<class T>(const ArrayOf<T>& a) { return UpToZero(ArrayBytes(a)); },
                        [](std::monostate) { return Text(); },
                    },
                    value);
}

ByteArray ToBytes(const Value& value) {
  return std::visit(Overloaded{
                        [](const Text& t) {
    return ByteArray(t.begin(), t.end()); },
                        [](const ByteArray& b) {
    return b; },
                        [](bool b) {
    ByteArray out;
    AppendLittleEndian<std::int32_t>(out, b ? 1 : 0);
    return out;
                        },
                        [](DateTime d) {
    ByteArray out;
    AppendLittleEndian(out, d.days);
    return out;
                        },
                        []<class T>(const ArrayOf<T>& a) {
    return ArrayBytes(a); },
                        [](std::monostate) {
    return ByteArray(); },
                        []<class T>(T v) requires std::is_arithmetic_v<T> {
                          ByteArray out;
                          AppendLittleEndian(out, v);
                          return out;
}
,
}  // namespace kelvarn
,
                    value);
}

}  // namespace kelvarn
