// Message boxes of the application: the Qt box, or the handler a test installed.
#include "cuwindows/Msgbox.h"

#include <QApplication>
#include <QMessageBox>

namespace {
TMessageHandler& Handler() {
  static TMessageHandler handler;
  return handler;
}
}  // namespace

TMessageHandler SetMessageHandler(TMessageHandler handler) {
  TMessageHandler old = std::move(Handler());
  Handler() = std::move(handler);
  return old;
}

void MorventMessage(QWidget* parent, TMsgKind kind, const QString& text) {
  if (Handler()) {
    Handler()(kind, text);
    return;
  }
  const QString title = QApplication::applicationName();
  switch (kind) {
    case TMsgKind::Error:
      QMessageBox::critical(parent, title, text);
      break;
    case TMsgKind::Information:
      QMessageBox::information(parent, title, text);
      break;
    case TMsgKind::Warning:
      QMessageBox::warning(parent, title, text);
      break;
  }
}
