"""Controller requests: (a) the time of one request on harborsweep's transport,
on requests.post(..., verify=False), and on its floor, a bare http.client
request over a prebuilt TLS context; (b) a whole run of 20 plain checks and a
chained check of 100 elements through the launcher, as shipped and with
requests.post wrapped (which sends every request through requests.post
itself).

The contenders take turns, the order reversed every other round, and the
median of each is printed; each ratio is the median of the rounds' own. In
(a) the collector is paused while each request runs and collects between
rounds, so that a pass set off by the objects of one contender
(requests.post builds the most) is never timed in another's turn. The runs
of (b) are whole processes, left as they are in use.
"""

import subprocess
import sys
import tempfile
from pathlib import Path

import requests
from harness import LOGIN, BareClient, fleet_scenario, interleaved, ratio, standin, target, write_checks

from harborsweep import harborsweep as hs

REQUESTS, RUNS = 100, 4
# (a) harborsweep's request over the floor's; (b) the speed-up of the run.
REQUEST_TARGET, RUN_TARGET = 1.5, 5.0
WRAPPED = ("import requests, sys; real = requests.post; "
           "requests.post = lambda *a, **k: real(*a, **k); "
           "from harborsweep.__main__ import run; run()")


def request_figures(server):
    bare = BareClient(server.address)
    times = interleaved({
        "bare": lambda: bare.post(LOGIN),
        "shipped": lambda: hs.get_quorvane_cid(server.address, "admin", "pw"),
        "requests": lambda: requests.post(server.url, data=LOGIN, verify=False).json(),
    }, REQUESTS, collector="paused")
    bare, shipped, plain = (times[name].median * 1e3 for name in ("bare", "shipped", "requests"))
    print(f"(a) one request (login), median of {REQUESTS} rounds in turns:")
    print(f"    bare http.client, prebuilt context (floor): {bare:7.2f} ms")
    print(f"    requests.post(..., verify=False):           {plain:7.2f} ms")
    print(f"    harborsweep transport:                      {shipped:7.2f} ms"
          f"  ({ratio(times['shipped'], times['bare']):.2f}x the floor)")
    return ratio(times["shipped"], times["bare"])


def run_figures(server):
    with tempfile.TemporaryDirectory() as scratch:
        config_dir = write_checks(scratch, 20, chained=True)
        args = ["--controller_ip", server.address, "--password", "pw", "--config_dir", config_dir]
        launcher = str(Path(sys.executable).parent / "harborsweep")
        times = interleaved({
            "wrapped": lambda: subprocess.run([sys.executable, "-c", WRAPPED, *args],
                                              check=True, stdout=subprocess.DEVNULL),
            "shipped": lambda: subprocess.run([launcher, *args], check=True, stdout=subprocess.DEVNULL),
        }, RUNS, collector="running")
    slow, fast = times["wrapped"].median, times["shipped"].median
    print(f"(b) run of 20 plain checks + a chained check of 100 elements, through the launcher,"
          f" median of {RUNS} rounds in turns:")
    print(f"    with requests.post:                         {slow:7.2f} s")
    speed_up = ratio(times["wrapped"], times["shipped"])
    print(f"    as shipped:                                 {fast:7.2f} s  ({speed_up:.1f}x faster)")
    return speed_up


def main():
    with standin(fleet_scenario(100)) as server:
        over_floor = request_figures(server)
        speed_up = run_figures(server)
    target(f"(a) harborsweep's request at most {REQUEST_TARGET}x the floor ({over_floor:.2f}x)",
           over_floor <= REQUEST_TARGET)
    target(f"(b) the run at least {RUN_TARGET:.0f}x faster than with requests.post ({speed_up:.1f}x)",
           speed_up >= RUN_TARGET)


if __name__ == "__main__":
    main()
