// The SELECT half of ParserEngine: resolves the recorded names to table and
// column numbers for the factory; in a join the main table's columns win.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/database.h"
#include "errors/database_exception.h"
#include "parser/grammar_elements.h"
#include "parserengine/parser_engine.h"
#include "query/condition.h"
#include "query/result_set_factory.h"

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

// The condition as written: column, operator, "not" when given, value.
std::string conditionText(Parser& element) {
  return elementText(element, COND_COLUMN) + " " + elementText(element, COND_OPERATOR) +
         (elementMatched(element, COND_NOT) ? " not " : " ") + elementText(element, COND_VALUE);
}

// The comparison of a condition element; "is null" and "is not null" in
// any letter case.
ConditionType conditionType(Parser& element) {
  const std::string& text = elementText(element, COND_OPERATOR);
  if (toLower(text) == "is") {
    if (toLower(elementText(element, COND_VALUE)) != "null") {
      throw DatabaseException("Unsupported condition %s: only null can follow is or is not",
                              conditionText(element).c_str());
    }
    return elementMatched(element, COND_NOT) ? NOT_NULL : IS_NULL;
  }
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

// Most columns a result can have: result columns are numbered in 16 bits.
constexpr size_t kMaxResultColumns = 65535;

// Appends the name of one more selected column, refusing a select list
// (with its "*" expanded) that a result cannot number.
void addHeaderName(std::vector<std::string>& names, const std::string& name) {
  if (names.size() == kMaxResultColumns) {
    throw DatabaseException("Select list has more than %d columns", static_cast<int>(kMaxResultColumns));
  }
  names.push_back(name);
}

// Finds the column a name in a where or order clause means.
using ColumnResolver = std::function<TableCol(const std::string& name)>;

// Adds the where clause's conditions to the factory. A condition's level is
// the number of brackets open around it; it also passes how many of them it
// opens itself, so that adjacent groups such as "(a or b) and (c or d)" stay
// apart.
void addWhereClause(const SelectParser& grammar, ResultSetFactory& factory,
                    const ColumnResolver& resolve) {
  const auto& conditions = grammar.conditionList->elements;
  const std::vector<std::string>& connectors = grammar.conditionList->separatorsFound;
  unsigned int depth = 0;
  for (size_t i = 0; i < conditions.size(); ++i) {
    Parser& element = *conditions[i];
    const unsigned short opens = elementCount(element, COND_OPEN_BRACKETS);
    depth += opens;
    BoolOperator op = NONE;
    if (i + 1 < conditions.size()) {
      op = connectors.at(i) == "or" ? OR : AND;
    }
    const TableCol column = resolve(elementText(element, COND_COLUMN));
    const ConditionType type = conditionType(element);
    factory.addCondition(column, type, elementText(element, COND_VALUE),
                         static_cast<unsigned short>(depth), op, opens);
    const unsigned short closes = elementCount(element, COND_CLOSE_BRACKETS);
    if (closes > depth) {
      throw DatabaseException("Missing '(' in the where clause: a ')' after %s closes no bracket",
                              conditionText(element).c_str());
    }
    depth -= closes;
  }
  if (depth != 0) {
    throw DatabaseException("Missing ')' in the where clause: %d bracket(s) opened and not closed",
                            static_cast<int>(depth));
  }
}

void addOrderClause(const SelectParser& grammar, ResultSetFactory& factory,
                    const ColumnResolver& resolve) {
  for (const std::unique_ptr<Parser>& element : grammar.sortList->elements) {
    factory.addComparator(resolve(elementText(*element, SORT_COLUMN)),
                          elementMatched(*element, SORT_DESC));
  }
}

// Resolves names in a joined query: the main table first, then the joined
// table, so a name both tables have means the main table's column.
class JoinedNames {
 public:
  JoinedNames(Database& database, std::string mainTable, unsigned short mainNumber,
              std::string joinedTable)
      : database_(database),
        main_(std::move(mainTable)),
        mainNumber_(mainNumber),
        joined_(std::move(joinedTable)) {}

  // A selected or sorted column: any match counts.
  TableCol anyMatch(const std::string& name) const { return find(name, false); }
  // A conditioned column: only a single match counts.
  TableCol singleMatch(const std::string& name) const { return find(name, true); }
  // Whether the column belongs to the joined table rather than the main one.
  bool isJoined(TableCol column) const { return column.table != mainNumber_; }

 private:
  bool counts(size_t found, bool single) const { return single ? found == 1 : found != 0; }

  TableCol find(const std::string& name, bool single) const {
    if (counts(database_.findColumn(main_, name), single) ||
        counts(database_.findColumn(joined_, name), single)) {
      return database_.results.front();
    }
    throw DatabaseException("Column %s is not defined", name.c_str());
  }

  Database& database_;
  const std::string main_;
  const unsigned short mainNumber_;
  const std::string joined_;
};

// The one column of `table` named `column`, for the join clause.
TableCol joinColumn(Database& database, const std::string& table, const std::string& column) {
  if (database.findColumn(table, column) != 1) {
    throw DatabaseException("Column %s is not defined", column.c_str());
  }
  return database.results.front();
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
      const TableCol column = findSingleColumn(database_, tableName, name);
      addHeaderName(headerNames, name);
      factory_.selectCols.push_back(column);
      continue;
    }
    database_.findAllByTableName(tableName);
    const std::vector<TableCol> all = database_.results;
    for (const TableCol& column : all) {
      addHeaderName(headerNames, database_.getColName(tableNumber, column.column));
      factory_.selectCols.push_back(column);
    }
  }

  const ColumnResolver inTable = [&](const std::string& name) {
    return findSingleColumn(database_, tableName, name);
  };
  addWhereClause(selectParser_, factory_, inTable);
  addOrderClause(selectParser_, factory_, inTable);

  factory_.mainTable = tableNumber;
  factory_.setHeader(headerNames);
  return factory_.createResultSet();
}

