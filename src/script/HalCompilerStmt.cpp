// The compiler's statements: blocks, separators, if, while, repeat, for, goto, labels, assignment.
#include "script/HalCompiler.h"
#include "script/Registration.h"

void THalCompiler::getoperatorblock() {
  TToken t;
  ReadToken(t);
  if (t.code != rwBegin) error("BEGIN expected");
  for (NextToken(t); t.code != rwEnd && t.code != tkEOF; NextToken(t)) getoperatorcoma();
  ReadToken(t);
  if (t.code != rwEnd) error("END expected");
}

void THalCompiler::getoperatorcoma() {
  lastWasLabel_ = false;
  getoperator();
  TToken t;
  NextToken(t);
  if (t.code == ';')
    ReadToken(t);
  else if (t.code != rwEnd && t.code != rwUntil && !lastWasLabel_)
    error("Operator delimeter expected");
}

std::string THalCompiler::readDottedName(const std::string& first) {
  TToken t;
  NextToken(t);
  bind_ = TBinding{};
  if (t.code != '.') return first;
  std::string name = findobject(first);
  for (; t.code == '.'; NextToken(t)) {
    ReadToken(t);
    ReadToken(t);
    if (t.code != tkIdent) error("Identifier expected");
    name += "." + t.value.StrVal();
  }
  return name;
}

std::string THalCompiler::findobject(const std::string& first) {
  if (objects_) {
    if (const tobjitem* o = objects_->Find(first)) {
      bind_ = TBinding{true, false, 0, o->Object};
      return o->ClassName;
    }
  }
  if (TIdentListItem* v = VarByName(first); v && v->Kind == 0 && !v->TypeName.empty() && IsHostClass(v->TypeName)) {
    bind_ = TBinding{true, true, v->Number, 0};
    return HalUpper(v->TypeName);
  }
  bind_ = TBinding{};
  return first;
}

void THalCompiler::getoperator() {
  TDepthGuard guard(*this);
  TToken t;
  NextToken(t);
  switch (t.code) {
    case tkIdent: {
      ReadToken(t);
      const std::string name = readDottedName(t.value.StrVal());
      const TBinding binding = bind_;
      NextToken(t);
      if (t.code != ':') {
        const int save = nextSlot_;
        getuserfunction(name, true, binding);
        nextSlot_ = save;
        return;
      }
      ReadToken(t);
      NextToken(t);
      if (t.code == '=') {
        ReadToken(t);
        equaldispath(name, binding);
      } else {
        labeldispatch(name);
      }
      return;
    }
    case rwGoto:
      ReadToken(t);
      gotodispatch();
      return;
    case rwBegin:
      getoperatorblock();
      return;
    case rwIf:
      getifoperator();
      return;
    case rwWhile:
      getwhileoperator();
      return;
    case rwRepeat:
      getrepeatoperator();
      return;
    case rwFor:
      getforoperator();
      return;
    case rwHalt:
      ReadToken(t);
      putcode(ocStop, 0, 0);
      return;
    default:
      ReadToken(t);
      error("Unknown identifier: " + tokenText(t));
  }
}

void THalCompiler::labeldispatch(const std::string& name) {
  auto it = labelNames_.find(name);
  if (it == labelNames_.end()) error("Label <" + name + "> not defined");
  placeLabel(it->second);
  lastWasLabel_ = true;
}

void THalCompiler::gotodispatch() {
  TToken t;
  ReadToken(t);
  if (t.code != tkIdent) error("Label name expected");
  auto it = labelNames_.find(t.value.StrVal());
  if (it == labelNames_.end()) error("Label <" + t.value.StrVal() + "> not defined");
  putcode(ocJump, it->second, 0);
  labels_[static_cast<size_t>(it->second)].referenced = true;
}

void THalCompiler::getifoperator() {
  TToken t;
  ReadToken(t);
  const int c = myexpress();
  const int e = newLabel(true);
  putcode(ocJumpFalse, c, e);
  expect(rwThen, "THEN expected");
  getoperator();
  NextToken(t);
  if (t.code == ';' || t.code == rwEnd) {
    placeLabel(e);
    return;
  }
  expect(rwElse, "ELSE expected");
  const int x = newLabel(true);
  putcode(ocJump, x, 0);
  placeLabel(e);
  getoperator();
  placeLabel(x);
}

void THalCompiler::getwhileoperator() {
  TToken t;
  ReadToken(t);
  const int top = newLabel(true);
  placeLabel(top);
  const int c = myexpress();
  const int x = newLabel(true);
  putcode(ocJumpFalse, c, x);
  expect(rwDo, "DO expected");
  getoperator();
  putcode(ocJump, top, 0);
  placeLabel(x);
}

void THalCompiler::getrepeatoperator() {
  TToken t;
  ReadToken(t);
  const int top = newLabel(true);
  placeLabel(top);
  for (NextToken(t); t.code != rwUntil && t.code != tkEOF; NextToken(t)) getoperatorcoma();
  expect(rwUntil, "UNTIL Expected");
  const int c = myexpress();
  putcode(ocJumpFalse, c, top);
}

void THalCompiler::getforoperator() {
  TToken t;
  ReadToken(t);
  ReadToken(t);
  if (t.code != tkIdent) error("Variable name expected");
  const std::string name = t.value.StrVal();
  TIdentListItem* var = VarByName(name);
  if (!var || var->Kind != 0) error("Variable <" + name + "> not defined");
  const int v = var->Number;
  expect(':', "Colon expected");
  expect('=', "= expected");
  const int save = nextSlot_;
  putcode(ocCopy, v, iexpression());
  nextSlot_ = save;
  TToken dir;
  ReadToken(dir);
  const int top = newLabel(true);
  placeLabel(top);
  const int limit = iexpression();  // evaluated again before every iteration
  const int u = newTemp();
  putcode(ocCopy, u, v);
  expect(rwDo, "DO expected");
  if (dir.code == rwTo)
    putcode(ocLe, u, limit);
  else if (dir.code == rwDownTo)
    putcode(ocGe, u, limit);
  else
    error("TO or DOWNTO expected");
  const int x = newLabel(true);
  putcode(ocJumpFalse, u, x);
  nextSlot_ = save;
  getoperator();
  putcode(dir.code == rwTo ? ocInc : ocDec, v, 0);
  putcode(ocJump, top, 0);
  placeLabel(x);
}

void THalCompiler::equaldispath(const std::string& name, const TBinding& binding) {
  const int save = nextSlot_;
  int provider = 0, id = 0;
  if (TIdentListItem* e = VarByName(name); e && e->Kind == 0) {
    putcode(ocCopy, e->Number, iexpression());
  } else if (DynaVars().GetDynaObject(name, owner_, provider, id)) {
    const int v = iexpression();
    putcode(ocStoreExt, id, provider);
    putcode(ocOperand, v, 0);
  } else if (name.find('.') != std::string::npos && findHost(name + "_SET") >= 0) {
    const int entry = findHost(name + "_SET");
    const int v = iexpression();
    emitBinding(binding);
    emitHostCall(entry, {v}, newTemp());
  } else {
    error("Variable <" + name + "> not defined");
  }
  nextSlot_ = save;
}
