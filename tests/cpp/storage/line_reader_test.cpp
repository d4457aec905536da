#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "../test_support.h"
#include "storage/line_reader.h"

// A line ends at a line feed or a CR LF, also at the end of the file; any
// other carriage return is data. Empty lines are skipped but counted, so
// that each line has its number in the file.
TEST(LineReader, LineEndsEmptyLinesAndLineNumbers) {
  test_support::ScratchDir directory;
  const std::string longText(70, 'l');
  LineReader reader;
  reader.open(directory.write("input.csv", "\r\na,b\r\n\r\n7,x\r\n\n\"8,9\",\r\r\r\n9," + longText +
                                               "\r\n10,a\rb\n\n\r\n11,y\r"));
  for (const auto& [expected, number] : std::vector<std::pair<std::string, uint64_t>>{
           {"a,b", 2}, {"7,x", 4}, {"\"8,9\",\r\r", 6}, {"9," + longText, 7}, {"10,a\rb", 8}, {"11,y", 11}}) {
    char* line = nullptr;
    size_t length = 0;
    ASSERT_TRUE(reader.readFilledLine(line, length)) << expected;
    EXPECT_EQ(std::string(line, length), expected);
    EXPECT_EQ(line[length], '\0') << expected;
    EXPECT_EQ(reader.linesRead(), number) << expected;
  }
  char* line = nullptr;
  size_t length = 0;
  EXPECT_FALSE(reader.readFilledLine(line, length));
}

// extendLine joins the next line to the line handed out last, its line end
// as the file has it, also when the join needs the next block of the file
// (the line moves); a line that ended the file, or was taken by the caller,
// cannot be extended.
TEST(LineReader, ExtendedLinesKeepTheirLineEnds) {
  test_support::ScratchDir directory;
  const std::string blockLong(256 * 1024 - 3, 'x');
  LineReader reader;
  reader.open(directory.write("input.csv", "a\r\nb\n\nc\n" + blockLong + "\nd\ne\r\nf"));
  char* line = nullptr;
  size_t length = 0;
  const auto text = [&] { return std::string(line, length); };
  ASSERT_TRUE(reader.readLine(line, length));
  ASSERT_TRUE(reader.extendLine(line, length));
  ASSERT_TRUE(reader.extendLine(line, length));
  EXPECT_EQ(text(), "a\r\nb\n");
  ASSERT_TRUE(reader.extendLine(line, length));
  EXPECT_EQ(text(), "a\r\nb\n\nc");
  EXPECT_EQ(line[length], '\0');
  EXPECT_EQ(reader.linesRead(), 4u);
  ASSERT_TRUE(reader.readLine(line, length));
  ASSERT_TRUE(reader.extendLine(line, length));
  EXPECT_EQ(text(), blockLong + "\nd");
  ASSERT_TRUE(reader.readLine(line, length));
  ASSERT_TRUE(reader.extendLine(line, length));
  EXPECT_EQ(text(), "e\r\nf");
  EXPECT_FALSE(reader.extendLine(line, length));
  EXPECT_EQ(text(), "e\r\nf");
  EXPECT_FALSE(reader.readLine(line, length));

  reader.open(directory.write("taken.csv", "g\nh\ni\n"));
  ASSERT_TRUE(reader.readLine(line, length));
  reader.takeLine(2);
  EXPECT_FALSE(reader.extendLine(line, length));
  ASSERT_TRUE(reader.readLine(line, length));
  EXPECT_EQ(text(), "i");
}
