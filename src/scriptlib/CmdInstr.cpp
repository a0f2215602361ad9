// TCmdInstr and the module and CU records as script objects; lookups by index or by name.
#include "scriptlib/CmdInstr.h"

#include <strings.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <thread>

#include "StandardApp/Module.h"
#include "StandardApp/Zematcore.h"
#include "script/Registration.h"
#include "scriptlib/InstrumentHost.h"
#include "scriptlib/Instscript.h"

namespace {

// One object per record, kept until no script runs any more; scripts cannot free them (they belong
// to the connection), and holding one keeps the record readable after its module left.
class TRecordRef : public TScriptObject, public IHostClassName {
 public:
  explicit TRecordRef(std::shared_ptr<CModule> m) : TScriptObject("CModule"), module(std::move(m)) {}
  explicit TRecordRef(std::shared_ptr<CCuDesc> c) : TScriptObject("CCuDesc"), cu(std::move(c)) {}
  std::string HostClassName() const override { return module ? "CModule" : "CCuDesc"; }
  std::shared_ptr<CModule> module;
  std::shared_ptr<CCuDesc> cu;
};

struct TRecordRefs {
  std::mutex lock;
  std::map<const void*, std::unique_ptr<TRecordRef>> byRecord;
};

TRecordRefs& Refs() {
  static TRecordRefs refs;
  return refs;
}

template <class T>
TValue RefValue(std::shared_ptr<T> record) {
  if (!record) return ObjToVar(0);
  std::lock_guard<std::mutex> g(Refs().lock);
  std::unique_ptr<TRecordRef>& ref = Refs().byRecord[record.get()];
  if (!ref) ref = std::make_unique<TRecordRef>(std::move(record));
  return ref->ToVar();
}

bool SameText(const char* a, const std::string& b) { return strcasecmp(a, b.c_str()) == 0; }

// Element n (from 1) of a list, or the first whose name equals a string (any case); null otherwise.
template <class T, class Count, class At, class Name>
std::shared_ptr<T> Lookup(const TValue& key, Count count, At at, Name name) {
  if (key.IsInteger()) {
    const int n = key.AsInteger();
    return n >= 1 && n <= count() ? at(n - 1) : nullptr;
  }
  if (!key.IsString()) return nullptr;
  const std::string text = key.AsString();
  for (int i = 0; i < count(); ++i)
    if (std::shared_ptr<T> item = at(i); item && SameText(name(*item), text)) return item;
  return nullptr;
}

}  // namespace

TValue RecordValue(std::shared_ptr<CModule> module) { return RefValue(std::move(module)); }
TValue RecordValue(std::shared_ptr<CCuDesc> cu) { return RefValue(std::move(cu)); }

// ---- TCmdInstr ----

TCmdInstr::TCmdInstr(TInstrScriptThread& thread, IInstrumentHost* host)
    : TScriptObject("TCmdInstr"), m_thread(thread), m_host(host) {
  CScriptConnection::TCurrent current = CScriptConnection::Instance().Current();
  if (current.connection) m_generation = current.generation;
}

CScriptConnection::TUse TCmdInstr::UseConnection() {
  CScriptConnection::TUse use = CScriptConnection::Instance().Use(m_generation);
  if (!use) throw ERunTimeError("Instrument not connected");
  return use;
}

int TCmdInstr::NumModules() { return UseConnection()->GetModuleCount(); }

std::string TCmdInstr::GetConnection() { return CScriptConnection::Instance().Current().description; }

int TCmdInstr::IsConnected() {
  CScriptConnection::TCurrent current = CScriptConnection::Instance().Current();
  m_generation = current.connection ? current.generation : 0;
  return current.connection ? 1 : 0;
}

int TCmdInstr::Connect(const std::string& address) {
  if (!m_host) return 0;
  std::string upper = address;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  int port = 0;
  for (int n = 1; n <= 4; ++n)
    if (upper == "COM" + std::to_string(n)) port = n;
  // The host connects off its main thread and answers later; this thread waits, and an abort ends
  // the wait (the answer then finds nobody, which the shared state allows).
  struct TAnswer {
    std::mutex lock;
    std::condition_variable came;
    bool done = false;
    bool connected = false;
  };
  auto answer = std::make_shared<TAnswer>();
  const bool asked = m_thread.CallMain([&] {
    m_host->Connect(port, port ? upper : address, [answer](CZematInstr* connection) {
      std::lock_guard<std::mutex> g(answer->lock);
      answer->done = true;
      answer->connected = connection != nullptr;
      answer->came.notify_all();
    });
  });
  if (!asked) return 0;
  std::unique_lock<std::mutex> g(answer->lock);
  while (!answer->done && m_thread.RunState().load() != HAL_STOP)
    answer->came.wait_for(g, std::chrono::milliseconds(50));
  if (!answer->connected) return 0;
  g.unlock();
  return IsConnected();
}

void TCmdInstr::Disconnect() {
  if (m_host) m_thread.CallMain([this] { m_host->Disconnect(); });
  m_generation = 0;
}

TValue TCmdInstr::GetModule(const TValue& indexOrType) {
  CScriptConnection::TUse use = UseConnection();
  CZematInstr& c = *use;
  return RecordValue(Lookup<CModule>(
      indexOrType, [&c] { return c.GetModuleCount(); }, [&c](int i) { return c.GetModule(i); },
      [](const CModule& m) { return m.GetModuleType(); }));
}

