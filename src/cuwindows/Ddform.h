// TDDCuForm: the window of a "DD" CU; reports only how many bytes each message had.
#pragma once

#include "cuwindows/Asciilist.h"

class TDDCuForm : public TAsciiListForm {
  Q_OBJECT
 public:
  explicit TDDCuForm(QWidget* parent = nullptr);
  void ShowData(const char* data, int length, int fromCu) override;
};
