// Instrument time formatting and the lenient integer reading used for instrument texts.
#include "cuwindows/Instrtime.h"

#include <QByteArray>
#include <climits>
#include <ctime>

QString FormatInstrumentTime(int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  struct tm parts {};
  if (!gmtime_r(&t, &parts)) return QString();
  return QString::asprintf("%d.%d.%d %2d:%02d:%02d", parts.tm_mday, parts.tm_mon + 1, parts.tm_year + 1900,
                           parts.tm_hour, parts.tm_min, parts.tm_sec);
}

int32_t LeadingInteger(const QByteArray& text) {
  int i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > int64_t(INT32_MAX) + 1) break;
  }
  value = negative ? -value : value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}
