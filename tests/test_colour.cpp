#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "colour/brightness.h"
#include "colour/hsv.h"
#include "colour/light.h"

using namespace ostrivo;

namespace {

using Px = std::array<int, 3>;

Px to_hsv(Px rgb) {
  const guchar in[3] = {static_cast<guchar>(rgb[0]), static_cast<guchar>(rgb[1]),
                        static_cast<guchar>(rgb[2])};
  guchar out[3];
  rgb_to_hsv(in, out, 1, 1, 3);
  return {out[0], out[1], out[2]};
}

Px to_rgb(Px hsv) {
  const guchar in[3] = {static_cast<guchar>(hsv[0]), static_cast<guchar>(hsv[1]),
                        static_cast<guchar>(hsv[2])};
  guchar out[3];
  hsv_to_rgb(in, out, 1, 1, 3);
  return {out[0], out[1], out[2]};
}

}  // namespace

TEST(Hsv, WorkedExamplesBothWays) {
  struct Case {
    Px rgb, hsv, back;
  };
  const Case cases[] = {
      {{255, 0, 0}, {0, 255, 255}, {255, 0, 0}},
      {{0, 255, 0}, {85, 255, 255}, {1, 255, 0}},  // pure green does not survive
      {{0, 0, 255}, {170, 255, 255}, {0, 2, 255}},
      {{128, 128, 128}, {0, 0, 128}, {128, 128, 128}},
      {{10, 200, 30}, {89, 242, 200}, {10, 200, 26}},
      {{200, 100, 50}, {14, 191, 200}, {200, 99, 50}},
      {{100, 150, 200}, {149, 127, 200}, {100, 150, 200}},
      {{255, 255, 0}, {42, 255, 255}, {255, 251, 0}},   // red wins a tie with green
      {{0, 255, 255}, {127, 255, 255}, {0, 255, 249}},  // green wins a tie with blue
      {{255, 1, 0}, {0, 255, 255}, {255, 0, 0}},        // red-case hue cut to 360, then 0
      {{255, 0, 1}, {255, 255, 255}, {255, 0, 4}},      // hue 359: the top of the scale
      {{254, 165, 0}, {26, 255, 254}, {254, 154, 0}},   // 398.976 cut to 398, remainder 38
      {{254, 255, 0}, {42, 255, 255}, {255, 251, 0}},
      {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(to_hsv(c.rgb), c.hsv) << c.rgb[0] << "," << c.rgb[1] << "," << c.rgb[2];
    EXPECT_EQ(to_rgb(c.hsv), c.back) << c.rgb[0] << "," << c.rgb[1] << "," << c.rgb[2];
  }
}

TEST(Hsv, GreyLevelsRoundTripExactly) {
  for (int n = 0; n < 256; ++n) {
    EXPECT_EQ(to_hsv({n, n, n}), (Px{0, 0, n}));
    EXPECT_EQ(to_rgb({0, 0, n}), (Px{n, n, n}));
  }
}

TEST(Hsv, ValueIsTheLargestComponentAndComesBackInOneComponent) {
  for (int r = 0; r < 256; r += 15)
    for (int g = 3; g < 256; g += 21)
      for (int b = 7; b < 256; b += 31) {
        const Px hsv = to_hsv({r, g, b});
        const int top = std::max(r, std::max(g, b));
        EXPECT_EQ(hsv[2], top);
        const Px back = to_rgb(hsv);
        EXPECT_EQ(std::max(back[0], std::max(back[1], back[2])), top);
      }
}

TEST(Hsv, AlphaBytesAreNeitherReadNorWritten) {
  const std::vector<guchar> rgba = {200, 100, 50, 9, 10, 200, 30, 250};
  std::vector<guchar> hsv = {0, 0, 0, 77, 0, 0, 0, 88};
  rgb_to_hsv(rgba.data(), hsv.data(), 2, 1, 4);
  EXPECT_EQ(hsv, (std::vector<guchar>{14, 191, 200, 77, 89, 242, 200, 88}));
  std::vector<guchar> rgb = {0, 0, 0, 5, 0, 0, 0, 6};
  hsv_to_rgb(hsv.data(), rgb.data(), 2, 1, 4);
  EXPECT_EQ(rgb, (std::vector<guchar>{200, 99, 50, 5, 10, 200, 26, 6}));
}

TEST(Hsv, RowsAndColumnsAddressPixelsRowMajor) {
  // 2 columns x 3 rows of grey pixels: the conversion covers all six.
  std::vector<guchar> rgb;
  for (int n = 0; n < 6; ++n)
    rgb.insert(rgb.end(), {guchar(n * 40), guchar(n * 40), guchar(n * 40)});
  std::vector<guchar> hsv(rgb.size(), 1);
  rgb_to_hsv(rgb.data(), hsv.data(), 2, 3, 3);
  for (int n = 0; n < 6; ++n) EXPECT_EQ(hsv[static_cast<std::size_t>(n * 3 + 2)], n * 40);
}

namespace {

// Value bytes of a repair of a one-row buffer of value bytes `restored`
// against `source`; hue and saturation are set to recognisable values.
std::vector<int> repair_values(const std::vector<int> &restored, const std::vector<int> &source,
                               int bpp = 3) {
  const int n = static_cast<int>(restored.size());
  std::vector<guchar> r(static_cast<std::size_t>(n * bpp), 0xAB);
  std::vector<guchar> s(r.size(), 0xCD);
  for (int p = 0; p < n; ++p) {
    r[static_cast<std::size_t>(p * bpp + 0)] = static_cast<guchar>(p);
    r[static_cast<std::size_t>(p * bpp + 1)] = static_cast<guchar>(100 + p);
    r[static_cast<std::size_t>(p * bpp + 2)] =
        static_cast<guchar>(restored[static_cast<std::size_t>(p)]);
    s[static_cast<std::size_t>(p * bpp + 2)] =
        static_cast<guchar>(source[static_cast<std::size_t>(p)]);
  }
  std::vector<guchar> out(r.size(), 0xEE);
  guchar *o = out.data();
  HSV_Restoration_V(r.data(), s.data(), &o, n, 1, bpp);
  std::vector<int> values;
  for (int p = 0; p < n; ++p) {
    EXPECT_EQ(out[static_cast<std::size_t>(p * bpp + 0)], p);
    EXPECT_EQ(out[static_cast<std::size_t>(p * bpp + 1)], 100 + p);
    for (int extra = 3; extra < bpp; ++extra)
      EXPECT_EQ(out[static_cast<std::size_t>(p * bpp + extra)], 0xEE);
    values.push_back(out[static_cast<std::size_t>(p * bpp + 2)]);
  }
  return values;
}

}  // namespace

TEST(BrightnessRepair, MapsTheRestoredRangeExactlyOntoTheSourceRange) {
  // Restored 20..220 onto source 10..240: 220 must give 240, which a
  // double evaluation misses (239.99999999999997).
  EXPECT_EQ(repair_values({20, 100, 120, 220}, {10, 240, 50, 60}),
            (std::vector<int>{10, 102, 125, 240}));
  EXPECT_EQ(repair_values({0, 100, 200}, {0, 255, 9}), (std::vector<int>{0, 127, 255}));
  EXPECT_EQ(repair_values({0, 1, 2, 3}, {0, 200, 0, 0}), (std::vector<int>{0, 66, 133, 200}));
  EXPECT_EQ(repair_values({10, 30, 110}, {0, 100, 50}), (std::vector<int>{0, 20, 100}));
}

TEST(BrightnessRepair, EqualRangesLeaveValuesAndFlatSourceGivesItsLevel) {
  EXPECT_EQ(repair_values({5, 90, 17, 200}, {200, 5, 6, 7}), (std::vector<int>{5, 90, 17, 200}));
  EXPECT_EQ(repair_values({5, 90, 200}, {42, 42, 42}), (std::vector<int>{42, 42, 42}));
}

TEST(BrightnessRepair, FlatRestoredValuesMapToTheSourceMinimum) {
  EXPECT_EQ(repair_values({77, 77, 77}, {30, 90, 200}), (std::vector<int>{30, 30, 30}));
}

TEST(BrightnessRepair, FourBytesPerPixelKeepsTheFourthByte) {
  EXPECT_EQ(repair_values({20, 120, 220}, {10, 240, 99}, 4), (std::vector<int>{10, 125, 240}));
}

TEST(Light, EveryByteLevelComesBackAndAlphaIsOnlyScaled) {
  // sRGB's curve by its definition: level 128 is 0.21586 of the light.
  std::vector<guchar> levels;
  for (int v = 0; v < 256; ++v) levels.insert(levels.end(), {static_cast<guchar>(v), 200});
  std::vector<float> light(levels.size());
  std::vector<guchar> back(levels.size());
  const PixelRegion region{16, 16, 2, SampleFormat::u8, levels.data(), back.data()};
  decode_light(region, light.data());
  EXPECT_NEAR(light[2 * 128], 0.2158605, 1e-6);
  EXPECT_NEAR(light[1], 200.0 / 255.0, 1e-6);
  encode_light(light.data(), region);
  EXPECT_EQ(back, levels);
}

TEST(Light, EachPixelWeighsAsTheInverseSquareOfTheCurvesSlope) {
  // The slope dL/dv of the decoding curve, taken here by a central
  // difference of its definition; an alpha channel weighs 1.
  const auto decoded = [](double v) {
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
  };
  const std::vector<double> levels = {0.01, 0.2, 0.5, 0.9};
  std::vector<float> light;
  for (const double v : levels) light.insert(light.end(), {static_cast<float>(decoded(v)), 0.3f});
  std::vector<float> weights(levels.size());
  const PixelRegion region{
      1, static_cast<int>(levels.size()), 2, SampleFormat::f32, light.data(), nullptr};
  light_data_weights(region, 0, weights.data());
  constexpr double kTolerance = 2e-3;  // relative: the tabled curve against the exact one
  for (std::size_t p = 0; p < levels.size(); ++p) {
    const double h = 1e-5, slope = (decoded(levels[p] + h) - decoded(levels[p] - h)) / (2 * h);
    EXPECT_NEAR(weights[p] * slope * slope, 1.0, kTolerance) << "level " << levels[p];
  }
  light_data_weights(region, 1, weights.data());
  EXPECT_EQ(weights, std::vector<float>(levels.size(), 1.0f));
}
