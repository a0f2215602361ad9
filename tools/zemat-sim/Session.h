// The instrument's side of one Zemat session: red card, control CUs (enumeration, open/close,
// configuration events, goodbye), the open CUs with their behaviours, and the credit rules both ways.
#pragma once

#include "zemat-sim/CuBehaviour.h"
#include "zemat-sim/Loader.h"
#include "zemat-sim/SimConfig.h"
#include "zemat-sim/Wire.h"

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zsim {

struct Stats {
  long connections = 0, redcards = 0, goodbyes = 0, keepalives = 0;
  long frames_in = 0, frames_out = 0, credit_violations = 0, instructions = 0;
  long bad_frames = 0, unknown_sockets = 0;
};

// Where the session's bytes go: the simulator's output for the current link.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // split: send these bytes one per write with short pauses (the "split" fault)
  virtual void write(const Bytes& bytes, bool split) = 0;
  // One frame given as header and body, appended without an intermediate copy (streams).
  virtual void write_frame(const uint8_t* head, size_t head_n, const uint8_t* body, size_t body_n) = 0;
  virtual size_t pending() const = 0;
  virtual bool silenced() const = 0;
};

using LogFn = std::function<void(const std::string&)>;

class Session;

// One open CU (or slave CU) and the context its behaviour works through.
class OpenCu : public CuContext {
 public:
  OpenCu(Session& s, const ModuleConfig& m, size_t cu_index, uint16_t socket, bool slave, uint16_t cs_socket);
  void send(const Bytes& payload) override;
  void grant(int n) override;
  void log(const std::string& text) override;
  void count_instruction() override;
  void start_stream(long count, int size, double rate) override;
  bool deliver_to_slave(uint16_t slave_socket, const uint8_t* data, size_t n) override;
  const CuConfig& cu() const override { return cfg; }
  const std::string& module_type() const override { return type; }
  const std::string& module_serial() const override { return serial; }
  uint16_t socket() const override { return sock; }
  bool can_send() const override;
  ModuleLoader* loader() override;
  void drop_link() override;

  struct Stream {
    bool active = false;
    long count = 0, sent = 0;
    int size = 0;
    double rate = 0;
    Clock::time_point start;
    bool text = false;  // message k is the text "line <k>" instead of the byte pattern
  };

  Session& session;
  int module_id;
  size_t cu_index;
  std::string type, serial;
  CuConfig cfg;
  std::string behaviour_name;  // resolved: the configured one or the default for the name
  uint16_t sock;
  bool slave;
  uint16_t cs_socket;  // for slave CUs: the socket of the CS CU their frames travel on
  std::unique_ptr<CuBehaviour> behaviour;
  Clock::time_point opened;
  bool grant_pending = false;  // a 0-in-buffer CU waiting for grant_after_ms
  Stream stream;
};

class Session {
 public:
  Session(SimConfig& cfg, Stats& stats, ByteSink& out, LogFn log);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  void on_bytes(const uint8_t* p, size_t n);
  void tick(Clock::time_point now);
  // Sends stream messages while the host's read credits and the output limit allow; returns how many.
  // The simulator calls it whenever the link may take more, not only once per tick.
  long pump_streams(Clock::time_point now);

  bool in_sync() const { return in_sync_; }
  bool goodbye_seen() const { return goodbye_; }
  void set_refuse_open(bool on) { refuse_all_ = on; }
  // Open and slave-open requests are taken up this long after they arrive (0: at once); the
  // configuration may change meanwhile, as it can on a busy instrument.
  void set_open_delay(int ms) { open_delay_ms_ = ms; }
  size_t held_opens() const { return held_opens_.size(); }
  // The simulator's module loaders (they outlive sessions); null: no module has one.
  void set_loaders(Loaders* loaders) { loaders_ = loaders; }
  ModuleLoader* loader_of(int module_id);
  // A behaviour asked for the link to be dropped; the simulator takes the request after the input.
  void request_drop() { drop_requested_ = true; }
  bool take_drop_request() { return std::exchange(drop_requested_, false); }

