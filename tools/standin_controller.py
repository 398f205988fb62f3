"""A stand-in Quorvane Controller for the tests and the demo.

It serves the one API endpoint, ``POST /v1/api``, over real HTTPS on
127.0.0.1 with a throwaway certificate made at start (``trustme``), and
answers every form POST from a scenario:

* ``action=login`` with accepted credentials gets ``{"return": true,
  "results": ..., "CID": <the account's cid>}`` (the cid may be any JSON
  value); other credentials get the scenario's refusal, by default a JSON
  object without a "CID" member.
* Any request is first tried against the scenario's rules, in order; the first
  rule whose ``match`` fields all equal the request's fields answers it.
  Rules are checked before the login, so a rule matching ``{"action":
  "login"}`` can give the login a non-JSON or non-object answer.
* A request that nothing answers gets HTTP 404 with a JSON reason.
* With ``require_cid``, any request but the login must carry an account's cid
  in its "CID" field, or it is refused before the rules are tried.

Connections are HTTP/1.1 and kept open between requests, as a real
controller's are, unless the scenario says otherwise: ``headers`` go with
every answer (a ``Connection: close`` among them closes the connection after
each answer, saying so), ``close_after`` closes a connection without a word
once it has given that many answers, and ``idle_close`` closes one that has
waited that many seconds for its next request.

Every request is recorded, raw body included, with the number of the
connection it came on (connections are numbered from 1 as they are
accepted), in arrival order (by the command line only with ``--record``).

Python use::

    scenario = Scenario(
        accounts=[Account("admin", "secret", cid="c-1")],
        rules=[Rule({"action": "list_gateways"}, Reply(json={"results": []}))],
    )
    with StandinController(scenario) as controller:
        controller.address   # "127.0.0.1:PORT", for --controller_ip
        controller.bodies    # [b"action=login&username=admin&...", ...]
        controller.connections  # the connection of each request: [1, 1, 2, ...]
        controller.open_connections  # connections the client has not closed

Command line (scenario file in JSON, see ``Scenario.from_dict``)::

    python tools/standin_controller.py --scenario examples/fleet.json [--verbose]

prints the address on one line and serves until SIGTERM or SIGINT. With
``--verbose`` it also writes one line per request to standard error, as the
request arrives (before any delay of its answer)::

    POST /v1/api CID=c-1&action=list_gateways

that is the method, the path and the raw body as received, separated by
single spaces. Body bytes outside printable ASCII, and the backslash, are
shown as ``\\xNN`` so that every request stays on one line; a form body as
``requests`` sends it is printable ASCII throughout and shows unchanged.

With ``--record FILE`` it also appends every request to FILE, one JSON line
each, before answering it; without it, it keeps no request at all, so that
serving costs no more than answering. ``StandinProcess`` runs it from Python,
for a caller that must not have threads of its own (one that forks, as a pty
does) or that must not share its process with the server (a benchmark).
"""

from __future__ import annotations

import argparse
import json
import os
import signal
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import time
from dataclasses import asdict, dataclass, field
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from typing import Any, TextIO
from urllib.parse import parse_qsl

import trustme

LOOPBACK = "127.0.0.1"
API_PATH = "/v1/api"


class _Absent:
    """Marks a reply without a JSON body (None is a JSON value: null)."""

    def __repr__(self) -> str:
        return "ABSENT"


ABSENT: Any = _Absent()


@dataclass
class Reply:
    """One answer. ``json`` (any JSON value, null included) wins over ``body``
    (raw bytes, for non-JSON answers); with neither the body is empty.
    ``drop`` closes the connection without answering, after ``delay``, with a
    reset; ``cut`` sends the head and only that many bytes of the body, then
    closes the connection in the ordinary way."""

    json: Any = ABSENT
    body: bytes | None = None
    status: int = 200
    delay: float = 0.0
    drop: bool = False
    headers: dict[str, str] = field(default_factory=dict)
    cut: int | None = None

    @classmethod
    def from_dict(cls, data: dict[str, Any]) -> "Reply":
        body = data.get("body")
        return cls(
            json=data.get("json", ABSENT),
            body=body.encode("utf-8") if isinstance(body, str) else body,
            status=int(data.get("status", 200)),
            delay=float(data.get("delay", 0.0)),
            drop=bool(data.get("drop", False)),
            headers=dict(data.get("headers", {})),
            cut=None if data.get("cut") is None else int(data["cut"]),
        )

    def payload(self) -> tuple[bytes, str]:
        if self.json is not ABSENT:
            return json.dumps(self.json).encode("utf-8"), "application/json"
        return self.body or b"", "text/html; charset=utf-8"


