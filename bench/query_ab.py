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
import statistics
import sys
from pathlib import Path

from bench_common import ab_rounds, serve_steps, start_worker

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
    serve_steps(system.query)


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
        workers[name] = start_worker(name, command)
    steps = args.steps.split(",")
    times = ab_rounds(workers, steps, args.rounds)
    names = list(workers)
    print("step".ljust(20) + "".join(n.rjust(10) for n in names) + f"   {names[-1]}/{names[0]}")
    for step in steps:
        medians = {n: statistics.median(times[n, step]) * 1000 for n in names}
        print(step.ljust(20) + "".join(f"{medians[n]:10.2f}" for n in names)
              + f"   {medians[names[-1]] / medians[names[0]]:.2f}")


if __name__ == "__main__":
    main()
