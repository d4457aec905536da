// Python checks the messages of bad settings files; these cases check the
// values each file leaves in force.

#include <gtest/gtest.h>

#include <string>

#include "../test_support.h"
#include "catalogue/config.h"

TEST(ConfigFile, ValuesInForceAfterEachFile) {
  struct Case {
    const char* text;
    const char* message;  // "" when the file is accepted
    uint32_t lines;
    uint16_t categories;
  };
  const std::string format = "Expected format 'parameter=value'";
  const Case cases[] = {
      {"category.threshold=300\nlines.threshold=500\nnode.split.threshold=9\n", "", 500, 300},
      // Later lines win; values parse like strtol and are truncated.
      {"lines.threshold=7\r\nlines.threshold= 8\ncategory.threshold=65537\n", "", 8, 1},
      {"lines.threshold=12abc\ncategory.threshold=-1\n", "", 12, 65535},
      // Names match exactly; the line is split at its first "=".
      {"Lines.threshold=5\nlines.threshold =6\nunknown=x\n", "", 10000, 40000},
      {"lines.threshold==5\n", "", 0, 40000},
      // Lines before a malformed one stay in force.
      {"lines.threshold=500\n\ncategory.threshold=3\n", "Invalid .tbconfig file format on line . ", 500, 40000},
      {"category.threshold=\n", "Parameter category.threshold value is empty", 10000, 40000},
  };
  for (const Case& c : cases) {
    test_support::ThresholdGuard guard;
    CONFIG_LINES_THRESHOLD = 10000;
    CONFIG_CATEGORY_THRESHOLD = 40000;
    test_support::ScratchDir directory;
    const std::string path = directory.write(".tbconfig", c.text);
    const std::string message = test_support::messageOf([&] { readConfiguration(path); });
    EXPECT_EQ(message == "no exception" ? "" : message.substr(0, message.find(format)), c.message) << c.text;
    EXPECT_EQ(CONFIG_LINES_THRESHOLD, c.lines) << c.text;
    EXPECT_EQ(CONFIG_CATEGORY_THRESHOLD, c.categories) << c.text;
  }
}

TEST(ConfigFile, LongLinesArriveInPiecesAndAMissingFileChangesNothing) {
  test_support::ThresholdGuard guard;
  test_support::ScratchDir directory;
  // 255 bytes are read at a time; the rest of the line is a line of its own.
  const std::string path = directory.write(".tbconfig", "lines.threshold=42" + std::string(300, ' ') + "\n");
  EXPECT_EQ(test_support::messageOf([&] { readConfiguration(path); }),
            "Invalid .tbconfig file format on line " + std::string(300 - (255 - 18), ' ') +
                ". Expected format 'parameter=value'");
  EXPECT_EQ(CONFIG_LINES_THRESHOLD, 42u);
  CONFIG_LINES_THRESHOLD = 77;
  readConfiguration(directory.path("missing"));
  EXPECT_EQ(CONFIG_LINES_THRESHOLD, 77u);
}
