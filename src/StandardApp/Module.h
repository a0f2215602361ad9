// Module.h: the instrument's configuration as read at start-up: CModule (one module and its
// records) and CCuDesc (one CU descriptor). Records are kept as received and sent back verbatim.
//
// Lifetime: the connection holds its modules by shared ownership and a module owns its descriptors.
// Whoever keeps a descriptor (a channel, a window, a client, a script) holds a reference that keeps
// the whole module alive, so no thread ever reads a freed record. When the connection drops a module
// (it left the instrument, or the session ended) it marks it removed first: holders can tell.
#pragma once

#include <array>
#include <atomic>
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
  // True once the connection dropped the record (its module left, or the session ended): the
  // instrument no longer knows this CU, so nothing may be opened or closed on it.
  bool IsRemoved() const;
  // Marks a built-in descriptor dropped; module descriptors follow their module.
  void MarkRemoved() { m_removed.store(true); }
  // A reference that keeps this descriptor (and its module) alive; null for a built-in descriptor,
  // which only its session's control channels use.
  std::shared_ptr<CCuDesc> Share();

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
  std::atomic<bool> m_removed{false};
};

class CModule : public std::enable_shared_from_this<CModule> {
 public:
  // Modules live in shared ownership only: descriptors handed out keep them alive.
  static std::shared_ptr<CModule> Create(CZematInstr* owner, bool secondList);
  ~CModule();
  CModule(const CModule&) = delete;
  CModule& operator=(const CModule&) = delete;

  // Takes a module reply payload (type 1, 2, 18 or 19). False when it is longer than 36 bytes or
  // its two texts are not terminated inside it.
  bool SetRecord(const uint8_t* payload, int length);
  // Appends a parsed descriptor; false (and the descriptor is dropped) when the module has 16.
  // Descriptors are only ever appended, while the module is not yet published by its connection.
  bool AddCuDesc(std::unique_ptr<CCuDesc> desc);

  const char* GetModuleType() const { return reinterpret_cast<const char*>(m_record.data() + 1); }
  const char* GetSerialNumber() const { return reinterpret_cast<const char*>(m_record.data() + m_serialOfs); }
  int GetCuDescCount() const { return m_cuCount; }
  // The descriptor by index (null past the end), as a reference that keeps this module alive.
  std::shared_ptr<CCuDesc> GetCuDesc(int index) const;
  bool IsSecondList() const { return m_secondList; }
  const uint8_t* GetRecord() const { return m_record.data(); }
  int GetRecordLength() const { return m_recordLen; }
  CZematInstr* GetOwner() const { return m_owner; }
  // True when another record (type byte first, which is not compared: it differs between replies)
  // has this record's length and the same bytes from the module type text on.
  bool SameRecord(const uint8_t* record, int length) const;
  bool IsRemoved() const { return m_removed.load(); }
  // Called by the connection when it drops the module, before any holder can see it gone.
  void MarkRemoved() { m_removed.store(true); }

 private:
  CModule(CZematInstr* owner, bool secondList);

  CZematInstr* m_owner;
  std::array<uint8_t, Z_MODULE_RECORD_MAX + 1> m_record{};  // one guard byte stays 0
  int m_serialOfs = 1;
  int m_recordLen = 0;
  int m_cuCount = 0;
  std::array<std::unique_ptr<CCuDesc>, Z_CUDESCS_MAX> m_cuDescs{};
  bool m_secondList;
  std::atomic<bool> m_removed{false};
};
