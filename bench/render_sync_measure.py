#!/usr/bin/env python3
"""Offsets of sound against picture in a render of bench/render-sync.

usage: render_sync_measure.py FILE MINUTES LABEL RESULTS [OPTION...]
       render_sync_measure.py --summary RESULTS GEN1_LABEL GEN2_LABEL
       render_sync_measure.py --frames A B LABEL RESULTS SECTION [MASK_BLACK MASK_WHITE]
       render_sync_measure.py --first-block FILE CLIP LABEL RESULTS SECTION SECONDS...
       render_sync_measure.py --loops FILE CLIP LABEL RESULTS SECTION LOOP_SECONDS MIX_SECONDS
       render_sync_measure.py --sections RESULTS

The file holds black frames with a white flash and a 1 kHz beep starting at
each whole second. Both are read as ffmpeg decodes the file (edit lists
applied): the frames' times from ffprobe, their mean luma from ffmpeg, the
sound as 16-bit mono PCM from the stream's start time. For each second k the
flash is the first frame at or after k - 0.5 s whose mean luma is above mid
grey, the beep onset the first sample in the same window above 30 % of the
beep's peak there; offset = onset - flash. Prints the offsets at the start
(second 1), the middle and the end (the last whole second), the worst over
every second (each second with VERBOSE set), and the lengths; appends "label|worst|start|middle|end|sound
seconds" to RESULTS. Options: "section=S" appends the section's lines
("S|kind|label|badness|text", read by --sections) instead; "from=SECONDS"
measures only the seconds from there on; "every=N" only each Nth second
(with the first and the last); "sound-only" takes each whole second as the
flash (a file without pictures); "seconds=N" the mix's length in seconds
where MINUTES is 0.

--frames: frame k of A against frame k of B (both as ffmpeg decodes them,
in RGB, all three components): the PSNR of each pair, the frames below 30 dB, and the shift of A
that matches B best at the middle frame. With MASK_BLACK and MASK_WHITE
(the same overlay over a black and over a white photo) only the pixels the
overlay leaves transparent in that frame count.

--first-block: the peak of the 5 ms of sound from each of SECONDS in FILE
against the peak of CLIP's first 5 ms, in dB (a start that drops its first
milliseconds shows far below 0 dB).

--loops: FILE plays CLIP looped every LOOP_SECONDS. Each loop's sound
starts with the clip's beep, a 1 kHz sine from phase 0: the loop's start is
found to a fraction of a sample from the beep's zero crossings, and each
loop's length (the next start minus this one) is compared with the clip's
sound track's edit, its segment duration (ffprobe's duration_ts). Where
FILE's frame rate is CLIP's, each output frame is matched (RGB, 16x12) with
the clip's frames near the one it should show (its index in its loop), and
each loop must show every clip frame exactly once, in order.

--sections: the worst line of each section and kind.
"""
import array
import math
import os
import subprocess
import sys


def run(args):
    return subprocess.run(args, check=True, stdout=subprocess.PIPE).stdout


def stream_start(path, kind):
    out = run(["ffprobe", "-v", "error", "-select_streams", kind + ":0", "-show_entries",
               "stream=start_time,sample_rate", "-of", "csv=p=0:nk=0", path]).decode()
    fields = dict(kv.split("=") for kv in out.strip().split(","))
    start = float(fields.get("start_time", "0")) if fields.get("start_time", "N/A") not in ("", "N/A") else 0.0
    rate = int(fields["sample_rate"]) if fields.get("sample_rate", "N/A") not in ("", "N/A") else 0
    return start, rate


def frames(path):
    times = [float(t) for t in run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                                     "frame=best_effort_timestamp_time", "-of", "csv=p=0", path]).split()]
    raw = run(["ffmpeg", "-v", "error", "-i", path, "-map", "0:v:0", "-fps_mode", "passthrough", "-vf",
               "scale=16:16,format=gray", "-f", "rawvideo", "-"])
    lumas = [sum(raw[i:i + 256]) / 256 for i in range(0, len(raw) - 255, 256)]
    n = min(len(times), len(lumas))
    return times[:n], lumas[:n]


