# Filter paths: how filter_results narrows decoded JSON values, how it fails,
# and how a check file's "filters" becomes the steps.
import copy
import gc
import os
import signal
import subprocess
import sys
import time
import weakref

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from harborsweep.harborsweep import filter_results, quorvane_api
from standin_controller import Account, Reply, Rule, Scenario, StandinController

MARKER = "FILTER_NOT_FOUND"
# What stripping removes from both ends of a key: the ASCII whitespace, the
# separator controls 0x1C-0x1F and the Unicode spaces; format characters stay.
WHITESPACE = [" ", "\t", "\n", "\v", "\f", "\r", "\x1c", "\x1d", "\x1e", "\x1f", "\x85", "\xa0", "\u1680",
              *map(chr, range(0x2000, 0x200B)), "\u2028", "\u2029", "\u202f", "\u205f", "\u3000"]
NOT_WHITESPACE = ["\u200b", "\u180e", "\ufeff"]


def code_point(char):
    return f"U+{ord(char):04X}"


def answer():
    return {
        "count": 2,
        "items": [
            {"name": "edge-1", "state": "up", "tags": {"zone": "a"}},
            {"name": "edge-2", "tags": {"zone": "b"}},
        ],
    }


# --- the worked example -----------------------------------------------------

@pytest.mark.parametrize(
    "path, expected",
    [
        (["items", "name"], ["edge-1", "edge-2"]),
        (["items", "name & state"],
         [{"name": "edge-1", "state": "up"}, {"name": "edge-2", "state": MARKER}]),
        (["items", "tags", "zone"], ["a", "b"]),
        (["count & items"], {"count": 2, "items": answer()["items"]}),
        (["counts"], MARKER),
        (["counts", "x"], None),
        (["count", "x"], None),
    ],
)
def test_worked_example(path, expected):
    result = filter_results(answer(), path)
    assert result == expected
    if isinstance(expected, dict):
        assert list(result) == list(expected)


def test_worked_example_missing_member_in_single_key_step_on_array():
    with pytest.raises(KeyError) as raised:
        filter_results(answer(), ["items", "state"])
    assert raised.value.args == ("state",)


def test_results_come_from_the_input_and_containers_are_new():
    value = answer()
    assert filter_results(value, []) is value
    assert filter_results(value, ("items",)) is value["items"]
    mapped = filter_results(value, ["items", "tags"])
    assert mapped is not value["items"]
    assert mapped[0] is value["items"][0]["tags"]
    picked = filter_results(value, ["count&items"])
    assert picked is not value and picked["items"] is value["items"]


# --- steps and keys ----------------------------------------------------------

@pytest.mark.parametrize("value", [7, 2.5, True, None, "text", MARKER, [], {}])
def test_empty_path_returns_the_value_itself(value):
    assert filter_results(value, []) is value
    assert filter_results(value, ()) is value


@pytest.mark.parametrize("value", [7, 2.5, True, False, None, "text", MARKER, (1, 2), b"ab", {1, 2}])
def test_scalars_with_steps_left_give_none(value):
    assert filter_results(value, ["a"]) is None
    assert filter_results(value, ["a & b", "c"]) is None


@pytest.mark.parametrize("path", [["a"], ["a & b"], ["a", "b", "c"], ["", "&"]])
def test_empty_array_stays_empty(path):
    assert filter_results([], path) == []


def test_empty_object():
    assert filter_results({}, ["a"]) == MARKER
    assert filter_results({}, ["a", "b"]) is None
    assert filter_results({}, ["a & b"]) == {"a": MARKER, "b": MARKER}


@pytest.mark.parametrize("step", ["name & state", "name&state", "  name & state\t", "\u3000name\x1c&\x85state\u2029"])
def test_multi_key_steps_strip_their_keys(step):
    value = answer()
    assert filter_results(value, ["items", step]) == filter_results(value, ["items", "name&state"])
    assert filter_results(value["items"][0], [step]) == {"name": "edge-1", "state": "up"}


def test_inner_whitespace_of_a_key_stays():
    assert filter_results({"a b": 1, "ab": 2}, ["a b & x"]) == {"a b": 1, "x": MARKER}


