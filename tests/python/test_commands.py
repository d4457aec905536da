"""Tokenizing and routing of commands, observed through the errors they raise."""

import pytest

import tabulon

# Messages that mean the command was refused before it reached an executor.
REFUSALS = (
    "Unexpected token identified",
    "Invalid token identified",
    "Unmatched quotation mark",
    "Function supports",
    "Empty SELECT statement",
    "Command has more than",
)


@pytest.fixture
def db():
    return tabulon.DatabaseParser()


def select_error(db, command):
    """The message executeSelect raises, or None when it succeeds."""
    try:
        db.executeSelect(command)
    except RuntimeError as error:
        return str(error)
    return None


def select_parses(db, command):
    message = select_error(db, command)
    return message is None or not message.startswith(REFUSALS)


class TestDispatch:
    @pytest.mark.parametrize("command", ["select a from t", "SELECT a FROM t", "SeLeCt"])
    def test_execute_command_refuses_selects(self, db, command):
        with pytest.raises(RuntimeError, match="^Function supports all non-select statements$"):
            db.executeCommand(command)

    @pytest.mark.parametrize(
        "command", ["create table t (a int)", "drop table t", "load t from f.csv", "selects a from t", "hello"]
    )
    def test_execute_select_refuses_other_statements(self, db, command):
        assert select_error(db, command) == "Function supports only select statements"

    @pytest.mark.parametrize("command", ["", " ", "      "])
    def test_blank_commands(self, db, command):
        assert select_error(db, command) == "Empty SELECT statement"
        assert db.executeCommand(command) is None

    @pytest.mark.parametrize("command", ["hello world", "selects a from t", "update t set a = 1", "drop\ttable t"])
    def test_unknown_first_word_does_nothing(self, db, command):
        assert db.executeCommand(command) is None

    def test_parser_stays_usable_after_failures(self, db):
        for command in ["drop t", "load t into x", "create table t (a nope)"]:
            with pytest.raises(RuntimeError):
                db.executeCommand(command)
        assert select_error(db, "select a from t extra") == "Invalid token identified: extra"
        assert select_parses(db, "select a from t")


class TestTokenizer:
    @pytest.mark.parametrize(
        "command",
        [
            "select a from t where a>=3",
            "select a from t where a >= 3",
            "select   a   from  t   where a!=3  ",
            "select a,b from t where (a<3)and(b='x')",
            "select 'a b' from t",
            "select a from t where name = 'Ada Lovelace'",
            'select a from t where name = "Ada Lovelace"',
            "select a from t where name = ''",
            "select a from t where name = it's",
        ],
    )
    def test_commands_that_tokenize_into_valid_queries(self, db, command):
        assert select_parses(db, command)

    def test_operators_split_words(self, db):
        # "a", ",", "b", ">=", ... : the column list ends at ">=".
        assert select_error(db, "select a,b>=c from t") == "Unexpected token identified at pos 4: >="
        # "=>" is "=" then ">": the value is ">" and "3" is left over.
        assert select_error(db, "select a from t where a => 3") == "Invalid token identified: 3"
        # "<>" is two tokens as well.
        assert select_error(db, "select a from t where a<>b") == "Invalid token identified: b"
        # "!" alone is no separator.
        assert select_error(db, "select a!b c from t") == "Unexpected token identified at pos 2: c"

    @pytest.mark.parametrize(
        "command, token",
        [
            ("select a from t where name = 'Smith, John'", "'Smith"),
            ("select a from t where name = '", "'"),
            ("select a from t where name = 'abc", "'abc"),
            ("select a from t where name = \"abc'", "\"abc'"),
            ("select 'a from t", "'a from t"),
        ],
    )
    def test_unmatched_quotes(self, db, command, token):
        assert select_error(db, command) == f"Unmatched quotation mark in token {token}"
        with pytest.raises(RuntimeError, match="^Unmatched quotation mark in token"):
            db.executeCommand(command.replace("select", "create", 1))

    def test_only_spaces_separate_words(self, db):
        assert select_error(db, "select\ta from t") == "Function supports only select statements"
        # The table name is "t\nwhere", so "a" is the first token left over.
        assert select_error(db, "select a from t\nwhere a = 1") == "Invalid token identified: a"

    def test_non_ascii_text_round_trips(self, db):
        assert select_error(db, "select a from t ünïcødé") == "Invalid token identified: ünïcødé"
        assert select_error(db, "select a from t '€ 5'") == "Invalid token identified: € 5"

    def test_long_tokens_are_reported_in_full(self, db):
        word = "w" * 20000
        assert select_error(db, f"select a from t {word}") == f"Invalid token identified: {word}"

    def test_commands_of_more_than_65535_tokens_are_refused(self, db):
        # 5 + 65527 + 3 = 65535 tokens: the longest command there is.
        longest = "select a from t where " + "(" * 65527 + "a=1"
        assert select_parses(db, longest)
        assert select_error(db, longest + " b") == "Command has more than 65535 tokens"
        with pytest.raises(RuntimeError, match="^Command has more than 65535 tokens$"):
            db.executeCommand("create table t (" + "a int," * 30000 + "b int)")
        assert select_parses(db, "select a from t")

    def test_positions_above_32767_print_unsigned(self, db):
        columns = ",".join(["a"] * 20001)  # 40001 tokens at positions 1..40001
        assert select_error(db, f"select {columns} x t") == "Unexpected token identified at pos 40002: x"
