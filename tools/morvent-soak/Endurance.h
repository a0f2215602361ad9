// Phase 1 of the soak: the main window connected to the simulator with every CU window kind open, a
// text stream on the monitor CU, a script doing instruction round trips and another feeding a plot
// window, while the simulator's configuration changes and faults break the link and it reconnects.
#pragma once

#include <QStringList>
#include <cstdint>
#include <map>
#include <string>

#include "morvent-soak/Soakapp.h"
#include "morvent-soak/Watchdog.h"

struct TEnduranceResult {
  bool ok = false;
  std::string failure;  // the first thing that went wrong
  double seconds = 0;
  uint64_t scriptRoundTrips = 0, scriptInterrupted = 0, scriptRestarts = 0;
  uint64_t guiRoundTrips = 0, guiSent = 0;
  uint64_t streamFrames = 0, streamIntervals = 0, streamViolations = 0, guiStreamLines = 0;
  uint64_t streamGapsAfterBreak = 0;  // on channels whose link a fault was breaking
  std::map<std::string, int> faults;  // by kind
  int reconnects = 0, configChanges = 0, windowsOpened = 0, plotUpdates = 0;
  long rssWarmKiB = 0, rssEndKiB = 0;
  long heapWarmKiB = 0, heapEndKiB = 0;  // heap bytes in use, for telling a leak from fragmentation
  QStringList messages;                  // message boxes the windows showed
};

TEnduranceResult RunEndurance(const TSoakOptions& options, TSoakWatchdog& watchdog);
