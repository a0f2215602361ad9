// The main window connected to the simulator (a configured instrument): tree and captions, the window kind
// table, an instruction and its reply in the window and the log, layouts, modules removed and added, the
// connection lost with auto-reconnect, and closing while readers are busy. Saves screenshots.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QSet>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <thread>

#include "Appfixture.h"
#include "app/Connectdlg.h"
#include "app/Inifile.h"
#include "app/Mainform.h"
#include "app/Maininstr.h"
#include "app/Propdlgs.h"
#include "cuwindows/Analreport.h"
#include "cuwindows/Asciilist.h"
#include "cuwindows/Canslave.h"
#include "cuwindows/Inreply.h"
#include "cuwindows/Instreventlist.h"
#include "scripthost/Instscriptform.h"
#include "support/Simulator.h"

namespace {

const char* const kConfig = R"({"modules": [
  {"type": "G1", "serial": "123", "cus": [
    {"name": "IN", "replies": {"*IDN?": "G1,123\nready"}},
    {"name": "EV"}, {"name": "MO"}, {"name": "INX"},
    {"name": "in", "owner": "G1LOW"}, {"name": "AR"}, {"name": "CS"}]},
  {"type": "PUMP", "serial": "7", "cus": [{"name": "IN"}, {"name": "EV"}]},
  {"type": "VALVE", "serial": "S1", "list": 2, "cus": [{"name": "IN"}, {"name": "CS_IO"}]}
]})";

class Connected : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.WriteIni("[LastConfig]\nLAN=127.0.0.1\nTimeout=3000\n[LAN]\nTelnetPort=" + std::to_string(sim.TelnetPort()) +
                 "\nDataPort=" + std::to_string(sim.DataPort()) + "\n");
    form = std::make_unique<TMainForm>(dir.Dir());
    form->show();
    ASSERT_EQ(ConnectAndWait(*form, TConnectOrigin::ToolButton), 1);
  }
  void TearDown() override {
    if (form) form->close();
    form.reset();
  }
  std::shared_ptr<CCuDesc> Cu(const char* module, const char* name) const {
    CMyZematInstr* c = form->GetConnection();
    for (int i = 0; c && i < c->GetModuleCount(); ++i) {
      std::shared_ptr<CModule> m = c->GetModule(i);
      if (QString(m->GetModuleType()) != module) continue;
      for (int j = 0; j < m->GetCuDescCount(); ++j)
        if (QString(m->GetCuDesc(j)->GetCuName()) == name) return m->GetCuDesc(j);
    }
    return nullptr;
  }
  QStringList ChildTitles() const {
    QStringList t;
    for (QMdiSubWindow* s : form->Children()) t << s->widget()->windowTitle();
    return t;
  }
  QTreeWidgetItem* ModuleNode(int i) const { return Find<QTreeWidget>(*form, "TreeView1")->topLevelItem(0)->child(i); }

  TProgramDir dir;
  Simulator sim{kConfig};
  TMessageRecorder recorder;
  std::unique_ptr<TMainForm> form;
};

