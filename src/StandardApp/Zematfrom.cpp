// Zematfrom.cpp: the receiving side of the framing: input buffer, frame cutting, the red-card
// answer scan, routing by socket and the flow-socket messages. Runs on the reader thread (or on
// the connecting thread before the reader starts).
#include <algorithm>
#include <cstring>

#include "StandardApp/Framepool.h"
#include "StandardApp/Tracer.h"
#include "StandardApp/Zassert.h"
#include "StandardApp/Zematcore.h"

void CZematInstr::ResetInput() {
  m_ip = m_iend = m_ibuf;
  m_inputBroken = false;
}

void CZematInstr::TraceInput(const char* source, const char* what) {
  if (!Tracer().Enabled(1)) return;
  int iend = static_cast<int>(m_iend - m_ibuf);
  Tracer().Trace(1, source, "%s, m_ibuf = %d, m_ip = %d, m_iend = %d, free = %d, msg = %d", what, 0,
                 static_cast<int>(m_ip - m_ibuf), iend, Z_INPUT_BUFFER - iend, static_cast<int>(m_iend - m_ip));
  // A frame's worth of the buffer, from the unconsumed input on: the bytes that could not be cut.
  const uint8_t* from = std::min<const uint8_t*>(m_ip, m_ibuf + Z_INPUT_BUFFER - Z_BUFFER_SIZE);
  Tracer().TraceHex(2, source, from, Z_BUFFER_SIZE, "input buffer: \n");
}

int CZematInstr::Poll(unsigned waitMs) {
  int pending = static_cast<int>(m_iend - m_ip);
  if (pending > 0 && m_ip != m_ibuf) std::memmove(m_ibuf, m_ip, pending);
  m_ip = m_ibuf;
  m_iend = m_ibuf + pending;
  if (m_iend - m_ibuf > Z_INPUT_BUFFER - 1) TraceInput("CZematInstr::Poll", "buffer overflow");
  int space = Z_INPUT_BUFFER - pending;
  if (space <= 0) return 0;
  int count = m_transport ? m_transport->Receive(m_iend, space, waitMs) : -1;
  if (count > 0)
    m_iend += count;
  else if (m_transport && m_transport->InputEnded())
    m_inputEnded.store(true);
  return count;
}

bool CZematInstr::TestMsgComplete() {
  if (m_iend - m_ip < Z_LEN_LEN) return false;
  unsigned length = ReadU16(m_ip);
  if (length > static_cast<unsigned>(Z_FRAME_MAX) || length < static_cast<unsigned>(Z_HEADER_LEN)) {
    if (!m_inputBroken) TraceInput("CZematInstr::TestMsgComplete", "invalid message length");
    m_inputBroken = true;  // the stream cannot be cut from here: the reader resynchronises
    return false;
  }
  return m_iend - m_ip >= static_cast<long>(length);
}

uint8_t* CZematInstr::GetMessage() {
  unsigned length = ReadU16(m_ip);
  Z_ASSERT(length >= (unsigned)Z_HEADER_LEN && (long)length <= m_iend - m_ip, Z_MODULE_FROM);
  uint8_t* frame = framepool::Take(length);
  std::memcpy(frame, m_ip, length);
  m_ip += length;
  return frame;
}

int CZematInstr::TakeFrame() {
  if (GetStatus() == 1) {
    // Waiting for the answer to our red card: scan, do not cut frames.
    if (!TestRedCardAnswer()) return 0;
    uint8_t* answer = GetMessage();
    HandleRedCardAnswer(answer);
    delete[] answer;
    return 1;
  }
  if (TestMsgComplete()) {
    Dispatch(GetMessage());
    return 1;
  }
  if (!InputBroken()) return 0;
  ResetInput();
  return -1;
}

