// SelectBinder: the lookup rules of SELECT names, the select list's
// expansion and the where clause's predicates, in written order.

#include "planner/select_binder.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
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

// Whether a select computes groups: it has aggregates, group by or distinct.
bool aggregating(const SelectStatement& statement) {
  const auto aggregate = [](const SelectItem& item) { return item.aggregate(); };
  return statement.distinct || !statement.groupBy.empty() ||
         std::any_of(statement.columns.begin(), statement.columns.end(), aggregate) ||
         std::any_of(statement.sortKeys.begin(), statement.sortKeys.end(),
                     [&](const SortKey& key) { return aggregate(key.item); });
}

// The number after "limit": decimal digits only, at most 4294967295.
uint32_t limitOf(const std::string& text) {
  uint64_t value = 0;
  bool valid = !text.empty();
  for (const char c : text) {
    if (c < '0' || c > '9') valid = false;
    if (!valid) break;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    valid = value <= UINT32_MAX;
  }
  if (!valid) {
    throw DatabaseException(ErrorKind::kParse, "Invalid limit %s: expected a whole number from 0 to 4294967295",
                            text.c_str());
  }
  return static_cast<uint32_t>(value);
}

struct FunctionName {
  const char* name;
  AggregateFunction function;
};
constexpr FunctionName kFunctions[] = {{"count", AggregateFunction::COUNT},
                                       {"sum", AggregateFunction::SUM},
                                       {"avg", AggregateFunction::AVG},
                                       {"min", AggregateFunction::MIN},
                                       {"max", AggregateFunction::MAX}};

// The type of an aggregate's answers over a column of type `type`.
DATA_TYPE aggregateType(AggregateFunction function, DATA_TYPE type) {
  switch (function) {
    case AggregateFunction::COUNT_ROWS:
    case AggregateFunction::COUNT: return LONG;
    case AggregateFunction::SUM: return isFloating(type) ? DOUBLE : LONG;
    case AggregateFunction::AVG: return DOUBLE;
    case AggregateFunction::MIN:
    case AggregateFunction::MAX: break;
  }
  return type;
}

bool sameColumn(const BoundColumn& a, const BoundColumn& b) { return a.resultColumn == b.resultColumn; }

bool sameAggregate(const BoundAggregate& a, const BoundAggregate& b) {
  return a.function == b.function && (a.function == AggregateFunction::COUNT_ROWS || sameColumn(a.column, b.column));
}

}  // namespace

SelectBinder::SelectBinder(Database& database) : database_(database) {}

BoundSelect SelectBinder::bind(const SelectStatement& statement, const Parameters& parameters) {
  if (statement.table.empty()) throw DatabaseException(ErrorKind::kParse, "Empty table name in the select query");
  scope_ = Scope{statement.table, database_.getTableNumber(statement.table), {}};
  parameters_ = &parameters;
  BoundSelect bound;
  bound.mainTable = scope_.main;
  if (!statement.joins.empty()) bindJoin(statement, bound);
  if (aggregating(statement)) {
    bindAggregation(statement, bound);
  } else {
    bindSelectList(statement, bound);
    bindWhere(statement.where, bound);
    for (const SortKey& key : statement.sortKeys) {
      bound.sortKeys.push_back({column(key.item.column), key.descending});
    }
  }
  if (statement.limit) bound.limit = limitOf(*statement.limit);
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
  for (const SelectItem& item : statement.columns) {
    if (item.column != "*") {
      addSelected(column(item.column), bound);
      continue;
    }
    // Both halves are listed by table, so a table joined with itself shows
    // its columns once per side.
    addAllColumns(false, bound);
    if (joined) addAllColumns(true, bound);
  }
}

