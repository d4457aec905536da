#pragma once

#include <memory>

#include "parser/create_parser.h"
#include "parser/drop_parser.h"
#include "parser/load_parser.h"
#include "parser/parser.h"
#include "parser/select_parser.h"
#include "query/result_set.h"
#include "storage/buffer.h"

class Database;
struct ArrowArrayStream;

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
  // refused.
  void executeCommand(const char* command);
  // The same for a LOAD or CREATE ... CONFIG FROM whose file name is `?`:
  // it reads `stream` instead of a file. The engine takes the stream over
  // (it is released, read or not, when the command ends); a command that
  // would not read it is refused.
  void executeCommand(const char* command, ArrowArrayStream& stream);
  // Runs a SELECT statement and returns its result, owned by the caller.
  // Any other statement and trailing tokens are refused.
  std::unique_ptr<ResultSet> executeSelect(const char* command);

 private:
  void copyCommandToBuffer(const char* command);
  void populateTokens();

  void executeCreate();
  void executeLoad();
  void executeDrop();
  // The stream of the command for a statement reading `fileName` (with the
  // separator clause `separator`), or null when it reads the file; refuses
  // a stream the statement would not read.
  ArrowArrayStream* streamFor(const std::string& fileName, const StatementParser& separator) const;
  // Refuses the command's stream, if any: the statement reads none.
  void refuseStream() const;

  Database& database_;
  ArrowArrayStream* stream_ = nullptr;  // the current command's stream, if any
  TokenList tokens_;             // tokens of the current command
  SelectParser selectParser_;
  CreateParser createParser_;
  LoadParser loadParser_;
  DropParser dropParser_;
  Buffer commandBuffer_;         // text of the current command, NUL-terminated
};
