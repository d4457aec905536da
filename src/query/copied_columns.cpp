// Result values kept as arrays by position: values copied, texts as pointers or copies.

#include "query/copied_columns.h"

CopiedColumns::CopiedColumns(const std::vector<unsigned short>& widths, const std::vector<bool>& copiedTexts,
                             uint32_t rows) {
  columns_.reserve(widths.size());
  for (size_t k = 0; k < widths.size(); ++k) {
    const bool pointers = widths[k] == 0;
    const auto bytes = static_cast<unsigned short>(pointers ? sizeof(const void*) : widths[k]);
    columns_.push_back(
        Column{pointers, pointers && copiedTexts[k], bytes, std::vector<char>(size_t{rows} * bytes), 0, {}});
  }
}

namespace {

// to[i] = from[order[i]] for values of `Width` bytes.
template <size_t Width>
void gather(char* to, const char* from, const std::vector<uint32_t>& order) {
  for (const uint32_t source : order) {
    std::memcpy(to, from + size_t{source} * Width, Width);
    to += Width;
  }
}

}  // namespace

CopiedColumns CopiedColumns::permuted(const std::vector<uint32_t>& order) const {
  CopiedColumns copy;
  copy.columns_.reserve(columns_.size());
  for (const Column& column : columns_) {
    Column& to = copy.columns_.emplace_back(Column{column.pointers, column.copiedTexts, column.width,
                                                   std::vector<char>(order.size() * column.width), column.textBytes,
                                                   {}});
    switch (column.width) {
      case 8: gather<8>(to.bytes.data(), column.bytes.data(), order); break;
      case 4: gather<4>(to.bytes.data(), column.bytes.data(), order); break;
      case 2: gather<2>(to.bytes.data(), column.bytes.data(), order); break;
      default: gather<1>(to.bytes.data(), column.bytes.data(), order);
    }
    if (to.copiedTexts && to.textBytes <= kMaxTextBytesPerRow * order.size()) copyTexts(to);
  }
  return copy;
}

void CopiedColumns::copyTexts(Column& column) {
  column.texts.resize(column.textBytes);
  char* const copies = column.texts.data();
  char* const pointers = column.bytes.data();
  const size_t count = column.bytes.size() / sizeof(const char*);
  size_t used = 0;
  for (size_t i = 0; i < count; ++i) {
    const char* text;
    std::memcpy(&text, pointers + i * sizeof text, sizeof text);
    if (text == nullptr) continue;
    const size_t bytes = text_bytes::terminatedLength(text) + 1;
    // The same texts were measured when put: they fit exactly.
    std::memcpy(copies + used, text, bytes);
    const char* const copy = copies + used;
    std::memcpy(pointers + i * sizeof copy, &copy, sizeof copy);
    used += bytes;
  }
}

void CopiedColumns::read(size_t k, uint32_t first, uint32_t end, const void** out) const {
  const Column& column = columns_[k];
  const char* const values = column.bytes.data() + size_t{first} * column.width;
  const uint32_t count = end - first;
  if (column.pointers) {
    for (uint32_t i = 0; i < count; ++i) std::memcpy(&out[i], values + i * sizeof *out, sizeof *out);
    return;
  }
  for (uint32_t i = 0; i < count; ++i) out[i] = values + size_t{i} * column.width;
}
