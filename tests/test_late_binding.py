# The operations reach requests, the standard modules, the builtins and each other through the module globals at call time.
import json
import subprocess
import sys
import types
from unittest import mock

import pytest

from harborsweep import harborsweep as hs

real_quorvane_api = hs.quorvane_api


class FakeResponse:
    def __init__(self, answer):
        self.answer = answer

    def json(self):
        return self.answer


def fake_post(answers):
    """A requests.post stand-in answering from `answers` (action -> JSON) and
    recording each call with a snapshot of its fields."""
    calls = []

    def post(url, data=None, verify=True):
        calls.append((url, dict(data), verify))
        return FakeResponse(answers[data["action"]])

    return post, calls


def test_patched_requests_post_gets_every_request(tmp_path):
    (tmp_path / "c.cfg").write_text("[default]\nfilters = items, name\n[quorvane]\naction = list\nzone = east\n")
    post, calls = fake_post({"login": {"CID": "s-1"}, "list": {"items": [{"name": "x"}]}})
    with mock.patch("requests.post", post):
        result = hs.quorvane_api("ctl:8443", "admin", "pw", str(tmp_path), str(tmp_path / "c.cfg"))
    assert result == ["x"]
    url = "https://ctl:8443/v1/api"
    assert calls == [
        (url, {"action": "login", "username": "admin", "password": "pw"}, False),
        (url, {"CID": "s-1", "action": "list", "zone": "east"}, False),
    ]


def test_operations_call_each_other_through_the_module(tmp_path):
    (tmp_path / "names.ini").write_text("[quorvane]\naction = names\n")
    (tmp_path / "c.cfg").write_text("[default]\nfilters = a&b\n[quorvane]\naction = show\nname = output(names.ini)\n")
    post, calls = fake_post({"show": {"a": 1}, "names": ["n1"]})
    seen = []

    def nested(*args):
        seen.append(args[-1])
        return ["n1", "n2"]

    with mock.patch("requests.post", post), \
         mock.patch.object(hs, "get_quorvane_cid", return_value="patched") as login, \
         mock.patch.object(hs, "filter_results", side_effect=lambda answer, steps: (answer, steps)), \
         mock.patch.object(hs, "quorvane_api", side_effect=nested):
        # The real operation, reached through a saved reference; its nested run is the patched one.
        result = real_quorvane_api("ctl", "u", "p", str(tmp_path), str(tmp_path / "c.cfg"))
    login.assert_called_once_with("ctl", "u", "p")
    assert seen == [str(tmp_path / "names.ini")]
    assert [fields for _, fields, _ in calls] == [
        {"CID": "patched", "action": "show", "name": "n1"},
        {"CID": "patched", "action": "show", "name": "n2"},
    ]
    assert result == [{"object": "n1", "results": ({"a": 1}, ["a&b"])},
                      {"object": "n2", "results": ({"a": 1}, ["a&b"])}]


