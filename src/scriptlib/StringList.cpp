// CStringList: line storage with value cells; a sorted list keeps its order on every insertion.
#include "scriptlib/StringList.h"

#include "scriptlib/ListErrors.h"
#include "scriptlib/TextConv.h"

#include <algorithm>
#include <fstream>
#include <sstream>

int CompareListText(std::string_view a, std::string_view b) { return AnsiCompareTextText(a, b); }

void CStringList::Check(int index) const {
  if (index < 0 || index >= Count()) throw EListError::Index(index);
}

const std::string& CStringList::Get(int index) const {
  Check(index);
  return m_lines[static_cast<size_t>(index)].text;
}

void CStringList::Put(int index, std::string text) {
  if (m_sorted) throw EListError("Operation not allowed on sorted list");
  Check(index);
  m_lines[static_cast<size_t>(index)].text = std::move(text);
}

int CStringList::InsertAt(int index, std::string text, std::unique_ptr<TValue> cell) {
  m_lines.insert(m_lines.begin() + index, TLine{std::move(text), std::move(cell)});
  return index;
}

int CStringList::AddLine(std::string text, std::unique_ptr<TValue> cell) {
  if (!m_sorted) return InsertAt(Count(), std::move(text), std::move(cell));
  int at = 0;
  if (Find(text, at)) {
    if (m_duplicates == dupIgnore) return at;
    if (m_duplicates == dupError) throw EListError("String list does not allow duplicates");
    while (at < Count() && CompareListText(m_lines[static_cast<size_t>(at)].text, text) == 0) ++at;
  }
  return InsertAt(at, std::move(text), std::move(cell));
}

int CStringList::Add(std::string text) { return AddLine(std::move(text), nullptr); }

int CStringList::AddObject(std::string text, const TValue& value) {
  return AddLine(std::move(text), std::make_unique<TValue>(value));
}

void CStringList::AddStrings(const CStringList& other) {
  std::vector<TLine> copy;
  for (const TLine& l : other.m_lines)
    copy.push_back(TLine{l.text, l.cell ? std::make_unique<TValue>(*l.cell) : nullptr});
  for (TLine& l : copy) AddLine(std::move(l.text), std::move(l.cell));
}

void CStringList::Insert(int index, std::string text) {
  if (m_sorted) throw EListError("Operation not allowed on sorted list");
  if (index < 0 || index > Count()) throw EListError::Index(index);
  InsertAt(index, std::move(text), nullptr);
}

void CStringList::Delete(int index) {
  Check(index);
  m_lines.erase(m_lines.begin() + index);
}

void CStringList::Exchange(int a, int b) {
  Check(a);
  Check(b);
  std::swap(m_lines[static_cast<size_t>(a)], m_lines[static_cast<size_t>(b)]);
}

void CStringList::Move(int from, int to) {
  if (from == to) return;
  Check(from);
  Check(to);
  TLine line = std::move(m_lines[static_cast<size_t>(from)]);
  m_lines.erase(m_lines.begin() + from);
  m_lines.insert(m_lines.begin() + to, std::move(line));
}

bool CStringList::Equals(const CStringList& other) const {
  if (Count() != other.Count()) return false;
  for (int i = 0; i < Count(); ++i)
    if (m_lines[static_cast<size_t>(i)].text != other.m_lines[static_cast<size_t>(i)].text) return false;
  return true;
}

int CStringList::IndexOf(std::string_view text) const {
  if (m_sorted) {
    int at = 0;
    return Find(text, at) ? at : -1;
  }
  for (int i = 0; i < Count(); ++i)
    if (CompareListText(m_lines[static_cast<size_t>(i)].text, text) == 0) return i;
  return -1;
}

std::string CStringList::Name(int index) const {
  const std::string& t = Get(index);
  size_t eq = t.find('=');
  return eq == std::string::npos ? std::string() : t.substr(0, eq);
}

int CStringList::IndexOfName(std::string_view name) const {
  for (int i = 0; i < Count(); ++i) {
    const std::string& t = m_lines[static_cast<size_t>(i)].text;
    size_t eq = t.find('=');
    if (eq != std::string::npos && CompareListText(std::string_view(t).substr(0, eq), name) == 0) return i;
  }
  return -1;
}

int CStringList::IndexOfObject(const TValue& value) const {
  for (int i = 0; i < Count(); ++i) {
    const TValue* c = m_lines[static_cast<size_t>(i)].cell.get();
    if (!c || c->Kind() != value.Kind()) continue;
    if (c->IsString() ? c->StrVal() == value.StrVal() : (!c->IsArray() && c->Bits() == value.Bits())) return i;
  }
  return -1;
}

std::string CStringList::Value(std::string_view name) const {
  int i = IndexOfName(name);
  if (i < 0) return {};
  const std::string& t = m_lines[static_cast<size_t>(i)].text;
  return t.substr(t.find('=') + 1);
}

