// The main window without an instrument: start-up state and captions, settings read at start (with
// garbage), menus, tool bar, option dialogs' effects, the log file, view toggles and closing.
#include <QAction>
#include <QCheckBox>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStyleOptionTitleBar>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>

#include "Appfixture.h"
#include "StandardApp/Tracer.h"
#include "app/Autostartdlg.h"
#include "app/Connectdlg.h"
#include "app/Inifile.h"
#include "app/Mainform.h"

namespace {

// Saves the dialog under a title bar as the style draws one at the dialog's width, in the desktop's bold
// title font; tells whether the title shows in full there.
bool TitleShownInFull(QDialog* dialog, const char* picture) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::TitleFont);
  font.setBold(true);
  QStyleOptionTitleBar bar;
  bar.initFrom(dialog);
  bar.text = dialog->windowTitle();
  bar.icon = dialog->style()->standardIcon(QStyle::SP_TitleBarMenuButton);
  bar.titleBarFlags = Qt::Window | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint;
  bar.subControls = QStyle::SC_All;
  bar.state |= QStyle::State_Active;
  bar.rect = QRect(0, 0, dialog->width(), dialog->style()->pixelMetric(QStyle::PM_TitleBarHeight, &bar, dialog));
  const QPixmap body = dialog->grab();
  QPixmap image(body.width(), body.height() + bar.rect.height());
  QPainter painter(&image);
  painter.setFont(font);
  dialog->style()->drawComplexControl(QStyle::CC_TitleBar, &bar, &painter, dialog);
  painter.drawPixmap(0, bar.rect.height(), body);
  painter.end();
  QLabel shown;
  shown.setPixmap(image);
  shown.resize(image.size());
  Screenshot(&shown, picture);
  const QRect label = dialog->style()->subControlRect(QStyle::CC_TitleBar, &bar, QStyle::SC_TitleBarLabel, dialog);
  return QFontMetrics(font).horizontalAdvance(bar.text) <= label.width();
}

QStringList MenuTexts(const QMenu* menu) {
  QStringList texts;
  for (QAction* a : menu->actions())
    if (!a->isSeparator()) texts << a->text();
  return texts;
}

TEST(MainFormStart, CaptionDefaultsMenusAndToolBar) {
  TProgramDir dir;
  TMainForm form(dir.Dir());
  EXPECT_EQ(form.Title(), "Morvent v5.66");
  EXPECT_EQ(form.windowTitle(), "Morvent v5.66  -  not connected");
  EXPECT_EQ(form.TimeoutMs(), 5000);
  EXPECT_EQ(form.Link(), 0);
  EXPECT_TRUE(form.LanAddress().isEmpty());
  EXPECT_TRUE(form.ExecuteAutostart());
  EXPECT_FALSE(form.AutoReconnect());
  EXPECT_EQ(form.LayoutNames(), (QStringList{"Layout 1", "Layout 2", "Layout 3"}));
  EXPECT_EQ(form.pos(), QPoint(370, 342));
  EXPECT_EQ(form.size(), QSize(807, 594));
  EXPECT_EQ(form.TelnetPort(), 23);
  EXPECT_EQ(form.DataPort(), 9100);
  EXPECT_EQ(form.GetConnection(), nullptr);

  QStringList menus;
  for (QAction* a : form.menuBar()->actions()) menus << a->text();
  EXPECT_EQ(menus, (QStringList{"&Instrument", "View", "Options", "&Window", "&Help"}));
  EXPECT_EQ(MenuTexts(form.menuBar()->actions()[0]->menu()),
            (QStringList{"&Connect...", "Disconnect", "Open Script...", "E&xit"}));
  EXPECT_EQ(MenuTexts(form.menuBar()->actions()[2]->menu()),
            (QStringList{"Font...", "Open Logfile...", "Close Logfile", "Autostartscript..", "Auto Reconnect",
                         "Set Timeout...", "Time Calculation...", "Morvent Traces..."}));
  EXPECT_TRUE(form.Action("InstrDetailsItem")->isChecked());
  EXPECT_TRUE(form.Action("ToolBarItem")->isChecked());
  EXPECT_FALSE(form.Action("CloseLogItem")->isEnabled());
  EXPECT_TRUE(form.Action("OpenScriptItem")->isEnabled());
  EXPECT_TRUE(form.Action("ToolButton10")->isEnabled());
  EXPECT_EQ(form.Action("ExitItem")->statusTip(), "Exit this application");
  EXPECT_EQ(form.Action("TileItem")->statusTip(), "Tile all windows");
  EXPECT_EQ(form.Action("CascadeItem")->statusTip(), "Cascade all windows");
  EXPECT_EQ(form.Action("ArrangeItem")->statusTip(), "Arrange minimized windows");
  EXPECT_EQ(form.Action("AboutItem")->statusTip(), "Show program information");
  QStringList buttons;
  for (QAction* a : Find<QToolBar>(form, "ToolBar")->actions()) buttons << (a->isSeparator() ? "|" : a->objectName());
  EXPECT_EQ(buttons, (QStringList{"ToolButton7", "ToolButton8", "|", "ToolButton10", "|", "ViewTreeButton", "|",
                                  "ToolButton12"}));
  EXPECT_EQ(form.Action("LoadLayout2")->text(), "Layout 2");
  EXPECT_EQ(MenuTexts(Find<QMenu>(form, "PopupMenu1")),
            (QStringList{"EventCu", "OpenScript", "Properties", "Disconnect"}));
  EXPECT_EQ(MenuTexts(Find<QMenu>(form, "PopupMenu2")), (QStringList{"&Open", "Open via CS CU", "Properties"}));
  EXPECT_EQ(MenuTexts(Find<QMenu>(form, "PopupMenu3")), QStringList{"Connect..."});
  EXPECT_EQ(MenuTexts(Find<QMenu>(form, "PopupMenu4")), QStringList{"Properties"});
  EXPECT_EQ(form.PopupForItem(nullptr), Find<QMenu>(form, "PopupMenu3"));  // no node, not connected
  EXPECT_EQ(Find<QTimer>(form, "Timer1")->interval(), 50);
  EXPECT_TRUE(Find<QTimer>(form, "Timer1")->isSingleShot());
  EXPECT_EQ(Find<QTimer>(form, "TimerReconnect")->interval(), 5000);
}

