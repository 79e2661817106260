// Finding a shake of any shape: synthetic scenes of flat shapes (edges in
// every direction, as photos have), blurred here by direct convolution with
// hand-drawn kernels over a larger canvas, so that real content lies beyond
// the edges of the area estimated.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <variant>
#include <vector>

#include "estimate/blind_kernel.h"
#include "ostrivo/estimate.h"

using namespace ostrivo;

namespace {

constexpr int kSide = 320;           // the area estimated
constexpr int kMargin = 40;          // canvas beyond it, on every side
constexpr int kTestMaxKernel = 31;   // the largest shake sought: the kernels here are smaller
constexpr double kNoise = 1.0;       // levels of 255
constexpr int kExtentTolerance = 3;  // pixels
constexpr double kDirectionTolerance = 3.0;  // degrees, modulo 180
constexpr double kLengthTolerance = 2.0;     // pixels
constexpr double kMatchingKernel = 0.6;      // correlation of found and true kernels
constexpr double kLongShakeNoise = 6.0;      // levels of 255
constexpr double kCleanMatch = 0.7;          // a long path found without a haze around it
constexpr double kHaze = 0.4;                // of a path cell's weight, per cell of haze beside it
constexpr int kMoreRounds = 5;               // a search taken further
constexpr double kQuietNoise = 2.55;         // levels of 255: 1 %, as rounds further are taken in
constexpr double kSameKernel = 0.8;          // agreement of a kernel with itself, taken further
// The straight estimate's evidence of a line: as photos of curved shake give
// it, and as clear as a straight blur's spectrum shows.
constexpr double kBlurredZeros = 1.5;
constexpr double kClearZeros = 2.4;
constexpr int kGrain = 40;  // levels of fine random detail over a scene

// A kernel drawn as cells (row, col) offset from its origin, equal weights.
struct Cell {
  int row, col;
};
using Drawn = std::vector<Cell>;

// A J: seven cells to the right, then five down and two back left.
Drawn j_shake() {
  Drawn k;
  for (int c = -4; c <= 2; ++c) k.push_back({-3, c});
  for (int r = -2; r <= 2; ++r) k.push_back({r, 3});
  k.push_back({3, 2});
  k.push_back({3, 1});
  return k;
}

// A straight line of `length` cells in `degrees`, clockwise from the right.
Drawn line_shake(int length, double degrees) {
  Drawn k;
  const double a = degrees * 3.14159265358979323846 / 180.0;
  for (int t = 0; t < length; ++t) {
    const double s = t - (length - 1) / 2.0;
    k.push_back({static_cast<int>(std::lround(s * std::sin(a))),
                 static_cast<int>(std::lround(s * std::cos(a)))});
  }
  return k;
}

KernelGrid grid_of(const Drawn &drawn, int size) {
  KernelGrid k{size, std::vector<double>(static_cast<std::size_t>(size) * size, 0.0)};
  for (const Cell &c : drawn)
    k.weights[static_cast<std::size_t>(c.row + size / 2) * size + (c.col + size / 2)] +=
        1.0 / drawn.size();
  return k;
}

// Flat rectangles and discs of random grey on a kSide area and its margin,
// blurred by `drawn` (none: sharp), with noise; grey bytes.
std::vector<unsigned char> scene(const Drawn &drawn, unsigned seed = 5, double sigma = kNoise,
                                 int grain = 0) {
  const int n = kSide + 2 * kMargin;
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> at(0, n - 1), size(8, 60), level(30, 225);
  std::vector<double> canvas(static_cast<std::size_t>(n) * n, 128.0);
  for (int s = 0; s < 90; ++s) {
    const int ci = at(rng), cj = at(rng), h = size(rng), w = size(rng), v = level(rng);
    const bool disc = s % 2 == 1;
    for (int i = std::max(0, ci - h); i < std::min(n, ci + h); ++i)
      for (int j = std::max(0, cj - w); j < std::min(n, cj + w); ++j)
        if (!disc || (i - ci) * (i - ci) + (j - cj) * (j - cj) < h * h)
          canvas[static_cast<std::size_t>(i) * n + j] = v;
  }
  if (grain > 0) {
    std::uniform_int_distribution<int> speck(-grain, grain);
    for (double &v : canvas) v += speck(rng);
  }
  std::normal_distribution<double> noise(0.0, sigma);
  std::vector<unsigned char> out(static_cast<std::size_t>(kSide) * kSide);
  for (int i = 0; i < kSide; ++i)
    for (int j = 0; j < kSide; ++j) {
      double v = 0.0;
      if (drawn.empty()) {
        v = canvas[static_cast<std::size_t>(i + kMargin) * n + j + kMargin];
      } else {
        // Convolution: the cell at offset (p, q) takes from (i - p, j - q).
        for (const Cell &c : drawn)
          v += canvas[static_cast<std::size_t>(i + kMargin - c.row) * n + j + kMargin - c.col];
        v /= static_cast<double>(drawn.size());
      }
      out[static_cast<std::size_t>(i) * kSide + j] =
          static_cast<unsigned char>(std::clamp(std::lround(v + noise(rng)), 0L, 255L));
    }
  return out;
}

MotionEstimate shake_of(const std::vector<unsigned char> &grey, int max_kernel = kTestMaxKernel) {
  return estimate_shake({kSide, kSide, 1, SampleFormat::u8, grey.data(), nullptr}, max_kernel);
}

// The largest normalised correlation of two kernels over the shifts of one
// against the other (the estimate is defined up to a shift).
double best_match(const KernelGrid &a, const KernelGrid &b) {
  double best = -1.0;
  const int reach = (a.size + b.size) / 2;
  for (int di = -reach; di <= reach; ++di)
    for (int dj = -reach; dj <= reach; ++dj) {
      double ab = 0, aa = 0, bb = 0;
      for (int i = 0; i < a.size; ++i)
        for (int j = 0; j < a.size; ++j) {
          const double va = a.weights[static_cast<std::size_t>(i) * a.size + j];
          aa += va * va;
          const int bi = i - a.size / 2 + b.size / 2 + di, bj = j - a.size / 2 + b.size / 2 + dj;
          if (bi >= 0 && bj >= 0 && bi < b.size && bj < b.size)
            ab += va * b.weights[static_cast<std::size_t>(bi) * b.size + bj];
        }
      for (double vb : b.weights) bb += vb * vb;
      best = std::max(best, ab / std::sqrt(aa * bb));
    }
  return best;
}

double angle_error(double a, double b) { return std::fabs(std::fmod(a - b + 270.0, 180.0) - 90.0); }

}  // namespace

