# Requests go out through a fresh requests session sharing one no-verification TLS context, indistinguishable on the wire from
# requests.post, on one connection kept for the call made from outside the module.
import socket
import socketserver
import ssl
import subprocess
import sys
import threading
import time
from itertools import groupby
from unittest import mock

import pytest
import requests

from harborsweep import harborsweep as hs
from launcher import check_order, check_output, run_main, write_checks
from standin_controller import Account, Reply, Rule, Scenario

REAL_POST = requests.post


def scenario(**login_headers):
    login = Reply(json={"CID": "c-5"}, headers=login_headers)
    return Scenario(rules=[
        Rule({"action": "login"}, login),
        Rule({"action": "names"}, Reply(json=["n1", "n2"], headers={"Set-Cookie": "names=1; Path=/"})),
        Rule({"action": "show"}, Reply(json={"ok": True})),
    ])


def chained_check(tmp_path):
    (tmp_path / "names.ini").write_text("[quorvane]\naction = names\n")
    (tmp_path / "c.cfg").write_text("[quorvane]\naction = show\nname = output(names.ini)\n")
    return str(tmp_path), str(tmp_path / "c.cfg")


def run_check(stand_in, tmp_path):
    return hs.quorvane_api(stand_in.address, "admin", "pw", *chained_check(tmp_path))


def slow_path():
    """Any replacement of requests.post makes every request call it."""
    return mock.patch("requests.post", lambda *args, **kwargs: REAL_POST(*args, **kwargs))


@pytest.fixture(autouse=True)
def no_proxy_settings(monkeypatch):
    for name in ("HTTPS_PROXY", "https_proxy", "HTTP_PROXY", "http_proxy", "ALL_PROXY",
                 "all_proxy", "NO_PROXY", "no_proxy"):
        monkeypatch.delenv(name, raising=False)


def test_both_paths_send_the_same_requests_and_never_return_cookies(controller, tmp_path):
    stand_in = controller(scenario(**{"Set-Cookie": "session=abc; Path=/"}))
    fast = run_check(stand_in, tmp_path)
    with slow_path():
        slow = run_check(stand_in, tmp_path)
    assert fast == slow == [{"object": "n1", "results": {"ok": True}},
                            {"object": "n2", "results": {"ok": True}}]
    sent = [(r.method, r.path, r.body, sorted(r.headers.items())) for r in stand_in.requests]
    assert len(sent) == 10
    assert sent[:5] == sent[5:]
    assert all("Cookie" not in r.headers for r in stand_in.requests)


def test_the_fast_path_never_loads_the_ca_store(controller, tmp_path):
    stand_in = controller(scenario())
    with mock.patch.object(ssl.SSLContext, "load_default_certs", autospec=True,
                           side_effect=ssl.SSLContext.load_default_certs) as load:
        run_check(stand_in, tmp_path)
        assert load.call_count == 0
        with slow_path():
            run_check(stand_in, tmp_path)
        assert load.call_count == 5


def test_a_patched_post_receives_the_calls_requests_post_would(controller, tmp_path):
    stand_in = controller(scenario())
    with mock.patch("requests.post", wraps=REAL_POST) as post:
        run_check(stand_in, tmp_path)
    url = stand_in.url
    login = mock.call(url, data={"action": "login", "username": "admin", "password": "pw"}, verify=False)
    # The chained check reuses one field mapping, as the requests show it at the end.
    last = {"CID": "c-5", "action": "show", "name": "n2"}
    assert post.call_args_list == [login, login, mock.call(url, data={"CID": "c-5", "action": "names"},
                                                           verify=False),
                                   mock.call(url, data=last, verify=False),
                                   mock.call(url, data=last, verify=False)]


def test_a_post_replaced_before_import_is_still_called(controller, tmp_path):
    stand_in = controller(scenario())
    program = (
        "import requests, sys; real = requests.post; calls = []\n"
        "requests.post = lambda *a, **k: calls.append(k['data']['action']) or real(*a, **k)\n"
        "from harborsweep import harborsweep as hs\n"
        "hs.quorvane_api(*sys.argv[1:])\n"
        "print(calls)\n"
    )
    done = subprocess.run([sys.executable, "-c", program, stand_in.address, "admin", "pw",
                           *chained_check(tmp_path)], capture_output=True, text=True, check=True)
    assert done.stdout == "['login', 'login', 'names', 'show', 'show']\n"


def test_adapter_level_mocks_still_see_every_request(controller, tmp_path):
    stand_in = controller(scenario())
    with mock.patch("requests.adapters.HTTPAdapter.send", autospec=True,
                    side_effect=requests.adapters.HTTPAdapter.send) as send:
        run_check(stand_in, tmp_path)
    assert send.call_count == 5
    assert set(stand_in.connections) == {1}