@dataclass
class Rule:
    """Answers requests whose fields equal every entry of ``match``.

    A text matches a field sent exactly once with that value; a list matches
    the field's values in order (fields sent repeatedly, as a list or mapping
    value is form-encoded); None matches a field that is not sent at all."""

    match: dict[str, Any]
    reply: Reply

    @classmethod
    def from_dict(cls, data: dict[str, Any]) -> "Rule":
        reply = {key: value for key, value in data.items() if key != "match"}
        return cls(dict(data["match"]), Reply.from_dict(reply))

    def matches(self, fields: list[tuple[str, str]]) -> bool:
        for name, wanted in self.match.items():
            values = [value for key, value in fields if key == name]
            if wanted is None:
                if values:
                    return False
            elif isinstance(wanted, list):
                if values != wanted:
                    return False
            elif values != [wanted]:
                return False
        return True


@dataclass
class Account:
    """Credentials the login accepts, and the CID it answers with."""

    username: str
    password: str
    cid: Any = "cid-0001"


def _default_refusal() -> Reply:
    return Reply(json={"return": False, "reason": "Invalid username or password."})


@dataclass
class Scenario:
    accounts: list[Account] = field(default_factory=list)
    rules: list[Rule] = field(default_factory=list)
    refused: Reply = field(default_factory=_default_refusal)
    # When set, a request other than the login whose "CID" field is not an
    # account's cid is refused before any rule is tried, as a real
    # controller refuses an unknown session.
    require_cid: bool = False
    # Sent with every answer, after the answer's own headers.
    headers: dict[str, str] = field(default_factory=dict)
    # A connection is closed, without a Connection header saying so, after
    # this many answers; None keeps it open.
    close_after: int | None = None
    # A connection that waits this many seconds for a request is closed.
    idle_close: float | None = None

    @classmethod
    def from_dict(cls, data: dict[str, Any]) -> "Scenario":
        """Builds a scenario from its JSON form::

            {"accounts": [{"username": "admin", "password": "pw", "cid": "c-1"}],
             "refused": {"status": 200, "json": {"return": false}},
             "require_cid": false,
             "headers": {"Set-Cookie": "session=1"}, "close_after": 3, "idle_close": 0.5,
             "rules": [{"match": {"action": "list_gateways"},
                        "json": {...}, "status": 200, "delay": 0.5,
                        "drop": false, "cut": null, "body": "<html>", "headers": {}}]}
        """
        scenario = cls(
            accounts=[Account(**account) for account in data.get("accounts", [])],
            rules=[Rule.from_dict(rule) for rule in data.get("rules", [])],
            require_cid=bool(data.get("require_cid", False)),
            headers=dict(data.get("headers", {})),
            close_after=None if data.get("close_after") is None else int(data["close_after"]),
            idle_close=None if data.get("idle_close") is None else float(data["idle_close"]),
        )
        if "refused" in data:
            scenario.refused = Reply.from_dict(data["refused"])
        return scenario

    @classmethod
    def load(cls, path: str | os.PathLike[str]) -> "Scenario":
        with open(path, encoding="utf-8") as file:
            return cls.from_dict(json.load(file))

    def answer(self, method: str, path: str, fields: list[tuple[str, str]]) -> Reply:
        if method != "POST" or path != API_PATH:
            return Reply(
                json={"return": False, "reason": f"No such endpoint: {method} {path}"},
                status=404,
            )
        form = dict(fields)
        if self.require_cid and form.get("action") != "login":
            sessions = {_form_text(account.cid) for account in self.accounts}
            if form.get("CID") not in sessions:
                return Reply(json={"return": False, "reason": "CID is invalid or expired."})
        for rule in self.rules:
            if rule.matches(fields):
                return rule.reply
        if form.get("action") == "login":
            return self._login(form)
        return Reply(
            json={"return": False, "reason": f"No scenario rule answers {fields!r}"},
            status=404,
        )

    def _login(self, form: dict[str, str]) -> Reply:
        for account in self.accounts:
            if (form.get("username"), form.get("password")) == (
                account.username,
                account.password,
            ):
                return Reply(
                    json={
                        "return": True,
                        "results": f"User {account.username} logged in.",
                        "CID": account.cid,
                    }
                )
        return self.refused


