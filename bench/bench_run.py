"""A whole run against the stand-in controller: harborsweep's time per action
request next to a plain-Python loop sending the same requests.

The run is 5 plain checks and one chained check of 100 elements (106 action
requests, 8 logins): the mix of 50 plain checks and a chained check of 1,000,
at a tenth of the size, so that the contenders can take turns over several
rounds. What is measured is the CPU time of this process, the client: the
stand-in answers from another process, and every contender waits for the
same answers, so what sets them apart is the work each does here. The
median of each is printed, and each ratio is the median of the rounds' own
ratios. The collector is paused while they
run: they build the same requests and answers.

harborsweep with requests.post wrapped (which makes every request call
requests.post itself) against the loop of requests.post is the like-for-like
measure of harborsweep's own overhead. harborsweep as shipped is printed
beside its floor, the same loop over one bare http.client connection kept
for the whole run, as harborsweep keeps one.
"""

import configparser
import contextlib
import os
import sys
import tempfile
import time
from unittest import mock

import requests
from harness import LOGIN, KeptClient, fleet_scenario, interleaved, ratio, standin, target, write_checks

from harborsweep import harborsweep as hs

PLAIN, CHAINED, ROUNDS = 5, 100, 8
# harborsweep's time over the loop's, both through requests.post.
TARGET = 1.05


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
        hs.main()


def run_wrapped(address, config_dir):
    real_post = requests.post
    with mock.patch("requests.post", lambda *a, **k: real_post(*a, **k)):
        run_harborsweep(address, config_dir)


def run_plain_loop(post, config_dir):
    """The same requests, from the same check files, with `post`."""
    post(LOGIN)
    for name in os.listdir(config_dir):
        if not name.endswith(".cfg"):
            continue
        parser = configparser.ConfigParser()
        with open(os.path.join(config_dir, name)) as file:
            parser.read_file(file)
        cid = post(LOGIN)["CID"]
        fields = {"CID": cid, **{k: parser.get("quorvane", k) for k in parser.options("quorvane")}}
        if fields.get("gw_name", "").startswith("output("):
            post(LOGIN)
            names = post({"CID": cid, "action": "list_names"})["results"]
            for gw_name in names:
                fields["gw_name"] = gw_name
                post(fields)
        else:
            post(fields)


def client_loop(client, config_dir):
    """The loop on a harness client (BareClient, KeptClient), closed after it."""
    try:
        run_plain_loop(client.post, config_dir)
    finally:
        client.close()


def main():
    actions = PLAIN + CHAINED + 1  # the nested check's list request counts too
    with tempfile.TemporaryDirectory() as scratch, standin(fleet_scenario(CHAINED)) as server:
        config_dir = write_checks(scratch, PLAIN, chained=True)
        kept = KeptClient(server.address)
        times = interleaved({
            "loop": lambda: run_plain_loop(
                lambda fields: requests.post(server.url, data=fields, verify=False).json(), config_dir),
            "wrapped": lambda: run_wrapped(server.address, config_dir),
            "bare": lambda: client_loop(kept, config_dir),
            "shipped": lambda: run_harborsweep(server.address, config_dir),
        }, ROUNDS, collector="paused", clock=time.thread_time)
    per = {name: times[name].median / actions * 1000 for name in times}
    overhead = ratio(times["wrapped"], times["loop"])
    print(f"run of {PLAIN} plain checks + 1 chained check of {CHAINED} elements ({actions} action requests):"
          f" median of {ROUNDS} rounds in turns, client CPU time per action request; ratios are the"
          " median of the rounds' own")
    print(f"  loop of requests.post:                  {per['loop']:7.2f} ms")
    print(f"  harborsweep calling requests.post:      {per['wrapped']:7.2f} ms"
          f"  ({overhead:.2f}x the loop)")
    print(f"  loop of bare http.client, kept (floor): {per['bare']:7.2f} ms")
    print(f"  harborsweep as shipped:                 {per['shipped']:7.2f} ms"
          f"  ({ratio(times['shipped'], times['bare']):.2f}x the floor;"
          f" {ratio(times['loop'], times['shipped']):.1f}x faster"
          " than the loop of requests.post)")
    target(f"harborsweep through requests.post at most {100 * (TARGET - 1):.0f}% over the loop"
           f" ({100 * (overhead - 1):+.1f}%)", overhead <= TARGET)


if __name__ == "__main__":
    main()
