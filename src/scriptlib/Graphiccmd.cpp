// The script class TPlotWnd with the TPlot properties and the window and scale mode constants. Every
// member that touches a window runs on the main thread (see Plotobjects.h).
#include "scriptlib/Instscript.h"
#include "scriptlib/Plotobjects.h"

#include "script/Registration.h"

#include <map>
#include <mutex>
#include <utility>

namespace {

// Longer names are refused: a name is also the window's caption.
constexpr size_t kMaxNameLength = 255;

std::mutex g_refLock;
std::map<std::pair<uint64_t, uint64_t>, TObjHandle> g_refs;  // one reference per signal (window, signal id)

TPlotWndObj& Wnd(TObjHandle self) { return *ScriptObjectAs<TPlotWndObj>(self); }

// The handle scripts get for a signal: the same one each time while it lives.
TObjHandle SignalRef(uint64_t serial, IPlotSignal* signal, uint64_t signalId) {
  std::lock_guard<std::mutex> lock(g_refLock);
  TObjHandle& h = g_refs[{serial, signalId}];
  auto* ref = dynamic_cast<TGraphObjRef*>(FindLibObject(h));
  if (ref && ref->serial == serial && ref->signal == signal && ref->signalId == signalId) return h;
  auto made = std::make_unique<TGraphObjRef>();
  made->serial = serial;
  made->signal = signal;
  made->signalId = signalId;
  h = AdoptLibObject(std::move(made));
  return h;
}

// Runs f with the bound window on the main thread.
void WithWindow(TObjHandle self, const std::function<void(IPlotWindow&)>& f) {
  const uint64_t serial = Wnd(self).serial;
  OnPlotThread([&](std::string& error) {
    if (IPlotWindow* w = LiveWindow(serial, error)) f(*w);
  });
}

void OpenWindow(TObjHandle self, const std::string& name) {
  TPlotWndObj& obj = Wnd(self);
  if (name.empty() || name.size() > kMaxNameLength) throw ERunTimeError("Invalid plot window name");
  uint64_t serial = 0;
  OnPlotThread([&](std::string& error) {
    CPlotRegistry& registry = CPlotRegistry::Instance();
    if (registry.Find(name, &serial)) return;
    IPlotHost* host = PlotHost();
    IPlotWindow* w = host ? host->CreatePlotWindow(name) : nullptr;
    if (!w) {
      error = "Cannot open plot window " + name + ": no display";
      return;
    }
    serial = registry.Add(name, w);
  });
  obj.name = name;
  obj.serial = serial;
}

void CloseWindow(TObjHandle self) {
  TPlotWndObj& obj = Wnd(self);
  const uint64_t serial = std::exchange(obj.serial, 0);
  if (!serial) return;
  OnPlotThread([&](std::string&) {
    // Closed by hand already: nothing left to do.
    if (IPlotWindow* w = CPlotRegistry::Instance().FindSerial(serial)) w->CloseWindow();
  });
}

TValue AddSignal(TObjHandle self, const std::string& name) {
  const uint64_t serial = Wnd(self).serial;
  IPlotSignal* signal = nullptr;
  uint64_t signalId = 0;
  OnPlotThread([&](std::string& error) {
    if (IPlotWindow* w = LiveWindow(serial, error)) signal = w->AddSignal(name);
    if (signal) signalId = signal->Id();  // here: once back on the script's thread it may be gone
  });
  return ObjToVar(SignalRef(serial, signal, signalId));
}

// An integer property of the bound window.
void AddModeProp(const char* name, int (IPlotWindow::*get)() const, void (IPlotWindow::*set)(int)) {
  AddProp(
      name,
      [get](TObjHandle self, const std::string&, TValue*, int) {
        int v = 0;
        WithWindow(self, [&](IPlotWindow& w) { v = (w.*get)(); });
        return TValue(static_cast<int32_t>(v));
      },
      [set](TObjHandle self, const std::string&, TValue* a, int) {
        const int v = a[0].AsInteger();
        WithWindow(self, [&](IPlotWindow& w) { (w.*set)(v); });
        return TValue();
      });
}

#define WND_HANDLER []([[maybe_unused]] TObjHandle self, const std::string&, [[maybe_unused]] TValue* a, int) -> TValue

}  // namespace

void OnPlotThread(const std::function<void(std::string& error)>& f) {
  std::string error;
  auto guarded = [&] {
    try {
      f(error);
    } catch (const std::exception& e) {
      error = e.what();
    }
  };
  TInstrScriptThread* run = TInstrScriptThread::Current();
  if (run ? !run->CallMain(guarded) : (guarded(), false)) throw ERunTimeError(kInvalidObject);
  if (!error.empty()) throw ERunTimeError(error);
}

IPlotWindow* LiveWindow(uint64_t serial, std::string& error) {
  IPlotWindow* w = serial ? CPlotRegistry::Instance().FindSerial(serial) : nullptr;
  if (!w) error = kInvalidObject;
  return w;
}

void RegisterPlotLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterHostClass("TPlot", "TObject");
    RegisterHostClass("TPlotWnd", "TPlot");
    RegisterHostClass("TGraphObj", "TObject");
    // The references went with the pool when the last script ended.
    TScriptObjectRegistry::Instance().AddCleanup([] {
      std::lock_guard<std::mutex> lock(g_refLock);
      g_refs.clear();
    });
    AddFun("TPlotWnd.Create", WND_HANDLER { return ObjToVar(CreateLibObject<TPlotWndObj>()); }, {pkNone});
    AddProc("TPlotWnd.Free",
            WND_HANDLER {
              Wnd(self);
              FreeLibObject(self);
              return TValue();
            },
            {pkNone});
    AddProc("TPlotWnd.OpenWindow",
            WND_HANDLER {
              OpenWindow(self, a[0].AsString());
              return TValue();
            },
            {pkValue});
    AddProc("TPlotWnd.CloseWindow",
            WND_HANDLER {
              CloseWindow(self);
              return TValue();
            },
            {pkNone});
    AddFun("TPlotWnd.AddSignal", WND_HANDLER { return AddSignal(self, a[0].AsString()); }, {pkValue});
    AddProc("TPlotWnd.RemoveAllSignals",
            WND_HANDLER {
              WithWindow(self, [](IPlotWindow& w) { w.RemoveAllSignals(); });
              return TValue();
            },
            {pkNone});
    AddModeProp("TPlot.WindowMode", &IPlotWindow::WindowMode, &IPlotWindow::SetWindowMode);
    AddModeProp("TPlot.ScaleMode", &IPlotWindow::ScaleMode, &IPlotWindow::SetScaleMode);
    AddModeProp("TPlot.ShowGrid", &IPlotWindow::ShowGrid, &IPlotWindow::SetShowGrid);
    AddConst("WM_ALLINONEWND", TValue(int32_t(2)));
    AddConst("WM_EACHSEPARATE", TValue(int32_t(3)));
    AddConst("SM_ALLTHESAME", TValue(int32_t(0)));
    AddConst("SM_EACHFULLSCALE", TValue(int32_t(3)));
  });
}
