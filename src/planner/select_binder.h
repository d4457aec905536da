#pragma once

// SelectBinder: resolves the names of a SELECT against the schema.

#include <string>
#include <variant>

#include "planner/bound_select.h"
#include "parser/parameter_value.h"
#include "parser/select_statement.h"

class Database;

// The one place that knows how a SELECT's names find their columns. A name
// is a column of the main table or, in a join, of the joined table when the
// main table has none of that name; `table.column` looks in the named table
// of the statement (in a table joined with itself, the main side) and, when
// that table lacks the column, like any name with a dot that names no table
// of the statement, is an unqualified name. The join clause pairs its
// columns main, then joined, unless their qualifiers name the tables the
// other way round. Each column gets its side, its number in the result and
// its stored type, each condition its predicate. Faults are raised in the
// statement's written order, each name before the faults of what follows
// it.
//
// A select with aggregates (in its select list or order clause), with
// group by or with distinct aggregates: distinct groups by the selected
// columns. Each selected column and each column of its order must then be
// grouped, or it is refused; an aggregate in the order clause need not be
// selected. The binder refers to the database, which must outlive it.
class SelectBinder {
 public:
  explicit SelectBinder(Database& database);

  SelectBinder(const SelectBinder&) = delete;
  SelectBinder& operator=(const SelectBinder&) = delete;

  // Throws DatabaseException for an unknown table or column, a select list
  // without columns or beyond 65535, more than one join, an unsupported
  // operator, a constant the column's type cannot hold, brackets that do
  // not pair up, an unknown function or one its column's type cannot take,
  // a column neither grouped nor aggregated and a limit that is not a
  // number from 0 to 4294967295. `parameters` fill the statement's
  // placeholders, each of which must have one; they must outlive the call.
  BoundSelect bind(const SelectStatement& statement, const Parameters& parameters = {});

 private:
  // The tables a statement reads; joinedName is empty without a join.
  struct Scope {
    std::string mainName;
    unsigned short main = 0;
    std::string joinedName;
  };

  void bindJoin(const SelectStatement& statement, BoundSelect& bound);
  void bindSelectList(const SelectStatement& statement, BoundSelect& bound) const;
  // The select list, group by and order clause of an aggregating select;
  // the where clause is bound in between, in written order.
  void bindAggregation(const SelectStatement& statement, BoundSelect& bound) const;
  // The output column of `aggregation` that a selected or sort item means,
  // adding an aggregate it does not compute yet. `written` is the item's
  // name for messages.
  size_t output(const std::variant<BoundColumn, BoundAggregate>& item, const std::string& written, bool distinct,
                BoundAggregation& aggregation) const;
  BoundAggregate aggregate(const SelectItem& item) const;
  void bindWhere(const WhereClause& where, BoundSelect& bound) const;
  // The column a name in the select list, the where or the order clause
  // means.
  BoundColumn column(const std::string& name) const;
  // The column `name` means in the table of the given side, qualified or not.
  TableCol joinColumn(const std::string& name, bool joinedSide) const;
  BoundColumn boundColumn(TableCol column, bool joinedSide) const;
  // Throws the message of a name that means no column.
  [[noreturn]] void unknownColumn(const std::string& name) const;
  // Appends a column to the select list and its name to the header.
  void addSelected(const BoundColumn& column, BoundSelect& bound) const;
  // Appends a name to the header of an aggregating select.
  static void addHeader(const std::string& name, BoundSelect& bound);
  // Appends every column of one side to the select list.
  void addAllColumns(bool joinedSide, BoundSelect& bound) const;

  Database& database_;
  Scope scope_;
  const Parameters* parameters_ = nullptr;  // those of the statement being bound
};
