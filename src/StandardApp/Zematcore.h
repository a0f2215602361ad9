// Zematcore.h: CZematInstr, the connection to one instrument: transport, framing buffers, control
// channels, worker threads, module list and the four notification hooks.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "StandardApp/Cu.h"
#include "StandardApp/Mainthread.h"
#include "StandardApp/Module.h"
#include "StandardApp/Transport.h"
#include "StandardApp/Zematdefs.h"

class TZematRead;
class TZematWrite;
class COpenCuThread;
class TMasterEvtCu;
class TCsCuThread;

// Waits that tests and tools may shorten; the defaults are the protocol's values.
struct CZematTimings {
  unsigned channelWaitMs = 45000;       // open/close replies and send credits
  unsigned writerWaitMs = 1000000;      // a caller waiting for the writer
  unsigned keepAliveIdlePeriods = 25;   // keep-alive once more than this many 200 ms periods were idle
  unsigned goodbyeCreditWaitMs = 2000;  // longest wait for a credit to send the goodbye
};

class CZematInstr {
 public:
  CZematInstr();
  virtual ~CZematInstr();
  CZematInstr(const CZematInstr&) = delete;
  CZematInstr& operator=(const CZematInstr&) = delete;

  // Hooks, run on the main thread through the dispatcher. Without a dispatcher they run on the
  // worker thread that raised them and must not call Disconnect. A subclass disconnects in its own
  // destructor, so that no hook can run on a half-destroyed object.
  virtual void OnConnectionLost() {}
  virtual void OnConfigChanged() {}
  virtual void OnModuleRemoved(CModule* module) { (void)module; }
  virtual void OnModuleAdded(CModule* module) { (void)module; }

  // ---- settings (before Connect) ----
  // The dispatcher that runs the hooks and refreshes on the main thread; null runs them on the
  // calling worker thread. Not owned.
  void SetDispatcher(CMainDispatcher* dispatcher);
  CMainDispatcher& Dispatcher();
  // Stores max(ms, 3000): the wait for the red-card answer, every configuration read and the
  // reader's silence limit.
  void SetTimeout(unsigned ms);
  unsigned GetTimeout() const { return m_timeout.load(); }
  void SetLanPorts(int telnetPort, int dataPort);
  int GetTelnetPort() const { return m_telnetPort; }
  int GetDataPort() const { return m_dataPort; }
  // COMn is /dev/ttyS(n-1) unless set here.
  void SetSerialDevice(int n, const std::string& path);
  std::string SerialDevice(int n) const;
  void SetTimings(const CZematTimings& timings) { m_timings = timings; }
  const CZematTimings& Timings() const { return m_timings; }

  // ---- session ----
  // comPort 0: LAN through host (name or IPv4 address); 1..4: serial port COMn.
  bool Connect(int comPort, const char* host);
  // Runs the session over a stream the caller already connected (socket or pty); the session owns
  // fd from now on, also when this fails. serial selects the serial polling rhythm.
  bool ConnectStream(int fd, bool serial = false);
  void Disconnect();
  // Makes a Connect or ConnectStream running on another thread give up soon (it returns false).
  // Irreversible for this object: a cancelled session is discarded.
  void CancelConnect();
  bool ConnectCancelled() const { return m_cancel.load(); }
  // Hands the session an open stream without starting it (no threads, no red card), so that the
  // framing layer can be driven directly by tools and tests. The session owns fd from now on.
  void AttachStream(int fd, bool serial = false);
  bool IsConnected() const { return m_connected.load() != 0; }
  // The instrument closed the link (seen by the reader): no reply can come any more, although the
  // loss is reported only when the silence limit runs out.
  bool InputEnded() const { return m_inputEnded.load(); }
  void SetConnected(bool on) { m_connected.store(on ? 1 : 0); }

  int GetModuleCount() const;
  // Modules are handed out as references that keep them (and their descriptors) alive; a module
  // the connection has dropped says so (IsRemoved).
  std::shared_ptr<CModule> GetModule(int index) const;
  std::shared_ptr<CModule> FindModule(const uint8_t* record, int length) const;
  CCuIoBase* FindCu(long socket_number) const;
  // Main thread only.
  void RefreshConfiguration();
  void SendGoodbye();

