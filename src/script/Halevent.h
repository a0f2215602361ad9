// Script events: the event-type table (which event property types a form can bind to script
// routines and how their arguments travel), the method-name list of a form load, and the bridge
// THalEvent that runs one handler routine of a form's program. No GUI: the form loader fires them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "script/BinProg.h"
#include "script/HalCompiler.h"
#include "script/ScriptObjects.h"
#include "script/Value.h"

class THalRuner;

// The bridge routines, one per argument shape.
enum class TEventBridge {
  MNotifyEvent,
  MCloseEvent,
  MCloseQueryEvent,
  MMouseEvent,
  MMouseMoveEvent,
  MKeyEvent,
  MKeyPressEvent,
  MDragDropEvent,
  MDragOverEvent,
  MEndDragEvent,
  MStartDragEvent,
  MHelpEvent,
  mQROnNeedDataEvent,
  mQRNotifyOperationEvent,
  mQRBandBeforePrintEvent,
  mQRBandAfterPrintEvent,
  mQRReportBeforePrintEvent,
  mQRFilterEvent,
  mQRLabelOnPrintEvent,
  mQRProgressUpdateEvent,
  mQRPageAvailableEvent
};

// Arguments after Sender and which of them a bridge copies back (bit i: argument i, from 0).
struct TEventShape {
  int argCount = 0;
  uint32_t copyBack = 0;
  bool noSender = false;
};
const TEventShape& EventShape(TEventBridge bridge);

struct TEventListItem {
  TEventBridge bridge;
  std::string bridgeClass;
};

void RegisterEvent(std::string_view typeName, TEventBridge bridge, std::string_view bridgeClass);
bool RegisteredEvent(std::string_view typeName);
// The entry of a registered event type, or nullptr.
const TEventListItem* FindEvent(std::string_view typeName);
// Fills the table with the standard event types (engine start).
void RegisterStandardEvents();
void ClearEvents();

// The method names met while reading one form file; a name's 1-based number is its code value.
class TMethodNames {
 public:
  void Clear() { names_.clear(); }
  int FindMethod(const std::string& name);  // appends; returns the new count
  int Count() const { return static_cast<int>(names_.size()); }
  const std::string& Name(int code) const { return names_[static_cast<size_t>(code - 1)]; }

 private:
  std::vector<std::string> names_;
};
TMethodNames& MethodNames();

// How a handler run is supervised: the host may wrap each run (a watchdog that stores HAL_STOP in
// the flag, a modal guard). Default: runs at once with a flag that nobody sets.
using THandlerRunner = std::function<void(const std::string& routineKey, const std::function<void(TStopFlag&)>& run)>;
void SetHandlerRunner(THandlerRunner runner);
// The stop flag of the handler the calling thread is running, or null (long waits check it).
TStopFlag* CurrentHandlerStop();

class THalEvent {
 public:
  THalEvent(THalRuner* runner, std::string ownerName, std::string handlerName);

  const std::string& HandlerName() const { return handler_; }
  // The routine's key: "T" + owner name (a trailing "_digits" removed) + "." + handler, upper case;
  // then the full owner name. Raises ERunTimeError "Procedure %s not found".
  const TIdentListItem& GetProcItem();
  const std::string& RoutineKey() const { return key_; }
  // Runs the handler; args[0..n-1] hold the event's arguments after Sender, the last one first.
  // The parameters are read back into args afterwards.
  void ExecProc(TObjHandle sender, int n, TValue* args);
  // The bridge routine: args in event order; copies back what the event type returns.
  void Fire(TEventBridge bridge, TObjHandle sender, std::vector<TValue>& args);
  // A parameter slot by key; a missing key shows "Parameter %S not found" and changes nothing.
  void SetParam(const std::string& name, const TValue& value);
  TValue GetParam(const std::string& name);

 private:
  std::string paramKey(int i) const;

  THalRuner* runner_;
  std::string owner_;
  std::string handler_;
  std::string key_;
  const TIdentListItem* entry_ = nullptr;
};
