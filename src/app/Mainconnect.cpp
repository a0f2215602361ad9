// TMainForm: connecting and disconnecting, the instrument tree, opening CU windows and the
// connection's hooks with the connection-lost and reconnect timers.
#include "app/Mainform.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>

#include "StandardApp/Tracer.h"
#include "app/Connectattempt.h"
#include "app/Connectdlg.h"
#include "app/Inifile.h"
#include "app/Maininstr.h"
#include "app/Propdlgs.h"
#include "cuwindows/Analreport.h"
#include "cuwindows/Canslave.h"
#include "cuwindows/Ddform.h"
#include "cuwindows/Event.h"
#include "cuwindows/Firmwareform.h"
#include "cuwindows/Inreply.h"
#include "cuwindows/Instreventlist.h"
#include "cuwindows/Msgbox.h"
#include "cuwindows/Rawdata.h"
#include "cuwindows/Rawdatanucleus.h"
#include "cuwindows/Traceform.h"
#include "graphics/Graphicmain.h"
#include "scripthost/Instscriptform.h"
#include "scriptlib/Instscript.h"
#include "scriptlib/ScriptConnection.h"

namespace {

enum class TViaCs { No, Always, Caller };

struct TWindowKind {
  const char* cuName;
  TAsciiListForm* (*create)();
  const char* caption;
  TViaCs viaCs;
};

template <class T>
TAsciiListForm* Make() {
  return new T;
}

const TWindowKind kWindowKinds[] = {
    {"IN", Make<TInReplyForm>, "Instruction/Reply", TViaCs::No},
    {"EV", Make<TEventForm>, "Events", TViaCs::No},
    {"TR", Make<TTraceCu>, "Traces", TViaCs::No},
    {"MO", Make<TAsciiListForm>, "Monitor", TViaCs::No},
    {"DI", Make<TAsciiListForm>, "Diagnose", TViaCs::No},
    {"LI", Make<TAsciiListForm>, "List", TViaCs::No},
    {"AR", Make<TAnalysisReport>, "Analysis Report", TViaCs::No},
    {"RD", Make<TRawDataForm>, "RawData", TViaCs::No},
    {"MS", Make<TRawDataForm>, "Spectra", TViaCs::No},
    {"RAWD", Make<TRawDataNucleusForm>, "Raw Data", TViaCs::No},
    {"RDSCANMON", Make<TRawDataNucleusForm>, "Raw Data Scan Monitor", TViaCs::No},
    {"RDSIGMON", Make<TRawDataNucleusForm>, "Raw Data Signal Monitor", TViaCs::No},
    {"DD", Make<TDDCuForm>, "DSP Special", TViaCs::No},
    {"PR", Make<TCanSlaveForm>, "CanSlave", TViaCs::Always},
    {"CS_IO", Make<TCanSlaveForm>, "CanSlave", TViaCs::Caller},
};

const TWindowKind* FindWindowKind(const QString& cuName) {
  for (const TWindowKind& kind : kWindowKinds)
    if (cuName.compare(kind.cuName, Qt::CaseInsensitive) == 0) return &kind;
  return nullptr;
}

QString L1(const char* s) { return QString::fromLatin1(s); }

// The tree's image list: index 0 instrument, 1 module, 2 CU, 3 module behind the CS path, 4 selected CU.
QIcon TreeImage(QStyle* style, int index) {
  static const QStyle::StandardPixmap kImages[] = {QStyle::SP_ComputerIcon, QStyle::SP_DriveHDIcon, QStyle::SP_FileIcon,
                                                   QStyle::SP_DriveNetIcon, QStyle::SP_DialogOpenButton};
  return style->standardIcon(kImages[index]);
}

QTreeWidgetItem* NewNode(QTreeWidgetItem* parent, const QString& caption, void* data, int image, int selectedImage,
                         const QIcon& icon) {
  auto* item = new QTreeWidgetItem(parent, {caption});
  item->setData(0, TMainForm::NodeObjectRole, QVariant::fromValue(reinterpret_cast<quintptr>(data)));
  item->setData(0, TMainForm::NodeImageRole, image);
  item->setData(0, TMainForm::NodeSelectedImageRole, selectedImage);
  item->setIcon(0, icon);
  return item;
}

template <class T>
T* NodeObject(const QTreeWidgetItem* item) {
  return reinterpret_cast<T*>(item->data(0, TMainForm::NodeObjectRole).value<quintptr>());
}

int Level(const QTreeWidgetItem* item) {
  int level = 0;
  for (const QTreeWidgetItem* p = item->parent(); p; p = p->parent()) ++level;
  return level;
}

}  // namespace

