#!/usr/bin/env python3
"""The first workload's `cat` load at 10,000,000 rows (about 600 MB): tabulon
against DuckDB (read_csv into a table) and polars (read_csv), every system on
its default threads, each load in a fresh process of its own so that its
peak memory is its own: the process's peak resident set (VmHWM) after
the load, less its peak after its imports. Each system ends with the data
loaded and its row count checked. The target: tabulon's median time within
1.2x of the faster peer's.

compare.py runs it as its fourth workload. `python3 big_load.py SYSTEM FILE
COLUMNS` is one measured load (COLUMNS: tabulon's column definitions), its
figures printed as one JSON line; only that system's library is imported.
"""

import gc
import json
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from bench_common import ONE_THREAD_ENV, Seconds, load_table, milliseconds, targets_line

ROWS = 10_000_000
# Rounds of one load per system, the systems taking turns.
RUNS = 3
SYSTEMS = ("tabulon", "duckdb", "polars")
STEP = "load_big"
LABEL = "load 10,000,000 rows, tabulon `cat` numbers, default threads"
TARGET_RATIO = 1.2
# The most threads tabulon takes by default, and the setting that changes it.
TABULON_DEFAULT_THREADS_CAP = 8
TABULON_THREADS_SETTING = "threads"


# ---------------------------------------------------------------- one load

def peak_kib():
    """The peak resident set of this process's own memory so far, in KiB:
    VmHWM, which starts afresh at exec. (ru_maxrss keeps the peak of the
    forked parent, the whole bench, so a load below it would show none.)"""
    for line in Path("/proc/self/status").read_text().splitlines():
        if line.startswith("VmHWM:"):
            return int(line.split()[1])
    raise RuntimeError("no VmHWM in /proc/self/status")


def configured_threads(config=".tbconfig"):
    """tabulon's `threads` setting in the working directory's .tbconfig,
    else its default: the cores this process may use, at most 8."""
    try:
        for line in Path(config).read_text().splitlines():
            name, _, value = line.partition("=")
            if name.strip() == TABULON_THREADS_SETTING and not line.lstrip().startswith("#"):
                return int(value)
    except OSError:
        pass
    return min(len(os.sched_getaffinity(0)), TABULON_DEFAULT_THREADS_CAP)


def tabulon_threads(tabulon):
    """The threads tabulon's loads ran on: the configured ones, or one for a
    module that has no `threads` setting (it refuses the name). Asked in a
    scratch directory, after the timed load: asking sets the setting again,
    to the same value."""
    threads = configured_threads()
    with tempfile.TemporaryDirectory() as scratch:
        (Path(scratch) / ".tbconfig").write_text(f"{TABULON_THREADS_SETTING}={threads}\n")
        here = os.getcwd()
        os.chdir(scratch)
        try:
            tabulon.DatabaseParser()
        except RuntimeError as error:
            if "Unknown .tbconfig parameter" not in str(error):
                raise
            threads = 1
        finally:
            os.chdir(here)
    return threads


def tabulon_load(path, columns):
    import tabulon

    def load():
        db = tabulon.DatabaseParser()
        load_table(db, "fact", columns, path)
        return db

    def rows(db):
        return db.executeSelect("select id from fact").getNumberOfRows()

    return load, rows, lambda db: tabulon_threads(tabulon)


def duckdb_load(path, columns):
    import duckdb

    def load():
        con = duckdb.connect(":memory:")
        con.execute(f"create table fact as select * from read_csv('{path}')")
        return con

    def rows(con):
        return con.execute("select count(*) from fact").fetchone()[0]

    def threads(con):
        return int(con.execute("select current_setting('threads')").fetchone()[0])

    return load, rows, threads


def polars_load(path, columns):
    import polars as pl

    return lambda: pl.read_csv(path, try_parse_dates=True), lambda frame: frame.height, lambda frame: pl.thread_pool_size()


LOADS = {"tabulon": tabulon_load, "duckdb": duckdb_load, "polars": polars_load}


