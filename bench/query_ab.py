#!/usr/bin/env python3
"""A/B timing of the first workload's query steps: two or more tabulon
builds, each in its own process holding the tables loaded once (`cat`
numbers), asked in turn for one run of a step at a time, the order of the
builds reversed every other round, so that every build sees the same host
from one moment to the next.

Each run is compare.py's Tabulon.query(step), as the first workload times
it.

Usage: python3 bench/query_ab.py --build old=DIR --build new=DIR
       [--steps a,b] [--rounds 21] [--scratch DIR]
DIR holds a built tabulon module (for instance ./build).
"""

import argparse
import json
import statistics
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
QUERY_STEPS = "eq_region,range_amount,three_cond,three_cond_sorted,join_city,read_100k"


def serve(module_dir, scratch, rows):
    """Worker: loads the tables, then answers step names read from stdin
    with one line of JSON: seconds."""
    sys.path.insert(0, module_dir)
    sys.path.insert(0, str(HERE))
    import compare

    system = compare.Tabulon()
    fact, stores = compare.write_data(Path(scratch), rows)
    system.load("load_cat", fact, stores)
    print(json.dumps({"ready": True}), flush=True)
    for line in sys.stdin:
        start = time.perf_counter()
        answer = system.query(line.strip())
        print(json.dumps({"seconds": time.perf_counter() - start}), flush=True)
        del answer


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", action="append", default=[], help="name=DIR of a tabulon build")
    parser.add_argument("--steps", default=QUERY_STEPS)
    parser.add_argument("--rounds", type=int, default=21)
    parser.add_argument("--rows", type=int, default=1000000)
    parser.add_argument("--scratch", default=str(HERE.parent / "build" / "bench-data"))
    parser.add_argument("--serve")
    args = parser.parse_args()
    if args.serve:
        serve(args.serve, args.scratch, args.rows)
        return
    workers = {}
    for name, path in (b.split("=", 1) for b in args.build):
        command = [sys.executable, __file__, "--serve", path, "--scratch", args.scratch, "--rows", str(args.rows)]
        workers[name] = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        assert json.loads(workers[name].stdout.readline())["ready"], name
    steps = args.steps.split(",")
    times = {(name, step): [] for name in workers for step in steps}
    for round_ in range(args.rounds):
        for step in steps:
            for name in (list(workers) if round_ % 2 == 0 else list(reversed(workers))):
                workers[name].stdin.write(step + "\n")
                workers[name].stdin.flush()
                times[name, step].append(json.loads(workers[name].stdout.readline())["seconds"])
    for worker in workers.values():
        worker.stdin.close()
        worker.wait()
    names = list(workers)
    print("step".ljust(20) + "".join(n.rjust(10) for n in names) + f"   {names[-1]}/{names[0]}")
    for step in steps:
        medians = {n: statistics.median(times[n, step]) * 1000 for n in names}
        print(step.ljust(20) + "".join(f"{medians[n]:10.2f}" for n in names)
              + f"   {medians[names[-1]] / medians[names[0]]:.2f}")


if __name__ == "__main__":
    main()
