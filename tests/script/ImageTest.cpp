// The program image: written by the compiler, read back by TBinProg; damaged images are refused.
#include <gtest/gtest.h>

#include <cstring>

#include "ScriptTestUtil.h"

namespace {
void PutInt(std::string& s, int32_t v) {
  char b[4];
  std::memcpy(b, &v, 4);
  s.append(b, 4);
}

// An image by hand: constants (already encoded), labels, instructions (a, b, op).
std::string Image(const std::string& consts, int nconst, const std::vector<int>& labels,
                  const std::vector<TProgItem>& code) {
  std::string s;
  PutInt(s, nconst);
  s += consts;
  PutInt(s, static_cast<int32_t>(labels.size()));
  for (int l : labels) PutInt(s, l);
  PutInt(s, static_cast<int32_t>(code.size()));
  for (const auto& c : code) {
    PutInt(s, c.a);
    PutInt(s, c.b);
    PutInt(s, c.op);
  }
  return s;
}

std::string LoadError(const std::string& image) {
  try {
    TBinProg p(image);
  } catch (const ECompilerError& e) {
    return e.what();
  }
  return "";
}
}  // namespace

TEST(Image, WrittenAndReadBack) {
  const std::string longText(300, 'q');
  const std::string image = CompileImage("program P; begin Print(42); Print(2.5); Print('txt'); Print(False); Print('" +
                                         longText + "') end.");
  TBinProg prog(image);
  std::vector<std::string> kinds;
  for (const TValue& v : prog.Constants()) kinds.push_back(TValue::KindName(v.Kind()));
  EXPECT_EQ(kinds, (std::vector<std::string>{"Integer", "Double", "String", "Boolean", "String"}));
  // strings longer than 255 characters keep their full length
  EXPECT_EQ(prog.Constants()[4].StrVal(), longText);
  // the same image again gives the same program
  TBinProg again(image);
  EXPECT_EQ(again.CodeCount(), prog.CodeCount());
  for (int i = 0; i < prog.CodeCount(); ++i) {
    EXPECT_EQ(again.Code(i).op, prog.Code(i).op);
    EXPECT_EQ(again.Code(i).a, prog.Code(i).a);
    EXPECT_EQ(again.Code(i).b, prog.Code(i).b);
  }
  PrintLog().clear();
  TStopFlag stop{'R'};
  again.Run(stop, nullptr);
  EXPECT_EQ(PrintLog(), (std::vector<std::string>{"42", "2.5", "txt", "False", longText}));
}

TEST(Image, HandMadeImagesRun) {
  // s0 := 5; s0 := s0 + s0; stop
  std::string consts;
  consts += char(1);
  PutInt(consts, 5);
  TBinProg prog(Image(consts, 1, {}, {{ocLoadConst, 0, 0}, {ocAdd, 0, 0}, {ocStop, 0, 0}}));
  TStopFlag stop{'R'};
  prog.Run(stop, nullptr);
  EXPECT_EQ(prog.Slot(0).AsInteger(), 10);
  EXPECT_EQ(prog.Slot(1).AsInteger(), 0);  // every slot starts as the integer 0
  EXPECT_GE(prog.SlotCount(), HAL_SLOTS);
  // running off the end stops
  TBinProg open(Image(consts, 1, {}, {{ocLoadConst, 0, 0}}));
  open.Run(stop, nullptr);
  EXPECT_EQ(open.Slot(0).AsInteger(), 5);
  // The line marker and the add run as one fused instruction: a run may start at it, not inside it
  // (the plain code may).
  TBinProg fused(Image(consts, 1, {}, {{ocLoadConst, 0, 0}, {ocLine, 3, 0}, {ocAdd, 0, 0}, {ocStop, 0, 0}}));
  fused.RunFrom(1, stop, nullptr);
  EXPECT_EQ(fused.Slot(0).AsInteger(), 0);
  try {
    fused.RunFrom(2, stop, nullptr);
    ADD_FAILURE() << "ran from inside a fused instruction";
  } catch (const ECompilerError& e) {
    EXPECT_STREQ(e.what(), "Damaged program image");
  }
  fused.RunFrom(0, stop, nullptr);
  fused.SetFusion(false);
  fused.RunFrom(2, stop, nullptr);
  EXPECT_EQ(fused.Slot(0).AsInteger(), 20);
}

