// CValueList: a vector of owned value cells with the list's index checks.
#include "scriptlib/ValueList.h"

#include "scriptlib/ListErrors.h"

void CValueList::Check(int index) const {
  if (index < 0 || index >= Count()) throw EListError::Index(index);
}

void CValueList::SetCount(long long count) {
  if (count < 0 || count > kMaxValueListCount) throw EListError::Count(count);
  size_t old = m_items.size();
  m_items.resize(static_cast<size_t>(count));
  for (size_t i = old; i < m_items.size(); ++i) m_items[i] = std::make_unique<TValue>();
}

int CValueList::Add(const TValue& v) {
  if (Count() >= kMaxValueListCount) throw EListError::Count(Count() + 1LL);
  m_items.push_back(std::make_unique<TValue>(v));
  return Count() - 1;
}

void CValueList::Insert(int index, const TValue& v) {
  if (index < 0 || index > Count()) throw EListError::Index(index);
  if (Count() >= kMaxValueListCount) throw EListError::Count(Count() + 1LL);
  m_items.insert(m_items.begin() + index, std::make_unique<TValue>(v));
}

void CValueList::Delete(int index) {
  Check(index);
  m_items.erase(m_items.begin() + index);
}

void CValueList::Exchange(int a, int b) {
  Check(a);
  Check(b);
  std::swap(m_items[static_cast<size_t>(a)], m_items[static_cast<size_t>(b)]);
}

void CValueList::Move(int from, int to) {
  if (from == to) return;
  Check(from);
  Check(to);
  std::unique_ptr<TValue> item = std::move(m_items[static_cast<size_t>(from)]);
  m_items.erase(m_items.begin() + from);
  m_items.insert(m_items.begin() + to, std::move(item));
}

TValue CValueList::Item(int index) const {
  Check(index);
  return *m_items[static_cast<size_t>(index)];
}

void CValueList::SetItem(int index, const TValue& v) {
  Check(index);
  *m_items[static_cast<size_t>(index)] = v;
}
