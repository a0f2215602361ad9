// TAutostartDialog: "Configure Autostart Script": the script run after each new connection and
// whether it runs.
#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

class TAutostartDialog : public QDialog {
  Q_OBJECT
 public:
  explicit TAutostartDialog(QWidget* parent = nullptr);
  void Preset(const QString& script, bool execute);
  QString Script() const;
  bool Execute() const;
  QLineEdit* AutostartEdit;
  QPushButton* BrowseButton;
  QCheckBox* ExecuteCheck;

 private:
  void UpdateState();
  void Browse();
};
