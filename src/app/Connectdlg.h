// TEnterInstrAddressDlg: "Connect to Instrument": LAN with an address, or COM 1..COM 4.
#pragma once

#include <QDialog>

class QComboBox;
class QLineEdit;

class TEnterInstrAddressDlg : public QDialog {
  Q_OBJECT
 public:
  explicit TEnterInstrAddressDlg(QWidget* parent = nullptr);
  void Preset(int link, const QString& lanAddress);
  int Link() const;  // the selected entry's index: 0 LAN, n COMn
  QString LanAddress() const;
  QComboBox* AddrSelect;
  QLineEdit* EditLanAddr;
};