def sound(path):
    start, rate = stream_start(path, "a")
    pcm = array.array("h")
    pcm.frombytes(run(["ffmpeg", "-v", "error", "-i", path, "-map", "0:a:0", "-ac", "1", "-f", "s16le", "-"]))
    if sys.byteorder != "little":
        pcm.byteswap()
    return start, rate, pcm


def measure(path, minutes, label, results, options=()):
    opts = dict(o.split("=", 1) if "=" in o else (o, "1") for o in options)
    sound_only = "sound-only" in opts
    times, lumas = ([], []) if sound_only else frames(path)
    a_start, rate, pcm = sound(path)
    seconds = minutes * 60 or int(opts.get("seconds", "0"))
    first_k = max(1, int(opts.get("from", "1")))
    every = int(opts.get("every", "1"))
    wanted = [k for k in range(first_k, seconds) if k == first_k or k == seconds - 1 or k % every == 0]
    offsets = {}
    frame_at = 0
    for k in wanted:
        lo, hi = k - 0.5, k + 0.5
        if sound_only:
            flash = k
        else:
            while frame_at < len(times) and times[frame_at] < lo:
                frame_at += 1
            flash = None
            i = frame_at
            while flash is None and i < len(times) and times[i] < hi:
                if lumas[i] > 128:
                    flash = times[i]
                i += 1
        first = max(0, int((lo - a_start) * rate))
        last = min(len(pcm), int((hi - a_start) * rate))
        if flash is None or last <= first:
            continue
        window = pcm[first:last]
        peak = max(abs(v) for v in window)
        if peak < 1000:
            continue
        onset = next(i for i, v in enumerate(window) if abs(v) > 0.3 * peak)
        offsets[k] = ((first + onset) / rate + a_start - flash) * 1000
    section = opts.get("section")
    if not offsets:
        print(f"{label}: no flash and beep found")
        if section:
            with open(results, "a") as f:
                f.write(f"{section}|offset|{label}|inf|no flash and beep found\n")
        return
    keys = sorted(offsets)
    if os.environ.get("VERBOSE"):
        for k in keys:
            print(f"  second {k}: {offsets[k]:+.1f} ms")
    start, middle, end = offsets[keys[0]], offsets[keys[len(keys) // 2]], offsets[keys[-1]]
    worst_k = max(keys, key=lambda k: abs(offsets[k]))
    sound_s = len(pcm) / rate
    picture = "no picture"
    if len(times) > 1:
        picture = f"picture {times[-1] - times[0] + times[-1] - times[-2]:.3f} s"
    line = (f"{label}: start {start:+.1f} ms, middle {middle:+.1f} ms, end {end:+.1f} ms; worst "
            f"{offsets[worst_k]:+.1f} ms (second {worst_k}; {len(keys)} of {len(wanted)} seconds measured); sound "
            f"{a_start + sound_s:.3f} s (from {a_start:.3f} s), {picture}, mix {seconds} s")
    print(line)
    with open(results, "a") as f:
        if not section:
            f.write(f"{label}|{offsets[worst_k]:.1f}|{start:.1f}|{middle:.1f}|{end:.1f}|{a_start + sound_s:.3f}\n")
            return
        f.write(f"{section}|offset|{label}|{abs(offsets[worst_k]):.1f}|worst {offsets[worst_k]:+.1f} ms at second "
                f"{worst_k}, {len(keys)} of {len(wanted)} seconds with flash and beep\n")
        if len(keys) < len(wanted):
            f.write(f"{section}|flashes missed|{label}|{len(wanted) - len(keys)}|{len(keys)} of {len(wanted)} "
                    f"seconds with flash and beep\n")
        short = (a_start + sound_s - seconds) * 1000
        f.write(f"{section}|sound length|{label}|{abs(short):.1f}|sound {a_start + sound_s:.3f} s for a "
                f"{seconds} s mix ({short:+.1f} ms)\n")


def rgb_frames(path):
    """Every frame of PATH's picture as ffmpeg decodes it, 24-bit RGB, and its size."""
    size = run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "stream=width,height", "-of",
                "csv=p=0", path]).decode().split()[0].split(",")
    w, h = int(size[0]), int(size[1])
    raw = run(["ffmpeg", "-v", "error", "-i", path, "-map", "0:v:0", "-fps_mode", "passthrough", "-pix_fmt",
               "rgb24", "-f", "rawvideo", "-"])
    n = w * h * 3
    return w, h, [raw[i:i + n] for i in range(0, len(raw) - n + 1, n)]


