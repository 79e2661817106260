// Ostrivo: a GIMP 2.10 filter that repairs motion-blurred photos by Wiener
// deconvolution. This file is the plug-in's face towards the editor:
// registration, the run modes, the stored settings and the region driver
// `repair` that feeds the restoration engine.
#include <cmath>
#include <memory>
#include <string>

#include "gimp2.h"
#include "ostrivo/repair.h"
#include "plugin.h"
#include "ui/dialog.h"

// libgimp 2.10 marks the tile-based drawable API deprecated; it is the API
// that gives a plug-in 8-bit pixels at any image precision, and it works.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

using ostrivo::BlurVals;
using ostrivo::bvals;

static void query(void);
static void run(const gchar *name, gint nparams, const GimpParam *param, gint *nreturn_vals,
                GimpParam **return_vals);

const GimpPlugInInfo PLUG_IN_INFO = {
    nullptr,  // init
    nullptr,  // quit
    query,
    run,
};

MAIN()

static void query(void) {
  static const GimpParamDef args[] = {
      {GIMP_PDB_INT32, const_cast<gchar *>("run-mode"), const_cast<gchar *>("Run mode")},
      {GIMP_PDB_IMAGE, const_cast<gchar *>("image"), const_cast<gchar *>("Input image")},
      {GIMP_PDB_DRAWABLE, const_cast<gchar *>("drawable"), const_cast<gchar *>("Input drawable")},
  };

  gimp_install_procedure(PLUG_IN_PROC, "Ostrivo", "Repairs motion blurred images",
                         "The Ostrivo developers", "Copyright The Ostrivo developers", "2010",
                         "_Ostrivo", "RGB*", GIMP_PLUGIN, G_N_ELEMENTS(args), 0, args, nullptr);
  gimp_plugin_menu_register(PLUG_IN_PROC, "<Image>/Filters");
}

// Loads the stored settings into bvals when the editor holds a record of
// exactly our size, and brings every field into the dialog's ranges.
static void load_settings(void) {
  if (gimp_procedural_db_get_data_size(PLUG_IN_PROC) == static_cast<gint>(sizeof(BlurVals))) {
    BlurVals stored = bvals;
    if (gimp_procedural_db_get_data(PLUG_IN_PROC, &stored)) bvals = stored;
  }
  ostrivo::sanitize_blurvals(&bvals);
}

// Only RGB and RGBA drawables are repaired: the menu entry is for "RGB*",
// but a script can pass anything.
static bool is_rgb_drawable(gint32 drawable_id) {
  if (!gimp_item_is_valid(drawable_id) || !gimp_item_is_drawable(drawable_id)) return false;
  if (!gimp_drawable_is_rgb(drawable_id)) return false;
  const gint bpp = gimp_drawable_bpp(drawable_id);
  return bpp == 3 || bpp == 4;
}

static void report_progress(double fraction) { gimp_progress_update(fraction); }

static void run(const gchar * /*name*/, gint nparams, const GimpParam *param, gint *nreturn_vals,
                GimpParam **return_vals) {
  static GimpParam values[2];
  GimpPDBStatusType status = GIMP_PDB_SUCCESS;
  const gchar *error = nullptr;

  *nreturn_vals = 1;
  *return_vals = values;
  values[0].type = GIMP_PDB_STATUS;
  values[0].data.d_status = status;

  const auto fail = [&](GimpPDBStatusType failure, const gchar *message) {
    values[0].data.d_status = failure;
    values[1].type = GIMP_PDB_STRING;
    values[1].data.d_string = const_cast<gchar *>(message);
    *nreturn_vals = 2;
  };

  if (nparams < 3) {
    fail(GIMP_PDB_CALLING_ERROR, "Ostrivo needs a run mode, an image and a drawable.");
    return;
  }
  const GimpRunMode run_mode = static_cast<GimpRunMode>(param[0].data.d_int32);
  const gint32 drawable_id = param[2].data.d_drawable;
  if (!is_rgb_drawable(drawable_id)) {
    fail(GIMP_PDB_CALLING_ERROR,
         "Ostrivo repairs RGB and RGBA layers only; convert the image to RGB first.");
    return;
  }

  GimpDrawable *drawable = gimp_drawable_get(drawable_id);
  ostrivo::progress_set_reporter(report_progress);

  switch (run_mode) {
    case GIMP_RUN_INTERACTIVE:
      load_settings();
      if (!dialog(drawable)) {
        gimp_drawable_detach(drawable);
        return;
      }
      break;
    case GIMP_RUN_WITH_LAST_VALS:
      load_settings();
      break;
    default:  // non-interactive and unknown modes run with the defaults
      break;
  }

  static std::string message;
  if (!repair_region(drawable, nullptr)) {
    status = GIMP_PDB_EXECUTION_ERROR;
    message = "Ostrivo: " + ostrivo::refusal_message(ostrivo::Refusal::no_memory) +
              "; select a smaller part of the image.";
    error = message.c_str();
  }
  gimp_displays_flush();
  gimp_drawable_detach(drawable);

  if (status != GIMP_PDB_SUCCESS) {
    fail(status, error);
    return;
  }
  if (run_mode == GIMP_RUN_INTERACTIVE)
    gimp_procedural_db_set_data(PLUG_IN_PROC, &bvals, sizeof(BlurVals));
}

