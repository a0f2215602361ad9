// test_cli_commands.cpp: tree, io, listen and watch against the simulator, over TCP and a pty.
#include <gtest/gtest.h>

#include <fstream>

#include "CliHarness.h"
#include "TestConfig.h"
#include "support/Net.h"
#include "support/TempDir.h"

using namespace clitest;
using namespace support;

namespace {

// What listen prints for stream message k of 3 bytes (byte i = (k + i) & 0xFF): the text up to the
// first zero byte, control characters as '.'.
std::string StreamLine(long k) {
  std::string line;
  for (int i = 0; i < 3; ++i) {
    unsigned char c = static_cast<unsigned char>((k + i) & 0xFF);
    if (c == 0) break;
    line.push_back(c < 0x20 || c == 0x7F ? '.' : static_cast<char>(c));
  }
  return line;
}

class CliTest : public ::testing::Test {
 protected:
  CliResult Run(const std::vector<std::string>& args, std::chrono::milliseconds limit = 60s) {
    return RunCli(Concat(LinkArgs(sim), args), limit);
  }
  Simulator sim{kInstrumentJson};
};

TEST_F(CliTest, TreeListsBothModuleListsAndEveryCu) {
  CliResult r = Run({"tree"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, kInstrumentTree);
  // The session ends with a goodbye, not a dropped link.
  EXPECT_TRUE(sim.WaitForStatus("\"goodbyes\":1", 5s)) << sim.Command("status");
}

TEST(CliSerial, TreeOverPtyAsCom1) {
  Simulator sim(kInstrumentJson, {"--serial"});
  ASSERT_FALSE(sim.Pty().empty());
  CliResult r = RunCli(Concat(LinkArgs(sim), {"--timeout", "3000", "tree"}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, kInstrumentTree);
}

TEST_F(CliTest, IoPrintsOneReplyPerTextByNameOrIndex) {
  CliResult r = Run({"io", "main-1", "in", "*IDN?", "STATUS?"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "MAIN-1,000123\nOK STATUS?\n");

  r = Run({"io", "2", "1", "PUMP:ON"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "OK PUMP:ON\n");
  // Each text went out as exactly one instruction, and every CU was closed again.
  std::string status = sim.Command("status");
  EXPECT_NE(status.find("\"instructions\":3"), std::string::npos) << status;
  EXPECT_NE(status.find("\"open\":[]"), std::string::npos) << status;
}

TEST_F(CliTest, IoWithoutReplyPrintsCmdErrorAndGoesOn) {
  CliResult r = Run({"io", "MAIN-1", "IN", "QUIET", "AFTER"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "cmd error!\nOK AFTER\n");
}

TEST_F(CliTest, IoViaCsReachesTheSlaveModule) {
  CliResult r = Run({"io", "--via-cs", "VALVE-S1", "IN", "OPEN:1", "*IDN?"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "OK OPEN:1\nOK *IDN?\n");
}

TEST_F(CliTest, ListenCountStopsAfterExactlyThatManyMessagesInOrder) {
  // More than one batch of read credits (235), so the client must keep granting.
  CliResult r = Run({"listen", "MAIN-1", "ST", "--count", "600"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<std::string> lines = SplitLines(r.out);
  ASSERT_EQ(lines.size(), 600u);
  for (long k = 0; k < 600; ++k) ASSERT_EQ(lines[k], StreamLine(k)) << "message " << k;
}

TEST_F(CliTest, ListenSecondsEndsWithWhatArrivedMeanwhile) {
  CliResult r = Run({"listen", "MAIN-1", "SR", "--seconds", "1"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<std::string> lines = SplitLines(r.out);
  for (size_t k = 0; k < lines.size(); ++k) EXPECT_EQ(lines[k], StreamLine(static_cast<long>(k)));

  // A CU that sends nothing: no output, still a clean end.
  r = Run({"listen", "MAIN-1", "EV", "--seconds", "0.3"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
}

TEST_F(CliTest, ListenCountOrSecondsWhicheverComesFirst) {
  CliResult r = Run({"listen", "MAIN-1", "EV", "--count", "5", "--seconds", "0.5"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
  r = Run({"listen", "MAIN-1", "ST", "--seconds", "60", "--count", "3"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, StreamLine(0) + "\n" + StreamLine(1) + "\n" + StreamLine(2) + "\n");
}

TEST_F(CliTest, WatchPrintsTreeThenEachNotification) {
  auto cli = StartCli(Concat(LinkArgs(sim), {"watch", "--seconds", "6"}));
  ASSERT_TRUE(cli->WaitForOutput(kInstrumentTree, 20s)) << cli->Out() << cli->Err();
  EXPECT_EQ(sim.Command("remove-module PUMP-2"), "ok");
  ASSERT_TRUE(cli->WaitForOutput("Module PUMP-2 removed\n", 10s)) << cli->Out();
  EXPECT_EQ(sim.Command("add-module NEW-9 000999"), "ok");
  ASSERT_TRUE(cli->WaitForOutput("Module NEW-9 added\n", 10s)) << cli->Out();
  EXPECT_EQ(cli->Finish(30s), 0) << cli->Err();
  EXPECT_EQ(cli->Out(), std::string(kInstrumentTree) +
                            "Configuration changed\nModule PUMP-2 removed\n"
                            "Configuration changed\nModule NEW-9 added\n");
}

TEST(CliTrace, TraceFileRecordsWhyTheConnectionFailed) {
  TempDir dir;
  std::string trace = dir.Path() + "/cli.trc";
  int port = UnusedPort();
  CliResult r = RunCli({"--trace", "4", "--trace-file", trace, "--telnet-port", std::to_string(port), "--data-port",
                        std::to_string(port), "tree"});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  std::ifstream in(trace);
  std::string first;
  EXPECT_TRUE(std::getline(in, first)) << "no trace written to " << trace;
}

}  // namespace
