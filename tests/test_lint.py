# harborsweep-lint: each mistake of a check directory gives its finding, at its place; the
# command's formats, exit statuses and plan.
import json
import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

from harborsweep import _lint
from harborsweep.lint import lint, plan, run

LINT_SCRIPT = str(Path(sys.executable).parent / "harborsweep-lint")
EXAMPLES = os.path.join(os.path.dirname(__file__), os.pardir, "examples", "checks")
PLAIN = "[default]\ndescription = d\n[quorvane]\naction = list\n"


def make(root, files):
    for name, content in files.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        if content is None:
            path.mkdir()
        elif isinstance(content, tuple):
            path.symlink_to(content[1])
        elif isinstance(content, bytes):
            path.write_bytes(content)
        else:
            path.write_text(content)


def found(root, findings):
    return [(os.path.relpath(f.path, root), f.line, f.column, f.code) for f in findings]


# name: (files, the findings as (path, line, column, code), a text each message must hold)
MISTAKES = {
    "lone-percent": ({"a.cfg": "[quorvane]\naction = x\nsize = 50%\n"},
                     [("a.cfg", 3, 10, "HS201")], "write `50%%`"),
    "percent-in-description": ({"a.cfg": "[default]\ndescription = 100% up\n[quorvane]\naction=x\n"},
                               [("a.cfg", 2, 18, "HS211")], "`100%%`"),
    "bad-reference": ({"a.cfg": "[quorvane]\naction = x\nzone = %(region\n"},
                      [("a.cfg", 3, 8, "HS202")], "`%(region)s`"),
    "missing-reference": ({"a.cfg": "[quorvane]\naction = x\nregions = a\nzone = %(region)s\n"},
                          [("a.cfg", 4, 8, "HS203")], "`%(regions)s`"),
    "reference-loop": ({"a.cfg": "[quorvane]\naction = x\nzone = %(zone)s\n"},
                       [("a.cfg", 3, 8, "HS204")], "InterpolationDepthError"),
    "from-defaults": ({"a.cfg": "[DEFAULT]\nsize = 5%\n[quorvane]\naction = x\n"},
                      [("a.cfg", 2, 9, "HS201")], "`5%%`"),
    "filters-unread": ({"a.cfg": "[default]\nfilters = a, %(b\n[quorvane]\naction = x\n"},
                       [("a.cfg", 2, 14, "HS212")], "whole answer"),
    "only-case-section": ({"a.cfg": "[Quorvane]\naction = x\n"},
                          [("a.cfg", 1, 1, "HS301")], "rename this one `[quorvane]`"),
    "no-quorvane": ({"a.cfg": "[default]\ndescription = d\n"}, [("a.cfg", None, None, "HS301")],
                    "NoSectionError"),
    "near-sections": ({"a.cfg": "[defualt]\n[Default]\n[quorvnae]\n[quorvane]\naction = x\n"},
                      [("a.cfg", 1, 1, "HS303"), ("a.cfg", 2, 1, "HS303"),
                       ("a.cfg", 3, 1, "HS303")], "rename it `["),
    "no-action": ({"a.cfg": "[quorvane]\nname = x\n"}, [("a.cfg", 1, 1, "HS302")], "`action"),
    "unread-default-option": ({"a.cfg": "[default]\nfilter = a, b\n[quorvane]\naction = x\n"},
                              [("a.cfg", 2, 1, "HS304")], "did you mean `filters`?"),
    "defaults-option-used-by-description": (
        {"a.cfg": "[default]\nwho = me\ndescription = %(who)s\n[quorvane]\naction = x\n"}, [], ""),
    "description-in-DEFAULT": ({"a.cfg": "[DEFAULT]\ndescription = d\n[quorvane]\naction = x\n"},
                               [("a.cfg", 2, 1, "HS305")], "move it to `[default]`"),
    "empty-filter-steps": ({"a.cfg": "[default]\nfilters = a,,b,\n[quorvane]\naction = x\n"},
                           [("a.cfg", 2, 11, "HS401"), ("a.cfg", 2, 11, "HS401")], "comma"),
    "empty-filters": ({"a.cfg": "[default]\nfilters =\n[quorvane]\naction = x\n"},
                      [("a.cfg", 2, 10, "HS401")], "`filters` is empty"),
    "empty-filter-keys": ({"a.cfg": "[default]\nfilters = x, a&, &b, a & b\n[quorvane]\naction=x\n"},
                          [("a.cfg", 2, 14, "HS402"), ("a.cfg", 2, 18, "HS402")], "stray `&`"),
    "bom": ({"a.cfg": b"\xef\xbb\xbf" + PLAIN.encode()}, [("a.cfg", 1, 1, "HS103")],
            "without the mark"),
    "undecodable": ({"a.cfg": b"[default]\ndescription = caf\xe9\n[quorvane]\naction = x\n"},
                    [("a.cfg", 2, 18, "HS102")], "0xe9"),
    "before-any-header": ({"a.cfg": "action = x\n" + PLAIN}, [("a.cfg", 1, 1, "HS104")], "`#`"),
    "duplicates": ({"a.cfg": PLAIN + "Action = y\n[default]\n"},
                   [("a.cfg", 5, 1, "HS106"), ("a.cfg", 6, 1, "HS105")], "line "),
    "lines-without-delimiter": ({"a.cfg": "[quorvane]\naction = x\nnonsense\nmore\n= y\n"},
                                [("a.cfg", 3, 1, "HS107"), ("a.cfg", 4, 1, "HS107"),
                                 ("a.cfg", 5, 1, "HS108")], "ParsingError"),
    "missing-check": ({"a.cfg": "[quorvane]\naction = x\nitem = output(gatways.cfg)\n",
                       "gateways.cfg": PLAIN}, [("a.cfg", 3, 8, "HS501")], "`gateways.cfg`?"),
    "referenced-directory": ({"a.cfg": "[quorvane]\naction = x\nitem = output(sub)\n",
                              "sub/b.cfg": PLAIN}, [("a.cfg", 3, 8, "HS501")], "IsADirectoryError"),
    "empty-reference": ({"a.cfg": "[quorvane]\naction = x\nitem = output()\n"},
                        [("a.cfg", 3, 8, "HS502")], "names no check file"),
    "references-loop": ({"a.cfg": "[quorvane]\naction = x\ni = output(b.cfg)\n",
                         "b.cfg": "[quorvane]\naction = y\ni = output(lib/c.ini)\n",
                         "lib/c.ini": "[quorvane]\naction = z\ni = output(a.cfg)\n"},
                        [("a.cfg", 3, 5, "HS503"), ("b.cfg", 3, 5, "HS503"),
                         ("lib/c.ini", 3, 5, "HS503")], "RecursionError"),
    "two-references": ({"a.cfg": "[quorvane]\naction = x\nz = output(b.cfg)\ny = output(b.cfg)\n",
                        "b.cfg": PLAIN}, [("a.cfg", 3, 5, "HS504")], "`y`, line 4"),
    "near-references": ({"a.cfg": "[quorvane]\naction = x\ny = Output(b.cfg)\n"
                                  "z = output(b.cfg) and\nw = output (b.cfg\n", "b.cfg": PLAIN},
                        [("a.cfg", 3, 5, "HS505"), ("a.cfg", 4, 5, "HS505"),
                         ("a.cfg", 5, 5, "HS505")], "write `output(b.cfg)`"),
    # A file the references reach is read once and reported under its own path, with the
    # configuration directory of the check that refers to it.
    "referenced-file": ({"a.cfg": "[quorvane]\naction = x\ni = output(lib/r.ini)\n",
                         "b.cfg": "[quorvane]\naction = x\ni = output(lib/r.ini)\n",
                         "lib/r.ini": "[quorvane]\naction = 5%\ni = output(lib/s.ini)\n",
                         "lib/s.ini": PLAIN}, [("lib/r.ini", 2, 11, "HS201")], "`5%%`"),
    "unread-default-abbreviated": ({"a.cfg": "[default]\ndesc = d\n[quorvane]\naction = x\n"},
                                   [("a.cfg", 2, 1, "HS304")], "did you mean `description`?"),
    # A link is the file it leads to: the run refuses the loop by real paths, and names each path.
    "loop-through-a-link": ({"a.cfg": "[quorvane]\naction = x\ni = output(alias.ini)\n",
                             "alias.ini": ("link", "a.cfg")}, [("a.cfg", 3, 5, "HS503")],
                            "a.cfg -> alias.ini"),
    "both-sections": ({"a.cfg": "[Quorvane]\n[quorvane]\naction = x\n"},
                      [("a.cfg", 1, 1, "HS303")], "its options are not sent"),
    "action-from-DEFAULT": ({"a.cfg": "[DEFAULT]\naction = x\n[quorvane]\n"}, [], ""),
    # A check reached only through a reference prints no description.
    "referenced-description": ({"a.cfg": "[quorvane]\naction = x\ni = output(r.ini)\n",
                                "r.ini": "[default]\ndescription = 5%\n[quorvane]\naction = y\n"},
                               [], ""),
    # Only the checks on the loop have it to mend; one that leads into it does not.
    "into-a-loop": ({"c.cfg": "[quorvane]\naction = x\ni = output(a.cfg)\n",
                     "a.cfg": "[quorvane]\naction = x\ni = output(b.cfg)\n",
                     "b.cfg": "[quorvane]\naction = x\ni = output(a.cfg)\n"},
                    [("a.cfg", 3, 5, "HS503"), ("b.cfg", 3, 5, "HS503")], "RecursionError"),
    "skipped-names": ({"a.CFG": PLAIN, "b.conf": PLAIN, "c.cfg": PLAIN, "d.cfg.bak": PLAIN},
                      [("a.CFG", None, None, "HS601"), ("b.conf", None, None, "HS601")],
                      "rename it `"),
    "no-checks": ({"a.txt": PLAIN}, [(".", None, None, "HS602")], "status 0"),
    "directory-named-cfg": ({"x.cfg": None, "y.cfg": PLAIN}, [("x.cfg", None, None, "HS101")],
                            "IsADirectoryError"),
    # What the run sends otherwise than the file reads.
    "capitals-in-a-field": ({"a.cfg": "[quorvane]\nAction = x\nvpcId = vpc-1\n",
                             "b.cfg": "[DEFAULT]\nvpcId = vpc-1\n[default]\nDescription = d\n"
                                      "[quorvane]\naction = x\n"},
                            [("a.cfg", 3, 1, "HS306"), ("b.cfg", 2, 1, "HS306")],
                            "sent as the field `vpcid`"),
    "option-indented-under-action": ({"a.cfg": "[quorvane]\naction = list_gateways\n\tcloud_type = aws\n"},
                                     [("a.cfg", 3, 2, "HS109")], "option `cloud_type`"),
    # Under a description only the names read there count: the rest may be more of it.
    "filters-indented-under-description": (
        {"a.cfg": "[default]\ndescription = d\n  filters = results\n  status: all\n"
                  "[quorvane]\naction = x\n"}, [("a.cfg", 3, 3, "HS109")], "option `filters`"),
    "header-indented-under-description": ({"a.cfg": "[default]\ndescription = d\n  [quorvane]\n"
                                                     "action = x\n"},
                                           [("a.cfg", 3, 3, "HS109"), ("a.cfg", None, None, "HS301"),
                                            ("a.cfg", 4, 1, "HS304")], "`"),
    "indented-under-a-DEFAULT-option": ({"a.cfg": "[DEFAULT]\nregion = us\n zone = a\n[quorvane]\n"
                                                   "action = x\n"}, [("a.cfg", 3, 2, "HS109")],
                                         "option `zone`"),
        "header-indented-under-option": ({"a.cfg": "[quorvane]\naction = x\nzone = a\n  [default]\n"},
                                     [("a.cfg", 4, 3, "HS109")], "section header `[default]`"),
    "indented-after-a-header": ({"a.cfg": "[quorvane]\n  action = x\n  zone = a\n"}, [], ""),
    "comments-after-values": ({"a.cfg": "[default]\nfilters = a ;b\n[quorvane]\n"
                                        "action = list_gateways   # all of them\n"},
                              [("a.cfg", 2, 13, "HS110"), ("a.cfg", 4, 26, "HS110")],
                              "a comment after a value is not one"),
    "hash-in-a-description": ({"a.cfg": "[default]\ndescription = top 5 # by size\n[quorvane]\n"
                                        "action = x#y\n"}, [], ""),
    "default-options-in-quorvane": ({"a.cfg": "[quorvane]\naction = x\ndescription = d\nfilters = a\n"},
                                    [("a.cfg", 3, 1, "HS307"), ("a.cfg", 4, 1, "HS307")],
                                    "move it to `[default]`"),
    "description-in-both": ({"a.cfg": "[default]\ndescription = d\n[quorvane]\naction = x\n"
                                      "description = e\n"}, [("a.cfg", 5, 1, "HS307")],
                            "field of the request; move it"),
    "description-only-in-quorvane": ({"a.cfg": "[default]\n[quorvane]\naction = x\ndescription = e\n"},
                                     [("a.cfg", 4, 1, "HS307")], "and the run prints no description"),
        "chain-over-the-whole-answer": ({"a.cfg": "[quorvane]\naction = x\ngw = output(b.cfg)\n",
                                     "b.cfg": "[quorvane]\naction = list\nfilters = results, name\n"},
                                    [("b.cfg", 3, 1, "HS307")], "runs its `gw` over the elements"),
    "action-misspelt-in-DEFAULT": ({"a.cfg": "[DEFAULT]\nacton = x\n[quorvane]\nzone = a\n"},
                                   [("a.cfg", 2, 1, "HS302")], "did you mean `action`?"),
    # With filters in [default] too, those are applied, and a chain runs over what they leave.
    "filters-in-both": ({"a.cfg": "[quorvane]\naction = x\ngw = output(b.cfg)\n",
                         "b.cfg": "[default]\nfilters = results\n[quorvane]\naction = l\nfilters = r\n"},
                        [("b.cfg", 5, 1, "HS307")], "(the filters of `[default]` are); move"),
        "action-misspelt": ({"a.cfg": "[quorvane]\nactoin = x\nzone = a\n"}, [("a.cfg", 2, 1, "HS302")],
                        "sends `actoin` instead: did you mean `action`?"),
    "DEFAULT-description-overridden": ({"a.cfg": "[DEFAULT]\ndescription = d\n[quorvane]\naction = x\n"
                                                 "description = q\n"},
                                       [("a.cfg", 5, 1, "HS307")], "sent to the controller"),
    "repeated-filter-steps": ({"a.cfg": "[default]\nfilters = a&, a&\n[quorvane]\naction = x\n"},
                              [("a.cfg", 2, 11, "HS402"), ("a.cfg", 2, 15, "HS402")], "stray `&`"),
    # The first reference, left to right, that goes too deep is the one named.
    "too-deep-first-on-the-left": ({"a.cfg": "[quorvane]\naction = x\nv = %(d2)s%(d1)s\n"
                                             + "".join(f"d{i} = %(d{i + 1})s\n" for i in range(1, 12))
                                             + "d12 = end\n"},
                                   [("a.cfg", 3, 5, "HS204"), ("a.cfg", 4, 6, "HS204")],
                                   "through `d11`"),
        "case-folded-reference": ({"a.cfg": "[quorvane]\naction = x\ngw_name = g\nv = %(GW_Name)s\n"},
                              [], ""),
    # A lone "\r" ends a line: the byte after the second is at the start of line 3.
    "undecodable-after-lone-CR": ({"a.cfg": b"[default]\rdescription = x\r\xff = 1\n"},
                                  [("a.cfg", 3, 1, "HS102"), ("a.cfg", None, None, "HS301"),
                                   ("a.cfg", 3, 1, "HS304")], "the run"),
    # Each value has the run's own bound: 31 MB over a file's values is no mistake, and a
    # mistake after them is still found.
    "large-default-referred-often": ({"a.cfg": "[DEFAULT]\nbig = " + "x" * (1 << 20) + "\n[quorvane]\n"
                                               "action = x\n" + "".join(f"f{i} = %(big)s\n" for i in range(30))
                                               + "size = 50%\n"}, [("a.cfg", 35, 10, "HS201")], "`50%%`"),
    "examples-lint-clean": ({}, [], ""),
    # A file reached by two paths is a check under each, as the run names it: through the link,
    # and through the reference that the run follows while it runs a.cfg.
    "mistake-through-a-link": ({"a.cfg": "[quorvane]\naction = x\ni = output(lib/x.ini)\n",
                                "lib/x.ini": "[quorvane]\naction = 5%\n",
                                "z.cfg": ("link", "lib/x.ini")},
                               [("lib/x.ini", 2, 11, "HS201"), ("z.cfg", 2, 11, "HS201")], "`5%%`"),
    "listed-link": ({"a.cfg": "[quorvane]\naction = 5%\n", "b.cfg": ("link", "a.cfg")},
                    [("a.cfg", 2, 11, "HS201"), ("b.cfg", 2, 11, "HS201")], "`5%%`"),
    # Advice that would work: never the referring file itself (a loop), nor a directory.
    "missing-check-near-itself": ({"gateways.cfg": "[quorvane]\naction = x\ni = output(gateway.cfg)\n"},
                                  [("gateways.cfg", 3, 5, "HS501")], "name an existing check file"),
    "missing-check-near-a-directory": ({"a.cfg": "[quorvane]\naction = x\ni = output(libs)\n",
                                        "lib/b.ini": PLAIN},
                                       [("a.cfg", 3, 5, "HS501")], "name an existing check file"),
    # The directory is listed once for all the references that miss in it, and serves each.
    "missing-checks-share-a-listing": ({"a.cfg": "[quorvane]\naction = x\ni = output(gatways.cfg)\n",
                                        "b.cfg": "[quorvane]\naction = x\ni = output(gatways.cfg)\n",
                                        "gateways.cfg": PLAIN},
                                       [("a.cfg", 3, 5, "HS501"), ("b.cfg", 3, 5, "HS501")],
                                       "did you mean `gateways.cfg`?"),
    # A name the missing one begins with, though far from it in length.
    "missing-check-begun": ({"a.cfg": "[quorvane]\naction = x\ni = output(gateways.cfg.old)\n",
                             "gateways.cfg": PLAIN},
                            [("a.cfg", 3, 5, "HS501")], "did you mean `gateways.cfg`?"),
    "skipped-directory": ({"lib.ini/x.cfg": PLAIN, "a.cfg": PLAIN}, [], ""),
    "skipped-name-taken": ({"a.CFG": PLAIN, "a.cfg": PLAIN}, [("a.CFG", None, None, "HS601")],
                           "(`a.cfg` is taken)"),
}


