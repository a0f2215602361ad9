// The value type: operator categories, conversions, text forms, arrays and object references.
#include <gtest/gtest.h>

#include <thread>

#include "ScriptTestUtil.h"

namespace {
TValue Op(int op, TValue l, const TValue& r) {
  ValueBinary(op, l, r);
  return l;
}
std::string Show(const TValue& v) { return std::string(TValue::KindName(v.Kind())) + ":" + v.AsString(); }
}  // namespace

TEST(Value, IntegerArithmeticAndOverflow) {
  EXPECT_EQ(Show(Op(voAdd, 2, 3)), "Integer:5");
  EXPECT_EQ(Show(Op(voAdd, 2147483647, 1)), "Double:2147483648");
  EXPECT_EQ(Show(Op(voSub, -2147483647 - 1, 1)), "Double:-2147483649");
  EXPECT_EQ(Show(Op(voMul, 65536, 65536)), "Double:4294967296");
  EXPECT_EQ(Show(Op(voDiv, 7, 2)), "Double:3.5");
  EXPECT_EQ(Show(Op(voIntDiv, 7, 2)), "Integer:3");
  // div and mod truncate toward zero
  EXPECT_EQ(Show(Op(voIntDiv, -7, 2)), "Integer:-3");
  EXPECT_EQ(Show(Op(voMod, -7, 2)), "Integer:-1");
  EXPECT_EQ(Show(Op(voMod, 7, -2)), "Integer:1");
  EXPECT_EQ(Show(Op(voShl, 1, 4)), "Integer:16");
  EXPECT_EQ(Show(Op(voShr, -1, 28)), "Integer:15");
  EXPECT_EQ(Show(Op(voAnd, 12, 10)), "Integer:8");
  EXPECT_EQ(Show(Op(voOr, 12, 10)), "Integer:14");
  EXPECT_EQ(Show(Op(voXor, 12, 10)), "Integer:6");
  EXPECT_THROW(Op(voIntDiv, 1, 0), EVariantError);
  EXPECT_THROW(Op(voMod, 1, 0), EVariantError);
  EXPECT_EQ(Show(Op(voMod, -2147483647 - 1, -1)), "Integer:0");
}

TEST(Value, RealsStringsAndBooleans) {
  EXPECT_EQ(Show(Op(voMod, 5.0, 3)), "Integer:2");
  EXPECT_EQ(Show(Op(voAdd, 1.5, 2)), "Double:3.5");
  EXPECT_EQ(Show(Op(voAdd, TValue("a"), TValue("b"))), "String:ab");
  EXPECT_EQ(Show(Op(voAdd, TValue("2"), 3)), "Double:5");
  EXPECT_EQ(Show(Op(voMul, TValue("2.5"), TValue("2"))), "Double:5");
  EXPECT_THROW(Op(voAdd, TValue("x"), 3), EVariantError);
  EXPECT_THROW(Op(voAdd, TValue(), 3), EVariantError);
  EXPECT_TRUE(Op(voAdd, TValue::Null(), 3).IsNull());
  // True is -1 as an integer
  EXPECT_EQ(Show(Op(voAdd, true, 1)), "Integer:0");
  EXPECT_EQ(Show(Op(voAnd, true, false)), "Boolean:False");
  EXPECT_EQ(Show(Op(voXor, true, false)), "Boolean:True");
  EXPECT_EQ(Show(Op(voOr, TValue("True"), false)), "Boolean:True");
}

TEST(Value, NotAndNegate) {
  TValue v(int32_t(5));
  ValueNot(v);
  EXPECT_EQ(Show(v), "Integer:-6");
  TValue b(true);
  ValueNot(b);
  EXPECT_EQ(Show(b), "Boolean:False");
  TValue m(int32_t(-2147483647 - 1));
  ValueNegate(m);
  EXPECT_EQ(Show(m), "Double:2147483648");
  TValue e;
  EXPECT_THROW(ValueNegate(e), EVariantError);
}

