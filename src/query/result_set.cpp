#include "query/result_set.h"

#include <numeric>

#include "errors/database_exception.h"
#include "storage/buffer.h"

void ResultSet::initPermutation() {
  permutation.resize(rowCount);
  std::iota(permutation.begin(), permutation.end(), 0U);
  hasPermutation_ = true;
}

void ResultSet::freePermutation() {
  permutation.clear();
  permutation.shrink_to_fit();
  hasPermutation_ = false;
}

std::string ResultSet::getHeader(const std::string& separator) {
  std::string joined;
  const unsigned short count = getNumberOfSelectCols();
  size_t start = 0;
  for (unsigned short k = 0; k < count && start < header.size(); ++k) {
    size_t end = header.find('\0', start);
    if (end == std::string::npos) {
      end = header.size();
    }
    if (k > 0) {
      joined += separator;
    }
    joined.append(header, start, end - start);
    start = end + 1;
  }
  return joined;
}

namespace {

// Appends one CSV field: quoted when it holds a comma.
void appendField(std::string& line, const std::string& value) {
  if (value.find(',') == std::string::npos) {
    line += value;
  } else {
    line += '"';
    line += value;
    line += '"';
  }
}

}  // namespace

void ResultSet::populateCSV(Buffer& out) {
  out.reset();
  const std::string head = getHeader(",") + "\n";
  out.write(head.data(), head.size());
  const unsigned short columns = getNumberOfSelectCols();
  std::string line;
  for (uint32_t position = 0; position < rowCount; ++position) {
    currentRow = position;
    setRowDerived(storedRow(position));
    line.clear();
    if (position > 0) {
      line += '\n';
    }
    for (unsigned short k = 0; k < columns; ++k) {
      if (k > 0) {
        line += ',';
      }
      appendField(line, getSelectString(k));
    }
    out.write(line.data(), line.size());
  }
  out.write("", 1);
}

void ResultSet::watchTable(const std::string& tableName,
                           std::shared_ptr<const uint64_t> changes) {
  const uint64_t seen = *changes;
  watches_.push_back(TableWatch{tableName, std::move(changes), seen});
}

void ResultSet::checkValid() const {
  for (const TableWatch& watch : watches_) {
    if (*watch.changes != watch.seen) {
      throw DatabaseException("Query result is no longer valid: table %s has changed",
                              watch.tableName.c_str());
    }
  }
}
