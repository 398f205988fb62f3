# The stand-in controller itself: login, rule matching, recording, odd answers, kept and closed connections, loopback only.
import configparser
import http.client
import json
import select
import signal
import socket
import ssl
import subprocess
import sys
import time
from pathlib import Path

import pytest
import requests

from standin_controller import Account, Reply, Rule, Scenario, StandinProcess

REPO = Path(__file__).resolve().parent.parent


def post(controller, fields, **kwargs):
    return requests.post(controller.url, data=fields, verify=controller.ca_bundle, **kwargs)


def login_form(username, password):
    return {"action": "login", "username": username, "password": password}


@pytest.mark.parametrize("cid", ["c-1", None, 42])
def test_login_gives_the_accounts_cid_and_refuses_others(controller, cid):
    running = controller(Scenario(accounts=[Account("admin", "p&w d=%+", cid=cid)]))

    accepted = post(running, login_form("admin", "p&w d=%+"))
    assert accepted.status_code == 200
    assert accepted.json()["CID"] == cid

    for username, password in [("admin", "wrong"), ("root", "p&w d=%+"), ("admin", "")]:
        refused = post(running, login_form(username, password)).json()
        assert isinstance(refused, dict) and "CID" not in refused


def test_rules_match_on_every_listed_field_first_match_wins(controller):
    running = controller(Scenario(rules=[
        Rule({"action": "show_gateway", "gw_name": "edge-1"}, Reply(json={"gw": 1})),
        Rule({"action": "show_gateway"}, Reply(json={"gw": "other"})),
        Rule({"action": "tag", "tags": ["a", "b"]}, Reply(json="two tags")),
        Rule({"action": "anon", "CID": None}, Reply(json="no CID field")),
    ]))

    assert post(running, {"CID": "c", "action": "show_gateway", "gw_name": "edge-1"}).json() == {"gw": 1}
    assert post(running, {"action": "show_gateway", "gw_name": "edge-2"}).json() == {"gw": "other"}
    assert post(running, {"action": "tag", "tags": ["a", "b"]}).json() == "two tags"
    assert post(running, {"action": "anon"}).json() == "no CID field"

    # A field sent twice is not a single-value match; unanswered requests still get JSON.
    for fields in [{"action": "tag", "tags": ["a"]}, {"action": "anon", "CID": "x"},
                   [("action", "show_gateway"), ("action", "show_gateway")]]:
        unanswered = post(running, fields)
        assert unanswered.status_code == 404
        assert unanswered.json()["return"] is False


def test_a_rule_can_override_the_login(controller):
    running = controller(Scenario(
        accounts=[Account("admin", "pw")],
        rules=[Rule({"action": "login"}, Reply(body=b"<html>maintenance</html>"))],
    ))
    answer = post(running, login_form("admin", "pw"))
    assert answer.text == "<html>maintenance</html>"
    with pytest.raises(ValueError):
        answer.json()


def test_records_raw_bodies_and_headers_in_arrival_order(controller):
    running = controller(Scenario(
        accounts=[Account("admin", "a b&c=d%", cid="c-1")],
        rules=[Rule({"action": "list"}, Reply(json=[], headers={"Set-Cookie": "session=abc"}))],
    ))
    post(running, login_form("admin", "a b&c=d%"))
    assert post(running, {"CID": "c-1", "action": "list"}).cookies["session"] == "abc"
    post(running, {"action": "missing"})

    assert running.bodies == [
        b"action=login&username=admin&password=a+b%26c%3Dd%25",
        b"CID=c-1&action=list",
        b"action=missing",
    ]
    first = running.requests[0]
    assert (first.method, first.path) == ("POST", "/v1/api")
    assert first.headers["Content-Type"] == "application/x-www-form-urlencoded"
    assert first.fields == [("action", "login"), ("username", "admin"), ("password", "a b&c=d%")]


