// Fuzz target of the session's enumeration records: module replies and CU descriptor replies as the
// configuration CU delivers them, taken as the enumeration takes them (module records of either list,
// then each module's descriptors, at most 32 modules and 16 descriptors each), with every text and
// the next request built from what was accepted.
//
// Input: a sequence of replies, each one length byte and that many payload bytes (type byte first).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "StandardApp/Module.h"
#include "StandardApp/Zematcore.h"

namespace {
bool IsModuleType(uint8_t t) {
  return t == Z_FIRST_MODULE_1 || t == Z_NEXT_MODULE_1 || t == Z_FIRST_MODULE_2 || t == Z_NEXT_MODULE_2;
}

// Reads a text the way its users do (up to its terminator), so that a missing one stands out.
size_t Touch(const char* text) { return std::strlen(text); }

void CheckModule(const CModule& m) {
  size_t sum = Touch(m.GetModuleType()) + Touch(m.GetSerialNumber());
  if (m.GetRecordLength() < 1 || m.GetRecordLength() > Z_MODULE_RECORD_MAX) std::abort();
  if (sum + 3 > static_cast<size_t>(m.GetRecordLength())) std::abort();  // texts inside the record
  if (!m.SameRecord(m.GetRecord(), m.GetRecordLength())) std::abort();
  // The request for the next module (and for the first descriptor) repeats the record.
  uint8_t request[Z_CUDESC_RECORD_MAX];
  std::memcpy(request, m.GetRecord(), m.GetRecordLength());
}

void CheckDesc(const CCuDesc& d) {
  size_t sum = Touch(d.GetOwnerText()) + Touch(d.GetDescription()) + Touch(d.GetCuName());
  if (d.GetKeyLength() < 4 || d.GetKeyLength() > d.GetRecordLength() || d.GetRecordLength() > Z_CUDESC_RECORD_MAX)
    std::abort();
  if (sum + 4 != static_cast<size_t>(d.GetKeyLength())) std::abort();
  if (d.GetOutCount() > 255 || d.GetInCount() > 255 || d.GetOutSize() > 65535 || d.GetInSize() > 65535) std::abort();
  uint8_t request[Z_CUDESC_RECORD_MAX];  // the next request repeats the key
  std::memcpy(request, d.GetRecord(), d.GetKeyLength());
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CZematInstr session;
  std::vector<std::shared_ptr<CModule>> modules;
  size_t pos = 0;
  while (pos < size) {
    const size_t n = data[pos++];
    if (n > size - pos) break;
    // A copy of its own, exactly as long as the reply, so that a read past it stands out.
    std::vector<uint8_t> reply(data + pos, data + pos + n);
    pos += n;
    const uint8_t t = n > 0 ? reply[0] : 0xFF;
    if (IsModuleType(t)) {
      if (modules.size() >= static_cast<size_t>(Z_MODULES_MAX)) continue;
      auto m = CModule::Create(&session, t >= Z_FIRST_MODULE_2);
      if (!m->SetRecord(reply.data(), static_cast<int>(n))) continue;  // malformed: the list ends there
      CheckModule(*m);
      modules.push_back(std::move(m));
    } else if ((t == Z_FIRST_CU_DESC || t == Z_NEXT_CU_DESC) && !modules.empty()) {
      CModule& m = *modules.back();
      if (m.GetCuDescCount() >= Z_CUDESCS_MAX) continue;
      auto d = std::make_unique<CCuDesc>(&session, &m);
      if (!d->Parse(reply.data(), static_cast<int>(n))) continue;
      CheckDesc(*d);
      if (!m.AddCuDesc(std::move(d))) std::abort();
    }
  }
  for (const auto& m : modules)
    for (int i = 0; i < m->GetCuDescCount(); ++i) {
      std::shared_ptr<CCuDesc> d = m->GetCuDesc(i);
      if (!d || d->GetModule() != m.get() || d->IsRemoved()) std::abort();
      CheckDesc(*d);
    }
  return 0;
}