// ---- connecting ----

void TMainForm::ConnectInstrument(TConnectOrigin origin, TConnectDone done) {
  if (m_connection) {
    if (done) done(2);
    return;
  }
  if (m_attempt) {  // never two attempts: this request learns the outcome of the one under way
    if (done) m_attemptWaiters.push_back(std::move(done));
    return;
  }
  auto connection = std::make_unique<CMyZematInstr>(this);
  connection->SetDispatcher(&m_gate);
  connection->SetTimeout(static_cast<unsigned>(m_timeoutMs));
  connection->SetLanPorts(m_telnetPort, m_dataPort);
  for (int n = 1; n <= 4; ++n)
    if (!m_serialDevices[n - 1].isEmpty()) connection->SetSerialDevice(n, m_serialDevices[n - 1].toStdString());
  m_gate.Hold();
  m_attemptOrigin = origin;
  m_attemptWaiters.clear();
  if (done) m_attemptWaiters.push_back(std::move(done));
  const unsigned id = ++m_attemptId;
  m_attempt = std::make_unique<TConnectAttempt>(std::move(connection), m_link, m_lanAddress, m_dispatcher,
                                                [this, id] { ConnectFinished(id); });
  ShowConnecting(true);
}

void TMainForm::ConnectFinished(unsigned attempt) {
  if (!m_attempt || attempt != m_attemptId) return;  // an attempt given up at closing
  std::unique_ptr<TConnectAttempt> finished = std::move(m_attempt);
  std::unique_ptr<CMyZematInstr> connection = finished->TakeConnection();
  m_attemptCancelled = finished->Cancelled();
  finished.reset();
  ShowConnecting(false);
  int result = 0;
  if (connection) {
    // Windows released by a lost connection keep their contents until a new connection stands.
    CloseCuWindows(false);
    m_connection = std::move(connection);
    const QString address = m_link != 0 ? QString("COM%1").arg(m_link) : m_lanAddress;
    CScriptConnection::Instance().Set(m_connection.get(), address.toStdString());
    SetCaption(address);
    repaint();
    FillTree();
    m_gate.Open();  // what the connection reported meanwhile (a refresh, a loss) comes now, in order
    result = 1;
  } else {
    m_gate.Drop();
  }
  std::vector<TConnectDone> waiters = std::move(m_attemptWaiters);
  m_attemptWaiters.clear();
  for (TConnectDone& done : waiters)
    if (done) done(result);
}

void TMainForm::CancelConnect() {
  if (m_attempt) m_attempt->Cancel();
}

void TMainForm::ShowConnecting(bool on) {
  if (on) {
    const QString target = m_link != 0 ? QString("COM%1").arg(m_link) : m_lanAddress;
    m_connectingLabel->setText(
        QString(m_attemptOrigin == TConnectOrigin::Reconnect ? "Reconnecting to %1 ..." : "Connecting to %1 ...")
            .arg(target));
  }
  m_connectingLabel->setVisible(on);
  m_cancelConnectButton->setVisible(on);
}

void TMainForm::ConnectAndAutostart(TConnectOrigin origin, TConnectDone done) {
  ConnectInstrument(origin, [this, done = std::move(done)](int result) {
    // A file that cannot be opened is passed over without a word.
    if (result == 1 && m_executeAutostart && CanOpenScriptFile(m_autostartScript.toLocal8Bit().toStdString())) {
      const QString quoted = m_autostartScript.contains(' ') ? '"' + m_autostartScript + '"' : m_autostartScript;
      OpenScriptWindow()->RunScript(quoted, 1);
    }
    if (done) done(result);
  });
}

void TMainForm::ConnectClick() {
  m_connectDlg->Preset(m_link, m_lanAddress);
  if (m_connectDlg->exec() == QDialog::Accepted) ConnectDialogAccepted();
}

void TMainForm::ConnectDialogAccepted() {
  m_link = m_connectDlg->Link();
  m_lanAddress = m_connectDlg->LanAddress();
  Ini().WriteInteger("LastConfig", "Link", m_link);
  Ini().WriteString("LastConfig", "LAN", m_lanAddress.toStdString());
  ConnectAndAutostart(TConnectOrigin::Dialog, [this](int result) {
    if (result == 0 && !m_attemptCancelled) MorventMessage(this, TMsgKind::Error, "Connection to instrument failed");
  });
}

