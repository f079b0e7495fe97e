#include "cli/harvest_command.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/headless_window.h"
#include "app/journal.h"
#include "app/proxy_list.h"
#include "app/search_base.h"
#include "app/search_page.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/table_export.h"
#include "base/thread_safety.h"
#include "cli/system.h"
#include "cli/tree_format.h"
#include "net/http_client.h"
#include "net/proxy.h"
#include "text/encoding.h"
#include "text/files.h"
#include "text/line_splitter.h"

namespace kelvarn {
namespace {

// A seeds file is a list of keywords that a run requests one by one: input
// past these bounds is something else (a device, an endless pipe), and
// reading it whole would only end with memory.
constexpr std::size_t kMaxSeedsInputBytes = std::size_t{64} << 20;
constexpr std::size_t kMaxSeedsFromFile = 1000000;
// What a seeds file's first bytes tell of its encoding, the rest would too.
constexpr std::size_t kEncodingSampleBytes = std::size_t{64} << 10;

constexpr const char* kUsage =
    "usage: kelvarn harvest [--depth N] [--workers N] [--search-url URL] [--output FILE]\n"
    "                       [--seed TEXT]... [--on-block wait|stop] [--retries N] [--quiet]\n"
    "                       [--rate N|auto|0] [--unique] [--proxy URL]... [--proxies FILE]\n"
    "                       [--no-direct] [--journal FILE | --resume FILE]\n"
    "                       [--include WORDS] [--exclude WORDS] [--exclude-file FILE]\n"
    "                       [--must-contain seed|root-words] [--min-chars N] [--max-chars N]\n"
    "                       [--filtered hide|keep] [--source related|suggest|both]\n"
    "                       [--encoding gbk|utf-8] [--format text|tsv|jsonl|csv|xlsx]\n"
    "                       [--no-bom] [SEEDS_FILE | -]\n"
    "Harvests the related phrases of the seeds (the file's lines, then every --seed) down\n"
    "to the depth, writing each phrase as it arrives, to FILE or standard output.\n"
    "--source suggest asks the engine's search suggestions for each keyword in place of its\n"
    "related searches; both asks each keyword from each (two requests), and --unique then\n"
    "lists a phrase either gave once and asks it from each once.\n"
    "--encoding applies to the seeds file, --seed and the output: utf-8 reads lines ending\n"
    "in LF (or CR LF) and writes UTF-8 lines ending in LF; gbk reads and writes the window's\n"
    "keyword files, GBK lines ending in CR LF. The default is utf-8 when the locale's charset\n"
    "(LC_ALL, LC_CTYPE or LANG) is UTF-8, else gbk; a seeds file that looks otherwise is\n"
    "warned about. A seeds file holds at most 64 MiB and 1000000 keywords. Depth and\n"
    "workers default to config.ini (1 and 20): beside the program when that directory is\n"
    "writable, else in $XDG_CONFIG_HOME/kelvarn (~/.config/kelvarn); a value there that is\n"
    "no whole number of at least 1 is warned about, and the default used. The search URL,\n"
    "http[s]://HOST[:PORT], defaults to KELVARN_SEARCH_URL when that is set.\n"
    "--rate paces the requests: N a minute; auto (the default) finds what the engine allows,\n"
    "starting slowly and backing off well below a rate that drew a verification page; 0 asks\n"
    "as fast as the workers go. Never more requests are on their way than a second's worth.\n"
    "--proxy http://[USER:PASS@]HOST:PORT or socks5://[USER:PASS@]HOST:PORT (repeatable) and\n"
    "--proxies FILE (one such URL a line, # comments, optionally a tab and a cookies.txt for\n"
    "that proxy) add identities: each asks at its own pace with its own cookies and rests on\n"
    "its own when blocked, while the others take its pages. The direct connection, with\n"
    "config.ini's cookies.txt, is one more unless --no-direct. A proxy that fails rests 30 s,\n"
    "twice as long each time in a row, up to 15 min; one that never worked is named at the end.\n"
    "Passwords are never printed; keep the proxies file readable by its owner alone.\n"
    "--journal FILE writes a line to FILE for every page that ends, after its phrases reach\n"
    "--output (needed then); each line is on disk within a second. After a crash, a kill or\n"
    "a stop, the same command with --resume FILE asks only for the pages not answered yet\n"
    "and appends to the same output, which ends as if the run had never stopped. A resume\n"
    "is refused (exit 2) when the seeds, the depth, --unique, --source, --format,\n"
    "--encoding, --output or the filters differ from the journal's; pacing, workers and\n"
    "proxies may change.\n"
    "--unique asks for each phrase once (compared with full-width letters and digits made\n"
    "half-width, spaces collapsed and letters in lower case): text output lists it once; tsv\n"
    "and jsonl write each repeat too, marked repeat.\n"
    "A failed page, or a 5xx page without phrases, is requested again --retries times (default:\n"
    "config.ini's 重试次数, else 2), after 1 s and then 4 s. At a verification page the run rests\n"
    "for 60 s, then asks for one page turned away: when it is served the rest follow, else the\n"
    "run rests twice as long, up to 15 min. A block that one rest outlasted makes the next\n"
    "block's first rest a quarter shorter. After 5 rests in a row without phrases the run ends\n"
    "(with several identities, when each has had 5, or never worked).\n"
    "--on-block stop ends it at the first verification page.\n"
    "Exit status: 0 when every page gave phrases or had no related block; 3 when the run\n"
    "completed but pages failed, had an error status or were verification pages; 4 when\n"
    "the run ended at a verification page; 1 on a file error (an output that cannot be\n"
    "written, a full disk, stops the run at once) or when the seeds hold no keyword; 2 on\n"
    "a usage error. Ctrl-C, SIGHUP and SIGTERM stop the run and keep what was written, in\n"
    "whole lines (exit 130, 129 and 143; on Windows closing the console gives 129, logging\n"
    "off 143); a closed output pipe stops it silently, as SIGPIPE does.\n"
    "--format text (the default) writes those lines. tsv and jsonl tell where each phrase\n"
    "came from, a line a phrase, always UTF-8 with LF, whatever the encoding of the text\n"
    "lines. tsv: a header row, then phrase, level, parent (the keyword whose page gave it),\n"
    "seed and source (related or suggest), tab-separated; a tab, LF, CR or backslash inside\n"
    "a field is written \\t, \\n, \\r or \\\\. jsonl: a JSON object a line with phrase, level,\n"
    "parent, seed, outcome (what the page gave: phrases, error status, failed), position\n"
    "(on that page, from 1) and source.\n"
    "Seeds are level 1, so a seed's phrases are level 2.\n"
    "csv and xlsx are tables for spreadsheets with the columns phrase, level, parent, seed\n"
    "and source (with --unique, without the repeats). csv: UTF-8 after a byte-order mark\n"
    "(by which Excel knows UTF-8; --no-bom leaves it out), lines ending in CR LF, a field\n"
    "quoted when it holds a comma, a quote or a line end; a text that begins with =, +, -, @,\n"
    "a tab or CR is written after an apostrophe, so that a spreadsheet does not run it as a\n"
    "formula. xlsx: an Excel workbook, needing --output FILE and no --journal, written whole\n"
    "when the run ends (also when stopped); its texts are written unchanged, as text cells,\n"
    "and a sheet holds 1048575 phrases: more go on in a second sheet, and so on.\n"
    "Filters keep the tree on topic: a phrase they turn away is not asked for, so it costs\n"
    "no request and brings no phrases of its own. --include WORDS keeps only phrases that\n"
    "hold one of the words, --exclude WORDS and --exclude-file FILE (one word a line, UTF-8\n"
    "or GBK) drop those that hold one; WORDS are parted by commas, \",\" or the full-width\n"
    "\"，\". --must-contain seed keeps phrases that hold their seed; root-words, those that\n"
    "hold one of its words of two or more characters (its runs between spaces and\n"
    "punctuation: a seed written without them is one word). --min-chars and --max-chars\n"
    "bound a phrase's length in characters. Words are compared with ASCII letters in\n"
    "either case and full-width letters and digits as half-width ones, whole characters\n"
    "only. Seeds are never filtered. --filtered hide (the default) leaves a filtered phrase\n"
    "out of the output; keep writes it (text: as any phrase; tsv: a last column filtered,\n"
    "1 or 0; jsonl: \"filtered\":true). A resume is refused under other filters.\n";

int UsageError(const std::string& problem) {
  std::fprintf(stderr, "kelvarn harvest: %s\n%s", problem.c_str(), kUsage);
  return 2;
}

struct Arguments {
  std::optional<std::int32_t> depth, workers, retries;
  std::optional<std::string> searchUrl;  // as given to --search-url
  std::string output;                    // empty: standard output
  std::vector<std::string> seeds;        // from --seed, in the encoding
  std::optional<std::string> seedsFile;  // "-": standard input
  std::optional<Encoding> encoding;      // kUtf8 or kGb18030; absent: the locale's
  bool quiet = false;
  bool stopOnBlock = false;  // --on-block stop
  bool unique = false;
  Pace pace{Pace::Mode::kAuto, 0};
  std::vector<ProxyUrl> proxies;  // --proxy
  std::optional<std::string> proxiesFile;
  bool noDirect = false;
  std::optional<std::string> journal;  // with resume: the journal to continue
  bool resume = false;
  OutputFormat format = OutputFormat::kText;
  bool bom = true;                            // a csv starts with the UTF-8 byte-order mark
  std::string source = "related";             // --source, as the journal names it
  std::vector<std::string> include, exclude;  // the words' lists as given, in the encoding
  std::optional<std::string> excludeFile;
  MustContain mustContain = MustContain::kNothing;
  std::int32_t minChars = 0, maxChars = 0;
  bool keepFiltered = false;  // --filtered keep
};

// A whole decimal number in range, or nothing.
std::optional<std::int32_t> Number(const char* text) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < -1000000 || value > 1000000) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

std::optional<int> Parse(int argc, char** argv, Arguments& a) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) return nullptr;
      static_cast<void>(name);
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--quiet" || arg == "-q") {
      a.quiet = true;
    } else if (arg == "--unique") {
      a.unique = true;
    } else if (arg == "--no-direct") {
      a.noDirect = true;
    } else if (arg == "--no-bom") {
      a.bom = false;
    } else if (arg == "--journal" || arg == "--resume") {
      const char* v = value(argv[i]);
      if (!v || !*v) return UsageError(std::string(arg) + " needs a file name");
      if (a.journal) return UsageError("one --journal or --resume at most");
      a.journal = v;
      a.resume = arg == "--resume";
    } else if (arg == "--proxy") {
      const char* v = value(argv[i]);
      ProxyParse parsed = ParseProxyUrl(v ? v : "");
      if (!parsed.proxy)
        return UsageError("--proxy: " + parsed.error);  // the reason, never the URL: it may hold a password
      a.proxies.push_back(std::move(*parsed.proxy));
    } else if (arg == "--proxies") {
      const char* v = value(argv[i]);
      if (!v || !*v) return UsageError("--proxies needs a file name");
      a.proxiesFile = v;
    } else if (arg == "--rate") {
      const char* v = value(argv[i]);
      const std::optional<Pace> pace = ParsePace(v ? v : "");
      if (!pace) return UsageError("--rate needs auto, 0 or requests a minute (1 to 100000)");
      a.pace = *pace;
    } else if (arg == "--on-block") {
      const char* v = value(argv[i]);
      const std::string_view mode = v ? v : "";
      if (mode != "wait" && mode != "stop") return UsageError("--on-block needs wait or stop");
      a.stopOnBlock = mode == "stop";
    } else if (arg == "--source") {
      const char* v = value(argv[i]);
      const std::string_view source = v ? v : "";
      if (source != "related" && source != "suggest" && source != "both")
        return UsageError("--source needs related, suggest or both");
      a.source = source;
    } else if (arg == "--format") {
      const char* v = value(argv[i]);
      const std::optional<OutputFormat> format = ParseOutputFormat(v ? v : "");
      if (!format) return UsageError("--format needs text, tsv, jsonl, csv or xlsx");
      a.format = *format;
    } else if (arg == "--include" || arg == "--exclude") {
      const char* v = value(argv[i]);
      if (!v) return UsageError(std::string(arg) + " needs words, parted by commas");
      (arg == "--include" ? a.include : a.exclude).emplace_back(v);
    } else if (arg == "--exclude-file") {
      const char* v = value(argv[i]);
      if (!v || !*v) return UsageError("--exclude-file needs a file name");
      a.excludeFile = v;
    } else if (arg == "--must-contain") {
      const char* v = value(argv[i]);
      const std::optional<MustContain> must = ParseMustContain(v ? v : "");
      if (!must) return UsageError("--must-contain needs seed or root-words");
      a.mustContain = *must;
    } else if (arg == "--filtered") {
      const char* v = value(argv[i]);
      const std::string_view mode = v ? v : "";
      if (mode != "hide" && mode != "keep") return UsageError("--filtered needs hide or keep");
      a.keepFiltered = mode == "keep";
    } else if (arg == "--min-chars" || arg == "--max-chars") {
      const char* v = value(argv[i]);
      const auto n = Number(v ? v : "");
      if (!n || *n < 0) return UsageError(std::string(arg) + " needs a number of characters, 0 for no bound");
      (arg == "--min-chars" ? a.minChars : a.maxChars) = *n;
    } else if (arg == "--depth" || arg == "--workers" || arg == "--retries") {
      const char* v = value(argv[i]);
      if (!v) return UsageError(std::string(arg) + " needs a number");
      const auto n = Number(v);
      if (!n) return UsageError(std::string(arg) + ": not a number: " + v);
      (arg == "--depth" ? a.depth : arg == "--workers" ? a.workers : a.retries) = *n;
    } else if (arg == "--search-url") {
      const char* v = value(argv[i]);
      if (!v) return UsageError("--search-url needs a URL");
      a.searchUrl = v;
    } else if (arg == "--output" || arg == "-o") {
      const char* v = value(argv[i]);
      if (!v || !*v) return UsageError("--output needs a file name");
      a.output = v;
    } else if (arg == "--encoding") {
      const char* v = value(argv[i]);
      const std::string_view name = v ? v : "";
      if (name != "gbk" && name != "utf-8") return UsageError("--encoding needs gbk or utf-8");
      a.encoding = name == "gbk" ? Encoding::kGb18030 : Encoding::kUtf8;
    } else if (arg == "--seed") {
      const char* v = value(argv[i]);
      if (!v) return UsageError("--seed needs a keyword");
      a.seeds.emplace_back(v);
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
      return UsageError("unknown option " + std::string(arg));
    } else if (a.seedsFile) {
      return UsageError("one seeds file at most");
    } else {
      a.seedsFile = std::string(arg);
    }
  }
  if (!a.seedsFile && a.seeds.empty())
    return UsageError("no seeds: give a seeds file, - for standard input, or --seed");
  if (a.noDirect && a.proxies.empty() && !a.proxiesFile) return UsageError("--no-direct needs --proxy or --proxies");
  if (a.format == OutputFormat::kXlsx && a.output.empty()) {
    return UsageError("--format xlsx needs --output FILE: a workbook is not written to standard output");
  }
  if (a.format == OutputFormat::kXlsx && a.journal) {
    return UsageError(std::string(a.resume ? "--resume" : "--journal") +
                      " needs a format written line by line: an xlsx workbook is whole only at its end; "
                      "journal a csv run instead");
  }
  if (a.maxChars > 0 && a.maxChars < a.minChars)
    return UsageError("--max-chars is below --min-chars: no phrase passes");
  // A table has no column to mark a kept phrase, and one unmarked would pass
  // for a phrase on topic.
  if (a.keepFiltered && (a.format == OutputFormat::kCsv || a.format == OutputFormat::kXlsx))
    return UsageError("--filtered keep needs a format that marks them: text, tsv or jsonl");
  if (a.journal && a.output.empty()) {
    return UsageError(std::string(a.resume ? "--resume" : "--journal") +
                      " needs --output FILE: a resumed run appends to it");
  }
  // A bad search base would fail every request of the run, one by one.
  if (const std::optional<std::string> error = GivenSearchBaseError(a.searchUrl)) return UsageError(*error);
  return std::nullopt;
}

