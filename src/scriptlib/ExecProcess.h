// Starting a child process for the script function Exec: standard output into a file, standard
// input and error shared with the host, not waited for (a reaper collects its exit status).
#pragma once

#include <string>

// A command line without shell syntax is split at blanks and started directly (searched in PATH);
// one that holds quotes, redirections, pipes, variables or wildcards is given to /bin/sh -c.
bool CommandLineNeedsShell(const std::string& commandLine);
// True when the process was started. An output file that cannot be created starts nothing.
bool StartProcess(const std::string& commandLine, const std::string& outputFile);
