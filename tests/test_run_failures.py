# How a run ends when a check fails: at that check, with earlier output intact and later checks not run.
import signal
import subprocess
import sys
import time

import pytest

from launcher import check_order, check_output, clean_environment, error_and_notes, run_harborsweep, write_checks
from standin_controller import Account, Reply, Rule, Scenario

GOOD = "[default]\ndescription = Good %(name)s\nname = {name}\n[quorvane]\naction = echo\n"


def scenario():
    return Scenario(accounts=[Account("admin", "pw", cid="c-1")], rules=[
        Rule({"action": "echo"}, Reply(json={"ok": True})),
        Rule({"action": "html"}, Reply(body=b"<html>maintenance</html>", status=503)),
        Rule({"action": "drop"}, Reply(drop=True)),
        Rule({"action": "list"}, Reply(json={"results": [{"name": "a", "state": "up"}, {"name": "b"}]})),
        Rule({"action": "nothing"}, Reply(json={"results": None})),
    ])


LOGIN = b"action=login&username=admin&password=pw"


def action(name):
    return b"CID=c-1&action=" + name


# (content, description printed, last line of the error, what the failing check sent)
FAILURES = {
    "no section header": (b"action = echo\n", False, "configparser.MissingSectionHeaderError: ", []),
    "byte-order mark": (b"\xef\xbb\xbf[default]\ndescription = Bad\n[quorvane]\naction = echo\n", False,
                        "configparser.MissingSectionHeaderError: ", []),
    "duplicate option": (b"[quorvane]\nAction = a\naction = b\n", False, "configparser.DuplicateOptionError: ", []),
    "undecodable file": (b"[quorvane]\naction = \xff\xfe\n", False, "UnicodeDecodeError: ", []),
    "no [quorvane] section": (b"[default]\ndescription = Bad\n[Quorvane]\naction = echo\n", True,
                              "configparser.NoSectionError: No section: 'quorvane'", [LOGIN]),
    "only [DEFAULT] and [Quorvane]": (b"[DEFAULT]\naction = echo\n[Quorvane]\naction = echo\n", False,
                                      "configparser.NoSectionError: No section: 'quorvane'", [LOGIN]),
    "lone percent in a field": (b"[default]\ndescription = Bad\n[quorvane]\naction = 50%\n", True,
                                "configparser.InterpolationSyntaxError: ", [LOGIN]),
    "answer is not JSON": (b"[default]\ndescription = Bad\n[quorvane]\naction = html\n", True,
                           "requests.exceptions.JSONDecodeError: ", [LOGIN, action(b"html")]),
    "dropped connection": (b"[default]\ndescription = Bad\n[quorvane]\naction = drop\n", True,
                           "requests.exceptions.ConnectionError: ", [LOGIN, action(b"drop")]),
    "missing key on an array": (b"[default]\ndescription = Bad\nfilters = results, state\n"
                                b"[quorvane]\naction = list\n", True, "KeyError: 'state'", [LOGIN, action(b"list")]),
    "missing referenced check": (b"[default]\ndescription = Bad\n[quorvane]\naction = echo\n"
                                 b"x = output(missing.ini)\n", True, "FileNotFoundError: ", [LOGIN]),
    # An empty name is the configuration directory itself.
    "empty output reference": (b"[default]\ndescription = Bad\n[quorvane]\naction = echo\nx = output()\n", True,
                               "IsADirectoryError: ", [LOGIN]),
    "nested result is None": (b"[default]\ndescription = Bad\n[quorvane]\naction = echo\n"
                              b"x = output(nothing.ini)\n", True,
                              "TypeError: 'NoneType' object is not iterable", [LOGIN, LOGIN, action(b"nothing")]),
    "missing key in a referenced check": (b"[default]\ndescription = Bad\n[quorvane]\naction = echo\n"
                                          b"x = output(lib/states.ini)\n", True, "KeyError: 'state'",
                                          [LOGIN, LOGIN, action(b"list")]),
    "missing key two references down": (b"[default]\ndescription = Bad\n[quorvane]\naction = echo\n"
                                        b"x = output(lib/mid.ini)\n", True, "KeyError: 'state'",
                                        [LOGIN, LOGIN, LOGIN, action(b"list")]),
}

# Notes naming the check file, then each output reference on the way down.
REFERENCE_NOTES = {
    "missing referenced check": ["while running output(missing.ini) for {bad}"],
    "empty output reference": ["while running output() for {bad}"],
    "missing key in a referenced check": ["while running output(lib/states.ini) for {bad}"],
    "missing key two references down": ["while running output(lib/mid.ini) for {bad}",
                                        "while running output(lib/states.ini) for mid.ini"],
}


