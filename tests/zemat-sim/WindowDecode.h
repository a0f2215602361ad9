// Decoders that read the simulator's messages the way the CU windows read them (nucleus header,
// analysis report records, event fields, trace pieces), so that tests check what a window would show.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace simtest {

struct NucleusHeader {
  int32_t record = 0;
  int revision = 0;
  int id = 0;
  // The printed values behind the header, in printed order (source, record, count, infos, points).
  std::vector<long> values;
  size_t needed = 0;  // bytes the window reads for this ID
};
// The header of one message, or nothing when it is shorter than its ID needs.
std::optional<NucleusHeader> decode_nucleus(const std::vector<uint8_t>& m);

struct AnalysisRecord {
  std::string name;
  int count = 0;
  int selector = 0;                // FractionData with fraction bytes only
  size_t size = 0;                 // bytes the window skips: 44 plus what follows
  std::vector<std::string> texts;  // trigger text, or the non-empty trigger source names
};
// The records of one message; ok is false when the window would report an error line
// ("To few data bytes", "Invalid number of fraction data bytes").
std::vector<AnalysisRecord> decode_analysis(const std::vector<uint8_t>& m, bool& ok);

// The comma-separated fields as the events window takes them (leading commas skipped).
std::vector<std::string> event_fields(const std::string& text);

// Joins trace pieces into lines as the trace window does: a piece continues the last line unless the
// previous piece ended with a line feed.
class TraceLines {
 public:
  void add(const std::string& piece);
  std::vector<std::string> lines;

 private:
  bool last_ended_ = true;
};

}  // namespace simtest
