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
