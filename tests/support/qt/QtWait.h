// Serving the Qt event loop until a condition holds, for the tests of the Qt windows.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QListWidget>
#include <QString>
#include <QWidget>

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

// Saves what w shows as a PNG at path once every list in it shows its latest lines (lists that are
// being filled repaint a moment after the data came).
inline bool SaveWhenShown(QWidget* w, const QString& path) {
  WaitFor([w] {
    for (QListWidget* list : w->findChildren<QListWidget*>())
      if (!list->updatesEnabled()) return false;
    return true;
  });
  QCoreApplication::processEvents();
  return w->grab().save(path);
}

}  // namespace support