class CountingAdapter(requests.adapters.HTTPAdapter):
    call_count = 0

    def send(self, *args, **kwargs):
        CountingAdapter.call_count += 1
        return super().send(*args, **kwargs)


def wrapping(target):
    return {"new": mock.MagicMock(wraps=target)}


def bound(method):
    return {"autospec": True, "side_effect": method}


# What requests.post builds a request with, replaced, takes every request to
# requests.post as it is: a session and a connection each. Methods of the
# session and adapter classes, patched, are called on the kept connection's
# path once per request, as requests.post calls them.
PATCHES = {
    "requests.post": ("requests.post", lambda: wrapping(REAL_POST), 5),
    "requests.api.request": ("requests.api.request", lambda: wrapping(requests.api.request), 5),
    "requests.sessions.Session": ("requests.sessions.Session", lambda: wrapping(requests.sessions.Session), 5),
    "requests.sessions.HTTPAdapter": ("requests.sessions.HTTPAdapter", lambda: {"new": CountingAdapter}, 5),
    "Session.request": ("requests.sessions.Session.request", lambda: bound(requests.sessions.Session.request), 1),
    "Session.send": ("requests.sessions.Session.send", lambda: bound(requests.sessions.Session.send), 1),
}


@pytest.mark.parametrize("case", PATCHES)
def test_a_patch_of_what_requests_post_uses_sees_every_request(controller, tmp_path, case):
    target, how, connections = PATCHES[case]
    stand_in = controller(scenario())
    CountingAdapter.call_count = 0
    with mock.patch(target, **how()) as patched:
        assert run_check(stand_in, tmp_path) == [{"object": "n1", "results": {"ok": True}},
                                                 {"object": "n2", "results": {"ok": True}}]
    assert patched.call_count == 5
    assert len(stand_in.requests) == 5 and len(set(stand_in.connections)) == connections
    assert stand_in.all_closed()


def connection_runs(stand_in):
    """How many requests went on each connection, in order."""
    return [len(list(run)) for _, run in groupby(stand_in.connections)]


def run_dir(tmp_path):
    """Two plain checks and a chained one: a run of ten requests."""
    return write_checks(tmp_path / "checks", {
        "names.ini": "[default]\nfilters = results\n[quorvane]\naction = names\n",
        "a.cfg": "[default]\ndescription = A\n[quorvane]\naction = show\n",
        "b.cfg": "[default]\ndescription = B\nfilters = ok\n[quorvane]\naction = show\n",
        "chained.cfg": "[default]\ndescription = Chained\n[quorvane]\naction = show\nname = output(names.ini)\n",
    })


def fleet(**settings):
    return Scenario(accounts=[Account("admin", "pw", cid="c-1")], require_cid=True, rules=[
        Rule({"action": "names"}, Reply(json={"results": ["n1", "n2"]})),
        Rule({"action": "show"}, Reply(json={"ok": True})),
    ], **settings)


# (call from outside the module, requests it sends)
CALLS = {
    "main": (lambda address, config_dir: run_main(address, config_dir), 10),
    # A replacement of the module's own global, called from inside main, is
    # a nested call: it shares main's connection.
    "main, quorvane_api wrapped": (lambda address, config_dir: wrapped_quorvane_api(address, config_dir), 10),
    "quorvane_api": (lambda address, config_dir: hs.quorvane_api(address, "admin", "pw", config_dir,
                                                                 config_dir + "/chained.cfg"), 5),
    "get_quorvane_cid": (lambda address, config_dir: hs.get_quorvane_cid(address, "admin", "pw"), 1),
}


def wrapped_quorvane_api(address, config_dir):
    with mock.patch.object(hs, "quorvane_api", wraps=hs.quorvane_api) as wrapper:
        run_main(address, config_dir)
    assert wrapper.call_count == 4


@pytest.mark.parametrize("case", CALLS)
def test_a_call_from_outside_keeps_one_connection_until_it_returns(controller, tmp_path, adapter_events, case):
    call, sent = CALLS[case]
    stand_in = controller(fleet())
    config_dir = run_dir(tmp_path)
    for number in (1, 2):
        call(stand_in.address, config_dir)
        # Closed when the call returns; the next call opens its own.
        assert stand_in.all_closed()
        assert stand_in.connections == [1] * sent + [2] * sent * (number - 1)
        assert adapter_events.used_and_closed() == number


def test_a_call_on_another_thread_keeps_a_connection_of_its_own(controller, tmp_path):
    stand_in = controller(fleet())
    stand_in.scenario.accounts.append(Account("other", "pw2", cid="c-2"))
    config_dir = run_dir(tmp_path)
    real = hs.filter_results
    cids = []

    def filter_results(*args):
        if not cids:
            login = threading.Thread(target=lambda: cids.append(hs.get_quorvane_cid(stand_in.address, "other", "pw2")))
            login.start()
            login.join()
        return real(*args)

    with mock.patch.object(hs, "filter_results", filter_results):
        hs.quorvane_api(stand_in.address, "admin", "pw", config_dir, config_dir + "/chained.cfg")
    assert cids == ["c-2"]
    other = [request.connection for request in stand_in.requests if b"username=other" in request.body]
    assert other == [2]
    assert set(stand_in.connections) - set(other) == {1}
    assert stand_in.all_closed()


