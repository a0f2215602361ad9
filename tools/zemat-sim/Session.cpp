// The instrument's side of one Zemat session: frames in, replies, credits and streams out.
#include "zemat-sim/Session.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace zsim {
namespace {

constexpr uint8_t Z_MODULE_FIRST_L1 = 0x01, Z_MODULE_NEXT_L1 = 0x02;
constexpr uint8_t Z_MODULE_FIRST_L2 = 0x12, Z_MODULE_NEXT_L2 = 0x13;
constexpr uint8_t Z_FIRST_CU_DESC = 0x04, Z_NEXT_CU_DESC = 0x05;
constexpr uint8_t Z_GOODBYE = 0x07, Z_END_OF_LIST = 0x0E;
constexpr uint8_t Z_OPEN = 0x09, Z_CLOSE = 0x0A, Z_SLAVE_OPEN = 0x14, Z_SLAVE_CLOSE = 0x15;
constexpr uint8_t Z_REFUSED = 0x0F;
constexpr size_t kQueueLimit = 4096;  // frames waiting for credits per socket
constexpr size_t kStreamPendingLimit = 256 * 1024;

Bytes module_body(const ModuleConfig& m) {
  Bytes b(m.type.begin(), m.type.end());
  b.push_back(0);
  b.insert(b.end(), m.serial.begin(), m.serial.end());
  b.push_back(0);
  return b;
}

Bytes key_body(const CuConfig& c) {
  Bytes b;
  for (const std::string* s : {&c.owner, &c.description, &c.name}) {
    b.insert(b.end(), s->begin(), s->end());
    b.push_back(0);
  }
  return b;
}

Bytes desc_record(const CuConfig& c, uint8_t type) {
  Bytes b{type};
  Bytes k = key_body(c);
  b.insert(b.end(), k.begin(), k.end());
  b.push_back(static_cast<uint8_t>(c.out_count));
  put_u16(b, static_cast<unsigned>(c.out_size));
  b.push_back(static_cast<uint8_t>(c.in_count));
  put_u16(b, static_cast<unsigned>(c.in_size));
  return b;
}

// Length of the three zero-terminated texts at p, or 0 when they do not fit in n bytes.
size_t key_length(const uint8_t* p, size_t n) {
  size_t pos = 0;
  for (int i = 0; i < 3; ++i) {
    const void* z = std::memchr(p + pos, 0, n - pos);
    if (!z) return 0;
    pos = static_cast<size_t>(static_cast<const uint8_t*>(z) - p) + 1;
  }
  return pos;
}

bool equals(const Bytes& a, const uint8_t* p, size_t n) { return a.size() == n && std::equal(a.begin(), a.end(), p); }

}  // namespace

Session::Session(SimConfig& cfg, Stats& stats, ByteSink& out, LogFn log)
    : cfg_(cfg), stats_(stats), out_(out), log_(std::move(log)) {}

Session::~Session() { reset_cus(); }

void Session::on_bytes(const uint8_t* p, size_t n) {
  FrameSplitter::Result r = splitter_.feed(p, n);
  for (bool again = true; again;) {
    report(r);
    again = false;
    for (size_t i = 0; i < r.frames.size() && !again; ++i) {
      bool ended = goodbye_;
      on_frame(r.frames[i]);
      if (goodbye_ && !ended) {
        // After the goodbye only a red card starts over, also within the same read.
        Bytes rest;
        for (size_t j = i + 1; j < r.frames.size(); ++j)
          rest.insert(rest.end(), r.frames[j].begin(), r.frames[j].end());
        splitter_.restart(rest);
        r = splitter_.feed(nullptr, 0);
        again = true;
      }
    }
  }
  flush();
}

void Session::report(const FrameSplitter::Result& r) {
  if (r.bad_lengths) {
    stats_.bad_frames += r.bad_lengths;
    log_("frame with impossible length field from the host; waiting for a red card");
  }
  if (r.discarded) log_("discarded " + std::to_string(r.discarded) + " bytes while waiting for a red card");
}

