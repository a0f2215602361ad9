// The text every CU window kind makes of a received message (no channel needed).
#include <gtest/gtest.h>
#include <QListWidget>
#include <ostream>

#include "Fakes.h"
#include "cuwindows/Analreport.h"
#include "cuwindows/Canslave.h"
#include "cuwindows/Ddform.h"
#include "cuwindows/Event.h"
#include "cuwindows/Instrtime.h"
#include "cuwindows/Rawdata.h"
#include "cuwindows/Rawdatanucleus.h"
#include "cuwindows/Traceform.h"

namespace {

QStringList Lines(const TAsciiListForm& form) {
  QStringList lines;
  for (int i = 0; i < form.List()->count(); ++i) lines << form.List()->item(i)->text();
  return lines;
}

void Show(TAsciiListForm& form, const std::string& data) {
  form.ShowData(data.data(), static_cast<int>(data.size()), 1);
}

TEST(AsciiListShowData, SplitsAtLineFeedsAndIndentsContinuationLines) {
  TAsciiListForm form;
  Show(form, "a\nb\n\nc");
  EXPECT_EQ(Lines(form), (QStringList{"a", "      b", "      c"}));
  form.List()->clear();
  Show(form, "\n");
  EXPECT_EQ(Lines(form), QStringList{""});
  form.List()->clear();
  Show(form, "");
  Show(form, "x\r\ny");  // carriage returns stay
  EXPECT_EQ(Lines(form), (QStringList{"", "x\r", "      y"}));
  form.List()->clear();
  form.ShowData("abc\ndef", 2, 1);  // cut at the length
  EXPECT_EQ(Lines(form), QStringList{"ab"});
}

TEST(AsciiListShowData, BytesAboveAsciiAreShownOneCharacterEach) {
  TAsciiListForm form;
  Show(form, std::string("\xb5s \xe4", 4));
  EXPECT_EQ(Lines(form), QStringList{QString::fromLatin1("\xb5s \xe4")});
}

struct TEventCase {
  const char* text;
  const char* line;
};
void PrintTo(const TEventCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class EventLineOf : public ::testing::TestWithParam<TEventCase> {};

TEST_P(EventLineOf, TheMessage) { EXPECT_EQ(TEventForm::EventLine(GetParam().text), GetParam().line); }

INSTANTIATE_TEST_SUITE_P(FormatsTextTimeAndThirdField, EventLineOf,
                         ::testing::ValuesIn(std::vector<TEventCase>{
                             {"Ready,86400,OK", "Ready, 2.1.1970  0:00:00, OK"},
                             {"no commas", "no commas"},
                             {"Alarm,abc,X", "Alarm, 1.1.1970  0:00:00, X"},
                             {"A,1000000000,B,fourth", "A, 9.9.2001  1:46:40, B"},
                             {",,Lead,3661,Z", "Lead, 1.1.1970  1:01:01, Z"},
                             {"Two,59", "Two, 1.1.1970  0:00:59, "},  // no third field: empty
                             {"Only,", "Only"},
                             {"", ""},
                             {",,,", ",,,"},
                             {"Big,99999999999999,x", "Big, 19.1.2038  3:14:07, x"},  // 32-bit limit
                         }));

TEST(EventShowData, AddsOneLineAndLogsItWithTheModulePrefix) {
  TFakeModule m("EV");
  TFakeChannels channels;
  TFakeMain main;
  TEventForm form;
  ASSERT_EQ(form.OpenCu(m.cu, &main, false, "Events"), 1);
  Show(form, "Ready,86400,OK");
  EXPECT_EQ(Lines(form), QStringList{"Ready, 2.1.1970  0:00:00, OK"});
  EXPECT_EQ(main.log.last(), "G1: Ready, 2.1.1970  0:00:00, OK");
}

TEST(RawDataShowData, CutsAtTheSemicolonEndingTheFirstField) {
  TRawDataForm form;
  Show(form, "12.5;3;4");
  Show(form, ";;7;8");
  Show(form, "no semicolon");
  Show(form, ";;;");
  EXPECT_EQ(Lines(form), (QStringList{"12.5", ";;7", "no semicolon", ";;;"}));
}

TEST(TraceShowData, JoinsPiecesIntoLines) {
  TTraceCu form;
  Show(form, "abc");
  Show(form, "def\n");
  Show(form, "ghi");
  EXPECT_EQ(Lines(form), (QStringList{"abcdef", "ghi"}));
  Show(form, "\nx\ny\n");
  EXPECT_EQ(Lines(form), (QStringList{"abcdef", "ghi", "x", "y"}));  // a leading line feed continues nothing
  Show(form, "");
  EXPECT_EQ(Lines(form).size(), 5);
}

TEST(DDShowData, ReportsOnlyTheLength) {
  TDDCuForm form;
  Show(form, std::string("\0\1\2", 3));
  Show(form, "");
  EXPECT_EQ(Lines(form), (QStringList{"3 chars received", "0 chars received"}));
}

TEST(CanSlaveShowData, PrefixesTheSourceAndSplitsLines) {
  TCanSlaveForm form;
  Show(form, "01reply\nmore");
  Show(form, "X");
  EXPECT_EQ(Lines(form), (QStringList{"01: reply", "      more", "X: "}));
  QByteArray line("XY");
  form.BeforeSend(line);
  EXPECT_EQ(line, "INXY");
}

// ---- analysis report ----

std::string Record(const std::string& name, std::initializer_list<int32_t> i32, std::initializer_list<int16_t> i16) {
  std::string r(44, '\0');
  std::memcpy(r.data(), name.data(), std::min<size_t>(name.size(), 16));
  int o = 16;
  for (int32_t v : i32) {
    for (int s = 24; s >= 0; s -= 8) r[o++] = static_cast<char>(v >> s);
  }
  for (int16_t v : i16) {
    r[o++] = static_cast<char>(v >> 8);
    r[o++] = static_cast<char>(v);
  }
  return r;
}

void Put16(std::string& s, int o, int16_t v) {
  s[o] = static_cast<char>(v >> 8);
  s[o + 1] = static_cast<char>(v);
}
void Put32(std::string& s, int o, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[o + i] = static_cast<char>(v >> (24 - 8 * i));
}

QStringList Report(const std::string& m) {
  return TAnalysisReport::ReportLines(reinterpret_cast<const uint8_t*>(m.data()), static_cast<int>(m.size()));
}

TEST(AnalysisReport, PlainRecordsAndTheirData) {
  std::string m =
      Record("Peak", {1, -2, 3, 70000}, {5, -6, 7, 8, 9, 3}) + "abc" + Record("Next", {0, 0, 0, 0}, {0, 0, 0, 0, 0, 0});
  EXPECT_EQ(Report(m), (QStringList{"Peak, 1, -2, 3, 70000, 5, -6, 7, 8, 9, 3", "    3 bytes of data",
                                    "Next, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0", "    0 bytes of data"}));
  EXPECT_EQ(Report(std::string(43, 'x')), QStringList{"To few data bytes (min. 44 expected, 43 received)"});
  EXPECT_EQ(Report(Record("A", {0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}) + "zz").last(),
            "To few data bytes (min. 44 expected, 2 received)");
  EXPECT_TRUE(Report("").isEmpty());
}

TEST(AnalysisReport, NamesFillingTheirSlotAndNegativeCountsAreSafe) {
  const std::string full = Record("ABCDEFGHIJKLMNOPQ", {0, 0, 0, 0}, {0, 0, 0, 0, 0, -50});
  const QStringList lines = Report(full);
  ASSERT_EQ(lines.size(), 2);
  EXPECT_TRUE(lines[0].startsWith("ABCDEFGHIJKLMNOP, "));  // 16 bytes, no terminator in the slot
  EXPECT_EQ(lines[1], "    -50 bytes of data");
}

TEST(AnalysisReport, FractionDataForms) {
  EXPECT_EQ(Report(Record("FractionData", {1, 2, 3, 4}, {0, 0, 0, 0, 0, 0})),
            (QStringList{"FractionData, 1, 2, 3, 4, 0, 0, 0, 0, 0, 0", "    No additional fraction data"}));
  EXPECT_EQ(Report(Record("FractionData", {0, 0, 0, 0}, {0, 0, 0, 0, 0, 50}) + std::string(50, '\0')).last(),
            "    Invalid number of fraction data bytes (146/78 (or 82/62) expected, 50 received)");

  std::string trigger(62, '\0');
  Put16(trigger, 0, 2);
  for (int i = 0; i < 4; ++i) Put16(trigger, 2 + 2 * i, static_cast<int16_t>(10 + i));
  Put32(trigger, 10, 0x40490fd0);  // 3.14159
  Put32(trigger, 14, 100);
  Put32(trigger, 18, static_cast<uint32_t>(-200));
  Put16(trigger, 22, 7);
  Put16(trigger, 24, 8);
  for (int i = 0; i < 4; ++i) Put32(trigger, 26 + 4 * i, static_cast<uint32_t>(i + 1));
  std::memcpy(trigger.data() + 42, "TrigName", 8);
  EXPECT_EQ(Report(Record("FractionData", {0, 0, 0, 0}, {0, 0, 0, 0, 0, 62}) + trigger).last(),
            "    2, (10, 11, 12, 13), 3.14, (100, -200), (7, 8), (1, 2,  3, 4), TrigName");

  std::string sources(146, '\0');
  std::memcpy(sources.data() + 2, "Ext1", 4);
  std::memcpy(sources.data() + 2 + 72, "Ext3", 4);
  const QStringList lines = Report(Record("FractionData", {0, 0, 0, 0}, {0, 0, 0, 0, 0, 146}) + sources +
                                   Record("After", {0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}));
  ASSERT_EQ(lines.size(), 5);
  EXPECT_EQ(lines[1], QString("Ext1").leftJustified(36));
  EXPECT_EQ(lines[2], QString("Ext3").leftJustified(36));
  EXPECT_TRUE(lines[3].startsWith("After, "));

  EXPECT_EQ(Report(Record("FractionData", {0, 0, 0, 0}, {0, 0, 0, 0, 0, 82}) + std::string(82, '\0')).last(),
            "    No external trigger sources");
}

TEST(AnalysisReport, FractionDataCutShortIsReportedNotRead) {
  std::string m = Record("FractionData", {0, 0, 0, 0}, {0, 0, 0, 0, 0, 146}) + std::string(10, '\0');
  EXPECT_EQ(Report(m).last(), "To few data bytes (min. 190 expected, 54 received)");
}

// ---- nucleus raw data ----

std::string Nucleus(uint32_t record, uint8_t revision, uint8_t id, const std::string& rest = std::string()) {
  std::string h(10, '\0');
  Put32(h, 0, record);
  h[4] = static_cast<char>(revision);
  h[5] = static_cast<char>(id);
  return h + rest;
}

QString NucleusLine(const std::string& m) {
  return TRawDataNucleusForm::HeaderLine(reinterpret_cast<const uint8_t*>(m.data()), static_cast<int>(m.size()));
}

TEST(RawDataNucleus, HeaderLines) {
  EXPECT_EQ(NucleusLine(Nucleus(5, 2, 1)), "invalid FormatRevision 2");
  const char* plain[] = {"ANA_START", "ANA_STOP", "RUN_START", "RUN_STOP"};
  for (int id = 1; id <= 4; ++id) EXPECT_EQ(NucleusLine(Nucleus(42, 1, id)), QString(plain[id - 1]) + ", #42");
  EXPECT_EQ(NucleusLine(Nucleus(42, 1, 9)), "MONITOR_START, #42");
  EXPECT_EQ(NucleusLine(Nucleus(42, 1, 10)), "MONITOR_STOP, #42");
  std::string src(6, '\0');
  Put16(src, 4, 3);
  EXPECT_EQ(NucleusLine(Nucleus(7, 1, 5, src)), "SIG_START, #7, source 3");
  EXPECT_EQ(NucleusLine(Nucleus(7, 1, 8, src)), "SCAN_STOP, #7, source 3");
  std::string s11(2, '\0');
  Put16(s11, 0, 4);
  EXPECT_EQ(NucleusLine(Nucleus(1, 1, 11, s11)), "MONITOR_COMPLETE_INFO, #1, source 4");
  std::string s12(10, '\0');
  Put32(s12, 0, 2);
  Put32(s12, 4, 9);
  Put16(s12, 8, 6);
  EXPECT_EQ(NucleusLine(Nucleus(1, 1, 12, s12)), "MONITOR_SAMPLE_INFO, #1, record 2 of 9, infos 6");
  std::string s13(12, '\0');
  Put32(s13, 0, 2);
  Put32(s13, 4, 9);
  Put32(s13, 8, 1000);
  EXPECT_EQ(NucleusLine(Nucleus(1, 1, 13, s13)), "MONITOR_SAMPLE_SIGNAL, #1, record 2 of 9, points 1000");
  std::string s14(10, '\0');
  Put16(s14, 0, 1);
  Put32(s14, 2, 5);
  Put32(s14, 6, 512);
  EXPECT_EQ(NucleusLine(Nucleus(1, 1, 14, s14)), "EQUIDISTANT_SIGNAL, #1, source 1, record 5, points 512");
  EXPECT_EQ(NucleusLine(Nucleus(1, 1, 15, s14)), "NON_EQUIDISTANT_SIGNAL, #1, source 1, record 5, points 512");
  EXPECT_EQ(NucleusLine(Nucleus(1, 1, 16, s14.substr(0, 6))), "SCAN, #1, source 1, record 5");
  EXPECT_EQ(NucleusLine(Nucleus(1, 1, 17)), "invalid HeaderID 17");
  EXPECT_EQ(NucleusLine(Nucleus(1, 1, 0)), "invalid HeaderID 0");
}

TEST(RawDataNucleus, ShortMessagesAreReportedNotRead) {
  EXPECT_EQ(NucleusLine(std::string("\0\0", 2)), "raw data header too short (2 bytes)");
  EXPECT_EQ(NucleusLine(Nucleus(1, 1, 12, "x")), "raw data header too short (11 bytes)");
  EXPECT_EQ(NucleusLine(Nucleus(1, 1, 5)), "raw data header too short (10 bytes)");
}

TEST(InstrumentTime, FormatsWithoutTimeZone) {
  EXPECT_EQ(FormatInstrumentTime(0), "1.1.1970  0:00:00");
  EXPECT_EQ(FormatInstrumentTime(2147483647), "19.1.2038  3:14:07");
  EXPECT_EQ(FormatInstrumentTime(13 * 3600 + 5), "1.1.1970 13:00:05");
  EXPECT_EQ(LeadingInteger("  42abc"), 42);
  EXPECT_EQ(LeadingInteger("-7"), -7);
  EXPECT_EQ(LeadingInteger("x1"), 0);
}

}  // namespace
