// TTimeForm: the "Time Calculation" dialog: converts instrument ticks (seconds since 1970) to a date.
#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

class TTimeForm : public QDialog {
  Q_OBJECT
 public:
  explicit TTimeForm(QWidget* parent = nullptr);
  void TicksToDate();
  QLineEdit* EditBox() const { return m_edit; }
  QPushButton* Button() const { return m_button; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLineEdit* m_edit;
  QPushButton* m_button;
};
