"""Checks that the package installed for the running interpreter is, file for
file and byte for byte, the one in WHEEL: `make test-wheel` runs it before
the suite, so that the suite cannot pass on another build, such as a copy
left in the environment by an earlier install (pip keeps an installed
version it deems the same) or a wheel from an earlier build.

Usage: python tools/check_installed.py [--site DIR] WHEEL

DIR is the folder that holds the installed package; by default, the one
that `import harborsweep` finds.
"""

from __future__ import annotations

import argparse
import importlib.util
import sys
import zipfile
from pathlib import Path

PACKAGE = "harborsweep"


def installed_site() -> Path:
    found = importlib.util.find_spec(PACKAGE)
    if found is None or not found.submodule_search_locations:
        sys.exit(f"check_installed: no {PACKAGE} package installed for {sys.executable}")
    return Path(list(found.submodule_search_locations)[0]).parent


def differences(wheel: Path, site: Path) -> list[str]:
    problems = []
    with zipfile.ZipFile(wheel) as archive:
        members = [name for name in archive.namelist()
                   if name.startswith(PACKAGE + "/") and not name.endswith("/")]
        if not members:
            return [f"{wheel.name}: no {PACKAGE}/ files"]
        for name in members:
            installed = site / name
            if not installed.is_file():
                problems.append(f"{installed}: missing")
            elif installed.read_bytes() != archive.read(name):
                problems.append(f"{installed}: differs from {name} in {wheel.name}")
    return problems


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--site", type=Path, help="the folder holding the installed package")
    parser.add_argument("wheel", type=Path)
    args = parser.parse_args()
    site = args.site or installed_site()
    problems = differences(args.wheel, site)
    for problem in problems:
        print(f"check_installed: {problem}")
    if problems:
        sys.exit(1)
    print(f"check_installed: {site / PACKAGE} is {args.wheel.name}")


if __name__ == "__main__":
    main()
