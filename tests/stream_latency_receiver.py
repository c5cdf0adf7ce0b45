#!/usr/bin/env python3
"""Plays the PC end of the stream for the slow-link test: greets the device, reads its
messages and prints, for every picture, how old it was on arrival (the arrival time on the
monotonic millisecond clock, truncated to 32 bits, minus the picture's time stamp; the device
stamps with the same clock). Usage: stream_latency_receiver.py PORT SECONDS OUT"""
import socket
import struct
import sys
import time

port, seconds, out = int(sys.argv[1]), float(sys.argv[2]), sys.argv[3]
server = socket.socket()
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(("127.0.0.1", port))
server.listen(1)
server.settimeout(seconds)
conn, _ = server.accept()
conn.sendall(b"high")
conn.settimeout(0.5)
start = time.monotonic()
pending = b""
rows = []
while time.monotonic() - start < seconds:
    try:
        data = conn.recv(65536)
    except socket.timeout:
        continue
    if not data:
        break
    pending += data
    while True:
        if pending[:4] == b"\0\0\0\0":  # keep-alive
            pending = pending[4:]
            continue
        if len(pending) < 32:
            break
        length, stamp, kind = struct.unpack_from("<III", pending, 8)
        if length < 32 or length > 4 * 1024 * 1024:
            sys.exit("message of %d bytes: the stream is out of step" % length)
        if len(pending) < length:
            break
        if kind == 1:  # a picture
            arrived = int(time.monotonic() * 1000) & 0xFFFFFFFF
            rows.append("%.3f %d %d" % (time.monotonic() - start, (arrived - stamp) & 0xFFFFFFFF, length))
        pending = pending[length:]
with open(out, "w") as f:
    f.write("\n".join(rows) + "\n")
