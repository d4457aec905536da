"""The Pythonic cursor: typed rows and columns read in one call, iteration,
column names, CSV text, repr and HTML rendering."""

import collections
import datetime
import gc
import pickle
import random
import struct
import sys

import pytest

import tabulon
from conftest import error, load_table

COLUMNS = "id int, name string, ratio double, small short, flag bool, day date, big long, weight float"
LEVELS = ("id int, name string cat 1, ratio double, small short cat 4, flag bool cat 2, day date cat 3, big long, "
          "weight float")
ROWS = [
    [1, "Zürich ☃", 2.5, -5, "true", "2024-02-29", 2**40 + 3, 0.5],
    [2, "ann", -2.9, 32767, "0", "1970-01-01", -(2**63), -1.25],
    [3, "ann", 1e300, -32768, "1", "2149-06-06", 2**63 - 1, 3.0],
    [4, "annb", 0.1, 0, "False", "2000-03-01", 0, 0.0],
]
EXPECTED = [
    (1, "Zürich ☃", 2.5, -5, True, datetime.date(2024, 2, 29), 2**40 + 3, 0.5),
    (2, "ann", -2.9, 32767, False, datetime.date(1970, 1, 1), -(2**63), -1.25),
    (3, "ann", 1e300, -32768, True, datetime.date(2149, 6, 6), 2**63 - 1, 3.0),
    (4, "annb", 0.1, 0, False, datetime.date(2000, 3, 1), 0, 0.0),
]


@pytest.fixture(params=[COLUMNS, LEVELS], ids=["plain", "categorised"])
def db(request, tmp_path):
    """Table t holding every column type, once plain and once with four tree levels."""
    parser = tabulon.DatabaseParser()
    load_table(parser, tmp_path, "t", request.param, ROWS)
    return parser


class TestTypedValues:
    def test_every_way_of_reading_gives_the_typed_values(self, db):
        rows = db.executeSelect("select * from t order by id").fetchAll()
        assert rows == EXPECTED
        for row in rows:
            assert [type(v) for v in row] == [int, str, float, int, bool, datetime.date, int, float]
        qs = db.executeSelect("select day, name, weight, id, flag from t order by day desc, id")
        expected = [(r[5], r[1], r[7], r[0], r[4]) for r in sorted(EXPECTED, key=lambda r: r[5], reverse=True)]
        assert qs.fetchAll() == list(qs) == expected
        # No value in a row is tracked by the cyclic collector, so rows are
        # made untracked and a large read gives it nothing to visit. They
        # still behave as ordinary tuples.
        for row in rows + list(qs):
            assert type(row) is tuple and not gc.is_tracked(row)
            assert hash(row) == hash(tuple(list(row))) and pickle.loads(pickle.dumps(row)) == row
        gc.collect()
        assert rows == EXPECTED
        for col in range(qs.getNumberOfCols()):
            assert qs.getColumn(col) == [row[col] for row in expected]

    def test_repeated_values_keep_their_differences_and_a_reference_per_place(self, tmp_path):
        # Equal values share one object; values that differ only slightly
        # (same length, same prefix) must not be mistaken for each other,
        # nor values that meet in the reader's cache: more distinct texts
        # and days than it has room for, and texts seen once each (which
        # the reader soon stops looking for in its cache).
        rng = random.Random(3)
        words = ["ab", "ac", "ab", "abc", "", "é", "ab\u00e9", "zz"] + [f"w{n:05}" for n in range(6000)]
        first = datetime.date(1970, 1, 1).toordinal()
        days = ["2001-01-01", "2001-01-02"] + [
            datetime.date.fromordinal(first + rng.randrange(65000)).isoformat() for _ in range(6000)]
        rows = [[i, rng.choice(words), rng.choice(days), rng.choice(words), f"u{i:05}", rng.choice(["north", "south"]),
                 rng.choice(days)] for i in range(20000)]
        db = tabulon.DatabaseParser()
        load_table(db, tmp_path, "w", "id int, cat string cat 1, day date cat 2, word string, once string, "
                                      "region string cat 3, plain date", rows)
        assert db.executeSelect("select once from w order by id").getColumn(0) == [row[4] for row in rows]
        qs = db.executeSelect("select id, cat, day, word from w order by id")
        expected = [(i, c, datetime.date.fromisoformat(d), w) for i, c, d, w, *_ in rows]
        assert qs.fetchAll() == expected
        assert qs.getColumn(1) == [row[1] for row in expected]
        unordered = db.executeSelect("select cat, day, word, id from w").fetchAll()
        assert sorted(unordered, key=lambda row: row[3]) == [(c, d, w, i) for i, c, d, w in expected]
        # A small result gets a small cache, so its values meet more often.
        few = db.executeSelect("select word, day, id from w where id < 300 order by word, id").fetchAll()
        assert few == sorted(((w, d, i) for i, c, d, w in expected[:300]), key=lambda row: (row[0], row[2]))
        # A shared object counts once for every place it stands in: runs of
        # one level value, and values that pass through the cache and out of
        # it again. Too few references would free a value under the caller.
        places = []
        for query in ("select region, word, plain from w", "select region, word, plain from w where id < 300"):
            qs = db.executeSelect(query)
            places += [value for row in qs.fetchAll() for value in row] + qs.getColumn(1)
        del qs, db
        counts = collections.Counter(id(value) for value in places)
        # Empty and one-character texts are the interpreter's own shared objects.
        shared = {id(value): value for value in places if not (isinstance(value, str) and len(value) < 2)}
        for value in shared.values():
            # Beyond `places`: the dictionary, `value` and getrefcount's
            # argument.
            assert sys.getrefcount(value) == counts[id(value)] + 3, value


