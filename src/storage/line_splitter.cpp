// Cutting lines into comma-separated fields, sixteen or sixty-four bytes at
// a time.

#include "storage/line_splitter.h"

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "storage/bit_count.h"

namespace {

// Bytes the general splitter looks at in one step: one SSE2 register, so
// each separator's positions come as one 16-bit mask.
constexpr size_t kChunkBytes = 16;

static_assert(LineSplitter::kShortLineBytes % kChunkBytes == 0 && LineSplitter::kShortLineBytes <= 64,
              "a short line is whole chunks, its positions one 64-bit mask");

// Unquotes a field that starts with a double quote: its first and last
// characters go, and a doubled quote inside stands for one. A lone quote
// leaves an empty text.
void stripQuotes(char*& text, size_t& length) {
  if (length == 0 || *text != '"') return;
  if (length == 1) {
    *text = '\0';
    length = 0;
    return;
  }
  ++text;
  length -= 2;
  const char* in = text;
  const char* const end = text + length;
  char* out = text;
  while (in != end) {
    if (in[0] == '"' && in + 1 != end && in[1] == '"') ++in;
    *out++ = *in++;
  }
  length = static_cast<size_t>(out - text);
  text[length] = '\0';
}

// Bit i of `commas` (`quotes`, `nuls`) is set when byte i of the chunk at
// `c` is a comma (a double quote, a NUL). All its bytes must be readable.
void separatorMasks(const char* c, unsigned& commas, unsigned& quotes, unsigned& nuls) {
#if defined(__SSE2__)
  const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c));
  commas = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, _mm_set1_epi8(','))));
  quotes = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, _mm_set1_epi8('"'))));
  nuls = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, _mm_setzero_si128())));
#else
  commas = 0;
  quotes = 0;
  nuls = 0;
  for (unsigned i = 0; i < kChunkBytes; ++i) {
    if (c[i] == ',') commas |= 1u << i;
    if (c[i] == '"') quotes |= 1u << i;
    if (c[i] == '\0') nuls |= 1u << i;
  }
#endif
}

// Bit i of `commas` (`newlines`, `special`) is set when byte i of the
// kShortLineBytes bytes at `c` is a comma (a line feed, a double quote or
// NUL). All of them must be readable.
void shortLineMasks(const char* c, uint64_t& commas, uint64_t& newlines, uint64_t& special) {
  commas = 0;
  newlines = 0;
  special = 0;
#if defined(__SSE2__)
  for (unsigned part = 0; part < LineSplitter::kShortLineBytes / kChunkBytes; ++part) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + kChunkBytes * part));
    const auto mask = [](__m128i bytes) {
      return static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(bytes)));
    };
    const unsigned shift = kChunkBytes * part;
    commas |= mask(_mm_cmpeq_epi8(chunk, _mm_set1_epi8(','))) << shift;
    newlines |= mask(_mm_cmpeq_epi8(chunk, _mm_set1_epi8('\n'))) << shift;
    special |= mask(_mm_or_si128(_mm_cmpeq_epi8(chunk, _mm_set1_epi8('"')), _mm_cmpeq_epi8(chunk, _mm_setzero_si128())))
               << shift;
  }
#else
  for (unsigned i = 0; i < LineSplitter::kShortLineBytes; ++i) {
    if (c[i] == ',') commas |= uint64_t{1} << i;
    if (c[i] == '\n') newlines |= uint64_t{1} << i;
    if (c[i] == '"' || c[i] == '\0') special |= uint64_t{1} << i;
  }
#endif
}

}  // namespace

void LineSplitter::setColumns(unsigned short columns) {
  columns_ = columns;
  fields_.assign(columns, Field{nullptr, 0});
}

size_t LineSplitter::countFields(const char* line, size_t length) {
  size_t fields = 1;
  bool quoted = false;
  for (const char* c = line; c != line + length; ++c) {
    if (*c == '"') quoted = !quoted;
    if (*c == ',' && !quoted) ++fields;
  }
  return fields;
}

