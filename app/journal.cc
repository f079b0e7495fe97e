#include "app/journal.h"

#include <algorithm>
#include <cstdio>
#include <type_traits>
#include <vector>

namespace kelvarn {
namespace {

void AppendJsonUtf8(std::string_view utf8, std::string& out) {
  out += '"';
  for (const char c : utf8) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char unicode[8];
          std::snprintf(unicode, sizeof unicode, "\\u%04x", static_cast<unsigned>(c));
          out += unicode;
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

void AppendField(std::string_view key, std::string& out) {
  out += out.empty() ? "{\"" : ",\"";
  out += key;
  out += "\":";
}

// One line of the journal: an object of strings, numbers, booleans and
// arrays of strings, the only forms it writes. Anything else is no line of it.
class LineParser {
 public:
  explicit LineParser(std::string_view line) : s_(line) {}

  // Calls `field` with each key, positioned at its value, which it must read.
  template <class Field>
  bool Object(Field&& field) {
    if (!Take('{')) return false;
    if (Take('}')) return End();
    do {
      std::string key;
      if (!String(key) || !Take(':') || !field(std::string_view(key))) return false;
    } while (Take(','));
    return Take('}') && End();
  }
  bool String(std::string& out) {
    Space();
    if (i_ >= s_.size() || s_[i_] != '"') return false;
    for (++i_; i_ < s_.size();) {
      // The run up to a quote or escape at once: most strings have neither.
      std::size_t plain = i_;
      while (plain < s_.size() && s_[plain] != '"' && s_[plain] != '\\') ++plain;
      out.append(s_.data() + i_, plain - i_);
      if ((i_ = plain) == s_.size()) break;
      if (s_[i_++] == '"') return true;
      if (i_ >= s_.size()) return false;
      switch (const char e = s_[i_++]) {
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'u': {
          std::uint32_t code = 0;
          if (!Hex(code)) return false;
          if (code >= 0xD800 && code < 0xDC00) {  // a surrogate pair
            std::uint32_t low = 0;
            if (!Take('\\') || !Take('u') || !Hex(low) || low < 0xDC00 || low >= 0xE000) return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          }
          AppendUtf8(code, out);
          break;
        }
        default:
          if (e != '"' && e != '\\' && e != '/') return false;
          out += e;
      }
    }
    return false;
  }
  bool Integer(std::int64_t& out) {
    Space();
    const bool negative = i_ < s_.size() && s_[i_] == '-';
    if (negative) ++i_;
    const std::size_t start = i_;
    out = 0;
    while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9' && i_ - start < 18) out = out * 10 + (s_[i_++] - '0');
    if (negative) out = -out;
    return i_ > start;
  }
  bool Boolean(bool& out) {
    Space();
    if (s_.substr(i_).starts_with("true")) return i_ += 4, out = true;
    if (s_.substr(i_).starts_with("false")) return i_ += 5, !(out = false);
    return false;
  }
  // Each string of an array, to `item`.
  template <class Item>
  bool Strings(Item&& item) {
    if (!Take('[')) return false;
    if (Take(']')) return true;
    do {
      std::string text;
      if (!String(text)) return false;
      item(text);
    } while (Take(','));
    return Take(']');
  }
  // Any value of the forms above, unread: a later version's new field.
  bool Skip() {
    Space();
    if (i_ >= s_.size()) return false;
    std::string ignored;
    std::int64_t n = 0;
    bool b = false;
    if (s_[i_] == '"') return String(ignored);
    if (s_[i_] == '[') return Strings([](const std::string&) {});
    return Integer(n) || Boolean(b);
  }

 private:
  void Space() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r')) ++i_;
  }
  bool Take(char c) {
    Space();
    if (i_ >= s_.size() || s_[i_] != c) return false;
    ++i_;
    return true;
  }
  bool End() {
    Space();
    return i_ == s_.size();
  }
  bool Hex(std::uint32_t& out) {
    if (i_ + 4 > s_.size()) return false;
    for (int k = 0; k < 4; ++k) {
      const char c = s_[i_++];
      const int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
      if (digit < 0) return false;
      out = out * 16 + static_cast<std::uint32_t>(digit);
    }
    return true;
  }
  static void AppendUtf8(std::uint32_t code, std::string& out) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6)), out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12)), out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18)), out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F)), out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  std::string_view s_;
  std::size_t i_ = 0;
};

std::optional<PageOutcome> OutcomeNamed(std::string_view name) {
  for (std::size_t i = 0; i < kPageOutcomeCount; ++i) {
    if (OutcomeName(static_cast<PageOutcome>(i)) == name) return static_cast<PageOutcome>(i);
  }
  return std::nullopt;
}

