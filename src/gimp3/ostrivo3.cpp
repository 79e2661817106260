// Ostrivo for GIMP 3: repairs motion-blurred photos by Wiener deconvolution
// of a straight motion, on the engine the GIMP 2.10 plug-in and ostrivo-cli
// use. In this file, in order: the plug-in type and its one procedure, the
// run modes, the region driver `render` (one function for the final run and
// the live preview), and the dialog.
#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <variant>
#include <vector>

#include "ostrivo/estimate.h"
#include "ostrivo/repair.h"
#include "ostrivo/settings.h"

#define PLUG_IN_PROC "plug-in-ostrivo"
#define PLUG_IN_BINARY "ostrivo"
#define PLUG_IN_ROLE "ostrivo"

using ostrivo::PixelRegion;
using ostrivo::Rect;
using ostrivo::RepairSettings;
using ostrivo::SampleFormat;

// --- the plug-in type ---------------------------------------------------------------

struct Ostrivo {
  GimpPlugIn parent_instance;
};

struct OstrivoClass {
  GimpPlugInClass parent_class;
};

static GList *ostrivo_query_procedures(GimpPlugIn *plug_in);
static GimpProcedure *ostrivo_create_procedure(GimpPlugIn *plug_in, const gchar *name);
static GimpValueArray *ostrivo_run(GimpProcedure *procedure, GimpRunMode run_mode, GimpImage *image,
                                   GimpDrawable **drawables, GimpProcedureConfig *config,
                                   gpointer run_data);

G_DEFINE_TYPE(Ostrivo, ostrivo, GIMP_TYPE_PLUG_IN)

GIMP_MAIN(ostrivo_get_type())

static void ostrivo_class_init(OstrivoClass *klass) {
  GimpPlugInClass *plug_in_class = GIMP_PLUG_IN_CLASS(klass);
  plug_in_class->query_procedures = ostrivo_query_procedures;
  plug_in_class->create_procedure = ostrivo_create_procedure;
}

static void ostrivo_init(Ostrivo * /*ostrivo*/) {}

static GList *ostrivo_query_procedures(GimpPlugIn * /*plug_in*/) {
  return g_list_append(nullptr, g_strdup(PLUG_IN_PROC));
}

// The choices of the "model" and "solver" arguments, by their ids.
enum ModelChoice { kSmooth = 0, kClassic = 1, kKernel = 2 };
enum SolverChoice { kSparse = 0, kWiener = 1 };

