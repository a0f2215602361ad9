// TGraphicForm and TPlotSignal (see Graphicmain.h).
#include "graphics/Graphicmain.h"

#include <QCloseEvent>
#include <QMdiSubWindow>
#include <algorithm>

void TPlotSignal::SetData(long count, const double* x, const double* y) {
  if (count > 0)
    CZentGraphObj::SetData(count, x, y);
  else
    ClearData();  // replacing by an empty table leaves an empty curve
}

void TPlotSignal::AddData(long count, const double* x, const double* y) {
  if (count > 0) CZentGraphObj::AddData(count, x, y);
}

TGraphicForm::TGraphicForm(std::string name, QWidget* parent) : QWidget(parent), m_name(std::move(name)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QString::fromStdString("Graph - " + m_name));
  resize(kWidth, kHeight);
  Timer1.setInterval(kTimerMs);
  connect(&Timer1, &QTimer::timeout, this, &TGraphicForm::TimerTick);
  m_mainWnd.Create(this, width(), height(), m_showGrid);  // a refusal leaves the window without a plot
  RequestRebuild();
}

TGraphicForm::~TGraphicForm() { Teardown(); }

// Signals and areas go before the library window; the window leaves the registry.
void TGraphicForm::Teardown() {
  Timer1.stop();
  RemoveObjects();
  m_signals.clear();
  DestroyAreas();
  if (!m_closed) CPlotRegistry::Instance().Remove(this);
  m_closed = true;
}

void TGraphicForm::closeEvent(QCloseEvent* event) {
  Teardown();
  QWidget::closeEvent(event);
}

void TGraphicForm::CloseWindow() {
  CPlotRegistry::Instance().Remove(this);
  if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget()))
    sub->close();
  else
    close();
}

void TGraphicForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (QWidget* w = GglMainWidget(m_mainWnd.handle)) w->setGeometry(rect());
}

IPlotSignal* TGraphicForm::AddSignal(const std::string& name) {
  for (auto& [n, obj] : m_signals)
    if (n == name) return obj.get();
  auto obj = std::make_unique<TPlotSignal>(name);
  obj->requestRedraw = [this] { RequestRedraw(); };
  obj->requestRescale = [this] { RequestRescale(); };
  m_signals.emplace_back(name, std::move(obj));
  RequestRebuild();
  return m_signals.back().second.get();
}

void TGraphicForm::RemoveAllSignals() {
  RemoveObjects();
  m_signals.clear();
  RequestRebuild();
}

bool TGraphicForm::HasSignal(const IPlotSignal* signal) const {
  return std::any_of(m_signals.begin(), m_signals.end(), [signal](const auto& s) { return s.second.get() == signal; });
}

void TGraphicForm::SetWindowMode(int mode) {
  if (mode == m_windowMode) return;
  m_windowMode = mode;
  RequestRebuild();
}

void TGraphicForm::SetScaleMode(int mode) {
  if (mode == m_scaleMode) return;
  m_scaleMode = mode;
  RequestRescale();
}

void TGraphicForm::SetShowGrid(int show) {
  m_showGrid = show;
  if (m_mainWnd.handle) m_mainWnd.SetShowGrid(show);
  RequestRedraw();
}

void TGraphicForm::RequestRebuild() {
  m_rebuildPending = true;
  StartTimer();
}
void TGraphicForm::RequestRescale() {
  m_rescalePending = true;
  StartTimer();
}
void TGraphicForm::RequestRedraw() {
  m_redrawPending = true;
  StartTimer();
}

// A running timer is left running: restarting it on every change would starve a window fed in a loop.
void TGraphicForm::StartTimer() {
  if (!m_closed && !Timer1.isActive()) Timer1.start();
}

void TGraphicForm::TimerTick() {
  Timer1.stop();
  if (m_rebuildPending)
    Rebuild();
  else if (m_rescalePending)
    Rescale();
  else if (m_redrawPending)
    GglRedraw(m_mainWnd.handle);
  m_rebuildPending = m_rescalePending = m_redrawPending = false;
  GglRedraw(m_mainWnd.handle);
}

void TGraphicForm::RemoveObjects() {
  auto lock = GglLock();
  for (auto& [n, obj] : m_signals)
    if (obj->PlacedMain()) GglRemoveObject(obj->PlacedMain(), obj->PlacedId(), obj.get());
}

void TGraphicForm::DestroyAreas() { m_areas.clear(); }

CZentDrawSubWnd* TGraphicForm::NewArea(int index) {
  auto area = std::make_unique<CZentDrawSubWnd>(m_mainWnd, index);
  if (!area->Create()) return nullptr;
  m_areas.push_back(std::move(area));
  return m_areas.back().get();
}

void TGraphicForm::Rebuild() {
  if (!m_mainWnd.handle) return;
  auto lock = GglLock();
  RemoveObjects();
  DestroyAreas();
  if (m_signals.empty()) {
    NewArea(1);
    return;
  }
  ComputeScales();
  CZentDrawSubWnd* shared = m_windowMode == WM_ALLINONEWND ? NewArea(1) : nullptr;
  for (size_t i = 0; i < m_signals.size(); ++i) {
    CZentDrawSubWnd* area = m_windowMode == WM_EACHSEPARATE ? NewArea(int(i) + 1) : shared;
    if (area) area->PlaceSignal(*m_signals[i].second, int(i));
  }
  CZentGraphObj& first = *m_signals.front().second;
  if (first.PlacedMain()) GglHighlightObject(first.PlacedMain(), first.PlacedId(), &first);
}

void TGraphicForm::ComputeScales() {
  if (m_signals.empty()) return;
  auto lock = GglLock();
  std::vector<TGglExtent*> extents;
  for (auto& [n, obj] : m_signals) extents.push_back(&obj->extent);
  GglComputeScales(extents, m_scaleMode);
}

void TGraphicForm::Rescale() {
  auto lock = GglLock();
  ComputeScales();
  for (auto& [n, obj] : m_signals)
    if (obj->PlacedMain())
      GglSetObjectScale(obj->PlacedMain(), obj->PlacedId(), obj.get(), obj->extent.viewX, obj->extent.viewY);
}
