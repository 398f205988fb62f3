"""filter_results against a plain-Python version of the same algorithm.

The answer is shaped like a controller's list answer: 10,000 records of about
15 members, with nested objects and arrays. Each path is timed for both
versions in the same run (best of several repeats) and the ratio is printed.
"""
import random
import sys
import timeit

from harborsweep.harborsweep import filter_results

RECORDS = 10_000
REPEATS = 7
TARGET = 10.0

PATHS = [
    ["results", "gw_name"],
    ["results", "gw_name & vpc_id & cloud_type"],
    ["results", "tags", "zone"],
    ["results", "security & vpc_state & missing_member"],
    ["results", "tunnels & gw_name", "gw_name"],
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


def best(function, *args):
    return min(timeit.repeat(lambda: function(*args), number=1, repeat=REPEATS))


def main():
    rng = random.Random(20240601)
    answer = {"return": True, "results": [record(rng, i) for i in range(RECORDS)]}
    print(f"filter_results vs plain Python, {RECORDS} records, best of {REPEATS}")
    native_total = python_total = 0.0
    for path in PATHS:
        assert filter_results(answer, path) == python_filter_results(answer, path)
        native, python = best(filter_results, answer, path), best(python_filter_results, answer, path)
        native_total += native
        python_total += python
        shown = ", ".join(path)
        print(f"  ({shown}){'':<{48 - len(shown)}} native {native * 1e3:7.3f} ms"
              f"  python {python * 1e3:7.3f} ms  ratio {python / native:6.1f}x")
    ratio = python_total / native_total
    verdict = "met" if ratio >= TARGET else "NOT met"
    print(f"overall ratio {ratio:.1f}x (target {TARGET:.0f}x: {verdict})")
    print_floor(answer["results"])
    return 0


def print_floor(rows):
    """What the dict work alone costs: comprehensions that only look up and
    build, with no path handling at all. No evaluation over CPython dicts can
    go below these."""
    keys = ("gw_name", "vpc_id", "cloud_type")
    floors = [
        ("results, gw_name", ["results", "gw_name"], lambda: [r["gw_name"] for r in rows]),
        ("results, gw_name & vpc_id & cloud_type", ["results", "gw_name & vpc_id & cloud_type"],
         lambda: [{k: r[k] for k in keys} for r in rows]),
    ]
    answer = {"results": rows}
    for shown, path, floor in floors:
        native = best(filter_results, answer, path)
        bare = min(timeit.repeat(floor, number=1, repeat=REPEATS))
        print(f"  floor ({shown}){'':<{41 - len(shown)}} native {native * 1e3:7.3f} ms"
              f"  bare comprehension {bare * 1e3:7.3f} ms  native/floor {native / bare:4.2f}")


if __name__ == "__main__":
    sys.exit(main())
