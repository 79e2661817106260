// The GIMP 2.10 plug-in's region entry on small regions: checked against
// restorations worked out directly (a plain discrete Fourier transform, the
// frame summed cell by cell), plus its progress ticks and its refusals.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

#include "colour/brightness.h"
#include "colour/hsv.h"
#include "test_support.h"

using namespace ostrivo;
using ostrivo::testing::EngineTest;
using ostrivo::testing::motion_plane;
using ostrivo::testing::pattern_pixels;
using ostrivo::testing::spectrum_of;

namespace {

std::vector<double> g_reported;
void record(double fraction) { g_reported.push_back(fraction); }

// A restored value this close to a half may round either way: the
// reference's sums and the engine's transforms differ in the last bits.
constexpr double kTieTolerance = 1e-6;

// The Wiener restoration of a plane against the point-spread plane h,
// X = Y conj(H) / (|H|^2 + K), by a plain discrete Fourier transform (each
// axis summed directly), before rounding and clamped to 0..255.
std::vector<double> wiener_by_dft(const std::vector<double> &y, const std::vector<double> &h,
                                  int rows, int cols, double K) {
  using C = std::complex<double>;
  const double pi = 3.14159265358979323846;
  const auto transform = [&](std::vector<C> a, double sign) {
    std::vector<C> b(a.size());
    for (int i = 0; i < rows; ++i)  // along each row
      for (int v = 0; v < cols; ++v) {
        C sum = 0;
        for (int j = 0; j < cols; ++j)
          sum += a[static_cast<std::size_t>(i * cols + j)] *
                 std::polar(1.0, sign * 2 * pi * (v * j % cols) / cols);
        b[static_cast<std::size_t>(i * cols + v)] = sum;
      }
    for (int v = 0; v < cols; ++v)  // then along each column
      for (int u = 0; u < rows; ++u) {
        C sum = 0;
        for (int i = 0; i < rows; ++i)
          sum += b[static_cast<std::size_t>(i * cols + v)] *
                 std::polar(1.0, sign * 2 * pi * (u * i % rows) / rows);
        a[static_cast<std::size_t>(u * cols + v)] = sum;
      }
    return a;
  };
  const auto Y = transform(std::vector<C>(y.begin(), y.end()), -1);
  const auto H = transform(std::vector<C>(h.begin(), h.end()), -1);
  std::vector<C> X(Y.size());
  for (std::size_t k = 0; k < X.size(); ++k) X[k] = Y[k] * std::conj(H[k]) / (std::norm(H[k]) + K);
  const auto x = transform(X, +1);
  std::vector<double> out(x.size());
  for (std::size_t k = 0; k < x.size(); ++k)
    out[k] = std::clamp(x[k].real() / (rows * cols), 0.0, 255.0);
  return out;
}

// The nearest whole number, exact halves going down.
double round_half_down(double v) {
  const double lower = std::floor(v);
  return v - lower > 0.5 ? lower + 1 : lower;
}

bool near_tie(double v) { return std::fabs(v - std::floor(v) - 0.5) < kTieTolerance; }

// The framed plane of one channel worked out directly: border cells hold
// the circular sum over the line's cells divided by their number, exact
// halves rounded down; interior cells are the channel's.
std::vector<double> exactly_framed(const std::vector<double> &channel, int rows, int cols,
                                   double f) {
  const auto h = motion_plane(rows, cols);
  std::vector<std::pair<int, int>> line;
  for (std::size_t k = 0; k < h.size(); ++k)
    if (h[k] != 0.0) line.push_back({static_cast<int>(k) / cols, static_cast<int>(k) % cols});
  const long m = static_cast<long>(line.size());
  std::vector<double> out(channel);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      if (i >= f && i < rows - f && j >= f && j < cols - f) continue;
      long sum = 0;
      for (auto [p, q] : line)
        sum += static_cast<long>(channel[static_cast<std::size_t>(((i - p + rows) % rows) * cols +
                                                                  (j - q + cols) % cols)]);
      out[static_cast<std::size_t>(i * cols + j)] =
          static_cast<double>(sum / m + (2 * (sum % m) > m ? 1 : 0));
    }
  return out;
}

