"""Aggregates, group by, distinct and limit: fixed cases with their answers
and messages, and random queries over tables with NULLs whose answers must
be sqlite3's, on one table and on a join, with every column plain and with
tree levels."""

from collections import Counter
import datetime
import math
import random
import sqlite3

import pytest

from conftest import error, random_where, write_csv

# id, region, amount, price, day: one sale per line; region and day are
# tree levels, amount and price may be NULL.
SALES = [
    (1, "North", 10, 1.5, "2024-01-01"),
    (2, "South", 20, None, "2024-01-02"),
    (3, "North", None, 2.5, "2024-01-01"),
    (4, "East", 5, 1.0, "2024-01-03"),
    (5, None, 7, -0.0, "2024-01-02"),
    (6, None, None, 0.0, "2024-01-02"),
]
SALES_DEFINITION = "id int, region string cat 1 null, amount int null, price double null, day date cat 2"


@pytest.fixture
def sales(db, tmp_path):
    rows = [["" if v is None else v for v in row] for row in SALES]
    path = write_csv(tmp_path / "sales.csv", ["id", "region", "amount", "price", "day"], rows)
    db.executeCommand(f"create table sales ({SALES_DEFINITION})")
    db.executeCommand(f"load sales from '{path}'")
    return db


D = datetime.date


@pytest.mark.parametrize("query, expected", [
    # Without group by: one row, also over no rows (count 0, the rest NULL).
    ("select count(*), count(amount), sum(amount), avg(amount), min(amount), max(amount) from sales",
     [(6, 4, 42, 10.5, 5, 20)]),
    ("select count(*), count(price), sum(price), avg(price), min(region), max(day) from sales where id > 100",
     [(0, 0, None, None, None, None)]),
    ("SELECT COUNT(*), Sum(sales.amount) from sales where amount is null", [(2, None)]),
    # NULL is one group; the zeros of either sign are one value.
    ("select region, count(*), sum(amount) from sales group by region order by region",
     [("East", 1, 5), ("North", 2, 10), ("South", 1, 20), (None, 2, 7)]),
    ("select price, count(*) from sales where price <= 0 group by price", [(-0.0, 2)]),
    ("select day, count(*), max(region) from sales group by day order by count(*) desc, day",
     [(D(2024, 1, 2), 3, "South"), (D(2024, 1, 1), 2, "North"), (D(2024, 1, 3), 1, "East")]),
    ("select day, count(region), min(region) from sales where id != 4 or region = 'East' group by day",
     [(D(2024, 1, 2), 1, "South"), (D(2024, 1, 1), 2, "North"), (D(2024, 1, 3), 1, "East")]),
    # Grouping by a column not selected; ordering by an aggregate not selected.
    ("select sum(amount) from sales group by region order by count(*) desc, sum(amount) limit 2", [(7,), (10,)]),
    ("select region, day from sales group by day, region order by region desc, day limit 1",
     [("South", D(2024, 1, 2))]),
    ("select distinct region from sales order by region", [("East",), ("North",), ("South",), (None,)]),
    ("select distinct day, region from sales where id < 4 order by day, region",
     [(D(2024, 1, 1), "North"), (D(2024, 1, 2), "South")]),
    # Column names "distinct" and "count" still read as columns.
    ("select id from sales order by id desc limit 2", [(6,), (5,)]),
    ("select id from sales order by id limit 0", []),
    ("select id from sales limit 4294967295", [(i,) for i in range(1, 7)]),
    ("select * from sales order by id limit 1", [(1, "North", 10, 1.5, D(2024, 1, 1))]),
])
def test_aggregate_answers(sales, query, expected):
    answer = sales.executeSelect(query).fetchAll()
    if "order by" not in query:
        answer, expected = sorted(answer, key=repr), sorted(expected, key=repr)
    assert answer == expected