// Says on standard error when a seeds file's first bytes do not look like
// what they are read as; false, after a message, for UTF-16, which neither
// encoding reads.
bool CheckSeedsFile(std::string_view head, const std::string& name, Encoding encoding) {
  const Detection d = DetectEncoding(head);
  if (d.encoding == Encoding::kUtf16Le || d.encoding == Encoding::kUtf16Be) {
    std::fprintf(stderr, "kelvarn harvest: %s is UTF-16: save it as UTF-8 or GBK\n", name.c_str());
    return false;
  }
  const char* problem = nullptr;
  const bool bareLf = d.lineEnds == LineEnds::kLf || d.lineEnds == LineEnds::kMixed;
  if (encoding == Encoding::kUtf8) {
    if (d.encoding == Encoding::kGb18030) problem = "is not UTF-8 (GBK?), but is read as UTF-8: use --encoding gbk";
  } else if (d.clearlyUtf8 || (bareLf && d.encoding != Encoding::kGb18030)) {
    problem = "looks like UTF-8, but is read as GBK lines ending in CR LF: use --encoding utf-8";
  } else if (bareLf) {
    problem =
        "has lines ending in LF alone, but GBK lines end in CR LF, so they run together: end them in CR LF, or "
        "convert the file to UTF-8 and use --encoding utf-8";
  }
  if (problem) std::fprintf(stderr, "kelvarn harvest: warning: %s %s\n", name.c_str(), problem);
  return true;
}

