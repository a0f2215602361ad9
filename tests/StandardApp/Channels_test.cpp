// Channels_test.cpp: channel credits and queues without a link, and the configuration records
// (descriptor and module) as parsed from replies.
#include <gtest/gtest.h>

#include <cstring>

#include "StandardApp/Cu.h"
#include "StandardApp/Module.h"
#include "support/FakeInstrument.h"

using namespace support;

namespace {
Bytes DescRecord(int inCount) {
  return Join({{4}, Z("OWN"), Z("DESCRIPTION"), Z("IN"), {3}, U16(512), {static_cast<uint8_t>(inCount)}, U16(64)});
}

// Exposes the queue helpers that Read, Open and Close are built on.
class CProbeIO : public CCuIO {
 public:
  using CCuIO::CCuIO;
  using CCuIoBase::ReadFrame;
  using CCuIoBase::WaitResult;
};

uint8_t* NewFrame(const Bytes& b) {
  auto* f = new uint8_t[b.size()];
  std::memcpy(f, b.data(), b.size());
  return f;
}
}  // namespace

TEST(Channels, DescriptorRecordIsParsedInPlace) {
  CCuDesc d(nullptr, nullptr);
  Bytes rec = DescRecord(2);
  ASSERT_TRUE(d.Parse(rec.data(), static_cast<int>(rec.size())));
  EXPECT_STREQ(d.GetOwnerText(), "OWN");
  EXPECT_STREQ(d.GetDescription(), "DESCRIPTION");
  EXPECT_STREQ(d.GetCuName(), "IN");
  EXPECT_EQ(d.GetKeyLength(), 1 + 4 + 12 + 3);
  EXPECT_EQ(d.GetOutCount(), 3);
  EXPECT_EQ(d.GetOutSize(), 512);
  EXPECT_EQ(d.GetInCount(), 2);
  EXPECT_EQ(d.GetInSize(), 64);
  EXPECT_EQ(d.GetRequestedOut(), 0);
}

TEST(Channels, MalformedDescriptorRecordsAreRefused) {
  CCuDesc d(nullptr, nullptr);
  Bytes noParameters = Join({{5}, Z("OWN"), Z("DESC"), Z("IN"), {1, 0}});
  EXPECT_FALSE(d.Parse(noParameters.data(), static_cast<int>(noParameters.size())));
  Bytes tooLong = Join({{4}, Z(std::string(50, 'o')), Z("D"), Z("IN"), {1, 0, 1, 1, 0, 1}});
  EXPECT_FALSE(d.Parse(tooLong.data(), static_cast<int>(tooLong.size())));
  Bytes noName = Join({{4}, Z("OWN"), Z("DESC")});
  EXPECT_FALSE(d.Parse(noName.data(), static_cast<int>(noName.size())));
  EXPECT_STREQ(d.GetCuName(), "");  // texts stay inside the record
}

TEST(Channels, ModuleRecordsAndComparison) {
  auto module = CModule::Create(nullptr, true);
  CModule& m = *module;
  Bytes rec = Join({{1}, Z("MAIN-1"), Z("000123"), {0xAA, 0xBB}});
  ASSERT_TRUE(m.SetRecord(rec.data(), static_cast<int>(rec.size())));
  EXPECT_STREQ(m.GetModuleType(), "MAIN-1");
  EXPECT_STREQ(m.GetSerialNumber(), "000123");
  EXPECT_TRUE(m.IsSecondList());
  Bytes again = rec;
  again[0] = 2;  // the type byte differs between replies
  EXPECT_TRUE(m.SameRecord(again.data(), static_cast<int>(again.size())));
  again[3] = 'X';
  EXPECT_FALSE(m.SameRecord(again.data(), static_cast<int>(again.size())));
  Bytes shorter(rec.begin(), rec.end() - 1);
  EXPECT_FALSE(m.SameRecord(shorter.data(), static_cast<int>(shorter.size())));
  Bytes noSerialEnd = Join({{1}, Z("MAIN-1"), {'0', '1'}});
  EXPECT_FALSE(m.SetRecord(noSerialEnd.data(), static_cast<int>(noSerialEnd.size())));
  Bytes tooLong = Join({{1}, Z(std::string(30, 'T')), Z("123456")});
  EXPECT_FALSE(m.SetRecord(tooLong.data(), static_cast<int>(tooLong.size())));
}

TEST(Channels, ModuleKeepsSixteenDescriptors) {
  auto module = CModule::Create(nullptr, false);
  CModule& m = *module;
  for (int i = 0; i < 16; ++i) EXPECT_TRUE(m.AddCuDesc(std::make_unique<CCuDesc>(nullptr, &m)));
  EXPECT_FALSE(m.AddCuDesc(std::make_unique<CCuDesc>(nullptr, &m)));
  EXPECT_EQ(m.GetCuDescCount(), 16);
  EXPECT_EQ(m.GetCuDesc(16), nullptr);
  EXPECT_EQ(m.GetCuDesc(-1), nullptr);
}

