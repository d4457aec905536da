// The SELECT grammar as a parser chain: DISTINCT, joins, WHERE, GROUP BY,
// ORDER BY and LIMIT are optional, what follows each keyword depends on it;
// and the statement a run recorded.

#include "parser/select_parser.h"

#include "parser/grammar_elements.h"

namespace {

std::unique_ptr<Parser> groupColumn() { return std::make_unique<StringParser>("column"); }

}  // namespace

SelectParser::SelectParser()
    : select(append(std::make_unique<StatementParser>("select"))),
      distinct(append(std::make_unique<KeywordBeforeParser>("distinct", std::set<std::string>{",", "from"}))),
      columnList(append(std::make_unique<ListParser>(&colParser, std::set<std::string>{","}, "column"))),
      from(append(std::make_unique<StatementParser>("from"))),
      tableName(append(std::make_unique<StringParser>("table name"))),
      joinList(append(std::make_unique<ListParser>(&joinParser, std::set<std::string>{}, "join"))),
      where(append(std::make_unique<StatementParser>("where"))),
      conditionList(append(std::make_unique<ListParser>(&condParser, booleanops, "condition"))),
      group(append(std::make_unique<StatementParser>("group"))),
      groupBy(append(std::make_unique<StatementParser>("by"))),
      groupList(append(std::make_unique<ListParser>(&groupColumn, std::set<std::string>{","}, "column"))),
      order(append(std::make_unique<StatementParser>("order"))),
      by(append(std::make_unique<StatementParser>("by"))),
      sortList(append(std::make_unique<ListParser>(&sortColumns, std::set<std::string>{","}, "sort column"))),
      limit(append(std::make_unique<StatementParser>("limit"))),
      limitValue(append(std::make_unique<StringParser>("number"))) {
  distinct->optional = true;
  joinList->optional = true;
  where->optional = true;
  conditionList->dependent = true;
  group->optional = true;
  groupBy->dependent = true;
  groupList->dependent = true;
  order->optional = true;
  by->dependent = true;
  sortList->dependent = true;
  limit->optional = true;
  limitValue->dependent = true;
}

namespace {

// The select list element or sort key whose parts start at part `first`.
SelectItem selectItem(Parser& element, unsigned short first) {
  const std::string& name = elementText(element, first + COL_NAME);
  if (!elementMatched(element, first + COL_OPEN)) return {"", name};
  return {name, elementText(element, first + COL_ARGUMENT)};
}

WrittenCondition writtenCondition(Parser& element) {
  return {elementText(element, COND_COLUMN), elementText(element, COND_OPERATOR), elementMatched(element, COND_NOT),
          elementText(element, COND_VALUE), elementParameter(element, COND_VALUE)};
}

WhereClause whereClause(const ListParser& list) {
  WhereClause clause;
  const auto& conditions = list.elements;
  for (size_t i = 0; i < conditions.size(); ++i) {
    Parser& element = *conditions[i];
    const bool orNext = i + 1 < conditions.size() && list.separatorsFound.at(i) == "or";
    clause.add(writtenCondition(element), elementCount(element, COND_OPEN_BRACKETS),
               elementCount(element, COND_CLOSE_BRACKETS), orNext);
  }
  return clause;
}

}  // namespace

SelectStatement SelectParser::statement() const {
  SelectStatement statement;
  statement.distinct = distinct->matched;
  for (const std::unique_ptr<Parser>& element : columnList->elements) {
    statement.columns.push_back(selectItem(*element, 0));
  }
  statement.table = tableName->value;
  for (const std::unique_ptr<Parser>& element : joinList->elements) {
    statement.joins.push_back({elementText(*element, JOIN_TABLE), elementText(*element, JOIN_FIRST_COLUMN),
                               elementText(*element, JOIN_SECOND_COLUMN)});
  }
  statement.where = whereClause(*conditionList);
  for (const std::unique_ptr<Parser>& element : groupList->elements) {
    statement.groupBy.push_back(elementText(*element, 0));
  }
  for (const std::unique_ptr<Parser>& element : sortList->elements) {
    statement.sortKeys.push_back({selectItem(*element, SORT_COLUMN), elementMatched(*element, SORT_DESC)});
  }
  if (limit->matched) statement.limit = limitValue->value;
  return statement;
}
