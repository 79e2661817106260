// The progress counter of a final run.
//
// A tick adds 1 to `steps_done` and reports steps_done / steps_total through
// the reporter the front end installed (the plug-in installs the editor's
// progress bar, tests a recorder). With no reporter a tick only counts.
#ifndef OSTRIVO_ENGINE_PROGRESS_H
#define OSTRIVO_ENGINE_PROGRESS_H

namespace ostrivo {

struct Progress {
  double steps_done;   // ticks made so far
  double steps_total;  // ticks expected in the whole run
};

inline constexpr Progress kInitialProgress{0.0, 10.0};

extern Progress update;

using ProgressReporter = void (*)(double fraction);

// Installs the reporting function; nullptr removes it.
void progress_set_reporter(ProgressReporter reporter);

// Starts counting a run that will make `total_ticks` ticks, so that the last
// tick reports exactly 1.0.
void progress_start(double total_ticks);

// One tick: count it and report the new fraction.
void progress_tick();

// Ticks a final run makes on a region with `bpp` channels: one before the
// region is read, three per channel but the last, two for the last, and one
// after the result is written.
inline constexpr int final_run_ticks(int bpp) { return 3 * bpp + 1; }

}  // namespace ostrivo

#endif
