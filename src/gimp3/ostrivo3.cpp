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
#include <vector>

#include "engine/pipeline.h"
#include "engine/progress.h"
#include "engine/settings.h"
#include "estimate/motion_estimate.h"

#define PLUG_IN_PROC "plug-in-ostrivo"
#define PLUG_IN_BINARY "ostrivo"
#define PLUG_IN_ROLE "ostrivo"

using ostrivo::MotionModel;
using ostrivo::PixelRegion;
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

// The choices of the "model" argument, by their ids.
enum ModelChoice { kSmooth = 0, kClassic = 1 };

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
      "Repairs a photo blurred by a straight motion (camera shake) by Wiener deconvolution: "
      "give the motion's length in pixels and its direction in degrees (clockwise from "
      "\"to the right\"), or let it be estimated from the photo. K is the noise-to-signal "
      "ratio: raise it when the result rings or is noisy. The smooth model draws the motion "
      "with sub-pixel accuracy and extends the area by mirrored borders; the classic model "
      "is the GIMP 2.10 plug-in's line and border frame.",
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
      gimp_choice_new_with_values(
          "smooth", kSmooth, "Smooth (sub-pixel line, mirrored edges)", nullptr, "classic",
          kClassic, "Classic (the GIMP 2.10 plug-in's line and frame)", nullptr, nullptr),
      "smooth", G_PARAM_READWRITE);
  gimp_procedure_add_boolean_argument(procedure, "auto-estimate", "Estimate the motion first",
                                      "Non-interactive runs: estimate length, direction and K "
                                      "from the selection before repairing",
                                      FALSE, G_PARAM_READWRITE);
  return procedure;
}

// --- settings and areas -----------------------------------------------------------

static RepairSettings settings_of(GimpProcedureConfig *config) {
  RepairSettings s;
  gboolean brightness = FALSE;
  g_object_get(config, "length", &s.length, "direction", &s.direction, "k", &s.k, "frame-width",
               &s.frame_width, "repair-brightness", &brightness, nullptr);
  s.repair_brightness = brightness != FALSE;
  s.model = gimp_procedure_config_get_choice_id(config, "model") == kClassic ? MotionModel::classic
                                                                             : MotionModel::smooth;
  return s;
}

struct Area {
  gint x = 0, y = 0, width = 0, height = 0;
  bool empty() const { return width <= 0 || height <= 0; }
};

static Area intersection(const Area &a, const Area &b) {
  const gint x = std::max(a.x, b.x), y = std::max(a.y, b.y);
  return {x, y, std::min(a.x + a.width, b.x + b.width) - x,
          std::min(a.y + a.height, b.y + b.height) - y};
}

// The selection's bounding box (the whole drawable without one), and the
// area a repair restores in it: the classic model, as the GIMP 2.10
// plug-in, trims it to even width and height from its top-left corner.
static Area selection_box(GimpDrawable *drawable) {
  gint x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  gimp_drawable_mask_bounds(drawable, &x1, &y1, &x2, &y2);
  return {x1, y1, x2 - x1, y2 - y1};
}

static Area repaired_area(const Area &box, const RepairSettings &s) {
  Area a = box;
  if (s.model == MotionModel::classic) {
    a.width -= a.width % 2;
    a.height -= a.height % 2;
  }
  return a;
}

// How the engine takes the drawable's pixels: 8-bit drawables as their
// bytes (the bytes the GIMP 2.10 plug-in sees), all others as floats at
// their own precision.
struct PixelFormat {
  const Babl *babl;
  int channels;
  SampleFormat samples;
  std::size_t sample_bytes() const { return samples == SampleFormat::u8 ? 1 : sizeof(float); }
};

static PixelFormat pixel_format(GimpDrawable *drawable) {
  const bool grey = gimp_drawable_is_gray(drawable);
  const bool alpha = gimp_drawable_has_alpha(drawable);
  const bool eight = babl_format_get_type(gimp_drawable_get_format(drawable), 0) == babl_type("u8");
  const char *name = grey ? (alpha ? "Y'A" : "Y'") : (alpha ? "R'G'B'A" : "R'G'B'");
  const std::string format = std::string(name) + (eight ? " u8" : " float");
  return {babl_format(format.c_str()), (grey ? 1 : 3) + (alpha ? 1 : 0),
          eight ? SampleFormat::u8 : SampleFormat::f32};
}