TEST(Channels, InitialSendCreditsFollowTheInBuffers) {
  auto none = std::make_shared<CCuDesc>(nullptr, nullptr), some = std::make_shared<CCuDesc>(nullptr, nullptr);
  Bytes r0 = DescRecord(0), r4 = DescRecord(4);
  ASSERT_TRUE(none->Parse(r0.data(), static_cast<int>(r0.size())));
  ASSERT_TRUE(some->Parse(r4.data(), static_cast<int>(r4.size())));
  CCuIO a(none), b(some);
  a.SetSocket(10);
  b.SetSocket(11);
  EXPECT_EQ(a.GetSendCredits(), 0);
  EXPECT_EQ(b.GetSendCredits(), 1);
  EXPECT_TRUE(b.IsOpen());
  CCuCtrlIO control(none);  // control channels start with one credit whatever the descriptor says
  control.SetSocket(0);
  EXPECT_EQ(control.GetSendCredits(), 1);
  EXPECT_EQ(control.GetReadCreditsOutstanding(), 0);
}

TEST(Channels, GrantsQueueSeparately) {
  CCuIO ch;
  ch.AddCredit(5);
  ch.AddCredit(2);
  EXPECT_EQ(ch.PendingGrants(), 2u);
}

TEST(Channels, WithoutALinkReadsTimeOutAndWritesReportTimeOut) {
  CCuIO ch;
  uint8_t buffer[Z_READ_BUFFER];
  int length = sizeof buffer;
  EXPECT_EQ(ch.Read(buffer, &length, 10), Z_TIMEOUT);
  EXPECT_EQ(ch.Write("x", 1), Z_TIMEOUT);
  EXPECT_EQ(ch.Open(), 0);
  EXPECT_EQ(ch.Close(), 0);
  CCuIoSlave slave;
  EXPECT_EQ(slave.Read(buffer, &length, 10), Z_TIMEOUT);
  EXPECT_EQ(slave.Open(), 0);
}

TEST(Channels, ReadCopiesAWholeFrameAndSkipsStaleResults) {
  CProbeIO ch;
  ch.DeliverResult(1);  // a late open result nobody waits for
  Bytes frame = MakeFrame(12, {'o', 'k'});
  ch.Deliver(NewFrame(frame), static_cast<int>(frame.size()));
  uint8_t buffer[Z_READ_BUFFER];
  std::memset(buffer, 0xEE, sizeof buffer);
  int length = sizeof buffer;
  ASSERT_EQ(ch.ReadFrame(buffer, &length, 100), Z_OK);
  EXPECT_EQ(length, 7);
  EXPECT_EQ(Bytes(buffer, buffer + 6), frame);
  EXPECT_EQ(buffer[6], 0);
  EXPECT_EQ(ch.QueuedItems(), 0u);
  EXPECT_EQ(ch.ReadFrame(buffer, &length, 10), Z_TIMEOUT);
}

TEST(Channels, ResultsAreNeverConfusedWithFrames) {
  CProbeIO ch;
  // A 256-byte frame on socket 0 starts 01 00 00 00: as a little-endian number that is 1.
  Bytes lookalike = MakeFrame(0, Bytes(252, 0));
  ch.Deliver(NewFrame(lookalike), 256);
  ch.DeliverResult(0);
  EXPECT_EQ(ch.WaitResult(100), 0);  // the frame was discarded, the real result taken
  EXPECT_EQ(ch.WaitResult(10), -1);
}

TEST(Channels, FramesLeftInTheQueueAreFreedWithTheChannel) {
  auto ch = std::make_unique<CCuIO>();
  Bytes frame = MakeFrame(1, {1, 2, 3});
  for (int i = 0; i < 3; ++i) ch->Deliver(NewFrame(frame), 7);
  ch->DeliverResult(1);
  EXPECT_EQ(ch->QueuedItems(), 4u);
  ch.reset();  // the sanitizer build reports a leak if frames were not freed
}

TEST(ChannelsDeathTest, FrameLongerThanTheCallersBufferIsAProgrammingError) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  CProbeIO ch;
  Bytes frame = MakeFrame(1, Bytes(20, 1));
  ch.Deliver(NewFrame(frame), 24);
  uint8_t small[16];
  int length = sizeof small;
  EXPECT_DEATH(ch.ReadFrame(small, &length, 100), "Len <= \\*pLen, module StandardApp/Cu");
}
