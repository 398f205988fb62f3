"""What the benchmarks share: contenders timed in turns, target lines, and
the stand-in controller in a child process with a fleet of checks for it.

Every figure comes from contenders measured in the same run, taking turns, so
that a change in the machine's load (other processes, frequency scaling)
reaches all of them alike instead of whichever ran during it.
"""

import gc
import http.client
import json
import os
import ssl
import statistics
import sys
import time
from pathlib import Path
from urllib.parse import urlencode

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tools"))

from standin_controller import StandinProcess  # noqa: E402


class Times(list):
    """One contender's seconds, one entry per round."""

    @property
    def median(self):
        return statistics.median(self)


def interleaved(contenders, rounds, *, collector, clock=time.perf_counter):
    """Times each of `contenders` (name: callable) once per round, in turns,
    the order reversed every other round (A B C, C B A, ...) so that no
    contender always follows the same one; an even number of rounds gives
    both orders alike. Each runs once untimed first.

    `collector` is "paused" where the contenders build much the same objects:
    the garbage collector is off while they run (its passes would land on
    whichever contender happens to cross its threshold) and collects between
    rounds. With "running" it works as it does in use, for contenders whose
    own objects differ, and collects before each turn so that none pays for
    another's garbage.

    `clock` is what is read around each call: the wall clock by default, for
    contenders that wait on another process; time.thread_time, this thread's
    CPU time, for work done here alone, which then does not count the time
    that the machine's other processes hold the CPU."""
    if collector not in ("paused", "running"):
        raise ValueError(f"collector must be 'paused' or 'running', not {collector!r}")
    names = list(contenders)
    for name in names:
        contenders[name]()
    times = {name: Times() for name in names}
    try:
        for round_number in range(rounds):
            gc.collect()
            for name in names if round_number % 2 == 0 else reversed(names):
                if collector == "paused":
                    gc.disable()
                else:
                    gc.collect()
                start = clock()
                contenders[name]()
                times[name].append(clock() - start)
                gc.enable()
    finally:
        gc.enable()
    return times


def ratio(times, reference):
    """How many times `reference` the `times` are: the median of the rounds'
    own ratios. The two were measured moments apart in each round, so a
    change of load between rounds cancels out."""
    return statistics.median(a / b for a, b in zip(times, reference))


def target(text, met):
    """The line stating one of the project's targets and whether it was met."""
    print(f"  target: {text}: {'met' if met else 'NOT met'}")


# The stand-in controller and a fleet for it.

LOGIN = {"action": "login", "username": "admin", "password": "pw"}


def standin(scenario, record=False):
    """The stand-in serving `scenario` from a child process (so that serving
    does not compete with the measured client for the GIL), keeping no record
    of the requests unless `record`. Proxies from the environment are dropped:
    requests go straight to it."""
    for name in [name for name in os.environ if name.lower().endswith("_proxy")]:
        del os.environ[name]
    return StandinProcess(scenario, record=record)


def fleet_scenario(chained_elements):
    """A login, an action answering every plain check, and a list of names
    for a chained check."""
    names = [f"gw-{i:04d}" for i in range(chained_elements)]
    return {
        "accounts": [{"username": "admin", "password": "pw", "cid": "c-bench"}],
        "rules": [
            {"match": {"action": "list_names"}, "json": {"results": names}},
            {"match": {"action": "show"}, "json": {"return": True, "results": {"state": "up", "size": "t3.small"}}},
        ],
    }


def write_checks(directory, plain, chained):
    """`plain` plain checks and, if `chained`, one chained check."""
    directory = Path(directory)
    for i in range(plain):
        (directory / f"plain_{i:03d}.cfg").write_text(
            f"[default]\ndescription = Plain {i}\nfilters = results, state\n"
            f"[quorvane]\naction = show\nindex = {i}\n")
    if chained:
        (directory / "names.ini").write_text("[default]\nfilters = results\n[quorvane]\naction = list_names\n")
        (directory / "chained.cfg").write_text(
            "[default]\ndescription = Chained\nfilters = results, state & size\n"
            "[quorvane]\naction = show\ngw_name = output(names.ini)\n")
    return str(directory)


class BareClient:
    """The least that one request to the stand-in costs from Python: a new
    http.client connection per request, over one prebuilt TLS context that
    verifies nothing, and the answer decoded."""

    def __init__(self, address):
        host, port = address.split(":")
        self.host, self.port = host, int(port)
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        self.context.check_hostname = False
        self.context.verify_mode = ssl.CERT_NONE

    def connect(self):
        return http.client.HTTPSConnection(self.host, self.port, context=self.context)

    @staticmethod
    def send(connection, fields):
        connection.request("POST", "/v1/api", body=urlencode(fields),
                           headers={"Content-Type": "application/x-www-form-urlencoded"})
        return json.loads(connection.getresponse().read())

    def post(self, fields):
        connection = self.connect()
        try:
            return self.send(connection, fields)
        finally:
            connection.close()

    def close(self):
        """Nothing to close: each request closed its own connection."""


class KeptClient(BareClient):
    """The same requests on one http.client connection, opened with the first
    and kept until close(): what a request costs when it pays no handshake."""

    connection = None

    def post(self, fields):
        if self.connection is None:
            self.connection = self.connect()
        return self.send(self.connection, fields)

    def close(self):
        if self.connection is not None:
            self.connection.close()
            self.connection = None
