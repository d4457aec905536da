"""CREATE TABLE, LOAD and DROP TABLE through Python: what each command
leaves behind, above all when it fails."""

import bz2
import gzip
import io
import lzma
import random
import zipfile

import pytest

import tabulon
from conftest import BAD_BOOL, MISSING_HINT, WITHOUT_GZIP, error, gzip_members, gzip_outcome, load_table, rows, settings

# Every case loads on one thread and on several.
pytestmark = pytest.mark.usefixtures("load_threads")


@pytest.fixture
def csv(tmp_path):
    """Writes a CSV file (header line "h", then the lines) and returns its path."""

    def write(name, lines):
        path = tmp_path / name
        path.write_text("".join(line + "\n" for line in ["h", *lines]))
        return str(path)

    return write


def table_rows(db, table):
    return sorted(rows(db, f"select * from {table}"))


class TestCreate:
    def test_created_table_is_empty_until_loaded(self, db, csv):
        data = csv("data.csv", ["1,x", "2,y", "1,z"])
        db.executeCommand(f"create table sampled (a int, b string) config from {data}")
        db.executeCommand("create table given (a int cat 1, b string)")
        db.executeCommand("CREATE TABLE plain (a INT, b STRING)")
        for table in ("sampled", "given", "plain"):
            assert rows(db, f"select * from {table}") == []
            db.executeCommand(f"load {table} from {data}")
            assert table_rows(db, table) == [("1", "x"), ("1", "z"), ("2", "y")]

    def test_name_in_use(self, db):
        db.executeCommand("create table t (a int)")
        assert error(db.executeCommand, "create table t (b int)") == (
            "Table is already defined - unable to initialize t")
        # Refused before the file is opened: the missing file is not reported.
        assert error(db.executeCommand, "create table t (b int) config from missing.csv") == "Table t already exists"
        db.executeCommand("create table T (b int)")  # names keep their letter case

    def test_category_numbers_keep_their_low_16_bits(self, db):
        # 70000 is 4464 in 16 bits, the same as the other column.
        assert error(db.executeCommand, "create table t (a int cat 70000, b int cat 4464)") == (
            "Multiple columns mapped to the same category 4464")
        db.executeCommand("create table t (a int cat 2, b int cat 3)")

    def test_sampled_levels_take_values_the_sample_did_not_have(self, db, csv):
        sample = csv("sample.csv", [f"{i % 3 + 5},{i}" for i in range(100)])
        db.executeCommand(f"create table t (a int, b int) config from {sample}")
        lines = [f"{i % 9},{i}" for i in range(200)]
        db.executeCommand(f"load t from {csv('data.csv', lines)}")
        assert table_rows(db, "t") == sorted(tuple(line.split(",")) for line in lines)
        assert sorted(rows(db, "select b from t where a = 0")) == sorted((str(i),) for i in range(0, 200, 9))
        assert len(rows(db, "select b from t where a >= 4 and a < 8")) == sum(1 for i in range(200) if 4 <= i % 9 < 8)

    def test_config_from_header_only_file(self, db, csv):
        db.executeCommand(f"create table t (a int, b string) config from {csv('empty.csv', [])}")
        db.executeCommand(f"load t from {csv('data.csv', ['1,x'])}")
        assert table_rows(db, "t") == [("1", "x")]


