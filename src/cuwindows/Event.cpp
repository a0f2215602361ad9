// TEventForm: turns an event message into one line with the event's date and time.
#include "cuwindows/Event.h"

#include "cuwindows/Instrtime.h"

namespace {

// The next comma-separated field from pos on, leading commas skipped; false when there is none.
bool NextField(const QByteArray& data, int& pos, QByteArray& field) {
  while (pos < data.size() && data[pos] == ',') ++pos;
  if (pos >= data.size()) return false;
  int end = data.indexOf(',', pos);
  if (end < 0) end = data.size();
  field = data.mid(pos, end - pos);
  pos = end;
  return true;
}

}  // namespace

TEventForm::TEventForm(QWidget* parent) : TAsciiListForm(parent) { setWindowTitle("EventForm"); }

QString TEventForm::EventLine(const QByteArray& data) {
  int pos = 0;
  QByteArray text, seconds, third;
  if (!NextField(data, pos, text)) return QString::fromLatin1(data);
  if (!NextField(data, pos, seconds)) return QString::fromLatin1(text);
  NextField(data, pos, third);  // a missing third field shows as empty
  return QString::fromLatin1(text) + ", " + FormatInstrumentTime(LeadingInteger(seconds)) + ", " +
         QString::fromLatin1(third);
}

void TEventForm::ShowData(const char* data, int length, int fromCu) {
  QByteArray bytes(data, length);
  const int zero = bytes.indexOf('\0');  // the message is text: it ends at a zero byte
  if (zero >= 0) bytes.truncate(zero);
  AddLine(EventLine(bytes), fromCu);
}