@pytest.mark.parametrize("files, expected, wording", MISTAKES.values(), ids=MISTAKES.keys())
def test_each_mistake_gives_its_finding(tmp_path, files, expected, wording):
    root = tmp_path / "checks"
    root.mkdir()
    make(root, files)
    target = root if files else EXAMPLES
    findings = lint(target)
    assert sorted(found(root, findings), key=str) == sorted(expected, key=str)
    # Each file's findings together, from its top: those without a line first.
    for path in {finding.path for finding in findings}:
        lines = [finding.line or 0 for finding in findings if finding.path == path]
        assert lines == sorted(lines)
    assert all(wording in finding.message for finding in findings)
    severities = dict(_lint.codes())
    assert all(finding.severity == severities[finding.code] for finding in findings)


# Advice names only what would work: a name the value can see (its own section, [DEFAULT]),
# never the value itself, never what was written; near only when close for its length.
@pytest.mark.parametrize("content, code, advice, not_advised", [
    # The description sees [default] and [DEFAULT], not [quorvane].
    ("[default]\ndescription = %(gw_nmae)s\n[quorvane]\naction = x\ngw_name = g\n", "HS211",
     "define `gw_nmae`", "%(gw_name)s"),
    ("[default]\ndescription = %(gw_nmae)s\n[DEFAULT]\ngw_name = g\n[quorvane]\naction = x\n",
     "HS211", "or write `%(gw_name)s`", None),
    # A field sees [quorvane] and [DEFAULT], not [default].
    ("[default]\nzone = z\n[quorvane]\naction = x\nv = %(zome)s\n", "HS203", "define `zome`", "%(zone)s"),
    # Not the option itself, whose reference to itself would loop, nor one leading to the
    # mistake (zone, through a).
    ("[quorvane]\naction = x\nzone = %(zones)s\n", "HS203", "define `zones`", "%(zone)s"),
    ("[quorvane]\naction = x\nzone = %(a)s\na = %(zones)s\n", "HS203", "define `zones`",
     "%(zone)s"),
    # Short names: one edit for names under six letters, two from six on.
    ("[quorvane]\naction = x\nzone = z\nv = %(zne)s\n", "HS203", "or write `%(zone)s`", None),
    ("[quorvane]\naction = x\nzone = z\nv = %(zn)s\n", "HS203", "define `zn`", "%(zone)s"),
    ("[quorvane]\naction = x\nregion = r\nv = %(regoni)s\n", "HS203", "or write `%(region)s`", None),
    ("[quorvane]\naction = x\nab = r\nv = %(xy)s\n", "HS203", "define `xy`", "%(ab)s"),
    # A swap of neighbours is one edit, for short names as for long ones.
    ("[quorvane]\naction = x\nzone = z\nv = %(zoen)s\n", "HS203", "or write `%(zone)s`", None),
    ("[quorvane]\naction = x\nregion = r\nv = %(regoin)s\n", "HS203", "or write `%(region)s`", None),
    # The empty reference gets no `%()s` back; an unfinished one its finished form.
    ("[quorvane]\naction = x\nv = %()s\n", "HS202", "write the name of an option between", "`%()s`"),
    ("[quorvane]\naction = x\nregion = r\nv = %(region\n", "HS202", "write `%(region)s`, or", None),
    ("[quorvane]\naction = x\nv = %(region\n", "HS202", "and define `region`", None),
])
def test_advice_names_what_works(tmp_path, content, code, advice, not_advised):
    (tmp_path / "a.cfg").write_text(content)
    for finding in [f for f in lint(tmp_path) if f.code == code]:
        assert advice in finding.message
        assert not_advised is None or not_advised not in finding.message


