"""Results handed to the Arrow ecosystem: QuerySet's Arrow PyCapsule
interface read by pyarrow, polars, pandas (through pyarrow) and DuckDB, and
the conversions toArrow, toPandas and toPolars. The cursor's own typed reads
(getColumn, fetchAll) are the reference every peer must agree with."""

import json
import math
import random

import pytest

import tabulon
from conftest import INVALID, load_table, peer, run_python
from test_memory import child_environment

COLUMNS = "id int, name string, ratio double, small short, flag bool, day date, big long, weight float"
LEVELS = ("id int, name string cat 1, ratio double, small short cat 4, flag bool cat 2, day date cat 3, big long, "
          "weight float")
NAMES = ["id", "name", "ratio", "small", "flag", "day", "big", "weight"]
# NaN, -0.0 and infinities; the first and last day a date can hold; the
# extremes of every integer type; empty and non-ASCII text.
ROWS = [
    [1, "Zürich ☃", 2.5, -5, "true", "2024-02-29", 2**40 + 3, 0.5],
    [2, "ann", float("nan"), 32767, "0", "1970-01-01", -(2**63), -0.0],
    [3, "", -0.0, -32768, "1", "2149-06-06", 2**63 - 1, float("inf")],
    [4, "annb", 1e300, 0, "False", "2000-03-01", 0, float("-inf")],
    [2**31 - 1, "ann", -1e-300, 7, "TRUE", "1970-01-02", -1, 3.0],
    [-(2**31), "x" * 40, float("-inf"), -1, "false", "2149-06-05", 2**62, -2.5],
]
QUERY = "select * from t order by id"


@pytest.fixture(params=[COLUMNS, LEVELS], ids=["plain", "categorised"])
def db(request, tmp_path):
    """Table t holding every column type, once plain and once with four tree levels."""
    parser = tabulon.DatabaseParser()
    load_table(parser, tmp_path, "t", request.param, ROWS)
    return parser


def same(left, right):
    """Equal values of one type, where NaN equals NaN and -0.0 differs from 0.0."""
    if isinstance(left, float) and isinstance(right, float):
        return (math.isnan(left) and math.isnan(right)) or (
            left == right and math.copysign(1, left) == math.copysign(1, right))
    return type(left) is type(right) and left == right


def assert_columns(cursor, columns):
    """`columns` (lists of Python values, in select order) hold exactly the
    cursor's values."""
    assert len(columns) == cursor.getNumberOfCols()
    for col, values in enumerate(columns):
        expected = cursor.getColumn(col)
        assert len(values) == len(expected)
        mismatched = [(row, a, b) for row, (a, b) in enumerate(zip(expected, values)) if not same(a, b)]
        assert not mismatched, (cursor.getColumnNames()[col], mismatched[:5])


