// Firmware.cpp: status texts and reply decoding, the two channels, the image file and the two workers.
#include "StandardApp/Firmware.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "StandardApp/Tracer.h"
#include "StandardApp/Zematcore.h"

namespace {

using Clock = std::chrono::steady_clock;

// Waits are cut into slices this long, so that a terminate, a cancel, a lost link or a module that
// left ends them at once.
constexpr unsigned kSliceMs = 100;
constexpr unsigned kLockRetryMs = 5;
constexpr size_t kFileBlock = 64 * 1024;
// Progress reaches the main thread at most this often (the last count always does): a call per chunk
// would wake it 1000 times a second for a bar nobody reads that fast.
constexpr auto kProgressPostMs = std::chrono::milliseconds(20);

const char* const kCommandReset = "LOAD:RSET";
const char* const kCommandStatus = "LOAD:STAT?";
const char* const kStatusTag = "LOAD:STAT";

unsigned MsLeft(Clock::time_point end) {
  auto now = Clock::now();
  return now >= end ? 0u
                    : static_cast<unsigned>(std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count());
}

// The payload as text: up to its first zero byte.
std::string_view AsText(const char* payload, size_t length) {
  if (!payload) return {};
  const void* zero = std::memchr(payload, 0, length);
  return std::string_view(payload, zero ? static_cast<size_t>(static_cast<const char*>(zero) - payload) : length);
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A decimal number with blanks around it; -1 for anything else.
int StatusNumber(std::string_view field) {
  while (!field.empty() && IsBlank(field.front())) field.remove_prefix(1);
  while (!field.empty() && IsBlank(field.back())) field.remove_suffix(1);
  if (field.empty() || field.size() > 9) return -1;
  int value = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

// The link and the module behind a channel are still there.
bool ChannelUsable(const CCuIoBase& channel) {
  std::shared_ptr<CCuDesc> desc = channel.GetDesc();
  return desc && !desc->IsRemoved() && desc->GetOwner() && desc->GetOwner()->IsConnected() && channel.IsOpen();
}

}  // namespace

// ---- texts and decoding ----

const char* FirmwareStatusText(int phase, int code) {
  static const char* const kPhases[] = {"Ready", "Erasing Flash", "Programming", "Verifying"};
  static const char* const kErrors[] = {"Syntax Error",
                                        "Download verification failed",
                                        "Flash erasue failed",
                                        "Flash write access failed",
                                        "selected address invalid",
                                        "Flash Info block invalid",
                                        "Module type mismatch",
                                        "SW does not support HW requirements"};
  if (phase >= 0 && phase <= 3) return kPhases[phase];
  if (phase == kFirmwarePhaseError && code >= 1 && code <= 8) return kErrors[code - 1];
  if (phase == kFirmwarePhaseHost && code == kFirmwareHostCommError) return "Communication error";
  if (phase == kFirmwarePhaseHost && code == kFirmwareHostCancelled) return "download canceled";
  return nullptr;
}

bool DecodeFirmwareStatus(const char* payload, size_t length, int* phase, int* code) {
  std::string_view text = AsText(payload, length);
  size_t at = text.find(kStatusTag);
  if (at == std::string_view::npos) return false;
  size_t rest = at + std::strlen(kStatusTag) + 1;  // the tag and its one separator
  std::string_view fields = rest < text.size() ? text.substr(rest) : std::string_view();
  size_t comma = fields.find(',');
  *phase = StatusNumber(fields.substr(0, comma));
  *code = comma == std::string_view::npos ? -1 : StatusNumber(fields.substr(comma + 1));
  return true;
}

bool FirmwareResetAcknowledged(const char* payload, size_t length) {
  std::string_view text = AsText(payload, length);
  return text.starts_with("RA") && text.find(kCommandReset) != std::string_view::npos;
}

std::string FirmwareReplyText(const uint8_t* frame, int frameLength) {
  constexpr int kTextMax = kFirmwareReplyBuffer - Z_HEADER_LEN - 1;
  if (!frame || frameLength <= Z_HEADER_LEN) return {};
  int n = std::min(frameLength - Z_HEADER_LEN, kTextMax);
  return std::string(AsText(reinterpret_cast<const char*>(frame) + Z_HEADER_LEN, static_cast<size_t>(n)));
}

// ---- channels ----

int OpenFirmwareChannels(std::shared_ptr<CCuDesc> ldDesc, CFirmwareCuIO& ld, CFirmwareCuIO& in) {
  if (!ldDesc || ld.OpenOn(ldDesc) != 1) return 1;
  std::shared_ptr<CCuDesc> inDesc;
  CModule* module = ldDesc->GetModule();
  for (int i = 0; module && i < module->GetCuDescCount() && !inDesc; ++i) {
    std::shared_ptr<CCuDesc> d = module->GetCuDesc(i);
    if (d && std::strcmp(d->GetCuName(), "IN") == 0) inDesc = d;
  }
  if (!inDesc || in.OpenOn(inDesc) != 1) return 2;
  return 0;
}

// ---- file ----

std::unique_ptr<CFirmwareFile> CFirmwareFile::Open(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<unsigned long long>(st.st_size) > std::numeric_limits<uint32_t>::max()) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<CFirmwareFile>(new CFirmwareFile(fd, static_cast<uint32_t>(st.st_size)));
}

CFirmwareFile::~CFirmwareFile() { ::close(m_fd); }

bool CFirmwareFile::Refill() {
  if (m_buffer.empty()) m_buffer.resize(kFileBlock);
  m_pos = m_end = 0;
  for (;;) {
    ssize_t r = ::read(m_fd, m_buffer.data(), m_buffer.size());
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) throw std::runtime_error(std::string("firmware file: ") + std::strerror(errno));
    m_end = static_cast<size_t>(r);
    return r > 0;
  }
}

