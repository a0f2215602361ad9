// TTraceCu: the window of a "TR" CU: trace text arriving in arbitrary pieces is joined into lines;
// otherwise an instruction window.
#pragma once

#include "cuwindows/Inreply.h"

class TTraceCu : public TInReplyForm {
  Q_OBJECT
 public:
  explicit TTraceCu(QWidget* parent = nullptr);
  void ShowData(const char* data, int length, int fromCu) override;
  void BeforeSend(QByteArray& line) override;

 private:
  bool m_lastEndedWithLineFeed = true;
};
