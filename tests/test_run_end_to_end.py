# End-to-end runs against the stand-in controller: output and exit status of the
# launcher, and the request bodies of whole runs and of single checks.
import sys

import pytest

from harborsweep.harborsweep import quorvane_api
from launcher import check_order, check_output, error_and_notes, run_harborsweep, write_checks
from standin_controller import Account, Reply, Rule, Scenario

GATEWAYS = [
    {"gw_name": "edge-1", "vpc_id": "vpc-1", "state": "up"},
    {"gw_name": "edge-2", "vpc_id": "vpc-2"},
]


def fleet(cid="c-77", *extra_rules):
    return Scenario(
        accounts=[Account("admin", "secret", cid=cid)],
        rules=[
            *extra_rules,
            Rule({"action": "list_gateways"}, Reply(json={"return": True, "results": GATEWAYS})),
            Rule({"action": "show_gateway", "gw_name": "edge-1"}, Reply(json={"results": {"gw_size": "t3.small"}})),
            Rule({"action": "show_gateway", "gw_name": "edge-2"}, Reply(json={"results": {"gw_size": "c5.large"}})),
            Rule({"action": "echo"}, Reply(json={"return": True})),
        ],
    )


def login(password=b"secret"):
    return b"action=login&username=admin&password=" + password


CHECKS = {
    "gateways.cfg": "[default]\ndescription = Gateways 100%% listed\n"
    "filters = results, gw_name & state\n[quorvane]\nAction = list_gateways\n",
    "sizes.cfg": "[default]\ndescription = Gateway sizes\nfilters = results , gw_size\n"
    "[quorvane]\naction = show_gateway\ngw_name = output(lib/names.ini)\n",
    "lib/names.ini": "[default]\nfilters = results, gw_name\n[quorvane]\naction = list_gateways\n",
    # Runs a different file of the same name: a chain, not a cycle.
    "names.cfg": "[default]\ndescription = Echoed names\nfilters = return\n"
    "[quorvane]\naction = echo\ngw = output(lib/names.cfg)\n",
    "lib/names.cfg": "[default]\nfilters = results, gw_name\n[quorvane]\naction = list_gateways\n",
    # Only names ending in ".cfg", case-sensitive, are run: ".cfg" itself is.
    ".cfg": "[default]\ndescription = Dot\n[quorvane]\naction = echo\n",
    "notes.txt": "not a check\n",
    "A.CFG": "[quorvane]\naction = never\n",
    "a.cfg.bak": "[quorvane]\naction = never\n",
    "cfg": "[quorvane]\naction = never\n",
}
EXPECTED = {
    "gateways.cfg": (
        check_output("Gateways 100% listed", [
            {"gw_name": "edge-1", "state": "up"},
            {"gw_name": "edge-2", "state": "FILTER_NOT_FOUND"},
        ]),
        [login(), b"CID=c-77&action=list_gateways"],
    ),
    "sizes.cfg": (
        check_output("Gateway sizes", [
            {"object": "edge-1", "results": "t3.small"},
            {"object": "edge-2", "results": "c5.large"},
        ]),
        [login(), login(), b"CID=c-77&action=list_gateways",
         b"CID=c-77&action=show_gateway&gw_name=edge-1",
         b"CID=c-77&action=show_gateway&gw_name=edge-2"],
    ),
    "names.cfg": (
        check_output("Echoed names", [
            {"object": "edge-1", "results": True},
            {"object": "edge-2", "results": True},
        ]),
        [login(), login(), b"CID=c-77&action=list_gateways",
         b"CID=c-77&action=echo&gw=edge-1", b"CID=c-77&action=echo&gw=edge-2"],
    ),
    ".cfg": (check_output("Dot", {"return": True}), [login(), b"CID=c-77&action=echo"]),
}


