// Window-side decoders for the simulator's tests.
#include "WindowDecode.h"

#include <cstring>

namespace simtest {
namespace {

int16_t i16(const uint8_t* p) { return static_cast<int16_t>(p[0] << 8 | p[1]); }
uint16_t u16b(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
int32_t i32(const uint8_t* p) {
  return static_cast<int32_t>(uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]);
}

std::string slot(const uint8_t* p, size_t max) {
  const void* z = std::memchr(p, 0, max);
  return std::string(reinterpret_cast<const char*>(p), z ? static_cast<const uint8_t*>(z) - p : max);
}

}  // namespace

std::optional<NucleusHeader> decode_nucleus(const std::vector<uint8_t>& m) {
  if (m.size() < 10) return std::nullopt;
  NucleusHeader h;
  h.record = i32(m.data());
  h.revision = m[4];
  h.id = m[5];
  const uint8_t* f = m.data() + 10;
  // Field widths in printed order: 2 = 16-bit, 4 = 32-bit; IDs 5..8 skip a 32-bit value first.
  std::vector<int> widths;
  size_t skip = 0;
  if (h.id >= 5 && h.id <= 8)
    skip = 4, widths = {2};
  else if (h.id == 11)
    widths = {2};
  else if (h.id == 12)
    widths = {4, 4, 2};
  else if (h.id == 13)
    widths = {4, 4, 4};
  else if (h.id == 14 || h.id == 15)
    widths = {2, 4, 4};
  else if (h.id == 16)
    widths = {2, 4};
  h.needed = 10 + skip;
  for (int w : widths) h.needed += static_cast<size_t>(w);
  if (m.size() < h.needed) return std::nullopt;
  f += skip;
  for (int w : widths) {
    h.values.push_back(w == 2 ? u16b(f) : i32(f));
    f += w;
  }
  return h;
}

std::vector<AnalysisRecord> decode_analysis(const std::vector<uint8_t>& m, bool& ok) {
  std::vector<AnalysisRecord> out;
  ok = true;
  size_t pos = 0;
  while (pos < m.size()) {
    const uint8_t* r = m.data() + pos;
    size_t n = m.size() - pos;
    if (n < 44) return ok = false, out;
    AnalysisRecord rec;
    rec.name = slot(r, 16);
    rec.count = i16(r + 42);
    rec.size = 44;
    if (rec.name != "FractionData") {
      rec.size += rec.count > 0 ? static_cast<size_t>(rec.count) : 0;
    } else if (rec.count > 0) {
      int c = rec.count;
      if (c != 62 && c != 78 && c != 82 && c != 146) return ok = false, out;
      bool is_long = c == 146 || c == 78;
      const uint8_t* f = r + 44;
      if (n < 46) return ok = false, out;
      rec.selector = i16(f);
      size_t size = rec.selector != 0 ? (is_long ? 78 : 62) : (is_long ? 146 : 82);
      if (n < 44 + size) return ok = false, out;
      rec.size += size;
      if (rec.selector != 0)
        rec.texts.push_back(slot(f + 42, size - 42));
      else
        for (int i = 0; i < 4; ++i)
          if (std::string t = slot(f + 2 + i * (is_long ? 36 : 20), is_long ? 36 : 20); !t.empty())
            rec.texts.push_back(t);
    }
    if (rec.size > n) return ok = false, out;  // the data bytes run past the message
    pos += rec.size;
    out.push_back(rec);
  }
  return out;
}

std::vector<std::string> event_fields(const std::string& text) {
  std::vector<std::string> fields;
  size_t pos = 0;
  while (true) {
    while (pos < text.size() && text[pos] == ',') ++pos;
    if (pos >= text.size()) return fields;
    size_t end = text.find(',', pos);
    if (end == std::string::npos) end = text.size();
    fields.push_back(text.substr(pos, end - pos));
    pos = end;
  }
}

void TraceLines::add(const std::string& piece) {
  std::vector<std::string> pieces;
  size_t pos = 0;
  while (pos <= piece.size()) {
    size_t nl = piece.find('\n', pos);
    if (nl == std::string::npos) nl = piece.size();
    if (nl > pos) pieces.push_back(piece.substr(pos, nl - pos));
    pos = nl + 1;
  }
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (i == 0 && !last_ended_ && !lines.empty() && piece[0] != '\n')
      lines.back() += pieces[0];
    else
      lines.push_back(pieces[i]);
  }
  if (pieces.empty()) lines.emplace_back();
  last_ended_ = !piece.empty() && piece.back() == '\n';
}

}  // namespace simtest
