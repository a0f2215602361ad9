// The form host of a program with a display: script forms and the standard dialogs on Qt.
#pragma once

#include "scriptlib/Formhost.h"

class TQtFormHost : public IFormHost {
 public:
  // Installs itself as the form host, starts the handler watchdog and routes the engine's message
  // boxes to the screen; undone by the destructor, which also frees every open form.
  TQtFormHost();
  ~TQtFormHost() override;
  TQtFormHost(const TQtFormHost&) = delete;
  TQtFormHost& operator=(const TQtFormHost&) = delete;

  void RunForm(const std::string& file) override;
  int RunFormModal(const std::string& file) override;
  void ShowMessage(const std::string& text) override;
  int MessageDlg(const std::string& text, int type, unsigned buttons, int x, int y) override;
  bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) override;
  bool FileDialog(TFileDialogData& data, bool save) override;
  bool FindDialog(TFindDialogData& data) override;
};

// "Text files|*.txt|All|*.*" as a Qt file dialog filter list.
std::string QtFilterFromDialogFilter(const std::string& filter);