TEST(Image, DamagedImagesAreRefused) {
  std::string bad;
  bad += char(9);
  EXPECT_EQ(LoadError(Image(bad, 1, {}, {})), "Unknown reader type");
  EXPECT_EQ(LoadError("abc"), "Damaged program image");
  EXPECT_EQ(LoadError(Image("", 0, {}, {{ocCopy, 5, 999999999}})), "Damaged program image");
  EXPECT_EQ(LoadError(Image("", 0, {}, {{ocJump, 3, 0}})), "Damaged program image");
  EXPECT_EQ(LoadError(Image("", 0, {7}, {{ocJump, 0, 0}})), "Damaged program image");
  EXPECT_EQ(LoadError(Image("", 0, {}, {{ocLoadConst, 0, 4}})), "Damaged program image");
  EXPECT_EQ(LoadError(Image("", 0, {}, {{ocStoreElem, 0, 0}})), "Damaged program image");  // operand word missing
  // every field the instruction table marks as a slot, label or constant is checked
  EXPECT_EQ(LoadError(Image("", 0, {}, {{ocJumpFalse, 0, 3}, {ocStop, 0, 0}})), "Damaged program image");
  EXPECT_EQ(LoadError(Image("", 0, {}, {{ocEntry, 2, 0}, {ocStop, 0, 0}})), "Damaged program image");
  EXPECT_EQ(LoadError(Image("", 0, {}, {{ocNeg, -1, 0}, {ocStop, 0, 0}})), "Damaged program image");
  EXPECT_EQ(LoadError(Image("", 0, {}, {{ocLoadExt, 0, 0}, {ocOperand, -5, 0}, {ocStop, 0, 0}})),
            "Damaged program image");
  std::string hugeCount;
  PutInt(hugeCount, 0x7FFFFFFF);
  EXPECT_EQ(LoadError(hugeCount), "Damaged program image");
  // an invalid op code is reported when it is reached
  TBinProg prog(Image("", 0, {}, {{ocLine, 3, 0}, {77, 0, 0}}));
  TStopFlag stop{'R'};
  try {
    prog.Run(stop, nullptr);
    FAIL();
  } catch (const ECompilerError& e) {
    EXPECT_STREQ(e.what(), "Invalid opcode");
  }
}

TEST(Image, LoadTimeCodesAreNoInstructionsOfAnImage) {
  // fused instructions carry fields the loader does not check, the operand filler is never run,
  // and codes outside the table must not index it: all of them are invalid when reached
  for (int32_t op : {int32_t(ocOperand), int32_t(ocFCopy), int32_t(ocFAdd), int32_t(ocJLt), -1, 256, 1 << 30}) {
    TBinProg prog(Image("", 0, {}, {{op, 999999, 999999}, {ocStop, 0, 0}}));
    TStopFlag stop{'R'};
    try {
      prog.Run(stop, nullptr);
      ADD_FAILURE() << "op " << op << " ran";
    } catch (const ECompilerError& e) {
      EXPECT_STREQ(e.what(), "Invalid opcode") << "op " << op;
    }
  }
}

TEST(Image, ListingNamesTheInstructions) {
  TBinProg prog(CompileImage("program P; var a, b: integer; begin a := 1; b := a + 2 end."));
  const std::string plain = prog.Listing(false);
  EXPECT_EQ(plain.substr(0, plain.find('\n', plain.find('\n') + 1)), "0: Line 1 0 0 0\n1: Jump 0 0 0 0");
  for (const char* name : {"LoadConst", "Copy", "Add", "Stop"})
    EXPECT_NE(plain.find(std::string(": ") + name + " "), std::string::npos) << name;
  // the fused listing shows the one instruction that stands for the four of "b := a + 2"
  EXPECT_NE(prog.Listing(true).find(": FAdd "), std::string::npos);
}
