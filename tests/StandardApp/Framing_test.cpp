// Framing_test.cpp: cutting the byte stream into frames, the red-card answer scan, routing,
// credit messages and the sending side's buffer, driven directly on an attached socketpair.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <random>

#include "FramingProbe.h"
#include "StandardApp/Tracer.h"
#include "support/FakeInstrument.h"
#include "support/TempDir.h"

using namespace support;

namespace {
struct Stream {
  CFramingProbe s;
  int peer = -1;
  Stream() {
    int fds[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    s.AttachStream(fds[0]);
    peer = fds[1];
  }
  ~Stream() { close(peer); }
  void Put(const Bytes& b) { ASSERT_EQ(write(peer, b.data(), b.size()), static_cast<ssize_t>(b.size())); }
  Bytes Take() {
    uint8_t* frame = s.GetMessage();
    Bytes b(frame, frame + CZematInstr::ReadU16(frame));
    delete[] frame;
    return b;
  }
  // Reads everything available and returns the complete frames met on the way.
  std::vector<Bytes> Drain() {
    std::vector<Bytes> frames;
    for (;;) {
      while (s.TestMsgComplete()) frames.push_back(Take());
      if (s.Poll(0) <= 0) break;  // the peer wrote everything before
    }
    while (s.TestMsgComplete()) frames.push_back(Take());
    return frames;
  }
};

uint8_t* NewFrame(const Bytes& b) {
  auto* f = new uint8_t[b.size()];
  std::memcpy(f, b.data(), b.size());
  return f;
}

Bytes Payload(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
  return b;
}

const Bytes kLongAnswer{0x00, 0x0C, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x07, 0x00, 0x08, 0x00, 0x09};
const Bytes kShortAnswer{0x00, 0x06, 0xFF, 0xFF, 0xFF, 0xFF};

struct GlobalTrace {
  support::TempDir dir{"morvent-framing"};
  std::string path = dir.File("framing.trc");
  GlobalTrace() {
    Tracer().SetFileName(path);
    Tracer().SetLevel(2);
  }
  ~GlobalTrace() {
    Tracer().SetLevel(0);
    Tracer().SetFileName("");
  }
  std::string Text() { return ReadFile(path); }
};
}  // namespace

TEST(Framing, U16IsBigEndian) {
  uint8_t b[2];
  CZematInstr::WriteU16(b, 0x1234);
  EXPECT_EQ(b[0], 0x12);
  EXPECT_EQ(b[1], 0x34);
  EXPECT_EQ(CZematInstr::ReadU16(b), 0x1234u);
  CZematInstr::WriteU16(b, 65535);
  EXPECT_EQ(CZematInstr::ReadU16(b), 65535u);
}

TEST(Framing, BytesArrivingOneAtATime) {
  Stream st;
  Bytes frame = MakeFrame(5, Payload(10, 3));
  for (size_t i = 0; i < frame.size(); ++i) {
    st.Put({frame[i]});
    ASSERT_EQ(st.s.Poll(1000), 1);
    if (i + 1 < frame.size()) {
      EXPECT_FALSE(st.s.TestMsgComplete()) << "after byte " << i;
    }
  }
  ASSERT_TRUE(st.s.TestMsgComplete());
  EXPECT_EQ(st.Take(), frame);
  EXPECT_EQ(st.s.InputBuffered(), 0);
}

TEST(Framing, FramesSplitAcrossAnyNumberOfReads) {
  std::mt19937 rng(42);
  for (int round = 0; round < 20; ++round) {
    Stream st;
    std::vector<Bytes> sent;
    Bytes stream;
    for (int i = 0; i < 12; ++i) {
      size_t n = std::uniform_int_distribution<size_t>(1, round % 2 ? 4496 : 80)(rng);
      sent.push_back(MakeFrame(i + 10, Payload(n, static_cast<uint8_t>(i))));
      stream.insert(stream.end(), sent.back().begin(), sent.back().end());
    }
    std::vector<Bytes> received;
    for (size_t pos = 0; pos < stream.size();) {
      size_t n = std::min(stream.size() - pos, std::uniform_int_distribution<size_t>(1, 3000)(rng));
      st.Put(Bytes(stream.begin() + pos, stream.begin() + pos + n));
      pos += n;
      for (auto& f : st.Drain()) received.push_back(f);
    }
    ASSERT_EQ(received, sent) << "round " << round;
  }
}

// The reader's step takes every complete frame of a read and hands runs of frames to their channels
// at once; across reads cut anywhere, each channel still gets its frames whole and in order, and the
// frames routed one by one (grant, control frame, frame for nobody) keep their place.
TEST(Framing, TakeFramesKeepsEachChannelsOrderAcrossReads) {
  std::mt19937 rng(7);
  Stream st;
  ASSERT_EQ(st.s.HandleRedCardAnswer(kLongAnswer.data()), 0);
  st.s.SetConnected(true);  // so that the channels read (their credit grants find no writer)
  CCuIO a(std::make_shared<CCuDesc>(&st.s, nullptr)), b(std::make_shared<CCuDesc>(&st.s, nullptr));
  st.s.AddOpenCu(&a, 12);
  st.s.AddOpenCu(&b, 13);
  std::vector<Bytes> forA, forB;
  Bytes stream;
  auto add = [&](const Bytes& f) { stream.insert(stream.end(), f.begin(), f.end()); };
  for (int i = 0; i < 60; ++i) {
    const size_t n = std::uniform_int_distribution<size_t>(1, i % 3 ? 60 : 4496)(rng);
    const long socket = i % 7 < 4 ? 12 : 13;
    Bytes f = MakeFrame(socket, Payload(n, static_cast<uint8_t>(i)));
    (socket == 12 ? forA : forB).push_back(f);
    add(f);
    if (i == 20) add(MakeFrame(0xFFFF, Join({U16(12), {5}})));
    if (i == 30) add(MakeFrame(7, {0x0E}));
    if (i == 40) add(MakeFrame(99, {0x01}));
  }
  int taken = 0;
  for (size_t pos = 0; pos < stream.size();) {
    const size_t n = std::min(stream.size() - pos, std::uniform_int_distribution<size_t>(1, 9000)(rng));
    st.Put(Bytes(stream.begin() + pos, stream.begin() + pos + n));
    pos += n;
    while (st.s.Poll(0) > 0) {
      const int r = st.s.TakeFrames();
      ASSERT_GE(r, 0);
      taken += r;
    }
  }
  EXPECT_EQ(taken, 63);
  EXPECT_EQ(st.s.InputBuffered(), 0);
  EXPECT_EQ(a.PendingGrants(), 1u);
  EXPECT_EQ(st.s.CfgChannel()->QueuedItems(), 1u);
  for (auto [ch, sent] : {std::pair{&a, &forA}, std::pair{&b, &forB}}) {
    ASSERT_EQ(ch->QueuedItems(), sent->size());
    for (const Bytes& f : *sent) {
      uint8_t buffer[Z_READ_BUFFER];
      int length = sizeof buffer;
      ASSERT_EQ(ch->Read(buffer, &length, 0), Z_OK);
      EXPECT_EQ(Bytes(buffer, buffer + length - 1), f);
    }
  }
}

TEST(Framing, LongestFrameIsTakenWhole) {
  Stream st;
  Bytes frame = MakeFrame(3, Payload(4496, 1));
  ASSERT_EQ(frame.size(), 4500u);
  st.Put(frame);
  auto frames = st.Drain();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], frame);
  EXPECT_FALSE(st.s.InputBroken());
}

