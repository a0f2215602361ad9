// H_dlg: script forms (RunForm, RunFormModal, RunFormMacro), message and input boxes and the dialog
// classes. The objects hold the dialogs' settings; showing one goes to the form host on the main
// thread, so that scripts without a display get a clear error instead of a window.
#include "scriptlib/Formhost.h"

#include "scriptlib/Instscript.h"
#include "scriptlib/LibObjects.h"

#include "script/HalComp.h"
#include "script/Registration.h"

#include <atomic>
#include <mutex>

namespace {

std::atomic<IFormHost*> g_host{nullptr};

// A dialog's settings as a script object (TOpenDialog, TSaveDialog, TFindDialog, ...).
class TDialogObj : public TLibObject {
 public:
  explicit TDialogObj(const char* className) : TLibObject(className) {}
  size_t InstanceSize() const override { return sizeof(*this); }
  void CleanupInstance() override {
    file = TFileDialogData();
    find = TFindDialogData();
  }
  bool ctl3d = true;
  int helpContext = 0;
  TFileDialogData file;
  TFindDialogData find;
  TObjHandle files = 0;  // the string list Files gives, made on first use
};

TDialogObj& Dlg(TObjHandle self) { return *ScriptObjectAs<TDialogObj>(self, "TCommonDialog"); }

std::string Upper(std::string s) { return HalUpper(s); }

std::string Extension(const std::string& file) {
  const size_t dot = file.find_last_of('.');
  const size_t slash = file.find_last_of('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return Upper(file.substr(dot));
}

#define H []([[maybe_unused]] TObjHandle self, const std::string&, [[maybe_unused]] TValue* a, int) -> TValue

TValue Int(int v) { return TValue(static_cast<int32_t>(v)); }

void RegisterFormFunctions() {
  AddProc("RunForm",
          H {
            const std::string file = a[0].AsString();
            OnFormThread("RunForm", [&](IFormHost& h) { h.RunForm(file); });
            return TValue();
          },
          {pkValue});
  AddFun("RunFormModal",
         H {
           const std::string file = a[0].AsString();
           int result = 0;
           OnFormThread("RunFormModal", [&](IFormHost& h) { result = h.RunFormModal(file); });
           return Int(result);
         },
         {pkValue});
  // RunFormMacro(file, modal): the form's modal result, or what the script returns.
  AddFun("RunFormMacro",
         H {
           const std::string file = a[0].AsString();
           const bool modal = a[1].AsBoolean();
           TValue result;
           const std::string ext = Extension(file);
           if (ext == ".DFM") {
             if (modal) {
               int r = 0;
               OnFormThread("RunFormMacro", [&](IFormHost& h) { r = h.RunFormModal(file); });
               result = Int(r);
             } else {
               OnFormThread("RunFormMacro", [&](IFormHost& h) { h.RunForm(file); });
             }
           } else if (ext == ".PAS" || ext == ".HAL") {
             RunMacro(file, result);
           } else {
             throw ERunTimeError("Unknown macro type " + Upper(file));
           }
           return result;
         },
         {pkValue, pkValue});
}

void RegisterMessageBoxes() {
  auto buttonSet = [](const TValue& arr) {
    unsigned set = 0;
    for (const TValue& v : OpenArrayItems(arr)) {
      const int n = v.AsInteger();
      if (n >= 0 && n < 16) set |= 1u << n;
    }
    return set;
  };
  AddFun("MESSAGEDLG",
         [buttonSet](TObjHandle, const std::string&, TValue* a, int) {
           const std::string text = a[0].AsString();
           const int type = a[1].AsInteger();
           const unsigned buttons = buttonSet(a[2]);
           int r = 0;
           OnFormThread("MessageDlg", [&](IFormHost& h) { r = h.MessageDlg(text, type, buttons, -1, -1); });
           return Int(r);
         },
         {pkValue, pkValue, pkOpenArray, pkValue});
  AddFun("MESSAGEDLGPOS",
         [buttonSet](TObjHandle, const std::string&, TValue* a, int) {
           const std::string text = a[0].AsString();
           const int type = a[1].AsInteger();
           const unsigned buttons = buttonSet(a[2]);
           const int x = a[4].AsInteger(), y = a[5].AsInteger();
           int r = 0;
           OnFormThread("MessageDlgPos", [&](IFormHost& h) { r = h.MessageDlg(text, type, buttons, x, y); });
           return Int(r);
         },
         {pkValue, pkValue, pkOpenArray, pkValue, pkValue, pkValue});
  AddProc("SHOWMESSAGE",
          H {
            const std::string text = a[0].AsString();
            OnFormThread("ShowMessage", [&](IFormHost& h) { h.ShowMessage(text); });
            return TValue();
          },
          {pkValue});
  AddFun("INPUTBOX",
         H {
           const std::string caption = a[0].AsString(), prompt = a[1].AsString();
           std::string value = a[2].AsString();
           bool ok = false;
           OnFormThread("InputBox", [&](IFormHost& h) { ok = h.InputQuery(caption, prompt, value); });
           return ok ? TValue(value) : a[2];
         },
         {pkValue, pkValue, pkValue});
  AddFun("INPUTQUERY",
         H {
           const std::string caption = a[0].AsString(), prompt = a[1].AsString();
           std::string value = a[2].AsString();
           bool ok = false;
           OnFormThread("InputQuery", [&](IFormHost& h) { ok = h.InputQuery(caption, prompt, value); });
           if (ok) a[2] = TValue(value);
           return TValue(ok);
         },
         {pkValue, pkValue, pkVar});
}

template <class F>
void AddStrProp(const char* name, F field) {
  AddProp(
      name, [field](TObjHandle self, const std::string&, TValue*, int) { return TValue(field(Dlg(self))); },
      [field](TObjHandle self, const std::string&, TValue* a, int) {
        field(Dlg(self)) = a[0].AsString();
        return TValue();
      });
}

template <class F>
void AddIntProp(const char* name, F field) {
  AddProp(
      name, [field](TObjHandle self, const std::string&, TValue*, int) { return Int(field(Dlg(self))); },
      [field](TObjHandle self, const std::string&, TValue* a, int) {
        field(Dlg(self)) = a[0].AsInteger();
        return TValue();
      });
}

TValue ExecuteFileDialog(TObjHandle self, bool save) {
  TDialogObj& d = Dlg(self);
  TFileDialogData data = d.file;
  bool ok = false;
  OnFormThread(save ? "TSaveDialog.Execute" : "TOpenDialog.Execute",
               [&](IFormHost& h) { ok = h.FileDialog(data, save); });
  if (ok) d.file = data;
  return Int(ok ? 1 : 0);
}

void RegisterDialogClasses() {
  RegisterHostClass("TCommonDialog", "TComponent");
  for (const char* c :
       {"TOpenDialog", "TColorDialog", "TFontDialog", "TPrinterSetupDialog", "TPrintDialog", "TFindDialog"})
    RegisterHostClass(c, "TCommonDialog");
  RegisterHostClass("TSaveDialog", "TOpenDialog");
  RegisterHostClass("TReplaceDialog", "TFindDialog");

  auto creator = [](const char* cls) {
    return [cls](TObjHandle, const std::string&, TValue*, int) {
      return ObjToVar(AdoptLibObject(std::make_unique<TDialogObj>(cls)));
    };
  };
  AddFun("TCOMMONDIALOG.CREATE", creator("TCommonDialog"), {pkValue});
  AddFun("TOPENDIALOG.CREATE", creator("TOpenDialog"), {pkValue});
  AddFun("TSAVEDIALOG.CREATE", creator("TSaveDialog"), {pkValue});
  AddFun("TFINDDIALOG.CREATE", creator("TFindDialog"), {pkValue});
  AddFun("TREPLACEDIALOG.CREATE", creator("TReplaceDialog"), {pkValue});
  AddProp(
      "TCOMMONDIALOG.CTL3D", H { return TValue(Dlg(self).ctl3d); },
      H {
        Dlg(self).ctl3d = a[0].AsBoolean();
        return TValue();
      });
  AddIntProp("TCOMMONDIALOG.HELPCONTEXT", [](TDialogObj& d) -> int& { return d.helpContext; });

  AddFun("TOPENDIALOG.EXECUTE",
         H { return ExecuteFileDialog(self, HostClassIs(LiveObjectClass(self), "TSaveDialog")); }, {pkNone});
  AddFun("TSAVEDIALOG.EXECUTE", H { return ExecuteFileDialog(self, true); }, {pkNone});
  AddFun("TOPENDIALOG.FILES",
         H {
           TDialogObj& d = Dlg(self);
           auto* list = dynamic_cast<TStringListObj*>(FindLibObject(d.files));
           if (!list) {
             d.files = CreateLibObject<TStringListObj>();
             list = dynamic_cast<TStringListObj*>(FindLibObject(d.files));
           }
           list->list.Clear();
           for (const std::string& f : d.file.files) list->list.Add(f);
           return ObjToVar(d.files);
         },
         {pkNone});
  AddStrProp("TOPENDIALOG.DEFAULTEXT", [](TDialogObj& d) -> std::string& { return d.file.defaultExt; });
  AddStrProp("TOPENDIALOG.FILENAME", [](TDialogObj& d) -> std::string& { return d.file.fileName; });
  AddStrProp("TOPENDIALOG.FILTER", [](TDialogObj& d) -> std::string& { return d.file.filter; });
  AddIntProp("TOPENDIALOG.FILTERINDEX", [](TDialogObj& d) -> int& { return d.file.filterIndex; });
  AddStrProp("TOPENDIALOG.INITIALDIR", [](TDialogObj& d) -> std::string& { return d.file.initialDir; });
  AddStrProp("TOPENDIALOG.TITLE", [](TDialogObj& d) -> std::string& { return d.file.title; });

  AddProc("TFINDDIALOG.CLOSEDIALOG", H { return TValue(); }, {pkNone});  // shown modally: closed already
  AddFun("TFINDDIALOG.EXECUTE",
         H {
           TDialogObj& d = Dlg(self);
           TFindDialogData data = d.find;
           data.replace = HostClassIs(LiveObjectClass(self), "TReplaceDialog");
           bool ok = false;
           OnFormThread("TFindDialog.Execute", [&](IFormHost& h) { ok = h.FindDialog(data); });
           if (ok) d.find = data;
           return Int(ok ? 1 : 0);
         },
         {pkNone});
  AddFun("TFINDDIALOG.HANDLE", H { return Int(static_cast<int>(self)); }, {pkNone});
  AddIntProp("TFINDDIALOG.LEFT", [](TDialogObj& d) -> int& { return d.find.left; });
  AddIntProp("TFINDDIALOG.TOP", [](TDialogObj& d) -> int& { return d.find.top; });
  AddStrProp("TFINDDIALOG.FINDTEXT", [](TDialogObj& d) -> std::string& { return d.find.findText; });
  AddStrProp("TREPLACEDIALOG.REPLACETEXT", [](TDialogObj& d) -> std::string& { return d.find.replaceText; });
}

void RegisterDialogConstants() {
  const struct {
    const char* name;
    int value;
  } kConsts[] = {{"mtWarning", 0},  {"mtError", 1},  {"mtInformation", 2}, {"mtConfirmation", 3}, {"mtCustom", 4},
                 {"mbYes", 0},      {"mbNo", 1},     {"mbOK", 2},          {"mbCancel", 3},       {"mbAbort", 4},
                 {"mbRetry", 5},    {"mbIgnore", 6}, {"mbAll", 7},         {"mbHelp", 10},        {"fsEdit", 0},
                 {"fsComboBox", 1}, {"fdScreen", 0}, {"fdPrinter", 1},     {"fdBoth", 2},         {"mrNone", 0},
                 {"mrOk", 1},       {"mrCancel", 2}, {"mrAbort", 3},       {"mrRetry", 4},        {"mrIgnore", 5},
                 {"mrYes", 6},      {"mrNo", 7},     {"mrAll", 8}};
  for (const auto& c : kConsts) AddConst(c.name, Int(c.value));
}

}  // namespace

void SetFormHost(IFormHost* host) { g_host.store(host); }
IFormHost* FormHost() { return g_host.load(); }

void OnFormThread(const char* what, const std::function<void(IFormHost&)>& f) {
  std::string error;
  auto guarded = [&] {
    IFormHost* host = FormHost();
    if (!host) {
      error = std::string(what) + ": needs a display";
      return;
    }
    try {
      f(*host);
    } catch (const std::exception& e) {
      error = e.what();
    }
  };
  TInstrScriptThread* run = TInstrScriptThread::Current();
  if (run ? !run->CallMain(guarded) : (guarded(), false))
    throw ERunTimeError(std::string(what) + ": the program no longer serves this script");
  if (!error.empty()) throw ERunTimeError(error);
}

std::unique_ptr<TScriptObject> NewDialogObject(const std::string& className) {
  static const char* const kClasses[] = {"TCommonDialog", "TOpenDialog", "TSaveDialog",
                                         "TColorDialog",  "TFontDialog", "TPrinterSetupDialog",
                                         "TPrintDialog",  "TFindDialog", "TReplaceDialog"};
  for (const char* c : kClasses)
    if (HalUpper(c) == HalUpper(className)) return std::make_unique<TDialogObj>(c);
  return nullptr;
}

void RegisterFormLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterFormFunctions();
    RegisterMessageBoxes();
    RegisterDialogClasses();
    RegisterDialogConstants();
  });
}
