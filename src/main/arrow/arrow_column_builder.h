#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "errors/database_exception.h"
#include "storage/arrow_abi.h"
#include "main/arrow/arrow_block_pool.h"
#include "main/arrow/arrow_schema_export.h"
#include "main/arrow/utf8.h"
#include "storage/bit_count.h"
#include "query/result_set.h"
#include "storage/text_bytes.h"
#include "storage/unaligned.h"

// Builds the arrays of one batch's columns from the stored values of a
// result's rows. The append paths are the export's hot loops: they live
// here, inline with what they call, so that the batch loop that drives
// them compiles with them.
namespace arrow_export {

// The buffers of a column array, by their place in ArrowArray::buffers.
enum ColumnBuffer : size_t {
  kValidity = 0,   // the validity bitmap; handed out only when a value is NULL
  kValues = 1,     // fixed-width values, a boolean column's bits, or a text column's offsets
  kTextBytes = 2,  // a text column's bytes
  kColumnBuffers = 3,
};

// What a column array owns: a Block per buffer it has, and the buffer
// pointers the array hands out.
struct ColumnData {
  Block blocks[kColumnBuffers];
  const void* buffers[kColumnBuffers] = {nullptr, nullptr, nullptr};
};

// Writes `value` to `at` past the caches where the processor can: a batch
// is written once and read much later, so a store that first reads the
// line into the cache (as ordinary stores do) doubles the memory traffic.
// storesDone() orders these stores before the batch is handed out.
template <typename Out>
inline void streamStore(Out* at, Out value) {
#if defined(__SSE2__)
  if constexpr (sizeof(Out) == 8) {
    long long bits;
    std::memcpy(&bits, &value, sizeof bits);
    _mm_stream_si64(reinterpret_cast<long long*>(at), bits);
    return;
  } else if constexpr (sizeof(Out) == 4) {
    int bits;
    std::memcpy(&bits, &value, sizeof bits);
    _mm_stream_si32(reinterpret_cast<int*>(at), bits);
    return;
  }
#endif
  *at = value;
}

// Called once after a batch's last append, before its arrays are handed out.
inline void storesDone() {
#if defined(__SSE2__)
  _mm_sfence();
#endif
}

// The values of a ValueRun with `same` set: one value at every position.
struct SameValue {
  const void* value;
  const void* operator[](size_t) const { return value; }
};

// The values of a ValueRun without `same`: each at its base plus the offset.
struct BasedValues {
  const void* const* bases;
  size_t offset;
  const void* operator[](size_t i) const { return static_cast<const char*>(bases[i]) + offset; }
};

// Zero bytes, as wide as the widest stored value: what a NULL's slot of a
// column array holds (0, false, 1970-01-01 or the empty text).
alignas(8) inline constexpr char kNullSlot[8] = {};

// BasedValues of a column that may hold NULL: a null base is a NULL, read
// as kNullSlot.
struct NullableValues {
  const void* const* bases;
  size_t offset;
  const void* operator[](size_t i) const {
    return bases[i] == nullptr ? kNullSlot : static_cast<const char*>(bases[i]) + offset;
  }
};

// The values of a ValueRun read by category number: a number past the
// table is a NULL, read as kNullSlot.
struct CategorisedValues {
  const void* const* bases;
  ptrdiff_t numberAt;
  const void* const* categories;
  size_t count;

  uint16_t number(size_t i) const {
    uint16_t n;
    std::memcpy(&n, static_cast<const char*>(bases[i]) + numberAt, sizeof n);
    return n;
  }
  const void* operator[](size_t i) const {
    const uint16_t n = number(i);
    return n < count ? categories[n] : kNullSlot;
  }
};

// Stored values of type Stored, copied to Out, four a step: the loop's
// own count and test then come once for four values instead of each.
template <typename Stored, typename Out, typename Values>
inline void copyValues(const Values& values, size_t count, Out* out) {
  // A copy the stores cannot reach, for all the compiler knows, so its
  // fields stay in registers instead of being read again for every value.
  const Values local = values;
  const auto valueAt = [&local](size_t i) { return static_cast<Out>(unaligned::load<Stored>(local[i])); };
  size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const Out a = valueAt(i);
    const Out b = valueAt(i + 1);
    const Out c = valueAt(i + 2);
    const Out d = valueAt(i + 3);
    streamStore(out + i, a);
    streamStore(out + i + 1, b);
    streamStore(out + i + 2, c);
    streamStore(out + i + 3, d);
  }
  for (; i < count; ++i) streamStore(out + i, valueAt(i));
}

