# The command line: help, usage errors, prompts on a terminal, and how options settle the run.
import subprocess
import sys

import pexpect
import pytest

from launcher import CONSOLE_SCRIPT, clean_environment, run_harborsweep, write_checks
from standin_controller import Scenario

HELP_TEXTS = [
    "Quorvane Controller IP. User will be prompted to enter the IP if not specified.",
    'Quorvane Controller Username. Defaults to "admin" if not specified.',
    "Quorvane Controller Password. User will be prompted to enter the password if not specfied.",
    'Configuration Directory. Defaults to "config" if not specified.',
]


def scenario_data(username="admin", password="pw"):
    """The scenario in its JSON form, which a stand-in in a child process reads."""
    return {"accounts": [{"username": username, "password": password, "cid": "c-9"}],
            "rules": [{"match": {"action": "echo"}, "json": {"ok": True}}]}


def scenario(username="admin", password="pw"):
    return Scenario.from_dict(scenario_data(username, password))


@pytest.mark.parametrize("console_script", [False, True])
def test_help_screen(console_script):
    done = run_harborsweep("--help", console_script=console_script)
    assert (done.returncode, done.stderr) == (0, b"")
    text = done.stdout.decode()
    assert text.startswith("usage: harborsweep [-h] [--controller_ip CONTROLLER_IP] [--username USERNAME]")
    assert "\n\nHarborsweep Automation\n\n" in text
    flat = " ".join(text.split())
    for option, help_text in zip(["CONTROLLER_IP", "USERNAME", "PASSWORD", "CONFIG_DIR"], HELP_TEXTS):
        assert f"--{option.lower()} {option}" in flat
        assert help_text in flat
    assert flat.index("--controller_ip CONTROLLER_IP Quorvane") < flat.index("--config_dir CONFIG_DIR Configuration")


@pytest.mark.parametrize("args, message", [
    (["--bogus"], "unrecognized arguments: --bogus"),
    (["--con", "x"], "ambiguous option: --con could match --controller_ip, --config_dir"),
    (["--username"], "argument --username: expected one argument"),
    (["somewhere"], "unrecognized arguments: somewhere"),
    (["--password", "-x"], "argument --password: expected one argument"),
])
def test_command_line_errors_exit_2_before_any_prompt(args, message):
    done = run_harborsweep(*args)
    assert done.returncode == 2
    assert done.stdout == b""
    lines = done.stderr.decode().splitlines()
    assert lines[0].startswith("usage: harborsweep ")
    assert lines[-1] == f"harborsweep: error: {message}"


# pexpect forks for its pty: the stand-ins of these tests serve from child
# processes (controller_process), so that this one has no threads then.
def spawn(*args):
    return pexpect.spawn(CONSOLE_SCRIPT, list(args), env=clean_environment(), timeout=30)


def test_prompts_ask_for_address_then_password_without_echo(controller_process, tmp_path):
    stand_in = controller_process(scenario_data())
    config_dir = write_checks(tmp_path, {"echo.cfg": "[quorvane]\naction = echo\n"})
    child = spawn("--config_dir", config_dir)
    child.expect_exact("Enter Quorvane Controller IP: ")
    child.sendline(stand_in.address)
    child.expect_exact("Enter Quorvane Controller Password: ")
    child.sendline("pw")
    child.expect_exact("{'ok': True}")
    child.expect(pexpect.EOF)
    child.close()
    assert child.exitstatus == 0
    assert b"pw" not in child.before
    assert stand_in.bodies[0] == b"action=login&username=admin&password=pw"


def test_no_prompt_when_options_are_given(controller_process, tmp_path):
    stand_in = controller_process(scenario_data(password="-x"))
    config_dir = write_checks(tmp_path, {"echo.cfg": "[quorvane]\naction = echo\n"})
    child = spawn("--controller_ip", stand_in.address, "--password=-x", "--config_dir", config_dir)
    child.expect(pexpect.EOF)
    child.close()
    assert child.exitstatus == 0
    assert child.before.replace(b"\r\n", b"\n") == b"{'ok': True}\n\n\n"


def test_address_from_standard_input_and_empty_answers(controller, tmp_path):
    stand_in = controller(scenario(password="pw"))
    config_dir = write_checks(tmp_path, {"echo.cfg": "[quorvane]\naction = echo\n"})
    # Empty --controller_ip and --username count as absent.
    done = run_harborsweep("--controller_ip=", "--username=", "--password", "pw",
                           "--config_dir", config_dir, stdin=stand_in.address.encode() + b"\n")
    assert done.returncode == 0, done.stderr
    assert done.stdout == b"Enter Quorvane Controller IP: {'ok': True}\n\n\n"
    assert stand_in.bodies[0] == b"action=login&username=admin&password=pw"
    # An empty address is taken as it is; the login then fails on the URL.
    done = run_harborsweep("--password", "pw", "--config_dir", config_dir, stdin=b"\n")
    assert done.returncode == 1
    assert done.stdout == b"Enter Quorvane Controller IP: "
    assert b"InvalidURL" in done.stderr.splitlines()[-1]
    # End of input at the prompt.
    done = run_harborsweep("--password", "pw", "--config_dir", config_dir, stdin=b"")
    assert done.returncode == 1
    assert done.stderr.splitlines()[-1].startswith(b"EOFError")


def test_default_configuration_directory(controller, tmp_path):
    """Without --config_dir the run takes "config" beside the module file."""
    stand_in = controller(scenario())
    write_checks(tmp_path / "config", {"echo.cfg": "[default]\ndescription = beside\n[quorvane]\naction = echo\n"})
    program = (
        "import sys; from harborsweep import harborsweep as h; "
        f"h.__file__ = {str(tmp_path / 'harborsweep.so')!r}; "
        "sys.argv = ['harborsweep', *sys.argv[1:]]; h.main()"
    )
    for extra in ([], ["--config_dir="]):
        done = subprocess.run([sys.executable, "-c", program, "--controller_ip", stand_in.address,
                               "--password", "pw", *extra], capture_output=True, env=clean_environment())
        assert (done.returncode, done.stderr) == (0, b"")
        assert done.stdout == b"beside\n{'ok': True}\n\n\n"
    (tmp_path / "config" / "echo.cfg").unlink()
    (tmp_path / "config").rmdir()
    done = subprocess.run([sys.executable, "-c", program, "--controller_ip", stand_in.address,
                           "--password", "pw"], capture_output=True, env=clean_environment())
    assert done.returncode == 1
    assert done.stderr.decode().splitlines()[-1] == (
        f"FileNotFoundError: Default config directory not found: {tmp_path / 'config'}")
    # Settled after the prompts and before the login: this run sent nothing.
    assert len(stand_in.bodies) == 6
