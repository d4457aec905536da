"""Every error message reachable from Python, each followed by a check that
the database still answers its reference queries exactly as before.

Messages that only internal code can raise (tree validation, path store,
node layout, index handles, native getters that Python does not bind) are
covered by the C++ tests; this file drives everything a Python program can
run into: command dispatch and grammar, table definition and loading, query
building and the cursor (the configuration file has its own tests).
"""

from collections import deque

import pytest

import tabulon
from conftest import BAD_BOOL, BAD_DATE, INVALID, error, rows

TOO_LONG = "Text of {} bytes is too long: a text value holds at most 65535 bytes including its terminating NUL"

COLUMNS = "id int, g string, k int, x double, day date, flag bool"
LEVELS = "id int, g string cat 1, k int cat 2, x double, day date, flag bool"

REFERENCE_QUERIES = [
    "select * from p order by id",
    "select * from c order by id",
    "select * from s order by id desc",
    "select id, x from c where (g = east or k > 2) and flag = 1 order by x desc, id",
    "select id, k, day from s where day >= 2024-01-10 or x < 0 order by day, id",
    "select id, g, k from p join c on id = id where k != 3 order by id",
]


def balanced_order(count):
    """0 .. count - 1 in breadth-first order of a balanced search tree: values
    arriving in this order get category numbers without renumbering."""
    order, ranges = [], deque([(0, count - 1)])
    while ranges:
        low, high = ranges.popleft()
        if low <= high:
            middle = (low + high) // 2
            order.append(middle)
            ranges.extend([(low, middle - 1), (middle + 1, high)])
    return order


@pytest.fixture
def session(tmp_path):
    data = ["id,g,k,x,day,flag"]
    regions = ["east", "west", "north", "south"]
    for i in range(60):
        data.append(f"{i},{regions[i % 4]},{i % 5},{i * 0.5 - 7},2024-01-{10 + i % 20},{'true' if i % 3 == 0 else 0}")
    (tmp_path / "data.csv").write_text("\n".join(data) + "\n")
    (tmp_path / "sample.csv").write_text("a,b\n1,true\n2,perhaps\n")
    db = tabulon.DatabaseParser()
    db.executeCommand(f"create table p ({COLUMNS})")
    db.executeCommand(f"create table c ({LEVELS})")
    db.executeCommand(f"create table s ({COLUMNS}) config from {tmp_path / 'data.csv'}")
    db.executeCommand(f"create table w ({COLUMNS})")
    for table in "pcs":
        db.executeCommand(f"load {table} from {tmp_path / 'data.csv'}")
    reference = {query: rows(db, query) for query in REFERENCE_QUERIES}

    def unchanged():
        for query, expected in reference.items():
            assert rows(db, query) == expected, query

    return db, tmp_path, unchanged


def statement_refusals(d):
    return [
        ("select * from p", "Function supports all non-select statements"),
        ("drop p", "Unexpected token identified at pos 1: p"),
        ("load p into x", "Unexpected token identified at pos 2: into"),
        ("create table z (a int) config data.csv", "Unexpected token identified at pos 8: data.csv"),
        ("create table z (a 'int", "Unmatched quotation mark in token 'int"),
        ("create table z (a Integer)", "Column type integer is not supported"),
        ("create table z (a int cat '')", "Category number is empty for column a"),
        (f"create table p (a int) config from {d / 'data.csv'}", "Table p already exists"),
        ("create table p (a int)", "Table is already defined - unable to initialize p"),
        ("create table z (a int cat 2, b int cat 2)", "Multiple columns mapped to the same category 2"),
        ("create table z (a int, a string)", "Column a is defined twice in table z"),
        ("create table", "Table name is empty"),
        ("create table z (", "Table z has no columns"),
        ("create table z", "Table z has no columns"),
        ("create table '' (a int)", "Table name is empty"),
        # Refused while sampling the file: the table is not created.
        (f"create table z (a int, b bool) config from {d / 'sample.csv'}", BAD_BOOL.format("perhaps")),
        (f"create table z (a int) config from {d / 'sample.csv'}",
         f"Incorrect number of columns in input file {d / 'sample.csv'}, line: 1,true"),
        (f"create table z (a int) config from {d / 'missing.csv'}", f"Unable to read file {d / 'missing.csv'}"),
        (f"load nope from {d / 'data.csv'}", "Table nope is not defined"),
        (f"load p from {d / 'missing.csv'}", f"Unable to read file {d / 'missing.csv'}"),
        (f"load p from {d}", f"Unable to read file {d}"),
        ("load p from", "Unable to read file "),
        ("drop table nope", "Table nope is not defined"),
        ("drop table", "Table  is not defined"),
        ("drop table " + "," * 70000, "Command has more than 65535 tokens"),
    ]


