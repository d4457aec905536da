"""CREATE TABLE, LOAD and DROP TABLE through Python: every message of the
table lifecycle, and what a failed command leaves behind."""

import os
import subprocess
import sys
import textwrap

import pytest

import tabulon

BAD_BOOL = "Unable to convert value {} to boolean. Accepted values TRUE/True/true/FALSE/False/false/0/1"


@pytest.fixture
def db():
    return tabulon.DatabaseParser()


@pytest.fixture
def csv(tmp_path):
    """Writes a CSV file (header line, then the rows) and returns its path."""

    def write(name, rows, header="h"):
        path = tmp_path / name
        path.write_text("".join(line + "\n" for line in [header, *rows]))
        return str(path)

    return write


def error(db, command):
    try:
        db.executeCommand(command)
    except RuntimeError as e:
        return str(e)
    return None


def rows(db, query):
    """Every row of a query as a tuple of texts, in result order."""
    result = db.executeSelect(query)
    answer = []
    for row in range(result.getNumberOfRows()):
        result.setRow(row)
        answer.append(tuple(result.getString(col) for col in range(result.getNumberOfCols())))
    return answer


def table_rows(db, table):
    return sorted(rows(db, f"select * from {table}"))


class TestCreate:
    def test_created_table_is_empty_until_loaded(self, db, csv):
        data = csv("data.csv", ["1,x", "2,y", "1,z"])
        db.executeCommand(f"create table sampled (a int, b string) config from {data}")
        db.executeCommand("create table given (a int cat 1, b string)")
        db.executeCommand("CREATE TABLE plain (a INT, b STRING)")
        for table in ("sampled", "given", "plain"):
            assert rows(db, f"select * from {table}") == []
            db.executeCommand(f"load {table} from {data}")
            assert table_rows(db, table) == [("1", "x"), ("1", "z"), ("2", "y")]

    def test_name_in_use(self, db, csv):
        db.executeCommand("create table t (a int)")
        assert error(db, "create table t (b int)") == "Table is already defined - unable to initialize t"
        # Refused before the file is opened: the missing file is not reported.
        assert error(db, "create table t (b int) config from missing.csv") == "Table t already exists"
        db.executeCommand("create table T (b int)")  # names keep their letter case

    def test_shared_category_number_creates_nothing(self, db):
        assert error(db, "create table t (a int cat 2, b int cat 2)") == "Multiple columns mapped to the same category 2"
        # 70000 keeps its low 16 bits: 4464, the same as the other column.
        assert error(db, "create table t (a int cat 70000, b int cat 4464)") == (
            "Multiple columns mapped to the same category 4464")
        db.executeCommand("create table t (a int cat 2, b int cat 3)")

    @pytest.mark.parametrize(
        "command, message",
        [
            ("create table", "Table name is empty"),
            ("create table t", "Table t has no columns"),
            ("create table t (", "Table t has no columns"),
            ("create table '' (a int)", "Table name is empty"),
            ("create table t (a int, b int, a string)", "Column a is defined twice in table t"),
        ],
    )
    def test_refused_definition_creates_nothing(self, db, command, message):
        assert error(db, command) == message
        assert error(db, "drop table t") == "Table t is not defined"

    def test_config_from_unreadable_file_creates_nothing(self, db, tmp_path):
        missing = str(tmp_path / "missing.csv")
        assert error(db, f"create table t (a int) config from {missing}") == f"Unable to read file {missing}"
        assert error(db, "drop table t") == "Table t is not defined"

    def test_config_from_bad_file_creates_nothing(self, db, csv):
        wide = csv("wide.csv", ["1,2", "3,4,5"])
        assert error(db, f"create table t (a int, b int) config from {wide}") == (
            f"Incorrect number of columns in input file {wide}, line: 3,4,5")
        bools = csv("bools.csv", ["1,true", "2,yes"])
        assert error(db, f"create table t (a int, b bool) config from {bools}") == BAD_BOOL.format("yes")
        assert error(db, "drop table t") == "Table t is not defined"

    def test_sampled_levels_take_values_the_sample_did_not_have(self, db, csv):
        sample = csv("sample.csv", [f"{i % 3 + 5},{i}" for i in range(100)])
        db.executeCommand(f"create table t (a int, b int) config from {sample}")
        lines = [f"{i % 9},{i}" for i in range(200)]
        db.executeCommand(f"load t from {csv('data.csv', lines)}")
        assert table_rows(db, "t") == sorted(tuple(line.split(",")) for line in lines)
        assert sorted(rows(db, "select b from t where a = 0")) == sorted((str(i),) for i in range(0, 200, 9))
        assert len(rows(db, "select b from t where a >= 4 and a < 8")) == sum(1 for i in range(200) if 4 <= i % 9 < 8)

    def test_config_from_header_only_file(self, db, csv):
        db.executeCommand(f"create table t (a int, b string) config from {csv('empty.csv', [])}")
        db.executeCommand(f"load t from {csv('data.csv', ['1,x'])}")
        assert table_rows(db, "t") == [("1", "x")]


