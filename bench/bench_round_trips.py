"""Round trips per request: the typical run, 20 plain checks and a chained
check over 100 gateways (144 requests), (a) across a modelled WAN, a
delaying relay with a round-trip time of 40 ms (bench/delay_relay.py), and
(b) on 127.0.0.1.

(a) harborsweep's run (main, in this process) against its two floors, the
same 144 requests from a loop of bare http.client requests: on one
connection kept for the whole run (the target floor: one round trip per
request and what the client and controller take), and on a new connection
per request (the design before connections were kept: a TCP and a TLS
handshake on top of each request). Each is printed as its wall-clock time
over 144 round trips, that is round trips per request, and as its time
against the kept connection's.

(b) The same run straight to the stand-in controller, harborsweep against
the build of the last commit that opened a connection per request
(BASELINE_COMMIT, built once from git into build/bench-baseline/ and loaded
into this process beside the installed build), with both loops as floors.

Every contender's connections per run are counted from the connection that
the stand-in recorded for each request. The contenders take turns, the order reversed
every other round; the medians of the wall clock are printed, and each ratio
is the median of the rounds' own ratios.
"""

import subprocess
import sys
import sysconfig
import tempfile
import time
from pathlib import Path
from unittest import mock

from bench_run import client_loop, output_discarded
from compare_builds import extension_file, load
from delay_relay import DelayRelay
from harness import BareClient, KeptClient, fleet_scenario, interleaved, ratio, standin, target, write_checks

from harborsweep import harborsweep as hs

REPO = Path(__file__).resolve().parent.parent
PLAIN, CHAINED = 20, 100
REQUESTS = 1 + 2 * PLAIN + 3 + CHAINED  # main's login, each check's login and action, the chain
RTT = 0.040
WAN_ROUNDS, LOCAL_ROUNDS = 2, 10
# Round trips per request, and the run's time over the kept connection's.
RT_TARGET, TIME_TARGET = 1.25, 1.2
BASELINE_COMMIT = "d4c3fd1"


def run_module(module, address, config_dir):
    argv = ["harborsweep", "--controller_ip", address, "--password", "pw", "--config_dir", config_dir]
    with mock.patch.object(sys, "argv", argv), output_discarded():
        module.main()


def baseline_module():
    """The baseline commit's module, built on first use; None, with the
    reason printed, when it can't be."""
    tag = sysconfig.get_config_var("EXT_SUFFIX")
    cached = REPO / "build" / "bench-baseline" / BASELINE_COMMIT / ("harborsweep" + tag)
    if not cached.exists():
        print(f"building {BASELINE_COMMIT} once into {cached.parent} (about 2 minutes)", flush=True)
        with tempfile.TemporaryDirectory() as scratch:
            source, wheels = Path(scratch, "source"), Path(scratch, "wheels")
            source.mkdir()
            archive = subprocess.run(["git", "-C", str(REPO), "archive", BASELINE_COMMIT],
                                     capture_output=True)
            if archive.returncode != 0:
                print(f"  no baseline: git archive {BASELINE_COMMIT}: {archive.stderr.decode().strip()}")
                return None
            subprocess.run(["tar", "-x", "-C", str(source)], input=archive.stdout, check=True)
            subprocess.run([sys.executable, "-m", "pip", "wheel", "-q", "--no-build-isolation", "--no-deps",
                            "--disable-pip-version-check", "-w", str(wheels), str(source)], check=True)
            cached.parent.mkdir(parents=True, exist_ok=True)
            extension_file(next(wheels.glob("*.whl")), scratch).replace(cached)
    return load(cached)


