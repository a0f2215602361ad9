// SessionModel.h: a small instrument model for the session tests and the helpers that turn it
// into the enumeration conversation the host must hold.
#pragma once

#include <string>
#include <vector>

#include "FakeInstrument.h"
#include "FramingProbe.h"

struct CuModel {
  std::string owner, desc, name;
  int outCount = 4, outSize = 128, inCount = 4, inSize = 128;
};

struct ModModel {
  std::string type, serial;
  std::vector<CuModel> cus;
};

inline Bytes ModRec(const ModModel& m, uint8_t type) { return Join({{type}, Z(m.type), Z(m.serial)}); }
inline Bytes CuKey(const CuModel& c, uint8_t type) { return Join({{type}, Z(c.owner), Z(c.desc), Z(c.name)}); }
inline Bytes CuRec(const CuModel& c, uint8_t type) {
  return Join({CuKey(c, type),
               {static_cast<uint8_t>(c.outCount)},
               U16(c.outSize),
               {static_cast<uint8_t>(c.inCount)},
               U16(c.inSize)});
}
inline Bytes OpenReply(const CuModel& c, long socket) { return Join({CuRec(c, 0x09), U16(socket)}); }

inline void ScriptList(FakeInstrument& f, long cfg, int list, const std::vector<ModModel>& mods) {
  uint8_t first = list == 1 ? 0x01 : 0x12, next = list == 1 ? 0x02 : 0x13;
  uint8_t firstType = list == 1 ? 1 : 18, nextType = list == 1 ? 2 : 19;
  if (mods.empty()) {
    f.Expect(cfg, {first}, {MakeFrame(cfg, {0x0E})});
    return;
  }
  f.Expect(cfg, {first}, {MakeFrame(cfg, ModRec(mods[0], firstType))});
  for (size_t i = 0; i < mods.size(); ++i) {
    Bytes reply = i + 1 < mods.size() ? ModRec(mods[i + 1], nextType) : Bytes{0x0E};
    f.Expect(cfg, ModRec(mods[i], next), {MakeFrame(cfg, reply)});
  }
}

inline void ScriptCus(FakeInstrument& f, long cfg, const ModModel& m) {
  if (m.cus.empty()) {
    f.Expect(cfg, ModRec(m, 4), {MakeFrame(cfg, {0x0E})});
    return;
  }
  f.Expect(cfg, ModRec(m, 4), {MakeFrame(cfg, CuRec(m.cus[0], 4))});
  for (size_t i = 0; i < m.cus.size(); ++i) {
    Bytes reply = i + 1 < m.cus.size() ? CuRec(m.cus[i + 1], 5) : Bytes{0x0E};
    f.Expect(cfg, CuKey(m.cus[i], 5), {MakeFrame(cfg, reply)});
  }
}

inline void ScriptEnumeration(FakeInstrument& f, long cfg, const std::vector<ModModel>& list1,
                              const std::vector<ModModel>& list2) {
  ScriptList(f, cfg, 1, list1);
  bool onlyList1 = !list1.empty() && list1[0].type.find("-R") != std::string::npos;
  if (!onlyList1) ScriptList(f, cfg, 2, list2);
  for (auto& m : list1) ScriptCus(f, cfg, m);
  if (!onlyList1)
    for (auto& m : list2) ScriptCus(f, cfg, m);
}

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
