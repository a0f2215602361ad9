// TQtDispatcher: the calls cross threads through our own queue (so that each call's data is handed over
// under one lock); Qt's event queue only carries the wake-up, one per batch.
#include "qtdispatch/Qtdispatcher.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

namespace {
const QEvent::Type kWakeUp = QEvent::Type(QEvent::User + 1);
}

void TQtDispatcher::Post(std::function<void()> fn) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    wake = m_calls.empty();
    m_calls.push_back(std::move(fn));
  }
  if (wake) QCoreApplication::postEvent(this, new QEvent(kWakeUp));
}

bool TQtDispatcher::IsMainThread() const { return QThread::currentThread() == thread(); }

void TQtDispatcher::ProcessPending() {
  std::deque<std::function<void()>> calls;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    calls.swap(m_calls);
  }
  for (std::function<void()>& call : calls) call();
}

// Only wake-ups are posted to this object; the event itself carries nothing to read.
void TQtDispatcher::customEvent(QEvent*) { ProcessPending(); }