def run_output(config_dir):
    results = {"a.cfg": {"ok": True}, "b.cfg": True,
               "chained.cfg": [{"object": "n1", "results": {"ok": True}}, {"object": "n2", "results": {"ok": True}}]}
    return "".join(check_output(name[:-4].capitalize(), results[name]) for name in check_order(config_dir))


def pause_after_first_result(seconds):
    real = hs.filter_results
    paused = []

    def filter_results(*args):
        if not paused:
            paused.append(time.sleep(seconds))
        return real(*args)
    return mock.patch.object(hs, "filter_results", filter_results)


# (what the controller does, requests on each connection in order given the
# number sent before the first result; the client waits a moment there
# where the row says so)
CONTROLLERS = {
    "keeps the connection": ({}, lambda before: [10], None),
    "sets a cookie on every answer": ({"headers": {"Set-Cookie": "session=s-1; Path=/"}}, lambda before: [10], None),
    "closes after every answer": ({"close_after": 1}, lambda before: [1] * 10, None),
    "closes after every third answer": ({"close_after": 3}, lambda before: [3, 3, 3, 1], None),
    "answers Connection: close": ({"headers": {"Connection": "close"}}, lambda before: [1] * 10, None),
    "closes an idle connection": ({"idle_close": 0.5}, lambda before: [before, 10 - before], 1.5),
}


@pytest.mark.parametrize("case", CONTROLLERS)
def test_every_request_is_sent_once_whatever_the_controller_does_with_its_connections(controller, tmp_path,
                                                                                        case):
    settings, runs, pause = CONTROLLERS[case]
    stand_in = controller(fleet(**settings))
    config_dir = run_dir(tmp_path)
    with pause_after_first_result(pause or 0):
        output = run_main(stand_in.address, config_dir).getvalue()
    assert output == run_output(config_dir)
    login = b"action=login&username=admin&password=pw"
    show = b"CID=c-1&action=show"
    per_check = {"a.cfg": [login, show], "b.cfg": [login, show],
                 "chained.cfg": [login, login, b"CID=c-1&action=names", show + b"&name=n1", show + b"&name=n2"]}
    assert stand_in.bodies == [login, *(body for name in check_order(config_dir) for body in per_check[name])]
    # main's login, then the first check's login and action (the chained
    # check's: two logins and the names first).
    before = 1 + (3 if check_order(config_dir)[0] == "chained.cfg" else 2)
    assert connection_runs(stand_in) == runs(before)
    assert not [request.headers["Cookie"] for request in stand_in.requests if "Cookie" in request.headers]
    assert stand_in.all_closed()


class ConnectProxy(socketserver.ThreadingTCPServer):
    """An HTTP CONNECT proxy on loopback that records each tunnel's target."""

    daemon_threads = True
    allow_reuse_address = True

    def __init__(self):
        super().__init__(("127.0.0.1", 0), ConnectHandler)
        self.targets = []


class ConnectHandler(socketserver.StreamRequestHandler):
    def handle(self):
        request_line = self.rfile.readline().decode()
        while self.rfile.readline() not in (b"\r\n", b"\n", b""):
            pass
        method, target, _ = request_line.split(" ", 2)
        assert method == "CONNECT"
        self.server.targets.append(target)
        host, port = target.rsplit(":", 1)
        assert host == "127.0.0.1"
        with socket.create_connection((host, int(port))) as upstream:
            self.wfile.write(b"HTTP/1.1 200 Connection established\r\n\r\n")
            self.wfile.flush()
            pump = threading.Thread(target=copy, args=(upstream, self.connection), daemon=True)
            pump.start()
            copy(self.connection, upstream)
            pump.join(timeout=5)


def copy(source, target):
    try:
        while data := source.recv(65536):
            target.sendall(data)
        target.shutdown(socket.SHUT_WR)
    except OSError:
        pass


def test_proxies_from_the_environment_are_used_on_both_paths(controller, tmp_path, monkeypatch):
    stand_in = controller(scenario())
    proxy = ConnectProxy()
    threading.Thread(target=proxy.serve_forever, daemon=True).start()
    try:
        monkeypatch.setenv("HTTPS_PROXY", f"http://127.0.0.1:{proxy.server_address[1]}")
        run_check(stand_in, tmp_path)
        with slow_path():
            run_check(stand_in, tmp_path)
    finally:
        proxy.shutdown()
        proxy.server_close()
    # One tunnel for the whole fast run, one per request through requests.post.
    assert proxy.targets == [stand_in.address] * 6
    assert len(stand_in.requests) == 10
