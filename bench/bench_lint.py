"""harborsweep-lint: (a) linting a directory of 10,000 generated check files
against configparser merely parsing the same files in Python; (b) the
command's start-up against `harborsweep --help`; (c) importing
harborsweep.harborsweep, which must not load the linter, against the modules
it imports.

(a) The files are a mix as users write them: [default] with a description
(some with `%%`, some over two lines) and a filter path, [quorvane] with an
action and a few fields, some of them interpolated from the section or from a
[DEFAULT] section, comments, and a few chained checks whose output references
lead to other check files or to files in lib/, up to three deep. The linter
(harborsweep._lint.lint([directory])) lists, reads, interpolates and checks
all of them; configparser only parses, as the run does each file
(ConfigParser().read_file(open(path))), every .cfg of the listing and every
referenced file once. Reading the files' bytes from Python, with no parsing
at all, is printed beside them. The time is this process's CPU time; the
collector runs as in use (configparser builds far more objects than the
others) and collects before each turn.

(b) Whole processes, waited for: `harborsweep-lint` on examples/checks and
`harborsweep --help`, through their launchers, with the interpreter's own
start-up (`python -c pass`) as the floor. The target is on the wall clock,
what the user waits for; the children's CPU time is printed beside it.

(c) Each contender is a new interpreter that times one import statement (its
own CPU time) and reports it with what the import loaded: there is no build
without the linter to compare with in the same run, so the import of
harborsweep.harborsweep is printed beside its floor, the modules outside the
package that it loads imported by themselves (requests dominates them,
printed alone too), and beside the import of harborsweep.lint timed alone in
an interpreter that has already imported harborsweep.harborsweep: what the
import would add if the linter loaded with it. The target: no part of the
linter (harborsweep.lint, harborsweep._lint, or its shared object mapped into
the process) is loaded by the import.

(d) `harborsweep-lint --plan --format json` on a chain of 2,000 checks (each
refers to the next), a whole process on the wall clock, against the same
command without --plan (the reading and the findings alone, its floor) and
the interpreter's start-up. Each check's plan holds its own link, so the
output grows with the checks, not with the chains' lengths. The target: at
most 2 s. Beside it, 10,000 checks that each refer to a missing file, every
name of one length, against the same checks referring to one file that is
there (its floor): each missing name is looked for among the directory's,
once listed, within a budget for the directory. The target: at most 2 s.

(e) Ctrl-C: `harborsweep-lint --plan --format json` on the generated
directory of (a), and `harborsweep-lint` on each 10 MB shape of (f), sent
SIGINT at a point drawn from the middle of its work (its run less the
command's start-up); the wait from the signal to the process's end, against
the same wait for an interpreter interrupted in time.sleep() (its floor: the
interpreter's own exit). The target: every round ends within 0.2 s, with
status 130 and one line on standard error.

(f) Check files of 10 MB in the shapes that cost most (lint_shapes.py: a
million options, long runs of "%(", fields that all fail to interpolate, a
large [DEFAULT] value that every field refers to, references that multiply,
chains as long as the file, ...), each linted in a new interpreter that
reports its CPU time and how far its resident memory grew above what it had
before the lint (the peak, reset first); the floor is the same child reading
the file as text and splitting it into lines. Targets: each at most 2 s and
200 MB.

In each part the contenders take turns, the order reversed every other
round; the medians are printed, and each ratio is the median of the rounds'
own ratios.
"""

import configparser
import json
import os
import random
import resource
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from harness import interleaved, ratio, target

from lint_shapes import SHAPES

from harborsweep import _lint

FILES, LINT_ROUNDS = 10_000, 6
SHAPE_ROUNDS, SHAPE_SECONDS, SHAPE_MEGABYTES = 2, 2.0, 200
STARTS, IMPORTS = 12, 10
CHAIN, CHAIN_ROUNDS, CHAIN_TARGET = 2_000, 6, 2.0
MISSING = 10_000
INTERRUPTS, SHAPE_INTERRUPTS, INTERRUPT_TARGET = 12, 2, 0.2
# (a) configparser's time over the linter's; (b) the command's start-up over
# `harborsweep --help`'s.
LINT_SPEED_UP, START_TARGET = 4.0, 1.2

