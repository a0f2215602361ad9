// The plot scripting objects (pooled library objects) and how they reach a window: on the host's main
// thread, through the running script's synchronised call (appended blocks queued without waiting),
// with the window looked up in the registry there, so that a window closed meanwhile is refused or
// skipped instead of touched.
#pragma once

#include "scriptlib/LibObjects.h"
#include "scriptlib/Plothost.h"
#include "scriptlib/Signaldata.h"

#include <cstdint>
#include <functional>
#include <string>

class TSignalDataObj : public TLibObject {
 public:
  TSignalDataObj() : TLibObject("TSignalData") {}
  size_t InstanceSize() const override { return sizeof(*this); }
  void CleanupInstance() override { data.Clear(); }
  CSignalData data;
};

// A script's reference to a plot window: the name and the window's serial number (0: not bound).
class TPlotWndObj : public TLibObject {
 public:
  TPlotWndObj() : TLibObject("TPlotWnd") {}
  size_t InstanceSize() const override { return sizeof(*this); }
  void CleanupInstance() override { serial = 0; }
  std::string name;
  uint64_t serial = 0;
};

// A plot window's signal as scripts hold it (the graph object AddSignal returns).
class TGraphObjRef : public TLibObject {
 public:
  TGraphObjRef() : TLibObject("TGraphObj") {}
  size_t InstanceSize() const override { return sizeof(*this); }
  void CleanupInstance() override {
    signal = nullptr;
    signalId = 0;
  }
  uint64_t serial = 0;
  IPlotSignal* signal = nullptr;  // compared only, until the window confirms it still holds it
  uint64_t signalId = 0;          // and that it is still the same signal
};

class TSignalObj : public TLibObject {
 public:
  TSignalObj() : TLibObject("TSignal") {}
  size_t InstanceSize() const override { return sizeof(*this); }
  void CleanupInstance() override { desc = 0; }
  TObjHandle desc = 0;
};

CSignalData& SignalDataOf(TObjHandle h);

// The text of the engine's validity check, also used for a window that was closed.
inline constexpr const char* kInvalidObject = "Invalid or uninitialized object used";

// Runs f on the main thread while the script waits; a text f leaves in error is raised as a run-time
// error on the script's thread (so is a host that no longer serves the script).
void OnPlotThread(const std::function<void(std::string& error)>& f);
// On the main thread: the window of a serial number, or null with error set.
IPlotWindow* LiveWindow(uint64_t serial, std::string& error);
