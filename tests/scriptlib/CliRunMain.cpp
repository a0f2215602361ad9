// A stand-in for morvent-cli with only the run command: `cli_run_probe ARGS...` is `morvent-cli run ARGS...`.
#include "morvent-cli/RunCommand.h"

int main(int argc, char** argv) { return MorventCliRun(CCliOptions{}, argc - 1, argv + 1); }
