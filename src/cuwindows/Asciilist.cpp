// TAsciiListForm and TAsciiListCuThread: binding a window to its CU, the reader thread that hands
// messages to the GUI thread, the bounded list, its popup and the log lines.
#include "cuwindows/Asciilist.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>

#include "StandardApp/Cu.h"
#include "StandardApp/Mainthread.h"
#include "StandardApp/Tracer.h"
#include "cuwindows/Linelist.h"
#include "cuwindows/Mainlink.h"
#include "cuwindows/Msgbox.h"

namespace {

constexpr unsigned kReadWaitMs = 200;
constexpr size_t kMaxBatch = 512;              // messages handed to the GUI thread in one call at most
constexpr size_t kMaxBatchBytes = 256 * 1024;  // ... and bytes
constexpr qint64 kRefreshMs = 40;              // while lines stream in, the list scrolls and repaints this often
// Showing a large batch is cut into turns of this length, so that the event loop (painting, input,
// timers) runs in between.
constexpr std::chrono::milliseconds kShowSlice{8};
constexpr std::chrono::milliseconds kHandOverPoll{20};
// A reader that has a message gathers what follows within this time into the same batch.
constexpr std::chrono::milliseconds kGather{2};  // how often a waiting reader looks for a stop

TAsciiListForm::TChannelFactory& Factory() {
  static TAsciiListForm::TChannelFactory factory;
  return factory;
}

}  // namespace

// ---- pending messages and the reader thread ----

void TMessageBatch::AppendUnshown(const TMessageBatch& other) {
  for (size_t i = other.shown; i < other.Count(); ++i) {
    const size_t begin = i ? other.ends[i - 1] : 0;
    Add(other.bytes.data() + begin, other.ends[i] - begin);
  }
}

bool TPendingMessages::TakeHanded() {
  {
    std::lock_guard<std::mutex> guard(lock);
    if (handed.Done()) return false;
    taken.Clear();
    std::swap(taken, handed);  // the reader gets the emptied batch back for its next messages
  }
  shown.notify_all();  // room for the reader's next batch
  return true;
}

bool TPendingMessages::ShowFor(std::chrono::nanoseconds slice) {
  const auto start = std::chrono::steady_clock::now();
  if (taken.Done()) TakeHanded();
  TAsciiListForm* shownIn = window;
  if (!shownIn) {  // the window let go: nothing more is shown
    taken.Clear();
    return true;
  }
  shownIn->BeginLines();
  size_t work = 0;
  while (window && (!taken.Done() || TakeHanded())) {
    const size_t begin = taken.shown ? taken.ends[taken.shown - 1] : 0;
    const size_t size = taken.ends[taken.shown] - begin;
    const uint8_t* b = taken.bytes.data() + begin;
    ++taken.shown;
    const int len = size >= 2 ? (b[0] << 8) | b[1] : -1;
    // Frames that came through the CS CU still carry the slave socket in front of the slave's data.
    const int skip = Z_HEADER_LEN + (window->ViaCs() ? 2 : 0);
    if (len >= skip && len <= static_cast<int>(size) - 1)
      window->ShowData(reinterpret_cast<const char*>(b) + skip, len - skip, 1);
    // The clock is read after every few KiB of text: per message it would cost as much as a short line.
    work += size + 64;
    if (work >= 4096) {
      work = 0;
      if (std::chrono::steady_clock::now() - start >= slice) break;
    }
  }
  shownIn->EndLines();
  if (!window) taken.Clear();
  return taken.Done();
}

void TPendingMessages::ShowAll() { ShowFor(std::chrono::nanoseconds::max()); }

void TPendingMessages::Serve(const std::shared_ptr<TPendingMessages>& self, CMainDispatcher& dispatcher) {
  if (!self->ShowFor(kShowSlice)) {
    dispatcher.Post([self, &dispatcher] { Serve(self, dispatcher); });  // the rest in the next turn
    return;
  }
  {
    std::lock_guard<std::mutex> guard(self->lock);
    if (!self->handed.Done()) {  // handed over meanwhile: the next turn shows it
      dispatcher.Post([self, &dispatcher] { Serve(self, dispatcher); });
      return;
    }
    self->showing = false;
  }
  self->shown.notify_all();
}

