// ParserEngine: tokenizes a command, picks the grammar by its first word and
// runs it: CREATE, LOAD and DROP on the database, SELECT through the binder
// and the result-set factory.

#include "parserengine/parser_engine.h"

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
    throw DatabaseException("Column type %s is not supported", typeName.c_str());
  }
  column.nullable = elementMatched(definition, CREATE_COL_NULL);
  if (!elementMatched(definition, CREATE_COL_CAT)) return column;
  const std::string& number = elementText(definition, CREATE_COL_CAT_NUMBER);
  if (number.empty()) {
    throw DatabaseException("Category number is empty for column %s", column.name.c_str());
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
  if (written.empty()) throw DatabaseException("Separator is empty: it must be one character, such as ';' or '\\t'");
  throw DatabaseException("Separator '%s' must be one character, such as ';' or '\\t'", written.c_str());
}

}  // namespace

ParserEngine::ParserEngine(Database& database) : database_(database) {}

void ParserEngine::copyCommandToBuffer(const char* command) {
  ::copyCommandToBuffer(commandBuffer_, command);
}

void ParserEngine::populateTokens() { ::populateTokens(commandBuffer_, tokens_); }

void ParserEngine::executeCommand(const char* command) {
  copyCommandToBuffer(command);
  populateTokens();
  if (tokens_.empty()) return;
  const std::string keyword = toLower(tokens_.front());
  if (keyword == "select") throw DatabaseException("Function supports all non-select statements");
  if (keyword == "create") {
    executeCreate();
  } else if (keyword == "load") {
    executeLoad();
  } else if (keyword == "drop") {
    executeDrop();
  } else {
    throw DatabaseException("Unknown statement %s: executeCommand runs create, load and drop",
                            tokens_.front().c_str());
  }
}

void ParserEngine::executeCommand(const char* command, ArrowArrayStream& stream) {
  // Released when the command ends unless the database took it over.
  struct Release {
    ArrowArrayStream& stream;
    ArrowArrayStream*& current;
    ~Release() {
      current = nullptr;
      if (stream.release != nullptr) stream.release(&stream);
    }
  } release{stream, stream_};
  stream_ = &stream;
  executeCommand(command);
  // A command without a statement reads nothing either.
  if (stream.release != nullptr) refuseStream();
}

void ParserEngine::refuseStream() const {
  if (stream_ != nullptr) throw DatabaseException("The command reads no Arrow stream: write ? for its file name");
}

ArrowArrayStream* ParserEngine::streamFor(const std::string& fileName, const StatementParser& separator) const {
  if (stream_ == nullptr) return nullptr;
  if (separator.matched) throw DatabaseException("An Arrow stream has no field separator: leave out separator");
  if (fileName != "?") {
    throw DatabaseException("The command reads the file %s, not the Arrow stream given with it: write ? for the "
                            "file name",
                            fileName.c_str());
  }
  return stream_;
}

std::unique_ptr<ResultSet> ParserEngine::executeSelect(const char* command) {
  copyCommandToBuffer(command);
  populateTokens();
  if (tokens_.empty()) throw DatabaseException("Empty SELECT statement");
  if (toLower(tokens_.front()) != "select") {
    throw DatabaseException("Function supports only select statements");
  }
  selectParser_.runWhole(tokens_);
  BoundSelect bound = SelectBinder(database_).bind(selectParser_.statement());
  return ResultSetFactory(database_).build(std::move(bound));
}

void ParserEngine::executeCreate() {
  createParser_.runWhole(tokens_);
  const std::string tableName = createParser_.tableName->value;
  std::vector<ColumnConfig> columns;
  for (const std::unique_ptr<Parser>& definition : createParser_.columnList->elements) {
    columns.push_back(columnConfig(*definition));
  }
  if (createParser_.config->matched) {
    if (ArrowArrayStream* const stream = streamFor(createParser_.fileName->value, *createParser_.separator)) {
      database_.configTableFromStream(tableName, *stream, columns);
      return;
    }
    const char separator = fieldSeparator(*createParser_.separator, *createParser_.separatorText);
    database_.configTable(tableName, createParser_.fileName->value, columns, separator);
  } else {
    refuseStream();
    database_.tableInit(tableName, columns);
  }
}

void ParserEngine::executeLoad() {
  loadParser_.runWhole(tokens_);
  const std::string tableName = loadParser_.tableName->value;
  const std::string fileName = loadParser_.fileName->value;
  if (ArrowArrayStream* const stream = streamFor(fileName, *loadParser_.separator)) {
    database_.loadStream(tableName, *stream);
    return;
  }
  database_.loadFile(tableName, fileName, fieldSeparator(*loadParser_.separator, *loadParser_.separatorText));
}

void ParserEngine::executeDrop() {
  dropParser_.runWhole(tokens_);
  const std::string tableName = dropParser_.tableName->value;
  refuseStream();
  database_.deleteTable(tableName);
}
