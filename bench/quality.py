#!/usr/bin/python3
"""How well Ostrivo repairs realistic motion blur, beside the tools people
would pick instead.

Each case takes a sharp photo, blurs it with a straight motion drawn as a
finely supersampled centred line (64 points per pixel along the segment,
each counted in the pixel it falls in), blurs the whole photo and crops its
inside, so that real
picture content lies beyond every edge, adds Gaussian noise of 1 to 2
levels and sometimes saves it as JPEG quality 90. At the true motion, each
method repairs it with its best K over one grid, and the PSNR against the
sharp crop is printed per case and on average:

  blurred   the input itself
  classic   ostrivo-cli --model classic (the GIMP 2.10 plug-in's line, rounded
            length, 1 % frame)
  smooth    ostrivo-cli --model smooth --solver wiener
  sparse    ostrivo-cli --model smooth with its default sparse solver, at its
            defaults (no K to choose)
  opencv    OpenCV's motion-deblur tutorial: its line from cv2.ellipse and its
            Wiener filter on the real part of H, with the edge blending of
            OpenCV's deconvolution sample (the tutorial's own taper blacks
            out the outer tenth of every side)
  gmic      G'MIC's deconvolve_fft with the true line as kernel
  padded    a plain Wiener filter with the true line on the image extended by
            mirrored borders (what an exact model could reach)

The classic line starts at the origin rather than centred, so its result
is the photo moved by about half the motion; every result is compared at
its best whole-pixel shift within one pixel of the shift its model implies.

  bench/quality.py [--cli build/src/cli/ostrivo-cli] [--quick] [--cases N]
  bench/quality.py --estimate [--seed N]   # blind estimation instead
  bench/quality.py --kernels [--seed N]    # curved shake, the kernel known: the solvers
  bench/quality.py --blind [--seed N] [--picture F]  # the kernel found by --auto
  bench/quality.py --large [--seed N]      # the same on larger photos (mosaics)
  bench/quality.py --tune [--seed N]       # the same on the estimator's tuning photos
  bench/quality.py --timing                # --blind's timings only, on the values and in light
  (--blind, --large and --tune take --linear-light, the blur made in linear light as in a
  camera, and --in-light, ostrivo-cli's --linear-light)

The --kernels table blurs photos that the sparse solver's constants were
not set on (chelsea, rocket, the motorcycles, a retina and the Hubble deep
field, from python3-skimage) by curved shake of 15 to 65 pixels (bench/
shake.py: random camera paths with inertia, from --seed on), by the eight
recorded kernels of ../shared/data/shake-kernels and by four straight
lines, with noise sigma 2.55 and every third case saved as JPEG quality 90,
and repairs them with the true kernel. The --blind table takes the same
cases and repairs them with --auto, which finds the kernel itself; the
estimator's constants were set on other photos (astronaut, coffee, camera,
ihc) and other generated shake (seeds 5000 and up), and on the recorded
kernels, so only the generated shake here is held out. The --large table
does the same on 1024-pixel mosaics of four of those tuning photos, where
the estimator has room for a second crop apart from its first (generated
shake from --seed on, and the recorded kernels). The --tune table is the
--blind table on the tuning photos (astronaut, coffee, camera, ihc, coins
and the moon) and shakes (seed 5000): a change to the estimator is tried
there first, and the held-out tables only accept or reject it.

Needs python3-numpy, python3-scipy, python3-opencv and gmic from Debian
(scripts/deps.sh --bench); the photos are coffee and astronaut from
../shared/data and chelsea (CC0), rocket (public domain) and camera (CC0)
from Debian's python3-skimage.
"""

import argparse
import json
import math
import os
import subprocess
import sys
import tempfile
import time

import cv2
import numpy as np
from scipy import signal

import shake

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
SHARED = os.path.join(ROOT, "..", "shared", "data")
SKIMAGE = "/usr/lib/python3/dist-packages/skimage/data"

PHOTOS = [
    ("coffee", os.path.join(SHARED, "coffee.png")),
    ("astronaut", os.path.join(SHARED, "astronaut.png")),
    ("chelsea", os.path.join(SKIMAGE, "chelsea.png")),
    ("rocket", os.path.join(SKIMAGE, "rocket.jpg")),
    ("camera", os.path.join(SKIMAGE, "camera.png")),
]

# (length in pixels, direction in degrees clockwise from "to the right")
MOTIONS = [(5.0, 10.0), (9.0, 20.0), (12.5, 75.0), (17.3, 135.0), (21.0, 120.0),
           (28.7, 165.0), (35.0, 250.0), (40.0, 302.5)]
K_GRID = [1e-4, 3e-4, 1e-3, 2e-3, 5e-3, 1e-2, 2e-2, 5e-2, 1e-1]
K_OSTRIVO = [k for k in K_GRID if k >= 1e-3]  # the command line's range


# --- the blur -----------------------------------------------------------------


