// Restoration of one rectangular region of pixels: the engine's own entry,
// under the repair job (which trims areas, converts 16-bit samples and
// checks memory) and the GIMP 2.10 plug-in's routines.
//
// The region's samples are bytes or floats (SampleFormat::u8, f32), packed.
// Every entry passes a region of fewer than 2 rows or columns through (dst
// becomes a copy of src, Outcome::unchanged) and refuses one it cannot
// repair (its channels, its memory) with dst a copy of src. Nothing is
// thrown out of here: a failed allocation anywhere inside is a refusal.
#ifndef OSTRIVO_ENGINE_REGION_H
#define OSTRIVO_ENGINE_REGION_H

#include <functional>

#include "engine/motion_builder.h"
#include "ostrivo/repair.h"
#include "ostrivo/settings.h"

namespace ostrivo {

using ProgressFn = std::function<void(double fraction)>;

// Restores the region. Progress goes from 0 to 1 over its planes: plane c
// of n starts at c / n and ends at (c + 1) / n; with the classic frame the
// frame's composition reports (c + 1/2) / n, and an iterative solver
// reports its steps in between.
JobResult repair_region(const PixelRegion &region, const RepairSettings &settings, int threads,
                        const ProgressFn &progress);

// Restores a window of a region of region_rows x region_cols pixels as the
// region's repair would there (see plan_window), without progress. A
// window that is the whole region is repaired as the region.
JobResult repair_window(const PixelRegion &window, const WindowPlacement &placement,
                        int region_rows, int region_cols, const RepairSettings &settings,
                        int threads);

// Blurs every channel with the motion; no brightness stage.
JobResult blur_region(const PixelRegion &region, const RepairSettings &settings, int threads);

// Bytes a region's repair holds at its peak beyond its source and
// destination.
double region_working_bytes(const MotionPlan &plan, int channels, SampleFormat format,
                            const RepairSettings &settings);

}  // namespace ostrivo

#endif