class TestRoundTrips:
    def test_pyarrow_reads_every_type_again_and_again(self, db):
        pa = peer("pyarrow")
        qs = db.executeSelect(QUERY)
        qs.setRow(3)
        tables = [pa.table(qs), pa.table(qs), qs.toArrow(), pa.RecordBatchReader.from_stream(qs).read_all()]
        assert tables[0].schema == pa.schema([
            ("id", pa.int32()), ("name", pa.string()), ("ratio", pa.float64()), ("small", pa.int16()),
            ("flag", pa.bool_()), ("day", pa.date32()), ("big", pa.int64()), ("weight", pa.float32())])
        assert len(qs) == len(ROWS)
        for table in tables:
            assert_columns(qs, [column.to_pylist() for column in table.columns])
        # Reading the result leaves the current row where it was.
        assert qs.getInt(0) == 3

    def test_polars_pandas_and_duckdb_read_every_type(self, db):
        pl, duckdb = peer("polars"), peer("duckdb")
        peer("pandas"), peer("pyarrow")
        qs = db.executeSelect(QUERY)
        frame, pandas_frame = pl.DataFrame(qs), qs.toPandas()
        assert frame.columns == list(pandas_frame.columns) == NAMES
        assert frame.dtypes == [pl.Int32, pl.String, pl.Float64, pl.Int16, pl.Boolean, pl.Date, pl.Int64,
                                pl.Float32]
        assert_columns(qs, [frame.get_column(name).to_list() for name in NAMES])
        assert_columns(qs, [column.to_list() for column in qs.toPolars().get_columns()])
        assert_columns(qs, [[value.item() if hasattr(value, "item") else value for value in pandas_frame[name].tolist()]
                            for name in NAMES])
        assert_columns(qs, [list(column) for column in zip(*duckdb.sql("select * from qs").fetchall())])
        assert duckdb.sql("select count(*), sum(small) from qs where flag").fetchall() == [(3, -5 - 32768 + 7)]

    def test_joined_results(self, tmp_path):
        pa = peer("pyarrow")
        db = tabulon.DatabaseParser()
        load_table(db, tmp_path, "f", "fid int, k string cat 1, x double", [[i, f"k{i % 4}", i / 3] for i in range(50)])
        load_table(db, tmp_path, "d", "did int, k string, name string cat 1, day date",
                   [[100 + i, f"k{i % 5}", f"n{i}", f"2001-01-{i + 1:02d}"] for i in range(9)])
        qs = db.executeSelect("select * from f join d on k = k where x > 2 order by day desc, fid")
        table = pa.table(qs)
        assert table.column_names == ["fid", "k", "x", "did", "k_1", "name", "day"]
        assert qs.getColumnNames() == ["fid", "k", "x", "did", "k", "name", "day"]
        assert_columns(qs, [column.to_pylist() for column in table.columns])
        frame = peer("polars").DataFrame(qs)
        assert frame.columns == table.column_names
        assert_columns(qs, [frame[name].to_list() for name in frame.columns])

    @pytest.mark.parametrize("select, names", [
        ("k, k", ["k", "k_1"]),
        ("k, k, k_1", ["k", "k_2", "k_1"]),
        ("k_1, k, k, k_2, k", ["k_1", "k", "k_3", "k_2", "k_4"]),
        ("k_1, k_1, k, k", ["k_1", "k_1_1", "k", "k_2"]),
    ])
    def test_repeated_names_get_a_free_suffix(self, tmp_path, select, names):
        pa, pl = peer("pyarrow"), peer("polars")
        db = tabulon.DatabaseParser()
        load_table(db, tmp_path, "u", "k int, k_1 string, k_2 double", [[1, "a", 0.5], [2, "b", -1.5]])
        qs = db.executeSelect(f"select {select} from u")
        selected = select.split(", ")
        assert qs.getColumnNames() == selected and qs.toCSV().split("\n")[0] == ",".join(selected)
        table, frame = pa.table(qs), pl.DataFrame(qs)
        assert table.column_names == frame.columns == names
        assert_columns(qs, [column.to_pylist() for column in table.columns])
        assert_columns(qs, [frame[name].to_list() for name in names])

    @pytest.mark.parametrize("word", [
        lambda rng: f"w{rng.randrange(10**6)}",
        # Either side of the sixteen bytes read at once, and texts that are
        # not ASCII among ASCII ones.
        lambda rng: "x" * rng.randrange(13, 19),
        lambda rng: rng.choice(["é" * rng.randrange(1, 9), "a" * rng.randrange(0, 16), "ä€" * 7]),
    ], ids=["short", "sixteen", "non-ascii"])
    def test_many_rows_over_many_chunks(self, tmp_path, word):
        pa = peer("pyarrow")
        rng = random.Random(11)
        # More rows than a level has category numbers, so that a batch reads
        # the day's values by number; about one day in ten is NULL.
        rows = [[i, rng.choice(["north", "south", "east"]), word(rng), rng.random() < 0.3,
                 rng.randrange(-30000, 30000),
                 None if rng.random() < 0.1 else f"2001-{rng.randrange(1, 13):02d}-{rng.randrange(1, 29):02d}"]
                for i in range(70000)]
        db = tabulon.DatabaseParser()
        load_table(db, tmp_path, "m", "id int, region string cat 1, word string, ok bool cat 2, n short, "
                   "day date cat 3 null", rows)
        for query in ("select * from m", "select word, ok, id, n from m where n > 0 order by word desc, id"):
            qs = db.executeSelect(query)
            table = pa.table(qs)
            assert_columns(qs, [column.to_pylist() for column in table.columns])


class TestEmpty:
    def test_no_rows_keep_the_schema_and_no_result_is_a_table_without_columns(self, db):
        pa, pl = peer("pyarrow"), peer("polars")
        qs = db.executeSelect("select id, name, day from t where id = 99")
        table = pa.table(qs)
        assert table.num_rows == 0 and table.schema.names == ["id", "name", "day"]
        assert table.schema.types == [pa.int32(), pa.string(), pa.date32()]
        frame = pl.DataFrame(qs)
        assert frame.shape == (0, 3) and frame.dtypes == [pl.Int32, pl.String, pl.Date]
        table = pa.table(tabulon.QuerySet())
        assert table.num_rows == 0 and table.num_columns == 0


