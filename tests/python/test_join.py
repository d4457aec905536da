"""Joined queries end to end, random where and order clauses included,
checked against answers computed in Python."""

import random

import pytest

import tabulon
from conftest import error, load_table, random_where, rows

KEY_POOLS = {
    "string": ["apple", "pear", "fig", "kiwi", "plum", "lime", "date"],
    "int": [2**31 - 1, -7, 0, 3, 4, 15, 42],
    # Keys of a short range, the large sides' lone keys included: grouped
    # by value rather than hashed; the long ones far below zero.
    "short": [-3, 0, 1, 2, 5, 9, 14],
    "long": [-(2**62) + k for k in (0, 1, 2, 3, 5, 8, 13)],
    "date": ["1970-01-01", "2024-02-29", "2024-03-01", "1999-12-31", "2149-06-06", "2000-01-01"],
    # Join equality is that of the values: NaN matches nothing, -0.0 matches 0.0.
    "double": [-0.0, 0.0, float("nan"), 1.5, -2.25, 1e300, 7.0],
}


def expected_pairs(left, right):
    """Every (left, right) pair with equal keys: left order, then right order."""
    return [(l, r) for l in left for r in right if l[1] == r[1]]


def make_tables(tmp_path, key_type, left_cat, right_cat, seed=7):
    """Fact table f (fid int, k KEY, x int) and dimension table d (did int,
    k KEY, w int, name string cat 2); keys drawn from a small pool so that
    both sides hold duplicates and values the other side lacks."""
    rng = random.Random(seed)
    pool = KEY_POOLS[key_type]
    left = [[i, rng.choice(pool[:-1]), rng.randrange(4)] for i in range(80)]
    right = [[100 + i, rng.choice(pool[1:]), rng.randrange(3), rng.choice("abc")] for i in range(30)]
    db = tabulon.DatabaseParser()
    load_table(db, tmp_path, "f", f"fid int, k {key_type}{' cat 1' if left_cat else ''}, x int", left)
    load_table(db, tmp_path, "d", f"did int, k {key_type}{' cat 1' if right_cat else ''}, w int, name string cat 2",
               right)
    return db, left, right


def ints(db, query):
    return [tuple(int(v) for v in row) for row in rows(db, query)]


# Conditions of random where clauses: text, and the test on (left row, right
# row); left rows are (fid, k, x, v), right rows (did, k, w, name, u).
def random_condition(rng):
    choice = rng.randrange(6)
    if choice == 0:
        bound = rng.randrange(5000)
        return f"fid < {bound}", lambda l, r: l[0] < bound
    if choice == 1:
        value = rng.randrange(4)
        return f"x = {value}", lambda l, r: l[2] == value
    if choice == 2:
        bound = rng.randrange(-50, 50)
        return f"v >= {bound}", lambda l, r: l[3] >= bound
    if choice == 3:
        value = rng.randrange(3)
        return f"w != {value}", lambda l, r: r[2] != value
    if choice == 4:
        name = rng.choice("abc")
        return f"name <= {name}", lambda l, r: r[3] <= name
    bound = rng.randrange(300)
    return f"u > {bound}", lambda l, r: r[4] > bound


# Sort keys of the random test's pairs: (left row, right row).
SORT_KEYS = {"fid": lambda p: p[0][0], "x": lambda p: p[0][2], "v": lambda p: p[0][3], "w": lambda p: p[1][2],
             "name": lambda p: p[1][3], "u": lambda p: p[1][4]}


def lone_keys(key_type, side):
    """Keys of the pool's type that only one side holds: side 0 or 1."""
    if key_type == "string":
        return [f"{'lr'[side]}{i}" for i in range(500)]
    if key_type in ("int", "short"):
        return [(-1) ** side * (1000 + i) for i in range(500)]
    if key_type == "long":
        return [-(2**62) + (-1) ** side * (1000 + i) for i in range(500)]
    if key_type == "date":
        return [f"{2030 + side * 50 + i // 12}-{i % 12 + 1:02d}-15" for i in range(500)]
    return [(-1) ** side * (1000.5 + i) for i in range(500)]


# Left and right row counts (the hash table is built over the fewer rows,
# and the other side's partners are then ordered by a counting pass), and
# the shares of their keys drawn from the shared pool: dense pairing, or
# sparse, most keys held by one side only.
SHAPES = {"big-left-dense": (5000, 40, 1.0, 1.0), "big-left-sparse": (5000, 40, 0.1, 0.5),
          "big-right-dense": (40, 5000, 1.0, 1.0), "big-right-sparse": (40, 5000, 0.5, 0.1)}


