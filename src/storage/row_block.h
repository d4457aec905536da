#pragma once

#include <cstddef>
#include <cstdint>

#include "storage/node_config.h"

// Consecutive rows as a reader holds them, handed to a tree table at once.
// Row r's fixed-width values lie at fixed + r * fixedStride in the layout
// `config` (every column plain; its texts are not there), and its i-th
// text, in column order, is the textBytes[r * textStride + i] - 1 bytes at
// texts[r * textStride + i], not necessarily followed by a NUL, and its
// text_bytes::hash is textHashes[r * textStride + i]: the reader hashes as
// it converts, so that the tree's map lookups need not read short texts.
// The block owns none of it; the reader keeps it valid while the block is
// added.
struct RowBlock {
  const NodeConfig* config = nullptr;
  const char* fixed = nullptr;
  size_t fixedStride = 0;
  const char* const* texts = nullptr;
  const size_t* textBytes = nullptr;
  const uint64_t* textHashes = nullptr;
  size_t textStride = 0;
  uint32_t rows = 0;

  const char* fixedOf(uint32_t row) const { return fixed + size_t{row} * fixedStride; }
  const char* const* textsOf(uint32_t row) const { return texts + size_t{row} * textStride; }
  const size_t* textBytesOf(uint32_t row) const { return textBytes + size_t{row} * textStride; }
  const uint64_t* textHashesOf(uint32_t row) const { return textHashes + size_t{row} * textStride; }
};
