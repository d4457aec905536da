"""The second workload of bench/compare.py: joins of a 1,000,000-row fact
table with a 100,000-row dimension, sorts of every row, a range on a
high-cardinality text, a sort of a 100-column table and a `config from`
load of a table with a 20,000-value text column (sampling 1,000,000 rows
keeps only columns of at most 1,000 values as tree levels, here a
10-value one) and two loads of bench/level_load.py's table whose int key
of 40,000 values is named as its tree level with `cat 1`, the keys once
sorted and once in random order (that script loads levels of up to 64,000
values).

Every answer is read into Python as a list of row tuples (tabulon's
`fetchAll`, the connections' `fetchall`, pandas' rows, polars' `rows`), and
its checksum is computed from those tuples: row count and sums of the
numbers, plus the sequence of the sort keys for a sorted answer (ties may
come in any order, their keys cannot). The key-level loads run on
tabulon, pandas, polars on one thread and DuckDB on its default threads;
each reads its loaded key column into Python, whose row count and sum must
agree with tabulon's.
"""

import os
import re
import string

import numpy as np
import pandas as pd
import polars as pl

import level_load
import tabulon
from bench_common import (Connected, TabulonSystem, at_most, cents, cents_text, duckdb_name, duckdb_tables, each_system,
                          empty_results, load_table, peer_verdicts, random_texts, sqlite_tables, time_queries, timed,
                          write_once)

SEED = 20261207
DIM_ROWS = 100000
WIDE_ROWS = 100000
WIDE_COLUMNS = 100
GROUPS = DIM_ROWS // 3          # the dimension holds each group three times
STATUSES = [f"S{k:02d}" for k in range(50)]
REGIONS = [f"R{k}" for k in range(10)]
LEVELS = 20000                  # distinct values of the load's high-cardinality text column
KEY_LEVELS = 40000              # distinct keys of the key-level loads' tree level
DEFAULT_THREADS = os.cpu_count() or 1

# Step, label, and for each answer column how the checksum reads it:
# "i" an integer, "c" a double in cents, "t" a text (its length and first
# letter), with "k" marking the sort keys (their sequence is hashed).
STEPS = [
    ("load_levels", "load CSV, `config from`, 20,000-value text, 10-value level", None),
    ("load_keys_sorted", "load CSV, `cat 1` on an int key of 40,000 values, sorted", None),
    ("load_keys_random", "same, keys in random order", None),
    ("j1", "join 1:1 on int key", "i c c"),
    ("j1_dim", "same, filter on dimension (1%)", "i c c"),
    ("j1_fact", "same, filter on fact (1%)", "i c c"),
    ("j1_cat", "same, filter on categorised fact column (2%)", "i c c"),
    ("jn", "join 1:3 on int key", "i c"),
    ("jn_dim", "same, filter on dimension (1%)", "i c"),
    ("jn_fact", "same, filter on fact (1%)", "i c"),
    ("jt", "join 1:1 on 12-char text key", "i c c"),
    ("jt_dim", "same, filter on dimension (1%)", "i c c"),
    ("jt_fact", "same, filter on fact (1%)", "i c c"),
    ("j1_sparse", "join 1:1, fact id on dimension key (10% of fact rows pair)", "i c c"),
    ("j1_sparse_dimfirst", "same, dimension first", "i c c"),
    ("j1_dimfirst", "join 1:1 on int key written dimension first (10 partners a row)", "c i"),
    ("j1_fact_dimfirst", "same, filter on fact (1%)", "c i c"),
    ("jt_fact_dimfirst", "text-key join, dimension first, filter on fact (1%)", "c i c"),
    ("sort_double", "order by double, all rows", "i ck"),
    ("sort_text", "order by 12-char text, all rows", "i tk"),
    ("sort_two", "order by int desc, double, all rows", "i ik ck"),
    ("range_text", "range on 12-char text (~4%)", "i t"),
    ("sort_wide", "order by double, 100-column table, 2 columns", "i ck"),
]
# The key-level loads, each with the order of its keys, and their peers.
KEY_LOADS = {"load_keys_sorted": "sorted", "load_keys_random": "random"}
KEY_LOAD_PEERS = ("pandas", "polars-1t", duckdb_name(DEFAULT_THREADS))
LOAD_STEPS = {"load_levels", *KEY_LOADS}
CAT_JOIN = "j1_cat"
# One join written fact-first and dimension-first.
SAME_JOIN_FLIPPED = ("j1", "j1_dimfirst")

