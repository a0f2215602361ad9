// The property dialogs of the tree's nodes: TModulePropDlg, TInstrPropDlg and TCuPropDlg (which
// lets the user set a CU's extra buffer counts).
#pragma once

#include <QDialog>

class CCuDesc;
class CModule;
class QLabel;
class QLineEdit;

class TModulePropDlg : public QDialog {
  Q_OBJECT
 public:
  explicit TModulePropDlg(QWidget* parent = nullptr);
  void Fill(const CModule* module);
  QLabel* TypeLabel;
  QLabel* SerialLabel;
};

class TInstrPropDlg : public QDialog {
  Q_OBJECT
 public:
  explicit TInstrPropDlg(QWidget* parent = nullptr);
};

class TCuPropDlg : public QDialog {
  Q_OBJECT
 public:
  explicit TCuPropDlg(QWidget* parent = nullptr);
  void Fill(const CCuDesc* cu);
  // The two "+Buffer" fields as decimal integers (no number gives 0, leading digits count).
  int ExtraIn() const;
  int ExtraOut() const;
  QLabel* NameLabel;
  QLabel* InCount;
  QLabel* OutCount;
  QLineEdit* EditNumIn;
  QLineEdit* EditNumOut;
};
