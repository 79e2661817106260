// The sparse solver: deconvolution with a sparse prior on the photo's
// gradients, its edges treated as unknowns.
//
// What it minimises, for a plane y observed on the region R of a larger
// periodic plane (the transform's, larger than the region by at least the
// point-spread function's reach on every side), over the whole plane x:
//
//   1/2 || M (h * x) - y ||^2 + lambda/2 sum_p (|Dh x (p)| + |Dv x (p)|)
//
// h the point-spread function, M keeps the pixels of R (what lies beyond
// the photo's edges was blurred into it, but is not in the file, so it is
// left free), Dh and Dv the periodic forward differences along a row and
// down a column: total variation, whose sparse gradients keep edges sharp
// where a Wiener filter rings. It is solved by the alternating direction
// method of multipliers with two splittings, u = h * x and v = D x, after
// Almeida and Figueiredo ("Deconvolving images with unknown boundaries using
// the alternating direction method of multipliers", 2013), so that every
// step is either per pixel or a division in the Fourier domain:
//
//   u: on R a blend of the photo and h * x, beyond R h * x itself;
//   v: the gradients of x, soft-thresholded by lambda / (2 rho_v);
//   x: X = (conj(H) F(u - du) + g F(D^T (v - dv))) / (|H|^2 + g |D|^2),
//      g = rho_v / rho_u,
//
// with scaled duals du and dv, rho_u fixed and rho_v rising geometrically
// (a continuation: the prior's splitting is loose at first, firm at the
// end). x starts as the Wiener restoration (K = 0.01) of the plane extended
// by mirror images, which the region's geometry already gives.
//
// Where the noise is uneven (linear light: light.h), the data term weighs
// each pixel of R by the inverse of its noise's variance relative to sigma,
// 1/2 sum_p w(p) (M (h * x) - y)(p)^2, which changes only the u step's
// blend.
//
// lambda follows the photo's noise sigma (levels of 255, noise.h):
// 0.08 strength max(sigma, 2.5)^2; the floor stands in for the fine noise
// that JPEG compression hides from the measure. Colour is restored as
// brightness and two colour differences (an orthonormal opponent basis, in
// which noise stays white with the same sigma): detail planes get 1.5 times
// lambda and 4 steps against the main plane's 20. The constants were set
// on a numerical prototype over photos blurred by recorded and simulated
// hand shake (see the README's quality figures).
//
// Cost: 4 transforms a step and 3 to start, so 83 for the main plane and 19
// for a detail plane; working memory: two half spectra and five planes of
// the transform's size.
#ifndef OSTRIVO_ENGINE_SPARSE_H
#define OSTRIVO_ENGINE_SPARSE_H

#include <memory>

#include "engine/solver.h"

namespace ostrivo {

// The weight lambda of the prior on the main plane, on the 0..255 scale,
// for a photo of noise `sigma` and a user's `strength`.
double sparse_lambda(double sigma, double strength);

// Prepares the solver from the taps; nullptr when its memory cannot be had.
std::unique_ptr<Solver> prepare_sparse(const SolverSetup &setup);

// Bytes the sparse solver holds for a plane of this geometry.
double sparse_bytes(const Geometry &geometry);

}  // namespace ostrivo

#endif
