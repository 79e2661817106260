// The GIMP 2.10 plug-in's whole-plane routines, kept with their names and
// results over the engine's own steps. The plug-in's region entry does not
// need them (it runs the engine's region repair); its tests check the
// engine against them, and against the worked examples they come with.
#ifndef OSTRIVO_COMPAT_ROUTINES_H
#define OSTRIVO_COMPAT_ROUTINES_H

#include <fftw3.h>
#include <glib.h>

#include "engine/complex.h"
#include "engine/samples.h"

namespace ostrivo {

// --- complex arithmetic and rounding ------------------------------------------
// kwadratModulu, dzielenie and mnozenieLiczbZespolonych are the engine's
// (engine/complex.h). These complete the set; nothing calls them.

// Magnitude of a real number, sqrt(v^2).
inline double _abs(double v) { return std::sqrt(std::pow(v, 2.0)); }

// out = z * s; `out` may be `z`.
inline void mnozenie(const fftw_complex *z, double s, fftw_complex *out) {
  (*out)[0] = (*z)[0] * s;
  (*out)[1] = (*z)[1] * s;
}

// out = a / b; `out` must differ from `a` and `b`.
inline void dzielenieLiczbZespolonych(const fftw_complex *a, const fftw_complex *b,
                                      fftw_complex *out) {
  const double d = (*b)[0] * (*b)[0] + (*b)[1] * (*b)[1];
  (*out)[0] = ((*a)[0] * (*b)[0] + (*a)[1] * (*b)[1]) / d;
  (*out)[1] = ((*a)[1] * (*b)[0] - (*a)[0] * (*b)[1]) / d;
}

// out = conj(z); `out` may be `z`. +0.0 becomes -0.0.
inline void sprzezenieLiczbyZespolonej(const fftw_complex *z, fftw_complex *out) {
  (*out)[0] = (*z)[0];
  (*out)[1] = -(*z)[1];
}

// The engine's rounding of a sample (round_sample) as a byte.
inline guchar round_to_guchar(double x) { return static_cast<guchar>(round_sample(x)); }

// Rounds every sample of a rows x cols plane into the plane that `*out`
// designates, as doubles 0.0..255.0. The first argument is not read.
void rysuj_h(const void *unused, const double *in, int rows, int cols, double **out);

// --- whole planes ---------------------------------------------------------------

// Fills the rows x cols plane that `*h` designates with the classic line of
// bvals.length pixels in bvals.direction degrees (motion_line_taps): its
// cells hold 1 / (number of cells), every other cell 0.
void buildDegradationFunction_h(int rows, int cols, double **h);

// Restores the rows x cols channel plane `in` against the spectrum `H` of
// the point-spread function with K = bvals.k: X = Y * conj(H) / (|H|^2 + K),
// transformed back, divided by rows * cols and rounded with round_to_guchar
// into the plane that `*out` designates (which may be `in`). `in` and `H`
// are only read. Returns false, with `*out` unset, when memory or a plan
// cannot be had.
bool canalRestoration(const double *in, const fftw_complex *H, int rows, int cols, double **out);

// Blurs the rows x cols channel plane `in` (whole values 0..255) by circular
// convolution with the point-spread function whose spectrum is `H` and
// writes the result, rounded with round_to_guchar, into the plane that
// `*out` designates (which may be `in`). A blur by the classic line is a
// whole sum over its m cells divided by m, and its exact halves are
// recognised (round_blurred) and rounded down: the plane then holds the
// exact rounded values. Returns false, `*out` unset, when memory or a plan
// cannot be had.
bool blurFrameOfCanal(const double *in, const fftw_complex *H, int rows, int cols, double **out);

// Composes the interior of `unblurred` with the border of `blurred` (see
// frame_interior for which cells are border, for a frame f pixels wide).
// `*out` may be either input: each cell depends only on its own index.
void sumBlurFrameWithOryginalImage(const double *unblurred, const double *blurred, int rows,
                                   int cols, double f, double **out);

}  // namespace ostrivo

#endif
