"""Missing values: columns declared with `null`, which fields of a file load
as NULL in them, and how a NULL reads back. Columns declared without `null`
keep every earlier rule."""

import pytest

from conftest import BAD_BOOL, BAD_DATE, error

MISSING_HINT = "; declare the column with null to load missing values"


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
