// TRawDataForm: the window of "RD" and "MS" CUs; shows each message's first ";"-separated field.
#pragma once

#include "cuwindows/Asciilist.h"

class TRawDataForm : public TAsciiListForm {
  Q_OBJECT
 public:
  explicit TRawDataForm(QWidget* parent = nullptr);
  void ShowData(const char* data, int length, int fromCu) override;
};
