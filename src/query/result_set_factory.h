#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/database_schema.h"
#include "query/condition.h"
#include "query/field_comparator_base.h"
#include "query/result_set.h"

class Database;
class TableConfig;

// Collects the parts of one query (tables, selected columns, conditions, sort
// keys) as the SELECT executors read them from the parsed statement, and
// builds the finished result set. Constants are translated once, when a
// condition is added, into the form the rows hold: a category number for a
// categorised column, the stored value for a plain one. The factory refers
// to the database it was built with, which must outlive it; it owns the
// conditions and comparators it creates and releases them in clear() and on
// destruction.
class ResultSetFactory {
 public:
  explicit ResultSetFactory(Database& database);
  ~ResultSetFactory();

  ResultSetFactory(const ResultSetFactory&) = delete;
  ResultSetFactory& operator=(const ResultSetFactory&) = delete;

  // Deletes the conditions and comparators and empties the select columns
  // and the joins; the header and the main table are left for the next
  // query to overwrite.
  void clear();

  // Appends a condition on `column` against the constant `value` as written
  // in the query (ignored for IS_NULL and NOT_NULL). `level` is the number
  // of enclosing brackets, `op` the connector written after the condition
  // and `openBrackets` the brackets opened directly before it. A failing
  // call appends nothing.
  void addCondition(TableCol column, ConditionType type, std::string value, unsigned short level,
                    BoolOperator op, unsigned short openBrackets = 0);
  // Appends a sort key; keys apply in the order added.
  void addComparator(TableCol column, bool descending);
  // Replaces the header by the names, each followed by one NUL character.
  void setHeader(const std::vector<std::string>& names);

  // Appends a selected column of a joined query, naming its side: true for
  // a column of the joined table. Needed when both sides are one table.
  void addJoinedSelectCol(TableCol column, bool joinedSide);

  // Scans the main table (joined with an index of the joined table when
  // there is a join), keeps the rows satisfying the conditions, sorts them
  // by the comparators and returns the result, owned by the caller. The
  // result watches every table it reads. A join of two columns of
  // different types is refused before any row is read. The factory keeps
  // its parts until the next clear().
  std::unique_ptr<ResultSet> createResultSet();

  // The condition testing `column` of `table` against the constant text,
  // on the form in which the table's rows hold the column (IS_NULL and
  // NOT_NULL ignore the text). A comparison is false for a NULL. Throws
  // "Unsupported condition type" for a type outside ConditionType.
  static std::unique_ptr<Condition> createCondition(const TableConfig& table, unsigned short column,
                                                    ConditionType type, const std::string& value);

  const std::string& getHeader() const { return header_; }

  // Number of the table named after "from"; 65535 until set.
  unsigned short mainTable = 65535;
  // The selected columns in select-list order.
  std::vector<TableCol> selectCols;
  // Per join: the main table's column, then the joined table's column it
  // must equal. Only the first is used.
  std::vector<std::pair<TableCol, TableCol>> joins;
  // Per select column of a joined query, when given: whether it reads the
  // joined table. Without it the side follows the column's table number.
  std::vector<bool> selectFromJoined;

 private:
  // Column number in the numbering of the result set: past the main
  // table's columns for a column of the joined table.
  unsigned short resultColumn(TableCol column);
  const TableConfig& tableConfig(unsigned short table);
  std::unique_ptr<ResultSet> createTableResult();
  std::unique_ptr<ResultSet> createJoinedResult();
  // Throws when the join columns differ in type.
  void checkJoinTypes();

  Database& database_;
  // Names of the selected columns, each followed by one NUL character.
  std::string header_;
  // Owned; deleted by clear().
  std::vector<Condition*> conditions_;
  // Owned; deleted by clear().
  std::vector<FieldComparatorBase*> comparators_;
};