TEST(MainFormStart, ReadsEverySetting) {
  TProgramDir dir;
  dir.WriteIni(
      "[LastConfig]\nTimeout=8000\nAutostartScript=/x/start.pas\nExecuteAutostart=0\nLink=2\nLAN=10.1.2.3\n"
      "Details=0\nToolBar=0\nAutoConnect=1\nOpenMaximized=1\n"
      "[WindowPos]\nTop=40\nLeft=30\nWidth=900\nHeight=700\nDetailsSize=200\n"
      "[Font]\nName=Monospace\nSize=11\nStyle=5\n"
      "[LayoutNames]\n1=Service\n3=Night\n[LAN]\nTelnetPort=2323\nDataPort=19100\n");
  TMainForm form(dir.Dir());
  EXPECT_EQ(form.TimeoutMs(), 8000);
  EXPECT_EQ(form.AutostartScript(), "/x/start.pas");
  EXPECT_FALSE(form.ExecuteAutostart());
  EXPECT_EQ(form.Link(), 2);
  EXPECT_EQ(form.LanAddress(), "10.1.2.3");
  EXPECT_TRUE(Find<QTreeWidget>(form, "TreeView1")->isHidden());
  EXPECT_FALSE(form.Action("InstrDetailsItem")->isChecked());
  EXPECT_FALSE(form.Action("ViewTreeButton")->isChecked());
  EXPECT_TRUE(Find<QToolBar>(form, "ToolBar")->isHidden());
  EXPECT_FALSE(form.Action("ToolBarItem")->isChecked());
  EXPECT_TRUE(form.AutoReconnect());
  EXPECT_TRUE(form.Action("AutoReconnectItem")->isChecked());
  EXPECT_TRUE(form.OpenMaximized());
  EXPECT_EQ(form.pos(), QPoint(30, 40));
  EXPECT_EQ(form.size(), QSize(900, 700));
  EXPECT_EQ(form.CuFont().family(), "Monospace");
  EXPECT_EQ(form.CuFont().pointSize(), 11);
  EXPECT_TRUE(form.CuFont().bold());
  EXPECT_FALSE(form.CuFont().italic());
  EXPECT_TRUE(form.CuFont().underline());
  EXPECT_EQ(form.LayoutNames(), (QStringList{"Service", "Layout 2", "Night"}));
  EXPECT_EQ(form.Action("SaveLayout3")->text(), "Night");
  EXPECT_EQ(form.TelnetPort(), 2323);
  EXPECT_EQ(form.DataPort(), 19100);
}

