#pragma once

#include <cstddef>
#include <cstring>
#include <vector>

#include "storage/data_type.h"
#include "storage/text_bytes.h"

// The storage layout of the plain part of a stored row. Columns are stored
// by type in DATA_TYPE_PRIORITY order (within one type in column order):
// the fixed-width values first, packed with no gaps or alignment, then the
// texts, each NUL-terminated. A NodeConfig owns its arrays; it is a plain
// value and may be copied. Pointers handed to its functions must point at
// the plain part of a well-formed row in this layout.
class NodeConfig {
 public:
  // Builds the layout for the given column types. Throws DatabaseException
  // "Unknown data type provided" for a type outside the enumeration and
  // "Column overflow in node table config" when the columns or the fixed
  // width do not fit 16 bits; the layout is unchanged on failure.
  void init(const std::vector<DATA_TYPE>& columnTypes);

  // Byte length of the plain part starting at `row`: the fixed width plus
  // every text with its NUL.
  size_t rowLength(const char* row) const {
    const char* text = row + fixedWidth;
    for (unsigned short i = 0; i < numStrings; ++i) text += textBytes(text);
    return static_cast<size_t>(text - row);
  }
  // Bytes of the NUL-terminated text at `text`, the NUL included. Short
  // texts, the common case in rows, are measured in line without a call.
  static size_t textBytes(const char* text) { return text_bytes::terminatedLength(text) + 1; }
  // The `index`-th text (0 for the first STRING position) of the row.
  const char* stringAt(const char* row, unsigned short index) const;
  // Pointer to the value of `column` in the row; nullptr for a column that
  // is not part of the layout.
  // Inline: reading rows cell by cell calls this for every value.
  const char* valueAt(const char* row, unsigned short column) const {
    if (column >= numColumns) return nullptr;
    const unsigned short position = positions[column];
    if (position < numFixed) return row + offsets[position];
    return stringAt(row, static_cast<unsigned short>(position - numFixed));
  }

  std::vector<unsigned short> types;      // column -> DATA_TYPE
  std::vector<unsigned short> positions;  // column -> storage position
  std::vector<unsigned short> columns;    // storage position -> column
  std::vector<unsigned short> offsets;    // fixed storage position -> byte offset
  unsigned short numFixed = 0;            // fixed-width columns
  unsigned short numStrings = 0;          // STRING columns
  unsigned short numColumns = 0;
  unsigned short fixedWidth = 0;          // bytes of the fixed part
};
