// From a motion to everything a repair needs to know of it: the one place
// that tells the motion models apart. Each model has one builder function
// (motion_builder.cpp); a new model is one more alternative of `Motion`
// and one more builder.
#ifndef OSTRIVO_ENGINE_MOTION_BUILDER_H
#define OSTRIVO_ENGINE_MOTION_BUILDER_H

#include <vector>

#include "engine/frame.h"
#include "engine/padding.h"
#include "engine/psf.h"
#include "ostrivo/repair.h"
#include "ostrivo/settings.h"

namespace ostrivo {

// Where a window lies in its region, for a preview: its top row, left
// column and size.
struct WindowPlacement {
  int top = 0;
  int left = 0;
  int rows = 0;
  int cols = 0;
};

// What one motion implies for one rectangle of rows x cols pixels.
struct MotionPlan {
  // Why the motion cannot be built for this rectangle (a kernel without a
  // positive weight, or too large), or Refusal::none.
  Refusal refusal = Refusal::none;
  // The part of an area of this size that a repair changes, from its
  // top-left corner; the rest of the area keeps its pixels.
  int part_rows = 0;
  int part_cols = 0;
  // How far around a window a preview must repair to show there what the
  // repair of the whole region gives.
  int preview_margin = 0;

  std::vector<PsfTap> taps;  // the point-spread function
  Geometry geometry;         // the plane the transforms work on
  FrameSpec frame;           // the classic model's border frame
  // Whether a blurred copy is a whole sum over equal weights, whose exact
  // halves are recognised when it is rounded to bytes.
  bool exact_halves = false;
};

// The plan for a region of rows x cols pixels, its plane extended as the
// solver wants (a blur takes the Wiener solver's extension).
MotionPlan plan_motion(const Motion &motion, int rows, int cols,
                       SolverKind solver = SolverKind::wiener);

// The plan for a window of a region of region_rows x region_cols pixels:
// its plane continues beyond the window in mirror images of it, and the
// classic model's frame is the region's, seen through the window.
MotionPlan plan_window(const Motion &motion, int region_rows, int region_cols,
                       const WindowPlacement &window, SolverKind solver = SolverKind::wiener);

// A straight motion of `length` pixels in `direction` degrees in the terms
// of `like`'s model, its other settings kept: the classic line takes a whole
// length (its number of samples, 1 to 100); a kernel becomes the smooth
// line.
Motion line_motion(const Motion &like, double length, double direction);

}  // namespace ostrivo

#endif
