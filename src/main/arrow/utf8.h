#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// UTF-8 checks and repair for texts handed out as Arrow strings. Stored
// texts are bytes as the CSV file held them; Python's getters decode them
// with errors="replace", and Arrow strings must be valid UTF-8, so the
// export replaces exactly what Python's decoder replaces: every maximal
// subpart of an ill-formed sequence (Unicode's "best practice") becomes one
// U+FFFD. A text is then the same str whichever way it reaches Python.
namespace utf8 {

// U+FFFD REPLACEMENT CHARACTER in UTF-8.
inline constexpr char kReplacement[] = "\xEF\xBF\xBD";
inline constexpr size_t kReplacementBytes = 3;

// The sequence starting at p[0] (p < end): its length when it is a
// well-formed UTF-8 sequence, else minus the length of its maximal
// ill-formed subpart (at least 1).
inline int step(const unsigned char* p, const unsigned char* end) {
  const unsigned lead = p[0];
  if (lead < 0x80) return 1;
  int continuation = 0;
  unsigned low = 0x80;
  unsigned high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    continuation = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    continuation = 2;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    continuation = 3;
    if (lead == 0xF0) low = 0x90;   // no overlong forms
    if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
  } else {
    return -1;
  }
  for (int i = 1; i <= continuation; ++i) {
    if (end - p <= i) return -i;
    const unsigned next = p[i];
    if (next < low || next > high) return -i;
    low = 0x80;
    high = 0xBF;
  }
  return continuation + 1;
}

// True when [text, text + size) is well-formed UTF-8. ASCII, the common
// case, is checked eight bytes at a time.
inline bool valid(const char* text, size_t size) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* const end = p + size;
  while (p < end) {
    if (end - p >= 8) {
      uint64_t word;
      std::memcpy(&word, p, sizeof word);
      if ((word & 0x8080808080808080ULL) == 0) {
        p += 8;
        continue;
      }
    }
    if (*p < 0x80) {
      ++p;
      continue;
    }
    const int length = step(p, end);
    if (length < 0) return false;
    p += length;
  }
  return true;
}

// Bytes of the repaired form of [text, text + size).
inline size_t repairedSize(const char* text, size_t size) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* const end = p + size;
  size_t bytes = 0;
  while (p < end) {
    const int length = step(p, end);
    if (length > 0) {
      bytes += static_cast<size_t>(length);
      p += length;
    } else {
      bytes += kReplacementBytes;
      p -= length;
    }
  }
  return bytes;
}

// Writes the repaired form of [text, text + size) to `out`, which has room
// for repairedSize(text, size) bytes; returns the end of what it wrote.
inline char* repair(const char* text, size_t size, char* out) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* const end = p + size;
  while (p < end) {
    const int length = step(p, end);
    if (length > 0) {
      std::memcpy(out, p, static_cast<size_t>(length));
      out += length;
      p += length;
    } else {
      std::memcpy(out, kReplacement, kReplacementBytes);
      out += kReplacementBytes;
      p -= length;
    }
  }
  return out;
}

}  // namespace utf8
