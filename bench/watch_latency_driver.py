#!/usr/bin/python3
# Writes COUNT files into SRC at RATE a second (each opened, written and closed under its
# final name) and times each from its close to its arrival in DST, which an inotify watch on
# DST sees (a rename within one file system raises IN_MOVED_TO there, a copy IN_CLOSE_WRITE).
# Prints "p50_ms p99_ms arrived" on its last line.
import ctypes
import os
import struct
import sys
import threading
import time

IN_CLOSE_WRITE, IN_MOVED_TO = 0x8, 0x80


def main():
    src, dst, count, rate, pattern = sys.argv[1], sys.argv[2], int(sys.argv[3]), float(sys.argv[4]), sys.argv[5]
    libc = ctypes.CDLL("libc.so.6", use_errno=True)
    fd = libc.inotify_init1(0)
    if fd < 0 or libc.inotify_add_watch(fd, dst.encode(), IN_CLOSE_WRITE | IN_MOVED_TO) < 0:
        sys.exit("cannot watch " + dst)
    closed, arrived = {}, {}
    done = threading.Event()

    def observe():
        while len(arrived) < count and not done.is_set():
            buf = os.read(fd, 65536)
            now = time.monotonic_ns()
            at = 0
            while at < len(buf):
                _, mask, _, length = struct.unpack_from("iIII", buf, at)
                name = buf[at + 16:at + 16 + length].rstrip(b"\0").decode()
                at += 16 + length
                arrived.setdefault(name, now)

    watcher = threading.Thread(target=observe, daemon=True)
    watcher.start()
    body = ("x" * 200 + pattern + "\n").encode()
    start = time.monotonic()
    for i in range(count):
        due = start + i / rate
        wait = due - time.monotonic()
        if wait > 0:
            time.sleep(wait)
        name = "f%05d.txt" % i
        with open(os.path.join(src, name), "wb") as f:
            f.write(body)
        closed[name] = time.monotonic_ns()
    limit = time.monotonic() + 60
    while len(arrived) < count and time.monotonic() < limit:
        time.sleep(0.05)
    done.set()
    lat = sorted((arrived[n] - closed[n]) / 1e6 for n in closed if n in arrived)
    if not lat:
        sys.exit("nothing arrived in " + dst)
    pick = lambda q: lat[min(len(lat) - 1, int(q * len(lat)))]
    print("%.2f %.2f %d" % (pick(0.50), pick(0.99), len(lat)))


main()
