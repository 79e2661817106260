// What the GIMP 2.10 plug-in keeps of its own over the engine: its settings
// record, its progress counter and its region entry. Only that plug-in and
// its tests use these.
//
// `bvals` is the one process-wide settings record: the dialog writes it,
// the plug-in stores and loads it as its raw 40 bytes (so its layout is
// fixed), and imageRestoration reads it. `update` counts the progress
// ticks of a final run.
#ifndef OSTRIVO_COMPAT_GIMP2_H
#define OSTRIVO_COMPAT_GIMP2_H

#include <glib.h>

#include <cstddef>

#include "ostrivo/repair.h"
#include "ostrivo/settings.h"

namespace ostrivo {

struct BlurVals {
  double length;          // length of the motion that blurred the image, pixels
  double direction;       // direction of the motion, degrees, clockwise on screen
  double k;               // Wiener constant K (noise-to-signal ratio)
  double frame_width;     // border frame width, percent of the region's columns
  int repair_brightness;  // map the restored value range onto the source's: 1 on, 0 off
  int preview;            // 0 in a final run; non-zero while a preview renders
};

static_assert(sizeof(BlurVals) == 40, "the stored record is 40 raw bytes");
static_assert(offsetof(BlurVals, length) == 0, "field order of the stored record");
static_assert(offsetof(BlurVals, direction) == 8, "field order of the stored record");
static_assert(offsetof(BlurVals, k) == 16, "field order of the stored record");
static_assert(offsetof(BlurVals, frame_width) == 24, "field order of the stored record");
static_assert(offsetof(BlurVals, repair_brightness) == 32, "field order of the stored record");
static_assert(offsetof(BlurVals, preview) == 36, "field order of the stored record");

inline constexpr BlurVals kDefaultBlurVals{kLengthRange.fallback,
                                           kDirectionRange.fallback,
                                           kKRange.fallback,
                                           kFrameWidthRange.fallback,
                                           0,
                                           1};

extern BlurVals bvals;

// Brings every field of `vals` into the dialog's ranges, so that any record
// (for instance 40 bytes stored by a script) is safe to run with.
// Returns true when nothing had to change.
bool sanitize_blurvals(BlurVals *vals);

// The repair a record asks for: the classic line and the Wiener solver.
RepairSettings repair_settings(const BlurVals &vals);

// --- progress ----------------------------------------------------------------
// A tick adds 1 to `steps_done` and reports steps_done / steps_total
// through the reporter the plug-in installed (the editor's progress bar;
// tests install a recorder). With no reporter a tick only counts.

struct Progress {
  double steps_done;   // ticks made so far
  double steps_total;  // ticks expected in the whole run
};

inline constexpr Progress kInitialProgress{0.0, 10.0};

extern Progress update;

using ProgressReporter = void (*)(double fraction);

// Installs the reporting function; nullptr removes it.
void progress_set_reporter(ProgressReporter reporter);

// Starts counting a run that will make `total_ticks` ticks.
void progress_start(double total_ticks);

// One tick: count it and report the new fraction.
void progress_tick();

// Ticks a final run makes on a region with `bpp` channels: one before the
// region is read, three per channel but the last, two for the last, and one
// after the result is written.
inline constexpr int final_run_ticks(int bpp) { return 3 * bpp + 1; }

// --- the region entry --------------------------------------------------------

// Restores the rows x cols region in the pixel buffer `src` (bpp bytes per
// pixel, 3 or 4) into the buffer of the same shape that `*dst` designates,
// with the classic line and the settings of bvals. While bvals.preview is 0
// it makes 3 * bpp - 1 progress ticks: one as each channel starts, and
// after each channel's first step (its frame, or its restoration when there
// is no frame) one more and, but for the last channel, another. A region
// with fewer than 2 rows or columns is copied. Returns false when the region
// is refused, for fewer than 3 or more than 4 bytes per pixel or because
// its working memory cannot be had; `*dst` then also holds a copy of `src`
// (or nothing, when the region's size does not even fit in memory
// addresses).
bool imageRestoration(const guchar *src, guchar **dst, int rows, int cols, int bpp);

// The opposite: blurs the region with the classic line of bvals, each
// channel the circular convolution with the line, rounded exactly (halves
// down). No ticks.
bool imageMotionBlur(const guchar *src, guchar **dst, int rows, int cols, int bpp);

}  // namespace ostrivo

#endif
