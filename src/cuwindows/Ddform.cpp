// TDDCuForm: one "%d chars received" line per message.
#include "cuwindows/Ddform.h"

TDDCuForm::TDDCuForm(QWidget* parent) : TAsciiListForm(parent) { setWindowTitle("DDCuForm"); }

void TDDCuForm::ShowData(const char* data, int length, int fromCu) {
  (void)data;
  AddLine(QString::asprintf("%d chars received", length), fromCu);
}
