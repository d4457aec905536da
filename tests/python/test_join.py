"""Joined queries end to end, checked against answers computed in Python."""

import csv
import math
import os
import random
import subprocess
import sys
import textwrap

import pytest

import tabulon

KEY_POOLS = {
    "string": ["apple", "pear", "fig", "kiwi", "plum", "lime", "date"],
    "int": [-7, 0, 3, 4, 15, 2**31 - 1, 42],
    "date": ["1970-01-01", "2024-02-29", "2024-03-01", "1999-12-31", "2149-06-06", "2000-01-01"],
    "double": [-0.0, 0.0, float("nan"), 1.5, -2.25, 1e300, 7.0],
}


def write_csv(path, header, rows):
    with open(path, "w", newline="") as handle:
        writer = csv.writer(handle, lineterminator="\n")
        writer.writerow(header)
        writer.writerows(rows)


def fetch(cursor):
    rows = []
    for row in range(cursor.getNumberOfRows()):
        cursor.setRow(row)
        rows.append([cursor.getString(col) for col in range(cursor.getNumberOfCols())])
    return rows


def message(action):
    with pytest.raises(RuntimeError) as caught:
        action()
    return str(caught.value)


def equal_keys(a, b):
    """Join equality: that of the values, so NaN matches nothing and -0.0 matches 0.0."""
    return a == b


def expected_pairs(left, right, left_key=1, right_key=1):
    """Every (left, right) pair with equal keys: left order, then right order."""
    return [(l, r) for l in left for r in right if equal_keys(l[left_key], r[right_key])]


def make_tables(tmp_path, key_type, left_cat, right_cat, seed=7):
    """Fact table f (fid int, k KEY, x int) and dimension table d (did int,
    k KEY, w int, name string cat 2); keys drawn from a small pool so that
    both sides hold duplicates and values the other side lacks."""
    rng = random.Random(seed)
    pool = KEY_POOLS[key_type]
    left_pool, right_pool = pool[:-1], pool[1:]
    left = [[i, rng.choice(left_pool), rng.randrange(4)] for i in range(80)]
    right = [[100 + i, rng.choice(right_pool), rng.randrange(3), rng.choice("abc")] for i in range(30)]
    write_csv(tmp_path / "f.csv", ["fid", "k", "x"], left)
    write_csv(tmp_path / "d.csv", ["did", "k", "w", "name"], right)
    db = tabulon.DatabaseParser()
    left_key = f"k {key_type}" + (" cat 1" if left_cat else "")
    right_key = f"k {key_type}" + (" cat 1" if right_cat else "")
    db.executeCommand(f"create table f (fid int, {left_key}, x int)")
    db.executeCommand(f"create table d (did int, {right_key}, w int, name string cat 2)")
    db.executeCommand(f"load f from '{tmp_path / 'f.csv'}'")
    db.executeCommand(f"load d from '{tmp_path / 'd.csv'}'")
    return db, left, right


def table_order(db, table, id_column):
    """Ids of a table in the order its rows are read."""
    return [int(row[0]) for row in fetch(db.executeSelect(f"select {id_column} from {table}"))]


@pytest.mark.parametrize("key_type", sorted(KEY_POOLS))
@pytest.mark.parametrize("left_cat", [False, True], ids=["left-plain", "left-cat"])
@pytest.mark.parametrize("right_cat", [False, True], ids=["right-plain", "right-cat"])
def test_every_key_type_and_storage_gives_the_plain_answer(tmp_path, key_type, left_cat, right_cat):
    db, left, right = make_tables(tmp_path, key_type, left_cat, right_cat)
    by_fid = {row[0]: row for row in left}
    by_did = {row[0]: row for row in right}
    # Left rows in the table's own order, each with its partners in the
    # right table's order.
    left_ordered = [by_fid[i] for i in table_order(db, "f", "fid")]
    right_ordered = [by_did[i] for i in table_order(db, "d", "did")]
    expected = [(l[0], r[0]) for l, r in expected_pairs(left_ordered, right_ordered)]
    assert expected, "the data must produce pairs"
    got = [(int(a), int(b)) for a, b in fetch(db.executeSelect("select fid, did from f join d on k = k"))]
    assert got == expected
    counts_l = {}
    for row in left:
        counts_l[row[1]] = counts_l.get(row[1], 0) + 1
    assert len(got) == sum(
        n * sum(1 for r in right if equal_keys(key, r[1])) for key, n in counts_l.items()
    )


