// Form files: the text form and the binary stream read into the same tree; bad input is an error,
// never a crash. The event bridge: the routine key rule, parameters in and var-arguments back.
#include <gtest/gtest.h>

#include "ScriptTestUtil.h"
#include "script/Formfile.h"
#include "script/Halevent.h"

namespace {

const char* kForm = R"(object Form1: TForm1
  Left = 192
  Top = -7
  Caption = 'It''s a form'
  Font.Name = 'Sans'
  Font.Style = [fsBold, fsItalic]
  Scale = 1.25
  Big = 100000
  Huge = 5000000000
  Mask = $FF
  Visible = False
  Text = 'line'#13#10'next' +
    ' joined'
  Data = {0A0B0C}
  OnCreate = FormCreate
  object Panel1: TPanel
    Items.Strings = (
      'alpha'
      'beta')
    Columns = <
      item
        Width = 5
      end
      item[2]
        Title = 'x'
      end>
    object Button1: TButton
      OnClick = Button1Click
    end
  end
  inherited Label1: TLabel [3]
    Empty = []
  end
end
)";

void ExpectSameValue(const TFormValue& a, const TFormValue& b, const std::string& where) {
  ASSERT_EQ(a.kind, b.kind) << where;
  EXPECT_EQ(a.integer, b.integer) << where;
  EXPECT_DOUBLE_EQ(a.real, b.real) << where;
  EXPECT_EQ(a.text, b.text) << where;
  EXPECT_EQ(a.idents, b.idents) << where;
  ASSERT_EQ(a.items.size(), b.items.size()) << where;
  for (size_t i = 0; i < a.items.size(); ++i) ExpectSameValue(a.items[i], b.items[i], where + "[]");
  ASSERT_EQ(a.collection.size(), b.collection.size()) << where;
  for (size_t i = 0; i < a.collection.size(); ++i) {
    EXPECT_EQ(a.collection[i].hasIndex, b.collection[i].hasIndex);
    EXPECT_EQ(a.collection[i].index, b.collection[i].index);
    ASSERT_EQ(a.collection[i].props.size(), b.collection[i].props.size());
    for (size_t j = 0; j < a.collection[i].props.size(); ++j)
      ExpectSameValue(a.collection[i].props[j].value, b.collection[i].props[j].value, where + "<>");
  }
}

void ExpectSameTree(const TFormNode& a, const TFormNode& b) {
  EXPECT_EQ(a.className, b.className);
  EXPECT_EQ(a.name, b.name);
  EXPECT_EQ(a.flags, b.flags);
  EXPECT_EQ(a.childPos, b.childPos);
  ASSERT_EQ(a.props.size(), b.props.size()) << a.name;
  for (size_t i = 0; i < a.props.size(); ++i) {
    EXPECT_EQ(a.props[i].name, b.props[i].name);
    ExpectSameValue(a.props[i].value, b.props[i].value, a.name + "." + a.props[i].name);
  }
  ASSERT_EQ(a.children.size(), b.children.size());
  for (size_t i = 0; i < a.children.size(); ++i) ExpectSameTree(a.children[i], b.children[i]);
}

}  // namespace

TEST(FormFile, TextAndBinaryFormsReadIntoTheSameTree) {
  const TFormNode text = ParseFormText(kForm);
  EXPECT_EQ(text.className, "TForm1");
  EXPECT_EQ(text.name, "Form1");
  ASSERT_EQ(text.props.size(), 13u);
  EXPECT_EQ(text.props[1].value.integer, -7);
  EXPECT_EQ(text.props[2].value.text, "It's a form");
  EXPECT_EQ(text.props[4].value.idents, (std::vector<std::string>{"fsBold", "fsItalic"}));
  EXPECT_EQ(text.props[5].value.kind, TFormValue::TKind::Real);
  EXPECT_EQ(text.props[7].value.integer, 5000000000);
  EXPECT_EQ(text.props[8].value.integer, 255);
  EXPECT_EQ(text.props[10].value.text, "line\r\nnext joined");
  EXPECT_EQ(text.props[11].value.text, "\x0A\x0B\x0C");
  EXPECT_EQ(text.props[12].value.kind, TFormValue::TKind::Ident);
  ASSERT_EQ(text.children.size(), 2u);
  EXPECT_EQ(text.children[0].props[1].value.collection.size(), 2u);
  EXPECT_EQ(text.children[0].children[0].props[0].value.text, "Button1Click");
  EXPECT_EQ(text.children[1].flags, 3);  // inherited, with its child position
  EXPECT_EQ(text.children[1].childPos, 3);

  const std::string bytes = WriteFormStream(text);
  EXPECT_TRUE(IsBinaryForm(bytes));
  EXPECT_EQ(bytes.substr(0, 10), std::string("\xFF\x0A\x00TFORM1\x00", 10));
  ExpectSameTree(text, ReadFormFile(bytes));
  ExpectSameTree(text, ReadFormStream(WriteFormStream(text, false)));  // the stream without its header
  ExpectSameTree(text, ReadFormFile(kForm));
}

