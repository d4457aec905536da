// Cutting lines into separated fields, sixteen or sixty-four bytes at a time.

#include "storage/line_splitter.h"

#include <algorithm>
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

using Quoting = LineSplitter::Quoting;

// Byte classes of the quoting rules.
enum ByteClass : unsigned char { kOther, kQuote, kSeparator };

// The state after a byte of each class, read in each state. In a quoted
// field, a quote right after a quote stands for one.
constexpr Quoting kNextState[4][3] = {
    {Quoting::kPlain, Quoting::kQuoted, Quoting::kFieldStart},  // kFieldStart
    {Quoting::kPlain, Quoting::kPlain, Quoting::kFieldStart},   // kPlain
    {Quoting::kQuoted, Quoting::kQuoteSeen, Quoting::kQuoted},  // kQuoted
    {Quoting::kPlain, Quoting::kQuoted, Quoting::kFieldStart},  // kQuoteSeen
};

Quoting nextState(Quoting state, ByteClass byte) { return kNextState[static_cast<unsigned>(state)][byte]; }

// Unquotes a field that starts with a double quote: the opening quote goes,
// a doubled quote inside stands for one, the next single quote closes the
// field and goes, and what follows it is kept as it stands.
void unquote(char*& text, size_t& length) {
  if (length == 0 || *text != '"') return;
  // The usual quoted field, whose only other quote closes it at its end,
  // keeps its bytes where they are.
  const void* const closing = std::memchr(text + 1, '"', length - 1);
  if (closing == text + length - 1) {
    text[length - 1] = '\0';
    ++text;
    length -= 2;
    return;
  }
  const char* in = text + 1;
  const char* const end = text + length;
  ++text;
  char* out = text;
  bool quoted = true;
  while (in != end) {
    if (quoted && *in == '"') {
      const bool doubled = in + 1 != end && in[1] == '"';
      if (doubled) *out++ = '"';
      quoted = doubled;
      in += doubled ? 2 : 1;
      continue;
    }
    *out++ = *in++;
  }
  length = static_cast<size_t>(out - text);
  text[length] = '\0';
}

// Bit i of `separators` (`quotes`, `nuls`) is set when byte i of the chunk at
// `c` is the separator (a double quote, a NUL) before `end`. All the
// chunk's bytes must be readable.
void separatorMasks(const char* c, const char* end, char separator, unsigned& separators, unsigned& quotes,
                    unsigned& nuls) {
#if defined(__SSE2__)
  const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c));
  separators = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, _mm_set1_epi8(separator))));
  quotes = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, _mm_set1_epi8('"'))));
  nuls = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, _mm_setzero_si128())));
#else
  separators = 0;
  quotes = 0;
  nuls = 0;
  for (unsigned i = 0; i < kChunkBytes; ++i) {
    if (c[i] == separator) separators |= 1u << i;
    if (c[i] == '"') quotes |= 1u << i;
    if (c[i] == '\0') nuls |= 1u << i;
  }
#endif
  if (static_cast<size_t>(end - c) < kChunkBytes) {
    const unsigned inLine = (1u << (end - c)) - 1;
    separators &= inLine;
    quotes &= inLine;
    nuls &= inLine;
  }
}

// Cuts a line at the separators that end its fields and records the first
// `columns` fields.
struct FieldCutter {
  LineSplitter::Field* out;
  size_t columns;
  size_t count;      // fields so far, the one being read included
  char* fieldStart;  // start of the field being read

  void cut(char* separatorAt) {
    *separatorAt = '\0';
    if (count <= columns) out[count - 1] = {fieldStart, static_cast<size_t>(separatorAt - fieldStart)};
    fieldStart = separatorAt + 1;
    ++count;
  }
};

// Calls visit(at) for every `separator` and double quote in [from, end),
// in order, found a chunk at a time, until visit answers false; sets
// `anyNul` when a byte read is NUL. False when visit stopped it.
template <typename Visit>
bool visitSeparators(char* from, char* end, char separator, unsigned& anyNul, Visit visit) {
  for (char* c = from; c < end; c += kChunkBytes) {
    unsigned separators = 0;
    unsigned quotes = 0;
    unsigned nuls = 0;
    separatorMasks(c, end, separator, separators, quotes, nuls);
    anyNul |= nuls;
    for (unsigned marks = separators | quotes; marks != 0; marks &= marks - 1) {
      if (!visit(c + std::countr_zero(marks))) return false;
    }
  }
  return true;
}

