#include "colour/brightness.h"

#include <algorithm>

#include "engine/planes.h"

namespace ostrivo {

namespace {

struct ValueRange {
  int min = 255;
  int max = 0;
};

ValueRange value_range(const guchar *hsv, std::size_t pixels, std::size_t stride) {
  ValueRange range;
  for (std::size_t p = 0; p < pixels; ++p) {
    const int v = hsv[p * stride + 2];
    range.min = std::min(range.min, v);
    range.max = std::max(range.max, v);
  }
  return range;
}

}  // namespace

void HSV_Restoration_V(const guchar *restored, const guchar *source, guchar **repaired, int cols,
                       int rows, int bpp) {
  if (bpp < 3) return;
  const std::size_t pixels = plane_cells(rows, cols);
  if (pixels == 0) return;
  const auto stride = static_cast<std::size_t>(bpp);

  const ValueRange r = value_range(restored, pixels, stride);
  const ValueRange s = value_range(source, pixels, stride);
  const int restored_span = r.max - r.min;
  const int source_span = s.max - s.min;

  guchar *out = *repaired;
  for (std::size_t p = 0; p < pixels; ++p) {
    const guchar *in = restored + p * stride;
    guchar *px = out + p * stride;
    const int v = in[2];
    px[0] = in[0];
    px[1] = in[1];
    // v >= r.min, so the quotient is a non-negative integer division.
    px[2] = static_cast<guchar>(
        restored_span == 0 ? s.min : s.min + source_span * (v - r.min) / restored_span);
  }
}

}  // namespace ostrivo