int CZematInstr::TakeFrames() {
  int taken = 0;
  for (;;) {
    if (GetStatus() == 1) {  // the red-card answer is scanned for, one step at a time
      FlushCollected();
      const int r = TakeFrame();
      if (r > 0) {
        ++taken;
        continue;
      }
      if (r < 0 && taken == 0) return -1;
      break;
    }
    if (!TestMsgComplete()) break;
    uint8_t* frame = GetMessage();
    ++taken;
    if (Collect(frame)) continue;
    FlushCollected();  // everything before this frame reaches its channels first
    Dispatch(frame);
  }
  FlushCollected();
  if (taken > 0) return taken;  // a broken length behind them is met on the next step
  if (!InputBroken()) return 0;
  ResetInput();
  return -1;
}

bool CZematInstr::Collect(uint8_t* frame) {
  const long s = ReadU16(frame + 2);
  if (s > Z_SOCKET_MAX || s == m_cfgSocket.load() || s == m_evtSocket.load() || s == m_opnSocket.load()) return false;
  if (m_collectCu && s == m_collectSocket) {
    m_collected.push_back(frame);
    return true;
  }
  FlushCollected();
  std::lock_guard<std::mutex> g(m_openLock);
  for (CCuIoBase* cu : m_openCus) {
    if (cu->GetSocket() == s) {
      m_collectCu = cu;
      m_collectSocket = s;
      m_collected.push_back(frame);
      return true;
    }
  }
  delete[] frame;  // no channel holds this socket
  return true;
}

void CZematInstr::FlushCollected() {
  if (!m_collectCu) return;
  CCuIoBase* cu = m_collectCu;
  const long socket = m_collectSocket;
  m_collectCu = nullptr;
  m_collectSocket = Z_NO_SOCKET;
  struct Clear {  // the frames belong to the channel once handed over, also when it throws
    std::vector<uint8_t*>& frames;
    ~Clear() { frames.clear(); }
  } clear{m_collected};
  {
    // The channel may have left the list (and be gone) since it was looked up: hand over only to a
    // channel still listed on the same socket.
    std::lock_guard<std::mutex> g(m_openLock);
    if (std::find(m_openCus.begin(), m_openCus.end(), cu) != m_openCus.end() && cu->GetSocket() == socket)
      return cu->DeliverMany(m_collected.data(), m_collected.size());
  }
  for (uint8_t* frame : m_collected) delete[] frame;
}

bool CZematInstr::TestRedCardAnswer() {
  if (m_iend - m_ip < 6) return false;
  uint8_t* p = m_ip + 2;
  bool found = false;
  for (; p <= m_iend - 4; ++p) {
    if (p[0] == 0xFF && p[1] == 0xFF && p[2] == 0xFF && p[3] == 0xFF) {
      unsigned length = ReadU16(p - 2);
      if (length == 6 || length == 12) {
        found = true;
        break;
      }
    }
  }
  // Keep the answer (or, when none was found, the last five bytes, which may begin one).
  int keep = static_cast<int>(m_iend - (p - 2));
  std::memmove(m_ibuf, p - 2, keep);
  m_ip = m_ibuf;
  m_iend = m_ibuf + keep;
  m_inputBroken = false;
  return found && keep >= static_cast<int>(ReadU16(m_ibuf));
}

void CZematInstr::Dispatch(uint8_t* frame) {
  long s = ReadU16(frame + 2);
  int length = static_cast<int>(ReadU16(frame));
  if (s == Z_FLOW_SOCKET_NUMBER) {
    HandleFlowMessage(frame);
    delete[] frame;
    return;
  }
  if (s > Z_SOCKET_MAX) {  // 65533/65534: no channel can hold them
    Tracer().Trace(2, "CZematInstr::Dispatch", "frame on socket %ld dropped", s);
    delete[] frame;
    return;
  }
  if (s == m_cfgSocket.load() && m_cfgIO) return m_cfgIO->Deliver(frame, length);
  if (s == m_evtSocket.load() && m_evtIO) return m_evtIO->Deliver(frame, length);
  if (s == m_opnSocket.load() && m_opnIO) {
    if (length >= 5 && frame[4] == Z_OPEN_CU) {
      // Remember the socket an open reply assigns, so that a credit grant right behind it is kept.
      const uint8_t* p = frame + 4;
      int n = length - 4, texts = 0, i = 1;
      for (; i < n && texts < 3; ++i)
        if (p[i] == 0) ++texts;
      if (texts == 3 && i + 8 <= n) ExpectSocket(ReadU16(p + i + 6));
    }
    return m_opnIO->Deliver(frame, length);
  }
  std::lock_guard<std::mutex> g(m_openLock);
  for (CCuIoBase* cu : m_openCus)
    if (cu->GetSocket() == s) return cu->Deliver(frame, length);
  delete[] frame;  // no channel holds this socket
}

