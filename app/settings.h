// The settings file: config.ini in the settings directory (beside the program
// when that is writable), section 配置. The window
// shows 工作线程 (workers) and 采集级别 (depth) and saves every edit;
// 重试次数 (retries) is read only, so that a file the program wrote stays as
// it was. The window and `kelvarn harvest` both read through here. Section
// 采集节奏 holds the window's harvest settings, written by its settings dialog:
// 请求频率 ("0": none, "auto", or requests a minute), 短语去重 ("1": each
// phrase asked once), 代理列表 (a file of proxies, one a line, by its path in
// the platform's own encoding; empty: none) and 不直连 ("1": only through
// those proxies, never directly). A file without the section paces nothing and
// goes direct, as the window always did. The same section holds the window's
// filters: 包含词 and 排除词 (words parted by commas, "," or "，"), 排除词文件
// (a stop-word file, one word a line, by its path as 代理列表's), 必须包含
// ("seed", "root-words", or empty for neither), 最短字数 and 最长字数
// (characters; "0" or empty: no bound). Without them nothing is filtered.
//
// Values are GBK texts as typed; a missing file, section or key gives the
// default. Safe from any thread (each call reads or replaces the file whole).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/phrase_filter.h"
#include "text/text.h"

namespace kelvarn {

class Settings {
 public:
  static constexpr std::string_view kDefaultWorkers = "20", kDefaultDepth = "1", kDefaultRetries = "2",
                                    kDefaultRate = "0", kDefaultUnique = "0", kDefaultProxiesFile = "",
                                    kDefaultNoDirect = "0";

  // `settingsDir` ends in "/".
  explicit Settings(std::string_view settingsDir);

  const std::string& Path() const { return path_; }
  // Why the file, though it is there, reads as missing and is never written:
  // "larger than 1 MiB", or "not an ordinary file" (a FIFO or a device, which
  // a read could wait on for ever). Nothing when it is missing or usable.
  std::optional<std::string_view> Unusable() const;

  Text Workers() const;
  Text Depth() const;
  Text Retries() const;
  Text Rate() const;
  Text Unique() const;
  Text ProxiesFile() const;
  Text NoDirect() const;
  enum class FilterKey { kInclude, kExclude, kExcludeFile, kMustContain, kMinChars, kMaxChars };
  Text Filter(FilterKey key) const;
  // The filters the keys make; nothing when the stop-word file cannot be
  // read. A bound that is no number counts as none.
  std::optional<FilterRules> Filter() const;
  // False when the file cannot be written.
  bool SaveWorkers(std::string_view workers) const;
  bool SaveDepth(std::string_view depth) const;
  bool SaveRate(std::string_view rate) const;
  bool SaveUnique(std::string_view unique) const;
  bool SaveProxiesFile(std::string_view path) const;
  bool SaveNoDirect(std::string_view noDirect) const;
  bool SaveFilter(FilterKey key, std::string_view value) const;

 private:
  std::string path_;
};

}  // namespace kelvarn
