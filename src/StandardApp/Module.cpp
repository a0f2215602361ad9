// Module.cpp: CModule and CCuDesc: records copied as received, texts located inside the copy.
#include "StandardApp/Module.h"

#include <cstring>

#include "StandardApp/Zassert.h"

namespace {
// Offset one past the zero terminator of the text starting at ofs, or -1 when it is not inside n.
int SkipText(const uint8_t* p, int n, int ofs) {
  for (int i = ofs; i < n; ++i)
    if (p[i] == 0) return i + 1;
  return -1;
}
}  // namespace

CCuDesc::CCuDesc(CZematInstr* owner, CModule* module) : m_owner(owner), m_module(module) {}

bool CCuDesc::FindTexts() {
  const uint8_t* p = m_record.data();
  m_ownerOfs = 1;
  m_descOfs = SkipText(p, m_recordLen, m_ownerOfs);
  m_nameOfs = m_descOfs < 0 ? -1 : SkipText(p, m_recordLen, m_descOfs);
  m_keyLen = m_nameOfs < 0 ? -1 : SkipText(p, m_recordLen, m_nameOfs);
  if (m_keyLen < 0) {
    m_descOfs = m_nameOfs = m_recordLen;  // points at the guard byte: empty texts
    m_keyLen = 0;
    return false;
  }
  return true;
}

bool CCuDesc::Parse(const uint8_t* payload, int length) {
  Z_ASSERT(*payload == Z_FIRST_CU_DESC || *payload == Z_NEXT_CU_DESC, Z_MODULE_CORE);
  if (length > Z_CUDESC_RECORD_MAX || length < 1) return false;
  m_record.fill(0);
  std::memcpy(m_record.data(), payload, length);
  m_recordLen = length;
  if (!FindTexts() || m_keyLen + 6 > length) return false;
  const uint8_t* p = m_record.data() + m_keyLen;
  m_outCount = p[0];
  m_outSize = p[1] * 256 + p[2];
  m_inCount = p[3];
  m_inSize = p[4] * 256 + p[5];
  m_reqOut = m_reqIn = 0;
  return true;
}

void CCuDesc::FillBuiltin(const char* description, const char* name, int outCount, int outSize, int inCount,
                          int inSize) {
  // 0 type byte, "ZEMAT " (6), description (10), name (2), each zero-terminated: 22 bytes.
  m_record.fill(0);
  uint8_t* p = m_record.data();
  int ofs = 1;
  for (const char* text : {"ZEMAT ", description, name}) {
    size_t n = std::strlen(text);
    std::memcpy(p + ofs, text, n);
    ofs += static_cast<int>(n) + 1;
  }
  m_recordLen = ofs;
  FindTexts();
  m_outCount = outCount;
  m_outSize = outSize;
  m_inCount = inCount;
  m_inSize = inSize;
  m_reqOut = m_reqIn = 0;
}

bool CCuDesc::IsRemoved() const { return m_removed.load() || (m_module && m_module->IsRemoved()); }

std::shared_ptr<CCuDesc> CCuDesc::Share() {
  if (!m_module) return nullptr;
  return std::shared_ptr<CCuDesc>(m_module->shared_from_this(), this);
}

CModule::CModule(CZematInstr* owner, bool secondList) : m_owner(owner), m_secondList(secondList) {}

std::shared_ptr<CModule> CModule::Create(CZematInstr* owner, bool secondList) {
  return std::shared_ptr<CModule>(new CModule(owner, secondList));
}

CModule::~CModule() = default;

bool CModule::SetRecord(const uint8_t* payload, int length) {
  if (length < 1 || length > Z_MODULE_RECORD_MAX) return false;
  m_record.fill(0);
  std::memcpy(m_record.data(), payload, length);
  m_recordLen = length;
  int serial = SkipText(m_record.data(), length, 1);
  if (serial < 0 || SkipText(m_record.data(), length, serial) < 0) return false;
  m_serialOfs = serial;
  return true;
}

bool CModule::AddCuDesc(std::unique_ptr<CCuDesc> desc) {
  if (m_cuCount >= Z_CUDESCS_MAX) return false;
  m_cuDescs[m_cuCount++] = std::move(desc);
  return true;
}

std::shared_ptr<CCuDesc> CModule::GetCuDesc(int index) const {
  if (index < 0 || index >= m_cuCount) return nullptr;
  // Aliasing: the reference points at the descriptor and owns the module that owns it.
  return std::shared_ptr<CCuDesc>(shared_from_this(), m_cuDescs[index].get());
}

bool CModule::SameRecord(const uint8_t* record, int length) const {
  return length == m_recordLen && std::memcmp(record + 1, m_record.data() + 1, length - 1) == 0;
}