def _form_text(value: Any) -> str | None:
    """The text a form body carries for a single JSON value (null: none)."""
    return None if value is None else str(value)


@dataclass(frozen=True)
class RecordedRequest:
    method: str
    path: str
    headers: dict[str, str]
    body: bytes
    connection: int = 0

    def log_line(self) -> str:
        """The request as ``--verbose`` shows it: method, path, raw body."""
        body = "".join(
            chr(byte) if 0x20 <= byte < 0x7F and byte != 0x5C else f"\\x{byte:02x}"
            for byte in self.body
        )
        return f"{self.method} {self.path} {body}"

    @property
    def fields(self) -> list[tuple[str, str]]:
        """The form fields in body order, repeated names kept."""
        return parse_qsl(self.body.decode("utf-8"), keep_blank_values=True)

    # One line of a record file; Latin-1 keeps any body's bytes as they came.
    def to_json(self) -> str:
        return json.dumps({**asdict(self), "body": self.body.decode("latin-1")})

    @classmethod
    def from_json(cls, line: str) -> "RecordedRequest":
        data = json.loads(line)
        return cls(data["method"], data["path"], data["headers"], data["body"].encode("latin-1"),
                   data.get("connection", 0))


class _Handler(BaseHTTPRequestHandler):
    server: "_TLSServer"
    # Keep-alive, as a real controller's server has; each answer goes out as
    # soon as it is written.
    protocol_version = "HTTP/1.1"
    disable_nagle_algorithm = True
    answers = 0

    def setup(self) -> None:
        self.timeout = self.server.scenario.idle_close
        self.connection_number = self.server.number_of(self.request)
        super().setup()

    def do_POST(self) -> None:
        self._serve()

    def do_GET(self) -> None:
        self._serve()

    def _serve(self) -> None:
        length = int(self.headers.get("Content-Length") or 0)
        recorded = RecordedRequest(
            self.command, self.path, dict(self.headers.items()), self.rfile.read(length),
            self.connection_number,
        )
        self.server.record(recorded)
        try:
            fields = recorded.fields
        except UnicodeDecodeError:
            fields = []
        reply = self.server.scenario.answer(self.command, self.path, fields)
        if reply.delay:
            time.sleep(reply.delay)
        if reply.drop:
            self.close_connection = True
            self.server.drop(self.connection)
            return
        self.answers += 1
        close_after = self.server.scenario.close_after
        closing = reply.cut is not None or bool(close_after and self.answers % close_after == 0)
        if closing:
            # Held back until the close, so that the end of the answer and the
            # close reach the client together: it can never send another
            # request on the connection before it could know it is closed.
            self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_CORK, 1)
        payload, content_type = reply.payload()
        self.send_response(reply.status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(payload)))
        for name, value in {**reply.headers, **self.server.scenario.headers}.items():
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(payload if reply.cut is None else payload[:reply.cut])
        if closing:
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)

    def log_message(self, format: str, *args: Any) -> None:
        pass


