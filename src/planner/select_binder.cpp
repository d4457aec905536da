// SelectBinder: the lookup rules of SELECT names, the select list's
// expansion and the where clause's predicates, in written order.

#include "planner/select_binder.h"

#include <optional>
#include <utility>

#include "catalogue/database.h"
#include "errors/database_exception.h"
#include "parser/parser.h"
#include "planner/parameter_constant.h"
#include "query/condition_factory.h"
#include "storage/tree_table.h"

namespace {

// Most columns a result can have: result columns are numbered in 16 bits.
constexpr size_t kMaxResultColumns = 65535;

// The column part of `name` when it is written `table.column`.
std::optional<std::string> qualifiedBy(const std::string& name, const std::string& table) {
  if (name.size() <= table.size() + 1 || name[table.size()] != '.' || name.compare(0, table.size(), table) != 0) {
    return std::nullopt;
  }
  return name.substr(table.size() + 1);
}

// The comparison of a condition; "is null" and "is not null" in any letter
// case.
ConditionType conditionType(const WrittenCondition& condition) {
  const std::string& text = condition.op;
  if (toLower(text) == "is") {
    if (toLower(condition.value) != "null") {
      throw DatabaseException(ErrorKind::kParse, "Unsupported condition %s: only null can follow is or is not",
                              condition.text().c_str());
    }
    return condition.negated ? NOT_NULL : IS_NULL;
  }
  static const struct {
    const char* text;
    ConditionType type;
  } kOperators[] = {{"=", EQ}, {"!=", NE}, {"<", LT}, {">", GT}, {"<=", LE}, {">=", GE}};
  for (const auto& entry : kOperators) {
    if (text == entry.text) return entry.type;
  }
  throw DatabaseException(ErrorKind::kParse, "Unsupported select condition operator %s", text.c_str());
}

}  // namespace

SelectBinder::SelectBinder(Database& database) : database_(database) {}

BoundSelect SelectBinder::bind(const SelectStatement& statement, const Parameters& parameters) {
  if (statement.table.empty()) throw DatabaseException(ErrorKind::kParse, "Empty table name in the select query");
  scope_ = Scope{statement.table, database_.getTableNumber(statement.table), {}};
  BoundSelect bound;
  bound.mainTable = scope_.main;
  if (!statement.joins.empty()) bindJoin(statement, bound);
  bindSelectList(statement, bound);
  bindWhere(statement.where, parameters, bound);
  for (const SortKey& key : statement.sortKeys) bound.sortKeys.push_back({column(key.column), key.descending});
  return bound;
}

void SelectBinder::bindJoin(const SelectStatement& statement, BoundSelect& bound) {
  if (statement.joins.size() != 1) throw DatabaseException(ErrorKind::kParse, "Only 1 join condition allowed");
  const JoinClause& join = statement.joins.front();
  database_.getTableNumber(join.table);  // refuses a table that does not exist
  scope_.joinedName = join.table;
  // The columns pair up by position unless their qualifiers say otherwise.
  const bool tablesDiffer = scope_.mainName != scope_.joinedName;
  const bool swapped = tablesDiffer && (qualifiedBy(join.mainColumn, scope_.joinedName).has_value() ||
                                        qualifiedBy(join.joinedColumn, scope_.mainName).has_value());
  const std::string& onMain = swapped ? join.joinedColumn : join.mainColumn;
  const std::string& onJoined = swapped ? join.mainColumn : join.joinedColumn;
  const TableCol joinedColumn = joinColumn(onJoined, true);
  bound.join = BoundJoin{joinColumn(onMain, false), joinedColumn};
}

void SelectBinder::bindSelectList(const SelectStatement& statement, BoundSelect& bound) const {
  const bool joined = bound.join.has_value();
  if (statement.columns.empty()) {
    throw DatabaseException(ErrorKind::kParse, joined ? "Select statement contains 0 columns"
                                   : "Zero columns identified in select statement");
  }
  for (const std::string& name : statement.columns) {
    if (name != "*") {
      addSelected(column(name), bound);
      continue;
    }
    // Both halves are listed by table, so a table joined with itself shows
    // its columns once per side.
    addAllColumns(false, bound);
    if (joined) addAllColumns(true, bound);
  }
}

