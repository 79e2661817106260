#include "compat/gimp2.h"

namespace ostrivo {

Progress update = kInitialProgress;

namespace {
ProgressReporter g_reporter = nullptr;
}

void progress_set_reporter(ProgressReporter reporter) { g_reporter = reporter; }

void progress_start(double total_ticks) {
  update.steps_done = 0.0;
  update.steps_total = total_ticks;
}

void progress_tick() {
  update.steps_done += 1.0;
  if (g_reporter != nullptr) g_reporter(update.steps_done / update.steps_total);
}

}  // namespace ostrivo
