#pragma once

// ParameterValue: a value bound to a placeholder "?" of a command.

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

// A value a caller binds to a placeholder, already converted from the
// host's object into plain C++ (the engine never sees the host's objects).
// It stands for the constant of a where condition, which the binder
// converts to the column's type as it converts a written constant, or for
// a file name, which must be text. Text is taken as it is: no quote of it
// is read, so no value can change the statement around it.
struct ParameterValue {
  struct Null {};
  struct Date {
    int year = 1970;
    int month = 1;
    int day = 1;
  };
  using Value = std::variant<Null, int64_t, double, std::string, bool, Date>;

  Value value;

  // The kind of the value as messages name it: "None", "an int", "a
  // float", "a str", "a bool", "a date".
  const char* kindName() const;
};

// The values bound to a command's placeholders, in command order.
using Parameters = std::vector<ParameterValue>;
