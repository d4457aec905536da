"""What the bench scripts share: timed runs and their medians, the results a
workload gathers and the verdicts of its speed targets, data files written
once, and the peers' setup (one-thread limits, DuckDB and sqlite3 tables
read from CSV, tabulon tables created and loaded).

No peer library is imported here at module level: big_load.py's measuring
processes import only the library they time.
"""

import csv
import datetime
import gc
import json
import os
import platform
import sqlite3
import statistics
import subprocess
import sys
import time
from pathlib import Path

# Keeps polars and numpy's BLAS on one thread. Both read it once, at import,
# so it must be in the environment before they are imported; idle BLAS
# worker threads would otherwise spin on the second core.
ONE_THREAD_ENV = {"POLARS_MAX_THREADS": "1", "OPENBLAS_NUM_THREADS": "1"}
# The peers every step of a workload must be no slower than.
ONE_THREAD_PEERS = ("duckdb-1t", "polars-1t")


# ---------------------------------------------------------------- timing

class Seconds(float):
    """The median of several timed runs, in seconds, which also keeps the
    fastest and the slowest run: the README shows that spread."""

    def __new__(cls, times):
        value = super().__new__(cls, statistics.median(times))
        value.low, value.high = min(times), max(times)
        return value


def timed(action, runs, before=None):
    """Median wall time of `runs` calls (as Seconds) and the last call's
    answer; `before` runs ahead of each call, untimed."""
    times = []
    answer = None
    for _ in range(runs):
        answer = None
        if before is not None:
            before()
        gc.collect()
        start = time.perf_counter()
        answer = action()
        times.append(time.perf_counter() - start)
    return Seconds(times), answer


def empty_results(steps):
    """The medians and checksums by step and system name, none yet, and the
    failures by step: what time_queries fills. `steps` are tuples whose
    first item is the step's name."""
    return {step[0]: {} for step in steps}, {step[0]: {} for step in steps}, {}


def time_queries(system, steps, runs, checksum, results, run_step=None):
    """Times each query step of `steps` on `system` (`runs` runs each) into
    `results`, the medians, checksums and failures by step and system name;
    `checksum(step, answer)` sums up a step's last answer. `run_step(step)`
    gives a step's answer (system.query by default). A step the system
    refuses with a RuntimeError is a failure, not a time."""
    medians, checks, failures = results
    run_step = run_step or system.query
    for step in steps:
        try:
            seconds, answer = timed(lambda: run_step(step), runs)
        except RuntimeError as error:
            failures.setdefault(step, {})[system.name] = str(error)
            continue
        medians[step][system.name] = seconds
        checks[step][system.name] = checksum(step, answer)
        del answer


def each_system(systems, workload):
    """Yields each system in turn, named on standard error, and drops its
    data after its turn."""
    for system in systems:
        print(f"-- {system.name} ({workload})", file=sys.stderr, flush=True)
        yield system
        system.drop()


# ---------------------------------------------------------------- verdicts

def at_most(ratio, peer, bound):
    """Whether tabulon's time over `peer`'s is at most `bound`; None when
    the peer has no comparable time."""
    return ratio[peer] <= bound if peer in ratio else None


def peer_verdicts(verdicts, step, medians, ratios):
    """Adds to `verdicts` whether tabulon's `step` was no slower than each
    one-thread peer, or, when tabulon has no time for it, that it was not
    measured. Returns the step's ratios to the peers, None in that case."""
    if "tabulon" not in medians[step]:
        verdicts[f"{step}: measured"] = None
        return None
    ratio = ratios.get(step, {})
    for peer in ONE_THREAD_PEERS:
        verdicts[f"{step}: no slower than {peer}"] = at_most(ratio, peer, 1.0)
    return ratio


def targets_line(verdicts, missed):
    """The README's last line of a workload: how many targets were met, and
    the missed ones as `missed` names them."""
    met = sum(1 for value in verdicts.values() if value)
    return f"Speed targets met: {met} of {len(verdicts)}" + (f"; missed: {'; '.join(missed)}." if missed else ".")


def milliseconds(seconds):
    """A median in milliseconds, with its runs' spread when it has one."""
    spread = f" ({seconds.low * 1000:.1f} to {seconds.high * 1000:.1f})" if isinstance(seconds, Seconds) else ""
    return f"{seconds * 1000:.1f} ms{spread}"


def machine():
    model = platform.processor() or "unknown CPU"
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    return f"{os.cpu_count()} cores, {model}, Python {platform.python_version()}"


# ---------------------------------------------------------------- data

def write_once(path, write):
    """Unless `path` exists, calls `write(out)` on a partial file beside it
    and then gives that file its name, so that an interrupted or failed
    write leaves no file behind to be taken for a whole one. Returns
    `path`."""
    if path.exists():
        return path
    partial = path.with_suffix(".part")
    try:
        with open(partial, "w", newline="") as out:
            write(out)
    except BaseException:
        partial.unlink(missing_ok=True)
        raise
    partial.rename(path)
    return path


