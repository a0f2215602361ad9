// Helpers of the application tests: a temporary program folder with its own Morvent.ini, a message
// recorder instead of modal boxes, event-loop waits and screenshots.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QList>
#include <QListWidget>
#include <QPair>
#include <QString>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cuwindows/Msgbox.h"

struct TMessageRecorder {
  TMessageRecorder() {
    SetMessageHandler([this](TMsgKind kind, const QString& text) { messages << QPair<TMsgKind, QString>(kind, text); });
  }
  ~TMessageRecorder() { SetMessageHandler({}); }
  QStringList Texts() const {
    QStringList t;
    for (const auto& m : messages) t << m.second;
    return t;
  }
  QList<QPair<TMsgKind, QString>> messages;
};

// A fresh folder that plays the program's folder (Morvent.ini and Morvent.trc live there).
struct TProgramDir {
  TProgramDir() {
    static int counter = 0;
    path = std::filesystem::temp_directory_path() /
           ("morvent-app-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
  }
  ~TProgramDir() { std::filesystem::remove_all(path); }
  QString Dir() const { return QString::fromStdString(path.string()); }
  std::filesystem::path Ini() const { return path / "Morvent.ini"; }
  void WriteIni(const std::string& text) const { std::ofstream(Ini(), std::ios::binary) << text; }
  std::string ReadFile(const std::string& name) const {
    std::ifstream f(path / name, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
  std::filesystem::path path;
};

template <class P>
bool WaitFor(P pred, int limitMs = 15000) {
  QElapsedTimer t;
  t.start();
  while (!pred()) {
    if (t.elapsed() > limitMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  return true;
}

// Asks the main window to connect (off the GUI thread) and serves the event loop until the attempt
// ends; its result (0, 1, 2), or -1 when it did not end in time.
template <class Form, class Origin>
int ConnectAndWait(Form& form, Origin origin, int limitMs = 20000) {
  int result = -1;
  form.ConnectInstrument(origin, [&result](int r) { result = r; });
  WaitFor([&result] { return result >= 0; }, limitMs);
  return result;
}

// Saves a picture of w into the build folder once every list in it shows its latest lines (lists that
// are being filled repaint a moment after the data came).
inline void Screenshot(QWidget* w, const char* name) {
  WaitFor([w] {
    for (QListWidget* list : w->findChildren<QListWidget*>())
      if (!list->updatesEnabled()) return false;
    return true;
  });
  QCoreApplication::processEvents();
  w->grab().save(QString(MORVENT_SCREENSHOT_DIR) + "/" + name + ".png");
}
