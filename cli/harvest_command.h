// `kelvarn harvest`: the window's run, headless, for scripts and servers.
#pragma once

namespace kelvarn {

// argv[0] is "harvest". Exit codes: 0 done, 1 a file could not be read or
// written, 2 a usage error, 130 interrupted (Ctrl-C).
int RunHarvestCommand(int argc, char** argv);

}  // namespace kelvarn
