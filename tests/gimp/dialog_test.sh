#!/usr/bin/env bash
# The settings dialog in the real GIMP 2.10 under a virtual display, driven
# as a person would with the mouse and keyboard:
#   1. the dialog "Ostrivo" opens with the defaults (screenshot kept);
#      Cancel leaves the image unchanged and stores nothing;
#   2. typing a new direction and length re-renders the preview; OK repairs
#      the image exactly as ostrivo-cli does with those settings and stores
#      the record with preview 0;
#   3. the next dialog opens with the preview's check button off; Cancel
#      leaves the stored record as it was.
#
#   dialog_test.sh PLUGIN CLI INPUT.png ARTIFACT_DIR
set -u
plugin=$1 cli=$2 input=$3 artifacts=$4
mkdir -p "$artifacts"
work=$(mktemp -d /tmp/ostrivo-dialog-XXXXXX)
profile=$work/profile
mkdir -p "$profile/plug-ins/ostrivo" "$profile"/{gradients,brushes,patterns,palettes,fonts}
install -m 755 "$plugin" "$profile/plug-ins/ostrivo/ostrivo"
cp "$input" "$work/in.png"

passed=0 failed=0
check() {  # check NAME COMMAND...
  if "${@:2}"; then passed=$((passed + 1)); echo "ok: $1"
  else failed=$((failed + 1)); echo "FAILED: $1"; fi
}

display_number=90
while [ -e "/tmp/.X11-unix/X$display_number" ] || [ -e "/tmp/.X$display_number-lock" ]; do
  display_number=$((display_number + 1))
done
export DISPLAY=:$display_number
Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
xvfb_pid=$!
gimp_pid=
finish() {
  [ -n "$gimp_pid" ] && kill "$gimp_pid" 2> /dev/null
  kill "$xvfb_pid" 2> /dev/null
  wait 2> /dev/null
  if [ "$failed" -eq 0 ]; then rm -rf "$work"; else echo "files kept in $work"; fi
}
trap finish EXIT
for _ in $(seq 50); do xdpyinfo > /dev/null 2>&1 && break; sleep 0.1; done

cat > "$work/job.scm" << 'SCM'
(define (result key value) (display "RESULT ") (display key) (display " ") (write value) (newline))
(define (stored) (catch "none" (gimp-procedural-db-get-data "plug-in-ostrivo")))
(define (save img drw name) (file-png-save2 RUN-NONINTERACTIVE img drw name name 0 9 0 0 0 0 0 0 1))
(define img (car (gimp-file-load RUN-NONINTERACTIVE "in.png" "in.png")))
(define drw (car (gimp-image-get-active-drawable img)))
(plug-in-ostrivo RUN-INTERACTIVE img drw)
(save img drw "after-cancel.png")
(result "after-cancel" (stored))
(plug-in-ostrivo RUN-INTERACTIVE img drw)
(save img drw "after-ok.png")
(result "after-ok" (stored))
(plug-in-ostrivo RUN-INTERACTIVE img drw)
(result "after-reopen" (stored))
(gimp-image-delete img)
(gimp-quit 0)
SCM
(cd "$work" && GIMP2_DIRECTORY="$profile" exec gimp -d -f --no-splash \
  --batch-interpreter plug-in-script-fu-eval -b - < job.scm > gimp.log 2>&1) &
gimp_pid=$!

