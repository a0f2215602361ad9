// Script forms: one form of many component kinds loaded from its text and its binary file into the
// same components; its script reading and writing properties from handlers that clicks, typing and a
// timer fire; the routine key rule across instances; modal forms run from a script thread; a runaway
// handler stopped by the watchdog while the program goes on.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include "FormFixture.h"
#include "forms/Formwatch.h"

using namespace formtest;

namespace {

const char* kForm = R"(object Form1: TForm1
  Left = 120
  Top = 90
  ClientWidth = 400
  ClientHeight = 330
  Caption = 'Sample form'
  Font.Name = 'DejaVu Sans'
  Font.Height = -12
  OnCreate = FormCreate
  object Label1: TLabel
    Left = 8
    Top = 10
    Width = 150
    Height = 16
    Caption = 'Name:'
    Font.Style = [fsBold]
  end
  object Edit1: TEdit
    Left = 8
    Top = 30
    Width = 150
    Height = 24
    OnChange = Edit1Change
  end
  object Button1: TButton
    Left = 170
    Top = 29
    Width = 90
    Height = 26
    Caption = 'Add'
    OnClick = Button1Click
  end
  object ListBox1: TListBox
    Left = 8
    Top = 62
    Width = 150
    Height = 80
    Items.Strings = (
      'alpha'
      'beta')
    OnClick = ListBox1Click
  end
  object CheckBox1: TCheckBox
    Left = 170
    Top = 62
    Width = 120
    Height = 20
    Caption = 'Keep going'
    Checked = True
    Tag = 7
  end
  object GroupBox1: TGroupBox
    Left = 170
    Top = 86
    Width = 220
    Height = 56
    Caption = 'Speed'
    object RadioButton1: TRadioButton
      Left = 10
      Top = 22
      Width = 80
      Height = 20
      Caption = 'Fast'
      Checked = True
    end
    object RadioButton2: TRadioButton
      Left = 110
      Top = 22
      Width = 80
      Height = 20
      Caption = 'Slow'
    end
  end
  object Panel1: TPanel
    Left = 8
    Top = 150
    Width = 382
    Height = 28
    Caption = 'Ready'
    Color = clYellow
  end
  object ProgressBar1: TProgressBar
    Left = 8
    Top = 184
    Width = 382
    Height = 14
    Position = 40
  end
  object ComboBox1: TComboBox
    Left = 8
    Top = 204
    Width = 150
    Height = 24
    Items.Strings = (
      'one'
      'two')
    Text = 'two'
  end
  object Memo1: TMemo
    Left = 170
    Top = 204
    Width = 220
    Height = 40
    Lines.Strings = (
      'first line'
      'second line')
  end
  object PageControl1: TPageControl
    Left = 8
    Top = 250
    Width = 382
    Height = 74
    ActivePage = TabSheet2
    object TabSheet1: TTabSheet
      Caption = 'Notes'
    end
    object TabSheet2: TTabSheet
      Caption = 'Grid'
      object StringGrid1: TStringGrid
        Left = 2
        Top = 2
        Width = 300
        Height = 40
        ColCount = 3
        RowCount = 2
        DefaultRowHeight = 18
      end
    end
  end
  object Timer1: TTimer
    Enabled = False
    Interval = 10
    OnTimer = Timer1Timer
  end
  object Image1: TImage
    Left = 300
    Top = 8
    Width = 90
    Height = 18
    OnDragDrop = Image1DragDrop
  end
end
)";

const char* kScript = R"(program TFORM1;
var clicks, changes, ticks: Integer;

procedure FormCreate(Sender: TObject);
begin
  StringGrid1.Cells[0, 0] := 'Key';
  StringGrid1.Cells[1, 1] := 'cell ' + IntToStr(ListBox1.Items.Count);
end;

procedure Edit1Change(Sender: TObject);
begin
  changes := changes + 1;
end;