@pytest.mark.parametrize("kind", ["fifo", "link-loop", "long-chain", "large-file", "many-mistakes",
                                  "many-marks", "multiplying", "sparse", "open-references",
                                  "many-failing-fields", "chain-of-references", "values-past-kept",
                                  "many-continued-lines", "too-many-lookups", "too-many-characters"])
def test_odd_entries_give_findings_not_crashes(tmp_path, kind):
    if kind == "fifo":
        os.mkfifo(tmp_path / "a.cfg")  # opened, a run would wait on it for ever
        expected = [("a.cfg", None, None, "HS101")]
    elif kind == "link-loop":
        os.symlink("a.cfg", tmp_path / "a.cfg")
        expected = [("a.cfg", None, None, "HS101")]
    elif kind == "long-chain":
        for i in range(1000):
            (tmp_path / f"c{i}.cfg").write_text(
                f"[quorvane]\naction = x\ni = output(c{i + 1}.cfg)\n" if i < 999 else PLAIN)
        expected = []
        # Each check holds its own link; the chain is followed by the checks' paths.
        checks = {check["path"]: check for check in plan(tmp_path)}
        chain = [str(tmp_path / "c0.cfg")]
        while checks[chain[-1]]["follows"]:
            chain.append(checks[chain[-1]]["follows"]["check"])
        assert len(chain) == 1000 and chain[-1].endswith("c999.cfg")
    elif kind == "large-file":
        (tmp_path / "a.cfg").write_text(PLAIN + "x = " + "y" * (10 << 20) + "\n")
        expected = []
    elif kind == "many-mistakes":  # the first 100 of a code, then how many more
        (tmp_path / "a.cfg").write_text(PLAIN + "junk\n" * 150)
        expected = [("a.cfg", line, 1, "HS107") for line in range(5, 105)]
        expected.append(("a.cfg", None, None, "HS107"))
        *shown, more = lint(tmp_path)
        assert "and 50 more" in more.message and (more.summary, more.left_out) == (True, 50)
        assert not any(finding.summary or finding.left_out for finding in shown)
    elif kind == "many-marks":
        (tmp_path / "a.cfg").write_text("\ufeff" * 100_000)
        expected = [("a.cfg", 1, 1, "HS103"), ("a.cfg", None, None, "HS301")]
    elif kind == "sparse":  # the run would read 200 GB; the file beside it is still linted
        with open(tmp_path / "a.cfg", "wb") as huge:
            huge.truncate(200 << 30)
        (tmp_path / "b.cfg").write_text("[quorvane]\naction = 5%\n")
        (tmp_path / "c.cfg").write_text("[quorvane]\naction = x\ng = output(a.cfg)\n")
        expected = [("a.cfg", None, None, "HS101"), ("b.cfg", 2, 11, "HS201"),
                    ("c.cfg", 3, 5, "HS501")]
        assert all("204800 MiB" in f.message for f in lint(tmp_path) if f.code in ("HS101", "HS501"))
    elif kind == "open-references":  # one reference whose name is the rest of the value
        (tmp_path / "a.cfg").write_text("[quorvane]\naction = x\nv = " + "%(" * 20_000 + ")s\n")
        expected = [("a.cfg", 3, 5, "HS203")]
    elif kind == "many-failing-fields":  # near names for the first hundred, then a count
        fields = "".join(f"f{i} = %(ok{i % 3}x)s\n" for i in range(150))
        (tmp_path / "a.cfg").write_text("[quorvane]\naction = x\n" + fields + "ok0 = a\nok1 = b\n")
        expected = [("a.cfg", i + 3, len(f"f{i} = ") + 1, "HS203") for i in range(100)]
        expected.append(("a.cfg", None, None, "HS203"))
        assert "or write `%(ok0)s`" in lint(tmp_path)[0].message
    elif kind == "chain-of-references":  # each refers to the next: those 10 from the end read
        chain = "".join(f"a{i} = %(a{i + 1})s\n" for i in range(30))
        (tmp_path / "a.cfg").write_text("[quorvane]\naction = x\n" + chain + "a30 = z\n")
        expected = [("a.cfg", i + 3, len(f"a{i} = ") + 1, "HS204") for i in range(20)]
    elif kind == "values-past-kept":  # the plan shows the start of what it cannot keep
        (tmp_path / "a.cfg").write_text("[DEFAULT]\nbig = " + "x" * (2 << 20) + "\n[quorvane]\n"
                                        "action = x\na = %(big)s\nb = <%(big)s>\n")
        expected = []
        fields = {f["name"]: f for f in plan(tmp_path)[0]["fields"]}
        assert fields["a"]["value"] == "x" * (2 << 20) and "length" not in fields["a"]
        assert (fields["b"]["value"], fields["b"]["length"]) == ("<xxxxxxx...", (2 << 20) + 2)
    elif kind == "many-continued-lines":  # the first hundred, then a count
        (tmp_path / "a.cfg").write_text("[quorvane]\naction = x\n" + "  k = v\n" * 150)
        expected = [("a.cfg", line, 3, "HS109") for line in range(3, 103)]
        expected.append(("a.cfg", None, None, "HS109"))
        assert "and 50 more" in lint(tmp_path)[-1].message
    elif kind == "too-many-lookups":  # 10**8 references to empty values: time, not memory
        chain = "".join(f"v{i} = " + f"%(v{i + 1})s" * 10 + "\n" for i in range(8))
        (tmp_path / "a.cfg").write_text(PLAIN + chain + "v8 =\n")
        expected = [("a.cfg", 5, 6, "HS205")]
        assert "16 million lookups" in lint(tmp_path)[0].message
    elif kind == "too-many-characters":  # 5,000 references to 1 MB: 5 thousand million characters
        (tmp_path / "a.cfg").write_text(PLAIN + "big = " + "x" * (1 << 20) + "\nv = "
                                        + "%(big)s" * 5000 + "\nw = " + "%(big)s" * 4000 + "\n")
        expected = [("a.cfg", 6, 5, "HS205")]
        assert "4 thousand million characters" in lint(tmp_path)[0].message
    else:  # v0 would be 10**9 copies of v9, v1 10**8; v2's 10**7 the run still gets through
        chain = "".join(f"v{i} = " + f"%(v{i + 1})s" * 10 + "\n" for i in range(9))
        (tmp_path / "a.cfg").write_text(PLAIN + chain + "v9 = " + "y" * 100 + "\n")
        expected = [("a.cfg", 5, 6, "HS205"), ("a.cfg", 6, 6, "HS205")]
    assert sorted(found(tmp_path, lint(tmp_path)), key=str) == sorted(expected, key=str)


