// Brightness repair: stretch the value channel of a restored region so that
// its range matches the unrestored region's.
#ifndef OSTRIVO_COLOUR_BRIGHTNESS_H
#define OSTRIVO_COLOUR_BRIGHTNESS_H

#include <glib.h>

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

}  // namespace ostrivo

#endif
