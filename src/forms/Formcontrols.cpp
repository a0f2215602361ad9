// The component kinds: each is a class (when it needs one) plus its entry in the class registry with
// its published properties, event properties and methods.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "forms/Formform.h"
#include "forms/Formsub.h"
#include "script/Registration.h"
#include "scriptlib/Formhost.h"

namespace {

TValue I(int v) { return TValue(static_cast<int32_t>(v)); }
QString Q(const TValue& v) { return QString::fromStdString(v.AsString()); }
std::string S(const QString& s) { return s.toStdString(); }
TControl& Ctl(TComponent& c) { return static_cast<TControl&>(c); }
template <class W>
W* Wid(TComponent& c) {
  return static_cast<W*>(c.Widget());
}

TPropDef Prop(std::function<TValue(TComponent&)> get, std::function<void(TComponent&, const TValue&)> set = nullptr) {
  return {std::move(get), std::move(set)};
}

// A control whose widget is a W made here.
template <class W>
class TWidgetControl : public TControl {
 public:
  explicit TWidgetControl(const TClassInfo& info) : TControl(info, new W) {}
  W* w() const { return static_cast<W*>(m_widget.data()); }
};

std::vector<std::string> ListItems(QListWidget* l) {
  std::vector<std::string> v;
  for (int i = 0; i < l->count(); ++i) v.push_back(S(l->item(i)->text()));
  return v;
}
std::vector<std::string> ComboItems(QComboBox* b) {
  std::vector<std::string> v;
  for (int i = 0; i < b->count(); ++i) v.push_back(S(b->itemText(i)));
  return v;
}

template <class C>
TClassInfo Kind(const char* name, const char* parent, bool container = false) {
  TClassInfo info;
  info.name = name;
  info.parent = parent;
  info.container = container;
  const std::string key = name;
  info.create = [key] { return std::unique_ptr<TComponent>(new C(*FindComponentClass(key))); };
  return info;
}

// ---- the abstract bases -------------------------------------------------------------------------

void RegisterBases() {
  TClassInfo comp;
  comp.name = "TComponent";
  comp.props["NAME"] = Prop([](TComponent& c) { return TValue(c.Name); });
  comp.props["TAG"] =
      Prop([](TComponent& c) { return I(c.Tag); }, [](TComponent& c, const TValue& v) { c.Tag = v.AsInteger(); });
  RegisterComponentClass(std::move(comp));

  TClassInfo ctl;
  ctl.name = "TControl";
  ctl.parent = "TComponent";
  auto geo = [](int which) {
    return Prop(
        [which](TComponent& c) {
          const QRect r = c.Widget()->geometry();
          const int v[] = {r.x(), r.y(), r.width(), r.height()};
          return I(v[which]);
        },
        [which](TComponent& c, const TValue& val) {
          QWidget* w = c.Widget();
          QRect r = w->geometry();
          const int n = val.AsInteger();
          if (which == 0) r.moveLeft(n);
          if (which == 1) r.moveTop(n);
          if (which == 2) r.setWidth(std::max(n, 0));
          if (which == 3) r.setHeight(std::max(n, 0));
          if (w->isWindow()) {
            w->move(r.topLeft());
            w->resize(r.size());
          } else {
            w->setGeometry(r);
          }
        });
  };
  ctl.props["LEFT"] = geo(0);
  ctl.props["TOP"] = geo(1);
  ctl.props["WIDTH"] = geo(2);
  ctl.props["HEIGHT"] = geo(3);
  ctl.props["VISIBLE"] = Prop([](TComponent& c) { return TValue(!c.Widget()->isHidden()); },
                              [](TComponent& c, const TValue& v) { c.Widget()->setVisible(v.AsBoolean()); });
  ctl.props["ENABLED"] = Prop([](TComponent& c) { return TValue(c.Widget()->isEnabled()); },
                              [](TComponent& c, const TValue& v) { c.Widget()->setEnabled(v.AsBoolean()); });
  ctl.props["HINT"] = Prop([](TComponent& c) { return TValue(S(c.Widget()->toolTip())); },
                           [](TComponent& c, const TValue& v) { c.Widget()->setToolTip(Q(v)); });
  ctl.props["COLOR"] = Prop([](TComponent& c) { return I(Ctl(c).ColorValue); },
                            [](TComponent& c, const TValue& v) { ApplyColor(Ctl(c), ColorFromValue(v)); });
  ctl.props["FONT"] = Prop([](TComponent& c) { return FontObject(Ctl(c)); });
  ctl.props["CAPTION"] = Prop([](TComponent& c) { return TValue(Ctl(c).Caption()); },
                              [](TComponent& c, const TValue& v) { Ctl(c).SetCaption(v.AsString()); });
  ctl.props["TEXT"] = ctl.props["CAPTION"];
  for (const char* e : {"ONCLICK", "ONDBLCLICK", "ONENTER", "ONEXIT", "ONRESIZE"}) ctl.events[e] = "TNotifyEvent";
  ctl.events["ONMOUSEDOWN"] = ctl.events["ONMOUSEUP"] = "TMouseEvent";
  ctl.events["ONMOUSEMOVE"] = "TMouseMoveEvent";
  ctl.events["ONKEYDOWN"] = ctl.events["ONKEYUP"] = "TKeyEvent";
  ctl.events["ONKEYPRESS"] = "TKeyPressEvent";
  ctl.events["ONDRAGDROP"] = "TDragDropEvent";
  ctl.events["ONDRAGOVER"] = "TDragOverEvent";
  ctl.events["ONENDDRAG"] = "TEndDragEvent";
  ctl.events["ONSTARTDRAG"] = "TStartDragEvent";
  ctl.methods["SHOW"] = {{pkNone}, false, [](TComponent& c, TValue*) {
                           c.Widget()->show();
                           return TValue();
                         }};
  ctl.methods["HIDE"] = {{pkNone}, false, [](TComponent& c, TValue*) {
                           c.Widget()->hide();
                           return TValue();
                         }};
  ctl.methods["SETFOCUS"] = {{pkNone}, false, [](TComponent& c, TValue*) {
                               c.Widget()->setFocus();
                               return TValue();
                             }};
  ctl.methods["REFRESH"] = {{pkNone}, false, [](TComponent& c, TValue*) {
                              c.Widget()->update();
                              return TValue();
                            }};
  RegisterComponentClass(std::move(ctl));
}

// ---- the form -----------------------------------------------------------------------------------

void RegisterForm() {
  TClassInfo f;
  f.name = "TForm";
  f.parent = "TControl";
  f.container = true;
  auto form = [](TComponent& c) -> TForm& { return static_cast<TForm&>(c); };
  f.props["CLIENTWIDTH"] =
      Prop([](TComponent& c) { return I(c.Widget()->width()); },
           [form](TComponent& c, const TValue& v) { form(c).SetClientSize(v.AsInteger(), c.Widget()->height()); });
  f.props["CLIENTHEIGHT"] =
      Prop([](TComponent& c) { return I(c.Widget()->height()); },
           [form](TComponent& c, const TValue& v) { form(c).SetClientSize(c.Widget()->width(), v.AsInteger()); });
  f.props["MODALRESULT"] = Prop([form](TComponent& c) { return I(form(c).ModalResult); },
                                [form](TComponent& c, const TValue& v) { form(c).SetModalResult(v.AsInteger()); });
  for (const char* e : {"ONCREATE", "ONDESTROY", "ONSHOW", "ONHIDE", "ONACTIVATE", "ONDEACTIVATE"})
    f.events[e] = "TNotifyEvent";
  f.events["ONCLOSE"] = "TCloseEvent";
  f.events["ONCLOSEQUERY"] = "TCloseQueryEvent";
  f.events["ONHELP"] = "THelpEvent";
  f.methods["CLOSE"] = {{pkNone}, false, [form](TComponent& c, TValue*) {
                          form(c).Close();
                          return TValue();
                        }};
  f.methods["SHOWMODAL"] = {{pkNone}, true, [form](TComponent& c, TValue*) { return I(form(c).ShowModal()); }};
  f.methods["FREE"] = {{pkNone}, false, [form](TComponent& c, TValue*) {
                         form(c).Release();  // after the running handler returns
                         return TValue();
                       }};
  RegisterComponentClass(std::move(f));
}

// ---- simple controls ----------------------------------------------------------------------------

// A label sizes itself to its text unless AutoSize is off.
class TLabel : public TWidgetControl<QLabel> {
 public:
  using TWidgetControl::TWidgetControl;
  std::string Caption() const override { return S(w()->text()); }
  void SetCaption(const std::string& t) override {
    w()->setText(QString::fromStdString(t));
    Fit();
  }
  void FontChanged() override { Fit(); }
  void Fit() {
    if (AutoSize && !w()->wordWrap()) w()->resize(w()->sizeHint());
  }
  bool AutoSize = true;
};

class TEdit : public TWidgetControl<QLineEdit> {
 public:
  explicit TEdit(const TClassInfo& i) : TWidgetControl(i) {
    QObject::connect(w(), &QLineEdit::textChanged, w(), [this] { Fire("ONCHANGE"); });
  }
  std::string Caption() const override { return S(w()->text()); }
  void SetCaption(const std::string& t) override { w()->setText(QString::fromStdString(t)); }
};

class TMemo : public TWidgetControl<QPlainTextEdit> {
 public:
  explicit TMemo(const TClassInfo& i) : TWidgetControl(i) {
    QObject::connect(w(), &QPlainTextEdit::textChanged, w(), [this] { Fire("ONCHANGE"); });
  }
  std::string Caption() const override { return S(w()->toPlainText()); }
  void SetCaption(const std::string& t) override { w()->setPlainText(QString::fromStdString(t)); }
};

class TButton : public TWidgetControl<QPushButton> {
 public:
  explicit TButton(const TClassInfo& i) : TWidgetControl(i) {
    QObject::connect(w(), &QPushButton::clicked, w(), [this] { Click(); });
  }
  std::string Caption() const override { return S(w()->text()); }
  void SetCaption(const std::string& t) override {
    w()->setText(QString::fromStdString(t).replace("&&", "\x01").replace("&", "&").replace("\x01", "&&"));
  }
  void Click() {
    Fire("ONCLICK");
    if (ModalResult != 0 && OwnerForm) OwnerForm->SetModalResult(ModalResult);
  }
  int ModalResult = 0;
};

template <class B>
class TCheckControl : public TWidgetControl<B> {
 public:
  explicit TCheckControl(const TClassInfo& i) : TWidgetControl<B>(i) {
    QObject::connect(this->w(), &B::clicked, this->w(), [this] { this->Fire("ONCLICK"); });
  }
  std::string Caption() const override { return S(this->w()->text()); }
  void SetCaption(const std::string& t) override { this->w()->setText(QString::fromStdString(t)); }
};

class TGroupBox : public TWidgetControl<QGroupBox> {
 public:
  using TWidgetControl::TWidgetControl;
  std::string Caption() const override { return S(w()->title()); }
  void SetCaption(const std::string& t) override { w()->setTitle(QString::fromStdString(t)); }
};

// A panel shows its caption in the middle, under the controls placed on it.
class TPanel : public TWidgetControl<QFrame> {
 public:
  explicit TPanel(const TClassInfo& i) : TWidgetControl(i), m_label(new QLabel(w())) {
    w()->setFrameStyle(QFrame::Panel | QFrame::Raised);
    m_label->setAlignment(Qt::AlignCenter);
    m_label->lower();
    m_label->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_label->installEventFilter(w());
    QObject::connect(&m_fit, &QTimer::timeout, w(), [this] { m_label->setGeometry(w()->rect()); });
    m_fit.start(100);
  }
  std::string Caption() const override { return S(m_label->text()); }
  void SetCaption(const std::string& t) override { m_label->setText(QString::fromStdString(t)); }
  void Loaded() override { m_label->setGeometry(w()->rect()); }

