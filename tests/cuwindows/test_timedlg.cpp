// The time calculation dialog: ticks to date, and the message for anything that is no such number.
#include <gtest/gtest.h>
#include <QLineEdit>
#include <QPushButton>

#include "cuwindows/Msgbox.h"
#include "cuwindows/Timedlg.h"

namespace {

TEST(TimeForm, TicksToDateAndRefusals) {
  QStringList messages;
  SetMessageHandler([&](TMsgKind kind, const QString& text) {
    EXPECT_EQ(kind, TMsgKind::Warning);
    messages << text;
  });
  TTimeForm form;
  EXPECT_EQ(form.windowTitle(), "Time Calculation");
  EXPECT_EQ(form.EditBox()->toolTip(), "Please enter an integer value between 0 and 2147483647");
  form.EditBox()->setText("0");
  form.Button()->click();
  EXPECT_EQ(form.EditBox()->text(), "1.1.1970  0:00:00");
  form.EditBox()->setText(" 86399 ");
  form.TicksToDate();
  EXPECT_EQ(form.EditBox()->text(), "1.1.1970 23:59:59");
  for (const char* bad : {"abc", "-1", "2147483648", ""}) {
    form.EditBox()->setText(bad);
    form.TicksToDate();
    EXPECT_EQ(form.EditBox()->text(), bad);
  }
  EXPECT_EQ(messages.size(), 4);
  EXPECT_EQ(messages.first(), "Please enter an integer value between 0 and 2147483647");
  SetMessageHandler({});
}

}  // namespace
