"""Runs one make goal per interpreter: `make GOAL PYTHON=PATH` with each
interpreter NAMES lists that the machine has (tools/find_python finds it),
and `make ROOT-GOAL PYTHON=NAME` with each of them that it has not but the
Debian root gives (--root-pythons). Says which ones it skipped, goes on past
a failure, and fails if any run failed or none ran: `make test-all` and
`make dist` stand on it.

Usage: python tools/each_python.py --make MAKE [--root-pythons 'NAME...']
           GOAL ROOT-GOAL NAME...

GOAL and ROOT-GOAL are each one argument, split at spaces into make's
arguments ('release-wheel ZIG_TARGET=aarch64-linux-gnu.2.17').
"""

from __future__ import annotations

import argparse
import os
import subprocess
import sys
from pathlib import Path

FIND_PYTHON = Path(__file__).resolve().parent / "find_python"


def found(name: str) -> str | None:
    done = subprocess.run([str(FIND_PYTHON), name], stdout=subprocess.PIPE, text=True)
    return done.stdout.strip() if done.returncode == 0 else None


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--make", required=True)
    parser.add_argument("--root-pythons", default="", metavar="'NAME...'")
    parser.add_argument("goal")
    parser.add_argument("root_goal")
    parser.add_argument("names", nargs="+", metavar="NAME")
    args = parser.parse_args()
    pyenv = Path(os.environ.get("PYENV_ROOT") or Path.home() / ".pyenv") / "versions"
    failed, ran = False, 0
    for name in args.names:
        if path := found(name):
            command = [*args.goal.split(), f"PYTHON={path}"]
        elif name in args.root_pythons.split():
            command = [*args.root_goal.split(), f"PYTHON={name}"]
        else:
            print(f"=== {name}: not found on PATH or in {pyenv}, skipped", flush=True)
            continue
        print(f"=== make {' '.join(command)}", flush=True)
        ran += 1
        # make's jobserver reaches the inner make through inherited
        # descriptors, which subprocess would otherwise close.
        if subprocess.run([args.make, "--no-print-directory", *command], close_fds=False).returncode != 0:
            print(f"=== FAILED with {name}", flush=True)
            failed = True
    if not ran:
        print(f"=== none of {' '.join(args.names)} found")
        sys.exit(1)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        # make, in the same process group, has its own message for Ctrl-C.
        sys.exit(130)