static GimpProcedure *ostrivo_create_procedure(GimpPlugIn *plug_in, const gchar *name) {
  if (g_strcmp0(name, PLUG_IN_PROC) != 0) return nullptr;
  GimpProcedure *procedure = gimp_image_procedure_new(plug_in, name, GIMP_PDB_PROC_TYPE_PLUGIN,
                                                      ostrivo_run, nullptr, nullptr);
  gimp_procedure_set_image_types(procedure, "RGB*, GRAY*");
  gimp_procedure_set_sensitivity_mask(procedure, GIMP_PROCEDURE_SENSITIVE_DRAWABLE);
  gimp_procedure_set_menu_label(procedure, "_Ostrivo...");
  gimp_procedure_add_menu_path(procedure, "<Image>/Filters/Enhance");
  gimp_procedure_set_documentation(
      procedure, "Repair motion blur",
      "Repairs a photo blurred by camera shake: a straight motion (give its length in pixels "
      "and its direction in degrees, clockwise from \"to the right\", or let it be estimated "
      "from the photo) or a motion of any shape (give an image of its kernel: what one "
      "bright point looks like in the blurred photo). The smooth model draws the line with "
      "sub-pixel accuracy; the classic model is the GIMP 2.10 plug-in's line and border "
      "frame. The sparse solver keeps edges sharp with few ripples and treats what lies "
      "beyond the area as unknown (strength: how firmly; lower gives more detail and more "
      "noise); the Wiener solver is one division a frequency, with K the noise-to-signal "
      "ratio. The classic model always uses the Wiener solver.",
      name);
  gimp_procedure_set_attribution(procedure, "The Ostrivo developers",
                                 "Copyright The Ostrivo developers", "2026");

  const ostrivo::SettingRange &length = ostrivo::kLengthRange;
  const ostrivo::SettingRange &direction = ostrivo::kDirectionRange;
  const ostrivo::SettingRange &k = ostrivo::kKRange;
  const ostrivo::SettingRange &frame = ostrivo::kFrameWidthRange;
  gimp_procedure_add_double_argument(procedure, "length", "Len_gth",
                                     "Length of the motion in pixels", length.lower, length.upper,
                                     length.fallback, G_PARAM_READWRITE);
  gimp_procedure_add_double_argument(procedure, "direction", "_Direction",
                                     "Direction of the motion in degrees, clockwise from "
                                     "\"to the right\" (90 is straight down)",
                                     direction.lower, direction.upper, direction.fallback,
                                     G_PARAM_READWRITE);
  gimp_procedure_add_double_argument(procedure, "k", "_K (noise to signal)",
                                     "Wiener constant K, the noise-to-signal ratio", k.lower,
                                     k.upper, k.fallback, G_PARAM_READWRITE);
  gimp_procedure_add_double_argument(procedure, "frame-width", "_Frame width (classic, %)",
                                     "Classic model only: border frame width, percent of the "
                                     "area's width",
                                     frame.lower, frame.upper, frame.fallback, G_PARAM_READWRITE);
  gimp_procedure_add_boolean_argument(procedure, "repair-brightness", "Repair _brightness",
                                      "Map the brightness range of the result onto the "
                                      "original's",
                                      FALSE, G_PARAM_READWRITE);
  gimp_procedure_add_choice_argument(
      procedure, "model", "Mo_tion model", "How the motion is modelled",
      gimp_choice_new_with_values("smooth", kSmooth, "Smooth (sub-pixel line)", nullptr, "classic",
                                  kClassic, "Classic (the GIMP 2.10 plug-in's line and frame)",
                                  nullptr, "kernel", kKernel, "Kernel (any shape, from an image)",
                                  nullptr, nullptr),
      "smooth", G_PARAM_READWRITE);
  gimp_procedure_add_boolean_argument(procedure, "auto-estimate", "Estimate the motion first",
                                      "Non-interactive runs: find the shake in the selection "
                                      "and repair it with what was found (its kernel when it is "
                                      "not straight, else the line; the classic model takes the "
                                      "line), leaving a sharp selection as it is",
                                      FALSE, G_PARAM_READWRITE);
  gimp_procedure_add_file_argument(procedure, "kernel-file", "Kernel _image",
                                   "Kernel model: an image of what one bright point looks like "
                                   "in the blurred photo, its centre pixel on the point (colour "
                                   "is taken as luminance, alpha left out)",
                                   GIMP_FILE_CHOOSER_ACTION_OPEN, TRUE, nullptr, G_PARAM_READWRITE);
  gimp_procedure_add_choice_argument(
      procedure, "solver", "_Solver", "How the motion is undone",
      gimp_choice_new_with_values("sparse", kSparse, "Sparse (sharp edges, edges as unknowns)",
                                  nullptr, "wiener", kWiener, "Wiener (fast, with K)", nullptr,
                                  nullptr),
      "sparse", G_PARAM_READWRITE);
  const ostrivo::SettingRange &strength = ostrivo::kStrengthRange;
  gimp_procedure_add_double_argument(procedure, "strength", "S_trength (sparse)",
                                     "Sparse solver: how firmly its prior holds, times the weight "
                                     "the photo's noise asks for; lower gives more detail and "
                                     "more noise",
                                     strength.lower, strength.upper, strength.fallback,
                                     G_PARAM_READWRITE);
  gimp_procedure_add_boolean_argument(procedure, "linear-light", "In _linear light",
                                      "Find and repair the shake in the light itself: the sRGB "
                                      "curve undone first and redone after, as a camera's shake "
                                      "blurred the light (better on camera photos, worse on dark "
                                      "ones)",
                                      FALSE, G_PARAM_READWRITE);
  return procedure;
}

// --- settings and areas -----------------------------------------------------------

// What a repair takes besides the config: the kernel image, read, and the
// selection's noise, measured once so that previews and the final run hold
// the same.
struct Inputs {
  ostrivo::SampledKernel kernel;
  std::string kernel_error;   // why the kernel cannot be had; "" when it can
  bool kernel_found = false;  // the kernel is the estimate's, not the file's
  double noise = -1.0;        // levels of 255; negative: the repair measures it
};

static bool in_light(GimpProcedureConfig *config) {
  gboolean linear = FALSE;
  g_object_get(config, "linear-light", &linear, nullptr);
  return linear != FALSE;
}

