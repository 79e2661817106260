// Finding a motion kernel of any shape in a blurred photo (blind
// deconvolution), and reading its shape.
//
// The model: the photo y is a sharp photo x convolved with one kernel k (the
// same everywhere) plus noise. Neither is known; k is found first, and the
// photo is then restored with it by the engine's solvers.
//
// Method, the family of "edge prediction and gradient least squares" blind
// estimators (S. Cho and S. Lee, "Fast motion deblurring", SIGGRAPH Asia
// 2009; L. Xu and J. Jia, "Two-phase kernel estimation for robust motion
// deblurring", ECCV 2010; L. Xu, S. Zheng and J. Jia, "Unnatural L0 sparse
// representation for natural image deblurring", CVPR 2013; J. Pan, Z. Hu,
// Z. Su and M.-H. Yang, "Deblurring text images via L0-regularized intensity
// and gradient prior", CVPR 2014), as this file does it:
//   1. Coarse to fine. The photo (luminance, 0..1) is reduced by sqrt(2) per
//      level until the largest kernel sought is about 5 pixels across; the
//      kernel found at one level, enlarged by sqrt(2), starts the next. A
//      long shake is a short one at a coarse level, where it is easy to find
//      and the reduction has averaged most of the noise away. Each level's
//      window is only as large as the kernel from the level below leaves
//      room for (twice its reach): a window far larger than the shake lets
//      noise and stray edges spread into it.
//   2. At each level, a few rounds of two steps:
//      a. The sharp photo predicted with an L0 prior on its gradients:
//         min |k * x - y|^2 + lambda |grad x|_0, by half-quadratic splitting
//         (the gradients g kept only where |g|^2 > lambda / beta, then x in
//         the Fourier domain; beta doubling). It keeps only strong, clean
//         edges: exactly what tells the kernel's shape, and not the fine
//         texture and noise that mislead it. lambda falls a little each
//         round, so that finer edges join once the kernel is roughly right.
//      b. The kernel by least squares on gradients,
//         min sum_w (|dx x * k - dx y|^2 + |dy x * k - dy y|^2) + gamma |k|^2,
//         solved by conjugate gradients on the kernel's own small grid. The
//         weights w leave out what the model does not explain: the band
//         within the kernel's reach of the area's edges (what lies beyond
//         was blurred in but is not seen) and the surroundings of clipped
//         highlights (their true brightness is lost). Then what a motion
//         kernel cannot hold is removed: negative weights, weights under 5 %
//         of the peak and small islands apart from the path; the rest is
//         made to sum to 1.
//   3. At the finest level, after its first round, the kernel step also
//      keeps a kernel reaching 8 cells or more from its middle to its
//      support (after Xu and Jia's iterative support detection): weights
//      under a fifth of the peak are pulled towards 0 by an L1 term
//      (reweighted least squares, each weighed by the inverse of its value
//      in the round before), those above are left to the data. It clears
//      the faint haze that noise and texture spread around the path, which
//      the plain Tikhonov term leaves.
//   4. At the end of each level the kernel is moved so that its centre of
//      mass sits on its middle cell: the estimate is only defined up to a
//      shift, and a drifting kernel would leave the window.
//   5. A kernel chosen for a repair may be taken a few rounds further at
//      the finest level (refined_kernel), the edge weight still falling.
// The area used is a crop of the photo at full resolution, chosen for
// strong edges in every direction and few clipped pixels (the kernel is
// taken to be the same everywhere).
#ifndef OSTRIVO_ESTIMATE_BLIND_KERNEL_H
#define OSTRIVO_ESTIMATE_BLIND_KERNEL_H

#include <vector>

