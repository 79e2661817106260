#include "colour/hsv.h"

#include <algorithm>
#include <cmath>

#include "engine/planes.h"

namespace ostrivo {

namespace {

// Degrees that hue byte 255 stands for.
constexpr double kHueScale = 359.0;

void pixel_to_hsv(const guchar *px, guchar *out) {
  const double r = px[0] / 255.0;
  const double g = px[1] / 255.0;
  const double b = px[2] / 255.0;
  const double max = std::max(r, std::max(g, b));
  const double min = std::min(r, std::min(g, b));

  // Ties at the maximum go to red first, then green.
  double hue;
  if (max == min) {
    hue = 0.0;
  } else if (max == r) {
    const int whole = static_cast<int>((g - b) / (max - min) * 60.0 + 360.0);
    hue = whole % 360;
  } else if (max == g) {
    hue = (b - r) / (max - min) * 60.0 + 120.0;
  } else {
    hue = (r - g) / (max - min) * 60.0 + 240.0;
  }
  const double saturation = max == 0.0 ? 0.0 : 1.0 - min / max;

  out[0] = static_cast<guchar>(hue * 255.0 / kHueScale);
  out[1] = static_cast<guchar>(std::floor(saturation * 255.0));
  out[2] = static_cast<guchar>(std::floor(max * 255.0));
}

void pixel_to_rgb(const guchar *px, guchar *out) {
  const double hue = px[0] * kHueScale / 255.0;
  const double s = px[1] / 255.0;
  const double v = px[2] / 255.0;

  const double x = hue / 60.0;
  const double sector_start = std::floor(x);
  const int sector = static_cast<int>(sector_start) % 6;
  const double f = x - sector_start;
  const double p = (1.0 - s) * v;
  const double q = (1.0 - f * s) * v;
  const double t = (1.0 - (1.0 - f) * s) * v;

  double red, green, blue;
  switch (sector) {
    case 0:
      red = v;
      green = t;
      blue = p;
      break;
    case 1:
      red = q;
      green = v;
      blue = p;
      break;
    case 2:
      red = p;
      green = v;
      blue = t;
      break;
    case 3:
      red = p;
      green = q;
      blue = v;
      break;
    case 4:
      red = t;
      green = p;
      blue = v;
      break;
    default:
      red = v;
      green = p;
      blue = q;
      break;
  }
  out[0] = static_cast<guchar>(red * 255.0);
  out[1] = static_cast<guchar>(green * 255.0);
  out[2] = static_cast<guchar>(blue * 255.0);
}

template <typename Convert>
void convert_pixels(const guchar *in, guchar *out, int cols, int rows, int bpp, Convert convert) {
  if (bpp < 3) return;  // no room for three components
  const std::size_t pixels = plane_cells(rows, cols);
  const auto stride = static_cast<std::size_t>(bpp);
  for (std::size_t p = 0; p < pixels; ++p) convert(in + p * stride, out + p * stride);
}

}  // namespace

void rgb_to_hsv(const guchar *rgb, guchar *hsv, int cols, int rows, int bpp) {
  convert_pixels(rgb, hsv, cols, rows, bpp, pixel_to_hsv);
}

void hsv_to_rgb(const guchar *hsv, guchar *rgb, int cols, int rows, int bpp) {
  convert_pixels(hsv, rgb, cols, rows, bpp, pixel_to_rgb);
}

}  // namespace ostrivo
