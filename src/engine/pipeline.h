// Restoration of one rectangular region of an RGB or RGBA image.
#ifndef OSTRIVO_ENGINE_PIPELINE_H
#define OSTRIVO_ENGINE_PIPELINE_H

#include <glib.h>

namespace ostrivo {

// Restores the rows x cols region in the pixel buffer `src` (bpp bytes per
// pixel, 3 or 4) into the buffer of the same shape that `*dst` designates.
// Every channel, alpha included, is deconvolved on its own against the
// motion of bvals.length and bvals.direction with K = bvals.k; with
// bvals.frame_width > 0 its border frame is first replaced by a blurred
// copy; with bvals.repair_brightness the value range of the result is then
// mapped onto the source's. While bvals.preview is 0 it makes 3 * bpp - 1
// progress ticks. `src` is never written.
//
// A region with fewer than 2 rows or columns is passed through: `*dst`
// receives a copy of `src`. Returns false when the region is refused, for
// fewer than 3 bytes per pixel or because its working memory cannot be had;
// `*dst` then also holds a copy of `src` (or nothing, when the region's size
// does not even fit in memory addresses).
bool imageRestoration(const guchar *src, guchar **dst, int rows, int cols, int bpp);

// The opposite: blurs every channel of the region with the motion of
// bvals.length and bvals.direction (circular convolution with the same
// point-spread function the restoration undoes), to show what a motion does
// or to make test images with a known motion. No progress ticks, no
// brightness stage; the same pass-through and refusals.
bool imageMotionBlur(const guchar *src, guchar **dst, int rows, int cols, int bpp);

}  // namespace ostrivo

#endif