def timed(server, contenders, rounds):
    """Times `contenders` in turns; returns the times and each one's
    connections per run, read from the stand-in's record in run order."""
    order = []
    counted = {name: (lambda name=name, run=run: (order.append(name), run())) for name, run in contenders.items()}
    start = len(server.requests)
    times = interleaved(counted, rounds, collector="running")
    came_on = server.connections[start:]
    if len(came_on) != REQUESTS * len(order):
        sys.exit(f"{len(came_on)} requests recorded for {len(order)} runs of {REQUESTS}")
    connections = {name: set() for name in contenders}
    for run, name in enumerate(order):
        connections[name].add(len(set(came_on[run * REQUESTS:(run + 1) * REQUESTS])))
    return times, {name: "/".join(map(str, sorted(counts))) for name, counts in connections.items()}


def wan_figures(server, config_dir):
    with DelayRelay(server.address, RTT) as relay:
        kept, bare = KeptClient(relay.address), BareClient(relay.address)
        times, connections = timed(server, {
            "kept": lambda: client_loop(kept, config_dir),
            "new": lambda: client_loop(bare, config_dir),
            "harborsweep": lambda: run_module(hs, relay.address, config_dir),
        }, WAN_ROUNDS)
    per = {name: times[name].median / (REQUESTS * RTT) for name in times}
    over = {name: ratio(times[name], times["kept"]) for name in times}
    print(f"(a) the run of {PLAIN} plain checks + a chain over {CHAINED} ({REQUESTS} requests) through a relay"
          f" of RTT {RTT * 1e3:.0f} ms, median of {WAN_ROUNDS} rounds in turns:")
    for name, label in (("kept", "http.client, one kept connection (floor)"),
                        ("new", "http.client, a new connection per request"),
                        ("harborsweep", "harborsweep")):
        print(f"    {label:<44} {times[name].median:6.2f} s  {per[name]:5.2f} round trips per request"
              f"  {over[name]:5.2f}x the kept connection's time  {connections[name]:>3} connections per run")
    return per["harborsweep"], per["kept"], over["harborsweep"]


def local_figures(server, config_dir):
    baseline = baseline_module()
    kept, bare = KeptClient(server.address), BareClient(server.address)
    contenders = {
        "kept": lambda: client_loop(kept, config_dir),
        "new": lambda: client_loop(bare, config_dir),
        "after": lambda: run_module(hs, server.address, config_dir),
    }
    if baseline is not None:
        contenders["before"] = lambda: run_module(baseline, server.address, config_dir)
    times, connections = timed(server, contenders, LOCAL_ROUNDS)
    print(f"(b) the same run on 127.0.0.1, median of {LOCAL_ROUNDS} rounds in turns:")
    rows = [("kept", "http.client, one kept connection (floor)"),
            ("new", "http.client, a new connection per request"),
            ("before", f"harborsweep at {BASELINE_COMMIT}"), ("after", "harborsweep")]
    for name, label in rows:
        if name in times:
            print(f"    {label:<44} {times[name].median * 1e3:7.1f} ms"
                  f"  {times[name].median / REQUESTS * 1e3:5.2f} ms per request"
                  f"  {ratio(times[name], times['kept']):5.2f}x the kept connection's"
                  f"  {connections[name]:>3} connections per run")
    if baseline is not None:
        print(f"    harborsweep now takes {ratio(times['after'], times['before']):.2f}x the time"
              f" of {BASELINE_COMMIT}")


def main():
    with tempfile.TemporaryDirectory() as scratch, standin(fleet_scenario(CHAINED), record=True) as server:
        config_dir = write_checks(scratch, PLAIN, chained=True)
        per_request, floor, over = wan_figures(server, config_dir)
        local_figures(server, config_dir)
    target(f"(a) at most {RT_TARGET} round trips per request ({per_request:.2f}; floor {floor:.2f})",
           per_request <= RT_TARGET)
    target(f"(a) the run at most {TIME_TARGET}x the kept connection's time ({over:.2f}x; floor 1.00x)",
           over <= TIME_TARGET)


if __name__ == "__main__":
    started = time.monotonic()
    main()
    print(f"  ({time.monotonic() - started:.0f} s)")
