// The CU window framework: binding to a CU, the reader thread handing messages to the GUI thread (in
// bulk, slave frames without their socket), the 501-line list and its delayed scrolling, popup, log
// lines, release and closing while the reader is busy.
#include <gtest/gtest.h>
#include <QApplication>
#include <QClipboard>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPointer>
#include <QScrollBar>
#include <QStyledItemDelegate>

#include "Fakes.h"
#include "cuwindows/Canslave.h"
#include "cuwindows/Instreventlist.h"
#include "cuwindows/Msgbox.h"
#include "cuwindows/Traceform.h"
#include "support/qt/MessageRecorder.h"

namespace {

TEST(AsciiListOpen, BindsToTheCuAndCaptionsAndLogs) {
  TFakeModule m("MO");
  TFakeChannels channels;
  TFakeMain main;
  TAsciiListForm form;
  ASSERT_EQ(form.OpenCu(m.cu, &main, false, "Monitor"), 1);
  EXPECT_EQ(form.windowTitle(), "G1 - 123 - Monitor");
  EXPECT_EQ(main.log, QStringList{"opened G1 - 123 - Monitor"});
  EXPECT_FALSE(TFakeChannels::lastViaCs());
  EXPECT_EQ(form.Cu(), m.cu.get());

  TAsciiListForm viaCs;
  ASSERT_EQ(viaCs.OpenCu(m.cu, &main, true, "CanSlave"), 1);
  EXPECT_EQ(viaCs.windowTitle(), "G1 - 123 - CanSlave - via CAP CS-CU");
  EXPECT_TRUE(TFakeChannels::lastViaCs());
}

TEST(AsciiListOpen, RefusedCuShowsMessageAndClosesWithDesignedCaption) {
  TFakeModule m("MO");
  TFakeChannels channels(false);
  TFakeMain main;
  TMessageRecorder recorder;
  QMdiArea area;
  auto* form = new TAsciiListForm;
  QMdiSubWindow* sub = area.addSubWindow(form);
  sub->show();
  QPointer<QMdiSubWindow> guard(sub);
  EXPECT_EQ(form->OpenCu(m.cu, &main, false, "Monitor"), 0);
  ASSERT_EQ(recorder.messages.size(), 1);
  EXPECT_EQ(recorder.messages[0].first, TMsgKind::Error);
  EXPECT_EQ(recorder.messages[0].second, "Cannot open CU");
  EXPECT_EQ(main.log, QStringList{"closed AsciiList"});
  EXPECT_TRUE(WaitFor([&] { return guard.isNull(); }));  // the window frees itself
}

TEST(AsciiListReader, ShowsEveryMessageInOrderAndLogsWithModulePrefix) {
  TFakeModule m("MO");
  TFakeChannels channels;
  TFakeMain main;
  TAsciiListForm form;
  ASSERT_EQ(form.OpenCu(m.cu, &main, false, "Monitor"), 1);
  for (int i = 0; i < 300; ++i) channels.Push("msg " + std::to_string(i));
  ASSERT_TRUE(WaitFor([&] { return form.List()->count() == 300; }));
  EXPECT_EQ(form.List()->item(0)->text(), "msg 0");
  EXPECT_EQ(form.List()->item(299)->text(), "msg 299");
  EXPECT_EQ(main.log[1], "G1: msg 0");
}

TEST(AsciiListReader, MessagesWaitingInBulkArriveWholeAndInOrder) {
  TFakeModule m("MO");
  TFakeChannels channels;
  for (int i = 0; i < 1000; ++i) channels.Push("bulk " + std::to_string(i));  // queued before the first read
  TFakeMain main;
  TAsciiListForm form;
  ASSERT_EQ(form.OpenCu(m.cu, &main, false, "Monitor"), 1);
  ASSERT_TRUE(WaitFor([&] { return main.log.size() == 1001; }));
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(main.log[i + 1], QString("G1: bulk %1").arg(i));
  ASSERT_EQ(form.List()->count(), 501);
  EXPECT_EQ(form.List()->item(0)->text(), "bulk 499");
  EXPECT_EQ(form.List()->item(500)->text(), "bulk 999");
}

// A flood handed over in large batches: every line goes into the list in order (also lines that later ones
// push out at once, and a message of more lines than the list holds), and every line is logged.
// (A message holds at most 4496 bytes: 550 short lines.)
TEST(AsciiListReader, BatchedFloodShowsEveryLineInOrder) {
  TFakeModule m("MO");
  TFakeChannels channels;
  QStringList expected;
  for (int i = 0; i < 1500; ++i) {
    std::string message = "m " + std::to_string(i) + (i % 3 ? "" : "\nmore");
    if (i == 700) {
      message.clear();
      for (int j = 0; j < 550; ++j) message += "big " + std::to_string(j) + "\n";
      for (int j = 0; j < 550; ++j) expected << QString(j ? "      big %1" : "big %1").arg(j);
    } else {
      expected << QString("m %1").arg(i);
      if (i % 3 == 0) expected << "      more";
    }
    channels.Push(message);
  }
  TFakeMain main;
  TAsciiListForm form;
  form.resize(400, 300);
  form.show();
  QStringList inserted;
  QAbstractItemModel* model = form.List()->model();
  QObject::connect(model, &QAbstractItemModel::rowsInserted, [&](const QModelIndex&, int first, int last) {
    for (int row = first; row <= last; ++row) inserted << model->index(row, 0).data().toString();
  });
  ASSERT_EQ(form.OpenCu(m.cu, &main, false, "Monitor"), 1);
  ASSERT_TRUE(WaitFor([&] { return inserted.size() >= expected.size(); }));
  EXPECT_EQ(inserted, expected);
  ASSERT_EQ(main.log.size(), expected.size() + 1);
  for (int i = 0; i < expected.size(); ++i) ASSERT_EQ(main.log[i + 1], "G1: " + expected[i]);
  ASSERT_EQ(form.List()->count(), 501);
  EXPECT_EQ(form.List()->item(500)->text(), expected.last());
  EXPECT_EQ(form.List()->item(0)->text(), expected[expected.size() - 501]);
  Screenshot(&form, "asciilist-after-flood");
}

// Trace pieces that arrive in one batch continue the line still waiting to go into the list.
TEST(AsciiListReader, TracePiecesInOneBatchJoinLines) {
  TFakeModule m("TR");
  TFakeChannels channels;
  for (const char* piece : {"abc", "def\nghi", "\njkl\n", "mno"}) channels.Push(piece);
  TFakeMain main;
  TTraceCu form;
  ASSERT_EQ(form.OpenCu(m.cu, &main, false, "Traces"), 1);
  ASSERT_TRUE(WaitFor([&] { return main.log.size() == 6; }));
  QStringList lines;
  for (int i = 0; i < form.List()->count(); ++i) lines << form.List()->item(i)->text();
  EXPECT_EQ(lines, (QStringList{"abcdef", "ghi", "jkl", "mno"}));
  EXPECT_EQ(main.log.mid(1), (QStringList{"G1: abc", "def", "G1: ghi", "G1: jkl", "G1: mno"}));
}

TEST(AsciiListReader, SlaveFramesShowTheSlavesDataWithoutTheirSocket) {
  TFakeModule m("CS_IO");
  TFakeChannels channels;
  TFakeMain main;
  TCanSlaveForm viaCs, direct;
  ASSERT_EQ(viaCs.OpenCu(m.cu, &main, true, "CanSlave"), 1);
  channels.Push(
      std::string("\x01\x00"
                  "01OK XY",
                  9));  // a frame through the CS CU: slave socket 0100 first
  ASSERT_TRUE(WaitFor([&] { return viaCs.List()->count() == 1; }));
  EXPECT_EQ(viaCs.List()->item(0)->text(), "01: OK XY");
  viaCs.ReleaseCu();
  ASSERT_EQ(direct.OpenCu(m.cu, &main, false, "CanSlave"), 1);
  channels.Push("01OK XY");
  ASSERT_TRUE(WaitFor([&] { return direct.List()->count() == 1; }));
  EXPECT_EQ(direct.List()->item(0)->text(), "01: OK XY");
}

TEST(AsciiListReader, ReadFailuresAreRetriedAndDoNotPreventStopping) {
  TFakeModule m("MO");
  TFakeChannels channels;
  channels.shared->failReads = true;
  TFakeMain main;
  {
    TAsciiListForm form;
    ASSERT_EQ(form.OpenCu(m.cu, &main, false, "Monitor"), 1);
    ASSERT_TRUE(WaitFor([&] {
      std::lock_guard<std::mutex> g(channels.shared->lock);
      return channels.shared->reads > 3;
    }));
  }  // destroying the window stops a reader that never sees "nothing"
  EXPECT_EQ(main.log.last(), "closed G1 - 123 - Monitor");
  EXPECT_TRUE(channels.shared->closed);
}

TEST(AsciiListList, KeepsAtMost501Lines) {
  TAsciiListForm form;
  for (int i = 1; i <= 501; ++i) form.AddLine(QString::number(i), 0);
  EXPECT_EQ(form.List()->count(), 501);
  form.AddLine("502", 0);
  EXPECT_EQ(form.List()->count(), 501);
  EXPECT_EQ(form.List()->item(0)->text(), "2");
  EXPECT_EQ(form.List()->item(500)->text(), "502");
}

TEST(AsciiListList, ALineShowsAtOnceAndAFloodEndsWithItsLastLineInView) {
  TAsciiListForm form;
  form.resize(300, 200);
  form.show();
  form.AddLine("alone", 0);
  EXPECT_TRUE(form.List()->updatesEnabled());  // nothing held back after a quiet spell
  for (int i = 0; i < 700; ++i) form.AddLine(QString("flood %1").arg(i), 0);
  ASSERT_TRUE(WaitFor([&] { return form.List()->updatesEnabled(); }));
  QCoreApplication::processEvents();
  QListWidgetItem* last = form.List()->item(form.List()->count() - 1);
  EXPECT_EQ(last->text(), "flood 699");
  EXPECT_TRUE(form.List()->viewport()->rect().intersects(form.List()->visualItemRect(last)));
  EXPECT_FALSE(form.List()->viewport()->rect().intersects(form.List()->visualItemRect(form.List()->item(0))));
}

// A long line between short ones: the list's uniform item size must not come from a short line.
TEST(AsciiListList, EveryLineCanBeReadInFullBySidewaysScrolling) {
  TAsciiListForm form;
  form.resize(300, 200);
  form.show();
  form.AddLine("short", 0);
  form.AddLine(QString(153, 'L'), 0);
  for (int i = 0; i < 40; ++i) form.AddLine(QString("reply %1").arg(i), 0);
  form.AppendToLastLine(QString(40, 'W'));  // a continued line grows too
  QListWidget* list = form.List();
  QScrollBar* sideways = list->horizontalScrollBar();
  QStyleOptionViewItem option;  // what a line needs, as a plain item view measures it
  option.initFrom(list);
  option.widget = list;
  ASSERT_TRUE(WaitFor([&] { return list->updatesEnabled(); }));
  for (int row : {1, 41}) {
    const int needed = QStyledItemDelegate().sizeHint(option, list->model()->index(row, 0)).width();
    EXPECT_GE(list->visualItemRect(list->item(row)).width(), needed) << row;  // not cut short
    EXPECT_GE(sideways->maximum() + list->viewport()->width(), needed) << row;
  }
  sideways->setValue(sideways->maximum());
  form.AddLine("while reading", 0);  // arriving lines keep the place the user scrolled to
  ASSERT_TRUE(WaitFor([&] { return list->updatesEnabled(); }));
  EXPECT_EQ(sideways->value(), sideways->maximum());
}

TEST(AsciiListList, AppendToLastLineLogsOnlyTheAppendedPart) {
  TFakeModule m("TR");
  TFakeChannels channels;
  TFakeMain main;
  TAsciiListForm form;
  ASSERT_EQ(form.OpenCu(m.cu, &main, false, "Traces"), 1);
  form.AppendToLastLine("first");  // nothing to append to: becomes a line
  form.AppendToLastLine(" more");
  form.AddLine("own text", 0);
  EXPECT_EQ(form.List()->item(0)->text(), "first more");
  EXPECT_EQ(main.log.mid(1), (QStringList{"first", " more", "own text"}));
}

TEST(AsciiListPopup, CopyCopyAllAndClear) {
  TAsciiListForm form;
  form.AddLine("one", 0);
  form.AddLine("two", 0);
  QApplication::clipboard()->setText("untouched");
  form.List()->clearSelection();
  form.CopySelected();
  EXPECT_EQ(QApplication::clipboard()->text(), "untouched");
  form.List()->setCurrentRow(1);
  form.CopySelected();
  EXPECT_EQ(QApplication::clipboard()->text(), "two");
  form.CopyAll();
  EXPECT_EQ(QApplication::clipboard()->text(), "one\r\ntwo\r\n");
  QStringList items;
  for (QAction* a : form.Popup()->actions())
    if (!a->isSeparator()) items << a->text();
  EXPECT_EQ(items, (QStringList{"Execute", "Copy", "CopyAll", "Clear"}));
  EXPECT_FALSE(form.Popup()->actions()[0]->isEnabled());
  form.Popup()->actions().last()->trigger();
  EXPECT_EQ(form.List()->count(), 0);
}

TEST(AsciiListRelease, KeepsLinesStopsReadingAndClosesTheChannel) {
  TFakeModule m("MO");
  TFakeChannels channels;
  TFakeMain main;
  TAsciiListForm form;
  ASSERT_EQ(form.OpenCu(m.cu, &main, false, "Monitor"), 1);
  channels.Push("before");
  ASSERT_TRUE(WaitFor([&] { return form.List()->count() == 1; }));
  form.ReleaseCu();
  EXPECT_TRUE(channels.shared->closed);
  EXPECT_EQ(form.Cu(), nullptr);
  EXPECT_EQ(form.Channel(), nullptr);
  channels.Push("after");
  QCoreApplication::processEvents();
  EXPECT_EQ(form.List()->count(), 1);
  form.close();
  EXPECT_EQ(main.log.last(), "closed G1 - 123 - Monitor");
}

TEST(AsciiListClose, ClosingWhileTheReaderFloodsTheWindowNeverDeadlocks) {
  TFakeModule m("MO");
  TFakeChannels channels;
  TFakeMain main;
  QMdiArea area;
  auto* form = new TAsciiListForm;
  QMdiSubWindow* sub = area.addSubWindow(form);
  sub->show();
  ASSERT_EQ(form->OpenCu(m.cu, &main, false, "Monitor"), 1);
  std::atomic<bool> stop{false};
  std::thread feeder([&] {
    while (!stop) channels.Push("flood");
  });
  ASSERT_TRUE(WaitFor([&] { return form->List()->count() > 50; }));
  sub->close();  // the reader is waiting in a call into this thread or about to make one
  stop = true;
  feeder.join();
  EXPECT_EQ(main.log.last(), "closed G1 - 123 - Monitor");
  QCoreApplication::processEvents();  // calls queued before the close find no window
}

TEST(MasterEventList, BoundedListLogsAndTellsTheMainWindowOnClose) {
  TFakeMain main;
  TMasterEventList events;
  events.SetMainWindow(&main);
  EXPECT_EQ(events.windowTitle(), "Instrument Events");
  for (int i = 0; i < 502; ++i) events.AddEventLine(QString("Module M%1 added").arg(i));
  EXPECT_EQ(events.List()->count(), 501);
  EXPECT_EQ(events.List()->item(0)->text(), "Module M1 added");
  EXPECT_EQ(main.log.last(), "Module M501 added");
  events.close();
  EXPECT_EQ(main.eventsClosed, 1);
}

}  // namespace
