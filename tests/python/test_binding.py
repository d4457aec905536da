"""The Python surface: argument conversion, separate databases and
interpreter exit."""

import pytest

import tabulon
from conftest import error, run_python


class StrSubclass(str):
    pass


class TestArguments:
    @pytest.mark.parametrize("bad", [None, b"select a from t", 7, ["select"]])
    def test_commands_must_be_str(self, db, bad):
        with pytest.raises(TypeError):
            db.executeCommand(bad)
        with pytest.raises(TypeError):
            db.executeSelect(bad)

    def test_embedded_nul_and_unencodable_text_are_refused(self, db):
        with pytest.raises(ValueError, match="embedded null character"):
            db.executeCommand("drop table t\0; drop table u")
        with pytest.raises(ValueError):
            db.executeSelect("select a from t\0")
        with pytest.raises(UnicodeEncodeError):
            db.executeSelect("select '\ud800' from t")

    def test_str_subclasses_are_commands(self, db):
        assert error(db.executeSelect, StrSubclass("drop table t")) == "Function supports only select statements"

    @pytest.mark.parametrize("bad, error_type", [(-1, OverflowError), (2**32, OverflowError), (None, TypeError),
                                                 (1.5, TypeError), ("0", TypeError)])
    def test_row_numbers_are_unsigned_32_bit(self, bad, error_type):
        with pytest.raises(error_type):
            tabulon.QuerySet().setRow(bad)

    @pytest.mark.parametrize("method", ["getString", "getInt", "getFloat", "getColumn"])
    @pytest.mark.parametrize("bad, error_type", [(-1, OverflowError), (65536, OverflowError), ("0", TypeError)])
    def test_column_numbers_are_unsigned_16_bit(self, method, bad, error_type):
        with pytest.raises(error_type):
            getattr(tabulon.QuerySet(), method)(bad)


def test_parsers_have_separate_databases():
    first = tabulon.DatabaseParser()
    second = tabulon.DatabaseParser()
    first.executeCommand("create table t (a int)")
    assert first.executeSelect("select a from t").getNumberOfRows() == 0
    assert error(second.executeSelect, "select a from t") == "Table t is not defined"
    second.executeCommand("create table t (b string)")  # the name is free there
    assert second.executeSelect("select b from t").getNumberOfCols() == 1


def test_objects_alive_at_interpreter_exit(tmp_path):
    (tmp_path / "t.csv").write_text("a,b\n1,x\n2,y\n3,x\n")
    result = run_python(
        """
        import tabulon
        db = tabulon.DatabaseParser()
        other = tabulon.DatabaseParser()
        empty = tabulon.QuerySet()
        db.executeCommand("create table t (a int, b string cat 1)")
        db.executeCommand("load t from t.csv")
        cursor = db.executeSelect("select a, b from t where b = x order by a desc")
        cursor.setRow(1)
        try:
            db.executeSelect("select a from t where x = 'y'")
        except RuntimeError:
            pass
        keep = [other, empty, cursor, cursor]
        del db  # the cursor alone keeps the database alive
        print(cursor.getNumberOfRows(), cursor.getInt(0), cursor.getString(1))

        class Holder:  # left for the collector at exit
            pass
        holder = Holder()
        holder.me = holder
        holder.db = tabulon.DatabaseParser()
        holder.cursor = tabulon.QuerySet()
        del holder
        """,
        tmp_path,
    )
    assert (result.stdout, result.stderr) == ("2 1 x\n", "")
