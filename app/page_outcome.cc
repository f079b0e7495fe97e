#include "app/page_outcome.h"

#include <algorithm>
#include <string>

#include "app/page_forms.h"

namespace kelvarn {

std::string_view OutcomeName(PageOutcome outcome) {
  static constexpr std::string_view kNames[kPageOutcomeCount] = {"phrases", "no block", "verification", "error status",
                                                                 "failed"};
  return kNames[static_cast<std::size_t>(outcome)];
}

std::string_view SourceName(PhraseSource source) { return source == PhraseSource::kSuggest ? "suggest" : "related"; }

namespace {

// Signs of the engine's verification page, in UTF-8; each text sign is
// looked for in GBK too. URL signs are looked for in the host and the path,
// never in the query, which holds the keyword.
enum class Where { kHost, kPath, kTitle, kText };
struct Sign {
  Where where;
  std::string_view utf8;
};
constexpr Sign kVerificationSigns[] = {
    {Where::kHost, "wappass."},
    {Where::kPath, "/static/captcha/"},
    {Where::kTitle, "百度安全验证"},
    {Where::kText, "网络不给力，请稍后重试"},
};

bool Contains(std::string_view text, std::string_view sought) { return text.find(sought) != std::string_view::npos; }

// The text of the page's title element, untrimmed; empty when it has none.
std::string_view Title(std::string_view body) {
  const std::size_t open = FindIgnoringCase(body, "<title");
  const std::size_t from = open == std::string_view::npos ? open : body.find('>', open);
  if (from == std::string_view::npos) return {};
  const std::size_t close = FindIgnoringCase(body, "</title>", from);
  if (close == std::string_view::npos) return {};
  return body.substr(from + 1, close - (from + 1));
}

std::string_view TrimSpaces(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

void AppendCount(Text& out, std::string_view name, std::int64_t count) {
  out += name;
  out += '(';
  out += std::to_string(count);
  out += ')';
}

// 失败, 验证页, 错误状态; 无相关块 for the progress field only.
constexpr std::string_view kFailedName = "\xCA\xA7\xB0\xDC";
constexpr std::string_view kVerificationName = "\xD1\xE9\xD6\xA4\xD2\xB3";
constexpr std::string_view kErrorStatusName = "\xB4\xED\xCE\xF3\xD7\xB4\xCC\xAC";
constexpr std::string_view kNoBlockName = "\xCE\xDE\xCF\xE0\xB9\xD8\xBF\xE9";

std::int64_t Count(const PageCounts& counts, PageOutcome outcome) { return counts[static_cast<std::size_t>(outcome)]; }

}  // namespace

bool IsVerificationPage(std::string_view finalUrl, std::string_view body, bool blockFound) {
  const std::size_t scheme = finalUrl.find("://");
  const std::string_view rest = scheme == std::string_view::npos ? finalUrl : finalUrl.substr(scheme + 3);
  const std::size_t slash = std::min(rest.find('/'), rest.size());
  const std::string_view host = rest.substr(0, std::min(slash, rest.find('?')));
  const std::string_view path = rest.substr(slash, rest.find('?', slash) - slash);
  for (const Sign& sign : kVerificationSigns) {
    if ((sign.where == Where::kHost && Contains(host, sign.utf8)) ||
        (sign.where == Where::kPath && Contains(path, sign.utf8))) {
      return true;
    }
  }
  if (blockFound) return false;
  const std::string_view title = TrimSpaces(Title(body));
  for (const Sign& sign : kVerificationSigns) {
    if (sign.where == Where::kHost || sign.where == Where::kPath) continue;
    const Text gbk = Utf8ToGbk(sign.utf8);
    if (sign.where == Where::kTitle ? (title == sign.utf8 || title == gbk)
                                    : (Contains(body, sign.utf8) || Contains(body, gbk))) {
      return true;
    }
  }
  return false;
}

PageOutcome DecidePageOutcome(const FetchedPage& page) {
  if (!page.answered) return PageOutcome::kFailed;
  if (IsVerificationPage(page.finalUrl, page.body, page.blockFound)) return PageOutcome::kVerification;
  if (page.status != 200) return PageOutcome::kErrorStatus;
  if (page.blockFound) return PageOutcome::kPhrases;
  return page.whole ? PageOutcome::kNoBlock : PageOutcome::kFailed;
}

PageOutcome DecideSuggestOutcome(const FetchedPage& answer, std::size_t phrases) {
  if (!answer.answered) return PageOutcome::kFailed;
  const std::size_t scheme = answer.finalUrl.find("://");
  const std::string_view rest = scheme == std::string_view::npos ? answer.finalUrl : answer.finalUrl.substr(scheme + 3);
  const std::size_t slash = std::min(rest.find('/'), rest.size());
  const std::string_view path = rest.substr(slash, rest.find('?', slash) - slash);
  if (path != "/su" || IsVerificationPage(answer.finalUrl, answer.body, answer.blockFound)) {
    return PageOutcome::kVerification;
  }
  if (answer.status != 200) return PageOutcome::kErrorStatus;
  if (answer.blockFound && answer.whole) return phrases > 0 ? PageOutcome::kPhrases : PageOutcome::kNoBlock;
  return PageOutcome::kFailed;
}

bool LooksLikeResultsPage(std::string_view body) {
  for (const std::string_view sign : {"name=\"wd\"", "name='wd'", "name=wd ", "c-container", "class=\"result"}) {
    if (FindIgnoringCase(body, sign) != std::string_view::npos) return true;
  }
  return false;
}

bool AnyProblemPages(const PageCounts& counts) {
  return Count(counts, PageOutcome::kFailed) + Count(counts, PageOutcome::kVerification) +
             Count(counts, PageOutcome::kErrorStatus) >
         0;
}

Text ProblemPagesText(const PageCounts& counts) {
  if (!AnyProblemPages(counts)) return {};
  Text out = ";\xCE\xCA\xCC\xE2\xD2\xB3\xC3\xE6:";  // ;问题页面:
  bool first = true;
  for (const auto& [outcome, name] :
       {std::pair{PageOutcome::kFailed, kFailedName}, std::pair{PageOutcome::kVerification, kVerificationName},
        std::pair{PageOutcome::kErrorStatus, kErrorStatusName}}) {
    if (Count(counts, outcome) == 0) continue;
    if (!first) out += ' ';
    first = false;
    AppendCount(out, name, Count(counts, outcome));
  }
  return out;
}

Text ProgressText(const PageCounts& counts, std::int64_t phrases, std::int64_t pending, std::int64_t unrecognised) {
  std::int64_t pages = 0;
  for (const std::int64_t n : counts) pages += n;
  Text out;
  AppendCount(out, "\xD2\xB3\xC3\xE6", pages);  // 页面
  out += ' ';
  AppendCount(out, "\xB6\xCC\xD3\xEF", phrases);  // 短语
  out += ' ';
  AppendCount(out, "\xB4\xFD\xB4\xA6\xC0\xED", pending);  // 待处理
  for (const auto& [outcome, name] :
       {std::pair{PageOutcome::kNoBlock, kNoBlockName}, std::pair{PageOutcome::kFailed, kFailedName},
        std::pair{PageOutcome::kVerification, kVerificationName},
        std::pair{PageOutcome::kErrorStatus, kErrorStatusName}}) {
    if (Count(counts, outcome) == 0) continue;
    out += ' ';
    AppendCount(out, name, Count(counts, outcome));
  }
  if (unrecognised > 0) {
    out += ' ';
    AppendCount(out, "\xB0\xE6\xCA\xBD\xCE\xB4\xCA\xB6\xB1\xF0", unrecognised);  // 版式未识别
  }
  return out;
}

}  // namespace kelvarn
