"""A cursor outliving the state it was read from. Each case runs in a fresh
interpreter, so that a fault shows as a crashed run rather than ending the
test session."""

import pytest

from conftest import run_python

SETUP = """
import csv, gc
import tabulon

def write(path, rows):
    with open(path, "w", newline="") as handle:
        writer = csv.writer(handle, lineterminator="\\n")
        writer.writerow(["id", "grp", "val"])
        writer.writerows(rows)

def message(action):
    try:
        action()
    except RuntimeError as error:
        return str(error)
    return None

def closed(action):
    try:
        action()
    except tabulon.Error as error:
        return type(error) is tabulon.Error and str(error) == "Database is closed"
    return False

write("a.csv", [[i, "g%d" % (i % 5), i * 1.5] for i in range(3000)])
write("b.csv", [[i, "g%d" % (i % 7), -i] for i in range(3000, 9000)])
db = tabulon.DatabaseParser()
db.executeCommand("create table t (id int, grp string cat 1, val double)")
db.executeCommand("load t from a.csv")
db.executeCommand("create table u (id int, grp string, val double)")
db.executeCommand("load u from a.csv")
INVALID = "Query result is no longer valid: table %s has changed"
"""

CASES = {
    "every read refused after a change": """
        for change in ("drop table u", "load t from a.csv"):
            table = change.split()[-1] if change.startswith("drop") else "t"
            qs = db.executeSelect(f"select id, grp, val from {table} where id < 40 order by val desc")
            empty = db.executeSelect(f"select id from {table} where id < 0")
            rows = iter(qs)
            assert next(rows) == (39, "g4", 58.5)
            db.executeCommand(change)
            for read in (lambda: qs.setRow(1), lambda: qs.getString(1), lambda: qs.getInt(0),
                         lambda: qs.getFloat(2), qs.fetchAll, lambda: qs.getColumn(1), lambda: iter(qs),
                         lambda: next(rows), qs.toCSV, qs._repr_html_):
                assert message(read) == INVALID % table, message(read)
            assert message(empty.fetchAll) == message(lambda: list(empty)) == INVALID % table
            assert len(qs) == qs.getNumberOfRows() == 40 and qs.getNumberOfCols() == 3
            assert qs.getColumnNames() == ["id", "grp", "val"]
            assert repr(qs) == "<tabulon.QuerySet: 40 rows x 3 columns (id, grp, val)>"
    """,
    "other tables, new queries and a recreated table": """
        before = db.executeSelect("select id from t where grp = g1")
        plain = db.executeSelect("select id from u order by id desc")
        db.executeCommand("load t from b.csv")
        assert message(lambda: before.getString(0)) == INVALID % "t"
        assert plain.getString(0) == "2999"
        after = db.executeSelect("select id from t where grp = g1 order by id desc")
        assert after.getNumberOfRows() == 600 + 857
        assert after.getString(0) == "8996"
        db.executeCommand("drop table t")
        plain.setRow(2999)
        assert plain.getInt(0) == 0
        # A table created again under the name does not revive old cursors.
        db.executeCommand("create table t (id int, grp string cat 1, val double)")
        db.executeCommand("load t from a.csv")
        assert message(lambda: after.getString(0)) == INVALID % "t"
        assert db.executeSelect("select id from t").getNumberOfRows() == 3000
    """,
    "every call and read refused after close": """
        try:
            import pyarrow as pa
        except ImportError:
            pa = None
        qs = db.executeSelect("select id, grp, val from t where id < 40 order by val desc")
        joined = db.executeSelect("select id, val from t join u on id = id")
        empty = db.executeSelect("select id from t where id < 0")
        rows = iter(qs)
        assert next(rows) == (39, "g4", 58.5)
        stream = qs.__arrow_c_stream__()
        db.executeCommand("drop table u")  # a stale cursor is closed all the same
        with db as entered:
            assert entered is db and len(qs) == 40
        reads = [lambda: qs.setRow(1), lambda: qs.getString(1), lambda: qs.getInt(0), lambda: qs.getFloat(2),
                 qs.fetchAll, lambda: qs.getColumn(1), lambda: iter(qs), lambda: next(rows), qs.toCSV,
                 qs._repr_html_, lambda: len(qs), qs.getNumberOfRows, qs.getNumberOfCols, qs.getColumnNames,
                 qs.__arrow_c_stream__, qs.__arrow_c_schema__, joined.fetchAll, lambda: len(joined),
                 empty.fetchAll, lambda: list(empty)]
        calls = [lambda: db.executeSelect("select id from t"), lambda: db.executeCommand("drop table t"),
                 lambda: db.executeSelect("select id from t where id = ?", [1]), db.interrupt, db.__enter__]
        for k, action in enumerate(reads + calls):
            assert closed(action), k
        assert repr(qs) == "<tabulon.QuerySet: database closed>"
        db.close()  # closing again does nothing
        with tabulon.DatabaseParser() as other:
            other.executeCommand("create table t (id int)")
        assert closed(lambda: other.executeSelect("select id from t"))
        if pa is not None:
            reader = pa.RecordBatchReader._import_from_c_capsule(stream)
            try:
                reader.read_all()
                assert False, "a stream of a closed database read"
            except pa.ArrowInvalid as error:
                assert "Database is closed" in str(error)
    """,
    "cursor keeps the database alive": """
        cursor = db.executeSelect("select id, grp, val from t where grp = g2 order by id")
        del db
        gc.collect()
        assert cursor.fetchAll() == [(i, "g2", i * 1.5) for i in range(2, 3000, 5)]
        cursor.setRow(1)
        assert (cursor.getInt(0), cursor.getString(1), cursor.getFloat(2)) == (7, "g2", 10.5)
    """,
    # A collection during fetchAll would run this finalizer between two rows;
    # the read must either finish on unchanged tables or refuse.
    "finalizer cannot interrupt a bulk read": """
        class Loader:
            def __del__(self):
                db.executeCommand("load t from a.csv")
        qs = db.executeSelect("select id, grp, val from t order by id")
        gc.set_threshold(1)
        for attempt in range(5):
            loader = Loader()
            loader.cycle = loader
            del loader
            try:
                rows = qs.fetchAll()
            except RuntimeError as error:
                assert str(error) == INVALID % "t"
                qs = db.executeSelect("select id, grp, val from t order by id")
                continue
            assert len(rows) == len(qs) and rows[0][0] == 0
    """,
}

# Changing either table of a join invalidates its cursor.
for change, table in (("drop table t", "t"), ("drop table u", "u"), ("load t from a.csv", "t"),
                      ("load u from a.csv", "u")):
    CASES[f"join, {change}"] = f"""
        cursor = db.executeSelect("select id, val from t join u on id = id order by val desc")
        assert cursor.getNumberOfRows() == 3000
        db.executeCommand("{change}")
        for action in (lambda: cursor.setRow(1), lambda: cursor.getString(0),
                       lambda: cursor.getInt(1), lambda: cursor.getFloat(0)):
            assert message(action) == INVALID % "{table}", message(action)
        assert cursor.getNumberOfRows() == 3000
        if "{change}".startswith("load"):
            assert db.executeSelect("select id, val from t join u on id = id").getNumberOfRows() == 6000
    """


@pytest.mark.parametrize("body", CASES.values(), ids=CASES.keys())
def test_cursor_after_a_change(tmp_path, body):
    assert run_python(SETUP + body.replace("\n        ", "\n") + "\nprint('done')\n", tmp_path).stdout == "done\n"

