#include <cmath>

#include "engine/psf.h"
#include "ostrivo/settings.h"

namespace ostrivo {

std::vector<PsfTap> kernel_taps(int rows, int cols, const std::vector<double> &weights) {
  if (rows < 1 || cols < 1 || rows > kMaxKernelSize || cols > kMaxKernelSize ||
      weights.size() != static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols))
    return {};
  const auto usable = [](double w) { return std::isfinite(w) && w > 0.0; };
  double sum = 0.0;
  for (double w : weights)
    if (usable(w)) sum += w;
  if (!(sum > 0.0) || !std::isfinite(sum)) return {};
  std::vector<PsfTap> taps;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) {
      const double w = weights[static_cast<std::size_t>(r) * static_cast<std::size_t>(cols) +
                               static_cast<std::size_t>(c)];
      if (usable(w)) taps.push_back({r - rows / 2, c - cols / 2, w / sum});
    }
  return taps;
}

}  // namespace ostrivo