// Sets bits first .. first + count - 1 of an Arrow bitmap (least significant
// bit first) to bitOf(0) .. bitOf(count - 1). The bitmap's bits from `first`
// on must be zero: it starts zeroed and is only ever appended to.
template <typename BitOf>
inline void appendBits(const BitOf& bitOf, size_t count, size_t first, uint8_t* bits) {
  size_t i = 0;
  size_t bit = first;
  for (; i < count && (bit & 7) != 0; ++i, ++bit) {
    bits[bit >> 3] |= static_cast<uint8_t>(static_cast<unsigned>(bitOf(i)) << (bit & 7));
  }
  for (; i + 8 <= count; i += 8, bit += 8) {
    unsigned byte = 0;
    for (unsigned k = 0; k < 8; ++k) byte |= static_cast<unsigned>(bitOf(i + k)) << k;
    bits[bit >> 3] = static_cast<uint8_t>(byte);
  }
  for (; i < count; ++i, ++bit) {
    bits[bit >> 3] |= static_cast<uint8_t>(static_cast<unsigned>(bitOf(i)) << (bit & 7));
  }
}

// ORs the low `count` bits of `byte` (the rest zero), count <= 8, into an
// Arrow bitmap from bit `at` on.
inline void orBits(unsigned byte, size_t count, size_t at, uint8_t* bits) {
  const unsigned shift = at & 7;
  bits[at >> 3] = static_cast<uint8_t>(bits[at >> 3] | byte << shift);
  if (shift + count > 8) bits[(at >> 3) + 1] = static_cast<uint8_t>(bits[(at >> 3) + 1] | byte >> (8 - shift));
}

// ORs the low `count` bits of `word` (the rest zero), count <= 64, into an
// Arrow bitmap from bit `at` on: a whole word by one load and store of
// eight bytes (and a ninth byte when it straddles), fewer bits byte by
// byte, so that no byte past the last bit is touched.
inline void orWord(uint64_t word, size_t count, size_t at, uint8_t* bits) {
  uint8_t* const to = bits + (at >> 3);
  const unsigned shift = at & 7;
  const size_t end = shift + count;  // bits from `to` on
  if (end >= 64) {
    unaligned::store(to, unaligned::load<uint64_t>(to) | word << shift);
    if (end > 64) to[8] = static_cast<uint8_t>(to[8] | word >> (64 - shift));
    return;
  }
  const uint64_t shifted = word << shift;
  for (size_t byte = 0; byte * 8 < end; ++byte) to[byte] = static_cast<uint8_t>(to[byte] | shifted >> (8 * byte));
}

// Bit k of the result is set when flags[k] has bit `bit` set, k < 16.
inline unsigned flaggedOf16(const uint8_t* flags, unsigned bit) {
#if defined(__SSE2__)
  // Each 16-bit lane shifted left puts bit `bit` of both its bytes at the
  // bytes' top bits; the low byte's higher bits move into the high byte
  // below its top bit.
  const __m128i lanes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(flags));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_sll_epi16(lanes, _mm_cvtsi32_si128(static_cast<int>(7 - bit)))));
#else
  unsigned flagged = 0;
  for (unsigned k = 0; k < 16; ++k) flagged |= static_cast<unsigned>((flags[k] >> bit) & 1u) << k;
  return flagged;
#endif
}

