#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "../test_support.h"
#include "errors/database_exception.h"
#include "storage/data_type.h"
#include "storage/templated_class.h"
#include "storage/unaligned.h"

namespace {

using test_support::messageOf;

// Owns a value made by stringValueToBuffer.
struct StoredValue {
  StoredValue(const char* text, DATA_TYPE type) : bytes(static_cast<char*>(stringValueToBuffer(text, type))) {}
  template <typename T>
  T as() const {
    T value;
    std::memcpy(&value, bytes.get(), sizeof(T));
    return value;
  }
  std::unique_ptr<char[]> bytes;
};

std::string roundTrip(const char* text, DATA_TYPE type) {
  StoredValue value(text, type);
  return getStringFromPtr(value.bytes.get(), type);
}

const char* const kDateMessage =
    " to date. Accepted format YYYY-MM-DD from 1970-01-01 to 2149-06-06";

}  // namespace

TEST(DataType, KeywordsAndUnknownTypes) {
  DATA_TYPE type = LONG;
  ASSERT_TRUE(getTypeFromKeyword("date", type));
  EXPECT_EQ(type, DATE);
  ASSERT_TRUE(getTypeFromKeyword("bool", type));
  EXPECT_EQ(type, 7);
  EXPECT_FALSE(getTypeFromKeyword("integer", type));
  EXPECT_FALSE(getTypeFromKeyword("", type));
  EXPECT_FALSE(getTypeFromKeyword("in", type));
  for (int t = LONG; t <= DATE; ++t) {
    ASSERT_TRUE(getTypeFromKeyword(getTypeKeyword(static_cast<DATA_TYPE>(t)), type));
    EXPECT_EQ(type, t);
  }
  EXPECT_THROW(getTypeWidth(static_cast<DATA_TYPE>(0)), DatabaseException);
  int64_t value = 5;
  char dest[8] = {};
  for (int t : {0, 9, -1}) {
    const auto type = static_cast<DATA_TYPE>(t);
    EXPECT_EQ(messageOf([&] { getStringFromPtr(&value, type); }), "Unknown data type provided");
    EXPECT_THROW(stringValueToBuffer("1", type), DatabaseException);
    EXPECT_THROW(copyStringValueToBuffer("1", dest, type), DatabaseException);
  }
}

TEST(DataType, StrobAcceptsExactlyEighteenForms) {
  for (const char* text : {"true", "True", "TRUE", "yes", "Yes", "YES", "y", "Y", "1"}) {
    EXPECT_TRUE(strob(text)) << text;
  }
  for (const char* text : {"false", "False", "FALSE", "no", "No", "NO", "n", "N", "0"}) {
    EXPECT_FALSE(strob(text)) << text;
  }
  for (const char* text : {"tRuE", "", "1 ", "01", "t", "tru", "truex", "TRue", "fals", "falsey", "10", " 1", "2",
                           "TRUE ", "true\"", "FALSE!", "truefals", "falsefalse", "yEs", "ye", "yess", "nO", "Nope",
                           "y ", "non", "YESNO"}) {
    EXPECT_THROW(strob(text), DatabaseException) << text;
  }
  // A percent sign in the text is copied, never read as a directive.
  EXPECT_EQ(messageOf([] { strob("50%s%n"); }), "Unable to convert value 50%s%n to boolean. Accepted values "
                                                "TRUE/True/true/YES/Yes/yes/Y/y/1 for true and "
                                                "FALSE/False/false/NO/No/no/N/n/0 for false");
}

