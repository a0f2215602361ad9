// TLayoutNameDlg: "LayoutNames": the captions of the three window layouts.
#pragma once

#include <QDialog>
#include <QStringList>

class QLineEdit;

class TLayoutNameDlg : public QDialog {
  Q_OBJECT
 public:
  explicit TLayoutNameDlg(QWidget* parent = nullptr);
  void Preset(const QStringList& names);
  QStringList Names() const;
  QLineEdit* Edits[3];
};
