# Helpers for running the installed harborsweep launcher in a child process,
# and its main() in this one.
import contextlib
import io
import os
import subprocess
import sys
from pathlib import Path
from pprint import PrettyPrinter, pformat
from unittest import mock

CONSOLE_SCRIPT = str(Path(sys.executable).parent / "harborsweep")


def clean_environment(io_encoding="utf-8", buffered=None):
    """The process environment without proxy settings, which would route the
    stand-in controller's loopback traffic elsewhere, and without colour,
    which argparse adds from Python 3.14 on where FORCE_COLOR (as some CI
    services set it) or a terminal asks for it. With `buffered` true, a
    child's standard output to a file or pipe is block-buffered, as it is for
    a user; false makes it unbuffered; None leaves PYTHONUNBUFFERED as it is
    here."""
    env = {k: v for k, v in os.environ.items() if not k.lower().endswith("_proxy")}
    env["PYTHONIOENCODING"] = io_encoding
    env["PYTHON_COLORS"] = "0"
    if buffered is not None:
        env.pop("PYTHONUNBUFFERED", None)
        if not buffered:
            env["PYTHONUNBUFFERED"] = "1"
    return env


def run_harborsweep(*args, stdin=b"", console_script=False, timeout=60, io_encoding="utf-8"):
    command = [CONSOLE_SCRIPT] if console_script else [sys.executable, "-m", "harborsweep"]
    return subprocess.run(
        [*command, *args],
        input=stdin,
        capture_output=True,
        env=clean_environment(io_encoding),
        timeout=timeout,
    )


def run_main(address, config_dir, password="pw", output=None):
    """Runs harborsweep.harborsweep.main() here, writing descriptions and
    results alike to `output` (a new text buffer by default); returns it."""
    from harborsweep import harborsweep

    output = io.StringIO() if output is None else output
    argv = ["harborsweep", "--controller_ip", address, "--password", password, "--config_dir", config_dir]
    with mock.patch.object(sys, "argv", argv), contextlib.redirect_stdout(output), \
            mock.patch.object(harborsweep, "pp", PrettyPrinter(width=200, stream=output)):
        harborsweep.main()
    return output


def write_checks(directory, files):
    """Writes check files (name -> text) under `directory`; returns its path
    as text."""
    for name, text in files.items():
        path = Path(directory, name)
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text, encoding="utf-8")
    return str(directory)


def check_order(directory):
    """The ".cfg" names of `directory` in the order the run takes them."""
    return [name for name in os.listdir(directory) if name.endswith(".cfg")]


def check_output(description, result):
    """What the run prints for one check."""
    head = "" if description is None else description + "\n"
    return head + pformat(result, width=200) + "\n" + "\n\n"


def error_and_notes(stderr):
    """The exception line of a traceback on `stderr`, and the notes after it
    that name the check files it came through (Python 3.11 and later)."""
    lines = stderr.decode().splitlines()
    notes = []
    while lines and lines[-1].startswith("while running "):
        notes.insert(0, lines.pop())
    return lines[-1], notes
