"""Proves that the third-party licence texts in LICENSES/, which every wheel
carries, are still those of the packages that the release build compiles
and links into the extension modules, copied from those packages.

What the zig build links in (found with the linker's map): nanobind's own
code and the robin_map hash map that it bundles, members of LLVM's libc++,
libc++abi and libunwind, which zig builds from its own copy of their
sources, and, in the aarch64 module, a few functions of zig's own
compiler_rt (memcpy, memmove, memset, strlen, bcmp). Each text comes from
the installed distribution that holds that code: nanobind's licence from
its wheel's metadata, robin_map's from the comment that opens its header in
nanobind's package (robin_map ships no licence file there), LLVM's and
zig's from the ziglang package.

Usage: python tools/check_licences.py TREE DISTRIBUTION=SITE...

TREE holds LICENSES/ (this tree, or a source distribution unpacked). Each
DISTRIBUTION (nanobind, ziglang) is found in SITE, the folder it is
installed into (a site-packages folder); only the texts of the
distributions named are compared. The release build runs it for ziglang
before building (tools/build_wheel.py) and, through CMake, for the nanobind
that the build compiles (CMakeLists.txt). Every problem is printed, one a
line; the exit status is 1 if there is any.
"""

from __future__ import annotations

import sys
from pathlib import Path

# Each file of LICENSES/: the distribution it was copied from, the file
# there (a pattern inside SITE), and whether the text is the comment that
# opens that file rather than the whole file.
SOURCES = {
    "nanobind.txt": ("nanobind", "nanobind-*.dist-info/licenses/LICENSE", False),
    "robin_map.txt": ("nanobind", "nanobind/ext/robin_map/include/tsl/robin_map.h", True),
    "libcxx.txt": ("ziglang", "ziglang/lib/libcxx/LICENSE.TXT", False),
    "libcxxabi.txt": ("ziglang", "ziglang/lib/libcxxabi/LICENSE.TXT", False),
    "libunwind.txt": ("ziglang", "ziglang/lib/libunwind/LICENSE.TXT", False),
    "zig.txt": ("ziglang", "ziglang/LICENSE", False),
}


def opening_comment(text: str) -> str:
    """The text of the /** ... */ comment that opens a C++ header, each
    line without its leading " * "."""
    lines = text.splitlines()
    if not lines or lines[0] != "/**" or " */" not in lines:
        return ""
    body = lines[1:lines.index(" */")]
    return "".join(line.removeprefix(" *").removeprefix(" ") + "\n" for line in body)


def problems(tree: Path, sites: dict[str, Path]) -> list[str]:
    folder = tree / "LICENSES"
    present = {path.name for path in folder.iterdir()} if folder.is_dir() else set()
    found = [f"LICENSES/{name}: copied from no distribution that this check knows"
             for name in sorted(present - set(SOURCES))]
    found += [f"LICENSES/{name}: missing" for name in sorted(set(SOURCES) - present)]
    for name, (distribution, pattern, comment) in SOURCES.items():
        if distribution not in sites or name not in present:
            continue
        matches = sorted(sites[distribution].glob(pattern))
        if len(matches) != 1:
            found.append(f"LICENSES/{name}: {len(matches)} files {pattern} in {sites[distribution]}, not one")
            continue
        source = matches[0].read_text(encoding="utf-8")
        if comment:
            source = opening_comment(source)
        if (folder / name).read_text(encoding="utf-8") != source:
            found.append(f"LICENSES/{name}: differs from {matches[0]}{' (its opening comment)' if comment else ''}")
    return found


def main() -> None:
    if len(sys.argv) < 3 or not all("=" in argument for argument in sys.argv[2:]):
        sys.exit(__doc__)
    sites = dict(argument.split("=", 1) for argument in sys.argv[2:])
    known = {distribution for distribution, _, _ in SOURCES.values()}
    unknown = sorted(set(sites) - known)
    if unknown:
        sys.exit(f"check_licences: no licence text is copied from {', '.join(unknown)}; known: {', '.join(sorted(known))}")
    found = problems(Path(sys.argv[1]), {name: Path(site) for name, site in sites.items()})
    for line in found:
        print(line)
    sys.exit(1 if found else 0)


if __name__ == "__main__":
    main()
