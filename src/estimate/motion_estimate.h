// Finding the motion in a blurred photo: blind estimation of the length and
// direction of a straight motion, and of a Wiener constant K to repair it.
//
// What is estimated, in which convention:
//   direction  degrees in [0, 180), clockwise on screen from "to the right"
//              (90 = straight down), the settings' own convention; a motion
//              along 30 degrees is the same as one along 210.
//   length     pixels, the extent of the motion, fractional (the smooth
//              model's length); the classic line takes it rounded, as its
//              number of samples. 1 means no motion was found.
//   k          a Wiener constant for the repair, from the noise and the
//              signal power of the photo and the length of the motion.
//   confidence 0 to 1: how clearly the photo shows the motion (or, for a
//              photo without one, how clearly it shows none).
//
// How. A uniform straight motion of length L multiplies the spectrum by a
// sinc along the motion's direction: |H(f)| = |sinc(pi L f.u)|. In the log
// power spectrum that draws parallel dark lines across the direction of the
// motion, N / L bins apart on an N-point transform, and damps everything
// along it.
//   1. Luminance only (0.299 R + 0.587 G + 0.114 B), samples on the 0..255
//      scale whatever their format.
//   2. The photo is not reduced but sampled: up to 5 x 5 overlapping tiles of
//      N x N pixels (N = 512, or the largest power of two the photo holds,
//      at least 64) spread over it, each with its mean removed and a Hann
//      window (so that the tile's borders draw no cross into the spectrum);
//      their power spectra are averaged (Welch's method). Big photos cost no
//      more than 25 tiles, and the motion is taken as the same everywhere.
//   3. The log of the averaged power spectrum, whitened by subtracting its
//      mean over each ring of equal frequency, which removes the fall-off
//      that every photo has and leaves what depends on direction. Left out:
//      the rows and columns of the 8 x 8 block grid a JPEG leaves (they
//      would pull the direction to 0 or 90 degrees), and, in a photo whose
//      detail stops well inside the spectrum (an enlarged one), the rings
//      beyond that, where only noise and compression remain.
//   4. Direction: a Radon-style projection of the whitened spectrum onto each
//      direction (1 degree apart, then 0.1 degree around the best): projected
//      onto the motion's own direction the dark lines all fall on the same
//      points and the profile varies most; the direction of largest variance
//      wins.
//   5. Length: the profile along that direction holds log sinc^2(pi L t / N)
//      (its zeros filled by the noise) over the photo's own trend. Both
//      without their quadratic trend, the measured profile is correlated
//      with the model's for every L from 2 to 100 pixels in steps of 0.05
//      (from the length whose zeros the detail shows one and a half of);
//      the best wins. This is the spacing of the spectrum's zero lines, with
//      their shape, rather than the cepstrum's peak, which the photo's trend
//      drowns for most lengths.
//   6. Noise: the median absolute deviation of the finest diagonal detail
//      (Haar HH) of the tiles, sigma = MAD / 0.6745; the blur leaves little
//      else there. K = 0.074 ((sigma^2 + 1) / spread^2)^(1/4), spread the
//      luminance's standard deviation, a fit of the best K of photos
//      blurred by 5 to 40 pixels with noise of 1 to 2 levels.
//   7. Confidence: how well the profile follows the model (its correlation)
//      plus twice how sharply that picks one length (its lead over lengths
//      20 % away that are not multiples or fractions of it). A photo whose
//      evidence stays under a mark set between the benchmark's blurred and
//      sharp photos is reported as no motion (length 1).
// A region smaller than 64 x 64 pixels, or with no contrast at all, is not
// estimated: the result says why instead of guessing.
#ifndef OSTRIVO_ESTIMATE_MOTION_ESTIMATE_H
#define OSTRIVO_ESTIMATE_MOTION_ESTIMATE_H

#include "ostrivo/estimate.h"

#endif
