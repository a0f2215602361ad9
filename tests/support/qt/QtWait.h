// Serving the Qt event loop until a condition holds, for the tests of the Qt windows.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>

namespace support {

// Serves the event loop until pred holds; false after a generous limit.
template <class P>
bool WaitFor(P pred, int limitMs = 15000) {
  QElapsedTimer t;
  t.start();
  while (!pred()) {
    if (t.elapsed() > limitMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // windows that closed themselves
  }
  return true;
}

}  // namespace support