def masked_mse(a, b, mask, w, h, dx=0, dy=0):
    """Mean squared difference of a shifted by (dx, dy) against b over mask,
    over the three colour components of each pixel."""
    total = count = 0
    for y in range(max(0, -dy), min(h, h - dy)):
        ra, rb = ((y + dy) * w + dx) * 3, y * w * 3
        for x in range(max(0, -dx), min(w, w - dx)):
            if mask is None or mask[y * w + x]:
                i, j = ra + 3 * x, rb + 3 * x
                d0, d1, d2 = a[i] - b[j], a[i + 1] - b[j + 1], a[i + 2] - b[j + 2]
                total += d0 * d0 + d1 * d1 + d2 * d2
                count += 3
    return total / count if count else float("inf")


def psnr(mse):
    return 99.0 if mse == 0 else 10 * math.log10(255 * 255 / mse)


def compare_frames(a_path, b_path, label, results, section, mask_paths=()):
    w, h, fa = rgb_frames(a_path)
    wb, hb, fb = rgb_frames(b_path)
    masks = []
    if mask_paths:
        # A pixel the overlay leaves transparent shows the photo under it:
        # black over the black photo and white over the white one, in every
        # component.
        _, _, black = rgb_frames(mask_paths[0])
        _, _, white = rgb_frames(mask_paths[1])
        masks = [bytes(1 if min(c[i] - b[i], c[i + 1] - b[i + 1], c[i + 2] - b[i + 2]) > 100 else 0
                       for i in range(0, len(b), 3)) for b, c in zip(black, white)]
    if (w, h) != (wb, hb):
        print(f"{label}: sizes differ ({w}x{h} against {wb}x{hb})")
        return
    n = min(len(fa), len(fb))
    values = []
    for k in range(n):
        mask = masks[k] if k < len(masks) else None
        values.append(psnr(masked_mse(fa[k], fb[k], mask, w, h)))
    below = [k for k, v in enumerate(values) if v < 30]
    worst = min(range(n), key=lambda k: values[k]) if n else 0
    # The shift of A that matches B best at the middle frame, along each axis.
    mid = n // 2
    shift = None
    if n:
        mask = masks[mid] if mid < len(masks) else None
        # Among shifts that match alike (a flat frame), the smallest.
        best_x = min(range(-16, 17), key=lambda d: (masked_mse(fa[mid], fb[mid], mask, w, h, d, 0), abs(d)))
        best_y = min(range(-8, 9), key=lambda d: (masked_mse(fa[mid], fb[mid], mask, w, h, 0, d), abs(d)))
        # A shift means something only where the shifted frames match.
        if psnr(masked_mse(fa[mid], fb[mid], mask, w, h, best_x, best_y)) >= 30:
            shift = (best_x, best_y)
    where = f"{shift[0]:+d},{shift[1]:+d} px" if shift else "none (no shift matches)"
    text = (f"{len(below)} of {n} frames below 30 dB, worst {values[worst] if n else 0:.1f} dB at frame {worst}, "
            f"best shift at frame {mid} {where}; {len(fa)} against {len(fb)} frames")
    print(f"{label}: {text}")
    with open(results, "a") as f:
        f.write(f"{section}|frames unlike the reference|{label}|{len(below) + abs(len(fa) - len(fb))}|{text}\n")
        if shift:
            f.write(f"{section}|shift|{label}|{abs(shift[0]) + abs(shift[1])}|best shift {where} at frame {mid}\n")


