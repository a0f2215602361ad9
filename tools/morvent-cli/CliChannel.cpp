// CliChannel.cpp: opening, writing, reading and closing the client's CU channel.
#include "morvent-cli/CliChannel.h"

CCliChannel::CCliChannel(CCliSession& session, std::shared_ptr<CCuDesc> desc, bool viaCs)
    : m_session(session), m_desc(std::move(desc)), m_viaCs(viaCs) {
  if (viaCs)
    m_channel = std::make_unique<CCuIoSlave>(m_desc);
  else
    m_channel = std::make_unique<CBaseCuIO>();
}

CCliChannel::~CCliChannel() { Close(); }

bool CCliChannel::Open() {
  CCuIoBase* channel = m_channel.get();
  std::shared_ptr<CCuDesc> desc = m_desc;
  bool viaCs = m_viaCs;
  m_session.Instr().WatchModule(desc->GetModule()->shared_from_this());
  // A lost link never brings the open reply: a failure result ends the wait at once.
  int ok = m_session.Await(
      [channel, desc, viaCs] { return viaCs ? channel->Open() : static_cast<CBaseCuIO*>(channel)->OpenOn(desc); },
      [channel] { channel->DeliverResult(0); });
  m_open = ok == 1;
  return m_open;
}

int CCliChannel::Write(const std::string& text) {
  CCuIoBase* channel = m_channel.get();
  // A lost link never brings a credit: one granted here lets a waiting write fail at the writer.
  return m_session.Await([channel, &text] { return channel->Write(text.data(), static_cast<int>(text.size())); },
                         [channel] { channel->AddCredit(1); });
}

std::optional<std::string> CCliChannel::ReadLine(unsigned ms) {
  int length = Z_READ_BUFFER;
  if (m_channel->Read(m_buffer.data(), &length, ms) != Z_OK) return std::nullopt;
  // A slave's frame carries the slave socket in front of its payload.
  int offset = Z_HEADER_LEN + (m_viaCs ? 2 : 0);
  int frameLength = length - 1;
  if (frameLength <= offset) return std::string();
  return PayloadLine(m_buffer.data() + offset, frameLength - offset);
}

void CCliChannel::Close() {
  if (!m_open) return;
  m_open = false;
  if (m_session.Instr().WatchedModuleRemoved() || !m_session.Instr().IsConnected()) return;
  CCuIoBase* channel = m_channel.get();
  m_session.Await([channel] { return channel->Close(); }, [channel] { channel->DeliverResult(0); });
}

std::string PayloadLine(const unsigned char* payload, int length) {
  std::string line;
  for (int i = 0; i < length && payload[i] != 0; ++i) {
    unsigned char c = payload[i];
    line.push_back(c < 0x20 || c == 0x7F ? '.' : static_cast<char>(c));
  }
  return line;
}
