// Every CU window kind opened from the tree on the simulator's demo instrument, fed by what the simulator
// sends ("emit"), and the lines each window makes of it. Saves the events window and the analysis report.
#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include <QTreeWidget>

#include "DemoInstrument.h"
#include "app/Mainform.h"
#include "app/Maininstr.h"
#include "cuwindows/Analreport.h"
#include "cuwindows/Asciilist.h"
#include "cuwindows/Canslave.h"
#include "cuwindows/Ddform.h"
#include "cuwindows/Event.h"
#include "cuwindows/Inreply.h"
#include "cuwindows/Rawdata.h"
#include "cuwindows/Rawdatanucleus.h"
#include "cuwindows/Traceform.h"
#include "support/Simulator.h"

namespace {

QStringList Lines(const TAsciiListForm* w) {
  QStringList lines;
  for (int i = 0; i < w->List()->count(); ++i) lines << w->List()->item(i)->text();
  return lines;
}

bool AllMatch(const QStringList& lines, const QRegularExpression& re) {
  for (const QString& line : lines)
    if (!re.match(line).hasMatch()) {
      ADD_FAILURE() << "unexpected line: \"" << line.toStdString() << "\" (pattern " << re.pattern().toStdString()
                    << ")";
      return false;
    }
  return true;
}

TEST_F(DemoInstrument, TreeOffersEveryWindowKind) {
  QTreeWidgetItem* root = Find<QTreeWidget>(*form, "TreeView1")->topLevelItem(0);
  ASSERT_NE(root, nullptr);
  QStringList modules, cus;
  for (int i = 0; i < root->childCount(); ++i) {
    modules << root->child(i)->text(0);
    for (int j = 0; j < root->child(i)->childCount(); ++j) cus << root->child(i)->child(j)->text(0);
  }
  EXPECT_EQ(modules, (QStringList{"MAIN-1 - 000123", "PUMP-2 - 000456", "DET-3 - 000789", "VALVE-S1 - 200001",
                                  "TEMP-S2 - 200002"}));
  for (const char* kind : {"IN", "EV", "TR", "MO", "DI", "LI", "AR", "RD", "MS", "RAWD", "RDSCANMON", "RDSIGMON", "LD",
                           "DD", "PR", "CS_IO"})
    EXPECT_TRUE(cus.contains(kind)) << kind;
  EXPECT_EQ(root->child(3)->data(0, TMainForm::NodeImageRole).toInt(), 3);  // CAN-slave modules
  EXPECT_EQ(root->child(4)->data(0, TMainForm::NodeImageRole).toInt(), 3);
  // At its default width the tree shows every caption in full.
  EXPECT_LE(Find<QTreeWidget>(*form, "TreeView1")->header()->sectionSize(0),
            Find<QTreeWidget>(*form, "TreeView1")->viewport()->width());
  Screenshot(form.get(), "main-connected-demo");
}

TEST_F(DemoInstrument, TextWindowsShowWhatTheInstrumentSends) {
  // Events: text, date and time (no time-zone shift: compared with the UTC clock) and the third field.
  auto* ev = OpenFromTree<TEventForm>("MAIN-1", "EV");
  const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-2);
  ASSERT_TRUE(EmitAndWait(ev, "MAIN-1", "EV", 3, 3));
  const QDateTime after = QDateTime::currentDateTimeUtc().addSecs(2);
  const QRegularExpression event("^EVENT (\\d+), (\\d{1,2}\\.\\d{1,2}\\.\\d{4} [ \\d]\\d:\\d\\d:\\d\\d), MAIN-1$");
  const QStringList events = Lines(ev);
  for (int k = 0; k < events.size(); ++k) {
    const QRegularExpressionMatch m = event.match(events[k]);
    ASSERT_TRUE(m.hasMatch()) << events[k].toStdString();
    EXPECT_EQ(m.captured(1).toInt(), k + 1);
    QDateTime at = QDateTime::fromString(m.captured(2).replace("  ", " 0"), "d.M.yyyy HH:mm:ss");
    at.setTimeSpec(Qt::UTC);
    EXPECT_TRUE(at >= before && at <= after) << events[k].toStdString();
  }
  ev->parentWidget()->setGeometry(0, 0, 640, 300);
  Find<QMdiArea>(*form, "MdiArea")->setActiveSubWindow(static_cast<QMdiSubWindow*>(ev->parentWidget()));
  Screenshot(form.get(), "events-window");

  // Instruction/reply.
  auto* in = OpenFromTree<TInReplyForm>("MAIN-1", "IN");
  ASSERT_NE(in, nullptr);
  in->Input()->setText("*IDN?");
  in->SendInput();
  ASSERT_TRUE(WaitFor([&] { return in->List()->count() == 2; }));
  EXPECT_EQ(Lines(in), (QStringList{"*IDN?", "MAIN-1,000123"}));

