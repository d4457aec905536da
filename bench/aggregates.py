"""The fifth workload of bench/compare.py: the questions an analyst asks of
the first workload's 1,000,000-row sales table (counts, sums, averages,
groups, a top-10 list, distinct values, an aggregate over the join with the
stores), against DuckDB and polars on one thread.

The table is the first workload's file with two columns appended, which no
other workload reads: `customer`, an int of 1,000 values, and `postcode`, a
text of 100,000 values; tabulon loads it with the first workload's `cat`
definitions. Every answer is read into Python as a list of row tuples
(tabulon's `fetchAll`, DuckDB's `fetchall`, polars' `rows`). The checksum
is independent of the order of an answer's rows unless the query orders
them; sums of amounts are compared in whole cents and averages as the sum
of cents they stand for, so a system's rounding cannot tell.
"""

import numpy as np
import polars as pl

import tabulon
from bench_common import (Connected, TabulonSystem, at_most, cents, duckdb_tables, each_system, empty_results,
                          load_table, peer_verdicts, time_queries, write_once)

SEED = 20260402
CUSTOMERS = 1000
POSTCODES = 100000
EXTRA_COLUMNS = ", customer int, postcode string"

# Step, label, and whether the step groups or filters on categorised
# columns only (those must be 5x faster than DuckDB on one thread).
STEPS = [
    ("count_where", "categorised: count(*) where region = North", True),
    ("group_region", "categorised: group by region, count(*), sum, avg", True),
    ("group_region_store", "categorised: group by region, store, count(*), sum, avg", True),
    ("group_int", "group by an int of 1,000 values, count(*), sum, avg", False),
    ("group_text", "group by a text of 100,000 values, count(*), sum", False),
    ("top_products", "top 10 of 2,000 products by sum(amount), order by desc, limit", False),
    ("distinct_store", "categorised: distinct store", True),
    ("join_city", "join stores, group by city, count(*), sum", False),
]

# How each answer column is compared: a group key as text, a count, a sum
# of amounts in cents, an average as the cents it sums to over its row's
# count; and which column orders an ordered answer.
KINDS = {
    "count_where": ("count",),
    "group_region": ("key", "count", "cents", "mean"),
    "group_region_store": ("key", "key", "count", "cents", "mean"),
    "group_int": ("key", "count", "cents", "mean"),
    "group_text": ("key", "count", "cents"),
    "top_products": ("key", "cents"),
    "distinct_store": ("key",),
    "join_city": ("key", "count", "cents"),
}
ORDERED_BY = {"top_products": 1}

SQL = {
    "count_where": "select count(*) from fact where region = 'North'",
    "group_region": "select region, count(*), sum(amount), avg(price) from fact group by region",
    "group_region_store": "select region, store, count(*), sum(amount), avg(price) from fact "
                          "group by region, store",
    "group_int": "select customer, count(*), sum(amount), avg(price) from fact group by customer",
    "group_text": "select postcode, count(*), sum(amount) from fact group by postcode",
    "top_products": "select product, sum(amount) from fact group by product order by sum(amount) desc limit 10",
    "distinct_store": "select distinct store from fact",
    "join_city": "select s.city, count(*), sum(f.amount) from fact f join stores s on f.store = s.store "
                 "group by s.city",
}
TABULON = dict(SQL, count_where="select count(*) from fact where region = North",
               join_city="select city, count(*), sum(amount) from fact join stores on store = store group by city")


# ---------------------------------------------------------------- data

def write_data(fact, rows):
    """Writes, once and beside it, the first workload's fact file `fact` of
    `rows` rows with the customer and postcode columns appended."""
    return write_once(fact.parent / f"aggregates_{fact.stem}_{SEED}.csv", lambda out: write_rows(out, fact, rows))


def write_rows(out, fact, rows):
    rng = np.random.default_rng(SEED)
    customer = rng.integers(1, CUSTOMERS + 1, rows)
    postcode = rng.integers(0, POSTCODES, rows)
    with open(fact) as source:
        out.write(source.readline().rstrip("\n") + ",customer,postcode\n")
        row = 0
        while True:
            lines = [line.rstrip("\n") for line in source.readlines(1 << 22)]
            if not lines:
                break
            out.write("".join(f"{line},{customer[row + k]},Z{postcode[row + k]:05d}\n"
                              for k, line in enumerate(lines)))
            row += len(lines)
    if row != rows:
        raise RuntimeError(f"{fact} holds {row} rows, not {rows}")


