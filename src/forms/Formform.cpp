// TForm, its window, the form loader (components from the file, the script, the bridges) and the
// list of open forms.
#include "forms/Formform.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QTimer>
#include <filesystem>

#include "forms/Formsub.h"
#include "forms/Formwatch.h"
#include "script/Registration.h"

namespace {

class TFormWidget : public QWidget {
 public:
  explicit TFormWidget(TForm& f) : QWidget(nullptr, Qt::Window), m_form(f) {}

 protected:
  void closeEvent(QCloseEvent* e) override {
    if (m_closing) return;  // Close() itself hides the window
    e->ignore();
    m_form.Close();
  }
  void showEvent(QShowEvent*) override { m_form.Fire("ONSHOW"); }
  void hideEvent(QHideEvent*) override { m_form.Fire("ONHIDE"); }
  void changeEvent(QEvent* e) override {
    if (e->type() == QEvent::ActivationChange) m_form.Fire(isActiveWindow() ? "ONACTIVATE" : "ONDEACTIVATE");
  }

 public:
  bool m_closing = false;

 private:
  TForm& m_form;
};

// Form files name their root by its own class (TForm1): a form class unknown so far is a TForm.
const TClassInfo& FormClassInfo() { return *FindComponentClass("TForm"); }

void LoadNode(TForm& root, TComponent& c, const TFormNode& node, int depth);

void CreateChildren(TForm& root, TComponent& parent, const TFormNode& node, int depth) {
  for (const TFormNode& child : node.children) {
    const TClassInfo* info = FindComponentClass(child.className);
    if (!info || !info->create) throw EFormFileError("Class " + child.className + " not found");
    std::unique_ptr<TComponent> made = info->create();
    TComponent& c = *made;
    c.Name = child.name;
    c.OwnerForm = &root;
    if (QWidget* w = c.Widget()) {
      QWidget* host = parent.ClientWidget();
      if (!host) throw EFormFileError(child.name + ": " + parent.Name + " cannot hold controls");
      w->setParent(host);
      w->show();  // shown with its parent
    }
    root.Components.push_back(std::move(made));
    LoadNode(root, c, child, depth + 1);
  }
}

void LoadNode(TForm& root, TComponent& c, const TFormNode& node, int depth) {
  if (depth > 100) throw EFormFileError("Components nested too deeply");
  for (const TFormProperty& p : node.props) {
    try {
      c.LoadProp(p.name, p.value);
    } catch (const EScriptError& e) {
      throw EFormFileError(node.name + "." + p.name + ": " + e.what());
    }
  }
  CreateChildren(root, c, node, depth);
  c.Loaded();
}

std::string ScriptFileFor(const std::string& file) {
  std::filesystem::path p(file);
  for (const char* ext : {".PAS", ".pas", ".Pas"}) {
    p.replace_extension(ext);
    if (std::filesystem::exists(p)) return p.string();
  }
  return {};
}

void BindEvents(TForm& root, TComponent& c) {
  for (const auto& [event, code] : c.EventCodes) {
    if (code < 1 || code > MethodNames().Count()) continue;
    const std::string* type = c.FindEventType(event);
    const TEventListItem* ev = type ? FindEvent(*type) : nullptr;
    if (!ev || !root.Script) continue;  // not bindable here: the property stays empty
    c.Bridges[event] = std::make_unique<THalEvent>(root.Script->Runner(), root.Name, MethodNames().Name(code));
  }
  c.EventCodes.clear();
}

}  // namespace

// ---- TFormScript --------------------------------------------------------------------------------

void TFormScript::CollectNamedObjects(THalRuner& runner) {
  for (const auto& c : m_form.Components)
    if (!c->Name.empty()) runner.AddObjectbyRef(c->Name, c->ScriptHandle());
  runner.AddObjectbyRef("Self", m_form.Handle());
  if (!m_form.Name.empty()) runner.AddObjectbyRef(m_form.Name, m_form.Handle());
}

// ---- TForm --------------------------------------------------------------------------------------

TForm::TForm() : TControl(FormClassInfo(), nullptr) {
  m_widget = new TFormWidget(*this);
  InstallControlHook(*this);
  OwnerForm = this;
}

