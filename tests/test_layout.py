# Native result layout: byte-for-byte agreement with pprint.PrettyPrinter(width=200).
import contextlib
import errno
import functools
import gc
import io
import os
import pprint
import re
import sys
import tracemalloc
import types
from unittest import mock

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from harborsweep import harborsweep as hs


def reference(value):
    return pprint.PrettyPrinter(width=200).pformat(value) + "\n"


def written(value, printer=None):
    """What _write_result sends to the stream of a plain printer, and any error."""
    stream = io.StringIO()
    printer = printer or pprint.PrettyPrinter(width=200, stream=stream)
    printer._stream = stream
    error = None
    with mock.patch.object(hs, "pp", printer):
        try:
            hs._write_result(value)
        except Exception as exc:  # compared with what pprint raised
            error = exc
    return stream.getvalue(), error


def printed_by_pprint(value):
    stream = io.StringIO()
    error = None
    try:
        pprint.PrettyPrinter(width=200, stream=stream).pprint(value)
    except Exception as exc:
        error = exc
    return stream.getvalue(), error


class RecordingStream:
    """Keeps every write() argument; raises OSError on the call numbered
    `fail_at`."""

    def __init__(self, on_write=None, fail_at=None):
        self.chunks = []
        self.on_write = on_write
        self.fail_at = fail_at

    def write(self, text):
        self.chunks.append(text)
        if self.on_write:
            self.on_write()
        if len(self.chunks) == self.fail_at:
            raise OSError(errno.ENOSPC, "No space left on device")


class RecordingStringIO(io.StringIO):
    """An io.StringIO of a caller's own: the same storage behind a write()
    that counts its calls and fails on the one numbered `fail_at`."""

    def __init__(self, fail_at=None):
        super().__init__()
        self.chunks = []
        self.fail_at = fail_at

    def write(self, text):
        self.chunks.append(text)
        if len(self.chunks) == self.fail_at:
            raise OSError(errno.ENOSPC, "No space left on device")
        return super().write(text)


class RecordingRaw(io.RawIOBase):
    """A raw byte stream that is not a file, such as a socket or a device of
    a caller's own: keeps what each write() is given, fails on the one
    numbered `fail_at`."""

    def __init__(self, fail_at=None):
        self.chunks = []
        self.fail_at = fail_at

    def writable(self):
        return True

    def write(self, data):
        self.chunks.append(bytes(data))
        if len(self.chunks) == self.fail_at:
            raise OSError(errno.EPIPE, "Broken pipe")
        return len(data)


def text_over_raw(fail_at=None, encoding="utf-8", errors="strict", **buffering):
    """A text stream over a buffered writer over a RecordingRaw; `buffering`
    sets the buffer's size and the text layer's write_through."""
    raw = RecordingRaw(fail_at)
    size = buffering.pop("buffer_size", io.DEFAULT_BUFFER_SIZE)
    stream = io.TextIOWrapper(io.BufferedWriter(raw, buffer_size=size), encoding=encoding, errors=errors,
                              **buffering)

    def received():
        """What the raw stream was given once the text stream is flushed."""
        try:
            stream.flush()
            error = None
        except OSError as exc:
            error = exc.errno
        seen = list(raw.chunks), error
        raw.fail_at = None
        stream.close()
        return seen

    return stream, received


def custom_stream(fail_at=None):
    stream = RecordingStream(fail_at=fail_at)
    return stream, lambda: (stream.chunks,)


def stringio_subclass(fail_at=None):
    stream = RecordingStringIO(fail_at)
    return stream, lambda: (stream.chunks, stream.getvalue())


# Streams whose write() calls can be watched: each maker takes the number of
# the call that fails and gives the stream and a function returning what it
# has received, the list of its write() calls first.
STREAMS = {
    "custom": custom_stream,
    "StringIO subclass": stringio_subclass,
    # Write-through to a small buffer, so that the raw stream sees nearly
    # every write() and can fail part-way.
    "text over a raw stream": lambda fail_at=None: text_over_raw(fail_at, buffer_size=64, write_through=True),
}


def printed_into(stream, value, native):
    """Writes `value` into `stream` through pp's stream and _write_result
    (`native`) or through pprint itself; returns the error as (type, message)."""
    try:
        if native:
            with mock.patch.object(hs.pp, "_stream", stream):
                hs._write_result(value)
        else:
            pprint.PrettyPrinter(width=200, stream=stream).pprint(value)
    except Exception as exc:
        return type(exc), str(exc)
    return None


def write_calls(value, native, fail_at=None, kind="custom"):
    """What a stream of the `kind` of STREAMS has received, up to the
    failing call, and the error."""
    stream, received = STREAMS[kind](fail_at)
    error = printed_into(stream, value, native)
    return received(), error


class HookedText(io.TextIOWrapper):
    """A text stream of a caller's own type, whose write() calls `hook`."""

    def write(self, text):
        self.hook(text)
        return super().write(text)