int CZematInstr::HandleFlowMessage(const uint8_t* frame) {
  if (ReadU16(frame) >= 6 && ReadU16(frame + 4) == Z_FLOW_SOCKET_NUMBER) return HandleRedCardAnswer(frame);
  HandleCredits(frame);
  return 0;
}

int CZematInstr::HandleRedCardAnswer(const uint8_t* frame) {
  unsigned length = ReadU16(frame);
  long cfg = 0, evt = 1, opn = 2;
  if (length == 12) {
    m_mode = 2;
    cfg = ReadU16(frame + 6);
    evt = ReadU16(frame + 8);
    opn = ReadU16(frame + 10);
  } else if (length == 6) {
    m_mode = 1;
  } else {
    m_mode = 0;
    return -1;
  }
  if (!m_CfgDesc) m_CfgDesc = std::make_shared<CCuDesc>(this, nullptr);
  if (!m_EvtDesc) m_EvtDesc = std::make_shared<CCuDesc>(this, nullptr);
  if (!m_OpnDesc) m_OpnDesc = std::make_shared<CCuDesc>(this, nullptr);
  FillBuiltinDescs();
  if (!m_cfgIO) m_cfgIO = std::make_unique<CCuCtrlIO>(m_CfgDesc);
  if (!m_evtIO) m_evtIO = std::make_unique<CCuCtrlIO>(m_EvtDesc);
  if (!m_opnIO) m_opnIO = std::make_unique<CCuCtrlIO>(m_OpnDesc);
  m_cfgSocket.store(cfg);
  m_evtSocket.store(evt);
  m_opnSocket.store(opn);
  m_cfgIO->SetSocket(cfg);
  m_evtIO->SetSocket(evt);
  m_opnIO->SetSocket(opn);
  m_status.store(IN_SYNC);
  return 0;
}

void CZematInstr::FillBuiltinDescs() {
  m_CfgDesc->FillBuiltin("CONFIG    ", "CF", 1, 128, 1, 128);
  m_OpnDesc->FillBuiltin("OPEN      ", "OP", 1, 128, 1, 128);
  m_EvtDesc->FillBuiltin("EVENT     ", "EV", 1, 128, 0, 0);
}

void CZematInstr::HandleCredits(const uint8_t* frame) {
  int length = static_cast<int>(ReadU16(frame));
  // Only whole 3-byte entries count: a trailing fragment would lie outside the frame.
  for (int ofs = Z_HEADER_LEN; ofs + 3 <= length; ofs += 3) {
    long s = ReadU16(frame + ofs);
    int count = frame[ofs + 2];
    if (count == 0) continue;
    if (s == m_cfgSocket.load() && m_cfgIO) {
      m_cfgIO->AddCredit(count);
    } else if (s == m_opnSocket.load() && m_opnIO) {
      m_opnIO->AddCredit(count);
    } else if (s != m_evtSocket.load() && s <= Z_SOCKET_MAX) {
      std::lock_guard<std::mutex> g(m_openLock);
      CCuIoBase* target = nullptr;
      for (CCuIoBase* cu : m_openCus)
        if (cu->GetSocket() == s) target = cu;
      if (target) {
        target->AddCredit(count);
      } else if (auto it = m_earlyCredits.find(s); it != m_earlyCredits.end()) {
        if (it->second.size() < 64) it->second.push_back(count);  // open reply not yet handled
      }
    }
  }
}
