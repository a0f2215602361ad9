// The four benchmark programs and the generated compile-speed program.
#include "BenchPrograms.h"

namespace {

// Lua side: runs body() three times and prints its result and the best CPU time.
std::string LuaHarness(const std::string& body) {
  return "local function run()\n" + body +
         "\nend\nlocal best, r = math.huge, nil\nfor _ = 1, 3 do\n  local t0 = os.clock()\n  r = run()\n"
         "  local t = os.clock() - t0\n  if t < best then best = t end\nend\nprint(r, best)\n";
}

}  // namespace

std::vector<TBenchProgram> BenchPrograms() {
  std::vector<TBenchProgram> p;
  p.push_back({"arithmetic loop",
               "program arith;\nvar i, s: Integer; x: Real;\nbegin\n  s := 0;\n  x := 0.0;\n"
               "  for i := 1 to 3000000 do\n  begin\n    s := s + i mod 7;\n    x := x + i * 0.5;\n  end;\n"
               "  Result := s + x;\nend.\n",
               LuaHarness("  local s, x = 0, 0.0\n  for i = 1, 3000000 do\n    s = s + i % 7\n    x = x + i * 0.5\n"
                          "  end\n  return s + x")});
  p.push_back({"string building",
               "program strings;\nvar i: Integer; s: string;\nbegin\n  s := '';\n"
               "  for i := 1 to 20000 do s := s + 'ab';\n  Result := Length(s);\nend.\n",
               LuaHarness("  local s = ''\n  for i = 1, 20000 do s = s .. 'ab' end\n  return #s")});
  p.push_back({"script routine calls",
               "program calls;\nvar i, s: Integer;\nfunction Add3(a, b, c: Integer): Integer;\nbegin\n"
               "  Result := a + b + c;\nend;\nbegin\n  s := 0;\n"
               "  for i := 1 to 1000000 do s := Add3(s, i, 1) mod 1000;\n  Result := s;\nend.\n",
               LuaHarness("  local function add3(a, b, c) return a + b + c end\n  local s = 0\n"
                          "  for i = 1, 1000000 do s = add3(s, i, 1) % 1000 end\n  return s")});
  p.push_back({"host function calls",
               "program host;\nvar i, n: Integer; t: string;\nbegin\n  t := 'hello world';\n  n := 0;\n"
               "  for i := 1 to 500000 do n := n + Length(Copy(t, 2, 5));\n  Result := n;\nend.\n",
               LuaHarness("  local t, n = 'hello world', 0\n"
                          "  for i = 1, 500000 do n = n + #string.sub(t, 2, 6) end\n  return n")});
  return p;
}

// Blocks of ten lines: a routine with locals, a loop and a condition; the main block calls them.
std::string GeneratedScript(int lines) {
  std::string s = "program big;\nvar a, b, c: Integer;\n";
  int used = 2, n = 0;
  while (used + 10 + 4 <= lines) {
    std::string k = std::to_string(n++);
    s += "procedure P" + k + "(x: Integer);\nvar y: Integer;\nbegin\n  y := x * 2 + " + k +
         ";\n"
         "  if y > 100 then a := a + 1 else b := b + y;\n  while y > 0 do y := y - 7;\n"
         "  c := (c + y) mod 1000;\n  a := a + Length('text ' + IntToStr(y));\n  b := b div 2;\nend;\n";
    used += 10;
  }
  s += "begin\n";
  used += 3;
  for (int i = 0; used < lines; ++i, ++used)
    s.append("  P").append(std::to_string(i % (n > 0 ? n : 1))).append("(").append(std::to_string(i)).append(");\n");
  return s + "end.\n";
}

std::string GeneratedLua(int lines) {
  std::string s = "local a, b, c = 0, 0, 0\n";
  int used = 1, n = 0;
  while (used + 10 + 1 <= lines) {
    std::string k = std::to_string(n++);
    s += "function P" + k + "(x)\n  local y\n  y = x * 2 + " + k +
         "\n"
         "  if y > 100 then a = a + 1 else b = b + y end\n  while y > 0 do y = y - 7 end\n"
         "  c = (c + y) % 1000\n  a = a + #('text ' .. tostring(y))\n  b = b // 2\n  return nil\nend\n";
    used += 10;
  }
  for (int i = 0; used < lines; ++i, ++used)
    s.append("P").append(std::to_string(i % (n > 0 ? n : 1))).append("(").append(std::to_string(i)).append(")\n");
  return s;
}
