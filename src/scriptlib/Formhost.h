// What the script form and dialog functions ask of the program that shows windows. The script side
// is GUI-free (the command-line client registers the same names without a display); a GUI program
// installs a form host. Every call comes on the host's main thread: a script thread waits for it in
// a synchronised call, a form's handler (already on that thread) calls straight through.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

// The settings of a file-open or file-save dialog, in and out.
struct TFileDialogData {
  std::string defaultExt, fileName, filter, initialDir, title;
  int filterIndex = 1;
  bool multiSelect = false;
  std::vector<std::string> files;  // out: the chosen files
};

// The settings of a find or replace dialog.
struct TFindDialogData {
  bool replace = false;
  std::string findText, replaceText;
  int left = -1, top = -1;
};

class IFormHost {
 public:
  virtual ~IFormHost() = default;
  // Loads and shows a form (".DFM" with its ".PAS"); failures raise exceptions with their text.
  virtual void RunForm(const std::string& file) = 0;
  // Loads, shows modally, frees; the modal result.
  virtual int RunFormModal(const std::string& file) = 0;
  virtual void ShowMessage(const std::string& text) = 0;
  // buttons: bit n for the button ordinal n; x, y < 0: centred. The pressed button's result code.
  virtual int MessageDlg(const std::string& text, int type, unsigned buttons, int x, int y) = 0;
  // true: confirmed, value holds the text entered.
  virtual bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) = 0;
  virtual bool FileDialog(TFileDialogData& data, bool save) = 0;
  virtual bool FindDialog(TFindDialogData& data) = 0;
};

// The program's form host (none: no display; form and dialog calls are refused).
void SetFormHost(IFormHost* host);
IFormHost* FormHost();

// Runs f with the form host on the main thread; raises ERunTimeError "<what>: needs a display"
// without a host, and the text of any exception f raises.
void OnFormThread(const char* what, const std::function<void(IFormHost&)>& f);

class TScriptObject;
// A dialog object (TOpenDialog, TSaveDialog, TFindDialog, TReplaceDialog, ...) that its creator owns:
// form files hold dialogs as components. Scripts reach it with the dialog classes' members.
std::unique_ptr<TScriptObject> NewDialogObject(const std::string& className);

// RunForm, RunFormModal, RunFormMacro, the message boxes, input boxes and the dialog classes with
// their constants. Once per process (RegisterInstrumentLibraries calls it).
void RegisterFormLibrary();
