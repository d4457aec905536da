"""Reading .tbconfig from the working directory. The settings are process-wide,
so every case runs in a fresh interpreter with its own working directory."""

import os
import subprocess
import sys
import textwrap

import tabulon


def child_environment():
    """The environment for a child interpreter that finds this tabulon module
    whatever its working directory."""
    module_dir = os.path.dirname(os.path.abspath(tabulon.__file__))
    path = os.pathsep.join(p for p in (module_dir, os.environ.get("PYTHONPATH")) if p)
    return dict(os.environ, PYTHONPATH=path)


def construct(tmp_path, config=None, extra=""):
    """Writes .tbconfig (bytes or text) into tmp_path and reports what
    constructing a DatabaseParser there does: 'ok' or the error message."""
    if config is not None:
        data = config.encode() if isinstance(config, str) else config
        (tmp_path / ".tbconfig").write_bytes(data)
    script = textwrap.dedent(
        """
        import tabulon
        def attempt():
            try:
                tabulon.DatabaseParser()
            except RuntimeError as e:
                return str(e)
            return "ok"
        print(attempt())
        """
    ) + textwrap.dedent(extra)
    result = subprocess.run([sys.executable, "-c", script], cwd=tmp_path, env=child_environment(), capture_output=True,
                            text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    return result.stdout.splitlines()


FORMAT = "Invalid .tbconfig file format on line {}. Expected format 'parameter=value'"


def test_no_file(tmp_path):
    assert construct(tmp_path) == ["ok"]


def test_valid_settings(tmp_path):
    text = "category.threshold=300\nlines.threshold=500\nnode.split.threshold=1\nother=x=y\n"
    assert construct(tmp_path, text) == ["ok"]


def test_windows_line_ends_and_odd_values(tmp_path):
    text = "lines.threshold=12abc\r\ncategory.threshold=70000\r\nLines.Threshold=x\r\nlines.threshold = 3\r\n"
    assert construct(tmp_path, text) == ["ok"]


def test_line_without_equals_names_the_line(tmp_path):
    assert construct(tmp_path, "lines.threshold=500\n\n") == [FORMAT.format("")]
    assert construct(tmp_path, "# settings\nlines.threshold=5\n") == [FORMAT.format("# settings")]
    assert construct(tmp_path, "   \n") == [FORMAT.format("   ")]


def test_empty_value_names_the_parameter(tmp_path):
    assert construct(tmp_path, "category.threshold=\n") == ["Parameter category.threshold value is empty"]
    assert construct(tmp_path, "unknown=\n") == ["Parameter unknown value is empty"]


def test_file_is_read_again_by_every_database(tmp_path):
    lines = construct(
        tmp_path,
        "lines.threshold=500\n",
        """
        import os
        with open(".tbconfig", "w") as f:
            f.write("broken\\n")
        print(attempt())
        os.remove(".tbconfig")
        print(attempt())
        """,
    )
    assert lines == ["ok", FORMAT.format("broken"), "ok"]


def test_failed_construction_leaves_the_process_usable(tmp_path):
    lines = construct(
        tmp_path,
        "nonsense\n",
        """
        import os
        os.remove(".tbconfig")
        db = tabulon.DatabaseParser()
        try:
            db.executeSelect("select a from t extra")
        except RuntimeError as e:
            print(e)
        """,
    )
    assert lines == [FORMAT.format("nonsense"), "Invalid token identified: extra"]
