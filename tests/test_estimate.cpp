// Blind estimation on synthetic photos whose motion is known: random detail
// (every frequency present) blurred by the engine's smooth motion.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "ostrivo/estimate.h"
#include "ostrivo/repair.h"

using namespace ostrivo;

namespace {

// How close an estimate must come: the estimator's own goals.
constexpr double kDirectionTolerance = 3.0;  // degrees, modulo 180
double length_tolerance(double length) { return std::max(2.0, 0.1 * length); }

// Random detail of `channels` bytes a pixel, blurred by the motion (when its
// length is over 1), with Gaussian noise of `sigma` levels.
std::vector<unsigned char> photo(int rows, int cols, int channels, double length, double direction,
                                 double sigma = 0.0) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> level(20, 235);
  std::vector<unsigned char> sharp(static_cast<std::size_t>(rows * cols * channels));
  for (unsigned char &v : sharp) v = static_cast<unsigned char>(level(rng));
  std::vector<unsigned char> out(sharp);
  if (length > 1.0) {
    RepairSettings s;
    s.motion = SmoothLine{length, direction};
    EXPECT_EQ(
        blur_area({rows, cols, channels, SampleFormat::u8, sharp.data(), out.data()}, s).outcome,
        Outcome::repaired);
  }
  std::normal_distribution<double> noise(0.0, sigma);
  if (sigma > 0)
    for (unsigned char &v : out)
      v = static_cast<unsigned char>(std::clamp(std::lround(v + noise(rng)), 0L, 255L));
  return out;
}

MotionEstimate estimate(const std::vector<unsigned char> &px, int rows, int cols, int channels) {
  return estimate_motion({rows, cols, channels, SampleFormat::u8, px.data(), nullptr});
}

double angle_error(double a, double b) { return std::fabs(std::fmod(a - b + 270.0, 180.0) - 90.0); }

}  // namespace

TEST(Estimate, FindsAxisAlignedAndSlantedMotions) {
  struct Case {
    double length, direction, sigma;
  };
  const Case cases[] = {{12, 0, 0}, {20, 90, 0}, {15.5, 45, 0}, {30, 135, 0}, {18, 210, 1.5}};
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << c.length << " px at " << c.direction << " noise " << c.sigma);
    const MotionEstimate e =
        estimate(photo(320, 320, 3, c.length, c.direction, c.sigma), 320, 320, 3);
    ASSERT_EQ(e.status, EstimateStatus::estimated);
    EXPECT_NEAR(e.length, c.length, length_tolerance(c.length));
    EXPECT_LE(angle_error(e.direction, c.direction), kDirectionTolerance) << e.direction;
    EXPECT_GE(e.direction, 0.0);
    EXPECT_LT(e.direction, 180.0);
    EXPECT_GT(e.confidence, 0.5);
    EXPECT_GE(e.k, kKRange.lower);
    EXPECT_LE(e.k, kKRange.upper);
  }
}

TEST(Estimate, GreyAndFloatRegionsGiveTheSameMotion) {
  const auto grey = photo(256, 256, 1, 14, 60);
  std::vector<float> floats(grey.size());
  for (std::size_t k = 0; k < grey.size(); ++k) floats[k] = static_cast<float>(grey[k] / 255.0);
  const MotionEstimate bytes = estimate(grey, 256, 256, 1);
  const MotionEstimate f =
      estimate_motion({256, 256, 1, SampleFormat::f32, floats.data(), nullptr});
  EXPECT_NEAR(bytes.length, 14, length_tolerance(14));
  EXPECT_LE(angle_error(bytes.direction, 60), kDirectionTolerance);
  EXPECT_NEAR(f.length, bytes.length, 0.1);
  EXPECT_NEAR(f.direction, bytes.direction, 0.2);
}

TEST(Estimate, SharpDetailIsNoMotion) {
  const MotionEstimate e = estimate(photo(256, 256, 3, 1, 0), 256, 256, 3);
  ASSERT_EQ(e.status, EstimateStatus::estimated);
  EXPECT_EQ(e.length, 1.0);
  EXPECT_GT(e.confidence, 0.5);
}

TEST(Estimate, TooSmallOrFlatRegionsAreNotGuessed) {
  EXPECT_EQ(estimate(photo(63, 200, 3, 10, 0), 63, 200, 3).status, EstimateStatus::too_small);
  const std::vector<unsigned char> flat(static_cast<std::size_t>(128 * 128 * 4), 90);
  EXPECT_EQ(estimate(flat, 128, 128, 4).status, EstimateStatus::too_flat);
}
