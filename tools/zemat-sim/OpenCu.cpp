// One open CU as its behaviour sees it: sending, credits, streams and slave routing go to the session.
#include "zemat-sim/Session.h"

namespace zsim {

OpenCu::OpenCu(Session& s, const ModuleConfig& m, size_t index, uint16_t socket, bool is_slave, uint16_t cs)
    : session(s),
      module_id(m.id),
      cu_index(index),
      type(m.type),
      serial(m.serial),
      cfg(m.cus[index]),
      behaviour_name(cfg.behaviour.empty() ? default_behaviour(cfg.name) : cfg.behaviour),
      sock(socket),
      slave(is_slave),
      cs_socket(cs),
      behaviour(make_behaviour(behaviour_name)),
      opened(Clock::now()) {}

void OpenCu::send(const Bytes& payload) {
  if (!slave) return session.queue_frame(sock, payload);
  Bytes framed;
  put_u16(framed, sock);
  framed.insert(framed.end(), payload.begin(), payload.end());
  session.queue_frame(cs_socket, std::move(framed));
}

bool OpenCu::can_send() const { return session.can_send(*this); }

ModuleLoader* OpenCu::loader() { return session.loader_of(module_id); }

void OpenCu::drop_link() { session.request_drop(); }

void OpenCu::grant(int n) { session.grant(*this, n); }

void OpenCu::log(const std::string& text) {
  session.log(type + "/" + cfg.name + " (socket " + std::to_string(sock) + "): " + text);
}

void OpenCu::count_instruction() { ++session.stats().instructions; }

void OpenCu::start_stream(long count, int size, double rate) { session.start_stream(*this, count, size, rate); }

bool OpenCu::deliver_to_slave(uint16_t slave_socket, const uint8_t* data, size_t n) {
  return session.deliver_to_slave(slave_socket, data, n);
}

}  // namespace zsim
