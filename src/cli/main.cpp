// ostrivo-cli: repairs motion-blurred photo files with the engine the GIMP
// plug-ins use, or (--simulate) applies such a motion blur.
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <variant>
#include <vector>

#include "image_file.h"
#include "ostrivo/estimate.h"
#include "ostrivo/repair.h"
#include "ostrivo/settings.h"

using ostrivo::RepairSettings;
using ostrivo::SampleFormat;
using ostrivo::cli::Image;
using ostrivo::cli::Photo;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailedInput = 1;
constexpr int kExitUsage = 2;

// The image as the engine takes it: bytes, or 16-bit words.
ostrivo::PixelRegion region_of(const Image &in, void *dst) {
  return {in.rows,   in.cols, in.bpp, in.bits == 16 ? SampleFormat::u16 : SampleFormat::u8,
          in.data(), dst};
}

// A setting that --auto estimates when the command line does not give it.
struct Given {
  double value;
  bool given = false;
};

struct Options {
  Given length{ostrivo::kLengthRange.fallback};
  Given direction{ostrivo::kDirectionRange.fallback};
  Given k{ostrivo::kKRange.fallback};
  double frame_width = ostrivo::kFrameWidthRange.fallback;
  gboolean repair_brightness = FALSE;
  gboolean linear_light = FALSE;
  gchar *model = nullptr;
  gchar *solver = nullptr;
  double strength = ostrivo::kStrengthRange.fallback;
  gchar *kernel_file = nullptr;
  gchar *kernel_out = nullptr;
  int max_kernel = ostrivo::kDefaultMaxKernel;
  gchar *output = nullptr;
  gchar *output_dir = nullptr;
  gboolean force = FALSE;
  gboolean quiet = FALSE;
  gboolean simulate = FALSE;
  gboolean estimate = FALSE;
  gboolean json = FALSE;
  gboolean automatic = FALSE;
  int quality = 95;
  int threads = 0;
  gboolean version = FALSE;
  gchar **inputs = nullptr;
  bool classic = false;           // --model classic
  ostrivo::SampledKernel kernel;  // --kernel, once read
  bool wiener = false;            // --solver wiener
  RepairSettings settings;        // from the options above, once checked
};

// The repair the options ask for, with this motion and K: the kernel when
// one was given, else the chosen line; the classic line is restored by the
// Wiener filter, every other motion by the sparse solver unless --solver
// says otherwise.
RepairSettings settings_for(const Options &o, double length, double direction, double k) {
  RepairSettings s;
  if (o.kernel_file != nullptr)
    s.motion = o.kernel;
  else if (o.classic)
    s.motion = ostrivo::ClassicLine{length, direction, o.frame_width};
  else
    s.motion = ostrivo::SmoothLine{length, direction};
  s.solver = o.classic || o.wiener ? ostrivo::SolverKind::wiener : ostrivo::SolverKind::sparse;
  s.k = k;
  s.strength = o.strength;
  s.repair_brightness = o.repair_brightness != FALSE;
  s.linear_light = o.linear_light != FALSE;
  return s;
}

// Reads the --kernel image; false with a message.
bool read_kernel(Options *o) {
  Image image;
  std::string error;
  if (!ostrivo::cli::load_image(o->kernel_file, &image, &error)) {
    std::fprintf(stderr, "ostrivo-cli: --kernel %s: cannot read: %s\n", o->kernel_file,
                 error.c_str());
    return false;
  }
  o->kernel = ostrivo::kernel_from_image(region_of(image, nullptr));
  const ostrivo::Refusal refusal = ostrivo::check_kernel(o->kernel);
  if (refusal == ostrivo::Refusal::none) return true;
  std::fprintf(stderr, "ostrivo-cli: --kernel %s: %s\n", o->kernel_file,
               ostrivo::refusal_message(refusal).c_str());
  return false;
}

// --- progress bar on a terminal --------------------------------------------

std::string g_progress_label;
void (*g_progress)(double fraction) = nullptr;  // the bar, while a repair draws one

