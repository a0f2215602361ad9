// Test program entry: starts the engine once and registers the tiny host routines the tests use.
#include <gtest/gtest.h>

#include "ScriptTestUtil.h"

std::vector<std::string>& PrintLog() {
  static std::vector<std::string> log;
  return log;
}

std::vector<TValue>& ValueLog() {
  static std::vector<TValue> log;
  return log;
}

std::vector<std::string> RunProgram(const std::string& source, int debugLevel, std::vector<std::string>* trace) {
  PrintLog().clear();
  ValueLog().clear();
  THalComp comp;
  comp.SetScriptText(source);
  comp.SetDebugLevel(debugLevel);
  comp.Compile();
  TStopFlag stop{'R'};
  comp.Run(stop, nullptr, [trace](int, const std::string& line) {
    if (trace) trace->push_back(line);
  });
  return PrintLog();
}

std::string ErrorOf(const std::string& source) {
  try {
    RunProgram(source);
  } catch (const EScriptError& e) {
    return e.what();
  }
  return "";
}

std::string Body(const std::string& vars, const std::string& body) {
  std::string src = "program T;\n";
  if (!vars.empty()) src += "var " + vars + "\n";
  src += "begin\n" + body + "\nend.";
  std::string out;
  for (const std::string& l : RunProgram(src)) out += (out.empty() ? "" : "|") + l;
  return out;
}

std::string CompileImage(const std::string& source) {
  std::string image;
  THalCompiler c(source, image);
  c.compile();
  return image;
}

namespace {
class TEngineEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    HalinitStart();
    AddProc("Print",
            [](TObjHandle, const std::string&, TValue* a, int) {
              PrintLog().push_back(a[0].AsString());
              ValueLog().push_back(a[0]);
              return TValue();
            },
            {pkValue});
    AddFun("Str", [](TObjHandle, const std::string&, TValue* a, int) { return TValue(a[0].AsString()); }, {pkValue});
    // Kind of a value as text, so that tests can tell integers from reals.
    AddFun("KindOf",
           [](TObjHandle, const std::string&, TValue* a, int) {
             return TValue(std::string(TValue::KindName(a[0].Kind())));
           },
           {pkValue});
  }
  void TearDown() override { HalinitStop(); }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new TEngineEnvironment);
}  // namespace
