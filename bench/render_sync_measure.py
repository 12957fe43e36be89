#!/usr/bin/env python3
"""Offsets of sound against picture in a render of bench/render-sync.

usage: render_sync_measure.py FILE MINUTES LABEL RESULTS
       render_sync_measure.py --summary RESULTS GEN1_LABEL GEN2_LABEL

The file holds black frames with a white flash and a 1 kHz beep starting at
each whole second. Both are read as ffmpeg decodes the file (edit lists
applied): the frames' times from ffprobe, their mean luma from ffmpeg, the
sound as 16-bit mono PCM from the stream's start time. For each second k the
flash is the first frame at or after k - 0.5 s whose mean luma is above mid
grey, the beep onset the first sample in the same window above 30 % of the
beep's peak there; offset = onset - flash. Prints the offsets at the start
(second 1), the middle and the end (the last whole second), the worst over
every second (each second with VERBOSE set), and the lengths; appends "label|worst|start|middle|end|sound
seconds" to RESULTS.
"""
import array
import os
import subprocess
import sys


def run(args):
    return subprocess.run(args, check=True, stdout=subprocess.PIPE).stdout


def stream_start(path, kind):
    out = run(["ffprobe", "-v", "error", "-select_streams", kind + ":0", "-show_entries",
               "stream=start_time,sample_rate", "-of", "csv=p=0:nk=0", path]).decode()
    fields = dict(kv.split("=") for kv in out.strip().split(","))
    start = float(fields.get("start_time", "0") or 0)
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


def measure(path, minutes, label, results):
    times, lumas = frames(path)
    a_start, rate, pcm = sound(path)
    seconds = minutes * 60
    offsets = {}
    for k in range(1, seconds):
        lo, hi = k - 0.5, k + 0.5
        flash = next((t for t, y in zip(times, lumas) if lo <= t < hi and y > 128), None)
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
    if not offsets:
        print(f"{label}: no flash and beep found")
        return
    keys = sorted(offsets)
    if os.environ.get("VERBOSE"):
        for k in keys:
            print(f"  second {k}: {offsets[k]:+.1f} ms")
    start, middle, end = offsets[keys[0]], offsets[keys[len(keys) // 2]], offsets[keys[-1]]
    worst_k = max(keys, key=lambda k: abs(offsets[k]))
    sound_s = len(pcm) / rate
    picture_s = times[-1] - times[0] + (times[-1] - times[-2] if len(times) > 1 else 0)
    print(f"{label}: start {start:+.1f} ms, middle {middle:+.1f} ms, end {end:+.1f} ms; worst "
          f"{offsets[worst_k]:+.1f} ms (second {worst_k} of {len(keys)} measured); sound {a_start + sound_s:.3f} s "
          f"(from {a_start:.3f} s), picture {picture_s:.3f} s, mix {seconds} s")
    with open(results, "a") as f:
        f.write(f"{label}|{offsets[worst_k]:.1f}|{start:.1f}|{middle:.1f}|{end:.1f}|{a_start + sound_s:.3f}\n")


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
    else:
        measure(sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4])
