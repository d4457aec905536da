#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "catalogue/config.h"
#include "errors/database_exception.h"

namespace {

// Writes a configuration file and restores the settings afterwards, since
// they are process-wide.
class ConfigFile : public ::testing::Test {
 protected:
  void SetUp() override {
    savedCategory_ = CONFIG_CATEGORY_THRESHOLD;
    savedLines_ = CONFIG_LINES_THRESHOLD;
    path_ = (std::filesystem::temp_directory_path() /
             ("tabulon_config_" + std::to_string(::getpid()) + ".txt")).string();
  }
  void TearDown() override {
    CONFIG_CATEGORY_THRESHOLD = savedCategory_;
    CONFIG_LINES_THRESHOLD = savedLines_;
    std::remove(path_.c_str());
  }

  // Reads `text` as a configuration file; returns the error message or "".
  std::string read(const std::string& text) {
    std::ofstream(path_, std::ios::binary) << text;
    try {
      readConfiguration(path_);
    } catch (const DatabaseException& e) {
      return e.what();
    }
    return "";
  }

  std::string path_;

 private:
  uint16_t savedCategory_ = 0;
  uint32_t savedLines_ = 0;
};

}  // namespace

TEST_F(ConfigFile, SetsBothThresholds) {
  EXPECT_EQ(read("category.threshold=300\nlines.threshold=500\nnode.split.threshold=9\n"), "");
  EXPECT_EQ(CONFIG_CATEGORY_THRESHOLD, 300);
  EXPECT_EQ(CONFIG_LINES_THRESHOLD, 500u);
  EXPECT_EQ(read("lines.threshold=7\r\nlines.threshold= 8"), "");  // later lines win
  EXPECT_EQ(CONFIG_LINES_THRESHOLD, 8u);
}

TEST_F(ConfigFile, ValuesParseLikeStrtolAndAreTruncated) {
  EXPECT_EQ(read("category.threshold=65537\nlines.threshold=12abc\n"), "");
  EXPECT_EQ(CONFIG_CATEGORY_THRESHOLD, 1);
  EXPECT_EQ(CONFIG_LINES_THRESHOLD, 12u);
  EXPECT_EQ(read("lines.threshold=abc\ncategory.threshold=-1\n"), "");
  EXPECT_EQ(CONFIG_LINES_THRESHOLD, 0u);
  EXPECT_EQ(CONFIG_CATEGORY_THRESHOLD, 65535);
}

TEST_F(ConfigFile, NamesMatchExactly) {
  CONFIG_LINES_THRESHOLD = 10000;
  EXPECT_EQ(read("Lines.threshold=5\nlines.threshold =6\nunknown=x\n"), "");
  EXPECT_EQ(CONFIG_LINES_THRESHOLD, 10000u);
  // The line is split at its first "=": the value is "=5", parsed as 0.
  EXPECT_EQ(read("lines.threshold==5\n"), "");
  EXPECT_EQ(CONFIG_LINES_THRESHOLD, 0u);
}

TEST_F(ConfigFile, MalformedLines) {
  EXPECT_EQ(read("lines.threshold=500\n\ncategory.threshold=3\n"),
            "Invalid .tbconfig file format on line . Expected format 'parameter=value'");
  EXPECT_EQ(CONFIG_LINES_THRESHOLD, 500u);  // lines before the failure stay in force
  EXPECT_NE(CONFIG_CATEGORY_THRESHOLD, 3);
  EXPECT_EQ(read("# comment\n"),
            "Invalid .tbconfig file format on line # comment. Expected format 'parameter=value'");
  EXPECT_EQ(read("category.threshold=\n"), "Parameter category.threshold value is empty");
  EXPECT_EQ(read("whatever=\n"), "Parameter whatever value is empty");
}

TEST_F(ConfigFile, LongLinesArriveInPieces) {
  // 255 bytes are read at a time; the rest of the line is a line of its own.
  const std::string longValue = "lines.threshold=42" + std::string(300, ' ');
  EXPECT_EQ(read(longValue + "\n"), "Invalid .tbconfig file format on line " +
                                         std::string(300 - (255 - 18), ' ') +
                                         ". Expected format 'parameter=value'");
  EXPECT_EQ(CONFIG_LINES_THRESHOLD, 42u);
}

TEST_F(ConfigFile, MissingFileChangesNothing) {
  CONFIG_LINES_THRESHOLD = 77;
  std::remove(path_.c_str());
  readConfiguration(path_);
  EXPECT_EQ(CONFIG_LINES_THRESHOLD, 77u);
}
