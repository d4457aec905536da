"""One generated data set loaded four ways (every column plain, tree levels
given with "cat", tree levels chosen by sampling the file, a plain table
rebuilt as a tree while it loads) must answer every query, random where and
order clauses included, exactly as Python computes it from the data."""

import datetime
import math
import operator
import random
import struct

import pytest

import tabulon
from conftest import random_where, rows, settings, write_csv

ROWS = 20000
SEED = 20240611

GROUPS = [f"g{k:02d}" for k in range(20)] + ["g 10", "Ärger", "zebra", "Zulu"]
LEVELS = [k * 100 - 300 for k in range(12)]
DAYS = [(datetime.date(2023, 12, 1) + datetime.timedelta(days=3 * k)).isoformat() for k in range(40)]
QTYS = list(range(-60, 61))
PRICES = ["nan", "-0.0", "0.0", "1e300", "-1e300"] + [f"{k * 1.25:.2f}" for k in range(-12, 13)]
RATIOS = [k * 0.25 for k in range(-20, 21)]
BIGS = [10**12 + k * 997 for k in range(-25, 25)]
# A many-valued level: the first load brings CODES from both ends inwards,
# each value into the one gap left between the two before it, then at
# random; the second load adds values between them.
CODES = list(range(0, 40000, 10))
FIRST_LOAD = 12000

# Column definitions of the categorised table; the others leave out "cat".
DEFINITIONS = ("id int, grp string cat 1, lvl int cat 2, day date cat 3, qty short cat 4, price double cat 5, "
               "ratio float cat 6, flag bool cat 7, big long cat 8, amount double, name string, code int cat 9")
NAMES = [part.split()[0] for part in DEFINITIONS.split(", ")]
TYPES = {part.split()[0]: part.split()[1] for part in DEFINITIONS.split(", ")}


def f32(value):
    return struct.unpack("f", struct.pack("f", float(value)))[0]


def pick(values, i, rng):
    """Descending runs first, then ascending runs, then random: category
    numbers run out at both ends, forcing renumbering, while the nodes fill
    up and split."""
    n = len(values)
    if i < 1500:
        return values[n - 1 - i % n]
    if i < 3000:
        return values[i % n]
    return values[rng.randrange(n)]


