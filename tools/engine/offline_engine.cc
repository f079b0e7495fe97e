#include "tools/engine/offline_engine.h"

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <utility>
#include <vector>

namespace kelvarn {
namespace {

// 关键字 挖掘 工具 长尾词 搜索 优化 网站 排名 推广 软件 下载 免费 教程 方法 技巧 查询 分析 营销
// 百科 大全 手机 电脑 价格 官网 入门 在线 平台 数据 流量 指数 热门 最新 排行 推荐 视频 图片 小说
// 新闻 地图 翻译
constexpr const char* kVocabulary[] = {
    "\xB9\xD8\xBC\xFC\xD7\xD6", "\xCD\xDA\xBE\xF2", "\xB9\xA4\xBE\xDF", "\xB3\xA4\xCE\xB2\xB4\xCA", "\xCB\xD1\xCB\xF7",
    "\xD3\xC5\xBB\xAF",         "\xCD\xF8\xD5\xBE", "\xC5\xC5\xC3\xFB", "\xCD\xC6\xB9\xE3",         "\xC8\xED\xBC\xFE",
    "\xCF\xC2\xD4\xD8",         "\xC3\xE2\xB7\xD1", "\xBD\xCC\xB3\xCC", "\xB7\xBD\xB7\xA8",         "\xBC\xBC\xC7\xC9",
    "\xB2\xE9\xD1\xAF",         "\xB7\xD6\xCE\xF6", "\xD3\xAA\xCF\xFA", "\xB0\xD9\xBF\xC6",         "\xB4\xF3\xC8\xAB",
    "\xCA\xD6\xBB\xFA",         "\xB5\xE7\xC4\xD4", "\xBC\xDB\xB8\xF1", "\xB9\xD9\xCD\xF8",         "\xC8\xEB\xC3\xC5",
    "\xD4\xDA\xCF\xDF",         "\xC6\xBD\xCC\xA8", "\xCA\xFD\xBE\xDD", "\xC1\xF7\xC1\xBF",         "\xD6\xB8\xCA\xFD",
    "\xC8\xC8\xC3\xC5",         "\xD7\xEE\xD0\xC2", "\xC5\xC5\xD0\xD0", "\xCD\xC6\xBC\xF6",         "\xCA\xD3\xC6\xB5",
    "\xCD\xBC\xC6\xAC",         "\xD0\xA1\xCB\xB5", "\xD0\xC2\xCE\xC5", "\xB5\xD8\xCD\xBC",         "\xB7\xAD\xD2\xEB",
};
constexpr std::size_t kWords = std::size(kVocabulary);

// "相关搜索", "相关搜索</th><th>" and the rest of the page furniture.
constexpr std::string_view kLabelGbk = "\xCF\xE0\xB9\xD8\xCB\xD1\xCB\xF7";
constexpr std::string_view kBlockStart = "\xCF\xE0\xB9\xD8\xCB\xD1\xCB\xF7</th><th>";
constexpr std::string_view kTitleSuffix = "_\xCB\xD1\xCB\xF7";  // _搜索

std::uint64_t Fnv1a(std::string_view bytes) {
  std::uint64_t h = 1469598103934665603ull;
  for (const char c : bytes) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return h;
}

std::string Percent(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z')) {
      out += c;
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}

std::string ResultEntry(std::uint64_t& state, int index) {
  state = state * 6364136223846793005ull + 1442695040888963407ull;
  std::string title, abstract;
  for (int i = 0; i < 4; ++i) title += kVocabulary[(state >> (8 * i)) % kWords];
  for (int i = 0; i < 14; ++i) abstract += kVocabulary[(state >> (3 * i)) % kWords];
  const std::string n = std::to_string(index);
  return "<div class=\"result c-container\" id=\"" + n +
         "\"><h3 class=\"t\"><a href=\"http://www.example.com/link?url=" + std::to_string(state % 1000003) +
         "\" target=\"_blank\">" + title + "</a></h3><div class=\"c-abstract\">" + abstract +
         "</div><div class=\"f13\"><span class=\"c-showurl\">www.example.com/" + n + ".html</span></div></div>\n";
}

// The value of the cookie `name` in a Cookie header ("a=1; KV8080=7").
std::string CookieValue(std::string_view header, std::string_view name) {
  for (std::size_t at = header.find(name); at != std::string_view::npos; at = header.find(name, at + 1)) {
    if ((at > 0 && header[at - 1] != ' ' && header[at - 1] != ';') || header.substr(at + name.size(), 1) != "=")
      continue;
    const std::size_t start = at + name.size() + 1;
    return std::string(header.substr(start, header.find(';', start) - start));
  }
  return {};
}

}  // namespace

std::optional<EngineFault> ParseEngineFault(std::string_view name) {
  static constexpr std::pair<std::string_view, EngineFault> kNames[] = {
      {"none", EngineFault::kNone},
      {"error", EngineFault::kErrorStatus},
      {"reset", EngineFault::kReset},
      {"stall", EngineFault::kStall},
      {"huge", EngineFault::kHuge},
      {"garbage", EngineFault::kGarbage},
      {"redirect", EngineFault::kRedirect},
      {"no-block-end", EngineFault::kNoBlockEnd},
      {"upper-case", EngineFault::kUpperCase},
      {"trickle", EngineFault::kTrickle},
      {"redirect-loop", EngineFault::kRedirectLoop},
      {"verify", EngineFault::kVerify},
  };
  for (const auto& [text, fault] : kNames) {
    if (text == name) return fault;
  }
  return std::nullopt;
}

std::optional<EngineLayout> ParseEngineLayout(std::string_view name) {
  static constexpr std::pair<std::string_view, EngineLayout> kNames[] = {
      {"classic", EngineLayout::kClassic}, {"2008", EngineLayout::k2008}, {"2018", EngineLayout::k2018},
      {"2021", EngineLayout::k2021},       {"2022", EngineLayout::k2022}, {"mobile", EngineLayout::kMobile},
      {"mixed", EngineLayout::kMixed},
  };
  for (const auto& [text, layout] : kNames) {
    if (text == name) return layout;
  }
  return std::nullopt;
}

namespace {

EngineLayout LayoutFor(std::string_view keyword, EngineLayout layout) {
  if (layout != EngineLayout::kMixed) return layout;
  return static_cast<EngineLayout>(Fnv1a(keyword) % 6);
}

bool IsUtf8Layout(EngineLayout layout) {
  return layout == EngineLayout::k2018 || layout == EngineLayout::k2021 || layout == EngineLayout::k2022 ||
         layout == EngineLayout::kMobile;
}

// A phrase with its character number `which` (modulo its length) written as
// a numeric reference, decimal or hexadecimal, as 2022 pages write some.
std::string WithReference(std::string_view utf8, std::size_t which, bool hex) {
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80) starts.push_back(i);
  }
  if (starts.empty()) return std::string(utf8);
  const std::size_t at = starts[which % starts.size()];
  const std::size_t end = which % starts.size() + 1 < starts.size() ? starts[which % starts.size() + 1] : utf8.size();
  const auto lead = static_cast<unsigned char>(utf8[at]);
  std::uint32_t c = end - at == 1 ? lead : end - at == 2 ? lead & 0x1F : end - at == 3 ? lead & 0x0F : lead & 0x07;
  for (std::size_t i = at + 1; i < end; ++i) c = (c << 6) | (static_cast<unsigned char>(utf8[i]) & 0x3F);
  char reference[16];
  std::snprintf(reference, sizeof reference, hex ? "&#x%x;" : "&#%u;", static_cast<unsigned>(c));
  return std::string(utf8.substr(0, at)) + reference + std::string(utf8.substr(end));
}