def run_command(capsys, *argv):
    with pytest.raises(SystemExit) as ended:
        run(list(argv))
        sys.exit(0)
    out, err = capsys.readouterr()
    return ended.value.code, out, err


@pytest.fixture
def mixed(tmp_path):
    """A directory with one error (HS201) and one warning (HS302)."""
    make(tmp_path, {"a.cfg": "[quorvane]\naction = 5%\n", "b.cfg": "[quorvane]\nname = x\n"})
    return tmp_path


@pytest.mark.parametrize("argv, status, lines", [
    (["--format", "text"], 1, ["{a}:2:11: HS201 error: a lone `%` ends the run with "
                                "InterpolationSyntaxError; write `5%%`",
                                "{b}:1:1: HS302 warning: `[quorvane]` has no `action`, so the "
                                "request names no operation for the controller; add "
                                "`action = ...`"]),
    (["--ignore", "HS201"], 0, ["{b}:1:1: HS302 warning: "]),
    (["--ignore", "hs201", "--strict"], 1, ["{b}:1:1: HS302 warning: "]),
    (["--ignore", "HS201,HS302", "--strict"], 0, []),
    (["--ignore", "HS201", "--ignore", "HS302", "--strict"], 0, []),
    (["--format", "github", "--ignore", "HS302"], 1,
     ["::error file={a},line=2,col=11,title=HS201::a lone `%25` ends the run"]),
    (["--format", "github", "--ignore", "HS201"], 0,
     ["::warning file={b},line=1,col=1,title=HS302::`[quorvane]` has no"]),
    (["--ignore", "HS999"], 2, []),
    (["--format", "yaml"], 2, []),
    # Errors alone fail with or without --strict.
    (["--ignore", "HS302", "--strict"], 1, ["{a}:2:11: HS201 error: "]),
    (["--plan", "--format", "github"], 2, []),
])
def test_formats_and_exit_statuses(capsys, mixed, argv, status, lines):
    code, out, err = run_command(capsys, str(mixed), *argv)
    assert code == status
    names = {"a": str(mixed / "a.cfg"), "b": str(mixed / "b.cfg")}
    got = out.splitlines()
    assert len(got) == len(lines)
    for line, expected in zip(sorted(got), lines):
        assert line.startswith(expected.format(**names))
    if status == 2:
        assert "usage:" in err and "Traceback" not in err


