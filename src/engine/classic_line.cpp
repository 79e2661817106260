#include <algorithm>
#include <cmath>
#include <cstdint>

#include "engine/planes.h"
#include "engine/psf.h"

namespace ostrivo {

namespace {

// The value of pi the line is drawn with; it decides which cell some samples
// reach (at 150 degrees, sin t is just above 0.5 with it).
constexpr double kPi = 3.14159265;

}  // namespace

std::vector<PsfTap> motion_line_taps(int rows, int cols, double length, double direction) {
  const std::size_t cells = plane_cells(rows, cols);
  if (cells == 0 || !std::isfinite(length) || !std::isfinite(direction)) return {};
  if (direction >= 360.0) direction = std::fmod(direction, 360.0);
  if (!(length >= 1.0)) return {};

  const long samples = length >= static_cast<double>(kMaxMotionSamples) ? kMaxMotionSamples
                                                                        : static_cast<long>(length);
  // The corner the line starts from, so that it runs into the plane.
  std::int64_t row0 = 0, col0 = 0;
  if (direction <= 90.0) {
    row0 = 0;
    col0 = 0;
  } else if (direction <= 180.0) {
    row0 = 0;
    col0 = cols - 1;
  } else if (direction <= 270.0) {
    row0 = rows - 1;
    col0 = cols - 1;
  } else {
    row0 = rows - 1;
    col0 = 0;
  }
  const double theta = direction * kPi / 180.0;
  const double cos_t = std::cos(theta);
  const double sin_t = std::sin(theta);

  // Flat index of every sample, wrapped into the plane. |cos t * i| <= i <=
  // kMaxMotionSamples, so the truncations are exact and safe.
  const auto wide_cols = static_cast<std::int64_t>(cols);
  const auto wide_cells = static_cast<std::int64_t>(cells);
  std::vector<std::int64_t> index(static_cast<std::size_t>(samples));
  for (long i = 0; i < samples; ++i) {
    const auto dx = static_cast<std::int64_t>(cos_t * static_cast<double>(i));
    const auto dy = static_cast<std::int64_t>(sin_t * static_cast<double>(i));
    std::int64_t k = ((row0 + dy) * wide_cols + (col0 + dx)) % wide_cells;
    if (k < 0) k += wide_cells;
    index[static_cast<std::size_t>(i)] = k;
  }
  std::sort(index.begin(), index.end());
  index.erase(std::unique(index.begin(), index.end()), index.end());

  // The unit weight shared equally by the distinct cells.
  const double weight = 1.0 / static_cast<double>(index.size());
  std::vector<PsfTap> taps;
  taps.reserve(index.size());
  for (const std::int64_t k : index)
    taps.push_back({static_cast<int>(k / wide_cols), static_cast<int>(k % wide_cols), weight});
  return taps;
}

}  // namespace ostrivo
