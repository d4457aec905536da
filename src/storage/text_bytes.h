#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "storage/unaligned.h"

// Hashing, comparison, copying, measuring, word reads and digit checks of
// the short texts and values that fill rows, done in line: for a few bytes
// a library call costs more than the work. Short texts are read as a few
// overlapping words chosen by the length class (up to 3, 4 to 7, 8 to 16
// bytes) rather than byte by byte, so texts of different lengths in one
// class take the same branches. Only terminatedLength reads bytes outside
// the text.
namespace text_bytes {

namespace detail {

inline uint64_t load64(const char* at) { return unaligned::load<uint64_t>(at); }

inline uint32_t load32(const char* at) { return unaligned::load<uint32_t>(at); }

inline void store64(char* at, uint64_t word) { unaligned::store(at, word); }

inline void store32(char* at, uint32_t word) { unaligned::store(at, word); }

// Four bytes as a little-endian word on any host.
inline uint32_t loadLittle32(const char* at) {
  const uint32_t word = load32(at);
  return std::endian::native == std::endian::little ? word : __builtin_bswap32(word);
}

inline uint64_t byteAt(const char* text, size_t index) { return static_cast<unsigned char>(text[index]); }

// Every byte of a text of fewer than 8 bytes in one word: two overlapping
// halves from 4 bytes on, else the first, middle and last byte. With the
// length known, equal words mean equal texts.
inline uint64_t shortWord(const char* text, size_t length) {
  if (length >= 4) return load32(text) | static_cast<uint64_t>(load32(text + length - 4)) << 32;
  if (length == 0) return 0;
  return byteAt(text, 0) | byteAt(text, length / 2) << 8 | byteAt(text, length - 1) << 16;
}

}  // namespace detail

// Longest text whose hash, with its length, tells it from every other text.
inline constexpr size_t kExactHashBytes = 8;

// A hash whose top bits depend on every byte of the text: callers pick a
// slot by those bits (slotOf). A text of at most kExactHashBytes bytes is
// one word, mixed by a single multiplication, the short path of lookups
// while loading; one-to-one, so two such texts of one length have equal
// hashes only when they are equal. Longer texts are mixed eight bytes at a
// time, the last word being the text's last eight bytes (overlapping the
// one before when the length is not a multiple of eight), and finished so
// that every bit depends on every byte.
inline uint64_t hash(const char* text, size_t length) {
  if (length <= kExactHashBytes) {
    const uint64_t word = length == 8 ? detail::load64(text) : detail::shortWord(text, length);
    return (word ^ (0x9E3779B97F4A7C15ULL + length)) * 0xFF51AFD7ED558CCDULL;
  }
  uint64_t hash = 0x9E3779B97F4A7C15ULL ^ length;
  const char* const end = text + length;
  for (; end - text > 8; text += 8) {
    hash = (hash ^ detail::load64(text)) * 0xFF51AFD7ED558CCDULL;
    hash ^= hash >> 32;
  }
  hash ^= detail::load64(end - 8);
  hash = (hash ^ (hash >> 33)) * 0xFF51AFD7ED558CCDULL;
  hash = (hash ^ (hash >> 33)) * 0xC4CEB9FE1A85EC53ULL;
  return hash ^ (hash >> 33);
}

// The slot of `hash` in a table of `slots` slots, a power of two: the
// hash's top bits.
inline size_t slotOf(uint64_t hash, size_t slots) {
  return slots <= 1 ? 0 : static_cast<size_t>(hash >> (64 - std::countr_zero(slots)));
}

// Byte equality of two texts of `length` bytes.
inline bool same(const char* a, const char* b, size_t length) {
  if (length > 16) return std::memcmp(a, b, length) == 0;
  if (length < 8) return detail::shortWord(a, length) == detail::shortWord(b, length);
  const uint64_t head = detail::load64(a) ^ detail::load64(b);
  const uint64_t tail = detail::load64(a + length - 8) ^ detail::load64(b + length - 8);
  return (head | tail) == 0;
}

// The 1 to 8 bytes of a text as a little-endian word, its first byte
// lowest, zero past its length: the form in which the number and boolean
// readers take a short value in one step. No byte after the text is read;
// that byte is often a terminator just stored, which a wider load would
// have to wait for.
inline uint64_t littleWord(const char* text, size_t length) {
  if (length >= 4) {
    // Two overlapping halves; their shared bytes are equal.
    const uint64_t head = detail::loadLittle32(text);
    const uint64_t tail = detail::loadLittle32(text + length - 4);
    return head | tail << (8 * (length - 4));
  }
  return detail::byteAt(text, 0) | detail::byteAt(text, length / 2) << (8 * (length / 2)) |
         detail::byteAt(text, length - 1) << (8 * (length - 1));
}

// Whether every byte of the word, a character minus '0', is a digit's
// value (0 to 9): the digit check of the word-wise number and date readers.
// A byte of 10 or more gets its top bit set by the addition without a
// carry, or has it set already.
constexpr bool allDigitValues(uint64_t values) {
  return (((values + 0x7676'7676'7676'7676ULL) | values) & 0x8080'8080'8080'8080ULL) == 0;
}

// Whether every byte of the text is ASCII (below 0x80): a word at a time,
// the last word overlapping the one before.
inline bool ascii(const char* text, size_t length) {
  constexpr uint64_t kTopBits = 0x8080'8080'8080'8080ULL;
  if (length < 8) return (detail::shortWord(text, length) & kTopBits) == 0;
  uint64_t top = detail::load64(text + length - 8);
  for (size_t at = 0; at + 8 < length; at += 8) top |= detail::load64(text + at);
  return (top & kTopBits) == 0;
}

// Bytes before the first NUL at or after `text`, found sixteen bytes at a
// time. It reads the aligned sixteen-byte blocks that hold the text, which
// never cross a page and so cannot fault, but may hold bytes before the
// text and after its NUL that belong to no value, or to a value another
// thread writes: this one read is exempt from the address and thread checks
// of sanitizer builds.
#if defined(__SSE2__)
[[gnu::no_sanitize_address, gnu::no_sanitize_thread]] inline size_t terminatedLength(const char* text) {
  const auto address = reinterpret_cast<uintptr_t>(text);
  const auto* block = reinterpret_cast<const __m128i*>(address & ~uintptr_t{15});
  const __m128i zero = _mm_setzero_si128();
  // Bits of the bytes before the text are shifted out.
  unsigned nuls = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_load_si128(block), zero))) >> (address & 15);
  if (nuls != 0) return static_cast<size_t>(std::countr_zero(nuls));
  for (;;) {
    ++block;
    nuls = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_load_si128(block), zero)));
    if (nuls != 0) return static_cast<size_t>(reinterpret_cast<const char*>(block) - text) + std::countr_zero(nuls);
  }
}