class TestTexts:
    def test_invalid_utf8_is_replaced_as_the_getters_replace_it(self, tmp_path):
        pa, pl = peer("pyarrow"), peer("polars")
        # Random bytes, high ones often: truncated, overlong and surrogate
        # sequences and stray continuation bytes, next to valid ones. No
        # NUL, line break, comma or quote, which the CSV reader treats
        # specially.
        rng = random.Random(5)
        pool = [bytes([b]) for b in range(0x20, 0x7F) if b not in b',"'] + [bytes([b]) for b in range(0x80, 0x100)]
        pool += ["é".encode(), "☃".encode(), "😀".encode(), b"\xed\xa0\x80", b"\xf4\x90\x80\x80", b"\xe2\x82"]
        texts = [b"".join(rng.choice(pool) for _ in range(rng.randrange(0, 24))) for _ in range(1500)]
        # Enough rows for the tree to split by cat.
        rows = 4000
        with open(tmp_path / "u.csv", "wb") as out:
            out.write(b"id,plain,cat,again\n")
            for i in range(rows):
                out.write(b"%d,%s,%s,%s\n" % (i, texts[i % 1500], texts[i % 8], texts[i * 7 % 1500]))
        db = tabulon.DatabaseParser()
        db.executeCommand("create table u (id int, plain string, cat string cat 1, again string)")
        db.executeCommand(f"load u from '{tmp_path / 'u.csv'}'")
        qs = db.executeSelect("select id, plain, cat from u order by id")
        decoded = [text.decode("utf-8", "replace") for text in texts]
        expected = [decoded[i % 1500] for i in range(rows)]
        assert qs.getColumn(1) == expected
        table = pa.table(qs)
        table.validate(full=True)
        assert table.column("plain").to_pylist() == expected
        assert table.column("cat").to_pylist() == [decoded[i % 8] for i in range(rows)]
        assert pl.DataFrame(qs).get_column("plain").to_list() == expected
        # In stored order: the rows of a node share one cat text, and
        # `again` is a row's second text.
        qs = db.executeSelect("select again, cat, plain from u")
        cats = qs.getColumn(1)
        assert sum(a == b for a, b in zip(cats, cats[1:])) > rows // 2
        table = pa.table(qs)
        table.validate(full=True)
        assert_columns(qs, [column.to_pylist() for column in table.columns])


class Taken:
    """Hands a consumer a stream made earlier."""

    def __init__(self, capsule):
        self.capsule = capsule

    def __arrow_c_stream__(self, requested_schema=None):
        return self.capsule


