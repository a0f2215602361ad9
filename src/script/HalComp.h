// THalRuner (owns one compiled program and the named-object table) and THalComp (the script
// component: holds a script, compiles on demand, makes host objects known by name, runs).
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "script/BinProg.h"
#include "script/DynaVars.h"
#include "script/HalCompiler.h"
#include "script/ScriptObjects.h"
#include "script/Value.h"

class THalRuner {
 public:
  THalRuner(std::string source, const void* owner);
  ~THalRuner();
  void AddObject(std::string_view name, std::string_view className, TObjHandle obj);
  void AddObjectbyRef(std::string_view name, TObjHandle obj);  // class from the live-object registry
  void ClearObjects() { objects_.Clear(); }
  void SetDebugLevel(int level);
  // Compiles on the first call (ECompilerError leaves it uncompiled), then runs unless compile-only.
  void Run(TStopFlag& stop, void* userData, THalDebugOutput output = nullptr, int tag = 0);

  void SetKeepIdentifiers(bool keep) { keepIdents_ = keep; }
  void SetCompileOnly(bool only) { compileOnly_ = only; }
  void SetUnitLoader(TUnitLoader loader) { unitLoader_ = std::move(loader); }
  bool Compiled() const { return prog_ != nullptr; }
  TBinProg* Program() { return prog_.get(); }
  const TIdentList& KeptIdentifiers() const { return kept_; }
  const std::string& ClassParentName() const { return classParent_; }
  const std::string& Image() const { return image_; }

 private:
  std::string source_;
  std::string image_;
  std::unique_ptr<TBinProg> prog_;
  tobjcollect objects_;
  TIdentList kept_;
  const void* owner_;
  bool keepIdents_ = false, compileOnly_ = false;
  int debugLevel_ = 0;
  std::string classParent_;
  TUnitLoader unitLoader_;
};

struct TRunObj {
  std::string Name;
  TObjHandle Object = 0;
};

class THalComp {
 public:
  THalComp();
  virtual ~THalComp();
  THalComp(const THalComp&) = delete;
  THalComp& operator=(const THalComp&) = delete;

  const std::vector<std::string>& Script() const { return script_; }
  void SetScript(std::vector<std::string> lines);
  void SetScriptText(const std::string& text);  // split at line feeds
  const std::string& Expression() const { return expression_; }
  void SetExpression(const std::string& text);

  void Compile();
  // "Compile before run" (std::logic_error) when Compile was never called.
  void Run(TStopFlag& stop, void* userData, THalDebugOutput output = nullptr, int tag = 0);
  void AddRunningObject(std::string_view name, TObjHandle obj);
  void ClearRunObjList() { running_.clear(); }
  void SetDebugLevel(int level);
  // Compiles, runs with no stop request and no user data, returns the value the main program
  // assigned to Result (the host-parameter store's spare value).
  TValue getresult();

  // Where `uses` finds unit files: a loader callback, or else a directory searched before the
  // path as written (relative paths only).
  void SetUnitLoader(TUnitLoader loader) { unitLoader_ = std::move(loader); }
  void SetUnitDirectory(std::string dir) { unitDir_ = std::move(dir); }
  // Registers the component as a local external-variable provider under its name (the Loaded step).
  void SetVariableProvider(std::string name, TNameToId nameToId, TGetVar getVar, TSetVar setVar);

  THalRuner* Runner() { return runner_.get(); }
  const std::string& ClassParentName() const { return classParent_; }
  bool Dispatcher = false;

 protected:
  // Named objects a GUI host contributes (form components, "Self", "Screen", "Application").
  virtual void CollectNamedObjects(THalRuner& runner) { (void)runner; }

 private:
  TUnitLoader effectiveLoader() const;

  std::vector<std::string> script_;
  std::string expression_;
  bool dirty_ = true;
  std::unique_ptr<THalRuner> runner_;
  std::vector<TRunObj> running_;
  std::string classParent_;
  TUnitLoader unitLoader_;
  std::string unitDir_;
  std::string providerName_;
  int debugLevel_ = 0;
};

// Runs a script file and returns its Result; a missing file reports "File %S not found" through
// the message hook (see SetHalMessageBox) and leaves result unchanged.
void RunMacroFriend(const std::string& file, void* form, TValue& result);
void RunMacro(const std::string& file, TValue& result);
// Where the engine shows its message boxes (default: the trace on standard error).
void SetHalMessageBox(std::function<void(const std::string& text)> box);
void HalMessageBox(const std::string& text);
// Reads a whole text file into text; false when it cannot be opened.
bool HalLoadTextFile(const std::string& path, std::string& text);
