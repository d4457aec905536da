// The QuerySet methods only Python has (fetchAll, getColumn, iteration, names,
// CSV, repr, HTML), built on the native cursor and RowConverter.

#include "main/query_set_methods.h"

#include <algorithm>
#include <string>
#include <vector>

#include "main/python_call.h"
#include "main/row_converter.h"
#include "storage/buffer.h"

namespace nb = nanobind;

namespace {

nb::object decodeText(const char* text, size_t length) {
  PyObject* decoded = PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(length), "replace");
  if (decoded == nullptr) throw nb::python_error();
  return nb::steal(decoded);
}

nb::object decodeText(const std::string& text) { return decodeText(text.data(), text.size()); }

// The selected column names; the header joins them with NUL, which no
// name can hold.
std::vector<std::string> columnNames(const QuerySet& cursor) {
  std::vector<std::string> names;
  const unsigned short columns = cursor.getNumberOfCols();
  const std::string header = cursor.getHeader(std::string(1, '\0'));
  size_t start = 0;
  for (unsigned short col = 0; col < columns && start <= header.size(); ++col) {
    size_t end = header.find('\0', start);
    if (end == std::string::npos) end = header.size();
    names.push_back(header.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

std::string counted(uint32_t count, const char* noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// Appends `text` with the characters that are special in HTML escaped.
void appendEscaped(std::string& out, const std::string& text) {
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#x27;";
        break;
      default:
        out += c;
    }
  }
}

void appendCell(std::string& out, const char* tag, const std::string& text) {
  out += '<';
  out += tag;
  out += '>';
  appendEscaped(out, text);
  out += "</";
  out += tag;
  out += '>';
}

}  // namespace

nb::object fetchAll(const QuerySet& cursor) {
  if (cursor.empty()) return nb::list();
  PythonCall call(cursor.lock(), PythonCall::Interpreter::kKeep);
  return nb::steal(RowConverter(cursor).allRows(call));
}

nb::object getColumn(const QuerySet& cursor, unsigned short col) {
  PythonCall call(cursor.lock(), PythonCall::Interpreter::kKeep);
  return nb::steal(RowConverter(cursor).column(col, call));
}

nb::object iterateRows(const QuerySet& cursor) {
  const PythonCall call(cursor.lock(), PythonCall::Interpreter::kKeep);
  // Made in place: the iterator can be neither copied nor moved.
  nb::object iterator = nb::inst_alloc(nb::type<RowIterator>());
  new (nb::inst_ptr<RowIterator>(iterator)) RowIterator(cursor);
  nb::inst_mark_ready(iterator);
  return iterator;
}

nb::object nextRow(RowIterator& iterator) {
  PyObject* row = nullptr;
  {
    const PythonCall call(iterator.lock(), PythonCall::Interpreter::kKeep);
    row = iterator.next();
  }
  return nb::steal(row);
}

nb::list getColumnNames(const QuerySet& cursor) {
  std::vector<std::string> names;
  {
    const PythonCall call(cursor.lock(), PythonCall::Interpreter::kKeep);
    names = columnNames(cursor);
  }
  nb::list list;
  for (const std::string& name : names) {
    list.append(decodeText(name));
  }
  return list;
}

nb::object toCSV(const QuerySet& cursor) {
  if (cursor.empty()) return decodeText("", 0);
  Buffer out;
  {
    const PythonCall call(cursor.lock(), PythonCall::Interpreter::kRelease);
    cursor.populateCSV(out);
  }
  // The text ends with a NUL that is not part of it.
  return decodeText(out.start(), out.used() - 1);
}

nb::object reprQuerySet(const QuerySet& cursor) {
  if (cursor.empty()) return decodeText(std::string("<tabulon.QuerySet: no result>"));
  if (cursor.closed()) return decodeText(std::string("<tabulon.QuerySet: database closed>"));
  std::string text;
  {
    const PythonCall call(cursor.lock(), PythonCall::Interpreter::kKeep);
    text = "<tabulon.QuerySet: " + counted(cursor.getNumberOfRows(), "row") + " x " +
           counted(cursor.getNumberOfCols(), "column") + " (";
    const std::vector<std::string> names = columnNames(cursor);
    for (size_t col = 0; col < names.size(); ++col) {
      if (col > 0) text += ", ";
      text += names[col];
    }
  }
  text += ")>";
  return decodeText(text);
}

nb::object reprHtml(const QuerySet& cursor) {
  const PythonCall call(cursor.lock(), PythonCall::Interpreter::kKeep);
  const std::vector<std::string> names = columnNames(cursor);
  const uint32_t rows = cursor.getNumberOfRows();
  const uint32_t shown = std::min(rows, kHtmlRows);
  std::string html = "<table>\n<thead><tr>";
  for (const std::string& name : names) appendCell(html, "th", name);
  html += "</tr></thead>\n<tbody>\n";
  if (!cursor.empty()) {
    cursor.readRows(0, shown, [&](const QuerySet::Row& row) {
      html += "<tr>";
      for (size_t col = 0; col < names.size(); ++col) {
        const auto k = static_cast<unsigned short>(col);
        if (row.value(k) == nullptr) {
          html += "<td class=\"null\"></td>";
        } else {
          appendCell(html, "td", row.text(k));
        }
      }
      html += "</tr>\n";
    });
  }
  if (shown < rows) {
    html += "<tr><td colspan=\"" + std::to_string(names.size()) + "\">&hellip;</td></tr>\n";
  }
  html += "</tbody>\n</table>\n<p>" + counted(rows, "row") + " x " +
          counted(static_cast<uint32_t>(names.size()), "column") + "</p>\n";
  return decodeText(html);
}
