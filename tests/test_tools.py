# The tools the Makefile and CI run, tools/find_python, tools/debian_root,
# `make test-all` (tools/each_python.py) and .ci/run's lanes (against a fake
# make), and the Makefile's own promises about
# interpreters, ARGS and virtual environments (tools/venvs.py), against fake
# interpreters, a fake pyenv folder and a fake inner make, with a PATH that
# holds nothing else, so the machine's own interpreters never count;
# tools/check_dist.py, tools/check_installed.py and tools/build_wheel.py's
# replacing of older wheels, against fake releases.
import contextlib
import hashlib
import io
import os
import re
import shutil
import signal
import subprocess
import sys
import tarfile
import time
import zipfile
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
FIND_PYTHON = ROOT / "tools" / "find_python"
# What the lookup, the recipes and the fake interpreters call, besides shell
# built-ins.
SYSTEM_TOOLS = ["bash", "basename", "chmod", "cp", "grep", "ls", "mkdir", "mv", "rm", "sort", "touch"]

# An interpreter that starts answers the lookup's probe with its X.Y and its
# own full path, as sys.executable; a pyenv shim of a version that no shell
# has activated only says that the command is not there.
INTERPRETER = '#!/bin/sh\ncase "$0" in /*) self="$0" ;; *) self="$PWD/${{0#./}}" ;; esac\necho "{version} $self"\n'
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
                    "HOME": str(root), "LC_ALL": "C", "REAL_PYTHON": sys.executable}

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

    def find_python(self, *args, cwd=None):
        return subprocess.run([shutil.which("bash"), str(FIND_PYTHON), *args], env=self.env, cwd=cwd,
                              capture_output=True, text=True, timeout=30)


@pytest.fixture
def machine(tmp_path):
    return FakeMachine(tmp_path)


SUPPORTED = ["--supported", "3.10-3.15"]


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
    (["3.10.13", "3.15.2"], {}, [*SUPPORTED, "python3.10"], "pyenv/versions/3.10.13/bin/python3.10"),
    ([], {"python3": "3.15"}, [*SUPPORTED, "python3"], "bin/python3"),
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


@pytest.mark.parametrize("path, found", [
    (":{bin}:{system}", True), ("{bin}::{system}", True), ("{bin}:{system}:", True), ("{bin}:{system}", False),
], ids=["first", "between", "last", "none"])
def test_find_python_takes_an_empty_path_entry_for_the_current_directory(machine, path, found):
    # As for the shell; without one, the current directory is not searched.
    here = executable(machine.root / "here" / "python3", INTERPRETER.format(version="3.12"))
    machine.on_path("python3")
    machine.env["PATH"] = path.format(bin=machine.bin, system=machine.system)
    done = machine.find_python("python3", cwd=here.parent)
    assert (done.returncode, done.stdout, done.stderr) == ((0, f"{here}\n", "") if found else (1, "", ""))


@pytest.mark.parametrize("version, how", [("3.9", "pyenv"), ("3.16", "PATH"), ("3.9", "path")])
def test_find_python_refuses_an_unsupported_version_in_one_line(machine, version, how):
    if how == "pyenv":
        interpreter, name = machine.install(version + ".18"), f"python{version}"
    else:
        interpreter = machine.on_path("python3", version)
        name = "python3" if how == "PATH" else str(interpreter)
    done = machine.find_python(*SUPPORTED, name)
    assert (done.returncode, done.stdout) == (3, "")
    assert done.stderr == (f"Python {version} ({interpreter}) is not supported; "
                           "harborsweep supports Python 3.10 to 3.15\n")


# The inner make notes what it was asked for, and fails where that names
# $FAIL, with make's own status for a failed recipe.
FAKE_MAKE = """#!/bin/sh
echo "$*" >>"$LOG"
case "$*" in *"$FAIL"*) exit 2 ;; esac
"""


ALL = ["python3.10", "python3.11", "python3.12", "python3.13", "python3.14", "python3.15"]


# What the machine lacks of 3.14 and 3.15 runs in the Debian root; the
# machine's own interpreter wins where it has one.
# TEST_PYTHONS picks some of them.
@pytest.mark.parametrize("releases, root, fail, status, skipped, chosen", [
    (["3.10.13", "3.11.7", "3.12.1", "3.13.0"], None, "3.12", 2, [], ALL),
    (["3.11.7", "3.13.0", "3.13.1t"], None, "no such", 0, ["python3.10", "python3.12"], ALL),
    (["3.15.2"], "", "no such", 0, ALL[:4] + ["python3.14"], ALL),
    (["3.11.7"], None, "python3.15", 2, ALL[:1] + ALL[2:4], ALL),
    ([], "", "no such", 2, ALL, ALL),
    (["3.11.7", "3.12.1", "3.13.0"], None, "no such", 0, ["python3.10"], ["python3.10", "python3.12", "python3.15"]),
    ([], None, "no such", 0, ALL[:4], ALL),
    (["3.14.2"], None, "no such", 0, ALL[:4], ALL),
], ids=["one-fails", "two-skipped", "no-root-wanted", "root-run-fails", "none-found", "chosen", "root-runs-count",
        "machine-before-root"])
def test_make_test_all_runs_each_interpreter_found_and_fails_if_one_fails(
        machine, releases, root, fail, status, skipped, chosen):
    for release in releases:
        machine.install(release)
    fake_make = executable(machine.root / "make", FAKE_MAKE)
    log = machine.root / "runs"
    settings = [] if root is None else [f"DEBIAN_ROOT_PYTHONS={root}"]
    if chosen != ALL:
        settings.append(f"TEST_PYTHONS={' '.join(chosen)}")
    done = subprocess.run(
        [shutil.which("make"), "-f", "Makefile", "test-all", f"MAKE={fake_make}", f"PYTHON={sys.executable}",
         *settings],
        cwd=ROOT, env={**machine.env, "LOG": str(log), "FAIL": fail},
        capture_output=True, text=True, timeout=30)
    assert done.returncode == status, done.stdout + done.stderr
    on_host = [r for r in releases if not r.endswith("t") and "python" + minor_version(r) in chosen]
    in_root = [] if root == "" else [
        name for name in ("python3.14", "python3.15")
        if name in chosen and not any(name == "python" + minor_version(r) for r in on_host)]
    runs = log.read_text().splitlines() if on_host or in_root else []
    assert runs == [f"--no-print-directory test PYTHON={machine.interpreter(r)}" for r in on_host] + [
        f"--no-print-directory test-in-root PYTHON={name}" for name in in_root]
    lines = done.stdout.splitlines()
    assert [line.split()[1].rstrip(":") for line in lines if line.endswith("skipped")] == skipped
    failed = [line for line in lines if "FAILED" in line]
    named = {"3.12": "python3.12", "python3.15": "python3.15"}.get(fail)
    assert failed == ([f"=== FAILED with {named}"] if named else [])
    if not (on_host or in_root):
        assert f"=== none of {' '.join(ALL)} found" in lines


# .ci/run against a make that notes each stage (with its Hypothesis profile)
# and fails the one that begins with $FAIL, and says `supported` for
# SUPPORTED_PYTHONS; the machine has `releases`. A stage that fails fails the
# run, and the rest of its lane still runs; a failed make dist leaves every
# wheel untested, an earlier run's included, and the waiting lane goes on.
FAKE_CI_MAKE = """#!/bin/sh
case "$*" in
    *print-SUPPORTED_PYTHONS) echo "$SUPPORTED"; exit ;;
    *print-DEBIAN_ROOT_PYTHONS) echo python3.14 python3.15; exit ;;
esac
echo "${HYPOTHESIS_PROFILE:--} $*" >>"$LOG"
case "$*" in "$FAIL"*) exit 2 ;; esac
"""