void Session::on_frame(const Bytes& f) {
  ++stats_.frames_in;
  uint16_t s = read_u16(&f[2]);
  const uint8_t* p = f.data() + 4;
  size_t n = f.size() - 4;
  if (s == Z_FLOW_SOCKET_NUMBER) return on_flow(f);
  if (!in_sync_) {
    log_("frame on socket " + std::to_string(s) + " before the red card, dropped");
    return;
  }
  if (n == 0 && s != cfg_sock_) {
    log_("empty frame on socket " + std::to_string(s) + ", dropped");
    return;
  }
  if (s == cfg_sock_ || s == opn_sock_ || s == evt_sock_) {
    // The credit goes back as the request is taken, ahead of its reply.
    if (within_credit(s)) give_back(s, 1);
    if (n == 0)
      log_("empty request on the configuration CU, dropped");
    else if (s == cfg_sock_)
      on_config_request(p, n);
    else if (s == opn_sock_)
      on_open_request(p, n);
    else
      log_("message on the event CU ignored");
    return;
  }
  auto it = open_.find(s);
  if (it == open_.end()) {
    ++stats_.unknown_sockets;
    log_("frame for socket " + std::to_string(s) + " that no open CU holds, dropped: " + hex(f.data(), f.size()));
    return;
  }
  on_cu_frame(*it->second, p, n);
}

void Session::on_cu_frame(OpenCu& cu, const uint8_t* p, size_t n) {
  if (within_credit(cu.sock) && !cu.behaviour->withholds_credit(cu)) give_back(cu.sock, 1);
  cu.behaviour->on_frame(cu, p, n);
}

bool Session::within_credit(uint16_t socket) {
  Channel& ch = channels_[socket];
  if (++ch.received <= ch.allowance) return true;
  ++stats_.credit_violations;
  log_("credit violation: host sent frame " + std::to_string(ch.received) + " on socket " + std::to_string(socket) +
       " with only " + std::to_string(ch.allowance) + " credits");
  return false;
}

void Session::give_back(uint16_t socket, int n) {
  Channel& ch = channels_[socket];
  while (n > 0) {
    int c = std::min(n, 255);
    ch.allowance += c;
    write_frame(make_credit(socket, static_cast<uint8_t>(c)), false);
    n -= c;
  }
}

void Session::on_flow(const Bytes& f) {
  if (f.size() >= 6 && f[4] == 0xFF && f[5] == 0xFF) return on_redcard();
  if (!in_sync_) {
    log_("credit message before the red card, ignored");
    return;
  }
  on_credits(f);
}

void Session::on_redcard() {
  ++stats_.redcards;
  if (in_sync_) {
    // The host resynchronises within its session (its control channels and open CUs live on):
    // keep every CU, answer again, and grant send credits anew, because the host threw away
    // whatever was in flight, credit grants included; without them a CU could starve.
    write_frame(make_frame(Z_FLOW_SOCKET_NUMBER, redcard_answer()), false);
    for (uint16_t s : {cfg_sock_, evt_sock_, opn_sock_}) give_back(s, 1);
    for (auto& [s, cu] : open_)
      if (int n = cu->cfg.in_count > 0 ? cu->cfg.in_count : channels_[s].allowance > 0 ? 1 : 0) give_back(s, n);
    log_("red card while synchronised answered; CUs kept, send credits granted anew");
    return;
  }
  reset_cus();
  channels_.clear();
  goodbye_ = false;
  if (cfg_.redcard_sockets) {
    cfg_sock_ = static_cast<uint16_t>((*cfg_.redcard_sockets)[0]);
    evt_sock_ = static_cast<uint16_t>((*cfg_.redcard_sockets)[1]);
    opn_sock_ = static_cast<uint16_t>((*cfg_.redcard_sockets)[2]);
  } else {
    cfg_sock_ = 0, evt_sock_ = 1, opn_sock_ = 2;
  }
  for (uint16_t s : {cfg_sock_, evt_sock_, opn_sock_})
    channels_[s].allowance = 1;  // the host starts with one send credit on each control CU
  Bytes answer = redcard_answer();
  write_frame(make_frame(Z_FLOW_SOCKET_NUMBER, answer), false);
  in_sync_ = true;
  log_("red card answered (length " + std::to_string(answer.size() + 4) + ")");
}

