#!/usr/bin/env python3
"""A/B timing of the second workload's query steps: two or more tabulon
builds and the one-thread peers, each in its own process holding the
tables loaded once, asked in turn for one run of a step at a time, so that
every system sees the same host from one moment to the next.

Each run is `executeSelect(q).fetchAll()` (the peers' `fetchall` or
`rows`), as bench/joins_sorts.py times it; every system's answer must agree
with the first's in row count and checksum.

Usage: python3 bench/join_ab.py --build old=DIR --build new=DIR
       [--peers duckdb-1t,polars-1t] [--steps a,b] [--rounds 7]
       [--scratch DIR]
DIR holds a built tabulon module (for instance ./build).
"""

import argparse
import json
import os
import statistics
import sys
from pathlib import Path

from bench_common import ONE_THREAD_ENV, ab_rounds, serve_steps, start_worker

HERE = Path(__file__).resolve().parent


def serve(system, module_dir, scratch, rows):
    """Worker: loads the tables, then answers step names read from stdin
    with one line of JSON: seconds and checksum."""
    if module_dir:
        sys.path.insert(0, module_dir)
    sys.path.insert(0, str(HERE))
    import joins_sorts

    chosen = {"tabulon": joins_sorts.Tabulon, "duckdb-1t": lambda: joins_sorts.DuckDB(1),
              "polars-1t": joins_sorts.Polars}[system]()
    chosen.load(joins_sorts.write_data(Path(scratch), rows))
    serve_steps(chosen.query, joins_sorts.checksum)


def start(name, system, module_dir, args):
    # One string hash seed for every worker: the text checksums hash strings.
    env = dict(os.environ, **ONE_THREAD_ENV, PYTHONHASHSEED="0")
    command = [sys.executable, __file__, "--serve", system, "--module", module_dir or "", "--scratch",
               args.scratch, "--rows", str(args.rows)]
    return start_worker(name, command, env)


def compare_checks(step, replies):
    checks = {name: reply["check"] for name, reply in replies.items()}
    if len({json.dumps(c, sort_keys=True) for c in checks.values()}) != 1:
        print(f"answers differ on {step}: {checks}", file=sys.stderr)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", action="append", default=[], help="name=DIR of a tabulon build")
    parser.add_argument("--peers", default="duckdb-1t,polars-1t")
    parser.add_argument("--steps", required=False)
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--rows", type=int, default=1000000)
    parser.add_argument("--scratch", default=str(HERE.parent / "build" / "bench-data"))
    parser.add_argument("--serve")
    parser.add_argument("--module")
    args = parser.parse_args()
    if args.serve:
        serve(args.serve, args.module, args.scratch, args.rows)
        return
    sys.path.insert(0, str(HERE))
    systems = [(name, "tabulon", path) for name, path in (b.split("=", 1) for b in args.build)]
    # joins_sorts imports tabulon, so the peers' workers find the first build.
    systems += [(peer, peer, systems[0][2]) for peer in args.peers.split(",") if peer]
    workers = {name: start(name, system, path, args) for name, system, path in systems}
    steps = args.steps.split(",")
    times = ab_rounds(workers, steps, args.rounds, compare_checks)
    names = list(workers)
    print("step".ljust(22) + "".join(n.rjust(12) for n in names) + "   ratios of " + names[0] + " (or last build)")
    for step in steps:
        medians = {n: statistics.median(times[n, step]) * 1000 for n in names}
        last = [n for n, system, _ in systems if system == "tabulon"][-1]
        ratios = "  ".join(f"{last}/{n} {medians[last] / medians[n]:.2f}" for n in names if n != last)
        print(step.ljust(22) + "".join(f"{medians[n]:12.1f}" for n in names) + "   " + ratios)


if __name__ == "__main__":
    main()
