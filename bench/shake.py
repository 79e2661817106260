"""Camera-shake kernels for the benchmarks: curved shake drawn from random
camera paths, the recorded kernels, and straight lines.

A kernel image is what one bright point looks like in the blurred photo:
blurring is convolution with it, its weights are non-negative and sum to 1,
and its cell (rows // 2, cols // 2) is the origin. The kernels made here
have odd sizes.

The random paths follow the spirit of Boracchi and Foi ("Modeling the
performance of image restoration from motion blur", 2012): a camera that
drifts with inertia. The heading turns at a rate that itself wanders (a
damped random walk, so the path bends smoothly into J, S and hook shapes),
the speed wanders (where the camera lingers the kernel is bright), and now
and then a jerk turns it sharply for a moment (kinks and hooks).
"""

import os

import numpy as np

RECORDED = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "shared", "data",
                        "shake-kernels")


def normalised(k):
    k = np.maximum(np.asarray(k, dtype=np.float64), 0.0)
    return k / k.sum()


def odd(k):
    """An even-sized kernel padded with zeros at its end, its origin kept."""
    return np.pad(k, ((0, 1 - k.shape[0] % 2), (0, 1 - k.shape[1] % 2)))


def extent(k, floor=1e-3):
    """The larger side, in pixels, of the box around the weights above
    `floor` of the largest."""
    ys, xs = np.nonzero(k > floor * k.max())
    return int(max(ys.max() - ys.min(), xs.max() - xs.min()) + 1)


def reach(k):
    return max(k.shape[0] // 2, k.shape[1] // 2)


def splat(points):
    """Points (N x 2, (row, col) offsets from the origin) spread bilinearly
    over the smallest odd square grid centred on the origin."""
    p = np.asarray(points, dtype=np.float64)
    r = int(np.ceil(np.abs(p).max())) + 1
    k = np.zeros((2 * r + 1, 2 * r + 1))
    y, x = p[:, 0] + r, p[:, 1] + r
    y0, x0 = np.floor(y).astype(int), np.floor(x).astype(int)
    fy, fx = y - y0, x - x0
    for dy, wy in ((0, 1 - fy), (1, fy)):
        for dx, wx in ((0, 1 - fx), (1, fx)):
            np.add.at(k, (y0 + dy, x0 + dx), wy * wx)
    k = normalised(k)
    c = k.shape[0] // 2  # trim empty borders, keeping the origin in the middle
    ys, xs = np.nonzero(k > 0)
    r = int(max(c - ys.min(), ys.max() - c, c - xs.min(), xs.max() - c))
    return k[c - r:c + r + 1, c - r:c + r + 1]


def camera_path(seed, steps=2000):
    """A camera path over one exposure, as (row, col) positions."""
    rng = np.random.default_rng(seed)
    dt = 1.0 / steps
    heading = rng.uniform(0, 2 * np.pi)
    turn = 3.0 * rng.standard_normal()  # radians per exposure
    jerk = 0.0
    log_speed = 0.0
    z = 0j
    path = np.empty(steps, dtype=np.complex128)
    for t in range(steps):
        turn += 6.0 * np.sqrt(dt) * rng.standard_normal() - 1.5 * turn * dt
        if rng.random() < 1.5 * dt:
            jerk += 12.0 * rng.choice((-1.0, 1.0)) * rng.uniform(0.5, 1.0)
        jerk -= 25.0 * jerk * dt
        log_speed += 1.2 * np.sqrt(dt) * rng.standard_normal() - 2.0 * log_speed * dt
        heading += (turn + 6.0 * jerk) * dt
        z += np.exp(log_speed + 1j * heading) * dt
        path[t] = z
    return np.stack([path.imag, path.real], axis=1)


def shake(seed, size):
    """A curved shake kernel whose weights span about `size` pixels, its
    centre of weight on the origin."""
    rng = np.random.default_rng(10_000 + seed)
    p = camera_path(seed)
    p = p[:max(50, int(len(p) * rng.uniform(0.45, 1.0)))]
    p = p - p.min(axis=0)
    p *= (size - 2.0) / max(p.max(), 1e-9)
    return splat(p - p.mean(axis=0))


def line(length, direction):
    """A straight motion of `length` pixels in `direction` degrees
    (clockwise on screen from "to the right"), centred, finely sampled."""
    t = np.linspace(-length / 2, length / 2, int(np.ceil(length / 0.02)) + 1)
    a = np.deg2rad(direction)
    return splat(np.stack([t * np.sin(a), t * np.cos(a)], axis=1))


def recorded(i):
    """Recorded shake kernel i (1 to 8)."""
    import cv2
    k = cv2.imread(os.path.join(RECORDED, "levin-kernel%d.png" % i), cv2.IMREAD_UNCHANGED)
    if k is None:
        raise SystemExit("cannot read the recorded kernels in " + RECORDED)
    return odd(normalised(k if k.ndim == 2 else k[..., 0]))


def write(path, k):
    """A kernel as a 16-bit grey PNG, its largest weight white."""
    import cv2
    cv2.imwrite(path, np.round(k / k.max() * 65535).astype(np.uint16))