def test_a_stand_in_in_a_child_process_records_through_a_file(controller_process):
    running = controller_process({"accounts": [{"username": "admin", "password": "pw", "cid": "c-1"}]})
    url = running.url
    assert requests.post(url, data=login_form("admin", "pw"), verify=False).json()["CID"] == "c-1"
    # Bytes that are not UTF-8 come back as they were sent.
    requests.post(url, data=b"action=x&v=\xff\x00", verify=False,
                  headers={"Content-Type": "application/x-www-form-urlencoded"})
    assert running.bodies == [b"action=login&username=admin&password=pw", b"action=x&v=\xff\x00"]
    assert running.requests[1].headers["Content-Type"] == "application/x-www-form-urlencoded"


def test_a_stand_in_process_that_records_nothing_says_so():
    # The benchmarks' stand-in: it answers, but a test that asked it what was
    # sent must not be told "nothing".
    with StandinProcess({"accounts": [{"username": "admin", "password": "pw", "cid": "c-1"}]},
                        record=False) as running:
        assert requests.post(running.url, data=login_form("admin", "pw"), verify=False).json()["CID"] == "c-1"
        with pytest.raises(RuntimeError, match="keeps no requests"):
            running.bodies


def test_error_status_non_json_delay_and_drop(controller):
    running = controller(Scenario(rules=[
        Rule({"action": "boom"}, Reply(json={"return": False, "reason": "internal"}, status=500)),
        Rule({"action": "page"}, Reply(body=b"<html>502 Bad Gateway</html>")),
        Rule({"action": "null"}, Reply(json=None)),
        Rule({"action": "slow"}, Reply(json="late", delay=0.4)),
        Rule({"action": "drop"}, Reply(drop=True)),
    ]))

    boom = post(running, {"action": "boom"})
    assert (boom.status_code, boom.json()) == (500, {"return": False, "reason": "internal"})
    assert post(running, {"action": "page"}).text == "<html>502 Bad Gateway</html>"
    assert post(running, {"action": "null"}).text == "null"

    started = time.monotonic()
    assert post(running, {"action": "slow"}).json() == "late"
    assert time.monotonic() - started >= 0.4

    with pytest.raises(requests.exceptions.ConnectionError):
        post(running, {"action": "drop"})
    assert running.bodies[-1] == b"action=drop"
    # The server goes on answering after a dropped connection.
    assert post(running, {"action": "null"}).status_code == 200


def closed_by_server(connection):
    """Whether the server's close has reached `connection` (http.client's)
    already, without waiting for it."""
    return connection.sock is None or bool(select.select([connection.sock], [], [], 0)[0])


# (scenario settings, whether the connection is closed after each of five answers)
CONNECTIONS = {
    "kept open": ({}, [False] * 5),
    "Connection: close": ({"headers": {"Connection": "close"}}, [True] * 5),
    "closed after every second answer": ({"close_after": 2}, [False, True, False, True, False]),
}


@pytest.mark.parametrize("case", CONNECTIONS)
def test_connections_are_kept_or_closed_with_the_answer(controller, case):
    settings, closes = CONNECTIONS[case]
    running = controller(Scenario(accounts=[Account("admin", "pw", cid="c-1")], **settings))
    context = ssl.create_default_context(cafile=running.ca_bundle)
    connection = http.client.HTTPSConnection("127.0.0.1", running.port, context=context)
    seen = []
    for _ in closes:
        if connection.sock is not None and closed_by_server(connection):
            connection.close()
        connection.request("POST", "/v1/api", body="action=login&username=admin&password=pw",
                           headers={"Content-Type": "application/x-www-form-urlencoded"})
        assert json.loads(connection.getresponse().read())["CID"] == "c-1"
        # A close comes with the end of the answer, never a moment later.
        seen.append(closed_by_server(connection))
    connection.close()
    assert seen == closes
    assert running.connections == [1 + sum(closes[:i]) for i in range(5)]
    assert running.all_closed()