class _TLSServer(ThreadingHTTPServer):
    daemon_threads = True
    # stop() must not wait for an answer still sleeping out its delay.
    block_on_close = False

    def __init__(self, scenario: Scenario, context: ssl.SSLContext,
                 log: TextIO | None = None, record_to: str | None = None,
                 keep: bool = True) -> None:
        super().__init__((LOOPBACK, 0), _Handler)
        self.scenario = scenario
        self.context = context
        self.log = log
        self.keep = keep
        self.requests: list[RecordedRequest] = []
        # Each open connection and its number; numbers count from 1 in the
        # order that connections are accepted.
        self.connections: dict[Any, int] = {}
        self.accepted = 0
        self._lock = threading.Lock()
        self._record_file = None if record_to is None else open(record_to, "a", encoding="utf-8")

    def record(self, request: RecordedRequest) -> None:
        if not (self.keep or self.log or self._record_file):
            return
        # Under the lock, so that lines of concurrent requests never interleave
        # and appear in the order of `requests`.
        with self._lock:
            if self.keep:
                self.requests.append(request)
            if self.log is not None:
                self.log.write(request.log_line() + "\n")
                self.log.flush()
            # Written before the answer, so a client that has its answer
            # finds its request in the file.
            if self._record_file is not None:
                self._record_file.write(request.to_json() + "\n")
                self._record_file.flush()

    def server_close(self) -> None:
        super().server_close()
        # Connections a client keeps open end too, so that no thread serving
        # one outlives the server.
        with self._lock:
            open_connections = list(self.connections)
        for connection in open_connections:
            try:
                # The plain socket's shutdown: the serving thread may be in
                # the middle of a TLS read.
                socket.socket.shutdown(connection, socket.SHUT_RDWR)
            except OSError:
                pass
        with self._lock:
            if self._record_file is not None:
                self._record_file.close()
                self._record_file = None

    # The handshake happens in the request's own thread, so a slow or failing
    # client never holds up the accept loop.
    def finish_request(self, request: Any, client_address: Any) -> None:
        try:
            tls = self.context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            return
        with self._lock:
            self.accepted += 1
            self.connections[tls] = self.accepted
        try:
            self.RequestHandlerClass(tls, client_address, self)
        except OSError:
            pass
        finally:
            with self._lock:
                self.connections.pop(tls, None)
            tls.close()

    def number_of(self, connection: Any) -> int:
        with self._lock:
            return self.connections.get(connection, 0)

    @staticmethod
    def drop(connection: socket.socket) -> None:
        # Hard close (RST) so the client sees the connection go, not an answer.
        connection.setsockopt(
            socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0)
        )
        connection.close()

    def handle_error(self, request: Any, client_address: Any) -> None:
        pass


class _Serving:
    """What both ways of serving a scenario share. Use one as a context
    manager, or call ``start`` and ``stop``; each provides those two,
    ``address`` and ``requests``."""

    def __enter__(self) -> Any:
        return self.start()

    def __exit__(self, *exc_info: Any) -> None:
        self.stop()

    @property
    def url(self) -> str:
        return f"https://{self.address}{API_PATH}"

    @property
    def bodies(self) -> list[bytes]:
        return [request.body for request in self.requests]

    @property
    def connections(self) -> list[int]:
        """The number of the connection that each request came on."""
        return [request.connection for request in self.requests]


class StandinController(_Serving):
    """Serves a scenario on 127.0.0.1 (ephemeral port) in a background thread.

    Use as a context manager, or call ``start`` and ``stop``. With ``log``, a
    text stream, every request is also written there as it arrives, one line
    each (``RecordedRequest.log_line``); with ``record_to``, it is also
    appended to that file (see ``RecordedRequest.to_json``). Without
    ``keep_requests``, ``requests`` is not kept in memory."""

    def __init__(self, scenario: Scenario, log: TextIO | None = None,
                 record_to: str | None = None, keep_requests: bool = True) -> None:
        self.scenario = scenario
        self.log = log
        self.record_to = record_to
        self.keep_requests = keep_requests
        self.ca = trustme.CA()
        self._server: _TLSServer | None = None
        self._thread: threading.Thread | None = None
        self._ca_dir: tempfile.TemporaryDirectory[str] | None = None

    def start(self) -> "StandinController":
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        self.ca.issue_cert(LOOPBACK, "localhost").configure_cert(context)
        self._server = _TLSServer(self.scenario, context, self.log, self.record_to,
                                  self.keep_requests)
        host = self._server.server_address[0]
        if host != LOOPBACK:
            self._server.server_close()
            raise RuntimeError(f"stand-in controller bound to {host}, not loopback")
        self._ca_dir = tempfile.TemporaryDirectory(prefix="standin-ca-")
        self.ca_bundle = os.path.join(self._ca_dir.name, "ca.pem")
        self.ca.cert_pem.write_to_path(self.ca_bundle)
        # A short poll keeps stop() quick; tests start many of these.
        self._thread = threading.Thread(
            target=self._server.serve_forever,
            kwargs={"poll_interval": 0.05},
            name="standin-controller",
            daemon=True,
        )
        self._thread.start()
        return self

    def stop(self) -> None:
        if self._server is not None:
            self._server.shutdown()
            self._server.server_close()
            self._server = None
        if self._thread is not None:
            self._thread.join()
            self._thread = None
        if self._ca_dir is not None:
            self._ca_dir.cleanup()
            self._ca_dir = None

    @property
    def port(self) -> int:
        assert self._server is not None, "stand-in controller not started"
        return self._server.server_address[1]

    @property
    def address(self) -> str:
        """What a user passes as --controller_ip."""
        return f"{LOOPBACK}:{self.port}"

    @property
    def open_connections(self) -> int:
        """How many connections are open: accepted and not yet closed by
        either side (the serving thread notices a client's close at once)."""
        assert self._server is not None, "stand-in controller not started"
        with self._server._lock:
            return len(self._server.connections)

    def all_closed(self, within: float = 5.0) -> bool:
        """Whether every connection is closed, waiting up to `within` seconds
        for the threads that serve them to see the client's close."""
        deadline = time.monotonic() + within
        while self.open_connections and time.monotonic() < deadline:
            time.sleep(0.005)
        return self.open_connections == 0

    @property
    def requests(self) -> list[RecordedRequest]:
        assert self._server is not None, "stand-in controller not started"
        if not self.keep_requests:
            raise RuntimeError("this stand-in controller keeps no requests")
        with self._server._lock:
            return list(self._server.requests)


