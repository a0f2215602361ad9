// The compiler's program and unit structure, declarations, name keys and the name search order.
#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "script/HalCompiler.h"
#include "script/Registration.h"

TDepthGuard::TDepthGuard(THalCompiler& comp) : c(comp) {
  if (++c.depth_ > 400) c.error("Nesting too deep");
}
TDepthGuard::~TDepthGuard() { --c.depth_; }

namespace {
// "P.F.G." -> "P.F."; "P." -> "".
std::string dropLast(const std::string& s) {
  if (s.empty()) return s;
  const size_t dot = s.rfind('.', s.size() - 2);
  return dot == std::string::npos ? std::string() : s.substr(0, dot + 1);
}
}  // namespace

void THalCompiler::compile() {
  compileprogram();
  writeprogram();
}

void THalCompiler::expect(int code, const char* message) {
  TToken t;
  ReadToken(t);
  if (t.code != code) error(message);
}

void THalCompiler::popScope() { scope_ = dropLast(scope_); }

std::string THalCompiler::keyFor(const std::string& name) const {
  if (IsGlobalVar(name) || IsGlobalVar(scope_)) return scope_ + name;
  return unitPrefix_ + scope_ + name;
}

TIdentListItem* THalCompiler::AddVars(const std::string& name, int number, int kind) {
  TIdentListItem item;
  item.Number = number;
  item.PlainName = name;
  item.Kind = kind;
  TIdentListItem& slot = idents_[keyFor(name)];
  slot = std::move(item);
  return &slot;
}

std::string THalCompiler::VarIDByName(const std::string& name) {
  // Candidate keys are built in one buffer and scopes walked as prefixes: no string per probe.
  std::string& k = keyBuf_;
  auto has = [&](std::string_view prefix) {
    k.assign(prefix);
    k.append(name);
    const auto it = idents_.find(k);
    found_ = it == idents_.end() ? nullptr : &it->second;
    return found_ != nullptr;
  };
  auto outer = [](std::string_view s) {  // "P.F.G." -> "P.F."; "P." -> ""
    if (s.empty()) return s;
    const size_t dot = s.rfind('.', s.size() - 2);
    return dot == std::string_view::npos ? std::string_view() : s.substr(0, dot + 1);
  };
  auto globalCase = [&](std::string_view scope) {
    std::string& us = scopeBuf_;
    us.assign(unitPrefix_);
    us.append(scope);
    for (std::string_view u = us;; u = outer(u)) {
      if (has(u)) return true;
      if (u.empty()) break;
    }
    for (std::string_view sc = scope;; sc = outer(sc)) {
      if (has(sc)) return true;
      if (sc.empty()) break;
    }
    return false;
  };
  if (IsGlobalVar(name) || IsGlobalVar(scope_)) {
    if (globalCase(scope_)) return k;
  } else {
    std::string& prefixed = scopeBuf_;
    for (std::string_view sc = scope_;; sc = outer(sc)) {
      if (!sc.empty() && IsGlobalVar(sc)) {
        if (globalCase(sc)) return k;
        break;
      }
      prefixed.assign(unitPrefix_);
      prefixed.append(sc);
      if (has(prefixed)) return k;
      if (sc.empty()) break;
    }
  }
  if (has(unitPrefix_)) return k;
  if (has(std::string_view())) return k;
  return {};
}

TIdentListItem* THalCompiler::VarByName(const std::string& name) {
  if (VarIDByName(name).empty()) return nullptr;
  return found_;
}

TIdentListItem* THalCompiler::VarByNameThisLevel(const std::string& name) {
  auto it = idents_.find(keyFor(name));
  return it == idents_.end() ? nullptr : &it->second;
}

void THalCompiler::compileprogram() {
  line_ = 1;
  putcode(ocLine, 1, 0);
  isUnit_ = false;
  const int l0 = newLabel(true);
  putcode(ocJump, l0, 0);
  TToken t;
  ReadToken(t);
  if (t.code != rwProgram) error("'Program' expected");
  ReadToken(t);
  if (t.code != tkIdent) error("Program name expected");
  const std::string name = t.value.StrVal();
  expect(';', "Operator delimeter expected");
  unitPrefix_ = name + ".";
  getdeclarations();
  placeLabel(l0);
  for (const std::string& u : units_) {
    auto it = idents_.find(u + "INITIALIZATION");
    if (it != idents_.end() && it->second.Kind == 1) putcode(ocCall, it->second.Number, 0);
  }
  getoperatorblock();
  expect('.', "'.' expected");
  expect(tkEOF, "Extra characters not allowed");
  for (auto u = units_.rbegin(); u != units_.rend(); ++u) {
    auto it = idents_.find(*u + "FINALIZATION");
    if (it != idents_.end() && it->second.Kind == 1) putcode(ocCall, it->second.Number, 0);
  }
  putcode(ocStop, 0, 0);
}

