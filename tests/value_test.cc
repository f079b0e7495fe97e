#include "text/value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kelvarn {
namespace {

TEST(ToIntegerTest, TextsReadAsDecimalWithWrapAround) {
  EXPECT_EQ(1, ToInteger(Text("4294967297")));                // 2^32 + 1
  EXPECT_EQ(-2147483647 - 1, ToInteger(Text("2147483648")));  // 2^31
  EXPECT_EQ(42, ToInteger(Text(" 42abc")));
  EXPECT_EQ(42, ToInteger(Text("\t\r\n+42")));
  EXPECT_EQ(-7, ToInteger(Text("-7")));
  EXPECT_EQ(0, ToInteger(Text("abc")));
  EXPECT_EQ(0, ToInteger(Text("")));
  EXPECT_EQ(0, ToInteger(Text("- 5")));
}

TEST(ToIntegerTest, FullWidthFormsFoldToAscii) {
  EXPECT_EQ(123, ToInteger(Utf8ToGbk("１２３")));
  EXPECT_EQ(-45, ToInteger(Utf8ToGbk("　－４５")));  // ideographic space, full-width minus
  EXPECT_EQ(20, ToInteger(Utf8ToGbk("２0线程")));
  EXPECT_EQ(0, ToInteger(Utf8ToGbk("二十")));
}

TEST(ToIntegerTest, OtherKinds) {
  EXPECT_EQ(1, ToInteger(true));
  EXPECT_EQ(0, ToInteger(false));
  EXPECT_EQ(255, ToInteger(std::uint8_t{255}));
  EXPECT_EQ(-2, ToInteger(std::int16_t{-2}));
  EXPECT_EQ(1, ToInteger(std::int64_t{0x100000001}));
  EXPECT_EQ(-1, ToInteger(std::int64_t{0xFFFFFFFF}));
  EXPECT_EQ(3, ToInteger(3.9));
  EXPECT_EQ(-3, ToInteger(-3.9));
  EXPECT_EQ(2, ToInteger(2.5f));
  EXPECT_EQ(-2147483647 - 1, ToInteger(1e12));
  EXPECT_EQ(-2147483647 - 1, ToInteger(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_EQ(0, ToInteger(DateTime{5.0}));
  EXPECT_EQ(0, ToInteger(ByteArray{1, 2}));
  EXPECT_EQ(0, ToInteger(ArrayOf<std::int32_t>{{7}}));
  EXPECT_EQ(0, ToInteger(Value{}));
}

TEST(ToTextTest, NumbersAndBooleans) {
  EXPECT_EQ("7", ToText(7));
  EXPECT_EQ("-7", ToText(std::int16_t{-7}));
  EXPECT_EQ("200", ToText(std::uint8_t{200}));
  EXPECT_EQ("-9000000000", ToText(std::int64_t{-9000000000}));
  EXPECT_EQ("0.1", ToText(0.1));
  EXPECT_EQ("0.1", ToText(0.1f));  // widened, then six digits
  EXPECT_EQ("1e+20", ToText(1e20f));
  EXPECT_EQ("3.14159265359", ToText(3.14159265358979));
  EXPECT_EQ("1234567890123", ToText(1234567890123.0));
  EXPECT_EQ(Utf8ToGbk("真"), ToText(true));
  EXPECT_EQ(Utf8ToGbk("假"), ToText(false));
  EXPECT_EQ("", ToText(Value{}));
  EXPECT_EQ("abc", ToText(Text("abc")));
}

TEST(ToTextTest, DatesShowTheirLeastSignificantNonZeroPart) {
  EXPECT_EQ(Utf8ToGbk("1899年12月30日"), ToText(DateTime{0}));
  EXPECT_EQ(Utf8ToGbk("2000年1月1日"), ToText(DateTime{36526}));
  EXPECT_EQ(Utf8ToGbk("2000年1月1日12时"), ToText(DateTime{36526.5}));
  EXPECT_EQ(Utf8ToGbk("2000年1月1日6时30分"), ToText(DateTime{36526.0 + 6.5 / 24}));
  EXPECT_EQ(Utf8ToGbk("2000年1月1日0时0分1秒"), ToText(DateTime{36526.0 + 1.0 / 86400}));
  EXPECT_EQ(Utf8ToGbk("1899年12月29日6时"), ToText(DateTime{-1.25}));
  EXPECT_EQ(Utf8ToGbk("100年1月1日"), ToText(DateTime{-1e9}));                        // clamped
  EXPECT_EQ(Utf8ToGbk("9999年12月31日"), ToText(DateTime{1e9}));                      // clamped
  EXPECT_EQ(Utf8ToGbk("2000年1月2日"), ToText(DateTime{36526.0 + 86399.9 / 86400}));  // rounds to midnight
}

TEST(ToTextTest, ByteArraysStopAtTheFirstZero) {
  EXPECT_EQ("ab", ToText(ByteArray{'a', 'b', 0, 'c'}));
  EXPECT_EQ("ab", ToText(ByteArray{'a', 'b'}));
  EXPECT_EQ("AB", ToText(ArrayOf<std::uint8_t>{{'A', 'B'}}));
  EXPECT_EQ("A", ToText(ArrayOf<std::int32_t>{{'A', 'B'}}));  // 41 00 00 00 ...
  EXPECT_EQ("", ToText(ByteArray{}));
}

TEST(ToBytesTest, LittleEndianInNaturalSizes) {
  EXPECT_EQ(ByteArray{}, ToBytes(Text()));
  EXPECT_EQ(0, BytesLength(ToBytes(Text())));
  EXPECT_EQ((ByteArray{'h', 'i'}), ToBytes(Text("hi")));
  EXPECT_EQ((ByteArray{0x34, 0x12}), ToBytes(std::int16_t{0x1234}));
  EXPECT_EQ((ByteArray{0x78, 0x56, 0x34, 0x12}), ToBytes(0x12345678));
  EXPECT_EQ((ByteArray{1, 0, 0, 0}), ToBytes(true));
  EXPECT_EQ((ByteArray{0xFF}), ToBytes(std::uint8_t{0xFF}));
  EXPECT_EQ((ByteArray{0, 0, 0x80, 0x3F}), ToBytes(1.0f));
  EXPECT_EQ((ByteArray{0, 0, 0, 0, 0, 0, 0xF0, 0x3F}), ToBytes(1.0));
  EXPECT_EQ((ByteArray{0, 0, 0, 0, 0, 0, 0xF0, 0x3F}), ToBytes(DateTime{1.0}));
  EXPECT_EQ(8u, ToBytes(std::int64_t{-1}).size());
  EXPECT_EQ((ByteArray{1, 0, 2, 0}), ToBytes(ArrayOf<std::int16_t>{{1, 2}}));
  EXPECT_EQ((ByteArray{9, 0}), ToBytes(ByteArray{9, 0}));
  EXPECT_EQ(ByteArray{}, ToBytes(Value{}));
}

}  // namespace
}  // namespace kelvarn
