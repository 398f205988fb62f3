"""The demo (``make demo``): runs the installed ``harborsweep`` on the example
checks against a stand-in controller that serves a small fleet.

Run it with the interpreter of the virtual environment that ``harborsweep``
is installed in; the command is looked up beside that interpreter. It starts
the stand-in on 127.0.0.1, shows the command line and then harborsweep's own
output unchanged, reports the exit status, stops the stand-in and exits with
harborsweep's status.
"""

from __future__ import annotations

import os
import shlex
import subprocess
import sys
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(REPO / "tools"))

from standin_controller import Scenario, StandinController  # noqa: E402

SCENARIO = Path("examples") / "fleet.json"
CONFIG_DIR = Path("examples") / "checks"


def harborsweep_command() -> str:
    # Not resolved: the venv's python is a link to the base interpreter, and
    # the console script lives beside the link.
    command = Path(sys.executable).parent / "harborsweep"
    if not command.exists():
        sys.exit(f"demo: {command} not found; run `make demo` (it installs it)")
    return str(command)


def main() -> int:
    os.chdir(REPO)
    scenario = Scenario.load(SCENARIO)
    account = scenario.accounts[0]
    command = harborsweep_command()
    with StandinController(scenario) as controller:
        argv = [
            command,
            "--controller_ip", controller.address,
            "--username", account.username,
            "--password", account.password,
            "--config_dir", str(CONFIG_DIR),
        ]
        print(f"Stand-in controller serving {SCENARIO} at {controller.url}")
        inside = Path(command).is_relative_to(REPO)
        shown = [os.path.relpath(command) if inside else command] + argv[1:]
        print("$ " + shlex.join(shown), flush=True)
        print(flush=True)
        status = subprocess.run(argv).returncode
        print(f"[harborsweep exited with status {status}; "
              f"the stand-in answered {len(controller.requests)} requests]")
    return status


if __name__ == "__main__":
    sys.exit(main())