// Sets bits first .. first + count - 1 of a validity bitmap, bit i when
// flags[i] has no bit of `nullMask` (a single bit) set, up to 64 rows a
// word, sixteen rows a step; the bitmap's bits from `first` on must be
// zero. Returns the NULLs.
inline size_t appendValidity(const uint8_t* flags, uint8_t nullMask, size_t count, size_t first, uint8_t* bits) {
  const auto bit = static_cast<unsigned>(__builtin_ctz(nullMask));
  size_t nulls = 0;
  for (size_t i = 0; i < count;) {
    const size_t rows = std::min<size_t>(64, count - i);
    uint64_t nullBits = 0;
    size_t k = 0;
    for (; k + 16 <= rows; k += 16) nullBits |= static_cast<uint64_t>(flaggedOf16(flags + i + k, bit)) << k;
    for (; k < rows; ++k) nullBits |= static_cast<uint64_t>((flags[i + k] & nullMask) != 0) << k;
    nulls += static_cast<size_t>(countOnes(nullBits));
    const uint64_t rowBits = rows == 64 ? ~uint64_t{0} : (uint64_t{1} << rows) - 1;
    orWord(~nullBits & rowBits, rows, first + i, bits);
    i += rows;
  }
  return nulls;
}

// Builds one column of a batch: owns the column's buffers until finish()
// hands them to an ArrowArray, which frees them on release (on any thread).
// Values are appended in runs; a text column stops before a text that would
// take its bytes past the batch's text limit, and the caller then truncates
// every column of the batch to the shortest. A column that may hold NULL
// keeps a validity bitmap beside its values, a NULL's slot holding zeros;
// the array has it, with its exact null count, only when the batch holds a
// NULL. The column must outlive the builder.
class ColumnBuilder {
 public:
  // Allocates the buffers for at most `capacity` rows of `column`; a text
  // column holds at most `textLimit` bytes. Throws std::bad_alloc, and
  // DatabaseException for an unknown type.
  ColumnBuilder(const Column& column, size_t capacity, int64_t textLimit);

  bool isText() const { return column_.type == STRING; }

  // Appends the values `run` describes at its first `count` positions: all
  // of them, except that a text column stops before the text that would
  // take its bytes past the limit. Returns how many it appended. Throws
  // DatabaseException when the batch's first text alone is past the limit.
  size_t append(const ValueRun& run, size_t count) {
    if (run.categories != nullptr) return appendCategorised(run, count);
    if (column_.nullable) return appendNullable(run, count);
    if (run.same != nullptr) return appendValues(SameValue{run.same}, count);
    return appendValues(BasedValues{run.bases, run.offset}, count);
  }

  // Drops the rows from `rows` on; the batch ends there, nothing is
  // appended afterwards.
  void truncate(size_t rows);

  // Hands the column's memory to `out` as an array of the rows appended.
  // The builder holds nothing afterwards.
  void finish(ArrowArray* out) noexcept;

 private:
  // append() for a column that may hold NULL, in any of the forms
  // ValueRun tells NULLs. Sets the validity bits of the rows appended; a
  // NULL's bit stays clear.
  size_t appendNullable(const ValueRun& run, size_t count) {
    const size_t first = rows_;
    auto* const validity = static_cast<uint8_t*>(data_->blocks[kValidity].data());
    if (run.allNull) {
      const size_t taken = appendValues(SameValue{kNullSlot}, count);
      nulls_ += taken;
      return taken;
    }
    if (run.same != nullptr) {
      const size_t taken = appendValues(SameValue{run.same}, count);
      appendBits([](size_t) { return true; }, taken, first, validity);
      return taken;
    }
    if (run.nullMask != 0) return appendFlagged(run, count);
    const size_t taken = appendValues(NullableValues{run.bases, run.offset}, count);
    size_t nulls = 0;
    appendBits(
        [&](size_t i) {
          const bool present = run.bases[i] != nullptr;
          nulls += !present;
          return present;
        },
        taken, first, validity);
    nulls_ += nulls;
    return taken;
  }