TEST(KernelShape, ALineIsStraightWithItsLengthAndDirection) {
  const KernelShape flat = kernel_shape(grid_of(line_shake(9, 0), 11));
  EXPECT_EQ(flat.width, 9);
  EXPECT_EQ(flat.height, 1);
  EXPECT_NEAR(flat.length, 9.0, 1e-9);
  EXPECT_NEAR(flat.direction, 0.0, 1e-9);
  EXPECT_NEAR(flat.straightness, 1.0, 1e-12);
  // Down and to the right on screen is clockwise: 45 degrees.
  const KernelShape slant = kernel_shape(grid_of(line_shake(7, 45), 9));
  EXPECT_EQ(slant.width, 5);  // seven cells, 5 rows and columns of them
  EXPECT_EQ(slant.height, 5);
  EXPECT_NEAR(slant.direction, 45.0, 1e-9);
  // A J is not a line.
  EXPECT_LT(kernel_shape(grid_of(j_shake(), 9)).straightness, 0.85);
}

TEST(KernelShape, UnevennessIsThePeakOfTheProfileOverItsMeanInTheMiddle) {
  EXPECT_NEAR(kernel_shape(grid_of(line_shake(21, 0), 23)).unevenness, 1.0, 1e-12);
  // A camera slowing down: weights 1, 1.15, ..., 4 along a row (sum 52.5).
  // The middle 80 % of the weight runs from the fifth cell (1.6; 6.5 summed
  // by then) to the twentieth (3.85; 48.5 summed), where the profile is the
  // weights themselves: 3.85 over their mean (1.6 + 3.85) / 2.
  KernelGrid ramp{23, std::vector<double>(23 * 23, 0.0)};
  for (int j = 0; j <= 20; ++j) ramp.weights[11 * 23 + 1 + j] = (1.0 + 0.15 * j) / 52.5;
  EXPECT_NEAR(kernel_shape(ramp).unevenness, 3.85 / 2.725, 1e-9);
}

