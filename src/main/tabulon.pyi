"""Type information for the tabulon extension module."""

import datetime
from collections.abc import Iterator
from typing import Any, TypeAlias

# A value of a result cell: long, int and short columns give int, double and
# float columns float, string str, bool bool and date datetime.date.
_Value: TypeAlias = int | float | str | bool | datetime.date
_Row: TypeAlias = tuple[_Value, ...]

__version__: str

class DatabaseParser:
    """An in-memory database and the engine that runs commands on it."""

    def __init__(self) -> None: ...
    def executeCommand(self, command: str, /) -> None:
        """Runs a CREATE TABLE, LOAD or DROP TABLE statement."""
    def executeSelect(self, command: str, /) -> QuerySet:
        """Runs a SELECT statement and returns a cursor over its result."""

class QuerySet:
    """A cursor over the result of a query."""

    def __init__(self) -> None: ...
    def getString(self, col: int, /) -> str:
        """Text of selected column col in the current row."""
    def getFloat(self, col: int, /) -> float:
        """Numeric column col of the current row as a float."""
    def getInt(self, col: int, /) -> int:
        """Numeric column col of the current row as an int."""
    def getNumberOfRows(self) -> int:
        """Rows in the result."""
    def getNumberOfCols(self) -> int:
        """Selected columns in the result."""
    def setRow(self, row: int, /) -> None:
        """Makes row (from 0, in result order) the current row."""
    def __len__(self) -> int: ...
    def __iter__(self) -> QuerySetIterator: ...
    def fetchAll(self) -> list[_Row]:
        """Every row as a tuple of typed values, in result order."""
    def getColumn(self, col: int, /) -> list[_Value]:
        """Selected column col of every row, in result order."""
    def getColumnNames(self) -> list[str]:
        """Names of the selected columns, in select order."""
    def toCSV(self) -> str:
        """The result as CSV text: a header line, then one line per row."""
    def _repr_html_(self) -> str:
        """The first 20 rows as an HTML table."""
    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object:
        """The rows as an Arrow C stream in a PyCapsule named "arrow_array_stream"."""
    def __arrow_c_schema__(self) -> object:
        """The result's schema in a PyCapsule named "arrow_schema"."""
    # The libraries are optional and imported when called, so their types
    # are not named here: toArrow gives a pyarrow.Table, toPandas a
    # pandas.DataFrame, toPolars a polars.DataFrame.
    def toArrow(self) -> Any:
        """The result as a pyarrow.Table."""
    def toPandas(self) -> Any:
        """The result as a pandas.DataFrame (needs pandas and pyarrow)."""
    def toPolars(self) -> Any:
        """The result as a polars.DataFrame."""

class QuerySetIterator(Iterator[_Row]):
    """Iterator over the rows of a QuerySet, made by iter(cursor)."""

    def __iter__(self) -> QuerySetIterator: ...
    def __next__(self) -> _Row: ...
