// Brightness repair: stretch the value channel of a restored region so that
// its range matches the unrestored region's.
#ifndef OSTRIVO_COLOUR_BRIGHTNESS_H
#define OSTRIVO_COLOUR_BRIGHTNESS_H

#include <glib.h>

#include <cstddef>

namespace ostrivo {

// Writes into the HSV buffer that `*repaired` designates: hue and saturation
// bytes copied from `restored`, and each value byte V mapped linearly from
// the restored range [minR, maxR] onto the source range [minS, maxS],
// minS + (maxS - minS) * (V - minR) / (maxR - minR) in exact integer
// arithmetic with the fraction dropped, so the ends land exactly on the
// ends. A flat restored value channel (minR = maxR) maps every value byte to
// minS. Bytes 3 and beyond are not written. Row length (cols) first.
void HSV_Restoration_V(const guchar *restored, const guchar *source, guchar **repaired, int cols,
                       int rows, int bpp);

// The same repair on grey pixels, whose value is their grey level: byte 0
// of each `stride`-byte pixel of `restored` is mapped in place from the
// restored range onto `source`'s. An RGB picture whose three channels are
// that grey gets exactly these levels from the HSV route, since grey
// survives the HSV round trip unchanged.
void repair_grey_range(const guchar *source, guchar *restored, std::size_t pixels, int stride);

// The same repair in floating point, in place on `restored`: a pixel's
// value V is the largest of its `colours` first samples (1 grey, 3 RGB);
// V' = minS + (maxS - minS) * (V - minR) / (maxR - minR) (minS for a flat
// restored range), and the colour samples are scaled by V' / V, which keeps
// hue and saturation (a black pixel becomes the grey V'). Samples beyond the
// colours (alpha) are not touched.
void repair_value_range(const float *source, float *restored, std::size_t pixels, int stride,
                        int colours);

}  // namespace ostrivo

#endif
