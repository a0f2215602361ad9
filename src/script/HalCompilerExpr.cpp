// The compiler's expressions: precedence levels, factors and literals, calls of script and host
// routines, the parent walk through the host class registry, and open-array constructors.
#include <cmath>
#include <cstdlib>

#include "script/HalCompiler.h"
#include "script/Registration.h"

std::string THalCompiler::tokenText(const TToken& t) {
  if (t.code == tkEOF) return "end of text";
  if (t.code > 0 && t.code < 256) return std::string(1, static_cast<char>(t.code));
  if (t.code == tkResConst) return "constant";
  return t.value.AsString();
}

int THalCompiler::loadConst(const TValue& v) {
  const int t = newTemp();
  putcode(ocLoadConst, t, addConst(v));
  return t;
}

int THalCompiler::myexpress() {
  const int save = nextSlot_;
  const int r = iexpression();
  nextSlot_ = save;
  return r;
}

int THalCompiler::iexpression() {
  const int l = isimpleexpression();
  TToken t;
  NextToken(t);
  int op;
  if (t.code == '=') {
    op = ocEq;
  } else if (t.code == '<' || t.code == '>') {
    ReadToken(t);
    TToken n;
    NextToken(n);
    if (t.code == '<' && n.code == '>') {
      op = ocNe;
      ReadToken(n);
    } else if (n.code == '=') {
      op = t.code == '<' ? ocLe : ocGe;
      ReadToken(n);
    } else {
      op = t.code == '<' ? ocLt : ocGt;
    }
    putcode(op, l, isimpleexpression());
    return l;
  } else {
    return l;
  }
  ReadToken(t);
  putcode(op, l, isimpleexpression());
  return l;
}

int THalCompiler::isimpleexpression() {
  const int l = iterm();
  for (;;) {
    TToken t;
    NextToken(t);
    int op;
    switch (t.code) {
      case '+':
        op = ocAdd;
        break;
      case '-':
        op = ocSub;
        break;
      case rwOr:
        op = ocOr;
        break;
      case rwXor:
        op = ocXor;
        break;
      default:
        return l;
    }
    ReadToken(t);
    putcode(op, l, iterm());
  }
}

int THalCompiler::iterm() {
  const int l = ifactor();
  for (;;) {
    TToken t;
    NextToken(t);
    int op;
    switch (t.code) {
      case '*':
        op = ocMul;
        break;
      case '/':
        op = ocDiv;
        break;
      case rwAnd:
        op = ocAnd;
        break;
      case rwShl:
        op = ocShl;
        break;
      case rwShr:
        op = ocShr;
        break;
      case rwDiv:
        op = ocIntDiv;
        break;
      case rwMod:
        op = ocMod;
        break;
      default:
        return l;
    }
    ReadToken(t);
    putcode(op, l, ifactor());
  }
}

int THalCompiler::ifactor() {
  TDepthGuard guard(*this);
  TToken t;
  ReadToken(t);
  switch (t.code) {
    case '(': {
      const int r = iexpression();
      ReadToken(t);
      if (t.code != ')' && t.code != ']') error(") expected but " + tokenText(t) + " found");
      return r;
    }
    case '+':
      return ifactor();
    case '-': {
      const int r = ifactor();
      putcode(ocNeg, r, 0);
      return r;
    }
    case rwNot: {
      const int r = ifactor();
      putcode(ocNot, r, 0);
      return r;
    }
    case tkNumber:
      return numberfactor(t);
    case '$': {
      ReadToken(t);
      if (t.code != tkNumber) error("Hex constant declaration error");
      return loadConst(TValue(Hex2Dec(t.value.IsString() ? t.value.StrVal() : lastWord_)));
    }
    case tkHex:
      return loadConst(TValue(Hex2Dec(t.value.StrVal())));
    case '#':
    case tkString:
      return stringfactor(t);
    case tkResConst:
      return loadConst(ResConsts().Value(t.value.IntVal()));
    case rwTrue:
      return loadConst(TValue(true));
    case rwFalse:
      return loadConst(TValue(false));
    case rwNil:
      return loadConst(TValue(int32_t(0)));
    case '[': {
      const int r = GetOpenArray(false);
      ReadToken(t);
      if (t.code != ']') error("] expected but " + tokenText(t) + " found");
      return r;
    }
    case tkIdent:
      return identfactor(t.value.StrVal());
    default:
      error("Expression expected but " + tokenText(t) + " found");
  }
}

