// TFile's members and the file functions as scripts call them: validity and open checks first,
// positions beyond 2^31-1 as reals, TMemory contents only within the buffer's storage.
#include "scriptlib/Cmdfile.h"

#include "scriptlib/Bytearray.h"

#include "script/Registration.h"

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits>
#include <mutex>
#include <string>

void CheckLinuxPath(const std::string& name) {
  bool drive = name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':';
  if (drive || name.find('\\') != std::string::npos) throw ERunTimeError("Windows file name not supported: " + name);
}

namespace {

constexpr size_t kReadLineKeep = 999;
constexpr int64_t kReadChunk = 1 << 20;

TFile& FileOf(TObjHandle self) { return *ScriptObjectAs<TFile>(self, "TFile"); }

CFileStream& OpenStream(TFile& f) {
  if (!f.stream) throw ERunTimeError("File not open");
  return *f.stream;
}
CFileStream& OpenStream(TObjHandle self) { return OpenStream(FileOf(self)); }

TValue Int(int64_t v) { return TValue(static_cast<int32_t>(v)); }
// Sizes and positions past 2^31-1 go to the script as reals rather than wrapping.
TValue Number(int64_t v) {
  if (v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max()) return Int(v);
  return TValue(static_cast<double>(v));
}

// The buffer and a length that lies within its storage.
TMemory& BufferFor(TFile& f, const TValue& buffer, int64_t length) {
  TMemory& m = MemoryArg(buffer);
  OpenStream(f);
  if (length < 0) throw ERunTimeError("Index out of boundaries");
  m.CheckRange(0, length);
  return m;
}

#define FILE_HANDLER []([[maybe_unused]] TObjHandle self, const std::string&, [[maybe_unused]] TValue* a, int) -> TValue

void RegisterLifetime() {
  AddFun("TFILE.CREATE", FILE_HANDLER { return ObjToVar(AdoptLibObject(std::make_unique<TFile>())); }, {pkNone});
  AddProc("TFILE.FREE",
          FILE_HANDLER {
            FileOf(self).stream.reset();
            FreeLibObject(self);
            return TValue();
          },
          {pkNone});
  AddFun("TFILE.OPEN",
         FILE_HANDLER {
           TFile& f = FileOf(self);
           if (f.stream) throw ERunTimeError("File already open");
           std::string name = a[0].AsString();
           CheckLinuxPath(name);
           f.stream = CFileStream::Open(name, static_cast<int>(a[1].AsInt64() & 0xFFFF));
           return Int(f.stream ? 1 : 0);
         },
         {pkValue, pkValue});
  AddProc("TFILE.CLOSE",
          FILE_HANDLER {
            FileOf(self).stream.reset();
            return TValue();
          },
          {pkNone});
  AddFun("TFILE.ISOPEN", FILE_HANDLER { return Int(FileOf(self).stream ? 1 : 0); }, {pkNone});
}

void RegisterPlacement() {
  AddProp(
      "TFILE.SIZE", FILE_HANDLER { return Number(OpenStream(self).Size()); },
      FILE_HANDLER {
        CFileStream& s = OpenStream(self);
        int64_t size = a[0].AsInt64();
        if (size < 0 || !s.SetSize(size)) throw ERunTimeError("Cannot set the file size to " + std::to_string(size));
        return TValue();
      });
  AddProp(
      "TFILE.POSITION", FILE_HANDLER { return Number(OpenStream(self).Position()); },
      FILE_HANDLER {
        CFileStream& s = OpenStream(self);
        int64_t pos = a[0].AsInt64();
        if (pos < 0) throw ERunTimeError("Invalid file position " + std::to_string(pos));
        s.SetPosition(pos);
        return TValue();
      });
  AddFun("TFILE.SEEK",
         FILE_HANDLER {
           CFileStream& s = OpenStream(self);
           int64_t offset = a[0].AsInt64();
           int64_t origin = a[1].AsInt64();
           if (origin < soFromBeginning || origin > soFromEnd)
             throw ERunTimeError("Invalid seek origin " + std::to_string(origin));
           return Number(s.Seek(offset, static_cast<int>(origin)));
         },
         {pkValue, pkValue});
}

void RegisterBinary() {
  AddFun("TFILE.WRITEMEM",
         FILE_HANDLER {
           TFile& f = FileOf(self);
           int64_t length = a[1].AsInt64();
           TMemory& m = BufferFor(f, a[0], length);
           return Number(f.stream->Write(m.Data(), length));
         },
         {pkValue, pkValue});
  AddFun("TFILE.READMEM",
         FILE_HANDLER {
           TFile& f = FileOf(self);
           int64_t length = a[1].AsInt64();
           TMemory& m = BufferFor(f, a[0], length);
           return Number(f.stream->Read(m.Data(), length));
         },
         {pkVar, pkValue});
  AddFun("TFILE.WRITEINTEGER",
         FILE_HANDLER {
           CFileStream& s = OpenStream(self);
           uint32_t v = static_cast<uint32_t>(a[0].AsInt64());
           uint8_t b[4];
           for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
           return Number(s.Write(b, 4));
         },
         {pkValue});
  AddFun("TFILE.READINTEGER",
         FILE_HANDLER {
           CFileStream& s = OpenStream(self);
           uint8_t b[4];
           if (s.Read(b, 4) != 4) return Int(0);
           a[0] = TValue(static_cast<int32_t>(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 |
                                              uint32_t(b[3]) << 24));
           return Int(1);
         },
         {pkVar});
}

void RegisterText() {
  AddFun("TFILE.WRITESTRING",
         FILE_HANDLER {
           CFileStream& s = OpenStream(self);
           std::string text = a[0].AsString();
           return Number(s.Write(text.data(), static_cast<int64_t>(text.size())));
         },
         {pkValue});
  // Text and line feed in one write, so that a reader never sees half a line end.
  AddFun("TFILE.WRITELN",
         FILE_HANDLER {
           CFileStream& s = OpenStream(self);
           std::string text = a[0].AsString();
           const int64_t length = static_cast<int64_t>(text.size());
           text += '\n';
           return Number(std::min(s.Write(text.data(), length + 1), length));
         },
         {pkValue});
  // No fixed work area: read in chunks, so that memory follows the data actually there.
  AddFun("TFILE.READSTRING",
         FILE_HANDLER {
           CFileStream& s = OpenStream(self);
           const int64_t length = a[1].AsInt64();
           if (length < 0) return Int(0);
           std::string text;
           while (static_cast<int64_t>(text.size()) < length) {
             const size_t have = text.size();
             const int64_t want = std::min(length - static_cast<int64_t>(have), kReadChunk);
             text.resize(have + static_cast<size_t>(want));
             const int64_t got = s.Read(text.data() + have, want);
             if (got < want) return Int(0);
           }
           text.resize(std::min(text.size(), text.find('\0')));
           a[0] = TValue(std::move(text));
           return Int(1);
         },
         {pkVar, pkValue});
  AddFun("TFILE.READLINE",
         FILE_HANDLER {
           CFileStream& s = OpenStream(self);
           std::string line;
           if (!s.ReadLine(line, kReadLineKeep)) return Int(0);
           a[0] = TValue(std::move(line));
           return Int(1);
         },
         {pkVar});
}

TValue FileFunctionResult(bool ok) { return TValue(static_cast<int32_t>(ok ? 1 : 0)); }

void RegisterFunctionsAndConstants() {
  AddFun("ObjToStr",
         FILE_HANDLER {
           char text[16];
           std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(VarToObj(a[0])));
           return TValue(text);
         },
         {pkValue});
  AddFun("CreateDir",
         FILE_HANDLER {
           std::string path = a[0].AsString();
           CheckLinuxPath(path);
           return FileFunctionResult(!path.empty() && ::mkdir(path.c_str(), 0777) == 0);
         },
         {pkValue});
  AddFun("DeleteFile",
         FILE_HANDLER {
           std::string path = a[0].AsString();
           CheckLinuxPath(path);
           return FileFunctionResult(!path.empty() && ::unlink(path.c_str()) == 0);
         },
         {pkValue});
  const std::pair<const char*, int32_t> kConstants[] = {{"fmCreate", fmCreate},
                                                        {"fmOpenRead", fmOpenRead},
                                                        {"fmOpenWrite", fmOpenWrite},
                                                        {"fmOpenReadWrite", fmOpenReadWrite},
                                                        {"fmShareCompat", fmShareCompat},
                                                        {"fmShareExclusive", fmShareExclusive},
                                                        {"fmShareDenyWrite", fmShareDenyWrite},
                                                        {"fmShareDenyRead", fmShareDenyRead},
                                                        {"fmShareDenyNone", fmShareDenyNone},
                                                        {"soFromBeginning", soFromBeginning},
                                                        {"soFromCurrent", soFromCurrent},
                                                        {"soFromEnd", soFromEnd}};
  for (const auto& [name, value] : kConstants) AddConst(name, TValue(value));
}

}  // namespace

void RegisterFileLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterHostClass("TFile", "TObject");
    RegisterLifetime();
    RegisterPlacement();
    RegisterBinary();
    RegisterText();
    RegisterFunctionsAndConstants();
  });
}
