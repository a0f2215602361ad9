// TMainForm: construction (widgets, menus, tool bar, popups, dialogs), settings read at start, the
// options and view menus, the log file and closing.
#include "app/Mainform.h"

#include "app/Connectattempt.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFontDialog>
#include <QHeaderView>
#include <QIcon>
#include <QInputDialog>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

#include "StandardApp/Tracer.h"
#include "app/Aboutbox.h"
#include "app/Autostartdlg.h"
#include "app/Connectdlg.h"
#include "app/Inifile.h"
#include "app/Layoutnamedlg.h"
#include "app/Maininstr.h"
#include "app/Propdlgs.h"
#include "cuwindows/Baseform.h"
#include "cuwindows/Instreventlist.h"
#include "cuwindows/Msgbox.h"
#include "cuwindows/Timedlg.h"
#include "forms/Formform.h"
#include "forms/Formhostqt.h"
#include "scriptlib/ScriptConnection.h"

namespace {

const char* const kLastConfig = "LastConfig";

std::string S(const QString& s) { return s.toStdString(); }
QString Q(const std::string& s) { return QString::fromStdString(s); }

// An action's text marks its access key with "&"; names and captions are shown as written.
QString ActionText(QString text) { return text.replace('&', "&&"); }

QAction* NewAction(QObject* parent, const char* name, const QString& text, const QString& hint = QString()) {
  auto* a = new QAction(text, parent);
  a->setObjectName(name);
  if (!hint.isEmpty()) {
    a->setStatusTip(hint);
    a->setToolTip(hint);
  }
  return a;
}

}  // namespace

TMainForm::TMainForm(const QString& programDir, const TStartOptions& options, QWidget* parent)
    : QMainWindow(parent), m_programDir(programDir), m_title(QString("Morvent v") + "5.66") {
  const std::filesystem::path dir = S(programDir);
  Tracer().SetFileName(MorventFilePath(dir, "Morvent.trc").string());
  Tracer().SetLevel(0);
  m_ini = std::make_unique<TIniFile>(options.settingsFile.empty() ? MorventFilePath(dir, "Morvent.ini")
                                                                  : std::filesystem::absolute(options.settingsFile));
  resize(807, 594);
  move(370, 342);
  // The installed icon (hicolor theme); a build-tree run falls back to a standard one.
  setWindowIcon(QIcon::fromTheme("morvent", StyleIcon(QStyle::SP_ComputerIcon)));
  CreateWidgets();
  CreateActions();
  CreateMenus();
  CreateToolBar();
  CreatePopups();
  SetCaption("not connected");
  ReadSettings();
  ApplyStartOptions(options);
  CreateDialogs();
  SetPlotHost(this);
  m_formHost = std::make_unique<TQtFormHost>();
}

TMainForm::~TMainForm() {
  // Windows that were not closed through closeEvent still let go of their channels before the
  // connection goes.
  m_closing = true;
  m_attempt.reset();
  if (PlotHost() == this) SetPlotHost(nullptr);
  m_formHost.reset();  // frees the script forms still open
  for (QMdiSubWindow* sub : m_mdi->subWindowList()) delete sub;
  // Windows closed just before are no longer listed but wait for their deferred delete; the base class
  // would delete them after the dispatcher and the connection their threads may still call into.
  QList<QPointer<QMdiSubWindow>> closed;
  for (QMdiSubWindow* sub : m_mdi->findChildren<QMdiSubWindow*>()) closed.append(sub);
  for (const QPointer<QMdiSubWindow>& sub : closed) delete sub.data();
  if (m_connection) {
    CScriptConnection::Instance().Withdraw();
    m_connection->Disconnect();
    m_connection.reset();
  }
}

