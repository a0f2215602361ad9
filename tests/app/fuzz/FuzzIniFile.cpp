// Fuzz target of the settings-file reader: any file loads; reading every section and key found gives
// the same answers after a write saved the file and it was read again (the format survives a save),
// and the value written reads back. The file lives in a temporary folder of its own.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/Inifile.h"

namespace fs = std::filesystem;

namespace {
class CFuzzFolder {
 public:
  CFuzzFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/morvent-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    m_path = pattern;
  }
  ~CFuzzFolder() {
    std::error_code ec;
    fs::remove_all(m_path, ec);
  }
  const fs::path& Path() const { return m_path; }

 private:
  fs::path m_path;
};

// Section names as a user would see them in the file.
std::vector<std::string> SectionNames(const std::string& text) {
  std::vector<std::string> names;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const size_t b = line.find('['), e = line.rfind(']');
    if (b != std::string::npos && e != std::string::npos && b < e) names.push_back(line.substr(b + 1, e - b - 1));
  }
  return names;
}

using TSnapshot = std::map<std::string, std::vector<std::pair<std::string, std::string>>>;

TSnapshot Snapshot(const TIniFile& ini, const std::vector<std::string>& sections) {
  TSnapshot s;
  for (const std::string& name : sections) {
    auto& entries = s[name];
    for (const std::string& key : ini.ReadSection(name)) entries.emplace_back(key, ini.ReadString(name, key, "\x01"));
    (void)ini.ReadInteger(name, name, 0);
    (void)ini.ReadBool(name, name, false);
  }
  return s;
}

const std::string kProbeSection = "Fuzz Probe";

std::string Trimmed(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r\n\v\f");
  return b == std::string::npos ? std::string() : s.substr(b, s.find_last_not_of(" \t\r\n\v\f") - b + 1);
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static CFuzzFolder folder;
  const fs::path path = folder.Path() / "Morvent.ini";
  const std::string text(reinterpret_cast<const char*>(data), size);
  {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
  }
  std::vector<std::string> sections;
  for (const std::string& s : SectionNames(text))
    if (!SameText(Trimmed(s), kProbeSection)) sections.push_back(s);
  TIniFile ini(path);
  const TSnapshot before = Snapshot(ini, sections);
  ini.WriteString(kProbeSection, "Key", " written value ");
  if (!ini.LastWriteOk()) std::abort();
  if (ini.ReadString(kProbeSection, "Key", "") != "written value") std::abort();
  TIniFile again(path);
  if (again.ReadString(kProbeSection, "Key", "") != "written value") std::abort();
  if (Snapshot(again, sections) != before) std::abort();
  return 0;
}
