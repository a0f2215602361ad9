// A plot window's library side for the tests: a main window with plot areas and signals placed as the
// plot windows place them, rendering into an image and saving screenshots into the build folder.
#pragma once

#include <QImage>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "graphics/Gglscale.h"
#include "graphics/Zentdrawsubwnd.h"
#include "graphics/Zentgraphobj.h"
#include "graphics/Zentlggl.h"

namespace plottest {

class TPlot {
 public:
  explicit TPlot(int width = 800, int height = 500) { ok = mainWnd.Create(nullptr, width, height, 1); }

  CZentDrawSubWnd& AddArea() {
    areas.push_back(std::make_unique<CZentDrawSubWnd>(mainWnd, int(areas.size()) + 1));
    areas.back()->Create();
    return *areas.back();
  }
  CZentGraphObj& AddCurve(const std::string& title, const std::vector<double>& x, const std::vector<double>& y) {
    curves.push_back(std::make_unique<CZentGraphObj>(title));
    curves.back()->SetData(long(x.size()), x.data(), y.data());
    return *curves.back();
  }
  // Computes the scales and places every curve: all in the first area, or one area each.
  void Build(int windowMode = WM_ALLINONEWND, int scaleMode = SM_EACHFULLSCALE) {
    std::vector<TGglExtent*> extents;
    for (auto& c : curves) extents.push_back(&c->extent);
    GglComputeScales(extents, scaleMode);
    for (size_t i = 0; i < curves.size(); ++i) {
      CZentDrawSubWnd& area = windowMode == WM_ALLINONEWND && i > 0 ? *areas.front() : AddArea();
      area.PlaceSignal(*curves[i], int(i));
    }
    if (!curves.empty()) GglHighlightObject(Main(), areas.front()->Id(), curves.front().get());
  }
  TGglHandle Main() const { return mainWnd.handle; }
  int Id(size_t area = 0) const { return areas.at(area)->Id(); }
  QImage Render() {
    GglRedraw(Main());
    QImage image;
    GglRenderToImage(Main(), image);
    return image;
  }

  bool ok = false;
  CGglMainWnd mainWnd;
  std::vector<std::unique_ptr<CZentDrawSubWnd>> areas;
  std::vector<std::unique_ptr<CZentGraphObj>> curves;
};

inline void SaveScreenshot(const QImage& image, const char* name) {
  image.save(QString(MORVENT_SCREENSHOT_DIR) + "/" + name + ".png");
}

}  // namespace plottest
