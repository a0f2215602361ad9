// THalRuner and the GUI-free part of THalComp: compile on demand, named objects, running objects,
// results, and the one-call macro runners.
#include "script/HalComp.h"

#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include "script/Registration.h"

namespace {
std::mutex g_boxMu;
std::function<void(const std::string&)>& messageBox() {
  static std::function<void(const std::string&)> box;
  return box;
}
}  // namespace

void SetHalMessageBox(std::function<void(const std::string& text)> box) {
  std::lock_guard lock(g_boxMu);
  messageBox() = std::move(box);
}

void HalMessageBox(const std::string& text) {
  std::function<void(const std::string&)> box;
  {
    std::lock_guard lock(g_boxMu);
    box = messageBox();
  }
  if (box)
    box(text);
  else
    std::cerr << text << '\n';
}

bool HalLoadTextFile(const std::string& path, std::string& text) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  std::ostringstream ss;
  ss << f.rdbuf();
  text = ss.str();
  return true;
}

// ---- THalRuner ------------------------------------------------------------------------------

THalRuner::THalRuner(std::string source, const void* owner) : source_(std::move(source)), owner_(owner) {}

THalRuner::~THalRuner() = default;

void THalRuner::AddObject(std::string_view name, std::string_view className, TObjHandle obj) {
  objects_.Add(name, className, obj);
}

void THalRuner::AddObjectbyRef(std::string_view name, TObjHandle obj) { objects_.Add(name, LiveObjectClass(obj), obj); }

void THalRuner::SetDebugLevel(int level) {
  debugLevel_ = level;
  if (prog_) prog_->SetDebugLevel(level);
}

void THalRuner::Run(TStopFlag& stop, void* userData, THalDebugOutput output, int tag) {
  if (!prog_) {
    THalCompiler compiler(source_, image_);
    compiler.SetOwner(owner_);
    compiler.SetNamedObjects(&objects_);
    compiler.SetUnitLoader(unitLoader_ ? unitLoader_ : TUnitLoader(HalLoadTextFile));
    compiler.compile();
    classParent_ = compiler.ClassParentName();
    if (keepIdents_) kept_ = compiler.Identifiers();
    std::vector<int> variables;
    for (const auto& [key, e] : compiler.Identifiers())
      if (e.Kind == 0) variables.push_back(e.Number);
    prog_ = std::make_unique<TBinProg>(image_, &variables);
    prog_->SetDebugLevel(debugLevel_);
  }
  if (!compileOnly_) prog_->Run(stop, userData, std::move(output), tag);
}

// ---- THalComp -------------------------------------------------------------------------------

THalComp::THalComp() : script_{"program lolo;", "begin", "end."} {}

THalComp::~THalComp() {
  running_.clear();
  runner_.reset();
  if (!providerName_.empty()) deldynavar(providerName_);
}

void THalComp::SetScript(std::vector<std::string> lines) {
  script_ = std::move(lines);
  dirty_ = true;
}

void THalComp::SetScriptText(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : text) {
    if (c == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(std::move(line));
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(std::move(line));
  SetScript(std::move(lines));
}

void THalComp::SetExpression(const std::string& text) {
  expression_ = text;
  if (text.empty()) return;
  // A heading makes the expression a complete program; Result at program level is the
  // host-parameter store's spare value, which getresult returns.
  std::string body = "Result:=" + text;
  if (body.back() != ';') body += ";";
  SetScript({"program EXPRESSION;", "begin", body, "end."});
}

TUnitLoader THalComp::effectiveLoader() const {
  if (unitLoader_) return unitLoader_;
  const std::string dir = unitDir_;
  return [dir](const std::string& path, std::string& text) {
    if (!dir.empty() && !path.empty() && path[0] != '/' && HalLoadTextFile(dir + "/" + path, text)) return true;
    return HalLoadTextFile(path, text);
  };
}

void THalComp::Compile() {
  if (dirty_) {
    dirty_ = false;
    runner_.reset();
  }
  if (!runner_) {
    std::string source;
    for (const std::string& l : script_) source += l + "\r\n";
    runner_ = std::make_unique<THalRuner>(std::move(source), this);
    runner_->SetUnitLoader(effectiveLoader());
    runner_->SetDebugLevel(debugLevel_);
  }
  running_.clear();
}

void THalComp::Run(TStopFlag& stop, void* userData, THalDebugOutput output, int tag) {
  if (!runner_) throw std::logic_error("Compile before run");
  runner_->ClearObjects();
  CollectNamedObjects(*runner_);
  for (const TRunObj& o : running_) runner_->AddObjectbyRef(o.Name, o.Object);
  struct TClearRunning {
    THalComp& c;
    ~TClearRunning() { c.running_.clear(); }
  } clear{*this};
  runner_->Run(stop, userData, std::move(output), tag);
  classParent_ = runner_->ClassParentName();
}

void THalComp::AddRunningObject(std::string_view name, TObjHandle obj) {
  if (runner_) running_.push_back({std::string(name), obj});
}

void THalComp::SetDebugLevel(int level) {
  debugLevel_ = level;
  if (runner_) runner_->SetDebugLevel(level);
}

TValue THalComp::getresult() {
  Compile();
  TStopFlag stop{'R'};
  // a macro run from inside another script must not clobber the outer script's Result
  struct TKeepSpare {
    TValue saved = TInternalVar::Spare();
    ~TKeepSpare() { TInternalVar::Spare() = saved; }
  } keep;
  TInternalVar::Spare() = TValue();
  Run(stop, nullptr);
  return TInternalVar::Spare();
}

void THalComp::SetVariableProvider(std::string name, TNameToId nameToId, TGetVar getVar, TSetVar setVar) {
  if (!providerName_.empty()) deldynavar(providerName_);
  providerName_ = HalUpper(name);
  AddLocalVar(providerName_, std::move(nameToId), std::move(setVar), std::move(getVar), this);
}

void RunMacroFriend(const std::string& file, void* form, TValue& result) {
  (void)form;  // forms own their component in a GUI host; headless runs have none
  std::string text;
  if (!HalLoadTextFile(file, text)) {
    HalMessageBox("File " + file + " not found");
    return;
  }
  THalComp comp;
  comp.SetScriptText(text);
  const size_t slash = file.find_last_of('/');
  if (slash != std::string::npos) comp.SetUnitDirectory(file.substr(0, slash));
  result = TValue();
  result = comp.getresult();
}

void RunMacro(const std::string& file, TValue& result) { RunMacroFriend(file, nullptr, result); }