class TestLoad:
    def test_unknown_table_and_unreadable_file(self, db, tmp_path):
        assert error(db, "load nope from x.csv") == "Table nope is not defined"
        db.executeCommand("create table t (a int)")
        missing = str(tmp_path / "missing.csv")
        assert error(db, f"load t from {missing}") == f"Unable to read file {missing}"
        assert error(db, "load t from") == "Unable to read file "
        assert error(db, f"load t from {tmp_path}") == f"Unable to read file {tmp_path}"

    @pytest.mark.parametrize("definition", ["a int cat 1, b string", "a int, b string"])
    def test_bad_row_keeps_the_rows_before(self, db, csv, definition):
        db.executeCommand(f"create table t ({definition})")
        good = [f"{i % 4},v{i}" for i in range(300)]
        bad = csv("bad.csv", good + ["1,x,extra", "2,never"])
        assert error(db, f"load t from {bad}") == f"Incorrect number of columns in input file {bad}, line: 1,x,extra"
        expected = sorted((str(i % 4), f"v{i}") for i in range(300))
        assert table_rows(db, "t") == expected
        db.executeCommand(f"load t from {csv('more.csv', ['3,w'])}")
        assert table_rows(db, "t") == sorted(expected + [("3", "w")])
        assert rows(db, "select b from t where a = 3 and b = w") == [("w",)]

    def test_bad_value_keeps_the_rows_before(self, db, csv):
        db.executeCommand("create table t (a int, b bool)")
        assert error(db, f"load t from {csv('bad.csv', ['1,true', '2,0', '3,maybe'])}") == BAD_BOOL.format("maybe")
        assert table_rows(db, "t") == [("1", "1"), ("2", "0")]

    def test_reading_stops_at_an_empty_line(self, db, tmp_path):
        path = tmp_path / "gap.csv"
        path.write_text("h\n1\n2\n\n3\n")
        db.executeCommand("create table t (a int)")
        db.executeCommand(f"load t from {path}")
        assert table_rows(db, "t") == [("1",), ("2",)]


class TestDrop:
    def test_unknown_table(self, db):
        assert error(db, "drop table nope") == "Table nope is not defined"
        assert error(db, "drop table") == "Table  is not defined"

    def test_name_as_typed(self, db):
        db.executeCommand("create table Sales (a int)")
        assert error(db, "drop table sales") == "Table sales is not defined"
        db.executeCommand("DROP TABLE Sales")
        assert error(db, "drop table Sales") == "Table Sales is not defined"

    def test_dropping_the_first_table_keeps_the_others(self, db, csv):
        for name, width in (("a", 1), ("b", 2), ("c", 3)):
            columns = ", ".join(f"{name}{i} int" for i in range(width))
            db.executeCommand(f"create table {name} ({columns})")
            db.executeCommand(f"load {name} from {csv(name + '.csv', [','.join(['7'] * width)])}")
        db.executeCommand("drop table a")
        with pytest.raises(RuntimeError, match="^Table a is not defined$"):
            db.executeSelect("select * from a")
        assert rows(db, "select * from b") == [("7", "7")]
        assert rows(db, "select c2 from c") == [("7",)]
        db.executeCommand(f"load c from {csv('more.csv', ['1,2,3'])}")
        assert table_rows(db, "c") == [("1", "2", "3"), ("7", "7", "7")]

    def test_dropped_name_can_be_created_again(self, db, csv):
        db.executeCommand("create table t (a int cat 1)")
        db.executeCommand(f"load t from {csv('one.csv', ['1'])}")
        db.executeCommand("drop table t")
        db.executeCommand("create table t (a string, b int)")
        assert rows(db, "select * from t") == []
        db.executeCommand(f"load t from {csv('two.csv', ['x,2'])}")
        assert table_rows(db, "t") == [("x", "2")]


