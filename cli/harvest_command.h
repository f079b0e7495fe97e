// `kelvarn harvest`: the window's run, headless, for scripts and servers; and
// `kelvarn check`: one results page, taken apart, for when a harvest gives
// nothing.
#pragma once

namespace kelvarn {

// argv[0] is "harvest". Exit codes: 0 every page gave phrases or had no
// related block, 3 pages went wrong, 4 the engine asked for verification,
// 1 a file could not be read or written or the seeds hold no keyword, 2 a
// usage error, 128 plus the signal when stopped by one (130 Ctrl-C, 129
// SIGHUP, 143 SIGTERM; see cli::Interruption), 141 the output pipe closed.
int RunHarvestCommand(int argc, char** argv);

// argv[0] is "check". Exit codes: 0 phrases were found, 1 none were, 2 a
// usage error.
int RunCheckCommand(int argc, char** argv);

}  // namespace kelvarn