TEST_F(Connected, TreeCaptionsImagesAndPopups) {
  EXPECT_EQ(form->windowTitle(), "Morvent v5.66  -  127.0.0.1");
  QTreeWidget* tree = Find<QTreeWidget>(*form, "TreeView1");
  ASSERT_EQ(tree->topLevelItemCount(), 1);
  QTreeWidgetItem* root = tree->topLevelItem(0);
  EXPECT_EQ(root->text(0), "Serion Instrument");
  EXPECT_EQ(root->data(0, TMainForm::NodeImageRole).toInt(), 0);
  ASSERT_EQ(root->childCount(), 3);
  EXPECT_EQ(root->child(0)->text(0), "G1 - 123");
  EXPECT_EQ(root->child(1)->text(0), "PUMP - 7");
  EXPECT_EQ(root->child(2)->text(0), "VALVE - S1");
  EXPECT_EQ(root->child(0)->data(0, TMainForm::NodeImageRole).toInt(), 1);
  EXPECT_EQ(root->child(2)->data(0, TMainForm::NodeImageRole).toInt(), 3);  // reported through the CS path
  QStringList cus;
  for (int i = 0; i < root->child(0)->childCount(); ++i) cus << root->child(0)->child(i)->text(0);
  EXPECT_EQ(cus, (QStringList{"IN", "EV", "MO", "INX", "in", "AR", "CS"}));
  QTreeWidgetItem* cuNode = root->child(0)->child(0);
  EXPECT_EQ(cuNode->data(0, TMainForm::NodeImageRole).toInt(), 2);
  EXPECT_EQ(cuNode->data(0, TMainForm::NodeSelectedImageRole).toInt(), 4);
  // Icons are shared, by nodes and by windows: each icon of its own would fill the pixmap cache anew.
  EXPECT_EQ(cuNode->icon(0).cacheKey(), root->child(1)->child(0)->icon(0).cacheKey());
  QWidget* script = form->OpenScriptWindow()->parentWidget();
  EXPECT_EQ(script->windowIcon().cacheKey(), Find<QAction>(*form, "ToolButton10")->icon().cacheKey());
  script->close();

  EXPECT_EQ(form->PopupForItem(root), Find<QMenu>(*form, "PopupMenu1"));
  EXPECT_EQ(form->PopupForItem(root->child(1)), Find<QMenu>(*form, "PopupMenu4"));
  EXPECT_EQ(form->PopupForItem(nullptr), Find<QMenu>(*form, "PopupMenu1"));  // no node, connected
  QAction* viaCs = Find<QMenu>(*form, "PopupMenu2")->actions()[1];
  EXPECT_EQ(form->PopupForItem(cuNode), Find<QMenu>(*form, "PopupMenu2"));
  EXPECT_FALSE(viaCs->isEnabled());
  form->PopupForItem(root->child(2)->child(1));
  EXPECT_TRUE(viaCs->isEnabled());
  Screenshot(form.get(), "main-connected");

  // Connecting again through the dialog only stores the new address.
  Find<TEnterInstrAddressDlg>(*form)->Preset(0, "10.9.9.9");
  form->ConnectDialogAccepted();
  EXPECT_EQ(form->LanAddress(), "10.9.9.9");
  EXPECT_EQ(form->Ini().ReadString("LastConfig", "LAN", ""), "10.9.9.9");
  EXPECT_EQ(form->windowTitle(), "Morvent v5.66  -  127.0.0.1");
  EXPECT_TRUE(recorder.messages.isEmpty());
}

TEST_F(Connected, CuPropertiesWriteTheExtraBufferCountsBack) {
  std::shared_ptr<CCuDesc> cu = Cu("G1", "IN");
  Find<TCuPropDlg>(*form)->Fill(cu.get());
  EXPECT_EQ(Find<TCuPropDlg>(*form)->NameLabel->text(), "IN");
  EXPECT_EQ(Find<TCuPropDlg>(*form)->InCount->text(), "4");
  Find<TCuPropDlg>(*form)->EditNumIn->setText("5abc");
  Find<TCuPropDlg>(*form)->EditNumOut->setText("x");
  form->CuPropertiesClosed(*cu);
  EXPECT_EQ(cu->GetRequestedIn(), 5);
  EXPECT_EQ(cu->GetRequestedOut(), 0);
}

TEST_F(Connected, InstructionAndReplyInTheWindowAndTheLog) {
  const QString log = QString::fromStdString((dir.path / "Log.txt").string());
  ASSERT_TRUE(form->OpenLog(log, false));
  auto* in = qobject_cast<TInReplyForm*>(form->OpenCuWindow(Cu("G1", "IN"), false));
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(in->windowTitle(), "G1 - 123 - Instruction/Reply");
  in->Input()->setText("*IDN?");
  in->SendInput();
  ASSERT_TRUE(WaitFor([&] { return in->List()->count() == 3; }));
  EXPECT_EQ(in->List()->item(1)->text(), "G1,123");
  EXPECT_EQ(in->List()->item(2)->text(), "      ready");
  Screenshot(form.get(), "in-window-replies");
  form->CloseCuWindows(false);
  form->CloseLog();
  EXPECT_EQ(dir.ReadFile("Log.txt"),
            "opened G1 - 123 - Instruction/Reply\r\nG1: *IDN?\r\nG1: G1,123\r\n"
            "G1:       ready\r\nclosed G1 - 123 - Instruction/Reply\r\n");
}

