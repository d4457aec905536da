#pragma once

// createCondition: the predicate of one where condition on the stored form
// of its column.

#include <memory>
#include <string>

#include "query/condition.h"

class TableConfig;

// The condition testing `column` of `table` against the constant text, on
// the form in which the table's rows hold the column: a category number for
// a categorised column, the stored value for a plain one (IS_NULL and
// NOT_NULL ignore the text). A comparison is false for a NULL. The caller
// owns the condition; it refers to nothing of the table. Throws
// "Unsupported condition type" for a type outside ConditionType, and the
// conversion's DatabaseException for a constant the column's type cannot
// hold.
std::unique_ptr<Condition> createCondition(const TableConfig& table, unsigned short column, ConditionType type,
                                           const std::string& value);