void TMainForm::CreateWidgets() {
  Splitter1 = new QSplitter(Qt::Horizontal, this);
  Splitter1->setHandleWidth(2);
  TreeView1 = new QTreeWidget(Splitter1);
  TreeView1->setObjectName("TreeView1");
  TreeView1->setHeaderHidden(true);
  // Long captions scroll sideways instead of being cut off in the narrow tree.
  TreeView1->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  TreeView1->header()->setStretchLastSection(false);
  TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  TreeView1->setContextMenuPolicy(Qt::CustomContextMenu);
  m_mdi = new QMdiArea(Splitter1);
  m_mdi->setObjectName("MdiArea");
  m_mdi->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  m_mdi->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  Splitter1->setStretchFactor(1, 1);
  const int tree = DefaultTreeWidth();
  Splitter1->setSizes({tree, std::max(1, width() - tree)});
  setCentralWidget(Splitter1);
  // An attempt under way shows in the status bar, with the button that cancels it.
  m_connectingLabel = new QLabel(this);
  m_connectingLabel->setObjectName("ConnectingLabel");
  m_cancelConnectButton = new QPushButton("Cancel", this);
  m_cancelConnectButton->setObjectName("CancelConnectButton");
  connect(m_cancelConnectButton, &QPushButton::clicked, this, &TMainForm::CancelConnect);
  statusBar()->addPermanentWidget(m_connectingLabel);
  statusBar()->addPermanentWidget(m_cancelConnectButton);
  m_connectingLabel->hide();
  m_cancelConnectButton->hide();
  connect(TreeView1, &QTreeWidget::customContextMenuRequested, this, &TMainForm::TreeRightClick);
  connect(TreeView1, &QTreeWidget::itemDoubleClicked, this, [this] { OpenSelectedCu(false); });
  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setSingleShot(true);
  Timer1->setInterval(50);
  connect(Timer1, &QTimer::timeout, this, &TMainForm::Timer1Timer);
  TimerReconnect = new QTimer(this);
  TimerReconnect->setObjectName("TimerReconnect");
  TimerReconnect->setInterval(5000);
  connect(TimerReconnect, &QTimer::timeout, this, &TMainForm::TimerReconnectTimer);
}

void TMainForm::CreateActions() {
  connect(NewAction(this, "ConnectItem", "&Connect..."), &QAction::triggered, this, &TMainForm::ConnectClick);
  connect(NewAction(this, "DisconnectItem", "Disconnect"), &QAction::triggered, this,
          [this] { DisconnectInstrument(false); });
  connect(NewAction(this, "OpenScriptItem", "Open Script..."), &QAction::triggered, this,
          [this] { OpenScriptWindow(); });
  connect(NewAction(this, "ExitItem", "E&xit", "Exit this application"), &QAction::triggered, this, &QWidget::close);
  QAction* details = NewAction(this, "InstrDetailsItem", "Instr Details");
  details->setCheckable(true);
  details->setChecked(true);
  connect(details, &QAction::triggered, this, &TMainForm::ToggleDetails);
  QAction* toolBar = NewAction(this, "ToolBarItem", "ToolBar");
  toolBar->setCheckable(true);
  toolBar->setChecked(true);
  connect(toolBar, &QAction::triggered, this, &TMainForm::ToggleToolBar);
  connect(NewAction(this, "FontItem", "Font..."), &QAction::triggered, this, &TMainForm::FontClick);
  connect(NewAction(this, "OpenLogItem", "Open Logfile..."), &QAction::triggered, this, &TMainForm::OpenLogClick);
  QAction* closeLog = NewAction(this, "CloseLogItem", "Close Logfile");
  closeLog->setEnabled(false);
  connect(closeLog, &QAction::triggered, this, &TMainForm::CloseLog);
  connect(NewAction(this, "AutostartItem", "Autostartscript.."), &QAction::triggered, this, &TMainForm::AutostartClick);
  QAction* reconnect = NewAction(this, "AutoReconnectItem", "Auto Reconnect");
  reconnect->setCheckable(true);
  connect(reconnect, &QAction::triggered, this, &TMainForm::ToggleAutoReconnect);
  connect(NewAction(this, "SetTimeoutItem", "Set Timeout..."), &QAction::triggered, this, &TMainForm::SetTimeoutClick);
  connect(NewAction(this, "TimeCalcItem", "Time Calculation..."), &QAction::triggered, this,
          &TMainForm::TimeCalculationClick);
  connect(NewAction(this, "TracesItem", "Morvent Traces..."), &QAction::triggered, this, &TMainForm::TraceClick);
  connect(NewAction(this, "LayoutNameItem", "Name..."), &QAction::triggered, this, &TMainForm::LayoutNamesClick);
  connect(NewAction(this, "CloseAllItem", "Close All"), &QAction::triggered, this, [this] { CloseCuWindows(false); });
  connect(NewAction(this, "TileItem", "&Tile", "Tile all windows"), &QAction::triggered, m_mdi,
          &QMdiArea::tileSubWindows);
  connect(NewAction(this, "CascadeItem", "&Cascade", "Cascade all windows"), &QAction::triggered, this,
          &TMainForm::CascadeChildren);
  connect(NewAction(this, "ArrangeItem", "&Arrange All", "Arrange minimized windows"), &QAction::triggered, this,
          &TMainForm::ArrangeIcons);
  connect(NewAction(this, "AboutItem", "&About...", "Show program information"), &QAction::triggered, this,
          &TMainForm::AboutClick);
  for (int i = 0; i < 3; ++i) {
    m_loadLayout[i] = NewAction(this, qPrintable(QString("LoadLayout%1").arg(i + 1)), QString());
    connect(m_loadLayout[i], &QAction::triggered, this, [this, i] { LoadLayout(i + 1); });
    m_saveLayout[i] = NewAction(this, qPrintable(QString("SaveLayout%1").arg(i + 1)), QString());
    connect(m_saveLayout[i], &QAction::triggered, this, [this, i] { SaveLayout(i + 1); });
  }
}

