#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "../test_support.h"
#include "storage/parallel_csv_reader.h"
#include "storage/record_cutter.h"

namespace {

// What a row holds: its fixed-width bytes and its texts.
std::string rowImage(const char* fixed, size_t fixedWidth, const char* const* texts, const size_t* bytes,
                     size_t textColumns) {
  std::string image(fixed, fixedWidth);
  for (size_t column = 0; column < textColumns; ++column) image += "|" + std::string(texts[column], bytes[column] - 1);
  return image;
}

}  // namespace

// A row seen ahead is the row the reader reaches that many rows later,
// within a batch and across batch ends (where it is not seen), for texts of
// varying lengths between fixed-width values.
TEST(ParallelCSVReaderTest, RowsSeenAheadAreTheRowsThatFollow) {
  test_support::ScratchDir directory;
  const size_t rows = 2 * RecordCutter::kBatchRecords + 500;
  std::string content = "i,s,d,t\n";
  for (size_t i = 0; i < rows; ++i) {
    content += std::to_string(i) + ",k" + std::string(i % 11, 'x') + "," + std::to_string(i % 7) + ".5,t" +
               std::to_string(i * 3) + "\n";
  }
  const std::string path = directory.write("input.csv", content);
  ParallelCSVReader reader(path, {INT, STRING, DOUBLE, STRING}, ',', {0, 0, 0, 0}, {"i", "s", "d", "t"}, 2);

  const std::vector<size_t> distances = {1, 16, 96, RecordCutter::kBatchRecords};
  std::vector<std::string> seenAhead(rows);
  std::vector<size_t> timesSeen(distances.size(), 0);
  const char* currentTexts[2];
  size_t currentBytes[2];
  for (size_t row = 0; row < rows; ++row) {
    ASSERT_TRUE(reader.nextRow()) << row;
    const NodeIterator& view = reader.getFixedView();
    const size_t fixedWidth = view.config->fixedWidth;
    reader.getTexts(currentTexts, currentBytes);
    const std::string current = rowImage(view.current, fixedWidth, currentTexts, currentBytes, 2);
    if (!seenAhead[row].empty()) {
      ASSERT_EQ(seenAhead[row], current) << row;
    }
    for (size_t d = 0; d < distances.size(); ++d) {
      reader.prefetchRow(distances[d]);
      const char* fixed = nullptr;
      const char* const* texts = nullptr;
      const size_t* bytes = nullptr;
      if (!reader.peekRow(distances[d], fixed, texts, bytes)) continue;
      ASSERT_LT(row + distances[d], rows) << row;
      seenAhead[row + distances[d]] = rowImage(fixed, fixedWidth, texts, bytes, 2);
      ++timesSeen[d];
    }
  }
  EXPECT_FALSE(reader.nextRow());
  // Every row but the last few of each batch is seen from the nearest
  // distances; no batch holds a row a whole batch ahead.
  EXPECT_GT(timesSeen[0], rows - 10);
  EXPECT_GT(timesSeen[1], rows - 60);
  EXPECT_EQ(timesSeen[3], 0u);
}
