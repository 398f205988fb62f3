"""Two builds of the extension module in one process, taking turns: the
filter paths of bench_filter.py and the layout cases of bench_layout.py,
each build's median CPU time and the other's time against the baseline's
(the median of the rounds' own ratios). For the release build (zig, libc++
linked in) against the everyday one (g++, the system's libstdc++): a change
of compiler must not cost speed.

Usage: python bench/compare_builds.py [--baseline BUILD] BUILD

A BUILD is an extension module (.so), a wheel, whose module for the running
interpreter is taken, or a folder such as dist/ holding one wheel for this
interpreter and machine. The baseline is by default the module that
`import harborsweep.harborsweep` finds: `make bench-wheel` compares the
installed everyday build with the release wheel in dist/. Each build is
loaded from its own file, so both live in the process at once.
"""

import argparse
import importlib.machinery
import importlib.util
import io
import platform
import pprint
import random
import sys
import sysconfig
import tempfile
import time
import zipfile
from pathlib import Path
from unittest import mock

import bench_filter
import bench_layout
from harness import interleaved, ratio

MODULE = "harborsweep.harborsweep"


def extension_file(build, scratch):
    """The module file of `build`: itself, or its member in a wheel."""
    build = Path(build)
    if build.is_dir():
        tag = "cp%d%d" % sys.version_info[:2]
        wheels = list(build.glob(f"harborsweep-*-{tag}-{tag}-*_{platform.machine()}.whl"))
        if len(wheels) != 1:
            sys.exit(f"{build}: {len(wheels)} wheels for {tag} on {platform.machine()}, not one")
        build = wheels[0]
    if build.suffix != ".whl":
        return build
    name = "harborsweep/harborsweep" + sysconfig.get_config_var("EXT_SUFFIX")
    with zipfile.ZipFile(build) as wheel:
        if name not in wheel.namelist():
            sys.exit(f"{build}: no {name}, the module for this interpreter")
        return Path(wheel.extract(name, scratch))


def load(path):
    loader = importlib.machinery.ExtensionFileLoader(MODULE, str(path))
    location = importlib.util.spec_from_file_location(MODULE, str(path), loader=loader)
    module = importlib.util.module_from_spec(location)
    loader.exec_module(module)
    return module


def write_result(module, value):
    stream = io.StringIO()
    with mock.patch.object(module, "pp", pprint.PrettyPrinter(width=200, stream=stream)):
        module._write_result(value)
    return stream.getvalue()


def compare(label, rounds, collector, baseline, other, check):
    """Times `baseline` and `other` in turns after `check` of their results."""
    check(baseline(), other())
    times = interleaved({"baseline": baseline, "other": other}, rounds, collector=collector,
                        clock=time.thread_time)
    over = ratio(times["other"], times["baseline"])
    print(f"  {label:<56} {times['baseline'].median * 1e3:8.3f} ms {times['other'].median * 1e3:8.3f} ms"
          f" {over:9.2f}x")
    return over


def same(a, b):
    assert a == b, "the two builds give different results"


def filter_ratios(base, other):
    rng = random.Random(20240601)
    answer = {"return": True, "results": [bench_filter.record(rng, i) for i in range(bench_filter.RECORDS)]}
    return [compare("filter: " + ", ".join(path), bench_filter.ROUNDS, "paused",
                    lambda: base.filter_results(answer, path), lambda: other.filter_results(answer, path), same)
            for path, _ in bench_filter.PATHS]


def layout_ratios(base, other):
    cases = [("(a) 10,000 gateway records", [bench_layout.gateway(i) for i in range(10_000)], 6),
             ("(b) 50 KB result", [bench_layout.gateway(i) for i in range(100)], 40),
             ("(c) one 1 MB text", bench_layout.long_text(1_000_000), 20)]
    return [compare("layout: " + name, rounds, "running",
                    lambda: write_result(base, value), lambda: write_result(other, value), same)
            for name, value, rounds in cases]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--baseline", help="the build to compare with (default: the installed module)")
    parser.add_argument("--part", choices=["filter", "layout"], help="one part alone (default: both)")
    parser.add_argument("build")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as scratch:
        base_file = (extension_file(args.baseline, Path(scratch) / "baseline") if args.baseline
                     else Path(importlib.util.find_spec(MODULE).origin))
        other_file = extension_file(args.build, Path(scratch) / "other")
        base, other = load(base_file), load(other_file)
    print(f"baseline: {base_file}\nother:    {args.build}")
    print(f"Python {sys.version.split()[0]}; rounds in turns, median CPU time; other/baseline is the"
          " median of the rounds' own ratios")
    print(f"  {'case':<56} {'baseline':>11} {'other':>11} {'other/baseline':>10}")
    ratios = []
    if args.part != "layout":
        ratios += filter_ratios(base, other)
    if args.part != "filter":
        ratios += layout_ratios(base, other)
    print(f"  other/baseline from {min(ratios):.2f}x to {max(ratios):.2f}x")


if __name__ == "__main__":
    main()
