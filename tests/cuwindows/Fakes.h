// Test doubles for the CU windows: a channel fed by the test and a main window that records log lines
// and serves reader threads through the Qt event loop.
#pragma once

#include <QListWidget>
#include <QStringList>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "StandardApp/Cu.h"
#include "StandardApp/Module.h"
#include "cuwindows/Asciilist.h"
#include "cuwindows/Mainlink.h"
#include "qtdispatch/Qtdispatcher.h"
#include "support/qt/QtWait.h"

using namespace support;

// A channel whose received frames the test pushes; writes are recorded.
class TFakeChannel : public CCuIoBase {
 public:
  struct TShared {
    std::mutex lock;
    std::condition_variable cv;
    std::deque<std::string> frames;  // payloads; the header is added on Read
    std::vector<std::string> written;
    int reads = 0;
    bool closed = false;
    bool failReads = false;  // every read reports an error
  };
  TFakeChannel(std::shared_ptr<TShared> shared, bool opens) : m_shared(std::move(shared)), m_opens(opens) {}
  int Open() override { return m_opens ? 1 : 0; }
  int Close() override {
    std::lock_guard<std::mutex> g(m_shared->lock);
    m_shared->closed = true;
    return 1;
  }
  int Write(const void* payload, int length) override {
    std::lock_guard<std::mutex> g(m_shared->lock);
    m_shared->written.emplace_back(static_cast<const char*>(payload), static_cast<size_t>(length));
    return Z_OK;
  }
  int Read(void* buffer, int* length, unsigned timeoutMs) override {
    std::unique_lock<std::mutex> g(m_shared->lock);
    ++m_shared->reads;
    if (m_shared->failReads) return Z_ERROR;
    if (!m_shared->cv.wait_for(g, std::chrono::milliseconds(timeoutMs), [this] { return !m_shared->frames.empty(); }))
      return Z_TIMEOUT;
    const std::string p = std::move(m_shared->frames.front());
    m_shared->frames.pop_front();
    const int len = static_cast<int>(p.size()) + Z_HEADER_LEN;
    auto* b = static_cast<uint8_t*>(buffer);
    b[0] = static_cast<uint8_t>(len >> 8);
    b[1] = static_cast<uint8_t>(len);
    b[2] = 0;
    b[3] = 7;
    std::memcpy(b + Z_HEADER_LEN, p.data(), p.size());
    b[len] = 0;
    *length = len + 1;
    return Z_OK;
  }

 private:
  std::shared_ptr<TShared> m_shared;
  bool m_opens;
};

class TFakeMain : public TMainLink {
 public:
  void WriteLog(const QString& text) override { log << text; }
  CMainDispatcher& Dispatcher() override { return dispatcher; }
  void EventsWindowClosed() override { ++eventsClosed; }
  bool OpenLog(const QString&, bool) override { return false; }
  void CloseLog() override {}
  QStringList log;
  int eventsClosed = 0;
  TQtDispatcher dispatcher;
};

// A module "G1" with serial "123" and one CU of the given name, as the instrument would report them.
struct TFakeModule {
  explicit TFakeModule(const char* cuName = "MO") : module(CModule::Create(nullptr, false)) {
    const uint8_t record[] = {1, 'G', '1', 0, '1', '2', '3', 0};
    module->SetRecord(record, sizeof record);
    std::vector<uint8_t> d = {4, 'O', 'W', 0, 'D', 'E', 'S', 'C', 0};
    for (const char* p = cuName; *p; ++p) d.push_back(static_cast<uint8_t>(*p));
    d.insert(d.end(), {0, 2, 0x01, 0x00, 2, 0x01, 0x00});
    auto desc = std::make_unique<CCuDesc>(nullptr, module.get());
    desc->Parse(d.data(), static_cast<int>(d.size()));
    module->AddCuDesc(std::move(desc));
    cu = module->GetCuDesc(0);
  }
  std::shared_ptr<CModule> module;
  std::shared_ptr<CCuDesc> cu;
};

// Installs a fake channel factory for the life of the object.
struct TFakeChannels {
  explicit TFakeChannels(bool opens = true) : shared(std::make_shared<TFakeChannel::TShared>()) {
    TAsciiListForm::SetChannelFactory([s = shared, opens](const std::shared_ptr<CCuDesc>&, bool viaCs) {
      lastViaCs() = viaCs;
      return std::unique_ptr<CCuIoBase>(new TFakeChannel(s, opens));
    });
  }
  ~TFakeChannels() { TAsciiListForm::SetChannelFactory({}); }
  void Push(const std::string& payload) {
    {
      std::lock_guard<std::mutex> g(shared->lock);
      shared->frames.push_back(payload);
    }
    shared->cv.notify_all();
  }
  std::vector<std::string> Written() {
    std::lock_guard<std::mutex> g(shared->lock);
    return shared->written;
  }
  static bool& lastViaCs() {
    static bool v = false;
    return v;
  }
  std::shared_ptr<TFakeChannel::TShared> shared;
};

// Saves what w shows, once its lists have caught up, as NAME.png in the test's build folder.
inline void Screenshot(QWidget* w, const char* name) {
  support::SaveWhenShown(w, QString(MORVENT_SCREENSHOT_DIR) + "/" + name + ".png");
}