static PixelRegion region_of(const Area &a, const PixelFormat &f, const void *src, void *dst) {
  return {a.height, a.width, f.channels, f.samples, src, dst};
}

// --- the region driver --------------------------------------------------------------

static void report_progress(double fraction) { gimp_progress_update(fraction); }

static gboolean render_area(GimpDrawable *drawable, GimpProcedureConfig *config,
                            GimpPreview *preview);

// Repairs the drawable's selection (preview null: the final run, merged as
// one undo step) or shows in the preview what that will give on the area
// the preview shows. Returns FALSE, the drawable unchanged, when the area
// is too large for this machine's memory; nothing is thrown out of here.
static gboolean render(GimpDrawable *drawable, GimpProcedureConfig *config, GimpPreview *preview) {
  try {
    return render_area(drawable, config, preview);
  } catch (const std::exception &) {
    ostrivo::progress_set_reporter(nullptr);
    if (preview == nullptr) {
      gimp_drawable_free_shadow(drawable);
      gimp_progress_end();
    }
    return FALSE;
  }
}

static gboolean render_area(GimpDrawable *drawable, GimpProcedureConfig *config,
                            GimpPreview *preview) {
  const RepairSettings s = settings_of(config);
  const PixelFormat format = pixel_format(drawable);
  const Area box = selection_box(drawable);
  const Area region = repaired_area(box, s);
  GeglBuffer *source = gimp_drawable_get_buffer(drawable);
  const auto read = [&](const Area &a, std::vector<guchar> *pixels) {
    pixels->resize(static_cast<std::size_t>(a.width) * a.height * format.channels *
                   format.sample_bytes());
    gegl_buffer_get(source, GEGL_RECTANGLE(a.x, a.y, a.width, a.height), 1.0, format.babl,
                    pixels->data(), GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
  };

  if (preview != nullptr) {
    Area shown;
    gimp_preview_get_position(preview, &shown.x, &shown.y);
    gimp_preview_get_size(preview, &shown.width, &shown.height);
    // The preview draws 8-bit samples; what lies outside the area a repair
    // restores stays as it is.
    const Babl *shown_format = format.samples == SampleFormat::u8
                                   ? format.babl
                                   : babl_format(format.channels == 1   ? "Y' u8"
                                                 : format.channels == 2 ? "Y'A u8"
                                                 : format.channels == 3 ? "R'G'B' u8"
                                                                        : "R'G'B'A u8");
    std::vector<guchar> canvas(static_cast<std::size_t>(shown.width) * shown.height *
                               format.channels);
    gegl_buffer_get(source, GEGL_RECTANGLE(shown.x, shown.y, shown.width, shown.height), 1.0,
                    shown_format, canvas.data(), GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
    const Area view = intersection(shown, region);
    if (!view.empty()) {
      // The view with a margin of the region around it, repaired as the
      // whole region will be, then cut back to the view.
      const int margin = ostrivo::preview_margin(s);
      const Area context = intersection(
          {view.x - margin, view.y - margin, view.width + 2 * margin, view.height + 2 * margin},
          region);
      std::vector<guchar> in, out;
      read(context, &in);
      out.resize(in.size());
      ostrivo::repair_window(region_of(context, format, in.data(), out.data()),
                             {context.y - region.y, context.x - region.x}, region.height,
                             region.width, s);
      GeglBuffer *repaired = gegl_buffer_linear_new_from_data(
          out.data(), format.babl, GEGL_RECTANGLE(0, 0, context.width, context.height),
          GEGL_AUTO_ROWSTRIDE, nullptr, nullptr);
      const std::size_t row = static_cast<std::size_t>(shown.width) * format.channels;
      gegl_buffer_get(
          repaired, GEGL_RECTANGLE(view.x - context.x, view.y - context.y, view.width, view.height),
          1.0, shown_format,
          canvas.data() + static_cast<std::size_t>(view.y - shown.y) * row +
              static_cast<std::size_t>(view.x - shown.x) * format.channels,
          static_cast<gint>(row), GEGL_ABYSS_NONE);
      g_object_unref(repaired);
    }
    gimp_preview_draw_buffer(preview, canvas.data(), shown.width * format.channels);
    g_object_unref(source);
    return TRUE;
  }

  ostrivo::progress_set_reporter(report_progress);
  ostrivo::progress_start(ostrivo::final_run_ticks(format.channels));
  gimp_progress_init("Repairing motion blur");
  ostrivo::progress_tick();
  bool ok = true;
  GeglBuffer *shadow = gimp_drawable_get_shadow_buffer(drawable);
  if (!region.empty()) {
    std::vector<guchar> in, out;
    read(region, &in);
    out.resize(in.size());
    ok = ostrivo::repair_region(region_of(region, format, in.data(), out.data()), s, true);
    if (ok)
      gegl_buffer_set(shadow, GEGL_RECTANGLE(region.x, region.y, region.width, region.height), 0,
                      format.babl, out.data(), GEGL_AUTO_ROWSTRIDE);
  }
  // The column and the row that trimming left out keep their pixels.
  for (const Area &strip :
       {Area{region.x + region.width, box.y, box.width - region.width, box.height},
        Area{box.x, region.y + region.height, region.width, box.height - region.height}}) {
    if (!ok || strip.empty()) continue;
    std::vector<guchar> pixels;
    read(strip, &pixels);
    gegl_buffer_set(shadow, GEGL_RECTANGLE(strip.x, strip.y, strip.width, strip.height), 0,
                    format.babl, pixels.data(), GEGL_AUTO_ROWSTRIDE);
  }
  ostrivo::progress_tick();
  ostrivo::progress_set_reporter(nullptr);
  g_object_unref(shadow);
  g_object_unref(source);
  if (!ok) {
    gimp_drawable_free_shadow(drawable);
    gimp_progress_end();
    return FALSE;
  }
  gimp_drawable_merge_shadow(drawable, TRUE);
  gimp_drawable_update(drawable, box.x, box.y, box.width, box.height);
  gimp_progress_end();
  return TRUE;
}

// Estimates the motion in the drawable's selection and, when it finds one,
// puts it into the config (the classic line takes a whole length).
static ostrivo::MotionEstimate estimate_into(GimpDrawable *drawable, GimpProcedureConfig *config) {
  const PixelFormat format = pixel_format(drawable);
  const Area box = selection_box(drawable);
  std::vector<guchar> pixels(static_cast<std::size_t>(box.width) * box.height * format.channels *
                             format.sample_bytes());
  GeglBuffer *source = gimp_drawable_get_buffer(drawable);
  gegl_buffer_get(source, GEGL_RECTANGLE(box.x, box.y, box.width, box.height), 1.0, format.babl,
                  pixels.data(), GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
  g_object_unref(source);
  const ostrivo::MotionEstimate e =
      ostrivo::estimate_motion(region_of(box, format, pixels.data(), nullptr));
  if (e.status == ostrivo::EstimateStatus::estimated && e.length > 1.0) {
    const bool classic = gimp_procedure_config_get_choice_id(config, "model") == kClassic;
    const double length = classic ? ostrivo::classic_length(e.length) : e.length;
    g_object_set(config, "length", length, "direction", std::round(e.direction * 10) / 10, "k", e.k,
                 nullptr);
  }
  return e;
}

// --- the dialog ---------------------------------------------------------------------

struct DialogState {
  GimpDrawable *drawable;
  GimpProcedureConfig *config;
  GtkWidget *preview;
  GtkWidget *estimate_note;
};

static void redraw_preview(DialogState *state) {
  gimp_preview_invalidate(GIMP_PREVIEW(state->preview));
}

static void render_preview(DialogState *state, GimpPreview *preview) {
  render(state->drawable, state->config, preview);
}

static void estimate_clicked(DialogState *state) {
  const ostrivo::MotionEstimate e = estimate_into(state->drawable, state->config);
  gchar *note = nullptr;
  if (e.status != ostrivo::EstimateStatus::estimated)
    note = g_strdup_printf("Cannot estimate: the area is %s.", ostrivo::estimate_failure(e.status));
  else if (e.length <= 1.0)
    note = g_strdup_printf("No motion found (confidence %.2f).", e.confidence);
  else
    note = g_strdup_printf("Estimated: %.1f px at %.1f degrees, K %.4f (confidence %.2f).",
                           e.length, e.direction, e.k, e.confidence);
  gtk_label_set_text(GTK_LABEL(state->estimate_note), note);
  g_free(note);
}

static void model_changed(GimpProcedureConfig *config, GParamSpec * /*pspec*/, GtkWidget *frame) {
  gtk_widget_set_sensitive(frame, gimp_procedure_config_get_choice_id(config, "model") == kClassic);
}

static gboolean dialog(GimpProcedure *procedure, GimpProcedureConfig *config,
                       GimpDrawable *drawable) {
  gimp_ui_init(PLUG_IN_BINARY);
  GtkWidget *dlg = gimp_procedure_dialog_new(procedure, config, "Ostrivo");
  GimpProcedureDialog *pd = GIMP_PROCEDURE_DIALOG(dlg);

  DialogState state{drawable, config, nullptr, nullptr};
  state.preview = gimp_procedure_dialog_get_drawable_preview(pd, "preview", drawable);
  g_signal_connect_swapped(state.preview, "invalidated", G_CALLBACK(render_preview), &state);

  // The numbers as spin scales: a slider to drag and a field to type in.
  for (const char *setting : {"length", "direction", "k"})
    gimp_procedure_dialog_get_spin_scale(pd, setting, 1.0);
  GtkWidget *frame_width = gimp_procedure_dialog_get_spin_scale(pd, "frame-width", 1.0);
  model_changed(config, nullptr, frame_width);
  g_signal_connect(config, "notify::model", G_CALLBACK(model_changed), frame_width);

  gimp_procedure_dialog_fill(pd, "preview", "length", "direction", "k", "model", "frame-width",
                             "repair-brightness", nullptr);

  // Estimate: fills length, direction and K from the selection.
  GtkWidget *row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
  GtkWidget *button = gtk_button_new_with_mnemonic("_Estimate the motion");
  state.estimate_note = gtk_label_new("Length, direction and K from the photo itself.");
  gtk_label_set_xalign(GTK_LABEL(state.estimate_note), 0.0);
  gtk_box_pack_start(GTK_BOX(row), button, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(row), state.estimate_note, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dlg))), row, FALSE, FALSE, 6);
  gtk_widget_show_all(row);
  g_signal_connect_swapped(button, "clicked", G_CALLBACK(estimate_clicked), &state);

  // Every change of a setting redraws the preview.
  g_signal_connect_swapped(config, "notify", G_CALLBACK(redraw_preview), &state);

  const gboolean accepted = gimp_procedure_dialog_run(pd);
  g_signal_handlers_disconnect_by_data(config, &state);
  g_signal_handlers_disconnect_by_data(config, frame_width);
  gtk_widget_destroy(dlg);
  return accepted;
}

