// The component model that script forms are built from: components with published properties that
// form files set and scripts read and write by name, event properties bound to script handlers, and
// the registry of component classes by name. A component kind is one small class: a factory, its
// property table and its event table (Formcontrols.cpp).
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "script/Formfile.h"
#include "script/Halevent.h"
#include "script/ScriptObjects.h"
#include "script/Value.h"

class TComponent;
class TForm;

struct TPropDef {
  std::function<TValue(TComponent&)> get;
  std::function<void(TComponent&, const TValue&)> set;  // none: read-only
};

struct TMethodDef {
  std::vector<uint8_t> kinds;  // parameter kinds ({pkNone} for none)
  bool function = false;
  std::function<TValue(TComponent&, TValue* args)> call;
};

// One component class: its name, parent class, published properties and event properties.
struct TClassInfo {
  std::string name;                                     // "TButton"
  std::string parent;                                   // "TButtonControl"; empty for TComponent
  std::function<std::unique_ptr<TComponent>()> create;  // none: abstract
  std::map<std::string, TPropDef> props;                // upper-case names
  std::map<std::string, std::string> events;            // upper-case event name -> event type name
  std::map<std::string, TMethodDef> methods;            // upper-case names
  bool container = false;                               // other controls can sit on it
};

// Registers a class (at start-up, before scripts compile).
TClassInfo& RegisterComponentClass(TClassInfo info);
const TClassInfo* FindComponentClass(const std::string& name);
// Every registered component class, parents first.
std::vector<const TClassInfo*> ComponentClasses();

class TComponent : public TScriptObject {
 public:
  explicit TComponent(const TClassInfo& info);
  ~TComponent() override;

  const TClassInfo& Info() const { return *m_info; }
  const std::string& ClassName() const { return m_className; }
  void SetClassName(std::string name) { m_className = std::move(name); }  // a form's own class
  std::string Name;
  int Tag = 0;
  TForm* OwnerForm = nullptr;

  // Property lookup through the class chain; upper-case names.
  const TPropDef* FindProp(const std::string& upperName) const;
  const std::string* FindEventType(const std::string& upperName) const;
  TValue GetProp(const std::string& name);
  void SetProp(const std::string& name, const TValue& v);
  // A value from a form file (dotted names for nested ones: "Font.Name", "Items.Strings").
  virtual void LoadProp(const std::string& name, const TFormValue& v);

  // The handle scripts use for this component (a dialog component answers with its dialog object).
  virtual TObjHandle ScriptHandle() const { return Handle(); }
  virtual QWidget* Widget() const { return nullptr; }
  // Where child controls go (a group box, panel, tab sheet, the form's client area).
  virtual QWidget* ClientWidget() const { return Widget(); }
  // Called once all properties of the form file are set.
  virtual void Loaded() {}

  // Event properties: the method code from the form file, then the bridge bound to it.
  std::map<std::string, int> EventCodes;
  std::map<std::string, std::unique_ptr<THalEvent>> Bridges;
  // Objects a property hands to scripts (Items, Lines, Font), made on first use, owned here.
  std::map<std::string, std::unique_ptr<TScriptObject>> SubObjects;
  bool HasEvent(const std::string& upperName) const { return Bridges.count(upperName) != 0; }
  // Fires an event property with its arguments after Sender (var-arguments come back in args).
  // Handler errors are reported, never thrown into the GUI toolkit.
  void Fire(const std::string& upperName, std::vector<TValue>& args);
  void Fire(const std::string& upperName) {
    std::vector<TValue> none;
    Fire(upperName, none);
  }

 private:
  const TClassInfo* m_info;
  std::string m_className;
};

// A control: a component with a widget, its position and its common properties.
class TControl : public TComponent {
 public:
  TControl(const TClassInfo& info, QWidget* widget);
  ~TControl() override;
  QWidget* Widget() const override { return m_widget; }
  void LoadProp(const std::string& name, const TFormValue& v) override;
  // The caption or text a control shows (labels, buttons, edits override).
  virtual std::string Caption() const { return m_caption; }
  virtual void SetCaption(const std::string& text) { m_caption = text; }
  // After the font changed (an auto-sized label grows with it).
  virtual void FontChanged() {}
  int ColorValue = -1;  // as written (-1: the toolkit's default)

 protected:
  QPointer<QWidget> m_widget;
  std::string m_caption;
};

// Script-side helpers for a form load: the text of a strings value and colours by name.
std::string FormValueText(const TFormValue& v);
TValue FormValueToValue(const TFormValue& v);
int ColorFromValue(const TValue& v);

// Where handler errors go (default: the engine's message box hook).
void SetFormErrorReporter(std::function<void(const std::string&)> report);
void ReportFormError(const std::string& text);

// Runs f on the GUI thread: at once there, through the running script's synchronised call elsewhere.
void OnGuiThread(const std::function<void()>& f);

// Registers the component classes and their script names (once, before any script compiles).
void RegisterFormComponents();
