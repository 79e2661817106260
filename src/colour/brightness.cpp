#include "colour/brightness.h"

#include <algorithm>

#include "engine/planes.h"

namespace ostrivo {

namespace {

template <typename T>
struct ValueRange {
  T min;
  T max;
};

// Range of byte `offset` over the pixels, gathered from 255 down and 0 up.
ValueRange<int> byte_range(const guchar *pixels, std::size_t count, std::size_t stride,
                           std::size_t offset) {
  ValueRange<int> range{255, 0};
  for (std::size_t p = 0; p < count; ++p) {
    const int v = pixels[p * stride + offset];
    range.min = std::min(range.min, v);
    range.max = std::max(range.max, v);
  }
  return range;
}

// v mapped from the restored range onto the source range, exactly: every
// operand is a whole number and v >= r.min, so this is an integer division.
int map_level(int v, const ValueRange<int> &r, const ValueRange<int> &s) {
  const int restored_span = r.max - r.min;
  if (restored_span == 0) return s.min;
  return s.min + (s.max - s.min) * (v - r.min) / restored_span;
}

float pixel_value(const float *px, int colours) {
  float v = px[0];
  for (int c = 1; c < colours; ++c) v = std::max(v, px[c]);
  return v;
}

ValueRange<float> float_range(const float *pixels, std::size_t count, std::size_t stride,
                              int colours) {
  ValueRange<float> range{0.0f, 0.0f};
  for (std::size_t p = 0; p < count; ++p) {
    const float v = pixel_value(pixels + p * stride, colours);
    if (p == 0 || v < range.min) range.min = v;
    if (p == 0 || v > range.max) range.max = v;
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

  const auto r = byte_range(restored, pixels, stride, 2);
  const auto s = byte_range(source, pixels, stride, 2);
  guchar *out = *repaired;
  for (std::size_t p = 0; p < pixels; ++p) {
    const guchar *in = restored + p * stride;
    guchar *px = out + p * stride;
    px[0] = in[0];
    px[1] = in[1];
    px[2] = static_cast<guchar>(map_level(in[2], r, s));
  }
}

void repair_grey_range(const guchar *source, guchar *restored, std::size_t pixels, int stride) {
  if (pixels == 0 || stride < 1) return;
  const auto step = static_cast<std::size_t>(stride);
  const auto r = byte_range(restored, pixels, step, 0);
  const auto s = byte_range(source, pixels, step, 0);
  for (std::size_t p = 0; p < pixels; ++p)
    restored[p * step] = static_cast<guchar>(map_level(restored[p * step], r, s));
}

void repair_value_range(const float *source, float *restored, std::size_t pixels, int stride,
                        int colours) {
  if (pixels == 0 || stride < colours || colours < 1) return;
  const auto step = static_cast<std::size_t>(stride);
  const auto r = float_range(restored, pixels, step, colours);
  const auto s = float_range(source, pixels, step, colours);
  const double restored_span = static_cast<double>(r.max) - r.min;
  const double scale =
      restored_span > 0.0 ? (static_cast<double>(s.max) - s.min) / restored_span : 0.0;
  for (std::size_t p = 0; p < pixels; ++p) {
    float *px = restored + p * step;
    const double v = pixel_value(px, colours);
    const double mapped = s.min + scale * (v - r.min);
    if (v > 0.0) {
      const double factor = mapped / v;
      for (int c = 0; c < colours; ++c) px[c] = static_cast<float>(px[c] * factor);
    } else {
      for (int c = 0; c < colours; ++c) px[c] = static_cast<float>(mapped);
    }
  }
}

}  // namespace ostrivo
