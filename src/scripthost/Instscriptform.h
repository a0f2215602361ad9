// TInstScriptForm: the instrument script window: a command line with history and "..." browsing, the
// output list of a text window, and the run thread of the script it started. Closing the window aborts
// the script and waits the moment it takes to stop, so that the thread never reaches a freed window.
#pragma once

#include <QStringList>
#include <memory>

#include "cuwindows/Asciilist.h"
#include "scriptlib/Instscript.h"
#include "scriptlib/ScriptSink.h"

class IInstrumentHost;
class QFileDialog;
class QLineEdit;
class QPushButton;
class QWidget;

class TInstScriptForm : public TAsciiListForm, public IScriptSink {
  Q_OBJECT
 public:
  static constexpr int kHistoryCapacity = 30;

  explicit TInstScriptForm(QWidget* parent = nullptr);
  ~TInstScriptForm() override;

  void Init(TMainLink* mainWindow, IInstrumentHost* host, const QString& caption);
  // Starts the script a command line names (file, then arguments) on its own thread.
  void RunScript(const QString& commandLine, int closeWhenFinished);
  bool Running() const { return m_running; }
  void Abort();

  // ---- IScriptSink, on the GUI thread ----
  void AddText(const std::string& text) override;
  void ClearOutput() override;
  bool OpenLogFile(const std::string& name, bool append) override;
  void CloseLogFile() override;
  void ScriptFinished() override;

  void ApplyFont(const QFont& font) override;
  QLineEdit* CommandLine() const { return Edit2; }
  const QStringList& History() const { return m_history; }
  void BrowseClick();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void EnterPressed();
  void ShowHistoryEntry(int step);

  QWidget* Panel1;
  QLineEdit* Edit2;
  QPushButton* Browse;
  QFileDialog* OpenDialog1;
  QStringList m_history;
  int m_historyCursor = 0;
  bool m_running = false;
  int m_closeWhenFinished = 0;
  TMainLink* m_mainWindow = nullptr;
  IInstrumentHost* m_instrument = nullptr;
  std::unique_ptr<TInstrScriptThread> m_thread;
};
