#include "text/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <random>
#include <string>
#include <utility>

#include "tests/reference.h"
#include "text/between.h"
#include "text/encoding.h"
#include "text/line_splitter.h"

namespace kelvarn {
namespace {

using Pieces = std::vector<std::string>;

TEST(TextCutTest, LeftRightMidCountBytes) {
  EXPECT_EQ("abc", TextLeft("abc", 5));
  EXPECT_EQ("", TextLeft("abc", 0));
  EXPECT_EQ("", TextLeft("abc", -3));
  EXPECT_EQ("", TextRight("abc", 0));
  EXPECT_EQ("bc", TextRight("abc", 2));
  EXPECT_EQ("\\", TextRight("C:\\dir\\", 1));
  EXPECT_EQ("cd", TextMid("abcdef", 3, 2));
  EXPECT_EQ("ef", TextMid("abcdef", 5, 10));
  EXPECT_EQ("", TextMid("abcdef", 0, 2));
  EXPECT_EQ("", TextMid("abcdef", 7, 1));
  EXPECT_EQ("", TextMid("abcdef", 2, 0));
  EXPECT_EQ("", TextMid("abcdef", -2147483647 - 1, 3));
  // Raw bytes: a double-byte character may be cut in half.
  EXPECT_EQ("\xD5", TextLeft("\xD5\xE6", 1));
  EXPECT_EQ(2, TextLength("\xD5\xE6"));
  EXPECT_EQ(0, TextLength(""));
}

TEST(TextFindTest, PositionsAreOneBasedAndAbsenceIsMinusOne) {
  EXPECT_EQ(3, TextFind("abcabc", "c"));
  EXPECT_EQ(6, TextFind("abcabc", "c", 4));
  EXPECT_EQ(3, TextFind("abcabc", "c", 0));
  EXPECT_EQ(3, TextFind("abcabc", "c", -5));
  EXPECT_EQ(-1, TextFind("abcabc", "c", 7));
  EXPECT_EQ(-1, TextFind("abc", "x"));
  EXPECT_EQ(-1, TextFind("ab", "abc"));
}

TEST(TextFindTest, EmptySoughtTextGivesOneUnlessTheWindowIsEmpty) {
  EXPECT_EQ(1, TextFind("abc", ""));
  EXPECT_EQ(1, TextFind("abc", "", 3));  // 1, not the start position
  EXPECT_EQ(-1, TextFind("abc", "", 4));
  EXPECT_EQ(-1, TextFind("", ""));
  EXPECT_EQ(-1, TextFind("", "", 0));
}

TEST(TextFindTest, CaseFlagFoldsAsciiLettersOnly) {
  EXPECT_EQ(3, TextFind("x </a> y", "</A>", std::nullopt, true));
  EXPECT_EQ(-1, TextFind("x </a> y", "</A>"));
  EXPECT_EQ(-1, TextFind("x </a> y", "</A>", std::nullopt, false));
  // Trail bytes fold like any byte: 0xB0 'A' matches 0xB0 'a' with the flag.
  EXPECT_EQ(1, TextFind("\xB0"
                        "a",
                        "\xB0"
                        "A",
                        std::nullopt, true));
  EXPECT_EQ(-1, TextFind("\xC0", "\xE0", std::nullopt, true));  // no folding above ASCII
}

TEST(TextFindTest, MatchesNeverBeginOnATrailByte) {
  // 0xB0 0x61 is one character: the 'a' inside it is not found.
  EXPECT_EQ(-1, TextFind("\xB0"
                         "ab",
                         "ab"));
  EXPECT_EQ(3, TextFind("\xB0"
                        "a"
                        "ab",
                        "ab"));
  // A start position inside a character re-synchronises from there.
  EXPECT_EQ(2, TextFind("\xB0"
                        "ab",
                        "ab", 2));
  // Runs of lead bytes: only even offsets from the last ASCII byte count.
  EXPECT_EQ(4, TextFind("x\xB0\xB1\xB2\xB3\xB4", "\xB2\xB3"));
  EXPECT_EQ(-1, TextFind("x\xB0\xB1\xB2\xB3", "\xB1\xB2"));
  EXPECT_EQ(-1, TextFind("x\xB0\xB1\xB2\xB3\xB4", "\xB3\xB4"));
  EXPECT_EQ(-1, TextFind("\xB0", "\xB0\xB0"));
  // GB18030's four-byte forms (lead, digit, lead, digit) are one character:
  // "𠀀🐍" is 95 32 82 36 94 39 CA 37, and nothing starts at its third or
  // seventh byte, whatever the digits around it.
  const Text four = "x" + Utf8ToGbk("𠀀🐍") + "y";
  EXPECT_EQ(Text("x\x95\x32\x82\x36\x94\x39\xCA\x37y"), four);
  EXPECT_EQ(-1, TextFind(four, "\x82\x36\x94\x39"));
  EXPECT_EQ(-1, TextFind(four, "\xCA\x37"));
  EXPECT_EQ(6, TextFind(four, "\x94\x39\xCA\x37y"));
  EXPECT_EQ((TextArray{"x\x95\x32\x82\x36\x94\x39\xCA\x37y"}), TextSplit(four, "\x36\x94"));
  EXPECT_EQ((TextArray{"x\x95\x32\x82\x36", "y"}), TextSplit(four, "\x94\x39\xCA\x37"));
}

TEST(TextSplitTest, PiecesAndLimits) {
  EXPECT_EQ((Pieces{"a", "", "b"}), TextSplit("a,,b,"));
  EXPECT_EQ((Pieces{"", "a"}), TextSplit(",a"));
  EXPECT_EQ((Pieces{"a", "b"}), TextSplit("a,b,c", ",", 2));
  EXPECT_EQ((Pieces{"abc"}), TextSplit("abc", ""));
  EXPECT_EQ(Pieces{}, TextSplit(""));
  EXPECT_EQ(Pieces{}, TextSplit("a", ",", 0));
  EXPECT_EQ(Pieces{}, TextSplit("a", ",", -1));
  EXPECT_EQ((Pieces{"a"}), TextSplit("a,b", ",", 1));
  EXPECT_EQ((Pieces{"a,b"}), TextSplit("a,b", ";"));
}

TEST(TextSplitTest, ListFilesSplitOnlyAtCrLf) {
  EXPECT_EQ((Pieces{"one", "two\nstill two", " three"}), TextSplit("one\r\ntwo\nstill two\r\n three\r\n", "\r\n"));
  EXPECT_EQ((Pieces{"", "x"}), TextSplit("\r\nx", "\r\n"));
}

TEST(TextSplitTest, DelimitersMatchOnlyAtCharacterBoundaries) {
  // The '|' inside 0x81 0x7C is a trail byte, not a delimiter.
  EXPECT_EQ((Pieces{"\x81|a", "b"}), TextSplit("\x81|a|b", "|"));
  EXPECT_EQ((Pieces{"a\xB0"}), TextSplit("a\xB0", "\xB0\xB0"));
}

TEST(TextTrimTest, LeadingSpacesOnly) {
  EXPECT_EQ("ab ", TrimLeadingSpaces("\xA1\xA1\xA1\xA1"
                                     "ab "));
  EXPECT_EQ("", TrimLeadingSpaces("  \xA1\xA1 "));
  EXPECT_EQ("\tab", TrimLeadingSpaces("\tab"));
  EXPECT_EQ("\xA1", TrimLeadingSpaces(" \xA1"));
  EXPECT_EQ("", TrimLeadingSpaces(""));
}

TEST(TextCharTest, CharTextAndHexText) {
  EXPECT_EQ("h", CharText(104));
  EXPECT_EQ("", CharText(0));
  EXPECT_EQ("", CharText(0x100));
  EXPECT_EQ("A", CharText(0x141));
  EXPECT_EQ("\xFF", CharText(-1));
  EXPECT_EQ("FF", HexText(255));
  EXPECT_EQ("FFFFFFFF", HexText(-1));
  EXPECT_EQ("0", HexText(0));
  EXPECT_EQ("80000000", HexText(-2147483647 - 1));
  EXPECT_EQ(0, BytesLength({}));
  EXPECT_EQ(3, BytesLength({1, 0, 2}));
}

TEST(TextEncodingTest, GbkAndUtf8RoundTripAtTheEdges) {
  EXPECT_EQ("\xD5\xE6\xBC\xD9", Utf8ToGbk("真假"));
  EXPECT_EQ("真假 ok", GbkToUtf8("\xD5\xE6\xBC\xD9 ok"));
  EXPECT_EQ("a\xEF\xBF\xBD", GbkToUtf8("a\xFF"));  // a byte GBK cannot read
  EXPECT_EQ("", GbkToUtf8(""));
  EXPECT_EQ("??A", Utf8ToGbk("\xE4\xB8"
                             "A"));  // each byte of a broken sequence
  // GB18030's own codes, beyond GBK's code page 936, both ways: the euro
  // sign, codes GB18030-2022 moved out of the private use area (one to a
  // supplementary character), four-byte codes at the edges of their ranges.
  for (const auto& [gb, utf8] :
       std::initializer_list<std::pair<std::string, std::string>>{{"\xA2\xE3", "€"},
                                                                  {"\xA6\xD9", "\uFE10"},
                                                                  {"\xFE\x51", "\U00020087"},
                                                                  {"\x81\x30\x81\x30", "\u0080"},
                                                                  {"\x81\x39\xEE\x39", "\u3400"},
                                                                  {"\x84\x31\xA4\x39", "\uFFFF"},
                                                                  {"\x90\x30\x81\x30", "\U00010000"},
                                                                  {"\xE3\x32\x9A\x35", "\U0010FFFF"}}) {
    EXPECT_EQ(utf8, GbkToUtf8(gb)) << utf8;
    EXPECT_EQ(gb, Utf8ToGbk(utf8)) << utf8;
  }
  EXPECT_EQ(
      "\xEF\xBF\xBD"
      "1\xEF\xBF\xBD"
      "0",
      GbkToUtf8("\x84\x31\xA5\x30"));  // past the basic plane's codes
}

// What a keyword or settings file's bytes are, and the GBK text they give.
TEST(TextEncodingTest, DetectionTellsUtf8FromGbk) {
  const std::string utf8 = "关键字挖掘\n长尾词\n";
  Detection d = DetectEncoding(utf8);
  EXPECT_EQ(Encoding::kUtf8, d.encoding);
  EXPECT_EQ(LineEnds::kLf, d.lineEnds);
  EXPECT_TRUE(d.clearlyUtf8);
  EXPECT_EQ(Utf8ToGbk(utf8), ToGbk(utf8, ReadAs(d)));
  d = DetectEncoding(utf8.substr(0, 7));  // a first part, cut inside a character
  EXPECT_EQ(Encoding::kUtf8, d.encoding);

  // The window's own format, GBK with CR LF, is never taken for UTF-8, even
  // when a short text happens to be valid UTF-8 ("一直"), or the classic
  // "联通", whose lead byte only looks like UTF-8.
  for (const char* gbk : {"关键字挖掘\r\n长尾词\r\n", "一直\r\n", "联通"}) {
    d = DetectEncoding(Utf8ToGbk(gbk));
    EXPECT_FALSE(d.clearlyUtf8) << gbk;
    EXPECT_EQ(Utf8ToGbk(gbk), ToGbk(Utf8ToGbk(gbk), ReadAs(d))) << gbk;
  }
  EXPECT_EQ(Encoding::kUtf8, DetectEncoding(Utf8ToGbk("一直\r\n")).encoding);
  EXPECT_EQ(Encoding::kGb18030, DetectEncoding(Utf8ToGbk("联通")).encoding);
  // Short UTF-8 with CR LF is as ambiguous; six characters are not.
  EXPECT_FALSE(DetectEncoding("天气\r\n").clearlyUtf8);
  EXPECT_TRUE(DetectEncoding("天气\r\n关键字挖\r\n").clearlyUtf8);
  EXPECT_EQ(LineEnds::kCrLf, DetectEncoding("天气\r\n").lineEnds);
  EXPECT_EQ(LineEnds::kMixed, DetectEncoding("a\r\nb\n").lineEnds);

  d = DetectEncoding("\xEF\xBB\xBF天气\r\n");
  EXPECT_TRUE(d.clearlyUtf8);
  EXPECT_EQ(Utf8ToGbk("天气\r\n"), ToGbk("\xEF\xBB\xBF天气\r\n", ReadAs(d)));
  const std::string le("\xFF\xFE\x29\x59\x14\x6C\r\0\n\0", 10), be("\xFE\xFF\x59\x29\xD8\x00\x6C\x14", 8);
  EXPECT_EQ(Encoding::kUtf16Le, DetectEncoding(le).encoding);
  EXPECT_EQ(Utf8ToGbk("天气\r\n"), ToGbk(le, ReadAs(DetectEncoding(le))));
  EXPECT_EQ(Utf8ToGbk("天?气"), ToGbk(be, ReadAs(DetectEncoding(be))));  // a lone surrogate, and the rest still in line
  EXPECT_EQ(Encoding::kAscii, DetectEncoding("seo\n").encoding);
  EXPECT_EQ(Encoding::kAscii, DetectEncoding("").encoding);
}

// The terminal's encoding: the first locale variable set decides.
TEST(TextEncodingTest, LocaleIsUtf8ByItsCodeset) {
  EXPECT_TRUE(LocaleIsUtf8(nullptr, nullptr, "C.UTF-8"));
  EXPECT_TRUE(LocaleIsUtf8("", "zh_CN.utf8@pinyin", "zh_CN.GBK"));
  EXPECT_FALSE(LocaleIsUtf8("zh_CN.GB18030", "", "en_US.UTF-8"));
  EXPECT_FALSE(LocaleIsUtf8("C", nullptr, "C.UTF-8"));
  EXPECT_FALSE(LocaleIsUtf8(nullptr, nullptr, nullptr));
  EXPECT_FALSE(LocaleIsUtf8("", "", "en_US.UTF-16"));
}

// Mixed ASCII/GBK inputs drawn from a small alphabet so that matches, trail
// bytes that look like ASCII and runs of lead bytes all come up often.
class RandomTexts {
 public:
  explicit RandomTexts(unsigned seed) : rng_(seed) {}

