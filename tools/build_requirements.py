"""Installs what building the package needs into the running interpreter's
environment, so that ``pip install --no-build-isolation`` can reuse one build
directory from run to run (``make install`` calls it with the virtual
environment's python).

That is the ``[build-system] requires`` of pyproject.toml, then whatever the
build backend asks for on top on this machine: scikit-build-core asks for the
``cmake`` and ``ninja`` packages only when no recent enough ones are on PATH,
just as it would in pip's isolated build.

Usage: python tools/build_requirements.py STAMP

STAMP is a file written once everything is installed; while it is newer than
pyproject.toml, the script does nothing.
"""

from __future__ import annotations

import ast
import re
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
PYPROJECT = ROOT / "pyproject.toml"


def declared_requirements() -> list[str]:
    text = PYPROJECT.read_text(encoding="utf-8")
    try:
        import tomllib
    except ImportError:
        # Python 3.10 has no TOML reader before the first install. The
        # requires entry is a one-line array of plain strings, which reads
        # the same as a Python list.
        table = re.search(r"^\[build-system\]$(.*?)(?=^\[|\Z)", text, re.M | re.S)
        entry = table and re.search(r"^requires\s*=\s*(\[.*?\])\s*$", table.group(1), re.M)
        if not entry:
            sys.exit(f"{PYPROJECT}: no one-line requires = [...] under [build-system]")
        return list(ast.literal_eval(entry.group(1)))
    return list(tomllib.loads(text)["build-system"]["requires"])


def pip_install(requirements: list[str]) -> None:
    if requirements:
        subprocess.run([sys.executable, "-m", "pip", "install", "-q",
                        "--disable-pip-version-check", *requirements], check=True)


def backend_requirements() -> list[str]:
    # Asked in a fresh interpreter: the backend was installed after this one
    # started. It reads pyproject.toml from the current directory.
    program = ("from scikit_build_core.build import get_requires_for_build_wheel as r; "
               "print('\\n'.join(r()))")
    done = subprocess.run([sys.executable, "-c", program], cwd=ROOT, check=True,
                          capture_output=True, text=True)
    return done.stdout.split()


def main() -> None:
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    stamp = Path(sys.argv[1])
    if stamp.exists() and stamp.stat().st_mtime_ns > PYPROJECT.stat().st_mtime_ns:
        return
    pip_install(declared_requirements())
    pip_install(backend_requirements())
    stamp.parent.mkdir(parents=True, exist_ok=True)
    stamp.write_text("".join(f"{line}\n" for line in declared_requirements()))


if __name__ == "__main__":
    main()