// Late 2022, UTF-8: the 2021 block as the page's templates write it, every
// element on lines of its own, the block's data first in a comment, build
// suffixes on class names. Some links carry an icon (a private-use
// character) before the phrase, some phrases a character reference, and not
// every link writes its attributes alike.
std::string Block2022(const TextArray& phrases, std::string_view label, std::string_view linkEnd, bool ends) {
  constexpr std::size_t kCellsPerRow = 2;
  std::vector<std::string> urls, words;
  for (const auto& phrase : phrases) {
    urls.push_back("/s?wd=" + Percent(phrase) + "&rsf=101");
    words.push_back(GbkToUtf8(phrase));
  }
  std::string data = "{\"labelRs\":\"" + std::string(label) + "\",\"newList\":[";
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i % kCellsPerRow == 0) data += i == 0 ? "[" : "],[";
    if (i % kCellsPerRow != 0) data += ",";
    data += "{\"url\":\"" + urls[i] + "\",\"word\":\"" + words[i] + "\"}";
  }
  data += words.empty() ? "]" : "]]";
  data += ",\"tplName\":\"recommend_list\"}";

  std::string block = "</div>\n<div id=\"rs_new\" class=\"new-pmd\">\n    <!--s-data:" + data +
                      "-->\n    <div class=\"c-color-t rs-label_ihUhK\">\n        " + std::string(label) +
                      "\n    </div>\n    <table class=\"rs-table_3RiQc\">\n";
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i % kCellsPerRow == 0) block += "    <tr>\n";
    std::string href = urls[i];
    href.replace(href.find('&'), 1, "&amp;");
    const std::string_view linkClass = "rs-link_2DE3Q c-line-clamp1 c-color-link";
    block += "    <td class=\"rs-col_8Qlx-\">\n        ";
    if (i % 4 == 3) {
      block += "<a href='" + href + "' class='" + std::string(linkClass) + "' title='" + words[i] + "'>";
    } else {
      block += "<a class=\"" + std::string(linkClass) + "\" href=\"" + href + "\" title=\"" + words[i] + "\">";
    }
    block += "\n            ";
    // The icon touches the phrase: white space between them would stay
    // inside the text once the icon is dropped.
    if (i % 6 == 2) block += "<span class=\"rs-icon_3X1rF c-icon\">&#xe61d;</span>";
    if (i % 6 == 5) block += "\xEE\x98\x9D";  // U+E61D itself
    block += i % 4 == 1 ? WithReference(words[i], i / 4, i % 8 == 5) : words[i];
    block += "\n        " + std::string(linkEnd) + "\n    </td>\n";
    if (i % kCellsPerRow == kCellsPerRow - 1 || i + 1 == words.size()) {
      // The last row is filled up with empty cells.
      for (std::size_t j = i % kCellsPerRow + 1; j < kCellsPerRow; ++j) {
        block += "    <td class=\"rs-col_8Qlx-\"></td>\n";
      }
      block += "    </tr>\n";
    }
  }
  if (ends) block += "    </table>\n";
  return block + "</div>\n";
}