@pytest.mark.parametrize("query, message", [
    ("select region, count(*) from sales", "Column region is neither grouped nor aggregated"),
    ("select * from sales group by region", "Column id is neither grouped nor aggregated"),
    ("select region from sales group by day order by day", "Column region is neither grouped nor aggregated"),
    ("select day from sales group by day order by id", "Column id is neither grouped nor aggregated"),
    ("select id from sales order by count(*)", "Column id is neither grouped nor aggregated"),
    ("select distinct region from sales order by day", "Column day orders a select distinct but is not selected"),
    ("select distinct count(*) from sales", "Select distinct takes columns only, not count(*)"),
    ("select distinct region from sales group by region", "Select distinct cannot be combined with group by"),
    ("select median(amount) from sales", "Unknown function median in median(amount)"),
    ("select sum(*) from sales", "Function sum takes a column, not *: sum(*)"),
    ("select avg(region) from sales", "Function avg needs a number column, not the string column region"),
    ("select sum(day) from sales", "Function sum needs a number column, not the date column day"),
    ("select count(nothing) from sales", "Column nothing is not defined for table sales"),
    ("select id from sales limit -1", "Invalid limit -1: expected a whole number from 0 to 4294967295"),
    ("select id from sales limit 4294967296", "Invalid limit 4294967296: expected a whole number from 0 to 4294967295"),
    ("select id from sales limit 1.5", "Invalid limit 1.5: expected a whole number from 0 to 4294967295"),
    ("select id from sales limit", "Missing number after 'limit'"),
    ("select count( from sales", "Unexpected token identified at pos 4: sales"),
    ("select id from sales group id", "Unexpected token identified at pos 5: id"),
])
def test_aggregate_refusals(sales, query, message):
    assert error(sales.executeSelect, query) == message


def test_every_way_out_names_and_types_the_answers(sales):
    result = sales.executeSelect("select region, count(*), sum(amount), avg(price), min(day) from sales "
                                 "group by region order by region limit 2")
    assert result.getColumnNames() == ["region", "count(*)", "sum(amount)", "avg(price)", "min(day)"]
    assert result.fetchAll() == list(result) == [("East", 1, 5, 1.0, D(2024, 1, 3)), ("North", 2, 10, 2.0, D(2024, 1, 1))]
    result.setRow(1)
    assert (result.getString(0), result.getInt(1), result.getFloat(3)) == ("North", 2, 2.0)
    assert result.toCSV() == ("region,count(*),sum(amount),avg(price),min(day)\n"
                              "East,1,5,1,2024-01-03\nNorth,2,10,2,2024-01-01")
    pa = pytest.importorskip("pyarrow")
    table = pa.table(result)
    assert table.column_names == result.getColumnNames()
    assert [str(t) for t in table.schema.types] == ["string", "int64", "int64", "double", "date32[day]"]


# Sums of integers are refused past the range of a long, never wrapped;
# sums of doubles carry each addition's rounding, so that values that
# cancel leave what a plain running sum would lose.
@pytest.mark.parametrize("kind, values, answer", [
    ("long", [2**62, 2**62], "The sum sum(v) is beyond the range of a long"),
    ("long", [-2**63, -1], "The sum sum(v) is beyond the range of a long"),
    ("long", [2**63 - 1, 1, -1], "The sum sum(v) is beyond the range of a long"),
    ("long", [2**63 - 1, -1, 1], (2**63 - 1, (2**63 - 1) / 3)),
    ("double", [1e16, 1, -1e16], (1.0, 1 / 3)),
    ("double", [1e100, 1, -1e100, 1], (2.0, 0.5)),
    ("double", [0.1] * 10, (1.0, 0.1)),
])
def test_sums_never_wrap_nor_drop_what_cancels(db, tmp_path, kind, values, answer):
    path = write_csv(tmp_path / "big.csv", ["k", "v"], [["x", v] for v in values])
    db.executeCommand(f"create table big (k string, v {kind})")
    db.executeCommand(f"load big from '{path}'")
    for query in ["select sum(v), avg(v) from big", "select k, sum(v), avg(v) from big group by k"]:
        if isinstance(answer, str):
            assert error(db.executeSelect, query) == answer
        else:
            assert db.executeSelect(query).fetchAll()[0][-2:] == answer


def float_key(value):
    """A floating-point group key as the answer must hold it: both zeros are
    one group, all NaNs another."""
    return "nan" if math.isnan(value) else value + 0.0