@pytest.mark.parametrize("console_script", [False, True])
def test_plain_and_chained_checks_in_listing_order(controller, tmp_path, console_script):
    stand_in = controller(fleet())
    config_dir = write_checks(tmp_path, CHECKS)
    done = run_harborsweep("--controller_ip", stand_in.address, "--password", "secret",
                           "--config_dir", config_dir, console_script=console_script)
    assert done.stderr == b""
    assert done.returncode == 0
    order = check_order(config_dir)
    assert sorted(order) == [".cfg", "gateways.cfg", "names.cfg", "sizes.cfg"]
    assert done.stdout.decode() == "".join(EXPECTED[name][0] for name in order)
    assert stand_in.bodies == [login()] + [body for name in order for body in EXPECTED[name][1]]


def test_form_bodies_escape_fields_and_keep_their_order(controller, tmp_path):
    stand_in = controller(Scenario(
        accounts=[Account("ops team", "p&=+% wé", cid="c/1+2")],
        rules=[Rule({"action": "echo"}, Reply(json={"return": True}))]))
    config_dir = write_checks(tmp_path, {"echo.cfg": (
        "[DEFAULT]\nsite = hq\n[quorvane]\naction = echo\nNote = a&b=c+d 50%% done é\ncid = mine\nempty =\n"
        "zone = %(region)s-east\nregion = us\n")})
    done = run_harborsweep("--controller_ip", stand_in.address, "--user", "ops team",
                           "--password=p&=+% wé", "--config_dir", config_dir)
    assert done.returncode == 0, done.stderr
    login_body = b"action=login&username=ops+team&password=p%26%3D%2B%25+w%C3%A9"
    assert stand_in.bodies == [
        login_body, login_body,
        b"CID=c%2F1%2B2&action=echo&note=a%26b%3Dc%2Bd+50%25+done+%C3%A9&cid=mine&empty="
        b"&zone=us-east&region=us&site=hq",
    ]
    assert done.stdout == b"{'return': True}\n\n\n"


@pytest.mark.parametrize("cid, prefix", [(None, b""), (42, b"CID=42&"), (2.5, b"CID=2.5&")])
def test_session_ids_that_are_not_text_go_out_as_requests_encodes_them(controller, tmp_path, cid, prefix):
    stand_in = controller(fleet(cid))
    config_dir = write_checks(tmp_path, {"echo.cfg": "[quorvane]\naction = echo\n"})
    done = run_harborsweep("--controller_ip", stand_in.address, "--password", "secret",
                           "--config_dir", config_dir)
    assert done.returncode == 0, done.stderr
    assert stand_in.bodies[-1] == prefix + b"action=echo"


@pytest.mark.parametrize("nested, fields, objects", [
    # A text is one element, not one per character.
    ("FILTER_NOT_FOUND", [b"gw=FILTER_NOT_FOUND"], ["FILTER_NOT_FOUND"]),
    # A list element that is itself a list repeats the field; None leaves it out.
    ([["a", "b"], "c", [None, 7]], [b"gw=a&gw=b", b"gw=c", b"gw=7"], [["a", "b"], "c", [None, 7]]),
    # A mapping goes key by key.
    ({"k1": 1, "k2": 2}, [b"gw=k1", b"gw=k2"], ["k1", "k2"]),
    ([], [], []),
], ids=["text", "lists", "mapping", "empty list"])
def test_chained_check_sends_one_request_per_element(controller, tmp_path, nested, fields, objects):
    # An error status with a JSON body is an answer like any other.
    stand_in = controller(fleet("c-1", Rule({"action": "nested"}, Reply(json={"results": nested})),
                                Rule({"action": "show"}, Reply(json={"ok": 1}, status=500))))
    config_dir = write_checks(tmp_path, {
        "chain.cfg": "[default]\nfilters = ok\n[quorvane]\naction = show\ngw = output(nested.ini)\n",
        "nested.ini": "[default]\nfilters = results\n[quorvane]\naction = nested\n",
    })
    done = run_harborsweep("--controller_ip", stand_in.address, "--password", "secret",
                           "--config_dir", config_dir)
    assert done.returncode == 0, done.stderr
    # The run's login, the chained check's, then the whole referenced check.
    assert stand_in.bodies[:4] == [login(), login(), login(), b"CID=c-1&action=nested"]
    assert stand_in.bodies[4:] == [b"CID=c-1&action=show&" + f for f in fields]
    assert done.stdout.decode() == check_output(None, [{"object": o, "results": 1} for o in objects])


