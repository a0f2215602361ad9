// The event-type table, the method-name list and the handler bridge THalEvent.
#include "script/Halevent.h"

#include <map>
#include <mutex>
#include <utility>

#include "script/HalComp.h"
#include "script/Registration.h"

namespace {

std::map<std::string, TEventListItem, std::less<>>& Events() {
  static std::map<std::string, TEventListItem, std::less<>> events;
  return events;
}

std::mutex g_runnerLock;
THandlerRunner& Runner() {
  static THandlerRunner runner;
  return runner;
}

thread_local TStopFlag* t_handlerStop = nullptr;

}  // namespace

const TEventShape& EventShape(TEventBridge bridge) {
  using B = TEventBridge;
  static const std::map<B, TEventShape> shapes = {
      {B::MNotifyEvent, {0, 0, false}},
      {B::MCloseEvent, {1, 1, false}},
      {B::MCloseQueryEvent, {1, 1, false}},
      {B::MMouseEvent, {4, 0, false}},
      {B::MMouseMoveEvent, {3, 0, false}},
      {B::MKeyEvent, {2, 1, false}},
      {B::MKeyPressEvent, {1, 1, false}},
      {B::MDragDropEvent, {3, 0, false}},
      {B::MDragOverEvent, {5, 1u << 4, false}},
      {B::MEndDragEvent, {3, 0, false}},
      {B::MStartDragEvent, {1, 1, false}},
      {B::MHelpEvent, {3, 1u << 2, true}},
      {B::mQROnNeedDataEvent, {1, 1, false}},
      {B::mQRNotifyOperationEvent, {1, 0, false}},
      {B::mQRBandBeforePrintEvent, {1, 1, false}},
      {B::mQRBandAfterPrintEvent, {1, 0, false}},
      {B::mQRReportBeforePrintEvent, {1, 1, false}},
      {B::mQRFilterEvent, {1, 1, true}},
      {B::mQRLabelOnPrintEvent, {1, 1, false}},
      {B::mQRProgressUpdateEvent, {1, 0, false}},
      {B::mQRPageAvailableEvent, {1, 0, false}},
  };
  return shapes.at(bridge);
}

void RegisterEvent(std::string_view typeName, TEventBridge bridge, std::string_view bridgeClass) {
  Events()[HalUpper(typeName)] = {bridge, std::string(bridgeClass)};
}

const TEventListItem* FindEvent(std::string_view typeName) {
  auto it = Events().find(HalUpper(typeName));
  return it == Events().end() ? nullptr : &it->second;
}

bool RegisteredEvent(std::string_view typeName) { return FindEvent(typeName) != nullptr; }

void ClearEvents() { Events().clear(); }

void RegisterStandardEvents() {
  using B = TEventBridge;
  const struct {
    const char* name;
    B bridge;
  } kTypes[] = {{"TNotifyEvent", B::MNotifyEvent},
                {"TQRNotifyEvent", B::MNotifyEvent},
                {"TQRAfterPrintEvent", B::MNotifyEvent},
                {"TQRAfterPreviewEvent", B::MNotifyEvent},
                {"TCloseEvent", B::MCloseEvent},
                {"TCloseQueryEvent", B::MCloseQueryEvent},
                {"TMouseEvent", B::MMouseEvent},
                {"TMouseMoveEvent", B::MMouseMoveEvent},
                {"TKeyEvent", B::MKeyEvent},
                {"TKeyPressEvent", B::MKeyPressEvent},
                {"TDragDropEvent", B::MDragDropEvent},
                {"TDragOverEvent", B::MDragOverEvent},
                {"TEndDragEvent", B::MEndDragEvent},
                {"TStartDragEvent", B::MStartDragEvent},
                {"THelpEvent", B::MHelpEvent},
                {"TQROnNeedDataEvent", B::mQROnNeedDataEvent},
                {"TQRNotifyOperationEvent", B::mQRNotifyOperationEvent},
                {"TQRBandBeforePrintEvent", B::mQRBandBeforePrintEvent},
                {"TQRBandAfterPrintEvent", B::mQRBandAfterPrintEvent},
                {"TQRReportBeforePrintEvent", B::mQRReportBeforePrintEvent},
                {"TQRFilterEvent", B::mQRFilterEvent},
                {"TQRLabelOnPrintEvent", B::mQRLabelOnPrintEvent},
                {"TQRProgressUpdateEvent", B::mQRProgressUpdateEvent},
                {"TQRPageAvailableEvent", B::mQRPageAvailableEvent}};
  for (const auto& t : kTypes) RegisterEvent(t.name, t.bridge, "THalEvent");
}

int TMethodNames::FindMethod(const std::string& name) {
  names_.push_back(name);
  return Count();
}

TMethodNames& MethodNames() {
  static TMethodNames names;
  return names;
}

void SetHandlerRunner(THandlerRunner runner) {
  std::lock_guard lock(g_runnerLock);
  Runner() = std::move(runner);
}

