// The watchdog of form handlers: handlers run on the GUI thread, so one that loops or waits too long
// would freeze the program. Each handler run gets a stop flag; a handler that runs longer than the
// limit (time spent in modal dialogs does not count) is stopped and ends with a run-time error.
#pragma once

#include <string>

// Installs the supervision of handler runs (once; the GUI host does it).
void StartHandlerWatchdog();
void StopHandlerWatchdog();
// Milliseconds a handler may run (default 10000).
void SetHandlerTimeLimit(int ms);
int HandlerTimeLimit();

// While one lives, the running handlers' clocks stand still (a modal dialog or form waits for the user).
class TModalPause {
 public:
  TModalPause();
  ~TModalPause();
  TModalPause(const TModalPause&) = delete;
  TModalPause& operator=(const TModalPause&) = delete;
};