class Pipeline : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    g_reported.clear();
    progress_set_reporter(record);
  }

  static std::vector<guchar> run(const std::vector<guchar> &src, int rows, int cols, int bpp,
                                 bool expect_ok = true) {
    std::vector<guchar> dst(src.size(), 0x5A);
    guchar *d = dst.data();
    EXPECT_EQ(imageRestoration(src.data(), &d, rows, cols, bpp), expect_ok);
    EXPECT_EQ(d, dst.data());
    return dst;
  }

  // What the pipeline must produce before any brightness repair: each
  // channel (framed when the frame is not 0) restored by the reference.
  static std::vector<double> reference(const std::vector<guchar> &src, int rows, int cols,
                                       int bpp) {
    const std::size_t cells = plane_cells(rows, cols);
    const auto h = motion_plane(rows, cols);
    const double f = bvals.frame_width / 100.0 * cols;
    std::vector<double> out(src.size()), channel(cells);
    for (int ch = 0; ch < bpp; ++ch) {
      for (std::size_t k = 0; k < cells; ++k) channel[k] = src[k * bpp + ch];
      const auto restored = wiener_by_dft(
          f == 0.0 ? channel : exactly_framed(channel, rows, cols, f), h, rows, cols, bvals.k);
      for (std::size_t k = 0; k < cells; ++k) out[k * bpp + ch] = restored[k];
    }
    return out;
  }

  // Each byte is the reference value rounded, either way at a tie.
  static void expect_rounded(const std::vector<guchar> &bytes, const std::vector<double> &want) {
    ASSERT_EQ(bytes.size(), want.size());
    for (std::size_t k = 0; k < bytes.size(); ++k) {
      if (near_tie(want[k]))
        EXPECT_NEAR(bytes[k], want[k], 0.5 + kTieTolerance) << "sample " << k;
      else
        EXPECT_EQ(bytes[k], round_half_down(want[k])) << "sample " << k << ": " << want[k];
    }
  }

  // The fractions a final run's pipeline reports after repair's first tick.
  static std::vector<double> pipeline_fractions(int bpp) {
    std::vector<double> f;
    for (int t = 2; t <= 3 * bpp; ++t) f.push_back(t / 10.0);
    return f;
  }
};

// A region and the settings it is repaired with.
struct Case {
  int rows, cols, bpp;
  double length, direction, frame_width;
};

}  // namespace

TEST_F(Pipeline, DirectAndFramePathsMatchARestorationWorkedOutDirectly) {
  const Case cases[] = {
      {8, 10, 3, 5, 30, 0.0},    {13, 17, 3, 4, 135, 0.0},  {12, 16, 4, 6, 200, 0.0},
      {8, 10, 3, 5, 30, 10.0},   {11, 7, 4, 3, 300, 5.0},   {10, 100, 3, 7, 45, 10.0},
      {20, 50, 3, 3, 0, 0.1},    {2, 2, 3, 1, 0, 1.0},      {17, 19, 3, 150, 77, 3.0},
      {21, 33, 4, 20, 90, 9.0},  {30, 40, 3, 7, 135, 3.5},  {40, 31, 4, 4, 300, 10.0},
      {16, 100, 3, 12, 45, 0.5}, {10, 300, 3, 5, 30, 10.0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::Message() << c.rows << "x" << c.cols << "x" << c.bpp << " L" << c.length
                                      << " D" << c.direction << " F" << c.frame_width);
    set_motion(c.length, c.direction);
    bvals.frame_width = c.frame_width;
    const auto src = pattern_pixels(c.rows, c.cols, c.bpp);
    expect_rounded(run(src, c.rows, c.cols, c.bpp), reference(src, c.rows, c.cols, c.bpp));
  }
}

TEST_F(Pipeline, IdentityMotionLeavesTheRegionAsItWas) {
  bvals.frame_width = 0.0;
  const auto src = pattern_pixels(9, 14, 4);
  EXPECT_EQ(run(src, 9, 14, 4), src);
}

TEST_F(Pipeline, FrameWiderThanTheRegionDeconvolvesTheBlurredPlaneInFull) {
  // 10 % of 100 columns is 10 pixels, more than half the 6 rows.
  set_motion(4, 0);
  bvals.frame_width = 10.0;
  const int rows = 6, cols = 100;
  const auto src = pattern_pixels(rows, cols, 3);
  const auto out = run(src, rows, cols, 3);

  bvals.frame_width = 1e9;  // any frame covering everything gives the same
  EXPECT_EQ(run(src, rows, cols, 3), out);
}

TEST_F(Pipeline, SourceBufferIsNotWritten) {
  set_motion(5, 45);
  bvals.repair_brightness = 1;
  const auto src = pattern_pixels(10, 12, 4);
  const auto copy = src;
  run(src, 10, 12, 4);
  EXPECT_EQ(src, copy);
}