TEST(KernelShape, APathBesideAParallelEchoIsSeparableAndABendIsNot) {
  // A row of 9 cells and a third as heavy a copy two rows below it: one
  // profile along (9 equal cells) times one across (1, 0, 1/3).
  KernelGrid echo = grid_of(line_shake(9, 0), 11);
  for (int j = 0; j < 11; ++j) echo.weights[7 * 11 + j] = echo.weights[5 * 11 + j] / 3.0;
  EXPECT_NEAR(kernel_shape(echo).separable, 1.0, 1e-9);
  EXPECT_NEAR(kernel_shape(grid_of(line_shake(9, 0), 11)).separable, 1.0, 1e-9);
  EXPECT_LT(kernel_shape(grid_of(j_shake(), 9)).separable, 0.9);
  // Nearly all the weight in one corner, a trace in the opposite one: the
  // trace lies about 1.4 sizes from the centre, along the diagonal axis.
  KernelGrid corners{9, std::vector<double>(81, 0.0)};
  corners.weights[0] = 1.0, corners.weights[80] = 1e-3;
  EXPECT_NEAR(kernel_shape(corners).separable, 1.0, 1e-6);
}

TEST(KernelShape, TrimmingKeepsTheMiddleCellTheOrigin) {
  const KernelGrid wide = grid_of(j_shake(), 21);
  const KernelGrid trimmed = trimmed_kernel(wide);
  ASSERT_EQ(trimmed.size, 9);  // the J reaches 4 cells left of its origin
  for (const Cell &c : j_shake())
    EXPECT_GT(trimmed.weights[static_cast<std::size_t>(c.row + 4) * 9 + c.col + 4], 0.0);
}

TEST(KernelShape, KernelsAgreeUpToAShiftAndDifferOtherwise) {
  Drawn moved = j_shake();
  for (Cell &c : moved) c.col += 2;  // the same J, two cells to the right
  const KernelGrid j = grid_of(j_shake(), 11);
  EXPECT_NEAR(kernel_agreement(j, grid_of(moved, 13), 3), 1.0, 1e-12);
  // Of the J's 14 cells, a line shares the 7 of its top stroke.
  const double shared = kernel_agreement(j, grid_of(line_shake(7, 0), 11), 3);
  EXPECT_NEAR(shared, 7.0 / std::sqrt(14.0 * 7.0), 1e-12);
}

TEST(BlindEstimate, FindsACurvedShakesKernel) {
  const std::vector<unsigned char> grey = scene(j_shake());
  GreyImage image{kSide, kSide, std::vector<double>(grey.begin(), grey.end())};
  for (double &v : image.values) v /= 255.0;
  const KernelGrid found = find_kernel(image, kTestMaxKernel);
  ASSERT_EQ(found.size, kTestMaxKernel);
  EXPECT_GT(best_match(found, grid_of(j_shake(), 9)), kMatchingKernel);
  const KernelShape shape = kernel_shape(found);
  EXPECT_NEAR(shape.width, 8, kExtentTolerance);
  EXPECT_NEAR(shape.height, 7, kExtentTolerance);
}