Bytes Session::redcard_answer() const {
  Bytes answer{0xFF, 0xFF};
  if (cfg_.redcard_sockets)
    for (uint16_t s : {cfg_sock_, evt_sock_, opn_sock_}) put_u16(answer, s);
  return answer;
}

void Session::on_credits(const Bytes& f) {
  for (size_t i = 4; i + 3 <= f.size(); i += 3) {
    uint16_t s = read_u16(&f[i]);
    uint8_t c = f[i + 2];
    if (c == 0) {
      if (s == cfg_sock_) ++stats_.keepalives;
      continue;
    }
    bool known = s == cfg_sock_ || s == evt_sock_ || s == opn_sock_ || open_.count(s);
    if (!known) {
      log_("read credits for socket " + std::to_string(s) + " that no open CU holds, ignored");
      continue;
    }
    channels_[s].read_credits += c;
  }
  if ((f.size() - 4) % 3) log_("credit message with a trailing partial entry, rest ignored");
}

void Session::reset_cus() {
  for (auto& [s, cu] : slaves_) cu->behaviour->on_close(*cu);
  slaves_.clear();
  for (auto& [s, cu] : open_) cu->behaviour->on_close(*cu);
  open_.clear();
  held_opens_.clear();
  in_sync_ = false;
}

// ---- configuration CU --------------------------------------------------------------------------

void Session::on_config_request(const uint8_t* p, size_t n) {
  switch (p[0]) {
    case Z_MODULE_FIRST_L1:
      return reply_module(1, nullptr, 0);
    case Z_MODULE_FIRST_L2:
      return reply_module(2, nullptr, 0);
    case Z_MODULE_NEXT_L1:
      return reply_module(1, p + 1, n - 1);
    case Z_MODULE_NEXT_L2:
      return reply_module(2, p + 1, n - 1);
    case Z_FIRST_CU_DESC:
      return reply_first_desc(p + 1, n - 1);
    case Z_NEXT_CU_DESC:
      return reply_next_desc(p + 1, n - 1);
    case Z_GOODBYE:
      return on_goodbye();
    default:
      log_("unknown configuration request " + hex(p, n) + ", not answered");
  }
}

void Session::reply_module(int list, const uint8_t* prev, size_t n) {
  std::vector<const ModuleConfig*> mods;
  for (const auto& m : cfg_.modules)
    if (m.list == list) mods.push_back(&m);
  size_t next = 0;
  if (prev) {
    auto it =
        std::find_if(mods.begin(), mods.end(), [&](const ModuleConfig* m) { return equals(module_body(*m), prev, n); });
    if (it == mods.end()) log_("\"next\" request for an unknown module record, list ends");
    next = it == mods.end() ? mods.size() : static_cast<size_t>(it - mods.begin()) + 1;
  }
  if (next >= mods.size()) return queue_frame(cfg_sock_, Bytes{Z_END_OF_LIST});
  uint8_t type = list == 1 ? (prev ? 2 : 1) : (prev ? 0x13 : 0x12);
  Bytes rec{type};
  Bytes body = module_body(*mods[next]);
  rec.insert(rec.end(), body.begin(), body.end());
  queue_frame(cfg_sock_, rec);
}

