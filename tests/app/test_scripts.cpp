// The script window in the desktop application against the simulator: the command line with its
// history and file rule, output and outcome lines, Escape aborting, the autostart script after a
// connection, and no deadlock when the user disconnects or closes the window while a script waits.
#include <QAction>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiSubWindow>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "Appfixture.h"
#include "app/Mainform.h"
#include "forms/Formform.h"
#include "graphics/Graphicmain.h"
#include "script/Halinit.h"
#include "scripthost/Instscriptform.h"
#include "scriptlib/ScriptConnection.h"
#include "scriptlib/ScriptLibrary.h"
#include "support/Simulator.h"
#include "support/TempDir.h"

using namespace std::chrono_literals;

namespace {

// The script engine lives for the whole test program, as it does for the application (it is never
// stopped: its tables must outlive every script window the tests leave to the end).
class TScriptEngine : public ::testing::Environment {
 public:
  void SetUp() override {
    HalinitStart();
    RegisterGeneralLibrary();
  }
};
const auto* const g_engine = ::testing::AddGlobalTestEnvironment(new TScriptEngine);

const char* const kConfig = R"({"modules": [
  {"type": "G1", "serial": "123", "cus": [
    {"name": "IN", "replies": {"*IDN?": "G1,123"}},
    {"name": "SIL", "owner": "G1SIL", "behaviour": "instruction", "replies": {"hello": "", "again": ""}}]}]})";

class Scripts : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.WriteIni("[LastConfig]\nLAN=127.0.0.1\nTimeout=3000\nExecuteAutostart=0\n[LAN]\nTelnetPort=" +
                 std::to_string(sim.TelnetPort()) + "\nDataPort=" + std::to_string(sim.DataPort()) + "\n");
    form = std::make_unique<TMainForm>(dir.Dir());
    form->resize(1000, 700);
    form->show();
    ASSERT_EQ(ConnectAndWait(*form, TConnectOrigin::ToolButton), 1);
  }
  void TearDown() override {
    if (form) form->close();
    form.reset();
    CScriptConnection::Instance().SetReplyWaitMs(10000);
  }
  QStringList Lines(TInstScriptForm* w) const {
    QStringList lines;
    for (int i = 0; i < w->List()->count(); ++i) lines << w->List()->item(i)->text();
    return lines;
  }
  void Type(TInstScriptForm* w, const QString& text, Qt::Key key = Qt::Key_Return) {
    w->CommandLine()->setText(text);
    QTest::keyClick(w->CommandLine(), key);
  }
  bool WaitForLine(TInstScriptForm* w, const QString& line) {
    return WaitFor([&] { return Lines(w).contains(line); });
  }
  // A run's outcome is whole once the empty line behind it has come too (it may come in a later batch).
  bool WaitForOutcome(TInstScriptForm* w, const QString& outcome) {
    return WaitFor([&] {
      const QStringList lines = Lines(w);
      const qsizetype at = lines.indexOf(outcome);
      return at >= 0 && at + 1 < lines.size();
    });
  }

  TProgramDir dir;
  support::TempDir scripts{"morvent-scripts"};
  support::Simulator sim{kConfig};
  TMessageRecorder recorder;
  std::unique_ptr<TMainForm> form;
};

