// Control-backed string lists, fonts and colours, and the event hook of every control.
#include "forms/Formsub.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

#include "script/Registration.h"

namespace {

class TFormStrings : public TScriptObject {
 public:
  TFormStrings(TLinesGet g, TLinesSet s) : TScriptObject("TFormStrings"), get(std::move(g)), set(std::move(s)) {}
  TLinesGet get;
  TLinesSet set;
};

class TFormFont : public TScriptObject {
 public:
  explicit TFormFont(TControl& c) : TScriptObject("TFont"), control(c) {}
  TControl& control;
};

TFormStrings& Strs(TObjHandle self) { return *ScriptObjectAs<TFormStrings>(self, "TFormStrings"); }

int Index(const TValue& v, size_t count) {
  const int i = v.AsInteger();
  if (i < 0 || static_cast<size_t>(i) >= count)
    throw ERunTimeError("List index out of bounds (" + std::to_string(i) + ")");
  return i;
}

// Virtual key codes of the keys scripts test for.
int KeyCode(const QKeyEvent& e) {
  const int k = e.key();
  if ((k >= Qt::Key_A && k <= Qt::Key_Z) || (k >= Qt::Key_0 && k <= Qt::Key_9)) return k;
  if (k >= Qt::Key_F1 && k <= Qt::Key_F12) return 112 + (k - Qt::Key_F1);
  switch (k) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return 13;
    case Qt::Key_Escape:
      return 27;
    case Qt::Key_Backspace:
      return 8;
    case Qt::Key_Tab:
      return 9;
    case Qt::Key_Space:
      return 32;
    case Qt::Key_PageUp:
      return 33;
    case Qt::Key_PageDown:
      return 34;
    case Qt::Key_End:
      return 35;
    case Qt::Key_Home:
      return 36;
    case Qt::Key_Left:
      return 37;
    case Qt::Key_Up:
      return 38;
    case Qt::Key_Right:
      return 39;
    case Qt::Key_Down:
      return 40;
    case Qt::Key_Insert:
      return 45;
    case Qt::Key_Delete:
      return 46;
    case Qt::Key_Shift:
      return 16;
    case Qt::Key_Control:
      return 17;
    case Qt::Key_Alt:
      return 18;
    default:
      return k & 0xFFFF;
  }
}

// Shift-state bits as the ss constants number them.
int ShiftSet(Qt::KeyboardModifiers m, Qt::MouseButtons b = Qt::NoButton, bool dbl = false) {
  int s = 0;
  if (m & Qt::ShiftModifier) s |= 1 << 0;
  if (m & Qt::AltModifier) s |= 1 << 1;
  if (m & Qt::ControlModifier) s |= 1 << 2;
  if (b & Qt::LeftButton) s |= 1 << 3;
  if (b & Qt::RightButton) s |= 1 << 4;
  if (b & Qt::MiddleButton) s |= 1 << 5;
  if (dbl) s |= 1 << 6;
  return s;
}

int ButtonNumber(Qt::MouseButton b) { return b == Qt::RightButton ? 1 : b == Qt::MiddleButton ? 2 : 0; }

TValue I(int v) { return TValue(static_cast<int32_t>(v)); }