class TestIteration:
    def test_rows_come_in_result_order_every_time(self, db):
        qs = db.executeSelect("select id, ratio from t order by ratio desc")
        assert len(qs) == 4
        assert [row[0] for row in qs] == [3, 1, 4, 2]
        assert [row[0] for row in qs] == [3, 1, 4, 2]
        first, second = iter(qs), iter(qs)
        assert next(first)[0] == 3 and next(first)[0] == 1
        assert next(second)[0] == 3
        assert iter(first) is first
        del qs  # the iterator outlives the cursor object
        assert list(first) == [(4, 0.1), (2, -2.9)]
        with pytest.raises(StopIteration):
            next(first)

    def test_reading_in_bulk_leaves_the_current_row(self, db):
        qs = db.executeSelect("select id, name from t order by id")
        qs.setRow(2)
        for read in (qs.fetchAll, lambda: qs.getColumn(0), lambda: list(qs), qs.toCSV,
                     qs._repr_html_, lambda: repr(qs), qs.getColumnNames):
            read()
            assert qs.getInt(0) == 3


class TestEmptyResults:
    def test_query_without_matches(self, db):
        qs = db.executeSelect("select id, name from t where id > 99")
        assert len(qs) == 0
        assert qs.fetchAll() == [] and list(qs) == [] and qs.getColumn(1) == []
        assert qs.getColumnNames() == ["id", "name"]
        assert qs.toCSV() == "id,name\n"
        assert repr(qs) == "<tabulon.QuerySet: 0 rows x 2 columns (id, name)>"
        assert "<td>" not in qs._repr_html_()
        assert error(qs.getColumn, 2) == "Column 2 is out of range: the result has 2 columns"
        assert error(qs.setRow, 0) == "Row 0 is out of range: the result has 0 rows"

    def test_cursor_without_result(self):
        qs = tabulon.QuerySet()
        assert len(qs) == qs.getNumberOfRows() == qs.getNumberOfCols() == 0
        assert qs.fetchAll() == [] and list(qs) == [] and qs.getColumnNames() == []
        assert qs.toCSV() == ""
        assert repr(qs) == "<tabulon.QuerySet: no result>"
        assert "<tbody>\n</tbody>" in qs._repr_html_()
        for action in (qs.getColumn, qs.setRow, qs.getString, qs.getInt, qs.getFloat):
            assert error(action, 0) == "The cursor holds no query result"