@pytest.mark.parametrize("supported, releases, fail, wheels_tested", [
    (ALL, ["3.11.7", "3.12.1"], "no such", True),
    (ALL[:5], ["3.13.0"], "no such", True),
    (ALL, ["3.11.7"], "dist", False),
    (ALL, ["3.11.7"], "sanitize", True),
    (ALL, ["3.11.7"], "-o wheel test-wheel PYTHON=python3.14", True),
    (ALL, ["3.11.7"], "-o wheel-aarch64", True),
], ids=["passes", "newest-is-3.14", "dist-fails", "test-lane-stage-fails", "wheel-test-fails", "emulated-run-fails"])
def test_ci_run_runs_each_stage_once_and_fails_if_one_fails(machine, supported, releases, fail, wheels_tested):
    for release in releases:
        machine.install(release)
    for tool in ("cat", "dirname", "env", "sleep", "tr", "uniq"):
        (machine.system / tool).symlink_to(shutil.which(tool))
    executable(machine.bin / "make", FAKE_CI_MAKE)
    tree = copy_of_the_tree(machine)
    shutil.copytree(ROOT / ".ci", tree / ".ci")
    log = machine.root / "stages"
    # Its own process group, so that a lane left waiting goes with it.
    with subprocess.Popen([str(tree / ".ci" / "run")], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          env={**machine.env, "LOG": str(log), "FAIL": fail, "SUPPORTED": " ".join(supported)},
                          start_new_session=True) as process:
        try:
            output = process.communicate(timeout=30)[0]
        finally:
            with contextlib.suppress(ProcessLookupError):
                os.killpg(process.pid, signal.SIGKILL)
    assert process.returncode == (0 if fail == "no such" else 1), output
    stages = [line.split(" ", 1) for line in log.read_text().splitlines()]
    one = str(machine.interpreter(releases[0]))
    newest = supported[-1].removeprefix("python")
    runs = {"default": [], "ci": []}
    for profile, stage in stages:
        if stage.startswith("test-all TEST_PYTHONS="):
            runs[profile] += stage.partition("=")[2].split()
    assert (runs["ci"], sorted(runs["default"] + runs["ci"])) == (sorted({"python3.14", supported[-1]}), supported)
    others = [stage for _, stage in stages if not stage.startswith("test-all ")]
    wheels = [f"-o wheel test-wheel PYTHON={name}" for name in (one, "python3.14", "python3.15")]
    assert sorted(others) == sorted(["format-check", "debian-root", "dist", f"sanitize PYTHON={one}", *(
        [f"-o wheel-aarch64 test-wheel-aarch64 AARCH64_TEST_VERSION={newest}", *wheels] if wheels_tested else [])])
    assert others[:2] == ["format-check", "debian-root"] and others.index("dist") < min(
        [others.index(wheel) for wheel in wheels if wheel in others], default=len(others)), others


DEBIAN_ROOT = ROOT / "tools" / "debian_root"
# tools/debian_root against fakes of what needs root rights or the network:
# debootstrap makes a bare folder (or fails as it does offline), chroot notes
# what it was to run, and mounts do nothing.
ROOT_TOOLS = ["bash", "sh", "cat", "cp", "mkdir", "mv", "rm", "du", "cut", "sort", "tr", "tail",
              "dirname", "flock", "env", "chmod"]
FAKE_DEBOOTSTRAP = """#!/bin/sh
echo "debootstrap $*" >>"$LOG"
if [ -n "${DEBOOTSTRAP_FAILS:-}" ]; then echo "E: Failed getting release file $5/dists/$3/Release"; exit 1; fi
mkdir -p "$4/dev" "$4/proc" "$4/bin" "$4/etc/apt/apt.conf.d" && printf '#!/bin/sh\\n' >"$4/bin/sh" && chmod +x "$4/bin/sh"
"""
FAKE_ROOT_COMMANDS = {
    "id": "#!/bin/sh\necho 0\n",
    "unshare": '#!/bin/sh\nshift 3\nexec "$@"\n',
    "mount": "#!/bin/sh\n",
    # Notes the arguments after the last "sh": those of the script it runs.
    "chroot": ('#!/bin/bash\nfor arg; do [ "$arg" = sh ] && args=() || args+=("$arg"); done\n'
               'echo "inside: ${args[*]}" >>"$LOG"\n'
               'if [ -n "${APT_FAILS:-}" ]; then echo "E: Unable to locate package ${args[-1]}"; exit 100; fi\n'),
}
# Installs debootstrap as Debian's apt-get would.
FAKE_APT_GET = '#!/bin/sh\necho "apt-get $*" >>"$LOG"\ncp "$FAKES/debootstrap" "$FAKES/bin/"\n'


class FakeRootMachine:
    def __init__(self, root, has_debootstrap, has_apt):
        self.dir = root / "build" / "debian-sid-amd64"
        self.log = root / "log"
        bin_dir, system = root / "bin", root / "system"
        system.mkdir()
        for tool in ROOT_TOOLS:
            (system / tool).symlink_to(shutil.which(tool))
        for name, text in FAKE_ROOT_COMMANDS.items():
            executable(bin_dir / name, text)
        executable(root / "debootstrap", FAKE_DEBOOTSTRAP)
        if has_debootstrap:
            executable(bin_dir / "debootstrap", FAKE_DEBOOTSTRAP)
        if has_apt:
            executable(bin_dir / "apt-get", FAKE_APT_GET)
        self.env = {"PATH": f"{bin_dir}:{system}", "LOG": str(self.log), "FAKES": str(root),
                    "DEBIAN_MIRROR": "http://mirror.invalid/debian", "LC_ALL": "C"}

    def ensure(self, packages, fault):
        env = dict(self.env, **({fault: "1"} if fault else {}))
        return subprocess.run([str(DEBIAN_ROOT), "ensure", str(self.dir), "sid", "amd64", *packages.split()],
                              env=env, capture_output=True, text=True, timeout=60)


MADE, REUSED = "made in", "reused"


# Each row is a sequence of `ensure` calls: the packages, the fault of the
# call, and the end of its last line. A failed set-up leaves nothing behind.
@pytest.mark.parametrize("machine_has, calls, debootstraps", [
    ("both", [("make g++", None, MADE), ("g++ make", None, REUSED)], 1),
    ("both", [("make g++", None, MADE), ("make g++ python3.15", None, MADE)], 2),
    ("both", [("make python3.99", "APT_FAILS", "failed (network?): E: Unable to locate package python3.99"),
              ("make", None, MADE)], 2),
    ("both", [("make", "DEBOOTSTRAP_FAILS", "from http://mirror.invalid/debian failed (network?): "
               "E: Failed getting release file http://mirror.invalid/debian/dists/sid/Release")], 1),
    ("apt", [("make", None, MADE)], 1),
    ("none", [("make", None, "debootstrap is missing and there is no apt-get to install it")], 0),
], ids=["reused-whatever-the-order", "new-package-makes-it-anew", "failed-install-not-reused",
        "offline", "debootstrap-installed", "no-debootstrap"])
def test_debian_root_is_made_once_per_package_list(tmp_path, machine_has, calls, debootstraps):
    machine = FakeRootMachine(tmp_path, machine_has == "both", machine_has != "none")
    for packages, fault, outcome in calls:
        done = machine.ensure(packages, fault)
        last = (done.stdout + done.stderr).strip().splitlines()[-1]
        assert outcome in last, done.stdout + done.stderr
        assert done.returncode == (0 if outcome in (MADE, REUSED) else 1)
        assert machine.dir.exists() == (done.returncode == 0)
        assert not Path(f"{machine.dir}.new").exists() and not Path(f"{machine.dir}.new.lock").exists()
        if done.returncode:
            assert len(done.stderr.splitlines()) == 1
        if outcome == MADE:
            assert machine.log.read_text().splitlines()[-1] == "inside: " + packages
    log = machine.log.read_text().splitlines() if machine.log.exists() else []
    assert sum(line.startswith("debootstrap ") for line in log) == debootstraps