// --- the run modes ------------------------------------------------------------------

static GimpValueArray *fail(GimpProcedure *procedure, GimpPDBStatusType status,
                            const gchar *message) {
  GError *error = g_error_new_literal(GIMP_PLUG_IN_ERROR, 0, message);
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

  gboolean auto_estimate = FALSE;
  g_object_get(config, "auto-estimate", &auto_estimate, nullptr);
  if (run_mode == GIMP_RUN_INTERACTIVE) {
    if (!dialog(procedure, config, drawable))
      return gimp_procedure_new_return_values(procedure, GIMP_PDB_CANCEL, nullptr);
  } else if (auto_estimate) {
    const ostrivo::MotionEstimate e = estimate_into(drawable, config);
    if (e.status != ostrivo::EstimateStatus::estimated) {
      gchar *message = g_strdup_printf("Ostrivo cannot estimate the motion: the area is %s.",
                                       ostrivo::estimate_failure(e.status));
      GimpValueArray *result = fail(procedure, GIMP_PDB_EXECUTION_ERROR, message);
      g_free(message);
      return result;
    }
    // No motion: nothing to repair, and a repair of none would only take
    // K's toll on the contrast.
    if (e.length <= 1.0)
      return gimp_procedure_new_return_values(procedure, GIMP_PDB_SUCCESS, nullptr);
  }

  if (!render(drawable, config, nullptr))
    return fail(procedure, GIMP_PDB_EXECUTION_ERROR,
                "Ostrivo: the area to repair is too large for this machine's memory; select a "
                "smaller part of the image.");
  if (run_mode != GIMP_RUN_NONINTERACTIVE) gimp_displays_flush();
  return gimp_procedure_new_return_values(procedure, GIMP_PDB_SUCCESS, nullptr);
}
