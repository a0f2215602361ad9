// Tracer_test.cpp: the trace log's filtering, line format, hex dumps and disabled states.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "StandardApp/Tracer.h"
#include "support/TempDir.h"

namespace {
struct TraceFile {
  support::TempDir dir{"morvent-trace"};
  std::string path = dir.File("trace.trc");  // not there until the tracer writes
  std::vector<std::string> Lines() const {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  bool Exists() const { return access(path.c_str(), F_OK) == 0; }
};
}  // namespace

TEST(Tracer, LevelFiltersMessagesAndLineHasItsFields) {
  TraceFile file;
  CTracer tracer;
  tracer.SetFileName(file.path);
  tracer.SetLevel(2);
  tracer.Trace(1, "CZematInstr::Poll", "buffer overflow, m_ibuf = %d", 7);
  tracer.Trace(2, "Src", "%s and %02X", "text", 10);
  tracer.Trace(3, "Src", "not written");
  auto lines = file.Lines();
  ASSERT_EQ(lines.size(), 2u);
  std::regex line1(R"(^\d\d\.\d\d\.\d{4}, \d\d:\d\d:\d\d, 1, Error, CZematInstr::Poll, buffer overflow, m_ibuf = 7$)");
  EXPECT_TRUE(std::regex_match(lines[0], line1)) << lines[0];
  EXPECT_NE(lines[1].find(", 2, Warning, Src, text and 0A"), std::string::npos) << lines[1];
}

TEST(Tracer, LevelNamesIncludingUndefined) {
  TraceFile file;
  CTracer tracer;
  tracer.SetFileName(file.path);
  tracer.SetLevel(4);
  tracer.Trace(3, "S", "i");
  tracer.Trace(4, "S", "d");
  tracer.Trace(0, "S", "u");
  auto lines = file.Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find(", 3, Info, S, i"), std::string::npos);
  EXPECT_NE(lines[1].find(", 4, Dump, S, d"), std::string::npos);
  EXPECT_NE(lines[2].find(", 0, Undefined, S, u"), std::string::npos);
}

TEST(Tracer, SetLevelIgnoresValuesOutOfRange) {
  CTracer tracer;
  tracer.SetLevel(3);
  tracer.SetLevel(5);
  EXPECT_EQ(tracer.GetLevel(), 3);
  tracer.SetLevel(-1);
  EXPECT_EQ(tracer.GetLevel(), 3);
  tracer.SetLevel(0);
  EXPECT_EQ(tracer.GetLevel(), 0);
}

TEST(Tracer, HexDumpEndsTheLineAndIsLeftOutForOversizedOrNullData) {
  TraceFile file;
  CTracer tracer;
  tracer.SetFileName(file.path);
  tracer.SetLevel(2);
  const uint8_t three[] = {0x0A, 0xFF, 0x00};
  tracer.TraceHex(2, "S", three, 3, "input buffer: %d", 3);
  std::vector<uint8_t> big(4501, 0xAB);
  tracer.TraceHex(2, "S", big.data(), 4501, "big");
  tracer.TraceHex(2, "S", nullptr, 3, "null");
  auto lines = file.Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(lines[0].size() > 13 && lines[0].substr(lines[0].size() - 13) == "HEX 0A FF 00 ") << lines[0];
  EXPECT_EQ(lines[0].find("input buffer: 3 HEX "), lines[0].size() - 13 - 16);
  EXPECT_EQ(lines[1].find("HEX"), std::string::npos);
  EXPECT_TRUE(lines[1].size() > 4 && lines[1].substr(lines[1].size() - 4) == "big ");
  EXPECT_EQ(lines[2].find("HEX"), std::string::npos);
}

TEST(Tracer, AppendHexDataOnItsOwn) {
  std::string line = "x ";
  const uint8_t bytes[] = {0x01, 0xAB};
  CTracer::AppendHexData(line, bytes, 2);
  EXPECT_EQ(line, "x HEX 01 AB ");
  std::vector<uint8_t> full(4500, 0);
  std::string big;
  CTracer::AppendHexData(big, full.data(), 4500);
  EXPECT_EQ(big.size(), 4u + 3u * 4500u);
}

TEST(Tracer, NothingWrittenWhenOffOrWithoutName) {
  TraceFile file;
  CTracer off;
  off.SetFileName(file.path);
  off.Trace(1, "S", "level 0 writes nothing");
  EXPECT_FALSE(file.Exists());
  CTracer unnamed;
  unnamed.SetLevel(4);
  unnamed.Trace(1, "S", "no file name");
  EXPECT_FALSE(file.Exists());
  EXPECT_FALSE(unnamed.Enabled(1));
}

TEST(Tracer, ReadOnlyFileSwitchesTracingOff) {
  TraceFile file;
  { std::ofstream(file.path) << "kept\n"; }
  chmod(file.path.c_str(), 0444);
  CTracer tracer;
  tracer.SetFileName(file.path);
  tracer.SetLevel(4);
  EXPECT_EQ(tracer.GetFileName(), "");
  tracer.Trace(1, "S", "lost");
  chmod(file.path.c_str(), 0644);
  EXPECT_EQ(file.Lines(), std::vector<std::string>{"kept"});
}

TEST(Tracer, GlobalInstanceIsOneObject) { EXPECT_EQ(&Tracer(), &Tracer()); }
