// TIniFile: the settings file "Morvent.ini", read and written so that its format stays as users know it
// (sections and keys in their order, values unquoted, every write saved at once). Free of Qt.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

class TIniFile {
 public:
  explicit TIniFile(std::filesystem::path path);

  const std::filesystem::path& Path() const { return m_path; }
  // False after the last write could not be saved; the values stay in memory all the same.
  bool LastWriteOk() const { return m_lastWriteOk; }

  std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
  // Decimal integer in 32-bit range; a missing key or a value that is no such number gives def.
  int32_t ReadInteger(const std::string& section, const std::string& key, int32_t def) const;
  // Any integer other than 0 is true; a missing or non-numeric value gives def.
  bool ReadBool(const std::string& section, const std::string& key, bool def) const;

  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int32_t value);
  void WriteBool(const std::string& section, const std::string& key, bool value);

  void EraseSection(const std::string& section);
  bool SectionExists(const std::string& section) const;
  bool ValueExists(const std::string& section, const std::string& key) const;
  std::vector<std::string> ReadSection(const std::string& section) const;  // keys in file order

  // Converts a whole text to a 32-bit decimal integer (blanks around it allowed); false if it is none.
  static bool ParseInteger(const std::string& text, int32_t& out);

 private:
  // One line of the file: a section header, a key=value entry, or anything else kept verbatim.
  struct TLine {
    enum Kind { Section, Entry, Other } kind;
    std::string name;   // section or key name
    std::string value;  // entry value; for Other the raw line
  };

  void Load();
  void Save();
  int FindSection(const std::string& section) const;
  int SectionEnd(int header) const;
  int FindEntry(const std::string& section, const std::string& key) const;

  std::filesystem::path m_path;
  std::vector<TLine> m_lines;
  bool m_lastWriteOk = true;
};

// Where Morvent keeps a file such as "Morvent.ini" or "Morvent.trc": the executable's folder when the file
// can be written there and the program is not installed, else the user's configuration folder
// ($XDG_CONFIG_HOME or ~/.config, subfolder "Morvent", created on demand).
std::filesystem::path MorventFilePath(const std::filesystem::path& exeDir, const std::string& fileName);