  // For the control commands.
  OpenCu* find_open(int module_id, size_t cu_index);
  std::vector<const OpenCu*> open_list() const;
  bool send_config_event(unsigned code);
  void close_module(int module_id);
  void grant(OpenCu& cu, int n);
  void split_next() { split_next_ = true; }
  void start_stream(OpenCu& cu, long count, int size, double rate, bool text = false);
  // Whether a message on this CU would leave at once (a read credit free, nothing queued, output not full).
  bool can_send(const OpenCu& cu) const;

  // Used by OpenCu.
  void queue_frame(uint16_t socket, Bytes payload);
  bool deliver_to_slave(uint16_t slave_socket, const uint8_t* data, size_t n);
  void log(const std::string& text) { log_(text); }
  Stats& stats() { return stats_; }

 private:
  struct Channel {
    long read_credits = 0;    // frames the host allows us to send on this socket
    std::deque<Bytes> queue;  // whole frames waiting for read credits
    long allowance = 0;       // frames the host may send (its initial credit + our grants)
    long received = 0;
  };

  void report(const FrameSplitter::Result& r);
  void on_frame(const Bytes& f);
  void on_flow(const Bytes& f);
  void on_redcard();
  Bytes redcard_answer() const;
  void on_credits(const Bytes& f);
  void reset_cus();
  bool within_credit(uint16_t socket);
  void give_back(uint16_t socket, int n);

  void on_config_request(const uint8_t* p, size_t n);
  void reply_module(int list, const uint8_t* prev, size_t n);
  void reply_first_desc(const uint8_t* p, size_t n);
  void reply_next_desc(const uint8_t* p, size_t n);
  void on_goodbye();

  void on_open_request(const uint8_t* p, size_t n);
  void take_open_request(const uint8_t* p, size_t n);
  void take_held_opens(Clock::time_point now);
  struct CuRef {
    const ModuleConfig* mod;
    size_t index;
  };
  std::optional<CuRef> find_by_key(const uint8_t* key, size_t k) const;
  std::optional<uint16_t> open_cs_socket() const;
  void open_cu(const uint8_t* p, size_t n, bool slave);
  void start_cu(std::unique_ptr<OpenCu> cu);
  void close_cu(const uint8_t* p, size_t n, bool slave);
  void refuse(const uint8_t* p, size_t n, const std::string& why);
  void close_one(uint16_t socket, bool slave);

  void on_cu_frame(OpenCu& cu, const uint8_t* p, size_t n);
  void flush();
  long pump_stream(OpenCu& cu, Clock::time_point now, long max);
  bool stream_frame(OpenCu& cu, Channel& ch);
  void write_frame(const Bytes& frame, bool data);
  uint16_t new_socket();
  uint16_t new_slave_socket();

  SimConfig& cfg_;
  Stats& stats_;
  ByteSink& out_;
  LogFn log_;
  FrameSplitter splitter_;
  bool in_sync_ = false;
  bool goodbye_ = false;
  bool refuse_all_ = false;
  bool split_next_ = false;
  int open_delay_ms_ = 0;
  Loaders* loaders_ = nullptr;
  bool drop_requested_ = false;
  std::deque<std::pair<Clock::time_point, Bytes>> held_opens_;  // open requests not taken up yet
  uint16_t cfg_sock_ = 0, evt_sock_ = 1, opn_sock_ = 2;
  int enum_module_ = 0;  // module whose descriptors the host is walking
  std::map<uint16_t, Channel> channels_;
  std::map<uint16_t, std::unique_ptr<OpenCu>> open_;
  std::map<uint16_t, std::unique_ptr<OpenCu>> slaves_;
  uint16_t next_socket_ = 16, next_slave_ = 0x100;
  Clock::time_point last_write_ = Clock::now();
  Bytes pattern_;  // byte j is j & 0xFF: message k of a byte stream is the slice from k & 0xFF
};

}  // namespace zsim