void Session::reply_first_desc(const uint8_t* p, size_t n) {
  for (const auto& m : cfg_.modules) {
    if (!equals(module_body(m), p, n)) continue;
    enum_module_ = m.id;
    if (m.cus.empty()) return queue_frame(cfg_sock_, Bytes{Z_END_OF_LIST});
    return queue_frame(cfg_sock_, desc_record(m.cus[0], Z_FIRST_CU_DESC));
  }
  log_("CU list asked for an unknown module record, answered with an empty list");
  queue_frame(cfg_sock_, Bytes{Z_END_OF_LIST});
}

void Session::reply_next_desc(const uint8_t* p, size_t n) {
  // The request carries only the CU's texts: look in the module being walked first.
  std::vector<const ModuleConfig*> order;
  for (const auto& m : cfg_.modules)
    if (m.id == enum_module_)
      order.insert(order.begin(), &m);
    else
      order.push_back(&m);
  for (const ModuleConfig* m : order) {
    for (size_t i = 0; i < m->cus.size(); ++i) {
      if (!equals(key_body(m->cus[i]), p, n)) continue;
      if (i + 1 < m->cus.size()) return queue_frame(cfg_sock_, desc_record(m->cus[i + 1], Z_NEXT_CU_DESC));
      return queue_frame(cfg_sock_, Bytes{Z_END_OF_LIST});
    }
  }
  log_("\"next\" CU request for an unknown descriptor, list ends");
  queue_frame(cfg_sock_, Bytes{Z_END_OF_LIST});
}

void Session::on_goodbye() {
  ++stats_.goodbyes;
  log_("goodbye from the host");
  reset_cus();
  goodbye_ = true;
}

// ---- open CU -----------------------------------------------------------------------------------

void Session::on_open_request(const uint8_t* p, size_t n) {
  if (open_delay_ms_ > 0 && (p[0] == Z_OPEN || p[0] == Z_SLAVE_OPEN)) {
    held_opens_.emplace_back(Clock::now() + std::chrono::milliseconds(open_delay_ms_), Bytes(p, p + n));
    return;
  }
  take_open_request(p, n);
}

void Session::take_held_opens(Clock::time_point now) {
  while (!held_opens_.empty() && held_opens_.front().first <= now) {
    Bytes request = std::move(held_opens_.front().second);
    held_opens_.pop_front();
    take_open_request(request.data(), request.size());
  }
}

void Session::take_open_request(const uint8_t* p, size_t n) {
  switch (p[0]) {
    case Z_OPEN:
      return open_cu(p, n, false);
    case Z_SLAVE_OPEN:
      return open_cu(p, n, true);
    case Z_CLOSE:
      return close_cu(p, n, false);
    case Z_SLAVE_CLOSE:
      return close_cu(p, n, true);
    default:
      refuse(p, n, "unknown request type");
  }
}

void Session::refuse(const uint8_t* p, size_t n, const std::string& why) {
  log_("request on the open CU refused (" + why + "): " + hex(p, n));
  Bytes r{Z_REFUSED, 0x00, 0x01};
  r.insert(r.end(), p, p + std::min(n, Z_PAYLOAD_MAX - 3));
  queue_frame(opn_sock_, r);
}

std::optional<Session::CuRef> Session::find_by_key(const uint8_t* key, size_t k) const {
  for (const auto& m : cfg_.modules)
    for (size_t i = 0; i < m.cus.size(); ++i)
      if (equals(key_body(m.cus[i]), key, k)) return CuRef{&m, i};
  return std::nullopt;
}

std::optional<uint16_t> Session::open_cs_socket() const {
  for (const auto& [s, cu] : open_)
    if (cu->behaviour_name == "cs") return s;
  return std::nullopt;
}

