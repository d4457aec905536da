// ResultSetFactory: compiles the where clause over the predicates, creates the
// sort keys and runs the scan of one table or of a join.

#include "planner/result_set_factory.h"

#include "catalogue/database.h"
#include "errors/database_exception.h"
#include <algorithm>

#include "errors/interruption.h"
#include "query/comparator_factory.h"
#include "query/grouped_set.h"
#include "query/hash_aggregation.h"
#include "query/hash_aggregation_feed.h"
#include "query/index_set.h"
#include "query/joined_set.h"
#include "query/table_set.h"
#include "query/tree_aggregation.h"
#include "storage/tree_table.h"
#include "storage/table_config.h"

namespace {

// The header of a result: each name followed by one NUL character.
std::string headerOf(const std::vector<std::string>& names) {
  std::string header;
  for (const std::string& name : names) {
    header += name;
    header += '\0';
  }
  return header;
}

// The where tree in the form the compiled clause takes it.
std::vector<ClauseNode> clauseTree(const std::vector<WhereNode>& where) {
  std::vector<ClauseNode> tree;
  tree.reserve(where.size());
  for (const WhereNode& node : where) {
    const size_t leaf = node.condition == WhereNode::kGroup ? ClauseNode::kGroup : node.condition;
    tree.push_back({node.parent, leaf, node.orNext});
  }
  return tree;
}

}  // namespace

ResultSetFactory::ResultSetFactory(Database& database) : database_(database) {}

const TableConfig& ResultSetFactory::tableConfig(unsigned short table) const {
  return database_.getTreeTable(table);
}

ResultSetFactory::Parts ResultSetFactory::parts(BoundSelect& statement) const {
  Parts made;
  for (BoundCondition& bound : statement.conditions) {
    bound.predicate->column = bound.column.resultColumn;
    made.conditions.push_back(bound.predicate.get());
    made.owned.push_back(std::move(bound.predicate));
  }
  made.clause = CombinedBooleanExpression(clauseTree(statement.where));
  for (const BoundSortKey& key : statement.sortKeys) {
    const TableCol& column = key.column.column;
    made.ownedComparators.push_back(createComparator(tableConfig(column.table), column.column, key.descending));
    made.ownedComparators.back()->column = key.column.resultColumn;
    made.comparators.push_back(made.ownedComparators.back().get());
  }
  return made;
}

std::unique_ptr<ResultSet> ResultSetFactory::build(BoundSelect statement) {
  Parts made = parts(statement);
  std::unique_ptr<ResultSet> result;
  if (statement.aggregation) {
    result = groupedResult(statement, made);
  } else {
    result = statement.join ? joinedResult(statement, made) : tableResult(statement, made);
  }
  if (statement.limit) result->limit(*statement.limit);
  return result;
}

std::unique_ptr<TableSet> ResultSetFactory::filteredTable(const BoundSelect& statement, Parts& made,
                                                          std::vector<unsigned short> columns) const {
  const unsigned short table = statement.mainTable;
  auto result = std::make_unique<TableSet>(std::make_unique<TableIterator>(&database_.getTreeTable(table)),
                                           std::move(columns));
  result->watchTable(database_.getTableName(table), database_.getTableChanges(table));
  result->processRequest(made.conditions, made.clause);
  return result;
}

std::unique_ptr<ResultSet> ResultSetFactory::tableResult(const BoundSelect& statement, Parts& made) const {
  std::vector<unsigned short> columns;
  columns.reserve(statement.selected.size());
  for (const BoundColumn& column : statement.selected) columns.push_back(column.column.column);
  std::unique_ptr<TableSet> result = filteredTable(statement, made, std::move(columns));
  result->header = headerOf(statement.header);
  result->sort(made.comparators);
  result->keepSortedValues();
  return result;
}

void ResultSetFactory::checkJoinTypes(const BoundJoin& join) const {
  const TableCol left = join.mainColumn;
  const TableCol right = join.joinedColumn;
  if (tableConfig(left.table).columnTypes[left.column] != tableConfig(right.table).columnTypes[right.column]) {
    throw DatabaseException("Join columns %s and %s have different types", database_.getColName(left).c_str(),
                            database_.getColName(right).c_str());
  }
}

std::unique_ptr<ResultSet> ResultSetFactory::joinedResult(const BoundSelect& statement, Parts& made) const {
  std::unique_ptr<JoinedSet> result = filteredJoin(statement, made, {});
  result->header = headerOf(statement.header);
  result->sort(made.comparators);
  for (const BoundColumn& column : statement.selected) result->addSelectCol(column.joinedSide, column.column.column);
  result->keepSideValues();
  return result;
}

std::unique_ptr<JoinedSet> ResultSetFactory::filteredJoin(const BoundSelect& statement, Parts& made,
                                                          const std::vector<BoundColumn>& columns) const {
  const BoundJoin& join = *statement.join;
  checkJoinTypes(join);
  const unsigned short mainTable = statement.mainTable;
  const unsigned short joinedTable = join.joinedColumn.table;
  auto result = std::make_unique<JoinedSet>();
  result->watchTable(database_.getTableName(mainTable), database_.getTableChanges(mainTable));
  result->watchTable(database_.getTableName(joinedTable), database_.getTableChanges(joinedTable));

  // The joined set takes the rows of both sides from their tables as it
  // filters.
  auto left = std::make_unique<TableSet>(std::make_unique<TableIterator>(&database_.getTreeTable(mainTable)),
                                         std::vector<unsigned short>{});
  auto right = std::make_unique<IndexSet>();
  right->initTable(std::make_unique<TableIterator>(&database_.getTreeTable(joinedTable)), join.joinedColumn.column);
  result->setRight(std::move(right));
  result->setLeft(std::move(left), join.mainColumn.column);
  result->processRequest(made.conditions, made.clause);
  for (const BoundColumn& column : columns) result->addSelectCol(column.joinedSide, column.column.column);
  return result;
}