// The keywords of the seeds file, or of standard input for "-", by the import
// rules (GBK lines ending in CR LF) or as UTF-8 lines ending in LF, read as
// they arrive and keeping only the keywords. False, after a message, when the
// input cannot be read, is UTF-16 or passes the bounds.
bool ReadSeeds(const std::string& path, Encoding encoding, TextArray& seeds) {
  const bool standardInput = path == "-";
  const std::string name = standardInput ? "standard input" : path;
  std::FILE* in = standardInput ? stdin : std::fopen(path.c_str(), "rb");
  if (!in) {
    std::fprintf(stderr, "kelvarn harvest: cannot read %s: %s\n", name.c_str(), std::strerror(errno));
    return false;
  }
  const bool utf8 = encoding == Encoding::kUtf8;
  LineSplitter lines(
      [&](std::string_view line) {
        Text seed = utf8 ? Utf8ToGbk(line) : Text(line);
        if (!TrimLeadingSpaces(seed).empty()) seeds.push_back(std::move(seed));  // nothing but spaces: skipped
      },
      utf8 ? LineSplitter::Ends::kLf : LineSplitter::Ends::kCrLf);
  // The first bytes are held back until they can tell the encoding.
  std::optional<std::string> head = std::string();
  bool refused = false;
  const auto startLines = [&] {
    refused = !CheckSeedsFile(*head, name, encoding);
    std::string_view bytes = *head;
    if (utf8 && bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    if (!refused) lines.Feed(bytes);
    head.reset();
  };
  std::vector<char> buffer(std::size_t{64} << 10);
  std::size_t total = 0, n = 0;
  do {
    n = std::fread(buffer.data(), 1, buffer.size(), in);
    if (n > 0 && (total += n) <= kMaxSeedsInputBytes) {
      const std::string_view piece(buffer.data(), n);
      if (!head) {
        lines.Feed(piece);
      } else if (head->append(piece).size() >= kEncodingSampleBytes) {
        startLines();
      }
    }
  } while (n > 0 && !refused && total <= kMaxSeedsInputBytes && seeds.size() <= kMaxSeedsFromFile);
  const int readError = errno;
  const bool failed = n == 0 && std::ferror(in);
  if (!standardInput) std::fclose(in);
  if (failed) {
    std::fprintf(stderr, "kelvarn harvest: cannot read %s: %s\n", name.c_str(), std::strerror(readError));
    return false;
  }
  if (n == 0 && head) startLines();
  if (refused) return false;
  if (n == 0) lines.Finish();
  if (total > kMaxSeedsInputBytes || seeds.size() > kMaxSeedsFromFile) {
    std::fprintf(stderr, "kelvarn harvest: %s: too large: a seeds file holds at most 64 MiB and %zu keywords\n",
                 name.c_str(), kMaxSeedsFromFile);
    return false;
  }
  return true;
}

// A --seed text in the encoding: said on standard error when it does not
// look like it.
Text SeedText(const std::string& seed, Encoding encoding) {
  const Encoding looks = DetectEncoding(seed).encoding;
  if (encoding == Encoding::kUtf8 && looks == Encoding::kGb18030) {
    std::fprintf(stderr,
                 "kelvarn harvest: warning: a --seed text is not UTF-8 (GBK?), but is read as UTF-8: "
                 "use --encoding gbk\n");
  } else if (encoding == Encoding::kGb18030 && looks == Encoding::kUtf8) {
    std::fprintf(stderr,
                 "kelvarn harvest: warning: --seed %s looks like UTF-8, but is read as GBK: use --encoding "
                 "utf-8\n",
                 seed.c_str());
  }
  return encoding == Encoding::kUtf8 ? Utf8ToGbk(seed) : Text(seed);
}

// A phrase as a line of the output: the window's export format (GBK, CR LF),
// or UTF-8 and LF.
std::string OutputLine(std::string_view phrase, Encoding encoding) {
  if (encoding == Encoding::kUtf8) return GbkToUtf8(phrase) + "\n";
  std::string line;
  line.reserve(phrase.size() + 2);
  return line.append(phrase).append("\r\n");
}

// The outcomes other than phrases that occurred, with their counts: for the
// progress line ("  no block 2  failed 1") or the summary (", 2 without the
// related block, 1 failed").
std::string OutcomeCounts(const PageCounts& counts, bool progressLine) {
  struct Name {
    PageOutcome outcome;
    const char* brief;
    const char* full;
  };
  static constexpr Name kNames[] = {
      {PageOutcome::kNoBlock, "no block", "without the related block"},
      {PageOutcome::kFailed, "failed", "failed"},
      {PageOutcome::kVerification, "verification", "verification pages"},
      {PageOutcome::kErrorStatus, "error status", "with an error status"},
  };
  std::string out;
  for (const Name& name : kNames) {
    const std::string n = std::to_string(counts[static_cast<std::size_t>(name.outcome)]);
    if (n == "0") continue;
    out += progressLine ? "  " + std::string(name.brief) + " " + n : ", " + n + " " + name.full;
  }
  return out;
}

// What the command's main thread waits for: the end of the run, the user
// stopping it, or the output failing.
struct Wake {
  Mutex mutex;
  std::condition_variable changed;
  bool finished GUARDED_BY(mutex) = false;
  std::optional<cli::Interruption> interrupted GUARDED_BY(mutex);  // the first only
  bool readerGone GUARDED_BY(mutex) = false;                       // the output is a pipe whose reader closed it
  bool writeFailed GUARDED_BY(mutex) = false;                      // the output cannot take more
  bool blocked GUARDED_BY(mutex) = false;                          // the run was turned away by verification pages

  void Set(bool Wake::*flag) {
    {
      MutexLock lock(mutex);
      this->*flag = true;
    }
    changed.notify_all();
  }
  void Interrupt(const cli::Interruption& how) {
    {
      MutexLock lock(mutex);
      if (!interrupted) interrupted = how;
    }
    changed.notify_all();
  }
};

// What the flags, the seeds file and config.ini ask of the run.
struct Plan {
  TextArray seeds;
  std::int32_t depth = 1, workers = 20, retries = 2;
  Encoding encoding = Encoding::kGb18030;  // of the seeds and the output: kUtf8 or kGb18030
  FILE* out = stdout;
  std::vector<std::shared_ptr<HttpIdentity>> identities;  // none: direct alone
  // A journaled run: the journal, the output it appends whole pages to, the
  // output's size, and what an earlier run got (when resuming).
  std::optional<AppendFile> journal, output;
  std::int64_t outputBytes = 0;
  std::shared_ptr<const JournalContents> resumed;
  std::unique_ptr<PhraseTable> table;  // --format xlsx
  // The run's filters, and as its journal records them.
  std::shared_ptr<const PhraseFilter> filter;
  std::string filtersText;
};

const char* FormatName(OutputFormat format) {
  switch (format) {
    case OutputFormat::kTsv:
      return "tsv";
    case OutputFormat::kJsonl:
      return "jsonl";
    case OutputFormat::kCsv:
      return "csv";
    case OutputFormat::kXlsx:
      return "xlsx";
    case OutputFormat::kText:
      break;
  }
  return "text";
}

// What a new output starts with: a header row for tsv and csv, else nothing.
std::string OutputHeader(const Arguments& args) {
  if (args.format == OutputFormat::kCsv) return CsvHeader(args.bom);
  return std::string(TreeHeader(args.format, args.unique, args.keepFiltered));
}

// Opens the journal and the output of a journaled run: for a new one, an
// empty journal and an emptied output; to resume, the journal read, checked
// against this run, and both cut to what it holds whole. An exit code, after
// a message, when that fails.
std::optional<int> OpenJournal(const Arguments& args, Plan& plan) {
  const std::string& path = *args.journal;
  const auto fail = [&](int code, const std::string& why) {
    std::fprintf(stderr, "kelvarn harvest: %s\n", why.c_str());
    return code;
  };
  plan.journal = AppendFile::Open(path);
  if (!plan.journal) return fail(1, path + ": " + std::strerror(errno));
  if (!plan.journal->Lock()) return fail(1, path + ": in use by another run");
  JournalRun run{SeedsDigest(plan.seeds),
                 static_cast<std::int64_t>(plan.seeds.size()),
                 plan.depth,
                 args.unique,
                 args.source,
                 FormatName(args.format),
                 plan.encoding == Encoding::kUtf8 ? "utf-8" : "gbk",
                 args.output,
                 PaceText(args.pace),
                 {},
                 plan.filtersText};
  if (!args.resume && plan.journal->Size() > 0) {
    return fail(2, path + " holds a journal already: continue it with --resume " + path + ", or name another file");
  }
  plan.output = AppendFile::Open(args.output);
  if (!plan.output) return fail(1, "cannot write " + args.output + ": " + std::strerror(errno));
  if (!args.resume) {
    const std::string header = OutputHeader(args);
    if (!plan.output->Truncate(0) || !plan.output->Append(header) ||
        !plan.journal->Append(JournalHeaderLine(run, static_cast<std::int64_t>(header.size())))) {
      return fail(1, "cannot write " + args.output + " and " + path + ": " + std::strerror(errno));
    }
    plan.outputBytes = static_cast<std::int64_t>(header.size());
    return std::nullopt;
  }
  const std::optional<std::string> bytes = ReadFile(path);
  if (!bytes) return fail(1, "cannot read " + path + ": " + std::strerror(errno));
  auto contents = std::make_shared<JournalContents>(JournalContents::Read(*bytes, plan.output->Size()));
  if (!contents->Error().empty()) return fail(1, path + ": " + contents->Error());
  if (const std::optional<std::string> differs = contents->Differs(run)) {
    return fail(2, "cannot resume " + path + ": " + *differs);
  }
  // What a crash left half-written goes: a torn last line, and phrases of
  // pages the journal does not hold.
  if (!plan.journal->Truncate(contents->KeptBytes()) || !plan.output->Truncate(contents->OutputEnd())) {
    return fail(1, "cannot cut " + path + " and " + args.output + " to what they hold whole: " + std::strerror(errno));
  }
  plan.outputBytes = contents->OutputEnd();
  plan.resumed = std::move(contents);
  return std::nullopt;
}

// The identities of the flags: direct (unless --no-direct), each --proxy,
// then each line of --proxies, with its cookies. An exit code, after a
// message, when one cannot be made.
std::optional<int> AddIdentities(const Arguments& args, Plan& plan) {
  std::vector<ProxyEntry> entries;
  for (const ProxyUrl& proxy : args.proxies) entries.push_back({proxy, {}});
  if (args.proxiesFile) {
    ProxyList list = ReadProxyList(*args.proxiesFile);
    for (const std::string& warning : list.warnings)
      std::fprintf(stderr, "kelvarn harvest: warning: %s\n", warning.c_str());
    for (const std::string& error : list.errors) std::fprintf(stderr, "kelvarn harvest: %s\n", error.c_str());
    if (!list.errors.empty()) return 1;
    for (ProxyEntry& entry : list.entries) entries.push_back(std::move(entry));
  }
  if (entries.empty()) return std::nullopt;
  MadeIdentities identities = MakeIdentities(entries, !args.noDirect);
  for (const std::string& error : identities.errors) std::fprintf(stderr, "kelvarn harvest: %s\n", error.c_str());
  if (!identities.errors.empty()) return 2;
  plan.identities = std::move(identities.made);
  return std::nullopt;
}

// Whether a setting's text is a whole number as the window types one: ASCII
// or full-width digits after an optional sign, blanks around them. ToInteger
// reads any text, a word as 0.
bool IsWholeNumber(std::string_view gbk) {
  std::string ascii;  // full-width forms (0xA3 and the ASCII code plus 0x80) and the ideographic space folded
  for (std::size_t i = 0; i < gbk.size(); ++i) {
    const auto lead = static_cast<unsigned char>(gbk[i]);
    if (lead < 0x80) {
      ascii += gbk[i];
      continue;
    }
    if (i + 1 >= gbk.size()) return false;
    const auto trail = static_cast<unsigned char>(gbk[++i]);
    if (lead == 0xA3 && trail >= 0xA1) {
      ascii += static_cast<char>(trail - 0x80);
    } else if (lead == 0xA1 && trail == 0xA1) {
      ascii += ' ';
    } else {
      return false;
    }
  }
  const std::size_t first = ascii.find_first_not_of(" \t");
  if (first == std::string::npos) return false;
  std::string_view number = std::string_view(ascii).substr(first, ascii.find_last_not_of(" \t") + 1 - first);
  if (number.starts_with('+') || number.starts_with('-')) number.remove_prefix(1);
  return !number.empty() && number.find_first_not_of("0123456789") == std::string_view::npos;
}

// The filters of the flags, with the stop-word file read; false, after a
// message, when it cannot be.
bool ReadFilter(const Arguments& args, Plan& plan) {
  FilterRules rules;
  const auto words = [&plan](const std::vector<std::string>& lists, TextArray& into) {
    for (const std::string& list : lists) {
      for (Text& word : FilterWords(plan.encoding == Encoding::kUtf8 ? Utf8ToGbk(list) : Text(list)))
        into.push_back(std::move(word));
    }
  };
  words(args.include, rules.include);
  words(args.exclude, rules.exclude);
  TextArray stopWords;
  if (args.excludeFile) {
    // A list of words: one larger than a seeds file is something else.
    const std::optional<std::string> bytes = ReadRegularFile(*args.excludeFile, kMaxSeedsInputBytes + 1);
    if (!bytes || bytes->size() > kMaxSeedsInputBytes) {
      std::fprintf(stderr, "kelvarn harvest: cannot read %s: %s\n", args.excludeFile->c_str(),
                   bytes ? "larger than 64 MiB" : std::strerror(errno));
      return false;
    }
    stopWords = FilterWordsFile(*bytes);
  }
  rules.mustContain = args.mustContain;
  rules.minChars = args.minChars;
  rules.maxChars = args.maxChars;
  // The journal names the stop words by their digest, not one by one.
  plan.filtersText = FiltersText(rules, stopWords, args.keepFiltered);
  rules.exclude.insert(rules.exclude.end(), stopWords.begin(), stopWords.end());
  plan.filter = std::make_shared<const PhraseFilter>(std::move(rules));
  return true;
}

// Reads the seeds and the settings and opens the output; an exit code when
// one of them fails.
std::optional<int> ReadPlan(const Arguments& args, Plan& plan) {
  // Seeds: the file, then the --seed texts. A run without one would end at
  // once as if it had harvested.
  plan.encoding = args.encoding.value_or(cli::UserEncoding());
  if (args.seedsFile && !ReadSeeds(*args.seedsFile, plan.encoding, plan.seeds)) return 1;
  for (const std::string& seed : args.seeds) {
    Text text = SeedText(seed, plan.encoding);
    if (!TrimLeadingSpaces(text).empty()) plan.seeds.push_back(std::move(text));
  }
  if (plan.seeds.empty()) {
    const std::string file = !args.seedsFile ? "" : *args.seedsFile == "-" ? "standard input" : *args.seedsFile;
    const std::string where = file.empty()         ? "the --seed texts"
                              : args.seeds.empty() ? file
                                                   : file + " or the --seed texts";
    std::fprintf(stderr, "kelvarn harvest: no keywords in %s: nothing to harvest\n", where.c_str());
    return 1;
  }

  // Settings: the window's config.ini, read as the window reads it and only
  // for what the flags leave open; nothing is written back. A file over the
  // settings size limit, or no ordinary file, reads as missing: say so.
  const Settings settings(SettingsDirectory());
  bool useIni = !args.depth || !args.workers || !args.retries;
  if (const std::optional<std::string_view> unusable = useIni ? settings.Unusable() : std::nullopt) {
    std::fprintf(stderr, "kelvarn harvest: ignoring %s: %.*s; the default settings apply\n", settings.Path().c_str(),
                 static_cast<int>(unusable->size()), unusable->data());
    useIni = false;
  }
  // A value that is no number, or too small, would run without pages or
  // workers and without a word: it is named, and the default used.
  const auto setting = [&](Text (Settings::*read)() const, std::string_view fallback, std::int32_t least,
                           const char* key, const char* what) {
    const std::int32_t byDefault = ToInteger(Text(fallback));
    if (!useIni) return byDefault;
    const Text value = (settings.*read)();
    if (IsWholeNumber(value) && ToInteger(value) >= least) return ToInteger(value);
    std::fprintf(stderr, "kelvarn harvest: warning: %s: %s=%s is not a whole number of at least %d; %s %d is used\n",
                 settings.Path().c_str(), key, cli::ForTheUser(value).c_str(), least, what, byDefault);
    return byDefault;
  };
  plan.depth = args.depth ? *args.depth : setting(&Settings::Depth, Settings::kDefaultDepth, 1, "采集级别", "depth");
  plan.workers =
      args.workers ? *args.workers : setting(&Settings::Workers, Settings::kDefaultWorkers, 1, "工作线程", "workers");
  plan.retries =
      args.retries ? *args.retries : setting(&Settings::Retries, Settings::kDefaultRetries, 0, "重试次数", "retries");
  if (const std::optional<int> code = AddIdentities(args, plan)) return code;
  if (!ReadFilter(args, plan)) return 1;
  if (args.journal) return OpenJournal(args, plan);

  if (args.format == OutputFormat::kXlsx) {
    std::string error;
    plan.table = PhraseTable::Open(PhraseTable::Kind::kXlsx, args.output, args.bom, &error);
    if (plan.table) return std::nullopt;
    std::fprintf(stderr, "kelvarn harvest: cannot write %s\n", error.c_str());
    return 1;
  }
  if (!args.output.empty() && !args.journal) {
    plan.out = std::fopen(args.output.c_str(), "wb");
    if (!plan.out) {
      std::fprintf(stderr, "kelvarn harvest: cannot write %s: %s\n", args.output.c_str(), std::strerror(errno));
      return 1;
    }
  }
  return std::nullopt;
}

// The headless window, its harvester and the output. Never destroyed: the
// command ends by std::_Exit, and cut-off workers may still be inside.
struct Session {
  HeadlessWindow window;
  Wake wake;
  FILE* out = stdout;
  std::string outName = "standard output";
  std::optional<int> writeError;  // the first failed write's errno; window thread
  std::string failedFile;         // and its file
  std::string tableError;         // "PATH: reason" when it was the table's write
  std::unique_ptr<PhraseTable> table;
  std::optional<Harvester> harvester;

  // On the window thread, right after the failed write. A write to a pipe
  // whose reader has gone (`| head`) fails (cli::OnInterrupt sees to it on
  // POSIX): the run stops then, quietly. Any other failure (a full disk)
  // stops it too: each page asked from then on would be lost.
  void NoteWriteFailure(std::string_view file = {}) {
    const int error = errno;
    if (!writeError) writeError = error, failedFile = file.empty() ? outName : std::string(file);
    wake.Set(cli::ReaderGone() ? &Wake::readerGone : &Wake::writeFailed);
  }
  void NoteTableFailure() {
    if (!writeError) writeError = 0, tableError = table->Error();
    wake.Set(&Wake::writeFailed);
  }
};

// --format tsv and jsonl: the lines come from the harvester's listener,
// which knows where each phrase came from, in place of the list's. They are
// written as they arrive, as text lines are.
// Text lines come this way too when filtered phrases are kept, as the list
// never holds them.
void WriteTreeLines(const Arguments& args, Encoding encoding, Session& session, Harvester::Options& options) {
  session.window.phrases.added = nullptr;
  const OutputFormat format = args.format;
  const bool unique = args.unique, keepFiltered = args.keepFiltered;
  const std::string header = OutputHeader(args);
  if (std::fwrite(header.data(), 1, header.size(), session.out) != header.size()) session.NoteWriteFailure();
  options.onPhrase = [&session, format, unique, keepFiltered, encoding,
                      line = std::string()](const Harvester::PhraseOrigin& origin) mutable {
    line.clear();
    if (format != OutputFormat::kText) {
      AppendTreeLine(format, origin, unique, line, keepFiltered);
    } else if (!origin.repeat) {
      line = OutputLine(origin.phrase, encoding);
    }
    if (std::fwrite(line.data(), 1, line.size(), session.out) != line.size()) session.NoteWriteFailure();
  };
}

// --format xlsx: each phrase a row as it arrives, each once. A row that
// cannot be written stops the run as a failed write does.
void WriteTableRows(Session& session, Harvester::Options& options) {
  session.window.phrases.added = nullptr;
  options.onPhrase = [&session](const Harvester::PhraseOrigin& origin) {
    if (origin.repeat) return;
    PhraseTable& table = *session.table;
    if (!table.Add({origin.phrase, origin.level, origin.parent, origin.seed, origin.source}) && !table.Error().empty())
      session.NoteTableFailure();
  };
}

using IdentityState = Harvester::IdentityProgress::State;

// An identity as the progress lines and the summary name it: its state,
// its rate and its requests by what they got.
std::string IdentityLine(const Harvester::IdentityProgress& identity) {
  std::string line = identity.name + "  ";
  switch (identity.state) {
    case IdentityState::kAsking:
      line +=
          identity.perMinute > 0 ? "asking at " + std::to_string(std::lround(identity.perMinute)) + "/min" : "asking";
      break;
    case IdentityState::kHolding:
      line += identity.until ? "resting until " + *identity.until + " (blocked)" : "probing (blocked)";
      break;
    case IdentityState::kFailing:
      line += identity.until ? "resting until " + *identity.until + " (failing)" : "probing (failing)";
      break;
    case IdentityState::kGivenUp:
      line += "given up (blocked too often)";
      break;
  }
  line += "  served " + std::to_string(identity.served);
  if (identity.verification > 0) line += "  verification " + std::to_string(identity.verification);
  if (identity.failures > 0) line += "  failed " + std::to_string(identity.failures);
  return line;
}

// How a run ended, besides completing.
struct Ending {
  std::optional<cli::Interruption> interrupted;
  bool readerGone = false, writeFailed = false, blocked = false;
  bool Stopped() const { return interrupted || readerGone || writeFailed || blocked; }
};

// A journaled run writes each page whole when it ends: its phrases in one
// write to the output, then its line in one write to the journal. So a
// crash leaves the output as some pages' phrases, each page whole, and the
// journal naming exactly those (up to its last line).
void JournalPages(const Arguments& args, Plan& plan, Session& session, Harvester::Options& options) {
  session.window.phrases.added = nullptr;
  options.onPageEnd = [&session, &plan, format = args.format, unique = args.unique, keep = args.keepFiltered,
                       journal = *args.journal, block = std::string()](const Harvester::PageEnd& page) mutable {
    block.clear();
    for (const Harvester::PhraseOrigin& origin : page.phrases) {
      if (origin.filtered && !keep) continue;
      if (format != OutputFormat::kText) {
        AppendTreeLine(format, origin, unique, block, keep);
      } else if (!origin.repeat) {
        block += OutputLine(origin.phrase, plan.encoding);
      }
    }
    if (!plan.output->Append(block)) return session.NoteWriteFailure(session.outName);
    plan.outputBytes += static_cast<std::int64_t>(block.size());
    if (!plan.journal->Append(JournalPageLine(page, plan.outputBytes))) session.NoteWriteFailure(journal);
  };
  if (plan.resumed) {
    options.answered = [resumed = plan.resumed](std::string_view path) { return resumed->Answered(path); };
  }
}

// Runs the harvest until it completes, is turned away, is interrupted, loses
// its reader or cannot write; flushes the output every 100 ms and draws the
// progress line on a terminal every 250 ms.
Ending RunHarvest(const Arguments& args, Plan& plan, Session& session) {
  HeadlessWindow& window = session.window;
  Wake& wake = session.wake;
  cli::OnInterrupt([&wake](const cli::Interruption& how) { wake.Interrupt(how); });

  Harvester::Options options = StartUp(ProcessorChoice::kCurrent, args.searchUrl);
  cli::UseFewHeapArenas();
  session.out = plan.out;
  if (!args.output.empty()) session.outName = args.output;
  window.phrases.keepItems = false;
  window.phrases.added = [&session, encoding = plan.encoding](std::string_view phrase) {
    // Whole lines as they arrive; the loop below flushes every 100 ms, so
    // `tail -f` follows the run without a system call per phrase.
    const std::string line = OutputLine(phrase, encoding);
    if (std::fwrite(line.data(), 1, line.size(), session.out) != line.size()) session.NoteWriteFailure();
  };
  session.table = std::move(plan.table);
  if (args.journal) {
    JournalPages(args, plan, session, options);
  } else if (session.table) {
    WriteTableRows(session, options);
  } else if (args.format != OutputFormat::kText || args.keepFiltered) {
    WriteTreeLines(args, plan.encoding, session, options);
  }
  options.filter = plan.filter;
  options.keepFiltered = args.keepFiltered;
  options.pace = args.pace;
  options.unique = args.unique;
  if (args.source != "suggest") options.sources.push_back(PhraseSource::kRelated);
  if (args.source != "related") options.sources.push_back(PhraseSource::kSuggest);
  options.onRunComplete = [&wake] { wake.Set(&Wake::finished); };
  options.onBlockedEnd = [&wake] { wake.Set(&Wake::blocked); };
  if (args.stopOnBlock) options.maxHolds = 0;
  options.retries = plan.retries;
  options.identities = plan.identities;
  Harvester& harvester = session.harvester.emplace(window.Components(), window.ui, window.dialogs, options);
  for (const Text& seed : plan.seeds) window.列表框_关键字.AddItem(seed);
  window.编辑框_工作线程.SetContent(std::to_string(plan.workers));
  window.编辑框_采集级别.SetContent(std::to_string(plan.depth));

  const auto start = std::chrono::steady_clock::now();
  window.ui.Invoke([&] { harvester.OnStartButton(); });
  const bool progress = !args.quiet && cli::IsTerminal(stderr);
  auto lastReport = start, lastFlush = start, lastSync = start;
  std::vector<IdentityState> states(std::max<std::size_t>(1, plan.identities.size()), IdentityState::kAsking);
  std::size_t identityLines = 0;  // drawn below the progress line
  Ending ending;
  for (;;) {
    const auto nextFlush = lastFlush + std::chrono::milliseconds(100);
    const auto next = progress ? std::min(nextFlush, lastReport + std::chrono::milliseconds(250)) : nextFlush;
    {
      MutexLock lock(wake.mutex);
      wake.mutex.WaitFor(wake.changed, next - std::chrono::steady_clock::now(), [&]() REQUIRES(wake.mutex) {
        return wake.finished || wake.interrupted || wake.readerGone || wake.writeFailed || wake.blocked;
      });
      ending = {wake.interrupted, wake.readerGone, wake.writeFailed, wake.blocked && !wake.finished};
      if (wake.finished || ending.Stopped()) break;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= nextFlush) {
      lastFlush = now;
      window.ui.Invoke([&] {
        if (std::fflush(session.out) != 0) session.NoteWriteFailure();
      });
    }
    // A journaled run's pages reach the disk within a second: the output's
    // first, so that no line of the journal outlives the phrases it follows.
    if (plan.journal && now - lastSync >= std::chrono::seconds(1)) {
      lastSync = now;
      plan.output->Sync();
      plan.journal->Sync();
    }
    if (now - lastReport < std::chrono::milliseconds(250)) continue;
    lastReport = now;
    const std::vector<Harvester::IdentityProgress> identities = harvester.Identities();
    // A proxy that starts failing is said at once, even without a terminal:
    // a long run's log shows when and why it was rested.
    for (std::size_t i = 0; i < identities.size() && i < states.size(); ++i) {
      const Harvester::IdentityProgress& identity = identities[i];
      if (identity.state == IdentityState::kFailing && states[i] != IdentityState::kFailing && !args.quiet) {
        if (progress) std::fputs("\r\x1b[J", stderr);
        std::fprintf(stderr, "kelvarn harvest: %s failed (%s); resting it until %s\n", identity.name.c_str(),
                     identity.lastError.c_str(), identity.until.value_or("its probe").c_str());
      }
      states[i] = identity.state;
    }
    if (progress) {
      const double seconds = std::chrono::duration<double>(now - start).count();
      const std::optional<std::string> until = harvester.HoldEnd();
      const double perMinute = harvester.RequestsPerMinute();
      const std::string hold = until           ? "  resting until " + *until
                               : perMinute > 0 ? "  asking at " + std::to_string(std::lround(perMinute)) + "/min"
                                               : "";
      const std::int64_t unrecognised = harvester.UnrecognisedLayouts();
      std::string layouts = unrecognised > 0 ? "  layout not recognised " + std::to_string(unrecognised) : "";
      if (const std::int64_t repeats = harvester.Repeats(); repeats > 0) {
        layouts += "  repeats " + std::to_string(repeats);
      }
      if (const std::int64_t filtered = harvester.FilteredPhrases(); filtered > 0) {
        layouts += "  filtered " + std::to_string(filtered);
      }
      std::fprintf(stderr, "\r\x1b[Jlevel %d  pages %lld  pending %d  phrases %d%s%s%s  %.1f pages/s",
                   harvester.DeepestLevel(), static_cast<long long>(harvester.PagesFetched()), harvester.PendingTasks(),
                   window.列表框_相关关键字.ItemCount(), OutcomeCounts(harvester.RunPageCounts(), true).c_str(),
                   layouts.c_str(), hold.c_str(),
                   seconds > 0 ? static_cast<double>(harvester.PagesFetched()) / seconds : 0.0);
      // Several identities: a line each below, the cursor back on the first.
      identityLines = identities.size() > 1 ? identities.size() : 0;
      for (std::size_t i = 0; i < identityLines; ++i)
        std::fprintf(stderr, "\n  %s", IdentityLine(identities[i]).c_str());
      if (identityLines > 0) std::fprintf(stderr, "\x1b[%zuA\r", identityLines);
    }
  }
  if (progress) std::fputs("\r\x1b[J", stderr);
  if (ending.Stopped()) window.ui.Invoke([&] { harvester.StopEverything(); });  // as the stop button does
  if (plan.journal) {
    window.ui.Invoke([&] {
      if (!plan.output->Sync()) session.NoteWriteFailure(session.outName);
      if (!plan.journal->Sync()) session.NoteWriteFailure(*args.journal);
    });
  }
  return ending;
}

// Closes the output, says how the run went and ends the process with the
// command's exit code.
[[noreturn]] void ReportAndExit(const Arguments& args, Session& session, const Ending& ending) {
  // Nobody reads what is left: end as `yes | head` ends, quietly.
  if (ending.readerGone) cli::EndAsBrokenPipe();
  HeadlessWindow& window = session.window;
  Harvester& harvester = *session.harvester;
  const Text status = window.状态条1.PanelText(0);
  window.ui.Invoke([&] {
    if (std::fflush(session.out) != 0 || (session.out != stdout && std::fclose(session.out) != 0)) {
      session.NoteWriteFailure();
    }
    // The workbook is whole once finished, a stopped run's too.
    if (session.table && !session.table->Finish()) session.NoteTableFailure();
  });
  bool readerGone = false;
  {
    MutexLock lock(session.wake.mutex);
    readerGone = session.wake.readerGone;
  }
  if (readerGone) cli::EndAsBrokenPipe();
  const PageCounts counts = harvester.RunPageCounts();
  // Said whatever else happened, even with --quiet: phrases were lost. The
  // run was stopped at the failure unless it had ended before.
  if (session.writeError) {
    const std::string what = !session.tableError.empty()
                                 ? session.tableError
                                 : session.failedFile + ": " + std::strerror(*session.writeError);
    std::fprintf(stderr, "kelvarn harvest: cannot write %s%s\n", what.c_str(),
                 ending.writeFailed ? "; the run stopped" : "");
  }
  if (ending.interrupted) {
    std::fprintf(stderr, "kelvarn harvest: stopped (%s)", ending.interrupted->what);
    if (!session.writeError) std::fprintf(stderr, "; %d phrases kept", window.列表框_相关关键字.ItemCount());
    std::fputc('\n', stderr);
    std::fflush(nullptr);
    std::_Exit(ending.interrupted->exitStatus);  // cut-off workers may still be unwinding: no static destructors
  }
  if (session.writeError) {
    std::fflush(nullptr);
    std::_Exit(1);
  }
  if (!args.quiet && !ending.blocked) std::fprintf(stderr, "%s\n", cli::ForTheUser(status).c_str());
  if (const std::int64_t filtered = harvester.FilteredPhrases(); filtered > 0 && !args.quiet) {
    std::fprintf(stderr, "kelvarn harvest: %lld phrase%s filtered out, not asked for%s\n",
                 static_cast<long long>(filtered), filtered == 1 ? "" : "s",
                 args.keepFiltered ? " (written, marked)" : "");
  }
  // Said even with --quiet: a run that lost pages must not pass for a clean one.
  const std::vector<Harvester::IdentityProgress> identities = harvester.Identities();
  if (ending.blocked) {
    std::fprintf(stderr, "kelvarn harvest: stopped: the engine asks for verification (%s); %d phrases kept\n",
                 args.stopOnBlock        ? "--on-block stop"
                 : identities.size() > 1 ? "every identity rested 5 times in a row or never worked"
                                         : "5 holds in a row",
                 window.列表框_相关关键字.ItemCount());
  }
  // Each identity's share, and, even with --quiet, a proxy that never worked:
  // the user pays for it and is to know.
  for (const Harvester::IdentityProgress& identity : identities) {
    if (identities.size() > 1 && !args.quiet)
      std::fprintf(stderr, "kelvarn harvest: %s\n", IdentityLine(identity).c_str());
    if (identity.name != "direct" && identity.served == 0 && identity.verification == 0 && identity.failures > 0) {
      std::fprintf(stderr, "kelvarn harvest: proxy %s never worked: %s\n", identity.name.c_str(),
                   identity.lastError.c_str());
    }
  }
  // Pages of a layout not recognised are the early sign of a changed engine.
  const std::int64_t unrecognised = harvester.UnrecognisedLayouts();
  if (ending.blocked || AnyProblemPages(counts) || unrecognised > 0) {
    std::int64_t pages = 0;
    for (const std::int64_t n : counts) pages += n;
    std::fprintf(
        stderr, "kelvarn harvest: %lld page%s: %lld with phrases%s%s\n", static_cast<long long>(pages),
        pages == 1 ? "" : "s", static_cast<long long>(counts[static_cast<std::size_t>(PageOutcome::kPhrases)]),
        OutcomeCounts(counts, false).c_str(),
        unrecognised > 0 ? (", " + std::to_string(unrecognised) + " of them in a layout not recognised").c_str() : "");
  }
  std::fflush(nullptr);
  std::_Exit(ending.blocked ? 4 : AnyProblemPages(counts) ? 3 : 0);
}

}  // namespace

int RunHarvestCommand(int argc, char** argv) {
  Arguments args;
  if (const std::optional<int> code = Parse(argc, argv, args)) return *code;
  Plan plan;
  if (const std::optional<int> code = ReadPlan(args, plan)) return *code;
  Session& session = *new Session;
  const Ending ending = RunHarvest(args, plan, session);
  ReportAndExit(args, session, ending);
}

}  // namespace kelvarn