class TControlHook : public QObject {
 public:
  TControlHook(TControl& c, QWidget* w) : QObject(w), m_c(c) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (watched != m_c.Widget() || m_c.Bridges.empty()) return false;
    switch (e->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease: {
        auto* m = static_cast<QMouseEvent*>(e);
        const QPoint p = m->position().toPoint();
        std::vector<TValue> a{I(ButtonNumber(m->button())), I(ShiftSet(m->modifiers(), m->buttons() | m->button())),
                              I(p.x()), I(p.y())};
        m_c.Fire(e->type() == QEvent::MouseButtonPress ? "ONMOUSEDOWN" : "ONMOUSEUP", a);
        return false;
      }
      case QEvent::MouseMove: {
        auto* m = static_cast<QMouseEvent*>(e);
        const QPoint p = m->position().toPoint();
        std::vector<TValue> a{I(ShiftSet(m->modifiers(), m->buttons())), I(p.x()), I(p.y())};
        m_c.Fire("ONMOUSEMOVE", a);
        return false;
      }
      case QEvent::MouseButtonDblClick:
        m_c.Fire("ONDBLCLICK");
        return false;
      case QEvent::KeyPress:
        return Key(static_cast<QKeyEvent*>(e), true);
      case QEvent::KeyRelease:
        return Key(static_cast<QKeyEvent*>(e), false);
      case QEvent::FocusIn:
        m_c.Fire("ONENTER");
        return false;
      case QEvent::FocusOut:
        m_c.Fire("ONEXIT");
        return false;
      case QEvent::Resize:
        m_c.Fire("ONRESIZE");
        return false;
      default:
        return false;
    }
  }

 private:
  // true: the handler took the key (set it to 0 or to no character).
  bool Key(QKeyEvent* k, bool down) {
    if (m_replaying) return false;
    std::vector<TValue> a{I(KeyCode(*k)), I(ShiftSet(k->modifiers()))};
    m_c.Fire(down ? "ONKEYDOWN" : "ONKEYUP", a);
    if (a[0].AsInteger() == 0) return true;
    if (!down || k->text().isEmpty() || !m_c.HasEvent("ONKEYPRESS")) return false;
    const std::string before = k->text().toLatin1().toStdString().substr(0, 1);
    std::vector<TValue> p{TValue(before)};
    m_c.Fire("ONKEYPRESS", p);
    const std::string after = p[0].AsString();
    if (after == before) return false;
    if (after.empty() || after[0] == '\0') return true;
    // another character: send that one instead
    QKeyEvent replaced(QEvent::KeyPress, 0, k->modifiers(), QString::fromLatin1(after.c_str(), 1));
    m_replaying = true;
    QApplication::sendEvent(m_c.Widget(), &replaced);
    m_replaying = false;
    return true;
  }

  TControl& m_c;
  bool m_replaying = false;
};

#define H []([[maybe_unused]] TObjHandle self, const std::string&, [[maybe_unused]] TValue* a, int) -> TValue

void RegisterStringsNames() {
  RegisterHostClass("TFormStrings", "TObject");
  AddFun("TFORMSTRINGS.ADD",
         H {
           TValue r;
           const std::string s = a[0].AsString();
           OnGuiThread([&] {
             auto& o = Strs(self);
             auto l = o.get();
             l.push_back(s);
             o.set(l);
             r = I(static_cast<int>(l.size()) - 1);
           });
           return r;
         },
         {pkValue});
  AddProc("TFORMSTRINGS.CLEAR",
          H {
            OnGuiThread([&] { Strs(self).set({}); });
            return TValue();
          },
          {pkNone});
  AddProc("TFORMSTRINGS.DELETE",
          H {
            const TValue i = a[0];
            OnGuiThread([&] {
              auto& o = Strs(self);
              auto l = o.get();
              l.erase(l.begin() + Index(i, l.size()));
              o.set(l);
            });
            return TValue();
          },
          {pkValue});
  AddProc("TFORMSTRINGS.INSERT",
          H {
            const int i = a[0].AsInteger();
            const std::string s = a[1].AsString();
            OnGuiThread([&] {
              auto& o = Strs(self);
              auto l = o.get();
              if (i < 0 || static_cast<size_t>(i) > l.size())
                throw ERunTimeError("List index out of bounds (" + std::to_string(i) + ")");
              l.insert(l.begin() + i, s);
              o.set(l);
            });
            return TValue();
          },
          {pkValue, pkValue});
  AddFun("TFORMSTRINGS.COUNT",
         H {
           TValue r;
           OnGuiThread([&] { r = I(static_cast<int>(Strs(self).get().size())); });
           return r;
         },
         {pkNone});
  AddFun("TFORMSTRINGS.INDEXOF",
         H {
           TValue r = I(-1);
           const std::string s = HalUpper(a[0].AsString());
           OnGuiThread([&] {
             const auto l = Strs(self).get();
             for (size_t i = 0; i < l.size(); ++i)
               if (HalUpper(l[i]) == s) {
                 r = I(static_cast<int>(i));
                 break;
               }
           });
           return r;
         },
         {pkValue});
  AddArrayProp(
      "TFORMSTRINGS.STRINGS", 1,
      H {
        TValue r;
        const TValue i = a[0];
        OnGuiThread([&] {
          const auto l = Strs(self).get();
          r = TValue(l[static_cast<size_t>(Index(i, l.size()))]);
        });
        return r;
      },
      H {
        const TValue i = a[0];
        const std::string s = a[1].AsString();
        OnGuiThread([&] {
          auto& o = Strs(self);
          auto l = o.get();
          l[static_cast<size_t>(Index(i, l.size()))] = s;
          o.set(l);
        });
        return TValue();
      });
  AddProp(
      "TFORMSTRINGS.TEXT",
      H {
        TValue r;
        OnGuiThread([&] { r = TValue(JoinLines(Strs(self).get())); });
        return r;
      },
      H {
        const std::string s = a[0].AsString();
        OnGuiThread([&] { Strs(self).set(SplitLines(s)); });
        return TValue();
      });
}

