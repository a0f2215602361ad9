// TAsciiListForm: the text-list CU window that most CU windows derive from (its own channel, a reader
// thread, a list of at most 501 lines with popup and log lines), and its reader TAsciiListCuThread.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "StandardApp/Zthread.h"
#include "cuwindows/Baseform.h"
#include "cuwindows/Linelist.h"

class CCuIoBase;
class CMainDispatcher;
class QAction;
class QMenu;
class QTimer;
class TAsciiListForm;
class TMainLink;

// Received messages back to back, each as Read left it (frame and terminating zero). Batches are reused,
// so that a flood costs no allocation per message.
struct TMessageBatch {
  std::vector<uint8_t> bytes;
  std::vector<size_t> ends;  // where each message ends in bytes
  size_t shown = 0;          // messages already handed to the window
  void Add(const uint8_t* p, size_t n) {
    bytes.insert(bytes.end(), p, p + n);
    ends.push_back(bytes.size());
  }
  size_t Count() const { return ends.size(); }
  bool Done() const { return shown == ends.size(); }
  void Clear() {
    bytes.clear();
    ends.clear();
    shown = 0;
  }
  void AppendUnshown(const TMessageBatch& other);
};

// Messages a reader has taken from its channel and not yet shown; shared between the reader thread and
// the calls it queues on the GUI thread, so that a call arriving after the window is gone does no harm.
struct TPendingMessages {
  std::mutex lock;
  std::condition_variable shown;     // signalled when the GUI thread took the handed batch
  TMessageBatch handed;              // handed over by the reader, not yet taken
  bool showing = false;              // the GUI thread has messages it has not shown yet
  TAsciiListForm* window = nullptr;  // GUI thread only; none once the window has let go
  TMessageBatch taken;               // GUI thread only: taken over, being shown

  // GUI thread: shows messages in arrival order until the time slice is used up; true when all are shown.
  bool ShowFor(std::chrono::nanoseconds slice);
  // GUI thread: takes the handed batch over once the taken one is shown; false when none was handed.
  bool TakeHanded();
  void ShowAll();  // GUI thread: hands every message to the window in arrival order
  // GUI thread: one turn of showing; queues the next turn while messages are left, else wakes the reader.
  static void Serve(const std::shared_ptr<TPendingMessages>& self, CMainDispatcher& dispatcher);
};

class TAsciiListCuThread : public CZThread {
 public:
  TAsciiListCuThread(TAsciiListForm* window, CCuIoBase* channel, CMainDispatcher& dispatcher);
  ~TAsciiListCuThread() override;
  const std::shared_ptr<TPendingMessages>& Pending() const { return m_pending; }

 protected:
  void Execute() override;
  void Wake() override;

 private:
  // Hands the batch to the GUI thread and waits until it is shown (or a stop is asked for).
  void HandOver(TMessageBatch& batch);

  CCuIoBase* m_channel;
  CMainDispatcher& m_dispatcher;
  std::shared_ptr<TPendingMessages> m_pending;
};

class TAsciiListForm : public TBaseForm {
  Q_OBJECT
 public:
  static constexpr int kMaxLines = 501;

  explicit TAsciiListForm(QWidget* parent = nullptr);
  ~TAsciiListForm() override;

  // Binds the window to cu through a new channel and starts reading; 1 on success, 0 when the CU
  // could not be opened (the window then closes itself).
  virtual int OpenCu(std::shared_ptr<CCuDesc> cu, TMainLink* mainWindow, bool viaCs, const QString& caption);
  // One received payload (fromCu 1) or text the program shows itself (fromCu 0).
  virtual void ShowData(const char* data, int length, int fromCu);
  virtual void LineChosen(const QString& text) { (void)text; }
  virtual void ExecuteLine(const QString& text) { (void)text; }
  void ApplyFont(const QFont& font) override;
  void ReleaseCu() override;

  void AddLine(const QString& text, int fromCu);
  void AppendToLastLine(const QString& text);
  // Between these, added lines are collected and go into the list together at the end (a batch of
  // received messages costs one list update, not one per line).
  void BeginLines() { ++m_batchDepth; }
  void EndLines();

  QListWidget* List() const { return ListBox1; }
  QMenu* Popup() const { return PopupMenu1; }
  CCuIoBase* Channel() const { return m_channel.get(); }
  bool ViaCs() const { return m_viaCs; }
  void CopySelected();
  void CopyAll();

  // Tests replace the channel the window creates (an empty function restores CCuIO / CCuIoSlave).
  using TChannelFactory = std::function<std::unique_ptr<CCuIoBase>(const std::shared_ptr<CCuDesc>&, bool viaCs)>;
  static TChannelFactory SetChannelFactory(TChannelFactory factory);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void WriteLog(const QString& text);
  QAction* ExecuteAction() const { return m_execute; }
  // For windows without a CU of their own (the script window): where their log lines go.
  void SetMainLink(TMainLink* mainWindow) { m_main = mainWindow; }

 private:
  void BuildPopup();
  void ShowPopup(const QPoint& pos);
  void ScheduleRefresh();
  void RefreshList();
  void FlushLines();
  const QString& LogPrefix();
  void StopReaders(bool showPending);
  void Shutdown();

  TLineList* ListBox1;
  QMenu* PopupMenu1;
  QAction* m_execute;
  QTimer* m_refresh;  // the delayed scroll and repaint while lines stream in
  QElapsedTimer m_sinceRefresh;
  QStringList m_newLines;  // added in the current batch, not yet in the list
  int m_batchDepth = 0;
  QString m_logPrefix;  // module type and ": " for lines from the CU
  const void* m_prefixFor = nullptr;
  bool m_prefixSet = false;
  TMainLink* m_main = nullptr;
  std::unique_ptr<CCuIoBase> m_channel;
  bool m_viaCs = false;
  bool m_closed = false;
  std::vector<std::unique_ptr<TAsciiListCuThread>> m_readers;
};

// Text of received bytes: one character per byte, so that nothing the instrument sends is lost.
inline QString BytesToText(const char* data, int length) { return QString::fromLatin1(data, length); }