class TestJoinedQueries:
    @pytest.fixture(params=["plain", "categorised"])
    def db(self, request, tmp_path):
        categorised = request.param == "categorised"
        self.db, self.left, self.right = make_tables(tmp_path, "string", categorised, categorised)
        return self.db

    def answer(self, query):
        return [[int(v) for v in row] for row in fetch(self.db.executeSelect(query))]

    @pytest.mark.parametrize(
        "where, keep",
        [
            ("x = 1", lambda l, r: l[2] == 1),
            ("w = 2", lambda l, r: r[2] == 2),
            ("name = b and x >= 2", lambda l, r: r[3] == "b" and l[2] >= 2),
            ("(x = 1 or w = 2) and (name = a or fid < 40)",
             lambda l, r: (l[2] == 1 or r[2] == 2) and (r[3] == "a" or l[0] < 40)),
            ("((x = 0 or x = 3) and w != 1) or (did > 120 and (name = c or x = 2))",
             lambda l, r: ((l[2] in (0, 3)) and r[2] != 1) or (r[0] > 120 and (r[3] == "c" or l[2] == 2))),
        ],
    )
    def test_filters_on_either_side(self, db, where, keep):
        pairs = [(l[0], r[0]) for l, r in expected_pairs(self.left, self.right) if keep(l, r)]
        assert self.answer(f"select fid, did from f join d on k = k where {where} order by fid, did") == [
            list(p) for p in sorted(pairs)
        ]

    def test_sorts_on_either_side_with_descending_keys(self, db):
        pairs = expected_pairs(self.left, self.right)
        expected = sorted(pairs, key=lambda p: (-p[1][2], p[0][2], -p[1][0], p[0][0]))
        got = self.answer("select w, x, did, fid from f join d on k = k order by w desc, x, did desc, fid")
        assert got == [[r[2], l[2], r[0], l[0]] for l, r in expected]

    def test_select_star_lists_both_tables_with_schema_names(self, db):
        cursor = db.executeSelect("select * from f join d on k = k where fid = 3")
        assert cursor.getNumberOfCols() == 7
        left = self.left[3]
        expected = [[str(left[0]), left[1], str(left[2]), str(r[0]), r[1], str(r[2]), r[3]]
                    for r in self.right if r[1] == left[1]]
        assert sorted(fetch(cursor)) == sorted(expected)

    def test_a_name_in_both_tables_means_the_main_tables_column(self, db):
        # k is in both; select, where and order all read f's k.
        rows = fetch(db.executeSelect("select k, did from f join d on k = k where k = pear order by k"))
        assert rows and all(row[0] == "pear" for row in rows)

    def test_numeric_getters_read_either_side(self, db):
        cursor = db.executeSelect("select did, fid, w from f join d on k = k order by did desc, fid desc")
        right = max((r for l, r in expected_pairs(self.left, self.right)), key=lambda r: r[0])
        assert cursor.getInt(0) == right[0]
        assert cursor.getFloat(2) == float(right[2])

    def test_a_later_single_table_query_reads_one_table(self, db):
        db.executeSelect("select fid from f join d on k = k")
        cursor = db.executeSelect("select fid, k from f where x = 1 order by fid")
        assert [int(r[0]) for r in fetch(cursor)] == [r[0] for r in self.left if r[2] == 1]


def test_duplicate_keys_give_the_sum_of_products(tmp_path):
    write_csv(tmp_path / "a.csv", ["id", "k"], [[i, "x" if i < 4 else "y"] for i in range(7)])
    write_csv(tmp_path / "b.csv", ["k", "v"], [["x", i] for i in range(5)] + [["y", 9], ["z", 1]])
    db = tabulon.DatabaseParser()
    db.executeCommand("create table a (id int, k string)")
    db.executeCommand("create table b (k string cat 1, v int)")
    db.executeCommand(f"load a from '{tmp_path / 'a.csv'}'")
    db.executeCommand(f"load b from '{tmp_path / 'b.csv'}'")
    assert db.executeSelect("select id, v from a join b on k = k").getNumberOfRows() == 4 * 5 + 3 * 1


def test_empty_tables_give_empty_joins(tmp_path):
    write_csv(tmp_path / "a.csv", ["id", "k"], [[1, 5], [2, 6]])
    db = tabulon.DatabaseParser()
    db.executeCommand("create table a (id int, k int)")
    db.executeCommand("create table empty (k int cat 1, v int)")
    db.executeCommand(f"load a from '{tmp_path / 'a.csv'}'")
    for query in ("select id from a join empty on k = k", "select v from empty join a on k = k"):
        cursor = db.executeSelect(query)
        assert cursor.getNumberOfRows() == 0
        assert cursor.getNumberOfCols() == 1


