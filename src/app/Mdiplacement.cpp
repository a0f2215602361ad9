// TMainForm: where the MDI children go: a new window and the windows of Window > Cascade stay inside the
// visible part of the MDI area at a usable size, and every child's normal geometry is kept for the
// layouts while it is minimized or maximized.
#include "app/Mainform.h"

#include <QEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QVariant>
#include <algorithm>

namespace {

const char* const kNormalGeometry = "morventNormalGeometry";

bool IsNormal(const QMdiSubWindow* sub) { return !(sub->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized)); }

// One step of the staircase: a title bar's height, so that every caption stays readable.
int CascadeStep(const QMdiSubWindow* sub) {
  return std::max(sub->contentsMargins().top(), sub->fontMetrics().height());
}

}  // namespace

QRect TMainForm::NormalGeometry(const QMdiSubWindow* sub) {
  const QVariant kept = sub->property(kNormalGeometry);
  return IsNormal(sub) || !kept.isValid() ? sub->geometry() : kept.toRect();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Move || event->type() == QEvent::Resize)
    if (auto* sub = qobject_cast<QMdiSubWindow*>(watched); sub && IsNormal(sub))
      sub->setProperty(kNormalGeometry, sub->geometry());
  return QMainWindow::eventFilter(watched, event);
}

// Below and right of the newest other normal window by one title bar, or at the top left when the window
// would not fit there; never larger than the visible area.
void TMainForm::PlaceNewChild(QMdiSubWindow* sub) {
  sub->installEventFilter(this);
  const QRect area = m_mdi->viewport()->rect();
  if (!IsNormal(sub) || area.isEmpty()) return;
  QPoint pos = area.topLeft();
  const QList<QMdiSubWindow*> children = Children();
  for (auto it = children.rbegin(); it != children.rend(); ++it)
    if (*it != sub && IsNormal(*it)) {
      pos = (*it)->pos() + QPoint(CascadeStep(*it), CascadeStep(*it));
      break;
    }
  const QSize size = sub->size().boundedTo(area.size());
  if (!area.contains(QRect(pos, size))) pos = area.topLeft();
  sub->setGeometry(QRect(pos, size));
}

// Minimized windows stay where they are; the others keep their stacking order, so the active window ends
// on top. The windows are made as small as the whole staircase needs to fit, but not smaller than half the
// area: beyond that a new staircase starts at the top left.
void TMainForm::CascadeChildren() {
  QList<QMdiSubWindow*> windows;
  for (QMdiSubWindow* sub : m_mdi->subWindowList(QMdiArea::StackingOrder)) {
    if (sub->isHidden() || sub->isMinimized()) continue;
    if (sub->isMaximized()) sub->showNormal();
    windows << sub;
  }
  if (windows.isEmpty()) return;
  const QRect area = m_mdi->viewport()->rect();
  const int step = CascadeStep(windows.first());
  const int reach = step * static_cast<int>(windows.size() - 1);
  const QSize largest = (area.size() - QSize(reach, reach)).expandedTo(area.size() / 2);
  QPoint pos = area.topLeft();
  for (QMdiSubWindow* sub : windows) {
    const QSize size = sub->size().boundedTo(largest);
    if (!area.contains(QRect(pos, size))) pos = area.topLeft();
    sub->setGeometry(QRect(pos, size));
    sub->raise();
    pos += QPoint(step, step);
  }
}