TEST(MainFormStart, GarbageSettingsReadAsDefaults) {
  TProgramDir dir;
  dir.WriteIni(
      "[LastConfig]\nTimeout=fast\nLink=9\nDetails=yes\nToolBar=\nAutoConnect=on\n"
      "[WindowPos]\nTop=1\nWidth=0\n\x01\x02garbage line\n[LAN]\nDataPort=port\n");
  TMainForm form(dir.Dir());
  EXPECT_EQ(form.TimeoutMs(), 5000);
  EXPECT_EQ(form.Link(), 0);  // out of range
  EXPECT_FALSE(Find<QTreeWidget>(form, "TreeView1")->isHidden());
  EXPECT_FALSE(Find<QToolBar>(form, "ToolBar")->isHidden());
  EXPECT_FALSE(form.AutoReconnect());
  EXPECT_EQ(form.pos(), QPoint(370, 342));  // Width 0: the designed position stays
  EXPECT_EQ(form.DataPort(), 9100);
}

TEST(MainFormOptions, TimeoutAcceptsOnly3000AndAbove) {
  TProgramDir dir;
  TMainForm form(dir.Dir());
  form.ApplyTimeoutText("2999");
  EXPECT_EQ(form.TimeoutMs(), 5000);
  form.ApplyTimeoutText("abc");
  form.ApplyTimeoutText("-4000");
  EXPECT_EQ(form.TimeoutMs(), 5000);
  EXPECT_FALSE(form.Ini().ValueExists("LastConfig", "Timeout"));
  form.ApplyTimeoutText("3000");
  EXPECT_EQ(form.TimeoutMs(), 3000);
  form.ApplyTimeoutText("2147483647");
  EXPECT_EQ(form.TimeoutMs(), 2147483647);
  EXPECT_EQ(TIniFile(dir.Ini()).ReadInteger("LastConfig", "Timeout", 0), 2147483647);
}

TEST(MainFormOptions, TraceLevelTakesIntegersOnly) {
  TProgramDir dir;
  TMainForm form(dir.Dir());
  EXPECT_EQ(Tracer().GetLevel(), 0);
  form.ApplyTraceText("3");
  EXPECT_EQ(Tracer().GetLevel(), 3);
  form.ApplyTraceText("x");
  form.ApplyTraceText("9");  // the trace log keeps its range
  EXPECT_EQ(Tracer().GetLevel(), 3);
  form.ApplyTraceText("0");
  EXPECT_EQ(Tracer().GetFileName(), (dir.path / "Morvent.trc").string());
}

TEST(MainFormOptions, ViewTogglesAndAutoReconnectAreStored) {
  TProgramDir dir;
  TMainForm form(dir.Dir());
  form.Action("InstrDetailsItem")->trigger();
  EXPECT_TRUE(Find<QTreeWidget>(form, "TreeView1")->isHidden());
  EXPECT_FALSE(form.Action("ViewTreeButton")->isChecked());
  form.Action("ViewTreeButton")->trigger();
  EXPECT_FALSE(Find<QTreeWidget>(form, "TreeView1")->isHidden());
  EXPECT_TRUE(form.Action("InstrDetailsItem")->isChecked());
  form.Action("ToolBarItem")->trigger();
  EXPECT_TRUE(Find<QToolBar>(form, "ToolBar")->isHidden());
  form.Action("AutoReconnectItem")->trigger();
  EXPECT_TRUE(form.AutoReconnect());
  TIniFile ini(dir.Ini());
  EXPECT_EQ(ini.ReadInteger("LastConfig", "Details", -1), 1);
  EXPECT_EQ(ini.ReadInteger("LastConfig", "ToolBar", -1), 0);
  EXPECT_EQ(ini.ReadInteger("LastConfig", "AutoConnect", -1), 1);
}

