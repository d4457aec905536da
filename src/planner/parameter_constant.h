#pragma once

// parameterConstant: the constant a parameter gives a where condition.

#include <string>

#include "parser/parameter_value.h"
#include "storage/data_type.h"

// The constant text that parameter `number` (from 0) stands for in a
// comparison with column `column` of type `type`, for the condition factory
// to read by the rules of a written constant, so that a parameter and the
// same value written in the command compare alike. Integers are written in
// decimal, floating-point numbers in the shortest text that reads back as
// the same number, booleans as 1 and 0, dates as YYYY-MM-DD; text stays as
// it is. Throws DatabaseException for None, which no comparison matches, and
// for a value the column's type cannot compare with (a date with a number
// or a boolean, NaN with an integer).
std::string parameterConstant(const ParameterValue& value, unsigned short number, const std::string& column,
                              DATA_TYPE type);
