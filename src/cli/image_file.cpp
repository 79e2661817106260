#include "image_file.h"

#include <glib/gstdio.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

namespace ostrivo::cli {

namespace {

std::string vips_message() {
  std::string message = vips_error_buffer();
  vips_error_clear();
  while (!message.empty() && std::isspace(static_cast<unsigned char>(message.back())))
    message.pop_back();
  // libvips names the operation first ("jpegload: ..."); keep its last line.
  const auto line = message.find_last_of('\n');
  if (line != std::string::npos) message = message.substr(line + 1);
  return message.empty() ? "not an image this program can read, or a damaged one" : message;
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

enum class Format { none, jpeg, png, tiff, webp, heic, avif, jxl };

Format format_of(const std::string &path) {
  const std::string ext = lower_extension(path);
  if (ext == "jpg" || ext == "jpeg") return Format::jpeg;
  if (ext == "png") return Format::png;
  if (ext == "tif" || ext == "tiff") return Format::tiff;
  if (ext == "webp") return Format::webp;
  if (ext == "heic" || ext == "heif") return Format::heic;
  if (ext == "avif") return Format::avif;
  if (ext == "jxl") return Format::jxl;
  return Format::none;
}

// Formats whose files hold 16-bit samples.
bool keeps_16_bits(Format f) { return f == Format::png || f == Format::tiff || f == Format::jxl; }

// Brings a loaded image into what the engine takes: grey or RGB, with or
// without alpha, 8 or 16 bits. Lazy: nothing is decoded.
VipsImage *engine_form(VipsImage *in) {
  const bool sixteen = in->BandFmt == VIPS_FORMAT_USHORT;
  const bool eight = in->BandFmt == VIPS_FORMAT_UCHAR;
  const VipsInterpretation type = vips_image_guess_interpretation(in);
  const bool grey = type == VIPS_INTERPRETATION_B_W || type == VIPS_INTERPRETATION_GREY16;
  const bool rgb = type == VIPS_INTERPRETATION_sRGB || type == VIPS_INTERPRETATION_RGB ||
                   type == VIPS_INTERPRETATION_RGB16;
  if ((eight || sixteen) && ((grey && in->Bands <= 2) || (rgb && in->Bands <= 4))) {
    g_object_ref(in);
    return in;
  }
  // Anything else (CMYK, Lab, floats, other depths) becomes sRGB, 16-bit
  // when it had more than 8 bits.
  VipsImage *out = nullptr;
  const VipsInterpretation target =
      eight ? (grey ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB)
            : (grey ? VIPS_INTERPRETATION_GREY16 : VIPS_INTERPRETATION_RGB16);
  if (vips_colourspace(in, &out, target, nullptr) != 0) return nullptr;
  return out;
}

// The metadata fields carried from the input to the output.
constexpr const char *kCarried[] = {VIPS_META_EXIF_NAME, VIPS_META_XMP_NAME, VIPS_META_IPTC_NAME,
                                    VIPS_META_ICC_NAME};

// The image `image` as the saver for `format` takes it (a new reference).
VipsImage *saveable(VipsImage *image, Format format) {
  VipsPtr current(image);
  g_object_ref(image);
  if (current->BandFmt == VIPS_FORMAT_USHORT && !keeps_16_bits(format)) {
    const bool grey = current->Bands <= 2;
    VipsImage *eight = nullptr;
    if (vips_colourspace(current.get(), &eight,
                         grey ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB, nullptr) != 0)
      return nullptr;
    current.reset(eight);
  }
  if (format == Format::jpeg && vips_image_hasalpha(current.get())) {
    // JPEG has no alpha: composite over white, as viewers show it.
    const double white[] = {current->BandFmt == VIPS_FORMAT_USHORT ? 65535.0 : 255.0};
    VipsArrayDouble *background = vips_array_double_new(white, 1);
    VipsImage *flat = nullptr;
    const int result = vips_flatten(current.get(), &flat, "background", background, nullptr);
    vips_area_unref(VIPS_AREA(background));
    if (result != 0) return nullptr;
    current.reset(flat);
  }
  return current.release();
}

bool write_format(VipsImage *image, const std::string &file, Format format,
                  const SaveOptions &options) {
  switch (format) {
    case Format::jpeg:
      return vips_jpegsave(image, file.c_str(), "Q", options.quality, nullptr) == 0;
    case Format::png:  // zlib level 3: a third of the default level's time, files ~13 % larger
      return vips_pngsave(image, file.c_str(), "compression", 3, nullptr) == 0;
    case Format::tiff:
      return vips_tiffsave(image, file.c_str(), "compression",
                           VIPS_FOREIGN_TIFF_COMPRESSION_DEFLATE, nullptr) == 0;
    case Format::webp:
      return vips_webpsave(image, file.c_str(), "Q", options.quality, nullptr) == 0;
    case Format::heic:
      return vips_heifsave(image, file.c_str(), "Q", options.quality, nullptr) == 0;
    case Format::avif:
      return vips_heifsave(image, file.c_str(), "Q", options.quality, "compression",
                           VIPS_FOREIGN_HEIF_COMPRESSION_AV1, nullptr) == 0;
    case Format::jxl:
      return vips_jxlsave(image, file.c_str(), "Q", options.quality, nullptr) == 0;
    case Format::none:
      break;
  }
  return false;
}

}  // namespace

bool start_vips(const char *argv0) {
  static const bool started = [argv0] {
    if (VIPS_INIT(argv0 != nullptr ? argv0 : "ostrivo") != 0) return false;
    vips_cache_set_max(0);  // every file is read once
    // A damaged file is reported once, by name, from the error libvips
    // returns; its warnings on the way there would only repeat it.
    g_log_set_handler(
        "VIPS", G_LOG_LEVEL_WARNING, [](const gchar *, GLogLevelFlags, const gchar *, gpointer) {},
        nullptr);
    return true;
  }();
  return started;
}

Image::Image(int rows_, int cols_, int bpp_, int bits_)
    : rows(rows_),
      cols(cols_),
      bpp(bpp_),
      bits(bits_),
      pixels_(static_cast<guchar *>(g_malloc0(std::max<std::size_t>(bytes(), 1)))) {}

Image::Image(const Image &other)
    : rows(other.rows), cols(other.cols), bpp(other.bpp), bits(other.bits) {
  if (other.data() != nullptr) {
    pixels_.reset(static_cast<guchar *>(g_malloc(std::max<std::size_t>(bytes(), 1))));
    std::memcpy(pixels_.get(), other.data(), bytes());
  }
}

Image &Image::operator=(const Image &other) {
  if (this != &other) {
    Image copy(other);
    *this = std::move(copy);
  }
  return *this;
}

bool Photo::open(const std::string &path, std::string *error) {
  start_vips(nullptr);
  VipsPtr loaded(vips_image_new_from_file(path.c_str(), "fail_on", VIPS_FAIL_ON_ERROR, nullptr));
  if (!loaded) {
    *error = vips_message();
    return false;
  }
  VipsImage *upright = nullptr;  // orientation tags turn the picture the way the camera held it
  if (vips_autorot(loaded.get(), &upright, nullptr) != 0) {
    *error = vips_message();
    return false;
  }
  VipsPtr oriented(upright);
  VipsImage *formed = engine_form(oriented.get());
  if (formed == nullptr) {
    *error = vips_message();
    return false;
  }
  image_.reset(formed);
  if (bpp() < 1 || bpp() > 4) {
    *error = "unsupported image: " + std::to_string(bpp()) + " channels";
    image_.reset();
    return false;
  }
  return true;
}

int Photo::rows() const { return vips_image_get_height(image_.get()); }
int Photo::cols() const { return vips_image_get_width(image_.get()); }
int Photo::bpp() const { return vips_image_get_bands(image_.get()); }
int Photo::bits() const { return image_->BandFmt == VIPS_FORMAT_USHORT ? 16 : 8; }

bool Photo::decode(Image *image, std::string *error) const {
  std::size_t size = 0;
  void *pixels = vips_image_write_to_memory(image_.get(), &size);
  if (pixels == nullptr) {
    *error = vips_message();
    return false;
  }
  Image decoded;
  decoded.rows = rows();
  decoded.cols = cols();
  decoded.bpp = bpp();
  decoded.bits = bits();
  decoded.adopt(pixels);
  if (size != decoded.bytes()) {
    *error = "decoded size does not match the header";
    return false;
  }
  *image = std::move(decoded);
  return true;
}

bool can_write(const std::string &path) { return format_of(path) != Format::none; }

bool save_image(const Image &image, const std::string &path, const SaveOptions &options,
                const Photo *metadata, std::string *error) {
  start_vips(nullptr);
  const Format format = format_of(path);
  if (format == Format::none) {
    *error = "cannot write this file type (use .jpg, .png, .tif, .webp, .heic, .avif or .jxl)";
    return false;
  }
  const bool sixteen = image.bits == 16;
  // The encoder reads the pixels where they are.
  VipsPtr wrapped(vips_image_new_from_memory(image.data(), image.bytes(), image.cols, image.rows,
                                             image.bpp,
                                             sixteen ? VIPS_FORMAT_USHORT : VIPS_FORMAT_UCHAR));
  if (!wrapped) {
    *error = vips_message();
    return false;
  }
  const bool grey = image.bpp <= 2;
  const VipsInterpretation type =
      grey ? (sixteen ? VIPS_INTERPRETATION_GREY16 : VIPS_INTERPRETATION_B_W)
           : (sixteen ? VIPS_INTERPRETATION_RGB16 : VIPS_INTERPRETATION_sRGB);
  VipsImage *typed_image = nullptr;
  const VipsImage *source = metadata != nullptr ? metadata->header() : nullptr;
  if (vips_copy(wrapped.get(), &typed_image, "interpretation", type, "xres",
                source != nullptr ? source->Xres : 1.0, "yres",
                source != nullptr ? source->Yres : 1.0, nullptr) != 0) {
    *error = vips_message();
    return false;
  }
  VipsPtr typed(typed_image);
  if (source != nullptr) {
    for (const char *name : kCarried) {
      if (vips_image_get_typeof(source, name) == 0) continue;
      const void *blob = nullptr;
      std::size_t length = 0;
      if (vips_image_get_blob(const_cast<VipsImage *>(source), name, &blob, &length) == 0)
        vips_image_set_blob_copy(typed.get(), name, blob, length);
    }
  }
  // The pixels are upright: the EXIF the saver writes says so.
  vips_image_set_int(typed.get(), VIPS_META_ORIENTATION, 1);

  VipsPtr ready(saveable(typed.get(), format));
  if (!ready) {
    *error = vips_message();
    return false;
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
  if (!write_format(ready.get(), temp, format, options)) {
    *error = vips_message();
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

bool save_image(const Image &image, const std::string &path, std::string *error) {
  return save_image(image, path, SaveOptions{}, nullptr, error);
}

bool load_image(const std::string &path, Image *image, std::string *error) {
  Photo photo;
  return photo.open(path, error) && photo.decode(image, error);
}

}  // namespace ostrivo::cli