def test_only_the_last_output_reference_is_expanded(controller, tmp_path):
    stand_in = controller(fleet())
    config_dir = write_checks(tmp_path, {
        "two.cfg": "[default]\nfilters = return\n[quorvane]\naction = echo\n"
        "first = output(names.ini)\nsecond = output(names.ini)\n",
        "names.ini": "[default]\nfilters = results, gw_name\n[quorvane]\naction = list_gateways\n",
    })
    done = run_harborsweep("--controller_ip", stand_in.address, "--password", "secret",
                           "--config_dir", config_dir)
    assert done.returncode == 0, done.stderr
    assert stand_in.bodies[-2:] == [
        b"CID=c-77&action=echo&first=output%28names.ini%29&second=edge-1",
        b"CID=c-77&action=echo&first=output%28names.ini%29&second=edge-2",
    ]


ECHO = "[quorvane]\naction = echo\n"
NAMES = "[default]\nfilters = results, gw_name\n[quorvane]\naction = list_gateways\n"
EDGES = [b"CID=c-77&action=list_gateways", b"CID=c-77&action=echo&x=edge-1", b"CID=c-77&action=echo&x=edge-2"]


@pytest.mark.parametrize("check, files, sent, result", [
    # Without options the body holds the session id alone.
    ("[quorvane]\n", {}, [login(), b"CID=c-77"], {"ok": 1}),
    # The name is used as written, comma included.
    (ECHO + "x = output(a.cfg,b)\n", {"a.cfg,b": NAMES}, [login(), login(), *EDGES],
     [{"object": "edge-1", "results": {"return": True}}, {"object": "edge-2", "results": {"return": True}}]),
    # Only a value that begins with "output(" and ends with ")" refers.
    (ECHO + "x = output(names.ini) trailing\n", {"names.ini": NAMES},
     [login(), b"CID=c-77&action=echo&x=output%28names.ini%29+trailing"], {"return": True}),
    (ECHO + "x = Output(names.ini)\n", {"names.ini": NAMES},
     [login(), b"CID=c-77&action=echo&x=Output%28names.ini%29"], {"return": True}),
    # A chained check's entries are mappings: each sends the field twice, once per key.
    (ECHO + "x = output(mid.ini)\n", {"names.ini": NAMES, "mid.ini": "[default]\nfilters = return\n"
                                       + ECHO + "x = output(names.ini)\n"},
     [login(), login(), login(), *EDGES, *[b"CID=c-77&action=echo&x=object&x=results"] * 2],
     [{"object": {"object": "edge-1", "results": True}, "results": {"return": True}},
      {"object": {"object": "edge-2", "results": True}, "results": {"return": True}}]),
], ids=["no options", "comma in the name", "text after it", "capital O", "chained reference"])
def test_fields_of_a_single_check(controller, tmp_path, check, files, sent, result):
    scenario = fleet()
    scenario.rules.append(Rule({"CID": "c-77"}, Reply(json={"ok": 1})))  # after every other rule
    stand_in = controller(scenario)
    config_dir = write_checks(tmp_path, {"c.cfg": check, **files})
    assert quorvane_api(stand_in.address, "admin", "secret", config_dir, str(tmp_path / "c.cfg")) == result
    assert stand_in.bodies == sent


