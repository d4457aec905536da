"""The third workload of bench/compare.py: a table whose columns are declared
`null`, about one value in ten of each missing (an empty field in the file),
loaded, filtered, asked `is null`, sorted with its NULLs last and handed
whole to Arrow, against DuckDB and polars on one thread.

Every query's answer is read into Python as a list of row tuples (tabulon's
`fetchAll`, DuckDB's `fetchall`, polars' `rows`), the Arrow step's as a
pyarrow.Table; the checksum counts rows, NULLs and sums per column, plus
the sequence of the sort keys for a sorted answer.
"""

import datetime
import sys

import duckdb
import numpy as np
import polars as pl
import pyarrow as pa
import pyarrow.compute as pc

import tabulon

SEED = 20260314
NULL_SHARE = 0.1
REGIONS = [f"Region {k}" for k in range(10)]
DAY_ZERO = datetime.date(2024, 1, 1)
COLUMNS = ["id", "region", "qty", "amount", "day", "note", "flag"]

# Step, label, and the column of the sort key of a sorted answer.
STEPS = [
    ("load_null", "load CSV, 6 null columns, ~10% NULL each", None),
    ("filter_null", "range on a null double column (~5%)", None),
    ("is_null", "is null on an int column (~10%)", None),
    ("sort_null", "order by a null double desc, NULLs last, all rows", 1),
    ("arrow_null", "whole result, 7 columns, into a pyarrow.Table", None),
]
LOAD_STEPS = {"load_null"}

SQL = {
    "filter_null": "select id, amount from nulls where amount < 500",
    "is_null": "select id, note from nulls where qty is null",
    "sort_null": "select id, amount from nulls order by amount desc nulls last",
    "arrow_null": "select * from nulls",
}
TABULON = {step: query.replace(" nulls last", "") for step, query in SQL.items()}
DEFINITION = ("id int, region string cat 1 null, qty int null, amount double null, day date cat 2 null, "
              "note string null, flag bool null")


# ---------------------------------------------------------------- data

def write_data(folder, rows):
    """Writes the table once; NULLs are empty fields."""
    folder.mkdir(parents=True, exist_ok=True)
    path = folder / f"nulls_{rows}_{SEED}.csv"
    if path.exists():
        return path
    rng = np.random.default_rng(SEED)
    region = rng.integers(0, len(REGIONS), rows)
    qty = rng.integers(0, 100, rows)
    amount = rng.integers(0, 1000000, rows)
    day = rng.integers(0, 366, rows)
    letters = np.frombuffer(b"abcdefghijklmnopqrstuvwxyz", dtype=np.uint8)
    note = letters[rng.integers(0, 26, (rows, 8))].view("S8").ravel().astype(str)
    flag = rng.random(rows) < 0.3
    missing = rng.random((6, rows)) < NULL_SHARE
    days = [(DAY_ZERO + datetime.timedelta(days=d)).isoformat() for d in range(366)]
    partial = path.with_suffix(".part")
    with open(partial, "w") as out:
        out.write(",".join(COLUMNS) + "\n")
        for start in range(0, rows, 100000):
            lines = []
            for i in range(start, min(rows, start + 100000)):
                values = (REGIONS[region[i]], str(qty[i]), f"{amount[i] // 100}.{amount[i] % 100:02d}",
                          days[day[i]], note[i], "true" if flag[i] else "false")
                fields = ["" if missing[k, i] else value for k, value in enumerate(values)]
                lines.append(f"{i + 1}," + ",".join(fields) + "\n")
            out.write("".join(lines))
    partial.rename(path)
    return path


# ---------------------------------------------------------------- answers

def number(value):
    """A value as the checksum adds it: cents for a double, the day number
    for a date, the length for a text."""
    if isinstance(value, float):
        return round(value * 100)
    if isinstance(value, datetime.date):
        return value.toordinal()
    if isinstance(value, str):
        return len(value)
    return int(value)


def rows_checksum(step, rows):
    """Row count, NULLs and sums per column, and the hash of the sort keys'
    sequence (NULLs included) for a sorted answer."""
    check = {"rows": len(rows)}
    for k, column in enumerate(zip(*rows)):
        present = [value for value in column if value is not None]
        check[f"nulls{k}"] = len(column) - len(present)
        check[f"sum{k}"] = sum(number(value) for value in present)
    key = dict((s, key) for s, _, key in STEPS)[step]
    if key is not None:
        check["order"] = hash(tuple(None if row[key] is None else number(row[key]) for row in rows))
    return check