bool ReadHeader(std::string_view line, JournalRun& run, std::int64_t& end) {
  LineParser parser(line);
  std::string journal;
  std::int64_t version = 0, n = 0;
  const bool read = parser.Object([&](std::string_view key) {
    if (key == "journal") return parser.String(journal);
    if (key == "version") return parser.Integer(version);
    if (key == "seeds") return parser.String(run.seeds);
    if (key == "seedCount") return parser.Integer(run.seedCount);
    if (key == "depth") return parser.Integer(n) && (run.depth = static_cast<std::int32_t>(n), true);
    if (key == "unique") return parser.Boolean(run.unique);
    if (key == "source") return run.source.clear(), parser.String(run.source);
    if (key == "format") return parser.String(run.format);
    if (key == "encoding") return parser.String(run.encoding);
    if (key == "output") return parser.String(run.output);
    if (key == "pace") return parser.String(run.pace);
    if (key == "filters") return parser.String(run.filters);
    if (key == "end") return parser.Integer(end);
    if (key == "seedList")
      return parser.Strings([&](const std::string& seed) { run.seedList.push_back(Utf8ToGbk(seed)); });
    return parser.Skip();
  });
  return read && journal == "kelvarn" && version == 1;
}

}  // namespace

std::string SeedsDigest(const TextArray& seeds) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const Text& seed : seeds) {
    for (const char c : seed) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    hash = (hash ^ 0xFFu) * 1099511628211ull;  // no seed holds this byte: seeds "ab" and "a","b" differ
  }
  char text[32];
  std::snprintf(text, sizeof text, "fnv1a64:%016llx", static_cast<unsigned long long>(hash));
  return text;
}

void AppendJsonText(std::string_view gbk, std::string& out) { AppendJsonUtf8(GbkToUtf8(gbk), out); }

std::string JournalHeaderLine(const JournalRun& run, std::int64_t outputEnd) {
  std::string line;
  AppendField("journal", line), line += "\"kelvarn\"";
  AppendField("version", line), line += '1';
  AppendField("seeds", line), AppendJsonUtf8(run.seeds, line);
  AppendField("seedCount", line), line += std::to_string(run.seedCount);
  AppendField("depth", line), line += std::to_string(run.depth);
  AppendField("unique", line), line += run.unique ? "true" : "false";
  AppendField("source", line), AppendJsonUtf8(run.source, line);
  AppendField("format", line), AppendJsonUtf8(run.format, line);
  AppendField("encoding", line), AppendJsonUtf8(run.encoding, line);
  AppendField("output", line), AppendJsonUtf8(run.output, line);
  AppendField("pace", line), AppendJsonUtf8(run.pace, line);
  AppendField("end", line), line += std::to_string(outputEnd);
  if (!run.filters.empty()) AppendField("filters", line), AppendJsonUtf8(run.filters, line);
  if (!run.seedList.empty()) {
    AppendField("seedList", line), line += '[';
    for (std::size_t i = 0; i < run.seedList.size(); ++i) {
      if (i > 0) line += ',';
      AppendJsonText(run.seedList[i], line);
    }
    line += ']';
  }
  return line += "}\n";
}

std::string FiltersText(const FilterRules& rules, const TextArray& stopWords, bool keepFiltered) {
  Text text;
  const auto add = [&text](std::string_view rule) {
    if (!text.empty()) text += ' ';
    text += rule;
  };
  const auto words = [](const TextArray& list) {
    Text joined;
    for (const Text& word : list) joined += (joined.empty() ? "" : ",") + word;
    return joined;
  };
  if (!rules.include.empty()) add("--include " + words(rules.include));
  if (!rules.exclude.empty()) add("--exclude " + words(rules.exclude));
  if (!stopWords.empty()) add("--exclude-file " + SeedsDigest(stopWords));
  if (rules.mustContain != MustContain::kNothing)
    add(rules.mustContain == MustContain::kSeed ? "--must-contain seed" : "--must-contain root-words");
  if (rules.minChars > 0) add("--min-chars " + std::to_string(rules.minChars));
  if (rules.maxChars > 0) add("--max-chars " + std::to_string(rules.maxChars));
  if (!text.empty() && keepFiltered) add("--filtered keep");
  return GbkToUtf8(text);
}

std::string_view RetiredLine() { return "{\"retired\":true}\n"; }

std::string JournalPageLine(const Harvester::PageEnd& page, std::int64_t outputEnd) {
  // The page's texts go to UTF-8 in one conversion, zero bytes between them:
  // a converter's start-up costs more than a short phrase's bytes.
  std::string gbk;
  for (const std::string_view text : {page.keyword, page.parent, page.seed}) gbk.append(text).push_back('\0');
  for (const Harvester::PhraseOrigin& origin : page.phrases) gbk.append(origin.phrase).push_back('\0');
  const std::string utf8 = GbkToUtf8(gbk);
  std::string_view rest = utf8;
  const auto next = [&rest] {
    const std::size_t end = std::min(rest.find('\0'), rest.size());
    const std::string_view text = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    return text;
  };
  std::string line;
  AppendField("path", line), AppendJsonUtf8(page.path, line);
  AppendField("keyword", line), AppendJsonUtf8(next(), line);
  AppendField("level", line), line += std::to_string(page.level);
  AppendField("parent", line), AppendJsonUtf8(next(), line);
  AppendField("seed", line), AppendJsonUtf8(next(), line);
  AppendField("outcome", line), line += '"', line += OutcomeName(page.outcome), line += '"';
  AppendField("status", line), line += std::to_string(page.status);
  AppendField("source", line), line += '"', line += SourceName(page.source), line += '"';
  AppendField("phrases", line), line += '[';
  for (std::size_t i = 0; i < page.phrases.size(); ++i) {
    if (i > 0) line += ',';
    AppendJsonUtf8(next(), line);
  }
  line += ']';
  AppendField("end", line), line += std::to_string(outputEnd);
  return line += "}\n";
}