TEST(FormFile, BadInputIsAnErrorWithItsPlace) {
  auto errorOf = [](const std::string& bytes) -> std::string {
    try {
      ReadFormFile(bytes);
    } catch (const EFormFileError& e) {
      return e.what();
    }
    return "";
  };
  EXPECT_EQ(errorOf("object A: TForm\n  Caption = 'open\nend\n"), "Form text line 2: unterminated string");
  EXPECT_EQ(errorOf("object A: TForm\n  X = 1\n"), "Form text line 3: identifier expected");
  EXPECT_EQ(errorOf("thing A: TForm end"), "Form text line 1: 'object' expected");
  EXPECT_EQ(errorOf("object A: TForm\n  X = #999\nend"), "Form text line 2: character code expected");
  std::string deep;
  for (int i = 0; i < 300; ++i) deep += "object A: TPanel\n";
  EXPECT_EQ(errorOf(deep), "Form text line 202: objects nested too deeply");

  const std::string good = WriteFormStream(ParseFormText("object A: TForm\n X = 'text'\n object B: TButton end\nend"));
  for (size_t cut = 0; cut < good.size(); ++cut)
    EXPECT_NE(errorOf(good.substr(0, cut)), "") << "cut at " << cut;  // truncated anywhere: refused
  std::string unknown = WriteFormStream(ParseFormText("object A: TForm\n X = 1\nend"), false);
  unknown[4 + 6 + 2 + 2] = 99;  // the value type byte of X (after the signature and three names)
  EXPECT_EQ(errorOf(unknown), "Form stream at byte 14: unknown value type 99");
}

namespace {

// A compiled form program with kept identifiers, run from its routines as the form loader does.
struct FormProgram {
  THalComp comp;
  explicit FormProgram(const std::string& source) {
    comp.SetScriptText(source);
    comp.Compile();
    comp.Runner()->SetKeepIdentifiers(true);
    comp.Runner()->SetCompileOnly(true);
    TStopFlag stop{'R'};
    comp.Run(stop, nullptr);
  }
};

std::vector<std::string>& Boxes() {
  static std::vector<std::string> boxes;
  return boxes;
}

}  // namespace

