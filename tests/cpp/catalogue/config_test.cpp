// Python checks the messages of bad settings files; these cases check the
// values each file leaves in force.

#include <gtest/gtest.h>

#include <string>

#include "../test_support.h"
#include "catalogue/config.h"

TEST(ConfigFile, ValuesInForceAfterEachFile) {
  struct Case {
    std::string text;
    bool accepted;
    uint32_t lines;
    uint16_t categories;
  };
  const Case cases[] = {
      {"category.threshold=300\nlines.threshold=500\n", true, 500, 300},
      // Later lines win; blanks around names and values, blank lines and
      // comments are skipped.
      {"lines.threshold=7\r\n\n  # lines.threshold=9\r\n lines.threshold = 8 \ncategory.threshold=\t65535\n", true, 8,
       65535},
      {"lines.threshold=4294967295\ncategory.threshold=0\n", true, 4294967295u, 0},
      {"lines.threshold=" + std::string(300, ' ') + "42\n", true, 42, 40000},
      // A refused file changes nothing, also by the lines before the bad one.
      {"lines.threshold=500\ncategory.threshold=65536\n", false, 10000, 40000},
      {"lines.threshold=500\nlines.threshold=-1\n", false, 10000, 40000},
      {"category.threshold=3\nlines.threshold=12abc\n", false, 10000, 40000},
      {"lines.threshold=500\nnode.split.threshold=9\n", false, 10000, 40000},
      {"lines.threshold=500\nbroken\n", false, 10000, 40000},
      {"lines.threshold==5\n", false, 10000, 40000},
  };
  for (const Case& c : cases) {
    test_support::ThresholdGuard guard;
    CONFIG_LINES_THRESHOLD = 10000;
    CONFIG_CATEGORY_THRESHOLD = 40000;
    test_support::ScratchDir directory;
    const std::string path = directory.write(".tbconfig", c.text);
    const std::string message = test_support::messageOf([&] { readConfiguration(path); });
    EXPECT_EQ(message == "no exception", c.accepted) << c.text << ": " << message;
    EXPECT_EQ(CONFIG_LINES_THRESHOLD, c.lines) << c.text;
    EXPECT_EQ(CONFIG_CATEGORY_THRESHOLD, c.categories) << c.text;
  }
}

TEST(ConfigFile, AMissingFileChangesNothing) {
  test_support::ThresholdGuard guard;
  test_support::ScratchDir directory;
  CONFIG_LINES_THRESHOLD = 77;
  readConfiguration(directory.path("missing"));
  EXPECT_EQ(CONFIG_LINES_THRESHOLD, 77u);
}
