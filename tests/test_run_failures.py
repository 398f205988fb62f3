# How a run ends when a check fails: at that check, with earlier output intact, later checks not run and its connection closed.
import io
import os
import signal
import subprocess
import sys
import time
from pprint import pformat
from unittest import mock

import pytest
import requests

from harborsweep import harborsweep as hs
from launcher import check_order, check_output, clean_environment, error_and_notes, run_harborsweep, run_main, write_checks
from standin_controller import Account, Reply, Rule, Scenario

GOOD = "[default]\ndescription = Good %(name)s\nname = {name}\n[quorvane]\naction = echo\n"


def scenario():
    return Scenario(accounts=[Account("admin", "pw", cid="c-1")], rules=[
        Rule({"action": "echo"}, Reply(json={"ok": True})),
        Rule({"action": "html"}, Reply(body=b"<html>maintenance</html>", status=503)),
        Rule({"action": "drop"}, Reply(drop=True)),
        Rule({"action": "cut"}, Reply(json={"ok": True, "more": "x" * 200}, cut=20)),
        Rule({"action": "interrupt"}, Reply(json={"interrupt": True})),
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
    "answer cut short": (b"[default]\ndescription = Bad\n[quorvane]\naction = cut\n", True,
                         "requests.exceptions.ChunkedEncodingError: ", [LOGIN, action(b"cut")]),
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


def interrupting(answer, filters, filter_results=hs.filter_results):
    if answer == {"interrupt": True}:
        raise KeyboardInterrupt
    return filter_results(answer, filters)


# (the third check's action and filter path, what the run raises)
MID_RUN = {
    "a filter that fails": ("list\nfilters = results, state", KeyError),
    "a dropped connection": ("drop", requests.exceptions.ConnectionError),
    "an answer cut short": ("cut", requests.exceptions.ChunkedEncodingError),
    "an answer that is not JSON": ("html", requests.exceptions.JSONDecodeError),
    "an interrupt": ("interrupt", KeyboardInterrupt),
    "a refused login": (None, SystemExit),
}


@pytest.mark.parametrize("case", MID_RUN)
def test_a_run_that_fails_closes_its_connection(controller, tmp_path, adapter_events, case):
    bad_action, error = MID_RUN[case]
    stand_in = controller(scenario())
    config_dir = write_checks(tmp_path, {f"{name}.cfg": GOOD.format(name=name) for name in ("one", "two", "three")})
    order = check_order(config_dir)
    if bad_action:
        bad_action, _, filters = bad_action.partition("\nfilters = ")
        write_checks(config_dir, {order[2]: f"[default]\ndescription = Bad\nfilters = {filters}\n"
                                            f"[quorvane]\naction = {bad_action}\n"})
    output = io.StringIO()
    with mock.patch.object(hs, "filter_results", interrupting), pytest.raises(error):
        run_main(stand_in.address, config_dir, password="pw" if bad_action else "wrong", output=output)
    # Whatever ends the run, its connection closes with it, and what it had
    # printed stays.
    assert stand_in.all_closed() and adapter_events.used_and_closed() == 1
    if bad_action:
        assert output.getvalue() == "".join(check_output(f"Good {name[:-4]}", {"ok": True})
                                            for name in order[:2]) + "Bad\n"
        assert stand_in.bodies == [LOGIN, *[LOGIN, action(b"echo")] * 2, LOGIN, action(bad_action.encode())]
    else:
        assert output.getvalue() == "Login failed\n"
        assert stand_in.bodies == [b"action=login&username=admin&password=wrong"]
    assert set(stand_in.connections) == {1}


@pytest.mark.parametrize("bad", [None, "cut", "refused login"])
def test_nothing_is_left_open_for_the_interpreter_to_close(controller, tmp_path, bad):
    stand_in = controller(scenario())
    config_dir = write_checks(tmp_path, {"one.cfg": GOOD.format(name="one"),
                                         "two.cfg": GOOD.format(name="two").replace("echo", bad or "echo")})
    done = subprocess.run([sys.executable, "-X", "dev", "-W", "error", "-m", "harborsweep",
                           "--controller_ip", stand_in.address, "--password", "wrong" if bad == "refused login" else "pw",
                           "--config_dir", config_dir], stdin=subprocess.DEVNULL, capture_output=True,
                          env=clean_environment(), timeout=60)
    assert done.returncode == (0 if bad is None else 1)
    assert b"ResourceWarning" not in done.stderr and b"Exception ignored" not in done.stderr
    assert stand_in.all_closed()


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
    with open(tmp_path / "report.txt", "wb") as report:
        child = subprocess.Popen([sys.executable, "-m", "harborsweep", "--controller_ip", stand_in.address,
                                  "--password", "pw", "--config_dir", config_dir], stdin=subprocess.DEVNULL,
                                 stdout=report, stderr=subprocess.DEVNULL, env=clean_environment(buffered=True))
        try:
            deadline = time.monotonic() + 30
            while b"action=hang" not in b"".join(stand_in.bodies) and time.monotonic() < deadline:
                time.sleep(0.05)
            child.send_signal(signal_number)
            # A signal can take effect a moment after it is sent (under
            # qemu-user the emulator first takes it, then ends itself with
            # it): the kill below is only for a run that never ends.
            child.wait(timeout=30)
        finally:
            child.kill()
            child.wait()
    assert child.returncode == -signal_number
    assert (tmp_path / "report.txt").read_bytes() == (check_output("First", {"ok": True}) + "Second\n").encode()


CLOSED = "closed"


def launch(args, stdout, buffered=False, code=None):
    """Runs the command (or the Python `code`) with `stdout`, or with none at
    all for CLOSED (as the shell's `>&-` starts it); returns it done."""
    command = [sys.executable, "-c", code] if code else [sys.executable, "-m", "harborsweep"]
    if stdout == CLOSED:
        command, stdout = ["sh", "-c", 'exec "$0" "$@" >&-', *command], None
    return subprocess.run([*command, *args], stdin=subprocess.DEVNULL, stdout=stdout, stderr=subprocess.PIPE,
                          env=clean_environment(buffered=buffered), timeout=60)


@pytest.mark.parametrize("redirected", [True, False], ids=["redirect_stdout to a file", "sys.stdout None"])
def test_results_survive_a_caller_that_redirected_stdout_and_was_killed(controller, tmp_path, redirected):
    # pp writes to the standard output of import time, which redirect_stdout
    # does not change: that stream is flushed after each result too.
    stand_in = controller(scenario())
    config_dir = write_checks(tmp_path / "checks", {f"{name}.cfg": GOOD.format(name=name)
                                                    for name in ("one", "two", "three")})
    code = ("import contextlib, os, signal, sys\n"
            "from harborsweep import harborsweep\n"
            "target = sys.argv.pop(1)\n"
            "with contextlib.ExitStack() as stack:\n"
            "    stack.enter_context(contextlib.redirect_stdout(stack.enter_context(open(target, 'w'))\n"
            "                                                   if target else None))\n"
            "    harborsweep.main()\n"
            "    os.kill(os.getpid(), signal.SIGKILL)\n")
    descriptions = tmp_path / "descriptions.txt"
    with open(tmp_path / "results.txt", "wb") as results:
        child = launch([str(descriptions) if redirected else "", "--controller_ip", stand_in.address,
                        "--password", "pw", "--config_dir", config_dir], results, buffered=True, code=code)
    assert (child.returncode, child.stderr) == (-signal.SIGKILL, b"")
    assert (tmp_path / "results.txt").read_text() == (pformat({"ok": True}, width=200) + "\n") * 3
    if redirected:
        assert descriptions.read_text() == "".join(f"Good {name[:-4]}\n\n\n" for name in check_order(config_dir))


def with_closed_pipe(run):
    """Calls `run` with the write end of a pipe whose reader has already gone."""
    read_end, write_end = os.pipe()
    os.close(read_end)
    try:
        return run(write_end)
    finally:
        os.close(write_end)


# Unbuffered, the help screen's write errors are argparse's, which ignores
# them: the same status either way means the launcher catches them.
@pytest.mark.parametrize("command, buffered", [("run", True), ("run", False), ("help", True), ("help", False)],
                         ids=["run-buffered", "run-unbuffered", "help-buffered", "help-unbuffered"])
def test_a_standard_output_that_fails_ends_the_run_once(controller, tmp_path, command, buffered):
    stand_in = controller(scenario())
    config_dir = write_checks(tmp_path, {"one.cfg": GOOD.format(name="one"), "two.cfg": GOOD.format(name="two")})
    args = (["--help"] if command == "help" else
            ["--controller_ip", stand_in.address, "--password", "pw", "--config_dir", config_dir])
    # No standard output at all (`>&-`) ends the command before it parses,
    # prompts or logs in: nothing it would print could go anywhere.
    done = launch(args, CLOSED, buffered)
    assert (done.returncode, done.stderr) == (1, b"harborsweep: error: standard output is closed\n")
    assert stand_in.bodies == []
    # A full device is an error: one traceback and status 1, with no second
    # report when the interpreter flushes standard output at exit.
    with open("/dev/full", "wb") as full:
        done = launch(args, full, buffered)
    assert done.returncode == 1
    assert done.stderr.decode().count("Traceback") == 1 and b"Exception ignored" not in done.stderr
    notes = []
    if command == "run" and sys.version_info >= (3, 11):
        notes = ["while running check file " + check_order(config_dir)[0]]
    assert error_and_notes(done.stderr) == ("OSError: [Errno 28] No space left on device", notes)
    # A reader that has gone (`| head`) is no error: nothing more, status 141.
    done = with_closed_pipe(lambda pipe: launch(args, pipe, buffered))
    assert (done.returncode, done.stderr) == (141, b"")


def test_a_broken_connection_is_an_error_whatever_standard_output_does(controller, tmp_path):
    stand_in = controller(scenario())
    config_dir = write_checks(tmp_path, {"drop.cfg": "[quorvane]\naction = drop\n"})
    args = ["--controller_ip", stand_in.address, "--password", "pw", "--config_dir", config_dir]
    # The controller drops the connection of a check that prints nothing
    # before it, while standard output's reader has gone.
    done = with_closed_pipe(lambda pipe: launch(args, pipe))
    assert done.returncode == 1
    assert error_and_notes(done.stderr)[0].startswith("requests.exceptions.ConnectionError: ")
    # A BrokenPipeError of the connection, while standard output is fine.
    code = ("import requests\n"
            "def post(*args, **kwargs):\n"
            "    raise BrokenPipeError(32, 'Broken pipe')\n"
            "requests.post = post\n"
            "from harborsweep.__main__ import run\n"
            "run()\n")
    done = launch(args, subprocess.PIPE, code=code)
    assert (done.returncode, done.stdout) == (1, b"")
    assert error_and_notes(done.stderr) == ("BrokenPipeError: [Errno 32] Broken pipe", [])


# Hands main a result once the address space is limited to what the process
# uses now and 32 MB more: the layout of that result needs more than twice as
# much, even where records that share their keys share their sorted order
# (origin "native"), or a Python allocation asks for twice as much first.
OUT_OF_MEMORY = """
import resource, sys
from harborsweep import harborsweep
from harborsweep.__main__ import run

origin = sys.argv.pop(1)
ENTRY = {f"member_{i}": i for i in range(8)}
RESULT = [ENTRY] * 8_000_000
BEFORE = sys.getrefcount(ENTRY), sys.getrefcount(RESULT)
SLACK = 32 << 20
LIMITS = resource.getrlimit(resource.RLIMIT_AS)


def result_in_little_memory(*args):
    with open("/proc/self/status") as status:
        used = next(int(line.split()[1]) << 10 for line in status if line.startswith("VmSize:"))
    limit = used + SLACK if LIMITS[1] == resource.RLIM_INFINITY else min(used + SLACK, LIMITS[1])
    resource.setrlimit(resource.RLIMIT_AS, (limit, LIMITS[1]))
    if origin == "python":
        bytearray(2 * SLACK)
    return RESULT


harborsweep.quorvane_api = result_in_little_memory
try:
    run()
finally:
    resource.setrlimit(resource.RLIMIT_AS, LIMITS)
    assert (sys.getrefcount(ENTRY), sys.getrefcount(RESULT)) == BEFORE, "references leaked"
"""


@pytest.mark.limits_address_space
@pytest.mark.parametrize("origin", ["native", "python"])
def test_running_out_of_memory_is_a_memory_error_with_its_notes(controller, tmp_path, origin):
    stand_in = controller(scenario())
    config_dir = write_checks(tmp_path, {"big.cfg": GOOD.format(name="big")})
    done = launch([origin, "--controller_ip", stand_in.address, "--password", "pw", "--config_dir", config_dir],
                  subprocess.PIPE, code=OUT_OF_MEMORY)
    assert (done.returncode, done.stdout) == (1, b"Good big\n")
    notes = ["while running check file big.cfg"] if sys.version_info >= (3, 11) else []
    assert error_and_notes(done.stderr) == ("MemoryError", notes)
