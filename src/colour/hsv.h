// Conversion between RGB pixel buffers and an 8-bit HSV encoding of the same
// shape. Byte 0 of a pixel is the hue H = trunc(hue * 255 / 359) for a hue
// of 0..359 degrees (red 0, green 120, blue 240), byte 1 the saturation
// S = floor(s * 255), byte 2 the value V = floor(v * 255), which is always
// the largest component byte. Every step to a byte drops the fraction, so
// the round trip is exact for grey levels and lossy for colours. Bytes 3 and
// beyond of a pixel (alpha) are neither read nor written.
//
// Unlike the engine routines, these take the row length (cols) first.
#ifndef OSTRIVO_COLOUR_HSV_H
#define OSTRIVO_COLOUR_HSV_H

#include <glib.h>

namespace ostrivo {

void rgb_to_hsv(const guchar *rgb, guchar *hsv, int cols, int rows, int bpp);
void hsv_to_rgb(const guchar *hsv, guchar *rgb, int cols, int rows, int bpp);

}  // namespace ostrivo

#endif
