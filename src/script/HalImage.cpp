// The compiler's tables and code emission (line-marker coalescing), and the image writer.
#include <cstring>

#include "script/HalCompiler.h"

namespace {
void putInt(std::string& out, int32_t v) {
  char b[4];
  std::memcpy(b, &v, 4);  // little-endian hosts only (the image is little-endian)
  out.append(b, 4);
}
}  // namespace

void THalCompiler::putcode(int op, int a, int b) {
  if (op == ocLine) {  // held back; a newer marker replaces it
    pendingLine_ = true;
    pendingLineNo_ = a;
    return;
  }
  flushLine();
  code_.push_back({op, a, b});
}

void THalCompiler::flushLine() {
  if (!pendingLine_) return;
  pendingLine_ = false;
  code_.push_back({ocLine, pendingLineNo_, 0});
}

int THalCompiler::here() { return static_cast<int>(code_.size()); }

int THalCompiler::newLabel(bool referenced) {
  labels_.push_back({referenced, false, 0});
  return static_cast<int>(labels_.size()) - 1;
}

void THalCompiler::placeLabel(int label) {
  labels_[static_cast<size_t>(label)].placed = true;
  labels_[static_cast<size_t>(label)].place = here();
}

int THalCompiler::addConst(const TValue& v) {
  consts_.push_back(v);
  return static_cast<int>(consts_.size()) - 1;
}

int THalCompiler::newTemp() {
  const int s = nextSlot_++;
  if (nextSlot_ > HAL_MAX_SLOTS) error("Too many variables and temporaries");
  if (nextSlot_ > highSlot_) highSlot_ = nextSlot_;
  return s;
}

void THalCompiler::writeprogram() {
  flushLine();
  // A jump or call to a label that was never placed would land on instruction 0.
  for (size_t i = 0; i < code_.size(); i += 1 + static_cast<size_t>(HalOperandWords(code_[i]))) {
    const TProgItem& it = code_[i];
    const THalOpInfo& info = HalOpInfo(it.op);
    if (info.a != THalField::Label && info.b != THalField::Label) continue;
    const int label = info.a == THalField::Label ? it.a : it.b;
    if (!labels_[static_cast<size_t>(label)].placed) {
      std::string name = std::to_string(label);
      for (const auto& [n, num] : labelNames_)
        if (num == label) name = n;
      for (const auto& [k, e] : idents_)
        if (e.Kind == 1 && e.Number == label) name = k;
      error("Label <" + name + "> is used but never placed");
    }
  }
  std::string& out = output_;
  out.clear();
  size_t bytes = 12 + 9 * consts_.size() + 4 * labels_.size() + 12 * code_.size();
  for (const TValue& v : consts_)
    if (v.Kind() == TVarKind::String) bytes += v.StrVal().size() + 4;
  out.reserve(bytes);  // one buffer, no copies while it grows
  putInt(out, static_cast<int32_t>(consts_.size()));
  for (const TValue& v : consts_) {
    switch (v.Kind()) {
      case TVarKind::Integer:
        out += char(1);
        putInt(out, v.IntVal());
        break;
      case TVarKind::Real: {
        out += char(2);
        char b[8];
        const double d = v.RealVal();
        std::memcpy(b, &d, 8);
        out.append(b, 8);
        break;
      }
      case TVarKind::Boolean:
        out += char(4);
        out += char(v.BoolVal() ? 1 : 0);
        break;
      case TVarKind::String:
        if (v.StrVal().size() <= 255) {
          out += char(3);
          out += static_cast<char>(v.StrVal().size());
        } else {  // long strings keep their full length (type 5: int length, then the bytes)
          out += char(5);
          putInt(out, static_cast<int32_t>(v.StrVal().size()));
        }
        out += v.StrVal();
        break;
      default:
        error("Unknown variable type during writing program");
    }
  }
  putInt(out, static_cast<int32_t>(labels_.size()));
  for (const TLabelItem& l : labels_) putInt(out, l.place);
  putInt(out, static_cast<int32_t>(code_.size()));
  size_t at = out.size();
  out.resize(at + 12 * code_.size());
  for (const TProgItem& it : code_) {
    const int32_t w[3] = {it.a, it.b, it.op};
    std::memcpy(&out[at], w, 12);  // little-endian hosts only, as putInt
    at += 12;
  }
}
