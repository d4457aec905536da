"""Several threads on one database: Arrow streams read on a consumer's
thread while the main thread changes or reads the result, other Python
threads running while the engine works, DatabaseParser.interrupt() from
another thread, one parser shared by two threads, and signal handlers that
call into the database their thread is busy with. Each case runs in a fresh
interpreter, so that a fault shows as a failed run, not a lost session."""

import os

import pytest

from conftest import peer, run_python

BIG_ROWS = 1500000


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    """A big file (long loads, queries and reads) and a small one."""
    directory = tmp_path_factory.mktemp("threads")
    with open(directory / "big.csv", "w") as out:
        out.write("a,b,c\n")
        out.writelines(f"{i},{i % 1000}.5,w{i % 97}\n" for i in range(BIG_ROWS))
    with open(directory / "small.csv", "w") as out:
        out.write("a,b,c\n")
        out.writelines(f"{i},{i}.25,s{i % 13}\n" for i in range(200000))
    return directory


def run(body, files):
    prelude = f"""
import gc, os, signal, threading, time
import tabulon
BIG, SMALL, ROWS = {str(files / "big.csv")!r}, {str(files / "small.csv")!r}, {BIG_ROWS}
INVALID = "Query result is no longer valid: table t has changed"

def loaded(table, path, definition="a int, b double, c string"):
    db = tabulon.DatabaseParser()
    db.executeCommand(f"create table {{table}} ({{definition}})")
    db.executeCommand(f"load {{table}} from {{path}}")
    return db

def in_thread(action):
    '''Starts action() on a thread; the answer holds its result or error.'''
    answer = {{}}
    def body():
        try:
            answer["result"] = action()
        except BaseException as error:
            answer["error"] = error
    thread = threading.Thread(target=body)
    thread.start()
    return thread, answer
"""
    source = prelude + body + "\nprint('done')\n"
    assert run_python(source, files).stdout.endswith("done\n")


# ---------------------------------------------------------------- streams

STREAM_SETUP = """
import pyarrow as pa

def fresh():
    return loaded("t", SMALL, "a int, b double, c string cat 1")

db = fresh()
ROWS = sorted((i, i + 0.25, f"s{i % 13}") for i in range(200000))

def table_rows(table):
    return list(zip(*(table.column(k).to_pylist() for k in range(3))))

def stream_of(cursor):
    '''Reads the cursor's stream on a thread, as pyarrow does without the
    interpreter; first notes the result's rows, in result order.'''
    global EXPECTED
    EXPECTED = cursor.fetchAll()
    assert sorted(EXPECTED) == ROWS
    reader = pa.RecordBatchReader._import_from_c_capsule(cursor.__arrow_c_stream__())
    return in_thread(reader.read_all)

def checked(answer, may_change):
    '''The rows a stream read, which are the result's; or a refusal when the table may have changed.'''
    if "error" in answer:
        refusals = (INVALID, "Database is closed")
        assert may_change and any(text in str(answer["error"]) for text in refusals), answer["error"]
        return None
    assert table_rows(answer["result"]) == EXPECTED
    return answer["result"]

def read_while(select, change):
    '''Reads the stream of select's result on a thread while change() alters
    the database behind it; returns the cursor, which outlives the change.'''
    cursor = db.executeSelect(select)
    thread, answer = stream_of(cursor)
    change()
    thread.join()
    checked(answer, may_change=True)
    return cursor
"""

# What the main thread does while a stream of `cursor` is read elsewhere.
STREAM_ACTIONS = {
    "load": """
        for _ in range(12):
            cursor = read_while("select a, b, c from t where a < 200000 order by b desc",
                                lambda: db.executeCommand(f"load t from {SMALL}"))
            db = fresh()
    """,
    "drop": """
        for _ in range(12):
            cursor = read_while("select a, b, c from t", lambda: db.executeCommand("drop table t"))
            db = fresh()
    """,
    "close": """
        for _ in range(12):
            cursor = read_while("select a, b, c from t order by b desc", db.close)
            db = fresh()
    """,
    "parser deleted": """
        for _ in range(12):
            cursor = db.executeSelect("select a, b, c from t")
            thread, answer = stream_of(cursor)
            del db
            gc.collect()
            thread.join()
            assert checked(answer, may_change=False) is not None
            del cursor
            db = fresh()
    """,
    "getters": """
        for _ in range(30):
            cursor = db.executeSelect("select a, b, c from t")
            thread, answer = stream_of(cursor)
            while thread.is_alive():
                for row in range(0, 200000, 997):
                    cursor.setRow(row)
                    assert (cursor.getInt(0), cursor.getFloat(1), cursor.getString(2)) == EXPECTED[row]
            thread.join()
            checked(answer, may_change=False)
    """,
    "fetchAll": """
        for _ in range(30):
            cursor = db.executeSelect("select a, b, c from t")
            cursor.setRow(5)
            thread, answer = stream_of(cursor)
            assert cursor.fetchAll() == EXPECTED
            thread.join()
            checked(answer, may_change=False)
            assert cursor.getInt(0) == EXPECTED[5][0]
    """,
}