std::unique_ptr<ResultSet> ParserEngine::executeJoinedSelect() {
  const std::string tableName = selectParser_.tableName->value;
  if (tableName.empty()) {
    throw DatabaseException("Empty table name in the select query");
  }
  factory_.mainTable = database_.getTableNumber(tableName);
  const auto& joinElements = selectParser_.joinList->elements;
  if (joinElements.size() != 1) {
    throw DatabaseException("Only 1 join condition allowed");
  }
  Parser& join = *joinElements.front();
  const std::string joinedName = elementText(join, JOIN_TABLE);
  const TableCol joinedColumn =
      joinColumn(database_, joinedName, elementText(join, JOIN_SECOND_COLUMN));
  const TableCol mainColumn =
      joinColumn(database_, tableName, elementText(join, JOIN_FIRST_COLUMN));
  factory_.joins.emplace_back(mainColumn, joinedColumn);

  const auto& columns = selectParser_.columnList->elements;
  if (columns.empty()) {
    throw DatabaseException("Select statement contains 0 columns");
  }
  const JoinedNames names(database_, tableName, factory_.mainTable, joinedName);
  std::vector<std::string> headerNames;
  for (const std::unique_ptr<Parser>& element : columns) {
    const std::string& name = elementText(*element, COL_NAME);
    if (name != "*") {
      const TableCol column = names.anyMatch(name);
      addHeaderName(headerNames, database_.getColName(column));
      factory_.addJoinedSelectCol(column, names.isJoined(column));
      continue;
    }
    // Both halves are listed by table name, so a table joined with itself
    // shows its columns once per side.
    for (const bool joinedSide : {false, true}) {
      database_.findAllByTableName(joinedSide ? joinedName : tableName);
      const std::vector<TableCol> all = database_.results;
      for (const TableCol& column : all) {
        addHeaderName(headerNames, database_.getColName(column));
        factory_.addJoinedSelectCol(column, joinedSide);
      }
    }
  }
  factory_.setHeader(headerNames);

  addWhereClause(selectParser_, factory_,
                 [&](const std::string& name) { return names.singleMatch(name); });
  addOrderClause(selectParser_, factory_,
                 [&](const std::string& name) { return names.anyMatch(name); });
  return factory_.createResultSet();
}