# Group keys by the tens of thousands (or a few close together and others
# far apart), each value on two rows far apart,
# with NULLs among them: enough distinct long texts with one beginning that
# some share the hash bits and the first bytes their groups are first told
# apart by, and texts of seven, eight and nine bytes, around the first word.
@pytest.mark.parametrize("kind, key, written, read", [
    ("int", lambda i: i * 7919 - 500000, str, lambda v: v),
    ("int", lambda i: i % 3000 - 1500 if i % 40 else (i << 14) - 2**31, str, lambda v: v),
    ("long", lambda i: (i - 60000) << 40, str, lambda v: v),
    ("string", lambda i: f"k{i}", str, lambda v: v),
    ("string", lambda i: f"group number {i}", str, lambda v: v),
    ("string", lambda i: f"{i:0{7 + i % 3}d}", str, lambda v: v),
    ("double", lambda i: [0.0, -0.0, math.nan, -math.nan][i] if i < 4 else i * 0.5 + 0.25,
     lambda v: ("-nan" if math.copysign(1, v) < 0 else "nan") if math.isnan(v) else repr(v), float_key),
])
def test_many_distinct_keys_make_one_group_each(db, tmp_path, kind, key, written, read):
    distinct = 102000
    rng = random.Random(36)
    rows = [(key(i), i % 9) for i in range(distinct) for _ in range(2)] + [(None, 5)] * 3
    rng.shuffle(rows)
    path = write_csv(tmp_path / "keys.csv", ["k", "v"], [["" if k is None else written(k), v] for k, v in rows])
    db.executeCommand(f"create table keys (k {kind} null, v int)")
    db.executeCommand(f"load keys from '{path}'")
    expected = {}
    for k, v in rows:
        count, total = expected.get(None if k is None else read(k), (0, 0))
        expected[None if k is None else read(k)] = (count + 1, total + v)
    answer = db.executeSelect("select k, count(*), sum(v) from keys group by k").fetchAll()
    assert len(answer) == len(expected)
    assert {None if k is None else read(k): (count, total) for k, count, total in answer} == expected


def test_a_grouped_answer_outlives_its_table(sales):
    result = sales.executeSelect("select region, count(*) from sales group by region order by region")
    sales.executeCommand("drop table sales")
    assert result.fetchAll()[0] == ("East", 1)


# Random queries against sqlite3, which has the same functions and the same
# NULL rules. Values are quarters, so that every sum is exact in both.

COLUMNS = ["id int", "g string", "c short", "d date", "b bool", "p int", "q int", "x double", "f float", "l long"]
LEVELS = {"g": 1, "c": 2, "d": 3, "b": 4}
GROUPABLE = ["g", "c", "d", "b", "p", "q", "x"]
NUMBERS = ["c", "p", "q", "x", "f", "l"]
CONSTANTS = {
    "id": ["0", "500", "1500"], "g": ["'k3'", "'k7'", "'a'"], "c": ["-2", "0", "3"],
    "d": ["'2021-03-05'", "'2021-03-09'"], "b": ["1", "0"], "p": ["-50", "0", "75"], "q": ["0", "3", "9"],
    "x": ["-1.25", "0", "2.5"], "f": ["-0.5", "1.75"], "l": ["0", "-1000000000000"],
}
TYPE_OF = {c.split()[0]: c.split()[1] for c in COLUMNS}


def random_value(rng, name, i):
    if name != "id" and rng.random() < 0.15:
        return None
    return {
        "id": lambda: i,
        "g": lambda: f"k{rng.randrange(12)}",
        "c": lambda: rng.randrange(-4, 5),
        "d": lambda: (D(2021, 3, 1) + datetime.timedelta(days=rng.randrange(12))).isoformat(),
        "b": lambda: rng.randrange(2),
        "p": lambda: rng.randrange(-100, 100),
        "q": lambda: rng.randrange(12),
        "x": lambda: rng.randrange(-12, 12) * 0.25,
        "f": lambda: rng.randrange(-40, 40) * 0.25,
        "l": lambda: rng.randrange(-10**12, 10**12),
    }[name]()


def random_table(rng, count):
    names = [c.split()[0] for c in COLUMNS]
    return [tuple(random_value(rng, name, i) for name in names) for i in range(count)]


def normal(value):
    if isinstance(value, D):
        return value.isoformat()
    if isinstance(value, float):
        return round(value, 9) + 0.0
    return value


def normalized(rows):
    return [tuple(normal(v) for v in row) for row in rows]


def random_aggregate(rng, table=""):
    function = rng.choice(["count", "sum", "avg", "min", "max", "COUNT", "Max"])
    if function.lower() == "count" and rng.random() < 0.4:
        return f"{function}(*)"
    column = rng.choice(NUMBERS if function.lower() in ("sum", "avg") else list(TYPE_OF))
    return f"{function}({table}{column})"


