// TRawDataNucleusForm: record number, format revision 1, header ID and the ID's own fields.
// Behind the 10-byte header, IDs 5..8 carry a 32-bit value and a 16-bit source; IDs 11..16 carry their
// printed values in the order printed: sources 16-bit, record numbers and counts 32-bit, infos 16-bit.
#include "cuwindows/Rawdatanucleus.h"

#include "cuwindows/Bigendian.h"

namespace {

constexpr int kHeader = 10;  // record number 4, revision 1, header ID 1, a value not shown 4

const char* const kPlainNames[] = {nullptr, "ANA_START", "ANA_STOP", "RUN_START",     "RUN_STOP",    nullptr,
                                   nullptr, nullptr,     nullptr,    "MONITOR_START", "MONITOR_STOP"};
const char* const kSourceNames[] = {"SIG_START", "SIG_STOP", "SCAN_START", "SCAN_STOP"};

// Bytes each header ID needs in all; 0 for IDs that are not known.
int NeededBytes(int id) {
  if ((id >= 1 && id <= 4) || id == 9 || id == 10) return kHeader;
  if (id >= 5 && id <= 8) return kHeader + 6;
  switch (id) {
    case 11:
      return kHeader + 2;
    case 12:
      return kHeader + 10;
    case 13:
      return kHeader + 12;
    case 14:
    case 15:
      return kHeader + 10;
    case 16:
      return kHeader + 6;
    default:
      return 0;
  }
}

}  // namespace

TRawDataNucleusForm::TRawDataNucleusForm(QWidget* parent) : TAsciiListForm(parent) { setWindowTitle("RawDataNucleus"); }

QString TRawDataNucleusForm::HeaderLine(const uint8_t* d, int length) {
  if (length < 5) return QString::asprintf("raw data header too short (%d bytes)", length);
  const int record = BeI32(d);
  if (d[4] != 1) return QString::asprintf("invalid FormatRevision %d", d[4]);
  const int id = length > 5 ? d[5] : -1;
  const int needed = NeededBytes(id);
  if (id < 0 || (needed > 0 && length < needed))
    return QString::asprintf("raw data header too short (%d bytes)", length);
  const uint8_t* f = d + kHeader;
  if ((id >= 1 && id <= 4) || id == 9 || id == 10) return QString::asprintf("%s, #%d", kPlainNames[id], record);
  if (id >= 5 && id <= 8) return QString::asprintf("%s, #%d, source %d", kSourceNames[id - 5], record, BeU16(f + 4));
  switch (id) {
    case 11:
      return QString::asprintf("MONITOR_COMPLETE_INFO, #%d, source %d", record, BeU16(f));
    case 12:
      return QString::asprintf("MONITOR_SAMPLE_INFO, #%d, record %d of %d, infos %d", record, BeI32(f), BeI32(f + 4),
                               BeU16(f + 8));
    case 13:
      return QString::asprintf("MONITOR_SAMPLE_SIGNAL, #%d, record %d of %d, points %d", record, BeI32(f), BeI32(f + 4),
                               BeI32(f + 8));
    case 14:
    case 15:
      return QString::asprintf("%s, #%d, source %d, record %d, points %d",
                               id == 14 ? "EQUIDISTANT_SIGNAL" : "NON_EQUIDISTANT_SIGNAL", record, BeU16(f),
                               BeI32(f + 2), BeI32(f + 6));
    case 16:
      return QString::asprintf("SCAN, #%d, source %d, record %d", record, BeU16(f), BeI32(f + 2));
    default:
      return QString::asprintf("invalid HeaderID %d", id);
  }
}

void TRawDataNucleusForm::ShowData(const char* data, int length, int fromCu) {
  AddLine(HeaderLine(reinterpret_cast<const uint8_t*>(data), length), fromCu);
}