  // Monitor, diagnose and list windows: one line per message, in the order sent.
  for (const char* cu : {"MO", "DI", "LI"}) {
    auto* w = OpenFromTree<TAsciiListForm>("MAIN-1", cu);
    ASSERT_TRUE(EmitAndWait(w, "MAIN-1", cu, 5, 5)) << cu;
    const QStringList lines = Lines(w);
    for (int k = 0; k < lines.size(); ++k)
      EXPECT_TRUE(lines[k].startsWith(QString("MAIN-1 %1 #%2: level ").arg(cu).arg(k))) << lines[k].toStdString();
  }

  // Raw data and spectra: the first ";"-separated field only.
  for (const char* cu : {"RD", "MS"}) {
    auto* w = OpenFromTree<TRawDataForm>("DET-3", cu);
    ASSERT_TRUE(EmitAndWait(w, "DET-3", cu, 4, 4)) << cu;
    EXPECT_TRUE(AllMatch(Lines(w), QRegularExpression("^\\d+\\.\\d{3}$"))) << cu;
  }

  // Traces: pieces cut anywhere are joined into whole lines.
  auto* tr = OpenFromTree<TTraceCu>("MAIN-1", "TR");
  ASSERT_TRUE(EmitAndWait(tr, "MAIN-1", "TR", 60, 12));
  QStringList trace = Lines(tr);
  trace.removeLast();  // the last line may still be waiting for its end
  const QRegularExpression traceLine("^MAIN-1 trace (\\d+): step (\\d), t=\\d+ ms$");
  for (int n = 0; n < trace.size(); ++n) {
    const QRegularExpressionMatch m = traceLine.match(trace[n]);
    ASSERT_TRUE(m.hasMatch()) << trace[n].toStdString();
    EXPECT_EQ(m.captured(1).toInt(), n);
    EXPECT_EQ(m.captured(2).toInt(), n % 7);
  }
  // An instruction in the trace window is answered in the trace, on a line of its own.
  tr->Input()->setText("TRACE?");
  tr->SendInput();
  EXPECT_TRUE(WaitFor([&] { return Lines(tr).contains("OK TRACE?"); }));
  EXPECT_TRUE(Lines(tr).contains("TRACE?"));  // the typed line is not continued by trace text
  EXPECT_TRUE(recorder.messages.isEmpty()) << recorder.Texts().join("; ").toStdString();
}

// Opened from the tree, the window takes what the user types at once; the long instruction and its reply
// can be read by scrolling sideways.
TEST_F(DemoInstrument, TypingGoesToTheNewWindowAndLongLinesScrollSideways) {
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  auto* in = OpenFromTree<TInReplyForm>("MAIN-1", "IN");
  ASSERT_NE(in, nullptr);
  const QString instruction = "SET " + QString(149, 'L');  // 153 characters
  QTest::keyClicks(QApplication::focusWidget(), instruction);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  ASSERT_TRUE(WaitFor([&] { return in->List()->count() == 2 && in->List()->updatesEnabled(); }));
  EXPECT_EQ(Lines(in), (QStringList{instruction, "OK " + instruction}));
  QCoreApplication::processEvents();
  QScrollBar* sideways = in->List()->horizontalScrollBar();
  EXPECT_GE(sideways->maximum() + in->List()->viewport()->width(),
            in->List()->fontMetrics().horizontalAdvance("OK " + instruction));
  sideways->setValue(sideways->maximum());
  Screenshot(form.get(), "long-line-sideways");
}

