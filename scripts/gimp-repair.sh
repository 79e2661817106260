#!/usr/bin/env bash
# Repairs one image file through the real GIMP 2.10 in batch mode with the
# installed plug-in: stores the settings record, then runs the filter with
# last values on the whole image, and saves the result as PNG.
#
#   scripts/gimp-repair.sh IN.png OUT.png LENGTH DIRECTION K FRAME_WIDTH BRIGHTNESS
#
# GIMP2_DIRECTORY, when set, names the GIMP profile to use.
set -euo pipefail
[ $# -eq 7 ] || { sed -n '2,9p' "$0"; exit 2; }
in=$(realpath "$1"); out=$(realpath -m "$2")

# The 40-byte record: four little-endian doubles, then two 32-bit ints.
bytes=$(perl -e 'print join(" ", unpack("C*", pack("d<d<d<d<l<l<", @ARGV[0..3], $ARGV[4], 0)))' \
  "$3" "$4" "$5" "$6" "$7")

gimp -i -d -f --batch-interpreter plug-in-script-fu-eval -b - <<SCM
(let* ((img (car (gimp-file-load RUN-NONINTERACTIVE "$in" "$in")))
       (drw (car (gimp-image-get-active-drawable img))))
  (gimp-procedural-db-set-data "plug-in-ostrivo" 40 #($bytes))
  (plug-in-ostrivo RUN-WITH-LAST-VALS img drw)
  (file-png-save2 RUN-NONINTERACTIVE img drw "$out" "$out" 0 9 0 0 0 0 0 0 1)
  (gimp-image-delete img))
(gimp-quit 0)
SCM