static bool kernel_model(GimpProcedureConfig *config) {
  return gimp_procedure_config_get_choice_id(config, "model") == kKernel;
}

static RepairSettings settings_of(GimpProcedureConfig *config, const Inputs &inputs) {
  RepairSettings s;
  double length = 0, direction = 0, frame_width = 0;
  gboolean brightness = FALSE;
  g_object_get(config, "length", &length, "direction", &direction, "k", &s.k, "frame-width",
               &frame_width, "repair-brightness", &brightness, "strength", &s.strength, nullptr);
  s.repair_brightness = brightness != FALSE;
  const int model = gimp_procedure_config_get_choice_id(config, "model");
  if (model == kClassic)
    s.motion = ostrivo::ClassicLine{length, direction, frame_width};
  else if (model == kKernel)
    s.motion = inputs.kernel;
  else
    s.motion = ostrivo::SmoothLine{length, direction};
  s.solver = gimp_procedure_config_get_choice_id(config, "solver") == kWiener
                 ? ostrivo::SolverKind::wiener
                 : ostrivo::SolverKind::sparse;
  s.linear_light = in_light(config);
  s.noise = inputs.noise;
  return s;
}

// Shows a motion's own settings in the config (a line found while the
// model was the kernel turns the model to the smooth line).
static void show_settings(GimpProcedureConfig *config, const RepairSettings &s) {
  if (const auto *line = std::get_if<ostrivo::ClassicLine>(&s.motion)) {
    g_object_set(config, "length", line->length, "direction", line->direction, nullptr);
  } else if (const auto *smooth = std::get_if<ostrivo::SmoothLine>(&s.motion)) {
    g_object_set(config, "length", smooth->length, "direction", smooth->direction, nullptr);
    if (kernel_model(config)) g_object_set(config, "model", "smooth", nullptr);
  }
  g_object_set(config, "k", s.k, nullptr);
}

// The selection's bounding box (the whole drawable without one).
static Rect selection_box(GimpDrawable *drawable) {
  gint x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  gimp_drawable_mask_bounds(drawable, &x1, &y1, &x2, &y2);
  return {x1, y1, x2 - x1, y2 - y1};
}

// How the engine takes the drawable's pixels: 8-bit drawables as their
// bytes (the bytes the GIMP 2.10 plug-in sees), all others as floats at
// their own precision.
struct PixelFormat {
  const Babl *babl;
  int channels;
  SampleFormat samples;
  std::size_t bytes(const Rect &a) const {
    return static_cast<std::size_t>(a.width) * a.height * channels * ostrivo::sample_size(samples);
  }
};

static PixelFormat pixel_format(GimpDrawable *drawable) {
  const bool grey = gimp_drawable_is_gray(drawable);
  const bool alpha = gimp_drawable_has_alpha(drawable);
  const bool eight = babl_format_get_type(gimp_drawable_get_format(drawable), 0) == babl_type("u8");
  const char *name = grey ? (alpha ? "Y'A" : "Y'") : (alpha ? "R'G'B'A" : "R'G'B'");
  const std::string format = std::string(name) + (eight ? " u8" : " float");
  // In the layer's own colour space: the repair works on the samples the
  // image holds, as the GIMP 2.10 plug-in and the command line do. (Plain
  // "R'G'B' u8" is sRGB, and a photo with another profile would be
  // converted there and back.)
  return {babl_format_with_space(format.c_str(), gimp_drawable_get_format(drawable)),
          (grey ? 1 : 3) + (alpha ? 1 : 0), eight ? SampleFormat::u8 : SampleFormat::f32};
}

static PixelRegion region_of(const Rect &a, const PixelFormat &f, const void *src, void *dst) {
  return {a.height, a.width, f.channels, f.samples, src, dst};
}

