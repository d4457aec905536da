#pragma once

#include <string>
#include <string_view>

// Appends one CSV field to `line` as RFC 4180 writes it, so that the CSV
// reader gives the value back: in double quotes when it holds a comma, a
// double quote or a line break, its double quotes doubled; the empty text
// as "", since an unquoted empty field is a NULL (which the caller writes
// by appending nothing); as it stands otherwise.
inline void appendCsvField(std::string& line, std::string_view value) {
  if (value.empty()) {
    line += "\"\"";
    return;
  }
  if (value.find_first_of(",\"\r\n") == std::string_view::npos) {
    line += value;
    return;
  }
  line += '"';
  for (const char c : value) {
    if (c == '"') line += '"';
    line += c;
  }
  line += '"';
}
