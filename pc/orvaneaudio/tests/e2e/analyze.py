#!/usr/bin/env python3
"""Checks a recording of the virtual microphone (WAV or raw s16le mono 8000 Hz).

  analyze.py FILE sine HZ AMPLITUDE   the sound is that sine: frequency, level, no gaps
  analyze.py FILE silence SECONDS      at least SECONDS of samples, silent after 100 ms

Prints what it measured; exits 1 when a check fails."""
import math
import struct
import sys

RATE = 8000


def samples_of(path):
    data = open(path, "rb").read()
    if data[:4] == b"RIFF" and data[8:12] == b"WAVE":
        pos, fmt, pcm = 12, None, None
        while pos + 8 <= len(data):
            cid, size = data[pos:pos + 4], struct.unpack_from("<I", data, pos + 4)[0]
            body = data[pos + 8:pos + 8 + size]
            if cid == b"fmt ":
                fmt = struct.unpack_from("<HHIIHH", body, 0)
            elif cid == b"data":
                pcm = data[pos + 8:] if size in (0, 0xFFFFFFFF) else body
                break
            pos += 8 + size + (size & 1)
        if fmt is None or pcm is None:
            sys.exit("no fmt or data chunk in " + path)
        channels, rate, bits = fmt[1], fmt[2], fmt[5]
        if (channels, rate, bits) != (1, RATE, 16):
            sys.exit("unexpected format %s in %s" % ((channels, rate, bits), path))
    else:
        pcm = data
    n = len(pcm) // 2
    return list(struct.unpack("<%dh" % n, pcm[:2 * n]))


def check_sine(x, hz, amp):
    loud = [i for i, v in enumerate(x) if abs(v) > amp / 4]
    if not loud:
        return False, "no sound in %d samples" % len(x)
    skip = RATE * 20 // 1000  # resampling transients at the edges
    start, end = loud[0] + skip, loud[-1] - skip
    region = x[start:end]
    if len(region) < RATE // 4:
        return False, "only %d samples of sound" % len(region)
    crossings = sum(1 for a, b in zip(region, region[1:]) if a < 0 <= b)
    freq = crossings * RATE / len(region)
    rms = math.sqrt(sum(v * v for v in region) / len(region))
    # A gap: 5 ms or more of near-silence inside the sound.
    longest, run = 0, 0
    for v in region:
        run = run + 1 if abs(v) < amp / 20 else 0
        longest = max(longest, run)
    gap_ms = longest * 1000 / RATE
    ok = abs(freq - hz) <= max(2.0, hz * 0.01) and abs(rms - amp / math.sqrt(2)) <= amp * 0.15 \
        and gap_ms < 5
    return ok, "sound %.2f s, %.1f Hz, rms %.0f (expected %.0f), longest quiet run %.1f ms" % (
        len(region) / RATE, freq, rms, amp / math.sqrt(2), gap_ms)


def check_silence(x, seconds):
    # The first 100 ms may still carry what was in flight when the feed stopped.
    peak = max((abs(v) for v in x[RATE // 10:]), default=0)
    got = len(x) / RATE
    return got >= seconds and peak < 64, "%.2f s of samples, peak %d" % (got, peak)


def main():
    path, kind = sys.argv[1], sys.argv[2]
    x = samples_of(path)
    if kind == "sine":
        ok, what = check_sine(x, float(sys.argv[3]), float(sys.argv[4]))
    elif kind == "silence":
        ok, what = check_silence(x, float(sys.argv[3]))
    else:
        sys.exit("unknown check " + kind)
    print("%s: %s: %s" % ("ok" if ok else "FAILED", path.rsplit("/", 1)[-1], what))
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