EXAMPLES = Path(__file__).resolve().parent.parent / "examples" / "checks"
LINTER_MODULES = ("harborsweep.lint", "harborsweep._lint")

# (a) The generated directory.

REGIONS = ["us-east-1", "eu-west-2", "ap-south-1", "us-west-2"]
LISTS = [
    ("list_gateways", "results, gw_name & vpc_id & state & ha_gw_name", "Gateways"),
    ("list_tunnels", "results, tunnel_name & status & down_since", "Tunnels"),
    ("list_vpcs", "results, vpc_id & cidr", "VPCs"),
    ("get_controller_version", "results, current_version", "Controller version"),
]


def check_text(i, reference):
    """Check file number `i`; `reference`, if any, is the file its gw_name takes."""
    action, filters, title = LISTS[i % len(LISTS)]
    region = REGIONS[i % len(REGIONS)]
    lines = [f"# Check {i}: {title.lower()} of account {i % 37} in {region}."]
    if i % 5 == 0:
        lines += ["[DEFAULT]", f"account = acct-{i % 37:03d}", f"region = {region}", ""]
    lines.append("[default]")
    if i % 4 == 0:
        lines += [f"description = {title} of check {i}, at most 5%% down", "    (the fleet's own target)"]
    else:
        lines.append(f"description = {title} of check {i}")
    lines.append(f"filters = {filters}" if reference is None else "filters = results, gw_size & state")
    lines += ["", "[quorvane]"]
    if reference is not None:
        lines += ["action = show_gateway", f"gw_name = output({reference})"]
    else:
        lines.append(f"{'Action' if i % 3 == 0 else 'action'} = {action}")
    if i % 5 == 0:
        lines += ["account_name = %(account)s", "vpc_region = %(region)s"]
    else:
        lines.append(f"vpc_region = {region}")
    if i % 2 == 0:
        lines += [f"cloud_type = {1 << (i % 4)}", f"vpc_id = vpc-{i * 7919 % (1 << 32):08x}",
                  "; the name the console shows", "gw_name_prefix = edge-%(vpc_region)s"]
    if i % 7 == 0:
        lines.append(f"page_size: {50 + i % 50}")
    return "\n".join(lines) + "\n"