def table_checksum(table):
    """The same for a pyarrow.Table of the whole table, whatever integer
    widths a system chose."""
    check = {"rows": table.num_rows}
    for k, name in enumerate(COLUMNS):
        column = table.column(name)
        check[f"nulls{k}"] = column.null_count
        if pa.types.is_string(column.type) or pa.types.is_large_string(column.type):
            total = pc.sum(pc.utf8_length(column))
        elif pa.types.is_floating(column.type):
            total = pc.sum(pc.round(pc.multiply(column, 100)).cast(pa.int64()))
        elif pa.types.is_date(column.type):
            total = pc.sum(column.cast(pa.int32()).cast(pa.int64()))
        else:
            total = pc.sum(column.cast(pa.int64()))
        check[f"sum{k}"] = total.as_py() or 0
    return check


def checksum(step, answer):
    return table_checksum(answer) if step == "arrow_null" else rows_checksum(step, answer)


# ---------------------------------------------------------------- systems

class Tabulon:
    name = "tabulon"

    def __init__(self):
        self.db = None

    def load(self, path):
        db = tabulon.DatabaseParser()
        db.executeCommand(f"create table nulls ({DEFINITION})")
        db.executeCommand(f"load nulls from '{path}'")
        self.db = db

    def query(self, step):
        result = self.db.executeSelect(TABULON[step])
        return pa.table(result) if step == "arrow_null" else result.fetchAll()

    def drop(self):
        self.db = None


class DuckDB:
    name = "duckdb-1t"

    def __init__(self):
        self.con = None

    def load(self, path):
        con = duckdb.connect(":memory:", config={"threads": 1})
        con.execute(f"create table nulls as select * from read_csv('{path}', header = true)")
        self.con = con

    def query(self, step):
        if step != "arrow_null":
            return self.con.execute(SQL[step]).fetchall()
        relation = self.con.sql(SQL[step])
        # fetch_arrow_table() is called to_arrow_table() from DuckDB 2 on.
        return (relation.to_arrow_table if hasattr(relation, "to_arrow_table") else relation.fetch_arrow_table)()

    def drop(self):
        if self.con is not None:
            self.con.close()
        self.con = None


class Polars:
    name = "polars-1t"

    def __init__(self):
        self.frame = None

    def load(self, path):
        self.frame = pl.read_csv(path, try_parse_dates=True)

    def query(self, step):
        frame = self.frame
        if step == "filter_null":
            return frame.filter(pl.col("amount") < 500).select("id", "amount").rows()
        if step == "is_null":
            return frame.filter(pl.col("qty").is_null()).select("id", "note").rows()
        if step == "sort_null":
            return frame.select("id", "amount").sort("amount", descending=True, nulls_last=True).rows()
        return frame.to_arrow()

    def drop(self):
        self.frame = None


# ---------------------------------------------------------------- runs

def run(args, folder, timed, time_queries):
    """Medians and checksums of every step on every system, as compare.run
    gives them for the first workload; `timed(action, runs, before)` times
    the load, `time_queries` (compare.time_queries) the query steps."""
    path = write_data(folder, args.rows)
    medians = {step: {} for step, _, _ in STEPS}
    checks = {step: {} for step, _, _ in STEPS}
    failures = {}
    for system in (Tabulon(), DuckDB(), Polars()):
        print(f"-- {system.name} (null columns)", file=sys.stderr, flush=True)
        medians["load_null"][system.name], _ = timed(lambda: system.load(path), args.load_runs, before=system.drop)
        queries = [step for step, _, _ in STEPS if step not in LOAD_STEPS]
        time_queries(system, queries, args.runs2, checksum, (medians, checks, failures))
        system.drop()
    return medians, checks, failures


def targets(medians, ratio):
    """Every step no slower than duckdb-1t and polars-1t."""
    verdicts = {}
    for step, _, _ in STEPS:
        r = ratio.get(step, {})
        if "tabulon" not in medians[step]:
            verdicts[f"{step}: measured"] = None
            continue
        for peer in ("duckdb-1t", "polars-1t"):
            verdicts[f"{step}: no slower than {peer}"] = r[peer] <= 1.0 if peer in r else None
    return verdicts
