"""Loads on several threads give exactly what a load on one thread gives:
the same rows in the same order, the same categories, and for a bad record
the same message naming the same line, with the table left as it was. The
files span several batches of records, so that records are cut, converted
and handed back across threads."""

import random

import pytest

import tabulon
from conftest import BAD_BOOL, error, settings

# Name, type and whether it may hold NULL.
COLUMNS = [("i", "int", True), ("l", "long", False), ("h", "short", True), ("d", "double", True),
           ("f", "float", False), ("b", "bool", True), ("day", "date", True), ("s", "string", True),
           ("t", "string", False)]
ROWS = 5000


def definition(levels):
    """The columns' definitions, those named in `levels` as levels."""
    return ", ".join(f"{name} {kind}" + (f" cat {k}" if name in levels else "") + (" null" if null else "")
                     for k, (name, kind, null) in enumerate(COLUMNS, 1))


# How the table is made: plain, categorised by cat, or by sampling the file.
SHAPES = {
    "plain": lambda path: f"create table t ({definition(())})",
    "cat": lambda path: f"create table t ({definition(('h', 'day', 't'))})",
    "config from": lambda path: f"create table t ({definition(())}) config from '{path}'",
}

# A bad record, as written, and the start of the message it gives.
FAULTS = {
    "bool": ("1,2,3,4.5,5.5,maybe,2020-01-01,s,t", BAD_BOOL.format("maybe")),
    "short": ("1,2,40000,4.5,5.5,y,2020-01-01,s,t", "Value 40000 does not fit column h of type short"),
    "fields": ("1,2,3", "Incorrect number of columns in input file"),
    "quoted fields": ('1,2,3,4,5,y,2020-01-01,"a,\nb"', "Incorrect number of columns in input file"),
}


def text_field(rng):
    """A text as a file may write it: plain, quoted with separators, doubled
    quotes and line ends inside, or with a quote that opens no field."""
    word = rng.choice(["a", "bb", "ccc", "d d", "é", "x" * rng.randint(0, 40)])
    return rng.choice([
        word, word, f'"{word},{word}"', f'"say ""{word}"""', f'"{word}\n{word}"', f'"{word}\r\n"',
        f'x{word}"{word}', '""', "",
    ])


def random_record(rng):
    def maybe(field):
        return "" if rng.random() < 0.1 else field
    return ",".join([
        maybe(str(rng.randint(-2**31, 2**31 - 1))), str(rng.randint(-2**63, 2**63 - 1)),
        maybe(str(rng.randint(-50, 50))), maybe(repr(rng.uniform(-1e6, 1e6))), f"{rng.random():.6f}",
        maybe(rng.choice(["true", "False", "y", "0"])), maybe(f"20{rng.randint(10, 29)}-0{rng.randint(1, 9)}-1{rng.randint(0, 9)}"),
        text_field(rng), text_field(rng),
    ]) + rng.choice(["\n", "\n", "\r\n", "\n\n"])


def write_file(path, records):
    path.write_bytes(("i,l,h,d,f,b,day,s,t\n" + "".join(records)).encode())
    return str(path)


def load(tmp_path, threads, shape, first, second):
    """Table t made as `shape` says and loaded from `first`, then from
    `second`, then from `first` again, with loads on `threads` threads;
    answers the rows and the second load's error (the third load follows
    a failed one into the nodes it left)."""
    with settings(tmp_path, f"threads={threads}\n"):
        db = tabulon.DatabaseParser()
        db.executeCommand(SHAPES[shape](first))
        db.executeCommand(f"load t from '{first}'")
        failure = error(db.executeCommand, f"load t from '{second}'")
        db.executeCommand(f"load t from '{first}'")
        return db.executeSelect("select * from t").fetchAll(), failure


@pytest.mark.parametrize("shape", sorted(SHAPES))
def test_rows_load_alike_on_one_thread_and_on_several(tmp_path, shape):
    rng = random.Random(shape)
    first = write_file(tmp_path / "first.csv", [random_record(rng) for _ in range(ROWS)])
    second = write_file(tmp_path / "second.csv", [random_record(rng) for _ in range(ROWS)])
    one, failure = load(tmp_path, 1, shape, first, second)
    assert failure is None and len(one) == 3 * ROWS
    for threads in (2, 4):
        assert load(tmp_path, threads, shape, first, second) == (one, None)