 private:
  QLabel* m_label;
  QTimer m_fit;
};

class TListBox : public TWidgetControl<QListWidget> {
 public:
  explicit TListBox(const TClassInfo& i) : TWidgetControl(i) {
    QObject::connect(w(), &QListWidget::itemClicked, w(), [this] { Fire("ONCLICK"); });
    QObject::connect(w(), &QListWidget::itemDoubleClicked, w(), [this] { Fire("ONDBLCLICK"); });
  }
};

class TComboBox : public TWidgetControl<QComboBox> {
 public:
  explicit TComboBox(const TClassInfo& i) : TWidgetControl(i) {
    w()->setEditable(true);
    QObject::connect(w(), &QComboBox::currentTextChanged, w(), [this] { Fire("ONCHANGE"); });
    QObject::connect(w(), &QComboBox::activated, w(), [this] { Fire("ONCLICK"); });
  }
  std::string Caption() const override { return S(w()->currentText()); }
  void SetCaption(const std::string& t) override {
    if (w()->isEditable())
      w()->setEditText(QString::fromStdString(t));
    else
      w()->setCurrentIndex(w()->findText(QString::fromStdString(t)));
  }
};

class TProgressBar : public TWidgetControl<QProgressBar> {
 public:
  explicit TProgressBar(const TClassInfo& i) : TWidgetControl(i) {
    w()->setRange(0, 100);
    w()->setValue(0);
    w()->setTextVisible(false);
  }
};

class TImage : public TWidgetControl<QLabel> {
 public:
  explicit TImage(const TClassInfo& i) : TWidgetControl(i) { w()->setAlignment(Qt::AlignLeft | Qt::AlignTop); }
  void Load(const std::string& file) {
    QPixmap p;
    if (!p.load(QString::fromStdString(file))) throw ERunTimeError("Cannot load picture " + file);
    w()->setPixmap(p);
  }
  void SetData(const std::string& bytes) {
    QPixmap p;
    if (p.loadFromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<uint>(bytes.size())))
      w()->setPixmap(p);
  }
  std::string PictureFile;
};

