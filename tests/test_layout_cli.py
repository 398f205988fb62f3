# The run's output through the launcher, byte for byte, for results that need each layout rule.
import io
import pprint

import pytest

from launcher import check_order, check_output, error_and_notes, run_harborsweep, write_checks
from standin_controller import Account, Reply, Rule, Scenario

WIDE = {f"member_{i:02d}": {"name": f"gateway-{i}", "ok": i % 2 == 0, "ratio": i / 7} for i in range(9)}
ANSWERS = {
    "short": {"b": [1, 2.5, None, True], "a": "it's"},           # one line, sorted keys, double quotes
    "wide": WIDE,                                                # one member per line, nested breaks
    "text": "word " * 90 + "\nsecond line\tends here " * 8,      # top-level text in parentheses
    "nested": {"log": ["x" * 250, "a b " * 60], "empty": [{}, [], ""]},  # nested text chunks, empties
    "marker": {"missing": "FILTER_NOT_FOUND", "big": 10**40, "quote": "\"'\\", "uni": "é\u2028\x00"},
}


def test_results_are_written_as_the_pretty_printer_lays_them_out(controller, tmp_path):
    stand_in = controller(Scenario(accounts=[Account("admin", "pw")], rules=[
        Rule({"action": name}, Reply(json=answer)) for name, answer in ANSWERS.items()]))
    config_dir = write_checks(tmp_path, {
        f"{name}.cfg": f"[default]\ndescription = {name}\n[quorvane]\naction = {name}\n" for name in ANSWERS})
    done = run_harborsweep("--controller_ip", stand_in.address, "--password", "pw", "--config_dir", config_dir)
    assert (done.returncode, done.stderr) == (0, b"")
    expected = "".join(check_output(name[:-4], ANSWERS[name[:-4]]) for name in check_order(config_dir))
    assert done.stdout == expected.encode("utf-8")
    assert b"\n (" not in done.stdout and b"\n('word" in done.stdout


def printed_before_the_error(head, value, encoding):
    """What a standard output in `encoding` holds once `head` is printed and
    pprint has failed on `value`, and pprint's error."""
    stream = io.TextIOWrapper(io.BytesIO(), encoding=encoding)
    stream.write(head)
    with pytest.raises(UnicodeEncodeError) as error:
        pprint.PrettyPrinter(width=200, stream=stream).pprint(value)
    stream.flush()
    return stream.buffer.getvalue(), error.value


@pytest.mark.parametrize("encoding", ["ascii", "latin-1"])
def test_output_that_the_stream_cannot_encode_fails_after_what_pprint_writes(controller, tmp_path, encoding):
    # ASCII fails at 'é', latin-1 only at '€'; both after more than 16 KB of names.
    answer = ["gateway-%04d" % i for i in range(1000)] + ["café", "10 €"]
    stand_in = controller(Scenario(accounts=[Account("admin", "pw")], rules=[
        Rule({"action": "names"}, Reply(json=answer))]))
    config_dir = write_checks(tmp_path, {"names.cfg": "[default]\ndescription = names\n[quorvane]\naction = names\n"})
    done = run_harborsweep("--controller_ip", stand_in.address, "--password", "pw", "--config_dir", config_dir,
                           io_encoding=encoding)
    expected, error = printed_before_the_error("names\n", answer, encoding)
    assert len(expected) > 16_000
    assert done.returncode == 1
    assert done.stdout == expected
    assert error_and_notes(done.stderr)[0] == f"UnicodeEncodeError: {error}"
