#include "engine/solver.h"

#include "engine/planes.h"
#include "engine/sparse.h"
#include "engine/wiener.h"

namespace ostrivo {

SolverKind solver_for(const RepairSettings &settings, const Geometry &geometry) {
  return geometry.extended() ? settings.solver : SolverKind::wiener;
}

std::unique_ptr<Solver> prepare_solver(const SolverSetup &setup) {
  switch (solver_for(setup.settings, setup.geometry)) {
    case SolverKind::wiener:
      return prepare_wiener(setup);
    case SolverKind::sparse:
      return prepare_sparse(setup);
  }
  return nullptr;
}

double solver_bytes(SolverKind kind, const Geometry &geometry) {
  if (kind == SolverKind::sparse) return sparse_bytes(geometry);
  // The Wiener weights: one half spectrum.
  return static_cast<double>(spectrum_cells(geometry.rows, geometry.cols)) * sizeof(fftw_complex);
}

}  // namespace ostrivo
