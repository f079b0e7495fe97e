// A synthetic results page shaped like the real ones: about 300 KB of mostly
// ASCII markup and script with GBK titles and abstracts, and the
// related-searches block near the end.
#pragma once

#include <random>
#include <string>

#include "text/text.h"

namespace kelvarn::bench {

inline std::string ResultPage(std::size_t targetBytes = 300 * 1024) {
  std::mt19937 rng(936);
  const std::string words[] = {Utf8ToGbk("关键字"), Utf8ToGbk("挖掘"), Utf8ToGbk("工具"), Utf8ToGbk("长尾词"),
                               Utf8ToGbk("搜索"),   Utf8ToGbk("优化"), Utf8ToGbk("网站"), Utf8ToGbk("排名")};
  const auto text = [&](int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += words[rng() % std::size(words)] + (i % 4 == 3 ? " " : "");
    return s;
  };
  std::string page =
      "<!DOCTYPE html><html><head><meta http-equiv=\"content-type\" content=\"text/html;charset=gbk\">"
      "<title>" +
      text(3) + "</title><style>.c-container{margin:0 0 14px;}.t a{color:#2440b3}</style></head><body>";
  for (int i = 0; page.size() + 4000 < targetBytes; ++i) {
    page += "<div class=\"result c-container\" id=\"" + std::to_string(i) +
            "\" tpl=\"se_com_default\"><h3 class=\"t\"><a data-click=\"{'F':'778317EA','T':" + std::to_string(i) +
            "}\" href=\"http://www.example.com/link?url=XyZ" + std::to_string(rng()) + "\" target=\"_blank\">" +
            text(4) + "</a></h3><div class=\"c-abstract\"><span class=\"newTimeFactor_before_abs m\">2026-11-" +
            std::to_string(1 + i % 28) + "&nbsp;-&nbsp;</span>" + text(12) +
            "</div><div class=\"f13\"><a target=\"_blank\" href=\"http://www.example.com/\" class=\"c-showurl\">"
            "www.example.com/path/" +
            std::to_string(i) +
            ".html</a></div></div>\n"
            "<script>var s_" +
            std::to_string(i) + "={\"q\":\"x\",\"n\":" + std::to_string(rng() % 1000) + ",\"f\":[1,2,3]};</script>\n";
  }
  page +=
      "<div id=\"rs\"><table cellpadding=\"0\"><tr><th rowspan=\"2\" class=\"tt\">" + Utf8ToGbk("相关搜索</th><th>");
  for (int i = 0; i < 10; ++i) page += "<a href=\"/s?wd=" + std::to_string(i) + "\">" + text(2) + "</a>";
  page += "</th></tr></table></div><div id=\"page\"><a href=\"/s?pn=10\">2</a></div></body></html>";
  return page;
}

}  // namespace kelvarn::bench
