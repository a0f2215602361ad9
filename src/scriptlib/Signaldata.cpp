// CSignalData and the script class TSignalData (see Signaldata.h). Tables are pooled library objects,
// so that those a script never frees go when the last running script ends.
#include "scriptlib/Signaldata.h"

#include "scriptlib/LibObjects.h"
#include "scriptlib/Plotobjects.h"

#include "script/Registration.h"

#include <algorithm>
#include <cstring>
#include <mutex>

bool CSignalData::MakeRoom(int64_t i) {
  if (i < 0 || i > kMaxIndex) return false;
  if (i < m_capacity) return true;
  // Grows by half again at least, so that filling a table point by point is not quadratic.
  const int64_t grown = std::min<int64_t>(int64_t(m_capacity) + m_capacity / 2, int64_t(kMaxIndex) + 1);
  const int32_t capacity = static_cast<int32_t>(std::max<int64_t>(i + 200, grown));
  auto x = std::make_unique<double[]>(capacity);  // value-initialised: the rest is 0.0
  auto y = std::make_unique<double[]>(capacity);
  if (m_count > 0) {
    std::memcpy(x.get(), m_x.get(), sizeof(double) * m_count);
    std::memcpy(y.get(), m_y.get(), sizeof(double) * m_count);
  }
  m_x = std::move(x);
  m_y = std::move(y);
  m_capacity = capacity;
  return true;
}

bool CSignalData::SetX(int64_t i, double v) {
  if (!MakeRoom(i)) return false;
  m_count = std::max(m_count, static_cast<int32_t>(i + 1));
  m_x[i] = v;
  return true;
}

bool CSignalData::SetY(int64_t i, double v) {
  if (!MakeRoom(i)) return false;
  m_count = std::max(m_count, static_cast<int32_t>(i + 1));
  m_y[i] = v;
  return true;
}

bool CSignalData::SetCount(int64_t n) {
  if (n < 0 || n > int64_t(kMaxIndex) + 1) return false;
  if (n > m_count && !MakeRoom(n - 1)) return false;
  m_count = static_cast<int32_t>(n);
  return true;
}

void CSignalData::Delete(int64_t first, int64_t last) {
  if (!(InRange(first) && InRange(last) && first < last)) return;
  const int64_t tail = m_count - last - 1;
  std::memmove(&m_x[first], &m_x[last + 1], sizeof(double) * tail);
  std::memmove(&m_y[first], &m_y[last + 1], sizeof(double) * tail);
  m_count -= static_cast<int32_t>(last - first + 1);
}

void CSignalData::Clear() {
  m_x.reset();
  m_y.reset();
  m_capacity = m_count = 0;
}

namespace {

#define DATA_HANDLER []([[maybe_unused]] TObjHandle self, const std::string&, [[maybe_unused]] TValue* a, int) -> TValue

CSignalData& Table(TObjHandle self) { return SignalDataOf(self); }

void Refuse(bool ok, const char* text) {
  if (!ok) throw ERunTimeError(text);
}

}  // namespace

void RegisterSignalDataLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterHostClass("TSignalData", "TObject");
    AddFun("TSignalData.Create", DATA_HANDLER { return ObjToVar(CreateLibObject<TSignalDataObj>()); }, {pkNone});
    AddFun("TSignalData.Free",
           DATA_HANDLER {
             Table(self);
             FreeLibObject(self);
             return TValue();
           },
           {pkNone});
    AddFun("TSignalData.Clear",
           DATA_HANDLER {
             Table(self).Clear();
             return TValue();
           },
           {pkNone});
    AddFun("TSignalData.Delete",
           DATA_HANDLER {
             Table(self).Delete(a[0].AsInt64(), a[1].AsInt64());
             return TValue();
           },
           {pkValue, pkValue});
    AddArrayProp(
        "TSignalData.x", 1, DATA_HANDLER { return TValue(Table(self).GetX(a[0].AsInt64())); },
        DATA_HANDLER {
          Refuse(Table(self).SetX(a[0].AsInt64(), a[1].AsReal()), "Index out of boundaries");
          return TValue();
        });
    AddArrayProp(
        "TSignalData.y", 1, DATA_HANDLER { return TValue(Table(self).GetY(a[0].AsInt64())); },
        DATA_HANDLER {
          Refuse(Table(self).SetY(a[0].AsInt64(), a[1].AsReal()), "Index out of boundaries");
          return TValue();
        });
    AddProp(
        "TSignalData.Count", DATA_HANDLER { return TValue(Table(self).Count()); },
        DATA_HANDLER {
          Refuse(Table(self).SetCount(a[0].AsInt64()), "Invalid count");
          return TValue();
        });
  });
}
