// TMainForm: the three saved window layouts: which CU windows were open (by module type, serial number
// and CU name), where and how large, the main window's size and whether the tree was shown. A window
// that was minimized is saved with its normal place and size, and its key is listed under "Minimized",
// so that it comes back minimized and can be restored to a usable size.
#include "app/Mainform.h"

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QStringList>
#include <QTreeWidget>

#include "StandardApp/Tracer.h"
#include "app/Inifile.h"
#include "app/Maininstr.h"
#include "cuwindows/Baseform.h"

namespace {

std::string Section(int n) { return "LastWindows-" + std::to_string(n); }

// Not a window key: those always hold two "-".
const char* const kMinimized = "Minimized";

// "left,top,width,height": four integers; anything else is refused.
bool ParseLayoutValue(const std::string& value, int (&v)[4]) {
  size_t start = 0;
  for (int i = 0; i < 4; ++i) {
    const size_t comma = value.find(',', start);
    if ((i < 3) != (comma != std::string::npos)) return false;
    int32_t number = 0;
    if (!TIniFile::ParseInteger(value.substr(start, i < 3 ? comma - start : std::string::npos), number)) return false;
    v[i] = number;
    start = comma + 1;
  }
  return true;
}

}  // namespace

QString TMainForm::LayoutKey(const CCuDesc* cu) {
  const CModule* module = cu->GetModule();
  return QString::fromLatin1(module ? module->GetModuleType() : "") + "-" +
         QString::fromLatin1(module ? module->GetSerialNumber() : "") + "-" + QString::fromLatin1(cu->GetCuName());
}

void TMainForm::SaveLayout(int n) {
  if (!m_connection || n < 1 || n > 3) return;
  TIniFile& ini = Ini();
  const std::string section = Section(n);
  ini.EraseSection(section);
  const QList<QMdiSubWindow*> children = Children();
  if (children.isEmpty()) return;
  QMdiSubWindow* active = m_mdi->activeSubWindow() ? m_mdi->activeSubWindow() : children.first();
  const bool maximized = active->isMaximized();
  QStringList minimized;  // with two windows on one CU the later one counts, as for its value
  for (QMdiSubWindow* sub : children) {
    QWidget* w = sub->widget();
    auto* form = qobject_cast<TBaseForm*>(w);
    if (!form || !form->Cu() || w->inherits("TInstScriptForm") || w->inherits("TGraphicForm")) continue;
    const QRect g = NormalGeometry(sub);
    const QString value = maximized ? QString("-1,-1,-1,-1")
                                    : QString("%1,%2,%3,%4").arg(g.left()).arg(g.top()).arg(g.width()).arg(g.height());
    const QString key = LayoutKey(form->Cu());
    ini.WriteString(section, key.toStdString(), value.toStdString());
    minimized.removeIf([&key](const QString& k) { return k.compare(key, Qt::CaseInsensitive) == 0; });
    if (!maximized && sub->isMinimized()) minimized << key;
  }
  if (!minimized.isEmpty()) ini.WriteString(section, kMinimized, minimized.join(',').toStdString());
  if (!isMaximized()) {
    ini.WriteInteger(section, "Top", y());
    ini.WriteInteger(section, "Left", x());
    ini.WriteInteger(section, "Width", width());
    ini.WriteInteger(section, "Height", height());
  }
  ini.WriteInteger(section, "Details", TreeView1->isHidden() ? 0 : 1);
}

void TMainForm::LoadLayout(int n) {
  if (!m_connection || n < 1 || n > 3) return;
  TIniFile& ini = Ini();
  const std::string section = Section(n);
  CloseCuWindows(false);
  const QStringList minimized = QString::fromStdString(ini.ReadString(section, kMinimized, "")).split(',');
  for (int m = 0; m < m_connection->GetModuleCount(); ++m) {
    std::shared_ptr<CModule> module = m_connection->GetModule(m);
    for (int c = 0; module && c < module->GetCuDescCount(); ++c) {
      std::shared_ptr<CCuDesc> cu = module->GetCuDesc(c);
      if (!cu) continue;
      const std::string value = ini.ReadString(section, LayoutKey(cu.get()).toStdString(), "");
      if (value.empty()) continue;
      int v[4];
      if (!ParseLayoutValue(value, v)) {
        Tracer().Trace(1, "Morvent", "layout %d: value \"%s\" is no position, window skipped", n, value.c_str());
        continue;
      }
      QWidget* form = OpenCuWindow(cu, false);
      if (!form || !form->parentWidget()) continue;
      auto* sub = static_cast<QMdiSubWindow*>(form->parentWidget());
      if (v[0] == -1) {
        sub->showMaximized();
      } else {
        sub->showNormal();
        sub->setGeometry(v[0], v[1], std::max(v[2], 1), std::max(v[3], 1));
        if (minimized.contains(LayoutKey(cu.get()), Qt::CaseInsensitive)) sub->showMinimized();
      }
    }
  }
  if (const int width = ini.ReadInteger(section, "Width", -1); width > 0) {
    const int top = ini.ReadInteger(section, "Top", y());
    const int left = ini.ReadInteger(section, "Left", x());
    const int height = ini.ReadInteger(section, "Height", this->height());
    resize(width, height);
    move(left, top);
  }
  SetDetailsVisible(ini.ReadInteger(section, "Details", 1) != 0);
}