# The same questions for every SQL peer; tabulon's forms follow.
SQL = {
    "j1": "select f.id, f.amount, d.score from fact f join dim d on f.cust = d.cust",
    "j1_dim": "select f.id, f.amount, d.score from fact f join dim d on f.cust = d.cust where d.score < 0.01",
    "j1_fact": "select f.id, f.amount, d.score from fact f join dim d on f.cust = d.cust where f.amount < 10",
    "j1_cat": "select f.id, f.amount, d.score from fact f join dim d on f.cust = d.cust where f.status = 'S07'",
    "jn": "select f.id, d.score from fact f join dim d on f.grp = d.grp",
    "jn_dim": "select f.id, d.score from fact f join dim d on f.grp = d.grp where d.score < 0.01",
    "jn_fact": "select f.id, d.score from fact f join dim d on f.grp = d.grp where f.amount < 10",
    "jt": "select f.id, f.amount, d.score from fact f join dim d on f.code = d.code",
    "jt_dim": "select f.id, f.amount, d.score from fact f join dim d on f.code = d.code where d.score < 0.01",
    "jt_fact": "select f.id, f.amount, d.score from fact f join dim d on f.code = d.code where f.amount < 10",
    "j1_sparse": "select f.id, f.amount, d.score from fact f join dim d on f.id = d.cust",
    "j1_sparse_dimfirst": "select d.cust, d.score, f.amount from dim d join fact f on d.cust = f.id",
    "j1_dimfirst": "select d.score, f.id from dim d join fact f on d.cust = f.cust",
    "j1_fact_dimfirst": "select d.score, f.id, f.amount from dim d join fact f on d.cust = f.cust where f.amount < 10",
    "jt_fact_dimfirst": "select d.score, f.id, f.amount from dim d join fact f on d.code = f.code where f.amount < 10",
    "sort_double": "select id, amount from fact order by amount",
    "sort_text": "select id, tag from fact order by tag",
    "sort_two": "select id, qty, amount from fact order by qty desc, amount",
    "range_text": "select id, tag from fact where tag >= 'KA' and tag < 'LC'",
    "sort_wide": "select c0, c1 from wide order by c1",
}


def tabulon_query(step):
    """The SQL question in tabulon's language: no aliases, bare names."""
    text = SQL[step].replace("f.", "").replace("d.", "").replace(" fact f ", " fact ").replace(" dim d ", " dim ")
    return text.replace("'", "")


class JoinPlan:
    """A join of SQL for the data-frame peers: the two tables, their
    aliases and join columns (as alias.column), an optional one-sided filter
    (alias, column, "<" or "=", value) and the selected alias.columns."""

    PATTERN = re.compile(r"select (.+) from (\w+) (\w) join (\w+) (\w) on (\w\.\w+) = (\w\.\w+)"
                         r"(?: where (\w)\.(\w+) (<|=) (\S+))?$")

    def __init__(self, sql):
        match = self.PATTERN.match(sql)
        self.columns = [c.strip() for c in match[1].split(",")]
        self.tables = (match[2], match[4])
        self.aliases = (match[3], match[5])
        self.keys = (match[6], match[7])
        self.where = None
        if match[8]:
            value = match[11].strip("'")
            self.where = (match[8], match[9], match[10], float(value) if match[10] == "<" else value)

    def side_columns(self, k):
        """Side k's selected columns and its join column, once each."""
        own = [c for c in self.columns if c.startswith(self.aliases[k] + ".")]
        return own + [self.keys[k]] if self.keys[k] not in own else own


def join_plan(step):
    return JoinPlan(SQL[step])


# ---------------------------------------------------------------- data

def texts(rng, count, length):
    return random_texts(rng, count, length, string.ascii_uppercase)


def write_csv(path, header, columns):
    """Writes columns of equal length (lists of texts) as CSV, once."""
    def write(out):
        out.write(header + "\n")
        rows = len(columns[0])
        for start in range(0, rows, 100000):
            end = min(rows, start + 100000)
            out.write("".join(",".join(values) + "\n" for values in zip(*(c[start:end] for c in columns))))

    return write_once(path, write)


def cents_texts(values):
    return [cents_text(v) for v in values.tolist()]


