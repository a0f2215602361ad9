// TInReplyForm: sending typed instructions, history recall with the arrow keys, and release.
#include "cuwindows/Inreply.h"

#include <QAction>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QVBoxLayout>

#include "StandardApp/Cu.h"

TInReplyForm::TInReplyForm(QWidget* parent) : TAsciiListForm(parent) {
  setWindowTitle("InReply");
  Panel1 = new QWidget(this);
  Panel1->setObjectName("Panel1");
  Panel1->setFixedHeight(31);
  Edit2 = new QLineEdit(Panel1);
  Edit2->setObjectName("Edit2");
  Button1 = new QPushButton("Go", Panel1);
  Button1->setObjectName("Button1");
  Button1->setFixedSize(26, 23);
  auto* row = new QHBoxLayout(Panel1);
  row->setContentsMargins(0, 4, 1, 4);
  row->setSpacing(4);
  row->addWidget(Edit2);
  row->addWidget(Button1);
  static_cast<QVBoxLayout*>(layout())->addWidget(Panel1);
  Edit2->installEventFilter(this);
  setFocusProxy(Edit2);
  ExecuteAction()->setEnabled(true);
  connect(Button1, &QPushButton::clicked, this, [this] {
    SendInput();
    FocusInput();
  });
}

void TInReplyForm::FocusInput() {
  if (Edit2->isEnabled()) Edit2->setFocus();
}

void TInReplyForm::SendInput() {
  const QString text = Edit2->text();
  if (text.isEmpty()) return;
  Edit2->clear();
  AddLine(text, 1);
  if (m_history.isEmpty() || m_history.last() != text) {
    m_history.append(text);
    if (m_history.size() > historyLimit) m_history.removeFirst();
  }
  m_historyIndex = m_history.size();
  QByteArray line = text.toLatin1();
  BeforeSend(line);
  if (Channel()) Channel()->Write(line.constData(), line.size());  // a failed write is not reported
}

void TInReplyForm::Recall(int step) {
  m_historyIndex += step;
  if (m_historyIndex < 0) m_historyIndex = m_history.size() - 1;
  if (m_historyIndex >= m_history.size()) m_historyIndex = 0;
  Edit2->setText(m_history.isEmpty() ? QString() : m_history[m_historyIndex]);
  Edit2->end(false);
}

// The MDI frame hands the focus to the first child that takes it (the list) or to the one that had it last;
// the input line is where typing belongs, so the window takes it there whenever its frame becomes active.
bool TInReplyForm::event(QEvent* event) {
  if (event->type() == QEvent::ParentChange)
    if (auto* frame = qobject_cast<QMdiSubWindow*>(parentWidget()))
      connect(frame, &QMdiSubWindow::windowStateChanged, this, &TInReplyForm::FrameStateChanged, Qt::UniqueConnection);
  return TAsciiListForm::event(event);
}

void TInReplyForm::FrameStateChanged(Qt::WindowStates oldState, Qt::WindowStates newState) {
  if (!(newState & Qt::WindowActive) || (oldState & Qt::WindowActive)) return;
  // A click into the list activates the window too: the list keeps the focus the click gave it.
  if (m_listClicked && List()->hasFocus()) return;
  FocusInput();
}

bool TInReplyForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == List() && event->type() == QEvent::FocusIn)
    m_listClicked = static_cast<QFocusEvent*>(event)->reason() == Qt::MouseFocusReason;
  if (watched == Edit2 && event->type() == QEvent::KeyPress) {
    switch (static_cast<QKeyEvent*>(event)->key()) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
        SendInput();
        return true;
      case Qt::Key_Escape:
        Edit2->clear();
        m_historyIndex = m_history.size();
        return true;
      case Qt::Key_Up:
        Recall(-1);
        return true;
      case Qt::Key_Down:
        Recall(+1);
        return true;
      default:
        break;
    }
  }
  return TAsciiListForm::eventFilter(watched, event);
}

void TInReplyForm::LineChosen(const QString& text) {
  Edit2->setText(text);
  FocusInput();
}

void TInReplyForm::ExecuteLine(const QString& text) {
  if (!Edit2->isEnabled()) return;  // released: nothing may be written
  Edit2->setText(text);
  SendInput();
  FocusInput();
}

void TInReplyForm::ApplyFont(const QFont& font) {
  TAsciiListForm::ApplyFont(font);
  Edit2->setFont(font);
  Panel1->setFixedHeight(Edit2->sizeHint().height() + 8);
}

void TInReplyForm::ReleaseCu() {
  Edit2->setEnabled(false);
  Button1->setEnabled(false);
  ExecuteAction()->setEnabled(false);
  TAsciiListForm::ReleaseCu();
}