// The page phones get, UTF-8: no table, the links in a list of divs.
std::string BlockMobile(const TextArray& phrases, std::string_view label, std::string_view linkEnd, bool ends) {
  std::string block =
      "</div>\n<div id=\"relativewords\" class=\"se-relativewords c-container\">\n"
      "    <div class=\"rw-title\">" +
      std::string(label) + "</div>\n    <div class=\"rw-list-new rw-list\">\n";
  for (const auto& phrase : phrases) {
    block += "        <a class=\"rw-item c-blocka\" href=\"/s?word=" + Percent(phrase) +
             "&amp;sa=re_dl_1\"><span class=\"c-line-clamp1\">" + GbkToUtf8(phrase) + "</span>" + std::string(linkEnd) +
             "\n";
  }
  if (ends) block += "    </div>\n</div>\n";
  return block;
}

// The latency asked for, give or take the jitter, before an answer.
// A UTF-8 text as a JSON string.
std::string JsonString(std::string_view utf8) {
  std::string out = "\"";
  for (const char c : utf8) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + '"';
}

void WaitOutLatency(const EngineOptions& options) {
  if (options.latencyMs <= 0 && options.jitterMs <= 0) return;
  thread_local std::mt19937 rng(std::random_device{}());
  const int jitter =
      options.jitterMs > 0 ? std::uniform_int_distribution<int>(-options.jitterMs, options.jitterMs)(rng) : 0;
  std::this_thread::sleep_for(std::chrono::milliseconds(std::max(0, options.latencyMs + jitter)));
}

}  // namespace

bool OfflineEngine::IsUtf8Page(std::string_view keyword, const EngineOptions& options) {
  return IsUtf8Layout(LayoutFor(keyword, options.layout));
}

TextArray OfflineEngine::SuggestionsFor(std::string_view keyword, int count) {
  const TextArray related = PhrasesFor(keyword, count);
  TextArray phrases;
  std::uint64_t state = Fnv1a(keyword) ^ 0x9E3779B97F4A7C15ull;
  for (int i = 0; i < count; ++i) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    if (i % 3 == 2) {
      phrases.push_back(related[static_cast<std::size_t>(i)]);
    } else {
      phrases.push_back(std::string(kVocabulary[(state >> 41) % kWords]) + kVocabulary[(state >> 25) % kWords] +
                        kVocabulary[(state >> 9) % kWords]);
    }
  }
  return phrases;
}

