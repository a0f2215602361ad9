// Helpers shared by the script engine tests: a few tiny host routines that record what scripts
// pass them, and one-call compile-and-run wrappers.
#pragma once
#include <string>
#include <vector>

#include "script/Quillet.h"

// Lines written by the test host procedure Print(v) (and PrintRaw, which keeps the value).
std::vector<std::string>& PrintLog();
std::vector<TValue>& ValueLog();

// Compiles and runs a whole program; returns the lines it printed. Errors propagate.
std::vector<std::string> RunProgram(const std::string& source, int debugLevel = 0,
                                    std::vector<std::string>* trace = nullptr);
// The text of the error a program raises (compile, run-time or value error); empty when none.
std::string ErrorOf(const std::string& source);
// Runs "program T; var ...; begin <body> end." and returns the printed lines joined by "|".
std::string Body(const std::string& vars, const std::string& body);
// Compiles source into an image (throws ECompilerError).
std::string CompileImage(const std::string& source);
