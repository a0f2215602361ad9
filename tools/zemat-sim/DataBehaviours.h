// The data behaviours: CUs that produce messages of their own kind every "period_ms" and on "emit"
// (events, trace text, monitor lines, raw data texts, analysis reports, nucleus headers, DSP data).
#pragma once

#include "zemat-sim/CuBehaviour.h"

namespace zsim {

// What every data behaviour shares: messages owed (by the period or by "emit") go out one by one
// while the host has read credits; a period that finds the previous message still waiting adds none.
class DataBehaviour : public CuBehaviour {
 public:
  void on_open(CuContext& cx) override;
  void on_frame(CuContext& cx, const uint8_t* data, size_t n) override;
  void on_tick(CuContext& cx, Clock::time_point now) override;
  bool on_emit(CuContext& cx, long n) override;

  static constexpr long kMaxOwed = 1000000;

 protected:
  // Message k (from 0) of this CU.
  virtual Bytes next_message(CuContext& cx, long k) = 0;
  void pump(CuContext& cx);

 private:
  long owed_ = 0;
  long produced_ = 0;
  Clock::time_point next_due_{};
};

std::unique_ptr<CuBehaviour> make_event_behaviour();
std::unique_ptr<CuBehaviour> make_trace_behaviour();
std::unique_ptr<CuBehaviour> make_monitor_behaviour();
std::unique_ptr<CuBehaviour> make_rawdata_behaviour();
std::unique_ptr<CuBehaviour> make_analysis_behaviour();
std::unique_ptr<CuBehaviour> make_nucleus_behaviour();
std::unique_ptr<CuBehaviour> make_dd_behaviour();

}  // namespace zsim
