// The demo instrument of the simulator with the main window connected to it, and opening a CU's window
// from the tree as the user does.
#pragma once

#include <QAction>
#include <QMenu>
#include <QTreeWidget>

#include "Appfixture.h"
#include "app/Mainform.h"
#include "cuwindows/Asciilist.h"
#include "support/Simulator.h"

class DemoInstrument : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.WriteIni("[LastConfig]\nLAN=127.0.0.1\nTimeout=3000\n[LAN]\nTelnetPort=" + std::to_string(sim.TelnetPort()) +
                 "\nDataPort=" + std::to_string(sim.DataPort()) + "\n");
    form = std::make_unique<TMainForm>(dir.Dir());
    form->resize(1000, 700);
    form->show();
    // As a user starting from README's run command does: the stored address, the first tool button.
    form->Action("ToolButton7")->trigger();
    ASSERT_TRUE(WaitFor([this] { return form->GetConnection() != nullptr; }));
    ASSERT_EQ(form->windowTitle(), "Morvent v5.66  -  127.0.0.1");
  }
  void TearDown() override {
    if (form) form->close();
    form.reset();
  }

  QTreeWidgetItem* CuNode(const QString& module, const QString& cu) const {
    QTreeWidgetItem* root = Find<QTreeWidget>(*form, "TreeView1")->topLevelItem(0);
    for (int i = 0; root && i < root->childCount(); ++i) {
      if (!root->child(i)->text(0).startsWith(module + " - ")) continue;
      for (int j = 0; j < root->child(i)->childCount(); ++j)
        if (root->child(i)->child(j)->text(0) == cu) return root->child(i)->child(j);
    }
    return nullptr;
  }

  // Selects the CU's node and chooses "&Open" (or "Open via CS CU") in its popup, as the user does.
  template <class W>
  W* OpenFromTree(const QString& module, const QString& cu, bool viaCs = false) {
    QTreeWidgetItem* node = CuNode(module, cu);
    if (!node) {
      ADD_FAILURE() << "no tree node " << module.toStdString() << "/" << cu.toStdString();
      return nullptr;
    }
    Find<QTreeWidget>(*form, "TreeView1")->setCurrentItem(node);
    QMenu* popup = form->PopupForItem(node);
    const int before = form->Children().size();
    popup->actions()[viaCs ? 1 : 0]->trigger();
    if (form->Children().size() != before + 1) return nullptr;
    auto* window = qobject_cast<W*>(form->Children().last()->widget());
    EXPECT_NE(window, nullptr) << cu.toStdString() << " opened a window of another class";
    return window;
  }

  bool Emit(const QString& module, const QString& cu, int n) {
    const std::string reply = sim.Command(QString("emit %1 %2 %3").arg(module, cu).arg(n).toStdString());
    EXPECT_TRUE(reply.starts_with("ok")) << reply;
    return reply.starts_with("ok");
  }

  // Emits n messages and waits until the window holds at least `lines` lines.
  bool EmitAndWait(TAsciiListForm* w, const QString& module, const QString& cu, int n, int lines) {
    return w && Emit(module, cu, n) && WaitFor([&] { return w->List()->count() >= lines; });
  }

  TProgramDir dir;
  Simulator sim;  // the demo instrument
  TMessageRecorder recorder;
  std::unique_ptr<TMainForm> form;
};
