// What the plug-in's entry points and its dialog share.
#ifndef OSTRIVO_PLUGIN_H
#define OSTRIVO_PLUGIN_H

#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

// The procedure name is also the key of the stored settings and the help id.
#define PLUG_IN_PROC "plug-in-ostrivo"
#define PLUG_IN_BINARY "ostrivo"
#define PLUG_IN_ROLE "ostrivo"

// Restores the drawable's selection bounds (preview null: the final run,
// merged as one undo step) or the area the preview shows (drawn into the
// preview). Returns FALSE, leaving the drawable unchanged, when the region
// is too large for this machine's memory.
gboolean repair_region(GimpDrawable *drawable, GimpPreview *preview);

// repair_region as a handler of the preview's "invalidated" signal,
// connected swapped: the drawable first, the emitting preview second.
void repair(GimpDrawable *drawable, GimpPreview *preview);

#endif