TextArray OfflineEngine::PhrasesFor(std::string_view keyword, int count) {
  TextArray phrases;
  std::uint64_t state = Fnv1a(keyword);
  for (int i = 0; i < count; ++i) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    phrases.push_back(std::string(kVocabulary[(state >> 33) % kWords]) + kVocabulary[(state >> 17) % kWords]);
  }
  return phrases;
}

Text OfflineEngine::PageFor(std::string_view keyword, const EngineOptions& options, EngineFault fault) {
  const EngineLayout layout = LayoutFor(keyword, options.layout);
  std::string page = "<!DOCTYPE html><html><head><meta http-equiv=\"content-type\" content=\"text/html;charset=gbk\">";
  if (layout == EngineLayout::kMobile) {
    page += "<meta name=\"viewport\" content=\"width=device-width,minimum-scale=1.0,maximum-scale=1.0\">";
  }
  page += "<title>" + std::string(keyword) + std::string(kTitleSuffix) + "</title>";
  if (layout == EngineLayout::k2022) {
    // Scripts of real pages name the block too, before it: neither the label
    // nor a table's end marks the block by itself. None follows the block, so
    // that a block without an end has none.
    page += "\n<script>\n    var rsConf = {label: \"" + std::string(kLabelGbk) +
            "\", tpl: '<table class=\"rs-table_3RiQc\"><tr><td>{{word}}</td></tr></table>'};\n</script>\n";
  }
  page += "</head><body><div id=\"content_left\">\n";
  std::uint64_t state = Fnv1a(keyword) ^ 0x5bd1e995;
  for (int i = 1; i <= 3 || page.size() + 1024 < options.pageBytes; ++i) page += ResultEntry(state, i);
  if (IsUtf8Layout(layout)) {
    // The forms of the UTF-8 years: the same page, its declaration included, in UTF-8.
    page = GbkToUtf8(page);
    const std::size_t declared = page.find("charset=gbk");
    if (declared != std::string::npos) page.replace(declared, 11, "charset=utf-8");
  }
  const std::string_view linkEnd = fault == EngineFault::kUpperCase ? "</A>" : "</a>";
  const TextArray phrases = PhrasesFor(keyword, options.phrasesPerPage);
  const std::string tableEnd = fault == EngineFault::kNoBlockEnd ? "" : "</table>";
  // From here on the page is written in its own encoding.
  const auto own = [&layout](std::string_view gbk) { return IsUtf8Layout(layout) ? GbkToUtf8(gbk) : std::string(gbk); };
  const std::string label = own(kLabelGbk);
  switch (layout) {
    case EngineLayout::k2008:
      page += "</div><table width=\"100%\" cellpadding=\"0\"><tr><td style=\"font-size:14px\">" + label + "</td>";
      for (const auto& phrase : phrases) {
        page += "<td nowrap class=\"f14\"><a href=\"s?wd=" + Percent(phrase) + "\">" + phrase + std::string(linkEnd) +
                "</td>";
      }
      page += "</tr>" + tableEnd;
      break;
    case EngineLayout::k2018:
      page += "</div><div id=\"rs\"><div class=\"tt\">" + label + "</div><table cellpadding=\"0\"><tr>";
      for (const auto& phrase : phrases) {
        page += "<th><a href=\"/s?wd=" + Percent(phrase) + "&amp;rsf=1\">" + own(phrase) + std::string(linkEnd) +
                "</th><td></td>";
      }
      page += "</tr>" + tableEnd + "</div>";
      break;
    case EngineLayout::k2021:
      page += "</div><div id=\"rs_new\" class=\"new-pmd\"><div class=\"c-font-medium\">" + label +
              "</div><table class=\"rs-table_3RiQc\"><tr>";
      for (const auto& phrase : phrases) {
        page += "<td class=\"rs-col_8Qlx-\"><a class=\"rs-link_2DE3Q c-line-clamp1 c-color-link\" href=\"/s?wd=" +
                Percent(phrase) + "\" title=\"" + own(phrase) + "\"><span>" + own(phrase) + "</span>" +
                std::string(linkEnd) + "</td>";
      }
      page += "</tr>" + tableEnd + "</div>";
      break;
    case EngineLayout::k2022:
      page += Block2022(phrases, label, linkEnd, fault != EngineFault::kNoBlockEnd);
      break;
    case EngineLayout::kMobile:
      page += BlockMobile(phrases, label, linkEnd, fault != EngineFault::kNoBlockEnd);
      break;
    default:
      page += "</div><div id=\"rs\"><table cellpadding=\"0\"><tr><th rowspan=\"2\" class=\"tt\">";
      page += kBlockStart;
      for (const auto& phrase : phrases) {
        page += "<a href=\"/s?wd=" + Percent(phrase) + "\">" + phrase + std::string(linkEnd);
        page += "</th><th>";
      }
      page += "</th></tr>";
      if (fault != EngineFault::kNoBlockEnd) page += "</table></div>";
  }
  page += "<div id=\"page\"><a href=\"/s?pn=10\">2</a></div></body></html>\n";
  return page;
}