void RegisterSimpleControls() {
  TClassInfo label = Kind<TLabel>("TLabel", "TControl");
  label.props["AUTOSIZE"] = Prop([](TComponent& c) { return TValue(static_cast<TLabel&>(c).AutoSize); },
                                 [](TComponent& c, const TValue& v) {
                                   static_cast<TLabel&>(c).AutoSize = v.AsBoolean();
                                   static_cast<TLabel&>(c).Fit();
                                 });
  label.props["WORDWRAP"] = Prop([](TComponent& c) { return TValue(Wid<QLabel>(c)->wordWrap()); },
                                 [](TComponent& c, const TValue& v) { Wid<QLabel>(c)->setWordWrap(v.AsBoolean()); });
  RegisterComponentClass(std::move(label));

  TClassInfo edit = Kind<TEdit>("TEdit", "TControl");
  edit.props["READONLY"] = Prop([](TComponent& c) { return TValue(Wid<QLineEdit>(c)->isReadOnly()); },
                                [](TComponent& c, const TValue& v) { Wid<QLineEdit>(c)->setReadOnly(v.AsBoolean()); });
  edit.props["MAXLENGTH"] = Prop([](TComponent& c) { return I(Wid<QLineEdit>(c)->maxLength()); },
                                 [](TComponent& c, const TValue& v) {
                                   const int n = v.AsInteger();
                                   Wid<QLineEdit>(c)->setMaxLength(n > 0 ? n : 32767);
                                 });
  edit.props["PASSWORDCHAR"] =
      Prop([](TComponent& c) { return TValue(Wid<QLineEdit>(c)->echoMode() == QLineEdit::Password ? "*" : ""); },
           [](TComponent& c, const TValue& v) {
             const std::string s = v.AsString();
             Wid<QLineEdit>(c)->setEchoMode(s.empty() || s[0] == '\0' || s == "#0" ? QLineEdit::Normal
                                                                                   : QLineEdit::Password);
           });
  edit.events["ONCHANGE"] = "TNotifyEvent";
  edit.methods["CLEAR"] = {{pkNone}, false, [](TComponent& c, TValue*) {
                             Wid<QLineEdit>(c)->clear();
                             return TValue();
                           }};
  RegisterComponentClass(std::move(edit));

  TClassInfo memo = Kind<TMemo>("TMemo", "TControl");
  memo.props["LINES"] = Prop(
      [](TComponent& c) {
        auto* m = Wid<QPlainTextEdit>(c);
        return StringsObject(
            c, "LINES", [m] { return SplitLines(S(m->toPlainText())); },
            [m](const std::vector<std::string>& l) {
              std::string t;
              for (size_t i = 0; i < l.size(); ++i) t += (i ? "\n" : "") + l[i];
              m->setPlainText(QString::fromStdString(t));
            });
      },
      [](TComponent& c, const TValue& v) {
        std::string t = v.AsString();
        if (!t.empty() && t.back() == '\n') t.pop_back();
        Wid<QPlainTextEdit>(c)->setPlainText(QString::fromStdString(t));
      });
  memo.props["READONLY"] =
      Prop([](TComponent& c) { return TValue(Wid<QPlainTextEdit>(c)->isReadOnly()); },
           [](TComponent& c, const TValue& v) { Wid<QPlainTextEdit>(c)->setReadOnly(v.AsBoolean()); });
  memo.props["WORDWRAP"] = Prop(
      [](TComponent& c) { return TValue(Wid<QPlainTextEdit>(c)->lineWrapMode() != QPlainTextEdit::NoWrap); },
      [](TComponent& c, const TValue& v) {
        Wid<QPlainTextEdit>(c)->setLineWrapMode(v.AsBoolean() ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
      });
  memo.events["ONCHANGE"] = "TNotifyEvent";
  memo.methods["CLEAR"] = {{pkNone}, false, [](TComponent& c, TValue*) {
                             Wid<QPlainTextEdit>(c)->clear();
                             return TValue();
                           }};
  RegisterComponentClass(std::move(memo));

  TClassInfo button = Kind<TButton>("TButton", "TControl");
  button.props["MODALRESULT"] =
      Prop([](TComponent& c) { return I(static_cast<TButton&>(c).ModalResult); },
           [](TComponent& c, const TValue& v) { static_cast<TButton&>(c).ModalResult = v.AsInteger(); });
  button.props["DEFAULT"] = Prop([](TComponent& c) { return TValue(Wid<QPushButton>(c)->isDefault()); },
                                 [](TComponent& c, const TValue& v) {
                                   Wid<QPushButton>(c)->setDefault(v.AsBoolean());
                                   Wid<QPushButton>(c)->setAutoDefault(v.AsBoolean());
                                 });
  button.props["CANCEL"] = Prop([](TComponent&) { return TValue(false); }, [](TComponent&, const TValue&) {});
  button.methods["CLICK"] = {{pkNone}, false, [](TComponent& c, TValue*) {
                               static_cast<TButton&>(c).Click();
                               return TValue();
                             }};
  RegisterComponentClass(std::move(button));

  auto checked = [](auto* tag) {
    using B = std::remove_pointer_t<decltype(tag)>;
    return Prop([](TComponent& c) { return TValue(Wid<B>(c)->isChecked()); },
                [](TComponent& c, const TValue& v) { Wid<B>(c)->setChecked(v.AsBoolean()); });
  };
  TClassInfo check = Kind<TCheckControl<QCheckBox>>("TCheckBox", "TControl");
  check.props["CHECKED"] = checked(static_cast<QCheckBox*>(nullptr));
  check.props["STATE"] = Prop(
      [](TComponent& c) {
        return I(Wid<QCheckBox>(c)->checkState() == Qt::Checked            ? 1
                 : Wid<QCheckBox>(c)->checkState() == Qt::PartiallyChecked ? 2
                                                                           : 0);
      },
      [](TComponent& c, const TValue& v) {
        const std::string s = HalUpper(v.AsString());
        const int n = s == "CBCHECKED" ? 1 : s == "CBGRAYED" ? 2 : s == "CBUNCHECKED" ? 0 : v.AsInteger();
        Wid<QCheckBox>(c)->setCheckState(n == 1 ? Qt::Checked : n == 2 ? Qt::PartiallyChecked : Qt::Unchecked);
      });
  RegisterComponentClass(std::move(check));
  TClassInfo radio = Kind<TCheckControl<QRadioButton>>("TRadioButton", "TControl");
  radio.props["CHECKED"] = checked(static_cast<QRadioButton*>(nullptr));
  RegisterComponentClass(std::move(radio));

  RegisterComponentClass(Kind<TGroupBox>("TGroupBox", "TControl", true));
  TClassInfo panel = Kind<TPanel>("TPanel", "TControl", true);
  panel.props["BEVELOUTER"] = Prop(
      [](TComponent& c) { return TValue(Wid<QFrame>(c)->frameShadow() == QFrame::Sunken ? "bvLowered" : "bvRaised"); },
      [](TComponent& c, const TValue& v) {
        const std::string s = HalUpper(v.AsString());
        Wid<QFrame>(c)->setFrameStyle(
            s == "BVNONE" ? QFrame::NoFrame : QFrame::Panel | (s == "BVLOWERED" ? QFrame::Sunken : QFrame::Raised));
      });
  RegisterComponentClass(std::move(panel));

  TClassInfo bar = Kind<TProgressBar>("TProgressBar", "TControl");
  bar.props["MIN"] = Prop([](TComponent& c) { return I(Wid<QProgressBar>(c)->minimum()); },
                          [](TComponent& c, const TValue& v) { Wid<QProgressBar>(c)->setMinimum(v.AsInteger()); });
  bar.props["MAX"] = Prop([](TComponent& c) { return I(Wid<QProgressBar>(c)->maximum()); },
                          [](TComponent& c, const TValue& v) { Wid<QProgressBar>(c)->setMaximum(v.AsInteger()); });
  bar.props["POSITION"] = Prop([](TComponent& c) { return I(Wid<QProgressBar>(c)->value()); },
                               [](TComponent& c, const TValue& v) { Wid<QProgressBar>(c)->setValue(v.AsInteger()); });
  RegisterComponentClass(std::move(bar));

  TClassInfo image = Kind<TImage>("TImage", "TControl");
  image.props["STRETCH"] =
      Prop([](TComponent& c) { return TValue(Wid<QLabel>(c)->hasScaledContents()); },
           [](TComponent& c, const TValue& v) { Wid<QLabel>(c)->setScaledContents(v.AsBoolean()); });
  image.props["CENTER"] =
      Prop([](TComponent& c) { return TValue((Wid<QLabel>(c)->alignment() & Qt::AlignHCenter) != 0); },
           [](TComponent& c, const TValue& v) {
             Wid<QLabel>(c)->setAlignment(v.AsBoolean() ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignTop);
           });
  // Picture: a file name to load (scripts), or the picture's bytes (Picture.Data in form files).
  image.props["PICTURE"] = Prop([](TComponent& c) { return TValue(static_cast<TImage&>(c).PictureFile); },
                                [](TComponent& c, const TValue& v) {
                                  auto& img = static_cast<TImage&>(c);
                                  img.Load(v.AsString());
                                  img.PictureFile = v.AsString();
                                });
  image.methods["LOADFROMFILE"] = {{pkValue}, false, [](TComponent& c, TValue* a) {
                                     static_cast<TImage&>(c).Load(a[0].AsString());
                                     return TValue();
                                   }};
  RegisterComponentClass(std::move(image));
}

// ---- lists --------------------------------------------------------------------------------------

void RegisterLists() {
  TClassInfo list = Kind<TListBox>("TListBox", "TControl");
  list.props["ITEMS"] = Prop(
      [](TComponent& c) {
        auto* l = Wid<QListWidget>(c);
        return StringsObject(
            c, "ITEMS", [l] { return ListItems(l); },
            [l](const std::vector<std::string>& v) {
              l->clear();
              for (const auto& s : v) l->addItem(QString::fromStdString(s));
            });
      },
      [](TComponent& c, const TValue& v) {
        auto* l = Wid<QListWidget>(c);
        l->clear();
        for (const auto& s : SplitLines(v.AsString())) l->addItem(QString::fromStdString(s));
      });
  list.props["ITEMINDEX"] =
      Prop([](TComponent& c) { return I(Wid<QListWidget>(c)->currentRow()); },
           [](TComponent& c, const TValue& v) { Wid<QListWidget>(c)->setCurrentRow(v.AsInteger()); });
  list.props["SORTED"] = Prop([](TComponent& c) { return TValue(Wid<QListWidget>(c)->isSortingEnabled()); },
                              [](TComponent& c, const TValue& v) {
                                Wid<QListWidget>(c)->setSortingEnabled(v.AsBoolean());
                                if (v.AsBoolean()) Wid<QListWidget>(c)->sortItems();
                              });
  list.methods["CLEAR"] = {{pkNone}, false, [](TComponent& c, TValue*) {
                             Wid<QListWidget>(c)->clear();
                             return TValue();
                           }};
  RegisterComponentClass(std::move(list));

  TClassInfo combo = Kind<TComboBox>("TComboBox", "TControl");
  combo.props["ITEMS"] = Prop(
      [](TComponent& c) {
        auto* b = Wid<QComboBox>(c);
        return StringsObject(
            c, "ITEMS", [b] { return ComboItems(b); },
            [b](const std::vector<std::string>& v) {
              const QString text = b->currentText();
              b->clear();
              for (const auto& s : v) b->addItem(QString::fromStdString(s));
              if (b->isEditable()) b->setEditText(text);
            });
      },
      [](TComponent& c, const TValue& v) {
        auto* b = Wid<QComboBox>(c);
        const QString text = b->currentText();
        b->clear();
        for (const auto& s : SplitLines(v.AsString())) b->addItem(QString::fromStdString(s));
        if (b->isEditable()) b->setEditText(text);
      });
  combo.props["ITEMINDEX"] =
      Prop([](TComponent& c) { return I(Wid<QComboBox>(c)->currentIndex()); },
           [](TComponent& c, const TValue& v) { Wid<QComboBox>(c)->setCurrentIndex(v.AsInteger()); });
  combo.props["STYLE"] =
      Prop([](TComponent& c) { return TValue(Wid<QComboBox>(c)->isEditable() ? "csDropDown" : "csDropDownList"); },
           [](TComponent& c, const TValue& v) {
             Wid<QComboBox>(c)->setEditable(HalUpper(v.AsString()) != "CSDROPDOWNLIST");
           });
  combo.events["ONCHANGE"] = "TNotifyEvent";
  combo.methods["CLEAR"] = {{pkNone}, false, [](TComponent& c, TValue*) {
                              Wid<QComboBox>(c)->clear();
                              return TValue();
                            }};
  RegisterComponentClass(std::move(combo));
}

// ---- non-visual: the timer ----------------------------------------------------------------------

class TTimer : public TComponent {
 public:
  explicit TTimer(const TClassInfo& i) : TComponent(i) {
    m_timer.setInterval(1000);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { Fire("ONTIMER"); });
  }
  // starts once the form is loaded (a timer never fires into a half-built form)
  void Loaded() override { Apply(); }
  void SetEnabled(bool on) {
    m_enabled = on;
    if (m_loaded) Apply();
  }
  void SetInterval(int ms) {
    m_timer.setInterval(std::max(ms, 0));
    if (m_loaded) Apply();
  }
  bool Enabled() const { return m_enabled; }
  int Interval() const { return m_timer.interval(); }

 private:
  void Apply() {
    m_loaded = true;
    if (m_enabled && m_timer.interval() > 0)
      m_timer.start();
    else
      m_timer.stop();
  }
  QTimer m_timer;
  bool m_enabled = true, m_loaded = false;
};

