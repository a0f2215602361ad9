// TGraphicForm: a plot window. It covers its client area with one library main window, keeps the
// signals in insertion order, distributes them over plot areas by window mode (all in one, or one
// area each), scales them by scale mode, and defers rebuilds, rescales and redraws to one 50 ms
// timer so that a script feeding data in a loop costs at most one update per tick. Scripts reach it
// through IPlotWindow on the GUI thread; it leaves the plot window registry when it closes.
#pragma once

#include <QTimer>
#include <QWidget>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "graphics/Zentdrawsubwnd.h"
#include "graphics/Zentgraphobj.h"
#include "scriptlib/Plothost.h"

// A signal of a plot window as the script bindings see it.
class TPlotSignal final : public CZentGraphObj, public IPlotSignal {
 public:
  using CZentGraphObj::CZentGraphObj;
  std::string GetTitle() const override { return CZentGraphObj::GetTitle(); }
  void SetTitle(const std::string& text) override { CZentGraphObj::SetTitle(text); }
  std::string GetXUnit() const override { return CZentGraphObj::GetXUnit(); }
  void SetXUnit(const std::string& text) override { CZentGraphObj::SetXUnit(text); }
  std::string GetYUnit() const override { return CZentGraphObj::GetYUnit(); }
  void SetYUnit(const std::string& text) override { CZentGraphObj::SetYUnit(text); }
  int GetLineStyle() const override { return CZentGraphObj::GetLineStyle(); }
  int GetMarker() const override { return CZentGraphObj::GetMarker(); }
  bool SetLineStyle(int n) override { return CZentGraphObj::SetLineStyle(n) == GGL_OK; }
  bool SetMarker(int n) override { return CZentGraphObj::SetMarker(n) == GGL_OK; }
  void SetData(long count, const double* x, const double* y) override;
  void AddData(long count, const double* x, const double* y) override;
};

class TGraphicForm : public QWidget, public IPlotWindow {
  Q_OBJECT
 public:
  static constexpr int kWidth = 621, kHeight = 412;
  static constexpr int kTimerMs = 50;

  explicit TGraphicForm(std::string name, QWidget* parent = nullptr);
  ~TGraphicForm() override;

  const std::string& Name() const { return m_name; }
  TGglHandle MainHandle() const { return m_mainWnd.handle; }
  const std::vector<CGglSubWnd*>& Areas() const { return m_mainWnd.areas; }
  const std::vector<std::pair<std::string, std::unique_ptr<TPlotSignal>>>& Signals() const { return m_signals; }
  bool UpdatePending() const { return m_rebuildPending || m_rescalePending || m_redrawPending; }
  bool TimerActive() const { return Timer1.isActive(); }
  // Runs the deferred work now (what the timer does).
  void TimerTick();

  // IPlotWindow
  IPlotSignal* AddSignal(const std::string& name) override;
  void RemoveAllSignals() override;
  bool HasSignal(const IPlotSignal* signal) const override;
  int WindowMode() const override { return m_windowMode; }
  void SetWindowMode(int mode) override;
  int ScaleMode() const override { return m_scaleMode; }
  void SetScaleMode(int mode) override;
  int ShowGrid() const override { return m_showGrid; }
  void SetShowGrid(int show) override;
  void CloseWindow() override;

  void RequestRebuild();
  void RequestRescale();
  void RequestRedraw();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void StartTimer();
  void Rebuild();
  void ComputeScales();
  void Rescale();
  void RemoveObjects();
  void DestroyAreas();
  CZentDrawSubWnd* NewArea(int index);
  void Teardown();

  std::string m_name;
  CGglMainWnd m_mainWnd;
  std::vector<std::pair<std::string, std::unique_ptr<TPlotSignal>>> m_signals;
  std::vector<std::unique_ptr<CZentDrawSubWnd>> m_areas;
  int m_windowMode = WM_ALLINONEWND;
  int m_scaleMode = SM_EACHFULLSCALE;
  int m_showGrid = 1;
  bool m_rebuildPending = false, m_rescalePending = false, m_redrawPending = false;
  bool m_closed = false;
  QTimer Timer1;
};
