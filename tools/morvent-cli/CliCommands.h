// CliCommands.h: one function per client command; each gets the global options and the words after
// the command name, and returns the process exit code.
#pragma once

#include "morvent-cli/CliOptions.h"

int CmdTree(const CCliOptions& options, int argc, char** argv);
int CmdIo(const CCliOptions& options, int argc, char** argv);
int CmdListen(const CCliOptions& options, int argc, char** argv);
int CmdWatch(const CCliOptions& options, int argc, char** argv);
