// Looking at a finished tree from outside: the table as a CSV file, the
// consistency check and the size figures.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "errors/database_exception.h"
#include "storage/csv_field.h"
#include "storage/table_iterator.h"
#include "storage/tree_table.h"

namespace {

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};

// Number of set positions before the first 0 of a path.
unsigned short setPositions(const unsigned short* path, unsigned short length) {
  unsigned short count = 0;
  while (count < length && path[count] != 0) ++count;
  return count;
}

}  // namespace

void TreeTable::writeTable(std::string path) const {
  std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "w"));
  if (!file) throw DatabaseException("Unable to write file %s", path.c_str());
  TableIterator rows(this);
  std::string line;
  while (rows.nextRow()) {
    line.clear();
    for (unsigned short column = 0; column < numColumns; ++column) {
      if (column != 0) line += ',';
      // A NULL is an empty field.
      if (nullable[column] != 0 && rows.getPointer(column) == nullptr) continue;
      appendCsvField(line, rows.getString(column));
    }
    std::fprintf(file.get(), "%s\n", line.c_str());
  }
  const bool failed = std::ferror(file.get()) != 0;
  if (std::fclose(file.release()) != 0 || failed) {
    throw DatabaseException("Unable to write file %s", path.c_str());
  }
}

void TreeTable::validateTree() const {
  for (unsigned int index = 0; index < branches.numPaths; ++index) {
    const unsigned short set = setPositions(branches.getPath(index), numCategories);
    const NodeTable* node = findNode(index);
    if (node == nullptr || numCategories - node->level != set) {
      throw DatabaseException("Tree validation: incorrect node level");
    }
    for (const char* row = node->start(); row < node->position; row += node->rowLength(row)) {
      for (unsigned short slot = 0; slot < node->level; ++slot) {
        const unsigned short number = NodeTable::categoryNumberAt(row + NodeTable::numbersBytes(slot));
        if (!holdsNumber(static_cast<unsigned short>(set + slot), number)) {
          throw DatabaseException("Tree validation: incorrect node path value");
        }
      }
      validateNulls(row + NodeTable::numbersBytes(node->level));
    }
  }
}

bool TreeTable::holdsNumber(unsigned short position, unsigned short number) const {
  if (number == NULL_CATEGORY) return nullable[categoryColumns[position]] != 0;
  return levelMaps[position]->containsInt(number);
}

void TreeTable::validateNulls(const char* plain) const {
  const NodeConfig& layout = plainConfig;
  for (unsigned short index = 0; index < layout.numColumns; ++index) {
    if (!layout.isNull(plain, index)) continue;
    const char* value = layout.valueAt(plain, index);
    const size_t width = layout.positions[index] < layout.numFixed ? getTypeWidth(plainTypes[index]) : 1;
    if (std::any_of(value, value + width, [](char byte) { return byte != 0; })) {
      throw DatabaseException("Tree validation: a NULL value of column %d is not empty", plainColumns[index]);
    }
  }
}

std::string TreeTable::getStatistics() const {
  std::vector<uint64_t> capacities;
  uint64_t total = 0;
  uint64_t unused = 0;
  for (const NodeTable* node : nodes) {
    capacities.push_back(node->capacity());
    total += node->capacity();
    unused += node->capacity() - node->used();
  }
  uint64_t categories = 0;
  for (const auto& [column, map] : columnMaps) categories += map->getSize();
  std::sort(capacities.begin(), capacities.end());

  constexpr double kMiB = 1.0 / (1024.0 * 1024.0);
  std::string line = "NumNodes:" + std::to_string(capacities.size());
  line += " NumCat:" + std::to_string(categories);
  line += string_format(" BuffSize:%f", static_cast<double>(total) * kMiB);
  line += string_format(" ExBuff:%f", static_cast<double>(unused) * kMiB);
  const double average = capacities.empty() ? 0.0 : static_cast<double>(total) / capacities.size();
  line += string_format(" Avg:%f", average);
  line += " Qnt:";
  if (capacities.empty()) return line + "0,0,0,0,0";
  const size_t quarter = capacities.size() / 4;
  for (size_t i = 0; i < 4; ++i) line += std::to_string(capacities[i * quarter]) + ",";
  return line + std::to_string(capacities.back());
}
