#include "engine/complex.h"

#include "engine/planes.h"

namespace ostrivo {

void rysuj_h(const void * /*unused*/, const double *in, int rows, int cols, double **out) {
  const std::size_t n = plane_cells(rows, cols);
  double *dst = *out;
  for (std::size_t k = 0; k < n; ++k) dst[k] = round_to_guchar(in[k]);
}

}  // namespace ostrivo