namespace {

// A hook: 17 cells to the right, then 6 down; its scene on the 0..1 scale.
Drawn hook_shake() {
  Drawn hook;
  for (int c = -8; c <= 8; ++c) hook.push_back({-3, c});
  for (int r = -2; r <= 3; ++r) hook.push_back({r, 8});
  return hook;
}
GreyImage hook_scene(double noise) {
  const std::vector<unsigned char> grey = scene(hook_shake(), 7, noise);
  GreyImage image{kSide, kSide, std::vector<double>(grey.begin(), grey.end())};
  for (double &v : image.values) v /= 255.0;
  return image;
}

}  // namespace

TEST(BlindEstimate, ALongShakesKernelComesOutCleanInNoise) {
  // In more noise than the other scenes: noise left around the path as a
  // haze (0.65 here) lowers the match.
  EXPECT_GT(best_match(find_kernel(hook_scene(kLongShakeNoise), kTestMaxKernel),
                       grid_of(hook_shake(), 21)),
            kCleanMatch);
}

TEST(BlindEstimate, ASearchTakenFurtherInLowNoiseKeepsItsPlaceAndComesCloserToTheShake) {
  const GreyImage image = hook_scene(kQuietNoise);
  const KernelGrid found = find_kernel(image, kTestMaxKernel);
  const KernelGrid finer =
      refined_kernel(image, found, kTestMaxKernel, kEdgeWeight, kMoreRounds, 1);
  ASSERT_EQ(finer.size, kTestMaxKernel);
  double sum = 0.0;
  for (double w : finer.weights) {
    EXPECT_GE(w, 0.0);
    sum += w;
  }
  EXPECT_NEAR(sum, 1.0, 1e-9);
  // Centred as the search leaves its kernels: alike where they lie, with no
  // shift between them.
  EXPECT_GT(kernel_agreement(finer, found, 0), kSameKernel);
  const KernelGrid truth = grid_of(hook_shake(), 21);
  EXPECT_GT(best_match(finer, truth), best_match(found, truth));
  // Only a search's own kernel, in its window, can be taken further.
  EXPECT_EQ(refined_kernel(image, found, 21, kEdgeWeight, kMoreRounds, 1).size, 0);
}

TEST(BlindEstimate, ASearchTakenFurtherOnTwoThreadsIsTheSameToTheBit) {
  const GreyImage image = hook_scene(kQuietNoise);
  const KernelGrid found = find_kernel(image, kTestMaxKernel);
  const KernelGrid alone = refined_kernel(image, found, kTestMaxKernel, kEdgeWeight, 2, 1);
  ASSERT_EQ(alone.size, kTestMaxKernel);
  EXPECT_EQ(refined_kernel(image, found, kTestMaxKernel, kEdgeWeight, 2, 2).weights,
            alone.weights);
}

TEST(BlindEstimate, SearchesSideBySideFindWhatEachFindsAlone) {
  std::vector<GreyImage> images;
  for (const Drawn &drawn : {j_shake(), line_shake(9, 30.0)}) {
    const std::vector<unsigned char> grey = scene(drawn);
    images.push_back({kSide, kSide, std::vector<double>(grey.begin(), grey.end())});
    for (double &v : images.back().values) v /= 255.0;
  }
  // Three searches on two threads: each gets a thread of its own.
  const std::vector<KernelGrid> all =
      find_kernels({{&images[0], kTestMaxKernel},
                    {&images[1], 15},
                    {&images[0], kTestMaxKernel, 0.5 * kEdgeWeight}},
                   2);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].weights, find_kernel(images[0], kTestMaxKernel).weights);
  EXPECT_EQ(all[1].weights, find_kernel(images[1], 15).weights);
  EXPECT_EQ(all[1].size, 15);
  EXPECT_EQ(all[2].weights, find_kernel(images[0], kTestMaxKernel, 0.5 * kEdgeWeight).weights);
}

