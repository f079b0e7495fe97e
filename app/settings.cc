#include "app/settings.h"

#include <algorithm>
#include <cerrno>

#include "text/files.h"
#include "text/value.h"

namespace kelvarn {
namespace {

constexpr std::string_view kSection = "\xC5\xE4\xD6\xC3";                      // 配置
constexpr std::string_view kWorkersKey = "\xB9\xA4\xD7\xF7\xCF\xDF\xB3\xCC";   // 工作线程
constexpr std::string_view kDepthKey = "\xB2\xC9\xBC\xAF\xBC\xB6\xB1\xF0";     // 采集级别
constexpr std::string_view kRetriesKey = "\xD6\xD8\xCA\xD4\xB4\xCE\xCA\xFD";   // 重试次数
constexpr std::string_view kPaceSection = "\xB2\xC9\xBC\xAF\xBD\xDA\xD7\xE0";  // 采集节奏
constexpr std::string_view kRateKey = "\xC7\xEB\xC7\xF3\xC6\xB5\xC2\xCA";      // 请求频率
constexpr std::string_view kUniqueKey = "\xB6\xCC\xD3\xEF\xC8\xA5\xD6\xD8";    // 短语去重
constexpr std::string_view kProxiesKey = "\xB4\xFA\xC0\xED\xC1\xD0\xB1\xED";   // 代理列表
constexpr std::string_view kNoDirectKey = "\xB2\xBB\xD6\xB1\xC1\xAC";          // 不直连
// 包含词, 排除词, 排除词文件, 必须包含, 最短字数 and 最长字数, by FilterKey.
constexpr std::string_view kFilterKeys[] = {
    "\xB0\xFC\xBA\xAC\xB4\xCA",         "\xC5\xC5\xB3\xFD\xB4\xCA",         "\xC5\xC5\xB3\xFD\xB4\xCA\xCE\xC4\xBC\xFE",
    "\xB1\xD8\xD0\xEB\xB0\xFC\xBA\xAC", "\xD7\xEE\xB6\xCC\xD7\xD6\xCA\xFD", "\xD7\xEE\xB3\xA4\xD7\xD6\xCA\xFD",
};
// A stop-word file is a list of words; one larger is something else.
constexpr std::size_t kMaxStopWordsBytes = std::size_t{16} << 20;

}  // namespace

Settings::Settings(std::string_view settingsDir) : path_(std::string(settingsDir) + "config.ini") {}

std::optional<std::string_view> Settings::Unusable() const {
  const std::optional<std::string> head = ReadRegularFile(path_, kMaxSettingsFileBytes + 1);
  if (!head && errno == EINVAL) return "not an ordinary file";
  if (head && head->size() > kMaxSettingsFileBytes) return "larger than 1 MiB";
  return std::nullopt;
}

Text Settings::Workers() const { return ReadSetting(path_, kSection, kWorkersKey, kDefaultWorkers); }
Text Settings::Depth() const { return ReadSetting(path_, kSection, kDepthKey, kDefaultDepth); }
Text Settings::Retries() const { return ReadSetting(path_, kSection, kRetriesKey, kDefaultRetries); }
Text Settings::Rate() const { return ReadSetting(path_, kPaceSection, kRateKey, kDefaultRate); }
Text Settings::Unique() const { return ReadSetting(path_, kPaceSection, kUniqueKey, kDefaultUnique); }
Text Settings::ProxiesFile() const { return ReadSetting(path_, kPaceSection, kProxiesKey, kDefaultProxiesFile); }
Text Settings::NoDirect() const { return ReadSetting(path_, kPaceSection, kNoDirectKey, kDefaultNoDirect); }

Text Settings::Filter(FilterKey key) const {
  return ReadSetting(path_, kPaceSection, kFilterKeys[static_cast<std::size_t>(key)], "");
}

std::optional<FilterRules> Settings::Filter() const {
  FilterRules rules;
  rules.include = FilterWords(Filter(FilterKey::kInclude));
  rules.exclude = FilterWords(Filter(FilterKey::kExclude));
  if (const Text file = Filter(FilterKey::kExcludeFile); !file.empty()) {
    const std::optional<std::string> bytes = ReadRegularFile(file, kMaxStopWordsBytes);
    if (!bytes || bytes->size() >= kMaxStopWordsBytes) return std::nullopt;
    for (Text& word : FilterWordsFile(*bytes)) rules.exclude.push_back(std::move(word));
  }
  rules.mustContain = ParseMustContain(Filter(FilterKey::kMustContain)).value_or(MustContain::kNothing);
  rules.minChars = std::max(0, ToInteger(Filter(FilterKey::kMinChars)));
  rules.maxChars = std::max(0, ToInteger(Filter(FilterKey::kMaxChars)));
  return rules;
}

bool Settings::SaveFilter(FilterKey key, std::string_view value) const {
  return WriteSetting(path_, kPaceSection, kFilterKeys[static_cast<std::size_t>(key)], value);
}

bool Settings::SaveWorkers(std::string_view workers) const {
  return WriteSetting(path_, kSection, kWorkersKey, workers);
}
bool Settings::SaveDepth(std::string_view depth) const { return WriteSetting(path_, kSection, kDepthKey, depth); }
bool Settings::SaveRate(std::string_view rate) const { return WriteSetting(path_, kPaceSection, kRateKey, rate); }
bool Settings::SaveUnique(std::string_view unique) const {
  return WriteSetting(path_, kPaceSection, kUniqueKey, unique);
}

bool Settings::SaveProxiesFile(std::string_view path) const {
  return WriteSetting(path_, kPaceSection, kProxiesKey, path);
}
bool Settings::SaveNoDirect(std::string_view noDirect) const {
  return WriteSetting(path_, kPaceSection, kNoDirectKey, noDirect);
}

}  // namespace kelvarn
