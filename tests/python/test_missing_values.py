"""Missing values: columns declared with `null`, which fields of a file load
as NULL in them, and how a NULL reads back. Columns declared without `null`
keep every earlier rule."""

import datetime
from collections import Counter
import math
import random
import sqlite3

import pytest

from conftest import BAD_BOOL, BAD_DATE, MISSING_HINT, error, peer, random_where


def load_field(db, tmp_path, definition, field, name="t"):
    """Creates table `name` with the one column `definition` ("v int null")
    and loads a file whose only row holds `field` as written (quotes
    included); returns the load's error message, or None."""
    path = tmp_path / f"{name}.csv"
    path.write_text(f"v,k\n{field},1\n")
    db.executeCommand(f"create table {name} ({definition}, k int)")
    return error(db.executeCommand, f"load {name} from '{path}'")


@pytest.mark.parametrize("definition, field, expected", [
    # Without `null` an empty number is 0 and text without digits reads as 0.
    ("v int", "", 0),
    ("v long", "NA", 0),
    ("v double", "", 0.0),
    ("v float", '""', 0.0),
    ("v string", "", ""),
    ("v string cat 1", '""', ""),
])
def test_columns_without_null_keep_their_rules(db, tmp_path, definition, field, expected):
    assert load_field(db, tmp_path, definition, field) is None
    assert db.executeSelect("select v from t").fetchAll() == [(expected,)]


@pytest.mark.parametrize("definition, field, message", [
    ("v date", "", BAD_DATE.format("") + MISSING_HINT),
    ("v date cat 1", '""', BAD_DATE.format("") + MISSING_HINT),
    ("v bool", "", BAD_BOOL.format("") + MISSING_HINT),
    ("v bool cat 1", '""', BAD_BOOL.format("") + MISSING_HINT),
    # Only an empty field is told how to load: bad text is bad text.
    ("v date", "soon", BAD_DATE.format("soon")),
    ("v bool", "NA", BAD_BOOL.format("NA")),
])
def test_empty_dates_and_booleans_without_null_stop_the_load(db, tmp_path, definition, field, message):
    path = tmp_path / "t.csv"
    assert load_field(db, tmp_path, definition, field) == message + f", line 2 of {path}"
    assert db.executeSelect("select v from t").fetchAll() == []


NAN = "nan"


def plain(value):
    """A value as compared here: NaN, which equals nothing, as "nan"."""
    return NAN if isinstance(value, float) and math.isnan(value) else value


# Per column type: (field as written, the value it loads as in a column
# declared with null; None for NULL).
READING_RULES = {
    "int": [("", None), ('""', None), ("NA", None), ("N/A", None), ("null", None), ("-", None), ("?", None),
            (" 7", 7), ("-12", -12), ("0", 0)],
    "long": [("", None), ("n/a", None), ("+", None), ("9000000000", 9000000000)],
    "short": [("", None), ("NaN", None), ("-3", -3)],
    "double": [("", None), ('""', None), ("NA", None), ("-", None), (".", None), ("?", None),
               ("nan", NAN), ("NaN", NAN), ("inf", math.inf), ("-Infinity", -math.inf), (".5", 0.5),
               ("-0", -0.0), ("2.5", 2.5)],
    "float": [("", None), ("NA", None), ("1.5", 1.5), ("inf", math.inf)],
    "string": [("", None), ('""', ""), ("NA", "NA"), ("null", "null"), ('" "', " ")],
    "bool": [("", None), ('""', None), ("true", True), ("0", False)],
    "date": [("", None), ('""', None), ("2024-02-29", datetime.date(2024, 2, 29))],
}
READING_CASES = [(type_, field, value) for type_, rules in READING_RULES.items() for field, value in rules]


@pytest.mark.parametrize("level", ["", " cat 1"])
@pytest.mark.parametrize("type_, field, expected", READING_CASES)
def test_fields_that_load_as_null(db, tmp_path, type_, field, expected, level):
    assert load_field(db, tmp_path, f"v {type_}{level} null", field) is None
    [(value,)] = db.executeSelect("select v from t").fetchAll()
    assert plain(value) == plain(expected)
    if isinstance(expected, float) and expected == 0:
        assert math.copysign(1, value) == math.copysign(1, expected)