@pytest.mark.parametrize("action", STREAM_ACTIONS.values(), ids=STREAM_ACTIONS.keys())
def test_stream_read_on_another_thread(files, action):
    peer("pyarrow")
    run(STREAM_SETUP + action.replace("\n        ", "\n"), files)


# ---------------------------------------------------------------- progress

# Long work on the main thread, each step given the database with the big
# table loaded; a step is repeated until the work has lasted long enough.
LONG_WORK = {
    "load": "lambda db: db.executeCommand(f'load t from {BIG}')",
    "query": "lambda db: db.executeSelect('select a, b from t order by b desc, c, a')",
    "fetchAll": "lambda db: db.executeSelect('select a, b from t').fetchAll()",
    "getColumn": "lambda db: db.executeSelect('select c from t').getColumn(0)",
    "toCSV": "lambda db: db.executeSelect('select a, c from t').toCSV()",
    "arrow": "lambda db: pa.table(db.executeSelect('select a, b, c from t order by c'))",
}


def arrow_import(work):
    """The import a step needs: pyarrow for the Arrow steps."""
    if "pa." not in work:
        return ""
    peer("pyarrow")
    return "import pyarrow as pa\n"


@pytest.mark.parametrize("work", LONG_WORK.values(), ids=LONG_WORK.keys())
def test_other_threads_run_while_the_engine_works(files, work):
    run(arrow_import(work) + f"""
db = loaded("t", BIG)
ticks, stop = [0], threading.Event()
def tick():
    while not stop.is_set():
        ticks[0] += 1
        time.sleep(0.001)
ticker = threading.Thread(target=tick)
work = {work}
started = time.monotonic()
ticker.start()
while time.monotonic() - started < 0.5:
    work(db)
elapsed = time.monotonic() - started
stop.set()
ticker.join()
# A ticker that got the interpreter only between steps would tick a few times.
assert ticks[0] >= elapsed / 0.05, (ticks[0], elapsed)
""", files)


# ---------------------------------------------------------------- interrupt()

INTERRUPTED_WORK = dict(LONG_WORK, join="lambda db: db.executeSelect('select a from t join t on b = b')")


@pytest.mark.parametrize("work", INTERRUPTED_WORK.values(), ids=INTERRUPTED_WORK.keys())
def test_interrupt_stops_work_on_another_thread(files, work):
    run(arrow_import(work) + f"""
db = loaded("t", BIG)
other = loaded("t", SMALL)
# A load on another database runs meanwhile and is not stopped.
bystander, spared = in_thread(lambda: other.executeCommand(f"load t from {{BIG}}"))
thread, answer = in_thread(lambda: ({work})(db))
# Only the running call is stopped: keep asking until the thread is done.
asked = time.monotonic()
while thread.is_alive():
    db.interrupt()
    time.sleep(0.002)
assert time.monotonic() - asked < 3.0
assert "Interrupted" in str(answer.get("error")), answer
assert len(db.executeSelect("select a from t")) == ROWS
# Nothing runs now: an interrupt is not kept for a later call.
db.interrupt()
assert len(db.executeSelect("select a from t where a < 10").fetchAll()) == 10
bystander.join()
assert "error" not in spared, spared
assert len(other.executeSelect("select a from t")) == 200000 + ROWS
""", files)


@pytest.mark.parametrize("writer", ["stalled", "absent"])
def test_interrupt_stops_a_load_waiting_on_a_pipe(files, tmp_path, writer):
    fifo = tmp_path / "rows.fifo"
    os.mkfifo(fifo)
    run(f"""
db = loaded("t", SMALL)
fifo = {str(fifo)!r}
if {writer == "stalled"}:
    def stall():
        out = os.open(fifo, os.O_WRONLY)
        os.write(out, b"a,b,c\\n" + b"".join(b"%d,1.5,x\\n" % i for i in range(5000)))
        time.sleep(5)
        os.close(out)
    threading.Thread(target=stall, daemon=True).start()
thread, answer = in_thread(lambda: db.executeCommand(f"load t from {{fifo}}"))
time.sleep(0.3)
assert thread.is_alive()
asked = time.monotonic()
db.interrupt()
thread.join(3.0)
assert not thread.is_alive() and time.monotonic() - asked < 3.0
assert str(answer.get("error")) == "Interrupted", answer
assert len(db.executeSelect("select a from t")) == 200000
""", files)