def test_main_uses_the_patched_prompts_printer_and_checks(tmp_path, capsys):
    # No option at all: both prompts, the user name "admin", and the
    # directory "config" beside the module's file.
    config_dir = tmp_path / "config"
    config_dir.mkdir()
    (config_dir / "c.cfg").write_text("[default]\ndescription = Check C\n[quorvane]\naction = x\n")
    printer = mock.Mock()
    with mock.patch.object(sys, "argv", ["harborsweep"]), \
         mock.patch.object(hs, "__file__", str(tmp_path / "harborsweep.so")), \
         mock.patch("builtins.input", return_value="10.0.0.1") as ask, \
         mock.patch("getpass.getpass", return_value="secret") as ask_password, \
         mock.patch.object(hs, "get_quorvane_cid") as login, \
         mock.patch.object(hs, "quorvane_api", return_value={"r": 1}) as run, \
         mock.patch.object(hs, "pp", printer):
        assert hs.main() is None
        # Both prompts come before the default directory is looked for.
        with mock.patch.object(hs, "__file__", str(tmp_path / "elsewhere" / "harborsweep.so")), \
             pytest.raises(FileNotFoundError):
            hs.main()
    assert ask.call_args_list == [mock.call("Enter Quorvane Controller IP: ")] * 2
    assert ask_password.call_args_list == [mock.call(prompt="Enter Quorvane Controller Password: ")] * 2
    login.assert_called_once_with("10.0.0.1", "admin", "secret")
    run.assert_called_once_with("10.0.0.1", "admin", "secret", str(config_dir), str(config_dir / "c.cfg"))
    # A stand-in printer is asked for nothing that pprint would not be asked.
    assert printer.mock_calls == [mock.call.pprint({"r": 1})]
    assert capsys.readouterr().out == "Check C\n\n\n"
    # Output is flushed through the module's sys.stdout as it is then, after
    # the description and after the result; a stdout without flush() is left alone.
    for stdout in (types.SimpleNamespace(flush=mock.Mock()), types.SimpleNamespace(), None):
        with mock.patch.object(sys, "argv", ["harborsweep", "--controller_ip", "c", "--password", "p",
                                             "--config_dir", str(config_dir)]), \
             mock.patch.object(hs, "get_quorvane_cid"), \
             mock.patch.object(hs, "quorvane_api", return_value={"r": 1}), \
             mock.patch.object(hs, "pp", printer), \
             mock.patch.object(hs, "sys", mock.Mock(stdout=stdout)):
            assert hs.main() is None
        if stdout is not None and hasattr(stdout, "flush"):
            assert stdout.flush.call_count == 2
    # The stream that pp wrote the result to is flushed after it as well,
    # whatever the printer's settings, once when it is sys.stdout itself; one
    # without flush() is left alone. When its flush fails, sys.stdout is still
    # flushed, and the result stream's error is the one that ends the run.
    def stream(flush=None):
        """flush: flush()'s side effect, or False for a stream without one."""
        methods = {} if flush is False else {"flush": mock.Mock(side_effect=flush)}
        return types.SimpleNamespace(write=lambda text: None, **methods)

    shared, broken, broken_too = stream(), OSError("result stream"), OSError("result stream")
    for stdout, result_stream, width, error in (
            (stream(), stream(), 200, None), (shared, shared, 200, None), (None, stream(), 200, None),
            (stream(), stream(False), 200, None), (stream(), stream(), 80, None),
            (stream(), stream(broken), 200, broken),
            (stream([None, OSError("stdout")]), stream(broken_too), 80, broken_too)):
        with mock.patch.object(sys, "argv", ["harborsweep", "--controller_ip", "c", "--password", "p",
                                             "--config_dir", str(config_dir)]), \
             mock.patch.object(hs, "get_quorvane_cid"), \
             mock.patch.object(hs, "quorvane_api", return_value={"r": 1}), \
             mock.patch.object(hs, "pp", hs.pprint.PrettyPrinter(width=width, stream=result_stream)), \
             mock.patch.object(hs, "sys", mock.Mock(stdout=stdout)):
            try:
                outcome = hs.main()
            except OSError as exc:
                outcome = exc
        assert outcome is error
        if stdout is not None:
            assert stdout.flush.call_count == 2
        if result_stream is not stdout and hasattr(result_stream, "flush"):
            assert result_stream.flush.call_count == 1


class EventStream:
    """A standard output that records its write() and flush() calls, in
    order, into `events`."""

    def __init__(self, events):
        self.events = events

    def write(self, text):
        self.events.append(("write", text))
        return len(text)

    def flush(self):
        self.events.append(("flush",))


def test_failed_login_exits_1_through_the_module_sys():
    post, _ = fake_post({"login": {"error": "no"}})
    with mock.patch("requests.post", post), pytest.raises(SystemExit) as exit_info:
        hs.get_quorvane_cid("ctl", "u", "p")
    assert exit_info.value.code == 1
    # "Login failed" is written and flushed before the exit starts: a process
    # ended right after it (killed, or os._exit in a caller's handler) has
    # still shown it, even with a block-buffered standard output.
    events = []
    stdout = EventStream(events)

    def recording_exit(*args):
        events.append(("exit", *args))
        raise SystemExit(*args)

    with mock.patch("requests.post", post), mock.patch.object(sys, "stdout", stdout), \
         mock.patch.object(hs, "sys", types.SimpleNamespace(stdout=stdout, exit=recording_exit)), \
         pytest.raises(SystemExit):
        hs.get_quorvane_cid("ctl", "u", "p")
    flushed = events.index(("flush",))
    assert "".join(text for _, text in events[:flushed]) == "Login failed\n"
    assert events[flushed:] == [("flush",), ("exit", 1)]
    with mock.patch("requests.post", post), mock.patch.object(hs, "sys") as fake_sys:
        fake_sys.exit.side_effect = RuntimeError("stopped")
        with pytest.raises(RuntimeError, match="stopped"):
            hs.get_quorvane_cid("ctl", "u", "p")
    fake_sys.exit.assert_called_once_with(1)


