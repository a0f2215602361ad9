// TInstScriptForm: the command line, its history and keys, starting a run, and the run's output.
#include "scripthost/Instscriptform.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "cuwindows/Mainlink.h"
#include "scriptlib/Arguments.h"
#include "scriptlib/InstrumentHost.h"

TInstScriptForm::TInstScriptForm(QWidget* parent) : TAsciiListForm(parent) {
  RegisterInstrumentLibraries();  // the first script window registers them; later ones find them there
  setObjectName("TInstScriptForm");
  setWindowTitle("Script");
  Panel1 = new QWidget(this);
  Panel1->setObjectName("Panel1");
  Panel1->setFixedHeight(31);
  Edit2 = new QLineEdit(Panel1);
  Edit2->setObjectName("Edit2");
  Browse = new QPushButton("...", Panel1);
  Browse->setObjectName("Browse");
  Browse->setFixedSize(26, 23);
  // The button's left edge at the panel's width - its width - 1, the edit 4 pixels before it.
  auto* row = new QHBoxLayout(Panel1);
  row->setContentsMargins(0, 4, 1, 4);
  row->setSpacing(4);
  row->addWidget(Edit2);
  row->addWidget(Browse);
  static_cast<QVBoxLayout*>(layout())->addWidget(Panel1);
  OpenDialog1 = new QFileDialog(this, "Open Script");
  OpenDialog1->setObjectName("OpenDialog1");
  OpenDialog1->setNameFilters({"Pascal Script (*.pas)", "All (*.*)"});
  OpenDialog1->setFileMode(QFileDialog::ExistingFile);
  Edit2->installEventFilter(this);
  List()->installEventFilter(this);
  setFocusProxy(Edit2);
  connect(Browse, &QPushButton::clicked, this, &TInstScriptForm::BrowseClick);
  // Clicking a line shows it whole as the list's hint and gives the command line the keyboard.
  connect(List(), &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
    List()->setToolTip(item->text());
    List()->setToolTipDuration(10000);
    Edit2->setFocus();
  });
}

TInstScriptForm::~TInstScriptForm() {
  // The run stops at its next look at the run state; calls it makes to this window meanwhile are
  // skipped (the thread's destructor tells it its host is gone) and it is waited for here.
  m_thread.reset();
}

void TInstScriptForm::Init(TMainLink* mainWindow, IInstrumentHost* host, const QString& caption) {
  m_mainWindow = mainWindow;
  m_instrument = host;
  SetMainLink(mainWindow);
  setWindowTitle(caption);
  Edit2->setFocus();
}

void TInstScriptForm::RunScript(const QString& commandLine, int closeWhenFinished) {
  const std::string line = commandLine.toLocal8Bit().toStdString();
  size_t pos = 0;
  std::string token;
  if (line.empty() || !ReadCommandToken(line, pos, token)) return;
  const std::string fileName = ScriptFileName(token);
  if (!CanOpenScriptFile(fileName)) {
    AddLine("Cannot open script file", 0);
    return;
  }
  setWindowTitle("Script - " + QString::fromLocal8Bit(fileName.c_str()));
  m_running = true;
  m_closeWhenFinished = closeWhenFinished;
  TScriptHost host;
  host.sink = this;
  host.mainThread = m_mainWindow ? &m_mainWindow->Dispatcher() : nullptr;
  host.instrument = m_instrument;
  m_thread.reset();  // a run that ended before: its worker has finished
  m_thread = std::make_unique<TInstrScriptThread>(host, fileName, SplitCommandLine(std::string_view(line).substr(pos)));
  m_thread->Start();
}

void TInstScriptForm::Abort() {
  if (m_thread && m_running) m_thread->Abort();
}

// ---- output ----

// Line breaks may be CR LF, LF or CR; the list splits at LF.
void TInstScriptForm::AddText(const std::string& text) {
  std::string lines;
  lines.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r')
      lines += text[i];
    else if (i + 1 >= text.size() || text[i + 1] != '\n')
      lines += '\n';
  }
  ShowData(lines.data(), static_cast<int>(lines.size()), 0);
}

void TInstScriptForm::ClearOutput() { List()->clear(); }

bool TInstScriptForm::OpenLogFile(const std::string& name, bool append) {
  return m_mainWindow && m_mainWindow->OpenLog(QString::fromLocal8Bit(name.c_str()), append);
}

void TInstScriptForm::CloseLogFile() {
  if (m_mainWindow) m_mainWindow->CloseLog();
}

void TInstScriptForm::ScriptFinished() {
  m_running = false;
  if (m_closeWhenFinished) (parentWidget() ? parentWidget() : static_cast<QWidget*>(this))->close();
}

// ---- keys, browsing, layout ----

void TInstScriptForm::EnterPressed() {
  const QString text = Edit2->text();
  AddLine(text, 0);
  if (m_history.isEmpty() || m_history.last() != text) {
    m_history.append(text);
    if (m_history.size() > kHistoryCapacity) m_history.removeFirst();
  }
  m_historyCursor = m_history.size();
  // The script's folder becomes the current one, so that it finds the files beside it.
  size_t pos = 0;
  std::string token;
  if (ReadCommandToken(text.toLocal8Bit().toStdString(), pos, token)) {
    const QString dir = QFileInfo(QString::fromLocal8Bit(token.c_str())).path();
    if (QFileInfo(dir).isAbsolute()) QDir::setCurrent(dir);
  }
  RunScript(text, 0);
  Edit2->clear();
}

void TInstScriptForm::ShowHistoryEntry(int step) {
  m_historyCursor += step;
  if (m_historyCursor < 0) m_historyCursor = m_history.size() - 1;
  if (m_historyCursor >= m_history.size()) m_historyCursor = 0;
  Edit2->setText(m_history.isEmpty() ? QString() : m_history[m_historyCursor]);
  Edit2->deselect();
  Edit2->end(false);
}

bool TInstScriptForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Edit2 && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (m_running) {  // while a script runs only Escape counts: it aborts the run
      if (key == Qt::Key_Escape) Abort();
      return key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Up ||
             key == Qt::Key_Down;
    }
    switch (key) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
        EnterPressed();
        return true;
      case Qt::Key_Escape:
        Edit2->clear();
        m_historyCursor = m_history.size();
        return true;
      case Qt::Key_Up:
        ShowHistoryEntry(-1);
        return true;
      case Qt::Key_Down:
        ShowHistoryEntry(+1);
        return true;
      default:
        break;
    }
  }
  if (watched == List() && event->type() == QEvent::FocusIn) Edit2->setFocus();
  return TAsciiListForm::eventFilter(watched, event);
}

void TInstScriptForm::BrowseClick() {
  if (!m_running && OpenDialog1->exec() == QDialog::Accepted && OpenDialog1->selectedFiles().size() == 1) {
    QString path = OpenDialog1->selectedFiles().first();
    if (path.contains(' ')) path = '"' + path + '"';
    Edit2->setText(path);
  }
  Edit2->setFocus();
}

void TInstScriptForm::ApplyFont(const QFont& font) {
  TAsciiListForm::ApplyFont(font);
  Edit2->setFont(font);
  Panel1->setFixedHeight(Edit2->sizeHint().height() + 8);
}

void TInstScriptForm::closeEvent(QCloseEvent* event) {
  Abort();  // the window goes at once; the run stops at its next look at the run state
  TAsciiListForm::closeEvent(event);
}
