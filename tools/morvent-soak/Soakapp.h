// What both soak phases share: the options, the program folder with its settings for a simulator, and
// doing what the user does with the main window (the tree's popup, serving the event loop meanwhile).
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "morvent-soak/Watchdog.h"
#include "support/TempDir.h"

class QTreeWidgetItem;
class QWidget;
class TMainForm;

struct TSoakOptions {
  int seconds = 1800;      // phase 1: how long
  int warmupSeconds = -1;  // phase 1: memory is taken as the reference after this (-1: a tenth, 10..120 s)
  int rounds = 10000;      // phase 2: how many teardown rounds
  bool endurance = true;   // run phase 1
  bool teardown = true;    // run phase 2
  unsigned seed = 1;
  int streamRate = 200;  // text-stream messages per second on the monitor CU
  int timeoutMs = 3000;  // the connection's time-out in the settings file (its silence limit)
  bool verbose = false;
};

// A fresh folder that plays the program's folder: Morvent.ini pointing at the simulator's ports.
class TSoakProgramDir {
 public:
  TSoakProgramDir(int telnetPort, int dataPort, bool autoReconnect, int timeoutMs);
  QString Dir() const { return QString::fromStdString(m_temp.Path()); }
  // Writes a script file into the folder; its path.
  std::string WriteScript(const std::string& name, const std::string& text) { return m_temp.Write(name, text); }

 private:
  support::TempDir m_temp{"morvent-soak"};
};

// The tree node of a module's CU ("MAIN-1", "MO"); null when it is not in the tree.
QTreeWidgetItem* CuNode(TMainForm& form, const QString& module, const QString& cu);
// Opens the CU's window through the tree's popup, as the user does; the new window, or null.
QWidget* OpenFromTree(TMainForm& form, const QString& module, const QString& cu, bool viaCs = false);
// Serves the event loop for ms, or until pred holds (true) or the limit passes (false).
void Pump(int ms);
bool PumpUntil(const std::function<bool()>& pred, int limitMs);
// The GUI's heartbeat: a timer on the GUI thread beats the source while the event loop is served.
class THeartbeat {
 public:
  explicit THeartbeat(TSoakWatchdog::TSource& gui);
  ~THeartbeat();

 private:
  struct TImpl;
  std::unique_ptr<TImpl> m_impl;
};
