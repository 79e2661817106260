#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "compat/gimp2.h"

using namespace ostrivo;

TEST(Settings, SanitizeBringsAnyRecordIntoTheDialogsRanges) {
  const double nan = std::nan("");
  const double inf = std::numeric_limits<double>::infinity();
  BlurVals v{500.0, -3.0, 0.0, nan, 7, 1};
  EXPECT_FALSE(sanitize_blurvals(&v));
  EXPECT_EQ(v.length, 100.0);
  EXPECT_EQ(v.direction, 0.0);
  EXPECT_EQ(v.k, 0.001);
  EXPECT_EQ(v.frame_width, 1.0);  // not a number: the default
  EXPECT_EQ(v.repair_brightness, 1);

  BlurVals w{inf, 720.0, 5.0, -inf, 0, 0};
  EXPECT_FALSE(sanitize_blurvals(&w));
  EXPECT_EQ(w.length, 1.0);
  EXPECT_EQ(w.direction, 359.0);
  EXPECT_EQ(w.k, 1.0);
  EXPECT_EQ(w.frame_width, 1.0);

  BlurVals ok{10.0, 30.0, 0.01, 2.5, 1, 0};
  EXPECT_TRUE(sanitize_blurvals(&ok));
  BlurVals defaults = kDefaultBlurVals;
  EXPECT_TRUE(sanitize_blurvals(&defaults));
  EXPECT_EQ(std::memcmp(&defaults, &kDefaultBlurVals, sizeof defaults), 0);
}
