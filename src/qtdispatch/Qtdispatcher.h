// TQtDispatcher: the engine's main-thread dispatcher on Qt: calls wait in our own locked queue and one
// posted event wakes the GUI thread to run them all; SyncCall (Mainthread.h) makes the caller wait and
// gives up once the caller must stop.
#pragma once

#include <QObject>
#include <deque>
#include <mutex>

#include "StandardApp/Mainthread.h"

class TQtDispatcher : public QObject, public CMainDispatcher {
  Q_OBJECT
 public:
  explicit TQtDispatcher(QObject* parent = nullptr) : QObject(parent) {}
  void Post(std::function<void()> fn) override;
  bool IsMainThread() const override;
  // Runs every call queued so far (GUI thread).
  void ProcessPending();

 protected:
  void customEvent(QEvent* event) override;

 private:
  std::mutex m_lock;
  std::deque<std::function<void()>> m_calls;
};
