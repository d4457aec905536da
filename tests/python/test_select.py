"""Single-table queries end to end: select lists, where clauses, ordering and the cursor."""

import csv
import itertools

import pytest

import tabulon

COLUMNS = ["id", "name", "city", "score", "ratio", "day", "small", "flag"]
TYPES = ["int", "string", "string", "long", "double", "date", "short", "bool"]
ROWS = [
    [1, "ann", "Oslo", 10, 2.5, "2024-01-03", -5, 1],
    [2, "bob", "Rome", 30, -1.0, "2024-01-01", 7, 0],
    [3, "cy", "Oslo", 20, 2.5, "2024-02-10", 7, 1],
    [4, "di, jr", "Lima", 10, 0.0, "2023-12-31", 0, 0],
    [5, "ed", "Rome", 40, 9.75, "2024-01-03", -5, 1],
    [6, "fay", "Lima", 30, 2.9, "2024-03-01", 3, 0],
]


def write_csv(path, header, rows):
    with open(path, "w", newline="") as handle:
        writer = csv.writer(handle, lineterminator="\n")
        writer.writerow(header)
        writer.writerows(rows)


def create_statement(table, categories=None):
    definitions = []
    for number, (name, kind) in enumerate(zip(COLUMNS, TYPES)):
        cat = f" cat {categories[name]}" if categories and name in categories else ""
        definitions.append(f"{name} {kind}{cat}")
    return f"create table {table} ({', '.join(definitions)})"


@pytest.fixture(params=["plain", "categorised"])
def db(request, tmp_path):
    """A database holding table t, once with plain columns and once with
    city, day and small as tree levels."""
    path = tmp_path / "people.csv"
    write_csv(path, COLUMNS, ROWS)
    parser = tabulon.DatabaseParser()
    categories = {"city": 1, "day": 2, "small": 3} if request.param == "categorised" else None
    parser.executeCommand(create_statement("t", categories))
    parser.executeCommand(f"load t from '{path}'")
    return parser


def fetch(cursor):
    rows = []
    for row in range(cursor.getNumberOfRows()):
        cursor.setRow(row)
        rows.append([cursor.getString(col) for col in range(cursor.getNumberOfCols())])
    return rows


def ids(db, where="", order=""):
    query = "select id from t"
    if where:
        query += " where " + where
    if order:
        query += " order by " + order
    return [int(row[0]) for row in fetch(db.executeSelect(query))]


def message(action):
    with pytest.raises(RuntimeError) as caught:
        action()
    return str(caught.value)


class TestSelectList:
    def test_star_selects_every_column_in_order(self, db):
        cursor = db.executeSelect("select * from t order by id")
        assert cursor.getNumberOfCols() == len(COLUMNS)
        assert fetch(cursor)[0] == ["1", "ann", "Oslo", "10", "2.500000", "2024-01-03", "-5", "1"]

    def test_columns_keep_the_order_written(self, db):
        cursor = db.executeSelect("select city, id from t where id = 2")
        assert fetch(cursor) == [["Rome", "2"]]

    def test_star_then_a_column_repeats_it(self, db):
        cursor = db.executeSelect("select *, name from t where id = 4")
        assert cursor.getNumberOfCols() == len(COLUMNS) + 1
        assert fetch(cursor)[0][-1] == "di, jr"
        assert fetch(cursor)[0][1] == "di, jr"

    def test_repeated_column(self, db):
        assert fetch(db.executeSelect("select id, id from t where id = 5")) == [["5", "5"]]

    def test_unknown_column_names_table_and_column(self, db):
        assert message(lambda: db.executeSelect("select q from t")) == "Column q is not defined for table t"
        assert message(lambda: db.executeSelect("select id from t where q = 1")) == (
            "Column q is not defined for table t"
        )
        assert message(lambda: db.executeSelect("select id from t order by q")) == (
            "Column q is not defined for table t"
        )

    def test_column_names_are_case_sensitive(self, db):
        assert message(lambda: db.executeSelect("select ID from t")) == "Column ID is not defined for table t"

    def test_unknown_table(self, db):
        assert message(lambda: db.executeSelect("select id from nope")) == "Table nope is not defined"

    def test_missing_table_name(self, db):
        assert message(lambda: db.executeSelect("select id from")) == "Empty table name in the select query"