def test_interrupts_and_exits_pass_where_errors_are_ignored(tmp_path):
    class Interrupting(FakeResponse):
        def json(self):
            raise KeyboardInterrupt

    with mock.patch("requests.post", lambda *a, **k: Interrupting(None)), pytest.raises(KeyboardInterrupt):
        hs.get_quorvane_cid("ctl", "u", "p")
    (tmp_path / "c.cfg").write_text("[default]\nfilters = a\n[quorvane]\naction = x\n")

    class Config(hs.configparser.ConfigParser):
        def get(self, section, option, **kwargs):
            if option == "filters":
                raise SystemExit(3)
            return super().get(section, option, **kwargs)

    with mock.patch.object(hs.configparser, "ConfigParser", Config), \
         mock.patch.object(hs, "get_quorvane_cid", return_value="c"), pytest.raises(SystemExit):
        hs.quorvane_api("ctl", "u", "p", str(tmp_path), str(tmp_path / "c.cfg"))
    # Nor do they get the notes that name a check file: only errors do.
    (tmp_path / "chain").mkdir()
    (tmp_path / "chain" / "chained.cfg").write_text("[quorvane]\naction = x\nname = output(names.ini)\n")
    (tmp_path / "chain" / "names.ini").write_text("[quorvane]\naction = names\n")
    for stop in (KeyboardInterrupt(), SystemExit(1)):
        # The run's login, the chained check's, then the referenced check's stops.
        with mock.patch.object(sys, "argv", ["harborsweep", "--controller_ip", "c", "--password", "p",
                                             "--config_dir", str(tmp_path / "chain")]), \
             mock.patch.object(hs, "get_quorvane_cid", side_effect=["c", "c", stop]), \
             pytest.raises(type(stop)) as stopped:
            hs.main()
        assert stopped.value is stop and not hasattr(stop, "__notes__")
    # The description's failures are ignored, its interrupts and exits are not: main lets them out as
    # they are, and nothing of the check runs after them.
    (tmp_path / "described").mkdir()
    (tmp_path / "described" / "c.cfg").write_text("[default]\ndescription = D\n[quorvane]\naction = x\n")

    class Describing(hs.configparser.ConfigParser):
        def get(self, section, option, **kwargs):
            if option == "description" and isinstance(reading, BaseException):
                raise reading
            return super().get(section, option, **kwargs)

    for reading, printing in [(KeyboardInterrupt(), None), (SystemExit(3), None),
                              (None, KeyboardInterrupt()), (None, SystemExit(3))]:
        stop = reading or printing
        with mock.patch.object(sys, "argv", ["harborsweep", "--controller_ip", "c", "--password", "p",
                                             "--config_dir", str(tmp_path / "described")]), \
             mock.patch.object(hs.configparser, "ConfigParser", Describing), \
             mock.patch("builtins.print", side_effect=printing) as printed, \
             mock.patch.object(hs, "get_quorvane_cid"), mock.patch.object(hs, "quorvane_api") as run, \
             mock.patch.object(hs, "pp") as printer, pytest.raises(type(stop)) as stopped:
            hs.main()
        assert stopped.value is stop and not hasattr(stop, "__notes__")
        assert printed.call_args_list == ([] if reading else [mock.call("D")])
        assert not run.called and not printer.method_calls


