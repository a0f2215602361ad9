// TAnalysisReport: the window of an "AR" CU; decodes analysis report records and their fraction data.
#pragma once

#include <QStringList>

#include "cuwindows/Asciilist.h"

class TAnalysisReport : public TAsciiListForm {
  Q_OBJECT
 public:
  static constexpr int kRecordSize = 44;

  explicit TAnalysisReport(QWidget* parent = nullptr);
  void ShowData(const char* data, int length, int fromCu) override;
  // The lines one message gives.
  static QStringList ReportLines(const uint8_t* data, int length);
};
