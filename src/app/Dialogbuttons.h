// DialogButtons: the button row the main window's dialogs end with: "OK" (the default button) and,
// when asked for, "Cancel", wired to accept and reject.
#pragma once

#include <QDialogButtonBox>

class QDialog;

QDialogButtonBox* DialogButtons(QDialog* dialog, bool withCancel);
