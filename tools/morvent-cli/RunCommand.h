// `morvent-cli run [--debug LEVEL] FILE [ARG...]`: runs one script headless, every output line on
// standard output. Exit codes: 0 ok, 5 script error or missing file, 6 aborted, 2 usage error.
#pragma once

#include "morvent-cli/CliOptions.h"

// argv holds the arguments after "run"; the global options name the instrument (when --link or
// --address is given, the run connects before the script starts).
int MorventCliRun(const CCliOptions& options, int argc, char** argv);
