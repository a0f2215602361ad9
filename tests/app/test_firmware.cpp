// The firmware window: its status line rules on their own, then downloads to the simulator's module
// loader from the tree as the user runs them (finished, cancelled, module error, closing refused, the
// connection dropped mid-transfer). Saves the window idle, downloading and showing an error.
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <cstdlib>
#include <fstream>

#include "DemoInstrument.h"
#include "app/Maininstr.h"
#include "cuwindows/Firmwareform.h"

namespace {

QColor Back(const TFirmwareForm& w) { return w.StatusPanel->palette().color(QPalette::Window); }
QColor Fore(const TFirmwareForm& w) { return w.Status->palette().color(QPalette::WindowText); }

TEST(FirmwareStatusLine, FollowsTheLoaderAndKeepsHostOutcomesUntilReady) {
  TFirmwareForm w;
  EXPECT_EQ(w.Status->text(), " Ready");
  struct Step {
    int phase, code;
    const char* text;
    QColor back, fore;
  };
  const QColor face = w.palette().color(QPalette::Button), faceText = w.palette().color(QPalette::ButtonText);
  const QColor red(255, 0, 0), white(Qt::white);
  const Step steps[] = {
      {1, 0, "Erasing Flash", QColor(0, 255, 0), faceText},
      {2, 0, "Programming", QColor(255, 255, 0), faceText},
      {3, 0, "Verifying", QColor(0, 0, 255), white},
      {4, 3, "Flash erasue failed", red, white},
      {4, 42, "Flash erasue failed", red, white},  // an unknown code keeps the text, on red
      {4, 7, "Module type mismatch", red, white},
      {100, 2, "download canceled", red, white},
      {2, 0, "download canceled", red, white},  // only "Ready" replaces a host outcome
      {4, 1, "download canceled", red, white},
      {0, 0, "Ready", face, faceText},
      {100, 1, "Communication error", red, white},
      {0, 0, "Ready", face, faceText},
  };
  for (const Step& s : steps) {
    w.ShowStatus(s.phase, s.code);
    SCOPED_TRACE(testing::Message() << "status " << s.phase << "," << s.code);
    EXPECT_EQ(w.Status->text(), s.text);
    EXPECT_EQ(Back(w), s.back);
    EXPECT_EQ(Fore(w), s.fore);
  }
}

class FirmwareDownload : public DemoInstrument {
 protected:
  void SetUp() override {
    DemoInstrument::SetUp();
    ASSERT_TRUE(sim.Command("loader MAIN-1 timing 50 150 50").starts_with("ok"));
  }
  TFirmwareForm* Open() { return OpenFromTree<TFirmwareForm>("MAIN-1", "LD"); }
  // The loader's view of what it received: one number of its status, -1 when absent.
  long Loader(const char* key) {
    const std::string reply = sim.Command("loader MAIN-1");
    const std::string tag = std::string("\"") + key + "\":";
    const size_t at = reply.find(tag);
    return at == std::string::npos ? -1 : std::atol(reply.c_str() + at + tag.size());
  }
  std::string WriteImage(const char* name, size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7919 + i / 1000) & 0xFF);
    const std::string path = (dir.path / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  static bool Idle(const TFirmwareForm* w) {
    return !w->Downloading() && w->Download->text() == "Download" && w->Edit1->isEnabled() && w->Browse->isEnabled();
  }
};

TEST_F(FirmwareDownload, FinishesCancelsAndStopsOnModuleErrors) {
  QPointer<TFirmwareForm> w = Open();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->windowTitle(), "MAIN-1 - 000123 - Download Firmware");
  ASSERT_TRUE(WaitFor([&] { return w->Status->text() == "Ready"; }));  // the status worker polls from the start
  Screenshot(w->parentWidget(), "firmware-idle");

  // No file: the window says so and stays idle.
  w->Download->click();
  EXPECT_EQ(recorder.Texts(), QStringList{"Cannot open firmware file"});
  EXPECT_TRUE(Idle(w));

  // A whole download: the module gets the file unchanged in full frames and goes back to "Ready".
  const std::string image = WriteImage("whole.dlb", 123 * 1000);
  w->Edit1->setText(QString::fromStdString(image));
  w->Download->click();
  EXPECT_EQ(w->Download->text(), "Cancel");
  EXPECT_FALSE(w->Edit1->isEnabled());
  ASSERT_TRUE(WaitFor([&] { return !w->Downloading(); }, 30000));
  EXPECT_TRUE(Idle(w));
  EXPECT_EQ(w->ProgressBar1->value(), 0);
  ASSERT_TRUE(WaitFor([&] { return w->Status->text() == "Ready" && Loader("phase") == 0; }, 10000));
  EXPECT_EQ(Loader("bytes"), 123000);
  EXPECT_EQ(Loader("frames"), 123);
  EXPECT_EQ(Loader("max_frame"), 1000);
  EXPECT_EQ(Loader("min_frame"), 1000);
  const std::string saved = (dir.path / "received.dlb").string();
  ASSERT_TRUE(sim.Command("loader MAIN-1 save " + saved).starts_with("ok"));
  EXPECT_EQ(ReadFile(saved), ReadFile(image));