TForm::~TForm() {
  if (m_widget) m_widget->hide();
  Bridges.clear();
  for (const auto& c : Components) c->Bridges.clear();  // no handler runs while the form goes
  while (!Components.empty()) Components.pop_back();
  Script.reset();
}

TComponent* TForm::FindComponent(const std::string& name) const {
  const std::string up = HalUpper(name);
  for (const auto& c : Components)
    if (HalUpper(c->Name) == up) return c.get();
  return nullptr;
}

std::string TForm::Caption() const { return m_widget ? m_widget->windowTitle().toStdString() : std::string(); }
void TForm::SetCaption(const std::string& text) {
  if (m_widget) m_widget->setWindowTitle(QString::fromStdString(text));
}

void TForm::SetClientSize(int w, int h) {
  if (m_widget) m_widget->resize(std::max(w, 1), std::max(h, 1));
}

void TForm::SetModalResult(int r) {
  ModalResult = r;
  if (m_modal && r != 0) Close();
}

int TForm::ShowModal() {
  if (m_modal) throw ERunTimeError("Cannot make a visible window modal");
  m_modal = true;
  ModalResult = 0;
  TModalPause pause;  // a handler waiting here for the user is not running away
  QEventLoop loop;
  QPointer<QWidget> w = m_widget;
  w->setWindowModality(Qt::ApplicationModal);
  w->show();
  // the loop ends when the window is hidden (closed, modal result set) or gone (program end)
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (!w || !w->isVisible()) loop.quit();
  });
  poll.start(20);
  loop.exec();
  if (!w) return 2;  // the form was freed meanwhile: nothing of it may be touched
  m_modal = false;
  w->setWindowModality(Qt::NonModal);
  if (ModalResult == 0) ModalResult = 2;  // closed without a result: cancelled
  return ModalResult;
}

bool TForm::Close() {
  if (m_closing) return false;
  m_closing = true;
  struct TReset {
    bool& b;
    ~TReset() { b = false; }
  } reset{m_closing};
  std::vector<TValue> query{TValue(true)};
  Fire("ONCLOSEQUERY", query);
  if (!query[0].AsBoolean()) return false;
  // A modal form is hidden (its caller frees it); others are freed unless OnClose says otherwise.
  int action = m_modal ? 1 : 2;
  if (HasEvent("ONCLOSE")) {
    std::vector<TValue> a{TValue(static_cast<int32_t>(action))};
    Fire("ONCLOSE", a);
    action = a[0].AsInteger();
  }
  if (action == 0) return false;
  if (m_modal && ModalResult == 0) ModalResult = 2;
  auto* w = static_cast<TFormWidget*>(m_widget.data());
  if (action == 3) {
    w->showMinimized();
    return true;
  }
  w->m_closing = true;
  w->hide();
  w->m_closing = false;
  if (action == 2 && !m_modal) Release();
  return true;
}

void TForm::Release() {
  if (m_released) return;
  m_released = true;
  QTimer::singleShot(0, [] { TFormList::Instance().FreeReleased(); });
}

// ---- loading ------------------------------------------------------------------------------------

TForm* MyReadComponentResFile(const std::string& file, TForm* root) {
  MethodNames().Clear();
  std::string bytes;
  if (!HalLoadTextFile(file, bytes)) throw ERunTimeError("Cannot open form file " + file);
  const TFormNode node = ReadFormFile(bytes);
  if (!FindComponentClass(node.className)) RegisterHostClass(node.className, "TForm");
  root->SetClassName(node.className);
  if (root->Name.empty()) root->Name = node.name;
  LoadNode(*root, *root, node, 0);
  root->Widget()->hide();

  const std::string pas = ScriptFileFor(file);
  if (!pas.empty()) {
    std::string text;
    if (!HalLoadTextFile(pas, text)) throw ERunTimeError("Cannot open script file " + pas);
    auto script = std::make_unique<TFormScript>(*root);
    script->Dispatcher = true;
    script->SetScriptText(text);
    script->SetUnitDirectory(std::filesystem::path(pas).parent_path().string());
    script->Compile();
    script->Runner()->SetKeepIdentifiers(true);
    script->Runner()->SetCompileOnly(true);
    TStopFlag stop{'R'};
    script->Run(stop, nullptr);  // compiles; the main block does not run
    root->Script = std::move(script);
  }
  BindEvents(*root, *root);
  for (const auto& c : root->Components) BindEvents(*root, *c);
  MethodNames().Clear();
  if (root->HasEvent("ONCREATE")) root->Fire("ONCREATE");
  return root;
}

