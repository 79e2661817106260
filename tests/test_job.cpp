// The repair job the front ends share: trimming, 16-bit samples, memory,
// estimates, kernels and progress.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "engine/region.h"
#include "ostrivo/estimate.h"
#include "ostrivo/repair.h"
#include "test_support.h"

using namespace ostrivo;
using ostrivo::testing::pattern_pixels;

namespace {

RepairSettings with(const Motion &motion, double k = 0.003) {
  RepairSettings s;
  s.motion = motion;
  s.k = k;
  return s;
}

// A sparse repair in linear light, with a small kernel and the noise given.
std::vector<guchar> repaired_in_light(const std::vector<guchar> &src, int rows, int cols,
                                      int channels) {
  RepairSettings s = with(SampledKernel{3, 3, {0, 1, 0, 1, 2, 1, 0, 1, 0}});
  s.solver = SolverKind::sparse;
  s.linear_light = true;
  s.noise = 1.0;
  std::vector<guchar> out(src.size());
  EXPECT_EQ(
      repair_area({rows, cols, channels, SampleFormat::u8, src.data(), out.data()}, s).outcome,
      Outcome::repaired);
  return out;
}

}  // namespace

TEST(Job, ClassicAreasOfOddSizeRepairTheirEvenPartAndKeepTheRest) {
  const int rows = 9, cols = 11, channels = 3;
  const RepairSettings s = with(ClassicLine{5, 30, 2.0});
  const auto src = pattern_pixels(rows, cols, channels);
  std::vector<guchar> dst(src.size(), 0);
  ASSERT_EQ(
      repair_area({rows, cols, channels, SampleFormat::u8, src.data(), dst.data()}, s).outcome,
      Outcome::repaired);

  // The even part, repaired on its own.
  std::vector<guchar> part(static_cast<std::size_t>(8 * 10 * channels)), repaired(part.size());
  for (int r = 0; r < 8; ++r)
    std::copy_n(&src[static_cast<std::size_t>(r * cols * channels)], 10 * channels,
                &part[static_cast<std::size_t>(r * 10 * channels)]);
  ASSERT_EQ(
      repair_region({8, 10, channels, SampleFormat::u8, part.data(), repaired.data()}, s, 0, {})
          .outcome,
      Outcome::repaired);
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols * channels; ++c) {
      const auto k = static_cast<std::size_t>(r * cols * channels + c);
      const bool kept = r == 8 || c >= 10 * channels;
      EXPECT_EQ(dst[k], kept ? src[k] : repaired[static_cast<std::size_t>(r * 10 * channels + c)])
          << "row " << r << " sample " << c;
    }
}

TEST(Job, SixteenBitSamplesAreRepairedAsFractionsAndComeBackAsWords) {
  const int rows = 24, cols = 30, channels = 2;
  const RepairSettings s = with(SmoothLine{6.5, 40});
  const auto bytes = pattern_pixels(rows, cols, channels);
  std::vector<std::uint16_t> words(bytes.size()), words_out(bytes.size());
  std::vector<float> floats(bytes.size()), floats_out(bytes.size());
  for (std::size_t k = 0; k < bytes.size(); ++k) {
    words[k] = static_cast<std::uint16_t>(bytes[k] * 257 + (k % 7));
    floats[k] = static_cast<float>(words[k] / 65535.0);
  }
  ASSERT_EQ(
      repair_area({rows, cols, channels, SampleFormat::u16, words.data(), words_out.data()}, s)
          .outcome,
      Outcome::repaired);
  ASSERT_EQ(
      repair_area({rows, cols, channels, SampleFormat::f32, floats.data(), floats_out.data()}, s)
          .outcome,
      Outcome::repaired);
  for (std::size_t k = 0; k < words.size(); ++k)
    ASSERT_EQ(words_out[k], std::lround(floats_out[k] * 65535.0)) << k;
}

