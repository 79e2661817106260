// The smooth motion model: its sub-pixel line, and the mirrored extension
// it restores on.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <utility>
#include <vector>

#include "engine/psf.h"
#include "engine/region.h"

using namespace ostrivo;

namespace {

constexpr double kWeightTolerance = 1e-12;

std::map<std::pair<int, int>, double> cells(const std::vector<PsfTap> &taps) {
  std::map<std::pair<int, int>, double> out;
  for (const PsfTap &t : taps) out[{t.row, t.col}] = t.weight;
  return out;
}

RepairSettings smooth(double length, double direction, double k) {
  RepairSettings s;
  s.motion = SmoothLine{length, direction};
  s.k = k;
  return s;
}

bool repaired(const JobResult &result) { return result.outcome == Outcome::repaired; }

}  // namespace

TEST(SmoothLine, WeighsOneAndCentresOnTheOriginForAnyMotion) {
  for (double length : {1.0, 2.5, 7.0, 12.3, 40.0, 99.9})
    for (double direction : {0.0, 17.0, 45.0, 90.0, 123.4, 200.0, 359.0}) {
      double sum = 0, row = 0, col = 0;
      for (const PsfTap &t : smooth_motion_taps(length, direction)) {
        EXPECT_GT(t.weight, 0.0);
        sum += t.weight;
        row += t.weight * t.row;
        col += t.weight * t.col;
      }
      EXPECT_NEAR(sum, 1.0, kWeightTolerance) << length << " at " << direction;
      EXPECT_NEAR(row, 0.0, 1e-9) << length << " at " << direction;
      EXPECT_NEAR(col, 0.0, 1e-9) << length << " at " << direction;
    }
}

TEST(SmoothLine, WholeLengthsAlongTheAxesAreBoxes) {
  const std::map<std::pair<int, int>, double> along_row = {
      {{0, -2}, 0.2}, {{0, -1}, 0.2}, {{0, 0}, 0.2}, {{0, 1}, 0.2}, {{0, 2}, 0.2}};
  const std::map<std::pair<int, int>, double> down_column = {
      {{-1, 0}, 1 / 3.0}, {{0, 0}, 1 / 3.0}, {{1, 0}, 1 / 3.0}};
  const auto near = [](const auto &a, const auto &b) {
    if (a.size() != b.size()) return false;
    for (const auto &[cell, w] : a)
      if (!b.count(cell) || std::fabs(b.at(cell) - w) > kWeightTolerance) return false;
    return true;
  };
  EXPECT_TRUE(near(cells(smooth_motion_taps(5, 0)), along_row));
  EXPECT_TRUE(near(cells(smooth_motion_taps(5, 180)), along_row));
  EXPECT_TRUE(near(cells(smooth_motion_taps(3, 90)), down_column));
  EXPECT_TRUE(near(cells(smooth_motion_taps(1, 33)),
                   (std::map<std::pair<int, int>, double>{{{0, 0}, 1.0}})));
}

TEST(SmoothLine, FractionalLengthsEndInPartialCells) {
  // 5.5 pixels along a row: from -2.75 to 2.75, so cells -2 .. 2 whole and
  // a quarter of a cell at each end.
  const auto c = cells(smooth_motion_taps(5.5, 0));
  ASSERT_EQ(c.size(), 7u);
  for (int col = -2; col <= 2; ++col) EXPECT_NEAR(c.at({0, col}), 1 / 5.5, kWeightTolerance);
  EXPECT_NEAR(c.at({0, -3}), 0.25 / 5.5, kWeightTolerance);
  EXPECT_NEAR(c.at({0, 3}), 0.25 / 5.5, kWeightTolerance);
}

TEST(SmoothModel, UniformPlanesStayUniform) {
  const int rows = 30, cols = 44;
  const std::vector<float> flat(static_cast<std::size_t>(rows * cols), 0.6f);
  std::vector<float> out(flat.size());
  ASSERT_TRUE(repaired(repair_region({rows, cols, 1, SampleFormat::f32, flat.data(), out.data()},
                                     smooth(9.5, 37, 0.01), 0, {})));
  for (float v : out) ASSERT_NEAR(v, 0.6 / 1.01, 1e-6);  // c / (1 + K): H(0) is 1
}

TEST(SmoothModel, MirroredExtensionRestoresTheInteriorOfABlurredPlane) {
  // Blurred on its own mirror image, a plane continues beyond its edges as
  // the repair assumes; along an axis the two agree exactly, so with a small
  // K the interior comes back.
  constexpr double kInteriorTolerance = 0.003;  // mean absolute error, samples 0..1
  const int rows = 64, cols = 80;
  std::vector<float> src(static_cast<std::size_t>(rows * cols)), blurred(src.size()),
      back(src.size());
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j)
      src[static_cast<std::size_t>(i * cols + j)] =
          static_cast<float>(0.5 + 0.4 * std::sin(i * 0.3) * std::cos(j * 0.3));
  for (double direction : {0.0, 90.0}) {
    SCOPED_TRACE(direction);
    const RepairSettings s = smooth(7, direction, 1e-4);
    ASSERT_TRUE(repaired(
        blur_region({rows, cols, 1, SampleFormat::f32, src.data(), blurred.data()}, s, 0)));
    ASSERT_TRUE(repaired(
        repair_region({rows, cols, 1, SampleFormat::f32, blurred.data(), back.data()}, s, 0, {})));
    double blur_error = 0, error = 0;
    int n = 0;
    for (int i = 8; i < rows - 8; ++i)
      for (int j = 8; j < cols - 8; ++j, ++n) {
        const auto k = static_cast<std::size_t>(i * cols + j);
        error += std::fabs(back[k] - src[k]);
        blur_error += std::fabs(blurred[k] - src[k]);
      }
    EXPECT_LT(error / n, kInteriorTolerance);
    EXPECT_GT(blur_error / n, 4 * kInteriorTolerance);  // the blur was real
  }
}
