"""Helpers shared by the Python tests: a fresh database, tables loaded from CSV
files, reading results as text, catching error messages, random where
clauses, process-wide settings and running code in a fresh interpreter."""

import contextlib
import csv
import gzip
import importlib
import os
import subprocess
import sys
import textwrap

import pytest

import tabulon

INVALID = "Query result is no longer valid: table {} has changed"
BAD_BOOL = ("Unable to convert value {} to boolean. Accepted values TRUE/True/true/YES/Yes/yes/Y/y/1 for true and "
            "FALSE/False/false/NO/No/no/N/n/0 for false")
BAD_DATE = "Unable to convert value {} to date. Accepted format YYYY-MM-DD from 1970-01-01 to 2149-06-06"
# Ends the message for an empty date or boolean field in a column without null.
MISSING_HINT = "; declare the column with null to load missing values"
DEFAULT_SETTINGS = "category.threshold=40000\nlines.threshold=10000\n"
# Set for a module built without zlib (cmake -DTABULON_GZIP=OFF), which
# refuses every gzip file; the gzip tests then expect that refusal.
WITHOUT_GZIP = bool(os.environ.get("TABULON_WITHOUT_GZIP"))


def gzip_members(text, size=None):
    """`text` (bytes) gzip-compressed: one member, or members of `size`
    bytes of text each, written one after the other."""
    size = size or max(len(text), 1)
    return b"".join(gzip.compress(text[i:i + size]) for i in range(0, max(len(text), 1), size))


def gzip_outcome(path, message):
    """What reading the gzip file `path` answers: `message`, or the refusal
    of a module built without gzip support."""
    if WITHOUT_GZIP:
        return f"File {path} is gzip-compressed, but this tabulon module was built without gzip support"
    return message


def peer(name):
    """The module `name` of a library tabulon hands results to (pyarrow,
    polars, pandas, duckdb): test-only dependencies that `make test` installs
    when it can. A test needing one is skipped when it cannot be imported,
    unless TABULON_REQUIRE_PEERS is set (as .ci/run sets it): then it fails.
    One named in TABULON_UNLOADABLE_PEERS (comma-separated) is never imported:
    its test is skipped, for builds whose process it cannot run in."""
    if name in os.environ.get("TABULON_UNLOADABLE_PEERS", "").split(","):
        pytest.skip(f"{name} cannot be loaded into this build's process")
    if os.environ.get("TABULON_REQUIRE_PEERS"):
        return importlib.import_module(name)
    return pytest.importorskip(name, reason=f"{name} is not installed (make test installs it when it can)")


@pytest.fixture
def db():
    return tabulon.DatabaseParser()


def write_csv(path, header, rows):
    """Writes a header line and the rows; returns the path as text."""
    with open(path, "w", newline="", encoding="utf-8") as handle:
        writer = csv.writer(handle, lineterminator="\n")
        writer.writerow(header)
        writer.writerows(rows)
    return str(path)


def load_table(db, directory, table, definition, rows):
    """Creates `table` from its column definitions ("a int, b string cat 1")
    and loads `rows` from directory/<table>.csv, whose header holds the
    column names."""
    header = [part.split()[0] for part in definition.split(",")]
    path = write_csv(directory / f"{table}.csv", header, rows)
    db.executeCommand(f"create table {table} ({definition})")
    db.executeCommand(f"load {table} from '{path}'")
    return path


def rows(db, query):
    """Every row of a query as a tuple of texts, read one cell per call."""
    cursor = db.executeSelect(query)
    answer = []
    for row in range(cursor.getNumberOfRows()):
        cursor.setRow(row)
        answer.append(tuple(cursor.getString(col) for col in range(cursor.getNumberOfCols())))
    return answer


def error(action, *args):
    """The message of the RuntimeError that action(*args) raises, or None
    when it succeeds."""
    try:
        action(*args)
    except RuntimeError as caught:
        return str(caught)
    return None


def random_where(rng, condition, depth=0):
    """A random where clause of one to three items joined by "and" and "or"
    ("and" binding more tightly), each item a condition(rng) -> (text, test)
    or, up to two deep, a clause in brackets. Returns the clause's text and
    its test, which takes what the conditions' tests take."""
    items = []
    for _ in range(rng.randint(1, 3)):
        if depth < 2 and rng.random() < 0.35:
            text, test = random_where(rng, condition, depth + 1)
            items.append((f"( {text} )" if rng.random() < 0.5 else f"({text})", test))
        else:
            items.append(condition(rng))
    connectors = [rng.choice(["and", "or"]) for _ in items[1:]]
    chains = [[items[0][1]]]
    for connector, (_, test) in zip(connectors, items[1:]):
        if connector == "or":
            chains.append([])
        chains[-1].append(test)
    text = items[0][0] + "".join(f" {c} {t}" for c, (t, _) in zip(connectors, items[1:]))
    return text, lambda *row: any(all(test(*row) for test in chain) for chain in chains)


@contextlib.contextmanager
def settings(directory, text):
    """Runs the body in `directory` beside a .tbconfig holding `text` (str or
    bytes), which every DatabaseParser made there reads; then puts the
    process-wide defaults back (settings outlive every database)."""
    previous = os.getcwd()
    try:
        (directory / ".tbconfig").write_bytes(text if isinstance(text, bytes) else text.encode())
        os.chdir(directory)
        yield
    finally:
        restore = directory / "restore-defaults"
        restore.mkdir(exist_ok=True)
        (restore / ".tbconfig").write_text(DEFAULT_SETTINGS)
        os.chdir(restore)
        tabulon.DatabaseParser()
        os.chdir(previous)


def python_command(source, *args, env=None):
    """The command line and environment that run `source` in a fresh
    interpreter which finds this tabulon module."""
    module_dir = os.path.dirname(os.path.abspath(tabulon.__file__))
    path = os.pathsep.join(p for p in (module_dir, os.environ.get("PYTHONPATH")) if p)
    return [sys.executable, "-c", textwrap.dedent(source), *map(str, args)], dict(env or os.environ, PYTHONPATH=path)


def run_python(source, cwd, *args, env=None):
    """Runs `source` in a fresh interpreter, so that a fault shows as a failed
    run instead of ending the test session. Fails unless it exits cleanly;
    returns the completed process."""
    command, env = python_command(source, *args, env=env)
    completed = subprocess.run(command, cwd=cwd, env=env, capture_output=True, text=True, timeout=900)
    assert completed.returncode == 0, completed.stderr[-3000:]
    return completed