# A folder with a mount inside it must not be deleted: rm would go on into the
# mounted tree, a bind mount of the same file system included.
@pytest.mark.skipif(os.geteuid() != 0 or not shutil.which("unshare"), reason="needs root rights to mount")
def test_debian_root_is_never_deleted_through_a_mount(tmp_path):
    kept, root = tmp_path / "kept", tmp_path / "root"
    (kept / "data").mkdir(parents=True)
    (root / "inner").mkdir(parents=True)
    done = subprocess.run(
        ["unshare", "--mount", "--propagation", "private", "sh", "-c",
         'mount --bind "$1" "$2" && "$3" remove "$4"', "sh", kept, root / "inner", DEBIAN_ROOT, root],
        capture_output=True, text=True, timeout=60)
    assert done.returncode == 1
    assert done.stderr == f"debian_root: not deleting {root}: mounted inside it: {root / 'inner'}\n"
    assert (kept / "data").is_dir()


# For the Makefile's own recipes: an interpreter that notes each call's
# arguments in $LOG, answers the lookup's probe and the Makefile's own, runs
# the Makefile's helper scripts on the real interpreter, and makes a virtual
# environment holding a copy of itself as its python and pytest. With
# $BREAK_VENV set it leaves one half-made, whose python has no pip, as an
# interpreter without its venv support (ensurepip) does, and fails; a call
# that names $PYTHON_FAILS fails.
FAKE_PYTHON = r"""#!/bin/sh
printf '<%s>' "$@" >>"$LOG"; echo >>"$LOG"
case "$*" in *"$PYTHON_FAILS"*) [ -z "$PYTHON_FAILS" ] || exit 1 ;; esac
case "$1 $2" in
    tools/venvs.py*|tools/each_python.py*) exec "$REAL_PYTHON" "$@" ;;
    "-c "*'"py%d'*) echo pyVERSION ;;
    "-c "*) echo "VERSION $0" ;;
    "-m venv") mkdir -p "$3/bin" && : >"$3/pyvenv.cfg"
        if [ -n "$BREAK_VENV" ]; then printf '#!/bin/sh\nexit 1\n' >"$3/bin/python"; chmod +x "$3/bin/python"; exit 1; fi
        cp "$0" "$3/bin/python"; cp "$0" "$3/bin/pytest" ;;
    "-m pip") while [ $# -gt 0 ]; do [ "$1" != --target ] || mkdir -p "$2"; shift; done ;;
esac
"""
SUPPORTED_PYTHONS = re.search(r"^SUPPORTED_PYTHONS := (.*)$", (ROOT / "Makefile").read_text(), re.M)[1].split()


def copy_of_the_tree(machine):
    """The Makefile and tools/, in a folder where make may create anything."""
    tree = machine.root / "tree"
    shutil.copytree(ROOT / "tools", tree / "tools")
    shutil.copy(ROOT / "Makefile", tree)
    return tree


def make(machine, tree, *args, **env):
    """Runs make in `tree`; returns the run and the fake interpreters' calls."""
    log = machine.root / "calls"
    log.unlink(missing_ok=True)
    done = subprocess.run([shutil.which("make"), "--no-print-directory", *args], cwd=tree,
                          env={**machine.env, "LOG": str(log), **env}, capture_output=True, text=True, timeout=60)
    return done, log.read_text().splitlines() if log.exists() else []


@pytest.mark.parametrize("version", ["3.9", "3.16", None])
@pytest.mark.parametrize("goal", ["install", "test", "wheel"])
def test_make_refuses_an_unsupported_interpreter_in_one_line_and_creates_nothing(machine, goal, version):
    name = f"python{version or '3.11'}"
    if version:
        executable(machine.bin / name, FAKE_PYTHON.replace("VERSION", version))
    tree = copy_of_the_tree(machine)
    before = sorted(tree.rglob("*"))
    done, _ = make(machine, tree, goal, f"PYTHON={name}")
    low, high = (python.removeprefix("python") for python in (SUPPORTED_PYTHONS[0], SUPPORTED_PYTHONS[-1]))
    why = (f"Python {version} ({machine.bin / name}) is not supported; harborsweep supports Python {low} to {high}"
           if version else f"no such interpreter on PATH or in {machine.pyenv / 'versions'}")
    assert (done.returncode, done.stdout) == (2, "")
    assert re.fullmatch(rf"Makefile:\d+: \*\*\* PYTHON={name}: {re.escape(why)}\.  Stop\.\n", done.stderr)
    assert sorted(tree.rglob("*")) == before


# With the Debian root's interpreter, ARGS passes through a shell command line
# to the root's make.
@pytest.mark.parametrize("goal, args, pytest_call", [
    ("test", [], "<-m><pytest>"),
    ("test", ["ARGS=tests/test_layout.py -x"], "<-m><pytest><tests/test_layout.py><-x>"),
    ("test", ["ARGS=-k 'late and failure'"], "<-m><pytest><-k><late and failure>"),
    ("test-in-root", ["ARGS=-k 'late and failure'"], "<-m><pytest><-k><late and failure>"),
    ("test-in-root", ['ARGS=-k "late and failure"'], "<-m><pytest><-k><late and failure>"),
])
def test_make_test_hands_args_to_pytest_in_a_venv_made_afresh_unless_it_has_an_interpreter(
        machine, goal, args, pytest_call):
    name = "python3.14" if goal == "test-in-root" else SUPPORTED_PYTHONS[0]
    version = name.removeprefix("python")
    tree = copy_of_the_tree(machine)
    env = fake_debian_root(machine, tree, {} if goal == "test" else {name: version})
    if goal == "test":
        executable(machine.bin / name, FAKE_PYTHON.replace("VERSION", version))
    venv = f".venv/{'debian-sid-amd64-' if goal == 'test-in-root' else ''}py{version}"
    done, _ = make(machine, tree, goal, f"PYTHON={name}", *args, BREAK_VENV="1", **env)
    assert done.returncode == 2 and not (tree / venv).exists()
    # Nor is one left without an interpreter (an interrupted creation) taken
    # as made, nor what was installed into it.
    (tree / venv / "bin").mkdir(parents=True)
    for left in ("pyvenv.cfg", ".build-requirements"):
        (tree / venv / left).write_text("")
    done, calls = make(machine, tree, goal, f"PYTHON={name}", *args, **env)
    assert done.returncode == 0, done.stdout + done.stderr
    assert f"<-m><venv><{venv}>" in calls and not (tree / venv / ".build-requirements").exists()
    assert calls[-1] == pytest_call


# The aarch64 half of `make dist`: a build per supported interpreter found
# that AARCH64_HEADERS gives headers for, each with its own version's; the
# packaging tools' python notes each build and fails the one named by $FAIL.
FAKE_DIST_TOOLS_PYTHON = """#!/bin/sh
printf '<%s>' "$@" >>"$LOG"; echo >>"$LOG"
case "$*" in *"$FAIL"*) exit 1 ;; esac
"""
AARCH64_HEADERS = {"3.10": "interpreter", "3.11": "debian:bookworm", "3.12": "interpreter",
                   "3.13": "debian:trixie", "3.14": "debian:sid", "3.15": "debian:sid"}


