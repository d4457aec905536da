#pragma once

#include <cstddef>
#include <cstring>
#include <vector>

#include "storage/data_type.h"
#include "storage/text_bytes.h"

// The storage layout of the plain part of a stored row. A layout with
// nullable columns opens every row with a null bitmap of nullBytes bytes,
// one bit per nullable column in column order (bit b in byte b / 8, value
// 1 << b % 8), set when the row's value is NULL; a layout without them
// has no bitmap. Then the columns, by type in DATA_TYPE_PRIORITY order
// (within one type in column order): the fixed-width values packed with no
// gaps or alignment, then the texts, each NUL-terminated. A NULL value
// keeps its place: zero bytes for a fixed-width type, the empty text for
// STRING, so that lengths and offsets hold for every row. fixedWidth
// counts the bitmap. A NodeConfig owns its arrays; it is a plain value and
// may be copied. Pointers handed to its functions must point at the plain
// part of a well-formed row in this layout.
class NodeConfig {
 public:
  // nullBits entry of a column that cannot hold NULL.
  static constexpr unsigned short kNoNullBit = 0xFFFF;

  // Builds the layout for the given column types; `nullable` (column -> 1
  // when the column may hold NULL) is empty or has an entry per column.
  // Throws DatabaseException "Unknown data type provided" for a type
  // outside the enumeration and "Column overflow in node table config"
  // when the columns or the fixed width do not fit 16 bits; the layout is
  // unchanged on failure.
  void init(const std::vector<DATA_TYPE>& columnTypes, const std::vector<unsigned char>& nullable = {});

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
  // Whether the value of `column` in the row is NULL; false for a column
  // that is not nullable or not part of the layout. The one way to ask.
  bool isNull(const char* row, unsigned short column) const {
    if (nullBytes == 0 || column >= numColumns) return false;
    const unsigned short bit = nullBits[column];
    return bit != kNoNullBit && (static_cast<unsigned char>(row[bit >> 3]) >> (bit & 7) & 1) != 0;
  }
  // Marks the value of nullable `column` in the row NULL (its value bytes
  // are the caller's to zero).
  void setNull(char* row, unsigned short column) const {
    const unsigned short bit = nullBits[column];
    row[bit >> 3] = static_cast<char>(row[bit >> 3] | (1 << (bit & 7)));
  }
  // Pointer to the stored form of `column` in the row (for a NULL, its
  // zero bytes or empty text); nullptr for a column that is not part of
  // the layout.
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
  std::vector<unsigned short> nullBits;   // column -> bit in the null bitmap, kNoNullBit if none
  unsigned short nullBytes = 0;           // bytes of the null bitmap opening the row
  unsigned short numFixed = 0;            // fixed-width columns
  unsigned short numStrings = 0;          // STRING columns
  unsigned short numColumns = 0;
  unsigned short fixedWidth = 0;          // bytes of the fixed part
};
