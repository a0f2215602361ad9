// TArguments and the command-line token rule.
#include "scriptlib/Arguments.h"

#include "script/Registration.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

bool ReadCommandToken(std::string_view text, size_t& pos, std::string& token) {
  token.clear();
  while (pos < text.size() && text[pos] == ' ') ++pos;
  if (pos >= text.size()) return false;
  char end = ' ';
  if (text[pos] == '"' || text[pos] == '\'') end = text[pos++];
  while (pos < text.size() && text[pos] != end) {
    if (token.size() < kMaxTokenLength) token += text[pos];
    ++pos;
  }
  if (pos < text.size()) ++pos;  // the closing quote or the separating blank
  return true;
}

std::vector<std::string> SplitCommandLine(std::string_view text) {
  std::vector<std::string> out;
  size_t pos = 0;
  std::string token;
  while (ReadCommandToken(text, pos, token)) out.push_back(token);
  return out;
}

std::unique_ptr<TArguments> TArguments::FromText(std::string_view argumentText) {
  std::vector<std::string> tokens;
  size_t pos = 0;
  std::string token;
  while (tokens.size() < kMaxArguments && ReadCommandToken(argumentText, pos, token)) tokens.push_back(token);
  return std::make_unique<TArguments>(tokens);
}

TArguments::TArguments(const std::vector<std::string>& tokens) : TScriptObject("TArguments") {
  for (size_t i = 0; i < tokens.size() && i < kMaxArguments; ++i)
    m_args.push_back(tokens[i].substr(0, kMaxTokenLength));
}

// The C library's leading-number rule, clamped to 32 bits instead of overflowing.
int32_t TArguments::Integer(int index) const {
  if (index < 0 || index >= Count()) return 0;
  long long v = std::strtoll(m_args[static_cast<size_t>(index)].c_str(), nullptr, 10);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

int32_t TArguments::Double(int index) const {
  if (index < 0 || index >= Count()) return 0;
  double d = std::trunc(std::strtod(m_args[static_cast<size_t>(index)].c_str(), nullptr));
  if (std::isnan(d)) return 0;
  if (d >= 2147483647.0) return INT32_MAX;
  if (d <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(d);
}

std::string TArguments::String(int index) const {
  if (index < 0 || index >= Count()) return {};
  return m_args[static_cast<size_t>(index)];
}

namespace {

TArguments& Self(TObjHandle self) { return *ScriptObjectAs<TArguments>(self, "TArguments"); }

int IndexArg(const TValue& v) {
  int64_t i = v.AsInt64();
  return i < 0 || i > TArguments::kMaxArguments ? -1 : static_cast<int>(i);
}

}  // namespace

void RegisterTArguments() {
  RegisterHostClass("TArguments", "TObject");
  AddProp("TArguments.Count", [](TObjHandle self, const std::string&, TValue*, int) {
    return TValue(static_cast<int32_t>(Self(self).Count()));
  });
  AddArrayProp("TArguments.Integer", 1, [](TObjHandle self, const std::string&, TValue* a, int) {
    return TValue(Self(self).Integer(IndexArg(a[0])));
  });
  AddArrayProp("TArguments.Double", 1, [](TObjHandle self, const std::string&, TValue* a, int) {
    return TValue(Self(self).Double(IndexArg(a[0])));
  });
  AddArrayProp("TArguments.String", 1, [](TObjHandle self, const std::string&, TValue* a, int) {
    return TValue(Self(self).String(IndexArg(a[0])));
  });
}
