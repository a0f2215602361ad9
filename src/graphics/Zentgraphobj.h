// CZentGraphObj: one signal of a plot window as a graph object: its title, units, data, ranges and
// line style and marker overrides. It draws its curve through the library and tells how far a pixel
// lies from it; the plot window hears of changes through the two request hooks.
#pragma once

#include <functional>
#include <string>

#include "graphics/Gglscale.h"
#include "graphics/Gglseries.h"
#include "graphics/Zentlggl.h"

class CZentGraphObj : public CGglObj {
 public:
  explicit CZentGraphObj(std::string title);

  // The plot window's deferred updates (RequestRedraw, RequestRescale); empty ones are skipped.
  std::function<void()> requestRedraw;
  std::function<void()> requestRescale;

  std::string GetTitle() const;
  void SetTitle(const std::string& text);
  std::string GetXUnit() const;
  void SetXUnit(const std::string& text);
  std::string GetYUnit() const;
  void SetYUnit(const std::string& text);
  // Line styles 0..5 and markers 0..11 and 22; others are refused with GGL_EARG and change nothing.
  int GetLineStyle() const;
  int SetLineStyle(int n);
  int GetMarker() const;
  int SetMarker(int n);

  // Replaces or appends the points; count below 1 is refused (false) and keeps the data.
  bool SetData(long count, const double* x, const double* y);
  bool AddData(long count, const double* x, const double* y);
  // No data any more: the extent is back at its initial values.
  void ClearData();

  const CGglSeries& Data() const { return m_data; }
  long Count() const { return m_data.Count(); }
  TGglExtent extent;   // firstX, lastX, minY, maxY and the view ranges the scale computation gives
  int lineStyle = -1;  // overrides; -1: the window's choice
  int marker = -1;
  TGglColour colour = 0;

  void Draw(TGglHandle main, int id) override;
  bool Distance(TGglHandle main, int id, double px, double py, double* distance) override;

 private:
  int SetAttribute(int lineStyleValue, int markerValue, bool setStyle);
  void SetAxisTitle(int axis, std::string& field, const std::string& text);
  void Changed();
  static void Call(const std::function<void()>& f) {
    if (f) f();
  }

  std::string m_title, m_xUnit, m_yUnit;
  CGglSeries m_data;
  bool m_hasValue = false;  // some y value is not a gap
};