@pytest.mark.parametrize("definition, field, message", [
    ("v date null", "soon", BAD_DATE.format("soon")),
    ("v date cat 1 null", "NA", BAD_DATE.format("NA")),
    ("v bool null", "NA", BAD_BOOL.format("NA")),
    ("v bool cat 1 null", "-", BAD_BOOL.format("-")),
])
def test_bad_dates_and_booleans_still_stop_the_load_in_null_columns(db, tmp_path, definition, field, message):
    path = tmp_path / "t.csv"
    assert load_field(db, tmp_path, definition, field) == message + f", line 2 of {path}"


COLUMNS = ["i int", "l long", "s short", "d double", "f float", "t string", "b bool", "day date"]
WORDS = ["", "alpha", "beta", "gamma, delta", 'say "hi"'] + [f"w{n}" for n in range(20)]


def random_row(rng, fresh=False):
    """One row of COLUMNS, about one value in ten None; `fresh` rows draw
    integers and texts the first rows never hold, so a table's levels number
    new values between the old ones, and so many above them that the levels
    are renumbered."""
    values = [
        rng.randrange(0, 100, 2) + (1 if fresh else 0),
        rng.randrange(-2**40, 2**40),
        rng.randrange(100, 400) if fresh else rng.randrange(0, 30),
        round(rng.uniform(-1000, 1000), 2),
        rng.randrange(-40, 40) / 2,
        rng.choice(WORDS) + ("~" if fresh else ""),
        rng.random() < 0.5,
        datetime.date(2020, 1, 1) + datetime.timedelta(days=rng.randrange(40)),
    ]
    return tuple(None if rng.random() < 0.1 else value for value in values)


def csv_line(row):
    """A row as a file line: NULL an empty field, every text quoted."""
    def field(value):
        if value is None:
            return ""
        if isinstance(value, str):
            return '"' + value.replace('"', '""') + '"'
        if isinstance(value, bool):
            return "true" if value else "false"
        return str(value)
    return ",".join(field(value) for value in row)


def write_rows(path, rows):
    path.write_text("i,l,s,d,f,t,b,day\n" + "".join(csv_line(row) + "\n" for row in rows))
    return path


def ordered(rows):
    return sorted(rows, key=repr)


# How the table is made: levels chosen by sampling (config from), named
# with cat, or chosen when a load takes the table past lines.threshold.
SHAPES = {
    "config from": lambda path: f"create table n ({', '.join(c + ' null' for c in COLUMNS)}) config from '{path}'",
    "cat": lambda path: "create table n (" + ", ".join(
        c + (f" cat {k}" if c.split()[0] in ("s", "t", "day") else "") + " null"
        for k, c in enumerate(COLUMNS, 1)) + ")",
    "rebuilt": lambda path: f"create table n ({', '.join(c + ' null' for c in COLUMNS)})",
}


@pytest.fixture(params=sorted(SHAPES))
def loaded(request, db, tmp_path):
    """Table n of every column type, each declared null, holding 12000
    random rows in two loads; returns the database, the rows and a maker of
    further files."""
    rng = random.Random(request.param)
    rows = [random_row(rng) for _ in range(12000)]
    first = write_rows(tmp_path / "first.csv", rows[:4000])
    db.executeCommand(SHAPES[request.param](first))
    db.executeCommand(f"load n from '{first}'")
    db.executeCommand(f"load n from '{write_rows(tmp_path / 'second.csv', rows[4000:])}'")
    return db, rows, rng, tmp_path


def test_null_columns_of_every_type_hold_their_rows(loaded):
    db, rows, _, _ = loaded
    result = db.executeSelect("select * from n")
    assert ordered(result.fetchAll()) == ordered(rows)
    assert list(result) == result.fetchAll()
    assert result.getColumn(5) == [row[5] for row in result.fetchAll()]
    # Arrow batches over many nodes, NULL nodes among them, read in node
    # order and sorted.
    pa = peer("pyarrow")
    for query in ("select * from n", "select * from n order by l desc"):
        result = db.executeSelect(query)
        table = pa.table(result)
        assert [column.null_count for column in table.columns] == [sum(row[k] is None for row in rows)
                                                                   for k in range(len(COLUMNS))]
        assert list(zip(*(column.to_pylist() for column in table.columns))) == result.fetchAll()


