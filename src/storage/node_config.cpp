// NodeConfig: the plain row layout (null bitmap, fixed-width values by type
// priority, then NUL-terminated texts) and finding a row's texts in it.

#include "storage/node_config.h"

#include <cstdint>
#include <cstring>

#include "errors/database_exception.h"

namespace {

const char* kColumnOverflow = "Column overflow in node table config";

}  // namespace

void NodeConfig::init(const std::vector<DATA_TYPE>& columnTypes, const std::vector<unsigned char>& nullable) {
  if (columnTypes.size() > UINT16_MAX) throw DatabaseException(kColumnOverflow);
  if (!nullable.empty() && nullable.size() != columnTypes.size()) {
    throw DatabaseException("Nullable flags do not match the columns of the node table config");
  }
  NodeConfig layout;
  layout.numColumns = static_cast<unsigned short>(columnTypes.size());
  layout.types.assign(columnTypes.begin(), columnTypes.end());
  layout.positions.assign(layout.numColumns, 0);
  layout.columns.reserve(layout.numColumns);

  for (const DATA_TYPE type : DATA_TYPE_PRIORITY) {
    for (unsigned short column = 0; column < layout.numColumns; ++column) {
      if (columnTypes[column] != type) continue;
      layout.positions[column] = static_cast<unsigned short>(layout.columns.size());
      layout.columns.push_back(column);
    }
  }

  layout.nullBits.assign(layout.numColumns, kNoNullBit);
  unsigned short nullColumns = 0;
  for (size_t column = 0; column < nullable.size(); ++column) {
    if (nullable[column] != 0) layout.nullBits[column] = nullColumns++;
  }
  layout.nullBytes = static_cast<unsigned short>((nullColumns + 7) / 8);

  uint32_t width = layout.nullBytes;
  for (const DATA_TYPE type : columnTypes) {
    if (type == STRING) {
      ++layout.numStrings;
      continue;
    }
    width += getTypeWidth(type);
    ++layout.numFixed;
  }
  if (width > UINT16_MAX) throw DatabaseException(kColumnOverflow);
  layout.fixedWidth = static_cast<unsigned short>(width);

  // Fixed positions follow the bitmap and precede the texts, so the
  // offsets are a running sum.
  layout.offsets.assign(layout.numColumns, 0);
  unsigned short offset = layout.nullBytes;
  for (unsigned short position = 0; position < layout.numFixed; ++position) {
    layout.offsets[position] = offset;
    offset += getTypeWidth(columnTypes[layout.columns[position]]);
  }
  *this = std::move(layout);
}

const char* NodeConfig::stringAt(const char* row, unsigned short index) const {
  const char* text = row + fixedWidth;
  for (unsigned short i = 0; i < index; ++i) text += textBytes(text);
  return text;
}