OfflineEngine::OfflineEngine(EngineOptions options)
    : options_(std::move(options)), limits_(options_.policy), suggestLimits_(options_.policy) {}

std::optional<EnginePolicy> ParseEnginePolicy(std::string_view text) {
  EnginePolicy policy;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    const std::size_t equals = item.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string_view name = item.substr(0, equals);
    const std::string value(item.substr(equals + 1));
    char* end = nullptr;
    const double number = std::strtod(value.c_str(), &end);
    if (value.empty() || *end != '\0' || !(number >= 0) || number > 1e9) return std::nullopt;
    if (name == "rate") {
      policy.rate = number;
    } else if (name == "burst") {
      policy.burst = number;
    } else if (name == "penalty") {
      policy.penaltySeconds = number;
    } else if (name == "cookieless") {
      policy.cookieless = number;
    } else {
      return std::nullopt;
    }
  }
  if (policy.rate > 0 && policy.burst < 1) return std::nullopt;
  return policy;
}

bool EngineLimits::Admit(const std::string& identity, bool hasCookie, Clock::time_point now) {
  if (policy_.rate <= 0) return true;
  const double scale = hasCookie ? 1 : policy_.cookieless;
  const double burst = policy_.burst * scale;
  std::lock_guard lock(mutex_);
  auto [it, added] = identities_.try_emplace(identity);
  Identity& id = it->second;
  if (added) id.tokens = burst, id.refilled = now;
  const double elapsed = std::chrono::duration<double>(now - id.refilled).count();
  id.tokens = std::min(burst, id.tokens + std::max(0.0, elapsed) * policy_.rate * scale);
  id.refilled = std::max(id.refilled, now);
  const auto penalty =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(policy_.penaltySeconds));
  if (id.blockedUntil && now < *id.blockedUntil) {
    id.blockedUntil = now + penalty;  // asking during the block prolongs it
    ++id.verifications;
    return false;
  }
  if (id.tokens >= 1) {
    id.tokens -= 1;
    ++id.pages;
    return true;
  }
  id.blockedUntil = now + penalty;
  ++id.blocks, ++id.verifications;
  return false;
}

std::string EngineLimits::Report() const {
  std::lock_guard lock(mutex_);
  std::string report;
  for (const auto& [name, id] : identities_) {
    report += "identity " + name + " pages " + std::to_string(id.pages) + " verification " +
              std::to_string(id.verifications) + " blocks " + std::to_string(id.blocks) + "\n";
  }
  return report;
}

bool OfflineEngine::Blocks(bool hasCookie) {
  if (options_.requireCookie && !hasCookie) return true;
  if (options_.blockAfter <= 0) return false;
  std::lock_guard lock(blockMutex_);
  const auto now = std::chrono::steady_clock::now();
  if (blockedUntil_) return now < *blockedUntil_;
  if (++beforeBlock_ <= options_.blockAfter) return false;
  blockedUntil_ = now + std::chrono::milliseconds(options_.blockMs);
  return true;
}

OfflineEngine::~OfflineEngine() { Stop(); }