def measure(system, path, columns):
    """One timed load of `system` in this process: seconds, rows loaded,
    peak memory above the imports' (KiB) and threads used."""
    load, rows, threads = LOADS[system](path, columns)
    gc.collect()
    baseline = peak_kib()
    start = time.perf_counter()
    data = load()
    seconds = time.perf_counter() - start
    peak = peak_kib()
    return {"seconds": seconds, "rows": rows(data), "memory_kib": peak - baseline, "threads": threads(data)}


# ---------------------------------------------------------------- the bench

def load_in_child(system, path, columns):
    """measure() in a fresh interpreter, on the peers' default threads: the
    limits compare.py sets for its own peers are left out of its
    environment."""
    env = {k: v for k, v in os.environ.items() if k not in ONE_THREAD_ENV}
    done = subprocess.run([sys.executable, __file__, system, str(path), columns], env=env,
                          capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError(f"{system} load failed: {done.stderr.strip().splitlines()[-1:]}")
    return json.loads(done.stdout)


def warm(path):
    """Reads the file once, so that every timed load finds it in the page cache."""
    with open(path, "rb") as source:
        while source.read(1 << 24):
            pass


def run(fact, columns, runs=RUNS):
    """Times RUNS loads of `fact` per system. Returns the medians
    {STEP: {name: Seconds}}, the rows loaded as checksums, failures (a load that failed or loaded another
    number of rows), and each system's threads and largest
    peak memory (MiB) by name. A peer's name carries its thread count;
    tabulon's is "tabulon", its threads in the details."""
    warm(fact)
    figures = {system: [] for system in SYSTEMS}
    failures = {}
    for _ in range(runs):
        for system in SYSTEMS:
            print(f"-- {system} (10,000,000-row load)", file=sys.stderr, flush=True)
            if system in failures.get(STEP, {}):
                continue
            try:
                figure = load_in_child(system, fact, columns)
            except RuntimeError as error:
                failures.setdefault(STEP, {})[system] = str(error)
                continue
            if figure["rows"] != ROWS:
                failures.setdefault(STEP, {})[system] = f"loaded {figure['rows']:,} rows of {ROWS:,}"
                continue
            figures[system].append(figure)
    medians, checks, details = {STEP: {}}, {STEP: {}}, {}
    for system, runs_done in figures.items():
        if not runs_done:
            continue
        threads = runs_done[-1]["threads"]
        name = system if system == "tabulon" else f"{system}-{threads}t"
        medians[STEP][name] = Seconds([f["seconds"] for f in runs_done])
        checks[STEP][name] = {"rows": ROWS}
        details[name] = {"threads": threads, "peak_mib": max(f["memory_kib"] for f in runs_done) / 1024}
    return medians, checks, failures, details


def targets(medians):
    """tabulon's median within TARGET_RATIO times the faster peer's."""
    peers = [seconds for name, seconds in medians[STEP].items() if name != "tabulon"]
    ours = medians[STEP].get("tabulon")
    met = None if ours is None or not peers else ours <= TARGET_RATIO * min(peers)
    return {f"{STEP}: within {TARGET_RATIO}x of the faster of DuckDB and polars": met}


def lines(medians, details, verdicts):
    """README lines: every system's median time (and spread), threads and
    peak memory, tabulon's ratio to each peer, and the target."""
    by_name = medians[STEP]
    out = [f"Fourth workload, the first one's `cat` load at {ROWS:,} rows (about 600 MB), every system on its "
           "default threads and in a process of its own; peak memory is the process's peak resident set "
           "less its peak after its imports.", ""]
    for name, seconds in by_name.items():
        ratio = ""
        if name != "tabulon" and "tabulon" in by_name:
            ratio = f"; tabulon/{name} {by_name['tabulon'] / seconds:.3f}x"
        detail = details[name]
        out.append(f"- {name}: {milliseconds(seconds)}, {detail['threads']} thread"
                   f"{'s' if detail['threads'] != 1 else ''}, peak memory {detail['peak_mib']:,.0f} MiB{ratio}")
    missed = [target for target, met in verdicts.items() if met is False]
    return out + ["", targets_line(verdicts, missed)]


if __name__ == "__main__":
    print(json.dumps(measure(sys.argv[1], sys.argv[2], sys.argv[3])))
