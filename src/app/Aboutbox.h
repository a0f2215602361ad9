// TAboutBox: the program information box.
#pragma once

#include <QDialog>

class TAboutBox : public QDialog {
  Q_OBJECT
 public:
  explicit TAboutBox(const QString& title, QWidget* parent = nullptr);
};
