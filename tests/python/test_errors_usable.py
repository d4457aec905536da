"""Refused commands and cursor reads through Python, each followed by a
check that the database still answers its reference queries exactly as
before. Grammar refusals are in test_grammar.py and join refusals in
test_join.py; the C++ failed-command tests run these refusals and failed
loads against the engine itself, validating every tree after each."""

import gzip
import re

import pytest

import tabulon
from conftest import BAD_BOOL, BAD_DATE, INVALID, error, gzip_members, gzip_outcome, rows

LINE_BREAK_SEPARATOR = "Separator cannot be a line break: line feeds and carriage returns end lines"
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
    (tmp_path / "open.csv").write_text('a,b\n1,x\n2,"y\n3,z\n')
    (tmp_path / "lines.csv").write_text('a,b,c\n1,"x\ny",true\n2,"z\n",perhaps\n')
    (tmp_path / "lines.csv.gz").write_bytes(gzip_members((tmp_path / "lines.csv").read_bytes(), 7))
    packed = bytearray(gzip.compress("\n".join(data).encode()))
    (tmp_path / "cut.gz").write_bytes(packed[:len(packed) // 2])
    (tmp_path / "garbage.gz").write_bytes(packed + b"\0\0\0\0")
    packed[-8] ^= 1  # the checksum of the text
    (tmp_path / "damaged.gz").write_bytes(packed)
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
        ("drop p", "Unexpected token identified at pos 1: p"),
        ("load p into x", "Unexpected token identified at pos 2: into"),
        ("create table z (a int) config data.csv", "Unexpected token identified at pos 8: data.csv"),
        ("create table z (a Integer)", "Column type integer is not supported"),
        ("create table z (a int cat '')", "Category number is empty for column a"),
        ("create table z (a int, a string)", "Column a is defined twice in table z"),
        ("create table", "Missing table name after 'table'"),
        ("create table z (", "Missing column definition after '('"),
        ("create table z", "Missing '(' after 'z'"),
        ("create table '' (a int)", "Table name is empty"),
        # Refused while sampling the file: the table is not created.
        (f"create table z (a int, b bool) config from {d / 'sample.csv'}",
         BAD_BOOL.format("perhaps") + f", line 3 of {d / 'sample.csv'}"),
        (f"create table z (a int) config from {d / 'sample.csv'}",
         f"Incorrect number of columns in input file {d / 'sample.csv'}, line: 1,true, line 2 of {d / 'sample.csv'}"),
        (f"create table z (a int) config from {d / 'missing.csv'}", f"Unable to read file {d / 'missing.csv'}"),
        # A row spanning lines is named by its first line.
        (f"create table z (a int, b string, c bool) config from {d / 'lines.csv'}",
         BAD_BOOL.format("perhaps") + f", line 4 of {d / 'lines.csv'}"),
        (f"create table z (a int, b string, c bool) config from {d / 'lines.csv.gz'}",
         gzip_outcome(d / 'lines.csv.gz', BAD_BOOL.format("perhaps") + f", line 4 of {d / 'lines.csv.gz'}")),
        *[(f"{command} {d / name}", gzip_outcome(d / name, f"Gzip file {d / name} is {problem}"))
          for command in ("load p from", "load c from", f"create table z ({COLUMNS}) config from")
          for name, problem in (("cut.gz", "truncated: its data ends inside a member"),
                                ("garbage.gz", "damaged (incorrect header check)"),
                                ("damaged.gz", "damaged (incorrect data check)"))],
        (f"create table z (a int, b string) config from {d / 'open.csv'}",
         f"Quoted field on line 3 of {d / 'open.csv'} is not closed before the end of the file"),
        (f"load nope from {d / 'data.csv'}", "Table nope is not defined"),
        (f"load p from {d / 'missing.csv'}", f"Unable to read file {d / 'missing.csv'}"),
        (f"load p from {d}", f"Unable to read file {d}"),
        ("drop table nope", "Table nope is not defined"),
        # Every word counts: a statement that stops short of a part, or that
        # has words after its end, is refused as a whole.
        ("create table z (a int); drop table p", "Invalid token identified: ;"),
        (f"create table z (a int) from {d / 'data.csv'}", "Invalid token identified: from"),
        (f"create table z (a int) config from {d / 'data.csv'} extra", "Invalid token identified: extra"),
        (f"create table z (a int) config from {d / 'data.csv'} separator ',' ;", "Invalid token identified: ;"),
        ("create table z (a int))", "Invalid token identified: )"),
        (f"load p from {d / 'data.csv'} {d / 'data.csv'}", f"Invalid token identified: {d / 'data.csv'}"),
        (f"load p from {d / 'data.csv'} separator ',' again", "Invalid token identified: again"),
        # ";" is no separator of words: it ends the file name, and "drop" is left.
        (f"load p from {d / 'data.csv'}; drop table c", "Invalid token identified: drop"),
        ("drop table p c", "Invalid token identified: c"),
        ("drop table p; drop table c", "Invalid token identified: drop"),
        ("create table z (a int", "Missing ')' after 'int'"),
        ("create table z (a int,", "Missing column definition after ','"),
        ("create table z (a int cat", "Missing category number after 'cat'"),
        ("create table z (a int) config", "Missing 'from' after 'config'"),
        ("create table z (a int) config from", "Missing file name after 'from'"),
        (f"create table z (a int) config from {d / 'data.csv'} separator",
         "Missing separator character after 'separator'"),
        ("load p", "Missing 'from' after 'p'"),
        ("load p from", "Missing file name after 'from'"),
        (f"load p from {d / 'data.csv'} SEPARATOR", "Missing separator character after 'SEPARATOR'"),
        ("drop", "Missing 'table' after 'drop'"),
        ("drop table", "Missing table name after 'table'"),
        # A separator is one character that neither quotes nor ends a line.
        *[(f"{statement} separator {written}", message)
          for statement in (f"load p from {d / 'data.csv'}", f"create table z (a int) config from {d / 'data.csv'}")
          for written, message in [
              ("'\"'", "Separator '\"' cannot separate fields: a double quote starts a quoted field"),
              ("'\n'", LINE_BREAK_SEPARATOR),
              ("'\r'", LINE_BREAK_SEPARATOR),
              ("''", "Separator is empty: it must be one character, such as ';' or '\\t'"),
              ("';;'", "Separator ';;' must be one character, such as ';' or '\\t'"),
              ("'\\n'", "Separator '\\n' must be one character, such as ';' or '\\t'"),
              ("'§'", "Separator '§' must be one character, such as ';' or '\\t'"),
          ]],
    ]


QUERY_REFUSALS = [
    ("select id from", "Missing table name after 'from'"),
    ("select id from p where", "Missing condition after 'where'"),
    ("select id from p where id = 1 or", "Missing condition after 'or'"),
    ("select id from p where id =", "Missing value after '='"),
    ("select id from p where (", "Missing column after '('"),
    ("select id from p order", "Missing 'by' after 'order'"),
    ("select id from p order by", "Missing sort column after 'by'"),
    ("select id from p order by id,", "Missing sort column after ','"),
    ("select id,", "Missing column after ','"),
    ("select id from p join", "Missing table name after 'join'"),
    ("select id from p join c on id =", "Missing column after '='"),
    ("select id from c where (id = 1", "Missing ')' in the where clause: 1 bracket(s) opened and not closed"),
    ("select id from c where ((id = 1) or (id = 2)", "Missing ')' in the where clause: 1 bracket(s) opened and not closed"),
    ("select id from c where (id = 1)) or (id = 2",
     "Missing '(' in the where clause: a ')' after id = 1 closes no bracket"),
    ("select id from nope", "Table nope is not defined"),
    ("select q from p", "Column q is not defined for table p"),
    ("select id from c where q = 1", "Column q is not defined for table c"),
    ("select id from p where id like 3", "Unsupported select condition operator like"),
    ("select id from p where id is 3", "Unsupported condition id is 3: only null can follow is or is not"),
    ("select id from p where id IS NOT nothing", "Unsupported condition id IS not nothing: only null can follow is or is not"),
    ("select id from p where id not null", "Unsupported select condition operator not"),
    ("select id from p where id is not", "Missing value after 'not'"),
    ("select id from c where (id is not null)) or (id = 2",
     "Missing '(' in the where clause: a ')' after id is not null closes no bracket"),
    ("select id from c where (id = 1))", "Missing '(' in the where clause: a ')' after id = 1 closes no bracket"),
    ("select id from p where flag = maybe", BAD_BOOL.format("maybe")),
    ("select id from p where day = 2024-13-45", BAD_DATE.format("2024-13-45")),
    ("select id from c where g = " + "x" * 70000, TOO_LONG.format(70001)),
    ("select id from p join c on id = id join s on id = id", "Only 1 join condition allowed"),
    ("select zz from p join c on id = id", "Column zz is not defined"),
    ("select " + ",".join(["*"] * 10923) + " from p", "Select list has more than 65535 columns"),
    ("select " + ",".join(["*"] * 5462) + " from p join c on id = id", "Select list has more than 65535 columns"),
]

# The Error subclass each refusal above raises, by how its message begins;
# the rest (a name given twice, an empty table name) are plain Errors.
ERROR_CLASSES = [
    (r"(Table|Column) \S+ is not defined", tabulon.UnknownNameError),
    (r"Unexpected token|Missing|Invalid token|Column type|Category number|Separator|Unsupported|Only 1 join|"
     r"Select list has", tabulon.ParseError),
    (r"Unable to (read|convert)|Incorrect number|Gzip file|Quoted field|Text of|File ", tabulon.LoadError),
]


def refusal(action, command):
    """The message action(command) is refused with, after checking the
    class of the refusal."""
    with pytest.raises(tabulon.Error) as caught:
        action(command)
    message = str(caught.value)
    expected = next((cls for pattern, cls in ERROR_CLASSES if re.match(pattern, message)), tabulon.Error)
    assert type(caught.value) is expected, message
    return message


def test_refused_statements_change_nothing(session):
    db, d, unchanged = session
    for command, expected in statement_refusals(d):
        assert refusal(db.executeCommand, command) == expected, command[:80]
        unchanged()
    assert refusal(db.executeSelect, "select * from z") == "Table z is not defined"


@pytest.mark.parametrize("query, expected", QUERY_REFUSALS, ids=[q[:50] for q, _ in QUERY_REFUSALS])
def test_refused_queries_change_nothing(session, query, expected):
    db, _, unchanged = session
    assert refusal(db.executeSelect, query) == expected
    unchanged()


def test_bytes_that_are_not_utf8_are_replaced_in_texts_and_messages(session):
    db, d, unchanged = session
    path = d / "latin1.csv"
    db.executeCommand("create table b (id int, plain string, cat string cat 1, flag bool)")
    path.write_bytes(b"id,plain,cat,flag\n1,ok\xff\xfe,x\xc3,1\n2,\xe2\x82,fine,0\n")
    db.executeCommand(f"load b from {path}")
    qs = db.executeSelect("select id, plain, cat from b order by id")
    assert qs.fetchAll() == list(qs) == [(1, "ok\ufffd\ufffd", "x\ufffd"), (2, "\ufffd", "fine")]
    assert (qs.getColumn(2), qs.getString(1), qs.getString(2)) == (["x\ufffd", "fine"], "ok\ufffd\ufffd", "x\ufffd")
    assert qs.toCSV() == "id,plain,cat\n1,ok\ufffd\ufffd,x\ufffd\n2,\ufffd,fine"
    assert "ok\ufffd\ufffd" in qs._repr_html_()
    path.write_bytes(b"id,plain,cat,flag\n2,caf\xe9,1\n")
    assert error(db.executeCommand, f"load b from {path}") == (
        f"Incorrect number of columns in input file {path}, line: 2,caf\ufffd,1, line 2 of {path}")
    path.write_bytes(b"id,plain,cat,flag\n3,caf\xe9,x,s\xed\n")
    assert error(db.executeCommand, f"load b from {path}") == BAD_BOOL.format("s\ufffd") + f", line 2 of {path}"
    unchanged()


def test_cursor_refusals(session):
    db, d, unchanged = session
    cursor = db.executeSelect("select g, x from p where id < 3 order by id")
    assert error(cursor.setRow, 3) == "Row 3 is out of range: the result has 3 rows"
    assert error(cursor.getString, 2) == "Column 2 is out of range: the result has 2 columns"
    empty = db.executeSelect("select g from p where id > 1000")
    assert error(empty.getString, 0) == "The query result has no rows"

    (d / "huge.csv").write_text("v\n1e300\n")
    db.executeCommand("create table huge (v double)")
    db.executeCommand(f"load huge from {d / 'huge.csv'}")
    assert error(db.executeSelect("select v from huge").getInt, 0) == (
        "Unable to convert column 0 to long. Value out of range.")

    db.executeCommand(f"load w from {d / 'data.csv'}")
    stale = db.executeSelect("select id from w")
    db.executeCommand(f"load w from {d / 'data.csv'}")
    with pytest.raises(tabulon.StaleResultError, match=INVALID.format("w")):
        stale.getString(0)
    assert cursor.getString(0) == "east"  # a result over other tables stays valid
    unchanged()
