// Helpers of the application tests: a temporary program folder with its own Morvent.ini and screenshots;
// the message recorder and the event-loop waits come from the support library's Qt part.
#pragma once

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QListWidget>
#include <QString>
#include <filesystem>
#include <fstream>

#include "support/TempDir.h"
#include "support/qt/MessageRecorder.h"
#include "support/qt/QtWait.h"

using namespace support;

// A fresh folder that plays the program's folder (Morvent.ini and Morvent.trc live there).
struct TProgramDir {
  QString Dir() const { return QString::fromStdString(path.string()); }
  std::filesystem::path Ini() const { return path / "Morvent.ini"; }
  void WriteIni(const std::string& text) const { std::ofstream(Ini(), std::ios::binary) << text; }
  std::string ReadFile(const std::string& name) const { return support::ReadFile((path / name).string()); }
  support::TempDir temp{"morvent-app"};
  std::filesystem::path path{temp.Path()};
};

// The child of a window with the given type (and object name), as the user finds it on the screen; a
// missing one fails the test.
template <class T>
T* Find(QObject& parent, const char* objectName = nullptr) {
  T* child = objectName ? parent.findChild<T*>(objectName) : parent.findChild<T*>();
  EXPECT_NE(child, nullptr) << (objectName ? objectName : "(by type)");
  return child;
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

// Saves a picture of w into the build folder once its lists have caught up.
inline void Screenshot(QWidget* w, const char* name) {
  support::SaveWhenShown(w, QString(MORVENT_SCREENSHOT_DIR) + "/" + name + ".png");
}
