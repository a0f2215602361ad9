// A temporary folder that goes with everything in it, and reading a whole file back.
#pragma once

#include <string>

namespace support {

class TempDir {
 public:
  // Creates a fresh folder in the system's temporary folder (TMPDIR); throws when it cannot.
  explicit TempDir(const std::string& prefix = "morvent-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return m_path; }
  // The path of name inside the folder.
  std::string File(const std::string& name) const { return m_path + "/" + name; }
  // Writes text (as bytes) to name inside the folder; returns its path.
  std::string Write(const std::string& name, const std::string& text) const;

 private:
  std::string m_path;
};

// The file's bytes ("" when it cannot be read).
std::string ReadFile(const std::string& path);

}  // namespace support
