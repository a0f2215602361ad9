// TLayoutNameDlg: three text fields preset with the current names.
#include "app/Layoutnamedlg.h"

#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>

#include "app/Dialogbuttons.h"
#include "app/Dialogplace.h"

TLayoutNameDlg::TLayoutNameDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle("LayoutNames");
  auto* form = new QFormLayout;
  for (int i = 0; i < 3; ++i) {
    Edits[i] = new QLineEdit(this);
    form->addRow(QString("Layout %1:").arg(i + 1), Edits[i]);
  }
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(DialogButtons(this, true));
  FitDialog(this);
}

void TLayoutNameDlg::Preset(const QStringList& names) {
  for (int i = 0; i < 3; ++i) Edits[i]->setText(names.value(i));
}

QStringList TLayoutNameDlg::Names() const { return {Edits[0]->text(), Edits[1]->text(), Edits[2]->text()}; }