@pytest.mark.parametrize("versions, table, fail, status, built, said", [
    (list(AARCH64_HEADERS), [], "no such", 0, list(AARCH64_HEADERS),
     "=== no arm64 headers in AARCH64_HEADERS, so no aarch64 wheel: none"),
    (list(AARCH64_HEADERS), ["AARCH64_HEADERS=python3.11=debian:bookworm"], "no such", 0, ["3.11"],
     "=== no arm64 headers in AARCH64_HEADERS, so no aarch64 wheel: python3.10 python3.12 python3.13 python3.14 "
     "python3.15"),
    # A failed build fails the run, as for the host's wheels, after the others.
    (["3.11", "3.12", "3.13"], [], "python3.12", 2, ["3.11", "3.12", "3.13"], "=== FAILED with python3.12"),
    (["3.14"], ["AARCH64_HEADERS=python3.11=debian:bookworm"], "no such", 2, [], "=== none of python3.11 found"),
    # An empty table is no version, not every one.
    (list(AARCH64_HEADERS), ["AARCH64_HEADERS="], "no such", 0, [],
     "=== no arm64 headers in AARCH64_HEADERS, so no aarch64 wheel: " + " ".join(SUPPORTED_PYTHONS)),
], ids=["all-with-headers", "some-without", "one-fails", "none-with-headers", "empty-table"])
def test_make_dist_aarch64_builds_each_wheel_against_its_versions_headers(machine, versions, table, fail, status,
                                                                          built, said):
    for version in versions:
        executable(machine.bin / f"python{version}", FAKE_PYTHON.replace("VERSION", version))
    tree = copy_of_the_tree(machine)
    executable(tree / ".venv" / "dist-tools" / "bin" / "python", FAKE_DIST_TOOLS_PYTHON)
    done, calls = make(machine, tree, "dist-aarch64", f"PYTHON={sys.executable}", *table, FAIL=fail,
                       DEBIAN_ROOT_PYTHONS="")
    assert done.returncode == status, done.stdout + done.stderr
    assert said in done.stdout.splitlines()
    assert [call for call in calls if "<tools/build_wheel.py>" in call] == [
        f"<tools/build_wheel.py><--target><aarch64-linux-gnu.2.17><--work><build/dist>"
        f"<--python><{machine.bin / f'python{version}'}><--headers><{AARCH64_HEADERS[version]}>"
        "<dist/harborsweep-*.tar.gz><dist>" for version in built]


# The emulated test run's arm64 interpreter comes from the Debian suite whose
# headers its version's wheel is built against, under bookworm's emulator
# whatever that suite; a version that no suite has is refused before any
# download or the wheel's build.
@pytest.mark.parametrize("goal, version, suite", [
    ("aarch64-python", "3.11", "bookworm"), ("aarch64-python", "3.15", "sid"), ("test-wheel-aarch64", "3.12", None),
])
def test_make_aarch64_python_unpacks_the_suite_that_has_the_version(machine, goal, version, suite):
    executable(machine.bin / "dpkg", "#!/bin/sh\necho amd64\n")
    tree = copy_of_the_tree(machine)
    for tool in ("debian_packages", "emulated_python"):
        executable(tree / "tools" / tool, FAKE_DIST_TOOLS_PYTHON)
    done, calls = make(machine, tree, goal, f"AARCH64_TEST_VERSION={version}", FAIL="no such")
    if suite is None:
        assert (done.returncode, calls) == (2, [])
        assert (f"AARCH64_TEST_VERSION={version}: AARCH64_HEADERS names no Debian suite with an arm64 Python "
                f"{version}.") in done.stderr
    else:
        assert done.returncode == 0, done.stdout + done.stderr
        assert calls[:2] == ["<--no-dependencies><amd64><bookworm><build/aarch64/qemu><qemu-user-static>",
                             f"<arm64><{suite}><build/aarch64/root-py{version}><python{version}><python{version}-venv>"]


# tools/debian_root for the release goals: notes each call; `run` runs the
# command in the same tree with the root's bin folder first on PATH, less the
# caller's make settings, as the real root does, or only notes it when the
# root has no bin folder.
FAKE_DEBIAN_ROOT = """#!/bin/sh
echo "$*" >>"$ROOT_LOG"
[ "$1" = run ] && [ -d "$ROOT_BIN" ] || exit 0
shift 2
exec {env} -u MAKEFLAGS -u MFLAGS -u MAKELEVEL PATH="$ROOT_BIN:$PATH" "$@"
"""
ROOT_TOOLS_VENV = ".venv/debian-sid-amd64-dist-tools"


def fake_debian_root(machine, tree, inside):
    """The fake tools/debian_root in `tree`, whose root's bin folder holds
    make and a fake of each interpreter `inside` (name: version), or is
    missing for inside=None; returns the environment that make needs."""
    root_bin = machine.root / "root-bin"
    if inside is not None:
        for name, version in inside.items():
            executable(root_bin / name, FAKE_PYTHON.replace("VERSION", version))
        root_bin.mkdir(exist_ok=True)
        (root_bin / "make").symlink_to(shutil.which("make"))
    executable(tree / "tools" / "debian_root", FAKE_DEBIAN_ROOT.format(env=shutil.which("env")))
    return {"ROOT_BIN": str(root_bin), "ROOT_LOG": str(machine.root / "root-calls")}


def root_call(call):
    """`ensure`, or `run` and the goal that make is given inside the root."""
    if not call.startswith("run "):
        return call.split()[0]
    return "run " + call.partition(" --no-print-directory ")[2].partition(" PYTHON=")[0]


# Each wheel is built where its interpreter is: by the machine's when it has
# one, else inside the Debian root, with the root's interpreter and packaging
# tools, and there never by way of a root within the root. `host` and
# `inside` name the interpreters (name: version) of each; inside=None is a
# root that only notes what it is asked. `built`: which interpreter each
# build_wheel call was given. Zig is installed once, on the machine, for
# every build (the root's interpreters may lack pip), and again, whole, when
# its pin has changed since (`zig`: installed before that change or after).
@pytest.mark.parametrize("goal, host, inside, runs, built, said, zig", [
    ("release-wheel", {"python3.14": "3.14"}, {}, [], [("host", "python3.14")], None, None),
    ("release-wheel", {"python3": "3.11"}, {"python3.14": "3.14"}, ["ensure", "run release-wheel"],
     [("root", "python3.14")], None, None),
    ("wheel", {"python3": "3.11"}, {}, ["ensure", "run wheel"], [],
     "PYTHON=python3.14: no such interpreter on PATH or in {pyenv}.", None),
    ("test-wheel", {"python3": "3.11"}, None, ["ensure", "run wheel", "ensure", "run -o wheel test-wheel"], [], None,
     None),
    ("dist", {"python3": "3.11", "python3.11": "3.11"}, {"python3.14": "3.14"},
     ["ensure", "run release-wheel", "ensure", "run release-wheel"],
     [("host", "python3.11"), ("root", "python3.14")], "=== FAILED with python3.15", None),
    # Never against the machine's own headers: an arm64 module of 3.14 needs 3.14's arm64 ones.
    ("release-wheel ZIG_TARGET=aarch64-linux-gnu.2.17 AARCH64_HEADERS=python3.11=debian:bookworm",
     {"python3.14": "3.14"}, {}, [], [],
     "PYTHON=python3.14: AARCH64_HEADERS names no arm64 headers for Python 3.14, so it gets no aarch64 wheel.", None),
    ("release-wheel", {"python3.14": "3.14"}, {}, [], [("host", "python3.14")], None, "before-the-pin"),
    ("release-wheel", {"python3.14": "3.14"}, {}, [], [("host", "python3.14")], None, "after-the-pin"),
], ids=["host-has-it", "root-has-it", "root-lacks-it-too", "test-wheel-builds-once", "dist-both-and-a-failure",
        "aarch64-without-headers", "zig-pin-changed", "zig-pin-unchanged"])
