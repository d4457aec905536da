"""Statement grammars and the create executor, observed through their errors."""

import pytest

import tabulon

REFUSALS = (
    "Unexpected token identified",
    "Invalid token identified",
    "Unmatched quotation mark",
    "Function supports",
    "Empty SELECT statement",
    "Column type",
    "Category number is empty",
)


@pytest.fixture
def db():
    return tabulon.DatabaseParser()


def error(call, command):
    try:
        call(command)
    except RuntimeError as e:
        return str(e)
    return None


def accepted(call, command):
    """True when the statement got past its grammar and executor checks."""
    message = error(call, command)
    return message is None or not message.startswith(REFUSALS)


class TestSelect:
    @pytest.mark.parametrize(
        "command",
        [
            "select a from t",
            "SELECT a, b FROM t WHERE a = 1 ORDER BY b DESC, a",
            "select a from t where (a > 100 or b = 'North West') and id != 7 order by a desc",
            "select id, name from sales join customers on customer = id",
            "select k from a join b on x = y join c on x = z",
            "select a from t where ((a = 1)",
            "select a from t where (a = 1))",
            "select a from t where a like 1",
            "select a from t order",
            "select a from t where",
            "select a from",
            "select *, a from t",
        ],
    )
    def test_accepted(self, db, command):
        assert accepted(db.executeSelect, command)

    @pytest.mark.parametrize(
        "command, message",
        [
            ("select a from t where a = 1 AND b = 2", "Invalid token identified: AND"),
            ("select a from t where a = 1 OR b = 2", "Invalid token identified: OR"),
            ("select a from t extra", "Invalid token identified: extra"),
            ("select a from t order by b asc", "Invalid token identified: asc"),
            ("select a from t order a", "Unexpected token identified at pos 5: a"),
            ("select a from t join b x = y", "Unexpected token identified at pos 6: x"),
            ("select a from t join b on x y", "Unexpected token identified at pos 8: y"),
            ("select from t", "Unexpected token identified at pos 2: t"),
            ("select a b from t", "Unexpected token identified at pos 2: b"),
            ("select a from t where a = 1 b", "Invalid token identified: b"),
        ],
    )
    def test_refused(self, db, command, message):
        assert error(db.executeSelect, command) == message

    def test_clauses_of_an_earlier_query_do_not_carry_over(self, db):
        assert accepted(db.executeSelect, "select a from t join b on x = y where a = 1 order by a")
        assert error(db.executeSelect, "select a from t x") == "Invalid token identified: x"
        assert accepted(db.executeSelect, "select a from t")


class TestDropAndLoad:
    def test_keywords_in_any_case(self, db):
        assert accepted(db.executeCommand, "DROP TABLE Sales")
        assert accepted(db.executeCommand, "Load Sales From data.csv")

    @pytest.mark.parametrize(
        "command, message",
        [
            ("drop t", "Unexpected token identified at pos 1: t"),
            ("drop tables t", "Unexpected token identified at pos 1: tables"),
            ("load t into data.csv", "Unexpected token identified at pos 2: into"),
        ],
    )
    def test_refused(self, db, command, message):
        assert error(db.executeCommand, command) == message

    @pytest.mark.parametrize("command", ["load t from data.csv extra", "drop table t extra", "drop table", "load t"])
    def test_trailing_or_missing_tokens_reach_the_database(self, db, command):
        assert accepted(db.executeCommand, command)


class TestCreate:
    @pytest.mark.parametrize(
        "command",
        [
            "create table t (a INT, b String cat 40)",
            "CREATE TABLE T (Name int)",
            "create table t (a short, b long, c double, d float, e bool, f date, g string)",
            "create table t (a int cat 70000, b int cat -1, c int cat x7, d int cat 12abc)",
            "create table t (a int) config from data.csv",
            "create table t (a int) from data.csv",
            "create table t (a int) trailing words",
            "create table t (a int) config",
        ],
    )
    def test_accepted(self, db, command):
        assert accepted(db.executeCommand, command)

    @pytest.mark.parametrize(
        "command, message",
        [
            ("create table t (a integer)", "Column type integer is not supported"),
            ("create table t (a Integer)", "Column type integer is not supported"),
            ("create table t (a int, b varchar, c text)", "Column type varchar is not supported"),
            ("create table t (a '')", "Column type  is not supported"),
            ("create table t (a int cat '')", "Category number is empty for column a"),
            ("create table t (a int cat", "Category number is empty for column a"),
            ("create table t (a nope cat '')", "Column type nope is not supported"),
            ("create table t (a int, B int cat '')", "Category number is empty for column B"),
            ("create t (a int)", "Unexpected token identified at pos 1: t"),
            ("create table t a int", "Unexpected token identified at pos 3: a"),
            ("create table t (a int) config into x", "Unexpected token identified at pos 8: into"),
            ("create table t (a int cat ) config from x", "Unexpected token identified at pos 8: config"),
            ("create table t (a int b int)", "Unexpected token identified at pos 6: b"),
        ],
    )
    def test_refused(self, db, command, message):
        assert error(db.executeCommand, command) == message
