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

import numpy as np
import polars as pl
import pyarrow as pa
import pyarrow.compute as pc

import tabulon
from bench_common import (Connected, TabulonSystem, cents_text, day_texts, duckdb_arrow, duckdb_tables, each_system,
                          empty_results, load_table, peer_verdicts, random_texts, time_queries, timed, write_once)

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
    return write_once(folder / f"nulls_{rows}_{SEED}.csv", lambda out: write_rows(out, rows))


def write_rows(out, rows):
    rng = np.random.default_rng(SEED)
    region = rng.integers(0, len(REGIONS), rows)
    qty = rng.integers(0, 100, rows)
    amount = rng.integers(0, 1000000, rows)
    day = rng.integers(0, 366, rows)
    note = random_texts(rng, rows, 8, "abcdefghijklmnopqrstuvwxyz")
    flag = rng.random(rows) < 0.3
    missing = rng.random((6, rows)) < NULL_SHARE
    days = day_texts(DAY_ZERO, 366)
    out.write(",".join(COLUMNS) + "\n")
    for start in range(0, rows, 100000):
        lines = []
        for i in range(start, min(rows, start + 100000)):
            values = (REGIONS[region[i]], str(qty[i]), cents_text(amount[i]), days[day[i]], note[i],
                      "true" if flag[i] else "false")
            fields = ["" if missing[k, i] else value for k, value in enumerate(values)]
            lines.append(f"{i + 1}," + ",".join(fields) + "\n")
        out.write("".join(lines))


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

class Tabulon(TabulonSystem):
    def load(self, path):
        db = tabulon.DatabaseParser()
        load_table(db, "nulls", DEFINITION, path)
        self.db = db

    def query(self, step):
        result = self.db.executeSelect(TABULON[step])
        return pa.table(result) if step == "arrow_null" else result.fetchAll()


class DuckDB(Connected):
    name = "duckdb-1t"

    def load(self, path):
        self.con = duckdb_tables(1, {"nulls": path})

    def query(self, step):
        if step != "arrow_null":
            return self.con.execute(SQL[step]).fetchall()
        return duckdb_arrow(self.con.sql(SQL[step]))


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

def run(args, folder):
    """Medians and checksums of every step on every system, and failures,
    as compare.run gives them for the first workload."""
    path = write_data(folder, args.rows)
    results = empty_results(STEPS)
    for system in each_system((Tabulon(), DuckDB(), Polars()), "null columns"):
        results[0]["load_null"][system.name], _ = timed(lambda: system.load(path), args.load_runs,
                                                        before=system.drop)
        queries = [step for step, _, _ in STEPS if step not in LOAD_STEPS]
        time_queries(system, queries, args.runs2, checksum, results)
    return results


def targets(medians, ratio):
    """Every step no slower than duckdb-1t and polars-1t."""
    verdicts = {}
    for step, _, _ in STEPS:
        peer_verdicts(verdicts, step, medians, ratio)
    return verdicts
