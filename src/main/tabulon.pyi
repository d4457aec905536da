"""Type information for the tabulon extension module."""

# Every docstring here is the module's own, word for word, so that editors
# show what help() shows; the binding tests hold the two together.

import datetime
import os
from collections.abc import Iterator, Sequence
from types import TracebackType
from typing import Any, Protocol, TypeAlias

# A value of a result cell: long, int and short columns give int, double and
# float columns float, string str, bool bool and date datetime.date; a
# missing value (NULL) gives None.
_Value: TypeAlias = int | float | str | bool | datetime.date | None
_Row: TypeAlias = tuple[_Value, ...]
# A value bound to a ? of a command: the value of a condition, or the file
# name of a load or config from.
_Parameter: TypeAlias = int | float | str | bool | datetime.date | os.PathLike[str] | os.PathLike[bytes] | None

# Rows to load instead of a file: any object with __arrow_c_stream__.
class _ArrowStreamSource(Protocol):
    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object: ...

_CommandParameter: TypeAlias = _Parameter | _ArrowStreamSource

__version__: str

class DatabaseParser:
    """An in-memory database and the engine that runs commands on it.

    DatabaseParser() creates an empty database, reading .tbconfig from the
    working directory if it exists. Every failure raises Error (a
    RuntimeError) or its subclass ParseError, UnknownNameError, LoadError or
    StaleResultError, with a plain English message; the object stays usable
    afterwards. A database
    serves one call at a time, from any thread: commands, queries and bulk
    reads run without the interpreter lock, and a call from another thread
    waits for the running one. close(), or the end of a with block, drops
    every table at once."""

    def __init__(self) -> None: ...
    def executeCommand(self, command: str, /, params: Sequence[_CommandParameter] | None = None) -> None:
        """Runs a CREATE TABLE, LOAD or DROP TABLE statement, all or nothing; any
        other statement, SELECT included, is refused. With params (a sequence)
        every ? outside quotes is a placeholder, filled in order: the file name
        of load ... from ? and config from ?: a str or os.PathLike, or any
        object with __arrow_c_stream__, whose rows are read instead of a file
        (on this thread, with the interpreter held)."""
    def executeSelect(self, command: str, /, params: Sequence[_Parameter] | None = None) -> QuerySet:
        """Runs a SELECT statement and returns a cursor (QuerySet) over its result.
        With params (a sequence) every ? outside quotes is a placeholder for
        the value of a condition, filled in order: an int, float, str, bool or
        datetime.date, converted to the column's type as a written value is;
        a str is taken as it is, quotes and all. None is refused (write is
        null), and so are an Arrow stream and a count of values other than
        the count of ?."""
    def interrupt(self) -> None:
        """Stops the command, query or read running on this database, from any
        thread: it raises RuntimeError "Interrupted" at its next check, within
        milliseconds, and a load is undone. Does nothing when no call is running."""
    def close(self) -> None:
        """Drops every table, freeing its memory now, and closes the database:
        afterwards every call on it and every read of its cursors and Arrow
        streams raises Error "Database is closed". Closing again does nothing."""
    def __enter__(self) -> DatabaseParser:
        """The database itself, for a with block."""
    def __exit__(self, exc_type: type[BaseException] | None, exc_value: BaseException | None,
                 traceback: TracebackType | None, /) -> None:
        """Closes the database at the end of a with block."""

