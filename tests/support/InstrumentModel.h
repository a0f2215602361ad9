// A small instrument model (modules and their CUs) and the enumeration conversation a host must hold with
// it, scripted into a FakeInstrument: the records the instrument sends and the requests it expects.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/FakeInstrument.h"
#include "support/Frames.h"

namespace support {

struct CuModel {
  std::string owner, desc, name;
  int outCount = 4, outSize = 128, inCount = 4, inSize = 128;
};

struct ModModel {
  std::string type, serial;
  std::vector<CuModel> cus;
};

inline Bytes ModRec(const ModModel& m, uint8_t type) { return Join({{type}, Z(m.type), Z(m.serial)}); }
inline Bytes CuKey(const CuModel& c, uint8_t type) { return Join({{type}, Key(c.owner, c.desc, c.name)}); }
// The CU's buffer parameters as descriptors and open requests carry them.
inline Bytes CuParams(const CuModel& c) {
  return Join({{static_cast<uint8_t>(c.outCount)}, U16(c.outSize), {static_cast<uint8_t>(c.inCount)}, U16(c.inSize)});
}
inline Bytes CuRec(const CuModel& c, uint8_t type) { return Join({CuKey(c, type), CuParams(c)}); }
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

}  // namespace support