static std::vector<guchar> read_pixels(GeglBuffer *source, const Rect &a, const PixelFormat &f) {
  std::vector<guchar> pixels(f.bytes(a));
  gegl_buffer_get(source, GEGL_RECTANGLE(a.x, a.y, a.width, a.height), 1.0, f.babl, pixels.data(),
                  GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
  return pixels;
}

// --- the region driver --------------------------------------------------------------

// Shows in the preview what the repair will give on the area it shows (or,
// with no settings, the area as it is).
static void render_preview_area(GimpDrawable *drawable, const RepairSettings *s,
                                GimpPreview *preview) {
  const PixelFormat format = pixel_format(drawable);
  Rect view;
  gimp_preview_get_position(preview, &view.x, &view.y);
  gimp_preview_get_size(preview, &view.width, &view.height);
  GeglBuffer *source = gimp_drawable_get_buffer(drawable);
  // The preview draws 8-bit sRGB samples; what lies outside the area a
  // repair restores stays as it is.
  const Babl *shown_format = babl_format(format.channels == 1   ? "Y' u8"
                                         : format.channels == 2 ? "Y'A u8"
                                         : format.channels == 3 ? "R'G'B' u8"
                                                                : "R'G'B'A u8");
  std::vector<guchar> canvas(static_cast<std::size_t>(view.width) * view.height * format.channels);
  gegl_buffer_get(source, GEGL_RECTANGLE(view.x, view.y, view.width, view.height), 1.0,
                  shown_format, canvas.data(), GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
  const ostrivo::PreviewPlan plan = s != nullptr
                                        ? ostrivo::plan_preview(*s, selection_box(drawable), view)
                                        : ostrivo::PreviewPlan{};
  if (!plan.shown.empty()) {
    const Rect &context = plan.context;
    std::vector<guchar> in = read_pixels(source, context, format);
    std::vector<guchar> out(in.size());
    ostrivo::repair_preview(region_of(context, format, in.data(), out.data()), plan, *s);
    GeglBuffer *repaired = gegl_buffer_linear_new_from_data(
        out.data(), format.babl, GEGL_RECTANGLE(0, 0, context.width, context.height),
        GEGL_AUTO_ROWSTRIDE, nullptr, nullptr);
    const Rect &shown = plan.shown;
    const std::size_t row = static_cast<std::size_t>(view.width) * format.channels;
    gegl_buffer_get(
        repaired,
        GEGL_RECTANGLE(shown.x - context.x, shown.y - context.y, shown.width, shown.height), 1.0,
        shown_format,
        canvas.data() + static_cast<std::size_t>(shown.y - view.y) * row +
            static_cast<std::size_t>(shown.x - view.x) * format.channels,
        static_cast<gint>(row), GEGL_ABYSS_NONE);
    g_object_unref(repaired);
  }
  gimp_preview_draw_buffer(preview, canvas.data(), view.width * format.channels);
  g_object_unref(source);
}

// Why a repair did not happen, and what to tell the user.
struct Refused {
  ostrivo::Refusal why = ostrivo::Refusal::none;
  std::string message;
};

// Repairs the drawable's selection as one undo step; the drawable stays as
// it was when it is refused.
static Refused repair_selection(GimpDrawable *drawable, const RepairSettings &s) {
  const PixelFormat format = pixel_format(drawable);
  const Rect box = selection_box(drawable);
  // The memory is checked before a pixel is read: the plug-in holds the
  // area and its result, and GEGL's tiles of the layer and of its shadow
  // pass through its cache on the way.
  const double area_bytes = static_cast<double>(format.bytes(box));
  const double tile_bytes = static_cast<double>(box.width) * box.height *
                            babl_format_get_bytes_per_pixel(gimp_drawable_get_format(drawable));
  const ostrivo::JobResult fits = ostrivo::check_memory(
      s, box.height, box.width, format.channels, format.samples, 2.0 * (area_bytes + tile_bytes));
  if (fits.refusal != ostrivo::Refusal::none)
    return {fits.refusal, ostrivo::refusal_message(fits, box.height, box.width)};

  gimp_progress_init("Repairing motion blur");
  GeglBuffer *source = gimp_drawable_get_buffer(drawable);
  std::vector<guchar> in = read_pixels(source, box, format);
  g_object_unref(source);
  std::vector<guchar> out(in.size());
  ostrivo::RepairOptions options;
  options.progress = [](double fraction) { gimp_progress_update(fraction); };
  const ostrivo::JobResult result =
      ostrivo::repair_area(region_of(box, format, in.data(), out.data()), s, options);
  if (result.outcome == ostrivo::Outcome::refused) {
    gimp_progress_end();
    return {result.refusal, ostrivo::refusal_message(result, box.height, box.width)};
  }
  GeglBuffer *shadow = gimp_drawable_get_shadow_buffer(drawable);
  gegl_buffer_set(shadow, GEGL_RECTANGLE(box.x, box.y, box.width, box.height), 0, format.babl,
                  out.data(), GEGL_AUTO_ROWSTRIDE);
  g_object_unref(shadow);
  gimp_drawable_merge_shadow(drawable, TRUE);
  gimp_drawable_update(drawable, box.x, box.y, box.width, box.height);
  gimp_progress_end();
  return {};
}

// The one render function of the final run (preview null) and the live
// preview. Nothing is thrown out of here: memory that runs out while the
// host's pixels are read is a refusal too.
static Refused render(GimpDrawable *drawable, const RepairSettings *s, GimpPreview *preview) {
  try {
    if (preview != nullptr) {
      render_preview_area(drawable, s, preview);
      return {};
    }
    return repair_selection(drawable, *s);
  } catch (const std::exception &) {
    if (preview == nullptr) gimp_progress_end();
    return {ostrivo::Refusal::no_memory, ostrivo::refusal_message(ostrivo::Refusal::no_memory)};
  }
}

// The pixels of the drawable's selection box.
static std::vector<guchar> selection_pixels(GimpDrawable *drawable, const PixelFormat &format,
                                            const Rect &box) {
  GeglBuffer *source = gimp_drawable_get_buffer(drawable);
  std::vector<guchar> pixels = read_pixels(source, box, format);
  g_object_unref(source);
  return pixels;
}

// Estimates the shake in the drawable's selection and, when it finds one,
// puts it into the config and `inputs` as a repair will take it: a kernel
// turns the model to the kernel.
static ostrivo::MotionEstimate estimate_into(GimpDrawable *drawable, GimpProcedureConfig *config,
                                             Inputs *inputs) {
  const PixelFormat format = pixel_format(drawable);
  const Rect box = selection_box(drawable);
  std::vector<guchar> pixels = selection_pixels(drawable, format, box);
  ostrivo::MotionEstimate e = ostrivo::estimate_shake(
      region_of(box, format, pixels.data(), nullptr), ostrivo::kDefaultMaxKernel, in_light(config));
  RepairSettings s = settings_of(config, *inputs);
  if (!ostrivo::apply_estimate(e, &s)) return e;
  if (std::holds_alternative<ostrivo::SampledKernel>(s.motion)) {
    inputs->kernel = e.kernel;
    inputs->kernel_error.clear();
    inputs->kernel_found = true;
    g_object_set(config, "model", "kernel", nullptr);
  }
  show_settings(config, s);
  return e;
}

// A picture of a kernel, its peak white, each weight a square of `zoom`
// pixels.
static GdkPixbuf *kernel_picture(const ostrivo::SampledKernel &k, int zoom) {
  GdkPixbuf *picture = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, k.cols * zoom, k.rows * zoom);
  double peak = 0.0;
  for (double w : k.weights) peak = std::max(peak, w);
  const int stride = gdk_pixbuf_get_rowstride(picture);
  guchar *pixels = gdk_pixbuf_get_pixels(picture);
  for (int y = 0; y < k.rows * zoom; ++y)
    for (int x = 0; x < k.cols * zoom; ++x) {
      const double w = k.weights[static_cast<std::size_t>(y / zoom) * k.cols + x / zoom];
      const auto v = static_cast<guchar>(std::lround(255.0 * (peak > 0 ? w / peak : 0.0)));
      guchar *px = pixels + static_cast<std::size_t>(y) * stride + 3 * x;
      px[0] = px[1] = px[2] = v;
    }
  return picture;
}

// The noise of the drawable's selection.
static double selection_noise(GimpDrawable *drawable) {
  const PixelFormat format = pixel_format(drawable);
  const Rect box = selection_box(drawable);
  std::vector<guchar> pixels = selection_pixels(drawable, format, box);
  return ostrivo::measure_noise(region_of(box, format, pixels.data(), nullptr));
}

// Reads the kernel image the config names into `inputs`.
static void read_kernel(GimpProcedureConfig *config, Inputs *inputs) {
  inputs->kernel = {};
  inputs->kernel_error.clear();
  GFile *file = nullptr;
  g_object_get(config, "kernel-file", &file, nullptr);
  if (file == nullptr) {
    inputs->kernel_error = "no kernel image is chosen";
    return;
  }
  gchar *name = g_file_get_parse_name(file);
  GimpImage *image = gimp_file_load(GIMP_RUN_NONINTERACTIVE, file);
  GimpLayer **layers = image != nullptr ? gimp_image_get_layers(image) : nullptr;
  if (layers == nullptr || layers[0] == nullptr) {
    inputs->kernel_error = std::string("cannot read the kernel image ") + name;
  } else {
    // The kernel's samples at their own depth, as the command line reads them.
    GimpDrawable *layer = GIMP_DRAWABLE(layers[0]);
    const Babl *type = babl_format_get_type(gimp_drawable_get_format(layer), 0);
    const bool eight = type == babl_type("u8"), sixteen = type == babl_type("u16");
    const bool grey = gimp_drawable_is_gray(layer);
    const std::string format_name = std::string(grey ? "Y'" : "R'G'B'") + (eight     ? " u8"
                                                                           : sixteen ? " u16"
                                                                                     : " float");
    const PixelFormat format{
        babl_format_with_space(format_name.c_str(), gimp_drawable_get_format(layer)), grey ? 1 : 3,
        eight     ? SampleFormat::u8
        : sixteen ? SampleFormat::u16
                  : SampleFormat::f32};
    const Rect all{0, 0, gimp_drawable_get_width(layer), gimp_drawable_get_height(layer)};
    std::vector<guchar> pixels = selection_pixels(layer, format, all);
    inputs->kernel = ostrivo::kernel_from_image(region_of(all, format, pixels.data(), nullptr));
    const ostrivo::Refusal refusal = ostrivo::check_kernel(inputs->kernel);
    if (refusal != ostrivo::Refusal::none) inputs->kernel_error = ostrivo::refusal_message(refusal);
  }
  g_free(layers);
  if (image != nullptr) gimp_image_delete(image);
  g_free(name);
  g_object_unref(file);
}

// --- the dialog ---------------------------------------------------------------------

struct DialogState {
  GimpDrawable *drawable;
  GimpProcedureConfig *config;
  GimpProcedureDialog *dialog;
  Inputs inputs;
  GtkWidget *preview = nullptr;
  GtkWidget *note = nullptr;
  GtkWidget *kernel_view = nullptr;  // the kernel found or read
};

// Shows the kernel of the kernel model beside the settings (nothing for a
// line).
static void show_kernel(DialogState *state) {
  const ostrivo::SampledKernel &k = state->inputs.kernel;
  if (!kernel_model(state->config) || !state->inputs.kernel_error.empty() || k.rows == 0) {
    gtk_image_clear(GTK_IMAGE(state->kernel_view));
    return;
  }
  constexpr int kViewSize = 96;  // pixels, at most
  GdkPixbuf *picture = kernel_picture(k, std::max(1, kViewSize / std::max(k.rows, k.cols)));
  gtk_image_set_from_pixbuf(GTK_IMAGE(state->kernel_view), picture);
  g_object_unref(picture);
}

static void redraw_preview(DialogState *state) {
  gimp_preview_invalidate(GIMP_PREVIEW(state->preview));
}

static void render_preview(DialogState *state, GimpPreview *preview) {
  if (kernel_model(state->config) && !state->inputs.kernel_error.empty()) {
    render(state->drawable, nullptr, preview);  // nothing to repair with: the photo as it is
    return;
  }
  const RepairSettings s = settings_of(state->config, state->inputs);
  render(state->drawable, &s, preview);
}

static void estimate_clicked(DialogState *state) {
  const ostrivo::MotionEstimate e = estimate_into(state->drawable, state->config, &state->inputs);
  gchar *note = nullptr;
  if (e.status != ostrivo::EstimateStatus::estimated)
    note = g_strdup_printf("Cannot estimate: the area is %s.", ostrivo::estimate_failure(e.status));
  else if (!ostrivo::found_motion(e) && e.kernel_doubtful)
    note = g_strdup(
        "The photo looks blurred, but the shape of its blur could not be read "
        "reliably: nothing is changed.");
  else if (!ostrivo::found_motion(e))
    note = g_strdup_printf("No motion found (confidence %.2f).", e.confidence);
  else if (state->inputs.kernel_found && kernel_model(state->config))
    note = g_strdup_printf(
        "Estimated: a shake of %d x %d px that is not straight, K %.4f "
        "(confidence %.2f).",
        e.kernel_width, e.kernel_height, e.k, e.confidence);
  else
    note = g_strdup_printf("Estimated: %.1f px at %.1f degrees, K %.4f (confidence %.2f)%s.",
                           e.length, e.direction, e.k, e.confidence,
                           e.kernel_doubtful ? "; the kernel found did not look like a shake" : "");
  gtk_label_set_text(GTK_LABEL(state->note), note);
  g_free(note);
  show_kernel(state);
  redraw_preview(state);
}

// Reads the kernel again when the file or the model changes, and says when
// it cannot be had.
static void kernel_changed(DialogState *state) {
  if (!kernel_model(state->config) || state->inputs.kernel_found) {
    show_kernel(state);
    return;
  }
  read_kernel(state->config, &state->inputs);
  show_kernel(state);
  if (!state->inputs.kernel_error.empty()) {
    const std::string note = "Kernel: " + state->inputs.kernel_error + ".";
    gtk_label_set_text(GTK_LABEL(state->note), note.c_str());
  } else {
    gchar *note = g_strdup_printf("Kernel: %d x %d pixels.", state->inputs.kernel.cols,
                                  state->inputs.kernel.rows);
    gtk_label_set_text(GTK_LABEL(state->note), note);
    g_free(note);
  }
}

// A kernel image chosen replaces the kernel found.
static void file_chosen(DialogState *state) {
  state->inputs.kernel_found = false;
  kernel_changed(state);
}

// Only the settings the chosen model and solver use can be changed.
static void update_sensitivity(DialogState *state) {
  GimpProcedureConfig *config = state->config;
  const int model = gimp_procedure_config_get_choice_id(config, "model");
  const bool classic = model == kClassic, kernel = model == kKernel;
  const bool wiener = classic || gimp_procedure_config_get_choice_id(config, "solver") == kWiener;
  const auto set = [&](const char *name, bool on) {
    gtk_widget_set_sensitive(gimp_procedure_dialog_get_widget(state->dialog, name, G_TYPE_NONE),
                             on);
  };
  set("length", !kernel);
  set("direction", !kernel);
  set("kernel-file", kernel);
  set("frame-width", classic);
  set("solver", !classic);
  set("k", wiener);
  set("strength", !wiener);
}

static gboolean dialog(GimpProcedure *procedure, GimpProcedureConfig *config,
                       GimpDrawable *drawable, Inputs *inputs) {
  gimp_ui_init(PLUG_IN_BINARY);
  GtkWidget *dlg = gimp_procedure_dialog_new(procedure, config, "Ostrivo");
  GimpProcedureDialog *pd = GIMP_PROCEDURE_DIALOG(dlg);

  DialogState state{drawable, config, pd, *inputs};
  state.inputs.noise = selection_noise(drawable);
  state.preview = gimp_procedure_dialog_get_drawable_preview(pd, "preview", drawable);
  g_signal_connect_swapped(state.preview, "invalidated", G_CALLBACK(render_preview), &state);

  // The numbers as spin scales: a slider to drag and a field to type in.
  for (const char *setting : {"length", "direction", "k", "frame-width", "strength"})
    gimp_procedure_dialog_get_spin_scale(pd, setting, 1.0);
  // The kernel's file chooser beside the model.
  GtkWidget *model_row =
      gimp_procedure_dialog_fill_box(pd, "model-row", "model", "kernel-file", nullptr);
  gtk_orientable_set_orientation(GTK_ORIENTABLE(model_row), GTK_ORIENTATION_HORIZONTAL);
  gtk_box_set_spacing(GTK_BOX(model_row), 12);

  gimp_procedure_dialog_fill(pd, "preview", "length", "direction", "model-row", "solver", "k",
                             "strength", "frame-width", "repair-brightness", "linear-light",
                             nullptr);
  update_sensitivity(&state);

  // Estimate: finds the shake in the selection and fills the settings with
  // it; the note beside it says what was found (or what became of the
  // kernel image), and the picture at the end of the row shows the kernel.
  GtkWidget *row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
  GtkWidget *button = gtk_button_new_with_mnemonic("_Estimate the motion");
  state.note = gtk_label_new("The shake, of any shape, and K from the photo itself.");
  gtk_label_set_xalign(GTK_LABEL(state.note), 0.0);
  gtk_label_set_line_wrap(GTK_LABEL(state.note), TRUE);
  state.kernel_view = gtk_image_new();
  gtk_box_pack_start(GTK_BOX(row), button, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(row), state.note, TRUE, TRUE, 0);
  gtk_box_pack_end(GTK_BOX(row), state.kernel_view, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dlg))), row, FALSE, FALSE, 6);
  gtk_widget_show_all(row);
  g_signal_connect_swapped(button, "clicked", G_CALLBACK(estimate_clicked), &state);
  kernel_changed(&state);

  // A new kernel is read before the preview redraws; every change of a
  // setting redraws the preview.
  g_signal_connect_swapped(config, "notify::kernel-file", G_CALLBACK(file_chosen), &state);
  g_signal_connect_swapped(config, "notify::model", G_CALLBACK(kernel_changed), &state);
  g_signal_connect_swapped(config, "notify::model", G_CALLBACK(update_sensitivity), &state);
  g_signal_connect_swapped(config, "notify::solver", G_CALLBACK(update_sensitivity), &state);
  g_signal_connect_swapped(config, "notify", G_CALLBACK(redraw_preview), &state);

  const gboolean accepted = gimp_procedure_dialog_run(pd);
  g_signal_handlers_disconnect_by_data(config, &state);
  gtk_widget_destroy(dlg);
  *inputs = state.inputs;
  return accepted;
}