def test_release_goals_build_each_wheel_where_its_interpreter_is(machine, goal, host, inside, runs, built, said,
                                                                 zig):
    for name, version in host.items():
        executable(machine.bin / name, FAKE_PYTHON.replace("VERSION", version))
    tree = copy_of_the_tree(machine)
    if zig:
        for name in (".installed", "earlier"):
            executable(tree / "build" / "zig" / name, "")
        now = time.time()
        os.utime(tree / "tools" / "zig-requirements.txt", (now - 60, now - 60))
        os.utime(tree / "build" / "zig" / ".installed", (now - 120,) * 2 if zig == "before-the-pin" else (now, now))
    env = fake_debian_root(machine, tree, inside)
    root_bin, root_log = Path(env["ROOT_BIN"]), Path(env["ROOT_LOG"])
    done, calls = make(machine, tree, *goal.split(), *([] if goal == "dist" else ["PYTHON=python3.14"]), **env)
    output = done.stdout + done.stderr
    assert done.returncode == (0 if said is None else 2), output
    assert said is None or said.format(pyenv=machine.pyenv / "versions") in output
    root_calls = root_log.read_text().splitlines() if root_log.exists() else []
    assert [root_call(call) for call in root_calls] == runs, root_calls
    for call in root_calls:
        if call.startswith("run "):
            version = call.partition(" PYTHON=python")[2].split()[0]
            assert call.partition(" PYTHON=")[2] == (
                f"python{version} VENV=.venv/debian-sid-amd64-py{version} BUILD_DIR=build/debian-sid-amd64-{{wheel_tag}} "
                f"ARGS= DIST_TOOLS={ROOT_TOOLS_VENV} WHEEL_TEST_VENV=.venv/debian-sid-amd64-wheel-test-py{version} "
                "ZIG_TARGET=x86_64-linux-gnu.2.17 DEBIAN_ROOT_PYTHONS=")
    pythons = [call.split("<--python><")[1].split(">")[0] for call in calls if "<tools/build_wheel.py>" in call]
    assert pythons == [str((machine.bin if where == "host" else root_bin) / name) for where, name in built]
    # The root's packaging tools are its own: the host's cannot run there.
    assert (tree / ROOT_TOOLS_VENV).exists() == any(where == "root" for where, _ in built)
    assert (tree / ".venv" / "dist-tools").exists() == (goal == "dist" or ("host", "python3.14") in built)
    installs = [call for call in calls if "<--target><build/zig.new>" in call]
    assert installs in ([], ["<-m><pip><install><-q><--disable-pip-version-check><--require-hashes><--no-deps>"
                             "<--only-binary><:all:><--target><build/zig.new><-r><tools/zig-requirements.txt>"])
    if zig:
        again = zig == "before-the-pin"
        assert (bool(installs), (tree / "build" / "zig" / "earlier").exists()) == (again, not again)
    else:
        assert (tree / "build" / "zig" / ".installed").exists() == bool(installs) >= bool(built)


# `make test-wheel` installs the wheel whose hash the build recorded into a new
# environment (tools/venvs.py), and stops before the suite when no build
# recorded one, dist/ holds another file in its place, the folder of the
# environment holds what is no environment (`left`: an earlier run's
# environment, or files), or the installed files are not the wheel's. The
# interpreter is of another version than the one running venvs.py, whose
# tag is not the wheel's.
@pytest.mark.parametrize("recorded, left, failing, said", [
    (b"this build", "venv", "", None),
    (None, "venv", "", "no {tag} x86_64 wheel was built"),
    # Rebuilt since, to the same size.
    (b"that build", "venv", "", "is not the wheel just built"),
    (b"this build", "files", "", "holds files but no virtual environment"),
    (b"this build", "venv", "check_installed.py", ""),
], ids=["recorded", "never-built", "another-file", "not-an-environment", "not-the-wheels-files"])
def test_make_test_wheel_runs_the_suite_only_on_the_recorded_wheel(machine, recorded, left, failing, said):
    version = "3.12" if sys.version_info[:2] == (3, 11) else "3.11"
    tag = "cp" + version.replace(".", "")
    executable(machine.bin / f"python{version}", FAKE_PYTHON.replace("VERSION", version))
    tree = copy_of_the_tree(machine)
    wheel, venv = tree / "dist" / wheel_name(tag[2:]), f".venv/wheel-test-py{version}"
    wheel.parent.mkdir()
    wheel.write_bytes(b"this build")
    record = tree / "build" / "dist" / f"{tag}-x86_64" / "wheel.sha256"
    if recorded is not None:
        record.parent.mkdir(parents=True)
        record.write_text(f"{hashlib.sha256(recorded).hexdigest()}  {wheel}\n")
    for program in ("python", "pytest") if left == "venv" else ("notes",):  # an earlier run's
        executable(tree / venv / "bin" / program, FAKE_PYTHON.replace("VERSION", version))
    (tree / venv / ("pyvenv.cfg" if left == "venv" else "keep")).write_text("")
    done, calls = make(machine, tree, "-o", "wheel", "test-wheel", f"PYTHON=python{version}",
                       PYTHON_FAILS=failing)
    pip = "<-m><pip><install><-q><--disable-pip-version-check><--only-binary><:all:>"
    installed = [f"<-m><venv><{venv}>", f"{pip}<{wheel}[test]>", f"<{tree}/tools/check_installed.py><{wheel}>"]
    if said is None:
        assert done.returncode == 0, done.stdout + done.stderr
        assert calls[-4:] == installed + ["<>"]
    elif failing:
        assert done.returncode == 2 and calls[-3:] == installed, done.stdout + done.stderr
    else:
        assert done.returncode == 2 and said.format(tag=tag) in done.stderr, done.stdout + done.stderr
        assert not [call for call in calls if call.startswith(("<-m><venv>", "<-m><pip>")) or call == "<>"]
        assert (tree / venv / "keep").exists() == (left == "files")


# tools/check_dist.py, the last word on a release, over fake release folders:
# a good source distribution and two good wheels, then one fault per case.
# The extension modules are real ELF files, made by the machine's C compiler.
CHECK_DIST = ROOT / "tools" / "check_dist.py"
GOOD_EXTENSION = """#include <string.h>
static const char *volatile text = "x";
int PyInit_harborsweep(void) { return (int)strlen(text); }
"""
EXPORTS_MAP = "{ global: PyInit_harborsweep; local: *; };\n"
EM_AARCH64 = (183).to_bytes(2, "little")
# What to change of a good build to get each faulty extension, and one at the
# edge: the source appended, and compiler arguments taken off or put on.
FAULTY_EXTENSIONS = {
    "newer-glibc": ("#include <sys/random.h>\nint draw(char *b) { return (int)getrandom(b, 1, 0); }\n", [], []),
    # clock_gettime moved into libc in glibc 2.17.
    "glibc-2.17": ("#include <time.h>\nint tick(struct timespec *t) { return clock_gettime(CLOCK_MONOTONIC, t); }\n",
                   [], []),
    "cxx-runtime": ("", [], ["-Wl,--no-as-needed", "{libcxx}"]),
    "gnu-cxx-runtime": ("", [], ["-Wl,--no-as-needed", "{libstdcxx}"]),
    "other-export": ("int helper(void) { return 1; }\n", ["-Wl,--version-script={map}"], []),
    "both-entry-points": ("int PyInit__lint(void) { return 1; }\n", ["-Wl,--version-script={map}"], []),
    "weak-export": ("__attribute__((weak)) int helper(void) { return 1; }\n", ["-Wl,--version-script={map}"], []),
    "not-stripped": ("", ["-s"], []),
}


