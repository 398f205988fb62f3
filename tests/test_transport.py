# Requests go out through a fresh requests session sharing one no-verification TLS context, indistinguishable on the wire from requests.post.
import socket
import socketserver
import ssl
import subprocess
import sys
import threading
from unittest import mock

import pytest
import requests

from harborsweep import harborsweep as hs
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
    assert proxy.targets == [stand_in.address] * 10
    assert len(stand_in.requests) == 10
