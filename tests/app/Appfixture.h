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