def compiled(folder, name, source, dropped=(), added=(), module="harborsweep"):
    (folder / f"{name}.c").write_text(source.replace("PyInit_harborsweep", f"PyInit_{module}"))
    arguments = ["-shared", "-fPIC", "-O1", "-s", "-Wl,--version-script={map}", f"{name}.c",
                 "-o", f"{name}.so"]
    arguments = [a for a in arguments if a not in dropped] + list(added)
    formats = {"map": folder / f"{module}.map", "libcxx": folder / "libc++.so.1",
               "libstdcxx": folder / "libstdc++.so.6"}
    subprocess.run([shutil.which("cc")] + [a.format(**formats) for a in arguments], cwd=folder,
                   check=True, capture_output=True)
    return (folder / f"{name}.so").read_bytes()


@pytest.fixture(scope="module")
def extensions(tmp_path_factory):
    """The modules' stand-ins, good and with each fault, as bytes by name."""
    if not shutil.which("cc"):
        pytest.skip("no C compiler (cc) to make ELF files with")
    folder = tmp_path_factory.mktemp("elf")
    for module in ("harborsweep", "_lint"):
        (folder / f"{module}.map").write_text(EXPORTS_MAP.replace("harborsweep", module))
    # C++ runtimes of the names that zig's clang and g++ would link.
    for runtime in ("libc++.so.1", "libstdc++.so.6"):
        stem = runtime.partition(".")[0]
        compiled(folder, stem, "int cxx(void) { return 0; }\n", ["-Wl,--version-script={map}"],
                 [f"-Wl,-soname,{runtime}"])
        (folder / f"{stem}.so").rename(folder / runtime)
    made = {"good": compiled(folder, "good", GOOD_EXTENSION)}
    for name, (source, dropped, added) in FAULTY_EXTENSIONS.items():
        made[name] = compiled(folder, name.replace("-", "_"), GOOD_EXTENSION + source, dropped, added)
    made["other-machine"] = made["good"][:18] + EM_AARCH64 + made["good"][20:]
    made["aarch64"] = made["other-machine"]
    # The linter's module: good, built without its version script, and with
    # the tool's module's, which hides its entry point.
    made["lint"] = compiled(folder, "lint", GOOD_EXTENSION, module="_lint")
    made["lint-aarch64"] = made["lint"][:18] + EM_AARCH64 + made["lint"][20:]
    source, dropped, _ = FAULTY_EXTENSIONS["other-export"]
    made["lint-other-export"] = compiled(folder, "lint_other_export", GOOD_EXTENSION + source, dropped, module="_lint")
    made["lint-tool-map"] = compiled(folder, "lint_tool_map", GOOD_EXTENSION.replace("_harborsweep", "__lint"))
    return made


# The licence files every release file carries: ours and those of LICENSES/.
LICENCE_FILES = ["LICENSE"] + sorted(f"LICENSES/{path.name}" for path in (ROOT / "LICENSES").iterdir())
SCRIPTS = "[console_scripts]\nharborsweep = harborsweep.__main__:run\nharborsweep-lint = harborsweep.lint:run\n"
GOOD_METADATA = "Metadata-Version: 2.4\nName: harborsweep\nVersion: {version}\nLicense-Expression: MIT\n" + "".join(
    f"License-File: {name}\n" for name in LICENCE_FILES)


def fake_sdist(path, extra=(), without=()):
    root = path.name.removesuffix(".tar.gz")
    files = {"PKG-INFO": "", "pyproject.toml": "", "CMakeLists.txt": "", "README.md": "",
             "src/native/module/module.cpp": "", **{name: "" for name in LICENCE_FILES + list(extra)}}
    with tarfile.open(path, "w:gz") as sdist:
        for name, text in files.items():
            if name not in without:
                member = tarfile.TarInfo(f"{root}/{name}")
                member.size = len(text)
                sdist.addfile(member, io.BytesIO(text.encode()))


def fake_wheel(path, extension, python, extra=(), without=(), arch=None, metadata_without=(), description="",
               lint=b"", scripts=SCRIPTS):
    """A wheel named `path` holding `extension` and `lint` as cpython-`python`'s
    modules for `arch`, by default the architecture that the name ends with,
    and metadata (METADATA, entry_points.txt: `scripts`) without the lines that
    begin with `metadata_without`, whose long description ends with `description`."""
    version = path.name.split("-")[1]
    info, arch = f"harborsweep-{version}.dist-info/", arch or path.stem.rpartition("_2_17_")[2]
    files = {f"harborsweep/{name}": b"" for name in ("__init__.py", "__main__.py", "lint.py", "harborsweep.pyi",
                                                     "_lint.pyi", "py.typed")}
    files[f"harborsweep/harborsweep.cpython-{python}-{arch}-linux-gnu.so"] = extension
    files[f"harborsweep/_lint.cpython-{python}-{arch}-linux-gnu.so"] = lint
    # What pip needs to install it, and what check_dist reads.
    files[info + "RECORD"], files[info + "WHEEL"] = b"", b"Wheel-Version: 1.0\n"
    for name, text in (("entry_points.txt", scripts), ("METADATA", GOOD_METADATA.format(version=version))):
        files[info + name] = "".join(line for line in text.splitlines(keepends=True)
                                     if not line.startswith(tuple(metadata_without))).encode()
    files[info + "METADATA"] += f"\n# harborsweep\n\n[A link](https://example.org/a). {description}\n".encode()
    files.update({f"{info}licenses/{name}": b"licence" for name in LICENCE_FILES})
    files.update({name: b"" for name in extra})
    with zipfile.ZipFile(path, "w") as wheel:
        for name, data in files.items():
            if not name.endswith(tuple(without)):
                wheel.writestr(name, data)


def wheel_name(python, version="0.1.0", platform="manylinux2014_x86_64.manylinux_2_17_x86_64"):
    return f"harborsweep-{version}-cp{python}-cp{python}-{platform}.whl"


SDIST = "harborsweep-0.1.0.tar.gz"
WHEEL_311, WHEEL_312 = wheel_name("311"), wheel_name("312")
ARM = "manylinux2014_aarch64.manylinux_2_17_aarch64"
ARM_312 = wheel_name("312", platform=ARM)
# What g++'s libstdc++ symbols made of the name before.
OLD_TAG_312 = wheel_name("312", platform="manylinux_2_34_x86_64")
FREE_THREADED_313 = wheel_name("313").replace("cp313-manylinux", "cp313t-manylinux")
OTHER_ABI_312 = WHEEL_312.replace("cp312-cp312", "cp312-cp311")