// The tree's width when none was saved: its designed 153 pixels suit only a smaller font, so it is as
// wide as a module caption of the usual length (an eight-character type, a six-digit serial number)
// needs at the tree's font, with room for a vertical scroll bar.
int TMainForm::DefaultTreeWidth() {
  auto* root = new QTreeWidgetItem(TreeView1, {"Serion Instrument"});
  auto* module = new QTreeWidgetItem(root, {"MODULE-8 - 000000"});
  module->setIcon(0, StyleIcon(QStyle::SP_DriveHDIcon));
  root->setExpanded(true);
  const int caption = static_cast<QAbstractItemView*>(TreeView1)->sizeHintForColumn(0);  // public there
  TreeView1->clear();
  const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, TreeView1->verticalScrollBar());
  return std::max(153, caption + 2 * TreeView1->frameWidth() + scrollBar);
}

QAction* TMainForm::Action(const QString& objectName) const { return findChild<QAction*>(objectName); }

void TMainForm::CreateMenus() {
  QMenu* instrument = menuBar()->addMenu("&Instrument");
  instrument->addActions(
      {Action("ConnectItem"), Action("DisconnectItem"), Action("OpenScriptItem"), Action("ExitItem")});
  QMenu* view = menuBar()->addMenu("View");
  view->addActions({Action("InstrDetailsItem"), Action("ToolBarItem")});
  QMenu* options = menuBar()->addMenu("Options");
  options->addActions({Action("FontItem"), Action("OpenLogItem"), Action("CloseLogItem"), Action("AutostartItem"),
                       Action("AutoReconnectItem"), Action("SetTimeoutItem"), Action("TimeCalcItem"),
                       Action("TracesItem")});
  m_windowMenu = menuBar()->addMenu("&Window");
  connect(m_windowMenu, &QMenu::aboutToShow, this, &TMainForm::BuildWindowMenu);
  BuildWindowMenu();
  QMenu* help = menuBar()->addMenu("&Help");
  help->addAction(Action("AboutItem"));
}

