// test_cli_errors.cpp: the client's exit codes and messages for every failure: bad arguments,
// unknown module or CU, refused open, no instrument, and a connection dropped while listening.
#include <gtest/gtest.h>

#include <signal.h>

#include "CliHarness.h"
#include "TestConfig.h"
#include "support/Net.h"

using namespace clitest;
using namespace support;

namespace {

TEST(CliUsage, BadArgumentsExitTwoWithMessageAndUsage) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"bogus"},
      {"--link", "COM5", "tree"},
      {"--link", "lan0", "tree"},
      {"--timeout", "-1", "tree"},
      {"--timeout", "12ms", "tree"},
      {"--timeout"},
      {"--telnet-port", "70000", "tree"},
      {"--data-port", "0", "tree"},
      {"--trace", "9", "tree"},
      {"--frobnicate", "1", "tree"},
      {"--serial-device", "/dev/null", "tree"},  // only for a COM link
      {"tree", "extra"},
      {"io", "1"},
      {"io", "1", "IN"},
      {"io", "--via-cs", "1"},
      {"io", "1", "IN", ""},
      {"io", "1", "IN", std::string(4497, 'x')},
      {"listen", "1", "IN", "--count", "0"},
      {"listen", "1", "IN", "--count"},
      {"listen", "1", "IN", "--count", "x1"},
      {"listen", "1", "IN", "--seconds", "abc"},
      {"listen", "1", "IN", "--seconds", "-2"},
      {"listen", "1", "IN", "--forever"},
      {"watch"},
      {"watch", "--seconds"},
      {"watch", "--seconds", "nan"},
      {"watch", "--count", "3"},
  };
  for (const auto& args : cases) {
    std::string shown;
    for (const auto& a : args) shown += "[" + a.substr(0, 20) + "]";
    CliResult r = RunCli(args, 20s);
    EXPECT_EQ(r.exitCode, 2) << shown << "\n" << r.err;
    EXPECT_NE(r.err.find("morvent-cli: "), std::string::npos) << shown;
    EXPECT_NE(r.err.find("usage: morvent-cli"), std::string::npos) << shown;
    EXPECT_EQ(r.out, "") << shown;
  }
}

TEST(CliUsage, HelpPrintsUsageAndSucceeds) {
  CliResult r = RunCli({"--help"}, 20s);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("usage: morvent-cli"), std::string::npos);
}

TEST(CliConnect, NoInstrumentExitsOne) {
  int port = UnusedPort();
  CliResult r = RunCli({"--telnet-port", std::to_string(port), "--data-port", std::to_string(port), "tree"}, 30s);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "Connection to instrument failed\n");
  EXPECT_EQ(r.out, "");

  r = RunCli({"--link", "COM2", "--serial-device", "/nonexistent/tty", "io", "1", "IN", "X"}, 30s);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "Connection to instrument failed\n");
}

class CliFailure : public ::testing::Test {
 protected:
  CliResult Run(const std::vector<std::string>& args) { return RunCli(Concat(LinkArgs(sim), args), 60s); }
  Simulator sim{kInstrumentJson};
};