TEST(MainFormOptions, FontLayoutNamesAndAutostartAreWritten) {
  TProgramDir dir;
  {
    TMainForm form(dir.Dir());
    QFont font("Monospace");
    font.setPointSize(13);
    font.setItalic(true);
    font.setStrikeOut(true);
    form.ApplyCuFont(font);
    form.ApplyLayoutNames({"A", "B", "C"});
    EXPECT_EQ(form.Action("LoadLayout1")->text(), "A");
    form.ApplyAutostart("/s/auto.pas", false);
  }
  TIniFile ini(dir.Ini());
  EXPECT_EQ(ini.ReadString("Font", "Name", ""), "Monospace");
  EXPECT_EQ(ini.ReadInteger("Font", "Size", 0), 13);
  EXPECT_EQ(ini.ReadInteger("Font", "Style", 0), 10);
  EXPECT_EQ(ini.ReadString("LayoutNames", "2", ""), "B");
  EXPECT_EQ(ini.ReadString("LastConfig", "AutostartScript", ""), "/s/auto.pas");
  EXPECT_EQ(ini.ReadString("LastConfig", "ExecuteAutostart", ""), "0");
  TMainForm again(dir.Dir());
  EXPECT_EQ(again.CuFont().pointSize(), 13);
  EXPECT_TRUE(again.CuFont().italic());
  EXPECT_TRUE(again.CuFont().strikeOut());
  EXPECT_EQ(again.LayoutNames(), (QStringList{"A", "B", "C"}));
}

TEST(MainFormOptions, LayoutNamesShowAsWrittenInTheMenus) {
  TProgramDir dir;
  TMainForm form(dir.Dir());
  form.ApplyLayoutNames({"Main &Monitor", "A&&B", "Plain"});
  // iconText: what a menu shows of an action's text, the access key marks ("&") taken out.
  EXPECT_EQ(form.Action("LoadLayout1")->iconText(), "Main &Monitor");
  EXPECT_EQ(form.Action("SaveLayout2")->iconText(), "A&&B");
}

TEST(MainFormOptions, AutostartDialogFollowsItsCheckBox) {
  TProgramDir dir;
  TMainForm form(dir.Dir());
  TAutostartDialog* dlg = Find<TAutostartDialog>(form);
  EXPECT_EQ(dlg->windowTitle(), "Configure Autostart Script");
  dlg->Preset("/a.pas", false);
  EXPECT_TRUE(dlg->AutostartEdit->isReadOnly());
  EXPECT_FALSE(dlg->BrowseButton->isEnabled());
  dlg->ExecuteCheck->click();
  EXPECT_FALSE(dlg->AutostartEdit->isReadOnly());
  EXPECT_TRUE(dlg->BrowseButton->isEnabled());
}

TEST(MainFormDialogs, TitlesAndTypicalValuesFitAndTheDialogsOpenCentredOnTheScreen) {
  TProgramDir dir;
  TMainForm form(dir.Dir());
  form.show();  // at its designed place, off the screen's centre
  Find<TEnterInstrAddressDlg>(form)->Preset(0, "192.168.100.200");
  Find<TAutostartDialog>(form)->Preset("/home/service/morvent/scripts/autostart.pas", true);
  const QPoint centre = form.screen()->availableGeometry().center();
  for (QDialog* dialog : form.findChildren<QDialog*>()) {
    if (dialog->inherits("TAboutBox") || dialog->inherits("TTimeForm")) continue;  // not the main window's own
    const std::string title = dialog->windowTitle().toStdString();
    dialog->show();
    EXPECT_LE((dialog->frameGeometry().center() - centre).manhattanLength(), 4) << title;
    EXPECT_TRUE(TitleShownInFull(dialog, dialog->metaObject()->className())) << title << ", " << dialog->width();
    dialog->hide();
  }
  for (QLineEdit* field : {Find<TEnterInstrAddressDlg>(form)->EditLanAddr, Find<TAutostartDialog>(form)->AutostartEdit})
    EXPECT_GE(field->width(), field->fontMetrics().horizontalAdvance(field->text())) << field->text().toStdString();
}

