// Factories of the element chains statements repeat (column, join, condition,
// sort column, column definition) and typed access to their parts.

#include "parser/grammar_elements.h"

#include <stdexcept>

#include "parser/keyword_after_parser.h"
#include "parser/repeated_statement_parser.h"
#include "parser/statement_parser.h"
#include "parser/string_parser.h"

namespace {

template <typename T>
T& part(Parser& element, unsigned short k) {
  T* const found = dynamic_cast<T*>(element.next(k));
  if (found == nullptr) throw std::logic_error("element part has another parser type");
  return *found;
}

std::unique_ptr<StatementParser> keyword(const char* text, bool optional, bool dependent) {
  auto parser = std::make_unique<StatementParser>(text);
  parser->optional = optional;
  parser->dependent = dependent;
  return parser;
}

std::unique_ptr<StringParser> dependentString(const char* what) {
  auto parser = std::make_unique<StringParser>(what);
  parser->dependent = true;
  return parser;
}

std::unique_ptr<RepeatedStatementParser> optionalRepeated(const char* text) {
  auto parser = std::make_unique<RepeatedStatementParser>(text);
  parser->optional = true;
  return parser;
}

}  // namespace

std::unique_ptr<Parser> colParser() {
  std::unique_ptr<Parser> head = std::make_unique<StringParser>("column");
  head->append(keyword("(", true, false));
  head->append(dependentString("column"));
  head->append(keyword(")", false, true));
  return head;
}

std::unique_ptr<Parser> condParser() {
  std::unique_ptr<Parser> head = optionalRepeated("(");
  head->append(std::make_unique<StringParser>("column"));
  head->append(std::make_unique<StringParser>("operator"));
  auto negation = std::make_unique<KeywordAfterParser>("not", "is");
  negation->optional = true;
  head->append(std::move(negation));
  head->append(std::make_unique<StringParser>("value", true));
  head->append(optionalRepeated(")"));
  return head;
}

std::unique_ptr<Parser> sortColumns() {
  std::unique_ptr<Parser> head = colParser();
  head->append(keyword("desc", true, false));
  return head;
}

std::unique_ptr<Parser> createColParser() {
  std::unique_ptr<Parser> head = std::make_unique<StringParser>("column name");
  head->append(std::make_unique<StringParser>("column type"));
  head->append(keyword("cat", true, false));
  head->append(dependentString("category number"));
  head->append(keyword("null", true, false));
  return head;
}

std::unique_ptr<Parser> joinParser() {
  std::unique_ptr<Parser> head = keyword("join", true, false);
  head->append(dependentString("table name"));
  head->append(keyword("on", false, true));
  head->append(dependentString("column"));
  head->append(keyword("=", false, true));
  head->append(dependentString("column"));
  return head;
}

const std::string& elementText(Parser& element, unsigned short k) {
  return part<StringParser>(element, k).value;
}

unsigned short elementParameter(Parser& element, unsigned short k) {
  return part<StringParser>(element, k).parameter;
}

bool elementMatched(Parser& element, unsigned short k) {
  if (auto* const after = dynamic_cast<KeywordAfterParser*>(element.next(k))) return after->matched;
  return part<StatementParser>(element, k).matched;
}

unsigned short elementCount(Parser& element, unsigned short k) {
  return part<RepeatedStatementParser>(element, k).count;
}
