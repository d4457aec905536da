"""Every error message reachable from Python, each followed by a check that
the database still answers its reference queries exactly as before.

Messages that only internal code can raise (tree validation, path store,
node layout, index handles, native getters that Python does not bind) are
covered by the C++ tests; this file drives everything a Python program can
run into: command dispatch and grammar, table definition and loading, query
building and the cursor (the configuration file has its own tests).
"""

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
        (f"create table z (a int, b bool) config from {d / 'sample.csv'}",
         BAD_BOOL.format("perhaps") + f", line 3 of {d / 'sample.csv'}"),
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


@pytest.mark.parametrize(
    "bad_line, expected",
    [
        ("3,east,1", "Incorrect number of columns in input file {file}, line: 3,east,1"),
        ("3,east,1,2.5,2024-01-01,maybe", BAD_BOOL.format("maybe") + ", line {line} of {file}"),
        ("3,east,1,2.5,01/02/2024,1", BAD_DATE.format("01/02/2024") + ", line {line} of {file}"),
        # 19 bytes of fixed-width values, then the text and its NUL.
        ("3," + "a" * 70000 + ",1,2.5,2024-01-01,1",
         "Row of 70020 bytes is too long: a stored row holds at most 65535 bytes, line {line} of {file}"),
    ],
    ids=["columns", "bool", "date", "row length"],
)
def test_a_failed_load_changes_nothing(session, bad_line, expected):
    db, d, unchanged = session
    # New values for every level (k below all of them renumbers its map).
    good = [f"{100 + i},r{i % 50},{-1 - i},1.5,2024-03-01,1" for i in range(400)]
    path = d / "bad.csv"
    for table in "pcsw":
        stored = rows(db, f"select * from {table}")
        before = db.executeSelect(f"select * from {table}")
        for at in (0, 200, 400):
            path.write_text("id,g,k,x,day,flag\n" + "\n".join(good[:at] + [bad_line] + good[at:]) + "\n")
            assert error(db.executeCommand, f"load {table} from {path}") == expected.format(file=path, line=at + 2)
            assert rows(db, f"select * from {table}") == stored
            assert before.fetchAll() == db.executeSelect(f"select * from {table}").fetchAll()
        unchanged()
    # The fixed file adds each row once.
    path.write_text("id,g,k,x,day,flag\n" + "\n".join(good) + "\n")
    db.executeCommand(f"load w from {path}")
    assert len(db.executeSelect("select id from w where id >= 100")) == 400


def test_bytes_that_are_not_utf8_are_replaced_in_messages_and_texts(session):
    db, d, unchanged = session
    path = d / "latin1.csv"
    db.executeCommand(f"create table latin ({LEVELS})")
    path.write_bytes(b"id,g,k,x,day,flag\n1,caf\xe9,1,0.5,2024-02-01,1\n")
    db.executeCommand(f"load latin from {path}")
    cursor = db.executeSelect("select g from latin")
    cursor.setRow(0)
    assert cursor.getString(0) == "caf\ufffd" == cursor.fetchAll()[0][0]
    path.write_bytes(b"id,g,k,x,day,flag\n2,caf\xe9,1,0.5,2024-02-01\n")
    assert error(db.executeCommand, f"load latin from {path}") == (
        f"Incorrect number of columns in input file {path}, line: 2,caf\ufffd,1,0.5,2024-02-01")
    path.write_bytes(b"id,g,k,x,day,flag\n3,caf\xe9,1,0.5,2024-02-01,s\xed\n")
    assert error(db.executeCommand, f"load latin from {path}") == BAD_BOOL.format("s\ufffd") + f", line 2 of {path}"
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
