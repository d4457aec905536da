// ParserEngine: tokenizes a command, picks the grammar by its first word and
// runs it: CREATE, LOAD and DROP on the database, SELECT through the binder
// and the result-set factory.

#include "parserengine/parser_engine.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/column_config.h"
#include "catalogue/database.h"
#include "errors/database_exception.h"
#include "parser/grammar_elements.h"
#include "parserengine/tokenizer.h"
#include "planner/result_set_factory.h"
#include "planner/select_binder.h"
#include "storage/arrow_abi.h"

namespace {

// One column definition of a create statement as the database takes it.
ColumnConfig columnConfig(Parser& definition) {
  ColumnConfig column;
  column.name = elementText(definition, CREATE_COL_NAME);
  const std::string typeName = toLower(elementText(definition, CREATE_COL_TYPE));
  if (!getTypeFromKeyword(typeName, column.type)) {
    throw DatabaseException(ErrorKind::kParse, "Column type %s is not supported", typeName.c_str());
  }
  column.nullable = elementMatched(definition, CREATE_COL_NULL);
  if (!elementMatched(definition, CREATE_COL_CAT)) return column;
  const std::string& number = elementText(definition, CREATE_COL_CAT_NUMBER);
  if (number.empty()) {
    throw DatabaseException(ErrorKind::kParse, "Category number is empty for column %s", column.name.c_str());
  }
  // Only the low 16 bits count: "-1" gives 65535, the same as no category.
  column.category = static_cast<unsigned short>(std::strtol(number.c_str(), nullptr, 10));
  return column;
}

// The field separator a SEPARATOR clause gives: one character, written as
// itself or, for a tab, as \t; a comma when the statement has no clause.
// Which characters may separate fields is the CSV reader's to check.
char fieldSeparator(const StatementParser& keyword, const StringParser& text) {
  if (!keyword.matched) return ',';
  const std::string& written = text.value;
  if (written == "\\t") return '\t';
  if (written.size() == 1) return written.front();
  if (written.empty()) {
    throw DatabaseException(ErrorKind::kParse, "Separator is empty: it must be one character, such as ';' or '\\t'");
  }
  throw DatabaseException(ErrorKind::kParse, "Separator '%s' must be one character, such as ';' or '\\t'",
                          written.c_str());
}

// The file name a statement gives: as written, or the text of the
// parameter its placeholder stands for.
std::string fileName(const StringParser& written, const Parameters& parameters) {
  if (written.parameter == Token::kNoParameter) return written.value;
  const ParameterValue& bound = parameters.at(written.parameter);
  if (const auto* text = std::get_if<std::string>(&bound.value)) return *text;
  throw DatabaseException(ErrorKind::kLoad, "Parameter %d stands for a file name, which must be a str, not %s",
                          written.parameter + 1, bound.kindName());
}

// The Arrow stream bound to the file name's placeholder, or null when the
// statement reads a file. A stream has no field separator to choose.
ArrowArrayStream* boundStream(const StringParser& written, const StatementParser& separator,
                              const Parameters& parameters) {
  if (written.parameter == Token::kNoParameter) return nullptr;
  const auto* stream = std::get_if<ParameterValue::Stream>(&parameters.at(written.parameter).value);
  if (stream == nullptr) return nullptr;
  if (separator.matched) {
    throw DatabaseException(ErrorKind::kParse, "Parameter %d is an Arrow stream, which has no field separator: "
                            "leave out separator", written.parameter + 1);
  }
  return stream->stream;
}

const Parameters kNoParameters;

}  // namespace

ParserEngine::ParserEngine(Database& database) : database_(database) {}

const Parameters& ParserEngine::tokenize(const char* command, const Parameters* parameters) {
  copyCommandToBuffer(commandBuffer_, command);
  populateTokens(commandBuffer_, tokens_, parameters != nullptr);
  if (parameters == nullptr) return kNoParameters;
  const auto placeholders =
      static_cast<size_t>(std::count_if(tokens_.begin(), tokens_.end(), [](const Token& token) {
        return token.isPlaceholder();
      }));
  if (placeholders != parameters->size()) {
    throw DatabaseException(ErrorKind::kParse, "Command has %zu placeholder(s) ? but %zu parameter(s) were given",
                            placeholders, parameters->size());
  }
  return *parameters;
}

void ParserEngine::executeCommand(const char* command, const Parameters* parameters) {
  const Parameters& bound = tokenize(command, parameters);
  if (tokens_.empty()) return;
  const std::string keyword = toLower(tokens_.front().text);
  if (keyword == "select") throw DatabaseException(ErrorKind::kParse, "Function supports all non-select statements");
  if (keyword == "create") {
    executeCreate(bound);
  } else if (keyword == "load") {
    executeLoad(bound);
  } else if (keyword == "drop") {
    executeDrop();
  } else {
    throw DatabaseException(ErrorKind::kParse, "Unknown statement %s: executeCommand runs create, load and drop",
                            tokens_.front().text.c_str());
  }
}

std::unique_ptr<ResultSet> ParserEngine::executeSelect(const char* command, const Parameters* parameters) {
  const Parameters& bound = tokenize(command, parameters);
  if (tokens_.empty()) throw DatabaseException(ErrorKind::kParse, "Empty SELECT statement");
  if (toLower(tokens_.front().text) != "select") {
    throw DatabaseException(ErrorKind::kParse, "Function supports only select statements");
  }
  selectParser_.runWhole(tokens_);
  BoundSelect select = SelectBinder(database_).bind(selectParser_.statement(), bound);
  return ResultSetFactory(database_).build(std::move(select));
}

void ParserEngine::executeCreate(const Parameters& parameters) {
  createParser_.runWhole(tokens_);
  const std::string tableName = createParser_.tableName->value;
  std::vector<ColumnConfig> columns;
  for (const std::unique_ptr<Parser>& definition : createParser_.columnList->elements) {
    columns.push_back(columnConfig(*definition));
  }
  if (createParser_.config->matched) {
    if (ArrowArrayStream* const stream = boundStream(*createParser_.fileName, *createParser_.separator, parameters)) {
      database_.configTableFromStream(tableName, *stream, columns);
      return;
    }
    const char separator = fieldSeparator(*createParser_.separator, *createParser_.separatorText);
    database_.configTable(tableName, fileName(*createParser_.fileName, parameters), columns, separator);
  } else {
    database_.tableInit(tableName, columns);
  }
}

void ParserEngine::executeLoad(const Parameters& parameters) {
  loadParser_.runWhole(tokens_);
  const std::string tableName = loadParser_.tableName->value;
  if (ArrowArrayStream* const stream = boundStream(*loadParser_.fileName, *loadParser_.separator, parameters)) {
    database_.loadStream(tableName, *stream);
    return;
  }
  const char separator = fieldSeparator(*loadParser_.separator, *loadParser_.separatorText);
  database_.loadFile(tableName, fileName(*loadParser_.fileName, parameters), separator);
}

void ParserEngine::executeDrop() {
  dropParser_.runWhole(tokens_);
  const std::string tableName = dropParser_.tableName->value;
  database_.deleteTable(tableName);
}
