// TAnalysisReport: records of 44 bytes back to back; "FractionData" records carry trigger data or
// trigger source names behind them.
#include "cuwindows/Analreport.h"

#include <cstring>

#include "cuwindows/Bigendian.h"

namespace {

QString Text(const uint8_t* p, int max) {
  int len = 0;
  const char* s = SlotText(p, max, len);
  return QString::fromLatin1(s, len);
}

QString RecordLine(const uint8_t* r, QString& name) {
  name = Text(r, 16);
  return QString::asprintf("%s, %d, %d, %d, %d, %d, %d, %d, %d, %d, %d", name.toLatin1().constData(), BeI32(r + 16),
                           BeI32(r + 20), BeI32(r + 24), BeI32(r + 28), BeI16(r + 32), BeI16(r + 34), BeI16(r + 36),
                           BeI16(r + 38), BeI16(r + 40), BeI16(r + 42));
}

QString TriggerLine(const uint8_t* f, int size) {
  return QString::asprintf("    %d, (%d, %d, %d, %d), %.2f, (%d, %d), (%d, %d), (%d, %d,  %d, %d), %s", BeI16(f),
                           BeI16(f + 2), BeI16(f + 4), BeI16(f + 6), BeI16(f + 8), double(BeF32(f + 10)), BeI32(f + 14),
                           BeI32(f + 18), BeI16(f + 22), BeI16(f + 24), BeI32(f + 26), BeI32(f + 30), BeI32(f + 34),
                           BeI32(f + 38), Text(f + 42, size - 42).toLatin1().constData());
}

void SourceLines(const uint8_t* f, int slot, QStringList& lines) {
  bool any = false;
  for (int i = 0; i < 4; ++i) {
    const QString source = Text(f + 2 + i * slot, slot);
    if (source.isEmpty()) continue;
    lines << QString::asprintf("%-36s", source.toLatin1().constData());
    any = true;
  }
  if (!any) lines << "    No external trigger sources";
}

QString TooFew(int expected, int received) {
  return QString::asprintf("To few data bytes (min. %d expected, %d received)", expected, received);
}

}  // namespace

TAnalysisReport::TAnalysisReport(QWidget* parent) : TAsciiListForm(parent) { setWindowTitle("AnalysisReport"); }

QStringList TAnalysisReport::ReportLines(const uint8_t* data, int length) {
  QStringList lines;
  const uint8_t* r = data;
  int n = length;
  while (n > 0) {
    if (n < kRecordSize) {
      lines << TooFew(kRecordSize, n);
      break;
    }
    QString name;
    lines << RecordLine(r, name);
    const int count = BeI16(r + 42);
    if (name != "FractionData") {
      lines << QString::asprintf("    %d bytes of data", count);
      const int skip = kRecordSize + (count > 0 ? count : 0);  // a negative count must not step back
      r += skip;
      n -= skip;
      continue;
    }
    if (count <= 0) {
      lines << "    No additional fraction data";
      r += kRecordSize;
      n -= kRecordSize;
      continue;
    }
    if (count != 62 && count != 78 && count != 82 && count != 146) {
      lines << QString::asprintf("    Invalid number of fraction data bytes (%d/%d (or %d/%d) expected, %d received)",
                                 146, 78, 82, 62, count);
      break;
    }
    const bool isLong = count == 146 || count == 78;
    const uint8_t* f = r + kRecordSize;
    const int selector = BeI16(f);
    const int size = selector != 0 ? (isLong ? 78 : 62) : (isLong ? 146 : 82);
    if (n < kRecordSize + size) {  // the message ends inside the fraction data
      lines << TooFew(kRecordSize + size, n);
      break;
    }
    if (selector != 0)
      lines << TriggerLine(f, size);
    else
      SourceLines(f, isLong ? 36 : 20, lines);
    r += kRecordSize + size;
    n -= kRecordSize + size;
  }
  return lines;
}

void TAnalysisReport::ShowData(const char* data, int length, int fromCu) {
  for (const QString& line : ReportLines(reinterpret_cast<const uint8_t*>(data), length)) AddLine(line, fromCu);
}
