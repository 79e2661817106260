// ostrivo-cli: repairs motion-blurred image files with the engine the GIMP
// plug-in uses, or (--simulate) applies such a motion blur.
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/image_file.h"
#include "engine/pipeline.h"
#include "engine/progress.h"
#include "engine/settings.h"
#include "engine/threads.h"

using ostrivo::bvals;
using ostrivo::cli::Image;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailedInput = 1;
constexpr int kExitUsage = 2;

struct Options {
  double length = ostrivo::kDefaultBlurVals.length;
  double direction = ostrivo::kDefaultBlurVals.direction;
  double k = ostrivo::kDefaultBlurVals.k;
  double frame_width = ostrivo::kDefaultBlurVals.frame_width;
  gboolean repair_brightness = FALSE;
  gchar *output = nullptr;
  gchar *output_dir = nullptr;
  gboolean force = FALSE;
  gboolean quiet = FALSE;
  gboolean simulate = FALSE;
  gboolean version = FALSE;
  int threads = 0;
  gchar **inputs = nullptr;
};

// --- progress bar on a terminal --------------------------------------------

std::string g_progress_label;

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
  const bool writable = !ostrivo::cli::writer_for(input).empty();
  return stem + "-" + suffix + (writable ? ext : ".png");
}

std::string output_for(const Options &o, const std::string &input) {
  const char *suffix = o.simulate ? "blurred" : "repaired";
  if (o.output != nullptr) return o.output;
  if (o.output_dir != nullptr) {
    gchar *base = g_path_get_basename(input.c_str());
    std::string path = std::string(o.output_dir) + "/" + base;
    g_free(base);
    if (ostrivo::cli::writer_for(path).empty()) path = default_output(path, suffix);
    return path;
  }
  return default_output(input, suffix);
}

// --- one file ------------------------------------------------------------------

// The whole image is the region, trimmed to even width and height as a
// final run in the editor trims a selection; the trimmed column and row
// keep their pixels.
bool process(const Options &o, const Image &in, Image *out) {
  const int rows = in.rows - in.rows % 2;
  const int cols = in.cols - in.cols % 2;
  const auto row_bytes = static_cast<std::size_t>(cols) * in.bpp;
  const auto full_row = static_cast<std::size_t>(in.cols) * in.bpp;
  const bool trimmed = rows != in.rows || cols != in.cols;

  // An even-sized image is the region itself; otherwise the region is
  // copied out, and the result copied back over a copy of the image.
  std::string region, result;
  const guchar *src = in.data();
  if (trimmed) {
    *out = in;
    region.resize(row_bytes * rows);
    for (int r = 0; r < rows; ++r)
      std::memcpy(&region[r * row_bytes], in.data() + r * full_row, row_bytes);
    result.resize(region.size());
    src = reinterpret_cast<const guchar *>(region.data());
  } else {
    out->rows = in.rows;
    out->cols = in.cols;
    out->bpp = in.bpp;
    out->pixels.resize(in.pixels.size());
  }
  guchar *dst = trimmed ? reinterpret_cast<guchar *>(&result[0]) : out->data();

  bool ok;
  if (o.simulate) {
    ok = ostrivo::imageMotionBlur(src, &dst, rows, cols, in.bpp);
  } else {
    ostrivo::progress_start(ostrivo::final_run_ticks(in.bpp));
    ostrivo::progress_tick();
    ok = ostrivo::imageRestoration(src, &dst, rows, cols, in.bpp);
    ostrivo::progress_tick();
  }
  if (!ok) return false;
  if (trimmed)
    for (int r = 0; r < rows; ++r)
      std::memcpy(out->data() + r * full_row, &result[r * row_bytes], row_bytes);
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
  if (ostrivo::cli::writer_for(output).empty())
    return complain(output + ": cannot write this file type (use .png, .jpg or .tif)");

  Image in, out;
  std::string error;
  if (!load_image(input, &in, &error)) return complain("cannot read: " + error);

  g_progress_label = input;
  ostrivo::progress_set_reporter(show_progress ? draw_progress : nullptr);
  const bool ok = process(o, in, &out);
  ostrivo::progress_set_reporter(nullptr);
  if (show_progress) std::fprintf(stderr, "\n");
  if (!ok) return complain("too large to process in this machine's memory");

  if (!save_image(out, output, &error)) return complain("cannot write " + output + ": " + error);
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

}  // namespace

