# Many calls of the native operations, successes and failures alike, leak nothing.
import gc
import json
import os
import sys
import tracemalloc

import pytest

import harborsweep.harborsweep as hs

CALLS = 100_000


class Refusing(dict):
    def __getitem__(self, key):
        raise ValueError(key)


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def watched(objects):
    """Every object reachable from `objects` through lists, tuples and dicts."""
    seen, pending = {}, list(objects)
    while pending:
        item = pending.pop()
        if id(item) in seen:
            continue
        seen[id(item)] = item
        if isinstance(item, (list, tuple)):
            pending.extend(item)
        elif isinstance(item, dict):
            pending.extend(item.keys())
            pending.extend(item.values())
    # Statically allocated runtime objects (texts such as "name") are shared by
    # the whole interpreter, so their counts move with unrelated work.
    return [o for o in seen.values() if sys.getrefcount(o) < 10**8]


def refcounts(objects):
    return [sys.getrefcount(o) for o in objects]


def warm_up(calls):
    """Fills caches and free lists, and drops earlier tests' garbage, which may
    hold references to shared texts that the inputs use too."""
    for call in calls:
        for _ in range(200):
            call()
    gc.collect()


def repeat_until_flat(calls, rounds):
    """Runs every call `rounds` times; the growth of traced and resident memory."""
    tracemalloc.start()
    traced_before, resident_before = tracemalloc.get_traced_memory()[0], resident_bytes()
    for _ in range(rounds):
        for call in calls:
            call()
    gc.collect()
    traced_after, resident_after = tracemalloc.get_traced_memory()[0], resident_bytes()
    tracemalloc.stop()
    return traced_after - traced_before, resident_after - resident_before


def expect(error, function, *args, **kwargs):
    def call():
        try:
            function(*args, **kwargs)
        except error:
            return
        raise AssertionError(f"{function.__name__}{args} did not raise {error.__name__}")
    return call


def succeed(function, *args, **kwargs):
    return lambda: function(*args, **kwargs)