void TMainForm::ConnectLastClick() {
  if (m_link == 0 && m_lanAddress.isEmpty()) {
    ConnectClick();
    return;
  }
  ConnectAndAutostart(TConnectOrigin::ToolButton, [this](int result) {
    if (result == 0 && !m_attemptCancelled) MorventMessage(this, TMsgKind::Error, "Connection to instrument failed");
  });
}

void TMainForm::GetLinkAndAddress(int& link, QString& lanAddress) const {
  link = m_link;
  lanAddress = m_lanAddress;
}

CZematInstr* TMainForm::Connection() { return m_connection.get(); }

void TMainForm::LinkAndAddress(int& link, std::string& address) {
  link = m_link;
  address = m_lanAddress.toStdString();
}

void TMainForm::Connect(int link, const std::string& address, std::function<void(CZematInstr*)> done) {
  if (m_connection) {  // connected already: scripts use this connection whatever they asked for
    done(m_connection.get());
    return;
  }
  ScriptConnect(link, QString::fromStdString(address), [done = std::move(done)](CMyZematInstr* c) { done(c); });
}

void TMainForm::StartScript(const std::string& commandLine, int closeWhenFinished) {
  TInstScriptForm* window = OpenScriptWindow();
  if (!commandLine.empty()) window->RunScript(QString::fromLocal8Bit(commandLine.c_str()), closeWhenFinished);
}

TInstScriptForm* TMainForm::OpenScriptWindow() {
  RememberMaximized();
  auto* form = new TInstScriptForm;
  const QSize designed = form->size();
  QMdiSubWindow* sub = m_mdi->addSubWindow(form);
  sub->setWindowIcon(StyleIcon(QStyle::SP_FileDialogDetailedView));
  sub->resize(designed);
  form->Init(this, this, "Instrument Script");
  sub->show();
  AfterChildCreated(sub);
  form->ApplyFont(m_cuFont);
  form->CommandLine()->setFocus();
  return form;
}

void TMainForm::ScriptConnect(int link, const QString& lanAddress, std::function<void(CMyZematInstr*)> done) {
  m_link = link;
  m_lanAddress = lanAddress;
  ConnectInstrument(TConnectOrigin::Script,
                    [this, done = std::move(done)](int result) { done(result != 0 ? m_connection.get() : nullptr); });
}

void TMainForm::DisconnectInstrument(bool keepWindows) {
  CancelConnect();  // an attempt under way ends too
  RememberMaximized();
  SetCaption("not connected");
  TreeView1->clear();
  if (!m_connection) return;
  if (m_eventsWindow) {
    TMasterEventList* events = m_eventsWindow;
    m_eventsWindow = nullptr;
    (events->parentWidget() ? events->parentWidget() : events)->close();
  }
  CloseCuWindows(keepWindows);
  // A window that refused to close (a download under way) still lets go of its channels before the
  // connection goes.
  for (QMdiSubWindow* sub : Children())
    if (auto* form = qobject_cast<TBaseForm*>(sub->widget()); form && form->Cu()) form->ReleaseCu();
  // Scripts let go of the connection (and of the channels they opened on it) before it goes.
  CScriptConnection::Instance().Withdraw();
  m_connection->Disconnect();
  m_connection.reset();
}

QList<QMdiSubWindow*> TMainForm::Children() const {
  QList<QMdiSubWindow*> open;
  for (QMdiSubWindow* sub : m_mdi->subWindowList())
    if (!sub->isHidden()) open << sub;  // a closed window stays listed until it is deleted
  return open;
}

void TMainForm::CloseCuWindows(bool keepWindows) {
  for (QMdiSubWindow* sub : Children()) {
    QWidget* w = sub->widget();
    if (w && (w->inherits("TInstScriptForm") || w->inherits("TGraphicForm"))) continue;
    auto* form = qobject_cast<TBaseForm*>(w);
    if (keepWindows && form)
      form->ReleaseCu();
    else
      sub->close();
  }
}

void TMainForm::RememberMaximized() {
  const QList<QMdiSubWindow*> children = Children();
  if (children.isEmpty()) return;
  m_openMaximized = std::any_of(children.begin(), children.end(), [](QMdiSubWindow* s) { return s->isMaximized(); });
  Ini().WriteInteger("LastConfig", "OpenMaximized", m_openMaximized ? 1 : 0);
}

// ---- CU windows ----

void TMainForm::AfterChildCreated(QMdiSubWindow* sub) {
  if (m_openMaximized && Children().size() == 1) sub->showMaximized();
}

