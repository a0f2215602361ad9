// TestConfig.h: the simulated instrument the client tests play against, and its expected tree.
#pragma once

#include <string>

namespace clitest {

// MAIN-1 holds an instruction CU (with one instruction that gets no reply), an event CU, a fast and a
// slow stream (3-byte messages) and the CAN-slave CU; VALVE-S1 is a list-2 module behind it.
inline const char* const kInstrumentJson = R"({
  "keepalive_ms": 1000,
  "modules": [
    { "type": "MAIN-1", "serial": "000123", "list": 1, "cus": [
      { "name": "IN", "owner": "MAIN", "description": "INSTRUCT",
        "replies": { "*IDN?": "MAIN-1,000123", "QUIET": "" } },
      { "name": "EV", "owner": "MAIN", "description": "EVENTS", "in_count": 0 },
      { "name": "ST", "owner": "MAIN", "description": "STREAM", "behaviour": "stream",
        "stream_count": 0, "stream_size": 3 },
      { "name": "SR", "owner": "MAIN", "description": "SLOWSTREAM", "behaviour": "stream",
        "stream_count": 0, "stream_size": 3, "stream_rate": 40 },
      { "name": "CS", "owner": "MAIN", "description": "CANSLAVE", "in_count": 8 } ] },
    { "type": "PUMP-2", "serial": "000456", "list": 1, "cus": [
      { "name": "IN", "owner": "PUMP", "description": "INSTRUCT" } ] },
    { "type": "VALVE-S1", "serial": "200001", "list": 2, "cus": [
      { "name": "IN", "owner": "VALVE", "description": "INSTRUCT", "in_count": 2 } ] }
  ]
})";

inline const char* const kInstrumentTree =
    "Serion Instrument\n"
    "  MAIN-1 - 000123\n"
    "    IN\n"
    "    EV\n"
    "    ST\n"
    "    SR\n"
    "    CS\n"
    "  PUMP-2 - 000456\n"
    "    IN\n"
    "  VALVE-S1 - 200001 (CS)\n"
    "    IN\n";

}  // namespace clitest
