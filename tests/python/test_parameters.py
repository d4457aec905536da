"""Values bound to ? placeholders: every column type and operator against
sqlite3 binding the same values, against the same value written into the
command, hostile text that must stay a value, and refused counts, places
and types."""

import datetime
import math
import pathlib
import sqlite3

import pytest

import tabulon
from conftest import BAD_BOOL, BAD_DATE

HOSTILE = ["O'Brien", "x' or txt != 'zzz", "a) or (b", "?", "'?'", 'say "hi"', "or", "", "it''s", "(", "x,y"]
COLUMNS = "id int, i int, s short, l long, d double, f float, txt string, b bool, day date"
LEVELS = ("id int, i int cat 1, s short cat 2, l long cat 3, d double cat 4, f float cat 5, txt string cat 6, "
          "b bool cat 7, day date cat 8")
START = datetime.date(2024, 1, 1)


def generate():
    rows = []
    for k in range(120):
        text = HOSTILE[k % len(HOSTILE)] if k % 3 else f"t{k % 17:02d}"
        rows.append((k, k % 23 - 11, k * 37 % 101 - 50, 10**12 + k * 7919 % 97, (k % 13) * 0.1 - 0.6,
                     (k % 9) * 0.25 - 1, text, k % 2, START + datetime.timedelta(days=k % 40)))
    return rows


def csv_field(value):
    if isinstance(value, str):
        return '"' + value.replace('"', '""') + '"'
    return value.isoformat() if isinstance(value, datetime.date) else repr(value)


@pytest.fixture(scope="module")
def engines(tmp_path_factory):
    """The same rows in tabulon, plain and with tree levels, and in sqlite3;
    a small table u to join with."""
    path = tmp_path_factory.mktemp("params") / "rows.csv"
    rows = generate()
    path.write_text("h\n" + "".join(",".join(csv_field(v) for v in row) + "\n" for row in rows))
    db = tabulon.DatabaseParser()
    db.executeCommand(f"create table tp ({COLUMNS})")
    db.executeCommand(f"create table tc ({LEVELS})")
    db.executeCommand("create table u (k int, name string)")
    for table in ("tp", "tc"):
        db.executeCommand(f"load {table} from ?", [path])
    u_path = path.with_name("u.csv")
    u_path.write_text("k,name\n" + "".join(f"{k},{csv_field(HOSTILE[k % len(HOSTILE)])}\n" for k in range(-11, 12)))
    db.executeCommand("load u from ?", [str(u_path)])
    lite = sqlite3.connect(":memory:")
    for table in ("tp", "tc"):
        lite.execute(f"create table {table} (id, i, s, l, d, f, txt, b, day)")
        lite.executemany(f"insert into {table} values (?,?,?,?,?,?,?,?,?)",
                         [tuple(v.isoformat() if isinstance(v, datetime.date) else v for v in row) for row in rows])
    lite.execute("create table u (k, name)")
    lite.executemany("insert into u values (?, ?)", [(k, HOSTILE[k % len(HOSTILE)]) for k in range(-11, 12)])
    return db, lite


def ours(db, query, params):
    return [tuple(v.isoformat() if isinstance(v, datetime.date) else int(v) if isinstance(v, bool) else v
                  for v in row) for row in db.executeSelect(query, params).fetchAll()]


def sqlite_params(params):
    return [p.isoformat() if isinstance(p, datetime.date) else p for p in params]


OPERATORS = ["=", "!=", "<", "<=", ">", ">="]
# Per column, values of the types sqlite3 compares as tabulon does; the
# written form is how the same value reads when written into the command.
VALUES = {
    "i": [(5, "5"), (-11, "-11"), (2.5, "2.5"), (3000000000, "3000000000"), (-1e30, "-1e30"), (True, "1")],
    "s": [(-50, "-50"), (40000, "40000"), (7.75, "7.75")],
    "l": [(10**12 + 48, "1000000000048"), (2**63 - 1, "9223372036854775807"), (-(2**63), "-9223372036854775808")],
    "d": [(0.1 * 3 - 0.6, None), (-0.0, "-0"), (0.0, "0"), (1e300, "1e300"), (3, "3"), (-0.6, "-0.6")],
    "f": [(0.25, "0.25"), (-1, "-1"), (1.5, "1.5"), (10.0, "10")],
    "txt": [(text, None) for text in HOSTILE] + [("t05", "t05"), ("zzz", "zzz")],
    "b": [(True, "true"), (False, "false"), (1, "1"), (0, "0")],
    "day": [(datetime.date(2024, 1, 15), "2024-01-15"), (datetime.date(2023, 12, 31), "2023-12-31"),
            (datetime.date(2024, 2, 9), "2024-02-09")],
}
CASES = [(table, column, op, value, written) for table in ("tp", "tc") for column, values in VALUES.items()
         for value, written in values for op in OPERATORS]