class StandinProcess(_Serving):
    """The stand-in served by a child process (this file's command line).

    For a caller that forks: a process that forks while it runs threads, as
    ``StandinController`` does, risks a child deadlocked on a lock that one of
    those threads held (Python 3.12 and later warn about it). ``address``,
    ``url``, ``requests`` and ``bodies`` work as for ``StandinController``;
    the scenario is given in its JSON form (see ``Scenario.from_dict``).

    The child writes every request to a file before answering it; without
    ``record`` it keeps none (and ``requests`` is refused), so that a
    measured client's requests cost the server no more than answering."""

    def __init__(self, scenario: dict[str, Any], record: bool = True) -> None:
        self.scenario = scenario
        self.record = record
        self._process: subprocess.Popen[str] | None = None
        self._scratch: tempfile.TemporaryDirectory[str] | None = None

    def start(self) -> "StandinProcess":
        self._scratch = tempfile.TemporaryDirectory(prefix="standin-process-")
        scenario_file = os.path.join(self._scratch.name, "scenario.json")
        self._record = os.path.join(self._scratch.name, "requests.jsonl")
        with open(scenario_file, "w", encoding="utf-8") as file:
            json.dump(self.scenario, file)
        recording = ["--record", self._record] if self.record else []
        self._process = subprocess.Popen(
            [sys.executable, os.path.abspath(__file__), "--scenario", scenario_file, *recording],
            stdout=subprocess.PIPE, text=True)
        assert self._process.stdout is not None
        self.address = self._process.stdout.readline().strip()
        if not self.address:
            self.stop()
            raise RuntimeError("stand-in controller process exited without serving")
        return self

    def stop(self) -> None:
        if self._process is not None:
            self._process.terminate()
            self._process.wait(timeout=10)
            assert self._process.stdout is not None
            self._process.stdout.close()
            self._process = None
        if self._scratch is not None:
            self._scratch.cleanup()
            self._scratch = None

    @property
    def requests(self) -> list[RecordedRequest]:
        assert self._scratch is not None, "stand-in controller process not started"
        if not self.record:
            raise RuntimeError("this stand-in controller process keeps no requests")
        if not os.path.exists(self._record):
            return []
        with open(self._record, encoding="utf-8") as file:
            return [RecordedRequest.from_json(line) for line in file]


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(
        description="Serve a stand-in Quorvane Controller on 127.0.0.1 until "
        "SIGTERM or SIGINT; prints its address (HOST:PORT) on the first line."
    )
    parser.add_argument("--scenario", required=True, help="scenario file (JSON)")
    parser.add_argument(
        "--verbose",
        action="store_true",
        help="write each request to standard error as it arrives: "
        "METHOD PATH BODY on one line, the body raw as received",
    )
    parser.add_argument("--record", metavar="FILE",
                        help="append every request to FILE, one JSON line each")
    options = parser.parse_args(argv)
    scenario = Scenario.load(options.scenario)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    log = sys.stderr if options.verbose else None
    try:
        with StandinController(scenario, log, options.record, keep_requests=False) as controller:
            print(controller.address, flush=True)
            while True:
                signal.pause()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