TEST_F(DemoInstrument, BinaryWindowsDecodeTheInstrumentsRecords) {
  // Analysis report: messages 0..11 hold 1 + k % 4 records each, 30 in all, cycling through every kind.
  auto* ar = OpenFromTree<TAnalysisReport>("DET-3", "AR");
  ASSERT_NE(ar, nullptr);
  const QRegularExpression header("^(Peak|Baseline|FractionData)(, -?\\d+){10}$");
  auto headers = [&] { return static_cast<int>(Lines(ar).filter(header).size()); };
  ASSERT_TRUE(Emit("DET-3", "AR", 12) && WaitFor([&] { return headers() >= 30; }));
  const QStringList report = Lines(ar);
  for (const QString& line : report) {
    EXPECT_FALSE(line.startsWith("To few data bytes")) << line.toStdString();
    EXPECT_FALSE(line.contains("Invalid number")) << line.toStdString();
  }
  EXPECT_TRUE(report.contains("    0 bytes of data"));
  EXPECT_FALSE(report.filter(QRegularExpression("^    [1-9]\\d* bytes of data$")).isEmpty());
  EXPECT_TRUE(report.contains("    No additional fraction data"));
  EXPECT_TRUE(report.contains("    No external trigger sources"));
  EXPECT_FALSE(
      report
          .filter(QRegularExpression("^    -?\\d+, \\((-?\\d+, ){3}-?\\d+\\), -?\\d+\\.\\d\\d, \\(-?\\d+, -?\\d+\\), "
                                     "\\(-?\\d+, -?\\d+\\), \\(-?\\d+, -?\\d+,  -?\\d+, -?\\d+\\), TRIG \\d+$"))
          .isEmpty());
  EXPECT_TRUE(report.contains(QString("EXT-IN1").leftJustified(36)));
  EXPECT_FALSE(report.filter(QRegularExpression("^LINE-\\d+ +$")).isEmpty());
  ar->parentWidget()->setGeometry(0, 0, 700, 320);
  Find<QMdiArea>(*form, "MdiArea")->setActiveSubWindow(static_cast<QMdiSubWindow*>(ar->parentWidget()));
  Screenshot(form.get(), "analysis-report");

  // Nucleus headers: the IDs 1..16 in turn, each with the record number it came with.
  const char* const names[] = {"ANA_START",
                               "ANA_STOP",
                               "RUN_START",
                               "RUN_STOP",
                               "SIG_START",
                               "SIG_STOP",
                               "SCAN_START",
                               "SCAN_STOP",
                               "MONITOR_START",
                               "MONITOR_STOP",
                               "MONITOR_COMPLETE_INFO",
                               "MONITOR_SAMPLE_INFO",
                               "MONITOR_SAMPLE_SIGNAL",
                               "EQUIDISTANT_SIGNAL",
                               "NON_EQUIDISTANT_SIGNAL",
                               "SCAN"};
  for (const char* cu : {"RAWD", "RDSCANMON", "RDSIGMON"}) {
    auto* w = OpenFromTree<TRawDataNucleusForm>("DET-3", cu);
    ASSERT_TRUE(EmitAndWait(w, "DET-3", cu, 16, 16)) << cu;
    const QStringList lines = Lines(w);
    for (int k = 0; k < 16; ++k) {
      const QString want = QString("%1, #%2").arg(names[k]).arg(k);
      EXPECT_TRUE(lines[k] == want || lines[k].startsWith(want + ", ")) << cu << ": " << lines[k].toStdString();
    }
  }

  // DSP special: only the size of each message, 1 + k * 389 % 1024 bytes for message k.
  auto* dd = OpenFromTree<TDDCuForm>("DET-3", "DD");
  ASSERT_TRUE(EmitAndWait(dd, "DET-3", "DD", 4, 4));
  const QStringList sizes = Lines(dd);
  for (int k = 0; k < sizes.size(); ++k) EXPECT_EQ(sizes[k], QString("%1 chars received").arg(1 + k * 389 % 1024));
  EXPECT_TRUE(recorder.messages.isEmpty()) << recorder.Texts().join("; ").toStdString();
}

TEST_F(DemoInstrument, CanSlaveWindowsTalkThroughTheCsCu) {
  // "PR" always goes through the CS CU: the typed line is shown, "IN" + line is written, the reply
  // shows its two-character source in front.
  auto* pr = OpenFromTree<TCanSlaveForm>("VALVE-S1", "PR");
  ASSERT_NE(pr, nullptr);
  EXPECT_EQ(pr->windowTitle(), "VALVE-S1 - 200001 - CanSlave - via CAP CS-CU");
  pr->Input()->setText("XY");
  pr->SendInput();
  ASSERT_TRUE(WaitFor([&] { return pr->List()->count() == 2; }));
  EXPECT_EQ(Lines(pr), (QStringList{"XY", "01: OK XY"}));  // "OK" only for a text that came as "INXY"
  EXPECT_EQ(pr->History(), QStringList{"XY"});

  // "CS_IO" as the user chooses: through the CS CU, or opened directly.
  auto* viaCs = OpenFromTree<TCanSlaveForm>("TEMP-S2", "CS_IO", true);
  ASSERT_NE(viaCs, nullptr);
  EXPECT_TRUE(viaCs->ViaCs());
  auto* direct = OpenFromTree<TCanSlaveForm>("TEMP-S2", "CS_IO", false);
  ASSERT_NE(direct, nullptr);
  EXPECT_FALSE(direct->ViaCs());
  EXPECT_EQ(direct->windowTitle(), "TEMP-S2 - 200002 - CanSlave");
  viaCs->Input()->setText("T?");
  viaCs->SendInput();
  direct->Input()->setText("U?");
  direct->SendInput();
  ASSERT_TRUE(WaitFor([&] { return viaCs->List()->count() == 2 && direct->List()->count() == 2; }));
  EXPECT_EQ(Lines(viaCs), (QStringList{"T?", "01: OK T?"}));
  EXPECT_EQ(Lines(direct), (QStringList{"U?", "01: OK U?"}));
  EXPECT_TRUE(recorder.Texts().isEmpty());
}

}  // namespace