TEST_F(Connected, WindowKindTableDecidesClassCaptionAndViaCs) {
  EXPECT_NE(qobject_cast<TInReplyForm*>(form->OpenCuWindow(Cu("G1", "in"), false)), nullptr);
  EXPECT_EQ(form->OpenCuWindow(Cu("G1", "INX"), false), nullptr);
  ASSERT_EQ(recorder.messages.size(), 1);
  EXPECT_EQ(recorder.messages[0].first, TMsgKind::Information);
  EXPECT_EQ(recorder.messages[0].second, "There is no I/O window available for the requested CU");
  QWidget* ar = form->OpenCuWindow(Cu("G1", "AR"), false);
  EXPECT_NE(qobject_cast<TAnalysisReport*>(ar), nullptr);
  EXPECT_EQ(ar->windowTitle(), "G1 - 123 - Analysis Report");
  QWidget* inViaCs = form->OpenCuWindow(Cu("PUMP", "IN"), true);
  ASSERT_NE(inViaCs, nullptr);
  EXPECT_EQ(inViaCs->windowTitle(), "PUMP - 7 - Instruction/Reply");  // viaCs reaches CS_IO only
  QWidget* slave = form->OpenCuWindow(Cu("VALVE", "CS_IO"), true);
  ASSERT_NE(qobject_cast<TCanSlaveForm*>(slave), nullptr) << recorder.Texts().join("; ").toStdString();
  EXPECT_EQ(slave->windowTitle(), "VALVE - S1 - CanSlave - via CAP CS-CU");
  EXPECT_EQ(form->Children().size(), 4);
}

TEST_F(Connected, FirstWindowOpensMaximizedWhenTheLastOneWas) {
  QWidget* first = form->OpenCuWindow(Cu("G1", "MO"), false);
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(first->parentWidget()->isMaximized());
  first->parentWidget()->showMaximized();
  ASSERT_NE(form->OpenCuWindow(Cu("G1", "IN"), false), nullptr);  // remembers that a window was maximized
  EXPECT_TRUE(form->OpenMaximized());
  form->CloseCuWindows(false);
  EXPECT_EQ(form->Ini().ReadInteger("LastConfig", "OpenMaximized", 0), 1);
  QWidget* again = form->OpenCuWindow(Cu("G1", "MO"), false);
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(again->parentWidget()->isMaximized());
}

TEST_F(Connected, DoubleClickAndOpenActOnCuNodesOnly) {
  Find<QTreeWidget>(*form, "TreeView1")->setCurrentItem(ModuleNode(0));
  form->OpenSelectedCu(false);
  EXPECT_TRUE(form->Children().isEmpty());
  Find<QTreeWidget>(*form, "TreeView1")->setCurrentItem(ModuleNode(0)->child(2));
  emit Find<QTreeWidget>(*form, "TreeView1")->itemDoubleClicked(ModuleNode(0)->child(2), 0);
  ASSERT_EQ(form->Children().size(), 1);
  EXPECT_EQ(ChildTitles(), QStringList{"G1 - 123 - Monitor"});
  Find<QMenu>(*form, "PopupMenu2")->actions()[0]->trigger();  // "&Open" on the same node: a second window
  EXPECT_EQ(form->Children().size(), 2);
}

