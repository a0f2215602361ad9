// `morvent-cli run [--debug LEVEL] FILE [ARG...]`: runs one script headless, every output line on
// standard output. Exit codes: 0 ok, 5 script error or missing file, 6 aborted, 2 usage error.
#pragma once

// argv holds the arguments after "run".
int MorventCliRun(int argc, char** argv);