def random_query(rng, source, groupable=GROUPABLE):
    """A random aggregating query: tabulon's text, sqlite's text and whether
    it is ordered."""
    groups = rng.sample(groupable, rng.randint(0, 3))
    aggregates = [random_aggregate(rng, rng.choice(["", "t."])) for _ in range(rng.randint(1, 3))]
    where, _ = random_where(rng, lambda r: (f"{(n := r.choice(list(TYPE_OF)))} "
                                            f"{r.choice(['=', '!=', '<', '>=']) } {r.choice(CONSTANTS[n])}", None))
    where = f" where {where}" if rng.random() < 0.7 else ""
    group = f" group by {', '.join(groups)}" if groups else ""
    selected = ", ".join(groups + aggregates)
    ours = theirs = f"select {selected} from {source}{where}{group}"
    if groups and rng.random() < 0.6:
        # Ordered by an aggregate that avg cannot round differently, then by
        # every group column: a total order, cut by the limit.
        keys = [a for a in aggregates if not a.lower().startswith("avg")][:1] + groups
        desc = [rng.random() < 0.5 for _ in keys]
        ours += " order by " + ", ".join(k + (" desc" if d else "") for k, d in zip(keys, desc))
        theirs += " order by " + ", ".join(f"{k} is null, {k}" + (" desc" if d else "") for k, d in zip(keys, desc))
        limit = rng.randrange(12)
        ours += f" limit {limit}"
        theirs += f" limit {limit}"
        return ours, theirs, True
    return ours, theirs, False


def compare(db, lite, ours, theirs, ordered):
    mine = normalized(db.executeSelect(ours).fetchAll())
    other = normalized(lite.execute(theirs).fetchall())
    if ordered:
        assert mine == other, ours
    else:
        assert Counter(mine) == Counter(other), ours
    return len(other)


def load_both(db, tmp_path, name, definition, header, rows):
    path = write_csv(tmp_path / f"{name}.csv", header, [["" if v is None else v for v in row] for row in rows])
    db.executeCommand(f"create table {name} ({definition})")
    db.executeCommand(f"load {name} from '{path}'")


@pytest.fixture(params=["plain", "levels"])
def both(request, db, tmp_path):
    rng = random.Random(36)
    # With levels, enough rows for the tree to split its nodes on the first
    # level and some of them on the second; without, few enough for the
    # table to stay unconfigured.
    rows = random_table(rng, 12000 if request.param == "levels" else 3000)
    definition = ", ".join(c + (f" cat {LEVELS[c.split()[0]]}" if request.param == "levels" and c.split()[0] in LEVELS
                                else "") + ("" if c.startswith("id ") else " null") for c in COLUMNS)
    load_both(db, tmp_path, "t", definition, list(TYPE_OF), rows)
    keys = [(k, f"n{k % 5}" if k % 7 else None) for k in range(-3, 10)] + [(None, "none")]
    load_both(db, tmp_path, "dim", "dk int null, dn string null", ["dk", "dn"], keys)
    lite = sqlite3.connect(":memory:")
    lite.execute(f"create table t ({', '.join(COLUMNS)})")
    lite.executemany(f"insert into t values ({', '.join('?' * len(COLUMNS))})", rows)
    lite.execute("create table dim (dk int, dn string)")
    lite.executemany("insert into dim values (?, ?)", keys)
    return db, lite


def test_random_aggregates_agree_with_sqlite(both):
    db, lite = both
    rng = random.Random(3601)
    answered = 0
    for _ in range(400):
        # Half the queries group by tree levels only.
        ours, theirs, ordered = random_query(rng, "t", list(LEVELS) if rng.random() < 0.5 else GROUPABLE)
        answered += compare(db, lite, ours, theirs, ordered) > 0
    assert answered > 300


def test_random_aggregates_over_a_join_agree_with_sqlite(both):
    db, lite = both
    rng = random.Random(3602)
    for _ in range(150):
        compare(db, lite, *random_query(rng, "t join dim on q = dk", GROUPABLE + ["dn", "dk"]))


def test_random_distinct_agrees_with_sqlite(both):
    db, lite = both
    rng = random.Random(3603)
    for _ in range(100):
        columns = ", ".join(rng.sample(GROUPABLE, rng.randint(1, 3)))
        query = f"select distinct {columns} from t where p < {rng.randrange(-100, 100)}"
        compare(db, lite, query, query, False)