TEST(Framing, InvalidLengthIsTracedAndNeverReadBeyondTheBuffer) {
  GlobalTrace trace;
  Stream st;
  Bytes big{0x11, 0x95, 0x00, 0x03};  // 4501
  big.resize(4501, 0x55);
  st.Put(big);
  EXPECT_GT(st.s.Poll(1000), 0);
  EXPECT_FALSE(st.s.TestMsgComplete());
  EXPECT_TRUE(st.s.InputBroken());
  EXPECT_FALSE(st.s.TestMsgComplete());  // stays refused, traced once
  std::string text = trace.Text();
  EXPECT_NE(text.find("1, Error, CZematInstr::TestMsgComplete, invalid message length, m_ibuf = 0, m_ip = 0"),
            std::string::npos)
      << text.substr(0, 300);
  EXPECT_NE(text.find("2, Warning, CZematInstr::TestMsgComplete, input buffer: \n HEX 11 95 00 03 55 "),
            std::string::npos);
}

TEST(Framing, LengthsBelowTheHeaderAreInvalid) {
  for (uint8_t length = 0; length < 4; ++length) {
    Stream st;
    st.Put({0x00, length, 0x00, 0x01, 0x02});
    EXPECT_GT(st.s.Poll(1000), 0);
    EXPECT_FALSE(st.s.TestMsgComplete()) << int(length);
    EXPECT_TRUE(st.s.InputBroken()) << int(length);
  }
}

