// The dialog functions and classes from a script thread, driven offscreen: each dialog that opens is
// photographed, checked and answered by the next step of the test.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <deque>
#include <functional>

#include "FormFixture.h"
#include "forms/Formwatch.h"

using namespace formtest;

namespace {

// Answers the modal dialogs as they open, one step per dialog, in order.
class CDialogDriver {
 public:
  explicit CDialogDriver(std::deque<std::function<void(QWidget*)>> steps) : m_steps(std::move(steps)) {
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal || modal == m_last || m_steps.empty()) return;
      m_last = modal;
      auto step = std::move(m_steps.front());
      m_steps.pop_front();
      step(modal);
    });
    m_timer.start(20);
  }
  bool Done() const { return m_steps.empty(); }

 private:
  std::deque<std::function<void(QWidget*)>> m_steps;
  QPointer<QWidget> m_last;
  QTimer m_timer;
};

std::vector<std::string> ButtonTexts(QMessageBox* box) {
  std::vector<std::string> texts;
  for (QAbstractButton* b : box->buttons())
    texts.push_back(box->buttonRole(b) == QMessageBox::YesRole ? "Yes" : b->text().remove('&').toStdString());
  std::sort(texts.begin(), texts.end());
  return texts;
}

class ScriptDialogs : public ::testing::Test {
 protected:
  void SetUp() override { StartForms(); }
  void TearDown() override { StopForms(); }
  support::TempDir dir;
};

}  // namespace

TEST_F(ScriptDialogs, MessageAndInputBoxesFromAScriptThread) {
  std::vector<std::string> buttons;
  CDialogDriver driver({
      [&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->windowTitle().toStdString(), "Confirmation");
        buttons = ButtonTexts(box);
        Screenshot(box, "dialog_messagedlg");
        box->button(QMessageBox::No)->click();
      },
      [&](QWidget* w) {
        auto* dlg = qobject_cast<QInputDialog*>(w);
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(dlg->textValue().toStdString(), "old");
        dlg->setTextValue("new value");
        Screenshot(dlg, "dialog_inputquery");
        dlg->accept();
      },
      [](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); },  // InputBox cancelled: its default
      [](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text().toStdString(), "Done: 7");
        box->accept();
      },
  });
  CScriptRun run(dir,
                 "program p;\nvar s: String; ok: Boolean;\nbegin\n"
                 "  Output.writeln(MessageDlg('Go on?', mtConfirmation, [mbYes, mbNo], 0));\n"
                 "  s := 'old';\n  ok := InputQuery('Name', 'Your name:', s);\n"
                 "  if ok then Output.writeln('1 ' + s);\n"
                 "  Output.writeln(InputBox('Name', 'Again:', 'fallback'));\n"
                 "  ShowMessage('Done: ' + IntToStr(7));\nend.\n");
  EXPECT_EQ(run.Finish(), (std::vector<std::string>{"7", "1 new value", "fallback", "ok."}));
  EXPECT_EQ(buttons, (std::vector<std::string>{"No", "Yes"}));
  EXPECT_TRUE(driver.Done());
}

TEST_F(ScriptDialogs, FileAndFindDialogObjects) {
  const std::string chosen = dir.Write("data.txt", "x");
  CDialogDriver driver({
      [&](QWidget* w) {
        auto* dlg = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(dlg->windowTitle().toStdString(), "Pick one");
        EXPECT_EQ(dlg->nameFilters(), (QStringList{"Text files (*.txt)", "All files (*)"}));
        // typed into the name field: the folder listing may still be loading
        auto* name = dlg->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        name->setText(QString::fromStdString(chosen));
        Screenshot(dlg, "dialog_open");
        static_cast<QDialog*>(dlg)->done(QDialog::Accepted);  // accept() may wait for the folder listing
      },
      [](QWidget* w) {
        auto* find = w->findChild<QLineEdit*>("FindText");
        auto* replace = w->findChild<QLineEdit*>("ReplaceText");
        ASSERT_NE(find, nullptr);
        ASSERT_NE(replace, nullptr);
        EXPECT_EQ(find->text().toStdString(), "needle");
        replace->setText("thread");
        qobject_cast<QDialog*>(w)->accept();
      },
  });
  CScriptRun run(dir,
                 "program p;\nvar d: TOpenDialog; r: TReplaceDialog; files: TStringList;\nbegin\n"
                 "  d := TOpenDialog.Create(nil);\n  d.Title := 'Pick one';\n"
                 "  d.Filter := 'Text files|*.txt|All files|*';\n  d.InitialDir := '" +
                     dir.Path() +
                     "';\n"
                     "  if d.Execute = 1 then Output.writeln(d.FileName);\n"
                     "  files := d.Files;\n  Output.writeln(files.Count);\n"
                     "  r := TReplaceDialog.Create(nil);\n  r.FindText := 'needle';\n"
                     "  if r.Execute = 1 then Output.writeln(r.FindText + ' -> ' + r.ReplaceText);\nend.\n");
  EXPECT_EQ(run.Finish(), (std::vector<std::string>{chosen, "1", "needle -> thread", "ok."}));
  EXPECT_TRUE(driver.Done());
}

TEST_F(ScriptDialogs, AHandlerWaitingInADialogIsNotARunaway) {
  const char* form = "object Form1: TForm1\n  object Button1: TButton\n    OnClick = Button1Click\n  end\nend\n";
  const char* script =
      "program TFORM1;\nprocedure Button1Click(Sender: TObject);\nbegin\n"
      "  if MessageDlg('Sure?', mtWarning, [mbOK, mbCancel], 0) = mrOk then Self.Caption := 'sure';\n"
      "end;\nbegin end.\n";
  SetHandlerTimeLimit(100);
  TForm& f = *RunForm(WriteForm(dir, "Wait", form, script));
  bool answered = false;
  // answered well after the handler's time limit: the time in the dialog does not count
  QTimer::singleShot(600, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box) box->button(QMessageBox::Ok)->click();
    answered = box != nullptr;
  });
  qobject_cast<QAbstractButton*>(Component(f, "Button1").Widget())->click();
  SetHandlerTimeLimit(10000);
  EXPECT_TRUE(answered);
  EXPECT_EQ(f.Caption(), "sure");
  EXPECT_TRUE(Messages().empty()) << Messages().front();
}