def test_separate_parsers_do_not_share_tables(csv):
    first, second = tabulon.DatabaseParser(), tabulon.DatabaseParser()
    first.executeCommand("create table t (a int)")
    assert error(second, "drop table t") == "Table t is not defined"
    second.executeCommand("create table t (a int)")


def run_with_threshold(tmp_path, script, threshold=50):
    """Runs `script` in a fresh interpreter whose working directory holds a
    .tbconfig setting lines.threshold; returns what it printed."""
    (tmp_path / ".tbconfig").write_text(f"lines.threshold={threshold}\n")
    module_dir = os.path.dirname(os.path.abspath(tabulon.__file__))
    path = os.pathsep.join(p for p in (module_dir, os.environ.get("PYTHONPATH")) if p)
    prelude = textwrap.dedent(
        """
        import tabulon
        db = tabulon.DatabaseParser()
        def write(name, lines):
            with open(name, "w") as f:
                f.write("h\\n" + "".join(line + "\\n" for line in lines))
            return name
        def table(name):
            result = db.executeSelect("select * from " + name)
            out = []
            for row in range(result.getNumberOfRows()):
                result.setRow(row)
                out.append(tuple(result.getString(c) for c in range(result.getNumberOfCols())))
            return sorted(out)
        """
    )
    result = subprocess.run([sys.executable, "-c", prelude + textwrap.dedent(script)], cwd=tmp_path,
                            env=dict(os.environ, PYTHONPATH=path), capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stderr
    return result.stdout.splitlines()


class TestRebuild:
    def test_rows_survive_the_rebuild(self, tmp_path):
        # With lines.threshold 50 the table is rebuilt as a tree before its
        # 52nd row: a (3 values) qualifies as a tree level, b does not.
        out = run_with_threshold(tmp_path, """
            lines = [f"{i % 3},{i},name{i % 7}" for i in range(400)]
            db.executeCommand("create table t (a int, b int, c string)")
            db.executeCommand("load t from " + write("first.csv", lines[:30]))
            db.executeCommand("load t from " + write("second.csv", lines[30:]))
            expected = sorted(tuple(line.split(",")) for line in lines)
            print(table("t") == expected)
            print(db.executeSelect("select b from t where a = 1 and c = name3").getNumberOfRows())
        """)
        assert out == ["True", str(sum(1 for i in range(400) if i % 3 == 1 and i % 7 == 3))]

    def test_all_distinct_rows_load_without_a_tree(self, tmp_path):
        out = run_with_threshold(tmp_path, """
            lines = [f"{i},v{i}" for i in range(60000)]
            db.executeCommand("create table t (a int, b string)")
            db.executeCommand("load t from " + write("data.csv", lines))
            print(db.executeSelect("select a from t").getNumberOfRows())
            print(db.executeSelect("select b from t where a = 59999").getNumberOfRows())
        """)
        assert out == ["60000", "1"]

    def test_failed_load_after_a_rebuild_keeps_its_rows(self, tmp_path):
        out = run_with_threshold(tmp_path, """
            lines = [f"{i % 2},{i}" for i in range(120)]
            db.executeCommand("create table t (a int, b int)")
            try:
                db.executeCommand("load t from " + write("bad.csv", lines + ["1"]))
            except RuntimeError as e:
                print(str(e).startswith("Incorrect number of columns"))
            db.executeCommand("load t from " + write("more.csv", ["1,999"]))
            print(table("t") == sorted([tuple(l.split(",")) for l in lines] + [("1", "999")]))
        """)
        assert out == ["True", "True"]

    def test_cursor_sees_a_rebuild_as_a_change(self, tmp_path):
        out = run_with_threshold(tmp_path, """
            db.executeCommand("create table t (a int)")
            db.executeCommand("load t from " + write("first.csv", [str(i % 2) for i in range(50)]))
            cursor = db.executeSelect("select a from t")
            db.executeCommand("load t from " + write("second.csv", ["1", "0"]))
            try:
                cursor.getString(0)
            except RuntimeError as e:
                print(e)
            print(db.executeSelect("select a from t").getNumberOfRows())
        """)
        assert out == ["Query result is no longer valid: table t has changed", "52"]
