"""Loading tables from Arrow streams: any object with __arrow_c_stream__ as
the source of `load t from ?` and `create table ... config from ?`. Every
Arrow type into every column type it may become, values out of range,
NULLs, unsupported types, empty, chunked and failing streams, Ctrl-C in a
slow producer, the same tree as a CSV load of the same rows, and round
trips from every library results go to."""

import datetime
import gc

import pytest
import tabulon
from conftest import error, peer, run_python, write_csv

pa = peer("pyarrow")

DAY = datetime.date(2024, 2, 29)
FIRST_DAY, LAST_DAY = datetime.date(1970, 1, 1), datetime.date(2149, 6, 6)


def execute(db, command, source):
    """Runs `command`, whose file name ? reads the rows of `source`."""
    db.executeCommand(command, [source])


def load(db, table, source):
    execute(db, f"load {table} from ?", source)


def single(values, arrow_type):
    return pa.table({"a": pa.array(values, arrow_type)})


def dictionary(index, value_type, values):
    words = sorted({v for v in values if v is not None})
    indices = [None if v is None else words.index(v) for v in values]
    return pa.DictionaryArray.from_arrays(pa.array(indices, index), pa.array(words, value_type))


INTEGERS = [pa.int8(), pa.uint8(), pa.int16(), pa.uint16(), pa.int32(), pa.uint32(), pa.int64(), pa.uint64()]
TEXTS = [pa.string(), pa.large_string(), pa.string_view()]

# Arrow type, column type, values (None a null): each loads into a `null`
# column of that type as itself.
CONVERSIONS = (
    [(t, c, [0, None, 100, 127]) for t in INTEGERS for c in ("short", "int", "long")]
    + [(pa.int16(), "short", [-32768, 32767, None]), (pa.int32(), "int", [-2**31, 2**31 - 1]),
       (pa.int64(), "long", [-2**63, 2**63 - 1]), (pa.uint64(), "long", [2**63 - 1, None]),
       (pa.uint32(), "long", [2**32 - 1]), (pa.int64(), "short", [-32768, 32767])]
    + [(t, c, [1.5, None, -0.25, 1e30]) for t in (pa.float32(), pa.float64()) for c in ("double", "float")]
    + [(pa.bool_(), "bool", [True, None, False]), (pa.date32(), "date", [DAY, None, FIRST_DAY, LAST_DAY]),
       (pa.date64(), "date", [DAY, None, FIRST_DAY, LAST_DAY])]
    + [(t, "string", ["North", None, "", "Süd", "x" * 300]) for t in TEXTS]
    + [(pa.null(), c, [None, None]) for c in ("int", "double", "string", "bool", "date")]
)


def misaligned(array):
    """The same array with every buffer one byte off any alignment, as a
    producer that unpickles batches from bytes may hand them over."""
    buffers = [None if b is None else pa.py_buffer(b"\0" + b.to_pybytes()).slice(1) for b in array.buffers()]
    return pa.Array.from_buffers(array.type, len(array), buffers, null_count=array.null_count, offset=array.offset)


@pytest.mark.parametrize("arrow_type, column, values", CONVERSIONS, ids=lambda v: str(v)[:20])
@pytest.mark.parametrize("level, shifted", [("", False), (" cat 1", False), ("", True)],
                         ids=["plain", "level", "misaligned"])
def test_every_arrow_type_loads_into_every_column_type_it_may_become(db, arrow_type, column, values, level, shifted):
    db.executeCommand(f"create table t (a {column}{level} null, n int)")
    n = pa.array(range(len(values)), pa.int32())
    columns = {"a": pa.array(values, arrow_type), "n": n}
    if shifted:
        columns = {name: misaligned(array) for name, array in columns.items()}
    load(db, "t", pa.table(columns))
    got = [a for a, _ in sorted(db.executeSelect("select a, n from t").fetchAll(), key=lambda row: row[1])]
    single_precision = arrow_type == pa.float32() or column == "float"
    expected = [pa.scalar(v, pa.float32()).as_py() if single_precision and v is not None else v for v in values]
    assert got == expected


