"""Times kestrix.thumbnail_bytes against the file call kestrix.thumbnail on one picture.

    bytes.py PICTURE WORK RUNS
The calls alternate; the medians of RUNS each, wall time and the process's CPU
time (steadier on a busy machine), are printed with their ratios.
"""
import statistics
import sys
import time

import kestrix

picture, work, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
data = open(picture, "rb").read()
timings = {"file": [], "bytes": []}
cpu = {"file": [], "bytes": []}
calls = {"file": lambda: kestrix.thumbnail(picture, work + "/p.jpg", width=640),
         "bytes": lambda: kestrix.thumbnail_bytes(data, width=640)}
for round in range(runs + 1):  # the first round warms up; each round swaps the order
    for name in ("file", "bytes") if round % 2 else ("bytes", "file"):
        start, start_cpu = time.perf_counter(), time.process_time()
        calls[name]()
        timings[name].append(time.perf_counter() - start)
        cpu[name].append(time.process_time() - start_cpu)
assert calls["bytes"]() == open(work + "/p.jpg", "rb").read()
print("Python, %s to width 640, median of %d:      wall      CPU" % (picture, runs))
file, memory = ([statistics.median(t[k][1:]) for t in (timings, cpu)] for k in ("file", "bytes"))
print("  kestrix.thumbnail (file)     %.4f s  %.4f s" % tuple(file))
print("  kestrix.thumbnail_bytes      %.4f s  %.4f s" % tuple(memory))
print("  bytes / file                 %.3f     %.3f" % (memory[0] / file[0], memory[1] / file[1]))