# A child process (a fault here can crash the interpreter) runs a check whose referenced check
# raises an error prepared with notes of its own; it reports whether main let the same error out,
# the error's stored __notes__, and how many errors raised by the __notes__ lookup are still alive.
NOTED_ERROR_CHILD = """
import builtins, gc, json, sys, weakref
from unittest import mock
from harborsweep import harborsweep as hs

kind, config_dir = sys.argv[1:]
raised = []

def raising(base):
    # A __notes__ lookup raising an error of a subclass of base, watched by a weak reference.
    stray_type = type("Stray", (base,), {})

    def lookup(self, name="__notes__"):
        if name != "__notes__":
            return KeyError.__getattribute__(self, name)
        stray = stray_type()
        raised.append(weakref.ref(stray))
        raise stray

    return lookup

error_type, stray_base = KeyError, getattr(builtins, kind.split()[-1], None)
if kind.startswith("property"):
    error_type = type("Noted", (KeyError,), {"__notes__": property(raising(stray_base))})
elif kind.startswith("__getattribute__"):
    error_type = type("Noted", (KeyError,), {"__getattribute__": raising(stray_base)})
error = error_type("state")
if NOTES != "absent":
    error.__notes__ = NOTES

class Answer:
    def json(self):
        return {"CID": "c-1"}

with mock.patch("requests.post", lambda *args, **kwargs: Answer()), \\
     mock.patch.object(hs, "filter_results", side_effect=error), \\
     mock.patch.object(sys, "argv", ["harborsweep", "--controller_ip", "c", "--password", "p",
                                     "--config_dir", config_dir]):
    try:
        hs.main()
    except BaseException as out:
        same, notes = out is error, repr(vars(out).get("__notes__", "absent"))
del error
gc.collect()
print(json.dumps([same, notes, sum(ref() is not None for ref in raised)]))
"""

OURS = ["while running check file a.cfg", "while running output(b.ini) for a.cfg"]


@pytest.mark.parametrize("kind, notes, expected", [
    # Its own notes first, ours after them in order; notes that are not texts are kept and passed over.
    ("own notes", ["own 1", "own 2"], ["own 1", "own 2", *OURS]),
    ("own notes that are not texts", [b"raw", None, "own"], [b"raw", None, "own", *OURS]),
    # Notes that are not a list can't take ours; the error goes on without them.
    ("a tuple", ("own",), ("own",)),
    ("a text", "own", "own"),
    ("None", None, None),
    # A lookup that raises, whatever it raises: the error goes on without notes, and the raised
    # errors are let go.
    ("property raising ValueError", "absent", "absent"),
    ("property raising AttributeError", "absent", "absent"),
    ("property raising KeyboardInterrupt", "absent", "absent"),
    ("__getattribute__ raising SystemExit", "absent", "absent"),
])
def test_errors_with_notes_of_their_own(tmp_path, kind, notes, expected):
    (tmp_path / "a.cfg").write_text("[quorvane]\naction = x\nname = output(b.ini)\n")
    (tmp_path / "b.ini").write_text("[quorvane]\naction = names\n")
    if sys.version_info < (3, 11) and isinstance(expected, list):
        expected = [note for note in expected if note not in OURS]
    child = f"NOTES = {notes!r}" + NOTED_ERROR_CHILD
    done = subprocess.run([sys.executable, "-c", child, kind, str(tmp_path)], capture_output=True, timeout=60)
    assert (done.returncode, done.stderr) == (0, b"")
    same, stored, alive = json.loads(done.stdout)
    assert (same, stored, alive) == (True, repr(expected), 0)


def test_check_files_are_closed_once_read(tmp_path):
    (tmp_path / "c.cfg").write_text("[default]\ndescription = D\n[quorvane]\naction = x\n")
    (tmp_path / "bad.cfg").write_text("no header\n")
    opened = []
    real_open = open

    def tracking_open(*args, **kwargs):
        opened.append(real_open(*args, **kwargs))
        return opened[-1]

    post, _ = fake_post({"login": {"CID": "c"}, "x": {}})
    with mock.patch("builtins.open", tracking_open), mock.patch("requests.post", post):
        hs.quorvane_api("ctl", "u", "p", str(tmp_path), str(tmp_path / "c.cfg"))
        with pytest.raises(hs.configparser.MissingSectionHeaderError):
            hs.quorvane_api("ctl", "u", "p", str(tmp_path), str(tmp_path / "bad.cfg"))
    assert len(opened) == 2 and all(file.closed for file in opened)


def test_a_refused_cycle_leaves_no_trace_for_the_next_run(tmp_path):
    (tmp_path / "a.cfg").write_text("[quorvane]\naction = x\nref = output(b.ini)\n")
    (tmp_path / "b.ini").write_text("[quorvane]\naction = x\nref = output(a.cfg)\n")
    post, _ = fake_post({"login": {"CID": "c"}, "x": {}})
    with mock.patch("requests.post", post):
        for _ in range(2):
            with pytest.raises(RecursionError) as refused:
                hs.quorvane_api("ctl", "u", "p", str(tmp_path), str(tmp_path / "b.ini"))
            assert str(refused.value) == "output reference cycle: b.ini -> a.cfg -> b.ini"
