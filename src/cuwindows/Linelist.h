// TLineList: the text list of the CU windows and the events window: one line per item, uniform item
// sizes so that a flood of lines stays cheap, and a sideways extent that follows the widest line seen,
// so that every line can be read in full by scrolling sideways.
#pragma once

#include <QListWidget>

class TLineList : public QListWidget {
  Q_OBJECT
 public:
  explicit TLineList(QWidget* parent = nullptr);
  ~TLineList() override;

  // The last count lines were added or changed; MeasureChanged takes their widths later, so that lines
  // a flood trims before they are ever shown are never measured.
  void LinesChanged(int count);
  void MeasureChanged();
  // Scrolls so that the last line is at the top of the visible area (as far as the list allows) and
  // keeps the sideways position the user chose.
  void ShowLast();

 protected:
  void changeEvent(QEvent* event) override;

 private:
  class TDelegate;
  void Measure(int first);

  TDelegate* m_delegate;
  QMetaObject::Connection m_reset;  // "Clear" forgets the widest line
  int m_unmeasured = 0;
};
