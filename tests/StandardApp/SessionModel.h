// SessionModel.h: the instrument the session tests play (modules and CUs for the support library's
// instrument model) and a session that records its hooks.
#pragma once

#include <string>
#include <vector>

#include "FramingProbe.h"
#include "support/InstrumentModel.h"

// The folder's tests speak the support library's frames and models throughout.
using namespace support;

// The hooks record what they saw (main thread only).
class CRecordingInstr : public CFramingProbe {
 public:
  std::vector<std::string> events;
  int lost = 0;
  void OnConnectionLost() override {
    events.push_back("lost");
    ++lost;
  }
  void OnConfigChanged() override { events.push_back("changed"); }
  void OnModuleRemoved(CModule* m) override { events.push_back(std::string("removed ") + m->GetModuleType()); }
  void OnModuleAdded(CModule* m) override {
    events.push_back(std::string("added ") + m->GetModuleType() + " " + std::to_string(m->GetCuDescCount()));
  }
};

inline const CuModel kIN{"MAIN", "INSTRUCT", "IN", 4, 128, 4, 128};
inline const CuModel kEV{"MAIN", "EVENTS", "EV", 8, 64, 0, 0};
inline const CuModel kCS{"MAIN", "CANSLAVE", "CS", 4, 4500, 4, 4500};
inline const CuModel kLD{"MAIN", "LOADER", "LD", 2, 256, 0, 0};
inline const CuModel kTR{"MAIN", "TRACE", "TR", 4, 256, 1, 32};
inline const ModModel kMain{"MAIN-1", "000123", {kIN, kEV, kCS, kLD, kTR}};
inline const ModModel kAux{"AUX-2", "000456", {CuModel{"AUX", "INSTRUCT", "IN", 2, 64, 2, 64}}};
inline const ModModel kSlave{"SLAVE-A", "900001", {CuModel{"SLV", "INSTRUCT", "IN", 1, 64, 1, 64}}};