class TestRendering:
    def test_repr_and_csv(self, db):
        qs = db.executeSelect("select id, name, flag from t where id <= 2 order by id")
        assert repr(qs) == "<tabulon.QuerySet: 2 rows x 3 columns (id, name, flag)>"
        assert qs.toCSV() == "id,name,flag\n1,Zürich ☃,1\n2,ann,0"
        single = db.executeSelect("select name from t where id = 1")
        assert repr(single) == "<tabulon.QuerySet: 1 row x 1 column (name)>"

    @pytest.mark.parametrize("kind, text, written", [
        ("double", "1e-7", "1e-07"), ("double", "0.1234567891", "0.1234567891"), ("double", "1e300", "1e+300"),
        ("double", "-0", "-0"), ("double", "nan", "nan"), ("double", "-nan", "-nan"), ("double", "-inf", "-inf"),
        ("double", "5e-324", "5e-324"), ("double", "2.5", "2.5"), ("float", "0.1", "0.1"),
        ("float", "1e-45", "1e-45"), ("float", "3.4028235e38", "3.4028235e+38"), ("float", "inf", "inf"),
        # Just above halfway between two floats: a double first would round to halfway, then down.
        ("float", "1.0000000596046447754", "1.0000001"),
    ])
    def test_csv_writes_floating_point_values_in_full(self, tmp_path, kind, text, written):
        (tmp_path / "x.csv").write_text(f"x\n{text}\n")
        db = tabulon.DatabaseParser()
        db.executeCommand(f"create table x (x {kind})")
        db.executeCommand(f"load x from '{tmp_path / 'x.csv'}'")
        qs = db.executeSelect("select x from x")
        assert qs.toCSV() == f"x\n{written}"

    def test_csv_reads_back_bit_for_bit(self, tmp_path):
        rng = random.Random(29)
        doubles = [struct.unpack("<d", struct.pack("<Q", rng.getrandbits(64)))[0] for _ in range(3000)]
        floats = [struct.unpack("<f", struct.pack("<I", rng.getrandbits(32)))[0] for _ in range(3000)]
        # Random bits give few subnormals and no exact special values.
        doubles += [5e-324, 2.225073858507201e-308, 1.7976931348623157e308, 1e-7, 0.1, 0.0, -0.0]
        floats += [1e-45, 1.1754942e-38, 3.4028234663852886e38, 1e-7, 0.0, -0.0]
        texts = [repr(d) for d in doubles] + ["nan", "-nan", "inf", "-inf"]
        float_texts = [repr(f) for f in floats] + ["nan", "-nan", "-inf", "inf"]
        lines = [f"{i},{d},{f}" for i, (d, f) in enumerate(zip(texts, float_texts))]
        (tmp_path / "in.csv").write_text("id,d,f\n" + "\n".join(lines) + "\n")
        db = tabulon.DatabaseParser()
        for table, source in (("first", "in.csv"), ("second", "out.csv")):
            db.executeCommand(f"create table {table} (id int, d double, f float)")
            db.executeCommand(f"load {table} from '{tmp_path / source}'")
            if table == "first":
                (tmp_path / "out.csv").write_text(db.executeSelect("select * from first").toCSV())
        bits = [[struct.pack("<d", value) for row in db.executeSelect(f"select d, f from {table} order by id")
                 for value in row] for table in ("first", "second")]
        assert bits[0] == bits[1]
        assert len({b for b in bits[0] if b[-2:] in (b"\xf8\x7f", b"\xf8\xff")}) == 2  # both signs of NaN

    def test_html_escapes_text_and_shows_twenty_rows(self, tmp_path):
        # Written by hand: the values hold quotes but no commas, so they stay unquoted.
        lines = [f"{i},<b>{i}</b> & \"q\" 'a'" for i in range(25)]
        (tmp_path / "h.csv").write_text("id,text\n" + "\n".join(lines) + "\n")
        db = tabulon.DatabaseParser()
        db.executeCommand("create table h (id int, text string)")
        db.executeCommand(f"load h from '{tmp_path / 'h.csv'}'")
        html = db.executeSelect("select id, text from h order by id desc")._repr_html_()
        assert "<th>id</th><th>text</th>" in html
        assert "<td>24</td><td>&lt;b&gt;24&lt;/b&gt; &amp; &quot;q&quot; &#x27;a&#x27;</td>" in html
        assert html.count("<tr><td>") == 20
        assert "<td>4</td>" not in html and "<td>5</td>" in html
        assert '<td colspan="2">&hellip;</td>' in html
        assert "<p>25 rows x 2 columns</p>" in html
        assert "<b>" not in html and "\"q\"" not in html