  // The module stops taking frames: the bar shows how far it came, closing is refused, Cancel ends it.
  ASSERT_TRUE(sim.Command("loader MAIN-1 fault starve 40000").starts_with("ok"));
  w->Edit1->setText(QString::fromStdString(WriteImage("big.dlb", 500 * 1000 + 321)));
  w->Download->click();
  ASSERT_TRUE(WaitFor([&] { return w->ProgressBar1->value() >= 40000; }, 20000))
      << w->Status->text().toStdString() << " downloading " << w->Downloading() << " bar " << w->ProgressBar1->value()
      << " " << sim.Command("loader MAIN-1");
  EXPECT_EQ(w->ProgressBar1->maximum(), 500321);
  Screenshot(w->parentWidget(), "firmware-downloading");
  EXPECT_FALSE(w->parentWidget()->close());
  EXPECT_TRUE(w->isVisible());
  w->Download->click();
  ASSERT_TRUE(WaitFor([&] { return !w->Downloading(); }));
  EXPECT_EQ(w->Status->text(), "download canceled");
  EXPECT_LT(Loader("bytes"), 500321);

  // "Ready" from the module replaces the host outcome.
  ASSERT_TRUE(sim.Command("loader MAIN-1 fault none").starts_with("ok"));
  ASSERT_TRUE(WaitFor([&] { return w->Status->text() == "Ready"; }, 10000));

  // The starved LD channel keeps its missing credits: a new window opens fresh channels. An error status
  // while the transfer waits stops it, and the error stays on the line.
  const QString big = w->Edit1->text();
  EXPECT_TRUE(w->parentWidget()->close());
  w = Open();
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(sim.Command("loader MAIN-1 fault error 3 20000").starts_with("ok"));
  ASSERT_TRUE(sim.Command("loader MAIN-1 fault starve 60000").starts_with("ok"));
  w->Edit1->setText(big);
  w->Download->click();
  ASSERT_TRUE(WaitFor([&] { return !w->Downloading(); }, 20000));
  EXPECT_EQ(w->Status->text(), "Flash erasue failed");
  EXPECT_EQ(Back(*w), QColor(255, 0, 0));
  EXPECT_LT(Loader("bytes"), 500321);
  Screenshot(w->parentWidget(), "firmware-error");
  EXPECT_EQ(recorder.Texts(), QStringList{"Cannot open firmware file"});
  EXPECT_TRUE(w->parentWidget()->close());
}

TEST_F(FirmwareDownload, ALostLinkReleasesTheWindowAndQuittingNeverWaitsForTheModule) {
  QPointer<TFirmwareForm> w = Open();
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(sim.Command("loader MAIN-1 fault drop 30000").starts_with("ok"));
  w->Edit1->setText(QString::fromStdString(WriteImage("drop.dlb", 100 * 1000)));
  w->Download->click();
  ASSERT_TRUE(WaitFor([&] { return w && !w->Downloading() && w->Cu() == nullptr; }, 30000));
  EXPECT_EQ(w->Status->text(), "Communication error");
  EXPECT_FALSE(w->Download->isEnabled());  // released: nothing to download to
  EXPECT_TRUE(w->parentWidget()->close());

  // Reconnected, a download that hangs on credits does not keep the application from quitting.
  ASSERT_TRUE(sim.Command("loader MAIN-1 fault none").starts_with("ok"));
  ASSERT_TRUE(sim.Command("loader MAIN-1 fault starve 10000").starts_with("ok"));
  if (!form->GetConnection()) {
    ASSERT_EQ(ConnectAndWait(*form, TConnectOrigin::ToolButton), 1);
  }
  w = Open();
  ASSERT_NE(w, nullptr);
  w->Edit1->setText(QString::fromStdString(WriteImage("quit.dlb", 100 * 1000)));
  w->Download->click();
  ASSERT_TRUE(WaitFor([&] { return w->ProgressBar1->value() >= 10000; }, 20000));
  form->close();
  form.reset();
}

}  // namespace
