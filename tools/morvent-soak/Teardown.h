// Phase 2 of the soak: many rounds of connecting, then closing a CU window, disconnecting and quitting
// (the main window and its session torn down) while readers wait in blocking calls: a CU window's
// reader in its synchronised call, a script in an instruction round trip that is never answered, and a
// thread of the soak's own in a channel read.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "morvent-soak/Soakapp.h"
#include "morvent-soak/Watchdog.h"

struct TTeardownResult {
  bool ok = false;
  std::string failure;
  int rounds = 0;
  double seconds = 0;
  std::map<std::string, int> variants;  // rounds by the way they ended
  uint64_t streamFrames = 0;
  int slowestRoundMs = 0;
};

TTeardownResult RunTeardown(const TSoakOptions& options, TSoakWatchdog& watchdog);
