#!/usr/bin/env bash
# The command line on a 12-megapixel photo, end to end (decode, repair,
# encode), beside G'MIC's deconvolve_fft with the same line as kernel, in
# one run; then blind estimation on the same photo, and the peak memory of
# a repair. The photo: coffee.png at its own resolution, repeated to
# 4000 x 3000 (every frequency a camera photo has), blurred by a 10-pixel
# motion and saved as JPEG quality 92.
#
#   bench/cli_speed.sh [build/src/cli/ostrivo-cli]
# Needs hyperfine, gmic and GNU time (scripts/deps.sh --bench).
set -euo pipefail
cd "$(dirname "$0")/.."
cli=$(realpath "${1:-build/src/cli/ostrivo-cli}")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

vips replicate data/coffee.png "$tmp/tiles.v" 7 8
vips crop "$tmp/tiles.v" "$tmp/sharp.png" 100 100 4000 3000
"$cli" -q --simulate -l 10 -d 0 "$tmp/sharp.png" -o "$tmp/photo12.png"
vips copy "$tmp/photo12.png" "$tmp/photo12.jpg[Q=92]"
echo "photo: $(vipsheader "$tmp/photo12.jpg")"

cd "$tmp"
hyperfine --warmup 1 --runs 5 --export-json times.json \
  -n ostrivo "$cli -q --force -l 10 -k 0.005 photo12.jpg -o ostrivo.jpg" \
  -n gmic "gmic -v -1 photo12.jpg 10,1,1,1,1 normalize_sum[1] deconvolve_fft[0] [1],0.005 rm[1] o[0] gmic.jpg,95" \
  -n estimate "$cli --estimate photo12.jpg"
/usr/bin/python3 - <<'PY'
import json
t = {r["command"]: r["mean"] for r in json.load(open("times.json"))["results"]}
print(f"ostrivo-cli {t['ostrivo']:.2f} s, G'MIC {t['gmic']:.2f} s: "
      f"{t['ostrivo'] / t['gmic']:.2f} x (goal at most 0.25 x)")
print(f"--estimate {t['estimate']:.2f} s (goal at most 1 s)")
PY
peak=$(/usr/bin/time -f %M "$cli" -q --force -l 10 -k 0.005 photo12.jpg -o ostrivo.jpg 2>&1 >/dev/null | tail -1)
echo "peak memory of a repair: $((peak / 1024)) MB, $(( peak * 1024 / 12000000 )) bytes a pixel (goal at most 40)"
"$cli" --estimate photo12.jpg
