"""The Python surface: argument conversion, separate databases, interpreter
exit, and what introspection (help, inspect, mypy) sees."""

import ast
import importlib.util
import inspect
import os
import pathlib
import pydoc
import site
import subprocess
import sys
import textwrap
import tomllib

import pytest

import tabulon
from conftest import error, run_python

REPO = pathlib.Path(__file__).resolve().parents[2]
STUB = REPO / "src" / "main" / "tabulon.pyi"


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


def test_init_runs_once():
    db = tabulon.DatabaseParser()
    db.executeCommand("create table t (a int)")
    cursor = db.executeSelect("select a from t")
    for live in (db, cursor):
        with pytest.raises(RuntimeError, match="already initialized: __init__ may run only once"):
            live.__init__()
    assert cursor.getColumnNames() == ["a"] and len(db.executeSelect("select a from t")) == 0


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


class TestIntrospection:
    """What help(), inspect and type checkers see of the module."""

    CLASSES = (tabulon.DatabaseParser, tabulon.QuerySet, tabulon.QuerySetIterator)
    ERRORS = {"Error": RuntimeError, "ParseError": tabulon.Error, "UnknownNameError": tabulon.Error,
              "LoadError": tabulon.Error, "StaleResultError": tabulon.Error}

    def test_version_is_the_packages(self):
        with open(REPO / "pyproject.toml", "rb") as handle:
            assert tabulon.__version__ == tomllib.load(handle)["project"]["version"]

    def test_the_stub_holds_every_method_with_its_signature_and_docstring(self):
        # Private classes of the stub are typing helpers, not the module's.
        stub = {node.name: node for node in ast.parse(STUB.read_text()).body
                if isinstance(node, ast.ClassDef) and not node.name.startswith("_")}
        assert sorted(stub) == sorted([cls.__name__ for cls in self.CLASSES] + list(self.ERRORS))
        for name, base in self.ERRORS.items():
            cls = getattr(tabulon, name)
            assert cls.__bases__ == (base,) and cls.__module__ == "tabulon", name
            assert [b.id for b in stub[name].bases] == [base.__name__], name
            assert inspect.cleandoc(cls.__doc__) == ast.get_docstring(stub[name]), name
        for cls in self.CLASSES:
            assert inspect.cleandoc(cls.__doc__) == ast.get_docstring(stub[cls.__name__]), cls.__name__
            stubbed = {item.name: item for item in stub[cls.__name__].body if isinstance(item, ast.FunctionDef)}
            if cls is not tabulon.QuerySetIterator:
                # The constructor's signature is the class's, as the stub's __init__ has it.
                assert list(inspect.signature(cls).parameters) == []
                assert [a.arg for a in stubbed.pop("__init__").args.args] == ["self"]
            bound = {name: member for name, member in vars(cls).items()
                     if callable(member) and name not in ("__new__", "__init__")}
            assert sorted(bound) == sorted(stubbed), cls.__name__
            for name, member in bound.items():
                where = f"{cls.__name__}.{name}"
                assert inspect.cleandoc(member.__doc__) == ast.get_docstring(stubbed[name]), where
                signature = inspect.signature(member)
                arguments = stubbed[name].args
                names = [a.arg for a in arguments.posonlyargs + arguments.args + arguments.kwonlyargs]
                assert list(signature.parameters) == names, (where, signature)
                # Arguments the binding takes by position only are stubbed so.
                positional = [p.name for p in list(signature.parameters.values())[1:] if p.kind is p.POSITIONAL_ONLY]
                assert positional == [a.arg for a in arguments.posonlyargs[1:]], where

    def test_help_lists_the_methods_as_methods(self):
        for cls in self.CLASSES:
            kinds = {attr.name: attr.kind for attr in inspect.classify_class_attrs(cls) if attr.defining_class is cls}
            methods = {name for name, member in vars(cls).items() if callable(member) and name != "__new__"}
            assert methods and {kinds[name] for name in methods} == {"method"}, kinds
        text = pydoc.render_doc(tabulon.QuerySet, renderer=pydoc.plaintext)
        listed = text.split("Methods defined here:")[1].split("-----")[0]
        assert "getString(self, col, /)\n |      Text of selected column col" in listed
        assert "toPandas(self, /)" in listed and "__arrow_c_stream__(self, /, requested_schema=None)" in listed

    @pytest.mark.skipif(importlib.util.find_spec("mypy") is None,
                        reason="mypy is not installed (make deps installs it)")
    def test_mypy_finds_the_stub_accepts_the_examples_and_catches_misuse(self, tmp_path):
        # Installed (site-packages: the tabulon-stubs package) or imported
        # from a build tree (the stub beside the module there), mypy knows
        # the module this test session imported.
        module_dir = pathlib.Path(tabulon.__file__).resolve().parent
        installed = any(module_dir == pathlib.Path(p).resolve() for p in site.getsitepackages())
        env = dict(os.environ)
        env.pop("MYPYPATH", None)
        if not installed:
            env["MYPYPATH"] = str(module_dir)
        (tmp_path / "good.py").write_text(textwrap.dedent("""
            import datetime
            import tabulon

            reveal_type(tabulon.__version__)
            db = tabulon.DatabaseParser()
            qs: tabulon.QuerySet = db.executeSelect("select a from t")
            count: int = len(qs) + qs.getNumberOfRows() + qs.getNumberOfCols()
            for row in qs:
                first = row[0]
                if isinstance(first, datetime.date):
                    print(first.year)
            reveal_type(qs.fetchAll())
            names: list[str] = qs.getColumnNames()
            text: str = qs.toCSV() + qs._repr_html_() + (qs.getString(0) or "") + repr(qs)
            number: float = (qs.getFloat(0) or 0.0) + (qs.getInt(1) or 0)
            qs.setRow(0)
            column = qs.getColumn(0)
        """))
        (tmp_path / "bad.py").write_text("import tabulon\ntabulon.QuerySet().getColumn('0')\ntabulon.QuerySet().fetch()\n")
        checked = subprocess.run(
            [sys.executable, "-m", "mypy", "--no-incremental", "--cache-dir", os.devnull, "--check-untyped-defs",
             "--warn-unused-ignores", "--python-executable", sys.executable, str(REPO / "examples"), "good.py",
             "bad.py"],
            cwd=tmp_path, env=env, capture_output=True, text=True, timeout=600)
        out = checked.stdout.replace("builtins.", "")
        assert 'Revealed type is "str"' in out, out
        assert 'Revealed type is "list[tuple[int | float | str | bool | datetime.date | None, ...]]"' in out, out
        errors = [line for line in out.splitlines() if ": error:" in line]
        assert [line.split(":")[0] for line in errors] == ["bad.py", "bad.py"], out
        assert 'incompatible type "str"; expected "int"' in errors[0] and '"QuerySet" has no attribute "fetch"' in errors[1]
