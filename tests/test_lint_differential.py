# The linter held to the run itself: check directories drawn at random (seeded, so that a
# failure is the same example each time), linted and planned, then run against the stand-in
# controller. No error means the run ends with 0; a run that fails stops at the first check
# that the plan marks, with an error found in the file where it stops; and the requests that
# the controller logs are those that the plan lists, field by field, down the chains.
import random

import pytest
import requests

from harborsweep.harborsweep import filter_results
from harborsweep.lint import lint, plan
from launcher import run_harborsweep, write_checks
from standin_controller import Account, Reply, Rule, Scenario

ANSWER = {"return": True, "results": [{"gw_name": "g1", "state": "up"}, {"gw_name": "g2"}]}
ACTIONS = ["list_gateways", "show_gateway", "list_vpcs"]
LOGIN = b"action=login&username=admin&password=pw"
# Filter paths whose result a chain can take element by element (a list, a text, a mapping).
FILTERS = [None, "results", "results, gw_name", "results , gw_name & state", ""]
# Lines that read well, and (rarer) mistakes: the run should stop at a few checks, not most.
DEFAULTS = ["region = east", "zone = z1", "tier = %(region)s", "description = sent too"]
BAD_DEFAULTS = ["size = 5%", "Zone = z2"]
EXTRAS = ["zone = west", "vpc = %(region)s-1", "note = a ; b", "ref = output(lib/r0.ini)",
          "ref = Output(lib/r0.ini)", "ref = output(lib/r1.ini)", "deep = %(a)s", "pct = 100%%",
          "cid = mine"]
BAD_EXTRAS = ["count = 5%", "tag = %(missing)s", "Action = again", "junk",
              "ref = output(missing.cfg)", "ref = output()"]


def check_text(rng, others):
    lines = ["\ufeff#"] if rng.random() < 0.05 else []
    if rng.random() < 0.4:
        lines += ["[DEFAULT]"] + rng.sample(DEFAULTS, rng.randint(1, 2))
        if rng.random() < 0.1:
            lines.append(rng.choice(BAD_DEFAULTS))
    if rng.random() < 0.8:
        lines.append(rng.choices(["[default]", "[defualt]"], [9, 1])[0])
        lines.append("description = " + rng.choice(["Check", "50%% up", "100% up", "%(who)s",
                                                    "%(region)s", "two\n  lines"]))
        steps = rng.choice(FILTERS)
        if steps is not None:
            lines.append("filters = " + steps)
    lines.append(rng.choices(["[quorvane]", "[Quorvane]"], [12, 1])[0])
    lines.append("action = " + rng.choice(ACTIONS))
    extras = rng.sample(EXTRAS + [f"ref = output({name})" for name in others], rng.randint(0, 3))
    if rng.random() < 0.15:
        extras.append(rng.choice(BAD_EXTRAS))
    if "deep = %(a)s" in extras:
        extras += ["a = %(b)s", "b = %(a)s" if rng.random() < 0.2 else "b = end"]
    # Each reference under a name of its own: two in one check is a mistake the run goes past.
    refs = iter(range(10))
    extras = [line.replace("ref =", f"ref{next(refs)} =") if line.startswith("ref =") else line
              for line in extras]
    return "\n".join(lines + extras) + "\n"


def directory(seed):
    rng = random.Random(seed)
    names = [f"c{i}.cfg" for i in range(rng.randint(1, 4))]
    # Mostly chains onward, now and then one back (a loop).
    files = {name: check_text(rng, names[i + 1:] + ([rng.choice(names[:i + 1])] if rng.random() < 0.2 else []))
             for i, name in enumerate(names)}
    files["lib/r0.ini"] = f"[default]\nfilters = results, gw_name\n[quorvane]\naction = {ACTIONS[0]}\n"
    files["lib/r1.ini"] = check_text(rng, ["c0.cfg"])
    return files


FIXED = {
    # [DEFAULT]'s option is sent once, where [quorvane] puts its own, with its own value.
    "defaults-overridden": {"a.cfg": "[DEFAULT]\nzone = z1\nregion = east\n[quorvane]\n"
                                     "action = list_vpcs\nzone = west\nwhere = %(zone)s\n"},
    "chain-of-three": {"a.cfg": "[default]\nfilters = results\n[quorvane]\naction = show_gateway\n"
                                "gw = output(lib/b.ini)\n",
                       "lib/b.ini": "[default]\nfilters = results, gw_name\n[quorvane]\n"
                                    "action = list_gateways\nvpc = output(lib/c.ini)\n",
                       "lib/c.ini": "[quorvane]\naction = list_vpcs\n"},
    "second-fails": {"a.cfg": "[quorvane]\naction = list_vpcs\n", "b.cfg": "[quorvane]\naction = 5%\n"},
}


def body(fields):
    """The form body that requests sends for the run's fields, CID first."""
    return requests.models.RequestEncodingMixin._encode_params({"CID": "c-1", **fields}).encode()


def sent(check, checks):
    """The action requests of one check as the plan has it, its chain's first, and its result."""
    fields = {field["name"]: field["value"] for field in check["fields"][1:]}
    link = check["follows"]
    if link is None:
        return [body(fields)], filter_results(ANSWER, check["filters"])
    bodies, nested = sent(checks[link["check"]], checks)
    result = []
    for element in [nested] if isinstance(nested, str) else nested:
        fields[link["field"]] = element
        bodies.append(body(fields))
        result.append({"object": element, "results": filter_results(ANSWER, check["filters"])})
    return bodies, result


@pytest.mark.parametrize("files", [*FIXED.values(), *map(directory, range(24))],
                         ids=[*FIXED, *(f"seed-{seed}" for seed in range(24))])
def test_the_run_does_what_the_linter_says(controller, tmp_path, files):
    stand_in = controller(Scenario(accounts=[Account("admin", "pw", cid="c-1")],
                                   rules=[Rule({"action": a}, Reply(json=ANSWER)) for a in ACTIONS]))
    root = write_checks(tmp_path / "checks", files)
    findings, checks = lint(root), plan(root)
    by_path = {check["path"]: check for check in checks}
    listed = [check for check in checks if check["listed"]]
    stop = next((i for i, check in enumerate(listed) if check["stops_at"]), len(listed))
    errors = {finding.path for finding in findings if finding.severity == "error"}
    assert bool(errors) == any(check["stops_at"] for check in checks)

    done = run_harborsweep("--controller_ip", stand_in.address, "--password", "pw",
                           "--config_dir", root)
    assert (done.returncode, stop == len(listed)) in ((0, True), (1, False)), done.stderr
    if not errors:
        assert done.returncode == 0
    if stop < len(listed):
        assert listed[stop]["stops_at"] in errors
    actions = [request for request in stand_in.bodies if request != LOGIN]
    assert actions == [request for check in listed[:stop] for request in sent(check, by_path)[0]]
