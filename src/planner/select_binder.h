#pragma once

// SelectBinder: resolves the names of a SELECT against the schema.

#include <string>

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
// it. The binder refers to the database, which must outlive it.
class SelectBinder {
 public:
  explicit SelectBinder(Database& database);

  SelectBinder(const SelectBinder&) = delete;
  SelectBinder& operator=(const SelectBinder&) = delete;

  // Throws DatabaseException for an unknown table or column, a select list
  // without columns or beyond 65535, more than one join, an unsupported
  // operator, a constant the column's type cannot hold and brackets that
  // do not pair up. `parameters` fill the statement's placeholders, each
  // of which must have one.
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
  void bindWhere(const WhereClause& where, const Parameters& parameters, BoundSelect& bound) const;
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
  // Appends every column of one side to the select list.
  void addAllColumns(bool joinedSide, BoundSelect& bound) const;

  Database& database_;
  Scope scope_;
};