@pytest.mark.parametrize(
    "definition, data, expected, clause",
    [
        # CR LF line ends, also before a quoted last field and after a bool.
        ("id int, s string, b bool", b'id,s,b\r\n1,American Airlines Inc.,true\r\n2,"x,y",0\r\n3,z,1',
         [(1, "American Airlines Inc.", True), (2, "x,y", False), (3, "z", True)], ""),
        ("id int, s string", b'id,s\r\n1,"x,y"\r\n2,plain\r\n', [(1, "x,y"), (2, "plain")], ""),
        # A carriage return anywhere else is data.
        ("id int, s string, t string", b"id,s,t\n1,a\rb,c\r\r\n2,\r,\r\n",
         [(1, "a\rb", "c\r"), (2, "\r", "")], ""),
        # Empty lines, also holding only a CR, are skipped wherever they are.
        ("id int, s string", b"\nid,s\n\n1,a\n\r\n\n2,b\r\n\n\n3,c\n\n", [(1, "a"), (2, "b"), (3, "c")], ""),
        # A doubled quote inside a quoted field stands for one; elsewhere a
        # quote is an ordinary character, and text after a closing quote stays.
        ("id int, s string, t string",
         b'id,s,t\n1,"W. H. ""Bud"" Barron",5" pipe\n2,"""",a"b"\n3,"a,""b"",c",\n4,"",""\n5,a""b,"x"y"z"\n',
         [(1, 'W. H. "Bud" Barron', '5" pipe'), (2, '"', 'a"b"'), (3, 'a,"b",c', ""), (4, "", ""),
          (5, 'a""b', 'xy"z"')], ""),
        # Line breaks inside quotes belong to the value, as the file has them,
        # also in the header; the record's other fields follow on its last line,
        # which may end the file.
        ("id int, s string, t string",
         b'id,"s\nname",t\n1,"two\nlines",x\n2,"crlf\r\n\r\n,""q""\n",y\r\n3,"\n",\n4,"x\n",z',
         [(1, "two\nlines", "x"), (2, 'crlf\r\n\r\n,"q"\n', "y"), (3, "\n", ""), (4, "x\n", "z")], ""),
        # Other separators, by the same rules: quoted fields hold the
        # separator, quotes and line breaks; commas are data.
        ("id int, s string, t string",
         b'id;s;t\n1;"a;b";x,y\n2;"say ""hi"";";\r\n3;"two\nlines;";"\t"\n4;;\n',
         [(1, "a;b", "x,y"), (2, 'say "hi";', ""), (3, "two\nlines;", "\t"), (4, "", "")], "separator ';'"),
        ("id int, s string, t string",
         b'id\ts\tt\n1\t"a\tb"\tx,y;z\n2\t\t"q""\t"\r\n3\t"l1\nl2\t"\tend\n',
         [(1, "a\tb", "x,y;z"), (2, "", 'q"\t'), (3, "l1\nl2\t", "end")], "SEPARATOR '\\t'"),
        ("id int, s string", b'id\ts\n1\t"a\tb"\n2\tc,d\n', [(1, "a\tb"), (2, "c,d")], "Separator '\t'"),
        ("id int, s string, t string", b'id|s|t\n1|"a|b"|c\n2|,|"|"\n3|"x\r\ny"|\n',
         [(1, "a|b", "c"), (2, ",", "|"), (3, "x\r\ny", "")], "separator '|'"),
        ("id int, s string", b'id,s\n1,"a,b"\n', [(1, "a,b")], "separator ','"),
    ],
    ids=["crlf", "crlf quoted last field", "cr as data", "empty lines", "quotes", "line breaks in quotes",
         "semicolon", "tab written as backslash-t", "tab", "pipe", "comma named"],
)
# The same text gzip-compressed, also in members of 5 bytes of text each,
# which cut line ends, quoted fields and doubled quotes.
@pytest.mark.parametrize("packing", ["text", "gzip", "gzip members"])
def test_csv_files_load_as_written(db, tmp_path, definition, data, expected, clause, packing):
    path = tmp_path / "data.csv"
    path.write_bytes({"text": data, "gzip": gzip_members(data), "gzip members": gzip_members(data, 5)}[packing])
    if packing != "text" and WITHOUT_GZIP:
        assert error(db.executeCommand, f"create table t ({definition}) config from '{path}' {clause}") == (
            gzip_outcome(path, None))
        return
    db.executeCommand(f"create table plain ({definition})")
    db.executeCommand(f"create table sampled ({definition}) config from '{path}' {clause}")
    for table in ("plain", "sampled"):
        db.executeCommand(f"load {table} from '{path}' {clause}")
        assert db.executeSelect(f"select * from {table} order by id").fetchAll() == expected
    # The answer as CSV text loads back to the same rows.
    (tmp_path / "again.csv").write_bytes(db.executeSelect("select * from plain").toCSV().encode())
    db.executeCommand(f"create table again ({definition})")
    db.executeCommand(f"load again from '{tmp_path / 'again.csv'}'")
    assert db.executeSelect("select * from again order by id").fetchAll() == expected
    for number, text, *_ in expected:
        quoted = "'" + text.replace("'", "''") + "'"
        assert db.executeSelect(f"select id from plain where s = {quoted}").fetchAll() == [(number,)]