TEST_F(Pipeline, BrightnessRepairMapsTheRestoredRangeThroughHsvAndLeavesAlpha) {
  set_motion(6, 10);
  bvals.repair_brightness = 1;
  const int rows = 10, cols = 12, bpp = 4;
  const auto src = pattern_pixels(rows, cols, bpp);
  const auto out = run(src, rows, cols, bpp);

  const auto restored = reference(src, rows, cols, bpp);
  std::vector<guchar> want(src.size());
  for (std::size_t k = 0; k < want.size(); ++k) {
    ASSERT_FALSE(near_tie(restored[k])) << "a tie would make the expectation ambiguous";
    want[k] = static_cast<guchar>(round_half_down(restored[k]));
  }
  std::vector<guchar> src_hsv(src.size()), out_hsv(src.size()), fixed(src.size());
  guchar *fx = fixed.data();
  rgb_to_hsv(src.data(), src_hsv.data(), cols, rows, bpp);
  rgb_to_hsv(want.data(), out_hsv.data(), cols, rows, bpp);
  HSV_Restoration_V(out_hsv.data(), src_hsv.data(), &fx, cols, rows, bpp);
  hsv_to_rgb(fixed.data(), want.data(), cols, rows, bpp);
  EXPECT_EQ(out, want);

  bvals.repair_brightness = 0;
  const auto plain = run(src, 10, 12, 4);
  for (std::size_t p = 3; p < out.size(); p += 4) EXPECT_EQ(out[p], plain[p]);
}

TEST_F(Pipeline, ProgressTicksForRgbAndRgbaOnBothPaths) {
  const auto rgb = pattern_pixels(8, 8, 3);
  const auto rgba = pattern_pixels(8, 8, 4);
  for (double frame : {0.0, 25.0}) {
    bvals.frame_width = frame;
    for (int bpp : {3, 4}) {
      SCOPED_TRACE(::testing::Message() << "frame " << frame << " bpp " << bpp);
      update = {1.0, 10.0};  // as after repair's first tick
      g_reported.clear();
      run(bpp == 3 ? rgb : rgba, 8, 8, bpp);
      const auto want = pipeline_fractions(bpp);
      ASSERT_EQ(g_reported.size(), want.size());
      for (std::size_t t = 0; t < want.size(); ++t) EXPECT_DOUBLE_EQ(g_reported[t], want[t]);
    }
  }
}

TEST_F(Pipeline, FinalRunOfRgbaEndsAtExactlyOne) {
  progress_start(final_run_ticks(4));
  progress_tick();
  run(pattern_pixels(6, 6, 4), 6, 6, 4);
  progress_tick();
  ASSERT_EQ(g_reported.size(), 13u);
  EXPECT_EQ(g_reported.back(), 1.0);
  EXPECT_DOUBLE_EQ(g_reported.front(), 1.0 / 13.0);
}

TEST_F(Pipeline, PreviewRendersMakeNoTicksAndTheSamePixels) {
  set_motion(5, 30);
  const auto src = pattern_pixels(10, 10, 3);
  const auto final_pixels = run(src, 10, 10, 3);
  g_reported.clear();
  bvals.preview = 1;
  EXPECT_EQ(run(src, 10, 10, 3), final_pixels);
  EXPECT_TRUE(g_reported.empty());
}

TEST_F(Pipeline, RegionsBelowTwoRowsOrColumnsArePassedThrough) {
  set_motion(5, 30);
  bvals.repair_brightness = 1;
  for (auto [rows, cols] : {std::pair{1, 9}, {9, 1}, {1, 1}}) {
    const auto src = pattern_pixels(rows, cols, 3);
    EXPECT_EQ(run(src, rows, cols, 3), src);
  }
  guchar byte = 0;
  guchar *d = &byte;
  EXPECT_TRUE(imageRestoration(nullptr, &d, 0, 5, 3));
  EXPECT_TRUE(imageRestoration(nullptr, &d, -4, -5, 3));
  EXPECT_TRUE(g_reported.empty());
}

TEST_F(Pipeline, FewerThanThreeBytesPerPixelIsRefusedWithACopy) {
  const auto src = pattern_pixels(4, 4, 2);
  EXPECT_EQ(run(src, 4, 4, 2, false), src);
  EXPECT_TRUE(g_reported.empty());
}