  // appendNullable for a run whose NULLs are flagged beside its values:
  // the values are read where they lie, a NULL's zero bytes among them.
  size_t appendFlagged(const ValueRun& run, size_t count) {
    const size_t first = rows_;
    const size_t taken = appendValues(BasedValues{run.bases, run.offset}, count);
    nulls_ += appendValidity(run.flags, run.nullMask, taken, first,
                             static_cast<uint8_t*>(data_->blocks[kValidity].data()));
    return taken;
  }

  // append() for a run read by category number: each value found in the
  // run's table, and for a column that may hold NULL, a number past the
  // table (NULL's) leaving the validity bit clear.
  size_t appendCategorised(const ValueRun& run, size_t count) {
    const CategorisedValues values{run.bases, run.numberAt, run.categories, run.categoryCount};
    if (appendNumbered(values, count)) return count;
    const size_t first = rows_;
    const size_t taken = appendValues(values, count);
    if (!column_.nullable) return taken;
    size_t nulls = 0;
    appendBits(
        [&](size_t i) {
          const bool present = values.number(i) < values.count;
          nulls += !present;
          return present;
        },
        taken, first, static_cast<uint8_t*>(data_->blocks[kValidity].data()));
    nulls_ += nulls;
    return taken;
  }

  // appendCategorised for a fixed-width column whose table is no longer
  // than the batch: each value read from a copy of the table in the
  // array's type (built once per table), not through the value's pointer.
  // False, with nothing appended, for another column or table.
  bool appendNumbered(const CategorisedValues& values, size_t count) {
    if (values.count > capacity_) return false;
    return column_.nullable ? appendNumbered<true>(values, count) : appendNumbered<false>(values, count);
  }

  template <bool Nullable>
  bool appendNumbered(const CategorisedValues& values, size_t count) {
    void* const out = data_->blocks[kValues].data();
    switch (column_.type) {
      case LONG:
        copyNumbered<int64_t, Nullable>(values, count, static_cast<int64_t*>(out));
        return true;
      case INT:
        copyNumbered<int32_t, Nullable>(values, count, static_cast<int32_t*>(out));
        return true;
      case SHORT:
        copyNumbered<int16_t, Nullable>(values, count, static_cast<int16_t*>(out));
        return true;
      case DOUBLE:
        copyNumbered<double, Nullable>(values, count, static_cast<double*>(out));
        return true;
      case FLOAT:
        copyNumbered<float, Nullable>(values, count, static_cast<float*>(out));
        return true;
      case DATE:
        copyNumbered<uint16_t, Nullable>(values, count, static_cast<int32_t*>(out));
        return true;
      default:
        return false;
    }
  }

  // Copies the values of `count` numbers through the table; with Nullable,
  // sets the validity bits from the same numbers, eight rows a step.
  template <typename Stored, bool Nullable, typename Out>
  void copyNumbered(const CategorisedValues& values, size_t count, Out* out) {
    const uint64_t* const table = numberTable<Stored, Out>(values);
    const CategorisedValues local = values;
    const size_t first = rows_;
    out += first;
    rows_ += count;
    if constexpr (!Nullable) {
      for (size_t i = 0; i < count; ++i) {
        streamStore(out + i, unaligned::load<Out>(table + std::min<size_t>(local.number(i), local.count)));
      }
      return;
    }
    auto* const validity = static_cast<uint8_t*>(data_->blocks[kValidity].data());
    size_t present = 0;
    const auto copy = [&](size_t i, size_t rows) {
      unsigned byte = 0;
      for (size_t k = 0; k < rows; ++k) {
        const size_t n = std::min<size_t>(local.number(i + k), local.count);
        streamStore(out + i + k, unaligned::load<Out>(table + n));
        byte |= static_cast<unsigned>(n != local.count) << k;
      }
      orBits(byte, rows, first + i, validity);
      present += static_cast<size_t>(countOnes(byte));
    };
    size_t i = 0;
    for (; i + 8 <= count; i += 8) copy(i, 8);
    if (i < count) copy(i, count - i);
    nulls_ += count - present;
  }