@pytest.mark.parametrize("shape", ["plain", "cat"])
@pytest.mark.parametrize("fault", sorted(FAULTS))
@pytest.mark.parametrize("place", [3, ROWS // 2, ROWS - 1])
def test_a_bad_record_fails_the_load_and_the_sample_alike_wherever_it_lies(tmp_path, fault, place, shape):
    rng = random.Random(f"{fault} {place}")
    first = write_file(tmp_path / "first.csv", [random_record(rng) for _ in range(200)])
    records = [random_record(rng) for _ in range(ROWS)]
    records[place] = FAULTS[fault][0] + "\n"
    second = write_file(tmp_path / "second.csv", records)
    line = 2 + sum(record.count("\n") for record in records[:place])
    one, failure = load(tmp_path, 1, shape, first, second)
    assert failure.startswith(FAULTS[fault][1]) and failure.endswith(f", line {line} of {second}")
    assert len(one) == 400
    assert load(tmp_path, 4, shape, first, second) == (one, failure)
    # Sampling the file reaches the record too: b stays a candidate to the end.
    for threads in (1, 2, 4):
        with settings(tmp_path, f"threads={threads}\n"):
            assert error(tabulon.DatabaseParser().executeCommand, SHAPES["config from"](second)) == failure


@pytest.mark.parametrize("rows", [0, 1, ROWS])
def test_a_quoted_field_open_at_the_end_of_the_file_fails_alike(tmp_path, rows):
    rng = random.Random(rows)
    first = write_file(tmp_path / "first.csv", [random_record(rng) for _ in range(10)])
    records = [random_record(rng) for _ in range(rows)] + ['1,2,3,4,5,y,2020-01-01,"open\n,t\n']
    second = write_file(tmp_path / "second.csv", records)
    line = 2 + sum(record.count("\n") for record in records[:-1])
    expected = f"Quoted field on line {line} of {second} is not closed before the end of the file"
    for threads in (1, 4):
        loaded, failure = load(tmp_path, threads, "plain", first, second)
        assert failure == expected and len(loaded) == 20


@pytest.mark.parametrize("header", ['"i,\nl",h\n', "\n\r\ni,l\n"])
def test_headers_over_several_lines_or_after_empty_lines_are_skipped(tmp_path, header):
    path = tmp_path / "h.csv"
    path.write_text(header + "".join(f"{k},{k * 2}\n" for k in range(3000)))
    for threads in (1, 4):
        with settings(tmp_path, f"threads={threads}\n"):
            db = tabulon.DatabaseParser()
            db.executeCommand("create table t (i int, l long)")
            db.executeCommand(f"load t from '{path}'")
            assert db.executeSelect("select * from t").fetchAll() == [(k, k * 2) for k in range(3000)]


# A level of many distinct keys in random order: values of a dense range
# and scattered ones, the type's ends, and the bits a hash slot keeps for
# free slots. Numbering each key as it first arrives must find it again
# wherever it recurs, on one thread or several.
LEVEL_KEYS = {
    "int": [-2**31, 2**31 - 1, -635641175, -635641174, -635641176, -1, 0],
    "long": [-2**63, 2**63 - 1, -5355537731544096087, -5355537731544096086, -1, 0],
    "double": [-1.7976931348623157e308, 1.7976931348623157e308, -1.5, -0.0, 0.25],
}


@pytest.mark.parametrize("kind", sorted(LEVEL_KEYS))
def test_a_level_of_many_keys_in_random_order_loads_every_key(tmp_path, kind):
    rng = random.Random(kind)
    keys = LEVEL_KEYS[kind] + list(range(-1500, 1500)) + [rng.randint(-2**31, 2**31 - 1) for _ in range(1500)]
    rows = [(i, rng.choice(keys)) for i in range(4 * ROWS)]
    path = tmp_path / "keys.csv"
    path.write_text("id,key\n" + "".join(f"{i},{key!r}\n" for i, key in rows))
    bound = sorted(keys)[len(keys) // 3]
    expected = (sorted(rows), sum(1 for _, key in rows if key <= bound))
    for threads in (1, 2):
        with settings(tmp_path, f"threads={threads}\n"):
            db = tabulon.DatabaseParser()
            db.executeCommand(f"create table t (id int, key {kind} cat 1)")
            db.executeCommand(f"load t from '{path}'")
            loaded = sorted(db.executeSelect("select id, key from t").fetchAll())
            below = len(db.executeSelect(f"select id from t where key <= {bound!r}").fetchAll())
            assert (loaded, below) == expected, threads
