// The behaviour registry and the built-in CU behaviours that answer the host: silent, instruction,
// echo, stream, cs and canslave (the data behaviours live in DataBehaviours.cpp).
#include "zemat-sim/CuBehaviour.h"

#include "zemat-sim/DataBehaviours.h"
#include "zemat-sim/Loader.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace zsim {
namespace {

// Takes every message and answers nothing (credits are still given back by the session).
class SilentBehaviour : public CuBehaviour {
 public:
  void on_frame(CuContext&, const uint8_t*, size_t) override {}
};

// Answers each instruction from the CU's table, or with "OK <instruction>"; the loader commands go to
// the module's firmware loader when it has one.
class InstructionBehaviour : public CuBehaviour {
 public:
  void on_frame(CuContext& cx, const uint8_t* data, size_t n) override {
    cx.count_instruction();
    std::string text = instruction_text(data, n);
    if (ModuleLoader* loader = cx.loader()) {
      if (std::optional<std::string> answer = loader->on_instruction(text, Clock::now())) {
        if (!answer->empty()) cx.send(Bytes(answer->begin(), answer->end()));
        return;
      }
    }
    std::string reply = instruction_reply(cx.cu(), text);
    if (reply.empty()) return;  // an empty table entry means: no reply
    if (reply.size() > Z_PAYLOAD_MAX - 2) reply.resize(Z_PAYLOAD_MAX - 2);
    cx.send(Bytes(reply.begin(), reply.end()));
  }
};

// A CAN-slave's own CU ("PR", "CS_IO"): "IN<instruction>" is answered with the two-character source
// "01" and the reply text; anything else gets the source and an error text.
class CanSlaveBehaviour : public CuBehaviour {
 public:
  void on_frame(CuContext& cx, const uint8_t* data, size_t n) override {
    std::string text = instruction_text(data, n);
    std::string reply;
    if (text.rfind("IN", 0) == 0) {
      cx.count_instruction();
      reply = instruction_reply(cx.cu(), text.substr(2));
      if (reply.empty()) return;
    } else {
      cx.log("message without the \"IN\" prefix: \"" + text + "\"");
      reply = "ERROR not an instruction: " + text;
    }
    reply = "01" + reply;
    if (reply.size() > Z_PAYLOAD_MAX - 2) reply.resize(Z_PAYLOAD_MAX - 2);
    cx.send(Bytes(reply.begin(), reply.end()));
  }
};

// Sends every message back unchanged.
class EchoBehaviour : public CuBehaviour {
 public:
  void on_frame(CuContext& cx, const uint8_t* data, size_t n) override {
    cx.send(Bytes(data, data + std::min(n, Z_PAYLOAD_MAX - 2)));
  }
};

// Sends every message back with each byte inverted (b xor FF): binary traffic whose answer differs
// from what was sent, so that a host cannot mistake its own data for the reply.
class ComplementBehaviour : public CuBehaviour {
 public:
  void on_frame(CuContext& cx, const uint8_t* data, size_t n) override {
    Bytes reply(data, data + std::min(n, Z_PAYLOAD_MAX - 2));
    for (uint8_t& b : reply) b = static_cast<uint8_t>(b ^ 0xFF);
    cx.send(reply);
  }
};

// Starts the configured stream as soon as the CU is open.
class StreamBehaviour : public CuBehaviour {
 public:
  void on_open(CuContext& cx) override {
    cx.start_stream(cx.cu().stream_count, cx.cu().stream_size, cx.cu().stream_rate);
  }
  void on_frame(CuContext&, const uint8_t*, size_t) override {}
};

// The CAN-slave CU: every message starts with the slave socket it is meant for.
class CsBehaviour : public CuBehaviour {
 public:
  void on_frame(CuContext& cx, const uint8_t* data, size_t n) override {
    if (n < 2) {
      cx.log("CS message of " + std::to_string(n) + " bytes has no slave socket, dropped");
      return;
    }
    if (!cx.deliver_to_slave(read_u16(data), data + 2, n - 2))
      cx.log("CS message for unknown slave socket " + std::to_string(read_u16(data)) + ", dropped");
  }
};

struct Registry {
  std::mutex lock;
  std::map<std::string, BehaviourFactory> factories{
      {"silent", [] { return std::make_unique<SilentBehaviour>(); }},
      {"instruction", [] { return std::make_unique<InstructionBehaviour>(); }},
      {"echo", [] { return std::make_unique<EchoBehaviour>(); }},
      {"complement", [] { return std::make_unique<ComplementBehaviour>(); }},
      {"stream", [] { return std::make_unique<StreamBehaviour>(); }},
      {"cs", [] { return std::make_unique<CsBehaviour>(); }},
      {"canslave", [] { return std::make_unique<CanSlaveBehaviour>(); }},
      {"event", make_event_behaviour},
      {"trace", make_trace_behaviour},
      {"monitor", make_monitor_behaviour},
      {"rawdata", make_rawdata_behaviour},
      {"analysis", make_analysis_behaviour},
      {"nucleus", make_nucleus_behaviour},
      {"dd", make_dd_behaviour},
      {"loader", make_loader_behaviour},
  };
};

Registry& registry() {
  static Registry r;
  return r;
}

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), ::tolower);
  return s;
}

}  // namespace

void register_behaviour(const std::string& name, BehaviourFactory factory) {
  std::lock_guard<std::mutex> g(registry().lock);
  registry().factories[lower(name)] = std::move(factory);
}

bool behaviour_known(const std::string& name) {
  std::lock_guard<std::mutex> g(registry().lock);
  return registry().factories.count(lower(name)) != 0;
}

std::unique_ptr<CuBehaviour> make_behaviour(const std::string& name) {
  std::lock_guard<std::mutex> g(registry().lock);
  auto it = registry().factories.find(lower(name));
  if (it == registry().factories.end()) return std::make_unique<SilentBehaviour>();
  return it->second();
}

std::vector<std::string> behaviour_names() {
  std::lock_guard<std::mutex> g(registry().lock);
  std::vector<std::string> names;
  for (const auto& [n, f] : registry().factories) names.push_back(n);
  return names;
}

bool behaviour_produces_data(const std::string& name) {
  static const char* const data[] = {"event", "trace", "monitor", "rawdata", "analysis", "nucleus", "dd"};
  std::string n = lower(name);
  return std::any_of(std::begin(data), std::end(data), [&](const char* d) { return n == d; });
}

std::string instruction_text(const uint8_t* data, size_t n) {
  std::string text(reinterpret_cast<const char*>(data), n);
  text = text.substr(0, text.find('\0'));
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
  return text;
}

std::string instruction_reply(const CuConfig& cu, const std::string& instruction) {
  auto it = cu.replies.find(instruction);
  return it != cu.replies.end() ? it->second : "OK " + instruction;
}

Bytes make_event_text(unsigned code, long long seconds, const std::string& module_type) {
  std::string text = "EVENT " + std::to_string(code) + "," + std::to_string(seconds) + "," + module_type;
  return Bytes(text.begin(), text.end());
}

Bytes make_event_payload(unsigned code) {
  Bytes p{0x01};
  put_u16(p, code & 0xFFFF);
  std::string text = "EVENT " + std::to_string(code & 0xFFFF);
  p.insert(p.end(), text.begin(), text.end());
  p.push_back(0);
  return p;
}

}  // namespace zsim
