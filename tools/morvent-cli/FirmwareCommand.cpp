// FirmwareCommand.cpp: the firmware command on the engine's loader: the two channels, the status and
// download workers with their callbacks served by the client's loop, the progress display and the outcome.
#include "morvent-cli/FirmwareCommand.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "StandardApp/Firmware.h"
#include "morvent-cli/CliSession.h"

namespace {

// Erasing and verifying take their time on a real module; this bounds the wait for "Ready".
constexpr unsigned kReadyWaitMs = 120000;
constexpr unsigned kForever = 0xFFFFFFFFu;
constexpr int kBarWidth = 40;

// Progress on standard error: a bar with percent and bytes on a terminal, else one line per 10 %.
class CProgressView {
 public:
  explicit CProgressView(uint32_t total) : m_total(total), m_tty(isatty(STDERR_FILENO) != 0) {}

  void Show(uint32_t bytes) {
    if (m_total == 0) return;
    const unsigned long long scaled = static_cast<unsigned long long>(bytes) * 1000 / m_total;
    if (m_tty) {
      if (static_cast<int>(scaled) == m_permille && m_drawn) return;
      m_permille = static_cast<int>(scaled);
      m_bytes = bytes;
      Draw();
      return;
    }
    // Progress comes in coalesced counts: a count that passes several steps at once prints one line.
    const int reached = static_cast<int>(std::min<unsigned long long>(scaled / 100, 10));
    if (reached <= m_decile) return;
    m_decile = reached;
    std::fprintf(stderr, "Progress: %d%% (%u of %u bytes)\n", reached * 10, bytes, m_total);
  }
  // Takes the bar off its line, so that other output starts on a clean one.
  void Clear() {
    if (m_tty && m_drawn) std::fputs("\r\033[K", stderr);
  }
  void Redraw() {
    if (m_tty && m_drawn) Draw();
  }
  void Done() {
    if (m_tty && m_drawn) std::fputc('\n', stderr);
    m_drawn = false;
  }

 private:
  void Draw() {
    const int filled = m_permille * kBarWidth / 1000;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kBarWidth - filled), '.');
    std::fprintf(stderr, "\r[%s] %3d%% %u/%u bytes", bar.c_str(), m_permille / 10, m_bytes, m_total);
    std::fflush(stderr);
    m_drawn = true;
  }

  uint32_t m_total;
  bool m_tty;
  bool m_drawn = false;
  int m_permille = -1;
  int m_decile = 0;
  uint32_t m_bytes = 0;
};

// What the callbacks learn, on the main thread.
struct CTransferState {
  int phase = -1000, code = -1000;  // the status shown last
  bool errorSeen = false;           // the module reported phase 4
  bool finished = false;
  int result = -1;
  bool readyAfterFinish = false;
  TFirmwareCuThread* download = nullptr;
};

std::string StatusLine(int phase, int code) {
  if (const char* text = FirmwareStatusText(phase, code)) return text;
  if (phase == kFirmwarePhaseError) return "Module error (code " + std::to_string(code) + ")";
  return "Unknown status (" + std::to_string(phase) + "," + std::to_string(code) + ")";
}

void OnStatus(CTransferState& st, CProgressView& view, int phase, int code) {
  if (st.finished && phase == kFirmwarePhaseReady) st.readyAfterFinish = true;
  if (phase == st.phase && code == st.code) return;
  st.phase = phase;
  st.code = code;
  if (phase == kFirmwarePhaseError) {
    st.errorSeen = true;
    if (st.download && !st.finished) st.download->Cancel();  // as the window does: stop after this chunk
  }
  view.Clear();
  std::printf("Status: %s\n", StatusLine(phase, code).c_str());
  std::fflush(stdout);
  view.Redraw();
}

std::shared_ptr<CCuDesc> FindLd(const CModule& module) {
  for (int c = 0; c < module.GetCuDescCount(); ++c) {
    std::shared_ptr<CCuDesc> desc = module.GetCuDesc(c);
    if (desc && std::strcmp(desc->GetCuName(), "LD") == 0) return desc;
  }
  return nullptr;
}

bool LinkGone(CCliSession& session) { return session.Instr().Lost() || session.Instr().WatchedModuleRemoved(); }

int CommError(CCliSession& session) {
  if (session.Instr().Lost()) std::fprintf(stderr, "Connection to instrument lost\n");
  if (session.Instr().WatchedModuleRemoved()) std::fprintf(stderr, "Module of the CU was removed by the instrument\n");
  std::printf("Communication error\n");
  return kExitCommError;
}

// Both channels, closed when the command ends unless the instrument no longer knows them.
class CChannels {
 public:
  explicit CChannels(CCliSession& session) : m_session(session) {}
  ~CChannels() {
    Close(*ld);
    Close(*in);
  }
  CChannels(const CChannels&) = delete;
  CChannels& operator=(const CChannels&) = delete;