# ---------------------------------------------------------------- answers

def normal_row(row, kinds):
    """A row as the checksum compares it (see KINDS)."""
    count = next((int(value) for value, kind in zip(row, kinds) if kind == "count"), None)
    out = []
    for value, kind in zip(row, kinds):
        if value is None:
            out.append(None)
        elif kind == "count":
            out.append(int(value))
        elif kind == "cents":
            out.append(cents(value))
        elif kind == "mean":
            out.append(round(float(value) * count * 100))
        else:
            out.append(str(value))
    return tuple(out)


def checksum(step, rows):
    """Row count, totals of the numeric columns and a hash of the rows taken
    in a fixed order; for an ordered answer also the sequence of its sort
    key (rows tied on it may come in any order, their keys cannot)."""
    kinds = KINDS[step]
    if any(len(row) != len(kinds) for row in rows):
        return {"rows": len(rows), "columns": sorted({len(row) for row in rows})}
    normal = [normal_row(row, kinds) for row in rows]
    check = {"rows": len(normal), "rows_hash": hash(tuple(sorted(normal, key=repr)))}
    for k, kind in enumerate(kinds):
        if kind != "key":
            check[f"total{k}"] = sum(row[k] for row in normal if row[k] is not None)
    if step in ORDERED_BY:
        check["order"] = [row[ORDERED_BY[step]] for row in normal]
    return check


# ---------------------------------------------------------------- systems

class Tabulon(TabulonSystem):
    def __init__(self, columns):
        self.columns = columns + EXTRA_COLUMNS

    def load(self, fact, stores):
        db = tabulon.DatabaseParser()
        load_table(db, "fact", self.columns, fact)
        load_table(db, "stores", "store string cat 1, city string, manager string, size int", stores)
        self.db = db

    def query(self, step):
        return self.db.executeSelect(TABULON[step]).fetchAll()


class DuckDB(Connected):
    name = "duckdb-1t"

    def load(self, fact, stores):
        self.con = duckdb_tables(1, {"fact": fact, "stores": stores})

    def query(self, step):
        return self.con.execute(SQL[step]).fetchall()


class Polars:
    name = "polars-1t"

    def __init__(self):
        self.fact = self.stores = None

    def load(self, fact, stores):
        self.fact = pl.read_csv(fact, try_parse_dates=True)
        self.stores = pl.read_csv(stores)

    def query(self, step):
        fact = self.fact
        count, amount, price = pl.len(), pl.col("amount").sum(), pl.col("price").mean()
        if step == "count_where":
            return fact.filter(pl.col("region") == "North").select(count).rows()
        if step == "group_region":
            return fact.group_by("region").agg(count, amount, price).rows()
        if step == "group_region_store":
            return fact.group_by("region", "store").agg(count, amount, price).rows()
        if step == "group_int":
            return fact.group_by("customer").agg(count, amount, price).rows()
        if step == "group_text":
            return fact.group_by("postcode").agg(count, amount).rows()
        if step == "top_products":
            return fact.group_by("product").agg(amount).sort("amount", descending=True).head(10).rows()
        if step == "distinct_store":
            return fact.select("store").unique().rows()
        return fact.join(self.stores, on="store").group_by("city").agg(count, amount).rows()

    def drop(self):
        self.fact = self.stores = None


# ---------------------------------------------------------------- runs

def run(args, fact, stores, columns):
    """Medians and checksums of every step on every system, and failures,
    as compare.run gives them for the first workload: `fact` and `stores`
    are its files, `columns` tabulon's `cat` definitions of its fact table.
    The loads are not timed."""
    path = write_data(fact, args.rows)
    results = empty_results(STEPS)
    for system in each_system((Tabulon(columns), DuckDB(), Polars()), "aggregates"):
        system.load(path, stores)
        time_queries(system, [step for step, _, _ in STEPS], args.runs, checksum, results)
    return results


def targets(medians, ratio):
    """Every step no slower than duckdb-1t and polars-1t; the categorised
    steps at least 5x faster than duckdb-1t."""
    verdicts = {}
    for step, _, categorised in STEPS:
        r = peer_verdicts(verdicts, step, medians, ratio)
        if r is not None and categorised:
            verdicts[f"{step}: 5x faster than duckdb-1t"] = at_most(r, "duckdb-1t", 0.2)
    return verdicts