TEST(BlindEstimate, ChoosesTheKernelALineOrNothing) {
  const MotionEstimate curved = shake_of(scene(j_shake()));
  ASSERT_EQ(curved.status, EstimateStatus::estimated);
  EXPECT_EQ(curved.found, FoundMotion::kernel);
  EXPECT_NEAR(curved.kernel_width, 8, kExtentTolerance);
  EXPECT_NEAR(curved.kernel_height, 7, kExtentTolerance);
  EXPECT_EQ(curved.kernel.rows % 2, 1);

  // Fifteen cells down a diagonal: 14 steps of sqrt(2) between the first
  // and the last cell's centres, and a pixel's width.
  Drawn diagonal;
  for (int t = -7; t <= 7; ++t) diagonal.push_back({t, t});
  const MotionEstimate straight = shake_of(scene(diagonal));
  EXPECT_EQ(straight.found, FoundMotion::line);
  EXPECT_NEAR(straight.length, 14.0 * std::sqrt(2.0) + 1.0, kLengthTolerance);
  EXPECT_LT(angle_error(straight.direction, 45.0), kDirectionTolerance);

  // Five cells across, on a grainy scene (whose spectrum shows the line):
  // the kernel's heaviest cell weighs as much as a sharp photo's, yet the
  // line confirms it as a motion.
  const MotionEstimate short_line = shake_of(scene(line_shake(5, 0.0), 5, kNoise, kGrain));
  EXPECT_EQ(short_line.found, FoundMotion::line);
  EXPECT_NEAR(short_line.length, 5.0, kLengthTolerance);

  const MotionEstimate sharp = shake_of(scene({}));
  EXPECT_EQ(sharp.found, FoundMotion::none);
  EXPECT_FALSE(found_motion(sharp));
}

TEST(BlindEstimate, TheSpectrumsLineRepairsAKernelHazyOrEchoedAlongItButNotOneCurvedAlongIt) {
  // 21 cells along the rows: the spectrum's line, and the kernel found.
  constexpr int kSize = 31;
  const Drawn path = line_shake(21, 0.0);
  const KernelGrid thin = grid_of(path, kSize);
  EXPECT_TRUE(line_reading(thin, 21.0, 0.0, kBlurredZeros).straight);
  EXPECT_FALSE(line_reading(thin, 21.0, 45.0, kClearZeros).confirmed);
  EXPECT_FALSE(line_reading(thin, 9.0, 0.0, kClearZeros).confirmed);

  // The same path in a haze three cells deep on either side, as fur and
  // other fine repeated texture leave beside a straight blur's path.
  KernelGrid hazy = thin;
  for (const Cell &c : path)
    for (int off = -3; off <= 3; ++off)
      if (off != 0)
        hazy.weights[static_cast<std::size_t>(c.row + off + kSize / 2) * kSize + c.col +
                     kSize / 2] += kHaze / path.size();
  const LineReading hazy_reading = line_reading(hazy, 21.0, 0.0, kBlurredZeros);
  EXPECT_TRUE(hazy_reading.confirmed);
  EXPECT_TRUE(hazy_reading.straight);

  // The thin path beside an echo of itself, as heavy, two rows away: alike
  // to the line by about 1 / sqrt(2) only, but straight.
  KernelGrid echoed = thin;
  for (const Cell &c : path)
    echoed.weights[static_cast<std::size_t>(c.row + 2 + kSize / 2) * kSize + c.col + kSize / 2] +=
        1.0 / path.size();
  EXPECT_TRUE(line_reading(echoed, 21.0, 0.0, kBlurredZeros).straight);

  // 31 cells where the spectrum reads 21, as an echo further along the
  // path lengthens the kernel: the line stands for it only where the
  // spectrum's zeros are clear.
  const KernelGrid longer = grid_of(line_shake(31, 0.0), kSize + 16);
  EXPECT_FALSE(line_reading(longer, 21.0, 0.0, kBlurredZeros).confirmed);
  EXPECT_TRUE(line_reading(longer, 21.0, 0.0, kClearZeros).straight);
  // Its middle seven cells three times as heavy, as overlapping echoes heap
  // it: uneven, as a camera that slows leaves it, but clear zeros rule that
  // out.
  KernelGrid heaped = longer;
  for (int c = -3; c <= 3; ++c)
    heaped.weights[static_cast<std::size_t>(heaped.size / 2) * heaped.size + heaped.size / 2 + c] *=
        3.0;
  EXPECT_FALSE(line_reading(heaped, 31.0, 0.0, kBlurredZeros).straight);
  EXPECT_TRUE(line_reading(heaped, 31.0, 0.0, kClearZeros).straight);

  // A thin arc bowed three cells off the line: the spectrum of a shake
  // curved this much still shows about the line, and the arc is its shape.
  Drawn arc;
  for (int c = -10; c <= 10; ++c)
    arc.push_back({static_cast<int>(std::lround(3.0 * (1.0 - c * c / 100.0))), c});
  const LineReading arc_reading = line_reading(grid_of(arc, kSize), 21.0, 0.0, kBlurredZeros);
  EXPECT_TRUE(arc_reading.confirmed);
  EXPECT_FALSE(arc_reading.straight);
  EXPECT_FALSE(line_reading(grid_of(arc, kSize), 21.0, 0.0, kClearZeros).straight);
}