QUERY_REFUSALS = [
    ("drop table p", "Function supports only select statements"),
    ("  ", "Empty SELECT statement"),
    ("select id from p extra", "Invalid token identified: extra"),
    ("select id from p where g = 'x", "Unmatched quotation mark in token 'x"),
    ("select id from", "Empty table name in the select query"),
    ("select id from nope", "Table nope is not defined"),
    ("select q from p", "Column q is not defined for table p"),
    ("select id from c where q = 1", "Column q is not defined for table c"),
    ("select id from p where id like 3", "Unsupported select condition operator like"),
    ("select id from c where (id = 1))", "Invalid boolean expression - unmatched brackets"),
    ("select id from p where flag = yes", BAD_BOOL.format("yes")),
    ("select id from p where day = 2024-13-45", BAD_DATE.format("2024-13-45")),
    ("select id from c where g = " + "x" * 70000, TOO_LONG.format(70001)),
    ("select id from p where" + " id = 1 or" * 16400 + " id = 1", "Command has more than 65535 tokens"),
    ("select id from p join c on id = id join s on id = id", "Only 1 join condition allowed"),
    ("select id from p join c on id = zz", "Column zz is not defined"),
    ("select zz from p join c on id = id", "Column zz is not defined"),
    ("select id from p join c on g = k", "Join columns g and k have different types"),
    ("select " + ",".join(["*"] * 10923) + " from p", "Select list has more than 65535 columns"),
    ("select " + ",".join(["*"] * 5462) + " from p join c on id = id", "Select list has more than 65535 columns"),
]


def test_refused_statements_change_nothing(session):
    db, d, unchanged = session
    for command, expected in statement_refusals(d):
        assert error(db.executeCommand, command) == expected, command[:80]
        unchanged()
    assert error(db.executeSelect, "select * from z") == "Table z is not defined"


@pytest.mark.parametrize("query, expected", QUERY_REFUSALS, ids=[q[:50] for q, _ in QUERY_REFUSALS])
def test_refused_queries_change_nothing(session, query, expected):
    db, _, unchanged = session
    assert error(db.executeSelect, query) == expected
    unchanged()


WIDE = "id int, a string, k int, x double, day date, b string"


@pytest.mark.parametrize(
    "columns, bad_line, expected",
    [
        (LEVELS, "3,east,1", "Incorrect number of columns in input file {file}, line: 3,east,1"),
        (LEVELS, "3,east,1,2.5,2024-01-01,maybe", BAD_BOOL.format("maybe")),
        (COLUMNS, "3,east,1,2.5,01/02/2024,1", BAD_DATE.format("01/02/2024")),
        # 18 bytes of numbers and a date, then two texts with their NULs.
        (WIDE, "3," + "a" * 40000 + ",1,2.5,2024-01-01," + "b" * 30000,
         "Row of 70020 bytes in input file {file} is too long: a stored row holds at most 65535 bytes"),
    ],
    ids=["columns", "bool", "date", "row length"],
)
def test_a_bad_row_keeps_the_rows_before_it(session, columns, bad_line, expected):
    db, d, unchanged = session
    db.executeCommand(f"create table loaded ({columns})")
    path = d / "bad.csv"
    path.write_text(
        "id,g,k,x,day,flag\n"
        "1,east,1,0.5,2024-02-01,1\n"
        f"2,west,2,1.5,2024-02-02,0\n{bad_line}\n"
        "4,east,1,0.5,2024-02-03,1\n"
    )
    assert error(db.executeCommand, f"load loaded from {path}") == expected.format(file=path)
    assert rows(db, "select id from loaded order by id") == [("1",), ("2",)]
    # The table takes further rows and finds them by value.
    db.executeCommand(f"load loaded from {d / 'data.csv'}")
    assert len(rows(db, "select id from loaded where k = 1 and id < 60")) == 13
    unchanged()


