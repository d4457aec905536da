#include <memory>
#include <string>
#include <vector>

#include "catalogue/database.h"
#include "errors/database_exception.h"
#include "parser/grammar_elements.h"
#include "parserengine/parser_engine.h"
#include "query/condition.h"

namespace {

// The one column of `table` named `column`.
TableCol findSingleColumn(Database& database, const std::string& table,
                          const std::string& column) {
  if (database.findColumn(table, column) != 1) {
    throw DatabaseException("Column %s is not defined for table %s", column.c_str(),
                            table.c_str());
  }
  return database.results.front();
}

ConditionType conditionType(const std::string& text) {
  static const struct {
    const char* text;
    ConditionType type;
  } kOperators[] = {{"=", EQ}, {"!=", NE}, {"<", LT}, {">", GT}, {"<=", LE}, {">=", GE}};
  for (const auto& entry : kOperators) {
    if (text == entry.text) {
      return entry.type;
    }
  }
  throw DatabaseException("Unsupported select condition operator %s", text.c_str());
}

}  // namespace

std::unique_ptr<ResultSet> ParserEngine::executeSelect() {
  const std::string tableName = selectParser_.tableName->value;
  if (tableName.empty()) {
    throw DatabaseException("Empty table name in the select query");
  }
  const unsigned short tableNumber = database_.getTableNumber(tableName);
  const auto& columns = selectParser_.columnList->elements;
  if (columns.empty()) {
    throw DatabaseException("Zero columns identified in select statement");
  }

  std::vector<std::string> headerNames;
  for (const std::unique_ptr<Parser>& element : columns) {
    const std::string& name = elementText(*element, COL_NAME);
    if (name != "*") {
      factory_.selectCols.push_back(findSingleColumn(database_, tableName, name));
      headerNames.push_back(name);
      continue;
    }
    database_.findAllByTableName(tableName);
    const std::vector<TableCol> all = database_.results;
    for (const TableCol& column : all) {
      factory_.selectCols.push_back(column);
      headerNames.push_back(database_.getColName(tableNumber, column.column));
    }
  }

  // Where clause: a condition's level is the number of brackets open around
  // it; it also passes how many of them it opens itself, so that adjacent
  // groups such as "(a or b) and (c or d)" stay apart.
  const auto& conditions = selectParser_.conditionList->elements;
  const std::vector<std::string>& connectors = selectParser_.conditionList->separatorsFound;
  unsigned int depth = 0;
  for (size_t i = 0; i < conditions.size(); ++i) {
    Parser& element = *conditions[i];
    const unsigned short opens = elementCount(element, COND_OPEN_BRACKETS);
    depth += opens;
    BoolOperator op = NONE;
    if (i + 1 < conditions.size()) {
      op = connectors.at(i) == "or" ? OR : AND;
    }
    const TableCol column = findSingleColumn(database_, tableName, elementText(element, COND_COLUMN));
    const ConditionType type = conditionType(elementText(element, COND_OPERATOR));
    factory_.addCondition(column, type, elementText(element, COND_VALUE),
                          static_cast<unsigned short>(depth), op, opens);
    const unsigned short closes = elementCount(element, COND_CLOSE_BRACKETS);
    if (closes > depth) {
      throw DatabaseException("Invalid boolean expression - unmatched brackets");
    }
    depth -= closes;
  }

  for (const std::unique_ptr<Parser>& element : selectParser_.sortList->elements) {
    const TableCol column =
        findSingleColumn(database_, tableName, elementText(*element, SORT_COLUMN));
    factory_.addComparator(column, elementMatched(*element, SORT_DESC));
  }

  factory_.mainTable = tableNumber;
  factory_.setHeader(headerNames);
  return factory_.createResultSet();
}

std::unique_ptr<ResultSet> ParserEngine::executeJoinedSelect() {
  throw DatabaseException("JOIN is not implemented yet");
}
