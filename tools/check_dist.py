"""Checks what ``make dist`` wrote, beyond what ``twine check`` reads.

- The source distribution holds pyproject.toml, CMakeLists.txt, README.md,
  src/ and its PKG-INFO, and nothing else: no built files or caches.
- Each wheel carries a manylinux tag and holds the package (``__init__.py``,
  ``__main__.py``, the type stub, ``py.typed``), one extension module and
  the metadata, and nothing else: no tests, no sources, no libraries that
  auditwheel had to bring along.
- Each extension module is stripped: no symbol table, no debug sections.

Runs with the packaging tools' environment (.venv/dist-tools), whose
auditwheel brings pyelftools.

Usage: python tools/check_dist.py DIST_DIR
"""

from __future__ import annotations

import io
import re
import sys
import tarfile
import zipfile
from pathlib import Path

from elftools.elf.elffile import ELFFile

SDIST_TOP = {"PKG-INFO", "pyproject.toml", "CMakeLists.txt", "README.md", "src"}
SDIST_NEEDS = {"PKG-INFO", "pyproject.toml", "CMakeLists.txt", "README.md"}
BUILT_OR_CACHED = re.compile(r"(^|/)__pycache__/|\.(so|o|a|pyc|pyo)$")
PACKAGE = {f"harborsweep/{name}" for name in ("__init__.py", "__main__.py", "harborsweep.pyi", "py.typed")}
METADATA = {"METADATA", "WHEEL", "RECORD", "entry_points.txt"}
EXTENSION = re.compile(r"harborsweep/harborsweep\.cpython-[^/]+\.so")


def sdist_problems(path: Path) -> list[str]:
    root = path.name.removesuffix(".tar.gz")
    with tarfile.open(path) as sdist:
        names = [member.name for member in sdist.getmembers() if member.isfile()]
    problems = [f"{name}: outside {root}/" for name in names if not name.startswith(root + "/")]
    inner = [name.removeprefix(root + "/") for name in names]
    problems += [f"{name}: not part of a build" for name in inner
                 if name.split("/")[0] not in SDIST_TOP or BUILT_OR_CACHED.search(name)]
    problems += [f"{name}: missing" for name in sorted(SDIST_NEEDS - set(inner))]
    if not any(name.startswith("src/native/") for name in inner):
        problems.append("src/native/: missing")
    return problems


def unstripped_sections(data: bytes) -> list[str]:
    sections = [section.name for section in ELFFile(io.BytesIO(data)).iter_sections()]
    return [name for name in sections if name == ".symtab" or name.startswith(".debug")]


def wheel_problems(path: Path) -> list[str]:
    problems = [] if "-manylinux_" in path.name else ["no manylinux tag"]
    info = "-".join(path.name.split("-")[:2]) + ".dist-info/"
    with zipfile.ZipFile(path) as wheel:
        names = {name for name in wheel.namelist() if not name.endswith("/")}
        extensions = {name for name in names if EXTENSION.fullmatch(name)}
        expected = PACKAGE | extensions | {info + name for name in METADATA}
        problems += [f"{name}: unexpected" for name in sorted(names - expected)]
        problems += [f"{name}: missing" for name in sorted(expected - names)]
        if len(extensions) != 1:
            problems.append(f"{len(extensions)} extension modules, not 1")
        for name in sorted(extensions):
            left = unstripped_sections(wheel.read(name))
            if left:
                problems.append(f"{name}: not stripped, has {', '.join(left)}")
    return problems


def main() -> None:
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    dist = Path(sys.argv[1])
    sdists = sorted(dist.glob("*.tar.gz"))
    wheels = sorted(dist.glob("*.whl"))
    failed = len(sdists) != 1 or not wheels
    if failed:
        print(f"{dist}: {len(sdists)} source distributions and {len(wheels)} wheels; "
              "expected one source distribution and at least one wheel")
    for path, problems in [(p, sdist_problems(p)) for p in sdists] + [(p, wheel_problems(p)) for p in wheels]:
        print(f"{path.name}: {'; '.join(problems) if problems else 'ok'}")
        failed = failed or bool(problems)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