// Reads the bytes [from, end) from `state` and answers the state after
// them, cutting the fields at `separator` and setting `anyNul` when a byte
// is NUL. Only the separators and double quotes are taken one by one: a
// run of other bytes between them moves the state as its first byte
// would, and the rest of the run leaves it as it is.
Quoting readFields(char* from, char* end, char separator, Quoting state, FieldCutter& fields, unsigned& anyNul) {
  char* unread = from;  // the first byte that has not moved the state
  visitSeparators(from, end, separator, anyNul, [&](char* at) {
    if (at != unread) state = nextState(state, kOther);
    const bool isSeparator = *at == separator;
    const bool endsField = isSeparator && state != Quoting::kQuoted;
    state = nextState(state, isSeparator ? kSeparator : kQuote);
    if (endsField) fields.cut(at);
    unread = at + 1;
    return true;
  });
  return unread != end ? nextState(state, kOther) : state;
}

// Reads the bytes from the start of the field being read to `end` in the
// quoting rules' usual case, where each double quote enters or leaves a
// quoted field: every quote that enters one starts its field or follows
// the quote that left it (a doubled quote), and every quote that leaves
// one is followed by the separator, a quote or the line's end. Then a
// quote only toggles, as cheap as a separator. False at the first quote
// that breaks this, the fields before its own cut; else true, with
// `inQuotes` set when the line ends inside a quoted field.
bool readToggling(char* end, char separator, FieldCutter& fields, bool& inQuotes, unsigned& anyNul) {
  bool quoted = false;
  const bool usual = visitSeparators(fields.fieldStart, end, separator, anyNul, [&](char* at) {
    if (*at == separator) {
      if (!quoted) fields.cut(at);
      return true;
    }
    quoted = !quoted;
    return quoted ? at == fields.fieldStart || at[-1] == '"' : at + 1 == end || at[1] == separator || at[1] == '"';
  });
  inQuotes = quoted;
  return usual;
}

// Bit i of `separators` (`newlines`, `special`) is set when byte i of the
// kShortLineBytes bytes at `c` is the separator (a line feed, a double
// quote or NUL), up to the end of the first chunk that holds a line feed:
// the bits past it stay clear. All kShortLineBytes bytes must be readable.
void shortLineMasks(const char* c, char separator, uint64_t& separators, uint64_t& newlines, uint64_t& special) {
  separators = 0;
  newlines = 0;
  special = 0;
#if defined(__SSE2__)
  for (unsigned part = 0; part < LineSplitter::kShortLineBytes / kChunkBytes && newlines == 0; ++part) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + kChunkBytes * part));
    const auto mask = [](__m128i bytes) {
      return static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(bytes)));
    };
    const unsigned shift = kChunkBytes * part;
    separators |= mask(_mm_cmpeq_epi8(chunk, _mm_set1_epi8(separator))) << shift;
    newlines |= mask(_mm_cmpeq_epi8(chunk, _mm_set1_epi8('\n'))) << shift;
    special |= mask(_mm_or_si128(_mm_cmpeq_epi8(chunk, _mm_set1_epi8('"')), _mm_cmpeq_epi8(chunk, _mm_setzero_si128())))
               << shift;
  }
#else
  for (unsigned i = 0; i < LineSplitter::kShortLineBytes && (newlines == 0 || i % kChunkBytes != 0); ++i) {
    if (c[i] == separator) separators |= uint64_t{1} << i;
    if (c[i] == '\n') newlines |= uint64_t{1} << i;
    if (c[i] == '"' || c[i] == '\0') special |= uint64_t{1} << i;
  }
#endif
}

}  // namespace

void LineSplitter::setColumns(unsigned short columns) {
  columns_ = columns;
  fields_.assign(columns, Field{nullptr, 0});
  quoted_.assign(columns, 0);
}

