// TFirmwareForm: one LD and one IN channel for the window's life, a status worker polling the loader all
// along, and a download worker per download; the workers reach the window only through the dispatcher.
#include "cuwindows/Firmwareform.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "StandardApp/Cu.h"
#include "StandardApp/Firmware.h"
#include "cuwindows/Asciilist.h"
#include "cuwindows/Mainlink.h"
#include "cuwindows/Msgbox.h"

namespace {

constexpr int kHostOutcome = 100;
constexpr int kErrorPhase = 4;

}  // namespace

TFirmwareForm::TFirmwareForm(QWidget* parent) : TBaseForm(parent) {
  setWindowTitle("Load Firmware");
  setFixedSize(401, 244);  // the controls sit at fixed places in it
  auto* panel = new QFrame(this);
  panel->setObjectName("Panel1");
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(panel);

  Edit1 = new QLineEdit(panel);
  Edit1->setObjectName("Edit1");
  Edit1->setGeometry(32, 32, 273, 21);
  Browse = new QPushButton("Browse...", panel);
  Browse->setObjectName("Browse");
  Browse->setGeometry(312, 32, 57, 21);
  StatusPanel = new QFrame(panel);
  StatusPanel->setObjectName("StatusPanel");
  StatusPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  StatusPanel->setGeometry(32, 72, 337, 23);
  StatusPanel->setAutoFillBackground(true);
  Status = new QLabel(" Ready", StatusPanel);
  Status->setObjectName("Status");
  Status->setAlignment(Qt::AlignCenter);
  QFont bold = Status->font();
  bold.setBold(true);
  Status->setFont(bold);
  auto* statusLayout = new QVBoxLayout(StatusPanel);
  statusLayout->setContentsMargins(1, 1, 1, 1);
  statusLayout->addWidget(Status);
  ProgressBar1 = new QProgressBar(panel);
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setGeometry(32, 112, 337, 25);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  Download = new QPushButton("Download", panel);
  Download->setObjectName("Download");
  Download->setGeometry(160, 184, 99, 33);

  OpenDialog = new QFileDialog(this, "Open");
  OpenDialog->setObjectName("OpenDialog");
  OpenDialog->setNameFilters({"Firmware (*.dlb)", "All Files (*.*)"});
  OpenDialog->setDefaultSuffix("dlb");
  OpenDialog->setFileMode(QFileDialog::ExistingFile);

  connect(Browse, &QPushButton::clicked, this, &TFirmwareForm::BrowseClick);
  connect(Download, &QPushButton::clicked, this, &TFirmwareForm::DownloadClick);
}

TFirmwareForm::~TFirmwareForm() { Teardown(); }

bool TFirmwareForm::OpenCu(std::shared_ptr<CCuDesc> cu, TMainLink* mainWindow, const QString& title) {
  m_main = mainWindow;
  m_cu = cu;
  const CModule* module = cu ? cu->GetModule() : nullptr;
  const QString caption =
      module ? QString("%1 - %2 - %3")
                   .arg(BytesToText(module->GetModuleType(), -1), BytesToText(module->GetSerialNumber(), -1), title)
             : title;
  setWindowTitle(caption);
  WriteLog(QString("opened %1").arg(caption));
  m_ld = std::make_shared<CFirmwareCuIO>();
  m_in = std::make_shared<CFirmwareCuIO>();
  const int failed = OpenFirmwareChannels(cu, *m_ld, *m_in);
  if (failed != 0) {
    // Let go of everything before the message box runs its own event loop (a refresh in there may
    // close this window).
    if (m_ld->IsOpen()) m_ld->Close();
    m_ld.reset();
    m_in.reset();
    m_cu.reset();
    QPointer<QWidget> frame = parentWidget() ? parentWidget() : static_cast<QWidget*>(this);
    MorventMessage(this, TMsgKind::Error, failed == 1 ? "Cannot open LD CU" : "Cannot open IN CU");
    if (frame) frame->close();
    return false;
  }
  m_opened = true;
  m_lock = std::make_shared<std::mutex>();
  m_statusWorker = std::make_unique<TFirmwareStatusThread>(m_in, m_lock, m_main->Dispatcher(),
                                                           [this](int phase, int code) { ShowStatus(phase, code); });
  return true;
}

void TFirmwareForm::BrowseClick() {
  if (OpenDialog->exec() == QDialog::Accepted && OpenDialog->selectedFiles().size() == 1)
    Edit1->setText(OpenDialog->selectedFiles().first());
}

