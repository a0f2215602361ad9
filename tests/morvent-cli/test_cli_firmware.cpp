// test_cli_firmware.cpp: the firmware command against the simulator's module loader: the image arrives
// and the module comes back "Ready", and one scenario per exit code family.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <thread>

#include "CliHarness.h"
#include "support/TempDir.h"

using namespace clitest;
using namespace support;

namespace {

const char* const kLoaderJson = R"({"keepalive_ms": 1000, "modules": [
  {"type": "FW-1", "serial": "1", "cus": [ {"name": "IN"},
     {"name": "LD", "in_count": 4, "in_size": 1000, "loader": {"erase_ms": 30, "end_idle_ms": 80, "verify_ms": 30}} ]},
  {"type": "NOLD-2", "serial": "2", "cus": [ {"name": "IN"}, {"name": "ld"} ]},
  {"type": "NOIN-3", "serial": "3", "cus": [ {"name": "LD"} ]}
]})";

class CliFirmware : public ::testing::Test {
 protected:
  std::string Image(size_t size) {
    std::string image(size, '\0');
    for (size_t i = 0; i < size; ++i) image[i] = static_cast<char>((i * 13 + i / 977) & 0xFF);
    return dir.Write("image.dlb", image);
  }
  CliResult Firmware(const std::string& module, const std::string& path) {
    return RunCli(Concat(LinkArgs(sim), {"firmware", module, path}));
  }
  long LoaderBytes() {
    std::string reply = sim.Command("loader FW-1");
    return reply.rfind("ok ", 0) == 0 ? nlohmann::json::parse(reply.substr(3))["bytes"].get<long>() : -1;
  }
  void Sim(const std::string& command) { ASSERT_EQ(sim.Command(command), "ok") << command; }

  Simulator sim{kLoaderJson};
  TempDir dir;
};

}  // namespace

TEST_F(CliFirmware, ImageArrivesUnchangedAndTheModuleIsReadyAgain) {
  std::string path = Image(12345);
  CliResult r = Firmware("FW-1", path);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  std::vector<std::string> out = SplitLines(r.out);
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.front(), "Downloading 12345 bytes");
  EXPECT_EQ(out.back(), "Download finished, module Ready");
  // Not a terminal: at most one progress line per 10 %, rising, ending at the whole image.
  std::vector<int> percents;
  std::string last;
  for (const std::string& line : SplitLines(r.err))
    if (line.rfind("Progress: ", 0) == 0) {
      percents.push_back(std::atoi(line.c_str() + 10));
      last = line;
    }
  ASSERT_FALSE(percents.empty()) << r.err;
  EXPECT_LE(percents.size(), 10u) << r.err;
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end(), std::less_equal<int>())) << r.err;
  EXPECT_EQ(last, "Progress: 100% (12345 of 12345 bytes)");
  Sim("loader FW-1 save " + dir.File("received.dlb"));
  EXPECT_EQ(ReadFile(dir.File("received.dlb")), ReadFile(path));

  // By index, with an empty image: the handshake alone, and Ready again.
  r = Firmware("1", Image(0));
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(LoaderBytes(), 0);
}

TEST_F(CliFirmware, UsageAndFilesThatCannotBeOpenedExitTwo) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"firmware"}, {"firmware", "FW-1"}, {"firmware", "FW-1", "a.dlb", "b.dlb"}}) {
    CliResult r = RunCli(Concat(LinkArgs(sim), args));
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("usage: morvent-cli"), std::string::npos);
  }
  for (const std::string& path : {dir.File("missing.dlb"), dir.Path()}) {
    CliResult r = Firmware("FW-1", path);
    EXPECT_EQ(r.exitCode, 2) << path;
    EXPECT_EQ(r.err, "Cannot open firmware file\n") << path;
  }
}

TEST_F(CliFirmware, MissingModuleLdOrInExitThree) {
  const std::string path = Image(100);
  struct {
    const char* module;
    const char* message;
  } cases[] = {{"NOPE-9", "Cannot open LD CU"}, {"NOLD-2", "Cannot open LD CU"}, {"NOIN-3", "Cannot open IN CU"}};
  for (const auto& c : cases) {
    CliResult r = Firmware(c.module, path);
    EXPECT_EQ(r.exitCode, 3) << c.module;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.module << ": " << r.err;
  }
}

// The error stops the transfer (the module also stops granting credits, so it cannot end first).
TEST_F(CliFirmware, ModuleErrorExitsSevenWithItsText) {
  Sim("loader FW-1 fault error 3 3000");
  Sim("loader FW-1 fault starve 8000");
  CliResult r = Firmware("FW-1", Image(200000));
  EXPECT_EQ(r.exitCode, 7) << r.out << r.err;
  EXPECT_NE(r.out.find("Status: Flash erasue failed\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("download canceled"), std::string::npos);
  EXPECT_LT(LoaderBytes(), 200000);
}

TEST_F(CliFirmware, CommunicationErrorsExitEight) {
  for (const char* fault : {"bad-handshake", "drop 20000"}) {
    Sim("loader FW-1 fault none");
    Sim(std::string("loader FW-1 fault ") + fault);
    CliResult r = Firmware("FW-1", Image(2000000));
    EXPECT_EQ(r.exitCode, 8) << fault << "\n" << r.out << r.err;
    EXPECT_NE(r.out.find("Communication error"), std::string::npos) << fault;
  }
}

// Ctrl-C while the transfer waits for a credit: cancelled at once, the rest of the image stays home.
TEST_F(CliFirmware, InterruptCancelsAndExitsSix) {
  Sim("loader FW-1 fault starve 5000");
  auto cli = StartCli(Concat(LinkArgs(sim), {"firmware", "FW-1", Image(100000)}));
  ASSERT_TRUE(cli->WaitForOutput("Downloading", 10s));
  for (int i = 0; i < 200 && LoaderBytes() < 5000; ++i) std::this_thread::sleep_for(20ms);
  ASSERT_GE(LoaderBytes(), 5000);
  cli->Signal(SIGINT);
  EXPECT_EQ(cli->Finish(10s), 6) << cli->Out() << cli->Err();
  EXPECT_NE(cli->Out().find("download canceled"), std::string::npos) << cli->Out();
  EXPECT_LT(LoaderBytes(), 100000);
}