void TMainForm::BuildWindowMenu() {
  m_windowMenu->clear();
  QMenu* layout = m_windowMenu->addMenu("Layout");
  QMenu* load = layout->addMenu("Load");
  QMenu* save = layout->addMenu("Save as");
  for (int i = 0; i < 3; ++i) {
    load->addAction(m_loadLayout[i]);
    save->addAction(m_saveLayout[i]);
  }
  layout->addAction(Action("LayoutNameItem"));
  m_windowMenu->addActions({Action("CloseAllItem"), Action("TileItem"), Action("CascadeItem"), Action("ArrangeItem")});
  const QList<QMdiSubWindow*> children = Children();
  if (!children.isEmpty()) m_windowMenu->addSeparator();
  for (QMdiSubWindow* sub : children) {
    QAction* a =
        m_windowMenu->addAction(ActionText(sub->windowTitle()), this, [this, sub] { m_mdi->setActiveSubWindow(sub); });
    a->setCheckable(true);
    a->setChecked(sub == m_mdi->activeSubWindow());
  }
}

void TMainForm::CreateToolBar() {
  m_toolBar = addToolBar("ToolBar");
  m_toolBar->setObjectName("ToolBar");
  m_toolBar->setMovable(false);
  QAction* last = m_toolBar->addAction(StyleIcon(QStyle::SP_MediaPlay), "Connect to the last instrument", this,
                                       &TMainForm::ConnectLastClick);
  last->setObjectName("ToolButton7");
  m_toolBar->addAction(StyleIcon(QStyle::SP_MediaStop), "Disconnect", this, [this] { DisconnectInstrument(false); })
      ->setObjectName("ToolButton8");
  m_toolBar->addSeparator();
  QAction* script = m_toolBar->addAction(StyleIcon(QStyle::SP_FileDialogDetailedView), "Open instrument script");
  script->setObjectName("ToolButton10");
  connect(script, &QAction::triggered, this, [this] { OpenScriptWindow(); });
  m_toolBar->addSeparator();
  QAction* tree = m_toolBar->addAction(StyleIcon(QStyle::SP_FileDialogListView), "Show/hide instrument details");
  tree->setObjectName("ViewTreeButton");
  tree->setCheckable(true);
  tree->setChecked(true);
  connect(tree, &QAction::triggered, this, &TMainForm::ToggleDetails);
  ViewTreeButton = qobject_cast<QToolButton*>(m_toolBar->widgetForAction(tree));
  m_toolBar->addSeparator();
  m_toolBar->addAction(StyleIcon(QStyle::SP_MessageBoxInformation), "About", this, &TMainForm::AboutClick)
      ->setObjectName("ToolButton12");
}

void TMainForm::CreatePopups() {
  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName("PopupMenu1");
  PopupMenu1->addAction("EventCu", this, &TMainForm::OpenEventsWindow);
  PopupMenu1->addAction("OpenScript", this, [this] { OpenScriptWindow(); });
  PopupMenu1->addAction("Properties", this, [this] { PropertiesClick(1); });
  PopupMenu1->addSeparator();
  PopupMenu1->addAction("Disconnect", this, [this] { DisconnectInstrument(false); });
  PopupMenu2 = new QMenu(this);
  PopupMenu2->setObjectName("PopupMenu2");
  PopupMenu2->addAction("&Open", this, [this] { OpenSelectedCu(false); });
  m_openViaCs = PopupMenu2->addAction("Open via CS CU", this, [this] { OpenSelectedCu(true); });
  PopupMenu2->addAction("Properties", this, [this] { PropertiesClick(2); });
  PopupMenu3 = new QMenu(this);
  PopupMenu3->setObjectName("PopupMenu3");
  PopupMenu3->addAction("Connect...", this, &TMainForm::ConnectClick);
  PopupMenu4 = new QMenu(this);
  PopupMenu4->setObjectName("PopupMenu4");
  PopupMenu4->addAction("Properties", this, [this] { PropertiesClick(4); });
}

void TMainForm::CreateDialogs() {
  m_connectDlg = new TEnterInstrAddressDlg(this);
  m_aboutBox = new TAboutBox(m_title, this);
  m_modulePropDlg = new TModulePropDlg(this);
  m_instrPropDlg = new TInstrPropDlg(this);
  m_cuPropDlg = new TCuPropDlg(this);
  m_autostartDlg = new TAutostartDialog(this);
  m_layoutNameDlg = new TLayoutNameDlg(this);
  m_timeForm = new TTimeForm(this);
}