@pytest.mark.parametrize("arrow_type, values", [
    (pa.dictionary(pa.int8(), pa.string()), ["b", None, "a", "b"]),
    (pa.dictionary(pa.uint32(), pa.large_string()), ["b", "a", None, "c"]),
    (pa.dictionary(pa.int64(), pa.string_view()), ["a", "a", "b", None]),
])
@pytest.mark.parametrize("level", ["", " cat 1"])
def test_dictionary_encoded_texts_load_as_strings(db, arrow_type, values, level):
    db.executeCommand(f"create table t (a string{level} null, n int)")
    column = dictionary(arrow_type.index_type, arrow_type.value_type, values)
    load(db, "t", pa.table({"a": column, "n": pa.array(range(len(values)), pa.int32())}))
    assert [a for a, _ in db.executeSelect("select a, n from t order by n").fetchAll()] == values


# Column definition, source table, the message: the load fails and stores
# nothing.
REFUSED = [
    ("a short", single([1, 40000], pa.int64()), "Value 40000 does not fit column a of type short, row 2 of the Arrow stream"),
    ("a short", single([1, 2, -32769], pa.int32()), "Value -32769 does not fit column a of type short, row 3"),
    ("a int", single([2**31], pa.uint32()), "Value 2147483648 does not fit column a of type int, row 1"),
    ("a long", single([5, 2**63], pa.uint64()), "Value 9223372036854775808 does not fit column a of type long, row 2"),
    ("a short", single([300, 70000], pa.uint32()), "Value 70000 does not fit column a of type short, row 2"),
    ("a float", single([1.0, 1e300], pa.float64()), "Value 1e+300 does not fit column a of type float, row 2"),
    ("a date", single([datetime.date(1969, 12, 31)], pa.date32()),
     "Value 1969-12-31 does not fit column a of type date (1970-01-01 to 2149-06-06), row 1"),
    ("a date", single([LAST_DAY + datetime.timedelta(days=1)], pa.date64()),
     "Value 2149-06-07 does not fit column a of type date (1970-01-01 to 2149-06-06), row 1"),
    ("a int", single([1, None], pa.int64()),
     "Column a cannot hold the null value; declare the column with null to load missing values, row 2"),
    ("a string", single(["x", None], pa.string()), "Column a cannot hold the null value"),
    ("a string", pa.table({"a": dictionary(pa.int8(), pa.string(), ["x", None])}), "Column a cannot hold the null"),
    ("a int", single([None], pa.null()), "Column a cannot hold the null value"),
    ("a string", single(["ok", "a\0b"], pa.string()), "Text in column a holds a NUL byte, which a stored text cannot hold, row 2"),
    ("a string", single(["x" * 70000], pa.large_string()), "Text of 70001 bytes in column a is too long"),
    ("a int", single([1.0], pa.float64()), "Column a of type int cannot be loaded from Arrow type float64"),
    ("a double", single([1], pa.int64()), "Column a of type double cannot be loaded from Arrow type int64"),
    ("a float", single([1.0], pa.float16()), "Column a of type float cannot be loaded from Arrow type float16"),
    ("a int", single(["1"], pa.string()), "Column a of type int cannot be loaded from Arrow type utf8"),
    ("a bool", single([1], pa.int8()), "Column a of type bool cannot be loaded from Arrow type int8"),
    ("a string", single([b"x"], pa.binary()), "Column a of type string cannot be loaded from Arrow type binary"),
    ("a date", single([0], pa.timestamp("us")), "Column a of type date cannot be loaded from Arrow type timestamp"),
    ("a string", pa.table({"a": pa.DictionaryArray.from_arrays(pa.array([0]), pa.array([7]))}),
     "Column a of type string cannot be loaded from Arrow type dictionary of int64"),
    ("a int, b int", single([1], pa.int32()), "The Arrow stream has 1 columns, the table 2: columns are matched by position"),
    # Rows the tree refuses, amid rows it takes a block at a time.
    ("k int cat 1, v short", pa.table({"k": pa.array(range(70000), pa.int32()),
                                       "v": pa.array([i % 5 for i in range(70000)], pa.int16())}),
     "Unable to add another value to column 0. Column should be setup as non-category., row 65535 of the Arrow stream"),
    ("a string, b string", pa.table({"a": ["x"] * 2999 + ["a" * 40000], "b": ["y"] * 2999 + ["b" * 40000]}),
     "Row of 80002 bytes exceeds the limit of 65535 bytes per stored row, row 3000 of the Arrow stream"),
]