def test_json_gives_every_field(capsys, mixed):
    code, out, _ = run_command(capsys, str(mixed / "a.cfg"), "--format", "json")
    assert code == 1
    assert json.loads(out) == [{
        "path": str(mixed / "a.cfg"), "line": 2, "column": 11, "code": "HS201",
        "severity": "error", "summary": False,
        "message": "a lone `%` ends the run with InterpolationSyntaxError; write `5%%`"}]
    code, out, _ = run_command(capsys, str(mixed / "b.cfg"), "--format", "json",
                               "--ignore", "HS302")
    assert (code, json.loads(out)) == (0, [])


def test_plan_fails_as_the_findings_do(capsys, mixed):
    code, out, err = run_command(capsys, str(mixed / "a.cfg"), "--plan")
    assert (code, out.splitlines()[0]) == (1, str(mixed / "a.cfg"))
    assert "run without --plan" in err


@pytest.mark.parametrize("environment, codes", [
    ({"LC_ALL": "C.UTF-8"}, []),
    # The run's open() takes the locale's encoding: in the C locale, without UTF-8 mode, ASCII.
    ({"LC_ALL": "C", "PYTHONUTF8": "0", "PYTHONCOERCECLOCALE": "0"}, ["HS102"]),
    # Asking open() which encoding it takes warns of nothing, and fails under no -W error.
    ({"LC_ALL": "C.UTF-8", "PYTHONWARNDEFAULTENCODING": "1"}, []),
    ({"LC_ALL": "C.UTF-8", "PYTHONWARNDEFAULTENCODING": "1",
      "PYTHONWARNINGS": "error::EncodingWarning"}, []),
])
def test_files_are_read_in_the_encoding_open_takes(tmp_path, environment, codes):
    (tmp_path / "a.cfg").write_text("[default]\ndescription = café\n[quorvane]\naction = x\n")
    # A name that is not UTF-8 is shown, not a failure.
    (tmp_path / os.fsdecode(b"\xff.cfg")).write_text(PLAIN)
    command = [sys.executable, "-m", "harborsweep.lint", "--format", "json", str(tmp_path)]
    done = subprocess.run(command, capture_output=True, text=True,
                          env={**os.environ, **environment}, errors="surrogateescape")
    assert [finding["code"] for finding in json.loads(done.stdout)] == codes
    assert done.returncode == (1 if codes else 0) and done.stderr == ""


