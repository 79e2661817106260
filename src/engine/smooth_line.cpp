#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

#include "engine/psf.h"

namespace ostrivo {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Parameters in [0, 1] at which the segment p0 + s (p1 - p0) crosses the
// lines x = k + 1/2 of one axis.
void crossings(double from, double to, std::vector<double> *at) {
  if (from == to) return;
  const double lo = std::min(from, to), hi = std::max(from, to);
  for (double line = std::ceil(lo - 0.5) + 0.5; line < hi; line += 1.0) {
    if (line <= lo) continue;
    at->push_back((line - from) / (to - from));
  }
}

}  // namespace

std::vector<PsfTap> smooth_motion_taps(double length, double direction) {
  if (!(length > 0.0) || !std::isfinite(direction)) return {{0, 0, 1.0}};
  length = std::min(length, kMaxSmoothLength);
  const double theta = std::fmod(direction, 360.0) * kPi / 180.0;
  const double ux = std::cos(theta), uy = std::sin(theta);
  const double x0 = -0.5 * length * ux, y0 = -0.5 * length * uy;
  const double x1 = 0.5 * length * ux, y1 = 0.5 * length * uy;

  // Cut the segment where it crosses a cell border; each piece lies in the
  // cell of its midpoint.
  std::vector<double> at = {0.0, 1.0};
  crossings(x0, x1, &at);
  crossings(y0, y1, &at);
  std::sort(at.begin(), at.end());

  std::map<std::pair<int, int>, double> cells;
  for (std::size_t i = 0; i + 1 < at.size(); ++i) {
    const double piece = at[i + 1] - at[i];
    if (piece <= 0.0) continue;
    const double mid = 0.5 * (at[i] + at[i + 1]);
    const int col = static_cast<int>(std::lround(x0 + mid * (x1 - x0)));
    const int row = static_cast<int>(std::lround(y0 + mid * (y1 - y0)));
    cells[{row, col}] += piece;  // a fraction of the whole segment
  }
  std::vector<PsfTap> taps;
  taps.reserve(cells.size());
  for (const auto &[cell, weight] : cells) taps.push_back({cell.first, cell.second, weight});
  return taps;
}

}  // namespace ostrivo
