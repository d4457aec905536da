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
import subprocess
import sys
import time
from pathlib import Path

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
    print(json.dumps({"ready": True}), flush=True)
    for line in sys.stdin:
        step = line.strip()
        start = time.perf_counter()
        answer = chosen.query(step)
        seconds = time.perf_counter() - start
        print(json.dumps({"seconds": seconds, "check": joins_sorts.checksum(step, answer)}), flush=True)
        del answer


def start(name, system, module_dir, args):
    # One string hash seed for every worker: the text checksums hash strings.
    env = dict(os.environ, POLARS_MAX_THREADS="1", OPENBLAS_NUM_THREADS="1", PYTHONHASHSEED="0")
    command = [sys.executable, __file__, "--serve", system, "--module", module_dir or "", "--scratch",
               args.scratch, "--rows", str(args.rows)]
    worker = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, env=env)
    assert json.loads(worker.stdout.readline())["ready"], name
    return worker


def ask(worker, step):
    worker.stdin.write(step + "\n")
    worker.stdin.flush()
    return json.loads(worker.stdout.readline())


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
    times = {(name, step): [] for name in workers for step in steps}
    for round_ in range(args.rounds):
        for step in steps:
            order = list(workers) if round_ % 2 == 0 else list(reversed(workers))
            checks = {}
            for name in order:
                answer = ask(workers[name], step)
                times[name, step].append(answer["seconds"])
                checks[name] = answer["check"]
            if len({json.dumps(c, sort_keys=True) for c in checks.values()}) != 1:
                print(f"answers differ on {step}: {checks}", file=sys.stderr)
    for worker in workers.values():
        worker.stdin.close()
        worker.wait()
    names = list(workers)
    print("step".ljust(22) + "".join(n.rjust(12) for n in names) + "   ratios of " + names[0] + " (or last build)")
    for step in steps:
        medians = {n: statistics.median(times[n, step]) * 1000 for n in names}
        last = [n for n, system, _ in systems if system == "tabulon"][-1]
        ratios = "  ".join(f"{last}/{n} {medians[last] / medians[n]:.2f}" for n in names if n != last)
        print(step.ljust(22) + "".join(f"{medians[n]:12.1f}" for n in names) + "   " + ratios)


if __name__ == "__main__":
    main()
