// Connecting off the GUI thread: an attempt against an instrument that never answers shows itself in
// the status bar while the event loop goes on, can be cancelled and joined but never doubled, ends
// when the user quits or switches auto-reconnect off; a failed attempt keeps the released windows.
#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include "Appfixture.h"
#include "app/Connectdlg.h"
#include "app/Inifile.h"
#include "app/Mainform.h"
#include "app/Maininstr.h"
#include "cuwindows/Inreply.h"
#include "support/Net.h"
#include "support/Simulator.h"

namespace {

class Connecting : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.WriteIni("[LastConfig]\nLAN=127.0.0.1\nTimeout=30000\n[LAN]\nTelnetPort=" + std::to_string(silent.Port()) +
                 "\nDataPort=" + std::to_string(silent.Port()) + "\n");
    form = std::make_unique<TMainForm>(dir.Dir());
    form->show();
  }
  QLabel* Status() const { return form->findChild<QLabel*>("ConnectingLabel"); }
  QPushButton* CancelButton() const { return form->findChild<QPushButton*>("CancelConnectButton"); }

  SilentPort silent;
  TProgramDir dir;
  TMessageRecorder recorder;
  std::unique_ptr<TMainForm> form;
};

TEST_F(Connecting, AnAttemptRunsBesideTheEventLoopAndCanBeCancelled) {
  int first = -1, second = -1;
  form->ConnectInstrument(TConnectOrigin::ToolButton, [&](int r) { first = r; });
  ASSERT_TRUE(form->Connecting());
  // The GUI thread goes on: a timer fires while the instrument keeps silent.
  bool ticked = false;
  QTimer::singleShot(10, [&] { ticked = true; });
  ASSERT_TRUE(WaitFor([&] { return ticked; }));
  EXPECT_TRUE(form->Connecting());
  EXPECT_TRUE(Status()->isVisible());
  EXPECT_EQ(Status()->text(), "Connecting to 127.0.0.1 ...");
  EXPECT_EQ(form->windowTitle(), "Morvent v5.66  -  not connected");
  Screenshot(form.get(), "connect-attempt-in-progress");
  // A second request joins the attempt under way instead of starting another.
  form->ConnectInstrument(TConnectOrigin::Dialog, [&](int r) { second = r; });
  CancelButton()->click();
  ASSERT_TRUE(WaitFor([&] { return first >= 0 && second >= 0; }));
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 0);
  EXPECT_FALSE(form->Connecting());
  EXPECT_FALSE(Status()->isVisible());
  EXPECT_EQ(form->GetConnection(), nullptr);
  EXPECT_TRUE(recorder.messages.isEmpty());  // the user cancelled: nothing to report

  // The tool button's own attempt: cancelled through "Disconnect", again without a message.
  form->ConnectLastClick();
  ASSERT_TRUE(form->Connecting());
  form->findChild<QAction*>("DisconnectItem")->trigger();
  ASSERT_TRUE(WaitFor([&] { return !form->Connecting(); }));
  EXPECT_TRUE(recorder.messages.isEmpty());
}

TEST_F(Connecting, QuittingOrStoppingAutoReconnectEndsTheAttempt) {
  form->ToggleAutoReconnect();
  auto* timer = form->findChild<QTimer*>("TimerReconnect");
  ASSERT_NE(timer, nullptr);
  timer->setInterval(10);
  timer->start();
  ASSERT_TRUE(WaitFor([&] { return form->Connecting(); }));
  EXPECT_EQ(Status()->text(), "Reconnecting to 127.0.0.1 ...");
  form->ToggleAutoReconnect();  // off: no more tries, and this one stops
  EXPECT_FALSE(timer->isActive());
  ASSERT_TRUE(WaitFor([&] { return !form->Connecting(); }));
  EXPECT_TRUE(recorder.messages.isEmpty());

  form->ConnectLastClick();
  ASSERT_TRUE(form->Connecting());
  form->close();  // returns although the instrument never answers
  EXPECT_FALSE(form->Connecting());
  EXPECT_TRUE(recorder.messages.isEmpty());
}

// Released windows (after a lost connection) stay with their contents through failed attempts and
// close only when a new connection stands.
TEST_F(Connecting, FailedAttemptsKeepTheReleasedWindows) {
  Simulator sim;
  TIniFile& ini = form->Ini();
  ini.WriteInteger("LAN", "TelnetPort", sim.TelnetPort());
  ini.WriteInteger("LAN", "DataPort", sim.DataPort());
  TMainForm main(dir.Dir());
  ASSERT_EQ(ConnectAndWait(main, TConnectOrigin::ToolButton), 1);
  std::shared_ptr<CCuDesc> in = main.GetConnection()->GetModule(0)->GetCuDesc(0);
  QPointer<QWidget> window = main.OpenCuWindow(in, false);
  ASSERT_FALSE(window.isNull());
  main.DisconnectInstrument(true);
  // An address where nothing listens: the attempt fails, the window stays.
  Find<TEnterInstrAddressDlg>(main)->Preset(0, "127.0.0.2");
  main.ConnectDialogAccepted();
  ASSERT_TRUE(WaitFor([&] { return !main.Connecting(); }));
  EXPECT_EQ(recorder.Texts(), QStringList{"Connection to instrument failed"});
  EXPECT_FALSE(window.isNull());
  EXPECT_EQ(main.windowTitle(), "Morvent v5.66  -  not connected");
  Find<TEnterInstrAddressDlg>(main)->Preset(0, "127.0.0.1");
  main.ConnectDialogAccepted();
  ASSERT_TRUE(WaitFor([&] { return main.GetConnection() != nullptr; }));
  EXPECT_TRUE(WaitFor([&] { return window.isNull(); }));
  EXPECT_EQ(main.windowTitle(), "Morvent v5.66  -  127.0.0.1");
}

}  // namespace
