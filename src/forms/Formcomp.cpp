// The component base classes, the class registry, the common control properties (position, size,
// visibility, colour, font, caption) and the script names every component class gets.
#include "forms/Formcomp.h"

#include <QCoreApplication>
#include <QThread>
#include <mutex>

#include "forms/Formform.h"
#include "forms/Formsub.h"
#include "script/HalComp.h"
#include "script/Registration.h"
#include "scriptlib/Instscript.h"

namespace {

std::map<std::string, std::unique_ptr<TClassInfo>>& Classes() {
  static std::map<std::string, std::unique_ptr<TClassInfo>> classes;
  return classes;
}

std::mutex g_reportLock;
std::function<void(const std::string&)>& Reporter() {
  static std::function<void(const std::string&)> r;
  return r;
}

const struct {
  const char* name;
  int value;
} kColors[] = {{"clBlack", 0x000000},
               {"clMaroon", 0x000080},
               {"clGreen", 0x008000},
               {"clOlive", 0x008080},
               {"clNavy", 0x800000},
               {"clPurple", 0x800080},
               {"clTeal", 0x808000},
               {"clGray", 0x808080},
               {"clSilver", 0xC0C0C0},
               {"clRed", 0x0000FF},
               {"clLime", 0x00FF00},
               {"clYellow", 0x00FFFF},
               {"clBlue", 0xFF0000},
               {"clFuchsia", 0xFF00FF},
               {"clAqua", 0xFFFF00},
               {"clWhite", 0xFFFFFF},
               {"clBtnFace", int(0xFF00000F)},
               {"clWindow", int(0xFF000005)},
               {"clWindowText", int(0xFF000008)},
               {"clNone", 0x1FFFFFFF},
               {"clDefault", 0x20000000}};

}  // namespace

// ---- registry -----------------------------------------------------------------------------------

TClassInfo& RegisterComponentClass(TClassInfo info) {
  auto& slot = Classes()[HalUpper(info.name)];
  slot = std::make_unique<TClassInfo>(std::move(info));  // a later registration replaces the earlier
  return *slot;
}

const TClassInfo* FindComponentClass(const std::string& name) {
  auto it = Classes().find(HalUpper(name));
  return it == Classes().end() ? nullptr : it->second.get();
}

std::vector<const TClassInfo*> ComponentClasses() {
  std::vector<const TClassInfo*> all;
  for (const auto& [k, v] : Classes()) all.push_back(v.get());
  return all;
}

// ---- TComponent ---------------------------------------------------------------------------------

TComponent::TComponent(const TClassInfo& info) : TScriptObject(info.name), m_info(&info), m_className(info.name) {}

TComponent::~TComponent() = default;

const TPropDef* TComponent::FindProp(const std::string& upperName) const {
  for (const TClassInfo* c = m_info; c; c = c->parent.empty() ? nullptr : FindComponentClass(c->parent)) {
    auto it = c->props.find(upperName);
    if (it != c->props.end()) return &it->second;
  }
  return nullptr;
}

const std::string* TComponent::FindEventType(const std::string& upperName) const {
  for (const TClassInfo* c = m_info; c; c = c->parent.empty() ? nullptr : FindComponentClass(c->parent)) {
    auto it = c->events.find(upperName);
    if (it != c->events.end()) return &it->second;
  }
  return nullptr;
}

TValue TComponent::GetProp(const std::string& name) {
  const TPropDef* p = FindProp(HalUpper(name));
  if (!p || !p->get) throw ERunTimeError("Property " + name + " not found");
  return p->get(*this);
}

void TComponent::SetProp(const std::string& name, const TValue& v) {
  const TPropDef* p = FindProp(HalUpper(name));
  if (!p) throw ERunTimeError("Property " + name + " not found");
  if (!p->set) throw ERunTimeError("Property " + name + " is read-only");
  p->set(*this, v);
}

void TComponent::LoadProp(const std::string& name, const TFormValue& v) {
  const std::string up = HalUpper(name);
  if (FindEventType(up) || up.rfind("ON", 0) == 0) {
    // an event property names a method: it gets the method's number in this load's list
    if (v.kind == TFormValue::TKind::Ident) EventCodes[up] = MethodNames().FindMethod(v.text);
    return;
  }
  const TPropDef* p = FindProp(up);
  if (!p || !p->set) return;  // properties this model does not keep (tab order, scaling, ...)
  p->set(*this, FormValueToValue(v));
}

void TComponent::Fire(const std::string& upperName, std::vector<TValue>& args) {
  auto it = Bridges.find(upperName);
  if (it == Bridges.end()) return;
  const std::string* type = FindEventType(upperName);
  const TEventListItem* ev = type ? FindEvent(*type) : nullptr;
  if (!ev) return;
  // the form (and its program) stays while one of its handlers runs, even when closed meanwhile
  TFormBusy busy(OwnerForm);
  try {
    it->second->Fire(ev->bridge, Handle(), args);
  } catch (const std::exception& e) {
    ReportFormError(e.what());
  }
}

// ---- TControl -----------------------------------------------------------------------------------

TControl::TControl(const TClassInfo& info, QWidget* widget) : TComponent(info), m_widget(widget) {
  if (m_widget) InstallControlHook(*this);
}

