#include "json/json.h"

#include <gtest/gtest.h>

#include <string>

namespace kelvarn {
namespace {

template <class T>
bool Holds(const Value& v, T expected) {
  return std::holds_alternative<T>(v) && std::get<T>(v) == expected;
}

const Text kKeyword = Utf8ToGbk("关键字");
const Text kLevel = Utf8ToGbk("现行级别");

TEST(JsonParseTest, ResultsAndHeldValue) {
  JSON v;
  EXPECT_TRUE(v.Parse("[]"));
  EXPECT_FALSE(v.HoldsNothing());
  EXPECT_EQ(0, v.GetLength());
  EXPECT_TRUE(v.GetItem(0).HoldsNothing());

  EXPECT_TRUE(v.Parse("null"));
  EXPECT_TRUE(v.HoldsNothing());
  EXPECT_FALSE(v.Parse("{\"a\":"));
  EXPECT_TRUE(v.HoldsNothing());
  EXPECT_FALSE(v.Parse("nonsense"));
  EXPECT_FALSE(v.Parse(""));

  // Non-strict: single quotes and comments; anything after the value is ignored.
  EXPECT_TRUE(v.Parse("/* c */ {'a': 1 // x\n}"));
  EXPECT_TRUE(Holds(v.GetMember("a"), std::int32_t{1}));
  EXPECT_TRUE(v.Parse(std::string("[1]\0[1,2]", 9)));
  EXPECT_EQ(1, v.GetLength());
}

TEST(JsonParseTest, NestingDepthIsLimitedTo32Levels) {
  JSON v;
  EXPECT_TRUE(v.Parse(std::string(32, '[') + std::string(32, ']')));
  EXPECT_FALSE(v.Parse(std::string(33, '[') + std::string(33, ']')));
  EXPECT_TRUE(v.HoldsNothing());
}

TEST(JsonParseTest, IntegerLiteralsSplitByRange) {
  JSON v;
  ASSERT_TRUE(
      v.Parse("{\"a\":7,\"b\":-5,\"c\":2147483647,\"d\":2147483646,\"e\":0,\"f\":2.0,\"g\":1e2,"
              "\"h\":9223372036854775807,\"i\":\"s\",\"j\":true,\"k\":null,\"l\":{},\"m\":[]}"));
  EXPECT_TRUE(Holds(v.GetMember("a"), std::int32_t{7}));
  EXPECT_TRUE(Holds(v.GetMember("b"), std::int64_t{-5}));
  EXPECT_TRUE(Holds(v.GetMember("c"), std::int64_t{2147483647}));
  EXPECT_TRUE(Holds(v.GetMember("d"), std::int32_t{2147483646}));
  EXPECT_TRUE(Holds(v.GetMember("e"), std::int32_t{0}));
  EXPECT_TRUE(Holds(v.GetMember("f"), 2.0));
  EXPECT_TRUE(Holds(v.GetMember("g"), 100.0));
  EXPECT_TRUE(Holds(v.GetMember("h"), std::int64_t{9223372036854775807}));
  EXPECT_TRUE(Holds(v.GetMember("i"), Text("s")));
  EXPECT_TRUE(Holds(v.GetMember("j"), true));
  for (const char* key : {"k", "l", "m", "missing"}) EXPECT_TRUE(Holds(v.GetMember(key), std::int32_t{0})) << key;
}

TEST(JsonParseTest, DateAndByteLiteralsOutsideStrings) {
  JSON v;
  ASSERT_TRUE(
      v.Parse("{\"d\": #Sun, 06 Nov 1994 08:49:37 GMT#, \"b\": <aGk=>, \"s\": \"#not a date#\","
              " 'q': '<x>', \"e\": <>}"));
  const Value date = v.GetMember("d");
  ASSERT_TRUE(std::holds_alternative<DateTime>(date));
  const CalendarFields f = ToCalendar(std::get<DateTime>(date));
  EXPECT_EQ((CalendarFields{1994, 11, 0, 6, 8, 49, 37, 0}), f);
  EXPECT_TRUE(Holds(v.GetMember("b"), ByteArray{'h', 'i'}));
  EXPECT_TRUE(Holds(v.GetMember("s"), Text("#not a date#")));
  EXPECT_TRUE(Holds(v.GetMember("q"), Text("<x>")));
  EXPECT_TRUE(Holds(v.GetMember("e"), ByteArray{}));

  ASSERT_TRUE(
      v.Parse("{\"rfc850\": #Sunday, 06-Nov-94 08:49:37 GMT#, \"asctime\": #Sun Nov  6 08:49:37 1994#,"
              " \"spaced\": <a G\nk=>}"));
  EXPECT_TRUE(Holds(v.GetMember("rfc850"), std::get<DateTime>(date)));
  EXPECT_TRUE(Holds(v.GetMember("asctime"), std::get<DateTime>(date)));
  EXPECT_TRUE(Holds(v.GetMember("spaced"), ByteArray{'h', 'i'}));  // characters outside the alphabet skipped
  EXPECT_FALSE(v.Parse("[#not a date#]"));
  EXPECT_FALSE(v.Parse("[#Sun, 31 Feb 1994 08:49:37 GMT#]"));
  EXPECT_FALSE(v.Parse("[<unclosed]"));
  EXPECT_FALSE(v.Parse("[#unclosed]"));
}

// A member name is a string: a literal or any other token in its place fails
// the parse rather than leaving a made-up name behind.
TEST(JsonParseTest, MemberNamesMustBeStrings) {
  JSON v;
  for (const char* text : {"{#Sun, 06 Nov 1994 08:49:37 GMT#: 1}", "{<aGk=>: 1}", "[{\"a\": {\"b\": 1, <>: 2}}]",
                           "{1: 2}", "{-1: 2}", "{true: 1}", "{null: 1}", "{[]: 1}", "{{}: 1}", "{a: 1}"}) {
    v.Parse("[]");
    EXPECT_FALSE(v.Parse(text)) << text;
    EXPECT_TRUE(v.HoldsNothing()) << text;
  }
  ASSERT_TRUE(v.Parse("{\"#x#\": <aGk=>, '<y>': #Sun Nov  6 08:49:37 1994#}"));
  EXPECT_EQ((TextArray{"#x#", "<y>"}), v.MemberNames());
}

// Texts end at their first zero byte, so an escaped zero ends a string (and a
// name) where it stands; byte blocks keep theirs.
TEST(JsonParseTest, EscapedZeroEndsTheString) {
  JSON v;
  ASSERT_TRUE(v.Parse(R"({"a": "x\u0000y", "b": "\u0000", "k\u0000z": 1, "c": <eAB5>})"));
  EXPECT_TRUE(Holds(v.GetMember("a"), Text("x")));
  EXPECT_EQ(Text("x"), ToText(v.GetMember("a")));
  EXPECT_TRUE(Holds(v.GetMember("b"), Text()));
  EXPECT_EQ((TextArray{"a", "b", "k", "c"}), v.MemberNames());
  EXPECT_TRUE(Holds(v.GetMember("c"), ByteArray{'x', 0, 'y'}));
  JSON copy;
  copy.SetMember("a", v.GetMember("a"));
  EXPECT_TRUE(Holds(copy.GetMember("a"), Text("x")));
}

TEST(JsonMemberTest, SetAndGetKeepTheKind) {
  JSON record;
  ASSERT_TRUE(record.Parse("{}"));
  EXPECT_TRUE(record.SetMember(kKeyword, Text("abc")));
  EXPECT_TRUE(record.SetMember(kLevel, 1));
  EXPECT_TRUE(Holds(record.GetMember(kLevel), std::int32_t{1}));
  record.SetMember(kLevel, 2.0);
  EXPECT_TRUE(Holds(record.GetMember(kLevel), 2.0));
  record.SetMember("long", std::int64_t{5});
  EXPECT_TRUE(Holds(record.GetMember("long"), std::int64_t{5}));
  record.SetMember("byte", std::uint8_t{255});
  EXPECT_TRUE(Holds(record.GetMember("byte"), std::int32_t{255}));
  record.SetMember("short", std::int16_t{-3});
  EXPECT_TRUE(Holds(record.GetMember("short"), std::int32_t{-3}));
  record.SetMember("float", 0.5f);
  EXPECT_TRUE(Holds(record.GetMember("float"), 0.5));
  record.SetMember("bool", false);
  EXPECT_TRUE(Holds(record.GetMember("bool"), false));
  record.SetMember("bytes", ByteArray{0, 1, 0});
  EXPECT_TRUE(Holds(record.GetMember("bytes"), ByteArray{0, 1, 0}));
  record.SetMember("date", DateTime{36526.5});
  EXPECT_TRUE(Holds(record.GetMember("date"), DateTime{36526.5}));
  record.SetMember("empty", Text());
  EXPECT_TRUE(Holds(record.GetMember("empty"), Text()));
  record.SetMember("cut", Text("ab\0cd", 5));
  EXPECT_TRUE(Holds(record.GetMember("cut"), Text("ab")));
  record.SetMember("nothing", Value{});
  record.SetMember("array", ArrayOf<std::int32_t>{{1}});
  EXPECT_TRUE(Holds(record.GetMember("nothing"), std::int32_t{0}));
  EXPECT_TRUE(Holds(record.GetMember("array"), std::int32_t{0}));
  EXPECT_TRUE(Holds(record.GetMember(kKeyword), Text("abc")));
}

TEST(JsonMemberTest, StringsComeBackAsFreshCopies) {
  JSON record;
  record.SetMember("k", Text("abc"));
  Value copy = record.GetMember("k");
  std::get<Text>(copy)[0] = 'X';
  EXPECT_TRUE(Holds(record.GetMember("k"), Text("abc")));
}

TEST(JsonMemberTest, SetMemberReplacesOtherKindsAndMovesReplacedKeysLast) {
  JSON v;
  ASSERT_TRUE(v.Parse("[1,2]"));
  v.SetMember("a", 1);
  EXPECT_EQ(0, v.GetLength());
  EXPECT_TRUE(Holds(v.GetMember("a"), std::int32_t{1}));

  v.SetMember("b", 2);
  v.SetMember("a", 3);
  EXPECT_EQ((TextArray{"b", "a"}), v.MemberNames());
  EXPECT_TRUE(Holds(v.GetMember("a"), std::int32_t{3}));
}

// New objects start with a small member table that grows as members arrive;
// every member must survive the growth, deletions and replacements.
TEST(JsonMemberTest, ObjectsGrowFromEmptyWithoutLosingMembers) {
  JSON v;
  ASSERT_TRUE(v.Parse("{}"));
  TextArray names;
  for (int i = 0; i < 100; ++i) {
    names.push_back("m" + std::to_string(i));
    v.SetMember(names.back(), i);
    if (i % 7 == 0) {
      v.SetMember("m0", -i);  // replaced: moves last
      std::erase(names, "m0");
      names.push_back("m0");
    }
  }
  EXPECT_EQ(names, v.MemberNames());
  for (int i = 1; i < 100; ++i) {
    EXPECT_TRUE(Holds(v.GetMember("m" + std::to_string(i)), std::int32_t{i})) << i;
  }
  EXPECT_TRUE(Holds(v.GetMember("m0"), std::int32_t{-98}));
}

// A cycle would never be freed: the sanitizer build's leak check catches it.
TEST(JsonMemberTest, StoringAnObjectIntoItselfCopiesOneLevel) {
  JSON v;
  v.SetMember("x", 1);
  v.SetMember("self", v);
  EXPECT_EQ((TextArray{"x", "self"}), v.MemberNames());
  EXPECT_TRUE(Holds(v.GetMember("self"), std::int32_t{0}));  // objects read as 0
  JSON list;
  list.Append(v, v);
  EXPECT_EQ(2, list.GetLength());
  EXPECT_EQ((TextArray{"x", "self"}), list.GetItem(1).MemberNames());
}

TEST(JsonArrayTest, AppendKeepsRecordsAliveAndCopiesItselfOneLevel) {
  JSON list;
  ASSERT_TRUE(list.Parse("[]"));
  {
    JSON record;
    record.Parse("{}");
    record.SetMember(kKeyword, Text("seed"));
    record.SetMember(kLevel, 1);
    list.Append(record);
  }
  ASSERT_EQ(1, list.GetLength());
  JSON item = list.GetItem(0);
  EXPECT_TRUE(Holds(item.GetMember(kKeyword), Text("seed")));
  EXPECT_TRUE(Holds(item.GetMember(kLevel), std::int32_t{1}));

  list.Append(list);
  ASSERT_EQ(2, list.GetLength());
  JSON copy = list.GetItem(1);
  EXPECT_EQ(1, copy.GetLength());  // the array as it was, not a cycle
  EXPECT_TRUE(Holds(copy.GetItem(0).GetMember(kKeyword), Text("seed")));

  list.Append(1, Text("two"), JSON(), std::int64_t{3});
  EXPECT_EQ(6, list.GetLength());
  EXPECT_TRUE(list.GetItem(4).HoldsNothing());  // null element
  EXPECT_TRUE(list.GetItem(-1).HoldsNothing());
  EXPECT_TRUE(list.GetItem(6).HoldsNothing());
}

TEST(JsonArrayTest, AppendMakesAnArrayEvenWithNoValues) {
  JSON v;
  v.SetMember("a", 1);
  v.Append();
  EXPECT_EQ(0, v.GetLength());
  EXPECT_TRUE(Holds(v.GetMember("a"), std::int32_t{0}));
  EXPECT_FALSE(v.HoldsNothing());
}

TEST(JsonArrayTest, CopiesShareTheValue) {
  JSON a;
  a.Parse("[]");
  JSON b = a;
  b.Append(1);
  EXPECT_EQ(1, a.GetLength());
  JSON c = std::move(b);
  EXPECT_TRUE(b.HoldsNothing());  // NOLINT(bugprone-use-after-move): moved-from holds nothing
  c.Append(2);
  EXPECT_EQ(2, a.GetLength());
}

}  // namespace
}  // namespace kelvarn
