// The region entry the newer front ends use: any number of threads, grey
// regions and floating-point samples.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/pipeline.h"
#include "engine/threads.h"
#include "test_support.h"

using namespace ostrivo;
using ostrivo::testing::EngineTest;
using ostrivo::testing::pattern_pixels;

namespace {

class Regions : public EngineTest {
 protected:
  void TearDown() override {
    set_engine_threads(0);
    EngineTest::TearDown();
  }

  template <typename T>
  static std::vector<T> repair(const std::vector<T> &src, int rows, int cols, int channels,
                               const RepairSettings &settings) {
    std::vector<T> dst(src.size());
    const PixelRegion region{rows, cols, channels,
                             sizeof(T) == 1 ? SampleFormat::u8 : SampleFormat::f32, src.data(),
                             dst.data()};
    EXPECT_TRUE(repair_region(region, settings, false));
    return dst;
  }

  static std::vector<float> as_floats(const std::vector<guchar> &bytes) {
    std::vector<float> out(bytes.size());
    for (std::size_t k = 0; k < bytes.size(); ++k) out[k] = static_cast<float>(bytes[k] / 255.0);
    return out;
  }

  static RepairSettings motion(double length, double direction, double frame_width) {
    RepairSettings s;
    s.length = length;
    s.direction = direction;
    s.frame_width = frame_width;
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
  RepairSettings s = motion(9, 30, 4.0);
  s.repair_brightness = true;
  const auto bytes = pattern_pixels(rows, cols, 4);
  const auto floats = as_floats(bytes);
  set_engine_threads(1);
  const auto bytes_one = repair(bytes, rows, cols, 4, s);
  const auto floats_one = repair(floats, rows, cols, 4, s);
  for (int threads : {2, 3, 7}) {
    set_engine_threads(threads);
    EXPECT_EQ(repair(bytes, rows, cols, 4, s), bytes_one) << threads << " threads";
    EXPECT_EQ(repair(floats, rows, cols, 4, s), floats_one) << threads << " threads";
  }
}

TEST_F(Regions, FloatSamplesAreTheByteRepairWithoutRounding) {
  const int rows = 40, cols = 36;
  const RepairSettings s = motion(7, 120, 0.0);
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
  RepairSettings s = motion(6, 60, 2.0);
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
  RepairSettings s = motion(8, 10, 0.0);
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
