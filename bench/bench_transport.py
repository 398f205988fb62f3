"""Controller requests: (a) the time of one request on harborsweep's transport,
on requests.post(..., verify=False), and on a bare http.client request over a
prebuilt TLS context; (b) a whole run of 20 plain checks and a chained check
of 100 elements through the launcher, as shipped and with requests.post
wrapped (which sends every request through requests.post itself).
"""

import gc
import http.client
import json
import os
import ssl
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import requests
from standin_process import fleet_scenario, standin, write_checks

from harborsweep import harborsweep as hs

REQUESTS = 200
LOGIN = {"action": "login", "username": "admin", "password": "pw"}
LOGIN_BODY = "action=login&username=admin&password=pw"
WRAPPED = ("import requests, sys; real = requests.post; "
           "requests.post = lambda *a, **k: real(*a, **k); "
           "from harborsweep.__main__ import run; run()")


def per_request(senders):
    """Mean milliseconds per request of each sender, taking turns so that all
    see the same server and machine load."""
    totals = [0.0] * len(senders)
    for send in senders:
        send()  # first use: connection set-up, the shared context
    for _ in range(REQUESTS):
        for i, send in enumerate(senders):
            start = time.perf_counter()
            send()
            totals[i] += time.perf_counter() - start
    return [total / REQUESTS * 1000 for total in totals]


def bare_request(host, port, context):
    connection = http.client.HTTPSConnection(host, port, context=context)
    connection.request("POST", "/v1/api", body=LOGIN_BODY,
                       headers={"Content-Type": "application/x-www-form-urlencoded"})
    answer = json.loads(connection.getresponse().read())
    connection.close()
    return answer


def request_figures(address):
    host, port = address.split(":")
    url = f"https://{address}/v1/api"
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    # requests.post is timed on its own: the garbage of its CA store loads
    # would otherwise be collected during the others' turns.
    bare, shipped = per_request([
        lambda: bare_request(host, int(port), context),
        lambda: hs.get_quorvane_cid(address, "admin", "pw"),
    ])
    gc.collect()
    (plain,) = per_request([lambda: requests.post(url, data=LOGIN, verify=False).json()])
    print(f"(a) one request (login), mean of {REQUESTS}, taking turns:")
    print(f"    bare http.client, prebuilt context:  {bare:7.2f} ms")
    print(f"    requests.post(..., verify=False):    {plain:7.2f} ms")
    print(f"    harborsweep transport:               {shipped:7.2f} ms"
          f"  ({shipped / bare:.2f}x the bare figure; target <= 1.5x)")


def timed_run(command):
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def run_figures(address):
    with tempfile.TemporaryDirectory() as scratch:
        config_dir = write_checks(scratch, 20, chained=True)
        args = ["--controller_ip", address, "--password", "pw", "--config_dir", config_dir]
        launcher = str(Path(sys.executable).parent / "harborsweep")
        slow = timed_run([sys.executable, "-c", WRAPPED, *args])
        fast = timed_run([launcher, *args])
    print("(b) run of 20 plain checks + a chained check of 100 elements, through the launcher:")
    print(f"    with requests.post:                  {slow:7.2f} s")
    print(f"    as shipped:                          {fast:7.2f} s  ({slow / fast:.1f}x faster; target >= 5x)")


def main():
    for name in [n for n in os.environ if n.lower().endswith("_proxy")]:
        del os.environ[name]
    scenario = fleet_scenario(100)
    with standin(scenario) as address:
        request_figures(address)
        run_figures(address)


if __name__ == "__main__":
    main()
