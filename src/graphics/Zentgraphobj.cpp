// CZentGraphObj (see Zentgraphobj.h).
#include "graphics/Zentgraphobj.h"

#include <algorithm>
#include <cmath>

#include "graphics/Gglrender.h"

CZentGraphObj::CZentGraphObj(std::string title) : m_title(std::move(title)) {}

std::string CZentGraphObj::GetTitle() const {
  auto lock = GglLock();
  return m_title;
}

void CZentGraphObj::SetTitle(const std::string& text) {
  {
    auto lock = GglLock();
    m_title = text;
    if (PlacedMain()) GglSetObjectTitle(PlacedMain(), PlacedId(), this, text);
  }
  Call(requestRedraw);
}

std::string CZentGraphObj::GetXUnit() const {
  auto lock = GglLock();
  return m_xUnit;
}
std::string CZentGraphObj::GetYUnit() const {
  auto lock = GglLock();
  return m_yUnit;
}
void CZentGraphObj::SetXUnit(const std::string& text) { SetAxisTitle(0, m_xUnit, text); }
void CZentGraphObj::SetYUnit(const std::string& text) { SetAxisTitle(1, m_yUnit, text); }

void CZentGraphObj::SetAxisTitle(int axis, std::string& field, const std::string& text) {
  {
    auto lock = GglLock();
    field = text;
    if (PlacedMain()) GglSetObjectAxisTitle(PlacedMain(), PlacedId(), this, axis, GGL_AXIS_TITLE, text);
  }
  Call(requestRedraw);
}

int CZentGraphObj::GetLineStyle() const {
  auto lock = GglLock();
  TGglObjAttr a;
  if (PlacedMain() && GglGetObjectAttr(PlacedMain(), PlacedId(), this, &a) == GGL_OK) return a.lineStyle;
  return lineStyle;
}

int CZentGraphObj::GetMarker() const {
  auto lock = GglLock();
  TGglObjAttr a;
  if (PlacedMain() && GglGetObjectAttr(PlacedMain(), PlacedId(), this, &a) == GGL_OK) return a.marker;
  return marker;
}

int CZentGraphObj::SetLineStyle(int n) { return SetAttribute(n, 0, true); }
int CZentGraphObj::SetMarker(int n) { return SetAttribute(0, n, false); }

// Reads both attributes as they are, stores the new one and, as the other override, the other as read.
int CZentGraphObj::SetAttribute(int lineStyleValue, int markerValue, bool setStyle) {
  if (setStyle ? !GglValidLineStyle(lineStyleValue) : !GglValidMarker(markerValue)) return GGL_EARG;
  {
    auto lock = GglLock();
    TGglObjAttr a{colour, lineStyle, 1, marker};
    const bool placed = PlacedMain() && GglGetObjectAttr(PlacedMain(), PlacedId(), this, &a) == GGL_OK;
    if (setStyle)
      a.lineStyle = lineStyleValue;
    else
      a.marker = markerValue;
    lineStyle = a.lineStyle;
    marker = a.marker;
    if (placed) GglSetObjectAttr(PlacedMain(), PlacedId(), this, a);
  }
  Call(requestRedraw);
  return GGL_OK;
}

bool CZentGraphObj::SetData(long count, const double* x, const double* y) {
  if (count < 1 || !x || !y) return false;
  {
    auto lock = GglLock();
    m_data.Clear();
    m_hasValue = false;
  }
  return AddData(count, x, y);
}

bool CZentGraphObj::AddData(long count, const double* x, const double* y) {
  if (count < 1 || !x || !y) return false;
  {
    auto lock = GglLock();
    const bool first = m_data.Count() == 0;
    m_data.Append(count, x, y);
    // Only the new points are looked at, so that appending stays cheap on a long signal.
    TGglExtent added;
    GglScanData(added, count, x, y);
    if (first) extent.firstX = added.firstX;
    extent.lastX = added.lastX;
    for (long i = 0; i < count; ++i) {
      if (GglIsGap(y[i])) continue;
      extent.minY = m_hasValue ? std::min(extent.minY, y[i]) : y[i];
      extent.maxY = m_hasValue ? std::max(extent.maxY, y[i]) : y[i];
      m_hasValue = true;
    }
    if (!m_hasValue) extent.minY = 0.0, extent.maxY = 1.0;
    if (PlacedMain()) GglObjectChanged(PlacedMain(), PlacedId(), this, GGL_CHANGED_DATA, 0);
  }
  Call(requestRescale);
  return true;
}

void CZentGraphObj::ClearData() {
  {
    auto lock = GglLock();
    m_data.Clear();
    m_hasValue = false;
    const TGglRange viewX = extent.viewX, viewY = extent.viewY;
    extent = TGglExtent{};
    extent.viewX = viewX, extent.viewY = viewY;  // the next scale computation sets them
    if (PlacedMain()) GglObjectChanged(PlacedMain(), PlacedId(), this, GGL_CHANGED_DATA, 0);
  }
  Call(requestRescale);
}

void CZentGraphObj::Draw(TGglHandle main, int id) {
  if (m_data.Count() > 0) GglDrawSeries(main, id, m_data);
}

bool CZentGraphObj::Distance(TGglHandle main, int id, double px, double py, double* distance) {
  auto lock = GglLock();
  TGglPoint d, back;
  if (GglPixelToData(main, id, this, px, py, &d) != GGL_OK) return false;
  const std::optional<double> v = GglValueAtX(m_data.Count(), m_data.X(), m_data.Y(), d.x);
  if (!v || GglDataToPixel(main, id, this, d.x, *v, &back) != GGL_OK) return false;
  *distance = std::fabs(back.y - py);
  return true;
}
