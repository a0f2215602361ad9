// The instrument bindings: TCmdInstr (the run's "Instrument"), TModule and TCu (views of a module and
// of a CU with its own channel), and the module and CU records handed to scripts as objects. Every
// call that reaches the connection holds a use of it (CScriptConnection).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "StandardApp/Cu.h"
#include "script/ScriptObjects.h"
#include "scriptlib/HostClassName.h"
#include "scriptlib/LibObjects.h"
#include "scriptlib/ScriptConnection.h"

class CCuDesc;
class CModule;
class IInstrumentHost;
class TInstrScriptThread;

class TCmdInstr : public TScriptObject, public IHostClassName {
 public:
  // Starts with the host's connection of the moment.
  TCmdInstr(TInstrScriptThread& thread, IInstrumentHost* host);
  std::string HostClassName() const override { return "TCmdInstr"; }

  int NumModules();
  std::string GetConnection();
  int Connect(const std::string& address);
  void Disconnect();
  int IsConnected();
  TValue GetModule(const TValue& indexOrType);
  TValue FindModule(const TValue& type, const TValue& occurrence);

 private:
  CScriptConnection::TUse UseConnection();  // raises "Instrument not connected"

  TInstrScriptThread& m_thread;
  IInstrumentHost* m_host;
  uint64_t m_generation = 0;  // the connection this object follows (0: none)
};

class TModuleObj : public TLibObject {
 public:
  TModuleObj() : TLibObject("TModule") {}
  size_t InstanceSize() const override { return sizeof(*this); }
  void CleanupInstance() override { desc = 0; }
  std::shared_ptr<CModule> Module() const;  // raises "TModule.Desc not assigned"
  TObjHandle desc = 0;                      // as the script set it
};

class TCuObj : public TLibObject, public IScriptChannelHolder {
 public:
  TCuObj();
  ~TCuObj() override;  // closes and destroys an open channel
  size_t InstanceSize() const override { return sizeof(*this); }
  void CleanupInstance() override {}
  std::shared_ptr<CCuDesc> Cu() const;  // raises "TCu.Desc not assigned"

  int Open();
  int Close();
  bool IsOpen();
  // The channel operations; false (nothing sent or read) when the CU is not open.
  bool Write(const void* data, int length);
  // Waits up to ms for one frame into buffer (capacity bytes, header first, a zero behind it);
  // 0 when none came, else the frame length + 1.
  int Read(uint8_t* buffer, int capacity, unsigned ms);

  void WakeChannel() override;
  void DropChannel() override;

  TObjHandle desc = 0;

 private:
  // The open channel and a use of its connection, or an empty use when the CU is not open.
  CScriptConnection::TUse UseChannel(CCuIO*& channel);

  mutable std::mutex m_lock;  // guards m_channel and m_generation
  std::unique_ptr<CCuIO> m_channel;
  uint64_t m_generation = 0;  // the connection the channel is on
};

// Module and CU records as script objects (class names "CModule" and "CCuDesc"); Nil for none.
TValue RecordValue(std::shared_ptr<CModule> module);
TValue RecordValue(std::shared_ptr<CCuDesc> cu);

// The instrument names (TCmdInstr, TModule, TCu), in the registration order.
void RegisterInstrumentBindings();
void RegisterTCu();  // part of the above
