// Solvers: what restores one plane once the motion's point-spread function
// is known.
//
// A solver is prepared once per region from the point-spread taps on the
// region's transform, and then restores each plane of the region in turn:
// it pulls the observed plane's rows through `fill` and hands the restored
// rows to `drain`. The Wiener solver streams (each row chunk is filled just
// before its transform and drained just after the inverse one, so the
// plane never exists in full); an iterative solver keeps whole planes and
// transforms them back and forth on the same transform. New solvers go
// here: one more SolverKind, one more prepare function in solver.cpp.
#ifndef OSTRIVO_ENGINE_SOLVER_H
#define OSTRIVO_ENGINE_SOLVER_H

#include <functional>
#include <memory>
#include <vector>

#include "engine/padding.h"
#include "engine/psf.h"
#include "engine/transform.h"
#include "ostrivo/settings.h"

namespace ostrivo {

struct PlaneIO {
  // Writes rows r0 .. r0 + n - 1 of the observed plane (the transform's
  // size, the region extended as the geometry says) into `rows`, n x cols
  // doubles on the 0..255 scale of the samples' format.
  std::function<void(int r0, int n, double *rows)> fill;
  // Receives rows r0 .. r0 + n - 1 of the restored plane; each value is to
  // be divided by `divisor`. It may overwrite `rows`.
  std::function<void(int r0, int n, double *rows, double divisor)> drain;
};

using PlaneProgress = std::function<void(double fraction)>;

// What a plane holds: the photo's brightness (or its grey), or a detail
// plane (a colour difference, alpha), which a solver with a prior may hold
// more firmly and spend less work on.
enum class PlaneRole { main, detail };

class Solver {
 public:
  virtual ~Solver() = default;
  // Restores one plane, reporting the fraction of its work done through
  // `progress` on the calling thread. False when working memory cannot be
  // had.
  virtual bool solve(const PlaneIO &io, PlaneRole role, const PlaneProgress &progress) = 0;
  // The work of one plane of this role, relative to the others.
  virtual double cost(PlaneRole /*role*/) const { return 1.0; }
};

struct SolverSetup {
  RegionTransform &transform;       // planned for the geometry's plane
  const Geometry &geometry;         // where the region lies in that plane
  const std::vector<PsfTap> &taps;  // the point-spread function
  const RepairSettings &settings;
  double noise;  // the photo's noise, levels of 255
  double scale;  // plane units a level of 255 is (1 for bytes, 1 / 255 for floats)
  // How firmly each pixel of the region (region_rows x region_cols) holds
  // the data, against the noise `noise` sets: a pixel whose noise is sigma
  // times `noise` weighs 1 / sigma^2. None: 1 everywhere.
  const float *data_weight = nullptr;
};

// The solver the settings ask for, prepared; nullptr when its memory
// cannot be had. A plane that is the region itself (the classic model's)
// leaves an iterative solver no room for the region's unknown edges, so it
// always gets the Wiener solver.
std::unique_ptr<Solver> prepare_solver(const SolverSetup &setup);

// The solver a region actually gets (see prepare_solver).
SolverKind solver_for(const RepairSettings &settings, const Geometry &geometry);

// Bytes a solver holds while it works, beyond the transform's own.
double solver_bytes(SolverKind kind, const Geometry &geometry);

}  // namespace ostrivo

#endif