@pytest.mark.parametrize("table, column, op, value, written", CASES)
def test_every_type_and_operator_answers_as_sqlite_and_as_written(engines, table, column, op, value, written):
    db, lite = engines
    query = f"select id, {column} from {table} where {column} {op} ? order by id"
    expected = lite.execute(query, sqlite_params([value])).fetchall()
    assert ours(db, query, [value]) == expected
    if written is not None:
        assert ours(db, query.replace("?", written), None) == expected


# Placeholders among brackets, connectors, quoted text holding a ?, and in
# a join, on either table's columns, qualified or not.
COMPOUND = [
    ("select id from tp where (txt = ? or i > ?) and b = ? order by id", ["a) or (b", 8, True]),
    ("select id from tc where txt = ? or txt = '?' order by id", ["x' or txt != 'zzz"]),
    ("select id from tc where txt = '?' and id > ? order by id", [3]),
    ("select id from tp where txt != ? and txt != ? and day >= ? order by id", ["?", "", datetime.date(2024, 2, 1)]),
    ("select tp.id, u.name from tp join u on tp.i = u.k where u.name = ? order by tp.id", ["O'Brien"]),
    ("select tc.id, u.k from tc join u on tc.i = u.k where u.k >= ? and tc.txt = ? order by tc.id", [0, "?"]),
    ("select tc.id from tc join u on tc.i = u.k where (name = ? or name = ?) and f < ? order by tc.id",
     ['say "hi"', "it''s", 0.5]),
]


@pytest.mark.parametrize("query, params", COMPOUND)
def test_hostile_values_in_compound_and_joined_conditions_answer_as_sqlite(engines, query, params):
    db, lite = engines
    expected = lite.execute(query, sqlite_params(params)).fetchall()
    assert expected, "a case that keeps no row proves little"
    assert ours(db, query, params) == expected


def test_without_params_a_question_mark_is_text(engines):
    db, _ = engines
    query = "select id from tp where txt = ? order by id"
    with_text = [(k,) for k in range(120) if k % 3 and HOSTILE[k % len(HOSTILE)] == "?"]
    assert ours(db, query, None) == ours(db, query.replace("?", "'?'"), None) == with_text
    assert db.executeSelect("select id from tp where txt = ?", ["?"]).fetchAll() == with_text


class Path:
    def __init__(self, path):
        self.path = path

    def __fspath__(self):
        return self.path


class Untakeable:
    """Speaks Arrow, but fails the test if its stream is ever taken."""

    def __arrow_c_stream__(self, requested_schema=None):
        raise AssertionError("the stream was taken")


class StreamingPath(Path, Untakeable):
    """A path first: its stream is never taken."""


def test_file_names_as_parameters(engines, tmp_path):
    db, _ = engines
    path = tmp_path / "it's, (a) file?.csv"
    path.write_text("a,b\n1,x\n2,y\n")
    db.executeCommand("create table f1 (a int, b string cat 1) config from ? separator ','", [path])
    db.executeCommand("load f1 from ?", [Path(str(path))])
    db.executeCommand("load f1 from ? separator ','", [Path(bytes(path))])
    db.executeCommand("load f1 from ?", [StreamingPath(str(path))])
    assert db.executeSelect("select a from f1 where b = ?", ["y"]).fetchAll() == [(2,), (2,), (2,)]
    db.executeCommand("drop table f1")


MISPLACED = "Placeholder ? at pos {} cannot stand for the {}: a parameter is a value or a file name"
MISCOUNTED = "Command has {} placeholder(s) ? but {} parameter(s) were given"

