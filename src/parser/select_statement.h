#pragma once

// SelectStatement: a SELECT as written, names not yet looked up.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "parser/parser.h"

// One comparison of a where clause, as written.
struct WrittenCondition {
  std::string column;
  std::string op;        // the operator as written
  bool negated = false;  // "not" after the operator "is"
  std::string value;     // the constant as written; "?" for a placeholder
  // The parameter a placeholder value stands for, from 0, or
  // Token::kNoParameter for a written constant.
  unsigned short parameter = Token::kNoParameter;

  // column, operator, "not" when given, value: the condition as messages
  // quote it.
  std::string text() const;
};

// One node of the where tree: a condition or a bracketed group.
struct WhereNode {
  static constexpr size_t kGroup = SIZE_MAX;

  size_t parent = 0;          // index of the enclosing group (the root's own)
  size_t condition = kGroup;  // index into WhereClause::conditions, or kGroup
  // Whether the connector written after the node is "or" (else "and"); for
  // the last member of a group, the connector after the group.
  bool orNext = false;
};

// The where clause: its conditions in written order and the tree of
// brackets over them. The tree lists its nodes in written order, each group
// before its members; nodes[0] is the root, the whole clause. Brackets that
// do not pair up are recorded rather than refused, so that the binder
// raises them where they stand among the other faults of the statement.
struct WhereClause {
  static constexpr size_t kNone = SIZE_MAX;

  std::vector<WrittenCondition> conditions;
  std::vector<WhereNode> nodes{WhereNode{}};
  size_t strayCloseAfter = kNone;  // first condition followed by a ')' closing nothing
  size_t unclosed = 0;             // brackets still open at the end

  // Appends a condition written after `opens` "(" and before `closes` ")",
  // followed by the connector "or" when `orNext`.
  void add(WrittenCondition condition, size_t opens, size_t closes, bool orNext);

 private:
  std::vector<size_t> open_{0};  // groups open while adding, the root first
};

// "join" table "on" column "=" column.
struct JoinClause {
  std::string table;
  std::string mainColumn;    // the column written first
  std::string joinedColumn;  // the column written second
};

// A column, or an aggregate function applied to a column or to "*":
// "amount", "sum(amount)", "count(*)".
struct SelectItem {
  std::string function;  // as written; empty for a plain column
  std::string column;    // the column as written, "*" for every column or row

  bool aggregate() const { return !function.empty(); }
  // The item as written, without blanks: what a header names it.
  std::string text() const;
};

struct SortKey {
  SelectItem item;
  bool descending = false;
};

struct SelectStatement {
  bool distinct = false;           // "select distinct"
  std::vector<SelectItem> columns;  // the select list
  std::string table;                // the table after "from"
  std::vector<JoinClause> joins;    // join clauses back to back
  WhereClause where;
  std::vector<std::string> groupBy;  // the columns after "group by"
  std::vector<SortKey> sortKeys;
  std::optional<std::string> limit;  // the number after "limit", as written
};
