// Analysis report records and nucleus raw data headers with deterministic contents.
#include "zemat-sim/Records.h"

#include <algorithm>
#include <cstring>

namespace zsim {
namespace {

void put_i16(Bytes& b, int v) { put_u16(b, static_cast<unsigned>(v) & 0xFFFF); }

// A text in a slot of size bytes: cut to leave room for the zero, zero-filled.
void put_slot(Bytes& b, const std::string& text, size_t size) {
  std::string t = text.substr(0, size - 1);
  b.insert(b.end(), t.begin(), t.end());
  b.insert(b.end(), size - t.size(), 0);
}

int fraction_count(AnalysisKind kind) {
  switch (kind) {
    case AnalysisKind::TriggerShort:
      return 62;
    case AnalysisKind::TriggerLong:
      return 78;
    case AnalysisKind::SourcesShort:
      return 82;
    case AnalysisKind::SourcesLong:
      return 146;
    default:
      return 0;
  }
}

Bytes record_head(const std::string& name, long index, int count) {
  Bytes b;
  put_slot(b, name, 16);
  uint32_t u = static_cast<uint32_t>(index);
  for (uint32_t v : {u, u * 1000u, 0u - u, 0x7FFF0000u + (u & 0xFFFF)}) put_u32(b, v);
  int i = static_cast<int>(index % 100);
  for (int v : {i, -(i % 50), 7, 300 + i % 7, -1}) put_i16(b, v);
  put_i16(b, count);
  return b;
}

void put_trigger(Bytes& b, long index, int size) {
  int i = static_cast<int>(index % 100000);
  size_t start = b.size();
  put_i16(b, 1 + i % 5);  // selector: not 0
  for (int v : {i % 10, 2, -3, 4}) put_i16(b, v);
  float level = 1.25f * static_cast<float>(i % 100);
  uint32_t bits;
  std::memcpy(&bits, &level, sizeof bits);
  put_u32(b, bits);
  put_u32(b, static_cast<uint32_t>(i));
  put_u32(b, 100000);
  put_i16(b, 11);
  put_i16(b, -12);
  for (uint32_t v : {1u, 2u, 3u, static_cast<uint32_t>(i)}) put_u32(b, v);
  put_slot(b, "TRIG " + std::to_string(index), static_cast<size_t>(size) - (b.size() - start));
}

void put_sources(Bytes& b, long index, size_t slot) {
  put_i16(b, 0);                                  // selector 0: trigger source names
  bool none = (index / kAnalysisKinds) % 3 == 2;  // now and then no source at all
  std::string names[4] = {"EXT-IN1", "", "LINE-" + std::to_string(index), ""};
  for (const std::string& n : names) put_slot(b, none ? "" : n, slot);
}

}  // namespace

void put_u32(Bytes& b, uint32_t v) {
  put_u16(b, v >> 16);
  put_u16(b, v & 0xFFFF);
}

AnalysisKind analysis_kind(long index) { return static_cast<AnalysisKind>(index % kAnalysisKinds); }

Bytes analysis_record(long index) {
  AnalysisKind kind = analysis_kind(index);
  if (kind == AnalysisKind::PlainWithData) {
    int count = 1 + static_cast<int>(index % 16);
    Bytes b = record_head("Peak", index, count);
    for (int i = 0; i < count; ++i) b.push_back(static_cast<uint8_t>(index + i));
    return b;
  }
  if (kind == AnalysisKind::PlainEmpty) return record_head("Baseline", index, 0);
  int count = fraction_count(kind);
  Bytes b = record_head("FractionData", index, count);
  if (kind == AnalysisKind::TriggerShort || kind == AnalysisKind::TriggerLong)
    put_trigger(b, index, count);
  else if (kind != AnalysisKind::FractionNone)
    put_sources(b, index, kind == AnalysisKind::SourcesLong ? 36 : 20);
  return b;
}

Bytes analysis_message(long k, long first_index, long& records) {
  records = 1 + k % 4;
  Bytes m;
  for (long r = 0; r < records; ++r) {
    Bytes rec = analysis_record(first_index + r);
    m.insert(m.end(), rec.begin(), rec.end());
  }
  return m;
}

Bytes nucleus_message(long k) {
  int id = 1 + static_cast<int>(k % 16);
  Bytes b;
  put_u32(b, static_cast<uint32_t>(k));
  b.push_back(1);  // FormatRevision
  b.push_back(static_cast<uint8_t>(id));
  put_u32(b, 0xC0DE0000u + static_cast<uint32_t>(k & 0xFFFF));  // not shown
  unsigned source = 1 + static_cast<unsigned>(k % 4);
  uint32_t record = static_cast<uint32_t>(k / 16);
  uint32_t points = 8 + static_cast<uint32_t>(k % 25);
  if (id >= 5 && id <= 8) {
    put_u32(b, static_cast<uint32_t>(k * 10));
    put_u16(b, source);
  } else if (id == 11) {
    put_u16(b, source);
  } else if (id == 12) {
    put_u32(b, record);
    put_u32(b, 16);
    put_u16(b, 3);
  } else if (id == 13) {
    put_u32(b, record);
    put_u32(b, 16);
    put_u32(b, points);
  } else if (id == 14 || id == 15) {
    put_u16(b, source);
    put_u32(b, record);
    put_u32(b, points);
  } else if (id == 16) {
    put_u16(b, source);
    put_u32(b, record);
  }
  if (id >= 13 && id <= 15)
    for (uint32_t p = 0; p < points; ++p)
      put_u16(b, (p * 97 + static_cast<unsigned>(k)) & 0xFFFF);  // the samples behind the header
  return b;
}

}  // namespace zsim