def test_the_codes_are_those_the_readme_lists():
    readme = (Path(__file__).parent.parent / "README.md").read_text()
    listed = re.findall(r"^\| (HS\d{3}) \| (error|warning) \|", readme, re.M)
    assert listed == _lint.codes()


@pytest.mark.parametrize("command, argv, message", [
    ([LINT_SCRIPT], ["{tmp}/missing"], "No such file or directory"),
    ([sys.executable, "-m", "harborsweep.lint"], [], "Default config directory not found: "),
], ids=["console script", "module"])
def test_the_commands_own_trouble_is_one_line_and_status_2(tmp_path, command, argv, message):
    command = command + [a.format(tmp=tmp_path) for a in argv]
    done = subprocess.run(command, capture_output=True, text=True, cwd=tmp_path)
    assert done.returncode == 2 and done.stdout == ""
    assert done.stderr.startswith("harborsweep-lint: error: ") and message in done.stderr
    assert len(done.stderr.splitlines()) == 1


def test_plan_lists_what_the_run_sends(tmp_path, capsys):
    make(tmp_path, {
        "detail.cfg": "[default]\ndescription = Each\n  of them\nfilters = results, a & b\n"
                      "[quorvane]\nAction = show\nitem = output(lib/items.ini)\nzone = %(region)s\n"
                      "[DEFAULT]\nregion = east\n",
        "lib/items.ini": "[quorvane]\naction = list\nof = output(lib/kinds.ini)\n",
        "lib/kinds.ini": "[quorvane]\naction = kinds\n",
    })
    # The listed check, then each it reaches only through references, each holding its own link.
    check, items, kinds = plan(tmp_path)
    assert [c["listed"] for c in (check, items, kinds)] == [True, False, False]
    assert (items["description"], kinds["follows"]) == (None, None)
    assert check["description"] == "Each\nof them"
    assert [(f["name"], f["value"]) for f in check["fields"]] == [
        ("CID", "<session id>"), ("action", "show"), ("item", "output(lib/items.ini)"),
        ("zone", "east"), ("region", "east")]
    assert check["filters"] == ["results", "a & b"]
    assert [(c["follows"]["field"], os.path.relpath(c["follows"]["check"], tmp_path))
            for c in (check, items)] == [("item", "lib/items.ini"), ("of", "lib/kinds.ini")]
    assert [os.path.relpath(c["path"], tmp_path) for c in (items, kinds)] \
        == ["lib/items.ini", "lib/kinds.ini"]
    code, out, _ = run_command(capsys, str(tmp_path), "--plan")
    assert code == 0
    assert out.splitlines()[1:6] == [
        "  prints:  Each", "           of them", "  sends:   CID = <session id>",
        "           action = 'show'",
        f"           item = each element of the result of {tmp_path}/lib/items.ini"]
    code, out, _ = run_command(capsys, str(tmp_path), "--plan", "--format", "json")
    assert json.loads(out) == plan(tmp_path)
    # One file alone: its references resolve against its own directory.
    assert plan(tmp_path / "detail.cfg") == plan(tmp_path)
    (tmp_path / "lib/kinds.ini").write_text("[quorvane]\naction = k\nof = output(detail.cfg)\n")
    # Every check on the loop is marked, and stops at itself.
    assert [(c["follows"]["loops"], c["errors"], c["stops_at"] == c["path"])
            for c in plan(tmp_path)] == [(True, ["HS503"], True)] * 3


def test_a_reader_that_goes_away_ends_the_command_quietly(tmp_path):
    for i in range(2000):  # more than a pipe holds
        (tmp_path / f"c{i}.cfg").write_text("[quorvane]\naction = 5%\n")
    done = subprocess.run(f"'{LINT_SCRIPT}' '{tmp_path}' | head -1; exit ${{PIPESTATUS[0]}}",
                          shell=True, executable="/bin/bash", capture_output=True, text=True)
    assert (done.returncode, done.stderr, len(done.stdout.splitlines())) == (141, "", 1)