size_t LineSplitter::split(char* line, size_t length) {
  FieldCutter fields{fields_.data(), columns_, 1, line};
  lineHasQuotes_ = false;
  unsigned anyNul = 0;
  char* const end = line + length;
  // A chunk at a time: the separators of a chunk come as bit masks. The
  // last chunk may run past the line (readable, see the class comment); its
  // masks hold only the bytes of the line. A chunk without a double quote
  // is only separators, taken in a tight loop; from the first double quote
  // on, the rest of the line is read from the start of its field, which
  // holds no separator before that chunk.
  const char separator = separator_;
  for (char* c = line; c < end; c += kChunkBytes) {
    unsigned separators = 0;
    unsigned quotes = 0;
    unsigned nuls = 0;
    separatorMasks(c, end, separator, separators, quotes, nuls);
    anyNul |= nuls;
    if (quotes != 0) {
      lineHasQuotes_ = true;
      break;
    }
    for (; separators != 0; separators &= separators - 1) fields.cut(c + std::countr_zero(separators));
  }
  Quoting state = Quoting::kPlain;
  if (lineHasQuotes_) {
    bool inQuotes = false;
    if (readToggling(end, separator, fields, inQuotes, anyNul)) {
      state = inQuotes ? Quoting::kQuoted : Quoting::kPlain;
    } else {
      state = readFields(fields.fieldStart, end, separator, Quoting::kFieldStart, fields, anyNul);
    }
  }
  lineHasNuls_ = anyNul != 0;
  return stopAt(line, length, fields.count, fields.fieldStart, state);
}

size_t LineSplitter::resume(char* line, size_t cut, size_t length) {
  // The fields recorded so far move with the line.
  const size_t recorded = std::min<size_t>(count_, columns_);
  for (size_t field = 0; field < recorded; ++field) fields_[field].text = line + (fields_[field].text - line_);
  FieldCutter fields{fields_.data(), columns_, count_, line + fieldStart_};
  unsigned anyNul = 0;
  const Quoting state = readFields(line + cut, line + length, separator_, endState_, fields, anyNul);
  lineHasNuls_ = lineHasNuls_ || anyNul != 0;
  return stopAt(line, length, fields.count, fields.fieldStart, state);
}

size_t LineSplitter::stopAt(char* line, size_t length, size_t count, char* fieldStart, Quoting state) {
  line_ = line;
  count_ = count;
  fieldStart_ = static_cast<size_t>(fieldStart - line);
  endState_ = state;
  if (count <= columns_) fields_[count - 1] = {fieldStart, length - fieldStart_};
  return count;
}

size_t LineSplitter::splitShort(char* data, size_t available) {
  uint64_t separators = 0;
  uint64_t newlines = 0;
  uint64_t special = 0;
  shortLineMasks(data, separator_, separators, newlines, special);
  if (available < kShortLineBytes) newlines &= (uint64_t{1} << available) - 1;
  if (newlines == 0) return 0;
  const unsigned lineFeed = static_cast<unsigned>(std::countr_zero(newlines));
  // A CR LF line end is cut before its carriage return.
  const unsigned length = lineFeed != 0 && data[lineFeed - 1] == '\r' ? lineFeed - 1 : lineFeed;
  const uint64_t inLine = (uint64_t{1} << length) - 1;
  separators &= inLine;
  if (length == 0 || (special & inLine) != 0 || countOnes(separators) + 1 != columns_) return 0;
  // Exactly one separator between two fields: the loop runs the same number
  // of times for every line. The NULs written may alias any member, so the
  // loop reads none.
  Field* out = fields_.data();
  char* fieldStart = data;
  for (; separators != 0; separators &= separators - 1) {
    char* const separatorAt = data + std::countr_zero(separators);
    *separatorAt = '\0';
    *out++ = {fieldStart, static_cast<size_t>(separatorAt - fieldStart)};
    fieldStart = separatorAt + 1;
  }
  data[length] = '\0';
  *out = {fieldStart, static_cast<size_t>(data + length - fieldStart)};
  lineHasQuotes_ = false;
  lineHasNuls_ = false;
  return lineFeed + 1;
}

void LineSplitter::finishSpecialFields() {
  // Only a line with a double quote can hold a quoted field.
  if (lineHasQuotes_) {
    for (size_t column = 0; column < fields_.size(); ++column) {
      Field& field = fields_[column];
      quoted_[column] = field.length != 0 && *field.text == '"';
      unquote(field.text, field.length);
    }
  }
  // A value ends at its first NUL: a NUL byte read from the file ends the
  // field there, so that a stored row holds each text whole and in its
  // place.
  if (lineHasNuls_) {
    for (Field& field : fields_) field.length = std::strlen(field.text);
  }
}