void THalCompiler::getdeclarations() {
  for (;;) {
    TToken t;
    NextToken(t);
    switch (t.code) {
      case rwLabel:
        ReadToken(t);
        getlabels();
        break;
      case rwVar:
        ReadToken(t);
        getmyvariables();
        break;
      case rwType:
        ReadToken(t);
        for (NextToken(t); t.code == tkIdent; NextToken(t)) gettypeidentifier();
        break;
      case rwUses:
        ReadToken(t);
        GetUses();
        break;
      case rwInterface:
      case rwImplementation:
        ReadToken(t);
        getglobalnames();
        break;
      case rwProcedure:
      case rwFunction: {
        ReadToken(t);
        TIdentListItem* routine = getprocdef(false);
        getprocbody(routine, routine->PlainName);
        break;
      }
      case rwConst:
        ReadToken(t);
        GetConst();
        break;
      case rwInitialization:
      case rwFinalization:
        if (isUnit_) return;
        error("'Initialization' not allowed for programs");
      default:
        return;
    }
  }
}

void THalCompiler::getlabels() {
  for (;;) {
    TToken t;
    ReadToken(t);
    if (t.code != tkIdent) error("Label name expected");
    const std::string name = t.value.StrVal();
    if (labelNames_.count(name)) error("Label <" + name + "> already defined");
    labelNames_[name] = newLabel(false);
    ReadToken(t);
    if (t.code == ';') return;
    if (t.code != ',') error("Comma or delimeter expected");
  }
}

void THalCompiler::getglobalnames() {
  for (;;) {
    TToken t;
    ReadToken(t);
    if (t.code != tkIdent) error("Label name expected");
    globals_.insert(t.value.StrVal());
    globals_.insert(t.value.StrVal() + ".");
    ReadToken(t);
    if (t.code == ';') return;
    if (t.code != ',') error("Comma or delimeter expected");
  }
}

void THalCompiler::getmyvariables() {
  for (;;) {
    std::vector<std::string> names;
    // Names of this group so far (identifiers arrive upper-cased): a hash set keeps long lists linear.
    std::unordered_set<std::string> seen;
    TToken t;
    for (;;) {
      ReadToken(t);
      if (t.code != tkIdent) error("Variable name expected");
      const std::string name = t.value.StrVal();
      if (VarByNameThisLevel(name) || !seen.insert(name).second)
        error("Function or Variable <" + name + "> already defined");
      names.push_back(name);
      NextToken(t);
      if (t.code != ',') break;
      ReadToken(t);
    }
    expect(':', "Error in variable declaration block");
    ReadToken(t);
    const std::string typeName = tokenText(t);
    expect(';', "';' expected");
    for (const std::string& n : names) {
      if (objects_ && objects_->Find(n)) continue;  // the name keeps meaning the host's object
      AddVars(n, newTemp(), 0)->TypeName = typeName;
    }
    NextToken(t);
    if (t.code >= rwProgram || t.code != tkIdent) return;
  }
}

void THalCompiler::GetConst() {
  TToken t;
  for (NextToken(t); t.code == tkIdent; NextToken(t)) {
    ReadToken(t);
    const std::string name = t.value.StrVal();
    expect('=', "= expected");
    ReadToken(t);
    TValue v = t.value;
    if (t.code == tkNumber && !hexFlag_) {  // whole numbers are integers wherever they become values
      const double d = v.RealVal();
      // Range first: converting a larger number to int32_t is undefined (and gave garbage).
      if (d >= -2147483648.0 && d <= 2147483647.0 && d == std::floor(d)) v = TValue(static_cast<int32_t>(d));
    } else if (t.code == rwTrue || t.code == rwFalse) {
      v = TValue(t.code == rwTrue);
    } else if (t.code == rwNil) {
      v = TValue(int32_t(0));
    } else if (t.code == tkResConst) {
      v = ResConsts().Value(t.value.IntVal());
    }
    expect(';', "';' expected");
    if (!VarIDByName(name).empty()) error("Function or Variable <" + name + "> already defined");
    AddVars(name, addConst(v), 3);
  }
}

