// Script form tests: the engine with every library and the Qt form host once per program, handler
// errors and message boxes recorded instead of shown, form files written as text (and as binary
// through the form writer), and scripts run on their own thread as the program runs them.
#pragma once

#include <QApplication>
#include <QImage>
#include <QWidget>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "forms/Formform.h"
#include "forms/Formhostqt.h"
#include "qtdispatch/Qtdispatcher.h"
#include "script/Formfile.h"
#include "scriptlib/Instscript.h"
#include "support/TempDir.h"
#include "support/qt/QtWait.h"

namespace formtest {

// Handler errors and engine message boxes, in order.
std::vector<std::string>& Messages();
// The engine, the libraries and the form host (once); clears the recorded messages.
void StartForms();
void StopForms();  // frees every open form

// A form file pair in a folder of its own: NAME.dfm (text or binary) and NAME.pas.
std::string WriteForm(support::TempDir& dir, const std::string& name, const std::string& formText,
                      const std::string& script, bool binary = false);

TComponent& Component(TForm& form, const std::string& name);
template <class W>
W* WidgetOf(TForm& form, const std::string& name) {
  return qobject_cast<W*>(Component(form, name).Widget());
}

// Saves a picture of the widget as NAME.png in the build folder.
void Screenshot(QWidget* w, const std::string& name);

class CLineSink : public IScriptSink {
 public:
  void AddText(const std::string& text) override;
  void ClearOutput() override {}
  bool OpenLogFile(const std::string&, bool) override { return false; }
  void CloseLogFile() override {}
  void ScriptFinished() override;
  bool Finished();
  std::vector<std::string> Lines();

 private:
  std::mutex m_lock;
  std::vector<std::string> m_lines;
  bool m_finished = false;
};

// One script on its own run thread whose main-thread calls this (GUI) thread serves.
class CScriptRun {
 public:
  CScriptRun(support::TempDir& dir, const std::string& source);
  ~CScriptRun();
  // Serves the GUI thread until the script ended; its output lines.
  std::vector<std::string> Finish();
  TInstrScriptThread& Thread() { return *m_thread; }

 private:
  TQtDispatcher m_dispatcher;
  CLineSink m_sink;
  std::unique_ptr<TInstrScriptThread> m_thread;
};

}  // namespace formtest
