// Firmware_test.cpp: the firmware loader: status texts and reply decoding, the image file, and the two
// workers against the simulator's module loader (image received, cancel, error status, every fault).
#include <gtest/gtest.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "StandardApp/Firmware.h"
#include "StandardApp/Mainthread.h"
#include "StandardApp/Zematcore.h"
#include "support/Simulator.h"
#include "support/TempDir.h"

using nlohmann::json;
using support::ReadFile;
using support::Simulator;
using support::TempDir;

// ---- texts, replies and files ----

TEST(FirmwareText, StatusTextsAtTheEdgesOfTheTable) {
  EXPECT_STREQ(FirmwareStatusText(0, 0), "Ready");
  EXPECT_STREQ(FirmwareStatusText(3, 5), "Verifying");  // the flash phases ignore the code
  EXPECT_STREQ(FirmwareStatusText(4, 1), "Syntax Error");
  EXPECT_STREQ(FirmwareStatusText(4, 3), "Flash erasue failed");  // as the module's table spells it
  EXPECT_STREQ(FirmwareStatusText(4, 8), "SW does not support HW requirements");
  EXPECT_STREQ(FirmwareStatusText(100, 1), "Communication error");
  EXPECT_STREQ(FirmwareStatusText(100, 2), "download canceled");
  for (auto [p, c] : {std::pair{4, 0}, {4, 9}, {4, -1}, {100, 0}, {100, 3}, {5, 1}, {-1, -1}, {99, 1}})
    EXPECT_EQ(FirmwareStatusText(p, c), nullptr) << p << "," << c;
}

struct TDecodeCase {
  std::string payload;
  bool found;
  int phase, code;
};

// Names the case by its reply text, so that test listings read as the replies themselves.
void PrintTo(const TDecodeCase& c, std::ostream* os) {
  *os << '"';
  for (char ch : c.payload) {
    if (ch == '\r')
      *os << "\\r";
    else if (ch == '\n')
      *os << "\\n";
    else if (static_cast<unsigned char>(ch) < 0x20)
      *os << "\\x" << std::hex << int(static_cast<unsigned char>(ch)) << std::dec;
    else
      *os << ch;
  }
  *os << '"';
}

class FirmwareDecode : public ::testing::TestWithParam<TDecodeCase> {};

TEST_P(FirmwareDecode, ReadsPhaseAndCodeOrGivesMinusOne) {
  const TDecodeCase& c = GetParam();
  int phase = -7, code = -7;
  EXPECT_EQ(DecodeFirmwareStatus(c.payload.data(), c.payload.size(), &phase, &code), c.found);
  if (!c.found) return;
  EXPECT_EQ(phase, c.phase);
  EXPECT_EQ(code, c.code);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, FirmwareDecode,
    ::testing::Values(TDecodeCase{"LOAD:STAT 2,0", true, 2, 0}, TDecodeCase{"LOAD:STAT 4,7", true, 4, 7},
                      TDecodeCase{"xx LOAD:STAT:3,0\r\n", true, 3, 0}, TDecodeCase{"LOAD:STAT 1 , 12 ", true, 1, 12},
                      TDecodeCase{"LOAD:STAT 0", true, 0, -1}, TDecodeCase{"LOAD:STAT", true, -1, -1},
                      TDecodeCase{"LOAD:STAT ", true, -1, -1}, TDecodeCase{"LOAD:STAT x,y", true, -1, -1},
                      TDecodeCase{"LOAD:STAT 2x,0", true, -1, 0}, TDecodeCase{"LOAD:STAT -1,4", true, -1, 4},
                      TDecodeCase{"LOAD:STAT 9999999999,1", true, -1, 1}, TDecodeCase{"LOAD:STAT 2,0,5", true, 2, -1},
                      TDecodeCase{"LOAD:STAT2,0", true, -1, 0}, TDecodeCase{"OK LOAD:RSET", false, 0, 0},
                      TDecodeCase{"", false, 0, 0}, TDecodeCase{std::string("ab\0LOAD:STAT 2,0", 16), false, 0, 0},
                      TDecodeCase{std::string("LOAD:STAT 3,0\0garbage", 21), true, 3, 0}));

