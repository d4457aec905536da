#pragma once

// ResultSetFactory: builds the filtered, sorted result of a bound SELECT.

#include <memory>
#include <string>
#include <vector>

#include "planner/bound_select.h"
#include "query/combined_boolean_expression.h"
#include "query/condition.h"
#include "query/field_comparator_base.h"
#include "query/result_set.h"

class Database;
class GroupedSet;
class HashAggregation;
class JoinedSet;
class TableConfig;
class TableSet;

// Turns a bound statement into its result set: scans the main table (joined
// with an index of the joined table when there is a join), keeps the rows
// satisfying the where clause, groups and aggregates them when the
// statement does, sorts them, keeps the first rows up to its limit and
// names the columns. The factory refers to the database it was built
// with, which must outlive it, and keeps nothing between statements.
class ResultSetFactory {
 public:
  explicit ResultSetFactory(Database& database);

  ResultSetFactory(const ResultSetFactory&) = delete;
  ResultSetFactory& operator=(const ResultSetFactory&) = delete;

  // The result of `statement`, owned by the caller; it watches every table
  // it reads. A join of two columns of different types is refused before
  // any row is read.
  std::unique_ptr<ResultSet> build(BoundSelect statement);

 private:
  // The parts of one build: the predicates, the clause compiled over them
  // and the sort keys.
  struct Parts {
    std::vector<std::unique_ptr<Condition>> owned;
    std::vector<Condition*> conditions;
    CombinedBooleanExpression clause;
    std::vector<std::unique_ptr<FieldComparatorBase>> ownedComparators;
    std::vector<FieldComparatorBase*> comparators;
  };

  Parts parts(BoundSelect& statement) const;
  const TableConfig& tableConfig(unsigned short table) const;
  std::unique_ptr<ResultSet> tableResult(const BoundSelect& statement, Parts& parts) const;
  std::unique_ptr<ResultSet> joinedResult(const BoundSelect& statement, Parts& parts) const;
  // The rows of the main table that pass the where clause, `columns`
  // (table column numbers) selected.
  std::unique_ptr<TableSet> filteredTable(const BoundSelect& statement, Parts& parts,
                                          std::vector<unsigned short> columns) const;
  // The pairs of rows of a join that pass the where clause, `columns`
  // selected.
  std::unique_ptr<JoinedSet> filteredJoin(const BoundSelect& statement, Parts& parts,
                                          const std::vector<BoundColumn>& columns) const;
  // The groups of an aggregating statement, sorted.
  std::unique_ptr<ResultSet> groupedResult(const BoundSelect& statement, Parts& parts) const;
  // The groups of an aggregating statement over one table, found from the
  // tree's nodes; nullptr, with no row read, when they cannot be.
  std::unique_ptr<GroupedSet> treeGroups(const BoundSelect& statement, Parts& parts,
                                         const std::vector<bool>& nullable) const;
  // The groups of an aggregating statement, found by hashing the values of
  // the filtered rows.
  std::unique_ptr<GroupedSet> hashGroups(const BoundSelect& statement, Parts& parts, std::vector<bool> nullable) const;
  // Adds the stored rows of `rows`, whose `inputs` selected columns are
  // the aggregation's inputs, to `grouping`.
  static void addStoredRows(ResultSet& rows, size_t inputs, HashAggregation& grouping);
  // Throws when the join columns differ in type.
  void checkJoinTypes(const BoundJoin& join) const;

  Database& database_;
};
