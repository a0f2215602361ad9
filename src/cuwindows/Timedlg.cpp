// TTimeForm: "Ticks to Date" replaces the number in the field by its date and time.
#include "cuwindows/Timedlg.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "cuwindows/Instrtime.h"
#include "cuwindows/Msgbox.h"

namespace {
const char* const kRangeText = "Please enter an integer value between 0 and 2147483647";
}

TTimeForm::TTimeForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Time Calculation");
  m_edit = new QLineEdit(this);
  m_edit->setObjectName("EditBox");
  m_edit->setToolTip(kRangeText);
  m_edit->installEventFilter(this);
  m_button = new QPushButton("Ticks to Date", this);
  m_button->setAutoDefault(false);
  auto* row = new QHBoxLayout(this);
  row->addWidget(m_edit);
  row->addWidget(m_button);
  connect(m_button, &QPushButton::clicked, this, &TTimeForm::TicksToDate);
}

void TTimeForm::TicksToDate() {
  bool ok = false;
  const qlonglong value = m_edit->text().trimmed().toLongLong(&ok);
  if (!ok || value < 0 || value > 2147483647) {
    MorventMessage(this, TMsgKind::Warning, kRangeText);
    return;
  }
  m_edit->setText(FormatInstrumentTime(value));
}

bool TTimeForm::eventFilter(QObject* watched, QEvent* event) {
  // A click into the field selects its whole text (after the click has placed the caret).
  if (watched == m_edit && event->type() == QEvent::MouseButtonPress)
    QTimer::singleShot(0, m_edit, &QLineEdit::selectAll);
  return QDialog::eventFilter(watched, event);
}
