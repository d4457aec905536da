#pragma once

// ParameterValue: a value bound to a placeholder "?" of a command.

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "storage/arrow_abi.h"

// A value a caller binds to a placeholder, already converted from the
// host's object into plain C++ (the engine never sees the host's objects).
// It stands for the constant of a where condition, which the binder
// converts to the column's type as it converts a written constant, or for
// a file name, which is text or an Arrow stream to read instead. Text is taken as it is: no quote of it
// is read, so no value can change the statement around it.
struct ParameterValue {
  struct Null {};
  struct Date {
    int year = 1970;
    int month = 1;
    int day = 1;
  };
  // An Arrow C stream that only a file name's placeholder may stand for:
  // the statement reads its rows instead of a file. The caller owns the
  // stream and keeps it alive for the command; reading takes it over
  // (leaving its release callback null), and the caller releases it if
  // the command never read it.
  struct Stream {
    ArrowArrayStream* stream = nullptr;
  };
  using Value = std::variant<Null, int64_t, double, std::string, bool, Date, Stream>;

  Value value;

  // The kind of the value as messages name it: "None", "an int", "a
  // float", "a str", "a bool", "a date", "an Arrow stream".
  const char* kindName() const;
};

// The values bound to a command's placeholders, in command order.
using Parameters = std::vector<ParameterValue>;