TEST(Job, AnAreaTooLargeForMemoryIsRefusedBeforeAnyWork) {
  const JobResult r = check_memory(with(SmoothLine{10, 0}), 60000, 60000, 3, SampleFormat::u8, 0);
  EXPECT_EQ(r.refusal, Refusal::no_memory);
  EXPECT_GT(r.needed_bytes, 60000.0 * 60000 * 16);  // two half spectra of doubles, at the least
  EXPECT_NE(refusal_message(r, 60000, 60000).find("60000 x 60000 pixels would need"),
            std::string::npos);
  EXPECT_EQ(check_memory(with(SmoothLine{10, 0}), 600, 800, 3, SampleFormat::u8, 0).refusal,
            Refusal::none);
}

TEST(Job, AnEstimateIsAppliedOneWayWhateverTheModel) {
  MotionEstimate found;
  found.found = FoundMotion::line;
  found.length = 12.6;
  found.direction = 33.47;
  found.k = 0.004;
  RepairSettings classic = with(ClassicLine{1, 0, 2.5});
  ASSERT_TRUE(apply_estimate(found, &classic));
  const auto &line = std::get<ClassicLine>(classic.motion);
  EXPECT_EQ(line.length, 13);  // the classic line's samples are whole
  EXPECT_DOUBLE_EQ(line.direction, 33.5);
  EXPECT_EQ(line.frame_width, 2.5);
  EXPECT_EQ(classic.k, 0.004);

  RepairSettings kernel = with(SampledKernel{1, 1, {1.0}});
  ASSERT_TRUE(apply_estimate(found, &kernel));
  const auto &smooth = std::get<SmoothLine>(kernel.motion);
  EXPECT_EQ(smooth.length, 12.6);
  EXPECT_DOUBLE_EQ(smooth.direction, 33.5);

  MotionEstimate none;  // found nothing, length 1
  RepairSettings kept = with(SmoothLine{7, 10}, 0.02);
  EXPECT_FALSE(apply_estimate(none, &kept));
  EXPECT_EQ(std::get<SmoothLine>(kept.motion).length, 7);
  EXPECT_EQ(kept.k, 0.02);
}

TEST(Job, AKernelDrawsAPointAroundItselfWithItsCentreCellOnIt) {
  // A 3 x 4 kernel: its centre cell is (1, 2), right of the middle.
  const std::vector<double> weights = {1, 0, 0, 2,  //
                                       0, 0, 4, 0,  //
                                       0, 3, 0, 0};
  const int rows = 21, cols = 23, at_row = 10, at_col = 11;
  std::vector<float> point(static_cast<std::size_t>(rows * cols), 0.0f), out(point.size());
  point[static_cast<std::size_t>(at_row * cols + at_col)] = 1.0f;
  ASSERT_EQ(blur_area({rows, cols, 1, SampleFormat::f32, point.data(), out.data()},
                      with(SampledKernel{3, 4, weights}))
                .outcome,
            Outcome::repaired);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      const int r = i - at_row + 1, c = j - at_col + 2;
      const double want = r >= 0 && r < 3 && c >= 0 && c < 4
                              ? weights[static_cast<std::size_t>(r * 4 + c)] / 10
                              : 0.0;
      EXPECT_NEAR(out[static_cast<std::size_t>(i * cols + j)], want, 1e-6) << i << ", " << j;
    }
}

TEST(Job, AKernelWithoutAPositiveWeightIsRefusedAndTheAreaKept) {
  const auto src = pattern_pixels(16, 16, 3);
  std::vector<guchar> dst(src.size(), 0);
  const JobResult r = repair_area({16, 16, 3, SampleFormat::u8, src.data(), dst.data()},
                                  with(SampledKernel{2, 2, {0, -1, 0, 0}}));
  EXPECT_EQ(r.refusal, Refusal::empty_kernel);
  EXPECT_EQ(dst, src);
}

TEST(Job, ProgressRunsFromZeroToExactlyOneWithoutGoingBack) {
  const auto src = pattern_pixels(40, 50, 4);
  std::vector<guchar> dst(src.size());
  std::vector<double> seen;
  RepairOptions options;
  options.progress = [&](double f) { seen.push_back(f); };
  ASSERT_EQ(repair_area({40, 50, 4, SampleFormat::u8, src.data(), dst.data()},
                        with(ClassicLine{7, 20, 3.0}), options)
                .outcome,
            Outcome::repaired);
  ASSERT_GE(seen.size(), 5u);  // at least each of the four channels
  EXPECT_EQ(seen.front(), 0.0);
  EXPECT_EQ(seen.back(), 1.0);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
}

