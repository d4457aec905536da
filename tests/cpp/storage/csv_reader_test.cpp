#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "../test_support.h"
#include "errors/database_exception.h"
#include "storage/csv_reader.h"

namespace {

const std::string kBoolForms =
    "TRUE/True/true/YES/Yes/yes/Y/y/1 for true and FALSE/False/false/NO/No/no/N/n/0 for false";

class CSVReaderTest : public ::testing::Test {
 protected:
  std::string writeFile(const std::string& content) { return directory.write("input.csv", content); }

  std::string text(unsigned short column) { return static_cast<const char*>(reader.getPointer(column)); }

  template <typename T>
  T value(unsigned short column) {
    T result;
    std::memcpy(&result, reader.getPointer(column), sizeof(T));
    return result;
  }

  std::string nextRowError() {
    return test_support::messageOf([&] { reader.nextRow(); });
  }

  test_support::ScratchDir directory;
  CSVReader reader;
};

}  // namespace

TEST_F(CSVReaderTest, HeaderOnlyAndEmptyFilesHaveNoRows) {
  reader.init(writeFile("a,b\n"), {INT, STRING});
  EXPECT_EQ(reader.getPointer(0), nullptr);
  EXPECT_FALSE(reader.nextRow());
  EXPECT_FALSE(reader.nextRow());

  CSVReader empty;
  empty.init(writeFile(""), {INT});
  EXPECT_FALSE(empty.nextRow());

  CSVReader untyped;
  untyped.init(writeFile(""));
  EXPECT_EQ(untyped.getNumberOfColumns(), 0);
  EXPECT_FALSE(untyped.nextRow());

  // Without types the header sets the columns, all read as texts.
  CSVReader fromHeader;
  fromHeader.init(writeFile("a,\"b,c\",d\r\n1,2,3\n"));
  EXPECT_EQ(fromHeader.getNumberOfColumns(), 3);
  ASSERT_TRUE(fromHeader.nextRow());
  EXPECT_STREQ(static_cast<const char*>(fromHeader.getPointer(2)), "3");
}

TEST_F(CSVReaderTest, QuotedAndEmptyFields) {
  reader.init(writeFile("1,2,3,4\n1,\"a,b\",x\n5,,\n,x,\"\"\n\"12\",\"say \"\"hi\"\"\",\"\"\n"), {INT, STRING, STRING});
  ASSERT_TRUE(reader.nextRow()) << "the header is skipped whatever its field count";
  EXPECT_EQ(value<int32_t>(0), 1);
  EXPECT_EQ(text(1), "a,b");
  EXPECT_EQ(text(2), "x");
  ASSERT_TRUE(reader.nextRow());
  EXPECT_EQ(value<int32_t>(0), 5);
  EXPECT_EQ(text(1), "");
  EXPECT_EQ(text(2), "");
  ASSERT_TRUE(reader.nextRow());
  EXPECT_EQ(value<int32_t>(0), 0);
  EXPECT_EQ(text(1), "x");
  EXPECT_EQ(text(2), "");
  ASSERT_TRUE(reader.nextRow());
  EXPECT_EQ(value<int32_t>(0), 12);
  EXPECT_EQ(text(1), "say \"hi\"") << "a doubled quote stands for one";
  EXPECT_EQ(text(2), "") << "two quotes are an empty quoted field";
  EXPECT_FALSE(reader.nextRow());
}