REFUSED = [
    ("select id from tp where i = ?", [], tabulon.ParseError, MISCOUNTED.format(1, 0)),
    ("select id from tp where i = ? and s = ?", [1], tabulon.ParseError, MISCOUNTED.format(2, 1)),
    ("select id from tp where txt = '?'", [1], tabulon.ParseError, MISCOUNTED.format(0, 1)),
    ("", [1], tabulon.ParseError, MISCOUNTED.format(0, 1)),
    ("select ? from tp", ["id"], tabulon.ParseError, MISPLACED.format(1, "column")),
    ("select id from ?", ["tp"], tabulon.ParseError, MISPLACED.format(3, "table name")),
    ("select id from tp where ? = 1", ["i"], tabulon.ParseError, MISPLACED.format(5, "column")),
    ("select id from tp where i ? 1", ["="], tabulon.ParseError, MISPLACED.format(6, "operator")),
    ("select id from tp order by ?", ["id"], tabulon.ParseError, MISPLACED.format(6, "column")),
    ("select id from tp join u on i = ?", ["k"], tabulon.ParseError, MISPLACED.format(9, "column")),
    ("select id from tp where i is ?", [None], tabulon.ParseError,
     "Unsupported condition i is ?: only null can follow is or is not"),
    ("select id from tp where i = ?", [None], tabulon.ParseError,
     "Parameter 1 is None, which no comparison matches: test for a missing value with 'is null' or 'is not null'"),
    ("select id from tp where i = 1 or d > ?", [None], tabulon.ParseError,
     "Parameter 1 is None, which no comparison matches: test for a missing value with 'is null' or 'is not null'"),
    ("select id from tp where i = ?", [datetime.date(2024, 1, 1)], tabulon.LoadError,
     "Parameter 1 is a date, which column i of type int cannot compare with"),
    ("select id from tp where b = ? or b = ?", [True, datetime.date(2024, 1, 1)], tabulon.LoadError,
     "Parameter 2 is a date, which column b of type bool cannot compare with"),
    ("select id from tc where l < ?", [math.nan], tabulon.LoadError,
     "Parameter 1 is NaN, which column l of type long cannot compare with"),
    ("select id from tp where day = ?", [datetime.date(1969, 12, 31)], tabulon.LoadError,
     BAD_DATE.format("1969-12-31")),
    ("select id from tc where b = ?", [5], tabulon.LoadError, BAD_BOOL.format("5")),
    ("select id from tp where zz = ?", [1], tabulon.UnknownNameError, "Column zz is not defined for table tp"),
    ("load tp from ?", [5], tabulon.LoadError,
     "Parameter 1 stands for a file name, which must be a str, not an int"),
    ("load tp from ?", ["/nonexistent/x.csv"], tabulon.LoadError, "Unable to read file /nonexistent/x.csv"),
    ("load ? from x.csv", ["tp"], tabulon.ParseError, MISPLACED.format(1, "table name")),
    ("drop table ?", ["tp"], tabulon.ParseError, MISPLACED.format(2, "table name")),
    ("create table z (a ?)", ["int"], tabulon.ParseError, MISPLACED.format(5, "column type")),
    # Refused by Python's rules before the command runs.
    ("select id from tp where txt = ?", [b"x"], TypeError, "parameter 1 is a bytes; parameters are int, float, "
     "str, bool, datetime.date, None, os.PathLike or, for a file name, an object with __arrow_c_stream__"),
    ("select id from tp where i = ? or txt = ?", [1, Untakeable()], TypeError, "parameter 2 is a Untakeable, an "
     "Arrow stream, which only executeCommand reads, for the file name of load ... from ? or config from ?"),
    ("select id from tp where day = ?", [datetime.datetime(2024, 1, 1)], TypeError,
     "parameter 1 is a datetime.datetime, which no column holds: pass its date() for a date column"),
    ("select id from tp where l = ?", [2**64], OverflowError, f"parameter 1 is an int beyond 64 bits: {2**64}"),
    ("select id from tp where txt = ?", ["a\0b"], ValueError, "parameter 1 holds a null character"),
    ("select id from tp where txt = ?", "abc", TypeError,
     "params must be a sequence of values, such as a list or a tuple, not str"),
    ("select id from tp where txt = ?", {"txt": 1}, TypeError,
     "params must be a sequence of values, such as a list or a tuple, not dict"),
    ("select id from tp where txt = ?", 5, TypeError,
     "params must be a sequence of values, such as a list or a tuple, not int"),
]


@pytest.mark.parametrize("command, params, error, message", REFUSED)
def test_refused_parameters(engines, command, params, error, message):
    db, _ = engines
    before = ours(db, "select * from tc order by id", None)
    run = db.executeSelect if command.startswith("select") else db.executeCommand
    with pytest.raises(error) as caught:
        run(command, params)
    assert type(caught.value) is error and str(caught.value) == message
    assert ours(db, "select * from tc order by id", None) == before
