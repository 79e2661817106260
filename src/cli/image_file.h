// Photo files for the command line, through libvips: JPEG, PNG, TIFF,
// WebP, HEIC/HEIF/AVIF and JPEG XL in; the same out, by the extension.
// The header is read first and checked before any pixel is decoded;
// damaged files are refused; EXIF, XMP, IPTC and the ICC profile go from
// the input to the output; EXIF orientation is applied on load and the
// output says "normal"; 16-bit files stay 16-bit.
#ifndef OSTRIVO_CLI_IMAGE_FILE_H
#define OSTRIVO_CLI_IMAGE_FILE_H

#include <glib.h>
#include <vips/vips.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace ostrivo::cli {

// Starts libvips once for the process (idempotent); false when it cannot.
bool start_vips(const char *argv0);

struct GFree {
  void operator()(void *p) const { g_free(p); }
};
struct Unref {
  void operator()(VipsImage *image) const { g_object_unref(image); }
};
using VipsPtr = std::unique_ptr<VipsImage, Unref>;

// Pixels as the engine takes them: rows x cols pixels of `bpp` interleaved
// samples (1 grey, 2 grey and alpha, 3 RGB, 4 RGBA), packed rows; bytes
// for 8-bit images, native-order 16-bit words for 16-bit ones. Copies are
// deep.
struct Image {
  int rows = 0;
  int cols = 0;
  int bpp = 0;
  int bits = 8;

  Image() = default;
  Image(int rows, int cols, int bpp, int bits = 8);
  Image(const Image &other);
  Image &operator=(const Image &other);
  Image(Image &&) = default;
  Image &operator=(Image &&) = default;

  std::size_t samples() const { return static_cast<std::size_t>(rows) * cols * bpp; }
  std::size_t bytes() const { return samples() * (bits == 16 ? 2 : 1); }
  guchar *data() { return pixels_.get(); }
  const guchar *data() const { return pixels_.get(); }
  std::uint16_t *words() { return reinterpret_cast<std::uint16_t *>(pixels_.get()); }
  const std::uint16_t *words() const {
    return reinterpret_cast<const std::uint16_t *>(pixels_.get());
  }
  // Takes over a buffer from g_malloc holding bytes() bytes.
  void adopt(void *buffer) { pixels_.reset(static_cast<guchar *>(buffer)); }

 private:
  std::unique_ptr<guchar, GFree> pixels_;
};

// What a photo file holds, read from its header with the orientation
// applied, and what its output keeps.
class Photo {
 public:
  // Reads the header of `path`; decodes nothing. False with a message.
  bool open(const std::string &path, std::string *error);

  int rows() const;
  int cols() const;
  int bpp() const;
  int bits() const;

  // Decodes the pixels; a truncated or corrupt file is an error.
  bool decode(Image *image, std::string *error) const;

  // The metadata and colour interpretation of this photo, on `image`.
  VipsImage *header() const { return image_.get(); }

 private:
  VipsPtr image_;  // oriented and in a colour space the engine takes, not yet decoded
};

struct SaveOptions {
  int quality = 95;  // JPEG, WebP, HEIC/AVIF, JPEG XL
};

// Whether the extension of `path` names a format we write.
bool can_write(const std::string &path);

// Writes `image` to `path` in the format its extension names, carrying
// `metadata`'s EXIF, XMP, IPTC and ICC profile (when given) with the
// orientation set to normal. The file is written beside its target and
// renamed into place, so a failure leaves no half-written file. The pixels
// go to the encoder as they are, without a copy, where the format takes
// them: alpha is flattened onto white for JPEG, and 16-bit images become
// 8-bit for the formats that have no 16 bits.
bool save_image(const Image &image, const std::string &path, const SaveOptions &options,
                const Photo *metadata, std::string *error);

// The same without a source photo.
bool save_image(const Image &image, const std::string &path, std::string *error);

// Loads a whole file (header and pixels) in one go.
bool load_image(const std::string &path, Image *image, std::string *error);

}  // namespace ostrivo::cli

#endif