namespace ostrivo {

// A grey image on the 0..1 scale, row-major.
struct GreyImage {
  int rows = 0;
  int cols = 0;
  std::vector<double> values;
  double &at(int i, int j) { return values[static_cast<std::size_t>(i) * cols + j]; }
  double at(int i, int j) const { return values[static_cast<std::size_t>(i) * cols + j]; }
};

// A square kernel, size x size weights summing to 1, whose middle cell is
// the origin (the engine's kernel image convention); empty when none.
struct KernelGrid {
  int size = 0;
  std::vector<double> weights;
};

// A window on an image, in its pixels.
struct Window {
  int row = 0;
  int col = 0;
  int rows = 0;
  int cols = 0;
};

// Where in `photo` to seek the kernel: a window of at most `side` x `side`
// pixels where edges run in every direction and few pixels are clipped,
// and (with `avoid`) that shares at most a quarter of its area with
// `avoid`; an empty window when there is none.
Window estimation_window(const GreyImage &photo, int side, const Window *avoid = nullptr);

// The weight of the L0 prior on the predicted edges' gradients when a
// search starts (0..1 scale), as the searches below use by default: only
// the strongest edges survive it. Where the search goes depends on it, and
// no one value suits every photo.
constexpr double kEdgeWeight = 8e-3;

// Finds the kernel, at most `max_size` pixels across (odd), that blurred
// `image`: a max_size x max_size grid. Runs on the calling thread. An empty
// kernel: memory or a transform plan could not be had.
KernelGrid find_kernel(const GreyImage &image, int max_size, double edge_weight = kEdgeWeight);

// The kernel `found` by find_kernel(image, max_size, edge_weight), taken
// `rounds` rounds further at the finest level, the edge weight still
// falling as it did: finer edges join the prediction, and the faint, fast
// parts of the path come out more fully; in a noisy photo, its noise joins
// too, and the kernel comes out worse. The rounds' work is shared by
// `threads` threads (engine_threads); the kernel does not depend on them.
// Empty where memory or a plan could not be had, or `found` is no search's
// kernel of that size.
KernelGrid refined_kernel(const GreyImage &image, const KernelGrid &found, int max_size,
                          double edge_weight, int rounds, int threads);

// Several searches at once, each as find_kernel, spread over `threads`
// threads (engine_threads); each search's result does not depend on them.
// Empty when any search could not have its memory or plans.
struct KernelSearch {
  const GreyImage *image = nullptr;
  int max_size = 0;
  double edge_weight = kEdgeWeight;
};
std::vector<KernelGrid> find_kernels(const std::vector<KernelSearch> &searches, int threads);

// What a kernel's shape says.
struct KernelShape {
  int width = 0;  // extent of the weights above 5 % of the peak, pixels
  int height = 0;
  double length = 0.0;      // the straight line that fits it best: its length
                            // (from the weights' spread along it),
  double direction = 0.0;   // degrees in [0, 180) clockwise from "to the right"
  double straightness = 0;  // share of its core (weights of 20 % of the peak
                            // and more) within a pixel of that line
  double thickness = 0.0;   // cells above 5 % of the peak per pixel of extent
  double peak = 0.0;        // the share of the weight in the heaviest cell
  double unevenness = 1.0;  // how unevenly the weight lies along that line:
                            // the peak of its profile along the line (a pixel
                            // a bin, smoothed over three) over the mean, on
                            // the middle 80 % of the weight. 1 for a motion
                            // at constant speed; a camera that slows down
                            // at one end leaves a heavy end.
  double separable = 1.0;   // how much of it one profile along that line
                            // times one across it holds (the largest
                            // singular value squared over the sum of the
                            // squares, on a grid along and across the line):
                            // 1 for a straight path, even beside parallel
                            // copies of itself; less where the path bends.
};
KernelShape kernel_shape(const KernelGrid &kernel);

// How alike two kernels are: the largest normalised correlation of their
// weights over the shifts of one against the other within `reach` cells of
// their middle cells (1: the same shape).
double kernel_agreement(const KernelGrid &a, const KernelGrid &b, int reach);

// The kernel cut to the smallest odd square around its middle cell that
// holds every weight.
KernelGrid trimmed_kernel(const KernelGrid &kernel);

// What a kernel found (trimmed) says of a straight line of `length` pixels
// along `degrees` that the photo's spectrum shows, with the straight
// estimate's line_evidence `evidence` (shake_estimate.cpp): whether the two
// readings confirm each other (about as long, about the same direction), and
// if so whether the kernel is that line, so that the line repairs it.
struct LineReading {
  bool confirmed = false;
  bool straight = false;
};
LineReading line_reading(const KernelGrid &trimmed, double length, double degrees,
                         double evidence);

// How sparse the gradients of `crop` restored with `kernel` are (as a repair
// restores it, by the sparse solver): their magnitudes' L1 norm over their
// L2 norm, divided by the root of their count, over the cells the kernel's
// whole reach covers; 0 to 1, less is sparser (shake_estimate.cpp). A
// blurred photo's gradients are spread thin and a wrong kernel rings, both
// of which raise it; the right kernel's edges are few and sharp (after D.
// Krishnan, T. Tay and R. Fergus, "Blind deconvolution using a normalized
// sparsity measure", CVPR 2011). Negative: the crop could not be restored.
double restored_sparsity(const GreyImage &crop, const KernelGrid &kernel);

}  // namespace ostrivo

#endif