TEST(FirmwareText, NullPayloadIsNoStatus) {
  int phase = 0, code = 0;
  EXPECT_FALSE(DecodeFirmwareStatus(nullptr, 0, &phase, &code));
  EXPECT_FALSE(FirmwareResetAcknowledged(nullptr, 0));
}

TEST(FirmwareText, HandshakeNeedsRaInFrontAndTheCommand) {
  for (const char* yes : {"RA LOAD:RSET", "RALOAD:RSET", "RA:LOAD:RSET done"})
    EXPECT_TRUE(FirmwareResetAcknowledged(yes, std::strlen(yes))) << yes;
  for (const char* no : {"OK LOAD:RSET", "ra LOAD:RSET", "RA", "RA LOAD:RSE", " RA LOAD:RSET", "LOAD:RSET RA"})
    EXPECT_FALSE(FirmwareResetAcknowledged(no, std::strlen(no))) << no;
  const std::string cut("RA\0LOAD:RSET", 12);
  EXPECT_FALSE(FirmwareResetAcknowledged(cut.data(), cut.size()));
}

// Frame: 4 header bytes, then the payload. The loader reads a reply into 100 bytes: 95 of text.
TEST(FirmwareText, RepliesLongerThanTheBufferAreCut) {
  auto frame = [](const std::string& payload) {
    std::vector<uint8_t> f(4, 0);
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
  };
  std::vector<uint8_t> shortReply = frame("LOAD:STAT 2,0");
  EXPECT_EQ(FirmwareReplyText(shortReply.data(), static_cast<int>(shortReply.size())), "LOAD:STAT 2,0");
  std::vector<uint8_t> longReply = frame("LOAD:STAT 3,0" + std::string(3000, '#'));
  std::string text = FirmwareReplyText(longReply.data(), static_cast<int>(longReply.size()));
  EXPECT_EQ(text.size(), 95u);
  int phase = 0, code = 0;
  ASSERT_TRUE(DecodeFirmwareStatus(text.data(), text.size(), &phase, &code));
  EXPECT_EQ(phase, 3);
  EXPECT_EQ(code, -1);  // the code runs into the garbage
  std::vector<uint8_t> lateTag = frame(std::string(95, ' ') + "LOAD:STAT 2,0");
  text = FirmwareReplyText(lateTag.data(), static_cast<int>(lateTag.size()));
  EXPECT_FALSE(DecodeFirmwareStatus(text.data(), text.size(), &phase, &code));
  EXPECT_EQ(FirmwareReplyText(shortReply.data(), 4), "");
  EXPECT_EQ(FirmwareReplyText(nullptr, 0), "");
}

TEST(FirmwareFile, OpensRegularFilesUpToFourGigabytes) {
  TempDir dir;
  EXPECT_EQ(CFirmwareFile::Open(dir.File("missing.dlb")), nullptr);
  EXPECT_EQ(CFirmwareFile::Open(dir.Path()), nullptr);
  EXPECT_EQ(CFirmwareFile::Open(""), nullptr);

  auto empty = CFirmwareFile::Open(dir.Write("empty.dlb", ""));
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->Size(), 0u);
  char buf[1000];
  EXPECT_EQ(empty->Read(buf, sizeof buf), 0u);

  std::string image(2500, '\0');
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7);
  auto file = CFirmwareFile::Open(dir.Write("image.dlb", image));
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Size(), 2500u);
  std::string back;
  for (size_t n; (n = file->Read(buf, sizeof buf)) > 0;) back.append(buf, n);
  EXPECT_EQ(back, image);

  // Sparse files: one byte more than the 32-bit counter holds is refused, the largest is not.
  for (auto [size, opens] : {std::pair{0x100000000LL, false}, {0xFFFFFFFFLL, true}}) {
    std::string path = dir.File("big.dlb");
    std::ofstream(path).close();
    ASSERT_EQ(::truncate(path.c_str(), size), 0);
    auto big = CFirmwareFile::Open(path);
    EXPECT_EQ(big != nullptr, opens) << size;
    if (big) {
      EXPECT_EQ(big->Size(), 0xFFFFFFFFu);
    }
  }
}

// ---- the workers against the simulator ----