procedure Button1Click(Sender: TObject);
begin
  clicks := clicks + 1;
  ListBox1.Items.Add(Edit1.Text);
  ListBox1.ItemIndex := ListBox1.Items.Count - 1;
  Label1.Caption := 'Clicks: ' + IntToStr(clicks) + ', changes: ' + IntToStr(changes);
  Label1.Font.Size := 14;
  Button1.Left := Button1.Left + 10;
  Button1.Width := 100;
  CheckBox1.Checked := not CheckBox1.Checked;
  RadioButton2.Checked := True;
  ProgressBar1.Position := ProgressBar1.Position + 20 + CheckBox1.Tag;
  Memo1.Lines.Add('clicked by ' + Sender.ClassName);
  ComboBox1.ItemIndex := 0;
  Panel1.Color := clLime;
  GroupBox1.Enabled := False;
  Edit1.Visible := False;
  Self.Caption := 'Clicked';
  Timer1.Enabled := True;
end;

procedure ListBox1Click(Sender: TObject);
begin
  Panel1.Caption := 'Picked ' + ListBox1.Items.Strings[ListBox1.ItemIndex];
end;

procedure Timer1Timer(Sender: TObject);
begin
  ticks := ticks + 1;
  if ticks = 3 then
  begin
    Timer1.Enabled := False;
    if Edit1.Visible then Panel1.Caption := 'visible' else Panel1.Caption := 'Ticks: ' + IntToStr(ticks) + ', hidden';
  end;
end;

begin
end.
)";

class ScriptForms : public ::testing::Test {
 protected:
  void SetUp() override { StartForms(); }
  void TearDown() override { StopForms(); }
  support::TempDir dir;
};

struct Snapshot {
  std::string className, name;
  int left, top, width, height;
  std::string text;
  bool hidden;
  std::string font;
  std::vector<std::string> bridges;
};

std::vector<Snapshot> SnapshotOf(TForm& form) {
  std::vector<Snapshot> all;
  auto add = [&all](TComponent& c) {
    Snapshot s{c.ClassName(), c.Name, -1, -1, -1, -1, "", false, "", {}};
    if (QWidget* w = c.Widget()) {
      const QRect r = w->isWindow() ? QRect(QPoint(), w->size()) : w->geometry();
      s.left = r.x(), s.top = r.y(), s.width = r.width(), s.height = r.height();
      s.text = static_cast<TControl&>(c).Caption();
      s.hidden = w->isHidden();
      s.font = w->font().toString().toStdString();
    }
    for (const auto& [event, bridge] : c.Bridges) s.bridges.push_back(event + "=" + bridge->HandlerName());
    all.push_back(s);
  };
  add(form);
  for (const auto& c : form.Components) add(*c);
  return all;
}

}  // namespace