@pytest.mark.parametrize("definition, source, message", REFUSED, ids=lambda v: str(v)[:40])
def test_a_value_or_type_the_column_cannot_take_fails_the_load_and_stores_nothing(db, definition, source, message):
    db.executeCommand(f"create table t ({definition})")
    before = db.executeSelect("select * from t")
    assert message in error(load, db, "t", source)
    assert len(db.executeSelect("select * from t")) == 0
    assert before.fetchAll() == []


@pytest.mark.parametrize("rows, chunk, too_big, null, named", [
    (3000, 700, 2500, 2100, 2101),    # the later row in an earlier column: a middle block
    (3000, 700, 3, 900, 4),           # the first block
    (3000, 700, None, 2999, 3000),    # the last row of the last block
    (10000, None, 9000, 4096, 4097),  # the first row of a one-batch stream's second block
    (10000, None, 4095, 8000, 4096),  # the last row of its first block
])
def test_the_first_bad_row_in_stream_order_is_named_across_blocks_and_batches(db, load_threads, rows, chunk, too_big,
                                                                             null, named):
    db.executeCommand("create table t (a short, b int)")
    a = list(range(rows))
    b = list(range(rows))
    if too_big is not None:
        a[too_big] = 99999
    b[null] = None
    batches = pa.table({"a": pa.array(a, pa.int32()), "b": pa.array(b, pa.int64())}).to_batches(max_chunksize=chunk)
    reader = pa.RecordBatchReader.from_batches(batches[0].schema, batches)
    assert error(load, db, "t", reader).endswith(f"row {named} of the Arrow stream")
    assert len(db.executeSelect("select a from t")) == 0


def test_rows_loaded_from_a_stream_build_the_same_tree_as_the_same_rows_from_csv(db, tmp_path, load_threads):
    # More rows than a sample interval, levels given and chosen, a table
    # rebuilt as a tree during the load; the rows come back in stored order,
    # which is the tree's.
    count = 25000
    columns = {"id": pa.array(range(count), pa.int32()),
               "region": pa.array([f"R{i % 7}" for i in range(count)]),
               "store": dictionary(pa.int16(), pa.string(), [f"S{(i * 13) % 40:02d}" for i in range(count)]),
               "qty": pa.array([i % 90 for i in range(count)], pa.int16()),
               "price": pa.array([None if i % 11 == 0 else i / 8 for i in range(count)]),
               "day": pa.array([FIRST_DAY + datetime.timedelta(days=i % 300) for i in range(count)], pa.date32()),
               "ok": pa.array([i % 3 == 0 for i in range(count)])}
    table = pa.table(columns)
    path = write_csv(tmp_path / "rows.csv", table.column_names,
                     [["" if v is None else ("true" if v is True else "false" if v is False else v) for v in row]
                      for row in zip(*(c.to_pylist() for c in table.columns))])
    definition = "id int, region string{0}, store string{1}, qty short, price double null, day date, ok bool"
    for mode, plain, levels in (("cat", definition.format("", ""), definition.format(" cat 1", " cat 2")),
                                ("config", definition.format("", ""), None), ("unconfigured", None, None)):
        chosen = levels or definition.format("", "")
        config = " config from ?" if mode == "config" else ""
        execute(db, f"create table a_{mode} ({chosen}){config}", table) if config else \
            db.executeCommand(f"create table a_{mode} ({chosen})")
        db.executeCommand(f"create table c_{mode} ({chosen})" + (f" config from '{path}'" if config else ""))
        load(db, f"a_{mode}", pa.RecordBatchReader.from_batches(table.schema, table.to_batches(max_chunksize=999)))
        db.executeCommand(f"load c_{mode} from '{path}'")
        assert db.executeSelect(f"select * from a_{mode}").fetchAll() == \
            db.executeSelect(f"select * from c_{mode}").fetchAll(), mode


def batches_of(schema, rows, fail_at=None, finished=None):
    """A Python-generated RecordBatchReader of one-column batches of `rows`
    rows each, raising in batch `fail_at` (counted from 1)."""
    def generate():
        try:
            for number, values in enumerate(rows, 1):
                if number == fail_at:
                    raise ValueError("the source broke")
                yield pa.record_batch([pa.array(values, schema.field(0).type)], schema=schema)
        finally:
            if finished is not None:
                finished.append(True)
    return pa.RecordBatchReader.from_batches(schema, generate())


