// TLineList: uniform item sizes take one line's size for every line, so the sideways extent is kept
// here instead: the item delegate reports the widest line measured so far as every line's width.
#include "cuwindows/Linelist.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <algorithm>
#include <cmath>

class TLineList::TDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    // The item views keep this margin on either side of an item's text; less would elide the line.
    const QStyle* style = option.widget ? option.widget->style() : nullptr;
    const int margin = style ? style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, option.widget) + 1 : 3;
    size.setWidth(std::max(size.width(), widest + 2 * margin));
    return size;
  }
  int widest = 0;  // pixels of the widest line text seen
};

TLineList::TLineList(QWidget* parent) : QListWidget(parent), m_delegate(new TDelegate(this)) {
  setUniformItemSizes(true);
  setItemDelegate(m_delegate);
  m_reset = connect(model(), &QAbstractItemModel::modelReset, this, [this] {
    m_delegate->widest = 0;
    m_unmeasured = 0;
  });
}

// The model outlives this part of the list (it is a child of the view) and resets itself when it goes.
TLineList::~TLineList() { disconnect(m_reset); }

void TLineList::LinesChanged(int count) { m_unmeasured += count; }

void TLineList::MeasureChanged() {
  if (m_unmeasured <= 0) return;
  Measure(std::max(0, count() - m_unmeasured));
}

void TLineList::Measure(int first) {
  m_unmeasured = 0;
  const QFontMetricsF metrics(font());
  int widest = m_delegate->widest;
  for (int row = first; row < count(); ++row)
    widest = std::max(widest, static_cast<int>(std::ceil(metrics.horizontalAdvance(item(row)->text()))));
  if (widest == m_delegate->widest) return;
  m_delegate->widest = widest;
  scheduleDelayedItemsLayout();
}

void TLineList::ShowLast() {
  if (count() == 0) return;
  QScrollBar* sideways = horizontalScrollBar();
  const int x = sideways->value();
  scrollToItem(item(count() - 1), QAbstractItemView::PositionAtTop);
  sideways->setValue(x);
}

void TLineList::changeEvent(QEvent* event) {
  QListWidget::changeEvent(event);
  if (event->type() == QEvent::FontChange) {
    m_delegate->widest = 0;  // every line is as wide as the new font makes it
    Measure(0);
  }
}