TEST_F(ScriptForms, TextAndBinaryFormFilesLoadTheSameComponents) {
  support::TempDir binDir;
  TForm& text = *RunForm(WriteForm(dir, "Sample", kForm, kScript));
  TForm& binary = *RunForm(WriteForm(binDir, "Sample", kForm, kScript, true));
  EXPECT_EQ(text.Name, "Form1");
  EXPECT_EQ(binary.Name, "Form1_1");  // a second instance gets a name of its own
  EXPECT_EQ(text.ClassName(), "TForm1");

  const std::vector<Snapshot> a = SnapshotOf(text), b = SnapshotOf(binary);
  ASSERT_EQ(a.size(), 19u);
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 1; i < a.size(); ++i) {
    SCOPED_TRACE(a[i].name);
    EXPECT_EQ(a[i].className, b[i].className);
    EXPECT_EQ(a[i].name, b[i].name);
    EXPECT_EQ(std::tie(a[i].left, a[i].top, a[i].width, a[i].height),
              std::tie(b[i].left, b[i].top, b[i].width, b[i].height));
    EXPECT_EQ(a[i].text, b[i].text);
    EXPECT_EQ(a[i].font, b[i].font);
    EXPECT_EQ(a[i].bridges, b[i].bridges);
  }
  // positions in pixels as written; properties, fonts and bindings as written
  EXPECT_EQ(text.Widget()->size(), QSize(400, 330));
  EXPECT_EQ(WidgetOf<QPushButton>(text, "Button1")->geometry(), QRect(170, 29, 90, 26));
  EXPECT_EQ(WidgetOf<QRadioButton>(text, "RadioButton2")->parentWidget(), WidgetOf<QGroupBox>(text, "GroupBox1"));
  EXPECT_TRUE(WidgetOf<QLabel>(text, "Label1")->font().bold());
  EXPECT_EQ(WidgetOf<QLabel>(text, "Label1")->font().pixelSize(), 12);
  EXPECT_EQ(WidgetOf<QListWidget>(binary, "ListBox1")->count(), 2);
  EXPECT_EQ(WidgetOf<QPlainTextEdit>(binary, "Memo1")->toPlainText().toStdString(), "first line\nsecond line");
  EXPECT_EQ(WidgetOf<QComboBox>(binary, "ComboBox1")->currentText().toStdString(), "two");
  EXPECT_TRUE(WidgetOf<QCheckBox>(binary, "CheckBox1")->isChecked());
  EXPECT_EQ(WidgetOf<QProgressBar>(binary, "ProgressBar1")->value(), 40);
  EXPECT_EQ(a[1].bridges, (std::vector<std::string>{}));
  EXPECT_EQ(a[0].bridges, (std::vector<std::string>{"ONCREATE=FormCreate"}));
  EXPECT_EQ(b[3].bridges, (std::vector<std::string>{"ONCLICK=Button1Click"}));
  // a data-set style event type that is not registered stays empty
  EXPECT_TRUE(Component(text, "Image1").Bridges.count("ONDRAGDROP"));  // registered: bound

  // OnCreate ran once in each; the page control shows the sheet the file names
  auto* grid = WidgetOf<QTableWidget>(binary, "StringGrid1");
  ASSERT_NE(grid->item(1, 1), nullptr);
  EXPECT_EQ(grid->item(1, 1)->text().toStdString(), "cell 2");
  ASSERT_TRUE(support::WaitFor([&] { return WidgetOf<QTabWidget>(text, "PageControl1")->currentIndex() == 1; }));
  EXPECT_TRUE(Messages().empty()) << Messages().front();
  Screenshot(text.Widget(), "form_loaded");
}

TEST_F(ScriptForms, HandlersReadAndWritePropertiesWhenEventsFire) {
  TForm& form = *RunForm(WriteForm(dir, "Sample", kForm, kScript));
  QTest::keyClicks(WidgetOf<QLineEdit>(form, "Edit1"), "gamma");
  QTest::mouseClick(WidgetOf<QPushButton>(form, "Button1"), Qt::LeftButton);
  EXPECT_TRUE(Messages().empty()) << Messages().front();

  EXPECT_EQ(WidgetOf<QLabel>(form, "Label1")->text().toStdString(), "Clicks: 1, changes: 5");
  EXPECT_EQ(WidgetOf<QLabel>(form, "Label1")->font().pointSize(), 14);
  auto* list = WidgetOf<QListWidget>(form, "ListBox1");
  ASSERT_EQ(list->count(), 3);
  EXPECT_EQ(list->item(2)->text().toStdString(), "gamma");
  EXPECT_EQ(list->currentRow(), 2);
  EXPECT_EQ(WidgetOf<QPushButton>(form, "Button1")->geometry(), QRect(180, 29, 100, 26));
  EXPECT_FALSE(WidgetOf<QCheckBox>(form, "CheckBox1")->isChecked());
  EXPECT_TRUE(WidgetOf<QRadioButton>(form, "RadioButton2")->isChecked());
  EXPECT_FALSE(WidgetOf<QRadioButton>(form, "RadioButton1")->isChecked());
  EXPECT_EQ(WidgetOf<QProgressBar>(form, "ProgressBar1")->value(), 67);
  EXPECT_EQ(WidgetOf<QPlainTextEdit>(form, "Memo1")->toPlainText().toStdString(),
            "first line\nsecond line\nclicked by TBUTTON");
  EXPECT_EQ(WidgetOf<QComboBox>(form, "ComboBox1")->currentText().toStdString(), "one");
  EXPECT_FALSE(WidgetOf<QGroupBox>(form, "GroupBox1")->isEnabled());
  EXPECT_EQ(form.Widget()->windowTitle().toStdString(), "Clicked");
  EXPECT_EQ(Component(form, "Panel1").GetProp("Color").AsInteger(), 0x00FF00);

  // the timer the click enabled ticks three times, then stops itself
  ASSERT_TRUE(support::WaitFor([&] { return Component(form, "Panel1").GetProp("Caption").AsString() != "Ready"; }));
  EXPECT_EQ(Component(form, "Panel1").GetProp("Caption").AsString(), "Ticks: 3, hidden");
  EXPECT_FALSE(Component(form, "Timer1").GetProp("Enabled").AsBoolean());

  // clicking a list item fires its handler with the item picked
  QListWidget* lw = list;
  const QRect itemRect = lw->visualItemRect(lw->item(0));
  QTest::mouseClick(lw->viewport(), Qt::LeftButton, {}, itemRect.center());
  EXPECT_EQ(Component(form, "Panel1").GetProp("Caption").AsString(), "Picked alpha");
  Screenshot(form.Widget(), "form_after_click");
}