TEST_F(Scripts, CommandLineOutputHistoryAndAbort) {
  form->findChild<QAction*>("ToolButton10")->trigger();
  auto* w = form->findChild<TInstScriptForm*>();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->windowTitle(), "Instrument Script");
  const std::string file = scripts.Write("talk.pas", R"(program talk;
var m: TModule; c: TCu;
begin
  m := TModule.Create; m.Desc := Instrument.GetModule(1);
  c := TCu.Create; c.Desc := m.GetCu('in'); c.Open;
  Output.writeln(m.Productnr + ' says ' + c.IO('*IDN?') + ' to ' + Arguments.String(0));
  Output.writeln('two' + #13#10 + 'lines');
end.)");
  const QString command = QString::fromStdString(file.substr(0, file.size() - 4)) + " \"an argument\"";
  Type(w, command);
  ASSERT_TRUE(WaitForOutcome(w, "ok."));
  EXPECT_EQ(Lines(w), (QStringList{command, "G1 says G1,123 to an argument", "two", "      lines", "ok.", ""}));
  EXPECT_EQ(w->windowTitle(), "Script - " + QString::fromStdString(file));
  EXPECT_TRUE(w->CommandLine()->text().isEmpty());
  Screenshot(form.get(), "script-window-output");

  // The same command twice is kept once; the arrows walk the history and wrap.
  Type(w, "/no/such/script");
  EXPECT_TRUE(Lines(w).contains("Cannot open script file"));
  Type(w, "/no/such/script");
  EXPECT_EQ(w->History(), (QStringList{command, "/no/such/script"}));
  QTest::keyClick(w->CommandLine(), Qt::Key_Up);
  EXPECT_EQ(w->CommandLine()->text(), "/no/such/script");
  QTest::keyClick(w->CommandLine(), Qt::Key_Up);
  QTest::keyClick(w->CommandLine(), Qt::Key_Up);
  EXPECT_EQ(w->CommandLine()->text(), "/no/such/script");
  QTest::keyClick(w->CommandLine(), Qt::Key_Escape);
  EXPECT_TRUE(w->CommandLine()->text().isEmpty());

  // Escape while a script runs aborts it.
  const std::string loop = scripts.Write(
      "loop.pas", "program loop;\nbegin\n  Output.writeln('running');\n  while true do SleepMS(10);\nend.\n");
  w->List()->clear();
  Type(w, QString::fromStdString(loop));
  ASSERT_TRUE(WaitForLine(w, "running"));
  EXPECT_TRUE(w->Running());
  Screenshot(form.get(), "script-running");
  QTest::keyClick(w->CommandLine(), Qt::Key_Escape);
  ASSERT_TRUE(WaitForOutcome(w, "aborted."));
  EXPECT_TRUE(WaitFor([&] { return !w->Running(); }));
}

// A script waiting for a reply that never comes: disconnecting ends its wait at once, and closing its
// window while it runs stops it; neither blocks the GUI.
TEST_F(Scripts, DisconnectAndCloseWhileAScriptWaits) {
  CScriptConnection::Instance().SetReplyWaitMs(600000);
  const std::string file = scripts.Write("wait.pas", R"(program wait;
var m: TModule; c: TCu;
begin
  m := TModule.Create; m.Desc := Instrument.GetModule(1);
  c := TCu.Create; c.Desc := m.GetCu('SIL'); c.Open;
  Output.writeln('waiting');
  Output.writeln(c.IO('hello'));
  Output.writeln(IntToStr(Instrument.IsConnected) + ' ' + c.IO('again'));
end.)");
  TInstScriptForm* w = form->OpenScriptWindow();
  w->RunScript(QString::fromStdString(file), 0);
  ASSERT_TRUE(WaitForLine(w, "waiting"));
  // "hello" has reached the instrument (which never answers it): the script waits for its reply now.
  ASSERT_TRUE(sim.WaitForStatus("\"instructions\":1", 10s)) << sim.Status();
  form->DisconnectInstrument(false);
  ASSERT_TRUE(WaitForOutcome(w, "ok."));
  EXPECT_EQ(Lines(w).mid(1, 2), (QStringList{"cmd error!", "0 CU not open!"}));

  ASSERT_EQ(ConnectAndWait(*form, TConnectOrigin::ToolButton), 1);
  QPointer<TInstScriptForm> second = form->OpenScriptWindow();
  second->RunScript(QString::fromStdString(file), 0);
  ASSERT_TRUE(WaitForLine(second, "waiting"));
  second->parentWidget()->close();
  EXPECT_TRUE(WaitFor([&] { return second.isNull(); }));
}

