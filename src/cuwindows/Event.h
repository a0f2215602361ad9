// TEventForm: the window of an "EV" CU; each message is one event "text,seconds,text" shown with its date.
#pragma once

#include "cuwindows/Asciilist.h"

class TEventForm : public TAsciiListForm {
  Q_OBJECT
 public:
  explicit TEventForm(QWidget* parent = nullptr);
  void ShowData(const char* data, int length, int fromCu) override;
  // The line shown for one event message.
  static QString EventLine(const QByteArray& data);
};