def test_a_table_joined_with_itself(tmp_path):
    staff = [[1, "ada", 0], [2, "bob", 1], [3, "cy", 1], [4, "di", 3]]
    write_csv(tmp_path / "staff.csv", ["id", "name", "boss"], staff)
    db = tabulon.DatabaseParser()
    db.executeCommand("create table staff (id int, name string, boss int)")
    db.executeCommand(f"load staff from '{tmp_path / 'staff.csv'}'")
    rows = fetch(db.executeSelect("select * from staff join staff on boss = id order by id"))
    assert rows == [["2", "bob", "1", "1", "ada", "0"], ["3", "cy", "1", "1", "ada", "0"],
                    ["4", "di", "3", "3", "cy", "1"]]
    # Named columns are the main table's.
    assert fetch(db.executeSelect("select name from staff join staff on boss = id where id = 4")) == [["di"]]


class TestMessages:
    @pytest.fixture
    def db(self, tmp_path):
        write_csv(tmp_path / "a.csv", ["x", "k", "s"], [[1, 2, "p"]])
        write_csv(tmp_path / "b.csv", ["y", "k", "d"], [[1, 2, "2024-01-01"]])
        parser = tabulon.DatabaseParser()
        parser.executeCommand("create table a (x int, k int, s string)")
        parser.executeCommand("create table b (y int, k long, d date)")
        parser.executeCommand(f"load a from '{tmp_path / 'a.csv'}'")
        parser.executeCommand(f"load b from '{tmp_path / 'b.csv'}'")
        return parser

    @pytest.mark.parametrize(
        "query, text",
        [
            ("select x from a join b on x = y join b on x = y", "Only 1 join condition allowed"),
            ("select x from a join b on y = x", "Column x is not defined"),
            ("select x from a join b on x = q", "Column q is not defined"),
            ("select x from a join nope on x = y", "Column y is not defined"),
            ("select x from nope join b on x = y", "Table nope is not defined"),
            ("select q from a join b on x = y", "Column q is not defined"),
            ("select x from a join b on x = y where q = 1", "Column q is not defined"),
            ("select x from a join b on x = y order by q", "Column q is not defined"),
            ("select x from a join b on x = y where (x = 1))", "Invalid boolean expression - unmatched brackets"),
            ("select x from a join b on x = y where x like 1", "Unsupported select condition operator like"),
            ("select x from a join b on k = k", "Join columns k and k have different types"),
            ("select x from a join b on s = d", "Join columns s and d have different types"),
        ],
    )
    def test_refused(self, db, query, text):
        assert message(lambda: db.executeSelect(query)) == text

    def test_unclosed_brackets_are_accepted(self, db):
        assert fetch(db.executeSelect("select x, d from a join b on x = y where ((x = 1)")) == [
            ["1", "2024-01-01"]
        ]


LIFETIME_SETUP = """
import tabulon
INVALID = "Query result is no longer valid: table %s has changed"
def message(action):
    try:
        action()
    except RuntimeError as error:
        return str(error)
    return None
with open("a.csv", "w") as f:
    f.write("id,k\\n" + "".join("%d,g%d\\n" % (i, i % 4) for i in range(2000)))
with open("b.csv", "w") as f:
    f.write("k,v\\n" + "".join("g%d,%d\\n" % (i, i) for i in range(4)))
db = tabulon.DatabaseParser()
db.executeCommand("create table a (id int, k string cat 1)")
db.executeCommand("create table b (k string, v int)")
db.executeCommand("load a from a.csv")
db.executeCommand("load b from b.csv")
"""


@pytest.mark.parametrize(
    "change, table",
    [
        ("drop table a", "a"),
        ("drop table b", "b"),
        ("load a from a.csv", "a"),
        ("load b from b.csv", "b"),
    ],
)
def test_changing_either_table_invalidates_the_joined_cursor(tmp_path, change, table):
    body = f"""
cursor = db.executeSelect("select id, v from a join b on k = k order by v desc")
assert cursor.getNumberOfRows() == 2000
db.executeCommand("{change}")
for action in (lambda: cursor.setRow(1), lambda: cursor.getString(0),
               lambda: cursor.getInt(1), lambda: cursor.getFloat(0)):
    assert message(action) == INVALID % "{table}", message(action)
assert cursor.getNumberOfRows() == 2000
if "load" in "{change}":
    assert db.executeSelect("select id, v from a join b on k = k").getNumberOfRows() == 4000
print("done")
"""
    module_dir = os.path.dirname(os.path.abspath(tabulon.__file__))
    path = os.pathsep.join(p for p in (module_dir, os.environ.get("PYTHONPATH")) if p)
    completed = subprocess.run(
        [sys.executable, "-c", LIFETIME_SETUP + textwrap.dedent(body)],
        cwd=tmp_path,
        env=dict(os.environ, PYTHONPATH=path),
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert completed.returncode == 0, completed.stderr
    assert completed.stdout.strip().endswith("done")
