// The script class TSignal with the marker and line style constants: a handle on one signal of a plot
// window. Members that reach the signal run on the main thread, where the window confirms it still
// holds the signal (see Plotobjects.h); appended blocks go there queued, without waiting.
#include "scriptlib/Instscript.h"
#include "scriptlib/Plotobjects.h"

#include "script/Registration.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace {

TSignalObj& Sig(TObjHandle self) { return *ScriptObjectAs<TSignalObj>(self); }

// Runs f with the signal the TSignal refers to, on the main thread.
void WithSignal(TObjHandle self, const std::function<void(IPlotSignal&)>& f) {
  const TGraphObjRef& ref = *ScriptObjectAs<TGraphObjRef>(Sig(self).desc);
  const uint64_t serial = ref.serial;
  IPlotSignal* signal = ref.signal;
  const uint64_t id = ref.signalId;
  OnPlotThread([&](std::string& error) {
    IPlotWindow* w = LiveWindow(serial, error);
    if (w && !(w->HasSignal(signal) && signal->Id() == id)) error = kInvalidObject;
    if (error.empty()) f(*signal);
  });
}

void AddTextProp(const char* name, std::string (IPlotSignal::*get)() const,
                 void (IPlotSignal::*set)(const std::string&)) {
  AddProp(
      name,
      [get](TObjHandle self, const std::string&, TValue*, int) {
        std::string v;
        WithSignal(self, [&](IPlotSignal& s) { v = (s.*get)(); });
        return TValue(std::move(v));
      },
      [set](TObjHandle self, const std::string&, TValue* a, int) {
        const std::string v = a[0].AsString();
        WithSignal(self, [&](IPlotSignal& s) { (s.*set)(v); });
        return TValue();
      });
}

void AddStyleProp(const char* name, int (IPlotSignal::*get)() const, bool (IPlotSignal::*set)(int),
                  const char* refusal) {
  AddProp(
      name,
      [get](TObjHandle self, const std::string&, TValue*, int) {
        int v = 0;
        WithSignal(self, [&](IPlotSignal& s) { v = (s.*get)(); });
        return TValue(static_cast<int32_t>(v));
      },
      [set, refusal](TObjHandle self, const std::string&, TValue* a, int) {
        const int64_t v = a[0].AsInt64();
        WithSignal(self, [&](IPlotSignal& s) {
          if (v < INT32_MIN || v > INT32_MAX || !(s.*set)(static_cast<int>(v))) throw ERunTimeError(refusal);
        });
        return TValue();
      });
}

// Appended blocks a script may have on their way to the main thread before it waits for them.
constexpr int kMaxQueuedBlocks = 32;
std::atomic<int> g_queuedBlocks{0};

// AddData without waiting for the main thread (which may be drawing): the block is copied and queued
// behind the script's earlier calls, and the main thread drops it if the window or signal has gone.
// false when the queue is full or the run has no main thread: then the caller waits as for SetData.
bool QueueBlock(TObjHandle self, const CSignalData& d) {
  TInstrScriptThread* run = TInstrScriptThread::Current();
  if (!run || g_queuedBlocks.load() >= kMaxQueuedBlocks) return false;
  const TGraphObjRef& ref = *ScriptObjectAs<TGraphObjRef>(Sig(self).desc);
  if (!CPlotRegistry::Instance().FindSerial(ref.serial)) throw ERunTimeError(kInvalidObject);
  auto block = std::make_shared<std::vector<double>>(d.X(), d.X() + d.Count());
  block->insert(block->end(), d.Y(), d.Y() + d.Count());
  const uint64_t serial = ref.serial;
  IPlotSignal* signal = ref.signal;
  const uint64_t id = ref.signalId;
  ++g_queuedBlocks;
  const bool posted = run->PostMain([serial, signal, id, block] {
    --g_queuedBlocks;
    std::string error;
    IPlotWindow* w = LiveWindow(serial, error);
    const long n = long(block->size() / 2);
    if (w && w->HasSignal(signal) && signal->Id() == id) signal->AddData(n, block->data(), block->data() + n);
  });
  if (!posted) {
    --g_queuedBlocks;
    throw ERunTimeError(kInvalidObject);
  }
  return true;
}