def test_two_threads_share_one_parser(files):
    run("""
db = tabulon.DatabaseParser()
failures = []
def worker(name):
    try:
        for round in range(6):
            table = f"{name}{round}"
            db.executeCommand(f"create table {table} (a int, b double, c string)")
            db.executeCommand(f"load {table} from {SMALL}")
            cursor = db.executeSelect(f"select a, c from {table} where a < 1000 order by a desc")
            rows = cursor.fetchAll()
            assert rows == [(i, f"s{i % 13}") for i in range(999, -1, -1)], table
            cursor.setRow(3)
            assert cursor.getInt(0) == 996 and cursor.getString(1) == f"s{996 % 13}"
            assert len(db.executeSelect(f"select a from {table}").getColumn(0)) == 200000
            db.executeCommand(f"drop table {table}")
    except BaseException as error:
        failures.append(error)
threads = [threading.Thread(target=worker, args=(name,)) for name in ("x", "y")]
for thread in threads:
    thread.start()
for thread in threads:
    thread.join()
assert not failures, failures
""", files)


# ---------------------------------------------------------------- signal handlers

# A handler that calls into the database the main thread is busy with, run
# every millisecond during a long call: each call is refused, and the outer
# call's result is the one it has without the handler.
REENTRY = {
    "drop during a load": ("db.executeCommand('drop table t')",
                           "db.executeCommand(f'load t from {BIG}')",
                           "len(db.executeSelect('select a from t')) == 2 * ROWS"),
    "load during a load": ("db.executeCommand(f'load t from {SMALL}')",
                           "db.executeCommand(f'load t from {BIG}')",
                           "len(db.executeSelect('select a from t')) == 2 * ROWS"),
    "drop during a query": ("db.executeCommand('drop table t')",
                            "db.executeSelect('select a, b from t where a >= 10 order by b desc, a')",
                            "len(result) == ROWS - 10 and result.getColumn(0)[:2] == [999, 1999]"),
    "getter during fetchAll": ("cursor.getInt(0)",
                               "cursor.fetchAll()",
                               "sorted(result) == [(i, i % 1000 + 0.5) for i in range(ROWS)]"),
}


@pytest.mark.parametrize("inner, outer, check", REENTRY.values(), ids=REENTRY.keys())
def test_signal_handler_calling_the_busy_database_is_refused(files, inner, outer, check):
    run(f"""
db = loaded("t", BIG)
cursor = db.executeSelect("select a, b from t")
refusals, ended = [], []
def handler(*_):
    # A handler may also run just after the outer call returns: a read
    # tells, so that the change is made only inside the call, where it is
    # refused.
    if ended:
        return
    try:
        len(cursor)
        ended.append(True)
        return
    except RuntimeError as error:
        refusals.append(str(error))
    try:
        {inner}
        refusals.append("accepted")
    except RuntimeError as error:
        refusals.append(str(error))
signal.signal(signal.SIGALRM, handler)
signal.setitimer(signal.ITIMER_REAL, 0.001, 0.001)
result = {outer}
signal.setitimer(signal.ITIMER_REAL, 0)
assert refusals and set(refusals) == {{"Database is busy"}}, refusals[:3]
assert {check}
""", files)


@pytest.mark.parametrize("raised", ["busy", "interrupt"])
def test_signal_handler_stopping_a_load_undoes_it(files, raised):
    """A handler whose call is refused and lets the refusal out, or one that
    asks the database to stop, ends the load; the load is undone."""
    inner = "db.executeCommand('drop table t')" if raised == "busy" else "db.interrupt()"
    message = "Database is busy" if raised == "busy" else "Interrupted"
    run(f"""
db = loaded("t", BIG)
def handler(*_):
    {inner}
signal.signal(signal.SIGALRM, handler)
signal.setitimer(signal.ITIMER_REAL, 0.05)
try:
    db.executeCommand(f"load t from {{BIG}}")
    raise AssertionError("the load was not stopped")
except RuntimeError as error:
    assert str(error) == {message!r}
assert len(db.executeSelect("select a from t")) == ROWS
""", files)
