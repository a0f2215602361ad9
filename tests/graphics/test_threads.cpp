// Signals changed from another thread (as scripts do) while the GUI thread redraws: every change is
// taken under the library's lock, nothing is lost and the drawing never sees half an update.
#include <gtest/gtest.h>

#include <QImage>
#include <atomic>
#include <cmath>
#include <thread>

#include "PlotFixture.h"

namespace {

using plottest::TPlot;

TEST(GraphicsThreads, AppendingAndRetitlingWhileTheWindowRedraws) {
  TPlot plot(600, 400);
  plot.AddCurve("stream", {0.0}, {0.0});
  plot.Build();
  CZentGraphObj& s = *plot.curves.front();
  std::atomic<int> rescales{0};
  s.requestRescale = [&] { ++rescales; };
  constexpr int kPieces = 400, kPiece = 250;
  std::atomic<bool> done{false};
  std::thread script([&] {
    double x[kPiece], y[kPiece];
    for (int k = 0; k < kPieces; ++k) {
      for (int i = 0; i < kPiece; ++i) {
        const int j = 1 + k * kPiece + i;
        x[i] = j;
        y[i] = j % 997 == 0 ? GGL_GAP : std::sin(j / 500.0);
      }
      s.AddData(kPiece, x, y);
      if (k % 50 == 0) s.SetTitle("stream " + std::to_string(k));
      if (k % 70 == 0) s.SetMarker(k % 140 == 0 ? 0 : 2);
    }
    done = true;
  });
  int frames = 0;
  while (!done) {
    {
      auto lock = GglLock();  // the plot window's rescale, as its timer does it
      GglSetObjectScale(plot.Main(), plot.Id(), &s, {0, s.extent.lastX + 1}, {-1.1, 1.1});
    }
    EXPECT_FALSE(plot.Render().isNull());
    ++frames;
  }
  script.join();
  EXPECT_EQ(s.Count(), 1 + kPieces * kPiece);
  EXPECT_EQ(rescales.load(), kPieces);
  EXPECT_EQ(s.extent.lastX, double(kPieces * kPiece));
  EXPECT_EQ(s.GetTitle(), "stream 350");
  EXPECT_GT(frames, 0);
  EXPECT_EQ(long(s.Data().Blocks().size()), s.Count() / CGglSeries::kBlock);
}

}  // namespace