# Each case: what to lay into the good folder (file name, what it is), the
# file, or "" for the folder, whose line must tell the fault, and how.
@pytest.mark.parametrize("bad, line, fault", [
    ({}, None, None),
    ({SDIST: ("sdist", {"extra": ["tests/test_tools.py"]})}, SDIST, "tests/test_tools.py: not part of a build"),
    ({SDIST: ("sdist", {"extra": ["src/native/filter/filter.o"]})}, SDIST, "filter.o: not part of a build"),
    ({SDIST: ("sdist", {"without": ["CMakeLists.txt"]})}, SDIST, "CMakeLists.txt: missing"),
    ({SDIST: ("sdist", {"without": ["LICENSE"]})}, SDIST, "LICENSE: missing"),
    ({SDIST: ("sdist", {"without": ["LICENSES/nanobind.txt"]})}, SDIST, "LICENSES/nanobind.txt: missing"),
    ({WHEEL_312: ("good", {"without": ["LICENSES/libcxx.txt"]})}, WHEEL_312,
     "dist-info/licenses/LICENSES/libcxx.txt: missing"),
    ({WHEEL_312: ("good", {"metadata_without": ["License-Expression"]})}, WHEEL_312, "METADATA: no License-Expression"),
    ({WHEEL_312: ("good", {"metadata_without": ["License-File: LICENSES/zig.txt"]})}, WHEEL_312,
     "METADATA: no License-File: LICENSES/zig.txt"),
    ({WHEEL_312: ("good", {"description": "[the guide](DEVELOPMENT.md), [usage](#usage)"})}, WHEEL_312,
     "the description links to #usage, DEVELOPMENT.md; relative links break"),
    ({WHEEL_312: ("good", {"description": "[the guide][guide]\n\n[guide]: DEVELOPMENT.md"})}, WHEEL_312,
     "the description links to DEVELOPMENT.md; relative links break"),
    ({WHEEL_312: ("good", {"without": [".so"]})}, WHEEL_312, "x86_64-linux-gnu.so: missing"),
    ({WHEEL_312: ("good", {"without": ["_lint.cpython-312-x86_64-linux-gnu.so"]})}, WHEEL_312,
     "harborsweep/_lint.cpython-312-x86_64-linux-gnu.so: missing"),
    ({WHEEL_312: ("good", {"metadata_without": ["harborsweep-lint"]})}, WHEEL_312,
     "entry_points.txt: no console script harborsweep-lint = harborsweep.lint:run"),
    # A script that names a function the package does not define.
    ({WHEEL_312: ("good", {"scripts": SCRIPTS.replace("lint:run", "lint:main")})}, WHEEL_312,
     "entry_points.txt: no console script harborsweep-lint = harborsweep.lint:run"),
    ({WHEEL_312: ("good", {"extra": ["tests/conftest.py"]})}, WHEEL_312, "tests/conftest.py: unexpected"),
    ({WHEEL_312: ("good", {"python": "311"})}, WHEEL_312, "cpython-311-x86_64-linux-gnu.so: unexpected"),
    ({OLD_TAG_312: ("good", {})}, OLD_TAG_312, "not named"),
    # Another interpreter's ABI, such as the free-threaded build's.
    ({FREE_THREADED_313: ("good", {"python": "313t"})}, FREE_THREADED_313, "not named"),
    ({OTHER_ABI_312: ("good", {})}, OTHER_ABI_312, "not named"),
    ({WHEEL_312: ("newer-glibc", {})}, WHEEL_312, "needs GLIBC_2.25, newer than 2.17"),
    ({WHEEL_312: ("glibc-2.17", {})}, None, None),
    ({WHEEL_312: ("cxx-runtime", {})}, WHEEL_312, "needs the C++ runtime libc++.so.1"),
    ({WHEEL_312: ("gnu-cxx-runtime", {})}, WHEEL_312, "needs the C++ runtime libstdc++.so.6"),
    ({WHEEL_312: ("other-export", {})}, WHEEL_312, "exports more than PyInit_harborsweep: helper"),
    ({WHEEL_312: ("weak-export", {})}, WHEEL_312, "exports more than PyInit_harborsweep: helper"),
    ({WHEEL_312: ("both-entry-points", {})}, WHEEL_312, "exports more than PyInit_harborsweep: PyInit__lint"),
    ({WHEEL_312: ("good", {"lint": "lint-other-export"})}, WHEEL_312, "_lint.cpython-312-x86_64-linux-gnu.so: "
     "exports more than PyInit__lint: helper"),
    # Linked with the other module's version script.
    ({WHEEL_312: ("good", {"lint": "lint-tool-map"})}, WHEEL_312, "_lint.cpython-312-x86_64-linux-gnu.so: "
     "does not export PyInit__lint"),
    ({WHEEL_312: ("not-stripped", {})}, WHEEL_312, "not stripped, has .symtab"),
    ({WHEEL_312: ("other-machine", {})}, WHEEL_312, "built for EM_AARCH64, not EM_X86_64"),
    ({ARM_312: ("aarch64", {})}, None, None),
    # A cross build that fell back to the host's compiler, or to the host's
    # extension suffix.
    ({ARM_312: ("good", {})}, ARM_312, "built for EM_X86_64, not EM_AARCH64"),
    ({ARM_312: ("aarch64", {"arch": "x86_64"})}, ARM_312, "cpython-312-x86_64-linux-gnu.so: unexpected"),
    ({"harborsweep-0.0.9.tar.gz": ("sdist", {})}, "", "2 source distributions and 2 wheels"),
    ({SDIST: None}, "", "0 source distributions and 2 wheels"),
    ({wheel_name("313", version="0.0.9"): ("good", {})}, "", "versions 0.0.9, 0.1.0; expected one"),
    ({SDIST: None, "harborsweep-0.0.9.tar.gz": ("sdist", {})}, "", "versions 0.0.9, 0.1.0; expected one"),
    ({"SHA256SUMS": ("text", {})}, "", "SHA256SUMS: neither a source distribution nor a wheel"),
], ids=["good", "sdist-foreign-file", "sdist-built-file", "sdist-missing-file", "sdist-without-licence",
        "sdist-without-a-licence-text", "wheel-without-a-licence-text", "wheel-without-licence-expression",
        "wheel-without-a-license-file-line", "relative-link", "relative-reference-link", "wheel-without-extension",
        "wheel-without-lint-extension", "wheel-without-lint-script", "wheel-lint-script-other-function",
        "wheel-foreign-file", "wheel-other-interpreter", "wheel-old-tag", "wheel-other-abi", "wheel-other-cpython-abi",
        "newer-glibc",
        "glibc-2.17", "cxx-runtime", "gnu-cxx-runtime", "other-export", "weak-export", "both-entry-points",
        "lint-other-export", "lint-without-its-entry-point", "not-stripped",
        "other-machine", "aarch64", "aarch64-host-compiler", "aarch64-host-suffix", "two-sdists", "no-sdist",
        "two-versions", "sdist-other-version", "foreign-file"])
def test_check_dist_fails_a_release_for_each_fault_alone(tmp_path, extensions, bad, line, fault):
    good = {SDIST: ("sdist", {}), WHEEL_311: ("good", {}), WHEEL_312: ("good", {})}
    for name, made in {**good, **bad}.items():
        if made is None:
            continue
        path, kind, options = tmp_path / name, made[0], dict(made[1])
        if kind == "sdist":
            fake_sdist(path, **options)
        elif kind == "text":
            path.write_text("")
        else:
            python = options.pop("python", name.split("-")[2].removeprefix("cp"))
            lint = extensions[options.pop("lint", "lint-aarch64" if kind == "aarch64" else "lint")]
            fake_wheel(path, extensions[kind], python, lint=lint, **options)
    done = subprocess.run([sys.executable, str(CHECK_DIST), str(tmp_path)], capture_output=True,
                          text=True, timeout=60)
    assert done.returncode == (0 if fault is None else 1), done.stdout + done.stderr
    rows = [row.partition(": ")[::2] for row in done.stdout.splitlines()]
    folder = [text for name, text in rows if name == str(tmp_path)]
    files = {name: text for name, text in rows if name != str(tmp_path)}
    if fault is not None:
        assert any(fault in text for text in (folder if line == "" else [files.pop(line)])), done.stdout
    assert set(files.values()) == {"ok"} and (folder == [] or line == ""), done.stdout