TValue TCmdInstr::FindModule(const TValue& type, const TValue& occurrence) {
  CScriptConnection::TUse use = UseConnection();
  if (!type.IsString()) return ObjToVar(0);
  const std::string text = type.AsString();
  int64_t wanted = occurrence.AsInt64();
  if (wanted < 1) return ObjToVar(0);
  for (int i = 0; i < use->GetModuleCount(); ++i) {
    std::shared_ptr<CModule> m = use->GetModule(i);
    if (m && SameText(m->GetModuleType(), text) && --wanted == 0) return RecordValue(m);
  }
  return ObjToVar(0);
}

// ---- records ----

std::shared_ptr<CModule> TModuleObj::Module() const {
  if (desc == 0) throw ERunTimeError("TModule.Desc not assigned");
  return ScriptObjectAs<TRecordRef>(desc, "CModule")->module;
}

std::shared_ptr<CCuDesc> TCuObj::Cu() const {
  if (desc == 0) throw ERunTimeError("TCu.Desc not assigned");
  return ScriptObjectAs<TRecordRef>(desc, "CCuDesc")->cu;
}

// ---- registration ----

namespace {

TCmdInstr& Instr(TObjHandle self) { return *ScriptObjectAs<TCmdInstr>(self, "TCmdInstr"); }
TModuleObj& ModuleOf(TObjHandle self) { return *ScriptObjectAs<TModuleObj>(self, "TModule"); }

TValue Int(int64_t v) { return TValue(static_cast<int32_t>(v)); }

#define INSTR_HANDLER \
  []([[maybe_unused]] TObjHandle self, const std::string&, [[maybe_unused]] TValue* a, int) -> TValue

std::shared_ptr<CCuDesc> ModuleCu(const CModule& m, const TValue& key) {
  return Lookup<CCuDesc>(
      key, [&m] { return m.GetCuDescCount(); }, [&m](int i) { return m.GetCuDesc(i); },
      [](const CCuDesc& c) { return c.GetCuName(); });
}

void RegisterCmdInstr() {
  AddProp(
      "TCmdInstr.NumModules", INSTR_HANDLER { return Int(Instr(self).NumModules()); });
  AddFun("TCmdInstr.GetConnection", INSTR_HANDLER { return TValue(Instr(self).GetConnection()); }, {pkNone});
  AddFun("TCmdInstr.Connect", INSTR_HANDLER { return Int(Instr(self).Connect(a[0].AsString())); }, {pkValue});
  AddFun("TCmdInstr.Disconnect",
         INSTR_HANDLER {
           Instr(self).Disconnect();
           return TValue();
         },
         {pkNone});
  AddFun("TCmdInstr.IsConnected", INSTR_HANDLER { return Int(Instr(self).IsConnected()); }, {pkNone});
  AddFun("TCmdInstr.GetModule", INSTR_HANDLER { return Instr(self).GetModule(a[0]); }, {pkValue});
  AddFun("TCmdInstr.FindModule", INSTR_HANDLER { return Instr(self).FindModule(a[0], a[1]); }, {pkValue, pkValue});
}

void RegisterTModule() {
  AddFun("TModule.Create", INSTR_HANDLER { return ObjToVar(CreateLibObject<TModuleObj>()); }, {pkNone});
  AddFun("TModule.Free",
         INSTR_HANDLER {
           ModuleOf(self);
           FreeLibObject(self);
           return TValue();
         },
         {pkNone});
  AddProp(
      "TModule.Desc", INSTR_HANDLER { return ObjToVar(ModuleOf(self).desc); },
      INSTR_HANDLER {
        ModuleOf(self).desc = VarToObj(a[0]);
        return TValue();
      });
  AddProp(
      "TModule.Productnr", INSTR_HANDLER { return TValue(std::string(ModuleOf(self).Module()->GetModuleType())); });
  AddProp(
      "TModule.SerialNr", INSTR_HANDLER { return TValue(std::string(ModuleOf(self).Module()->GetSerialNumber())); });
  AddProp(
      "TModule.NumCus", INSTR_HANDLER { return Int(ModuleOf(self).Module()->GetCuDescCount()); });
  AddFun("TModule.GetCu", INSTR_HANDLER { return RecordValue(ModuleCu(*ModuleOf(self).Module(), a[0])); }, {pkValue});
  AddFun2("TModule.CreateCuWindow",
          [](TObjHandle self, void* userData, TValue* a, int) -> TValue {
            std::shared_ptr<CCuDesc> cu = ModuleCu(*ModuleOf(self).Module(), a[0]);
            auto* thread = static_cast<TInstrScriptThread*>(userData);
            if (cu && thread && thread->Instrument())
              thread->CallMain([thread, cu] { thread->Instrument()->OpenCuWindow(cu); });
            return Int(1);
          },
          {pkValue});
}

}  // namespace

void RegisterInstrumentBindings() {
  for (const char* name : {"TCmdInstr", "TModule", "TCu", "CModule", "CCuDesc"}) RegisterHostClass(name, "TObject");
  RegisterCmdInstr();
  RegisterTModule();
  RegisterTCu();
  // The records scripts were handed go when no script runs any more.
  TScriptObjectRegistry::Instance().AddCleanup([] {
    std::map<const void*, std::unique_ptr<TRecordRef>> doomed;
    std::lock_guard<std::mutex> g(Refs().lock);
    doomed.swap(Refs().byRecord);
  });
}
