// morvent: the desktop application's entry: the application object, the main window, the message loop.
#include <QApplication>
#include <QMessageBox>
#include <exception>

#include "app/Mainform.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Morvent");
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
