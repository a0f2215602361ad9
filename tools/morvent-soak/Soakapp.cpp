// Program folder, tree popups and event-loop serving for the soak phases.
#include "morvent-soak/Soakapp.h"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMdiSubWindow>
#include <QMenu>
#include <QTimer>
#include <QTreeWidget>

#include "app/Mainform.h"

TSoakProgramDir::TSoakProgramDir(int telnetPort, int dataPort, bool autoReconnect, int timeoutMs) {
  m_temp.Write("Morvent.ini", "[LastConfig]\nLAN=127.0.0.1\nTimeout=" + std::to_string(timeoutMs) +
                                  "\nExecuteAutostart=0\nAutoConnect=" + std::string(autoReconnect ? "1" : "0") +
                                  "\n[LAN]\nTelnetPort=" + std::to_string(telnetPort) +
                                  "\nDataPort=" + std::to_string(dataPort) + "\n");
}

QTreeWidgetItem* CuNode(TMainForm& form, const QString& module, const QString& cu) {
  auto* tree = form.findChild<QTreeWidget*>("TreeView1");
  QTreeWidgetItem* root = tree ? tree->topLevelItem(0) : nullptr;
  for (int i = 0; root && i < root->childCount(); ++i) {
    if (!root->child(i)->text(0).startsWith(module + " - ")) continue;
    for (int j = 0; j < root->child(i)->childCount(); ++j)
      if (root->child(i)->child(j)->text(0) == cu) return root->child(i)->child(j);
  }
  return nullptr;
}

QWidget* OpenFromTree(TMainForm& form, const QString& module, const QString& cu, bool viaCs) {
  QTreeWidgetItem* node = CuNode(form, module, cu);
  if (!node) return nullptr;
  form.findChild<QTreeWidget*>("TreeView1")->setCurrentItem(node);
  QMenu* popup = form.PopupForItem(node);
  const auto before = form.Children();
  popup->actions()[viaCs ? 1 : 0]->trigger();
  const auto after = form.Children();
  if (after.size() != before.size() + 1) return nullptr;
  return after.last()->widget();
}

void Pump(int ms) {
  PumpUntil([] { return false; }, ms);
}

bool PumpUntil(const std::function<bool()>& pred, int limitMs) {
  QElapsedTimer t;
  t.start();
  QTimer tick;  // wakes the wait below, so that pred is looked at without spinning
  tick.start(10);
  while (!pred()) {
    if (t.elapsed() >= limitMs) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // windows that closed themselves
  }
  return true;
}

struct THeartbeat::TImpl {
  QTimer timer;
};

THeartbeat::THeartbeat(TSoakWatchdog::TSource& gui) : m_impl(std::make_unique<TImpl>()) {
  m_impl->timer.setInterval(100);
  QObject::connect(&m_impl->timer, &QTimer::timeout, [&gui] { gui.Beat(); });
  m_impl->timer.start();
  gui.Arm(true);
}

THeartbeat::~THeartbeat() = default;