void draw_progress(double fraction) {
  constexpr int kWidth = 30;
  fraction = fraction < 0 ? 0 : (fraction > 1 ? 1 : fraction);
  const int filled = static_cast<int>(fraction * kWidth);
  std::fprintf(stderr, "\r%s [%.*s%*s] %3d%%", g_progress_label.c_str(), filled,
               "==============================", kWidth - filled, "",
               static_cast<int>(fraction * 100 + 0.5));
  std::fflush(stderr);
}

// --- paths -------------------------------------------------------------------

bool same_file(const std::string &a, const std::string &b) {
  struct stat sa {
  }, sb{};
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// NAME.EXT becomes NAME-SUFFIX.EXT, keeping a format we can write or
// falling back to PNG.
std::string default_output(const std::string &input, const char *suffix) {
  const auto slash = input.find_last_of('/');
  const auto dot = input.find_last_of('.');
  const bool has_ext = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  const std::string stem = has_ext ? input.substr(0, dot) : input;
  const std::string ext = has_ext ? input.substr(dot) : "";
  return stem + "-" + suffix + (ostrivo::cli::can_write(input) ? ext : ".png");
}

std::string output_for(const Options &o, const std::string &input) {
  const char *suffix = o.simulate ? "blurred" : "repaired";
  if (o.output != nullptr) return o.output;
  if (o.output_dir != nullptr) {
    gchar *base = g_path_get_basename(input.c_str());
    std::string path = std::string(o.output_dir) + "/" + base;
    g_free(base);
    if (!ostrivo::cli::can_write(path)) path = default_output(path, suffix);
    return path;
  }
  return default_output(input, suffix);
}

// --- one file ------------------------------------------------------------------

// Repairs (or blurs) `in` into `out`, of the same shape.
ostrivo::JobResult process(const Options &o, const Image &in, Image *out) {
  *out = Image(in.rows, in.cols, in.bpp, in.bits);
  ostrivo::RepairOptions options;
  options.threads = o.threads;
  if (!o.simulate) options.progress = g_progress;
  const ostrivo::PixelRegion region = region_of(in, out->data());
  return o.simulate ? ostrivo::blur_area(region, o.settings, options)
                    : ostrivo::repair_area(region, o.settings, options);
}

std::string json_string(const std::string &text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// The length and direction of the line a repair takes from an estimate.
struct Line {
  double length = 1.0;
  double direction = 0.0;
};
Line line_of(const RepairSettings &s) {
  if (const auto *classic = std::get_if<ostrivo::ClassicLine>(&s.motion))
    return {classic->length, classic->direction};
  if (const auto *smooth = std::get_if<ostrivo::SmoothLine>(&s.motion))
    return {smooth->length, smooth->direction};
  return {};
}

// Whether --auto repairs with the kernel an estimate found, rather than a
// line: when the shake is not straight and the command line asks for no
// line of its own.
bool repairs_with_kernel(const Options &o, const ostrivo::MotionEstimate &e) {
  return e.found == ostrivo::FoundMotion::kernel && !o.classic && !o.length.given &&
         !o.direction.given;
}

// The line an estimate gives the options' model: the straight fit, rounded
// as every front end rounds it; none when no motion was found.
Line line_found(const Options &o, ostrivo::MotionEstimate e) {
  if (e.found == ostrivo::FoundMotion::kernel) e.found = ostrivo::FoundMotion::line;
  RepairSettings found = o.settings;
  return ostrivo::apply_estimate(e, &found) ? line_of(found) : Line{};
}

// The model --auto repairs with.
const char *model_for(const Options &o, const ostrivo::MotionEstimate &e) {
  if (!ostrivo::found_motion(e)) return "none";
  if (repairs_with_kernel(o, e)) return "kernel";
  return o.classic ? "classic" : "smooth";
}

// An estimate that saw a blur but could not trust the kernel it found.
constexpr const char *kUnreadBlur =
    "the photo looks blurred, but the shape of its blur could not be read reliably";

// What was found, in words.
std::string found_words(const Options &o, const ostrivo::MotionEstimate &e) {
  char text[160];
  if (repairs_with_kernel(o, e))
    std::snprintf(text, sizeof text, "a shake of %d x %d px that is not straight (its kernel)",
                  e.kernel_width, e.kernel_height);
  else
    std::snprintf(text, sizeof text, "a straight motion (the %s line)",
                  o.classic ? "classic" : "smooth");
  std::string words = text;
  if (e.kernel_doubtful) words += "; the kernel found did not look like a shake";
  return words;
}

// Writes the kernel an estimate found as a 16-bit grey PNG, its peak white.
bool write_kernel(const Options &o, const ostrivo::MotionEstimate &e) {
  const ostrivo::SampledKernel &k = e.kernel;
  if (k.rows == 0) return true;
  Image image(k.rows, k.cols, 1, 16);
  double peak = 0.0;
  for (double w : k.weights) peak = std::max(peak, w);
  for (std::size_t p = 0; p < k.weights.size(); ++p)
    image.words()[p] = static_cast<std::uint16_t>(std::lround(65535.0 * k.weights[p] / peak));
  std::string error;
  if (ostrivo::cli::save_image(image, o.kernel_out, &error)) return true;
  std::fprintf(stderr, "ostrivo-cli: cannot write %s: %s\n", o.kernel_out, error.c_str());
  return false;
}

// Opens and decodes a photo for --estimate: only its pixels are held.
bool decode_photo(const std::string &input, Photo *photo, Image *image, std::string *error) {
  if (!photo->open(input, error)) return false;
  const double samples = static_cast<double>(photo->rows()) * photo->cols() * photo->bpp();
  const SampleFormat format = photo->bits() == 16 ? SampleFormat::u16 : SampleFormat::u8;
  // The estimate holds the pixels only: a repair of nothing costs no more.
  const ostrivo::JobResult fits = ostrivo::check_memory(
      {}, 1, 1, photo->bpp(), format, samples * static_cast<double>(ostrivo::sample_size(format)));
  if (fits.refusal != ostrivo::Refusal::none) {
    *error = ostrivo::refusal_message(fits.refusal);
    return false;
  }
  return photo->decode(image, error);
}

bool estimate_file(const Options &o, const std::string &input) {
  Photo photo;
  Image image;
  std::string error;
  if (!decode_photo(input, &photo, &image, &error)) {
    std::fprintf(stderr, "ostrivo-cli: %s: cannot read: %s\n", input.c_str(), error.c_str());
    return false;
  }
  const ostrivo::MotionEstimate e =
      ostrivo::estimate_shake(region_of(image, nullptr), o.max_kernel, o.linear_light != FALSE);
  if (e.status != ostrivo::EstimateStatus::estimated) {
    std::fprintf(stderr, "ostrivo-cli: %s: %s\n", input.c_str(),
                 ostrivo::estimate_failure(e.status));
    return false;
  }
  if (o.kernel_out != nullptr && !write_kernel(o, e)) return false;
  const Line line = line_found(o, e);
  const char *model = model_for(o, e);
  if (o.json)
    std::printf(
        "{\"file\": %s, \"length\": %.2f, \"direction\": %.1f, \"k\": %.4f, "
        "\"confidence\": %.2f, \"kernel_width\": %d, \"kernel_height\": %d, \"model\": "
        "\"%s\"}\n",
        json_string(input).c_str(), line.length, line.direction, e.k, e.confidence, e.kernel_width,
        e.kernel_height, model);
  else if (!ostrivo::found_motion(e) && e.kernel_doubtful)
    std::printf("%s: %s\n", input.c_str(), kUnreadBlur);
  else if (!ostrivo::found_motion(e))
    std::printf("%s: no motion found (confidence %.2f)\n", input.c_str(), e.confidence);
  else
    std::printf(
        "%s: %s; straight fit: length %.2f px, direction %.1f degrees; K %.4f (confidence "
        "%.2f)\n",
        input.c_str(), found_words(o, e).c_str(), line.length, line.direction, e.k, e.confidence);
  return true;
}

bool repair_file(const Options &o, const std::string &input, bool show_progress) {
  const std::string output = output_for(o, input);
  auto complain = [&](const std::string &what) {
    std::fprintf(stderr, "ostrivo-cli: %s: %s\n", input.c_str(), what.c_str());
    return false;
  };

  if (output == input || same_file(input, output))
    return complain("the output would overwrite the input; choose another --output");
  if (!o.force && g_file_test(output.c_str(), G_FILE_TEST_EXISTS))
    return complain(output + " exists; use --force to replace it");
  if (!ostrivo::cli::can_write(output))
    return complain(output +
                    ": cannot write this file type (use .jpg, .png, .tif, .webp, .heic, "
                    ".avif or .jxl)");

  Photo photo;
  std::string error;
  if (!photo.open(input, &error)) return complain("cannot read: " + error);
  // Refused from its header alone, before a pixel is decoded: the command
  // line holds the decoded photo and its result.
  const SampleFormat format = photo.bits() == 16 ? SampleFormat::u16 : SampleFormat::u8;
  const double photo_bytes = static_cast<double>(photo.rows()) * photo.cols() * photo.bpp() *
                             static_cast<double>(ostrivo::sample_size(format));
  const ostrivo::JobResult fits = ostrivo::check_memory(o.settings, photo.rows(), photo.cols(),
                                                        photo.bpp(), format, 2 * photo_bytes);
  if (fits.refusal != ostrivo::Refusal::none)
    return complain(ostrivo::refusal_message(fits, photo.rows(), photo.cols()));
  Image in, out;
  if (!photo.decode(&in, &error)) return complain("cannot read: " + error);

  // --auto: the settings the command line left out, from the photo itself.
  Options settled = o;
  bool keep = false;
  if (o.automatic && !(o.length.given && o.direction.given && o.k.given)) {
    const ostrivo::MotionEstimate e =
        ostrivo::estimate_shake(region_of(in, nullptr), o.max_kernel, o.linear_light != FALSE);
    if (e.status != ostrivo::EstimateStatus::estimated)
      return complain(std::string(ostrivo::estimate_failure(e.status)) +
                      "; give --length and --direction");
    if (o.kernel_out != nullptr && !write_kernel(o, e)) return false;
    const bool moved = ostrivo::found_motion(e);
    const Line line = line_found(o, e);
    const double length = o.length.given ? o.length.value : line.length;
    const double direction = o.direction.given ? o.direction.value : line.direction;
    const double k = o.k.given ? o.k.value : e.k;
    settled.settings = settings_for(o, length, direction, k);
    if (repairs_with_kernel(o, e)) {
      RepairSettings found = settled.settings;
      ostrivo::apply_estimate(e, &found);
      settled.settings.motion = found.motion;
    }
    // A photo in which --auto finds no motion is written as it is.
    keep = !o.length.given && !moved;
    if (!o.quiet) {
      if (keep && e.kernel_doubtful)
        std::printf("%s: %s; the photo is kept as it is\n", input.c_str(), kUnreadBlur);
      else if (keep)
        std::printf("%s: no motion found (confidence %.2f); the photo is kept as it is\n",
                    input.c_str(), e.confidence);
      else if (repairs_with_kernel(o, e))
        std::printf("%s: repairing with %s, K %.4f (confidence %.2f)\n", input.c_str(),
                    found_words(o, e).c_str(), k, e.confidence);
      else
        std::printf(
            "%s: repairing with %s: length %.2f px, direction %.1f degrees, K %.4f "
            "(confidence %.2f)\n",
            input.c_str(), found_words(o, e).c_str(), length, direction, k, e.confidence);
    }
  }

  g_progress_label = input;
  g_progress = show_progress && !keep ? draw_progress : nullptr;
  ostrivo::JobResult result;
  if (keep)
    out = in;
  else
    result = process(settled, in, &out);
  g_progress = nullptr;
  if (show_progress) std::fprintf(stderr, "\n");
  if (result.outcome == ostrivo::Outcome::refused)
    return complain(ostrivo::refusal_message(result, in.rows, in.cols));

  ostrivo::cli::SaveOptions save;
  save.quality = o.quality;
  if (!save_image(out, output, save, &photo, &error))
    return complain("cannot write " + output + ": " + error);
  if (!o.quiet) std::printf("%s -> %s\n", input.c_str(), output.c_str());
  return true;
}

// --- options -------------------------------------------------------------------

bool check_range(const char *name, double value, const ostrivo::SettingRange &range) {
  if (std::isfinite(value) && value >= range.lower && value <= range.upper) return true;
  std::fprintf(stderr, "ostrivo-cli: --%s must be between %g and %g (got %g)\n", name, range.lower,
               range.upper, value);
  return false;
}

bool check_int(const char *name, int value, int lower, int upper) {
  if (value >= lower && value <= upper) return true;
  std::fprintf(stderr, "ostrivo-cli: --%s must be between %d and %d (got %d)\n", name, lower, upper,
               value);
  return false;
}

// Parses a number given to one of the settings --auto can estimate.
gboolean parse_given(const gchar *name, const gchar *text, gpointer data, GError **error) {
  auto *o = static_cast<Options *>(data);
  const std::string option = name;
  Given *target = option == "-l" || option == "--length"      ? &o->length
                  : option == "-d" || option == "--direction" ? &o->direction
                                                              : &o->k;
  char *end = nullptr;
  const double value = g_ascii_strtod(text, &end);
  if (end == text || *end != '\0') {
    g_set_error(error, G_OPTION_ERROR, G_OPTION_ERROR_BAD_VALUE,
                "Cannot parse double value "
                "\u201c%s\u201d for %s",
                text, name);
    return FALSE;
  }
  *target = {value, true};
  return TRUE;
}

}  // namespace

int main(int argc, char **argv) {
  Options o;
  const auto given = reinterpret_cast<gpointer>(parse_given);
  const GOptionEntry entries[] = {
      {"length", 'l', 0, G_OPTION_ARG_CALLBACK, given,
       "Length of the motion in pixels, 1 to 100 (default 1); fractions count with the smooth "
       "model",
       "PIXELS"},
      {"direction", 'd', 0, G_OPTION_ARG_CALLBACK, given,
       "Direction of the motion in degrees, 0 to 359, clockwise from the right (default 0)",
       "DEGREES"},
      {"k", 'k', 0, G_OPTION_ARG_CALLBACK, given,
       "Wiener constant K, noise-to-signal ratio, 0.001 to 1 (default 0.001); the Wiener solver's",
       "K"},
      {"model", 'm', 0, G_OPTION_ARG_STRING, &o.model,
       "Motion model: smooth (a sub-pixel line, mirrored edges; the default) or classic (the GIMP "
       "2.10 plug-in's line and border frame)",
       "MODEL"},
      {"kernel", 0, 0, G_OPTION_ARG_FILENAME, &o.kernel_file,
       "Repair a motion of any shape: an image of what one bright point looks like in the "
       "blurred photo (its centre pixel on the point; colour taken as luminance)",
       "FILE"},
      {"solver", 0, 0, G_OPTION_ARG_STRING, &o.solver,
       "sparse (a sparse prior on the gradients, the photo's edges as unknowns; the default for "
       "the smooth model and kernels) or wiener (one division a frequency, with K)",
       "SOLVER"},
      {"strength", 0, 0, G_OPTION_ARG_DOUBLE, &o.strength,
       "Sparse solver: how firmly its prior holds, times the weight the photo's noise asks for, "
       "0.05 to 20 (default 1); lower gives more detail and more noise",
       "FACTOR"},
      {"frame-width", 'f', 0, G_OPTION_ARG_DOUBLE, &o.frame_width,
       "Classic model only: border frame width, percent of the image width, 0 to 10 (default 1)",
       "PERCENT"},
      {"repair-brightness", 'b', 0, G_OPTION_ARG_NONE, &o.repair_brightness,
       "Map the brightness range of the result onto the original's", nullptr},
      {"linear-light", 0, 0, G_OPTION_ARG_NONE, &o.linear_light,
       "Find and repair the blur in linear light (the sRGB curve undone, then redone), as a "
       "camera's shake blurred it: better on camera photos, worse on blur made on the encoded "
       "values",
       nullptr},
      {"output", 'o', 0, G_OPTION_ARG_FILENAME, &o.output,
       "Output file, for one input (.jpg, .png, .tif, .webp, .heic, .avif or .jxl)", "FILE"},
      {"output-dir", 'O', 0, G_OPTION_ARG_FILENAME, &o.output_dir,
       "Folder for the outputs, under the inputs' names", "DIR"},
      {"quality", 0, 0, G_OPTION_ARG_INT, &o.quality,
       "Quality of JPEG, WebP, HEIC, AVIF and JPEG XL outputs, 1 to 100 (default 95)", "Q"},
      {"force", 0, 0, G_OPTION_ARG_NONE, &o.force, "Replace outputs that exist", nullptr},
      {"quiet", 'q', 0, G_OPTION_ARG_NONE, &o.quiet, "No progress bar and no report", nullptr},
      {"simulate", 0, 0, G_OPTION_ARG_NONE, &o.simulate,
       "Apply the motion blur of these settings instead of repairing it", nullptr},
      {"estimate", 0, 0, G_OPTION_ARG_NONE, &o.estimate,
       "Print the motion found in each input (the shake's kernel, the straight line that fits it, "
       "the model --auto would use, K); write no image",
       nullptr},
      {"json", 0, 0, G_OPTION_ARG_NONE, &o.json,
       "With --estimate: one JSON object a line (file, length, direction, k, confidence, "
       "kernel_width, kernel_height, model)",
       nullptr},
      {"kernel-out", 0, 0, G_OPTION_ARG_FILENAME, &o.kernel_out,
       "With --estimate or --auto: write the kernel found as a grey PNG, its peak white", "FILE"},
      {"max-kernel", 0, 0, G_OPTION_ARG_INT, &o.max_kernel,
       "With --estimate or --auto: the largest shake sought, pixels across, 3 to 255 (default 75)",
       "PIXELS"},
      {"auto", 'a', 0, G_OPTION_ARG_NONE, &o.automatic,
       "Find the shake in the photo and repair it: with its kernel when it is not straight, "
       "else with the smooth line (settings given on the command line are kept)",
       nullptr},
      {"threads", 0, 0, G_OPTION_ARG_INT, &o.threads,
       "Threads to use (default: OSTRIVO_THREADS, else every core this process may use)", "N"},
      {"version", 0, 0, G_OPTION_ARG_NONE, &o.version, "Show the version and exit", nullptr},
      {G_OPTION_REMAINING, 0, 0, G_OPTION_ARG_FILENAME_ARRAY, &o.inputs, nullptr, "INPUT..."},
      {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
  };

  GOptionContext *context = g_option_context_new("- repair motion-blurred photos");
  GOptionGroup *group = g_option_group_new(nullptr, nullptr, nullptr, &o, nullptr);
  g_option_group_add_entries(group, entries);
  g_option_context_set_main_group(context, group);
  g_option_context_set_summary(
      context,
      "Repairs each INPUT blurred by a motion (a straight line, or any shape given as\n"
      "a kernel image) and writes NAME-repaired.EXT beside it (or --output, or into\n"
      "--output-dir). EXIF, XMP, IPTC and the colour profile are kept; 16-bit PNG\n"
      "and TIFF stay 16-bit.");
  GError *err = nullptr;
  const bool parsed = g_option_context_parse(context, &argc, &argv, &err);
  g_option_context_free(context);
  if (!parsed) {
    std::fprintf(stderr, "ostrivo-cli: %s\nTry 'ostrivo-cli --help'.\n", err->message);
    g_error_free(err);
    return kExitUsage;
  }
  if (o.version) {
    std::printf("ostrivo-cli %s\n", OSTRIVO_VERSION);
    return kExitOk;
  }

  const int count = o.inputs != nullptr ? static_cast<int>(g_strv_length(o.inputs)) : 0;
  bool usable = check_range("length", o.length.value, ostrivo::kLengthRange) &&
                check_range("direction", o.direction.value, ostrivo::kDirectionRange) &&
                check_range("k", o.k.value, ostrivo::kKRange) &&
                check_range("frame-width", o.frame_width, ostrivo::kFrameWidthRange) &&
                check_range("strength", o.strength, ostrivo::kStrengthRange) &&
                check_int("quality", o.quality, 1, 100) &&
                check_int("max-kernel", o.max_kernel, 3, ostrivo::kMaxKernelSize) &&
                check_int("threads", o.threads, 0, ostrivo::kMaxThreads);
  const std::string model = o.model != nullptr ? o.model : "smooth";
  if (usable && model != "smooth" && model != "classic") {
    std::fprintf(stderr, "ostrivo-cli: --model must be smooth or classic (got %s)\n",
                 model.c_str());
    usable = false;
  }
  const std::string solver = o.solver != nullptr ? o.solver : "";
  if (usable && !solver.empty() && solver != "sparse" && solver != "wiener") {
    std::fprintf(stderr, "ostrivo-cli: --solver must be sparse or wiener (got %s)\n",
                 solver.c_str());
    usable = false;
  }
  if (usable && model == "classic" && (solver == "sparse" || o.kernel_file != nullptr)) {
    std::fprintf(stderr,
                 "ostrivo-cli: the classic model is a straight line restored by the Wiener "
                 "filter; leave out --%s\n",
                 o.kernel_file != nullptr ? "kernel" : "solver sparse");
    usable = false;
  }
  if (usable && o.kernel_file != nullptr && (o.automatic || o.estimate)) {
    std::fprintf(stderr, "ostrivo-cli: --kernel gives the motion; it does not go with --%s\n",
                 o.automatic ? "auto" : "estimate");
    usable = false;
  }
  if (usable && o.estimate + o.automatic + o.simulate > 1) {
    std::fprintf(stderr, "ostrivo-cli: choose one of --estimate, --auto and --simulate\n");
    usable = false;
  }
  if (usable && o.kernel_out != nullptr && !o.estimate && !o.automatic) {
    std::fprintf(stderr, "ostrivo-cli: --kernel-out goes with --estimate or --auto\n");
    usable = false;
  }
  if (usable && o.kernel_out != nullptr && count > 1) {
    std::fprintf(stderr, "ostrivo-cli: --kernel-out takes one input\n");
    usable = false;
  }
  if (usable && o.json && !o.estimate) {
    std::fprintf(stderr, "ostrivo-cli: --json goes with --estimate\n");
    usable = false;
  }
  if (usable && count == 0) {
    std::fprintf(stderr, "ostrivo-cli: no input files\nTry 'ostrivo-cli --help'.\n");
    usable = false;
  }
  if (usable && o.output != nullptr && o.output_dir != nullptr) {
    std::fprintf(stderr, "ostrivo-cli: give --output or --output-dir, not both\n");
    usable = false;
  }
  if (usable && o.output != nullptr && count > 1) {
    std::fprintf(stderr, "ostrivo-cli: --output takes one input; use --output-dir for more\n");
    usable = false;
  }
  if (usable && o.output_dir != nullptr && !g_file_test(o.output_dir, G_FILE_TEST_IS_DIR)) {
    std::fprintf(stderr, "ostrivo-cli: --output-dir %s is not a folder\n", o.output_dir);
    usable = false;
  }
  if (!usable) return kExitUsage;
  if (!ostrivo::cli::start_vips(argv[0])) {
    std::fprintf(stderr, "ostrivo-cli: cannot start libvips\n");
    return kExitFailedInput;
  }
  o.classic = model == "classic";
  o.wiener = solver == "wiener";
  if (o.kernel_file != nullptr && !read_kernel(&o)) {
    vips_shutdown();
    return kExitFailedInput;
  }
  o.settings = settings_for(o, o.length.value, o.direction.value, o.k.value);

  const bool show_progress = !o.quiet && !o.simulate && !o.estimate && isatty(STDERR_FILENO);
  int failures = 0;
  for (int i = 0; i < count; ++i) {
    const bool done =
        o.estimate ? estimate_file(o, o.inputs[i]) : repair_file(o, o.inputs[i], show_progress);
    failures += done ? 0 : 1;
  }

  g_strfreev(o.inputs);
  g_free(o.output);
  g_free(o.output_dir);
  g_free(o.kernel_out);
  g_free(o.model);
  g_free(o.solver);
  g_free(o.kernel_file);
  vips_shutdown();
  return failures == 0 ? kExitOk : kExitFailedInput;
}
