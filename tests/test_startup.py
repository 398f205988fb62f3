# Module start-up: what importing harborsweep.harborsweep binds, creates and does.
import argparse
import configparser
import getpass
import importlib.metadata
import os
import platform
import pprint
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest
import requests

import harborsweep
import harborsweep.harborsweep as hs
from launcher import CONSOLE_SCRIPT

BOUND = ["argparse", "configparser", "getpass", "os", "pprint", "sys", "requests"]
OPERATIONS = ["get_quorvane_cid", "filter_results", "quorvane_api", "get_default_config_dir", "main"]


def run_python(code, *, path=None):
    """Runs `code` in a fresh interpreter; its completed process."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("PYTHON")}
    if path:
        env["PYTHONPATH"] = str(path)
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True, text=True, env=env, timeout=60,
    )


def test_standard_modules_and_requests_are_bound_in_order():
    modules = {"argparse": argparse, "configparser": configparser, "getpass": getpass,
               "os": os, "pprint": pprint, "sys": sys, "requests": requests}
    for name, module in modules.items():
        assert getattr(hs, name) is module
    names = list(vars(hs))
    positions = [names.index(name) for name in BOUND + ["pp"]]
    assert positions == sorted(positions)


# Its settings; pprint 3.15 also leaves `_pending_prefix_len` at 0 in a
# printer once it has printed, as it will have in a run of the whole suite.
def test_pp_is_a_default_pretty_printer_200_wide():
    assert type(hs.pp) is pprint.PrettyPrinter
    expected = vars(pprint.PrettyPrinter(width=200))
    actual = vars(hs.pp)
    assert actual["_width"] == 200
    assert actual.get("_pending_prefix_len", 0) == 0
    ignored = {"_stream", "_pending_prefix_len"}
    assert {k: v for k, v in actual.items() if k not in ignored} == {
        k: v for k, v in expected.items() if k not in ignored}
    assert hs.pp.pformat({"b": 1, "a": [1] * 80}) == pprint.pformat({"b": 1, "a": [1] * 80}, width=200)


def test_operations_are_defined_in_order_after_pp():
    names = list(vars(hs))
    assert [n for n in names if n in OPERATIONS] == OPERATIONS
    assert names.index("pp") < names.index(OPERATIONS[0])
    assert all(callable(getattr(hs, n)) for n in OPERATIONS)


def test_import_prints_nothing():
    # ... and loads nothing of the linter, a module of its own.
    done = run_python("import harborsweep.harborsweep, sys; "
                      "assert not {'harborsweep.lint', 'harborsweep._lint'} & set(sys.modules)")
    assert (done.returncode, done.stdout, done.stderr) == (0, "", "")


def test_the_package_tested_is_the_installed_distribution():
    # Whether installed from this tree or from a wheel: a source tree or a
    # stale copy earlier on sys.path would shadow it.
    installed = importlib.metadata.distribution("harborsweep")
    files = {Path(installed.locate_file(name)).resolve() for name in installed.files}
    assert Path(harborsweep.__file__).resolve() in files
    assert Path(hs.__file__).resolve() in files
    assert harborsweep.__version__ == installed.version


# Started in a child through PYTHONPATH, it notes at exit which machine the
# child ran on, its environment and the module file it imported.
CHILD_REPORT = """
import atexit, os, platform, sys

def report():
    module = sys.modules.get("harborsweep.harborsweep")
    with open(os.environ["CHILD_REPORT"], "w") as out:
        out.write(repr((platform.machine(), sys.prefix, module and module.__file__)))