namespace {

const std::string kConfig = R"({"keepalive_ms": 1000, "modules": [
  {"type": "FW-1", "serial": "1", "cus": [ {"name": "IN"}, {"name": "EV", "in_count": 0},
     {"name": "LD", "in_count": 4, "in_size": 1000,
      "loader": {"erase_ms": 30, "end_idle_ms": 80, "verify_ms": 30}} ]},
  {"type": "LDONLY-2", "serial": "2", "cus": [ {"name": "LD"}, {"name": "in"} ]},
  {"type": "SHUT-3", "serial": "3", "cus": [ {"name": "IN", "refuse_open": true}, {"name": "LD"} ]},
  {"type": "SHUT-4", "serial": "4", "cus": [ {"name": "LD", "refuse_open": true}, {"name": "IN"} ]},
  {"type": "ODD-5", "serial": "5", "cus": [ {"name": "LD", "behaviour": "silent"}, {"name": "IN", "replies": {
     "LOAD:RSET": "RA LOAD:RSET )" +
                            std::string(300, '*') + R"(",
     "LOAD:STAT?": "LOAD:STAT 2,0)" +
                            std::string(300, ' ') + R"("}}]},
  {"type": "ODD-6", "serial": "6", "cus": [ {"name": "LD", "behaviour": "silent"}, {"name": "IN", "replies": {
     "LOAD:STAT?": "LOAD:STAT ab,7x"}}]}
]})";

// Short waits: a reply or credit that does not come fails the case in a second, not in 30 or 45.
TFirmwareTimings FastTimings() {
  TFirmwareTimings t;
  t.handshakeWaitMs = 1000;
  t.statusWaitMs = 500;
  t.statusPauseMs = 20;
  return t;
}

// What the callbacks saw, in order, on the test (main) thread.
struct TSeen {
  std::vector<std::string> events;  // "progress", "finished"
  std::vector<uint32_t> progress;
  std::vector<std::pair<int, int>> statuses;
  int result = -1;
};

class ThreadedFirmware : public ::testing::Test {
 protected:
  void SetUp() override {
    loop.BindToCurrentThread();
    z.SetDispatcher(&loop);
    z.SetLanPorts(sim.TelnetPort(), sim.DataPort());
    z.SetTimeout(3000);
    CZematTimings t;
    t.channelWaitMs = 1000;  // the starved-credit cases end after this
    z.SetTimings(t);
    ASSERT_TRUE(z.Connect(0, "127.0.0.1"));
  }
  void TearDown() override {
    status.reset();
    download.reset();
    if (ld) ld->Close();
    if (in) in->Close();
    ld.reset();
    in.reset();
    z.Disconnect();
  }

  std::shared_ptr<CCuDesc> Cu(const char* module, const char* name) {
    for (int m = 0; m < z.GetModuleCount(); ++m) {
      std::shared_ptr<CModule> mod = z.GetModule(m);
      if (std::string(mod->GetModuleType()) != module) continue;
      for (int c = 0; c < mod->GetCuDescCount(); ++c)
        if (std::string(mod->GetCuDesc(c)->GetCuName()) == name) return mod->GetCuDesc(c);
    }
    return nullptr;
  }
  int OpenChannels(const char* module) {
    ld = std::make_shared<CFirmwareCuIO>();
    in = std::make_shared<CFirmwareCuIO>();
    return OpenFirmwareChannels(Cu(module, "LD"), *ld, *in);
  }
  void StartStatus(TFirmwareTimings t = FastTimings()) {
    status = std::make_unique<TFirmwareStatusThread>(
        in, lock, loop, [this](int p, int c) { seen.statuses.emplace_back(p, c); }, t);
  }
  std::string Image(size_t size) {
    std::string image(size, '\0');
    for (size_t i = 0; i < size; ++i) image[i] = static_cast<char>((i * 31 + i / 1000) & 0xFF);
    return dir.Write("image.dlb", image);
  }
  void StartDownload(const std::string& path, TFirmwareTimings t = FastTimings(),
                     std::function<void(uint32_t)> onProgress = {}) {
    download = std::make_unique<TFirmwareCuThread>(
        in, ld, lock, CFirmwareFile::Open(path), loop,
        [this, onProgress](uint32_t n) {
          seen.events.push_back("progress");
          seen.progress.push_back(n);
          if (onProgress) onProgress(n);
        },
        [this](int r) {
          seen.events.push_back("finished");
          seen.result = r;
        },
        t);
  }
  // Serves the main loop until the download finished; its result (-1 when it did not finish).
  int Finish(unsigned limitMs = 10000) {
    loop.RunUntil([&] { return seen.result >= 0; }, limitMs);
    return seen.result;
  }
  json Loader(const char* module = "FW-1") {
    std::string reply = sim.Command(std::string("loader ") + module);
    EXPECT_EQ(reply.rfind("ok ", 0), 0u) << reply;
    return reply.size() > 3 ? json::parse(reply.substr(3)) : json::object();
  }
  void Sim(const std::string& command) { ASSERT_EQ(sim.Command(command), "ok") << command; }
  bool SawStatus(int phase, int code = -100) {
    for (auto [p, c] : seen.statuses)
      if (p == phase && (code == -100 || c == code)) return true;
    return false;
  }