namespace {

struct Rect {
  gint x, y, width, height;
};

// Pixels of a rectangle of the drawable, or nothing when its memory cannot
// be had.
struct Pixels {
  explicit Pixels(const Rect &r, gint bpp) {
    gsize bytes = 0;
    if (r.width > 0 && r.height > 0 &&
        !g_size_checked_mul(&bytes, static_cast<gsize>(r.width), static_cast<gsize>(r.height)))
      return;
    if (!g_size_checked_mul(&bytes, bytes, static_cast<gsize>(bpp))) return;
    sized = true;
    if (bytes > 0) data.reset(static_cast<guchar *>(g_try_malloc(bytes)));
  }
  bool ok() const { return sized && data != nullptr; }
  bool sized = false;
  std::unique_ptr<guchar, decltype(&g_free)> data{nullptr, g_free};
};

// Copies a strip of the drawable unchanged into the shadow buffer, so that
// the merge leaves it as it was.
bool copy_strip(GimpPixelRgn *src, GimpPixelRgn *dst, const Rect &strip, gint bpp) {
  if (strip.width <= 0 || strip.height <= 0) return true;
  Pixels pixels(strip, bpp);
  if (!pixels.ok()) return false;
  gimp_pixel_rgn_get_rect(src, pixels.data.get(), strip.x, strip.y, strip.width, strip.height);
  gimp_pixel_rgn_set_rect(dst, pixels.data.get(), strip.x, strip.y, strip.width, strip.height);
  return true;
}

}  // namespace

gboolean repair_region(GimpDrawable *drawable, GimpPreview *preview) {
  const bool final_run = preview == nullptr;
  const gint32 id = drawable->drawable_id;
  const gint bpp = gimp_drawable_bpp(id);
  bvals.preview = final_run ? 0 : 1;

  if (final_run) {
    ostrivo::progress_start(ostrivo::final_run_ticks(bpp));
    gimp_progress_init("Naprawa obrazu...");
    ostrivo::progress_tick();
  }

  // The box to write, and within it the region to restore: a final run
  // trims the selection bounds to even width and height from the top-left
  // corner; the preview's area is restored as it is.
  Rect box{};
  if (final_run) {
    gint x2 = 0, y2 = 0;
    gimp_drawable_mask_bounds(id, &box.x, &box.y, &x2, &y2);
    box.width = x2 - box.x;
    box.height = y2 - box.y;
  } else {
    gimp_preview_get_position(preview, &box.x, &box.y);
    gimp_preview_get_size(preview, &box.width, &box.height);
  }
  Rect region = box;
  if (final_run) {
    const ostrivo::AreaPart part =
        ostrivo::repaired_part(ostrivo::repair_settings(bvals), box.height, box.width);
    region.width = part.cols;
    region.height = part.rows;
  }

  gimp_tile_cache_ntiles(2 * (drawable->width / gimp_tile_width() + 1));
  GimpPixelRgn src_rgn, dst_rgn;
  gimp_pixel_rgn_init(&src_rgn, drawable, box.x, box.y, box.width, box.height, FALSE, FALSE);
  gimp_pixel_rgn_init(&dst_rgn, drawable, box.x, box.y, box.width, box.height, final_run, TRUE);

  // A refused region still leaves a copy of its source in the output, which
  // is what a preview then shows; a final run merges nothing.
  Pixels input(region, bpp), output(region, bpp);
  bool ok = input.sized;
  if (ok && region.width > 0 && region.height > 0) {
    ok = input.ok() && output.ok();
    if (ok) {
      gimp_pixel_rgn_get_rect(&src_rgn, input.data.get(), region.x, region.y, region.width,
                              region.height);
      guchar *out = output.data.get();
      ok = ostrivo::imageRestoration(input.data.get(), &out, region.height, region.width, bpp);
      if (ok || !final_run)
        gimp_pixel_rgn_set_rect(&dst_rgn, out, region.x, region.y, region.width, region.height);
    }
  }
  // The column and the row that trimming left out keep their pixels.
  if (ok && final_run) {
    ok = copy_strip(&src_rgn, &dst_rgn,
                    {box.x + region.width, box.y, box.width - region.width, box.height}, bpp) &&
         copy_strip(&src_rgn, &dst_rgn,
                    {box.x, box.y + region.height, region.width, box.height - region.height}, bpp);
  }

  if (!final_run) {
    gimp_drawable_preview_draw_region(GIMP_DRAWABLE_PREVIEW(preview), &dst_rgn);
    return ok;
  }

  ostrivo::progress_tick();
  if (!ok) {
    gimp_progress_end();
    return FALSE;
  }
  gimp_drawable_flush(drawable);
  gimp_drawable_merge_shadow(id, TRUE);
  gimp_drawable_update(id, box.x, box.y, box.width, box.height);
  return TRUE;
}

void repair(GimpDrawable *drawable, GimpPreview *preview) { repair_region(drawable, preview); }