class TestLifetime:
    @pytest.mark.parametrize("change", ["drop table t", "load t from '{path}'"])
    def test_streams_taken_before_a_change_fail_on_their_next_batch(self, tmp_path, change):
        pa, pl, duckdb = peer("pyarrow"), peer("polars"), peer("duckdb")
        db = tabulon.DatabaseParser()
        path = load_table(db, tmp_path, "t", COLUMNS, ROWS)
        qs = db.executeSelect(QUERY)
        reader = pa.RecordBatchReader._import_from_c_capsule(qs.__arrow_c_stream__())
        for_polars, for_duckdb = Taken(qs.__arrow_c_stream__()), Taken(qs.__arrow_c_stream__())
        db.executeCommand(change.format(path=path))
        assert reader.schema.names == NAMES  # the schema was read when the stream was made
        with pytest.raises(pa.ArrowInvalid, match=INVALID.format("t")):
            reader.read_all()
        with pytest.raises(Exception, match=INVALID.format("t")):
            pl.DataFrame(for_polars)
        with pytest.raises(Exception, match=INVALID.format("t")):
            duckdb.sql("select * from for_duckdb").fetchall()
        # Asking anew raises the cursor's own error.
        for read in (pa.table, type(qs).toArrow):
            with pytest.raises(RuntimeError, match=INVALID.format("t")):
                read(qs)

    def test_capsules_named_released_once_taken_or_not(self, db):
        pa = peer("pyarrow")
        qs = db.executeSelect(QUERY)
        stream, schema = qs.__arrow_c_stream__(), qs.__arrow_c_schema__()
        assert '"arrow_array_stream"' in repr(stream) and '"arrow_schema"' in repr(schema)
        assert pa.schema(qs) == pa.Schema._import_from_c_capsule(schema)
        # A stream is taken once; a second import finds it released.
        reader = pa.RecordBatchReader._import_from_c_capsule(stream)
        with pytest.raises(Exception, match="released"):
            pa.RecordBatchReader._import_from_c_capsule(stream)
        del stream  # the capsule frees the structure, the reader owns the stream
        assert reader.read_all().num_rows == len(ROWS)
        # Never taken: released with the capsule.
        for _ in range(3):
            qs.__arrow_c_stream__()
            qs.__arrow_c_schema__()
        # A requested schema is accepted, by position or by name, and not followed.
        assert pa.RecordBatchReader._import_from_c_capsule(
            qs.__arrow_c_stream__(qs.__arrow_c_schema__())).read_all().num_rows == len(ROWS)
        assert pa.RecordBatchReader._import_from_c_capsule(
            qs.__arrow_c_stream__(requested_schema=None)).schema.names == NAMES
        with pytest.raises(TypeError):
            qs.__arrow_c_stream__(None, None)

    def test_released_streams_and_batches_free_their_memory(self, tmp_path):
        # Streams made and dropped unread, read in part, read whole and
        # dropped with their tables: the resident set stays flat after a
        # warm-up. (LeakSanitizer checks the same of the export itself in
        # the C++ tests.)
        peer("pyarrow")
        result = run_python(
            """
            import csv, json, os, tabulon, pyarrow as pa
            page = os.sysconf("SC_PAGE_SIZE")
            def resident():
                with open("/proc/self/statm") as statm:
                    return int(statm.read().split()[1]) * page
            with open("r.csv", "w", newline="") as out:
                writer = csv.writer(out)
                writer.writerow(["id", "g", "s", "x"])
                writer.writerows([i, f"g{i % 9}", f"text number {i}", i / 7] for i in range(100000))
            db = tabulon.DatabaseParser()
            db.executeCommand("create table r (id int, g string cat 1, s string, x double)")
            db.executeCommand("load r from r.csv")
            qs = db.executeSelect("select s, g, id, x from r order by x desc")
            sizes = []
            for round in range(60):
                for _ in range(5):
                    qs.__arrow_c_stream__()
                    qs.__arrow_c_schema__()
                reader = pa.RecordBatchReader._import_from_c_capsule(qs.__arrow_c_stream__())
                del reader
                table = pa.table(qs)
                assert table.num_rows == 100000
                del table
                sizes.append(resident())
            print(json.dumps(sizes))
            """,
            tmp_path, env=child_environment())
        sizes = json.loads(result.stdout.strip().splitlines()[-1])
        assert max(sizes[20:]) - max(sizes[:20]) <= 4 * 1024 * 1024, [s // 1024 for s in sizes]


class TestConversions:
    @pytest.mark.parametrize("method, missing", [("toArrow", "pyarrow"), ("toPandas", "pandas"),
                                                 ("toPandas", "pyarrow"), ("toPolars", "polars")])
    def test_a_missing_library_is_named(self, tmp_path, method, missing):
        result = run_python(
            f"""
            import sys
            sys.modules[{missing!r}] = None  # as if not installed
            import tabulon
            try:
                tabulon.QuerySet().{method}()
            except ImportError as error:
                print(type(error).__name__, error.name, "|", error, "|", isinstance(error.__cause__, ImportError))
            """,
            tmp_path)
        assert result.stdout.strip() == (
            f"ImportError {missing} | QuerySet.{method}() needs the package {missing}, which is not installed: "
            f"pip install {missing} | True")

    def test_polars_needs_no_pyarrow(self, tmp_path):
        peer("polars")
        result = run_python(
            """
            import sys
            sys.modules["pyarrow"] = None
            import tabulon
            db = tabulon.DatabaseParser()
            db.executeCommand("create table t (a int, b string cat 1, c date)")
            with open("t.csv", "w") as out:
                out.write("a,b,c\\n1,x,2001-02-03\\n2,y,1970-01-01\\n")
            db.executeCommand("load t from t.csv")
            print(db.executeSelect("select * from t order by a").toPolars().rows())
            """,
            tmp_path)
        assert result.stdout.strip() == ("[(1, 'x', datetime.date(2001, 2, 3)), "
                                         "(2, 'y', datetime.date(1970, 1, 1))]")
