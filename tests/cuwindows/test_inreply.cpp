// The instruction window: sending, history of 30 with arrow keys, keys, chosen and executed lines,
// release; the CAN slave window's "IN" prefix; an instruction typed into a trace that stopped mid-line.
#include <gtest/gtest.h>
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include "Fakes.h"
#include "cuwindows/Canslave.h"
#include "cuwindows/Inreply.h"
#include "cuwindows/Traceform.h"

namespace {

struct InReplyTest : ::testing::Test {
  void SetUp() override { ASSERT_EQ(form.OpenCu(m.cu, &main, false, "Instruction/Reply"), 1); }
  void Type(const QString& text, Qt::Key key = Qt::Key_Return) {
    form.Input()->setText(text);
    QTest::keyClick(form.Input(), key);
  }
  TFakeModule m{"IN"};
  TFakeChannels channels;
  TFakeMain main;
  TInReplyForm form;
};

TEST_F(InReplyTest, EnterWritesTheTextAloneAndShowsAndLogsIt) {
  Type("*IDN?");
  EXPECT_EQ(channels.Written(), std::vector<std::string>{"*IDN?"});
  EXPECT_EQ(form.List()->item(0)->text(), "*IDN?");
  EXPECT_EQ(main.log.last(), "G1: *IDN?");
  EXPECT_TRUE(form.Input()->text().isEmpty());
  channels.Push("reply line\nsecond");
  ASSERT_TRUE(WaitFor([&] { return form.List()->count() == 3; }));
  EXPECT_EQ(form.List()->item(2)->text(), "      second");
}

TEST_F(InReplyTest, EmptyInputSendsNothing) {
  Type("");
  form.GoButton()->click();
  EXPECT_TRUE(channels.Written().empty());
  EXPECT_EQ(form.List()->count(), 0);
}

TEST_F(InReplyTest, HistoryKeepsDistinctNeighboursOnly) {
  for (int i = 0; i < 3; ++i) Type("A");
  EXPECT_EQ(form.History(), QStringList{"A"});
  Type("B");
  Type("A");
  Type("a");
  EXPECT_EQ(form.History(), (QStringList{"A", "B", "A", "a"}));
  EXPECT_EQ(channels.Written().size(), 6u);
}

TEST_F(InReplyTest, HistoryHolds30AndArrowsWrapAround) {
  for (int i = 1; i <= 31; ++i) Type(QString("cmd%1").arg(i));
  ASSERT_EQ(form.History().size(), 30);
  EXPECT_EQ(form.History().first(), "cmd2");
  QStringList recalled;
  for (int i = 0; i < 31; ++i) {
    QTest::keyClick(form.Input(), Qt::Key_Up);
    recalled << form.Input()->text();
    EXPECT_EQ(form.Input()->cursorPosition(), form.Input()->text().size());
  }
  EXPECT_EQ(recalled.first(), "cmd31");
  EXPECT_EQ(recalled[29], "cmd2");
  EXPECT_EQ(recalled[30], "cmd31");  // wrapped
  QTest::keyClick(form.Input(), Qt::Key_Down);
  EXPECT_EQ(form.Input()->text(), "cmd2");  // from the newest, Down wraps to the oldest
  QTest::keyClick(form.Input(), Qt::Key_Escape);
  EXPECT_TRUE(form.Input()->text().isEmpty());
  EXPECT_EQ(form.HistoryIndex(), 30);
}

TEST_F(InReplyTest, EmptyHistoryLeavesInputEmpty) {
  QTest::keyClick(form.Input(), Qt::Key_Up);
  EXPECT_TRUE(form.Input()->text().isEmpty());
  QTest::keyClick(form.Input(), Qt::Key_Down);
  EXPECT_TRUE(form.Input()->text().isEmpty());
}

TEST_F(InReplyTest, ChosenLineIsCopiedExecutedLineIsSent) {
  form.AddLine("reply", 0);
  form.LineChosen("reply");
  EXPECT_EQ(form.Input()->text(), "reply");
  EXPECT_TRUE(channels.Written().empty());
  form.Input()->clear();
  form.List()->setCurrentRow(0);
  ASSERT_TRUE(form.Popup()->actions()[0]->isEnabled());
  form.Popup()->actions()[0]->trigger();  // "Execute"
  EXPECT_EQ(channels.Written(), std::vector<std::string>{"reply"});
}

TEST_F(InReplyTest, ReleasedWindowCannotWrite) {
  form.ReleaseCu();
  EXPECT_FALSE(form.Input()->isEnabled());
  EXPECT_FALSE(form.GoButton()->isEnabled());
  form.ExecuteLine("x");
  EXPECT_TRUE(channels.Written().empty());
  EXPECT_EQ(form.List()->count(), 0);
}

TEST(CanSlave, WritesWithINPrefixButShowsAndKeepsTheTypedLine) {
  TFakeModule m("PR");
  TFakeChannels channels;
  TFakeMain main;
  TCanSlaveForm form;
  ASSERT_EQ(form.OpenCu(m.cu, &main, true, "CanSlave"), 1);
  form.Input()->setText("XY");
  form.SendInput();
  EXPECT_EQ(channels.Written(), std::vector<std::string>{"INXY"});
  EXPECT_EQ(form.History(), QStringList{"XY"});
  EXPECT_EQ(form.List()->item(0)->text(), "XY");
}

TEST(TraceInstruction, TheTypedLineStaysWholeWhenTheTraceStoppedMidLine) {
  TFakeModule m("TR");
  TFakeChannels channels;
  TFakeMain main;
  TTraceCu form;
  ASSERT_EQ(form.OpenCu(m.cu, &main, false, "Traces"), 1);
  form.ShowData("step 1 of", 9, 1);
  form.Input()->setText("STOP");
  form.SendInput();
  const char reply[] = " 3\nOK STOP\n";  // the rest of the trace line, then the answer
  form.ShowData(reply, sizeof reply - 1, 1);
  QStringList lines;
  for (int i = 0; i < form.List()->count(); ++i) lines << form.List()->item(i)->text();
  EXPECT_EQ(lines, (QStringList{"step 1 of", "STOP", " 3", "OK STOP"}));
  EXPECT_EQ(channels.Written(), std::vector<std::string>{"STOP"});
}

// Typing goes to the input line of the window the user just opened or activated, unless a click into the
// list activated it.
TEST(InReplyFocus, ActivatingTheWindowPutsTheCaretIntoTheInputLine) {
  QMdiArea area;
  area.resize(800, 600);
  area.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&area));
  QList<TInReplyForm*> forms{new TInReplyForm, new TTraceCu, new TCanSlaveForm};
  for (TInReplyForm* form : forms) {
    form->AddLine("a line", 0);
    area.addSubWindow(form)->show();  // as the main window opens it
    EXPECT_EQ(QApplication::focusWidget(), form->Input()) << form->metaObject()->className();
  }
  area.setActiveSubWindow(static_cast<QMdiSubWindow*>(forms[0]->parentWidget()));  // title bar or Window menu
  EXPECT_EQ(QApplication::focusWidget(), forms[0]->Input());
  QListWidget* list = forms[1]->List();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
  EXPECT_EQ(area.activeSubWindow(), forms[1]->parentWidget());
  EXPECT_EQ(QApplication::focusWidget(), list);
  EXPECT_TRUE(list->item(0)->isSelected());
}

}  // namespace
