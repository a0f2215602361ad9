// TEnterInstrAddressDlg: the address field is usable only while "LAN" is chosen.
#include "app/Connectdlg.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>

#include "app/Dialogbuttons.h"
#include "app/Dialogplace.h"

TEnterInstrAddressDlg::TEnterInstrAddressDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Connect to Instrument");
  AddrSelect = new QComboBox(this);
  AddrSelect->setObjectName("AddrSelect");
  AddrSelect->addItems({"LAN", "COM 1", "COM 2", "COM 3", "COM 4 "});
  EditLanAddr = new QLineEdit(this);
  EditLanAddr->setObjectName("EditLanAddr");
  auto* form = new QFormLayout;
  form->addRow("Connect to:", AddrSelect);
  form->addRow("LAN-Addr:", EditLanAddr);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(DialogButtons(this, true));
  connect(AddrSelect, &QComboBox::currentIndexChanged, this, [this](int i) { EditLanAddr->setEnabled(i == 0); });
  FitField(EditLanAddr, "analyser-12.lab.example.org");
  FitDialog(this);
}

void TEnterInstrAddressDlg::Preset(int link, const QString& lanAddress) {
  EditLanAddr->setText(lanAddress);
  AddrSelect->setCurrentIndex(link >= 0 && link < AddrSelect->count() ? link : 0);
  EditLanAddr->setEnabled(AddrSelect->currentIndex() == 0);
}

int TEnterInstrAddressDlg::Link() const { return AddrSelect->currentIndex(); }

QString TEnterInstrAddressDlg::LanAddress() const { return EditLanAddr->text(); }