size_t CFirmwareFile::Read(void* buffer, size_t n) {
  size_t got = 0;
  while (got < n) {
    if (m_pos == m_end && !Refill()) break;
    size_t take = std::min(n - got, m_end - m_pos);
    std::memcpy(static_cast<char*>(buffer) + got, m_buffer.data() + m_pos, take);
    m_pos += take;
    got += take;
  }
  return got;
}

// ---- the workers' shared part ----

// Callbacks pass through the gate; once closed, none runs. A callback that destroys its worker (the
// finished callback may) closes the gate from inside, hence the recursive lock.
struct CFirmwareWorker::CGate {
  std::recursive_mutex lock;
  bool open = true;
  template <class Fn>
  void Run(Fn&& fn) {
    std::lock_guard<std::recursive_mutex> g(lock);
    if (open) fn();
  }
  void Close() {
    std::lock_guard<std::recursive_mutex> g(lock);
    open = false;
  }
};

CFirmwareWorker::CFirmwareWorker(CMainDispatcher& main, TFirmwareTimings timings)
    : m_main(main), m_timings(timings), m_gate(std::make_shared<CGate>()) {}

CFirmwareWorker::~CFirmwareWorker() {
  Terminate();
  Wait();
}

void CFirmwareWorker::Start(std::function<void()> body) { m_thread = std::thread(std::move(body)); }

void CFirmwareWorker::Terminate() {
  {
    std::lock_guard<std::mutex> g(m_wakeLock);
    m_terminated.store(true);
  }
  m_wake.notify_all();
  m_gate->Close();
}

void CFirmwareWorker::Wait() {
  if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
}

bool CFirmwareWorker::Pause(unsigned ms) {
  std::unique_lock<std::mutex> g(m_wakeLock);
  return !m_wake.wait_for(g, std::chrono::milliseconds(ms), [this] { return m_terminated.load(); });
}

void CFirmwareWorker::Call(std::function<void()> fn) {
  if (Terminated()) return;
  SyncCall(
      m_main, [gate = m_gate, fn = std::move(fn)] { gate->Run(fn); }, &m_terminated);
}