  Simulator sim{kConfig};
  TempDir dir;
  CLoopDispatcher loop;
  CZematInstr z;
  std::shared_ptr<CFirmwareCuIO> ld, in;
  std::shared_ptr<std::mutex> lock = std::make_shared<std::mutex>();
  std::unique_ptr<TFirmwareStatusThread> status;
  std::unique_ptr<TFirmwareCuThread> download;
  TSeen seen;
};

}  // namespace

TEST_F(ThreadedFirmware, OpensLdAndTheExactlyNamedInOfTheSameModule) {
  EXPECT_EQ(OpenChannels("FW-1"), 0);
  EXPECT_TRUE(ld->IsOpen());
  EXPECT_TRUE(in->IsOpen());
  EXPECT_STREQ(in->GetDesc()->GetCuName(), "IN");
  EXPECT_EQ(in->GetDesc()->GetModule(), ld->GetDesc()->GetModule());
  ld->Close();
  in->Close();

  EXPECT_EQ(OpenChannels("LDONLY-2"), 2);  // "in" is not "IN"
  EXPECT_TRUE(ld->IsOpen());               // left to the caller
  ld->Close();
  EXPECT_EQ(OpenChannels("SHUT-3"), 2);
  ld->Close();
  EXPECT_EQ(OpenChannels("SHUT-4"), 1);
  EXPECT_FALSE(in->IsOpen());
  ld = std::make_shared<CFirmwareCuIO>();
  EXPECT_EQ(OpenFirmwareChannels(nullptr, *ld, *in), 1);
}

// The module gets the file unchanged, one frame per 1000 bytes, the last one shorter and never empty;
// progress follows every chunk and the finish comes after the last one.
TEST_F(ThreadedFirmware, SendsTheImageUnchangedInThousandByteFrames) {
  ASSERT_EQ(OpenChannels("FW-1"), 0);
  StartStatus();
  for (size_t size : {5000u, 2345u, 1000u, 999u}) {
    seen = TSeen();
    std::string path = Image(size);
    StartDownload(path);
    ASSERT_EQ(Finish(), kFirmwareFinished) << size;
    download.reset();
    json l = Loader();
    EXPECT_EQ(l["bytes"], size);
    EXPECT_EQ(l["frames"], (size + 999) / 1000);
    EXPECT_EQ(l["max_frame"], std::min<size_t>(size, 1000));
    EXPECT_EQ(l["min_frame"], size % 1000 ? size % 1000 : 1000);
    Sim("loader FW-1 save " + dir.File("received.dlb"));
    EXPECT_EQ(ReadFile(dir.File("received.dlb")), ReadFile(path)) << size;
    ASSERT_FALSE(seen.progress.empty());
    EXPECT_EQ(seen.progress.back(), size);
    EXPECT_TRUE(std::is_sorted(seen.progress.begin(), seen.progress.end()));
    EXPECT_EQ(seen.events.back(), "finished");
    // The module goes through its phases and comes back to "Ready".
    ASSERT_TRUE(loop.RunUntil([&] { return !seen.statuses.empty() && seen.statuses.back().first == 0; }, 5000));
  }
  EXPECT_TRUE(SawStatus(2));
}

