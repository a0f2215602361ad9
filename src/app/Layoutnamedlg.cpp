// TLayoutNameDlg: three text fields preset with the current names.
#include "Layoutnamedlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TLayoutNameDlg::TLayoutNameDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle("LayoutNames");
    auto* form = new QFormLayout;
    for (int i = 0; i < 3; ++i) {
        Edits[i] = new QLineEdit(this);
        form->addRow(QString("Layout %1:").arg(i + 1), Edits[i]);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void TLayoutNameDlg::Preset(const QStringList& names)
{
    for (int i = 0; i < 3; ++i) Edits[i]->setText(names.value(i));
}

QStringList TLayoutNameDlg::Names() const { return {Edits[0]->text(), Edits[1]->text(), Edits[2]->text()}; }