bool CFirmwareWorker::LockWithin(std::mutex& lock, const std::function<bool()>& stop) {
  // The other worker may hold the lock for a whole reply wait; a terminate must not wait for that.
  while (!lock.try_lock()) {
    if (stop()) return false;
    std::unique_lock<std::mutex> g(m_wakeLock);
    m_wake.wait_for(g, std::chrono::milliseconds(kLockRetryMs), [this] { return m_terminated.load(); });
  }
  return true;
}

bool CFirmwareWorker::WriteFrame(CFirmwareCuIO& channel, const void* data, int length,
                                 const std::function<bool()>& stop) {
  std::shared_ptr<CCuDesc> desc = channel.GetDesc();
  const unsigned total = desc && desc->GetOwner() ? desc->GetOwner()->Timings().channelWaitMs : 45000;
  const auto end = Clock::now() + std::chrono::milliseconds(total);
  for (;;) {
    const int rc = channel.WriteWithin(data, length, std::min(kSliceMs, MsLeft(end)));
    if (rc == Z_OK) return true;
    if (rc != Z_TIMEOUT || !ChannelUsable(channel) || MsLeft(end) == 0 || stop()) return false;
  }
}

bool CFirmwareWorker::Exchange(CFirmwareCuIO& in, std::mutex& lock, const char* command, unsigned waitMs,
                               const std::function<bool()>& stop, bool readAfterFailedWrite, std::string& reply) {
  if (!LockWithin(lock, stop)) return false;
  std::lock_guard<std::mutex> held(lock, std::adopt_lock);
  std::vector<uint8_t> frame(Z_READ_BUFFER);  // any frame fits; only the first bytes count
  for (int length = Z_READ_BUFFER; in.Read(frame.data(), &length, 0) == Z_OK; length = Z_READ_BUFFER) {
  }
  const bool written = WriteFrame(in, command, static_cast<int>(std::strlen(command)), stop);
  if (!written && (!readAfterFailedWrite || stop())) return false;
  const auto end = Clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    int length = Z_READ_BUFFER;
    if (in.Read(frame.data(), &length, std::min(kSliceMs, MsLeft(end))) == Z_OK) {
      reply = FirmwareReplyText(frame.data(), length - 1);
      return written;
    }
    // No reply can come over a link that went, nor from a module that left.
    if (MsLeft(end) == 0 || stop() || !ChannelUsable(in)) return false;
  }
}

// ---- status worker ----

TFirmwareStatusThread::TFirmwareStatusThread(std::shared_ptr<CFirmwareCuIO> in, std::shared_ptr<std::mutex> lock,
                                             CMainDispatcher& main, std::function<void(int, int)> onStatus,
                                             TFirmwareTimings timings)
    : CFirmwareWorker(main, timings), m_in(std::move(in)), m_lock(std::move(lock)), m_onStatus(std::move(onStatus)) {
  Start([this] { Execute(); });
}

TFirmwareStatusThread::~TFirmwareStatusThread() {
  Terminate();
  Wait();
}

void TFirmwareStatusThread::Execute() {
  auto stop = [this] { return Terminated(); };
  while (!Terminated()) {
    std::string reply;
    // As the protocol has it, a failed write still waits for a reply (not when the link is gone).
    const bool replied = Exchange(*m_in, *m_lock, kCommandStatus, m_timings.statusWaitMs, stop, true, reply);
    int phase = 0, code = 0;
    if (replied && DecodeFirmwareStatus(reply.data(), reply.size(), &phase, &code))
      Call([cb = m_onStatus, phase, code] { cb(phase, code); });
    Pause(m_timings.statusPauseMs);
  }
}

// ---- download worker ----

// The newest byte count and whether a progress call is on its way: at most one waits in the main
// thread's queue, and it shows the newest count when it runs.
struct TFirmwareCuThread::CProgress {
  std::atomic<uint32_t> latest{0};
  std::atomic<bool> pending{false};
  std::function<void(uint32_t)> callback;
};