// Writing an empty value removes the line; a sorted list re-sorts the changed line.
void CStringList::SetValue(std::string_view name, std::string_view value) {
  int i = IndexOfName(name);
  std::string line = std::string(name) + "=" + std::string(value);
  if (value.empty()) {
    if (i >= 0) Delete(i);
  } else if (i < 0) {
    Add(line);
  } else if (m_sorted) {
    std::unique_ptr<TValue> cell = std::move(m_lines[static_cast<size_t>(i)].cell);
    Delete(i);
    AddLine(line, std::move(cell));
  } else {
    m_lines[static_cast<size_t>(i)].text = line;
  }
}

TValue CStringList::Object(int index) {
  Check(index);
  std::unique_ptr<TValue>& cell = m_lines[static_cast<size_t>(index)].cell;
  if (!cell) cell = std::make_unique<TValue>();
  return *cell;
}

void CStringList::SetObject(int index, const TValue& value) {
  Check(index);
  std::unique_ptr<TValue>& cell = m_lines[static_cast<size_t>(index)].cell;
  if (!cell) cell = std::make_unique<TValue>();
  *cell = value;
}

const TValue* CStringList::CellIfAny(int index) const {
  Check(index);
  return m_lines[static_cast<size_t>(index)].cell.get();
}

// Binary search for the first line not less than text; works as intended on sorted lists only,
// so an unsorted list is searched line by line and reports Count as the insertion point.
bool CStringList::Find(std::string_view text, int& index) const {
  if (!m_sorted) {
    for (int i = 0; i < Count(); ++i)
      if (CompareListText(m_lines[static_cast<size_t>(i)].text, text) == 0) return index = i, true;
    index = Count();
    return false;
  }
  auto it = std::lower_bound(m_lines.begin(), m_lines.end(), text,
                             [](const TLine& l, std::string_view t) { return CompareListText(l.text, t) < 0; });
  index = static_cast<int>(it - m_lines.begin());
  return it != m_lines.end() && CompareListText(it->text, text) == 0;
}

void CStringList::Sort() {
  std::stable_sort(m_lines.begin(), m_lines.end(),
                   [](const TLine& a, const TLine& b) { return CompareListText(a.text, b.text) < 0; });
}

void CStringList::SetSorted(bool sorted) {
  if (sorted && !m_sorted) Sort();
  m_sorted = sorted;
}

std::string CStringList::Text() const {
  std::string s;
  for (const TLine& l : m_lines) s += l.text + "\n";
  return s;
}

void CStringList::SetText(std::string_view text) {
  Clear();
  size_t p = 0;
  while (p < text.size()) {
    size_t e = text.find_first_of("\r\n", p);
    if (e == std::string_view::npos) e = text.size();
    Add(std::string(text.substr(p, e - p)));
    if (e < text.size() && text[e] == '\r' && e + 1 < text.size() && text[e + 1] == '\n') ++e;
    p = e + 1;
  }
}

// A line is quoted when it is empty or holds a blank, the delimiter, a quote or a control character.
std::string CStringList::DelimitedText(char delimiter, char quote) const {
  std::string out;
  for (size_t i = 0; i < m_lines.size(); ++i) {
    const std::string& t = m_lines[i].text;
    bool needs = t.empty() || std::any_of(t.begin(), t.end(), [&](char c) {
                   return static_cast<unsigned char>(c) <= ' ' || c == delimiter || c == quote;
                 });
    if (i > 0) out += delimiter;
    if (!needs) {
      out += t;
      continue;
    }
    out += quote;
    for (char c : t) {
      if (c == quote) out += quote;
      out += c;
    }
    out += quote;
  }
  return out;
}

// Items are split at the delimiter and at blanks outside quotes; a doubled quote inside quotes is one.
void CStringList::SetDelimitedText(std::string_view text, char delimiter, char quote) {
  Clear();
  size_t p = 0;
  auto skipBlanks = [&] {
    while (p < text.size() && static_cast<unsigned char>(text[p]) <= ' ') ++p;
  };
  skipBlanks();
  while (p < text.size()) {
    std::string item;
    if (text[p] == quote) {
      ++p;
      while (p < text.size()) {
        if (text[p] == quote) {
          if (p + 1 < text.size() && text[p + 1] == quote) {
            item += quote;
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        item += text[p++];
      }
    } else {
      while (p < text.size() && text[p] != delimiter && static_cast<unsigned char>(text[p]) > ' ') item += text[p++];
    }
    Add(item);
    skipBlanks();
    if (p < text.size() && text[p] == delimiter) {
      ++p;
      skipBlanks();
      if (p >= text.size()) Add("");
    }
  }
}

void CStringList::LoadFromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EFileError("Cannot open file \"" + path + "\"");
  std::ostringstream all;
  all << in.rdbuf();
  SetText(all.str());
}

void CStringList::SaveToFile(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw EFileError("Cannot create file \"" + path + "\"");
  for (const TLine& l : m_lines) out << l.text << "\r\n";
  if (!out.flush()) throw EFileError("Cannot write file \"" + path + "\"");
}