// SetData or AddData with a table: while the script waits, the main thread reads its arrays in place.
TValue PassData(TObjHandle self, const TValue& table, bool append) {
  const CSignalData& d = SignalDataOf(VarToObj(table));
  if (append && d.Count() == 0) {
    WithSignal(self, [](IPlotSignal&) {});  // nothing to append, but the signal is checked
    return TValue();
  }
  if (append && QueueBlock(self, d)) return TValue();
  WithSignal(self, [&](IPlotSignal& s) {
    if (append)
      s.AddData(d.Count(), d.X(), d.Y());
    else
      s.SetData(d.Count(), d.X(), d.Y());
  });
  return TValue();
}

#define SIG_HANDLER []([[maybe_unused]] TObjHandle self, const std::string&, [[maybe_unused]] TValue* a, int) -> TValue

void RegisterConstants() {
  static constexpr std::pair<const char*, int32_t> kConstants[] = {
      {"MARKER_NONE", 0},        {"MARKER_DIAMOND", 1},       {"MARKER_CIRCLE", 2},
      {"MARKER_TRIANGLE_UP", 3}, {"MARKER_TRIANGLE_DOWN", 4}, {"MARKER_PLUS_SIGN", 5},
      {"MARKER_X_SIGN", 6},      {"MARKER_SQUARE", 7},        {"MARKER_HISTOGRAM", 8},
      {"MARKER_VALUES", 9},      {"MARKER_VERTICAL_BAR", 10}, {"MARKER_VERTICAL_LINE", 11},
      {"MARKER_MINICIRCLE", 22}, {"LINE_SOLID", 0},           {"LINE_DASH", 1},
      {"LINE_DOT", 2},           {"LINE_DASHDOT", 3},         {"LINE_DASHDOTDOT", 4},
      {"LINE_NONE", 5}};
  for (const auto& [name, value] : kConstants) AddConst(name, TValue(value));
}

}  // namespace

CSignalData& SignalDataOf(TObjHandle h) { return ScriptObjectAs<TSignalDataObj>(h)->data; }

void RegisterSignalLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterHostClass("TSignal", "TObject");
    AddFun("TSignal.Create", SIG_HANDLER { return ObjToVar(CreateLibObject<TSignalObj>()); }, {pkNone});
    AddFun("TSignal.Free",
           SIG_HANDLER {
             Sig(self);
             FreeLibObject(self);
             return TValue();
           },
           {pkNone});
    AddProp(
        "TSignal.Desc", SIG_HANDLER { return ObjToVar(Sig(self).desc); },
        SIG_HANDLER {
          TSignalObj& s = Sig(self);
          const TObjHandle h = VarToObj(a[0]);
          if (h) ScriptObjectAs<TGraphObjRef>(h);  // only a plot window's signal (or Nil)
          s.desc = h;
          return TValue();
        });
    AddTextProp("TSignal.Title", &IPlotSignal::GetTitle, &IPlotSignal::SetTitle);
    AddTextProp("TSignal.XUnit", &IPlotSignal::GetXUnit, &IPlotSignal::SetXUnit);
    AddTextProp("TSignal.YUnit", &IPlotSignal::GetYUnit, &IPlotSignal::SetYUnit);
    AddStyleProp("TSignal.LineStyle", &IPlotSignal::GetLineStyle, &IPlotSignal::SetLineStyle, "Invalid line style");
    AddStyleProp("TSignal.Marker", &IPlotSignal::GetMarker, &IPlotSignal::SetMarker, "Invalid marker");
    AddFun("TSignal.SetData", SIG_HANDLER { return PassData(self, a[0], false); }, {pkValue});
    AddFun("TSignal.AddData", SIG_HANDLER { return PassData(self, a[0], true); }, {pkValue});
    RegisterConstants();
  });
}
