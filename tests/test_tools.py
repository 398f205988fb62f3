# The tools the Makefile and CI run: tools/find_python and `make test-all`,
# against fake interpreters, a fake pyenv folder and a fake inner make, with a
# PATH that holds nothing else, so the machine's own interpreters never count.
import os
import shutil
import subprocess
from pathlib import Path

import pytest

import harborsweep

ROOT = Path(__file__).resolve().parent.parent
FIND_PYTHON = ROOT / "tools" / "find_python"
# What the lookup and the test-all recipe call, besides shell built-ins.
SYSTEM_TOOLS = ["bash", "basename", "grep", "ls", "sed", "sort"]

# An interpreter that starts answers the lookup's probe with its X.Y and its
# own path; a pyenv shim of a version that no shell has activated only says
# that the command is not there.
INTERPRETER = '#!/bin/sh\necho "{version} $0"\n'
SHIM = '#!/bin/sh\necho "pyenv: $(basename "$0"): command not found" >&2\nexit 127\n'


def minor_version(release):
    return ".".join(release.split(".")[:2])


def executable(path, text):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(text)
    path.chmod(0o755)
    return path


class FakeMachine:
    """A pyenv folder, a bin folder on PATH, and the system tools."""

    def __init__(self, root):
        self.root = root
        self.pyenv = root / "pyenv"
        self.bin = root / "bin"
        self.system = root / "system"
        self.system.mkdir()
        self.bin.mkdir()
        (self.pyenv / "versions").mkdir(parents=True)
        for tool in SYSTEM_TOOLS:
            (self.system / tool).symlink_to(shutil.which(tool))
        self.env = {"PATH": f"{self.bin}:{self.system}", "PYENV_ROOT": str(self.pyenv),
                    "HOME": str(root), "LC_ALL": "C"}

    def interpreter(self, release):
        """pyenv's python3.X for `release` (3.12.1, 3.13.0t)."""
        return self.pyenv / "versions" / release / "bin" / f"python{minor_version(release)}"

    def install(self, release):
        return executable(self.interpreter(release),
                          INTERPRETER.format(version=minor_version(release)))

    def on_path(self, name, version=None):
        """`name` on PATH: an interpreter of `version`, or a shim without one."""
        text = SHIM if version is None else INTERPRETER.format(version=version)
        return executable(self.bin / name, text)

    def find_python(self, *args):
        return subprocess.run([shutil.which("bash"), str(FIND_PYTHON), *args], env=self.env,
                              capture_output=True, text=True, timeout=30)


@pytest.fixture
def machine(tmp_path):
    return FakeMachine(tmp_path)


SUPPORTED = ["--supported", "3.10-3.13"]


@pytest.mark.parametrize("releases, path, args, found", [
    # By version, not by text: 3.12.10 is newer than 3.12.9.
    (["3.12.1", "3.12.10", "3.12.9"], {}, ["python3.12"], "pyenv/versions/3.12.10/bin/python3.12"),
    # A free-threaded build has another ABI, however new.
    (["3.13.0", "3.13.1t"], {}, ["python3.13"], "pyenv/versions/3.13.0/bin/python3.13"),
    # python3.1 is not python3.12.
    (["3.12.1"], {}, ["python3.1"], None),
    (["3.12.1"], {}, ["python3.42"], None),
    # A shim that does not run is passed over for pyenv's own copy.
    (["3.11.7"], {"python3.11": None}, ["python3.11"], "pyenv/versions/3.11.7/bin/python3.11"),
    (["3.11.7"], {"python3.11": "3.11"}, ["python3.11"], "bin/python3.11"),
    (["3.11.7"], {"python3": None}, ["python3"], None),
    # The supported range, both ends included.
    (["3.10.13", "3.13.0"], {}, [*SUPPORTED, "python3.10"], "pyenv/versions/3.10.13/bin/python3.10"),
    ([], {"python3": "3.13"}, [*SUPPORTED, "python3"], "bin/python3"),
], ids=["newest-patch", "free-threaded-skipped", "prefix-is-not-a-version", "unknown",
        "dead-shim-skipped", "path-first", "only-a-dead-shim", "supported-lowest", "supported-highest"])
