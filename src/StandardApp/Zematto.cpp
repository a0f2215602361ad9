// Zematto.cpp: the sending side of the framing: output buffer, frame assembly, sending and the
// red card. Runs on the writer thread once the session is up.
#include <cstring>

#include "StandardApp/Tracer.h"
#include "StandardApp/Zassert.h"
#include "StandardApp/Zematcore.h"
#include "StandardApp/Zematwrite.h"

void CZematInstr::WriteU16(uint8_t* destination, long number) {
  Z_ASSERT(number <= (long)Z_FLOW_SOCKET_NUMBER, Z_MODULE_TO);
  Z_ASSERT(number >= (long)0, Z_MODULE_TO);
  destination[0] = static_cast<uint8_t>(number >> 8);
  destination[1] = static_cast<uint8_t>(number & 0xFF);
}

namespace {
// The sending side's preconditions (programming errors), named as the assertions print them.
void CheckFrame(const void* string, int length, long socket_number) {
  Z_ASSERT(string != 0, Z_MODULE_TO);
  Z_ASSERT(length > 0, Z_MODULE_TO);
  Z_ASSERT((int)length <= Z_MESSAGELENGTH_MAX, Z_MODULE_TO);
  Z_ASSERT(socket_number >= (long)Z_SOCKET_MIN, Z_MODULE_TO);
  Z_ASSERT(socket_number <= (long)Z_FLOW_SOCKET_NUMBER, Z_MODULE_TO);
}
}  // namespace

int CZematInstr::PutOutput(const void* bytes, int count) {
  if (count < 0 || count > (m_obuf + Z_BUFFER_SIZE) - m_oend) return -1;
  std::memcpy(m_oend, bytes, count);
  m_oend += count;
  return count;
}

int CZematInstr::FormatMessage(const void* payload, int length, long socket_number) {
  CheckFrame(payload, length, socket_number);
  uint8_t lengthField[Z_LEN_LEN];
  uint8_t socketField[Z_SOCKET_LEN];
  WriteU16(lengthField, length + Z_HEADER_LEN);
  WriteU16(socketField, socket_number);
  long byte_count = PutOutput(lengthField, Z_LEN_LEN);
  Z_ASSERT((byte_count == (long)Z_LEN_LEN), Z_MODULE_TO);
  byte_count = PutOutput(socketField, Z_SOCKET_LEN);
  Z_ASSERT((byte_count == (long)Z_SOCKET_LEN), Z_MODULE_TO);
  byte_count = PutOutput(payload, length);
  Z_ASSERT((byte_count == length), Z_MODULE_TO);
  return length + Z_HEADER_LEN;
}

int CZematInstr::SendOutput() {
  int count = static_cast<int>(m_oend - m_ostart);
  if (count == 0) return 0;
  int partial = 0;
  int sent = m_transport ? m_transport->Send(m_ostart, count, partial) : -1;
  if (sent < 0) {
    // What did not go out stays and goes out in front of the next frame; what did go out must not
    // be sent twice.
    m_ostart += partial;
    return -1;
  }
  m_ostart = m_oend = m_obuf;
  return sent;
}

int CZematInstr::SendMessage(const void* payload, int length, long socket_number) {
  CheckFrame(payload, length, socket_number);
  if (length + Z_HEADER_LEN > (m_obuf + Z_BUFFER_SIZE) - m_oend) {
    // Earlier failed frames (or an oversized payload) leave no room: drop them and fail this write.
    Tracer().Trace(1, "CZematInstr::SendMessage", "output buffer full, %d bytes dropped, frame of %d bytes refused",
                   OutputBuffered(), length + Z_HEADER_LEN);
    m_ostart = m_oend = m_obuf;
    return -1;
  }
  FormatMessage(payload, length, socket_number);
  int sent = SendOutput();
  if (sent < 0) sent = SendOutput();  // one retry of everything still buffered
  return sent;
}

void CZematInstr::SendRedCard() {
  static const uint8_t lengthField[2] = {0x00, 0x06};
  static const uint8_t marker[Z_REDCARD_LEN] = {0xFF, 0xFF, 0xFF, 0xFF};
  ResetInput();
  m_status.store(1);
  WriteRawPair(lengthField, sizeof lengthField, marker, sizeof marker);
}