TEST(DataType, IntegersAreLenientAndNarrowToLowBits) {
  EXPECT_EQ(StoredValue("12abc", INT).as<int32_t>(), 12);
  EXPECT_EQ(StoredValue("", INT).as<int32_t>(), 0);
  EXPECT_EQ(StoredValue("  -7", INT).as<int32_t>(), -7);
  EXPECT_EQ(StoredValue("4294967297", INT).as<int32_t>(), 1);
  EXPECT_EQ(StoredValue("65541", SHORT).as<int16_t>(), 5);
  EXPECT_EQ(StoredValue("-1", SHORT).as<int16_t>(), -1);
  EXPECT_EQ(StoredValue("99999999999999999999", LONG).as<int64_t>(), INT64_MAX);
  EXPECT_EQ(StoredValue("-99999999999999999999", LONG).as<int64_t>(), INT64_MIN);
  EXPECT_EQ(roundTrip("-9223372036854775808", LONG), "-9223372036854775808");
  EXPECT_EQ(roundTrip("-32768", SHORT), "-32768");
  EXPECT_EQ(StoredValue("+5", INT).as<int32_t>(), 5);
  EXPECT_EQ(StoredValue("\t 8x", LONG).as<int64_t>(), 8);
  EXPECT_EQ(StoredValue("0x1F", INT).as<int32_t>(), 0) << "base 10 only";
  EXPECT_EQ(StoredValue("-", INT).as<int32_t>(), 0);
}

// The conversion of file fields: lenient like the general one, but a
// number outside the column's type is refused instead of narrowed.
TEST(DataType, IntegersInRangeOfTheirColumn) {
  struct Case {
    const char* text;
    DATA_TYPE type;
    bool fits;
    int64_t stored;
  };
  const Case cases[] = {
      {"32767", SHORT, true, 32767},
      {"-32768", SHORT, true, -32768},
      {"32768", SHORT, false, 0},
      {" -32769", SHORT, false, 0},
      {"65541", SHORT, false, 0},
      {"2147483647x", INT, true, 2147483647},
      {"+2147483648", INT, false, 0},
      {"-2147483649", INT, false, 0},
      {"4294967297", INT, false, 0},
      {"", INT, true, 0},
      {"abc", INT, true, 0},
      {"  -7", INT, true, -7},
      {"9223372036854775807", LONG, true, INT64_MAX},
      {"-9223372036854775808", LONG, true, INT64_MIN},
      {"9223372036854775808", LONG, false, 0},
      {"-9223372036854775809", LONG, false, 0},
      {"\t99999999999999999999", LONG, false, 0},
      {"99999999999999999999abc", LONG, false, 0},
  };
  for (const Case& c : cases) {
    char dest[8] = {};
    EXPECT_EQ(copyIntegerInRange(c.text, std::strlen(c.text), dest, c.type), c.fits) << c.text;
    const int64_t stored = c.type == LONG  ? unaligned::load<int64_t>(dest)
                           : c.type == INT ? unaligned::load<int32_t>(dest)
                                           : unaligned::load<int16_t>(dest);
    EXPECT_EQ(stored, c.stored) << c.text;
  }
  char dest[8];
  EXPECT_EQ(messageOf([&] { copyIntegerInRange("1", 1, dest, DOUBLE); }), "Unknown data type provided");
}

TEST(DataType, FloatingPointPrintsWithSixDecimals) {
  EXPECT_EQ(roundTrip("2.5", DOUBLE), "2.500000");
  EXPECT_EQ(roundTrip("0.1", FLOAT), "0.100000");
  EXPECT_EQ(roundTrip("-0.0000001", DOUBLE), "-0.000000");
  EXPECT_EQ(roundTrip("1e20", DOUBLE), "100000000000000000000.000000");
  EXPECT_EQ(roundTrip("abc", DOUBLE), "0.000000");
  EXPECT_EQ(roundTrip("1.5xyz", FLOAT), "1.500000");
  EXPECT_EQ(roundTrip("-1.7976931348623157e308", DOUBLE).size(), 317u);
  EXPECT_EQ(StoredValue("+2.5", DOUBLE).as<double>(), 2.5);
  EXPECT_EQ(StoredValue("  .5e1", DOUBLE).as<double>(), 5.0);
  EXPECT_EQ(StoredValue("0x1p3", DOUBLE).as<double>(), 8.0);
  EXPECT_EQ(StoredValue("1e", DOUBLE).as<double>(), 1.0);
  EXPECT_EQ(StoredValue("1e400", DOUBLE).as<double>(), INFINITY);
  EXPECT_EQ(StoredValue("-1e400", DOUBLE).as<double>(), -INFINITY);
  EXPECT_EQ(StoredValue("1e-400", DOUBLE).as<double>(), 0.0);
  EXPECT_EQ(StoredValue("1e300", FLOAT).as<float>(), INFINITY);
  EXPECT_EQ(StoredValue("-Infinity", DOUBLE).as<double>(), -INFINITY);
  EXPECT_TRUE(std::isnan(StoredValue("nan", DOUBLE).as<double>()));
  EXPECT_EQ(StoredValue("0.30000000000000004", DOUBLE).as<double>(), 0.1 + 0.2);
}