TAsciiListCuThread::TAsciiListCuThread(TAsciiListForm* window, CCuIoBase* channel, CMainDispatcher& dispatcher)
    : m_channel(channel), m_dispatcher(dispatcher), m_pending(std::make_shared<TPendingMessages>()) {
  m_pending->window = window;
}

TAsciiListCuThread::~TAsciiListCuThread() { Stop(); }

void TAsciiListCuThread::Wake() {
  m_channel->WakeReader();
  {
    std::lock_guard<std::mutex> guard(m_pending->lock);  // no wake lost between a check and a wait
  }
  m_pending->shown.notify_all();
}

void TAsciiListCuThread::Execute() {
  try {
    std::vector<uint8_t> buffer(Z_READ_BUFFER);
    TMessageBatch batch;
    auto take = [&](int length) {
      if (length > 0 && length <= static_cast<int>(buffer.size()))
        batch.Add(buffer.data(), static_cast<size_t>(length));
    };
    while (!Terminated()) {
      int length = Z_READ_BUFFER;
      const int result = m_channel->Read(buffer.data(), &length, kReadWaitMs);
      if (result != Z_OK) continue;  // nothing yet, or a failure: read again (the loop sees a stop)
      take(length);
      // Messages already waiting join the same call: a flood costs one GUI round trip per batch.
      while (batch.Count() < kMaxBatch && batch.bytes.size() < kMaxBatchBytes && !Terminated()) {
        length = Z_READ_BUFFER;
        if (m_channel->Read(buffer.data(), &length, 0) != Z_OK) break;
        take(length);
      }
      HandOver(batch);
    }
  } catch (const std::exception& e) {
    // The window stays open and shows nothing more; the trace says why.
    Tracer().Trace(1, "TAsciiListCuThread::Execute", "CU reader stopped: %s", e.what());
  } catch (...) {
    Tracer().Trace(1, "TAsciiListCuThread::Execute", "CU reader stopped by an unknown exception");
  }
}

void TAsciiListCuThread::HandOver(TMessageBatch& batch) {
  std::unique_lock<std::mutex> guard(m_pending->lock);
  // The GUI thread shows one batch while we gather the next; one more waits until it takes it. Given up
  // once a stop was asked for: the window then shows what is left itself, or drops it.
  while (!m_pending->handed.Done() && !Terminated()) m_pending->shown.wait_for(guard, kHandOverPoll);
  if (m_pending->handed.Done()) {
    m_pending->handed.Clear();
    std::swap(m_pending->handed, batch);  // no copy; we get the emptied batch back
  } else {
    m_pending->handed.AppendUnshown(batch);
  }
  batch.Clear();
  if (!m_pending->showing) {
    m_pending->showing = true;
    std::shared_ptr<TPendingMessages> pending = m_pending;
    CMainDispatcher& dispatcher = m_dispatcher;
    guard.unlock();
    m_dispatcher.Post([pending, &dispatcher] { TPendingMessages::Serve(pending, dispatcher); });
  }
}

// ---- the window ----

TAsciiListForm::TChannelFactory TAsciiListForm::SetChannelFactory(TChannelFactory factory) {
  TChannelFactory old = std::move(Factory());
  Factory() = std::move(factory);
  return old;
}

TAsciiListForm::TAsciiListForm(QWidget* parent) : TBaseForm(parent) {
  setWindowTitle("AsciiList");
  resize(524, 374);
  ListBox1 = new TLineList(this);
  ListBox1->setObjectName("ListBox1");
  ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
  ListBox1->setContextMenuPolicy(Qt::CustomContextMenu);
  ListBox1->installEventFilter(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(ListBox1);
  BuildPopup();
  m_refresh = new QTimer(this);
  m_refresh->setSingleShot(true);
  connect(m_refresh, &QTimer::timeout, this, &TAsciiListForm::RefreshList);
  connect(ListBox1, &QListWidget::customContextMenuRequested, this, &TAsciiListForm::ShowPopup);
  connect(ListBox1, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
    ListBox1->setToolTip(item->text());
    ListBox1->setToolTipDuration(10000);  // long lines can be read in the tooltip
  });
  connect(ListBox1, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) { LineChosen(item->text()); });
}