// ---- the list of forms --------------------------------------------------------------------------

TFormList& TFormList::Instance() {
  static TFormList list;
  return list;
}

TForm* TFormList::Load(const std::string& file) {
  auto form = std::make_unique<TForm>();
  TForm* f = form.get();
  std::string bytes;
  // the unique name is given before the load so that handlers see it (Form1_1 shares Form1's routines)
  if (HalLoadTextFile(file, bytes)) {
    try {
      std::string name = ReadFormFile(bytes).name;
      std::string unique = name;
      for (int n = 1; std::any_of(m_forms.begin(), m_forms.end(),
                                  [&](const auto& o) { return HalUpper(o->Name) == HalUpper(unique); });
           ++n)
        unique = name + "_" + std::to_string(n);
      f->Name = unique;
    } catch (const EFormFileError&) {
      // reported by the load below
    }
  }
  m_forms.push_back(std::move(form));
  try {
    MyReadComponentResFile(file, f);
  } catch (...) {
    Free(f);
    throw;
  }
  return f;
}

void TFormList::Free(TForm* form) {
  if (form->Busy > 0) {
    form->Widget()->hide();
    form->Release();
    return;
  }
  auto it = std::find_if(m_forms.begin(), m_forms.end(), [form](const auto& f) { return f.get() == form; });
  if (it == m_forms.end()) return;
  std::unique_ptr<TForm> dying = std::move(*it);
  m_forms.erase(it);
  if (dying->HasEvent("ONDESTROY")) dying->Fire("ONDESTROY");
}

void TFormList::FreeReleased() {
  std::vector<TForm*> released;
  for (const auto& f : m_forms)
    if (f->Released() && f->Busy == 0) released.push_back(f.get());
  for (TForm* f : released) Free(f);
}

void TFormList::CloseAll() {
  // forms in a modal run end it first; then everything goes without asking the scripts
  for (const auto& f : m_forms)
    if (f->Modal()) f->SetModalResult(2);
  for (const auto& f : m_forms) f->Release();
  for (TForm* f : Forms()) Free(f);  // busy ones go when their handlers return
}

TFormBusy::TFormBusy(TForm* form) : m_form(form) {
  if (m_form) ++m_form->Busy;
}

TFormBusy::~TFormBusy() {
  if (m_form && --m_form->Busy == 0 && m_form->Released())
    QTimer::singleShot(0, [] { TFormList::Instance().FreeReleased(); });
}

std::vector<TForm*> TFormList::Forms() const {
  std::vector<TForm*> all;
  for (const auto& f : m_forms) all.push_back(f.get());
  return all;
}

bool TFormList::Contains(const TForm* f) const {
  return std::any_of(m_forms.begin(), m_forms.end(), [f](const auto& o) { return o.get() == f; });
}

bool IsQuilletForm(const TComponent* c) { return GetEventDispatcher(c) != nullptr; }

THalComp* GetEventDispatcher(const TComponent* c) {
  const auto* form = dynamic_cast<const TForm*>(c);
  return form && form->Script && form->Script->Dispatcher ? form->Script.get() : nullptr;
}

void CallEvent(TComponent& c, const std::string& handlerName, int n, TValue* args) {
  TForm* owner = c.OwnerForm;
  THalComp* dispatcher = owner ? GetEventDispatcher(owner) : nullptr;
  if (!dispatcher) return;
  THalEvent bridge(dispatcher->Runner(), owner->Name, handlerName);  // a temporary bridge
  bridge.ExecProc(c.Handle(), n, args);
}

TForm* RunForm(const std::string& file) {
  TForm* f = TFormList::Instance().Load(file);
  f->Widget()->show();
  return f;
}

int RunFormModal(const std::string& file) {
  TForm* f = TFormList::Instance().Load(file);
  const int r = f->ShowModal();
  if (TFormList::Instance().Contains(f)) TFormList::Instance().Free(f);
  return r;
}