size_t LineSplitter::split(char* line, size_t length) {
  Field* const out = fields_.data();
  char* fieldStart = line;
  size_t count = 1;
  bool quoted = false;
  lineHasQuotes_ = false;
  unsigned anyNul = 0;
  char* const end = line + length;
  // Ends the field at a comma outside quotes.
  const auto cut = [&](char* comma) {
    *comma = '\0';
    if (count <= columns_) out[count - 1] = {fieldStart, static_cast<size_t>(comma - fieldStart)};
    fieldStart = comma + 1;
    ++count;
  };
  // A chunk at a time: the separators of a chunk come as bit masks. The
  // last chunk may run past the line (readable, see the class comment), so
  // its masks are cut to the bytes of the line. Outside quotes a chunk
  // without a quote is only commas, taken in a tight loop.
  for (char* c = line; c < end; c += kChunkBytes) {
    unsigned commas = 0;
    unsigned quotes = 0;
    unsigned nuls = 0;
    separatorMasks(c, commas, quotes, nuls);
    if (static_cast<size_t>(end - c) < kChunkBytes) {
      const unsigned inLine = (1u << (end - c)) - 1;
      commas &= inLine;
      quotes &= inLine;
      nuls &= inLine;
    }
    anyNul |= nuls;
    if (quotes == 0 && !quoted) {
      for (; commas != 0; commas &= commas - 1) cut(c + std::countr_zero(commas));
      continue;
    }
    lineHasQuotes_ = true;
    for (unsigned mask = commas | quotes; mask != 0; mask &= mask - 1) {
      char* const separator = c + std::countr_zero(mask);
      if (*separator == '"') {
        quoted = !quoted;
      } else if (!quoted) {
        cut(separator);
      }
    }
  }
  if (count <= columns_) out[count - 1] = {fieldStart, static_cast<size_t>(end - fieldStart)};
  lineHasNuls_ = anyNul != 0;
  return count;
}

size_t LineSplitter::splitShort(char* data, size_t available) {
  uint64_t commas = 0;
  uint64_t newlines = 0;
  uint64_t special = 0;
  shortLineMasks(data, commas, newlines, special);
  if (available < kShortLineBytes) newlines &= (uint64_t{1} << available) - 1;
  if (newlines == 0) return 0;
  const unsigned lineFeed = static_cast<unsigned>(std::countr_zero(newlines));
  // A CR LF line end is cut before its carriage return.
  const unsigned length = lineFeed != 0 && data[lineFeed - 1] == '\r' ? lineFeed - 1 : lineFeed;
  const uint64_t inLine = (uint64_t{1} << length) - 1;
  commas &= inLine;
  if (length == 0 || (special & inLine) != 0 || countOnes(commas) + 1 != columns_) return 0;
  // Exactly one comma between two fields: the loop runs the same number of
  // times for every line.
  Field* const out = fields_.data();
  char* fieldStart = data;
  for (unsigned short column = 0; column + 1 < columns_; ++column) {
    char* const comma = data + std::countr_zero(commas);
    commas &= commas - 1;
    *comma = '\0';
    out[column] = {fieldStart, static_cast<size_t>(comma - fieldStart)};
    fieldStart = comma + 1;
  }
  data[length] = '\0';
  out[columns_ - 1] = {fieldStart, static_cast<size_t>(data + length - fieldStart)};
  lineHasQuotes_ = false;
  lineHasNuls_ = false;
  return lineFeed + 1;
}

void LineSplitter::finishSpecialFields() {
  // Only a line with a double quote can hold a quoted field.
  if (lineHasQuotes_) {
    for (Field& field : fields_) stripQuotes(field.text, field.length);
  }
  // A value ends at its first NUL: a NUL byte read from the file ends the
  // field there, so that a stored row holds each text whole and in its
  // place.
  if (lineHasNuls_) {
    for (Field& field : fields_) field.length = std::strlen(field.text);
  }
}
