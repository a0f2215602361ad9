// CliSession.cpp: connecting, serving the main loop, the hooks' output and the module/CU lookup.
#include "morvent-cli/CliSession.h"

#include <unistd.h>

#include <chrono>
#include <climits>
#include <csignal>

#include "StandardApp/Tracer.h"

std::atomic<bool> g_cliInterrupted{false};

namespace {
extern "C" void OnInterruptSignal(int) { g_cliInterrupted.store(true); }

// Default trace file: "Morvent.trc" beside the program, or in the current folder when that is not
// writable or is an installed program's folder (known by the desktop entry under the prefix).
std::string DefaultTraceFile() {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n > 0) {
    std::string exe(path, static_cast<size_t>(n));
    std::string dir = exe.substr(0, exe.find_last_of('/') + 1);
    if (!dir.empty() && access(dir.c_str(), W_OK) == 0 && access((dir + MORVENT_INSTALLED_MARKER).c_str(), F_OK) != 0)
      return dir + "Morvent.trc";
  }
  return "Morvent.trc";
}
}  // namespace

void InstallInterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = OnInterruptSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// ---- TCliInstr ----

void TCliInstr::PrintLine(const std::string& line) {
  if (!m_printNotifications) return;
  std::fprintf(stdout, "%s\n", line.c_str());
  std::fflush(stdout);
}

void TCliInstr::OnConnectionLost() { m_lost.store(true); }

void TCliInstr::OnConfigChanged() { PrintLine("Configuration changed"); }

void TCliInstr::OnModuleRemoved(CModule* module) {
  PrintLine(std::string("Module ") + module->GetModuleType() + " removed");
}

void TCliInstr::OnModuleAdded(CModule* module) {
  PrintLine(std::string("Module ") + module->GetModuleType() + " added");
}

// ---- CCliSession ----

CCliSession::CCliSession(const CCliOptions& options) : m_options(options) {
  if (options.traceLevel > 0 || !options.traceFile.empty()) {
    Tracer().SetFileName(options.traceFile.empty() ? DefaultTraceFile() : options.traceFile);
    Tracer().SetLevel(options.traceLevel);
  }
  m_instr.SetDispatcher(&m_loop);
  m_instr.SetTimeout(options.timeoutMs);
  m_instr.SetLanPorts(options.telnetPort, options.dataPort);
  if (options.comPort > 0 && !options.serialDevice.empty())
    m_instr.SetSerialDevice(options.comPort, options.serialDevice);
}

CCliSession::~CCliSession() { Disconnect(); }

bool CCliSession::Connect(int comPort, const std::string& address) {
  m_options.comPort = comPort;
  m_options.address = address;
  return Connect();
}

std::string CCliSession::Description() const {
  return m_options.comPort != 0 ? "COM" + std::to_string(m_options.comPort) : m_options.address;
}

bool CCliSession::Connect() {
  m_instr.ClearLost();
  m_connected = m_instr.Connect(m_options.comPort, m_options.address.c_str());
  if (!m_connected) {
    // A failed Connect has already stopped its threads and released the transport.
    std::fprintf(stderr, "Connection to instrument failed\n");
  }
  return m_connected;
}

void CCliSession::Disconnect() {
  if (!m_connected) return;
  m_connected = false;
  m_instr.Disconnect();
  m_loop.ProcessPending();  // calls skipped by terminating threads leave nothing behind
}

void CCliSession::ServeFor(unsigned ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  m_loop.RunUntil(
      [&] {
        return g_cliInterrupted.load() || m_instr.Lost() || m_instr.WatchedModuleRemoved() ||
               std::chrono::steady_clock::now() >= end;
      },
      ms);
}

void CCliSession::PrintTree(std::FILE* out) {
  std::fprintf(out, "Serion Instrument\n");
  for (int m = 0; m < m_instr.GetModuleCount(); ++m) {
    std::shared_ptr<CModule> module = m_instr.GetModule(m);
    if (!module) continue;
    std::fprintf(out, "  %s - %s%s\n", module->GetModuleType(), module->GetSerialNumber(),
                 module->IsSecondList() ? " (CS)" : "");
    for (int c = 0; c < module->GetCuDescCount(); ++c)
      if (std::shared_ptr<CCuDesc> desc = module->GetCuDesc(c)) std::fprintf(out, "    %s\n", desc->GetCuName());
  }
  std::fflush(out);
}

std::shared_ptr<CModule> CCliSession::ResolveModule(const std::string& text) const {
  int count = m_instr.GetModuleCount();
  if (auto index = ParseInteger(text, 1, LONG_MAX)) return *index <= count ? m_instr.GetModule(*index - 1) : nullptr;
  for (int m = 0; m < count; ++m) {
    std::shared_ptr<CModule> module = m_instr.GetModule(m);
    if (module && EqualsNoCase(module->GetModuleType(), text)) return module;
  }
  return nullptr;
}

std::shared_ptr<CCuDesc> CCliSession::ResolveCu(const CModule* module, const std::string& text) {
  int count = module->GetCuDescCount();
  if (auto index = ParseInteger(text, 1, LONG_MAX)) return *index <= count ? module->GetCuDesc(*index - 1) : nullptr;
  for (int c = 0; c < count; ++c) {
    std::shared_ptr<CCuDesc> desc = module->GetCuDesc(c);
    if (desc && EqualsNoCase(desc->GetCuName(), text)) return desc;
  }
  return nullptr;
}
