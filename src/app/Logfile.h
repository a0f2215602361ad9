// TLogFile: the optional user log: off, on in a file created new, or on appended to an existing file;
// each line opens the file, appends the text with CR LF and closes it again.
#pragma once

#include <string>

class TLogFile {
 public:
  enum State { Off = 0, New = 1, Appended = 2 };

  // Starts logging to path (already on: success, nothing changes). False when the file cannot be made.
  bool Open(const std::string& path, bool append);
  void Close() { m_state = Off; }
  // Appends one line when logging is on; false when the line could not be written.
  bool Write(const std::string& text);

  State GetState() const { return m_state; }
  bool IsOn() const { return m_state != Off; }
  const std::string& Path() const { return m_path; }

 private:
  State m_state = Off;
  std::string m_path;
};