def write_directory(directory):
    """FILES check files in `directory` and the lists their references lead
    to in lib/; every 50th check is chained, to a list in lib/ or (every
    200th) to the check before it, itself chained to a list: three deep.
    Returns the paths that configparser parses: each .cfg of the listing,
    then each referenced file once."""
    directory = Path(directory)
    (directory / "lib").mkdir()
    lists = []
    for k in range(20):
        name = f"lib/gateway_names_{k:02d}.ini"
        (directory / name).write_text(
            f"# The gateways of account {k}.\n[default]\nfilters = results, gw_name\n\n"
            f"[quorvane]\naction = list_gateways\naccount_name = acct-{k:03d}\n")
        lists.append(name)
    for i in range(FILES):
        reference = None
        if i % 200 == 1:
            reference = f"check_{i - 1:05d}.cfg"
        elif i % 50 == 0:
            reference = lists[i // 50 % len(lists)]
        (directory / f"check_{i:05d}.cfg").write_text(check_text(i, reference))
    listed = [os.path.join(directory, name) for name in os.listdir(directory) if name.endswith(".cfg")]
    return listed + [str(directory / name) for name in lists]


def parse_with_configparser(paths):
    for path in paths:
        config = configparser.ConfigParser()
        with open(path) as file:
            config.read_file(file)


def read_bytes(paths):
    for path in paths:
        with open(path, "rb") as file:
            file.read()


def lint_figures():
    with tempfile.TemporaryDirectory() as scratch:
        paths = write_directory(scratch)
        findings = _lint.lint([scratch])
        if findings:
            raise SystemExit(f"(a) the generated checks should lint clean: {findings[:3]}")
        times = interleaved({
            "configparser": lambda: parse_with_configparser(paths),
            "lint": lambda: _lint.lint([scratch]),
            "bytes": lambda: read_bytes(paths),
        }, LINT_ROUNDS, collector="running", clock=time.thread_time)
    parse, lint, raw = (times[name].median for name in ("configparser", "lint", "bytes"))
    speed_up = ratio(times["configparser"], times["lint"])
    print(f"(a) {FILES:,} generated check files (+ {len(paths) - FILES} referenced), "
          f"{LINT_ROUNDS} rounds in turns, collector running: median CPU time")
    print(f"    configparser, parsing only:              {parse * 1e3:7.1f} ms")
    print(f"    reading the bytes, no parsing:           {raw * 1e3:7.1f} ms")
    print(f"    harborsweep._lint.lint([directory]):     {lint * 1e3:7.1f} ms"
          f"  ({speed_up:.2f}x faster than configparser, target at least {LINT_SPEED_UP:.1f}x;"
          f" {ratio(times['lint'], times['bytes']):.2f}x the bytes' reading)")
    return speed_up


# (b) The command's start-up.

def children_cpu_time():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def start_figures(scratch):
    bin_dir = Path(sys.executable).parent
    commands = {
        "pass": [sys.executable, "-c", "pass"],
        "lint": [str(bin_dir / "harborsweep-lint"), str(EXAMPLES)],
        "help": [str(bin_dir / "harborsweep"), "--help"],
    }
    if subprocess.run(commands["lint"], cwd=scratch, capture_output=True).returncode != 0:
        raise SystemExit(f"(b) {EXAMPLES} should lint clean")
    cpu = {name: [] for name in commands}

    def started(name):
        def start():
            before = children_cpu_time()
            subprocess.run(commands[name], cwd=scratch, check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            cpu[name].append(children_cpu_time() - before)
        return start

    times = interleaved({name: started(name) for name in commands}, STARTS, collector="running")
    # The untimed first turn of each is left out of its CPU times too.
    cpu = {name: values[1:] for name, values in cpu.items()}
    over_help = ratio(times["lint"], times["help"])
    print(f"(b) start-up, whole processes through the launchers, {STARTS} rounds in turns: median wall"
          " clock (children's CPU time)")
    for name, label in (("pass", "python -c pass (floor)"), ("help", "harborsweep --help"),
                        ("lint", f"harborsweep-lint {EXAMPLES.parent.name}/{EXAMPLES.name}")):
        print(f"    {label + ':':<40} {times[name].median * 1e3:7.1f} ms"
              f"  ({statistics.median(cpu[name]) * 1e3:5.1f} ms)")
    print(f"    harborsweep-lint over harborsweep --help: {over_help:.2f}x wall (target at most"
          f" {START_TARGET}x), {ratio(cpu['lint'], cpu['help']):.2f}x CPU; over the floor:"
          f" {ratio(times['lint'], times['pass']):.1f}x")
    return over_help


# (c) Importing harborsweep.harborsweep.

IMPORT_CHILD = """\
import sys, time
{preamble}
before = set(sys.modules)
start = time.process_time()
{statement}
seconds = time.process_time() - start
loaded = [m for m in sys.modules if m not in before]
import json
try:
    with open("/proc/self/maps") as maps:
        mapped = [line.split()[-1] for line in maps if "/_lint." in line]
except OSError:
    mapped = []
print(json.dumps({{"seconds": seconds, "loaded": loaded, "mapped": sorted(set(mapped))}}))
"""


def import_report(statement, scratch, preamble=""):
    child = IMPORT_CHILD.format(statement=statement, preamble=preamble)
    done = subprocess.run([sys.executable, "-c", child],
                          cwd=scratch, check=True, capture_output=True, text=True)
    return json.loads(done.stdout)


class ReportedClock:
    """The clock that interleaved() reads around each turn: the sum of the
    import times the children reported, so that each turn counts the import
    alone, not the interpreter's start-up around it."""

    def __init__(self):
        self.total = 0.0

    def __call__(self):
        return self.total


def import_figures(scratch):
    loaded = import_report("import harborsweep.harborsweep", scratch)["loaded"]
    dependencies = [name for name in loaded if name.split(".")[0] != "harborsweep"]
    statements = {
        # A few are no modules to import by name (cython_runtime, which a Cython
        # extension registers); each loads with its package.
        "dependencies": ("import importlib\nfor name in %r:\n    try:\n        importlib.import_module(name)\n"
                         "    except ImportError:\n        pass" % dependencies),
        "requests": "import requests",
        "harborsweep": "import harborsweep.harborsweep",
        "linter": "import harborsweep.lint",
    }
    # The linter's own load, timed alone, after harborsweep.harborsweep (and
    # so requests, argparse and the rest) is loaded.
    preambles = {"linter": "import harborsweep.harborsweep"}
    clock = ReportedClock()
    unwanted = set()

    def imported(name):
        def run():
            report = import_report(statements[name], scratch, preambles.get(name, ""))
            clock.total += report["seconds"]
            if name == "harborsweep":
                unwanted.update(m for m in report["loaded"] if m in LINTER_MODULES)
                unwanted.update(report["mapped"])
        return run

    times = interleaved({name: imported(name) for name in statements}, IMPORTS,
                        collector="running", clock=clock)
    own = ratio(times["harborsweep"], times["dependencies"])
    print(f"(c) one import statement in a new interpreter, {IMPORTS} rounds in turns: median CPU time"
          " of the statement")
    floor = f"the {len(dependencies)} modules it loads, alone (floor):"
    print(f"    {'import requests:':<44} {times['requests'].median * 1e3:6.1f} ms")
    print(f"    {floor:<44} {times['dependencies'].median * 1e3:6.1f} ms")
    print(f"    {'import harborsweep.harborsweep:':<44} {times['harborsweep'].median * 1e3:6.1f} ms"
          f"  ({own:.2f}x the floor, {ratio(times['harborsweep'], times['requests']):.2f}x requests)")
    print(f"    {'then import harborsweep.lint, timed alone:':<44} {times['linter'].median * 1e3:6.1f} ms"
          f"  (+{ratio(times['linter'], times['harborsweep']):.1%}: what loading the linter with it would"
          " add)")
    return sorted(unwanted), own


# (d) The plan of a long chain.

def chain_figures(scratch):
    directory = Path(scratch, "chain")
    directory.mkdir()
    for i in range(CHAIN):
        link = f"i = output(c{i + 1:04d}.cfg)\n" if i + 1 < CHAIN else ""
        (directory / f"c{i:04d}.cfg").write_text(
            f"[default]\ndescription = Check {i}\nfilters = results, gw_name\n"
            f"[quorvane]\naction = show_gateway\n{link}")
    # Checks that each refer to a file of their own that is missing, every name of
    # one length, and the same checks referring to one file that is there.
    missing, present = Path(scratch, "missing"), Path(scratch, "present")
    for folder, target in ((missing, "m{i:05d}.cfg"), (present, "there.cfg")):
        folder.mkdir()
        for i in range(MISSING):
            (folder / f"c{i:05d}.cfg").write_text(
                f"[quorvane]\naction = show\ni = output({target.format(i=i)})\n")
    (present / "there.cfg").write_text("[quorvane]\naction = list\n")
    lint = str(Path(sys.executable).parent / "harborsweep-lint")
    size = len(subprocess.run([lint, "--plan", "--format", "json", str(directory)],
                              capture_output=True, check=True).stdout)
    commands = {
        "pass": [sys.executable, "-c", "pass"],
        "lint": [lint, str(directory)],
        "plan": [lint, "--plan", "--format", "json", str(directory)],
        "present": [lint, str(present)],
        "missing": [lint, str(missing)],
    }
    # The missing references are errors: that lint ends with status 1.
    times = interleaved({name: lambda command=command, name=name: subprocess.run(
        command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=name != "missing")
        for name, command in commands.items()},
        CHAIN_ROUNDS, collector="running")
    plan = times["plan"].median
    print(f"(d) a chain of {CHAIN:,} checks, whole processes, {CHAIN_ROUNDS} rounds in turns: median wall"
          " clock")
    print(f"    python -c pass (floor):                    {times['pass'].median * 1e3:7.1f} ms")
    print(f"    harborsweep-lint, the findings (floor):    {times['lint'].median * 1e3:7.1f} ms")
    print(f"    harborsweep-lint --plan --format json:     {plan * 1e3:7.1f} ms"
          f"  ({ratio(times['plan'], times['lint']):.2f}x the findings; {size / 1e6:.1f} MB written)")
    print(f"    {MISSING:,} checks referring to one file there (floor): {times['present'].median * 1e3:7.1f} ms")
    print(f"    {MISSING:,} checks, each referring to a missing one:   {times['missing'].median * 1e3:7.1f} ms"
          f"  ({ratio(times['missing'], times['present']):.2f}x the floor)")
    return max(times["plan"]), max(times["missing"])


# (e) Ctrl-C.

def interrupted(command, after):
    """Starts `command`, sends SIGINT `after` seconds on, and returns the wait
    from the signal to the end, the status and standard error."""
    child = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    time.sleep(after)
    sent = time.perf_counter()
    child.send_signal(signal.SIGINT)
    child.wait()
    waited = time.perf_counter() - sent
    return waited, child.returncode, child.stderr.read().decode(errors="replace")


def timed_run(command):
    start = time.perf_counter()
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def interrupt_rounds(command, rounds, rng, start_up):
    """Sends SIGINT to `command` `rounds` times, at a point drawn from 20% to
    70% of its work (its run less the start-up); returns the waits, what was
    not as wanted, and how many rounds were drawn again."""
    timed_run(command)  # warms the page cache
    whole = statistics.median(timed_run(command) for _ in range(3))
    work = max(whole - start_up, 0.0)
    waits, troubles, finished = [], [], 0
    while len(waits) < rounds:
        waited, status, err = interrupted(command, start_up + work * rng.uniform(0.2, 0.7))
        if status in (0, 1) and "Traceback" not in err and "interrupted" not in err \
                and waited <= INTERRUPT_TARGET and finished < rounds:
            # A busy machine's run can end before the drawn point: the signal then
            # came after the work, while the interpreter was ending (one ignored
            # in the work would have let it run on, past the target). Drawn again.
            finished += 1
            continue
        waits.append(waited)
        if status != 130 or err.count("\n") != 1:
            troubles.append(f"status {status}, standard error {err!r}")
    return waits, troubles, finished


def interrupt_figures(scratch):
    directory = Path(scratch, "checks")
    directory.mkdir()
    write_directory(directory)
    lint = str(Path(sys.executable).parent / "harborsweep-lint")
    empty = Path(scratch, "empty.cfg")
    empty.write_text("")
    start_up = statistics.median(timed_run([lint, str(empty)]) for _ in range(3))
    rng = random.Random(36)
    waits, troubles, finished = interrupt_rounds(
        [lint, "--plan", "--format", "json", str(directory)], INTERRUPTS, rng, start_up)
    # The floor's interpreter is let start up first, so that its handler for SIGINT is in place.
    sleeper = [sys.executable, "-c", "import time; time.sleep(60)"]
    floor = [interrupted(sleeper, 0.3)[0] for _ in range(INTERRUPTS)]
    shape_waits = {}
    shape = Path(scratch, "shape.cfg")
    for name, make in SHAPES.items():
        shape.write_text(make())
        shape_waits[name], more, drawn = interrupt_rounds([lint, str(shape)], SHAPE_INTERRUPTS, rng,
                                                          start_up)
        troubles += [f"{name}: {trouble}" for trouble in more]
        finished += drawn
    slowest = max(shape_waits, key=lambda name: max(shape_waits[name]))
    every_shape = [wait for name in shape_waits for wait in shape_waits[name]]
    print(f"(e) Ctrl-C in `harborsweep-lint --plan --format json` on the {FILES:,} checks of (a)"
          f" ({INTERRUPTS} rounds), and in `harborsweep-lint` on each 10 MB shape of (f)"
          f" ({SHAPE_INTERRUPTS} rounds each): wait from SIGINT to the end")
    print(f"    python interrupted in time.sleep (floor):  median {statistics.median(floor) * 1e3:6.1f} ms,"
          f" longest {max(floor) * 1e3:6.1f} ms")
    print(f"    harborsweep-lint, the {FILES:,} checks:     median {statistics.median(waits) * 1e3:6.1f} ms,"
          f" longest {max(waits) * 1e3:6.1f} ms")
    print(f"    harborsweep-lint, the shapes:              median {statistics.median(every_shape) * 1e3:6.1f} ms,"
          f" longest {max(shape_waits[slowest]) * 1e3:6.1f} ms ({slowest})")
    if finished:
        print(f"    ({finished} more rounds had ended before the signal, and were drawn again)")
    for trouble in troubles:
        print(f"    NOT as wanted: {trouble}")
    return max(waits + every_shape), not troubles


# (f) Files of 10 MB in costly shapes.

SHAPE_CHILD = """\
import sys, time
from harborsweep import _lint

def status(key):
    with open("/proc/self/status") as lines:
        return next(int(line.split()[1]) for line in lines if line.startswith(key))

path, what = sys.argv[1:]
with open("/proc/self/clear_refs", "w") as peak:
    peak.write("5")  # the peak resident size starts again from here
before = status("VmRSS:")
start = time.process_time()
if what == "lint":
    _lint.lint([path])
else:
    with open(path, errors="replace") as text:
        text.read().splitlines()
print(time.process_time() - start, (status("VmHWM:") - before) / 1024)
"""


def shape_run(path, what):
    done = subprocess.run([sys.executable, "-c", SHAPE_CHILD, path, what],
                          check=True, capture_output=True, text=True)
    seconds, megabytes = (float(x) for x in done.stdout.split())
    return seconds, megabytes


def shape_figures(scratch):
    print("(f) files of 10 MB in costly shapes, each in a new interpreter, "
          f"{SHAPE_ROUNDS} rounds in turns with the floor (reading the text and splitting its lines):"
          " median CPU time, memory grown")
    worst_time = worst_memory = 0.0
    for name, make in SHAPES.items():
        path = os.path.join(scratch, "shape.cfg")
        with open(path, "w") as file:
            file.write(make())
        memory = {"lint": [], "floor": []}

        def measured(what):
            def run():
                seconds, megabytes = shape_run(path, what)
                clock.total += seconds
                memory[what].append(megabytes)
            return run

        clock = ReportedClock()
        times = interleaved({"lint": measured("lint"), "floor": measured("floor")}, SHAPE_ROUNDS,
                            collector="running", clock=clock)
        seconds, megabytes = times["lint"].median, max(memory["lint"])
        worst_time, worst_memory = max(worst_time, seconds), max(worst_memory, megabytes)
        print(f"    {name + ':':<32} {seconds:5.2f} s {megabytes:6.0f} MB"
              f"  (floor {times['floor'].median:4.2f} s {max(memory['floor']):4.0f} MB;"
              f" {ratio(times['lint'], times['floor']):4.1f}x its time)")
    return worst_time, worst_memory


def main():
    print(f"harborsweep-lint, Python {sys.version.split()[0]}; ratios are the median of the rounds' own")
    speed_up = lint_figures()
    with tempfile.TemporaryDirectory() as scratch:
        over_help = start_figures(scratch)
        unwanted, own = import_figures(scratch)
        chain, missing = chain_figures(scratch)
        longest_wait, one_line = interrupt_figures(scratch)
        worst_time, worst_memory = shape_figures(scratch)
    target(f"(a) linting at least {LINT_SPEED_UP:.1f}x faster than configparser's parsing ({speed_up:.2f}x)",
           speed_up >= LINT_SPEED_UP)
    target(f"(b) harborsweep-lint starts within {START_TARGET}x harborsweep --help ({over_help:.2f}x)",
           over_help <= START_TARGET)
    target("(c) importing harborsweep.harborsweep loads no part of the linter "
           f"({', '.join(unwanted) if unwanted else 'none loaded'}; the import at {own:.2f}x its floor)",
           not unwanted)
    target(f"(d) the plan of a {CHAIN:,}-check chain within {CHAIN_TARGET:.0f} s (longest round "
           f"{chain:.2f} s)", chain <= CHAIN_TARGET)
    target(f"(d) {MISSING:,} missing references within {CHAIN_TARGET:.0f} s (longest round "
           f"{missing:.2f} s)", missing <= CHAIN_TARGET)
    target(f"(e) Ctrl-C ends the lint within {INTERRUPT_TARGET} s, status 130, one line (longest "
           f"{longest_wait * 1e3:.0f} ms)", longest_wait <= INTERRUPT_TARGET and one_line)
    target(f"(f) every 10 MB shape linted in at most {SHAPE_SECONDS} s and {SHAPE_MEGABYTES} MB "
           f"(at most {worst_time:.2f} s and {worst_memory:.0f} MB)",
           worst_time <= SHAPE_SECONDS and worst_memory <= SHAPE_MEGABYTES)


if __name__ == "__main__":
    main()