int THalCompiler::numberfactor(const TToken& t) {
  const std::string whole = lastWord_;
  TToken n;
  NextToken(n);
  if (n.code == '.') {
    ReadToken(n);
    ReadToken(n);
    if (n.code != tkNumber) error("Real constant declaration error");
    return loadConst(TValue(std::strtod((whole + "." + lastWord_).c_str(), nullptr)));
  }
  const double d = t.value.IsString() ? std::strtod(whole.c_str(), nullptr) : t.value.RealVal();
  // a number without a fraction is an integer (a real only when it does not fit)
  if (d <= 2147483647.0 && d == std::floor(d)) return loadConst(TValue(static_cast<int32_t>(d)));
  return loadConst(TValue(d));
}

int THalCompiler::stringfactor(const TToken& first) {
  std::string s;
  TToken t = first;
  for (;;) {
    if (t.code == tkString) {
      s += t.value.StrVal();
    } else {  // "#" n
      TToken n;
      ReadToken(n);
      // A code beyond 32 bits would make the conversion undefined: refused like any other bad code.
      const double code = n.code == tkNumber && !n.value.IsString() ? n.value.RealVal() : -1;
      if (!(code >= 0 && code < 4294967296.0)) error("String constant declaration error");
      s += static_cast<char>(static_cast<unsigned>(code) & 0xFF);
    }
    NextToken(t);
    if (t.code != tkString && t.code != '#') break;
    ReadToken(t);
  }
  return loadConst(TValue(std::move(s)));
}

int THalCompiler::identfactor(const std::string& first) {
  const std::string name = readDottedName(first);
  const TBinding binding = bind_;
  TToken t;
  NextToken(t);
  if (t.code != '(' && t.code != '[') {
    if (objects_) {
      if (const tobjitem* o = objects_->Find(name)) return loadConst(TValue(static_cast<int32_t>(o->Object)));
    }
    int provider = 0, id = 0;
    // Inside a function its own Result slot wins; only the main program's Result is the spare value.
    const bool ownResult = name == "RESULT" && !VarIDByName(name).empty();
    if (!ownResult && DynaVars().GetDynaObject(name, owner_, provider, id)) {
      const int v = newTemp();
      putcode(ocLoadExt, id, provider);
      putcode(ocOperand, v, 0);
      return v;
    }
    const std::string key = VarIDByName(name);
    if (!key.empty()) {
      const TIdentListItem& e = *found_;
      const int tmp = newTemp();
      switch (e.Kind) {
        case 0:
          putcode(ocCopy, tmp, e.Number);
          return tmp;
        case 1:
          putcode(ocCopy, tmp, getinternalfun(key, e));
          return tmp;  // a copy of Result
        case 3:
          putcode(ocLoadConst, tmp, e.Number);
          return tmp;
        default:
          error("Invalid procedure usage");
      }
    }
  }
  return getuserfunction(name, false, binding);
}

int THalCompiler::findHost(const std::string& name) {
  std::string key = name;
  for (int guard = 0; guard < 64; ++guard) {
    const int i = Funs().IndexOf(key);
    if (i >= 0) return i;
    const size_t dot = key.find('.');
    if (dot == std::string::npos) return -1;
    const std::string cls = key.substr(0, dot);
    if (!IsHostClass(cls)) return -1;
    const std::string parent = GetPearent(cls);
    if (parent.empty()) return -1;
    key = parent + key.substr(dot);
  }
  return -1;
}

void THalCompiler::emitBinding(const TBinding& b) {
  if (!b.bound) return;
  if (b.isSlot)
    putcode(ocSelfFromVar, b.slot, 0);
  else
    putcode(ocSetSelf, static_cast<int32_t>(b.obj), 0);
}

void THalCompiler::emitHostCall(int entry, const std::vector<int>& args, int resultSlot) {
  putcode(ocCallHost, resultSlot, entry);
  for (size_t k = 0; k < args.size(); k += 3) {
    auto at = [&](size_t i) { return i < args.size() ? args[i] : 0; };
    putcode(at(k), at(k + 1), at(k + 2));  // op, a, b fields of an argument word
  }
}

