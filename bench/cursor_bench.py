#!/usr/bin/env python3
"""Times reading every cell of a large query result from Python.

A table of ROWS rows and five columns (long id, categorised string group,
double value, int quantity, date day) is written to a scratch folder, loaded
and selected whole. Every cell is then read

  - through the per-cell getters: setRow per row, then getInt, getString,
    getFloat, getInt and getString per cell (the text of the date),
  - through fetchAll (one call building every row tuple),
  - through iteration (one call per row) and getColumn (one call per column),

and the time per cell is reported in nanoseconds, wall clock and CPU, each
the best of several runs.
All ways must deliver the same values before any time counts.

Usage: PYTHONPATH=build python3 bench/cursor_bench.py [--rows N] [--runs N]
       [--scratch DIR]
"""

import argparse
import csv
import datetime
import gc
import os
import random
import tempfile
import time
from pathlib import Path

import tabulon
from bench_common import load_table, write_once

GROUPS = ["North", "South", "East", "West", "Central", "Harbour", "Hills", "Lakes"]
FIRST_DAY = datetime.date(2000, 1, 1)


def write_table(out, rows):
    rng = random.Random(20240611)
    writer = csv.writer(out, lineterminator="\n")
    writer.writerow(["id", "grp", "val", "qty", "day"])
    for i in range(rows):
        day = FIRST_DAY + datetime.timedelta(days=rng.randrange(9000))
        writer.writerow([i * 7919, rng.choice(GROUPS), round(rng.uniform(-1e6, 1e6), 3),
                         rng.randrange(-50000, 50000), day.isoformat()])


def by_getters(qs):
    rows = []
    for row in range(qs.getNumberOfRows()):
        qs.setRow(row)
        rows.append((qs.getInt(0), qs.getString(1), qs.getFloat(2), qs.getInt(3), qs.getString(4)))
    return rows


def by_columns(qs):
    return list(zip(*(qs.getColumn(col) for col in range(qs.getNumberOfCols()))))


def best_time(action, runs):
    """Best wall-clock and best CPU seconds of `runs` runs, and the last result.
    On a busy machine the CPU time is the steadier of the two."""
    wall = cpu = float("inf")
    result = None
    for _ in range(runs):
        result = None
        gc.collect()
        start, start_cpu = time.perf_counter(), time.process_time()
        result = action()
        wall = min(wall, time.perf_counter() - start)
        cpu = min(cpu, time.process_time() - start_cpu)
    return wall, cpu, result


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=1_000_000)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--scratch", default=None, help="folder for the CSV file (default: a temporary one)")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as temporary:
        scratch = args.scratch or temporary
        os.makedirs(scratch, exist_ok=True)
        path = write_once(Path(scratch) / f"cursor_{args.rows}.csv", lambda out: write_table(out, args.rows))
        db = tabulon.DatabaseParser()
        load_table(db, "c", "id long, grp string cat 1, val double, qty int, day date", path)
        qs = db.executeSelect("select id, grp, val, qty, day from c")
        cells = len(qs) * qs.getNumberOfCols()

        ways = [("per-cell getters", lambda: by_getters(qs)),
                ("fetchAll", qs.fetchAll),
                ("iteration", lambda: list(qs)),
                ("getColumn x5", lambda: by_columns(qs))]
        reference = None
        print(f"{len(qs):,} rows x {qs.getNumberOfCols()} columns = {cells:,} cells")
        print(f"{'':>18}  {'wall ms':>9}  {'ns/cell':>7}  {'cpu ns/cell':>11}")
        for name, action in ways:
            seconds, cpu, rows = best_time(action, args.runs)
            if name == "per-cell getters":
                rows = [(a, b, c, d, datetime.date.fromisoformat(e)) for a, b, c, d, e in rows]
            if reference is None:
                reference = rows
            elif rows != reference:
                raise SystemExit(f"{name} delivered other values than the per-cell getters")
            print(f"{name:>18}: {seconds * 1e3:9.1f}  {seconds * 1e9 / cells:7.1f}  {cpu * 1e9 / cells:11.1f}")


if __name__ == "__main__":
    main()
