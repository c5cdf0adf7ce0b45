"""Checks pictures captured from the camera node as raw BGRx frames.

  check_capture.py CAPTURE WIDTH HEIGHT SENT_W SENT_H [REFERENCE] [--min-bars N] [--min-frames N]
                   [--psnr DB] [--json OUT]

CAPTURE holds whole WIDTH x HEIGHT BGRx pictures one after the other. Every picture is
either colour bars (all rows alike, the eight bar colours present) or a test-phone frame,
whose number is read from the 16-bit pattern along its top. The capture must start with
bars, show no bars after the first frame, and show frames with consecutive numbers. With
REFERENCE (the sent JPEGs decoded independently to WIDTH x HEIGHT BGRx, one after the
other, frame 0 first), every frame must match its reference within the PSNR bound.
"""
import json
import math
import sys

BARS = [(255, 255, 255), (255, 255, 0), (0, 255, 255), (0, 255, 0),
        (255, 0, 255), (255, 0, 0), (0, 0, 255), (0, 0, 0)]


def pictures(data, size):
    return [data[i:i + size] for i in range(0, len(data) - size + 1, size)]


def pixel(p, w, x, y):
    i = (y * w + x) * 4
    return p[i + 2], p[i + 1], p[i]  # r, g, b


def is_bars(p, w, h):
    row = p[:w * 4]
    for y in range(1, h, max(1, h // 16)):
        if p[y * w * 4:(y + 1) * w * 4] != row:
            return False
    cols = [pixel(p, w, x, 0) for x in range(w)]
    for c in BARS:
        if not any(max(abs(a - b) for a, b in zip(c, col)) <= 40 for col in cols):
            return False
    return True


def frame_number(p, w, h, sw, sh):
    n = 0
    for bit in range(16):
        x = (bit * 12 + 6) * w // sw
        y = 6 * h // sh
        r, g, b = pixel(p, w, x, y)
        n = (n << 1) | (1 if (r + g + b) > 3 * 128 else 0)
    return n


def psnr(a, b, step=7):
    err = 0
    count = 0
    for i in range(0, len(a), 4 * step):
        for c in range(3):
            d = a[i + c] - b[i + c]
            err += d * d
            count += 1
    if err == 0:
        return 99.0
    return 10 * math.log10(255 * 255 / (err / count))


def main():
    args = sys.argv[1:]
    opts = {"--min-bars": "1", "--min-frames": "1", "--psnr": "30", "--json": ""}
    pos = []
    i = 0
    while i < len(args):
        if args[i] in opts:
            opts[args[i]] = args[i + 1]
            i += 2
        else:
            pos.append(args[i])
            i += 1
    path, w, h, sw, sh = pos[0], int(pos[1]), int(pos[2]), int(pos[3]), int(pos[4])
    reference = pos[5] if len(pos) > 5 else None
    size = w * h * 4
    data = open(path, "rb").read()
    if len(data) % size:
        print(f"FAIL: {path}: {len(data)} bytes is no whole number of {w}x{h} BGRx pictures")
        return 1
    pics = pictures(data, size)
    refs = pictures(open(reference, "rb").read(), size) if reference else []
    kinds = []
    numbers = []
    worst = 99.0
    problems = []
    for k, p in enumerate(pics):
        if is_bars(p, w, h):
            kinds.append("B")
            if numbers:
                problems.append(f"picture {k}: colour bars after frame {numbers[-1]}")
            continue
        n = frame_number(p, w, h, sw, sh)
        kinds.append("F")
        if numbers and n != numbers[-1] + 1:
            problems.append(f"picture {k}: frame {n} follows frame {numbers[-1]}")
        numbers.append(n)
        if refs:
            if n >= len(refs):
                problems.append(f"picture {k}: frame {n} was never sent")
                continue
            q = psnr(p, refs[n])
            worst = min(worst, q)
            if q < float(opts["--psnr"]):
                problems.append(f"picture {k}: frame {n} PSNR {q:.1f} dB")
    bars = kinds.count("B")
    if not kinds or kinds[0] != "B":
        problems.append("the capture does not start with colour bars")
    if bars < int(opts["--min-bars"]):
        problems.append(f"only {bars} colour-bar pictures")
    if len(numbers) < int(opts["--min-frames"]):
        problems.append(f"only {len(numbers)} frames")
    summary = f"{path}: {len(pics)} pictures, {bars} colour bars, frames " + (
        f"{numbers[0]}..{numbers[-1]}" if numbers else "none") + (
        f", worst PSNR {worst:.1f} dB" if refs and numbers else "")
    print(summary)
    if opts["--json"]:
        json.dump({"numbers": numbers, "bars": bars}, open(opts["--json"], "w"))
    for p in problems[:10]:
        print("FAIL:", p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