@pytest.mark.parametrize("first", ["i int null", "i int cat 1 null"], ids=["plain", "categorised"])
def test_null_bits_past_a_rows_first_byte_read_out(db, tmp_path, first):
    # Two copies of every column: sixteen null columns, whose null bits take
    # two bytes of a row, and a second text that is not a row's first.
    # Categorised, the first column gives nodes whose path is NULL.
    rng = random.Random(first)
    rows = [random_row(rng) + random_row(rng) for _ in range(3000)]
    names = [column.split()[0] for column in COLUMNS]
    names += [name + "2" for name in names]
    definitions = [first] + [f"{name} {column.split()[1]} null" for name, column in zip(names, COLUMNS * 2)][1:]
    path = tmp_path / "wide.csv"
    path.write_text(",".join(names) + "\n" + "".join(csv_line(row) + "\n" for row in rows))
    db.executeCommand(f"create table w ({', '.join(definitions)})")
    db.executeCommand(f"load w from '{path}'")
    assert ordered(db.executeSelect("select * from w").fetchAll()) == ordered(rows)
    pa = peer("pyarrow")
    for query in ("select * from w", "select t2, day2, i, s2 from w where l2 is not null"):
        result = db.executeSelect(query)
        fetched = result.fetchAll()
        table = pa.table(result)
        assert list(zip(*(column.to_pylist() for column in table.columns))) == fetched, query
        assert [column.null_count for column in table.columns] == [
            sum(row[k] is None for row in fetched) for k in range(table.num_columns)], query


def test_cell_reads_give_none_for_null(loaded):
    db, _, _, _ = loaded
    result = db.executeSelect("select i, d, f, t, b, day from n")
    fetched = result.fetchAll()
    nulls = 0
    for position in range(0, len(fetched), 7):
        result.setRow(position)
        i, d, f, t, _, day = fetched[position]
        assert result.getInt(0) == i and result.getFloat(1) == d and result.getFloat(2) == f
        assert result.getString(3) == t
        assert result.getString(5) == (None if day is None else day.isoformat())
        nulls += (i is None) + (t is None)
    assert nulls > 100
    # A column that is not numeric is refused by the number getters, NULL or not.
    result.setRow(next(p for p, row in enumerate(fetched) if row[3] is None))
    assert error(result.getInt, 3) == "Unable to convert column 3 to long. Incompatible data type."


def test_a_failed_load_leaves_a_table_with_nulls_as_it_was(loaded):
    db, rows, rng, tmp_path = loaded
    before = db.executeSelect("select * from n").fetchAll()
    # New values between the old ones renumber the levels before the last
    # line stops the load.
    fresh = [random_row(rng, fresh=True) for _ in range(6000)]
    bad = tmp_path / "bad.csv"
    bad.write_text(write_rows(bad, fresh).read_text() + "1,2,3,4,5,x,true,2024-13-01\n")
    assert error(db.executeCommand, f"load n from '{bad}'") == BAD_DATE.format("2024-13-01") + f", line 6002 of {bad}"
    assert db.executeSelect("select * from n").fetchAll() == before
    db.executeCommand(f"load n from '{write_rows(tmp_path / 'good.csv', fresh)}'")
    assert ordered(db.executeSelect("select * from n").fetchAll()) == ordered(rows + fresh)


def test_queries_over_nulls_run(loaded):
    db, rows, _, tmp_path = loaded
    # The answers themselves are checked against sqlite3 below; here every
    # way of reading a result that holds NULLs must work.
    for query in ("select t, d from n where i < 40 or t = alpha order by d desc, t",
                  "select day, b from n where day >= 2020-01-20 and s != 3 order by day, b"):
        result = db.executeSelect(query)
        assert len(result.fetchAll()) == len(result)
        assert result.toCSV().count("\n") == len(result)
        assert "<table>" in result._repr_html_()
    # A NULL key pairs with nothing, on either side.
    keys = tmp_path / "keys.csv"
    keys.write_text("k,name\n,none\n0,zero\n2,two\n,empty\n")
    db.executeCommand(f"create table keys (k int null, name string) ")
    db.executeCommand(f"load keys from '{keys}'")
    pairs = db.executeSelect("select i, name from n join keys on i = k").fetchAll()
    expected = [(row[0], {0: "zero", 2: "two"}[row[0]]) for row in rows if row[0] in (0, 2)]
    assert ordered(pairs) == ordered(expected)


