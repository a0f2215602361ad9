// TMainLink: what the CU and script windows need from the main window (log file, GUI-thread
// dispatcher, the events window's close notice); the main window implements it, so the windows need no app code.
#pragma once

#include <QString>

class CMainDispatcher;

class TMainLink {
 public:
  virtual ~TMainLink() = default;
  // One line to the log file (when logging is on).
  virtual void WriteLog(const QString& text) = 0;
  // Whether WriteLog writes at all: a flood of lines need not be formatted for a log that is off.
  virtual bool LogOn() const { return true; }
  // Runs reader threads' calls on the GUI thread.
  virtual CMainDispatcher& Dispatcher() = 0;
  // The instrument events window is closing and must be forgotten.
  virtual void EventsWindowClosed() = 0;
  // The application log file (scripts open and close it): true when it is (or already was) open.
  virtual bool OpenLog(const QString& path, bool append) = 0;
  virtual void CloseLog() = 0;
};