class QuerySet:
    """A cursor over the result of a query.

    Read it cell by cell (setRow, then getString/getInt/getFloat), row by
    row (for row in cursor), all at once (fetchAll, getColumn) or as Arrow
    data (toArrow, toPandas, toPolars, or any library that reads the Arrow
    PyCapsule interface: pyarrow.table(cursor), polars.DataFrame(cursor),
    duckdb.sql("select ... from cursor")). Values come as int (long, int,
    short), float (double, float), str (string), bool (bool) and
    datetime.date (date), a missing value (NULL) as None; invalid UTF-8 in
    stored text is replaced by U+FFFD. Copies share one current row. Once a
    table behind the result is loaded into or dropped, every read raises
    RuntimeError "Query result is no longer valid: table NAME has changed";
    len() and the column names stay available. Once its database is closed,
    every read, len() included, raises Error "Database is closed".
    QuerySet() makes an empty cursor: no result, no rows, no columns."""

    def __init__(self) -> None: ...
    def getString(self, col: int, /) -> str | None:
        """Text of selected column col in the current row, for every column type;
        None for a missing value (NULL)."""
    def getFloat(self, col: int, /) -> float | None:
        """Numeric column col of the current row as a float; None for a NULL."""
    def getInt(self, col: int, /) -> int | None:
        """Numeric column col of the current row as an int; floating-point values
        are truncated toward zero. None for a NULL."""
    def getNumberOfRows(self) -> int:
        """Rows in the result."""
    def getNumberOfCols(self) -> int:
        """Selected columns in the result."""
    def setRow(self, row: int, /) -> None:
        """Makes row (from 0, in result order) the current row."""
    def __len__(self) -> int:
        """Rows in the result, as getNumberOfRows()."""
    def __iter__(self) -> QuerySetIterator:
        """Iterates over the rows in result order, each a tuple of typed values.
        Every iteration starts at the first row; the current row is not moved."""
    def fetchAll(self) -> list[_Row]:
        """Every row as a tuple of typed values, in result order, built in one call.
        The current row is not moved."""
    def getColumn(self, col: int, /) -> list[_Value]:
        """Selected column col of every row, in result order, built in one call.
        The current row is not moved."""
    def getColumnNames(self) -> list[str]:
        """Names of the selected columns, in select order."""
    def toCSV(self) -> str:
        """The result as CSV text: a header line with the column names, then one
        line per row with values in their text form, double and float values
        in the shortest text that reads back as the same value; a value
        holding a comma, a double quote or a line break is put in double
        quotes, its double quotes doubled. A NULL is an empty field, the empty
        text "". The current row is not moved."""
    def __repr__(self) -> str:
        """Shape and column names of the result; reads no rows."""
    def _repr_html_(self) -> str:
        """The first 20 rows as an HTML table, text escaped, for notebooks; a NULL
        is an empty cell of class "null"."""
    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object:
        """The rows as an Arrow C stream of record batches, in result order, in a
        PyCapsule named "arrow_array_stream" (the Arrow PyCapsule interface).
        Types: long, int, short as int64, int32, int16; double, float as
        float64, float32; bool as boolean; date as date32; string as utf8, with
        invalid UTF-8 replaced by U+FFFD; a NULL is null. requested_schema is
        accepted and not followed. The stream shares the result; once a table
        behind it is loaded into or dropped, its next batch fails with "Query
        result is no longer valid: table NAME has changed", once the database
        is closed with "Database is closed". The current row is not moved."""
    def __arrow_c_schema__(self) -> object:
        """The result's schema (a struct with one field per column) in a PyCapsule
        named "arrow_schema" (the Arrow PyCapsule interface)."""
    # The libraries are optional and imported when called, so their types
    # are not named here: toArrow gives a pyarrow.Table, toPandas a
    # pandas.DataFrame, toPolars a polars.DataFrame.
    def toArrow(self) -> Any:
        """The result as a pyarrow.Table, read through the Arrow C stream.
        Needs pyarrow; raises ImportError naming it when it is not installed."""
    def toPandas(self) -> Any:
        """The result as a pandas.DataFrame, by way of toArrow(); date columns
        hold datetime.date objects, integer columns with a NULL int objects and
        None. Needs pandas and pyarrow; raises ImportError naming the one that
        is not installed."""
    def toPolars(self) -> Any:
        """The result as a polars.DataFrame, read through the Arrow C stream.
        Needs polars (not pyarrow); raises ImportError naming it when it is not
        installed."""

class QuerySetIterator(Iterator[_Row]):
    """Iterator over the rows of a QuerySet, made by iter(cursor); yields one
    tuple of typed values per row."""

    def __iter__(self) -> QuerySetIterator:
        """The iterator itself."""
    def __next__(self) -> _Row:
        """The next row; StopIteration after the last."""

class Error(RuntimeError):
    """Every failure tabulon reports; a RuntimeError, so that code catching
    RuntimeError catches it."""

class ParseError(Error):
    """A command that is no valid statement: a word out of place, an unknown
    operator, brackets that do not pair up, a ? where no value stands, or
    parameters that do not fill its placeholders."""

class UnknownNameError(Error):
    """A table or a column that does not exist."""

class LoadError(Error):
    """A file that cannot be read or loaded, or a value (in a file, written
    in a command or given as a parameter) that its column's type cannot
    hold."""

class StaleResultError(Error):
    """A query result read after a table behind it was loaded into or
    dropped."""
