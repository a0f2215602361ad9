// What an open CU does: one small class per behaviour behind the CuBehaviour interface, created by
// name through a registry, and the CuContext through which a behaviour talks to the session.
#pragma once

#include "zemat-sim/SimConfig.h"
#include "zemat-sim/Wire.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zsim {

class ModuleLoader;

using Clock = std::chrono::steady_clock;

// The session's side of one open CU, as a behaviour sees it.
class CuContext {
 public:
  virtual ~CuContext() = default;
  // Queues one message to the host; it leaves when the host's read credits allow.
  virtual void send(const Bytes& payload) = 0;
  // Gives the host n more send credits on this CU (no-op for slave CUs).
  virtual void grant(int n) = 0;
  virtual void log(const std::string& text) = 0;
  virtual void count_instruction() = 0;
  // Starts (or replaces) a deterministic stream on this CU: count messages of size bytes at rate
  // per second (0: as fast as credits allow; count 0: until the CU closes).
  virtual void start_stream(long count, int size, double rate) = 0;
  // Hands a frame that arrived on a CAN-slave CU to the slave CU with that socket.
  virtual bool deliver_to_slave(uint16_t slave_socket, const uint8_t* data, size_t n) = 0;
  virtual const CuConfig& cu() const = 0;
  virtual const std::string& module_type() const = 0;
  virtual const std::string& module_serial() const = 0;
  virtual uint16_t socket() const = 0;
  // True when a message sent now leaves at once: the host has a read credit free and nothing waits.
  // Producers ask first, so that a host that reads slowly never makes a queue grow.
  virtual bool can_send() const = 0;
  // The firmware loader of this CU's module when the module has a CU with the "loader" behaviour.
  virtual ModuleLoader* loader() { return nullptr; }
  // Ends the data link once the current input is handled (a loader fault).
  virtual void drop_link() {}
};

class CuBehaviour {
 public:
  virtual ~CuBehaviour() = default;
  virtual void on_open(CuContext&) {}
  // One message from the host (payload only; for slave CUs without the slave socket).
  virtual void on_frame(CuContext&, const uint8_t* data, size_t n) = 0;
  virtual void on_close(CuContext&) {}
  virtual void on_tick(CuContext&, Clock::time_point) {}
  // The "emit" command: n messages of the CU's kind, sent as credits allow; false when this
  // behaviour produces no data.
  virtual bool on_emit(CuContext&, long) { return false; }
  // Asked before each message from the host: true keeps its send credit back (a starved CU).
  virtual bool withholds_credit(CuContext&) { return false; }
};

using BehaviourFactory = std::function<std::unique_ptr<CuBehaviour>()>;

// Registers a behaviour under a name (lower case); a later registration replaces an earlier one.
void register_behaviour(const std::string& name, BehaviourFactory factory);
bool behaviour_known(const std::string& name);
// Creates the behaviour; an unknown name gives the silent behaviour.
std::unique_ptr<CuBehaviour> make_behaviour(const std::string& name);
std::vector<std::string> behaviour_names();
// Whether the behaviour produces data of its own (and so takes "period_ms" and "emit").
bool behaviour_produces_data(const std::string& name);

// The payload of an event frame on the event control CU: type byte 1, the code (2 bytes), then
// "EVENT <code>" and a zero.
Bytes make_event_payload(unsigned code);
// An event on a module's event CU, as text: "EVENT <code>,<seconds since 1970>,<module type>".
Bytes make_event_text(unsigned code, long long seconds, const std::string& module_type);
// Instruction text as a CU receives it: up to the first zero byte, trailing CR/LF removed.
std::string instruction_text(const uint8_t* data, size_t n);
// The reply to an instruction: the CU's table entry, else "OK <instruction>" (empty: no reply).
std::string instruction_reply(const CuConfig& cu, const std::string& instruction);

// Byte i of stream message k.
inline uint8_t stream_byte(long k, size_t i) { return static_cast<uint8_t>((k + static_cast<long>(i)) & 0xFF); }

}  // namespace zsim
