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


FAILURES = {
    "no section header": (b"action = echo\n", False, "configparser.MissingSectionHeaderError: "),
    "duplicate option": (b"[quorvane]\nAction = a\naction = b\n", False, "configparser.DuplicateOptionError: "),
    "undecodable file": (b"[quorvane]\naction = \xff\xfe\n", False, "UnicodeDecodeError: "),
    "no [quorvane] section": (b"[default]\ndescription = Bad\n[Quorvane]\naction = echo\n", True,
                              "configparser.NoSectionError: No section: 'quorvane'"),
    "lone percent in a field": (b"[default]\ndescription = Bad\n[quorvane]\naction = 50%\n", True,
                                "configparser.InterpolationSyntaxError: "),
    "answer is not JSON": (b"[default]\ndescription = Bad\n[quorvane]\naction = html\n", True,
                           "requests.exceptions.JSONDecodeError: "),
    "dropped connection": (b"[default]\ndescription = Bad\n[quorvane]\naction = drop\n", True,
                           "requests.exceptions.ConnectionError: "),
    "missing key on an array": (b"[default]\ndescription = Bad\nfilters = results, state\n"
                                b"[quorvane]\naction = list\n", True, "KeyError: 'state'"),
    "missing referenced check": (b"[default]\ndescription = Bad\n[quorvane]\naction = echo\n"
                                 b"x = output(missing.ini)\n", True, "FileNotFoundError: "),
    "nested result is None": (b"[default]\ndescription = Bad\n[quorvane]\naction = echo\n"
                              b"x = output(nothing.ini)\n", True,
                              "TypeError: 'NoneType' object is not iterable"),
    "missing key in a referenced check": (b"[default]\ndescription = Bad\n[quorvane]\naction = echo\n"
                                          b"x = output(lib/states.ini)\n", True, "KeyError: 'state'"),
    "missing key two references down": (b"[default]\ndescription = Bad\n[quorvane]\naction = echo\n"
                                        b"x = output(lib/mid.ini)\n", True, "KeyError: 'state'"),
}

# Notes naming the check file, then each output reference on the way down.
REFERENCE_NOTES = {
    "missing referenced check": ["while running output(missing.ini) for bad.cfg"],
    "missing key in a referenced check": ["while running output(lib/states.ini) for bad.cfg"],
    "missing key two references down": ["while running output(lib/mid.ini) for bad.cfg",
                                        "while running output(lib/states.ini) for mid.ini"],
}


@pytest.mark.parametrize("case", sorted(FAILURES))
def test_a_failing_check_ends_the_run_there(controller, tmp_path, case):
    content, prints_description, error = FAILURES[case]
    stand_in = controller(scenario())
    config_dir = write_checks(tmp_path, {
        "one.cfg": GOOD.format(name="one"), "two.cfg": GOOD.format(name="two"),
        "nothing.ini": "[default]\nfilters = results\n[quorvane]\naction = nothing\n",
        "lib/states.ini": "[default]\nfilters = results, state\n[quorvane]\naction = list\n",
        "lib/mid.ini": "[quorvane]\naction = list\nx = output(lib/states.ini)\n",
    })
    (tmp_path / "bad.cfg").write_bytes(content)
    done = run_harborsweep("--controller_ip", stand_in.address, "--password", "pw",
                           "--config_dir", config_dir)
    assert done.returncode == 1
    report = done.stderr.decode()
    assert report.startswith("Traceback (most recent call last):")
    assert "\n" + error in report
    # The error is the same on every version; 3.11 and later add notes.
    if sys.version_info >= (3, 11):
        notes = ["while running check file bad.cfg", *REFERENCE_NOTES.get(case, [])]
        assert report.endswith("\n" + "\n".join(notes) + "\n")
    else:
        assert "while running" not in report
    expected = ""
    for name in check_order(config_dir):
        if name == "bad.cfg":
            expected += "Bad\n" if prints_description else ""
            break
        expected += check_output(f"Good {name[:-4]}", {"ok": True})
    assert done.stdout.decode() == expected


def test_directory_problems(controller, tmp_path):
    stand_in = controller(scenario())
    # A missing directory is found when it is listed, after the login.
    done = run_harborsweep("--controller_ip", stand_in.address, "--password", "pw",
                           "--config_dir", str(tmp_path / "missing"))
    assert done.returncode == 1 and done.stdout == b""
    assert done.stderr.decode().splitlines()[-1].startswith("FileNotFoundError: ")
    assert stand_in.bodies == [b"action=login&username=admin&password=pw"]
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


def test_descriptions_that_cannot_be_printed_are_left_out(controller, tmp_path):
    stand_in = controller(scenario())
    config_dir = write_checks(tmp_path, {
        "percent.cfg": "[default]\ndescription = 100% up\n[quorvane]\naction = echo\n",
        "missing.cfg": "[quorvane]\naction = echo\n",
        "lines.cfg": "[default]\ndescription = first\n  second\n[quorvane]\naction = echo\n",
    })
    done = run_harborsweep("--controller_ip", stand_in.address, "--password", "pw",
                           "--config_dir", config_dir)
    assert (done.returncode, done.stderr) == (0, b"")
    descriptions = {"percent.cfg": None, "missing.cfg": None, "lines.cfg": "first\nsecond"}
    assert done.stdout.decode() == "".join(
        check_output(descriptions[name], {"ok": True}) for name in check_order(config_dir))


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
