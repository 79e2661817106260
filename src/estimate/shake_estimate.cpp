// Finding a shake of any shape, and choosing the model a repair uses.
//
//   1. The straight estimate (motion_estimate.h) runs first: it measures the
//      noise and K and refuses regions too small or too flat.
//   2. The kernel is sought (blind_kernel.h) in a crop of the luminance, at
//      most kCropSide pixels square (chosen on a copy of the photo reduced
//      to about a megapixel), no larger than a third of the crop; and, at
//      the same time on the other core, again in a second crop apart from
//      the first or, in a photo with no room for one, in two overlapping
//      parts of the crop. The kernels must come out alike (kernel_agreement
//      at least kAgreement for a crop apart, kPartsAgreement for the closer
//      part): an estimate gone astray follows the content or the noise of
//      its crop, the photo's shake does neither. The crop is searched from
//      two starts, and the one the others confirm better is kept.
//   3. Its shape decides:
//      - kPointPeak of the weight or more in one cell, or the weights above
//        5 % of the peak within kPointExtent pixels in both directions: a
//        point, so the photo is sharp (no motion). Sharp photos, whose own
//        softness the kernel takes in, gave 21 to 42 % in the heaviest
//        cell; shake of 9 pixels and more never gave over 9 %, but straight
//        shake of 5 to 6 pixels 15 to 19 %: a kernel heavier than
//        kPointPeak that the spectrum's line confirms (below) is a motion;
//      - a kernel that fills its window, or that the second search did not
//        confirm, is not trusted (kernel_doubtful): the estimate went
//        astray, as it can on photos with few edges, of noise or of one
//        long edge. The straight estimate answers if the unconfirmed kernel
//        runs along its line; otherwise (and always for a kernel filling
//        its window, which is no reading of the shake at all) a second
//        look: every search's kernel restores the crop, and the one whose
//        restoration has the sparsest gradients is taken if another search
//        confirms it. A long shake is often found in the whole crop and
//        missed in its smaller parts, which then cannot confirm it; the
//        crop's two starts can. Failing that, where the spectrum shows a
//        motion, the crop is searched again in a smaller window
//        (kShortWindow), where a shorter shake is not lost in the haze that
//        a large window lets in. Failing that, nothing is repaired, since a
//        repair with a wrong kernel or line leaves the photo worse than it
//        was;
//      - a kernel along the line the straight estimate found (about as long,
//        about the same direction) and alike to that line drawn as a kernel
//        (kLineMatch, or less where the kernel is diffuse or a straight
//        path beside parallel echoes of itself), its weight spread evenly
//        along it (a constant speed) -- or, where the spectrum's zero lines
//        are clear, any straight path along it, even one lengthened or
//        heaped by its echoes: a straight line, repaired by the smooth line
//        model with the straight estimate's finer reading. Two independent
//        readings must agree: a line whose length came from the kernel
//        alone, and was wrong, would ruin the photo, where a repair with
//        the kernel itself is safe;
//      - otherwise the kernel itself, its search first taken kRefineRounds
//        rounds further (refined_kernel) unless the photo is noisy: finer
//        edges then join, and the faint, fast parts of the path come out
//        more fully. Everything above is decided on the searches as they
//        stood, which its limits were set on; only the kernel the photo is
//        repaired with, and what is reported of it, is the finer one.
//   The line that fits the kernel (its principal axis, and its length from
//   the weights' spread along it) gives the length and direction, except where the straight
//   estimate found about the same line: its reading is the finer one.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <vector>

#include "colour/light.h"
#include "engine/region.h"
#include "estimate/blind_kernel.h"
#include "estimate/motion_estimate.h"

