#include "ui/dialog.h"

#include <libgimp/gimpui.h>

#include <initializer_list>

#include "gimp2.h"
#include "plugin.h"

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"  // GimpDrawable

using ostrivo::bvals;
using ostrivo::SettingRange;

namespace {

// One numeric setting as the dialog offers it.
struct SpinRow {
  const char *label;
  double *value;
  const SettingRange &range;
  double step;
  double page;
  guint digits;
};

constexpr double kClimbRate = 5.0;

// A row of the dialog: label, then spin button. Returns the adjustment.
GtkAdjustment *add_spin_row(GtkWidget *vbox, gint spacing, const SpinRow &setting) {
  GtkWidget *row = gtk_hbox_new(FALSE, spacing);
  gtk_container_add(GTK_CONTAINER(vbox), row);
  gtk_widget_show(row);

  GtkWidget *label = gtk_label_new_with_mnemonic(setting.label);
  gtk_box_pack_start(GTK_BOX(row), label, FALSE, FALSE, 6);
  gtk_widget_show(label);

  GtkObject *adjustment = gtk_adjustment_new(*setting.value, setting.range.lower,
                                             setting.range.upper, setting.step, setting.page, 0.0);
  GtkWidget *spin = gimp_spin_button_new(GTK_ADJUSTMENT(adjustment), kClimbRate, setting.digits);
  gtk_box_pack_start(GTK_BOX(row), spin, FALSE, FALSE, 16);
  gtk_widget_show(spin);
  return GTK_ADJUSTMENT(adjustment);
}

// A titled frame whose content is a vertical box inside padded alignment.
GtkWidget *add_group(GtkWidget *main_vbox, const char *title, guint right_padding) {
  GtkWidget *frame = gtk_frame_new(title);
  gtk_box_pack_start(GTK_BOX(main_vbox), frame, TRUE, TRUE, 0);
  gtk_container_set_border_width(GTK_CONTAINER(frame), 15);
  gtk_widget_show(frame);

  GtkWidget *alignment = gtk_alignment_new(0.5, 0.5, 1.0, 1.0);
  gtk_alignment_set_padding(GTK_ALIGNMENT(alignment), 10, 10, 30, right_padding);
  gtk_container_add(GTK_CONTAINER(frame), alignment);
  gtk_widget_show(alignment);

  GtkWidget *vbox = gtk_vbox_new(FALSE, 5);
  gtk_container_add(GTK_CONTAINER(alignment), vbox);
  gtk_widget_show(vbox);
  return vbox;
}

// The preview's own check button switches live updates; its state is kept
// in bvals.preview, as the stored record expects.
void sync_preview_switch(GimpPreview *preview, GParamSpec * /*pspec*/, gpointer /*data*/) {
  bvals.preview = gimp_preview_get_update(preview) ? 1 : 0;
}

}  // namespace

void togg(GtkToggleButton *button, gpointer /*data*/) {
  bvals.repair_brightness = gtk_toggle_button_get_active(button) ? 1 : 0;
}

gboolean dialog(GimpDrawable *drawable) {
  gimp_ui_init(PLUG_IN_BINARY, FALSE);

  GtkWidget *dlg = gimp_dialog_new("Ostrivo", PLUG_IN_ROLE, nullptr, static_cast<GtkDialogFlags>(0),
                                   gimp_standard_help_func, PLUG_IN_PROC, "gtk-cancel",
                                   GTK_RESPONSE_CANCEL, "gtk-ok", GTK_RESPONSE_OK, nullptr);
  gtk_container_set_border_width(GTK_CONTAINER(dlg), 15);

  GtkWidget *main_vbox = gtk_vbox_new(FALSE, 0);
  gtk_container_add(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(dlg))), main_vbox);
  gtk_widget_show(main_vbox);

  GtkWidget *preview = gimp_drawable_preview_new_from_drawable_id(drawable->drawable_id);
  gimp_preview_set_update(GIMP_PREVIEW(preview), bvals.preview != 0);
  gtk_box_pack_start(GTK_BOX(main_vbox), preview, TRUE, TRUE, 0);
  gtk_widget_show(preview);

  GtkWidget *main_group = add_group(main_vbox, "Ustawienia glowne", 20);
  GtkAdjustment *direction = add_spin_row(
      main_group, 9, {"Kierunek poruszenia", &bvals.direction, ostrivo::kDirectionRange, 5, 1, 0});
  GtkAdjustment *length = add_spin_row(
      main_group, 10, {"Dlugosc poruszenia ", &bvals.length, ostrivo::kLengthRange, 1, 1, 0});

  GtkWidget *advanced_group = add_group(main_vbox, "Ustawienia zaawansowane", 10);
  GtkAdjustment *k = add_spin_row(
      advanced_group, 10, {"K (filtr Wienera)       ", &bvals.k, ostrivo::kKRange, 0.001, 1, 3});
  GtkAdjustment *frame_width = add_spin_row(
      advanced_group, 10,
      {"Szerokosc ramki (%)", &bvals.frame_width, ostrivo::kFrameWidthRange, 0.1, 1, 1});

  GtkWidget *brightness = gtk_check_button_new_with_label("naprawa jasnosci");
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(brightness), bvals.repair_brightness != 0);
  gtk_box_pack_start(GTK_BOX(advanced_group), brightness, FALSE, FALSE, 10);
  gtk_widget_show(brightness);

  // Each setting is written into bvals before the preview is told to redraw:
  // handlers of one signal run in the order they were connected.
  g_signal_connect(direction, "value_changed", G_CALLBACK(gimp_double_adjustment_update),
                   &bvals.direction);
  g_signal_connect(length, "value_changed", G_CALLBACK(gimp_double_adjustment_update),
                   &bvals.length);
  g_signal_connect(k, "value_changed", G_CALLBACK(gimp_double_adjustment_update), &bvals.k);
  g_signal_connect(frame_width, "value_changed", G_CALLBACK(gimp_double_adjustment_update),
                   &bvals.frame_width);
  g_signal_connect(brightness, "toggled", G_CALLBACK(togg), dlg);
  g_signal_connect(preview, "notify::update", G_CALLBACK(sync_preview_switch), nullptr);
  for (GObject *setting :
       {G_OBJECT(direction), G_OBJECT(length), G_OBJECT(k), G_OBJECT(frame_width)})
    g_signal_connect_swapped(setting, "value_changed", G_CALLBACK(gimp_preview_invalidate),
                             preview);
  g_signal_connect_swapped(brightness, "toggled", G_CALLBACK(gimp_preview_invalidate), preview);
  g_signal_connect_swapped(preview, "invalidated", G_CALLBACK(repair), drawable);

  repair(drawable, GIMP_PREVIEW(preview));

  gtk_widget_show(dlg);
  const gboolean accepted = gimp_dialog_run(GIMP_DIALOG(dlg)) == GTK_RESPONSE_OK;
  gtk_widget_destroy(dlg);
  return accepted;
}