def first_blocks(path, clip, label, results, section, seconds):
    def peak(pcm, first, rate):
        block = pcm[max(0, first):max(0, first) + max(1, rate // 200)]
        return max((abs(v) for v in block), default=0)

    c_start, c_rate, c_pcm = sound(clip)
    ref = peak(c_pcm, 0, c_rate)
    a_start, rate, pcm = sound(path)
    worst = None
    parts = []
    for t in seconds:
        p = peak(pcm, int(round((t - a_start) * rate)), rate)
        db = 20 * math.log10(p / ref) if p and ref else -99.0
        parts.append(f"{t:g} s {db:+.1f} dB")
        if worst is None or abs(db) > abs(worst[1]):
            worst = (t, db)
    text = f"first 5 ms peak against the clip's: " + ", ".join(parts)
    print(f"{label}: {text}")
    with open(results, "a") as f:
        f.write(f"{section}|first 5 ms|{label}|{abs(worst[1]):.1f}|{worst[1]:+.1f} dB at {worst[0]:g} s\n")


def beep_start(pcm, rate, near):
    """The sample position, to a fraction of a sample, where the beep near
    sample NEAR starts: the beep is sin(2 pi 1000 t) from its start, so each
    rising zero crossing lies a whole number of milliseconds after it."""
    lo, hi = max(0, near - rate // 2), min(len(pcm), near + rate // 2)
    window = pcm[lo:hi]
    if not window:
        return None
    peak = max(abs(v) for v in window)
    if peak < 1000:
        return None
    onset = lo + next(i for i, v in enumerate(window) if abs(v) > 0.3 * peak)
    period = rate / 1000
    starts = []
    # The crossings from 5 to 150 ms into the beep, where it is steady.
    i = onset + rate // 200
    end = min(len(pcm) - 1, onset + rate * 150 // 1000)
    while i < end:
        a, b = pcm[i], pcm[i + 1]
        if a < 0 <= b:
            at = i + (-a) / (b - a)
            starts.append(at - round((at - onset) / period) * period)
        i += 1
    if not starts:
        return None
    starts.sort()
    return starts[len(starts) // 2]


def small_rgb(path):
    raw = run(["ffmpeg", "-v", "error", "-i", path, "-map", "0:v:0", "-fps_mode", "passthrough", "-vf",
               "scale=16:12:flags=area", "-pix_fmt", "rgb24", "-f", "rawvideo", "-"])
    return [raw[i:i + 576] for i in range(0, len(raw) - 575, 576)]


def frame_rate(path):
    out = run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "stream=avg_frame_rate", "-of",
               "csv=p=0", path]).decode().strip()
    num, _, den = out.partition("/")
    return float(num) / float(den or 1)


def loops(path, clip, label, results, section, loop_s, mix_s):
    out = run(["ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries", "stream=duration_ts,time_base",
               "-of", "csv=p=0:nk=1", clip]).decode().strip().split(",")
    num, _, den = out[0].partition("/")
    segment_s = int(out[1]) * float(num) / float(den)
    a_start, rate, pcm = sound(path)
    segment = segment_s * rate
    starts = []
    for n in range(int(mix_s // loop_s) + 1):
        at = beep_start(pcm, rate, int(round((n * loop_s - a_start) * rate)))
        if at is None and n * loop_s < mix_s:
            starts.append(None)
        elif at is not None:
            starts.append(at)
    lengths = [(n, b - a) for n, (a, b) in enumerate(zip(starts, starts[1:])) if a is not None and b is not None]
    lines = []
    if lengths:
        worst = max(lengths, key=lambda nl: abs(nl[1] - segment))
        mean = sum(length for _, length in lengths) / len(lengths)
        text = (f"{len(lengths)} loops, worst {worst[1] - segment:+.2f} samples (loop {worst[0] + 1}, "
                f"{worst[1]:.2f} for {segment:.0f}), mean {mean - segment:+.3f} samples; first start at sample "
                f"{starts[0] if starts[0] is not None else float('nan'):.2f}")
        lines.append(f"{section}|loop length, samples|{label}|{abs(worst[1] - segment):.2f}|{text}")
    else:
        text = "no two loop starts found"
        lines.append(f"{section}|loop length, samples|{label}|inf|{text}")
    print(f"{label}: sound loop length against the edit's {segment_s:.6f} s: {text}")
    fps, clip_fps = frame_rate(path), frame_rate(clip)
    if abs(fps - clip_fps) < 0.01:
        times = [float(t) for t in run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                                        "frame=best_effort_timestamp_time", "-of", "csv=p=0", path]).split()]
        shown, source = small_rgb(path), small_rgb(clip)
        per_loop = int(round(loop_s * clip_fps))
        loops_seen = {}
        for k in range(min(len(times), len(shown))):
            n = int((times[k] + 0.5 / fps) // loop_s)
            e = int(round(times[k] * fps)) - n * per_loop
            frame = shown[k]
            best, best_j = None, None
            for j in sorted(range(max(0, e - 3), min(len(source), e + 4)), key=lambda j: abs(j - e)):
                d = sum(abs(x - y) for x, y in zip(frame, source[j]))
                if best is None or d < best:
                    best, best_j = d, j
            loops_seen.setdefault(n, []).append(best_j)
        bad = []
        for n, seen in sorted(loops_seen.items()):
            if (n + 1) * loop_s > mix_s + 0.5 / fps:
                continue  # the mix ends inside this loop
            missing = len(set(range(min(per_loop, len(source)))) - set(seen))
            repeated = len(seen) - len(set(seen))
            out_of_order = sum(1 for a, b in zip(seen, seen[1:]) if b <= a)
            bad.append((missing + repeated + out_of_order, n, missing, repeated, out_of_order, len(seen)))
        worst = max(bad) if bad else (0, 0, 0, 0, 0, 0)
        text = (f"{len(bad)} whole loops of {per_loop} clip frames; worst loop {worst[1] + 1}: {worst[5]} frames "
                f"shown, {worst[2]} clip frames missing, {worst[3]} repeated, {worst[4]} out of order; "
                f"{sum(1 for b in bad if b[0])} loops not exact")
        print(f"{label}: frames of each loop: {text}")
        lines.append(f"{section}|frames of each loop|{label}|{worst[0]}|{text}")
    with open(results, "a") as f:
        for line in lines:
            f.write(line + "\n")


def sections(results):
    worst = {}
    with open(results) as f:
        for line in f:
            parts = line.rstrip("\n").split("|")
            if len(parts) != 5:
                continue
            section, kind, label, badness, text = parts
            key = (section, kind)
            if key not in worst or float(badness) > float(worst[key][1]):
                worst[key] = (label, badness, text)
    for (section, kind) in sorted(worst):
        label, _, text = worst[(section, kind)]
        print(f"section {section}, {kind}: {label}: {text}")


def summary(results, gen1, gen2):
    rows = {}
    with open(results) as f:
        for line in f:
            label, worst, start, middle, end, sound_s = line.rstrip("\n").split("|")
            rows[label] = (float(worst), float(start), float(middle), float(end), float(sound_s))
    renders = {k: v for k, v in rows.items() if k not in (gen1, gen2)}
    if renders:
        label = max(renders, key=lambda k: abs(renders[k][0]))
        print(f"worst case of all renders: {renders[label][0]:+.1f} ms ({label})")
    if gen1 in rows and gen2 in rows:
        moves = [rows[gen2][i] - rows[gen1][i] for i in (1, 2, 3)]
        print("second generation moves the offset by %+.1f ms (start), %+.1f ms (middle), %+.1f ms (end)" %
              tuple(moves))


if __name__ == "__main__":
    if sys.argv[1] == "--summary":
        summary(sys.argv[2], sys.argv[3], sys.argv[4])
    elif sys.argv[1] == "--frames":
        compare_frames(sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5], sys.argv[6], sys.argv[7:9])
    elif sys.argv[1] == "--first-block":
        first_blocks(sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5], sys.argv[6], [float(t) for t in sys.argv[7:]])
    elif sys.argv[1] == "--loops":
        loops(sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5], sys.argv[6], float(sys.argv[7]), float(sys.argv[8]))
    elif sys.argv[1] == "--sections":
        sections(sys.argv[2])
    else:
        measure(sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5:])
