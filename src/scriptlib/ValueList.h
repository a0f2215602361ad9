// CValueList: the list behind TOBJECTLIST; every item is a value cell owned by the list, and values
// go in and come out as copies.
#pragma once

#include "script/Value.h"

#include <memory>
#include <vector>

// Counts above this are refused, so that a script cannot ask for unbounded memory.
constexpr int kMaxValueListCount = 1 << 24;

class CValueList {
 public:
  int Count() const { return static_cast<int>(m_items.size()); }
  void SetCount(long long count);  // new items get empty cells
  int Add(const TValue& v);
  void Insert(int index, const TValue& v);
  void Delete(int index);
  void Clear() { m_items.clear(); }
  void Exchange(int a, int b);
  void Move(int from, int to);
  TValue Item(int index) const;
  void SetItem(int index, const TValue& v);
  TValue First() const { return Item(0); }
  TValue Last() const { return Item(Count() - 1); }

 private:
  void Check(int index) const;
  std::vector<std::unique_ptr<TValue>> m_items;
};