  // Big-endian 16-bit numbers, as every length, socket and count travels.
  static void WriteU16(uint8_t* destination, long number);
  static unsigned ReadU16(const uint8_t* source) { return source[0] * 256u + source[1]; }

  // ---- used by channels and threads ----
  // Queues a framed message to the writer and waits; bytes sent or -1 (also when no writer runs).
  int WriteFramed(const void* payload, int length, long socket);
  int WriteRaw(const void* bytes, int count);
  int WriteRawPair(const void* first, int firstCount, const void* second, int secondCount);
  // Grants count read credits for socket on the flow socket.
  int SendCreditGrant(long socket, int count);
  COpenCuThread* OpenCuThread() const { return m_openThread.get(); }
  TCsCuThread* CsThread(bool create);
  TZematRead* ReaderThread() const { return m_reader.get(); }
  TZematWrite* WriterThread() const { return m_writer.get(); }
  CCuCtrlIO* CfgChannel() const { return m_cfgIO.get(); }
  CCuCtrlIO* EvtChannel() const { return m_evtIO.get(); }
  CCuCtrlIO* OpnChannel() const { return m_opnIO.get(); }
  const CCuDesc* CfgDesc() const { return m_CfgDesc.get(); }
  const CCuDesc* EvtDesc() const { return m_EvtDesc.get(); }
  const CCuDesc* OpnDesc() const { return m_OpnDesc.get(); }
  // Open CU list: the open-CU thread adds channels when their socket is assigned (applying credit
  // grants that arrived first) and removes them on the close reply.
  void AddOpenCu(CCuIoBase* channel, long socket);
  void RemoveOpenCu(CCuIoBase* channel);
  // The reader saw an open reply for socket: grants for it are kept until the socket is assigned.
  void ExpectSocket(long socket);
  void UnexpectSocket(long socket);
  void ForgetChannel(CCuIoBase* channel);
  // Cuts loose the channels still held on the CUs of a module that left (open, opening, pending or
  // registered as slaves): their waits end with 0 and they can no longer send. When the module held
  // the "CS" CU, the CAN-slave thread is retired with every slave behind it.
  void OrphanChannelsOf(const CModule* module);
  bool IsSerial() const { return m_transport && m_transport->IsSerial(); }
  uint8_t GetStatus() const { return m_status.load(); }
  uint8_t GetMode() const { return m_mode; }
  // Runs the loss report once: clears the connected flag and calls OnConnectionLost.
  void ReportConnectionLost();

 protected:
  bool ReadModules(std::vector<std::shared_ptr<CModule>>& modules);
  bool ReadModuleList(int list, std::vector<std::shared_ptr<CModule>>& modules);
  // Reads the descriptors of a module that is not published yet (it has none so far).
  bool ReadCuDescs(CModule* module);
  // One request/reply on the configuration channel; false on a failed write or read.
  bool ConfigRequest(const uint8_t* payload, int length, std::vector<uint8_t>& reply);

 private:
  // The framing layer belongs to the reader and writer threads; CFramingProbe lets the framing
  // tests drive it directly on an attached stream.
  friend class TZematRead;
  friend class TZematWrite;
  friend class CFramingProbe;

  // ---- framing (reader side: FROM) ----
  int Poll(unsigned waitMs);
  // True when a whole frame is buffered. An invalid length (above 4500 or below 4) is traced and
  // flags the input as broken (see InputBroken); the frame is then never complete.
  bool TestMsgComplete();
  bool InputBroken() const { return m_inputBroken; }
  uint8_t* GetMessage();
  bool TestRedCardAnswer();
  // One step of the reader on the buffered input: 1 when it took a frame (dispatched it, or handled
  // the red-card answer while status 1 waits for it), 0 when none is complete yet, -1 when the input
  // lost its framing and was discarded.
  int TakeFrame();
  // The reader's step: takes every complete frame buffered. Frames for open CU channels go over in
  // one hand-over per channel and run of frames; any other frame is routed at its place in the
  // stream. The count taken, 0 when none is complete, -1 when the input lost its framing (and was
  // discarded) before any frame was taken.
  int TakeFrames();
  void Dispatch(uint8_t* frame);
  // Adds a data frame for an open CU channel to the pending hand-over (or drops it when no channel
  // holds its socket); false for frames that Dispatch must route.
  bool Collect(uint8_t* frame);
  void FlushCollected();
  int HandleFlowMessage(const uint8_t* frame);
  int HandleRedCardAnswer(const uint8_t* frame);
  void HandleCredits(const uint8_t* frame);
  void ResetInput();
  int InputBuffered() const { return static_cast<int>(m_iend - m_ip); }
  int InputOffset() const { return static_cast<int>(m_ip - m_ibuf); }

