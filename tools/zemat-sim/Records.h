// The binary records some CUs send, built the way the windows read them: analysis report records and
// nucleus raw data headers (all numbers big-endian).
#pragma once

#include "zemat-sim/Wire.h"

#include <string>

namespace zsim {

// The kinds of analysis report record the analysis behaviour cycles through.
enum class AnalysisKind {
  PlainWithData,  // a named record followed by its count of data bytes
  PlainEmpty,     // a named record with count 0
  TriggerShort,   // "FractionData", selector not 0, 62 bytes
  TriggerLong,    // "FractionData", selector not 0, 78 bytes
  SourcesShort,   // "FractionData", selector 0, four 20-byte slots, 82 bytes
  SourcesLong,    // "FractionData", selector 0, four 36-byte slots, 146 bytes
  FractionNone,   // "FractionData" with count 0
};
constexpr int kAnalysisKinds = 7;
constexpr size_t kAnalysisRecord = 44;

// Record number index (from 0) of the cycle: its kind, then the record with what follows it.
AnalysisKind analysis_kind(long index);
Bytes analysis_record(long index);
// Message k of an analysis CU: 1 + k % 4 records back to back, continuing the cycle at first_index.
Bytes analysis_message(long k, long first_index, long& records);

constexpr size_t kNucleusHeader = 10;  // record number 4, revision 1, header ID 1, a value not shown 4
// Message k of a nucleus raw data CU: header ID 1 + k % 16, record number k, then the ID's fields
// (and, for the signal headers, their sample points).
Bytes nucleus_message(long k);

void put_u32(Bytes& b, uint32_t v);

}  // namespace zsim