@pytest.mark.parametrize("key_type", sorted(KEY_POOLS))
@pytest.mark.parametrize("left_cat", [False, True], ids=["left-plain", "left-cat"])
@pytest.mark.parametrize("right_cat", [False, True], ids=["right-plain", "right-cat"])
@pytest.mark.parametrize("shape", sorted(SHAPES))
def test_every_key_type_and_storage_keeps_every_pair_in_order(tmp_path, key_type, left_cat, right_cat, shape):
    # 5,000 rows on two tree levels fill nodes past their split size.
    rng = random.Random(key_type + str(left_cat) + str(right_cat) + shape)
    left_rows, right_rows, *shared = SHAPES[shape]
    pool = KEY_POOLS[key_type]

    def key(shared_pool, side):
        return rng.choice(shared_pool) if rng.random() < shared[side] else rng.choice(lone_keys(key_type, side))

    left = [[i, key(pool[:-1], 0), rng.randrange(4), rng.randrange(-60, 60)] for i in range(left_rows)]
    right = [[10000 + i, key(pool[1:], 1), rng.randrange(3), rng.choice("abc"), rng.randrange(300)]
             for i in range(right_rows)]
    db = tabulon.DatabaseParser()
    load_table(db, tmp_path, "f", f"fid int, k {key_type}{' cat 1' if left_cat else ''}, x int cat 2, v double", left)
    load_table(db, tmp_path, "d", f"did int, k {key_type}{' cat 1' if right_cat else ''}, w int, name string, u int",
               right)
    by_fid = {row[0]: row for row in left}
    by_did = {row[0]: row for row in right}
    left_ordered = [by_fid[i] for (i,) in db.executeSelect("select fid from f").fetchAll()]
    right_ordered = [by_did[i] for (i,) in db.executeSelect("select did from d").fetchAll()]
    # Left rows in the table's own order, each with its partners in the
    # right table's order.
    pairs = expected_pairs(left_ordered, right_ordered)
    assert pairs, "the data must produce pairs"
    assert db.executeSelect("select fid, did from f join d on k = k").fetchAll() == [(l[0], r[0]) for l, r in pairs]
    for i in range(8):
        where, keep = random_where(rng, random_condition)
        if i % 2:
            # Few right rows: the left rows are narrowed by their partners too.
            where, keep = f"u < 100 and ({where})", lambda l, r, keep=keep: r[4] < 100 and keep(l, r)
        kept = [(l, r) for l, r in pairs if keep(l, r)]
        order = [(column, rng.random() < 0.5) for column in rng.sample(sorted(SORT_KEYS), rng.randrange(3))]
        if order:
            # Ties between pairs are broken by fid, then did, as the query asks.
            kept.sort(key=lambda pair: (pair[0][0], pair[1][0]))
            for column, descending in reversed(order):
                kept.sort(key=SORT_KEYS[column], reverse=descending)
        clause = "".join(f"{column}{' desc' if descending else ''}, " for column, descending in order)
        query = f"select fid, did from f join d on k = k where {where}" + (f" order by {clause}fid, did" if order else "")
        assert db.executeSelect(query).fetchAll() == [(l[0], r[0]) for l, r in kept], query