# Differential tests against sqlite3, which keeps NULL apart with the same
# three-valued comparisons: a comparison with NULL is false, so "!=" leaves
# NULL rows out too, and a join never pairs a NULL key.

# Constants per column type, written as both languages read them: values
# the rows hold, values between and beyond them, and integers beyond the
# column's type (answered without reading the column, NULL still failing).
CONSTANTS = {
    "int": ["0", "40", "41", "-1", "98", "3000000000", "-3000000000"],
    "long": ["0", "-1099511627776", "1099511627775", "5"],
    "short": ["0", "15", "29", "100", "-1", "40000"],
    "double": ["0", "-1000", "12.5", "-0.25", "1e9"],
    "float": ["0", "-20", "-0.5", "19.5", "3.25", "100"],
    "string": ["'alpha'", "'gamma, delta'", "'w1'", "'w19'", "'a'", "'zz'", "''"],
    "bool": ["1", "0"],
    "date": ["'2020-01-01'", "'2020-01-20'", "'2020-02-09'", "'2019-12-31'", "'2020-03-01'"],
}
TYPE_OF = {c.split()[0]: c.split()[1] for c in COLUMNS}
NAMES = list(TYPE_OF)
COMPARISONS = ["=", "!=", "<", ">", "<=", ">="]


def sql_rows(rows, dates):
    """Rows as sqlite holds them: the dates at positions `dates` as ISO text
    (booleans need nothing: True == 1 and hash alike)."""
    if not dates:
        return rows
    converted = []
    for row in rows:
        row = list(row)
        for i in dates:
            if row[i] is not None:
                row[i] = row[i].isoformat()
        converted.append(tuple(row))
    return converted


def random_condition(rng, names, type_of):
    """A condition on one of `names` that both languages read alike."""
    name = rng.choice(names)
    if rng.random() < 0.2:
        return f"{name} is {rng.choice(['', 'not ', 'NOT '])}null", None
    return f"{name} {rng.choice(COMPARISONS)} {rng.choice(CONSTANTS[type_of[name]])}", None


def random_order(rng, names):
    """One to three sort keys: the text for tabulon, the text for sqlite
    (NULLs last both ways) and the keys."""
    keys = [(name, rng.random() < 0.5) for name in rng.sample(names, rng.randint(1, 3))]
    ours = ", ".join(name + (" desc" if desc else "") for name, desc in keys)
    theirs = ", ".join(f"{name} is null, {name}" + (" desc" if desc else "") for name, desc in keys)
    return ours, theirs, [name for name, _ in keys]


def agree(db, lite, columns, where, order=None):
    """Runs the query on both and compares: the rows as a multiset, and with
    an order clause the sequence of the sort keys' values."""
    query = f"select {', '.join(columns)} from {where}"
    dates = [i for i, name in enumerate(columns) if name.endswith("day")]
    ours = sql_rows(db.executeSelect(query + (f" order by {order[0]}" if order else "")).fetchAll(), dates)
    theirs = lite.execute(query + (f" order by {order[1]}" if order else "")).fetchall()
    assert Counter(ours) == Counter(theirs), query
    if order:
        at = [columns.index(name) for name in order[2]]
        assert [[row[i] for i in at] for row in ours] == [[row[i] for i in at] for row in theirs], query
    return len(theirs)


def sqlite_tables(tables):
    lite = sqlite3.connect(":memory:")
    for name, (columns, rows) in tables.items():
        lite.execute(f"create table {name} ({', '.join(columns)})")
        lite.executemany(f"insert into {name} values ({', '.join('?' * len(columns))})", sql_rows(rows, [7]))
    return lite


def test_where_and_order_by_over_nulls_agree_with_sqlite(loaded):
    db, rows, _, _ = loaded
    lite = sqlite_tables({"n": (NAMES, rows)})
    rng = random.Random(7)
    kept = 0
    for _ in range(150):
        where, _ = random_where(rng, lambda r: random_condition(r, NAMES, TYPE_OF))
        order = random_order(rng, NAMES) if rng.random() < 0.5 else None
        kept += agree(db, lite, NAMES, f"n where {where}", order)
    # Every single condition, and a sort on every column both ways; l, a
    # random 41-bit number, tells the rows apart.
    for name in NAMES:
        columns = [name] + (["l"] if name != "l" else ["d"])
        for condition in [f"{name} is null", f"{name} is not null"] + [
                f"{name} {op} {constant}" for op in COMPARISONS for constant in CONSTANTS[TYPE_OF[name]]]:
            agree(db, lite, columns, f"n where {condition}")
        for desc in ("", " desc"):
            agree(db, lite, columns, "n", (name + desc, f"{name} is null, {name}{desc}", [name]))
    assert kept > 10000


