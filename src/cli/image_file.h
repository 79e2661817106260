// Image files for the command-line front end, through GdkPixbuf: any
// format its loaders read, written as PNG, JPEG or TIFF by the extension.
#ifndef OSTRIVO_CLI_IMAGE_FILE_H
#define OSTRIVO_CLI_IMAGE_FILE_H

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <string>

namespace ostrivo::cli {

// An image as the engine's pixel buffer: rows x cols x bpp bytes, packed
// rows (no rowstride), bpp 3 (RGB) or 4 (RGBA).
struct Image {
  int rows = 0;
  int cols = 0;
  int bpp = 0;
  std::string pixels;  // bytes; std::string keeps them contiguous and owned
  guchar *data() { return reinterpret_cast<guchar *>(pixels.data()); }
  const guchar *data() const { return reinterpret_cast<const guchar *>(pixels.data()); }
};

// Loads `path`. GdkPixbuf hands every image over as 8-bit RGB or RGBA: a
// grey or indexed file arrives converted to RGB. Returns false with a
// message in `error`.
bool load_image(const std::string &path, Image *image, std::string *error);

// The GdkPixbuf writer for a file name ("png", "jpeg", "tiff"), or empty
// when the extension names no format we write.
std::string writer_for(const std::string &path);

// Writes `image` to `path` through a temporary file in the same folder that
// is renamed into place, so that a failure leaves no half-written file.
bool save_image(const Image &image, const std::string &path, std::string *error);

}  // namespace ostrivo::cli

#endif
