// TCu: a CU with its own channel. Waits run in short slices, so that an abort of the script or the
// host withdrawing its connection ends them at once; the channel goes before its connection does.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "StandardApp/Zematcore.h"
#include "script/Registration.h"
#include "scriptlib/Bytearray.h"
#include "scriptlib/CmdInstr.h"
#include "scriptlib/Instscript.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr unsigned kSliceMs = 100;
constexpr int kReplyBuffer = Z_READ_BUFFER;  // the longest frame and the zero behind it

bool Aborted() {
  TInstrScriptThread* run = TInstrScriptThread::Current();
  return run && run->RunState().load() == HAL_STOP;
}

unsigned MsLeft(Clock::time_point end) {
  auto now = Clock::now();
  return now >= end ? 0u
                    : static_cast<unsigned>(std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count());
}

}  // namespace

TCuObj::TCuObj() : TLibObject("TCu") { CScriptConnection::Instance().AddHolder(this); }

TCuObj::~TCuObj() {
  Close();
  CScriptConnection::Instance().RemoveHolder(this);
}

CScriptConnection::TUse TCuObj::UseChannel(CCuIO*& channel) {
  channel = nullptr;
  uint64_t generation = 0;
  {
    std::lock_guard<std::mutex> g(m_lock);
    if (!m_channel) return {};
    generation = m_generation;
  }
  // The connection's lock is never taken under ours: its withdraw takes ours under its own.
  CScriptConnection::TUse use = CScriptConnection::Instance().Use(generation);
  if (!use) return {};
  std::lock_guard<std::mutex> g(m_lock);
  if (!m_channel || m_generation != generation) return {};
  channel = m_channel.get();
  return use;
}

// An open TCu is closed first: its channel is never lost, and the new open starts clean.
int TCuObj::Open() {
  std::shared_ptr<CCuDesc> cu = Cu();
  Close();
  CScriptConnection& connection = CScriptConnection::Instance();
  CScriptConnection::TUse use = connection.UseCurrent();
  if (!use || cu->IsRemoved() || cu->GetOwner() != &*use) return 0;  // a record of another connection
  CCuIO* channel = nullptr;
  {
    std::lock_guard<std::mutex> g(m_lock);
    m_channel = std::make_unique<CCuIO>(cu);
    m_generation = use.Generation();
    channel = m_channel.get();
  }
  if (connection.Withdrawing()) channel->Abandon();  // the host's wake may have come before the channel
  const int result = channel->Open();
  if (result == 0) {
    std::lock_guard<std::mutex> g(m_lock);
    m_channel.reset();
  }
  return result;
}

int TCuObj::Close() {
  CCuIO* channel = nullptr;
  CScriptConnection::TUse use = UseChannel(channel);
  if (!use) return 0;  // not open, or its connection is being withdrawn (that drops the channel)
  const int result = channel->Close();
  std::lock_guard<std::mutex> g(m_lock);
  m_channel.reset();
  return result;
}

bool TCuObj::IsOpen() {
  std::lock_guard<std::mutex> g(m_lock);
  return m_channel && m_channel->IsOpen();
}

bool TCuObj::Write(const void* data, int length) {
  CCuIO* channel = nullptr;
  CScriptConnection::TUse use = UseChannel(channel);
  if (!use) return false;
  const auto end = Clock::now() + std::chrono::milliseconds(use->Timings().channelWaitMs);
  for (;;) {  // credits are waited for in slices
    const int rc = channel->WriteWithin(data, length, kSliceMs);
    if (rc != Z_TIMEOUT) return rc == Z_OK;
    if (!use->IsConnected() || MsLeft(end) == 0 || Aborted() || CScriptConnection::Instance().Withdrawing())
      return false;
  }
}

int TCuObj::Read(uint8_t* buffer, int capacity, unsigned ms) {
  CCuIO* channel = nullptr;
  CScriptConnection::TUse use = UseChannel(channel);
  if (!use) return 0;
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    int length = capacity;
    if (channel->Read(buffer, &length, std::min(kSliceMs, MsLeft(end))) == Z_OK) return length;
    if (MsLeft(end) == 0 || Aborted() || CScriptConnection::Instance().Withdrawing()) return 0;
  }
}

void TCuObj::WakeChannel() {
  std::lock_guard<std::mutex> g(m_lock);
  if (!m_channel) return;
  m_channel->Abandon();
  m_channel->WakeReader();
}

void TCuObj::DropChannel() {
  std::lock_guard<std::mutex> g(m_lock);
  m_channel.reset();
}

// ---- registration ----

