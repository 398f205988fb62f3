"""Checks what ``make dist`` wrote, beyond what ``twine check`` reads.

- The folder holds one source distribution and at least one wheel, all of
  one version, and nothing else.
- The source distribution holds pyproject.toml, CMakeLists.txt, README.md,
  LICENSE, the licence texts of LICENSES/, src/ and its PKG-INFO, and
  nothing else: no built files or caches.
- Each wheel is named for one CPython and for manylinux2014 on a known
  architecture (harborsweep-V-cp311-cp311-manylinux2014_x86_64.
  manylinux_2_17_x86_64.whl), and holds the package (``__init__.py``,
  ``__main__.py``, ``lint.py``, the type stubs, ``py.typed``), the two
  extension modules (harborsweep and _lint) for that interpreter and
  architecture, and the metadata, and nothing else: no tests, no sources,
  no libraries that auditwheel had to bring along.
- Each wheel's entry_points.txt declares the console scripts harborsweep and
  harborsweep-lint, each pointing at its function, and no other.
- Each wheel carries our LICENSE and the licence text of each third-party
  component linked into its extensions (those of tools/check_licences.py)
  under ``.dist-info/licenses/``, its METADATA names each of them in a
  License-File line and has a License-Expression.
- The long description (the README, which an index shows as the project's
  page) links only to absolute URLs: a link to another file of the tree or
  to a heading of the page breaks there.
- Each extension module is an ELF file for the wheel's architecture that
  needs no glibc symbol newer than 2.17 and no C++ runtime of the system
  (the C++ runtime is linked in), exports its own entry point
  (PyInit_harborsweep, PyInit__lint) and nothing else, and is stripped: no
  symbol table, no debug sections.

Every rule fails the run on its own, whatever the other files are.

Runs with the packaging tools' environment (.venv/dist-tools), whose
auditwheel brings pyelftools.

Usage: python tools/check_dist.py DIST_DIR
       python tools/check_dist.py FILE...   (the files alone, as `make wheel` checks its wheel)
"""

from __future__ import annotations

import configparser
import io
import re
import sys
import tarfile
import zipfile
from email.parser import HeaderParser
from pathlib import Path

from elftools.common.exceptions import ELFError
from elftools.elf.dynamic import DynamicSection
from elftools.elf.elffile import ELFFile
from elftools.elf.gnuversions import GNUVerNeedSection

from check_licences import SOURCES

LICENCE_FILES = {"LICENSE"} | {f"LICENSES/{name}" for name in SOURCES}
SDIST_TOP = {"PKG-INFO", "pyproject.toml", "CMakeLists.txt", "README.md", "LICENSE", "LICENSES", "src"}
SDIST_NEEDS = {"PKG-INFO", "pyproject.toml", "CMakeLists.txt", "README.md"} | LICENCE_FILES
BUILT_OR_CACHED = re.compile(r"(^|/)__pycache__/|\.(so|o|a|pyc|pyo)$")
PACKAGE = {f"harborsweep/{name}"
           for name in ("__init__.py", "__main__.py", "lint.py", "harborsweep.pyi", "_lint.pyi", "py.typed")}
# The extension modules of the package, by name; each exports PyInit_<name>.
MODULES = ("harborsweep", "_lint")
CONSOLE_SCRIPTS = {"harborsweep": "harborsweep.__main__:run", "harborsweep-lint": "harborsweep.lint:run"}
METADATA = {"METADATA", "WHEEL", "RECORD", "entry_points.txt"}

# The architectures wheels are built for, each with its ELF machine.
MACHINES = {"x86_64": "EM_X86_64", "aarch64": "EM_AARCH64"}
GLIBC_NEWEST = (2, 17)
WHEEL_NAME = re.compile(
    r"harborsweep-(?P<version>[^-]+)-cp(?P<python>3\d+)-cp(?P=python)-"
    r"manylinux2014_(?P<arch>[a-z0-9_]+)\.manylinux_2_17_(?P=arch)\.whl")
GLIBC_VERSION = re.compile(r"GLIBC_(\d+)\.(\d+)(?:\.\d+)?")
CXX_RUNTIME = re.compile(r"lib(stdc\+\+|c\+\+|c\+\+abi|unwind)\.so")
# Markdown's link targets: inline, [text](target), and reference
# definitions, [label]: target.
LINK_TARGET = re.compile(r"\]\(\s*<?([^)\s>]+)|^ {0,3}\[[^\]]+\]:\s*<?([^\s>]+)", re.M)
ABSOLUTE_URL = re.compile(r"[a-z][a-z0-9+.-]*:", re.I)


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


def glibc_needed(elf: ELFFile) -> list[tuple[int, int]]:
    versions = []
    for section in elf.iter_sections():
        if isinstance(section, GNUVerNeedSection):
            for _, auxiliaries in section.iter_versions():
                versions += [tuple(map(int, match.groups()[:2])) for aux in auxiliaries
                             if (match := GLIBC_VERSION.fullmatch(aux.name))]
    return versions


def dynamic_facts(elf: ELFFile) -> tuple[list[str], set[str]]:
    """The libraries the module needs and the symbols it exports."""
    needed, exports = [], set()
    for section in elf.iter_sections():
        if isinstance(section, DynamicSection):
            needed += [tag.needed for tag in section.iter_tags() if tag.entry.d_tag == "DT_NEEDED"]
        if section.name == ".dynsym":
            exports |= {symbol.name for symbol in section.iter_symbols()
                        if symbol["st_shndx"] != "SHN_UNDEF" and symbol["st_info"]["bind"] != "STB_LOCAL"}
    return needed, exports


