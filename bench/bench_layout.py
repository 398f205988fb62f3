"""Native result layout against pp.pprint, both writing to an in-memory stream,
and against the floor: repr() of the same value written to such a stream.

Cases: (a) 10,000 gateway records (about 5 MB of output), (b) a 50 KB result,
(c) one long text of 1 MB. In each case the three contenders take turns over
several rounds; the collector runs as in use (pprint builds far more objects
than the others) and is emptied before each turn. The median CPU time of
each is printed, with native's speed-up over pp.pprint and its time against
the floor, each the median of the rounds' own ratios
(repr() renders the value in C on one line, unsorted and never wrapped: no
layout does less), and the peak memory that the native path allocates while
it writes to a real text file (tracemalloc, which also sees the engine's own
working arrays; the file's own encoding of each chunk is taken off) against
the size of the output.
"""

import gc
import io
import os
import pprint
import sys
import time
import tracemalloc
from unittest import mock

from harness import interleaved, ratio, target

from harborsweep import harborsweep as hs

# Native's peak memory over the output size, in every case.
PEAK_TARGET = 2.0

CLOUDS = ["aws", "azure", "gcp", "oci"]
SIZES = ["t3.small", "c5.xlarge", "Standard_B2ms", "n1-standard-2"]


def gateway(i):
    return {
        "gw_name": "gw-%s-%05d" % (CLOUDS[i % 4], i),
        "vpc_id": "vpc-%012x" % (i * 7919),
        "cloud_type": i % 4 + 1,
        "vpc_region": ["us-east-1", "eu-west-2", "ap-south-1"][i % 3],
        "gw_size": SIZES[i % 4],
        "public_ip": "203.0.%d.%d" % (i // 256 % 256, i % 256),
        "private_ip": "10.%d.%d.10" % (i // 256 % 256, i % 256),
        "state": "up" if i % 17 else "down",
        "ha_enabled": i % 2 == 0,
        "enable_nat": i % 5 == 0,
        "tunnel_count": i % 12,
        "bytes_in": i * 1048576 + 12345,
        "cpu_util": (i % 100) / 3.0,
        "description": "Transit gateway %d serving the '%s' segment" % (i, CLOUDS[i % 4]),
        "tags": {"owner": "team-%d" % (i % 9), "env": ["prod", "dev", "stage"][i % 3]},
        "spokes": ["spoke-%05d" % (i * 3 + k) for k in range(i % 4)],
    }


def long_text(size):
    words = ["controller", "gateway", "it's", "tunnel", "up", "\"quoted\"", "route-table", "x" * 30]
    parts, total, i = [], 0, 0
    while total < size:
        word = words[i % len(words)] + ("\n" if i % 23 == 22 else " ")
        parts.append(word)
        total += len(word)
        i += 1
    return "".join(parts)[:size]


def run_pprint(value):
    stream = io.StringIO()
    pprint.PrettyPrinter(width=200, stream=stream).pprint(value)
    return stream.getvalue()


def run_native(value, stream=None):
    stream = stream if stream is not None else io.StringIO()
    with mock.patch.object(hs, "pp", pprint.PrettyPrinter(width=200, stream=stream)):
        hs._write_result(value)
    return stream.getvalue() if isinstance(stream, io.StringIO) else None


def run_floor(value):
    io.StringIO().write(repr(value))


def traced_peak(work):
    gc.collect()
    with open(os.devnull, "w", encoding="utf-8") as sink:
        tracemalloc.start()
        work(sink)
        _, peak = tracemalloc.get_traced_memory()
        tracemalloc.stop()
    return peak


def native_peak(value):
    """Peak memory of a layout into a real text file that keeps nothing: the
    path standard output takes, chunked writes. The file's own share (it
    encodes each chunk into a bytes object) is measured apart and taken off,
    so what is left is the engine's."""
    chunk = "x" * (32 * 1024)
    stream_own = traced_peak(lambda sink: sink.write(chunk))
    return max(traced_peak(lambda sink: run_native(value, sink)) - stream_own, 0)


def main():
    cases = [
        # name, value, speed-up target, rounds
        ("(a) 10,000 gateway records", [gateway(i) for i in range(10_000)], 30.0, 6),
        ("(b) 50 KB result", [gateway(i) for i in range(100)], 10.0, 40),
        ("(c) one 1 MB text", long_text(1_000_000), 10.0, 20),
    ]
    print("layout, Python %s, rounds in turns, collector running: median CPU time; ratios are the median"
          " of the rounds' own" % sys.version.split()[0])
    print("  %-28s %7s %7s %10s %9s %9s %8s %13s %9s %11s" % (
        "case", "output", "rounds", "pp.pprint", "native", "floor", "speed-up", "native/floor",
        "peak", "peak/output"))
    results = []
    for name, value, speed_target, rounds in cases:
        expected = run_pprint(value)
        if run_native(value) != expected:
            raise SystemExit("%s: native output differs from pp.pprint" % name)
        times = interleaved({
            "pprint": lambda: run_pprint(value),
            "native": lambda: run_native(value),
            "floor": lambda: run_floor(value),
        }, rounds, collector="running", clock=time.thread_time)
        stdlib, native, floor = (times[key].median for key in ("pprint", "native", "floor"))
        speed_up = ratio(times["pprint"], times["native"])
        peak = native_peak(value)
        share = peak / len(expected)
        print("  %-28s %6.2fM %7d %7.1f ms %6.2f ms %6.2f ms %7.1fx %12.2fx %8.2fM %11.2f" % (
            name, len(expected) / 1e6, rounds, stdlib * 1e3, native * 1e3, floor * 1e3,
            speed_up, ratio(times["native"], times["floor"]), peak / 1e6, share))
        results.append((name, speed_up, speed_target, share))
    for name, speed_up, speed_target, share in results:
        target("%s: at least %.0fx pp.pprint's speed (%.1fx)" % (name, speed_target, speed_up),
               speed_up >= speed_target)
    worst = max(share for *_, share in results)
    target("peak memory at most %.0fx the output in every case (worst %.2fx)" % (PEAK_TARGET, worst),
           worst <= PEAK_TARGET)


if __name__ == "__main__":
    main()
