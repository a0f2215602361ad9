// The benchmark programs: each in our script language and in Lua, doing the same work and leaving
// the same result (ours in Result, Lua's printed).
#pragma once

#include <string>
#include <vector>

struct TBenchProgram {
  std::string name;
  std::string script;  // assigns its result to Result
  std::string lua;     // prints "<result> <best seconds>" (CPU time of the best of three runs)
};

std::vector<TBenchProgram> BenchPrograms();
// A generated program of exactly `lines` lines, in both languages, for the compile-speed figure.
std::string GeneratedScript(int lines);
std::string GeneratedLua(int lines);
