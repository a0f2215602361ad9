// Property dialogs: they show what the tree's node holds; only the CU dialog changes anything.
#include "app/Propdlgs.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "StandardApp/Module.h"
#include "app/Dialogbuttons.h"
#include "app/Dialogplace.h"
#include "cuwindows/Instrtime.h"

namespace {

QGroupBox* BufferGroup(const QString& title, QLabel*& count, QLineEdit*& extra, const char* editName, QWidget* parent) {
  auto* group = new QGroupBox(title, parent);
  auto* form = new QFormLayout(group);
  count = new QLabel(group);
  extra = new QLineEdit(group);
  extra->setObjectName(editName);
  form->addRow("# buffers", count);
  form->addRow("+Buffer", extra);
  return group;
}

}  // namespace

TModulePropDlg::TModulePropDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Module Properties");
  TypeLabel = new QLabel(this);
  SerialLabel = new QLabel(this);
  auto* form = new QFormLayout;
  form->addRow("Type:", TypeLabel);
  form->addRow("Serial #:", SerialLabel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(DialogButtons(this, false));
  FitDialog(this);
}

void TModulePropDlg::Fill(const CModule* module) {
  TypeLabel->setText(QString::fromLatin1(module->GetModuleType()));
  SerialLabel->setText(QString::fromLatin1(module->GetSerialNumber()));
}

TInstrPropDlg::TInstrPropDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Instrument Properties");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("this box is intentionally left blank", this));
  layout->addWidget(DialogButtons(this, false));
  FitDialog(this);
}

TCuPropDlg::TCuPropDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle("CU Properties");
  auto* nameGroup = new QGroupBox("CU Name", this);
  NameLabel = new QLabel(nameGroup);
  (new QVBoxLayout(nameGroup))->addWidget(NameLabel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(nameGroup);
  layout->addWidget(BufferGroup("In Buffer", InCount, EditNumIn, "EditNumIn", this));
  layout->addWidget(BufferGroup("Out Buffer", OutCount, EditNumOut, "EditNumOut", this));
  layout->addWidget(DialogButtons(this, false));
  FitDialog(this);
}

void TCuPropDlg::Fill(const CCuDesc* cu) {
  NameLabel->setText(QString::fromLatin1(cu->GetCuName()));
  InCount->setText(QString::number(cu->GetInCount()));
  EditNumIn->setText(QString::number(cu->GetRequestedIn()));
  OutCount->setText(QString::number(cu->GetOutCount()));
  EditNumOut->setText(QString::number(cu->GetRequestedOut()));
}

int TCuPropDlg::ExtraIn() const { return LeadingInteger(EditNumIn->text().toLatin1()); }

int TCuPropDlg::ExtraOut() const { return LeadingInteger(EditNumOut->text().toLatin1()); }