TEST(Value, Comparisons) {
  EXPECT_TRUE(ValueCompare(voLt, TValue("ABC"), TValue("ABD")));
  EXPECT_TRUE(ValueCompare(voLt, TValue("AB"), TValue("ABC")));  // a proper prefix is smaller
  EXPECT_TRUE(ValueCompare(voLt, TValue("Z"), TValue("a")));     // case matters
  EXPECT_TRUE(ValueCompare(voEq, 2, 2.0));
  EXPECT_TRUE(ValueCompare(voLt, true, false));  // -1 < 0
  EXPECT_THROW(ValueCompare(voEq, TValue(), TValue()), EVariantError);
  EXPECT_TRUE(ValueEquals(TValue::Null(), TValue::Null()));
}

TEST(Value, ConversionsAndText) {
  EXPECT_EQ(TValue(2.5).AsInteger(), 2);  // halves to even
  EXPECT_EQ(TValue(3.5).AsInteger(), 4);
  EXPECT_EQ(TValue(-2.5).AsInteger(), -2);
  EXPECT_THROW(TValue(3e9).AsInteger(), EVariantError);
  EXPECT_EQ(TValue(true).AsInteger(), -1);
  EXPECT_EQ(TValue("  42 ").AsInteger(), 42);
  EXPECT_EQ(TValue("$FF").AsInteger(), 255);
  EXPECT_DOUBLE_EQ(TValue("1.25").AsReal(), 1.25);
  EXPECT_THROW(TValue("1,25").AsReal(), EVariantError);
  EXPECT_THROW(TValue("nan").AsReal(), EVariantError);
  EXPECT_EQ(FloatToStrValue(0.1), "0.1");
  EXPECT_EQ(FloatToStrValue(1.0 / 3.0), "0.333333333333333");
  EXPECT_EQ(FloatToStrValue(2.0 / 3.0), "0.666666666666667");
  EXPECT_EQ(FloatToStrValue(100.0), "100");
  EXPECT_EQ(FloatToStrValue(-1.5), "-1.5");
  EXPECT_EQ(FloatToStrValue(1e15), "1E15");
  EXPECT_EQ(FloatToStrValue(123456789012345.0), "123456789012345");
  EXPECT_EQ(FloatToStrValue(0.00001), "0.00001");
  EXPECT_EQ(FloatToStrValue(0.000001), "1E-6");
  EXPECT_EQ(FloatToStrValue(1.5e20), "1.5E20");
  EXPECT_EQ(TValue(true).AsString(), "True");
  EXPECT_EQ(TValue().AsString(), "");
}

TEST(Value, StringsShareBuffersAndArraysCopyOnWrite) {
  TValue a(std::string(1000, 'x'));
  TValue b = a;
  EXPECT_EQ(&a.StrVal(), &b.StrVal());  // shared, not copied
  // a text grows in place only while nobody else holds it
  ValueBinary(voAdd, a, TValue("y"));
  EXPECT_EQ(b.StrVal(), std::string(1000, 'x'));
  EXPECT_EQ(a.StrVal(), std::string(1000, 'x') + "y");
  const std::string* own = &a.StrVal();
  ValueBinary(voAdd, a, a);
  EXPECT_EQ(&a.StrVal(), own);
  EXPECT_EQ(a.StrVal(), std::string(1000, 'x') + "y" + std::string(1000, 'x') + "y");
  TValue arr = TValue::OpenArray({TValue(int32_t(1)), TValue("two"), TValue(3.0)});
  TValue copy = arr;
  copy.SetItem(1, TValue("changed"));
  EXPECT_EQ(arr.Item(1).AsInteger(), 1);
  EXPECT_EQ(copy.Item(1).AsString(), "changed");
  std::vector<std::string> texts;
  int n = 0;
  VarToStringS(arr, texts, n);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(texts, (std::vector<std::string>{"1", "two", "3"}));
  EXPECT_THROW(arr.Item(9), EVariantError);
  EXPECT_THROW(TValue(1).Item(0), EVariantError);
  // a claimed count larger than the array is cut to what is there
  TValue bad = TValue::NewArray(0, 2);
  bad.SetItem(0, TValue(int32_t(50)));
  EXPECT_EQ(OpenArrayCount(bad), 2);
}