@pytest.mark.parametrize("files, argv, stdout, count", [
    ({"a.cfg": PLAIN}, [], [], "Found 0 errors and 0 warnings in 1 check file."),
    ({"a.cfg": "[quorvane]\naction = 5%\n", "b.cfg": "[quorvane]\nname = x\n"}, [], 2,
     "Found 1 error and 1 warning in 2 check files."),
    # A summary row is no finding: it stands for those it counts, and reads as none.
    ({"a.cfg": PLAIN + "junk\n" * 150}, [], 101,
     "Found 150 errors and 0 warnings in 1 check file (50 of them not shown)."),
    ({"a.cfg": PLAIN + "junk\n" * 150}, ["--ignore", "HS107"], [],
     "Found 0 errors and 0 warnings in 1 check file."),
])
def test_the_count_and_the_summaries(capsys, tmp_path, files, argv, stdout, count):
    make(tmp_path, files)
    _, out, err = run_command(capsys, str(tmp_path), *argv)
    assert err == count + "\n"
    assert len(out.splitlines()) == (stdout if isinstance(stdout, int) else len(stdout))
    if "junk" in files["a.cfg"] and not argv:
        assert out.splitlines()[-1] == (f"{tmp_path}/a.cfg: ... 50 more HS107 errors in this "
                                        "file, not shown (at most 100 of a code)")
        _, out, _ = run_command(capsys, str(tmp_path), "--format", "json")
        rows = json.loads(out)
        assert [row["summary"] for row in rows] == [False] * 100 + [True]
        assert rows[-1]["left_out"] == 50 and "left_out" not in rows[0]
        _, out, _ = run_command(capsys, str(tmp_path), "--format", "github")
        assert out.splitlines()[-1].startswith(f"::notice file={tmp_path}/a.cfg,title=HS107::")


# What a file holds reaches the terminal as escapes: each finding one line, no raw control.
@pytest.mark.parametrize("name, text, form, wanted", [
    ("a.cfg", "[quorvane]\naction = x\ni = output(a\n  b.cfg)\n", "text",
     "{d}/a.cfg:3:5: HS501 error: `output(a\\nb.cfg)` refers to {d}/a\\nb.cfg, which"),
    ("a.cfg", "[quorvane]\naction = x\ni = output(\x1b[31mred.cfg)\n", "text",
     "{d}/a.cfg:3:5: HS501 error: `output(\\x1b[31mred.cfg)` refers to {d}/\\x1b[31mred.cfg"),
    ("e\x1bx\u2028.cfg", "[quorvane]\naction = 5%\n", "text", "{d}/e\\x1bx\\u2028.cfg:2:11: HS201"),
    ("a,b:c.cfg", "[quorvane]\naction = 5%\n", "github",
     "::error file={d}/a%2Cb%3Ac.cfg,line=2,col=11,title=HS201::a lone `%25`"),
    ("a.cfg", "[quorvane]\naction = x\ni = output(\x1bb.cfg)\n", "github",
     "::error file={d}/a.cfg,line=3,col=5,title=HS501::`output(\\x1bb.cfg)`"),
    ("a.cfg", "[default]\ndescription = one\x1b[2J\n  two\n[quorvane]\nz\x1b = 1\x1b\naction=x\n",
     "plan", "  prints:  one\\x1b[2J\n           two\n  sends:   CID = <session id>\n"
             "           z\\x1b = '1\\x1b'\n"),
])
def test_nothing_raw_reaches_the_terminal(capsys, tmp_path, name, text, form, wanted):
    (tmp_path / name).write_text(text)
    argv = ["--plan"] if form == "plan" else ["--format", form]
    _, out, err = run_command(capsys, str(tmp_path), *argv)
    assert wanted.format(d=tmp_path) in out
    assert not re.search("[\x00-\x09\x0b-\x1f\x7f\u2028]", out + err)
    if form != "plan":
        assert len(out.splitlines()) == 1


BROKEN = "[quorvane]\naction = x\ni = output(lib/r.ini)\n"


# --plan marks each check the run cannot complete, with its codes, and where down its chain.
@pytest.mark.parametrize("files, marks", [
    ({"a.cfg": b"[quorvane]\naction = caf\xe9\n"}, {"a.cfg": (["HS102"], "a.cfg")}),
    ({"a.cfg": b"\xef\xbb\xbf" + PLAIN.encode()}, {"a.cfg": (["HS103"], "a.cfg")}),
    ({"a.cfg": PLAIN + "Action = y\n"}, {"a.cfg": (["HS106"], "a.cfg")}),
    ({"a.cfg": "[quorvane]\naction = x\ni = output(nope.cfg)\n"}, {"a.cfg": (["HS501"], "a.cfg")}),
    ({"a.cfg": "[quorvane]\naction = x\ni = output(a.cfg)\n"}, {"a.cfg": (["HS503"], "a.cfg")}),
    ({"a.cfg": None}, {"a.cfg": (["HS101"], "a.cfg")}),
    # Down the chain: the check is marked with where the run ends; the one it leads to, by itself.
    ({"a.cfg": BROKEN, "lib/r.ini": "[quorvane]\naction = %\n"},
     {"a.cfg": ([], "lib/r.ini"), "lib/r.ini": (["HS201"], "lib/r.ini")}),
    ({"a.cfg": BROKEN, "lib/r.ini": "[quorvane]\naction = y\ni = output(lib/s.ini)\n",
      "lib/s.ini": "[quorvane]\naction = y\n[quorvane]\n"},
     {"a.cfg": ([], "lib/s.ini"), "lib/r.ini": ([], "lib/s.ini"), "lib/s.ini": (["HS105"], "lib/s.ini")}),
    ({"a.cfg": BROKEN, "lib/r.ini": PLAIN},
     {"a.cfg": ([], None), "lib/r.ini": ([], None)}),
    # A warning does not stop the run: it is listed, unmarked.
    ({"a.cfg": "[defualt]\n[quorvane]\naction = x\n"}, {"a.cfg": ([], None)}),
])
def test_plan_marks_what_the_run_cannot_complete(capsys, tmp_path, files, marks):
    make(tmp_path, files)
    checks = plan(tmp_path)
    got = {os.path.relpath(c["path"], tmp_path):
           (c["errors"], c["stops_at"] and os.path.relpath(c["stops_at"], tmp_path)) for c in checks}
    assert got == marks
    _, out, _ = run_command(capsys, str(tmp_path), "--plan")
    for check in checks:
        errors, stop = check["errors"], check["stops_at"]
        block = out.split(check["path"] + "\n", 1)[1] if check["listed"] else out
        if stop == check["path"]:
            assert f"  stops:   here, with {', '.join(errors)}: the run ends" in block
        elif stop:
            assert f"  stops:   down its chain, at {stop}: the run ends there" in block
        else:
            assert "stops:" not in out
    if "[defualt]" in str(files):
        assert "  warns:   HS303\n" in out