std::unique_ptr<ResultSet> ResultSetFactory::groupedResult(const BoundSelect& statement, Parts& made) const {
  const BoundAggregation& aggregation = *statement.aggregation;
  std::vector<bool> nullable;
  for (const BoundColumn& column : aggregation.groupBy) {
    nullable.push_back(database_.getTreeTable(column.column.table).nullable[column.column.column] != 0);
  }
  for (const BoundAggregate& bound : aggregation.aggregates) {
    nullable.push_back(bound.function != AggregateFunction::COUNT && bound.function != AggregateFunction::COUNT_ROWS);
  }
  std::unique_ptr<GroupedSet> result = statement.join ? nullptr : treeGroups(statement, made, nullable);
  if (result == nullptr) result = hashGroups(statement, made, std::move(nullable));
  result->header = headerOf(statement.header);
  std::vector<std::unique_ptr<FieldComparatorBase>> owned;
  std::vector<FieldComparatorBase*> comparators;
  for (const BoundOutputKey& key : aggregation.sortKeys) {
    owned.push_back(createValueComparator(result->columnType(key.output), static_cast<unsigned short>(key.output), key.descending));
    comparators.push_back(owned.back().get());
  }
  result->sort(comparators);
  return result;
}

std::unique_ptr<GroupedSet> ResultSetFactory::treeGroups(const BoundSelect& statement, Parts& made,
                                                         const std::vector<bool>& nullable) const {
  const BoundAggregation& aggregation = *statement.aggregation;
  const TreeTable& table = database_.getTreeTable(statement.mainTable);
  std::vector<unsigned short> groupColumns;
  for (const BoundColumn& column : aggregation.groupBy) groupColumns.push_back(column.column.column);
  if (!TreeAggregation::canGroup(table, groupColumns)) return nullptr;
  std::vector<TreeAggregation::Aggregate> aggregates;
  for (const BoundAggregate& bound : aggregation.aggregates) {
    aggregates.push_back({bound.function, bound.column.column.column, bound.type, bound.text});
  }
  TreeAggregation grouping(table, std::move(groupColumns), std::move(aggregates));
  TableSet rows(std::make_unique<TableIterator>(&database_.getTreeTable(statement.mainTable)), {});
  if (!rows.visitPassingRows(made.conditions, made.clause, grouping)) return nullptr;
  return grouping.finish(nullable, aggregation.selected);
}

void ResultSetFactory::addStoredRows(ResultSet& rows, size_t inputs, HashAggregation& grouping) {
  std::vector<ValueRun> runs(inputs);
  std::vector<const void*> scratch((inputs + 1) * ResultSet::kMaxRunRows);
  for (uint32_t position = 0, checked = 0; position < rows.rowCount;) {
    if (position - checked >= kRowsPerInterruptCheck) {
      checkInterrupt();
      checked = position;
    }
    const uint32_t count = inputs == 0 ? std::min(rows.rowCount - position, ResultSet::kMaxRunRows)
                                       : rows.selectRun(position, rows.rowCount, runs.data(), scratch.data());
    grouping.addRun(runs.data(), count);
    position += count;
  }
}

std::unique_ptr<GroupedSet> ResultSetFactory::hashGroups(const BoundSelect& statement, Parts& made,
                                                         std::vector<bool> nullable) const {
  const BoundAggregation& aggregation = *statement.aggregation;
  // The inputs of a row: the grouping columns, then the other columns the
  // aggregates read.
  std::vector<BoundColumn> inputs = aggregation.groupBy;
  std::vector<DATA_TYPE> groupTypes;
  for (const BoundColumn& column : inputs) groupTypes.push_back(column.type);
  std::vector<HashAggregation::Aggregate> aggregates;
  for (const BoundAggregate& bound : aggregation.aggregates) {
    HashAggregation::Aggregate& aggregate = aggregates.emplace_back();
    aggregate = {bound.function, 0, bound.column.type, bound.type, bound.text};
    if (bound.function == AggregateFunction::COUNT_ROWS) continue;
    const auto same = [&](const BoundColumn& input) { return input.resultColumn == bound.column.resultColumn; };
    aggregate.input = static_cast<size_t>(std::find_if(inputs.begin(), inputs.end(), same) - inputs.begin());
    if (aggregate.input == inputs.size()) inputs.push_back(bound.column);
  }
  HashAggregation grouping(std::move(groupTypes), std::move(aggregates), inputs.size());
  if (statement.join) {
    addStoredRows(*filteredJoin(statement, made, inputs), inputs.size(), grouping);
    return grouping.finish(std::move(nullable), aggregation.selected);
  }
  std::vector<unsigned short> columns;
  for (const BoundColumn& column : inputs) columns.push_back(column.column.column);
  // The passing rows go to the aggregation node by node, read where they
  // lie; a where clause the nodes cannot answer stores them first.
  TableSet nodeRows(std::make_unique<TableIterator>(&database_.getTreeTable(statement.mainTable)), columns);
  HashAggregationFeed feed(nodeRows, grouping);
  if (!nodeRows.visitPassingRows(made.conditions, made.clause, feed)) {
    addStoredRows(*filteredTable(statement, made, std::move(columns)), inputs.size(), grouping);
  }
  return grouping.finish(std::move(nullable), aggregation.selected);
}