@pytest.mark.parametrize("case", sorted(FAILURES))
def test_a_failing_check_ends_the_run_there(controller, tmp_path, case):
    content, prints_description, error, sent = FAILURES[case]
    stand_in = controller(scenario())
    config_dir = write_checks(tmp_path, {
        **{f"{name}.cfg": "" for name in ("one", "two", "three", "four", "five")},
        "nothing.ini": "[default]\nfilters = results\n[quorvane]\naction = nothing\n",
        "lib/states.ini": "[default]\nfilters = results, state\n[quorvane]\naction = list\n",
        "lib/mid.ini": "[quorvane]\naction = list\nx = output(lib/states.ini)\n",
    })
    # The third check of five in listing order fails.
    order = check_order(config_dir)
    bad = order[2]
    write_checks(config_dir, {name: GOOD.format(name=name[:-4]) for name in order if name != bad})
    (tmp_path / bad).write_bytes(content)
    done = run_harborsweep("--controller_ip", stand_in.address, "--password", "pw",
                           "--config_dir", config_dir)
    assert done.returncode == 1
    report = done.stderr.decode()
    assert report.startswith("Traceback (most recent call last):")
    assert "\n" + error in report
    # The error is the same on every version; 3.11 and later add notes.
    if sys.version_info >= (3, 11):
        notes = [f"while running check file {bad}", *(n.format(bad=bad) for n in REFERENCE_NOTES.get(case, []))]
        assert report.endswith("\n" + "\n".join(notes) + "\n")
    else:
        assert "while running" not in report
    # The first two checks' output stays; the last two are not run.
    expected = "".join(check_output(f"Good {name[:-4]}", {"ok": True}) for name in order[:2])
    assert done.stdout.decode() == expected + ("Bad\n" if prints_description else "")
    assert stand_in.bodies == [LOGIN, *[LOGIN, action(b"echo")] * 2, *sent]


def test_directory_problems(controller, tmp_path):
    stand_in = controller(scenario())
    # A missing directory is found when it is listed, after the login.
    done = run_harborsweep("--controller_ip", stand_in.address, "--password", "pw",
                           "--config_dir", str(tmp_path / "missing"))
    assert done.returncode == 1 and done.stdout == b""
    assert done.stderr.decode().splitlines()[-1].startswith("FileNotFoundError: ")
    assert stand_in.bodies == [LOGIN]
    # A subdirectory whose name ends in ".cfg" is taken, and can't be opened.
    (tmp_path / "sub.cfg").mkdir()
    done = run_harborsweep("--controller_ip", stand_in.address, "--password", "pw",
                           "--config_dir", str(tmp_path))
    assert done.returncode == 1
    error, notes = error_and_notes(done.stderr)
    assert error.startswith("IsADirectoryError: ")
    assert notes == (["while running check file sub.cfg"] if sys.version_info >= (3, 11) else [])
    # A directory with no check files: nothing printed after the login.
    (tmp_path / "sub.cfg").rmdir()
    (tmp_path / "a.cfg.bak").write_text("[quorvane]\naction = echo\n")
    done = run_harborsweep("--controller_ip", stand_in.address, "--password", "pw",
                           "--config_dir", str(tmp_path))
    assert (done.returncode, done.stdout, done.stderr) == (0, b"", b"")
    assert stand_in.bodies == [LOGIN] * 3


def test_descriptions_that_cannot_be_printed_are_left_out(controller, tmp_path):
    stand_in = controller(scenario())
    config_dir = write_checks(tmp_path, {
        "percent.cfg": "[default]\ndescription = 100% up\n[quorvane]\naction = echo\n",
        "missing.cfg": "[quorvane]\naction = echo\n",
        # No description; an empty filter path is one empty step.
        "no_description.cfg": "[default]\nfilters =\n[quorvane]\naction = echo\n",
        # An indented comment is skipped without ending the value; an indented
        # header is a line of it.
        "lines.cfg": "[default]\ndescription = first\n  second\n    # not shown\n  [other]\n"
                     "[quorvane]\naction = echo\n",
    })
    done = run_harborsweep("--controller_ip", stand_in.address, "--password", "pw",
                           "--config_dir", config_dir)
    assert (done.returncode, done.stderr) == (0, b"")
    descriptions = {"percent.cfg": None, "missing.cfg": None, "lines.cfg": "first\nsecond\n[other]"}
    results = {"no_description.cfg": "FILTER_NOT_FOUND"}
    assert done.stdout.decode() == "".join(
        check_output(descriptions.get(name), results.get(name, {"ok": True})) for name in check_order(config_dir))


@pytest.mark.parametrize("signal_number", [signal.SIGTERM, signal.SIGKILL], ids=["SIGTERM", "SIGKILL"])
def test_finished_checks_survive_a_run_ended_from_outside(controller, tmp_path, signal_number):
    # Standard output to a file is block-buffered; the run must push each
    # check's output out before it waits on the controller again.
    stand_in = controller(Scenario(accounts=[Account("admin", "pw", cid="c-1")], rules=[
        Rule({"action": "echo"}, Reply(json={"ok": True})),
        Rule({"action": "hang"}, Reply(json={}, delay=60)),
    ]))
    config_dir = write_checks(tmp_path / "checks", {"a.cfg": "", "b.cfg": ""})
    first, second = check_order(config_dir)  # listing order, not sorted
    write_checks(config_dir, {first: "[default]\ndescription = First\n[quorvane]\naction = echo\n",
                              second: "[default]\ndescription = Second\n[quorvane]\naction = hang\n"})
    environment = clean_environment()
    environment.pop("PYTHONUNBUFFERED", None)
    with open(tmp_path / "report.txt", "wb") as report:
        child = subprocess.Popen([sys.executable, "-m", "harborsweep", "--controller_ip", stand_in.address,
                                  "--password", "pw", "--config_dir", config_dir],
                                 stdin=subprocess.DEVNULL, stdout=report, stderr=subprocess.DEVNULL, env=environment)
        try:
            deadline = time.monotonic() + 30
            while b"action=hang" not in b"".join(stand_in.bodies) and time.monotonic() < deadline:
                time.sleep(0.05)
            child.send_signal(signal_number)
        finally:
            child.kill()
            child.wait()
    assert child.returncode == -signal_number
    assert (tmp_path / "report.txt").read_bytes() == (check_output("First", {"ok": True}) + "Second\n").encode()