class TestWhere:
    @pytest.mark.parametrize(
        "where, expected",
        [
            ("id = 3", [3]),
            ("id != 3", [1, 2, 4, 5, 6]),
            ("score < 20", [1, 4]),
            ("score > 20", [2, 5, 6]),
            ("score <= 20", [1, 3, 4]),
            ("score >= 30", [2, 5, 6]),
            ("city = Oslo", [1, 3]),
            ("city != Oslo", [2, 4, 5, 6]),
            ("city < Oslo", [4, 6]),
            ("city >= Oslo", [1, 2, 3, 5]),
            ("city > Paris", [2, 5]),
            ("city < Athens", []),
            ("city = Paris", []),
            ("city != Paris", [1, 2, 3, 4, 5, 6]),
            ("name < cy", [1, 2]),
            ("ratio = 2.5", [1, 3]),
            ("ratio > 2.5", [5, 6]),
            ("ratio <= 0", [2, 4]),
            ("ratio = -0", [4]),
            ("day = 2024-01-03", [1, 5]),
            ("day < 2024-01-03", [2, 4]),
            ("day > 2024-01-04", [3, 6]),
            ("day >= 2024-01-02", [1, 3, 5, 6]),
            ("small = -5", [1, 5]),
            ("small < 0", [1, 5]),
            ("small > 6", [2, 3]),
            ("small >= -100", [1, 2, 3, 4, 5, 6]),
            ("small <= -6", []),
            ("small > 7", []),
            ("flag = 1", [1, 3, 5]),
            ("flag = false", [2, 4, 6]),
            ("flag > 0", [1, 3, 5]),
        ],
    )
    def test_single_conditions(self, db, where, expected):
        assert sorted(ids(db, where)) == expected

    def test_and_binds_tighter_than_or(self, db):
        assert sorted(ids(db, "city = Oslo or city = Rome and score > 30")) == [1, 3, 5]
        assert sorted(ids(db, "city = Rome and score > 30 or city = Oslo")) == [1, 3, 5]

    def test_brackets_change_the_grouping(self, db):
        assert sorted(ids(db, "(city = Oslo or city = Rome) and score > 10")) == [2, 3, 5]
        assert sorted(ids(db, "score > 10 and (city = Oslo or city = Rome)")) == [2, 3, 5]

    def test_adjacent_bracket_groups(self, db):
        # Read as written, not as "city = Oslo or (city = Rome and small = 7) or flag = 1".
        assert sorted(ids(db, "(city = Oslo or city = Rome) and (small = 7 or flag = 0)")) == [2, 3]
        assert sorted(ids(db, "((city = Oslo or city = Rome) and (small = 7 or flag = 0)) or id = 6")) == [2, 3, 6]
        assert sorted(ids(db, "(id = 1 or id = 2) and (id = 2 or id = 3) and (id = 2 or id = 4)")) == [2]

    def test_condition_combinations_match_python(self, db):
        conditions = {
            "city = Oslo": lambda r: r[2] == "Oslo",
            "score >= 30": lambda r: r[3] >= 30,
            "flag = 1": lambda r: r[7] == 1,
            "small < 5": lambda r: r[6] < 5,
        }
        names = list(conditions)
        shapes = [
            ("{0} and {1} or {2} and {3}", lambda a, b, c, d: (a and b) or (c and d)),
            ("({0} or {1}) and ({2} or {3})", lambda a, b, c, d: (a or b) and (c or d)),
            ("{0} and ({1} or {2} and {3})", lambda a, b, c, d: a and (b or (c and d))),
            ("(({0} or {1}) and {2}) or {3}", lambda a, b, c, d: ((a or b) and c) or d),
            ("({0}) or ({1} and ({2} or ({3})))", lambda a, b, c, d: a or (b and (c or d))),
        ]
        for order in itertools.permutations(names):
            for text, meaning in shapes:
                where = text.format(*order)
                expected = [
                    r[0] for r in ROWS if meaning(*(conditions[name](r) for name in order))
                ]
                assert sorted(ids(db, where)) == expected, where

    def test_deeply_nested_brackets(self, db):
        depth = 20000
        where = "(" * depth + "id = 2 or id = 3" + ")" * depth + " and flag = 1"
        assert ids(db, where) == [3]

    def test_unmatched_closing_bracket(self, db):
        assert message(lambda: db.executeSelect("select id from t where (id = 1))")) == (
            "Invalid boolean expression - unmatched brackets"
        )

    def test_unclosed_brackets_are_accepted(self, db):
        assert ids(db, "((id = 1") == [1]

    def test_unsupported_operator(self, db):
        assert message(lambda: db.executeSelect("select id from t where id like 1")) == (
            "Unsupported select condition operator like"
        )

    def test_upper_case_connector_is_refused(self, db):
        assert message(lambda: db.executeSelect("select id from t where id = 1 AND id = 2")) == (
            "Invalid token identified: AND"
        )

    def test_bad_boolean_constant(self, db):
        with pytest.raises(RuntimeError):
            db.executeSelect("select id from t where flag = maybe")


