// The settings dialog with its live preview.
#ifndef OSTRIVO_UI_DIALOG_H
#define OSTRIVO_UI_DIALOG_H

#include <gtk/gtk.h>
#include <libgimp/gimp.h>

// Shows the dialog for `drawable`; every change goes straight into bvals
// and redraws the preview. Returns TRUE when the user pressed OK.
gboolean dialog(GimpDrawable *drawable);

// Keeps bvals.repair_brightness in step with the check box.
void togg(GtkToggleButton *button, gpointer data);

#endif