  // The values of `values`' table as Out, one a slot, and past them a
  // NULL's zeros (which every number past the table reads); built again
  // when the table changes.
  template <typename Stored, typename Out>
  const uint64_t* numberTable(const CategorisedValues& values) {
    if (values.categories == numberedOf_ && numbered_.size() == values.count + 1) return numbered_.data();
    numbered_.assign(values.count + 1, 0);
    for (size_t n = 0; n < values.count; ++n) {
      if (values.categories[n] == nullptr) continue;
      unaligned::store(&numbered_[n], static_cast<Out>(unaligned::load<Stored>(values.categories[n])));
    }
    numberedOf_ = values.categories;
    return numbered_.data();
  }

  // NULLs among the first `rows` rows, counted from the validity bitmap.
  size_t nullsIn(size_t rows) const;

  template <typename Values>
  size_t appendValues(const Values& values, size_t count) {
    void* const out = data_->blocks[kValues].data();
    switch (column_.type) {
      case LONG:
        copyValues<int64_t>(values, count, static_cast<int64_t*>(out) + rows_);
        break;
      case INT:
        copyValues<int32_t>(values, count, static_cast<int32_t*>(out) + rows_);
        break;
      case SHORT:
        copyValues<int16_t>(values, count, static_cast<int16_t*>(out) + rows_);
        break;
      case DOUBLE:
        copyValues<double>(values, count, static_cast<double*>(out) + rows_);
        break;
      case FLOAT:
        copyValues<float>(values, count, static_cast<float*>(out) + rows_);
        break;
      case DATE:
        copyValues<uint16_t>(values, count, static_cast<int32_t*>(out) + rows_);
        break;
      case BOOL:
        appendBits([&](size_t i) { return unaligned::load<uint8_t>(values[i]) != 0; }, count, rows_,
                   static_cast<uint8_t*>(out));
        break;
      case STRING:
        count = appendTexts(values, count);
        break;
    }
    rows_ += count;
    return count;
  }

  // The length of the stored text at `text` and its size once repaired
  // (the same when it is valid UTF-8, as every ASCII text is).
  static void measure(const char* text, uint32_t& length, uint32_t& size, bool& valid) {
    bool ascii;
    const size_t bytes = text_bytes::terminatedLength(text, ascii);
    valid = ascii || utf8::valid(text, bytes);
    const size_t repaired = valid ? bytes : utf8::repairedSize(text, bytes);
    if (repaired > UINT32_MAX) {
      throw DatabaseException("A text of %u bytes is too long for an Arrow string", UINT32_MAX);
    }
    length = static_cast<uint32_t>(bytes);
    size = static_cast<uint32_t>(repaired);
  }

  // Appends texts: short ASCII ones by the quick loop while sixteen bytes
  // for each text left fit, the others by the one that checks every text.
  // A text the quick loop cannot take (a long one, or one too near the end
  // of its memory page to be read sixteen bytes at once) goes alone
  // through the other loop, and the quick loop goes on after it.
  template <typename Values>
  size_t appendTexts(const Values& values, size_t count) {
    if constexpr (std::is_same_v<Values, SameValue>) return appendSameText(values.value, count);
    size_t i = 0;
    while (i < count && shortTextsFit(count - i)) {
      i = appendShortTexts(values, i, count);
      if (i == count) return count;
      const size_t next = appendOtherTexts(values, i, i + 1);
      if (next == i) return i;
      i = next;
    }
    return appendOtherTexts(values, i, count);
  }

  // Whether sixteen bytes for each of `texts` more texts fit both the
  // buffer and the limit, as appendShortTexts needs.
  bool shortTextsFit(size_t texts) const {
#if defined(__SSE2__)
    return textSize_ + (texts + 1) * 16 <= std::min(textCapacity_, static_cast<size_t>(textLimit_));
#else
    return false;
#endif
  }

