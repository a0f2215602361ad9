// CliChannel.h: one CU channel opened by the client, directly or as a slave behind the "CS" CU, with
// the payload of each received message turned into one printable line.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "StandardApp/Cu.h"
#include "morvent-cli/CliSession.h"

class CCliChannel {
 public:
  CCliChannel(CCliSession& session, std::shared_ptr<CCuDesc> desc, bool viaCs);
  // Closes the channel unless its module went away (the instrument then no longer knows the socket).
  ~CCliChannel();
  CCliChannel(const CCliChannel&) = delete;
  CCliChannel& operator=(const CCliChannel&) = delete;

  bool Open();
  // Z_OK when the instruction was handed to the writer.
  int Write(const std::string& text);
  // Waits up to ms for one message; its payload line, or nullopt on time-out.
  std::optional<std::string> ReadLine(unsigned ms);
  void Close();

 private:
  CCliSession& m_session;
  std::shared_ptr<CCuDesc> m_desc;  // kept alive for the channel's whole life
  bool m_viaCs;
  std::unique_ptr<CCuIoBase> m_channel;
  bool m_open = false;
  std::vector<unsigned char> m_buffer = std::vector<unsigned char>(Z_READ_BUFFER);
};

// The payload's text up to its first zero byte, other control characters shown as '.', so that a
// message is always exactly one line.
std::string PayloadLine(const unsigned char* payload, int length);