TEST(FormEvents, RoutineKeyRuleParametersAndVarArgumentsBack) {
  SetHalMessageBox([](const std::string& t) { Boxes().push_back(t); });
  FormProgram p(
      "program TFORM1;\n"
      "procedure CLOSEQUERY(Sender: TObject; var CanClose: Boolean); begin Print(Sender <> 0); CanClose := False end;\n"
      "procedure KEYPRESS(Sender: TObject; var Key: String); begin Print(Key); Key := 'xyz' end;\n"
      "procedure EMPTYKEY(Sender: TObject; var Key: String); begin Key := '' end;\n"
      "procedure MOUSE(Sender: TObject; Button, Shift, X, Y: Integer); begin Print(Button + Shift + X * Y) end;\n"
      "procedure DRAGOVER(Sender, Source: TObject; X, Y, State: Integer; var Accept: Boolean);\n"
      "  begin Accept := X > 5; X := 0 end;\n"
      "procedure HELP(Dummy: TObject; Command, Data: Integer; var CallHelp: Boolean); begin CallHelp := Command = 7 "
      "end;\n"
      "procedure NOPARAMS; begin Print('ran') end;\n"
      "begin Print('main block must not run') end.");
  PrintLog().clear();

  // Form1_12 is an instance of Form1: the key drops the trailing number
  THalEvent query(p.comp.Runner(), "Form1_12", "CloseQuery");
  std::vector<TValue> args{TValue(true)};
  query.Fire(TEventBridge::MCloseQueryEvent, 42, args);
  EXPECT_EQ(query.RoutineKey(), "TFORM1.CLOSEQUERY");
  EXPECT_FALSE(args[0].AsBoolean());

  THalEvent key(p.comp.Runner(), "Form1", "KeyPress");
  args = {TValue("a")};
  key.Fire(TEventBridge::MKeyPressEvent, 42, args);
  EXPECT_EQ(args[0].AsString(), "x");  // only the first character comes back
  THalEvent empty(p.comp.Runner(), "Form1", "EmptyKey");
  empty.Fire(TEventBridge::MKeyPressEvent, 42, args);
  EXPECT_EQ(args[0].AsString(), "");

  THalEvent mouse(p.comp.Runner(), "Form1", "Mouse");
  args = {TValue(int32_t(1)), TValue(int32_t(8)), TValue(int32_t(3)), TValue(int32_t(4))};
  mouse.Fire(TEventBridge::MMouseEvent, 42, args);  // parameters in the event's order
  THalEvent drag(p.comp.Runner(), "Form1", "DragOver");
  args = {ObjToVar(0), TValue(int32_t(9)), TValue(int32_t(1)), TValue(int32_t(0)), TValue(true)};
  drag.Fire(TEventBridge::MDragOverEvent, 42, args);
  EXPECT_TRUE(args[4].AsBoolean());
  EXPECT_EQ(args[1].AsInteger(), 9);  // not a var-argument of the event: not copied back
  THalEvent help(p.comp.Runner(), "Form1", "Help");
  args = {TValue(int32_t(7)), TValue(int32_t(0)), TValue(false)};
  help.Fire(TEventBridge::MHelpEvent, 42, args);
  EXPECT_TRUE(args[2].AsBoolean());
  EXPECT_EQ(PrintLog(), (std::vector<std::string>{"True", "a", "21"}));

  // no Sender parameter: reported, and the routine still runs
  Boxes().clear();
  THalEvent noParams(p.comp.Runner(), "Form1", "NoParams");
  noParams.Fire(TEventBridge::MNotifyEvent, 42, args = {});
  EXPECT_EQ(Boxes(), (std::vector<std::string>{"Parameter TFORM1.NOPARAMS.SENDER not found"}));
  EXPECT_EQ(PrintLog().back(), "ran");
  EXPECT_EQ(noParams.GetParam("TFORM1.NOPARAMS.NOTHING").AsInteger(), 0);

  // a form named Form1_x (not digits) keeps its whole name; a missing routine names the key tried last
  THalEvent missing(p.comp.Runner(), "Form1_2", "Nothing");
  try {
    missing.Fire(TEventBridge::MNotifyEvent, 42, args = {});
    ADD_FAILURE() << "no error";
  } catch (const ERunTimeError& e) {
    EXPECT_STREQ(e.what(), "Procedure TFORM1_2.NOTHING not found");
  }
  THalEvent other(p.comp.Runner(), "Form1_x", "CloseQuery");
  EXPECT_THROW(other.GetProcItem(), ERunTimeError);
  SetHalMessageBox(nullptr);
}

TEST(FormEvents, TheEventTypeTable) {
  EXPECT_TRUE(RegisteredEvent("tnotifyevent"));
  EXPECT_TRUE(RegisteredEvent("TQRPageAvailableEvent"));
  EXPECT_FALSE(RegisteredEvent("TDataSetNotifyEvent"));
  EXPECT_EQ(FindEvent("TKeyEvent")->bridgeClass, "THalEvent");
  MethodNames().Clear();
  EXPECT_EQ(MethodNames().FindMethod("A"), 1);
  EXPECT_EQ(MethodNames().FindMethod("B"), 2);
  EXPECT_EQ(MethodNames().Name(2), "B");
}