void Session::open_cu(const uint8_t* p, size_t n, bool slave) {
  size_t k = key_length(p + 1, n - 1);
  if (k == 0 || (!slave && n < 1 + k + 6)) return refuse(p, n, "malformed request");
  std::optional<CuRef> ref = find_by_key(p + 1, k);
  if (!ref) return refuse(p, n, "no such CU");
  const CuConfig& cu = ref->mod->cus[ref->index];
  if (refuse_all_ || cfg_.refuse_open || cu.refuse_open) return refuse(p, n, "refusing opens");
  std::optional<uint16_t> cs = slave ? open_cs_socket() : std::optional<uint16_t>(0);
  if (!cs) return refuse(p, n, "no CS CU is open");
  uint16_t sock = slave ? new_slave_socket() : new_socket();
  if (sock == 0xFFFD) return refuse(p, n, "no free socket");
  Bytes reply = slave ? Bytes{Z_SLAVE_OPEN} : desc_record(cu, Z_OPEN);
  if (slave) {
    Bytes kb = key_body(cu);
    reply.insert(reply.end(), kb.begin(), kb.end());
  }
  put_u16(reply, sock);
  queue_frame(opn_sock_, reply);
  start_cu(std::make_unique<OpenCu>(*this, *ref->mod, ref->index, sock, slave, *cs));
}

void Session::start_cu(std::unique_ptr<OpenCu> owned) {
  OpenCu& cu = *owned;
  (cu.slave ? slaves_ : open_)[cu.sock] = std::move(owned);
  log_(std::string(cu.slave ? "slave CU " : "CU ") + cu.type + "/" + cu.cfg.name + " opened on socket " +
       std::to_string(cu.sock));
  if (!cu.slave) {
    channels_[cu.sock] = Channel{};
    channels_[cu.sock].allowance = cu.cfg.in_count > 0 ? 1 : 0;  // the host's own first credit
    if (cu.cfg.in_count > 0)
      give_back(cu.sock, cu.cfg.in_count);  // right behind the open reply
    else if (cu.cfg.grant_after_ms > 0)
      cu.grant_pending = true;
  }
  cu.behaviour->on_open(cu);
}

void Session::close_cu(const uint8_t* p, size_t n, bool slave) {
  if (n < 3) return refuse(p, n, "malformed close request");
  uint16_t sock = read_u16(p + 1);
  auto& table = slave ? slaves_ : open_;
  if (!table.count(sock)) return refuse(p, n, "socket not open");
  close_one(sock, slave);
  Bytes reply{slave ? Z_SLAVE_CLOSE : Z_CLOSE};
  put_u16(reply, sock);
  queue_frame(opn_sock_, reply);
}

void Session::close_one(uint16_t sock, bool slave) {
  auto& table = slave ? slaves_ : open_;
  auto it = table.find(sock);
  if (it == table.end()) return;
  std::unique_ptr<OpenCu> cu = std::move(it->second);
  table.erase(it);
  cu->behaviour->on_close(*cu);
  log_(std::string(slave ? "slave CU " : "CU ") + cu->type + "/" + cu->cfg.name + " on socket " + std::to_string(sock) +
       " closed");
  if (slave) return;
  channels_.erase(sock);  // frames still queued for the host are dropped with the CU
  for (auto s = slaves_.begin(); s != slaves_.end();) {
    auto next = std::next(s);
    if (s->second->cs_socket == sock) close_one(s->first, true);
    s = next;
  }
}

uint16_t Session::new_socket() {
  for (int tries = 0; tries < 0xFFFC; ++tries) {
    uint16_t s = next_socket_;
    next_socket_ = next_socket_ >= 0xFFF0 ? 16 : next_socket_ + 1;
    if (s != cfg_sock_ && s != evt_sock_ && s != opn_sock_ && !open_.count(s)) return s;
  }
  return 0xFFFD;
}

uint16_t Session::new_slave_socket() {
  for (int tries = 0; tries < 0xFFFC; ++tries) {
    uint16_t s = next_slave_;
    next_slave_ = next_slave_ >= 0xFFF0 ? 0x100 : next_slave_ + 1;
    if (!slaves_.count(s)) return s;
  }
  return 0xFFFD;
}

// ---- sending -----------------------------------------------------------------------------------