TEST_F(ThreadedFirmware, EmptyFileSendsNothingAfterTheHandshake) {
  ASSERT_EQ(OpenChannels("FW-1"), 0);
  StartDownload(Image(0));
  EXPECT_EQ(Finish(), kFirmwareFinished);
  json l = Loader();
  EXPECT_EQ(l["resets"], 1);
  EXPECT_EQ(l["frames"], 0);
  EXPECT_TRUE(seen.progress.empty());
}

// The window's rule: an error status cancels a running transfer. Here the module stops granting
// credits soon after the error, so the transfer cannot end before the status is seen.
TEST_F(ThreadedFirmware, ErrorStatusDuringTheTransferCancelsIt) {
  ASSERT_EQ(OpenChannels("FW-1"), 0);
  Sim("loader FW-1 fault error 7 3000");
  Sim("loader FW-1 fault starve 8000");
  StartDownload(Image(200000));
  status = std::make_unique<TFirmwareStatusThread>(
      in, lock, loop,
      [this](int p, int c) {
        seen.statuses.emplace_back(p, c);
        if (p == kFirmwarePhaseError && download) download->Cancel();
      },
      FastTimings());
  EXPECT_EQ(Finish(), kFirmwareCancelled);
  EXPECT_TRUE(SawStatus(4, 7));
  EXPECT_STREQ(FirmwareStatusText(4, 7), "Module type mismatch");
  json l = Loader();
  EXPECT_LT(l["bytes"].get<long>(), 200000);
  EXPECT_EQ(l["bytes"], download->BytesSent());
}

TEST_F(ThreadedFirmware, CancelStopsAfterTheCurrentChunk) {
  ASSERT_EQ(OpenChannels("FW-1"), 0);
  Sim("loader FW-1 fault starve 1000000");  // the transfer cannot finish before the cancel
  StartDownload(Image(2000000), FastTimings(), [this](uint32_t) {
    if (!download->Cancelling()) download->Cancel();
  });
  EXPECT_EQ(Finish(), kFirmwareCancelled);
  EXPECT_TRUE(download->Cancelling());
  json l = Loader();
  EXPECT_EQ(l["bytes"], download->BytesSent());
  EXPECT_EQ(l["bytes"].get<long>() % 1000, 0);
  EXPECT_LT(l["bytes"].get<long>(), 2000000);
  EXPECT_EQ(seen.events.back(), "finished");
}

// Each fault ends in its outcome, well before the protocol's own waits would.
TEST_F(ThreadedFirmware, InjectedFaultsEndInTheirOutcome) {
  ASSERT_EQ(OpenChannels("FW-1"), 0);
  struct TFault {
    std::string command;
    int result;
    long maxBytes;
  };
  const TFault faults[] = {
      {"fault no-handshake", kFirmwareCommError, 0},
      {"fault bad-handshake", kFirmwareCommError, 0},
      {"fault starve 20000", kFirmwareCommError, 30000},  // credit wait of 1 s here
  };
  for (const TFault& f : faults) {
    seen = TSeen();
    Sim("loader FW-1 fault none");
    Sim("loader FW-1 " + f.command);
    StartDownload(Image(100000));
    EXPECT_EQ(Finish(), f.result) << f.command;
    download.reset();
    EXPECT_LE(Loader()["bytes"].get<long>(), f.maxBytes) << f.command;
  }
}

// A cancel during the handshake wait ends it at once: nothing is sent.
TEST_F(ThreadedFirmware, CancelDuringTheHandshakeSendsNothing) {
  ASSERT_EQ(OpenChannels("FW-1"), 0);
  Sim("loader FW-1 fault no-handshake");
  TFirmwareTimings t = FastTimings();
  t.handshakeWaitMs = 30000;
  StartDownload(Image(5000), t);
  ASSERT_TRUE(sim.WaitForStatus("\"instructions\":1", std::chrono::milliseconds(5000)));
  download->Cancel();
  EXPECT_EQ(Finish(5000), kFirmwareCancelled);
  EXPECT_EQ(Loader()["bytes"], 0);
}