  // ---- framing (writer side: TO); writer thread only once running ----
  int PutOutput(const void* bytes, int count);
  int FormatMessage(const void* payload, int length, long socket_number);
  int SendOutput();
  int SendMessage(const void* payload, int length, long socket_number);
  void SendRedCard();
  int OutputBuffered() const { return static_cast<int>(m_oend - m_ostart); }

  bool OpenTransport(int comPort, const char* host);
  bool OpenSerial(int n);
  bool SetupNetworkCard(const char* host);
  bool OpenLan(const char* host);
  void CloseTransport() { m_transport.reset(); }
  bool StartSession();
  bool WaitRedCardAnswer();
  // Stops every worker thread: CAN-slave, open-CU, event, reader, writer.
  void StopThreads(bool goodbye);
  void ResetSession();
  // Drops a module from the array after marking it removed (m_modLock held by the caller).
  void RetireModule(size_t index);
  // Stops a CAN-slave thread whose "CS" module left; it is destroyed with the session's threads.
  void RetireCsThread();
  void FillBuiltinDescs();
  void TraceInput(const char* source, const char* what);

  CZematTimings m_timings;
  CMainDispatcher* m_dispatcher = nullptr;
  CDirectDispatcher m_direct;
  // Set while a link is open; the reader and writer use it only between start and stop.
  std::unique_ptr<CTransport> m_transport;
  std::atomic<int> m_connected{0};
  std::atomic<bool> m_inputEnded{false};
  int m_telnetPort = 23;
  int m_dataPort = 9100;
  std::map<int, std::string> m_serialDevices;

  uint8_t m_mode = 0;
  std::atomic<uint8_t> m_status{0};
  uint8_t m_ibuf[Z_INPUT_BUFFER];
  uint8_t m_obuf[Z_BUFFER_SIZE];
  uint8_t* m_ip = m_ibuf;
  uint8_t* m_iend = m_ibuf;
  uint8_t* m_ostart = m_obuf;
  uint8_t* m_oend = m_obuf;
  bool m_inputBroken = false;
  // The reader's pending hand-over: frames for one channel and socket (reused, so a stream does not
  // allocate here).
  CCuIoBase* m_collectCu = nullptr;
  long m_collectSocket = Z_NO_SOCKET;
  std::vector<uint8_t*> m_collected;

  std::shared_ptr<CCuDesc> m_CfgDesc, m_EvtDesc, m_OpnDesc;
  std::unique_ptr<CCuCtrlIO> m_cfgIO, m_evtIO, m_opnIO;
  std::atomic<long> m_cfgSocket{Z_NO_SOCKET}, m_evtSocket{Z_NO_SOCKET}, m_opnSocket{Z_NO_SOCKET};

  std::unique_ptr<TMasterEvtCu> m_evtThread;
  std::unique_ptr<TCsCuThread> m_csThread;
  // Retired CAN-slave threads stay until the session's threads stop: other threads may still hold them.
  std::vector<std::unique_ptr<TCsCuThread>> m_retiredCs;
  std::mutex m_csLock;        // guards m_csThread and m_retiredCs
  std::mutex m_csCreateLock;  // serialises its creation
  std::unique_ptr<COpenCuThread> m_openThread;

  mutable std::mutex m_openLock;  // guards m_openCus and m_earlyCredits
  std::vector<CCuIoBase*> m_openCus;
  std::map<long, std::vector<int>> m_earlyCredits;  // socket -> grants seen before it was assigned

  mutable std::mutex m_modLock;  // guards the module array's shape
  std::vector<std::shared_ptr<CModule>> m_modules;

  std::unique_ptr<TZematRead> m_reader;
  std::unique_ptr<TZematWrite> m_writer;
  mutable std::shared_mutex m_writerLock;  // writers use m_writer shared; stopping it is exclusive
  std::atomic<unsigned> m_timeout{5000};
  std::atomic<bool> m_lossReported{false};
  std::atomic<bool> m_cancel{false};
};