TEST_F(Pipeline, OutOfRangeSettingsBehaveAsTheirDocumentedEquivalents) {
  const double nan = std::nan("");
  const int rows = 6, cols = 10, bpp = 4;
  const auto src = pattern_pixels(rows, cols, bpp);
  const auto with = [&](BlurVals v) {
    bvals = v;
    return run(src, rows, cols, bpp);
  };
  // No line (a length or direction that is not a number) and no sensible K
  // restore nothing: every sample is 0.
  const std::vector<guchar> zeros(src.size(), 0);
  EXPECT_EQ(with({nan, 30, 0.01, 0, 0, 0}), zeros);
  EXPECT_EQ(with({5, nan, 0.01, 0, 0, 0}), zeros);
  EXPECT_EQ(with({5, 30, nan, 0, 0, 0}), zeros);
  // A direction is taken modulo 360, and a frame that is not a number is
  // all border, as a frame wider than the region.
  EXPECT_EQ(with({5, 720 + 30, 0.01, 2, 0, 0}), with({5, 30, 0.01, 2, 0, 0}));
  EXPECT_EQ(with({5, 30, 0.01, nan, 0, 0}), with({5, 30, 0.01, 1e9, 0, 0}));
  // Absurd magnitudes run (the sanitizers flag any undefined step) and give
  // the same bytes every time.
  for (const BlurVals &v :
       {BlurVals{1e300, -1e300, 0.0, -5.0, 1, 0}, BlurVals{300, 1e6, -1.0, 1e300, 0, 0}})
    EXPECT_EQ(with(v), with(v));
}

#ifndef OSTRIVO_UNDER_ASAN
TEST_F(Pipeline, RegionThatCannotBeAllocatedIsRefusedWithACopy) {
  // Cap the address space just above what the test holds, so the
  // pipeline's first plane (8 bytes a pixel) cannot be had.
  const int rows = 2000, cols = 2000;
  const auto src = pattern_pixels(rows, cols, 3);
  std::vector<guchar> dst(src.size(), 0);
  guchar *d = dst.data();

  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_AS, &old), 0);
  rlimit capped = old;
  capped.rlim_cur = 0;
  {
    // Current size of the address space, from /proc.
    FILE *f = fopen("/proc/self/statm", "r");
    ASSERT_NE(f, nullptr);
    unsigned long pages = 0;
    ASSERT_EQ(fscanf(f, "%lu", &pages), 1);
    fclose(f);
    capped.rlim_cur = pages * 4096ul + 16ul * 1024 * 1024;
  }
  ASSERT_EQ(setrlimit(RLIMIT_AS, &capped), 0);
  const bool ok = imageRestoration(src.data(), &d, rows, cols, 3);
  ASSERT_EQ(setrlimit(RLIMIT_AS, &old), 0);

  EXPECT_FALSE(ok);
  EXPECT_EQ(dst, src);
}
#endif

TEST_F(Pipeline, MotionBlurIsTheChannelBlurAndTheRestorationUndoesIt) {
  set_motion(4, 60);
  const int rows = 12, cols = 14, bpp = 4;
  const auto src = pattern_pixels(rows, cols, bpp);
  std::vector<guchar> blurred(src.size());
  guchar *b = blurred.data();
  ASSERT_TRUE(imageMotionBlur(src.data(), &b, rows, cols, bpp));

  const auto h = motion_plane(rows, cols);
  std::vector<double> channel(h.size()), out(h.size());
  double *op = out.data();
  const auto H = spectrum_of(h, rows, cols);
  for (int ch = 0; ch < bpp; ++ch) {
    for (std::size_t k = 0; k < h.size(); ++k) channel[k] = src[k * bpp + ch];
    blurFrameOfCanal(channel.data(), H.data(), rows, cols, &op);
    for (std::size_t k = 0; k < h.size(); ++k) EXPECT_EQ(blurred[k * bpp + ch], out[k]);
  }
  EXPECT_TRUE(g_reported.empty());

  // Restoring with no frame and a small K undoes most of the blur: white
  // noise keeps some frequencies the motion nearly wipes out.
  bvals.frame_width = 0;
  bvals.k = 1e-6;
  std::vector<guchar> back(src.size());
  guchar *bk = back.data();
  ASSERT_TRUE(imageRestoration(blurred.data(), &bk, rows, cols, bpp));
  double error = 0;
  for (std::size_t k = 0; k < src.size(); ++k) error += std::abs(double(back[k]) - src[k]);
  double blur_error = 0;
  for (std::size_t k = 0; k < src.size(); ++k) blur_error += std::abs(double(blurred[k]) - src[k]);
  EXPECT_LT(error, blur_error / 3) << error / src.size() << " vs " << blur_error / src.size();
}