  // Appends the run's texts from position `from` on while they are short
  // ASCII ones; shortTextsFit(count - from) must hold, so that neither the
  // buffer nor the limit is checked a text. Returns the position of the
  // first text not appended (rows_ is the caller's to advance). A text's
  // sixteen bytes are stored at once, and what follows its end is
  // overwritten by the next text, the last one's cleared.
  template <typename Values>
  size_t appendShortTexts(const Values& values, size_t from, size_t count) {
#if defined(__SSE2__)
    size_t at = textSize_;
    // Locals, as in appendOtherTexts.
    const Values local = values;
    char* const bytes = static_cast<char*>(data_->blocks[kTextBytes].data());
    int32_t* const offsets = static_cast<int32_t*>(data_->blocks[kValues].data()) + rows_ + 1;
    size_t i = from;
    for (; i < count; ++i) {
      __m128i head;
      const int length = text_bytes::shortAsciiBytes(static_cast<const char*>(local[i]), head);
      if (length < 0) break;
      _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + at), head);
      at += static_cast<size_t>(length);
      offsets[i] = static_cast<int32_t>(at);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + at), _mm_setzero_si128());
    textSize_ = at;
    return i;
#else
    return from;
#endif
  }

  // appendTexts for the run's texts from position `from` on, those before
  // it appended; returns how many of the run's texts are appended. A text
  // equal to the one before (a categorised column repeats its value for
  // every row of a node) is not measured again. The state is kept in
  // locals while the loop runs: its byte stores could otherwise change the
  // members, for all the compiler knows, and force them to be read again
  // for every text.
  template <typename Values>
  size_t appendOtherTexts(const Values& values, size_t from, size_t count) {
    const char* last = lastText_;
    uint32_t length = lastLength_;
    uint32_t size = lastSize_;
    bool valid = lastValid_;
    size_t at = textSize_;
    const auto limit = static_cast<size_t>(textLimit_);
    char* bytes = static_cast<char*>(data_->blocks[kTextBytes].data());
    int32_t* const offsets = static_cast<int32_t*>(data_->blocks[kValues].data()) + rows_ + 1;
    size_t capacity = textCapacity_;
    size_t i = from;
    for (; i < count; ++i) {
      const auto* text = static_cast<const char*>(values[i]);
#if defined(__SSE2__)
      // A short ASCII text, most of them, is measured and copied through
      // one sixteen-byte register; the zeros after it are overwritten by
      // the next text.
      __m128i head;
      const int shortLength = at + 16 <= capacity ? text_bytes::shortAsciiHead(text, head) : -1;
      if (shortLength >= 0) {
        if (at + static_cast<size_t>(shortLength) > limit) {
          if (rows_ + i == 0) refuseLongText();
          break;
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + at), head);
        at += static_cast<size_t>(shortLength);
        offsets[i] = static_cast<int32_t>(at);
        continue;
      }
#endif
      if (text != last) {
        last = text;
        measure(text, length, size, valid);
      }
      if (at + size > limit) {
        if (rows_ + i == 0) refuseLongText();
        break;
      }
      if (at + size + 16 > capacity) {
        bytes = grow(at, size + 16, rows_ + i);
        capacity = textCapacity_;
      }
      if (valid) {
        text_bytes::copy(bytes + at, text, length);
      } else {
        utf8::repair(text, length, bytes + at);
      }
      at += size;
      offsets[i] = static_cast<int32_t>(at);
    }
    lastText_ = last;
    lastLength_ = length;
    lastSize_ = size;
    lastValid_ = valid;
    textSize_ = at;
    return i;
  }

  // appendTexts for `count` copies of one text: measured once, a valid
  // one copied by repeatBytes and the sixteen bytes after the copies
  // cleared, as appendShortTexts clears them.
  size_t appendSameText(const void* value, size_t count) {
    const auto* text = static_cast<const char*>(value);
    if (text != lastText_) {
      lastText_ = text;
      measure(text, lastLength_, lastSize_, lastValid_);
    }
    const size_t room = static_cast<size_t>(textLimit_) - textSize_;
    const size_t fit = count * lastSize_ <= room ? count : room / lastSize_;
    if (fit == 0 && rows_ == 0) refuseLongText();
    constexpr size_t kHead = 16;
    // Locals, as in appendTexts: the byte stores could change members.
    const size_t length = lastLength_;
    const size_t size = lastSize_;
    const bool valid = lastValid_;
    size_t at = textSize_;
    char* const bytes = at + fit * size + kHead > textCapacity_ ? grow(at, fit * size + kHead, rows_)
                                                              : static_cast<char*>(data_->blocks[kTextBytes].data());
    int32_t* const offsets = static_cast<int32_t*>(data_->blocks[kValues].data()) + rows_ + 1;
    if (valid) {
      // The offsets step by the text's size, a loop the compiler turns
      // into vector stores; the bytes are copied once and then doubled.
      auto next = static_cast<int32_t>(at);
      for (size_t i = 0; i < fit; ++i) offsets[i] = next += static_cast<int32_t>(size);
      repeatBytes(text, length, fit, bytes + at);
      at += fit * size;
      std::memset(bytes + at, 0, kHead);
    } else {
      for (size_t i = 0; i < fit; ++i, at += size) {
        utf8::repair(text, length, bytes + at);
        offsets[i] = static_cast<int32_t>(at + size);
      }
    }
    textSize_ = at;
    return fit;
  }

  // Writes `times` copies of the `length` bytes at `text` one after the
  // other from `out` on: one copy, then what is written so far again,
  // doubling, so that the copies take a few memcpy calls, not one each.
  static void repeatBytes(const char* text, size_t length, size_t times, char* out) {
    const size_t total = length * times;
    if (total == 0) return;
    std::memcpy(out, text, length);
    for (size_t done = length; done < total; done *= 2) std::memcpy(out + done, out, std::min(done, total - done));
  }

  // A batch's first text is past the limit: no batch can hold it.
  [[noreturn]] void refuseLongText() const {
    throw DatabaseException("A text of column %s is too long for an Arrow string", column_.name.c_str());
  }

  // Makes room for `more` bytes after the first `used`, once `rows` rows
  // are in, and returns the text buffer. The first growth takes the batch's
  // text size from the rows in so far, give or take: room for an eighth
  // more than that is made at once rather than grown in steps.
  char* grow(size_t used, size_t more, size_t rows) {
    size_t capacity = std::max(textCapacity_ * 2, used + more);
    if (!grown_ && rows > 0) {
      const double perRow = static_cast<double>(used) / static_cast<double>(rows);
      const double estimate = std::min(perRow * static_cast<double>(capacity_) * 1.125 + 64.0,
                                       static_cast<double>(textLimit_));
      capacity = std::max(capacity, static_cast<size_t>(estimate));
    }
    grown_ = true;
    data_->blocks[kTextBytes].resize(capacity, used);
    textCapacity_ = capacity;
    return static_cast<char*>(data_->blocks[kTextBytes].data());
  }

  const Column& column_;
  std::unique_ptr<ColumnData> data_;
  const size_t capacity_;  // most rows of the batch
  size_t rows_ = 0;
  size_t nulls_ = 0;  // NULLs among the rows
  // Text columns: bytes used and allocated, the limit, and the last stored
  // text met with its length, whether it is valid UTF-8 and its size once
  // repaired.
  size_t textSize_ = 0;
  size_t textCapacity_ = 0;
  const int64_t textLimit_;
  const char* lastText_ = nullptr;
  uint32_t lastLength_ = 0;
  uint32_t lastSize_ = 0;
  bool lastValid_ = true;
  bool grown_ = false;  // whether the text buffer has grown once
  // Fixed-width categorised columns: the values of the table of value
  // pointers `numberedOf_` in the array's type, by category number.
  std::vector<uint64_t> numbered_;
  const void* const* numberedOf_ = nullptr;
};

}  // namespace arrow_export