TEST_F(ScriptForms, HandlerErrorsAndTheDefaultCloseAction) {
  const char* form =
      "object Form1: TForm1\n  ClientWidth = 200\n  ClientHeight = 80\n"
      "  object Button1: TButton\n    OnClick = Missing\n  end\n"
      "  object Button2: TButton\n    Top = 30\n    OnClick = Bad\n  end\nend\n";
  const char* script =
      "program TFORM1;\nprocedure Bad(Sender: TObject);\nvar L: TStringList;\nbegin\n  L.Add('x')\nend;\n"
      "begin end.\n";
  TForm& f = *RunForm(WriteForm(dir, "Errors", form, script));
  QTest::mouseClick(WidgetOf<QPushButton>(f, "Button1"), Qt::LeftButton);
  QTest::mouseClick(WidgetOf<QPushButton>(f, "Button2"), Qt::LeftButton);
  EXPECT_EQ(Messages(), (std::vector<std::string>{"Procedure TFORM1.MISSING not found",
                                                  "Runtime error line 5: Invalid or uninitialized object used"}));

  // a form without a script: shown with every event property cleared
  support::TempDir plain;
  TForm& bare = *RunForm(WriteForm(plain, "Bare", form, ""));
  EXPECT_TRUE(Component(bare, "Button1").Bridges.empty());
  EXPECT_EQ(TFormList::Instance().Count(), 2);

  // closing frees the form (its components answer no more)
  const TObjHandle button = Component(f, "Button1").Handle();
  f.Widget()->close();
  ASSERT_TRUE(support::WaitFor([] { return TFormList::Instance().Count() == 1; }));
  EXPECT_EQ(FindLiveObject(button), nullptr);
}

TEST_F(ScriptForms, RunFormModalFromAScriptThreadGivesTheModalResult) {
  const char* form =
      "object Ask: TAsk\n  ClientWidth = 220\n  ClientHeight = 70\n  Caption = 'Question'\n"
      "  object Edit1: TEdit\n    Left = 8\n    Top = 8\n    Width = 200\n  end\n"
      "  object OkButton: TButton\n    Left = 8\n    Top = 40\n    Caption = 'OK'\n    ModalResult = 1\n"
      "    OnClick = OkClick\n  end\nend\n";
  const std::string file = WriteForm(dir, "Ask", form,
                                     "program TASK;\nprocedure OkClick(Sender: TObject);\n"
                                     "begin Edit1.Text := 'done' end;\nbegin end.\n");
  CScriptRun run(dir, "program p;\nvar r: Integer;\nbegin\n  r := RunFormModal('" + file +
                          "');\n  Output.writeln('result ' + IntToStr(r));\n"
                          "  Output.writeln(RunFormMacro('" +
                          file + "', True));\nend.\n");
  // the script waits in its synchronised call while the form runs modally here; the modal loop runs
  // inside this thread's event processing, so the form is answered from a timer
  int round = 0;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    const auto forms = TFormList::Instance().Forms();
    if (forms.size() != 1 || !forms[0]->Modal() || !forms[0]->Widget()->isVisible()) return;
    TForm& ask = *forms[0];
    if (round++ == 0) {
      Screenshot(ask.Widget(), "form_modal");
      QTest::mouseClick(WidgetOf<QPushButton>(ask, "OkButton"), Qt::LeftButton);
    } else {
      ask.Widget()->close();  // closed without a result: cancelled
    }
  });
  answer.start(20);
  EXPECT_EQ(run.Finish(), (std::vector<std::string>{"result 1", "2", "ok."}));
  EXPECT_EQ(round, 2);
  EXPECT_EQ(TFormList::Instance().Count(), 0);
}

