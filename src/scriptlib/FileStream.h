// FileStream: CFileStream, the file behind a script's TFile: a POSIX descriptor opened with the script
// file modes (sharing modes become advisory locks), positioned reads with a read-ahead buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The script file modes: an access value plus a sharing value, or fmCreate alone.
enum : int {
  fmCreate = 0xFFFF,
  fmOpenRead = 0,
  fmOpenWrite = 1,
  fmOpenReadWrite = 2,
  fmShareCompat = 0x00,
  fmShareExclusive = 0x10,
  fmShareDenyWrite = 0x20,
  fmShareDenyRead = 0x30,
  fmShareDenyNone = 0x40
};
enum : int { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

class CFileStream {
 public:
  // The open stream, or null when the file cannot be opened (missing, no permission, a folder, an
  // unknown mode, or refused by another open's sharing).
  static std::unique_ptr<CFileStream> Open(const std::string& name, int mode);
  ~CFileStream();
  CFileStream(const CFileStream&) = delete;
  CFileStream& operator=(const CFileStream&) = delete;

  // Both return the bytes moved; short at the end of the file or on an error.
  int64_t Read(void* dst, int64_t n);
  int64_t Write(const void* src, int64_t n);
  // One line without its line feed; of a longer line only the first `keep` bytes are kept, and a
  // carriage return ending the kept text is dropped. False when not even one byte could be read.
  bool ReadLine(std::string& line, size_t keep);

  int64_t Position() const { return m_pos; }
  void SetPosition(int64_t pos) { m_pos = pos < 0 ? 0 : pos; }
  // The new position, or -1 (position unchanged) when it would lie before the start.
  int64_t Seek(int64_t offset, int origin);
  int64_t Size() const;
  bool SetSize(int64_t size);

 private:
  CFileStream(int fd, int lockFd);
  bool Fill();  // reads ahead from the position; false at the end of the file
  void DropBuffer() { m_bufLen = 0; }

  int m_fd;
  int m_lockFd;  // a second descriptor holding the sharing locks of a write-only open, or -1
  int64_t m_pos = 0;
  std::vector<uint8_t> m_buf;
  int64_t m_bufStart = 0;  // file offset of m_buf[0]
  size_t m_bufLen = 0;
};