TFirmwareCuThread::TFirmwareCuThread(std::shared_ptr<CFirmwareCuIO> in, std::shared_ptr<CFirmwareCuIO> ld,
                                     std::shared_ptr<std::mutex> lock, std::unique_ptr<CFirmwareFile> file,
                                     CMainDispatcher& main, std::function<void(uint32_t)> onProgress,
                                     std::function<void(int)> onFinished, TFirmwareTimings timings)
    : CFirmwareWorker(main, timings),
      m_in(std::move(in)),
      m_ld(std::move(ld)),
      m_lock(std::move(lock)),
      m_file(std::move(file)),
      m_onFinished(std::move(onFinished)),
      m_progress(std::make_shared<CProgress>()) {
  m_progress->callback = std::move(onProgress);
  Start([this] { Execute(); });
}

TFirmwareCuThread::~TFirmwareCuThread() {
  Terminate();
  Wait();
}

void TFirmwareCuThread::Cancel() {
  {
    std::lock_guard<std::mutex> g(m_wakeLock);
    m_cancel.store(true);
  }
  m_wake.notify_all();
}

void TFirmwareCuThread::Terminate() {
  Cancel();
  CFirmwareWorker::Terminate();
}

void TFirmwareCuThread::Progress(uint32_t bytes, bool force) {
  m_progress->latest.store(bytes);
  const auto now = Clock::now();
  m_unposted = !force && now - m_lastPost < kProgressPostMs;
  if (m_unposted) return;
  m_lastPost = now;
  if (m_progress->pending.exchange(true) || !m_progress->callback) return;
  m_main.Post([gate = m_gate, progress = m_progress] {
    progress->pending.store(false);  // before reading: a newer count then posts again
    const uint32_t newest = progress->latest.load();
    gate->Run([&] { progress->callback(newest); });
  });
}

void TFirmwareCuThread::Execute() {
  auto stop = [this] { return m_cancel.load(); };  // a terminate cancels too
  std::string reply;
  const bool replied = Exchange(*m_in, *m_lock, kCommandReset, m_timings.handshakeWaitMs, stop, false, reply);
  int result = kFirmwareCommError;
  if (m_cancel.load())
    result = kFirmwareCancelled;
  else if (replied && FirmwareResetAcknowledged(reply.data(), reply.size()))
    result = Transfer();
  else
    Tracer().Trace(1, "TFirmwareCuThread", "LOAD:RSET not acknowledged: \"%s\"", replied ? reply.c_str() : "");
  if (m_unposted) Progress(m_bytesSent.load(), true);  // the finish comes after the last count
  Call([cb = m_onFinished, result] { cb(result); });
}

int TFirmwareCuThread::Transfer() {
  int result = kFirmwareFinished;
  std::vector<uint8_t> chunk(kFirmwareChunk);
  // Asked after every slice of a credit wait: a transfer that stalls shows how far it came first.
  auto stop = [this] {
    if (m_unposted) Progress(m_bytesSent.load(), true);
    return m_cancel.load();
  };
  try {
    for (;;) {
      const size_t n = m_file->Read(chunk.data(), chunk.size());
      if (n == 0) break;
      const uint32_t sent = m_bytesSent.load();
      if (sent > std::numeric_limits<uint32_t>::max() - n) throw std::runtime_error("image grew beyond 4 GiB");
      if (!WriteFrame(*m_ld, chunk.data(), static_cast<int>(n), stop)) {
        // A cancel that cut the credit wait short is a cancel, not a failure of the link.
        result = m_cancel.load() ? kFirmwareCancelled : kFirmwareCommError;
        break;
      }
      m_bytesSent.store(sent + static_cast<uint32_t>(n));  // counts what went out, also after a failure
      Progress(m_bytesSent.load(), false);
      if (m_cancel.load() || n < chunk.size()) break;
    }
  } catch (const std::exception& e) {
    Tracer().Trace(1, "TFirmwareCuThread", "transfer stopped: %s", e.what());
    result = kFirmwareCancelled;
  }
  if (m_cancel.load() && result == kFirmwareFinished) result = kFirmwareCancelled;
  return result;
}