int THalCompiler::getuserfunction(const std::string& name, bool statement, const TBinding& binding) {
  const std::string key = VarIDByName(name);
  if (!key.empty() && found_->Kind == 1) {
    const int res = getinternalfun(key, *found_);
    const int tmp = newTemp();
    putcode(ocCopy, tmp, res);
    return tmp;
  }
  int entry = statement ? findHost(name + "_VET") : -1;
  if (entry < 0) entry = findHost(name);
  if (entry < 0) error("Unknown identifier: " + name);
  const TFunListItem& item = Funs().Item(entry);
  const int n = item.ParamCount;
  TToken t;
  if (n > 0) {
    ReadToken(t);
    if (t.code != '(' && t.code != '[') error("( expected");
  }
  if (item.ProcFlag && !statement) error("Invalid procedure usage");
  const int save = nextSlot_;
  std::vector<int> args;
  for (int i = 0; i < n; ++i) {
    const int kind = item.Kinds[i];
    if (i > 0 && kind != pkAssigned) expect(',', "Comma expected");
    switch (kind) {
      case pkValue:
        args.push_back(iexpression());
        break;
      case pkVar:
        args.push_back(getvar());
        break;
      case pkOpenArray:
        args.push_back(GetOpenArray(n != 1));
        break;
      case pkAssigned:
        ReadToken(t);
        if (t.code != ')' && t.code != ']') error(") expected");
        expect(':', "Colon expected");
        expect('=', "= expected");
        args.push_back(iexpression());
        break;
      default:
        error("Unsupported parameter type");
    }
  }
  emitBinding(binding);
  // Arguments are copied out before the handler runs, so the result may reuse their first slot.
  nextSlot_ = save;
  const int res = newTemp();
  emitHostCall(entry, args, res);
  if (n > 0 && item.Kinds[n - 1] != pkAssigned) {
    ReadToken(t);
    if (t.code != ')' && t.code != ']') error(") expected");
  }
  return res;
}

int THalCompiler::getinternalfun(const std::string& key, const TIdentListItem& routine) {
  TToken t;
  const int n = routine.ParamCount;
  std::vector<std::pair<int, int>> copyBack;  // (argument variable, parameter slot)
  if (n > 0) {
    ReadToken(t);
    if (t.code != '(' && t.code != '[') error("( expected");
  }
  for (int i = 0; i < n; ++i) {
    if (i > 0) expect(',', "Comma expected");
    const std::string pkey = key + "." + routine.ParamNames[static_cast<size_t>(i)];
    auto p = idents_.find(pkey);
    if (p == idents_.end()) error("Procedure " + pkey + " not found");
    const int param = p->second.Number;
    if (routine.ByRef[i]) {
      const int var = getvar();
      putcode(ocCopy, param, var);
      copyBack.emplace_back(var, param);
    } else {
      const int save = nextSlot_;
      putcode(ocCopy, param, iexpression());
      nextSlot_ = save;
    }
  }
  if (n > 0) {
    ReadToken(t);
    if (t.code != ')' && t.code != ']') error(") expected");
  }
  auto res = idents_.find(key + ".RESULT");
  if (res == idents_.end()) error("Variable Result not found for " + key);
  putcode(ocCall, routine.Number, 0);
  for (const auto& [var, param] : copyBack) putcode(ocCopy, var, param);
  return res->second.Number;
}

int THalCompiler::getvar() {
  TToken t;
  ReadToken(t);
  if (t.code != tkIdent) error("Variable name expected");
  TIdentListItem* v = VarByName(t.value.StrVal());
  if (!v || v->Kind != 0) error("Variable <" + t.value.StrVal() + "> not defined");
  return v->Number;
}

int THalCompiler::GetOpenArray(bool bracketsRequired) {
  TToken t;
  bool opened = false;
  NextToken(t);
  if (bracketsRequired && t.code != '[') error("[ expected but " + tokenText(t) + " found");
  if (t.code == '[') {
    ReadToken(t);
    opened = true;
  }
  const int arr = newTemp();
  std::vector<int> items;
  for (NextToken(t); t.code != ']' && t.code != ')'; NextToken(t)) {
    if (!items.empty()) expect(',', "Comma expected");
    items.push_back(iexpression());
  }
  const int n = static_cast<int>(items.size());
  putcode(ocNewArray, arr, 2 * ((n - 1) / 2) + 2);
  const int count = loadConst(TValue(static_cast<int32_t>(n)));
  putcode(ocStoreElem, 0, count);
  putcode(ocOperand, arr, 0);
  for (int k = 1; k <= n; ++k) {
    putcode(ocStoreElem, k, items[static_cast<size_t>(k - 1)]);
    putcode(ocOperand, arr, 0);
  }
  if (opened) {  // the closing bracket belongs to the constructor only when it opened one
    ReadToken(t);
    if (t.code != ']') error("] expected but " + tokenText(t) + " found");
  }
  return arr;
}
