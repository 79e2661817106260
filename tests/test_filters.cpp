// Wiener restoration and the border frame, on planes small enough to work
// out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/frame.h"
#include "test_support.h"

using namespace ostrivo;
using ostrivo::testing::EngineTest;
using ostrivo::testing::impulse;
using ostrivo::testing::motion_plane;
using ostrivo::testing::pattern_plane;
using ostrivo::testing::spectrum_of;

namespace {

class Spectral : public EngineTest {
 protected:
  using Routine = bool (*)(const double *, const fftw_complex *, int, int, double **);

  // What `routine` makes of `in` against the point-spread plane h.
  static std::vector<double> filtered(Routine routine, const std::vector<double> &in,
                                      const std::vector<double> &h, int rows, int cols) {
    const auto H = spectrum_of(h, rows, cols);
    std::vector<double> out(in.size(), -1.0);
    double *p = out.data();
    EXPECT_TRUE(routine(in.data(), H.data(), rows, cols, &p));
    return out;
  }
  static std::vector<double> restore(const std::vector<double> &in, const std::vector<double> &h,
                                     int rows, int cols) {
    return filtered(canalRestoration, in, h, rows, cols);
  }
  static std::vector<double> blur(const std::vector<double> &in, const std::vector<double> &h,
                                  int rows, int cols) {
    return filtered(blurFrameOfCanal, in, h, rows, cols);
  }

  // in shifted by (down, right) rows and columns, wrapping at both edges.
  static std::vector<double> shifted(const std::vector<double> &in, int rows, int cols, int down,
                                     int right) {
    std::vector<double> out(in.size());
    for (int i = 0; i < rows; ++i)
      for (int j = 0; j < cols; ++j)
        out[static_cast<std::size_t>(((i + down) % rows) * cols + (j + right) % cols)] =
            in[static_cast<std::size_t>(i * cols + j)];
    return out;
  }
};

}  // namespace

TEST_F(Spectral, IdentityPsfGivesTheInputBackForOddAndEvenSizes) {
  // Each v comes back as v / 1.001, less than 0.26 below v: it rounds to v.
  for (auto [rows, cols] : {std::pair{4, 6}, {5, 5}, {7, 13}, {1, 8}, {16, 1}}) {
    const auto in = pattern_plane(rows, cols);
    EXPECT_EQ(restore(in, impulse(rows, cols, 0, 0), rows, cols), in) << rows << "x" << cols;
  }
}

TEST_F(Spectral, CornerImpulsesShiftThePlaneCircularly) {
  const std::vector<double> row = {68, 32, 130, 60, 253};
  EXPECT_EQ(restore(row, impulse(1, 5, 0, 4), 1, 5), (std::vector<double>{253, 68, 32, 130, 60}));

  const int rows = 5, cols = 7;
  const auto in = pattern_plane(rows, cols, 3);
  EXPECT_EQ(restore(in, impulse(rows, cols, rows - 1, cols - 1), rows, cols),
            shifted(in, rows, cols, 1, 1));
  EXPECT_EQ(restore(in, impulse(rows, cols, rows - 1, 0), rows, cols),
            shifted(in, rows, cols, 1, 0));
}

TEST_F(Spectral, UniformPlaneComesBackAsCOverOnePlusK) {
  // The line's weights sum to 1, so H(0, 0) = 1 and c becomes c / (1 + K).
  struct Case {
    double c, direction, k;
    double expected;
  };
  const Case cases[] = {{100, 0, 0.001, 100},
                        {100, 45, 0.001, 100},
                        {200, 45, 0.001, 200},
                        {200, 45, 1.0, 100},
                        {255, 30, 0.5, 170}};
  for (const Case &c : cases) {
    set_motion(5, c.direction);
    bvals.k = c.k;
    const std::vector<double> in(6 * 6, c.c);
    EXPECT_EQ(restore(in, motion_plane(6, 6), 6, 6), std::vector<double>(36, c.expected))
        << c.c << " at " << c.direction << " with K " << c.k;
  }
}

TEST_F(Spectral, InputsStayUnchanged) {
  set_motion(4, 30);
  const int rows = 6, cols = 9;
  const auto in = pattern_plane(rows, cols);
  const auto h = motion_plane(rows, cols);
  const auto H = spectrum_of(h, rows, cols);
  const auto in_copy = in;
  const auto H_copy = H;
  std::vector<double> out(in.size());
  double *p = out.data();
  ASSERT_TRUE(canalRestoration(in.data(), H.data(), rows, cols, &p));
  ASSERT_TRUE(blurFrameOfCanal(in.data(), H.data(), rows, cols, &p));
  EXPECT_EQ(in, in_copy);
  EXPECT_EQ(H.parts, H_copy.parts);
}

