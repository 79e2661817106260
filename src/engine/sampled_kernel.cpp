#include <cmath>
#include <cstdint>

#include "engine/psf.h"
#include "ostrivo/repair.h"
#include "ostrivo/settings.h"

namespace ostrivo {

std::vector<PsfTap> kernel_taps(int rows, int cols, const std::vector<double> &weights) {
  if (rows < 1 || cols < 1 || rows > kMaxKernelSize || cols > kMaxKernelSize ||
      weights.size() != static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols))
    return {};
  const auto usable = [](double w) { return std::isfinite(w) && w > 0.0; };
  double sum = 0.0;
  for (double w : weights)
    if (usable(w)) sum += w;
  if (!(sum > 0.0) || !std::isfinite(sum)) return {};
  std::vector<PsfTap> taps;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) {
      const double w = weights[static_cast<std::size_t>(r) * static_cast<std::size_t>(cols) +
                               static_cast<std::size_t>(c)];
      if (usable(w)) taps.push_back({r - rows / 2, c - cols / 2, w / sum});
    }
  return taps;
}

namespace {

template <typename T>
SampledKernel luminance_of(const PixelRegion &image) {
  SampledKernel kernel{image.rows, image.cols, {}};
  const auto *px = static_cast<const T *>(image.src);
  const auto cells = static_cast<std::size_t>(image.rows) * static_cast<std::size_t>(image.cols);
  const auto step = static_cast<std::size_t>(image.channels);
  kernel.weights.resize(cells);
  for (std::size_t p = 0; p < cells; ++p) {
    const T *s = px + p * step;
    kernel.weights[p] = image.channels >= 3 ? 0.299 * static_cast<double>(s[0]) +
                                                  0.587 * static_cast<double>(s[1]) +
                                                  0.114 * static_cast<double>(s[2])
                                            : static_cast<double>(s[0]);
  }
  return kernel;
}

}  // namespace

SampledKernel kernel_from_image(const PixelRegion &image) {
  if (image.rows < 1 || image.cols < 1 || image.channels < 1 || image.channels > 4 ||
      image.src == nullptr)
    return {};
  switch (image.format) {
    case SampleFormat::u8:
      return luminance_of<unsigned char>(image);
    case SampleFormat::u16:
      return luminance_of<std::uint16_t>(image);
    case SampleFormat::f32:
      return luminance_of<float>(image);
  }
  return {};
}

Refusal check_kernel(const SampledKernel &kernel) {
  if (kernel.rows > kMaxKernelSize || kernel.cols > kMaxKernelSize)
    return Refusal::kernel_too_large;
  return kernel_taps(kernel.rows, kernel.cols, kernel.weights).empty() ? Refusal::empty_kernel
                                                                       : Refusal::none;
}

}  // namespace ostrivo
