// TMainForm: the MDI frame window: menus, tool bar, the instrument tree, the one connection, the
// log file, settings and window layouts; it opens the CU window that fits a CU.
#pragma once

#include <QFont>
#include <QIcon>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <QStyle>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "app/Logfile.h"
#include "app/Startoptions.h"
#include "cuwindows/Instreventlist.h"
#include "cuwindows/Mainlink.h"
#include "qtdispatch/Qtdispatcher.h"
#include "scriptlib/InstrumentHost.h"
#include "scriptlib/Plothost.h"

class CCuDesc;
class CModule;
class CMyZematInstr;
class QAction;
class QLabel;
class QPushButton;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QSplitter;
class QTimer;
class QToolBar;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class TAboutBox;
class TAutostartDialog;
class TBaseForm;
class TConnectAttempt;
class TInstScriptForm;
class TCuPropDlg;
class TEnterInstrAddressDlg;
class TIniFile;
class TInstrPropDlg;
class TLayoutNameDlg;
class TMasterEventList;
class TModulePropDlg;
class TTimeForm;
class TQtFormHost;

// Who asked for a connection: it decides what a failure shows and whether the autostart script runs.
enum class TConnectOrigin { Dialog, ToolButton, Reconnect, Script };
// The outcome of a connect request, on the GUI thread: 0 failed or cancelled, 1 newly connected,
// 2 already connected.
using TConnectDone = std::function<void(int result)>;

class TMainForm : public QMainWindow, public TMainLink, public IInstrumentHost, public IPlotHost {
  Q_OBJECT
 public:
  // Tree node data: the object a node shows, and its level.
  enum { NodeObjectRole = Qt::UserRole, NodeImageRole, NodeSelectedImageRole };

  // programDir: the folder treated as the executable's (settings and trace file live there; empty: the
  // user's configuration folder). options: the command line's values for this run (never written back).
  explicit TMainForm(const QString& programDir, const TStartOptions& options = {}, QWidget* parent = nullptr);
  ~TMainForm() override;

  // ---- operations other parts use ----
  QWidget* OpenCuWindow(std::shared_ptr<CCuDesc> cu, bool viaCs);
  // A plot window as an MDI child (scripts open them through the plot host).
  IPlotWindow* CreatePlotWindow(const std::string& name) override;
  // The "LD" CU's window: it has its own open operation and no list.
  QWidget* OpenFirmwareWindow(std::shared_ptr<CCuDesc> cu);
  TInstScriptForm* OpenScriptWindow();
  void WriteLog(const QString& text) override;
  bool LogOn() const override { return m_log.IsOn(); }
  CMainDispatcher& Dispatcher() override { return m_dispatcher; }
  void EventsWindowClosed() override;
  bool OpenLog(const QString& path, bool append) override;
  void CloseLog() override;
  CMyZematInstr* GetConnection() const { return m_connection.get(); }
  void GetLinkAndAddress(int& link, QString& lanAddress) const;
  // Stores link and address in memory only and connects (no autostart); done gets the connection,
  // or null on failure.
  void ScriptConnect(int link, const QString& lanAddress, std::function<void(CMyZematInstr*)> done);
  void DisconnectInstrument(bool keepWindows);
  void RememberMaximized();

  // ---- what scripts ask for (on the GUI thread) ----
  CZematInstr* Connection() override;
  void LinkAndAddress(int& link, std::string& address) override;
  void Connect(int link, const std::string& address, std::function<void(CZematInstr*)> done) override;
  void Disconnect() override { DisconnectInstrument(false); }
  void OpenCuWindow(std::shared_ptr<CCuDesc> cu) override { OpenCuWindow(std::move(cu), false); }
  void LoadWindowLayout(int n) override { LoadLayout(n); }
  void StartScript(const std::string& commandLine, int closeWhenFinished) override;

  // ---- connection management ----
  // Connecting runs off the GUI thread: these start an attempt (or join the one under way, so that
  // there are never two at once) and report through done when it ends.
  void ConnectInstrument(TConnectOrigin origin, TConnectDone done = {});
  void ConnectAndAutostart(TConnectOrigin origin, TConnectDone done = {});
  bool Connecting() const { return m_attempt != nullptr; }
  // Makes an attempt under way give up soon (it then ends as failed, without a message).
  void CancelConnect();
  void CloseCuWindows(bool keepWindows);
  void ConnectClick();           // the connect dialog
  void ConnectDialogAccepted();  // what OK in the connect dialog does
  void ConnectLastClick();       // tool button "connect to the last instrument"

  // ---- hooks, forwarded by CMyZematInstr ----
  void ConnectionLost();
  void ConfigChanged();
  void ModuleRemoved(CModule* module);
  void ModuleAdded(CModule* module);

  // ---- menu actions that take what their dialog returned ----
  void ApplyTimeoutText(const QString& text);
  void ApplyTraceText(const QString& text);
  void ApplyCuFont(const QFont& font);
  void SetDetailsVisible(bool visible);
  void ToggleDetails();
  void ToggleToolBar();
  void ToggleAutoReconnect();
  void OpenEventsWindow();
  void ApplyLayoutNames(const QStringList& names);
  void ApplyAutostart(const QString& script, bool execute);
  void CuPropertiesClosed(CCuDesc& cu);

  // ---- layouts ----
  void SaveLayout(int n);
  void LoadLayout(int n);
  static QString LayoutKey(const CCuDesc* cu);

  // ---- where MDI children go ----
  void PlaceNewChild(QMdiSubWindow* sub);  // after it was shown at its designed size
  void CascadeChildren();
  // Where a child goes back to from minimized or maximized (its geometry while it is normal).
  static QRect NormalGeometry(const QMdiSubWindow* sub);

