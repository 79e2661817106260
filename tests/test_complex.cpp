#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "compat/routines.h"
#include "engine/samples.h"

using namespace ostrivo;

TEST(RoundToGuchar, ExactHalvesGoDownOtherFractionsToNearest) {
  struct Case {
    double in;
    int out;
  };
  const Case cases[] = {{0.49, 0},    {0.5, 0},     {0.51, 1},     {2.5, 2}, {2.5000001, 3},
                        {127.5, 127}, {254.5, 254}, {254.51, 255}, {3.0, 3}, {1e-300, 0}};
  for (const Case &c : cases) EXPECT_EQ(round_to_guchar(c.in), c.out) << c.in;
}

TEST(RoundToGuchar, ClampsAnyMagnitudeAndNonNumbers) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double in;
    int out;
  };
  const Case cases[] = {{-0.3, 0},  {-0.5, 0},    {-3.7, 0},    {-1e300, 0},
                        {-inf, 0},  {255.4, 255}, {255.5, 255}, {255.51, 255},
                        {300, 255}, {1e10, 255},  {inf, 255},   {std::nan(""), 0}};
  for (const Case &c : cases) EXPECT_EQ(round_to_guchar(c.in), c.out) << c.in;
}

// The operations the Wiener step is made of.
TEST(ComplexOps, WorkedExamples) {
  const fftw_complex three_four = {3, 4};
  EXPECT_DOUBLE_EQ(kwadratModulu(&three_four), 25.0);

  const fftw_complex a = {1, 2};
  fftw_complex product;
  mnozenieLiczbZespolonych(&a, &three_four, &product);
  EXPECT_DOUBLE_EQ(product[0], -5.0);
  EXPECT_DOUBLE_EQ(product[1], 10.0);

  fftw_complex b = {1, -2};
  dzielenie(&b, 4.0, &b);  // in place
  EXPECT_DOUBLE_EQ(b[0], 0.25);
  EXPECT_DOUBLE_EQ(b[1], -0.5);
}

TEST(RoundToGuchar, PlaneWideRoundingAgreesWithTheScalarRounding) {
  // The plane pass is vectorised separately from round_to_guchar; both must
  // give the same for ties, clamps and non-numbers, at odd lengths too.
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<double> values = {0.49,   0.5,   0.51,         2.5,   2.5000001, 127.5,      254.5,
                                254.51, 255.0, 255.5,        300.0, -0.5,      -3.7,       1e10,
                                inf,    -inf,  std::nan(""), -0.0,  1e-300,    99.99999999};
  for (int i = 0; i < 1000; ++i) values.push_back(-20.0 + i * 0.2957);
  for (double divisor : {1.0, 6.0, 12.0}) {
    std::vector<double> plane;
    for (double v : values) plane.push_back(v * divisor);
    normalise_and_round(plane.data(), plane.size(), divisor);
    for (std::size_t k = 0; k < values.size(); ++k)
      EXPECT_EQ(plane[k], round_to_guchar(values[k] * divisor / divisor)) << values[k];
  }
}