void RegisterFontNames() {
  RegisterHostClass("TFont", "TPersistent");
  for (const char* part : {"NAME", "SIZE", "HEIGHT", "COLOR", "STYLE"}) {
    const std::string p = part;
    AddProp(
        std::string("TFONT.") + part,
        [p](TObjHandle self, const std::string&, TValue*, int) {
          TValue r;
          OnGuiThread([&] { r = GetFontPart(ScriptObjectAs<TFormFont>(self, "TFont")->control, p); });
          return r;
        },
        [p](TObjHandle self, const std::string&, TValue* a, int) {
          const TValue v = a[0];
          OnGuiThread([&] { SetFontPart(ScriptObjectAs<TFormFont>(self, "TFont")->control, p, v); });
          return TValue();
        });
  }
  AddConst("fsBold", I(1));
  AddConst("fsItalic", I(2));
  AddConst("fsUnderline", I(4));
  AddConst("fsStrikeOut", I(8));
}

// Style from a form file set ("[fsBold,fsItalic]") or a number of fs bits.
int StyleBits(const TValue& v) {
  if (!v.IsString()) return v.AsInteger();
  const std::string s = HalUpper(v.StrVal());
  int bits = 0;
  if (s.find("FSBOLD") != std::string::npos) bits |= 1;
  if (s.find("FSITALIC") != std::string::npos) bits |= 2;
  if (s.find("FSUNDERLINE") != std::string::npos) bits |= 4;
  if (s.find("FSSTRIKEOUT") != std::string::npos) bits |= 8;
  return bits;
}

QColor ToQColor(int c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

}  // namespace

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (char ch : text) {
    if (ch == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(std::move(line));
      line.clear();
    } else {
      line += ch;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& l : lines) s += l + "\r\n";
  return s;
}

TValue StringsObject(TComponent& c, const std::string& key, TLinesGet get, TLinesSet set) {
  auto& slot = c.SubObjects[key];
  if (!slot) slot = std::make_unique<TFormStrings>(std::move(get), std::move(set));
  return slot->ToVar();
}

TValue FontObject(TControl& c) {
  auto& slot = c.SubObjects["FONT"];
  if (!slot) slot = std::make_unique<TFormFont>(c);
  return slot->ToVar();
}

