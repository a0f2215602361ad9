// FitDialog and FitField: the main window's dialogs are wide enough for their title and for the values
// their fields typically hold at the fonts in use, and they open centred on the screen.
#pragma once

class QDialog;
class QLineEdit;
class QString;

// Keeps dialog at least as wide as a title bar needs for its title, and centres it on the screen of its
// parent each time it is shown.
void FitDialog(QDialog* dialog);
// Makes edit wide enough to show typical in full.
void FitField(QLineEdit* edit, const QString& typical);