TStopFlag* CurrentHandlerStop() { return t_handlerStop; }

// ---- THalEvent ---------------------------------------------------------------------------------

THalEvent::THalEvent(THalRuner* runner, std::string ownerName, std::string handlerName)
    : runner_(runner), owner_(std::move(ownerName)), handler_(std::move(handlerName)) {}

const TIdentListItem& THalEvent::GetProcItem() {
  if (entry_) return *entry_;
  // Form1_2 is the third instance of Form1 and shares its routines.
  std::string shortOwner = owner_;
  const size_t us = shortOwner.find_last_of('_');
  if (us != std::string::npos && us + 1 < shortOwner.size() &&
      shortOwner.find_first_not_of("0123456789", us + 1) == std::string::npos)
    shortOwner.erase(us);
  const TIdentList& ids = runner_->KeptIdentifiers();
  std::string key = HalUpper("T" + shortOwner + "." + handler_);
  auto it = ids.find(key);
  if ((it == ids.end() || it->second.Kind != 1) && shortOwner != owner_) {
    key = HalUpper("T" + owner_ + "." + handler_);
    it = ids.find(key);
  }
  if (it == ids.end() || it->second.Kind != 1) throw ERunTimeError("Procedure " + key + " not found");
  key_ = key;
  entry_ = &it->second;
  return *entry_;
}

std::string THalEvent::paramKey(int i) const {
  const std::vector<std::string>& names = entry_->ParamNames;
  if (i < static_cast<int>(names.size())) return key_ + "." + HalUpper(names[static_cast<size_t>(i)]);
  return key_ + "." + std::to_string(i);  // the routine has fewer parameters: reported as not found
}

void THalEvent::SetParam(const std::string& name, const TValue& value) {
  auto it = runner_->KeptIdentifiers().find(HalUpper(name));
  TBinProg* prog = runner_->Program();
  if (it == runner_->KeptIdentifiers().end() || it->second.Kind != 0 || !prog ||
      it->second.Number >= prog->SlotCount()) {
    HalMessageBox("Parameter " + name + " not found");
    return;
  }
  prog->Slot(it->second.Number) = value;
}

TValue THalEvent::GetParam(const std::string& name) {
  auto it = runner_->KeptIdentifiers().find(HalUpper(name));
  TBinProg* prog = runner_->Program();
  if (it == runner_->KeptIdentifiers().end() || it->second.Kind != 0 || !prog ||
      it->second.Number >= prog->SlotCount()) {
    HalMessageBox("Parameter " + name + " not found");
    return TValue(int32_t(0));
  }
  return prog->Slot(it->second.Number);
}

void THalEvent::ExecProc(TObjHandle sender, int n, TValue* args) {
  const TIdentListItem& routine = GetProcItem();
  TBinProg* prog = runner_->Program();
  if (!prog) throw ERunTimeError("Procedure " + key_ + " not found");
  if (sender) SetParam(key_ + ".SENDER", ObjToVar(sender));
  std::vector<bool> present(static_cast<size_t>(n) + 1, false);
  for (int i = 1; i <= n; ++i) {
    present[static_cast<size_t>(i)] = runner_->KeptIdentifiers().count(paramKey(i)) != 0;
    SetParam(paramKey(i), args[n - i]);
  }
  const int start = prog->LabelPlace(routine.Number);
  auto run = [&](TStopFlag& stop) {
    TStopFlag* saved = std::exchange(t_handlerStop, &stop);
    struct TRestore {
      TStopFlag* s;
      ~TRestore() { t_handlerStop = s; }
    } restore{saved};
    prog->RunFrom(start, stop, nullptr);
  };
  THandlerRunner wrap;
  {
    std::lock_guard lock(g_runnerLock);
    wrap = Runner();
  }
  if (wrap) {
    wrap(key_, run);
  } else {
    TStopFlag stop{'R'};
    run(stop);
  }
  // only what exists is read back: a missing parameter was reported once already
  for (int i = 1; i <= n; ++i)
    if (present[static_cast<size_t>(i)]) args[n - i] = GetParam(paramKey(i));
}

void THalEvent::Fire(TEventBridge bridge, TObjHandle sender, std::vector<TValue>& args) {
  const TEventShape& shape = EventShape(bridge);
  const int n = static_cast<int>(args.size());
  std::vector<TValue> reversed(args.rbegin(), args.rend());
  ExecProc(shape.noSender ? 0 : sender, n, reversed.data());
  for (int i = 0; i < n && i < 32; ++i) {
    if (!(shape.copyBack & (1u << i))) continue;
    TValue back = reversed[static_cast<size_t>(n - 1 - i)];
    if (bridge == TEventBridge::MKeyPressEvent) {
      // only the first character counts; an empty text gives no key (never read past it)
      const std::string s = back.AsString();
      back = TValue(s.substr(0, 1));
    }
    args[static_cast<size_t>(i)] = back;
  }
}