TEST_F(CSVReaderTest, EveryTypeLandsInTheRowLayout) {
  reader.init(writeFile("h\nfirst,-9000000000,2.5,true,1972-02-29,-3,0.5,second,70000\n"),
              {STRING, LONG, DOUBLE, BOOL, DATE, SHORT, FLOAT, STRING, INT});
  ASSERT_TRUE(reader.nextRow());
  EXPECT_EQ(text(0), "first");
  EXPECT_EQ(value<int64_t>(1), -9000000000);
  EXPECT_EQ(value<double>(2), 2.5);
  EXPECT_EQ(value<uint8_t>(3), 1);
  EXPECT_EQ(value<uint16_t>(4), 789);
  EXPECT_EQ(value<int16_t>(5), -3);
  EXPECT_EQ(value<float>(6), 0.5f);
  EXPECT_EQ(text(7), "second");
  EXPECT_EQ(value<int32_t>(8), 70000);
  EXPECT_EQ(reader.getPointer(9), nullptr);

  // Fixed part 1 + 2 + 2 + 4 + 4 + 8 + 8 bytes, then the texts in column order.
  NodeIterator& row = reader.getRowView();
  const char* start = row.current;
  EXPECT_EQ(static_cast<const char*>(reader.getPointer(3)), start);
  EXPECT_EQ(static_cast<const char*>(reader.getPointer(0)), start + 29);
  EXPECT_EQ(static_cast<const char*>(reader.getPointer(7)), start + 29 + 6);
  EXPECT_EQ(row.config->rowLength(start), 29u + 6 + 7);
  EXPECT_FALSE(row.nextRow()) << "the row view holds just the current row";
}

// A NUL byte read from the file ends its text; the columns after it keep
// their own values and the stored row holds each text in its place.
TEST_F(CSVReaderTest, NulByteEndsItsText) {
  const std::string content = std::string("a,b,c,d\n1,ab\0cd,x,5\n2,\"e\0f,g\",yy,6\n", 35);
  reader.init(writeFile(content), {INT, STRING, STRING, INT});
  ASSERT_TRUE(reader.nextRow());
  EXPECT_EQ(text(1), "ab");
  EXPECT_EQ(text(2), "x");
  NodeIterator& row = reader.getRowView();
  EXPECT_STREQ(static_cast<const char*>(row.getPointer(2)), "x");
  EXPECT_EQ(row.config->rowLength(row.current), 8u + 3 + 2);
  EXPECT_FALSE(row.nextRow()) << "no bytes of the cut text are left behind the row";
  ASSERT_TRUE(reader.nextRow());
  EXPECT_EQ(text(1), "e");
  EXPECT_EQ(text(2), "yy");
  EXPECT_EQ(value<int32_t>(3), 6);
  EXPECT_FALSE(reader.nextRow());
}

// Lines longer than a read block are read whole, up to the largest row:
// 4 fixed bytes + 65530 characters + NUL = 65535 bytes.
TEST_F(CSVReaderTest, LongLinesAndRowsAtTheSizeLimit) {
  const std::string padding(700000, ' ');
  const std::string fits(65530, 'f');
  const std::string tooLong(65531, 'g');
  const std::string path = writeFile("n,s\n" + padding + "42,a\n1," + fits + "\n2," + tooLong + "\n3,c\n");
  reader.init(path, {INT, STRING});
  ASSERT_TRUE(reader.nextRow());
  EXPECT_EQ(value<int32_t>(0), 42);
  EXPECT_EQ(text(1), "a");
  ASSERT_TRUE(reader.nextRow());
  EXPECT_EQ(text(1), fits);
  EXPECT_EQ(reader.getRowView().config->rowLength(reader.getRowView().current), 65535u);
  EXPECT_EQ(nextRowError(),
            "Row of 65536 bytes is too long: a stored row holds at most 65535 bytes, line 4 of " + path);
  EXPECT_FALSE(reader.nextRow()) << "reading ends at a refused row";
}

TEST_F(CSVReaderTest, ManyRowsAcrossReadBlocks) {
  std::string content = "i,s,d\n";
  const int rows = 60000;
  for (int i = 0; i < rows; ++i) {
    content += std::to_string(i) + ",\"v," + std::string(i % 13, 'k') + "\"," + std::to_string(i % 2) + "\n";
  }
  ASSERT_GT(content.size(), 3u * 256 * 1024);
  reader.init(writeFile(content), {INT, STRING, BOOL});
  for (int i = 0; i < rows; ++i) {
    ASSERT_TRUE(reader.nextRow()) << i;
    ASSERT_EQ(value<int32_t>(0), i);
    ASSERT_EQ(text(1), "v," + std::string(i % 13, 'k')) << i;
    ASSERT_EQ(value<uint8_t>(2), i % 2) << i;
  }
  EXPECT_FALSE(reader.nextRow());
}