int main(int argc, char **argv) {
  Options o;
  const GOptionEntry entries[] = {
      {"length", 'l', 0, G_OPTION_ARG_DOUBLE, &o.length,
       "Length of the motion in pixels, 1 to 100 (default 1)", "PIXELS"},
      {"direction", 'd', 0, G_OPTION_ARG_DOUBLE, &o.direction,
       "Direction of the motion in degrees, 0 to 359, clockwise from the right (default 0)",
       "DEGREES"},
      {"k", 'k', 0, G_OPTION_ARG_DOUBLE, &o.k,
       "Wiener constant K, noise-to-signal ratio, 0.001 to 1 (default 0.001)", "K"},
      {"frame-width", 'f', 0, G_OPTION_ARG_DOUBLE, &o.frame_width,
       "Border frame width, percent of the image width, 0 to 10 (default 1)", "PERCENT"},
      {"repair-brightness", 'b', 0, G_OPTION_ARG_NONE, &o.repair_brightness,
       "Map the brightness range of the result onto the original's", nullptr},
      {"output", 'o', 0, G_OPTION_ARG_FILENAME, &o.output,
       "Output file, for one input (.png, .jpg or .tif)", "FILE"},
      {"output-dir", 'O', 0, G_OPTION_ARG_FILENAME, &o.output_dir,
       "Folder for the outputs, under the inputs' names", "DIR"},
      {"force", 0, 0, G_OPTION_ARG_NONE, &o.force, "Replace outputs that exist", nullptr},
      {"quiet", 'q', 0, G_OPTION_ARG_NONE, &o.quiet, "No progress bar and no report", nullptr},
      {"simulate", 0, 0, G_OPTION_ARG_NONE, &o.simulate,
       "Apply the motion blur of these settings instead of repairing it", nullptr},
      {"threads", 0, 0, G_OPTION_ARG_INT, &o.threads,
       "Threads to use (default: OSTRIVO_THREADS, else every core this process may use)", "N"},
      {"version", 0, 0, G_OPTION_ARG_NONE, &o.version, "Show the version and exit", nullptr},
      {G_OPTION_REMAINING, 0, 0, G_OPTION_ARG_FILENAME_ARRAY, &o.inputs, nullptr, "INPUT..."},
      {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
  };

  GOptionContext *context = g_option_context_new("- repair motion-blurred photos");
  g_option_context_set_summary(
      context,
      "Repairs each INPUT by Wiener deconvolution of a straight motion and writes\n"
      "NAME-repaired.EXT beside it (or --output, or into --output-dir).");
  g_option_context_add_main_entries(context, entries, nullptr);
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
  bool usable = check_range("length", o.length, ostrivo::kLengthRange) &&
                check_range("direction", o.direction, ostrivo::kDirectionRange) &&
                check_range("k", o.k, ostrivo::kKRange) &&
                check_range("frame-width", o.frame_width, ostrivo::kFrameWidthRange);
  if (usable && (o.threads < 0 || o.threads > ostrivo::kMaxThreads)) {
    std::fprintf(stderr, "ostrivo-cli: --threads must be between 0 and %d (got %d)\n",
                 ostrivo::kMaxThreads, o.threads);
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

  ostrivo::set_engine_threads(o.threads);
  bvals = ostrivo::kDefaultBlurVals;
  bvals.length = o.length;
  bvals.direction = o.direction;
  bvals.k = o.k;
  bvals.frame_width = o.frame_width;
  bvals.repair_brightness = o.repair_brightness ? 1 : 0;
  bvals.preview = 0;

  const bool show_progress = !o.quiet && !o.simulate && isatty(STDERR_FILENO);
  int failures = 0;
  for (int i = 0; i < count; ++i) failures += repair_file(o, o.inputs[i], show_progress) ? 0 : 1;

  g_strfreev(o.inputs);
  g_free(o.output);
  g_free(o.output_dir);
  return failures == 0 ? kExitOk : kExitFailedInput;
}