@pytest.mark.parametrize("files, links, chain, references", [
    # Back to the first check through another spelling of its path.
    ({"loop.cfg": "[default]\ndescription = Loop\n[quorvane]\naction = echo\nx = output(sub/b.ini)\n",
      "sub/b.ini": "[quorvane]\naction = echo\ny = output(sub/../loop.cfg)\n"},
     {}, "loop.cfg -> b.ini -> loop.cfg", ["output(sub/b.ini) for loop.cfg"]),
    # Back to it through a link under another name: named as referenced.
    ({"loop.cfg": "[default]\ndescription = Loop\n[quorvane]\naction = echo\nx = output(sub/b.ini)\n",
      "sub/b.ini": "[quorvane]\naction = echo\ny = output(sub/link.ini)\n"},
     {"sub/link.ini": "../loop.cfg"}, "loop.cfg -> b.ini -> link.ini", ["output(sub/b.ini) for loop.cfg"]),
    # A cycle that the first check only leads into is named from that check.
    ({"top.cfg": "[default]\ndescription = Loop\n[quorvane]\naction = echo\nx = output(sub/a.cfg)\n",
      "sub/a.cfg": "[quorvane]\naction = echo\ny = output(sub/b.cfg)\n",
      "sub/b.cfg": "[quorvane]\naction = echo\nz = output(sub/a.cfg)\n"},
     {}, "top.cfg -> a.cfg -> b.cfg -> a.cfg", ["output(sub/a.cfg) for top.cfg", "output(sub/b.cfg) for a.cfg"]),
    # A first check whose name is not UTF-8 (b"\xff.cfg", listed with a surrogate escape) still has its
    # note first; standard error shows the escape as backslashed text.
    ({"\udcff.cfg": "[default]\ndescription = Loop\n[quorvane]\naction = echo\nx = output(sub/b.ini)\n",
      "sub/b.ini": "[quorvane]\naction = echo\ny = output(sub/c.ini)\n",
      "sub/c.ini": "[quorvane]\naction = echo\nz = output(sub/b.ini)\n"},
     {}, r"\udcff.cfg -> b.ini -> c.ini -> b.ini", [r"output(sub/b.ini) for \udcff.cfg", "output(sub/c.ini) for b.ini"]),
], ids=["same-file", "link", "inner-cycle", "undecodable-name"])
def test_output_reference_cycle_is_refused_before_another_login(controller, tmp_path, files, links, chain,
                                                                references):
    stand_in = controller(fleet())
    config_dir = write_checks(tmp_path, files)
    for link, target in links.items():
        (tmp_path / link).symlink_to(target)
    done = run_harborsweep("--controller_ip", stand_in.address, "--password", "secret",
                           "--config_dir", config_dir)
    assert done.returncode == 1
    assert done.stdout == b"Loop\n"
    error, notes = error_and_notes(done.stderr)
    assert error == "RecursionError: output reference cycle: " + chain
    if sys.version_info >= (3, 11):
        outermost = chain.split(" ")[0]
        assert notes == [f"while running check file {outermost}"] + [f"while running {r}" for r in references]
    # The run's login, then one per check in the chain: nothing after the refusal.
    assert stand_in.bodies == [login()] * (1 + chain.count(" -> "))


def test_failed_login_prints_login_failed_and_exits_1(controller, tmp_path):
    stand_in = controller(fleet())
    config_dir = write_checks(tmp_path, {"echo.cfg": "[default]\ndescription = Echo\n[quorvane]\naction = echo\n"})
    done = run_harborsweep("--controller_ip", stand_in.address, "--password", "wrong",
                           "--config_dir", config_dir)
    assert (done.stdout, done.stderr, done.returncode) == (b"Login failed\n", b"", 1)
    assert stand_in.bodies == [login(b"wrong")]


@pytest.mark.parametrize("reply, accepted", [
    (Reply(json={"CID": "c-500"}, status=500), True),
    (Reply(body=b"<html>busy</html>"), False),
    (Reply(json=["CID"]), False),
    (Reply(json="CID"), False),
    (Reply(body=b""), False),
])
def test_login_answers(controller, tmp_path, reply, accepted):
    stand_in = controller(Scenario(rules=[Rule({"action": "login"}, reply),
                                          Rule({"action": "echo"}, Reply(json=[1]))]))
    config_dir = write_checks(tmp_path, {"echo.cfg": "[quorvane]\naction = echo\n"})
    done = run_harborsweep("--controller_ip", stand_in.address, "--password", "pw",
                           "--config_dir", config_dir)
    assert done.stderr == b""
    if accepted:
        assert (done.stdout, done.returncode) == (b"[1]\n\n\n", 0)
        assert stand_in.bodies[-1] == b"CID=c-500&action=echo"
    else:
        assert (done.stdout, done.returncode) == (b"Login failed\n", 1)
