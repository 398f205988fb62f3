"""The harborsweep-lint command: ``harborsweep-lint`` and ``python -m harborsweep.lint``.

It reads check directories as a run reads them, without a controller, and
reports every mistake at once with its file and line, or (``--plan``) what the
run will send. The reading and the findings are the native module
``harborsweep._lint``; this module is its command line and output formats.
"""

from __future__ import annotations

import argparse
import functools
import json
import os
import signal
import sys
import warnings

from harborsweep import _lint
from harborsweep._lint import Finding

__all__ = ["Finding", "lint", "plan", "run"]

PROGRAM = "harborsweep-lint"
FORMATS = ("text", "json", "github")
NO_SESSION = "<session id>"


def lint(path: str | bytes | os.PathLike, config_dir: str | bytes | os.PathLike | None = None
         ) -> list[Finding]:
    """The findings of a check directory, or of one check file, whose references resolve against
    `config_dir` (by default its own directory), as the run resolves them against --config_dir.
    A row with `summary` true is no finding: it counts the findings of its code left out."""
    return _native(_lint.lint, [path], config_dir)


def plan(path: str | bytes | os.PathLike, config_dir: str | bytes | os.PathLike | None = None
         ) -> list[dict]:
    """What a run of the directory (or of one check file) will send, check by check."""
    return _native(_lint.plan, [path], config_dir)


def _native(call, *args):
    # The run's open() names no encoding, and the reading asks open() which one it takes:
    # that must neither warn (PYTHONWARNDEFAULTENCODING) nor, under -W error, fail.
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", EncodingWarning)
        return call(*args)


def default_config_dir() -> str:
    """The directory that ``harborsweep`` runs without --config_dir: "config" beside its module,
    found without importing it (and requests with it)."""
    return os.path.join(os.path.dirname(os.path.abspath(__file__)), "config")


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=PROGRAM,
        description="Finds the mistakes of harborsweep check directories before a run: each "
        "with its file, line and column, a code, and how to mend it. Nothing is sent to a "
        "controller and no file is written.",
        epilog="Exit status: 0 without errors (warnings allowed), 1 with an error (or, with "
        "--strict, a warning), 2 when the command itself cannot go on, 130 when interrupted.",
    )
    parser.add_argument(
        "paths", nargs="*", metavar="PATH",
        help="a configuration directory (its .cfg entries, as the run takes them) or one check "
        "file; without one, --config-dir, or the directory that harborsweep uses without "
        "--config_dir",
    )
    parser.add_argument(
        "--config-dir", metavar="DIR",
        help="the configuration directory that the run is given (--config_dir): the references "
        "of a check file given alone resolve against it, not against the file's own directory",
    )
    parser.add_argument(
        "--changed", action="store_true",
        help="take the PATHs as the files a commit changes (as pre-commit passes them) and lint, "
        "whole, each check directory that holds one: --config-dir, or else the outermost folder, "
        "from the file's own up to the working directory, that holds a name ending in .cfg",
    )
    parser.add_argument("--format", choices=FORMATS, default="text",
                        help="text (path:line:column: CODE severity: message), json or github "
                        "(workflow annotations); default: text")
    parser.add_argument("--ignore", metavar="CODE,...", action="append", default=[],
                        help="leave out the findings of these codes")
    parser.add_argument("--strict", action="store_true",
                        help="fail (exit status 1) on warnings too")
    parser.add_argument("--plan", action="store_true",
                        help="print what the run will send for each check, instead of the "
                        "findings (text or json)")
    return parser


def _ignored(parser: argparse.ArgumentParser, values: list[str]) -> set[str]:
    known = {code for code, _ in _lint.codes()}
    ignored = {code.strip().upper() for value in values for code in value.split(",") if code.strip()}
    unknown = sorted(ignored - known)
    if unknown:
        parser.error(f"--ignore: unknown code {', '.join(unknown)} (codes: HS101 to HS602, "
                     "listed in the README)")
    return ignored


def _holds_checks(directory: str) -> bool:
    try:
        with os.scandir(directory) as entries:
            return any(entry.name.endswith(".cfg") for entry in entries)
    except OSError:
        return False


