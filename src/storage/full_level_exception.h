#pragma once

#include <string>

#include "errors/database_exception.h"

// A new value that a category map can give no number: the map holds as
// many values as it can. A map throws it naming no column; TreeTable::addRow
// passes it on naming the column whose level is full, so that the owner of
// the table may drop that level and add the row again.
class FullLevelException : public DatabaseException {
 public:
  static constexpr unsigned short kNoColumn = 65535;

  FullLevelException(unsigned short fullColumn, const std::string& message)
      : DatabaseException("%s", message.c_str()), column(fullColumn) {}

  unsigned short column;  // column of the full level, kNoColumn from a map
};
