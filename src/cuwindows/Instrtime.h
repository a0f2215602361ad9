// Instrument times: seconds since 1 January 1970 shown as "%d.%d.%d %2d:%02d:%02d", no time-zone adjustment.
#pragma once

#include <QString>
#include <cstdint>

QString FormatInstrumentTime(int64_t seconds);
// Leading blanks, an optional sign and the leading digits, as the instrument's texts are read;
// no digits give 0, values beyond 32 bits stop at the limit.
int32_t LeadingInteger(const QByteArray& text);
