// The tagged application value and its conversions.
//
// A Value holds one of the application's kinds: nothing, boolean, byte,
// short, integer, long integer, float, double, date-time, text, byte array, or
// an array of one of the six numeric kinds. Dialog input and JSON members use
// it. The conversions are pure, never fail and are safe from any thread.
#pragma once

#include <cstdint>
#include <variant>
#include <vector>

#include "text/text.h"

namespace kelvarn {

// Days since 1899-12-30 (the OLE automation date): the fraction is the time
// of day; for negative values the fraction still counts forward from midnight.
struct DateTime {
  double days = 0;
  bool operator==(const DateTime&) const = default;
};

template <class T>
struct ArrayOf {
  std::vector<T> items;
  bool operator==(const ArrayOf&) const = default;
};

using Value = std::variant<std::monostate,  // nothing
                           bool, std::uint8_t, std::int16_t, std::int32_t, std::int64_t, float, double, DateTime, Text,
                           ByteArray, ArrayOf<std::uint8_t>, ArrayOf<std::int16_t>, ArrayOf<std::int32_t>,
                           ArrayOf<std::int64_t>, ArrayOf<float>, ArrayOf<double>>;

// A date-time broken down into calendar fields (the proleptic Gregorian
// calendar); dayOfWeek counts from Sunday = 0.
struct CalendarFields {
  int year = 1899, month = 12, dayOfWeek = 6, day = 30, hour = 0, minute = 0, second = 0, millisecond = 0;
  bool operator==(const CalendarFields&) const = default;
};

// Fields of a date-time, rounded to the second; dates are clamped to
// 0100-01-01 .. 9999-12-31 first.
CalendarFields ToCalendar(DateTime date);

// The date-time of calendar fields (dayOfWeek is ignored). Fields out of their
// ranges carry over (month 13 is January of the next year).
DateTime FromCalendar(const CalendarFields& fields);

// Integer value. Texts: full-width forms folded to ASCII (full-width digits,
// signs and letters, the ideographic space, '~' and '*'), then leading white
// space, an optional sign and decimal digits up to the first non-digit,
// accumulated with 32-bit wrap-around; no digits give 0. Long integers keep
// their low 32 bits; float and double truncate toward zero (NaN and values
// outside the 32-bit range give INT32_MIN, as the processor's conversion
// does); date-time, byte arrays, arrays and nothing give 0.
std::int32_t ToInteger(const Value& value);

// Leading white space, an optional sign, then decimal digits up to the first
// non-digit, accumulated with 64-bit wrap-around; no digits give 0. ASCII
// only: ToInteger folds full-width forms first.
std::int64_t ParseDecimal(std::string_view text);

// Text form: decimal for integers, "%.6g" for float, "%.13g" for double,
// "真"/"假" for booleans, "Y年M月D日" plus "H时M分S秒" / "H时M分" / "H时" as the
// time's least significant non-zero part demands for date-times (clamped to
// years 100..9999). Byte arrays and numeric arrays give their bytes up to the
// first zero byte; nothing gives the empty text.
Text ToText(const Value& value);

// Bytes: a text's bytes, a copy of a byte array, scalars little-endian in
// their natural size (booleans as 4 bytes), numeric arrays element by element;
// nothing gives the empty array.
ByteArray ToBytes(const Value& value);

}  // namespace kelvarn