def extension_problems(data: bytes, arch: str, module: str) -> list[str]:
    try:
        elf = ELFFile(io.BytesIO(data))
        machine = elf["e_machine"]
        sections = [section.name for section in elf.iter_sections()]
        glibc = glibc_needed(elf)
        needed, exports = dynamic_facts(elf)
    except ELFError as error:
        return [f"not a readable ELF file ({error})"]
    problems = []
    if machine != MACHINES[arch]:
        problems.append(f"built for {machine}, not {MACHINES[arch]}")
    if glibc and max(glibc) > GLIBC_NEWEST:
        newest = "%d.%d" % max(glibc)
        problems.append(f"needs GLIBC_{newest}, newer than {'%d.%d' % GLIBC_NEWEST}")
    problems += [f"needs the C++ runtime {library}" for library in needed if CXX_RUNTIME.match(library)]
    entry = f"PyInit_{module}"
    if entry not in exports:
        problems.append(f"does not export {entry}")
    others = sorted(exports - {entry})
    if others:
        more = f" and {len(others) - 3} more" if len(others) > 3 else ""
        problems.append(f"exports more than {entry}: {', '.join(others[:3])}{more}")
    left = [name for name in sections if name == ".symtab" or name.startswith(".debug")]
    if left:
        problems.append(f"not stripped, has {', '.join(left)}")
    return problems


def metadata_problems(text: str) -> list[str]:
    headers = HeaderParser().parsestr(text)
    problems = [] if (headers["License-Expression"] or "").strip() else ["METADATA: no License-Expression"]
    named = set(headers.get_all("License-File") or [])
    problems += [f"METADATA: no License-File: {member}" for member in sorted(LICENCE_FILES - named)]
    targets = {match[1] or match[2] for match in LINK_TARGET.finditer(headers.get_payload() or "")}
    relative = sorted(target for target in targets if not ABSOLUTE_URL.match(target))
    if relative:
        problems.append(f"METADATA: the description links to {', '.join(relative)}; relative links break on an index page")
    return problems


def entry_point_problems(text: str) -> list[str]:
    entry_points = configparser.ConfigParser(delimiters=("=",), interpolation=None)
    entry_points.optionxform = str
    try:
        entry_points.read_string(text)
    except configparser.Error as error:
        return [f"entry_points.txt: unreadable ({error.message.splitlines()[0]})"]
    scripts = dict(entry_points["console_scripts"]) if entry_points.has_section("console_scripts") else {}
    problems = [f"entry_points.txt: no console script {name} = {target}"
                for name, target in CONSOLE_SCRIPTS.items() if scripts.get(name) != target]
    problems += [f"entry_points.txt: unexpected console script {name}"
                 for name in sorted(scripts.keys() - CONSOLE_SCRIPTS.keys())]
    return problems


def wheel_problems(path: Path) -> list[str]:
    name = WHEEL_NAME.fullmatch(path.name)
    if not name or name["arch"] not in MACHINES:
        return [f"not named harborsweep-VERSION-cp3X-cp3X-manylinux2014_ARCH.manylinux_2_17_ARCH.whl"
                f" for ARCH one of {', '.join(MACHINES)}"]
    arch, python = name["arch"], name["python"]
    extensions = {module: f"harborsweep/{module}.cpython-{python}-{arch}-linux-gnu.so" for module in MODULES}
    info = f"harborsweep-{name['version']}.dist-info/"
    problems = []
    with zipfile.ZipFile(path) as wheel:
        names = {member for member in wheel.namelist() if not member.endswith("/")}
        expected = (PACKAGE | set(extensions.values()) | {info + member for member in METADATA}
                    | {f"{info}licenses/{member}" for member in LICENCE_FILES})
        problems += [f"{member}: unexpected" for member in sorted(names - expected)]
        problems += [f"{member}: missing" for member in sorted(expected - names)]
        if info + "METADATA" in names:
            problems += metadata_problems(wheel.read(info + "METADATA").decode("utf-8", errors="replace"))
        if info + "entry_points.txt" in names:
            problems += entry_point_problems(wheel.read(info + "entry_points.txt").decode("utf-8", errors="replace"))
        for module, extension in extensions.items():
            found = extension_problems(wheel.read(extension), arch, module) if extension in names else []
            if found:
                problems.append(f"{extension}: {'; '.join(found)}")
    return problems


def version(path: Path) -> str:
    return path.name.split("-")[1].removesuffix(".tar.gz")


def folder_problems(dist: Path) -> list[str]:
    files = sorted(path for path in dist.iterdir())
    sdists = [path for path in files if path.name.endswith(".tar.gz")]
    wheels = [path for path in files if path.suffix == ".whl"]
    problems = [f"{path.name}: neither a source distribution nor a wheel"
                for path in files if path not in sdists and path not in wheels]
    if len(sdists) != 1 or not wheels:
        problems.append(f"{len(sdists)} source distributions and {len(wheels)} wheels; "
                        "expected one source distribution and at least one wheel")
    versions = {version(path) for path in sdists + wheels}
    if len(versions) > 1:
        problems.append(f"versions {', '.join(sorted(versions))}; expected one")
    return [f"{dist}: {problem}" for problem in problems]


def main() -> None:
    paths = [Path(argument) for argument in sys.argv[1:]]
    if not paths:
        sys.exit(__doc__)
    problems = []
    if len(paths) == 1 and paths[0].is_dir():
        problems = folder_problems(paths[0])
        paths = sorted(path for path in paths[0].iterdir() if path.name.endswith((".tar.gz", ".whl")))
    for line in problems:
        print(line)
    failed = bool(problems)
    for path in paths:
        found = sdist_problems(path) if path.name.endswith(".tar.gz") else wheel_problems(path)
        print(f"{path.name}: {'; '.join(found) if found else 'ok'}")
        failed = failed or bool(found)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