# tools/check_licences.py, which the release build runs for zig before it
# builds and for nanobind while CMake configures: LICENSES/ against packages
# installed into a fake site folder, made from LICENSES/ itself, with one
# text changed (None: taken out) per case; "installed" compares it with the
# nanobind that builds the package here. `by` build_wheel: as the release
# build checks its zig, the site holding that zig.
CHECK_LICENCES = ROOT / "tools" / "check_licences.py"
NANOBIND_LICENCE = "nanobind-3.1.0.dist-info/licenses/LICENSE"
ROBIN_MAP_HEADER = "nanobind/ext/robin_map/include/tsl/robin_map.h"


def header_opened_by(text):
    return "/**\n" + "".join(f" * {line}".rstrip() + "\n" for line in text.splitlines()) + " */\n#pragma once\n"


@pytest.mark.parametrize("site, tree, told, by", [
    ({}, {}, None, "cli"),
    ({NANOBIND_LICENCE: "Copyright (c) 2027 Wenzel Jakob\n"}, {}, "LICENSES/nanobind.txt: differs from", "cli"),
    ({ROBIN_MAP_HEADER: header_opened_by("MIT License\n\nCopyright (c) 2027 Thibaut\n")}, {},
     "LICENSES/robin_map.txt: differs from", "cli"),
    ({"ziglang/lib/libunwind/LICENSE.TXT": "LLVM 23\n"}, {}, "LICENSES/libunwind.txt: differs from", "cli"),
    ({"ziglang/lib/libcxx/LICENSE.TXT": None}, {}, "LICENSES/libcxx.txt: 0 files ziglang/lib/libcxx/LICENSE.TXT",
     "cli"),
    ({}, {"zlib.txt": "zlib\n"}, "LICENSES/zlib.txt: copied from no distribution", "cli"),
    ({}, {"zig.txt": None}, "LICENSES/zig.txt: missing", "cli"),
    ("installed", {}, None, "cli"),
    ({"ziglang/lib/libunwind/LICENSE.TXT": "LLVM 23\n"}, {}, "LICENSES/libunwind.txt: differs from", "build_wheel"),
], ids=["same", "nanobind", "robin-map", "libunwind", "zig-without-it", "unknown-text", "text-missing", "installed",
        "build-wheel-zig"])
def test_check_licences_fails_when_a_text_is_not_its_packages(tmp_path, monkeypatch, site, tree, told, by):
    texts = {path.name: path.read_text() for path in (ROOT / "LICENSES").iterdir()}
    shutil.copytree(ROOT / "LICENSES", tmp_path / "LICENSES")
    for name, text in tree.items():
        if text is None:
            (tmp_path / "LICENSES" / name).unlink()
        else:
            (tmp_path / "LICENSES" / name).write_text(text)
    if site == "installed":
        nanobind = pytest.importorskip("nanobind")
        sites = [f"nanobind={Path(nanobind.__file__).parent.parent}"]
    else:
        files = {NANOBIND_LICENCE: texts["nanobind.txt"], ROBIN_MAP_HEADER: header_opened_by(texts["robin_map.txt"]),
                 **{f"ziglang/lib/{part}/LICENSE.TXT": texts[f"{part}.txt"] for part in ("libcxx", "libcxxabi",
                                                                                         "libunwind")},
                 "ziglang/LICENSE": texts["zig.txt"]}
        for name, text in {**files, **site}.items():
            if text is not None:
                (tmp_path / "site" / name).parent.mkdir(parents=True, exist_ok=True)
                (tmp_path / "site" / name).write_text(text)
        sites = [f"nanobind={tmp_path / 'site'}", f"ziglang={tmp_path / 'site'}"]
    if by == "build_wheel":
        import build_wheel
        executable(tmp_path / "site" / "ziglang" / "zig", "")
        monkeypatch.setattr(build_wheel, "ZIG_HOME", tmp_path / "site")
        lines = build_wheel.zig_licence_problems(tmp_path)
    else:
        done = subprocess.run([sys.executable, str(CHECK_LICENCES), str(tmp_path), *sites], capture_output=True,
                              text=True, timeout=30)
        assert done.returncode == (0 if told is None else 1), done.stdout + done.stderr
        lines = done.stdout.splitlines()
    assert [told in line for line in lines] == ([] if told is None else [True]), lines


# tools/check_installed.py, which `make test-wheel` runs before the suite: the
# package installed must be the wheel just built, byte for byte.
CHECK_INSTALLED = ROOT / "tools" / "check_installed.py"
EXTENSION_311 = "harborsweep/harborsweep.cpython-311-x86_64-linux-gnu.so"


# `how` the wheel is installed: unzipped into a folder named by --site, or by
# pip (which rewrites RECORD and adds INSTALLER and byte code) into one that
# the check finds by importing, as `make test-wheel` has it do.
@pytest.mark.parametrize("how, installed, told", [
    ("unzipped", {}, None),
    # An environment left from an earlier build, which pip did not replace.
    ("unzipped", {EXTENSION_311: b"\x7fELF earlier build"}, f"{EXTENSION_311}: differs from {EXTENSION_311}"),
    ("unzipped", {"harborsweep/__main__.py": None}, "harborsweep/__main__.py: missing"),
    ("pip", {}, None),
    # Of the same size.
    ("pip", {EXTENSION_311: b"\x7fELF that build"}, f"{EXTENSION_311}: differs from {EXTENSION_311}"),
], ids=["same", "earlier-build", "missing-file", "pip", "pip-same-size"])
def test_check_installed_fails_unless_the_package_is_the_wheel(tmp_path, how, installed, told):
    wheel = tmp_path / WHEEL_311
    fake_wheel(wheel, b"\x7fELF this build", "311")
    site = tmp_path / "site-packages"
    if how == "pip":
        # A name that any interpreter installs.
        anywhere = shutil.copy(wheel, tmp_path / "harborsweep-0.1.0-py3-none-any.whl")
        subprocess.run([sys.executable, "-m", "pip", "install", "-q", "--disable-pip-version-check", "--no-index",
                        "--no-deps", "--target", str(site), str(anywhere)], check=True, timeout=120)
    else:
        with zipfile.ZipFile(wheel) as archive:
            archive.extractall(site)
    for name, data in installed.items():
        if data is None:
            (site / name).unlink()
        else:
            (site / name).write_bytes(data)
    where, env = ["--site", str(site)], dict(os.environ)
    if how == "pip":
        where, env["PYTHONPATH"] = [], str(site)
    done = subprocess.run([sys.executable, str(CHECK_INSTALLED), *where, str(wheel)], capture_output=True,
                          text=True, timeout=30, env=env)
    assert done.returncode == (0 if told is None else 1), done.stdout + done.stderr
    assert told is None or f"{site}/{told}" in done.stdout, done.stdout


# tools/build_wheel.py puts each wheel it builds into dist/ in place of an
# older build of it: of the same project, interpreter and architecture.
def test_build_wheel_replaces_only_the_older_build_of_the_same_wheel(tmp_path):
    import build_wheel  # tools/ is on sys.path (conftest.py)
    dist, built = tmp_path / "dist", tmp_path / "repaired" / WHEEL_311
    kept = [SDIST, WHEEL_312, FREE_THREADED_313, wheel_name("311", platform=ARM),
            "other-1.0-cp311-cp311-manylinux2014_x86_64.whl"]
    dist.mkdir()
    for name in kept + [WHEEL_311, wheel_name("311", version="0.0.9")]:
        (dist / name).write_text("older")
    built.parent.mkdir()
    built.write_text("new")
    assert build_wheel.replace_older(built, dist, "cp311", "x86_64") == dist / WHEEL_311
    assert sorted(path.name for path in dist.iterdir()) == sorted(kept + [WHEEL_311])
    assert (dist / WHEEL_311).read_text() == "new"