@pytest.mark.measures_memory
def test_filter_results_keeps_reference_counts_and_memory_flat():
    f = hs.filter_results
    # Everything decoded at run time: literals, small numbers and interned
    # texts are shared with the rest of the process, whose work moves their
    # counts; these objects belong to this test alone.
    answer = json.loads("""{
        "count": 222222222222222222222222,
        "items": [
            {"name": "edge-1", "state": "up", "tags": {"zone": "a"}},
            {"name": "edge-2", "tags": {"zone": "b"}}
        ]
    }""")
    paths = json.loads("""{
        "map": ["items", "name"],
        "pick": ["items", " name & state "],
        "deep": ["items", "tags", "zone"],
        "marker": ["counts"],
        "scalar": ["count", "x"],
        "missing": ["items", "state"],
        "bad step": ["items", 3.5],
        "multi": ["count&items&"],
        "a": ["a"],
        "text": "items"
    }""")
    paths["pick"] = tuple(paths["pick"])
    numbers, texts = json.loads('[{"a": 777777777777777777777}, 777777777777777777777]'), json.loads('["text"]')
    refusing = Refusing(numbers[0])
    calls = [
        succeed(f, answer, paths["map"]),
        succeed(f, answer, paths["pick"]),
        succeed(f, answer, paths["deep"]),
        succeed(f, answer, paths["marker"]),
        succeed(f, answer, paths["scalar"]),
        succeed(f, answer, paths["multi"]),
        succeed(f, answer, []),
        succeed(f, filters=paths["map"], results=answer),
        expect(KeyError, f, answer, paths["missing"]),
        expect(TypeError, f, numbers, paths["a"]),
        expect(TypeError, f, texts, paths["pick"][1:]),
        expect(ValueError, f, refusing, paths["a"]),
        expect(TypeError, f, answer, paths["bad step"]),
        expect(TypeError, f, answer, paths["text"]),
        expect(TypeError, f, answer),
        expect(TypeError, f, answer, paths["map"], x=1),
        expect(TypeError, f, answer, paths["map"], results=answer),
    ]
    warm_up(calls)
    inputs = watched([answer, paths, numbers, texts, refusing])
    before = refcounts(inputs)
    traced, resident = repeat_until_flat(calls, CALLS // len(calls) + 1)
    assert refcounts(inputs) == before
    assert traced < 64 * 1024
    assert resident < 4 * 1024 * 1024


@pytest.mark.measures_memory
def test_get_default_config_dir_keeps_reference_counts_and_memory_flat(tmp_path, monkeypatch):
    (tmp_path / "found").mkdir()
    (tmp_path / "found" / "config").mkdir()
    found, lost = str(tmp_path / "found" / "m.so"), str(tmp_path / "lost" / "m.so")

    def with_file(path, call):
        def run():
            hs.__file__ = path
            call()
            hs.__file__ = found
        return run

    monkeypatch.setattr(hs, "__file__", found)
    calls = [
        with_file(found, succeed(hs.get_default_config_dir)),
        with_file(lost, expect(FileNotFoundError, hs.get_default_config_dir)),
        expect(TypeError, hs.get_default_config_dir, found),
        expect(TypeError, hs.get_default_config_dir, path=found),
    ]
    warm_up(calls)
    before = refcounts([found, lost])
    traced, resident = repeat_until_flat(calls, 10_000)
    assert refcounts([found, lost]) == before
    assert traced < 64 * 1024
    assert resident < 4 * 1024 * 1024


class Answer:
    def __init__(self, decoded):
        self.decoded = decoded

    def json(self):
        return self.decoded


@pytest.mark.measures_memory
def test_login_and_checks_keep_reference_counts_and_memory_flat(tmp_path, monkeypatch):
    (tmp_path / "names.ini").write_text("[default]\nfilters = items, name\n[quorvane]\naction = names\n")
    (tmp_path / "chain.cfg").write_text("[quorvane]\naction = show\nname = output(names.ini)\n")
    (tmp_path / "loop.cfg").write_text("[quorvane]\naction = show\nname = output(loop.cfg)\n")
    (tmp_path / "bad.cfg").write_text("no header\n")
    answers = json.loads('{"login": {"CID": "c-1"}, "names": {"items": [{"name": "n1"}, {"name": "n2"}]},'
                         ' "show": {"ok": true}, "refused": {"reason": "no"}}')
    monkeypatch.setattr("requests.post", lambda url, data, verify: Answer(answers[data["action"]]))
    monkeypatch.setattr("builtins.print", lambda *args: None)
    ip, user, password, wrong = (json.loads(f'"{text}"') for text in ("ctl:1", "admin", "pw", "??"))
    config_dir, chain, loop, bad = (str(tmp_path / n) for n in ("", "chain.cfg", "loop.cfg", "bad.cfg"))

    def refused_login():
        saved, answers["login"] = answers["login"], answers["refused"]
        try:
            expect(SystemExit, hs.get_quorvane_cid, ip, user, wrong)()
        finally:
            answers["login"] = saved

    calls = [
        succeed(hs.get_quorvane_cid, ip, user, password),
        refused_login,
        succeed(hs.quorvane_api, ip, user, password, config_dir, chain),
        expect(RecursionError, hs.quorvane_api, ip, user, password, config_dir, loop),
        expect(hs.configparser.MissingSectionHeaderError, hs.quorvane_api, ip, user, password, config_dir, bad),
        expect(TypeError, hs.quorvane_api, ip, user, password, config_dir),
    ]
    warm_up(calls)
    inputs = watched([answers, ip, user, password, wrong])
    before = refcounts(inputs)
    # The parsers hold reference cycles, so the first rounds under tracing
    # still fill the collector's and allocators' own structures: memory is
    # measured from a primed state.
    tracemalloc.start()
    try:
        for rounds in (200, 2_000):
            primed, resident_before = tracemalloc.get_traced_memory()[0], resident_bytes()
            for _ in range(rounds):
                for call in calls:
                    call()
            gc.collect()
    finally:
        traced = tracemalloc.get_traced_memory()[0] - primed
        tracemalloc.stop()
    assert refcounts(inputs) == before
    assert traced < 64 * 1024
    assert resident_bytes() - resident_before < 4 * 1024 * 1024


@pytest.mark.measures_memory
def test_calls_on_kept_connections_keep_reference_counts_and_memory_flat(controller_process, tmp_path, monkeypatch):
    # Each call opens its connection, keeps it for its requests and closes it,
    # whether it returns or raises; nothing of it may outlive the call. The
    # stand-in serves from a child process, so that only the client's memory
    # is traced.
    stand_in = controller_process({"accounts": [{"username": "admin", "password": "pw", "cid": "c-1"}], "rules": [
        {"match": {"action": "names"}, "json": {"items": [{"name": "n1"}, {"name": "n2"}]}},
        {"match": {"action": "show"}, "json": {"ok": True}},
        {"match": {"action": "drop"}, "drop": True},
    ]})
    (tmp_path / "names.ini").write_text("[default]\nfilters = items, name\n[quorvane]\naction = names\n")
    (tmp_path / "chain.cfg").write_text("[quorvane]\naction = show\nname = output(names.ini)\n")
    (tmp_path / "drop.cfg").write_text("[quorvane]\naction = drop\n")
    monkeypatch.setattr("builtins.print", lambda *args: None)
    ip, user, password, wrong = (json.loads(f'"{text}"') for text in (stand_in.address, "admin", "pw", "??"))
    config_dir, chain, drop = (str(tmp_path / n) for n in ("", "chain.cfg", "drop.cfg"))
    calls = [
        succeed(hs.get_quorvane_cid, ip, user, password),
        expect(SystemExit, hs.get_quorvane_cid, ip, user, wrong),
        succeed(hs.quorvane_api, ip, user, password, config_dir, chain),
        expect(hs.requests.exceptions.ConnectionError, hs.quorvane_api, ip, user, password, config_dir, drop),
    ]
    for _ in range(10):
        for call in calls:
            call()
    gc.collect()
    inputs = watched([ip, user, password, wrong])
    before = refcounts(inputs)
    # Measured after a first pass under tracing, as above.
    repeat_until_flat(calls, 10)
    traced, _ = repeat_until_flat(calls, 60)
    assert refcounts(inputs) == before
    assert traced < 64 * 1024