def hooked_text(hook, path):
    stream = HookedText(io.BytesIO(), encoding="utf-8")
    stream.hook = hook
    return stream


def patched(stream, **methods):
    for name, method in methods.items():
        setattr(stream, name, method)
    return stream


def file_with_hooked_buffer(hook, path, method):
    """A text file whose buffer's write() (every text write reaches it) or
    flush() (a line-buffered file calls it after each line end) is replaced
    on the instance by one that also calls `hook`."""
    buffer = open(path, "wb")
    if method == "write":
        write = buffer.write
        buffer.write = lambda data: (hook(bytes(data)), write(data))[1]
        return io.TextIOWrapper(buffer, encoding="utf-8", write_through=True)
    flush = buffer.flush
    buffer.flush = lambda: (flush(), hook(path.read_bytes()))[0]
    return io.TextIOWrapper(buffer, encoding="utf-8", line_buffering=True)


# Streams that run a caller's code as they are written to, each made from
# that code, `hook(data)`, and a path it may write to.
HOOKED_STREAMS = {
    "own type": lambda hook, path: types.SimpleNamespace(write=hook),
    "StringIO patched": lambda hook, path: patched(io.StringIO(), write=hook),
    "TextIOWrapper subclass": hooked_text,
    "file's buffer write patched": lambda hook, path: file_with_hooked_buffer(hook, path, "write"),
    "file's buffer flush patched": lambda hook, path: file_with_hooked_buffer(hook, path, "flush"),
}


# Characters that exercise every escape and quoting rule, and every line
# boundary and whitespace class that the text splitting knows.
SPECIAL = list(
    "'\"\\\t\n\r\x0b\x0c\x1b\x1c\x1d\x1e\x1f\x00\x7f\x80\x85\x9f\xa0\xad\u0378\u1680\u2000\u200b\u2028\u2029"
    "\u202f\u205f\u3000\ufeff\ue000\U0001f600\U000e0001\U0010ffff"
) + ["\ud800", "\udfff", " "]
chars = st.one_of(st.characters(exclude_categories=()), st.sampled_from(SPECIAL))
# A text all in ASCII is escaped by another road than the rest: half the texts
# are drawn from ASCII alone, weighted toward its controls, quotes and backslash.
ascii_chars = st.one_of(st.characters(max_codepoint=0x7F), st.sampled_from([c for c in SPECIAL if c.isascii()]))
short_text = st.one_of(st.text(ascii_chars, max_size=12), st.text(chars, max_size=12))
SEPARATORS = [" ", "  ", "\n", "\r\n", "\r", "\t", "\x0b", "\x0c", "\x1c", "\x85", "\u2028", "\u3000", "\xa0", " \n", "",
              "'", '"']


@st.composite
def long_text(draw):
    letters = draw(st.sampled_from([ascii_chars, chars]))
    word = st.text(st.one_of(st.sampled_from("abcxyz'\"\\"), letters), min_size=0, max_size=40)
    separator = st.sampled_from([s for s in SEPARATORS if letters is chars or s.isascii()])
    parts = draw(st.lists(st.tuples(word, separator), max_size=40))
    return "".join(w + s for w, s in parts)


floats = st.one_of(
    st.floats(allow_nan=True, allow_infinity=True),
    st.sampled_from([-0.0, 0.0, 1e16, 1e-05, 1e15, 9999999999999998.0, 0.0001, 1e300, -1e-300, 5e-324]),
)
ints = st.one_of(st.integers(), st.integers(min_value=-(10**80), max_value=10**80),
                 st.sampled_from([2**63, -(2**63), 2**63 - 1, -(2**63) - 1, 10**200]))
scalars = st.one_of(st.none(), st.booleans(), ints, floats, short_text, long_text())


def containers(children):
    return st.one_of(
        st.lists(children, max_size=6),
        st.dictionaries(st.one_of(short_text, long_text()), children, max_size=6),
    )


values = st.recursive(scalars, containers, max_leaves=40)


@st.composite
def at_column(draw):
    """A value placed at some column with some allowance: as the value of a
    key of chosen length, possibly followed by a sibling, possibly in a list."""
    value = draw(values)
    key = "k" * draw(st.integers(min_value=0, max_value=210))
    shaped = {key: value}
    if draw(st.booleans()):
        shaped["~"] = draw(scalars)
    if draw(st.booleans()):
        shaped = [shaped] * draw(st.integers(min_value=1, max_value=2))
    return shaped