// terminatedLength, also telling from the same reads whether every byte of
// the text is ASCII (below 0x80).
[[gnu::no_sanitize_address, gnu::no_sanitize_thread]] inline size_t terminatedLength(const char* text, bool& ascii) {
  const auto address = reinterpret_cast<uintptr_t>(text);
  const __m128i zero = _mm_setzero_si128();
  constexpr uintptr_t kPage = 4096;
  if ((address & (kPage - 1)) <= kPage - 16) {
    // The sixteen bytes from the text on lie in its page: a text shorter
    // than that is measured without a branch on where it lies.
    const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
    const auto headNuls = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(head, zero)));
    if (headNuls != 0) {
      const auto length = static_cast<unsigned>(std::countr_zero(headNuls));
      ascii = (static_cast<unsigned>(_mm_movemask_epi8(head)) & ((1u << length) - 1)) == 0;
      return length;
    }
  }
  const auto* block = reinterpret_cast<const __m128i*>(address & ~uintptr_t{15});
  __m128i bytes = _mm_load_si128(block);
  // A byte's top bit is set exactly when it is not ASCII.
  unsigned nuls = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, zero))) >> (address & 15);
  unsigned tops = static_cast<unsigned>(_mm_movemask_epi8(bytes)) >> (address & 15);
  if (nuls != 0) {
    const unsigned length = static_cast<unsigned>(std::countr_zero(nuls));
    ascii = (tops & ((1u << length) - 1)) == 0;
    return length;
  }
  for (;;) {
    bytes = _mm_load_si128(++block);
    nuls = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, zero)));
    const auto blockTops = static_cast<unsigned>(_mm_movemask_epi8(bytes));
    if (nuls != 0) {
      const unsigned tail = static_cast<unsigned>(std::countr_zero(nuls));
      ascii = (tops | (blockTops & ((1u << tail) - 1))) == 0;
      return static_cast<size_t>(reinterpret_cast<const char*>(block) - text) + tail;
    }
    tops |= blockTops;
  }
}

// The length of a NUL-terminated ASCII text of fewer than sixteen bytes at
// `text`, read in one sixteen-byte load when those bytes lie in the text's
// page: `head` gets them (the text, its NUL and whatever follows, for a
// writer that overwrites what follows). -1, `head` undefined, for a longer
// or non-ASCII text or one near its page's end. The load is exempt from the
// checks as terminatedLength's.
[[gnu::no_sanitize_address, gnu::no_sanitize_thread]] inline int shortAsciiBytes(const char* text, __m128i& head) {
  constexpr uintptr_t kPage = 4096;
  if ((reinterpret_cast<uintptr_t>(text) & (kPage - 1)) > kPage - 16) return -1;
  head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
  const auto nuls = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(head, _mm_setzero_si128())));
  if (nuls == 0) return -1;
  // A byte's top bit is set exactly when it is not ASCII; the NUL's is clear.
  if ((static_cast<unsigned>(_mm_movemask_epi8(head)) & (nuls ^ (nuls - 1))) != 0) return -1;
  return std::countr_zero(nuls);
}

// shortAsciiBytes with `head` holding the text followed by zero bytes.
inline int shortAsciiHead(const char* text, __m128i& head) {
  const int length = shortAsciiBytes(text, head);
  if (length < 0) return length;
  const __m128i before = _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(length)),
                                        _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
  head = _mm_and_si128(head, before);
  return length;
}
#else
inline size_t terminatedLength(const char* text) { return std::strlen(text); }

inline size_t terminatedLength(const char* text, bool& ascii) {
  const size_t length = std::strlen(text);
  ascii = text_bytes::ascii(text, length);
  return length;
}
#endif

// Copies `length` bytes from `source` to `target` (which must not overlap);
// up to 16 bytes as two overlapping loads and stores.
inline void copy(char* target, const char* source, size_t length) {
  if (length > 16) {
    std::memcpy(target, source, length);
  } else if (length >= 8) {
    const uint64_t head = detail::load64(source);
    const uint64_t tail = detail::load64(source + length - 8);
    detail::store64(target, head);
    detail::store64(target + length - 8, tail);
  } else if (length >= 4) {
    const uint32_t head = detail::load32(source);
    const uint32_t tail = detail::load32(source + length - 4);
    detail::store32(target, head);
    detail::store32(target + length - 4, tail);
  } else if (length != 0) {
    const char first = source[0];
    const char middle = source[length / 2];
    const char last = source[length - 1];
    target[0] = first;
    target[length / 2] = middle;
    target[length - 1] = last;
  }
}

}  // namespace text_bytes