// Lines of every length up to about 80 bytes (cut in one step up to 63,
// by the general splitter beyond, and by it whenever quoted), packed one
// after the other, so the bytes a split reads past a line's end belong to
// the next line (commas, quotes, line feeds). Shifting the first line moves
// the end of the first read block through every position of the lines
// around it; lines end with LF or CR LF, some are followed by an empty
// line, and the last line has no line feed.
TEST_F(CSVReaderTest, SplittingAcrossChunkAndBlockEnds) {
  std::mt19937 random(11);
  // A field of up to 40 characters, plain or in quotes holding commas and
  // doubled quotes: its text in the file and its value.
  const auto field = [&random] {
    const bool quoted = random() % 2 == 0;
    std::pair<std::string, std::string> field;
    for (size_t i = random() % 41; i > 0; --i) {
      const char c = "a ,\""[random() % (quoted ? 4 : 2)];
      field.first += c == '"' ? "\"\"" : std::string(1, c);
      field.second += c;
    }
    if (quoted) field.first = "\"" + field.first + "\"";
    return field;
  };
  std::vector<std::pair<std::string, std::string>> values;
  std::string body;
  while (body.size() < 300 * 1024) {
    const auto [firstText, first] = field();
    const auto [secondText, second] = field();
    values.emplace_back(first, second);
    body += firstText + "," + secondText + (random() % 3 == 0 ? "\r\n" : "\n");
    if (random() % 11 == 0) body += random() % 2 == 0 ? "\n" : "\r\n";
  }
  body.erase(body.find_last_not_of("\r\n") + 1);
  for (size_t shift = 0; shift < 56; ++shift) {
    const std::string first = "p," + std::string(shift, 'q');
    CSVReader lineReader;
    lineReader.init(writeFile("h\n" + first + "\n" + body), {STRING, STRING});
    ASSERT_TRUE(lineReader.nextRow());
    ASSERT_EQ(std::string(static_cast<const char*>(lineReader.getPointer(1))), first.substr(2));
    for (const auto& [first, second] : values) {
      ASSERT_TRUE(lineReader.nextRow()) << shift << " " << first << "," << second;
      ASSERT_EQ(std::string(static_cast<const char*>(lineReader.getPointer(0))), first) << shift;
      ASSERT_EQ(std::string(static_cast<const char*>(lineReader.getPointer(1))), second) << shift;
    }
    ASSERT_FALSE(lineReader.nextRow());
  }
}

// Numbers are converted when first read; every row must still show its own
// values, whichever columns earlier rows read, and the row view converts
// all of them. Refusable values are checked at nextRow even if never read.
TEST_F(CSVReaderTest, NumbersConvertedOnDemandBelongToTheCurrentRow) {
  reader.init(writeFile("h\n1,a,1.5,10,true\n2,\"b,x\",2.5,20,false\n3,c,3.5,30,true\n4,d,4.5,40,maybe\n"),
              {INT, STRING, DOUBLE, SHORT, BOOL});
  ASSERT_TRUE(reader.nextRow());
  EXPECT_EQ(value<double>(2), 1.5);
  ASSERT_TRUE(reader.nextRow());
  EXPECT_EQ(text(1), "b,x") << "a text is read in the line, unquoted";
  EXPECT_EQ(value<int32_t>(0), 2);
  EXPECT_EQ(value<double>(2), 2.5) << "not the first row's value";
  EXPECT_EQ(value<double>(2), 2.5) << "a second read converts nothing new";
  ASSERT_TRUE(reader.nextRow());
  NodeIterator& row = reader.getRowView();
  int32_t id = 0;
  std::memcpy(&id, row.getPointer(0), sizeof id);
  double price = 0;
  std::memcpy(&price, row.getPointer(2), sizeof price);
  int16_t quantity = 0;
  std::memcpy(&quantity, row.getPointer(3), sizeof quantity);
  EXPECT_EQ(id, 3);
  EXPECT_EQ(price, 3.5);
  EXPECT_EQ(quantity, 30);
  EXPECT_STREQ(static_cast<const char*>(row.getPointer(1)), "c") << "the row view holds the texts";
  EXPECT_EQ(row.config->rowLength(row.current), 4u + 8 + 2 + 1 + 2);
  EXPECT_EQ(value<uint8_t>(4), 1);
  EXPECT_EQ(nextRowError(), "Unable to convert value maybe to boolean. Accepted values " + kBoolForms +
                                ", line 5 of " + reader.fileName);
}