def test_single_key_step_is_stripped_on_arrays_but_taken_as_written_on_objects():
    value = answer()
    assert filter_results(value, ["items", " name"]) == ["edge-1", "edge-2"]
    assert filter_results(value["items"][0], [" name"]) == MARKER
    assert filter_results({" name": 1, "name": 2}, [" name"]) == 1


@pytest.mark.parametrize("space", WHITESPACE, ids=code_point)
def test_every_whitespace_character_is_stripped_from_both_ends_of_keys(space):
    value = answer()
    padded = f"{space}name{space}"
    assert filter_results(value, ["items", f"{padded}&{space}state{space}"]) == filter_results(
        value, ["items", "name&state"])
    assert filter_results(value, ["items", padded]) == ["edge-1", "edge-2"]
    # A single-key step on an object looks the step up as written.
    assert filter_results(value["items"][0], [padded]) == MARKER
    assert filter_results({padded: 1, "name": 2}, [padded]) == 1
    assert filter_results({f"a{space}b": 1}, [f"a{space}b &"]) == {f"a{space}b": 1, "": MARKER}


@pytest.mark.parametrize("char", NOT_WHITESPACE, ids=code_point)
def test_format_characters_stay_in_keys(char):
    padded = f"{char}name{char}"
    rows = [{"name": 1, padded: 2}]
    assert filter_results(rows, [padded]) == [2]
    assert filter_results(rows, [f"{padded} & name"]) == [{padded: 2, "name": 1}]
    with pytest.raises(KeyError) as raised:
        filter_results(answer(), ["items", padded])
    assert raised.value.args == (padded,)


def test_empty_step():
    assert filter_results({"": 1}, [""]) == 1
    assert filter_results({"a": 1}, [""]) == MARKER
    with pytest.raises(KeyError):
        filter_results([{"a": 1}], [""])
    assert filter_results([{"": 1}], [" "]) == [1]


def test_trailing_and_repeated_separators_make_multi_key_steps():
    assert filter_results({"a": 1}, ["a&"]) == {"a": 1, "": MARKER}
    assert filter_results({"a": 1, "b": 2}, ["a&&b"]) == {"a": 1, "": MARKER, "b": 2}
    assert filter_results({"a": 1}, ["a & a"]) == {"a": 1}
    assert filter_results([{"a": 1}], ["a&a"]) == [{"a": 1}]


def test_picked_members_follow_the_step_order():
    picked = filter_results({"a": 1, "b": 2, "c": 3}, ["c & a & b & a"])
    assert list(picked.items()) == [("c", 3), ("a", 1), ("b", 2)]


def test_keys_are_never_positions_and_match_exactly():
    assert filter_results([{"0": "zero"}], ["0"]) == ["zero"]
    with pytest.raises(KeyError):
        filter_results([{0: "zero"}], ["0"])
    assert filter_results({"Name": 1}, ["name"]) == MARKER
    assert filter_results({1: "int", "1": "str", None: 0}, ["1"]) == "str"


def test_a_multi_key_step_on_an_object_keeps_the_level():
    value = {"a": {"x": 1}, "b": {"x": 2}}
    assert filter_results(value, ["a&b", "a"]) == {"x": 1}
    assert filter_results(value, ["a&b", "x"]) == MARKER


def test_once_mapped_every_later_step_maps():
    value = {"rows": [{"a": {"b": 1, "c": 2}}, {"a": {"b": 3}}]}
    assert filter_results(value, ["rows", "a", "b & c"]) == [{"b": 1, "c": 2}, {"b": 3, "c": MARKER}]
    assert filter_results(value, ["rows", "a & z", "a"]) == [{"b": 1, "c": 2}, {"b": 3}]


def test_the_marker_is_an_ordinary_string_to_later_steps():
    assert filter_results([{"a": 1}, {}], ["a & b", "b"]) == [MARKER, MARKER]
    with pytest.raises(TypeError):
        filter_results([{}], ["a & b", "a", "x"])


# --- failures ----------------------------------------------------------------

@pytest.mark.parametrize("element, type_name", [(1, "int"), (2.5, "float"), (True, "bool"), (None, "NoneType")])
@pytest.mark.parametrize("step", ["a", "a & b"])
def test_array_element_that_is_a_number_boolean_or_null(element, type_name, step):
    with pytest.raises(TypeError) as raised:
        filter_results([{"a": 1}, element], [step])
    assert str(raised.value) == f"'{type_name}' object is not subscriptable"


