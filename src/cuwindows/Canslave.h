// TCanSlaveForm: the window of "PR" and "CS_IO" CUs behind the CAN-slave CU: instructions go out
// prefixed with "IN", replies show their two-character source prefix.
#pragma once

#include "cuwindows/Inreply.h"

class TCanSlaveForm : public TInReplyForm {
  Q_OBJECT
 public:
  explicit TCanSlaveForm(QWidget* parent = nullptr);
  void BeforeSend(QByteArray& line) override;
  void ShowData(const char* data, int length, int fromCu) override;
};
