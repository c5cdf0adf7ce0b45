#!/usr/bin/env python3
"""A stand-in phone that sends one chosen property list and prints the commands it gets.

  list_phone.py PORT range|none

range: "Exposure", a numeric range of 200 values (-100 .. 99, key 513, current 100) and
"Fixed" (one value, not listed), and one second later a report that Exposure is at index
42; none: only "Fixed". Connects (trying again for 10 s while
the PC is not listening), expects the greeting, sends the list, then keep-alives, and
prints "command: set property KEY to index INDEX" for each command until it is killed.
"""
import socket
import struct
import sys
import time

MAGIC = (0x7E0947CF, 0xF35E8D13)


def entry(name, count, key, current=0, base=0, step=0):
    text = name.encode("utf-16le") + b"\0\0"
    size = (44 + len(text) + 3) // 4 * 4
    e = struct.pack("<11I", size, 0, 44, current, 0, count, 0, base & 0xFFFFFFFF, step, 0, key) + text
    return e + b"\0" * (size - len(e))


def main():
    port, kind = int(sys.argv[1]), sys.argv[2]
    payload = entry("Fixed", 1, 514)
    if kind == "range":
        payload = entry("Exposure", 200, 513, current=100, base=-100, step=1) + payload
    deadline = time.time() + 10
    while True:
        try:
            s = socket.create_connection(("127.0.0.1", port), timeout=2)
            break
        except OSError:
            if time.time() > deadline:
                print("cannot connect", flush=True)
                return 2
            time.sleep(0.2)
    greeting = s.recv(4)
    if greeting != b"high":
        print("no greeting", flush=True)
        return 2
    s.sendall(struct.pack("<8I", *MAGIC, 32 + len(payload), 0, 0, 0, 0, 0) + payload)
    print("connected, list sent", flush=True)
    s.settimeout(1.0)
    pending = b""
    report_at = time.time() + 1 if kind == "range" else None
    while True:
        if report_at is not None and time.time() >= report_at:
            s.sendall(struct.pack("<8I", *MAGIC, 0, 513, 42, 0, 0, 0))
            print("reported index 42", flush=True)
            report_at = None
        try:
            data = s.recv(256)
            if not data:
                return 0
            pending += data
        except socket.timeout:
            s.sendall(b"\0\0\0\0")
        while len(pending) >= 32:
            at = pending.find(struct.pack("<2I", *MAGIC))
            if at < 0:
                pending = pending[-7:]
                break
            if len(pending) - at < 32:
                pending = pending[at:]
                break
            word3, word4 = struct.unpack_from("<2I", pending, at + 12)
            print(f"command: set property {word3} to index {word4}", flush=True)
            pending = pending[at + 32:]


if __name__ == "__main__":
    sys.exit(main())