def test_a_file_read_with_another_separator_is_refused_whole(db, tmp_path):
    path = tmp_path / "data.csv"
    path.write_bytes(b"a;b\n1;2\n3;4\n")
    db.executeCommand("create table t (a int, b int)")
    message = error(db.executeCommand, f"load t from '{path}'")
    assert message.startswith(f"Incorrect number of columns in input file {path}, line: 1;2")
    assert error(db.executeCommand, f"create table u (a int, b int) config from '{path}' separator ','") == message
    db.executeCommand(f"load t from '{path}' separator ';'")
    assert table_rows(db, "t") == [("1", "2"), ("3", "4")]
    path.write_bytes(b"a,b\n5,6\n")
    assert error(db.executeCommand, f"load t from '{path}' separator ';'").startswith(
        f"Incorrect number of columns in input file {path}, line: 5,6")
    assert table_rows(db, "t") == [("1", "2"), ("3", "4")]
    assert error(db.executeSelect, "select * from u") == "Table u is not defined"


def zip_archive(text):
    archive = io.BytesIO()
    with zipfile.ZipFile(archive, "w") as out:
        out.writestr("data.csv", text)
    return archive.getvalue()


@pytest.mark.parametrize(
    "data, refused_as",
    [
        (zip_archive("a,b\n1,2\n"), "a zip"),
        (b"PK\x05\x06" + bytes(18), "a zip"),  # an empty archive
        (bz2.compress(b"a,b\n1,2\n"), "a bzip2"),
        (bz2.compress(b""), "a bzip2"),
        (lzma.compress(b"a,b\n1,2\n"), "an xz"),
        (bytes.fromhex("28b52ffd2009450000612c620a312c320a"), "a zstd"),
        (b"PAR1\x15\x04\x15\x10\x15\x14L\x15\x02\x15\x00\x12\x00\x00" + bytes(20) + b"PAR1", "a Parquet"),
        # Text that starts as a signature does, and loads.
        (b"PAR1,PAR2\n1,2\n", None),
        (b"PAR1\t,b\r\n1,2\n", None),
        (b"BZh91AY,x\n1,2\n", None),
        (b"PK,x\n1,2\n", None),
        (b"\x1f,x\n1,2\n", None),
    ],
    ids=["zip", "empty zip", "bzip2", "empty bzip2", "xz", "zstd", "parquet", "PAR1 text", "PAR1 tab text",
         "BZh text", "PK text", "0x1f text"],
)
def test_files_in_other_formats_are_refused_by_their_first_bytes(db, tmp_path, data, refused_as):
    path = tmp_path / "data.csv"
    path.write_bytes(data)
    db.executeCommand("create table t (a int, b int)")
    if refused_as is None:
        db.executeCommand(f"create table s (a int, b int) config from '{path}'")
        db.executeCommand(f"load t from '{path}'")
        assert table_rows(db, "t") == [("1", "2")]
        return
    message = f"File {path} is {refused_as} file, not CSV text"
    assert error(db.executeCommand, f"create table s (a int, b int) config from '{path}'") == message
    assert error(db.executeCommand, f"load t from '{path}'") == message
    assert error(db.executeSelect, "select * from s") == "Table s is not defined"


@pytest.mark.parametrize(
    "members, expected",
    [
        ([b""], []),  # no text at all: no header, no rows
        ([b"h\n"], []),
        ([b"h\n7\n"], [("7",)]),
        # Empty members anywhere; a member may end inside a number.
        ([b"", b"h\n", b"", b"1", b"2\n", b""], [("12",)]),
    ],
    ids=["empty", "header only", "one row", "empty members"],
)
def test_small_gzip_files(db, tmp_path, members, expected):
    path = tmp_path / "data"
    path.write_bytes(b"".join(gzip.compress(member) for member in members))
    if WITHOUT_GZIP:
        assert error(db.executeCommand, f"create table t (a int) config from {path}") == gzip_outcome(path, None)
        return
    db.executeCommand(f"create table t (a int) config from {path}")
    db.executeCommand(f"load t from {path}")
    assert rows(db, "select * from t") == expected