def cents(value):
    """A decimal value in whole cents."""
    return round(float(value) * 100)


def cents_text(value):
    """An integer number of cents written as a decimal: 1205 as 12.05."""
    return f"{value // 100}.{value % 100:02d}"


def day_texts(first, count):
    """The ISO texts of `count` days from the datetime.date `first` on."""
    return [(first + datetime.timedelta(days=d)).isoformat() for d in range(count)]


def random_texts(rng, count, length, alphabet):
    """`count` texts of `length` letters drawn from `alphabet` by the numpy
    generator `rng`, as a numpy array."""
    import numpy as np

    letters = np.frombuffer(alphabet.encode(), dtype=np.uint8)
    codes = letters[rng.integers(0, len(alphabet), (count, length))]
    return codes.view(f"S{length}").ravel().astype(str)


# ---------------------------------------------------------------- systems

def load_table(db, table, columns, path, config=False):
    """Creates tabulon table `table` in `db` with the column definitions
    `columns` (configured from `path` when `config`), then loads `path`."""
    configured = f" config from '{path}'" if config else ""
    db.executeCommand(f"create table {table} ({columns}){configured}")
    db.executeCommand(f"load {table} from '{path}'")


def duckdb_tables(threads, files):
    """An in-memory DuckDB connection on `threads` threads (None: its
    default) with a table per entry of `files` (name: CSV file with a
    header)."""
    import duckdb

    con = duckdb.connect(":memory:") if threads is None else duckdb.connect(":memory:", config={"threads": threads})
    for table, path in files.items():
        con.execute(f"create table {table} as select * from read_csv('{path}', header = true)")
    return con


def duckdb_name(threads):
    return "duckdb-1t" if threads == 1 else f"duckdb-{threads}t"


def duckdb_arrow(relation):
    """A DuckDB relation's rows as a pyarrow.Table."""
    # fetch_arrow_table() is called to_arrow_table() from DuckDB 2 on.
    return (relation.to_arrow_table if hasattr(relation, "to_arrow_table") else relation.fetch_arrow_table)()


def sqlite_tables(definitions, files):
    """An in-memory sqlite3 database with a table per entry of `definitions`
    (name: column definitions), each filled from the CSV file `files` names
    for it, its header skipped."""
    con = sqlite3.connect(":memory:")
    for table, columns in definitions.items():
        con.execute(f"create table {table} ({columns})")
        with open(files[table], newline="") as source:
            reader = csv.reader(source)
            marks = len(next(reader))
            con.executemany(f"insert into {table} values ({','.join('?' * marks)})", reader)
    con.commit()
    return con


class TabulonSystem:
    """tabulon as a system of a workload, holding its tables in `db`."""

    name = "tabulon"
    db = None

    def drop(self):
        self.db = None


class Connected:
    """A peer holding its tables in a database connection."""

    con = None

    def drop(self):
        if self.con is not None:
            self.con.close()
        self.con = None


# ---------------------------------------------------------------- A/B runs

def serve_steps(query, checksum=None):
    """The worker's side of an A/B run, its tables loaded: says it is ready,
    then answers each step name read from standard input with one JSON
    line, the seconds `query(step)` took and, given `checksum`, the
    answer's checksum."""
    print(json.dumps({"ready": True}), flush=True)
    for line in sys.stdin:
        step = line.strip()
        start = time.perf_counter()
        answer = query(step)
        reply = {"seconds": time.perf_counter() - start}
        if checksum is not None:
            reply["check"] = checksum(step, answer)
        print(json.dumps(reply), flush=True)
        del answer


def start_worker(name, command, env=None):
    """Starts a worker process and waits until it is ready."""
    worker = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, env=env)
    assert json.loads(worker.stdout.readline())["ready"], name
    return worker


def ab_rounds(workers, steps, rounds, compare=None):
    """Asks the workers (by name) in turn for one run of each step, `rounds`
    times, their order reversed every other round, then ends them. Returns
    the seconds by (name, step); `compare(step, replies)` sees each step's
    replies of a round by name."""
    times = {(name, step): [] for name in workers for step in steps}
    for round_ in range(rounds):
        for step in steps:
            replies = {}
            for name in (list(workers) if round_ % 2 == 0 else list(reversed(workers))):
                workers[name].stdin.write(step + "\n")
                workers[name].stdin.flush()
                replies[name] = json.loads(workers[name].stdout.readline())
                times[name, step].append(replies[name]["seconds"])
            if compare is not None:
                compare(step, replies)
    for worker in workers.values():
        worker.stdin.close()
        worker.wait()
    return times
