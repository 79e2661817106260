// The region entry the newer front ends use: any number of threads, grey
// regions and floating-point samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/region.h"
#include "ostrivo/repair.h"
#include "test_support.h"

using namespace ostrivo;
using ostrivo::testing::EngineTest;
using ostrivo::testing::pattern_pixels;

namespace {

class Regions : public EngineTest {
 protected:
  template <typename T>
  static std::vector<T> repair(const std::vector<T> &src, int rows, int cols, int channels,
                               const RepairSettings &settings, int threads = 0) {
    std::vector<T> dst(src.size());
    const PixelRegion region{rows,       cols,
                             channels,   sizeof(T) == 1 ? SampleFormat::u8 : SampleFormat::f32,
                             src.data(), dst.data()};
    EXPECT_EQ(repair_region(region, settings, threads, {}).outcome, Outcome::repaired);
    return dst;
  }

  static std::vector<float> as_floats(const std::vector<guchar> &bytes) {
    std::vector<float> out(bytes.size());
    for (std::size_t k = 0; k < bytes.size(); ++k) out[k] = static_cast<float>(bytes[k] / 255.0);
    return out;
  }

  static RepairSettings classic(double length, double direction, double frame_width) {
    RepairSettings s;
    s.motion = ClassicLine{length, direction, frame_width};
    return s;
  }
};

// How far a float result may lie from the byte result it rounds to: half a
// level, plus what the float samples' own precision adds.
constexpr double kHalfLevel = 0.5 + 1e-4;

}  // namespace

TEST_F(Regions, ResultsDoNotDependOnTheNumberOfThreads) {
  // Enough rows and columns for many chunks of every pass, and a frame.
  const int rows = 150, cols = 97;
  RepairSettings s = classic(9, 30, 4.0);
  s.repair_brightness = true;
  const auto bytes = pattern_pixels(rows, cols, 4);
  const auto floats = as_floats(bytes);
  // And the sparse solver, whose steps read neighbouring rows.
  RepairSettings sparse;
  sparse.motion = SmoothLine{9, 30};
  sparse.solver = SolverKind::sparse;
  const auto bytes_one = repair(bytes, rows, cols, 4, s, 1);
  const auto floats_one = repair(floats, rows, cols, 4, s, 1);
  const auto sparse_one = repair(bytes, rows, cols, 4, sparse, 1);
  for (int threads : {2, 3, 7}) {
    EXPECT_EQ(repair(bytes, rows, cols, 4, s, threads), bytes_one) << threads << " threads";
    EXPECT_EQ(repair(floats, rows, cols, 4, s, threads), floats_one) << threads << " threads";
    EXPECT_EQ(repair(bytes, rows, cols, 4, sparse, threads), sparse_one) << threads << " threads";
  }
}

TEST_F(Regions, FloatSamplesAreTheByteRepairWithoutRounding) {
  const int rows = 40, cols = 36;
  const RepairSettings s = classic(7, 120, 0.0);
  const auto bytes = pattern_pixels(rows, cols, 3);
  const auto rounded = repair(bytes, rows, cols, 3, s);
  const auto exact = repair(as_floats(bytes), rows, cols, 3, s);
  int inside = 0, fractional = 0;  // of the samples not clamped
  for (std::size_t k = 0; k < bytes.size(); ++k) {
    const double level = exact[k] * 255.0;
    EXPECT_NEAR(level, rounded[k], kHalfLevel) << k;
    if (level <= 0.0 || level >= 255.0) continue;
    ++inside;
    fractional += std::fabs(level - std::round(level)) > 0.01;
  }
  EXPECT_GT(inside, 100);
  EXPECT_GT(fractional, inside * 9 / 10);  // not cut to levels
}

TEST_F(Regions, GreyIsRepairedAsRgbWhoseChannelsAreThatGrey) {
  const int rows = 24, cols = 30;
  RepairSettings s = classic(6, 60, 2.0);
  s.repair_brightness = true;
  const auto grey = pattern_pixels(rows, cols, 2);  // grey and alpha
  std::vector<guchar> rgba(static_cast<std::size_t>(rows * cols * 4));
  for (int p = 0; p < rows * cols; ++p)
    for (int c = 0; c < 4; ++c) rgba[static_cast<std::size_t>(p * 4 + c)] = grey[p * 2 + (c == 3)];
  const auto grey_out = repair(grey, rows, cols, 2, s);
  const auto rgba_out = repair(rgba, rows, cols, 4, s);
  for (int p = 0; p < rows * cols; ++p)
    for (int c = 0; c < 4; ++c)
      ASSERT_EQ(rgba_out[static_cast<std::size_t>(p * 4 + c)], grey_out[p * 2 + (c == 3)])
          << "pixel " << p << " channel " << c;
}