@pytest.mark.parametrize("element", ["text", ["inner"], []])
@pytest.mark.parametrize("step", ["a", "a & b"])
def test_array_element_that_is_a_string_or_an_array(element, step):
    with pytest.raises(TypeError):
        filter_results([{"a": 1}, element], [step])


def test_array_of_arrays_fails_at_the_step_that_meets_the_inner_arrays():
    value = {"rows": [[{"a": 1}]]}
    assert filter_results(value, ["rows"]) == [[{"a": 1}]]
    with pytest.raises(TypeError):
        filter_results(value, ["rows", "a"])


class Lookup(dict):
    """A dict whose lookups raise what the test asks for."""

    def __init__(self, error, **members):
        super().__init__(**members)
        self.error = error

    def __getitem__(self, key):
        raise self.error


@pytest.mark.parametrize("path, wrap, tolerated", [
    (["a & b"], lambda d: d, {"a": MARKER, "b": MARKER}),
    (["a"], lambda d: d, MARKER),
    (["a & b"], lambda d: [d], [{"a": MARKER, "b": MARKER}]),
])
def test_only_key_error_is_tolerated_where_members_may_be_missing(path, wrap, tolerated):
    assert filter_results(wrap(Lookup(KeyError("other"), a=1)), path) == tolerated
    for error in (LookupError("lookup"), IndexError("index"), ValueError("value"), ZeroDivisionError()):
        with pytest.raises(type(error)) as raised:
            filter_results(wrap(Lookup(error, a=1)), path)
        assert raised.value is error


@pytest.mark.parametrize("error", [KeyboardInterrupt(), SystemExit(3)])
def test_interrupts_and_exits_pass_through_lookups(error):
    with pytest.raises(type(error)):
        filter_results([{"a": 1}, Lookup(error)], ["a & b"])


def test_failing_key_comparison_propagates():
    class Clash:
        def __hash__(self):
            return hash("a")

        def __eq__(self, other):
            raise ArithmeticError("compare")

    for path in (["a"], ["a & b"], ["x", "a"]):
        value = {Clash(): 1} if path[0] != "x" else {"x": [{Clash(): 1}]}
        with pytest.raises(ArithmeticError):
            filter_results(value, path)


class Member:
    """A member value whose holders can be counted and whose end can be seen."""


class Rows(list):
    """An array of a caller's own, walked by iteration."""


@pytest.mark.parametrize("build, path, error", [
    (lambda m: [{"a": m}] * 10_000 + [{}], ["a"], KeyError),
    (lambda m: [{"a": m, "b": 1}] * 10_000 + [Lookup(ValueError("late"))], ["a & b"], ValueError),
    (lambda m: Rows([{"a": m}] * 10_000 + [{}]), ["a"], KeyError),
    # The first mapping succeeds; the second fails on its last element.
    (lambda m: {"rows": [{"r": {"a": m}}] * 10_000 + [{"r": 5}]}, ["rows", "r", "a"], TypeError),
], ids=["single key", "several keys", "array subclass", "after a finished step"])
def test_nothing_partial_comes_back_from_a_late_failure(build, path, error):
    member = Member()
    value = build(member)
    unchanged = copy.deepcopy(value, {id(member): member})
    holders = sys.getrefcount(member)
    with pytest.raises(error):
        filter_results(value, path)
    # The lists built before the failure are gone, with what they held:
    # neither the error nor the input nor anything else keeps them.
    assert sys.getrefcount(member) == holders
    assert value == unchanged
    gone = weakref.ref(member)
    del value, unchanged, member
    gc.collect()
    assert gone() is None


# --- what filters may be ------------------------------------------------------

@pytest.mark.parametrize("filters", ["items", b"items", None, 3, {"items": 1}, {"items"}, iter(["items"])])
def test_filters_must_be_a_list_or_tuple(filters):
    with pytest.raises(TypeError, match="list or tuple"):
        filter_results(answer(), filters)


@pytest.mark.parametrize("step", [1, None, b"items", ["items"]])
def test_every_step_must_be_a_str(step):
    with pytest.raises(TypeError, match="str"):
        filter_results(answer(), ["items", step])
    with pytest.raises(TypeError, match="str"):
        filter_results(5, (step,))


