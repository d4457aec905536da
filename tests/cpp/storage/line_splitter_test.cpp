#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "storage/line_splitter.h"

namespace {

// Fields of a line by the plain character-by-character rule: a double
// quote toggles the quoted state, a comma outside quotes separates, a
// quoted field loses its outer quotes and a doubled quote inside it stands
// for one.
std::vector<std::string> referenceSplit(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (const char c : line) {
    if (c == '"') quoted = !quoted;
    if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  for (std::string& field : fields) {
    if (field.empty() || field[0] != '"') continue;
    field = field.size() == 1 ? "" : field.substr(1, field.size() - 2);
    for (size_t pair = field.find("\"\""); pair != std::string::npos; pair = field.find("\"\"", pair + 1)) {
      field.erase(pair, 1);
    }
  }
  return fields;
}

}  // namespace

// Random short lines, each followed by the separators of a next line: a
// line without quotes is cut in one step by splitShort (a carriage return
// before its line feed dropped), any other by split, and either way the
// fields are those of the character rule.
TEST(LineSplitter, SplittingMatchesTheCharacterRule) {
  std::mt19937 random(7);
  const char alphabet[] = {'a', 'b', ',', '"', ' ', '\r'};
  const std::string next = "\n,\",\r\n" + std::string(LineSplitter::kReadAheadBytes, ',');
  for (int round = 0; round < 300; ++round) {
    std::string line;
    const int length = 1 + static_cast<int>(random() % 40);
    for (int i = 0; i < length; ++i) line += alphabet[random() % 6];
    const std::string content = line.back() == '\r' ? line.substr(0, length - 1) : line;
    const std::vector<std::string> expected = referenceSplit(content);
    LineSplitter splitter;
    splitter.setColumns(static_cast<unsigned short>(expected.size()));
    std::string data = line + next;
    const size_t taken = splitter.splitShort(data.data(), data.size());
    const bool plain = !content.empty() && content.find('"') == std::string::npos;
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