// Texts made on one thread are dropped by two others while it makes more (short texts' buffers
// are kept per thread for reuse): every value keeps its own text throughout.
TEST(Value, ThreadedTextsDroppedOnOtherThreadsStayApart) {
  auto text = [](size_t i) { return std::to_string(i) + (i % 3 ? "" : std::string(40, 'x')); };
  std::vector<TValue> made(30000);
  for (int round = 0; round < 3; ++round) {
    for (size_t i = 0; i < made.size(); ++i) made[i] = TValue(text(i));
    std::vector<TValue> kept(made.begin(), made.begin() + 100);  // shared with this thread
    auto drop = [&](size_t from) {
      for (size_t i = from; i < made.size(); i += 2) made[i] = TValue();
    };
    std::thread even(drop, 0), odd(drop, 1);
    std::vector<TValue> fresh;
    for (size_t i = 0; i < 5000; ++i) fresh.emplace_back(std::to_string(i) + "f");
    even.join();
    odd.join();
    for (size_t i = 0; i < kept.size(); ++i) ASSERT_EQ(kept[i].StrVal(), text(i));
    for (size_t i = 0; i < fresh.size(); ++i) ASSERT_EQ(fresh[i].StrVal(), std::to_string(i) + "f");
  }
}

TEST(Value, ObjectReferences) {
  int thing = 0;
  const TObjHandle h = RegisterLiveObject(&thing, "TStringList");
  ASSERT_NE(h, 0u);
  EXPECT_EQ(RegisterLiveObject(&thing, "TStringList"), h);  // same address, same handle
  const TValue ref = ObjToVar(h);
  EXPECT_EQ(VarToObj(ref), h);
  EXPECT_EQ(VarToObj(TValue(static_cast<int32_t>(h))), h);  // the integer form of named objects
  EXPECT_FALSE(ValueEquals(ref, TValue(int32_t(0))));       // differs from Nil
  EXPECT_EQ(VarToObj(ObjToVar(0)), 0u);
  EXPECT_EQ(LiveObjectAs<int>(ref, "TStrings"), &thing);  // through the parent chain
  EXPECT_THROW(LiveObjectAs<int>(ref, "TObjectList"), ERunTimeError);
  UnregisterLiveObject(&thing);
  try {
    TestValidObject(h);
    FAIL() << "a freed object was accepted";
  } catch (const ERunTimeError& e) {
    EXPECT_STREQ(e.what(), "Invalid or uninitialized object used");
  }
  EXPECT_THROW(TestValidObject(0), ERunTimeError);
  EXPECT_THROW(TestValidObject(0xDEADBEEF), ERunTimeError);
  // a new registration of the same address gets a new handle: the stale one stays refused
  const TObjHandle h2 = RegisterLiveObject(&thing, "TStringList");
  EXPECT_NE(h2, h);
  EXPECT_EQ(FindLiveObject(h), nullptr);
  UnregisterLiveObject(&thing);
}

TEST(Value, ScriptObjectsRegisterForTheirLifetime) {
  struct TThing : TScriptObject {
    TThing() : TScriptObject("TStringList") {}
    int payload = 7;
  };
  TObjHandle h;
  {
    TThing t;
    h = t.Handle();
    EXPECT_EQ(ScriptObjectAs<TThing>(h, "TObject")->payload, 7);
    EXPECT_EQ(LiveObjectClass(h), "TSTRINGLIST");
  }
  EXPECT_THROW(ScriptObjectAs<TThing>(h), ERunTimeError);
  EXPECT_TRUE(HostClassIs("TStringList", "TPersistent"));
  EXPECT_EQ(GetPearent("TStringList"), "TSTRINGS");
  EXPECT_EQ(GetPearent("TObject"), "");
  EXPECT_EQ(GetPearent("TNoSuchClass"), "");
}
