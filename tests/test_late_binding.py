# The operations reach requests, the standard modules, the builtins and each other through the module globals at call time.
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
    (tmp_path / "c.cfg").write_text("[default]\ndescription = Check C\n[quorvane]\naction = x\n")
    printer = mock.Mock()
    with mock.patch.object(sys, "argv", ["harborsweep", "--config_dir", str(tmp_path)]), \
         mock.patch("builtins.input", return_value="10.0.0.1") as ask, \
         mock.patch("getpass.getpass", return_value="secret") as ask_password, \
         mock.patch.object(hs, "get_quorvane_cid") as login, \
         mock.patch.object(hs, "quorvane_api", return_value={"r": 1}) as run, \
         mock.patch.object(hs, "pp", printer):
        assert hs.main() is None
    ask.assert_called_once_with("Enter Quorvane Controller IP: ")
    ask_password.assert_called_once_with(prompt="Enter Quorvane Controller Password: ")
    login.assert_called_once_with("10.0.0.1", "admin", "secret")
    run.assert_called_once_with("10.0.0.1", "admin", "secret", str(tmp_path), str(tmp_path / "c.cfg"))
    printer.pprint.assert_called_once_with({"r": 1})
    assert capsys.readouterr().out == "Check C\n\n\n"
    # Output is flushed through the module's sys.stdout as it is then, after
    # the description and after the result; a stdout without flush() is left alone.
    for stdout in (types.SimpleNamespace(flush=mock.Mock()), types.SimpleNamespace(), None):
        with mock.patch.object(sys, "argv", ["harborsweep", "--controller_ip", "c", "--password", "p",
                                             "--config_dir", str(tmp_path)]), \
             mock.patch.object(hs, "get_quorvane_cid"), \
             mock.patch.object(hs, "quorvane_api", return_value={"r": 1}), \
             mock.patch.object(hs, "pp", printer), \
             mock.patch.object(hs, "sys", mock.Mock(stdout=stdout)):
            assert hs.main() is None
        if stdout is not None and hasattr(stdout, "flush"):
            assert stdout.flush.call_count == 2


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


def test_interrupts_and_exits_are_never_taken_for_a_failed_login_or_a_missing_filter(tmp_path):
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