def test_bytes_that_are_not_utf8_are_replaced_in_messages_and_texts(session):
    db, d, unchanged = session
    (d / "latin1.csv").write_bytes(b"id,g,k,x,day,flag\n1,caf\xe9,1,0.5,2024-02-01,1\n"
                                   b"2,caf\xe9,1,0.5,2024-02-01\n3,caf\xe9,1,0.5,2024-02-01,s\xed\n")
    db.executeCommand(f"create table latin ({LEVELS})")
    assert error(db.executeCommand, f"load latin from {d / 'latin1.csv'}") == (
        f"Incorrect number of columns in input file {d / 'latin1.csv'}, line: 2,caf\ufffd,1,0.5,2024-02-01")
    cursor = db.executeSelect("select g from latin")
    cursor.setRow(0)
    assert cursor.getString(0) == "caf\ufffd" == cursor.fetchAll()[0][0]
    (d / "latin1.csv").write_bytes(b"id,g,k,x,day,flag\n3,caf\xe9,1,0.5,2024-02-01,s\xed\n")
    assert error(db.executeCommand, f"load latin from {d / 'latin1.csv'}") == BAD_BOOL.format("s\ufffd")
    unchanged()


def test_full_category_levels_refuse_the_next_value(session):
    db, d, unchanged = session
    texts = [f"v{100000 + i}" for i in balanced_order(40001)] + ["w"]
    (d / "texts.csv").write_text("t\n" + "\n".join(texts) + "\n")
    db.executeCommand("create table many (t string cat 1)")
    assert error(db.executeCommand, f"load many from {d / 'texts.csv'}") == (
        "Category exceeds max size of 40000, unable to add value w")
    assert db.executeSelect("select t from many").getNumberOfRows() == 40001

    # 40000 numbers spaced without renumbering, then values below all of them
    # until the map is renumbered evenly, leaving neighbours one apart.
    evens = [100 + 2 * i for i in balanced_order(40000)] + list(range(99, 79, -1))
    (d / "evens.csv").write_text("v\n" + "\n".join(map(str, evens)) + "\n")
    (d / "odds.csv").write_text("v\n" + "\n".join(str(101 + 2 * i) for i in range(40000)) + "\n")
    db.executeCommand("create table dense (v int cat 1)")
    db.executeCommand(f"load dense from {d / 'evens.csv'}")
    assert error(db.executeCommand, f"load dense from {d / 'odds.csv'}") == (
        "Unable to add another value to column 0. Column should be setup as non-category.")
    unchanged()


def test_cursor_refusals(session):
    db, d, unchanged = session
    cursor = db.executeSelect("select g, x from p where id < 3 order by id")
    assert error(cursor.getInt, 0) == "Unable to convert column 0 to long. Incompatible data type."
    assert error(cursor.getFloat, 0) == "Unable to convert column 0 to double. Incompatible data type."
    assert error(cursor.setRow, 3) == "Row 3 is out of range: the result has 3 rows"
    assert error(cursor.getString, 2) == "Column 2 is out of range: the result has 2 columns"
    empty = db.executeSelect("select g from p where id > 1000")
    assert error(empty.getString, 0) == "The query result has no rows"
    assert error(tabulon.QuerySet().getString, 0) == "The cursor holds no query result"

    (d / "huge.csv").write_text("v\n1e300\n")
    db.executeCommand("create table huge (v double)")
    db.executeCommand(f"load huge from {d / 'huge.csv'}")
    assert error(db.executeSelect("select v from huge").getInt, 0) == (
        "Unable to convert column 0 to long. Value out of range.")

    db.executeCommand(f"load w from {d / 'data.csv'}")
    stale = db.executeSelect("select id from w")
    db.executeCommand(f"load w from {d / 'data.csv'}")
    assert error(stale.getString, 0) == INVALID.format("w")
    assert cursor.getString(0) == "east"  # a result over other tables stays valid
    unchanged()
