#pragma once

#include <memory>

#include "parser/create_parser.h"
#include "parser/drop_parser.h"
#include "parser/load_parser.h"
#include "parser/parameter_value.h"
#include "parser/parser.h"
#include "parser/select_parser.h"
#include "query/result_set.h"
#include "storage/buffer.h"

class Database;

// The command engine behind a DatabaseParser: tokenizes one command at a
// time into its pooled command buffer and token list, recognises the
// statement from its first token and runs the matching grammar and executor
// on the database. The database must outlive the engine. Per-command state
// (buffer, tokens, what each grammar recorded) stays until the next command.
// Every failure is thrown as DatabaseException; the engine stays usable.
class ParserEngine {
 public:
  explicit ParserEngine(Database& database);

  ParserEngine(const ParserEngine&) = delete;
  ParserEngine& operator=(const ParserEngine&) = delete;

  // Runs a CREATE, LOAD or DROP statement. A command without tokens does
  // nothing; a SELECT and a first word that is no statement keyword are
  // refused. With `parameters` (may be null: none given) every "?" of the
  // command is a placeholder, filled in order; a count of values other
  // than the count of placeholders is refused.
  void executeCommand(const char* command, const Parameters* parameters = nullptr);
  // Runs a SELECT statement and returns its result, owned by the caller.
  // Any other statement and trailing tokens are refused. `parameters` as
  // for executeCommand.
  std::unique_ptr<ResultSet> executeSelect(const char* command, const Parameters* parameters = nullptr);

 private:
  // Copies the command into the buffer and cuts it into tokens, checking
  // that the parameters, when given, fill its placeholders exactly; answers
  // them, or no parameters when none were given.
  const Parameters& tokenize(const char* command, const Parameters* parameters);

  void executeCreate(const Parameters& parameters);
  void executeLoad(const Parameters& parameters);
  void executeDrop();

  Database& database_;
  TokenList tokens_;             // tokens of the current command
  SelectParser selectParser_;
  CreateParser createParser_;
  LoadParser loadParser_;
  DropParser dropParser_;
  Buffer commandBuffer_;         // text of the current command, NUL-terminated
};