@st.composite
def near_edge(draw):
    """Containers and texts whose one-line literal is just under, at or just
    over the room they get."""
    target = 200 - draw(st.integers(min_value=0, max_value=60)) + draw(st.integers(min_value=-3, max_value=3))
    kind = draw(st.sampled_from(["list", "dict", "text", "spaced"]))
    if kind == "list":
        count = max(1, target // 5)
        items = [draw(st.integers(min_value=100, max_value=999)) for _ in range(count)]
        return items
    if kind == "dict":
        return {"k%03d" % i: i for i in range(max(1, target // 12))}
    if kind == "text":
        return "x" * max(0, target - 2)
    return ("ab " * target)[: max(0, target - 2)]


# The number of examples is the profile's (tests/conftest.py); the tests that
# write through a stream cost several times more per example and take a fifth.
CASES = settings(deadline=None, suppress_health_check=list(HealthCheck))
STREAM_CASES = settings(CASES, max_examples=max(1, CASES.max_examples // 5))


class TestAgainstPprint:
    @CASES
    @given(values)
    def test_values(self, value):
        assert hs._layout(value) == reference(value)

    @CASES
    @given(at_column())
    def test_values_at_every_column(self, value):
        assert hs._layout(value) == reference(value)

    @CASES
    @given(st.one_of(long_text(), *(st.text(letters, min_size=150, max_size=700) for letters in (ascii_chars, chars))))
    def test_texts_as_whole_result_and_nested(self, text):
        for value in (text, [text], {"key": text, "z": 1}, [[text, text]], {"k" * 150: text}):
            assert hs._layout(value) == reference(value)

    @CASES
    @given(near_edge(), st.integers(min_value=0, max_value=60))
    def test_edge_of_the_page(self, value, column):
        for shaped in (value, {"k" * column: value}, [[value]], {"k" * column: [value, 1]}):
            assert hs._layout(shaped) == reference(shaped)

    @STREAM_CASES
    @given(values)
    def test_write_result_matches_pprint(self, value):
        out, error = written(value)
        assert error is None
        assert out == reference(value)

    # Each kind of stream gets about as many examples as the test above.
    @settings(STREAM_CASES, max_examples=STREAM_CASES.max_examples * len(STREAMS))
    @given(st.one_of(values, at_column(), near_edge()), st.sampled_from(sorted(STREAMS)))
    def test_streams_of_other_types_get_pprints_write_calls(self, value, kind):
        assert write_calls(value, True, kind=kind) == write_calls(value, False, kind=kind)


# Every kind of scalar, and each class of character that a text literal
# writes in its own way, with printable ones beside them.
EDGE_PIECES = [None, True, False, 0, -7, 2**63, -(10**30), 1.5, -0.0, 1e16, 1e-05, float("nan"), float("-inf"),
               "", "plain", *"\x00\t\n\x1b\x1f\x7f\x80\x85\x9f\xa0\xad\u0378\u2028\ue000\ufeff\U000e0001\U0010ffff",
               "\ud800", "\udfff", "'", '"', "'\"", "\\", "\xe9", "\U0001f600",
               # Both quotes, unequal in number: only the single ones are
               # escaped, each of two in one 8-byte word.
               "''\"", "'\"\""]


def held(piece):
    """Ways to hold `piece` beside a pad of x's, as functions of the pad: in
    lists, tuples and dicts, nested; a text also at the start, in the middle
    and at the end of a text that is a key, a value or the whole result."""
    shapes = [lambda pad: [piece, pad], lambda pad: (pad, piece), lambda pad: {"p": pad, "s": piece},
              lambda pad: [{"k": [pad, piece]}]]
    if isinstance(piece, str):
        for text in (lambda pad: piece + pad, lambda pad: pad[:9] + piece + pad[9:], lambda pad: pad + piece):
            shapes += [text, lambda pad, text=text: [text(pad), 0], lambda pad, text=text: {text(pad): 0, "~": 1},
                       lambda pad, text=text: {"k": [0, text(pad)]}]
    return shapes


def same_slot(key):
    """A fresh key, sorting after ASCII keys, that leads a dict into the same
    slot of the key-order cache as `key` does for as many keys: the slot is
    the first key's address over 16, modulo 8. Texts of many lengths come
    from many of the allocator's size classes, and so at many addresses."""
    fresh = ["~%d" % i + "~" * (i % 40) for i in range(400)]
    return next(other for other in fresh if (id(other) >> 4) % 8 == (id(key) >> 4) % 8)


class TestRules:
    @pytest.mark.parametrize("piece", EDGE_PIECES, ids=ascii)
    def test_every_kind_of_literal_at_the_edge_of_the_page(self, piece):
        # One-line literals 199, 200 and 201 columns wide: a width miscounted
        # by one puts on one line what pprint breaks, or the reverse.
        for shape in held(piece):
            for width in (199, 200, 201):
                value = shape("x" * (width - len(repr(shape("")))))
                assert written(value) == (reference(value), None), ascii(value)

    @pytest.mark.parametrize("shape", [
        lambda text: text, lambda text: [[text]], lambda text: [text, 0], lambda text: {"k": text},
        lambda text: {"a": [text], "b": 0}, lambda text: {"k": [0, text]},
    ], ids=["whole", "nested", "before-a-comma", "dict-value", "nested-before-a-comma", "last-nested"])
    def test_split_text_leaves_room_for_what_follows_its_last_piece(self, shape):
        # The closing brackets and comma after a text share its last line.
        for tail in range(30, 60):
            for text in ("w" * 150 + " " + "z" * tail, "say \"it's\" " + "w" * 138 + " \\" + "z" * tail):
                assert hs._layout(shape(text)) == reference(shape(text))

    def test_one_line_when_it_fits_one_entry_per_line_otherwise(self):
        assert hs._layout({"b": 1, "a": 2}) == "{'a': 2, 'b': 1}\n"
        big = {"k%02d" % i: "v" * 10 for i in range(12)}
        lines = hs._layout(big).splitlines()
        assert len(lines) == 12 and lines[0].startswith("{'k00'") and lines[1].startswith(" 'k01'")

    def test_whole_result_text_in_parentheses_nested_text_without(self):
        text = "word " * 60
        assert hs._layout(text) == reference(text)
        assert hs._layout(text).startswith("('word")
        assert hs._layout([text]).startswith("['word")
        solid = "x" * 500
        assert hs._layout(solid) == repr(solid) + "\n"

    def test_literals(self):
        cases = [None, True, False, -0.0, float("inf"), float("-inf"), float("nan"), 1e16, 1e-05, 0.1,
                 2.5, 10**30, -(10**30), "FILTER_NOT_FOUND",
                 # Floats where the notation changes, and digits that move
                 # around the point: before it, after it, zeros padded on
                 # either side, the shortest and longest exponents.
                 1e15, 9999999999999998.0, 1.2345678901234567e16, 123456789012345.67, 0.0001, 0.00012345,
                 9.999999999999999e-05, -1.5e-07, 1e22, 1 / 3, -2 / 3, 100.0, 5e-324, 2.2250738585072014e-308,
                 1.7976931348623157e308, -1.5e300, "it's", "it's \"x\"", "a\\b\t\n\r\x01\x7f\x85\u2028",
                 "\U0001f600\ud800", [], {}, [[]], [{}]]
        for value in cases:
            assert hs._layout(value) == reference(value)

    def test_empty_containers_and_scalars_at_any_column(self):
        for column in (0, 150, 197, 198, 199, 200, 201, 260):
            for inner in ([], {}, "", 12345678901234567890, True, None, 1.5e-300):
                value = {"k" * column: [inner, inner]}
                assert hs._layout(value) == reference(value)

    def test_compound_result_prints_member_before_results(self):
        value = [{"results": {"state": "up", "name": "gw1"}, "member": "gw1"}]
        assert hs._layout(value) == "[{'member': 'gw1', 'results': {'name': 'gw1', 'state': 'up'}}]\n"

    def test_literals_longer_than_an_output_chunk(self):
        for text in ("x" * 100_000, "\u00e9\u20ac\U0001f600" * 40_000, "it's " * 30_000, "a\\b\n" * 30_000):
            for value in (text, [text, text], {"k": text}):
                assert written(value) == (reference(value), None)

    def test_chunk_boundaries_between_wide_characters(self):
        value = ["\u00e9\u20ac\U0001f600 %d " % i * 30 for i in range(3000)]
        assert written(value) == (reference(value), None)

    def test_shared_but_not_cyclic_values(self):
        inner = ["x" * 90, "y" * 90]
        value = {"a": inner, "b": inner, "c": [inner, inner]}
        assert hs._layout(value) == reference(value)

    @pytest.mark.parametrize("special", ["'", '"', "\\", "\x00", "\x1f", "\x7f", "\t", "~"], ids=ascii)
    def test_quotes_and_escapes_at_every_position_of_short_texts(self, special):
        # ASCII texts are read eight characters at a time, the last word
        # overlapping the one before: a character missed or counted twice
        # there picks the wrong quotes, drops an escape or miscounts a width.
        for size in range(1, 18):
            for at in range(size):
                for tail in ("", "'", '"'):
                    text = "a" * at + special + "b" * (size - at - 1) + tail
                    # As the whole result, a key and a value, and in lists
                    # 200 and 201 columns wide.
                    edge = [[text, "x" * (194 - len(repr(text)) + extra)] for extra in (0, 1)]
                    for value in (text, {text: [text]}, *edge):
                        assert hs._layout(value) == reference(value), ascii(value)

    @pytest.mark.parametrize("char", ["\\", "\x00", "\x85", "\u0378", "\ud800", "\U000e0001"], ids=ascii)
    def test_texts_of_escapes_only_around_their_room(self, char):
        # A text is measured only where its length leaves the fit in doubt;
        # one of escapes alone is up to ten times longer as a literal, and
        # cut at its space where that does not fit.
        cost = len(repr(char)) - 2
        for count in range(180 // cost, 200 // cost + 2):
            text = char * (count // 2) + " " + char * (count - count // 2)
            for value in ({"k": text, "z": 0}, [text], [[0, text]]):
                assert hs._layout(value) == reference(value), ascii(value)

    @pytest.mark.parametrize("make", [
        lambda keys: [dict.fromkeys(keys, i) for i in range(3)],
        lambda keys: [dict.fromkeys(keys, 0), dict.fromkeys(keys[:1] + keys[:0:-1], 1), dict.fromkeys(keys[::-1], 2)],
        lambda keys: [dict.fromkeys(keys, 0), dict.fromkeys(keys[::-1], 1), dict.fromkeys(keys, 2), dict.fromkeys(keys[::-1], 3)],
        lambda keys: [dict.fromkeys(keys[:n], n) for n in range(1, len(keys) + 1)],
        lambda keys: [dict.fromkeys(keys, 0), dict.fromkeys(keys[:1] + ["~" * i + "a" for i in range(len(keys) - 1)], 1)],
        lambda keys: [dict.fromkeys(keys, 0), dict.fromkeys(["".join(list(key)) for key in keys], 1)],
        lambda keys: [{key: {key: 1}} for key in keys],
        lambda keys: [dict.fromkeys(keys, 0), {**dict.fromkeys(keys, 1), 7: 2}],
        lambda keys: [dict.fromkeys(keys, 0), dict.fromkeys([same_slot(keys[0]), *keys[1:]], 1)],
    ], ids=["same", "reordered", "alternating", "growing", "same-size-other-keys", "equal-not-same", "nested", "then-int-key",
            "other-first-key-same-slot"])
    @pytest.mark.parametrize("keys", [
        ["state", "gw_name", "vpc_id"],
        ["k%03d" % i for i in range(70)],
        ["it's", 'say "x"', "a\\b", "t\tab", "caf\xe9", "\u20ac", "\U0001f600", "k" * 120],
    ], ids=["few", "many", "escaped"])
    def test_dicts_sharing_their_keys(self, keys, make):
        # Dicts whose keys are the same objects in the same order share one
        # sorted order and one measure of their keys; any other difference
        # must not reuse them.
        value = make(keys)
        if any(not isinstance(key, str) for record in value for key in record):
            assert hs._layout(value) is None
        else:
            assert hs._layout(value) == reference(value)
        assert written(value) == (reference(value), None)


def nested(depth, leaf="x" * 40, kind="list"):
    value = leaf
    for level in range(depth):
        value = [value, level] if kind == "list" else {"k": value, "n": level}
    return value


class RememberingPrinter(pprint.PrettyPrinter):
    """pprint that makes the one-line literal of each object once. pprint
    makes it anew at every level that tries the object on one line, which
    for a value n levels deep is n * n / 2 objects; for a value without
    cycles and without a depth limit the literal is the same every time."""

    def __init__(self, **options):
        super().__init__(**options)
        self.literals = {}

    def _safe_repr(self, object, context, maxlevels, level):
        if id(object) not in self.literals:
            self.literals[id(object)] = super()._safe_repr(object, context, maxlevels, level)
        return self.literals[id(object)]


class TestDepth:
    @pytest.mark.parametrize("kind", ["list", "dict"])
    def test_deep_values_match_pprint_with_room(self, kind):
        value = nested(900, kind=kind)
        limit = sys.getrecursionlimit()
        sys.setrecursionlimit(10000)
        try:
            expected = RememberingPrinter(width=200).pformat(value) + "\n"
        finally:
            sys.setrecursionlimit(limit)
        assert hs._layout(value) == expected

    # pprint spends more frames on a level of dicts than of lists on 3.15.
    @pytest.mark.parametrize("kind", ["list", "dict"])
    def test_write_result_behaves_as_pprint_around_its_recursion_limit(self, kind):
        limit = sys.getrecursionlimit()
        sys.setrecursionlimit(400)
        try:
            # A subclass is always left to pprint, from the same stack depth.
            subclass = type("Sub", (pprint.PrettyPrinter,), {})
            outcomes = set()
            for depth in range(60, 140, 3):
                value = nested(depth, kind=kind)
                out, error = written(value)
                expected_out, expected_error = written(value, subclass(width=200))
                assert out == expected_out
                assert type(error) is type(expected_error)
                outcomes.add(type(error))
            assert outcomes == {type(None), RecursionError}
        finally:
            sys.setrecursionlimit(limit)

    def test_very_deep_values_do_not_exhaust_the_stack(self):
        value = 1
        for _ in range(200_000):
            value = [value]
        assert hs._layout(value) == "[" * 200_000 + "1" + "]" * 200_000 + "\n"
        out, error = written(value)
        assert isinstance(error, RecursionError)


class Loud(dict):
    def __repr__(self):
        return "Loud()"


class PlainList(list):
    pass


def short_format(self, obj, stream, *rest):
    stream.write("<%d>" % len(obj))


def upper_cased(method):
    """A caller's method in place of `method`, which takes on its name, module
    and docstring (functools.wraps) and upper-cases what it returns."""
    return functools.wraps(method)(lambda *args: method(*args).upper())


DISPATCH = pprint.PrettyPrinter._dispatch


def posing_as_pprints(function, owner=""):
    """A caller's `function` that gives pprint's module and its own name there."""
    function.__module__, function.__qualname__ = "pprint", owner + function.__name__
    return function


def _pprint_list(self, obj, stream, *rest):
    stream.write("[%d]" % len(obj))


def _format(self, obj, stream, *rest):
    short_format(self, obj, stream, *rest)


def _safe_tuple(item):
    return item[0].casefold()


@contextlib.contextmanager
def code_swapped(function, code):
    """`function` running `code` for a while, as a tool that patches code in place sets it."""
    function.__code__, original = code, function.__code__
    try:
        yield
    finally:
        function.__code__ = original


class TestLeftToPprint:
    @pytest.mark.parametrize("make", [
        lambda: Loud(a=1),
        lambda: PlainList(["x" * 150, "y" * 150]),
        lambda: {1: "a", "b": 2},
        lambda: {"k": (1, 2)},
        lambda: [b"bytes"],
        lambda: {"k": {1, 2}},
        pytest.param(lambda: {"k": frozendict(a="x" * 200)},  # noqa: F821 (a built-in from 3.15)
                     marks=pytest.mark.skipif(sys.version_info < (3, 15), reason="Python 3.15's type")),
    ], ids=["dict-subclass-repr", "list-subclass", "int-key", "tuple", "bytes", "set", "frozendict"])
    def test_uncovered_values_give_pprints_output(self, make):
        value = make()
        assert hs._layout(value) is None
        assert written(value) == (reference(value), None)

    def test_container_holding_itself(self):
        value = ["x" * 150]
        value.append(value)
        assert hs._layout(value) is None
        out, error = written(value)
        # pprint names the object's id; only the shape can be compared.
        assert error is None and out.count("<Recursion on list with id=%d>" % id(value)) == 1

    def test_int_too_long_to_write_raises_as_pprint_does(self):
        value = {"n": 10**5000}
        out, error = written(value)
        expected_out, expected_error = printed_by_pprint(value)
        assert (out, type(error)) == (expected_out, type(expected_error)) == ("", ValueError)

    @pytest.mark.parametrize("printer", [
        lambda: pprint.PrettyPrinter(width=80),
        lambda: pprint.PrettyPrinter(width=200, indent=2),
        lambda: pprint.PrettyPrinter(width=200, sort_dicts=False),
        lambda: pprint.PrettyPrinter(width=200, compact=True),
        lambda: pprint.PrettyPrinter(width=200, depth=2),
        lambda: pprint.PrettyPrinter(width=200, underscore_numbers=True),
        lambda: type("Sub", (pprint.PrettyPrinter,), {})(width=200),
        pytest.param(lambda: pprint.PrettyPrinter(width=200, expand=True),
                     marks=pytest.mark.skipif(sys.version_info < (3, 15), reason="pprint 3.15's setting")),
    ], ids=["width", "indent", "unsorted", "compact", "depth", "underscores", "subclass", "expand"])
    def test_changed_printer_is_used_as_it_is(self, printer):
        value = {"b": [10**6] * 30, "a": {"c": {"d": [1, 2, 3]}}, "s": "w " * 150}
        pp = printer()
        stream = io.StringIO()
        pp._stream = stream
        pp.pprint(value)
        assert written(value, printer()) == (stream.getvalue(), None)

    @pytest.mark.parametrize("owner", ["instance", "class"])
    def test_patched_pprint_method_is_called(self, owner):
        pp = pprint.PrettyPrinter(width=200)
        with mock.patch.object(pp if owner == "instance" else pprint.PrettyPrinter, "pprint") as patched, \
             mock.patch.object(hs, "pp", pp):
            hs._write_result({"a": 1})
        patched.assert_called_once_with({"a": 1})

    @pytest.mark.parametrize("patch", [
        lambda: mock.patch.object(pprint.PrettyPrinter, "format", lambda self, obj, *rest: (repr(obj).upper(), True, False)),
        lambda: mock.patch.object(pprint.PrettyPrinter, "_format", short_format),
        lambda: mock.patch.object(pprint.PrettyPrinter, "_repr", upper_cased(pprint.PrettyPrinter._repr)),
        lambda: mock.patch.dict(DISPATCH, {list.__repr__: lambda self, obj, stream, *rest: stream.write("[]")}),
        lambda: mock.patch.dict(DISPATCH, {list.__repr__: pprint.PrettyPrinter._pprint_tuple}),
        lambda: mock.patch.dict(DISPATCH, {k: v for k, v in DISPATCH.items() if k is not list.__repr__}, clear=True),
        # A caller's function under the name of pprint's own that it stands in for.
        lambda: mock.patch.dict(DISPATCH, {list.__repr__: posing_as_pprints(_pprint_list, "PrettyPrinter.")}),
        lambda: mock.patch.object(pprint.PrettyPrinter, "_format", posing_as_pprints(_format, "PrettyPrinter.")),
        lambda: code_swapped(pprint.PrettyPrinter._pprint_list, _pprint_list.__code__),
        # One of pprint's own methods under another of its names.
        lambda: mock.patch.object(pprint.PrettyPrinter, "_format_items", pprint.PrettyPrinter._format_dict_items),
        # The printer class replaced by one whose base overrides _format.
        lambda: mock.patch("pprint.PrettyPrinter",
                           type("Printer", (type("Base", (pprint.PrettyPrinter,), {"_format": short_format}),), {})),
        # The module's helpers, and a builtin shadowed in the module.
        lambda: mock.patch("pprint._safe_key", lambda obj: str(obj).casefold()),
        lambda: mock.patch.object(pprint._safe_key, "__lt__", lambda self, other: self.obj.casefold() < other.obj.casefold()),
        lambda: mock.patch("pprint._safe_tuple", lambda item: item[0].casefold()),
        lambda: mock.patch("pprint._safe_tuple", posing_as_pprints(_safe_tuple)),
        lambda: code_swapped(pprint._safe_tuple, _safe_tuple.__code__),
        lambda: mock.patch("pprint._builtin_scalars", pprint._builtin_scalars | {dict}),
        lambda: mock.patch("pprint.sorted", lambda items, key: list(items), create=True),
        lambda: mock.patch("builtins.sorted", lambda items, key=None, reverse=False: list(items)),
        # Read before 3.14 only, which imports re where it splits texts.
        lambda: mock.patch("pprint.re", types.SimpleNamespace(findall=lambda pattern, text: [text, ""]), create=True),
    ], ids=["format", "_format", "_repr-wrapped", "_dispatch", "_dispatch-moved", "_dispatch-dropped",
            "_dispatch-callers-namesake", "_format-posing", "_pprint_list-code", "_format_items-aliased", "base-class",
            "_safe_key", "_safe_key.__lt__", "_safe_tuple", "_safe_tuple-posing", "_safe_tuple-code",
            "_builtin_scalars", "sorted", "builtins.sorted", "re"])
    def test_changes_to_what_pprint_reads_are_used(self, patch):
        value = {"b": ["x" * 150, "y" * 60], "a": "it's", "C": {"z": 1, "y": 2}, "s": "w " * 150}
        with patch():
            out, error = written(value)
            expected_out, expected_error = printed_by_pprint(value)
        # An error, such as the ValueError of a misplaced method, as pprint raised it.
        assert (out, repr(error)) == (expected_out, repr(expected_error))

    def test_pp_is_looked_up_at_call_time_and_its_stream_used(self):
        stream = io.StringIO()
        with mock.patch.object(hs, "pp", pprint.PrettyPrinter(width=200, stream=stream)):
            hs._write_result(["a", 1])
        assert stream.getvalue() == "['a', 1]\n"


class TestOutputAndResources:
    # Also through a printer that pprint has used before, which on 3.15
    # keeps the state of its last call in the instance.
    @pytest.mark.parametrize("used", [False, True], ids=["fresh", "used-by-pprint"])
    def test_large_results_go_out_in_few_large_writes(self, tmp_path, used):
        # To a text file, as to a redirected standard output. Its write()
        # calls can't be watched from Python, but this thread's system calls
        # can: pprint's small writes would reach the file every 8 KB (the
        # buffer size before 3.15, given here, which made it 128 KB).
        counters = "/proc/thread-self/io"
        if not os.path.exists(counters):
            pytest.skip("no per-thread I/O counters")

        def system_writes():
            with open(counters) as file:
                return int(re.search(r"syscw: (\d+)", file.read()).group(1))

        value = [{"name": "gw-%05d" % i, "ip": "10.0.%d.%d" % (i // 256, i % 256), "up": i % 3 == 0,
                  "tags": ["t%d" % j for j in range(i % 7)]} for i in range(20000)]
        path = tmp_path / "out.txt"
        printer = pprint.PrettyPrinter(width=200, stream=io.StringIO())
        if used:
            printer.pprint({"k": ["w " * 150, (1, 2)]})
        with open(path, "w", encoding="utf-8", buffering=8192) as stream, mock.patch.object(hs, "pp", printer):
            before = system_writes()
            assert printed_into(stream, value, native=True) is None
            stream.flush()
            made = system_writes() - before
        text = path.read_text(encoding="utf-8")
        assert text == reference(value)
        assert made <= len(text) // (32 * 1024) + 2

    @pytest.mark.parametrize("kind", sorted(STREAMS))
    def test_stream_failing_on_its_nth_write_gets_pprints_calls_up_to_it(self, kind):
        cases = [
            {"gateways": [{"name": "gw-%d" % i, "tags": ["t"] * (i % 3), "note": "w " * (i * 9)} for i in range(12)],
             "empty": [[], {}, ""], "k" * 199: [[], {}], "n": 10**30},
            "word " * 120,
            # Single literals longer than an output chunk, among short pieces.
            {"solid": "x" * 40_000, "wide": "\u20ac\U0001f600" * 9_000, "z": ["y" * 33_000, 1, "\xe9" * 17_000]},
            "w" * 50_000,
        ]
        for value in cases:
            received, error = write_calls(value, False, kind=kind)
            calls = len(received[0])
            assert error is None and calls > 1
            for n in range(1, calls + 1):
                assert write_calls(value, True, n, kind) == write_calls(value, False, n, kind)

    @pytest.mark.parametrize("encoding, errors, tail", [
        ("ascii", "strict", ["café"]),
        # Keys all beyond ASCII but the last one.
        ("ascii", "strict", [{"café": 1, "naïve": 2, "zone": 3}]),
        ("ascii", "backslashreplace", ["café", "\U0001f600"]),
        ("ascii", "replace", ["café"]),
        ("latin-1", "strict", ["café", "10 €"]),
        ("cp1252", "strict", ["10 €", "\u0100"]),
        ("utf-8", "strict", ["café \ud800 \U0001f600"]),
    ])
    @pytest.mark.parametrize("binary", ["memory", "raw stream"])
    def test_text_streams_get_the_bytes_pprint_gives_them(self, encoding, errors, tail, binary):
        # Past a few output chunks, then characters the encoding may lack.
        # Over a raw stream that is not a file, the raw write() calls are
        # compared too.
        value = {"names": ["gateway-%04d" % i for i in range(3000)], "tail": tail}
        outcomes = []
        for native in (True, False):
            if binary == "memory":
                stream = io.TextIOWrapper(io.BytesIO(), encoding=encoding, errors=errors)
                error = printed_into(stream, value, native)
                stream.flush()
                outcomes.append(([stream.buffer.getvalue()], error))
            else:
                stream, received = text_over_raw(encoding=encoding, errors=errors)
                error = printed_into(stream, value, native)
                outcomes.append((received(), error))
        assert len(b"".join(outcomes[1][0] if binary == "memory" else outcomes[1][0][0])) > 40_000
        assert outcomes[0] == outcomes[1]

    @pytest.mark.parametrize("change", [
        lambda value: value[1].extend(range(60)), lambda value: value.append("late"),
        lambda value: value[2].update(z=0), lambda value: value.clear(),
    ], ids=["inner-list-grows", "outer-list-grows", "dict-grows", "cleared"])
    @pytest.mark.parametrize("kind", sorted(HOOKED_STREAMS))
    def test_stream_that_changes_the_result_gets_what_pprint_writes(self, change, kind, tmp_path):
        # A caller's code that writing runs changes the result at its first
        # call: the calls and any error are pprint's, however it reads the
        # changed value.
        outcomes = []
        for native in (True, False):
            value, calls = ["a" * 200, [1], {"k": 1}], []

            def hook(data):
                calls.append(data)
                if len(calls) == 1:
                    change(value)

            stream = HOOKED_STREAMS[kind](hook, tmp_path / str(native))
            outcomes.append(printed_into(stream, value, native))
            getattr(stream, "close", lambda: None)()
            outcomes.append(calls)
        assert outcomes[:2] == outcomes[2:]

    def test_no_references_or_memory_kept(self):
        leaf = "shared-" + "z" * 300
        # Long texts beyond ASCII, cut at spaces and line ends into many pieces
        # that each go through repr().
        latin = "café " * 5000
        wide = ("\U0001f600 \u20ac " * 80 + "\n") * 40
        value = {"a": [leaf, 1.5, 10**40], "b": {"c": leaf}, "d": [leaf] * 3, "e": [latin, wide], "f": wide}
        kept = (value, leaf, latin, wide, value["a"], value["b"])
        counts = [sys.getrefcount(obj) for obj in kept]
        for _ in range(200):
            hs._layout(value)
            written(value)
        gc.collect()
        tracemalloc.start()
        for _ in range(50):
            hs._layout(value)
        gc.collect()
        before, _ = tracemalloc.get_traced_memory()
        for _ in range(500):
            hs._layout(value)
        gc.collect()
        after, _ = tracemalloc.get_traced_memory()
        tracemalloc.stop()
        assert [sys.getrefcount(obj) for obj in kept] == counts
        assert after - before < 10_000