void RegisterTimer() {
  TClassInfo t = Kind<TTimer>("TTimer", "TComponent");
  auto tm = [](TComponent& c) -> TTimer& { return static_cast<TTimer&>(c); };
  t.props["ENABLED"] = Prop([tm](TComponent& c) { return TValue(tm(c).Enabled()); },
                            [tm](TComponent& c, const TValue& v) { tm(c).SetEnabled(v.AsBoolean()); });
  t.props["INTERVAL"] = Prop([tm](TComponent& c) { return I(tm(c).Interval()); },
                             [tm](TComponent& c, const TValue& v) { tm(c).SetInterval(v.AsInteger()); });
  t.events["ONTIMER"] = "TNotifyEvent";
  RegisterComponentClass(std::move(t));
}

// ---- pages and grids ----------------------------------------------------------------------------

class TPageControl : public TWidgetControl<QTabWidget> {
 public:
  explicit TPageControl(const TClassInfo& i) : TWidgetControl(i) {
    QObject::connect(w(), &QTabWidget::currentChanged, w(), [this] { Fire("ONCHANGE"); });
  }
};

// A tab sheet is a page of the page control it is placed on.
class TTabSheet : public TWidgetControl<QWidget> {
 public:
  using TWidgetControl::TWidgetControl;
  std::string Caption() const override { return m_caption; }
  void SetCaption(const std::string& t) override {
    m_caption = t;
    if (auto* tabs = Tabs()) tabs->setTabText(tabs->indexOf(w()), QString::fromStdString(t));
  }
  void Loaded() override {
    // the page control's stack holds it from now on
    QWidget* holder = w()->parentWidget();
    auto* tabs = qobject_cast<QTabWidget*>(holder);
    if (!tabs) return;
    tabs->addTab(w(), QString::fromStdString(m_caption));
  }
  QTabWidget* Tabs() const {
    for (QWidget* p = w()->parentWidget(); p; p = p->parentWidget())
      if (auto* t = qobject_cast<QTabWidget*>(p)) return t;
    return nullptr;
  }
};

