// TTraceCu: continues the last line when the previous piece did not end with a line feed.
#include "cuwindows/Traceform.h"

TTraceCu::TTraceCu(QWidget* parent) : TInReplyForm(parent) { setWindowTitle("TraceCu"); }

// The typed instruction is a line of its own: trace text after it starts a new line instead of being
// glued to the instruction.
void TTraceCu::BeforeSend(QByteArray& line) {
  (void)line;
  m_lastEndedWithLineFeed = true;
}

void TTraceCu::ShowData(const char* data, int length, int fromCu) {
  const QString text = BytesToText(data, length);
  const bool endsWithLineFeed = length > 0 && data[length - 1] == '\n';
  const QStringList pieces = text.split('\n', Qt::SkipEmptyParts);
  if (pieces.isEmpty()) {
    AddLine(QString(), fromCu);
  } else {
    // A piece that starts with a line feed ends the previous line even if that one did not.
    if (m_lastEndedWithLineFeed || data[0] == '\n')
      AddLine(pieces[0], fromCu);
    else
      AppendToLastLine(pieces[0]);
    for (int i = 1; i < pieces.size(); ++i) AddLine(pieces[i], fromCu);
  }
  m_lastEndedWithLineFeed = endsWithLineFeed;
}