def write_data(folder, rows):
    folder.mkdir(parents=True, exist_ok=True)
    rng = np.random.default_rng(SEED)
    codes = texts(rng, DIM_ROWS, 12)
    cust = rng.permutation(DIM_ROWS) + 1
    dim = write_csv(folder / f"dim_{SEED}.csv", "cust,grp,code,region,score", [
        [str(v) for v in cust.tolist()],
        [str(i % GROUPS + 1) for i in range(DIM_ROWS)],
        list(codes),
        [REGIONS[v] for v in rng.integers(0, len(REGIONS), DIM_ROWS).tolist()],
        [f"{v:.6f}" for v in rng.random(DIM_ROWS).tolist()],
    ])
    fact_rng = np.random.default_rng(SEED + rows)
    fact = write_csv(folder / f"fact2_{rows}_{SEED}.csv", "id,cust,grp,code,tag,status,amount,qty", [
        [str(i + 1) for i in range(rows)],
        [str(v) for v in fact_rng.integers(1, DIM_ROWS + 1, rows).tolist()],
        [str(v) for v in fact_rng.integers(1, 3 * GROUPS + 1, rows).tolist()],
        list(codes[fact_rng.integers(0, DIM_ROWS, rows)]),
        list(texts(fact_rng, rows, 12)),
        [STATUSES[v] for v in fact_rng.integers(0, len(STATUSES), rows).tolist()],
        cents_texts(fact_rng.integers(0, 100000, rows)),
        [str(v) for v in fact_rng.integers(0, 100, rows).tolist()],
    ])
    wide_rng = np.random.default_rng(SEED + 1)
    wide_columns = [[str(i) for i in range(WIDE_ROWS)], cents_texts(wide_rng.integers(0, 10**7, WIDE_ROWS))]
    for k in range(2, WIDE_COLUMNS):
        values = wide_rng.integers(0, 10**6, WIDE_ROWS)
        wide_columns.append(cents_texts(values) if k % 2 else [str(v) for v in values.tolist()])
    wide = write_csv(folder / f"wide_{WIDE_ROWS}_{SEED}.csv", ",".join(f"c{k}" for k in range(WIDE_COLUMNS)),
                     wide_columns)
    level_rng = np.random.default_rng(SEED + 2)
    level_names = [f"L{v:05d}" for v in range(LEVELS)]
    levels = write_csv(folder / f"levels_{rows}_{SEED}.csv", "id,place,kind,value", [
        [str(i + 1) for i in range(rows)],
        [level_names[v] for v in level_rng.integers(0, LEVELS, rows).tolist()],
        [REGIONS[v] for v in level_rng.integers(0, len(REGIONS), rows).tolist()],
        cents_texts(level_rng.integers(0, 10**6, rows)),
    ])
    return {"fact": fact, "dim": dim, "wide": wide, "levels": levels}


# ---------------------------------------------------------------- answers

def checksum(step, rows):
    """Row count, per-column sums, and the hash of the sort keys' sequence."""
    kinds = dict((s, spec) for s, _, spec in STEPS)[step]
    if kinds is None:
        return {"rows": rows}
    kinds = kinds.split()
    check = {"rows": len(rows)}
    keys = []
    for k, kind in enumerate(kinds):
        column = [r[k] for r in rows]
        if kind[0] == "i":
            values = [int(v) for v in column]
        elif kind[0] == "c":
            values = [cents(v) for v in column]
        else:
            values = [len(v) * 32 + ord(v[0]) - 64 if v else 0 for v in column]
            if kind.endswith("k"):
                keys.append(hash(tuple(column)))
        check[f"sum{k}"] = sum(values)
        if kind.endswith("k") and kind[0] != "t":
            keys.append(hash(tuple(values)))
    if keys:
        check["order"] = hash(tuple(keys))
    return check


# ---------------------------------------------------------------- systems

FACT_DEFINITION = ("id int, cust int, grp int, code string, tag string, status string cat 1, "
                   "amount double, qty int")
DIM_DEFINITION = "cust int, grp int, code string, region string cat 1, score double"


class Tabulon(TabulonSystem):
    def load(self, files):
        db = tabulon.DatabaseParser()
        wide = ", ".join(f"c{k} {'int' if k % 2 == 0 else 'double'}" for k in range(WIDE_COLUMNS))
        for table, definition in (("fact", FACT_DEFINITION), ("dim", DIM_DEFINITION), ("wide", wide)):
            load_table(db, table, definition, files[table])
        self.db = db

    def load_levels(self, files):
        db = tabulon.DatabaseParser()
        load_table(db, "levels", "id int, place string, kind string, value double", files["levels"], config=True)
        return db

    @staticmethod
    def load_keys(path):
        return level_load.load_tabulon(path, "int")

    @staticmethod
    def key_answer(db):
        return level_load.answer_tabulon(db, "int")

    def query(self, step):
        return self.db.executeSelect(tabulon_query(step)).fetchAll()