TEST_F(ScriptForms, ARunawayHandlerIsStoppedAndTheProgramGoesOn) {
  SetHandlerTimeLimit(300);
  const char* form =
      "object Form1: TForm1\n  object Loop: TButton\n    OnClick = LoopClick\n  end\n"
      "  object Wait: TButton\n    Top = 30\n    OnClick = WaitClick\n  end\n"
      "  object Fine: TButton\n    Top = 60\n    OnClick = FineClick\n  end\nend\n";
  const char* script =
      "program TFORM1;\nvar n: Integer;\n"
      "procedure LoopClick(Sender: TObject);\nbegin\n  while True do n := n + 1;\nend;\n"
      "procedure WaitClick(Sender: TObject);\nbegin\n  Sleep(100000);\nend;\n"
      "procedure FineClick(Sender: TObject);\nbegin\n  Self.Caption := 'still here';\nend;\n"
      "begin end.\n";
  TForm& f = *RunForm(WriteForm(dir, "Runaway", form, script));
  QTest::mouseClick(WidgetOf<QPushButton>(f, "Loop"), Qt::LeftButton);
  QTest::mouseClick(WidgetOf<QPushButton>(f, "Wait"), Qt::LeftButton);
  QTest::mouseClick(WidgetOf<QPushButton>(f, "Fine"), Qt::LeftButton);
  SetHandlerTimeLimit(10000);
  EXPECT_EQ(Messages(),
            (std::vector<std::string>{"Event handler TFORM1.LOOPCLICK stopped: it ran longer than 300 ms",
                                      "Event handler TFORM1.WAITCLICK stopped: it ran longer than 300 ms"}));
  EXPECT_EQ(f.Caption(), "still here");
}

TEST_F(ScriptForms, BadFormFilesAreRunTimeErrorsOfTheScript) {
  const std::string broken =
      WriteForm(dir, "Broken", "object Form1: TForm1\n  object X: TNoSuchThing\n  end\nend\n", "");
  const std::string badScript =
      WriteForm(dir, "BadScript", "object Form1: TForm1\nend\n", "program TFORM1;\nbegin x := end.\n");
  CScriptRun run(dir, "program p;\nbegin\n  RunFormMacro('" + broken + "', False);\nend.\n");
  EXPECT_EQ(run.Finish(), (std::vector<std::string>{"Runtime error line 3: Class TNoSuchThing not found"}));
  CScriptRun run2(dir, "program p;\nbegin\n  RunForm('" + badScript + "');\nend.\n");
  const auto lines = run2.Finish();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("Runtime error line 3: Syntax error line 2", 0), 0u) << lines[0];
  CScriptRun run3(dir, "program p;\nbegin\n  RunFormMacro('notes.txt', False);\nend.\n");
  EXPECT_EQ(run3.Finish(), (std::vector<std::string>{"Runtime error line 3: Unknown macro type NOTES.TXT"}));
  EXPECT_EQ(TFormList::Instance().Count(), 0);
}

TEST_F(ScriptForms, DialogComponentsAndCallEvent) {
  const char* form =
      "object Form1: TForm1\n  object OpenDialog1: TOpenDialog\n    Title = 'From the form'\n"
      "    Filter = 'Text|*.txt'\n  end\n  object Button1: TButton\n    OnClick = Button1Click\n  end\nend\n";
  const char* script =
      "program TFORM1;\nprocedure Button1Click(Sender: TObject);\nbegin\n"
      "  Self.Caption := OpenDialog1.Title + ' ' + OpenDialog1.Filter + ' ' + Sender.ClassName;\nend;\n"
      "procedure Echo(Sender: TObject; var S: String);\nbegin\n  S := S + '!' + Sender.ClassName;\nend;\n"
      "begin end.\n";
  TForm& f = *RunForm(WriteForm(dir, "Dialogs", form, script));
  QTest::mouseClick(WidgetOf<QPushButton>(f, "Button1"), Qt::LeftButton);
  EXPECT_EQ(f.Caption(), "From the form Text|*.txt TBUTTON");
  EXPECT_TRUE(IsQuilletForm(&f));
  EXPECT_FALSE(IsQuilletForm(&Component(f, "Button1")));
  TValue args[1] = {TValue("hi")};
  CallEvent(Component(f, "Button1"), "Echo", 1, args);
  EXPECT_EQ(args[0].AsString(), "hi!TBUTTON");
  EXPECT_TRUE(Messages().empty()) << Messages().front();
}

