"""Native result layout against pp.pprint, both writing to an in-memory stream.

Cases: (a) 10,000 gateway records (about 5 MB of output), (b) a 50 KB result,
(c) one long text of 1 MB. Prints the time of each path, the ratio, and the
peak memory that the native path allocates while it writes to a real text
file (tracemalloc, which also sees the engine's own working arrays; the
file's own encoding of each chunk is taken off) against the size of the
output.
"""

import gc
import io
import os
import pprint
import sys
import time
import tracemalloc
from unittest import mock

from harborsweep import harborsweep as hs

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


def best_time(function, value, repeat):
    best = float("inf")
    for _ in range(repeat):
        gc.collect()
        start = time.perf_counter()
        function(value)
        best = min(best, time.perf_counter() - start)
    return best


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
    return max(traced_peak(lambda sink: run_native(value, sink)) - stream_own, 0), stream_own


def main():
    cases = [
        ("(a) 10,000 gateway records", [gateway(i) for i in range(10_000)], 30.0, 2),
        ("(b) 50 KB result", [gateway(i) for i in range(100)], 10.0, 20),
        ("(c) one 1 MB text", long_text(1_000_000), 10.0, 5),
    ]
    print("Python %s" % sys.version.split()[0])
    print("%-30s %10s %12s %10s %9s %12s %8s %12s" % (
        "case", "output", "pp.pprint", "native", "ratio", "native peak", "peak/out", "file's own"))
    failed = []
    for name, value, target, repeat in cases:
        expected = run_pprint(value)
        if run_native(value) != expected:
            raise SystemExit("%s: native output differs from pp.pprint" % name)
        stdlib = best_time(run_pprint, value, max(1, repeat // 5))
        native = best_time(run_native, value, repeat)
        peak, stream_own = native_peak(value)
        ratio = stdlib / native
        share = peak / len(expected)
        print("%-30s %9.2fM %10.1f ms %7.2f ms %8.1fx %10.2fM %8.2f %10.2fM" % (
            name, len(expected) / 1e6, stdlib * 1e3, native * 1e3, ratio, peak / 1e6, share, stream_own / 1e6))
        if ratio < target:
            failed.append("%s: %.1fx, target %.0fx" % (name, ratio, target))
        if share > 2.0:
            failed.append("%s: peak %.2fx the output, target 2x" % (name, share))
    for line in failed:
        print("below target:", line)


if __name__ == "__main__":
    main()
