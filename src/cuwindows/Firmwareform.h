// TFirmwareForm: the window of an "LD" CU: picks a firmware image, downloads it to the module and shows
// the loader's progress and status.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <mutex>

#include "cuwindows/Baseform.h"

class CFirmwareCuIO;
class QFileDialog;
class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class TFirmwareCuThread;
class TFirmwareStatusThread;
class TMainLink;

class TFirmwareForm : public TBaseForm {
  Q_OBJECT
 public:
  explicit TFirmwareForm(QWidget* parent = nullptr);
  ~TFirmwareForm() override;

  // Opens the LD channel on cu and the IN channel of the same module and starts polling the loader's
  // status; false (after the error box, with the window closing) when either cannot be opened.
  bool OpenCu(std::shared_ptr<CCuDesc> cu, TMainLink* mainWindow, const QString& title);
  // The connection is gone: the workers and channels go at once, the window stays with what it shows.
  void ReleaseCu() override;

  void BrowseClick();
  void DownloadClick();
  void ShowStatus(int phase, int code);
  void ShowProgress(uint32_t bytes);
  bool Downloading() const { return m_downloading; }

  QLineEdit* Edit1 = nullptr;
  QPushButton* Browse = nullptr;
  QFrame* StatusPanel = nullptr;
  QLabel* Status = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
  QPushButton* Download = nullptr;
  QFileDialog* OpenDialog = nullptr;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Finished(int result);
  void SetStatusLook(const QString* text, const QColor& back, const QColor& fore);
  void EndDownloadControls();
  void Teardown();
  void WriteLog(const QString& text);

  TMainLink* m_main = nullptr;
  bool m_downloading = false;
  bool m_opened = false;
  std::shared_ptr<CFirmwareCuIO> m_ld, m_in;
  std::shared_ptr<std::mutex> m_lock;  // shared by the two workers around each command and its reply
  std::unique_ptr<TFirmwareStatusThread> m_statusWorker;
  std::unique_ptr<TFirmwareCuThread> m_downloadWorker;
  int m_phase = -1, m_code = -1;  // the status shown; -1 so that the first one always shows
};