class TStringGrid : public TWidgetControl<QTableWidget> {
 public:
  explicit TStringGrid(const TClassInfo& i) : TWidgetControl(i) {
    w()->horizontalHeader()->hide();
    w()->verticalHeader()->hide();
    w()->setColumnCount(5);
    w()->setRowCount(5);
    SetDefaults(64, 24);
    QObject::connect(w(), &QTableWidget::cellClicked, w(), [this] { Fire("ONCLICK"); });
  }
  void SetDefaults(int colWidth, int rowHeight) {
    m_colWidth = colWidth;
    m_rowHeight = rowHeight;
    w()->horizontalHeader()->setDefaultSectionSize(colWidth);
    w()->verticalHeader()->setDefaultSectionSize(rowHeight);
  }
  void Shade() {
    // fixed rows and columns look like headers
    for (int r = 0; r < w()->rowCount(); ++r)
      for (int c = 0; c < w()->columnCount(); ++c) {
        QTableWidgetItem* it = Item(c, r);
        const bool fixed = r < FixedRows || c < FixedCols;
        it->setBackground(fixed ? w()->palette().button() : w()->palette().base());
        it->setFlags(fixed ? Qt::ItemIsEnabled : Qt::ItemIsEnabled | Qt::ItemIsSelectable);
      }
  }
  QTableWidgetItem* Item(int col, int row) {
    if (col < 0 || row < 0 || col >= w()->columnCount() || row >= w()->rowCount())
      throw ERunTimeError("Grid index out of range");
    QTableWidgetItem* it = w()->item(row, col);
    if (!it) {
      it = new QTableWidgetItem;
      w()->setItem(row, col, it);
    }
    return it;
  }
  void Loaded() override { Shade(); }
  int FixedRows = 1, FixedCols = 1, m_colWidth = 64, m_rowHeight = 24;
};