QWidget* TMainForm::OpenCuWindow(std::shared_ptr<CCuDesc> cu, bool viaCs) {
  RememberMaximized();
  if (cu && QString::fromLatin1(cu->GetCuName()).compare("LD", Qt::CaseInsensitive) == 0) return OpenFirmwareWindow(cu);
  const TWindowKind* kind = cu ? FindWindowKind(L1(cu->GetCuName())) : nullptr;
  if (!kind) {
    MorventMessage(this, TMsgKind::Information, "There is no I/O window available for the requested CU");
    return nullptr;
  }
  TAsciiListForm* form = kind->create();
  const QSize designed = form->size();
  QMdiSubWindow* sub = m_mdi->addSubWindow(form);
  sub->setWindowIcon(TreeIcon(2, 2));
  sub->resize(designed);
  sub->show();
  PlaceNewChild(sub);
  const bool passViaCs = kind->viaCs == TViaCs::Always || (kind->viaCs == TViaCs::Caller && viaCs);
  if (form->OpenCu(cu, this, passViaCs, kind->caption) == 0) return nullptr;
  AfterChildCreated(sub);
  form->ApplyFont(m_cuFont);
  return form;
}

IPlotWindow* TMainForm::CreatePlotWindow(const std::string& name) {
  auto* form = new TGraphicForm(name);
  const QSize designed = form->size();
  QMdiSubWindow* sub = m_mdi->addSubWindow(form);
  sub->resize(designed);  // the designed size with the frame, as for the CU windows
  sub->show();
  PlaceNewChild(sub);
  return form;
}

QWidget* TMainForm::OpenFirmwareWindow(std::shared_ptr<CCuDesc> cu) {
  auto* form = new TFirmwareForm;
  QMdiSubWindow* sub = m_mdi->addSubWindow(form);
  sub->setWindowIcon(TreeIcon(2, 2));
  sub->adjustSize();  // the whole client area, with the frame around it
  sub->show();
  PlaceNewChild(sub);
  if (!form->OpenCu(std::move(cu), this, "Download Firmware")) return nullptr;
  AfterChildCreated(sub);
  return form;
}

void TMainForm::OpenEventsWindow() {
  if (m_eventsWindow) return;
  RememberMaximized();
  auto* events = new TMasterEventList;
  events->SetMainWindow(this);
  m_eventsWindow = events;
  const QSize designed = events->size();
  QMdiSubWindow* sub = m_mdi->addSubWindow(events);
  sub->setWindowIcon(TreeIcon(0, 0));
  sub->resize(designed);
  sub->show();
  PlaceNewChild(sub);
  AfterChildCreated(sub);
}

void TMainForm::EventsWindowClosed() { m_eventsWindow = nullptr; }

// ---- tree ----

QTreeWidgetItem* TMainForm::RootNode() const {
  return TreeView1->topLevelItemCount() ? TreeView1->topLevelItem(0) : nullptr;
}

void TMainForm::AddModuleNode(QTreeWidgetItem* root, CModule* module) {
  const int image = module->IsSecondList() ? 3 : 1;
  QTreeWidgetItem* node = NewNode(root, L1(module->GetModuleType()) + " - " + L1(module->GetSerialNumber()), module,
                                  image, image, TreeIcon(image, image));
  for (int i = 0; i < module->GetCuDescCount(); ++i) {
    std::shared_ptr<CCuDesc> cu = module->GetCuDesc(i);
    if (cu) NewNode(node, L1(cu->GetCuName()), cu.get(), 2, 4, TreeIcon(2, 4));
  }
  node->setExpanded(true);
}

namespace {
// Icons shared by every window; they go with the application object.
QIcon& SharedIcon(int key) {
  struct THolder : QObject {
    std::map<int, QIcon> icons;
  };
  static QPointer<THolder> holder;
  if (!holder) {
    holder = new THolder;
    holder->setParent(QCoreApplication::instance());
  }
  return holder->icons[key];
}
}  // namespace

const QIcon& TMainForm::StyleIcon(QStyle::StandardPixmap which) {
  QIcon& icon = SharedIcon(which);
  if (icon.isNull()) icon = QApplication::style()->standardIcon(which);
  return icon;
}

const QIcon& TMainForm::TreeIcon(int image, int selectedImage) {
  QIcon& icon = SharedIcon(-1 - (image * 16 + selectedImage));  // style icons have keys from 0 on
  if (icon.isNull()) {
    icon = TreeImage(QApplication::style(), image);
    if (selectedImage != image)
      icon.addPixmap(TreeImage(QApplication::style(), selectedImage).pixmap(16), QIcon::Selected);
  }
  return icon;
}

