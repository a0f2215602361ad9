// TInReplyForm: the instruction/reply window of an "IN" CU: an input line with a history of 30,
// instructions shown and written to the CU, replies shown below them.
#pragma once

#include <QStringList>

#include "cuwindows/Asciilist.h"

class QLineEdit;
class QPushButton;
class QWidget;

class TInReplyForm : public TAsciiListForm {
  Q_OBJECT
 public:
  static constexpr int historyLimit = 30;

  explicit TInReplyForm(QWidget* parent = nullptr);

  void SendInput();
  void LineChosen(const QString& text) override;
  void ExecuteLine(const QString& text) override;
  void ApplyFont(const QFont& font) override;
  void ReleaseCu() override;
  // Called with the bytes about to be written; may change them.
  virtual void BeforeSend(QByteArray& line) { (void)line; }

  QLineEdit* Input() const { return Edit2; }
  QPushButton* GoButton() const { return Button1; }
  const QStringList& History() const { return m_history; }
  int HistoryIndex() const { return m_historyIndex; }

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Recall(int step);
  void FocusInput();
  void FrameStateChanged(Qt::WindowStates oldState, Qt::WindowStates newState);

  QWidget* Panel1;
  QLineEdit* Edit2;
  QPushButton* Button1;
  QStringList m_history;
  int m_historyIndex = 0;
  bool m_listClicked = false;  // the list has the focus because the user clicked into it
};