void Session::queue_frame(uint16_t socket, Bytes payload) {
  if (payload.empty() || payload.size() > Z_PAYLOAD_MAX) {
    log_("message of " + std::to_string(payload.size()) + " bytes cannot be framed, dropped");
    return;
  }
  Channel& ch = channels_[socket];
  if (ch.queue.size() >= kQueueLimit) {
    log_("host grants no read credits on socket " + std::to_string(socket) + "; queue full, message dropped");
    return;
  }
  ch.queue.push_back(make_frame(socket, payload));
  flush();
}

void Session::flush() {
  for (auto& [s, ch] : channels_) {
    while (ch.read_credits > 0 && !ch.queue.empty()) {
      --ch.read_credits;
      write_frame(ch.queue.front(), true);
      ch.queue.pop_front();
    }
  }
}

void Session::write_frame(const Bytes& frame, bool data) {
  bool split = data && split_next_;
  if (split) split_next_ = false;
  out_.write(frame, split);
  ++stats_.frames_out;
  last_write_ = Clock::now();
}

bool Session::deliver_to_slave(uint16_t slave_socket, const uint8_t* data, size_t n) {
  auto it = slaves_.find(slave_socket);
  if (it == slaves_.end()) return false;
  it->second->behaviour->on_frame(*it->second, data, n);
  return true;
}

void Session::grant(OpenCu& cu, int n) {
  if (cu.slave || n <= 0) return;
  cu.grant_pending = false;
  give_back(cu.sock, n);
}

bool Session::can_send(const OpenCu& cu) const {
  auto it = channels_.find(cu.slave ? cu.cs_socket : cu.sock);
  return it != channels_.end() && it->second.read_credits > static_cast<long>(it->second.queue.size()) &&
         out_.pending() <= kStreamPendingLimit;
}

void Session::start_stream(OpenCu& cu, long count, int size, double rate, bool text) {
  cu.stream = OpenCu::Stream{true, count, 0, size, rate, Clock::now(), text};
}

static Bytes stream_message(const OpenCu::Stream& st) {
  if (st.text) {
    std::string t = "line " + std::to_string(st.sent);
    return Bytes(t.begin(), t.end());
  }
  Bytes msg(static_cast<size_t>(st.size));
  for (size_t i = 0; i < msg.size(); ++i) msg[i] = stream_byte(st.sent, i);
  return msg;
}

// Message st.sent straight into the output: header written here, body from the pattern (or the text).
bool Session::stream_frame(OpenCu& cu, Channel& ch) {
  OpenCu::Stream& st = cu.stream;
  char text[32];
  const uint8_t* body;
  size_t n;
  if (st.text) {
    std::memcpy(text, "line ", 5);
    n = static_cast<size_t>(std::to_chars(text + 5, text + sizeof text, st.sent).ptr - text);
    body = reinterpret_cast<const uint8_t*>(text);
  } else {
    n = static_cast<size_t>(st.size);
    if (pattern_.empty())
      for (size_t j = 0; j < 256 + Z_PAYLOAD_MAX; ++j) pattern_.push_back(static_cast<uint8_t>(j));
    body = pattern_.data() + (st.sent & 0xFF);
  }
  uint8_t head[6];
  const size_t head_n = cu.slave ? 6 : 4;
  if (head_n + n > Z_FRAME_MAX) return false;
  const size_t length = head_n + n;
  head[0] = static_cast<uint8_t>(length >> 8), head[1] = static_cast<uint8_t>(length);
  const uint16_t socket = cu.slave ? cu.cs_socket : cu.sock;
  head[2] = static_cast<uint8_t>(socket >> 8), head[3] = static_cast<uint8_t>(socket);
  head[4] = static_cast<uint8_t>(cu.sock >> 8), head[5] = static_cast<uint8_t>(cu.sock);  // slave socket
  --ch.read_credits;
  out_.write_frame(head, head_n, body, n);
  ++stats_.frames_out;
  return true;
}