// A script in the script window opens two forms and waits in a modal one; a click runs a handler on
// the GUI thread; closing the main window closes every form, and the waiting script goes on.
TEST_F(Scripts, ScriptFormsCloseWithTheMainWindow) {
  const std::string dfm = scripts.Write("panel.dfm",
                                        "object Panel: TPanelForm\n  Caption = 'Panel'\n  ClientWidth = 160\n"
                                        "  ClientHeight = 40\n  object Button1: TButton\n    Caption = 'Press'\n"
                                        "    OnClick = Button1Click\n  end\nend\n");
  scripts.Write("panel.pas",
                "program TPANEL;\nprocedure Button1Click(Sender: TObject);\nbegin\n"
                "  Self.Caption := 'pressed';\nend;\nbegin end.\n");
  const std::string file = scripts.Write(
      "forms.pas", "program f;\nbegin\n  RunForm('" + dfm + "');\n  RunForm('" + dfm +
                       "');\n  Output.writeln('two open');\n  Output.writeln(RunFormModal('" + dfm + "'));\nend.\n");
  TInstScriptForm* w = form->OpenScriptWindow();
  bool closed = false;
  std::string caption;
  QTimer poll;
  // the modal run holds this thread's event loop: the test acts from a timer inside it
  QObject::connect(&poll, &QTimer::timeout, [&] {
    const std::vector<TForm*> forms = TFormList::Instance().Forms();
    if (closed || forms.size() != 3 || !forms[2]->Modal()) return;
    closed = true;
    EXPECT_EQ(forms[1]->Name, "Panel_1");
    QTest::mouseClick(qobject_cast<QPushButton*>(forms[1]->FindComponent("Button1")->Widget()), Qt::LeftButton);
    caption = forms[1]->Caption();
    form->close();
  });
  poll.start(20);
  w->RunScript(QString::fromStdString(file), 0);
  ASSERT_TRUE(WaitFor([&] { return closed && TFormList::Instance().Count() == 0; }));
  EXPECT_EQ(caption, "pressed");
  ASSERT_TRUE(WaitForOutcome(w, "ok."));
  EXPECT_EQ(Lines(w).mid(0, 3), (QStringList{"two open", "2", "ok."}));
  EXPECT_TRUE(recorder.messages.isEmpty());
}

TEST_F(Scripts, AutostartRunsAfterEachNewConnection) {
  const std::string log = scripts.File("autostart.log");
  const std::string file = scripts.Write("auto start.pas", "program a;\nbegin\n  Output.OpenLogFile('" + log +
                                                               "', 1);\n  Output.writeln('autostart ' + "
                                                               "Instrument.GetConnection);\nend.\n");
  form->ApplyAutostart(QString::fromStdString(file), true);
  form->DisconnectInstrument(false);
  form->ConnectLastClick();
  ASSERT_TRUE(WaitFor([&] { return support::ReadFile(log).find("autostart 127.0.0.1") != std::string::npos; }));
  // The window closes itself when the script has finished.
  EXPECT_TRUE(WaitFor([&] { return form->findChild<TInstScriptForm*>() == nullptr; }));
  EXPECT_TRUE(recorder.messages.isEmpty());
}

}  // namespace

namespace {

// A script in the script window opens a plot window: an MDI child of the main window, reused by
// name, that disconnecting leaves open and that leaves the registry with the main window.
TEST_F(Scripts, PlotWindowsAreMdiChildren) {
  form->findChild<QAction*>("ToolButton10")->trigger();
  auto* w = form->findChild<TInstScriptForm*>();
  ASSERT_NE(w, nullptr);
  const std::string file = scripts.Write("plot.pas", R"(program plot;
var p, q: TPlotWnd; s: TSignal; d: TSignalData; i: Integer;
begin
  p := TPlotWnd.Create; p.OpenWindow('demo');
  q := TPlotWnd.Create; q.OpenWindow('demo');
  s := TSignal.Create; s.Desc := q.AddSignal('ramp');
  d := TSignalData.Create;
  for i := 0 to 9 do begin d.x[i] := i; d.y[i] := i * 2; end;
  s.SetData(d);
  Output.writeln(s.Title);
end.)");
  Type(w, QString::fromStdString(file));
  ASSERT_TRUE(WaitForOutcome(w, "ok."));
  EXPECT_TRUE(Lines(w).contains("ramp"));
  QList<TGraphicForm*> plots = form->findChildren<TGraphicForm*>();
  ASSERT_EQ(plots.size(), 1);
  auto* sub = qobject_cast<QMdiSubWindow*>(plots[0]->parentWidget());
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(sub->windowTitle(), "Graph - demo");
  EXPECT_EQ(sub->size(), QSize(621, 412));
  EXPECT_EQ(GglMainWidget(plots[0]->MainHandle())->size(), plots[0]->size());  // the plot covers the client area
  ASSERT_TRUE(WaitFor([&] { return !plots[0]->UpdatePending(); }));
  EXPECT_EQ(plots[0]->Signals().at(0).second->Count(), 10);
  Screenshot(form.get(), "plot-window-mdi");
  form->findChild<QAction*>("DisconnectItem")->trigger();
  EXPECT_EQ(form->findChildren<TGraphicForm*>().size(), 1);  // plot windows are not CU windows
  EXPECT_NE(CPlotRegistry::Instance().Find("demo"), nullptr);
  form->close();
  EXPECT_TRUE(CPlotRegistry::Instance().Names().empty());
}

}  // namespace
