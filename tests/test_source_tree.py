# The C++ sources' includes point one way, between units and between the subsystem folders,
# and put Python's header before any standard one.
import re
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
NATIVE = ROOT / "src" / "native"


def test_includes_point_one_way():
    # A unit is a header with its source file, named folder/stem.
    uses = {}
    for path in NATIVE.rglob("*.[ch]pp"):
        unit = path.relative_to(NATIVE).with_suffix("").as_posix()
        included = re.findall(r'^#include "(\w+/\w+)\.hpp"', path.read_text(), re.M)
        uses.setdefault(unit, set()).update(other for other in included if other != unit)
    # Each folder uses only those that the development guide lists after it.
    layout = (ROOT / "DEVELOPMENT.md").read_text().split("\n- `src/native/`", 1)[1].split("\n- ", 1)[0]
    folders = re.findall(r"^  - `(\w+)/`", layout, re.M)
    assert sorted(folders) == sorted(path.name for path in NATIVE.iterdir() if path.is_dir())
    rank = {folder: i for i, folder in enumerate(folders)}
    backward = [(unit, other) for unit, used in uses.items() for other in used
                if rank[other.split("/")[0]] < rank[unit.split("/")[0]]]
    assert backward == []
    # No cycle: units that use none of those left, or that none of them use, are taken off until
    # none are left.
    left = dict(uses)
    while left:
        done = [unit for unit, used in left.items()
                if not used & left.keys() or not any(unit in left[other] for other in left)]
        assert done, "units including each other: %s" % sorted(left)
        for unit in done:
            del left[unit]


def test_python_comes_before_any_standard_header():
    # Python.h must see no standard header before it: the release compiler's glibc headers would
    # fix _POSIX_C_SOURCE first, and a redefinition is an error there (not with g++). A unit
    # build may start with any source file, so each one's first system header, reached through
    # the project headers it includes in order, must be nanobind's or Python.h.
    def system_headers(path, seen):
        for kind, name in re.findall(r'^#include ([<"])([^>"]+)[>"]', path.read_text(), re.M):
            if kind == "<":
                yield name
            elif (NATIVE / name).exists() and name not in seen:
                seen.add(name)
                yield from system_headers(NATIVE / name, seen)

    first = {path.relative_to(NATIVE).as_posix(): next(system_headers(path, set()), None)
             for path in NATIVE.rglob("*.cpp")}
    assert {path: header for path, header in first.items()
            if header not in ("nanobind/nanobind.h", "Python.h")} == {}