void RegisterPagesAndGrids() {
  TClassInfo pages = Kind<TPageControl>("TPageControl", "TControl", true);
  pages.props["ACTIVEPAGEINDEX"] =
      Prop([](TComponent& c) { return I(Wid<QTabWidget>(c)->currentIndex()); },
           [](TComponent& c, const TValue& v) { Wid<QTabWidget>(c)->setCurrentIndex(v.AsInteger()); });
  pages.props["PAGECOUNT"] = Prop([](TComponent& c) { return I(Wid<QTabWidget>(c)->count()); });
  // ActivePage: the sheet's name (form files write it so)
  pages.props["ACTIVEPAGE"] = Prop(
      [](TComponent& c) {
        QWidget* cur = Wid<QTabWidget>(c)->currentWidget();
        for (const auto& o : c.OwnerForm->Components)
          if (o->Widget() == cur) return o->ScriptHandle() ? ObjToVar(o->ScriptHandle()) : TValue();
        return ObjToVar(0);
      },
      [](TComponent& c, const TValue& v) {
        auto* tabs = Wid<QTabWidget>(c);
        TComponent* sheet = nullptr;
        if (v.IsString()) {
          sheet = c.OwnerForm->FindComponent(v.StrVal());
          if (!sheet) {
            // named in the form file before the sheet exists: chosen once everything is loaded
            const std::string name = v.StrVal();
            QTimer::singleShot(0, tabs, [tabs, form = c.OwnerForm, name] {
              if (TComponent* s = form->FindComponent(name)) tabs->setCurrentWidget(s->Widget());
            });
            return;
          }
        } else {
          sheet = ScriptObjectAs<TComponent>(VarToObj(v), "TTabSheet");
        }
        if (sheet->Widget()) tabs->setCurrentWidget(sheet->Widget());
      });
  pages.events["ONCHANGE"] = "TNotifyEvent";
  RegisterComponentClass(std::move(pages));

  TClassInfo sheet = Kind<TTabSheet>("TTabSheet", "TControl", true);
  sheet.props["PAGEINDEX"] = Prop([](TComponent& c) {
    auto* t = static_cast<TTabSheet&>(c).Tabs();
    return I(t ? t->indexOf(c.Widget()) : -1);
  });
  RegisterComponentClass(std::move(sheet));

  TClassInfo grid = Kind<TStringGrid>("TStringGrid", "TControl");
  auto g = [](TComponent& c) -> TStringGrid& { return static_cast<TStringGrid&>(c); };
  grid.props["COLCOUNT"] = Prop([g](TComponent& c) { return I(g(c).w()->columnCount()); },
                                [g](TComponent& c, const TValue& v) {
                                  g(c).w()->setColumnCount(std::clamp(v.AsInteger(), 1, 10000));
                                  g(c).Shade();
                                });
  grid.props["ROWCOUNT"] = Prop([g](TComponent& c) { return I(g(c).w()->rowCount()); },
                                [g](TComponent& c, const TValue& v) {
                                  g(c).w()->setRowCount(std::clamp(v.AsInteger(), 1, 100000));
                                  g(c).Shade();
                                });
  grid.props["FIXEDROWS"] = Prop([g](TComponent& c) { return I(g(c).FixedRows); },
                                 [g](TComponent& c, const TValue& v) {
                                   g(c).FixedRows = std::max(0, v.AsInteger());
                                   g(c).Shade();
                                 });
  grid.props["FIXEDCOLS"] = Prop([g](TComponent& c) { return I(g(c).FixedCols); },
                                 [g](TComponent& c, const TValue& v) {
                                   g(c).FixedCols = std::max(0, v.AsInteger());
                                   g(c).Shade();
                                 });
  grid.props["DEFAULTCOLWIDTH"] =
      Prop([g](TComponent& c) { return I(g(c).m_colWidth); },
           [g](TComponent& c, const TValue& v) { g(c).SetDefaults(v.AsInteger(), g(c).m_rowHeight); });
  grid.props["DEFAULTROWHEIGHT"] =
      Prop([g](TComponent& c) { return I(g(c).m_rowHeight); },
           [g](TComponent& c, const TValue& v) { g(c).SetDefaults(g(c).m_colWidth, v.AsInteger()); });
  grid.props["ROW"] = Prop([g](TComponent& c) { return I(g(c).w()->currentRow()); },
                           [g](TComponent& c, const TValue& v) {
                             g(c).w()->setCurrentCell(v.AsInteger(), std::max(0, g(c).w()->currentColumn()));
                           });
  grid.props["COL"] = Prop([g](TComponent& c) { return I(g(c).w()->currentColumn()); },
                           [g](TComponent& c, const TValue& v) {
                             g(c).w()->setCurrentCell(std::max(0, g(c).w()->currentRow()), v.AsInteger());
                           });
  RegisterComponentClass(std::move(grid));
}