TEST_F(Connected, ArrangeAllLinesUpMinimizedWindowsAtTheBottom) {
  QWidget* a = form->OpenCuWindow(Cu("G1", "MO"), false);
  QWidget* b = form->OpenCuWindow(Cu("G1", "IN"), false);
  QWidget* c = form->OpenCuWindow(Cu("G1", "EV"), false);
  ASSERT_TRUE(a && b && c);
  c->parentWidget()->setGeometry(5, 5, 200, 150);
  a->parentWidget()->showMinimized();
  b->parentWidget()->showMinimized();
  form->Action("ArrangeItem")->trigger();
  const int bottom = Find<QMdiArea>(*form, "MdiArea")->viewport()->height();
  const QRect ga = a->parentWidget()->geometry(), gb = b->parentWidget()->geometry();
  EXPECT_EQ(ga.left(), 0);
  EXPECT_EQ(ga.bottom() + 1, bottom);
  EXPECT_EQ(gb.left(), ga.width());
  EXPECT_EQ(gb.bottom() + 1, bottom);
  EXPECT_EQ(c->parentWidget()->geometry(), QRect(5, 5, 200, 150));  // normal windows stay
}

TEST_F(Connected, LayoutsSaveAndLoadWindowsInModuleOrder) {
  QWidget* mo = form->OpenCuWindow(Cu("G1", "MO"), false);
  QWidget* in = form->OpenCuWindow(Cu("G1", "IN"), false);
  QWidget* in2 = form->OpenCuWindow(Cu("G1", "IN"), false);  // two windows on one CU: one key, the later one's
  ASSERT_TRUE(mo && in && in2);
  mo->parentWidget()->setGeometry(10, 20, 300, 200);
  in->parentWidget()->setGeometry(5, 5, 100, 100);
  in2->parentWidget()->setGeometry(40, 50, 320, 210);
  form->SaveLayout(1);
  TIniFile& ini = form->Ini();
  EXPECT_EQ(ini.ReadString("LastWindows-1", "G1-123-MO", ""), "10,20,300,200");
  EXPECT_EQ(ini.ReadString("LastWindows-1", "G1-123-IN", ""), "40,50,320,210");
  EXPECT_EQ(ini.ReadInteger("LastWindows-1", "Width", -1), form->width());
  EXPECT_EQ(ini.ReadInteger("LastWindows-1", "Details", -1), 1);
  ini.WriteString("LastWindows-1", "NOPE-1-IN", "1,2,3,4");      // a CU this instrument lacks
  ini.WriteString("LastWindows-1", "PUMP-7-EV", "1,2,three,4");  // not four integers: skipped
  form->CloseCuWindows(false);
  form->LoadLayout(1);
  // Keys compare without regard to case, as everywhere in the settings file: the CU "in" of the same
  // module matches the key of "IN" and comes back too, in CU order.
  ASSERT_EQ(ChildTitles(),
            (QStringList{"G1 - 123 - Instruction/Reply", "G1 - 123 - Monitor", "G1 - 123 - Instruction/Reply"}));
  EXPECT_EQ(form->Children()[2]->geometry(), QRect(40, 50, 320, 210));
  EXPECT_EQ(form->Children()[1]->geometry(), QRect(10, 20, 300, 200));
  EXPECT_EQ(form->Children()[0]->geometry(), QRect(40, 50, 320, 210));

  form->Children()[0]->showMaximized();
  form->SaveLayout(2);
  EXPECT_EQ(ini.ReadString("LastWindows-2", "G1-123-IN", ""), "-1,-1,-1,-1");
  form->LoadLayout(2);
  ASSERT_EQ(form->Children().size(), 3);
  EXPECT_TRUE(form->Children().last()->isMaximized());  // the MDI area shows the active one maximized

  form->CloseCuWindows(false);
  form->SaveLayout(3);
  EXPECT_FALSE(ini.SectionExists("LastWindows-3"));
  form->OpenCuWindow(Cu("G1", "MO"), false);
  const QSize before = form->size();
  form->LoadLayout(3);
  EXPECT_TRUE(form->Children().isEmpty());
  EXPECT_EQ(form->size(), before);
  EXPECT_TRUE(recorder.messages.isEmpty());
}