void TMainForm::SetCaption(const QString& suffix) { setWindowTitle(QString("%1  -  %2").arg(m_title, suffix)); }

void TMainForm::ReadSettings() {
  TIniFile& ini = *m_ini;
  m_timeoutMs = ini.ReadInteger(kLastConfig, "Timeout", 5000);
  m_autostartScript = Q(ini.ReadString(kLastConfig, "AutostartScript", ""));
  m_executeAutostart = ini.ReadBool(kLastConfig, "ExecuteAutostart", true);
  m_link = ini.ReadInteger(kLastConfig, "Link", 0);
  if (m_link < 0 || m_link > 4) m_link = 0;  // only LAN and COM1..COM4 exist
  m_lanAddress = Q(ini.ReadString(kLastConfig, "LAN", ""));
  if (ini.ReadInteger(kLastConfig, "Details", 1) == 0) SetDetailsVisible(false);
  if (ini.ReadInteger(kLastConfig, "ToolBar", 1) == 0) {
    m_toolBar->hide();
    Action("ToolBarItem")->setChecked(false);
  }
  m_autoReconnect = ini.ReadInteger(kLastConfig, "AutoConnect", 0) != 0;
  Action("AutoReconnectItem")->setChecked(m_autoReconnect);
  m_openMaximized = ini.ReadInteger(kLastConfig, "OpenMaximized", 0) != 0;
  if (const int width = ini.ReadInteger("WindowPos", "Width", -1); width > 0) {
    const int top = ini.ReadInteger("WindowPos", "Top", y());
    const int left = ini.ReadInteger("WindowPos", "Left", x());
    const int height = ini.ReadInteger("WindowPos", "Height", this->height());
    resize(width, height);
    move(left, top);
  }
  if (const int tree = ini.ReadInteger("WindowPos", "DetailsSize", -1); tree > 0)
    Splitter1->setSizes({tree, std::max(1, Splitter1->width() - tree)});
  ReadFontSettings();
  m_layoutNames.clear();
  for (int i = 1; i <= 3; ++i)
    m_layoutNames << Q(ini.ReadString("LayoutNames", std::to_string(i), "Layout " + std::to_string(i)));
  UpdateLayoutCaptions();
  // Where the simulator or a USB adapter is: ports and serial devices for every connection.
  m_telnetPort = ini.ReadInteger("LAN", "TelnetPort", 23);
  m_dataPort = ini.ReadInteger("LAN", "DataPort", 9100);
  for (int n = 1; n <= 4; ++n) m_serialDevices[n - 1] = Q(ini.ReadString("Serial", "COM" + std::to_string(n), ""));
}

void TMainForm::ApplyStartOptions(const TStartOptions& options) {
  if (options.link) m_link = *options.link;
  if (options.address) m_lanAddress = Q(*options.address);
  if (options.telnetPort) m_telnetPort = *options.telnetPort;
  if (options.dataPort) m_dataPort = *options.dataPort;
  if (!options.serialDevice.empty() && m_link >= 1 && m_link <= 4)
    m_serialDevices[m_link - 1] = Q(options.serialDevice);
}

void TMainForm::ReadFontSettings() {
  const QString name = Q(m_ini->ReadString("Font", "Name", ""));
  if (name.isEmpty()) return;
  m_cuFont.setFamily(name);
  // CharSet has no meaning for Qt's Unicode fonts; it is kept in the file only.
  if (const int height = m_ini->ReadInteger("Font", "Height", 0); height != 0) m_cuFont.setPixelSize(std::abs(height));
  if (m_ini->ReadInteger("Font", "Pitch", 0) == 1) m_cuFont.setFixedPitch(true);
  if (const int size = m_ini->ReadInteger("Font", "Size", 0); size > 0) m_cuFont.setPointSize(size);
  const int style = m_ini->ReadInteger("Font", "Style", 0);
  m_cuFont.setBold(style & 1);
  m_cuFont.setItalic(style & 2);
  m_cuFont.setUnderline(style & 4);
  m_cuFont.setStrikeOut(style & 8);
}