def test_require_cid_refuses_unknown_sessions(controller):
    running = controller(Scenario(
        accounts=[Account("admin", "pw", cid="c-1")],
        rules=[Rule({"action": "list"}, Reply(json={"return": True}))],
        require_cid=True,
    ))
    assert post(running, {"CID": "c-1", "action": "list"}).json() == {"return": True}
    for fields in [{"CID": "c-2", "action": "list"}, {"action": "list"}]:
        assert post(running, fields).json() == {"return": False, "reason": "CID is invalid or expired."}


@pytest.mark.filterwarnings("ignore::urllib3.exceptions.InsecureRequestWarning")
def test_listens_on_loopback_only(controller):
    running = controller(Scenario())
    host, port = running.address.split(":")
    assert host == "127.0.0.1"
    assert running._server.socket.getsockname() == ("127.0.0.1", int(port))
    # Plain unverified HTTPS, as the tool itself connects, works too.
    assert requests.post(running.url, data={}, verify=False).status_code == 404


@pytest.mark.filterwarnings("ignore::urllib3.exceptions.InsecureRequestWarning")
def test_command_line_prints_address_and_stops_on_sigterm(tmp_path):
    scenario = tmp_path / "scenario.json"
    scenario.write_text(json.dumps({
        "accounts": [{"username": "admin", "password": "pw", "cid": "c-9"}],
        "rules": [{"match": {"action": "ping"}, "json": "pong", "status": 201}],
    }))
    server = subprocess.Popen(
        [sys.executable, str(REPO / "tools" / "standin_controller.py"), "--scenario", str(scenario)],
        stdout=subprocess.PIPE, text=True,
    )
    try:
        address = server.stdout.readline().strip()
        assert address.startswith("127.0.0.1:")
        url = f"https://{address}/v1/api"
        assert requests.post(url, data=login_form("admin", "pw"), verify=False).json()["CID"] == "c-9"
        ping = requests.post(url, data={"action": "ping"}, verify=False)
        assert (ping.status_code, ping.json()) == (201, "pong")
    finally:
        server.send_signal(signal.SIGTERM)
        status = server.wait(timeout=10)
        server.stdout.close()
    assert status == 0
    with pytest.raises(OSError):
        socket.create_connection(("127.0.0.1", int(address.split(":")[1])), timeout=1).close()


@pytest.mark.filterwarnings("ignore::urllib3.exceptions.InsecureRequestWarning")
def test_verbose_command_line_writes_each_raw_body_on_one_stderr_line(tmp_path):
    scenario = tmp_path / "scenario.json"
    scenario.write_text(json.dumps({"accounts": [{"username": "admin", "password": "a b&c=d%"}]}))
    server = subprocess.Popen(
        [sys.executable, str(REPO / "tools" / "standin_controller.py"),
         "--scenario", str(scenario), "--verbose"],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
    )
    try:
        address = server.stdout.readline().strip()
        url = f"https://{address}/v1/api"
        requests.post(url, data=login_form("admin", "a b&c=d%"), verify=False)
        # Not a form body: a line break, a backslash and non-ASCII must not split the line.
        requests.post(url, data="x=1\nNo\\ é".encode("utf-8"), verify=False)
    finally:
        server.send_signal(signal.SIGTERM)
        out, err = server.communicate(timeout=10)
    assert server.returncode == 0
    assert out == ""  # nothing but the address line on standard output
    assert err.splitlines() == [
        "POST /v1/api action=login&username=admin&password=a+b%26c%3Dd%25",
        "POST /v1/api x=1\\x0aNo\\x5c \\xc3\\xa9",
    ]


def test_fleet_scenario_has_a_rule_for_every_example_check():
    fleet = Scenario.load(REPO / "examples" / "fleet.json")
    assert fleet.require_cid and fleet.accounts
    actions = {rule.match.get("action") for rule in fleet.rules}
    checks = [path for path in (REPO / "examples" / "checks").rglob("*") if path.is_file()]
    assert len(checks) >= 5
    for check in checks:
        parser = configparser.ConfigParser()
        with open(check, encoding="utf-8") as file:
            parser.read_file(file)
        parser.get("default", "description")  # interpolates: a lone "%" would fail
        assert parser.get("quorvane", "action") in actions, check