TEST_F(CliFailure, UnknownModuleOrCuExitsThree) {
  const std::vector<std::vector<std::string>> cases = {
      {"io", "NOSUCH", "IN", "X"},
      {"io", "MAIN-1", "NOSUCH", "X"},
      {"io", "4", "1", "X"},
      {"io", "1", "6", "X"},
      {"io", "0", "1", "X"},
      {"listen", "PUMP-2", "EV", "--count", "1"},
      {"io", "--via-cs", "MAIN", "IN", "X"},
  };
  for (const auto& args : cases) {
    CliResult r = Run(args);
    EXPECT_EQ(r.exitCode, 3) << args[1] << " " << args[2] << "\n" << r.err;
    EXPECT_NE(r.err.find("Cannot open CU"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(CliFailure, RefusedOpenExitsThree) {
  ASSERT_EQ(sim.Command("refuse-open on"), "ok");
  CliResult r = Run({"io", "MAIN-1", "IN", "*IDN?"});
  EXPECT_EQ(r.exitCode, 3) << r.err;
  EXPECT_EQ(r.err, "Cannot open CU\n");
  EXPECT_EQ(r.out, "");

  r = Run({"listen", "--via-cs", "VALVE-S1", "IN", "--count", "1"});
  EXPECT_EQ(r.exitCode, 3) << r.err;
  EXPECT_EQ(r.err, "Cannot open CU\n");

  ASSERT_EQ(sim.Command("refuse-open off"), "ok");
  r = Run({"io", "MAIN-1", "IN", "*IDN?"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "MAIN-1,000123\n");
}

TEST_F(CliFailure, DroppedConnectionDuringListenExitsFour) {
  auto cli = StartCli(Concat(LinkArgs(sim), {"--timeout", "3000", "listen", "MAIN-1", "EV", "--seconds", "60"}));
  ASSERT_TRUE(sim.WaitForStatus("\"cu\":\"EV\"", 20s)) << sim.Command("status");
  EXPECT_EQ(sim.Command("fault drop"), "ok");
  EXPECT_EQ(cli->Finish(30s), 4) << cli->Err();
  EXPECT_EQ(cli->Err(), "Connection to instrument lost\n");
  EXPECT_EQ(cli->Out(), "");
}

TEST_F(CliFailure, DroppedConnectionDuringWatchExitsFour) {
  auto cli = StartCli(Concat(LinkArgs(sim), {"--timeout", "3000", "watch", "--seconds", "60"}));
  ASSERT_TRUE(cli->WaitForOutput(kInstrumentTree, 20s)) << cli->Err();
  EXPECT_EQ(sim.Command("fault drop"), "ok");
  EXPECT_EQ(cli->Finish(30s), 4) << cli->Err();
  EXPECT_EQ(cli->Err(), "Connection to instrument lost\n");
  EXPECT_EQ(cli->Out(), kInstrumentTree);
}

TEST_F(CliFailure, ModuleRemovedUnderListenEndsTheCommand) {
  auto cli = StartCli(Concat(LinkArgs(sim), {"listen", "PUMP-2", "IN", "--seconds", "60"}));
  ASSERT_TRUE(sim.WaitForStatus("\"module\":\"PUMP-2\"", 20s)) << sim.Command("status");
  EXPECT_EQ(sim.Command("remove-module PUMP-2"), "ok");
  EXPECT_EQ(cli->Finish(30s), 3) << cli->Err();
  EXPECT_NE(cli->Err().find("removed"), std::string::npos) << cli->Err();
}

// The instrument holds the "CS" open back and meanwhile reports a configuration without the slave's
// module: the slave's open must not go out, and the client says why it ends.
TEST_F(CliFailure, SlaveModuleLeavesWhileTheCsOpenIsHeld) {
  EXPECT_EQ(sim.Command("delay-open 500"), "ok");
  auto cli = StartCli(Concat(LinkArgs(sim), {"listen", "--via-cs", "VALVE-S1", "IN", "--seconds", "60"}));
  ASSERT_TRUE(sim.WaitForStatus("\"held_opens\":1", 20s)) << sim.Command("status");
  EXPECT_EQ(sim.Command("remove-module VALVE-S1"), "ok");
  EXPECT_EQ(cli->Finish(30s), 3) << cli->Err();
  EXPECT_NE(cli->Err().find("Module of the CU was removed by the instrument"), std::string::npos) << cli->Err();
  EXPECT_EQ(sim.Command("status").find("\"slave\":true"), std::string::npos);  // no slave was opened
}

TEST_F(CliFailure, InterruptEndsListenCleanly) {
  auto cli = StartCli(Concat(LinkArgs(sim), {"listen", "MAIN-1", "EV"}));
  ASSERT_TRUE(sim.WaitForStatus("\"cu\":\"EV\"", 20s)) << sim.Command("status");
  cli->Signal(SIGINT);
  EXPECT_EQ(cli->Finish(30s), 0) << cli->Err();
  // The CU was closed and the session said goodbye.
  EXPECT_TRUE(sim.WaitForStatus("\"goodbyes\":1", 5s)) << sim.Command("status");
  EXPECT_NE(sim.Command("status").find("\"open\":[]"), std::string::npos);
}

}  // namespace
