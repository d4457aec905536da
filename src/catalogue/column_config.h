#pragma once

#include <string>

#include "storage/data_type.h"

// The category number of a column that is not categorised.
inline constexpr unsigned short NO_CATEGORY = 65535;

// One column definition of a CREATE TABLE statement. The category number
// orders the categorised columns (smaller numbers are nearer the tree's
// root); the numbers need not be consecutive but must differ within a table.
// Only a column declared nullable can hold NULL (a missing value).
struct ColumnConfig {
  std::string name;                       // as typed, letter case kept
  unsigned short category = NO_CATEGORY;  // requested tree level, NO_CATEGORY for none
  DATA_TYPE type = LONG;
  bool nullable = false;                  // declared with `null`: may hold missing values
};
