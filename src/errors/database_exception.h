#pragma once

#include <exception>
#include <string>
#include <utility>

#include "errors/string_format.h"

// The one exception type of the engine. Every failure the engine detects is
// thrown as a DatabaseException carrying a fully formatted English message;
// the Python binding turns it into RuntimeError with exactly that text.
class DatabaseException : public std::exception {
 public:
  // Builds the message with string_format(format, args...).
  template <typename... Args>
  explicit DatabaseException(const std::string& format, Args... args)
      : message_(string_format(format, args...)) {}

  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};
