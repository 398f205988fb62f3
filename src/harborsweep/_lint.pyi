"""Type stubs for harborsweep._lint, the core of harborsweep-lint."""

import os
from typing import Any, Literal

_Path = str | bytes | os.PathLike[str] | os.PathLike[bytes]

# The findings of one code that a file gives at most; a summary row counts the rest.
MOST_OF_ONE_CODE: int

class Finding:
    """One mistake in a check file or directory."""

    @property
    def path(self) -> str: ...
    @property
    def line(self) -> int | None: ...
    @property
    def column(self) -> int | None: ...
    @property
    def code(self) -> str: ...
    @property
    def severity(self) -> Literal["error", "warning"]: ...
    @property
    def message(self) -> str: ...
    @property
    def summary(self) -> bool:
        """True for a row that is no finding: it counts those of its code left out."""
    @property
    def left_out(self) -> int:
        """How many a summary row counts; 0 for a finding."""
    def as_dict(self) -> dict[str, Any]: ...

def lint(
    paths: list[_Path] | tuple[_Path, ...], config_dir: _Path | None = None
) -> list[Finding]: ...
def plan(
    paths: list[_Path] | tuple[_Path, ...], config_dir: _Path | None = None
) -> list[dict[str, Any]]: ...
def check(
    paths: list[_Path] | tuple[_Path, ...], config_dir: _Path | None = None, plan: bool = False
) -> tuple[list[Finding], list[dict[str, Any]] | None, int]: ...
def codes() -> list[tuple[str, Literal["error", "warning"]]]: ...

# Private, for the test suite only: the reader's view of one file.
def _read_ini(path: _Path, encoding: str | None = None) -> dict[str, Any]: ...
