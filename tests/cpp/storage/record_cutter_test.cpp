#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "../test_support.h"
#include "storage/buffer.h"
#include "storage/record_cutter.h"

namespace {

struct Batch {
  std::string text;
  uint64_t linesBefore;
};

std::vector<Batch> cutAll(const std::string& path, char separator) {
  RecordCutter cutter;
  cutter.open(path, separator);
  std::vector<Batch> batches;
  Buffer text;
  size_t bytes = 0;
  uint64_t linesBefore = 0;
  while (cutter.cut(text, bytes, linesBefore)) batches.push_back({std::string(text.start(), bytes), linesBefore});
  return batches;
}

// A record as files write them: plain fields, quoted fields holding
// separators, doubled quotes and line ends, and quotes that open nothing.
std::string randomRecord(std::mt19937& random, char separator) {
  static const std::vector<std::string> kFields = {
      "plain", "", "\"a;b,c\"", "\"say \"\"hi\"\"\"", "\"two\nlines\"", "\"crlf\r\n\"", "x\"y", "\"q\"after",
      "\"\"", "\"\"\"\"", "\"\n\n\n\"", "\r"};
  std::string record;
  for (int field = 0; field < 4; ++field) {
    if (field != 0) record += separator;
    record += kFields[random() % kFields.size()];
  }
  return record + (random() % 3 == 0 ? "\r\n" : "\n");
}

}  // namespace

// The header is skipped with the empty lines before it, also when a quoted
// field takes it over several lines; the records after it come whole with
// the number of lines before them, the last one also without a line feed.
TEST(RecordCutter, SkipsTheHeaderAndCountsItsLines) {
  struct Case {
    std::string file;
    std::string records;  // empty: no batch
    uint64_t linesBefore;
  };
  const std::vector<Case> cases = {
      {"h\n1\n2\n", "1\n2\n", 1},
      {"\r\n\nh\r\n1\n", "1\n", 3},
      {"\"h\n1\",x\n2\n", "2\n", 2},
      {"\"h\"\"\n\"\n\n1", "\n1", 2},
      {"h\n1", "1", 1},
      {"h", "", 0},
      {"", "", 0},
      {"\n\r\n", "", 0},
  };
  test_support::ScratchDir directory;
  for (const Case& c : cases) {
    const std::vector<Batch> batches = cutAll(directory.write("in.csv", c.file), ',');
    if (c.records.empty()) {
      EXPECT_TRUE(batches.empty()) << c.file;
      continue;
    }
    ASSERT_EQ(batches.size(), 1U) << c.file;
    EXPECT_EQ(batches[0].text, c.records) << c.file;
    EXPECT_EQ(batches[0].linesBefore, c.linesBefore) << c.file;
  }
  const std::string open = directory.write("open.csv", "\n\"h\n1\n");
  EXPECT_EQ(test_support::messageOf([&] { cutAll(open, ','); }),
            "Quoted field on line 2 of " + open + " is not closed before the end of the file");
}

// Over a file of many batches, every batch ends where a record ends, the
// batches together are the file after its header, and each knows the
// lines before it; a quoted field left open runs to the end of the file.
TEST(RecordCutter, CutsOnlyWhereRecordsEnd) {
  test_support::ScratchDir directory;
  for (const char separator : {',', ';'}) {
    for (const bool openAtEnd : {false, true}) {
      std::mt19937 random(separator + openAtEnd);
      std::string body;
      std::set<size_t> recordEnds;
      for (int record = 0; record < 20000; ++record) {
        body += randomRecord(random, separator);
        recordEnds.insert(body.size());
      }
      if (openAtEnd) {
        body += std::string("1") + separator + "\"open\n" + std::string(300000, 'x');
        recordEnds.insert(body.size());
      }
      const std::vector<Batch> batches = cutAll(directory.write("in.csv", "a,b\n" + body), separator);
      ASSERT_GT(batches.size(), 3U);
      std::string joined;
      for (const Batch& batch : batches) {
        EXPECT_EQ(batch.linesBefore, 1 + std::count(joined.begin(), joined.end(), '\n'));
        joined += batch.text;
        EXPECT_EQ(recordEnds.count(joined.size()), 1U) << joined.size();
      }
      EXPECT_EQ(joined, body);
    }
  }
}