def pick_code(i, rng):
    n = len(CODES)
    if i < n:
        return CODES[i // 2] if i % 2 == 0 else CODES[n - 1 - i // 2]
    if i < FIRST_LOAD:
        return rng.choice(CODES)
    return rng.choice(CODES) + 5 * rng.randrange(2)


def generate():
    rng = random.Random(SEED)
    pools = {"grp": GROUPS, "lvl": LEVELS, "day": DAYS, "qty": QTYS, "price": PRICES, "ratio": RATIOS, "big": BIGS}
    rows = []
    for i in range(ROWS):
        row = {"id": i, "flag": rng.randrange(2), "amount": f"{rng.uniform(-1000, 1000):.3f}",
               "name": f"n{rng.randrange(10**6):06d}"}
        row.update((name, pick(pool, i, rng)) for name, pool in pools.items())
        row["code"] = pick_code(i, rng)
        rows.append(row)
    return rows


def python_value(column, text):
    kind = TYPES[column]
    if kind in ("int", "short", "long"):
        return int(text)
    if kind == "double":
        return float(text)
    if kind == "float":
        return f32(text)
    if kind == "bool":
        return {"1": 1, "0": 0, "true": 1, "false": 0}[str(text)]
    return str(text)


OPERATORS = {"=": operator.eq, "!=": operator.ne, "<": operator.lt, ">": operator.gt, "<=": operator.le,
             ">=": operator.ge}

# Constants per column: values present in the data, values between them,
# and values beyond both ends.
CONSTANTS = {
    "id": ["0", "7777", "19999", "-1", "20000"],
    "grp": ["g05", "g 10", "g055", "Ärger", "A", "zz", "Zulu"],
    "lvl": ["-300", "250", "800", "-1000", "5000"],
    "day": ["2023-12-01", "2024-01-04", "2024-01-05", "2023-01-01", "2025-01-01"],
    "qty": ["0", "-60", "60", "7", "-100", "100"],
    "price": ["nan", "0", "-0", "1e300", "2.5", "2.6", "-1e301", "1e301"],
    "ratio": ["0.25", "-5", "5", "0.3", "-6", "6"],
    "flag": ["1", "0", "true", "false"],
    "big": [str(10**12), str(10**12 + 1), str(10**12 - 25 * 997), "0", str(10**13)],
    "amount": ["0", "-999.5", "123.456", "1000"],
    "name": ["n500000", "n", "n9", "m", "o"],
    "code": ["0", "39990", "20000", "20005", "20003", "-1", "40000"],
}


@pytest.fixture(scope="module")
def data(tmp_path_factory):
    rows = generate()
    directory = tmp_path_factory.mktemp("differential")
    lines = [[row[name] for name in NAMES] for row in rows]
    write_csv(directory / "data.csv", NAMES, lines)
    # Loaded in two parts: the second renumbers levels the first has filled.
    write_csv(directory / "first.csv", NAMES, lines[:FIRST_LOAD])
    write_csv(directory / "second.csv", NAMES, lines[FIRST_LOAD:])
    plain = ", ".join(f"{name} {TYPES[name]}" for name in NAMES)
    # A table created without tree levels is rebuilt as a tree once a load
    # takes it past lines.threshold rows: never for t_plain, early in the
    # first load for t_rebuilt.
    databases = {}
    for table, definition, threshold in (("t_plain", f"({plain})", 10**8), ("t_cat", f"({DEFINITIONS})", 10**8),
                                         ("t_conf", f"({plain}) config from data.csv", 10**8),
                                         ("t_rebuilt", f"({plain})", 100)):
        with settings(directory, f"lines.threshold={threshold}\n"):
            databases[table] = db = tabulon.DatabaseParser()
            db.executeCommand(f"create table {table} {definition}")
            db.executeCommand(f"load {table} from first.csv")
            db.executeCommand(f"load {table} from second.csv")
    parsed = [{name: python_value(name, row[name]) for name in NAMES} for row in rows]
    return databases, parsed


TABLES = ["t_plain", "t_cat", "t_conf", "t_rebuilt"]


def ids_of(db, query):
    return db.executeSelect(query).getColumn(0)


def condition_test(column, op, constant):
    c = python_value(column, constant)
    test = OPERATORS[op]
    return lambda row: test(row[column], c)


SINGLE_CASES = [(column, op, constant) for column, constants in CONSTANTS.items() for constant in constants
                for op in OPERATORS]


@pytest.fixture(scope="module")
def single_answers(data):
    _, parsed = data
    tests = [condition_test(*case) for case in SINGLE_CASES]
    return [[row["id"] for row in parsed if test(row)] for test in tests]


@pytest.mark.parametrize("table", TABLES)
def test_single_conditions(data, single_answers, table):
    databases, _ = data
    for (column, op, constant), expected in zip(SINGLE_CASES, single_answers):
        query = f"select id from {table} where {column} {op} '{constant}'"
        assert sorted(ids_of(databases[table], query)) == expected, query


def random_condition(rng):
    column = rng.choice(list(CONSTANTS))
    op = rng.choice(list(OPERATORS))
    constant = rng.choice(CONSTANTS[column])
    return f"{column} {op} '{constant}'", condition_test(column, op, constant)


def sort_key(column):
    def key(row):
        value = row[column]
        if isinstance(value, float):
            # NaN sorts after every number; -0.0 equals 0.0.
            value = (1, 0.0) if math.isnan(value) else (0, value + 0.0)
        return value

    return key


def sorted_rows(rows, order):
    """The rows in the order of the (column, descending) keys, then by id.
    Python's sort is stable, so sorting by the least significant key first
    gives the combined order."""
    ordered = sorted(rows, key=lambda r: r["id"])
    for column, descending in reversed(order):
        ordered.sort(key=sort_key(column), reverse=descending)
    return ordered


def test_random_where_and_order_clauses(data):
    databases, rows = data
    rng = random.Random(SEED + 1)
    for _ in range(60):
        text, test = random_where(rng, random_condition)
        order = [(column, rng.random() < 0.4) for column in rng.sample(NAMES[1:], rng.randrange(3))]
        expected = [row["id"] for row in sorted_rows([row for row in rows if test(row)], order)]
        clause = "".join(f"{column}{' desc' if descending else ''}, " for column, descending in order)
        for table in TABLES:
            query = f"select id from {table} where {text}" + (f" order by {clause}id" if order else "")
            got = ids_of(databases[table], query)
            assert (got if order else sorted(got)) == expected, query


@pytest.mark.parametrize(
    "order",
    [
        [("grp", False)],
        [("price", False)],
        [("price", True), ("qty", False)],
        [("day", True), ("ratio", False), ("big", True)],
        [("flag", False), ("amount", True)],
        [("name", True)],
        [("lvl", False), ("grp", True), ("qty", True)],
        [("code", True), ("grp", False)],
    ],
)
def test_ordering(data, order):
    databases, rows = data
    where = "qty > '-30' and (flag = 1 or lvl >= 400)"
    selected = [row for row in rows if row["qty"] > -30 and (row["flag"] == 1 or row["lvl"] >= 400)]
    expected = sorted_rows(selected, order)
    clause = ", ".join(f"{column}{' desc' if descending else ''}" for column, descending in order)
    for number, table in enumerate(TABLES):
        # Bulk reads take a sorted answer's own copy of its values, unless
        # its rows are too wide to copy (a text more here); rows read one by
        # one come from the table (repr: NaN and -0.0 compare as text).
        names = NAMES + ["name"] * (number % 2)
        query = f"select {', '.join(names)} from {table} where {where} order by {clause}, id"
        cursor = databases[table].executeSelect(query)
        answer = cursor.fetchAll()
        assert [line[0] for line in answer] == [row["id"] for row in expected], query
        by_column = list(zip(*map(cursor.getColumn, range(len(names)))))
        same = repr(answer) == repr(list(cursor)) == repr(by_column)  # no diff of megabytes on failure
        assert same, query


def test_values_read_back_identically(data):
    databases, parsed = data
    price = NAMES.index("price")
    answers = []
    for table in TABLES:
        query = f"select {', '.join(NAMES)} from {table} where id < '2000' order by id"
        texts = [list(line) for line in rows(databases[table], query)]
        for line in texts:
            # A tree level keeps one of the equal values 0.0 and -0.0.
            line[price] = repr(float(line[price]) + 0.0)
        answers.append(texts)
    assert len(answers[0]) == 2000 and all(answer == answers[0] for answer in answers)
    for texts, row in zip(answers[0], parsed):
        assert (texts[1], texts[3], int(texts[4]), texts[10]) == (row["grp"], row["day"], row["qty"], row["name"])
