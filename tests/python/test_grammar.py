"""Tokenizing, dispatch and the statement grammars, observed through the
errors they raise. A statement counts as accepted when it gets past the
tokenizer, the grammar and the create executor's own checks (a missing
table is reported later and still counts)."""

import pytest

from conftest import error, load_table, rows, write_csv

REFUSALS = (
    "Unexpected token identified",
    "Invalid token identified",
    "Unmatched quotation mark",
    "Function supports",
    "Empty SELECT statement",
    "Command has more than",
    "Column type",
    "Category number is empty",
    "Missing",
)


def run(db, command):
    """Sends a select to executeSelect and anything else to executeCommand."""
    call = db.executeSelect if command[:6].lower() == "select" else db.executeCommand
    return call(command)


def accepted(db, command):
    message = error(run, db, command)
    return message is None or not message.startswith(REFUSALS)


class TestDispatch:
    @pytest.mark.parametrize("command", ["select a from t", "SELECT a FROM t", "SeLeCt"])
    def test_execute_command_refuses_selects(self, db, command):
        assert error(db.executeCommand, command) == "Function supports all non-select statements"

    @pytest.mark.parametrize(
        "command", ["create table t (a int)", "drop table t", "load t from f.csv", "selects a from t", "hello",
                    "\tdrop\ttable\tt"]
    )
    def test_execute_select_refuses_other_statements(self, db, command):
        assert error(db.executeSelect, command) == "Function supports only select statements"

    def test_blank_commands_do_nothing(self, db):
        for command in ("", "      "):
            assert db.executeCommand(command) is None
            assert error(db.executeSelect, command) == "Empty SELECT statement"

    @pytest.mark.parametrize("command, word", [
        ("insert into t values (1)", "insert"), ("delete from t", "delete"), ("update t set a = 1", "update"),
        ("show tables", "show"), ("creat table t (a int)", "creat"), ("selects a from t", "selects"),
        ("\r\nselects\ra from t", "selects"),
    ])
    def test_unknown_statements_are_refused(self, db, command, word):
        assert error(db.executeCommand, command) == (
            f"Unknown statement {word}: executeCommand runs create, load and drop")


class TestTokenizer:
    @pytest.mark.parametrize(
        "command, token",
        [
            ("select a from t where name = '", "'"),
            ("select a from t where name = \"abc'", "\"abc'"),
            ("select 'a from t", "'a from t"),
            ("select a from t where name = 'Smith, John", "'Smith, John"),
            ("select a from t where name = 'it''s", "'it''s"),
            ("select a from t where name = 'Smith'John = 1", "'Smith'John"),
        ],
    )
    def test_unmatched_quotes(self, db, command, token):
        assert error(db.executeSelect, command) == f"Unmatched quotation mark in token {token}"
        assert error(db.executeCommand, command.replace("select", "create", 1)) == (
            f"Unmatched quotation mark in token {token}")

    def test_quoted_values_keep_blanks_separators_and_the_other_quote(self, db, tmp_path):
        values = ["Adult, 1 Egg Stage", "Adelie Penguin (Pygoscelis adeliae)", "Eagle's Nest Airport",
                  'say "hi"', "a=b!=c<=d>=e<f>g", "it's", "  padded  ", "", "tab\tline\nfeed\r\n"]
        load_table(db, tmp_path, "t", "id int, s string", list(enumerate(values)))
        for number, value in enumerate(values):
            for quoted in ("'" + value.replace("'", "''") + "'", '"' + value.replace('"', '""') + '"'):
                assert rows(db, f"select id from t where s = {quoted}") == [(str(number),)], quoted
                assert rows(db, f"select id from t where (s={quoted})and id>=0") == [(str(number),)], quoted
        # A quote inside an unquoted word is an ordinary byte.
        assert rows(db, "select id from t where s = it's") == [("5",)]

    def test_quoted_file_names(self, db, tmp_path):
        path = write_csv(tmp_path / "airlines (1), 'copy'.csv", ["a"], [[1], [2]])
        db.executeCommand("create table a (a int)")
        db.executeCommand(f'load a from "{path}"')
        assert rows(db, "select a from a") == [("1",), ("2",)]

    def test_long_tokens_are_reported_in_full(self, db):
        word = "w" * 20000
        assert error(db.executeSelect, f"select a from t {word}") == f"Invalid token identified: {word}"

    def test_commands_of_more_than_65535_tokens_are_refused(self, db):
        # 5 + 65527 + 3 = 65535 tokens: the longest command there is.
        longest = "select a from t where " + "(" * 65527 + "a=1"
        assert accepted(db, longest)
        assert error(db.executeSelect, longest + " b") == "Command has more than 65535 tokens"
        assert error(db.executeCommand, "create table t (" + "a int," * 30000 + "b int)") == (
            "Command has more than 65535 tokens")
        assert accepted(db, "select a from t")

    def test_positions_above_32767_print_unsigned(self, db):
        columns = ",".join(["a"] * 20001)  # 40001 tokens at positions 1..40001
        assert error(db.executeSelect, f"select {columns} x t") == "Unexpected token identified at pos 40002: x"