namespace {

TCuObj& CuOf(TObjHandle self) { return *ScriptObjectAs<TCuObj>(self, "TCu"); }
TValue Int(int64_t v) { return TValue(static_cast<int32_t>(v)); }

// Text after the 4-byte header up to the first zero byte.
std::string ReplyText(const std::vector<uint8_t>& frame) {
  return std::string(reinterpret_cast<const char*>(frame.data()) + Z_HEADER_LEN);
}

#define CU_HANDLER []([[maybe_unused]] TObjHandle self, const std::string&, [[maybe_unused]] TValue* a, int) -> TValue

void RegisterCuLifetime() {
  AddFun("TCu.Create", CU_HANDLER { return ObjToVar(CreateLibObject<TCuObj>()); }, {pkNone});
  AddFun("TCu.Free",
         CU_HANDLER {
           CuOf(self);
           FreeLibObject(self);  // closes an open channel on the way
           return TValue();
         },
         {pkNone});
  AddProp(
      "TCu.Name", CU_HANDLER { return TValue(std::string(CuOf(self).Cu()->GetCuName())); });
  AddProp(
      "TCu.Desc", CU_HANDLER { return ObjToVar(CuOf(self).desc); },
      CU_HANDLER {
        CuOf(self).desc = VarToObj(a[0]);
        return TValue();
      });
  AddProp(
      "TCu.OutBufferOffset", CU_HANDLER { return Int(CuOf(self).Cu()->GetRequestedIn()); },
      CU_HANDLER {
        CuOf(self).Cu()->SetRequestedIn(a[0].AsInteger());
        return TValue();
      });
  AddFun("TCu.IsOpen", CU_HANDLER { return Int(CuOf(self).IsOpen() ? 1 : 0); }, {pkNone});
  AddFun("TCu.Open", CU_HANDLER { return Int(CuOf(self).Open()); }, {pkNone});
  AddFun("TCu.Close", CU_HANDLER { return Int(CuOf(self).Close()); }, {pkNone});
}

void RegisterCuText() {
  AddFun("TCu.IO",
         CU_HANDLER {
           TCuObj& cu = CuOf(self);
           if (!cu.IsOpen()) return TValue("CU not open!");
           const std::string text = a[0].AsString();
           cu.Write(text.data(), static_cast<int>(text.size()));  // the reply tells whether it went out
           std::vector<uint8_t> reply(kReplyBuffer);
           if (cu.Read(reply.data(), kReplyBuffer, CScriptConnection::Instance().ReplyWaitMs()) == 0)
             return TValue("cmd error!");
           return TValue(ReplyText(reply));
         },
         {pkValue});
  AddFun("TCu.Write",
         CU_HANDLER {
           TCuObj& cu = CuOf(self);
           if (!cu.IsOpen()) return TValue("CU not open!");
           const std::string text = a[0].AsString();
           cu.Write(text.data(), static_cast<int>(text.size()));
           return TValue(text);
         },
         {pkValue});
  AddFun("TCu.Read",
         CU_HANDLER {
           TCuObj& cu = CuOf(self);
           if (!cu.IsOpen()) return TValue("CU not open!");
           std::vector<uint8_t> reply(kReplyBuffer);
           const int64_t ms = std::clamp<int64_t>(a[0].AsInt64(), 0, 0x7FFFFFFF);
           if (cu.Read(reply.data(), kReplyBuffer, static_cast<unsigned>(ms)) == 0) return TValue(std::string());
           return TValue(ReplyText(reply));
         },
         {pkValue});
}

void RegisterCuBinary() {
  AddFun("TCu.WriteBin",
         CU_HANDLER {
           TCuObj& cu = CuOf(self);
           TMemory& buffer = MemoryArg(a[0]);
           const int64_t length = a[1].AsInt64();
           if (!cu.IsOpen()) throw ERunTimeError("CU not open");
           buffer.CheckRange(0, length);
           std::vector<uint8_t> block(buffer.Data(), buffer.Data() + length);
           cu.Write(block.data(), static_cast<int>(length));
           return TValue();
         },
         {pkValue, pkValue});
  // The frame is read whole and its payload, with the zero the channel puts behind it, is placed at
  // the start of the storage: as much as fits, so that nothing lands outside it.
  AddFun("TCu.ReadBin",
         CU_HANDLER {
           TCuObj& cu = CuOf(self);
           TMemory& buffer = MemoryArg(a[0]);
           if (!cu.IsOpen()) throw ERunTimeError("CU not open");
           std::vector<uint8_t> frame(kReplyBuffer);
           const int64_t ms = std::clamp<int64_t>(a[1].AsInt64(), 0, 0x7FFFFFFF);
           const int length = cu.Read(frame.data(), kReplyBuffer, static_cast<unsigned>(ms));
           if (length == 0 || buffer.Size() == 0) return Int(0);
           const int placed = std::min(length - Z_HEADER_LEN, static_cast<int>(buffer.Size()));
           std::memcpy(buffer.Data(), frame.data() + Z_HEADER_LEN, static_cast<size_t>(placed - 1));
           buffer.Data()[placed - 1] = 0;
           return Int(placed);
         },
         {pkValue, pkValue});
}

}  // namespace

void RegisterTCu() {
  RegisterCuLifetime();
  RegisterCuText();
  RegisterCuBinary();
}
