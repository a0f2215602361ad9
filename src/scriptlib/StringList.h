// CStringList: the string list behind TStrings and TStringList. Each line may carry a value cell
// (an owned script value); sorting, duplicates, name=value lines, Text, CommaText and delimited text.
#pragma once

#include "script/Value.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

enum TDuplicates { dupIgnore = 0, dupAccept = 1, dupError = 2 };

class CStringList {
 public:
  struct TLine {
    std::string text;
    std::unique_ptr<TValue> cell;  // the line's value cell, or none
  };

  int Count() const { return static_cast<int>(m_lines.size()); }
  const std::string& Get(int index) const;
  void Put(int index, std::string text);
  int Add(std::string text);
  int AddObject(std::string text, const TValue& value);
  void AddStrings(const CStringList& other);
  void Insert(int index, std::string text);
  void Delete(int index);
  void Clear() { m_lines.clear(); }
  void Exchange(int a, int b);
  void Move(int from, int to);
  bool Equals(const CStringList& other) const;

  int IndexOf(std::string_view text) const;
  int IndexOfName(std::string_view name) const;
  int IndexOfObject(const TValue& value) const;
  std::string Name(int index) const;
  std::string Value(std::string_view name) const;
  void SetValue(std::string_view name, std::string_view value);

  // The line's value: reading attaches an empty cell first when the line has none.
  TValue Object(int index);
  void SetObject(int index, const TValue& value);
  const TValue* CellIfAny(int index) const;

  bool Find(std::string_view text, int& index) const;
  void Sort();
  bool Sorted() const { return m_sorted; }
  void SetSorted(bool sorted);
  TDuplicates Duplicates() const { return m_duplicates; }
  void SetDuplicates(TDuplicates d) { m_duplicates = d; }

  std::string Text() const;             // every line followed by a line feed
  void SetText(std::string_view text);  // splits at CR LF, LF or CR
  std::string CommaText() const { return DelimitedText(',', '"'); }
  void SetCommaText(std::string_view text) { SetDelimitedText(text, ',', '"'); }
  std::string DelimitedText(char delimiter, char quote) const;
  void SetDelimitedText(std::string_view text, char delimiter, char quote);

  void LoadFromFile(const std::string& path);      // raises EFileError when it cannot be read
  void SaveToFile(const std::string& path) const;  // lines ended by CR LF

 private:
  void Check(int index) const;
  int InsertAt(int index, std::string text, std::unique_ptr<TValue> cell);
  int AddLine(std::string text, std::unique_ptr<TValue> cell);

  std::vector<TLine> m_lines;
  bool m_sorted = false;
  TDuplicates m_duplicates = dupIgnore;
};

// Case-insensitive comparison used by sorting, Find and IndexOf.
int CompareListText(std::string_view a, std::string_view b);