@pytest.mark.parametrize(
    "command",
    [
        "select a from t where a>=3",
        "select   a   from  t   where a!=3  ",
        "select a,b from t where (a<3)and(b='x')",
        "select 'a b' from t",
        'select a from t where name = "Ada Lovelace"',
        "select a from t where name = ''",
        "select a from t where name = it's",
        "SELECT a, b FROM t WHERE a = 1 ORDER BY b DESC, a",
        "select a from t where (a > 100 or b = 'North West') and id != 7 order by a desc",
        "select id, name from sales join customers on customer = id",
        "select k from a join b on x = y join c on x = z",
        "select a from t where a like 1",
        "select *, a from t",
        "DROP TABLE Sales",
        "Load Sales From data.csv",
        "load t from data.csv separator ';'",
        "LOAD t FROM data.csv SEPARATOR '\\t'",
        "select a\nfrom t",
        "select\ta\r\nfrom t\r\n",
        "create table t (a INT, b String cat 40)",
        "create table t (a short, b long, c double, d float, e bool, f date, g string)",
        "create table t (a int cat 70000, b int cat -1, c int cat x7, d int cat 12abc)",
        "create table t (a int) config from data.csv separator '|'",
        "create table t (a int null, b string cat 1 NULL, c date Null, d bool cat 2 nUlL)",
        "create table t (a double null) config from data.csv",
        "create\ntable\tt\r\n(a int,\n b int)\n",
    ],
)
def test_accepted(db, command):
    assert accepted(db, command)


@pytest.mark.parametrize(
    "command, message",
    [
        # The column list ends at ">=".
        ("select a,b>=c from t", "Unexpected token identified at pos 4: >="),
        # "=>" is "=" then ">": the value is ">" and "3" is left over.
        ("select a from t where a => 3", "Invalid token identified: 3"),
        ("select a from t where a<>b", "Invalid token identified: b"),
        # "!" alone is no separator.
        ("select a!b c from t", "Unexpected token identified at pos 2: c"),
        ("select a from t\nwhere\ta = 1\r\nb", "Invalid token identified: b"),
        ("select a from t ünïcødé", "Invalid token identified: ünïcødé"),
        ("select a from t '€ 5'", "Invalid token identified: € 5"),
        ("select a from t where a = 1 AND b = 2", "Invalid token identified: AND"),
        ("select a from t order by b asc", "Invalid token identified: asc"),
        ("select a from t order a", "Unexpected token identified at pos 5: a"),
        ("select a from t join b x = y", "Unexpected token identified at pos 6: x"),
        ("select a from t join b on x y", "Unexpected token identified at pos 8: y"),
        ("select from t", "Unexpected token identified at pos 2: t"),
        ("select a b from t", "Unexpected token identified at pos 2: b"),
        ("select a from t where a = 1 b", "Invalid token identified: b"),
        ("drop tables t", "Unexpected token identified at pos 1: tables"),
        ("create table t (a int, b varchar, c text)", "Column type varchar is not supported"),
        ("create table t (a '')", "Column type  is not supported"),
        ("create table t (a int cat", "Missing category number after 'cat'"),
        ("create table t (a nope cat '')", "Column type nope is not supported"),
        ("create table t (a int, B int cat '')", "Category number is empty for column B"),
        ("create t (a int)", "Unexpected token identified at pos 1: t"),
        ("create table t a int", "Unexpected token identified at pos 3: a"),
        ("create table t (a int) config into x", "Unexpected token identified at pos 8: into"),
        ("create table t (a int cat ) config from x", "Unexpected token identified at pos 8: config"),
        ("create table t (a int b int)", "Unexpected token identified at pos 6: b"),
        # "null" ends a column definition: once, after the type or the category number.
        ("create table t (a int null null)", "Unexpected token identified at pos 7: null"),
        ("create table t (a int null cat 1)", "Unexpected token identified at pos 7: cat"),
        ("create table t (a null)", "Column type null is not supported"),
    ],
)
def test_refused(db, command, message):
    assert error(run, db, command) == message


def test_clauses_of_an_earlier_statement_do_not_carry_over(db):
    assert accepted(db, "select a from t join b on x = y where a = 1 order by a")
    assert error(db.executeSelect, "select a from t x") == "Invalid token identified: x"
    assert accepted(db, "select a from t")
    assert error(db.executeCommand, "create table t (a nope)") == "Column type nope is not supported"
    assert accepted(db, "create table t (a int)")


@pytest.mark.parametrize(
    "query, expected",
    [
        ("select id\nfrom t\nwhere id >= 1", [1, 2]),
        ("select id\r\nfrom t\r\nwhere id >= 1\r\n", [1, 2]),
        ("\tselect\tid\tfrom\tt\twhere\tid\t>=\t1\t", [1, 2]),
        ("""
        select id
          from t
         where id >= 2
            or s = 'a b'
        """, [0, 2]),
    ],
    ids=["lf", "crlf", "tabs", "triple-quoted"],
)
def test_line_ends_and_tabs_separate_words(db, tmp_path, query, expected):
    path = write_csv(tmp_path / "t.csv", ["id", "s"], [[0, "a b"], [1, "x"], [2, "y"]])
    db.executeCommand("create\ttable t\n(id int,\r\n s string)")
    db.executeCommand(f"load t\nfrom\n'{path}'\n")
    assert sorted(int(row[0]) for row in rows(db, query)) == expected
