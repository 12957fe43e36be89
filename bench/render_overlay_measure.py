#!/usr/bin/env python3
"""Compares a render of a moving clip under an overlay with the render of the
same clip without it, frame by frame, as ffmpeg decodes both (see
bench/render-overlay).

usage: render_overlay_measure.py PLAIN LAYERED SHAPE WIDTH HEIGHT LABEL RESULTS
  SHAPE is the overlay rendered alone over black: its non-black pixels, at
  the frame and its neighbours, widened by 3 pixels, are left out.
Appends one line to RESULTS and prints it:
  LABEL frames N matched M psnr-min P shift-max S
where a frame is matched when, of the plain render's first frame and the
five around it, the one it is most like is the same frame, P is the lowest PSNR (dB) against the plain frame outside
the overlay, S the largest best-matching shift (pixels) over every fifth
frame.
usage: render_overlay_measure.py --summary RESULTS: the worst case of each
figure with its label.
"""
import math
import subprocess
import sys


def frames(path, width, height):
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                         check=True, stdout=subprocess.PIPE).stdout
    size = width * height * 3
    return [raw[i:i + size] for i in range(0, len(raw) - size + 1, size)]


def masked(shapes, n, width, height):
    opaque = bytearray(width * height)
    for s in (max(n - 1, 0), n, min(n + 1, len(shapes) - 1)):
        shape = shapes[s]
        for i in range(width * height):
            if shape[3 * i] > 40 or shape[3 * i + 1] > 40 or shape[3 * i + 2] > 40:
                opaque[i] = 1
    across = bytearray(width * height)
    for y in range(height):
        row = opaque[y * width:(y + 1) * width]
        for x in range(width):
            if any(row[max(0, x - 3):x + 4]):
                across[y * width + x] = 1
    out = bytearray(width * height)
    for y in range(height):
        for x in range(width):
            if any(across[v * width + x] for v in range(max(0, y - 3), min(height, y + 4))):
                out[y * width + x] = 1
    return out


def mse(a, b, mask, width, height, dx=0, dy=0, margin=0, step=1):
    total, count = 0, 0
    for y in range(margin, height - margin, step):
        for x in range(margin, width - margin, step):
            i, j = y * width + x, (y + dy) * width + x + dx
            if mask[i] or mask[j]:
                continue
            for c in range(3):
                d = a[3 * i + c] - b[3 * j + c]
                total += d * d
            count += 3
    return total / count if count else 0.0


def psnr(e):
    return 99.0 if e <= 0 else 10 * math.log10(255 * 255 / e)


def measure(plain_path, layered_path, shape_path, width, height, label, results):
    plain = frames(plain_path, width, height)
    layered = frames(layered_path, width, height)
    shapes = frames(shape_path, width, height)
    n = min(len(plain), len(layered), len(shapes))
    matched, worst, shift = 0, 99.0, 0
    for k in range(n):
        mask = masked(shapes, k, width, height)
        # The plain render's frame it is most like: its own, its neighbours
        # or the first (a clip that stands still shows that one).
        scores = {j: psnr(mse(layered[k], plain[j], mask, width, height, step=2))
                  for j in {0, *range(max(0, k - 2), min(len(plain), k + 3))}}
        best = max(scores, key=scores.get)
        # Frames the clip shows alike (its end) match any of them.
        if best == k or scores[best] - scores[k] < 0.01:
            matched += 1
        worst = min(worst, psnr(mse(layered[k], plain[k], mask, width, height)))
        if k % 5 == 2:
            errors = {(dx, dy): mse(layered[k], plain[k], mask, width, height, dx, dy, 12, 2)
                      for dx in range(-12, 13) for dy in range(-3, 4)}
            dx, dy = min(errors, key=errors.get)
            shift = max(shift, abs(dx), abs(dy))
    line = "%s frames %d matched %d psnr-min %.1f shift-max %d" % (label, n, matched, worst, shift)
    if len(plain) != len(layered):
        line += " frame-counts %d/%d" % (len(plain), len(layered))
    print(line, flush=True)
    with open(results, "a") as f:
        f.write(line + "\n")


def summary(results):
    rows = []
    with open(results) as f:
        for line in f:
            words = line.split()
            at = words.index("frames")
            rows.append((" ".join(words[:at]), int(words[at + 1]), int(words[at + 3]), float(words[at + 5]),
                         int(words[at + 7])))
    if not rows:
        print("no renders measured")
        return
    unmatched = max(rows, key=lambda r: r[1] - r[2])
    low = min(rows, key=lambda r: r[3])
    shifted = max(rows, key=lambda r: r[4])
    print("worst frame match: %s, %d of %d frames show the plain render's frame" % (unmatched[0], unmatched[2],
                                                                                     unmatched[1]))
    print("worst PSNR outside the overlay: %s, %.1f dB" % (low[0], low[3]))
    print("largest best-matching shift: %s, %d px" % (shifted[0], shifted[4]))


if __name__ == "__main__":
    if sys.argv[1] == "--summary":
        summary(sys.argv[2])
    else:
        measure(sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5]), sys.argv[6], sys.argv[7])