TEST_F(Connected, MinimizedWindowComesBackMinimizedWithItsNormalSize) {
  QWidget* mo = form->OpenCuWindow(Cu("G1", "MO"), false);
  ASSERT_NE(mo, nullptr);
  mo->parentWidget()->setGeometry(10, 20, 300, 200);
  mo->parentWidget()->showMinimized();
  form->SaveLayout(1);
  form->LoadLayout(1);
  ASSERT_EQ(form->Children().size(), 1);
  QMdiSubWindow* again = form->Children()[0];
  EXPECT_TRUE(again->isMinimized());
  again->showNormal();  // the user restores it
  EXPECT_EQ(again->geometry(), QRect(10, 20, 300, 200));
  Screenshot(form.get(), "layout-minimized-restored");
}

// Seven windows in the default main window: neither a new window nor a cascaded one leaves the visible
// area, and none shrinks to less than its designed size or half the area.
TEST_F(Connected, NewAndCascadedWindowsStayVisibleAtAUsableSize) {
  const QRect area = Find<QMdiArea>(*form, "MdiArea")->viewport()->rect();
  const QSize usable = TAsciiListForm().size().boundedTo(area.size() / 2);
  auto visibleAndUsable = [&](const QMdiSubWindow* sub) {
    return area.contains(sub->geometry()) && sub->width() >= usable.width() && sub->height() >= usable.height();
  };
  for (const char* cu : {"IN", "EV", "MO", "AR", "in"}) ASSERT_NE(form->OpenCuWindow(Cu("G1", cu), false), nullptr);
  for (const char* cu : {"IN", "EV"}) ASSERT_NE(form->OpenCuWindow(Cu("PUMP", cu), false), nullptr);
  for (QMdiSubWindow* sub : form->Children()) EXPECT_TRUE(visibleAndUsable(sub)) << "opened at " << sub->x();
  form->Children()[2]->showMaximized();
  form->Action("CascadeItem")->trigger();
  QSet<int> tops;  // one title bar below the other: every caption can be read
  for (QMdiSubWindow* sub : form->Children()) {
    EXPECT_TRUE(visibleAndUsable(sub)) << "cascaded to " << sub->width() << " x " << sub->height();
    tops << sub->y();
  }
  EXPECT_EQ(tops.size(), form->Children().size());
  Screenshot(form.get(), "cascaded-windows");
}

// The instrument takes the window's open up late and the module leaves meanwhile. The message box's
// own event loop (played by the handler below) runs the refresh while the window is still in its open.
TEST_F(Connected, ModuleLeavesWhileItsWindowOpens) {
  SetMessageHandler([this](TMsgKind kind, const QString& text) {
    recorder.messages << qMakePair(kind, text);
    WaitFor([this] { return Find<QTreeWidget>(*form, "TreeView1")->topLevelItem(0)->childCount() == 2; }, 5000);
  });
  ASSERT_EQ(sim.Command("delay-open 300"), "ok");
  std::thread remover([this] {
    sim.WaitForStatus("\"held_opens\":1", 5s);
    sim.Command("remove-module PUMP");
  });
  std::shared_ptr<CCuDesc> pumpIn = Cu("PUMP", "IN");
  QPointer<QWidget> window = form->OpenCuWindow(pumpIn, false);
  remover.join();
  EXPECT_TRUE(window.isNull());
  EXPECT_EQ(recorder.Texts(), QStringList{"Cannot open CU"});
  EXPECT_TRUE(WaitFor([&] { return form->Children().isEmpty(); }));
  EXPECT_TRUE(pumpIn->IsRemoved());
  EXPECT_STREQ(pumpIn->GetCuName(), "IN");  // still readable for whoever kept it
  form->SaveLayout(1);
  EXPECT_FALSE(form->Ini().SectionExists("LastWindows-1"));
}

