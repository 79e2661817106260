// The border frame: a blurred copy of the channel replaces its edges before
// deconvolution, so that the periodic transforms see edges that the motion
// would have produced.
#ifndef OSTRIVO_ENGINE_FRAME_H
#define OSTRIVO_ENGINE_FRAME_H

#include <fftw3.h>

namespace ostrivo {

// Blurs the rows x cols channel plane `in` by circular convolution with the
// point-spread function whose spectrum is `H`, rounds with round_to_guchar
// and writes into the plane that `*out` designates (which must differ from
// `in`). `in` is unchanged. Returns false, `*out` unset, when its scratch
// spectrum cannot be allocated or a plan cannot be made.
bool blurFrameOfCanal(const double *in, const fftw_complex *H, int rows, int cols, double **out);

// blurFrameOfCanal with the caller's scratch half spectrum; `out` may be
// `in`. False only when a plan cannot be made.
bool blurFrameOfCanal(const double *in, const fftw_complex *H, int rows, int cols, double *out,
                      fftw_complex *scratch);

// Composes the interior of `unblurred` with the border of `blurred`: cell
// (i, j) is interior when i >= f, i < rows - f, j >= f and j < cols - f,
// comparing the integers with the frame width f in pixels as numbers. A
// fractional f gives ceil(f) rows or columns of frame at the top and left
// and floor(f) at the bottom and right; a NaN f makes every cell border.
// `*out` may be either input: each cell depends only on its own index.
void sumBlurFrameWithOryginalImage(const double *unblurred, const double *blurred, int rows,
                                   int cols, double f, double **out);

}  // namespace ostrivo

#endif
