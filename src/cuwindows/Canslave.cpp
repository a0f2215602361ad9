// TCanSlaveForm: "IN" in front of what is written, "xx: " in front of what is shown.
#include "cuwindows/Canslave.h"

TCanSlaveForm::TCanSlaveForm(QWidget* parent) : TInReplyForm(parent) { setWindowTitle("CanSlave"); }

void TCanSlaveForm::BeforeSend(QByteArray& line) { line.prepend("IN"); }

void TCanSlaveForm::ShowData(const char* data, int length, int fromCu) {
  const int prefix = length < 2 ? length : 2;  // a message shorter than its prefix shows what there is
  QByteArray text(data, prefix);
  text += ": ";
  text.append(data + prefix, length - prefix);
  TInReplyForm::ShowData(text.constData(), text.size(), fromCu);
}