TEST_F(Regions, FloatBrightnessRepairMapsTheValueRangeOntoTheSources) {
  const int rows = 20, cols = 26;
  RepairSettings s = classic(8, 10, 0.0);
  s.k = 0.0001;  // rings well beyond the source's range
  s.repair_brightness = true;
  const auto src = as_floats(pattern_pixels(rows, cols, 3));
  const auto out = repair(src, rows, cols, 3, s);
  const auto value_range = [](const std::vector<float> &px) {
    float lo = 1, hi = 0;
    for (std::size_t p = 0; p < px.size(); p += 3) {
      const float v = std::max({px[p], px[p + 1], px[p + 2]});
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
    return std::pair{lo, hi};
  };
  const auto [src_lo, src_hi] = value_range(src);
  const auto [out_lo, out_hi] = value_range(out);
  EXPECT_NEAR(out_lo, src_lo, 1e-6);
  EXPECT_NEAR(out_hi, src_hi, 1e-6);
}

TEST_F(Regions, APreviewWindowShowsWhatTheWholeRegionsRepairGivesThere) {
  // A 300 x 360 region of photo-like detail; the preview shows 120 x 100 of
  // it, away from the edges and at a corner.
  constexpr double kInsideTolerance = 2.0;  // mean absolute difference, levels
  const int rows = 300, cols = 360, channels = 3;
  std::vector<guchar> src(static_cast<std::size_t>(rows * cols * channels));
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j)
      for (int c = 0; c < channels; ++c)
        src[static_cast<std::size_t>((i * cols + j) * channels + c)] =
            static_cast<guchar>(128 + 60 * std::sin(i * 0.11 + c) * std::cos(j * 0.07) +
                                40 * std::sin((i + 2 * j) * 0.5));
  // A hook 15 pixels across (along the middle row, then up), restored by
  // the sparse solver.
  SampledKernel hook{15, 15, std::vector<double>(225, 0.0)};
  for (int c = 2; c < 12; ++c) hook.weights[static_cast<std::size_t>(7 * 15 + c)] = 1.0;
  for (int r = 2; r < 7; ++r) hook.weights[static_cast<std::size_t>(r * 15 + 11)] = 2.0;
  for (const Motion &motion :
       {Motion{ClassicLine{12, 30, 1.0}}, Motion{SmoothLine{12, 30}}, Motion{hook}}) {
    RepairSettings s;
    s.motion = motion;
    s.k = 0.005;
    s.noise = 2.0;
    s.solver =
        std::holds_alternative<SampledKernel>(motion) ? SolverKind::sparse : SolverKind::wiener;
    const auto whole = repair(src, rows, cols, channels, s);
    const Rect area{0, 0, cols, rows};
    // The mean absolute difference from the whole repair over a view, with
    // the preview's context around it, or repaired as a region of its own.
    const auto window_error = [&](const Rect &view, bool context) {
      const PreviewPlan plan = plan_preview(s, area, view);
      const Rect &c = context ? plan.context : view;
      std::vector<guchar> in(static_cast<std::size_t>(c.width * c.height * channels)),
          out(in.size());
      for (int i = c.y; i < c.y + c.height; ++i)
        std::copy_n(&src[static_cast<std::size_t>((i * cols + c.x) * channels)], c.width * channels,
                    &in[static_cast<std::size_t>((i - c.y) * c.width * channels)]);
      const PixelRegion px{c.height, c.width, channels, SampleFormat::u8, in.data(), out.data()};
      const JobResult done = context ? repair_preview(px, plan, s) : repair_region(px, s, 0, {});
      EXPECT_EQ(done.outcome, Outcome::repaired);
      double sum = 0;
      for (int i = view.y; i < view.y + view.height; ++i)
        for (int j = view.x * channels; j < (view.x + view.width) * channels; ++j)
          sum += std::fabs(double(out[static_cast<std::size_t>((i - c.y) * c.width * channels + j -
                                                               c.x * channels)]) -
                           whole[static_cast<std::size_t>(i * cols * channels + j)]);
      return sum / (view.width * view.height * channels);
    };
    SCOPED_TRACE(motion.index());
    EXPECT_LT(window_error({120, 100, 120, 100}, true), kInsideTolerance);
    // At the region's corner it is further off, but much closer than the
    // view repaired as a region of its own.
    EXPECT_LT(window_error({0, 0, 120, 100}, true), 0.5 * window_error({0, 0, 120, 100}, false));
  }
}
