"""A cursor outliving the state it was read from: each case runs in a
subprocess, so that a fault would show as a crashed interpreter rather than
take the test run down."""

import os
import subprocess
import sys
import textwrap

import tabulon

SETUP = """
import csv, os, sys
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

write("a.csv", [[i, "g%d" % (i % 5), i * 1.5] for i in range(3000)])
write("b.csv", [[i, "g%d" % (i % 7), -i] for i in range(3000, 9000)])
db = tabulon.DatabaseParser()
db.executeCommand("create table t (id int, grp string cat 1, val double)")
db.executeCommand("load t from a.csv")
db.executeCommand("create table u (id int, grp string, val double)")
db.executeCommand("load u from a.csv")
INVALID = "Query result is no longer valid: table %s has changed"
"""


def run(tmp_path, body):
    module_dir = os.path.dirname(os.path.abspath(tabulon.__file__))
    path = os.pathsep.join(p for p in (module_dir, os.environ.get("PYTHONPATH")) if p)
    script = SETUP + textwrap.dedent(body) + "\nprint('done')\n"
    completed = subprocess.run(
        [sys.executable, "-c", script],
        cwd=tmp_path,
        env=dict(os.environ, PYTHONPATH=path),
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert completed.returncode == 0, completed.stderr
    assert completed.stdout.strip().endswith("done"), completed.stdout


def test_drop_invalidates_every_row_read(tmp_path):
    run(
        tmp_path,
        """
        cursor = db.executeSelect("select id, grp, val from t where val > 10 order by val desc")
        assert cursor.getNumberOfRows() == 2993
        db.executeCommand("drop table t")
        for action in (lambda: cursor.setRow(1), lambda: cursor.getString(1),
                       lambda: cursor.getInt(0), lambda: cursor.getFloat(2)):
            assert message(action) == INVALID % "t", message(action)
        assert cursor.getNumberOfRows() == 2993
        assert cursor.getNumberOfCols() == 3
        """,
    )


def test_load_invalidates_and_new_queries_work(tmp_path):
    run(
        tmp_path,
        """
        before = db.executeSelect("select id from t where grp = g1")
        plain = db.executeSelect("select id from u")
        db.executeCommand("load t from b.csv")
        assert message(lambda: before.getString(0)) == INVALID % "t"
        # The other table is untouched: its cursor still reads.
        assert plain.getString(0) == "0"
        after = db.executeSelect("select id from t where grp = g1 order by id desc")
        assert after.getNumberOfRows() == 600 + 857
        assert after.getString(0) == "8996"
        """,
    )


def test_recreated_table_does_not_revive_old_cursors(tmp_path):
    run(
        tmp_path,
        """
        cursor = db.executeSelect("select id from t")
        db.executeCommand("drop table t")
        db.executeCommand("create table t (id int, grp string cat 1, val double)")
        db.executeCommand("load t from a.csv")
        assert message(lambda: cursor.getString(0)) == INVALID % "t"
        assert db.executeSelect("select id from t").getNumberOfRows() == 3000
        """,
    )


def test_dropping_another_table_keeps_the_cursor(tmp_path):
    run(
        tmp_path,
        """
        cursor = db.executeSelect("select id from t order by id desc")
        db.executeCommand("drop table u")
        assert cursor.getString(0) == "2999"
        cursor.setRow(2999)
        assert cursor.getInt(0) == 0
        """,
    )


def test_cursor_keeps_the_database_alive(tmp_path):
    run(
        tmp_path,
        """
        import gc
        cursor = db.executeSelect("select id, grp, val from t where grp = g2 order by id")
        del db
        gc.collect()
        rows = []
        for row in range(cursor.getNumberOfRows()):
            cursor.setRow(row)
            rows.append((cursor.getInt(0), cursor.getString(1), cursor.getFloat(2)))
        assert rows == [(i, "g2", i * 1.5) for i in range(2, 3000, 5)]
        """,
    )
