"""A whole run, 50 plain checks and one chained check of 1,000 elements,
against the stand-in controller: harborsweep's time per action request next
to a plain-Python loop of requests.post sending the same requests.

harborsweep is timed twice: as shipped, and with requests.post wrapped (which
makes every request call requests.post itself), the latter being the like-for-
like measure of harborsweep's own overhead over that loop.
"""

import configparser
import contextlib
import os
import sys
import tempfile
import time
from unittest import mock

import requests
from standin_process import fleet_scenario, standin, write_checks

from harborsweep import harborsweep as hs

PLAIN, CHAINED = 50, 1000


@contextlib.contextmanager
def output_discarded():
    # pp writes to the standard output of import time: silence the descriptor.
    sys.stdout.flush()
    saved = os.dup(1)
    with open(os.devnull, "wb") as devnull:
        os.dup2(devnull.fileno(), 1)
    try:
        yield
    finally:
        sys.stdout.flush()
        os.dup2(saved, 1)
        os.close(saved)


def run_harborsweep(address, config_dir):
    argv = ["harborsweep", "--controller_ip", address, "--password", "pw", "--config_dir", config_dir]
    with mock.patch.object(sys, "argv", argv), output_discarded():
        start = time.perf_counter()
        hs.main()
        return time.perf_counter() - start


def run_plain_loop(address, config_dir):
    """The same requests, from the same check files, with requests.post."""
    url = f"https://{address}/v1/api"
    login = {"action": "login", "username": "admin", "password": "pw"}
    start = time.perf_counter()
    requests.post(url, data=login, verify=False).json()
    for name in os.listdir(config_dir):
        if not name.endswith(".cfg"):
            continue
        parser = configparser.ConfigParser()
        with open(os.path.join(config_dir, name)) as file:
            parser.read_file(file)
        cid = requests.post(url, data=login, verify=False).json()["CID"]
        fields = {"CID": cid, **{k: parser.get("quorvane", k) for k in parser.options("quorvane")}}
        if fields.get("gw_name", "").startswith("output("):
            requests.post(url, data=login, verify=False).json()
            names = requests.post(url, data={"CID": cid, "action": "list_names"}, verify=False).json()["results"]
            for gw_name in names:
                fields["gw_name"] = gw_name
                requests.post(url, data=fields, verify=False).json()
        else:
            requests.post(url, data=fields, verify=False).json()
    return time.perf_counter() - start


def main():
    actions = PLAIN + CHAINED + 1  # the nested check's list request counts too
    with tempfile.TemporaryDirectory() as scratch, standin(fleet_scenario(CHAINED)) as address:
        config_dir = write_checks(scratch, PLAIN, chained=True)
        real_post = requests.post
        with mock.patch("requests.post", lambda *a, **k: real_post(*a, **k)):
            wrapped = run_harborsweep(address, config_dir)
        loop = run_plain_loop(address, config_dir)
        shipped = run_harborsweep(address, config_dir)
    per = lambda seconds: seconds / actions * 1000
    print(f"run of {PLAIN} plain checks + 1 chained check of {CHAINED} elements ({actions} action requests)")
    print(f"  plain loop of requests.post:           {per(loop):7.2f} ms per action request")
    print(f"  harborsweep calling requests.post:     {per(wrapped):7.2f} ms per action request"
          f"  (overhead {100 * (wrapped / loop - 1):+.1f}% over the loop; target <= +5%)")
    print(f"  harborsweep as shipped (shared TLS):   {per(shipped):7.2f} ms per action request"
          f"  ({loop / shipped:.1f}x faster than the loop)")


if __name__ == "__main__":
    main()
