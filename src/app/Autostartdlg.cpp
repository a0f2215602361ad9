// TAutostartDialog: the check box decides whether the script field and "Browse..." can be used.
#include "app/Autostartdlg.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/Dialogbuttons.h"
#include "app/Dialogplace.h"

TAutostartDialog::TAutostartDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Configure Autostart Script");
  auto* text =
      new QLabel("The Autostart Script is started each time a connection is established to the instrument", this);
  text->setWordWrap(true);
  AutostartEdit = new QLineEdit(this);
  AutostartEdit->setObjectName("AutostartEdit");
  BrowseButton = new QPushButton("Browse...", this);
  BrowseButton->setAutoDefault(false);
  ExecuteCheck = new QCheckBox("Execute Autostart next time", this);
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel("Autostart Script:", this));
  row->addWidget(AutostartEdit);
  row->addWidget(BrowseButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text);
  layout->addLayout(row);
  layout->addWidget(ExecuteCheck);
  layout->addWidget(DialogButtons(this, true));
  connect(ExecuteCheck, &QCheckBox::toggled, this, &TAutostartDialog::UpdateState);
  connect(BrowseButton, &QPushButton::clicked, this, &TAutostartDialog::Browse);
  FitField(AutostartEdit, "/home/service/morvent/scripts/instrument-autostart.pas");
  FitDialog(this);
}

void TAutostartDialog::Preset(const QString& script, bool execute) {
  AutostartEdit->setText(script);
  ExecuteCheck->setChecked(execute);
  UpdateState();
}

void TAutostartDialog::UpdateState() {
  const bool on = ExecuteCheck->isChecked();
  AutostartEdit->setReadOnly(!on);
  QPalette p = AutostartEdit->palette();
  p.setColor(QPalette::Text, palette().color(on ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
  AutostartEdit->setPalette(p);
  BrowseButton->setEnabled(on);
}

void TAutostartDialog::Browse() {
  const QStringList files =
      QFileDialog::getOpenFileNames(this, QString(), AutostartEdit->text(), "Script (*.pas);;all (*.*)");
  if (files.size() == 1) AutostartEdit->setText(files.first());
}

QString TAutostartDialog::Script() const { return AutostartEdit->text(); }

bool TAutostartDialog::Execute() const { return ExecuteCheck->isChecked(); }
