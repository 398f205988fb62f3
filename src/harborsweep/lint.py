"""The harborsweep-lint command: ``harborsweep-lint`` and ``python -m harborsweep.lint``.

It reads check directories as a run reads them, without a controller, and
reports every mistake at once with its file and line, or (``--plan``) what the
run will send. The reading and the findings are the native module
``harborsweep._lint``; this module is its command line and output formats.
"""

from __future__ import annotations

import argparse
import json
import os
import sys

from harborsweep import _lint
from harborsweep._lint import Finding

__all__ = ["Finding", "lint", "plan", "run"]

PROGRAM = "harborsweep-lint"
FORMATS = ("text", "json", "github")
NO_SESSION = "<session id>"


def lint(path: str | bytes | os.PathLike) -> list[Finding]:
    """The findings of a check directory, or of one check file."""
    return _lint.lint([path])


def plan(path: str | bytes | os.PathLike) -> list[dict]:
    """What a run of the directory (or of one check file) will send, check by check."""
    return _lint.plan([path])


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
        "--strict, a warning), 2 when the command itself cannot go on.",
    )
    parser.add_argument(
        "paths", nargs="*", metavar="PATH",
        help="a configuration directory (its .cfg entries, as the run takes them) or one check "
        "file; without one, the directory that harborsweep uses without --config_dir",
    )
    parser.add_argument("--format", choices=FORMATS, default="text",
                        help="text (path:line:column: CODE message), json or github "
                        "(workflow annotations); default: text")
    parser.add_argument("--ignore", metavar="CODE,...", action="append", default=[],
                        help="leave out the findings of these codes")
    parser.add_argument("--strict", action="store_true",
                        help="fail (exit status 1) on warnings too")
    parser.add_argument("--plan", action="store_true",
                        help="print what the run will send for each check, instead of the "
                        "findings")
    return parser


def _ignored(parser: argparse.ArgumentParser, values: list[str]) -> set[str]:
    known = {code for code, _ in _lint.codes()}
    ignored = {code.strip().upper() for value in values for code in value.split(",") if code.strip()}
    unknown = sorted(ignored - known)
    if unknown:
        parser.error(f"--ignore: unknown code {', '.join(unknown)} (codes: HS101 to HS602, "
                     "listed in the README)")
    return ignored


def _shown(text: str) -> str:
    # A path with bytes that are not UTF-8 holds surrogates, which no stream can write.
    return text.encode("utf-8", "surrogateescape").decode("utf-8", "replace")


def _text_line(finding: Finding) -> str:
    where = _shown(finding.path)
    if finding.line is not None:
        where += f":{finding.line}:{finding.column}"
    return f"{where}: {finding.code} {finding.message}"


def _escape(text: str, *, prop: bool = False) -> str:
    text = text.replace("%", "%25").replace("\r", "%0D").replace("\n", "%0A")
    if prop:
        text = text.replace(":", "%3A").replace(",", "%2C")
    return text


def _github_line(finding: Finding) -> str:
    properties = [f"file={_escape(_shown(finding.path), prop=True)}"]
    if finding.line is not None:
        properties += [f"line={finding.line}", f"col={finding.column}"]
    properties.append(f"title={finding.code}")
    return f"::{finding.severity} {','.join(properties)}::{_escape(finding.message)}"


def _write_findings(findings: list[Finding], form: str) -> None:
    if form == "json":
        json.dump([finding.as_dict() for finding in findings], sys.stdout, indent=2)
        sys.stdout.write("\n")
        return
    line = _github_line if form == "github" else _text_line
    for finding in findings:
        sys.stdout.write(line(finding) + "\n")
    if form == "text" and findings:
        errors = sum(finding.severity == "error" for finding in findings)
        warnings = len(findings) - errors
        sys.stderr.write(f"Found {errors} error{'s' * (errors != 1)} and "
                         f"{warnings} warning{'s' * (warnings != 1)}.\n")


def _write_plan(checks: list[dict], form: str) -> None:
    if form == "json":
        json.dump(checks, sys.stdout, indent=2)
        sys.stdout.write("\n")
        return
    for check in checks:
        out = [_shown(check["path"])]
        if not check["readable"]:
            out.append("  (cannot be read: the run ends here)")
        description = check["description"]
        lines = description.split("\n") if description is not None else ["(nothing)"]
        out.append("  prints:  " + "\n           ".join(lines))
        for i, field in enumerate(check["fields"]):
            if field["name"] == "CID" and i == 0:
                value = NO_SESSION
            elif "expands_to" in field:
                value = f"each element of the result of {_shown(field['expands_to'])}"
            elif field["value"] is None:
                value = f"(fails: {field['error']})"
            else:
                value = repr(field["value"])
            out.append(("  sends:   " if i == 0 else "           ") + f"{field['name']} = {value}")
        steps = check["filters"]
        out.append(f"  filters: {steps!r}" + ("" if steps else " (the whole answer)"))
        for i, link in enumerate(check["chain"]):
            loop = " (back into the chain: the run stops here)" if link.get("loops") else ""
            out.append(("  chain:   " if i == 0 else "           ")
                       + f"{link['field']} <- {_shown(link['check'])}{loop}")
        sys.stdout.write("\n".join(out) + "\n")


def run(argv: list[str] | None = None) -> None:
    """The command: exits with 0, 1 or 2 (see the help's last line)."""
    parser = _parser()
    args = parser.parse_args(argv)
    ignored = _ignored(parser, args.ignore)
    paths = args.paths
    if not paths:
        paths = [default_config_dir()]
        if not os.path.isdir(paths[0]):
            parser.exit(2, f"{PROGRAM}: error: Default config directory not found: {paths[0]}\n")
    try:
        if args.plan:
            findings, checks = _lint.lint_and_plan(paths)
        else:
            findings, checks = _lint.lint(paths), None
    except OSError as error:
        parser.exit(2, f"{PROGRAM}: error: {_shown(str(error))}\n")
    findings = [finding for finding in findings if finding.code not in ignored]
    # A message quotes the file's own text, which the terminal's encoding may not hold.
    if hasattr(sys.stdout, "reconfigure"):
        sys.stdout.reconfigure(errors="backslashreplace")
    try:
        if checks is not None:
            _write_plan(checks, args.format)
        else:
            _write_findings(findings, args.format)
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


if __name__ == "__main__":
    run()