class SQLite(Connected):
    name = "sqlite3"
    TABLES = {"fact": "id integer, cust integer, grp integer, code text, tag text, status text, amount real, "
                      "qty integer",
              "dim": "cust integer, grp integer, code text, region text, score real",
              "wide": ", ".join(f"c{k} {'integer' if k % 2 == 0 else 'real'}" for k in range(WIDE_COLUMNS))}

    def load(self, files):
        self.con = sqlite_tables(self.TABLES, files)

    def load_levels(self, files):
        return sqlite_tables({"levels": "id integer, place text, kind text, value real"}, files)

    def query(self, step):
        return self.con.execute(SQL[step]).fetchall()


class DuckDB(SQLite):
    def __init__(self, threads):
        self.threads = threads
        self.name = duckdb_name(threads)

    def load(self, files):
        self.con = duckdb_tables(self.threads, {table: files[table] for table in ("fact", "dim", "wide")})

    def load_levels(self, files):
        return duckdb_tables(self.threads, {"levels": files["levels"]})

    def load_keys(self, path):
        return duckdb_tables(self.threads, {"t": path})

    @staticmethod
    def key_answer(con):
        keys = [key for (key,) in con.execute("select key from t").fetchall()]
        return len(keys), level_load.key_checksum(keys, "int")


class Pandas:
    name = "pandas"

    def __init__(self):
        self.tables = {}

    def load(self, files):
        self.tables = {table: pd.read_csv(files[table]) for table in ("fact", "dim", "wide")}

    def load_levels(self, files):
        return pd.read_csv(files["levels"])

    @staticmethod
    def load_keys(path):
        return pd.read_csv(path)

    @staticmethod
    def key_answer(frame):
        return level_load.answer_pandas(frame, "int")

    def drop(self):
        self.tables = {}

    @staticmethod
    def rows(frame):
        return list(frame.itertuples(index=False, name=None))

    def side(self, plan, k):
        """Side k of a join: its table filtered, its columns named alias.column."""
        alias = plan.aliases[k]
        frame = self.tables[plan.tables[k]]
        if plan.where is not None and plan.where[0] == alias:
            _, column, operator, value = plan.where
            frame = frame[frame[column] < value] if operator == "<" else frame[frame[column] == value]
        frame = frame[[c.split(".")[1] for c in plan.side_columns(k)]]
        return frame.set_axis(plan.side_columns(k), axis=1)

    def query(self, step):
        fact = self.tables["fact"]
        if step in SQL and " join " in SQL[step]:
            plan = join_plan(step)
            sides = [self.side(plan, k) for k in (0, 1)]
            joined = sides[0].merge(sides[1], left_on=plan.keys[0], right_on=plan.keys[1])
            return self.rows(joined[plan.columns])
        if step == "sort_double":
            return self.rows(fact[["id", "amount"]].sort_values("amount", kind="stable"))
        if step == "sort_text":
            return self.rows(fact[["id", "tag"]].sort_values("tag", kind="stable"))
        if step == "sort_two":
            return self.rows(fact[["id", "qty", "amount"]].sort_values(["qty", "amount"], ascending=[False, True],
                                                                        kind="stable"))
        if step == "range_text":
            tag = fact["tag"]
            return self.rows(fact.loc[(tag >= "KA") & (tag < "LC"), ["id", "tag"]])
        return self.rows(self.tables["wide"][["c0", "c1"]].sort_values("c1", kind="stable"))


class Polars(Pandas):
    name = "polars-1t"

    def load(self, files):
        self.tables = {table: pl.read_csv(files[table]) for table in ("fact", "dim", "wide")}

    def load_levels(self, files):
        return pl.read_csv(files["levels"])

    @staticmethod
    def load_keys(path):
        return pl.read_csv(path)

    @staticmethod
    def key_answer(frame):
        return frame.height, level_load.key_checksum(frame["key"].to_list(), "int")

    def side(self, plan, k):
        alias = plan.aliases[k]
        frame = self.tables[plan.tables[k]]
        if plan.where is not None and plan.where[0] == alias:
            _, column, operator, value = plan.where
            frame = frame.filter(pl.col(column) < value if operator == "<" else pl.col(column) == value)
        return frame.select(pl.col(c.split(".")[1]).alias(c) for c in plan.side_columns(k))

    def query(self, step):
        fact = self.tables["fact"]
        if step in SQL and " join " in SQL[step]:
            plan = join_plan(step)
            sides = [self.side(plan, k) for k in (0, 1)]
            return sides[0].join(sides[1], left_on=plan.keys[0], right_on=plan.keys[1]).select(plan.columns).rows()
        if step == "sort_double":
            return fact.select("id", "amount").sort("amount").rows()
        if step == "sort_text":
            return fact.select("id", "tag").sort("tag").rows()
        if step == "sort_two":
            return fact.select("id", "qty", "amount").sort(["qty", "amount"], descending=[True, False]).rows()
        if step == "range_text":
            return fact.filter((pl.col("tag") >= "KA") & (pl.col("tag") < "LC")).select("id", "tag").rows()
        return self.tables["wide"].select("c0", "c1").sort("c1").rows()