JournalContents JournalContents::Read(std::string_view bytes, std::int64_t outputSize) {
  JournalContents contents;
  std::size_t at = 0;
  std::int64_t number = 0;
  for (std::size_t end; (end = bytes.find('\n', at)) != std::string_view::npos; at = end + 1) {
    const std::string_view line = bytes.substr(at, end - at);
    ++number;
    std::int64_t outputEnd = -1;
    if (number == 1) {
      if (!ReadHeader(line, contents.run_, outputEnd) || outputEnd < 0) {
        contents.error_ = "line 1: not the header of a Kelvarn journal";
        return contents;
      }
      // A page a line at most: counting them costs far less than rehashing,
      // and only a journal's lines are worth the table.
      contents.answered_.reserve(static_cast<std::size_t>(std::count(bytes.begin() + end + 1, bytes.end(), '\n')));
    } else if (line == RetiredLine().substr(0, RetiredLine().size() - 1)) {
      contents.retired_ = true;
    } else {
      LineParser parser(line);
      std::string path, outcome;
      Page page{};
      const bool read = parser.Object([&](std::string_view key) {
        if (key == "path") return parser.String(path);
        if (key == "outcome") return parser.String(outcome);
        if (key == "end") return parser.Integer(outputEnd);
        if (key == "phrases") {
          return parser.Strings([&](const std::string& phrase) {
            page.phrases += phrase;
            page.phrases += '\0';
          });
        }
        return parser.Skip();
      });
      const std::optional<PageOutcome> named = OutcomeNamed(outcome);
      if (!read || path.empty() || !named || outputEnd < 0) {
        contents.error_ = "line " + std::to_string(number) + ": not a page of a Kelvarn journal";
        return contents;
      }
      // A page whose phrases never reached the output is not there, nor is
      // anything after it.
      if (outputEnd > outputSize) break;
      page.outcome = *named;
      ++contents.pages_;
      if (page.outcome == PageOutcome::kPhrases || page.outcome == PageOutcome::kNoBlock) {
        contents.answered_.insert_or_assign(std::move(path), std::move(page));
      } else {
        contents.answered_.erase(path);  // asked again, and this time it failed
      }
    }
    if (outputEnd > outputSize) {
      if (number == 1) contents.error_ = "the output is shorter than the journal's header says: not its output";
      break;
    }
    contents.keptBytes_ = static_cast<std::int64_t>(end + 1);
    contents.outputEnd_ = outputEnd;
  }
  if (number == 0) contents.error_ = "empty: no header line";
  return contents;
}

std::optional<Harvester::Answered> JournalContents::Answered(std::string_view path) const {
  const auto page = answered_.find(std::string(path));
  if (page == answered_.end()) return std::nullopt;
  Harvester::Answered answered{page->second.outcome, {}};
  // One conversion for the page, not one a phrase: opening the converter
  // costs more than converting a phrase. The zero bytes pass through it.
  const Text gbk = Utf8ToGbk(page->second.phrases);
  std::string_view rest = gbk;
  for (std::size_t end; (end = rest.find('\0')) != std::string_view::npos; rest.remove_prefix(end + 1)) {
    answered.phrases.emplace_back(rest.substr(0, end));
  }
  return answered;
}

std::optional<std::string> JournalContents::Differs(const JournalRun& now) const {
  const auto differ = [](std::string_view field, const auto& journal, const auto& run) -> std::optional<std::string> {
    if (journal == run) return std::nullopt;
    const auto text = [](const auto& value) {
      if constexpr (std::is_same_v<std::decay_t<decltype(value)>, bool>) {
        return std::string(value ? "on" : "off");
      } else if constexpr (std::is_arithmetic_v<std::decay_t<decltype(value)>>) {
        return std::to_string(value);
      } else {
        return std::string(value);
      }
    };
    return std::string(field) + ": the journal's " + text(journal) + ", this run's " + text(run);
  };
  const JournalRun& was = run_;
  if (was.seeds != now.seeds || was.seedCount != now.seedCount) {
    return "seeds: not the journal's (it has " + std::to_string(was.seedCount) + ", this run " +
           std::to_string(now.seedCount) + ")";
  }
  for (std::optional<std::string> d :
       {differ("depth", was.depth, now.depth), differ("--unique", was.unique, now.unique),
        differ("--source", was.source, now.source), differ("--format", was.format, now.format),
        differ("--encoding", was.encoding, now.encoding), differ("--output", was.output, now.output),
        differ("filters", was.filters.empty() ? "none" : was.filters, now.filters.empty() ? "none" : now.filters)}) {
    if (d) return d;
  }
  return std::nullopt;
}

}  // namespace kelvarn
