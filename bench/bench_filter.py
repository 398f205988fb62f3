"""filter_results against the floor of its work and against a plain-Python
version of the same algorithm.

The answer is shaped like a controller's list answer: 10,000 records of about
15 members, with nested objects and arrays. For each path the three contenders
take turns over ROUNDS rounds, with the garbage collector paused (they build
the same lists and dicts). The median CPU time of each is printed, and each
ratio is the median of the rounds' own ratios.

The floor does each step of the path as one bare comprehension (a dict display
for a multi-key step), building the very lists and dicts that the step gives:
no evaluation of the path over CPython dicts, native or not, goes much below
it (native code may dip a little below, skipping the interpreter's dispatch).
So the target holds native to the floor. Plain Python is printed beside it,
and how far it is from the floor says how much faster than it native can be.
"""
import random
import sys
import time

from harness import interleaved, ratio, target

from harborsweep.harborsweep import filter_results

RECORDS = 10_000
ROUNDS = 30
# Native's time against the floor's, on every path.
TARGET = 1.25

# Each path, with its floor: the path's steps as bare comprehensions.
PATHS = [
    (["results", "gw_name"],
     lambda answer: [r["gw_name"] for r in answer["results"]]),
    (["results", "gw_name & vpc_id & cloud_type"],
     lambda answer: [{"gw_name": r["gw_name"], "vpc_id": r["vpc_id"], "cloud_type": r["cloud_type"]}
                     for r in answer["results"]]),
    (["results", "tags", "zone"],
     lambda answer: [tags["zone"] for tags in [r["tags"] for r in answer["results"]]]),
    (["results", "security & vpc_state & missing_member"],
     lambda answer: [{"security": r["security"], "vpc_state": r["vpc_state"],
                      "missing_member": r.get("missing_member", "FILTER_NOT_FOUND")}
                     for r in answer["results"]]),
    (["results", "tunnels & gw_name", "gw_name"],
     lambda answer: [pair["gw_name"] for pair in
                     [{"tunnels": r["tunnels"], "gw_name": r["gw_name"]} for r in answer["results"]]]),
]


def python_filter_results(results, filters):
    if not filters:
        return results
    current_filter = filters[0]
    remaining_filters = filters[1:]
    split_filters = [item.strip() for item in current_filter.split("&")]
    if isinstance(results, list):
        new_results = []
        for result in results:
            if len(split_filters) > 1:
                new_dict = {}
                for key in split_filters:
                    try:
                        new_dict[key] = result[key]
                    except KeyError:
                        new_dict[key] = "FILTER_NOT_FOUND"
                new_results.append(new_dict)
            else:
                new_results.append(result[split_filters[0]])
    elif isinstance(results, dict):
        new_results = {}
        if len(split_filters) > 1:
            for key in split_filters:
                try:
                    new_results[key] = results[key]
                except KeyError:
                    new_results[key] = "FILTER_NOT_FOUND"
        else:
            try:
                new_results[current_filter] = results[current_filter]
            except KeyError:
                new_results[current_filter] = "FILTER_NOT_FOUND"
            new_results = new_results[current_filter]
    else:
        return None
    return python_filter_results(new_results, remaining_filters)


def record(rng, i):
    return {
        "gw_name": f"edge-gw-{i:05d}",
        "vpc_id": f"vpc-{rng.getrandbits(48):012x}",
        "cloud_type": rng.choice([1, 4, 8, 16]),
        "account_name": f"account-{i % 37}",
        "vpc_region": rng.choice(["us-east-1", "eu-west-2", "ap-south-1"]),
        "gw_size": rng.choice(["t3.small", "c5.xlarge"]),
        "public_ip": f"203.0.{i // 256 % 256}.{i % 256}",
        "private_ip": f"10.{i // 65536 % 256}.{i // 256 % 256}.{i % 256}",
        "vpc_state": rng.choice(["up", "down", "waiting"]),
        "enable_nat": rng.random() < 0.5,
        "cidr": "10.0.0.0/16",
        "tunnel_count": rng.randint(0, 8),
        "security": {"groups": [f"sg-{rng.getrandbits(32):08x}" for _ in range(3)], "inspection": False},
        "tags": {"zone": rng.choice("abc"), "owner": "netops", "cost_center": i % 11},
        "tunnels": [{"peer": f"edge-gw-{(i + k) % RECORDS:05d}", "status": "up"} for k in range(2)],
    }


def main():
    rng = random.Random(20240601)
    answer = {"return": True, "results": [record(rng, i) for i in range(RECORDS)]}
    print(f"filter_results, {RECORDS:,} records, {ROUNDS} rounds in turns, collector paused:"
          " median CPU time; ratios are the median of the rounds' own")
    print(f"  {'path':<46} {'floor':>9} {'native':>9} {'python':>9}  {'native/floor':>12}  {'python/native':>13}")
    worst, python_over_floor = 0.0, []
    for path, floor in PATHS:
        expected = filter_results(answer, path)
        assert python_filter_results(answer, path) == expected and floor(answer) == expected, path
        times = interleaved({
            "floor": lambda: floor(answer),
            "native": lambda: filter_results(answer, path),
            "python": lambda: python_filter_results(answer, path),
        }, ROUNDS, collector="paused", clock=time.thread_time)
        native_over_floor = ratio(times["native"], times["floor"])
        worst = max(worst, native_over_floor)
        python_over_floor.append(ratio(times["python"], times["floor"]))
        print(f"  {', '.join(path):<46} {times['floor'].median * 1e3:6.3f} ms {times['native'].median * 1e3:6.3f} ms"
              f" {times['python'].median * 1e3:6.3f} ms  {native_over_floor:11.2f}x"
              f"  {ratio(times['python'], times['native']):12.1f}x")
    target(f"native at most {TARGET}x the floor on every path (worst {worst:.2f}x)", worst <= TARGET)
    print(f"  no target against plain Python: it takes {min(python_over_floor):.1f}x to"
          f" {max(python_over_floor):.1f}x the floor's time, which bounds how much faster than it"
          " native can be near the floor (10x is out of reach)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