TEST(Framing, RedCardAnswerFoundBehindGarbage) {
  Stream st;
  st.Put(Join({{0x01, 0x02, 0x03, 0xFF, 0xFF, 0xFF, 0x00, 0x17}, kLongAnswer}));
  ASSERT_GT(st.s.Poll(1000), 0);
  ASSERT_TRUE(st.s.TestRedCardAnswer());
  EXPECT_EQ(st.s.InputOffset(), 0);
  Bytes answer = st.Take();
  EXPECT_EQ(answer, kLongAnswer);
  ASSERT_EQ(st.s.HandleRedCardAnswer(answer.data()), 0);
  EXPECT_EQ(st.s.GetMode(), 2);
  EXPECT_EQ(st.s.GetStatus(), IN_SYNC);
  EXPECT_EQ(st.s.CfgChannel()->GetSocket(), 7);
  EXPECT_EQ(st.s.EvtChannel()->GetSocket(), 8);
  EXPECT_EQ(st.s.OpnChannel()->GetSocket(), 9);
  EXPECT_STREQ(st.s.CfgDesc()->GetCuName(), "CF");
  EXPECT_STREQ(st.s.EvtDesc()->GetDescription(), "EVENT     ");
  EXPECT_STREQ(st.s.OpnDesc()->GetOwnerText(), "ZEMAT ");
  EXPECT_EQ(st.s.EvtDesc()->GetInCount(), 0);
  EXPECT_EQ(st.s.CfgDesc()->GetKeyLength(), 22);
}

TEST(Framing, MarkerBehindAnotherLengthIsSkipped) {
  Stream st;
  st.Put(Join({{0x00, 0x08, 0xFF, 0xFF, 0xFF, 0xFF}, kShortAnswer}));
  ASSERT_GT(st.s.Poll(1000), 0);
  ASSERT_TRUE(st.s.TestRedCardAnswer());
  Bytes answer = st.Take();
  EXPECT_EQ(answer, kShortAnswer);
  ASSERT_EQ(st.s.HandleRedCardAnswer(answer.data()), 0);
  EXPECT_EQ(st.s.GetMode(), 1);
  EXPECT_EQ(st.s.CfgChannel()->GetSocket(), 0);
  EXPECT_EQ(st.s.EvtChannel()->GetSocket(), 1);
  EXPECT_EQ(st.s.OpnChannel()->GetSocket(), 2);
}

TEST(Framing, AnswerSplitIntoSingleBytesAfterLongGarbage) {
  Stream st;
  st.Put(Payload(300, 0));  // no FF FF FF FF inside
  ASSERT_GT(st.s.Poll(1000), 0);
  EXPECT_FALSE(st.s.TestRedCardAnswer());
  EXPECT_LE(st.s.InputBuffered(), 5);  // only a possible beginning is kept
  for (size_t i = 0; i < kLongAnswer.size(); ++i) {
    st.Put({kLongAnswer[i]});
    ASSERT_EQ(st.s.Poll(1000), 1);
    bool found = st.s.TestRedCardAnswer();
    EXPECT_EQ(found, i + 1 == kLongAnswer.size()) << "byte " << i;
  }
  EXPECT_EQ(st.Take(), kLongAnswer);
}

TEST(Framing, OtherRedCardAnswerLengthIsRefused) {
  CFramingProbe s;
  Bytes odd{0x00, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x01};
  EXPECT_EQ(s.HandleRedCardAnswer(odd.data()), -1);
  EXPECT_EQ(s.GetMode(), 0);
  EXPECT_NE(s.GetStatus(), IN_SYNC);
}

TEST(Framing, CreditEntriesGoToTheirChannelsOnly) {
  CFramingProbe s;
  ASSERT_EQ(s.HandleRedCardAnswer(kLongAnswer.data()), 0);
  // (open, 5), (unknown, 0), (event, 3), (config, 0), then a 2-byte fragment.
  Bytes credits = MakeFrame(0xFFFF, Join({U16(9), {5}, U16(1234), {0}, U16(8), {3}, U16(7), {0}, {0x00, 0x07}}));
  s.HandleCredits(credits.data());
  EXPECT_EQ(s.OpnChannel()->PendingGrants(), 1u);
  EXPECT_EQ(s.CfgChannel()->PendingGrants(), 0u);
  EXPECT_EQ(s.EvtChannel()->PendingGrants(), 0u);
}

