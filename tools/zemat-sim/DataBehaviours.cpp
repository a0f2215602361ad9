// The data behaviours: the shared period and "emit" bookkeeping, and one small class per kind of data.
#include "zemat-sim/DataBehaviours.h"

#include "zemat-sim/Records.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace zsim {
namespace {

constexpr int kBatch = 256;  // messages per tick at most, so that one CU cannot stall the loop

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

// "EVENT <n>,<now>,<module type>", n counting from 1.
class EventBehaviour : public DataBehaviour {
 protected:
  Bytes next_message(CuContext& cx, long k) override {
    return make_event_text(static_cast<unsigned>((k + 1) & 0xFFFF), static_cast<long long>(std::time(nullptr)),
                           cx.module_type());
  }
};

// Trace text in pieces of deterministic, uneven lengths: a piece may end inside a line or hold several.
// Instructions are answered in the trace: the current line is finished first, then the reply line.
class TraceBehaviour : public DataBehaviour {
 public:
  void on_frame(CuContext& cx, const uint8_t* data, size_t n) override {
    std::string text = instruction_text(data, n);
    cx.count_instruction();
    std::string reply = instruction_reply(cx.cu(), text);
    if (reply.empty()) return;
    std::string piece;
    if (mid_line_) {
      size_t nl = pending_.find('\n');  // lines are made whole: the rest of this one is here
      piece = pending_.substr(0, nl + 1);
      pending_.erase(0, nl + 1);
      mid_line_ = false;
    }
    piece += reply + "\n";
    if (piece.size() > Z_PAYLOAD_MAX - 2) piece.resize(Z_PAYLOAD_MAX - 2);
    cx.send(bytes_of(piece));
  }

 protected:
  Bytes next_message(CuContext& cx, long) override {
    rng_ = rng_ * 1103515245u + 12345u;
    size_t len = 1 + (rng_ >> 16) % 90;
    while (pending_.size() < len) pending_ += line(cx, lines_++);
    std::string piece = pending_.substr(0, len);
    pending_.erase(0, len);
    mid_line_ = piece.back() != '\n';
    return bytes_of(piece);
  }

 private:
  static std::string line(CuContext& cx, long n) {
    return cx.module_type() + " trace " + std::to_string(n) + ": step " + std::to_string(n % 7) +
           ", t=" + std::to_string(n * 13 % 1000) + " ms\n";
  }

  std::string pending_;  // made but not yet sent
  long lines_ = 0;
  uint32_t rng_ = 0x2545F491u;
  bool mid_line_ = false;
};

// One text line per message.
class MonitorBehaviour : public DataBehaviour {
 protected:
  Bytes next_message(CuContext& cx, long k) override {
    char buf[160];
    std::snprintf(buf, sizeof buf, "%s %s #%ld: level %.2f, state %s", cx.module_type().c_str(), cx.cu().name.c_str(),
                  k, 20.0 + 5.0 * std::sin(static_cast<double>(k) * 0.2), k % 10 < 7 ? "RUN" : "IDLE");
    return bytes_of(buf);
  }
};

// "<value>;<index>;<channel>": the raw data window shows the first field.
class RawDataBehaviour : public DataBehaviour {
 protected:
  Bytes next_message(CuContext&, long k) override {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3f;%ld;%ld", 12.5 + 2.5 * std::cos(static_cast<double>(k) * 0.1), k, k % 8);
    return bytes_of(buf);
  }
};

// Analysis report records back to back, cycling through every record kind.
class AnalysisBehaviour : public DataBehaviour {
 protected:
  Bytes next_message(CuContext&, long k) override {
    long records = 0;
    Bytes m = analysis_message(k, next_record_, records);
    next_record_ += records;
    return m;
  }

 private:
  long next_record_ = 0;
};

// Nucleus raw data headers, cycling through the header IDs 1..16.
class NucleusBehaviour : public DataBehaviour {
 protected:
  Bytes next_message(CuContext&, long k) override { return nucleus_message(k); }
};

// Binary messages of 1..1024 bytes, the length changing from message to message.
class DdBehaviour : public DataBehaviour {
 protected:
  Bytes next_message(CuContext&, long k) override {
    Bytes m(1 + static_cast<size_t>(k * 389 % 1024));
    for (size_t i = 0; i < m.size(); ++i) m[i] = stream_byte(k, i);
    return m;
  }
};

}  // namespace

void DataBehaviour::on_open(CuContext& cx) {
  if (cx.cu().period_ms > 0) next_due_ = Clock::now() + std::chrono::milliseconds(cx.cu().period_ms);
}

void DataBehaviour::on_frame(CuContext& cx, const uint8_t*, size_t n) {
  cx.log("message of " + std::to_string(n) + " bytes ignored");
}

void DataBehaviour::on_tick(CuContext& cx, Clock::time_point now) {
  int period = cx.cu().period_ms;
  if (period > 0 && now >= next_due_) {
    if (owed_ == 0) owed_ = 1;
    next_due_ += std::chrono::milliseconds(period);
    if (next_due_ <= now)  // a host that let us wait does not get a burst afterwards
      next_due_ = now + std::chrono::milliseconds(period);
  }
  pump(cx);
}

bool DataBehaviour::on_emit(CuContext& cx, long n) {
  owed_ = std::min(owed_ + std::max(n, 0L), kMaxOwed);
  pump(cx);
  return true;
}

void DataBehaviour::pump(CuContext& cx) {
  for (int i = 0; i < kBatch && owed_ > 0 && cx.can_send(); ++i) {
    cx.send(next_message(cx, produced_++));
    --owed_;
  }
}

std::unique_ptr<CuBehaviour> make_event_behaviour() { return std::make_unique<EventBehaviour>(); }
std::unique_ptr<CuBehaviour> make_trace_behaviour() { return std::make_unique<TraceBehaviour>(); }
std::unique_ptr<CuBehaviour> make_monitor_behaviour() { return std::make_unique<MonitorBehaviour>(); }
std::unique_ptr<CuBehaviour> make_rawdata_behaviour() { return std::make_unique<RawDataBehaviour>(); }
std::unique_ptr<CuBehaviour> make_analysis_behaviour() { return std::make_unique<AnalysisBehaviour>(); }
std::unique_ptr<CuBehaviour> make_nucleus_behaviour() { return std::make_unique<NucleusBehaviour>(); }
std::unique_ptr<CuBehaviour> make_dd_behaviour() { return std::make_unique<DdBehaviour>(); }

}  // namespace zsim