int OfflineEngine::Start() {
  server_ = std::make_unique<httplib::Server>();
  // Enough threads for many concurrent clients waiting out the latency.
  server_->new_task_queue = [] { return new httplib::ThreadPool(64); };
  // Like common web servers, a connection serves up to 100 requests (the
  // library would close it after 5). An idle one is closed after a second,
  // not five: Stop waits for idle connections to close.
  server_->set_keep_alive_max_count(100);
  server_->set_keep_alive_timeout(1);
  server_->Get("/stats", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content("requests " + std::to_string(requests_.load()) + "\n" + limits_.Report(), "text/plain");
  });
  // The verification page: UTF-8, as the real one is.
  server_->Get(R"(/static/captcha/.*)", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(
        "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>\xE7\x99\xBE\xE5\xBA\xA6\xE5\xAE\x89\xE5\x85\xA8"
        "\xE9\xAA\x8C\xE8\xAF\x81</title></head><body><p>\xE5\xAE\x89\xE5\x85\xA8\xE9\xAA\x8C\xE8\xAF\x81</p>"
        "</body></html>\n",  // 百度安全验证, 安全验证
        "text/html; charset=utf-8");
  });
  server_->Get("/s", [this](const httplib::Request& req, httplib::Response& res) { ServeSearch(req, res); });
  server_->Get("/su", [this](const httplib::Request& req, httplib::Response& res) { ServeSuggest(req, res); });
  port_ = options_.port == 0 ? server_->bind_to_any_port("127.0.0.1")
                             : (server_->bind_to_port("127.0.0.1", options_.port) ? options_.port : -1);
  if (port_ < 0) {
    server_.reset();
    return -1;
  }
  stopping_ = false;
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // A stop that comes before the loop runs would be lost and leave the loop
  // running for ever: return only once it runs.
  while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return port_;
}

void OfflineEngine::ServeSearch(const httplib::Request& req, httplib::Response& res) {
  const std::uint64_t number = requests_.fetch_add(1) + 1;  // this request's own, whatever runs beside it
  // The phone page's links name the keyword "word".
  const std::string keyword = req.get_param_value(req.has_param("wd") ? "wd" : "word");
  EngineFault fault = options_.fault;
  if (req.has_param("fault")) fault = ParseEngineFault(req.get_param_value("fault")).value_or(fault);
  if (req.has_param("redirected")) fault = EngineFault::kNone;
  WaitOutLatency(options_);
  if (TurnsAway(req, res, keyword, number, fault)) return;
  Answer(fault, req, res, keyword);
}

bool OfflineEngine::TurnsAway(const httplib::Request& req, httplib::Response& res, const std::string& keyword,
                              std::uint64_t number, EngineFault fault) {
  // A cookie of this engine's own: cookies do not tell ports apart, and a
  // client may have met another engine on this host.
  const std::string cookie = "KV" + std::to_string(port_);
  const bool hasCookie = req.get_header_value("Cookie").find(cookie + "=") != std::string::npos;
  if (hasCookie) withCookie_.fetch_add(1);
  if (!hasCookie) res.set_header("Set-Cookie", cookie + "=" + std::to_string(number) + "; Path=/");
  if (fault == EngineFault::kVerify || Blocks(hasCookie) || req.remote_addr == options_.blockFrom ||
      !limits_.Admit(req.remote_addr + " " + (hasCookie ? CookieValue(req.get_header_value("Cookie"), cookie) : "-"),
                     hasCookie, std::chrono::steady_clock::now())) {
    blocked_.fetch_add(1);
    res.set_redirect("/static/captcha/index.html?wd=" + Percent(keyword));
    return true;
  }
  if (number <= static_cast<std::uint64_t>(options_.failFirst)) {
    res.status = 503;
    res.set_content("<html><body>busy</body></html>", "text/html");
    return true;
  }
  return false;
}

