// morvent: the desktop application's entry: the application object, the main window, the message loop.
#include <QApplication>
#include <QMessageBox>
#include <exception>

#include "app/Mainform.h"
#include "script/Halinit.h"
#include "scriptlib/ScriptLibrary.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Morvent");
  THalinit scriptEngine;  // the script engine and its general library live for the whole run
  RegisterGeneralLibrary();
  try {
    TMainForm mainForm(QCoreApplication::applicationDirPath());
    mainForm.show();
    return QApplication::exec();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, "Morvent", QString::fromLocal8Bit(e.what()));
  } catch (...) {
    QMessageBox::critical(nullptr, "Morvent", "Unexpected error");
  }
  return 1;
}
