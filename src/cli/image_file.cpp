#include "cli/image_file.h"

#include <glib/gstdio.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

namespace ostrivo::cli {

namespace {

struct UnrefPixbuf {
  void operator()(GdkPixbuf *p) const { g_object_unref(p); }
};
using PixbufPtr = std::unique_ptr<GdkPixbuf, UnrefPixbuf>;

std::string take_message(GError *err) {
  std::string message = err != nullptr ? err->message : "unknown error";
  if (err != nullptr) g_error_free(err);
  return message;
}

std::string lower_extension(const std::string &path) {
  const auto slash = path.find_last_of('/');
  const auto dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = path.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext;
}

}  // namespace

bool load_image(const std::string &path, Image *image, std::string *error) {
  GError *err = nullptr;
  PixbufPtr pixbuf(gdk_pixbuf_new_from_file(path.c_str(), &err));
  if (!pixbuf) {
    *error = take_message(err);
    return false;
  }
  // Orientation tags turn the picture the way the camera held it.
  PixbufPtr upright(gdk_pixbuf_apply_embedded_orientation(pixbuf.get()));
  GdkPixbuf *pb = upright ? upright.get() : pixbuf.get();

  if (gdk_pixbuf_get_colorspace(pb) != GDK_COLORSPACE_RGB ||
      gdk_pixbuf_get_bits_per_sample(pb) != 8) {
    *error = "not an 8-bit RGB image";
    return false;
  }
  image->cols = gdk_pixbuf_get_width(pb);
  image->rows = gdk_pixbuf_get_height(pb);
  image->bpp = gdk_pixbuf_get_n_channels(pb);
  if (image->bpp != 3 && image->bpp != 4) {
    *error = "unsupported number of channels";
    return false;
  }
  const auto row_bytes = static_cast<std::size_t>(image->cols) * image->bpp;
  const int stride = gdk_pixbuf_get_rowstride(pb);
  const guchar *src = gdk_pixbuf_read_pixels(pb);
  image->pixels.resize(row_bytes * image->rows);
  for (int r = 0; r < image->rows; ++r)
    std::memcpy(image->data() + r * row_bytes, src + static_cast<std::size_t>(r) * stride,
                row_bytes);
  return true;
}

std::string writer_for(const std::string &path) {
  const std::string ext = lower_extension(path);
  if (ext == "png") return "png";
  if (ext == "jpg" || ext == "jpeg") return "jpeg";
  if (ext == "tif" || ext == "tiff") return "tiff";
  return "";
}

bool save_image(const Image &image, const std::string &path, std::string *error) {
  const std::string type = writer_for(path);
  if (type.empty()) {
    *error = "cannot write this file type (use .png, .jpg or .tif)";
    return false;
  }
  const bool alpha = image.bpp == 4;
  // The pixbuf only wraps the pixels for the writers, which read them.
  PixbufPtr pixbuf(gdk_pixbuf_new_from_data(const_cast<guchar *>(image.data()), GDK_COLORSPACE_RGB,
                                            alpha, 8, image.cols, image.rows,
                                            image.cols * image.bpp, nullptr, nullptr));
  if (!pixbuf) {
    *error = "out of memory";
    return false;
  }
  PixbufPtr opaque;
  GdkPixbuf *to_write = pixbuf.get();
  if (alpha && type == "jpeg") {
    // JPEG has no alpha: composite over white, as viewers show it.
    opaque.reset(gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, image.cols, image.rows));
    if (!opaque) {
      *error = "out of memory";
      return false;
    }
    gdk_pixbuf_fill(opaque.get(), 0xffffffffu);
    gdk_pixbuf_composite(pixbuf.get(), opaque.get(), 0, 0, image.cols, image.rows, 0, 0, 1, 1,
                         GDK_INTERP_NEAREST, 255);
    to_write = opaque.get();
  }

  // The temporary file sits beside the target, so the rename stays on one
  // file system and replaces the target in one step.
  gchar *dir = g_path_get_dirname(path.c_str());
  gchar *base = g_path_get_basename(path.c_str());
  std::string temp = std::string(dir) + "/." + base + ".XXXXXX";
  g_free(dir);
  g_free(base);
  const int fd = g_mkstemp(&temp[0]);
  if (fd < 0) {
    *error = std::string("cannot create a file there: ") + g_strerror(errno);
    return false;
  }
  close(fd);

  GError *err = nullptr;
  gboolean saved;
  if (type == "jpeg")
    saved = gdk_pixbuf_save(to_write, temp.c_str(), "jpeg", &err, "quality", "95", nullptr);
  else if (type == "tiff")
    saved = gdk_pixbuf_save(to_write, temp.c_str(), "tiff", &err, "compression", "8", nullptr);
  else  // zlib level 3: a third of the default level's time, files about 13 % larger
    saved = gdk_pixbuf_save(to_write, temp.c_str(), "png", &err, "compression", "3", nullptr);
  if (!saved) {
    *error = take_message(err);
    g_unlink(temp.c_str());
    return false;
  }
  // mkstemp makes the file private; give it the permissions a new file gets.
  const mode_t mask = umask(0);
  umask(mask);
  g_chmod(temp.c_str(), 0666 & ~mask);
  if (g_rename(temp.c_str(), path.c_str()) != 0) {
    *error = std::string("cannot rename into place: ") + g_strerror(errno);
    g_unlink(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace ostrivo::cli