// Each accepted boolean word gives its value in the middle of a line and as
// the file's last bytes, and a refused one is refused with the conversion's
// message and the line.
TEST_F(CSVReaderTest, BooleanWordsInTheLine) {
  const std::pair<const char*, uint8_t> accepted[] = {
      {"true", 1},  {"True", 1},  {"TRUE", 1},  {"yes", 1}, {"Yes", 1}, {"YES", 1}, {"y", 1}, {"Y", 1}, {"1", 1},
      {"false", 0}, {"False", 0}, {"FALSE", 0}, {"no", 0},  {"No", 0},  {"NO", 0},  {"n", 0}, {"N", 0}, {"0", 0}};
  for (const auto& [word, expected] : accepted) {
    CSVReader lineReader;
    lineReader.init(writeFile(std::string("h,i\n") + word + ",x\n"), {BOOL, STRING});
    ASSERT_TRUE(lineReader.nextRow()) << word;
    EXPECT_EQ(*static_cast<const uint8_t*>(lineReader.getPointer(0)), expected) << word;
    CSVReader lastReader;
    lastReader.init(writeFile(std::string("h,i\nx,") + word), {STRING, BOOL});
    ASSERT_TRUE(lastReader.nextRow()) << word;
    EXPECT_EQ(*static_cast<const uint8_t*>(lastReader.getPointer(1)), expected) << word;
  }
  reader.init(writeFile("h,i\n\"true\"x,x\n"), {BOOL, STRING});
  EXPECT_EQ(nextRowError(), "Unable to convert value truex to boolean. Accepted values " + kBoolForms +
                                ", line 2 of " + reader.fileName)
      << "a quoted word is unquoted, the text after it kept, then refused";
}

// Plain dates are read from the line word-wise, other forms by the general
// conversion: each field must store the day the general conversion gives,
// and a refused date must be refused with its text.
TEST_F(CSVReaderTest, DateFieldsConvertLikeTheGeneralConversion) {
  for (const std::string text : {"2024-02-29", "1970-01-01", "2149-06-06", "2024-1-5", " 2024-01-05",
                                 "2024-01-05 10:00", "2024-12-31"}) {
    CSVReader lineReader;
    lineReader.init(writeFile("d,e\n" + text + ",2099-09-09\n"), {DATE, DATE});
    ASSERT_TRUE(lineReader.nextRow()) << text;
    uint16_t stored = 0;
    std::memcpy(&stored, lineReader.getPointer(0), sizeof stored);
    EXPECT_EQ(stored, dateStringToInt(text.c_str())) << text;
  }
  for (const std::string text : {"2023-02-29", "2149-06-07", "2024-13-01", "2024-01-0x", "24-01-05"}) {
    reader.init(writeFile("d,e\nx," + text + "\n"), {STRING, DATE});
    EXPECT_EQ(nextRowError(), "Unable to convert value " + text +
                                  " to date. Accepted format YYYY-MM-DD from 1970-01-01 to 2149-06-06, line 2 of " +
                                  reader.fileName)
        << text;
  }
}