# The joined table: the same column types as n, named with an m, made plain,
# sampled or with its key columns as tree levels against each shape of n.
M_SHAPES = {
    "config from": "cat",
    "cat": "plain",
    "rebuilt": "config from",
}
M_TYPE_OF = {"m" + name: type_ for name, type_ in TYPE_OF.items()}
M_NAMES = list(M_TYPE_OF)
# Join keys: values the two tables share, NULL among them on both sides.
JOIN_KEYS = [("i", "mi"), ("s", "ms"), ("f", "mf"), ("t", "mt"), ("day", "mday")]


def make_m(db, rng, tmp_path, shape):
    rows = [random_row(rng) for _ in range(80)]
    path = write_rows(tmp_path / "m.csv", rows)
    definitions = [f"m{c}" for c in COLUMNS]
    if shape == "cat":
        definitions = [d + (f" cat {k}" if d.split()[0] in ("mi", "mt", "mday", "mf") else "")
                       for k, d in enumerate(definitions, 1)]
    config = f" config from '{path}'" if shape == "config from" else ""
    db.executeCommand(f"create table m ({', '.join(d + ' null' for d in definitions)}){config}")
    db.executeCommand(f"load m from '{path}'")
    return rows


@pytest.mark.parametrize("shape", sorted(SHAPES))
def test_joins_over_null_keys_agree_with_sqlite(db, tmp_path, shape):
    rng = random.Random(shape)
    rows = [random_row(rng) for _ in range(3000)]
    path = write_rows(tmp_path / "n.csv", rows)
    db.executeCommand(SHAPES[shape](path))
    db.executeCommand(f"load n from '{path}'")
    m_rows = make_m(db, rng, tmp_path, M_SHAPES[shape])
    lite = sqlite_tables({"n": (NAMES, rows), "m": (M_NAMES, m_rows)})
    both = dict(TYPE_OF, **M_TYPE_OF)
    columns = ["i", "s", "f", "t", "day", "mi", "ms", "mf", "mt", "mday"]
    paired = 0
    for number in range(60):
        left, right = JOIN_KEYS[number % len(JOIN_KEYS)]
        # Either table may be the main one, so either side is the larger.
        tables = f"n join m on {left} = {right}" if number % 2 == 0 else f"m join n on {right} = {left}"
        where = ""
        if number % 3 != 0:
            where = " where " + random_where(rng, lambda r: random_condition(r, NAMES + M_NAMES, both))[0]
        order = random_order(rng, columns) if number % 4 < 2 else None
        paired += agree(db, lite, columns, tables + where, order)
    assert paired > 10000


# Per column type: three fields as a file holds them and the values they
# read back as, a zero (or empty text, or false) among them, which a NULL
# must not be taken for.
TYPE_VALUES = {
    "int": (["7", "0", "-2147483648"], [7, 0, -2**31]),
    "long": (["9007199254740993", "0", "-1"], [2**53 + 1, 0, -1]),
    "short": (["-32768", "0", "32767"], [-32768, 0, 32767]),
    "double": (["2.5", "0", "-1e300"], [2.5, 0.0, -1e300]),
    "float": (["1.5", "0", "-2"], [1.5, 0.0, -2.0]),
    "string": (['"x,y"', '""', "Zürich"], ["x,y", "", "Zürich"]),
    "bool": (["true", "false", "1"], [True, False, True]),
    "date": (["2024-02-29", "1970-01-01", "2149-06-06"],
             [datetime.date(2024, 2, 29), datetime.date(1970, 1, 1), datetime.date(2149, 6, 6)]),
}
# Which of the three values each row holds, None for NULL.
PATTERNS = {"mixed": [0, None, 1, None, None, 2], "none": [0, 1, 2], "all": [None, None, None]}
# Every kind of result: rows in node order, sorted rows, joined rows.
WAY_OUT_QUERIES = ["select v, k from t", "select k, v from t order by k desc",
                   "select name, v from t join keys on k = id"]


