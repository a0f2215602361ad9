// test_scriptlib's main: starts the engine and registers the libraries once, as the program does.
#include "scriptlib/Bytearray.h"
#include "scriptlib/Cmdfile.h"
#include "scriptlib/Cmdregexp.h"
#include "scriptlib/Cmdtime.h"
#include "scriptlib/Instscript.h"
#include "scriptlib/ScriptLibrary.h"

#include "script/Halinit.h"

#include <gtest/gtest.h>

void RegisterRunThreadTestNames();

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  THalinit engine;
  RegisterGeneralLibrary();
  RegisterByteArrayLibrary();
  RegisterRegExpLibrary();
  RegisterFileLibrary();
  RegisterTimeLibrary();
  RegisterScriptHostNames();
  RegisterRunThreadTestNames();
  return RUN_ALL_TESTS();
}
