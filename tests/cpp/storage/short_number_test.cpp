#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "storage/short_number.h"

// The word readers at the edges of what they take: the longest texts and
// one more, a point first, last or twice, signs, blanks and bytes next to
// the digits and the point in the character set. Each text is read from a
// buffer that holds it alone, so that a read past its length would fault
// under the sanitizers.
TEST(ShortNumber, ReadersTakeExactlyTheirTexts) {
  struct Case {
    const char* text;
    size_t most;        // for readDigits
    bool digits;        // readDigits takes it
    bool decimal;       // readDecimal takes it
    uint64_t mantissa;  // the digits' value, without the point
    int scale;
  };
  const Case cases[] = {
      {"0", 8, true, true, 0, 0},
      {"7", 1, true, true, 7, 0},
      {"12345678", 8, true, true, 12345678, 0},
      {"99999999", 8, true, true, 99999999, 0},
      {"00000001", 8, true, true, 1, 0},
      {"123456789", 8, false, false, 0, 0},
      {"9999", 4, true, true, 9999, 0},
      {"10000", 4, false, true, 10000, 0},
      {"", 8, false, false, 0, 0},
      {"-1", 8, false, false, 0, 0},
      {"+1", 8, false, false, 0, 0},
      {" 1", 8, false, false, 0, 0},
      {"1 ", 8, false, false, 0, 0},
      {"1/", 8, false, false, 0, 0},
      {"1:", 8, false, false, 0, 0},
      {"1.5", 8, false, true, 15, 1},
      {".5", 8, false, true, 5, 1},
      {"5.", 8, false, true, 5, 0},
      {".", 8, false, false, 0, 0},
      {"..", 8, false, false, 0, 0},
      {"1..2", 8, false, false, 0, 0},
      {"1.2.3", 8, false, false, 0, 0},
      {".1234567", 8, false, true, 1234567, 7},
      {"1234567.", 8, false, true, 1234567, 0},
      {"123456.7", 8, false, true, 1234567, 1},
      {"12345678.", 8, false, false, 0, 0},
      {"0.000001", 8, false, true, 1, 6},
      {"1,5", 8, false, false, 0, 0},
      {"1e5", 8, false, false, 0, 0},
  };
  for (const Case& c : cases) {
    const size_t length = std::strlen(c.text);
    char* const text = new char[length == 0 ? 1 : length];
    std::memcpy(text, c.text, length);
    uint64_t value = 42;
    EXPECT_EQ(short_number::readDigits(text, length, c.most, value), c.digits) << c.text;
    EXPECT_EQ(value, c.digits ? c.mantissa : 42) << c.text;
    uint64_t mantissa = 0;
    int scale = -1;
    bool hasPoint = false;
    EXPECT_EQ(short_number::readDecimal(text, length, mantissa, scale, hasPoint), c.decimal) << c.text;
    if (c.decimal) {
      EXPECT_EQ(mantissa, c.mantissa) << c.text;
      EXPECT_EQ(scale, c.scale) << c.text;
      EXPECT_EQ(hasPoint, std::strchr(c.text, '.') != nullptr) << c.text;
    }
    delete[] text;
  }
}
