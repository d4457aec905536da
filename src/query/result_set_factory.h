#pragma once

#include <string>

class Database;

// Collects the parts of one query (tables, selected columns, conditions, sort
// keys) as the SELECT executors read them from the parsed statement, and
// builds the finished result set. The factory refers to the database it was
// built with, which must outlive it; it owns the conditions and comparators
// it creates and releases them in clear() and on destruction.
class ResultSetFactory {
 public:
  explicit ResultSetFactory(Database& database);
  ~ResultSetFactory();

  ResultSetFactory(const ResultSetFactory&) = delete;
  ResultSetFactory& operator=(const ResultSetFactory&) = delete;

  // Forgets the parts of the previous query.
  void clear();

  // Number of the table named after "from"; 65535 until set.
  unsigned short mainTable = 65535;

 private:
  Database& database_;
  // Names of the selected columns, each followed by one NUL character.
  std::string header_;
};