void TMainForm::WriteFontSettings() {
  m_ini->WriteString("Font", "Name", S(m_cuFont.family()));
  m_ini->WriteInteger("Font", "CharSet", 0);
  m_ini->WriteInteger("Font", "Height", m_cuFont.pixelSize() > 0 ? -m_cuFont.pixelSize() : 0);
  m_ini->WriteInteger("Font", "Pitch", m_cuFont.fixedPitch() ? 1 : 0);
  m_ini->WriteInteger("Font", "Size", std::max(0, m_cuFont.pointSize()));
  m_ini->WriteInteger("Font", "Style",
                      (m_cuFont.bold() ? 1 : 0) | (m_cuFont.italic() ? 2 : 0) | (m_cuFont.underline() ? 4 : 0) |
                          (m_cuFont.strikeOut() ? 8 : 0));
}

void TMainForm::UpdateLayoutCaptions() {
  for (int i = 0; i < 3; ++i) {
    m_loadLayout[i]->setText(ActionText(m_layoutNames.value(i)));
    m_saveLayout[i]->setText(ActionText(m_layoutNames.value(i)));
  }
}

// Minimized windows in a row along the bottom edge of the frame, left to right, wrapping upwards.
void TMainForm::ArrangeIcons() {
  int x = 0;
  int y = m_mdi->viewport()->height();
  for (QMdiSubWindow* sub : Children()) {
    if (!sub->isMinimized()) continue;
    const QSize size = sub->size();
    if (x > 0 && x + size.width() > m_mdi->viewport()->width()) {
      x = 0;
      y -= size.height();
    }
    sub->move(x, y - size.height());
    x += size.width();
  }
}

// ---- view and options ----

void TMainForm::SetDetailsVisible(bool visible) {
  Action("InstrDetailsItem")->setChecked(visible);
  if (QAction* button = Action("ViewTreeButton")) button->setChecked(visible);
  TreeView1->setVisible(visible);  // the splitter's handle follows the tree
  m_ini->WriteInteger(kLastConfig, "Details", visible ? 1 : 0);
}

void TMainForm::ToggleDetails() { SetDetailsVisible(TreeView1->isHidden()); }

void TMainForm::ToggleToolBar() {
  const bool visible = m_toolBar->isHidden();
  m_toolBar->setVisible(visible);
  Action("ToolBarItem")->setChecked(visible);
  m_ini->WriteInteger(kLastConfig, "ToolBar", visible ? 1 : 0);
}

void TMainForm::ToggleAutoReconnect() {
  m_autoReconnect = !m_autoReconnect;
  Action("AutoReconnectItem")->setChecked(m_autoReconnect);
  m_ini->WriteInteger(kLastConfig, "AutoConnect", m_autoReconnect ? 1 : 0);
  if (!m_autoReconnect) {
    TimerReconnect->stop();
    if (m_attempt && m_attemptOrigin == TConnectOrigin::Reconnect) CancelConnect();
  }
}

void TMainForm::SetTimeoutClick() {
  bool ok = false;
  const QString text = QInputDialog::getText(this, "Set Timeout", "Enter timeout in milli seconds (min = 3000).",
                                             QLineEdit::Normal, QString::number(m_timeoutMs), &ok);
  if (ok) ApplyTimeoutText(text);
}

void TMainForm::ApplyTimeoutText(const QString& text) {
  int32_t value = 0;
  if (!TIniFile::ParseInteger(S(text), value) || value < 3000) return;  // ignored without a message
  m_timeoutMs = value;
  m_ini->WriteInteger(kLastConfig, "Timeout", value);
  if (m_connection) m_connection->SetTimeout(static_cast<unsigned>(value));
}

void TMainForm::TraceClick() {
  bool ok = false;
  const QString text = QInputDialog::getText(this, "Trace Settings", "Enter trace level (0..4)", QLineEdit::Normal,
                                             QString::number(Tracer().GetLevel()), &ok);
  if (ok) ApplyTraceText(text);
}

void TMainForm::ApplyTraceText(const QString& text) {
  int32_t level = 0;
  if (TIniFile::ParseInteger(S(text), level)) Tracer().SetLevel(level);
}

