#include "app/startup.h"

#include "app/search_base.h"
#include "text/files.h"

namespace kelvarn {

Harvester::Options StartUpOptions(std::optional<std::string_view> searchUrl) {
  Harvester::Options options;
  options.programDir = ProgramDirectory();
  options.searchBase = SearchBase(searchUrl);
  return options;
}

}  // namespace kelvarn