@pytest.mark.parametrize("chunks, fail_at, message", [
    ([[1, 2], [3], [4, 5]], None, None),
    ([[], [1], [], [2, 3], []], None, None),
    ([[]], None, None),
    ([], None, None),
    ([[1, 2], [3, 4], [5, 6]], 3, "Reading the Arrow stream failed after 4 rows: "),
    ([[1], [2], [3]], 1, "Reading the Arrow stream failed after 0 rows: "),
])
def test_chunked_empty_and_failing_streams_load_every_row_or_none(db, load_threads, chunks, fail_at, message):
    db.executeCommand("create table t (a int)")
    load(db, "t", single([10, 20], pa.int32()))
    schema = pa.schema([("a", pa.int32())])
    outcome = error(load, db, "t", batches_of(schema, chunks, fail_at))
    loaded = [] if message else [v for chunk in chunks for v in chunk]
    assert (outcome is None) == (message is None)
    if message:
        assert outcome.startswith(message) and "the source broke" in outcome
    assert [a for (a,) in db.executeSelect("select a from t").fetchAll()] == [10, 20] + loaded


@pytest.mark.parametrize("command", [
    "load nowhere from ?", "create table t (a int) config from ?", "drop table t", "create table u (a int)",
    "load t from ?x", "load t from ? separator ';'", "select a from t", "", "load t from",
])
def test_a_command_that_fails_or_reads_no_stream_releases_it_unread_and_changes_nothing(db, command):
    db.executeCommand("create table t (a int)")
    finished = []
    schema = pa.schema([("a", pa.int32())])
    source = batches_of(schema, [[1]], finished=finished)
    assert error(execute, db, command, source) is not None
    del source
    gc.collect()
    assert finished in ([], [True])
    assert db.executeSelect("select a from t").fetchAll() == []
    assert error(db.executeSelect, "select a from u") == "Table u is not defined"


def test_sources_that_hand_over_no_unread_stream_are_refused_with_type_error(db):
    db.executeCommand("create table t (a int)")
    table = single([1], pa.int32())

    class Consumed:
        def __arrow_c_stream__(self, requested_schema=None):
            capsule = table.__arrow_c_stream__()
            pa.RecordBatchReader._import_from_c_capsule(capsule)
            return capsule

    class NotACapsule:
        def __arrow_c_stream__(self, requested_schema=None):
            return 7

    for source, message in ((Consumed(), "already read"), (NotACapsule(), "capsule"), ([1, 2], "list; parameters are")):
        with pytest.raises(TypeError, match=message):
            load(db, "t", source)
    assert len(db.executeSelect("select a from t")) == 0


def test_config_from_a_stream_samples_it_and_stores_no_row(db):
    count = 3000
    table = pa.table({"k": pa.array([i % 4 for i in range(count)], pa.int16()),
                      "v": pa.array([str(i) for i in range(count)])})
    execute(db, "create table t (k short, v string) config from ?", table)
    assert len(db.executeSelect("select * from t")) == 0
    assert "already exists" in error(execute, db, "create table t (k short, v string) config from ?", table)
    bad = pa.table({"k": pa.array([1, 40000], pa.int32()), "v": ["a", "b"]})
    assert error(execute, db, "create table u (k short, v string) config from ?", bad).endswith("row 2 of the Arrow stream")
    assert error(db.executeSelect, "select * from u") == "Table u is not defined"


def test_a_result_of_the_table_being_loaded_cannot_feed_its_own_load(db):
    db.executeCommand("create table t (a int)")
    load(db, "t", single(list(range(5000)), pa.int32()))
    outcome = error(load, db, "t", db.executeSelect("select a from t"))
    assert "no longer valid" in outcome
    assert len(db.executeSelect("select a from t")) == 5000


