#include "engine/motion_builder.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <variant>

namespace ostrivo {

namespace {

// The margin around what a preview shows: four motion lengths and 32
// pixels for the lines, the kernel's reach and 32 pixels for a kernel (whose
// solver treats the window's edges as unknowns).
constexpr double kPreviewMarginLengths = 4.0;
constexpr int kPreviewMarginPixels = 32;

// Where a plan is for: a region of rows x cols, or a window of one.
struct Placement {
  int rows;
  int cols;
  const WindowPlacement *window;  // nullptr: the whole region
  SolverKind solver;              // whose extension the plane gets
};

int line_margin(double length) {
  const double l = std::isfinite(length) ? std::clamp(length, 1.0, 100.0) : 1.0;
  return static_cast<int>(std::ceil(kPreviewMarginLengths * l)) + kPreviewMarginPixels;
}

// A plane of its own: the region (or the window) extended by mirror images.
void extend(MotionPlan *plan, const Placement &at) {
  const int rows = at.window != nullptr ? at.window->rows : at.rows;
  const int cols = at.window != nullptr ? at.window->cols : at.cols;
  plan->geometry = extended_geometry(at.solver, rows, cols, psf_reach(plan->taps));
}

// --- one builder a model -------------------------------------------------------

MotionPlan build(const ClassicLine &line, const Placement &at) {
  MotionPlan plan;
  // As the GIMP 2.10 plug-in trims a selection: to even width and height.
  plan.part_rows = at.rows - at.rows % 2;
  plan.part_cols = at.cols - at.cols % 2;
  plan.preview_margin = line_margin(line.length);
  plan.exact_halves = true;
  plan.taps = motion_line_taps(at.rows, at.cols, line.length, line.direction);
  const double frame_px = (line.frame_width / 100.0) * at.cols;
  // NaN takes the frame path too.
  plan.frame = {frame_px != 0.0, frame_interior(at.rows, at.cols, frame_px), FrameEdges::wrap};
  if (at.window == nullptr) {
    plan.geometry = region_geometry(at.rows, at.cols);
    return plan;
  }
  // The region's line with its cells as offsets from the origin (those on
  // the far side of the periodic plane lie before it), and the region's
  // frame as the window sees it, continued in mirror images.
  for (PsfTap &tap : plan.taps) {
    if (tap.row > at.rows / 2) tap.row -= at.rows;
    if (tap.col > at.cols / 2) tap.col -= at.cols;
  }
  const WindowPlacement &w = *at.window;
  const auto clip = [](int v, int n) { return std::clamp(v, 0, n); };
  const FrameInterior &in = plan.frame.interior;
  plan.frame.interior = {clip(in.top - w.top, w.rows), clip(in.bottom - w.top, w.rows),
                         clip(in.left - w.left, w.cols), clip(in.right - w.left, w.cols)};
  plan.frame.edges = FrameEdges::mirror;
  extend(&plan, at);
  return plan;
}

MotionPlan build(const SmoothLine &line, const Placement &at) {
  MotionPlan plan;
  plan.part_rows = at.rows;
  plan.part_cols = at.cols;
  plan.preview_margin = line_margin(line.length);
  plan.taps = smooth_motion_taps(line.length, line.direction);
  extend(&plan, at);
  return plan;
}

MotionPlan build(const SampledKernel &kernel, const Placement &at) {
  MotionPlan plan;
  plan.part_rows = at.rows;
  plan.part_cols = at.cols;
  plan.refusal = check_kernel(kernel);
  // Its blur must leave most of the area it is restored from.
  if (plan.refusal == Refusal::none && (2 * kernel.rows > at.rows || 2 * kernel.cols > at.cols))
    plan.refusal = Refusal::kernel_too_large_for_area;
  plan.taps = kernel_taps(kernel.rows, kernel.cols, kernel.weights);
  const PsfReach reach = psf_reach(plan.taps);
  plan.preview_margin = std::max(reach.rows, reach.cols) + kPreviewMarginPixels;
  extend(&plan, at);
  return plan;
}

Motion as_line(const ClassicLine &like, double length, double direction) {
  ClassicLine line = like;
  line.length = std::isfinite(length)
                    ? std::clamp(std::round(length), kLengthRange.lower, kLengthRange.upper)
                    : kLengthRange.fallback;
  line.direction = direction;
  return line;
}

Motion as_line(const SmoothLine & /*like*/, double length, double direction) {
  return SmoothLine{length, direction};
}

Motion as_line(const SampledKernel & /*like*/, double length, double direction) {
  return SmoothLine{length, direction};
}

MotionPlan build_for(const Motion &motion, const Placement &at) {
  return std::visit([&](const auto &model) { return build(model, at); }, motion);
}

}  // namespace

PsfReach psf_reach(const std::vector<PsfTap> &taps) {
  PsfReach reach{0, 0};
  for (const PsfTap &tap : taps) {
    reach.rows = std::max(reach.rows, std::abs(tap.row));
    reach.cols = std::max(reach.cols, std::abs(tap.col));
  }
  return reach;
}

MotionPlan plan_motion(const Motion &motion, int rows, int cols, SolverKind solver) {
  return build_for(motion, {rows, cols, nullptr, solver});
}

Motion line_motion(const Motion &like, double length, double direction) {
  return std::visit([&](const auto &model) { return as_line(model, length, direction); }, like);
}

MotionPlan plan_window(const Motion &motion, int region_rows, int region_cols,
                       const WindowPlacement &window, SolverKind solver) {
  return build_for(motion, {region_rows, region_cols, &window, solver});
}

}  // namespace ostrivo
