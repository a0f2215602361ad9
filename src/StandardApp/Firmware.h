// Firmware.h: the firmware loader: the "LD" channel and its module's "IN" channel, the image file, the
// download worker ("LOAD:RSET", then the file in 1000-byte frames) and the status worker ("LOAD:STAT?").
// The workers reach their owner only through callbacks run on the main thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "StandardApp/Cu.h"
#include "StandardApp/Mainthread.h"

enum TFirmwareResult { kFirmwareFinished = 0, kFirmwareCancelled = 1, kFirmwareCommError = 2 };

inline constexpr int kFirmwareChunk = 1000;       // bytes of the image per LD frame
inline constexpr int kFirmwareReplyBuffer = 100;  // what the loader reads of an IN reply: header, text, 0
inline constexpr int kFirmwarePhaseReady = 0;
inline constexpr int kFirmwarePhaseError = 4;
inline constexpr int kFirmwarePhaseHost = 100;  // outcomes on the host side, codes below
inline constexpr int kFirmwareHostCommError = 1;
inline constexpr int kFirmwareHostCancelled = 2;

// The loader's waits. The defaults are the protocol's; tests shorten them.
struct TFirmwareTimings {
  unsigned handshakeWaitMs = 30000;  // reply to "LOAD:RSET"
  unsigned statusWaitMs = 3000;      // reply to "LOAD:STAT?"
  unsigned statusPauseMs = 1000;     // between two status polls
};

// Status line text for (phase, code): phases 0..3, phase 4 codes 1..8, phase 100 codes 1
// ("Communication error") and 2 ("download canceled"); nullptr for anything else.
const char* FirmwareStatusText(int phase, int code);

// Decodes a "LOAD:STAT?" reply payload. The payload is text up to its first zero byte (or length).
// False when it holds no "LOAD:STAT". Otherwise the one separator behind "LOAD:STAT" is skipped and
// the rest is read as phase "," code: each a decimal number, blanks around it allowed (CR/LF too).
// A field that is missing, empty, not a number or above 999999999 gives -1, which no status shows.
bool DecodeFirmwareStatus(const char* payload, size_t length, int* phase, int* code);

// True when a "LOAD:RSET" reply payload (text up to its first zero byte) begins with "RA" and holds
// "LOAD:RSET".
bool FirmwareResetAcknowledged(const char* payload, size_t length);

// The reply payload of one IN frame as the loader sees it: the text of at most
// kFirmwareReplyBuffer - 5 payload bytes, up to the first zero byte. Longer replies are cut there.
std::string FirmwareReplyText(const uint8_t* frame, int frameLength);

// Opens ld on the "LD" descriptor and in on the first CU named exactly "IN" of the same module.
// 0 both open, 1 the LD channel failed, 2 no IN CU or it failed (ld is left open; the caller closes).
int OpenFirmwareChannels(std::shared_ptr<CCuDesc> ldDesc, CFirmwareCuIO& ld, CFirmwareCuIO& in);

// The image file, opened read-only and sent unchanged.
class CFirmwareFile {
 public:
  // Null when the file cannot be opened, is not a regular file or is larger than the 32-bit byte
  // counter allows.
  static std::unique_ptr<CFirmwareFile> Open(const std::string& path);
  ~CFirmwareFile();
  CFirmwareFile(const CFirmwareFile&) = delete;
  CFirmwareFile& operator=(const CFirmwareFile&) = delete;

  uint32_t Size() const { return m_size; }
  // Reads up to n bytes, fewer only at the end of the file; 0 at the end. Throws std::runtime_error
  // on a read error.
  size_t Read(void* buffer, size_t n);

 private:
  CFirmwareFile(int fd, uint32_t size) : m_fd(fd), m_size(size) {}
  // Fills the buffer; false at the end of the file.
  bool Refill();

  int m_fd;
  uint32_t m_size;
  // The file is read in large blocks: one system call per 1000-byte chunk costs more than the chunk.
  std::vector<uint8_t> m_buffer;
  size_t m_pos = 0, m_end = 0;
};

