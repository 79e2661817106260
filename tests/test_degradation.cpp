#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <utility>
#include <vector>

#include "test_support.h"

using namespace ostrivo;
using ostrivo::testing::EngineTest;

namespace {

using Cell = std::pair<int, int>;

class Degradation : public EngineTest {
 protected:
  std::vector<double> build(int rows, int cols) {
    std::vector<double> plane(plane_cells(rows, cols), -1.0);  // garbage to be cleared
    double *p = plane.data();
    buildDegradationFunction_h(rows, cols, &p);
    return plane;
  }

  static std::set<Cell> nonzero_cells(const std::vector<double> &plane, int cols) {
    std::set<Cell> cells;
    for (std::size_t k = 0; k < plane.size(); ++k)
      if (plane[k] != 0.0) cells.insert({static_cast<int>(k) / cols, static_cast<int>(k) % cols});
    return cells;
  }

  // Every non-zero cell holds the same weight and the weights sum to 1.
  static void expect_unit_line(const std::vector<double> &plane, std::size_t distinct) {
    double sum = 0.0;
    for (double v : plane) {
      if (v == 0.0) continue;
      EXPECT_DOUBLE_EQ(v, 1.0 / static_cast<double>(distinct));
      sum += v;
    }
    EXPECT_NEAR(sum, 1.0, 1e-12);
  }
};

// Length 5 on a 6 x 6 plane: the cells each direction reaches, worked out
// by hand from trunc(cos t * i), trunc(sin t * i) and the start corner.
struct LineCase {
  double direction;
  std::set<Cell> cells;
};

const LineCase kLines[] = {
    {0, {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 4}}},
    {10, {{0, 0}, {0, 1}, {0, 2}, {0, 3}}},
    {30, {{0, 0}, {0, 1}, {1, 2}, {1, 3}}},  // sin t just below 0.5
    {45, {{0, 0}, {1, 1}, {2, 2}}},
    {60, {{0, 0}, {1, 1}, {2, 1}, {3, 2}}},
    {90, {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}}},
    {135, {{0, 5}, {1, 4}, {2, 3}}},
    {150, {{0, 5}, {1, 4}, {1, 3}, {2, 2}}},  // 3.14159265 puts sin t above 0.5
    {180, {{0, 5}, {0, 4}, {0, 3}, {0, 2}, {0, 1}}},
    {225, {{5, 5}, {4, 4}, {3, 3}}},
    {270, {{5, 5}, {4, 5}, {3, 5}, {2, 5}, {1, 5}}},
    {300, {{5, 0}, {4, 0}, {3, 1}, {2, 1}}},  // cos t just below 0.5
    {315, {{5, 0}, {4, 1}, {3, 2}}},
    {359, {{5, 0}, {5, 1}, {5, 2}, {5, 3}}},
};

}  // namespace

TEST_F(Degradation, LineCellsForEachDirectionWithWeightsSummingToOne) {
  for (const LineCase &line : kLines) {
    SCOPED_TRACE(line.direction);
    set_motion(5, line.direction);
    const auto plane = build(6, 6);
    EXPECT_EQ(nonzero_cells(plane, 6), line.cells);
    expect_unit_line(plane, line.cells.size());
  }
}

TEST_F(Degradation, ShortLengthsSetOnlyTheCornerOrNothing) {
  for (double direction : {0.0, 45.0, 90.0, 91.0, 200.0, 300.0}) {
    set_motion(1, direction);
    const auto plane = build(4, 5);
    EXPECT_EQ(nonzero_cells(plane, 5).size(), 1u) << direction;
    expect_unit_line(plane, 1);
  }
  set_motion(0.5, 0);
  const auto none = build(4, 5);
  EXPECT_TRUE(nonzero_cells(none, 5).empty());

  set_motion(1, 0);
  EXPECT_EQ(build(1, 1), std::vector<double>{1.0});
}

TEST_F(Degradation, FractionalLengthDrawsTruncatedSamplesOfEqualWeight) {
  set_motion(5.7, 0);
  const auto plane = build(6, 6);
  EXPECT_EQ(nonzero_cells(plane, 6), (std::set<Cell>{{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 4}}));
  expect_unit_line(plane, 5);
}

TEST_F(Degradation, RebuildingClearsThePreviousLine) {
  set_motion(5, 0);
  build(6, 6);
  std::vector<double> plane(36);
  double *p = plane.data();
  buildDegradationFunction_h(6, 6, &p);
  set_motion(5, 90);
  buildDegradationFunction_h(6, 6, &p);
  EXPECT_EQ(nonzero_cells(plane, 6), (std::set<Cell>{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}}));
}

TEST_F(Degradation, LongLinesContinueOnTheNextRowAndWrapAroundThePlane) {
  set_motion(6, 0);  // longer than the 4 columns
  EXPECT_EQ(nonzero_cells(build(3, 4), 4),
            (std::set<Cell>{{0, 0}, {0, 1}, {0, 2}, {0, 3}, {1, 0}, {1, 1}}));

  // At 180 degrees the line runs left of row 0's start: indices -1 and -2
  // wrap to the plane's last two cells.
  set_motion(6, 180);
  const auto left = build(3, 4);
  EXPECT_EQ(nonzero_cells(left, 4),
            (std::set<Cell>{{0, 3}, {0, 2}, {0, 1}, {0, 0}, {2, 3}, {2, 2}}));
  expect_unit_line(left, 6);

  // A motion longer than the whole plane revisits cells: 4 cells in all.
  set_motion(100, 0);
  const auto tiny = build(2, 2);
  expect_unit_line(tiny, 4);
}

TEST_F(Degradation, OutOfRangeDirectionsAreSafe) {
  // Negative directions start at the top left and run upwards: they wrap.
  set_motion(5, -90);
  const auto up = build(6, 6);
  EXPECT_EQ(nonzero_cells(up, 6), (std::set<Cell>{{0, 0}, {5, 0}, {4, 0}, {3, 0}, {2, 0}}));
  expect_unit_line(up, 5);

  // 360 and more are taken modulo 360.
  set_motion(5, 405);
  const auto wrapped = build(6, 6);
  set_motion(5, 45);
  EXPECT_EQ(wrapped, build(6, 6));
}

TEST_F(Degradation, NonFiniteSettingsGiveAnEmptyPlane) {
  const double nan = std::nan("");
  const double inf = std::numeric_limits<double>::infinity();
  const std::pair<double, double> cases[] = {{nan, 0}, {inf, 0}, {5, nan}, {5, inf}, {5, -inf}};
  for (const auto &[length, direction] : cases) {
    set_motion(length, direction);
    EXPECT_TRUE(nonzero_cells(build(6, 6), 6).empty()) << length << " " << direction;
  }
}

TEST_F(Degradation, HugeLengthIsBoundedAndStaysInsideThePlane) {
  set_motion(1e300, 37);
  const auto plane = build(7, 11);
  const auto cells = nonzero_cells(plane, 11);
  EXPECT_FALSE(cells.empty());
  expect_unit_line(plane, cells.size());
}