def line_kernel(length, direction, oversample=64):
    """The centred motion, finely supersampled: `oversample` points per pixel
    of its length, each counted in the pixel it falls in."""
    radius = int(math.ceil(length / 2)) + 2
    size = 2 * radius + 1
    kernel = np.zeros((size, size))
    count = max(2, int(math.ceil(length * oversample)))
    t = (np.arange(count) + 0.5) / count - 0.5
    theta = math.radians(direction)
    xs = np.floor(radius + t * length * math.cos(theta) + 0.5).astype(int)
    ys = np.floor(radius + t * length * math.sin(theta) + 0.5).astype(int)
    np.add.at(kernel, (ys, xs), 1.0)
    return kernel / kernel.sum()


def load_photo(path):
    image = cv2.imread(path, cv2.IMREAD_COLOR)
    if image is None:
        raise SystemExit(f"cannot read {path}")
    return image[:, :, ::-1].astype(np.float64)  # RGB


def convolve(image, kernel):
    return np.stack([signal.fftconvolve(image[:, :, c], kernel, mode="same")
                     for c in range(image.shape[2])], axis=2)


def make_case(photo, length, direction, sigma, jpeg, seed):
    """The sharp crop and its blurred, noisy copy (uint8), and the kernel."""
    kernel = line_kernel(length, direction)
    margin = kernel.shape[0] // 2 + 2
    blurred = convolve(photo, kernel)
    rows = (photo.shape[0] - 2 * margin) // 2 * 2
    cols = (photo.shape[1] - 2 * margin) // 2 * 2
    crop = np.s_[margin:margin + rows, margin:margin + cols]
    sharp = np.clip(np.round(photo[crop]), 0, 255).astype(np.uint8)
    rng = np.random.default_rng(seed)
    noisy = blurred[crop] + rng.normal(0.0, sigma, blurred[crop].shape)
    noisy = np.clip(np.round(noisy), 0, 255).astype(np.uint8)
    if jpeg:
        ok, data = cv2.imencode(".jpg", noisy[:, :, ::-1], [cv2.IMWRITE_JPEG_QUALITY, 90])
        noisy = cv2.imdecode(data, cv2.IMREAD_COLOR)[:, :, ::-1]
    return sharp, noisy, kernel


# --- the methods ------------------------------------------------------------------


class Ostrivo:
    def __init__(self, cli, workdir):
        self.cli = cli
        self.dir = workdir

    def run(self, image, args):
        src = os.path.join(self.dir, "in.png")
        dst = os.path.join(self.dir, "out.png")
        cv2.imwrite(src, image[:, :, ::-1])
        subprocess.run([self.cli, "-q", "--force", *args, src, "-o", dst], check=True)
        return cv2.imread(dst, cv2.IMREAD_COLOR)[:, :, ::-1]


def blur_edges(image, width=31):
    """OpenCV's deconvolution sample's edge treatment: near the edges, fade
    into a Gaussian-blurred copy of the image wrapped round."""
    rows, cols = image.shape[:2]
    wrapped = cv2.copyMakeBorder(image, width, width, width, width, cv2.BORDER_WRAP)
    soft = cv2.GaussianBlur(wrapped, (2 * width + 1, 2 * width + 1), -1)[width:-width, width:-width]
    y, x = np.indices((rows, cols))
    distance = np.minimum.reduce([x, cols - 1 - x, y, rows - 1 - y]).astype(np.float64)
    weight = np.minimum(distance / width, 1.0)
    return image * weight + soft * (1 - weight)


