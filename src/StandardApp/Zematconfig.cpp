// Zematconfig.cpp: reading the instrument's configuration on the configuration CU: both module
// lists, each module's CU descriptors, and the refresh after a configuration event.
#include <algorithm>
#include <chrono>
#include <cstring>

#include "StandardApp/Tracer.h"
#include "StandardApp/Zassert.h"
#include "StandardApp/Zematcore.h"

namespace {
// Replies of an unexpected type to a "next" request are answered by repeating the request; a
// stream of them must not keep the enumeration busy for ever.
constexpr int Z_STRAY_REPLIES_MAX = 16;

bool IsModuleType(uint8_t t) { return t == 1 || t == 2 || t == 18 || t == 19; }
}  // namespace

bool CZematInstr::ConfigRequest(const uint8_t* payload, int length, std::vector<uint8_t>& reply) {
  if (m_cancel.load() || !m_cfgIO || m_cfgIO->Write(payload, length) != Z_OK) return false;
  reply.resize(Z_READ_BUFFER);
  // The reply is waited for in slices: a cancelled connect or a lost link ends the wait soon.
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_timeout.load());
  for (;;) {
    int size = Z_READ_BUFFER;
    auto now = std::chrono::steady_clock::now();
    if (now >= end || m_cancel.load() || !IsConnected()) return false;
    unsigned slice = static_cast<unsigned>(
        std::min<long long>(100, std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count() + 1));
    int rc = m_cfgIO->Read(reply.data(), &size, slice);
    if (rc == Z_OK) {
      reply.resize(size - 1);
      return true;
    }
    if (rc != Z_TIMEOUT) return false;
  }
}

bool CZematInstr::ReadModuleList(int list, std::vector<std::shared_ptr<CModule>>& modules) {
  if (modules.size() >= static_cast<size_t>(Z_MODULES_MAX)) return true;  // list 1 filled the array
  const uint8_t first = list == 1 ? Z_FIRST_MODULE_1 : Z_FIRST_MODULE_2;
  const uint8_t next = list == 1 ? Z_NEXT_MODULE_1 : Z_NEXT_MODULE_2;
  std::vector<uint8_t> reply;
  if (!ConfigRequest(&first, 1, reply)) return false;
  CModule* last = nullptr;  // last module of this list
  int strays = 0;
  for (;;) {
    const uint8_t* p = reply.data() + Z_HEADER_LEN;
    int n = static_cast<int>(reply.size()) - Z_HEADER_LEN;
    uint8_t t = n > 0 ? p[0] : 0xFF;
    if (t == Z_END_OF_LIST) return true;
    if (IsModuleType(t)) {
      auto module = CModule::Create(this, list == 2);
      if (!module->SetRecord(p, n)) return false;  // malformed record
      last = module.get();
      modules.push_back(std::move(module));
      strays = 0;
    } else if (!last || ++strays > Z_STRAY_REPLIES_MAX) {
      return false;  // nothing to repeat, or the instrument keeps answering nonsense
    }
    uint8_t request[Z_MODULE_RECORD_MAX];
    std::memcpy(request, last->GetRecord(), last->GetRecordLength());
    request[0] = next;
    if (!ConfigRequest(request, last->GetRecordLength(), reply)) return false;
    if (modules.size() >= static_cast<size_t>(Z_MODULES_MAX)) return true;
  }
}

bool CZematInstr::ReadModules(std::vector<std::shared_ptr<CModule>>& modules) {
  std::vector<std::shared_ptr<CModule>> found;
  bool ok = ReadModuleList(1, found);
  // An empty list 1 has no first module to test for "-R": list 2 follows.
  if (ok && !(found.size() > 0 && std::strstr(found[0]->GetModuleType(), "-R"))) ok = ReadModuleList(2, found);
  if (!ok) return false;
  for (auto& m : found) modules.push_back(std::move(m));
  return true;
}

bool CZematInstr::ReadCuDescs(CModule* module) {
  Z_ASSERT(module->GetCuDescCount() == 0, Z_MODULE_CORE);
  uint8_t request[Z_CUDESC_RECORD_MAX];
  std::memcpy(request, module->GetRecord(), module->GetRecordLength());
  request[0] = Z_FIRST_CU_DESC;
  std::vector<uint8_t> reply;
  if (!ConfigRequest(request, module->GetRecordLength(), reply)) return false;
  for (;;) {
    const uint8_t* p = reply.data() + Z_HEADER_LEN;
    int n = static_cast<int>(reply.size()) - Z_HEADER_LEN;
    uint8_t t = n > 0 ? p[0] : 0xFF;
    if (t == Z_END_OF_LIST) return true;
    if (t != Z_FIRST_CU_DESC && t != Z_NEXT_CU_DESC) return false;
    auto desc = std::make_unique<CCuDesc>(this, module);
    if (!desc->Parse(p, n)) return false;
    int keyLength = desc->GetKeyLength();
    std::memcpy(request, desc->GetRecord(), keyLength);
    request[0] = Z_NEXT_CU_DESC;
    module->AddCuDesc(std::move(desc));
    if (!ConfigRequest(request, keyLength, reply)) return false;
    if (module->GetCuDescCount() >= Z_CUDESCS_MAX) return true;
  }
}

int CZematInstr::GetModuleCount() const {
  std::lock_guard<std::mutex> g(m_modLock);
  return static_cast<int>(m_modules.size());
}

std::shared_ptr<CModule> CZematInstr::GetModule(int index) const {
  std::lock_guard<std::mutex> g(m_modLock);
  if (index < 0 || index >= static_cast<int>(m_modules.size())) return nullptr;
  return m_modules[index];
}

std::shared_ptr<CModule> CZematInstr::FindModule(const uint8_t* record, int length) const {
  const void* desc = record;
  Z_ASSERT(desc != 0, Z_MODULE_CORE);
  std::lock_guard<std::mutex> g(m_modLock);
  for (auto& m : m_modules)
    if (m->SameRecord(record, length)) return m;
  return nullptr;
}

void CZematInstr::RefreshConfiguration() {
  OnConfigChanged();
  std::vector<std::shared_ptr<CModule>> fresh;
  if (!ReadModules(fresh)) {
    Tracer().Trace(2, "CZematInstr::RefreshConfiguration", "module lists could not be read");
    return;
  }
  // Only this (main) thread changes the array, so it reads it without the lock.
  for (size_t i = 0; i < m_modules.size();) {
    std::shared_ptr<CModule> current = m_modules[i];
    bool kept = false;
    for (auto& m : fresh) kept = kept || current->SameRecord(m->GetRecord(), m->GetRecordLength());
    if (kept) {
      ++i;
      continue;
    }
    // Marked first: windows closing in the hook, and channels opening right now, see it gone.
    current->MarkRemoved();
    OnModuleRemoved(current.get());
    OrphanChannelsOf(current.get());
    std::lock_guard<std::mutex> g(m_modLock);
    RetireModule(i);
  }
  for (auto& m : fresh) {
    if (FindModule(m->GetRecord(), m->GetRecordLength()) || GetModuleCount() >= Z_MODULES_MAX) continue;
    // Its descriptors are read before other threads can see it.
    if (!ReadCuDescs(m.get()))
      Tracer().Trace(2, "CZematInstr::RefreshConfiguration", "CU list of module %s incomplete", m->GetModuleType());
    {
      std::lock_guard<std::mutex> g(m_modLock);
      m_modules.push_back(m);
    }
    OnModuleAdded(m.get());
  }
}