def test_filters_are_read_before_the_value_is_looked_into():
    class Mutating(dict):
        def __getitem__(self, key):
            path.append("never")
            return dict.__getitem__(self, key)

    path = ["a", "b"]
    assert filter_results(Mutating(a={"b": 1}), path) == 1
    assert path == ["a", "b", "never"]


# --- containers of other kinds ------------------------------------------------

def test_dict_and_list_subclasses_are_looked_into_their_own_way():
    class Defaulting(dict):
        def __getitem__(self, key):
            return f"<{key}>"

    class Reversed(list):
        def __iter__(self):
            return iter(self[::-1])

    assert filter_results(Defaulting(), ["a"]) == "<a>"
    assert filter_results(Defaulting(), ["a & b"]) == {"a": "<a>", "b": "<b>"}
    assert filter_results([Defaulting()], [" a "]) == ["<a>"]
    assert filter_results(Reversed([{"a": 1}, {"a": 2}]), ["a"]) == [2, 1]
    assert type(filter_results(Reversed([{"a": 1}]), ["a"])) is list


def test_missing_hook_of_dict_subclasses_is_honoured():
    import collections

    assert filter_results(collections.defaultdict(int), ["a & b"]) == {"a": 0, "b": 0}
    assert filter_results(collections.Counter(), ["a"]) == 0


def test_mutation_during_evaluation_does_not_crash():
    class Clearing(dict):
        def __getitem__(self, key):
            rows.clear()
            return dict.__getitem__(self, key)

    rows = [Clearing(a=1), Clearing(a=2), Clearing(a=3)]
    assert filter_results(rows, ["a"]) == [1]


# --- size and shape of the input ----------------------------------------------

def test_recursive_containers():
    looping = {}
    looping["self"] = looping
    looping["list"] = [looping]
    assert filter_results(looping, ["self"] * 100_000) is looping
    assert filter_results(looping, ["list", "self", "list"]) == [[looping]]
    assert filter_results(looping, ["self & list"]) == {"self": looping, "list": [looping]}
    nested = []
    nested.append(nested)
    with pytest.raises(TypeError):
        filter_results(nested, ["a"])


def test_deeply_nested_value():
    value = leaf = {}
    for _ in range(200_000):
        leaf["n"] = {}
        leaf = leaf["n"]
    leaf["n"] = "bottom"
    assert filter_results(value, ["n"] * 200_001) == "bottom"


def test_million_element_array():
    rows = [{"id": i, "name": str(i)} for i in range(1_000_000)]
    ids = filter_results(rows, ["id"])
    assert len(ids) == 1_000_000 and ids[-1] == 999_999
    picked = filter_results(rows, ["id & other"])
    assert picked[500_000] == {"id": 500_000, "other": MARKER}


def test_unusual_strings_as_keys():
    odd = "a\udc80\x00\U0001f600"
    assert filter_results({odd: 1}, [odd]) == 1
    assert filter_results([{odd: 1}], [f" {odd} & {odd}"]) == [{odd: 1}]


@pytest.mark.parametrize(
    "build, path",
    [
        (lambda: [{}] * 20_000_000, ["a & b"]),
        (lambda: [{}] * 1_000, ["&".join(["k"] * 200_000)]),
        (lambda: _looping(), ["self"] * 10_000_000),
    ],
    ids=["long array", "wide step", "long path"],
)
def test_a_long_evaluation_answers_ctrl_c(build, path, time_scale):
    # The evaluation holds the GIL throughout, so no Python thread could send
    # the signal; an outside process plays the user pressing Ctrl-C.
    value = build()
    # A collector callback in Python (Hypothesis installs one once any
    # property test has run) would take the interrupt and lose it as an
    # unraisable error: the evaluation makes the collector run.
    callbacks = gc.callbacks[:]
    gc.callbacks.clear()
    # A suite started with SIGINT ignored (a non-interactive shell's
    # background job) would never see the signal: Python installs its own
    # handler only where the signal was not ignored at start.
    handler = signal.signal(signal.SIGINT, signal.default_int_handler)
    started = time.monotonic()
    sender = subprocess.Popen(["sh", "-c", f"sleep 0.3; kill -INT {os.getpid()}"])
    finished = False
    try:
        with pytest.raises(KeyboardInterrupt):
            filter_results(value, path)
            finished = True
            sender.wait()  # let the signal land here rather than later
    finally:
        sender.wait()
        signal.signal(signal.SIGINT, handler)
        gc.callbacks.extend(callbacks)
    assert not finished, "the evaluation ended before the interrupt came"
    # Polled every few thousand units of work, the interrupt is answered
    # within a fraction of a second; the bound leaves room for a busy machine.
    assert time.monotonic() - started < 2 * time_scale