TEST_F(Spectral, SmallKUndoesTheBlurOfTheSameMotion) {
  // Blur then restore: with tiny K the deconvolution inverts the blur except
  // at frequencies the motion wipes out; a horizontal 3-pixel motion on 7
  // columns leaves none, so the plane returns within rounding.
  set_motion(3, 0);
  bvals.k = 1e-9;
  const int rows = 5, cols = 7;
  const auto in = pattern_plane(rows, cols, 11);
  const auto h = motion_plane(rows, cols);
  const auto blurred = blur(in, h, rows, cols);
  const auto back = restore(blurred, h, rows, cols);
  int far = 0;
  for (std::size_t k = 0; k < in.size(); ++k) far += std::abs(back[k] - in[k]) > 2.0;
  EXPECT_EQ(far, 0);
}

TEST_F(Spectral, BlurByIdentityShiftOrUnitLine) {
  const int rows = 4, cols = 6;
  const auto in = pattern_plane(rows, cols, 5);
  EXPECT_EQ(blur(in, impulse(rows, cols, 0, 0), rows, cols), in);

  // A 1 at (0, cols - 1): output(i, j) = in(i, (j + 1) mod cols).
  const auto left = blur(in, impulse(rows, cols, 0, cols - 1), rows, cols);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j)
      EXPECT_EQ(left[static_cast<std::size_t>(i * cols + j)],
                in[static_cast<std::size_t>(i * cols + (j + 1) % cols)]);

  set_motion(5, 45);
  EXPECT_EQ(blur(std::vector<double>(36, 77.0), motion_plane(6, 6), 6, 6),
            std::vector<double>(36, 77.0));
}

TEST_F(Spectral, BlurIsTheCircularConvolutionRoundedHalfDown) {
  // Two cells of 0.5 at (0, 0) and (0, 1): out(i, j) = (x(i, j) + x(i, j - 1)) / 2.
  const std::vector<double> in = {1, 2, 4, 7};
  std::vector<double> h = {0.5, 0.5, 0, 0};
  EXPECT_EQ(blur(in, h, 1, 4), (std::vector<double>{4, 1, 3, 5}));  // 4.0 1.5 3.0 5.5
}

TEST(FrameComposition, WholeAndFractionalFrameWidths) {
  const int rows = 30, cols = 40;
  const std::vector<double> inner(rows * cols, 1.0), border(rows * cols, 2.0);
  auto compose = [&](double f) {
    std::vector<double> out(rows * cols);
    double *p = out.data();
    ostrivo::sumBlurFrameWithOryginalImage(inner.data(), border.data(), rows, cols, f, &p);
    return out;
  };
  auto is_border = [&](const std::vector<double> &out, int i, int j) {
    return out[static_cast<std::size_t>(i * cols + j)] == 2.0;
  };

  const auto two = compose(2.0);
  const auto one_four = compose(3.5 / 100 * cols);  // 1.4 pixels
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      EXPECT_EQ(is_border(two, i, j), i < 2 || i >= 28 || j < 2 || j >= 38) << i << "," << j;
      EXPECT_EQ(is_border(one_four, i, j), i < 2 || i == 29 || j < 2 || j == 39) << i << "," << j;
    }

  const auto half = compose(0.5);  // only row 0 and column 0
  EXPECT_TRUE(is_border(half, 0, 5));
  EXPECT_TRUE(is_border(half, 5, 0));
  EXPECT_FALSE(is_border(half, rows - 1, cols - 1));

  EXPECT_EQ(compose(0.0), inner);
  EXPECT_EQ(compose(100.0), border);  // wider than the region: no interior at all
  EXPECT_EQ(compose(std::nan("")), border);
}

TEST(FrameComposition, InPlaceEqualsIntoAThirdPlane) {
  const int rows = 9, cols = 11;
  const auto inner = pattern_plane(rows, cols, 1);
  auto blurred = pattern_plane(rows, cols, 2);
  std::vector<double> third(blurred.size());
  double *p = third.data();
  ostrivo::sumBlurFrameWithOryginalImage(inner.data(), blurred.data(), rows, cols, 2.3, &p);
  p = blurred.data();
  ostrivo::sumBlurFrameWithOryginalImage(inner.data(), blurred.data(), rows, cols, 2.3, &p);
  EXPECT_EQ(blurred, third);
}

TEST_F(Spectral, BlurOfATwoCellLineRoundsEveryExactHalfDown) {
  // Length 2 at 0 degrees: cells (0, 0) and (0, 1) of weight 1/2, so each
  // blurred sample is (x(i, j) + x(i, j - 1)) / 2. Neighbours of opposite
  // parity make every sum odd: every sample is an exact half.
  set_motion(2, 0);
  // Large enough for the transforms' round-off to fall on both sides of
  // the halves.
  const int rows = 48, cols = 64;
  std::vector<double> in(plane_cells(rows, cols));
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j)
      in[static_cast<std::size_t>(i * cols + j)] = (37 * i + 2 * j) % 127 * 2 + j % 2;
  std::vector<double> expected(in.size());
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      const double a = in[static_cast<std::size_t>(i * cols + j)];
      const double b = in[static_cast<std::size_t>(i * cols + (j + cols - 1) % cols)];
      expected[static_cast<std::size_t>(i * cols + j)] = std::floor((a + b) / 2);
    }
  EXPECT_EQ(blur(in, motion_plane(rows, cols), rows, cols), expected);
}