void THalCompiler::gettypeidentifier() {
  TToken t;
  ReadToken(t);
  const std::string name = t.value.StrVal();
  expect('=', (name + " declaration  error").c_str());
  ReadToken(t);
  if (t.code != rwClass && t.code != rwRecord) error("Only class declarations allowed");
  const std::string saved = scope_;
  scope_ = name + ".";
  getclassdef();
  scope_ = saved;
}

void THalCompiler::getclassdef() {
  TToken t;
  classParent_.clear();
  NextToken(t);
  if (t.code == '(') {
    ReadToken(t);
    ReadToken(t);
    if (t.code != tkIdent) error("Parent name expected");
    classParent_ = t.value.StrVal();
    expect(')', ") Expected");
  }
  for (;;) {
    NextToken(t);
    switch (t.code) {
      case ';':
        ReadToken(t);
        return;
      case rwEnd:
        ReadToken(t);
        expect(';', "';' expected");
        return;
      case rwPrivate:
      case rwPublic:
      case rwProtected:
      case rwPublished:
        ReadToken(t);
        break;
      case tkIdent:
        getmyvariables();
        break;
      case rwProcedure:
      case rwFunction:
        ReadToken(t);
        getprocdef(true);
        break;
      case rwProperty:
        error("Properties not implemented");
      default:
        error("Class member declaration expected but " + tokenText(t) + " found");
    }
  }
}

// Routine heading: name, parameters, result type, directives. Declares the routine, its parameters
// and its Result; the body (if any) is read by getprocbody.
TIdentListItem* THalCompiler::getprocdef(bool inClass) {
  (void)inClass;
  const std::string name = readRoutineName();
  if (VarByNameThisLevel(name)) error("Function or Variable " + name + " already defined");
  TIdentListItem* routine = AddVars(name, newLabel(false), 1);
  const std::string outerScope = scope_;
  pushScope(name);
  getParameterList(*routine);
  TToken t;
  NextToken(t);
  if (t.code == ':') {
    ReadToken(t);
    ReadToken(t);
    routine->TypeName = tokenText(t);
  }
  AddVars("RESULT", newTemp(), 0)->TypeName = routine->TypeName;
  scope_ = outerScope;
  expect(';', "';' expected");
  skipDirectives();
  return routine;
}

// A routine name, dotted for methods (TFORM1.BUTTON1CLICK).
std::string THalCompiler::readRoutineName() {
  TToken t;
  ReadToken(t);
  if (t.code != tkIdent) error("Identifier expected");
  std::string name = t.value.StrVal();
  for (NextToken(t); t.code == '.'; NextToken(t)) {
    ReadToken(t);
    ReadToken(t);
    if (t.code != tkIdent) error("Identifier expected");
    name += "." + t.value.StrVal();
  }
  return name;
}

// "(" groups separated by ";" ")", if there is a list at all.
void THalCompiler::getParameterList(TIdentListItem& routine) {
  TToken t;
  NextToken(t);
  if (t.code != '(') return;
  ReadToken(t);
  for (NextToken(t); t.code != ')';) {
    getParameterGroup(routine, t.code);
    NextToken(t);
    if (t.code == ';') {
      ReadToken(t);
      NextToken(t);
    } else if (t.code != ')') {
      error("Method declaration error");
    }
  }
  ReadToken(t);
}

// One group "[var|const] a, b: T" (first: the code of its first token, not yet read). Each
// parameter gets a slot in the routine's scope and is recorded on the routine (up to the limit).
void THalCompiler::getParameterGroup(TIdentListItem& routine, int first) {
  TToken t;
  bool byRef = false;
  if (first == rwVar || first == rwConst) {
    byRef = first == rwVar;
    ReadToken(t);
  } else if (first != tkIdent) {
    error("Method parameters declaration error");
  }
  std::vector<std::string> names;
  for (;;) {
    ReadToken(t);
    if (t.code != tkIdent) error("Method parameters declaration error");
    names.push_back(t.value.StrVal());
    NextToken(t);
    if (t.code != ',') break;
    ReadToken(t);
  }
  expect(':', "Method declaration error");
  ReadToken(t);
  const std::string typeName = tokenText(t);
  for (const std::string& p : names) {
    if (VarByNameThisLevel(p)) error("Function or Variable <" + p + "> already defined");
    AddVars(p, newTemp(), 0)->TypeName = typeName;
    if (routine.ParamCount < HAL_MAX_PARAMS) {
      routine.ByRef[routine.ParamCount++] = byRef ? 1 : 0;
      routine.ParamNames.push_back(p);
    }
  }
}