def opencv_tutorial(image, length, direction, nsr):
    """OpenCV's motion-deblur tutorial, channel by channel: its line drawn
    with cv2.ellipse and its Wiener filter on the real part of H. The
    tutorial's own edge taper multiplies the outer tenth of each side down to
    black, so the edges are treated as OpenCV's deconvolution sample does."""
    rows, cols = image.shape[:2]
    psf = np.zeros((rows, cols), np.float32)
    # The tutorial turns its ellipse by 90 - theta with theta counter-clockwise
    # on screen; ours turn clockwise.
    cv2.ellipse(psf, (cols // 2, rows // 2), (0, int(round(length / 2.0))), 90.0 + direction,
                0, 360, 255, cv2.FILLED)
    psf /= psf.sum()
    H = np.real(np.fft.fft2(np.fft.ifftshift(psf)))
    G = H / (np.abs(H) ** 2 + nsr)
    out = np.stack([np.real(np.fft.ifft2(np.fft.fft2(blur_edges(image[:, :, c].astype(np.float64)))
                                         * G)) for c in range(3)], axis=2)
    return np.clip(np.round(out), 0, 255).astype(np.uint8)


def padded_wiener(image, kernel, k):
    """Wiener with the exact line on an image extended by mirrored borders."""
    pad = kernel.shape[0] // 2 + 16
    radius = kernel.shape[0] // 2
    out = []
    for c in range(3):
        plane = np.pad(image[:, :, c].astype(np.float64), pad, mode="symmetric")
        h = np.zeros_like(plane)
        h[:kernel.shape[0], :kernel.shape[1]] = kernel
        h = np.roll(h, (-radius, -radius), axis=(0, 1))
        H = np.fft.rfft2(h)
        X = np.fft.rfft2(plane) * np.conj(H) / (np.abs(H) ** 2 + k)
        out.append(np.fft.irfft2(X, plane.shape)[pad:-pad, pad:-pad])
    return np.clip(np.round(np.stack(out, axis=2)), 0, 255).astype(np.uint8)


class Gmic:
    def __init__(self, workdir):
        self.dir = workdir

    def run(self, image, kernel, regularization):
        src = os.path.join(self.dir, "g-in.png")
        ker = os.path.join(self.dir, "g-kernel.png")
        dst = os.path.join(self.dir, "g-out.png")
        cv2.imwrite(src, image[:, :, ::-1])
        cv2.imwrite(ker, np.round(kernel / kernel.max() * 65535).astype(np.uint16))
        subprocess.run(["gmic", "-v", "-1", src, ker, "normalize_sum[1]", "deconvolve_fft[0]",
                        f"[1],{regularization}", "rm[1]", "cut[0]", "0,255", "round[0]", "o[0]",
                        dst], check=True)
        return cv2.imread(dst, cv2.IMREAD_COLOR)[:, :, ::-1]


# --- scoring -------------------------------------------------------------------------


def psnr(a, b):
    mse = np.mean((a.astype(np.float64) - b.astype(np.float64)) ** 2)
    return float("inf") if mse == 0 else 10 * math.log10(255.0 ** 2 / mse)


def aligned_psnr(result, sharp, nominal=(0, 0)):
    """PSNR at the best whole-pixel shift within one pixel of `nominal`,
    over the area every candidate shift covers."""
    reach = max(abs(nominal[0]), abs(nominal[1])) + 1
    best = -1.0
    for dy in range(nominal[0] - 1, nominal[0] + 2):
        for dx in range(nominal[1] - 1, nominal[1] + 2):
            # result(y, x) shows sharp(y + dy, x + dx)
            r = result[reach:-reach, reach:-reach]
            s = sharp[reach + dy:sharp.shape[0] - reach + dy,
                      reach + dx:sharp.shape[1] - reach + dx]
            best = max(best, psnr(r, s))
    return best


def classic_shift(length, direction):
    """Where the classic line's centre of mass lies from the origin (rows,
    columns): its repair shows the photo moved by that much."""
    n = int(length)
    theta = direction * 3.14159265 / 180.0
    corner_row = 0 if direction <= 180 else -1
    corner_col = 0 if direction <= 90 or direction > 270 else -1
    cells = {(corner_row + int(math.sin(theta) * i), corner_col + int(math.cos(theta) * i))
             for i in range(n)}
    return (round(sum(c[0] for c in cells) / len(cells)),
            round(sum(c[1] for c in cells) / len(cells)))


# --- the tables -------------------------------------------------------------------------


def cases(quick, limit):
    chosen = []
    for p, (name, path) in enumerate(PHOTOS):
        photo = load_photo(path)
        motions = MOTIONS[p % 2::2] if quick else MOTIONS
        for m, (length, direction) in enumerate(motions):
            index = len(chosen)
            sigma = (1.0, 1.5, 2.0)[index % 3]
            jpeg = index % 4 == 3
            chosen.append((name, photo, length, direction, sigma, jpeg, index))
    return chosen[:limit] if limit else chosen


def restore_table(args, workdir):
    ostrivo = Ostrivo(args.cli, workdir)
    gmic = Gmic(workdir)
    methods = ["blurred", "classic", "smooth", "sparse", "opencv", "gmic", "padded"]
    print("At the true motion, each method with its best K; PSNR in dB against the sharp crop.")
    print(f"{'case':34s}" + "".join(f"{m:>9s}" for m in methods))
    totals = {m: [] for m in methods}
    ahead = 0
    all_cases = cases(args.quick, args.cases)
    for name, photo, length, direction, sigma, jpeg, seed in all_cases:
        sharp, blurred, kernel = make_case(photo, length, direction, sigma, jpeg, seed)
        shift = classic_shift(length, direction)
        classic_len = str(max(1, round(length)))
        scores = {
            "blurred": aligned_psnr(blurred, sharp),
            "classic": max(aligned_psnr(ostrivo.run(blurred, ["-m", "classic", "-l", classic_len,
                                                             "-d", str(direction), "-k", str(k)]),
                                        sharp, shift) for k in K_OSTRIVO),
            "smooth": max(aligned_psnr(ostrivo.run(blurred, ["-l", str(length), "-d",
                                                            str(direction), "--solver", "wiener",
                                                            "-k", str(k)]),
                                       sharp) for k in K_OSTRIVO),
            "sparse": aligned_psnr(ostrivo.run(blurred, ["-l", str(length), "-d",
                                                         str(direction)]), sharp),
            "opencv": max(aligned_psnr(opencv_tutorial(blurred, length, direction, k), sharp)
                          for k in K_GRID),
            "gmic": max(aligned_psnr(gmic.run(blurred, kernel, k), sharp) for k in K_GRID),
            "padded": max(aligned_psnr(padded_wiener(blurred, kernel, k), sharp) for k in K_GRID),
        }
        label = (f"{name} {length:g}px {direction:g}deg s{sigma:g}" + (" jpeg" if jpeg else ""))
        print(f"{label:34s}" + "".join(f"{scores[m]:9.2f}" for m in methods), flush=True)
        for m in methods:
            totals[m].append(scores[m])
        ahead += scores["smooth"] > max(scores["opencv"], scores["gmic"])
    means = {m: sum(v) / len(v) for m, v in totals.items()}
    print(f"{'mean of ' + str(len(all_cases)) + ' cases':34s}" +
          "".join(f"{means[m]:9.2f}" for m in methods))
    gap = means["smooth"] - means["padded"]
    print(f"smooth ahead of both OpenCV and G'MIC in {ahead} of {len(all_cases)} cases "
          f"(goal: all); {abs(gap):.2f} dB {'above' if gap >= 0 else 'below'} the padded "
          f"exact-line Wiener on average (goal: at most 0.3 below); "
          f"{means['smooth'] - means['classic']:.2f} dB above classic")


def estimate_cases(quick, limit, seed=2026):
    """Blind-estimation cases: for each photo, motions of 5 to 40 pixels in
    directions all round, from a fixed seed."""
    rng = np.random.default_rng(seed)
    chosen = []
    per_photo = 5 if quick else 10
    for name, path in PHOTOS:
        photo = load_photo(path)
        for _ in range(per_photo):
            length = round(float(rng.uniform(5.0, 40.0)), 1)
            direction = round(float(rng.uniform(0.0, 360.0)), 1)
            index = len(chosen)
            sigma = (1.0, 1.5, 2.0)[index % 3]
            jpeg = index % 4 == 3
            chosen.append((name, photo, length, direction, sigma, jpeg, 1000 + index))
    return chosen[:limit] if limit else chosen


def estimate(cli, image, workdir, extra=()):
    src = os.path.join(workdir, "e-in.png")
    cv2.imwrite(src, image[:, :, ::-1])
    out = subprocess.run([cli, "--estimate", "--json", *extra, src], check=True,
                         capture_output=True, text=True).stdout
    return json.loads(out)


def estimate_table(args, workdir):
    ostrivo = Ostrivo(args.cli, workdir)
    print("Blind estimation: the estimate against the true motion, and the PSNR (dB) of the\n"
          "--auto repair beside the repair at the true motion with its best K (smooth model).")
    print(f"{'case':34s}{'length':>14s}{'direction':>16s}{'conf':>6s}{'auto':>8s}{'true':>8s}")
    hits = good = 0
    all_cases = estimate_cases(args.quick, args.cases, args.seed)
    for name, photo, length, direction, sigma, jpeg, seed in all_cases:
        sharp, blurred, _ = make_case(photo, length, direction, sigma, jpeg, seed)
        e = estimate(args.cli, blurred, workdir)
        angle_error = abs((e["direction"] - direction + 90.0) % 180.0 - 90.0)
        length_error = abs(e["length"] - length)
        hit = angle_error <= 3.0 and length_error <= max(2.0, 0.1 * length)
        hits += hit
        auto = aligned_psnr(ostrivo.run(blurred, ["--auto"]), sharp)
        true = max(aligned_psnr(ostrivo.run(blurred, ["-l", str(length), "-d", str(direction),
                                                      "-k", str(k)]), sharp) for k in K_OSTRIVO)
        good += auto >= true - 1.0
        label = (f"{name} {length:g}px {direction:g}deg s{sigma:g}" + (" jpeg" if jpeg else ""))
        print(f"{label:34s}{e['length']:7.1f} ({length_error:4.1f}){e['direction']:8.1f} "
              f"({angle_error:4.1f}){e['confidence']:6.2f}{auto:8.2f}{true:8.2f}"
              f"{'' if hit else '  MISS'}", flush=True)
    n = len(all_cases)
    print(f"direction within 3 degrees and length within max(2 px, 10 %): {hits} of {n} "
          f"({100 * hits / n:.0f} %, goal at least 90 %)")
    print(f"--auto repair within 1 dB of the true-motion repair: {good} of {n} "
          f"({100 * good / n:.0f} %, goal at least 85 %)")
    sharp_ok = 0
    for name, path in PHOTOS:
        e = estimate(args.cli, np.clip(np.round(load_photo(path)), 0, 255).astype(np.uint8),
                     workdir)
        sharp_ok += e["length"] <= 1.0
        print(f"sharp {name}: length {e['length']:.1f}, confidence {e['confidence']:.2f}")
    print(f"sharp photos reported as no motion: {sharp_ok} of {len(PHOTOS)} (goal: all)")


# --- curved shake, the kernel known ---------------------------------------------------

SKIMAGE_PHOTOS = {
    # photos none of the solver's constants were set on (crops away from
    # empty surrounds)
    "chelsea": ("chelsea.png", None),
    "rocket": ("rocket.jpg", None),
    "motorcycle_left": ("motorcycle_left.png", None),
    "motorcycle_right": ("motorcycle_right.png", None),
    "retina": ("retina.jpg", np.s_[300:1000, 250:1000]),
    "hubble": ("hubble_deep_field.jpg", np.s_[100:800, 100:900]),
}
NOISE = 2.55  # 1 % of the range
RL_ITERATIONS = (10, 30, 50)
GMIC_GRID = [3e-3, 1e-2, 2e-2, 3e-2, 5e-2, 1e-1]


def held_out_photo(name):
    file, crop = SKIMAGE_PHOTOS[name]
    photo = load_photo(os.path.join(SKIMAGE, file))
    return photo[crop] if crop is not None else photo


def kernel_cases(seed, names=tuple(SKIMAGE_PHOTOS)):
    """Generated curved shake of 15 to 65 pixels (seeds seed, seed + 1, ...),
    the eight recorded kernels and four straight lines, over the photos."""
    rng = np.random.default_rng(seed)
    sizes = np.clip(np.round(np.linspace(15, 65, 24) + rng.uniform(-2, 2, 24)), 15, 65)
    rng.shuffle(sizes)
    chosen = []
    for i in range(24):
        chosen.append((names[i % 6], shake.shake(seed + i, int(sizes[i])),
                       f"shake {seed + i}, {int(sizes[i])} px"))
    for j in range(1, 9):
        chosen.append((names[(j + 2) % 6], shake.recorded(j), f"recorded {j}"))
    for length, direction, name in ((5, 30, "rocket"), (15, 100, "chelsea"),
                                     (25, 0, "motorcycle_left"), (40, 135, "retina")):
        chosen.append((name, shake.line(length, direction), f"line {length} px {direction} deg"))
    return chosen


def srgb_to_linear(v):
    """sRGB values (0..255) as linear light (0..1)."""
    v = v / 255.0
    return np.where(v <= 0.04045, v / 12.92, ((v + 0.055) / 1.055) ** 2.4)


def linear_to_srgb(v):
    """Linear light (0..1) as sRGB values (0..255)."""
    v = np.clip(v, 0.0, 1.0)
    return 255.0 * np.where(v <= 0.0031308, 12.92 * v, 1.055 * v ** (1 / 2.4) - 0.055)


def kernel_case(photo, k, index, linear=False):
    """The sharp crop and its blurred, noisy copy: the whole photo blurred by
    true convolution and its inside cut out, so that real content lies beyond
    every edge; every third one saved as JPEG quality 90. With `linear`, the
    blur acts on linear light, as in a camera, and the result is encoded as
    sRGB again (the noise added after)."""
    margin = shake.reach(k) + 4
    if linear:
        blurred = linear_to_srgb(convolve(srgb_to_linear(photo), k))
    else:
        blurred = convolve(photo, k)
    blurred = blurred[margin:-margin, margin:-margin]
    sharp = np.clip(np.round(photo[margin:-margin, margin:-margin]), 0, 255).astype(np.uint8)
    rng = np.random.default_rng(900 + index)
    noisy = np.clip(np.round(blurred + rng.normal(0.0, NOISE, blurred.shape)), 0, 255)
    noisy = noisy.astype(np.uint8)
    jpeg = index % 3 == 2
    if jpeg:
        ok, data = cv2.imencode(".jpg", noisy[:, :, ::-1], [cv2.IMWRITE_JPEG_QUALITY, 90])
        noisy = cv2.imdecode(data, cv2.IMREAD_COLOR)[:, :, ::-1]
    return sharp, noisy, jpeg


def shifted_psnr(result, sharp, reach=2):
    """PSNR at the best whole-pixel shift within `reach` pixels, over the
    area every shift covers."""
    return max(
        psnr(result[reach:-reach, reach:-reach],
             sharp[reach + dy:sharp.shape[0] - reach + dy, reach + dx:sharp.shape[1] - reach + dx])
        for dy in range(-reach, reach + 1) for dx in range(-reach, reach + 1))


def richardson_lucy_best(image, k, sharp):
    """scikit-image's Richardson-Lucy on the photo extended by mirrored
    borders, at its best number of iterations."""
    from skimage.restoration import richardson_lucy
    pad = shake.reach(k) + 16
    padded = np.pad(image.astype(np.float64) / 255.0, ((pad, pad), (pad, pad), (0, 0)),
                    mode="symmetric")
    best = -1.0
    for iterations in RL_ITERATIONS:
        out = np.stack([richardson_lucy(padded[:, :, c], k, num_iter=iterations)
                        for c in range(3)], axis=2)[pad:-pad, pad:-pad]
        best = max(best, shifted_psnr(np.clip(np.round(out * 255), 0, 255), sharp))
    return best


def kernel_table(args, workdir):
    ostrivo = Ostrivo(args.cli, workdir)
    gmic = Gmic(workdir)
    methods = ["blurred", "wiener", "sparse", "rl", "gmic"]
    print("The kernel known (ostrivo-cli --kernel): PSNR in dB at the best shift within 2 px;\n"
          "Wiener with its best K, Richardson-Lucy with its best iterations and G'MIC with its\n"
          "best regularisation, each chosen by looking at the sharp photo; sparse at its "
          "defaults.")
    print(f"{'case':46s}" + "".join(f"{m:>9s}" for m in methods))
    totals = {m: [] for m in methods}
    above = ahead = 0
    all_cases = kernel_cases(args.seed)[:args.cases or None]
    photos = {}
    kfile = os.path.join(workdir, "kernel.png")
    for index, (name, k, label) in enumerate(all_cases):
        photo = photos.setdefault(name, held_out_photo(name))
        sharp, blurred, jpeg = kernel_case(photo, k, index, args.linear_light)
        shake.write(kfile, k)
        scores = {
            "blurred": shifted_psnr(blurred, sharp),
            "wiener": max(shifted_psnr(ostrivo.run(blurred, ["--kernel", kfile, "--solver",
                                                             "wiener", "-k", str(K)]), sharp)
                          for K in K_OSTRIVO),
            "sparse": shifted_psnr(ostrivo.run(blurred, ["--kernel", kfile]), sharp),
            "rl": richardson_lucy_best(blurred, k, sharp),
            "gmic": max(shifted_psnr(gmic.run(blurred, k, r), sharp) for r in GMIC_GRID),
        }
        tag = f"{name} {label}" + (" jpeg" if jpeg else "")
        print(f"{tag:46s}" + "".join(f"{scores[m]:9.2f}" for m in methods), flush=True)
        for m in methods:
            totals[m].append(scores[m])
        above += scores["sparse"] > scores["wiener"]
        ahead += scores["sparse"] > max(scores["rl"], scores["gmic"])
    n = len(all_cases)
    means = {m: sum(v) / n for m, v in totals.items()}
    print(f"{'mean of ' + str(n) + ' cases':46s}" + "".join(f"{means[m]:9.2f}" for m in methods))
    curved = [i for i, c in enumerate(all_cases) if not c[2].startswith("line")]
    gain = [totals["sparse"][i] - totals["wiener"][i] for i in curved]
    print(f"sparse against Wiener with its best K: {means['sparse'] - means['wiener']:+.2f} dB on "
          f"the mean (goal at least +2), {sum(gain) / len(gain):+.2f} dB on the curved shake, "
          f"lowest {min(gain):+.2f}; above it in {above} of {n} cases (goal: all)")
    print(f"sparse ahead of both Richardson-Lucy and G'MIC in {ahead} of {n} cases (goal: all)")


# --- curved shake, the kernel found in the photo ------------------------------------

BLIND_REACH = 8  # pixels: the kernel found is centred on its weight, not on the true origin


def kernel_picture(pairs, path, box=72):
    """True and found kernels side by side, each pair in one cell of a grid,
    each kernel scaled so its peak is white and shown at a common scale."""
    cols = 6
    rows = (len(pairs) + cols - 1) // cols
    sheet = np.full((rows * (box + 8), cols * (2 * box + 16)), 64, np.uint8)
    for i, (true, found) in enumerate(pairs):
        r, c = divmod(i, cols)
        size = max(true.shape[0], found.shape[0] if found is not None else 1)
        zoom = max(1, box // size)
        for j, k in enumerate((true, found)):
            cell = np.zeros((box, box), np.uint8)
            if k is not None:
                im = np.kron(k / k.max(), np.ones((zoom, zoom)))[:box, :box]
                y, x = (box - im.shape[0]) // 2, (box - im.shape[1]) // 2
                cell[y:y + im.shape[0], x:x + im.shape[1]] = np.round(im * 255)
            y0, x0 = r * (box + 8) + 4, c * (2 * box + 16) + 4 + j * (box + 4)
            sheet[y0:y0 + box, x0:x0 + box] = cell
    cv2.imwrite(path, sheet)


def timed(cli, args):
    start = time.perf_counter()
    subprocess.run([cli, "-q", "--force", *args], check=True)
    return time.perf_counter() - start


def blind_timing(cli, workdir, extra=()):
    """--auto on a 0.7 and a 12 MP photo blurred by a 31-pixel shake, against
    the repair with the kernel known, in the same run (both with `extra`)."""
    k = shake.shake(77, 31)
    kfile = os.path.join(workdir, "timing-k.png")
    shake.write(kfile, k)
    photo = load_photo(os.path.join(SKIMAGE, "chelsea.png"))
    for label, size in (("0.7 MP", (1024, 683)), ("12 MP", (4240, 2832))):
        big = cv2.resize(photo, size, interpolation=cv2.INTER_CUBIC)
        blurred = np.clip(np.round(convolve(big, k)), 0, 255).astype(np.uint8)
        src = os.path.join(workdir, "timing.jpg")
        cv2.imwrite(src, blurred[:, :, ::-1], [cv2.IMWRITE_JPEG_QUALITY, 95])
        out = os.path.join(workdir, "timing-out.jpg")
        auto = min(timed(cli, [*extra, "--auto", src, "-o", out]) for _ in range(2))
        known = min(timed(cli, [*extra, "--kernel", kfile, src, "-o", out]) for _ in range(2))
        print(f"{label}: --auto {auto:.2f} s, the kernel known {known:.2f} s "
              f"(ratio {auto / known:.1f}x; goal: --auto at most "
              f"{'5' if label == '0.7 MP' else '15'} s)")


def light_options(args):
    """ostrivo-cli's options for --in-light."""
    return ["--linear-light"] if args.in_light else []


def blind_rows(args, workdir, cases, photo_of):
    """Repairs each case by --auto and by the kernel known; prints a line a
    case. The rows (label, blurred, known, auto) and the kernels true and found."""
    ostrivo = Ostrivo(args.cli, workdir)
    light = light_options(args)
    print("The kernel found (ostrivo-cli --auto) against the kernel known (--kernel, sparse):\n"
          f"PSNR in dB at the best shift within {BLIND_REACH} px; ok: --auto within 3 dB of the "
          "known kernel's repair.")
    print(f"{'case':46s}{'blurred':>9s}{'known':>9s}{'auto':>9s}  model   found")
    rows, pairs = [], []
    photos = {}
    kfile = os.path.join(workdir, "kernel.png")
    found = os.path.join(workdir, "found.png")
    for index, (name, k, label) in enumerate(cases):
        photo = photos.setdefault(name, photo_of(name))
        sharp, blurred, jpeg = kernel_case(photo, k, index, args.linear_light)
        shake.write(kfile, k)
        known = shifted_psnr(ostrivo.run(blurred, [*light, "--kernel", kfile]), sharp,
                             BLIND_REACH)
        auto = shifted_psnr(ostrivo.run(blurred, [*light, "--auto", "--kernel-out", found]), sharp,
                            BLIND_REACH)
        e = estimate(args.cli, blurred, workdir, light)
        fk = cv2.imread(found, cv2.IMREAD_UNCHANGED)
        pairs.append((k, fk.astype(np.float64) if fk is not None else None))
        before = shifted_psnr(blurred, sharp, BLIND_REACH)
        rows.append((label, before, known, auto))
        tag = f"{name} {label}" + (" jpeg" if jpeg else "")
        print(f"{tag:46s}{before:9.2f}{known:9.2f}{auto:9.2f}  {e['model']:7s} "
              f"{e['kernel_width']}x{e['kernel_height']}"
              f"{'' if auto >= known - 3 else '  MISS'}", flush=True)
    for group, pick in (("generated shake", lambda r: r[0].startswith("shake")),
                        ("recorded kernels", lambda r: r[0].startswith("recorded")),
                        ("straight lines", lambda r: r[0].startswith("line"))):
        chosen = [r for r in rows if pick(r)]
        if not chosen:
            continue
        n = len(chosen)
        ok = sum(r[3] >= r[2] - 3 for r in chosen)
        worse = sum(r[3] < r[1] - 0.5 for r in chosen)
        mean = [sum(r[i] for r in chosen) / n for i in (1, 2, 3)]
        print(f"{group}, {n} cases: blurred {mean[0]:.2f}, known {mean[1]:.2f}, auto "
              f"{mean[2]:.2f} dB (gap {mean[1] - mean[2]:.2f}, goal at most 1.5); within 3 dB in "
              f"{ok} ({100 * ok / n:.0f} %, goal at least 85 %); more than 0.5 dB below the "
              f"blurred input in {worse} (goal: none)")
    return rows, pairs


# Larger photos, with room for the estimator's second crop apart from its
# first: 1024 x 1024 mosaics of four 512-pixel photos (or crops), so that the
# two crops see different content under the same shake. The photos are those
# the estimator's constants were set on; the shakes are new.
MOSAICS = (("astronaut", "camera", "ihc", "moon"), ("coffee", "ihc", "astronaut", "coins"),
           ("moon", "coffee", "camera", "astronaut"))


# The photos the estimator's constants are set on (and its tuning shakes, from
# seed 5000 on): the mosaics' tiles, and what --tune measures to try a change
# before the held-out tables judge it.
TUNING_PHOTOS = {"astronaut": SHARED, "coffee": SHARED, "camera": SKIMAGE, "ihc": SKIMAGE,
                 "coins": SKIMAGE, "moon": SKIMAGE}


def tuning_photo(name):
    return load_photo(os.path.join(TUNING_PHOTOS[name], name + ".png"))


def mosaic(name):
    """The mosaic called "mosaic N"."""
    def tile(photo):
        image = tuning_photo(photo)
        if image.shape[0] >= 512:
            return image[:512, :512]
        return cv2.resize(image[:, 50:562], (512, 512), interpolation=cv2.INTER_AREA)
    tiles = [tile(part) for part in MOSAICS[int(name.split()[1])]]
    return np.vstack([np.hstack(tiles[:2]), np.hstack(tiles[2:])])


def large_cases(seed):
    """15 generated shakes of 15 to 65 pixels and the eight recorded kernels
    over the mosaics."""
    rng = np.random.default_rng(seed)
    sizes = np.clip(np.round(np.linspace(15, 65, 15) + rng.uniform(-2, 2, 15)), 15, 65)
    rng.shuffle(sizes)
    chosen = [(f"mosaic {i % 3}", shake.shake(seed + i, int(sizes[i])),
               f"shake {seed + i}, {int(sizes[i])} px") for i in range(15)]
    return chosen + [(f"mosaic {(j + 1) % 3}", shake.recorded(j), f"recorded {j}")
                     for j in range(1, 9)]


def tune_table(args, workdir):
    """The --blind table without its straight lines, on the tuning photos."""
    cases = kernel_cases(args.seed, tuple(TUNING_PHOTOS))[:32]
    blind_rows(args, workdir, cases[:args.cases or None], tuning_photo)


def large_table(args, workdir):
    blind_rows(args, workdir, large_cases(args.seed)[:args.cases or None], mosaic)


def blind_table(args, workdir):
    rows, pairs = blind_rows(args, workdir, kernel_cases(args.seed)[:args.cases or None],
                             held_out_photo)
    if args.picture:
        kernel_picture(pairs, args.picture)
        print(f"kernels, true beside found: {args.picture}")
    ostrivo = Ostrivo(args.cli, workdir)
    light = light_options(args)
    sharp_ok = 0
    for name in SKIMAGE_PHOTOS:
        photo = np.clip(np.round(held_out_photo(name)), 0, 255).astype(np.uint8)
        e = estimate(args.cli, photo, workdir, light)
        kept = np.array_equal(ostrivo.run(photo, [*light, "--auto"]), photo)
        sharp_ok += e["model"] == "none" and kept
        print(f"sharp {name}: model {e['model']}, kernel {e['kernel_width']}x"
              f"{e['kernel_height']}, written unchanged: {'yes' if kept else 'no'}")
    print(f"sharp photos reported as no motion and written unchanged: {sharp_ok} of "
          f"{len(SKIMAGE_PHOTOS)} (goal: all)")
    blind_timing(args.cli, workdir, light)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cli", default=os.path.join(ROOT, "build", "src", "cli", "ostrivo-cli"))
    parser.add_argument("--quick", action="store_true", help="fewer cases per photo")
    parser.add_argument("--cases", type=int, default=0, help="stop after N cases")
    parser.add_argument("--estimate", action="store_true",
                        help="the blind-estimation table instead of the repair table")
    parser.add_argument("--kernels", action="store_true",
                        help="curved shake with its kernel known: the sparse solver against "
                             "Wiener, Richardson-Lucy and G'MIC")
    parser.add_argument("--blind", action="store_true",
                        help="curved shake, the kernel found in the photo: --auto against the "
                             "kernel known, sharp photos and timings")
    parser.add_argument("--large", action="store_true",
                        help="as --blind, on 1024-pixel mosaics of the estimator's tuning photos "
                             "(room for its second crop apart)")
    parser.add_argument("--tune", action="store_true",
                        help="as --blind, on the photos and shakes (--seed 5000) the estimator's "
                             "constants are set on")
    parser.add_argument("--timing", action="store_true",
                        help="only --blind's timings, on the values and with --linear-light, in "
                             "one run")
    parser.add_argument("--picture", default="",
                        help="with --blind: write the true and found kernels side by side here")
    parser.add_argument("--linear-light", action="store_true",
                        help="with --blind, --large or --tune: blur in linear light, as a camera "
                             "does, instead of on the sRGB values")
    parser.add_argument("--in-light", action="store_true",
                        help="with --blind, --large or --tune: ostrivo-cli finds and repairs the "
                             "blur in linear light (--linear-light)")
    parser.add_argument("--seed", type=int, default=None,
                        help="the motions of the estimation cases (2026: those the estimator's "
                             "few constants were set on)")
    args = parser.parse_args()
    if args.seed is None:
        args.seed = 5000 if args.tune else 2026
    with tempfile.TemporaryDirectory(prefix="ostrivo-quality-") as workdir:
        if args.timing:
            for extra in ([], ["--linear-light"]):
                print(" ".join(["ostrivo-cli", *extra]))
                blind_timing(args.cli, workdir, extra)
        elif args.blind:
            blind_table(args, workdir)
        elif args.large:
            large_table(args, workdir)
        elif args.tune:
            tune_table(args, workdir)
        elif args.kernels:
            kernel_table(args, workdir)
        elif args.estimate:
            estimate_table(args, workdir)
        else:
            restore_table(args, workdir)


if __name__ == "__main__":
    main()