class TestOrder:
    def test_descending_key_puts_largest_first(self, db):
        assert ids(db, order="score desc, id") == [5, 2, 6, 3, 1, 4]

    def test_second_key_decides_only_ties(self, db):
        assert ids(db, order="city, score desc") == [6, 4, 3, 1, 5, 2]
        assert ids(db, order="city desc, day") == [2, 5, 1, 3, 4, 6]

    def test_text_and_date_keys(self, db):
        assert ids(db, order="name desc") == [6, 5, 4, 3, 2, 1]
        assert ids(db, order="day, id") == [4, 2, 1, 5, 3, 6]

    def test_ties_keep_every_row(self, db):
        result = ids(db, order="flag")
        assert sorted(result[:3]) == [2, 4, 6]
        assert sorted(result[3:]) == [1, 3, 5]

    def test_order_with_where(self, db):
        assert ids(db, "ratio >= 0", "ratio desc, id desc") == [5, 6, 3, 1, 4]

    def test_unsorted_query_after_sorted_one(self, db):
        ids(db, order="score desc")
        assert sorted(ids(db)) == [1, 2, 3, 4, 5, 6]


class TestCursor:
    def test_empty_result_keeps_its_columns(self, db):
        cursor = db.executeSelect("select id, name from t where id > 100")
        assert cursor.getNumberOfRows() == 0
        assert cursor.getNumberOfCols() == 2
        assert "out of range" in message(lambda: cursor.setRow(0))
        assert message(lambda: cursor.getString(0))

    def test_sorted_cursor_starts_on_the_first_sorted_row(self, db):
        cursor = db.executeSelect("select id from t order by score desc, id")
        assert cursor.getString(0) == "5"

    def test_numbers(self, db):
        cursor = db.executeSelect("select ratio, small, score, id, name, day, flag from t where id = 6")
        assert cursor.getInt(0) == 2
        assert cursor.getFloat(0) == pytest.approx(2.9)
        assert cursor.getFloat(1) == 3.0
        assert cursor.getInt(2) == 30
        assert cursor.getInt(3) == 6
        assert isinstance(cursor.getFloat(3), float)
        assert message(lambda: cursor.getInt(4)) == "Unable to convert column 4 to long. Incompatible data type."
        assert message(lambda: cursor.getFloat(5)) == "Unable to convert column 5 to double. Incompatible data type."
        assert message(lambda: cursor.getInt(6)) == "Unable to convert column 6 to long. Incompatible data type."

    def test_truncation_toward_zero(self, tmp_path):
        path = tmp_path / "n.csv"
        write_csv(path, ["d", "s"], [[2.9, -5], [-2.9, 5]])
        db = tabulon.DatabaseParser()
        db.executeCommand("create table n (d double, s short)")
        db.executeCommand(f"load n from '{path}'")
        cursor = db.executeSelect("select d, s from n order by d desc")
        assert (cursor.getInt(0), cursor.getFloat(1)) == (2, -5.0)
        cursor.setRow(1)
        assert (cursor.getInt(0), cursor.getFloat(1)) == (-2, 5.0)

    def test_string_column_first(self, db):
        cursor = db.executeSelect("select name from t")
        assert message(lambda: cursor.getInt(0)) == "Unable to convert column 0 to long. Incompatible data type."

    def test_indices_out_of_range(self, db):
        cursor = db.executeSelect("select id from t")
        assert message(lambda: cursor.setRow(6)) == "Row 6 is out of range: the result has 6 rows"
        assert message(lambda: cursor.getString(1)) == "Column 1 is out of range: the result has 1 columns"
        assert message(lambda: cursor.getInt(1)) == "Column 1 is out of range: the result has 1 columns"
        with pytest.raises(OverflowError):
            cursor.setRow(-1)

    def test_default_cursor(self):
        cursor = tabulon.QuerySet()
        assert cursor.getNumberOfRows() == 0
        assert cursor.getNumberOfCols() == 0
        for action in (lambda: cursor.setRow(0), lambda: cursor.getString(0),
                       lambda: cursor.getInt(0), lambda: cursor.getFloat(0)):
            assert message(action) == "The cursor holds no query result"

    def test_references_share_the_current_row(self, db):
        cursor = db.executeSelect("select id from t order by id")
        other = cursor
        other.setRow(3)
        assert cursor.getString(0) == "4"

    def test_each_query_has_its_own_cursor(self, db):
        first = db.executeSelect("select id from t order by id")
        second = db.executeSelect("select id from t order by id desc")
        assert first.getString(0) == "1"
        assert second.getString(0) == "6"
        first.setRow(5)
        assert second.getString(0) == "6"