TAsciiListForm::~TAsciiListForm() { Shutdown(); }

void TAsciiListForm::BuildPopup() {
  PopupMenu1 = new QMenu(this);
  m_execute = PopupMenu1->addAction("Execute", this, [this] {
    QListWidgetItem* item = ListBox1->currentItem();
    ExecuteLine(item && item->isSelected() ? item->text() : QString());
  });
  m_execute->setEnabled(false);
  PopupMenu1->addSeparator();
  PopupMenu1->addAction("Copy", this, &TAsciiListForm::CopySelected);
  PopupMenu1->addAction("CopyAll", this, &TAsciiListForm::CopyAll);
  PopupMenu1->addSeparator();
  PopupMenu1->addAction("Clear", ListBox1, &QListWidget::clear);
}

void TAsciiListForm::ShowPopup(const QPoint& pos) {
  QListWidgetItem* item = ListBox1->itemAt(pos);
  if (item)
    ListBox1->setCurrentItem(item);
  else
    ListBox1->clearSelection();
  PopupMenu1->popup(ListBox1->viewport()->mapToGlobal(pos));
}

bool TAsciiListForm::eventFilter(QObject* watched, QEvent* event) {
  // The selection goes when the list loses the focus (its own popup does not count).
  if (watched == ListBox1 && event->type() == QEvent::FocusOut &&
      static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason)
    ListBox1->clearSelection();
  return TBaseForm::eventFilter(watched, event);
}

void TAsciiListForm::CopySelected() {
  QListWidgetItem* item = ListBox1->currentItem();
  if (item && item->isSelected()) QApplication::clipboard()->setText(item->text());
}

void TAsciiListForm::CopyAll() {
  QString all;
  for (int i = 0; i < ListBox1->count(); ++i) all += ListBox1->item(i)->text() + "\r\n";
  QApplication::clipboard()->setText(all);
}

int TAsciiListForm::OpenCu(std::shared_ptr<CCuDesc> cu, TMainLink* mainWindow, bool viaCs, const QString& caption) {
  m_viaCs = viaCs;
  m_cu = cu;
  m_main = mainWindow;
  if (Factory())
    m_channel = Factory()(cu, viaCs);
  else if (viaCs)
    m_channel = std::make_unique<CCuIoSlave>();
  else
    m_channel = std::make_unique<CCuIO>();
  if (m_channel) m_channel->SetDesc(cu);
  if (!m_channel || m_channel->Open() == 0) {
    // Let go of the CU before the message box runs its own event loop: a refresh in there must not
    // take this half-opened window for one of its module's windows and close it under our feet.
    m_channel.reset();  // never opened: nothing to close
    m_cu.reset();
    QPointer<QWidget> frame = parentWidget() ? parentWidget() : static_cast<QWidget*>(this);
    MorventMessage(this, TMsgKind::Error, "Cannot open CU");
    if (frame) frame->close();
    return 0;
  }
  const CModule* module = cu ? cu->GetModule() : nullptr;
  QString title =
      module ? QString("%1 - %2 - %3")
                   .arg(BytesToText(module->GetModuleType(), -1), BytesToText(module->GetSerialNumber(), -1), caption)
             : caption;
  if (viaCs) title += " - via CAP CS-CU";
  setWindowTitle(title);
  WriteLog(QString("opened %1").arg(title));
  m_readers.push_back(std::make_unique<TAsciiListCuThread>(this, m_channel.get(), m_main->Dispatcher()));
  m_readers.back()->Resume();
  return 1;
}

void TAsciiListForm::ShowData(const char* data, int length, int fromCu) {
  // Pieces between line feeds, empty ones skipped; pieces after the first are indented.
  const char* const end = data + std::max(length, 0);
  bool first = true;
  for (const char* p = data; p < end;) {
    const char* feed = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    if (!feed) feed = end;
    if (feed > p) {
      const QString piece = BytesToText(p, static_cast<int>(feed - p));
      AddLine(first ? piece : QStringLiteral("      ") + piece, fromCu);
      first = false;
    }
    p = feed + 1;
  }
  if (first) AddLine(QString(), fromCu);
}

