#pragma once

#include <exception>
#include <string>
#include <utility>

#include "errors/string_format.h"

// What a failure is about, for callers that handle some kinds differently.
enum class ErrorKind {
  kGeneral,      // none of those below
  kParse,        // a command, with its parameters, that is no valid statement
  kUnknownName,  // a table or column that does not exist
  kLoad,         // a file, or a value, that cannot be read into its column's type
  kStaleResult,  // a query result whose tables have changed since
};

// The one exception type of the engine. Every failure the engine detects is
// thrown as a DatabaseException carrying a fully formatted English message
// and its kind; the Python binding turns it into the RuntimeError subclass
// of that kind with exactly that text.
class DatabaseException : public std::exception {
 public:
  // Builds the message with string_format(format, args...).
  template <typename... Args>
  explicit DatabaseException(const std::string& format, Args... args)
      : message_(string_format(format, args...)) {}
  template <typename... Args>
  DatabaseException(ErrorKind kind, const std::string& format, Args... args)
      : message_(string_format(format, args...)), kind_(kind) {}

  const char* what() const noexcept override { return message_.c_str(); }
  ErrorKind kind() const noexcept { return kind_; }

 private:
  std::string message_;
  ErrorKind kind_ = ErrorKind::kGeneral;
};

// Runs `work`; a DatabaseException of no particular kind that leaves it is
// thrown on as one of `kind`, with the same message.
template <typename Work>
decltype(auto) classifyFailures(ErrorKind kind, Work&& work) {
  try {
    return std::forward<Work>(work)();
  } catch (const DatabaseException& e) {
    if (e.kind() != ErrorKind::kGeneral) throw;
    throw DatabaseException(kind, "%s", e.what());
  }
}
