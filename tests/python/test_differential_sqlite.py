"""Randomized differential test against Python's built-in sqlite3.

Two seeded tables (a fact table and a smaller dimension table with repeated
join keys) are loaded into tabulon in four ways - every column plain, tree
levels given with "cat", tree levels chosen by sampling the file, and plain
tables rebuilt as trees during their load - and into an in-memory sqlite
database. Hundreds of random queries with where clauses (bracket groups,
"and", "or", every operator) and order clauses, and dozens of joins, must give
the same multiset of rows, and the same sequence of sort keys wherever the
order clause fixes it (tabulon's sort is not stable, so rows that tie on every
key may come in any order).

Values stay where the two languages agree: integers well inside 32 bits,
doubles written with at most three decimals (both sides parse the same text
to the same double), ASCII texts without commas, quotes or operator
characters, which both order byte by byte.
"""

import random
import sqlite3

import pytest

import tabulon
from conftest import settings, write_csv

SEED = 8_2024
FACT_ROWS = 4000
DIM_ROWS = 150
SINGLE_QUERIES = 300
JOIN_QUERIES = 60

OPERATORS = ["=", "!=", "<", ">", "<=", ">="]
REGIONS = ["north", "south", "East", "west side", "Mid", "zeta"]
WORDS = ["alpha", "beta", "gamma", "delta", "Echo", "fox trot", "golf", "a", "zz", "", "b9", "Z"]

# name, tabulon type, "cat" number in the categorised variant, kind of value
FACT = [
    ("id", "int", None, "int"),
    ("n", "int", None, "int"),
    ("x", "double", None, "double"),
    ("s", "string", None, "text"),
    ("g", "string", 1, "text"),
    ("k", "int", 2, "int"),
]
DIM = [
    ("did", "int", None, "int"),
    ("dk", "int", 1, "int"),
    ("dg", "string", 2, "text"),
    ("dx", "double", None, "double"),
    ("ds", "string", None, "text"),
]
KIND = {name: kind for name, _, _, kind in FACT + DIM}
VARIANTS = ["plain", "cat", "config", "rebuilt"]


def fact_rows(rng):
    return [(i, rng.randint(-500, 500), round(rng.uniform(-100, 100), 3),
             rng.choice(WORDS) + ("" if rng.random() < 0.5 else str(rng.randint(0, 99))),
             REGIONS[min(int(rng.expovariate(0.8)), len(REGIONS) - 1)], rng.randint(0, 11) * 5 - 20)
            for i in range(FACT_ROWS)]


def dim_rows(rng):
    # dk reaches past both ends of k.
    return [(1000 + i, rng.randint(0, 13) * 5 - 25, rng.choice(REGIONS + ["nowhere"]), round(rng.uniform(-10, 10), 2),
             rng.choice(WORDS)) for i in range(DIM_ROWS)]


def definition(columns, with_levels):
    return ", ".join(f"{name} {kind}" + (f" cat {cat}" if with_levels and cat else "")
                     for name, kind, cat, _ in columns)


def load_variant(variant, fact_csv, dim_csv):
    db = tabulon.DatabaseParser()
    for table, columns, path in (("f", FACT, fact_csv), ("d", DIM, dim_csv)):
        if variant == "config":
            db.executeCommand(f"create table {table} ({definition(columns, False)}) config from {path}")
        else:
            db.executeCommand(f"create table {table} ({definition(columns, variant == 'cat')})")
        db.executeCommand(f"load {table} from {path}")
    return db


@pytest.fixture(scope="module")
def engines(tmp_path_factory):
    rng = random.Random(SEED)
    facts, dims = fact_rows(rng), dim_rows(rng)
    directory = tmp_path_factory.mktemp("sqlite_differential")
    lite = sqlite3.connect(":memory:")
    sql_types = {"int": "INTEGER", "double": "REAL", "text": "TEXT"}
    for table, columns, rows in (("f", FACT, facts), ("d", DIM, dims)):
        write_csv(directory / f"{table}.csv", [name for name, _, _, _ in columns],
                  [[f"{v:.3f}" if isinstance(v, float) else v for v in row] for row in rows])
        lite.execute(f"create table {table} ({', '.join(f'{name} {sql_types[kind]}' for name, _, _, kind in columns)})")
        lite.executemany(f"insert into {table} values ({', '.join('?' * len(columns))})", rows)
    fact_csv, dim_csv = directory / "f.csv", directory / "d.csv"
    # Large enough that the plain tables stay plain.
    with settings(directory, "lines.threshold=100000\n"):
        databases = {v: load_variant(v, fact_csv, dim_csv) for v in ("plain", "cat", "config")}
    # Small enough that both tables are rebuilt as trees while they load.
    with settings(directory, "lines.threshold=100\n"):
        databases["rebuilt"] = load_variant("rebuilt", fact_csv, dim_csv)
    return databases, lite, facts, dims


# ---------------------------------------------------------------- queries


def constant_for(column, rng, facts, dims):
    """A constant for `column`: a value present in the data, or a nearby one
    that may be absent (between stored values or beyond both ends)."""
    index = [name for name, _, _, _ in FACT + DIM].index(column)
    table = facts if index < len(FACT) else dims
    position = index if index < len(FACT) else index - len(FACT)
    present = table[rng.randrange(len(table))][position]
    kind = KIND[column]
    if kind == "int":
        return present if rng.random() < 0.7 else present + rng.choice([-1, 1, -3, 3, 10**5, -(10**5)])
    if kind == "double":
        return present if rng.random() < 0.6 else round(present + rng.uniform(-1, 1), 2)
    if rng.random() < 0.6:
        return present
    return rng.choice(["", "a", "mm", "zzz", "Mid", "north2", "~", "A"])


