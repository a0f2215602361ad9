// Time text both ways in three time zones (daylight saving dates, the 32-bit ends, bad text), Pos2
// and TStringList.Tokenize.
#include "ScriptTestSupport.h"
#include "scriptlib/Cmdtime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace {

using Lines = std::vector<std::string>;

// The process's time zone for the scope (set while no script runs).
class CTimeZone {
 public:
  explicit CTimeZone(const char* tz) {
    if (const char* old = std::getenv("TZ")) m_old = old, m_had = true;
    ::setenv("TZ", tz, 1);
    ::tzset();
  }
  ~CTimeZone() {
    if (m_had)
      ::setenv("TZ", m_old.c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }

 private:
  std::string m_old;
  bool m_had = false;
};

const char kCentralEurope[] = "CET-1CEST,M3.5.0,M10.5.0/3";

TEST(TimeFunctions, CentralEuropeWithDaylightSaving) {
  CTimeZone zone(kCentralEurope);
  TRunResult r = RunScript(R"(program cet;
begin
  Output.writeln(TimeToStr(0));
  Output.writeln(StrToTime('1.1.1970  1:00:00'));
  Output.writeln(StrToTime('15.7.2021 12:00:00'));
  Output.writeln(TimeToStr(1626343200));
  Output.writeln(StrToTime(TimeToStr(1626343200)));
  Output.writeln(TimeToStr(-1));
  Output.writeln(StrToTime(TimeToStr(-1)));
  Output.writeln(TimeToStr(2147483647));
  Output.writeln(TimeToStr(-2147483648));
  Output.writeln(StrToTime('2.1.1970'));
  Output.writeln(StrToTime(' 2.1.1970 1:2'));
  Output.writeln(StrToTime('28.3.2021  2:30:00'));
end.
)");
  EXPECT_EQ(OkLines(r),
            (Lines{"1.1.1970  1:00:00", "0", "1626343200", "15.7.2021 12:00:00", "1626343200", "1.1.1970  0:59:59",
                   "-1", "19.1.2038  4:14:07", "13.12.1901 21:45:52", "82800", "86520", "1616895000"}));
  // Every hour of a year comes back as itself, except the hour that the autumn change repeats:
  // its summer half reads as the winter half, one hour later.
  int mismatches = 0;
  for (int32_t t = 1609459200; t < 1609459200 + 365 * 86400; t += 3600) {
    int32_t back = 0;
    ASSERT_TRUE(TextToTime(TimeToText(t), back)) << t;
    if (back != t) {
      ++mismatches;
      EXPECT_EQ(t, 1635638400);  // 31.10.2021 2:00 summer time
      EXPECT_EQ(back, t + 3600);
    }
  }
  EXPECT_EQ(mismatches, 1);
}

TEST(TimeFunctions, NewYorkAndUtc) {
  {
    CTimeZone zone("EST5EDT,M3.2.0,M11.1.0");
    TRunResult r = RunScript(R"(program ny;
begin
  Output.writeln(TimeToStr(0));
  Output.writeln(StrToTime('15.7.2021 12:00:00'));
  Output.writeln(TimeToStr(1626364800));
  Output.writeln(StrToTime('15.1.2021 12:00:00'));
end.
)");
    EXPECT_EQ(OkLines(r), (Lines{"31.12.1969 19:00:00", "1626364800", "15.7.2021 12:00:00", "1610730000"}));
  }
  CTimeZone zone("UTC0");
  TRunResult r = RunScript(R"(program utc;
var t: Integer;
begin
  Output.writeln(TimeToStr(2147483647));
  Output.writeln(StrToTime('19.1.2038  3:14:07'));
  Output.writeln(TimeToStr(-2147483648));
  Output.writeln(StrToTime('13.12.1901 20:45:52'));
  Output.writeln(StrToTime('32.1.1970 0:0:0'));
  t := Time;
  Output.writeln(t);
  Output.writeln(StrToTime(TimeToStr(t)) - t);
end.
)");
  Lines out = OkLines(r);
  ASSERT_EQ(out.size(), 7u);
  EXPECT_EQ(Lines(out.begin(), out.begin() + 5),
            (Lines{"19.1.2038  3:14:07", "2147483647", "13.12.1901 20:45:52", "-2147483648", "2678400"}));
  EXPECT_NEAR(std::stod(out[5]), static_cast<double>(std::time(nullptr)), 600.0);
  EXPECT_EQ(out[6], "0");
}

TEST(TimeFunctions, BadTimesAreClearErrors) {
  CTimeZone zone("UTC0");
  const std::pair<const char*, const char*> kCases[] = {
      {"StrToTime('garbage')", "Runtime error line 3: Invalid time text 'garbage'"},
      {"StrToTime('')", "Runtime error line 3: Invalid time text ''"},
      {"StrToTime('1.1.3000 0:00:00')", "Runtime error line 3: Invalid time text '1.1.3000 0:00:00'"},
      {"StrToTime('19.1.2038  3:14:08')", "Runtime error line 3: Invalid time text '19.1.2038  3:14:08'"},
      {"StrToTime('99999999999.1.1970')", "Runtime error line 3: Invalid time text '99999999999.1.1970'"},
  };
  for (const auto& [call, error] : kCases) {
    TRunResult r = RunScript(std::string("program bad;\nbegin\n  Output.writeln(") + call + ");\nend.\n");
    EXPECT_EQ(r.lines, (Lines{error, ""})) << call;
  }
  // Numbers that no 32-bit time can hold fail in the value conversion.
  for (const char* call : {"TimeToStr(2147483647 + 1)", "TimeToStr('abc')"}) {
    TRunResult r = RunScript(std::string("program bad;\nbegin\n  Output.writeln(") + call + ");\nend.\n");
    EXPECT_EQ(r.outcome, TScriptOutcome::FatalError) << call;
    ASSERT_FALSE(r.lines.empty());
    EXPECT_EQ(r.lines[0].rfind("fatal error: Could not convert variant", 0), 0u) << r.lines[0];
  }
}

TEST(TextHelpers, Pos2AndTokenize) {
  TRunResult r = RunScript(R"(program text;
var L: TStringList; i: Integer;
begin
  Output.writeln(Format('%d %d %d %d %d %d %d', [Pos2('abcabc', 2, 'bc'), Pos2('abcabc', 3, 'bc'),
    Pos2('abcabc', 7, 'bc'), Pos2('abcabc', 0, 'a'), Pos2('abcabc', 6, 'c'), Pos2('abc', 1, ''),
    Pos2('', 1, 'a')]));
  L := TStringList.Create;
  L.Add('kept');
  Output.writeln(L.Tokenize('a,,b', ','));
  L.Tokenize('', ',');
  L.Tokenize(' x  y;z ', ' ;');
  L.Tokenize(',,,', ',');
  L.Tokenize('whole', '');
  Output.writeln(L.Count);
  for i := 0 to L.Count - 1 do Output.writeln('[' + L.Strings[i] + ']');
  L.Free;
  L.Tokenize('a', ',');
end.
)");
  EXPECT_EQ(r.lines, (Lines{"2 5 0 0 6 0 0", "0", "9", "[kept]", "[a]", "[b]", "[]", "[x]", "[y]", "[z]", "[,,,]",
                            "[whole]", "Runtime error line 17: Invalid or uninitialized object used", ""}));
}

}  // namespace
