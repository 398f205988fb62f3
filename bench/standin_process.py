"""Runs the stand-in controller in a child process for the benchmarks, so
that serving requests does not compete with the measured client for the GIL."""

import contextlib
import json
import subprocess
import sys
import tempfile
from pathlib import Path

TOOLS = Path(__file__).resolve().parent.parent / "tools"


@contextlib.contextmanager
def standin(scenario):
    """Serves `scenario` (the stand-in's JSON form); yields "127.0.0.1:PORT"."""
    with tempfile.TemporaryDirectory() as scratch:
        path = Path(scratch, "scenario.json")
        path.write_text(json.dumps(scenario))
        server = subprocess.Popen(
            [sys.executable, str(TOOLS / "standin_controller.py"), "--scenario", str(path)],
            stdout=subprocess.PIPE, text=True)
        try:
            yield server.stdout.readline().strip()
        finally:
            server.terminate()
            server.wait(timeout=10)


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