def _looping():
    value = {}
    value["self"] = value
    return value


# --- filter paths as check files write them -----------------------------------

@pytest.fixture(scope="module")
def answering():
    """One stand-in for every case: the checks below only read its answer."""
    answer = {"nest": {"": {"leaf": "deep"}}, "a\nb": "inner line break", "": "empty key"}
    running = StandinController(Scenario(accounts=[Account("admin", "pw", cid="c-1")],
                                         rules=[Rule({"action": "show"}, Reply(json=answer))])).start()
    yield running
    running.stop()


@pytest.mark.parametrize("filters, expected", [
    # Cut at every comma; each piece loses the whitespace at both ends, and a
    # piece of whitespace only is an empty step. (A line break can only be
    # written as one: the file is read with universal newlines.)
    *[pytest.param(f"nest{c},{c},{c}leaf", "deep", id=f"stripped {code_point(c)}")
      for c in WHITESPACE if c not in "\r\n"],
    *[pytest.param(f"nest{c},{c},{c}leaf", None, id=f"kept {code_point(c)}") for c in NOT_WHITESPACE],
    # Over several lines: the line breaks at the ends of pieces go, one inside a piece stays.
    pytest.param("nest\n  ,\n  ,leaf", "deep", id="line breaks around commas"),
    pytest.param("a\n  b", "inner line break", id="line break inside a step"),
    pytest.param("", "empty key", id="empty value"),
])
def test_a_check_files_filters_are_split_at_commas_and_stripped(answering, tmp_path, filters, expected):
    check = tmp_path / "c.cfg"
    check.write_text(f"[default]\nfilters = {filters}\n[quorvane]\naction = show\n", encoding="utf-8")
    assert quorvane_api(answering.address, "admin", "pw", str(tmp_path), str(check)) == expected


# --- properties ----------------------------------------------------------------

json_scalars = st.none() | st.booleans() | st.integers() | st.floats(allow_nan=False) | st.text(max_size=4)
keys = st.sampled_from(["a", "b", "c", " a", ""])
json_values = st.recursive(
    json_scalars,
    lambda inner: st.lists(inner, max_size=5) | st.dictionaries(keys, inner, max_size=4),
    max_leaves=25,
)
steps = st.lists(keys, min_size=1, max_size=3).map("&".join)
paths = st.lists(steps, max_size=4)
# A fifth of the profile's number of examples (tests/conftest.py).
CASES = settings(deadline=None, max_examples=max(1, settings.default.max_examples // 5))


@CASES
@given(json_values, paths)
def test_never_changes_its_input(value, path):
    before_value, before_path = copy.deepcopy(value), list(path)
    try:
        filter_results(value, path)
    except (KeyError, TypeError):
        pass
    assert value == before_value and path == before_path


@CASES
@given(st.lists(st.dictionaries(keys, json_scalars, max_size=4), max_size=8), st.lists(keys, min_size=2, max_size=4))
def test_multi_key_step_on_array_keeps_length_and_places_the_marker(rows, step_keys):
    mapped = filter_results(rows, ["&".join(step_keys)])
    assert len(mapped) == len(rows)
    wanted = list(dict.fromkeys(k.strip() for k in step_keys))
    for row, picked in zip(rows, mapped):
        assert list(picked) == wanted
        for key in wanted:
            assert picked[key] == (row[key] if key in row else MARKER)


@CASES
@given(st.lists(st.dictionaries(keys, json_scalars, min_size=1, max_size=4), max_size=8), keys)
def test_single_key_step_on_array_keeps_length_or_fails_with_the_key(rows, key):
    stripped = key.strip()
    if all(stripped in row for row in rows):
        assert filter_results(rows, [key]) == [row[stripped] for row in rows]
    else:
        with pytest.raises(KeyError) as raised:
            filter_results(rows, [key])
        assert raised.value.args == (stripped,)
