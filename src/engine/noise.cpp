// How noisy a photo is, from its finest diagonal detail.
//
// The noise's sigma in levels of 255, for the region's colour samples
// (alpha left out): over disjoint 2 x 2 blocks [a b; c d] the diagonal
// detail HH = (a - b - c + d) / 2 holds little but noise in most photos, and
// sigma = median |HH| / 0.6745 (the median absolute deviation of Gaussian
// noise), averaged over the colour channels. Bytes give |HH| in steps of
// half a level, so their median is taken as grouped data, interpolated
// within its step; a plain median would move sigma in steps of 0.74
// levels. 0 for a region under 2 x 2 pixels.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "ostrivo/repair.h"

namespace ostrivo {

namespace {

constexpr double kMadToSigma = 0.6745;

// The median of values that are multiples of `step`, as grouped data:
// within the bin that holds it, the median lies as far as the count asks.
double grouped_median(const std::vector<std::uint32_t> &histogram, double step) {
  std::uint64_t total = 0;
  for (std::uint32_t count : histogram) total += count;
  if (total == 0) return 0.0;
  const double half = 0.5 * static_cast<double>(total);
  double below = 0.0;
  for (std::size_t b = 0; b < histogram.size(); ++b) {
    const double count = histogram[b];
    if (below + count >= half && count > 0) {
      // Bin b spans [(b - 1/2) step, (b + 1/2) step); bin 0 only [0, step / 2).
      const double lower = b > 0 ? (static_cast<double>(b) - 0.5) * step : 0.0;
      const double width = b > 0 ? step : 0.5 * step;
      return lower + width * (half - below) / count;
    }
    below += count;
  }
  return 0.0;
}

template <typename T>
double channel_sigma(const PixelRegion &region, int channel, double scale) {
  const auto *px = static_cast<const T *>(region.src);
  const auto row = static_cast<std::size_t>(region.cols) * region.channels;
  const auto at = [&](int i, int j) {
    return scale * static_cast<double>(px[static_cast<std::size_t>(i) * row +
                                          static_cast<std::size_t>(j) * region.channels + channel]);
  };
  const auto detail = [&](int i, int j) {
    return std::abs(at(i, j) - at(i, j + 1) - at(i + 1, j) + at(i + 1, j + 1)) / 2.0;
  };
  if constexpr (std::is_same_v<T, unsigned char>) {
    // |HH| is a multiple of 1/2 up to 255: 511 bins.
    std::vector<std::uint32_t> histogram(511, 0);
    for (int i = 0; i + 1 < region.rows; i += 2)
      for (int j = 0; j + 1 < region.cols; j += 2)
        ++histogram[static_cast<std::size_t>(2.0 * detail(i, j) + 0.5)];
    return grouped_median(histogram, 0.5) / kMadToSigma;
  } else {
    std::vector<double> values;
    values.reserve(static_cast<std::size_t>(region.rows / 2) * (region.cols / 2));
    for (int i = 0; i + 1 < region.rows; i += 2)
      for (int j = 0; j + 1 < region.cols; j += 2) values.push_back(detail(i, j));
    if (values.empty()) return 0.0;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle / kMadToSigma;
  }
}

template <typename T>
double sigma_of(const PixelRegion &region, double scale) {
  const int colours = region.channels >= 3 ? 3 : 1;
  double sum = 0.0;
  for (int c = 0; c < colours; ++c) sum += channel_sigma<T>(region, c, scale);
  return sum / colours;
}

}  // namespace

double measure_noise(const PixelRegion &region) {
  if (region.rows < 2 || region.cols < 2 || region.channels < 1 || region.channels > 4 ||
      region.src == nullptr)
    return 0.0;
  switch (region.format) {
    case SampleFormat::u8:
      return sigma_of<unsigned char>(region, 1.0);
    case SampleFormat::u16:
      return sigma_of<std::uint16_t>(region, 255.0 / 65535.0);
    case SampleFormat::f32:
      return sigma_of<float>(region, 255.0);
  }
  return 0.0;
}

}  // namespace ostrivo