def test_ctrl_c_in_a_slow_python_producer_raises_keyboard_interrupt_and_loads_nothing(tmp_path, load_threads):
    run_python("""
        import os, signal, threading, time, pyarrow as pa, tabulon
        schema = pa.schema([("a", pa.int32())])
        def slow():
            yield pa.record_batch([pa.array(range(5000), pa.int32())], schema=schema)
            time.sleep(30)
            yield pa.record_batch([pa.array([1], pa.int32())], schema=schema)
        db = tabulon.DatabaseParser()
        db.executeCommand("create table t (a int)")
        threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT)).start()
        started = time.monotonic()
        try:
            db.executeCommand("load t from ?", [pa.RecordBatchReader.from_batches(schema, slow())])
            raise AssertionError("the load was not interrupted")
        except KeyboardInterrupt:
            assert time.monotonic() - started < 10
        assert signal.getsignal(signal.SIGINT) is signal.default_int_handler
        assert len(db.executeSelect("select a from t")) == 0
        db.executeCommand("load t from ?", [pa.table({"a": pa.array([7], pa.int32())})])
        assert db.executeSelect("select a from t").fetchAll() == [(7,)]
    """, tmp_path)


ROUND_TRIP_ROWS = [
    (1, 10, -5, 2.5, 1.25, "North", True, DAY),
    (2, None, 7, None, -0.5, "", False, None),
    (-2**63, 2**31 - 1, -32768, 1e300, None, None, None, FIRST_DAY),
    (2**63 - 1, -2**31, 32767, -0.0, 3.0, "Süd, \"quoted\"", True, LAST_DAY),
]


def csv_field(value):
    """A field as RFC 4180 writes it; the empty text quoted, NULL empty."""
    if value is None:
        return ""
    if isinstance(value, str):
        return '"' + value.replace('"', '""') + '"'
    return str(value).lower() if isinstance(value, bool) else str(value)


def via_pandas(result):
    frame = result.toPandas()
    return pa.Table.from_pandas(frame, schema=pa.table(result).schema, preserve_index=False)


@pytest.mark.parametrize("library, convert", [
    ("tabulon", lambda result: result),
    ("pyarrow", lambda result: pa.table(result)),
    ("polars", lambda result: peer("polars").DataFrame(result)),
    ("pandas", lambda result: (peer("pandas"), via_pandas(result))[1]),
    ("duckdb", lambda result: peer("duckdb").sql("select * from result")),
])
def test_a_result_loaded_back_rebuilds_the_table_exactly(db, tmp_path, library, convert):
    definition = ("l long, i int null, s short cat 2, d double null, f float null, t string cat 1 null, "
                  "b bool null, day date null")
    path = tmp_path / "t.csv"
    path.write_text("l,i,s,d,f,t,b,day\n" + "".join(",".join(csv_field(v) for v in row) + "\n"
                                                      for row in ROUND_TRIP_ROWS))
    db.executeCommand(f"create table t ({definition})")
    db.executeCommand(f"load t from '{path}'")
    db.executeCommand(f"create table u ({definition})")
    result = db.executeSelect("select * from t")
    load(db, "u", convert(result))
    assert db.executeSelect("select * from u").fetchAll() == db.executeSelect("select * from t").fetchAll()
    assert len(db.executeSelect("select * from u where t = ''")) == 1


def test_another_database_fed_by_a_result_stays_usable_from_other_threads(db):
    import threading
    db.executeCommand("create table t (a int)")
    load(db, "t", single(list(range(20000)), pa.int32()))
    other = tabulon.DatabaseParser()
    other.executeCommand("create table u (a int)")
    reader = threading.Thread(target=lambda: db.executeSelect("select a from t where a < 5"))
    reader.start()
    load(other, "u", db.executeSelect("select a from t"))
    reader.join()
    assert len(other.executeSelect("select a from u")) == 20000


def test_the_distributed_example_answers_as_one_database_over_every_partition(tmp_path):
    peer("dask")
    distributed = peer("distributed")
    import importlib.util
    from pathlib import Path
    spec = importlib.util.spec_from_file_location(
        "distributed_example", Path(__file__).resolve().parents[2] / "examples" / "distributed.py")
    example = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(example)
    paths, stores = example.write_partitions(tmp_path, 3000, 3)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        table = example.run(client, paths, stores)
    whole = tabulon.DatabaseParser()
    whole.executeCommand(f"create table sales ({example.SALES})")
    for path in paths:
        whole.executeCommand(f"load sales from '{path}'")
    whole.executeCommand(f"create table stores ({example.STORES})")
    load(whole, "stores", stores)
    expected = sorted(whole.executeSelect(example.QUERY).fetchAll())
    assert 0 < len(expected) == table.num_rows
    assert sorted(tuple(row.values()) for row in table.to_pylist()) == expected