TEST_F(Connected, ModulesRemovedAndAddedWhileWindowsAreOpen) {
  form->OpenEventsWindow();
  ASSERT_NE(Find<TMasterEventList>(*form), nullptr);
  QPointer<QWidget> pumpIn = form->OpenCuWindow(Cu("PUMP", "IN"), false);
  QPointer<QWidget> g1In = form->OpenCuWindow(Cu("G1", "IN"), false);
  ASSERT_TRUE(pumpIn && g1In);
  EXPECT_TRUE(sim.Command("remove-module PUMP").starts_with("ok"));
  ASSERT_TRUE(WaitFor([&] { return Find<QTreeWidget>(*form, "TreeView1")->topLevelItem(0)->childCount() == 2; }));
  EXPECT_TRUE(WaitFor([&] { return pumpIn.isNull(); }));
  EXPECT_FALSE(g1In.isNull());
  EXPECT_EQ(ModuleNode(1)->text(0), "VALVE - S1");
  EXPECT_TRUE(sim.Command("add-module NEW 9").starts_with("ok"));
  ASSERT_TRUE(WaitFor([&] { return Find<QTreeWidget>(*form, "TreeView1")->topLevelItem(0)->childCount() == 3; }));
  EXPECT_EQ(ModuleNode(2)->text(0), "NEW - 9");
  EXPECT_EQ(ModuleNode(2)->childCount(), 2);
  QStringList lines;
  for (int i = 0; i < Find<TMasterEventList>(*form)->List()->count(); ++i)
    lines << Find<TMasterEventList>(*form)->List()->item(i)->text();
  EXPECT_EQ(lines,
            (QStringList{"Configuration changed", "Module PUMP removed", "Configuration changed", "Module NEW added"}));
  Find<TMasterEventList>(*form)->parentWidget()->raise();
  Screenshot(form.get(), "instrument-events");
  form->OpenEventsWindow();  // already open: nothing happens
  EXPECT_EQ(form->Children().size(), 2);
}

TEST_F(Connected, LostConnectionKeepsWindowsAndReconnects) {
  form->ToggleAutoReconnect();
  auto* in = qobject_cast<TInReplyForm*>(form->OpenCuWindow(Cu("G1", "IN"), false));
  ASSERT_NE(in, nullptr);
  in->Input()->setText("*IDN?");
  in->SendInput();
  ASSERT_TRUE(WaitFor([&] { return in->List()->count() == 3; }));
  QPointer<TInReplyForm> guard(in);
  EXPECT_TRUE(sim.Command("fault drop").starts_with("ok"));
  ASSERT_TRUE(WaitFor([&] { return form->GetConnection() == nullptr; }));
  EXPECT_EQ(form->windowTitle(), "Morvent v5.66  -  not connected");
  ASSERT_FALSE(guard.isNull());
  EXPECT_EQ(in->List()->count(), 3);
  EXPECT_FALSE(in->Input()->isEnabled());
  EXPECT_EQ(in->Cu(), nullptr);
  EXPECT_TRUE(Find<QTimer>(*form, "TimerReconnect")->isActive());
  Find<QTimer>(*form, "TimerReconnect")->setInterval(100);  // the 5000 ms period is not what is tested here
  ASSERT_TRUE(WaitFor([&] { return form->GetConnection() != nullptr; }));
  EXPECT_FALSE(Find<QTimer>(*form, "TimerReconnect")->isActive());
  EXPECT_EQ(form->windowTitle(), "Morvent v5.66  -  127.0.0.1");
  EXPECT_TRUE(WaitFor([&] { return guard.isNull(); }));  // a new connection closes the released windows
}

TEST_F(Connected, ClosingTheMainWindowWhileAReaderIsBusy) {
  QWidget* mo = form->OpenCuWindow(Cu("G1", "MO"), false);
  ASSERT_NE(mo, nullptr);
  EXPECT_TRUE(sim.Command("stream G1 MO 0 64").starts_with("ok"));
  auto* list = mo->findChild<QListWidget*>("ListBox1");
  ASSERT_TRUE(WaitFor([&] { return list->count() > 100; }));
  form->close();
  EXPECT_EQ(form->GetConnection(), nullptr);
  EXPECT_GT(TIniFile(dir.Ini()).ReadInteger("WindowPos", "DetailsSize", -1), 0);
  form.reset();
}

}  // namespace