// Plain digits that surely fit are stored straight, other texts met again
// from the column's cache, short decimals read word-wise: every row, in a
// file whose few texts per column repeat in random order, must hold what
// the general conversion gives its texts, including texts that differ only
// in their last byte or past their eighth, the longest plain digits of each
// type and one more, and a point first or last; and a refused text is
// refused again with its own line when it comes back after accepted ones.
TEST_F(CSVReaderTest, RepeatedTextsStoreWhatTheirConversionGives) {
  const std::vector<std::vector<std::string>> texts = {
      {"0", "7", "-1", "12345678", "12345679", "123456789", "1000000000001", "1000000000002", "100000000000000002",
       " 42", "99999999", "00000000", "+5", "-0", "1.5"},
      {"2024-01-05", "2024-01-06", "2024-1-5", " 2024-01-05", "2149-06-06"},
      {"true", "True", "0", "no", "Y"},
      {"1", "32767", "-32768", "099", "99", "9999", "10000", "0000", "00032767", "+12"},
      {"99999999", "2147483647", "-2147483648", "00000001", "012345678", "5", ""},
      {"0.1", "5.", ".5", "-2.25", "12345678", "1234567.", ".1234567", "123456789", "1..2", "1e3", "9999.999"},
  };
  const DATA_TYPE types[] = {LONG, DATE, BOOL, SHORT, INT, DOUBLE};
  const size_t columns = std::size(types);
  std::mt19937 random(7);
  std::vector<std::vector<std::string>> rows(3000);
  std::string content = "l,d,b,s,i,f\n";
  for (auto& row : rows) {
    for (size_t column = 0; column < columns; ++column) {
      row.push_back(texts[column][random() % texts[column].size()]);
      content += row.back() + (column + 1 < columns ? "," : "\n");
    }
  }
  reader.init(writeFile(content + "5,2024-01-05,maybe,1,1,1\n"), {types, types + columns});
  for (size_t line = 0; line < rows.size(); ++line) {
    ASSERT_TRUE(reader.nextRow()) << line;
    for (unsigned short column = 0; column < columns; ++column) {
      uint64_t expected = 0;
      copyStringValueToBuffer(rows[line][column].c_str(), reinterpret_cast<char*>(&expected), types[column]);
      uint64_t stored = 0;
      std::memcpy(&stored, reader.getPointer(column), getTypeWidth(types[column]));
      ASSERT_EQ(stored, expected) << "line " << line + 2 << " '" << rows[line][column] << "'";
    }
  }
  EXPECT_EQ(nextRowError(), "Unable to convert value maybe to boolean. Accepted values " + kBoolForms +
                                ", line " + std::to_string(rows.size() + 2) + " of " + reader.fileName);
}

// A column whose values the caller skips is still checked: each bad
// integer is refused with the message it gets without skipping, after
// rows of plain integers that were only checked.
TEST_F(CSVReaderTest, SkippedColumnsRefuseWhatTheyRefusedBefore) {
  const std::pair<std::string, std::string> refused[] = {
      {"40000", "Value 40000 does not fit column 2 of type short"},
      {"99999999", "Value 99999999 does not fit column 2 of type short"},
      {"-32769", "Value -32769 does not fit column 2 of type short"},
  };
  for (const auto& [text, message] : refused) {
    reader.init(writeFile("i,s\n1,2\n22,33\n3," + text + "\n"), {INT, SHORT});
    reader.skipValues(0);
    reader.skipValues(1);
    ASSERT_TRUE(reader.nextRow());
    ASSERT_TRUE(reader.nextRow());
    EXPECT_EQ(nextRowError(), message + ", line 4 of " + reader.fileName) << text;
  }
  reader.init(writeFile("i,s\n1,2\n3000000000,3\n"), {INT, SHORT});
  reader.skipValues(0);
  ASSERT_TRUE(reader.nextRow());
  EXPECT_EQ(nextRowError(), "Value 3000000000 does not fit column 1 of type int, line 3 of " + reader.fileName);
}
