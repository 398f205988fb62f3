# Shared fixtures: the stand-in controller from tools/ for tests that need one.
import sys
from pathlib import Path

import pytest

TOOLS = Path(__file__).resolve().parent.parent / "tools"
if str(TOOLS) not in sys.path:
    sys.path.insert(0, str(TOOLS))

from standin_controller import StandinController, StandinProcess  # noqa: E402


@pytest.fixture
def controller():
    """Starts a stand-in controller for a scenario: ``controller(scenario)``.

    Every one started is stopped when the test ends."""
    started = []

    def start(scenario):
        started.append(StandinController(scenario).start())
        return started[-1]

    yield start
    for running in reversed(started):
        running.stop()


@pytest.fixture
def controller_process():
    """Like ``controller``, but each stand-in serves from a child process, and
    the scenario is given in its JSON form: for tests that fork, such as
    pexpect's pty, which must not have threads running in this process."""
    started = []

    def start(scenario):
        started.append(StandinProcess(scenario).start())
        return started[-1]

    yield start
    for running in reversed(started):
        running.stop()
