#include "app/startup.h"

#include "app/search_base.h"
#include "frame/process.h"
#include "text/files.h"

namespace kelvarn {

Harvester::Options StartUp(ProcessorChoice processor, std::optional<std::string_view> searchUrl) {
  if (processor == ProcessorChoice::kFirst) {
    BindToFirstProcessor();
  } else {
    BindToCurrentProcessor();
  }
  Harvester::Options options;
  options.settingsDir = SettingsDirectory();
  RequestDebugPrivilege();
  options.searchBase = SearchBase(searchUrl);
  return options;
}

}  // namespace kelvarn
