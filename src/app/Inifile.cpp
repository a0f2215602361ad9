// TIniFile: a small INI store that keeps the file's own layout; every change is saved at once.
#include "app/Inifile.h"

#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

namespace {

constexpr std::uintmax_t kMaxFileBytes = 16u * 1024u * 1024u;  // a settings file is tiny; ignore the rest

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// Names come partly from the instrument (layout keys); characters that would break the line structure
// are replaced, the same way on reading and on writing, so that lookups still match.
std::string CleanKey(const std::string& key) {
  std::string k = Trim(key);
  for (char& c : k)
    if (c == '=' || c == '\r' || c == '\n') c = '_';
  if (!k.empty() && (k[0] == ';' || k[0] == '[' || k[0] == '#')) k[0] = '_';
  return k;
}

std::string CleanSection(const std::string& section) {
  std::string s = Trim(section);
  for (char& c : s)
    if (c == ']' || c == '\r' || c == '\n') c = '_';
  return s;
}

std::string CleanValue(const std::string& value) {
  std::string v = value;
  for (char& c : v)
    if (c == '\r' || c == '\n') c = ' ';
  return Trim(v);
}

}  // namespace

TIniFile::TIniFile(std::filesystem::path path) : m_path(std::move(path)) { Load(); }

bool TIniFile::ParseInteger(const std::string& text, int32_t& out) {
  std::string t = Trim(text);
  if (t.empty()) return false;
  size_t i = (t[0] == '-' || t[0] == '+') ? 1 : 0;
  if (i == t.size()) return false;
  for (size_t j = i; j < t.size(); ++j)
    if (!std::isdigit(static_cast<unsigned char>(t[j]))) return false;
  errno = 0;
  long long v = std::strtoll(t.c_str(), nullptr, 10);
  if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return false;
  out = static_cast<int32_t>(v);
  return true;
}

void TIniFile::Load() {
  m_lines.clear();
  std::ifstream f(m_path, std::ios::binary);
  if (!f) return;  // a missing file is an empty store
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(m_path, ec);
  std::string text(ec ? 0 : static_cast<size_t>(std::min(size, kMaxFileBytes)), '\0');
  f.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(f.gcount()));
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string t = Trim(line);
    if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
      m_lines.push_back({TLine::Section, Trim(t.substr(1, t.size() - 2)), {}});
      continue;
    }
    size_t eq = t.find('=');
    if (eq != std::string::npos && eq > 0 && t[0] != ';' && t[0] != '#') {
      m_lines.push_back({TLine::Entry, Trim(t.substr(0, eq)), Trim(t.substr(eq + 1))});
      continue;
    }
    m_lines.push_back({TLine::Other, {}, line});
  }
}

void TIniFile::Save() {
  std::ostringstream out;
  for (const TLine& l : m_lines) {
    if (l.kind == TLine::Section)
      out << '[' << l.name << "]\n";
    else if (l.kind == TLine::Entry)
      out << l.name << '=' << l.value << '\n';
    else
      out << l.value << '\n';
  }
  // Write a sibling file and rename it, so that a failed write never leaves half a settings file.
  std::filesystem::path tmp = m_path;
  tmp += ".tmp";
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    f << out.str();
    f.flush();
    m_lastWriteOk = static_cast<bool>(f);
  }
  std::error_code ec;
  if (m_lastWriteOk) std::filesystem::rename(tmp, m_path, ec);
  if (!m_lastWriteOk || ec) {
    m_lastWriteOk = false;
    std::filesystem::remove(tmp, ec);
  }
}

int TIniFile::FindSection(const std::string& section) const {
  const std::string s = CleanSection(section);
  for (size_t i = 0; i < m_lines.size(); ++i)
    if (m_lines[i].kind == TLine::Section && SameName(m_lines[i].name, s)) return static_cast<int>(i);
  return -1;
}

int TIniFile::SectionEnd(int header) const {
  size_t i = static_cast<size_t>(header) + 1;
  while (i < m_lines.size() && m_lines[i].kind != TLine::Section) ++i;
  return static_cast<int>(i);
}

int TIniFile::FindEntry(const std::string& section, const std::string& key) const {
  int h = FindSection(section);
  if (h < 0) return -1;
  const std::string k = CleanKey(key);
  for (int i = h + 1, end = SectionEnd(h); i < end; ++i)
    if (m_lines[i].kind == TLine::Entry && SameName(m_lines[i].name, k)) return i;
  return -1;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) const {
  int i = FindEntry(section, key);
  return i < 0 ? def : m_lines[i].value;
}

int32_t TIniFile::ReadInteger(const std::string& section, const std::string& key, int32_t def) const {
  int i = FindEntry(section, key);
  int32_t v = def;
  if (i < 0 || !ParseInteger(m_lines[i].value, v)) return def;
  return v;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  const std::string v = CleanValue(value);
  int i = FindEntry(section, key);
  if (i >= 0) {
    m_lines[i].value = v;
  } else {
    int h = FindSection(section);
    if (h < 0) {
      m_lines.push_back({TLine::Section, CleanSection(section), {}});
      m_lines.push_back({TLine::Entry, CleanKey(key), v});
    } else {
      // after the section's last entry, so that blank lines between sections stay where they are
      int pos = SectionEnd(h);
      while (pos > h + 1 && m_lines[pos - 1].kind == TLine::Other && Trim(m_lines[pos - 1].value).empty()) --pos;
      m_lines.insert(m_lines.begin() + pos, {TLine::Entry, CleanKey(key), v});
    }
  }
  Save();
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void TIniFile::EraseSection(const std::string& section) {
  int h = FindSection(section);
  if (h < 0) return;
  m_lines.erase(m_lines.begin() + h, m_lines.begin() + SectionEnd(h));
  Save();
}

bool TIniFile::SectionExists(const std::string& section) const { return FindSection(section) >= 0; }

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
  return FindEntry(section, key) >= 0;
}

std::vector<std::string> TIniFile::ReadSection(const std::string& section) const {
  std::vector<std::string> keys;
  int h = FindSection(section);
  if (h < 0) return keys;
  for (int i = h + 1, end = SectionEnd(h); i < end; ++i)
    if (m_lines[i].kind == TLine::Entry) keys.push_back(m_lines[i].name);
  return keys;
}

std::filesystem::path MorventFilePath(const std::filesystem::path& exeDir, const std::string& fileName) {
  const std::filesystem::path beside = exeDir / fileName;
  std::error_code ec;
  const bool exists = std::filesystem::exists(beside, ec);
  // Writing goes through a sibling file and a rename, so the folder itself must be writable. An installed
  // program's folder (/usr/bin) is no place for a user's files even where it can be written (as root); an
  // installation is known by its desktop entry under the prefix.
  const bool installed = !exeDir.empty() && std::filesystem::exists(exeDir / MORVENT_INSTALLED_MARKER, ec);
  if (!exeDir.empty() && !installed && ::access(exeDir.c_str(), W_OK) == 0 &&
      (!exists || ::access(beside.c_str(), W_OK) == 0))
    return beside;
  std::filesystem::path base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
    base = xdg;
  else if (const char* home = std::getenv("HOME"); home && *home)
    base = std::filesystem::path(home) / ".config";
  else
    base = std::filesystem::temp_directory_path(ec);
  const std::filesystem::path dir = base / "Morvent";
  std::filesystem::create_directories(dir, ec);
  return dir / fileName;
}