// --- the run modes ------------------------------------------------------------------

static GimpValueArray *fail(GimpProcedure *procedure, GimpPDBStatusType status,
                            const std::string &message) {
  GError *error = g_error_new_literal(GIMP_PLUG_IN_ERROR, 0, message.c_str());
  return gimp_procedure_new_return_values(procedure, status, error);
}

static GimpValueArray *ostrivo_run(GimpProcedure *procedure, GimpRunMode run_mode,
                                   GimpImage * /*image*/, GimpDrawable **drawables,
                                   GimpProcedureConfig *config, gpointer /*run_data*/) {
  gegl_init(nullptr, nullptr);
  if (gimp_core_object_array_get_length(reinterpret_cast<GObject **>(drawables)) != 1)
    return fail(procedure, GIMP_PDB_CALLING_ERROR,
                "Ostrivo repairs one layer at a time: select a single layer.");
  GimpDrawable *drawable = drawables[0];
  if (!GIMP_IS_LAYER(drawable) || GIMP_IS_LAYER_MASK(drawable) ||
      !(gimp_drawable_is_rgb(drawable) || gimp_drawable_is_gray(drawable)))
    return fail(procedure, GIMP_PDB_CALLING_ERROR,
                "Ostrivo repairs RGB and grey layers; convert an indexed image to RGB first.");
  if (gimp_item_is_group(GIMP_ITEM(drawable)))
    return fail(procedure, GIMP_PDB_CALLING_ERROR,
                "Ostrivo: " + ostrivo::refusal_message(ostrivo::Refusal::no_pixels) + ".");

  Inputs inputs;
  gboolean auto_estimate = FALSE;
  g_object_get(config, "auto-estimate", &auto_estimate, nullptr);
  if (run_mode == GIMP_RUN_INTERACTIVE) {
    if (!dialog(procedure, config, drawable, &inputs))
      return gimp_procedure_new_return_values(procedure, GIMP_PDB_CANCEL, nullptr);
  } else if (auto_estimate) {
    const ostrivo::MotionEstimate e = estimate_into(drawable, config, &inputs);
    if (e.status != ostrivo::EstimateStatus::estimated)
      return fail(procedure, GIMP_PDB_EXECUTION_ERROR,
                  std::string("Ostrivo cannot estimate the motion: the area is ") +
                      ostrivo::estimate_failure(e.status) + ".");
    if (!ostrivo::found_motion(e))  // the photo is left as it is
      return gimp_procedure_new_return_values(procedure, GIMP_PDB_SUCCESS, nullptr);
  }
  if (kernel_model(config)) {
    if (run_mode != GIMP_RUN_INTERACTIVE && !inputs.kernel_found) read_kernel(config, &inputs);
    if (!inputs.kernel_error.empty())
      return fail(procedure, GIMP_PDB_CALLING_ERROR, "Ostrivo: " + inputs.kernel_error + ".");
  }

  const RepairSettings s = settings_of(config, inputs);
  const Refused refused = render(drawable, &s, nullptr);
  if (refused.why != ostrivo::Refusal::none)
    return fail(
        procedure, GIMP_PDB_EXECUTION_ERROR,
        "Ostrivo: " + refused.message +
            (refused.why == ostrivo::Refusal::no_memory ? "; select a smaller part of the image."
                                                        : "."));
  if (run_mode != GIMP_RUN_NONINTERACTIVE) gimp_displays_flush();
  return gimp_procedure_new_return_values(procedure, GIMP_PDB_SUCCESS, nullptr);
}
