// Linear light. A camera's sensor adds up light linearly, so a shake blurs
// the light itself; the photo's samples are that light encoded by a
// transfer curve (sRGB's, about a power of 1/2.2), and on them the blur is
// no longer a convolution: around a bright edge the encoded blur is
// lopsided, and a repair of the encoded samples leaves halos. Undoing the
// curve first (and redoing it after) makes the model hold again.
//
// The curve is sRGB's (IEC 61966-2-1): v <= 0.04045 ? v / 12.92 :
// ((v + 0.055) / 1.055)^2.4, on the 0..1 scale; photos in other spaces
// (Adobe RGB, Display P3) have curves close enough to it for this use.
#ifndef OSTRIVO_COLOUR_LIGHT_H
#define OSTRIVO_COLOUR_LIGHT_H

#include <cstddef>
#include <vector>

#include "ostrivo/repair.h"

namespace ostrivo {

// One encoded value (0..1) as linear light (0..1), and back; values
// outside 0..1 are first brought into it.
double srgb_to_linear(double encoded);
double linear_to_srgb(double linear);

// The region's samples (`src`) as floats of linear light, 0..1, into `out`
// (rows x cols x channels): its colour samples decoded, an alpha sample
// (the last of 2 or 4 channels) only brought onto the 0..1 scale.
void decode_light(const PixelRegion &region, float *out);

// `linear` (floats as decode_light gives them) encoded into the region's
// `dst`, in its format: u8 and u16 rounded to the nearest level.
void encode_light(const float *linear, const PixelRegion &region);

// The region decoded by decode_light into `*samples` (resized to hold it;
// std::bad_alloc when it cannot be), and the f32 region that reads them
// (`dst` none).
PixelRegion decoded_region(const PixelRegion &region, std::vector<float> *samples);

// How firmly each pixel of one channel of linear light (`light`, f32 as
// decode_light gives it) holds a repair, into `weights` (rows x cols).
// Noise of even sigma on the encoded samples is, in the light, sigma times
// the curve's slope dL/dv at the sample (1/12.92 in the darks, 2.27 at
// white), so a pixel's data weighs 1 / slope^2 against that sigma; an alpha
// channel's, 1.
void light_data_weights(const PixelRegion &light, int channel, float *weights);

}  // namespace ostrivo

#endif
