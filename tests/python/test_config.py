"""Reading .tbconfig from the working directory. The settings are
process-wide: every case puts the defaults back afterwards."""

import os

import pytest

import tabulon
from conftest import error, settings

FORMAT = "Invalid .tbconfig file format on line {}. Expected format 'parameter=value'"
UNKNOWN = "Unknown .tbconfig parameter {}. The parameters are category.threshold, lines.threshold, threads"
NOT_NUMBER = "Parameter {} value {} is not a number"
RANGE = "Parameter {} value {} is outside the range {} to {}"


@pytest.mark.parametrize(
    "text, expected",
    [
        ("category.threshold=300\nlines.threshold=500\n", None),
        # Blanks around names and values, empty lines and comments are skipped.
        ("# settings\n\n  # lines.threshold=x\r\n\r\n   \n lines.threshold = 3 \r\ncategory.threshold=\t0\n", None),
        ("lines.threshold=4294967295\ncategory.threshold=65535\n", None),
        ("lines.threshold=4294967296\n", RANGE.format("lines.threshold", "4294967296", 0, 4294967295)),
        ("category.threshold=65536\n", RANGE.format("category.threshold", "65536", 0, 65535)),
        ("category.threshold=70000\n", RANGE.format("category.threshold", "70000", 0, 65535)),
        ("lines.threshold=-1\n", RANGE.format("lines.threshold", "-1", 0, 4294967295)),
        ("lines.threshold=99999999999999999999\n",
         RANGE.format("lines.threshold", "99999999999999999999", 0, 4294967295)),
        ("lines.threshold=abc\n", NOT_NUMBER.format("lines.threshold", "abc")),
        ("lines.threshold=12abc\n", NOT_NUMBER.format("lines.threshold", "12abc")),
        ("category.threshold=1e3\n", NOT_NUMBER.format("category.threshold", "1e3")),
        ("lines.threshold==5\n", NOT_NUMBER.format("lines.threshold", "=5")),
        # A name that is no setting, also one written in other letters.
        ("node.split.threshold=1\n", UNKNOWN.format("node.split.threshold")),
        ("Lines.Threshold=5\n", UNKNOWN.format("Lines.Threshold")),
        ("other=x=y\n", UNKNOWN.format("other")),
        ("lines.threshold=500\nbroken\n", FORMAT.format("broken")),
        ("=5\n", FORMAT.format("=5")),
        # Bytes that are not UTF-8 show as U+FFFD; a long line is read whole.
        (b"caf\xe9\n", FORMAT.format("caf\ufffd")),
        ("x" * 300 + "\u00e9\n", FORMAT.format("x" * 300 + "\u00e9")),
        ("threads=1\n", None),
        ("threads=64\n", None),
        ("threads=0\n", RANGE.format("threads", "0", 1, 64)),
        ("threads=65\n", RANGE.format("threads", "65", 1, 64)),
        ("threads=two\n", NOT_NUMBER.format("threads", "two")),
        ("category.threshold=\r\n", "Parameter category.threshold value is empty"),
        ("lines.threshold=  \n", "Parameter lines.threshold value is empty"),
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
