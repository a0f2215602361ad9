// The behaviour registry and the built-in CU behaviours: silent, instruction, event, echo, stream, cs.
#include "CuBehaviour.h"

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

// Answers each instruction from the CU's table, or with "OK <instruction>".
class InstructionBehaviour : public CuBehaviour {
public:
    void on_frame(CuContext& cx, const uint8_t* data, size_t n) override
    {
        std::string text(reinterpret_cast<const char*>(data), n);
        text = text.substr(0, text.find('\0'));
        while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
            text.pop_back();
        cx.count_instruction();
        auto it = cx.cu().replies.find(text);
        std::string reply = it != cx.cu().replies.end() ? it->second : "OK " + text;
        if (reply.empty())
            return;  // an empty table entry means: no reply
        if (reply.size() > Z_PAYLOAD_MAX - 2)
            reply.resize(Z_PAYLOAD_MAX - 2);
        cx.send(Bytes(reply.begin(), reply.end()));
    }
};

// Event CUs send what the "event" command asks; messages from the host are taken and ignored.
class EventBehaviour : public CuBehaviour {
public:
    void on_frame(CuContext& cx, const uint8_t*, size_t n) override
    {
        cx.log("message of " + std::to_string(n) + " bytes on event CU ignored");
    }
};

// Sends every message back unchanged.
class EchoBehaviour : public CuBehaviour {
public:
    void on_frame(CuContext& cx, const uint8_t* data, size_t n) override
    {
        cx.send(Bytes(data, data + std::min(n, Z_PAYLOAD_MAX - 2)));
    }
};

// Starts the configured stream as soon as the CU is open.
class StreamBehaviour : public CuBehaviour {
public:
    void on_open(CuContext& cx) override
    {
        cx.start_stream(cx.cu().stream_count, cx.cu().stream_size, cx.cu().stream_rate);
    }
    void on_frame(CuContext&, const uint8_t*, size_t) override {}
};

// The CAN-slave CU: every message starts with the slave socket it is meant for.
class CsBehaviour : public CuBehaviour {
public:
    void on_frame(CuContext& cx, const uint8_t* data, size_t n) override
    {
        if (n < 2) {
            cx.log("CS message of " + std::to_string(n) + " bytes has no slave socket, dropped");
            return;
        }
        if (!cx.deliver_to_slave(read_u16(data), data + 2, n - 2))
            cx.log("CS message for unknown slave socket " + std::to_string(read_u16(data)) +
                   ", dropped");
    }
};

struct Registry {
    std::mutex lock;
    std::map<std::string, BehaviourFactory> factories{
        {"silent", [] { return std::make_unique<SilentBehaviour>(); }},
        {"instruction", [] { return std::make_unique<InstructionBehaviour>(); }},
        {"event", [] { return std::make_unique<EventBehaviour>(); }},
        {"echo", [] { return std::make_unique<EchoBehaviour>(); }},
        {"stream", [] { return std::make_unique<StreamBehaviour>(); }},
        {"cs", [] { return std::make_unique<CsBehaviour>(); }},
    };
};

Registry& registry()
{
    static Registry r;
    return r;
}

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), ::tolower);
    return s;
}

}  // namespace

void register_behaviour(const std::string& name, BehaviourFactory factory)
{
    std::lock_guard<std::mutex> g(registry().lock);
    registry().factories[lower(name)] = std::move(factory);
}

bool behaviour_known(const std::string& name)
{
    std::lock_guard<std::mutex> g(registry().lock);
    return registry().factories.count(lower(name)) != 0;
}

std::unique_ptr<CuBehaviour> make_behaviour(const std::string& name)
{
    std::lock_guard<std::mutex> g(registry().lock);
    auto it = registry().factories.find(lower(name));
    if (it == registry().factories.end())
        return std::make_unique<SilentBehaviour>();
    return it->second();
}

std::vector<std::string> behaviour_names()
{
    std::lock_guard<std::mutex> g(registry().lock);
    std::vector<std::string> names;
    for (const auto& [n, f] : registry().factories)
        names.push_back(n);
    return names;
}

Bytes make_event_payload(unsigned code)
{
    Bytes p{0x01};
    put_u16(p, code & 0xFFFF);
    std::string text = "EVENT " + std::to_string(code & 0xFFFF);
    p.insert(p.end(), text.begin(), text.end());
    p.push_back(0);
    return p;
}

}  // namespace zsim