void SelectBinder::addAllColumns(bool joinedSide, BoundSelect& bound) const {
  const std::string& table = joinedSide ? scope_.joinedName : scope_.mainName;
  for (const TableCol& column : database_.findAllByTableName(table)) {
    addSelected(boundColumn(column, joinedSide), bound);
  }
}

void SelectBinder::addSelected(const BoundColumn& column, BoundSelect& bound) const {
  if (bound.selected.size() == kMaxResultColumns) {
    throw DatabaseException(ErrorKind::kParse,
                            "Select list has more than %d columns", static_cast<int>(kMaxResultColumns));
  }
  bound.selected.push_back(column);
  bound.header.push_back(database_.getColName(column.column));
}

void SelectBinder::bindWhere(const WhereClause& where, const Parameters& parameters, BoundSelect& bound) const {
  for (size_t i = 0; i < where.conditions.size(); ++i) {
    const WrittenCondition& written = where.conditions[i];
    const BoundColumn boundCol = column(written.column);
    const ConditionType type = conditionType(written);
    const TableCol at = boundCol.column;
    // "is null" takes no parameter: conditionType refused "is ?".
    const std::string constant = written.parameter == Token::kNoParameter
                                     ? written.value
                                     : parameterConstant(parameters.at(written.parameter), written.parameter,
                                                         written.column, boundCol.type);
    bound.conditions.push_back(
        {boundCol, createCondition(database_.getTreeTable(at.table), at.column, type, constant)});
    if (where.strayCloseAfter == i) {
      throw DatabaseException(ErrorKind::kParse, "Missing '(' in the where clause: a ')' after %s closes no bracket",
                              written.text().c_str());
    }
  }
  if (where.unclosed != 0) {
    throw DatabaseException(ErrorKind::kParse, "Missing ')' in the where clause: %d bracket(s) opened and not closed",
                            static_cast<int>(where.unclosed));
  }
  bound.where = where.nodes;
}

BoundColumn SelectBinder::column(const std::string& name) const {
  const int sides = scope_.joinedName.empty() ? 1 : 2;
  std::optional<std::string> qualified;  // the column part, when a table of the statement qualifies the name
  for (int side = 0; side < sides && !qualified; ++side) {
    const std::string& table = side == 0 ? scope_.mainName : scope_.joinedName;
    qualified = qualifiedBy(name, table);
    if (!qualified) continue;
    const std::vector<TableCol> found = database_.findColumn(table, *qualified);
    if (found.size() == 1) return boundColumn(found.front(), side == 1);
  }
  for (int side = 0; side < sides; ++side) {
    const std::vector<TableCol> found = database_.findColumn(side == 0 ? scope_.mainName : scope_.joinedName, name);
    if (found.size() == 1) return boundColumn(found.front(), side == 1);
  }
  unknownColumn(qualified.value_or(name));
}

TableCol SelectBinder::joinColumn(const std::string& name, bool joinedSide) const {
  const std::string& table = joinedSide ? scope_.joinedName : scope_.mainName;
  const std::optional<std::string> part = qualifiedBy(name, table);
  for (const std::string& written : {part.value_or(name), name}) {
    const std::vector<TableCol> found = database_.findColumn(table, written);
    if (found.size() == 1) return found.front();
  }
  throw DatabaseException(ErrorKind::kUnknownName, "Column %s is not defined", part.value_or(name).c_str());
}

BoundColumn SelectBinder::boundColumn(TableCol column, bool joinedSide) const {
  const TreeTable& main = database_.getTreeTable(scope_.main);
  const unsigned short offset = joinedSide ? main.numColumns : 0;
  const DATA_TYPE type = database_.getTreeTable(column.table).columnTypes[column.column];
  return {column, joinedSide, static_cast<unsigned short>(column.column + offset), type};
}

void SelectBinder::unknownColumn(const std::string& name) const {
  if (scope_.joinedName.empty()) {
    throw DatabaseException(ErrorKind::kUnknownName,
                            "Column %s is not defined for table %s", name.c_str(), scope_.mainName.c_str());
  }
  throw DatabaseException(ErrorKind::kUnknownName, "Column %s is not defined", name.c_str());
}