TEST(Framing, DispatchRoutesBySocketAndDropsTheRest) {
  CFramingProbe s;
  ASSERT_EQ(s.HandleRedCardAnswer(kLongAnswer.data()), 0);
  s.Dispatch(NewFrame(MakeFrame(7, {0x0E})));
  s.Dispatch(NewFrame(MakeFrame(8, {0x00, 0x00, 0x05})));
  s.Dispatch(NewFrame(MakeFrame(100, {0x01})));    // no channel holds it
  s.Dispatch(NewFrame(MakeFrame(65533, {0x01})));  // "no socket"
  s.Dispatch(NewFrame(MakeFrame(65534, {0x01})));  // unused
  s.Dispatch(NewFrame(MakeFrame(0xFFFF, Join({U16(7), {2}}))));
  EXPECT_EQ(s.CfgChannel()->QueuedItems(), 1u);
  EXPECT_EQ(s.EvtChannel()->QueuedItems(), 1u);
  EXPECT_EQ(s.OpnChannel()->QueuedItems(), 0u);
  EXPECT_EQ(s.CfgChannel()->PendingGrants(), 1u);
  // A later red-card answer reassigns the control sockets.
  s.Dispatch(NewFrame(kShortAnswer));
  EXPECT_EQ(s.CfgChannel()->GetSocket(), 0);
  EXPECT_EQ(s.GetStatus(), IN_SYNC);
}

TEST(Framing, SendMessageWritesOneFrame) {
  Stream st;
  const char text[] = "*IDN?";
  EXPECT_EQ(st.s.SendMessage(text, 5, 300), 9);
  uint8_t got[16];
  ASSERT_EQ(read(st.peer, got, sizeof got), 9);
  EXPECT_EQ(Bytes(got, got + 9), MakeFrame(300, Bytes(text, text + 5)));
  EXPECT_EQ(st.s.OutputBuffered(), 0);
}

TEST(Framing, PeerThatStopsReadingMakesSendsFailInsteadOfHanging) {
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
  int small = 4096;
  setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  CFramingProbe s;
  s.SetTimeout(3000);  // bounds each send
  s.AttachStream(fds[0]);
  Bytes payload = Payload(4000, 1);
  int result = 0, frames = 0;
  for (; frames < 1000 && result >= 0; ++frames) result = s.SendMessage(payload.data(), 4000, 5);
  EXPECT_EQ(result, -1);
  EXPECT_LT(frames, 1000);
  close(fds[1]);
}

TEST(Framing, FailedSendsFillTheOutputBufferUntilItIsResetAndReported) {
  CFramingProbe s;  // no transport: every send fails
  Bytes payload = Payload(1000, 9);
  for (int i = 1; i <= 4; ++i) {
    EXPECT_EQ(s.SendMessage(payload.data(), 1000, 4), -1);
    EXPECT_EQ(s.OutputBuffered(), 1004 * i);  // kept for the next attempt
  }
  EXPECT_EQ(s.SendMessage(payload.data(), 1000, 4), -1);
  EXPECT_EQ(s.OutputBuffered(), 0);
  EXPECT_EQ(s.PutOutput(payload.data(), 1000), 1000);
  Bytes tooMuch(3501);
  EXPECT_EQ(s.PutOutput(tooMuch.data(), 3501), -1);
  EXPECT_EQ(s.OutputBuffered(), 1000);
}

TEST(Framing, PayloadLargerThanTheBufferIsRefusedNotAsserted) {
  CFramingProbe s;
  Bytes payload(5000, 1);
  EXPECT_EQ(s.SendMessage(payload.data(), 5000, 4), -1);
  EXPECT_EQ(s.OutputBuffered(), 0);
}

using FramingDeathTest = ::testing::Test;

TEST(FramingDeathTest, SendingPreconditionsStopWithTheirText) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  CFramingProbe s;
  uint8_t b[4] = {1, 2, 3, 4};
  EXPECT_DEATH(s.SendMessage(b, 0, 1), "length > 0, module StandardApp/TO");
  EXPECT_DEATH(s.SendMessage(nullptr, 3, 1), "string != 0, module StandardApp/TO");
  EXPECT_DEATH(s.SendMessage(b, 32768, 1), "Z_MESSAGELENGTH_MAX, module StandardApp/TO");
  EXPECT_DEATH(s.SendMessage(b, 4, 65536), "socket_number <= .long.Z_FLOW_SOCKET_NUMBER, module StandardApp/TO");
  EXPECT_DEATH(s.FormatMessage(b, 4, -1), "socket_number >= .long.Z_SOCKET_MIN");
  EXPECT_DEATH(CZematInstr::WriteU16(b, 65536), "number <= .long.Z_FLOW_SOCKET_NUMBER");
  EXPECT_DEATH(CZematInstr::WriteU16(b, -1), "number >= .long.0");
  EXPECT_DEATH(s.FindCu(65533), "socket_number <= Z_SOCKET_MAX, module StandardApp/CORE");
}