TEST(BlindEstimate, TheTrueKernelRestoresTheSparsestPhoto) {
  // The J's blur undone by the J itself gives fewer, sharper edges than the
  // blurred photo left as it is (a point) or undone by a line across the
  // J's longer stroke, which rings.
  constexpr int kSize = 15;
  const std::vector<unsigned char> bytes = scene(j_shake());
  GreyImage grey{kSide, kSide, {}};
  for (unsigned char b : bytes) grey.values.push_back(b / 255.0);
  const double truth = restored_sparsity(grey, grid_of(j_shake(), kSize));
  ASSERT_GT(truth, 0.0);
  EXPECT_LT(truth, restored_sparsity(grey, grid_of({{0, 0}}, kSize)));
  EXPECT_LT(truth, restored_sparsity(grey, grid_of(line_shake(9, 90.0), kSize)));
}

TEST(BlindEstimate, AKernelFillingItsWindowVouchesForNoLine) {
  // A straight shake of 13 pixels sought with kernels of at most 15: the
  // kernel fills its window, as estimates gone astray do, and is no reading
  // of the shake, though the spectrum's line is right.
  const MotionEstimate e = shake_of(scene(line_shake(13, 0.0)), 15);
  ASSERT_EQ(e.status, EstimateStatus::estimated);
  EXPECT_TRUE(e.kernel_doubtful);
  EXPECT_EQ(e.found, FoundMotion::none);
  EXPECT_FALSE(found_motion(e));
}

TEST(BlindEstimate, AKernelFoundBecomesTheKernelModelButTheClassicLineStaysALine) {
  MotionEstimate e;
  e.found = FoundMotion::kernel;
  e.kernel = SampledKernel{3, 3, {0, 0, 0, 0.5, 0.5, 0, 0, 0, 0}};
  e.length = 2.0;
  e.direction = 12.34;
  e.k = 0.02;
  RepairSettings s;
  ASSERT_TRUE(apply_estimate(e, &s));
  ASSERT_TRUE(std::holds_alternative<SampledKernel>(s.motion));
  EXPECT_EQ(std::get<SampledKernel>(s.motion).weights, e.kernel.weights);
  EXPECT_EQ(s.k, 0.02);

  RepairSettings classic;
  classic.motion = ClassicLine{};
  ASSERT_TRUE(apply_estimate(e, &classic));
  const auto *line = std::get_if<ClassicLine>(&classic.motion);
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->length, 2.0);
  EXPECT_NEAR(line->direction, 12.3, 1e-9);
}
