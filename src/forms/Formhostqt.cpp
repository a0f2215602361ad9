// Script forms and the standard dialogs shown with Qt, each modal run under the watchdog's pause.
#include "forms/Formhostqt.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <cstdio>

#include "forms/Formform.h"
#include "forms/Formwatch.h"
#include "script/HalComp.h"
#include "scriptlib/Instscript.h"

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

QWidget* DialogParent() { return QApplication::activeWindow(); }

}  // namespace

std::string QtFilterFromDialogFilter(const std::string& filter) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t bar; (bar = filter.find('|', start)) != std::string::npos; start = bar + 1)
    parts.push_back(filter.substr(start, bar - start));
  parts.push_back(filter.substr(start));
  std::string out;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    std::string patterns = parts[i + 1];
    for (char& c : patterns)
      if (c == ';') c = ' ';
    out += (out.empty() ? "" : ";;") + parts[i] + " (" + patterns + ")";
  }
  return out;
}

TQtFormHost::TQtFormHost() {
  RegisterFormComponents();
  StartHandlerWatchdog();
  SetFormHost(this);
  SetHalMessageBox([](const std::string& text) {
    auto box = [&text] {
      TModalPause pause;
      QMessageBox::information(DialogParent(), QApplication::applicationName(), Q(text));
    };
    // boxes belong to the GUI thread: a script thread waits for it, other threads write the trace
    TInstrScriptThread* run = TInstrScriptThread::Current();
    if (QThread::currentThread() == QCoreApplication::instance()->thread())
      box();
    else if (!run || !run->CallMain(box))
      std::fprintf(stderr, "%s\n", text.c_str());
  });
}

TQtFormHost::~TQtFormHost() {
  if (FormHost() == this) SetFormHost(nullptr);
  SetHalMessageBox(nullptr);
  TFormList::Instance().CloseAll();
  StopHandlerWatchdog();
}

void TQtFormHost::RunForm(const std::string& file) { ::RunForm(file); }

int TQtFormHost::RunFormModal(const std::string& file) {
  TModalPause pause;
  return ::RunFormModal(file);
}

void TQtFormHost::ShowMessage(const std::string& text) {
  TModalPause pause;
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), Q(text), QMessageBox::Ok, DialogParent());
  box.exec();
}

int TQtFormHost::MessageDlg(const std::string& text, int type, unsigned buttons, int x, int y) {
  static const char* const kTitles[] = {"Warning", "Error", "Information", "Confirmation"};
  static const QMessageBox::Icon kIcons[] = {QMessageBox::Warning, QMessageBox::Critical, QMessageBox::Information,
                                             QMessageBox::Question};
  const bool known = type >= 0 && type < 4;
  QMessageBox box(known ? kIcons[type] : QMessageBox::NoIcon, known ? kTitles[type] : QApplication::applicationName(),
                  Q(text), QMessageBox::NoButton, DialogParent());
  // button ordinal -> (button, result code)
  const struct {
    int ordinal;
    QMessageBox::StandardButton button;
    int result;
  } kButtons[] = {{0, QMessageBox::Yes, 6},    {1, QMessageBox::No, 7},       {2, QMessageBox::Ok, 1},
                  {3, QMessageBox::Cancel, 2}, {4, QMessageBox::Abort, 3},    {5, QMessageBox::Retry, 4},
                  {6, QMessageBox::Ignore, 5}, {7, QMessageBox::YesToAll, 8}, {10, QMessageBox::Help, 0}};
  for (const auto& b : kButtons)
    if (buttons & (1u << b.ordinal)) box.addButton(b.button);
  if (buttons == 0) box.addButton(QMessageBox::Ok);
  if (x >= 0 && y >= 0) box.move(x, y);
  TModalPause pause;
  box.exec();
  const auto pressed = box.standardButton(box.clickedButton());
  for (const auto& b : kButtons)
    if (b.button == pressed) return b.result;
  return 2;  // closed without a button: cancelled
}

bool TQtFormHost::InputQuery(const std::string& caption, const std::string& prompt, std::string& value) {
  QInputDialog dlg(DialogParent());
  dlg.setWindowTitle(Q(caption));
  dlg.setLabelText(Q(prompt));
  dlg.setTextValue(Q(value));
  TModalPause pause;
  if (dlg.exec() != QDialog::Accepted) return false;
  value = dlg.textValue().toStdString();
  return true;
}

bool TQtFormHost::FileDialog(TFileDialogData& d, bool save) {
  QFileDialog dlg(DialogParent(), Q(d.title), Q(d.initialDir), Q(QtFilterFromDialogFilter(d.filter)));
  dlg.setOption(QFileDialog::DontUseNativeDialog);
  dlg.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dlg.setFileMode(save ? QFileDialog::AnyFile : d.multiSelect ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
  if (!d.defaultExt.empty()) dlg.setDefaultSuffix(Q(d.defaultExt));
  if (!d.fileName.empty()) dlg.selectFile(Q(d.fileName));
  const QStringList filters = dlg.nameFilters();
  if (d.filterIndex >= 1 && d.filterIndex <= filters.size()) dlg.selectNameFilter(filters[d.filterIndex - 1]);
  TModalPause pause;
  if (dlg.exec() != QDialog::Accepted) return false;
  d.files.clear();
  for (const QString& f : dlg.selectedFiles()) d.files.push_back(f.toStdString());
  if (d.files.empty()) return false;  // nothing chosen is no confirmation
  d.fileName = d.files.empty() ? std::string() : d.files.front();
  d.filterIndex = static_cast<int>(dlg.nameFilters().indexOf(dlg.selectedNameFilter())) + 1;
  return true;
}

bool TQtFormHost::FindDialog(TFindDialogData& d) {
  QDialog dlg(DialogParent());
  dlg.setWindowTitle(d.replace ? "Replace" : "Find");
  auto* form = new QFormLayout(&dlg);
  auto* find = new QLineEdit(Q(d.findText), &dlg);
  find->setObjectName("FindText");
  form->addRow("Find what:", find);
  QLineEdit* replace = nullptr;
  if (d.replace) {
    replace = new QLineEdit(Q(d.replaceText), &dlg);
    replace->setObjectName("ReplaceText");
    form->addRow("Replace with:", replace);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
  form->addRow(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
  if (d.left >= 0 && d.top >= 0) dlg.move(d.left, d.top);
  TModalPause pause;
  if (dlg.exec() != QDialog::Accepted) return false;
  d.findText = find->text().toStdString();
  if (replace) d.replaceText = replace->text().toStdString();
  return true;
}
