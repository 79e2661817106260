// Images for the front-end tests: made, loaded, repaired by the engine
// directly, and compared.
#ifndef OSTRIVO_TESTS_IMAGE_SUPPORT_H
#define OSTRIVO_TESTS_IMAGE_SUPPORT_H

#include <string>

#include "gimp2.h"
#include "image_file.h"
#include "ostrivo/repair.h"

namespace ostrivo::testing {

// A photo-like pattern: smooth shapes with noise; with bpp 4 the alpha runs
// from 0 at the left to 255 at the right.
cli::Image make_image(int rows, int cols, int bpp, unsigned seed);

// Loads a file, failing the current test when it cannot.
cli::Image load(const std::string &path);

// `in` with the rows x cols rectangle at (x, y) replaced by the engine's
// restoration of it under `settings` (a final run's).
cli::Image engine_repair(const cli::Image &in, int x, int y, int cols, int rows, BlurVals settings);

// The repair job's result on the whole image (16-bit words too), or with
// `blur` its blur.
cli::Image job_result(const cli::Image &in, const RepairSettings &settings, bool blur = false);

// The smooth line's repair (or blur) of the whole image, with the solver
// the front ends take for it by default.
cli::Image smooth_result(const cli::Image &in, double length, double direction, bool blur = false,
                         SolverKind solver = SolverKind::sparse);

// A grey kernel image `size` pixels across of a curved shake: a hook that
// lingers at its end, as a shaken camera draws a point.
cli::Image shake_kernel_image(int size);

// The repair (or blur) of the whole image with a kernel image, by the
// sparse solver (with `linear`, in linear light).
cli::Image kernel_result(const cli::Image &in, const cli::Image &kernel, bool blur = false,
                         bool linear = false);

// "" when the images are equal, else where they differ.
std::string differences(const cli::Image &a, const cli::Image &b);

// PSNR in dB of the colour samples of `a` against `b` (same shape), on the
// 8-bit scale (16-bit samples count as fractions of a level).
double psnr(const cli::Image &a, const cli::Image &b);

// The PSNR of `a` moved by at most `reach` whole pixels against `b` (8-bit,
// same shape), at its best shift, over the part every shift covers: a kernel
// found in a photo is only known up to such a shift.
double shifted_psnr(const cli::Image &a, const cli::Image &b, int reach);

}  // namespace ostrivo::testing

#endif