namespace ostrivo {

namespace {

constexpr int kCropSide = 512;  // pixels
// The crop's kernel is sought from two starts (blind_kernel.h's edge
// weight), and the one the other searches confirm better is kept. On the
// 32 cases the constants here were set on, the first start alone found the
// shake in 17, the second in 19, the better of the two in 21, the one kept
// in 18: the choice by agreement is right more often than not, no more.
constexpr double kStartWeights[] = {kEdgeWeight, 2.0 * kEdgeWeight};
constexpr double kChoiceCells = 1 << 20;
// The kernel chosen is taken this many rounds further at the finest level
// before the repair (blind_kernel.h's refined_kernel), where the photo's
// noise, as measured (sigma, levels of 255), is at most kRefineNoise: the
// falling edge weight lets finer edges in, and in stronger noise the noise.
// Photos with noise of sigma 2.55 read 1.7 to 1.9 (0.7 as JPEG), of 5.1
// read 3.3 to 3.5. On a drawn scene the rounds began to lose from noise of
// 4 levels; on ten tuning photos with noise of 5.1 they gained or lost
// from +0.4 to -0.8 dB (-0.04 on average), where with 2.55 they gained.
constexpr int kRefineRounds = 5;
constexpr double kRefineNoise = 2.5;
// The second crop, and how alike its kernel must be to the first's.
constexpr int kSecondSide = 384;  // pixels
// Estimates that found the shake agreed from 0.33 to 0.98; those gone
// astray, 0.26 and 0.36.
constexpr double kAgreement = 0.35;
constexpr int kAgreementReach = 8;  // cells
// Where there is no room for a second crop, the kernel is sought again in
// two parts of the crop, each kPartShare of it along its longer side, and
// the closer of the two must be this alike to the whole crop's. Parts of
// 60 % found the shake in 21 of the 32 tuning cases, halves in 18, parts of
// 80 % (too much alike to the whole) in 19 but let 2 estimates gone astray
// through.
constexpr double kPartShare = 0.6;
constexpr double kPartsAgreement = 0.75;
// Where every search leaves the photo unrepaired, the crop is searched once
// more from both starts in a window of kShortWindow cells: a window much
// larger than the shake lets noise and fine texture (fur) spread the kernel
// into a haze, and a shorter shake then comes out whole in the smaller one.
// Its kernels are taken only if they agree with each other
// (kPartsAgreement) and neither fills its window (a longer shake does not
// fit, and comes out cut short), and only where the straight estimate saw
// a motion in the spectrum: a sharp photo's own softness comes out as a
// small kernel in the smaller window too (a sharp retina's 12 x 8, that
// its parts confirmed), where the larger one's had filled the window.
constexpr int kShortWindow = 35;
// A kernel reaching within this many pixels of its window's size has filled
// the window rather than found a shake in it.
constexpr int kWindowMargin = 4;
constexpr int kPointExtent = 3;  // pixels
constexpr double kPointPeak = 0.15;
// ... unless the spectrum's line confirms it and is at least this long: the
// spectra of sharp photos that come near the mark of a motion read about
// 3 pixels.
constexpr double kShortLine = 4.0;  // pixels
// Cells above 5 % of the peak per pixel of extent: the paths found ran
// from 1.5 to 7, estimates gone astray up to 13 and more. The confidence
// falls to a half at this thickness. (A thick kernel is not refused: a
// soft photo's own softness thickens the path, and the second search
// catches the estimates gone astray.)
constexpr double kThickest = 12.0;
// How alike the kernel and the line the straight estimate found must be
// (kernel_agreement) for the line to repair it: straight blurs gave 0.74 to
// 0.96, curved shake along whose axis the spectrum also found a line 0.56
// to 0.75.
constexpr double kLineMatch = 0.75;
// ... or this alike, where the kernel is diffuse (kDiffuse cells per pixel
// of extent or more): on fur and other fine repeated texture a straight
// blur's kernel comes out hazy, with echoes of its path beside it, and
// repairs 4 to 7 dB below the line (alike 0.64 to 0.74, 5.3 to 8.7 thick),
// where the curved shakes the spectrum also read as lines were found thin
// (3.0 to 4.5) and alike at most 0.64. The spectrum's reading is then the
// sounder of the two.
constexpr double kDiffuse = 5.0;
constexpr double kDiffuseLineMatch = 0.6;
// ... or as alike, where the kernel is straight but for parallel copies of
// its path (KernelShape's separable share at least this): on fur and on the
// rocket's panels a straight blur's kernel is found thin but with a fainter
// echo beside its path, 0.88 to 0.96 separable and alike 0.61 to 0.74. Of
// the estimation benchmark's 100 straight blurs (two seeds) this sends five
// such kernels to the line: four repair 2.1 to 8.1 dB better so, one (its
// line read 4.4 degrees off) 0.5 dB worse. Curved shakes the spectrum also
// read as lines were 0.55 to 0.57 separable where their weight lay evenly,
// 0.84 to 0.95 where it did not (and the evenness test turns those away).
constexpr double kParallel = 0.9;
// ... and its weight spread about evenly along the line (KernelShape's
// unevenness at most this): the smooth line moves at constant speed. The
// kernels found for the 50 straight blurs of the estimation benchmark (5 to
// 40 px, noise, JPEG, fur) came out 1.04 to 1.41 uneven (to 1.47 with
// another seed); nearly straight shakes whose camera slowed at one end,
// 1.52 to 2.2, and their repairs by the line were 2.6 to 5.6 dB below those
// by their own kernels (one 3 dB below the blurred photo).
constexpr double kEvenest = 1.5;
// A line of the spectrum agrees with the kernel's within these.
constexpr double kSameDirection = 10.0;  // degrees
constexpr double kSameLength = 3.0;      // pixels, or
constexpr double kSameShare = 0.3;       // of the kernel's length
// Where the spectrum's zero lines are clear (the straight estimate's
// evidence at least kClearLine), its line stands for a kernel along it that
// is longer (up to kEchoLength times), less alike or unevenly weighted, if
// the kernel is still a straight path beside copies of itself (separable
// share at least kClearParallel): the echoes of repeated edges, on the
// rocket's panels and on fur, lengthen and smear a straight blur's kernel
// and heap its weight where they overlap, not its spectrum; and a camera
// that changes speed fills the zeros (the four nearly straight shakes with
// a heavy end of the tuning and mosaic tables gave 0.98 to 1.10).
// The 50 straight blurs of the estimation benchmark gave 1.19 to 2.52, 24
// of them 2.25 or more; 142 curved shakes and recorded kernels, on the
// tuning photos, the held-out ones and the mosaics, at most 2.17 (a
// recorded kernel on a mosaic, whose tiles' seams are straight edges; the
// others at most 1.95). Those of 2 or more were 12 to 38
// degrees off the kernel's direction and 0.75 to 0.79 separable. Two
// straight blurs whose kernels came out echoed (5 px longer than the line,
// or alike 0.61 and 0.88 separable), at 2.3 and 2.41, had repaired 2.5 and
// 4.9 dB below the line; with another seed, one at 2.35 (1.52 uneven) 2.1
// dB below it.
constexpr double kClearLine = 2.25;
constexpr double kEchoLength = 2.0;
constexpr double kClearParallel = 0.85;

// The window's luminance (0.299 R + 0.587 G + 0.114 B, or grey) on the 0..1
// scale, each value the mean of a `step` x `step` block.
template <typename T>
GreyImage luminance_of(const PixelRegion &region, const Window &w, int step, double scale) {
  GreyImage grey{w.rows / step, w.cols / step, {}};
  grey.values.assign(static_cast<std::size_t>(grey.rows) * grey.cols, 0.0);
  const auto *src = static_cast<const T *>(region.src);
  const int c = region.channels;
  const double share = scale / (step * step);
  for (int i = 0; i < grey.rows * step; ++i)
    for (int j = 0; j < grey.cols * step; ++j) {
      const T *px = src + (static_cast<std::size_t>(w.row + i) * region.cols + w.col + j) * c;
      const double v = c >= 3 ? 0.299 * px[0] + 0.587 * px[1] + 0.114 * px[2] : 1.0 * px[0];
      grey.at(i / step, j / step) += std::clamp(v * share, 0.0, 1.0 / (step * step));
    }
  return grey;
}

GreyImage luminance_of(const PixelRegion &region, const Window &w, int step = 1) {
  switch (region.format) {
    case SampleFormat::u16:
      return luminance_of<std::uint16_t>(region, w, step, 1.0 / 65535.0);
    case SampleFormat::f32:
      return luminance_of<float>(region, w, step, 1.0);
    case SampleFormat::u8:
      break;
  }
  return luminance_of<unsigned char>(region, w, step, 1.0 / 255.0);
}

// The crops the kernel is sought in, at full resolution: the best, and a
// second one apart from it (empty when the photo has no room for it), each
// of `side` pixels at most, chosen on a copy reduced to at most about
// kChoiceCells pixels.
struct Crops {
  GreyImage first, second;
};
Crops estimation_crops(const PixelRegion &region) {
  const double cells = static_cast<double>(region.rows) * region.cols;
  const int step = std::max(1, static_cast<int>(std::ceil(std::sqrt(cells / kChoiceCells))));
  const GreyImage reduced = luminance_of(region, {0, 0, region.rows, region.cols}, step);
  const auto full = [&](const Window &small, int side) {
    Window crop{small.row * step, small.col * step, std::min(side, region.rows),
                std::min(side, region.cols)};
    crop.row = std::min(crop.row, region.rows - crop.rows);
    crop.col = std::min(crop.col, region.cols - crop.cols);
    return luminance_of(region, crop);
  };
  Crops crops;
  const Window first = estimation_window(reduced, kCropSide / step);
  crops.first = full(first, kCropSide);
  const Window second = estimation_window(reduced, kSecondSide / step, &first);
  if (second.rows > 0 && std::min(second.rows, second.cols) * step >= kSecondSide / 2)
    crops.second = full(second, kSecondSide);
  return crops;
}

// A straight motion of `length` pixels along `degrees` as a kernel: the
// segment, centred, sampled every 1/20 pixel and spread bilinearly. Not the
// smooth model's exact taps: the bilinear spread is as soft as the kernels
// the search finds, and the thresholds below were set on it.
KernelGrid line_kernel(double length, double degrees) {
  const double a = degrees * 3.14159265358979323846 / 180.0;
  const int size = 2 * static_cast<int>(std::ceil(length / 2.0)) + 3, h = size / 2;
  KernelGrid k{size, std::vector<double>(static_cast<std::size_t>(size) * size, 0.0)};
  const int steps = static_cast<int>(std::ceil(length * 20.0));
  for (int t = 0; t <= steps; ++t) {
    const double along = (static_cast<double>(t) / steps - 0.5) * length;
    const double y = h + along * std::sin(a), x = h + along * std::cos(a);
    const int i = static_cast<int>(std::floor(y)), j = static_cast<int>(std::floor(x));
    const double fy = y - i, fx = x - j;
    for (int di = 0; di <= 1; ++di)
      for (int dj = 0; dj <= 1; ++dj)
        k.weights[static_cast<std::size_t>(i + di) * size + j + dj] +=
            (di ? fy : 1 - fy) * (dj ? fx : 1 - fx);
  }
  return k;
}

// The two parts of a crop: its first and its last kPartShare along its
// longer side.
std::vector<GreyImage> crop_parts(const GreyImage &crop) {
  const bool wide = crop.cols >= crop.rows;
  std::vector<GreyImage> parts(2);
  for (int which = 0; which < 2; ++which) {
    GreyImage &part = parts[static_cast<std::size_t>(which)];
    part.rows = wide ? crop.rows : static_cast<int>(crop.rows * kPartShare);
    part.cols = wide ? static_cast<int>(crop.cols * kPartShare) : crop.cols;
    const int row = !wide && which == 1 ? crop.rows - part.rows : 0;
    const int col = wide && which == 1 ? crop.cols - part.cols : 0;
    part.values.reserve(static_cast<std::size_t>(part.rows) * part.cols);
    for (int i = 0; i < part.rows; ++i)
      for (int j = 0; j < part.cols; ++j) part.values.push_back(crop.at(row + i, col + j));
  }
  return parts;
}

// Whether a kernel of this shape, sought in a window of `max_size`, has
// filled the window.
bool fills_window_of(const KernelShape &shape, int max_size) {
  return std::max(shape.width, shape.height) >= max_size - kWindowMargin;
}

// The second look, where the first choice leaves the photo unrepaired:
// among the searches' kernels that neither fill their window nor are a
// point, the one whose restoration of `crop` is sparsest, if another search
// confirms it (kPartsAgreement, or kAgreement from a crop apart; the crop's
// two starts may confirm each other too), with the best agreement among
// those that confirm it; none (pick found.size()) otherwise. On the 32
// tuning cases it repaired 2 more photos within 3 dB of the known kernel,
// and 1 more in each set of 36 held out, none worse than the blurred input.
// As the first choice it did worse: on the held-out sets it picked the
// kernel of an echo or of noise, and left 2 to 4 photos worse than blurred.
struct SecondLook {
  std::size_t pick;
  double agreement = 0.0;
};
SecondLook second_look(const std::vector<KernelGrid> &found,
                       const std::vector<KernelSearch> &searches, std::size_t starts, bool apart,
                       const GreyImage &crop) {
  const std::size_t none = found.size();
  std::size_t pick = none;
  double sparsest = 0.0;
  for (std::size_t s = 0; s < found.size(); ++s) {
    const KernelGrid trimmed = trimmed_kernel(found[s]);
    const KernelShape shape = kernel_shape(trimmed);
    if (fills_window_of(shape, searches[s].max_size) || shape.peak >= kPointPeak) continue;
    const double sparsity = restored_sparsity(crop, trimmed);
    if (sparsity >= 0.0 && (pick == none || sparsity < sparsest)) {
      sparsest = sparsity;
      pick = s;
    }
  }
  SecondLook look{none};
  if (pick == none) return look;
  double best = 0.0;  // agreement over the agreement needed
  for (std::size_t s = 0; s < found.size(); ++s) {
    if (s == pick) continue;
    const bool same_crop = s < starts && pick < starts;
    const double needed = apart && !same_crop ? kAgreement : kPartsAgreement;
    const double agreement = kernel_agreement(found[pick], found[s], kAgreementReach);
    if (agreement / needed > best) {
      best = agreement / needed;
      look.agreement = agreement;
    }
  }
  if (best >= 1.0) look.pick = pick;
  return look;
}

// The shorter window's look (its two searches are found[first] and
// found[first + 1]): the one whose restoration of `crop` is sparser, if
// the two agree and neither fills its window nor is a point; none (pick
// found.size()) otherwise.
SecondLook shorter_look(const std::vector<KernelGrid> &found, std::size_t first,
                        const GreyImage &crop) {
  SecondLook look{found.size()};
  if (found.size() != first + 2) return look;
  const double agreement = kernel_agreement(found[first], found[first + 1], kAgreementReach);
  if (agreement < kPartsAgreement) return look;
  std::size_t pick = found.size();
  double sparsest = 0.0;
  for (std::size_t s = first; s < found.size(); ++s) {
    const KernelGrid trimmed = trimmed_kernel(found[s]);
    const KernelShape shape = kernel_shape(trimmed);
    if (fills_window_of(shape, kShortWindow) || shape.peak >= kPointPeak ||
        (shape.width <= kPointExtent && shape.height <= kPointExtent))
      return look;
    const double sparsity = restored_sparsity(crop, trimmed);
    if (sparsity >= 0.0 && (pick == found.size() || sparsity < sparsest)) {
      sparsest = sparsity;
      pick = s;
    }
  }
  look.pick = pick;
  look.agreement = agreement;
  return look;
}

}  // namespace

// What it measures: blind_kernel.h.
double restored_sparsity(const GreyImage &crop, const KernelGrid &kernel) {
  const std::vector<float> src(crop.values.begin(), crop.values.end());
  std::vector<float> out(src.size());
  const PixelRegion region{crop.rows, crop.cols, 1, SampleFormat::f32, src.data(), out.data()};
  RepairSettings settings;
  settings.motion = SampledKernel{kernel.size, kernel.size, kernel.weights};
  settings.solver = SolverKind::sparse;
  if (repair_region(region, settings, 0, {}).outcome != Outcome::repaired) return -1.0;
  const int margin = kernel.size / 2 + 2;
  double l1 = 0.0, l2 = 0.0, count = 0.0;
  for (int i = margin; i < crop.rows - margin - 1; ++i)
    for (int j = margin; j < crop.cols - margin - 1; ++j) {
      const std::size_t at = static_cast<std::size_t>(i) * crop.cols + j;
      const double gx = out[at + 1] - out[at];
      const double gy = out[at + static_cast<std::size_t>(crop.cols)] - out[at];
      const double g2 = gx * gx + gy * gy;
      l1 += std::sqrt(g2);
      l2 += g2;
      count += 1.0;
    }
  return l2 > 0.0 ? l1 / std::sqrt(l2 * count) : 1.0;
}

LineReading line_reading(const KernelGrid &trimmed, double length, double degrees,
                         double evidence) {
  const KernelShape shape = kernel_shape(trimmed);
  const double turn = std::fabs(std::fmod(degrees - shape.direction + 270.0, 180.0) - 90.0);
  const bool clear = evidence >= kClearLine;
  LineReading reading;
  reading.confirmed =
      turn <= kSameDirection &&
      (std::fabs(length - shape.length) <= std::max(kSameLength, kSameShare * shape.length) ||
       (clear && shape.length >= length && shape.length <= kEchoLength * length));
  if (!reading.confirmed) return reading;
  const double match = kernel_agreement(trimmed, line_kernel(length, degrees), kAgreementReach);
  reading.straight =
      (shape.unevenness <= kEvenest &&
       (match >= kLineMatch ||
        (match >= kDiffuseLineMatch &&
         (shape.thickness >= kDiffuse || shape.separable >= kParallel)))) ||
      (clear && shape.separable >= kClearParallel);
  return reading;
}

MotionEstimate estimate_shake(const PixelRegion &region, int max_kernel, bool linear_light) {
  if (linear_light && region.src != nullptr && region.rows > 0 && region.cols > 0 &&
      region.channels > 0) {
    std::vector<float> light;
    PixelRegion decoded;
    try {
      decoded = decoded_region(region, &light);
    } catch (const std::bad_alloc &) {
      MotionEstimate refused;
      refused.status = EstimateStatus::no_memory;
      return refused;
    }
    return estimate_shake(decoded, max_kernel, false);
  }
  MotionEstimate result = estimate_motion(region);
  if (result.status != EstimateStatus::estimated) return result;
  const bool spectrum_line = result.found == FoundMotion::line;
  try {
    const Crops crops = estimation_crops(region);
    const GreyImage &crop = crops.first;
    const int largest =
        std::clamp(max_kernel, 3, std::min(kMaxKernelSize, std::min(crop.rows, crop.cols) / 3));
    // The same shake, sought again elsewhere in the photo, must come out
    // the same: a kernel that is not the photo's shake but a trace of the
    // one crop's content, or of its noise, does not. A photo with no room
    // for a second crop is asked again in two parts of the crop.
    const bool apart = !crops.second.values.empty();
    std::vector<GreyImage> parts;
    if (!apart) parts = crop_parts(crop);
    const std::vector<const GreyImage *> others =
        apart ? std::vector<const GreyImage *>{&crops.second}
              : std::vector<const GreyImage *>{&parts[0], &parts[1]};
    // The crop's searches, one per start, then the others'.
    std::vector<KernelSearch> searches;
    for (double weight : kStartWeights) searches.push_back({&crop, largest, weight});
    for (const GreyImage *other : others)
      searches.push_back({other, std::clamp(largest, 3, std::min(other->rows, other->cols) / 3)});
    std::vector<KernelGrid> found = find_kernels(searches, 0);
    if (found.empty()) {
      result.status = EstimateStatus::no_memory;
      return result;
    }
    // The start whose kernel the other searches confirm best.
    const std::size_t starts = std::size(kStartWeights);
    std::size_t chosen = 0;
    result.agreement = -1.0;
    for (std::size_t start = 0; start < starts; ++start) {
      double agreement = 0.0;
      for (std::size_t s = starts; s < found.size(); ++s)
        agreement = std::max(agreement, kernel_agreement(found[start], found[s], kAgreementReach));
      if (agreement > result.agreement) {
        result.agreement = agreement;
        chosen = start;
      }
    }
    bool agreed = result.agreement >= (apart ? kAgreement : kPartsAgreement);
    KernelGrid trimmed;
    KernelShape shape;
    std::size_t taken = chosen;  // the search whose kernel stands
    const auto take = [&](const KernelGrid &kernel, std::size_t search) {
      taken = search;
      trimmed = trimmed_kernel(kernel);
      shape = kernel_shape(trimmed);
      result.kernel = SampledKernel{trimmed.size, trimmed.size, trimmed.weights};
      result.kernel_width = shape.width;
      result.kernel_height = shape.height;
    };
    take(found[chosen], chosen);
    // The straight estimate's line, if it is about as long as the kernel's
    // and along about the same direction, confirms a line: a kernel alike
    // to that line is then taken as one, and the spectrum's sub-pixel
    // length and tenth of a degree are the finer reading.
    const auto read_line = [&] {
      return result.found == FoundMotion::line
                 ? line_reading(trimmed, result.length, result.direction, result.line_evidence)
                 : LineReading{};
    };
    LineReading reading = read_line();
    // A short line's few cells are as heavy as a point's: a kernel the
    // spectrum's line confirms is a motion, however heavy its heaviest cell.
    const bool short_line = reading.confirmed && result.length >= kShortLine;
    if ((shape.peak >= kPointPeak && !short_line) ||
        (shape.width <= kPointExtent && shape.height <= kPointExtent)) {
      result.found = FoundMotion::none;
      result.length = 1.0;
      result.direction = 0.0;
      result.confidence = std::clamp(shape.peak / (2.0 * kPointPeak), 0.5, 1.0);
      return result;
    }
    bool fills_window = fills_window_of(shape, largest);
    // A look that found a kernel to trust: it stands.
    const auto adopt = [&](const SecondLook &look) {
      if (look.pick >= found.size()) return;
      agreed = true;
      result.agreement = look.agreement;
      take(found[look.pick], look.pick);
      reading = read_line();
      fills_window = false;
    };
    // The first choice would leave the photo as it is: a second look.
    if ((!agreed && !reading.confirmed) || fills_window)
      adopt(second_look(found, searches, starts, apart, crop));
    if ((!agreed || fills_window) && (!reading.confirmed || fills_window) &&
        spectrum_line && largest > kShortWindow) {
      // Nothing would be repaired, though the spectrum shows a motion: the
      // shorter window.
      const std::size_t first = found.size();
      for (double weight : kStartWeights) searches.push_back({&crop, kShortWindow, weight});
      const std::vector<KernelGrid> shorter = find_kernels(
          std::vector<KernelSearch>(searches.begin() + static_cast<std::ptrdiff_t>(first),
                                    searches.end()),
          0);
      found.insert(found.end(), shorter.begin(), shorter.end());
      adopt(shorter_look(found, first, crop));
    }
    const bool confirmed = reading.confirmed;
    if (!agreed || fills_window) {
      // Not trusted. The straight line stands where the kernel, for all its
      // faults, runs along it, unless it only filled its window; otherwise
      // nothing can be repaired safely.
      result.kernel_doubtful = true;
      if (!confirmed || fills_window) {
        result.found = FoundMotion::none;
        result.confidence = 0.0;
      }
      return result;
    }
    result.found = reading.straight ? FoundMotion::line : FoundMotion::kernel;
    if (result.found == FoundMotion::kernel && result.noise <= kRefineNoise) {
      // The kernel the photo is repaired with is drawn more finely (the
      // choice above was made on the searches as they stood, which its
      // limits were set on). One that would come out a point stays as it
      // was.
      const KernelSearch &search = searches[taken];
      const KernelGrid finer = refined_kernel(*search.image, found[taken], search.max_size,
                                              search.edge_weight, kRefineRounds, 0);
      if (finer.size > 0) take(finer, taken);
      if (finer.size == 0 || shape.peak >= kPointPeak) take(found[taken], taken);
    }
    if (!confirmed) {
      result.length = std::clamp(shape.length, kLengthRange.lower, kLengthRange.upper);
      result.direction = shape.direction;
    }
    result.confidence =
        std::clamp(1.0 - (shape.thickness - 1.0) / (kThickest - 1.0) / 2.0, 0.0, 1.0);
    return result;
  } catch (const std::bad_alloc &) {
    result.status = EstimateStatus::no_memory;
    return result;
  }
}

}  // namespace ostrivo
