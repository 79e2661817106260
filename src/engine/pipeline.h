// Restoration of one rectangular region of an image.
#ifndef OSTRIVO_ENGINE_PIPELINE_H
#define OSTRIVO_ENGINE_PIPELINE_H

#include <glib.h>

#include "engine/settings.h"

namespace ostrivo {

// How the motion is modelled.
enum class MotionModel {
  // The line of whole-pixel samples starting at a corner of the periodic
  // plane, with the border frame: the GIMP 2.10 plug-in's model.
  classic,
  // A sub-pixel line centred on the origin, on a region extended by
  // mirrored borders instead of the frame.
  smooth,
};

// What a repair uses: plain data, limits in settings.h.
struct RepairSettings {
  double length = kDefaultBlurVals.length;            // pixels
  double direction = kDefaultBlurVals.direction;      // degrees, clockwise from "to the right"
  double k = kDefaultBlurVals.k;                      // Wiener constant
  double frame_width = kDefaultBlurVals.frame_width;  // percent of the columns; classic only
  bool repair_brightness = false;
  MotionModel model = MotionModel::classic;
};

// The classic settings a record holds.
RepairSettings repair_settings(const BlurVals &vals);

enum class SampleFormat {
  u8,   // bytes 0..255
  f32,  // floats, 0 to 1 (results are clamped into that range)
};

// A region's pixels: rows x cols pixels of `channels` interleaved samples
// (1 grey, 2 grey and alpha, 3 RGB, 4 RGBA), row-major, packed.
struct PixelRegion {
  int rows = 0;
  int cols = 0;
  int channels = 0;
  SampleFormat format = SampleFormat::u8;
  const void *src = nullptr;  // never written
  void *dst = nullptr;        // same shape; every sample is written
};

// Bytes a repair of a rows x cols region of `channels` samples in `format`
// needs at its peak, its source and destination buffers included; and
// whether this process can have that many (below the machine's memory and
// the process's own limits). A front end checks this before it decodes a
// file, so that an absurd size is refused before anything is allocated.
double repair_peak_bytes(int rows, int cols, int channels, SampleFormat format,
                         const RepairSettings &settings);
bool memory_allows(double bytes);

// Repairs the region: every channel, alpha included, is deconvolved on its
// own; then, with repair_brightness, the range of the result's value (the
// largest colour sample of a pixel) is mapped onto the source's. With
// `ticks`, makes 3 * channels - 1 progress ticks on the calling thread.
// Byte regions of 3 or 4 channels with the classic model give exactly the
// bytes of imageRestoration; a grey region the levels an RGB region whose
// three channels are that grey gets in each of them.
//
// A region with fewer than 2 rows or columns is passed through (dst becomes
// a copy of src). Returns false when the region is refused (no channels or
// more than 4, or its working memory cannot be had); dst then holds a copy
// of src too.
bool repair_region(const PixelRegion &region, const RepairSettings &settings, bool ticks);

// Where a window lies in its region: its top row and left column.
struct RegionWindow {
  int top = 0;
  int left = 0;
};

// A live preview shows part of a region as the repair of the whole region
// will show it there, without repairing the whole: it repairs the part with
// preview_margin() pixels of the region around it (or what of them the
// region has), and shows only the part. repair_window repairs such a window
// (`px`, at `window` within a region of region_rows x region_cols): beyond
// its edges it continues in mirror images of itself (the smooth model's
// edges, which are also the region's own where the window meets them), and
// with the classic model the cells that lie in the region's border frame
// take their blurred copy, from the region's frame width and the window's
// own pixels. A window that is the whole region is repaired as the region.
// No progress ticks; false as repair_region, with a copy of the source.
int preview_margin(const RepairSettings &settings);
bool repair_window(const PixelRegion &px, const RegionWindow &window, int region_rows,
                   int region_cols, const RepairSettings &settings);

// The opposite: blurs every channel with the settings' motion, to show what
// a motion does or to make test images with a known motion. With the classic
// model each result is the circular convolution with its line, exactly
// rounded (halves down for bytes). No ticks, no brightness stage; the same
// pass-through and refusals.
bool blur_region(const PixelRegion &region, const RepairSettings &settings);

// Restores the rows x cols region in the pixel buffer `src` (bpp bytes per
// pixel, 3 or 4) into the buffer of the same shape that `*dst` designates,
// with the classic model and the settings of bvals: the GIMP 2.10 plug-in's
// entry. While bvals.preview is 0 it makes 3 * bpp - 1 progress ticks.
// Returns false when the region is refused, for fewer than 3 or more than 4
// bytes per pixel or because its working memory cannot be had; `*dst` then
// also holds a copy of `src` (or nothing, when the region's size does not
// even fit in memory addresses).
bool imageRestoration(const guchar *src, guchar **dst, int rows, int cols, int bpp);

// blur_region on bytes with the classic model and the motion of bvals.
bool imageMotionBlur(const guchar *src, guchar **dst, int rows, int cols, int bpp);

}  // namespace ostrivo

#endif
