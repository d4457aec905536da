"""Reading .tbconfig from the working directory. The settings are
process-wide: every case puts the defaults back afterwards."""

import os

import pytest

import tabulon
from conftest import error, settings

FORMAT = "Invalid .tbconfig file format on line {}. Expected format 'parameter=value'"


@pytest.mark.parametrize(
    "text, expected",
    [
        ("category.threshold=300\nlines.threshold=500\nnode.split.threshold=1\nother=x=y\n", None),
        # Names are matched exactly; the values are read as far as they are numbers.
        ("lines.threshold=12abc\r\ncategory.threshold=70000\r\nLines.Threshold=x\r\nlines.threshold = 3\r\n",
         None),
        ("lines.threshold=500\n\n", FORMAT.format("")),
        # A CR LF line end is a line end; bytes that are not UTF-8 show as U+FFFD.
        ("lines.threshold=500\r\n\r\n", FORMAT.format("")),
        ("category.threshold=\r\n", "Parameter category.threshold value is empty"),
        (b"caf\xe9\n", FORMAT.format("caf\ufffd")),
        ("x" * 254 + "\u00e9\n", FORMAT.format("x" * 254 + "\ufffd")),
        ("# settings\nlines.threshold=5\n", FORMAT.format("# settings")),
        ("   \n", FORMAT.format("   ")),
        ("category.threshold=\n", "Parameter category.threshold value is empty"),
        ("unknown=\n", "Parameter unknown value is empty"),
    ],
)
def test_settings_file(tmp_path, text, expected):
    with settings(tmp_path, text):
        assert error(tabulon.DatabaseParser) == expected


def test_file_is_read_again_by_every_database(tmp_path):
    with settings(tmp_path, "lines.threshold=500\n"):
        assert error(tabulon.DatabaseParser) is None
        (tmp_path / ".tbconfig").write_text("broken\n")
        assert error(tabulon.DatabaseParser) == FORMAT.format("broken")
        os.remove(tmp_path / ".tbconfig")
        db = tabulon.DatabaseParser()
        assert error(db.executeSelect, "select a from t extra") == "Invalid token identified: extra"