long Session::pump_stream(OpenCu& cu, Clock::time_point now, long max) {
  OpenCu::Stream& st = cu.stream;
  Channel& ch = channels_[cu.slave ? cu.cs_socket : cu.sock];
  long sent = 0;
  while (sent < max && st.active) {
    if (st.count && st.sent >= st.count) {
      st.active = false;
      log_("stream on socket " + std::to_string(cu.sock) + " done: " + std::to_string(st.sent) + " messages");
      break;
    }
    if (ch.read_credits <= 0 || !ch.queue.empty() || out_.pending() > kStreamPendingLimit) break;
    if (st.rate > 0 &&
        now < st.start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(st.sent / st.rate)))
      break;
    // The split fault and anything unusual take the general road (which also logs what cannot be framed).
    if (split_next_ || !stream_frame(cu, ch)) cu.send(stream_message(st));
    ++st.sent;
    ++sent;
  }
  if (sent) last_write_ = now;
  return sent;
}

long Session::pump_streams(Clock::time_point now) {
  if (!in_sync_) return 0;
  // A few messages per CU in turn, so that parallel streams share the output evenly.
  constexpr long kTurn = 16;
  long total = 0;
  for (bool more = true; more;) {
    more = false;
    for (auto* table : {&open_, &slaves_})
      for (auto& [s, cu] : *table) {
        if (!cu->stream.active) continue;
        const long n = pump_stream(*cu, now, kTurn);
        total += n;
        more = more || n == kTurn;
      }
  }
  return total;
}

void Session::tick(Clock::time_point now) {
  if (!in_sync_) return;
  take_held_opens(now);
  for (auto* table : {&open_, &slaves_}) {
    for (auto& [s, cu] : *table) {
      if (cu->grant_pending && now - cu->opened >= std::chrono::milliseconds(cu->cfg.grant_after_ms)) {
        log_("granting the first send credit on socket " + std::to_string(s));
        grant(*cu, 1);
      }
      cu->behaviour->on_tick(*cu, now);
    }
  }
  flush();
  pump_streams(now);
  if (cfg_.keepalive_ms > 0 && !out_.silenced() && now - last_write_ >= std::chrono::milliseconds(cfg_.keepalive_ms))
    write_frame(make_credit(cfg_sock_, 0), false);
}

// ---- commands ----------------------------------------------------------------------------------

OpenCu* Session::find_open(int module_id, size_t cu_index) {
  for (auto* table : {&open_, &slaves_})
    for (auto& [s, cu] : *table)
      if (cu->module_id == module_id && cu->cu_index == cu_index) return cu.get();
  return nullptr;
}

std::vector<const OpenCu*> Session::open_list() const {
  std::vector<const OpenCu*> v;
  for (const auto& [s, cu] : open_) v.push_back(cu.get());
  for (const auto& [s, cu] : slaves_) v.push_back(cu.get());
  return v;
}

bool Session::send_config_event(unsigned code) {
  if (!in_sync_) return false;
  queue_frame(evt_sock_, make_event_payload(code));
  return true;
}

ModuleLoader* Session::loader_of(int module_id) {
  if (!loaders_) return nullptr;
  for (const auto& m : cfg_.modules) {
    if (m.id != module_id) continue;
    for (const auto& c : m.cus) {
      std::string b = c.behaviour.empty() ? default_behaviour(c.name) : c.behaviour;
      std::transform(b.begin(), b.end(), b.begin(), ::tolower);
      if (b == "loader") return &loaders_->of(module_id, c.loader);
    }
  }
  return nullptr;
}

void Session::close_module(int module_id) {
  std::vector<std::pair<uint16_t, bool>> victims;
  for (const auto* cu : open_list())
    if (cu->module_id == module_id) victims.emplace_back(cu->sock, cu->slave);
  for (auto [s, slave] : victims) close_one(s, slave);
}

}  // namespace zsim