void SelectBinder::bindAggregation(const SelectStatement& statement, BoundSelect& bound) const {
  if (statement.columns.empty()) throw DatabaseException(ErrorKind::kParse,
                                                         "Zero columns identified in select statement");
  // The select list's items, "*" spread over the columns it means.
  std::vector<std::pair<std::variant<BoundColumn, BoundAggregate>, std::string>> items;
  for (const SelectItem& item : statement.columns) {
    if (item.aggregate()) {
      items.emplace_back(aggregate(item), item.text());
      continue;
    }
    if (item.column != "*") {
      items.emplace_back(column(item.column), item.column);
      continue;
    }
    for (int side = 0; side < (bound.join ? 2 : 1); ++side) {
      const std::string& table = side == 0 ? scope_.mainName : scope_.joinedName;
      for (const TableCol& found : database_.findAllByTableName(table)) {
        items.emplace_back(boundColumn(found, side == 1), database_.getColName(found));
      }
    }
  }
  bindWhere(statement.where, bound);
  BoundAggregation& aggregation = bound.aggregation.emplace();
  if (statement.distinct) {
    for (const auto& [item, written] : items) {
      if (const auto* grouped = std::get_if<BoundColumn>(&item)) {
        aggregation.groupBy.push_back(*grouped);
        continue;
      }
      throw DatabaseException(ErrorKind::kParse, "Select distinct takes columns only, not %s", written.c_str());
    }
    if (!statement.groupBy.empty()) throw DatabaseException(ErrorKind::kParse,
                                                            "Select distinct cannot be combined with group by");
  }
  for (const std::string& name : statement.groupBy) aggregation.groupBy.push_back(column(name));
  for (const auto& [item, written] : items) {
    aggregation.selected.push_back(output(item, written, statement.distinct, aggregation));
    addHeader(written, bound);
  }
  for (const SortKey& key : statement.sortKeys) {
    const std::variant<BoundColumn, BoundAggregate> item =
        key.item.aggregate() ? std::variant<BoundColumn, BoundAggregate>(aggregate(key.item))
                             : std::variant<BoundColumn, BoundAggregate>(column(key.item.column));
    aggregation.sortKeys.push_back({output(item, key.item.text(), statement.distinct, aggregation), key.descending});
  }
}

size_t SelectBinder::output(const std::variant<BoundColumn, BoundAggregate>& item, const std::string& written,
                            bool distinct, BoundAggregation& aggregation) const {
  std::vector<BoundAggregate>& aggregates = aggregation.aggregates;
  const size_t groups = aggregation.groupBy.size();
  if (const auto* computed = std::get_if<BoundAggregate>(&item)) {
    for (size_t i = 0; i < aggregates.size(); ++i) {
      if (sameAggregate(aggregates[i], *computed)) return groups + i;
    }
    aggregates.push_back(*computed);
    return groups + aggregates.size() - 1;
  }
  const BoundColumn& wanted = std::get<BoundColumn>(item);
  for (size_t i = 0; i < groups; ++i) {
    if (sameColumn(aggregation.groupBy[i], wanted)) return i;
  }
  if (distinct) throw DatabaseException(ErrorKind::kParse,
                                        "Column %s orders a select distinct but is not selected", written.c_str());
  throw DatabaseException(ErrorKind::kParse, "Column %s is neither grouped nor aggregated", written.c_str());
}

BoundAggregate SelectBinder::aggregate(const SelectItem& item) const {
  const std::string name = toLower(item.function);
  const auto named = std::find_if(std::begin(kFunctions), std::end(kFunctions),
                                  [&](const FunctionName& entry) { return name == entry.name; });
  if (named == std::end(kFunctions)) {
    throw DatabaseException(ErrorKind::kParse, "Unknown function %s in %s", item.function.c_str(), item.text().c_str());
  }
  BoundAggregate bound{named->function, {}, LONG, item.text()};
  if (item.column == "*") {
    if (bound.function != AggregateFunction::COUNT) {
      throw DatabaseException(ErrorKind::kParse,
                              "Function %s takes a column, not *: %s", item.function.c_str(), item.text().c_str());
    }
    bound.function = AggregateFunction::COUNT_ROWS;
    return bound;
  }
  bound.column = column(item.column);
  const bool arithmetic = bound.function == AggregateFunction::SUM || bound.function == AggregateFunction::AVG;
  if (arithmetic && !isNumeric(bound.column.type)) {
    throw DatabaseException(ErrorKind::kParse,
                            "Function %s needs a number column, not the %s column %s", item.function.c_str(),
                            getTypeKeyword(bound.column.type), item.column.c_str());
  }
  bound.type = aggregateType(bound.function, bound.column.type);
  return bound;
}

void SelectBinder::addHeader(const std::string& name, BoundSelect& bound) {
  if (bound.header.size() == kMaxResultColumns) {
    throw DatabaseException(ErrorKind::kParse,
                            "Select list has more than %d columns", static_cast<int>(kMaxResultColumns));
  }
  bound.header.push_back(name);
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

void SelectBinder::bindWhere(const WhereClause& where, BoundSelect& bound) const {
  for (size_t i = 0; i < where.conditions.size(); ++i) {
    const WrittenCondition& written = where.conditions[i];
    const BoundColumn boundCol = column(written.column);
    const ConditionType type = conditionType(written);
    const TableCol at = boundCol.column;
    // "is null" takes no parameter: conditionType refused "is ?".
    const std::string constant = written.parameter == Token::kNoParameter
                                     ? written.value
                                     : parameterConstant(parameters_->at(written.parameter), written.parameter,
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