TEST(DataType, BooleansStoreOneByte) {
  EXPECT_EQ(StoredValue("true", BOOL).as<uint8_t>(), 1);
  EXPECT_EQ(roundTrip("TRUE", BOOL), "1");
  EXPECT_EQ(roundTrip("0", BOOL), "0");
  EXPECT_THROW(StoredValue("", BOOL), DatabaseException);
}

TEST(DataType, DatesCountDaysFrom1970) {
  EXPECT_EQ(dateStringToInt("1970-01-01"), 0);
  EXPECT_EQ(dateStringToInt("1972-02-29"), 789);
  EXPECT_EQ(dateStringToInt("2149-06-06"), 65535);
  EXPECT_EQ(dateStringToInt("1970-01-02 12:00"), 1);
  EXPECT_EQ(dateStringToInt("2000-03-01"), 11017);
  EXPECT_EQ(dateStringToInt("1970-1-2"), 1);
  EXPECT_EQ(intToDateString(0), "1970-01-01");
  EXPECT_EQ(intToDateString(789), "1972-02-29");
  EXPECT_EQ(intToDateString(65535), "2149-06-06");
  EXPECT_EQ(roundTrip("1999-12-31", DATE), "1999-12-31");
  for (unsigned days = 0; days <= 65535; ++days) {
    ASSERT_EQ(dateStringToInt(intToDateString(static_cast<unsigned short>(days)).c_str()), days);
  }
}

// The plain ten-character form is read word-wise, every other form digit by
// digit: both must give the same day for every storable date, and the word
// path must hand back every text it does not fully accept.
TEST(DataType, PlainAndGeneralDateReadingsAgree) {
  for (unsigned days = 0; days <= 65535; ++days) {
    const std::string plain = intToDateString(static_cast<unsigned short>(days));
    unsigned short read = 0;
    ASSERT_TRUE(plainDateToInt(plain.c_str(), plain.size(), read)) << plain;
    ASSERT_EQ(read, days) << plain;
    ASSERT_EQ(dateStringToInt((plain + "T").c_str()), days) << plain;
  }
  const std::vector<std::string> refused{"2149-06-07", "1969-12-31", "2021-02-29", "2100-02-29", "2020-13-01",
                                         "2020-00-10", "2020-01-00", "2020-04-31", "2020-01-3a", "2020+01-30",
                                         "2020-01/30", "20a0-01-30", "2020-01-30 ", "2020-1-30",
                                         std::string("2020-01-3\0", 10), std::string("2020\0-01-3", 10)};
  for (const std::string& text : refused) {
    unsigned short untouched = 7;
    EXPECT_FALSE(plainDateToInt(text.data(), text.size(), untouched)) << text;
    EXPECT_EQ(untouched, 7) << text;
  }
}