def load_pattern(db, tmp_path, type_, level, pattern):
    """Table t (v TYPE null, k int): row k holds the pattern's k-th value;
    table keys (id int, name string) names every k. Returns the values by k."""
    fields, values = TYPE_VALUES[type_]
    rows = PATTERNS[pattern]
    path = tmp_path / "t.csv"
    path.write_text("v,k\n" + "".join(f"{'' if n is None else fields[n]},{k}\n" for k, n in enumerate(rows)))
    db.executeCommand(f"create table t (v {type_}{level} null, k int)")
    db.executeCommand(f"load t from '{path}'")
    keys = tmp_path / "keys.csv"
    keys.write_text("id,name\n" + "".join(f"{k},n{k}\n" for k in range(len(rows))))
    db.executeCommand("create table keys (id int, name string)")
    db.executeCommand(f"load keys from '{keys}'")
    return [None if n is None else values[n] for n in rows]


def same_values(left, right):
    """Equal lists of values of one type, where -0.0 differs from 0.0."""
    return len(left) == len(right) and all(
        type(a) is type(b) and a == b and (not isinstance(a, float) or math.copysign(1, a) == math.copysign(1, b))
        for a, b in zip(left, right))


@pytest.mark.parametrize("pattern", sorted(PATTERNS))
@pytest.mark.parametrize("level", ["", " cat 1"], ids=["plain", "categorised"])
@pytest.mark.parametrize("type_", sorted(TYPE_VALUES))
def test_every_way_out_gives_null(db, tmp_path, type_, level, pattern):
    pa, pl = peer("pyarrow"), peer("polars")
    by_key = load_pattern(db, tmp_path, type_, level, pattern)
    nulls = by_key.count(None)
    for query in WAY_OUT_QUERIES:
        qs = db.executeSelect(query)
        v = qs.getColumnNames().index("v")
        keys = qs.getColumn(1 - v)
        keys = [int(key[1:]) for key in keys] if isinstance(keys[0], str) else keys
        expected = [by_key[k] for k in keys]
        assert same_values(qs.getColumn(v), expected), query
        assert same_values([row[v] for row in qs.fetchAll()], expected)
        assert qs._repr_html_().count('<td class="null"></td>') == nulls
        # Arrow: a NULL is null, its count exact; a batch without NULL has no
        # validity bitmap, and neither has a column declared without null.
        table = pa.table(qs)
        [chunk] = table.column(v).chunks
        assert (chunk.null_count, chunk.buffers()[0] is None) == (nulls, nulls == 0), query
        assert same_values(chunk.to_pylist(), expected)
        [other] = table.column(1 - v).chunks
        assert (other.null_count, other.buffers()[0]) == (0, None)
        frame = pl.DataFrame(qs)
        assert frame.get_column("v").null_count() == nulls
        assert same_values(frame.get_column("v").to_list(), expected)
    pd, duckdb = peer("pandas"), peer("duckdb")
    column = qs.toPandas()["v"]
    assert int(column.isna().sum()) == nulls
    if type_ in ("int", "long", "short"):
        assert column.tolist() == expected  # exact, not through float64
    assert duckdb.sql("select count(*) - count(v) from qs").fetchall() == [(nulls,)]


@pytest.mark.parametrize("level", ["", " cat 1"], ids=["plain", "categorised"])
@pytest.mark.parametrize("type_", sorted(TYPE_VALUES))
def test_nulls_and_empty_texts_survive_a_csv_round_trip(db, tmp_path, type_, level):
    by_key = load_pattern(db, tmp_path, type_, level, "mixed")
    for columns, kept in [("v, k", [(value, k) for k, value in enumerate(by_key)]),
                          # A one-column row whose value is NULL is an empty
                          # line, which a load skips.
                          ("v", [(value,) for value in by_key if value is not None])]:
        path = tmp_path / "out.csv"
        path.write_text(db.executeSelect(f"select {columns} from t").toCSV())
        definition = columns.replace("v", f"v {type_}{level} null").replace("k", "k int")
        db.executeCommand(f"create table back ({definition})")
        db.executeCommand(f"load back from '{path}'")
        assert ordered(db.executeSelect(f"select {columns} from back").fetchAll()) == ordered(kept), columns
        db.executeCommand("drop table back")