// Cells[col, row] is an indexed property with two indexes.
void RegisterGridCells() {
  auto grid = [](TObjHandle self) -> TStringGrid& { return *ScriptObjectAs<TStringGrid>(self, "TStringGrid"); };
  AddArrayProp(
      "TSTRINGGRID.CELLS", 2,
      [grid](TObjHandle self, const std::string&, TValue* a, int) {
        TValue r;
        const int col = a[0].AsInteger(), row = a[1].AsInteger();
        OnGuiThread([&] { r = TValue(S(grid(self).Item(col, row)->text())); });
        return r;
      },
      [grid](TObjHandle self, const std::string&, TValue* a, int) {
        const int col = a[0].AsInteger(), row = a[1].AsInteger();
        const QString text = Q(a[2]);
        OnGuiThread([&] { grid(self).Item(col, row)->setText(text); });
        return TValue();
      });
}

// ---- dialogs placed on a form -------------------------------------------------------------------

// The form's script sees the dialog object (with the dialog classes' members), not the component.
class TDialogComponent : public TComponent {
 public:
  explicit TDialogComponent(const TClassInfo& i) : TComponent(i), m_dialog(NewDialogObject(i.name)) {}
  TObjHandle ScriptHandle() const override { return m_dialog ? m_dialog->Handle() : Handle(); }
  void LoadProp(const std::string& name, const TFormValue& v) override {
    // set as a script would: through the dialog class's setter (found up the class chain)
    std::string cls = HalUpper(Info().name);
    for (int guard = 0; guard < 16 && !cls.empty(); ++guard, cls = GetPearent(cls)) {
      const int i = Funs().IndexOf(cls + "." + HalUpper(name) + "_SET");
      if (i < 0) continue;
      TValue args[HAL_ARGS];
      args[0] = FormValueToValue(v);
      const TFunListItem& item = Funs().Item(i);
      if (!item.Style2) item.Handler(ScriptHandle(), item.MethodName, args, HAL_ARG_HIGH);
      return;
    }
    TComponent::LoadProp(name, v);
  }

 private:
  std::unique_ptr<TScriptObject> m_dialog;
};

void RegisterDialogComponents() {
  const std::pair<const char*, const char*> kDialogs[] = {
      {"TCommonDialog", "TComponent"},   {"TOpenDialog", "TCommonDialog"}, {"TSaveDialog", "TOpenDialog"},
      {"TColorDialog", "TCommonDialog"}, {"TFontDialog", "TCommonDialog"}, {"TPrinterSetupDialog", "TCommonDialog"},
      {"TPrintDialog", "TCommonDialog"}, {"TFindDialog", "TCommonDialog"}, {"TReplaceDialog", "TFindDialog"}};
  for (const auto& [name, parent] : kDialogs) RegisterComponentClass(Kind<TDialogComponent>(name, parent));
}

}  // namespace

void RegisterComponentKinds() {
  RegisterBases();
  RegisterForm();
  RegisterSimpleControls();
  RegisterLists();
  RegisterTimer();
  RegisterPagesAndGrids();
  RegisterGridCells();
  RegisterDialogComponents();
}