def test_find_python_prints_the_interpreter_that_runs_or_nothing(machine, releases, path, args, found):
    for release in releases:
        machine.install(release)
    for name, version in path.items():
        machine.on_path(name, version)
    done = machine.find_python(*args)
    assert done.stderr == ""
    if found is None:
        assert (done.returncode, done.stdout) == (1, "")
    else:
        assert (done.returncode, done.stdout) == (0, f"{machine.root / found}\n")


@pytest.mark.parametrize("version, how", [("3.9", "pyenv"), ("3.14", "PATH"), ("3.9", "path")])
def test_find_python_refuses_an_unsupported_version_in_one_line(machine, version, how):
    if how == "pyenv":
        interpreter, name = machine.install(version + ".18"), f"python{version}"
    else:
        interpreter = machine.on_path("python3", version)
        name = "python3" if how == "PATH" else str(interpreter)
    done = machine.find_python(*SUPPORTED, name)
    assert (done.returncode, done.stdout) == (3, "")
    assert done.stderr == (f"Python {version} ({interpreter}) is not supported; "
                           "harborsweep supports Python 3.10 to 3.13\n")


# The inner make notes what it was asked for, and fails where that names
# $FAIL.
FAKE_MAKE = """#!/bin/sh
echo "$*" >>"$LOG"
case "$*" in *"$FAIL"*) exit 1 ;; esac
"""


def run_make(machine, target, fail):
    """`make TARGET` with the fake inner make; its completed process and the
    inner runs it asked for."""
    log = machine.root / "runs"
    done = subprocess.run(
        [shutil.which("make"), "-f", "Makefile", target, f"MAKE={executable(machine.root / 'make', FAKE_MAKE)}"],
        cwd=ROOT, env={**machine.env, "LOG": str(log), "FAIL": fail},
        capture_output=True, text=True, timeout=30)
    return done, log.read_text().splitlines() if log.exists() else []


@pytest.mark.parametrize("releases, fail, status, skipped", [
    (["3.10.13", "3.11.7", "3.12.1", "3.13.0"], "3.12", 2, []),
    (["3.11.7", "3.13.0", "3.13.1t"], "no such", 0, ["python3.10", "python3.12"]),
    ([], "no such", 2, ["python3.10", "python3.11", "python3.12", "python3.13"]),
], ids=["one-fails", "two-skipped", "none-found"])
def test_make_test_all_runs_each_interpreter_found_and_fails_if_one_fails(
        machine, releases, fail, status, skipped):
    for release in releases:
        machine.install(release)
    done, runs = run_make(machine, "test-all", fail)
    assert done.returncode == status, done.stdout + done.stderr
    wanted = [r for r in releases if not r.endswith("t")]
    assert runs == [f"--no-print-directory test PYTHON={machine.interpreter(r)}" for r in wanted]
    lines = done.stdout.splitlines()
    assert [line.split()[1].rstrip(":") for line in lines if line.endswith("skipped")] == skipped
    failed = [line for line in lines if "FAILED" in line]
    assert failed == (["=== FAILED with python3.12"] if fail == "3.12" else [])
    if not wanted:
        assert "=== none of python3.10 python3.11 python3.12 python3.13 found" in lines


@pytest.mark.parametrize("releases, fail, status", [
    # A wheel that fails to build fails the whole, after the others are built.
    (["3.10.13", "3.11.7", "3.12.1", "3.13.0"], "cp312", 2),
    (["3.11.7", "3.13.1t"], "no such", 0),
    ([], "no such", 2),
], ids=["one-fails", "three-skipped", "none-found"])
def test_make_dist_aarch64_builds_a_wheel_per_interpreter_found_and_fails_if_one_fails(
        machine, releases, fail, status):
    for release in releases:
        machine.install(release)
    done, runs = run_make(machine, "dist-aarch64", fail)
    assert done.returncode == status, done.stdout + done.stderr
    found = [minor_version(r).replace(".", "") for r in releases if not r.endswith("t")]
    assert runs == [f"--no-print-directory dist/harborsweep-{harborsweep.__version__}-cp{tag}-cp{tag}-"
                    "manylinux2014_aarch64.manylinux_2_17_aarch64.whl" for tag in found]
    skipped = [line.split()[1].rstrip(":") for line in done.stdout.splitlines() if line.endswith("no aarch64 wheel")]
    assert skipped == [f"python3.{minor}" for minor in (10, 11, 12, 13) if f"3{minor}" not in found]