  int Open(std::shared_ptr<CCuDesc> ldDesc) {
    // A lost link never brings the open reply: a failure result ends the wait at once.
    return m_session.Await([&] { return OpenFirmwareChannels(ldDesc, *ld, *in); },
                           [&] {
                             ld->DeliverResult(0);
                             in->DeliverResult(0);
                           });
  }

  std::shared_ptr<CFirmwareCuIO> ld = std::make_shared<CFirmwareCuIO>();
  std::shared_ptr<CFirmwareCuIO> in = std::make_shared<CFirmwareCuIO>();

 private:
  void Close(CFirmwareCuIO& channel) {
    if (!channel.IsOpen() || LinkGone(m_session) || !m_session.Instr().IsConnected()) return;
    m_session.Await([&] { return channel.Close(); }, [&] { channel.DeliverResult(0); });
  }
  CCliSession& m_session;
};

// The outcome once the download worker finished; for a finished transfer, waits for "Ready".
int Outcome(CCliSession& session, CTransferState& st, bool cancelRequested) {
  if (st.result == kFirmwareCommError) return CommError(session);
  if (st.result == kFirmwareCancelled) {
    if (st.errorSeen) return kExitModuleError;  // its text is the status shown
    std::printf("download canceled\n");
    if (cancelRequested) return kExitInterrupted;
    std::fprintf(stderr, "Cannot read firmware file\n");
    return kExitUsage;
  }
  session.Loop().RunUntil(
      [&] { return st.readyAfterFinish || st.errorSeen || g_cliInterrupted.load() || LinkGone(session); },
      kReadyWaitMs);
  if (st.errorSeen) return kExitModuleError;
  if (st.readyAfterFinish) {
    std::printf("Download finished, module Ready\n");
    return kExitOk;
  }
  if (g_cliInterrupted.load()) {
    std::printf("Interrupted while waiting for the module\n");
    return kExitInterrupted;
  }
  if (!LinkGone(session)) std::fprintf(stderr, "The module did not report Ready within %u s\n", kReadyWaitMs / 1000);
  return CommError(session);
}

int Download(CCliSession& session, CChannels& channels, std::unique_ptr<CFirmwareFile> file) {
  auto lock = std::make_shared<std::mutex>();
  CTransferState st;
  CProgressView view(file->Size());
  std::printf("Downloading %u bytes\n", file->Size());
  std::fflush(stdout);
  TFirmwareStatusThread status(channels.in, lock, session.Loop(),
                               [&](int phase, int code) { OnStatus(st, view, phase, code); });
  bool cancelRequested = false;
  {
    TFirmwareCuThread download(
        channels.in, channels.ld, lock, std::move(file), session.Loop(), [&](uint32_t bytes) { view.Show(bytes); },
        [&](int result) {
          st.finished = true;
          st.result = result;
        });
    st.download = &download;
    session.Loop().RunUntil(
        [&] {
          if (g_cliInterrupted.load() && !cancelRequested) {
            cancelRequested = true;
            download.Cancel();  // as the window's Cancel: the transfer stops after the current chunk
          }
          return st.finished;
        },
        kForever);
    st.download = nullptr;
  }
  view.Done();
  return Outcome(session, st, cancelRequested);
}

}  // namespace

int CmdFirmware(const CCliOptions& options, int argc, char** argv) {
  if (argc != 2) throw CUsageError{"firmware needs MODULE and FILE"};
  const std::string moduleName = argv[0];
  std::unique_ptr<CFirmwareFile> file = CFirmwareFile::Open(argv[1]);
  if (!file) {
    std::fprintf(stderr, "Cannot open firmware file\n");
    return kExitUsage;
  }
  InstallInterruptHandlers();
  CCliSession session(options);
  if (!session.Connect()) return kExitConnect;
  std::shared_ptr<CModule> module = session.ResolveModule(moduleName);
  if (!module) {
    std::fprintf(stderr, "Module \"%s\" not found\nCannot open LD CU\n", moduleName.c_str());
    return kExitNoCu;
  }
  session.Instr().WatchModule(module);
  std::shared_ptr<CCuDesc> ldDesc = FindLd(*module);
  if (!ldDesc) {
    std::fprintf(stderr, "Module %s has no LD CU\nCannot open LD CU\n", module->GetModuleType());
    return kExitNoCu;
  }
  CChannels channels(session);
  const int opened = channels.Open(ldDesc);
  if (opened != 0) {
    if (LinkGone(session)) return CommError(session);
    std::fprintf(stderr, "%s\n", opened == 1 ? "Cannot open LD CU" : "Cannot open IN CU");
    return kExitNoCu;
  }
  return Download(session, channels, std::move(file));
}
