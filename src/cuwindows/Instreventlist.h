// TMasterEventList: the "Instrument Events" window with the main window's notices about the
// instrument's configuration; not bound to a CU, at most one at a time.
#pragma once

#include <QWidget>

#include "cuwindows/Linelist.h"

class TMainLink;

class TMasterEventList : public QWidget {
  Q_OBJECT
 public:
  explicit TMasterEventList(QWidget* parent = nullptr);
  void SetMainWindow(TMainLink* mainWindow) { m_main = mainWindow; }
  void AddEventLine(const QString& text);
  QListWidget* List() const { return m_list; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  TLineList* m_list;
  TMainLink* m_main = nullptr;
};