# ---------------------------------------------------------------- runs

def systems(names):
    every = [Tabulon(), SQLite(), DuckDB(1), DuckDB(DEFAULT_THREADS), Pandas(), Polars()]
    return [s for s in every if s.name == "tabulon" or names is None or s.name in names]


def time_key_loads(system, key_files, runs, results):
    """Times `system`'s load of each key-level file (by step) into
    `results`, with the row count and key checksum of its last answer; a
    load tabulon refuses is a failure, not a time."""
    def checksum(_, answer):
        rows, keys = system.key_answer(answer)
        return {"rows": rows, "key_sum": keys}

    time_queries(system, key_files, runs, checksum, results, lambda step: system.load_keys(key_files[step]))


def run(args, folder):
    """Medians and checksums of every step on every system, and failures,
    as compare.run gives them for the first workload."""
    files = write_data(folder, args.rows)
    results = empty_results(STEPS)
    medians = results[0]
    wanted = set(args.steps.split(",")) if args.steps else None
    key_files = {step: level_load.write_table(folder, args.rows, KEY_LEVELS, order, "int")
                 for step, order in KEY_LOADS.items() if wanted is None or step in wanted}
    for system in each_system(systems(args.peers.split(",") if args.peers else None), "joins and sorts"):
        if wanted is None or "load_levels" in wanted:
            medians["load_levels"][system.name], _ = timed(lambda: system.load_levels(files), args.load_runs)
        if system.name == "tabulon" or system.name in KEY_LOAD_PEERS:
            time_key_loads(system, key_files, args.load_runs, results)
        system.load(files)
        queries = [step for step, _, _ in STEPS
                   if step not in LOAD_STEPS and (wanted is None or step in wanted)]
        time_queries(system, queries, args.runs2, checksum, results)
    return results


def key_load_verdicts(verdicts, step, medians, ratio):
    """Adds whether tabulon's key-level load `step` was no slower than each
    of its peers, or that it was not measured."""
    if "tabulon" not in medians[step]:
        verdicts[f"{step}: measured"] = None
        return
    for peer in KEY_LOAD_PEERS:
        verdicts[f"{step}: no slower than {peer}"] = at_most(ratio.get(step, {}), peer, 1.0)


def targets(medians, ratio):
    """Every step no slower than duckdb-1t and polars-1t, and a load no
    slower than pandas and DuckDB on its default threads; a key-level load no slower than pandas, polars-1t
    and DuckDB on its default threads; the join filtered on a categorised
    fact column at least twice as fast as duckdb-1t; the dimension-first
    join at most 10% slower than the same join fact-first."""
    verdicts = {}
    first, flipped = (medians[step].get("tabulon") for step in SAME_JOIN_FLIPPED)
    verdicts[f"{SAME_JOIN_FLIPPED[1]}: at most 10% slower than fact first"] = (
        None if first is None or flipped is None else flipped <= 1.1 * first)
    for step, _, _ in STEPS:
        if step in KEY_LOADS:
            key_load_verdicts(verdicts, step, medians, ratio)
            continue
        r = peer_verdicts(verdicts, step, medians, ratio)
        if r is not None and step in LOAD_STEPS:
            verdicts[f"{step}: no slower than pandas"] = at_most(r, "pandas", 1.0)
            default_duck = duckdb_name(DEFAULT_THREADS)
            verdicts[f"{step}: no slower than {default_duck}"] = at_most(r, default_duck, 1.0)
        if r is not None and step == CAT_JOIN:
            verdicts[f"{step}: 2x faster than duckdb-1t"] = at_most(r, "duckdb-1t", 0.5)
    return verdicts