void TMainForm::FillTree() {
  TreeView1->clear();
  QTreeWidgetItem* root = NewNode(nullptr, "Serion Instrument", m_connection.get(), 0, 0, TreeIcon(0, 0));
  TreeView1->addTopLevelItem(root);
  for (int i = 0; i < m_connection->GetModuleCount(); ++i)
    if (std::shared_ptr<CModule> module = m_connection->GetModule(i)) AddModuleNode(root, module.get());
  root->setExpanded(true);
}

QMenu* TMainForm::PopupForItem(QTreeWidgetItem* item) {
  if (!item) return m_connection ? PopupMenu1 : PopupMenu3;
  switch (Level(item)) {
    case 0:
      return PopupMenu1;
    case 1:
      return PopupMenu4;
    default: {
      const CCuDesc* cu = NodeObject<CCuDesc>(item);
      m_openViaCs->setEnabled(cu && cu->GetModule() && cu->GetModule()->IsSecondList());
      return PopupMenu2;
    }
  }
}

void TMainForm::TreeRightClick(const QPoint& pos) {
  QTreeWidgetItem* item = TreeView1->itemAt(pos);
  if (item)
    TreeView1->setCurrentItem(item);
  else
    TreeView1->clearSelection();
  PopupForItem(item)->popup(TreeView1->viewport()->mapToGlobal(pos));
}

void TMainForm::OpenSelectedCu(bool viaCs) {
  QTreeWidgetItem* item = TreeView1->currentItem();
  // Tree nodes leave with their module, so a node's record is alive here.
  if (item && Level(item) == 2) OpenCuWindow(NodeObject<CCuDesc>(item)->Share(), viaCs);
}

void TMainForm::PropertiesClick(int popup) {
  QTreeWidgetItem* item = TreeView1->currentItem();
  if (popup == 1) {
    m_instrPropDlg->exec();
  } else if (popup == 4 && item && Level(item) == 1) {
    m_modulePropDlg->Fill(NodeObject<CModule>(item));
    m_modulePropDlg->exec();
  } else if (popup == 2 && item && Level(item) == 2) {
    // Held across the dialog: the module may leave while it is open.
    std::shared_ptr<CCuDesc> cu = NodeObject<CCuDesc>(item)->Share();
    m_cuPropDlg->Fill(cu.get());
    m_cuPropDlg->exec();
    CuPropertiesClosed(*cu);
  }
}

void TMainForm::CuPropertiesClosed(CCuDesc& cu) {
  // A record that left meanwhile is no longer anybody's configuration.
  if (cu.IsRemoved()) return;
  cu.SetRequestedOut(m_cuPropDlg->ExtraOut());
  cu.SetRequestedIn(m_cuPropDlg->ExtraIn());
}

// ---- hooks and timers ----

void TMainForm::ConnectionLost() {
  m_reconnectRequest = 1;
  QMetaObject::invokeMethod(Timer1, qOverload<>(&QTimer::start), Qt::AutoConnection);
}

void TMainForm::Timer1Timer() {
  Timer1->stop();
  if (m_reconnectRequest.exchange(0) != 1) return;
  DisconnectInstrument(true);
  if (m_autoReconnect && !m_closing) TimerReconnect->start();
}

void TMainForm::TimerReconnectTimer() {
  if (m_attempt) return;  // the last try is still under way
  ConnectAndAutostart(TConnectOrigin::Reconnect, [this](int result) {
    if (result != 0) TimerReconnect->stop();
  });
}

void TMainForm::ConfigChanged() {
  if (m_eventsWindow) m_eventsWindow->AddEventLine("Configuration changed");
}

void TMainForm::ModuleRemoved(CModule* module) {
  if (m_eventsWindow) m_eventsWindow->AddEventLine(QString("Module %1 removed").arg(L1(module->GetModuleType())));
  for (QMdiSubWindow* sub : Children()) {
    auto* form = qobject_cast<TBaseForm*>(sub->widget());
    // A window that refuses to close (a download under way) lets go of the module's CUs all the same.
    if (form && form->Cu() && form->Cu()->GetModule() == module && !sub->close()) form->ReleaseCu();
  }
  if (QTreeWidgetItem* root = RootNode())
    for (int i = 0; i < root->childCount(); ++i)
      if (NodeObject<CModule>(root->child(i)) == module) {
        delete root->takeChild(i);
        break;
      }
}

void TMainForm::ModuleAdded(CModule* module) {
  if (QTreeWidgetItem* root = RootNode()) AddModuleNode(root, module);
  if (m_eventsWindow) m_eventsWindow->AddEventLine(QString("Module %1 added").arg(L1(module->GetModuleType())));
}
