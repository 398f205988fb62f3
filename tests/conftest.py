# Shared fixtures: the stand-in controller from tools/ for tests that need one;
# the tests that measure memory or limit it are skipped under the sanitizers.
import os
import sys
from pathlib import Path

import pytest

TOOLS = Path(__file__).resolve().parent.parent / "tools"
if str(TOOLS) not in sys.path:
    sys.path.insert(0, str(TOOLS))

from standin_controller import StandinController, StandinProcess  # noqa: E402


def pytest_runtest_setup(item):
    # ASan's quarantine holds freed memory back, so resident memory grows
    # whether or not anything leaks.
    if os.environ.get("HARBORSWEEP_SANITIZE") and item.get_closest_marker("measures_memory"):
        pytest.skip("measures process memory, which means nothing under the sanitizers")
    # ASan reserves terabytes of address space for its shadow memory.
    if os.environ.get("HARBORSWEEP_SANITIZE") and item.get_closest_marker("limits_address_space"):
        pytest.skip("limits the address space, which ASan's shadow memory does not fit in")


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