@pytest.mark.skipif(WITHOUT_GZIP, reason="the module was built without gzip support")
def test_large_gzip_file_in_members_loads_whole_or_not_at_all(db, tmp_path):
    # 100,000 rows in members of random sizes, which end at every place in
    # the blocks of compressed data and of text read.
    count = 100000
    text = ("a,b\n" + "".join(f"{i},{'true' if i % 3 else 'false'}\n" for i in range(count))).encode()
    rng = random.Random(5)
    cuts = sorted(rng.sample(range(1, len(text)), 60))
    members = [gzip.compress(text[start:end], compresslevel=rng.choice([1, 6, 9]))
               for start, end in zip([0, *cuts], [*cuts, len(text)])]
    good = tmp_path / "good"
    good.write_bytes(b"".join(members))
    db.executeCommand(f"create table t (a int, b bool) config from {good}")
    db.executeCommand(f"load t from {good}")
    assert db.executeSelect("select a from t order by a").getColumn(0) == list(range(count))
    assert len(db.executeSelect("select a from t where b = false")) == len(range(0, count, 3))
    # Lines are counted in the text: the bad row is line count + 2.
    bad, cut = tmp_path / "bad", tmp_path / "cut"
    bad.write_bytes(good.read_bytes() + gzip.compress(b"7,perhaps\n"))
    cut.write_bytes(good.read_bytes()[:-100])
    for path, message in ((bad, BAD_BOOL.format("perhaps") + f", line {count + 2} of {bad}"),
                          (cut, f"Gzip file {cut} is truncated: its data ends inside a member")):
        assert error(db.executeCommand, f"load t from {path}") == message
        assert len(db.executeSelect("select a from t")) == count