TEST_F(ScriptForms, KeyAndMouseEventsCarryTheirArgumentsBothWays) {
  const char* form =
      "object Form1: TForm1\n  ClientWidth = 200\n  ClientHeight = 100\n"
      "  object Edit1: TEdit\n    Width = 150\n    OnKeyPress = Edit1KeyPress\n    OnKeyDown = Edit1KeyDown\n  end\n"
      "  object Panel1: TPanel\n    Top = 40\n    Width = 150\n    Height = 50\n    OnMouseDown = Panel1MouseDown\n  "
      "end\nend\n";
  const char* script =
      "program TFORM1;\n"
      "procedure Edit1KeyPress(Sender: TObject; var Key: String);\nbegin\n"
      "  if Key = 'a' then Key := 'b';\n  if Key = 'x' then Key := '';\nend;\n"
      "procedure Edit1KeyDown(Sender: TObject; var Key: Integer; Shift: Integer);\nbegin\n"
      "  if Key = 90 then Key := 0;\nend;\n"
      "procedure Panel1MouseDown(Sender: TObject; Button, Shift, X, Y: Integer);\nbegin\n"
      "  Panel1.Caption := IntToStr(Button) + ' ' + IntToStr(Shift) + ' ' + IntToStr(X) + ' ' + IntToStr(Y);\nend;\n"
      "begin end.\n";
  TForm& f = *RunForm(WriteForm(dir, "Keys", form, script));
  auto* edit = WidgetOf<QLineEdit>(f, "Edit1");
  QTest::keyClicks(edit, "axczd");  // a becomes b, x is taken away by KeyPress, z (90) by KeyDown
  EXPECT_EQ(edit->text().toStdString(), "bcd");
  QTest::mouseClick(Component(f, "Panel1").Widget(), Qt::RightButton, Qt::ShiftModifier, QPoint(5, 7));
  EXPECT_EQ(Component(f, "Panel1").GetProp("Caption").AsString(), "1 17 5 7");  // ssShift and ssRight
  EXPECT_TRUE(Messages().empty()) << Messages().front();
}

// The program ends while a handler waits in a modal form it opened: the waiting form goes first, the
// form whose handler runs goes once the handler has returned (its program is still needed till then).
TEST_F(ScriptForms, ClosingEverythingWhileAHandlerWaitsInAModalForm) {
  const std::string inner = WriteForm(dir, "Inner", "object Inner: TInner\n  Caption = 'inner'\nend\n", "");
  const std::string outer = WriteForm(
      dir, "Outer", "object Outer: TOuter\n  object Button1: TButton\n    OnClick = Button1Click\n  end\nend\n",
      "program TOUTER;\nprocedure Button1Click(Sender: TObject);\nvar r: Integer;\nbegin\n  r := RunFormModal('" +
          inner +
          "');\n  Self.Caption := 'after ' + IntToStr(r);\n  Button1.Caption := Self.Caption;\nend;\nbegin end.\n");
  TForm& f = *RunForm(outer);
  QPointer<QWidget> button = Component(f, "Button1").Widget();
  bool closedAll = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    const auto forms = TFormList::Instance().Forms();
    if (closedAll || forms.size() != 2 || !forms[1]->Modal()) return;
    closedAll = true;
    TFormList::Instance().CloseAll();
    EXPECT_EQ(TFormList::Instance().Count(), 1);  // the busy one stays for now, hidden
  });
  poll.start(20);
  QTest::mouseClick(qobject_cast<QPushButton*>(button.data()), Qt::LeftButton);
  EXPECT_TRUE(closedAll);
  ASSERT_TRUE(support::WaitFor([] { return TFormList::Instance().Count() == 0; }));
  EXPECT_TRUE(button.isNull());
  EXPECT_TRUE(Messages().empty()) << Messages().front();
}