TEST(DataType, DatesOutsideFormatOrRangeAreRefused) {
  for (const char* text : {"2149-06-07", "1969-12-31", "2021-02-29", "1900-02-29", "2020-13-01", "2020-00-10",
                           "2020-01-00", "2020-04-31", "abc", "", "20-01-01", "2020/01/01", "1970-01-012",
                           "01-01-1970", "-1970-01-01"}) {
    EXPECT_THROW(dateStringToInt(text), DatabaseException) << text;
  }
  EXPECT_EQ(dateStringToInt("2000-02-29"), 11016);
  EXPECT_EQ(messageOf([] { dateStringToInt("2020-13-01"); }), std::string("Unable to convert value 2020-13-01") + kDateMessage);
  EXPECT_EQ(messageOf([] { dateStringToInt("%d%s"); }), std::string("Unable to convert value %d%s") + kDateMessage);
}

TEST(DataType, Strings) {
  StoredValue empty("", STRING);
  EXPECT_EQ(empty.bytes[0], '\0');
  EXPECT_EQ(getStringFromPtr(empty.bytes.get(), STRING), "");
  EXPECT_EQ(roundTrip("a b,c", STRING), "a b,c");

  const std::string longest(65534, 'x');
  EXPECT_EQ(roundTrip(longest.c_str(), STRING), longest);
  const std::string tooLong(65535, 'x');
  EXPECT_THROW(stringValueToBuffer(tooLong.c_str(), STRING), DatabaseException);
  char dest[4] = {'?', '?', '?', '?'};
  EXPECT_THROW(copyStringValueToBuffer(tooLong.c_str(), dest, STRING), DatabaseException);
  EXPECT_EQ(dest[0], '?');
  EXPECT_EQ(messageOf([] { stringValueToBuffer(std::string(70000, 'y').c_str(), STRING); }),
            "Text of 70001 bytes is too long: a text value holds at most 65535 bytes including its terminating NUL");
}

// Short plain numbers are read as one word and other plain decimals digit
// by digit; whatever path a text takes, every number type must store what
// the C library reads: the double bit for bit.
TEST(DataType, NumberTextsConvertExactlyAsTheCLibrary) {
  std::mt19937 random(7);
  std::vector<std::string> texts = {"0",     "-0",     "5.",     ".5",    "-.25",       "123456789012345",
                                    "1234567890123456", "0.1",   "0.3",   "9007199254740993", "1e5",
                                    " 12.5", "+3.25",  "12.5abc", "-",    ".",          "",
                                    "0.000000000000001", "99999999999999.9", "00000000000000000001.5",
                                    "99999999", "123456789", "00000001", "1.2.3", "12a", "a1", "0x1A", "4 ", "-0.0",
                                    "1..2", "..", "1234567.", ".1234567", "12345678.", ".12345678", "9999",
                                    "10000", "0000", "32768", "1/2", "1:2", "9.9e1"};
  for (int i = 0; i < 20000; ++i) {
    std::string text = random() % 4 == 0 ? "-" : "";
    const unsigned whole = random() % 12;
    const unsigned fraction = random() % 9;
    for (unsigned d = 0; d < whole; ++d) text += static_cast<char>('0' + random() % 10);
    if (fraction != 0 || random() % 2 == 0) text += '.';
    for (unsigned d = 0; d < fraction; ++d) text += static_cast<char>('0' + random() % 10);
    texts.push_back(text);
  }
  for (const std::string& text : texts) {
    const double expected = std::strtod(text.c_str(), nullptr);
    StoredValue stored(text.c_str(), DOUBLE);
    const double actual = stored.as<double>();
    EXPECT_EQ(std::memcmp(&actual, &expected, sizeof(double)), 0) << "text \"" << text << "\"";
    StoredValue narrow(text.c_str(), FLOAT);
    EXPECT_EQ(narrow.as<float>(), static_cast<float>(expected)) << "text \"" << text << "\"";
    const long integer = std::strtol(text.c_str(), nullptr, 10);
    EXPECT_EQ(StoredValue(text.c_str(), LONG).as<int64_t>(), integer) << text;
    EXPECT_EQ(StoredValue(text.c_str(), INT).as<int32_t>(), static_cast<int32_t>(integer)) << text;
    EXPECT_EQ(StoredValue(text.c_str(), SHORT).as<int16_t>(), static_cast<int16_t>(integer)) << text;
  }
}
