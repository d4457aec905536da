"""Ctrl-C and memory exhaustion in long commands. Each case runs in a fresh
interpreter: it raises KeyboardInterrupt (or MemoryError) within seconds and
leaves the database as it was and usable."""

import contextlib
import gzip
import os
import select
import signal
import subprocess
import threading
import time

import pytest

from conftest import WITHOUT_GZIP, python_command, run_python

# Generous against a busy host; the check itself runs every few thousand rows.
# A sanitizer run, which slows every step, names its factor in TABULON_SLOWDOWN.
BOUND_SECONDS = 3.0 * float(os.environ.get("TABULON_SLOWDOWN", "1"))

LOAD_CHILD = """
    import sys, tabulon
    source, small = sys.argv[1], sys.argv[2]
    db = tabulon.DatabaseParser()
    db.executeCommand("create table t (a int, b string cat 1)")
    db.executeCommand(f"load t from {small}")
    before = db.executeSelect("select * from t")
    print("ready", flush=True)
    try:
        db.executeCommand(f"load t from {source}")
        print("finished", flush=True)
    except KeyboardInterrupt:
        print("interrupted", flush=True)
    assert before.fetchAll() == db.executeSelect("select * from t").fetchAll() == [(1, "x"), (2, "y")]
    db.executeCommand(f"load t from {small}")
    print(len(db.executeSelect("select a from t")), flush=True)
"""


def child(source, *args):
    command, env = python_command(source, *args)
    return subprocess.Popen(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def next_line(process, timeout=60):
    """The child's next line of output; fails when none comes in time."""
    ready, _, _ = select.select([process.stdout], [], [], timeout)
    assert ready, "the child printed nothing in time"
    return process.stdout.readline()


def feed_rows(fifo, compressed):
    """Writes rows into the FIFO, gzip-compressed or not, until the reader
    goes away."""
    try:
        with open(fifo, "wb") as out, (
                gzip.GzipFile(fileobj=out, mode="wb") if compressed else contextlib.nullcontext(out)) as sink:
            sink.write(b"a,b\n")
            while True:
                sink.write("".join(f"{i},v{i % 7}\n" for i in range(10000)).encode())
    except (BrokenPipeError, OSError):
        pass


@pytest.mark.usefixtures("load_threads")
# A FIFO nobody opens for writing, one whose writer never writes (after the
# start of a gzip member), and one fed rows without end.
@pytest.mark.parametrize("writer", ["none", "silent", "endless", *(
    pytest.param(writer, marks=pytest.mark.skipif(WITHOUT_GZIP, reason="the module was built without gzip support"))
    for writer in ("silent gzip", "endless gzip"))])
def test_ctrl_c_stops_a_load_and_undoes_it(tmp_path, writer):
    small = tmp_path / "small.csv"
    small.write_text("a,b\n1,x\n2,y\n")
    fifo = tmp_path / "rows.fifo"
    os.mkfifo(fifo)
    process = child(LOAD_CHILD, fifo, small)
    silent = None
    try:
        assert next_line(process) == "ready\n"
        if writer.startswith("silent"):
            silent = os.open(fifo, os.O_RDWR)  # a writer that never writes
            if writer == "silent gzip":
                os.write(silent, gzip.compress(b"a,b\n" + b"1,x\n" * 1000)[:-8])
        elif writer.startswith("endless"):
            threading.Thread(target=feed_rows, args=(fifo, writer == "endless gzip"), daemon=True).start()
        time.sleep(0.3)
        process.send_signal(signal.SIGINT)
        assert next_line(process, BOUND_SECONDS) == "interrupted\n"
        assert next_line(process) == "4\n"
    finally:
        process.kill()
        process.wait()
        if silent is not None:
            os.close(silent)


def test_ctrl_c_stops_queries_and_reads_into_python(tmp_path):
    path = tmp_path / "big.csv"
    path.write_text("a,b\n" + "".join(f"{i},{i % 1000}.5\n" for i in range(1500000)))
    run_python(f"""
        import signal, time, tabulon
        def interrupt(*_):
            raise KeyboardInterrupt
        signal.signal(signal.SIGALRM, interrupt)
        db = tabulon.DatabaseParser()
        db.executeCommand("create table t (a int, b double)")
        db.executeCommand("load t from {path}")
        cursor = db.executeSelect("select * from t")
        queries = [lambda query=query: db.executeSelect(query) for query in (
            "select * from t order by b desc, a", "select * from t join t on a = a",
            "select * from t join t on b = b where a < 3000")]
        for read in (cursor.fetchAll, lambda: cursor.getColumn(1), lambda: list(cursor), *queries):
            signal.setitimer(signal.ITIMER_REAL, 0.02)
            started = time.monotonic()
            try:
                read()
                raise AssertionError("the read was not interrupted")
            except KeyboardInterrupt:
                assert time.monotonic() - started < {BOUND_SECONDS}
        assert len(cursor.getColumn(0)) == 1500000
    """, tmp_path)


@pytest.mark.usefixtures("load_threads")
@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="AddressSanitizer's allocator ends the process instead of failing an allocation")
def test_memory_exhaustion_raises_and_leaves_the_database_usable(tmp_path):
    path = tmp_path / "wide.csv"
    path.write_text("a,b\n" + "".join(f"{i},{'x' * 200}{i}\n" for i in range(400000)))
    run_python(f"""
        import resource, tabulon
        db = tabulon.DatabaseParser()
        db.executeCommand("create table t (a int, b string)")
        db.executeCommand("create table u (a int, b string)")
        db.executeCommand("load t from {path}")
        soft, hard = resource.getrlimit(resource.RLIMIT_AS)
        with open("/proc/self/statm") as statm:
            used = int(statm.read().split()[0]) * resource.getpagesize()
        resource.setrlimit(resource.RLIMIT_AS, (used + 48 * 2**20, hard))
        try:
            db.executeCommand("load u from {path}")
            raise AssertionError("the load fitted in the limit")
        except MemoryError:
            pass
        except RuntimeError as e:
            assert "allocat" in str(e), e
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
        assert len(db.executeSelect("select a from u")) == 0
        assert len(db.executeSelect("select a from t where a < 10")) == 10
        db.executeCommand("load u from {path}")
        assert len(db.executeSelect("select a from u")) == 400000
    """, tmp_path)
