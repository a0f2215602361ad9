// TForm (a script form: a top-level window owning its components, its script and its bridges), the
// form loader and the list of open script forms.
#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "forms/Formcomp.h"
#include "script/HalComp.h"

class TForm;

// The form's script: contributes the form's components by name, "Self" and the form itself.
class TFormScript : public THalComp {
 public:
  explicit TFormScript(TForm& form) : m_form(form) {}

 protected:
  void CollectNamedObjects(THalRuner& runner) override;

 private:
  TForm& m_form;
};

class TForm : public TControl {
 public:
  TForm();
  ~TForm() override;

  // Components in creation order; freed in reverse order (child widgets before their parents).
  std::vector<std::unique_ptr<TComponent>> Components;
  TComponent* FindComponent(const std::string& name) const;
  std::unique_ptr<TFormScript> Script;  // the event dispatcher, when the form has a script

  std::string Caption() const override;
  void SetCaption(const std::string& text) override;
  void SetClientSize(int w, int h);

  int ModalResult = 0;
  // Setting a modal result other than 0 ends a modal run.
  void SetModalResult(int r);
  int ShowModal();
  bool Modal() const { return m_modal; }
  // Asks OnCloseQuery, runs OnClose and does what its action says (0 none, 1 hide, 2 free, 3 minimize).
  bool Close();
  // Marks the form for freeing once control is back in the event loop (a handler may be running).
  void Release();
  bool Released() const { return m_released; }
  int Busy = 0;  // handlers of this form running now (nested ones count too)

 private:
  bool m_modal = false;
  bool m_released = false;
  bool m_closing = false;
};

// Marks a form busy while one of its handlers runs; a form released meanwhile goes afterwards.
class TFormBusy {
 public:
  explicit TFormBusy(TForm* form);
  ~TFormBusy();
  TFormBusy(const TFormBusy&) = delete;
  TFormBusy& operator=(const TFormBusy&) = delete;

 private:
  TForm* m_form;
};

// Loads a form file (binary or text) into root and binds its handlers to the ".PAS" of the same
// name; raises on bad files and compile errors. Returns root.
TForm* MyReadComponentResFile(const std::string& file, TForm* root);

// Open script forms, owned here ("by the application").
class TFormList {
 public:
  static TFormList& Instance();
  // Creates a form, loads the file into it, keeps it (not shown yet). The name is made unique
  // (Form1, Form1_1, ...).
  TForm* Load(const std::string& file);
  // Frees a form now; a busy one is hidden and freed when its handlers have returned.
  void Free(TForm* form);
  void FreeReleased();
  // Closes and frees every form (program end).
  void CloseAll();
  int Count() const { return static_cast<int>(m_forms.size()); }
  std::vector<TForm*> Forms() const;
  bool Contains(const TForm* f) const;

 private:
  std::vector<std::unique_ptr<TForm>> m_forms;
};

// Whether the component (a form) has a script that dispatches its events, and that script.
bool IsQuilletForm(const TComponent* c);
THalComp* GetEventDispatcher(const TComponent* c);
// Runs the named handler of the component's form with the component as Sender and args (after
// Sender, the last one first, as THalEvent::ExecProc takes them); nothing when the form has no script.
void CallEvent(TComponent& c, const std::string& handlerName, int n, TValue* args);

// RunForm: load, show, return the form. RunFormModal: load, show modally, free; the modal result.
TForm* RunForm(const std::string& file);
int RunFormModal(const std::string& file);
