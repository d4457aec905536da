// A node's block of rows: appending rows, the split decision, and the row
// offsets and column copies that scans read.

#include "storage/node_table.h"

#include <algorithm>
#include <cstring>

#include "errors/database_exception.h"
#include "storage/node_iterator.h"

namespace {

constexpr size_t kSeenWords = 65536 / 64;

}  // namespace

NodeTable::NodeTable(const NodeConfig* config, unsigned int pathIndex, unsigned short level)
    : NodeTable(config, pathIndex, level, 1) {}

NodeTable::NodeTable(const NodeConfig* config, unsigned int pathIndex, unsigned short level,
                     unsigned short sizeClass)
    : Buffer(sizeClass), config(config), pathIndex(pathIndex), level(level), splitAttempts(1) {}

void NodeTable::addRow(NodeIterator& row) {
  write(row.current, row.config->rowLength(row.current));
}

void NodeTable::writeLine(const char* bytes, unsigned short length) { write(bytes, length); }

void NodeTable::writeEntry(const char* value, DATA_TYPE type) {
  if (type != STRING) {
    write(value, getTypeWidth(type));
    return;
  }
  const size_t length = std::strlen(value) + 1;
  if (length > MAX_STRING_BYTES) {
    throw DatabaseException("Text value of %d bytes exceeds the limit of %d bytes per value",
                            static_cast<int>(length), static_cast<int>(MAX_STRING_BYTES));
  }
  write(value, length);
}

bool NodeTable::performSplit() {
  if (level == 0 || used() == 0) return false;
  if (!seen_ || scannedBytes_ > used()) {
    seen_ = std::make_unique<uint64_t[]>(kSeenWords);
    scannedBytes_ = 0;
    distinctFirst_ = 0;
  }
  const char* row = start() + scannedBytes_;
  while (row < position) {
    const unsigned short first = categoryNumberAt(row);
    uint64_t& word = seen_[first / 64];
    const uint64_t bit = uint64_t{1} << (first % 64);
    if ((word & bit) == 0) {
      word |= bit;
      ++distinctFirst_;
    }
    row += rowLength(row);
  }
  scannedBytes_ = used();

  const double ratio = static_cast<double>(capacity()) / distinctFirst_;
  if (ratio > kMinBytesPerChild) return true;
  ++splitAttempts;
  return false;
}

void NodeTable::forgetSplitScan() {
  seen_.reset();
  scannedBytes_ = 0;
  distinctFirst_ = 0;
}

const std::vector<uint32_t>& NodeTable::plainOffsets() {
  // A block that shrank was refilled: index it anew.
  if (used() < indexedBytes_) {
    plainOffsets_.clear();
    indexedBytes_ = 0;
    for (ColumnCopy& copy : columnCopies_) copy.values.clear();
  }
  const size_t numbers = numbersBytes(level);
  const char* const base = start();
  for (const char* row = base + indexedBytes_; row < position;) {
    const char* plain = row + numbers;
    plainOffsets_.push_back(static_cast<uint32_t>(plain - base));
    row = plain + config->rowLength(plain);
  }
  indexedBytes_ = used();
  return plainOffsets_;
}

const std::vector<char>& NodeTable::plainColumn(unsigned short offset, unsigned short width) {
  const std::vector<uint32_t>& rows = plainOffsets();
  auto copy = std::find_if(columnCopies_.begin(), columnCopies_.end(),
                           [offset, width](const ColumnCopy& c) { return c.offset == offset && c.width == width; });
  if (copy == columnCopies_.end()) {
    columnCopies_.push_back({offset, width, {}});
    copy = columnCopies_.end() - 1;
  }
  std::vector<char>& values = copy->values;
  const char* const base = start();
  const size_t copied = values.size() / width;
  values.resize(rows.size() * width);
  for (size_t row = copied; row < rows.size(); ++row) {
    std::memcpy(values.data() + row * width, base + rows[row] + offset, width);
  }
  return values;
}