void TFirmwareForm::DownloadClick() {
  if (m_downloading) {
    if (m_downloadWorker) m_downloadWorker->Cancel();
    return;
  }
  if (!m_ld || !m_in) return;  // released: nothing to download to
  std::unique_ptr<CFirmwareFile> file = CFirmwareFile::Open(Edit1->text().toStdString());
  if (!file) {
    MorventMessage(this, TMsgKind::Error, "Cannot open firmware file");
    return;
  }
  // A range of 0..0 would turn the bar into a busy indicator; an empty file shows an empty bar.
  ProgressBar1->setRange(0, static_cast<int>(std::clamp<uint32_t>(file->Size(), 1, INT32_MAX)));
  ProgressBar1->setValue(0);
  Download->setText("Cancel");
  Browse->setEnabled(false);
  Edit1->setEnabled(false);
  m_downloading = true;
  ShowStatus(0, 0);
  m_downloadWorker = std::make_unique<TFirmwareCuThread>(
      m_in, m_ld, m_lock, std::move(file), m_main->Dispatcher(), [this](uint32_t bytes) { ShowProgress(bytes); },
      [this](int result) { Finished(result); });
}

void TFirmwareForm::ShowProgress(uint32_t bytes) {
  if (m_downloading) ProgressBar1->setValue(static_cast<int>(std::min<uint32_t>(bytes, INT32_MAX)));
}

void TFirmwareForm::SetStatusLook(const QString* text, const QColor& back, const QColor& fore) {
  QPalette palette = StatusPanel->palette();
  palette.setColor(QPalette::Window, back);
  palette.setColor(QPalette::WindowText, fore);
  StatusPanel->setPalette(palette);
  Status->setPalette(palette);
  if (text) Status->setText(*text);
}

void TFirmwareForm::ShowStatus(int phase, int code) {
  if (phase == m_phase && code == m_code) return;
  if (m_phase == kHostOutcome && phase != 0) return;  // a host outcome stays until the next "Ready"
  m_phase = phase;
  m_code = code;
  const QPalette standard = palette();
  switch (phase) {
    case 0:
    case 1:
    case 2:
    case 3: {
      static const QColor kBack[] = {QColor(), QColor(0, 255, 0), QColor(255, 255, 0), QColor(0, 0, 255)};
      const QString text = QString::fromLatin1(FirmwareStatusText(phase, code));
      SetStatusLook(&text, phase == 0 ? standard.color(QPalette::Button) : kBack[phase],
                    phase == 3 ? QColor(Qt::white) : standard.color(QPalette::ButtonText));
      break;
    }
    case kErrorPhase:
    case kHostOutcome: {
      if (m_downloading && m_downloadWorker) m_downloadWorker->Cancel();
      const char* known = FirmwareStatusText(phase, code);
      const QString text = known ? QString::fromLatin1(known) : QString();
      SetStatusLook(known ? &text : nullptr, QColor(255, 0, 0), Qt::white);  // unknown codes keep the old text
      break;
    }
    default:
      break;  // phases the loader does not have: remembered, nothing shown
  }
}

void TFirmwareForm::EndDownloadControls() {
  m_downloading = false;
  Download->setText("Download");
  Browse->setEnabled(true);
  Edit1->setEnabled(true);
  ProgressBar1->setValue(0);
}

void TFirmwareForm::Finished(int result) {
  EndDownloadControls();
  // The worker is still inside this call: it is joined a moment later, once it has returned.
  if (m_downloadWorker) {
    auto* done = m_downloadWorker.release();
    QTimer::singleShot(0, [done] { delete done; });
  }
  if (result == kFirmwareCancelled && m_phase != kErrorPhase)
    ShowStatus(kHostOutcome, 2);
  else if (result == kFirmwareCommError)
    ShowStatus(kHostOutcome, 1);
}

void TFirmwareForm::ReleaseCu() {
  const bool wasDownloading = m_downloading;
  // Terminated workers stop within a moment (their waits are cut short) and call nothing more.
  if (m_statusWorker) m_statusWorker->Terminate();
  if (m_downloadWorker) m_downloadWorker->Terminate();
  m_statusWorker.reset();
  m_downloadWorker.reset();
  if (m_in) m_in->Close();
  m_in.reset();
  if (m_ld) m_ld->Close();
  m_ld.reset();
  m_lock.reset();
  if (wasDownloading) {
    EndDownloadControls();
    ShowStatus(kHostOutcome, 1);
  }
  // Without channels there is nothing to download to.
  Download->setEnabled(false);
  Browse->setEnabled(false);
  Edit1->setEnabled(false);
  TBaseForm::ReleaseCu();
}

void TFirmwareForm::Teardown() {
  if (m_downloadWorker) {
    m_downloadWorker->Terminate();
    m_downloadWorker.reset();
  }
  if (m_ld) m_ld->Close();
  m_ld.reset();
  if (m_statusWorker) {
    m_statusWorker->Terminate();
    m_statusWorker.reset();
  }
  if (m_in) m_in->Close();
  m_in.reset();
  m_lock.reset();
  m_downloading = false;
}

void TFirmwareForm::closeEvent(QCloseEvent* event) {
  if (m_downloading) {  // the user cancels first
    event->ignore();
    return;
  }
  if (m_opened) WriteLog(QString("closed %1").arg(windowTitle()));
  m_opened = false;
  Teardown();
  TBaseForm::closeEvent(event);
}

void TFirmwareForm::WriteLog(const QString& text) {
  if (m_main) m_main->WriteLog(text);
}