@pytest.mark.parametrize("kind, key, low, high", [
    ("string", "k{:05d}", "k12345", "k12400"),
    ("int", "{}", "12345", "12400"),
    ("double", "{}.5", "12345", "12400"),
])
@pytest.mark.parametrize("order", ["sorted", "reverse", "random", "gap"])
def test_a_level_takes_the_threshold_of_values_in_any_order(db, csv, order, kind, key, low, high):
    count = 40000
    values = list(range(count))
    if order == "reverse":
        values.reverse()
    elif order == "random":
        random.Random(7).shuffle(values)
    elif order == "gap":  # from both ends inwards: each value into the one gap left
        values = [i // 2 if i % 2 == 0 else count - 1 - i // 2 for i in range(count)]
    db.executeCommand(f"create table t (k {kind} cat 1, n int)")
    # Every value twice: the second time it is found, not numbered.
    lines = [f"{key.format(v)},{v}" for v in values]
    repeated = values[:count // 2]
    db.executeCommand(f"load t from {csv('first.csv', lines[:count // 2])}")
    # A load that fails after numbering every other value leaves the first
    # load's numbers, which the same values then join again.
    failing = csv("failing.csv", lines[count // 2:] + [f"{key.format(0)},{2**64}"])
    assert error(db.executeCommand, f"load t from {failing}").startswith(f"Value {2**64} does not fit column n")
    assert db.executeSelect("select n from t order by k").getColumn(0) == sorted(repeated)
    db.executeCommand(f"load t from {csv('data.csv', lines[count // 2:] + lines[:count // 2])}")
    assert len(db.executeSelect("select n from t")) == count + count // 2
    # Sorting and comparing by the level read its numbers: they must follow the values.
    assert db.executeSelect("select n from t order by k").getColumn(0) == sorted(values + repeated)
    twice = set(repeated)
    assert db.executeSelect(f"select n from t where k >= {low} and k < {high} order by k desc").getColumn(0) == [
        v for v in range(12399, 12344, -1) for _ in range(1 + (v in twice))]


class TestDrop:
    def test_names_as_typed(self, db):
        db.executeCommand("create table Sales (a int)")
        assert error(db.executeCommand, "drop table sales") == "Table sales is not defined"
        db.executeCommand("DROP TABLE Sales")
        assert error(db.executeCommand, "drop table Sales") == "Table Sales is not defined"

    def test_dropping_the_first_table_keeps_the_others(self, db, tmp_path, csv):
        for name, width in (("a", 1), ("b", 2), ("c", 3)):
            load_table(db, tmp_path, name, ", ".join(f"{name}{i} int" for i in range(width)), [[7] * width])
        db.executeCommand("drop table a")
        assert error(db.executeSelect, "select * from a") == "Table a is not defined"
        assert rows(db, "select * from b") == [("7", "7")]
        assert rows(db, "select c2 from c") == [("7",)]
        db.executeCommand(f"load c from {csv('more.csv', ['1,2,3'])}")
        assert table_rows(db, "c") == [("1", "2", "3"), ("7", "7", "7")]

    def test_dropped_name_can_be_created_again(self, db, csv):
        db.executeCommand("create table t (a int cat 1)")
        db.executeCommand(f"load t from {csv('one.csv', ['1'])}")
        db.executeCommand("drop table t")
        db.executeCommand("create table t (a string, b int)")
        assert rows(db, "select * from t") == []
        db.executeCommand(f"load t from {csv('two.csv', ['x,2'])}")
        assert table_rows(db, "t") == [("x", "2")]


class TestRebuild:
    """With lines.threshold 50 a table created without tree levels is rebuilt
    as a tree before its 52nd row."""

    @pytest.fixture
    def db(self, tmp_path):
        with settings(tmp_path, "lines.threshold=50\n"):
            yield tabulon.DatabaseParser()

    def test_a_failed_load_that_rebuilt_the_table_changes_nothing(self, db, csv):
        lines = [f"{i % 2},{i}" for i in range(120)]
        db.executeCommand("create table t (a int, b int)")
        db.executeCommand(f"load t from {csv('first.csv', lines[:30])}")
        cursor = db.executeSelect("select * from t")
        assert error(db.executeCommand, f"load t from {csv('bad.csv', lines[30:] + ['1'])}").startswith(
            "Incorrect number of columns")
        assert cursor.fetchAll() == [(i % 2, i) for i in range(30)]
        db.executeCommand(f"load t from {csv('more.csv', lines[30:])}")
        assert table_rows(db, "t") == sorted(tuple(line.split(",")) for line in lines)

    def test_a_row_the_tree_cannot_hold_keeps_the_table_plain(self, db, tmp_path, csv):
        # Plain, the long row takes 1 + 65534 bytes; as a tree its bool
        # becomes a two-byte level number and the row would be too long.
        long_row = "1," + "b" * 65533
        db.executeCommand("create table t (a bool, b string)")
        db.executeCommand(f"load t from {csv('first.csv', [f'{i % 2},{i}' for i in range(40)] + [long_row])}")
        for name in ("second.csv", "third.csv"):
            db.executeCommand(f"load t from {csv(name, [f'{i % 2},{i}' for i in range(30)])}")
        assert len(db.executeSelect("select a from t")) == 101
        assert rows(db, "select b from t where a = 1 and b > bbb") == [(long_row[2:],)]


class TestLevelsGiveWay:
    """A level the table chose itself (sampled by `config from`, or at
    lines.threshold rows) that can number no more values is dropped in the
    middle of the load: the table answers as a fresh one whose only level
    is the other column; a level named with `cat` refuses the value."""

    # A text level numbers at most 40,001 texts, any other 65,534 values;
    # the first file brings 5, the second enough new ones to pass that.
    NEW_VALUES = {"int": 65540, "string": 40010}
    REFUSED = {
        "int": "Unable to add another value to column 1. Column should be setup as non-category., line 65531 of {}",
        "string": "Category exceeds max size of 40000, unable to add value k040001, line 39998 of {}",
    }

    @pytest.fixture
    def db(self, tmp_path):
        with settings(tmp_path, "lines.threshold=50\ncategory.threshold=20\n"):
            yield tabulon.DatabaseParser()

    @staticmethod
    def key(kind, value):
        return str(value) if kind == "int" else f"k{value:06d}"

    def queries(self, kind, table):
        low, high = self.key(kind, 60), self.key(kind, 90)
        return [f"select * from {table} order by id",
                f"select id, k from {table} where g = 1 order by id desc",
                f"select id, g from {table} where k >= {low} and k < {high} order by id",
                f"select id from {table} where k = {self.key(kind, 3)} or (g = 2 and id > 40000) order by id",
                f"select g, k from {table}",
                f"select * from {table} where k > {high}"]

    def answers(self, db, kind, table):
        # Only `order by id` fixes the order of an answer.
        return [result if "order by" in query else sorted(result)
                for query in self.queries(kind, table)
                for result in [db.executeSelect(query).fetchAll()]]

    @pytest.mark.parametrize("kind", ["int", "string"])
    @pytest.mark.parametrize("chosen_by", ["lines.threshold", "config from", "cat"])
    def test_a_full_level_the_table_chose_becomes_plain(self, db, csv, kind, chosen_by):
        key = lambda value: self.key(kind, value)  # noqa: E731
        first = csv("first.csv", [f"{i},{key(i % 5)},{i % 3}" for i in range(100)])
        lines = [f"{100 + i},{key(5 + i)},{i % 3}" for i in range(self.NEW_VALUES[kind])]
        second, bad = csv("second.csv", lines), csv("bad.csv", [*lines, "1,2"])
        third = csv("third.csv", [f"{i},{key(i % 7 * 9000)},{i % 3}" for i in range(200000, 200500)])
        columns = f"id int, k {kind}, g int"
        if chosen_by == "config from":
            db.executeCommand(f"create table t ({columns}) config from {first}")
        else:
            db.executeCommand(f"create table t ({f'id int, k {kind} cat 2, g int cat 1' if chosen_by == 'cat' else columns})")
        db.executeCommand(f"load t from {first}")
        stored = db.executeSelect("select * from t").fetchAll()
        before = db.executeSelect("select * from t")

        # A later bad row undoes the load, the dropped level included.
        refused = self.REFUSED[kind] if chosen_by == "cat" else None
        assert error(db.executeCommand, f"load t from {bad}") == (
            refused.format(bad) if refused
            else f"Incorrect number of columns in input file {bad}, line: 1,2, line {len(lines) + 2} of {bad}")
        assert before.fetchAll() == stored
        assert db.executeSelect("select * from t").fetchAll() == stored

        message = error(db.executeCommand, f"load t from {second}")
        if refused:
            assert message == refused.format(second)
            assert before.fetchAll() == stored
            return
        assert message is None
        db.executeCommand(f"create table fresh (id int, k {kind}, g int cat 1)")
        for path in (first, second):
            db.executeCommand(f"load fresh from {path}")
        assert self.answers(db, kind, "t") == self.answers(db, kind, "fresh")
        for table in ("t", "fresh"):
            db.executeCommand(f"load {table} from {third}")
        assert self.answers(db, kind, "t") == self.answers(db, kind, "fresh")
        assert len(db.executeSelect("select id from t")) == 100 + len(lines) + 500

    @pytest.mark.parametrize("kind", ["int", "string"])
    @pytest.mark.parametrize("chosen_by", ["lines.threshold", "config from"])
    def test_a_level_chosen_during_a_load_gives_way_in_that_load(self, db, csv, kind, chosen_by):
        # One file: 5 values of k in its first 100 rows, then new ones only;
        # the level is chosen as the table passes 50 rows, or by sampling
        # the same file, which sees every value and keeps k plain.
        key = lambda value: self.key(kind, value)  # noqa: E731
        head = csv("head.csv", [f"{i - 30},{key(i % 5)},{i % 3}" for i in range(30)])
        lines = [f"{i},{key(i % 5)},{i % 3}" for i in range(100)]
        lines += [f"{100 + i},{key(5 + i)},{i % 3}" for i in range(self.NEW_VALUES[kind])]
        whole, bad = csv("whole.csv", lines), csv("bad.csv", [*lines, "1,2"])
        config = f" config from {whole}" if chosen_by == "config from" else ""
        db.executeCommand(f"create table t (id int, k {kind}, g int){config}")
        db.executeCommand(f"load t from {head}")
        stored = db.executeSelect("select * from t").fetchAll()
        before = db.executeSelect("select * from t")
        assert error(db.executeCommand, f"load t from {bad}") == (
            f"Incorrect number of columns in input file {bad}, line: 1,2, line {len(lines) + 2} of {bad}")
        assert before.fetchAll() == stored
        db.executeCommand(f"load t from {whole}")
        db.executeCommand(f"create table fresh (id int, k {kind}, g int cat 1)")
        for path in (head, whole):
            db.executeCommand(f"load fresh from {path}")
        assert self.answers(db, kind, "t") == self.answers(db, kind, "fresh")


INTEGER_BOUNDS = {"short": (-2**15, 2**15 - 1), "int": (-2**31, 2**31 - 1), "long": (-2**63, 2**63 - 1)}


@pytest.mark.parametrize("kind", ["plain", "level", "sampled"])
@pytest.mark.parametrize("type_", sorted(INTEGER_BOUNDS))
def test_integers_load_up_to_their_bounds_and_no_further(db, csv, type_, kind):
    low, high = INTEGER_BOUNDS[type_]
    level = " cat 1" if kind == "level" else ""
    good = csv("good.csv", [f"{low},a", f" {high}x,b", "+7,c", ",d", "z,e"])
    config = f" config from {good}" if kind == "sampled" else ""
    db.executeCommand(f"create table t (n {type_}{level}, s string){config}")
    db.executeCommand(f"load t from {good}")
    expected = [(low, "a"), (0, "d"), (0, "e"), (7, "c"), (high, "b")]
    assert db.executeSelect("select n, s from t order by n, s").fetchAll() == expected
    beyond = [str(low - 1), str(high + 1), "99999999999999999999", "-" + "9" * 300 + "abc"]
    for value in beyond:
        bad = csv("bad.csv", ["1,x", f"{value},y"])
        shown = value if len(value) <= 200 else value[:200] + "..."
        shown = shown.replace("abc", "")
        message = f"Value {shown} does not fit column n of type {type_}, line 3 of {bad}"
        assert error(db.executeCommand, f"load t from {bad}") == message
        assert error(db.executeCommand, f"create table u (n {type_}, s string) config from {bad}") == message
    assert db.executeSelect("select n, s from t order by n, s").fetchAll() == expected
    assert error(db.executeSelect, "select * from u") == "Table u is not defined"


BOOLEANS = {"true": True, "True": True, "TRUE": True, "yes": True, "Yes": True, "YES": True, "y": True, "Y": True,
            "1": True, "false": False, "False": False, "FALSE": False, "no": False, "No": False, "NO": False,
            "n": False, "N": False, "0": False}


@pytest.mark.parametrize("level", ["", " cat 1"])
def test_every_boolean_form_in_files_and_constants(db, csv, level):
    db.executeCommand(f"create table t (id int, b bool{level})")
    db.executeCommand(f"load t from {csv('flags.csv', [f'{i},{word}' for i, word in enumerate(BOOLEANS)])}")
    truths = list(BOOLEANS.values())
    for word, truth in BOOLEANS.items():
        expected = [i for i, value in enumerate(truths) if value == truth]
        assert db.executeSelect(f"select id from t where b = {word} order by id").getColumn(0) == expected, word
        assert db.executeSelect(f"select id from t where b != {word}").getColumn(0) != expected, word
    for word in ("yEs", "ye", "nO", "none", "", "t", "f"):
        bad = csv("bad.csv", [f"1,{word}"])
        hint = MISSING_HINT if word == "" else ""
        assert error(db.executeCommand, f"load t from {bad}") == BAD_BOOL.format(word) + hint + f", line 2 of {bad}"
    assert error(db.executeSelect, "select id from t where b = yEs") == BAD_BOOL.format("yEs")


def test_a_row_with_another_number_of_fields_is_named_by_its_line(db, csv):
    db.executeCommand("create table t (a int, b string)")
    short = csv("short.csv", ["1,x", "", "2"])
    assert error(db.executeCommand, f"load t from {short}") == (
        f"Incorrect number of columns in input file {short}, line: 2, line 4 of {short}")
    # A long line is quoted up to its first 200 bytes, never cutting a character in two.
    for line, quoted in ((",".join(["x"] * 100), ",".join(["x"] * 100)),
                         ("3," + "y" * 300 + ",z", "3," + "y" * 198 + "..."),
                         ("4," + "y" * 197 + "\u00e9,z", "4," + "y" * 197 + "..."),
                         ('5,"a\nb",' + "c" * 200, '5,"a\nb",' + "c" * 192 + "...")):
        path = csv("long.csv", ["1,x", line])
        assert error(db.executeCommand, f"load t from {path}") == (
            f"Incorrect number of columns in input file {path}, line: {quoted}, line 3 of {path}")
    assert rows(db, "select * from t") == []