TEST(Job, AShakeOfTheLightIsRepairedBetterInLinearLight) {
  // Bright bars on a dark ground, blurred as a camera blurs: the light
  // (sRGB's curve undone) averaged over 9 pixels along the rows, then
  // encoded again.
  const int rows = 48, cols = 96, reach = 4;
  const auto light = [](double v) { return std::pow((v / 255.0 + 0.055) / 1.055, 2.4); };
  const auto encoded = [](double l) { return 255.0 * (1.055 * std::pow(l, 1 / 2.4) - 0.055); };
  std::vector<guchar> sharp(static_cast<std::size_t>(rows) * cols), blurred(sharp.size());
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j)
      sharp[static_cast<std::size_t>(i * cols + j)] = (j / 12 + i / 16) % 2 ? 240 : 20;
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      double sum = 0.0;
      for (int t = -reach; t <= reach; ++t)
        sum += light(sharp[static_cast<std::size_t>(i * cols + std::clamp(j + t, 0, cols - 1))]);
      blurred[static_cast<std::size_t>(i * cols + j)] =
          static_cast<guchar>(std::lround(encoded(sum / (2 * reach + 1))));
    }
  RepairSettings s = with(SampledKernel{1, 2 * reach + 1, std::vector<double>(2 * reach + 1, 1)});
  s.solver = SolverKind::sparse;
  const auto error = [&](bool linear) {
    s.linear_light = linear;
    std::vector<guchar> out(sharp.size());
    EXPECT_EQ(repair_area({rows, cols, 1, SampleFormat::u8, blurred.data(), out.data()}, s).outcome,
              Outcome::repaired);
    double squares = 0.0;  // away from the left and right edges, unknown to the solver
    for (int i = 0; i < rows; ++i)
      for (int j = 2 * reach; j < cols - 2 * reach; ++j) {
        const double d = out[static_cast<std::size_t>(i * cols + j)] -
                         sharp[static_cast<std::size_t>(i * cols + j)];
        squares += d * d;
      }
    return squares;
  };
  const double on_values = error(false), in_light = error(true);
  EXPECT_LT(in_light, on_values / 20) << on_values << " " << in_light;
}

TEST(Job, InLinearLightEachColourIsRepairedOnItsOwn) {
  // A dark blue pattern under bright red and green ones: in the light a
  // colour's data weighs by its own noise, so the blue comes out as it does
  // repaired alone, not smoothed as much as the bright colours beside it.
  const int rows = 32, cols = 40, channels = 3;
  std::vector<guchar> rgb(static_cast<std::size_t>(rows) * cols * channels), blue(rgb.size() / 3);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      const auto p = static_cast<std::size_t>(i * cols + j);
      rgb[3 * p] = static_cast<guchar>((j / 6) % 2 ? 230 : 120);
      rgb[3 * p + 1] = static_cast<guchar>((i / 5) % 2 ? 250 : 90);
      blue[p] = rgb[3 * p + 2] = static_cast<guchar>(((i + j) / 7) % 2 ? 40 : 8);
    }
  const auto rgb_out = repaired_in_light(rgb, rows, cols, channels);
  const auto blue_out = repaired_in_light(blue, rows, cols, 1);
  for (std::size_t p = 0; p < blue.size(); ++p)
    ASSERT_EQ(rgb_out[3 * p + 2], blue_out[p]) << "pixel " << p;
}

TEST(Job, InLinearLightAGreyPhotoInColourComesOutAsTheGreyPhoto) {
  const int rows = 24, cols = 30;
  const auto grey = pattern_pixels(rows, cols, 1);
  std::vector<guchar> rgba;
  for (const guchar v : grey) rgba.insert(rgba.end(), {v, v, v, 180});
  const auto grey_out = repaired_in_light(grey, rows, cols, 1);
  const auto rgba_out = repaired_in_light(rgba, rows, cols, 4);
  for (std::size_t p = 0; p < grey.size(); ++p)
    for (int c = 0; c < 3; ++c) ASSERT_EQ(rgba_out[4 * p + c], grey_out[p]) << "pixel " << p;
}
