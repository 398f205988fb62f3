# Shared fixtures: the stand-in controller from tools/ for tests that need one,
# and a record of what requests' adapters do;
# the tests that measure memory or limit it are skipped under the sanitizers,
# and those that limit it under emulation (HARBORSWEEP_EMULATED);
# the property tests' profiles.
import os
import sys
from pathlib import Path
from unittest import mock

import pytest
from hypothesis import settings
from requests.adapters import HTTPAdapter

TOOLS = Path(__file__).resolve().parent.parent / "tools"
if str(TOOLS) not in sys.path:
    sys.path.insert(0, str(TOOLS))

from standin_controller import StandinController, StandinProcess  # noqa: E402

# How many examples each property test tries: "default" for everyday runs,
# "ci" for CI (.ci/run sets HYPOTHESIS_PROFILE=ci), seven and a half times as
# many. A test that is dearer per example takes a fixed share of the number.
# Chosen by HYPOTHESIS_PROFILE or by pytest's --hypothesis-profile. Both build
# on Hypothesis's own default profile rather than on its "ci" one, which tries
# the same examples on every run.
_base = settings.get_profile("default")
settings.register_profile("default", _base, max_examples=200)
settings.register_profile("ci", _base, max_examples=1500)
if os.environ.get("HYPOTHESIS_PROFILE"):
    settings.load_profile(os.environ["HYPOTHESIS_PROFILE"])


def pytest_runtest_setup(item):
    # ASan's quarantine holds freed memory back, so resident memory grows
    # whether or not anything leaks.
    if os.environ.get("HARBORSWEEP_SANITIZE") and item.get_closest_marker("measures_memory"):
        pytest.skip("measures process memory, which means nothing under the sanitizers")
    # ASan reserves terabytes of address space for its shadow memory.
    if os.environ.get("HARBORSWEEP_SANITIZE") and item.get_closest_marker("limits_address_space"):
        pytest.skip("limits the address space, which ASan's shadow memory does not fit in")
    # qemu-user keeps RLIMIT_AS for its own process and never applies it to
    # the program it emulates, whose allocations then never fail.
    if os.environ.get("HARBORSWEEP_EMULATED") and item.get_closest_marker("limits_address_space"):
        pytest.skip("limits the address space, which user-mode emulation does not enforce")


@pytest.fixture
def time_scale():
    """How many times the host's bound on elapsed time a test may take: under
    qemu-user (HARBORSWEEP_EMULATED) the interpreter runs about four times
    slower than on the host, more when the machine is busy."""
    return 5 if os.environ.get("HARBORSWEEP_EMULATED") else 1


def serving(kind):
    """Yields a starter of stand-ins of `kind`; stops every one it started."""
    started = []

    def start(scenario):
        started.append(kind(scenario).start())
        return started[-1]

    yield start
    for running in reversed(started):
        running.stop()


@pytest.fixture
def controller():
    """Starts a stand-in controller for a scenario: ``controller(scenario)``.

    Every one started is stopped when the test ends."""
    yield from serving(StandinController)


@pytest.fixture
def controller_process():
    """Like ``controller``, but each stand-in serves from a child process, and
    the scenario is given in its JSON form: for tests that fork, such as
    pexpect's pty, which must not have threads running in this process."""
    yield from serving(StandinProcess)


class AdapterEvents(list):
    """("send" or "close", adapter) for every request that an adapter sends
    and every close of one, in order."""

    def used_and_closed(self):
        """How many adapters sent requests, once each has been checked to be
        closed exactly once, after its last request."""
        senders = {id(adapter): adapter for event, adapter in self if event == "send"}
        for adapter in senders.values():
            mine = [event for event, other in self if other is adapter]
            assert mine.count("close") == 1 and mine[-1] == "close", mine
        return len(senders)


@pytest.fixture
def adapter_events():
    """Records the sends and closes of requests' HTTP adapters (AdapterEvents)
    while the test runs; the adapters work as they do."""
    events = AdapterEvents()
    send, close = HTTPAdapter.send, HTTPAdapter.close

    def recording_send(self, *args, **kwargs):
        events.append(("send", self))
        return send(self, *args, **kwargs)

    def recording_close(self):
        events.append(("close", self))
        return close(self)

    with mock.patch.object(HTTPAdapter, "send", recording_send), mock.patch.object(HTTPAdapter, "close", recording_close):
        yield events