  std::string Make(std::size_t maxLength) {
    // Digits after lead bytes make GB18030's four-byte forms.
    static constexpr char kBytes[] = {'a', 'A', 'b', '|', '<', '/', '>', '\x81', '\xB0', '\xC4', '\xA1', '\xFE', '3'};
    std::uniform_int_distribution<std::size_t> length(0, maxLength), pick(0, sizeof kBytes - 1);
    std::string s(length(rng_), ' ');
    for (char& c : s) c = kBytes[pick(rng_)];
    return s;
  }
  int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

 private:
  std::mt19937 rng_;
};

TEST(TextRandomizedTest, FindAgreesWithCharacterStepping) {
  RandomTexts random(20261208);
  for (int i = 0; i < 40000; ++i) {
    const std::string text = random.Make(40), sought = random.Make(3);
    const bool fold = random.Int(0, 1) == 1;
    const std::optional<std::int32_t> start =
        random.Int(0, 2) == 0 ? std::nullopt : std::optional<std::int32_t>(random.Int(-1, 42));
    ASSERT_EQ(reference::TextFind(text, sought, start, fold), TextFind(text, sought, start, fold))
        << "text=" << ::testing::PrintToString(text) << " sought=" << ::testing::PrintToString(sought)
        << " start=" << (start ? *start : -99) << " fold=" << fold;
  }
}

TEST(TextRandomizedTest, SplitAgreesWithCharacterStepping) {
  RandomTexts random(7);
  for (int i = 0; i < 40000; ++i) {
    const std::string text = random.Make(40), delimiter = random.Make(2);
    const std::optional<std::int32_t> max =
        random.Int(0, 1) == 0 ? std::nullopt : std::optional<std::int32_t>(random.Int(-1, 5));
    ASSERT_EQ(reference::TextSplit(text, delimiter, max), TextSplit(text, delimiter, max))
        << "text=" << ::testing::PrintToString(text) << " delimiter=" << ::testing::PrintToString(delimiter);
    Pieces each;
    TextSplitEach(text, delimiter, [&](std::string_view piece) { each.emplace_back(piece); });
    ASSERT_EQ(reference::TextSplit(text, delimiter, std::nullopt), each)
        << "text=" << ::testing::PrintToString(text) << " delimiter=" << ::testing::PrintToString(delimiter);
  }
}

// However the bytes of a keyword file arrive, its lines are those of the
// whole: the pieces between zero bytes, split at CR LF on character
// boundaries, or at every LF with a CR before it dropped.
TEST(TextRandomizedTest, LineSplitterGivesTheSameLinesInAnyPieces) {
  RandomTexts random(11);
  static constexpr char kBytes[] = {'a', ' ', '\r', '\n', '\0', '\x81', '\xA1', '5'};
  // A trailing LF gives no empty last line, as a trailing delimiter gives no piece.
  const auto splitAtLf = [](const std::string& text) {
    Pieces lines;
    for (std::size_t start = 0; start < text.size();) {
      const std::size_t end = std::min(text.find('\n', start), text.size());
      std::string line = text.substr(start, end - start);
      if (end < text.size() && !line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(std::move(line));
      start = end + 1;
    }
    return lines;
  };
  for (const LineSplitter::Ends ends : {LineSplitter::Ends::kCrLf, LineSplitter::Ends::kLf}) {
    for (int i = 0; i < 20000; ++i) {
      std::string text(static_cast<std::size_t>(random.Int(0, 40)), ' ');
      for (char& c : text) c = kBytes[random.Int(0, sizeof kBytes - 1)];
      Pieces expected, whole, fed;
      for (std::size_t start = 0; start < text.size();) {
        const std::size_t zero = std::min(text.find('\0', start), text.size());
        const std::string part = text.substr(start, zero - start);
        for (std::string& line :
             ends == LineSplitter::Ends::kLf ? splitAtLf(part) : reference::TextSplit(part, "\r\n")) {
          expected.push_back(std::move(line));
        }
        start = zero + 1;
      }
      LineSplitter::Split(
          text, [&](std::string_view line) { whole.emplace_back(line); }, ends);
      LineSplitter splitter([&](std::string_view line) { fed.emplace_back(line); }, ends);
      for (std::size_t at = 0; at < text.size();) {
        const auto n = static_cast<std::size_t>(random.Int(0, 5));
        splitter.Feed(std::string_view(text).substr(at, n));
        at += n;
      }
      splitter.Finish();
      ASSERT_EQ(expected, whole) << ::testing::PrintToString(text);
      ASSERT_EQ(expected, fed) << ::testing::PrintToString(text);
    }
  }
}

TEST(TextBetweenTest, SingleModeFirstOccurrencesCaseKept) {
  EXPECT_EQ("b", TextBetween("a[b]c[d]", "[", "]"));
  EXPECT_EQ("b]c[d]", TextBetween("a[b]c[d]", "[", ""));
  EXPECT_EQ("a[b", TextBetween("a[b]c[d]", "", "]"));
  EXPECT_EQ("abc", TextBetween("abc", "", ""));
  EXPECT_EQ("", TextBetween("", "", ""));
  EXPECT_EQ("", TextBetween("a[b", "[", "]"));   // no end marker after the start
  EXPECT_EQ("", TextBetween("a[]b", "[", "]"));  // end marker at once
  EXPECT_EQ("", TextBetween("a]b[c", "x", "]"));
  EXPECT_EQ("", TextBetween("a]b", "", "x"));
  EXPECT_EQ("", TextBetween("<B>x</B>", "<b>", "</b>"));
  EXPECT_EQ("b", TextBetween("a[b]", "[", "]", 2, nullptr));  // any mode but 1 is single mode
  EXPECT_EQ("b", TextBetween("a[b]", "[", "]", 0));
}

TEST(TextBetweenTest, AllMatchesModeNestsAndIgnoresCase) {
  Pieces matches{"stale"};
  EXPECT_EQ("", TextBetween("SaSbE", "S", "E", 1, &matches));
  EXPECT_EQ((Pieces{"aSb", "b"}), matches);
  TextBetween("<x>one</X><X>two</x>", "<x>", "</x>", 1, &matches);
  EXPECT_EQ((Pieces{"one", "two"}), matches);
  TextBetween("[a][a]", "[", "]", 1, &matches);
  EXPECT_EQ((Pieces{"a", "a"}), matches);
  TextBetween("[a][b", "[", "]", 1, &matches);
  EXPECT_EQ((Pieces{"a", ""}), matches);  // no end marker after the last start
  TextBetween("no markers", "[", "]", 1, &matches);
  EXPECT_EQ(Pieces{}, matches);
  // The end marker is sought from the start marker's beginning: here it
  // overlaps the start marker, so the match is empty.
  TextBetween("ab-c", "ab", "b", 1, &matches);
  EXPECT_EQ((Pieces{""}), matches);
}

TEST(TextBetweenTest, AllMatchesModeWithAnEmptyMarkerLeavesTheListAlone) {
  Pieces matches{"kept"};
  EXPECT_EQ("", TextBetween("a[b]", "", "]", 1, &matches));
  EXPECT_EQ("", TextBetween("a[b]", "[", "", 1, &matches));
  EXPECT_EQ((Pieces{"kept"}), matches);
}

TEST(TextBetweenRandomizedTest, AllMatchesAgreesWithFreshSearches) {
  std::mt19937 rng(42);
  static constexpr char kBytes[] = {'"', '>', '<', '/', 'a', 'A', 'x', '\xB0', '\x81', '\xC4', '7'};
  const auto make = [&](std::size_t maxLength) {
    std::string s(std::uniform_int_distribution<std::size_t>(0, maxLength)(rng), ' ');
    for (char& c : s) c = kBytes[std::uniform_int_distribution<std::size_t>(0, sizeof kBytes - 1)(rng)];
    return s;
  };
  for (int i = 0; i < 30000; ++i) {
    const std::string text = make(48), start = make(2), end = make(3);
    if (start.empty() || end.empty()) continue;
    Pieces matches;
    TextBetween(text, start, end, 1, &matches);
    ASSERT_EQ(reference::AllBetween(text, start, end), matches)
        << "text=" << ::testing::PrintToString(text) << " start=" << ::testing::PrintToString(start)
        << " end=" << ::testing::PrintToString(end);
  }
}

}  // namespace
}  // namespace kelvarn
