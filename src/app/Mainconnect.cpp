// TMainForm: connecting and disconnecting, the instrument tree, opening CU windows and the
// connection's hooks with the connection-lost and reconnect timers.
#include "app/Mainform.h"

#include <QAction>
#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>

#include "StandardApp/Tracer.h"
#include "app/Connectdlg.h"
#include "app/Inifile.h"
#include "app/Maininstr.h"
#include "app/Propdlgs.h"
#include "cuwindows/Analreport.h"
#include "cuwindows/Canslave.h"
#include "cuwindows/Ddform.h"
#include "cuwindows/Event.h"
#include "cuwindows/Inreply.h"
#include "cuwindows/Instreventlist.h"
#include "cuwindows/Msgbox.h"
#include "cuwindows/Rawdata.h"
#include "cuwindows/Rawdatanucleus.h"
#include "cuwindows/Traceform.h"

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
    // "LD" (firmware download) gets its window with the firmware loader; until then it has none.
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
                         QStyle* style) {
  auto* item = new QTreeWidgetItem(parent, {caption});
  item->setData(0, TMainForm::NodeObjectRole, QVariant::fromValue(reinterpret_cast<quintptr>(data)));
  item->setData(0, TMainForm::NodeImageRole, image);
  item->setData(0, TMainForm::NodeSelectedImageRole, selectedImage);
  QIcon icon = TreeImage(style, image);
  if (selectedImage != image) icon.addPixmap(TreeImage(style, selectedImage).pixmap(16), QIcon::Selected);
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

int TMainForm::ConnectInstrument() {
  if (m_connection) return 2;
  CloseCuWindows(false);
  auto connection = std::make_unique<CMyZematInstr>(this);
  connection->SetDispatcher(&m_dispatcher);
  connection->SetTimeout(static_cast<unsigned>(m_timeoutMs));
  connection->SetLanPorts(m_telnetPort, m_dataPort);
  for (int n = 1; n <= 4; ++n)
    if (!m_serialDevices[n - 1].isEmpty()) connection->SetSerialDevice(n, m_serialDevices[n - 1].toStdString());
  const QByteArray host = m_lanAddress.toLatin1();
  if (!connection->Connect(m_link, host.constData())) {
    connection->Disconnect();  // a failed connect leaves threads and transport to be shut down
    return 0;
  }
  m_connection = std::move(connection);
  SetCaption(m_link != 0 ? QString("COM%1").arg(m_link) : m_lanAddress);
  repaint();
  FillTree();
  return 1;
}

int TMainForm::ConnectAndAutostart() {
  const int result = ConnectInstrument();
  if (result == 1 && m_executeAutostart && !m_autostartScript.isEmpty() && QFile(m_autostartScript).exists())
    Tracer().Trace(1, "Morvent", "autostart script %s not run: script windows are not available yet",
                   m_autostartScript.toLocal8Bit().constData());
  return result;
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
  if (ConnectAndAutostart() == 0) MorventMessage(this, TMsgKind::Error, "Connection to instrument failed");
}

void TMainForm::ConnectLastClick() {
  if (m_link == 0 && m_lanAddress.isEmpty()) {
    ConnectClick();
    return;
  }
  if (ConnectAndAutostart() == 0) MorventMessage(this, TMsgKind::Error, "Connection to instrument failed");
}

void TMainForm::GetLinkAndAddress(int& link, QString& lanAddress) const {
  link = m_link;
  lanAddress = m_lanAddress;
}

CMyZematInstr* TMainForm::ScriptConnect(int link, const QString& lanAddress) {
  m_link = link;
  m_lanAddress = lanAddress;
  return ConnectInstrument() != 0 ? m_connection.get() : nullptr;
}

void TMainForm::DisconnectInstrument(bool keepWindows) {
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
  const TWindowKind* kind = cu ? FindWindowKind(L1(cu->GetCuName())) : nullptr;
  if (!kind) {
    MorventMessage(this, TMsgKind::Information, "There is no I/O window available for the requested CU");
    return nullptr;
  }
  TAsciiListForm* form = kind->create();
  const QSize designed = form->size();
  QMdiSubWindow* sub = m_mdi->addSubWindow(form);
  sub->setWindowIcon(TreeImage(style(), 2));
  sub->resize(designed);
  sub->show();
  PlaceNewChild(sub);
  const bool passViaCs = kind->viaCs == TViaCs::Always || (kind->viaCs == TViaCs::Caller && viaCs);
  if (form->OpenCu(cu, this, passViaCs, kind->caption) == 0) return nullptr;
  AfterChildCreated(sub);
  form->ApplyFont(m_cuFont);
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
  sub->setWindowIcon(TreeImage(style(), 0));
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
  QTreeWidgetItem* node =
      NewNode(root, L1(module->GetModuleType()) + " - " + L1(module->GetSerialNumber()), module, image, image, style());
  for (int i = 0; i < module->GetCuDescCount(); ++i) {
    std::shared_ptr<CCuDesc> cu = module->GetCuDesc(i);
    if (cu) NewNode(node, L1(cu->GetCuName()), cu.get(), 2, 4, style());
  }
  node->setExpanded(true);
}

void TMainForm::FillTree() {
  TreeView1->clear();
  QTreeWidgetItem* root = NewNode(nullptr, "Serion Instrument", m_connection.get(), 0, 0, style());
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
  if (ConnectAndAutostart() != 0) TimerReconnect->stop();
}

void TMainForm::ConfigChanged() {
  if (m_eventsWindow) m_eventsWindow->AddEventLine("Configuration changed");
}

void TMainForm::ModuleRemoved(CModule* module) {
  if (m_eventsWindow) m_eventsWindow->AddEventLine(QString("Module %1 removed").arg(L1(module->GetModuleType())));
  for (QMdiSubWindow* sub : Children()) {
    auto* form = qobject_cast<TBaseForm*>(sub->widget());
    if (form && form->Cu() && form->Cu()->GetModule() == module) sub->close();
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