def random_expression(columns, rng, facts, dims, depth=0):
    """A where-clause expression tree: ("cond", column, op, value) or
    ("group", [children], [connectors])."""
    count = rng.randint(1, 3 if depth else 4)
    children, connectors = [], []
    for i in range(count):
        if depth < 2 and rng.random() < 0.25:
            children.append(random_expression(columns, rng, facts, dims, depth + 1))
        else:
            column = rng.choice(columns)
            children.append(("cond", column, rng.choice(OPERATORS), constant_for(column, rng, facts, dims)))
        if i:
            connectors.append(rng.choice(["and", "or"]))
    return ("group", children, connectors)


def render(expression, top=True):
    """The text of an expression, which both languages read alike."""
    if expression[0] == "cond":
        _, column, op, value = expression
        kind = KIND[column]
        text = f"'{value}'" if kind == "text" else f"{value:.3f}" if kind == "double" else str(value)
        return f"{column} {op} {text}"
    _, children, connectors = expression
    parts = [render(children[0], False)]
    for connector, child in zip(connectors, children[1:]):
        parts += [connector, render(child, False)]
    return " ".join(parts) if top else f"( {' '.join(parts)} )"


def random_query(rng, facts, dims, join):
    if join:
        left_key, right_key = rng.choice([("k", "dk"), ("g", "dg"), ("k", "dk")])
        columns = [name for name, _, _, _ in FACT + DIM]
        source = f"f join d on {left_key} = {right_key}"
        sql_source = f"f JOIN d ON f.{left_key} = d.{right_key}"
    else:
        columns = [name for name, _, _, _ in FACT]
        source, sql_source = "f", "f"
    selected = rng.sample(columns, rng.randint(1, min(4, len(columns))))
    expression = random_expression(columns, rng, facts, dims) if rng.random() < 0.85 else None
    if join or rng.random() < 0.5:
        # A bound on id keeps most results small enough to read cell by cell
        # (every fact row has several join partners).
        bound = ("cond", "id", rng.choice(["<", "<="]), rng.randint(20, 300 if join else 1500))
        expression = ("group", [bound, expression], ["and"]) if expression else bound
    where = f" where {render(expression)}" if expression else ""
    keys = []
    if rng.random() < 0.6:
        for column in rng.sample(columns, rng.randint(1, 3)):
            keys.append((column, rng.random() < 0.4))
    # Sort keys are selected too, so that their order can be checked.
    for column, _ in keys:
        if column not in selected:
            selected.append(column)
    order_ours = order_sql = ""
    if keys:
        order_ours = " order by " + ", ".join(c + (" desc" if d else "") for c, d in keys)
        order_sql = " ORDER BY " + ", ".join(c + (" DESC" if d else "") for c, d in keys)
    ours = f"select {', '.join(selected)} from {source}{where}{order_ours}"
    theirs = f"SELECT {', '.join(selected)} FROM {sql_source}{where}{order_sql}"
    return ours, theirs, selected, [selected.index(c) for c, _ in keys]


def read_rows(db, query, selected):
    cursor = db.executeSelect(query)
    assert cursor.getColumnNames() == selected
    return cursor.fetchAll()


def compare(databases, lite, query, sql, selected, key_positions):
    expected = lite.execute(sql).fetchall()
    expected_rows = sorted(expected)
    failures = []
    for variant in VARIANTS:
        got = read_rows(databases[variant], query, selected)
        if sorted(got) != expected_rows:
            failures.append(f"[{variant}] rows differ: {query}  ({len(got)} rows, sqlite {len(expected)})")
            continue
        if key_positions:
            keys = [tuple(row[p] for p in key_positions) for row in got]
            expected_keys = [tuple(row[p] for p in key_positions) for row in expected]
            if keys != expected_keys:
                failures.append(f"[{variant}] order differs: {query}")
    return failures


def run_queries(engines, count, join, seed):
    databases, lite, facts, dims = engines
    rng = random.Random(seed)
    failures, nonempty = [], 0
    for _ in range(count):
        query, sql, selected, key_positions = random_query(rng, facts, dims, join)
        failures += compare(databases, lite, query, sql, selected, key_positions)
        nonempty += bool(lite.execute(sql).fetchone())
    return failures, nonempty


def test_single_table_queries_match_sqlite(engines):
    failures, nonempty = run_queries(engines, SINGLE_QUERIES, join=False, seed=SEED + 1)
    assert failures == []
    # The generator must not drift into queries that all answer nothing.
    assert nonempty > SINGLE_QUERIES // 3


def test_joined_queries_match_sqlite(engines):
    failures, nonempty = run_queries(engines, JOIN_QUERIES, join=True, seed=SEED + 2)
    assert failures == []
    assert nonempty > JOIN_QUERIES // 3


@pytest.mark.parametrize("variant", VARIANTS)
def test_every_variant_holds_every_row(engines, variant):
    databases, lite, _, _ = engines
    for table, columns in (("f", FACT), ("d", DIM)):
        names = [name for name, _, _, _ in columns]
        query = f"select {', '.join(names)} from {table}"
        got = read_rows(databases[variant], query, names)
        assert sorted(got) == sorted(lite.execute(query).fetchall())