void OfflineEngine::Answer(EngineFault fault, const httplib::Request& req, httplib::Response& res,
                           const std::string& keyword) {
  const std::string type = IsUtf8Page(keyword, options_) ? "text/html; charset=utf-8" : "text/html; charset=gbk";
  switch (fault) {
    case EngineFault::kErrorStatus:
      res.status = 500;
      res.set_content("<html><body>server error</body></html>", type);
      return;
    case EngineFault::kRedirect:
      res.set_redirect("/s?wd=" + Percent(keyword) + "&redirected=1");
      return;
    case EngineFault::kRedirectLoop:
      res.set_redirect(req.target);
      return;
    case EngineFault::kGarbage: {
      std::mt19937 rng(static_cast<unsigned>(Fnv1a(keyword)));
      std::string bytes(64 * 1024, '\0');
      for (char& c : bytes) c = static_cast<char>(rng());
      res.set_content(bytes, type);
      return;
    }
    case EngineFault::kHuge: {
      auto page = std::make_shared<std::string>(PageFor(keyword, options_, EngineFault::kNone));
      constexpr std::size_t total = std::size_t{200} << 20;
      res.set_content_provider(total, type, [page](std::size_t offset, std::size_t, httplib::DataSink& sink) {
        const std::size_t n = std::min<std::size_t>(64 * 1024, total - offset);
        std::string chunk;
        while (chunk.size() < n) chunk += *page;
        return sink.write(chunk.data(), n);
      });
      return;
    }
    case EngineFault::kTrickle: {
      auto page = std::make_shared<std::string>(PageFor(keyword, options_, EngineFault::kNone));
      res.set_content_provider(page->size(), type,
                               [this, page](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                 if (offset > 0) {
                                   for (int i = 0; i < 100 && !stopping_.load(); ++i) {
                                     std::this_thread::sleep_for(std::chrono::milliseconds(10));
                                   }
                                 }
                                 return !stopping_.load() && sink.write(page->data() + offset, 1);
                               });
      return;
    }
    case EngineFault::kReset:
    case EngineFault::kStall: {
      auto page = std::make_shared<std::string>(PageFor(keyword, options_, EngineFault::kNone));
      res.set_content_provider(page->size(), type,
                               [this, page, fault](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                 if (offset == 0) return sink.write(page->data(), page->size() / 2);
                                 if (fault == EngineFault::kReset) return false;  // closes the connection mid-body
                                 const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
                                 while (!stopping_.load() && std::chrono::steady_clock::now() < until) {
                                   std::this_thread::sleep_for(std::chrono::milliseconds(10));
                                 }
                                 return false;
                               });
      return;
    }
    default:
      res.set_content(PageFor(keyword, options_, fault), type);
  }
}

void OfflineEngine::ServeSuggest(const httplib::Request& req, httplib::Response& res) {
  const std::uint64_t number = suggestions_.fetch_add(1) + 1;
  const std::string wd = req.get_param_value("wd");
  const Text keyword = req.get_param_value("ie") == "utf-8" ? Utf8ToGbk(wd) : Text(wd);
  EngineFault fault = options_.fault;
  if (req.has_param("fault")) fault = ParseEngineFault(req.get_param_value("fault")).value_or(fault);
  WaitOutLatency(options_);
  const std::string cookie = "KV" + std::to_string(port_);
  const bool hasCookie = req.get_header_value("Cookie").find(cookie + "=") != std::string::npos;
  if (!hasCookie) res.set_header("Set-Cookie", cookie + "=s" + std::to_string(number) + "; Path=/");
  if (fault == EngineFault::kVerify ||
      !suggestLimits_.Admit(
          req.remote_addr + " " + (hasCookie ? CookieValue(req.get_header_value("Cookie"), cookie) : "-"), hasCookie,
          std::chrono::steady_clock::now())) {
    res.set_redirect("/static/captcha/index.html?wd=" + Percent(keyword));
    return;
  }
  if (fault == EngineFault::kErrorStatus) {
    res.status = 500;
    res.set_content("<html><body>server error</body></html>", "text/html");
    return;
  }
  if (fault == EngineFault::kGarbage) {
    std::mt19937 rng(static_cast<unsigned>(Fnv1a(keyword)));
    std::string bytes(4 * 1024, '\0');
    for (char& c : bytes) c = static_cast<char>(rng());
    res.set_content(bytes, "application/json; charset=utf-8");
    return;
  }
  std::string body = "[" + JsonString(GbkToUtf8(keyword)) + ",[";
  const TextArray phrases = SuggestionsFor(keyword, options_.phrasesPerPage);
  for (std::size_t i = 0; i < phrases.size(); ++i) body += (i > 0 ? "," : "") + JsonString(GbkToUtf8(phrases[i]));
  res.set_content(body + "]]", "application/json; charset=utf-8");
}

void OfflineEngine::Stop() {
  if (!server_) return;
  stopping_ = true;
  server_->stop();
  if (thread_.joinable()) thread_.join();
  server_.reset();
}

}  // namespace kelvarn
