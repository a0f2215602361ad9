// TArguments: the run's command-line arguments as the script's "Arguments" object, and the
// command-line token rule that splits a command line into a script name and its arguments.
#pragma once

#include "scriptlib/HostClassName.h"

#include "script/ScriptObjects.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Reads one token from pos (blanks are spaces only; "..." and '...' quote); false when none is left.
// At most kMaxTokenLength characters are kept; pos moves past the token and one more character.
constexpr size_t kMaxTokenLength = 299;
bool ReadCommandToken(std::string_view text, size_t& pos, std::string& token);
// Every token of a text, in order.
std::vector<std::string> SplitCommandLine(std::string_view text);

class TArguments : public TScriptObject, public IHostClassName {
 public:
  std::string HostClassName() const override { return "TArguments"; }
  static constexpr int kMaxArguments = 10;
  // From the argument text (the command line without the script name).
  static std::unique_ptr<TArguments> FromText(std::string_view argumentText);
  // From ready tokens (a command-line client's arguments); beyond the tenth they are ignored.
  explicit TArguments(const std::vector<std::string>& tokens);

  int Count() const { return static_cast<int>(m_args.size()); }
  int32_t Integer(int index) const;
  int32_t Double(int index) const;
  std::string String(int index) const;

 private:
  std::vector<std::string> m_args;
};

// The engine names of TArguments: TArguments.Count, .Integer, .Double, .String.
void RegisterTArguments();