// Up to two of virtual, override, dynamic, abstract, stdcall, each with its ";": accepted, no effect.
void THalCompiler::skipDirectives() {
  TToken t;
  for (int i = 0; i < 2; ++i) {
    NextToken(t);
    if (t.code != rwVirtual && t.code != rwOverride && t.code != rwDynamic && t.code != rwAbstract &&
        t.code != rwStdcall)
      break;
    ReadToken(t);
    expect(';', "';' expected");
  }
}

void THalCompiler::getprocbody(TIdentListItem* routine, const std::string& plainName) {
  TDepthGuard guard(*this);
  TToken t;
  NextToken(t);
  if (t.code == rwForward) {
    ReadToken(t);
    expect(';', "';' expected");
    return;
  }
  const int label = routine->Number;  // the entry pointer stays valid: map nodes never move
  const std::string outerScope = scope_;
  pushScope(plainName);
  getdeclarations();
  placeLabel(label);
  const int name = addConst(TValue(unitPrefix_ + scope_.substr(0, scope_.size() - 1)));
  putcode(ocEntry, name, 0);
  getoperatorblock();
  expect(';', "';' expected");
  scope_ = outerScope;
  putcode(ocExit, name, 0);
  putcode(ocReturn, 0, 0);
  nextSlot_ = highSlot_;
}

void THalCompiler::GetUses() {
  for (;;) {
    TToken t;
    ReadToken(t);
    if (t.code != tkString) error("Quoted unit path expected");
    const std::string path = t.value.StrVal();
    std::string text;
    if (!unitLoader_ || !unitLoader_(path, text)) error("File '" + path + "' not found");
    compileunit(path, text);
    ReadToken(t);
    if (t.code == ';') return;
    if (t.code != ',') error("Comma or delimeter expected");
  }
}

void THalCompiler::compileunit(const std::string& path, const std::string& text) {
  TDepthGuard guard(*this);
  const TReaderState saved{src_, pos_, furthest_, line_};
  const std::string savedPrefix = unitPrefix_, savedScope = scope_;
  const bool savedUnit = isUnit_, savedHex = hexFlag_;
  src_ = text;
  peeked_.valid = false;  // a unit's text may reuse the memory of an earlier one
  pos_ = furthest_ = 0;
  line_ = 1;
  scope_.clear();
  try {
    TToken t;
    ReadToken(t);
    if (t.code != rwUnit) error("'Unit' expected");
    ReadToken(t);
    if (t.code != tkIdent) error("Unit name expected");
    const std::string prefix = t.value.StrVal() + ".";
    expect(';', "Operator delimeter expected");
    unitPrefix_ = prefix;
    if (std::find(units_.begin(), units_.end(), prefix) == units_.end()) {
      units_.push_back(prefix);
      line_ = 1;
      putcode(ocLine, 1, 0);
      isUnit_ = true;
      newLabel(false);
      globals_.clear();
      getdeclarations();
      unitclosing();
    }
  } catch (const ECompilerError& e) {
    throw ECompilerError("Unit '" + path + "': " + e.what());
  }
  src_ = saved.src;
  peeked_.valid = false;
  pos_ = saved.pos;
  furthest_ = saved.furthest;
  line_ = saved.line;
  unitPrefix_ = savedPrefix;
  scope_ = savedScope;
  isUnit_ = savedUnit;
  hexFlag_ = savedHex;
  putcode(ocLine, line_, 0);  // code that follows belongs to the program's line again
  nextSlot_ = highSlot_;
}

void THalCompiler::unitclosing() {
  TToken t;
  ReadToken(t);
  if (t.code == rwEnd) {
    expect('.', "'.' expected");
  } else if (t.code == rwInitialization) {
    unitpart("INITIALIZATION");
    ReadToken(t);
    if (t.code == rwFinalization) {
      unitpart("FINALIZATION");
      ReadToken(t);
    }
    if (t.code != rwEnd) error("END expected");
    NextToken(t);
    if (t.code == '.') ReadToken(t);  // "end." is accepted as well as "end"
  } else if (t.code == rwFinalization) {
    unitpart("FINALIZATION");
    expect(rwEnd, "END expected");
    expect('.', "'.' expected");
  } else {
    error("END expected");
  }
  expect(tkEOF, "Extra characters not allowed");
}

void THalCompiler::unitpart(const char* name) {
  if (VarByNameThisLevel(name)) error(std::string("Function or Variable ") + name + " already defined");
  const int label = newLabel(false);
  AddVars(name, label, 1);
  placeLabel(label);
  TToken t;
  for (NextToken(t); t.code != rwEnd && t.code != rwInitialization && t.code != rwFinalization && t.code != tkEOF;
       NextToken(t))
    getoperatorcoma();
  putcode(ocReturn, 0, 0);
}
