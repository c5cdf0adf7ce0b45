#!/usr/bin/env python3
"""Watches for stretches in which this machine ran nothing: a virtual machine whose host
takes its processors away for a while (steal time), or a machine so short of processor
time that a sleeping process is not woken for tens of milliseconds. Every process stops
together then, and real-time sound gets gaps that say nothing about the code under test.

  stall_probe.py [THRESHOLD_MS]

Sleeps 5 ms at a time and counts every wake-up that came THRESHOLD_MS (default 40) or more
late. On SIGINT or SIGTERM it prints one line and exits:
  stalls: COUNT of THRESHOLD_MS ms or more, longest LONGEST ms, in all TOTAL ms
When the process that started it is gone (killed at a timeout), it ends without a word."""
import os
import signal
import sys
import time


def main():
    threshold = float(sys.argv[1]) / 1000 if len(sys.argv) > 1 else 0.040
    count, longest, total = 0, 0.0, 0.0

    def report(*_):
        print("stalls: %d of %d ms or more, longest %d ms, in all %d ms"
              % (count, threshold * 1000, longest * 1000, total * 1000), flush=True)
        sys.exit(0)

    signal.signal(signal.SIGINT, report)
    signal.signal(signal.SIGTERM, report)
    step = 0.005
    parent = os.getppid()
    before = time.monotonic()
    while os.getppid() == parent:
        time.sleep(step)
        now = time.monotonic()
        late = now - before - step
        before = now
        if late >= threshold:
            count += 1
            longest = max(longest, late)
            total += late


main()
