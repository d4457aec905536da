#pragma once

#include <cstddef>
#include <vector>

#include "storage/node_config.h"
#include "storage/text_bytes.h"

// How a row in an incoming layout (every column plain, the texts apart)
// becomes the plain part of a stored row in a tree's layout: the byte
// copies of its fixed-width values and null flags, and which of its texts
// are stored (a categorised column's are not). A plain value, built by the
// tree from both layouts; a reader may keep a copy to lay rows out for the
// tree ahead of it, and two copies that compare equal write the same
// bytes. Pointers handed to it must point at rows in the incoming layout
// it was built for.
class StoredRowLayout {
 public:
  // Largest stored row in bytes, category numbers included.
  static constexpr size_t kMaxRowBytes = 65535;

  // Builds the plan for rows in `incoming` stored as `plain`, whose
  // columns are the table columns `plainColumns`; `isPlain` (table column
  // -> 1 when stored plain) tells the stored texts.
  void prepare(const NodeConfig& incoming, const NodeConfig& plain, const std::vector<unsigned short>& plainColumns,
               const std::vector<unsigned char>& isPlain);

  // Bytes of the stored plain part of a row whose i-th text, in column
  // order, is textBytes[i] - 1 bytes long.
  size_t plainLength(const size_t* textBytes) const {
    size_t length = fixedWidth_;
    for (size_t index = 0; index < textIsPlain_.size(); ++index) {
      if (textIsPlain_[index] != 0) length += textBytes[index];
    }
    return length;
  }
  // Writes the stored plain part of the incoming row `plain`, whose i-th
  // text is the textBytes[i] - 1 bytes at texts[i], at `target`; returns
  // its end. Inline: every stored row of a load goes through it.
  char* write(char* target, const char* plain, const char* const* texts, const size_t* textBytes) const {
    if (noColumns_) *target = 0;
    for (const FixedCopy& copy : fixedCopies_) {
      text_bytes::copy(target + copy.target, plain + copy.source, copy.width);
    }
    if (!nullCopies_.empty()) writeNullBits(target, plain);
    char* text = target + fixedWidth_;
    for (size_t index = 0; index < textIsPlain_.size(); ++index) {
      if (textIsPlain_[index] == 0) continue;
      const size_t length = textBytes[index] - 1;
      text_bytes::copy(text, texts[index], length);
      text[length] = '\0';
      text += length + 1;
    }
    return text;
  }

  bool operator==(const StoredRowLayout&) const = default;

 private:
  // One memcpy of the fixed part: bytes at `source` in the incoming row go
  // to `target` in the stored plain part.
  struct FixedCopy {
    unsigned short source;
    unsigned short target;
    unsigned short width;
    bool operator==(const FixedCopy&) const = default;
  };
  // One null flag of a plain nullable column: its bit in the incoming
  // row's bitmap and in the stored plain part's.
  struct NullCopy {
    unsigned short source;
    unsigned short target;
    bool operator==(const NullCopy&) const = default;
  };

  // The null flags' part of the plan: a byte copy of the bitmap when the
  // incoming and stored bitmaps agree, else nullCopies_.
  void prepareNullCopies(const NodeConfig& incoming, const NodeConfig& plain,
                         const std::vector<unsigned short>& plainColumns);
  void writeNullBits(char* target, const char* plain) const;

  std::vector<FixedCopy> fixedCopies_;
  std::vector<NullCopy> nullCopies_;         // empty when the bitmap is a fixed copy
  std::vector<unsigned char> textIsPlain_;   // incoming text index -> stored plain
  unsigned short fixedWidth_ = 0;            // of the stored plain part
  unsigned short nullBytes_ = 0;             // of the stored null bitmap
  bool noColumns_ = false;                   // the plain part is one filler byte
};
