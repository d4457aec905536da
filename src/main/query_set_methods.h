#pragma once

#include <nanobind/nanobind.h>

#include <cstdint>

#include "main/row_iterator.h"
#include "query/query_set.h"

// The Python-only methods of QuerySet, written on top of the native cursor.
// Each makes its own PythonCall: fetchAll, getColumn and toCSV work without
// the interpreter, making Python objects with it; the others keep it.
// Failures are thrown: DatabaseException from the cursor,
// nanobind::python_error when Python cannot build an object.
// A cursor without a result reads as zero rows and zero columns. Methods
// that read rows check the cursor once per call, like a row read, and leave
// its current row as it was. Text is decoded as UTF-8 with U+FFFD replacing
// invalid bytes.

// Rows shown by the HTML rendering.
inline constexpr uint32_t kHtmlRows = 20;

// Every row as a tuple of typed values, in result order.
nanobind::object fetchAll(const QuerySet& cursor);
// Selected column `col` of every row as a list of typed values.
nanobind::object getColumn(const QuerySet& cursor, unsigned short col);
// A new QuerySetIterator over the rows, starting at the first.
nanobind::object iterateRows(const QuerySet& cursor);
// The iterator's next row; an invalid object (no error set) after the last.
nanobind::object nextRow(RowIterator& iterator);
// The selected column names as a list of str.
nanobind::list getColumnNames(const QuerySet& cursor);
// The result as CSV text: a header line, then one line per row.
nanobind::object toCSV(const QuerySet& cursor);
// "<tabulon.QuerySet: R rows x C columns (name, ...)>"; reads no rows.
nanobind::object reprQuerySet(const QuerySet& cursor);
// The first rows (at most kHtmlRows) as an HTML table with escaped text; a
// NULL is an empty cell of class "null", told apart from an empty text.
nanobind::object reprHtml(const QuerySet& cursor);
