// Module.h: the instrument's configuration as read at start-up: CModule (one module and its
// records) and CCuDesc (one CU descriptor). Records are kept as received and sent back verbatim.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "StandardApp/Zematdefs.h"

class CZematInstr;
class CModule;

class CCuDesc {
 public:
  CCuDesc(CZematInstr* owner, CModule* module);

  // Parses a descriptor reply payload (type 4 or 5). False for a malformed record: too long,
  // missing text terminators or missing buffer parameters.
  bool Parse(const uint8_t* payload, int length);
  // Fills a built-in descriptor ("ZEMAT " owner, 10-character description, 2-letter name).
  void FillBuiltin(const char* description, const char* name, int outCount, int outSize, int inCount, int inSize);

  const char* GetOwnerText() const { return Text(m_ownerOfs); }
  const char* GetDescription() const { return Text(m_descOfs); }
  const char* GetCuName() const { return Text(m_nameOfs); }
  int GetOutCount() const { return m_outCount; }
  int GetOutSize() const { return m_outSize; }
  int GetInCount() const { return m_inCount; }
  int GetInSize() const { return m_inSize; }
  int GetRequestedOut() const { return m_reqOut; }
  int GetRequestedIn() const { return m_reqIn; }
  void SetRequestedOut(int n) { m_reqOut = n; }
  void SetRequestedIn(int n) { m_reqIn = n; }

  // The record: type byte, three texts (the key, GetKeyLength bytes), then the buffer parameters.
  const uint8_t* GetRecord() const { return m_record.data(); }
  int GetRecordLength() const { return m_recordLen; }
  int GetKeyLength() const { return m_keyLen; }
  CZematInstr* GetOwner() const { return m_owner; }
  CModule* GetModule() const { return m_module; }

 private:
  const char* Text(int ofs) const { return reinterpret_cast<const char*>(m_record.data() + ofs); }
  bool FindTexts();

  std::array<uint8_t, Z_CUDESC_RECORD_MAX + 1> m_record{};  // one guard byte stays 0
  int m_recordLen = 0;
  int m_keyLen = 0;
  int m_ownerOfs = 1, m_descOfs = 1, m_nameOfs = 1;
  int m_outCount = 0, m_outSize = 0, m_inCount = 0, m_inSize = 0;
  int m_reqOut = 0, m_reqIn = 0;
  CZematInstr* m_owner;
  CModule* m_module;
};

class CModule {
 public:
  CModule(CZematInstr* owner, bool secondList);
  ~CModule();
  CModule(const CModule&) = delete;
  CModule& operator=(const CModule&) = delete;

  // Takes a module reply payload (type 1, 2, 18 or 19). False when it is longer than 36 bytes or
  // its two texts are not terminated inside it.
  bool SetRecord(const uint8_t* payload, int length);
  // Appends a parsed descriptor; false (and the descriptor is dropped) when the module has 16.
  bool AddCuDesc(std::unique_ptr<CCuDesc> desc);
  void ClearCuDescs();

  const char* GetModuleType() const { return reinterpret_cast<const char*>(m_record.data() + 1); }
  const char* GetSerialNumber() const { return reinterpret_cast<const char*>(m_record.data() + m_serialOfs); }
  int GetCuDescCount() const { return m_cuCount; }
  CCuDesc* GetCuDesc(int index) const;
  bool IsSecondList() const { return m_secondList; }
  const uint8_t* GetRecord() const { return m_record.data(); }
  int GetRecordLength() const { return m_recordLen; }
  CZematInstr* GetOwner() const { return m_owner; }
  // True when another record (type byte first, which is not compared: it differs between replies)
  // has this record's length and the same bytes from the module type text on.
  bool SameRecord(const uint8_t* record, int length) const;

 private:
  CZematInstr* m_owner;
  std::array<uint8_t, Z_MODULE_RECORD_MAX + 1> m_record{};  // one guard byte stays 0
  int m_serialOfs = 1;
  int m_recordLen = 0;
  int m_cuCount = 0;
  std::array<std::unique_ptr<CCuDesc>, Z_CUDESCS_MAX> m_cuDescs{};
  bool m_secondList;
};
