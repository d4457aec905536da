// The name catalogue: table numbers, column names and the column-name index,
// kept dense and in order across every removal.

#include "catalogue/database_schema.h"

#include <algorithm>
#include <iterator>

#include "errors/database_exception.h"

namespace {

constexpr size_t kMaxCount = 65535;

}  // namespace

void DatabaseSchema::addTable(const std::string& name, const std::vector<ColumnConfig>& columns) {
  if (tableNumbers.count(name) != 0) throw DatabaseException("Table %s already exists", name.c_str());
  if (tables.size() >= kMaxCount) {
    throw DatabaseException("Unable to add table %s: a database holds at most 65535 tables", name.c_str());
  }
  if (columns.size() > kMaxCount) {
    throw DatabaseException("Unable to add table %s: a table has at most 65535 columns", name.c_str());
  }
  const auto number = static_cast<unsigned short>(tables.size());
  TableEntry entry{name, {}, static_cast<unsigned short>(columns.size())};
  entry.columnNames.reserve(columns.size());
  for (const ColumnConfig& column : columns) entry.columnNames.push_back(column.name);
  tables.push_back(std::move(entry));
  tableNumbers.emplace(name, number);
  // The new table has the highest number: appending keeps each list in order.
  for (unsigned short c = 0; c < tables.back().numColumns; ++c) {
    columnsByName[tables.back().columnNames[c]].push_back({number, c});
  }
}

void DatabaseSchema::removeTable(const std::string& name) {
  const auto found = tableNumbers.find(name);
  if (found != tableNumbers.end()) {
    const unsigned short removed = found->second;
    tableNumbers.erase(found);
    tables.erase(tables.begin() + removed);
    for (auto& [tableName, number] : tableNumbers) {
      if (number > removed) --number;
    }
    forgetColumnsOf(removed);
  }
}

void DatabaseSchema::forgetColumnsOf(unsigned short removed) {
  for (auto named = columnsByName.begin(); named != columnsByName.end();) {
    std::vector<TableCol>& list = named->second;
    std::erase_if(list, [removed](const TableCol& c) { return c.table == removed; });
    for (TableCol& c : list) {
      if (c.table > removed) --c.table;
    }
    named = list.empty() ? columnsByName.erase(named) : std::next(named);
  }
}

unsigned short DatabaseSchema::getTableNumber(const std::string& name) const {
  const auto found = tableNumbers.find(name);
  if (found == tableNumbers.end()) throw DatabaseException(ErrorKind::kUnknownName,
                                                           "Table %s is not defined", name.c_str());
  return found->second;
}

unsigned short DatabaseSchema::getNumberOfTables() const {
  return static_cast<unsigned short>(tables.size());
}

const DatabaseSchema::TableEntry& DatabaseSchema::entry(unsigned short table) const {
  if (table >= tables.size()) throw DatabaseException("Table number %d is not defined", table);
  return tables[table];
}

const std::string& DatabaseSchema::getTableName(unsigned short table) const {
  return entry(table).name;
}

unsigned short DatabaseSchema::getNumberOfColumns(const std::string& name) const {
  return tables[getTableNumber(name)].numColumns;
}

const std::string& DatabaseSchema::getColName(unsigned short table, unsigned short column) const {
  const TableEntry& found = entry(table);
  if (column >= found.numColumns) {
    throw DatabaseException("Column number %d is not defined for table %s", column, found.name.c_str());
  }
  return found.columnNames[column];
}

const std::string& DatabaseSchema::getColName(TableCol column) const {
  return getColName(column.table, column.column);
}

template <typename Visit>
void DatabaseSchema::forEachNamed(const std::string& column, Visit visit) const {
  const auto named = columnsByName.find(column);
  if (named == columnsByName.end()) return;
  for (const TableCol& c : named->second) {
    if (!visit(c)) return;
  }
}

bool DatabaseSchema::containsColumn(const std::string& column) const {
  bool found = false;
  forEachNamed(column, [&](const TableCol&) { return !(found = true); });
  return found;
}

bool DatabaseSchema::containsColumn(const std::string& table, const std::string& column) const {
  bool found = false;
  forEachNamed(column, [&](const TableCol& c) {
    found = tables[c.table].name == table;
    return !found;
  });
  return found;
}

std::vector<TableCol> DatabaseSchema::findAllByColumnName(const std::string& column) const {
  std::vector<TableCol> found;
  forEachNamed(column, [&](const TableCol& c) {
    found.push_back(c);
    return true;
  });
  return found;
}

std::vector<TableCol> DatabaseSchema::findColumn(const std::string& table, const std::string& column) const {
  std::vector<TableCol> found;
  forEachNamed(column, [&](const TableCol& c) {
    if (tables[c.table].name == table) found.push_back(c);
    return true;
  });
  return found;
}

std::vector<TableCol> DatabaseSchema::findAllByTableName(const std::string& table) const {
  std::vector<TableCol> found;
  const auto named = tableNumbers.find(table);
  if (named == tableNumbers.end()) return found;
  const unsigned short number = named->second;
  for (unsigned short c = 0; c < tables[number].numColumns; ++c) found.push_back({number, c});
  return found;
}
