# Argument binding of the module operations: which TypeError each bad call gets.
import inspect
import pydoc

import pytest

import harborsweep.harborsweep as hs

PARAMETERS = {
    "get_quorvane_cid": ["controller_ip", "username", "password"],
    "filter_results": ["results", "filters"],
    "quorvane_api": ["controller_ip", "username", "password", "config_dir", "config_file"],
    "get_default_config_dir": [],
    "main": [],
}

def takes(name, count, given):
    return f"{name}() takes exactly {count} positional arguments ({given} given)"


def multiple(name, keyword):
    return f"{name}() got multiple values for keyword argument '{keyword}'"


def unexpected(name, keyword):
    return f"{name}() got an unexpected keyword argument '{keyword}'"


FR = "filter_results"
BAD_CALLS = [
    # (operation, positional arguments, keyword arguments, message)
    (FR, (1,), {}, takes(FR, 2, 1)),
    (FR, (), {"results": 1}, takes(FR, 2, 1)),
    (FR, (1, 2, 3), {}, takes(FR, 2, 3)),
    (FR, (), {}, takes(FR, 2, 0)),
    (FR, (), {"filters": []}, takes(FR, 2, 0)),
    (FR, (1,), {"results": 2}, takes(FR, 2, 1)),
    (FR, (1, 2), {"results": 3}, multiple(FR, "results")),
    (FR, (1, 2), {"x": 3}, unexpected(FR, "x")),
    # too many positional arguments comes first, whatever the keywords
    (FR, (1, 2, 3), {"x": 1, "results": 2}, takes(FR, 2, 3)),
    # a missing parameter comes before unknown or repeated keywords
    (FR, (), {"filters": [], "x": 1}, takes(FR, 2, 0)),
    (FR, (1,), {"x": 1}, takes(FR, 2, 1)),
    (FR, (1,), {"results": 1, "x": 1}, takes(FR, 2, 1)),
    # with every parameter filled, keywords are judged in the order given
    (FR, (1, 2), {"x": 1, "results": 3}, unexpected(FR, "x")),
    (FR, (1, 2), {"results": 3, "x": 1}, multiple(FR, "results")),
    (FR, (1,), {"filters": [], "results": 3}, multiple(FR, "results")),
    (FR, (1,), {"filters": [], "Filters": 3}, unexpected(FR, "Filters")),
    (FR, (1, 2), {"r\u00e9sults": 3}, unexpected(FR, "r\u00e9sults")),
    ("get_default_config_dir", (1,), {}, "get_default_config_dir() takes no arguments (1 given)"),
    ("get_default_config_dir", (1, 2, 3), {}, "get_default_config_dir() takes no arguments (3 given)"),
    ("get_default_config_dir", (), {"x": 1}, "get_default_config_dir() takes no keyword arguments"),
    ("get_default_config_dir", (1,), {"x": 1}, "get_default_config_dir() takes no keyword arguments"),
    ("get_quorvane_cid", (), {}, takes("get_quorvane_cid", 3, 0)),
    ("get_quorvane_cid", ("h", "u"), {}, takes("get_quorvane_cid", 3, 2)),
    ("get_quorvane_cid", ("h", "u", "p", "x"), {}, takes("get_quorvane_cid", 3, 4)),
    ("get_quorvane_cid", ("h",), {"password": "p"}, takes("get_quorvane_cid", 3, 1)),
    ("get_quorvane_cid", (), {"username": "u", "password": "p"}, takes("get_quorvane_cid", 3, 0)),
    ("get_quorvane_cid", ("h", "u", "p"), {"username": "u"}, multiple("get_quorvane_cid", "username")),
    ("get_quorvane_cid", ("h", "u", "p"), {"verify": False}, unexpected("get_quorvane_cid", "verify")),
    ("quorvane_api", ("h", "u", "p", "d"), {}, takes("quorvane_api", 5, 4)),
    ("quorvane_api", tuple("abcdef"), {}, takes("quorvane_api", 5, 6)),
    ("quorvane_api", ("h", "u"), {"config_dir": "d", "config_file": "f"}, takes("quorvane_api", 5, 2)),
    ("quorvane_api", ("h", "u", "p", "d"), {"config_dir": "d"}, takes("quorvane_api", 5, 4)),
    ("quorvane_api", tuple("hupdf"), {"controller_ip": "h"}, multiple("quorvane_api", "controller_ip")),
    ("quorvane_api", tuple("hupd"), {"config_file": "f", "filters": []}, unexpected("quorvane_api", "filters")),
    ("main", ("--help",), {}, "main() takes no arguments (1 given)"),
    ("main", (), {"argv": []}, "main() takes no keyword arguments"),
    ("main", ("--help",), {"argv": []}, "main() takes no keyword arguments"),
]


def row_id(row):
    name, args, kwargs, _ = row
    shown = [repr(a) for a in args] + [f"{k}={v!r}" for k, v in kwargs.items()]
    return f"{name}({', '.join(shown)})"


@pytest.mark.parametrize("name, args, kwargs, message", BAD_CALLS, ids=[row_id(r) for r in BAD_CALLS])
def test_bad_calls_are_refused_with_the_exact_message(name, args, kwargs, message):
    operation = getattr(hs, name)
    with pytest.raises(TypeError) as raised:
        operation(*args, **kwargs)
    assert str(raised.value) == message


def test_filter_results_takes_its_arguments_by_position_or_by_name():
    value = {"a": 1}
    assert hs.filter_results(value, []) is value
    assert hs.filter_results(value, filters=["a"]) == 1
    assert hs.filter_results(filters=["a"], results=value) == 1


def test_empty_unpacking_is_no_argument(tmp_path, monkeypatch):
    (tmp_path / "config").mkdir()
    monkeypatch.setattr(hs, "__file__", str(tmp_path / "harborsweep.so"))
    assert hs.get_default_config_dir(*(), **{}) == str(tmp_path / "config")


@pytest.mark.parametrize("name", PARAMETERS)
def test_signatures_show_the_real_parameter_names(name):
    operation = getattr(hs, name)
    assert list(inspect.signature(operation).parameters) == PARAMETERS[name]
    assert f"{name}({', '.join(PARAMETERS[name])})" in pydoc.render_doc(operation, renderer=pydoc.plaintext)

