#include "engine/degradation.h"

#include <cmath>
#include <cstdint>

#include "engine/planes.h"
#include "engine/settings.h"

namespace ostrivo {

namespace {

// The value of pi the line is drawn with; it decides which cell some samples
// reach (at 150 degrees, sin t is just above 0.5 with it).
constexpr double kPi = 3.14159265;

struct Line {
  std::int64_t row0;
  std::int64_t col0;
  double cos_t;
  double sin_t;
  long samples;
};

// Flat index of sample i, wrapped into 0 .. cells - 1.
std::size_t sample_index(const Line &line, long i, std::int64_t cols, std::int64_t cells) {
  // |cos t * i| <= i <= kMaxMotionSamples, so the truncations are exact and safe.
  const auto dx = static_cast<std::int64_t>(line.cos_t * static_cast<double>(i));
  const auto dy = static_cast<std::int64_t>(line.sin_t * static_cast<double>(i));
  std::int64_t index = (line.row0 + dy) * cols + (line.col0 + dx);
  index %= cells;
  if (index < 0) index += cells;
  return static_cast<std::size_t>(index);
}

}  // namespace

void buildDegradationFunction_h(int rows, int cols, double **h) {
  double *plane = *h;
  const std::size_t cells = plane_cells(rows, cols);
  for (std::size_t k = 0; k < cells; ++k) plane[k] = 0.0;
  if (cells == 0) return;

  const double length = bvals.length;
  double direction = bvals.direction;
  if (!std::isfinite(length) || !std::isfinite(direction)) return;
  if (direction >= 360.0) direction = std::fmod(direction, 360.0);
  if (!(length >= 1.0)) return;

  Line line{};
  line.samples = length >= static_cast<double>(kMaxMotionSamples) ? kMaxMotionSamples
                                                                  : static_cast<long>(length);
  if (direction <= 90.0) {
    line.row0 = 0;
    line.col0 = 0;
  } else if (direction <= 180.0) {
    line.row0 = 0;
    line.col0 = cols - 1;
  } else if (direction <= 270.0) {
    line.row0 = rows - 1;
    line.col0 = cols - 1;
  } else {
    line.row0 = rows - 1;
    line.col0 = 0;
  }
  const double theta = direction * kPi / 180.0;
  line.cos_t = std::cos(theta);
  line.sin_t = std::sin(theta);

  const auto wide_cols = static_cast<std::int64_t>(cols);
  const auto wide_cells = static_cast<std::int64_t>(cells);

  // Mark the cells the line reaches, counting each once.
  long distinct = 0;
  for (long i = 0; i < line.samples; ++i) {
    double &cell = plane[sample_index(line, i, wide_cols, wide_cells)];
    if (cell == 0.0) {
      cell = 1.0;
      ++distinct;
    }
  }
  // Share the unit weight equally among them.
  const double weight = 1.0 / static_cast<double>(distinct);
  for (long i = 0; i < line.samples; ++i)
    plane[sample_index(line, i, wide_cols, wide_cells)] = weight;
}

}  // namespace ostrivo