void TMainForm::FontClick() {
  bool ok = false;
  const QFont font = QFontDialog::getFont(&ok, m_cuFont, this);
  if (ok) ApplyCuFont(font);
}

void TMainForm::ApplyCuFont(const QFont& font) {
  m_cuFont = font;
  WriteFontSettings();
  for (QMdiSubWindow* sub : Children())
    if (auto* form = qobject_cast<TBaseForm*>(sub->widget())) form->ApplyFont(m_cuFont);
}

void TMainForm::TimeCalculationClick() { m_timeForm->exec(); }

void TMainForm::AboutClick() { m_aboutBox->exec(); }

void TMainForm::LayoutNamesClick() {
  m_layoutNameDlg->Preset(m_layoutNames);
  if (m_layoutNameDlg->exec() == QDialog::Accepted) ApplyLayoutNames(m_layoutNameDlg->Names());
}

void TMainForm::ApplyLayoutNames(const QStringList& names) {
  for (int i = 0; i < 3; ++i) {
    m_layoutNames[i] = names.value(i);
    m_ini->WriteString("LayoutNames", std::to_string(i + 1), S(m_layoutNames[i]));
  }
  UpdateLayoutCaptions();
}

void TMainForm::AutostartClick() {
  m_autostartDlg->Preset(m_autostartScript, m_executeAutostart);
  if (m_autostartDlg->exec() == QDialog::Accepted) ApplyAutostart(m_autostartDlg->Script(), m_autostartDlg->Execute());
}

void TMainForm::ApplyAutostart(const QString& script, bool execute) {
  m_autostartScript = script;
  m_executeAutostart = execute;
  m_ini->WriteString(kLastConfig, "AutostartScript", S(script));
  m_ini->WriteBool(kLastConfig, "ExecuteAutostart", execute);
}

// ---- log file ----

void TMainForm::OpenLogClick() {
  if (m_log.IsOn()) return;
  const QString preset = Q(m_ini->ReadString(kLastConfig, "LogFile", "Log.txt"));
  const QString path =
      QFileDialog::getSaveFileName(this, "Open Logfile", preset, QString(), nullptr, QFileDialog::DontConfirmOverwrite);
  if (path.isEmpty()) return;
  if (!OpenLog(path, false)) {
    MorventMessage(this, TMsgKind::Error, "Cannot open log file");
    return;
  }
  m_ini->WriteString(kLastConfig, "LogFile", S(path));
}

bool TMainForm::OpenLog(const QString& path, bool append) {
  if (m_log.IsOn()) return true;
  if (!m_log.Open(S(path), append)) return false;
  Action("OpenLogItem")->setEnabled(false);
  Action("CloseLogItem")->setEnabled(true);
  return true;
}

void TMainForm::CloseLog() {
  if (!m_log.IsOn()) return;
  m_log.Close();
  Action("OpenLogItem")->setEnabled(true);
  Action("CloseLogItem")->setEnabled(false);
}

void TMainForm::WriteLog(const QString& text) {
  if (m_log.IsOn() && !m_log.Write(text.toLatin1().toStdString()))
    Tracer().Trace(1, "Morvent", "cannot write the log file %s", m_log.Path().c_str());
}

// ---- closing ----

void TMainForm::closeEvent(QCloseEvent* event) {
  m_closing = true;
  TimerReconnect->stop();
  m_attempt.reset();  // cancels an attempt under way and waits the moment it takes to give up
  RememberMaximized();
  DisconnectInstrument(false);
  CloseLog();
  CPlotRegistry::Instance().Clear();  // scripts reach no plot window any more
  TFormList::Instance().CloseAll();   // script forms go with the main window
  if (!isMaximized()) {
    m_ini->WriteInteger("WindowPos", "Top", y());
    m_ini->WriteInteger("WindowPos", "Left", x());
    m_ini->WriteInteger("WindowPos", "Width", width());
    m_ini->WriteInteger("WindowPos", "Height", height());
  }
  m_ini->WriteInteger("WindowPos", "DetailsSize", TreeView1->width());
  QMainWindow::closeEvent(event);
}
