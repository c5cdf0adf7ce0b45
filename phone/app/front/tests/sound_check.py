#!/usr/bin/env python3
"""Checks what the PC microphone heard from the device's microphone (a WAV file, s16le
mono 8000 Hz): a sine of HZ at AMPLITUDE, judged in 10 ms windows.

  sound_check.py FILE HZ AMPLITUDE MAX_GAP_MS

The check begins half a second after the sound does: while a new recorder's buffer at
the microphone fills, sound that arrives in blocks can leave it short. The dominant frequency must be HZ (within 1 %); at least 90 % of the windows must carry
the sine at its level (within 20 %); no run of windows without it may be longer than
MAX_GAP_MS (a dropped block, or a late one on a busy machine). Prints what it measured;
exits 1 when a check fails."""
import cmath
import math
import sys
import wave

RATE = 8000
WIN = 80


def main():
    path, hz, amp, max_gap_ms = sys.argv[1], float(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4])
    w = wave.open(path)
    if (w.getnchannels(), w.getsampwidth(), w.getframerate()) != (1, 2, RATE):
        print("FAILED: not mono 16 bit %d Hz" % RATE)
        return 1
    data = w.readframes(w.getnframes())
    x = memoryview(data).cast("h").tolist()
    first = next((i for i, v in enumerate(x) if abs(v) > amp / 4), len(x))
    x = x[first + RATE // 2:]
    windows = len(x) // WIN
    if windows < 100:
        print("FAILED: only %.2f s of sound" % (len(x) / RATE))
        return 1
    good, run, longest = 0, 0, 0
    for w in range(windows):
        seg = x[w * WIN:(w + 1) * WIN]
        z = sum(v * cmath.exp(-2j * math.pi * hz * i / RATE) for i, v in enumerate(seg))
        level = abs(z) * 2 / WIN
        if abs(level - amp) <= amp * 0.2:
            good += 1
            run = 0
        else:
            run += 1
            longest = max(longest, run)
    # The dominant frequency over the whole recording, from 1 Hz steps around HZ and
    # against a few other candidates.
    def power(f):
        step = max(1, len(x) // 16000)
        return abs(sum(x[i] * cmath.exp(-2j * math.pi * f * i / RATE) for i in range(0, len(x), step)))
    candidates = [hz + d for d in range(-10, 11)] + [hz * 0.5, hz * 1.5, hz * 2]
    dominant = max(candidates, key=power)
    share = good / windows
    ok = abs(dominant - hz) <= hz * 0.01 and share >= 0.9 and longest * 10 <= max_gap_ms
    print("%s: %.2f s, dominant %.0f Hz, %.1f %% of 10 ms windows carry the sine, longest gap %d ms"
          % ("ok" if ok else "FAILED", len(x) / RATE, dominant, share * 100, longest * 10))
    return 0 if ok else 1


sys.exit(main())
