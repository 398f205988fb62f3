"""The virtual environments that the Makefile makes.

    python tools/venvs.py made PYTHON DIR
        A virtual environment of PYTHON in DIR, made once. DIR counts as
        made while its bin/python is there to run; an environment without
        one (an interrupted creation, an interpreter since removed) is
        deleted and made afresh, along with whatever was installed into it,
        since that was installed for another interpreter or not at all. A
        failed creation leaves no DIR. A folder that holds anything but is
        no virtual environment is left alone, and the run fails.

    python tools/venvs.py wheel [--work WORK] PYTHON DIR ARCH
        A new virtual environment of PYTHON in DIR holding, with its test
        extras, the wheel for PYTHON's version and ARCH that the last build
        recorded (WORK/cpXY-ARCH/wheel.sha256, written by build_wheel.py),
        binaries only, proved first to be the file that build wrote and then,
        installed, to be that wheel's files byte for byte (check_installed.py,
        run by the environment's own python). Nothing is made when the
        recorded wheel is missing or another file stands in its place. An
        environment already in DIR is deleted first; a folder that is none is
        left alone, and the run fails, as for `made`.

PYTHON is the interpreter the environment is for; the script itself may run
on any supported one (the wheel's may be an emulated one).
"""

from __future__ import annotations

import argparse
import os
import shutil
import subprocess
import sys
from pathlib import Path

from build_wheel import sha256

ROOT = Path(__file__).resolve().parent.parent
PROGRAM = "venvs"
PIP_INSTALL = ["-m", "pip", "install", "-q", "--disable-pip-version-check"]


def fail(message: str) -> None:
    sys.exit(f"{PROGRAM}: {message}")


def create(python: str, folder: Path) -> None:
    done = subprocess.run([python, "-m", "venv", str(folder)])
    if done.returncode != 0:
        shutil.rmtree(folder, ignore_errors=True)
        fail(f"{python} could not make a virtual environment in {folder}")


def cleared(folder: Path) -> None:
    """Deletes `folder` if it is a virtual environment, whole or half made;
    a folder that holds anything else is left alone, and the run fails."""
    if (folder / "pyvenv.cfg").exists():
        shutil.rmtree(folder)
    elif folder.is_dir() and any(folder.iterdir()):
        fail(f"{folder} holds files but no virtual environment; not making one there")


def made(python: str, folder: Path) -> None:
    if os.access(folder / "bin" / "python", os.X_OK):
        return
    cleared(folder)
    create(python, folder)


def interpreter_tag(python: str) -> str:
    """cp311 for Python 3.11, asked as the Makefile's PY_TAG asks."""
    done = subprocess.run([python, "-c", 'import sys; print("py%d.%d" % sys.version_info[:2])'],
                          capture_output=True, text=True)
    if done.returncode != 0:
        fail(f"{python} does not run: {done.stderr.strip()}")
    return "cp" + done.stdout.strip().removeprefix("py").replace(".", "")


def recorded_wheel(work: Path, tag: str, arch: str) -> Path:
    """The wheel that the last build for `tag` and `arch` wrote, once its
    bytes are proved to be the ones that build recorded."""
    record = work / f"{tag}-{arch}" / "wheel.sha256"
    if not record.is_file():
        fail(f"no {tag} {arch} wheel was built (make dist builds them all)")
    digest, _, name = record.read_text().rstrip("\n").partition("  ")
    wheel = Path(name)
    if not wheel.is_file() or sha256(wheel) != digest:
        fail(f"{wheel} is not the wheel just built ({record} records another)")
    return wheel


def wheel(python: str, folder: Path, arch: str, work: Path) -> None:
    built = recorded_wheel(work, interpreter_tag(python), arch)
    cleared(folder)
    create(python, folder)
    print(f"=== installing {built}[test]", flush=True)
    venv_python = str(folder / "bin" / "python")
    if subprocess.run([venv_python, *PIP_INSTALL, "--only-binary", ":all:", f"{built}[test]"]).returncode != 0:
        fail(f"pip could not install {built.name} into {folder}")
    # check_installed.py says what differs.
    if subprocess.run([venv_python, str(ROOT / "tools" / "check_installed.py"), str(built)]).returncode != 0:
        sys.exit(1)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    made_command = commands.add_parser("made")
    wheel_command = commands.add_parser("wheel")
    wheel_command.add_argument("--work", type=Path, default=ROOT / "build" / "dist")
    for command in (made_command, wheel_command):
        command.add_argument("python")
        command.add_argument("folder", type=Path)
    wheel_command.add_argument("arch")
    args = parser.parse_args()
    if args.command == "made":
        made(args.python, args.folder)
    else:
        wheel(args.python, args.folder, args.arch, args.work)


if __name__ == "__main__":
    main()
