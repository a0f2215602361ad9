// TRawDataForm: one line per message, cut at the ";" that ends its first field.
#include "cuwindows/Rawdata.h"

TRawDataForm::TRawDataForm(QWidget* parent) : TAsciiListForm(parent) { setWindowTitle("RawData"); }

void TRawDataForm::ShowData(const char* data, int length, int fromCu) {
  QByteArray bytes(data, length);
  if (const int zero = bytes.indexOf('\0'); zero >= 0) bytes.truncate(zero);
  int pos = 0;
  while (pos < bytes.size() && bytes[pos] == ';') ++pos;  // leading ";" belong to the line
  const int end = bytes.indexOf(';', pos);
  if (end >= 0) bytes.truncate(end);
  AddLine(BytesToText(bytes.constData(), bytes.size()), fromCu);
}