void SetFontPart(TControl& c, const std::string& part, const TValue& v) {
  QWidget* w = c.Widget();
  if (!w) return;
  QFont f = w->font();
  if (part == "NAME") {
    f.setFamily(QString::fromStdString(v.AsString()));
  } else if (part == "SIZE") {
    f.setPointSize(std::max(1, v.AsInteger()));
  } else if (part == "HEIGHT") {
    // negative: character height in pixels; positive: cell height (taken the same here)
    f.setPixelSize(std::max(1, std::abs(v.AsInteger())));
  } else if (part == "STYLE") {
    const int bits = StyleBits(v);
    f.setBold(bits & 1);
    f.setItalic(bits & 2);
    f.setUnderline(bits & 4);
    f.setStrikeOut(bits & 8);
  } else if (part == "COLOR") {
    const int color = ColorFromValue(v);
    if (color >= 0 && color <= 0xFFFFFF) {
      QPalette pal = w->palette();
      pal.setColor(w->foregroundRole(), ToQColor(color));
      pal.setColor(QPalette::WindowText, ToQColor(color));
      w->setPalette(pal);
    }
    return;
  } else {
    return;  // character set, pitch: the toolkit picks them
  }
  w->setFont(f);
  c.FontChanged();
}

TValue GetFontPart(TControl& c, const std::string& part) {
  QWidget* w = c.Widget();
  if (!w) return TValue();
  const QFont f = w->font();
  if (part == "NAME") return TValue(f.family().toStdString());
  if (part == "SIZE") return I(f.pointSize() > 0 ? f.pointSize() : f.pixelSize() * 72 / 96);
  if (part == "HEIGHT") return I(f.pixelSize() > 0 ? -f.pixelSize() : -(f.pointSize() * 96 / 72));
  if (part == "STYLE")
    return I((f.bold() ? 1 : 0) | (f.italic() ? 2 : 0) | (f.underline() ? 4 : 0) | (f.strikeOut() ? 8 : 0));
  if (part == "COLOR") {
    const QColor q = w->palette().color(QPalette::WindowText);
    return I(q.red() | (q.green() << 8) | (q.blue() << 16));
  }
  return TValue();
}

void ApplyColor(TControl& c, int color) {
  c.ColorValue = color;
  QWidget* w = c.Widget();
  if (!w || color < 0 || color > 0xFFFFFF) return;  // system colours: the toolkit's own
  QPalette pal = w->palette();
  pal.setColor(w->backgroundRole(), ToQColor(color));
  w->setPalette(pal);
  w->setAutoFillBackground(true);
}

void InstallControlHook(TControl& c) {
  QWidget* w = c.Widget();
  w->installEventFilter(new TControlHook(c, w));
}

void DropSubObjects(TComponent& c) { c.SubObjects.clear(); }

// Control.Items.Add(...), Control.Font.Size := ...: the compiler reads a dotted chain as one name, so
// each member of the strings and font objects is registered once more under the control's property.
void RegisterChained(const std::string& sub, const std::string& objectClass) {
  const std::string prefix = objectClass + ".";
  std::vector<std::pair<std::string, TFunListItem>> chained;
  for (int i = 0; i < Funs().Count(); ++i) {
    const std::string& key = Funs().Key(i);
    if (key.rfind(prefix, 0) != 0) continue;
    TFunListItem item = Funs().Item(i);
    const TFunListItem original = Funs().Item(i);
    item.MethodName = sub + "." + original.MethodName;
    item.Handler = [original, sub](TObjHandle self, const std::string&, TValue* a, int high) {
      TObjHandle object = 0;
      OnGuiThread([&] { object = VarToObj(ScriptObjectAs<TComponent>(self, "TComponent")->GetProp(sub)); });
      return original.Handler(object, original.MethodName, a, high);
    };
    chained.emplace_back("TCONTROL." + sub + "." + key.substr(prefix.size()), std::move(item));
  }
  for (auto& [name, item] : chained) Funs().Put(name, std::make_unique<TFunListItem>(std::move(item)));
}

void RegisterSubObjectNames() {
  RegisterStringsNames();
  RegisterFontNames();
  RegisterChained("ITEMS", "TFORMSTRINGS");
  RegisterChained("LINES", "TFORMSTRINGS");
  RegisterChained("FONT", "TFONT");
}