class TestJoinedQueries:
    @pytest.fixture(params=["plain", "categorised"], autouse=True)
    def tables(self, request, tmp_path):
        categorised = request.param == "categorised"
        self.db, self.left, self.right = make_tables(tmp_path, "string", categorised, categorised)

    @pytest.mark.parametrize(
        "where, keep",
        [
            ("x = 1", lambda l, r: l[2] == 1),
            ("name = b and x >= 2", lambda l, r: r[3] == "b" and l[2] >= 2),
            ("(x = 1 or w = 2) and (name = a or fid < 40)",
             lambda l, r: (l[2] == 1 or r[2] == 2) and (r[3] == "a" or l[0] < 40)),
            ("((x = 0 or x = 3) and w != 1) or (did > 120 and (name = c or x = 2))",
             lambda l, r: ((l[2] in (0, 3)) and r[2] != 1) or (r[0] > 120 and (r[3] == "c" or l[2] == 2))),
        ],
    )
    def test_filters_on_either_side(self, where, keep):
        pairs = sorted((l[0], r[0]) for l, r in expected_pairs(self.left, self.right) if keep(l, r))
        assert ints(self.db, f"select fid, did from f join d on k = k where {where} order by fid, did") == pairs

    def test_sorts_on_either_side_with_descending_keys(self):
        pairs = sorted(expected_pairs(self.left, self.right), key=lambda p: (-p[1][2], p[0][2], -p[1][0], p[0][0]))
        got = ints(self.db, "select w, x, did, fid from f join d on k = k order by w desc, x, did desc, fid")
        assert got == [(r[2], l[2], r[0], l[0]) for l, r in pairs]

    def test_select_star_lists_both_tables(self):
        left = self.left[3]
        expected = [tuple(map(str, left + r)) for r in self.right if r[1] == left[1]]
        assert sorted(rows(self.db, "select * from f join d on k = k where fid = 3")) == sorted(expected)

    def test_a_name_in_both_tables_means_the_main_tables_column(self):
        # k is in both; select, where and order all read f's k.
        answer = rows(self.db, "select k, did from f join d on k = k where k = pear order by k")
        assert answer and all(row[0] == "pear" for row in answer)

    def test_numeric_getters_read_either_side(self):
        cursor = self.db.executeSelect("select did, fid, w from f join d on k = k order by did desc, fid desc")
        right = max((r for l, r in expected_pairs(self.left, self.right)), key=lambda r: r[0])
        assert (cursor.getInt(0), cursor.getFloat(2)) == (right[0], float(right[2]))

    def test_a_later_single_table_query_reads_one_table(self):
        self.db.executeSelect("select fid from f join d on k = k")
        assert ints(self.db, "select fid from f where x = 1 order by fid") == [(r[0],) for r in self.left if r[2] == 1]


def test_empty_tables_give_empty_joins(db, tmp_path):
    load_table(db, tmp_path, "a", "id int, k int", [[1, 5], [2, 6]])
    db.executeCommand("create table empty (k int cat 1, v int)")
    for query in ("select id from a join empty on k = k", "select v from empty join a on k = k"):
        cursor = db.executeSelect(query)
        assert (cursor.getNumberOfRows(), cursor.getNumberOfCols()) == (0, 1)


def test_a_side_too_wide_to_copy_is_read_from_its_rows(db, tmp_path):
    # Nine doubles take more than a copied row may: the right side, one row
    # a pair, is read where its rows lie, in pair order.
    load_table(db, tmp_path, "l", "id int, k int", [[i, i * 7 % 60] for i in range(60)])
    load_table(db, tmp_path, "r", "k int, " + ", ".join(f"a{j} double" for j in range(9)),
               [[k, *(k + j / 8 for j in range(9))] for k in range(50)])
    columns = ", ".join(f"a{j}" for j in range(9))
    got = db.executeSelect(f"select id, {columns} from l join r on k = k").fetchAll()
    assert got == [(i, *(i * 7 % 60 + j / 8 for j in range(9))) for i in range(60) if i * 7 % 60 < 50]


def test_a_table_joined_with_itself(db, tmp_path):
    load_table(db, tmp_path, "staff", "id int, name string, boss int",
               [[1, "ada", 0], [2, "bob", 1], [3, "cy", 1], [4, "di", 3]])
    assert rows(db, "select * from staff join staff on boss = id order by id") == [
        ("2", "bob", "1", "1", "ada", "0"), ("3", "cy", "1", "1", "ada", "0"), ("4", "di", "3", "3", "cy", "1")]
    # Named columns are the main table's.
    assert rows(db, "select name from staff join staff on boss = id where id = 4") == [("di",)]


class TestMessages:
    @pytest.fixture
    def db(self, tmp_path):
        parser = tabulon.DatabaseParser()
        load_table(parser, tmp_path, "a", "x int, k int, s string", [[1, 2, "p"]])
        load_table(parser, tmp_path, "b", "y int, k long, d date", [[1, 2, "2024-01-01"]])
        return parser

    @pytest.mark.parametrize(
        "query, text",
        [
            ("select x from a join b on y = x", "Column x is not defined"),
            ("select x from a join nope on x = y", "Column y is not defined"),
            ("select x from nope join b on x = y", "Table nope is not defined"),
            ("select x from a join b on x = y where q = 1", "Column q is not defined"),
            ("select x from a join b on x = y order by q", "Column q is not defined"),
            ("select x from a join b on k = k", "Join columns k and k have different types"),
            ("select x from a join b on s = d", "Join columns s and d have different types"),
        ],
    )
    def test_refused(self, db, query, text):
        assert error(db.executeSelect, query) == text

