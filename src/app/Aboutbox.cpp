// TAboutBox: name, version and purpose of the program.
#include "Aboutbox.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

TAboutBox::TAboutBox(const QString& title, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(title);
    auto* layout = new QVBoxLayout(this);
    auto* name = new QLabel("<b>" + title + "</b>", this);
    layout->addWidget(name);
    layout->addWidget(new QLabel("Service and diagnostics tool for modular laboratory instruments", this));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
}
