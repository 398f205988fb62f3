# Shared fixtures: the stand-in controller from tools/ for tests that need one.
import sys
from pathlib import Path

import pytest

TOOLS = Path(__file__).resolve().parent.parent / "tools"
if str(TOOLS) not in sys.path:
    sys.path.insert(0, str(TOOLS))

from standin_controller import StandinController  # noqa: E402


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