// What both workers share: the thread, the terminate flag with its wake-up, and the callback gate
// that Terminate closes, so that no callback reaches an owner that has let go.
class CFirmwareWorker {
 public:
  CFirmwareWorker(const CFirmwareWorker&) = delete;
  CFirmwareWorker& operator=(const CFirmwareWorker&) = delete;
  // No more callbacks from now on (one running on another thread is waited for); waits end at once.
  void Terminate();
  // Joins the thread.
  void Wait();
  bool Terminated() const { return m_terminated.load(); }

 protected:
  struct CGate;

  CFirmwareWorker(CMainDispatcher& main, TFirmwareTimings timings);
  ~CFirmwareWorker();
  void Start(std::function<void()> body);
  // Sleeps up to ms; false when terminated meanwhile.
  bool Pause(unsigned ms);
  // Runs fn on the main thread and waits for it, unless the worker is or gets terminated.
  void Call(std::function<void()> fn);
  // One command and its reply on the IN channel under the shared lock. Replies still queued from an
  // earlier pair that timed out are dropped first, so that no worker takes another one's reply.
  // False when no reply came (write failed, time-out, stop() became true).
  bool Exchange(CFirmwareCuIO& in, std::mutex& lock, const char* command, unsigned waitMs,
                const std::function<bool()>& stop, bool readAfterFailedWrite, std::string& reply);
  // Writes one frame, waiting for a send credit in slices up to the session's channel wait; false when
  // the channel fails, the link or the module goes, the wait runs out or stop() becomes true.
  bool WriteFrame(CFirmwareCuIO& channel, const void* data, int length, const std::function<bool()>& stop);

  CMainDispatcher& m_main;
  const TFirmwareTimings m_timings;
  std::atomic<bool> m_terminated{false};
  std::shared_ptr<CGate> m_gate;
  std::mutex m_wakeLock;
  std::condition_variable m_wake;

 private:
  bool LockWithin(std::mutex& lock, const std::function<bool()>& stop);
  std::thread m_thread;
};

// onStatus gets every decoded status reply, until the worker is terminated.
class TFirmwareStatusThread : public CFirmwareWorker {  // starts polling at once
 public:
  TFirmwareStatusThread(std::shared_ptr<CFirmwareCuIO> in, std::shared_ptr<std::mutex> lock, CMainDispatcher& main,
                        std::function<void(int phase, int code)> onStatus, TFirmwareTimings timings = {});
  ~TFirmwareStatusThread();  // Terminate() and join

 private:
  void Execute();

  std::shared_ptr<CFirmwareCuIO> m_in;
  std::shared_ptr<std::mutex> m_lock;
  std::function<void(int, int)> m_onStatus;
};

// onProgress gets the newest byte count after the chunks, at most every 20 ms and always the last one;
// onFinished gets the result once, after the last progress, unless the worker was terminated first.
class TFirmwareCuThread : public CFirmwareWorker {  // starts at once
 public:
  TFirmwareCuThread(std::shared_ptr<CFirmwareCuIO> in, std::shared_ptr<CFirmwareCuIO> ld,
                    std::shared_ptr<std::mutex> lock, std::unique_ptr<CFirmwareFile> file, CMainDispatcher& main,
                    std::function<void(uint32_t bytesSent)> onProgress, std::function<void(int result)> onFinished,
                    TFirmwareTimings timings = {});
  ~TFirmwareCuThread();  // Terminate() and join
  // Stops after the current chunk; also ends a handshake or credit wait at once (result 1).
  void Cancel();
  bool Cancelling() const { return m_cancel.load(); }
  // Owner going away: cancel, no more callbacks, waits cut short.
  void Terminate();
  // Image bytes written on the LD channel so far.
  uint32_t BytesSent() const { return m_bytesSent.load(); }

 private:
  struct CProgress;

  void Execute();
  int Transfer();
  // Shows the newest count; posts at most every kProgressPostMs unless force.
  void Progress(uint32_t bytes, bool force);

  std::shared_ptr<CFirmwareCuIO> m_in, m_ld;
  std::shared_ptr<std::mutex> m_lock;
  std::unique_ptr<CFirmwareFile> m_file;
  std::function<void(int)> m_onFinished;
  std::shared_ptr<CProgress> m_progress;
  std::atomic<bool> m_cancel{false};
  std::atomic<uint32_t> m_bytesSent{0};
  std::chrono::steady_clock::time_point m_lastPost{};
  bool m_unposted = false;  // a count newer than the last post waits for the next one
};