TEST_F(ThreadedFirmware, LinkDroppedMidTransferIsACommunicationError) {
  ASSERT_EQ(OpenChannels("FW-1"), 0);
  Sim("loader FW-1 fault drop 20000");
  StartDownload(Image(3000000));
  EXPECT_EQ(Finish(), kFirmwareCommError);
  EXPECT_LT(download->BytesSent(), 3000000u);
}

// The module leaves while the transfer waits for a credit: the wait ends at once with result 2.
TEST_F(ThreadedFirmware, ModuleRemovedDuringTheTransferEndsIt) {
  // The full 45 s credit wait (set between sessions): the removal must cut it short.
  z.Disconnect();
  z.SetTimings(CZematTimings{});
  ASSERT_TRUE(z.Connect(0, "127.0.0.1"));
  ASSERT_EQ(OpenChannels("FW-1"), 0);
  Sim("loader FW-1 fault starve 10000");
  StartDownload(Image(100000));
  ASSERT_TRUE(loop.RunUntil([&] { return download->BytesSent() >= 10000; }, 5000));
  Sim("remove-module FW-1");
  EXPECT_EQ(Finish(10000), kFirmwareCommError);
  EXPECT_TRUE(ld->GetDesc()->IsRemoved());
}

// Both workers use IN at full speed: the lock keeps every reply with the worker that asked.
TEST_F(ThreadedFirmware, SharedLockKeepsTheRepliesApart) {
  ASSERT_EQ(OpenChannels("FW-1"), 0);
  TFirmwareTimings t = FastTimings();
  t.statusPauseMs = 0;
  StartStatus(t);
  for (int i = 0; i < 30; ++i) {
    seen.result = -1;
    StartDownload(Image(0), t);
    ASSERT_EQ(Finish(), kFirmwareFinished) << "download " << i;
  }
  EXPECT_EQ(Loader()["resets"], 30);
  ASSERT_FALSE(seen.statuses.empty());
  for (auto [p, c] : seen.statuses) EXPECT_TRUE(p >= 0 && p <= 3 && c == 0) << p << "," << c;
}

// Terminate cuts the protocol's long waits short, and no callback runs after it.
TEST_F(ThreadedFirmware, TerminateEndsWaitsAndStopsCallbacks) {
  ASSERT_EQ(OpenChannels("FW-1"), 0);
  Sim("loader FW-1 fault no-handshake");
  StartStatus(TFirmwareTimings{});                 // 3 s reply wait, 1 s pause
  StartDownload(Image(5000), TFirmwareTimings{});  // 30 s handshake wait
  // One of them now waits for a reply that does not come, the other for the lock or its reply.
  ASSERT_TRUE(sim.WaitForStatus([](const std::string& s) { return json::parse(s)["instructions"] >= 1; },
                                std::chrono::milliseconds(5000)));
  size_t before = seen.statuses.size();
  auto start = std::chrono::steady_clock::now();
  download.reset();
  status.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));  // not 30 s
  loop.ProcessPending();
  EXPECT_EQ(seen.statuses.size(), before);
  EXPECT_EQ(seen.result, -1);
}

// Replies far longer than the loader's 100-byte buffer and replies with garbage numbers: cut and
// decoded, never a crash.
TEST_F(ThreadedFirmware, LongAndGarbledRepliesAreCutAndDecoded) {
  ASSERT_EQ(OpenChannels("ODD-5"), 0);
  StartStatus();
  StartDownload(Image(3000));
  EXPECT_EQ(Finish(), kFirmwareFinished);  // the handshake's first 95 bytes hold what counts
  ASSERT_TRUE(loop.RunUntil([&] { return !seen.statuses.empty(); }, 5000));
  EXPECT_EQ(seen.statuses.front(), std::make_pair(2, 0));
  status.reset();
  download.reset();
  ld->Close();
  in->Close();

  seen = TSeen();
  ASSERT_EQ(OpenChannels("ODD-6"), 0);
  StartStatus();
  ASSERT_TRUE(loop.RunUntil([&] { return !seen.statuses.empty(); }, 5000));
  EXPECT_EQ(seen.statuses.front(), std::make_pair(-1, -1));
}
