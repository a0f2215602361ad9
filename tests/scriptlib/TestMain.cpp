// test_scriptlib's main: starts the engine and registers the libraries once, as the program does.
#include "scriptlib/Instscript.h"
#include "scriptlib/ScriptLibrary.h"

#include "script/Halinit.h"

#include <gtest/gtest.h>

void RegisterRunThreadTestNames();

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  THalinit engine;
  RegisterGeneralLibrary();
  RegisterInstrumentLibraries();
  RegisterRunThreadTestNames();
  return RUN_ALL_TESTS();
}