window=
geometry_w=0 geometry_h=0
# Waits for the dialog (the previous one has closed), and reads its size.
wait_dialog() {
  for _ in $(seq 600); do
    window=$(xdotool search --onlyvisible --name '^Ostrivo$' 2> /dev/null | head -1)
    if [ -n "$window" ]; then
      sleep 1.5  # the first render is done before the dialog is shown; let it settle
      eval "$(xdotool getwindowgeometry --shell "$window" | sed -n 's/^WIDTH=/geometry_w=/p; s/^HEIGHT=/geometry_h=/p')"
      return 0
    fi
    sleep 0.2
  done
  failed=$((failed + 1))
  echo "FAILED: no dialog appeared; GIMP printed:"; cat "$work/gimp.log"
  return 1
}
wait_closed() {
  for _ in $(seq 300); do
    xdotool search --onlyvisible --name '^Ostrivo$' 2> /dev/null | grep -qx "$window" || return 0
    sleep 0.2
  done
  return 1
}
shot() { import -window root -crop "${geometry_w}x${geometry_h}+0+0" +repage "$1"; }
# The dialog lies at the origin of the bare display. The buttons sit at its
# bottom right, the spin buttons at fixed distances from its bottom.
click() { xdotool mousemove "$1" "$2" click 1; sleep 0.3; }
press_cancel() { click $((geometry_w - 161)) $((geometry_h - 42)); }
press_ok() { click $((geometry_w - 71)) $((geometry_h - 42)); }
set_spin() {  # set_spin Y-FROM-BOTTOM VALUE
  xdotool mousemove $((geometry_w - 100)) $((geometry_h - $1)) click --repeat 3 1
  sleep 0.2; xdotool type "$2"; xdotool key Tab; sleep 0.3
}
preview_crop() { convert "$1" -crop 200x200+17+17 +repage "$2"; }
toggle_crop() { convert "$1" -crop 14x14+17+238 +repage "$2"; }
pixels_differ() { [ "$(compare -metric AE "$1" "$2" null: 2>&1)" != "0" ]; }
same_pixels() { [ "$(compare -metric AE "$1" "$2" null: 2>&1)" = "0" ]; }
result() { grep -m1 -o "RESULT $1 .*" "$work/gimp.log" | cut -d' ' -f3-; }

# 1. Defaults, then Cancel.
wait_dialog || exit 1
shot "$artifacts/dialog.png"
check "dialog titled Ostrivo opened" test -n "$window"
press_cancel
wait_closed

# 2. Direction 30 and length 10, which the sample needs, then OK.
wait_dialog || exit 1
shot "$work/before.png"
set_spin 304 30
set_spin 274 10
sleep 2
shot "$artifacts/dialog-edited.png"
preview_crop "$work/before.png" "$work/preview-before.png"
preview_crop "$artifacts/dialog-edited.png" "$work/preview-after.png"
check "a changed setting re-renders the preview" pixels_differ "$work/preview-before.png" "$work/preview-after.png"
press_ok
wait_closed

# 3. The next dialog: preview switch off, then Cancel.
wait_dialog || exit 1
shot "$artifacts/dialog-reopened.png"
toggle_crop "$artifacts/dialog.png" "$work/toggle-first.png"
toggle_crop "$artifacts/dialog-reopened.png" "$work/toggle-reopened.png"
check "after an accepted run the preview switch opens off" pixels_differ "$work/toggle-first.png" "$work/toggle-reopened.png"
press_cancel
wait_closed
for _ in $(seq 300); do kill -0 "$gimp_pid" 2> /dev/null || break; sleep 0.2; done
gimp_pid=

check "Cancel leaves the image unchanged" same_pixels "$work/in.png" "$work/after-cancel.png"
check "Cancel stores nothing" test "$(result after-cancel)" = '"none"'
"$cli" --quiet --model classic -l 10 -d 30 -k 0.001 -f 1 "$work/in.png" -o "$work/expected.png"
check "OK repairs as the engine does" same_pixels "$work/expected.png" "$work/after-ok.png"
check "OK changed the image" pixels_differ "$work/in.png" "$work/after-ok.png"
record=$(perl -e 'print join(" ", unpack("C*", pack("d<d<d<d<l<l<", 10, 30, 0.001, 1, 0, 0)))')
check "OK stores the settings with preview 0" test "$(result after-ok)" = "(40 #($record))"
check "a cancelled reopen keeps the stored record" test "$(result after-reopen)" = "(40 #($record))"
check "no GLib criticals or warnings from the plug-in" \
  bash -c "! grep -E 'ostrivo.*(CRITICAL|WARNING)' '$work/gimp.log'"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
