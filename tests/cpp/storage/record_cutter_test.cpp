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

// A record of `fields` fields as files write them: one in `quotedEvery`
// (0: none) is a quoted field holding separators, doubled quotes or line
// ends, or a quote that opens nothing; the others are plain.
std::string randomRecord(std::mt19937& random, char separator, int fields, unsigned quotedEvery) {
  static const std::vector<std::string> kQuoted = {"\"a;b,c\"", "\"say \"\"hi\"\"\"", "\"two\nlines\"", "\"crlf\r\n\"",
                                                   "x\"y", "\"q\"after", "\"\"", "\"\"\"\"", "\"\n\n\n\""};
  static const std::vector<std::string> kPlain = {"plain", "", "\r", "12.5"};
  std::string record;
  for (int field = 0; field < fields; ++field) {
    if (field != 0) record += separator;
    const bool quoted = quotedEvery != 0 && random() % quotedEvery == 0;
    record += quoted ? kQuoted[random() % kQuoted.size()] : kPlain[random() % kPlain.size()];
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
// The records are mostly quoted, mostly plain (quotes now and then among
// runs of plain records), or all plain and so short that batches end at
// their record count; and a quoted field holding a line feed, and longer
// than a read, starts right after a separator at the end of the first read.
TEST(RecordCutter, CutsOnlyWhereRecordsEnd) {
  struct Shape {
    int fields;
    unsigned quotedEvery;
  };
  test_support::ScratchDir directory;
  const auto expectCuts = [&](const std::string& body, const std::set<size_t>& recordEnds, char separator) {
    const std::vector<Batch> batches = cutAll(directory.write("in.csv", "a,b\n" + body), separator);
    ASSERT_GE(batches.size(), 2U);
    std::string joined;
    for (const Batch& batch : batches) {
      EXPECT_EQ(batch.linesBefore, 1 + std::count(joined.begin(), joined.end(), '\n'));
      joined += batch.text;
      EXPECT_EQ(recordEnds.count(joined.size()), 1U) << joined.size();
    }
    EXPECT_EQ(joined, body);
  };
  for (const Shape shape : {Shape{4, 1}, Shape{4, 150}, Shape{1, 0}}) {
    for (const char separator : {',', ';'}) {
      for (const bool openAtEnd : {false, true}) {
        std::mt19937 random(separator + openAtEnd + shape.quotedEvery);
        std::string body;
        std::set<size_t> recordEnds;
        for (int record = 0; record < 40000; ++record) {
          body += randomRecord(random, separator, shape.fields, shape.quotedEvery);
          recordEnds.insert(body.size());
        }
        if (openAtEnd) {
          body += std::string("1") + separator + "\"open\n" + std::string(300000, 'x');
          recordEnds.insert(body.size());
        }
        expectCuts(body, recordEnds, separator);
      }
    }
  }
  std::string body;
  std::set<size_t> recordEnds;
  // The header's 4 bytes, the records and "1," fill the first read.
  while (body.size() + 4 + 16 < RecordCutter::kBatchBytes) {
    body += "1,2\n";
    recordEnds.insert(body.size());
  }
  body += std::string(RecordCutter::kBatchBytes - 4 - 2 - 1 - body.size(), '3') + "\n";
  recordEnds.insert(body.size());
  body += "1,\"two\n" + std::string(200000, 'x') + "\"\n4,5\n";
  recordEnds.insert(body.size() - 4);
  recordEnds.insert(body.size());
  expectCuts(body, recordEnds, ',');
}