def _check_directory(changed: str, holds_checks=_holds_checks) -> str:
    """The check directory that holds a changed file: the outermost folder, from the file's own
    up to the working directory, that holds a name ending in .cfg (a folder of referenced files,
    such as lib/, lies inside the directory that the run is given)."""
    if os.path.isdir(changed):
        return changed
    own = os.path.dirname(changed) or os.curdir
    top, here = os.path.abspath(os.curdir), os.path.abspath(own)
    if os.path.commonpath([top, here]) != top:
        return own
    chosen = None
    while True:
        if holds_checks(here):
            chosen = here
        if here == top:
            break
        here = os.path.dirname(here)
    return own if chosen is None else os.path.relpath(chosen)


def _paths(parser: argparse.ArgumentParser, args: argparse.Namespace) -> list[str]:
    if args.changed:
        if args.config_dir is not None:
            return [args.config_dir] if args.paths else []
        # Each folder looked at once, however many of the changed files it holds.
        holds_checks = functools.cache(_holds_checks)
        return list(dict.fromkeys(_check_directory(path, holds_checks) for path in args.paths))
    if args.paths:
        return args.paths
    if args.config_dir is not None:
        return [args.config_dir]
    directory = default_config_dir()
    if not os.path.isdir(directory):
        parser.exit(2, f"{PROGRAM}: error: Default config directory not found: {directory}\n")
    return [directory]


def _shown(text: str) -> str:
    # A path with bytes that are not UTF-8 holds surrogates, which no stream can write.
    return text.encode("utf-8", "surrogateescape").decode("utf-8", "replace")


# Control characters (a line end, ESC), the line separators and the bidirectional overrides,
# written as escapes: a finding stays one line, and nothing in a file reaches the terminal raw.
_ESCAPES = {code: f"\\x{code:02x}" for code in [*range(0x20), *range(0x7F, 0xA0)]}
_ESCAPES.update({ord("\n"): "\\n", ord("\r"): "\\r", ord("\t"): "\\t"})
_ESCAPES.update({code: f"\\u{code:04x}" for code in [0x2028, 0x2029, *range(0x202A, 0x202F),
                                                      *range(0x2066, 0x206A)]})


def _printable(text: str) -> str:
    return _shown(text).translate(_ESCAPES)


def _plural(count: int, word: str) -> str:
    return f"{count} {word}{'s' * (count != 1)}"


def _text_line(finding: Finding) -> str:
    where = _printable(finding.path)
    if finding.line is not None:
        where += f":{finding.line}:{finding.column}"
    if finding.summary:
        more = _plural(finding.left_out, f"more {finding.code} {finding.severity}")
        return f"{where}: ... {more} in this file, not shown (at most {_lint.MOST_OF_ONE_CODE} of a code)"
    return f"{where}: {finding.code} {finding.severity}: {_printable(finding.message)}"


def _escape(text: str, *, prop: bool = False) -> str:
    text = _printable(text).replace("%", "%25")
    if prop:
        text = text.replace(":", "%3A").replace(",", "%2C")
    return text


def _github_line(finding: Finding) -> str:
    properties = [f"file={_escape(finding.path, prop=True)}"]
    if finding.line is not None:
        properties += [f"line={finding.line}", f"col={finding.column}"]
    properties.append(f"title={finding.code}")
    kind = "notice" if finding.summary else finding.severity
    return f"::{kind} {','.join(properties)}::{_escape(finding.message)}"


def _count_line(findings: list[Finding], files: int) -> str:
    # A summary row is no finding, but stands for those it counts.
    count = {"error": 0, "warning": 0}
    hidden = 0
    for finding in findings:
        count[finding.severity] += finding.left_out if finding.summary else 1
        hidden += finding.left_out if finding.summary else 0
    line = (f"Found {_plural(count['error'], 'error')} and {_plural(count['warning'], 'warning')}"
            f" in {_plural(files, 'check file')}")
    return line + (f" ({hidden} of them not shown)." if hidden else ".")


def _write_findings(findings: list[Finding], form: str, files: int) -> None:
    if form == "json":
        json.dump([finding.as_dict() for finding in findings], sys.stdout, indent=2)
        sys.stdout.write("\n")
        return
    line = _github_line if form == "github" else _text_line
    for finding in findings:
        sys.stdout.write(line(finding) + "\n")
    if form == "text":
        sys.stdout.flush()
        sys.stderr.write(_count_line(findings, files) + "\n")


