// The SELECT grammar as a parser chain: joins, WHERE and ORDER BY are optional;
// the lists after WHERE and ORDER BY depend on their keyword; and the
// statement a run recorded.

#include "parser/select_parser.h"

#include "parser/grammar_elements.h"

SelectParser::SelectParser()
    : select(append(std::make_unique<StatementParser>("select"))),
      columnList(append(std::make_unique<ListParser>(&colParser, std::set<std::string>{","}, "column"))),
      from(append(std::make_unique<StatementParser>("from"))),
      tableName(append(std::make_unique<StringParser>("table name"))),
      joinList(append(std::make_unique<ListParser>(&joinParser, std::set<std::string>{}, "join"))),
      where(append(std::make_unique<StatementParser>("where"))),
      conditionList(append(std::make_unique<ListParser>(&condParser, booleanops, "condition"))),
      order(append(std::make_unique<StatementParser>("order"))),
      by(append(std::make_unique<StatementParser>("by"))),
      sortList(append(std::make_unique<ListParser>(&sortColumns, std::set<std::string>{","}, "sort column"))) {
  joinList->optional = true;
  where->optional = true;
  conditionList->dependent = true;
  order->optional = true;
  by->dependent = true;
  sortList->dependent = true;
}

namespace {

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
  for (const std::unique_ptr<Parser>& element : columnList->elements) {
    statement.columns.push_back(elementText(*element, COL_NAME));
  }
  statement.table = tableName->value;
  for (const std::unique_ptr<Parser>& element : joinList->elements) {
    statement.joins.push_back({elementText(*element, JOIN_TABLE), elementText(*element, JOIN_FIRST_COLUMN),
                               elementText(*element, JOIN_SECOND_COLUMN)});
  }
  statement.where = whereClause(*conditionList);
  for (const std::unique_ptr<Parser>& element : sortList->elements) {
    statement.sortKeys.push_back({elementText(*element, SORT_COLUMN), elementMatched(*element, SORT_DESC)});
  }
  return statement;
}