TControl::~TControl() {
  Bridges.clear();  // the widget's last events (focus, hide) must not reach a handler now
  DropSubObjects(*this);
  delete m_widget.data();  // children's widgets went first: components are freed in reverse order
}

void TControl::LoadProp(const std::string& name, const TFormValue& v) {
  const std::string up = HalUpper(name);
  if (up.rfind("FONT.", 0) == 0) {
    SetFontPart(*this, up.substr(5), FormValueToValue(v));
    return;
  }
  if (up == "ITEMS.STRINGS" || up == "LINES.STRINGS" || up == "TABS.STRINGS") {
    if (const TPropDef* p = FindProp(up.substr(0, up.find('.')))) {
      if (p->set) p->set(*this, TValue(FormValueText(v)));
    }
    return;
  }
  TComponent::LoadProp(name, v);
}

// ---- values -------------------------------------------------------------------------------------

std::string FormValueText(const TFormValue& v) {
  if (v.kind != TFormValue::TKind::List) return FormValueToValue(v).AsString();
  std::string s;
  for (const TFormValue& i : v.items) s += FormValueToValue(i).AsString() + "\n";
  return s;
}

TValue FormValueToValue(const TFormValue& v) {
  using K = TFormValue::TKind;
  switch (v.kind) {
    case K::Integer:
      return TValue(static_cast<int32_t>(v.integer));
    case K::Real:
      return TValue(v.real);
    case K::String:
    case K::Ident:
      return TValue(v.text);
    case K::True:
      return TValue(true);
    case K::False:
      return TValue(false);
    case K::Set: {
      std::string s;
      for (const std::string& i : v.idents) s += (s.empty() ? "" : ",") + i;
      return TValue("[" + s + "]");
    }
    case K::List:
      return TValue(FormValueText(v));
    default:
      return TValue();
  }
}

int ColorFromValue(const TValue& v) {
  if (v.IsString()) {
    const std::string up = HalUpper(v.StrVal());
    for (const auto& c : kColors)
      if (HalUpper(c.name) == up) return c.value;
    int32_t n = 0;
    if (TextToInt(v.StrVal(), n)) return n;
    throw ERunTimeError("Invalid color " + v.StrVal());
  }
  return v.AsInteger();
}

// ---- errors and threads -------------------------------------------------------------------------

void SetFormErrorReporter(std::function<void(const std::string&)> report) {
  std::lock_guard lock(g_reportLock);
  Reporter() = std::move(report);
}

void ReportFormError(const std::string& text) {
  std::function<void(const std::string&)> r;
  {
    std::lock_guard lock(g_reportLock);
    r = Reporter();
  }
  if (r)
    r(text);
  else
    HalMessageBox(text);
}

void OnGuiThread(const std::function<void()>& f) {
  std::string error;
  bool failed = false;
  auto guarded = [&] {
    try {
      f();
    } catch (const std::exception& e) {
      failed = true;
      error = e.what();
    }
  };
  TInstrScriptThread* run = TInstrScriptThread::Current();
  if (run && QThread::currentThread() != QCoreApplication::instance()->thread()) {
    if (!run->CallMain(guarded)) throw ERunTimeError("Invalid or uninitialized object used");
  } else {
    guarded();
  }
  if (failed) throw ERunTimeError(error);
}

// ---- script names -------------------------------------------------------------------------------

namespace {

TComponent& Comp(TObjHandle self) { return *ScriptObjectAs<TComponent>(self, "TComponent"); }

TValue GetHandler(TObjHandle self, const std::string& method, TValue*, int) {
  TValue r;
  OnGuiThread([&] { r = Comp(self).GetProp(method); });
  return r;
}

TValue SetHandler(TObjHandle self, const std::string& method, TValue* a, int) {
  const std::string prop = method.size() > 4 ? method.substr(0, method.size() - 4) : method;  // NAME_SET
  const TValue v = a[0];
  OnGuiThread([&] { Comp(self).SetProp(prop, v); });
  return TValue();
}

}  // namespace

void RegisterFormComponents() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterComponentKinds();
    for (const TClassInfo* c : ComponentClasses()) {
      RegisterHostClass(c->name, c->parent.empty() ? "TPersistent" : c->parent);
      for (const auto& [prop, def] : c->props) {
        const std::string name = c->name + "." + prop;
        if (def.set)
          AddProp(name, GetHandler, SetHandler);
        else
          AddProp(name, GetHandler);
      }
      for (const auto& [mname, def] : c->methods) {
        THalMethod h = [call = def.call](TObjHandle self, const std::string&, TValue* a, int) {
          TValue r;
          OnGuiThread([&] { r = call(Comp(self), a); });
          return r;
        };
        const std::string name = c->name + "." + mname;
        if (def.function)
          AddFun(name, h, def.kinds.data(), static_cast<int>(def.kinds.size()) - 1);
        else
          AddProc(name, h, def.kinds.data(), static_cast<int>(def.kinds.size()) - 1);
      }
    }
    for (const auto& c : kColors) AddConst(c.name, TValue(static_cast<int32_t>(c.value)));
    RegisterSubObjectNames();
  });
}
