"""Memory stays bounded: loading, querying and dropping a 100,000-row table
fifty times in one process keeps the resident set flat.

The loop runs in a fresh interpreter so that nothing else the test session
allocates moves the figures; it reports its resident set after every round,
read from /proc/self/statm once the C allocator has handed back the free
pages it keeps. Without that, freed blocks scattered over the arenas of
the load's threads hold the figure up by a megabyte or two, settling after
dozens of rounds, with nothing leaked.
"""

import json
import os

import pytest

from conftest import run_python

ROUNDS = 50
WARM_UP = 5
# Allowed growth from the end of the warm-up to the last round. A leak of
# even one percent of the table per round (about 60 KB) would exceed it.
ALLOWED_GROWTH = 2 * 1024 * 1024

CHILD = """
    import ctypes, json, os, sys
    import tabulon

    libc = ctypes.CDLL(None)
    trim = (lambda: libc.malloc_trim(0)) if hasattr(libc, "malloc_trim") else (lambda: None)

    path, rounds = sys.argv[1], int(sys.argv[2])
    page = os.sysconf("SC_PAGE_SIZE")

    def resident():
        trim()
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[1]) * page

    db = tabulon.DatabaseParser()
    sizes = []
    for round in range(rounds):
        levels = round % 3
        if levels == 0:
            db.executeCommand("create table t (id int, g string cat 1, k int cat 2, x double, s string)")
        elif levels == 1:
            db.executeCommand(f"create table t (id int, g string, k int, x double, s string) config from {path}")
        else:
            db.executeCommand("create table t (id int, g string, k int, x double, s string)")
        db.executeCommand(f"load t from {path}")
        cursor = db.executeSelect("select s, x from t where k < 20 or g = g3 order by x desc")
        assert cursor.getNumberOfRows() > 0
        cursor.setRow(cursor.getNumberOfRows() - 1)
        cursor.getString(0)
        db.executeCommand("drop table t")
        del cursor
        sizes.append(resident())
    print(json.dumps(sizes))
"""


def child_environment():
    # A fixed threshold for mapping large blocks: by default the C allocator
    # raises it as blocks are freed and then keeps later tables on a heap it
    # trims unpredictably, so the resident set jumps by megabytes and stays
    # up without any leak.
    env = dict(os.environ, MALLOC_MMAP_THRESHOLD_="131072")
    if "libasan" in env.get("LD_PRELOAD", ""):
        # The sanitizer keeps freed blocks in quarantine to catch use after
        # free; without that the allocator reuses memory as the real one does.
        options = env.get("ASAN_OPTIONS", "")
        env["ASAN_OPTIONS"] = ":".join(filter(None, [options, "quarantine_size_mb=0", "thread_local_quarantine_size_kb=0"]))
    return env


@pytest.fixture(scope="module")
def table_file(tmp_path_factory):
    path = tmp_path_factory.mktemp("memory") / "rows.csv"
    with open(path, "w") as out:
        out.write("id,g,k,x,s\n")
        for i in range(100_000):
            out.write(f"{i},g{i % 7},{(i * 37) % 400},{i * 0.25},text {i}\n")
    return path


def test_loading_and_dropping_keeps_the_resident_set_flat(table_file, tmp_path):
    result = run_python(CHILD, tmp_path, table_file, ROUNDS, env=child_environment())
    sizes = json.loads(result.stdout.strip().splitlines()[-1])
    assert len(sizes) == ROUNDS
    settled = max(sizes[:WARM_UP])
    assert max(sizes[WARM_UP:]) - settled <= ALLOWED_GROWTH, [s // 1024 for s in sizes]