  // ---- tree ----
  QMenu* PopupForItem(QTreeWidgetItem* item);  // the popup a right click on item opens (none: no node)
  void TreeRightClick(const QPoint& pos);
  void OpenSelectedCu(bool viaCs);

  // ---- state seen by tests and other parts ----
  QString Title() const { return m_title; }
  int Link() const { return m_link; }
  QString LanAddress() const { return m_lanAddress; }
  int TimeoutMs() const { return m_timeoutMs; }
  bool AutoReconnect() const { return m_autoReconnect; }
  bool OpenMaximized() const { return m_openMaximized; }
  int LogState() const { return m_log.GetState(); }
  QString LogPath() const { return QString::fromStdString(m_log.Path()); }
  QStringList LayoutNames() const { return m_layoutNames; }
  QFont CuFont() const { return m_cuFont; }
  QString AutostartScript() const { return m_autostartScript; }
  bool ExecuteAutostart() const { return m_executeAutostart; }
  TIniFile& Ini() const { return *m_ini; }
  QList<QMdiSubWindow*> Children() const;  // open MDI children in child order
  QAction* Action(const QString& objectName) const;
  // LAN ports and serial devices from the settings, handed to each new connection.
  int TelnetPort() const { return m_telnetPort; }
  int DataPort() const { return m_dataPort; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateWidgets();
  void CreateActions();
  void CreateMenus();
  void CreateToolBar();
  void CreatePopups();
  void CreateDialogs();
  void ReadSettings();
  void ApplyStartOptions(const TStartOptions& options);
  void ReadFontSettings();
  void WriteFontSettings();
  void UpdateLayoutCaptions();
  int DefaultTreeWidth();
  void SetCaption(const QString& suffix);
  void ConnectFinished(unsigned attempt);
  void ShowConnecting(bool on);
  void FillTree();
  void AddModuleNode(QTreeWidgetItem* root, CModule* module);
  // The tree's image for a node (index 0 instrument, 1 module, 2 CU, 3 module behind the CS path, 4
  // selected CU), with another image when selected.
  static const QIcon& TreeIcon(int image, int selectedImage);
  // The style's icon, made once per process like the tree's: an icon made per node or window keeps
  // pixmaps of its own and fills the pixmap cache under new keys on every connect or window.
  static const QIcon& StyleIcon(QStyle::StandardPixmap which);
  QTreeWidgetItem* RootNode() const;
  void AfterChildCreated(QMdiSubWindow* sub);
  void Timer1Timer();
  void TimerReconnectTimer();
  void SetTimeoutClick();
  void TraceClick();
  void FontClick();
  void OpenLogClick();
  void TimeCalculationClick();
  void AboutClick();
  void LayoutNamesClick();
  void AutostartClick();
  void PropertiesClick(int popup);
  void BuildWindowMenu();
  void ArrangeIcons();

  QString m_programDir;
  std::unique_ptr<TQtFormHost> m_formHost;  // script forms and dialogs
  QString m_title;
  std::unique_ptr<TIniFile> m_ini;
  TQtDispatcher m_dispatcher;
  // The connection's calls to the GUI thread: held while an attempt runs, passed on once it is ours.
  CGateDispatcher m_gate{m_dispatcher};
  std::unique_ptr<CMyZematInstr> m_connection;
  std::unique_ptr<TConnectAttempt> m_attempt;
  unsigned m_attemptId = 0;
  TConnectOrigin m_attemptOrigin = TConnectOrigin::Dialog;
  std::vector<TConnectDone> m_attemptWaiters;
  bool m_attemptCancelled = false;  // the last attempt ended because it was cancelled
  int m_link = 0;
  QString m_lanAddress;
  int m_timeoutMs = 5000;
  QString m_autostartScript;
  bool m_executeAutostart = true;
  bool m_autoReconnect = false;
  bool m_openMaximized = false;
  int m_lastChildCount = 0;
  std::atomic<int> m_reconnectRequest{0};
  TLogFile m_log;
  QStringList m_layoutNames;
  QPointer<TMasterEventList> m_eventsWindow;
  QFont m_cuFont;
  int m_telnetPort = 23;
  int m_dataPort = 9100;
  QString m_serialDevices[4];
  bool m_closing = false;

  QMdiArea* m_mdi;
  QTreeWidget* TreeView1;
  QSplitter* Splitter1;
  QToolBar* m_toolBar;
  QToolButton* ViewTreeButton = nullptr;
  QTimer* Timer1;
  QTimer* TimerReconnect;
  QLabel* m_connectingLabel = nullptr;
  QPushButton* m_cancelConnectButton = nullptr;
  QMenu* m_windowMenu = nullptr;
  QMenu* PopupMenu1 = nullptr;
  QMenu* PopupMenu2 = nullptr;
  QMenu* PopupMenu3 = nullptr;
  QMenu* PopupMenu4 = nullptr;
  QAction* m_openViaCs = nullptr;
  QAction* m_loadLayout[3] = {};
  QAction* m_saveLayout[3] = {};

  TEnterInstrAddressDlg* m_connectDlg = nullptr;
  TAboutBox* m_aboutBox = nullptr;
  TModulePropDlg* m_modulePropDlg = nullptr;
  TInstrPropDlg* m_instrPropDlg = nullptr;
  TCuPropDlg* m_cuPropDlg = nullptr;
  TAutostartDialog* m_autostartDlg = nullptr;
  TLayoutNameDlg* m_layoutNameDlg = nullptr;
  TTimeForm* m_timeForm = nullptr;
};
