"""A numeric constant in a where clause compares as the number it is, never
cut to an integer or wrapped to the column's width: on short, int and long
columns, plain and categorised, alone and joined, inside "and", "or" and
brackets, every operator keeps the rows sqlite3 keeps on the same values."""

import random
import sqlite3
from fractions import Fraction

import pytest

import tabulon
from conftest import random_where, write_csv

BITS = {"short": 16, "int": 32, "long": 64}
OPERATORS = ["=", "!=", "<", ">", "<=", ">="]
# Rows per value in the single tables: enough for a categorised table to
# split into a node per value, whose path answers a condition for all its
# rows.
REPEATS = 1500
LAYOUTS = {"plain": "", "categorised": " cat 1"}


def bounds(kind):
    bits = BITS[kind]
    return -(2 ** (bits - 1)), 2 ** (bits - 1) - 1


def stored_values(kind):
    low, high = bounds(kind)
    return sorted({low, low + 1, low + 2, -1001, -3, -1, 0, 1, 2, 3, 999, 1000, 1001, high - 2, high - 1, high})


def constants(kind):
    """Each bound, one past it and far past it, fractions next to the
    bounds, fractions and exponent forms between stored values, and
    constants beyond 64 bits."""
    low, high = bounds(kind)
    return [str(low), str(high), str(low - 1), str(high + 1), str(2 * low), str(2 * high), f"{low}.5", f"{high}.5",
            f"{low + 1}.5", f"{high - 1}.5", "2.5", "-2.5", "2.0", "2.", ".5", "-.5", "-0", "0.0", "1e3", "1E3",
            "+1e3", "1e+3", "10e2", "1000.5", "999.9", "1e-3", "-1e-3", "25e-1", "0.25e1", "3000000000",
            "-3000000000", "1e19", "-1e19", "99999999999999999999", "-99999999999999999999", "1e30", "-1e300"]


def sqlite_exact(text):
    """Whether sqlite3 reads the constant as the number it is: an integer
    literal of 64 bits, or a number a double holds."""
    value = Fraction(text)
    if value.denominator == 1 and -(2**63) <= value < 2**63 and all(c not in text for c in ".eE"):
        return True
    return Fraction(float(text)) == value


def exact_holds(value, op, text):
    c = Fraction(text)
    return {"=": value == c, "!=": value != c, "<": value < c, ">": value > c, "<=": value <= c, ">=": value >= c}[op]


def sqlite_table(values, name="t", column="v"):
    connection = sqlite3.connect(":memory:")
    connection.execute(f"create table {name} (id integer, {column} integer)")
    connection.executemany(f"insert into {name} values (?, ?)", list(enumerate(values)))
    return connection


@pytest.fixture(scope="module", params=list(BITS))
def single(request, tmp_path_factory):
    """Per integer type: a tabulon database with the values REPEATS times
    over, shuffled, in a plain and in a categorised table, and sqlite3 with
    each value once."""
    kind = request.param
    values = stored_values(kind)
    lines = [(i, v) for i, v in enumerate(values * REPEATS)]
    random.Random(7).shuffle(lines)
    path = write_csv(tmp_path_factory.mktemp("constants") / "values.csv", ["id", "v"], lines)
    db = tabulon.DatabaseParser()
    for layout, cat in LAYOUTS.items():
        db.executeCommand(f"create table {layout} (id int, v {kind}{cat})")
        db.executeCommand(f"load {layout} from '{path}'")
    return kind, values, db, sqlite_table(values)


def tabulon_values(db, table, where):
    return sorted(db.executeSelect(f"select v from {table} where {where}").getColumn(0))


def test_every_operator_against_every_constant(single):
    kind, values, db, lite = single
    for text in constants(kind):
        for op in OPERATORS:
            if sqlite_exact(text):
                passing = [v for (v,) in lite.execute(f"select v from t where v {op} {text}")]
            else:
                passing = [v for v in values if exact_holds(v, op, text)]
            expected = sorted(passing * REPEATS)
            for layout in LAYOUTS:
                assert tabulon_values(db, layout, f"v {op} {text}") == expected, (layout, op, text)
                assert tabulon_values(db, layout, f"v {op} '{text}'") == expected, (layout, op, text)


def exact_condition(kind, column):
    exact = [text for text in constants(kind) if sqlite_exact(text)]

    def condition(rng):
        return f"{column} {rng.choice(OPERATORS)} {rng.choice(exact)}", None

    return condition


def test_clauses_with_and_or_brackets(single):
    # Conditions that hold for every row or none stand in "and", "or" and
    # brackets as any other does.
    kind, _, db, lite = single
    rng = random.Random(11)
    for _ in range(80):
        where, _ = random_where(rng, exact_condition(kind, "v"))
        passing = [v for (v,) in lite.execute(f"select v from t where {where}")]
        for layout in LAYOUTS:
            assert tabulon_values(db, layout, where) == sorted(passing * REPEATS), (layout, where)


@pytest.mark.parametrize("kind", list(BITS))
@pytest.mark.parametrize("left", list(LAYOUTS))
@pytest.mark.parametrize("right", list(LAYOUTS))
def test_joined_conditions_on_both_sides(kind, left, right, tmp_path):
    values = stored_values(kind)
    partners = [values[(7 * i) % len(values)] for i in range(len(values))]
    db = tabulon.DatabaseParser()
    for table, column, cat, column_values in (("m", "v", LAYOUTS[left], values), ("s", "w", LAYOUTS[right], partners)):
        key = "id" if table == "m" else "sid"
        path = write_csv(tmp_path / f"{table}.csv", [key, column], list(enumerate(column_values)))
        db.executeCommand(f"create table {table} ({key} int, {column} {kind}{cat})")
        db.executeCommand(f"load {table} from '{path}'")
    lite = sqlite_table(values, "m", "v")
    lite.execute("create table s (sid integer, w integer)")
    lite.executemany("insert into s values (?, ?)", list(enumerate(partners)))
    rng = random.Random(13)
    sides = [exact_condition(kind, "v"), exact_condition(kind, "w")]
    for _ in range(60):
        where, _ = random_where(rng, lambda r: r.choice(sides)(r))
        query = f"select id from m join s on id = sid where {where}"
        expected = sorted(i for (i,) in lite.execute(query))
        assert sorted(db.executeSelect(query).getColumn(0)) == expected, query