def _value(field: dict, first: bool) -> str:
    if field["name"] == "CID" and first:
        return NO_SESSION
    if "expands_to" in field:
        return f"each element of the result of {_printable(field['expands_to'])}"
    if field["value"] is None:
        return f"(fails: {field['error']})"
    return repr(field["value"])


def _plan_text(check: dict) -> list[str]:
    head = _printable(check["path"])
    if not check["listed"]:
        head += "  (run only through output references: its description is not printed)"
    out = [head]
    stop = check["stops_at"]
    if stop == check["path"]:
        out.append(f"  stops:   here, with {', '.join(check['errors'])}: the run ends at this check")
    elif stop is not None:
        out.append(f"  stops:   down its chain, at {_printable(stop)}: the run ends there")
    if check["warnings"]:
        out.append(f"  warns:   {', '.join(check['warnings'])}")
    if not check["readable"]:
        return out
    if check["listed"]:
        description = check["description"]
        lines = description.split("\n") if description is not None else ["(nothing)"]
        out.append("  prints:  " + "\n           ".join(_printable(line) for line in lines))
    for i, field in enumerate(check["fields"]):
        out.append(("  sends:   " if i == 0 else "           ")
                   + f"{_printable(field['name'])} = {_value(field, i == 0)}")
    steps = check["filters"]
    out.append(f"  filters: {steps!r}" + ("" if steps else " (the whole answer)"))
    link = check["follows"]
    if link is not None:
        loop = " (a loop: the run stops when it comes back)" if link["loops"] else ""
        out.append(f"  chain:   {_printable(link['field'])} <- {_printable(link['check'])}{loop}")
    return out


def _write_plan(checks: list[dict], form: str) -> None:
    if form == "json":
        json.dump(checks, sys.stdout, indent=2)
        sys.stdout.write("\n")
        return
    for check in checks:
        sys.stdout.write("\n".join(_plan_text(check)) + "\n")


def _run(argv: list[str] | None) -> None:
    parser = _parser()
    args = parser.parse_args(argv)
    if args.plan and args.format == "github":
        parser.error("--plan prints text or json, not github annotations")
    ignored = _ignored(parser, args.ignore)
    paths = _paths(parser, args)
    try:
        findings, checks, files = _native(_lint.check, paths, args.config_dir, args.plan)
    except OSError as error:
        parser.exit(2, f"{PROGRAM}: error: {_printable(str(error))}\n")
    findings = [finding for finding in findings if finding.code not in ignored]
    # A message quotes the file's own text, which the terminal's encoding may not hold.
    if hasattr(sys.stdout, "reconfigure"):
        sys.stdout.reconfigure(errors="backslashreplace")
    try:
        if checks is not None:
            _write_plan(checks, args.format)
        else:
            _write_findings(findings, args.format, files)
        sys.stdout.flush()
    except BrokenPipeError:
        # The reader has gone (`| head`): end quietly, as a command killed by SIGPIPE.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        sys.exit(128 + 13)
    failing = {"error", "warning"} if args.strict else {"error"}
    if any(finding.severity in failing for finding in findings):
        if checks is not None:
            sys.stderr.write(f"{PROGRAM}: the checks have mistakes; run without --plan to see "
                             "them\n")
        sys.exit(1)


def run(argv: list[str] | None = None) -> None:
    """The command: exits with 0, 1, 2 or 130 (see the help's last line)."""
    try:
        _run(argv)
    except KeyboardInterrupt:
        # One line, and the status that a shell gives a command it interrupted.
        sys.stderr.write(f"{PROGRAM}: interrupted\n")
        if argv is None:
            # The command itself (not a caller's run(argv)) ends at once: freeing all that it
            # read and planned would keep the user waiting, and the system takes it back. What
            # was written is flushed first.
            for stream in (sys.stdout, sys.stderr):
                try:
                    stream.flush()
                except (OSError, ValueError):
                    pass
            os._exit(128 + 2)
        sys.exit(128 + 2)
    finally:
        if argv is None:
            # All is written: a Ctrl-C from here on has nothing left to stop, and would only
            # show a traceback from the interpreter's exit.
            signal.signal(signal.SIGINT, signal.SIG_IGN)


if __name__ == "__main__":
    run()
