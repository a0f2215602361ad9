// TAboutBox: name, version and purpose of the program.
#include "app/Aboutbox.h"

#include <QLabel>
#include <QVBoxLayout>

#include "app/Dialogbuttons.h"

TAboutBox::TAboutBox(const QString& title, QWidget* parent) : QDialog(parent) {
  setWindowTitle(title);
  auto* layout = new QVBoxLayout(this);
  auto* name = new QLabel("<b>" + title + "</b>", this);
  layout->addWidget(name);
  layout->addWidget(new QLabel("Service and diagnostics tool for modular laboratory instruments", this));
  layout->addWidget(DialogButtons(this, false));
}
