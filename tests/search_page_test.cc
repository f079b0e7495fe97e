#include "app/search_page.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <random>

#include "app/page_outcome.h"
#include "tests/reference.h"

namespace kelvarn {
namespace {

using Pieces = std::vector<std::string>;

const std::string kBlockStart = Utf8ToGbk("相关搜索</th><th>");

std::string Page(std::string_view block, std::string_view end = "</table></div>") {
  return "<html><body><div id=\"rs\"><table><tr><th>" + kBlockStart + std::string(block) + std::string(end) +
         "</body></html>";
}

std::string Link(std::string_view phrase) { return "<a href=\"/s?wd=x\">" + std::string(phrase) + "</a>"; }

TEST(UrlEncodeTest, KeepsOnlyTheSafeBytes) {
  EXPECT_EQ("a%20b", UrlEncode("a b"));
  EXPECT_EQ("a%2Bb", UrlEncode("a+b"));
  EXPECT_EQ("a%2Fb", UrlEncode("a/b"));
  EXPECT_EQ("%7E%21", UrlEncode("~!"));
  EXPECT_EQ("*-.@_09AZaz", UrlEncode("*-.@_09AZaz"));
  EXPECT_EQ("%D5%E6", UrlEncode(Utf8ToGbk("真")));
  EXPECT_EQ("%81a", UrlEncode("\x81" "a"));  // a trail byte in the kept set stays literal
  EXPECT_EQ("%00", UrlEncode(std::string(1, '\0')));
  EXPECT_EQ("", UrlEncode(""));
}

TEST(UrlEncodeTest, HexByteIsAlwaysTwoDigitsOfTheLowByte) {
  EXPECT_EQ("0A", HexByte(10));
  EXPECT_EQ("FF", HexByte(255));
  EXPECT_EQ("00", HexByte(256));
  EXPECT_EQ("FF", HexByte(-1));
}

TEST(SearchUrlTest, BaseComesFromTheEnvironment) {
  ::unsetenv("KELVARN_SEARCH_URL");
  EXPECT_EQ("http://www.baidu.com/s?wd=a%20b", BuildSearchUrl("a b"));
  ::setenv("KELVARN_SEARCH_URL", "http://127.0.0.1:8080/", 1);
  EXPECT_EQ("http://127.0.0.1:8080/s?wd=%D5%E6", BuildSearchUrl(Utf8ToGbk("真")));
  ::setenv("KELVARN_SEARCH_URL", "", 1);
  EXPECT_EQ("http://www.baidu.com/s?wd=", BuildSearchUrl(""));
  ::unsetenv("KELVARN_SEARCH_URL");
  EXPECT_EQ("http://h:1/s?wd=x", BuildSearchUrl("x", "http://h:1"));
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

TEST(ExtractRelatedPhrasesTest, LinksOfTheFirstBlockInPageOrder) {
  const std::string phrase = Utf8ToGbk("关键字 工具");
  EXPECT_EQ((Pieces{phrase, "b &amp; <b>c</b>", phrase, ""}),
            ExtractRelatedPhrases(Page(Link(phrase) + Link("b &amp; <b>c</b>") + "</td><td>" + Link(phrase) +
                                       Link(""))));
}

TEST(ExtractRelatedPhrasesTest, MarkerCaseRules) {
  // An upper-case end-of-link tag ends a phrase...
  EXPECT_EQ((Pieces{"one"}), ExtractRelatedPhrases(Page("<a href=\"x\">one</A>")));
  // ...but an upper-case end of the block does not end the block.
  EXPECT_EQ(Pieces{}, ExtractRelatedPhrases(Page(Link("one"), "</TABLE></DIV>")));
}

TEST(ExtractRelatedPhrasesTest, PagesWithoutAUsableBlock) {
  EXPECT_EQ(Pieces{}, ExtractRelatedPhrases(""));
  EXPECT_EQ(Pieces{}, ExtractRelatedPhrases("<html>" + Link("x") + "</table></div></html>"));
  EXPECT_EQ(Pieces{}, ExtractRelatedPhrases(Page(Link("x"), "")));  // block never ends
  EXPECT_EQ((Pieces{""}), ExtractRelatedPhrases(Page("<a href=\"x\">dangling")));
}

TEST(ExtractRelatedPhrasesTest, OnlyTheFirstBlockCounts) {
  EXPECT_EQ((Pieces{"first"}), ExtractRelatedPhrases(Page(Link("first")) + Page(Link("second"))));
}

TEST(ExtractRelatedPhrasesTest, NestedStartMarkersYieldOuterAndInnerPhrases) {
  EXPECT_EQ((Pieces{"a\">b", "b"}), ExtractRelatedPhrases(Page("\">a\">b</a>")));
}

TEST(ExtractRelatedPhrasesTest, HostilePagesAreCappedAndFinish) {
  // 400 000 start markers and one end marker: every marker's phrase runs to
  // the end, far more text than memory holds if kept in full.
  std::string block;
  for (int i = 0; i < 400000; ++i) block += "\">";
  Pieces phrases = ExtractRelatedPhrases(Page(block + "x</a>"));
  std::size_t total = 0;
  for (const auto& p : phrases) total += p.size() + kPhraseOverheadBytes;
  EXPECT_LE(total, kMaxPhraseBytesPerPage);
  ASSERT_FALSE(phrases.empty());
  EXPECT_EQ(799999u, phrases.front().size());  // every marker after the first, then "x"

  // Two million link starts and no link end: empty phrases are not free.
  block.clear();
  for (int i = 0; i < 2000000; ++i) block += "\">";
  phrases = ExtractRelatedPhrases(Page(block));
  EXPECT_EQ(kMaxPhraseBytesPerPage / kPhraseOverheadBytes, phrases.size());
  EXPECT_EQ("", phrases.back());
}

TEST(ExtractRelatedPhrasesTest, ManyStartMarkersWithoutEndMarkersFinish) {
  // Quadratic work would not finish within the test's time limit.
  for (const std::string& unit : {std::string("\">"), std::string("\xB0\">"), std::string("\xB0\xB0")}) {
    std::string block;
    for (int i = 0; i < 200000; ++i) block += unit;
    Pieces matches;
    TextBetween(block, "\">", "</a>", 1, &matches);
    if (unit == "\">") {
      EXPECT_EQ(200000u, matches.size());
    }
    TextBetween(block, "\xB0", "</a>", 1, &matches);
    for (const auto& m : matches) ASSERT_EQ("", m);
  }
}

TEST(TextBetweenRandomizedTest, AllMatchesAgreesWithFreshSearches) {
  std::mt19937 rng(42);
  static constexpr char kBytes[] = {'"', '>', '<', '/', 'a', 'A', 'x', '\xB0', '\x81', '\xC4'};
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

namespace kelvarn {
namespace {

// The verification page is known by its address, or, without the related
// block, by its title or texts in either encoding; a results page that names
// the same words (a keyword's own page) is not one.
TEST(PageOutcomeTest, VerificationPagesAreKnownByAddressTitleOrText) {
  const std::string captcha = "<html><head><title>百度安全验证</title></head><body>网络不给力，请稍后重试</body></html>";
  EXPECT_TRUE(IsVerificationPage("https://wappass.example.com/static/captcha/tuxing.html?x=1", "", false));
  EXPECT_TRUE(IsVerificationPage("http://127.0.0.1:8080/static/captcha/index.html", Page(Link("a")), true));
  EXPECT_TRUE(IsVerificationPage("http://h/s?wd=a", captcha, false));
  EXPECT_TRUE(IsVerificationPage("http://h/s?wd=a", Utf8ToGbk(captcha), false));
  EXPECT_TRUE(IsVerificationPage("http://h/s?wd=a", "<TITLE>\n 百度安全验证 </TITLE>", false));
  EXPECT_TRUE(IsVerificationPage("http://h/s?wd=a", Utf8ToGbk("<p>网络不给力，请稍后重试</p>"), false));
  EXPECT_FALSE(IsVerificationPage("http://h/s?wd=a", Utf8ToGbk("<title>百度安全验证_百度搜索</title>"), false));
  EXPECT_FALSE(IsVerificationPage("http://h/s?wd=a", Page(Link("a")) + captcha, true));
  EXPECT_FALSE(IsVerificationPage("http://h/s?wd=a", "<html>nothing</html>", false));
  EXPECT_FALSE(IsVerificationPage("http://h/s?wd=wappass./static/captcha/", "<html>nothing</html>", false));
}

TEST(PageOutcomeTest, OneOutcomeForEveryPage) {
  const std::string captcha = "<title>百度安全验证</title>";
  struct Case {
    FetchedPage page;
    PageOutcome outcome;
  };
  for (const Case& c : {
           Case{{false, false, 0, "", "", false}, PageOutcome::kFailed},
           Case{{true, true, 200, "http://h/s", "x", true}, PageOutcome::kPhrases},
           Case{{true, false, 200, "http://h/s", "x", true}, PageOutcome::kPhrases},  // cut after the block
           Case{{true, true, 200, "http://h/s", "x", false}, PageOutcome::kNoBlock},
           Case{{true, false, 200, "http://h/s", "x", false}, PageOutcome::kFailed},  // cut before any block
           Case{{true, true, 404, "http://h/s", "x", true}, PageOutcome::kErrorStatus},
           Case{{true, true, 500, "http://h/s", "x", false}, PageOutcome::kErrorStatus},
           Case{{true, true, 200, "http://h/s", captcha, false}, PageOutcome::kVerification},
           Case{{true, true, 403, "http://h/static/captcha/", "", false}, PageOutcome::kVerification},
       }) {
    EXPECT_EQ(c.outcome, DecidePageOutcome(c.page)) << c.page.status << " " << c.page.body;
  }
  PageCounts counts{};
  EXPECT_EQ("", ProblemPagesText(counts));
  counts = {5, 1, 2, 0, 3};
  EXPECT_EQ(Utf8ToGbk(";问题页面:失败(3) 验证页(2)"), ProblemPagesText(counts));
  EXPECT_EQ(Utf8ToGbk("页面(11) 短语(40) 待处理(7) 无相关块(1) 失败(3) 验证页(2)"), ProgressText(counts, 40, 7));
}

}  // namespace
}  // namespace kelvarn
