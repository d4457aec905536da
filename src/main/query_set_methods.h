#pragma once

#include <boost/python.hpp>

#include <cstdint>
#include <memory>

#include "main/row_iterator.h"
#include "query/query_set.h"

// The Python-only methods of QuerySet, written on top of the native cursor.
// A cursor without a result reads as zero rows and zero columns. Methods
// that read rows check the cursor once per call, like a row read, and leave
// its current row as it was. Text is decoded as UTF-8 with U+FFFD replacing
// invalid bytes.

// Rows shown by the HTML rendering.
inline constexpr uint32_t kHtmlRows = 20;

// The text of selected column `col` in the current row.
boost::python::object getString(const QuerySet& cursor, unsigned short col);
// Every row as a tuple of typed values, in result order.
boost::python::object fetchAll(const QuerySet& cursor);
// Selected column `col` of every row as a list of typed values.
boost::python::object getColumn(const QuerySet& cursor, unsigned short col);
// A new iterator over the rows, starting at the first.
std::shared_ptr<RowIterator> iterateRows(const QuerySet& cursor);
// Next row of `iterator`; raises StopIteration after the last.
boost::python::object nextRow(RowIterator& iterator);
// The selected column names as a list of str.
boost::python::list getColumnNames(const QuerySet& cursor);
// The result as CSV text: a header line, then one line per row.
boost::python::object toCSV(const QuerySet& cursor);
// "<tabulon.QuerySet: R rows x C columns (name, ...)>"; reads no rows.
boost::python::object reprQuerySet(const QuerySet& cursor);
// The first rows (at most kHtmlRows) as an HTML table with escaped text.
boost::python::object reprHtml(const QuerySet& cursor);