// Scrolling and repainting the list for every line would make the GUI thread the narrow end of a flood:
// a line after a quiet spell shows at once, lines that follow it closely are shown together a moment later.
void TAsciiListForm::ScheduleRefresh() {
  if (m_refresh->isActive()) return;
  if (!m_sinceRefresh.isValid() || m_sinceRefresh.elapsed() >= kRefreshMs) {
    RefreshList();
    return;
  }
  ListBox1->setUpdatesEnabled(false);
  m_refresh->start(static_cast<int>(kRefreshMs - m_sinceRefresh.elapsed()));
}

void TAsciiListForm::RefreshList() {
  ListBox1->MeasureChanged();
  ListBox1->ShowLast();
  ListBox1->setUpdatesEnabled(true);
  m_sinceRefresh.start();
}

void TAsciiListForm::AddLine(const QString& text, int fromCu) {
  m_newLines.append(text);
  if (m_batchDepth == 0) FlushLines();
  if (m_main && m_main->LogOn()) WriteLog(fromCu == 1 ? LogPrefix() + text : text);
}

void TAsciiListForm::EndLines() {
  if (m_batchDepth > 0 && --m_batchDepth == 0) FlushLines();
}

// Trims and appends as line-by-line adding would (at most 501 lines), with one model change per step.
// Every line goes into the list, even one that a longer batch pushes out again at once.
void TAsciiListForm::FlushLines() {
  if (m_newLines.isEmpty()) return;
  const int added = static_cast<int>(m_newLines.size());
  for (int from = 0; from < added;) {
    const int take = std::min(added - from, kMaxLines);
    const int drop = ListBox1->count() + take - kMaxLines;
    if (drop > 0) ListBox1->model()->removeRows(0, drop);
    ListBox1->insertItems(ListBox1->count(), take == added ? m_newLines : m_newLines.mid(from, take));
    from += take;
  }
  m_newLines.clear();
  ListBox1->LinesChanged(added);
  ScheduleRefresh();
}

const QString& TAsciiListForm::LogPrefix() {
  const CModule* module = m_cu ? m_cu->GetModule() : nullptr;
  if (!m_prefixSet || m_prefixFor != module) {
    m_logPrefix = (module ? BytesToText(module->GetModuleType(), -1) : QString()) + QStringLiteral(": ");
    m_prefixFor = module;
    m_prefixSet = true;
  }
  return m_logPrefix;
}

void TAsciiListForm::AppendToLastLine(const QString& text) {
  if (!m_newLines.isEmpty()) {
    m_newLines.last() += text;
  } else if (ListBox1->count() == 0) {  // nothing to append to: the text starts the first line
    AddLine(text, 0);
    return;
  } else {
    QListWidgetItem* last = ListBox1->item(ListBox1->count() - 1);
    last->setText(last->text() + text);
    ListBox1->LinesChanged(1);
    ScheduleRefresh();
  }
  WriteLog(text);
}

void TAsciiListForm::ApplyFont(const QFont& font) { ListBox1->setFont(font); }

void TAsciiListForm::WriteLog(const QString& text) {
  if (m_main) m_main->WriteLog(text);
}

void TAsciiListForm::StopReaders(bool showPending) {
  for (std::unique_ptr<TAsciiListCuThread>& reader : m_readers) {
    reader->Terminate();
    reader->WaitFor();
    if (showPending) reader->Pending()->ShowAll();
    reader->Pending()->window = nullptr;
  }
  m_readers.clear();
}

void TAsciiListForm::ReleaseCu() {
  StopReaders(true);
  if (m_channel) m_channel->Close();
  m_channel.reset();
  TBaseForm::ReleaseCu();
}

void TAsciiListForm::Shutdown() {
  if (m_closed) return;
  m_closed = true;
  WriteLog(QString("closed %1").arg(windowTitle()));
  StopReaders(false);
  if (m_channel) m_channel->Close();
  m_channel.reset();
}

void TAsciiListForm::closeEvent(QCloseEvent* event) {
  Shutdown();
  TBaseForm::closeEvent(event);
}
