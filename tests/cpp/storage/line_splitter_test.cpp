#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "storage/line_splitter.h"

namespace {

// Fields of a line read field by field as RFC 4180 reads them, with
// `separator` in place of the comma: a field that starts with a double
// quote runs to its closing quote (a doubled quote inside stands for one)
// and on to the next separator, what follows the closing quote kept; any
// other field runs to the next separator.
std::vector<std::string> referenceSplit(const std::string& line, char separator) {
  std::vector<std::string> fields;
  size_t at = 0;
  for (;;) {
    std::string field;
    if (at < line.size() && line[at] == '"') {
      for (++at; at < line.size(); ++at) {
        if (line[at] != '"') {
          field += line[at];
        } else if (at + 1 < line.size() && line[at + 1] == '"') {
          field += line[++at];
        } else {
          ++at;
          break;
        }
      }
    }
    const size_t end = std::min(line.find(separator, at), line.size());
    field += line.substr(at, end - at);
    fields.push_back(field);
    if (end == line.size()) return fields;
    at = end + 1;
  }
}

}  // namespace

class LineSplitterTest : public ::testing::TestWithParam<char> {};

// Random lines, each followed by the separators of a next line: a short
// line without quotes is cut in one step by splitShort (a carriage return
// before its line feed dropped), any other by split, and either way the
// fields are those of the reference reading, and so is their count. Lines
// hold commas, tabs and semicolons, which are data unless they separate.
TEST_P(LineSplitterTest, SplittingMatchesTheReferenceReading) {
  const char separator = GetParam();
  std::mt19937 random(7);
  const char alphabet[] = {'a', separator, separator, '"', ' ', '\r', ',', '\t', ';'};
  const std::string next = std::string("\n") + separator + '"' + separator + "\r\n" +
                           std::string(LineSplitter::kReadAheadBytes, separator);
  for (int round = 0; round < 500; ++round) {
    std::string line;
    const int length = 1 + static_cast<int>(random() % 100);
    for (int i = 0; i < length; ++i) line += alphabet[random() % sizeof(alphabet)];
    const std::string content = line.back() == '\r' ? line.substr(0, length - 1) : line;
    const std::vector<std::string> expected = referenceSplit(content, separator);
    LineSplitter splitter;
    splitter.setSeparator(separator);
    splitter.setColumns(static_cast<unsigned short>(expected.size()));
    std::string data = line + next;
    const size_t taken = splitter.splitShort(data.data(), data.size());
    const bool plain = !content.empty() && content.find('"') == std::string::npos &&
                       line.size() < LineSplitter::kShortLineBytes;
    ASSERT_EQ(taken, plain ? line.size() + 1 : 0) << line;
    if (!plain) {
      data = content + '\0' + next;
      ASSERT_EQ(splitter.split(data.data(), content.size()), expected.size()) << line;
    }
    splitter.finishFields();
    for (unsigned short column = 0; column < expected.size(); ++column) {
      const LineSplitter::Field& field = splitter.field(column);
      ASSERT_EQ(std::string(field.text), expected[column]) << line << " column " << column;
      ASSERT_EQ(field.length, expected[column].size()) << line << " column " << column;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Separators, LineSplitterTest, ::testing::Values(',', ';', '\t', '|', ' '),
                         [](const ::testing::TestParamInfo<char>& info) {
                           return "byte" + std::to_string(static_cast<int>(info.param));
                         });
