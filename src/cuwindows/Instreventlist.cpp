// TMasterEventList: a bounded list of instrument notices, also written to the log file.
#include "cuwindows/Instreventlist.h"

#include <QCloseEvent>
#include <QVBoxLayout>

#include "cuwindows/Asciilist.h"
#include "cuwindows/Mainlink.h"

TMasterEventList::TMasterEventList(QWidget* parent) : QWidget(parent) {
  setWindowTitle("Instrument Events");
  resize(608, 419);
  m_list = new TLineList(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(m_list);
}

void TMasterEventList::AddEventLine(const QString& text) {
  while (m_list->count() > TAsciiListForm::kMaxLines - 1) delete m_list->takeItem(0);
  m_list->addItem(text);
  m_list->LinesChanged(1);
  m_list->MeasureChanged();
  m_list->ShowLast();
  if (m_main) m_main->WriteLog(text);
}

void TMasterEventList::closeEvent(QCloseEvent* event) {
  if (m_main) m_main->EventsWindowClosed();
  m_main = nullptr;
  QWidget::closeEvent(event);
}