atexit.register(report)
"""


@pytest.mark.parametrize("command", [
    [sys.executable, "-c", "import harborsweep.harborsweep"],
    [CONSOLE_SCRIPT, "--help"],
    ["sh", "-c", 'exec "$0" -m harborsweep --help', sys.executable],
], ids=["interpreter", "console script", "through a shell"])
def test_children_run_on_the_suites_interpreter_and_package(tmp_path, command):
    # A child that escapes to another interpreter (the host's own, beside an
    # emulated suite, or another environment's through a script's shebang)
    # would test another build of the package, or none.
    (tmp_path / "sitecustomize.py").write_text(CHILD_REPORT)
    env = {**os.environ, "PYTHONPATH": str(tmp_path), "CHILD_REPORT": str(tmp_path / "report")}
    done = subprocess.run(command, capture_output=True, env=env, timeout=120)
    assert done.returncode == 0, done.stderr
    assert (tmp_path / "report").read_text() == repr((platform.machine(), sys.prefix, hs.__file__))
    emulated = os.environ.get("HARBORSWEEP_EMULATED")
    if emulated:
        assert platform.machine() == emulated.removeprefix("qemu-")


def test_import_touches_no_file_network_or_process_of_its_own():
    # The dependencies are imported first: only what the module's own
    # start-up does is recorded.
    done = run_python("""
        import argparse, configparser, getpass, os, pprint, sys, requests
        import importlib.util, harborsweep
        watched = ("open", "os.", "socket.", "subprocess.", "shutil.", "http.", "urllib.", "ctypes.", "import")
        seen, recording = [], False
        def hook(event, args):
            if recording and event.startswith(watched):
                seen.append((event, repr(args)[:200]))
        sys.addaudithook(hook)
        found = importlib.util.find_spec("harborsweep.harborsweep")
        module = importlib.util.module_from_spec(found)
        sys.modules[found.name] = module
        recording = True
        found.loader.exec_module(module)
        recording = False
        assert hasattr(module, "pp")
        print(seen)
    """)
    assert done.returncode == 0, done.stderr
    assert done.stdout == "[]\n"


def test_disable_warnings_is_called_once_without_arguments():
    done = run_python("""
        import urllib3, requests
        calls = []
        original = urllib3.disable_warnings
        def spy(*args, **kwargs):
            calls.append((args, kwargs))
            return original(*args, **kwargs)
        urllib3.disable_warnings = spy
        import harborsweep.harborsweep
        print(calls)
    """)
    assert done.returncode == 0, done.stderr
    assert done.stdout == "[((), {})]\n"


UNVERIFIED_REQUEST = """
    import http.server, ssl, sys, threading, trustme
    authority = trustme.CA()
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    authority.issue_cert("127.0.0.1").configure_cert(context)

    class Quiet(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            self.rfile.read(int(self.headers["Content-Length"]))
            self.send_response(200)
            self.send_header("Content-Length", "2")
            self.end_headers()
            self.wfile.write(b"{}")
        def log_message(self, *args):
            pass

    server = http.server.HTTPServer(("127.0.0.1", 0), Quiet)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    if sys.argv[-1] == "with-module":
        import harborsweep.harborsweep
    import requests
    url = f"https://127.0.0.1:{server.server_port}/v1/api"
    print(requests.post(url, data={"action": "x"}, verify=False).json())
    server.shutdown()
"""


@pytest.mark.parametrize("with_module", [False, True], ids=["without the module", "with the module"])
def test_an_unverified_https_request_writes_no_warning_after_import(with_module):
    done = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(UNVERIFIED_REQUEST),
         "with-module" if with_module else "alone"],
        capture_output=True, text=True, timeout=60,
        env={k: v for k, v in os.environ.items() if not k.startswith("PYTHON")},
    )
    assert done.returncode == 0, done.stderr
    assert done.stdout == "{}\n"
    if with_module:
        assert done.stderr == ""
    else:
        # Shows the request would warn: the silence above is the module's doing.
        assert "InsecureRequestWarning" in done.stderr


def test_a_requests_that_cannot_be_imported_fails_the_import_unchanged(tmp_path):
    (tmp_path / "requests.py").write_text('raise ImportError("requests is broken here", name="requests")\n')
    done = run_python("""
        import sys
        try:
            import harborsweep.harborsweep
        except BaseException as error:
            print(type(error).__name__, error.args, error.name, error.__cause__)
            print("harborsweep.harborsweep" in sys.modules)
    """, path=tmp_path)
    assert done.returncode == 0, done.stderr
    assert done.stdout == "ImportError ('requests is broken here',) requests None\nFalse\n"


def test_a_missing_requests_fails_the_import_with_module_not_found():
    done = run_python("""
        import sys
        class NoRequests:
            def find_spec(self, name, path=None, target=None):
                if name == "requests" or name.startswith("requests."):
                    raise ModuleNotFoundError(f"No module named {name!r}", name=name)
                return None
        sys.modules.pop("requests", None)
        sys.meta_path.insert(0, NoRequests())
        import argparse, configparser, getpass, os, pprint
        try:
            import harborsweep.harborsweep
        except BaseException as error:
            print(type(error).__name__, error)
    """)
    assert done.returncode == 0, done.stderr
    assert done.stdout == "ModuleNotFoundError No module named 'requests'\n"
