// CStringList and CValueList: sorting, duplicates, names and values, comma text, value cells.
#include "ScriptTestSupport.h"
#include "scriptlib/ListErrors.h"
#include "scriptlib/StringList.h"
#include "scriptlib/ValueList.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

namespace {

std::string Lines(const CStringList& l) {
  std::string s;
  for (int i = 0; i < l.Count(); ++i) s += (i ? "|" : "") + l.Get(i);
  return s;
}

TEST(StringList, SortedListKeepsOrderAndHonoursDuplicates) {
  CStringList l;
  l.SetSorted(true);
  l.Add("pear");
  l.Add("Apple");
  l.Add("banana");
  EXPECT_EQ(Lines(l), "Apple|banana|pear");
  EXPECT_EQ(l.Add("APPLE"), 0);  // dupIgnore: the existing index, nothing added
  EXPECT_EQ(l.Count(), 3);
  l.SetDuplicates(dupAccept);
  l.Add("apple");
  EXPECT_EQ(Lines(l), "Apple|apple|banana|pear");
  l.SetDuplicates(dupError);
  EXPECT_THROW(l.Add("Pear"), EListError);
  int at = -1;
  EXPECT_TRUE(l.Find("BANANA", at));
  EXPECT_EQ(at, 2);
  EXPECT_FALSE(l.Find("cherry", at));
  EXPECT_EQ(at, 3);  // the insertion point
  EXPECT_THROW(l.Insert(0, "x"), EListError);
  EXPECT_THROW(l.Put(0, "x"), EListError);
}

TEST(StringList, SortingLaterIsStableAndCaseInsensitive) {
  CStringList l;
  for (const char* s : {"b", "B", "a", "c", "A"}) l.Add(s);
  l.Sort();
  EXPECT_EQ(Lines(l), "a|A|b|B|c");
  CStringList u;
  u.Add("x");
  u.Add("y");
  int at = 0;
  EXPECT_TRUE(u.Find("Y", at));  // unsorted: searched line by line
  EXPECT_EQ(at, 1);
  EXPECT_FALSE(u.Find("z", at));
  EXPECT_EQ(at, 2);
}

TEST(StringList, NamesAndValues) {
  CStringList l;
  l.Add("host=alpha");
  l.Add("plain");
  l.Add("Port=9100");
  EXPECT_EQ(l.Name(0), "host");
  EXPECT_EQ(l.Name(1), "");
  EXPECT_EQ(l.Value("PORT"), "9100");
  EXPECT_EQ(l.IndexOfName("port"), 2);
  l.SetValue("port", "23");
  EXPECT_EQ(l.Get(2), "port=23");
  l.SetValue("mode", "raw");
  EXPECT_EQ(l.Get(3), "mode=raw");
  l.SetValue("host", "");
  EXPECT_EQ(Lines(l), "plain|port=23|mode=raw");
  EXPECT_EQ(l.Value("missing"), "");
}

TEST(StringList, ValuesOnASortedListKeepItSorted) {
  CStringList l;
  l.SetSorted(true);
  l.Add("b=2");
  l.Add("c=3");
  l.AddObject("a=1", TValue(10));
  l.SetValue("a", "9");  // still first: the changed line is put back in order with its cell
  EXPECT_EQ(Lines(l), "a=9|b=2|c=3");
  EXPECT_EQ(l.Object(0).AsInteger(), 10);
  l.SetValue("aa", "0");
  EXPECT_EQ(Lines(l), "a=9|aa=0|b=2|c=3");
}

TEST(StringList, CommaTextQuotesWhatNeedsIt) {
  CStringList l;
  l.Add("a");
  l.Add("b c");
  l.Add("");
  l.Add("say \"hi\"");
  l.Add("x,y");
  EXPECT_EQ(l.CommaText(), "a,\"b c\",\"\",\"say \"\"hi\"\"\",\"x,y\"");
  CStringList r;
  r.SetCommaText(l.CommaText());
  EXPECT_EQ(Lines(r), Lines(l));
  r.SetCommaText("one two,\"three four\" , ,five,");
  EXPECT_EQ(Lines(r), "one|two|three four||five|");
  r.SetDelimitedText("a;'b;c'", ';', '\'');
  EXPECT_EQ(Lines(r), "a|b;c");
}

TEST(StringList, TextSplitsEveryLineBreakKind) {
  CStringList l;
  l.SetText("a\r\nb\nc\rd");
  EXPECT_EQ(Lines(l), "a|b|c|d");
  EXPECT_EQ(l.Text(), "a\nb\nc\nd\n");
  l.SetText("");
  EXPECT_EQ(l.Count(), 0);
}

TEST(StringList, ValueCellsAttachOnReadAndTravelWithTheirLines) {
  CStringList l;
  l.Add("one");
  l.AddObject("two", TValue(2));
  EXPECT_EQ(l.CellIfAny(0), nullptr);
  EXPECT_TRUE(l.Object(0).IsEmpty());
  EXPECT_NE(l.CellIfAny(0), nullptr);  // reading attached an empty cell
  l.SetObject(0, TValue("x"));
  l.Exchange(0, 1);
  EXPECT_EQ(l.Object(0).AsInteger(), 2);
  EXPECT_EQ(l.Object(1).AsString(), "x");
  EXPECT_EQ(l.IndexOfObject(TValue("x")), 1);
  EXPECT_EQ(l.IndexOfObject(TValue(3)), -1);
  CStringList copy;
  copy.AddStrings(l);
  copy.SetObject(0, TValue(99));
  EXPECT_EQ(l.Object(0).AsInteger(), 2);  // cells are copied, never shared
  l.Move(0, 1);
  EXPECT_EQ(Lines(l), "one|two");
  EXPECT_TRUE(l.Equals(copy) == false);
  EXPECT_THROW(l.Get(2), EListError);
  EXPECT_THROW(l.Delete(-1), EListError);
}

TEST(StringList, FilesUseCrLfAndMissingFilesRaise) {
  std::string path = TempPath("strlist_test.txt");
  CStringList l;
  l.Add("alpha");
  l.Add("beta");
  l.SaveToFile(path);
  std::ifstream in(path, std::ios::binary);
  std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(raw, "alpha\r\nbeta\r\n");
  CStringList r;
  r.LoadFromFile(path);
  EXPECT_EQ(Lines(r), "alpha|beta");
  std::remove(path.c_str());
  EXPECT_THROW(r.LoadFromFile(path), EFileError);
  EXPECT_THROW(r.SaveToFile("/nonexistent-dir/x.txt"), EFileError);
}

TEST(ValueList, CopiesInAndOutAndChecksIndexes) {
  CValueList v;
  EXPECT_EQ(v.Add(TValue("a")), 0);
  EXPECT_EQ(v.Add(TValue(2)), 1);
  v.Insert(0, TValue(1.5));
  EXPECT_DOUBLE_EQ(v.First().AsReal(), 1.5);
  EXPECT_EQ(v.Last().AsInteger(), 2);
  v.SetItem(1, TValue("b"));
  EXPECT_EQ(v.Item(1).AsString(), "b");
  EXPECT_EQ(v.Item(2).AsInteger(), 2);
  v.Move(2, 0);
  v.Exchange(1, 2);
  EXPECT_EQ(v.Item(0).AsInteger(), 2);
  EXPECT_EQ(v.Item(1).AsString(), "b");
  v.SetCount(5);
  EXPECT_TRUE(v.Item(4).IsEmpty());  // new items hold empty cells
  v.SetCount(1);
  EXPECT_EQ(v.Count(), 1);
  EXPECT_THROW(v.Item(1), EListError);
  EXPECT_THROW(v.SetCount(-1), EListError);
  EXPECT_THROW(v.SetCount(1LL << 40), EListError);
  v.Clear();
  EXPECT_THROW(v.First(), EListError);
}

}  // namespace
