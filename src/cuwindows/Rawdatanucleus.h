// TRawDataNucleusForm: the window of "RAWD", "RDSCANMON" and "RDSIGMON" CUs; one line per raw data header.
#pragma once

#include "cuwindows/Asciilist.h"

class TRawDataNucleusForm : public TAsciiListForm {
  Q_OBJECT
 public:
  explicit TRawDataNucleusForm(QWidget* parent = nullptr);
  void ShowData(const char* data, int length, int fromCu) override;
  static QString HeaderLine(const uint8_t* data, int length);
};