TEST(MainFormLog, NewAppendLinesAndClose) {
  TProgramDir dir;
  TMainForm form(dir.Dir());
  const QString path = QString::fromStdString((dir.path / "Log.txt").string());
  form.WriteLog("not logged");
  ASSERT_TRUE(form.OpenLog(path, false));
  EXPECT_EQ(form.LogState(), 1);
  EXPECT_FALSE(form.Action("OpenLogItem")->isEnabled());
  EXPECT_TRUE(form.Action("CloseLogItem")->isEnabled());
  form.WriteLog("first");
  form.WriteLog(QString::fromLatin1("second \xb5"));
  EXPECT_TRUE(form.OpenLog("/elsewhere", false));  // already on: nothing changes
  EXPECT_EQ(form.LogPath(), path);
  form.CloseLog();
  EXPECT_EQ(form.LogState(), 0);
  form.WriteLog("after close");
  EXPECT_EQ(dir.ReadFile("Log.txt"), "first\r\nsecond \xb5\r\n");
  ASSERT_TRUE(form.OpenLog(path, true));
  EXPECT_EQ(form.LogState(), 2);
  form.WriteLog("third");
  EXPECT_EQ(dir.ReadFile("Log.txt"), "first\r\nsecond \xb5\r\nthird\r\n");
  form.CloseLog();
  ASSERT_TRUE(form.OpenLog(path, false));  // new: truncated
  form.CloseLog();
  EXPECT_EQ(dir.ReadFile("Log.txt"), "");
  EXPECT_TRUE(form.OpenLog(QString::fromStdString((dir.path / "fresh.txt").string()), true));
  EXPECT_EQ(form.LogState(), 1);  // nothing to append to: created new
}

TEST(MainFormLog, UnwritableLogStaysOff) {
  TProgramDir dir;
  TMainForm form(dir.Dir());
  std::ofstream(dir.path / "file");
  EXPECT_FALSE(form.OpenLog(QString::fromStdString((dir.path / "file" / "Log.txt").string()), false));
  EXPECT_EQ(form.LogState(), 0);
  EXPECT_TRUE(form.Action("OpenLogItem")->isEnabled());
  EXPECT_FALSE(form.OpenLog("", false));
}

TEST(MainFormClose, WritesPositionAndTreeWidth) {
  TProgramDir dir;
  {
    TMainForm form(dir.Dir());
    form.show();
    form.resize(700, 500);
    form.move(50, 60);
    auto* splitter = qobject_cast<QSplitter*>(Find<QTreeWidget>(form, "TreeView1")->parentWidget());
    splitter->setSizes({240, 460});
    form.close();
  }
  TIniFile ini(dir.Ini());
  EXPECT_EQ(ini.ReadInteger("WindowPos", "Width", -1), 700);
  EXPECT_EQ(ini.ReadInteger("WindowPos", "Height", -1), 500);
  EXPECT_EQ(ini.ReadInteger("WindowPos", "DetailsSize", -1), 240);
  TMainForm again(dir.Dir());
  again.show();
  EXPECT_EQ(again.size(), QSize(700, 500));
  EXPECT_EQ(Find<QTreeWidget>(again, "TreeView1")->width(), 240);  // the saved width wins over the default
}

TEST(MainFormNotConnected, DisconnectLayoutsAndConnectFailure) {
  TProgramDir dir;
  TMessageRecorder recorder;
  TMainForm form(dir.Dir());
  form.DisconnectInstrument(false);
  EXPECT_EQ(form.windowTitle(), "Morvent v5.66  -  not connected");
  form.SaveLayout(1);
  form.LoadLayout(1);
  EXPECT_FALSE(form.Ini().SectionExists("LastWindows-1"));
  EXPECT_TRUE(form.Children().isEmpty());
  form.ApplyTimeoutText("3000");
  // Nothing listens on these ports: the connection fails with the message and no caption change.
  form.Ini().WriteString("LastConfig", "LAN", "127.0.0.1");
  TIniFile& ini = form.Ini();
  ini.WriteInteger("LAN", "TelnetPort", 1);
  ini.WriteInteger("LAN", "DataPort", 1);
  TMainForm fresh(dir.Dir());
  fresh.ConnectLastClick();
  ASSERT_TRUE(WaitFor([&] { return !fresh.Connecting(); }));
  EXPECT_EQ(recorder.Texts(), QStringList{"Connection to instrument failed"});
  EXPECT_EQ(fresh.windowTitle(), "Morvent v5.66  -  not connected");
  EXPECT_EQ(fresh.GetConnection(), nullptr);
}

}  // namespace