def test_plan_names_each_check_by_the_path_the_run_opens(tmp_path):
    make(tmp_path, {"a.cfg": PLAIN, "b.cfg": ("link", "a.cfg"),
                    "c.cfg": "[quorvane]\naction = x\ni = output(lib/x.ini)\n",
                    "lib/x.ini": PLAIN, "z.cfg": ("link", "lib/x.ini")})
    checks = plan(tmp_path)
    names = [os.path.relpath(c["path"], tmp_path) for c in checks]
    assert sorted(names[:4]) == ["a.cfg", "b.cfg", "c.cfg", "z.cfg"] and names[4:] == ["lib/x.ini"]
    assert [c["listed"] for c in checks] == [True] * 4 + [False]


# A check file given alone resolves its references against the configuration directory named.
@pytest.mark.parametrize("config_dir, codes", [(None, ["HS501"]), ("", []), ("lib", ["HS501"])])
def test_a_lone_file_resolves_as_the_run_resolves(capsys, tmp_path, config_dir, codes):
    make(tmp_path, {"gateway_list.cfg": PLAIN,
                    "lib/per_gw.cfg": "[quorvane]\naction = x\ngw_name = output(gateway_list.cfg)\n"})
    directory = None if config_dir is None else str(tmp_path / config_dir)
    assert [f.code for f in lint(tmp_path / "lib/per_gw.cfg", directory)] == codes
    argv = [] if directory is None else ["--config-dir", directory]
    code, out, _ = run_command(capsys, str(tmp_path / "lib/per_gw.cfg"), "--format", "json", *argv)
    assert (code, [f["code"] for f in json.loads(out)]) == (1 if codes else 0, codes)


HOOK_REPOSITORY = {"gateway_list.cfg": PLAIN, "details.cfg": "[quorvane]\naction = x\ni = output(lib/per_gw.cfg)\n",
                   "lib/per_gw.cfg": "[quorvane]\naction = x\ngw_name = output(gateway_list.cfg)\n",
                   "lib/names.ini": PLAIN, "x.CFG": PLAIN, "checks/a.cfg": PLAIN,
                   "checks/b.conf": PLAIN, "other/y.conf": PLAIN}


# --changed, as the hook runs it from the top of the repository: each changed file's check
# directory, whole, references resolved from it.
@pytest.mark.parametrize("changed, argv, status, found", [
    (["lib/per_gw.cfg"], [], 0, [("./x.CFG", "HS601")]),
    (["lib/names.ini", "details.cfg"], [], 0, [("./x.CFG", "HS601")]),
    # A renamed file fails through the file that refers to it.
    (["gateways.cfg"], [], 1, [("./lib/per_gw.cfg", "HS501"), ("./x.CFG", "HS601")]),
    (["x.CFG"], [], 0, [("./x.CFG", "HS601")]),
    (["x.CFG"], ["--strict"], 1, [("./x.CFG", "HS601")]),
    # The outermost folder that holds a check file; a folder without one is its own.
    (["checks/b.conf"], [], 0, [("./x.CFG", "HS601")]),
    (["checks/b.conf"], ["--config-dir", "checks"], 0, [("checks/b.conf", "HS601")]),
    (["other/y.conf"], [], 0, [("./x.CFG", "HS601")]),
    # No file changed: nothing to lint, even with a directory named.
    ([], [], 0, []),
    ([], ["--config-dir", "checks"], 0, []),
])
def test_changed_files_lint_their_check_directories(capsys, tmp_path, monkeypatch, changed, argv,
                                                    status, found):
    make(tmp_path, HOOK_REPOSITORY)
    if changed == ["gateways.cfg"]:
        (tmp_path / "gateway_list.cfg").rename(tmp_path / "gateways.cfg")
    monkeypatch.chdir(tmp_path)
    code, out, err = run_command(capsys, "--changed", "--format", "json", *argv, *changed)
    assert code == status
    assert [(f["path"], f["code"]) for f in json.loads(out)] == found


def test_the_hook_reaches_every_name_the_run_might_mean():
    hook = (Path(__file__).parent.parent / ".pre-commit-hooks.yaml").read_text()
    settings = dict(re.findall(r"^  (\w+): (.*)$", hook, re.M))
    pattern = re.compile(settings["files"])
    reached = ["a.cfg", "lib/x.ini", "x.CFG", "x.conf", "X.Ini", "lib.INI"]
    assert all(pattern.search(name) for name in reached)
    assert not any(pattern.search(name) for name in ["a.cfg.bak", "notes.txt", "cfg"])
    assert settings["entry"] == "harborsweep-lint --changed"
    assert settings["args"] == "[--strict]" and settings["require_serial"] == "true"


# Ctrl-C: the native reading asks for signals as it goes. The handler raises only on its fifth
# tick, which comes during the lint only if the lint looks for signals while it works.
CTRL_C = """
import signal, sys
from harborsweep import _lint
from harborsweep.lint import run
ticks = []
def tick(number, frame):
    ticks.append(1)
    if len(ticks) == 5:
        signal.setitimer(signal.ITIMER_REAL, 0)
        raise KeyboardInterrupt
signal.signal(signal.SIGALRM, tick)
signal.setitimer(signal.ITIMER_REAL, 0.001, 0.001)
{call}
"""


@pytest.mark.parametrize("call, status, stderr", [
    ("try:\n    _lint.check([sys.argv[1]], None, True)\nexcept KeyboardInterrupt:\n    sys.exit(3)",
     3, ""),
    ("run([sys.argv[1]])", 130, "harborsweep-lint: interrupted\n"),
    ("run(['--plan', '--format', 'json', sys.argv[1]])", 130, "harborsweep-lint: interrupted\n"),
    # Pressed as the command ends, while the interpreter exits: nothing more to say.
    ("signal.setitimer(signal.ITIMER_REAL, 0)\nimport atexit, os\n"
     "atexit.register(lambda: [os.kill(os.getpid(), signal.SIGINT), 0][1])\n"
     "sys.argv = ['harborsweep-lint', '--ignore', 'HS501', sys.argv[1]]\nrun()",
     0, "Found 0 errors and 0 warnings in 3000 check files.\n"),
])
def test_ctrl_c_ends_the_lint_with_one_line(tmp_path, call, status, stderr):
    for i in range(3000):
        (tmp_path / f"c{i}.cfg").write_text(f"[quorvane]\naction = x\ni = output(c{i + 1}.cfg)\n")
    done = subprocess.run([sys.executable, "-c", CTRL_C.format(call=call), str(tmp_path)],
                          capture_output=True, text=True)
    assert (done.returncode, done.stderr, done.stdout) == (status, stderr, "")
