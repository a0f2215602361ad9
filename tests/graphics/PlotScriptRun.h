// Plot window scripts for the tests: a plot host that opens TGraphicForm windows as top-level widgets,
// and a script run on its own thread whose main-thread calls the GUI thread serves, as in the program.
#pragma once

#include <QApplication>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "graphics/Graphicmain.h"
#include "qtdispatch/Qtdispatcher.h"
#include "script/Halinit.h"
#include "scriptlib/Instscript.h"
#include "scriptlib/Plothost.h"
#include "scriptlib/ScriptLibrary.h"
#include "support/TempDir.h"
#include "support/qt/QtWait.h"

namespace plottest {

// The engine with every library, once for the test program.
inline void StartScriptEngine() {
  static std::unique_ptr<THalinit> engine = [] {
    auto e = std::make_unique<THalinit>();
    RegisterGeneralLibrary();
    RegisterInstrumentLibraries();
    return e;
  }();
}

class CTestPlotHost : public IPlotHost {
 public:
  CTestPlotHost() { SetPlotHost(this); }
  ~CTestPlotHost() override {
    SetPlotHost(nullptr);
    for (TGraphicForm* f : Forms()) delete f;
    CPlotRegistry::Instance().Clear();
  }
  IPlotWindow* CreatePlotWindow(const std::string& name) override {
    auto* form = new TGraphicForm(name);
    form->show();
    return form;
  }
  // The plot windows open now.
  static std::vector<TGraphicForm*> Forms() {
    std::vector<TGraphicForm*> forms;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* f = qobject_cast<TGraphicForm*>(w)) forms.push_back(f);
    return forms;
  }
  static TGraphicForm* Form(const std::string& name) {
    for (TGraphicForm* f : Forms())
      if (f->Name() == name) return f;
    return nullptr;
  }
};

class CLineSink : public IScriptSink {
 public:
  void AddText(const std::string& text) override {
    std::lock_guard<std::mutex> lock(m_lock);
    m_lines.push_back(text);
  }
  void ClearOutput() override {}
  bool OpenLogFile(const std::string&, bool) override { return false; }
  void CloseLogFile() override {}
  void ScriptFinished() override {
    std::lock_guard<std::mutex> lock(m_lock);
    m_finished = true;
  }
  bool Finished() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_finished;
  }
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_lines;
  }

 private:
  std::mutex m_lock;
  std::vector<std::string> m_lines;
  bool m_finished = false;
};

// One script on its own run thread; Finish serves the GUI thread until it ended.
class CPlotScript {
 public:
  CPlotScript(TQtDispatcher& dispatcher, const std::string& source) {
    static int n = 0;
    m_path = m_dir.Path() + "/plot" + std::to_string(++n) + ".pas";
    std::ofstream(m_path) << source;
    TScriptHost host;
    host.sink = &m_sink;
    host.mainThread = &dispatcher;
    m_thread = std::make_unique<TInstrScriptThread>(host, m_path, std::vector<std::string>{});
    m_thread->Start();
  }
  ~CPlotScript() {
    m_thread->Abort();
    support::WaitFor([this] { return m_sink.Finished(); });
    m_thread->Wait();
  }
  std::vector<std::string> Finish() {
    const bool ended = support::WaitFor([this] { return m_sink.Finished(); }, 60000);
    m_thread->Wait();
    std::vector<std::string> lines = m_sink.Lines();
    if (!ended) lines.push_back("(did not end)");
    return lines;
  }
  CLineSink& Sink() { return m_sink; }
  void Abort() { m_thread->Abort(); }

 private:
  support::TempDir m_dir;
  std::string m_path;
  CLineSink m_sink;
  std::unique_ptr<TInstrScriptThread> m_thread;
};

}  // namespace plottest
